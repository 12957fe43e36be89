#pragma once
// GsmAcmConverter: the program's one GSM 6.10 to PCM conversion stream of the
// audio compression manager, shared by every GSM WAV source and counted by
// its users. Convert may be called from the threads of different sources; a
// lock keeps their calls apart.

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/audio/acm_stream.h"

namespace media {

class GsmAcmConverter {
 public:
  static constexpr uint32_t kBufferBytes = 16384;

  // The process-wide instance.
  static GsmAcmConverter& Instance();

  // Counts a user; opens the stream for the first. True only when this call
  // opened it (a later user gets false with the stream already open).
  bool Open();
  // Uncounts a user; the last one closes the stream.
  void Close();
  bool IsOpen();
  // Converts whole 65-byte blocks of `source` into a new 16384-byte buffer
  // (owned by the caller); `converted` is the bytes of PCM in it. Null when
  // the stream is not open or the data do not decode.
  std::unique_ptr<uint8_t[]> Convert(const uint8_t* source, uint32_t length, uint32_t* converted);

 private:
  std::mutex lock_;
  ov::AcmStream stream_;
  int use_count_ = 0;
};

}  // namespace media
