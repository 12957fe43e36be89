#include "cpu.h"

#include <atomic>

namespace ov {
namespace {

std::atomic<uint32_t> g_mask{~0u};

uint32_t DetectCpuFlags() {
#if defined(OVMIX_NO_SIMD) || !(defined(__x86_64__) || defined(__i386__))
  return 0;
#else
  __builtin_cpu_init();
  uint32_t flags = 0;
  if (__builtin_cpu_supports("sse2")) flags |= kCpuSse2;
  if (__builtin_cpu_supports("ssse3")) flags |= kCpuSsse3;
  if (__builtin_cpu_supports("sse4.1")) flags |= kCpuSse41;
  if (__builtin_cpu_supports("avx2")) flags |= kCpuAvx2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi"))
    flags |= kCpuAvx512;
  return flags;
#endif
}

}  // namespace

uint32_t GetCpuFlags() {
  static const uint32_t detected = DetectCpuFlags();
  return detected & g_mask.load(std::memory_order_acquire);
}

void SetCpuFlagsMask(uint32_t mask) { g_mask.store(mask, std::memory_order_release); }

}  // namespace ov
