#include "codecs/videodec/h264/h264_intra.h"

#include <cstring>

namespace videodec {
namespace h264 {
namespace {

inline uint8_t Clip1(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

// Chroma DC prediction of one 4x4 chroma block (8.3.4.1..3).
// mb points to the 8x8 block; sums use the macroblock's top row and left column.
static void PredChromaDc(uint8_t* mb, int stride, int bx, int by, bool top, bool left) {
  uint8_t* d = mb + by * 4 * stride + bx * 4;
  const uint8_t* t = mb - stride + bx * 4;
  const uint8_t* l = mb + by * 4 * stride - 1;
  int st = 0, sl = 0;
  if (top) for (int i = 0; i < 4; ++i) st += t[i];
  if (left) for (int i = 0; i < 4; ++i) sl += l[i * stride];
  int dc = 128;
  const bool corner = (bx == by);
  if (corner) {
    if (top && left) dc = (st + sl + 4) >> 3;
    else if (top) dc = (st + 2) >> 2;
    else if (left) dc = (sl + 2) >> 2;
  } else if (bx == 1) {  // upper right block prefers the top
    if (top) dc = (st + 2) >> 2;
    else if (left) dc = (sl + 2) >> 2;
  } else {  // lower left block prefers the left
    if (left) dc = (sl + 2) >> 2;
    else if (top) dc = (st + 2) >> 2;
  }
  for (int y = 0; y < 4; ++y) std::memset(d + y * stride, dc, 4);
}

// 8.3.1.2: Intra 4x4 prediction into the block at d. p[] holds the top-left
// sample at index 0, top samples 1..8, and left samples in l[0..3].
void PredIntra4x4(uint8_t* d, int s, int mode, const int* top, int tl, const int* l, bool have_top,
                  bool have_left) {
  auto P = [&](int x, int y) -> int {  // p[x, y] with x, y in -1..7
    if (y == -1) return x < 0 ? tl : top[x];
    return l[y];
  };
  switch (mode) {
    case 0:  // vertical
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) d[y * s + x] = uint8_t(top[x]);
      break;
    case 1:  // horizontal
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) d[y * s + x] = uint8_t(l[y]);
      break;
    case 2: {  // DC
      int dc;
      if (have_top && have_left) dc = (top[0] + top[1] + top[2] + top[3] + l[0] + l[1] + l[2] + l[3] + 4) >> 3;
      else if (have_left) dc = (l[0] + l[1] + l[2] + l[3] + 2) >> 2;
      else if (have_top) dc = (top[0] + top[1] + top[2] + top[3] + 2) >> 2;
      else dc = 128;
      for (int y = 0; y < 4; ++y) std::memset(d + y * s, dc, 4);
      break;
    }
    case 3:  // diagonal down left
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int v = (x == 3 && y == 3) ? (top[6] + 3 * top[7] + 2) >> 2
                                     : (top[x + y] + 2 * top[x + y + 1] + top[x + y + 2] + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
    case 4:  // diagonal down right
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int v;
          if (x > y) v = (P(x - y - 2, -1) + 2 * P(x - y - 1, -1) + P(x - y, -1) + 2) >> 2;
          else if (x < y) v = (P(-1, y - x - 2) + 2 * P(-1, y - x - 1) + P(-1, y - x) + 2) >> 2;
          else v = (P(0, -1) + 2 * tl + P(-1, 0) + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
    case 5:  // vertical right
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = 2 * x - y, v;
          if (z >= 0 && !(z & 1)) v = (P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 1) >> 1;
          else if (z >= 0) v = (P(x - (y >> 1) - 2, -1) + 2 * P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 2) >> 2;
          else if (z == -1) v = (P(-1, 0) + 2 * tl + P(0, -1) + 2) >> 2;
          else v = (P(-1, y - 1) + 2 * P(-1, y - 2) + P(-1, y - 3) + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
    case 6:  // horizontal down
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = 2 * y - x, v;
          if (z >= 0 && !(z & 1)) v = (P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 1) >> 1;
          else if (z >= 0) v = (P(-1, y - (x >> 1) - 2) + 2 * P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 2) >> 2;
          else if (z == -1) v = (P(-1, 0) + 2 * tl + P(0, -1) + 2) >> 2;
          else v = (P(x - 1, -1) + 2 * P(x - 2, -1) + P(x - 3, -1) + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
    case 7:  // vertical left
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int i = x + (y >> 1), v;
          if (!(y & 1)) v = (top[i] + top[i + 1] + 1) >> 1;
          else v = (top[i] + 2 * top[i + 1] + top[i + 2] + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
    default:  // 8: horizontal up
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = x + 2 * y, v;
          if (z > 5) v = l[3];
          else if (z == 5) v = (l[2] + 3 * l[3] + 2) >> 2;
          else if (!(z & 1)) v = (l[y + (x >> 1)] + l[y + (x >> 1) + 1] + 1) >> 1;
          else v = (l[y + (x >> 1)] + 2 * l[y + (x >> 1) + 1] + l[y + (x >> 1) + 2] + 2) >> 2;
          d[y * s + x] = uint8_t(v);
        }
      break;
  }
}

// 8.3.3 / 8.3.4.4: plane prediction of a size x size block (16 luma, 8 chroma).
static void PredPlane(uint8_t* d, int s, int size) {
  const uint8_t* t = d - s;
  const int half = size / 2;
  int h = 0, v = 0;
  for (int i = 0; i < half; ++i) {
    h += (i + 1) * (t[half + i] - t[half - 2 - i]);
    v += (i + 1) * (d[(half + i) * s - 1] - d[(half - 2 - i) * s - 1]);
  }
  const int a = 16 * (d[(size - 1) * s - 1] + t[size - 1]);
  const int b = size == 16 ? (5 * h + 32) >> 6 : (34 * h + 32) >> 6;
  const int c = size == 16 ? (5 * v + 32) >> 6 : (34 * v + 32) >> 6;
  const int o = half - 1;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) d[y * s + x] = Clip1((a + b * (x - o) + c * (y - o) + 16) >> 5);
}


void PredIntra16(uint8_t* d, int s, int mode, bool top, bool left, bool top_left) {
  // A mode whose neighbours are missing (a damaged stream) predicts 128.
  const bool ok = (mode == 0 && top) || (mode == 1 && left) || mode == 2 || (mode == 3 && top && left && top_left);
  if (!ok) {
    for (int y = 0; y < 16; ++y) std::memset(d + y * s, 128, 16);
    return;
  }
  switch (mode) {
    case 0:
      for (int y = 0; y < 16; ++y) std::memcpy(d + y * s, d - s, 16);
      break;
    case 1:
      for (int y = 0; y < 16; ++y) std::memset(d + y * s, d[y * s - 1], 16);
      break;
    case 2: {
      int st = 0, sl = 0;
      for (int i = 0; i < 16; ++i) {
        if (top) st += d[i - s];
        if (left) sl += d[i * s - 1];
      }
      int dc = 128;
      if (top && left) dc = (st + sl + 16) >> 5;
      else if (left) dc = (sl + 8) >> 4;
      else if (top) dc = (st + 8) >> 4;
      for (int y = 0; y < 16; ++y) std::memset(d + y * s, dc, 16);
      break;
    }
    default:
      PredPlane(d, s, 16);
      break;
  }
}

void PredChroma(uint8_t* d, int s, int mode, bool top, bool left, bool top_left) {
  const bool ok = mode == 0 || (mode == 1 && left) || (mode == 2 && top) || (mode == 3 && top && left && top_left);
  if (!ok) {
    for (int y = 0; y < 8; ++y) std::memset(d + y * s, 128, 8);
    return;
  }
  switch (mode) {
    case 0:
      for (int b = 0; b < 4; ++b)
        PredChromaDc(d, s, b & 1, b >> 1, top, left);
      break;
    case 1:
      for (int y = 0; y < 8; ++y) std::memset(d + y * s, d[y * s - 1], 8);
      break;
    case 2:
      for (int y = 0; y < 8; ++y) std::memcpy(d + y * s, d - s, 8);
      break;
    default:
      PredPlane(d, s, 8);
      break;
  }
}

}  // namespace h264
}  // namespace videodec
