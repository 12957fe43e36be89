#pragma once
// BlindTransition (202): four bands of the new picture grow like slats of a
// blind: direction 1 upwards from the quarter lines, 3 downwards, 2 leftwards,
// 4 rightwards; each band grows by distance / 4 / frames a frame.
#include <cstdint>

#include "engine/video_effect.h"

namespace engine {

class BlindTransition : public VideoEffect {
 public:
  BlindTransition(uint32_t fps, int32_t durationMs, int32_t direction);
  int Draw(const Picture565& frame) override;

 private:
  uint32_t frames_;
  int32_t step_ = -1;
};

}  // namespace engine
