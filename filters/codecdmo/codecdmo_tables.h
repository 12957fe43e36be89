#pragma once
// Constant tables of the encoder objects.

#include <cstddef>
#include <cstdint>

namespace codecdmo {

// AMR-NB modes 0-7: speech bit rate, the storage-format rate (frame bytes x
// 8 x 50 frames per second) and the frame bytes with their header byte.
struct AmrMode {
  uint32_t bit_rate;
  uint32_t output_bit_rate;
  uint32_t frame_bytes;
};

inline constexpr AmrMode kAmrModes[8] = {
    {4750, 5200, 13},  {5150, 5600, 14}, {5900, 6400, 16},   {6700, 7200, 18},
    {7400, 8000, 20},  {7950, 8400, 21}, {10200, 10800, 27}, {12200, 12800, 32},
};

// The video objects' bit rate by input size when none is set; other sizes
// take kDefaultVideoBitRate.
struct SizeBitRate {
  uint16_t width;
  uint16_t height;
  int32_t bit_rate;
};

inline constexpr int32_t kDefaultVideoBitRate = 115000;
inline constexpr SizeBitRate kH263BitRates[] = {{352, 288, 256000}, {160, 120, 51000}, {128, 96, 35000}};
inline constexpr SizeBitRate kMpeg4BitRates[] = {{160, 120, 51000}, {320, 240, 256000}, {128, 96, 35000}};

template <size_t N>
constexpr int32_t DefaultBitRate(const SizeBitRate (&table)[N], uint16_t width, uint16_t height) {
  for (const SizeBitRate& s : table) {
    if (s.width == width && s.height == height) return s.bit_rate;
  }
  return kDefaultVideoBitRate;
}

}  // namespace codecdmo
