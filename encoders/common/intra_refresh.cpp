#include "encoders/common/intra_refresh.h"

#include "encoders/common/rate_control.h"

namespace venc {

void ResetRefreshCounters(MacroblockInfo* mbs, int n) {
  for (int i = 0; i < n; ++i) {
    mbs[i].refreshAge = 0;
    mbs[i].refreshWeight = 1;
  }
}

int AutomaticRefreshCount(int32_t bitTarget, int mbCount) {
  if (mbCount <= 0) return 0;
  const float b = static_cast<float>(bitTarget) / static_cast<float>(mbCount);
  float p = 0.0f;
  if (b <= 2.0f) {
    p = 0.0f;
  } else if (b <= 5.0f) {
    p = b - 2.0f;
  } else if (b <= 10.0f) {
    p = 3.0f + 0.4f * (b - 5.0f);
  } else {
    p = 5.0f + (b - 10.0f) * 0.33333334f;
  }
  // Percentages beyond 100 refresh every macroblock.
  const int64_t percent = p >= 100.0f ? 100 : static_cast<int64_t>(p);
  return static_cast<int>((int64_t{mbCount} * percent + 50) / 100);
}

void AdaptiveIntraRefresh(MacroblockInfo* mbs, int32_t bitTarget, const IntraRefreshSetup& setup,
                          const uint8_t* lumaOrigin, ptrdiff_t stride) {
  const int perRow = setup.mbsPerRow;
  const int count = perRow * setup.mbRows;
  int intraMbs = 0;
  for (int i = 0; i < count; ++i) {
    if (mbs[i].inter) {
      mbs[i].refreshAge += 1;
    } else {
      mbs[i].refreshAge = 0;
      ++intraMbs;
    }
  }
  int k = (setup.refreshMbs == -1 ? AutomaticRefreshCount(bitTarget, count) : setup.refreshMbs) - intraMbs;
  if (k > count) k = count;
  if (k > 0) {
    for (int j = 0; j < k; ++j) {
      setup.scores[j] = 0;
      setup.indices[j] = -1;
    }
    if (setup.cyclic) {
      // A vector of whole macroblocks predicts from exactly one macroblock:
      // one refreshed in the previous picture passes its refresh on.
      for (int i = 0; i < count; ++i) {
        MacroblockInfo& mb = mbs[i];
        if (!mb.inter) continue;
        const int vx = mb.vectors[0].x >> 1, vy = mb.vectors[0].y >> 1;
        if ((vx & 15) || (vy & 15)) continue;
        const int c = i % perRow + vx / 16, r = i / perRow + vy / 16;
        if (c < 0 || c >= perRow || r < 0 || r >= setup.mbRows) continue;
        if (mbs[r * perRow + c].refreshAge == 1) {
          mb.refreshAge = 1;
          mb.refreshWeight = 1;
        }
      }
    }
    for (int i = 0; i < count; ++i) {
      const MacroblockInfo& mb = mbs[i];
      if (!mb.inter || mb.refreshAge <= 1) continue;
      const int64_t wide = int64_t{mb.refreshAge} * setup.ageWeight + mb.refreshWeight;
      const int32_t score = wide > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wide);
      int at = 0;
      while (at < k && setup.scores[at] >= score) ++at;
      if (at == k) continue;
      for (int j = k - 1; j > at; --j) {
        setup.scores[j] = setup.scores[j - 1];
        setup.indices[j] = setup.indices[j - 1];
      }
      setup.scores[at] = score;
      setup.indices[at] = i;
    }
    for (int j = 0; j < k; ++j) {
      const int i = setup.indices[j];
      if (i < 0) continue;
      MacroblockInfo& mb = mbs[i];
      mb.inter = 0;
      mb.fourVectors = 0;
      mb.refreshAge = 0;
      for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
      mb.activity = MbActivity(lumaOrigin + (i / perRow) * 16 * stride + (i % perRow) * 16, stride);
    }
  }
  for (int i = 0; i < count; ++i) {
    MacroblockInfo& mb = mbs[i];
    if (!mb.inter) continue;
    const uint32_t weight = static_cast<uint32_t>(mb.refreshWeight);
    mb.refreshWeight = static_cast<int32_t>(mb.activity >= weight ? mb.activity : (9 * weight + mb.activity) / 10);
  }
}

}  // namespace venc
