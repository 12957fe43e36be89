// Concealment of the macroblocks that the picture loops could not decode:
// temporal (a copy or motion compensation from the reference with a vector
// taken from intact neighbours) or spatial (interpolation of the lowest
// frequencies of the neighbouring blocks in the transform domain).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/common/idct.h"
#include "codecs/videodec/common/motion.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"

namespace videodec {
namespace {

// Largest neighbour vector component (half-pels) that temporal concealment
// trusts; beyond it the motion is too uncertain and spatial repair is used.
constexpr int kMaxConcealVector = 20;

bool Damaged(const Mpeg4MacroblockRecord& r) { return r.status == kMbDamaged || r.status == kMbDamagedDc; }

struct Vec {
  int x, y;
};

Vec BlockVector(const Mpeg4MacroblockRecord& r, int block) { return {r.mv[block * 2], r.mv[block * 2 + 1]}; }

void FillVector(Mpeg4MacroblockRecord& r, Vec v) {
  for (int k = 0; k < 4; ++k) {
    r.mv[k * 2] = static_cast<int16_t>(v.x);
    r.mv[k * 2 + 1] = static_cast<int16_t>(v.y);
  }
}

Vec MedianVec(Vec a, Vec b, Vec c) { return {Median3(a.x, b.x, c.x), Median3(a.y, b.y, c.y)}; }

// The intact neighbours of a damaged macroblock (null: outside the picture
// or damaged). The macroblocks directly left and right are not consulted.
struct Around {
  const Mpeg4MacroblockRecord *ul, *up, *ur, *ll, *dn, *lr;
  bool any() const { return ul || up || ur || ll || dn || lr; }
};

// Spatial repair of one 8x8 block: coefficients 0, 1 and 8 are the mean of
// those of the sources (two: sum >> 1; three: sum / 3 toward zero).
void BuildBlock(const int16_t (*src)[64], int n, int16_t* out) {
  std::memset(out, 0, 64 * sizeof(int16_t));
  for (int k : {0, 1, 8}) {
    int sum = 0;
    for (int i = 0; i < n; ++i) sum += src[i][k];
    out[k] = static_cast<int16_t>(n == 3 ? sum / 3 : n == 2 ? sum >> 1 : sum);
  }
}

void Forward(const uint8_t* plane, int stride, int x, int y, int16_t* coeffs) {
  std::memset(coeffs, 0, 64 * sizeof(int16_t));
  ForwardDctLowFrequency(plane + y * stride + x, stride, coeffs);
}

// Forward transform of a chroma source: four rows next to the damaged block,
// each row repeated to fill eight.
void ForwardRows(const uint8_t* plane, int stride, int x, int first_row, int16_t* coeffs) {
  uint8_t rows[64];
  for (int j = 0; j < 8; ++j) std::memcpy(rows + j * 8, plane + (first_row + j / 2) * stride + x, 8);
  std::memset(coeffs, 0, 64 * sizeof(int16_t));
  ForwardDctLowFrequency(rows, 8, coeffs);
}

void CopyFromAbove(uint8_t* plane, int stride, int x, int y, int size) {
  if (y < size) return;  // top row: nothing above, the buffer keeps its content
  for (int j = 0; j < size; ++j) {
    std::memcpy(plane + (y + j) * stride + x, plane + (y - size + j) * stride + x, static_cast<size_t>(size));
  }
}

void ConcealSpatial(Mpeg4Decoder& d, int x, int y, const Around& a) {
  DecodedPicture& p = d.cur_pic();
  const int w = p.width, cw = w / 2;
  int16_t src[3][64];
  int16_t built[4][64];
  if (a.up || a.dn) {
    // Luma: the upper blocks from the blocks above, the lower from below.
    auto side = [&](bool upper, int block) {
      const int by = upper ? y - 8 : y + 16;
      Forward(p.y, w, x, by, src[0]);
      Forward(p.y, w, x + 8, by, src[1]);
      int n = 2;
      const Mpeg4MacroblockRecord* diag = (block & 1) ? (upper ? a.ur : a.lr) : (upper ? a.ul : a.ll);
      if (diag) Forward(p.y, w, (block & 1) ? x + 16 : x - 8, by, src[n++]);
      BuildBlock(src, n, built[block]);
    };
    for (int b = 0; b < 4; ++b) {
      const bool upper = b < 2;
      if (upper ? a.up : a.dn) side(upper, b);
    }
    // A missing side gets flat blocks: the DC built for the same column.
    for (int b = 0; b < 4; ++b) {
      const bool upper = b < 2;
      if (upper ? a.up : a.dn) continue;
      std::memset(built[b], 0, sizeof(built[b]));
      built[b][0] = built[b ^ 2][0];
    }
    for (int b = 0; b < 4; ++b) {
      InverseDctLowFrequency(built[b], p.y + (y + (b >> 1) * 8) * w + x + (b & 1) * 8, w);
    }
    // Chroma: the four rows of the neighbouring blocks nearest to this one.
    for (uint8_t* plane : {p.u, p.v}) {
      const int px = x / 2, py = y / 2;
      int n = 0;
      int16_t csrc[6][64];
      if (a.up) ForwardRows(plane, cw, px, py - 4, csrc[n++]);
      if (a.dn) ForwardRows(plane, cw, px, py + 8, csrc[n++]);
      if (a.ul) ForwardRows(plane, cw, px - 8, py - 4, csrc[n++]);
      if (a.ur) ForwardRows(plane, cw, px + 8, py - 4, csrc[n++]);
      if (a.ll) ForwardRows(plane, cw, px - 8, py + 8, csrc[n++]);
      if (a.lr) ForwardRows(plane, cw, px + 8, py + 8, csrc[n++]);
      int16_t out[64] = {};
      for (int k : {0, 1, 8}) {
        int sum = 0;
        for (int i = 0; i < n; ++i) sum += csrc[i][k];
        out[k] = static_cast<int16_t>(n ? sum / n : 0);
      }
      InverseDctLowFrequency(out, plane + py * cw + px, cw);
    }
  } else {
    CopyFromAbove(p.y, w, x, y, 16);
    CopyFromAbove(p.u, cw, x / 2, y / 2, 8);
    CopyFromAbove(p.v, cw, x / 2, y / 2, 8);
  }
}

int StripSum(const uint8_t* plane, int stride, int x, int y) {
  int sum = 0;
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) sum += plane[(y + j) * stride + x + i];
  }
  return sum;
}

// Scene test of I-VOPs: do the strips above and below still agree with the
// DC values of their macroblocks less than those macroblocks agree with each
// other?
bool SceneChanged(Mpeg4Decoder& d, int x, int y, const Mpeg4MacroblockRecord& up, const Mpeg4MacroblockRecord& dn) {
  const DecodedPicture& p = d.cur_pic();
  const int w = p.width, cw = w / 2;
  const int dl = std::abs(StripSum(p.y, w, x, y - 8) / 8 - up.dc[2]) + std::abs(StripSum(p.y, w, x + 8, y - 8) / 8 - up.dc[3]) +
                 std::abs(StripSum(p.y, w, x, y + 16) / 8 - dn.dc[0]) +
                 std::abs(StripSum(p.y, w, x + 8, y + 16) / 8 - dn.dc[1]);
  const int vl = std::abs(dn.dc[1] - up.dc[3]) + std::abs(dn.dc[0] - up.dc[2]);
  if ((dl >> 1) - 100 > vl) return true;
  int dc = 0;
  for (int k = 0; k < 2; ++k) {
    const uint8_t* plane = k ? p.v : p.u;
    dc += std::abs(StripSum(plane, cw, x / 2, y / 2 - 8) / 8 - up.dc[4 + k]) +
          std::abs(StripSum(plane, cw, x / 2, y / 2 + 8) / 8 - dn.dc[4 + k]);
  }
  const int vc = std::abs(dn.dc[4] - up.dc[4]) + std::abs(dn.dc[5] - up.dc[5]);
  return (dc >> 1) - 100 > vc;
}

void Temporal(Mpeg4Decoder& d, uint32_t mb, Vec v) {
  FillVector(d.cur_records()[mb], v);
  Mpeg4PredictMacroblock(d, mb);
}

void Copy(Mpeg4Decoder& d, uint32_t mb) {
  FillVector(d.cur_records()[mb], {0, 0});
  Mpeg4CopyMacroblock(d, mb);
}

}  // namespace

void ConcealMpeg4Macroblocks(Mpeg4Decoder& d, int x, int y, uint32_t mb) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  const int col = static_cast<int>(mb % d.mb_cols), row = static_cast<int>(mb / d.mb_cols);
  const int cols = static_cast<int>(d.mb_cols), rows = static_cast<int>(d.mb_rows);
  auto intact = [&](int dc, int dr) -> const Mpeg4MacroblockRecord* {
    const int c = col + dc, rr = row + dr;
    if (c < 0 || rr < 0 || c >= cols || rr >= rows) return nullptr;
    const Mpeg4MacroblockRecord* n = &recs[rr * cols + c];
    return Damaged(*n) ? nullptr : n;
  };
  const Around a{intact(-1, -1), intact(0, -1), intact(1, -1), intact(-1, 1), intact(0, 1), intact(1, 1)};
  const Mpeg4MacroblockRecord& colocated = d.ref_records()[mb];
  const uint8_t state = d.vop.reference_state;

  if (d.vop.coding_type == 0) {
    if (state == kRefDecodingFirstI || state == kRefNone) {
      ConcealSpatial(d, x, y, a);
    } else if (a.up && a.dn && SceneChanged(d, x, y, *a.up, *a.dn)) {
      ConcealSpatial(d, x, y, a);
    } else if (Damaged(colocated)) {
      Copy(d, mb);
    } else {
      Temporal(d, mb, BlockVector(colocated, 0));
    }
    return;
  }

  // Every neighbour vector taken must be trusted, else the repair is spatial.
  bool trusted = true;
  auto take = [&](const Mpeg4MacroblockRecord* n, int block) {
    const Vec v = BlockVector(*n, block);
    if (std::abs(v.x) > kMaxConcealVector || std::abs(v.y) > kMaxConcealVector) trusted = false;
    return v;
  };
  // The vector from the neighbours alone.
  auto from_neighbours = [&]() -> Vec {
    if (a.up && a.dn) {
      const Vec u = take(a.up, 2), b = take(a.dn, 1);
      return {(u.x + b.x) >> 1, (u.y + b.y) >> 1};
    }
    if (a.up) {
      const Vec u = take(a.up, 2);
      if (a.ul && a.ur) return MedianVec(u, take(a.ul, 3), take(a.ur, 2));
      return u;
    }
    if (a.dn) {
      const Vec b = take(a.dn, 1);
      if (a.ll && a.lr) return MedianVec(b, take(a.ll, 1), take(a.lr, 0));
      return b;
    }
    if (a.ul) return take(a.ul, 3);
    if (a.lr) return take(a.lr, 0);
    if (a.ur) return take(a.ur, 2);
    return take(a.ll, 1);
  };

  Vec v{0, 0};
  if (state != kRefIsI && colocated.type != kMbIntra) {
    if (!a.any()) {
      if (Damaged(colocated)) Copy(d, mb);
      else Temporal(d, mb, BlockVector(colocated, 0));
      return;
    }
    if (!Damaged(colocated)) {
      const Vec c = BlockVector(colocated, 0);
      if (a.up && a.dn) {
        v = MedianVec(take(a.up, 2), take(a.dn, 1), c);
      } else if (a.up) {
        const Mpeg4MacroblockRecord* third = a.ul ? a.ul : a.ur;
        v = third ? MedianVec(take(a.up, 2), c, take(third, a.ul ? 3 : 2)) : take(a.up, 2);
      } else if (a.dn) {
        const Mpeg4MacroblockRecord* third = a.ll ? a.ll : a.lr;
        v = third ? MedianVec(take(a.dn, 1), c, take(third, a.ll ? 1 : 0)) : take(a.dn, 1);
      } else {
        v = c;
      }
    } else {
      v = from_neighbours();
    }
  } else {
    if (!a.any()) {
      Copy(d, mb);
      return;
    }
    v = from_neighbours();
  }
  if (!trusted) {
    ConcealSpatial(d, x, y, a);
    return;
  }
  Temporal(d, mb, v);
}

void Mpeg4ConcealPicture(Mpeg4Decoder& d, bool with_dc) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t mb = 0; mb < d.mb_count; ++mb) {
    Mpeg4MacroblockRecord& r = recs[mb];
    if (r.status != kMbDamaged && !(with_dc && r.status == kMbDamagedDc)) continue;
    r.quant = 20;
    const int x = static_cast<int>(mb % d.mb_cols) * 16, y = static_cast<int>(mb / d.mb_cols) * 16;
    // Repaired with one vector; an intra record stays intra for the
    // prediction of later pictures' concealment.
    const uint8_t type = r.type;
    r.type = kMbInter;
    ConcealMpeg4Macroblocks(d, x, y, mb);
    r.type = type == kMbIntra ? kMbIntra : kMbInter;
  }
}

}  // namespace videodec
