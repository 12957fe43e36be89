#pragma once
// Code tables of ITU-T H.263 (Tables 7, 8, 13, 14, 16 and Annexes I, J, T),
// code words written as bit strings.

#include <cstdint>

namespace videodec {

struct H263VlcCode {
  const char* bits;
  int16_t value;
};

struct H263TcoefCode {
  const char* bits;  // before the sign bit
  uint8_t last;
  uint8_t run;
  uint8_t level;
};

extern const H263VlcCode kH263IntraMcbpc[];
extern const int kH263IntraMcbpcCount;
extern const H263VlcCode kH263InterMcbpc[];
extern const int kH263InterMcbpcCount;
extern const H263VlcCode kH263Cbpy[];
extern const int kH263CbpyCount;
extern const H263VlcCode kH263Mvd[];
extern const int kH263MvdCount;
extern const H263TcoefCode kH263Tcoef[];
extern const int kH263TcoefCount;
extern const H263TcoefCode kH263AdvancedIntraTcoef[];
extern const int kH263AdvancedIntraTcoefCount;

extern const uint8_t kH263DeblockStrength[32];
extern const uint8_t kH263ChromaQuant[32];
extern const uint8_t kH263ModifiedQuant[2][32];

}  // namespace videodec
