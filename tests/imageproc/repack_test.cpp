// Packed and planar YUV repacking: pure sample moves, checked against
// ffmpeg's conversions of the same raw frame (luma, and whole frames where
// ffmpeg repeats chroma the same way), hand-made fixtures for the layouts
// ffmpeg lacks, and the worked cases.
#include <gtest/gtest.h>

#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/picture_util.h"
#include "tests/support/test_paths.h"

namespace iptest {
namespace {

constexpr int kW = 66, kH = 38;  // the fixtures' size: chroma 33 x 19

Frame LoadFixture420() {
  const std::vector<uint8_t> raw = ovtest::ReadFileBytes(ovtest::FixturePath("imageproc_66x38.yuv"));
  Frame f(kW, kH);
  EXPECT_EQ(raw.size(), f.y.size() + 2 * f.u.size());
  if (raw.size() != f.y.size() + 2 * f.u.size()) return f;
  std::memcpy(f.y.data(), raw.data(), f.y.size());
  std::memcpy(f.u.data(), raw.data() + f.y.size(), f.u.size());
  std::memcpy(f.v.data(), raw.data() + f.y.size() + f.u.size(), f.v.size());
  return f;
}

std::vector<uint8_t> Bytes(const std::string& name) { return ovtest::ReadFileBytes(ovtest::FixturePath(name)); }

// Every other byte from `first`: the luma of a packed 4:2:2 picture.
std::vector<uint8_t> PackedLuma(const std::vector<uint8_t>& packed, int first) {
  std::vector<uint8_t> y;
  for (size_t i = first; i < packed.size(); i += 2) y.push_back(packed[i]);
  return y;
}

TEST(Repack, PackedToPlanarLumaMatchesFfmpeg) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_uyvy.raw"));
  const Frame ref = LoadFixture420();
  const std::vector<uint8_t> uyvy = Bytes("imageproc_66x38_uyvy.raw");
  const std::vector<uint8_t> yuyv = Bytes("imageproc_66x38_yuyv.raw");
  ASSERT_EQ(PackedLuma(uyvy, 1), ref.y);
  Frame a(kW, kH), b(kW, kH), c(kW, kH);
  a.f.width = a.f.height = 0;  // the functions write the size
  ASSERT_EQ(0, gUY1VY2ToYUV420(uyvy.data(), &a.f, kW, kH));
  EXPECT_EQ(a.f.width, kW);
  EXPECT_EQ(a.f.height, kH);
  EXPECT_EQ(a.y, ref.y);
  ASSERT_EQ(0, gY1UY2VToYUV420(yuyv.data(), &b.f, kW, kH));
  ASSERT_EQ(0, gY1UY2VToYV12(yuyv.data(), &c.f, kW, kH));
  EXPECT_EQ(b.y, ref.y);
  EXPECT_EQ(c.y, ref.y);
  // Opposite record pointers, the same planes. (ffmpeg interpolates chroma
  // when it makes 4:2:2, so only luma is compared with it.)
  EXPECT_EQ(b.v, c.u);
  EXPECT_EQ(b.u, c.v);
  std::vector<uint8_t> i420(ref.y.size() + 2 * ref.u.size());
  gOvYUY2toYUV420(yuyv.data(), i420.data(), kW, kH);
  EXPECT_TRUE(std::equal(ref.y.begin(), ref.y.end(), i420.begin()));
}

TEST(Repack, Planar422To420LumaMatchesFfmpeg) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_422p.yuv"));
  const Frame ref = LoadFixture420();
  const std::vector<uint8_t> raw = Bytes("imageproc_66x38_422p.yuv");
  Frame src(kW, kH, Layout::k422);
  ASSERT_EQ(raw.size(), src.y.size() + 2 * src.u.size());
  std::memcpy(src.y.data(), raw.data(), src.y.size());
  std::memcpy(src.u.data(), raw.data() + src.y.size(), src.u.size());
  std::memcpy(src.v.data(), raw.data() + src.y.size() + src.u.size(), src.v.size());
  Frame a(kW, kH), b(kW, kH);
  ASSERT_EQ(0, gYUV422toYUV420Ex(&src.f, &a.f));
  ASSERT_EQ(0, gYUV422htoYUV420(&src.f, &b.f));
  EXPECT_EQ(a.y, ref.y);
  EXPECT_EQ(b.y, ref.y);
}

TEST(Repack, PlanarToPackedMatchesFfmpeg) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_uyvy.raw"));
  Frame ref = LoadFixture420();
  const std::vector<uint8_t> uyvy = Bytes("imageproc_66x38_uyvy.raw");
  const std::vector<uint8_t> yuyv = Bytes("imageproc_66x38_yuyv.raw");
  std::vector<uint8_t> out(uyvy.size());
  ASSERT_EQ(0, gYUV420toUYVY(&ref.f, out.data(), kW, kH, 0, 0, 0, 0, kW, kH));
  EXPECT_EQ(PackedLuma(out, 1), PackedLuma(uyvy, 1));
  std::vector<uint8_t> out2(yuyv.size());
  ASSERT_EQ(0, gYUVPlanartoYUYV(&ref.f, out2.data(), kW, kH));
  EXPECT_EQ(PackedLuma(out2, 0), PackedLuma(yuyv, 0));
}

TEST(Repack, UyvyChromaFromUpperRowAndOddSizesRefused) {
  // 2 x 2: row 0 U 10 Y 1 V 20 Y 2, row 1 U 30 Y 3 V 40 Y 4.
  const std::vector<uint8_t> uyvy = {10, 1, 20, 2, 30, 3, 40, 4};
  Frame f(2, 2);
  ASSERT_EQ(0, gUY1VY2ToYUV420(uyvy.data(), &f.f, 2, 2));
  EXPECT_EQ(f.y, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(f.u[0], 10);
  EXPECT_EQ(f.v[0], 20);
  Frame g(2, 2);
  EXPECT_EQ(-1, gUY1VY2ToYUV420(uyvy.data(), &g.f, 3, 2));
  EXPECT_EQ(-1, gY1UY2VToYUV420(uyvy.data(), &g.f, 2, 1));
  EXPECT_EQ(-2, gY1UY2VToYV12(nullptr, &g.f, 2, 2));
  EXPECT_EQ(g.f.width, 2);  // nothing written on error
  EXPECT_EQ(g.y, (std::vector<uint8_t>(4, 0)));
}

TEST(Repack, Yuy2ToI420SkipsOddRowAndColumn) {
  // 3 x 3 YUY2 (rows of 6 bytes); the odd last row and column are not converted.
  std::vector<uint8_t> yuy2(18);
  for (size_t i = 0; i < yuy2.size(); ++i) yuy2[i] = static_cast<uint8_t>(i + 1);
  Padded<uint8_t> out(9 + 2 * (9 / 4), 0xCC);
  gOvYUY2toYUV420(yuy2.data(), out.Data(), 3, 3);
  ASSERT_TRUE(out.PaddingIntact());
  const int want[] = {1, 3, 0xCC, 7, 9, 0xCC, 0xCC, 0xCC, 0xCC, /*U*/ 2, 0xCC, /*V*/ 4, 0xCC};
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], want[i]) << i;
}

TEST(Repack, Planar422To420KeepsEvenRowsAndRefusesSizeMismatch) {
  Frame src(176, 144, Layout::k422), dst(176, 142);
  src.Randomize();
  dst.Fill(7, 7, 7);
  EXPECT_EQ(-1, gYUV422toYUV420Ex(&src.f, &dst.f));
  EXPECT_EQ(dst.y, std::vector<uint8_t>(dst.y.size(), 7));
  EXPECT_EQ(dst.u, std::vector<uint8_t>(dst.u.size(), 7));
  for (int h : {144, 9}) {
    Frame s(10, h, Layout::k422), d(10, h);
    s.Randomize();
    ASSERT_EQ(0, gYUV422toYUV420Ex(&s.f, &d.f));
    EXPECT_EQ(d.y, s.y);
    for (int r = 0; r < h / 2; ++r) {
      for (int c = 0; c < 5; ++c) {
        ASSERT_EQ(d.U(r, c), s.U(2 * r, c));
        ASSERT_EQ(d.V(r, c), s.V(2 * r, c));
      }
    }
  }
}

TEST(Repack, Planar422To420AveragesChromaRows) {
  Frame s(5, 7, Layout::k422), d(4, 6);
  s.Randomize();
  s.u[2 * 2] = 10;  // chroma rows 2 and 3 of column 0 (rows of 2 samples)
  s.u[3 * 2] = 13;
  d.f.width = d.f.height = 99;
  ASSERT_EQ(0, gYUV422htoYUV420(&s.f, &d.f));
  EXPECT_EQ(d.f.width, 4);
  EXPECT_EQ(d.f.height, 6);
  EXPECT_EQ(d.U(1, 0), 11);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 4; ++c) ASSERT_EQ(d.Y(r, c), s.Y(r, c));
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 2; ++c) ASSERT_EQ(d.V(r, c), (s.V(2 * r, c) + s.V(2 * r + 1, c)) >> 1);
  }
}

TEST(Repack, UyvyWindowAndPlacement) {
  Frame f(20, 8);
  f.Randomize();
  // srcX 5 and dstX 3 start at source column 4 and destination column 2.
  Padded<uint8_t> out(size_t(2) * 12 * 4, 0xAB);
  ASSERT_EQ(0, gYUV420toUYVY(&f.f, out.Data(), 12, 4, 5, 2, 3, 1, 6, 2));
  ASSERT_TRUE(out.PaddingIntact());
  const uint8_t* o = &out[size_t(2) * 12 * 0 + 2 * 2];
  EXPECT_EQ(out[2 * 2 - 1], 0xAB);  // left of the placement
  EXPECT_EQ(o[0], f.U(1, 2));
  EXPECT_EQ(o[1], f.Y(2, 4));
  EXPECT_EQ(o[2], f.V(1, 2));
  EXPECT_EQ(o[3], f.Y(2, 5));
  // Both rows of the pair take chroma row 1.
  EXPECT_EQ(o[2 * 12], f.U(1, 2));
  EXPECT_EQ(o[2 * 12 + 1], f.Y(3, 4));
  EXPECT_EQ(o[2 * 6 - 1], f.Y(2, 9));  // six columns converted
  EXPECT_EQ(o[2 * 6], 0xAB);
  // A window larger than the destination converts only what fits.
  Frame wide(100, 4);
  wide.Randomize();
  Padded<uint8_t> clip(size_t(2) * 100 * 2, 0xAB);
  ASSERT_EQ(0, gYUV420toUYVY(&wide.f, clip.Data(), 100, 2, 0, 0, 90, 0, 40, 2));
  ASSERT_TRUE(clip.PaddingIntact());
  EXPECT_EQ(clip[2 * 99 + 1], wide.Y(0, 9));
  EXPECT_EQ(clip[2 * 89 + 1], 0xAB);
  EXPECT_EQ(-2, gYUV420toUYVY(nullptr, clip.Data(), 100, 2, 0, 0, 0, 0, 4, 2));
}

TEST(Repack, YuyvOddHeightWritesEveryRow) {
  Frame f(4, 6);
  f.Randomize();
  Padded<uint8_t> out(size_t(8) * 5, 0x11);
  ASSERT_EQ(0, gYUVPlanartoYUYV(&f.f, out.Data(), 4, 5));
  ASSERT_TRUE(out.PaddingIntact());
  for (int r = 0; r < 5; ++r) {
    for (int i = 0; i < 2; ++i) {
      const uint8_t* o = &out[size_t(8) * r + 4 * i];
      EXPECT_EQ(o[0], f.Y(r, 2 * i));
      EXPECT_EQ(o[1], f.U(r / 2, i));
      EXPECT_EQ(o[2], f.Y(r, 2 * i + 1));
      EXPECT_EQ(o[3], f.V(r / 2, i));
    }
  }
  // A frame of odd height has no chroma row below its last pair: the last row
  // takes the last chroma row there is.
  Frame g(4, 5);
  g.Randomize();
  Padded<uint8_t> out2(size_t(8) * 5, 0x11);
  ASSERT_EQ(0, gYUVPlanartoYUYV(&g.f, out2.Data(), 4, 5));
  ASSERT_TRUE(out2.PaddingIntact());
  EXPECT_EQ(out2[size_t(8) * 4 + 1], g.U(1, 0));
}

// Y41P, which ffmpeg lacks: a hand-made 8 x 2 frame.
TEST(Repack, Y41pHandMadeFixture) {
  Frame f(8, 2);
  for (int i = 0; i < 16; ++i) f.y[i] = static_cast<uint8_t>(i + 1);
  f.u = {100, 101, 102, 103};
  f.v = {200, 201, 202, 203};
  f.Bind();
  std::vector<uint8_t> out(24);
  ASSERT_EQ(0, gYUV420toY41P(&f.f, out.data(), 8));
  const std::vector<uint8_t> want = {100, 1, 200, 2,  102, 3,  202, 4,  5,  6,  7,  8,    // row 0
                                     100, 9, 200, 10, 102, 11, 202, 12, 13, 14, 15, 16};  // row 1
  EXPECT_EQ(out, want);
  // Width 12: only the whole group of eight columns; rows still 12 bytes.
  Frame g(12, 2);
  g.Randomize();
  Padded<uint8_t> o(24, 0x3C);
  ASSERT_EQ(0, gYUV420toY41P(&g.f, o.Data(), 8));
  ASSERT_TRUE(o.PaddingIntact());
  EXPECT_EQ(o[13], g.Y(1, 0));
}

}  // namespace
}  // namespace iptest
