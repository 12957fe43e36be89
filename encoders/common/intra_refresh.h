#pragma once
// Adaptive and cyclic intra refresh: in each predicted picture a number of
// inter macroblocks, ranked by the pictures since they were last intra and
// by their smoothed activity, are coded intra so that a transmission error
// cannot live on for long. Shared by the MPEG-4 and H.263 encoders.

#include <cstddef>
#include <cstdint>

#include "encoders/common/macroblock_info.h"

namespace venc {

struct IntraRefreshSetup {
  int mbsPerRow = 0, mbRows = 0;
  int refreshMbs = 0;      // per picture, or -1 for a count from the bit target
  bool cyclic = false;     // refreshes propagate along whole-macroblock vectors
  int32_t ageWeight = 20;  // 9500 / frame rate while cyclic refresh is on
  int32_t* scores = nullptr;   // work tables of mbsPerRow x mbRows entries
  int32_t* indices = nullptr;
};

// Age 0 and weight 1 for n records (at creation).
void ResetRefreshCounters(MacroblockInfo* mbs, int n);

// Number of macroblocks an automatic refresh asks for a picture of
// `bitTarget` bits over `mbCount` macroblocks, before the intra macroblocks
// already chosen are deducted.
int AutomaticRefreshCount(int32_t bitTarget, int mbCount);

// Forces the chosen inter macroblocks of a predicted picture to intra (zero
// vectors, the activity of their luma block at `lumaOrigin`) and updates
// every record's age and weight.
void AdaptiveIntraRefresh(MacroblockInfo* mbs, int32_t bitTarget, const IntraRefreshSetup& setup,
                          const uint8_t* lumaOrigin, ptrdiff_t stride);

}  // namespace venc
