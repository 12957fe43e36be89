// Concealment of the macroblocks that the picture loops could not decode:
// temporal (copy or motion compensation from the reference with a vector
// taken from intact neighbours) or spatial (interpolation between the intact
// macroblocks above and below).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/mpeg4/mpeg4_state.h"

namespace videodec {
namespace {

// Largest neighbour vector component (half-pels) that temporal concealment
// trusts; beyond it the motion is too uncertain and spatial repair is used.
constexpr int kMaxConcealVector = 20;

bool Damaged(const Mpeg4MacroblockRecord& r) { return r.status == kMbDamaged || r.status == kMbDamagedDc; }

int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

struct Vec {
  int x, y;
};

bool InRange(Vec v) { return std::abs(v.x) <= kMaxConcealVector && std::abs(v.y) <= kMaxConcealVector; }

Vec BlockVector(const Mpeg4MacroblockRecord& r, int block) { return {r.mv[block * 2], r.mv[block * 2 + 1]}; }

void FillVector(Mpeg4MacroblockRecord& r, Vec v) {
  for (int k = 0; k < 4; ++k) {
    r.mv[k * 2] = static_cast<int16_t>(v.x);
    r.mv[k * 2 + 1] = static_cast<int16_t>(v.y);
  }
}

// Interpolates a w x h block of one plane between the row above it and the
// row below it (either may be missing).
void InterpolatePlane(uint8_t* plane, int stride, int x, int y, int w, int h, bool above, bool below) {
  uint8_t* top = above ? plane + (y - 1) * stride + x : nullptr;
  uint8_t* bottom = below ? plane + (y + h) * stride + x : nullptr;
  for (int j = 0; j < h; ++j) {
    uint8_t* row = plane + (y + j) * stride + x;
    for (int i = 0; i < w; ++i) {
      int v;
      if (top && bottom) v = (top[i] * (h - j) + bottom[i] * (j + 1) + (h + 1) / 2) / (h + 1);
      else v = top ? top[i] : bottom[i];
      row[i] = static_cast<uint8_t>(v);
    }
  }
}

void CopyFromAbove(uint8_t* plane, int stride, int x, int y, int w, int h) {
  if (y < h) return;  // top row: nothing above, the buffer keeps its content
  for (int j = 0; j < h; ++j) std::memcpy(plane + (y + j) * stride + x, plane + (y - h + j) * stride + x, static_cast<size_t>(w));
}

void ConcealSpatial(Mpeg4Decoder& d, int x, int y, bool above, bool below) {
  DecodedPicture& p = d.cur_pic();
  const int w = p.width, cw = w / 2;
  if (above || below) {
    InterpolatePlane(p.y, w, x, y, 16, 16, above, below);
    InterpolatePlane(p.u, cw, x / 2, y / 2, 8, 8, above, below);
    InterpolatePlane(p.v, cw, x / 2, y / 2, 8, 8, above, below);
  } else {
    CopyFromAbove(p.y, w, x, y, 16, 16);
    CopyFromAbove(p.u, cw, x / 2, y / 2, 8, 8);
    CopyFromAbove(p.v, cw, x / 2, y / 2, 8, 8);
  }
}

}  // namespace

void ConcealMpeg4Macroblocks(Mpeg4Decoder& d, int x, int y, uint32_t mb) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  Mpeg4MacroblockRecord& r = recs[mb];
  const int col = static_cast<int>(mb % d.mb_cols), row = static_cast<int>(mb / d.mb_cols);
  const int cols = static_cast<int>(d.mb_cols), rows = static_cast<int>(d.mb_rows);
  auto intact = [&](int dc, int dr) -> const Mpeg4MacroblockRecord* {
    const int c = col + dc, rr = row + dr;
    if (c < 0 || rr < 0 || c >= cols || rr >= rows) return nullptr;
    const Mpeg4MacroblockRecord* n = &recs[rr * cols + c];
    return Damaged(*n) ? nullptr : n;
  };
  const Mpeg4MacroblockRecord* ul = intact(-1, -1);
  const Mpeg4MacroblockRecord* up = intact(0, -1);
  const Mpeg4MacroblockRecord* ur = intact(1, -1);
  const Mpeg4MacroblockRecord* ll = intact(-1, 1);
  const Mpeg4MacroblockRecord* dn = intact(0, 1);
  const Mpeg4MacroblockRecord* lr = intact(1, 1);
  const bool any = ul || up || ur || ll || dn || lr;
  const Mpeg4MacroblockRecord& colocated = d.ref_records()[mb];
  const bool has_reference = d.vop.reference_state != kRefDecodingFirstI && d.vop.reference_state != kRefNone;

  if (d.vop.coding_type == 0) {
    if (!has_reference) {
      ConcealSpatial(d, x, y, up != nullptr, dn != nullptr);
      return;
    }
    // An I-VOP after a reference: the co-located reference macroblock.
    if (Damaged(colocated) || colocated.type == kMbIntra) {
      FillVector(r, {0, 0});
      Mpeg4CopyMacroblock(d, mb);
    } else {
      FillVector(r, BlockVector(colocated, 0));
      Mpeg4PredictMacroblock(d, mb);
    }
    return;
  }
  if (!any) {
    if (!Damaged(colocated) && colocated.type != kMbIntra && d.vop.reference_state != kRefIsI) {
      FillVector(r, BlockVector(colocated, 0));
      Mpeg4PredictMacroblock(d, mb);
    } else {
      FillVector(r, {0, 0});
      Mpeg4CopyMacroblock(d, mb);
    }
    return;
  }
  // Vector from the neighbours: the blocks nearest to this macroblock.
  Vec v{0, 0};
  bool ok = true;
  auto take = [&](const Mpeg4MacroblockRecord* n, int block) {
    const Vec b = BlockVector(*n, block);
    if (!InRange(b)) ok = false;
    return b;
  };
  if (up && dn) {
    const Vec a = take(up, 2), b = take(dn, 1);
    v = {(a.x + b.x) >> 1, (a.y + b.y) >> 1};
  } else if (up) {
    v = take(up, 2);
    if (ul && ur) {
      const Vec a = take(ul, 3), b = take(ur, 2);
      v = {Median(v.x, a.x, b.x), Median(v.y, a.y, b.y)};
    }
  } else if (dn) {
    v = take(dn, 1);
    if (ll && lr) {
      const Vec a = take(ll, 1), b = take(lr, 0);
      v = {Median(v.x, a.x, b.x), Median(v.y, a.y, b.y)};
    }
  } else if (ul) {
    v = take(ul, 3);
  } else if (lr) {
    v = take(lr, 0);
  } else if (ur) {
    v = take(ur, 2);
  } else {
    v = take(ll, 1);
  }
  if (!ok) {
    ConcealSpatial(d, x, y, up != nullptr, dn != nullptr);
    return;
  }
  FillVector(r, v);
  Mpeg4PredictMacroblock(d, mb);
}

void Mpeg4ConcealPicture(Mpeg4Decoder& d, bool with_dc) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t mb = 0; mb < d.mb_count; ++mb) {
    Mpeg4MacroblockRecord& r = recs[mb];
    if (r.status != kMbDamaged && !(with_dc && r.status == kMbDamagedDc)) continue;
    r.quant = 20;
    const int x = static_cast<int>(mb % d.mb_cols) * 16, y = static_cast<int>(mb / d.mb_cols) * 16;
    const uint8_t type = r.type;
    r.type = kMbInter;  // predicted with one vector
    ConcealMpeg4Macroblocks(d, x, y, mb);
    r.type = type == kMbIntra ? kMbIntra : kMbInter;
  }
}

}  // namespace videodec
