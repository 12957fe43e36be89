#include "encoders/common/prefilter.h"

#include <algorithm>

namespace venc {

// Both filters work in place, rows top to bottom, columns left to right: the
// neighbours above and to the left are already filtered.
void PrefilterClampToNeighbours(uint8_t* origin, ptrdiff_t stride, int width, int height) {
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      uint8_t* p = origin + y * stride + x;
      const uint8_t n[8] = {p[-stride - 1], p[-stride], p[-stride + 1], p[-1], p[1], p[stride - 1], p[stride],
                            p[stride + 1]};
      const uint8_t lo = *std::min_element(n, n + 8), hi = *std::max_element(n, n + 8);
      if (*p > hi) {
        *p = hi;
      } else if (*p < lo) {
        *p = lo;
      }
    }
  }
}

void PrefilterConditionalMedian(uint8_t* origin, ptrdiff_t stride, int width, int height) {
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      uint8_t* p = origin + y * stride + x;
      uint8_t v[9] = {p[-stride - 1], p[-stride], p[-stride + 1], p[-1], p[0], p[1], p[stride - 1], p[stride],
                      p[stride + 1]};
      std::sort(v, v + 9);
      if (*p == v[0] || *p == v[8]) *p = v[4];
    }
  }
}

void PrefilterLuma(int level, uint8_t* origin, ptrdiff_t stride, int width, int height) {
  if (level == 1) PrefilterClampToNeighbours(origin, stride, width, height);
  if (level == 2) PrefilterConditionalMedian(origin, stride, width, height);
}

}  // namespace venc
