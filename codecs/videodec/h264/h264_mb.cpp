// Macroblock layer (ITU-T H.264 7.3.5) and reconstruction: intra prediction
// (8.3), inter prediction (8.4) and residual transforms (8.5).
#include <algorithm>
#include <cstring>

#include "codecs/videodec/h264/h264_core.h"
#include "codecs/videodec/h264/h264_intra.h"
#include "codecs/videodec/h264/h264_tables.h"

namespace videodec {
namespace h264 {
namespace {

// Sub-macroblock partitions of P_8x8 (Table 7-18): count, width, height in 4x4 units.
constexpr int kSubCount[4] = {1, 2, 2, 4};
constexpr int kSubW[4] = {2, 2, 1, 1};
constexpr int kSubH[4] = {2, 1, 2, 1};
constexpr int kMvLimit = 1 << 14;

inline bool IsIntra(MbKind k) { return k == kMbI4x4 || k == kMbI16 || k == kMbPcm; }

// Copies the w x h area at (x0, y0) of a W x H plane to dst, samples outside
// the plane taking the value of the nearest edge sample (8.4.2.2: reference
// sample positions are clipped into the picture).
void CopyClamped(uint8_t* dst, int ds, const uint8_t* plane, int W, int H, int x0, int y0, int w, int h) {
  // Columns [left, right) of the area lie inside the plane.
  const int left = std::clamp(-x0, 0, w), right = std::clamp(W - x0, left, w);
  for (int y = 0; y < h; ++y, dst += ds) {
    const uint8_t* row = plane + size_t(std::clamp(y0 + y, 0, H - 1)) * size_t(W);
    if (left > 0) std::memset(dst, row[0], size_t(left));
    if (right > left) std::memcpy(dst + left, row + x0 + left, size_t(right - left));
    if (right < w) std::memset(dst + right, row[W - 1], size_t(w - right));
  }
}

}  // namespace

int Core::DecodeSliceData(BitReader& br, const SliceHeader& sh) {
  const bool p_slice = sh.slice_type == 0;
  qp_ = sh.qp;
  int addr = sh.first_mb;
  int skip_run = -1;
  std::memset(coeff_, 0, sizeof(coeff_));
  // An error is often found some way past the damage: the failing macroblock
  // and the four before it in raster order are concealed. Only macroblocks of
  // this slice are taken back (another slice's came from intact data), and
  // near the start of the picture the marking stops at macroblock 0.
  auto fail = [&](int at) {
    for (int a = std::max(0, at - 4); a <= at && a < mb_count_; ++a)
      if (mbs_[size_t(a)].slice == slice_num_) mbs_[size_t(a)].slice = 0;
    std::memset(coeff_, 0, sizeof(coeff_));
    return -1;
  };
  for (int guard = 0; guard <= mb_count_; ++guard) {
    if (addr < 0 || addr >= mb_count_) return fail(addr);  // data left past the last macroblock
    if (mbs_[size_t(addr)].slice != 0) return fail(addr);  // overlaps a decoded macroblock
    if (p_slice) {
      if (skip_run < 0) {
        // Past the end of the data the reader gives zero bits; its overrun
        // mark refuses the value at once rather than waiting for a later one
        // to go out of range.
        const uint32_t run = br.Ue();
        if (run > uint32_t(mb_count_ - addr) || br.Overrun()) return fail(addr);  // passes the last macroblock
        skip_run = int(run);
      }
      if (skip_run > 0) {
        mbs_[size_t(addr)].slice = uint16_t(slice_num_);
        if (!DecodeSkip(addr)) return fail(addr);
        if (--skip_run == 0 && !br.MoreRbspData()) return 0;
        addr = NextMbAddr(addr);
        continue;
      }
      skip_run = -1;
    }
    const uint32_t mb_type = br.Ue();
    mbs_[size_t(addr)].slice = uint16_t(slice_num_);
    if (DecodeMacroblock(br, addr, p_slice, int(std::min<uint32_t>(mb_type, 255))) != 0) return fail(addr);
    if (!br.MoreRbspData()) return 0;
    addr = NextMbAddr(addr);
  }
  return -1;
}

bool Core::IntraAvailable(int mb_addr, int n) const {
  if (!MbAvailable(mb_addr, n)) return false;
  if (!pps_cur_->constrained_intra) return true;
  const int mx = mb_addr % mb_width_;
  int nb;
  switch (n) {
    case 0: nb = mb_addr - 1; break;
    case 1: nb = mb_addr - mb_width_; break;
    case 2: nb = mb_addr - mb_width_ + 1; break;
    default: nb = mb_addr - mb_width_ - 1; break;
  }
  (void)mx;
  return IsIntra(mbs_[size_t(nb)].kind);
}

bool Core::DecodeSkip(int addr) {
  MbInfo& m = mbs_[size_t(addr)];
  if (!UsableRef(0)) return false;
  m.kind = kMbSkip;
  m.qp_raw = m.qp = uint8_t(qp_);
  std::memset(m.nnz, 0, sizeof(m.nnz));
  for (int i = 0; i < 16; ++i) m.intra_mode[i] = 2;
  filled_ = 0;
  int16_t mv[2] = {0, 0};
  int ra, rb;
  int16_t ma[2], mb[2];
  bool aa, ab;
  NeighbourMotion(addr, -1, 0, ra, ma, aa);
  NeighbourMotion(addr, 0, -1, rb, mb, ab);
  if (aa && ab && !(ra == 0 && ma[0] == 0 && ma[1] == 0) && !(rb == 0 && mb[0] == 0 && mb[1] == 0))
    PredictMv(addr, 0, 0, 4, 0, 0, mv);
  for (int i = 0; i < 4; ++i) {
    m.ref_idx[i] = 0;
    m.ref_pic[i] = int8_t(ref_list_[0]->index);
  }
  for (int i = 0; i < 16; ++i) {
    m.mv[i][0] = mv[0];
    m.mv[i][1] = mv[1];
  }
  filled_ = 0xFFFF;
  coded_mask_ = 0;
  McPartition(addr, 0, 0, 4, 4);
  return true;
}

int Core::DecodeMacroblock(BitReader& br, int addr, bool p_slice, int mb_type) {
  MbInfo& m = mbs_[size_t(addr)];
  filled_ = 0;
  coded_mask_ = 0;
  bool intra = true;
  if (p_slice) {
    if (mb_type < 5) intra = false;
    else mb_type -= 5;
  }
  if (intra && mb_type > 25) return -1;
  for (int i = 0; i < 4; ++i) {
    m.ref_idx[i] = -1;
    m.ref_pic[i] = -1;
  }
  std::memset(m.mv, 0, sizeof(m.mv));
  int cbp = 0;
  int chroma_mode = 0;
  if (intra && mb_type == 25) {
    // 7.3.5: I_PCM, samples follow byte-aligned.
    br.AlignByte();
    if (br.BitsLeft() < 384 * 8) return -1;
    const int mx = addr % mb_width_, my = addr / mb_width_;
    const int w = mb_width_ * 16;
    uint8_t* y = cur_->plane[0] + (my * 16) * w + mx * 16;
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) y[r * w + c] = uint8_t(br.Read(8));
    for (int comp = 1; comp < 3; ++comp) {
      uint8_t* ch = cur_->plane[comp] + (my * 8) * (w / 2) + mx * 8;
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) ch[r * (w / 2) + c] = uint8_t(br.Read(8));
    }
    m.kind = kMbPcm;
    m.qp = 0;
    m.qp_raw = uint8_t(qp_);
    std::memset(m.nnz, 16, sizeof(m.nnz));
    for (int i = 0; i < 16; ++i) m.intra_mode[i] = 2;
    return 0;
  }
  if (intra) {
    const bool i4 = mb_type == 0;
    m.kind = i4 ? kMbI4x4 : kMbI16;
    if (i4) {
      for (int blk = 0; blk < 16; ++blk) {
        const int bx = kBlockX[blk], by = kBlockY[blk];
        const bool flag = br.Bit();
        const int rem = flag ? -1 : int(br.Read(3));
        int ma, mb2;
        bool dc = false;
        if (bx > 0) ma = m.intra_mode[kBlockIndexAt[by][bx - 1]];
        else if (!MbAvailable(addr, 0)) dc = true, ma = 2;
        else {
          const MbInfo& a = mbs_[size_t(addr - 1)];
          if (!IsIntra(a.kind) && pps_cur_->constrained_intra) dc = true;
          ma = a.kind == kMbI4x4 ? a.intra_mode[kBlockIndexAt[by][3]] : 2;
        }
        if (by > 0) mb2 = m.intra_mode[kBlockIndexAt[by - 1][bx]];
        else if (!MbAvailable(addr, 1)) dc = true, mb2 = 2;
        else {
          const MbInfo& b = mbs_[size_t(addr - mb_width_)];
          if (!IsIntra(b.kind) && pps_cur_->constrained_intra) dc = true;
          mb2 = b.kind == kMbI4x4 ? b.intra_mode[kBlockIndexAt[3][bx]] : 2;
        }
        const int pred = dc ? 2 : std::min(ma, mb2);
        m.intra_mode[blk] = int8_t(flag ? pred : (rem < pred ? rem : rem + 1));
      }
    } else {
      for (int i = 0; i < 16; ++i) m.intra_mode[i] = 2;
      mb_i16_mode_ = uint8_t((mb_type - 1) % 4);
      cbp = (((mb_type - 1) / 4) % 3) << 4;
      if (mb_type >= 13) cbp |= 15;
    }
    const uint32_t cm = br.Ue();
    if (cm > 3) return -1;
    chroma_mode = int(cm);
  } else {
    m.kind = kMbInter;
    for (int i = 0; i < 16; ++i) m.intra_mode[i] = 2;
    const int nref = std::min(ref_list_len_, 32);
    auto read_ref = [&](int& ref) -> bool {
      if (nref <= 1) {
        ref = 0;
      } else if (nref == 2) {
        ref = int(!br.Bit());
      } else {
        const uint32_t r = br.Ue();
        if (r >= uint32_t(nref)) return false;
        ref = int(r);
      }
      return UsableRef(ref);
    };
    auto set_motion = [&](int x4, int y4, int w4, int h4, int ref, const int16_t mv[2]) {
      for (int y = y4; y < y4 + h4; ++y)
        for (int x = x4; x < x4 + w4; ++x) {
          const int blk = kBlockIndexAt[y][x];
          m.mv[blk][0] = mv[0];
          m.mv[blk][1] = mv[1];
          filled_ |= 1u << blk;
        }
      for (int q = 0; q < 4; ++q) {
        const int qx = (q & 1) * 2, qy = (q >> 1) * 2;
        if (qx + 2 <= x4 || qx >= x4 + w4 || qy + 2 <= y4 || qy >= y4 + h4) continue;
        m.ref_idx[q] = int8_t(ref);
        m.ref_pic[q] = int8_t(ref_list_[ref]->index);
      }
    };
    auto read_mvd = [&](int16_t mvd[2]) -> bool {
      const int32_t x = br.Se(), y = br.Se();
      if (x < -kMvLimit || x > kMvLimit || y < -kMvLimit || y > kMvLimit) return false;
      mvd[0] = int16_t(x);
      mvd[1] = int16_t(y);
      return true;
    };
    auto final_mv = [&](const int16_t pred[2], const int16_t mvd[2], int16_t mv[2]) -> bool {
      const int x = pred[0] + mvd[0], y = pred[1] + mvd[1];
      if (x < -kMvLimit || x > kMvLimit || y < -kMvLimit || y > kMvLimit) return false;
      mv[0] = int16_t(x);
      mv[1] = int16_t(y);
      return true;
    };
    if (mb_type >= 3) {
      int sub[4], ref[4] = {0, 0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        const uint32_t s = br.Ue();
        if (s > 3) return -1;
        sub[i] = int(s);
      }
      if (mb_type == 3) {
        for (int i = 0; i < 4; ++i)
          if (!read_ref(ref[i])) return -1;
      } else if (!UsableRef(0)) {
        return -1;  // P_8x8ref0
      }
      int16_t mvd[4][4][2];
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < kSubCount[sub[i]]; ++j)
          if (!read_mvd(mvd[i][j])) return -1;
      for (int i = 0; i < 4; ++i) {
        const int x8 = (i & 1) * 2, y8 = (i >> 1) * 2;
        for (int j = 0; j < kSubCount[sub[i]]; ++j) {
          const int w = kSubW[sub[i]], h = kSubH[sub[i]];
          const int x4 = x8 + (sub[i] == 2 ? j : (sub[i] == 3 ? (j & 1) : 0));
          const int y4 = y8 + (sub[i] == 1 ? j : (sub[i] == 3 ? (j >> 1) : 0));
          int16_t pred[2], mv[2];
          PredictMv(addr, x4, y4, w, ref[i], 0, pred);
          if (!final_mv(pred, mvd[i][j], mv)) return -1;
          set_motion(x4, y4, w, h, ref[i], mv);
        }
      }
    } else {
      const int parts = mb_type == 0 ? 1 : 2;
      int ref[2] = {0, 0};
      for (int i = 0; i < parts; ++i)
        if (!read_ref(ref[i])) return -1;
      int16_t mvd[2][2];
      for (int i = 0; i < parts; ++i)
        if (!read_mvd(mvd[i])) return -1;
      for (int i = 0; i < parts; ++i) {
        int x4 = 0, y4 = 0, w = 4, h = 4, shape = 0;
        if (mb_type == 1) y4 = i * 2, h = 2, shape = 1;
        if (mb_type == 2) x4 = i * 2, w = 2, shape = 2;
        int16_t pred[2], mv[2];
        PredictMv(addr, x4, y4, w, ref[i], shape, pred);
        if (!final_mv(pred, mvd[i], mv)) return -1;
        set_motion(x4, y4, w, h, ref[i], mv);
      }
    }
  }
  if (m.kind != kMbI16) {
    const uint32_t code = br.Ue();
    if (code > 47) return -1;
    cbp = kCbpFromCode[intra ? 0 : 1][code];
  }
  mb_cbp_ = uint8_t(cbp);
  if (cbp > 0 || m.kind == kMbI16) {
    const int32_t dqp = br.Se();
    if (dqp < -26 || dqp > 25) return -1;
    qp_ = (qp_ + dqp + 52) % 52;
  }
  m.qp = m.qp_raw = uint8_t(qp_);
  if (cbp > 0 || m.kind == kMbI16) {
    if (ReadResidual(br, addr, cbp, m.kind == kMbI16) != 0) return -1;
  } else {
    std::memset(m.nnz, 0, sizeof(m.nnz));
  }
  if (br.Overrun()) return -1;
  // Reconstruction.
  if (m.kind == kMbI4x4) ReconstructIntra4x4(addr);
  else if (m.kind == kMbI16) ReconstructIntra16(addr);
  else ReconstructInter(addr);
  ReconstructChroma(addr, intra, chroma_mode);
  return 0;
}

void Core::ReconstructIntra4x4(int addr) {
  const MbInfo& m = mbs_[size_t(addr)];
  const int w = mb_width_ * 16;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  uint8_t* base = cur_->plane[0] + (my * 16) * w + mx * 16;
  const bool av_a = IntraAvailable(addr, 0), av_b = IntraAvailable(addr, 1);
  const bool av_c = IntraAvailable(addr, 2), av_d = IntraAvailable(addr, 3);
  for (int blk = 0; blk < 16; ++blk) {
    const int bx = kBlockX[blk], by = kBlockY[blk];
    uint8_t* d = base + by * 4 * w + bx * 4;
    const bool left = bx > 0 || av_a;
    const bool top = by > 0 || av_b;
    bool tr;
    if (by == 0) tr = bx < 3 ? av_b : av_c;
    else tr = bx < 3 && kBlockIndexAt[by - 1][bx + 1] < blk;
    bool tl;
    if (bx > 0 && by > 0) tl = true;
    else if (bx == 0 && by == 0) tl = av_d;
    else if (bx == 0) tl = av_a;
    else tl = av_b;
    int t[8], l[4], c = 128;
    for (int i = 0; i < 4; ++i) {
      t[i] = top ? d[-w + i] : 128;
      l[i] = left ? d[i * w - 1] : 128;
    }
    for (int i = 4; i < 8; ++i) t[i] = tr ? d[-w + i] : t[3];
    if (tl) c = d[-w - 1];
    PredIntra4x4(d, w, m.intra_mode[blk], t, c, l, top, left);
    if (coded_mask_ & (1u << blk)) dsp_.idct4x4_add(d, w, coeff_ + blk * 16);
  }
}

void Core::ReconstructIntra16(int addr) {
  const int w = mb_width_ * 16;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  uint8_t* d = cur_->plane[0] + (my * 16) * w + mx * 16;
  const bool left = IntraAvailable(addr, 0), top = IntraAvailable(addr, 1);
  const bool tl = IntraAvailable(addr, 3);
  PredIntra16(d, w, mb_i16_mode_, top, left, tl);
  AddResidualPairs(d, w, coeff_, coded_mask_, 8);
}

// Blocks 2k and 2k + 1 lie side by side (luma in its 8x8 quadrants, chroma
// in its 4x4 blocks): with both coded they take one call for the pair.
void Core::AddResidualPairs(uint8_t* d, int stride, int16_t* coeff, uint32_t mask, int pairs) {
  for (int k = 0; k < pairs; ++k, mask >>= 2) {
    if ((mask & 3) == 0) continue;
    const int blk = 2 * k;
    uint8_t* at = pairs == 8 ? d + kBlockY[blk] * 4 * stride + kBlockX[blk] * 4 : d + k * 4 * stride;
    int16_t* c = coeff + blk * 16;
    if ((mask & 3) == 3) {
      dsp_.idct4x4_add2(at, stride, c);
    } else if (mask & 1) {
      dsp_.idct4x4_add(at, stride, c);
    } else {
      dsp_.idct4x4_add(at + 4, stride, c + 16);
    }
  }
}

void Core::ReconstructChroma(int addr, bool intra, int mode) {
  const int cw = mb_width_ * 8;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  bool left = false, top = false, tl = false;
  if (intra) {
    left = IntraAvailable(addr, 0);
    top = IntraAvailable(addr, 1);
    tl = IntraAvailable(addr, 3);
  }
  for (int comp = 0; comp < 2; ++comp) {
    uint8_t* d = cur_->plane[1 + comp] + (my * 8) * cw + mx * 8;
    if (intra) PredChroma(d, cw, mode, top, left, tl);
    AddResidualPairs(d, cw, coeff_ + 256 + comp * 64, (coded_mask_ >> (16 + comp * 4)) & 15, 2);
  }
}

void Core::ReconstructInter(int addr) {
  const MbInfo& m = mbs_[size_t(addr)];
  // Motion compensation per 8x8 quadrant, merged where the vectors agree.
  bool whole = true;
  for (int i = 1; i < 16 && whole; ++i)
    whole = m.mv[i][0] == m.mv[0][0] && m.mv[i][1] == m.mv[0][1];
  if (whole && m.ref_idx[1] == m.ref_idx[0] && m.ref_idx[2] == m.ref_idx[0] && m.ref_idx[3] == m.ref_idx[0]) {
    McPartition(addr, 0, 0, 4, 4);
  } else {
    bool same[4];
    for (int q = 0; q < 4; ++q) {
      const int b0 = q * 4;  // the quadrant's first block
      same[q] = true;
      for (int k = 1; k < 4; ++k)
        same[q] = same[q] && m.mv[b0 + k][0] == m.mv[b0][0] && m.mv[b0 + k][1] == m.mv[b0][1];
    }
    for (int q = 0; q < 4; ++q) {
      const int x8 = (q & 1) * 2, y8 = (q >> 1) * 2;
      // Two quadrants side by side with one vector and reference as one
      // 16-wide block, which the interpolation takes a whole row at a time.
      if ((q & 1) == 0 && same[q] && same[q + 1] && m.mv[q * 4][0] == m.mv[q * 4 + 4][0] &&
          m.mv[q * 4][1] == m.mv[q * 4 + 4][1] && m.ref_idx[q] == m.ref_idx[q + 1]) {
        McPartition(addr, 0, y8, 4, 2);
        ++q;
      } else if (same[q]) {
        McPartition(addr, x8, y8, 2, 2);
      } else {
        for (int k = 0; k < 4; ++k) McPartition(addr, x8 + (k & 1), y8 + (k >> 1), 1, 1);
      }
    }
  }
  const int w = mb_width_ * 16;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  uint8_t* d = cur_->plane[0] + (my * 16) * w + mx * 16;
  AddResidualPairs(d, w, coeff_, coded_mask_, 8);
}

// 8.4.2: prediction of the w4 x h4 (4x4 units) block at (x4, y4) of the
// macroblock from its vector and reference picture, luma and chroma.
void Core::McPartition(int addr, int x4, int y4, int w4, int h4) {
  const MbInfo& m = mbs_[size_t(addr)];
  const int blk = kBlockIndexAt[y4][x4];
  const int ref = m.ref_idx[(y4 >> 1) * 2 + (x4 >> 1)];
  const Picture* rp = (ref >= 0 && ref < ref_list_len_) ? ref_list_[ref] : nullptr;
  if (!rp) return;
  McBlock(*rp, addr, x4, y4, w4, h4, m.mv[blk][0], m.mv[blk][1]);
}

void Core::McBlock(const Picture& rp, int addr, int x4, int y4, int w4, int h4, int mvx, int mvy) {
  const int W = mb_width_ * 16, H = mb_height_ * 16;
  const int mx = addr % mb_width_, my = addr / mb_width_;
  const int bw = w4 * 4, bh = h4 * 4;
  const int px = mx * 16 + x4 * 4, py = my * 16 + y4 * 4;
  uint8_t* dst = cur_->plane[0] + py * W + px;
  {
    const int sx = px + (mvx >> 2), sy = py + (mvy >> 2);
    const uint8_t* ref = rp.plane[0];
    if (sx - 2 < 0 || sy - 2 < 0 || sx + bw + 3 > W || sy + bh + 3 > H) {
      uint8_t* e = edge_buf_.data();
      const int es = 24;
      CopyClamped(e, es, ref, W, H, sx - 2, sy - 2, bw + 5, bh + 5);
      dsp_.luma_mc(dst, W, e + 2 * es + 2, es, bw, bh, mvx & 3, mvy & 3);
    } else {
      dsp_.luma_mc(dst, W, ref + sy * W + sx, W, bw, bh, mvx & 3, mvy & 3);
    }
  }
  const int CW = W / 2, CH = H / 2;
  const int cbw = bw / 2, cbh = bh / 2;
  const int cx = px / 2 + (mvx >> 3), cy = py / 2 + (mvy >> 3);
  const size_t coff = size_t((py / 2) * CW + px / 2);
  if (cx >= 0 && cy >= 0 && cx + cbw + 1 <= CW && cy + cbh + 1 <= CH) {
    const size_t soff = size_t(cy * CW + cx);
    dsp_.chroma_mc2(cur_->plane[1] + coff, cur_->plane[2] + coff, CW, rp.plane[1] + soff, rp.plane[2] + soff, CW, cbw,
                    cbh, mvx & 7, mvy & 7);
    return;
  }
  for (int comp = 1; comp < 3; ++comp) {
    uint8_t* cd = cur_->plane[comp] + (py / 2) * CW + px / 2;
    const uint8_t* ref = rp.plane[comp];
    if (cx < 0 || cy < 0 || cx + cbw + 1 > CW || cy + cbh + 1 > CH) {
      uint8_t* e = edge_buf_.data() + 24 * 24;
      const int es = 24;
      CopyClamped(e, es, ref, CW, CH, cx, cy, cbw + 1, cbh + 1);
      dsp_.chroma_mc(cd, CW, e, es, cbw, cbh, mvx & 7, mvy & 7);
    } else {
      dsp_.chroma_mc(cd, CW, ref + cy * CW + cx, CW, cbw, cbh, mvx & 7, mvy & 7);
    }
  }
}

}  // namespace h264
}  // namespace videodec
