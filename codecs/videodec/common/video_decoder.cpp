#include "codecs/videodec/common/video_decoder.h"

#include <cstdlib>

namespace videodec {

int32_t FrameActivity(const DecodedPicture& picture) {
  if (!picture.y || picture.width == 0 || picture.height == 0) return 0;
  const uint64_t n = static_cast<uint64_t>(picture.width) * picture.height;
  uint64_t sum = 0;
  for (uint64_t i = 0; i < n; ++i) sum += picture.y[i];
  const int64_t mean = static_cast<int64_t>(sum / n);
  uint64_t dev = 0;
  for (uint64_t i = 0; i < n; ++i) dev += static_cast<uint64_t>(std::llabs(mean - picture.y[i]));
  const uint64_t d = dev / n;
  return d < 50 ? static_cast<int32_t>(d / 5) : 10;
}

}  // namespace videodec
