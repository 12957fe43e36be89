#include "media/buffered_file_reader.h"

#include <algorithm>
#include <cstring>

#include "media/media_package.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/mutex.h"
#include "platform/os/thread.h"

namespace media {

namespace {
constexpr uint32_t kThreadStackBytes = 65536;
constexpr uint32_t kRefillPollMs = 10;
}  // namespace

// File mode: the open file, the read-ahead thread and what it shares with the
// owner thread. `lock` guards both buffer records during the thread's fill,
// the swap and the out-of-window seek, the two indices and end_of_data_.
struct BufferedFileReader::FileState {
  ov::File file;
  ov::Event wake{true, false};     // manual reset: wakes the read-ahead thread
  ov::Event filled{false, false};  // auto reset: the thread has filled a buffer
  ov::CriticalSection lock;
  std::atomic<bool> stop{false};
  ov::Thread thread;
};

BufferedFileReader::BufferedFileReader() {
  for (Buffer& b : buffers_) {
    b.data = std::make_unique<uint8_t[]>(kBufferSize);
    b.capacity = kBufferSize;
  }
}

BufferedFileReader::~BufferedFileReader() { Close(); }

void BufferedFileReader::Close() {
  if (!file_) return;
  file_->stop.store(true, std::memory_order_release);
  file_->wake.Set();
  file_->thread.Join();
  file_.reset();
}

bool BufferedFileReader::Open(const ov::String& path) {
  Close();
  if (MediaPackage* package = GetMediaPackage()) {
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> entry = package->ReadEntry(path, &size);
    if (entry) {
      OpenMemory(std::move(entry), size);
      return true;
    }
  }
  auto state = std::make_unique<FileState>();
  if (!state->file.Open(path, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) return false;
  uint64_t size = 0;
  state->file.GetSize(&size);
  // Positions are 32-bit: a larger file is read up to 4 GB.
  size_ = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
  package_mode_ = false;
  for (Buffer& b : buffers_) {
    if (b.capacity != kBufferSize) {
      b.data = std::make_unique<uint8_t[]>(kBufferSize);
      b.capacity = kBufferSize;
    }
    b.available = 0;
    b.offset = 0;
    b.position = 0;
  }
  current_ = 0;
  back_ = 1;
  end_of_data_ = false;
  file_ = std::move(state);
  if (!file_->thread.Start([this] { ThreadMain(); return 0u; }, kThreadStackBytes)) {
    file_.reset();
    return false;
  }
  return true;
}

void BufferedFileReader::ThreadMain() {
  FileState& f = *file_;
  while (!f.stop.load(std::memory_order_acquire)) {
    {
      ov::CriticalSectionLock hold(f.lock);
      Buffer& back = buffers_[back_];
      if (back.available == 0 && !end_of_data_) {
        back.position = static_cast<uint32_t>(f.file.Position());
        uint32_t got = 0;
        if (!f.file.Read(back.data.get(), back.capacity, &got)) got = 0;
        back.offset = 0;
        back.available = got;
        // A short read (the end, or a read error) ends the data.
        if (got < back.capacity) end_of_data_ = true;
      }
    }
    f.filled.Set();
    f.wake.Wait(ov::kInfinite);
    f.wake.Reset();
  }
}

void BufferedFileReader::OpenMemory(std::unique_ptr<uint8_t[]> data, uint32_t size) {
  Close();
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


bool BufferedFileReader::Read(void* destination, uint32_t count, uint32_t* got) {
  uint32_t copied = 0;
  if (got) *got = 0;
  auto* out = static_cast<uint8_t*>(destination);
  while (copied < count) {
    Buffer* cur = &buffers_[current_];
    if (cur->available == 0) {
      if (package_mode_ || !file_) return false;
      bool wait = false;
      {
        ov::CriticalSectionLock hold(file_->lock);
        if (buffers_[back_].available == 0 && end_of_data_) return false;
        if (buffers_[back_].available != 0) {
          std::swap(current_, back_);
        } else {
          wait = true;
        }
        // The thread refills the now-empty back buffer.
        file_->wake.Set();
      }
      if (wait) {
        // Test at least every 10 ms; the thread's fill ends the wait early.
        for (;;) {
          file_->filled.Wait(kRefillPollMs);
          ov::CriticalSectionLock hold(file_->lock);
          if (buffers_[back_].available != 0 || end_of_data_) break;
        }
      }
      continue;
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
  if (!file_) return;
  ov::CriticalSectionLock hold(file_->lock);
  for (Buffer& b : buffers_) {
    b.available = 0;
    b.offset = 0;
    b.position = position;
  }
  file_->file.Seek(position, ov::SeekFrom::kBegin);
  end_of_data_ = false;
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


}  // namespace media
