#pragma once
// A double-precision model of the library's colour formulas, written from
// the weights as plain arithmetic (floor of the exact quotient for each
// flooring shift), for the conversion tests to compare against.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace iptest {

inline int FloorQ(double numerator, double scale) { return static_cast<int>(std::floor(numerator / scale)); }
inline int Clip(int v) { return std::clamp(v, 0, 255); }

// Chroma weights in Q14: B = Y + kb U', G = Y - (kgu U' + kgv V'), R = Y + kr V'.
struct Matrix {
  double kb, kgu, kgv, kr;
  bool rounded;
};
inline constexpr Matrix kBt601{29032, 5638, 11700, 22970, false};
inline constexpr Matrix kBt601Rounded{29032, 5638, 11700, 22970, true};
inline constexpr Matrix kBt709{30397, 3072, 7671, 25802, false};
inline constexpr Matrix kBt709Rounded{30397, 3072, 7671, 25802, true};
inline constexpr Matrix kBt709Packed{30397, 3072, 7670, 25801, false};

struct Rgb {
  int r, g, b;
};

struct Offsets {
  int b, g, r;
};
// Ordered dither of a 2x2 block: [row][column].
inline constexpr Offsets kDither[2][2] = {{{0, 3, 2}, {4, 0, 6}}, {{6, 1, 4}, {2, 2, 0}}};
inline constexpr Offsets kNone{0, 0, 0};

inline Rgb ModelRgb(int y, int u, int v, const Matrix& m, Offsets o) {
  const double up = u - 128, vp = v - 128, bias = m.rounded ? 8192 : 0;
  const int db = FloorQ(m.kb * up + bias, 16384);
  const int dg = FloorQ(m.kgu * up + m.kgv * vp + bias, 16384);
  const int dr = FloorQ(m.kr * vp + bias, 16384);
  return {Clip(y + dr + o.r), Clip(y - dg + o.g), Clip(y + db + o.b)};
}

// The shift-only approximation: 2U' - U'/8, U'/8 + V'/2, V' + V'/2 (floored).
inline Rgb ModelShiftRgb(int y, int u, int v, Offsets o) {
  const double up = u - 128, vp = v - 128;
  const int db = static_cast<int>(2 * up) - FloorQ(up, 8);
  const int dg = FloorQ(up, 8) + FloorQ(vp, 2);
  const int dr = static_cast<int>(vp) + FloorQ(vp, 2);
  return {Clip(y + dr + o.r), Clip(y - dg + o.g), Clip(y + db + o.b)};
}

inline uint16_t To565(Rgb c) { return static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)); }

// RGB565 to YUV with the Q14 table steps applied to the unwidened fields.
inline int ModelY565(uint16_t p) {
  return FloorQ(23840.0 * (p >> 11) + 40092.0 * ((p >> 5) & 63) + 8096.0 * (p & 31), 16384) + 16;
}
inline int ModelU565(uint16_t p) {
  return FloorQ(-13184.0 * (p >> 11) - 22116.0 * ((p >> 5) & 63) + 57344.0 * (p & 31), 16384) + 128;
}
inline int ModelV565(uint16_t p) {
  return FloorQ(57344.0 * (p >> 11) - 26028.0 * ((p >> 5) & 63) - 5272.0 * (p & 31), 16384) + 128;
}

}  // namespace iptest
