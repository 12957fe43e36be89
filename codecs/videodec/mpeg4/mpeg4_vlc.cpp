#include "codecs/videodec/mpeg4/mpeg4_vlc.h"

#include <climits>

#include "codecs/videodec/mpeg4/mpeg4_tables.h"

namespace videodec {
namespace {

// A lookup entry of a small code: value in the low 9 bits, length above.
constexpr int kLenShift = 9;

using CoefEntry = Mpeg4CoefEntry;

constexpr int kTcoefBits = kMpeg4TcoefBits;
constexpr int kRvlcBits = 15;
constexpr int kMcbpcBits = 9;
constexpr int kCbpyBits = 6;
constexpr int kMvdBits = 12;
constexpr int kDcLumaBits = 11;
constexpr int kDcChromaBits = 12;

struct CoefTable {
  CoefEntry forward[1 << kTcoefBits];
  uint8_t lmax[2][64];
  uint8_t rmax[2][64];  // RMAX + 1 by level, 0 beyond the table
};

struct RvlcTable {
  CoefEntry forward[1 << kRvlcBits];
  CoefEntry backward[1 << kRvlcBits];  // indexed by the bit-reversed code
  uint8_t lmax[2][64];
};

struct Tables {
  CoefTable coef[2];
  RvlcTable rvlc[2];
  uint16_t mcbpc_intra[1 << kMcbpcBits];
  uint16_t mcbpc_inter[1 << kMcbpcBits];
  uint16_t cbpy[1 << kCbpyBits];
  uint16_t mvd[1 << kMvdBits];
  uint16_t dc_luma[1 << kDcLumaBits];
  uint16_t dc_chroma[1 << kDcChromaBits];
  int conflicts = 0;
};

uint32_t Reverse(uint32_t v, int n) {
  uint32_t r = 0;
  for (int i = 0; i < n; ++i) r |= ((v >> i) & 1u) << (n - 1 - i);
  return r;
}

template <typename Entry>
void Place(Entry* lut, int bits, uint32_t code, int len, Entry value, int* conflicts,
           bool (*is_set)(const Entry&)) {
  const int free_bits = bits - len;
  const uint32_t base = code << free_bits;
  for (uint32_t i = 0; i < (1u << free_bits); ++i) {
    if (is_set(lut[base | i])) ++*conflicts;
    lut[base | i] = value;
  }
}

bool SmallSet(const uint16_t& e) { return e != 0; }
bool CoefSet(const CoefEntry& e) { return e.len != 0; }

void PlaceSmall(uint16_t* lut, int bits, const Mpeg4Code* codes, int count, int* conflicts) {
  for (int i = 0; i < count; ++i) {
    const uint16_t entry = static_cast<uint16_t>(i | (codes[i].len << kLenShift));
    Place<uint16_t>(lut, bits, codes[i].code, codes[i].len, entry, conflicts, SmallSet);
  }
}

// Walks a (last, run, level) ordered code list with its LMAX limits.
template <typename Fn>
void ForEachEvent(const Mpeg4LevelLimits& limits, Fn fn) {
  int index = 0;
  for (int last = 0; last < 2; ++last) {
    const uint8_t* lmax = last ? limits.last1 : limits.last0;
    const int runs = last ? limits.runs1 : limits.runs0;
    for (int run = 0; run < runs; ++run) {
      for (int level = 1; level <= lmax[run]; ++level) fn(index++, last, run, level);
    }
  }
}

void FillLimits(const Mpeg4LevelLimits& limits, uint8_t lmax[2][64], uint8_t* rmax0, uint8_t* rmax1) {
  for (int last = 0; last < 2; ++last) {
    const uint8_t* l = last ? limits.last1 : limits.last0;
    const int runs = last ? limits.runs1 : limits.runs0;
    uint8_t* rmax = last ? rmax1 : rmax0;
    for (int run = 0; run < 64; ++run) lmax[last][run] = run < runs ? l[run] : 0;
    if (!rmax) continue;
    for (int level = 0; level < 64; ++level) rmax[level] = 0;
    for (int run = 0; run < runs; ++run) {
      for (int level = 1; level <= l[run] && level < 64; ++level) rmax[level] = static_cast<uint8_t>(run + 1);
    }
  }
}

void BuildCoef(CoefTable& t, const Mpeg4Code* codes, const Mpeg4LevelLimits& limits, int* conflicts) {
  ForEachEvent(limits, [&](int i, int last, int run, int level) {
    const CoefEntry e{codes[i].len, static_cast<uint8_t>(last), static_cast<uint8_t>(run),
                      static_cast<uint8_t>(level)};
    Place<CoefEntry>(t.forward, kTcoefBits, codes[i].code, codes[i].len, e, conflicts, CoefSet);
  });
  const int escape = 102;
  Place<CoefEntry>(t.forward, kTcoefBits, codes[escape].code, codes[escape].len,
                   CoefEntry{codes[escape].len, 0, 0, 0}, conflicts, CoefSet);
  FillLimits(limits, t.lmax, t.rmax[0], t.rmax[1]);
}

void BuildRvlc(RvlcTable& t, const Mpeg4Code* codes, const Mpeg4LevelLimits& limits, int* conflicts) {
  auto place = [&](const Mpeg4Code& c, CoefEntry e) {
    Place<CoefEntry>(t.forward, kRvlcBits, c.code, c.len, e, conflicts, CoefSet);
    Place<CoefEntry>(t.backward, kRvlcBits, Reverse(c.code, c.len), c.len, e, conflicts, CoefSet);
  };
  ForEachEvent(limits, [&](int i, int last, int run, int level) {
    place(codes[i], CoefEntry{codes[i].len, static_cast<uint8_t>(last), static_cast<uint8_t>(run),
                              static_cast<uint8_t>(level)});
  });
  place(codes[169], CoefEntry{codes[169].len, 0, 0, 0});
  FillLimits(limits, t.lmax, nullptr, nullptr);
}

Tables* BuildTables() {
  static Tables tables;  // built once, read-only afterwards
  Tables& t = tables;
  int* c = &t.conflicts;
  BuildCoef(t.coef[kMpeg4TableIntra], kMpeg4IntraTcoef, kMpeg4IntraLimits, c);
  BuildCoef(t.coef[kMpeg4TableInter], kMpeg4InterTcoef, kMpeg4InterLimits, c);
  BuildRvlc(t.rvlc[kMpeg4TableIntra], kMpeg4IntraRvlc, kMpeg4IntraRvlcLimits, c);
  BuildRvlc(t.rvlc[kMpeg4TableInter], kMpeg4InterRvlc, kMpeg4InterRvlcLimits, c);
  PlaceSmall(t.mcbpc_intra, kMcbpcBits, kMpeg4McbpcIntra, 9, c);
  PlaceSmall(t.mcbpc_inter, kMcbpcBits, kMpeg4McbpcInter, 21, c);
  PlaceSmall(t.cbpy, kCbpyBits, kMpeg4Cbpy, 16, c);
  PlaceSmall(t.mvd, kMvdBits, kMpeg4Mvd, 33, c);
  PlaceSmall(t.dc_luma, kDcLumaBits, kMpeg4DcSizeLuma, 13, c);
  PlaceSmall(t.dc_chroma, kDcChromaBits, kMpeg4DcSizeChroma, 13, c);
  return &t;
}

const Tables& T() {
  static const Tables* tables = BuildTables();
  return *tables;
}

// Reads a small code: its table index, or -1.
inline int ReadSmall(Mpeg4Bits& bits, const uint16_t* lut, int lut_bits) {
  const uint16_t e = lut[bits.Show(lut_bits)];
  if (e == 0) return -1;
  bits.Skip(e >> kLenShift);
  return e & ((1 << kLenShift) - 1);
}

}  // namespace

int Mpeg4ReadMcbpcIntra(Mpeg4Bits& bits) {
  const int i = ReadSmall(bits, T().mcbpc_intra, kMcbpcBits);
  if (i < 0) return -1;
  if (i == 8) return kMpeg4Stuffing;
  return (3 + i / 4) | ((i & 3) << 4);
}

int Mpeg4ReadMcbpcInter(Mpeg4Bits& bits) {
  const int i = ReadSmall(bits, T().mcbpc_inter, kMcbpcBits);
  if (i < 0) return -1;
  if (i == 20) return kMpeg4Stuffing;
  return (i / 4) | ((i & 3) << 4);
}

int Mpeg4ReadCbpy(Mpeg4Bits& bits) { return ReadSmall(bits, T().cbpy, kCbpyBits); }

int Mpeg4ReadMvd(Mpeg4Bits& bits, int fcode) {
  const int magnitude = ReadSmall(bits, T().mvd, kMvdBits);
  if (magnitude < 0) return INT_MIN;
  if (magnitude == 0) return 0;
  const bool negative = bits.Read1() != 0;
  int diff = magnitude;
  if (fcode > 1) {
    const int residual = static_cast<int>(bits.Read(fcode - 1));
    diff = ((magnitude - 1) << (fcode - 1)) + residual + 1;
  }
  return negative ? -diff : diff;
}

bool Mpeg4ReadDcDifferential(Mpeg4Bits& bits, bool luma, int* differential) {
  const int size = luma ? ReadSmall(bits, T().dc_luma, kDcLumaBits)
                        : ReadSmall(bits, T().dc_chroma, kDcChromaBits);
  if (size < 0) return false;
  if (size == 0) {
    *differential = 0;
    return true;
  }
  const int v = static_cast<int>(bits.Read(size));
  // A leading 0 marks a negative value (Table B-15).
  *differential = (v >> (size - 1)) ? v : v - (1 << size) + 1;
  if (size > 8 && bits.Read1() == 0) return false;
  return true;
}

int Mpeg4MaxLevel(Mpeg4CoefTable table, int last, int run) {
  return run < 64 ? T().coef[table].lmax[last & 1][run] : 0;
}

int Mpeg4MaxRun(Mpeg4CoefTable table, int last, int level) {
  return level < 64 ? T().coef[table].rmax[last & 1][level] - 1 : -1;
}

const Mpeg4CoefEntry* Mpeg4CoefLookup(Mpeg4CoefTable table) { return T().coef[table].forward; }

bool Mpeg4ReadEvent(Mpeg4Bits& bits, Mpeg4CoefTable table, Mpeg4Event* event) {
  const CoefTable& t = T().coef[table];
  CoefEntry e = t.forward[bits.Show(kTcoefBits)];
  if (e.len == 0) return false;
  bits.Skip(e.len);
  if (e.level != 0) {
    event->last = e.last;
    event->run = e.run;
    event->level = bits.Read1() ? -e.level : e.level;
    return true;
  }
  // Escape (7.4.1.3).
  if (bits.Read1() == 0) {
    // Mode 1: level offset by LMAX.
    e = t.forward[bits.Show(kTcoefBits)];
    if (e.len == 0 || e.level == 0) return false;
    bits.Skip(e.len);
    const int level = e.level + t.lmax[e.last][e.run];
    event->last = e.last;
    event->run = e.run;
    event->level = bits.Read1() ? -level : level;
    return true;
  }
  if (bits.Read1() == 0) {
    // Mode 2: run offset by RMAX + 1.
    e = t.forward[bits.Show(kTcoefBits)];
    if (e.len == 0 || e.level == 0) return false;
    bits.Skip(e.len);
    event->last = e.last;
    event->run = e.run + t.rmax[e.last][e.level];
    event->level = bits.Read1() ? -e.level : e.level;
    return true;
  }
  // Mode 3: fixed-length last, run, marker, 12-bit level, marker.
  const uint32_t v = bits.Read(21);
  const int marker1 = static_cast<int>((v >> 13) & 1);
  const int marker2 = static_cast<int>(v & 1);
  int level = static_cast<int>((v >> 1) & 0xFFF);
  if (marker1 == 0 && marker2 == 0) return false;
  if ((level & 0x7FF) == 0) return false;  // 0 and -2048 are forbidden
  if (level & 0x800) level -= 0x1000;
  event->last = static_cast<int>(v >> 20);
  event->run = static_cast<int>((v >> 14) & 63);
  event->level = level;
  return true;
}

bool Mpeg4ReadShortHeaderEvent(Mpeg4Bits& bits, Mpeg4Event* event) {
  const CoefEntry e = T().coef[kMpeg4TableInter].forward[bits.Show(kTcoefBits)];
  if (e.len == 0) return false;
  bits.Skip(e.len);
  if (e.level != 0) {
    event->last = e.last;
    event->run = e.run;
    event->level = bits.Read1() ? -e.level : e.level;
    return true;
  }
  // H.263 escape: last (1), run (6), level (8, two's complement).
  const uint32_t v = bits.Read(15);
  int level = static_cast<int>(v & 0xFF);
  if (level == 0 || level == 128) return false;
  if (level & 0x80) level -= 0x100;
  event->last = static_cast<int>(v >> 14);
  event->run = static_cast<int>((v >> 8) & 63);
  event->level = level;
  return true;
}

bool Mpeg4ReadRvlcEvent(Mpeg4Bits& bits, Mpeg4CoefTable table, Mpeg4Event* event) {
  const RvlcTable& t = T().rvlc[table];
  const CoefEntry e = t.forward[bits.Show(kRvlcBits)];
  if (e.len == 0) return false;
  bits.Skip(e.len);
  if (e.level != 0) {
    event->last = e.last;
    event->run = e.run;
    event->level = bits.Read1() ? -e.level : e.level;
    return true;
  }
  // Escape: last (1), run (6), marker, level (11), marker, escape (4), sign.
  const uint32_t v = bits.Read(25);
  const uint32_t sign = v & 1;
  const uint32_t trailer = (v >> 1) & 15;
  const uint32_t marker2 = (v >> 5) & 1;
  const int level = static_cast<int>((v >> 6) & 0x7FF);
  const uint32_t marker1 = (v >> 17) & 1;
  if (!marker1 || !marker2 || trailer != 0 || level == 0) return false;
  event->last = static_cast<int>(v >> 24);
  event->run = static_cast<int>((v >> 18) & 63);
  event->level = sign ? -level : level;
  return true;
}

bool Mpeg4ReadRvlcEventBackward(const Mpeg4Bits& bits, uint64_t begin, uint64_t* end,
                                Mpeg4CoefTable table, Mpeg4Event* event) {
  const RvlcTable& t = T().rvlc[table];
  uint64_t pos = *end;
  if (pos < begin + 4) return false;
  const uint32_t sign = bits.ShowBefore(pos, 1);
  pos -= 1;
  const uint32_t window = bits.ShowBefore(pos, kRvlcBits);
  const CoefEntry e = t.backward[Reverse(window, kRvlcBits)];
  if (e.len == 0 || pos < begin + e.len) return false;
  pos -= e.len;
  if (e.level != 0) {
    event->last = e.last;
    event->run = e.run;
    event->level = sign ? -e.level : e.level;
    *end = pos;
    return true;
  }
  // Escape read backwards: last (1), run (6), marker, level (11), marker, then
  // the leading escape code.
  if (pos < begin + 24) return false;
  const uint32_t v = bits.ShowBefore(pos, 20);
  pos -= 20;
  const uint32_t lead = bits.ShowBefore(pos, 4);
  pos -= 4;
  const uint32_t marker2 = v & 1;
  const int level = static_cast<int>((v >> 1) & 0x7FF);
  const uint32_t marker1 = (v >> 12) & 1;
  if (!marker1 || !marker2 || lead != 0 || level == 0) return false;
  event->last = static_cast<int>(v >> 19);
  event->run = static_cast<int>((v >> 13) & 63);
  event->level = sign ? -level : level;
  *end = pos;
  return true;
}

int Mpeg4VlcSelfCheck() { return T().conflicts; }

}  // namespace videodec
