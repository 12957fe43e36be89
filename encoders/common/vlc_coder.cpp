#include "encoders/common/vlc_coder.h"

#include "encoders/common/encoder_tables.h"
#include "encoders/common/vlc_tables.h"

namespace venc {
namespace {

// ISO/IEC 14496-2 Table B-17/B-16 escape code.
constexpr uint32_t kEscape = 0b0000011;
constexpr uint32_t kEscapeLength = 7;

inline int PutCodeWithSign(BitWriter& w, const VlcCode& c, int negative) {
  PutBits(w, c.length + 1u, (uint32_t{c.code} << 1) | static_cast<uint32_t>(negative));
  return c.length + 1;
}

int PutMpeg4Event(BitWriter& w, const TcoefTable& table, int last, int run, int level) {
  const int negative = level < 0 ? 1 : 0;
  const int mag = negative ? -level : level;
  if (const VlcCode* c = table.Find(last, run, mag)) return PutCodeWithSign(w, *c, negative);
  // Escape mode 1: level reduced by LMAX.
  const int lmax = run <= TcoefTable::kMaxRun ? table.maxLevel[last][run] : 0;
  if (lmax > 0 && mag > lmax) {
    if (const VlcCode* c = table.Find(last, run, mag - lmax)) {
      PutBits(w, kEscapeLength + 1, kEscape << 1);
      return static_cast<int>(kEscapeLength) + 1 + PutCodeWithSign(w, *c, negative);
    }
  }
  // Escape mode 2: run reduced by RMAX + 1.
  const int rmax = mag <= TcoefTable::kMaxLevel ? table.maxRun[last][mag] : -1;
  if (rmax >= 0 && run - (rmax + 1) >= 0) {
    if (const VlcCode* c = table.Find(last, run - (rmax + 1), mag)) {
      PutBits(w, kEscapeLength + 2, (kEscape << 2) | 0b10);
      return static_cast<int>(kEscapeLength) + 2 + PutCodeWithSign(w, *c, negative);
    }
  }
  // Escape mode 3: fixed length, 12-bit two's complement level.
  PutBits(w, kEscapeLength + 2, (kEscape << 2) | 0b11);
  PutBits(w, 1, static_cast<uint32_t>(last));
  PutBits(w, 6, static_cast<uint32_t>(run));
  PutBits(w, 1, 1);
  PutBits(w, 12, static_cast<uint32_t>(level) & 0xFFF);
  PutBits(w, 1, 1);
  return 30;
}

// PutMpeg4Event with the table's own codes inline, escapes out of line.
[[gnu::always_inline]] inline int PutTableEvent(BitWriter& w, const TcoefTable& table, int last, int run, int level) {
  const int negative = level < 0 ? 1 : 0;
  const int mag = negative ? -level : level;
  if (const VlcCode* c = table.Find(last, run, mag)) return PutCodeWithSign(w, *c, negative);
  return PutMpeg4Event(w, table, last, run, level);
}

// The `count` non-zero coefficients of a block from scan position `start` as
// (last, run, level) events through `put`.
template <typename PutEvent>
int PutEvents(const int16_t* coefficients, int start, const uint8_t* scan, int count, PutEvent put) {
  // The scan positions and levels of the non-zero coefficients first, without
  // a branch on each level: in a coded block whether the next one is zero is
  // close to a coin toss.
  uint8_t position[64];
  int16_t levels[64];
  int found = 0;
  for (int i = start; i < 64 && found < count; ++i) {
    const int16_t level = coefficients[scan[i]];
    position[found] = static_cast<uint8_t>(i);
    levels[found] = level;
    found += level != 0 ? 1 : 0;
  }
  int bits = 0, next = start;
  for (int k = 0; k < found; ++k) {
    bits += put(k + 1 == count ? 1 : 0, position[k] - next, levels[k]);
    next = position[k] + 1;
  }
  return bits;
}

int PutRvlcEvent(BitWriter& w, const RvlcTable& table, int last, int run, int level) {
  const int negative = level < 0 ? 1 : 0;
  const int mag = negative ? -level : level;
  if (const VlcCode* c = table.Find(last, run, mag)) return PutCodeWithSign(w, *c, negative);
  // ISO/IEC 14496-2 6.3.8: ESCAPE, LAST, RUN, marker, LEVEL, marker, ESCAPE, sign.
  PutBits(w, 5, 0b00001);
  PutBits(w, 1, static_cast<uint32_t>(last));
  PutBits(w, 6, static_cast<uint32_t>(run));
  PutBits(w, 1, 1);
  PutBits(w, 11, static_cast<uint32_t>(mag) & 0x7FF);
  PutBits(w, 1, 1);
  PutBits(w, 4, 0b0000);
  PutBits(w, 1, static_cast<uint32_t>(negative));
  return 30;
}

}  // namespace

int PutIntraDc(BitWriter& w, int value, int blockIndex) {
  const int mag = value < 0 ? -value : value;
  int size = 0;
  while ((mag >> size) != 0) ++size;
  const VlcCode& c = blockIndex < 4 ? kDcSizeLumaTable[size] : kDcSizeChromaTable[size];
  PutBits(w, c.length, c.code);
  int bits = c.length;
  if (size > 0) {
    const uint32_t diff = value < 0 ? static_cast<uint32_t>(value + (1 << size) - 1) : static_cast<uint32_t>(value);
    PutBits(w, static_cast<uint32_t>(size), diff);
    bits += size;
    if (size > 8) {
      PutBits(w, 1, 1);
      ++bits;
    }
  }
  return bits;
}

int PutShortHeaderIntraDc(BitWriter& w, int value) {
  PutBits(w, 8, value == 128 ? 255u : static_cast<uint32_t>(value) & 0xFF);
  return 8;
}

int PutIntraEvent(BitWriter& w, int last, int run, int level) {
  return PutMpeg4Event(w, kIntraTcoef, last, run, level);
}

int PutInterEvent(BitWriter& w, int last, int run, int level, bool shortHeader) {
  if (!shortHeader) return PutMpeg4Event(w, kInterTcoef, last, run, level);
  return PutH263Event(w, last, run, level, false);
}

int PutH263Event(BitWriter& w, int last, int run, int level, bool extendedLevel) {
  const int negative = level < 0 ? 1 : 0;
  const int mag = negative ? -level : level;
  if (const VlcCode* c = kInterTcoef.Find(last, run, mag)) return PutCodeWithSign(w, *c, negative);
  // ITU-T H.263 5.4.2: ESCAPE, LAST, RUN (6 bits), LEVEL (8 bits).
  PutBits(w, kEscapeLength + 7, (kEscape << 7) | static_cast<uint32_t>(last << 6 | run));
  if (extendedLevel && mag > 127) {
    // Annex T.4: LEVEL 10000000, then the 11-bit EXTENDED-LEVEL, its 5 low
    // bits first.
    const uint32_t v = static_cast<uint32_t>(level) & 0x7FF;
    PutBits(w, 8, 0x80);
    PutBits(w, 11, ((v & 0x1F) << 6) | (v >> 5));
    return 33;
  }
  PutBits(w, 8, static_cast<uint32_t>(level) & 0xFF);
  return 22;
}

int PutIntraEventRvlc(BitWriter& w, int last, int run, int level) {
  return PutRvlcEvent(w, kIntraRvlc, last, run, level);
}

int PutInterEventRvlc(BitWriter& w, int last, int run, int level) {
  return PutRvlcEvent(w, kInterRvlc, last, run, level);
}

int PutIntraBlock(BitWriter& w, const int16_t* coefficients, int start, const uint8_t* scan, int count) {
  return PutEvents(coefficients, start, scan, count,
                   [&](int last, int run, int level) { return PutTableEvent(w, kIntraTcoef, last, run, level); });
}

int PutInterBlock(BitWriter& w, const int16_t* coefficients, int start, bool shortHeader, int count) {
  if (shortHeader) {
    return PutEvents(coefficients, start, kZigzagScan, count,
                     [&](int last, int run, int level) { return PutH263Event(w, last, run, level, false); });
  }
  return PutEvents(coefficients, start, kZigzagScan, count,
                   [&](int last, int run, int level) { return PutTableEvent(w, kInterTcoef, last, run, level); });
}

int PutH263Block(BitWriter& w, const int16_t* coefficients, int start, int count, bool extendedLevel) {
  return PutEvents(coefficients, start, kZigzagScan, count,
                   [&](int last, int run, int level) { return PutH263Event(w, last, run, level, extendedLevel); });
}

int PutIntraBlockRvlc(BitWriter& w, const int16_t* coefficients, int start, const uint8_t* scan) {
  int bits = 0, run = 0, pendingRun = 0, pendingLevel = 0;
  for (int i = start; i < 64; ++i) {
    const int level = coefficients[scan[i]];
    if (level == 0) {
      ++run;
      continue;
    }
    if (pendingLevel != 0) bits += PutIntraEventRvlc(w, 0, pendingRun, pendingLevel);
    pendingRun = run;
    pendingLevel = level;
    run = 0;
  }
  if (pendingLevel != 0) bits += PutIntraEventRvlc(w, 1, pendingRun, pendingLevel);
  return bits;
}

int PutInterBlockRvlc(BitWriter& w, const int16_t* coefficients, int count) {
  return PutEvents(coefficients, 0, kZigzagScan, count,
                   [&](int last, int run, int level) { return PutInterEventRvlc(w, last, run, level); });
}

int CodedBlockPattern(const int16_t* blocks, int firstCoef) {
  int cbp = 0;
  for (int b = 0; b < 6; ++b) {
    cbp <<= 1;
    const int16_t* blk = blocks + 64 * b;
    for (int i = firstCoef; i < 64; ++i) {
      if (blk[i] != 0) {
        cbp |= 1;
        break;
      }
    }
  }
  return cbp;
}

static int PutMvdComponent(BitWriter& w, int v, int rSize) {
  const int f = 1 << rSize;
  if (v < -32 * f) v += 64 * f;
  if (v > 32 * f - 1) v -= 64 * f;
  if (v == 0) {
    PutBits(w, kMvdTable[0].length, kMvdTable[0].code);
    return kMvdTable[0].length;
  }
  const int mag = v < 0 ? -v : v;
  const int h = f + mag - 1;
  const int motionCode = h >> rSize;
  const VlcCode& c = kMvdTable[motionCode];
  PutBits(w, c.length + 1u, (uint32_t{c.code} << 1) | (v < 0 ? 1u : 0u));
  int bits = c.length + 1;
  if (rSize > 0) {
    PutBits(w, static_cast<uint32_t>(rSize), static_cast<uint32_t>(h & (f - 1)));
    bits += rSize;
  }
  return bits;
}

int PutMvd(BitWriter& w, int dx, int dy, int fcode) {
  const int rSize = fcode - 1;
  return PutMvdComponent(w, dx, rSize) + PutMvdComponent(w, dy, rSize);
}

uint32_t DquantCode(int dquant) {
  switch (dquant) {
    case -1: return 0b00;
    case -2: return 0b01;
    case 1: return 0b10;
    default: return 0b11;
  }
}

}  // namespace venc
