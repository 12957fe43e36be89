#pragma once
// Archive: the serialization of rotation state and element state.
//
// Encoding (every field little-endian):
// - a word: 32 bits (u32 or i32); bytes and 16-bit values are also offered;
// - a string: the byte 0xFF, the 16-bit marker 0xFFFE, then the length in
//   UTF-16 units as one byte below 0xFF, or 0xFF and a 16-bit length below
//   0xFFFE, or 0xFF, 0xFFFF and a 32-bit length; then the units.
//
// An Archive either stores (writes into its byte buffer) or loads (reads from a
// buffer given at construction). A load that runs past the end, meets a
// missing string marker or a length larger than the bytes left, fails: the
// call returns false with a zero or empty value, and the archive keeps the
// first error (ok() false, error() describes it); every later read fails too.
// Nothing is read outside the buffer.
//
// Thread: one thread at a time per Archive.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os/ov_string.h"

namespace ov {

class Archive {
 public:
  // A storing archive with an empty buffer.
  Archive();
  // A loading archive over a copy of bytes.
  explicit Archive(std::vector<uint8_t> bytes);
  Archive(const uint8_t* bytes, size_t size);

  bool IsStoring() const { return storing_; }
  bool IsLoading() const { return !storing_; }

  // Storing. On a loading archive these fail (ok() false).
  void WriteU8(uint8_t value);
  void WriteU16(uint16_t value);
  void WriteU32(uint32_t value);
  void WriteI32(int32_t value) { WriteU32(static_cast<uint32_t>(value)); }
  void WriteBytes(const void* data, size_t size);
  void WriteString(std::u16string_view text);

  // Loading: true and the value, or false (and 0 / empty) on error.
  bool ReadU8(uint8_t* value);
  bool ReadU16(uint16_t* value);
  bool ReadU32(uint32_t* value);
  bool ReadI32(int32_t* value);
  bool ReadBytes(void* data, size_t size);
  bool ReadString(String* text);

  // The stored bytes (storing) or the whole input (loading).
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Loading: read position and bytes left.
  size_t Position() const { return position_; }
  size_t Remaining() const { return bytes_.size() - position_; }

  bool ok() const { return error_.empty(); }
  // First error, in words ("read of 4 bytes at offset 10 runs past the end
  // (12 bytes)"); empty while ok().
  const std::string& error() const { return error_; }

 private:
  bool Take(size_t size, const uint8_t** at, const char* what);
  void Fail(std::string message);

  bool storing_;
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  std::string error_;
};

}  // namespace ov
