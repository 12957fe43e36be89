#pragma once
// Processor features and the one process-wide mask over them. Kernel families
// fill their function tables from GetCpuFlags(); tests, fuzzers and
// `ovtool --cpumask 0` clear the mask to force the plain C++ references.

#include <cstdint>

namespace ov {

enum CpuFlags : uint32_t {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuSse41 = 1u << 2,
  kCpuAvx2 = 1u << 3,
  // AVX-512 with its byte and word instructions, 128/256-bit forms and byte
  // permutes (F, BW, VL, VBMI), all four or none.
  kCpuAvx512 = 1u << 4,
};

// Features the processor has, less those cleared by SetCpuFlagsMask, less
// everything in a reference-only build. Thread-safe.
uint32_t GetCpuFlags();

// Keeps only the features in `mask` (0 = reference code only, ~0u = all).
// Affects function tables filled after the call.
void SetCpuFlagsMask(uint32_t mask);

}  // namespace ov
