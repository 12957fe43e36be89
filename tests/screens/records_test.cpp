// The stored records of a mix: the text-clip descriptor, the channel block
// with its bounds on counts and lengths, and the file-type table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "engine/engine_command.h"
#include "screens/browsers/media_file_record.h"
#include "screens/project/channel_block.h"
#include "screens/project/channel_selection.h"
#include "screens/project/text_clip.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;
using screens::RecordReader;
using screens::TextClip;

constexpr char16_t kDefaultDescriptor[] =
    u"**TEXT**0x00000000,0x00000001,0x00ffffff,0xffffffff,0x00000000,0x00000001,0x00000001,0x00000000,"
    u"0x00000000,0x00000000,0x00ff00ff,**/EXT**";

std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }

TEST(TextClip, DefaultFormatsToTheGoldenDescriptorAndParsesBack) {
  const ov::String d = screens::FormatTextClip(TextClip());
  EXPECT_EQ(Str(d), kDefaultDescriptor);
  EXPECT_EQ(d.Length(), screens::kTextClipFixedUnits);
  TextClip parsed;
  parsed.textSize = 9;
  parsed.keyColour = 0;
  ASSERT_EQ(screens::ParseTextClip(&parsed, d), 1);
  EXPECT_TRUE(parsed == TextClip());
}

TEST(TextClip, TextAndNameHoldingDelimitersRoundTrip) {
  TextClip c;
  c.textString = u"a,b**/EXT**0x1,";
  c.fontName = u"Sans, Bold";
  c.textSize = 3;
  c.textColour = 0x123456;
  c.backgroundColour = 0x00FF00;
  c.keyColour = 0x010203;
  c.justification = 2;
  c.verticalAlign = 0;
  c.bold = 1;
  c.italic = 1;
  c.underline = 1;
  const ov::String d = screens::FormatTextClip(c);
  EXPECT_EQ(d.Length(), 137 + c.textString.Length() + c.fontName.Length());
  TextClip parsed;
  ASSERT_EQ(screens::ParseTextClip(&parsed, d), 1);
  EXPECT_TRUE(parsed == c);
}

TEST(TextClip, MarkerRules) {
  EXPECT_FALSE(screens::IsTextClip(u"**TEXT**"));
  EXPECT_FALSE(screens::IsTextClip(u"**text**0x0"));
  EXPECT_TRUE(screens::IsTextClip(u"**TEXT**0"));
  // No descriptor at all: accepted, nothing changes.
  TextClip c;
  c.textSize = 7;
  EXPECT_EQ(screens::ParseTextClip(&c, u"/media/clip.mp4"), 1);
  EXPECT_EQ(c.textSize, 7);
  // The lower-case marker is accepted by the parser.
  std::u16string lower = kDefaultDescriptor;
  lower.replace(0, 8, u"**text**");
  EXPECT_EQ(screens::ParseTextClip(&c, ov::String(std::u16string_view(lower))), 1);
  EXPECT_EQ(c.textSize, 1);
}

// Damaged descriptors are refused before any read past their end. A
// negative number (with a sign; stored ones have none) is refused where it
// is read signed: its eight stored digits would read back as 0x7fffffff, so
// the caption would change at every save.
TEST(TextClip, DamagedDescriptorsAreRefused) {
  const std::u16string good = kDefaultDescriptor;
  struct Case {
    const char* what;
    std::u16string text;
  } cases[] = {
      {"negative text length", u"**TEXT**-0x0000001," + good.substr(19)},
      {"text length past the end", u"**TEXT**0x00001000," + good.substr(19)},
      {"negative font length", good.substr(0, 52) + u"0xfffffff0," + good.substr(63)},
      {"font length past the end", good.substr(0, 52) + u"0x7fffffff," + good.substr(63)},
      {"end marker wrong", good.substr(0, 129) + u"**/EXX**"},
      {"negative text size", good.substr(0, 19) + u"-0x0000001," + good.substr(30)},
      {"negative text colour", good.substr(0, 30) + u"-0x0ffffff," + good.substr(41)},
      {"negative justification", good.substr(0, 63) + u"-0x0000001," + good.substr(74)},
      {"negative key colour", good.substr(0, 118) + u"-0x0000001," + good.substr(129)},
  };
  for (const Case& c : cases) {
    TextClip t;
    EXPECT_EQ(screens::ParseTextClip(&t, ov::String(std::u16string_view(c.text))), 0) << c.what;
  }
  // The background colour is read unsigned: "-0x0000002" is stored back as
  // "0xfffffffe", which reads as -2 again.
  const std::u16string background = good.substr(0, 41) + u"-0x0000002," + good.substr(52);
  TextClip read;
  ASSERT_EQ(screens::ParseTextClip(&read, ov::String(std::u16string_view(background))), 1);
  EXPECT_EQ(read.backgroundColour, -2);
  TextClip back;
  ASSERT_EQ(screens::ParseTextClip(&back, screens::FormatTextClip(read)), 1);
  EXPECT_TRUE(back == read);
  // Every cut of a descriptor past the marker is refused.
  for (size_t n = 9; n < good.size(); ++n) {
    TextClip t;
    EXPECT_EQ(screens::ParseTextClip(&t, ov::String(std::u16string_view(good.substr(0, n)))), 0) << n;
  }
}

TEST(EngineCommandRecord, DefaultStoresIn44BytesAndFlagIsNotStored) {
  engine::EngineCommand c;
  std::vector<uint8_t> bytes;
  c.Write(&bytes);
  ASSERT_EQ(bytes.size(), 44u);
  const uint8_t empty[6] = {1, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes.data(), empty, 6), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 6, empty, 6), 0);
  for (size_t i = 12; i < 44; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

TEST(ChannelBlock, EmptyChannelIs60Bytes) {
  ChannelSelection ch;
  std::vector<uint8_t> bytes;
  screens::SaveChannel(ch, &bytes);
  ASSERT_EQ(bytes.size(), 60u);
  std::vector<uint8_t> expected(16, 0);  // count, loopOn, beatMatch, effectOn
  for (int s = 0; s < 2; ++s) expected.insert(expected.end(), {1, 0, 0, 0, 0, 0});
  expected.resize(60, 0);
  EXPECT_EQ(bytes, expected);
}

class ChannelBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ovtest::ScratchDir(); }
  ov::String File(const char* name) {
    const std::string p = dir_ + "/" + name;
    std::ofstream(p) << "x";
    return ov::String::FromUtf8Lossy(p);
  }
  static void AddPhoto(ChannelSelection* ch, const ov::String& path, int32_t display = 0) {
    ch->AddClip(screens::kKindImage, screens::kFileTypeJpeg, path, ov::String(), ov::String(), screens::kWholePicture,
                screens::kWholePicture, 500, display, 0, 0, 0, 0, 0, nullptr);
  }
  static std::vector<uint8_t> Save(const ChannelSelection& ch) {
    std::vector<uint8_t> b;
    screens::SaveChannel(ch, &b);
    return b;
  }
  static int Load(ChannelSelection* ch, const std::vector<uint8_t>& b, bool keep = false) {
    RecordReader in(b);
    return screens::LoadChannel(ch, &in, keep);
  }
  std::string dir_;
};

TEST_F(ChannelBlockTest, PhotosRoundTripWithTheirDisplayTimesCropAndCaption) {
  ChannelSelection ch;
  AddPhoto(&ch, File("a.jpg"));
  std::vector<uint8_t> one = Save(ch);
  ChannelSelection back;
  ASSERT_EQ(Load(&back, one), 1);
  EXPECT_EQ(back.GetClipDisplayTime(0), 0);

  AddPhoto(&ch, File("b.jpg"));  // the first photo had 0: both get 4000
  ch.SetClipCropRect(1, 0x80104020);  // stored in ascending order
  ch.SetClipCropOn(1, 1);
  ch.SetClipCropRect(0, 0x10204060);  // crop off: stored as the whole picture
  ch.SetClipCache(0, u"/tmp/image0-0-0.raw", screens::kKindImage);
  ch.GetClipText(1)->textString = u"caption";
  ch.set_loop_on(1);
  ch.channel_effect() = engine::MakeCommand(engine::CMD_FADE, 17, 2000, 4);
  ch.channel_effect().flag = 1;
  const std::vector<uint8_t> two = Save(ch);
  back.channel_effect().flag = 1;
  ASSERT_EQ(Load(&back, two), 1);
  ASSERT_EQ(back.ClipCount(), 2);
  EXPECT_EQ(back.GetClipDisplayTime(0), 4000);
  EXPECT_EQ(back.GetClipDisplayTime(1), 4000);
  EXPECT_EQ(back.GetClipCropRect(0), screens::kWholePicture);
  EXPECT_EQ(back.GetClipCropRect(1), 0x10802040u);
  EXPECT_EQ(Str(back.GetClipText(1)->textString), u"caption");
  EXPECT_EQ(back.loop_on(), 1);
  EXPECT_EQ(back.channel_effect().type, uint32_t(engine::CMD_FADE));
  EXPECT_EQ(back.channel_effect().flag, 0u);
  // Without a rotation the cache names are dropped; a rotation keeps them.
  EXPECT_TRUE(back.GetClipCache(0, screens::kKindImage).IsEmpty());
  ASSERT_EQ(Load(&back, two, true), 1);
  EXPECT_EQ(Str(back.GetClipCache(0, screens::kKindImage)), u"/tmp/image0-0-0.raw");
  EXPECT_EQ(Save(back), two);
}

TEST_F(ChannelBlockTest, MissingSourceFailsAndEmptySourceCounts) {
  ChannelSelection ch;
  AddPhoto(&ch, File("gone.jpg"));
  const std::vector<uint8_t> b = Save(ch);
  std::remove((dir_ + "/gone.jpg").c_str());
  ChannelSelection back;
  EXPECT_EQ(Load(&back, b), 0);

  ChannelSelection credits;
  credits.AddEmptyTextClip();
  ASSERT_EQ(Load(&back, Save(credits)), 1);
  EXPECT_EQ(back.GetKind(), screens::kKindText);
  EXPECT_EQ(back.ClipCount(), 1);
}

void PutU32At(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Counts and lengths from the file are bounded by the bytes left: each of
// these fails the block at once, without a large allocation or a long loop.
TEST_F(ChannelBlockTest, CountsAndLengthsBeyondTheDataFailTheBlock) {
  ChannelSelection ch;
  ch.AddEmptyTextClip();
  const std::vector<uint8_t> good = Save(ch);
  // Layout of this block: count, four one-unit strings at 4, 10, 16, 22,
  // eleven words from 28, the caption's count at 72.
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"clip count 2^31", 0, 0x80000000u},      {"clip count 0xffffffff", 0, 0xFFFFFFFFu},
      {"one clip more than stored", 0, 2},       {"source count 2^31", 4, 0x80000000u},
      {"source count 0", 4, 0},                  {"cache count past the end", 22, 0x10000},
      {"caption count 2^31 (2N wraps)", 72, 0x80000000u}, {"caption count 0", 72, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    PutU32At(&b, c.at, c.value);
    ChannelSelection back;
    EXPECT_EQ(Load(&back, b), 0) << c.what;
  }
  // Every truncation fails.
  for (size_t n = 0; n < good.size(); ++n) {
    ChannelSelection back;
    EXPECT_EQ(Load(&back, std::vector<uint8_t>(good.begin(), good.begin() + n)), 0) << n;
  }
}

// A block that fails on a clip's caption keeps the clips read before it,
// with their own kind: a sound clip after two photos, failing, leaves an
// image channel of two photos, which stores and reads back as itself. (Left
// with the failed clip's kind, the photos were stored as sounds, and read
// back the second replaced the first.)
TEST_F(ChannelBlockTest, AClipFailingOnItsCaptionLeavesTheKindOfTheClipsBefore) {
  ChannelSelection ch;
  AddPhoto(&ch, File("a.jpg"));
  AddPhoto(&ch, File("b.jpg"));
  const std::vector<uint8_t> photos = Save(ch);
  // The two clips, a third one with kind 1 and a caption cut after its
  // marker, then the channel's trailer (three words and the effect record).
  constexpr size_t kTrailer = 12 + 44;
  std::vector<uint8_t> b(photos.begin(), photos.end() - kTrailer);
  PutU32At(&b, 0, 3);
  for (int s = 0; s < 4; ++s) engine::PutString(&b, ov::String());
  for (int32_t word : {int32_t{screens::kKindAudio}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 500}) {
    engine::PutU32(&b, static_cast<uint32_t>(word));
  }
  engine::PutString(&b, ov::String(u"**TEXT**0x00000005,ab"));
  b.insert(b.end(), photos.end() - kTrailer, photos.end());

  ChannelSelection back;
  EXPECT_EQ(Load(&back, b), 0);
  ASSERT_EQ(back.ClipCount(), 2);
  EXPECT_EQ(back.GetKind(), screens::kKindImage);
  const std::vector<uint8_t> first = Save(back);
  ChannelSelection again;
  ASSERT_EQ(Load(&again, first), 1);
  EXPECT_EQ(again.ClipCount(), 2);
  EXPECT_EQ(Save(again), first);
}

TEST_F(ChannelBlockTest, ClipListEdgeCases) {
  ChannelSelection ch;
  const ov::String a = File("A.jpg"), b = File("B.jpg"), c = File("C.jpg");
  for (const ov::String* p : {&a, &b, &c}) AddPhoto(&ch, *p);
  auto order = [&] {
    std::u16string s;
    for (int i = 0; i < ch.ClipCount(); ++i) s += ch.GetClipFile(i).View().substr(ch.GetClipFile(i).Length() - 5, 1);
    return s;
  };
  ASSERT_EQ(ch.MoveClip(0, 2), 1);
  EXPECT_EQ(order(), u"BCA");
  ASSERT_EQ(ch.MoveClip(2, 0), 1);
  EXPECT_EQ(order(), u"ABC");
  EXPECT_EQ(ch.MoveClip(0, 3), 0);
  EXPECT_EQ(ch.MoveClip(-1, 0), 0);
  EXPECT_TRUE(ch.GetClipFile(-1).IsEmpty());
  EXPECT_EQ(ch.GetClipCropRect(7), screens::kWholePicture);
  EXPECT_EQ(ch.GetClipText(3), nullptr);
  ch.RemoveClip(2);
  ch.RemoveClip(1);
  EXPECT_EQ(ch.clip(0)->displayTime, 0);  // one photo left: stored as 0 too
  // A sound assigned to an image channel empties it first.
  ch.AddClip(screens::kKindAudio, screens::kFileTypeWav, File("s.wav"), ov::String(), ov::String(),
             screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
  EXPECT_EQ(ch.ClipCount(), 1);
  EXPECT_EQ(ch.GetKind(), screens::kKindAudio);
  EXPECT_FALSE(ch.ClipNeedsAudioCache(0));  // no start cut: plays from the file
  ch.SetClipCutPoints(0, 100, 0);
  EXPECT_TRUE(ch.ClipNeedsAudioCache(0));
}

// The tempo side file sits beside the clip: the file name up to its first
// dot, then ".bin". Dots in folder names do not cut the path.
TEST(TempoSideFile, NamedAfterTheFileNameUpToItsFirstDot) {
  struct Case {
    const char16_t* clip;
    const char16_t* side;
  } cases[] = {
      {u"/m/song.mp3", u"/m/song.bin"},
      {u"/m/my.song.mp3", u"/m/my.bin"},
      {u"/home/a.b/clip.wav", u"/home/a.b/clip.bin"},
      {u"/home/a.b/c.d/clip.v2.wav", u"/home/a.b/c.d/clip.bin"},
      {u"Music.v2/my.song.mp3", u"Music.v2/my.bin"},
      {u"song.mp3", u"song.bin"},
      {u"/m.x/clip", u"/m.x/clip.bin"},           // no dot in the name: all of it
      {u"/m/.hidden.mp3", u"/m/.hidden.bin"},     // a leading dot is part of the name
      {u"/m/clip.", u"/m/clip.bin"},
      {u"/m/", u""},                              // no file name: no side file
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Str(screens::TempoSideFilePath(ov::String(c.clip))), std::u16string(c.side))
        << ov::String(c.clip).ToUtf8Lossy();
  }
}

// The tempo of a music clip: the float at byte 208 of its side file, in
// beats per minute. Damaged side files give no tempo (0), never a crash.
TEST_F(ChannelBlockTest, TempoFromTheSideFile) {
  // Relative paths from the scratch folder; the clip's folder has a dot in
  // its name, and a decoy with another tempo lies where cutting the whole
  // path at its first dot would look ("Music.bin").
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const std::string folder = "Music.v2";
  std::filesystem::create_directories(folder);
  auto write = [](const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  auto with_tempo = [](float tempo, size_t size = 212, uint8_t fill = 0) {
    std::vector<uint8_t> side(size, fill);
    uint8_t f[4];
    std::memcpy(f, &tempo, 4);
    for (size_t i = 0; i < 4 && 208 + i < size; ++i) side[208 + i] = f[i];
    return side;
  };
  auto text = [](const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); };
  auto add = [](ChannelSelection* ch, const std::string& path) {
    ch->AddClip(screens::kKindAudio, screens::kFileTypeMp3, ov::String::FromUtf8Lossy(path), ov::String(), ov::String(),
                screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
  };
  write("Music.bin", with_tempo(77.0f));
  struct Case {
    const char* what;
    std::vector<uint8_t> side;
    int32_t expected;
  } cases[] = {
      {"120.7 bpm", with_tempo(120.7f), 120},
      {"in a longer file", with_tempo(99.9f, 4096, 0xA5), 99},
      {"lowest", with_tempo(1.0f), 1},
      {"highest", with_tempo(1000.0f), 1000},
      {"above the highest", with_tempo(1000.5f), 0},
      {"below 1", with_tempo(0.5f), 0},
      {"zero", with_tempo(0.0f), 0},
      {"negative", with_tempo(-120.0f), 0},
      {"negative zero", with_tempo(-0.0f), 0},
      {"tiny", with_tempo(1e-40f), 0},
      {"huge", with_tempo(3e9f), 0},
      {"largest float", with_tempo(3.4028235e38f), 0},
      {"infinite", with_tempo(std::numeric_limits<float>::infinity()), 0},
      {"minus infinite", with_tempo(-std::numeric_limits<float>::infinity()), 0},
      {"NaN", with_tempo(std::nanf("")), 0},
      {"binary noise of 0xFF (NaN)", std::vector<uint8_t>(300, 0xFF), 0},
      {"binary noise of 'A'", std::vector<uint8_t>(300, 'A'), 12},  // 0x41414141 is 12.08
      {"empty", {}, 0},
      {"file of 208 bytes", with_tempo(99.0f, 208), 0},
      {"file of 210 bytes", with_tempo(99.0f, 210), 0},
      {"file of 211 bytes", with_tempo(99.0f, 211), 0},
      {"tempo as text", text("120\n"), 0},
      {"tempo as text without a newline", text("120"), 0},
  };
  for (const Case& c : cases) {
    write(folder + "/my.bin", c.side);
    ChannelSelection ch;
    add(&ch, folder + "/my.song.mp3");
    EXPECT_EQ(ch.ReadTempo(), c.expected) << c.what;
    EXPECT_EQ(ch.channel_tempo(), c.expected) << c.what;
  }
  std::remove("Music.bin");
  // A side file gone since the last reading, or a folder in its place,
  // gives 0 and keeps the tempo read before.
  for (const bool folder_instead : {false, true}) {
    ChannelSelection ch;
    add(&ch, folder + "/my.song.mp3");
    write(folder + "/my.bin", with_tempo(90.0f));
    ASSERT_EQ(ch.ReadTempo(), 90);
    std::filesystem::remove(folder + "/my.bin");
    if (folder_instead) std::filesystem::create_directories(folder + "/my.bin");
    EXPECT_EQ(ch.ReadTempo(), 0) << folder_instead;
    EXPECT_EQ(ch.channel_tempo(), 90) << folder_instead;
    std::filesystem::remove(folder + "/my.bin");
  }
  std::filesystem::current_path(cwd);
}

TEST(FileType, Table) {
  struct Case {
    const char16_t* path;
    int32_t type, kind;
    const char16_t* name;
  } cases[] = {
      {u"a.JPG", 1, 2, u"JPEG"},     {u"a.3gpp", 6, 3, u"3GP"},       {u"a.3g2", 6, 3, u"3GP"},
      {u"a.mpa", 13, 1, u"MPEG-4"},  {u"a.m4a", 14, 1, u"MPEG-4"},    {u"a.mp4", 5, 3, u"MPEG-4"},
      {u"a.mix", 15, 4, u"vEX project"}, {u"a.png", 0, 0, u"Unknown"},
  };
  for (const Case& c : cases) {
    int32_t kind = -1;
    EXPECT_EQ(screens::FileTypeOfPath(c.path, &kind), c.type) << Str(c.path).size();
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(Str(screens::FileTypeName(c.type)), c.name);
  }
  screens::RecordSelection none;
  EXPECT_EQ(none.GetSelectedKind(), 0);
  EXPECT_EQ(none.GetSelectedFileType(), 0);
  EXPECT_TRUE(none.GetSelectedPath().IsEmpty());
  EXPECT_EQ(none.IsSelectionUsable(), 0);
  screens::MediaFileRecord broken{u"/media/", u"x.jpg", 1, nullptr, {}, 0, 2, 1};
  none.Select(&broken);
  EXPECT_EQ(none.GetSelectedKind(), 2);
  EXPECT_EQ(Str(none.GetSelectedPath()), u"/media/x.jpg");
  EXPECT_EQ(none.IsSelectionUsable(), 0);
}

}  // namespace
