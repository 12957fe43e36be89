#pragma once
// Motion compensation of one macroblock: residual blocks against the
// half-sample prediction from the padded reference frame, with the
// prediction written over the source in the frame being coded.

#include <cstdint>

#include "encoders/common/encoder_frame.h"
#include "encoders/common/macroblock_info.h"
#include "encoders/common/motion_dsp.h"

namespace venc {

// Chroma vector component of the sum `s` of the four luma vectors' components
// (half pixels), ISO/IEC 14496-2 7.6.6 (Table 7-9): sixteenth positions
// rounded to the nearest half sample.
int ChromaVectorComponent(int s);

// Residual of the six 8x8 blocks (four luma, Cb, Cr) of the macroblock at
// luma (x, y) with the four vectors of `mb` into `blocks` (6 x 64), their
// sums of absolute values into `sad`; the prediction replaces the source in
// `current`.
void CompensateMacroblock(const MotionDsp& dsp, const EncoderFrame& reference, EncoderFrame& current, int x, int y,
                          const MacroblockInfo& mb, int16_t* blocks, int32_t sad[6]);

// The source samples of the macroblock at column mbx, row mby of `frame` into
// the six blocks of `blocks` (6 x 64: four luma, Cb, Cr), for intra coding.
void LoadIntraMacroblock(const EncoderFrame& frame, int mbx, int mby, int16_t* blocks);

}  // namespace venc
