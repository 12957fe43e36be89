#pragma once
// VideoEffect: draws one video channel in a special way for a while. A
// transition goes from what lies below the channel to the channel's new
// picture (slide, blind, fade, sweep, zoom, a mask animation from a file); an
// overlay alters the channel's own picture (colour filter, pan and zoom).
// ChannelDrawEffect is the mixer's plain way of drawing a channel.
//
// Thread rule: effects belong to the video mixer and run under its mutex.

#include <cstdint>
#include <vector>

#include "engine/picture565.h"

namespace engine {

// The pictures of a video channel that effects draw from and into.
struct EffectChannel {
  Picture565 picture;  // the current frame fitted into the frame size: the new picture
  Picture565 source;   // the decoded frame at the source's own size
  bool bottomUp = false;     // `source` rows run bottom-up
  bool hasColourKey = false;
  uint16_t colourKey = 0;    // RGB565
};

class VideoEffect {
 public:
  // `type` is 0 or the engine command code that made the effect; `fps` the
  // mixer's frame rate.
  VideoEffect(uint32_t type, uint32_t fps, int32_t durationMs, int32_t direction);
  virtual ~VideoEffect();
  VideoEffect(const VideoEffect&) = delete;
  VideoEffect& operator=(const VideoEffect&) = delete;

  bool IsTarget(const EffectChannel* channel) const { return channel_ == channel; }
  virtual void Attach(EffectChannel* channel) { channel_ = channel; }
  // Draws one frame into the mixer's frame (transitions) or the channel's
  // pictures (overlays). The base counts a frame; returns 1.
  virtual int Draw(const Picture565& frame);
  virtual void Reset() {}
  // 1 for overlays that step on every compose, not only on a new frame.
  virtual int IsContinuous() const { return 0; }

  bool IsFinished() const { return finished_; }
  void MarkFinished() { finished_ = true; }
  uint32_t type() const { return type_; }
  uint32_t framesDrawn() const { return framesDrawn_; }

 protected:
  // fps x duration / 1000: the frames a duration lasts (0 when below one frame).
  uint32_t FramesFor(int32_t durationMs) const;
  // A frame-sized scratch picture, made on first need.
  Picture565 EffectPicture(const Picture565& frame);
  const Picture565& NewPicture() const { return channel_->picture; }
  // A transition too short for one frame: the new picture at once, finished.
  int DrawImmediate(const Picture565& frame);

  uint32_t type_;
  uint32_t fps_;
  int32_t duration_;   // ms
  int32_t direction_;  // 1 up, 2 from the right, 3 down, 4 from the left
  uint32_t framesDrawn_ = 0;
  bool finished_ = false;
  EffectChannel* channel_ = nullptr;

 private:
  std::vector<uint16_t> effect_;
};

// The plain draw: the new picture over the whole frame, keyed when the channel
// has a colour key, stretched when its size differs from the frame's.
class ChannelDrawEffect : public VideoEffect {
 public:
  explicit ChannelDrawEffect(uint32_t fps) : VideoEffect(0, fps, 0, 0) {}
  int Draw(const Picture565& frame) override;
};

}  // namespace engine
