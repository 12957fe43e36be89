#include "engine/colour_filter_effect.h"

#include <algorithm>

namespace engine {

ColourFilterEffect::ColourFilterEffect(uint32_t fps, uint32_t kind) : VideoEffect(209, fps, -1, 0), kind_(kind) {}

uint16_t ColourFilterEffect::FilterPixel(uint32_t kind, uint16_t pixel) {
  const int r = pixel >> 11, g = (pixel >> 5) & 63, b = pixel & 31;
  int ro = r, go = g, bo = b;
  switch (kind) {
    case 0: {  // grey from 2r + g + 2b (red and blue count double: they have one bit less)
      const int y = (2 * r + g + 2 * b) / 3;
      ro = y / 2;
      go = y;
      bo = y / 2;
      break;
    }
    case 1: {
      // Sepia. The strong weights (R / 2544 + G / 1300 + B / 5291, about
      // 0.39 R + 0.77 G + 0.19 B) make the red output and the weak ones the
      // blue output; the other way round every picture turns blue-grey.
      // Deliberate, keep it: the weight sets of red and blue are easily
      // swapped "back" when the formula is read in isolation, and the
      // brown of VideoEffect.ColourFilters would then fail.
      const int R = 2000 * r, G = 1000 * g, B = 2000 * b;
      ro = std::min(((B / 5291 + R / 2544 + G / 1300) % 256) / 2, 31);
      go = std::min((B / 5952 + R / 2865 + G / 1457) % 256, 63);
      bo = std::min(((B / 7633 + R / 3676 + G / 1872) % 256) / 2, 31);
      break;
    }
    case 2: {
      const int R = 2000 * r, G = 1000 * g, B = 2000 * b;
      const int16_t red6 = int16_t(R / 616 + G / -1823 + B / -13550);
      const int16_t green = int16_t(R / -3600 + G / 739 + B / -13550);
      const int16_t blue6 = int16_t(R / -3600 + G / -1823 + B / 547);
      ro = std::clamp(red6 >> 1, 0, 31);
      go = std::clamp(int(green), 0, 63);
      bo = std::clamp(blue6 >> 1, 0, 31);
      break;
    }
    default:
      break;
  }
  return uint16_t(ro << 11 | go << 5 | bo);
}

int ColourFilterEffect::Draw(const Picture565& frame) {
  if (channel_) {
    for (const Picture565* p : {&channel_->picture, &channel_->source}) {
      for (int32_t y = 0; y < p->height; ++y) {
        uint16_t* row = p->Row(y);
        for (int32_t x = 0; x < p->width; ++x) row[x] = FilterPixel(kind_, row[x]);
      }
    }
  }
  return VideoEffect::Draw(frame);
}

}  // namespace engine
