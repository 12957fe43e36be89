#include "codecs/videodec/h264/h264_dsp.h"

#include <cstdlib>
#include <cstring>

#include "platform/cpu/cpu.h"

namespace videodec {
namespace h264 {
namespace {

inline uint8_t Clip1(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }
inline int Clip3(int lo, int hi, int v) { return v < lo ? lo : (v > hi ? hi : v); }

void Idct4x4AddC(uint8_t* dst, ptrdiff_t stride, int16_t* c) {
  int t[16];
  for (int i = 0; i < 4; ++i) {  // rows
    const int16_t* r = c + i * 4;
    int e = r[0] + r[2];
    int f = r[0] - r[2];
    int g = (r[1] >> 1) - r[3];
    int h = r[1] + (r[3] >> 1);
    t[i * 4 + 0] = e + h;
    t[i * 4 + 1] = f + g;
    t[i * 4 + 2] = f - g;
    t[i * 4 + 3] = e - h;
  }
  for (int j = 0; j < 4; ++j) {  // columns
    int e = t[j] + t[8 + j];
    int f = t[j] - t[8 + j];
    int g = (t[4 + j] >> 1) - t[12 + j];
    int h = t[4 + j] + (t[12 + j] >> 1);
    dst[j] = Clip1(dst[j] + ((e + h + 32) >> 6));
    dst[stride + j] = Clip1(dst[stride + j] + ((f + g + 32) >> 6));
    dst[2 * stride + j] = Clip1(dst[2 * stride + j] + ((f - g + 32) >> 6));
    dst[3 * stride + j] = Clip1(dst[3 * stride + j] + ((e - h + 32) >> 6));
  }
  std::memset(c, 0, 16 * sizeof(int16_t));
}

inline int Tap6(const uint8_t* p, ptrdiff_t s) {
  return p[-2 * s] - 5 * p[-s] + 20 * p[0] + 20 * p[s] - 5 * p[2 * s] + p[3 * s];
}

// Half-sample planes of one block: b (horizontal), h (vertical), j (centre).
void HalfH(uint8_t* dst, int ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  for (int y = 0; y < h; ++y, dst += ds, src += ss)
    for (int x = 0; x < w; ++x) dst[x] = Clip1((Tap6(src + x, 1) + 16) >> 5);
}
void HalfV(uint8_t* dst, int ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  for (int y = 0; y < h; ++y, dst += ds, src += ss)
    for (int x = 0; x < w; ++x) dst[x] = Clip1((Tap6(src + x, ss) + 16) >> 5);
}
void HalfHV(uint8_t* dst, int ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  int tmp[21 * 16];
  const uint8_t* s = src - 2 * ss;
  for (int y = 0; y < h + 5; ++y, s += ss)
    for (int x = 0; x < w; ++x) tmp[y * 16 + x] = Tap6(s + x, 1);
  for (int y = 0; y < h; ++y, dst += ds)
    for (int x = 0; x < w; ++x) {
      const int* t = tmp + (y + 2) * 16 + x;
      int v = t[-32] - 5 * t[-16] + 20 * t[0] + 20 * t[16] - 5 * t[32] + t[48];
      dst[x] = Clip1((v + 512) >> 10);
    }
}

void LumaMcC(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx,
             int fy) {
  if (fx == 0 && fy == 0) {
    for (int y = 0; y < h; ++y) std::memcpy(dst + y * ds, src + y * ss, size_t(w));
    return;
  }
  uint8_t a[16 * 16], b[16 * 16];
  const uint8_t* p = nullptr;  // first prediction
  const uint8_t* q = nullptr;  // second, averaged with the first
  int ps = 16, qs = 16;
  if (fy == 0) {
    HalfH(a, 16, src, ss, w, h);
    p = a;
    if (fx == 1) q = src, qs = int(ss);
    if (fx == 3) q = src + 1, qs = int(ss);
  } else if (fx == 0) {
    HalfV(a, 16, src, ss, w, h);
    p = a;
    if (fy == 1) q = src, qs = int(ss);
    if (fy == 3) q = src + ss, qs = int(ss);
  } else if (fx == 2 || fy == 2) {
    HalfHV(a, 16, src, ss, w, h);
    p = a;
    if (fx == 2 && fy == 1) HalfH(b, 16, src, ss, w, h), q = b;
    if (fx == 2 && fy == 3) HalfH(b, 16, src + ss, ss, w, h), q = b;
    if (fy == 2 && fx == 1) HalfV(b, 16, src, ss, w, h), q = b;
    if (fy == 2 && fx == 3) HalfV(b, 16, src + 1, ss, w, h), q = b;
  } else {
    // Diagonal quarter positions: mean of a horizontal and a vertical half sample.
    HalfH(a, 16, src + (fy == 3 ? ss : 0), ss, w, h);
    HalfV(b, 16, src + (fx == 3 ? 1 : 0), ss, w, h);
    p = a;
    q = b;
  }
  for (int y = 0; y < h; ++y) {
    uint8_t* d = dst + y * ds;
    const uint8_t* pp = p + y * ps;
    if (q) {
      const uint8_t* qq = q + y * qs;
      for (int x = 0; x < w; ++x) d[x] = uint8_t((pp[x] + qq[x] + 1) >> 1);
    } else {
      std::memcpy(d, pp, size_t(w));
    }
  }
}

void ChromaMcC(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx,
               int fy) {
  if (fx == 0 && fy == 0) {
    for (int y = 0; y < h; ++y) std::memcpy(dst + y * ds, src + y * ss, size_t(w));
    return;
  }
  const int wa = (8 - fx) * (8 - fy), wb = fx * (8 - fy), wc = (8 - fx) * fy, wd = fx * fy;
  for (int y = 0; y < h; ++y, dst += ds, src += ss)
    for (int x = 0; x < w; ++x)
      dst[x] = uint8_t((wa * src[x] + wb * src[x + 1] + wc * src[x + ss] + wd * src[x + ss + 1] + 32) >> 6);
}

}  // namespace

void LumaEdge_c(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta,
               const uint8_t* bs, const int8_t* tc0) {
  for (int i = 0; i < len; ++i, pix += stride) {
    const int bsv = bs[i >> 2];
    if (bsv == 0) continue;
    uint8_t* p = pix;
    const int p0 = p[-step], p1 = p[-2 * step], p2 = p[-3 * step];
    const int q0 = p[0], q1 = p[step], q2 = p[2 * step];
    if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta)
      continue;
    const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
    if (bsv < 4) {
      const int c0 = tc0[i >> 2];
      const int tc = c0 + (ap < beta) + (aq < beta);
      const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
      p[-step] = Clip1(p0 + delta);
      p[0] = Clip1(q0 - delta);
      if (ap < beta) p[-2 * step] = uint8_t(p1 + Clip3(-c0, c0, (p2 + ((p0 + q0 + 1) >> 1) - 2 * p1) >> 1));
      if (aq < beta) p[step] = uint8_t(q1 + Clip3(-c0, c0, (q2 + ((p0 + q0 + 1) >> 1) - 2 * q1) >> 1));
    } else {
      const int p3 = p[-4 * step], q3 = p[3 * step];
      const bool strong = std::abs(p0 - q0) < ((alpha >> 2) + 2);
      if (ap < beta && strong) {
        p[-step] = uint8_t((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
        p[-2 * step] = uint8_t((p2 + p1 + p0 + q0 + 2) >> 2);
        p[-3 * step] = uint8_t((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
      } else {
        p[-step] = uint8_t((2 * p1 + p0 + q1 + 2) >> 2);
      }
      if (aq < beta && strong) {
        p[0] = uint8_t((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
        p[step] = uint8_t((p0 + q0 + q1 + q2 + 2) >> 2);
        p[2 * step] = uint8_t((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
      } else {
        p[0] = uint8_t((2 * q1 + q0 + p1 + 2) >> 2);
      }
    }
  }
}

// Chroma: len sample lines, line i uses bs[i >> 1] (each chroma line pair
// matches one group of four luma lines).
void ChromaEdge_c(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta,
                 const uint8_t* bs, const int8_t* tc0) {
  for (int i = 0; i < len; ++i, pix += stride) {
    const int bsv = bs[i >> 1];
    if (bsv == 0) continue;
    uint8_t* p = pix;
    const int p0 = p[-step], p1 = p[-2 * step];
    const int q0 = p[0], q1 = p[step];
    if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta)
      continue;
    if (bsv < 4) {
      const int tc = tc0[i >> 1] + 1;
      const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
      p[-step] = Clip1(p0 + delta);
      p[0] = Clip1(q0 - delta);
    } else {
      p[-step] = uint8_t((2 * p1 + p0 + q1 + 2) >> 2);
      p[0] = uint8_t((2 * q1 + q0 + p1 + 2) >> 2);
    }
  }
}

namespace {

void LumaColumnEdgesC(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges) {
  for (int e = 0; e < 4; ++e)
    if (edges.on & (1u << e))
      LumaEdge_c(pix + 4 * e, 1, stride, 16, edges.alpha[e], edges.beta[e], edges.bs[e], edges.tc0[e]);
}

// The vector of block blk as one word, for equality tests.
inline uint32_t MvWord(const BlockMotion& m, int blk) {
  uint32_t w;
  std::memcpy(&w, m.mv[blk], 4);
  return w;
}

// bS of one segment between block bp of p and block bq of q. Without
// branches: which case holds varies from block to block, and mispredicted
// jumps would cost more than the whole test.
inline uint32_t InterStrength(const BlockMotion& p, int bp, const BlockMotion& q, int bq) {
  const uint32_t coded = (p.nnz[bp] | q.nnz[bq]) != 0;
  const uint32_t moved = (p.ref[bp >> 2] != q.ref[bq >> 2]) | (uint32_t(p.mv[bp][0] - q.mv[bq][0] + 3) > 6u) |
                         (uint32_t(p.mv[bp][1] - q.mv[bq][1] + 3) > 6u);
  return coded ? 2u : moved;
}

// The four blocks along edge e, on its q side: [dir][e][segment]; the p side
// of inner edge e is the q side of edge e - 1, of the macroblock edge that of
// edge 3 in the neighbour.
constexpr uint8_t kEdgeBlocks[2][4][4] = {
    {{0, 2, 8, 10}, {1, 3, 9, 11}, {4, 6, 12, 14}, {5, 7, 13, 15}},
    {{0, 1, 4, 5}, {2, 3, 6, 7}, {8, 9, 12, 13}, {10, 11, 14, 15}}};

void InterStrengthsC(const BlockMotion& q, const BlockMotion& left, const BlockMotion& top, uint32_t bs[2][4]) {
  // Quadrants (8x8) whose four blocks share one vector: their inner edges
  // (1 and 3) differ only by coefficients. The reference is per quadrant.
  uint32_t still = 0;
  for (int k = 0; k < 4; ++k) {
    const uint32_t v = MvWord(q, 4 * k);
    still |= uint32_t(MvWord(q, 4 * k + 1) == v && MvWord(q, 4 * k + 2) == v && MvWord(q, 4 * k + 3) == v) << k;
  }
  // The whole macroblock with one vector and reference: edge 2 likewise.
  const bool uniform = still == 15 && MvWord(q, 4) == MvWord(q, 0) && MvWord(q, 8) == MvWord(q, 0) &&
                       MvWord(q, 12) == MvWord(q, 0) && q.ref[1] == q.ref[0] && q.ref[2] == q.ref[0] &&
                       q.ref[3] == q.ref[0];
  for (int dir = 0; dir < 2; ++dir)
    for (int e = 0; e < 4; ++e) {
      const BlockMotion& p = e > 0 ? q : dir == 0 ? left : top;
      const uint8_t* bq = kEdgeBlocks[dir][e];
      const uint8_t* bp = kEdgeBlocks[dir][(e + 3) & 3];
      uint32_t bsw = 0;
      if (e > 0 && (uniform || ((e & 1) && still == 15))) {
        for (int i = 0; i < 4; ++i) bsw |= uint32_t((q.nnz[bq[i]] | q.nnz[bp[i]]) ? 2 : 0) << (8 * i);
      } else if (e & 1) {
        // Segments 0-1 and 2-3 lie in two quadrants, one of them or both still.
        for (int i = 0; i < 4; ++i) {
          const int quad = dir == 0 ? (i >> 1) * 2 + (e >> 1) : (e >> 1) * 2 + (i >> 1);
          bsw |= ((still >> quad) & 1 ? ((q.nnz[bq[i]] | q.nnz[bp[i]]) ? 2u : 0u) : InterStrength(q, bp[i], q, bq[i]))
                 << (8 * i);
        }
      } else {
        for (int i = 0; i < 4; ++i) bsw |= InterStrength(p, bp[i], q, bq[i]) << (8 * i);
      }
      bs[dir][e] = bsw;
    }
}

// Each plane through the single-plane interpolation of the table's level.
template <ChromaMcFn kMc>
void ChromaMc2Of(uint8_t* dst_cb, uint8_t* dst_cr, ptrdiff_t ds, const uint8_t* src_cb, const uint8_t* src_cr,
                 ptrdiff_t ss, int w, int h, int fx, int fy) {
  kMc(dst_cb, ds, src_cb, ss, w, h, fx, fy);
  kMc(dst_cr, ds, src_cr, ss, w, h, fx, fy);
}

// Both blocks through the single-block transform of the table's level.
template <Idct4x4AddFn kIdct>
void Idct4x4Add2Of(uint8_t* dst, ptrdiff_t stride, int16_t* c) {
  kIdct(dst, stride, c);
  kIdct(dst + 4, stride, c + 16);
}

// Each plane through the single-plane filter of the table's level.
template <EdgeFilterFn kEdge>
void ChromaEdgesOf(uint8_t* cb, uint8_t* cr, ptrdiff_t step, ptrdiff_t stride, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0) {
  kEdge(cb, step, stride, 8, alpha, beta, bs, tc0);
  kEdge(cr, step, stride, 8, alpha, beta, bs, tc0);
}

}  // namespace

void init_h264_dsp(H264Dsp& dsp, uint32_t cpu_flags) {
  dsp.idct4x4_add = Idct4x4AddC;
  dsp.idct4x4_add2 = Idct4x4Add2Of<Idct4x4AddC>;
  dsp.luma_mc = LumaMcC;
  dsp.chroma_mc = ChromaMcC;
  dsp.chroma_mc2 = ChromaMc2Of<ChromaMcC>;
  dsp.luma_edge = LumaEdge_c;
  dsp.chroma_edge = ChromaEdge_c;
  dsp.luma_column_edges = LumaColumnEdgesC;
  dsp.chroma_edges = ChromaEdgesOf<ChromaEdge_c>;
  dsp.inter_strengths = InterStrengthsC;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpu_flags & ov::kCpuSse2) {
    dsp.idct4x4_add = Idct4x4Add_sse2;
    dsp.idct4x4_add2 = Idct4x4Add2Of<Idct4x4Add_sse2>;
    dsp.luma_mc = LumaMc_sse2;
    dsp.chroma_mc = ChromaMc_sse2;
    dsp.chroma_mc2 = ChromaMc2Of<ChromaMc_sse2>;
    dsp.luma_edge = LumaEdge_sse2;
    dsp.chroma_edge = ChromaEdge_sse2;
    dsp.luma_column_edges = LumaColumnEdges_sse2;
    dsp.chroma_edges = ChromaEdgesOf<ChromaEdge_sse2>;
  }
  if ((cpu_flags & ov::kCpuSse2) && (cpu_flags & ov::kCpuAvx2)) {
    dsp.luma_mc = LumaMc_avx2;  // 4-wide blocks go on to the SSE2 variant
    dsp.chroma_mc = ChromaMc_avx2;
    dsp.chroma_mc2 = ChromaMc2_avx2;
    dsp.idct4x4_add2 = Idct4x4Add2_avx2;
    dsp.luma_edge = LumaEdge_avx2;
    dsp.luma_column_edges = LumaColumnEdges_avx2;
    dsp.chroma_edges = ChromaEdges_avx2;
    dsp.inter_strengths = InterStrengths_avx2;
  }
#else
  (void)cpu_flags;
#endif
}

}  // namespace h264
}  // namespace videodec
