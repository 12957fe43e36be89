#include "platform/audio/acm_stream.h"

#include <gsm.h>

#include <cstring>

namespace ov {

namespace {

// A WAV49 block holds two GSM 06.10 frames of 160 samples: 33 bytes, then 32.
constexpr uint32_t kBlockBytes = 65;
constexpr uint32_t kBlockSamples = 320;

}  // namespace

AcmStream::~AcmStream() { Close(); }

bool AcmStream::HasDriver(std::u16string_view short_name) { return short_name == u"GSM 6.10"; }

bool AcmStream::Open(const AcmFormat& source, const AcmFormat& destination) {
  Close();
  if (source.format_tag != kWaveFormatGsm610 || source.channels != 1 || source.block_align != kBlockBytes) {
    return false;
  }
  if (destination.format_tag != kWaveFormatPcm || destination.bits_per_sample != 16 ||
      destination.channels != source.channels || destination.samples_per_second != source.samples_per_second) {
    return false;
  }
  gsm handle = gsm_create();
  if (!handle) return false;
  int one = 1;
  gsm_option(handle, GSM_OPT_WAV49, &one);
  state_ = handle;
  return true;
}

void AcmStream::Close() {
  if (state_) gsm_destroy(static_cast<gsm>(state_));
  state_ = nullptr;
}

bool AcmStream::Convert(const uint8_t* source, uint32_t source_bytes, uint8_t* destination,
                        uint32_t destination_bytes, uint32_t* source_used, uint32_t* destination_used) {
  *source_used = 0;
  *destination_used = 0;
  if (!state_) return false;
  gsm handle = static_cast<gsm>(state_);
  const uint32_t out_bytes = kBlockSamples * 2;
  gsm_signal samples[kBlockSamples];
  while (source_bytes - *source_used >= kBlockBytes && destination_bytes - *destination_used >= out_bytes) {
    // libgsm reads the frames through non-const pointers without writing them.
    gsm_byte block[kBlockBytes];
    std::memcpy(block, source + *source_used, kBlockBytes);
    if (gsm_decode(handle, block, samples) != 0 || gsm_decode(handle, block + 33, samples + 160) != 0) {
      return false;
    }
    uint8_t* out = destination + *destination_used;
    for (uint32_t i = 0; i < kBlockSamples; ++i) {
      uint16_t v = static_cast<uint16_t>(samples[i]);
      out[2 * i] = static_cast<uint8_t>(v);
      out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    *source_used += kBlockBytes;
    *destination_used += out_bytes;
  }
  return true;
}

}  // namespace ov
