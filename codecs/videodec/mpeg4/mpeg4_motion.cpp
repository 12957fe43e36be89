// Motion vector prediction and reconstruction (ISO/IEC 14496-2 7.6.5, 7.6.3)
// and half-sample motion compensation with unrestricted vectors (7.6.2).
#include <algorithm>
#include <cstring>

#include "codecs/videodec/common/motion.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"

namespace videodec {

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
  auto vec = [](const Mpeg4MacroblockRecord* m, int block, MotionVector* out) -> const MotionVector* {
    if (!m) return nullptr;
    *out = MotionVector{m->mv[block * 2], m->mv[block * 2 + 1]};
    return out;
  };
  for (int k = 0; k < blocks; ++k) {
    // Candidates of ISO/IEC 14496-2 Figure 7-20 for block k: left, above,
    // above right (a block of a neighbour or of this macroblock).
    const Mpeg4MacroblockRecord* m[3];
    int blk[3];
    switch (k) {
      case 0: m[0] = left; blk[0] = 1; m[1] = above; blk[1] = 2; m[2] = above_right; blk[2] = 2; break;
      case 1: m[0] = &r; blk[0] = 0; m[1] = above; blk[1] = 3; m[2] = above_right; blk[2] = 2; break;
      case 2: m[0] = left; blk[0] = 3; m[1] = &r; blk[1] = 0; m[2] = &r; blk[2] = 1; break;
      default: m[0] = &r; blk[0] = 2; m[1] = &r; blk[1] = 0; m[2] = &r; blk[2] = 1; break;
    }
    MotionVector c[3];
    const MotionVector p = MedianPredictor(vec(m[0], blk[0], &c[0]), vec(m[1], blk[1], &c[1]), vec(m[2], blk[2], &c[2]));
    r.mv[k * 2] = static_cast<int16_t>(WrapVector(p.x, r.mv[k * 2], range));
    r.mv[k * 2 + 1] = static_cast<int16_t>(WrapVector(p.y, r.mv[k * 2 + 1], range));
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
  MotionVector mv[4];
  for (int k = 0; k < 4; ++k) mv[k] = MotionVector{r.mv[k * 2], r.mv[k * 2 + 1]};
  PredictMacroblock(d.mc, d.ref_pic(), d.cur_pic(), static_cast<int>(mb % d.mb_cols),
                    static_cast<int>(mb / d.mb_cols), mv, r.type == kMbInter4v, d.vop.rounding);
}

void Mpeg4CopyMacroblock(Mpeg4Decoder& d, uint32_t mb) {
  CopyMacroblock(d.ref_pic(), d.cur_pic(), static_cast<int>(mb % d.mb_cols), static_cast<int>(mb / d.mb_cols));
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
  const int lw = std::min<int>(d.layer.width, w), lh = std::min<int>(d.layer.height, h);
  pad(ref.y, w, h, lw, lh);
  pad(ref.u, w / 2, h / 2, (lw + 1) / 2, (lh + 1) / 2);
  pad(ref.v, w / 2, h / 2, (lw + 1) / 2, (lh + 1) / 2);
}

}  // namespace videodec
