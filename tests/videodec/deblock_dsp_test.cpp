// The "deblock" family (ITU-T H.263 Annex J edges): every variant the
// processor has against the reference, all four edge kernels, on random
// pictures, steps around every STRENGTH and the extremes, at odd offsets and
// strides inside canaried pictures.
#include "codecs/videodec/h263/h263_deblock_dsp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

// Each instruction-set level of the variants, lowest first.
struct Level {
  const char* name;
  uint32_t flags;
};
const Level kLevels[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};

class DeblockDspTest : public ::testing::TestWithParam<Level> {};

INSTANTIATE_TEST_SUITE_P(Levels, DeblockDspTest, ::testing::ValuesIn(kLevels),
                         [](const ::testing::TestParamInfo<Level>& p) { return std::string(p.param.name); });

TEST_P(DeblockDspTest, VariantsEqualTheReference) {
  const uint32_t flags = GetParam().flags;
  if ((ov::GetCpuFlags() & flags) != flags) GTEST_SKIP() << GetParam().name << " is not supported here";
  DeblockDsp ref, simd;
  init_deblock_dsp(ref, 0);
  init_deblock_dsp(simd, flags);
  const unsigned seed = 20261213;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  struct Kernel {
    const char* name;
    DeblockEdgeFn ref, simd;
    bool horizontal;
    int lines;
  };
  const Kernel kernels[] = {{"horizontal8", ref.horizontal8, simd.horizontal8, true, 8},
                            {"horizontal16", ref.horizontal16, simd.horizontal16, true, 16},
                            {"vertical8", ref.vertical8, simd.vertical8, false, 8},
                            {"vertical16", ref.vertical16, simd.vertical16, false, 16}};
  constexpr uint8_t kCanaryRef = 0x5a, kCanaryVariant = 0xa5;
  for (const Kernel& k : kernels) {
    for (const ptrdiff_t stride : {ptrdiff_t{21}, ptrdiff_t{33}, ptrdiff_t{64}}) {
      const size_t size = static_cast<size_t>(stride * 24);
      std::vector<uint8_t> picture(size), a(size), b(size);
      for (int iter = 0; iter < 400; ++iter) {
        const int strength = iter % 13;
        // Two flat sides with a step near the filter's thresholds, plus noise;
        // or random samples; or the extremes.
        const int kind = iter % 4;
        const int base = static_cast<int>(rng() % 256);
        const int step = static_cast<int>(rng() % (8 * strength + 9)) * ((rng() & 1) ? 1 : -1);
        // The edge: between rows (horizontal) or columns (vertical) 8 and 9
        // of the window at `origin`.
        const size_t origin = static_cast<size_t>(stride) + 1 + static_cast<size_t>(iter % 5);
        for (size_t i = 0; i < size; ++i) {
          const int x = static_cast<int>((i % static_cast<size_t>(stride))) - static_cast<int>(origin % stride);
          const int y = static_cast<int>(i / static_cast<size_t>(stride)) - static_cast<int>(origin / stride);
          const bool far_side = k.horizontal ? y >= 8 : x >= 8;
          int v = 0;
          switch (kind) {
            case 0: v = base + (far_side ? step : 0) + static_cast<int>(rng() % 3) - 1; break;
            case 1: v = static_cast<int>(rng() % 256); break;
            case 2: v = (rng() & 1) ? 255 : 0; break;
            default: v = far_side ? 255 - static_cast<int>(rng() % 8) : static_cast<int>(rng() % 8); break;
          }
          picture[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
        // Only the 4 x lines samples of the edge may change; canaries elsewhere
        // differ between the two runs, so any stray write shows.
        const size_t at = origin + (k.horizontal ? 8 * static_cast<size_t>(stride) : 8);
        auto touched = [&](size_t i) {
          const long dx = static_cast<long>(i % static_cast<size_t>(stride)) - static_cast<long>(at % stride);
          const long dy = static_cast<long>(i / static_cast<size_t>(stride)) - static_cast<long>(at / stride);
          return k.horizontal ? (dy >= -2 && dy < 2 && dx >= 0 && dx < k.lines)
                              : (dx >= -2 && dx < 2 && dy >= 0 && dy < k.lines);
        };
        for (size_t i = 0; i < size; ++i) {
          a[i] = touched(i) ? picture[i] : kCanaryRef;
          b[i] = touched(i) ? picture[i] : kCanaryVariant;
        }
        k.ref(a.data() + at, stride, strength);
        k.simd(b.data() + at, stride, strength);
        for (size_t i = 0; i < size; ++i) {
          if (touched(i)) {
            ASSERT_EQ(b[i], a[i]) << k.name << " iteration " << iter << " stride " << stride << " strength "
                                  << strength;
          } else {
            ASSERT_EQ(a[i], kCanaryRef);
            ASSERT_EQ(b[i], kCanaryVariant) << k.name << " wrote outside the edge, iteration " << iter;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace videodec
