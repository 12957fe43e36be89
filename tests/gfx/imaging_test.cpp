// The picture decoders against ImageMagick's decoding of the same files (made
// by scripts/fixtures/gfx.sh), sizes against identify, and bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/imaging/image.h"
#include "tests/gfx/surface_util.h"

namespace {

struct DecodeCase {
  const char* file;
  // Largest difference per channel allowed against ImageMagick: 0 for the
  // lossless formats; 1 where 16-bit samples are narrowed to 8 (libpng's
  // rounding and ImageMagick's differ by one level); JPEG's inverse DCT and
  // upsampling may differ by a few levels between builds of the library.
  int tolerance;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, MatchesImageMagick) {
  const std::string path = ovtest::FixturePath(GetParam().file);
  OV_SKIP_WITHOUT_FIXTURE(path);
  const auto bytes = ovtest::ReadFileBytes(path);
  const auto reference = ovtest::ReadFileBytes(path + ".rgba");
  int ref_w = 0, ref_h = 0;
  std::ifstream(path + ".size") >> ref_w >> ref_h;
  imaging::Status status;
  auto image = imaging::Image::FromBuffer(bytes.data(), bytes.size(), &status);
  ASSERT_TRUE(image) << imaging::StatusText(status);
  EXPECT_EQ(image->info().width, ref_w);
  EXPECT_EQ(image->info().height, ref_h);
  imaging::Picture picture;
  ASSERT_EQ(image->Decode(&picture), imaging::Status::kOk);
  ASSERT_EQ(picture.rgba.size(), reference.size());
  int worst = 0;
  size_t worst_at = 0;
  for (size_t i = 0; i < reference.size(); i += 4) {
    EXPECT_EQ(picture.rgba[i + 3], reference[i + 3]) << "alpha at pixel " << i / 4;
    if (reference[i + 3] == 0) continue;  // colour under full transparency is free
    for (int c = 0; c < 3; ++c) {
      const int d = std::abs(int(picture.rgba[i + c]) - int(reference[i + c]));
      if (d > worst) worst = d, worst_at = i / 4;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_LE(worst, GetParam().tolerance) << "at pixel " << worst_at;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DecodeTest,
                         ::testing::Values(DecodeCase{"gfx_photo.jpg", 2}, DecodeCase{"gfx_gray.jpg", 2},
                                           DecodeCase{"gfx_progressive.jpg", 2}, DecodeCase{"gfx_alpha.png", 0},
                                           DecodeCase{"gfx_gray16.png", 1}, DecodeCase{"gfx_interlaced.png", 0},
                                           DecodeCase{"gfx_palette.gif", 0}, DecodeCase{"gfx_interlaced.gif", 0},
                                           DecodeCase{"gfx_rgb24.bmp", 0}, DecodeCase{"gfx_pal8.bmp", 0},
                                           DecodeCase{"gfx_pal4.bmp", 0}, DecodeCase{"gfx_rgb565.bmp", 0}),
                         [](const auto& param_info) {
                           std::string n = param_info.param.file;
                           for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return n;
                         });

TEST(ImagingTest, ScaledJpegDecodeForThumbnails) {
  const std::string path = ovtest::FixturePath("gfx_large.jpg");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto image = imaging::Image::FromFile(ov::String::FromAscii(path));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->info().width, 2592);
  EXPECT_EQ(image->info().height, 1944);
  imaging::Picture reduced;
  ASSERT_EQ(image->DecodeAtLeast(48, 32, &reduced), imaging::Status::kOk);
  EXPECT_EQ(reduced.width, 324);  // 1/8 is still larger than the box
  EXPECT_EQ(reduced.height, 243);
  auto thumb = image->GetThumbnail(48, 36);
  ASSERT_TRUE(thumb);
  auto canvas = ovtest::MakeCanvas(48, 36, 0);
  EXPECT_EQ(thumb->Draw(canvas.get(), {0, 0, 48, 36}), imaging::Status::kOk);
  int ink = 0;
  ovtest::InkBox(*canvas.bitmap, 0, &ink);
  EXPECT_GT(ink, 48 * 36 / 2);
  ovtest::SaveSurface(ovtest::ScratchDir(), "thumbnail", *canvas.bitmap);
}

TEST(ImagingTest, BadInputGivesAnError) {
  const std::string path = ovtest::FixturePath("gfx_photo.jpg");
  OV_SKIP_WITHOUT_FIXTURE(path);
  for (const char* name : {"gfx_photo.jpg", "gfx_alpha.png", "gfx_palette.gif", "gfx_rgb24.bmp", "gfx_pal8.bmp"}) {
    const auto bytes = ovtest::ReadFileBytes(ovtest::FixturePath(name));
    // Every truncation either fails at the header or fails to decode.
    for (size_t cut : {size_t(1), size_t(7), size_t(30), bytes.size() / 2, bytes.size() - 3}) {
      std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
      imaging::Status status;
      auto image = imaging::Image::FromBuffer(part.data(), part.size(), &status);
      if (!image) {
        EXPECT_NE(status, imaging::Status::kOk);
        continue;
      }
      imaging::Picture picture;
      const imaging::Status decoded = image->Decode(&picture);
      // The last bytes of a GIF or RLE bitmap may be its trailer alone.
      if (cut < bytes.size() - 3) {
        EXPECT_NE(decoded, imaging::Status::kOk) << name << " cut at " << cut;
      }
    }
  }
  // Headers with huge dimensions are refused before any allocation.
  const uint8_t huge_bmp[] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                              0x00, 0x00, 0x01, 0x00,  // width 65536
                              0x00, 0x00, 0x01, 0x00,  // height 65536
                              1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  imaging::Status status;
  EXPECT_FALSE(imaging::Image::FromBuffer(huge_bmp, sizeof huge_bmp, &status));
  EXPECT_EQ(status, imaging::Status::kTooLarge);
  const uint8_t huge_gif[] = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B};
  EXPECT_FALSE(imaging::Image::FromBuffer(huge_gif, sizeof huge_gif, &status));
  EXPECT_EQ(status, imaging::Status::kTooLarge);
  const uint8_t text[] = "not a picture";
  EXPECT_FALSE(imaging::Image::FromBuffer(text, sizeof text, &status));
  EXPECT_EQ(status, imaging::Status::kUnknownFormat);
  EXPECT_FALSE(imaging::Image::FromFile(u"/nonexistent/picture.png", &status));
  EXPECT_EQ(status, imaging::Status::kNotFound);
}

TEST(ImagingTest, DrawBlendsAlphaOverTheDestination) {
  const std::string path = ovtest::FixturePath("gfx_alpha.png");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto image = imaging::Image::FromFile(ov::String::FromAscii(path));
  ASSERT_TRUE(image);
  auto canvas = ovtest::MakeCanvas(37, 23, gfx::Rgb(0, 255, 0));
  ASSERT_EQ(image->Draw(canvas.get(), {0, 0, 37, 23}), imaging::Status::kOk);
  // The top row is opaque (white mask), the bottom row transparent (black mask).
  EXPECT_EQ(gfx::GreenOf(gfx::GetPixel(canvas.get(), 18, 0)), 0);
  EXPECT_EQ(gfx::GetPixel(canvas.get(), 18, 22), gfx::Rgb(0, 255, 0));
  ovtest::SaveSurface(ovtest::ScratchDir(), "alpha_png", *canvas.bitmap);
}

}  // namespace
