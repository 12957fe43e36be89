#pragma once
// Per-macroblock record shared by the picture loop, motion search, rate
// control and intra refresh; one per macroblock in raster order.

#include <cstdint>

namespace venc {

struct MotionVector {
  int16_t x;  // half-pel units
  int16_t y;
};

struct MacroblockInfo {
  MotionVector vectors[4];  // one per luma block; the first holds a single vector
  uint32_t activity;        // activity or mode cost of the macroblock
  int16_t inter;            // 1 inter, 0 intra
  int16_t fourVectors;      // 1 = inter4v
  uint16_t quant;           // QP 1..31
  int16_t packet;           // video packet holding the macroblock
  int16_t cbp;              // bit 5 = block 0 ... bit 0 = block 5
  int16_t notCoded;         // 1 = skipped inter macroblock
  uint8_t firstCoef;        // 1 = intra DC coded with the intra DC code
  uint8_t acPred;           // ac_pred_flag, always 0
  int32_t refreshAge;       // predicted pictures since last intra
  int32_t refreshWeight;    // smoothed activity of intra refresh
  uint32_t zeroVectorSad;   // SAD of the zero vector
};

}  // namespace venc
