// Video effects on small RGB565 frames: each transition at its start, middle
// and end, the photo filters, pan and zoom, checked against golden hashes of
// frames that were looked at once. A mismatch writes <name>.actual.png into
// the test's scratch folder for review.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/blind_transition.h"
#include "engine/colour_filter_effect.h"
#include "engine/fade_transition.h"
#include "engine/file_video_effect.h"
#include "engine/pan_zoom_effect.h"
#include "engine/raw_frame_cache_writer.h"
#include "engine/slide_transition.h"
#include "engine/sweep_transition.h"
#include "engine/zoom_transition.h"
#include "platform/gfx/bitmap.h"
#include "platform/imaging/image.h"
#include "tests/support/md5.h"
#include "tests/support/test_paths.h"

namespace {

using engine::Picture565;

constexpr int32_t kW = 64, kH = 48;
constexpr uint32_t kFps = 10;

uint16_t Rgb(int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); }

// A picture that owns its pixels.
struct Pic {
  std::vector<uint16_t> px;
  Picture565 view;
  Pic(int32_t w, int32_t h) : px(size_t(w) * size_t(h)) { view = Picture565{px.data(), w, h, w}; }
};

// What lies below: a blue-to-cyan ramp. The new picture: coloured quarters
// with a white square, so direction and flips show.
void FillBelow(const Picture565& p) {
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) p.Row(y)[x] = Rgb(0, x * 63 / p.width, 10 + y * 21 / p.height);
}
void FillNew(const Picture565& p) {
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) {
      const bool right = x >= p.width / 2, low = y >= p.height / 2;
      uint16_t v = !right && !low ? Rgb(31, 0, 0) : right && !low ? Rgb(0, 63, 0) : !right ? Rgb(31, 63, 0) : Rgb(20, 20, 31);
      if (x >= p.width / 8 && x < p.width / 4 && y >= p.height / 8 && y < p.height / 4) v = 0xFFFF;
      p.Row(y)[x] = v;
    }
}

// Golden hashes of the frames below, each looked at once.
const std::map<std::string, std::string>& Goldens() {
  static const std::map<std::string, std::string> g = {
      {"blind1_end", "b74a2130b5edec81cc5a51fe936e72a5"},
      {"blind1_middle", "e1293ebc76faf104a33885d66a8f77bd"},
      {"blind1_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"blind2_end", "9dd3d02f5f795864d827801a2cd88293"},
      {"blind2_middle", "162e13f6848d782975804ba29f3320d2"},
      {"blind2_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"blind3_end", "d11294a35bbe15fbf3b96748fbd69f13"},
      {"blind3_middle", "169fc7d41d95573e6a8fcd63b43c85fc"},
      {"blind3_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"blind4_end", "8590e37e5948b03e353bebf712086b52"},
      {"blind4_middle", "533bb2cad40b6b36d0f7a30a21935498"},
      {"blind4_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"fade_end", "49d363c0f5e3ba18f5b5395706470c1c"},
      {"fade_middle", "107fb94f926edf663d0b8d8f3d83da8d"},
      {"fade_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"file_end", "55c15b6efeaccced49be5788543783d4"},
      {"file_middle", "1108a6ecc65079527d5c918342dc4d5f"},
      {"file_start", "ca942db6c433d1baa20ab0f688802d31"},
      {"filter0", "93485a6d9b20fcf87d05b439d4394fc2"},
      {"filter0_source", "0ac9e95fbb634eb67293e341c8080c17"},
      {"filter1", "10e4bbf2b1b255d912021d998007b08f"},
      {"filter1_source", "3305d5487e3d70089156e663b9b227de"},
      {"filter2", "eb17696b0342bc893e029d6fea294705"},
      {"filter2_source", "e505d01ce14649785e29fddaffb1b658"},
      {"panzoom_end", "e542fe1f27f0e2c4ac51f2c588689486"},
      {"panzoom_start", "9a22cf59c5018d30afededdb27cd1914"},
      {"slide1_end", "27b58431584ee6715fde2fa6f3f724d5"},
      {"slide1_middle", "dedf6d7608c01fa66c3191ef0d22f081"},
      {"slide1_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"slide2_end", "22a05e341199caf3f00687f5c8864b47"},
      {"slide2_middle", "65d13771e40bda1d141968f202a0b81b"},
      {"slide2_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"slide3_end", "5e4c3f1da79c53e451905ff0017ff1a6"},
      {"slide3_middle", "78de469a308b2a3c3736ee45e3a23e54"},
      {"slide3_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"slide4_end", "bf5b8b3f23ac28749a5fcea570b0c394"},
      {"slide4_middle", "9bc7c5da2c01ed317b0081b8ab1a9f6b"},
      {"slide4_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"sweep1_end", "a0b14fbd6dd4f068759858fea98dd62e"},
      {"sweep1_middle", "7e702f5ffd18bc3a4da000bff0a336a7"},
      {"sweep1_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"sweep2_end", "6f71f6a3c56701f613cc57da4375a052"},
      {"sweep2_middle", "c4a3f5f06752c6388a2d06961615d747"},
      {"sweep2_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"sweep3_end", "c7e007881fbc7e1ae9925f12a2c6be66"},
      {"sweep3_middle", "5a473e3f7569a3ba265bc313032c5e68"},
      {"sweep3_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"sweep4_end", "d06e6cd271851e504fb09c71860e5a91"},
      {"sweep4_middle", "b5074163e6b2fa78e1c75fced18e9c15"},
      {"sweep4_start", "d4b9b2cc4e8b27885cda8361c47f7b50"},
      {"zoom_end", "48555a792e9bf72f47b5c449c5b4a3c4"},
      {"zoom_middle", "fc905c4cbf808844fa71ab3144d261a0"},
      {"zoom_start", "e4e142e00cc2bac263b2fadeda521742"},
  };
  return g;
}

void CheckGolden(const std::string& name, const Picture565& frame) {
  const std::string hash = ovtest::Md5Hex(frame.bits, size_t(frame.width) * size_t(frame.height) * 2);
  auto it = Goldens().find(name);
  const bool ok = it != Goldens().end() && it->second == hash;
  EXPECT_TRUE(ok) << name << " hash " << hash;
  if (!ok) {
    gfx::HBitmap b = gfx::CreateBitmap565(frame.width, frame.height);
    for (int32_t y = 0; y < frame.height; ++y) std::memcpy(b->bits() + y * b->stride(), frame.Row(y), size_t(frame.width) * 2);
    imaging::WritePng(ovtest::ScratchDir() + "/../" + name + ".actual.png", *b);
  }
}

// Runs a transition the way the mixer does: each compose clears the frame to
// what lies below, then the transition draws. Checks the first, middle and
// last frames drawn.
void RunTransition(const std::string& name, engine::VideoEffect& fx, uint32_t expectFrames) {
  Pic frame(kW, kH), fresh(kW, kH);
  engine::EffectChannel ch;
  ch.picture = fresh.view;
  FillNew(fresh.view);
  fx.Attach(&ch);
  std::vector<std::vector<uint16_t>> drawn;
  for (int i = 0; i < 1000 && !fx.IsFinished(); ++i) {
    FillBelow(frame.view);
    fx.Draw(frame.view);
    drawn.push_back(frame.px);
  }
  ASSERT_TRUE(fx.IsFinished()) << name;
  EXPECT_EQ(drawn.size(), expectFrames) << name;
  const size_t pick[3] = {0, drawn.size() / 2, drawn.size() - 1};
  const char* label[3] = {"start", "middle", "end"};
  for (int k = 0; k < 3; ++k) {
    Picture565 v{drawn[pick[k]].data(), kW, kH, kW};
    CheckGolden(name + "_" + label[k], v);
  }
}

TEST(VideoEffect, TransitionsAtStartMiddleEnd) {
  for (int dir = 1; dir <= 4; ++dir) {
    engine::SlideTransition slide(kFps, 1000, dir);
    RunTransition("slide" + std::to_string(dir), slide, 10);
    engine::SweepTransition sweep(kFps, 1000, dir);
    RunTransition("sweep" + std::to_string(dir), sweep, 10);
    engine::BlindTransition blind(kFps, 1000, dir);
    RunTransition("blind" + std::to_string(dir), blind, 11);  // finished once all frames are drawn
  }
  engine::FadeTransition fade(kFps, 1000, 0);
  RunTransition("fade", fade, 11);  // level step 255 / 10 = 25: eleven draws reach 255
  engine::ZoomTransition zoom(kFps, 1000, engine::kWholePicture, 0x40C040C0);
  RunTransition("zoom", zoom, 10);
}

// Frames of a cache drawn as pixel(x, y, time) on a kW x kH frame.
struct PatternComposer : engine::CacheFrameComposer {
  using Pixel = std::function<uint16_t(int32_t x, int32_t y, uint32_t timeMs)>;
  explicit PatternComposer(Pixel p) : pixel(std::move(p)) {}
  Pixel pixel;
  std::vector<uint16_t> f = std::vector<uint16_t>(size_t(kW) * kH);
  int ComposeFrame(uint32_t t) override {
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) f[size_t(y * kW + x)] = pixel(x, y, t);
    return 1;
  }
  uint16_t* Frame() override { return f.data(); }
  bool IsItemLoaded() override { return true; }
};

TEST(VideoEffect, FileTransitionFromReadyMask) {
  // A mask that uncovers the picture from the left, a quarter a frame.
  auto wipe = std::make_unique<PatternComposer>([](int32_t x, int32_t, uint32_t t) -> uint16_t {
    return x < int32_t(t / 100 + 1) * kW / 4 ? 0xF800 : 0x0400;
  });
  const std::string path = ovtest::ScratchDir() + "/wipe.raw";
  {
    engine::RawFrameCacheWriter w(std::move(wipe), ov::String::FromUtf8Lossy(path), kW, kH, 0, 100, 0, 300, 0, 0, 1);
    for (int i = 0; i < 4; ++i) ASSERT_GE(w.WriteFrame(), 0);
  }
  engine::FileVideoEffect fx(kFps, ov::String::FromUtf8Lossy(path), 0, 0);
  RunTransition("file", fx, 5);  // four mask frames, then the whole picture

  engine::FileVideoEffect missing(kFps, ov::String::FromUtf8Lossy(path + ".none"), 0, 0);
  EXPECT_TRUE(missing.IsFinished());
}

// A mask whose cache is missing is decoded from its effect file when the
// caller allows it (a replay whose cache was deleted), else the effect ends.
TEST(VideoEffect, FileTransitionDecodesItsMissingMask) {
  const std::string dir = ovtest::ScratchDir();
  setenv("TMPDIR", dir.c_str(), 1);
  // The effect file: the left half on, for 300 ms.
  auto half = std::make_unique<PatternComposer>(
      [](int32_t x, int32_t, uint32_t) -> uint16_t { return x < kW / 2 ? 0xFFFF : 0x0000; });
  const std::string source = dir + "/half.raw";
  {
    engine::RawFrameCacheWriter w(std::move(half), ov::String::FromUtf8Lossy(source), kW, kH, 0, 100, 0, 300, 0, 0,
                                  0);
    for (int i = 0; i < 4; ++i) ASSERT_GE(w.WriteFrame(), 0);
  }
  const ov::String missing = ov::String::FromUtf8Lossy(dir + "/gone.raw");
  engine::FileVideoEffect refused(kFps, missing, 0, 0, ov::String::FromUtf8Lossy(source), false);
  EXPECT_TRUE(refused.IsFinished());
  engine::FileVideoEffect fx(kFps, missing, 0, 0, ov::String::FromUtf8Lossy(source), true);
  ASSERT_FALSE(fx.IsFinished());
  Pic frame(kW, kH), fresh(kW, kH), below(kW, kH);
  FillNew(fresh.view);
  FillBelow(frame.view);
  FillBelow(below.view);
  engine::EffectChannel ch;
  ch.picture = fresh.view;
  fx.Attach(&ch);
  fx.Draw(frame.view);
  EXPECT_FALSE(fx.IsFinished());
  // The mask was decoded at the live picture's size (176 x 144): its on half
  // covers this frame's width, and the bar above the fitted picture is off.
  EXPECT_EQ(frame.view.Row(kH / 2)[0], fresh.view.Row(kH / 2)[0]);
  EXPECT_EQ(frame.view.Row(kH / 2)[kW - 1], fresh.view.Row(kH / 2)[kW - 1]);
  EXPECT_EQ(frame.view.Row(0)[0], below.view.Row(0)[0]);
  unsetenv("TMPDIR");
}

TEST(VideoEffect, FileTransitionUncoversOnlyWhereTheWholeWordIsSet) {
  // A picture cache used as the mask: columns of 0xFFFF, 0x00FF and 0xFF00.
  // Only the first is on; a test of one byte would take a second for on.
  auto columns = std::make_unique<PatternComposer>([](int32_t x, int32_t, uint32_t) -> uint16_t {
    static const uint16_t kWords[3] = {0xFFFF, 0x00FF, 0xFF00};
    return kWords[x % 3];
  });
  const std::string path = ovtest::ScratchDir() + "/columns.raw";
  {
    engine::RawFrameCacheWriter w(std::move(columns), ov::String::FromUtf8Lossy(path), kW, kH, 0, 100, 0, 0, 0, 0, 0);
    ASSERT_GE(w.WriteFrame(), 0);
  }
  engine::FileVideoEffect fx(kFps, ov::String::FromUtf8Lossy(path), 0, 0);
  Pic frame(kW, kH), fresh(kW, kH);
  FillNew(fresh.view);
  FillBelow(frame.view);
  engine::EffectChannel ch;
  ch.picture = fresh.view;
  fx.Attach(&ch);
  fx.Draw(frame.view);
  ASSERT_FALSE(fx.IsFinished());
  Pic below(kW, kH);
  FillBelow(below.view);
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x)
      ASSERT_EQ(frame.view.Row(y)[x], x % 3 == 0 ? fresh.view.Row(y)[x] : below.view.Row(y)[x]) << x << "," << y;
}

TEST(VideoEffect, ZeroFrameTransitionsChangeAtOnce) {
  // 50 ms at 10 fps is below one frame.
  Pic frame(kW, kH), fresh(kW, kH), expect(kW, kH);
  FillNew(fresh.view);
  FillNew(expect.view);
  engine::EffectChannel ch;
  ch.picture = fresh.view;
  std::vector<std::unique_ptr<engine::VideoEffect>> fx;
  fx.push_back(std::make_unique<engine::SlideTransition>(kFps, 50, 1));
  fx.push_back(std::make_unique<engine::SweepTransition>(kFps, 50, 2));
  fx.push_back(std::make_unique<engine::BlindTransition>(kFps, 50, 3));
  fx.push_back(std::make_unique<engine::FadeTransition>(kFps, 50, 0));
  // A zoom's halves are half the duration: 150 ms gives two passes of 0 frames.
  fx.push_back(std::make_unique<engine::ZoomTransition>(kFps, 150, engine::kWholePicture, 0x40C040C0));
  for (auto& f : fx) {
    FillBelow(frame.view);
    f->Attach(&ch);
    f->Draw(frame.view);
    EXPECT_TRUE(f->IsFinished()) << f->type();
    EXPECT_EQ(frame.px, expect.px) << f->type();
  }
}

TEST(VideoEffect, FadeLevelsAndDurations) {
  // Duration 0 lasts 500 ms: five frames at 10 fps, levels 0, 51, ... 204.
  engine::FadeTransition zero(kFps, 0, 0);
  Pic frame(2, 1), fresh(2, 1);
  fresh.px = {Rgb(31, 63, 31), Rgb(31, 63, 31)};
  engine::EffectChannel ch;
  ch.picture = fresh.view;
  zero.Attach(&ch);
  int draws = 0;
  while (!zero.IsFinished() && draws < 100) {
    const int level = zero.level();
    frame.px = {0, Rgb(10, 20, 30)};
    zero.Draw(frame.view);
    ++draws;
    // new x level/255 + old x (255-level)/255, each truncated.
    const int r = int(31.0f / 255 * level / 255 * 255) + int(10.0f / 255 * (255 - level) / 255 * 255);
    EXPECT_EQ(frame.px[1] >> 11, r) << level;
    EXPECT_EQ(frame.px[0] >> 11, int(31.0f / 255 * level / 255 * 255)) << level;
  }
  EXPECT_EQ(draws, 5);
  // 30 s at 10 fps is 300 frames: more than 255 levels, still ends.
  engine::FadeTransition slow(kFps, 30000, 0);
  slow.Attach(&ch);
  draws = 0;
  while (!slow.IsFinished() && draws < 1000) {
    slow.Draw(frame.view);
    ++draws;
  }
  EXPECT_EQ(draws, 255);
}

TEST(VideoEffect, ColourFilters) {
  using F = engine::ColourFilterEffect;
  EXPECT_EQ(F::FilterPixel(0, 0xFFFF), Rgb(31, 62, 31));
  EXPECT_EQ(F::FilterPixel(0, 0x0000), 0x0000);
  // Sepia and saturation of pure red, worked from the divisor sums:
  // sepia red ((62000/2544) % 256) / 2 = 12, green 62000/2865 = 21, blue (62000/3676)/2 = 8:
  // a brown, red above blue.
  EXPECT_EQ(F::FilterPixel(1, Rgb(31, 0, 0)), Rgb(12, 21, 8));
  // saturation red6 = 62000/616 = 100 -> 50 -> 31; green 62000/-3600 = -17 -> 0; blue -17 -> 0.
  EXPECT_EQ(F::FilterPixel(2, Rgb(31, 0, 0)), Rgb(31, 0, 0));
  EXPECT_EQ(F::FilterPixel(7, 0x1234), 0x1234);  // kinds the screens never send: unchanged

  for (uint32_t kind = 0; kind < 3; ++kind) {
    Pic pic(kW, kH), src(kW, kH), frame(kW, kH);
    FillNew(pic.view);
    FillBelow(src.view);
    engine::EffectChannel ch;
    ch.picture = pic.view;
    ch.source = src.view;
    engine::ColourFilterEffect fx(kFps, kind);
    fx.Attach(&ch);
    fx.Draw(frame.view);
    CheckGolden("filter" + std::to_string(kind), pic.view);
    CheckGolden("filter" + std::to_string(kind) + "_source", src.view);
  }
}

TEST(VideoEffect, PanZoomStartEndAndFlip) {
  Pic src(40, 30), flipped(40, 30);
  FillNew(src.view);
  for (int32_t y = 0; y < 30; ++y) std::memcpy(flipped.view.Row(29 - y), src.view.Row(y), 80);
  Pic top(kW, kH), bottom(kW, kH), frame(kW, kH);
  engine::EffectChannel a, b;
  a.picture = top.view;
  a.source = src.view;
  b.picture = bottom.view;
  b.source = flipped.view;
  b.bottomUp = true;
  // From the top-left quarter to the whole picture over one second.
  engine::PanZoomEffect fa(kFps, 1000, 0x00800080, engine::kWholePicture);
  engine::PanZoomEffect fb(kFps, 1000, 0x00800080, engine::kWholePicture);
  fa.Attach(&a);
  fb.Attach(&b);
  EXPECT_EQ(fa.IsContinuous(), 1);
  for (int i = 0; i < 11; ++i) {
    fa.Draw(frame.view);
    fb.Draw(frame.view);
    // A bottom-up source is drawn the right way up.
    ASSERT_EQ(top.px, bottom.px) << "frame " << i;
    if (i == 0) CheckGolden("panzoom_start", top.view);
  }
  CheckGolden("panzoom_end", top.view);
  EXPECT_TRUE(fa.IsFinished());
  fa.Reset();
  EXPECT_FALSE(fa.IsFinished());
  fa.Draw(frame.view);
  CheckGolden("panzoom_start", top.view);
}

}  // namespace
