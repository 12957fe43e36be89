// RGB to YUV 4:2:0: the encoders' bottom-up RGB565 input, top-down RGB565 and
// 24-bit BGR, against worked values and the colour model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/colour_model.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

TEST(RgbToYuv, BottomUpRgb565Goldens) {
  struct Case {
    uint16_t pixel;
    int y, u, v;
  };
  // Fields are used unwidened and the shift floors: white is Y 230, not 235.
  const Case cases[] = {{0x0000, 16, 128, 128}, {0xFFFF, 230, 126, 126}, {0xF800, 61, 103, 236}};
  for (const Case& c : cases) {
    std::vector<uint16_t> rgb(4, c.pixel);
    Frame out(2, 2);
    gOvRGB565toYUV420(rgb.data(), &out.f, 2, 2);
    for (uint8_t y : out.y) EXPECT_EQ(y, c.y) << std::hex << c.pixel;
    EXPECT_EQ(out.u[0], c.u) << std::hex << c.pixel;
    EXPECT_EQ(out.v[0], c.v) << std::hex << c.pixel;
  }
}

// Source row r lands on frame row fh - 1 - r; chroma comes from the block's
// lower-left pixel (source row 2j, even column); margins repeat the last
// converted column and the topmost converted row; an odd last source row fills
// two frame rows and an odd last column is never read.
class BottomUpRgb565 : public ::testing::TestWithParam<std::tuple<int, int, int, int>> {};

TEST_P(BottomUpRgb565, MatchesModelWithMargins) {
  const auto [sw, sh, fw, fh] = GetParam();
  std::vector<uint16_t> rgb(size_t(sw) * sh);
  FillRandom(rgb);
  Frame out(fw, fh);
  gOvRGB565toYUV420(rgb.data(), &out.f, sw, sh);
  const int w2 = sw & ~1, rowsUp = (sh + 1) & ~1;
  auto pixel = [&](int r, int c) { return rgb[size_t(std::min(r, sh - 1)) * sw + c]; };
  for (int fr = 0; fr < fh; ++fr) {
    const int r = std::min(fh - 1 - fr, rowsUp - 1);
    for (int fc = 0; fc < fw; ++fc) {
      ASSERT_EQ(out.Y(fr, fc), ModelY565(pixel(r, std::min(fc, w2 - 1)))) << fr << "," << fc << " seed " << kSeed;
    }
  }
  for (int cr = 0; cr < fh / 2; ++cr) {
    const int j = std::min(fh / 2 - 1 - cr, rowsUp / 2 - 1);
    for (int cc = 0; cc < fw / 2; ++cc) {
      const uint16_t p = pixel(2 * j, 2 * std::min(cc, w2 / 2 - 1));
      ASSERT_EQ(out.U(cr, cc), ModelU565(p)) << cr << "," << cc;
      ASSERT_EQ(out.V(cr, cc), ModelV565(p)) << cr << "," << cc;
    }
  }
}

std::string SizesName(const ::testing::TestParamInfo<BottomUpRgb565::ParamType>& info) {
  const auto [sw, sh, fw, fh] = info.param;
  return std::to_string(sw) + "x" + std::to_string(sh) + "_into_" + std::to_string(fw) + "x" + std::to_string(fh);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BottomUpRgb565,
                         ::testing::Values(std::make_tuple(100, 60, 104, 64), std::make_tuple(101, 61, 104, 64),
                                           std::make_tuple(2, 1, 2, 2), std::make_tuple(176, 144, 176, 144),
                                           std::make_tuple(7, 5, 8, 6)),
                         SizesName);

TEST(RgbToYuv, BottomUpRgb565ChromaIgnoresThreeOfFourPixels) {
  std::vector<uint16_t> rgb = {0xF800, 0x07E0, 0x001F, 0xFFFF};  // source rows: (red, green), (blue, white)
  Frame out(2, 2);
  gOvRGB565toYUV420(rgb.data(), &out.f, 2, 2);
  EXPECT_EQ(out.u[0], 103);  // pure red, the lower-left pixel in the frame
  EXPECT_EQ(out.v[0], 236);
}

TEST(RgbToYuv, TopDownRgb565MatchesModel) {
  for (auto [w, h] : {std::pair{176, 144}, std::pair{6, 4}, std::pair{2, 2}}) {
    std::vector<uint16_t> rgb(size_t(w) * h);
    FillRandom(rgb);
    const size_t n = size_t(w) * h;
    Padded<uint8_t> out(n + n / 2, 0xA5);
    gOvzRGB565toYUV420_TopDown(rgb.data(), out.Data(), w, h);
    ASSERT_TRUE(out.PaddingIntact());
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) ASSERT_EQ(out[size_t(r) * w + c], ModelY565(rgb[size_t(r) * w + c]));
    }
    for (int j = 0; j < h / 2; ++j) {
      for (int i = 0; i < w / 2; ++i) {
        const uint16_t p = rgb[size_t(2 * j) * w + 2 * i];  // top-left of the block
        ASSERT_EQ(out[n + size_t(j) * (w / 2) + i], ModelU565(p)) << w << "x" << h;
        ASSERT_EQ(out[n + n / 4 + size_t(j) * (w / 2) + i], ModelV565(p));
      }
    }
  }
}

TEST(RgbToYuv, TopDownRgb565RefusesOddSizesAndNull) {
  std::vector<uint16_t> rgb(176 * 145, 0);
  Padded<uint8_t> out(176 * 146 * 3 / 2, 0x5A);
  gOvzRGB565toYUV420_TopDown(rgb.data(), out.Data(), 176, 145);
  gOvzRGB565toYUV420_TopDown(rgb.data(), out.Data(), 0, 144);
  gOvzRGB565toYUV420_TopDown(nullptr, out.Data(), 176, 144);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5A);
  gOvzRGB565toYUV420_TopDown(rgb.data(), nullptr, 176, 144);  // must not crash
}

TEST(RgbToYuv, Bgr24Goldens) {
  for (auto [byte, y, c] : {std::tuple{255, 255, 127}, std::tuple{0, 0, 128}}) {
    std::vector<uint8_t> bgr(2 * 2 * 3, static_cast<uint8_t>(byte));
    std::vector<uint8_t> out(6);
    gBGR24INTtoYUV420Planar(bgr.data(), out.data(), 2, 2, 6);
    EXPECT_EQ(out[0], y);
    EXPECT_EQ(out[4], c);
    EXPECT_EQ(out[5], c);
  }
}

// Luma from each pixel, chroma from the four-pixel sums; rows srcStride apart
// (extra bytes skipped, negative strides walk upwards); an odd last row gets
// luma only.
TEST(RgbToYuv, Bgr24MatchesModelWithStrides) {
  for (auto [w, h, extra, flip] : {std::tuple{10, 6, 5, false}, std::tuple{7, 5, 0, false},
                                   std::tuple{33, 17, 3, true}, std::tuple{2, 1, 0, false}}) {
    const int stride = 3 * w + extra;
    std::vector<uint8_t> bgr(size_t(stride) * h);
    FillRandom(bgr);
    const uint8_t* first = flip ? bgr.data() + size_t(stride) * (h - 1) : bgr.data();
    auto px = [&](int r, int c) { return first + ptrdiff_t(flip ? -stride : stride) * r + 3 * c; };
    const size_t n = size_t(w) * h;
    Padded<uint8_t> out(n + 2 * (n / 4), 0xC3);
    gBGR24INTtoYUV420Planar(first, out.Data(), w, h, flip ? -stride : stride);
    ASSERT_TRUE(out.PaddingIntact());
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const uint8_t* p = px(r, c);
        ASSERT_EQ(out[size_t(r) * w + c], FloorQ(19595.0 * p[2] + 38470.0 * p[1] + 7471.0 * p[0], 65536));
      }
    }
    for (int j = 0; j < h / 2; ++j) {
      for (int i = 0; i < w / 2; ++i) {
        double sb = 0, sg = 0, sr = 0;
        for (int k = 0; k < 4; ++k) {
          const uint8_t* p = px(2 * j + k / 2, 2 * i + k % 2);
          sb += p[0];
          sg += p[1];
          sr += p[2];
        }
        ASSERT_EQ(out[n + size_t(j) * (w / 2) + i], FloorQ(32767 * sb - 11059 * sr - 21709 * sg, 262144) + 128);
        ASSERT_EQ(out[n + n / 4 + size_t(j) * (w / 2) + i],
                  FloorQ(32767 * sr - 5329 * sb - 27439 * sg, 262144) + 128);
      }
    }
  }
}

}  // namespace
}  // namespace iptest
