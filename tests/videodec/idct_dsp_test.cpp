#include "codecs/videodec/common/idct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "codecs/videodec/common/transform_tables.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

// Double-precision inverse DCT of ITU-T H.263 Annex A.
void ReferenceIdct(const int* f, double* out) {
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
          const double cu = u ? 1.0 : std::sqrt(0.5);
          const double cv = v ? 1.0 : std::sqrt(0.5);
          sum += cu * cv * f[u * 8 + v] * std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16);
        }
      }
      out[y * 8 + x] = sum / 4;
    }
  }
}

void Prescale(const int* f, int16_t* block) {
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>((f[i] * kIdctScale[i]) >> 12);
}

// The scaled transform is not bit-exact with the reference; a sample may be
// off by this much (IEEE 1180 peak error bound).
constexpr int kMaxSampleError = 1;
// And the mean squared error over many blocks stays below IEEE 1180's 0.06.
constexpr double kMaxMeanSquaredError = 0.06;

TEST(IdctDspTest, DcOnlyGivesAnEighthOfTheCoefficient) {
  IdctDsp dsp;
  init_idct_dsp(dsp, 0);
  int16_t block[64] = {800};  // a reconstructed DC of 100
  uint8_t out[64];
  dsp.idct_dc_put(out, 8, block);
  for (uint8_t v : out) EXPECT_EQ(v, 13);
  dsp.idct_put(out, 8, block);
  for (uint8_t v : out) EXPECT_EQ(v, 13);
}

TEST(IdctDspTest, ReferenceTracksDoublePrecision) {
  const unsigned seed = 1263;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  IdctDsp dsp;
  init_idct_dsp(dsp, 0);
  double sq = 0;
  int samples = 0;
  for (int iter = 0; iter < 2000; ++iter) {
    int f[64] = {};
    const int range = iter % 2 ? 300 : 40;
    const int count = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < count; ++k) f[rng() % 64] = static_cast<int>(rng() % (2 * range + 1)) - range;
    int16_t block[64];
    Prescale(f, block);
    int16_t residual[64];
    std::copy(block, block + 64, residual);
    dsp.idct(residual);
    double ref[64];
    ReferenceIdct(f, ref);
    for (int i = 0; i < 64; ++i) {
      const double e = residual[i] - std::floor(ref[i] + 0.5);
      ASSERT_LE(std::fabs(e), kMaxSampleError) << "iteration " << iter << " sample " << i;
      sq += e * e;
      ++samples;
    }
  }
  EXPECT_LT(sq / samples, kMaxMeanSquaredError);
}

// The transform's exact arithmetic: the butterfly with its four constants
// (tan(pi/16), tan(pi/8) x 65536; tan(3pi/16), cos(pi/4) x 32768), the rounded
// products, the full-precision row pass and the column pass's + 32 >> 6. The
// tolerance test above cannot see a constant one off; these blocks can.
TEST(IdctDspTest, ButterflyArithmeticIsExact) {
  IdctDsp dsp;
  init_idct_dsp(dsp, 0);
  // Worked by hand: the single stored coefficient x1 = 4096 of a row gives
  // p = 4096, q = (4096 x 13036 + 32768) >> 16 = 815, e = 4096, f = 815,
  // g = (4096 x 23170 + 16384) >> 15 = 2896, h = (815 x 23170 + 16384) >> 15
  // = 576, so the row holds 4096, 3472, 2320, 815, -815, -2320, -3472, -4096
  // and each column pass gives (v + 32) >> 6. At (1, 0) the same numbers come
  // out of the column pass instead, down every column.
  const int16_t kWorked[8] = {64, 54, 36, 13, -13, -36, -54, -64};
  for (const int position : {1, 8}) {
    int16_t block[64] = {};
    block[position] = 4096;
    dsp.idct(block);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c)
        EXPECT_EQ(block[r * 8 + c], kWorked[position == 1 ? c : r])
            << "position " << position << " (" << r << ", " << c << ")";
  }
  // Every coefficient in use, large enough that a constant one off, a
  // dropped rounding term or a rounded row pass changes some sample: stored
  // coefficient i is ((i x 7910) mod 641 - 320) x 40; the expected samples
  // follow the butterfly step by step in integer arithmetic.
  const int16_t kExpected[64] = {
      -514, -118, -63, -83, -121, -186, -55, -81,
      -769, 201, -290, -29, -1077, 205, 634, 65,
      -1240, 223, -246, 10, -46, -891, -390, -212,
      631, -35, 216, -54, 87, 1344, 329, 183,
      -845, -75, -570, -86, -2515, -214, 1533, 165,
      -727, -41, -331, 71, -382, -1945, -261, -218,
      45, -329, -251, 103, -306, -2442, -256, -195,
      -344, 112, 19, 3, 396, -87, -360, -90};
  int16_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(((i * 7910) % 641 - 320) * 40);
  dsp.idct(block);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], kExpected[i]) << "sample " << i;
}

TEST(IdctDspTest, PutAndAddAgreeWithTheResidualKernel) {
  std::mt19937 rng(7);
  for (uint32_t flags : {0u, ov::GetCpuFlags()}) {
    IdctDsp dsp;
    init_idct_dsp(dsp, flags);
    for (int iter = 0; iter < 200; ++iter) {
      int16_t block[64] = {};
      for (int k = 0; k < 6; ++k) block[rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % 8001) - 4000);
      int16_t residual[64];
      std::copy(block, block + 64, residual);
      dsp.idct(residual);
      // A padded destination with a canary, stride 11.
      uint8_t pred[8 * 11 + 4];
      for (auto& v : pred) v = static_cast<uint8_t>(rng());
      uint8_t put[sizeof pred], add[sizeof pred];
      std::copy(pred, pred + sizeof pred, put);
      std::copy(pred, pred + sizeof pred, add);
      dsp.idct_put(put, 11, block);
      dsp.idct_add(add, 11, block);
      for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 11; ++c) {
          const int i = r * 11 + c;
          if (c >= 8) {
            EXPECT_EQ(put[i], pred[i]);
            EXPECT_EQ(add[i], pred[i]);
            continue;
          }
          EXPECT_EQ(put[i], std::clamp<int>(residual[r * 8 + c], 0, 255));
          EXPECT_EQ(add[i], std::clamp<int>(pred[i] + residual[r * 8 + c], 0, 255));
        }
      }
    }
  }
}

// Every variant the processor has against the reference, put and add, on
// random, sparse and hostile blocks (the extremes of 16 bits), into canaried
// pictures at odd offsets and strides.
// Each instruction-set level of the variants, lowest first.
struct Level {
  const char* name;
  uint32_t flags;
};
const Level kLevels[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};

class IdctVariantTest : public ::testing::TestWithParam<Level> {
 protected:
  void SetUp() override {
    const uint32_t flags = GetParam().flags;
    if ((ov::GetCpuFlags() & flags) != flags) GTEST_SKIP() << GetParam().name << " is not supported here";
    init_idct_dsp(ref, 0);
    init_idct_dsp(simd, flags);
  }
  IdctDsp ref{}, simd{};
};

INSTANTIATE_TEST_SUITE_P(Levels, IdctVariantTest, ::testing::ValuesIn(kLevels),
                         [](const ::testing::TestParamInfo<Level>& p) { return std::string(p.param.name); });

TEST_P(IdctVariantTest, EqualsTheReference) {
  const unsigned seed = 20261212;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  constexpr uint8_t kCanaryRef = 0x5a, kCanaryVariant = 0xa5;
  for (const ptrdiff_t stride : {ptrdiff_t{8}, ptrdiff_t{13}, ptrdiff_t{45}}) {
    const size_t size = static_cast<size_t>(stride * 10 + 16);
    std::vector<uint8_t> picture(size), a(size), b(size);
    for (int iter = 0; iter < 600; ++iter) {
      int16_t block[64] = {};
      switch (iter % 6) {
        case 0:  // hostile: every coefficient at an extreme
          for (int16_t& v : block) v = (rng() & 1) ? 32767 : -32768;
          break;
        case 1:  // any 16-bit value
          for (int16_t& v : block) v = static_cast<int16_t>(rng());
          break;
        case 2:  // a few ordinary coefficients
          for (int k = 0; k < 6; ++k) block[rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % 8001) - 4000);
          break;
        case 3:  // one row or one column
          for (int k = 0; k < 8; ++k) block[(iter & 8) ? k : 8 * k] = static_cast<int16_t>(static_cast<int>(rng() % 2001) - 1000);
          break;
        case 4:  // large, dense
          for (int16_t& v : block) v = static_cast<int16_t>(static_cast<int>(rng() % 40001) - 20000);
          break;
        default:  // any values in the upper rows, the left columns or both
          for (int i = 0; i < 64; ++i) {
            const bool upper = i / 8 < 4, left = i % 8 < 4;
            const int shape = (iter / 6) % 3;
            if (shape == 0 ? upper : shape == 1 ? left : (upper && left))
              block[i] = static_cast<int16_t>((iter / 18) % 2 ? rng() : static_cast<int>(rng() % 601) - 300);
          }
          break;
      }
      const size_t offset = static_cast<size_t>(stride) + 1 + static_cast<size_t>(iter % 7);
      for (uint8_t& p : picture) p = static_cast<uint8_t>(iter % 3 == 0 ? (rng() & 1) * 255 : rng());
      for (const bool add : {false, true}) {
        for (size_t i = 0; i < size; ++i) {
          const bool inside = i >= offset && (i - offset) / static_cast<size_t>(stride) < 8 &&
                              (i - offset) % static_cast<size_t>(stride) < 8;
          a[i] = inside ? picture[i] : kCanaryRef;
          b[i] = inside ? picture[i] : kCanaryVariant;
        }
        (add ? ref.idct_add : ref.idct_put)(a.data() + offset, stride, block);
        (add ? simd.idct_add : simd.idct_put)(b.data() + offset, stride, block);
        for (size_t i = 0; i < size; ++i) {
          const bool inside = i >= offset && (i - offset) / static_cast<size_t>(stride) < 8 &&
                              (i - offset) % static_cast<size_t>(stride) < 8;
          if (inside) {
            ASSERT_EQ(b[i], a[i]) << (add ? "add" : "put") << " iteration " << iter << " stride " << stride;
          } else {
            ASSERT_EQ(a[i], kCanaryRef);
            ASSERT_EQ(b[i], kCanaryVariant) << "variant wrote outside the block, iteration " << iter;
          }
        }
      }
    }
  }
}

// Blocks at the edges of the variants' input widths: odd coefficients of
// +-v with the signs that drive p - r (or q - s) of the butterfly furthest
// from 0, in the first row (the row pass) or the first column (the column
// pass), for v on both sides of 2^13 and 2^15.
TEST_P(IdctVariantTest, EqualsTheReferenceAtWidthEdges) {
  for (const int v : {4095, 4096, 8191, 8192, 11000, 16383, 16384, 32767}) {
    for (const int spread : {0, 1}) {     // p - r, then q - s
      for (const int column : {0, 1}) {   // positions along the first row or column
        int16_t block[64] = {};
        const int sign[4] = {1, spread ? 1 : -1, spread ? -1 : -1, spread ? -1 : 1};  // x1, x3, x5, x7
        for (int k = 0; k < 4; ++k) {
          const int at = 2 * k + 1;
          block[column ? at * 8 : at] = static_cast<int16_t>(sign[k] * v);
        }
        block[0] = static_cast<int16_t>(v / 3);
        uint8_t a[64], b[64];
        for (int i = 0; i < 64; ++i) a[i] = b[i] = static_cast<uint8_t>(i * 3);
        ref.idct_add(a, 8, block);
        simd.idct_add(b, 8, block);
        for (int i = 0; i < 64; ++i)
          ASSERT_EQ(b[i], a[i]) << "v " << v << " spread " << spread << " column " << column << " sample " << i;
      }
    }
  }
}

// The cos(pi/4) products (a x 23170 + 2^14) >> 15 tie when a is 8192 modulo
// 16384: one odd coefficient of +-8192 or +-24576 in the first row or column
// puts them there, and a DC stepping through 64 values carries any difference
// of one across a sample's rounding. Two coefficients of +-4096 at 1 and 3
// (or 8 and 24) reach the tie from inputs small enough for the variants'
// one-multiply path.
TEST_P(IdctVariantTest, EqualsTheReferenceAtRoundingTies) {
  struct Tie {
    int pos, v, pos2, v2;
  };
  std::vector<Tie> ties;
  for (int pos : {1, 3, 5, 7, 8, 24, 40, 56, 9, 27})
    for (int v : {8192, -8192, 24576, -24576}) ties.push_back({pos, v, 0, 0});
  for (int v : {4096, -4096}) {
    ties.push_back({1, v, 3, -v});
    ties.push_back({8, v, 24, -v});
  }
  for (const Tie& tie : ties) {
    for (int dc = -64; dc < 64; ++dc) {
      int16_t block[64] = {};
      block[0] = static_cast<int16_t>(dc);
      block[tie.pos] = static_cast<int16_t>(tie.v);
      if (tie.pos2) block[tie.pos2] = static_cast<int16_t>(tie.v2);
      uint8_t a[64], b[64];
      for (int i = 0; i < 64; ++i) a[i] = b[i] = static_cast<uint8_t>(128 + i);
      ref.idct_add(a, 8, block);
      simd.idct_add(b, 8, block);
      for (int i = 0; i < 64; ++i)
        ASSERT_EQ(b[i], a[i]) << "position " << tie.pos << " value " << tie.v << " with " << tie.pos2 << " dc " << dc;
    }
  }
}

TEST(IdctDspTest, HostileCoefficientsStayDefined) {
  IdctDsp dsp;
  init_idct_dsp(dsp, 0);
  int16_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = (i & 1) ? 32767 : -32768;
  uint8_t out[64];
  dsp.idct_put(out, 8, block);  // UndefinedBehaviorSanitizer checks the arithmetic
  dsp.idct(block);
}

TEST(IdctDspTest, LowFrequencyRoundTripOfAFlatBlock) {
  uint8_t src[64];
  for (auto& v : src) v = 77;
  int16_t coeffs[64] = {};
  ForwardDctLowFrequency(src, 8, coeffs);
  EXPECT_EQ(coeffs[0], 8 * 77);
  EXPECT_EQ(coeffs[1], 0);
  EXPECT_EQ(coeffs[8], 0);
  uint8_t out[64];
  InverseDctLowFrequency(coeffs, out, 8);
  for (uint8_t v : out) EXPECT_EQ(v, 77);
}

TEST(IdctDspTest, LowFrequencyRoundTripOfAGradient) {
  // A horizontal ramp is carried mostly by coefficient (0, 1); the round trip
  // keeps its direction and mean.
  uint8_t src[64];
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) src[r * 8 + c] = static_cast<uint8_t>(100 + 8 * c);
  int16_t coeffs[64] = {};
  ForwardDctLowFrequency(src, 8, coeffs);
  EXPECT_LT(coeffs[1], 0);
  EXPECT_EQ(coeffs[8], 0);
  uint8_t out[64];
  InverseDctLowFrequency(coeffs, out, 8);
  int sum = 0;
  for (int c = 0; c < 8; ++c) sum += out[c];
  EXPECT_NEAR(sum / 8.0, 128.0, 1.0);
  EXPECT_LT(out[0], out[7]);
  for (int r = 1; r < 8; ++r) EXPECT_EQ(out[r * 8 + 3], out[3]);
}

}  // namespace
}  // namespace videodec
