#pragma once
// WavSource: RIFF WAVE clips: uncompressed PCM of 8, 16, 24 or 32 bits, and
// GSM 6.10, turned into 16-bit PCM through its own GsmAcmConverter. It
// also reads back the engine's decoded-audio cache files (".qvs", 11025 Hz
// 16-bit stereo PCM). 24- and 32-bit data are delivered as their high 16 bits.

#include <cstdint>
#include <memory>

#include "media/decoder_source.h"
#include "media/gsm_acm_converter.h"
#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace media {

class WavSource : public DecoderSource {
 public:
  static constexpr uint32_t kGsmReadBufferBytes = 16384;

  WavSource() = default;
  ~WavSource() override;

  // Positions at the block (sample frame, or GSM block) that holds timeMs;
  // the position reported with the next block is the one really reached.
  bool Seek(uint32_t timeMs) override;
  bool Rewind() override;
  bool GetFormat(MediaFormat* out) override;
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  // Opens PCM (tag 1) and GSM 6.10 (tag 49, mono only) files; refuses a
  // header whose rate, byte rate or block size is 0.
  bool Open(const ov::String& path, uint32_t scale) override;

  // Clip length in ms.
  uint32_t GetDuration() const;
  // Why the last Open failed ("" after a success), for the user.
  const char* failure() const { return failure_; }

  uint32_t bitsPerSample = 0;  // 16 for GSM 6.10
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  uint32_t dataBytes = 0;
  uint32_t bytesLeft = 0;
  uint32_t dataOffset = 0;
  uint32_t formatTag = 0;
  uint32_t avgBytesPerSecond = 0;
  uint32_t positionMs = 0;  // clip time of the next byte to be delivered
  // GSM 6.10
  uint32_t blockMs = 0;
  uint32_t pcmBytesPerSecond = 0;
  uint32_t blockAlign = 0;

 private:
  // Bytes per second of the file's PCM data; 0 for other formats.
  uint32_t FileBytesPerSecond() const;
  // Bytes of one sample frame of the file's PCM data.
  uint32_t FrameBytes() const;
  uint32_t ConsumedBytes() const { return dataBytes - bytesLeft; }
  std::unique_ptr<uint8_t[]> ReadPcm(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs);
  std::unique_ptr<uint8_t[]> ReadGsm(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs);

  bool Refuse(const char* why) {
    failure_ = why;
    return false;
  }

  ov::File file_;
  const char* failure_ = "";
  std::unique_ptr<uint8_t[]> gsm_buffer_;
  GsmAcmConverter converter_;  // GSM 6.10 only
};

}  // namespace media
