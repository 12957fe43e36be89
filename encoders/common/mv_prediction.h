#pragma once
// Motion vector predictors of the inter macroblock coders: the median of the
// left, above and above-right candidates (ISO/IEC 14496-2 7.6.5, ITU-T H.263
// 6.1.1). A candidate outside the picture or in another video packet, GOB or
// slice (a different `packet` number) is not available.

#include "encoders/common/macroblock_info.h"

namespace venc {

// Block 0..3 of a four-vector macroblock, or kWholeMacroblock for the one
// vector of the macroblock. `mbs` holds the picture's records in raster order.
inline constexpr int kWholeMacroblock = 5;
MotionVector PredictVector(const MacroblockInfo* mbs, int block, int mbNumber, int mbsPerRow);

// One predictor (whole macroblock) into out[0], or four (blocks 0..3) for a
// four-vector macroblock.
void PredictMacroblockVectors(const MacroblockInfo* mbs, int mbNumber, int mbsPerRow, MotionVector out[4]);

// The predictor of a one-vector macroblock under ITU-T H.263 6.1.1 with
// GOBs and slices (Annex K): the left candidate is zero outside the picture
// or segment; above and above-right candidates outside the segment, or above
// the picture, take the left candidate's value; above-right beyond the right
// edge is zero. Differs from PredictVector where a slice starts inside a row.
MotionVector PredictH263Vector(const MacroblockInfo* mbs, int mbNumber, int mbsPerRow);

MotionVector MedianMvPredictor(MotionVector a, MotionVector b, MotionVector c);

}  // namespace venc
