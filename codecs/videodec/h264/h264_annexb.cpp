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

bool NextAnnexBAccessUnit(const uint8_t* data, size_t size, size_t pos, size_t* begin, size_t* end) {
  size_t b = 0, e = 0;
  if (!NextAnnexBNal(data, size, pos, &b, &e)) return false;
  *begin = b - 3;
  bool has_slice = false;
  size_t unit_end = e;
  for (;;) {
    if (e > b) {
      const int type = data[b] & 31;
      const bool slice = type == 1 || type == 5;
      // first_mb_in_slice is 0 exactly when its ue(v) code is the bit 1.
      const bool starts_picture = slice && e > b + 1 && (data[b + 1] & 0x80);
      const bool opens_unit = (type >= 6 && type <= 9) || (type >= 14 && type <= 18);
      if (has_slice && (starts_picture || opens_unit)) break;
      has_slice |= slice;
      unit_end = e;
    }
    const size_t next = e > pos ? e : pos + 1;
    pos = next;
    if (!NextAnnexBNal(data, size, pos, &b, &e)) {
      unit_end = size;
      break;
    }
  }
  *end = unit_end;
  return true;
}

}  // namespace h264
}  // namespace videodec
