#pragma once
// AmrReader: AMR storage-format files (RFC 4867 section 5). Times are in
// milliseconds, 20 per frame. Only single-channel AMR-NB ("#!AMR\n") opens.

#include <cstdint>
#include <memory>
#include <string>

#include "media/frame_reader.h"
#include "platform/os/ov_string.h"

namespace media {

// Payload bytes (after the one header byte) of an AMR frame of `frame_type`
// (0-15): the class A+B+C bits of 3GPP TS 26.101 (narrow-band) or TS 26.201
// (wide-band), rounded up to bytes; 0 for the types without speech data.
uint32_t AmrPayloadBytes(uint32_t frame_type, bool wide_band);

class AmrReader : public FrameReader {
 public:
  explicit AmrReader(const ov::String& path);
  ~AmrReader() override;

  // Reads the magic; true only for "#!AMR\n". The format fields are set for
  // every known magic.
  bool Open() override;
  // One storage-format frame (header byte and payload). A frame cut off by
  // the end of the file is discarded.
  bool ReadSample(TrackCursor* cursor, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes,
                  uint32_t* time) override;
  // Frames × 20 ms.
  int64_t GetDuration(int track) override;

  bool NextFrame(FrameCursor* cursor) override;

  uint32_t channels() const { return channels_; }
  uint32_t samples_per_frame() const { return samples_per_frame_; }
  uint32_t sample_rate() const { return sample_rate_; }
  uint32_t header_size() const { return header_size_; }

 private:
  // Size of the frame at the cursor (header byte included); 0 when it does
  // not lie wholly inside the file.
  uint32_t FrameBytes(const FrameCursor& cursor, uint8_t* header_byte);

  uint32_t channels_ = 0;
  uint32_t samples_per_frame_ = 0;
  uint32_t sample_rate_ = 0;
  uint32_t header_size_ = 0;
};

}  // namespace media
