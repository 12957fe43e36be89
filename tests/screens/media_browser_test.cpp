// The media browser screen of the default skin, headless, over a documents
// folder dated with touch -d (UTC, the clock of the date filters set by the
// test): "Open mix" listing the projects and loading the one dropped on a
// channel cell, the filters and their indicators, scrolling, the audio
// preview popup and the sound it plays, a drag onto a channel cell, a broken record that cannot be
// pressed, the calendar's marks and range, and a folder picked in
// "set_location" becoming the root; a damaged project reported by the
// mixer's load.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/file.h"
#include "platform/os/system_time.h"
#include "screens/browsers/media_browser.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/dated_files.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/calendar.h"
#include "ui/folder_browser.h"
#include "ui/menu.h"

namespace {

using screens::ChannelSelection;
using screens::MediaBrowser;
using screens::MediaCatalogue;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

using ovtest::DateFile;
using ovtest::Utc;

// A 32 x 24 BMP of one colour (24-bit, bottom-up).
void WriteBmp(const std::string& path, uint8_t r, uint8_t g, uint8_t b) {
  const int w = 32, h = 24, row = w * 3;
  std::vector<uint8_t> f(54 + row * h, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  f[26] = 1;
  f[28] = 24;
  put32(34, static_cast<uint32_t>(row * h));
  for (int i = 0; i < w * h; ++i) {
    f[54 + i * 3] = b;
    f[54 + i * 3 + 1] = g;
    f[54 + i * 3 + 2] = r;
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

class BrowserScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    docs_ = dir_ + "/docs";
    dated_ = std::make_unique<ovtest::DatedDocuments>(docs_, Utc(2026, 3, 5, 12));
    for (const char* f : {"Pictures", "Movies", "Music", "Mixes"}) {
      ASSERT_EQ(std::system(("mkdir -p '" + docs_ + "/" + f + "'").c_str()), 0);
    }
    WriteBmp(docs_ + "/Pictures/beach.bmp", 255, 0, 0);
    DateFile(docs_ + "/Pictures/beach.bmp", "2026-03-05 10:00:00");
    std::ofstream(docs_ + "/Pictures/broken.jpg") << "not a picture";
    DateFile(docs_ + "/Pictures/broken.jpg", "2026-03-01 10:00:00");
    std::ofstream(docs_ + "/Movies/bad.mp4") << "not a movie";
    DateFile(docs_ + "/Movies/bad.mp4", "2026-02-20 10:00:00");
    for (auto [name, date] : {std::pair{"song.wav", "2026-03-04 10:00:00"}, {"tune.wav", "2026-03-03 10:00:00"},
                              {"extra1.wav", "2026-02-01 10:00:00"}, {"extra2.wav", "2026-03-04 23:59:59"}}) {
      ovtest::WriteLongWav(docs_ + "/Music/" + name, 1);
      DateFile(docs_ + "/Music/" + name, date);
    }
    // Two projects; their clips lie outside the documents folder.
    ChannelSelection ch[8];
    ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::TouchFile(dir_, "one.jpg")), ov::String(),
                  ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    ch[2].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::TouchFile(dir_, "voice.wav")),
                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0,
                  0, nullptr);
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    ASSERT_TRUE(ovtest::WriteProjectFile(docs_ + "/Mixes/party.mix", ch));
    DateFile(docs_ + "/Mixes/party.mix", "2026-02-10 10:00:00");
    ChannelSelection empty[8];
    empty[6].AddEmptyTextClip();
    empty[7].AddEmptyTextClip();
    ASSERT_TRUE(ovtest::WriteProjectFile(docs_ + "/Mixes/holiday.mix", empty));
    DateFile(docs_ + "/Mixes/holiday.mix", "2026-03-02 10:00:00");
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
  }
  void TearDown() override {
    driver_.reset();
    dated_.reset();
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  ui::Element* Find(const char16_t* name) { return d().sm().FindElementByName(d().sm().menu_container(), name, true); }
  MediaBrowser* Browser() {
    return dynamic_cast<MediaBrowser*>(d().sm().menu_container()->FindByType(ui::kTypeMediaBrowser, true));
  }
  ChannelSelection* Channel(const char16_t* name) { return dynamic_cast<ChannelSelection*>(Find(name)); }
  std::vector<std::string> Names() { return ovtest::VisibleNames(Browser()->catalogue()); }
  std::string Name(MediaCatalogue::Position p) {
    return p == Browser()->catalogue().None() ? std::string("(none)") : p->name.ToUtf8Lossy();
  }
  // The row of the visible record named name, counted from the top.
  int RowOf(const char16_t* name) {
    MediaCatalogue& c = Browser()->catalogue();
    MediaCatalogue::Position found = c.FindByName(nullptr, name);
    EXPECT_NE(found, c.None()) << ov::String(name).ToUtf8Lossy();
    return c.IndexOfVisible(found) - c.IndexOfVisible(c.top);
  }
  // The middle of the list's row `row`.
  std::pair<int32_t, int32_t> Row(int row) {
    MediaBrowser* b = Browser();
    return {b->x() + 20, b->y() + row * b->row_pitch() + b->row_pitch() / 2};
  }
  std::pair<int32_t, int32_t> Middle(const char16_t* name) {
    ui::Element* e = Find(name);
    return {e->x() + e->GetXSize() / 2, e->y() + e->GetYSize() / 2};
  }
  void OpenBrowser() {
    d().sm().DoAction(ui::kActionJumpTo, u"media_browser", 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), u"media_browser");
  }

  std::string dir_, docs_;
  std::unique_ptr<ovtest::DatedDocuments> dated_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(BrowserScreen, OpenMixListsTheProjectsAndTheOneDroppedOnAChannelLoads) {
  ASSERT_TRUE(d().ok());
  std::ofstream(docs_ + "/Mixes/damaged.mix") << "not a mix";
  DateFile(docs_ + "/Mixes/damaged.mix", "2026-01-01 10:00:00");
  ASSERT_TRUE(d().TapElement(u"main_1"));
  ASSERT_EQ(d().Menu(), u"media_browser");
  // A fresh options file sorts by date, oldest first.
  EXPECT_EQ(Names(), (std::vector<std::string>{"damaged.mix", "party.mix", "holiday.mix"}));
  EXPECT_TRUE(Find(u"filter_project")->IsVisible());
  EXPECT_FALSE(Find(u"filter_audio")->IsVisible());
  EXPECT_EQ(Browser()->GetSelectedKind(), screens::kKindProject);
  // A damaged one says so through the mixer's load.
  const auto damaged = Row(RowOf(u"damaged.mix"));
  d().Drag(damaged, {{damaged.first + 5, damaged.second + 30}, Middle(u"drop_sel1")});
  ASSERT_EQ(d().boxes().size(), 1u);
  EXPECT_NE(d().boxes()[0].text.find(u"damaged.mix"), std::u16string::npos);
  EXPECT_NE(d().boxes()[0].text.find(u"cannot be read"), std::u16string::npos);
  // Choosing: the project's row dropped on a channel cell loads it.
  const auto party = Row(RowOf(u"party.mix"));
  d().Drag(party, {{party.first + 5, party.second + 30}, Middle(u"drop_sel0")});
  ChannelSelection* first = Channel(u"channel_sel0");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetKind(), screens::kKindImage);
  EXPECT_EQ(first->GetClipFile(0).ToUtf8Lossy(), dir_ + "/one.jpg");
  EXPECT_EQ(Channel(u"channel_sel2")->GetKind(), screens::kKindAudio);
  EXPECT_EQ(Channel(u"drop_sel0")->GetKind(), screens::kKindEmpty);
  // The mixer shows them.
  Browser()->OnAction(ui::kActionJumpToMix, ov::String(), 0);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  if (auto* m = dynamic_cast<screens::Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true))) {
    m->JoinDecompression();
    d().Settle();
    m->OnAction(ui::kActionDecompressFailureOk, ov::String(), 0);
    d().Settle();
  }
  EXPECT_EQ(std::u16string(Find(u"name0")->text().View()), u"one");
  EXPECT_EQ(std::u16string(Find(u"name2")->text().View()), u"voice");
  EXPECT_TRUE(Find(u"pic0")->IsVisible());
  EXPECT_TRUE(Find(u"aud2")->IsVisible());
}

TEST_F(BrowserScreen, FiltersScrollingPreviewAndDrops) {
  ASSERT_TRUE(d().ok());
  OpenBrowser();
  MediaBrowser* b = Browser();
  b->OnAction(ui::kActionBrowserSortName, ov::String(), 0);
  d().Settle();
  EXPECT_EQ(*d().sm().NumericOption(0), 1u);
  d().SavePng(dir_ + "/media_browser.png");  // for review
  const std::vector<std::string> all{"bad.mp4",   "beach.bmp", "broken.jpg", "extra1.wav", "extra2.wav",
                                     "holiday.mix", "party.mix", "song.wav",   "tune.wav"};
  EXPECT_EQ(Names(), all);
  // Every thumbnail has been built, one per paint; the two that cannot be
  // read are broken, the picture is fitted to the box in its own colour.
  EXPECT_TRUE(b->complete_draw());
  MediaCatalogue& c = b->catalogue();
  for (const screens::MediaFileRecord& r : c.records()) {
    const bool broken = r.name == ov::String(u"bad.mp4") || r.name == ov::String(u"broken.jpg");
    EXPECT_EQ(r.broken != 0, broken) << r.name.ToUtf8Lossy();
  }
  const screens::MediaFileRecord& beach = *c.FindByName(nullptr, u"beach.bmp");
  ASSERT_TRUE(beach.thumbnail);
  EXPECT_EQ(beach.thumbnail->width(), 48);
  EXPECT_EQ(beach.thumbnail->height(), 36);
  for (int32_t y = 0; y < 36; ++y) {
    for (int32_t x = 0; x < 48; ++x) ASSERT_EQ(beach.thumbnail->row(y)[x], 0xF800) << x << "," << y;
  }
  // Kind and date filters, each undone by its second tap; their indicators.
  struct Step {
    const char16_t* tap;
    std::vector<std::string> names;
    const char16_t* indicator;  // shown; null: none of the kind indicators
  } steps[] = {
      {u"show_audio", {"extra1.wav", "extra2.wav", "song.wav", "tune.wav"}, u"filter_audio"},
      {u"show_audio", all, u"filter_showall"},
      {u"show_today", {"beach.bmp"}, u"filter_today"},
      {u"show_today", all, u"filter_showall"},
      {u"show_7days", {"beach.bmp", "broken.jpg", "extra2.wav", "holiday.mix", "song.wav", "tune.wav"},
       u"filter_last7days"},
      {u"show_videos", {}, u"filter_video"},
      {u"show_any_date", {"bad.mp4"}, u"filter_showall"},
      {u"show_all_kinds", all, u"filter_showall"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(ov::String(s.tap).ToUtf8Lossy());
    ASSERT_TRUE(d().TapElement(s.tap));
    EXPECT_EQ(Names(), s.names);
    EXPECT_TRUE(Find(s.indicator)->IsVisible());
    EXPECT_EQ(Name(c.selected), s.names.empty() ? "(none)" : s.names.front());
  }
  EXPECT_FALSE(Find(u"filter_audio")->IsVisible());
  // Scrolling: four rows fit; stepping past the last drawn row moves the list.
  const int32_t rows = b->GetYSize() / b->row_pitch();
  ASSERT_EQ(rows, 4);
  EXPECT_EQ(Name(c.bottom), "extra1.wav");
  for (int i = 0; i < rows; ++i) {
    b->OnAction(ui::kActionBrowserNext, ov::String(), 0);
    d().Settle();
  }
  EXPECT_EQ(Name(c.selected), "extra2.wav");
  EXPECT_EQ(Name(c.top), "beach.bmp");
  EXPECT_EQ(Name(c.bottom), "extra2.wav");
  EXPECT_EQ(b->step_counter(), 1);
  for (int i = 0; i < rows; ++i) EXPECT_TRUE(b->SelectPrevious());
  EXPECT_EQ(Name(c.selected), "bad.mp4");
  EXPECT_EQ(Name(c.top), "bad.mp4");
  EXPECT_FALSE(b->SelectPrevious());
  d().Settle();
  // Preview: a picture does nothing; a sound file opens the popup and plays.
  ui::Element* popup = Find(u"AUDIO_PREVIEW");
  d().Tap(Row(1).first, Row(1).second);
  EXPECT_EQ(Name(c.selected), "beach.bmp");
  b->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  EXPECT_FALSE(popup->IsVisible());
  ASSERT_TRUE(d().TapElement(u"show_audio"));
  d().Tap(Row(2).first, Row(2).second);
  EXPECT_EQ(Name(c.selected), "song.wav");
  b->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  d().Settle();
  EXPECT_TRUE(popup->IsVisible());
  EXPECT_EQ(b->preview_file().ToUtf8Lossy(), docs_ + "/Music/song.wav");
  b->OnAction(ui::kActionEditorStop, ov::String(), 0);
  d().Settle();
  EXPECT_FALSE(popup->IsVisible());
  ASSERT_TRUE(d().TapElement(u"show_audio"));
  // A picture dragged onto a channel cell is assigned to that channel.
  d().Drag(Row(1), {{Row(1).first, Row(1).second + 40}, Middle(u"drop_sel3")});
  ChannelSelection* ch3 = Channel(u"channel_sel3");
  EXPECT_EQ(ch3->GetKind(), screens::kKindImage);
  EXPECT_EQ(ch3->GetClipFile(0).ToUtf8Lossy(), docs_ + "/Pictures/beach.bmp");
  // A broken record is selected by the stylus but not pressed, and its drop
  // assigns nothing.
  const auto [bx, by] = Row(2);
  EXPECT_FALSE(b->OnStylusDown(bx, by));
  EXPECT_EQ(Name(c.selected), "broken.jpg");
  EXPECT_NE(d().sm().GetPressedElement(), b);
  EXPECT_EQ(b->IsSelectionUsable(), 0);
  d().Drag(Row(2), {Middle(u"drop_sel4")});
  EXPECT_EQ(Channel(u"channel_sel4")->GetKind(), screens::kKindEmpty);
  // Below the last record a tap changes nothing.
  ASSERT_TRUE(d().TapElement(u"show_videos"));
  EXPECT_EQ(Name(c.selected), "bad.mp4");
  EXPECT_TRUE(b->OnStylusDown(Row(3).first, Row(3).second));
  EXPECT_EQ(Name(c.selected), "bad.mp4");
}

// Named pipes called like a picture and a video that no program writes to:
// painting the list does not wait on them, and their rows are broken.
TEST_F(BrowserScreen, NamedPipesShowAsBrokenRowsWithoutHoldingThePaint) {
  ASSERT_TRUE(d().ok());
  for (const char* p : {"/Pictures/pipe.jpg", "/Movies/pipe.mp4"}) {
    ASSERT_EQ(::mkfifo((docs_ + p).c_str(), 0600), 0) << p;
  }
  OpenBrowser();
  MediaBrowser* b = Browser();
  b->OnAction(ui::kActionBrowserSortName, ov::String(), 0);
  d().Settle();
  // Each kind on its own, so that every row of it is painted.
  struct Kind {
    const char16_t* tap;
    std::vector<std::string> names;
  } kinds[] = {{u"show_images", {"beach.bmp", "broken.jpg", "pipe.jpg"}}, {u"show_videos", {"bad.mp4", "pipe.mp4"}}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(ov::String(k.tap).ToUtf8Lossy());
    ASSERT_TRUE(d().TapElement(k.tap));
    ASSERT_EQ(Names(), k.names);
    EXPECT_TRUE(b->complete_draw());
    for (const std::string& name : k.names) {
      const screens::MediaFileRecord& r = *b->catalogue().FindByName(nullptr, U(name));
      EXPECT_EQ(r.broken != 0, name != "beach.bmp") << name;
      EXPECT_TRUE(r.thumbnail) << name;  // the placeholder
    }
  }
}

// "Open mix" lists a named pipe called like a project; dropping it reports
// the file as a damaged project and loads nothing, at once.
TEST_F(BrowserScreen, APipedProjectIsReportedLikeADamagedOne) {
  ASSERT_TRUE(d().ok());
  ASSERT_EQ(::mkfifo((docs_ + "/Mixes/pipe.mix").c_str(), 0600), 0);
  ASSERT_TRUE(d().TapElement(u"main_1"));
  ASSERT_EQ(d().Menu(), u"media_browser");
  const auto pipe = Row(RowOf(u"pipe.mix"));
  d().Drag(pipe, {{pipe.first + 5, pipe.second + 30}, Middle(u"drop_sel1")});
  ASSERT_EQ(d().boxes().size(), 1u);
  EXPECT_NE(d().boxes()[0].text.find(u"pipe.mix"), std::u16string::npos);
  EXPECT_NE(d().boxes()[0].text.find(u"cannot be read"), std::u16string::npos);
  EXPECT_EQ(Channel(u"channel_sel1")->GetKind(), screens::kKindEmpty);
}

// The preview plays the sound file whole, both channels as written, and
// its end closes the popup; leaving the screen stops a preview at once.
TEST_F(BrowserScreen, TheAudioPreviewPlaysTheFileWholeAndItsEndClosesThePopup) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(d().UseVirtualWaveOut());
  OpenBrowser();
  MediaBrowser* b = Browser();
  b->OnAction(ui::kActionBrowserSortName, ov::String(), 0);
  ASSERT_TRUE(d().TapElement(u"show_audio"));
  const auto [sx, sy] = Row(RowOf(u"song.wav"));
  d().Tap(sx, sy);
  ASSERT_EQ(Name(b->catalogue().selected), "song.wav");
  ui::Element* popup = Find(u"AUDIO_PREVIEW");
  b->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  d().Settle();
  ASSERT_TRUE(popup->IsVisible());
  std::vector<uint8_t> played;
  for (int i = 0; i < 20000 && popup->IsVisible(); ++i) {
    d().AdvanceDevice(551, &played);
    d().Settle();
    ov::Sleep(1);
  }
  EXPECT_FALSE(popup->IsVisible());
  EXPECT_TRUE(b->preview_file().IsEmpty());
  // The wave stream ends a frame short of the file, as in the audio editor.
  ASSERT_EQ(played.size(), size_t{22049} * 4);
  for (uint32_t i = 0; i < 22049; ++i) {
    const uint32_t n = (i * 2) % (22050 * 2);
    const uint8_t* p = &played[size_t{i} * 4];
    ASSERT_EQ(int16_t(p[0] | p[1] << 8), int16_t((n % 200) * 10)) << "frame " << i;
    ASSERT_EQ(int16_t(p[2] | p[3] << 8), int16_t(((n + 1) % 200) * 10)) << "frame " << i;
  }
  // Played again and stopped half way (the popup's button), then played
  // again and the screen left: each time the sound stops with it.
  b->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  d().Settle();
  ASSERT_TRUE(d().AdvanceDevice(551));
  d().sm().DoAction(ui::kActionEditorStop, ov::String(), 1);
  d().Settle();
  EXPECT_FALSE(popup->IsVisible());
  EXPECT_FALSE(d().AdvanceDevice(551));
  b->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  d().Settle();
  ASSERT_TRUE(d().AdvanceDevice(551));
  d().sm().DoAction(ui::kActionJumpTo, u"main_menu", 1);
  d().Settle();
  EXPECT_FALSE(d().AdvanceDevice(551));
}

TEST_F(BrowserScreen, TheCalendarMarksDaysWithMediaAndItsRangeFiltersTheList) {
  ASSERT_TRUE(d().ok());
  OpenBrowser();
  d().sm().DoAction(ui::kActionJumpTo, u"calendar_screen", 1);
  d().Settle();
  auto* calendar = dynamic_cast<ui::Calendar*>(Find(u"calendar"));
  ASSERT_NE(calendar, nullptr);
  // 2 to 4 March chosen, in the days view of March 2026.
  calendar->SetDates(Utc(2026, 3, 1), Utc(2026, 3, 2), Utc(2026, 3, 4));
  d().sm().InvalidateAll();
  d().Settle();
  const std::vector<uint32_t>& colours = calendar->drawn_colours();
  ASSERT_EQ(colours.size(), 31u);
  const uint32_t media = colours[0];  // 1 March: broken.jpg
  EXPECT_EQ(colours[4], media);       // 5 March: beach.bmp
  EXPECT_NE(colours[5], media);       // 6 March: nothing
  EXPECT_NE(colours[1], media);       // 2 March is chosen
  EXPECT_NE(colours[1], colours[5]);
  calendar->OnAction(ui::kActionCalendarSelect, ov::String(), 0);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"media_browser");
  // The range ends with the last second of 4 March, which it includes.
  EXPECT_EQ(Names(), (std::vector<std::string>{"holiday.mix", "tune.wav", "song.wav", "extra2.wav"}));
  EXPECT_TRUE(Find(u"filter_showcalender")->IsVisible());
  EXPECT_EQ(Browser()->catalogue().count(screens::kKindAudio), 3);
}

// A turn of the screen keeps the browser's root, date mode and place: the
// new screens read them back and list the same records.
TEST_F(BrowserScreen, ARotationKeepsTheRootAndTheDateMode) {
  ASSERT_TRUE(d().ok());
  OpenBrowser();
  Browser()->OnAction(ui::kActionSelectOk, u"\\Music\\", 1);
  ASSERT_TRUE(d().TapElement(u"show_7days"));
  const std::vector<std::string> before = Names();
  ASSERT_EQ(before.size(), 3u);
  d().Key(wnd::Key::kRotate);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"media_browser");
  ASSERT_EQ(d().sm().ScreenSize().cx, 320);
  EXPECT_EQ(Browser()->catalogue().root().ToUtf8Lossy(), docs_ + "/Music");
  EXPECT_EQ(Browser()->catalogue().date_mode(), screens::kDateLast7Days);
  EXPECT_EQ(Names(), before);
  EXPECT_TRUE(Find(u"filter_last7days")->IsVisible());
  EXPECT_EQ(Browser()->row_pitch(), 40);
}

TEST_F(BrowserScreen, AFolderPickedInSetLocationBecomesTheRoot) {
  ASSERT_TRUE(d().ok());
  OpenBrowser();
  Browser()->OnAction(ui::kActionBrowserOpenFileBox, ov::String(), 0);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"set_location");
  auto* folders = dynamic_cast<ui::FileBrowser*>(Find(u"folder_browser"));
  ASSERT_NE(folders, nullptr);
  ASSERT_EQ(folders->folders().size(), 4u);
  ASSERT_EQ(folders->folders()[2].ToUtf8Lossy(), "Music");
  const int32_t x = folders->x() + 20, y = folders->y() + 2 * folders->row_height() + folders->row_height() / 2;
  d().Tap(x, y);
  d().Tap(x, y);
  ASSERT_EQ(folders->current_folder().ToUtf8Lossy(), "\\Music\\");
  d().sm().DoAction(ui::kActionSelectOk, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"media_browser");
  EXPECT_EQ(Browser()->catalogue().root().ToUtf8Lossy(), docs_ + "/Music");
  EXPECT_EQ(Names(), (std::vector<std::string>{"extra1.wav", "tune.wav", "song.wav", "extra2.wav"}));
}

}  // namespace

namespace {

// The element alone, on the tests' host: its attributes, the row pitch it
// has only from INITIALISE on, the drag icon's states, and the place the
// list keeps across a rebuild caused by a change on disk.
class BrowserElement : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    docs_ = dir_ + "/docs";
    dated_ = std::make_unique<ovtest::DatedDocuments>(docs_, 0);
    for (int i = 0; i < 8; ++i) {
      const std::string name = docs_ + "/clip" + std::to_string(i) + ".wav";
      std::ofstream(name) << "x";
      DateFile(name, "2026-03-0" + std::to_string(i + 1) + " 10:00:00");
    }
    host_ = std::make_unique<ovtest::ScreensHost>(dir_);
    host_->menu = &menu_;
    host_->numeric[0] = 1;  // by name
    auto b = std::make_unique<MediaBrowser>();
    for (auto [name, value] : {std::pair{u"xP", u"0"}, {u"yP", u"100"}, {u"xS", u"200"}, {u"yS", u"80"},
                               {u"xThumbnailSize", u"48"}, {u"yThumbnailSize", u"36"}, {u"borderSize", u"2"}}) {
      b->LoadAttribute(name, value);
    }
    browser_ = static_cast<MediaBrowser*>(menu_.AddChild(std::move(b)));
    auto cell = std::make_unique<ChannelSelection>();
    for (auto [name, value] : {std::pair{u"xP", u"0"}, {u"yP", u"250"}, {u"xS", u"40"}, {u"yS", u"30"}}) {
      cell->LoadAttribute(name, value);
    }
    menu_.AddChild(std::move(cell));
    auto icon = std::make_unique<ui::DragIcon>();
    for (auto [name, value] : {std::pair{u"xP", u"-12"}, {u"yP", u"-12"}, {u"xS", u"24"}, {u"yS", u"24"}}) {
      icon->LoadAttribute(name, value);
    }
    icon_ = static_cast<ui::DragIcon*>(menu_.AddChild(std::move(icon)));
  }
  void TearDown() override {
    host_.reset();
    dated_.reset();
  }
  void Paint() {
    auto dc = gfx::CreateCompatibleDC(nullptr);
    dc->SelectBitmap(gfx::CreateBitmap565(240, 320));
    browser_->Draw(dc.get(), ui::kDrawNormal);
  }
  std::string Name(MediaCatalogue::Position p) {
    return p == browser_->catalogue().None() ? std::string("(none)") : p->name.ToUtf8Lossy();
  }

  std::string dir_, docs_;
  std::unique_ptr<ovtest::DatedDocuments> dated_;
  ui::Menu menu_;
  std::unique_ptr<ovtest::ScreensHost> host_;
  MediaBrowser* browser_ = nullptr;
  ui::DragIcon* icon_ = nullptr;
};

TEST_F(BrowserElement, AttributesAsTheSkinGivesThem) {
  struct Case {
    const char16_t* name;
    const char16_t* value;
    bool reduce;
    uint32_t colour;
  } cases[] = {{u"reduceThumbnailInfo", u"true", false, 0},  {u"reduceThumbnailInfo", u"YES", true, 0},
               {u"reduceThumbnailInfo", u"y", true, 0},      {u"selectedTransparentColour", u"16711935", false, 0xFF00FF},
               {u"selectedTransparentColour", u"0xFF00FF", false, 0}, {u"selectedTransparentColour", u"magenta", false, 0}};
  for (const Case& c : cases) {
    MediaBrowser b;
    b.LoadAttribute(c.name, c.value);
    EXPECT_EQ(b.reduce_info(), c.reduce) << ov::String(c.value).ToUtf8Lossy();
    EXPECT_EQ(b.selected_transparent_colour(), c.colour) << ov::String(c.value).ToUtf8Lossy();
  }
}

// With nothing listed the queries answer nothing and the list's moves are
// disabled; once a record is selected they answer for it.
TEST_F(BrowserElement, EmptyListAndSelectionQueries) {
  ASSERT_EQ(std::system(("mkdir -p '" + docs_ + "/empty'").c_str()), 0);
  browser_->OnAction(ui::kActionInitialise, ov::String(), 0);
  browser_->OnAction(ui::kActionSelectOk, u"\\empty\\", 1);  // a device path: documents/empty
  EXPECT_EQ(browser_->catalogue().root().ToUtf8Lossy(), docs_ + "/empty");
  EXPECT_EQ(browser_->GetSelectedKind(), 0);
  EXPECT_EQ(browser_->GetSelectedFileType(), 0);
  EXPECT_EQ(browser_->GetSelectedPath().ToUtf8Lossy(), "");
  EXPECT_EQ(browser_->IsSelectionUsable(), 0);
  auto last_enable = [&](int32_t code) {
    for (auto it = host_->enables.rbegin(); it != host_->enables.rend(); ++it) {
      if (it->code == code) return it->on ? 1 : 0;
    }
    return -1;
  };
  for (int32_t code : {ui::kActionBrowserPrev, ui::kActionBrowserNext, ui::kActionBrowserSortDate,
                       ui::kActionBrowserSortName}) {
    EXPECT_EQ(last_enable(code), 0) << code;
  }
  EXPECT_EQ(browser_->OnAction(ui::kActionBrowserNext, ov::String(), 0), 1);
  EXPECT_FALSE(browser_->SelectNext());
  EXPECT_FALSE(browser_->SelectPrevious());
  browser_->OnAction(ui::kActionSelectOk, u"\\", 1);  // the device root: documents
  EXPECT_EQ(browser_->catalogue().root().ToUtf8Lossy(), docs_);
  EXPECT_EQ(last_enable(ui::kActionBrowserNext), 1);
  EXPECT_EQ(browser_->GetSelectedKind(), screens::kKindAudio);
  EXPECT_EQ(browser_->GetSelectedFileType(), screens::kFileTypeWav);
  EXPECT_EQ(browser_->GetSelectedPath().ToUtf8Lossy(), docs_ + "/clip0.wav");
  EXPECT_EQ(browser_->IsSelectionUsable(), 1);
}

TEST_F(BrowserElement, BeforeInitialiseNoRowIsHitSteppedOrDragged) {
  browser_->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_EQ(browser_->row_pitch(), 0);
  MediaCatalogue& c = browser_->catalogue();
  ASSERT_EQ(Name(c.selected), "clip0.wav");
  Paint();
  EXPECT_TRUE(browser_->OnStylusDown(10, 170));
  EXPECT_EQ(Name(c.selected), "clip0.wav");
  EXPECT_EQ(host_->GetPressedElement(), nullptr);
  EXPECT_FALSE(browser_->ScrollDown());
  EXPECT_FALSE(browser_->SelectNext());  // nothing drawn yet
  browser_->OnStylusMove(10, 260);
  EXPECT_FALSE(icon_->IsVisible() && icon_->drag_state() != 0);
}

TEST_F(BrowserElement, TheDragIconShowsWhatLiesUnderThePen) {
  browser_->OnAction(ui::kActionInitialise, ov::String(), 0);
  browser_->OnAction(ui::kActionMenuShown, ov::String(), 0);
  ASSERT_EQ(browser_->row_pitch(), 40);
  Paint();
  // The second row: selected and pressed.
  EXPECT_TRUE(browser_->OnStylusDown(10, 145));
  EXPECT_EQ(Name(browser_->catalogue().selected), "clip1.wav");
  EXPECT_EQ(host_->GetPressedElement(), browser_);
  struct Where {
    int32_t x, y, state;
  } path[] = {{10, 150, 0}, {10, 260, 1}, {220, 20, 2}};
  for (const Where& w : path) {
    browser_->OnStylusMove(w.x, w.y);
    EXPECT_TRUE(icon_->IsVisible());
    EXPECT_EQ(icon_->drag_state(), w.state) << w.x << "," << w.y;
    EXPECT_EQ(icon_->x(), -12 + w.x);
    EXPECT_EQ(icon_->y(), -12 + w.y);
  }
  EXPECT_FALSE(browser_->OnStylusUp(220, 20));
  EXPECT_FALSE(icon_->IsVisible());
}

// After a change on disk the rebuilt list keeps the selected record and the
// rows around it where the user left them.
TEST_F(BrowserElement, AChangeDrivenRebuildKeepsTheSelectionAndScrollPosition) {
  browser_->OnAction(ui::kActionInitialise, ov::String(), 0);
  browser_->OnAction(ui::kActionMenuShown, ov::String(), 0);
  MediaCatalogue& c = browser_->catalogue();
  ASSERT_GE(c.watch_count(), 1u);
  for (int i = 0; i < 4; ++i) {
    Paint();
    browser_->OnAction(ui::kActionBrowserNext, ov::String(), 0);
  }
  Paint();
  ASSERT_EQ(Name(c.selected), "clip4.wav");
  ASSERT_EQ(Name(c.top), "clip3.wav");
  std::ofstream(docs_ + "/new.wav") << "x";
  gfx::Rect area;
  ov::SetTickCountForTesting(100000);
  browser_->OnTick(&area, 100000);
  ov::SetTickCountForTesting(100000 + screens::kChangeSettleMs + 1);
  browser_->OnTick(&area, 100000 + screens::kChangeSettleMs + 1);
  EXPECT_NE(c.FindByName(nullptr, u"new.wav"), c.None());
  EXPECT_EQ(Name(c.selected), "clip4.wav");
  EXPECT_EQ(Name(c.top), "clip4.wav");
  // On the last record the last page stays full: a file listed in front of
  // it moves the top back rather than leaving the selection alone on top.
  for (int i = 0; i < 4; ++i) {
    Paint();
    browser_->OnAction(ui::kActionBrowserNext, ov::String(), 0);
  }
  ASSERT_EQ(Name(c.selected), "new.wav");
  ASSERT_EQ(Name(c.top), "clip7.wav");
  std::ofstream(docs_ + "/a.wav") << "x";
  ov::SetTickCountForTesting(200000);
  browser_->OnTick(&area, 200000);
  ov::SetTickCountForTesting(200000 + screens::kChangeSettleMs + 1);
  browser_->OnTick(&area, 200000 + screens::kChangeSettleMs + 1);
  ASSERT_NE(c.FindByName(nullptr, u"a.wav"), c.None());
  EXPECT_EQ(Name(c.selected), "new.wav");
  EXPECT_EQ(Name(c.top), "clip7.wav");
}

}  // namespace
