#pragma once
// ZoomTransition (211): in a first half the picture below is zoomed through a
// window moving from the start rectangle to the end rectangle; in the second
// half the window moves back while the new picture shows through it.

#include <cstdint>

#include "engine/video_effect.h"
#include "engine/zoom_window.h"

namespace engine {

class ZoomTransition : public VideoEffect {
 public:
  ZoomTransition(uint32_t fps, int32_t durationMs, uint32_t startRect, uint32_t endRect);
  int Draw(const Picture565& frame) override;
  int phase() const { return phase_; }

 private:
  ZoomWindow window_;
  uint32_t framesLeft_;
  int phase_ = 1;
};

}  // namespace engine
