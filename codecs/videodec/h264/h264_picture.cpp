// Work done when a picture is finished: concealment of macroblocks that no
// slice decoded, then the loop filter of ITU-T H.264 8.7.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/h264/h264_core.h"
#include "codecs/videodec/h264/h264_tables.h"

namespace videodec {
namespace h264 {
namespace {

inline bool IsIntraForFilter(MbKind k) { return k == kMbI4x4 || k == kMbI16 || k == kMbPcm || k == kMbNone; }

// tc0 of the four segments of bS word bsw (one byte each), stored at once;
// tc is the edge's tc0 row indexed by bS (0 for bS 0 and 4).
inline void SetTc0(int8_t tc0[4], uint32_t bsw, const uint8_t tc[5]) {
  const uint32_t w = uint32_t(tc[bsw & 0xFF]) | uint32_t(tc[(bsw >> 8) & 0xFF]) << 8 |
                     uint32_t(tc[(bsw >> 16) & 0xFF]) << 16 | uint32_t(tc[bsw >> 24]) << 24;
  std::memcpy(tc0, &w, 4);
}

// The loop filter's view of a macroblock's motion.
inline BlockMotion MotionOf(const MbInfo& m) { return BlockMotion{m.nnz, m.mv, m.ref_pic}; }

inline int ChromaQpOf(int qp, int offset) { return kChromaQp[std::clamp(qp + offset, 0, 51)]; }

// Table 8-17's tc0 by indexA and bS, with 0 for bS 0 and 4.
struct Tc0ByStrength {
  uint8_t tc[52][5];
  Tc0ByStrength() {
    for (int ia = 0; ia < 52; ++ia) {
      tc[ia][0] = tc[ia][4] = 0;
      for (int b = 1; b < 4; ++b) tc[ia][b] = kDeblockTc0[ia][b - 1];
    }
  }
};
const Tc0ByStrength kTc0ByStrength;

// alpha, beta and the tc0 row (8.7.2.2) of an edge between QPs qp and qq.
struct EdgeParams {
  int alpha, beta;
  const uint8_t* tc0;  // by bS, 5 entries
};
inline EdgeParams EdgeParamsFor(int qp, int qq, const SliceFilter& sf) {
  const int qpav = (qp + qq + 1) >> 1;
  const int ia = std::clamp(qpav + sf.alpha_offset, 0, 51);
  const int ib = std::clamp(qpav + sf.beta_offset, 0, 51);
  return EdgeParams{kDeblockAlpha[ia], kDeblockBeta[ib], kTc0ByStrength.tc[ia]};
}

// cos((2k + 1) pi / 16) x 4096: the first basis function of the 8-point DCT.
constexpr int kCos1[8] = {4017, 3406, 2276, 799, -799, -2276, -3406, -4017};

// The three lowest coefficients of an 8x8 block's DCT, unnormalised: the
// sample sum, and the sums weighted by kCos1 along x and along y.
struct LowFreq {
  int64_t dc = 0, h = 0, v = 0;
};

LowFreq Analyse(const uint8_t* p, int stride) {
  LowFreq f;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int s = p[y * stride + x];
      f.dc += s;
      f.h += int64_t(s) * kCos1[x];
      f.v += int64_t(s) * kCos1[y];
    }
  return f;
}

LowFreq Mean(const LowFreq* f, int n) {
  LowFreq m;
  for (int i = 0; i < n; ++i) m.dc += f[i].dc, m.h += f[i].h, m.v += f[i].v;
  if (n == 2) m.dc >>= 1, m.h >>= 1, m.v >>= 1;
  if (n == 3) m.dc /= 3, m.h /= 3, m.v /= 3;
  return m;
}

// Inverse of the orthonormal 8x8 DCT restricted to DC, first horizontal and
// first vertical coefficient, in units of 2^-29.
void Synthesise(const LowFreq& f, uint8_t* p, int stride) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int64_t v = ((f.dc << 23) + f.h * kCos1[x] + f.v * kCos1[y] + (int64_t(1) << 28)) >> 29;
      p[y * stride + x] = uint8_t(std::clamp<int64_t>(v, 0, 255));
    }
}

}  // namespace

// First picture of a stream, no reference to copy from: each 8x8 block is
// rebuilt from the low-frequency content of the decoded 8x8 blocks next to it
// above (the two bottom blocks of the macroblock above, and the nearest one of
// the diagonal neighbour on its side) or below; a half with no decoded side
// takes the DC of the other half's block in its column. Without a decoded
// macroblock above or below, the macroblock above is repeated.
void Core::ConcealSpatial(int addr) {
  const int W = mb_width_ * 16, CW = W / 2;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  auto decoded = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < mb_width_ && y < mb_height_ && mbs_[size_t(y * mb_width_ + x)].slice != 0;
  };
  const bool up = decoded(mx, my - 1), down = decoded(mx, my + 1);
  uint8_t* luma = cur_->plane[0] + my * 16 * W + mx * 16;
  if (!up && !down) {
    for (int c = 0; c < 3; ++c) {
      const int s = c == 0 ? W : CW, n = c == 0 ? 16 : 8;
      uint8_t* d = cur_->plane[c] + (my * n) * s + mx * n;
      for (int r = 0; r < n; ++r) {
        if (my > 0) std::memcpy(d + r * s, d + (r - n) * s, size_t(n));
        else std::memset(d + r * s, 128, size_t(n));
      }
    }
    return;
  }
  LowFreq half[2][2];  // [by][bx]
  bool have[2] = {false, false};
  for (int by = 0; by < 2; ++by) {
    const bool side = by == 0 ? up : down;
    if (!side) continue;
    have[by] = true;
    const int ny = by == 0 ? my - 1 : my + 1;
    const int row = by == 0 ? 8 : 0;  // bottom blocks above, top blocks below
    const uint8_t* nb = cur_->plane[0] + (ny * 16 + row) * W + mx * 16;
    for (int bx = 0; bx < 2; ++bx) {
      LowFreq src[3];
      src[0] = Analyse(nb + bx * 8, W);
      src[1] = Analyse(nb + (1 - bx) * 8, W);
      int n = 2;
      const int dx = bx == 0 ? mx - 1 : mx + 1;
      if (decoded(dx, ny)) {
        const uint8_t* diag = cur_->plane[0] + (ny * 16 + row) * W + dx * 16 + (bx == 0 ? 8 : 0);
        src[n++] = Analyse(diag, W);
      }
      half[by][bx] = Mean(src, n);
    }
  }
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx) {
      LowFreq f = have[by] ? half[by][bx] : half[1 - by][bx];
      Synthesise(f, luma + by * 8 * W + bx * 8, W);
    }
  for (int c = 1; c < 3; ++c) {
    uint8_t* d = cur_->plane[c] + my * 8 * CW + mx * 8;
    LowFreq src[2];
    int n = 0;
    if (up) src[n++] = Analyse(d - 8 * CW, CW);
    if (down) src[n++] = Analyse(d + 8 * CW, CW);
    Synthesise(Mean(src, n), d, CW);
  }
}

void Core::DeblockMb(int addr) {
  const MbInfo& q = mbs_[size_t(addr)];
  const SliceFilter& sf = slice_filter_[q.slice];
  if (sf.disable == 1) return;
  const int W = mb_width_ * 16, CW = W / 2;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  uint8_t* y = cur_->plane[0] + my * 16 * W + mx * 16;
  uint8_t* cb = cur_->plane[1] + my * 8 * CW + mx * 8;
  uint8_t* cr = cur_->plane[2] + my * 8 * CW + mx * 8;
  const bool q_intra = IsIntraForFilter(q.kind);
  // bS of every segment as if both sides were inter; the intra cases below
  // override them.
  uint32_t inter_bs[2][4] = {};
  if (!q_intra) {
    const BlockMotion qm = MotionOf(q);
    dsp_.inter_strengths(qm, mx > 0 ? MotionOf(mbs_[size_t(addr - 1)]) : qm,
                         my > 0 ? MotionOf(mbs_[size_t(addr - mb_width_)]) : qm, inter_bs);
  }
  // Thresholds of the inner edges, where both sides have this QP.
  const EdgeParams inner_luma = EdgeParamsFor(q.qp, q.qp, sf);
  const int qc = ChromaQpOf(q.qp, sf.chroma_qp_offset);
  const EdgeParams inner_chroma = EdgeParamsFor(qc, qc, sf);
  for (int dir = 0; dir < 2; ++dir) {  // 0: vertical edges, 1: horizontal edges
    int nb = -1;
    if (dir == 0 && mx > 0) nb = addr - 1;
    if (dir == 1 && my > 0) nb = addr - mb_width_;
    const bool filter_mb_edge = nb >= 0 && (sf.disable != 2 || mbs_[size_t(nb)].slice == q.slice);
    const ptrdiff_t step = dir == 0 ? 1 : W;
    const ptrdiff_t along = dir == 0 ? W : 1;
    const ptrdiff_t cstep = dir == 0 ? 1 : CW;
    const ptrdiff_t calong = dir == 0 ? CW : 1;
    // The vertical luma edges are gathered and filtered in one call after
    // the loop, left to right; the chroma edges go on edge by edge.
    LumaColumnEdges columns;
    columns.on = 0;
    for (int e = 0; e < 4; ++e) {
      if (e == 0 && !filter_mb_edge) continue;
      const MbInfo& p = e == 0 ? mbs_[size_t(nb)] : q;
      // The four bS values are gathered in one word and stored at once: the
      // edge filters load them (and tc0) as one 4-byte word, which a store
      // of single bytes would stall.
      const uint32_t bsw = q_intra || IsIntraForFilter(p.kind) ? (e == 0 ? 0x04040404u : 0x03030303u)
                                                               : inter_bs[dir][e];
      if (bsw == 0) continue;
      uint8_t bs[4];
      std::memcpy(bs, &bsw, 4);
      const EdgeParams lp = e == 0 ? EdgeParamsFor(p.qp, q.qp, sf) : inner_luma;
      if (lp.alpha != 0 && lp.beta != 0) {  // otherwise no sample passes the tests
        if (dir == 0) {
          columns.on |= 1u << e;
          columns.alpha[e] = lp.alpha;
          columns.beta[e] = lp.beta;
          std::memcpy(columns.bs[e], &bsw, 4);
          SetTc0(columns.tc0[e], bsw, lp.tc0);
        } else {
          int8_t tc0[4];
          SetTc0(tc0, bsw, lp.tc0);
          dsp_.luma_edge(y + e * 4 * W, step, along, 16, lp.alpha, lp.beta, bs, tc0);
        }
      }
      if (e == 0 || e == 2) {
        const EdgeParams cp =
            e == 0 ? EdgeParamsFor(ChromaQpOf(p.qp, sf.chroma_qp_offset), qc, sf) : inner_chroma;
        if (cp.alpha == 0 || cp.beta == 0) continue;
        int8_t tc0[4];
        SetTc0(tc0, bsw, cp.tc0);
        const int off = dir == 0 ? e * 2 : e * 2 * CW;
        dsp_.chroma_edges(cb + off, cr + off, cstep, calong, cp.alpha, cp.beta, bs, tc0);
      }
    }
    if (columns.on) dsp_.luma_column_edges(y, W, columns);
  }
}

void Core::Deblock() {
  for (int addr = 0; addr < mb_count_; ++addr) DeblockMb(addr);
}

// Concealment of the macroblocks that no slice decoded. P pictures take
// motion from decoded inter neighbours, or copy the co-located macroblock of
// the latest reference; I pictures copy from the latest reference when the
// stream has one, else interpolate between the rows above and below.
void Core::Conceal() {
  const Picture* ref = nullptr;
  if (UsableRef(0) && ref_list_[0] != cur_) ref = ref_list_[0];
  if (!ref) {
    for (const Picture& p : pictures_)
      if (&p != cur_ && p.short_ref && !p.non_existing && (!ref || p.frame_num_wrap > ref->frame_num_wrap))
        ref = &p;
    if (!ref)
      for (const Picture& p : pictures_)
        if (&p != cur_ && p.long_ref && !p.non_existing) ref = &p;
  }
  const int W = mb_width_ * 16, CW = W / 2;
  auto decoded_inter = [&](int mx, int my) -> const MbInfo* {
    if (mx < 0 || my < 0 || mx >= mb_width_ || my >= mb_height_) return nullptr;
    const MbInfo& m = mbs_[size_t(my * mb_width_ + mx)];
    if (m.slice == 0 || !(m.kind == kMbInter || m.kind == kMbSkip)) return nullptr;
    return &m;
  };
  for (int addr = 0; addr < mb_count_; ++addr) {
    if (mbs_[size_t(addr)].slice != 0) continue;
    const int mx = addr % mb_width_, my = addr / mb_width_;
    if (ref && cur_kind_ == 0) {
      const MbInfo* nl = decoded_inter(mx - 1, my);
      const MbInfo* nr = decoded_inter(mx + 1, my);
      const MbInfo* na = decoded_inter(mx, my - 1);
      const MbInfo* nbw = decoded_inter(mx, my + 1);
      if (nl || nr || na || nbw) {
        for (int qd = 0; qd < 4; ++qd) {
          const int qx = qd & 1, qy = qd >> 1;
          struct Side {
            const MbInfo* m;
            int b0, b1;
          };
          const Side left{nl, qy ? 13 : 5, qy ? 15 : 7}, right{nr, qy ? 8 : 0, qy ? 10 : 2};
          const Side above{na, qx ? 14 : 10, qx ? 15 : 11}, below{nbw, qx ? 4 : 0, qx ? 5 : 1};
          const Side& h = qx ? right : left;
          const Side& v = qy ? below : above;
          const Side& h2 = qx ? left : right;
          const Side& v2 = qy ? above : below;
          auto mean = [](const Side& s, int c) { return (s.m->mv[s.b0][c] + s.m->mv[s.b1][c]) >> 1; };
          auto sum = [](const Side& s, int c) { return s.m->mv[s.b0][c] + s.m->mv[s.b1][c]; };
          auto refof = [](const Side& s) {
            return s.m->ref_pic[(kBlockY[s.b0] >> 1) * 2 + (kBlockX[s.b0] >> 1)];
          };
          int vx, vy, rp;
          if (h.m) {
            vx = mean(h, 0), vy = mean(h, 1), rp = refof(h);
            if (v.m && refof(v) == rp) vx = (sum(v, 0) + 2 * vx) >> 2, vy = (sum(v, 1) + 2 * vy) >> 2;
          } else if (v.m) {
            vx = mean(v, 0), vy = mean(v, 1), rp = refof(v);
            const Side* t = h2.m ? &h2 : (v2.m ? &v2 : nullptr);
            if (t && refof(*t) == rp) vx = (sum(*t, 0) + 6 * vx) >> 3, vy = (sum(*t, 1) + 6 * vy) >> 3;
          } else if (h2.m) {
            vx = mean(h2, 0), vy = mean(h2, 1), rp = refof(h2);
            if (v2.m && refof(v2) == rp) vx = (sum(v2, 0) + 2 * vx) >> 2, vy = (sum(v2, 1) + 2 * vy) >> 2;
          } else {
            vx = mean(v2, 0), vy = mean(v2, 1), rp = refof(v2);
          }
          const Picture* src = ref;
          if (rp >= 0 && rp < int(pictures_.size()) && &pictures_[size_t(rp)] != cur_) src = &pictures_[size_t(rp)];
          McBlock(*src, addr, qx * 2, qy * 2, 2, 2, vx, vy);
        }
        continue;
      }
    }
    if (ref) {
      for (int r = 0; r < 16; ++r)
        std::memcpy(cur_->plane[0] + (my * 16 + r) * W + mx * 16, ref->plane[0] + (my * 16 + r) * W + mx * 16, 16);
      for (int c = 1; c < 3; ++c)
        for (int r = 0; r < 8; ++r)
          std::memcpy(cur_->plane[c] + (my * 8 + r) * CW + mx * 8, ref->plane[c] + (my * 8 + r) * CW + mx * 8, 8);
      continue;
    }
    ConcealSpatial(addr);
  }
}

}  // namespace h264
}  // namespace videodec
