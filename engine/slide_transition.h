#pragma once
// SlideTransition (201): the new picture slides in over what lies below, in
// `direction` 1 up from the bottom, 2 in from the right, 3 down from the top,
// 4 in from the left, by distance / frames pixels a frame.
#include <cstdint>

#include "engine/video_effect.h"

namespace engine {

class SlideTransition : public VideoEffect {
 public:
  SlideTransition(uint32_t fps, int32_t durationMs, int32_t direction);
  int Draw(const Picture565& frame) override;

 private:
  uint32_t frames_;
  int32_t step_ = -1;  // pixels per frame, set at the first draw
};

}  // namespace engine
