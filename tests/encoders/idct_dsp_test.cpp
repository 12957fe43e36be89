// The "idct" family: every variant the processor has against the C++
// reference, put and add, on the blocks the encoder reconstructs (random,
// extreme and worst-case residuals and samples through the forward quantiser
// and the dequantisers at every quantiser), plus hand-made sparse blocks, into
// canaried pictures at odd offsets and strides.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "encoders/common/fdct.h"
#include "encoders/common/idct.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

constexpr uint32_t kSeed = 20261211;
constexpr uint8_t kCanaryRef = 0x5a;
constexpr uint8_t kCanaryVariant = 0xa5;

struct Variant {
  const char* name;
  uint32_t flag;
};
const Variant kVariants[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};
void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

struct Coded {
  std::vector<int16_t> coefficients;  // prescaled, as the transform takes them
  int32_t last;
};

// Residual (inter) or sample (intra) blocks: uniform, small, sparse, and the
// sign patterns of every basis function at full swing.
std::vector<std::vector<int16_t>> SourceBlocks(std::mt19937& rng, bool intra) {
  std::vector<std::vector<int16_t>> blocks;
  const int16_t hi = 255, lo = intra ? 0 : -255;
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      std::vector<int16_t> b(64);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          b[8 * y + x] = std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16) >= 0 ? hi : lo;
      blocks.push_back(b);
    }
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<int16_t> b(64);
    for (int16_t& s : b) {
      const int r = static_cast<int>(rng() % 511) - 255;
      const int kind = trial % 3;
      s = static_cast<int16_t>(kind == 0 ? r : (kind == 1 ? r / 8 : (rng() % 6 == 0 ? r : 0)));
      if (intra) s = static_cast<int16_t>(s < 0 ? -s : s);
    }
    blocks.push_back(b);
  }
  return blocks;
}

std::vector<Coded> CodedBlocks() {
  std::mt19937 rng(kSeed);
  FdctDsp fdct{};
  init_fdct_dsp(fdct, 0);
  std::vector<Coded> out;
  for (const bool intra : {false, true}) {
    const std::vector<std::vector<int16_t>> sources = SourceBlocks(rng, intra);
    for (size_t n = 0; n < sources.size(); ++n) {
      const int qp = 1 + static_cast<int>((n * 7) % 31);
      std::vector<int16_t> blk = sources[n];
      int32_t last = -1, count = 0;
      Coded c{std::vector<int16_t>(64), 0};
      if (intra) {
        fdct.intra(blk.data(), qp, &last, &count);
        DequantiseIntraAc(blk.data(), qp, count, c.coefficients.data());
        c.coefficients[0] = static_cast<int16_t>(8 * (blk[0] / 8) * 8);  // a DC level x scaler 8
        c.last = last < 0 ? 0 : last;
      } else {
        fdct.inter[0](blk.data(), qp, &last, &count);
        if (last < 0) continue;
        DequantiseInter(blk.data(), qp, count);
        c.coefficients = blk;
        c.last = last;
      }
      out.push_back(c);
    }
  }
  // Sparse blocks: one or two coefficients anywhere, up to the largest DC and
  // a moderate AC.
  for (int trial = 0; trial < 300; ++trial) {
    Coded c{std::vector<int16_t>(64), 0};
    const int pos = static_cast<int>(rng() % 64);
    c.coefficients[0] = static_cast<int16_t>(static_cast<int>(rng() % 32641) - 16320);
    c.coefficients[pos] = static_cast<int16_t>(static_cast<int>(rng() % 4001) - 2000);
    c.last = pos;
    if (trial % 4 == 0) {
      c.coefficients[pos] = 0;
      c.last = trial % 8 == 0 ? -1 : 0;  // DC alone; the inter coder's -1 never reaches here
    }
    if (trial % 4 == 1) {
      // Rows past the row of `last` take no part, whatever they hold.
      for (int i = 8 * ((c.last < 0 ? 0 : c.last) / 8 + 1); i < 64; ++i)
        c.coefficients[i] = static_cast<int16_t>(static_cast<int>(rng() % 4001) - 2000);
    }
    out.push_back(c);
  }
  return out;
}

class IdctDspTest : public ::testing::TestWithParam<Variant> {};

TEST_P(IdctDspTest, PutAndAddEqualTheReference) {
  const Variant& variant = GetParam();
  if ((ov::GetCpuFlags() & variant.flag) != variant.flag) GTEST_SKIP() << variant.name << " is not supported here";
  IdctDsp ref{}, simd{};
  init_idct_dsp(ref, 0);
  init_idct_dsp(simd, variant.flag);
  ASSERT_NE(simd.add, ref.add) << "no " << variant.name << " variant";
  ASSERT_NE(simd.put, ref.put) << "no " << variant.name << " variant";
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);
  const std::vector<Coded> blocks = CodedBlocks();
  std::mt19937 rng(kSeed + 1);
  for (const ptrdiff_t stride : {ptrdiff_t{8}, ptrdiff_t{13}, ptrdiff_t{40}}) {
    const size_t size = static_cast<size_t>(stride * 10 + 24);
    std::vector<uint8_t> a(size), b(size), picture(size);
    for (size_t n = 0; n < blocks.size(); ++n) {
      for (const bool add : {false, true}) {
        const size_t offset = static_cast<size_t>(stride) + 1 + n % 7;
        for (uint8_t& p : picture) p = static_cast<uint8_t>(n % 5 == 0 ? (rng() & 1) * 255 : rng());
        for (size_t i = 0; i < size; ++i) {
          const int dx = static_cast<int>((i - offset) % static_cast<size_t>(stride));
          const bool inside = i >= offset && i < offset + 8 * static_cast<size_t>(stride) && dx < 8;
          a[i] = inside ? picture[i] : kCanaryRef;
          b[i] = inside ? picture[i] : kCanaryVariant;
        }
        std::vector<int16_t> blkA = blocks[n].coefficients, blkB = blocks[n].coefficients;
        (add ? ref.add : ref.put)(blkA.data(), blocks[n].last, a.data() + offset, stride);
        (add ? simd.add : simd.put)(blkB.data(), blocks[n].last, b.data() + offset, stride);
        SCOPED_TRACE(::testing::Message() << (add ? "add" : "put") << " block " << n << " stride " << stride);
        for (size_t i = 0; i < size; ++i) {
          const int dx = static_cast<int>((i - offset) % static_cast<size_t>(stride));
          const bool inside = i >= offset && i < offset + 8 * static_cast<size_t>(stride) && dx < 8;
          if (inside) {
            ASSERT_EQ(b[i], a[i]) << "pixel " << i;
          } else {
            ASSERT_EQ(a[i], kCanaryRef) << "reference wrote outside the block at " << i;
            ASSERT_EQ(b[i], kCanaryVariant) << "variant wrote outside the block at " << i;
          }
        }
      }
    }
  }
}

// The inter dequantiser on what the forward quantisers leave, every
// quantiser, MPEG-4 levels (unclipped) and short-header ones, with canaries
// around the block.
TEST_P(IdctDspTest, DequantiseInterEqualsTheReference) {
  const Variant& variant = GetParam();
  if ((ov::GetCpuFlags() & variant.flag) != variant.flag) GTEST_SKIP() << variant.name << " is not supported here";
  IdctDsp ref{}, simd{};
  init_idct_dsp(ref, 0);
  init_idct_dsp(simd, variant.flag);
  FdctDsp fdct{};
  init_fdct_dsp(fdct, 0);
  std::mt19937 rng(kSeed + 2);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed + 2);
  const std::vector<std::vector<int16_t>> sources = SourceBlocks(rng, false);
  constexpr int kPad = 16;
  for (size_t n = 0; n < sources.size(); ++n) {
    for (int qp = 1; qp <= 31; ++qp) {
      for (int sh = 0; sh < 2; ++sh) {
        std::vector<int16_t> a(64 + 2 * kPad, 0x5a5a), b(64 + 2 * kPad, -0x5a5b);
        std::copy(sources[n].begin(), sources[n].end(), a.begin() + kPad);
        int32_t last = -1, count = 0;
        fdct.inter[sh](a.data() + kPad, qp, &last, &count);
        std::copy(a.begin() + kPad, a.begin() + kPad + 64, b.begin() + kPad);
        ref.dequantiseInter(a.data() + kPad, qp, count);
        simd.dequantiseInter(b.data() + kPad, qp, count);
        for (size_t i = 0; i < a.size(); ++i) {
          if (i >= kPad && i < kPad + 64) {
            ASSERT_EQ(b[i], a[i]) << "block " << n << " qp " << qp << " coefficient " << i - kPad;
          } else {
            ASSERT_EQ(a[i], 0x5a5a);
            ASSERT_EQ(b[i], -0x5a5b) << "variant wrote outside the block";
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, IdctDspTest, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace venc
