#pragma once
// SweepTransition (204): what lies below is pushed out of the frame while the
// new picture follows it in, in `direction` 1-4 as the slide.
#include <cstdint>

#include "engine/video_effect.h"

namespace engine {

class SweepTransition : public VideoEffect {
 public:
  SweepTransition(uint32_t fps, int32_t durationMs, int32_t direction);
  int Draw(const Picture565& frame) override;

 private:
  uint32_t frames_;
  int32_t step_ = -1;
};

}  // namespace engine
