#pragma once
// Lookup tables for the CAVLC codes of ITU-T H.264 9.2, built once from the
// (length, code) tables of h264_tables.cpp. A code is found by its number of
// leading zero bits and the few bits that follow the first one bit.

#include <cstdint>

#include "codecs/videodec/h264/h264_bitreader.h"

namespace videodec {
namespace h264 {

struct VlcEntry {
  uint8_t len;    // 0: no code
  uint8_t value;
};

struct Vlc {
  uint8_t bits[33];      // bits looked at after the leading one, per leading-zero count
  uint16_t offset[33];   // first entry per leading-zero count
  VlcEntry entries[512];
  VlcEntry first8[256];  // codes of at most 8 bits by the next 8 bits; len 0: longer or none
};

struct CavlcTables {
  Vlc coeff_token[5];   // nC classes of Table 9-5; value = TotalCoeff * 4 + TrailingOnes
  Vlc total_zeros[15];  // by TotalCoeff - 1
  Vlc total_zeros_dc[3];
  Vlc run_before[7];    // by min(zerosLeft, 7) - 1
};

const CavlcTables& GetCavlcTables();

// Decoded value, or -1 when the bits match no code.
inline int ReadVlc(const Vlc& vlc, BitReader& br) {
  const uint32_t v = br.Show(32);
  // The frequent short codes in one lookup.
  const VlcEntry s = vlc.first8[v >> 24];
  if (s.len != 0) {
    br.Skip(s.len);
    return s.value;
  }
  const int lz = v ? __builtin_clz(v) : 32;
  const int k = vlc.bits[lz];
  // The k bits after the leading one, 0 when k is 0 (no branch: k varies
  // from code to code and a mispredicted jump costs more than the shifts).
  const uint32_t idx = uint32_t((((uint64_t(v) << 32) << (lz + 1)) >> 1) >> (63 - k));
  const VlcEntry e = vlc.entries[vlc.offset[lz] + idx];
  if (e.len == 0) return -1;
  br.Skip(e.len);
  return e.value;
}

}  // namespace h264
}  // namespace videodec
