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
