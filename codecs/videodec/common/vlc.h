#pragma once
// Variable-length code lookup: a table indexed by the next `bits` bits of the
// stream gives each code's value and length. Tables are built once from code
// words written as bit strings ("0011"), as the standards print them.

#include <cstdint>
#include <vector>

#include "codecs/videodec/common/bit_reader.h"

namespace videodec {

struct VlcEntry {
  int16_t value;
  uint8_t length;  // 0: no code starts with these bits
};

class VlcTable {
 public:
  // `bits` must be at least the longest code. Codes must be prefix-free.
  explicit VlcTable(int bits) : bits_(bits), entries_(size_t{1} << bits, VlcEntry{0, 0}) {}

  // Adds the code written as '0'/'1' characters.
  void Add(const char* code, int16_t value) {
    uint32_t word = 0;
    int len = 0;
    for (const char* p = code; *p; ++p, ++len) word = (word << 1) | (*p == '1' ? 1u : 0u);
    const uint32_t first = word << (bits_ - len);
    const uint32_t count = 1u << (bits_ - len);
    for (uint32_t i = 0; i < count; ++i) entries_[first + i] = VlcEntry{value, static_cast<uint8_t>(len)};
  }

  // Decodes one code: its value, or -1 (nothing consumed) when the bits are
  // not a code of the table.
  int Decode(BitReader& br) const {
    const VlcEntry& e = entries_[br.ShowBits(bits_)];
    if (e.length == 0) return -1;
    br.SkipBits(e.length);
    return e.value;
  }

  // The entry of the next bits() bits of the stream, given as `next`, for a
  // reader that shows more bits at once (a code and its sign).
  const VlcEntry& Entry(uint32_t next) const { return entries_[next]; }

  int bits() const { return bits_; }

 private:
  int bits_;
  std::vector<VlcEntry> entries_;
};

}  // namespace videodec
