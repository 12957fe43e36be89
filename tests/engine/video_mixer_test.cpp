// The video mixer driven by synthetic sources on a virtual clock: letterbox,
// crop, z-order, companions, hold, loop, pause and resume, effects by command.
#include "engine/video_mixer.h"

#include "engine/audio_mixer.h"
#include "engine/raw_frame_cache_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/imaging/image.h"
#include "tests/support/md5.h"
#include "tests/support/test_paths.h"

namespace {

using engine::EngineCommand;

constexpr int32_t kW = 64, kH = 48;
constexpr uint32_t kFps = 10;

uint16_t Rgb(int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); }

// Frames of `w` x `h` every `duration` ms (-1: a still), `count` of them.
// Pixel (x, y) of frame k: red from x, green from y, blue from k; a white
// marker in the top-left corner shows orientation. Bottom-up sources store
// the same picture with its rows reversed.
struct Synthetic : media::DecoderSource {
  int32_t w, h;
  int32_t duration;
  uint32_t count;
  bool bottomUp;
  bool whiteKey = false;  // the format names white as its colour key
  uint32_t nextIndex = 0;
  int* reads;
  Synthetic(int32_t w_, int32_t h_, int32_t d, uint32_t n, bool up, int* r)
      : w(w_), h(h_), duration(d), count(n), bottomUp(up), reads(r) {}
  static uint16_t Pixel(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t k) {
    if (x < w / 4 && y < h / 4) return 0xFFFF;
    return Rgb(x * 31 / w, y * 63 / h, int(k * 3 % 32));
  }
  bool Seek(uint32_t t) override {
    nextIndex = duration > 0 ? t / uint32_t(duration) : 0;
    return true;
  }
  bool Rewind() override { return Seek(0); }
  bool GetFormat(media::MediaFormat* f) override {
    *f = media::MediaFormat{};
    f->width = uint32_t(w);
    f->height = uint32_t(h);
    f->frameDurationMs = duration < 0 ? 0xFFFFFFFFu : uint32_t(duration);
    f->hasColourKey = whiteKey ? 1 : 0;
    f->colourKey = whiteKey ? 0x00FFFFFF : 0;
    return true;
  }
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs, uint32_t) override {
    buffer->reset();
    ++*reads;
    const uint32_t k = nextIndex;
    if (k >= count) return false;
    if (duration > 0 && endMark != 0 && k * uint32_t(duration) >= endMark) return false;
    ++nextIndex;
    buffer->reset(new uint8_t[size_t(w) * size_t(h) * 2]);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint16_t v = Pixel(x, y, w, h, k);
        const int32_t row = bottomUp ? h - 1 - y : y;
        (*buffer)[size_t(row * w + x) * 2] = uint8_t(v);
        (*buffer)[size_t(row * w + x) * 2 + 1] = uint8_t(v >> 8);
      }
    *bytes = uint32_t(w * h * 2);
    *timeMs = duration > 0 ? k * uint32_t(duration) : 0;
    return true;
  }
  bool IsBottomUp() override { return bottomUp; }
  bool Open(const ov::String&, uint32_t) override { return true; }
};

// Paths name the synthetic clip: "WxH:duration:count[:up|:key]" (":key": the
// source keys out white itself).
struct Fixture {
  engine::VideoMixer mixer{kW, kH, kFps, 0};
  int reads = 0;
  Fixture() {
    mixer.SetSourceOpener([this](const ov::String& path, uint32_t) -> std::unique_ptr<media::DecoderSource> {
      int w = 0, h = 0, d = 0, n = 0;
      char up[8] = {};
      const std::string p = path.ToUtf8Lossy();
      if (std::sscanf(p.c_str(), "%dx%d:%d:%d:%7s", &w, &h, &d, &n, up) < 4) return nullptr;
      auto source = std::make_unique<Synthetic>(w, h, d, uint32_t(n), std::string(up) == "up", &reads);
      source->whiteKey = std::string(up) == "key";
      return source;
    });
  }
  int Apply(uint32_t type, uint32_t channel, uint32_t t, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0,
            int32_t p4 = 0, const char* path = "", uint32_t flag = 0) {
    EngineCommand c;
    c.type = type;
    c.channel = channel + engine::kFirstVideoChannel;
    c.timeMs = t;
    c.param1 = p1;
    c.param2 = p2;
    c.param3 = p3;
    c.param4 = p4;
    c.path = ov::String::FromAscii(path);
    c.flag = flag;
    return mixer.ApplyAction(c, 0);
  }
  int Load(uint32_t ch, const char* clip, uint32_t crop = engine::kWholePicture, int32_t start = 0, int32_t end = 0) {
    return Apply(engine::CMD_LOAD, ch, 0, -1, start, end, int32_t(crop), clip);
  }
  uint16_t At(int32_t x, int32_t y) { return mixer.frame().Row(y)[x]; }
};

const std::map<std::string, std::string>& Goldens() {
  static const std::map<std::string, std::string> g = {
      {"crop", "afcdf13a8fc5c09c19cf00c8812a165b"},
      {"fade_over_channel", "5854ad17ae9d57830791d56c3497f335"},
      {"letterbox", "4482969e628c1dfa08f16d6bc3f573b8"},
      {"pillarbox", "8de4e93d10a2e1524bdca5cf0087ede3"},
      {"zorder", "6dd0be6a8cc26aa4b0ab778b1abe93be"},
  };
  return g;
}

void CheckGolden(const std::string& name, const engine::Picture565& frame) {
  const std::string hash = ovtest::Md5Hex(frame.bits, size_t(frame.width) * size_t(frame.height) * 2);
  auto it = Goldens().find(name);
  const bool ok = it != Goldens().end() && it->second == hash;
  EXPECT_TRUE(ok) << name << " hash " << hash;
  if (!ok) {
    gfx::HBitmap b = gfx::CreateBitmap565(frame.width, frame.height);
    for (int32_t y = 0; y < frame.height; ++y)
      std::memcpy(b->bits() + y * b->stride(), frame.Row(y), size_t(frame.width) * 2);
    imaging::WritePng(ovtest::ScratchDir() + "/../" + name + ".actual.png", *b);
  }
}

TEST(VideoMixer, NothingPlayingShowsOneBlankFrame) {
  Fixture f;
  EXPECT_TRUE(f.mixer.ComposeFrame(0));
  EXPECT_FALSE(f.mixer.ComposeFrame(100));
  ASSERT_EQ(f.Load(0, "40x20:100:50"), 1);
  EXPECT_FALSE(f.mixer.ComposeFrame(200));  // loaded but not playing draws nothing
  f.Apply(engine::CMD_PLAY, 0, 200);
  EXPECT_TRUE(f.mixer.ComposeFrame(300));
}

TEST(VideoMixer, LetterboxCropAndFlip) {
  Fixture f;
  // 40 x 20 fills the width with black bands above and below.
  ASSERT_EQ(f.Load(0, "40x20:100:50"), 1);
  f.Apply(engine::CMD_PLAY, 0, 0);
  f.mixer.ComposeFrame(0);
  EXPECT_EQ(f.At(10, 7), 0);
  EXPECT_EQ(f.At(10, 40), 0);
  // The whole-picture crop word keeps 255/256 of each side: 39 x 19 is fitted.
  const engine::FittedRect wide = engine::FitInFrame(39, 19, kW, kH);
  EXPECT_GT(wide.y, 0);
  EXPECT_EQ(f.At(0, wide.y - 1), 0);
  EXPECT_EQ(f.At(0, wide.y), 0xFFFF);  // the marker lands at the top-left of the picture
  EXPECT_EQ(f.At(0, wide.y + wide.height), 0);
  CheckGolden("letterbox", f.mixer.frame());
  // 20 x 40 fills the height with bands left and right.
  Fixture g;
  ASSERT_EQ(g.Load(0, "20x40:100:50"), 1);
  g.Apply(engine::CMD_PLAY, 0, 0);
  g.mixer.ComposeFrame(0);
  const engine::FittedRect tall = engine::FitInFrame(19, 39, kW, kH);
  EXPECT_EQ(g.At(tall.x - 1, 0), 0);
  EXPECT_EQ(g.At(tall.x, 0), 0xFFFF);
  CheckGolden("pillarbox", g.mixer.frame());
  // The right half of the picture, top to bottom: no marker.
  Fixture c;
  ASSERT_EQ(c.Load(0, "40x20:100:50", 0x80FF00FF), 1);
  c.Apply(engine::CMD_PLAY, 0, 0);
  c.mixer.ComposeFrame(0);
  CheckGolden("crop", c.mixer.frame());
  // A bottom-up source is drawn the right way up.
  Fixture u;
  ASSERT_EQ(u.Load(0, "40x20:100:50:up"), 1);
  u.Apply(engine::CMD_PLAY, 0, 0);
  u.mixer.ComposeFrame(0);
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) ASSERT_EQ(u.At(x, y), f.At(x, y)) << x << "," << y;
}

TEST(VideoMixer, ZOrderAndCompanions) {
  Fixture f;
  ASSERT_EQ(f.Load(0, "64x48:100:50"), 1);
  ASSERT_EQ(f.Load(1, "32x48:100:50"), 1);
  ASSERT_EQ(f.Load(8, "64x48:100:50"), 1);  // companion of 0: on top
  EXPECT_EQ(f.mixer.zOrder(), (std::vector<uint32_t>{0, 1, 8}));
  f.Apply(engine::CMD_STOP, 0, 0);  // stops its companion too
  EXPECT_FALSE(f.mixer.IsChannelLoaded(8));
  EXPECT_EQ(f.mixer.zOrder(), (std::vector<uint32_t>{1}));
  ASSERT_EQ(f.Load(8, "64x48:100:50"), 1);
  ASSERT_EQ(f.Load(0, "64x48:100:50"), 1);  // goes above its companion
  EXPECT_EQ(f.mixer.zOrder(), (std::vector<uint32_t>{1, 8, 0}));
  // Playing channel 1 on top; the channels below pause (0-8) when it starts.
  f.Apply(engine::CMD_PLAY, 0, 0);
  f.Apply(engine::CMD_PLAY, 8, 0);
  f.Apply(engine::CMD_PLAY, 1, 0, 1);
  EXPECT_EQ(f.mixer.zOrder(), (std::vector<uint32_t>{8, 0, 1}));
  EXPECT_FALSE(f.mixer.IsChannelPlaying(0));
  EXPECT_FALSE(f.mixer.IsChannelPlaying(8));
  f.Apply(engine::CMD_PLAY, 0, 0);  // back on, but under channel 1
  f.mixer.ComposeFrame(0);
  CheckGolden("zorder", f.mixer.frame());
  // Moving 1 into 9 keeps its place in the z-order.
  f.Apply(engine::CMD_SET_ZORDER, 1, 100, 25);
  EXPECT_EQ(f.mixer.zOrder(), (std::vector<uint32_t>{8, 0, 9}));
  EXPECT_TRUE(f.mixer.IsChannelLoaded(9));
  EXPECT_FALSE(f.mixer.IsChannelLoaded(1));
}

TEST(VideoMixer, PictureLayers) {
  Fixture f;
  EXPECT_EQ(f.Apply(engine::CMD_LOAD_IMAGE, 0, 0, 0, 0, 0, 0, "16x16:-1:1"), 0);  // channel not loaded
  ASSERT_EQ(f.Load(0, "64x48:100:50"), 1);
  f.Apply(engine::CMD_PLAY, 0, 0);
  f.mixer.ComposeFrame(0);
  const uint16_t plain = f.At(40, 30);
  // A 16 x 8 layer keyed on white: its marker lets the channel show through.
  ASSERT_EQ(f.Apply(engine::CMD_LOAD_IMAGE, 0, 0, 0x00FFFFFF, 0, 0, 0, "16x8:-1:1"), 1);
  f.mixer.ComposeFrame(100);
  EXPECT_NE(f.At(40, 30), plain);  // the layer covers the channel there
  EXPECT_EQ(f.At(40, 30), Synthetic::Pixel(40 * 16 / 64, (30 - 8) * 8 / 32, 16, 8, 0));
  EXPECT_EQ(f.At(2, 10), Synthetic::Pixel(2, 10, 64, 48, 1));  // marker keyed out: frame 1 of the channel
  for (int i = 0; i < 4; ++i) EXPECT_EQ(f.Apply(engine::CMD_LOAD_IMAGE, 0, 0, 0, 0, 0, 0, "8x8:-1:1"), 1);
  EXPECT_EQ(f.Apply(engine::CMD_LOAD_IMAGE, 0, 0, 0, 0, 0, 0, "8x8:-1:1"), 0);  // a sixth is refused
  f.mixer.ComposeFrame(200);
}

// 0x00BBGGRR of an RGB565 colour, as ColourRefTo565 takes it back.
uint32_t ColourRef(uint16_t p) {
  return uint32_t((p >> 11) << 3) | uint32_t(((p >> 5) & 63) << 2) << 8 | uint32_t((p & 31) << 3) << 16;
}

TEST(VideoMixer, ALayersOwnColourKeyComesBeforeTheCommandsKey) {
  Fixture f;
  ASSERT_EQ(f.Load(0, "64x48:100:50"), 1);
  f.Apply(engine::CMD_PLAY, 0, 0);
  // The layer keys out white itself; the command names the colour of layer
  // pixel (12, 6), which must stay (the layer is fitted to 64 x 32 at y 8).
  const uint16_t named = Synthetic::Pixel(12, 6, 16, 8, 0);
  ASSERT_EQ(engine::ColourRefTo565(ColourRef(named)), named);
  ASSERT_EQ(f.Apply(engine::CMD_LOAD_IMAGE, 0, 0, int32_t(ColourRef(named)), 0, 0, 0, "16x8:-1:1:key"), 1);
  f.mixer.ComposeFrame(0);
  EXPECT_EQ(f.At(48, 32), named);
  EXPECT_EQ(f.At(2, 10), Synthetic::Pixel(2, 10, 64, 48, 0));  // the white marker is keyed out
}

// A moving clip under a layer goes on playing: where the layer keys out, each
// frame shows what the clip alone shows at that time; elsewhere the layer.
// The clip is cropped to its lower right quarter, away from its marker.
TEST(VideoMixer, AClipUnderALayerGoesOnPlaying) {
  const uint32_t quarter = 128u << 24 | 255u << 16 | 128u << 8 | 255u;
  Fixture plain, layered;
  for (Fixture* f : {&plain, &layered}) {
    ASSERT_EQ(f->Load(0, "64x48:100:50", quarter), 1);
    f->Apply(engine::CMD_PLAY, 0, 0);
  }
  // Frame-sized and keyed on white: its marker (16 x 12) lets the clip through.
  ASSERT_EQ(layered.Apply(engine::CMD_LOAD_IMAGE, 0, 0, 0, 0, 0, 0, "64x48:-1:1:key"), 1);
  const uint16_t first = [&] {
    plain.mixer.ComposeFrame(0);
    return plain.At(8, 6);
  }();
  int changed = 0;
  for (uint32_t t = 0; t <= 1250; t += 50) {
    SCOPED_TRACE(t);
    plain.mixer.ComposeFrame(t);
    layered.mixer.ComposeFrame(t);
    changed += plain.At(8, 6) != first;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) {
        const bool through = x < kW / 4 && y < kH / 4;
        const uint16_t want = through ? plain.At(x, y) : Synthetic::Pixel(x, y, kW, kH, 0);
        if (layered.At(x, y) != want) FAIL() << x << "," << y;
      }
  }
  EXPECT_GT(changed, 20);
}

TEST(VideoMixer, StillPictureReadsOnce) {
  Fixture f;
  ASSERT_EQ(f.Load(2, "16x16:-1:1"), 1);
  f.Apply(engine::CMD_PLAY, 2, 0);
  for (uint32_t t = 0; t < 5000; t += 100) EXPECT_TRUE(f.mixer.ComposeFrame(t));
  EXPECT_EQ(f.reads, 1);
  EXPECT_TRUE(f.mixer.IsChannelPlaying(2));
}

TEST(VideoMixer, PauseResumeLoopAndEnd) {
  Fixture f;
  ASSERT_EQ(f.Load(0, "8x8:100:10"), 1);  // one second of frames
  f.Apply(engine::CMD_PLAY, 0, 1000);
  f.mixer.ComposeFrame(1350);
  EXPECT_EQ(f.mixer.GetChannelPosition(0), 300u);
  f.Apply(engine::CMD_PAUSE, 0, 1400);
  f.Apply(engine::CMD_PAUSE, 0, 1500);  // already paused: no change
  f.Apply(engine::CMD_PLAY, 0, 5000);
  f.Apply(engine::CMD_PLAY, 0, 6000);   // already playing: no change
  f.mixer.ComposeFrame(5250);           // 400 ms played, then 250 more
  EXPECT_EQ(f.mixer.GetChannelPosition(0), 600u);
  // The last frame (900 ms) shows for its duration, then the clip ends.
  f.mixer.ComposeFrame(5550);
  EXPECT_EQ(f.mixer.GetChannelPosition(0), 900u);
  f.mixer.ComposeFrame(5700);
  EXPECT_FALSE(f.mixer.IsChannelLoaded(0));

  // A looping clip starts again at its start mark.
  Fixture l;
  ASSERT_EQ(l.Load(0, "8x8:100:10", engine::kWholePicture, 300, 0), 1);
  l.Apply(engine::CMD_SET_LOOP, 0, 0);
  l.Apply(engine::CMD_PLAY, 0, 0);
  l.mixer.ComposeFrame(0);
  EXPECT_EQ(l.mixer.GetChannelPosition(0), 300u);
  l.mixer.ComposeFrame(650);
  EXPECT_EQ(l.mixer.GetChannelPosition(0), 900u);
  l.mixer.ComposeFrame(800);
  EXPECT_TRUE(l.mixer.IsChannelLoaded(0));
  EXPECT_EQ(l.mixer.GetChannelPosition(0), 300u);
  l.mixer.ComposeFrame(1050);
  EXPECT_EQ(l.mixer.GetChannelPosition(0), 500u);
}

// A frame shows from its own time until the next frame's time, whether the
// compose lands on a frame's time or between two; the last frame before a
// cut that falls between frame times shows for its own duration, then the
// clip ends. The clip is a ".raw" cache read through the default opener.
TEST(VideoMixer, EachFrameShowsFromItsOwnTimeAndTheLastOneBeforeACut) {
  // Six solid frames of 40 ms, each a different colour in all three planes.
  constexpr uint32_t kCacheW = 8, kCacheH = 6;
  auto colour = [](int k) { return Rgb(3 + 5 * k, 60 - 9 * k, 1 + 6 * k); };
  engine::RawFrameHeader header;
  header.width = kCacheW;
  header.height = kCacheH;
  header.frameDuration = 40;
  std::vector<uint8_t> bytes(engine::kRawHeaderBytes);
  header.Serialize(bytes.data());
  for (int k = 0; k < 6; ++k)
    for (uint32_t i = 0; i < kCacheW * kCacheH; ++i) {
      bytes.push_back(uint8_t(colour(k)));
      bytes.push_back(uint8_t(colour(k) >> 8));
    }
  const std::string path = ovtest::ScratchDir() + "/frames.raw";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  struct Step {
    uint32_t t;
    int frame;  // -1: the clip has ended
  } steps[] = {
      {0, 0},   {25, 0}, {40, 1}, {70, 1}, {80, 2}, {119, 2},
      {120, 3},   // the last frame before the cut at 130
      {150, 3},   // past the cut: the last frame keeps its 40 ms
      {160, -1},  // then the clip ends
  };
  engine::VideoMixer mixer(int32_t(kCacheW), int32_t(kCacheH), 25, 0);
  EngineCommand load = engine::MakeCommand(engine::CMD_LOAD, engine::kFirstVideoChannel, -1, 0, 130, 0);
  load.path = ov::String::FromUtf8Lossy(path);
  ASSERT_EQ(mixer.ApplyAction(load, 0), 1);
  mixer.ApplyAction(engine::MakeCommand(engine::CMD_PLAY, engine::kFirstVideoChannel), 0);
  for (const Step& s : steps) {
    mixer.ComposeFrame(s.t);
    EXPECT_EQ(mixer.IsChannelLoaded(0), s.frame >= 0) << "at " << s.t;
    const uint16_t want = s.frame >= 0 ? colour(s.frame) : 0;
    std::lock_guard<std::recursive_mutex> lock(mixer.mutex());
    int wrong = 0;
    for (int32_t y = 0; y < int32_t(kCacheH); ++y)
      for (int32_t x = 0; x < int32_t(kCacheW); ++x) wrong += mixer.frame().Row(y)[x] != want;
    EXPECT_EQ(wrong, 0) << "at " << s.t << " want frame " << s.frame;
  }
}

TEST(VideoMixer, RateScalesTheClockAndAPauseKeepsThePosition) {
  // Each step is a command at a time (rate in per mille), or a compose at a
  // time and the position it shows (frames of 100 ms from a start mark of
  // 2000 ms).
  constexpr uint32_t kCompose = 0xFFFF;
  struct Step {
    uint32_t what, t;
    int32_t value;
    const char* why;
  };
  const Step steps[] = {
      {engine::CMD_SET_RATE, 0, 500, ""},
      {engine::CMD_PLAY, 0, 0, ""},
      {kCompose, 850, 2400, "half speed: 850 ms of clock is 425 ms of clip"},
      {engine::CMD_PAUSE, 850, 0, ""},
      {engine::CMD_PLAY, 1000, 0, ""},
      {kCompose, 1000, 2400, "played again: on from 2425"},
      {kCompose, 1400, 2600, ""},
      {engine::CMD_SET_RATE, 1400, 2000, ""},
      {kCompose, 1900, 3600, "double speed: 500 ms of clock is 1000 ms of clip"},
      {engine::CMD_PAUSE, 2000, 0, ""},
      {engine::CMD_PLAY, 5000, 0, ""},
      {kCompose, 5000, 3800, "a pause with no compose since at this rate"},
  };
  Fixture f;
  ASSERT_EQ(f.Load(0, "8x8:100:100", engine::kWholePicture, 2000, 0), 1);
  for (const Step& s : steps) {
    if (s.what != kCompose) {
      f.Apply(s.what, 0, s.t, s.value);
      continue;
    }
    f.mixer.ComposeFrame(s.t);
    EXPECT_EQ(f.mixer.GetChannelPosition(0), uint32_t(s.value)) << "at " << s.t << ": " << s.why;
  }
}

TEST(VideoMixer, TheDefaultOpenerSizesPicturesByTheLoadMode) {
  // A 256 x 192 picture with every fourth column white, on a 64 x 48 mix. A
  // replayed load (mode 4) keeps it whole, so the fit samples the white
  // columns; at scale 1 it is first reduced to 64 x 48 and the columns blur.
  const std::string path = ovtest::ScratchDir() + "/columns.png";
  gfx::HBitmap b = gfx::CreateBitmap565(256, 192);
  ASSERT_TRUE(b);
  for (int32_t y = 0; y < 192; ++y)
    for (int32_t x = 0; x < 256; ++x) b->bits()[y * b->stride() + x] = x % 4 == 0 ? 0xFFFF : 0;
  ASSERT_TRUE(imaging::WritePng(path, *b));
  for (const bool replaying : {true, false}) {
    engine::VideoMixer mixer(kW, kH, kFps, 0);
    EngineCommand load;
    load.type = engine::CMD_LOAD;
    load.channel = engine::kFirstVideoChannel;
    load.path = ov::String::FromUtf8Lossy(path);
    load.param1 = -1;
    load.param5 = replaying ? 0 : 1;  // 1: scale 1
    ASSERT_EQ(mixer.ApplyAction(load, replaying ? 1 : 0), 1);
    load.type = engine::CMD_PLAY;
    mixer.ApplyAction(load, 0);
    mixer.ComposeFrame(0);
    std::lock_guard<std::recursive_mutex> lock(mixer.mutex());
    int white = 0;
    for (int32_t x = 0; x < kW; ++x) white += mixer.frame().Row(kH / 2)[x] == 0xFFFF;
    EXPECT_EQ(white, replaying ? kW : 0) << replaying;
  }
}

struct FakeEngine : engine::VideoMixerEngineLink {
  engine::VideoMixer* mixer = nullptr;
  bool playing = true;
  std::vector<EngineCommand> posted;
  std::vector<std::pair<uint32_t, std::string>> actions;
  bool IsPlaying() override { return playing; }
  void PostAction(const EngineCommand& c) override {
    posted.push_back(c);
    if (c.channel >= engine::kFirstVideoChannel) mixer->ApplyAction(c, 1);
  }
  void DispatchCommand(const EngineCommand& c) override { posted.push_back(c); }
  void QueueAppAction(uint32_t a, const ov::String& arg) override { actions.emplace_back(a, arg.ToUtf8Lossy()); }
};

TEST(VideoMixer, HeldClipMovesIntoItsCompanion) {
  Fixture f;
  FakeEngine e;
  e.mixer = &f.mixer;
  f.mixer.SetEngine(&e);
  ASSERT_EQ(f.Load(3, "8x8:100:3"), 1);
  ASSERT_EQ(f.Load(11, "8x8:100:30"), 1);
  f.Apply(engine::CMD_SET_HOLD, 3, 0);
  f.Apply(engine::CMD_PLAY, 3, 0);
  f.mixer.ComposeFrame(0);
  f.mixer.ComposeFrame(400);
  ASSERT_EQ(e.posted.size(), 2u);
  EXPECT_EQ(e.posted[0].type, engine::CMD_STOP);
  EXPECT_EQ(e.posted[0].channel, 27u);
  EXPECT_EQ(e.posted[1].type, engine::CMD_SET_ZORDER);
  EXPECT_EQ(e.posted[1].channel, 19u);
  EXPECT_EQ(e.posted[1].param1, 27);
  ASSERT_EQ(e.actions.size(), 1u);
  EXPECT_EQ(e.actions[0].first, 227u);
  EXPECT_EQ(e.actions[0].second, "3");
  EXPECT_TRUE(f.mixer.IsChannelLoaded(11));
  EXPECT_FALSE(f.mixer.IsChannelLoaded(3));

  // While the engine does not play the last frame just stays; on a
  // companion channel too, which has no companion to move into.
  FakeEngine idle;
  idle.playing = false;
  Fixture g;
  idle.mixer = &g.mixer;
  g.mixer.SetEngine(&idle);
  ASSERT_EQ(g.Load(3, "8x8:100:3"), 1);
  ASSERT_EQ(g.Load(12, "8x8:100:4"), 1);
  for (uint32_t ch : {12u, 3u}) {  // 3 last: a play pauses the channels below
    g.Apply(engine::CMD_SET_HOLD, ch, 0);
    g.Apply(engine::CMD_PLAY, ch, 0);
  }
  for (uint32_t t = 0; t < 2000; t += 100) g.mixer.ComposeFrame(t);
  EXPECT_TRUE(g.mixer.IsChannelPlaying(3));
  EXPECT_EQ(g.mixer.GetChannelPosition(3), 200u);
  EXPECT_TRUE(g.mixer.IsChannelPlaying(12));
  EXPECT_EQ(g.mixer.GetChannelPosition(12), 300u);
  EXPECT_TRUE(idle.posted.empty());
  EXPECT_TRUE(idle.actions.empty());
}

TEST(VideoMixer, ALoopRestartsItsLinkedSound) {
  FakeEngine e;  // outlives the mixer, whose end stops the linked sound
  Fixture f;
  e.mixer = &f.mixer;
  f.mixer.SetEngine(&e);  // without an audio mixer, sound commands go to the engine
  ASSERT_EQ(f.Apply(engine::CMD_LOAD, 0, 0, 3, 300, 0, int32_t(engine::kWholePicture), "8x8:100:10"), 1);
  f.Apply(engine::CMD_SET_LOOP, 0, 0);
  f.Apply(engine::CMD_PLAY, 0, 0);
  f.mixer.ComposeFrame(0);
  auto restarts = [&] {
    int n = 0;
    for (const EngineCommand& c : e.posted) n += c.type == engine::CMD_RESTART && c.channel == 3;
    return n;
  };
  EXPECT_EQ(restarts(), 0);
  f.mixer.ComposeFrame(800);  // past the 700 ms from the start mark to the end
  EXPECT_EQ(restarts(), 1);
  EXPECT_EQ(f.mixer.GetChannelPosition(0), 300u);
}

TEST(VideoMixer, LinkedSoundChannelFollowsTheClip) {
  const std::string clip = ovtest::FixturePath("engine_22k_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  engine::AudioMixer audio(16, 22050, 2);
  Fixture f;
  f.mixer.SetAudioMixer(&audio);
  ASSERT_EQ(audio.LoadChannel(3, ov::String::FromUtf8Lossy(clip), 0, 0, 0.0f), 1);
  // Video channel 0 linked to sound channel 3, looping a one-second clip.
  ASSERT_EQ(f.Apply(engine::CMD_LOAD, 0, 0, 3, 0, 0, int32_t(engine::kWholePicture), "8x8:100:10"), 1);
  f.Apply(engine::CMD_SET_LOOP, 0, 0);
  EXPECT_FALSE(audio.IsChannelPlaying(3));
  f.Apply(engine::CMD_PLAY, 0, 0);
  EXPECT_TRUE(audio.IsChannelPlaying(3));  // the play reaches the sound channel
  f.Apply(engine::CMD_PAUSE, 0, 200);
  EXPECT_FALSE(audio.IsChannelPlaying(3));
  f.Apply(engine::CMD_PLAY, 0, 300);
  EXPECT_TRUE(audio.IsChannelPlaying(3));
  // While the sound reports no position the clock drives the picture.
  f.mixer.ComposeFrame(550);  // 200 ms before the pause, 250 after
  EXPECT_EQ(f.mixer.GetChannelPosition(0), 400u);
  f.Apply(engine::CMD_STOP, 0, 600);
  EXPECT_FALSE(audio.IsChannelLoaded(3));  // stopping the picture stops its sound
}

TEST(VideoMixer, EffectsByCommand) {
  Fixture f;
  ASSERT_EQ(f.Load(0, "64x48:100:100"), 1);
  ASSERT_EQ(f.Load(1, "32x48:100:100"), 1);
  f.Apply(engine::CMD_PLAY, 0, 0);
  // A fade of 500 ms on channel 1: a second transition is ignored.
  f.Apply(engine::CMD_FADE, 1, 0, 500, 0);
  f.Apply(engine::CMD_SLIDE, 1, 0, 500, 1);
  f.Apply(engine::CMD_PLAY, 1, 0);
  EXPECT_TRUE(f.mixer.IsChannelPlaying(0));  // a transition keeps what is below until it ends
  f.mixer.ComposeFrame(0);
  f.mixer.ComposeFrame(300);
  CheckGolden("fade_over_channel", f.mixer.frame());
  for (uint32_t t = 400; t < 1200; t += 100) f.mixer.ComposeFrame(t);
  EXPECT_FALSE(f.mixer.IsChannelPlaying(0));  // paused beneath once the fade ended
  // Five overlays at most.
  for (int i = 0; i < 6; ++i) f.Apply(engine::CMD_COLOUR_FILTER, 1, 1200, 0);
  f.mixer.ComposeFrame(1300);
  EXPECT_EQ(f.At(40, 40) >> 11, (f.At(40, 40) & 31));  // grey: red equals blue
  EXPECT_TRUE(f.mixer.AreOverlaysFinished(0));
  EXPECT_EQ(f.Apply(205, 1, 0), 0);  // never applied
}

}  // namespace
