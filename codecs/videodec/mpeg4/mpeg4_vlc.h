#pragma once
// Variable-length decoding of ISO/IEC 14496-2 Annex B codes: lookups built
// once from the code lists of mpeg4_tables.cpp, one show, one lookup, one skip
// per code.

#include <cstdint>

#include "codecs/videodec/mpeg4/mpeg4_bits.h"

namespace videodec {

// One decoded coefficient event.
struct Mpeg4Event {
  int level;  // signed, never 0
  int run;
  int last;
};

enum Mpeg4CoefTable : int {
  kMpeg4TableIntra = 0,
  kMpeg4TableInter = 1,
};

// Results of the macroblock-level readers: -1 for a code not in the table.
constexpr int kMpeg4Stuffing = 0x100;

// mcbpc of an I-VOP: (type 3 or 4) | chroma pattern << 4, or kMpeg4Stuffing.
int Mpeg4ReadMcbpcIntra(Mpeg4Bits& bits);
// mcbpc of a P-VOP: type 0..4 | chroma pattern << 4, or kMpeg4Stuffing.
int Mpeg4ReadMcbpcInter(Mpeg4Bits& bits);
// cbpy as coded for intra macroblocks (pattern of blocks 0..3, block 0 in bit 3).
int Mpeg4ReadCbpy(Mpeg4Bits& bits);
// One motion vector difference component in half-pels for forward code fcode,
// or INT32_MIN on error.
int Mpeg4ReadMvd(Mpeg4Bits& bits, int fcode);
// dct_dc_size followed by the differential (and its marker above size 8);
// false on error.
bool Mpeg4ReadDcDifferential(Mpeg4Bits& bits, bool luma, int* differential);

// One TCOEF event with the three escape modes of 7.4.1.3.
bool Mpeg4ReadEvent(Mpeg4Bits& bits, Mpeg4CoefTable table, Mpeg4Event* event);

// An entry of a TCOEF lookup indexed by the next kMpeg4TcoefBits bits.
struct Mpeg4CoefEntry {
  uint8_t len;    // 0 = no code starts with these bits
  uint8_t last;
  uint8_t run;
  uint8_t level;  // 0 = escape (or no code)
};
constexpr int kMpeg4TcoefBits = 12;

// The forward TCOEF lookup of `table` (1 << kMpeg4TcoefBits entries), built
// once; for readers that decode many events in a row and hand escapes to
// Mpeg4ReadEvent.
const Mpeg4CoefEntry* Mpeg4CoefLookup(Mpeg4CoefTable table);

// One event of the short video header (H.263 TCOEF table and escape).
bool Mpeg4ReadShortHeaderEvent(Mpeg4Bits& bits, Mpeg4Event* event);
// One reversible VLC event read forward.
bool Mpeg4ReadRvlcEvent(Mpeg4Bits& bits, Mpeg4CoefTable table, Mpeg4Event* event);
// One reversible VLC event read backwards from bit position *end, which moves
// back over it. Stops at `begin`.
bool Mpeg4ReadRvlcEventBackward(const Mpeg4Bits& bits, uint64_t begin, uint64_t* end,
                                Mpeg4CoefTable table, Mpeg4Event* event);

// LMAX and RMAX of the escape modes (for tests): by table, last and run/level.
int Mpeg4MaxLevel(Mpeg4CoefTable table, int last, int run);
int Mpeg4MaxRun(Mpeg4CoefTable table, int last, int level);

// Checks that every code list builds a prefix-free lookup (for tests): 0 when
// all are sound, else the number of conflicts found.
int Mpeg4VlcSelfCheck();

}  // namespace videodec
