#pragma once
// ITU-T H.263 Annex J edge filter (the kernel family "deblock"): every line
// across one 8-sample block edge, A B | C D with the edge before C.

#include <cstddef>
#include <cstdint>

namespace videodec {

// (p, stride, strength): `p` is the first C of the edge, `strength` the Annex J
// STRENGTH (0-12). Horizontal edges lie between the rows p - stride and p, their
// lines running along x; vertical edges between the columns p - 1 and p, their
// lines running along y. Reads and writes the two samples on each side only.
using DeblockEdgeFn = void (*)(uint8_t* p, ptrdiff_t stride, int strength);

struct DeblockDsp {
  DeblockEdgeFn horizontal8;   // 8 lines (a chroma block)
  DeblockEdgeFn horizontal16;  // 16 lines (a luma macroblock)
  DeblockEdgeFn vertical8;
  DeblockEdgeFn vertical16;
};

// Fills `dsp` with the references, then lets the variants that `cpu_flags`
// allows override them.
void init_deblock_dsp(DeblockDsp& dsp, uint32_t cpu_flags);

// SSE2 variants (h263_deblock_sse2.cpp), equal to the references.
void init_deblock_dsp_sse2(DeblockDsp& dsp);
// AVX2 variants (h263_deblock_avx2.cpp), equal to the references.
void init_deblock_dsp_avx2(DeblockDsp& dsp);

}  // namespace videodec
