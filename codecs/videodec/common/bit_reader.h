#pragma once
// Big-endian bit reader of the H.263 and MPEG-4 decoders.
//
// The reader never copies its input and never reads outside it: whole aligned
// 32-bit words are loaded while they last, the bytes after the last whole word
// are loaded one by one. Past the end the refill function is called; the
// default refill hands out zero bits and counts them in `overrun` (bytes), so a
// decoder that runs off its input reads zeros and can tell that it did.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videodec {

struct BitReader;

// Called when the input (words and trailing bytes) is used up. `bits_wanted`
// is the number of bits the pending read still needs. It must point `words` at
// new data and set `word_count` to its length in bytes (Refill splits it into
// whole words and trailing bytes); it may set other fields. Returns the reader.
using BitReaderRefillFn = BitReader* (*)(BitReader* reader, int bits_wanted);

struct BitReader {
  uint32_t buffer = 0;       // not yet consumed bits, right-aligned; bits above bit_count are 0
  int32_t bit_count = 0;     // valid bits in buffer, 0..32
  uint32_t trailing = 0;     // 0..3 bytes after the last whole word, not yet loaded
  const uint8_t* words = nullptr;  // first aligned word of the input
  int32_t next_word = 0;     // index of the next word to load
  int32_t word_count = 0;    // whole words in the input
  BitReaderRefillFn refill = nullptr;
  uint32_t refill_context[2] = {0, 0};
  uint32_t zero_words[2] = {0, 0};  // what the default refill hands out
  uint32_t overrun = 0;      // bytes of zeros handed out past the input; 0 while inside it

  // Backward reading (reversible VLC): bit position in the input from which
  // the backward reads go towards its start.
  const uint8_t* data = nullptr;  // the attached input
  size_t size = 0;
  uint64_t consumed_bits = 0;     // forward bits consumed since attach, zeros past the end included
  uint64_t backward_pos = 0;      // backward position, in bits from the input start

  // Clears the reader and installs the default refill.
  void Initialise();
  // Starts reading `length` bytes at `data` (may be null when length is 0);
  // resets the overrun count.
  void Attach(const uint8_t* input, size_t length);

  // The next n bits (1..32), first bit most significant.
  uint32_t ReadBits(int n) {
    if (n <= bit_count) {
      bit_count -= n;
      const uint32_t v = static_cast<uint32_t>(buffer >> bit_count);
      buffer &= LowMask(bit_count);
      consumed_bits += static_cast<uint32_t>(n);
      return v;
    }
    return ReadSlow(n);
  }
  // The next n bits (1..32) without consuming them.
  uint32_t ShowBits(int n) {
    if (n <= bit_count) return static_cast<uint32_t>(buffer >> (bit_count - n));
    return ShowSlow(n);
  }
  void SkipBits(int n) { (void)ReadBits(n); }
  uint32_t ReadBit() { return ReadBits(1); }

  // Whole bytes not yet touched: 0 once the reader has run past its input.
  uint32_t BytesLeft() const {
    if (overrun != 0) return 0;
    return static_cast<uint32_t>((word_count - next_word) * 4 + bit_count / 8) + trailing;
  }
  // Bits consumed since attach (zeros past the end included).
  uint64_t BitPosition() const { return consumed_bits; }
  // Bits to the next byte boundary of the input (0..7).
  int BitsToByteBoundary() const { return static_cast<int>((8 - (consumed_bits & 7)) & 7); }
  void ByteAlign() {
    const int n = BitsToByteBoundary();
    if (n) SkipBits(n);
  }
  // True when the reader has handed out bits past the end of its input.
  bool Overrun() const { return consumed_bits > static_cast<uint64_t>(size) * 8; }

  // Backward reading: the position starts at the forward position; reads
  // return the n bits (1..32) before it in their forward order (the bit
  // nearest the position least significant) and move it back by n. Bits before
  // the start of the input read as 0 and the position stops at the start.
  void StartBackward();
  uint32_t BackwardShowBits(int n) const;
  uint32_t BackwardReadBits(int n);
  void BackwardSkipBits(int n);

  static constexpr uint32_t LowMask(int n) { return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u); }

 private:
  // Loads the next piece of input into `out` (right-aligned); returns its bits.
  int LoadNext(uint32_t* out);
  uint32_t ReadSlow(int n);
  uint32_t ShowSlow(int n);
};

// The default refill: zero words, eight bytes at a time, counted in overrun.
BitReader* DefaultBitReaderRefill(BitReader* reader, int bits_wanted);

}  // namespace videodec
