// The SBR QMF window kernels: the reference against the direct sums its
// header states, and every variant the machine runs against the reference,
// on random and full-scale delay lines, every block position, strides 1 and
// 2, into canary-padded outputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "codecs/heaac/sbr_qmf_dsp.h"
#include "codecs/heaac/sbr_tables.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

constexpr uint32_t kSeed = 0x5b2d5;

struct Variant {
  const char* name;
  uint32_t flag;
};
const Variant kVariants[] = {{"avx2", ov::kCpuAvx2}};

// Random lines, then the extremes that make the largest sums.
std::vector<int16_t> AnalysisLine(std::mt19937& rng, int pattern) {
  std::vector<int16_t> line(320);
  for (size_t i = 0; i < line.size(); ++i) {
    if (pattern == 0) line[i] = static_cast<int16_t>(rng());
    if (pattern == 1) line[i] = kSbrQmfWindowAnalysis[i % 320] < 0 ? -32768 : 32767;
    if (pattern == 2) line[i] = (i & 1) ? -32768 : 32767;
  }
  return line;
}

std::vector<int32_t> SynthesisLine(std::mt19937& rng, int pattern, int n) {
  std::vector<int32_t> line(10 * n);
  for (size_t i = 0; i < line.size(); ++i) {
    if (pattern == 0) line[i] = static_cast<int32_t>(rng()) >> (rng() % 16);
    if (pattern == 1) line[i] = (rng() & 1) ? INT32_MIN : INT32_MAX;
    if (pattern == 2) line[i] = (i & 1) ? INT32_MIN : INT32_MAX;
  }
  return line;
}

TEST(SbrQmfDsp, ReferenceIsTheDirectSum) {
  std::mt19937 rng(kSeed);
  SbrQmfDsp ref{};
  init_sbr_qmf_dsp(ref, 0);
  const std::vector<int16_t> line = AnalysisLine(rng, 0);
  for (int newest = 0; newest < 320; newest += 32) {
    int32_t u[64];
    ref.analysis_window(u, line.data(), newest);
    for (int n = 0; n < 64; ++n) {
      int64_t sum = 0;
      for (int j = 0; j < 5; ++j) {
        const int m = n + 64 * j;
        sum += int64_t{line[(newest + 31 - m + 320) % 320]} * kSbrQmfWindowAnalysis[m];
      }
      ASSERT_EQ(u[n], static_cast<int32_t>(sum >> 20)) << newest << " " << n;
    }
  }
}

TEST(SbrQmfDsp, VariantsMatchTheReference) {
  std::printf("seed %u\n", kSeed);
  for (const Variant& variant : kVariants) {
    if (!(ov::GetCpuFlags() & variant.flag)) GTEST_SKIP() << variant.name << " is not supported here";
    SbrQmfDsp ref{}, simd{};
    init_sbr_qmf_dsp(ref, 0);
    init_sbr_qmf_dsp(simd, variant.flag);
    ASSERT_NE(ref.analysis_window, simd.analysis_window);
    std::mt19937 rng(kSeed);
    for (int pattern = 0; pattern < 3; ++pattern) {
      const std::vector<int16_t> line = AnalysisLine(rng, pattern);
      for (int newest = 0; newest < 320; newest += 32) {
        std::vector<int32_t> a(72, 0x5a5a5a5a), b(72, -0x3c3c3c3c);
        ref.analysis_window(a.data() + 4, line.data(), newest);
        simd.analysis_window(b.data() + 4, line.data(), newest);
        ASSERT_EQ(std::vector<int32_t>(a.begin() + 4, a.end() - 4), std::vector<int32_t>(b.begin() + 4, b.end() - 4))
            << variant.name << " analysis, pattern " << pattern << ", block " << newest / 32;
        ASSERT_EQ(b[3], -0x3c3c3c3c);
        ASSERT_EQ(b[68], -0x3c3c3c3c);
      }
      for (int n : {64, 32}) {
        const SbrSynthesisWindowFn r = n == 64 ? ref.synthesis_window64 : ref.synthesis_window32;
        const SbrSynthesisWindowFn s = n == 64 ? simd.synthesis_window64 : simd.synthesis_window32;
        // An exact-size heap line, so a read past it shows under ASan.
        const std::vector<int32_t> line32 = SynthesisLine(rng, pattern, n);
        for (int newest = 0; newest < 10; ++newest) {
          for (int stride : {1, 2}) {
            std::vector<int16_t> a(n * stride + 16, 0x1111), b(n * stride + 16, 0x2222);
            r(a.data() + 8, stride, line32.data(), newest);
            s(b.data() + 8, stride, line32.data(), newest);
            for (int i = 0; i < n * stride; i += stride) {
              ASSERT_EQ(a[8 + i], b[8 + i]) << variant.name << " " << n << " bands, pattern " << pattern << ", block "
                                           << newest << ", stride " << stride << ", sample " << i / stride;
            }
            for (size_t i = 0; i < b.size(); ++i) {
              const bool written = i >= 8 && i < size_t(8 + n * stride) && (i - 8) % stride == 0;
              if (!written) {
                ASSERT_EQ(b[i], 0x2222) << variant.name << " wrote outside its samples at " << i;
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace heaac
