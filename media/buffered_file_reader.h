#pragma once
// BufferedFileReader: the byte source under every container reader. A media
// file is read sequentially through two 64 KB buffers that a read-ahead thread
// keeps filled; a reader may jump around inside the buffered window without
// any file I/O. Entries of the media package are served from memory.
//
// Thread rule: one owner thread calls the public methods; the read-ahead
// thread touches only the back buffer while it is empty (under `lock_`).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/ov_string.h"

namespace media {

class BufferedFileReader {
 public:
  static constexpr uint32_t kBufferSize = 65536;

  BufferedFileReader();
  ~BufferedFileReader();
  BufferedFileReader(const BufferedFileReader&) = delete;
  BufferedFileReader& operator=(const BufferedFileReader&) = delete;

  // Opens `path`: the media package's entry of that name when there is one
  // (served from memory, no thread), else the file, with its read-ahead thread.
  // False when neither can be opened.
  bool Open(const ov::String& path);

  // Serves `size` bytes held in memory, as for a package entry.
  void OpenMemory(std::unique_ptr<uint8_t[]> data, uint32_t size);

  // Copies up to `count` bytes; true when all `count` were copied. `got` (may
  // be null) tells how many were. False only at the end of the data.
  bool Read(void* destination, uint32_t count, uint32_t* got);

  // Absolute position; a position inside the buffered window costs no I/O.
  void Seek(uint32_t position);
  // Position relative to Tell(); a result below 0 clamps to 0.
  void Skip(int64_t delta);
  uint32_t Tell() const;
  // True when Tell() is at or beyond the data size.
  bool AtEnd() const;
  // Bytes in the file (or package entry); 0 when nothing is open.
  uint32_t Size() const { return size_; }

  // Little-endian reads. When the data end inside a value, the missing bytes
  // read as 0 (AtEnd or ReadBytes tell the caller).
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  uint64_t ReadU64();
  bool ReadBytes(void* destination, uint32_t count);
  bool ReadGuid(uint8_t destination[16]);

 private:
  struct Buffer {
    std::unique_ptr<uint8_t[]> data;
    uint32_t capacity = 0;
    uint32_t available = 0;  // bytes not yet read
    uint32_t offset = 0;     // read offset inside the buffer
    uint32_t position = 0;   // file position of data[0]
  };
  struct FileState;

  void ThreadMain();
  // Stops the read-ahead thread and closes the file.
  void Close();

  Buffer buffers_[2];
  int current_ = 0;
  int back_ = 1;
  bool end_of_data_ = false;  // guarded by the file state's lock in file mode
  bool package_mode_ = false;
  uint32_t size_ = 0;
  std::unique_ptr<FileState> file_;  // null in package mode and before Open
};

}  // namespace media
