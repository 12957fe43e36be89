#pragma once
// EchoEffect: a second voice on the channel's own software wave mixer that
// plays every block of the channel again, `delayMs` later, at three quarters
// of the channel's volume. The lag is kept by padding the echo voice with
// silence whenever its queue runs shorter than the delay.
//
// Thread: the audio mixer's, under its mutex.

#include <cstdint>

#include "engine/soft_mixer.h"

namespace engine {

class EchoEffect {
 public:
  static constexpr int32_t kMaxDelayMs = 10000;

  EchoEffect() = default;
  // Closes the echo voice: the mixer must outlive the effect.
  ~EchoEffect() { Close(); }
  EchoEffect(const EchoEffect&) = delete;
  EchoEffect& operator=(const EchoEffect&) = delete;

  // Opens the echo voice in `format`; false when the delay is out of range
  // or the voice cannot be opened.
  bool Open(SoftMixer* mixer, const WaveFormatEx& format, uint32_t channelVolume, int32_t delayMs);
  void Close();
  bool IsOpen() const { return voice_ != 0; }
  uintptr_t voice() const { return voice_; }
  int32_t delayMs() const { return delayMs_; }

  // Queues a copy of one block, padded behind the delay.
  void Queue(const uint8_t* data, uint32_t bytes);
  void SetChannelVolume(uint32_t word);
  void SetSampleRate(uint32_t rate);
  uint32_t QueuedMs() const;

 private:
  SoftMixer* mixer_ = nullptr;
  uintptr_t voice_ = 0;
  int32_t delayMs_ = 0;
  uint32_t bytesPerMs_ = 0;
  uint32_t frameBytes_ = 1;
  uint32_t bits_ = 16;
};

}  // namespace engine
