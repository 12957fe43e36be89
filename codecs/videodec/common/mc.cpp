#include "codecs/videodec/common/mc.h"

#include <cstring>

#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

void PutFullRef(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                int /*rc*/) {
  for (int y = 0; y < h; ++y, dst += dst_stride, src += src_stride) std::memcpy(dst, src, static_cast<size_t>(w));
}

void PutHalfXRef(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                 int rc) {
  for (int y = 0; y < h; ++y, dst += dst_stride, src += src_stride)
    for (int x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + 1 - rc) >> 1);
}

void PutHalfYRef(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                 int rc) {
  for (int y = 0; y < h; ++y, dst += dst_stride, src += src_stride)
    for (int x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>((src[x] + src[x + src_stride] + 1 - rc) >> 1);
}

void PutHalfXYRef(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                  int rc) {
  for (int y = 0; y < h; ++y, dst += dst_stride, src += src_stride) {
    const uint8_t* s1 = src + src_stride;
    for (int x = 0; x < w; ++x)
      dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + s1[x] + s1[x + 1] + 2 - rc) >> 2);
  }
}

}  // namespace

void init_mc_dsp(McDsp& dsp, uint32_t cpu_flags) {
  dsp.put[kMcFull] = PutFullRef;
  dsp.put[kMcHalfX] = PutHalfXRef;
  dsp.put[kMcHalfY] = PutHalfYRef;
  dsp.put[kMcHalfXY] = PutHalfXYRef;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpu_flags & ov::kCpuSse2) init_mc_dsp_sse2(dsp);
#else
  (void)cpu_flags;
#endif
}

}  // namespace videodec
