// ITU-T H.263 Annex J deblocking of the reconstructed picture, so that the
// reference matches what an Annex J decoder holds.
#include <initializer_list>

#include "encoders/h263enc/h263_encoder.h"
#include "encoders/h263enc/h263enc_tables.h"

namespace venc {
namespace {

inline int Clip255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
inline int Abs(int v) { return v < 0 ? -v : v; }

// Annex J.3 on one line A B | C D, `step` apart from `p` at A. Divisions
// truncate toward zero.
inline void FilterLine(uint8_t* p, ptrdiff_t step, int strength) {
  const int a = p[0], b = p[step], c = p[2 * step], d = p[3 * step];
  const int delta = (a - 4 * b + 4 * c - d) / 8;
  const int mag = Abs(delta);
  const int ramp = mag - 2 * (mag - strength > 0 ? mag - strength : 0);
  const int d1 = (delta < 0 ? -1 : 1) * (ramp > 0 ? ramp : 0);
  if (d1 == 0) return;  // then d2 is 0 as well: nothing moves
  p[step] = static_cast<uint8_t>(Clip255(b + d1));
  p[2 * step] = static_cast<uint8_t>(Clip255(c - d1));
  const int limit = Abs(d1) >> 1;
  int d2 = (a - d) / 4;
  if (d2 > limit) d2 = limit;
  if (d2 < -limit) d2 = -limit;
  // |d2| never exceeds |A - D| / 4: A and D stay within 0-255.
  p[0] = static_cast<uint8_t>(a - d2);
  p[3 * step] = static_cast<uint8_t>(d + d2);
}

bool Skipped(const MacroblockInfo& mb) { return mb.inter == 1 && mb.notCoded == 1; }

// Whether the edge between macroblocks `first` (above or left) and `second`
// is filtered, and with which QUANT.
bool EdgeQuant(const MacroblockInfo& first, const MacroblockInfo& second, int* quant) {
  if (Skipped(first) && Skipped(second)) return false;
  *quant = second.notCoded ? first.quant : second.quant;
  return true;
}

}  // namespace

void DeblockAcrossVerticalEdge(uint8_t* p, ptrdiff_t stride, int quant, int n) {
  const int s = kDeblockStrength[quant];
  for (int i = 0; i < n; ++i) FilterLine(p + i * stride, 1, s);
}

void DeblockAcrossHorizontalEdge(uint8_t* p, ptrdiff_t stride, int quant, int n) {
  const int s = kDeblockStrength[quant];
  for (int i = 0; i < n; ++i) FilterLine(p + i, stride, s);
}

void DeblockFrame(H263Encoder& enc) {
  EncoderFrame& f = *enc.current;
  const ptrdiff_t ls = f.lumaStride(), cs = f.chromaStride();
  const int w = enc.codedWidth, h = enc.codedHeight;
  const MacroblockInfo* mbs = enc.mbs;
  const int cols = enc.mbsPerRow;
  auto chromaQuant = [&](int q) { return enc.modifiedQuant ? kChromaQuant[q] : q; };
  int q = 0;
  uint8_t* y = f.lumaOrigin();
  for (int row = 8; row < h; row += 8) {
    for (int c = 0; c < cols; ++c) {
      const MacroblockInfo& above = mbs[((row - 1) / 16) * cols + c];
      const MacroblockInfo& below = mbs[(row / 16) * cols + c];
      if (EdgeQuant(above, below, &q)) DeblockAcrossHorizontalEdge(y + (row - 2) * ls + 16 * c, ls, q, 16);
    }
  }
  for (int r = 0; r < enc.mbRows; ++r) {
    for (int x = 8; x < w; x += 8) {
      const MacroblockInfo& left = mbs[r * cols + (x - 1) / 16];
      const MacroblockInfo& right = mbs[r * cols + x / 16];
      if (EdgeQuant(left, right, &q)) DeblockAcrossVerticalEdge(y + 16 * r * ls + x - 2, ls, q, 16);
    }
  }
  // Chroma edges lie on macroblock boundaries only.
  for (uint8_t* plane : {f.uOrigin(), f.vOrigin()}) {
    for (int row = 8; row < h / 2; row += 8) {
      for (int c = 0; c < cols; ++c) {
        if (EdgeQuant(mbs[(row / 8 - 1) * cols + c], mbs[(row / 8) * cols + c], &q))
          DeblockAcrossHorizontalEdge(plane + (row - 2) * cs + 8 * c, cs, chromaQuant(q), 8);
      }
    }
    for (int r = 0; r < enc.mbRows; ++r) {
      for (int x = 8; x < w / 2; x += 8) {
        if (EdgeQuant(mbs[r * cols + x / 8 - 1], mbs[r * cols + x / 8], &q))
          DeblockAcrossVerticalEdge(plane + 8 * r * cs + x - 2, cs, chromaQuant(q), 8);
      }
    }
  }
}

}  // namespace venc
