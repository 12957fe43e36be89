#include "codecs/heaac/aac_huffman.h"

#include <cstring>
#include <vector>

namespace heaac {

const SpectralBook kSpectralBooks[12] = {
    {0, 0, 0, 0, 0, 0},       {0, 4, 1, 11, 3, 81},     {0, 4, 1, 9, 3, 81},
    {1, 4, 2, 16, 3, 81},     {1, 4, 2, 12, 3, 81},     {0, 2, 4, 13, 9, 81},
    {0, 2, 4, 11, 9, 81},     {1, 2, 7, 12, 8, 64},     {1, 2, 7, 10, 8, 64},
    {1, 2, 12, 15, 13, 169},  {1, 2, 12, 12, 13, 169},  {1, 2, 16, 12, 17, 289},
};

namespace {

// First-level lookup on kRootBits bits. A leaf entry holds the code length in
// bits 16-23 and the index in bits 0-8; spectral books add the largest
// magnitude of the word's values in bits 9-13 (16 for an escape) and, with
// separate signs, the number of nonzero values, i.e. of sign bits, in bits
// 24-26. An entry
// with bit 31 set points to a second-level table (offset in bits 0-19, its
// width in bits 24-28) indexed by the bits after the first kRootBits.
constexpr int kRootBits = kAacHuffRootBits;
constexpr uint32_t kSubFlag = kAacHuffSubFlag;
constexpr uint32_t kIndexMask = kAacHuffIndexMask;
constexpr int kPeakShift = 9;

struct HuffLookup {
  std::vector<uint32_t> table;
};

HuffLookup BuildLookup(const uint32_t* codes, int count) {
  HuffLookup h;
  h.table.assign(1u << kRootBits, 0);
  // Longest code sharing each root prefix decides the width of its sub-table.
  int subWidth[1 << kRootBits] = {};
  for (int i = 0; i < count; ++i) {
    int len = static_cast<int>(codes[i] >> 24);
    uint32_t code = codes[i] & 0xFFFFFF;
    if (len > kRootBits) {
      uint32_t prefix = code >> (len - kRootBits);
      if (len - kRootBits > subWidth[prefix]) subWidth[prefix] = len - kRootBits;
    }
  }
  for (int p = 0; p < (1 << kRootBits); ++p) {
    if (subWidth[p] == 0) continue;
    uint32_t offset = static_cast<uint32_t>(h.table.size());
    h.table[p] = kSubFlag | (static_cast<uint32_t>(subWidth[p]) << 24) | offset;
    h.table.resize(h.table.size() + (1u << subWidth[p]), 0);
  }
  for (int i = 0; i < count; ++i) {
    int len = static_cast<int>(codes[i] >> 24);
    uint32_t code = codes[i] & 0xFFFFFF;
    uint32_t leaf = (static_cast<uint32_t>(len) << 16) | static_cast<uint32_t>(i);
    if (len <= kRootBits) {
      uint32_t first = code << (kRootBits - len);
      for (uint32_t k = 0; k < (1u << (kRootBits - len)); ++k) h.table[first + k] = leaf;
    } else {
      uint32_t prefix = code >> (len - kRootBits);
      uint32_t entry = h.table[prefix];
      int width = static_cast<int>((entry >> 24) & 0x1F);
      uint32_t offset = entry & 0xFFFFF;
      uint32_t rest = code & ((1u << (len - kRootBits)) - 1);
      uint32_t first = rest << (width - (len - kRootBits));
      for (uint32_t k = 0; k < (1u << (width - (len - kRootBits))); ++k) h.table[offset + first + k] = leaf;
    }
  }
  return h;
}

struct AllLookups {
  HuffLookup scale;
  HuffLookup books[12];
  // Code word index split into its values (before signs and escapes).
  int8_t values[12][289][4];
};

const AllLookups& Lookups() {
  static const AllLookups all = [] {
    AllLookups a{};
    a.scale = BuildLookup(kScaleFactorCodes, 121);
    for (int b = 1; b <= 11; ++b) {
      const SpectralBook& d = kSpectralBooks[b];
      a.books[b] = BuildLookup(kSpectralCodes[b - 1], d.size);
      for (int i = 0; i < d.size; ++i) {
        int v[4] = {};
        if (d.dimension == 4) {
          v[0] = i / 27;
          v[1] = (i / 9) % 3;
          v[2] = (i / 3) % 3;
          v[3] = i % 3;
        } else {
          v[0] = i / d.modulus;
          v[1] = i % d.modulus;
        }
        const int offset = d.isUnsigned ? 0 : (d.dimension == 4 ? 1 : d.largestAbs);
        for (int k = 0; k < d.dimension; ++k) a.values[b][i][k] = static_cast<int8_t>(v[k] - offset);
      }
      for (uint32_t& e : a.books[b].table) {
        if ((e & kSubFlag) || ((e >> 16) & 0xFF) == 0) continue;
        uint32_t signs = 0, peak = 0;
        for (int k = 0; k < d.dimension; ++k) {
          const int8_t value = a.values[b][e & kIndexMask][k];
          signs += value != 0;
          const uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
          if (magnitude > peak) peak = magnitude;
        }
        e |= peak << kPeakShift;
        if (d.isUnsigned) e |= signs << 24;
      }
    }
    return a;
  }();
  return all;
}

// The escape sequences of book 11 after the sign bits, for the values of
// magnitude 16: N ones, a zero, then N + 4 bits; N above 8 would exceed the
// 13-bit magnitude the standard allows.
// *peak rises to the largest magnitude read.
bool ReadEscapes(AacBitReader* r, int32_t* out, int n, uint32_t* peak) {
  for (int i = 0; i < n; ++i) {
    const int32_t a = out[i] < 0 ? -out[i] : out[i];
    if (a != 16) continue;
    int count = 0;
    while (AacGetBits(r, 1)) {
      if (++count > 8) return false;
    }
    const int32_t value = (1 << (count + 4)) + static_cast<int32_t>(AacGetBits(r, count + 4));
    out[i] = out[i] < 0 ? -value : value;
    if (static_cast<uint32_t>(value) > *peak) *peak = static_cast<uint32_t>(value);
  }
  return true;
}

// One code word of a book of kDim values from `bits` (the next 32 bits of
// the stream, or at least the next 20 of them), with its sign bits after it
// when kUnsigned: the values go to o, *escape tells whether one of them is
// 16 (book 11 then reads escapes), *peak rises to the largest magnitude.
// Returns the bits taken, 0 for a word no code matches.
template <int kDim, bool kUnsigned, bool kEscape>
inline int DecodeWord(uint32_t bits, const SpectralDecoder& dec, int32_t* o, bool* escape, uint32_t* peak) {
  uint32_t e = dec.table[bits >> (32 - kRootBits)];
  if (e & kSubFlag) {
    const int subWidth = static_cast<int>((e >> 24) & 0x1F);
    e = dec.table[(e & 0xFFFFF) + ((bits << kRootBits) >> (32 - subWidth))];
  }
  const int len = static_cast<int>((e >> 16) & 0xFF);
  if (len == 0) return 0;
  const uint32_t magnitude = (e >> kPeakShift) & 31;
  *peak = magnitude > *peak ? magnitude : *peak;
  const int8_t* v = dec.values[e & kIndexMask];
  if (!kUnsigned) {
    for (int i = 0; i < kDim; ++i) o[i] = v[i];
    return len;
  }
  int left = static_cast<int>((e >> 24) & 7);
  const int taken = len + left;
  // (bits << len) >> (32 - left) in two steps, defined for left 0 as well.
  const uint32_t signs = ((bits << len) >> 1) >> (31 - left);
  // Each nonzero value takes the next sign bit, without a branch: signs
  // of noise-like spectra are unpredictable.
  bool sixteen = false;
  for (int i = 0; i < kDim; ++i) {
    const int32_t value = v[i];
    const int nonzero = value != 0;
    left -= nonzero;
    const int32_t negate = -static_cast<int32_t>((signs >> left) & static_cast<uint32_t>(nonzero));
    o[i] = (value ^ negate) - negate;
    if (kEscape) sixteen |= value == 16;
  }
  *escape = sixteen;
  return taken;
}

// The code words of one band in a book of kDim values, with sign bits after
// the code word when kUnsigned, and escapes after those when kEscape (book 11).
//
// A code word with its signs takes at most 20 bits, with its escapes at most
// 62 bits for two values, so a band of `width` values takes at most 4 x width
// bytes. When the buffer holds that many and 8 more, the words are taken from
// a 64-bit register refilled once fewer than 20 bits are left in it: the
// next word's look then waits on a shift of the register, not on a load.
// Otherwise each word is read through the reader, whose state is held
// locally (the values stored to `out` could alias its fields).
template <int kDim, bool kUnsigned, bool kEscape>
bool DecodeBand(AacBitReader* reader, const SpectralDecoder& dec, int32_t* out, int width, uint32_t* peakOut) {
  bool escape = false;
  uint32_t peak = 0;
  if (reader->byteIndex <= reader->length &&
      reader->length - reader->byteIndex >= 4u * static_cast<uint32_t>(width) + 8) {
    const uint8_t* start = reader->start;
    uint64_t pos = uint64_t{reader->byteIndex} * 8 + reader->bitIndex;
    const uint64_t first = pos;
    // At least 56 bits of the stream from pos, the first at bit 63.
    auto look = [&] {
      uint64_t word;
      std::memcpy(&word, start + (pos >> 3), 8);
      return __builtin_bswap64(word) << (pos & 7);
    };
    auto store = [&] {
      reader->bitsConsumed += static_cast<uint32_t>(pos - first);
      reader->byteIndex = static_cast<uint32_t>(pos >> 3);
      reader->bitIndex = static_cast<uint32_t>(pos & 7);
    };
    uint64_t buffer = look();
    int held = 56;
    for (int k = 0; k < width; k += kDim) {
      const uint32_t bits = static_cast<uint32_t>(buffer >> 32);
      const int taken = DecodeWord<kDim, kUnsigned, kEscape>(bits, dec, out + k, &escape, &peak);
      if (taken == 0) {
        store();
        return false;
      }
      pos += static_cast<uint64_t>(taken);
      buffer <<= taken;
      held -= taken;
      if (kEscape && escape) {
        store();
        if (!ReadEscapes(reader, out + k, kDim, &peak)) return false;
        const uint64_t after = uint64_t{reader->byteIndex} * 8 + reader->bitIndex;
        reader->bitsConsumed -= static_cast<uint32_t>(after - first);  // store() counts from `first` again
        pos = after;
        held = 0;
      }
      if (held < 20) {
        buffer = look();
        held = 56;
      }
    }
    store();
    *peakOut = peak;
    return true;
  }
  AacBitReader local = *reader;
  AacBitReader* r = &local;
  for (int k = 0; k < width; k += kDim) {
    if (AacReaderOverrun(r)) {
      *reader = local;
      return false;
    }
    // The code word and its sign bits (at most 16 + 4) from one look.
    const int taken = DecodeWord<kDim, kUnsigned, kEscape>(AacShowBits(r, 32), dec, out + k, &escape, &peak);
    if (taken == 0) {
      *reader = local;
      return false;
    }
    AacSkipBits(r, static_cast<uint32_t>(taken));
    if (kEscape && escape) {
      *reader = local;
      if (!ReadEscapes(reader, out + k, kDim, &peak)) return false;
      local = *reader;
    }
  }
  *reader = local;
  *peakOut = peak;
  return true;
}

}  // namespace

const uint32_t* AacScaleFactorTable() { return Lookups().scale.table.data(); }

int32_t AacDecodeScaleFactor(AacBitReader* r) { return AacDecodeCode(r, AacScaleFactorTable()); }

int32_t AacDecodeSpectralIndex(AacBitReader* r, int book) {
  return AacDecodeCode(r, Lookups().books[book].table.data());
}

SpectralDecoder AacSpectralDecoder(int book) {
  const AllLookups& all = Lookups();
  return SpectralDecoder{all.books[book].table.data(), all.values[book], book};
}

bool AacDecodeSpectralValues(AacBitReader* r, int book, int32_t* out) {
  return AacDecodeSpectralValues(r, AacSpectralDecoder(book), out);
}

bool AacDecodeSpectralBand(AacBitReader* r, const SpectralDecoder& dec, int32_t* out, int width, uint32_t* peak) {
  switch (dec.book) {
    case 1:
    case 2:
      return DecodeBand<4, false, false>(r, dec, out, width, peak);
    case 3:
    case 4:
      return DecodeBand<4, true, false>(r, dec, out, width, peak);
    case 5:
    case 6:
      return DecodeBand<2, false, false>(r, dec, out, width, peak);
    case 11:
      return DecodeBand<2, true, true>(r, dec, out, width, peak);
    default:
      return DecodeBand<2, true, false>(r, dec, out, width, peak);
  }
}

bool AacDecodeSpectralValues(AacBitReader* r, const SpectralDecoder& dec, int32_t* out) {
  const int book = dec.book;
  const int32_t index = AacDecodeCode(r, dec.table);
  if (index < 0) return false;
  const SpectralBook& d = kSpectralBooks[book];
  const int8_t* v = dec.values[index];
  const int n = d.dimension;
  for (int i = 0; i < n; ++i) out[i] = v[i];
  if (!d.isUnsigned) return true;
  for (int i = 0; i < n; ++i) {
    if (out[i] != 0 && AacGetBits(r, 1)) out[i] = -out[i];
  }
  uint32_t peak = 0;
  return book != 11 || ReadEscapes(r, out, n, &peak);
}

}  // namespace heaac
