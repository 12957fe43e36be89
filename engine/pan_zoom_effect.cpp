#include "engine/pan_zoom_effect.h"

namespace engine {

PanZoomEffect::PanZoomEffect(uint32_t fps, int32_t durationMs, uint32_t startRect, uint32_t endRect)
    : VideoEffect(210, fps, durationMs, 0), start_(startRect), end_(endRect) {
  Reset();
}

void PanZoomEffect::Reset() {
  window_.Set(start_, end_, FramesFor(duration_));
  framesLeft_ = window_.frames;
  finished_ = false;
}

int PanZoomEffect::Draw(const Picture565& frame) {
  if (channel_ && !channel_->source.Empty()) window_.DrawInto(channel_->picture, channel_->source, channel_->bottomUp);
  if (framesLeft_ > 0) {
    window_.Forward();
    --framesLeft_;
  } else {
    MarkFinished();
  }
  return VideoEffect::Draw(frame);
}

}  // namespace engine
