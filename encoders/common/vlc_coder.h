#pragma once
// Variable-length coding of intra DC values, transform-coefficient events and
// whole blocks (ISO/IEC 14496-2 6.3.8 and Annex B; ITU-T H.263 5.4.2). Each
// routine returns the bits it wrote.

#include <cstdint>

#include "encoders/common/bit_writer.h"

namespace venc {

// dct_dc_size (Table B-13 for blocks 0-3, B-14 for 4-5) and dct_dc_differential,
// with the marker bit after sizes above 8.
int PutIntraDc(BitWriter& w, int value, int blockIndex);
// H.263 INTRADC: 8 bits, 128 written as 255.
int PutShortHeaderIntraDc(BitWriter& w, int value);

// One (last, run, level) event, level != 0, with the intra table (Table B-16)
// and the three MPEG-4 escape modes.
int PutIntraEvent(BitWriter& w, int last, int run, int level);
// The same with the inter table (Table B-17); in short-header mode events
// outside the table take the 22-bit H.263 escape.
int PutInterEvent(BitWriter& w, int last, int run, int level, bool shortHeader);
// ITU-T H.263 TCOEF (Table 16) with its 22-bit escape; with `extendedLevel`
// (Annex T) a level beyond +-127 takes the 33-bit escape with EXTENDED-LEVEL.
int PutH263Event(BitWriter& w, int last, int run, int level, bool extendedLevel);
// Reversible VLC events (Table B-23), the 30-bit RVLC escape outside it.
int PutIntraEventRvlc(BitWriter& w, int last, int run, int level);
int PutInterEventRvlc(BitWriter& w, int last, int run, int level);

// The `count` non-zero coefficients of a block from scan position `start`,
// as events (the last with last = 1).
int PutIntraBlock(BitWriter& w, const int16_t* coefficients, int start, const uint8_t* scan, int count);
int PutInterBlock(BitWriter& w, const int16_t* coefficients, int start, bool shortHeader, int count);
int PutH263Block(BitWriter& w, const int16_t* coefficients, int start, int count, bool extendedLevel);
// Reversible VLC blocks.
int PutIntraBlockRvlc(BitWriter& w, const int16_t* coefficients, int start, const uint8_t* scan);
int PutInterBlockRvlc(BitWriter& w, const int16_t* coefficients, int count);

// Both components of a motion vector difference (half-pel units) with
// f_code 1-7 (ISO/IEC 14496-2 7.6.3): each brought into [-32f, 32f - 1],
// then motion_code (Table B-12) with its sign and the motion_residual.
int PutMvd(BitWriter& w, int dx, int dy, int fcode);

// The coded block pattern of six blocks (6 x 64 levels, raster order): bit 5
// for block 0 ... bit 0 for block 5, set where a level from raster index
// `firstCoef` on is non-zero.
int CodedBlockPattern(const int16_t* blocks, int firstCoef);

// Two-bit DQUANT code of a quantiser difference -2..2 (0 is never coded).
uint32_t DquantCode(int dquant);

}  // namespace venc
