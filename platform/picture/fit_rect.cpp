#include "platform/picture/fit_rect.h"

#include <algorithm>
#include <cstdint>

namespace picture {

static int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

void FitRect(int32_t* width, int32_t* height, int32_t src_width, int32_t src_height, int32_t box_width,
             int32_t box_height) {
  int64_t sw = src_width, sh = src_height;
  if (sw == 0 || sh == 0) sw = sh = 1;
  const int64_t aspect = sw * 100 / sh;
  int64_t w = box_width, h;
  if (aspect != 0) {
    h = int64_t(box_width) * 100 / aspect;
    if (h > box_height) {
      h = box_height;
      w = aspect * box_height / 100;
    }
  } else {
    // The hundredths aspect of a very tall source is 0 and cannot be divided
    // by: the same fit from the exact proportions.
    h = int64_t(box_width) * sh / sw;
    if (h > box_height) {
      h = box_height;
      w = int64_t(box_height) * sw / sh;
    }
  }
  if (width) *width = Clamp32(w);
  if (height) *height = Clamp32(h);
}

}  // namespace picture
