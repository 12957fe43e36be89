#pragma once
// ByteView: bounded reads from bytes held in memory. A read past the end
// yields zeros and sets the overrun flag, so a parser checks once at the end
// of a record instead of before every field.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace media {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  size_t pos() const { return pos_; }
  size_t left() const { return pos_ < size_ ? size_ - pos_ : 0; }
  bool overrun() const { return overrun_; }
  const uint8_t* data() const { return data_; }
  const uint8_t* here() const { return data_ + (pos_ < size_ ? pos_ : size_); }

  void Seek(size_t pos) {
    if (pos > size_) {
      overrun_ = true;
      pos = size_;
    }
    pos_ = pos;
  }
  void Skip(size_t n) {
    if (n > left()) {
      overrun_ = true;
      pos_ = size_;
    } else {
      pos_ += n;
    }
  }
  bool Bytes(void* out, size_t n) {
    if (n > left()) {
      std::memset(out, 0, n);
      overrun_ = true;
      pos_ = size_;
      return false;
    }
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  uint8_t U8() {
    uint8_t b = 0;
    Bytes(&b, 1);
    return b;
  }
  uint16_t BE16() {
    uint8_t b[2];
    Bytes(b, 2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
  }
  uint32_t BE24() {
    uint8_t b[3];
    Bytes(b, 3);
    return (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
  }
  uint32_t BE32() {
    uint8_t b[4];
    Bytes(b, 4);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  }
  uint64_t BE64() {
    uint64_t hi = BE32();
    return (hi << 32) | BE32();
  }
  uint16_t LE16() {
    uint8_t b[2];
    Bytes(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint32_t LE32() {
    uint8_t b[4];
    Bytes(b, 4);
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  }
  uint64_t LE64() {
    uint64_t lo = LE32();
    return lo | (uint64_t{LE32()} << 32);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool overrun_ = false;
};

// Four-character code from its text, as stored big-endian in a box header.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

}  // namespace media
