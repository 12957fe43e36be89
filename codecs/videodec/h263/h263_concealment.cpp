// Concealment of the macroblocks of an H.263 picture that were lost or could
// not be decoded: temporal (a motion vector guessed from the neighbours) or
// spatial (low frequencies interpolated from the neighbours in the transform
// domain).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/h263/h263_decoder_internal.h"

namespace videodec {
namespace {

// Vectors beyond this many half samples are not trusted for concealment.
constexpr int kMaxTrustedVector = 20;
// QUANT recorded for concealed macroblocks (the post filter's strength).
constexpr uint8_t kConcealedQuant = 20;

struct Neighbours {
  const H263Macroblock* above = nullptr;
  const H263Macroblock* below = nullptr;
  const H263Macroblock* al = nullptr;
  const H263Macroblock* ar = nullptr;
  const H263Macroblock* bl = nullptr;
  const H263Macroblock* br = nullptr;
  bool any() const { return above || below || al || ar || bl || br; }
};

bool Trusted(const MotionVector& v) {
  return std::abs(v.x) <= kMaxTrustedVector && std::abs(v.y) <= kMaxTrustedVector;
}

MotionVector Median(const MotionVector& a, const MotionVector& b, const MotionVector& c) {
  return MotionVector{static_cast<int16_t>(Median3(a.x, b.x, c.x)), static_cast<int16_t>(Median3(a.y, b.y, c.y))};
}

// Picture area pointers of 8x8 block `b` of macroblock (x, y).
const uint8_t* LumaArea(const DecodedPicture& p, int x, int y, int b) {
  return p.y + static_cast<ptrdiff_t>(y * 16 + (b >> 1) * 8) * p.width + x * 16 + (b & 1) * 8;
}

struct Low3 {
  int c00, c01, c10;
};

Low3 Analyse(const uint8_t* src, ptrdiff_t stride) {
  int16_t c[64] = {};
  ForwardDctLowFrequency(src, stride, c);
  return Low3{c[0], c[1], c[8]};
}

Low3 Average(const Low3* areas, int n) {
  Low3 r{0, 0, 0};
  for (int i = 0; i < n; ++i) {
    r.c00 += areas[i].c00;
    r.c01 += areas[i].c01;
    r.c10 += areas[i].c10;
  }
  if (n == 2) return Low3{r.c00 >> 1, r.c01 >> 1, r.c10 >> 1};
  return Low3{r.c00 / n, r.c01 / n, r.c10 / n};
}

void Synthesise(const Low3& c, uint8_t* dst, ptrdiff_t stride) {
  int16_t coeffs[64] = {};
  coeffs[0] = static_cast<int16_t>(std::clamp(c.c00, -32768, 32767));
  coeffs[1] = static_cast<int16_t>(std::clamp(c.c01, -32768, 32767));
  coeffs[8] = static_cast<int16_t>(std::clamp(c.c10, -32768, 32767));
  InverseDctLowFrequency(coeffs, dst, stride);
}

void ConcealSpatially(H263Decoder* d, int x, int y, const Neighbours& n) {
  const DecodedPicture& p = d->cur;
  const ptrdiff_t ys = p.width;
  const ptrdiff_t cs = p.width / 2;
  uint8_t* mb_y = p.y + static_cast<ptrdiff_t>(y) * 16 * ys + x * 16;

  // Luma.
  if (n.above || n.below) {
    Low3 blocks[4];
    bool have[4] = {false, false, false, false};
    if (n.above) {
      Low3 areas[3] = {Analyse(LumaArea(p, x, y - 1, 2), ys), Analyse(LumaArea(p, x, y - 1, 3), ys)};
      int k = 2;
      if (n.al) areas[k++] = Analyse(LumaArea(p, x - 1, y - 1, 3), ys);
      blocks[0] = Average(areas, k);
      k = 2;
      if (n.ar) areas[k++] = Analyse(LumaArea(p, x + 1, y - 1, 2), ys);
      blocks[1] = Average(areas, k);
      have[0] = have[1] = true;
    }
    if (n.below) {
      Low3 areas[3] = {Analyse(LumaArea(p, x, y + 1, 0), ys), Analyse(LumaArea(p, x, y + 1, 1), ys)};
      int k = 2;
      if (n.bl) areas[k++] = Analyse(LumaArea(p, x - 1, y + 1, 1), ys);
      blocks[2] = Average(areas, k);
      k = 2;
      if (n.br) areas[k++] = Analyse(LumaArea(p, x + 1, y + 1, 0), ys);
      blocks[3] = Average(areas, k);
      have[2] = have[3] = true;
    }
    // One half only: the other half takes the DC of the block in its column.
    for (int b = 0; b < 4; ++b) {
      if (!have[b]) blocks[b] = Low3{blocks[b ^ 2].c00, 0, 0};
    }
    for (int b = 0; b < 4; ++b) Synthesise(blocks[b], mb_y + (b >> 1) * 8 * ys + (b & 1) * 8, ys);
  } else {
    if (y == 0) return;  // top row: left as it is, chroma too
    for (int r = 0; r < 16; ++r) std::memcpy(mb_y + r * ys, mb_y + (r - 16) * ys, 16);
  }

  // Chroma: the four rows of the blocks above and below nearest to the
  // macroblock, repeated to eight rows.
  for (uint8_t* plane : {p.u, p.v}) {
    uint8_t* mb_c = plane + static_cast<ptrdiff_t>(y) * 8 * cs + x * 8;
    auto edge_rows = [&](const uint8_t* first_row) {
      uint8_t area[64];
      for (int r = 0; r < 8; ++r) std::memcpy(area + r * 8, first_row + (r & 3) * cs, 8);
      return Analyse(area, 8);
    };
    auto block_of = [&](int bx, int by) { return Analyse(plane + static_cast<ptrdiff_t>(by) * 8 * cs + bx * 8, cs); };
    Low3 areas[3];
    int k = 0;
    if (n.above && n.below) {
      areas[k++] = edge_rows(mb_c - 4 * cs);
      areas[k++] = edge_rows(mb_c + 8 * cs);
    } else if (n.above) {
      areas[k++] = edge_rows(mb_c - 4 * cs);
      if (n.al) areas[k++] = block_of(x - 1, y - 1);
      if (n.ar) areas[k++] = block_of(x + 1, y - 1);
    } else if (n.below) {
      areas[k++] = edge_rows(mb_c + 8 * cs);
      if (n.bl) areas[k++] = block_of(x - 1, y + 1);
      if (n.br) areas[k++] = block_of(x + 1, y + 1);
    } else {
      for (int r = 0; r < 8; ++r) std::memcpy(mb_c + r * cs, mb_c + (r - 8) * cs, 8);
      continue;
    }
    Synthesise(k == 1 ? areas[0] : Average(areas, k), mb_c, cs);
  }
}

// Copies the co-located reference macroblock, or motion-compensates with C's
// own vector when C was decoded.
void UseColocated(H263Decoder* d, int x, int y, const H263Macroblock& c) {
  H263Macroblock& mb = d->cur_mbs[y * d->mb_cols + x];
  if (c.status == kMbDamaged) {
    CopyMacroblock(d->ref, d->cur, x, y);
    std::memset(mb.mv, 0, sizeof mb.mv);
    return;
  }
  const MotionVector v = c.mv[0];
  for (auto& m : mb.mv) m = v;
  PredictMacroblock(d->mc, d->ref, d->cur, x, y, mb.mv, false, static_cast<int>(d->ps.rounding_type));
}

void Compensate(H263Decoder* d, int x, int y, const MotionVector& v) {
  H263Macroblock& mb = d->cur_mbs[y * d->mb_cols + x];
  for (auto& m : mb.mv) m = v;
  PredictMacroblock(d->mc, d->ref, d->cur, x, y, mb.mv, false, static_cast<int>(d->ps.rounding_type));
}

int AreaMeanAsDc(const uint8_t* src, ptrdiff_t stride) {
  int sum = 0;
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) sum += src[r * stride + c];
  return sum / 8;  // the mean in the scale of a reconstructed DC (8 x mean)
}

// Intra pictures: do the neighbours above and below still look like the
// reference picture there? A scene change makes temporal concealment wrong.
bool SceneChanged(const H263Decoder* d, int x, int y, const H263Macroblock& above, const H263Macroblock& below) {
  const DecodedPicture& r = d->ref;
  const ptrdiff_t ys = r.width;
  const ptrdiff_t cs = r.width / 2;
  int luma_ref = 0, luma_ab = 0;
  for (int i = 0; i < 2; ++i) {
    luma_ref += std::abs(above.dc[2 + i] - AreaMeanAsDc(LumaArea(r, x, y - 1, 2 + i), ys));
    luma_ref += std::abs(below.dc[i] - AreaMeanAsDc(LumaArea(r, x, y + 1, i), ys));
    luma_ab += std::abs(above.dc[2 + i] - below.dc[i]);
  }
  int chroma_ref = 0, chroma_ab = 0;
  for (int b = 4; b < 6; ++b) {
    const uint8_t* plane = b == 4 ? r.u : r.v;
    chroma_ref += std::abs(above.dc[b] - AreaMeanAsDc(plane + static_cast<ptrdiff_t>(y - 1) * 8 * cs + x * 8, cs));
    chroma_ref += std::abs(below.dc[b] - AreaMeanAsDc(plane + static_cast<ptrdiff_t>(y + 1) * 8 * cs + x * 8, cs));
    chroma_ab += std::abs(above.dc[b] - below.dc[b]);
  }
  return luma_ref / 2 - 100 > luma_ab || chroma_ref / 2 - 100 > chroma_ab;
}

void ConcealOne(H263Decoder* d, int x, int y) {
  const int cols = d->mb_cols;
  const int rows = d->mb_rows;
  auto at = [&](int nx, int ny) -> const H263Macroblock* {
    if (nx < 0 || ny < 0 || nx >= cols || ny >= rows) return nullptr;
    const H263Macroblock* m = &d->cur_mbs[ny * cols + nx];
    return m->status == kMbDamaged ? nullptr : m;
  };
  Neighbours n;
  n.above = at(x, y - 1);
  n.below = at(x, y + 1);
  n.al = at(x - 1, y - 1);
  n.ar = at(x + 1, y - 1);
  n.bl = at(x - 1, y + 1);
  n.br = at(x + 1, y + 1);
  const H263Macroblock& c = d->ref_mbs[y * cols + x];
  const MotionVector cv = c.mv[0];

  if (d->ps.picture_type == 0) {
    // Intra picture.
    if (!d->have_reference) return ConcealSpatially(d, x, y, n);
    if (n.above && n.below && SceneChanged(d, x, y, *n.above, *n.below)) return ConcealSpatially(d, x, y, n);
    return UseColocated(d, x, y, c);
  }

  const bool c_intra = c.status == kMbDecoded && c.type == kMbIntra;
  if (d->last_finished_inter && !c_intra && c.status != kMbDamaged) {
    // Temporal, around C's own motion.
    if (!n.any()) return UseColocated(d, x, y, c);
    if (n.below && !n.above) {
      const MotionVector below = n.below->mv[1];
      if (!Trusted(below)) return ConcealSpatially(d, x, y, n);
      if (n.bl) return Compensate(d, x, y, Median(below, n.bl->mv[1], cv));
      if (n.br) return Compensate(d, x, y, Median(below, n.br->mv[0], cv));
      return Compensate(d, x, y, below);
    }
    if (n.above && n.below) {
      const MotionVector above = n.above->mv[2];
      const MotionVector below = n.below->mv[1];
      if (!Trusted(above) || !Trusted(below)) return ConcealSpatially(d, x, y, n);
      return Compensate(d, x, y, Median(above, below, cv));
    }
    if (n.above) {
      const MotionVector above = n.above->mv[2];
      if (!Trusted(above)) return ConcealSpatially(d, x, y, n);
      if (n.al) return Compensate(d, x, y, Median(above, n.al->mv[3], cv));
      if (n.ar) return Compensate(d, x, y, Median(above, n.ar->mv[2], cv));
      return Compensate(d, x, y, above);
    }
    return UseColocated(d, x, y, c);  // only diagonal neighbours: C's own motion
  }

  // After an intra picture, or C intra or damaged: from the neighbours alone.
  if (!n.any()) {
    CopyMacroblock(d->ref, d->cur, x, y);
    return;
  }
  if (n.above && !n.below) {
    const MotionVector above = n.above->mv[2];
    if (!Trusted(above)) return ConcealSpatially(d, x, y, n);
    if (n.al && n.ar) return Compensate(d, x, y, Median(above, n.al->mv[3], n.ar->mv[2]));
    return Compensate(d, x, y, above);
  }
  if (n.above && n.below) {
    const MotionVector above = n.above->mv[2];
    const MotionVector below = n.below->mv[1];
    if (!Trusted(above) || !Trusted(below)) return ConcealSpatially(d, x, y, n);
    return Compensate(d, x, y,
                      MotionVector{static_cast<int16_t>((above.x + below.x) >> 1),
                                   static_cast<int16_t>((above.y + below.y) >> 1)});
  }
  if (n.below) {
    if (!Trusted(n.below->mv[2])) return ConcealSpatially(d, x, y, n);
    const MotionVector below = n.below->mv[1];
    if (n.bl && n.br) return Compensate(d, x, y, Median(below, n.bl->mv[1], n.br->mv[0]));
    return Compensate(d, x, y, below);
  }
  const MotionVector* first = n.al ? &n.al->mv[3] : n.br ? &n.br->mv[0] : n.ar ? &n.ar->mv[2] : &n.bl->mv[1];
  Compensate(d, x, y, *first);
}

}  // namespace

void ConcealH263Macroblocks(H263Decoder* d) {
  for (int y = 0; y < d->mb_rows; ++y) {
    for (int x = 0; x < d->mb_cols; ++x) {
      H263Macroblock& mb = d->cur_mbs[y * d->mb_cols + x];
      if (mb.status != kMbDamaged) continue;
      mb.quant = kConcealedQuant;
      ConcealOne(d, x, y);
    }
  }
}

}  // namespace videodec
