#pragma once
// Scan orders and the prescale table of the scaled 8x8 inverse transform,
// shared by the H.263 and MPEG-4 decoders.

#include <cstdint>

namespace videodec {

// Natural (raster) position of each scan index.
extern const uint8_t kZigzagScan[64];
// ITU-T H.263 Annex I, Figure I.2 / ISO/IEC 14496-2 Figure 7-3 (alternate horizontal).
extern const uint8_t kAlternateHorizontalScan[64];
// ITU-T H.263 Annex I, Figure I.3 / ISO/IEC 14496-2 Figure 7-3 (alternate vertical).
extern const uint8_t kAlternateVerticalScan[64];

// Prescale factors S(u, v) of the inverse transform by natural position
// (row u, column v): 32768 x a(u) x a(v), a(0) = 1, a(k) = sqrt(2) cos(k pi / 16).
// A dequantised coefficient F is stored as (F x S) >> 12.
extern const uint16_t kIdctScale[64];
// The same factors by zigzag scan index.
extern const uint16_t kIdctScaleZigzag[64];

}  // namespace videodec
