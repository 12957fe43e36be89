#include "codecs/videodec/h264/h264_vlc.h"

#include <cstring>

#include "codecs/videodec/h264/h264_tables.h"

namespace videodec {
namespace h264 {
namespace {

struct Code {
  int len;
  uint32_t code;
  int value;
};

void Build(Vlc& vlc, const Code* codes, int n) {
  std::memset(&vlc, 0, sizeof(vlc));
  // Pass 1: bits needed after the leading one for each leading-zero count.
  for (int i = 0; i < n; ++i) {
    const Code& c = codes[i];
    if (c.len == 0 || c.code == 0) continue;
    const int lz = c.len - (32 - __builtin_clz(c.code));
    const int rest = c.len - lz - 1;
    if (rest > vlc.bits[lz]) vlc.bits[lz] = uint8_t(rest);
  }
  int off = 0;
  for (int lz = 0; lz <= 32; ++lz) {
    vlc.offset[lz] = uint16_t(off);
    off += 1 << vlc.bits[lz];
  }
  // Pass 2: fill the entries.
  for (int i = 0; i < n; ++i) {
    const Code& c = codes[i];
    if (c.len == 0) continue;
    if (c.code == 0) {
      // An all-zero code matches every word that starts with len zeros.
      for (int lz = c.len; lz <= 32; ++lz)
        for (int j = 0; j < (1 << vlc.bits[lz]); ++j)
          vlc.entries[vlc.offset[lz] + j] = VlcEntry{uint8_t(c.len), uint8_t(c.value)};
      continue;
    }
    const int lz = c.len - (32 - __builtin_clz(c.code));
    const int rest = c.len - lz - 1;
    const int k = vlc.bits[lz];
    const uint32_t suffix = c.code & ((1u << rest) - 1);
    const int first = int(suffix << (k - rest));
    for (int j = 0; j < (1 << (k - rest)); ++j)
      vlc.entries[vlc.offset[lz] + first + j] = VlcEntry{uint8_t(c.len), uint8_t(c.value)};
  }
  // Pass 3: codes of at most 8 bits by their first 8 bits. A code that short
  // is decided by those bits alone, whatever follows.
  for (int i = 0; i < n; ++i) {
    const Code& c = codes[i];
    if (c.len == 0 || c.len > 8) continue;
    const int first = int(c.code << (8 - c.len));
    for (int j = 0; j < (1 << (8 - c.len)); ++j)
      vlc.first8[first + j] = VlcEntry{uint8_t(c.len), uint8_t(c.value)};
  }
}

struct Builder {
  CavlcTables t;
  Builder() {
    Code codes[68];
    for (int cls = 0; cls < 5; ++cls) {
      const int n = cls == 4 ? 20 : 68;
      int m = 0;
      for (int i = 0; i < n; ++i)
        if (kCoeffTokenLen[cls][i]) codes[m++] = Code{kCoeffTokenLen[cls][i], kCoeffTokenCode[cls][i], i};
      Build(t.coeff_token[cls], codes, m);
    }
    for (int tc = 0; tc < 15; ++tc) {
      int m = 0;
      for (int z = 0; z < 16 - tc; ++z) codes[m++] = Code{kTotalZerosLen[tc][z], kTotalZerosCode[tc][z], z};
      Build(t.total_zeros[tc], codes, m);
    }
    for (int tc = 0; tc < 3; ++tc) {
      int m = 0;
      for (int z = 0; z < 4 - tc; ++z) codes[m++] = Code{kTotalZerosDcLen[tc][z], kTotalZerosDcCode[tc][z], z};
      Build(t.total_zeros_dc[tc], codes, m);
    }
    for (int zl = 0; zl < 7; ++zl) {
      int m = 0;
      const int runs = zl < 6 ? zl + 2 : 15;
      for (int r = 0; r < runs; ++r) codes[m++] = Code{kRunBeforeLen[zl][r], kRunBeforeCode[zl][r], r};
      Build(t.run_before[zl], codes, m);
    }
  }
};

}  // namespace

const CavlcTables& GetCavlcTables() {
  static const Builder builder;
  return builder.t;
}

}  // namespace h264
}  // namespace videodec
