#include "codecs/videodec/h264/h264_annexb.h"

namespace videodec {
namespace h264 {

bool NextAnnexBNal(const uint8_t* data, size_t size, size_t pos, size_t* begin, size_t* end) {
  // Start code 00 00 01.
  size_t i = pos;
  for (;;) {
    if (i + 3 > size) return false;
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) break;
    ++i;
  }
  const size_t b = i + 3;
  size_t j = b;
  size_t e = size;
  while (j + 3 <= size) {
    if (data[j] == 0 && data[j + 1] == 0 && (data[j + 2] == 1 || data[j + 2] == 0)) {
      if (data[j + 2] == 1) {
        e = j;
        break;
      }
      // 00 00 00: a zero_byte before the next start code, or trailing zeros.
      size_t k = j;
      while (k < size && data[k] == 0) ++k;
      if (k == size || data[k] == 1) {
        e = j;
        break;
      }
      j = k;
      continue;
    }
    ++j;
  }
  while (e > b && data[e - 1] == 0) --e;
  *begin = b;
  *end = e;
  return true;
}

}  // namespace h264
}  // namespace videodec
