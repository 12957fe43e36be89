#include "engine/raw_frame_cache_format.h"
#include "engine/raw_frame_cache_source.h"
#include "engine/raw_frame_cache_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace {

using engine::RawFrameHeader;

std::vector<uint8_t> HeaderBytes(uint32_t size, uint32_t w, uint32_t h, uint32_t bpp, uint32_t duration,
                                 uint32_t mask) {
  RawFrameHeader hd;
  hd.headerSize = size;
  hd.width = w;
  hd.height = h;
  hd.bytesPerPixel = bpp;
  hd.frameDuration = duration;
  hd.isMask = mask;
  std::vector<uint8_t> out(engine::kRawHeaderBytes);
  hd.Serialize(out.data());
  return out;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

ov::String Path(const std::string& p) { return ov::String::FromUtf8Lossy(p); }

TEST(RawFrameFormat, RowsArePaddedToEvenWidth) {
  RawFrameHeader hd;
  hd.width = 175;
  hd.height = 144;
  EXPECT_EQ(hd.RowPixels(), 176u);
  EXPECT_EQ(hd.FrameBytes(), 50688u);
}

TEST(RawFrameFormat, MaskThresholdAndRuns) {
  uint16_t px[2] = {0x7000, 0x7001};
  engine::ReduceToMask(px, 2);
  EXPECT_EQ(px[0], 0x0000);
  EXPECT_EQ(px[1], 0xFFFF);

  // 200 on, 56 off: runs of 127 and 73 on, then 56 off.
  std::vector<uint16_t> row(256, 0);
  for (int i = 0; i < 200; ++i) row[size_t(i)] = 0xFFFF;
  std::vector<uint8_t> runs(row.size());
  const size_t n = engine::EncodeMaskRuns(row.data(), row.size(), runs.data());
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(runs[0], 0xFF);
  EXPECT_EQ(runs[1], 0xC9);
  EXPECT_EQ(runs[2], 0x38);
}

TEST(RawFrameFormat, RunsRoundTripAcrossRowsAndZeroLengthBytesAreSkipped) {
  std::mt19937 rng(1234);  // fixed seed: 1234
  std::vector<uint16_t> mask(37 * 11);
  for (auto& v : mask) v = (rng() % 5 < 2) ? 0xFFFF : 0x0000;
  for (size_t i = 100; i < 300; ++i) mask[i] = 0xFFFF;  // a run longer than 127
  std::vector<uint8_t> runs(mask.size());
  const size_t n = engine::EncodeMaskRuns(mask.data(), mask.size(), runs.data());
  runs.resize(n);
  runs.insert(runs.begin() + 1, 0x80);  // zero-length bytes carry nothing
  runs.insert(runs.begin(), 0x00);
  std::vector<uint16_t> back(mask.size(), 0x1234);
  size_t used = 0;
  ASSERT_TRUE(engine::DecodeMaskRuns(runs.data(), runs.size(), back.data(), back.size(), &used));
  EXPECT_EQ(used, runs.size());
  EXPECT_EQ(back, mask);
  // Missing the last run: the frame is not full.
  EXPECT_FALSE(engine::DecodeMaskRuns(runs.data(), runs.size() - 1, back.data(), back.size(), &used));
}

struct BadHeader {
  const char* name;
  std::vector<uint8_t> bytes;
};

TEST(RawFrameCacheSource, RefusesDamagedHeaders) {
  const std::string dir = ovtest::ScratchDir();
  auto h = [](uint32_t s, uint32_t w, uint32_t hh, uint32_t b, uint32_t d) { return HeaderBytes(s, w, hh, b, d, 0); };
  std::vector<BadHeader> cases = {
      {"zero_duration", h(32, 16, 16, 2, 0)},  // would divide by zero in Seek
      {"zero_width", h(32, 0, 16, 2, 40)},
      {"huge_width", h(32, 0x40000000, 16, 2, 40)},
      {"huge_height", h(32, 16, 5000, 2, 40)},
      {"three_bytes_per_pixel", h(32, 16, 16, 3, 40)},
      {"other_header_size", h(28, 16, 16, 2, 40)},
      {"short", std::vector<uint8_t>(31, 0)},
  };
  for (const auto& c : cases) {
    const std::string p = dir + "/" + c.name + ".raw";
    WriteBytes(p, c.bytes);
    engine::RawFrameCacheSource src;
    EXPECT_FALSE(src.Open(Path(p), 1)) << c.name;
    std::unique_ptr<uint8_t[]> buf;
    uint32_t bytes = 1, t = 0;
    EXPECT_FALSE(src.ReadVideoFrame(&buf, &bytes, &t, 0)) << c.name;
    EXPECT_EQ(bytes, 0u);
  }
}

TEST(RawFrameCacheSource, ShortLastFrameGivesOneBlackFrameThenEnd) {
  const std::string p = ovtest::ScratchDir() + "/cut.raw";
  auto bytes = HeaderBytes(32, 3, 2, 2, 40, 0);  // 4 x 2 stored pixels, 16 bytes
  for (int f = 0; f < 2; ++f)
    for (int i = 0; i < 16; ++i) bytes.push_back(uint8_t(0x10 * (f + 1) + i));
  for (int i = 0; i < 7; ++i) bytes.push_back(0xAB);  // a cut third frame
  WriteBytes(p, bytes);

  engine::RawFrameCacheSource src;
  ASSERT_TRUE(src.Open(Path(p), 1));
  media::MediaFormat fmt;
  ASSERT_TRUE(src.GetFormat(&fmt));
  EXPECT_EQ(fmt.width, 3u);
  EXPECT_EQ(fmt.frameDurationMs, 40u);
  std::unique_ptr<uint8_t[]> buf;
  uint32_t n = 0, t = 0;
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(t, 0u);
  EXPECT_EQ(buf[0], 0x10);
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(t, 40u);
  EXPECT_EQ(buf[15], 0x2F);
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(t, 80u);
  for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(buf[i], 0) << i;
  EXPECT_FALSE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(buf, nullptr);

  // Seek lands on the frame of the time; the end mark stops the source.
  ASSERT_TRUE(src.Seek(45));
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(t, 45u);
  EXPECT_EQ(buf[0], 0x20);
  EXPECT_FALSE(src.Seek(400));  // beyond the file
  src.Rewind();
  src.endMark = 40;
  EXPECT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_FALSE(src.ReadVideoFrame(&buf, &n, &t, 0));
}

// A cache that ends after a whole frame ends there: a photo's one frame
// lasting its display time is not followed by a black one.
TEST(RawFrameCacheSource, AWholeLastFrameEndsTheItem) {
  const std::string p = ovtest::ScratchDir() + "/photo.raw";
  auto bytes = HeaderBytes(32, 3, 2, 2, 1500, 0);
  for (int i = 0; i < 16; ++i) bytes.push_back(uint8_t(0x40 + i));
  WriteBytes(p, bytes);
  engine::RawFrameCacheSource src;
  ASSERT_TRUE(src.Open(Path(p), 1));
  std::unique_ptr<uint8_t[]> buf;
  uint32_t n = 0, t = 0;
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(buf[15], 0x4F);
  EXPECT_FALSE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_EQ(n, 0u);
}

// Draws a moving gradient; frame k is k-dependent so frames differ.
class GradientComposer : public engine::CacheFrameComposer {
 public:
  GradientComposer(uint32_t w, uint32_t h) : w2_((w + 1) & ~1u), h_(h), frame_(w2_ * h) {}
  int ComposeFrame(uint32_t timeMs) override {
    calls.push_back(timeMs);
    for (uint32_t y = 0; y < h_; ++y)
      for (uint32_t x = 0; x < w2_; ++x) frame_[y * w2_ + x] = uint16_t((x * 37 + y * 101 + timeMs * 7) * 13);
    return 1;
  }
  uint16_t* Frame() override { return frame_.data(); }
  bool IsItemLoaded() override { return true; }
  std::vector<uint32_t> calls;

 private:
  uint32_t w2_, h_;
  std::vector<uint16_t> frame_;
};

uint64_t FileSize(const std::string& p) {
  std::ifstream f(p, std::ios::binary | std::ios::ate);
  return f ? uint64_t(f.tellg()) : 0;
}

TEST(RawFrameCacheWriter, StepsPercentsAndClosesAtEnd) {
  const std::string p = ovtest::ScratchDir() + "/steps.raw";
  auto composer = std::make_unique<GradientComposer>(5, 3);
  GradientComposer* c = composer.get();
  engine::RawFrameCacheWriter w(std::move(composer), Path(p), 5, 3, 10, 100, 0, 1000, 0, 0, 0);
  ASSERT_TRUE(w.usable());
  std::vector<int> percents;
  for (int i = 0; i < 11; ++i) percents.push_back(w.WriteFrame());
  EXPECT_EQ(percents, (std::vector<int>{9, 18, 27, 36, 45, 54, 63, 72, 81, 90, 100}));
  EXPECT_EQ(c->calls.size(), 11u);
  EXPECT_EQ(c->calls.back(), 1000u);
  // Closed by the step of time 1000: everything is on disk before Close.
  EXPECT_EQ(FileSize(p), 32u + 11u * 6u * 3u * 2u);

  engine::RawFrameCacheSource src;
  ASSERT_TRUE(src.Open(Path(p), 1));
  std::unique_ptr<uint8_t[]> buf;
  uint32_t n = 0, t = 0;
  GradientComposer ref(5, 3);
  for (uint32_t k = 0; k <= 10; ++k) {
    ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
    EXPECT_EQ(t, k * 100);
    ref.ComposeFrame(k * 100);
    for (uint32_t i = 0; i < 18; ++i) {
      ASSERT_EQ(uint16_t(buf[2 * i] | buf[2 * i + 1] << 8), ref.Frame()[i]) << "frame " << k << " pixel " << i;
    }
  }
}

TEST(RawFrameCacheWriter, MaskCacheRoundTripsAndSeeksForward) {
  const std::string p = ovtest::ScratchDir() + "/mask.raw";
  engine::RawFrameCacheWriter w(std::make_unique<GradientComposer>(33, 7), Path(p), 33, 7, 0, 50, 0, 200, 1,
                                0x00FF00FF, 1);
  for (int i = 0; i < 5; ++i) ASSERT_GE(w.WriteFrame(), 0);
  ASSERT_TRUE(w.Close());
  EXPECT_LT(FileSize(p), 32u + 5u * 34u * 7u * 2u);  // coded, not plain

  engine::RawFrameCacheSource src;
  ASSERT_TRUE(src.Open(Path(p), 1));
  media::MediaFormat fmt;
  src.GetFormat(&fmt);
  EXPECT_EQ(fmt.hasColourKey, 1u);
  EXPECT_EQ(fmt.colourKey, 0x00FF00FFu);
  GradientComposer ref(33, 7);
  std::unique_ptr<uint8_t[]> buf;
  uint32_t n = 0, t = 0;
  ASSERT_TRUE(src.Seek(150));  // mask frames vary in size: decoded forward
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  ref.ComposeFrame(150);
  engine::ReduceToMask(ref.Frame(), 34 * 7);
  for (uint32_t i = 0; i < 34 * 7; ++i) ASSERT_EQ(uint16_t(buf[2 * i] | buf[2 * i + 1] << 8), ref.Frame()[i]) << i;
  ASSERT_TRUE(src.ReadVideoFrame(&buf, &n, &t, 0));
  EXPECT_FALSE(src.ReadVideoFrame(&buf, &n, &t, 0));  // a mask cache ends without a black frame
}

TEST(RawFrameCacheWriter, RefusesWhatCannotBeWritten) {
  const std::string dir = ovtest::ScratchDir();
  // No frame duration at all, no composer, an unwritable path.
  engine::RawFrameCacheWriter a(std::make_unique<GradientComposer>(4, 4), Path(dir + "/a.raw"), 4, 4, 0, 0, 0, 100,
                                0, 0, 0);
  engine::RawFrameCacheWriter b(nullptr, Path(dir + "/b.raw"), 4, 4, 15, 0, 0, 100, 0, 0, 0);
  engine::RawFrameCacheWriter c(std::make_unique<GradientComposer>(4, 4), Path(dir + "/no/such/c.raw"), 4, 4, 15, 0,
                                0, 100, 0, 0, 0);
  for (auto* w : {&a, &b, &c}) EXPECT_EQ(w->WriteFrame(), -1);
  EXPECT_EQ(FileSize(dir + "/a.raw"), 0u);
  EXPECT_EQ(FileSize(dir + "/b.raw"), 0u);
  // An empty item is complete at once.
  engine::RawFrameCacheWriter e(std::make_unique<GradientComposer>(4, 4), Path(dir + "/e.raw"), 4, 4, 15, 0, 500,
                                500, 0, 0, 0);
  EXPECT_EQ(e.WriteFrame(), 100);
}

// The plain cache is raw RGB565 after a 32-byte header: an outside converter
// that skips the header and crops the padding sees the same picture.
TEST(RawFrameCacheWriter, PlainCacheReadsAsRawVideoOutside) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
  const std::string dir = ovtest::ScratchDir();
  const std::string p = dir + "/odd.raw";
  engine::RawFrameCacheWriter w(std::make_unique<GradientComposer>(175, 9), Path(p), 175, 9, 0, 40, 0, 0, 0, 0, 0);
  ASSERT_EQ(w.WriteFrame(), 100);
  w.Close();
  const std::string out = dir + "/odd.rgb565";
  const std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt rgb565le -video_size 176x9 -skip_initial_bytes 32 -i " +
                          p + " -vf crop=175:9:0:0 -f rawvideo -pix_fmt rgb565le " + out;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const auto got = ovtest::ReadFileBytes(out);
  ASSERT_EQ(got.size(), 175u * 9u * 2u);
  GradientComposer ref(175, 9);
  ref.ComposeFrame(0);
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 175; ++x) {
      const size_t i = (y * 175 + x) * 2;
      ASSERT_EQ(uint16_t(got[i] | got[i + 1] << 8), ref.Frame()[y * 176 + x]) << x << "," << y;
    }
}

}  // namespace

namespace {

TEST(RawFrameCacheWriter, RendersAnItemThroughTheVideoMixer) {
  const std::string dir = ovtest::ScratchDir();
  // A 40 x 20 source cache of 10 frames, 100 ms each.
  const std::string src = dir + "/src.raw";
  {
    engine::RawFrameCacheWriter w(std::make_unique<GradientComposer>(40, 20), Path(src), 40, 20, 0, 100, 0, 900, 0, 0,
                                  0);
    for (int i = 0; i < 10; ++i) ASSERT_GE(w.WriteFrame(), 0);
  }
  // Re-rendered at 32 x 24 from 200 to 600 ms: five frames, letterboxed.
  const std::string out = dir + "/video0-0.raw";
  engine::RawFrameCacheWriter w(Path(src), Path(out), 32, 24, 10, 0, 200, 600, 0, 0, 0, engine::kWholePicture);
  ASSERT_TRUE(w.usable());
  int last = 0, steps = 0;
  while (last != 100 && steps < 20) {
    last = w.WriteFrame();
    ASSERT_NE(last, -1);
    ++steps;
  }
  EXPECT_EQ(steps, 5);
  engine::RawFrameCacheSource cache;
  ASSERT_TRUE(cache.Open(Path(out), 1));
  EXPECT_EQ(cache.header().width, 32u);
  EXPECT_EQ(cache.header().frameDuration, 100u);
  std::unique_ptr<uint8_t[]> buf;
  uint32_t n = 0, t = 0;
  int frames = 0;
  while (cache.ReadVideoFrame(&buf, &n, &t, 0) && n != 0 && frames < 20) ++frames;
  // The four frames of [200, 600): a cache that ends on a whole frame ends
  // there, with no black frame after it.
  EXPECT_EQ(frames, 4);
  // The box drawing: black bands around the fitted frame.
  ASSERT_TRUE(cache.ReadFrame(&buf, &n));
  std::vector<uint16_t> screen(64 * 64, 0x1234);
  engine::Picture565 dst{screen.data(), 64, 64, 64};
  ASSERT_TRUE(cache.DrawFrame(dst, 0, 0, 64, 64, buf.get(), n));
  EXPECT_EQ(screen[0], 0);                 // band above the 64 x 48 picture
  EXPECT_EQ(screen[63 * 64 + 63], 0);      // band below
  // An item that cannot be loaded makes no file.
  engine::RawFrameCacheWriter missing(Path(dir + "/none.raw"), Path(dir + "/x.raw"), 32, 24, 10, 0, 0, 500, 0, 0, 0,
                                      engine::kWholePicture);
  EXPECT_EQ(missing.WriteFrame(), -1);
  EXPECT_EQ(FileSize(dir + "/x.raw"), 0u);
}

}  // namespace
