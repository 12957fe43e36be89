#include "codecs/heaac/fx_math.h"

#include <cstring>

#include "codecs/heaac/aac_tables.h"

namespace heaac {

int32_t FxDivQ15(int32_t a, int32_t b) {
  if (a <= 0 || b <= 0) return 0;
  if (a >= b) return 0x7FFF;
  int32_t q = 0;
  uint32_t r = static_cast<uint32_t>(a);
  for (int i = 0; i < 15; ++i) {
    r <<= 1;
    q <<= 1;
    if (r >= static_cast<uint32_t>(b)) {
      r -= static_cast<uint32_t>(b);
      q |= 1;
    }
  }
  return q;
}

int32_t FxDivQ16(int32_t a, int32_t b) {
  if (a <= 0 || b <= 0) return 0;
  if (a >= b) return 0xFFFF;
  int32_t q = 0;
  uint32_t r = static_cast<uint32_t>(a);
  for (int i = 0; i < 16; ++i) {
    r <<= 1;
    q <<= 1;
    if (r >= static_cast<uint32_t>(b)) {
      r -= static_cast<uint32_t>(b);
      q |= 1;
    }
  }
  return q;
}

int32_t FxDivByRecipQ15(int32_t a, int32_t b) {
  int32_t r = FxDivQ15(16383, b >> 16);
  int64_t t = FxSat32(static_cast<int64_t>(0x7FFFFFFF) - ((static_cast<int64_t>(r) * b) >> 15));
  r = static_cast<int32_t>((static_cast<int64_t>(r) * t) >> 15);
  return FxSat32(((static_cast<int64_t>(a) * r) >> 32) * 8);
}

int32_t FxDivByRecipQ16(int32_t a, int32_t b) {
  int32_t r = FxDivQ16(32767, b >> 16);
  int64_t e = -((static_cast<int64_t>(b) * r) >> 16) - 1;
  r = static_cast<int32_t>((e * r) >> 16);
  return static_cast<int32_t>(((static_cast<int64_t>(a) * r) >> 30) & ~int64_t{3});
}

int32_t FxSqrt(int32_t a) {
  if (a <= 0) return 0;
  // Normalise by an even shift into [2^29, 2^31), so that the table of
  // sqrt(i / 64), i = 16..64, covers it and the halved shift is exact.
  int s = FxNormShift(a) & ~1;
  uint32_t n = static_cast<uint32_t>(a) << s;
  int index = static_cast<int>(n >> 25) - 16;  // 0..47
  const int32_t* table = kSqrtTableQ15;
  int32_t frac = static_cast<int32_t>((n >> 10) & 0x7FFF);  // bits 10..24
  int32_t v = table[index] + static_cast<int32_t>((static_cast<int64_t>(table[index + 1] - table[index]) * frac) >> 15);
  return v >> (s / 2);
}

int32_t FxReciprocal(int32_t x) {
  if (x < 0x40000000) return 0x7FFFFFFF;
  // 15-bit restoring division of 16383 by the top half gives about 2^45 / top,
  // i.e. 2^61 / x to 15 bits once shifted up by 16.
  int64_t e = static_cast<int64_t>(FxDivQ15(16383, x >> 16)) << 16;
  // One Newton-Raphson step: e += e (2^61 - x e) / 2^61.
  int64_t d = (int64_t{1} << 61) - static_cast<int64_t>(x) * e;
  e += (e * (d >> 20)) >> 41;
  return FxSat32(e);
}

void ZeroBytes(void* p, uint32_t n) { std::memset(p, 0, n); }

}  // namespace heaac
