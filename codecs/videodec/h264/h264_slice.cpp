// Slice data, macroblock layer, CAVLC residuals (ITU-T H.264 7.3.4, 7.3.5,
// 9.2), motion vector prediction (8.4.1), intra prediction (8.3) and the
// reconstruction of each macroblock.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/h264/h264_core.h"
#include "codecs/videodec/h264/h264_tables.h"
#include "codecs/videodec/h264/h264_vlc.h"

namespace videodec {
namespace h264 {
namespace {

inline int Median(int a, int b, int c) {
  int mx = a > b ? a : b;
  int mn = a < b ? a : b;
  return c > mx ? mx : (c < mn ? mn : c);
}

}  // namespace

bool Core::MbAvailable(int mb_addr, int n) const {
  const int mx = mb_addr % mb_width_, my = mb_addr / mb_width_;
  int nx = mx, ny = my;
  switch (n) {
    case 0: nx = mx - 1; break;                  // A
    case 1: ny = my - 1; break;                  // B
    case 2: nx = mx + 1; ny = my - 1; break;     // C
    default: nx = mx - 1; ny = my - 1; break;    // D
  }
  if (nx < 0 || ny < 0 || nx >= mb_width_) return false;
  return mbs_[size_t(ny * mb_width_ + nx)].slice == mbs_[size_t(mb_addr)].slice;
}

// Motion data of the 4x4 block at (bx, by) relative to the current macroblock
// (8.4.1.3.2). avail is false when the partition does not exist or is not
// decoded yet; intra partitions are available with ref -1.
void Core::NeighbourMotion(int mb_addr, int bx, int by, int& ref, int16_t mv[2], bool& avail) const {
  ref = -1;
  mv[0] = mv[1] = 0;
  avail = false;
  int nmb = mb_addr;
  if (bx >= 0 && bx < 4 && by >= 0) {
    if (!(filled_ & (1u << kBlockIndexAt[by][bx]))) return;
  } else {
    int n;
    if (by < 0) n = bx < 0 ? 3 : (bx > 3 ? 2 : 1);
    else if (bx < 0) n = 0;
    else return;  // right of the macroblock: not decoded yet
    if (!MbAvailable(mb_addr, n)) return;
    const int dx = n == 0 || n == 3 ? -1 : (n == 2 ? 1 : 0);
    const int dy = n == 0 ? 0 : -1;
    nmb = mb_addr + dy * mb_width_ + dx;
    bx &= 3;
    by &= 3;
  }
  avail = true;
  const MbInfo& m = mbs_[size_t(nmb)];
  const int blk = kBlockIndexAt[by][bx];
  const int r = m.ref_idx[(by >> 1) * 2 + (bx >> 1)];
  if (r < 0) return;
  ref = r;
  mv[0] = m.mv[blk][0];
  mv[1] = m.mv[blk][1];
}

// 8.4.1.3: shape 0 plain median, 1 16x8, 2 8x16. Neighbours match by
// reference index (refIdxL0), as the clause says, not by the picture the
// index names: after list reordering one picture can sit at two indices, and
// a decoder that compares pictures predicts other vectors than the encoder.
void Core::PredictMv(int mb_addr, int bx, int by, int bw, int ref, int shape, int16_t mv[2]) const {
  int ra, rb, rc;
  int16_t ma[2], mb[2], mc[2];
  bool aa, ab, ac;
  NeighbourMotion(mb_addr, bx - 1, by, ra, ma, aa);
  NeighbourMotion(mb_addr, bx, by - 1, rb, mb, ab);
  NeighbourMotion(mb_addr, bx + bw, by - 1, rc, mc, ac);
  if (!ac) NeighbourMotion(mb_addr, bx - 1, by - 1, rc, mc, ac);
  if (!ab && !ac && aa) {
    rb = rc = ra;
    mb[0] = mc[0] = ma[0];
    mb[1] = mc[1] = ma[1];
  }
  if (shape == 1) {
    if (by == 0 && rb == ref) { mv[0] = mb[0]; mv[1] = mb[1]; return; }
    if (by != 0 && ra == ref) { mv[0] = ma[0]; mv[1] = ma[1]; return; }
  } else if (shape == 2) {
    if (bx == 0 && ra == ref) { mv[0] = ma[0]; mv[1] = ma[1]; return; }
    if (bx != 0 && rc == ref) { mv[0] = mc[0]; mv[1] = mc[1]; return; }
  }
  const int matches = (ra == ref) + (rb == ref) + (rc == ref);
  if (matches == 1) {
    const int16_t* m = ra == ref ? ma : (rb == ref ? mb : mc);
    mv[0] = m[0];
    mv[1] = m[1];
    return;
  }
  mv[0] = int16_t(Median(ma[0], mb[0], mc[0]));
  mv[1] = int16_t(Median(ma[1], mb[1], mc[1]));
}

// nC of a block (9.2.1) from the TotalCoeff of its left and upper
// neighbours; `left` and `top` are the neighbouring macroblocks, null when
// not available.
int Core::LumaNc(const MbInfo& m, const MbInfo* left, const MbInfo* top, int blk) const {
  const int bx = kBlockX[blk], by = kBlockY[blk];
  int na = -1, nb = -1;
  if (bx > 0) na = m.nnz[kBlockIndexAt[by][bx - 1]];
  else if (left) na = left->nnz[kBlockIndexAt[by][3]];
  if (by > 0) nb = m.nnz[kBlockIndexAt[by - 1][bx]];
  else if (top) nb = top->nnz[kBlockIndexAt[3][bx]];
  if (na >= 0 && nb >= 0) return (na + nb + 1) >> 1;
  if (na >= 0) return na;
  if (nb >= 0) return nb;
  return 0;
}

int Core::ChromaNc(const MbInfo& m, const MbInfo* left, const MbInfo* top, int comp, int blk) const {
  const int bx = blk & 1, by = blk >> 1;
  const int base = 16 + comp * 4;
  int na = -1, nb = -1;
  if (bx > 0) na = m.nnz[base + by * 2];
  else if (left) na = left->nnz[base + by * 2 + 1];
  if (by > 0) nb = m.nnz[base + bx];
  else if (top) nb = top->nnz[base + 2 + bx];
  if (na >= 0 && nb >= 0) return (na + nb + 1) >> 1;
  if (na >= 0) return na;
  if (nb >= 0) return nb;
  return 0;
}

// 9.2: one residual block. Returns TotalCoeff (or -1 on a bad code) and
// leaves each nonzero level in level[i] with its scan position (counted from
// the block's first coefficient) in pos[i], highest frequency first.
int Core::ReadBlock(BitReader& br, int nc, int max_coeff, int* level, uint8_t* pos) {
  const CavlcTables& t = GetCavlcTables();
  int cls;
  if (nc == -1) cls = 4;
  else if (nc < 2) cls = 0;
  else if (nc < 4) cls = 1;
  else if (nc < 8) cls = 2;
  else cls = 3;
  const int tok = ReadVlc(t.coeff_token[cls], br);
  if (tok < 0) return -1;
  const int total = tok >> 2, ones = tok & 3;
  if (total == 0) return 0;
  if (total > max_coeff) return -1;
  if (ones > 0) {
    // trailing_ones_sign_flag of each trailing one, first in the stream first.
    const uint32_t signs = br.Read(ones);
    for (int i = 0; i < ones; ++i) level[i] = 1 - 2 * int((signs >> (ones - 1 - i)) & 1);
  }
  int suffix_len = (total > 10 && ones < 3) ? 1 : 0;
  for (int i = ones; i < total; ++i) {
    // level_prefix: leading zero bits before a one (9.2.2.1).
    const uint32_t peek = br.Show(32);
    if (peek == 0) return -1;
    const int prefix = __builtin_clz(peek);
    int code = (prefix < 15 ? prefix : 15) << suffix_len;
    int suffix_size = suffix_len;
    if (prefix == 14 && suffix_len == 0) suffix_size = 4;
    if (prefix >= 15) suffix_size = prefix - 3;
    if (prefix < 15) {
      // Prefix and suffix (at most 15 + 6 bits) are both in the bits shown.
      // (Shifted by 1, then 31 - suffix_size: no branch, and 0 for no suffix.)
      code += int(((peek << (prefix + 1)) >> 1) >> (31 - suffix_size));
      br.Skip(prefix + 1 + suffix_size);
    } else {
      br.Skip(prefix + 1);
      if (suffix_size > 24) return -1;
      code += int(br.Read(suffix_size));
      if (suffix_len == 0) code += 15;
      if (prefix >= 16) code += (1 << (prefix - 3)) - 4096;
    }
    if (i == ones && ones < 3) code += 2;
    // Even codes are positive levels, odd ones negative, of magnitude
    // (code + 2) >> 1 either way; the sign applied without a branch, as it
    // is a coin toss from level to level.
    const int magnitude = (code + 2) >> 1;
    const int negative = -(code & 1);
    const int lv = (magnitude ^ negative) - negative;
    // Levels of 8-bit video fit in 16 bits (clause 7.4.5.3.2 bounds).
    if (lv > 32767 || lv < -32768) return -1;
    level[i] = lv;
    suffix_len += suffix_len == 0;
    suffix_len += int(magnitude > (3 << (suffix_len - 1))) & int(suffix_len < 6);
  }
  int zeros = 0;
  if (total < max_coeff) {
    zeros = ReadVlc(max_coeff == 4 ? t.total_zeros_dc[total - 1] : t.total_zeros[total - 1], br);
    if (zeros < 0 || zeros + total > max_coeff) return -1;
  }
  int at = total + zeros - 1;
  for (int i = 0; i < total; ++i) {
    pos[i] = uint8_t(at);
    if (zeros > 0 && i < total - 1) {
      const int run = ReadVlc(t.run_before[(zeros < 7 ? zeros : 7) - 1], br);
      if (run < 0 || run > zeros) return -1;
      zeros -= run;
      at -= run;
    }
    --at;
  }
  return br.Overrun() ? -1 : total;
}

// 7.3.5.3: residual(); dequantises into coeff_ and the DC arrays.
int Core::ReadResidual(BitReader& br, int mb_addr, int cbp, bool i16) {
  MbInfo& m = mbs_[size_t(mb_addr)];
  const MbInfo* left = MbAvailable(mb_addr, 0) ? &mbs_[size_t(mb_addr - 1)] : nullptr;
  const MbInfo* top = MbAvailable(mb_addr, 1) ? &mbs_[size_t(mb_addr - mb_width_)] : nullptr;
  const int qp = m.qp_raw;
  const int qp6 = qp / 6, qpm = qp % 6;
  int lv[16];
  uint8_t at[16];
  coded_mask_ = 0;
  if (i16) {
    const int n = ReadBlock(br, LumaNc(m, left, top, 0), 16, lv, at);
    if (n < 0) return -1;
    int c[16] = {};
    for (int i = 0; i < n; ++i) c[kZigzag4x4[at[i]]] = lv[i];
    // 8.5.10: inverse Hadamard and scaling of the luma DC.
    int f[16];
    for (int i = 0; i < 4; ++i) {
      const int* r = c + i * 4;
      const int a = r[0] + r[1], b = r[0] - r[1], d = r[2] + r[3], e = r[2] - r[3];
      f[i * 4 + 0] = a + d;
      f[i * 4 + 1] = a - d;
      f[i * 4 + 2] = b - e;
      f[i * 4 + 3] = b + e;
    }
    const int scale = 16 * kDequantScale[qpm][0];
    for (int j = 0; j < 4; ++j) {
      const int a = f[j] + f[4 + j], b = f[j] - f[4 + j], d = f[8 + j] + f[12 + j], e = f[8 + j] - f[12 + j];
      const int col[4] = {a + d, a - d, b - e, b + e};
      for (int i = 0; i < 4; ++i) {
        int64_t v;
        if (qp >= 36) v = (int64_t(col[i]) * scale) << (qp6 - 6);
        else v = (int64_t(col[i]) * scale + (1 << (5 - qp6))) >> (6 - qp6);
        const int blk = kBlockIndexAt[i][j];
        coeff_[blk * 16] = int16_t(v);
        if (v) coded_mask_ |= 1u << blk;
      }
    }
  }
  const int first = i16 ? 1 : 0;  // Intra16x16 AC blocks start at scan position 1
  for (int b8 = 0; b8 < 4; ++b8) {
    for (int b4 = 0; b4 < 4; ++b4) {
      const int blk = b8 * 4 + b4;
      if (!(cbp & (1 << b8))) {
        m.nnz[blk] = 0;
        continue;
      }
      const int n = ReadBlock(br, LumaNc(m, left, top, blk), 16 - first, lv, at);
      if (n < 0) return -1;
      m.nnz[blk] = uint8_t(n);
      if (n) {
        coded_mask_ |= 1u << blk;
        int16_t* out = coeff_ + blk * 16;
        for (int i = 0; i < n; ++i) {
          const int p = kZigzag4x4[at[i] + first];
          out[p] = int16_t((lv[i] * kDequantScale[qpm][kDequantClass[p]]) << qp6);
        }
      }
    }
  }
  // Chroma.
  const int qpc = kChromaQp[std::min(51, std::max(0, qp + chroma_qp_offset_))];
  const int qpc6 = qpc / 6, qpcm = qpc % 6;
  for (int i = 16; i < 24; ++i) m.nnz[i] = 0;
  if (cbp & 0x30) {
    for (int comp = 0; comp < 2; ++comp) {
      const int n = ReadBlock(br, -1, 4, lv, at);
      if (n < 0) return -1;
      int dc[4] = {};
      for (int i = 0; i < n; ++i) dc[at[i]] = lv[i];
      // 8.5.11: 2x2 inverse transform and scaling of the chroma DC.
      const int f0 = dc[0] + dc[1] + dc[2] + dc[3];
      const int f1 = dc[0] - dc[1] + dc[2] - dc[3];
      const int f2 = dc[0] + dc[1] - dc[2] - dc[3];
      const int f3 = dc[0] - dc[1] - dc[2] + dc[3];
      const int f[4] = {f0, f1, f2, f3};
      const int scale = 16 * kDequantScale[qpcm][0];
      for (int i = 0; i < 4; ++i) {
        const int64_t v = ((int64_t(f[i]) * scale) << qpc6) >> 5;
        coeff_[256 + (comp * 4 + i) * 16] = int16_t(v);
        if (v) coded_mask_ |= 1u << (16 + comp * 4 + i);
      }
    }
  }
  if (cbp & 0x20) {
    for (int comp = 0; comp < 2; ++comp) {
      for (int b = 0; b < 4; ++b) {
        const int n = ReadBlock(br, ChromaNc(m, left, top, comp, b), 15, lv, at);
        if (n < 0) return -1;
        m.nnz[16 + comp * 4 + b] = uint8_t(n);
        if (!n) continue;
        int16_t* out = coeff_ + 256 + (comp * 4 + b) * 16;
        coded_mask_ |= 1u << (16 + comp * 4 + b);
        for (int i = 0; i < n; ++i) {
          const int p = kZigzag4x4[at[i] + 1];
          out[p] = int16_t((lv[i] * kDequantScale[qpcm][kDequantClass[p]]) << qpc6);
        }
      }
    }
  }
  return br.Overrun() ? -1 : 0;
}

}  // namespace h264
}  // namespace videodec
