#pragma once
// Constant tables of the encoder objects.

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

}  // namespace codecdmo
