#pragma once
// Motion compensation of whole macroblocks from a reference picture, chroma
// vector derivation, and the median vector prediction, shared by the H.263
// and MPEG-4 decoders. Vectors are in half-sample units.

#include <cstdint>

#include "codecs/videodec/common/mc.h"
#include "codecs/videodec/common/video_decoder.h"

namespace videodec {

struct MotionVector {
  int16_t x;
  int16_t y;
};

// Chroma vector of a one-vector macroblock from its luma vector component m:
// m / 2 with quarter positions moved to the half position (H.263 6.1.1,
// ISO/IEC 14496-2 7.6.2).
constexpr int ChromaVectorOneMv(int m) { return (m + ((m & 2) ? 0 : 1)) >> 1; }
// Chroma vector of a four-vector macroblock from the sum s of its four luma
// components: s / 8 rounded by H.263 Table F.1 / ISO/IEC 14496-2 Table 7-9.
constexpr int ChromaVectorFourMv(int s) { return (s + ((s & 8) ? 2 : 5)) >> 3; }

// Predicts a w x h block (w, h <= 16) at integer position (x, y) of `plane`
// (plane_w x plane_h, stride plane_w) displaced by the half-sample vector
// (mvx, mvy) into dst. Takes the direct kernel when the whole reference area
// lies inside the plane; otherwise samples outside are replaced by the nearest
// border sample (unrestricted vectors, H.263 Annex D).
void PredictBlock(const McDsp& dsp, uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* plane, int plane_w,
                  int plane_h, int x, int y, int w, int h, int mvx, int mvy, int rc);

// Predicts macroblock (mb_x, mb_y) of `cur` from `ref` (both the same size):
// one vector (mv[0]) or four (mv[0..3], luma blocks in raster order), chroma
// vectors derived as above.
void PredictMacroblock(const McDsp& dsp, const DecodedPicture& ref, const DecodedPicture& cur, int mb_x,
                       int mb_y, const MotionVector* mv, bool four_mv, int rc);

// Copies the co-located macroblock of `ref` into `cur` (not coded).
void CopyMacroblock(const DecodedPicture& ref, const DecodedPicture& cur, int mb_x, int mb_y);

// Median of three.
constexpr int Median3(int a, int b, int c) {
  return a > b ? (b > c ? b : (a > c ? c : a)) : (a > c ? a : (b > c ? c : b));
}

// ISO/IEC 14496-2 7.6.5 predictor from three candidates (left, above,
// above-right); a null candidate is unavailable: it counts as 0, and when two
// of three are unavailable the third is taken; none gives (0, 0).
MotionVector MedianPredictor(const MotionVector* left, const MotionVector* above, const MotionVector* above_right);

// predictor + difference, wrapped into [-range/2, range/2 - 1] by adding or
// subtracting `range` (the width the forward code allows, 64 for f_code 1).
constexpr int WrapVector(int predictor, int difference, int range) {
  int v = predictor + difference;
  if (v < -range / 2) v += range;
  else if (v > range / 2 - 1) v -= range;
  return v;
}

}  // namespace videodec
