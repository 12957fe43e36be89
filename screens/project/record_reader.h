#pragma once
// RecordReader: a bounded cursor over a stored record held in memory (the
// project file, the rotation copy). Every read checks the bytes left, so a
// count or length taken from the data can never ask for more than the data
// holds.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/os/ov_string.h"

namespace screens {

class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> data) : rest_(data), size_(data.size()) {}

  // False (nothing consumed) when fewer than 4 bytes are left.
  bool ReadU32(uint32_t* value);
  bool ReadI32(int32_t* value);
  // A stored string (engine::PutString): false for a count of 0 or more
  // units than bytes left.
  bool ReadString(ov::String* text);
  bool Skip(size_t bytes);

  size_t left() const { return rest_.size(); }
  size_t offset() const { return size_ - rest_.size(); }
  std::span<const uint8_t> rest() const { return rest_; }

 private:
  std::span<const uint8_t> rest_;
  size_t size_;
};

void PutI32(std::vector<uint8_t>* out, int32_t value);

}  // namespace screens
