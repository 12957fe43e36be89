// Picture helpers: the fit arithmetic, thumbnails, the look-up order through
// the packages, LoadImageFile's outputs and ShadeBitmap.
#include "platform/picture/picture.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/os/file.h"
#include "tests/gfx/surface_util.h"

namespace {

struct FitCase {
  int32_t w, h, bw, bh, k, ew, eh;
};

class FitDecodeSizeTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitDecodeSizeTest, Table) {
  const FitCase& c = GetParam();
  int32_t w = 0, h = 0;
  picture::FitDecodeSize(c.w, c.h, c.bw, c.bh, c.k, &w, &h);
  EXPECT_EQ(w, c.ew) << c.w << "x" << c.h << " into " << c.bw << "x" << c.bh;
  EXPECT_EQ(h, c.eh) << c.w << "x" << c.h << " into " << c.bw << "x" << c.bh;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitDecodeSizeTest,
    ::testing::Values(
        // Never enlarged.
        FitCase{40, 30, 48, 32, 1, 40, 30}, FitCase{48, 32, 48, 32, 1, 48, 32},
        // Wider in proportion: box-wide, height 48*100/(640*100/480=133) = 36 > 32, so box-high:
        // width 32*100/(480*100/640=75) = 42.
        FitCase{640, 480, 48, 32, 1, 42, 32}, FitCase{1600, 400, 48, 32, 1, 48, 12},
        // Taller: box-high.
        FitCase{300, 900, 176, 144, 1, 48, 144},
        // The factor scales the box.
        FitCase{1600, 400, 48, 32, 2, 96, 24},
        // Beyond 100:1 the hundredths quotient is 0: exact proportions instead.
        FitCase{20000, 100, 240, 320, 1, 240, 1}, FitCase{100, 20000, 240, 320, 1, 1, 320},
        FitCase{5000, 2, 48, 32, 1, 48, 1}, FitCase{2, 5000, 48, 32, 1, 1, 32}));

std::string Fixture(const char* name) { return ovtest::FixturePath(name); }

TEST(PictureTest, ThumbnailAndFitDecoders) {
  OV_SKIP_WITHOUT_FIXTURE(Fixture("gfx_large.jpg"));
  auto dc = gfx::CreateCompatibleDC(nullptr);
  uint16_t* bits = nullptr;
  ASSERT_EQ(picture::DecodeImageFileThumbnail(ov::String::FromAscii(Fixture("gfx_large.jpg")), 48, 32, dc.get(), &bits), 1);
  ASSERT_TRUE(bits);
  EXPECT_EQ(dc->surface()->width(), 42);  // FitRect of 2592x1944 (aspect 133) into 48x32
  EXPECT_EQ(dc->surface()->height(), 32);
  EXPECT_EQ(bits, dc->surface()->bits());
  // A picture smaller than the box keeps its size in the thumbnail and fit decoders.
  const auto small = ovtest::ReadFileBytes(Fixture("gfx_alpha.png"));
  ASSERT_EQ(picture::DecodeImageBufferThumbnail(small.data(), small.size(), 100, 100, dc.get(), &bits), 1);
  EXPECT_EQ(dc->surface()->width(), 37);
  ASSERT_EQ(picture::DecodeImageBufferFit(small.data(), small.size(), 100, 100, dc.get(), gfx::Rgb(0, 0, 255), &bits, 1),
            1);
  EXPECT_EQ(dc->surface()->width(), 37);
  EXPECT_EQ(dc->surface()->height(), 23);
  // Its transparent bottom row shows the background colour.
  EXPECT_EQ(gfx::GetPixel(dc.get(), 18, 22), gfx::Rgb(0, 0, 255));
  ovtest::SaveSurface(ovtest::ScratchDir(), "fit", *dc->surface());
  const uint8_t junk[] = {1, 2, 3, 4};
  EXPECT_EQ(picture::DecodeImageBufferFit(junk, sizeof junk, 10, 10, dc.get(), 0, &bits, 1), 0);
  EXPECT_EQ(picture::DecodeImageFileThumbnail(u"/nonexistent.jpg", 48, 32, dc.get(), &bits), 0);
  // DrawImageFileCentered enlarges to the box and centres.
  auto canvas = ovtest::MakeCanvas(100, 100, 0);
  ASSERT_EQ(picture::DrawImageFileCentered(ov::String::FromAscii(Fixture("gfx_rgb24.bmp")), 100, 100, canvas.get()), 1);
  // 37x23 has aspect 160: 100 x 62, top at 19.
  EXPECT_EQ(ovtest::InkBox(*canvas.bitmap, 0), (gfx::Rect{0, 19, 100, 81}));
}

TEST(PictureTest, SizeAgreesWithIdentify) {
  for (const char* name : {"gfx_photo.jpg", "gfx_alpha.png", "gfx_palette.gif", "gfx_pal4.bmp", "gfx_large.jpg"}) {
    const std::string path = Fixture(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    const gfx::Size size = picture::GetImageFileSize(ov::String::FromAscii(path));
    std::string sizes = std::to_string(size.cx) + " " + std::to_string(size.cy);
    if (std::string(name) != "gfx_large.jpg") {
      const auto identify = ovtest::ReadFileBytes(path + ".size");
      EXPECT_EQ(sizes, std::string(identify.begin(), identify.end())) << name;
    }
  }
  EXPECT_EQ(picture::GetImageFileSize(u"/nonexistent.png").cx, 0);
}

// A package of named entries.
class FakeArchive : public picture::PictureArchive {
 public:
  std::map<std::u16string, std::vector<uint8_t>> entries;
  bool ReadEntry(const ov::String& path, std::vector<uint8_t>* bytes) override {
    auto it = entries.find(std::u16string(path.View()));
    if (it == entries.end()) return false;
    *bytes = it->second;
    return true;
  }
};

TEST(PictureTest, LookupOrderAndLoadImageFile) {
  OV_SKIP_WITHOUT_FIXTURE(Fixture("gfx_rgb24.bmp"));
  const std::string dir = ovtest::ScratchDir();
  const ov::String on_disk = ov::String::FromAscii(dir + "/button.bmp");
  const auto bmp = ovtest::ReadFileBytes(Fixture("gfx_rgb24.bmp"));   // 37x23
  const auto gif = ovtest::ReadFileBytes(Fixture("gfx_palette.gif"));  // 41x29
  const auto png = ovtest::ReadFileBytes(Fixture("gfx_gray16.png"));   // 29x19
  ASSERT_TRUE(ov::WriteWholeFile(on_disk, bmp.data(), bmp.size()));
  FakeArchive skin, common;
  picture::SetPictureArchives(&skin, &common);
  auto load = [&](const ov::String& path, int32_t* w, int32_t* h) {
    std::unique_ptr<gfx::DeviceContext> dc;
    gfx::HBitmap bitmap;
    const bool ok = picture::LoadImageFile(path, nullptr, &dc, &bitmap, w, h, 0);
    EXPECT_TRUE(dc) << "the output DC is always made";
    if (ok) {
      EXPECT_TRUE(bitmap);
    }
    return ok;
  };
  int32_t w = -1, h = -1;
  ASSERT_TRUE(load(on_disk, &w, &h));  // file system only
  EXPECT_EQ(w, 37);
  EXPECT_EQ(h, 23);
  common.entries[std::u16string(on_disk.View())] = png;
  ASSERT_TRUE(load(on_disk, &w, &h));  // the common package before the file
  EXPECT_EQ(w, 29);
  skin.entries[std::u16string(on_disk.View())] = gif;
  ASSERT_TRUE(load(on_disk, &w, &h));  // the skin package first
  EXPECT_EQ(w, 41);
  // One size pointer null: both untouched.
  w = 5;
  ASSERT_TRUE(load(on_disk, &w, nullptr));
  EXPECT_EQ(w, 5);
  picture::SetPictureArchives(nullptr, nullptr);
  // An empty file is not found; a missing one neither.
  const ov::String empty = ov::String::FromAscii(dir + "/empty.png");
  ASSERT_TRUE(ov::WriteWholeFile(empty, "", 0));
  gfx::HBitmap out;
  auto target = gfx::CreateCompatibleDC(nullptr);
  EXPECT_EQ(picture::DecodeImageFile(empty, &out, nullptr, target.get(), 0), 0);
  EXPECT_EQ(picture::DecodeImageFile(u"/nonexistent.png", &out, nullptr, target.get(), 0), 0);
  EXPECT_FALSE(load(empty, &w, &h));
  EXPECT_EQ(w, 0);
  // Bytes that are not a picture: found, decoded to nothing, result 1.
  const ov::String junk = ov::String::FromAscii(dir + "/junk.png");
  ASSERT_TRUE(ov::WriteWholeFile(junk, "junk", 4));
  EXPECT_EQ(picture::DecodeImageFile(junk, &out, nullptr, target.get(), 0), 1);
  EXPECT_FALSE(out);
}

TEST(PictureTest, StretchBitmap) {
  auto src = ovtest::MakeCanvas(2, 2, gfx::Rgb(255, 0, 0));
  gfx::HBitmap out;
  EXPECT_FALSE(picture::StretchBitmap(nullptr, src.get(), &out, 4, 4));
  ASSERT_TRUE(picture::StretchBitmap(src.bitmap, src.get(), &out, 5, 3));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->width(), 5);
  EXPECT_EQ(out->row(2)[4], 0xF800);
}

struct ShadeCase {
  gfx::COLORREF key;  // drawn at pixel 0 and given as the transparent colour
  int shift;
};

class ShadeBitmapTest : public ::testing::TestWithParam<ShadeCase> {};

TEST_P(ShadeBitmapTest, KeepsKeyShadesTheRest) {
  const ShadeCase& c = GetParam();
  auto src = ovtest::MakeCanvas(3, 1, gfx::Rgb(200, 100, 40));
  gfx::SetPixel(src.get(), 0, 0, c.key);
  gfx::SetPixel(src.get(), 2, 0, gfx::Rgb(255, 255, 255));
  gfx::HBitmap shaded = picture::ShadeBitmap(src.get(), src.bitmap, &c.key, c.shift);
  ASSERT_TRUE(shaded);
  // The key pixel stays, so a keyed blit of the shaded copy leaves it out.
  EXPECT_EQ(shaded->row(0)[0], gfx::ColorRefTo565(c.key));
  const uint16_t p = gfx::ColorRefTo565(gfx::Rgb(200, 100, 40));
  const int r = p >> 11, g = (p >> 5) & 63, b = p & 31;
  auto expect = [&](int v, int max) {
    return c.shift >= 0 ? (c.shift >= 32 ? 0 : v >> c.shift) : std::min(v << -c.shift, max);
  };
  EXPECT_EQ(shaded->row(0)[1], (expect(r, 31) << 11) | (expect(g, 63) << 5) | expect(b, 31));
  // White brightened saturates instead of running into the next field.
  if (c.shift < 0) {
    EXPECT_EQ(shaded->row(0)[2], 0xFFFF);
  }
  auto dst = ovtest::MakeCanvas(3, 1, gfx::Rgb(0, 0, 0));
  auto from = gfx::CreateCompatibleDC(nullptr);
  from->SelectBitmap(shaded);
  gfx::TransparentImage(dst.get(), 0, 0, 3, 1, from.get(), 0, 0, 3, 1, c.key);
  EXPECT_EQ(gfx::GetPixel(dst.get(), 0, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Keys, ShadeBitmapTest,
                         ::testing::Values(ShadeCase{gfx::Rgb(255, 0, 255), 1}, ShadeCase{gfx::Rgb(255, 0, 0), 1},
                                           ShadeCase{gfx::Rgb(0, 0, 255), -1}, ShadeCase{gfx::Rgb(10, 200, 30), 2},
                                           ShadeCase{gfx::Rgb(255, 255, 0), 40}));

TEST(PictureTest, ShadeWithoutKeyShadesEveryPixel) {
  auto src = ovtest::MakeCanvas(2, 1, gfx::Rgb(255, 0, 255));
  gfx::HBitmap shaded = picture::ShadeBitmap(src.get(), src.bitmap, nullptr, 1);
  ASSERT_TRUE(shaded);
  EXPECT_EQ(shaded->row(0)[0], (15 << 11) | 15);
}

}  // namespace
