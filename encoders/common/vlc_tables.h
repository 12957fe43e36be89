#pragma once
// Variable-length code tables of ISO/IEC 14496-2 Annex B, which equal those of
// ITU-T H.263 Tables 14 to 16 where the two share a syntax element.

#include <cstdint>

namespace venc {

struct VlcCode {
  uint16_t code;   // right-aligned
  uint8_t length;  // bits; 0 means no code
};

// Table B-6: MCBPC of I-VOPs, [mbType - 3][cbpc] for mb_type 3 (intra) and 4 (intra+Q).
extern const VlcCode kMcbpcIntraTable[2][4];
// Table B-7: MCBPC of P-VOPs, [mbType][cbpc] for mb_type 0 (inter) to 4 (intra+Q).
extern const VlcCode kMcbpcInterTable[5][4];
// Table B-8: CBPY of an intra macroblock; inter macroblocks code 15 - CBPY.
extern const VlcCode kCbpyTable[16];
// Tables B-13 and B-14: dct_dc_size of luma and chroma blocks, sizes 0-12.
extern const VlcCode kDcSizeLumaTable[13];
extern const VlcCode kDcSizeChromaTable[13];

// Table B-12 (ITU-T H.263 Table 14): motion_code 0-32 without the sign bit
// that follows every non-zero code.
extern const VlcCode kMvdTable[33];

// Transform-coefficient events (last, run, level > 0) with their code without
// the sign bit, looked up by (last, run) rows.
struct TcoefTable {
  // Largest run of a table event; runs above have no code.
  static constexpr int kMaxRun = 63;
  static constexpr int kMaxLevel = 27;
  VlcCode code[2][kMaxRun + 1][kMaxLevel + 1];
  // LMAX (Tables B-18, B-19): the largest level with a code for (last, run), 0 when none.
  uint8_t maxLevel[2][kMaxRun + 1];
  // RMAX (Tables B-20, B-21): the largest run with a code for (last, level), -1 when none.
  int8_t maxRun[2][kMaxLevel + 1];

  const VlcCode* Find(int last, int run, int level) const {
    if (run > kMaxRun || level > kMaxLevel) return nullptr;
    const VlcCode& c = code[last][run][level];
    return c.length ? &c : nullptr;
  }
};
// Table B-17 (inter; ITU-T H.263 Table 16) and Table B-16 (intra).
extern const TcoefTable kInterTcoef;
extern const TcoefTable kIntraTcoef;

// Table B-23: reversible VLC codes of intra and inter events without the sign
// bit that follows each, looked up by (last, run, level).
struct RvlcTable {
  static constexpr int kMaxRun = 44;
  static constexpr int kMaxLevel = 27;
  VlcCode code[2][kMaxRun + 1][kMaxLevel + 1];
  const VlcCode* Find(int last, int run, int level) const {
    if (run > kMaxRun || level > kMaxLevel) return nullptr;
    const VlcCode& c = code[last][run][level];
    return c.length ? &c : nullptr;
  }
};
extern const RvlcTable kIntraRvlc;
extern const RvlcTable kInterRvlc;

}  // namespace venc
