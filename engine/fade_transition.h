#pragma once
// FadeTransition (203): cross-fades from what lies below to the new picture,
// component by component through a 256 x 256 product table. A duration of 0
// lasts 500 ms.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "engine/video_effect.h"

namespace engine {

class FadeTransition : public VideoEffect {
 public:
  static constexpr int32_t kDefaultDurationMs = 500;

  FadeTransition(uint32_t fps, int32_t durationMs, int32_t direction);
  int Draw(const Picture565& frame) override;
  int32_t level() const { return level_; }

 private:
  uint32_t frames_;
  int32_t level_ = 0;      // 0 (all old) to 255 (all new)
  int32_t levelStep_ = 0;
  std::vector<uint8_t> table_;  // [a][b] = b/255 x a/255 x 255
};

}  // namespace engine
