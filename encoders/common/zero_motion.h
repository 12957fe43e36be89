#pragma once
// The zero-vector motion stage of predicted pictures: every macroblock is
// predicted from the same position of the reference picture. It fills the
// macroblock records as a motion search would (vectors, inter flag, cost)
// and forms the residual of one macroblock with its prediction in place.

#include <cstdint>

#include "encoders/common/encoder_frame.h"
#include "encoders/common/macroblock_info.h"

namespace venc {

// Every macroblock inter with the zero vector; `activity` and
// `zeroVectorSad` take the luma SAD against the reference.
void EstimateZeroMotion(const EncoderFrame& current, const EncoderFrame& reference, int mbsPerRow, int mbRows,
                        MacroblockInfo* mbs);

// Six residual blocks (source minus prediction, luma blocks then Cb, Cr) of
// the macroblock at (mbx, mby) into `blocks` (6 x 64), their sums of absolute
// values into `sad`, and the prediction written over the source in `current`.
void CompensateZeroMotion(EncoderFrame& current, const EncoderFrame& reference, int mbx, int mby, int16_t* blocks,
                          int32_t sad[6]);

}  // namespace venc
