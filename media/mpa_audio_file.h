#pragma once
// MPEG audio (ISO/IEC 11172-3, ISO/IEC 13818-3 and MPEG 2.5) frame header
// reader: finds the first valid frame of a file, reads its VBR header
// (Xing/Info or VBRI) and works out the average bytes per second, so that the
// media information can show the duration without decoding. Every failure is
// thrown as a CMPAException; callers catch it and treat the duration as unknown.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/buffered_file_reader.h"
#include "platform/os/ov_string.h"

namespace media {

class CMPAException {
 public:
  enum Id : uint32_t {
    kOpenFile = 0,
    kSetFilePointer = 1,
    kReadFile = 2,
    kNoFrame = 6,
    kEndReached = 7,
    kHeaderCorrupt = 8,
    kFreeBitrate = 9,
    kIncompatibleHeader = 10,
  };
  CMPAException(Id id, const ov::String& file = {}, const char* call = nullptr, bool os_error = false)
      : id_(id), os_error_(os_error), file_(file), call_(call ? call : "") {}
  Id id() const { return id_; }
  bool os_error() const { return os_error_; }
  const ov::String& file() const { return file_; }
  const std::string& call() const { return call_; }

 private:
  Id id_;
  bool os_error_;
  ov::String file_;
  std::string call_;
};

// A 4-byte frame header. Parse throws kHeaderCorrupt or kFreeBitrate.
struct CMPAFrameHeader {
  bool lsf = false;          // MPEG-2 or 2.5
  uint32_t version = 0;      // raw field: 0 MPEG 2.5, 2 MPEG-2, 3 MPEG-1
  uint32_t layer = 0;        // 0 Layer I, 1 Layer II, 2 Layer III
  uint32_t emphasis = 0;
  uint32_t channel_mode = 0;  // 3 = single channel
  uint32_t sample_rate = 0;
  uint32_t samples_per_frame = 0;
  uint32_t bit_rate = 0;  // bit/s
  uint32_t padding = 0;
  bool private_bit = false, copyright = false, original = false;
  bool crc = false;
  uint32_t mode_extension = 0;
  uint32_t bound = 32;
  uint32_t allocation_table = 0;  // Layer II, 0-4

  void Parse(const uint8_t b[4]);
  uint32_t FrameLength() const;
  // Size of the side information (Layer III) that precedes a Xing header.
  uint32_t SideInfoSize() const;
  bool IsCompatible(const CMPAFrameHeader& other) const;
};

// Reads windows of a file through a BufferedFileReader (file or package entry).
class CMPAFileReader {
 public:
  explicit CMPAFileReader(const ov::String& path);
  uint32_t Size() const { return file_.Size(); }
  // Pointer to `count` bytes at `offset`, valid until the next call. For a
  // backward search the window ends at the end of the request.
  const uint8_t* Read(uint32_t offset, uint32_t count, bool backwards = false);
  uint32_t ReadBE(uint32_t offset, uint32_t bytes);
  const ov::String& name() const { return name_; }

 private:
  BufferedFileReader file_;
  ov::String name_;
  std::vector<uint8_t> window_;
  uint32_t window_offset_ = 0;
};

struct CMPAFrame {
  CMPAFrameHeader header;
  uint32_t offset = 0;
  uint32_t length = 0;
};

class CMPAVbrHeader {
 public:
  virtual ~CMPAVbrHeader() = default;
  // Byte offset (from the first frame) of `percent` of the duration.
  virtual uint32_t SeekPoint(float percent) const = 0;
  uint32_t offset = 0;
  uint32_t frames = 0;
  uint32_t bytes = 0;
  uint32_t quality = 0;
  std::vector<uint32_t> toc;
};

class CMPAXingInfo : public CMPAVbrHeader {
 public:
  uint32_t SeekPoint(float percent) const override;
  uint32_t flags = 0;
};

class CMPAVbriInfo : public CMPAVbrHeader {
 public:
  uint32_t SeekPoint(float percent) const override;
  uint32_t version = 0, delay = 0, scale = 0, bytes_per_entry = 0, frames_per_entry = 0;
  uint32_t duration_seconds = 0;
};

class CMPAAudioFile {
 public:
  // Opens `path` and analyses it between `begin` and `end` (0: the file size).
  CMPAAudioFile(const ov::String& path, uint32_t begin = 0, uint32_t end = 0);

  uint32_t average_bytes_per_second() const { return average_bytes_per_second_; }
  uint32_t begin() const { return begin_; }
  uint32_t end() const { return end_; }
  const CMPAFrame& first_frame() const { return first_; }
  const CMPAVbrHeader* vbr() const { return vbr_.get(); }
  // (end - begin) × 1000 ÷ average bytes per second; 0 when unknown.
  uint32_t DurationMs() const;

  // Frame search from `offset`. Throws on failure.
  CMPAFrame FindFrame(uint32_t offset, bool check_next, bool exact, bool backwards,
                      const CMPAFrameHeader* match);
  CMPAFrame NextFrame(const CMPAFrame& frame);

 private:
  void ReadVbrHeader();

  CMPAFileReader reader_;
  uint32_t begin_ = 0;
  uint32_t end_ = 0;
  uint32_t average_bytes_per_second_ = 0;
  CMPAFrame first_;
  std::unique_ptr<CMPAVbrHeader> vbr_;
};

}  // namespace media
