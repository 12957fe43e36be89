// ".qbt" animation clips: frames worked by hand (plane codes at a byte
// boundary and at a low nibble, leaf words in Z order, the final palette list
// de-interleaved), refused and damaged frames, encoder round trips at odd
// sizes and the source's timing and end.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/qbt_decoder.h"
#include "media/qbt_source.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"
#include "tools/qbt_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F, kWhite = 0xFFFF;

void PutLe32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// A coded frame: unused word, leaf word count, the leaf table, start byte, stream.
Bytes Coded(const std::vector<uint16_t>& leaves, uint8_t startByte, const Bytes& stream) {
  Bytes out;
  PutLe32(&out, 0xDEADBEEF);
  PutLe32(&out, uint32_t(leaves.size()));
  for (uint16_t w : leaves) {
    out.push_back(uint8_t(w));
    out.push_back(uint8_t(w >> 8));
  }
  out.push_back(startByte);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

Bytes Repeat(uint8_t b, int n) { return Bytes(size_t(n), b); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Decodes into a destination pre-filled with a canary; returns the result and
// the picture as RGB565 words (stride (w + 1) & ~1).
struct Decoded {
  int result = -1;
  std::vector<uint16_t> pixels;
};
Decoded Decode(uint32_t w, uint32_t h, const Bytes& coded, uint32_t mode = 1) {
  const uint32_t stride = (w + 1) & ~1u;
  Bytes dst(size_t(stride) * h * 2, 0xA5);
  Decoded d;
  // An exact-size copy, so that a read past the coded length is seen.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[coded.size()]);
  std::copy(coded.begin(), coded.end(), copy.get());
  d.result = media::QbtDecodeFrame(dst.data(), w, h, 16, mode, 0, copy.get(), uint32_t(coded.size()));
  for (size_t i = 0; i < dst.size() / 2; ++i) d.pixels.push_back(uint16_t(dst[2 * i] | dst[2 * i + 1] << 8));
  return d;
}

// 8 x 8 solid green: a count of 0, then one code byte per plane from the top,
// 0xFF for an all-ones plane, 0x0F for an all-zeros one. Green 0x07E0 is the
// value 0xE007 as stored (high byte first): planes 15-13 and 2-0 set.
Bytes SolidGreen() { return Coded({}, 1, Cat({Repeat(0, 4), Repeat(0xFF, 3), Repeat(0x0F, 10), Repeat(0xFF, 3)})); }

// 8 x 8 in four quadrants, the stream beginning at a low nibble (start byte
// 0; the high nibble 0xA of the first byte is never read). After the eight
// count nibbles every code byte stands at a low nibble: its bits 0-3 are the
// low nibble of one byte and its bits 4-7 the high nibble of the next. The
// codes, planes 15 to 0: 5F x3, 3F x5, 9F x5, 5F x3.
Bytes Quadrants() {
  return Coded({}, 0,
               Cat({{0xA0, 0x00, 0x00, 0x00, 0x0F}, Repeat(0x5F, 3), Repeat(0x3F, 5), Repeat(0x9F, 5),
                    Repeat(0x5F, 2), {0x50}}));
}

// 8 x 8, values 0 and 1 in plane 0 from leaf words, mapped through a final
// list of two entries: 0x02AA (blue once de-interleaved) and 0x5540 (red).
// The list tree: root 3 (children 0 and 1), then 1 1 4 4 4 4 4 down to
// 0x02AA and 2 2 2 2 1 1 1 down to 0x5540.
Bytes PaletteFrame(uint32_t count, const std::vector<uint16_t>& leaves, const Bytes& list) {
  const Bytes countNibbles = {0, 0, 0, uint8_t(count)};
  return Coded(leaves, 1, Cat({countNibbles, Repeat(0x0F, 15), {0xF0}, list}));
}
const std::vector<uint16_t> kLeaves = {0x0001, 0x8100, 0xFFFF, 0x4010};  // BR, BL, TR, TL
const Bytes kTwoEntries = {0x31, 0x14, 0x44, 0x44, 0x22, 0x22, 0x11, 0x10};

TEST(QbtDecodeFrame, FramesWorkedByHand) {
  const Decoded solid = Decode(8, 8, SolidGreen());
  ASSERT_EQ(solid.result, media::kQbtOk);
  EXPECT_EQ(solid.pixels, std::vector<uint16_t>(64, kGreen));

  const Decoded quads = Decode(8, 8, Quadrants());
  ASSERT_EQ(quads.result, media::kQbtOk);
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) {
      const uint16_t want = y < 4 ? (x < 4 ? kRed : kGreen) : (x < 4 ? kBlue : kWhite);
      EXPECT_EQ(quads.pixels[y * 8 + x], want) << x << "," << y;
    }
  }

  // Red where a leaf word sets the pixel: the whole top-right block, and
  // single bits in Z order elsewhere.
  const Decoded pal = Decode(8, 8, PaletteFrame(2, kLeaves, kTwoEntries));
  ASSERT_EQ(pal.result, media::kQbtOk);
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) {
      const bool set = (x >= 4 && y < 4) || (x == 1 && y == 0) || (x == 1 && y == 3) || (x == 0 && y == 4) ||
                       (x == 3 && y == 5) || (x == 7 && y == 7);
      EXPECT_EQ(pal.pixels[y * 8 + x], set ? kRed : kBlue) << x << "," << y;
    }
  }
}

TEST(QbtDecodeFrame, OddWidthsClipAndLeaveThePaddingAlone) {
  // The solid frame's codes hold for any picture inside the 8 x 8 tree.
  const Decoded d = Decode(5, 7, SolidGreen());
  ASSERT_EQ(d.result, media::kQbtOk);
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 6; ++x) EXPECT_EQ(d.pixels[y * 6 + x], x < 5 ? kGreen : 0xA5A5) << x << "," << y;
  }
}

TEST(QbtDecodeFrame, RefusesBadCallsAndBadFrames) {
  const Bytes solid = SolidGreen();
  Bytes bigCount = PaletteFrame(0, kLeaves, kTwoEntries);
  bigCount[8 + 2 * 4 + 1] = 0x00;  // count nibbles 0001 0001: 65537 entries
  bigCount[8 + 2 * 4 + 1 + 1] = 0x01;
  bigCount[8 + 2 * 4 + 1 + 3] = 0x01;
  Bytes hugeN = solid;
  hugeN[4] = 0xFF;
  hugeN[7] = 0x7F;
  struct Case {
    const char* name;
    uint32_t w, h, mode;
    Bytes coded;
    int want;
  } cases[] = {
      {"mode 2", 8, 8, 2, solid, media::kQbtBadMode},
      {"4 x 4 picture", 4, 4, 1, solid, media::kQbtBadPicture},
      {"stream ends inside the codes", 8, 8, 1, Bytes(solid.begin(), solid.end() - 1), media::kQbtBadFrame},
      {"no start byte", 8, 8, 1, Bytes(solid.begin(), solid.begin() + 8), media::kQbtBadFrame},
      {"leaf table beyond the frame", 8, 8, 1, hugeN, media::kQbtBadFrame},
      {"leaf words run out", 8, 8, 1, PaletteFrame(2, {0x8100, 0xFFFF, 0x4010}, kTwoEntries), media::kQbtBadFrame},
      {"list beyond its count", 8, 8, 1, PaletteFrame(1, kLeaves, kTwoEntries), media::kQbtBadFrame},
      {"list count over 65536", 8, 8, 1, bigCount, media::kQbtBadFrame},
      {"pixel with no list entry", 8, 8, 1, PaletteFrame(2, kLeaves, {0x11, 0x14, 0x44, 0x44}), media::kQbtBadFrame},
      {"list cut short", 8, 8, 1, PaletteFrame(2, kLeaves, {0x31, 0x14, 0x44}), media::kQbtBadFrame},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.w, c.h, c.coded, c.mode);
    EXPECT_EQ(d.result, c.want) << c.name;
    // A refused frame writes nothing.
    for (uint16_t p : d.pixels) ASSERT_EQ(p, 0xA5A5) << c.name;
  }
  // Mode 0 has no count and no palette passes: the solid frame's four count
  // bytes are read as codes there, so it is a different picture, not a failure.
  EXPECT_EQ(Decode(8, 8, Coded({}, 1, Cat({Repeat(0xFF, 3), Repeat(0x0F, 10), Repeat(0xFF, 3)})), 0).pixels,
            std::vector<uint16_t>(64, kGreen));
  EXPECT_EQ(Decode(5, 4, solid).result, media::kQbtOk);
}

// Test pictures with flat areas, edges and noise, so that planes are all
// ones, all zeros and mixed at every level.
std::vector<uint16_t> Picture(uint32_t w, uint32_t h, uint32_t seed) {
  std::vector<uint16_t> p(size_t(w) * h);
  uint32_t r = seed * 2654435761u + 1;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      r = r * 1103515245u + 12345u;
      uint16_t v = (x < w / 2) ? kRed : uint16_t(0x0841 * ((y / 3) & 7));
      if ((x / 5 + y / 7 + seed) % 3 == 0) v = uint16_t(r >> 16);
      p[size_t(y) * w + x] = v;
    }
  }
  return p;
}

TEST(QbtDecodeFrame, EncoderRoundTripsAtOddSizes) {
  // Tree sizes 8 to 256: palette levels (skipped) at 16 from 64, at 64 from 256.
  const struct {
    uint32_t w, h;
  } sizes[] = {{5, 4}, {4, 5}, {7, 9}, {17, 3}, {33, 17}, {65, 30}, {130, 67}, {1, 200}};
  for (const auto& s : sizes) {
    for (uint32_t seed = 0; seed < 3; ++seed) {
      const std::vector<uint16_t> picture = Picture(s.w, s.h, seed);
      const Bytes coded = ovtool::QbtEncodeFrame(picture.data(), s.w, s.h);
      const Decoded d = Decode(s.w, s.h, coded);
      ASSERT_EQ(d.result, media::kQbtOk) << s.w << "x" << s.h;
      const uint32_t stride = (s.w + 1) & ~1u;
      for (uint32_t y = 0; y < s.h; ++y) {
        for (uint32_t x = 0; x < s.w; ++x) {
          ASSERT_EQ(d.pixels[y * stride + x], picture[y * s.w + x]) << s.w << "x" << s.h << " at " << x << "," << y;
        }
      }
    }
  }
}

class QbtSourceTest : public testing::Test {
 protected:
  ov::String Add(const std::string& name, Bytes bytes) { return package_.Add(name, std::move(bytes)); }

  // Opens `bytes` as a clip; null when Open refuses it.
  std::unique_ptr<media::QbtSource> Open(Bytes bytes) {
    auto source = std::make_unique<media::QbtSource>();
    const ov::String path = Add("clip" + std::to_string(++count_) + ".qbt", std::move(bytes));
    source->path = path;
    if (!source->Open(path, 1)) return nullptr;
    return source;
  }

  struct Frame {
    bool ok = false;
    uint32_t time = 0;
    std::vector<uint16_t> pixels;
    bool bufferNull = false;
  };
  static Frame Read(media::QbtSource* s) {
    Frame f;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[4]);
    uint32_t bytes = 0;
    f.time = 0xFFFFFFFF;
    f.ok = s->ReadVideoFrame(&buffer, &bytes, &f.time, 0);
    f.bufferNull = buffer == nullptr;
    for (uint32_t i = 0; i + 1 < bytes; i += 2) f.pixels.push_back(uint16_t(buffer[i] | buffer[i + 1] << 8));
    return f;
  }

  mediatest::TestPackage package_;
  int count_ = 0;
};

Bytes Header(uint32_t w, uint32_t h, uint32_t bpp, uint32_t ms, uint32_t key = 0) {
  Bytes out;
  for (uint32_t v : {0x12345678u, w, h, bpp, ms, key ? 1u : 0u, key, 0u}) PutLe32(&out, v);
  return out;
}

TEST_F(QbtSourceTest, PlaysFramesThenOneBlackFrameThenEnds) {
  const uint32_t w = 9, h = 7, d = 40;
  const std::vector<std::vector<uint16_t>> frames = {Picture(w, h, 1), Picture(w, h, 2)};
  auto source = Open(ovtool::QbtEncodeFile(frames, w, h, d));
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.width, w);
  EXPECT_EQ(format.height, h);
  EXPECT_EQ(format.frameDurationMs, d);
  EXPECT_FALSE(source->IsBottomUp());

  // The frames as delivered: rows padded to an even width with black.
  std::vector<std::vector<uint16_t>> padded(frames.size(), std::vector<uint16_t>(size_t(10) * h, 0));
  for (size_t i = 0; i < frames.size(); ++i) {
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) padded[i][y * 10 + x] = frames[i][y * w + x];
    }
  }
  ASSERT_NE(padded[0], padded[1]);
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < frames.size(); ++i) {
      const Frame f = Read(source.get());
      ASSERT_TRUE(f.ok);
      EXPECT_EQ(f.time, i * d);
      EXPECT_EQ(f.pixels, padded[i]) << "frame " << i;
    }
    const Frame black = Read(source.get());
    EXPECT_TRUE(black.ok);
    EXPECT_EQ(black.time, 2 * d);
    EXPECT_EQ(black.pixels, std::vector<uint16_t>(size_t(10) * h, 0));
    const Frame end = Read(source.get());
    EXPECT_FALSE(end.ok);
    EXPECT_TRUE(end.bufferNull);
    EXPECT_EQ(end.time, 3 * d);
    ASSERT_TRUE(source->Rewind());
  }

  // Seek moves the time only: the next frame is the next one in the file.
  Read(source.get());
  EXPECT_FALSE(source->Seek(1000));
  const Frame after = Read(source.get());
  EXPECT_TRUE(after.ok);
  EXPECT_EQ(after.time, 1000u);
  EXPECT_EQ(after.pixels, padded[1]);
  EXPECT_EQ(Read(source.get()).time, 1000u + d);
}

TEST_F(QbtSourceTest, DamagedClipsGiveOneBlackFrame) {
  const uint32_t w = 8, h = 8;
  const Bytes good = ovtool::QbtEncodeFile({Picture(w, h, 3)}, w, h, 25);
  Bytes tooLong = Header(w, h, 2, 25);
  PutLe32(&tooLong, w * h * 4 + 1);  // longer than the work buffer
  tooLong.resize(tooLong.size() + w * h * 4 + 1, 0);
  Bytes badFrame = Header(w, h, 2, 25);
  PutLe32(&badFrame, 9);
  PutLe32(&badFrame, 0);
  PutLe32(&badFrame, 0);
  badFrame.push_back(1);  // no stream at all
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"header only", Header(w, h, 2, 25)},
      {"length cut short", Bytes(good.begin(), good.begin() + 34)},
      {"frame cut short", Bytes(good.begin(), good.end() - 1)},
      {"length beyond the work buffer", tooLong},
      {"frame that does not decode", badFrame},
  };
  for (const auto& c : cases) {
    auto source = Open(c.bytes);
    ASSERT_TRUE(source) << c.name;
    const Frame black = Read(source.get());
    EXPECT_TRUE(black.ok) << c.name;
    EXPECT_EQ(black.time, 0u) << c.name;
    EXPECT_EQ(black.pixels, std::vector<uint16_t>(size_t(w) * h, 0)) << c.name;
    const Frame end = Read(source.get());
    EXPECT_FALSE(end.ok) << c.name;
    EXPECT_TRUE(end.bufferNull) << c.name;
  }
}

TEST_F(QbtSourceTest, RefusesHeadersItCannotPlay) {
  const struct {
    const char* name;
    Bytes bytes;
    bool opens;
  } cases[] = {
      {"short header", Bytes(31, 0), false},
      {"3 bytes per pixel", Header(8, 8, 3, 40), false},
      {"4 x 4", Header(4, 4, 2, 40), false},
      {"zero width", Header(0, 8, 2, 40), false},
      {"a side over the cap", Header(media::kQbtMaxSide + 1, 8, 2, 40), false},
      {"huge sides whose product wraps", Header(0x10000, 0x10000, 2, 40), false},
      {"5 x 4", Header(5, 4, 2, 40), true},
      {"colour key", Header(8, 8, 2, 40, 0xFF00FF), true},
  };
  for (const auto& c : cases) {
    auto source = Open(c.bytes);
    EXPECT_EQ(source != nullptr, c.opens) << c.name;
  }
  auto keyed = Open(Header(8, 8, 2, 40, 0xFF00FF));
  media::MediaFormat format;
  ASSERT_TRUE(keyed && keyed->GetFormat(&format));
  EXPECT_EQ(format.hasColourKey, 1u);
  EXPECT_EQ(format.colourKey, 0xFF00FFu);
}

TEST(QbtTool, EncodesFramesFromTheCommandLine) {
  const std::string dir = ovtest::ScratchDir();
  const uint32_t w = 11, h = 6;
  const std::vector<uint16_t> a = Picture(w, h, 4), b = Picture(w, h, 5);
  {
    std::ofstream out(dir + "/in.rgb565", std::ios::binary);
    for (const auto* f : {&a, &b}) {
      for (uint16_t v : *f) out.put(char(v & 0xFF)).put(char(v >> 8));
    }
  }
  const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool qbt encode '" + dir + "/in.rgb565' ";
  const auto run = [&](const std::string& args) {
    const int status = std::system((tool + args + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_EQ(run("11x6 33 '" + dir + "/out.qbt'"), 0);
  EXPECT_EQ(ovtool::QbtEncodeFile({a, b}, w, h, 33), ovtest::ReadFileBytes(dir + "/out.qbt"));
  EXPECT_NE(run("4x4 33 '" + dir + "/x.qbt'"), 0);
  EXPECT_NE(run("10x6 33 '" + dir + "/x.qbt'"), 0);  // not whole frames
  EXPECT_NE(run("11x6 3x '" + dir + "/x.qbt'"), 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
