// Scalers: the stated positions and weights of the planar, RGB565 and packed
// scalers, the fixed-ratio formulas, the strip protocol, and reads that stay
// inside exact-size sources on upscales (the right-hand tap is clamped).
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

// A luma-only scale through gScaleCroppedFrame (chroma planes of the 4:2:0
// frames are scaled too, and must stay in bounds).
std::vector<uint8_t> ScaleLuma(const Frame& src, int dw, int dh, int x = 0, int y = 0, int w = -1, int h = -1) {
  Frame dst(dw, dh);
  gScaleCroppedFrame(&src.f, &dst.f, x, y, w < 0 ? src.f.width : w, h < 0 ? src.f.height : h);
  return dst.y;
}

TEST(ScalePlanar, SameWidthStepIsBasedOnWidthMinusOne) {
  Frame src(176, 2);
  src.Randomize();
  const std::vector<uint8_t> out = ScaleLuma(src, 176, 2);
  auto row0 = [&](int c) { return int{src.Y(0, c)}; };
  EXPECT_EQ(out[1], (8 * row0(0) + 56 * row0(1)) >> 6);            // weights 1:7
  EXPECT_EQ(out[88], (40 * row0(87) + 24 * row0(88)) >> 6);        // fx 3
  EXPECT_EQ(out[175], row0(174));
  Frame same(176, 144);
  same.Randomize();
  Frame copy(176, 144);
  gScaleFrame(&same.f, &copy.f);
  EXPECT_NE(copy.y, same.y);  // not reproduced exactly
}

TEST(ScalePlanar, LargeReductionSamplesTapsApart) {
  Frame src(704, 2);
  for (int c = 0; c < 704; ++c) src.y[c] = src.y[704 + c] = static_cast<uint8_t>(c & 0xFF);
  const std::vector<uint8_t> out = ScaleLuma(src, 176, 2);
  // Ratio 4: taps two columns apart; columns 0, 1, 2 and 175 start at 0, 2, 6, 698.
  const int starts[][2] = {{0, 0}, {1, 2}, {2, 6}, {175, 698 & 0xFF}};
  for (auto [col, start] : starts) {
    const int stepX = (351 << 18) / 176, q = col * stepX, fx = (q >> 15) & 7;
    const int a = start, b = (start + 2) & 0xFF;
    EXPECT_EQ(out[col], (8 * (8 - fx) * a + 8 * fx * b) >> 6) << col;
  }
}

// A window narrower than two samples, and every ratio of the shift table, on
// planes allocated to their exact size.
TEST(ScalePlanar, WindowsStayInsideThePlanes) {
  Frame src(37, 23);
  src.Randomize();
  for (auto [x, y, w, h, dw, dh] :
       {std::tuple{36, 22, 5, 5, 8, 8}, std::tuple{0, 0, 37, 23, 2, 2}, std::tuple{3, 5, 30, 17, 1, 1},
        std::tuple{0, 0, 37, 23, 74, 46}, std::tuple{10, 0, 1000, 1000, 3, 7}, std::tuple{40, 0, 4, 4, 4, 4}}) {
    Frame dst(dw, dh);
    dst.Fill(0xA1, 0xA1, 0xA1);
    gScaleCroppedFrame(&src.f, &dst.f, x, y, w, h);
    if (x >= 37) {
      EXPECT_EQ(dst.y, std::vector<uint8_t>(dst.y.size(), 0xA1));  // empty window: nothing
      continue;
    }
    if (std::min(w, 37 - x) == 1) {
      EXPECT_EQ(dst.y[0], src.Y(y, x));  // a one-sample window repeats its sample
    }
  }
  Frame d422(20, 10, Layout::k422), s422(37, 23, Layout::k422);
  s422.Randomize();
  gScaleCroppedFrameYUV422(&s422.f, &d422.f, 1, 1, 36, 22);
  gScaleFrame(&src.f, &d422.f);  // null-free, mismatched layouts still in bounds
}

// The bilinear plane scaler written out per output sample: Q18 positions,
// steps from w - 1 and h - 1 (the latter taken as 16 bits), taps 2^shift
// apart, weights in 64ths, the lower and right taps kept inside the window.
std::vector<uint8_t> ModelScalePlane(const std::vector<uint8_t>& s, int stride, int rows, int dw, int dh, int x0,
                                     int y0, int w, int h) {
  static const int kShift[32] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3,
                                 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
  const int W = std::min(w, stride - x0), H = std::min(h, rows - y0);
  const int sx = kShift[std::min(W / dw, 31)], sy = kShift[std::min(H / dh, 31)];
  const int64_t stepX = ((int64_t((W - 1) >> sx)) << 18) / dw;
  const int64_t stepY = ((int64_t(((H - 1) >> sy) & 0xFFFF)) << 18) / dh;
  std::vector<uint8_t> out(size_t(dw) * dh);
  for (int i = 0; i < dh; ++i) {
    const int64_t p = i * stepY;
    const int r0 = y0 + int((p >> 18) << sy), r1 = std::min(r0 + (1 << sy), y0 + H - 1);
    const int fy = int((p >> 15) & 7);
    for (int j = 0; j < dw; ++j) {
      const int64_t q = j * stepX;
      const int c0 = x0 + int((q >> 18) << sx), c1 = std::min(c0 + (1 << sx), x0 + W - 1);
      const int fx = int((q >> 15) & 7);
      const int sum = (8 - fx) * (8 - fy) * s[size_t(r0) * stride + c0] + fx * (8 - fy) * s[size_t(r0) * stride + c1] +
                      (8 - fx) * fy * s[size_t(r1) * stride + c0] + fx * fy * s[size_t(r1) * stride + c1];
      out[size_t(i) * dw + j] = static_cast<uint8_t>(sum >> 6);
    }
  }
  return out;
}

TEST(ScalePlanar, MatchesTheModelAtEveryRatio) {
  std::printf("seed %u\n", kSeed);
  Frame src(301, 203);
  src.Randomize();
  for (auto [x, y, w, h, dw, dh] :
       {std::tuple{0, 0, 301, 203, 301, 203}, std::tuple{0, 0, 301, 203, 100, 67}, std::tuple{5, 7, 290, 190, 57, 31},
        std::tuple{0, 0, 301, 203, 33, 22}, std::tuple{0, 0, 301, 203, 17, 11}, std::tuple{0, 0, 301, 203, 9, 5},
        std::tuple{3, 1, 40, 30, 517, 333}, std::tuple{299, 200, 10, 10, 6, 7}, std::tuple{0, 0, 301, 203, 1, 1}}) {
    Frame dst(dw, dh);
    gScaleCroppedFrame(&src.f, &dst.f, x, y, w, h);
    ASSERT_EQ(dst.y, ModelScalePlane(src.y, 301, 203, dw, dh, x, y, w, h)) << x << "," << y << " " << dw << "x" << dh;
    if (dw > 1 && dh > 1) {
      ASSERT_EQ(dst.u, ModelScalePlane(src.u, 150, 101, dw / 2, dh / 2, x / 2, y / 2, w / 2, h / 2)) << dw << "x" << dh;
    }
  }
}

TEST(ScalePlanar, FixedRatios) {
  Frame up(3, 2);
  up.y = {10, 20, 30, 10, 20, 30};
  up.Bind();
  Frame upOut(6, 4);
  gScaleCroppedFrame_upby2(&up.f, &upOut.f, 0, 0);
  EXPECT_EQ(std::vector<uint8_t>(upOut.y.begin(), upOut.y.begin() + 6), (std::vector<uint8_t>{10, 15, 20, 25, 30, 30}));
  EXPECT_EQ(std::vector<uint8_t>(upOut.y.begin() + 18, upOut.y.end()), (std::vector<uint8_t>{10, 15, 20, 25, 30, 30}));

  Frame down(4, 4);
  down.y.assign(16, 0);
  down.y[0] = 100;
  down.Bind();
  Frame downOut(2, 2);
  gScaleCroppedFrame_downby2(&down.f, &downOut.f, 0, 0, 0, 0);
  EXPECT_EQ(downOut.y[0], 56);

  Frame q(4, 4);
  for (int i = 0; i < 16; ++i) q.y[i] = static_cast<uint8_t>(i * 13);
  Frame qOut(3, 3);
  gScaleCroppedFrame_downto3by3(&q.f, &qOut.f, 0, 0, 0, 0);
  auto s = [&](int r, int c) { return int{q.Y(r, c)}; };
  EXPECT_EQ(qOut.Y(0, 0), (9 * s(0, 0) + 3 * s(0, 1) + 3 * s(1, 0) + s(1, 1)) >> 4);
  EXPECT_EQ(qOut.Y(1, 1), (s(1, 1) + s(1, 2) + s(2, 1) + s(2, 2)) >> 2);
  EXPECT_EQ(qOut.Y(2, 1), (s(2, 1) + s(2, 2) + 3 * s(3, 1) + 3 * s(3, 2)) >> 3);
  EXPECT_EQ(qOut.Y(2, 2), (s(2, 2) + 3 * s(2, 3) + 3 * s(3, 2) + 9 * s(3, 3)) >> 4);

  Frame four(3, 3);
  four.y = {0, 80, 160, 40, 120, 200, 80, 160, 240};
  four.Bind();
  Frame fourOut(12, 12);
  gScaleCroppedFrame_upby4(&four.f, &fourOut.f, 0, 0);
  const int f = 0, d = 80, c = 40, e = 120;
  const int g = (f + d) >> 1, m = (f + c) >> 1, h = (c + d) >> 1, l = (d + e) >> 1;
  const int g2 = (g + h) >> 1, h2 = (h + ((c + e) >> 1)) >> 1;
  EXPECT_EQ(fourOut.Y(0, 1), (f + g) >> 1);
  EXPECT_EQ(fourOut.Y(1, 3), (g2 + ((d + l) >> 1)) >> 1);
  EXPECT_EQ(fourOut.Y(2, 2), (m + l) >> 1);
  EXPECT_EQ(fourOut.Y(3, 2), h2);
  for (int r = 0; r < 12; ++r) {
    for (int k = 0; k < 4; ++k) ASSERT_EQ(fourOut.Y(r, 8 + k), fourOut.Y(r, 4 + k));
  }
  for (int k = 0; k < 12; ++k) ASSERT_EQ(fourOut.Y(11, k), fourOut.Y(7, k));
}

TEST(ScalePlanar, Yuv422To420) {
  Frame src(20, 12, Layout::k422);
  src.Fill(90, 100, 110);
  Frame dst(10, 6);
  ASSERT_EQ(0, gYUV422toYUV420(&src.f, &dst.f, 0, 0, 20, 12));
  EXPECT_EQ(dst.y, std::vector<uint8_t>(dst.y.size(), 90));
  EXPECT_EQ(dst.u, std::vector<uint8_t>(dst.u.size(), 100));
  EXPECT_EQ(dst.v, std::vector<uint8_t>(dst.v.size(), 110));
  src.Randomize();
  Frame big(28, 20);
  ASSERT_EQ(0, gYUV422toYUV420(&src.f, &big.f, 3, 2, 17, 10));  // upscale from a window
  for (int r = 0; r < 20; ++r) {
    ASSERT_EQ(big.Y(r, 26), big.Y(r, 25));
    ASSERT_EQ(big.Y(r, 27), big.Y(r, 25));
  }
  for (int c = 0; c < 28; ++c) ASSERT_EQ(big.Y(19, c), big.Y(17, c));
  // Output position 1 (Q18) of row 0, column 0: the window's first sample.
  EXPECT_EQ(big.Y(0, 0), src.Y(2, 3));
  Frame tiny(8, 2);
  tiny.Fill(5, 5, 5);
  EXPECT_EQ(0, gYUV422toYUV420(&src.f, &tiny.f, 0, 0, 20, 12));  // nothing to repeat: nothing written
  EXPECT_EQ(tiny.y, std::vector<uint8_t>(16, 5));
}

TEST(ScaleRgb565, TwoByTwoToFourByFour) {
  // Exact-size source: the right-hand tap of column 2 would be index 4.
  std::vector<uint16_t> src = {0xF800, 0x001F, 0x07E0, 0xFFFF};
  Padded<uint16_t> out(16, 0x1111);
  gScaleRGB565Frame(src.data(), out.Data(), 2, 2, 4, 4);
  ASSERT_TRUE(out.PaddingIntact());
  for (int r = 0; r < 4; ++r) EXPECT_EQ(out[size_t(r) * 4 + 3], out[size_t(r) * 4 + 2]) << r;
  for (int c = 0; c < 4; ++c) EXPECT_EQ(out[12 + c], out[8 + c]) << c;
  EXPECT_EQ(out[0], 0xF800);  // position 1 (Q18): the first pixel unchanged
  // Column 2 sits on source column 1 of row 0 with fraction 0.
  EXPECT_EQ(out[2], 0x001F);
  std::vector<uint16_t> solid(35, 0x7BEF);
  std::vector<uint16_t> o2(9 * 4);
  gScaleRGB565CroppedFrame(solid.data(), o2.data(), 7, 5, 9, 4, 2, 1, 3, 3);
  EXPECT_EQ(o2, std::vector<uint16_t>(36, 0x7BEF));
}

TEST(ScalePacked, Yuy2UpscaleStaysInsideTheRows) {
  // 2 x 2 YUY2 source, exact size; x4 up in both directions.
  std::vector<uint8_t> src = {10, 100, 20, 200, 30, 110, 40, 210};
  std::vector<uint8_t> out(size_t(8) * 2 * 8);
  gOvY1UY2VtoY1UY2V_Scale(src.data(), out.data(), 2, 2, 8, 8, 0, 0, 2, 2);
  EXPECT_EQ(out[0], 10);    // position 1: the first sample
  EXPECT_EQ(out[1], 100);   // U
  EXPECT_EQ(out[3], 200);   // V
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 16, out.end()), std::vector<uint8_t>(out.end() - 32, out.end() - 16));
  std::vector<uint8_t> flat(size_t(6) * 2 * 5);
  for (size_t i = 0; i < flat.size(); i += 4) {
    flat[i] = flat[i + 2] = 50;
    flat[i + 1] = 60;
    flat[i + 3] = 70;
  }
  std::vector<uint8_t> o2(size_t(10) * 2 * 3);
  gOvY1UY2VtoY1UY2V_Scale(flat.data(), o2.data(), 6, 5, 10, 3, 1, 1, 5, 4);
  for (size_t i = 0; i < o2.size(); i += 4) {
    ASSERT_EQ(o2[i], 50);
    ASSERT_EQ(o2[i + 1], 60);
    ASSERT_EQ(o2[i + 2], 50);
    ASSERT_EQ(o2[i + 3], 70);
  }
}

// Ratio 8 selects taps four pixels apart: output luma column c sits on source
// pixel 8c and chroma pair j on source group 8j, both with fraction 0.
TEST(ScalePacked, LargeReductionSamplesTapsApart) {
  std::vector<uint8_t> src(size_t(2) * 64 * 2);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + 3);
  std::vector<uint8_t> out(size_t(2) * 8 * 2);
  gOvY1UY2VtoY1UY2V_Scale(src.data(), out.data(), 64, 2, 8, 2, 0, 0, 64, 2);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(out[2 * c], src[2 * (8 * c)]) << c;  // Y at every even byte
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(out[4 * j + 1], src[4 * (8 * j) + 1]) << j;
    EXPECT_EQ(out[4 * j + 3], src[4 * (8 * j) + 3]) << j;
  }
}

class StripScale : public ::testing::TestWithParam<bool> {};

TEST_P(StripScale, StripsMatchTheWholePicture) {
  const bool to420 = GetParam();
  auto scale = to420 ? gOvScaleFrameYUYVtoYUV420P : gOvScaleFrameYUYVtoYUV422P;
  const uint32_t sw = 50, sh = 30, dw = 40, dh = 64, stripRows = to420 ? 16 : 8;
  std::vector<uint8_t> src(size_t(2) * sw * sh);
  FillRandom(src);
  const size_t lumaBytes = size_t(dw) * dh, chromaRows = to420 ? dh / 2 : dh;
  std::vector<uint8_t> whole(lumaBytes + 2 * size_t(dw / 2) * chromaRows);
  uint32_t bytes = static_cast<uint32_t>(whole.size()), strip = 0;
  ASSERT_EQ(0, scale(src.data(), whole.data(), sw, sh, dw, dh, &bytes, &strip));
  EXPECT_EQ(strip, dh / stripRows);
  // Three strips at a time; the last call makes the rest.
  const uint32_t stripBytes = dw * (to420 ? 24 : 16);
  for (uint32_t s = 0; s < dh / stripRows; s += 3) {
    std::vector<uint8_t> buf(3 * stripBytes);
    uint32_t b = static_cast<uint32_t>(buf.size()), st = s;
    ASSERT_EQ(0, scale(src.data(), buf.data(), sw, sh, dw, dh, &b, &st));
    const uint32_t rows = std::min<uint32_t>(3 * stripRows, dh - s * stripRows);
    const bool last = s * stripRows + rows == dh;
    EXPECT_EQ(st, (rows + stripRows - 1) / stripRows);
    if (!last) {
      EXPECT_EQ(b, 3 * stripBytes);
    }
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t outRow = s * stripRows + r;
      // Only the final row of the picture repeats the row before it.
      if (outRow == dh - 1) continue;
      ASSERT_EQ(0, std::memcmp(&buf[size_t(r) * dw], &whole[size_t(outRow) * dw], dw)) << s << " " << r;
    }
    const uint32_t crows = to420 ? rows / 2 : rows;
    for (uint32_t r = 0; r + 1 < crows; ++r) {
      const size_t srcRow = (to420 ? s * stripRows / 2 : s * stripRows) + r;
      ASSERT_EQ(0, std::memcmp(&buf[size_t(dw) * rows + size_t(r) * (dw / 2)],
                               &whole[lumaBytes + srcRow * (dw / 2)], dw / 2));
    }
  }
}

TEST_P(StripScale, ErrorsAndEdges) {
  const bool to420 = GetParam();
  auto scale = to420 ? gOvScaleFrameYUYVtoYUV420P : gOvScaleFrameYUYVtoYUV422P;
  std::vector<uint8_t> src(size_t(2) * 176 * 144, 128);
  std::vector<uint8_t> buf(176 * 24 - 1);
  uint32_t bytes = static_cast<uint32_t>(to420 ? buf.size() : 176 * 16 - 1), strip = 0;
  EXPECT_EQ(-2, scale(src.data(), buf.data(), 176, 144, 176, 144, &bytes, &strip));
  uint32_t b = 999, s = 2;
  EXPECT_EQ(-2, scale(nullptr, buf.data(), 176, 144, 176, 144, &b, &s));
  EXPECT_EQ(-2, scale(src.data(), nullptr, 176, 144, 176, 144, &b, &s));
  EXPECT_EQ(b, 999u);
  EXPECT_EQ(s, 2u);
  // No row left: strip index at the end of the picture.
  Padded<uint8_t> none(64, 0x42);
  b = 64;
  s = 144 / (to420 ? 16 : 8);
  EXPECT_EQ(0, scale(src.data(), none.Data(), 176, 144, 4, 144, &b, &s));
  for (size_t i = 0; i < none.size(); ++i) ASSERT_EQ(none[i], 0x42);
  EXPECT_TRUE(none.PaddingIntact());
  // One row left (height 9 / 17): interpolated, not copied from before the buffer.
  const uint32_t dh = to420 ? 17 : 9;
  Padded<uint8_t> one(8 + 2 * 4, 0x42);
  b = static_cast<uint32_t>(one.size());
  s = 1;
  EXPECT_EQ(0, scale(src.data(), one.Data(), 176, 144, 8, dh, &b, &s));
  EXPECT_TRUE(one.PaddingIntact());
  EXPECT_EQ(one[0], 128);
  EXPECT_EQ(one[8], 128);
}

INSTANTIATE_TEST_SUITE_P(Layouts, StripScale, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "To420" : "To422"; });

}  // namespace
}  // namespace iptest
