#pragma once
// Huffman decoding of scale factors and spectral values (ISO/IEC 14496-3
// 4.6.3), through two-level lookup tables built once from the code tables.

#include <cstdint>

#include "codecs/heaac/aac_bit_reader.h"

namespace heaac {

extern const uint32_t kScaleFactorCodes[121];
extern const uint32_t* const kSpectralCodes[11];

// Codebook descriptors for books 1..11 (index 0 unused).
struct SpectralBook {
  uint8_t isUnsigned;
  uint8_t dimension;   // 4 (quads) or 2 (pairs)
  uint8_t largestAbs;
  uint8_t maxLength;
  uint8_t modulus;
  uint16_t size;       // number of code words
};
extern const SpectralBook kSpectralBooks[12];

// The decoding tables: a first level on kAacHuffRootBits bits whose leaf
// entries hold the code length in bits 16-23 and the index in the bits of
// kAacHuffIndexMask; an entry with kAacHuffSubFlag points to a second level
// (offset in bits 0-19, its width in bits 24-28) indexed by the bits after
// the first kAacHuffRootBits (aac_huffman.cpp builds them).
inline constexpr int kAacHuffRootBits = 8;
inline constexpr uint32_t kAacHuffSubFlag = 0x80000000u;
inline constexpr uint32_t kAacHuffIndexMask = 0x1FF;

// One code word through `table`: its index, or -1 when none matches.
inline int32_t AacDecodeCode(AacBitReader* r, const uint32_t* table) {
  const uint32_t bits = AacShowBits(r, 32);
  uint32_t e = table[bits >> (32 - kAacHuffRootBits)];
  if (e & kAacHuffSubFlag) {
    const int width = static_cast<int>((e >> 24) & 0x1F);
    e = table[(e & 0xFFFFF) + ((bits << kAacHuffRootBits) >> (32 - width))];
  }
  const int len = static_cast<int>((e >> 16) & 0xFF);
  if (len == 0) return -1;
  AacSkipBits(r, static_cast<uint32_t>(len));
  return static_cast<int32_t>(e & kAacHuffIndexMask);
}

// The scale-factor book's table, for loops over many code words.
const uint32_t* AacScaleFactorTable();
// Decodes one code word of the scale-factor book (index 0..120), or -1 when
// no code word matches (cannot happen: the book is complete).
int32_t AacDecodeScaleFactor(AacBitReader* r);

// Decodes one code word of spectral book 1..11 and returns its index, or -1.
int32_t AacDecodeSpectralIndex(AacBitReader* r, int book);

// Decodes one code word of `book` with its sign bits and escapes into `out`
// (4 or 2 values). false on a stream error (escape with N above 8).
bool AacDecodeSpectralValues(AacBitReader* r, int book, int32_t* out);

// The decoding tables of one spectral book, for loops over many code words.
struct SpectralDecoder {
  const uint32_t* table;
  const int8_t (*values)[4];
  int book;
};
SpectralDecoder AacSpectralDecoder(int book);
bool AacDecodeSpectralValues(AacBitReader* r, const SpectralDecoder& dec, int32_t* out);
// The code words of one band, `width` values (a multiple of the book's
// dimension) into `out`, and the largest magnitude among them into *peak:
// false on a stream error or once the reader has passed its buffer's end
// before a code word.
bool AacDecodeSpectralBand(AacBitReader* r, const SpectralDecoder& dec, int32_t* out, int width, uint32_t* peak);

}  // namespace heaac
