// The forward and inverse transform kernels against double-precision DCTs
// and against the worked values of their fixed-point arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/fdct.h"
#include "encoders/common/idct.h"

namespace venc {
namespace {

constexpr uint32_t kSeed = 20261209;

// Orthonormal 8x8 DCT-II; its scale equals the kernels' (a flat block X has DC 8X).
void ReferenceFdct(const int16_t* in, double* out) {
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double s = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          s += in[8 * y + x] * std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16);
      const double cu = u == 0 ? std::sqrt(0.125) : 0.5, cv = v == 0 ? std::sqrt(0.125) : 0.5;
      out[8 * u + v] = cu * cv * s;
    }
}

void ReferenceIdct(const double* in, double* out) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
          const double cu = u == 0 ? std::sqrt(0.125) : 0.5, cv = v == 0 ? std::sqrt(0.125) : 0.5;
          s += cu * cv * in[8 * u + v] * std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16);
        }
      out[8 * y + x] = s;
    }
}

class FdctTest : public ::testing::Test {
 protected:
  void SetUp() override { init_fdct_dsp(dsp_, 0); }
  FdctDsp dsp_{};
};

TEST_F(FdctTest, IntraLevelsFollowTheExactTransform) {
  std::mt19937 rng(kSeed);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);
  for (int trial = 0; trial < 200; ++trial) {
    int16_t block[64];
    for (int16_t& v : block) v = static_cast<int16_t>(rng() % 256);
    double ref[64];
    ReferenceFdct(block, ref);
    const int qp = 1 + trial % 31;
    int32_t last = 0, count = 0;
    dsp_.intra(block, qp, &last, &count);
    EXPECT_NEAR(block[0], ref[0], 1.0) << "DC, trial " << trial;
    int nonZero = 0, maxIndex = -1;
    for (int i = 1; i < 64; ++i) {
      // |c| / (2 QP) truncated, from a coefficient within about 1 of exact.
      const double expected = std::trunc(ref[i] / (2.0 * qp));
      EXPECT_LE(std::abs(block[i] - expected), 1.0) << "index " << i << " trial " << trial;
      if (block[i] != 0) {
        ++nonZero;
        maxIndex = i;
      }
    }
    EXPECT_EQ(count, nonZero);
    EXPECT_EQ(last, maxIndex);
  }
}

TEST_F(FdctTest, FlatIntraBlockHasOnlyItsDc) {
  int16_t block[64];
  std::fill(std::begin(block), std::end(block), int16_t{128});
  int32_t last = 0, count = 5;
  dsp_.intra(block, 4, &last, &count);
  EXPECT_EQ(block[0], 1024);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(last, -1);
  EXPECT_EQ(count, 0);
}

// An inter block whose only coefficient is a DC of `dc` (a flat residual of dc / 8).
int InterDcLevel(FdctQuantFn fn, int residual, int qp) {
  int16_t block[64];
  std::fill(std::begin(block), std::end(block), static_cast<int16_t>(residual));
  int32_t last = 0, count = 0;
  fn(block, qp, &last, &count);
  return block[0];
}

TEST_F(FdctTest, InterDeadZoneAndRounding) {
  // A flat residual r gives the coefficient 8r exactly.
  struct Case {
    int residual, qp, level;
  };
  // QP 5: dead zone floor(12.5) = 12; 8 x 2 = 16 -> (16 - 2 + 1) x 6553 >> 16 = 1.
  // QP 1: dead zone 2; coefficient 8 -> (8 - 0 + 1) x 32767 >> 16 = 4.
  const Case cases[] = {{2, 5, 1}, {1, 5, 0}, {1, 1, 4}, {-2, 5, -1}, {30, 3, 39}};
  for (const Case& c : cases) {
    for (FdctQuantFn fn : {dsp_.interDc[0], dsp_.inter2x2[0], dsp_.inter4x4[0], dsp_.inter[0]}) {
      EXPECT_EQ(InterDcLevel(fn, c.residual, c.qp), c.level) << "residual " << c.residual << " qp " << c.qp;
    }
  }
}

TEST_F(FdctTest, ReducedInterKernelsEqualTheFullKernelOnTheirCorner) {
  std::mt19937 rng(kSeed + 1);
  struct Reduced {
    FdctQuantFn fn;
    int size;
  };
  const Reduced kernels[] = {{dsp_.interDc[0], 1}, {dsp_.inter2x2[0], 2}, {dsp_.inter4x4[0], 4}};
  for (int trial = 0; trial < 100; ++trial) {
    int16_t src[64];
    for (int16_t& v : src) v = static_cast<int16_t>(static_cast<int>(rng() % 511) - 255);
    const int qp = 1 + trial % 31;
    int16_t full[64];
    std::copy(std::begin(src), std::end(src), full);
    int32_t fullLast = 0, fullCount = 0;
    dsp_.inter[0](full, qp, &fullLast, &fullCount);
    for (const Reduced& k : kernels) {
      int16_t part[64];
      std::copy(std::begin(src), std::end(src), part);
      int32_t last = 0, count = 0;
      k.fn(part, qp, &last, &count);
      for (int i = 0; i < 64; ++i) {
        const bool inside = (i / 8) < k.size && (i % 8) < k.size;
        EXPECT_EQ(part[i], inside ? full[i] : 0) << "size " << k.size << " index " << i;
      }
    }
  }
}

TEST_F(FdctTest, ShortHeaderKernelsClipTo127) {
  // One strong horizontal frequency: an AC coefficient near 2000 at QP 2.
  int16_t block[64], shortBlock[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>((i % 8) < 4 ? 255 : 0);
  std::copy(std::begin(block), std::end(block), shortBlock);
  int32_t last = 0, count = 0;
  dsp_.intra(block, 2, &last, &count);
  dsp_.intraShort(shortBlock, 2, &last, &count);
  ASSERT_GT(block[1], 127);
  EXPECT_EQ(shortBlock[1], 127);
  for (int i = 0; i < 64; ++i) EXPECT_LE(std::abs(shortBlock[i] - 0), i == 0 ? 4080 : 127);
}

TEST(IdctTest, ReconstructionMatchesTheExactInverseTransform) {
  IdctDsp dsp{};
  init_idct_dsp(dsp, 0);
  std::mt19937 rng(kSeed + 2);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed + 2);
  int worst = 0;
  for (int trial = 0; trial < 300; ++trial) {
    // Dequantised coefficients F of a few low frequencies, as coded blocks have.
    double coef[64] = {};
    int16_t pre[64] = {};
    int last = 0;
    const int span = 1 + trial % 8;
    for (int i = 0; i < 64; ++i) {
      if ((i / 8) >= span || (i % 8) >= span || rng() % 3 != 0) continue;
      const int f = static_cast<int>(rng() % 301) - 150;
      coef[i] = f;
      pre[i] = PrescaleCoefficient(f, i);
      last = i;
    }
    coef[0] = 1024;
    pre[0] = PrescaleCoefficient(1024, 0);
    double ref[64];
    ReferenceIdct(coef, ref);
    uint8_t out[8 * 8];
    dsp.put(pre, last, out, 8);
    for (int i = 0; i < 64; ++i) {
      const int expected = std::clamp(static_cast<int>(std::lround(ref[i])), 0, 255);
      worst = std::max(worst, std::abs(out[i] - expected));
    }
  }
  EXPECT_LE(worst, 2) << "the fixed-point transform stays within 2 of the exact one";
}

TEST(IdctTest, WorkedValues) {
  IdctDsp dsp{};
  init_idct_dsp(dsp, 0);
  // DC level 128 at QP 4 (luma scaler 8): stored 8 x 128 x 8 = 8192 -> 128.
  int16_t block[64] = {};
  block[0] = 8 * 128 * 8;
  uint8_t out[64];
  dsp.put(block, 0, out, 8);
  for (uint8_t v : out) EXPECT_EQ(v, 128);
  // An inter DC level 1 at QP 5 adds 2 to every pixel.
  int16_t inter[64] = {};
  inter[0] = 1;
  DequantiseInter(inter, 5, 1);
  EXPECT_EQ(inter[0], 120);
  uint8_t pred[64];
  std::fill(std::begin(pred), std::end(pred), uint8_t{100});
  pred[0] = 254;
  dsp.add(inter, 0, pred, 8);
  EXPECT_EQ(pred[1], 102);
  EXPECT_EQ(pred[0], 255);
}

TEST(IdctTest, ClipsTheSumOfPredictionAndResidual) {
  IdctDsp dsp{};
  init_idct_dsp(dsp, 0);
  struct Case {
    uint8_t prediction;
    int sample;
    uint8_t result;
  };
  for (const Case c : {Case{250, 10, 255}, Case{3, -10, 0}, Case{100, -10, 90}}) {
    int16_t block[64] = {};
    block[0] = static_cast<int16_t>(c.sample * 64);  // (v + 32) >> 6 == sample
    uint8_t pix[64];
    std::fill(std::begin(pix), std::end(pix), c.prediction);
    dsp.add(block, 0, pix, 8);
    EXPECT_EQ(pix[7 * 8 + 7], c.result);
  }
}

TEST(IdctTest, RowSkippingGivesTheFullTransform) {
  IdctDsp dsp{};
  init_idct_dsp(dsp, 0);
  std::mt19937 rng(kSeed + 3);
  for (int lastIndex : {0, 7, 8, 20, 39, 40, 63}) {
    int16_t block[64] = {};
    for (int i = 0; i <= lastIndex; ++i) block[i] = static_cast<int16_t>(static_cast<int>(rng() % 2001) - 1000);
    int16_t copy[64];
    std::copy(std::begin(block), std::end(block), copy);
    uint8_t a[64], b[64];
    dsp.put(block, lastIndex, a, 8);
    dsp.put(copy, 63, b, 8);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 64), std::vector<uint8_t>(b, b + 64)) << "last " << lastIndex;
  }
}

TEST(DequantiseTest, IntraAcAndInterLevels) {
  int16_t levels[64] = {};
  levels[1] = 2;    // (2 x 2 + 1) x 4 - 1 = 19 at an even QP
  levels[9] = -1;   // -(3 x 4 - 1) = -11
  int16_t out[64];
  DequantiseIntraAc(levels, 4, 2, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], PrescaleCoefficient(19, 1));
  EXPECT_EQ(out[9], PrescaleCoefficient(-11, 9));
  int16_t inter[64] = {};
  inter[0] = 3;  // (7 x 5) at an odd QP
  DequantiseInter(inter, 5, 1);
  EXPECT_EQ(inter[0], PrescaleCoefficient(35, 0));
}

}  // namespace
}  // namespace venc
