// Blits, stretch modes, keyed and alpha blits, regions and clipping, pens
// and pixels on RGB565 surfaces. Expected values are worked by hand; each
// test also saves its surface as PNG in its scratch folder.
#include <gtest/gtest.h>

#include "platform/gfx/dc.h"
#include "tests/gfx/surface_util.h"
#include "tests/support/md5.h"

namespace {

using gfx::Rgb;
using ovtest::MakeCanvas;

constexpr gfx::COLORREF kRed = Rgb(255, 0, 0), kGreen = Rgb(0, 255, 0), kBlue = Rgb(0, 0, 255);
constexpr gfx::COLORREF kWhite = Rgb(255, 255, 255), kBlack = 0, kMagenta = Rgb(255, 0, 255);

// A 4x4 source whose pixel (x, y) is Rgb(x * 64, y * 64, 100).
ovtest::Canvas Pattern() {
  auto c = MakeCanvas(4, 4, kBlack);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) gfx::SetPixel(c.get(), x, y, Rgb(uint8_t(x * 64), uint8_t(y * 64), 100));
  }
  return c;
}

gfx::COLORREF PatternAt(int x, int y) {
  return gfx::Rgb565ToColorRef(gfx::ColorRefTo565(Rgb(uint8_t(x * 64), uint8_t(y * 64), 100)));
}

TEST(ColorTest, OneConversionAndGetPixelAsColorRef) {
  EXPECT_EQ(gfx::ColorRefTo565(kRed), 0xF800);
  EXPECT_EQ(gfx::ColorRefTo565(kGreen), 0x07E0);
  EXPECT_EQ(gfx::ColorRefTo565(kBlue), 0x001F);
  EXPECT_EQ(gfx::ColorRefTo565(kMagenta), 0xF81F);
  auto c = MakeCanvas(3, 2, kBlack);
  gfx::SetPixel(c.get(), 0, 0, kRed);
  gfx::SetPixel(c.get(), 1, 0, kWhite);
  gfx::SetPixel(c.get(), 2, 0, Rgb(0x12, 0x34, 0x56));
  EXPECT_EQ(gfx::GetPixel(c.get(), 0, 0), 0x000000FFu);  // 0x00BBGGRR
  EXPECT_EQ(gfx::GetPixel(c.get(), 1, 0), 0x00FFFFFFu);
  EXPECT_EQ(gfx::GetPixel(c.get(), 2, 0), Rgb(0x10, 0x34, 0x52));  // top bits kept, widened by repetition
  EXPECT_EQ(gfx::GetPixel(c.get(), 3, 0), gfx::kClrInvalid);
  EXPECT_EQ(gfx::GetPixel(c.get(), -1, 0), gfx::kClrInvalid);
  // Rows are padded to an even pixel count.
  EXPECT_EQ(c.bitmap->stride(), 4);
  EXPECT_EQ(gfx::CreateBitmap565(7, 1)->row_bytes(), 16);
  EXPECT_EQ(gfx::CreateBitmap565(0, 5), nullptr);
  EXPECT_EQ(gfx::CreateBitmap565(100000, 100000), nullptr);
}

TEST(BlitTest, BitBltCopiesAndClipsNegativeOffsets) {
  auto src = Pattern();
  auto dst = MakeCanvas(6, 6, kWhite);
  ASSERT_TRUE(gfx::BitBlt(dst.get(), -1, -2, 4, 4, src.get(), 0, 0, gfx::kSrcCopy));
  // Destination (0, 0) shows source (1, 2); only the visible 3x2 part was written.
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 0), PatternAt(1, 2));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 1), PatternAt(3, 3));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 3, 0), kWhite);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 2), kWhite);
  // A source offset past the source's edges copies only what exists.
  ASSERT_TRUE(gfx::BitBlt(dst.get(), 2, 2, 4, 4, src.get(), 2, -1, gfx::kSrcCopy));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 2), kWhite);  // source row -1
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 3), PatternAt(2, 0));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 4, 3), kWhite);  // source column 4
  ovtest::SaveSurface(ovtest::ScratchDir(), "bitblt", *dst.bitmap);
}

TEST(BlitTest, RasterOperationsWithoutSource) {
  auto dst = MakeCanvas(4, 1, Rgb(255, 0, 0));
  EXPECT_TRUE(gfx::BitBlt(dst.get(), 0, 0, 1, 1, nullptr, 0, 0, gfx::kBlackness));
  EXPECT_TRUE(gfx::BitBlt(dst.get(), 1, 0, 1, 1, nullptr, 0, 0, gfx::kWhiteness));
  EXPECT_TRUE(gfx::BitBlt(dst.get(), 2, 0, 1, 1, nullptr, 0, 0, gfx::kDstInvert));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 0), kBlack);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 1, 0), kWhite);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 0), Rgb(0, 255, 255));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 3, 0), kRed);
  EXPECT_FALSE(gfx::BitBlt(dst.get(), 0, 0, 1, 1, nullptr, 0, 0, gfx::kSrcCopy));
  EXPECT_FALSE(gfx::BitBlt(dst.get(), 0, 0, 1, 1, dst.get(), 0, 0, 0x00EE0086u));  // SRCPAINT is not offered
  // Extreme rectangles are clipped, not walked.
  EXPECT_TRUE(gfx::BitBlt(dst.get(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, nullptr, 0, 0, gfx::kWhiteness));
  EXPECT_TRUE(gfx::BitBlt(dst.get(), 3, 0, INT32_MAX, INT32_MAX, dst.get(), 0, 0, gfx::kSrcCopy));
}

TEST(BlitTest, OverlappingCopyOnOneSurface) {
  auto c = Pattern();
  ASSERT_TRUE(gfx::BitBlt(c.get(), 1, 0, 3, 4, c.get(), 0, 0, gfx::kSrcCopy));
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(gfx::GetPixel(c.get(), 0, y), PatternAt(0, y));
    for (int x = 1; x < 4; ++x) EXPECT_EQ(gfx::GetPixel(c.get(), x, y), PatternAt(x - 1, y)) << x << "," << y;
  }
}

TEST(BlitTest, StretchNearestCropAndFlip) {
  auto src = Pattern();
  auto dst = MakeCanvas(8, 8, kWhite);
  // 2x2 source crop at (1, 1) doubled to 4x4.
  ASSERT_TRUE(gfx::StretchBlt(dst.get(), 0, 0, 4, 4, src.get(), 1, 1, 2, 2, gfx::kSrcCopy));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(gfx::GetPixel(dst.get(), x, y), PatternAt(1 + x / 2, 1 + y / 2));
  }
  // A negative source height flips: rows come from the bottom up.
  ASSERT_TRUE(gfx::StretchBlt(dst.get(), 4, 0, 4, 4, src.get(), 0, 3, 4, -4, gfx::kSrcCopy));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(gfx::GetPixel(dst.get(), 4 + x, y), PatternAt(x, 3 - y));
  }
  // A negative destination width mirrors; halving samples the centre of
  // each 2x2 block (its lower right pixel).
  ASSERT_TRUE(gfx::StretchBlt(dst.get(), 1, 4, -2, 2, src.get(), 0, 0, 4, 4, gfx::kSrcCopy));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 4), PatternAt(3, 1));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 1, 4), PatternAt(1, 1));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 5), PatternAt(3, 3));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 4), kWhite);
  ovtest::SaveSurface(ovtest::ScratchDir(), "stretch_nearest", *dst.bitmap);
}

TEST(BlitTest, StretchModesNearestAndSmoothing) {
  auto src = MakeCanvas(2, 1, kBlack);
  gfx::SetPixel(src.get(), 1, 0, kWhite);
  for (int mode : {gfx::kColorOnColor, gfx::kBilinear, gfx::kHalftone}) {
    auto dst = MakeCanvas(8, 1, kBlue);
    dst.dc->SetStretchBltMode(mode);
    ASSERT_TRUE(gfx::StretchBlt(dst.get(), 0, 0, 8, 1, src.get(), 0, 0, 2, 1, gfx::kSrcCopy));
    int previous = -1, greys = 0;
    for (int x = 0; x < 8; ++x) {
      const int r = gfx::RedOf(gfx::GetPixel(dst.get(), x, 0));
      EXPECT_GE(r, previous) << "mode " << mode << " x " << x;  // black to white, never back
      greys += (r != 0 && r != 255);
      previous = r;
    }
    EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 0), kBlack);
    EXPECT_EQ(gfx::GetPixel(dst.get(), 7, 0), kWhite);
    if (mode == gfx::kColorOnColor) {
      EXPECT_EQ(greys, 0);
    } else {
      EXPECT_GE(greys, 2) << "the smoothing modes blend between the two pixels";
    }
  }
}

TEST(BlitTest, TransparentImageKeysExactColorRef) {
  auto src = MakeCanvas(3, 1, kMagenta);
  gfx::SetPixel(src.get(), 1, 0, Rgb(255, 0, 240));  // near the key but not equal in 565
  gfx::SetPixel(src.get(), 2, 0, kGreen);
  auto dst = MakeCanvas(6, 2, kBlue);
  ASSERT_TRUE(gfx::TransparentImage(dst.get(), 0, 0, 3, 1, src.get(), 0, 0, 3, 1, kMagenta));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 0), kBlue);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 1, 0), gfx::Rgb565ToColorRef(gfx::ColorRefTo565(Rgb(255, 0, 240))));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 0), kGreen);
  // Stretched keyed blit: each source pixel covers two destination pixels.
  ASSERT_TRUE(gfx::TransparentImage(dst.get(), 0, 1, 6, 1, src.get(), 0, 0, 3, 1, kMagenta));
  EXPECT_EQ(gfx::GetPixel(dst.get(), 1, 1), kBlue);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 4, 1), kGreen);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 5, 1), kGreen);
  ovtest::SaveSurface(ovtest::ScratchDir(), "transparent", *dst.bitmap);
}

TEST(BlitTest, AlphaBlendConstantAlpha) {
  auto src = MakeCanvas(3, 1, kWhite);
  auto dst = MakeCanvas(3, 1, kBlack);
  ASSERT_TRUE(gfx::AlphaBlend(dst.get(), 0, 0, 1, 1, src.get(), 0, 0, 1, 1, 128));
  ASSERT_TRUE(gfx::AlphaBlend(dst.get(), 1, 0, 1, 1, src.get(), 0, 0, 1, 1, 0));
  ASSERT_TRUE(gfx::AlphaBlend(dst.get(), 2, 0, 1, 1, src.get(), 0, 0, 1, 1, 255));
  // 31 * 128 / 255 = 15.6 -> 16 of 31 in red and blue, 32 of 63 in green.
  EXPECT_EQ(gfx::ColorRefTo565(gfx::GetPixel(dst.get(), 0, 0)), (16 << 11) | (32 << 5) | 16);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 1, 0), kBlack);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 2, 0), kWhite);
}

TEST(RegionTest, CombineAndClip) {
  auto a = gfx::CreateRectRgn(0, 0, 6, 4);
  auto b = gfx::CreateRectRgn(4, 2, 10, 8);
  auto r = std::make_shared<gfx::Region>();
  EXPECT_EQ(gfx::CombineRgn(r, a, b, gfx::kRgnAnd), gfx::kSimpleRegion);
  EXPECT_EQ(r->Box(), (gfx::Rect{4, 2, 6, 4}));
  EXPECT_EQ(gfx::CombineRgn(r, a, b, gfx::kRgnOr), gfx::kComplexRegion);
  EXPECT_EQ(r->Box(), (gfx::Rect{0, 0, 10, 8}));
  EXPECT_TRUE(r->Contains(0, 0));
  EXPECT_TRUE(r->Contains(9, 7));
  EXPECT_FALSE(r->Contains(9, 0));
  EXPECT_FALSE(r->Contains(0, 7));
  EXPECT_EQ(gfx::CombineRgn(r, a, b, gfx::kRgnDiff), gfx::kComplexRegion);
  EXPECT_FALSE(r->Contains(5, 3));
  EXPECT_TRUE(r->Contains(5, 1));
  EXPECT_EQ(gfx::CombineRgn(r, a, b, gfx::kRgnXor), gfx::kComplexRegion);
  EXPECT_FALSE(r->Contains(5, 3));
  EXPECT_TRUE(r->Contains(8, 5));
  EXPECT_EQ(gfx::CombineRgn(r, a, a, gfx::kRgnDiff), gfx::kNullRegion);
  EXPECT_EQ(gfx::CombineRgn(r, a, nullptr, gfx::kRgnCopy), gfx::kSimpleRegion);
  EXPECT_EQ(gfx::CombineRgn(r, a, b, 99), gfx::kRegionError);

  // Drawing through the union clip touches only the two rectangles.
  gfx::CombineRgn(r, a, b, gfx::kRgnOr);
  auto c = MakeCanvas(12, 10, kBlack);
  EXPECT_EQ(c.dc->SelectClipRegion(r.get()), gfx::kComplexRegion);
  gfx::Rect box;
  EXPECT_EQ(c.dc->GetClipBox(&box), gfx::kComplexRegion);
  EXPECT_EQ(box, (gfx::Rect{0, 0, 10, 8}));
  gfx::FillRect(c.get(), {-5, -5, 50, 50}, gfx::CreateSolidBrush(kRed));
  int ink = 0;
  EXPECT_EQ(ovtest::InkBox(*c.bitmap, kBlack, &ink), (gfx::Rect{0, 0, 10, 8}));
  EXPECT_EQ(ink, 6 * 4 + 6 * 6 - 2 * 2);
  EXPECT_EQ(gfx::GetPixel(c.get(), 9, 0), gfx::kClrInvalid);  // outside the clip
  auto src = MakeCanvas(12, 10, kGreen);
  gfx::BitBlt(c.get(), 0, 0, 12, 10, src.get(), 0, 0, gfx::kSrcCopy);
  EXPECT_EQ(gfx::GetPixel(c.get(), 5, 5), kGreen);
  c.dc->SelectClipRegion(nullptr);
  EXPECT_EQ(gfx::GetPixel(c.get(), 9, 0), kBlack);
  EXPECT_EQ(gfx::GetPixel(c.get(), 11, 9), kBlack);
  ovtest::SaveSurface(ovtest::ScratchDir(), "clip", *c.bitmap);
}

TEST(PenTest, PolylineWidthsAndDashes) {
  auto c = MakeCanvas(40, 20, kBlack);
  c.dc->SelectPen(gfx::CreatePen(gfx::kPsSolid, 1, kWhite));
  const gfx::Point line[] = {{2, 2}, {10, 2}, {10, 6}};
  ASSERT_TRUE(gfx::Polyline(c.get(), line, 3));
  int ink = 0;
  EXPECT_EQ(ovtest::InkBox(*c.bitmap, kBlack, &ink), (gfx::Rect{2, 2, 11, 6}));
  EXPECT_EQ(ink, 8 + 4);  // the last point of the polyline is left out

  auto wide = MakeCanvas(40, 20, kBlack);
  wide.dc->SelectPen(gfx::CreatePen(gfx::kPsSolid, 3, kRed));
  const gfx::Point across[] = {{5, 10}, {15, 10}};
  ASSERT_TRUE(gfx::Polyline(wide.get(), across, 2));
  // Points 5 to 14, each a 3x3 square centred on it.
  EXPECT_EQ(ovtest::InkBox(*wide.bitmap, kBlack), (gfx::Rect{4, 9, 16, 12}));

  auto dashed = MakeCanvas(60, 3, kBlack);
  dashed.dc->SelectPen(gfx::CreatePen(gfx::kPsDash, 1, kGreen));
  const gfx::Point dash[] = {{0, 1}, {60, 1}};
  ASSERT_TRUE(gfx::Polyline(dashed.get(), dash, 2));
  for (int x = 0; x < 60; ++x) {
    EXPECT_EQ(gfx::GetPixel(dashed.get(), x, 1) == kGreen, x % 24 < 18) << x;
  }
  dashed.dc->SelectPen(gfx::GetStockPen(gfx::kNullPen));
  const gfx::Point nothing[] = {{0, 0}, {60, 0}};
  ASSERT_TRUE(gfx::Polyline(dashed.get(), nothing, 2));
  EXPECT_EQ(gfx::GetPixel(dashed.get(), 3, 0), kBlack);
  // Lines far outside the surface are cheap and harmless.
  const gfx::Point far[] = {{-2000000000, -5}, {2000000000, 1}};
  wide.dc->SelectPen(gfx::CreatePen(gfx::kPsSolid, 1, kBlue));
  EXPECT_TRUE(gfx::Polyline(wide.get(), far, 2));
  ovtest::SaveSurface(ovtest::ScratchDir(), "pens", *wide.bitmap);
}

}  // namespace

namespace {

// One screen of every blit kind, compared with a hash checked by eye once
// (the PNG in the scratch folder); on mismatch the picture is kept as
// scene.actual.png beside it for review.
TEST(GoldenTest, SceneOfEveryBlit) {
  auto src = Pattern();
  auto icon = MakeCanvas(8, 8, kMagenta);
  gfx::FillRect(icon.get(), {2, 2, 6, 6}, gfx::CreateSolidBrush(Rgb(255, 255, 0)));
  auto screen = MakeCanvas(64, 48, Rgb(0, 0, 96));
  gfx::HDC s = screen.get();
  gfx::StretchBlt(s, 0, 0, 16, 16, src.get(), 0, 0, 4, 4, gfx::kSrcCopy);
  screen.dc->SetStretchBltMode(gfx::kBilinear);
  gfx::StretchBlt(s, 16, 0, 16, 16, src.get(), 0, 0, 4, 4, gfx::kSrcCopy);
  gfx::StretchBlt(s, 32, 0, 16, 16, src.get(), 0, 3, 4, -4, gfx::kSrcCopy);
  gfx::TransparentImage(s, 48, 0, 16, 16, icon.get(), 0, 0, 8, 8, kMagenta);
  auto white = MakeCanvas(16, 16, kWhite);
  gfx::AlphaBlend(s, 0, 16, 16, 16, white.get(), 0, 0, 16, 16, 96);
  auto region = gfx::CreateRectRgn(16, 16, 40, 28);
  gfx::CombineRgn(region, region, gfx::CreateRectRgn(28, 22, 48, 32), gfx::kRgnXor);
  screen.dc->SelectClipRegion(region.get());
  gfx::FillRect(s, {0, 0, 64, 48}, gfx::CreateSolidBrush(kGreen));
  screen.dc->SelectClipRegion(nullptr);
  screen.dc->SelectPen(gfx::CreatePen(gfx::kPsDash, 1, kWhite));
  const gfx::Point frame[] = {{1, 34}, {62, 34}, {62, 46}, {1, 46}, {1, 34}};
  gfx::Polyline(s, frame, 5);
  screen.dc->SelectPen(gfx::CreatePen(gfx::kPsSolid, 3, kRed));
  const gfx::Point diagonal[] = {{6, 38}, {58, 44}};
  gfx::Polyline(s, diagonal, 2);
  gfx::BitBlt(s, 50, 20, 6, 6, nullptr, 0, 0, gfx::kDstInvert);

  const std::string dir = ovtest::ScratchDir();
  const std::string hash = ovtest::Md5Hex(screen.bitmap->bits(), size_t(screen.bitmap->row_bytes()) * 48);
  ovtest::SaveSurface(dir, "scene", *screen.bitmap);
  EXPECT_EQ(hash, "897e8d390795dd120e0a9a1bc39a36b8");
  if (hash != "897e8d390795dd120e0a9a1bc39a36b8") ovtest::SaveSurface(dir, "scene.actual", *screen.bitmap);
}

}  // namespace
