// The media catalogue on a tree of files dated with touch -d, in UTC, with
// the clock of the date filters and the tick count of the change watch set
// by the test: which files are listed, in which order, under every date mode
// and kind, the counts and the calendar queries; the checksum watch that
// rebuilds after the settle time; and a link loop that ends.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/system_time.h"
#include "platform/os/thread.h"
#include "screens/browsers/media_catalogue.h"
#include "tests/screens/dated_files.h"
#include "tests/support/test_paths.h"

namespace {

using screens::MediaCatalogue;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

using ovtest::TouchDated;
using ovtest::Utc;

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ovtest::ScratchDir() + "/root";
    // Now is 5 March 2026, noon.
    dated_ = std::make_unique<ovtest::DatedDocuments>(root_, Utc(2026, 3, 5, 12));
  }
  void TearDown() override { dated_.reset(); }
  static std::vector<std::string> Names(MediaCatalogue& c) { return ovtest::VisibleNames(c); }
  void MakeTree() {
    TouchDated(root_, "a.3gpp", "2026-03-05 09:00:00");
    TouchDated(root_, "video/b.3G2", "2026-03-04 23:00:00");
    TouchDated(root_, "video/c.MP4", "2026-02-20 10:00:00");
    TouchDated(root_, "music/song.mp3", "2026-03-01 08:00:00");
    TouchDated(root_, "x.mp3", "2026-03-05 11:00:00");
    TouchDated(root_, "music/future.wav", "2026-03-06 10:00:00");
    TouchDated(root_, "pics/pic.jpg", "2025-12-31 23:59:59");
    TouchDated(root_, "mixes/proj.mix", "2026-02-27 10:00:00");
    // Never listed: unknown extensions, a name of four characters, and the
    // folders the walk does not enter.
    for (const char* name : {"d.png", "e.jpeg", "f.mid", ".mp3", "Bluetooth/bt.mp3", "UAContents/ua.mp3",
                             "UAContents/deeper/ua2.mp3"}) {
      TouchDated(root_, name, "2026-03-05 10:00:00");
    }
  }

  std::string root_;
  std::unique_ptr<ovtest::DatedDocuments> dated_;
};

TEST_F(CatalogueTest, DateModesAndKindsListTheirFilesInOrderWithCounts) {
  MakeTree();
  struct Case {
    int32_t sort_by_name, kind, date;
    std::vector<std::string> names;
    int32_t counts[4];  // audio, image, video, project under the date mode
  } cases[] = {
      {1, 0, screens::kDateAll,
       {"a.3gpp", "b.3G2", "c.MP4", "future.wav", "pic.jpg", "proj.mix", "song.mp3", "x.mp3"},
       {3, 1, 3, 1}},
      // By date the oldest comes first.
      {0, 0, screens::kDateAll,
       {"pic.jpg", "c.MP4", "proj.mix", "song.mp3", "b.3G2", "a.3gpp", "x.mp3", "future.wav"},
       {3, 1, 3, 1}},
      {1, 0, screens::kDateToday, {"a.3gpp", "x.mp3"}, {1, 0, 1, 0}},
      {1, 0, screens::kDateYesterday, {"b.3G2"}, {0, 0, 1, 0}},
      // The future file is outside the last 7 days.
      {1, 0, screens::kDateLast7Days, {"a.3gpp", "b.3G2", "proj.mix", "song.mp3", "x.mp3"}, {2, 0, 2, 1}},
      {1, 0, screens::kDateThisMonth, {"a.3gpp", "b.3G2", "future.wav", "song.mp3", "x.mp3"}, {3, 0, 2, 0}},
      {1, 0, screens::kDateLastMonth, {"c.MP4", "proj.mix"}, {0, 0, 1, 1}},
      {1, screens::kKindAudio, screens::kDateAll, {"future.wav", "song.mp3", "x.mp3"}, {3, 1, 3, 1}},
      {0, screens::kKindVideo, screens::kDateAll, {"c.MP4", "b.3G2", "a.3gpp"}, {3, 1, 3, 1}},
      {1, screens::kKindVideo, screens::kDateToday, {"a.3gpp"}, {1, 0, 1, 0}},
      {1, screens::kKindProject, screens::kDateLast7Days, {"proj.mix"}, {2, 0, 2, 1}},
      {1, screens::kKindImage, screens::kDateLast7Days, {}, {2, 0, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "sort " << c.sort_by_name << " kind " << c.kind << " date " << c.date);
    MediaCatalogue catalogue;
    catalogue.LookUpSpecialFolders();
    catalogue.set_sort_by_name(c.sort_by_name);
    catalogue.set_kind_filter(c.kind);
    catalogue.SetDateMode(c.date);
    catalogue.Rebuild();
    EXPECT_EQ(Names(catalogue), c.names);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(catalogue.count(k), c.counts[k - 1]) << "kind " << k;
    EXPECT_EQ(catalogue.CountByKind(0), c.counts[0] + c.counts[1] + c.counts[2] + c.counts[3]);
    if (c.names.empty()) {
      EXPECT_EQ(catalogue.selected, catalogue.None());
    } else {
      ASSERT_NE(catalogue.selected, catalogue.None());
      EXPECT_EQ(catalogue.selected->name.ToUtf8Lossy(), c.names.front());
      EXPECT_EQ(catalogue.top, catalogue.selected);
    }
  }
  // The types of the three videos.
  MediaCatalogue catalogue;
  catalogue.Rebuild();
  for (auto [name, type] : {std::pair{u"a.3gpp", u"3GP"}, {u"b.3G2", u"3GP"}, {u"c.MP4", u"MPEG-4"}}) {
    MediaCatalogue::Position p = catalogue.FindByName(nullptr, name);
    ASSERT_NE(p, catalogue.None());
    EXPECT_EQ(p->kind, screens::kKindVideo);
    EXPECT_EQ(std::u16string(screens::FileTypeName(p->fileType)), type);
  }
}

// The folders never entered match exactly, case included; the watch takes
// the documents folder and every storage card, however many there are.
TEST_F(CatalogueTest, SkippedFoldersMatchExactlyAndEveryCardIsWatched) {
  // The temporary folder is on the largest card, the last of equals: card11.
  for (const char* name : {"UAContents/a.mp3", "uacontents/b.mp3", "Bluetooth/c.mp3", "BlueTooth/d.mp3",
                           "card11/Quelvarin/e.mp3", "card11/Quelvarin2/f.mp3"}) {
    TouchDated(root_, name, "2026-03-01 10:00:00");
  }
  std::string cards;
  for (int i = 0; i < 12; ++i) {
    const std::string card = root_ + "/card" + std::to_string(i);
    ASSERT_EQ(std::system(("mkdir -p '" + card + "'").c_str()), 0);
    cards += (i ? ":" : "") + card;
  }
  setenv("OVMIX_CARDS", cards.c_str(), 1);
  MediaCatalogue catalogue;
  catalogue.LookUpSpecialFolders();
  catalogue.Rebuild();
  catalogue.WatchFolders();
  setenv("OVMIX_CARDS", "", 1);
  EXPECT_EQ(Names(catalogue), (std::vector<std::string>{"b.mp3", "d.mp3", "f.mp3"}));
  EXPECT_EQ(catalogue.watch_count(), 13u);
}

// ovtool catalog prints what the browser lists under the filters given, the
// counts and the checksum.
TEST_F(CatalogueTest, OvtoolCatalogPrintsTheListCountsAndChecksum) {
  MakeTree();
  const std::string command = std::string(OVMIX_BIN_DIR) + "ovtool catalog '" + root_ + "' --sort date --kind 1 " +
                              "--date 6 " + std::to_string(Utc(2026, 3, 1)) + " " +
                              std::to_string(Utc(2026, 3, 6, 10)) + " --now " + std::to_string(Utc(2026, 3, 5, 12));
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
  ASSERT_EQ(::pclose(pipe), 0) << out;
  MediaCatalogue catalogue;
  catalogue.LookUpSpecialFolders();
  catalogue.Rebuild();
  char checksum[32];
  std::snprintf(checksum, sizeof(checksum), "checksum %08x\n", catalogue.checksum());
  // The range's end, 6 March 10:00, is the future file's time: included.
  EXPECT_EQ(out, "2026-03-01 08:00:00 1 MPEG Layer3 " + root_ + "/music/song.mp3\n" +
                     "2026-03-05 11:00:00 1 MPEG Layer3 " + root_ + "/x.mp3\n" +
                     "2026-03-06 10:00:00 1 MS-WAV " + root_ + "/music/future.wav\n" +
                     "counts audio 3 image 0 video 2 project 0\n" + checksum);
}

TEST_F(CatalogueTest, LastMonthAcrossTheYearAndRangesForTheCalendar) {
  TouchDated(root_, "dec.mp3", "2025-12-10 10:00:00");
  TouchDated(root_, "jan.mp3", "2026-01-03 00:00:00");
  TouchDated(root_, "edge.mp3", "2026-01-04 23:59:59");
  MediaCatalogue catalogue;
  ov::SetLocalTimeForTesting(Utc(2026, 1, 5, 12));
  catalogue.SetDateMode(screens::kDateLastMonth);
  catalogue.Rebuild();
  EXPECT_EQ(Names(catalogue), std::vector<std::string>{"dec.mp3"});
  // A range is [start, end], end included: the calendar gives its last second.
  const int64_t start = Utc(2026, 1, 3), end = Utc(2026, 1, 4, 23, 59, 59);
  catalogue.SetDateMode(screens::kDateRange, start, end);
  catalogue.Recount();
  EXPECT_EQ(Names(catalogue), (std::vector<std::string>{"edge.mp3", "jan.mp3"}));
  EXPECT_EQ(catalogue.count(screens::kKindAudio), 2);
  catalogue.SetDateMode(screens::kDateRange, start + 1, end - 1);
  EXPECT_TRUE(Names(catalogue).empty());
  // The calendar's day marks: a file at start + span counts.
  EXPECT_TRUE(catalogue.HasMediaInRange(Utc(2026, 1, 4), 86399));
  EXPECT_TRUE(catalogue.HasMediaInRange(Utc(2026, 1, 4, 23, 59, 59) - 10, 10));
  EXPECT_FALSE(catalogue.HasMediaInRange(Utc(2026, 1, 5), 86399));
  EXPECT_TRUE(catalogue.HasMediaInMonth(Utc(2025, 12, 1)));
  EXPECT_FALSE(catalogue.HasMediaInMonth(Utc(2025, 11, 1)));
  EXPECT_FALSE(catalogue.HasMediaInMonth(Utc(2026, 2, 1)));
}

TEST_F(CatalogueTest, EqualKeysKeepTheirArrivalAndHiddenRecordsStayBehind) {
  MediaCatalogue catalogue;
  catalogue.set_sort_by_name(0);
  const ov::FileTime t = (uint64_t(Utc(2026, 3, 1)) + 11644473600ULL) * 10000000ULL;
  for (const char16_t* name : {u"one.mp3", u"two.jpg", u"three.mp3"}) catalogue.AddFile(name, U(root_ + "/"), t, false);
  std::vector<std::string> order;
  for (const screens::MediaFileRecord& r : catalogue.records()) order.push_back(r.name.ToUtf8Lossy());
  EXPECT_EQ(order, (std::vector<std::string>{"one.mp3", "two.jpg", "three.mp3"}));
  // A file added after a scan, under filters changed since, still finds its
  // place among the visible records, the audio ones, by name; the hidden
  // picture goes in front of the first greater of them (m.mp3) and b.mp3
  // later lands directly in front of that same place, behind the picture.
  catalogue.set_sort_by_name(1);
  catalogue.Rebuild();
  catalogue.set_kind_filter(screens::kKindAudio);
  TouchDated(root_, "m.mp3", "2026-03-01 10:00:00");
  TouchDated(root_, "z.mp3", "2026-03-01 10:00:00");
  catalogue.Rebuild();
  for (const char16_t* name : {u"a.jpg", u"n.mp3", u"b.mp3"}) catalogue.AddFile(name, U(root_ + "/"), t, false);
  order.clear();
  for (const screens::MediaFileRecord& r : catalogue.records()) order.push_back(r.name.ToUtf8Lossy());
  EXPECT_EQ(order, (std::vector<std::string>{"a.jpg", "b.mp3", "m.mp3", "n.mp3", "z.mp3"}));
}

TEST_F(CatalogueTest, TheTempoSideFileIsBesideTheClipWhateverTheFolderIsCalled) {
  TouchDated(root_, "My.Files/song.mp3", "2026-03-01 10:00:00");
  TouchDated(root_, "My.bin", "2026-03-01 10:00:00");
  EXPECT_EQ(screens::HasTempoSideFile(U(root_ + "/My.Files/song.mp3")), 0);
  TouchDated(root_, "My.Files/song.bin", "2026-03-01 10:00:00");
  EXPECT_EQ(screens::HasTempoSideFile(U(root_ + "/My.Files/song.mp3")), 1);
  EXPECT_EQ(screens::HasTempoSideFile(U(root_ + "/My.Files/other.mp3")), 0);
}

TEST_F(CatalogueTest, ALinkLoopEndsAndItsFilesAreListedOnce) {
  TouchDated(root_, "clips/loop.mp3", "2026-03-01 10:00:00");
  ASSERT_EQ(::symlink(root_.c_str(), (root_ + "/clips/back").c_str()), 0);
  ASSERT_EQ(::symlink((root_ + "/clips").c_str(), (root_ + "/clips/self").c_str()), 0);
  MediaCatalogue catalogue;
  catalogue.Rebuild();
  EXPECT_EQ(Names(catalogue), std::vector<std::string>{"loop.mp3"});
}

// Each change rebuilds just after the settle time counted from its last
// notice, and not at it.
TEST_F(CatalogueTest, ChangesRebuildJustAfterTheSettleTime) {
  TouchDated(root_, "photos/IMG_0123.jpg", "2026-03-01 10:00:00");
  TouchDated(root_, "photos/IMG_0200.jpg", "2026-03-01 10:00:00");
  const std::string photos = root_ + "/photos/";
  struct Change {
    const char* what;
    std::string command;
    std::vector<std::string> names;
  } changes[] = {
      // Two letters swapped: a checksum that ignored their order missed this.
      {"rename", "mv '" + photos + "IMG_0123.jpg' '" + photos + "IMG_0132.jpg'", {"IMG_0132.jpg", "IMG_0200.jpg"}},
      {"touch", "touch -d '2026-03-02 10:00:00' '" + photos + "IMG_0200.jpg'", {"IMG_0132.jpg", "IMG_0200.jpg"}},
      {"add", "touch -d '2026-03-03 10:00:00' '" + photos + "IMG_0300.jpg'",
       {"IMG_0132.jpg", "IMG_0200.jpg", "IMG_0300.jpg"}},
      {"remove", "rm '" + photos + "IMG_0200.jpg'", {"IMG_0132.jpg", "IMG_0300.jpg"}},
  };
  MediaCatalogue catalogue;
  catalogue.Rebuild();
  catalogue.WatchFolders();
  ASSERT_GE(catalogue.watch_count(), 1u);
  uint32_t ticks = 0xFFFFFF00u;  // across the wrap of the tick count
  bool settled = false;
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    ov::SetTickCountForTesting(ticks);
    EXPECT_FALSE(catalogue.PollWatch(ov::GetTickCount(), &settled));
    EXPECT_FALSE(settled);
    ASSERT_EQ(std::system(c.command.c_str()), 0);
    ov::SetTickCountForTesting(ticks + 10);
    const uint32_t noticed = ov::GetTickCount();
    EXPECT_FALSE(catalogue.PollWatch(noticed, &settled));
    EXPECT_FALSE(settled);
    EXPECT_FALSE(catalogue.PollWatch(noticed + screens::kChangeSettleMs, &settled));
    EXPECT_FALSE(settled);
    EXPECT_TRUE(catalogue.PollWatch(noticed + screens::kChangeSettleMs + 1, &settled));
    EXPECT_TRUE(settled);
    catalogue.Rebuild();
    EXPECT_EQ(Names(catalogue), c.names);
    ticks += 5000;
  }
  // A change that leaves the listed files as they were settles without a rebuild.
  ASSERT_EQ(std::system(("touch '" + root_ + "/notes.txt'").c_str()), 0);
  ov::SetTickCountForTesting(ticks);
  EXPECT_FALSE(catalogue.PollWatch(ov::GetTickCount(), &settled));
  EXPECT_FALSE(catalogue.PollWatch(ov::GetTickCount() + screens::kChangeSettleMs + 1, &settled));
  EXPECT_TRUE(settled);
}

}  // namespace

// A video's thumbnail is its first frame the right way up: the decoder's
// rows come bottom-up, the thumbnail's top row is the picture's top.
TEST(CatalogueThumbnail, AVideoFrameIsTheRightWayUp) {
  const std::string clip = ovtest::FixturePath("screens_red_over_blue.mp4");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  screens::MediaFileRecord record;
  const size_t slash = clip.rfind('/');
  record.folder = U(clip.substr(0, slash + 1));
  record.name = U(clip.substr(slash + 1));
  record.kind = screens::kKindVideo;
  ASSERT_TRUE(screens::BuildThumbnail(&record, screens::ThumbnailSpec{}));
  EXPECT_EQ(record.broken, 0);
  ASSERT_TRUE(record.thumbnail);
  const int32_t w = record.thumbnail->width(), h = record.thumbnail->height();
  ASSERT_EQ(w, 64);
  ASSERT_EQ(h, 48);
  // RGB 565: red in the top five bits, blue in the bottom five.
  const auto red = [](uint16_t p) { return p >> 11; };
  const auto blue = [](uint16_t p) { return p & 31; };
  int32_t red_on_top = 0, blue_below = 0;
  for (int32_t x = 0; x < w; ++x) {
    const uint16_t top = record.thumbnail->row(0)[x], bottom = record.thumbnail->row(h - 1)[x];
    red_on_top += red(top) > 24 && blue(top) < 8;
    blue_below += blue(bottom) > 24 && red(bottom) < 8;
  }
  EXPECT_EQ(red_on_top, w);
  EXPECT_EQ(blue_below, w);
}
