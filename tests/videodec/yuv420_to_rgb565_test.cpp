#include "codecs/videodec/common/yuv420_to_rgb565.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace videodec {
namespace {

struct Picture {
  Picture(int w, int h, uint8_t y, uint8_t u, uint8_t v)
      : ys(static_cast<size_t>(w * h), y), us(static_cast<size_t>(w * h / 4), u), vs(static_cast<size_t>(w * h / 4), v) {
    frame = YuvFrame{ys.data(), us.data(), vs.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  }
  std::vector<uint8_t> ys, us, vs;
  YuvFrame frame;
};

struct BlockCase {
  uint8_t y;
  uint16_t top_left, top_right, bottom_left, bottom_right;
};

class Rgb565BlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(Rgb565BlockTest, DitherByPositionInTheBlock) {
  const BlockCase& c = GetParam();
  Picture p(2, 2, c.y, 128, 128);
  for (int top_down : {1, 0}) {
    uint16_t out[4] = {};
    ConvertYUV420toRGB565TopDown(&p.frame, out, 2, 2, top_down);
    const int top = top_down ? 0 : 2;
    const int bottom = top_down ? 2 : 0;
    EXPECT_EQ(out[top], c.top_left);
    EXPECT_EQ(out[top + 1], c.top_right);
    EXPECT_EQ(out[bottom], c.bottom_left);
    EXPECT_EQ(out[bottom + 1], c.bottom_right);
  }
}

INSTANTIATE_TEST_SUITE_P(Grey, Rgb565BlockTest,
                         ::testing::Values(BlockCase{7, 0x0840, 0x0821, 0x0841, 0x0041},
                                           BlockCase{128, 0x8410, 0x8410, 0x8410, 0x8410},
                                           BlockCase{255, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}),
                         [](const ::testing::TestParamInfo<BlockCase>& param_info) {
                           // Appended rather than "Y" + std::to_string(...): GCC 12 at -O3 reports
                           // a false -Wrestrict overlap in the inlined insert at the front.
                           std::string name = "Y";
                           name += std::to_string(param_info.param.y);
                           return name;
                         });

TEST(Rgb565Test, BlackAtTopLeftAndSaturatedColours) {
  Picture p(2, 2, 0, 128, 128);
  uint16_t out[4];
  ConvertYUV420toRGB565TopDown(&p.frame, out, 2, 2, 1);
  EXPECT_EQ(out[0], 0x0000);
  // Strong red: Cr = 255 pushes red to the top, blue and green down.
  Picture red(2, 2, 128, 128, 255);
  ConvertYUV420toRGB565TopDown(&red.frame, out, 2, 2, 1);
  EXPECT_EQ(out[0] >> 11, 31);
  EXPECT_LT((out[0] >> 5) & 63, 32);
}

TEST(Rgb565Test, OddWidthRepeatsTheLastColumnAndLeavesThePad) {
  Picture p(6, 2, 0, 128, 128);
  for (int x = 0; x < 6; ++x) p.ys[x] = p.ys[6 + x] = static_cast<uint8_t>(40 * x);
  std::vector<uint16_t> out(12, 0xDEAD);
  ConvertYUV420toRGB565TopDown(&p.frame, out.data(), 5, 2, 1);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(out[r * 6 + 4], out[r * 6 + 3]);
    EXPECT_EQ(out[r * 6 + 5], 0xDEAD);
  }
}

TEST(Rgb565Test, OddHeightRepeatsTheRowAboveInBothOrders) {
  Picture p(4, 4, 0, 128, 128);
  for (int i = 0; i < 16; ++i) p.ys[i] = static_cast<uint8_t>(16 * i);
  for (int top_down : {1, 0}) {
    std::vector<uint16_t> out(12);
    ConvertYUV420toRGB565TopDown(&p.frame, out.data(), 4, 3, top_down);
    const int row1 = top_down ? 1 : 1;
    const int row2 = top_down ? 2 : 0;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(out[row2 * 4 + x], out[row1 * 4 + x]);
  }
}

TEST(Rgb565Test, BottomUpPutsTheTopRowLast) {
  Picture p(176, 144, 0, 128, 128);
  for (int x = 0; x < 176; ++x) p.ys[x] = 255;  // top row white
  std::vector<uint16_t> out(176 * 144);
  ConvertYUV420toRGB565TopDown(&p.frame, out.data(), 176, 144, 0);
  EXPECT_EQ(out[143 * 176], 0xFFFF);
  EXPECT_EQ(out[0], 0x0000);
}

TEST(Rgb565Test, SizesBelowTwoStayInsideThePicture) {
  // One row, one column, one pixel: exact-size buffers show stray reads.
  struct Size { int w, h; };
  for (Size s : {Size{1, 1}, Size{1, 3}, Size{3, 1}, Size{1, 2}, Size{2, 1}}) {
    Picture p(4, 4, 200, 128, 128);
    std::vector<uint16_t> out(static_cast<size_t>(((s.w + 1) & ~1) * s.h), 0xDEAD);
    ConvertYUV420toRGB565TopDown(&p.frame, out.data(), static_cast<uint16_t>(s.w), static_cast<uint16_t>(s.h), 1);
    for (int r = 0; r < s.h; ++r)
      for (int c = 0; c < s.w; ++c) EXPECT_NE(out[static_cast<size_t>(r * ((s.w + 1) & ~1) + c)], 0xDEAD) << s.w << "x" << s.h;
  }
  ConvertYUV420toRGB565TopDown(nullptr, nullptr, 0, 0, 1);  // nothing to do
}

// The conversion written pixel by pixel from its definition: full range, or
// studio range with luma stretched by 255/219 and chroma by 255/224.
uint16_t FormulaPixel(const YuvFrame& f, int x, int y, bool studio = false) {
  static const int kDither[2][2][3] = {{{2, 3, 0}, {6, 0, 4}}, {{4, 1, 6}, {0, 2, 2}}};
  const int u = f.u[(y / 2) * (f.width / 2) + x / 2] - 128;
  const int v = f.v[(y / 2) * (f.width / 2) + x / 2] - 128;
  const int sample = f.y[y * f.width + x];
  const int l = studio ? ((sample - 16) * 19078) >> 14 : sample;
  const int kr = studio ? 26149 : 22970, kgu = studio ? 6419 : 5638, kgv = studio ? 13320 : 11700,
            kb = studio ? 33050 : 29032;
  const int* d = kDither[y & 1][x & 1];
  auto clip = [](int c) { return c < 0 ? 0 : (c > 255 ? 255 : c); };
  const int r = clip(l + ((kr * v) >> 14) + d[0]);
  const int g = clip(l - ((kgu * u + kgv * v) >> 14) + d[1]);
  const int b = clip(l + ((kb * u) >> 14) + d[2]);
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

TEST(Rgb565Test, RandomPicturesMatchTheFormula) {
  const unsigned seed = 565;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  struct Size { int w, h; };
  // Even sizes, and widths across the converter's 256-pixel chunks and the
  // vector kernels' steps.
  for (bool studio : {false, true}) {
    for (Size s : {Size{2, 2}, Size{16, 6}, Size{34, 2}, Size{176, 144}, Size{258, 4}, Size{640, 2}, Size{1024, 8}}) {
      Picture p(s.w, s.h, 0, 0, 0);
      for (auto* plane : {&p.ys, &p.us, &p.vs})
        for (auto& v : *plane) v = static_cast<uint8_t>(rng());
      std::vector<uint16_t> out(static_cast<size_t>(s.w * s.h));
      (studio ? ConvertStudioYUV420toRGB565TopDown : ConvertYUV420toRGB565TopDown)(
          &p.frame, out.data(), static_cast<uint16_t>(s.w), static_cast<uint16_t>(s.h), 1);
      for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
          ASSERT_EQ(out[static_cast<size_t>(y * s.w + x)], FormulaPixel(p.frame, x, y, studio))
              << (studio ? "studio " : "full ") << s.w << "x" << s.h << " at " << x << "," << y;
    }
  }
}

// Studio range: ffmpeg's BT.601 codes of black, white, grey and the primaries
// (RGB 0/255, grey 128) come out as those colours in all four dither
// positions, both row orders, and so do the pixels of pictures of one column
// or one row, which the edge code converts on its own.
struct StudioCase {
  const char* name;
  uint8_t y, cb, cr;
  uint16_t word;
};

class StudioRangeColours : public ::testing::TestWithParam<StudioCase> {};

TEST_P(StudioRangeColours, ComeOutTrue) {
  const StudioCase& c = GetParam();
  Picture p(2, 2, c.y, c.cb, c.cr);
  for (int top_down : {1, 0}) {
    uint16_t out[4] = {};
    ConvertStudioYUV420toRGB565TopDown(&p.frame, out, 2, 2, top_down);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], c.word) << "pixel " << i << " top-down " << top_down;
  }
  struct Size { uint16_t w, h; };
  for (Size s : {Size{1, 1}, Size{1, 2}, Size{2, 1}}) {
    uint16_t out[4] = {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};
    ConvertStudioYUV420toRGB565TopDown(&p.frame, out, s.w, s.h, 1);
    // Rows of the destination hold an even number of pixels.
    for (int r = 0; r < s.h; ++r)
      for (int x = 0; x < s.w; ++x) EXPECT_EQ(out[2 * r + x], c.word) << s.w << "x" << s.h << " at " << x << "," << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Bt601, StudioRangeColours,
                         ::testing::Values(StudioCase{"black", 16, 128, 128, 0x0000},
                                           StudioCase{"below_black", 4, 128, 128, 0x0000},
                                           StudioCase{"white", 235, 128, 128, 0xFFFF},
                                           StudioCase{"above_white", 250, 128, 128, 0xFFFF},
                                           StudioCase{"grey", 126, 128, 128, 0x8410},
                                           StudioCase{"red", 81, 90, 240, 0xF800},
                                           StudioCase{"green", 145, 54, 34, 0x07E0},
                                           StudioCase{"blue", 41, 240, 110, 0x001F}),
                         [](const ::testing::TestParamInfo<StudioCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

// Studio range over every luma code and a grid of chroma: each field within
// one 5- or 6-bit step (plus the dither) of ITU-R BT.601's own equations.
TEST(Rgb565Test, StudioRangeFollowsBt601) {
  for (int y = 0; y < 256; ++y) {
    for (int cb = 16; cb <= 240; cb += 16) {
      for (int cr = 16; cr <= 240; cr += 16) {
        Picture p(2, 2, static_cast<uint8_t>(y), static_cast<uint8_t>(cb), static_cast<uint8_t>(cr));
        uint16_t out[4];
        ConvertStudioYUV420toRGB565TopDown(&p.frame, out, 2, 2, 1);
        const double l = 255.0 / 219 * (y - 16), u = 255.0 / 224 * (cb - 128), v = 255.0 / 224 * (cr - 128);
        auto clip = [](double c) { return c < 0 ? 0.0 : (c > 255 ? 255.0 : c); };
        const double r = clip(l + 1.402 * v), g = clip(l - 0.344136 * u - 0.714136 * v), b = clip(l + 1.772 * u);
        for (uint16_t w : out) {
          // A field of n bits keeps the top n bits of value + dither (0-6).
          EXPECT_NEAR((w >> 11) * 8, r, 9.5) << y << "," << cb << "," << cr;
          EXPECT_NEAR(((w >> 5) & 63) * 4, g, 5.5) << y << "," << cb << "," << cr;
          EXPECT_NEAR((w & 31) * 8, b, 9.5) << y << "," << cb << "," << cr;
        }
      }
    }
  }
}

TEST(Rgb565Test, LargerRequestThanTheFrameReadsOnlyTheFrame) {
  // A track that claims 24 x 20 for a 16 x 16 picture: exact-size planes show
  // any read outside them; the frame's part converts, the rest stays as it was.
  Picture p(16, 16, 255, 128, 128);
  std::vector<uint16_t> out(24 * 20, 0xDEAD);
  ConvertYUV420toRGB565TopDown(&p.frame, out.data(), 24, 20, 1);
  for (int r = 0; r < 20; ++r) {
    for (int c = 0; c < 24; ++c) {
      const uint16_t expected = (r < 16 && c < 16) ? 0xFFFF : 0xDEAD;
      ASSERT_EQ(out[static_cast<size_t>(r * 24 + c)], expected) << r << "," << c;
    }
  }
}

}  // namespace
}  // namespace videodec
