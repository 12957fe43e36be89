#include "imageproc/rotate_dsp.h"

#include <bit>
#include <cstring>
#include <initializer_list>

#include "platform/cpu/cpu.h"

namespace imageproc {
namespace {

static_assert(std::endian::native == std::endian::little, "the byte transpose works on little-endian words");

// Transposes an 8 x 8 block of bytes held as eight little-endian words (byte
// i of word k is row k, column i): 4 x 4 quarters, then 2 x 2 blocks, then
// single bytes change places across the diagonal.
inline void Transpose8x8(uint64_t r[8]) {
  for (int k = 0; k < 4; ++k) {
    const uint64_t a = r[k], b = r[k + 4];
    r[k] = (a & 0x00000000FFFFFFFFull) | (b << 32);
    r[k + 4] = (a >> 32) | (b & 0xFFFFFFFF00000000ull);
  }
  for (int k : {0, 1, 4, 5}) {
    const uint64_t a = r[k], b = r[k + 2];
    r[k] = (a & 0x0000FFFF0000FFFFull) | ((b & 0x0000FFFF0000FFFFull) << 16);
    r[k + 2] = ((a >> 16) & 0x0000FFFF0000FFFFull) | (b & 0xFFFF0000FFFF0000ull);
  }
  for (int k = 0; k < 8; k += 2) {
    const uint64_t a = r[k], b = r[k + 1];
    r[k] = (a & 0x00FF00FF00FF00FFull) | ((b & 0x00FF00FF00FF00FFull) << 8);
    r[k + 1] = ((a >> 8) & 0x00FF00FF00FF00FFull) | (b & 0xFF00FF00FF00FF00ull);
  }
}

}  // namespace

void transpose_band8_c(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, ptrdiff_t width) {
  ptrdiff_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t w[8];
    for (int k = 0; k < 8; ++k) std::memcpy(&w[k], src + k * srcStride + x, 8);
    Transpose8x8(w);  // w[i]: source column x + i
    for (int i = 0; i < 8; ++i) std::memcpy(dst + (x + i) * dstStride, &w[i], 8);
  }
  for (; x < width; ++x) {
    for (int k = 0; k < 8; ++k) dst[x * dstStride + k] = src[k * srcStride + x];
  }
}

void init_rotate_dsp(RotateDsp& dsp, uint32_t cpuFlags) {
  dsp.transpose_band8 = transpose_band8_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) dsp.transpose_band8 = transpose_band8_sse2;
#else
  (void)cpuFlags;
#endif
}

}  // namespace imageproc
