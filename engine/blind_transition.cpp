#include "engine/blind_transition.h"

namespace engine {

BlindTransition::BlindTransition(uint32_t fps, int32_t durationMs, int32_t direction)
    : VideoEffect(202, fps, durationMs, direction), frames_(FramesFor(durationMs)) {}

int BlindTransition::Draw(const Picture565& frame) {
  if (frames_ == 0) return DrawImmediate(frame);
  const int32_t w = frame.width, h = frame.height;
  if (step_ < 0) step_ = int32_t(uint32_t(direction_ == 1 || direction_ == 3 ? h : w) / 4 / frames_);
  const int32_t s = step_ * int32_t(framesDrawn_);
  if (framesDrawn_ >= frames_) MarkFinished();
  const Picture565& p = NewPicture();
  for (int k = 1; k <= 4; ++k) {
    int32_t x = 0, y = 0, bw = w, bh = h;
    switch (direction_) {
      case 1: y = h * k / 4 - s; bh = s; break;
      case 3: y = h * (k - 1) / 4; bh = s; break;
      case 2: x = w * k / 4 - s; bw = s; break;
      case 4: x = w * (k - 1) / 4; bw = s; break;
      default: bw = bh = 0; break;
    }
    if (bw <= 0 || bh <= 0) continue;
    FillRect565(frame, x, y, bw, bh, 0);
    CopyPart565(frame, x, y, p, x, y, bw, bh);
  }
  VideoEffect::Draw(frame);
  return 1;
}

}  // namespace engine
