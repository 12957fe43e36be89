#pragma once
// Constant tables of the SBR tool (ISO/IEC 14496-3 4.6.18 and annex 4.A.6).

#include <cstdint>

namespace heaac {

extern const uint8_t kSbrStartMin[9];
extern const int8_t kSbrStartOffset[6][16];
extern const uint8_t kSbrStopTable[9][14];
extern const uint8_t kSbrGoalSb[9];
extern const uint32_t kSbrLog2Odd[32];
extern const uint16_t kSbrPow2Frac[65];
extern const int32_t kSbrQmfWindowAnalysis[320];
extern const int16_t kSbrQmfWindowSynthesis[640];
extern const int16_t kSbrNoiseTable[512];

struct SbrHuffCode {
  uint8_t length;
  uint32_t code;
};
struct SbrHuffTable {
  int lav;                  // values run from -lav to +lav
  const SbrHuffCode* codes;  // 2 x lav + 1 entries
};

enum SbrHuffTableId {
  kSbrHuffTEnv15,
  kSbrHuffFEnv15,
  kSbrHuffTEnvBal15,
  kSbrHuffFEnvBal15,
  kSbrHuffTEnv30,
  kSbrHuffFEnv30,
  kSbrHuffTEnvBal30,
  kSbrHuffFEnvBal30,
  kSbrHuffTNoise30,
  kSbrHuffTNoiseBal30,
  kSbrHuffTableCount
};
extern const SbrHuffTable kSbrHuffTables[kSbrHuffTableCount];

}  // namespace heaac
