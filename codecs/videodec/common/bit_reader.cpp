#include "codecs/videodec/common/bit_reader.h"

namespace videodec {
namespace {

inline uint32_t LoadBigEndian(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return __builtin_bswap32(w);
}

}  // namespace

BitReader* DefaultBitReaderRefill(BitReader* reader, int /*bits_wanted*/) {
  reader->words = reinterpret_cast<const uint8_t*>(reader->zero_words);
  reader->word_count = 8;  // a byte count; Refill splits it into words
  reader->overrun += 8;
  return reader;
}

void BitReader::Initialise() {
  *this = BitReader();
  refill = DefaultBitReaderRefill;
}

void BitReader::Attach(const uint8_t* input, size_t length) {
  if (!input) length = 0;
  data = input;
  size = length;
  consumed_bits = 0;
  backward_pos = 0;
  overrun = 0;
  buffer = 0;
  bit_count = 0;
  trailing = 0;
  next_word = 0;
  word_count = 0;
  words = input;
  if (length == 0) return;

  size_t head = 0;
  const uintptr_t misalign = reinterpret_cast<uintptr_t>(input) & 3;
  if (misalign) {
    // Leading bytes up to the first aligned address go straight into the buffer.
    head = 4 - misalign;
    if (head > length) head = length;
    for (size_t i = 0; i < head; ++i) buffer = (buffer << 8) | input[i];
    bit_count = static_cast<int32_t>(head * 8);
  }
  const size_t rest = length - head;
  words = input + head;
  word_count = static_cast<int32_t>(rest / 4);
  trailing = static_cast<uint32_t>(rest % 4);
  if (!misalign) {
    if (length < 4) {
      for (size_t i = 0; i < length; ++i) buffer = (buffer << 8) | input[i];
      bit_count = static_cast<int32_t>(length * 8);
      trailing = 0;
    } else {
      buffer = LoadBigEndian(words);
      bit_count = 32;
      next_word = 1;
    }
  }
}

int BitReader::LoadNext(uint32_t* out) {
  for (;;) {
    if (next_word < word_count) {
      *out = LoadBigEndian(words + static_cast<size_t>(next_word) * 4);
      ++next_word;
      return 32;
    }
    if (trailing) {
      // The bytes after the last whole word are read one by one: the input
      // need not be readable up to the end of its last aligned word.
      const uint8_t* p = words + static_cast<size_t>(word_count) * 4;
      uint32_t v = 0;
      for (uint32_t i = 0; i < trailing; ++i) v = (v << 8) | p[i];
      const int bits = static_cast<int>(trailing * 8);
      trailing = 0;
      *out = v;
      return bits;
    }
    refill(this, 32);
    const int32_t bytes = word_count;
    word_count = bytes / 4;
    trailing = static_cast<uint32_t>(bytes % 4);
    next_word = 0;
    if (bytes <= 0) {
      // A refill that hands out nothing: deliver zeros without counting.
      *out = 0;
      return 32;
    }
  }
}

uint32_t BitReader::ReadSlow(int n) {
  uint64_t acc = buffer;
  int have = bit_count;
  while (have < n) {
    uint32_t w;
    const int bits = LoadNext(&w);
    acc = (acc << bits) | w;
    have += bits;
  }
  bit_count = have - n;
  const uint32_t v = static_cast<uint32_t>(acc >> bit_count) & LowMask(n);
  buffer = static_cast<uint32_t>(acc) & LowMask(bit_count);
  consumed_bits += static_cast<uint32_t>(n);
  return v;
}

uint32_t BitReader::ShowSlow(int n) {
  if (refill == DefaultBitReaderRefill) {
    // Look ahead without moving: whole words, then trailing bytes, then zeros.
    uint64_t acc = buffer;
    int have = bit_count;
    int32_t w = next_word;
    bool trail = trailing != 0;
    while (have < n) {
      if (w < word_count) {
        acc = (acc << 32) | LoadBigEndian(words + static_cast<size_t>(w) * 4);
        ++w;
        have += 32;
      } else if (trail) {
        const uint8_t* p = words + static_cast<size_t>(word_count) * 4;
        for (uint32_t i = 0; i < trailing; ++i) acc = (acc << 8) | p[i];
        have += static_cast<int>(trailing * 8);
        trail = false;
      } else {
        acc <<= (n - have);
        have = n;
      }
    }
    return static_cast<uint32_t>(acc >> (have - n)) & LowMask(n);
  }
  // A custom refill may have side effects: read from a copy.
  BitReader copy = *this;
  return copy.ReadSlow(n);
}

void BitReader::StartBackward() { backward_pos = consumed_bits; }

uint32_t BitReader::BackwardShowBits(int n) const {
  const uint64_t limit = static_cast<uint64_t>(size) * 8;
  uint32_t v = 0;
  // Bit i (0 = nearest the position) of the result is the input bit at
  // backward_pos - 1 - i.
  for (int i = n - 1; i >= 0; --i) {
    v <<= 1;
    const uint64_t offset = static_cast<uint64_t>(i) + 1;
    if (offset > backward_pos) continue;
    const uint64_t pos = backward_pos - offset;
    if (pos >= limit) continue;  // past the end: zeros
    v |= (data[pos >> 3] >> (7 - (pos & 7))) & 1u;
  }
  return v;
}

uint32_t BitReader::BackwardReadBits(int n) {
  const uint32_t v = BackwardShowBits(n);
  BackwardSkipBits(n);
  return v;
}

void BitReader::BackwardSkipBits(int n) {
  backward_pos = backward_pos > static_cast<uint64_t>(n) ? backward_pos - static_cast<uint64_t>(n) : 0;
}

}  // namespace videodec
