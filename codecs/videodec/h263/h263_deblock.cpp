// ITU-T H.263 Annex J in-loop deblocking filter: the edge kernels' references
// and the order of the edges over a picture.
#include <cstdlib>

#include "codecs/videodec/h263/h263_deblock_dsp.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "codecs/videodec/h263/h263_tables.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Annex J.3 across one edge: A B | C D with `p` at C.
inline void FilterLine(uint8_t* p, ptrdiff_t step, int strength) {
  const int a = p[-2 * step], b = p[-step], c = p[0], d = p[step];
  const int delta = (a - 4 * b + 4 * c - d) / 8;  // truncates toward zero
  const int mag = std::abs(delta);
  int d1;
  if (mag <= strength) d1 = delta;
  else if (mag < 2 * strength) d1 = (delta < 0 ? -1 : 1) * (2 * strength - mag);
  else d1 = 0;
  p[-step] = Clip255(b + d1);
  p[0] = Clip255(c - d1);
  const int limit = std::abs(d1) >> 1;
  int d2 = (a - d) / 4;
  if (d2 > limit) d2 = limit;
  if (d2 < -limit) d2 = -limit;
  p[-2 * step] = Clip255(a - d2);
  p[step] = Clip255(d + d2);
}

// `kLines` lines across a horizontal edge just above row pointer `p`.
template <int kLines>
void HorizontalEdgeRef(uint8_t* p, ptrdiff_t stride, int strength) {
  for (int i = 0; i < kLines; ++i) FilterLine(p + i, stride, strength);
}

// `kLines` lines across a vertical edge just left of column pointer `p`.
template <int kLines>
void VerticalEdgeRef(uint8_t* p, ptrdiff_t stride, int strength) {
  for (int i = 0; i < kLines; ++i) FilterLine(p + i * stride, 1, strength);
}

}  // namespace

void init_deblock_dsp(DeblockDsp& dsp, uint32_t cpu_flags) {
  dsp.horizontal8 = HorizontalEdgeRef<8>;
  dsp.horizontal16 = HorizontalEdgeRef<16>;
  dsp.vertical8 = VerticalEdgeRef<8>;
  dsp.vertical16 = VerticalEdgeRef<16>;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpu_flags & ov::kCpuSse2) init_deblock_dsp_sse2(dsp);
  if (cpu_flags & ov::kCpuAvx2) init_deblock_dsp_avx2(dsp);
#else
  (void)cpu_flags;
#endif
}

void DeblockH263Line(uint8_t* p, ptrdiff_t step, int strength) { FilterLine(p, step, strength); }

void DeblockH263Picture(const DeblockDsp& dsp, const DecodedPicture& pic, const H263Macroblock* mbs, int mb_cols,
                        int mb_rows, bool annex_t) {
  const ptrdiff_t ys = pic.width;
  const ptrdiff_t cs = pic.width / 2;
  // STRENGTH of a luma and a chroma edge by the QUANT that governs it.
  auto luma_s = [](int q) { return static_cast<int>(kH263DeblockStrength[q]); };
  auto chroma_s = [annex_t](int q) { return static_cast<int>(kH263DeblockStrength[annex_t ? kH263ChromaQuant[q] : q]); };
  // Macroblock by macroblock: every edge is filtered after all the horizontal
  // edges that share its pixels, as if all horizontal edges went first.
  for (int y = 0; y < mb_rows; ++y) {
    for (int x = 0; x < mb_cols; ++x) {
      const H263Macroblock& m = mbs[y * mb_cols + x];
      const bool coded = m.status == kMbDecoded;
      uint8_t* py = pic.y + y * 16 * ys + x * 16;
      uint8_t* pu = pic.u + y * 8 * cs + x * 8;
      uint8_t* pv = pic.v + y * 8 * cs + x * 8;
      if (coded) dsp.horizontal16(py + 8 * ys, ys, luma_s(m.quant));
      if (y + 1 < mb_rows) {
        const H263Macroblock& below = mbs[(y + 1) * mb_cols + x];
        const bool below_coded = below.status == kMbDecoded;
        if (coded || below_coded) {
          const int q = below_coded ? below.quant : m.quant;
          dsp.horizontal16(py + 16 * ys, ys, luma_s(q));
          dsp.horizontal8(pu + 8 * cs, cs, chroma_s(q));
          dsp.horizontal8(pv + 8 * cs, cs, chroma_s(q));
        }
      }
      if (x > 0) {
        const H263Macroblock& left = mbs[y * mb_cols + x - 1];
        const bool left_coded = left.status == kMbDecoded;
        if (coded || left_coded) {
          const int q = coded ? m.quant : left.quant;
          dsp.vertical16(py, ys, luma_s(q));
          dsp.vertical8(pu, cs, chroma_s(q));
          dsp.vertical8(pv, cs, chroma_s(q));
        }
      }
      if (coded) dsp.vertical16(py + 8, ys, luma_s(m.quant));
    }
  }
}

}  // namespace videodec
