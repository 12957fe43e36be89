#pragma once
// AdtsReader: raw ADTS AAC files (ISO/IEC 14496-3 1.A.2). Times count samples,
// 1024 per frame; GetDuration is in whole seconds, ScanDuration in ms.

#include <cstdint>
#include <memory>
#include <string>

#include "media/frame_reader.h"
#include "platform/os/ov_string.h"

namespace media {

// The fields of a 7-byte ADTS fixed and variable header that the reader uses.
struct AdtsHeader {
  uint32_t profile = 0;         // 2-bit profile field (1 LC, 3 LTP accepted)
  uint32_t sample_rate = 0;     // Hz
  uint32_t channel_config = 0;  // 0-7
  uint32_t frame_length = 0;    // whole frame, header included
};

// Parses 7 header bytes; false on a bad sync, profile, rate index or a frame
// length below the 7 header bytes.
bool ParseAdtsHeader(const uint8_t bytes[7], AdtsHeader* header);

class AdtsReader : public FrameReader {
 public:
  explicit AdtsReader(const ov::String& path);
  ~AdtsReader() override;

  bool Open() override;
  // Reads the frame at the cursor (header and payload). A frame cut off by the
  // end of the file is discarded.
  bool ReadSample(TrackCursor* cursor, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes,
                  uint32_t* time) override;
  // Whole seconds (integer division); -1 when the rate is unknown.
  int64_t GetDuration(int track) override;

  bool NextFrame(FrameCursor* cursor) override;
  // Total duration in milliseconds (64-bit arithmetic); 0 when unknown.
  uint32_t ScanDuration();
  // A new copy of the first frame (header and payload) and its length.
  std::unique_ptr<uint8_t[]> GetDecoderConfig(uint32_t* bytes) const;

  uint32_t sample_rate() const { return sample_rate_; }
  uint32_t channels() const { return channels_; }
  uint32_t profile() const { return profile_; }

 private:
  // Reads and checks the header at the cursor; leaves the file after it.
  bool ParseFrame(const FrameCursor& cursor, AdtsHeader* header);
  uint64_t ScanSamples();

  uint32_t sample_rate_ = 0;
  uint32_t channels_ = 0;
  uint32_t profile_ = 0;
  std::unique_ptr<uint8_t[]> config_;
  uint32_t config_bytes_ = 0;
};

}  // namespace media
