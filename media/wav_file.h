#pragma once
// WavFile: the one RIFF WAVE reader and writer. A writer creates a file,
// writes its header once and appends PCM blocks; after every append the RIFF
// and data size fields are already right, so a file cut off by a crash or a
// cancel is still a valid WAVE file. A reader parses an existing header to
// find the format and the start and length of the sample data.
//
// Errors are the platform's error numbers kept in `status` (0 = success):
// 1392 for a malformed header, 8 for an allocation failure, otherwise the
// file call's error. A WavFile with a nonzero status has no open file.
// Thread: one thread at a time.

#include <cstdint>
#include <vector>

#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace media {

// The 16 bytes of PCMWAVEFORMAT, in file order.
struct WavFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSecond = 0;
  uint32_t averageBytesPerSecond = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
};

class WavFile {
 public:
  static constexpr uint32_t kHeaderBytes = 44;

  explicit WavFile(uint32_t userValue = 0);
  // The same initial state, then status = Open(...).
  WavFile(const ov::String& path, uint32_t access, ov::CreateMode mode, const WavFormat& format,
          uint32_t userValue = 0);
  ~WavFile();
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Opens `path` with `access` (ov::kGenericRead / ov::kGenericWrite). An
  // empty file gets a new header with `format`; an existing one is parsed,
  // and `formatChunk` (when given) receives a copy of its whole "fmt " chunk
  // followed by two zero bytes. Returns the error number (0 = success).
  uint32_t Open(const ov::String& path, uint32_t access, ov::CreateMode mode, const WavFormat& format,
                std::vector<uint8_t>* formatChunk = nullptr);
  // Appends sample data; on success both size fields describe it.
  bool Append(const void* buffer, uint32_t bytes, uint32_t* written);
  // Pads an odd file length with a zero byte and closes every handle. False
  // when the pad or its RIFF size could not be written (status holds the
  // error); the handles are closed all the same.
  bool Close();
  bool IsOpen() const { return main_.IsOpen(); }

  uint32_t dataSize = 0;    // bytes of sample data
  uint32_t status = 2;      // last error; 2 (file not found) until opened
  uint32_t riffSize = 0;
  uint32_t dataOffset = 0;  // file offset of the first sample byte
  uint32_t factValue = 0;   // first word of a "fact" chunk
  WavFormat format;         // first 16 bytes of the format
  uint32_t userValue = 0;

 private:
  uint32_t WriteHeader(const WavFormat& format);
  uint32_t ParseHeader(std::vector<uint8_t>* formatChunk);
  uint32_t Fail(uint32_t error);
  bool WriteSizeField(ov::File& handle, uint32_t value);

  ov::File main_;
  ov::File riff_size_;  // kept on offset 4 (writers only)
  ov::File data_size_;  // kept on the data size field (writers only)
};

// Writes the 16 format bytes in file order.
void StoreWavFormat(const WavFormat& format, uint8_t out[16]);
WavFormat LoadWavFormat(const uint8_t in[16]);

}  // namespace media
