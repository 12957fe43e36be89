// YUV to RGB: 24-bit outputs, the 16-bit families with crop, placement and
// rotation, 4:4:4 and packed VYUY, against worked values and the colour model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/colour_model.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

// The decoders' conversion, exported as is: BT.601 with the ordered dither,
// rows of ((width + 1) & ~1) pixels.
TEST(YuvToRgb, Rgb565OfTheDecodersGoldens) {
  Frame f(2, 2);
  f.Fill(7, 128, 128);
  std::vector<int16_t> out(4);
  gOvYUV420toRGB565TopDown(&f.f, out.data(), 2, 2, 1);
  EXPECT_EQ(std::vector<int16_t>({0x0840, 0x0821, 0x0841, 0x0041}), out);
  f.Fill(128, 128, 128);
  gOvYUV420toRGB565TopDown(&f.f, out.data(), 2, 2, 1);
  EXPECT_EQ(std::vector<int16_t>(4, static_cast<int16_t>(0x8410)), out);
}

TEST(YuvToRgb, Rgb565OfTheDecodersMatchesModel) {
  Frame f(10, 8);
  f.Randomize();
  for (int topDown : {0, 1}) {
    Padded<int16_t> out(size_t(6) * 5, 0x3333);  // width 5: rows of 6 pixels, the sixth untouched
    gOvYUV420toRGB565TopDown(&f.f, out.Data(), 5, 5, topDown);
    ASSERT_TRUE(out.PaddingIntact());
    for (int r = 0; r < 5; ++r) {
      const int pr = r == 4 ? 3 : r;  // an odd last row repeats the one above
      const int memRow = topDown ? r : 4 - r;
      for (int c = 0; c < 5; ++c) {
        const int pc = c == 4 ? 3 : c;
        const uint16_t want =
            To565(ModelRgb(f.Y(pr, pc), f.U(pr / 2, pc / 2), f.V(pr / 2, pc / 2), kBt601, kDither[pr & 1][pc & 1]));
        ASSERT_EQ(static_cast<uint16_t>(out[size_t(memRow) * 6 + c]), want) << topDown << " " << r << "," << c;
      }
      ASSERT_EQ(out[size_t(memRow) * 6 + 5], 0x3333);
    }
  }
  Padded<int16_t> none(4, 0x3333);
  gOvYUV420toRGB565TopDown(&f.f, none.Data(), 12, 2, 1);  // wider than the frame: refused
  gOvYUV420toRGB565TopDown(nullptr, none.Data(), 2, 2, 1);
  for (size_t i = 0; i < none.size(); ++i) ASSERT_EQ(none[i], 0x3333);
}

TEST(YuvToRgb, Rgb888Goldens) {
  Frame f(2, 2);
  f.Fill(235, 128, 128);
  std::vector<uint8_t> out(12);
  gOvYUV420toRGB888TopDown(&f.f, out.data(), 2, 2, 1);
  for (uint8_t b : out) EXPECT_EQ(b, 235);
  f.Fill(0, 128, 255);
  gOvYUV420toRGB888TopDown(&f.f, out.data(), 2, 2, 1);
  EXPECT_EQ(out[0], 178);  // red
  EXPECT_EQ(out[1], 0);    // green, clipped
}

// R, G, B bytes without dither; bottom-up output is the row-reversed top-down
// output; an odd last row repeats the one above, an odd last column the one
// to its left; width may be less than the frame's.
TEST(YuvToRgb, Rgb888MatchesModelInBothRowOrders) {
  for (auto [fw, fh, w, h] : {std::tuple{8, 6, 8, 6}, std::tuple{8, 6, 7, 5}, std::tuple{4, 3, 4, 3},
                              std::tuple{34, 20, 33, 19}}) {
    Frame f(fw, fh);
    f.Randomize();
    std::vector<uint8_t> down(size_t(3) * w * h), up(down.size());
    gOvYUV420toRGB888TopDown(&f.f, down.data(), w, h, 1);
    gOvYUV420toRGB888TopDown(&f.f, up.data(), w, h, 0);
    for (int r = 0; r < h; ++r) {
      ASSERT_EQ(0, std::memcmp(&down[size_t(3) * w * r], &up[size_t(3) * w * (h - 1 - r)], size_t(3) * w));
      const int pr = (h & 1) && r == h - 1 ? r - 1 : r;
      for (int c = 0; c < w; ++c) {
        const int pc = (w & 1) && c == w - 1 ? c - 1 : c;
        const Rgb m = ModelRgb(f.Y(pr, pc), f.U(pr / 2, pc / 2), f.V(pr / 2, pc / 2), kBt601, kNone);
        const uint8_t* o = &down[size_t(3) * (size_t(w) * r + c)];
        ASSERT_EQ(o[0], m.r) << r << "," << c;
        ASSERT_EQ(o[1], m.g);
        ASSERT_EQ(o[2], m.b);
      }
    }
  }
}

TEST(YuvToRgb, Bgr24GoldensAndStride) {
  Frame f(4, 2);
  f.Fill(100, 128, 128);
  Padded<uint8_t> out(2 * 15, 0xEE);
  EXPECT_EQ(gYUV420toBGR24(&f.f, out.Data(), 11), -1);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
  EXPECT_EQ(gYUV420toBGR24(&f.f, out.Data(), 15), 0);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(out[3 * c], c % 2 ? 101 : 100);
  for (int i = 12; i < 15; ++i) EXPECT_EQ(out[i], 0xEE);  // beyond 3 x width: untouched
  EXPECT_TRUE(out.PaddingIntact());
}

TEST(YuvToRgb, Bgr24MatchesModel) {
  Frame f(34, 18);
  f.Randomize();
  const int stride = 3 * 34 + 7;
  std::vector<uint8_t> out(size_t(stride) * 18);
  ASSERT_EQ(gYUV420toBGR24(&f.f, out.data(), stride), 0);
  for (int r = 0; r < 18; ++r) {
    for (int c = 0; c < 34; ++c) {
      const Rgb m = ModelRgb(f.Y(r, c) + (c & 1), f.U(r / 2, c / 2), f.V(r / 2, c / 2), kBt709Rounded, kNone);
      const uint8_t* o = &out[size_t(stride) * r + 3 * c];
      ASSERT_EQ(o[0], m.b);
      ASSERT_EQ(o[1], m.g);
      ASSERT_EQ(o[2], m.r);
    }
  }
}

// Where window pixel (y, x) of an R x C window lands, per family and type.
std::pair<int, int> TopDownAt(int type, int y, int x, int R, int C) {
  switch (type) {
    case 0: return {y, x};
    case 1: return {x, R - 1 - y};
    case 2: return {R - 1 - y, C - 1 - x};
    default: return {C - 1 - x, y};
  }
}
std::pair<int, int> BottomUpAt(int type, int y, int x, int R, int C) {
  switch (type) {
    case 0: return {R - 1 - y, x};
    case 1: return {x, y};
    case 2: return {y, C - 1 - x};
    default: return {C - 1 - x, R - 1 - y};
  }
}

struct RotCase {
  int type;
  int srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight;
};
std::string RotName(const ::testing::TestParamInfo<RotCase>& i) {
  const RotCase& c = i.param;
  // Built by appending: "t" + std::to_string(...) makes GCC 12 at -O3
  // report a false -Wrestrict overlap in the inlined insert at the front.
  std::string name = "t";
  name += std::to_string(c.type);
  name += '_';
  name += std::to_string(i.index);
  return name;
}
const RotCase kRotCases[] = {
    {0, 4, 2, 10, 8, 3, 5, 40, 30},   {1, 4, 2, 10, 8, 3, 5, 40, 30}, {2, 4, 2, 10, 8, 3, 5, 40, 30},
    {3, 4, 2, 10, 8, 3, 5, 40, 30},   {0, 3, 1, 11, 7, 1, 2, 40, 30}, {1, 3, 1, 11, 7, 1, 2, 40, 30},
    {2, 2, 0, 100, 100, 30, 20, 40, 30},  // clipped by the destination
    {3, 0, 0, 100, 100, 2, 1, 40, 30},  {0, 0, 0, 33, 21, 0, 0, 33, 21},
};

class Rgb16Rotate : public ::testing::TestWithParam<RotCase> {};

// The BT.709 family: every window pixel converted with its block's dither (an
// odd last column alone: lower pixel with the top-right offsets), landing as
// the type turns it on a top-down destination, nothing else written.
TEST_P(Rgb16Rotate, Yuv420MatchesModel) {
  const RotCase& c = GetParam();
  Frame f(33, 21);
  f.Randomize();
  const uint16_t kCanary = 0xBEEF;
  Padded<uint16_t> out(size_t(c.dstStride) * c.dstHeight, kCanary);
  ASSERT_EQ(0, gYUV420toRGB16Rotate(&f.f, reinterpret_cast<int16_t*>(out.Data()), c.dstStride, c.dstHeight, c.dstX,
                                    c.dstY, c.srcX, c.srcY, c.width, c.height, c.type));
  ASSERT_TRUE(out.PaddingIntact());
  const int sx = c.srcX & ~1, sy = c.srcY & ~1;
  const bool quarter = c.type & 1;
  const int C = std::min({c.width, 33 - sx, quarter ? c.dstHeight - c.dstY : c.dstStride - c.dstX});
  const int R = std::min({c.height, 21 - sy, quarter ? c.dstStride - c.dstX : c.dstHeight - c.dstY});
  std::vector<bool> hit(out.size());
  for (int y = 0; y < R; ++y) {
    for (int x = 0; x < C; ++x) {
      const int py = sy + y, px = sx + x;
      Offsets o = kDither[y & 1][x & 1];
      if ((C & 1) && x == C - 1) o = kDither[0][y & 1];
      const int cy = std::min(py / 2, 21 / 2 - 1), cx = std::min(px / 2, 33 / 2 - 1);
      const uint16_t want = To565(ModelRgb(f.Y(py, px), f.U(cy, cx), f.V(cy, cx), kBt709, o));
      const auto [dr, dc] = TopDownAt(c.type, y, x, R, C);
      const size_t at = size_t(c.dstY + dr) * c.dstStride + c.dstX + dc;
      ASSERT_EQ(out[at], want) << y << "," << x;
      hit[at] = true;
    }
  }
  for (size_t i = 0; i < out.size(); ++i) {
    if (!hit[i]) {
      ASSERT_EQ(out[i], kCanary) << i;
    }
  }
}

// The bottom-up families (4:2:0 shift-only and 4:2:2 BT.601): counts rounded
// down to even; type 0 fills an odd last column and row from its neighbour.
TEST_P(Rgb16Rotate, BottomUpFamiliesMatchModel) {
  const RotCase& c = GetParam();
  for (bool is422 : {false, true}) {
    Frame f(33, 21, is422 ? Layout::k422 : Layout::k420);
    f.Randomize();
    const uint16_t kCanary = 0xBEEF;
    int stride = c.dstStride, rowsOut = c.dstHeight;
    if (is422 && (c.type & 1)) std::swap(stride, rowsOut);  // quarter turns: rows dstHeight long
    Padded<uint16_t> out(size_t(c.dstStride) * c.dstHeight, kCanary);
    auto* o16 = reinterpret_cast<int16_t*>(out.Data());
    const int rc = is422 ? gYUV422HPlanartoBGR565TopDown_Rotate(&f.f, o16, c.srcX, c.srcY, c.width, c.height, c.dstX,
                                                                c.dstY, c.dstStride, c.dstHeight, c.type)
                         : gYUV420toBGR565TopDown_Rotate(&f.f, o16, c.srcX, c.srcY, c.width, c.height, c.dstX,
                                                         c.dstY, c.dstStride, c.dstHeight, c.type);
    ASSERT_EQ(rc, 0);
    ASSERT_TRUE(out.PaddingIntact());
    const int sx = is422 ? c.srcX : c.srcX & ~1, sy = is422 ? c.srcY : c.srcY & ~1;
    const bool quarter = c.type & 1;
    const int C = std::min({c.width, 33 - sx, quarter ? rowsOut - c.dstY : stride - c.dstX});
    const int R = std::min({c.height, 21 - sy, quarter ? stride - c.dstX : rowsOut - c.dstY});
    const int C2 = C & ~1, R2 = R & ~1;
    const int landR = c.type == 0 ? R : R2, landC = c.type == 0 ? C : C2;
    std::vector<bool> hit(out.size());
    auto at = [&](int y, int x) {
      const auto [dr, dc] = BottomUpAt(c.type, y, x, landR, landC);
      return size_t(c.dstY + dr) * stride + c.dstX + dc;
    };
    for (int y = 0; y < R2; ++y) {
      for (int x = 0; x < C2; ++x) {
        const int py = sy + y, px = sx + x;
        const int cy = is422 ? py : sy / 2 + y / 2, cx = sx / 2 + x / 2;
        const Offsets o = kDither[y & 1][x & 1];
        const Rgb m = is422 ? ModelRgb(f.Y(py, px), f.U(cy, cx), f.V(cy, cx), kBt601, o)
                            : ModelShiftRgb(f.Y(py, px), f.U(cy, cx), f.V(cy, cx), o);
        ASSERT_EQ(out[at(y, x)], To565(m)) << is422 << " " << y << "," << x;
        hit[at(y, x)] = true;
      }
    }
    if (c.type == 0) {
      for (int y = 0; y < R; ++y) {
        for (int x = 0; x < C; ++x) {
          if (y < R2 && x < C2) continue;
          ASSERT_EQ(out[at(y, x)], out[at(std::min(y, R2 - 1), std::min(x, C2 - 1))]);
          hit[at(y, x)] = true;
        }
      }
    }
    for (size_t i = 0; i < out.size(); ++i) {
      if (!hit[i]) {
        ASSERT_EQ(out[i], kCanary) << is422 << " " << i;
      }
    }
  }
}

// 4:2:2 BT.709 family: every row its own chroma row and the top-row offsets;
// positions and counts rounded down to even.
TEST_P(Rgb16Rotate, Yuv422Rgb16MatchesModel) {
  const RotCase& c = GetParam();
  Frame f(33, 21, Layout::k422);
  f.Randomize();
  const uint16_t kCanary = 0xBEEF;
  Padded<uint16_t> out(size_t(c.dstStride) * c.dstHeight, kCanary);
  ASSERT_EQ(0, gYUV422toRGB16Rotate(&f.f, reinterpret_cast<int16_t*>(out.Data()), c.dstStride, c.dstHeight, c.dstX,
                                    c.dstY, c.srcX, c.srcY, c.width, c.height, c.type));
  ASSERT_TRUE(out.PaddingIntact());
  const int sx = c.srcX & ~1, sy = c.srcY & ~1;
  const bool quarter = c.type & 1;
  const int C = std::min({c.width & ~1, 33 - sx, quarter ? c.dstHeight - c.dstY : c.dstStride - c.dstX}) & ~1;
  const int R = std::min({c.height & ~1, 21 - sy, quarter ? c.dstStride - c.dstX : c.dstHeight - c.dstY}) & ~1;
  size_t written = 0;
  for (int y = 0; y < R; ++y) {
    for (int x = 0; x < C; ++x) {
      const int py = sy + y, px = sx + x;
      const uint16_t want =
          To565(ModelRgb(f.Y(py, px), f.U(py, px / 2), f.V(py, px / 2), kBt709, kDither[0][x & 1]));
      const auto [dr, dc] = TopDownAt(c.type, y, x, R, C);
      ASSERT_EQ(out[size_t(c.dstY + dr) * c.dstStride + c.dstX + dc], want) << y << "," << x;
      ++written;
    }
  }
  size_t untouched = 0;
  for (size_t i = 0; i < out.size(); ++i) untouched += out[i] == kCanary;
  EXPECT_EQ(untouched + written, out.size());
}

INSTANTIATE_TEST_SUITE_P(Windows, Rgb16Rotate, ::testing::ValuesIn(kRotCases), RotName);

TEST(YuvToRgb16, GreyGivesTheOrderedOffsetsOnly) {
  Frame f(2, 2);
  f.Fill(128, 128, 128);
  std::vector<int16_t> a(4), b(4);
  ASSERT_EQ(0, gYUV420toRGB16Rotate(&f.f, a.data(), 2, 2, 0, 0, 0, 0, 2, 2, 0));
  ASSERT_EQ(0, gYUV420toBGR565TopDown_Rotate(&f.f, b.data(), 0, 0, 2, 2, 0, 0, 2, 2, 0));
  const uint16_t topLeft = static_cast<uint16_t>(a[0]);
  EXPECT_EQ(FieldB(topLeft), 16);
  EXPECT_EQ(FieldG(topLeft), 32);
  EXPECT_EQ(FieldR(topLeft), 16);
  EXPECT_EQ(static_cast<uint16_t>(b[2]), topLeft);  // bottom-up: window row 0 is the last row
}

TEST(YuvToRgb16, BadArgumentsReturnMinusOneAndWriteNothing) {
  Frame f(4, 4);
  Padded<int16_t> out(16, 0x1234);
  EXPECT_EQ(-1, gYUV420toRGB16Rotate(&f.f, nullptr, 4, 4, 0, 0, 0, 0, 4, 4, 0));
  EXPECT_EQ(-1, gYUV420toRGB16Rotate(&f.f, out.Data(), 4, 4, 0, 0, 0, 0, 4, 4, 4));
  EXPECT_EQ(-1, gYUV420toBGR565TopDown_Rotate(&f.f, out.Data(), 0, 0, 4, 4, 0, 0, 4, 4, 4));
  EXPECT_EQ(-1, gYUV420toBGR565TopDown_Rotate(&f.f, nullptr, 0, 0, 4, 4, 0, 0, 4, 4, 0));
  EXPECT_EQ(-1, gYUV422toRGB16Rotate(&f.f, out.Data(), 4, 4, 0, 0, 0, 0, 4, 4, 7));
  EXPECT_EQ(-1, gYUV422HPlanartoBGR565TopDown_Rotate(&f.f, out.Data(), 0, 0, 4, 4, 0, 0, 4, 4, 0x104));
  YuvFrame noPlane = f.f;
  noPlane.u = nullptr;
  EXPECT_EQ(-1, gYUV420toRGB16Rotate(&noPlane, out.Data(), 4, 4, 0, 0, 0, 0, 4, 4, 0));
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0x1234);
  // Only the low 8 bits of the type count.
  EXPECT_EQ(0, gYUV420toBGR565TopDown_Rotate(&f.f, out.Data(), 0, 0, 4, 4, 0, 0, 4, 4, 0x300));
}

TEST(YuvToRgb16, OddSourceColumnStartsOnTheEvenOne) {
  Frame f(8, 2);
  f.Randomize();
  std::vector<int16_t> a(4), b(4);
  gYUV420toRGB16Rotate(&f.f, a.data(), 2, 2, 0, 0, 3, 0, 2, 2, 0);
  gYUV420toRGB16Rotate(&f.f, b.data(), 2, 2, 0, 0, 2, 0, 2, 2, 0);
  EXPECT_EQ(a, b);
}

TEST(YuvToRgb, Yuv422Rgb888Goldens) {
  Frame f(2, 2, Layout::k422);
  f.Fill(128, 200, 60);
  std::vector<uint8_t> out(12);
  gYUV422HPlanartoRGB888TopDown(&f.f, out.data(), 2, 2, 1);
  const uint8_t want[3][3] = {{255, 155, 34}, {255, 152, 38}, {255, 153, 36}};
  for (int p = 0; p < 3; ++p) {
    for (int k = 0; k < 3; ++k) EXPECT_EQ(out[3 * p + k], want[p][k]) << p;
  }
  std::vector<uint8_t> other(12);
  gYUV422HPlanartoBGR888TopDown(&f.f, other.data(), 2, 2, 1);  // one function, two names
  EXPECT_EQ(out, other);
}

TEST(YuvToRgb, Yuv422Rgb888MatchesModel) {
  for (auto [w, h] : {std::pair{10, 6}, std::pair{9, 5}}) {
    Frame f(w, h, Layout::k422);
    f.Randomize();
    Padded<uint8_t> down(size_t(3) * w * h, 0x77), up(size_t(3) * w * h, 0x77);
    gYUV422HPlanartoRGB888TopDown(&f.f, down.Data(), w, h, 1);
    gYUV422HPlanartoRGB888TopDown(&f.f, up.Data(), w, h, 0);
    ASSERT_TRUE(down.PaddingIntact());
    ASSERT_TRUE(up.PaddingIntact());
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const int cc = std::min(c / 2, w / 2 - 1);
        const Rgb m = ModelRgb(f.Y(r, c), f.U(r, cc), f.V(r, cc), kBt601, kDither[r & 1][c & 1]);
        const uint8_t* o = &down[size_t(3) * (size_t(w) * r + c)];
        ASSERT_EQ(o[0], m.b);
        ASSERT_EQ(o[1], m.g);
        ASSERT_EQ(o[2], m.r);
        ASSERT_EQ(0, std::memcmp(o, &up[size_t(3) * (size_t(w) * (h - 1 - r) + c)], 3));
      }
    }
  }
}

TEST(YuvToRgb, Yuv444Rgb16) {
  Frame grey(3, 2, Layout::k444);
  grey.Fill(128, 128, 128);
  std::vector<int16_t> out(6);
  int16_t* p = out.data();
  gYUV444toRGB16(&grey.f, &p, 3, 2);
  EXPECT_EQ(p, out.data());
  for (int16_t wv : out) {
    const uint16_t w = static_cast<uint16_t>(wv);
    EXPECT_EQ(FieldB(w), 16);
    EXPECT_EQ(FieldG(w), 32);
    EXPECT_EQ(FieldR(w), 16);
  }
  Frame f(13, 7, Layout::k444);
  f.Randomize();
  Padded<int16_t> o(size_t(11) * 5, 0x2222);
  p = o.Data();
  gYUV444toRGB16(&f.f, &p, 11, 5);  // a window narrower than the frame: rows of 11 pixels
  ASSERT_TRUE(o.PaddingIntact());
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 11; ++c) {
      ASSERT_EQ(static_cast<uint16_t>(o[size_t(11) * r + c]),
                To565(ModelRgb(f.Y(r, c), f.U(r, c), f.V(r, c), kBt601Rounded, kNone)));
    }
  }
}

// Packed VYUY, which ffmpeg lacks: a hand-made 4 x 3 picture.
TEST(YuvToRgb, VyuyHandMadeFixture) {
  // Rows of two groups V, Y0, U, Y1.
  std::vector<uint8_t> packed = {
      90,  16,  160, 40,  /**/ 128, 128, 128, 129,  //
      200, 235, 50,  100, /**/ 140, 60,  110, 70,   //
      10,  20,  30,  40,  /**/ 50,  60,  70,  80,   //
  };
  YuvFrame f{packed.data(), nullptr, nullptr, 4, 3};
  auto model = [&](int r, int c, int y) {  // window pixel (r, c) of a window starting at source row 0
    const uint8_t* g = &packed[size_t(r) * 8 + 4 * (c / 2)];
    return To565(ModelRgb(g[c % 2 ? 3 : 1], g[2], g[0], kBt709Packed, kDither[y & 1][c & 1]));
  };
  Padded<int16_t> top(5 * 4, 0x0BAD), bottom(5 * 4, 0x0BAD);
  ASSERT_EQ(0, gVYUYtoRGB565(&f, top.Data(), 0, 0, 4, 3, 1, 0, 5, 4, 1));
  ASSERT_EQ(0, gVYUYtoRGB565(&f, bottom.Data(), 0, 0, 4, 3, 1, 0, 5, 4, 0));
  ASSERT_TRUE(top.PaddingIntact());
  ASSERT_TRUE(bottom.PaddingIntact());
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      // The odd last row repeats the row before it.
      const uint16_t want = r == 2 ? model(1, c, 1) : model(r, c, r);
      EXPECT_EQ(static_cast<uint16_t>(top[size_t(r) * 5 + 1 + c]), want) << r << "," << c;
      EXPECT_EQ(static_cast<uint16_t>(bottom[size_t(3 - r) * 5 + 1 + c]), want) << r << "," << c;
    }
    EXPECT_EQ(top[size_t(r) * 5], 0x0BAD);  // column 0 is left of the placement
  }
  for (int c = 0; c < 5; ++c) EXPECT_EQ(top[15 + c], 0x0BAD);
  // A window clipped to the source's last two columns, and an odd window
  // width, whose last column repeats the pixel to its left.
  Padded<int16_t> narrow(3, 0x0BAD);
  ASSERT_EQ(0, gVYUYtoRGB565(&f, narrow.Data(), 2, 1, 3, 1, 0, 0, 3, 1, 1));
  EXPECT_EQ(static_cast<uint16_t>(narrow[0]), To565(ModelRgb(60, 110, 140, kBt709Packed, kDither[0][0])));
  EXPECT_EQ(static_cast<uint16_t>(narrow[1]), To565(ModelRgb(70, 110, 140, kBt709Packed, kDither[0][1])));
  EXPECT_EQ(narrow[2], 0x0BAD);
  ASSERT_EQ(0, gVYUYtoRGB565(&f, narrow.Data(), 0, 1, 3, 1, 0, 0, 3, 1, 1));
  EXPECT_EQ(static_cast<uint16_t>(narrow[1]), To565(ModelRgb(100, 50, 200, kBt709Packed, kDither[0][1])));
  EXPECT_EQ(narrow[2], narrow[1]);
  EXPECT_EQ(-12, gVYUYtoRGB565(&f, top.Data(), 0, 0, 4, 3, 0, 0, 5, 4, 2));
  EXPECT_EQ(-2, gVYUYtoRGB565(&f, nullptr, 0, 0, 4, 3, 0, 0, 5, 4, 0));
}

}  // namespace
}  // namespace iptest
