#pragma once
// Fixed-point helper operations of the AAC decoder. All work on 32-bit values
// with 64-bit products; none divides. Shifts that could overflow saturate, so
// malformed streams never reach undefined behaviour.

#include <cstdint>

namespace heaac {

inline int32_t FxSat32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// (a x b) >> 15 of the signed 64-bit product, low 32 bits.
inline int32_t FxMulQ15(int32_t a, int32_t b) {
  return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 15);
}
// (a x b) >> 16 of the unsigned product.
inline uint32_t FxMulU16(uint32_t a, uint32_t b) {
  return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 16);
}
// Q31 product with bit 0 cleared.
inline int32_t FxMulQ31(int32_t a, int32_t b) {
  return static_cast<int32_t>(((static_cast<int64_t>(a) * b) >> 31) & ~int64_t{1});
}
inline int32_t FxMulShr31(int32_t a, int32_t b) {
  return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 31);
}
// High 32 bits of the unsigned product.
inline uint32_t FxMulHigh(uint32_t a, uint32_t b) {
  return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 32);
}

// Left shift by n with saturation; negative n shifts right (sign fill at 31+).
inline int32_t FxShlSat(int32_t a, int n) {
  if (n < 0) return n <= -31 ? (a < 0 ? -1 : 0) : (a >> -n);
  if (a == 0) return 0;
  if (n >= 31) return a > 0 ? INT32_MAX : INT32_MIN;
  return FxSat32(static_cast<int64_t>(a) * (int64_t{1} << n));
}
inline uint32_t FxShlSatU(uint32_t a, int n) {
  if (n < 0) return n <= -32 ? 0 : (a >> -n);
  if (a == 0) return 0;
  if (n >= 32) return UINT32_MAX;
  uint64_t v = static_cast<uint64_t>(a) << n;
  return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
}
inline uint32_t FxShrU(uint32_t a, int n) { return FxShlSatU(a, -n); }

// Arithmetic right shift by n with rounding (adds the last bit shifted out);
// negative n shifts left (saturated).
inline int32_t FxShrRound(int32_t a, int n) {
  if (n <= 0) return FxShlSat(a, -n);
  if (n > 32) return 0;
  int64_t v = static_cast<int64_t>(a) >> (n - 1);
  return static_cast<int32_t>((v + 1) >> 1);
}
// Unsigned right shift with rounding; n = 0 adds 1; negative n shifts left, 0
// when that overflows.
inline uint32_t FxShrRoundU(uint32_t a, int n) {
  if (n == 0) return a + 1;
  if (n < 0) {
    if (-n >= 32) return 0;
    uint64_t v = static_cast<uint64_t>(a) << -n;
    return v > UINT32_MAX ? 0 : static_cast<uint32_t>(v);
  }
  if (n > 32) return 0;
  uint64_t v = static_cast<uint64_t>(a) >> (n - 1);
  return static_cast<uint32_t>((v + 1) >> 1);
}

inline int32_t FxAddSat(int32_t a, int32_t b) { return FxSat32(static_cast<int64_t>(a) + b); }
inline int32_t FxSubSat(int32_t a, int32_t b) { return FxSat32(static_cast<int64_t>(a) - b); }
inline uint32_t FxAddSatU(uint32_t a, uint32_t b) {
  uint64_t v = static_cast<uint64_t>(a) + b;
  return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
}

// Leading zero bits of an unsigned value, 32 for 0.
inline int FxCountLeadingZeros(uint32_t a) { return a == 0 ? 32 : __builtin_clz(a); }
// Redundant sign bits (the left shift that normalises a), 31 for 0 and -1.
inline int FxNormShift(int32_t a) {
  uint32_t u = static_cast<uint32_t>(a < 0 ? ~a : a);
  return u == 0 ? 31 : FxCountLeadingZeros(u) - 1;
}

// a / b for 0 <= a <= b as a 15- (16-) bit fraction by restoring division.
int32_t FxDivQ15(int32_t a, int32_t b);
int32_t FxDivQ16(int32_t a, int32_t b);
int32_t FxDivByRecipQ15(int32_t a, int32_t b);
int32_t FxDivByRecipQ16(int32_t a, int32_t b);
// Square root by table: sqrt(a / 2), i.e. sqrt(a / 2^31) x 2^15 for the value
// normalised by an even shift s into [2^29, 2^31), shifted down by s / 2.
// 0 for a <= 0.
int32_t FxSqrt(int32_t a);
// Reciprocal of a normalised value x >= 2^30: 2^61 / x (1/x in Q30 of x in Q31),
// saturated to 0x7FFFFFFF.
int32_t FxReciprocal(int32_t x);
void ZeroBytes(void* p, uint32_t n);

}  // namespace heaac
