// The "fdct" family: every variant the processor has against the C++
// reference, slot by slot, on random, extreme and worst-case blocks of
// samples (0..255) and residuals (-255..255), at every quantiser, in
// canaried buffers at unaligned positions.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "encoders/common/fdct.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

constexpr uint32_t kSeed = 20261210;
constexpr int16_t kCanaryRef = 0x5a5a;
constexpr int16_t kCanaryVariant = -0x2525;

struct Variant {
  const char* name;
  uint32_t flag;
};
const Variant kVariants[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};
void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

// The array slots by name.
FdctQuantFn ArraySlot(const FdctDsp& dsp, int which, int sh) {
  switch (which) {
    case 0: return dsp.interDc[sh];
    case 1: return dsp.inter2x2[sh];
    case 2: return dsp.inter4x4[sh];
    default: return dsp.inter[sh];
  }
}

// Blocks whose signs follow one DCT basis function: each drives its
// coefficient (and the passes' sums) to the edge of the range.
std::vector<std::vector<int16_t>> ExtremeBlocks(bool intra) {
  std::vector<std::vector<int16_t>> blocks;
  const int16_t hi = 255, lo = intra ? 0 : -255;
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v)
      for (int flip = 0; flip < 2; ++flip) {
        std::vector<int16_t> b(64);
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) {
            const double c = std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16);
            b[8 * y + x] = static_cast<int16_t>(((c >= 0) != (flip == 1)) ? hi : lo);
          }
        blocks.push_back(b);
      }
  for (int16_t value : {hi, lo, static_cast<int16_t>(intra ? 128 : 1), static_cast<int16_t>(intra ? 1 : -1)})
    blocks.emplace_back(64, value);
  return blocks;
}

class FdctDspTest : public ::testing::TestWithParam<Variant> {};

TEST_P(FdctDspTest, EverySlotEqualsTheReference) {
  const Variant& variant = GetParam();
  if ((ov::GetCpuFlags() & variant.flag) != variant.flag) GTEST_SKIP() << variant.name << " is not supported here";
  FdctDsp ref{}, simd{};
  init_fdct_dsp(ref, 0);
  init_fdct_dsp(simd, variant.flag);
  std::mt19937 rng(kSeed);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);

  struct Kernel {
    const char* name;
    FdctQuantFn ref, simd;
    bool intra;
  };
  std::vector<Kernel> kernels = {{"intra", ref.intra, simd.intra, true},
                                 {"intraShort", ref.intraShort, simd.intraShort, true}};
  const char* names[4] = {"interDc", "inter2x2", "inter4x4", "inter"};
  for (int which = 0; which < 4; ++which)
    for (int sh = 0; sh < 2; ++sh)
      kernels.push_back({names[which], ArraySlot(ref, which, sh), ArraySlot(simd, which, sh), false});
  for (const Kernel& k : kernels) ASSERT_NE(k.ref, k.simd) << k.name << ": no " << variant.name << " variant";

  constexpr int kPad = 16;
  std::vector<int16_t> a(64 + 2 * kPad + 1), b(a.size());
  for (const Kernel& k : kernels) {
    std::vector<std::vector<int16_t>> blocks = ExtremeBlocks(k.intra);
    for (int trial = 0; trial < 300; ++trial) {
      std::vector<int16_t> blk(64);
      // Uniform, small (near the dead zone) and sparse residuals.
      const int kind = trial % 3;
      for (int16_t& v : blk) {
        const int r = static_cast<int>(rng() % 511) - 255;
        v = static_cast<int16_t>(kind == 0 ? r : (kind == 1 ? r / 16 : (rng() % 8 == 0 ? r : 0)));
        if (k.intra) v = static_cast<int16_t>(kind == 1 ? 128 + v : (v < 0 ? -v : v));
      }
      blocks.push_back(blk);
    }
    for (size_t n = 0; n < blocks.size(); ++n) {
      const int qp = 1 + static_cast<int>(n % 31);
      const size_t offset = kPad + (n & 1);  // odd element: no 16-byte alignment
      std::fill(a.begin(), a.end(), kCanaryRef);
      std::fill(b.begin(), b.end(), kCanaryVariant);
      std::copy(blocks[n].begin(), blocks[n].end(), a.begin() + static_cast<ptrdiff_t>(offset));
      std::copy(blocks[n].begin(), blocks[n].end(), b.begin() + static_cast<ptrdiff_t>(offset));
      int32_t lastA = 99, countA = 99, lastB = 77, countB = 77;
      k.ref(a.data() + offset, qp, &lastA, &countA);
      k.simd(b.data() + offset, qp, &lastB, &countB);
      SCOPED_TRACE(::testing::Message() << k.name << " block " << n << " qp " << qp);
      for (size_t i = 0; i < a.size(); ++i) {
        const bool inside = i >= offset && i < offset + 64;
        if (inside) {
          ASSERT_EQ(b[i], a[i]) << "coefficient " << i - offset;
        } else {
          ASSERT_EQ(a[i], kCanaryRef) << "reference wrote outside the block at " << i;
          ASSERT_EQ(b[i], kCanaryVariant) << "variant wrote outside the block at " << i;
        }
      }
      ASSERT_EQ(lastB, lastA);
      ASSERT_EQ(countB, countA);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, FdctDspTest, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace venc
