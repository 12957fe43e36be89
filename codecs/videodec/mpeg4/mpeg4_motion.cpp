// Motion vector prediction and reconstruction (ISO/IEC 14496-2 7.6.5, 7.6.3)
// and half-sample motion compensation with unrestricted vectors (7.6.2).
#include <algorithm>
#include <cstring>

#include "codecs/videodec/mpeg4/mpeg4_state.h"

namespace videodec {
namespace {

int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Half-sample prediction of a w x h block at integer position (x, y) with the
// half flags hx, hy and rounding control rc; positions outside the plane take
// the nearest border sample.
void PredictBlock(uint8_t* dst, int dst_stride, const uint8_t* ref, int ref_stride, int plane_w, int plane_h,
                  int x, int y, int hx, int hy, int w, int h, int rc) {
  const uint8_t* src;
  int src_stride;
  uint8_t edge[17 * 17];
  if (x >= 0 && y >= 0 && x + w + hx <= plane_w && y + h + hy <= plane_h) {
    src = ref + y * ref_stride + x;
    src_stride = ref_stride;
  } else {
    for (int j = 0; j < h + 1; ++j) {
      const int sy = std::clamp(y + j, 0, plane_h - 1);
      for (int i = 0; i < w + 1; ++i) {
        const int sx = std::clamp(x + i, 0, plane_w - 1);
        edge[j * 17 + i] = ref[sy * ref_stride + sx];
      }
    }
    src = edge;
    src_stride = 17;
  }
  if (!hx && !hy) {
    for (int j = 0; j < h; ++j) std::memcpy(dst + j * dst_stride, src + j * src_stride, static_cast<size_t>(w));
  } else if (hx && !hy) {
    for (int j = 0; j < h; ++j) {
      const uint8_t* s = src + j * src_stride;
      uint8_t* o = dst + j * dst_stride;
      for (int i = 0; i < w; ++i) o[i] = static_cast<uint8_t>((s[i] + s[i + 1] + 1 - rc) >> 1);
    }
  } else if (!hx && hy) {
    for (int j = 0; j < h; ++j) {
      const uint8_t* s = src + j * src_stride;
      uint8_t* o = dst + j * dst_stride;
      for (int i = 0; i < w; ++i) o[i] = static_cast<uint8_t>((s[i] + s[i + src_stride] + 1 - rc) >> 1);
    }
  } else {
    for (int j = 0; j < h; ++j) {
      const uint8_t* s = src + j * src_stride;
      uint8_t* o = dst + j * dst_stride;
      for (int i = 0; i < w; ++i) {
        o[i] = static_cast<uint8_t>((s[i] + s[i + 1] + s[i + src_stride] + s[i + src_stride + 1] + 2 - rc) >> 2);
      }
    }
  }
}

// ITU-T H.263 / ISO/IEC 14496-2 chroma vector from one luma vector.
int ChromaFromOne(int m) { return (m >> 1) | (m & 1); }
// ... and from the sum of four (Table 7-9 rounding of sixteenths).
int ChromaFromFour(int s) { return (s + ((s & 8) ? 2 : 5)) >> 3; }

}  // namespace

void Mpeg4ReconstructVectors(Mpeg4Decoder& d, uint32_t mb) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  Mpeg4MacroblockRecord& r = recs[mb];
  const uint32_t col = mb % d.mb_cols;
  const uint32_t row = mb / d.mb_cols;
  const uint16_t packet = r.packet;
  auto available = [&](int dc, int dr) -> const Mpeg4MacroblockRecord* {
    const int c = static_cast<int>(col) + dc;
    const int rr = static_cast<int>(row) + dr;
    if (c < 0 || rr < 0 || c >= static_cast<int>(d.mb_cols)) return nullptr;
    const Mpeg4MacroblockRecord* n = &recs[static_cast<uint32_t>(rr) * d.mb_cols + static_cast<uint32_t>(c)];
    return n->packet == packet ? n : nullptr;
  };
  const Mpeg4MacroblockRecord* left = available(-1, 0);
  const Mpeg4MacroblockRecord* above = available(0, -1);
  const Mpeg4MacroblockRecord* above_right = available(1, -1);
  const int range = 1 << (d.vop.fcode + 5);
  const int blocks = r.type == kMbInter4v ? 4 : 1;
  for (int k = 0; k < blocks; ++k) {
    // Candidates (block of a neighbour or of this macroblock) for block k.
    struct Cand {
      const Mpeg4MacroblockRecord* mbr;
      int block;
    } cand[3];
    switch (k) {
      case 0: cand[0] = {left, 1}; cand[1] = {above, 2}; cand[2] = {above_right, 2}; break;
      case 1: cand[0] = {&r, 0}; cand[1] = {above, 3}; cand[2] = {above_right, 2}; break;
      case 2: cand[0] = {left, 3}; cand[1] = {&r, 0}; cand[2] = {&r, 1}; break;
      default: cand[0] = {&r, 2}; cand[1] = {&r, 0}; cand[2] = {&r, 1}; break;
    }
    int px = 0, py = 0;
    int valid = 0;
    int vx[3] = {0, 0, 0}, vy[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
      if (!cand[c].mbr) continue;
      ++valid;
      vx[c] = cand[c].mbr->mv[cand[c].block * 2];
      vy[c] = cand[c].mbr->mv[cand[c].block * 2 + 1];
    }
    if (valid == 1) {
      for (int c = 0; c < 3; ++c) {
        if (cand[c].mbr) {
          px = vx[c];
          py = vy[c];
        }
      }
    } else if (valid > 1) {
      px = Median(vx[0], vx[1], vx[2]);
      py = Median(vy[0], vy[1], vy[2]);
    }
    int mx = px + r.mv[k * 2];
    int my = py + r.mv[k * 2 + 1];
    if (mx < -range / 2) mx += range;
    if (mx > range / 2 - 1) mx -= range;
    if (my < -range / 2) my += range;
    if (my > range / 2 - 1) my -= range;
    r.mv[k * 2] = static_cast<int16_t>(mx);
    r.mv[k * 2 + 1] = static_cast<int16_t>(my);
  }
  if (blocks == 1) {
    for (int k = 1; k < 4; ++k) {
      r.mv[k * 2] = r.mv[0];
      r.mv[k * 2 + 1] = r.mv[1];
    }
  }
}

void Mpeg4PredictMacroblock(Mpeg4Decoder& d, uint32_t mb) {
  const Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  DecodedPicture& cur = d.cur_pic();
  const DecodedPicture& ref = d.ref_pic();
  const int w = cur.width, h = cur.height;
  const int x = static_cast<int>(mb % d.mb_cols) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  const int rc = d.vop.rounding;
  const bool four = r.type == kMbInter4v;
  if (!four) {
    const int mx = r.mv[0], my = r.mv[1];
    PredictBlock(cur.y + y * w + x, w, ref.y, w, w, h, x + (mx >> 1), y + (my >> 1), mx & 1, my & 1, 16, 16, rc);
  } else {
    for (int k = 0; k < 4; ++k) {
      const int bx = x + (k & 1) * 8, by = y + (k >> 1) * 8;
      const int mx = r.mv[k * 2], my = r.mv[k * 2 + 1];
      PredictBlock(cur.y + by * w + bx, w, ref.y, w, w, h, bx + (mx >> 1), by + (my >> 1), mx & 1, my & 1, 8, 8,
                   rc);
    }
  }
  int cx, cy;
  if (!four) {
    cx = ChromaFromOne(r.mv[0]);
    cy = ChromaFromOne(r.mv[1]);
  } else {
    cx = ChromaFromFour(r.mv[0] + r.mv[2] + r.mv[4] + r.mv[6]);
    cy = ChromaFromFour(r.mv[1] + r.mv[3] + r.mv[5] + r.mv[7]);
  }
  const int cw = w / 2, ch = h / 2, px = x / 2, py = y / 2;
  PredictBlock(cur.u + py * cw + px, cw, ref.u, cw, cw, ch, px + (cx >> 1), py + (cy >> 1), cx & 1, cy & 1, 8, 8, rc);
  PredictBlock(cur.v + py * cw + px, cw, ref.v, cw, cw, ch, px + (cx >> 1), py + (cy >> 1), cx & 1, cy & 1, 8, 8, rc);
}

void Mpeg4CopyMacroblock(Mpeg4Decoder& d, uint32_t mb) {
  DecodedPicture& cur = d.cur_pic();
  const DecodedPicture& ref = d.ref_pic();
  const int w = cur.width;
  const int x = static_cast<int>(mb % d.mb_cols) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  for (int j = 0; j < 16; ++j) std::memcpy(cur.y + (y + j) * w + x, ref.y + (y + j) * w + x, 16);
  const int cw = w / 2;
  for (int j = 0; j < 8; ++j) {
    std::memcpy(cur.u + (y / 2 + j) * cw + x / 2, ref.u + (y / 2 + j) * cw + x / 2, 8);
    std::memcpy(cur.v + (y / 2 + j) * cw + x / 2, ref.v + (y / 2 + j) * cw + x / 2, 8);
  }
}

// Extends the coded area of the reference (the layer size) to the whole
// 16-aligned planes, so that prediction near the right and bottom edges sees
// the VOP's border samples as ISO/IEC 14496-2 7.6.4 pads them.
void Mpeg4PadReference(Mpeg4Decoder& d) {
  DecodedPicture& ref = d.ref_pic();
  auto pad = [](uint8_t* plane, int stride, int plane_h, int cw, int ch) {
    if (cw <= 0 || ch <= 0) return;
    for (int j = 0; j < ch; ++j) {
      uint8_t* row = plane + j * stride;
      std::memset(row + cw, row[cw - 1], static_cast<size_t>(stride - cw));
    }
    for (int j = ch; j < plane_h; ++j) std::memcpy(plane + j * stride, plane + (ch - 1) * stride, static_cast<size_t>(stride));
  };
  const int w = ref.width, h = ref.height;
  const int lw = d.layer.width, lh = d.layer.height;
  pad(ref.y, w, h, lw, lh);
  pad(ref.u, w / 2, h / 2, (lw + 1) / 2, (lh + 1) / 2);
  pad(ref.v, w / 2, h / 2, (lw + 1) / 2, (lh + 1) / 2);
}

}  // namespace videodec
