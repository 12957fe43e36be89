#include "platform/picture/fit_rect.h"

#include <algorithm>
#include <cstdint>

namespace picture {

namespace {

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The source's size with a zero side taken as a 1 x 1 source, and its
// aspect in hundredths.
struct Source {
  int64_t w, h, aspect;
  Source(int32_t src_width, int32_t src_height) : w(src_width), h(src_height) {
    if (w == 0 || h == 0) w = h = 1;
    aspect = w * 100 / h;
  }
  // The height of the source's proportions at width w. The hundredths
  // aspect of a source more than 100 times taller than wide is 0 and cannot
  // be divided by: the exact proportions then.
  int64_t HeightAt(int64_t width) const { return aspect != 0 ? width * 100 / aspect : width * h / w; }
  int64_t WidthAt(int64_t height) const { return aspect != 0 ? aspect * height / 100 : height * w / h; }
};

void Store(int32_t* width, int32_t* height, int64_t w, int64_t h) {
  if (width) *width = Clamp32(w);
  if (height) *height = Clamp32(h);
}

}  // namespace

void FitRect(int32_t* width, int32_t* height, int32_t src_width, int32_t src_height, int32_t box_width,
             int32_t box_height) {
  const Source s(src_width, src_height);
  int64_t w = box_width, h = s.HeightAt(box_width);
  if (h > box_height) {
    h = box_height;
    w = s.WidthAt(box_height);
  }
  Store(width, height, w, h);
}

void FitThumbnailRect(int32_t* width, int32_t* height, int32_t src_width, int32_t src_height, int32_t box_width,
                      int32_t box_height, int32_t full_width) {
  if (full_width == 0) {
    FitRect(width, height, src_width, src_height, box_width, box_height);
    return;
  }
  const Source s(src_width, src_height);
  Store(width, height, full_width, s.HeightAt(full_width));
}

}  // namespace picture
