#pragma once
// ColourFilterEffect (209): an overlay that recolours the channel's pictures
// in place: kind 0 black and white, 1 sepia, 2 stronger saturation.

#include <cstdint>

#include "engine/video_effect.h"

namespace engine {

class ColourFilterEffect : public VideoEffect {
 public:
  ColourFilterEffect(uint32_t fps, uint32_t kind);
  // Filters the channel's current-frame and source-size pictures.
  int Draw(const Picture565& frame) override;
  // One RGB565 pixel through filter `kind` (other kinds leave it as it is).
  static uint16_t FilterPixel(uint32_t kind, uint16_t pixel);

 private:
  uint32_t kind_;
};

}  // namespace engine
