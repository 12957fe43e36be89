#include "engine/fade_transition.h"

#include <algorithm>

namespace engine {

FadeTransition::FadeTransition(uint32_t fps, int32_t durationMs, int32_t direction)
    : VideoEffect(203, fps, durationMs == 0 ? kDefaultDurationMs : durationMs, direction),
      frames_(FramesFor(duration_)),
      table_(256 * 256) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const int v = int(float(b) / 255.0f * float(a) / 255.0f * 255.0f);
      table_[size_t(a) * 256 + size_t(b)] = uint8_t(std::clamp(v, 0, 255));
    }
  }
  // A fade longer than 255 frames still moves one level a frame, so it ends.
  if (frames_ != 0) levelStep_ = std::max<int32_t>(1, int32_t(255 / frames_));
}

int FadeTransition::Draw(const Picture565& frame) {
  if (frames_ == 0) return DrawImmediate(frame);
  const uint8_t* in = &table_[size_t(level_) * 256];
  const uint8_t* out = &table_[size_t(255 - level_) * 256];
  const Picture565& p = NewPicture();
  for (int32_t y = 0; y < frame.height; ++y) {
    uint16_t* d = frame.Row(y);
    const uint16_t* n = y < p.height ? p.Row(y) : nullptr;
    for (int32_t x = 0; x < frame.width; ++x) {
      const uint16_t o = d[x];
      const uint16_t v = (n && x < p.width) ? n[x] : 0;
      const int r = std::min(255, in[v >> 11] + out[o >> 11]);
      const int g = std::min(255, in[(v >> 5) & 63] + out[(o >> 5) & 63]);
      const int b = std::min(255, in[v & 31] + out[o & 31]);
      d[x] = uint16_t((r & 31) << 11 | (g & 63) << 5 | (b & 31));
    }
  }
  VideoEffect::Draw(frame);
  level_ += levelStep_;
  if (level_ >= 255) {
    level_ = 255;
    MarkFinished();
  }
  return 1;
}

}  // namespace engine
