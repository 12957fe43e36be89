#pragma once
// Constant tables of the transforms, quantisers and rate control shared by the
// two encoder libraries.

#include <cstdint>

namespace venc {

// 32768 x S[row] x S[column], S = (1, c1, c2, c3, 1, c3, c2, c1) with
// ck = sqrt(2) cos(k pi / 16): the forward transform's output scale and the
// inverse transform's prescale.
extern const uint16_t kIdctScaleTable[64];
// floor(65535 / (2 QP)) for QP 1-31; entry 0 is 0.
extern const int32_t kQuantRecipTable[32];
// ISO/IEC 14496-2 Table 7-1: dc_scaler by QP (entry 0 is 0).
extern const uint8_t kDcScalerLuma[32];
extern const uint8_t kDcScalerChroma[32];
// ISO/IEC 14496-2 Figure 7-2: scan position -> raster index.
extern const uint8_t kZigzagScan[64];
// ISO/IEC 14496-2 Table 6-21: the QP below which intra DC takes the intra DC
// code, by intra_dc_vlc_thr 0-7.
extern const uint8_t kIntraDcVlcThreshold[8];
// 1/Q and 1/Q^2 for Q 0-31 (0 at Q = 0), for the frame rate models.
extern const double kRecipQ[32];
extern const double kRecipQ2[32];
// 65536/Q and 2^24/Q^2 (truncated; 0 at Q = 0), for the macroblock model.
extern const int32_t kMbRecipQ[32];
extern const int32_t kMbRecipQ2[32];
// Decoder buffer sizes in bits: ISO/IEC 14496-2 Simple Profile vbv_buffer_size
// x 16384 by level index 0-10 (6-10 hold level 0b), and the H.263 addends by
// source-format index 0-4.
extern const int32_t kMpeg4VbvBufferBits[11];
extern const int32_t kH263BufferAddend[5];

}  // namespace venc
