#include "engine/video_effect.h"

#include <cstddef>

namespace engine {

VideoEffect::VideoEffect(uint32_t type, uint32_t fps, int32_t durationMs, int32_t direction)
    : type_(type), fps_(fps), duration_(durationMs), direction_(direction) {}

VideoEffect::~VideoEffect() = default;

int VideoEffect::Draw(const Picture565& /*frame*/) {
  ++framesDrawn_;
  return 1;
}

uint32_t VideoEffect::FramesFor(int32_t durationMs) const {
  if (durationMs <= 0) return 0;
  return uint32_t(uint64_t(fps_) * uint64_t(durationMs) / 1000);
}

Picture565 VideoEffect::EffectPicture(const Picture565& frame) {
  const size_t need = size_t(frame.width) * size_t(frame.height);
  if (effect_.size() != need) effect_.assign(need, 0);
  return Picture565{effect_.data(), frame.width, frame.height, frame.width};
}

int VideoEffect::DrawImmediate(const Picture565& frame) {
  if (channel_) {
    ChannelDrawEffect plain(fps_);
    plain.Attach(channel_);
    plain.Draw(frame);
  }
  MarkFinished();
  ++framesDrawn_;
  return 1;
}

int ChannelDrawEffect::Draw(const Picture565& frame) {
  if (channel_) {
    const Picture565& p = NewPicture();
    if (channel_->hasColourKey) {
      CopyKeyed565(frame, 0, 0, p, channel_->colourKey);
    } else if (p.width == frame.width && p.height == frame.height) {
      Copy565(frame, 0, 0, p);
    } else {
      Stretch565(frame, 0, 0, frame.width, frame.height, p, 0, 0, p.width, p.height);
    }
  }
  return VideoEffect::Draw(frame);
}

}  // namespace engine
