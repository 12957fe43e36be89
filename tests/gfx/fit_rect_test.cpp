#include "platform/picture/fit_rect.h"

#include <gtest/gtest.h>

namespace {

struct FitCase {
  int32_t sw, sh, bw, bh, w, h;
};

class FitRectTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitRectTest, FitsTheBox) {
  const FitCase& c = GetParam();
  int32_t w = -1, h = -1;
  picture::FitRect(&w, &h, c.sw, c.sh, c.bw, c.bh);
  EXPECT_EQ(w, c.w) << c.sw << "x" << c.sh << " into " << c.bw << "x" << c.bh;
  EXPECT_EQ(h, c.h) << c.sw << "x" << c.sh << " into " << c.bw << "x" << c.bh;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitRectTest,
    ::testing::Values(
        // Landscape and portrait video into QCIF.
        FitCase{320, 240, 176, 144, 176, 132}, FitCase{240, 320, 176, 144, 108, 144},
        // Hundredths aspect: 2x3 is 66, so 100 wide gives 151 high; 3x1 is 300.
        FitCase{2, 3, 100, 1000, 100, 151}, FitCase{3, 1, 300, 300, 300, 100},
        // Zero sides count as a square; small pictures are enlarged.
        FitCase{0, 50, 100, 80, 80, 80}, FitCase{50, 0, 60, 90, 60, 60}, FitCase{16, 9, 320, 240, 320, 180},
        // Very wide sources keep working with the hundredths arithmetic.
        FitCase{10000, 1, 48, 32, 48, 0}, FitCase{5000, 40, 240, 320, 240, 1},
        // More than 100 times taller than wide: the aspect is 0 and the fit
        // comes from the exact proportions instead of a division by zero.
        FitCase{1, 1000, 176, 144, 0, 144}, FitCase{3, 400, 176, 144, 1, 144}, FitCase{10, 2000, 1000, 4000, 20, 4000},
        FitCase{1, 101, 48, 32, 0, 32}));

}  // namespace

namespace {

struct ThumbnailCase {
  int32_t sw, sh, bw, bh, full, w, h;
};

class FitThumbnailRectTest : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(FitThumbnailRectTest, FitsTheBoxOrTheScreenWidth) {
  const ThumbnailCase& c = GetParam();
  int32_t w = -1, h = -1;
  picture::FitThumbnailRect(&w, &h, c.sw, c.sh, c.bw, c.bh, c.full);
  EXPECT_EQ(w, c.w) << c.sw << "x" << c.sh << " into " << c.bw << "x" << c.bh << " full " << c.full;
  EXPECT_EQ(h, c.h) << c.sw << "x" << c.sh << " into " << c.bw << "x" << c.bh << " full " << c.full;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitThumbnailRectTest,
    ::testing::Values(
        // Without the full width: FitRect's fit of the box.
        ThumbnailCase{320, 240, 64, 48, 0, 64, 48}, ThumbnailCase{240, 320, 64, 48, 0, 36, 48},
        ThumbnailCase{0, 0, 64, 48, 0, 48, 48},
        // The full width takes the screen's width and the height of the
        // proportions, past the box height.
        ThumbnailCase{320, 240, 64, 48, 240, 240, 180}, ThumbnailCase{2, 3, 64, 48, 240, 240, 363},
        // A source more than 100 times taller than wide (ratio 0) fits by
        // its exact proportions, with and without the full width.
        ThumbnailCase{1, 200, 64, 48, 0, 0, 48}, ThumbnailCase{2, 300, 64, 48, 0, 0, 48},
        ThumbnailCase{1, 200, 64, 48, 240, 240, 48000}));

}  // namespace
