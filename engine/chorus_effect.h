#pragma once
// ChorusEffect: the channel's blocks played by n + 1 voices of an inner
// software wave mixer (16-bit stereo at the source rate): voice 0 dry, voices
// 1..n delayed by d = ((i + 2) / 2) x rate / 400 ms and detuned by d Hz, up
// for even i and down for odd i. The detunings rotate over the voices every
// twentieth of a second, so no voice drifts away for long.
//
// Thread: the audio mixer's, under its mutex.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/soft_mixer.h"

namespace engine {

class ChorusEffect {
 public:
  static constexpr int32_t kMaxVoices = 16;
  static constexpr uint32_t kVoiceVolume = 0xC800C800;  // the mixer keeps the low 16 bits

  // false when the voice count is out of 1..kMaxVoices or a voice cannot be
  // opened.
  bool Build(const WaveFormatEx& sourceFormat, int32_t voices);
  // One block in the source format in; the same span as 16-bit stereo out.
  void Feed(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out);
  uint32_t Rate(int32_t voice) const { return rates_[static_cast<size_t>(voice)]; }

 private:
  std::unique_ptr<SoftMixer> inner_;
  std::vector<uintptr_t> voices_;  // 0: dry
  std::vector<uint32_t> rates_;    // per detuned voice
  uint32_t frameBytes_ = 0;
  uint32_t block_ = 0;  // chorus blocks rendered so far
};

}  // namespace engine
