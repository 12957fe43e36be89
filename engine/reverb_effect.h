#pragma once
// ReverbEffect: the channel's blocks mixed with delayed copies of the mix
// itself (feedback). Each chunk of `delayMs` goes to voice 0 of an inner
// software wave mixer (16-bit stereo at the source rate); the rendered chunk
// is the output and is also queued on voices 1..n, which lag by
// delayMs + i x stepMs, so every pass repeats the reverberated signal.
// Voice volumes: voice 0 full; even i at volumePercent, odd i carry the word
// in its high half, which the mixer ignores, so they are silent.
//
// Thread: the audio mixer's, under its mutex.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/soft_mixer.h"

namespace engine {

class ReverbEffect {
 public:
  static constexpr int32_t kMaxVoices = 16;
  static constexpr int32_t kMaxDelayMs = 5000;

  // false for a delay outside 1..kMaxDelayMs, voices outside 0..kMaxVoices,
  // a volume outside 0..100, a step outside 0..kMaxDelayMs, or a voice that
  // cannot be opened.
  bool Build(const WaveFormatEx& sourceFormat, int32_t delayMs, int32_t voices, int32_t volumePercent,
             int32_t stepMs);
  // One block in the source format in; the same span as 16-bit stereo out.
  void Feed(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out);
  uint32_t ChunkBytes() const { return chunk_; }

 private:
  std::unique_ptr<SoftMixer> inner_;
  std::vector<uintptr_t> voices_;
  uint32_t frameBytes_ = 0;
  uint32_t chunk_ = 0;  // source bytes per chunk
  std::vector<uint8_t> piece_;
};

}  // namespace engine
