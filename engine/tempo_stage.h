#pragma once
// TempoStage: the channel side of the tempo change. Decoded 16-bit blocks go
// in (mono or stereo); the stage splits them into planes for the
// TimeScaleProcessor and hands back its 128-frame results as interleaved
// 16-bit stereo (a mono source plays on both sides), 512 bytes per block.
//
// Thread: the audio mixer's, under its mutex.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/time_scale_processor.h"
#include "engine/wave_types.h"

namespace engine {

class TempoStage {
 public:
  // false for a source that is not 16-bit mono or stereo, or a speed outside
  // (0, 8].
  bool Enable(const WaveFormatEx& sourceFormat, float speed);
  // Source bytes the stage needs before its next block; 0 when one is ready.
  uint32_t NeededBytes();
  // Takes source PCM and appends every block that can be made to `out`.
  void Push(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out);
  // Drops what is buffered (after a seek or a restart).
  void Reset();
  uint32_t FactorQ15() const { return processor_ ? processor_->FactorQ15() : 0; }

 private:
  void Drain(std::vector<uint8_t>* out);

  std::unique_ptr<TimeScaleProcessor> processor_;
  uint32_t channels_ = 0;
  std::vector<int16_t> planes_[2];
  std::vector<int16_t> block_[2];
};

}  // namespace engine
