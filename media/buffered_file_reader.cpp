#include "media/buffered_file_reader.h"

#include <algorithm>
#include <cstring>

#include "media/media_package.h"

namespace media {

// File mode: the open file, the read-ahead thread and what it shares with the
// owner thread.
struct BufferedFileReader::FileState {};

BufferedFileReader::BufferedFileReader() {
  for (Buffer& b : buffers_) {
    b.data = std::make_unique<uint8_t[]>(kBufferSize);
    b.capacity = kBufferSize;
  }
}

BufferedFileReader::~BufferedFileReader() = default;

bool BufferedFileReader::Open(const std::u16string& path) {
  if (MediaPackage* package = GetMediaPackage()) {
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> entry = package->ReadEntry(path, &size);
    if (entry) {
      OpenMemory(std::move(entry), size);
      return true;
    }
  }
  return false;
}

void BufferedFileReader::OpenMemory(std::unique_ptr<uint8_t[]> data, uint32_t size) {
  file_.reset();
  Buffer& b = buffers_[0];
  b.data = std::move(data);
  b.capacity = size;
  b.available = size;
  b.offset = 0;
  b.position = 0;
  buffers_[1].available = 0;
  buffers_[1].offset = 0;
  buffers_[1].position = 0;
  current_ = 0;
  back_ = 1;
  end_of_data_ = true;
  package_mode_ = true;
  size_ = size;
}

bool BufferedFileReader::BackHasData() { return buffers_[back_].available != 0; }

bool BufferedFileReader::Read(void* destination, uint32_t count, uint32_t* got) {
  uint32_t copied = 0;
  if (got) *got = 0;
  auto* out = static_cast<uint8_t*>(destination);
  while (copied < count) {
    Buffer* cur = &buffers_[current_];
    if (cur->available == 0) {
      if (package_mode_ || !file_) return false;
      return false;
    }
    uint32_t n = std::min(cur->available, count - copied);
    std::memcpy(out + copied, cur->data.get() + cur->offset, n);
    cur->offset += n;
    cur->available -= n;
    copied += n;
    if (got) *got = copied;
  }
  return true;
}

void BufferedFileReader::Seek(uint32_t position) {
  Buffer& cur = buffers_[current_];
  uint64_t window_end = uint64_t{cur.position} + cur.offset + cur.available;
  if (position >= cur.position && position < window_end) {
    uint32_t end = static_cast<uint32_t>(window_end - cur.position);
    cur.offset = position - cur.position;
    cur.available = end - cur.offset;
    return;
  }
  if (package_mode_) {
    // Nothing left to read, but the entry stays so that a seek back into it
    // reads again.
    cur.offset = cur.capacity;
    cur.available = 0;
    return;
  }
}

void BufferedFileReader::Skip(int64_t delta) {
  int64_t target = int64_t{Tell()} + delta;
  target = std::clamp<int64_t>(target, 0, UINT32_MAX);
  Seek(static_cast<uint32_t>(target));
}

uint32_t BufferedFileReader::Tell() const {
  const Buffer& cur = buffers_[current_];
  return cur.position + cur.offset;
}

bool BufferedFileReader::AtEnd() const { return Tell() >= size_; }

uint8_t BufferedFileReader::ReadU8() {
  uint8_t b = 0;
  Read(&b, 1, nullptr);
  return b;
}

uint16_t BufferedFileReader::ReadU16() {
  uint8_t b[2] = {};
  Read(b, 2, nullptr);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t BufferedFileReader::ReadU32() {
  uint8_t b[4] = {};
  Read(b, 4, nullptr);
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint64_t BufferedFileReader::ReadU64() {
  uint64_t lo = ReadU32();
  uint64_t hi = ReadU32();
  return lo | (hi << 32);
}

bool BufferedFileReader::ReadBytes(void* destination, uint32_t count) {
  return Read(destination, count, nullptr);
}

bool BufferedFileReader::ReadGuid(uint8_t destination[16]) { return Read(destination, 16, nullptr); }

void BufferedFileReader::ThreadMain() {}

}  // namespace media
