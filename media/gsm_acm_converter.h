#pragma once
// GsmAcmConverter: a GSM 6.10 to PCM conversion stream of the audio
// compression manager (65-byte blocks of 320 samples to 16-bit mono PCM).
// Each GSM source owns one: the decoder carries state from block to block,
// so one stream shared between clips would mix their histories, and a seek
// restarts it.

#include <cstdint>
#include <memory>

#include "platform/audio/acm_stream.h"

namespace media {

class GsmAcmConverter {
 public:
  static constexpr uint32_t kBufferBytes = 16384;

  // Opens the stream; false when no GSM 6.10 driver converts to PCM or it is
  // already open.
  bool Open();
  void Close();
  bool IsOpen() const { return stream_.IsOpen(); }
  // Starts the decoder afresh (after a seek).
  bool Restart();
  // Converts whole 65-byte blocks of `source` (as many as fit) into a new
  // 16384-byte buffer owned by the caller; `converted` is the bytes of PCM in
  // it. Null when the stream is not open or the data do not decode.
  std::unique_ptr<uint8_t[]> Convert(const uint8_t* source, uint32_t length, uint32_t* converted);

 private:
  ov::AcmStream stream_;
};

}  // namespace media
