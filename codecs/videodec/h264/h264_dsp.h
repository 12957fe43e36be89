#pragma once
// Pixel kernels of the H.264 decoder: inverse transforms, motion-compensated
// interpolation and the loop-filter edge filters. init_h264_dsp fills the
// table with the C++ references, then lets instruction-set versions replace
// entries when the CPU has them.

#include <cstddef>
#include <cstdint>

namespace videodec {
namespace h264 {

// 8.5.12: inverse 4x4 transform of `coeff` (raster order, already scaled),
// added to the 4x4 block at dst with clipping; coeff is cleared.
using Idct4x4AddFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, int16_t* coeff);
// Two horizontally adjacent 4x4 blocks at once: coeff holds the left block's
// 16 coefficients, then the right one's; dst is the left block's first sample.
using Idct4x4Add2Fn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, int16_t* coeff);
// Luma interpolation (8.4.2.2.1) of a w x h block; src points to the full
// sample at the block's integer position and must have 2 samples of margin on
// the left and top and 3 on the right and bottom. fx, fy: quarter-sample phase.
using LumaMcFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src,
                          ptrdiff_t src_stride, int w, int h, int fx, int fy);
// Chroma interpolation (8.4.2.2.2), eighth-sample phase, src needs one sample
// of margin right and bottom.
using ChromaMcFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src,
                            ptrdiff_t src_stride, int w, int h, int fx, int fy);
// The same block of both chroma planes with the same phase, as ChromaMcFn
// on each: the planes share their strides.
using ChromaMc2Fn = void (*)(uint8_t* dst_cb, uint8_t* dst_cr, ptrdiff_t dst_stride, const uint8_t* src_cb,
                             const uint8_t* src_cr, ptrdiff_t src_stride, int w, int h, int fx, int fy);
// 8.7.2.3 / 8.7.2.4: filters `len` sample lines across one edge. `pix` is the
// first q0 sample; `step` crosses the edge, `stride` runs along it. bs and tc0
// hold one value per 4-sample segment of the luma edge: luma line i uses entry
// i / 4, chroma line i (4:2:0) entry i / 2. bS 4 selects the strong filter.
using EdgeFilterFn = void (*)(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len,
                              int alpha, int beta, const uint8_t* bs, const int8_t* tc0);

// The four vertical luma edges of one macroblock, filtered left to right:
// edge e lies between columns 4e - 1 and 4e of the 16 lines from pix and is
// filtered when bit e of `on` is set, with its thresholds, bS and tc0 as
// EdgeFilterFn takes them. Columns left of pix are read only for edge 0.
struct LumaColumnEdges {
  uint32_t on;
  int alpha[4];
  int beta[4];
  uint8_t bs[4][4];
  int8_t tc0[4][4];
};
using LumaColumnEdgesFn = void (*)(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges);

// One chroma edge in both chroma planes at once (8 lines each), with the
// same thresholds, bS and tc0, as EdgeFilterFn with len 8 on cb and on cr.
using ChromaEdgesFn = void (*)(uint8_t* cb, uint8_t* cr, ptrdiff_t step, ptrdiff_t stride, int alpha, int beta,
                               const uint8_t* bs, const int8_t* tc0);

// The motion of one macroblock as the loop filter's strengths read it, its
// 4x4 blocks in decoding order (8x8 quadrants in turn, each in raster
// order): TotalCoeff of the 16 luma blocks, their vectors (x, y in quarter
// samples) and the identity of each quadrant's reference picture.
struct BlockMotion {
  const uint8_t* nnz;
  const int16_t (*mv)[2];
  const int8_t* ref;
};
// bS (8.7.2.1) of every luma edge segment between inter blocks: 2 where
// either block has coefficients, else 1 where their reference pictures
// differ or a vector component differs by 4 or more quarter samples, else 0.
// bs[0][e]: vertical edge e, its four segments top to bottom, one byte each
// (the first in the low byte); bs[1][e]: horizontal edge e, left to right.
// Edge 0 lies against `left` or `top` (for a macroblock without that
// neighbour any macroblock may be passed; its result is not used).
using InterStrengthsFn = void (*)(const BlockMotion& q, const BlockMotion& left, const BlockMotion& top,
                                  uint32_t bs[2][4]);

struct H264Dsp {
  Idct4x4AddFn idct4x4_add;
  Idct4x4Add2Fn idct4x4_add2;
  LumaMcFn luma_mc;
  ChromaMcFn chroma_mc;
  ChromaMc2Fn chroma_mc2;
  EdgeFilterFn luma_edge;
  EdgeFilterFn chroma_edge;
  LumaColumnEdgesFn luma_column_edges;
  ChromaEdgesFn chroma_edges;
  InterStrengthsFn inter_strengths;
};

void init_h264_dsp(H264Dsp& dsp, uint32_t cpu_flags);

// The references of the edge filters, which the SSE2 variants fall back to for
// lines that are neither rows nor columns of the picture.
void LumaEdge_c(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                const int8_t* tc0);
void ChromaEdge_c(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                  const int8_t* tc0);

// SSE2 variants (h264_dsp_sse2.cpp), equal to the references.
void Idct4x4Add_sse2(uint8_t* dst, ptrdiff_t dst_stride, int16_t* coeff);
void LumaMc_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h, int fx,
                 int fy);
void ChromaMc_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h, int fx,
                   int fy);
void LumaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0);
void LumaColumnEdges_sse2(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges);
void ChromaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                     const int8_t* tc0);
// AVX2 variants (h264_dsp_avx2.cpp), equal to the references.
void Idct4x4Add2_avx2(uint8_t* dst, ptrdiff_t dst_stride, int16_t* coeff);
void LumaMc_avx2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h, int fx,
                 int fy);
void ChromaMc_avx2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h, int fx,
                   int fy);
void ChromaMc2_avx2(uint8_t* dst_cb, uint8_t* dst_cr, ptrdiff_t dst_stride, const uint8_t* src_cb,
                    const uint8_t* src_cr, ptrdiff_t src_stride, int w, int h, int fx, int fy);
void LumaEdge_avx2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0);
void LumaColumnEdges_avx2(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges);
void InterStrengths_avx2(const BlockMotion& q, const BlockMotion& left, const BlockMotion& top, uint32_t bs[2][4]);
void ChromaEdges_avx2(uint8_t* cb, uint8_t* cr, ptrdiff_t step, ptrdiff_t stride, int alpha, int beta,
                      const uint8_t* bs, const int8_t* tc0);

}  // namespace h264
}  // namespace videodec
