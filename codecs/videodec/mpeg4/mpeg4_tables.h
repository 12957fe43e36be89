#pragma once
// Constant tables of the ISO/IEC 14496-2 Simple Profile decoder: the Annex B
// variable-length codes, the escape limits and the quantiser tables (the scans
// and the transform prescale are shared: common/transform_tables.h).
// The decoding lookups built from the code lists live in mpeg4_vlc.cpp.

#include <cstdint>

namespace videodec {

// One variable-length code: `code` right-aligned in `len` bits.
struct Mpeg4Code {
  uint16_t code;
  uint8_t len;
};

// DC scalers of Table 7-1 by quantiser 0..31 (entry 0 unused).
extern const uint8_t kMpeg4LumaDcScaler[32];
extern const uint8_t kMpeg4ChromaDcScaler[32];

// intra_dc_vlc_thr (Table 6-21) -> the quantiser at which the intra DC moves
// to the AC tables (32: never, every quantiser is below).
extern const uint8_t kMpeg4IntraDcThreshold[8];

// Table B-6: mcbpc of I-VOPs, index = (type 3|4 - 3) * 4 + cbpc; then stuffing.
extern const Mpeg4Code kMpeg4McbpcIntra[9];
// Table B-7: mcbpc of P-VOPs, index = type * 4 + cbpc for types 0..4; then stuffing.
extern const Mpeg4Code kMpeg4McbpcInter[21];
// Table B-8: cbpy of intra macroblocks by pattern (inter: 15 - pattern).
extern const Mpeg4Code kMpeg4Cbpy[16];
// Table B-12: mvd magnitude 0..32 half-pels, sign bit following (not for 0).
extern const Mpeg4Code kMpeg4Mvd[33];
// Tables B-13, B-14: dct_dc_size by size 0..12.
extern const Mpeg4Code kMpeg4DcSizeLuma[13];
extern const Mpeg4Code kMpeg4DcSizeChroma[13];

// Tables B-16, B-17: TCOEF codes in (last, run, level) order, runs ascending,
// levels 1..LMAX(last, run); the escape code is the last entry. The sign bit
// follows every non-escape code.
extern const Mpeg4Code kMpeg4IntraTcoef[103];
extern const Mpeg4Code kMpeg4InterTcoef[103];
// Table B-23: reversible VLC codes in the same order (intra, inter); escape last.
extern const Mpeg4Code kMpeg4IntraRvlc[170];
extern const Mpeg4Code kMpeg4InterRvlc[170];

// LMAX by run for last 0 and last 1 (Tables B-19, B-20 and the reversible
// tables' own limits); the run count ends each list.
struct Mpeg4LevelLimits {
  const uint8_t* last0;
  uint8_t runs0;
  const uint8_t* last1;
  uint8_t runs1;
};
extern const Mpeg4LevelLimits kMpeg4IntraLimits;
extern const Mpeg4LevelLimits kMpeg4InterLimits;
extern const Mpeg4LevelLimits kMpeg4IntraRvlcLimits;
extern const Mpeg4LevelLimits kMpeg4InterRvlcLimits;

}  // namespace videodec
