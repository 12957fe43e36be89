#include "engine/sweep_transition.h"

namespace engine {

SweepTransition::SweepTransition(uint32_t fps, int32_t durationMs, int32_t direction)
    : VideoEffect(204, fps, durationMs, direction), frames_(FramesFor(durationMs)) {}

int SweepTransition::Draw(const Picture565& frame) {
  if (frames_ == 0) return DrawImmediate(frame);
  const int32_t w = frame.width, h = frame.height;
  if (step_ < 0) step_ = int32_t(uint32_t(direction_ == 1 || direction_ == 3 ? h : w) / frames_);
  const int32_t d = step_ * int32_t(framesDrawn_);
  // The old picture is kept aside, then drawn shifted with the new one after it.
  const Picture565 old = EffectPicture(frame);
  Copy565(old, 0, 0, frame);
  switch (direction_) {
    case 1: Copy565(frame, 0, -d, old); Copy565(frame, 0, h - d, NewPicture()); break;
    case 2: Copy565(frame, -d, 0, old); Copy565(frame, w - d, 0, NewPicture()); break;
    case 3: Copy565(frame, 0, d, old); Copy565(frame, 0, d - h, NewPicture()); break;
    case 4: Copy565(frame, d, 0, old); Copy565(frame, d - w, 0, NewPicture()); break;
    default: break;
  }
  VideoEffect::Draw(frame);
  if (framesDrawn_ >= frames_) MarkFinished();
  return 1;
}

}  // namespace engine
