#include "engine/zoom_transition.h"

namespace engine {

ZoomTransition::ZoomTransition(uint32_t fps, int32_t durationMs, uint32_t startRect, uint32_t endRect)
    : VideoEffect(211, fps, durationMs, 0) {
  window_.Set(startRect, endRect, FramesFor(durationMs / 2));
  framesLeft_ = window_.frames;
}

int ZoomTransition::Draw(const Picture565& frame) {
  if (window_.frames == 0) return DrawImmediate(frame);
  if (phase_ == 1) {
    const Picture565 below = EffectPicture(frame);
    Copy565(below, 0, 0, frame);
    window_.DrawInto(frame, below, false);
    window_.Forward();
    if (--framesLeft_ == 0) {
      phase_ = 2;
      // The second half starts at the end rectangle and moves back.
      framesLeft_ = window_.frames;
    }
  } else {
    window_.DrawInto(frame, NewPicture(), false);
    window_.Back();
    if (--framesLeft_ == 0) MarkFinished();
  }
  return VideoEffect::Draw(frame);
}

}  // namespace engine
