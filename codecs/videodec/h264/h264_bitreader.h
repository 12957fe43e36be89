#pragma once
// Bit reader over one unescaped NAL unit payload (RBSP). The buffer must be
// followed by at least kBitReaderPadding readable bytes; reading past the end
// of the payload yields zero bits and sets the overrun mark, never touches
// memory beyond the padding.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videodec {
namespace h264 {

inline constexpr size_t kBitReaderPadding = 16;

class BitReader {
 public:
  void Attach(const uint8_t* data, size_t size) {
    data_ = data;
    size_bits_ = size * 8;
    pos_ = 0;
    // The rbsp stop bit is the last 1 bit of the payload.
    size_t byte = size;
    while (byte > 0 && data[byte - 1] == 0) --byte;
    stop_bit_ = byte == 0 ? 0 : byte * 8 - 1 - size_t(__builtin_ctz(data[byte - 1]));
  }

  // Next n bits (0..32) without consuming them.
  uint32_t Show(int n) const {
    if (n == 0) return 0;
    // Eight bytes from the current one (within the padding at the end).
    uint64_t v;
    std::memcpy(&v, data_ + (pos_ >> 3), 8);
    v = __builtin_bswap64(v) << (pos_ & 7);
    return uint32_t(v >> (64 - n));
  }
  void Skip(int n) {
    pos_ += size_t(n);
    if (pos_ > size_bits_) pos_ = size_bits_ + 1;  // sticky overrun, loads stay in padding
  }
  uint32_t Read(int n) {
    uint32_t v = Show(n);
    Skip(n);
    return v;
  }
  uint32_t Bit() { return Read(1); }

  // ue(v), 9.1. Codes longer than 32 bits give 0xFFFFFFFF, which every caller's
  // range check refuses.
  uint32_t Ue() {
    uint32_t v = Show(32);
    if (v == 0) {
      Skip(32);
      return 0xFFFFFFFFu;
    }
    int lz = __builtin_clz(v);
    if (lz < 16) {
      Skip(2 * lz + 1);
      return (v >> (31 - 2 * lz)) - 1;
    }
    Skip(lz);
    return Read(lz + 1) - 1;
  }
  // se(v), 9.1.1.
  int32_t Se() {
    uint32_t k = Ue();
    if (k == 0xFFFFFFFFu) return INT32_MIN / 2;
    return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
  }

  bool Overrun() const { return pos_ > size_bits_; }
  size_t BitsLeft() const { return pos_ >= size_bits_ ? 0 : size_bits_ - pos_; }
  size_t Position() const { return pos_; }
  bool ByteAligned() const { return (pos_ & 7) == 0; }
  void AlignByte() { Skip(int((8 - (pos_ & 7)) & 7)); }

  // 7.2 more_rbsp_data(): true while there is data before the rbsp stop bit.
  bool MoreRbspData() const { return pos_ < stop_bit_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_bits_ = 0;
  size_t pos_ = 0;
  size_t stop_bit_ = 0;  // position of the rbsp stop bit; 0 when there is none
};

}  // namespace h264
}  // namespace videodec
