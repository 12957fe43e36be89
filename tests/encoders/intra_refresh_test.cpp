// Adaptive and cyclic intra refresh: the automatic count, the ranking by
// age and weight, and the propagation along whole-macroblock vectors.
#include <gtest/gtest.h>

#include <vector>

#include "encoders/common/intra_refresh.h"

namespace venc {
namespace {

struct Picture {
  int perRow, rows;
  std::vector<MacroblockInfo> mbs;
  std::vector<int32_t> scores, indices;
  std::vector<uint8_t> luma;
  IntraRefreshSetup setup;

  Picture(int w, int h, int refresh)
      : perRow(w), rows(h), mbs(static_cast<size_t>(w * h)), scores(mbs.size()), indices(mbs.size()),
        luma(static_cast<size_t>(w * 16 * h * 16), 100) {
    ResetRefreshCounters(mbs.data(), w * h);
    for (MacroblockInfo& mb : mbs) {
      mb.inter = 1;
      mb.activity = 10;
    }
    setup.mbsPerRow = w;
    setup.mbRows = h;
    setup.refreshMbs = refresh;
    setup.scores = scores.data();
    setup.indices = indices.data();
  }
  void Run(int32_t target = 0) { AdaptiveIntraRefresh(mbs.data(), target, setup, luma.data(), perRow * 16); }
  int IntraCount() const {
    int n = 0;
    for (const MacroblockInfo& mb : mbs) n += mb.inter ? 0 : 1;
    return n;
  }
};

TEST(IntraRefreshTest, AutomaticCount) {
  EXPECT_EQ(AutomaticRefreshCount(990, 99), 5);   // b = 10: 5 %
  EXPECT_EQ(AutomaticRefreshCount(198, 99), 0);   // b = 2
  EXPECT_EQ(AutomaticRefreshCount(396, 99), 2);   // b = 4: 2 %
  EXPECT_EQ(AutomaticRefreshCount(INT32_MAX, 99), 99);
  Picture p(11, 9, -1);
  p.mbs[3].inter = 0;  // already intra: deducted
  p.Run(990);          // ages become 1: nothing is old enough yet
  EXPECT_EQ(p.IntraCount(), 1);
  p.mbs[3].inter = 1;
  p.Run(990);
  EXPECT_EQ(p.IntraCount(), 5);
}

TEST(IntraRefreshTest, OldestThenHeaviestThenEarliest) {
  Picture p(4, 2, 2);
  p.mbs[6].activity = 500;  // heavier weight after this picture
  p.Run();                  // every age 1, no candidate
  EXPECT_EQ(p.IntraCount(), 0);
  p.Run();                  // ages 2: ranking by weight, then raster order
  EXPECT_EQ(p.mbs[6].inter, 0);
  EXPECT_EQ(p.mbs[0].inter, 0);
  EXPECT_EQ(p.IntraCount(), 2);
  EXPECT_EQ(p.mbs[6].refreshAge, 0);
  // Next picture: the two refreshed ones are age 1 and wait.
  for (MacroblockInfo& mb : p.mbs) mb.inter = 1;
  p.Run();
  EXPECT_EQ(p.mbs[6].inter, 1);
  EXPECT_EQ(p.mbs[0].inter, 1);
  EXPECT_EQ(p.mbs[1].inter, 0);
  EXPECT_EQ(p.mbs[2].inter, 0);
}

TEST(IntraRefreshTest, CyclicRefreshPropagatesAlongWholeMacroblockVectors) {
  Picture p(4, 2, 1);
  p.setup.cyclic = true;
  p.setup.ageWeight = 633;
  p.Run();
  p.Run();  // macroblock 0 refreshed, age 0
  ASSERT_EQ(p.mbs[0].inter, 0);
  for (MacroblockInfo& mb : p.mbs) mb.inter = 1;
  // Macroblock 5 points one macroblock up-left (32, 32 half pixels) at
  // macroblock 0, which now has age 1; macroblock 7 points (-30, 0).
  for (MotionVector& v : p.mbs[5].vectors) v = MotionVector{-32, -32};
  for (MotionVector& v : p.mbs[7].vectors) v = MotionVector{-30, 0};
  p.Run();
  EXPECT_EQ(p.mbs[5].inter, 1);
  EXPECT_EQ(p.mbs[5].refreshAge, 1);
  EXPECT_EQ(p.mbs[7].refreshAge, 3);
  EXPECT_EQ(p.mbs[1].inter, 0);  // the oldest, earliest candidate
}

}  // namespace
}  // namespace venc
