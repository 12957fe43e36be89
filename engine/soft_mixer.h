#pragma once
// SoftMixer: an in-process mixer with the interface of a wave-out driver.
// Voices (WaveStream) are opened with a PCM format; the client queues
// buffers on them, sets their volume and rate, and asks for mixed blocks
// with WODM_RENDER. The output is 16-bit stereo at the mixer's rate,
// converted to 8-bit unsigned when the mixer was made 8-bit.
//
// Every request goes through Message, as to a driver; the helpers below only
// build the messages. Thread: the owner's; the audio mixer calls it under its
// mutex.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/wave_stream.h"
#include "engine/wave_types.h"

namespace engine {

// A new block of `bytes` of silence in PCM of `bits` (8-bit PCM is unsigned:
// its silence is 0x80).
std::unique_ptr<uint8_t[]> SilenceBlock(uint32_t bytes, uint32_t bits);

struct SoftMixerMessage {
  uint32_t device = 0;
  uint32_t message = 0;
  uintptr_t voice = 0;  // the stream (0: the mixer itself); WODM_OPEN: where the new handle goes
  uintptr_t param1 = 0;
  uintptr_t param2 = 0;
};

class SoftMixer {
 public:
  SoftMixer(uint32_t bits, uint32_t rate, uint32_t channels);
  ~SoftMixer();
  SoftMixer(const SoftMixer&) = delete;
  SoftMixer& operator=(const SoftMixer&) = delete;

  // Handles one message (table in soft_mixer.cpp); `*result` gets the
  // driver's result code or the value asked for. Always returns 1.
  int Message(const SoftMixerMessage& message, uintptr_t* result);

  // Fills the device's capabilities: manufacturer 1, product 24, driver
  // version 1, "Audio Output", every standard format (0xFFF), one channel,
  // volume and left/right volume support (6). At most `bytes` of it are
  // copied (84 is the whole record).
  void GetCaps(WaveOutCaps* caps, uint32_t bytes = sizeof(WaveOutCaps)) const;

  // Message builders. OpenVoice returns the handle, 0 on failure.
  uintptr_t OpenVoice(const WaveFormatEx& format);
  uint32_t CloseVoice(uintptr_t voice);
  // Queues `bytes` of `data` (copied) as one prepared buffer.
  uint32_t WriteVoice(uintptr_t voice, const uint8_t* data, uint32_t bytes);
  uint32_t WriteVoice(uintptr_t voice, std::unique_ptr<uint8_t[]> data, uint32_t bytes);
  uint32_t SetVolume(uintptr_t voice, uint32_t word);
  uint32_t GetVolume(uintptr_t voice);
  uint32_t SetSampleRate(uintptr_t voice, uint32_t rate);
  // Time still queued on the voice in ms (0 for an unknown voice).
  uint32_t QueuedMs(uintptr_t voice);
  // Bytes still queued on the voice (0 for an unknown voice).
  uint64_t QueuedBytes(uintptr_t voice) const;
  // Mixes into `buffer`; returns the bytes produced.
  uint32_t Render(uint8_t* buffer, uint32_t bytes);

  uint32_t rate() const { return rate_; }
  uint32_t bits() const { return bits_; }
  uint32_t channels() const { return channels_; }
  uint32_t masterGain() const { return masterGain_; }
  uint32_t gainSelect(uint32_t index) const { return gainSelect_[index & 1]; }
  size_t StreamCount() const { return streams_.size(); }

 private:
  WaveStream* Find(uintptr_t voice) const;
  uint32_t CheckFormat(const WaveFormatEx* format) const;
  void SetMasterVolume(uint32_t word);

  std::vector<std::unique_ptr<WaveStream>> streams_;
  uint32_t masterVolume_ = 65535;
  uint32_t gainSelect_[2] = {65535, 65535};
  uint32_t rate_;
  uint32_t bits_;
  uint32_t channels_;
  uint32_t masterGain_ = 65536;
  std::vector<int16_t> scratch_;
};

}  // namespace engine
