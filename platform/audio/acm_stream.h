#pragma once
// Audio compression manager stand-in: a conversion stream between two wave
// formats. The one conversion the system needs is GSM 6.10 (format tag 49,
// 65-byte blocks of 320 samples, the WAV49 layout) to 16-bit PCM at the same
// rate and channel count, done with libgsm.
//
// Thread: one AcmStream is used by one thread at a time.

#include <cstdint>
#include <string_view>

namespace ov {

enum : uint16_t {
  kWaveFormatPcm = 1,
  kWaveFormatGsm610 = 49,
};

// The WAVEFORMATEX fields a conversion looks at; for GSM 6.10 the extra word
// is the samples per block (320).
struct AcmFormat {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_second = 0;
  uint32_t average_bytes_per_second = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t samples_per_block = 0;
};

class AcmStream {
 public:
  AcmStream() = default;
  ~AcmStream();
  AcmStream(const AcmStream&) = delete;
  AcmStream& operator=(const AcmStream&) = delete;

  // Whether a codec driver of that short name is installed ("GSM 6.10").
  static bool HasDriver(std::u16string_view short_name);

  // Opens a conversion; false for a pair of formats no driver converts
  // (only mono GSM 6.10 to 16-bit PCM at the same rate is supported).
  bool Open(const AcmFormat& source, const AcmFormat& destination);
  bool IsOpen() const { return state_ != nullptr; }
  void Close();

  // Converts whole source blocks while their output fits `destination`.
  // `source_used` and `destination_used` tell how much was taken and written.
  // False when the stream is not open or a block does not decode.
  bool Convert(const uint8_t* source, uint32_t source_bytes, uint8_t* destination, uint32_t destination_bytes,
               uint32_t* source_used, uint32_t* destination_used);

 private:
  void* state_ = nullptr;  // the libgsm decoder
};

}  // namespace ov
