#pragma once
// PanZoomEffect (210): an overlay that shows the channel's picture through a
// window moving from the start rectangle to the end rectangle over the
// duration (the slow pan and zoom over a still picture). It steps on every
// compose and restarts on every play.

#include <cstdint>

#include "engine/video_effect.h"
#include "engine/zoom_window.h"

namespace engine {

class PanZoomEffect : public VideoEffect {
 public:
  PanZoomEffect(uint32_t fps, int32_t durationMs, uint32_t startRect, uint32_t endRect);
  // Redraws the channel's picture from its source-size picture through the window.
  int Draw(const Picture565& frame) override;
  void Reset() override;
  int IsContinuous() const override { return 1; }

 private:
  uint32_t start_, end_;
  ZoomWindow window_;
  uint32_t framesLeft_ = 0;
};

}  // namespace engine
