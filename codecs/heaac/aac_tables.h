#pragma once
// Constant tables of the AAC decoder: ISO/IEC 14496-3 band tables, codebook
// descriptors, and the fixed-point transform, window and gain tables (computed
// once from their formulas).

#include <cstdint>

namespace heaac {

// Sampling rates by sampling_frequency_index 0..11.
extern const uint32_t kAacSampleRates[12];
// Scale-factor band counts and offsets for 1024-sample frames (ISO/IEC
// 14496-3 tables 4.129 ff., swb_offset_long_window / swb_offset_short_window).
extern const uint8_t kNumSwbLong[12];
extern const uint8_t kNumSwbShort[12];
extern const uint16_t* const kSwbOffsetLong[12];
extern const uint16_t* const kSwbOffsetShort[12];
// TNS_MAX_BANDS for AAC LC, long and short windows.
extern const uint8_t kTnsMaxBandsLong[12];
extern const uint8_t kTnsMaxBandsShort[12];
// LTP codebook (ISO/IEC 14496-3 table 4.147) in Q30.
extern const int32_t kLtpCoefQ30[8];
// 1, 2^-0.25, 2^-0.5, 2^-0.75, 1 in Q31.
extern const int32_t kQuarterStepQ31[5];
// 2^(k/4), k = 0..3, in Q30.
extern const int32_t kQuarterStepQ30[4];
// sqrt(i / 64) in Q15 for i = 16..64.
extern const int32_t kSqrtTableQ15[49];
// Bits of (|q| >> 8) for the large-value inverse quantisation.
extern const uint8_t kLargeValueBits[32];

struct AacComputedTables {
  int32_t power43[257];        // i^(4/3) x 2^19
  // (2^e)^(4/3) x 2^26, e = 0..5, rounded: the large-value inverse
  // quantisation scales by these. power43[2^e] is floored to 2^19, which
  // costs up to 8 x 10^-7 of a loud coefficient.
  int64_t octavePower43[6];
  uint16_t sineLong[1024];     // rising halves, Q15
  uint16_t sineShort[128];
  uint16_t kbdLong[1024];
  uint16_t kbdShort[128];
  // The same four windows in Q31, for the filterbank: a Q15 window is off by
  // up to 2^-16 of the unwindowed value, which on quiet clips moves about one
  // output sample in a thousand across a rounding boundary.
  int32_t sineLongQ31[1024];
  int32_t sineShortQ31[128];
  int32_t kbdLongQ31[1024];
  int32_t kbdShortQ31[128];
  int32_t twiddleLong[512][2];  // cos, sin of 2 pi (k + 1/8) / 2048, Q31
  int32_t twiddleShort[64][2];  // same for 256
  int32_t fftCos[256];          // cos(2 pi k / 512), Q31
  int32_t fftSin[256];          // sin(2 pi k / 512), Q31
  // The FFT pass over groups of len (8..512) takes its cos, sin of
  // 2 pi k / len (k < len / 2) from [len / 2 + k]: fftCos, fftSin rearranged.
  int32_t fftPassTwiddle[512][2];
  // The long windows' falling halves: [n] = rising [1023 - n].
  int32_t sineLongFallQ31[1024];
  int32_t kbdLongFallQ31[1024];
  int32_t tnsCoef[2][16];       // [coef_res][4-bit index] reflection coefficients, Q24
  int32_t drcGain[74];          // about 2^(k/6) x 2^18
  int32_t noiseAmp[64];         // by band width / 4 - 1, Q31
  uint16_t bitReverse9[512];
  uint16_t bitReverse6[64];
};

// The computed tables, built on first use (thread-safe).
const AacComputedTables& GetAacTables();

}  // namespace heaac
