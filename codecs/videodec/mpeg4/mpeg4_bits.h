#pragma once
// Bit cursor of the MPEG-4 decoder: reads a byte buffer most significant bit
// first by absolute bit position, so a position can be noted and restored
// (resynchronisation, resumable decoding) and bits can be read backwards from
// any point (reversible VLC). Past the end of its input it delivers zero bits
// and counts how far it went.

#include <cstdint>

namespace videodec {

class Mpeg4Bits {
 public:
  void Attach(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = data ? size : 0;
    pos_ = 0;
  }

  // The next n bits (1..32), first bit most significant; zeros past the end.
  uint32_t Show(int n) const { return ShowAt(pos_, n); }
  uint32_t Read(int n) {
    const uint32_t v = ShowAt(pos_, n);
    pos_ += static_cast<uint64_t>(n);
    return v;
  }
  uint32_t Read1() { return Read(1); }
  void Skip(int n) { pos_ += static_cast<uint64_t>(n); }

  // The n bits (1..32) that end at bit position `end`, in stream order; bits
  // before the start of the input read as zero.
  uint32_t ShowBefore(uint64_t end, int n) const {
    if (end >= static_cast<uint64_t>(n)) return ShowAt(end - static_cast<uint64_t>(n), n);
    const uint32_t v = ShowAt(0, n);
    return v >> (n - static_cast<int>(end));
  }

  // The n bits at bit position pos, without moving.
  uint32_t Peek(uint64_t pos, int n) const { return ShowAt(pos, n); }

  // The bits from position pos on, first bit most significant: at least
  // kWindowBits of them are valid (64 - pos % 8), zeros past the end.
  static constexpr int kWindowBits = 57;
  uint64_t WindowAt(uint64_t pos) const {
    const uint64_t byte = pos >> 3;
    uint64_t word = 0;
    if (byte + 8 <= size_) {
      const uint8_t* p = data_ + byte;
      word = (static_cast<uint64_t>(p[0]) << 56) | (static_cast<uint64_t>(p[1]) << 48) |
             (static_cast<uint64_t>(p[2]) << 40) | (static_cast<uint64_t>(p[3]) << 32) |
             (static_cast<uint64_t>(p[4]) << 24) | (static_cast<uint64_t>(p[5]) << 16) |
             (static_cast<uint64_t>(p[6]) << 8) | static_cast<uint64_t>(p[7]);
    } else {
      for (int i = 0; i < 8; ++i) {
        word <<= 8;
        if (byte + static_cast<uint64_t>(i) < size_) word |= data_[byte + static_cast<uint64_t>(i)];
      }
    }
    return word << (pos & 7);
  }

  uint64_t Pos() const { return pos_; }
  void Seek(uint64_t pos) { pos_ = pos; }
  uint64_t SizeBits() const { return static_cast<uint64_t>(size_) * 8; }
  const uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }

  // Bits past the end of the input that have been consumed (0 while inside).
  uint64_t OverrunBits() const { return pos_ > SizeBits() ? pos_ - SizeBits() : 0; }
  bool Overrun() const { return pos_ > SizeBits(); }
  // Bits not yet consumed; 0 past the end.
  uint64_t BitsLeft() const { return pos_ < SizeBits() ? SizeBits() - pos_ : 0; }
  // Whole bytes not yet touched: a partly read byte counts as consumed.
  uint32_t BytesLeft() const {
    const uint64_t used = (pos_ + 7) / 8;
    return used >= size_ ? 0 : static_cast<uint32_t>(size_ - used);
  }
  // Bytes consumed, counting a partly read byte.
  uint32_t BytesConsumed() const { return size_ - BytesLeft(); }

  bool Aligned() const { return (pos_ & 7) == 0; }
  // Bits up to the next byte boundary (0 when aligned).
  int BitsToBoundary() const { return static_cast<int>((8 - (pos_ & 7)) & 7); }
  void AlignUp() { pos_ = (pos_ + 7) & ~static_cast<uint64_t>(7); }

 private:
  uint32_t ShowAt(uint64_t pos, int n) const { return static_cast<uint32_t>(WindowAt(pos) >> (64 - n)); }

  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint64_t pos_ = 0;
};

}  // namespace videodec
