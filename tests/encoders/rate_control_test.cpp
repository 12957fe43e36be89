// Rate control steps against values worked by hand from their formulas.
#include "encoders/common/rate_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace venc {
namespace {

// QCIF over 45-frame periods at VBV level 1, before InitRateControl.
RateControlState QcifFields(int32_t bitRate = 64000, float fps = 15.0f) {
  RateControlState rc;
  rc.requestedBitRate = bitRate;
  rc.requestedFrameRate = fps;
  rc.mbCount = 99;
  rc.mbsPerRow = 11;
  rc.periodLength = 45;
  rc.vbvLevelIndex = 1;
  return rc;
}

RateControlState QcifState(int32_t bitRate = 64000, float fps = 15.0f) {
  RateControlState rc = QcifFields(bitRate, fps);
  InitRateControl(rc);
  return rc;
}

TEST(RateControlTest, InitialisesBufferAndModels) {
  const RateControlState rc = QcifState();
  EXPECT_EQ(rc.bitsPerFrame, 4266);
  EXPECT_EQ(rc.bufferSize, 163840);
  EXPECT_EQ(rc.bufferFullness, 163840 / 2 - 3 * 4266);
  EXPECT_EQ(rc.iX2, 99 * 750);
  EXPECT_EQ(rc.iAvg, 99 * 750 / 8);
  EXPECT_EQ(rc.avgActivity, 99 * 1280);
  EXPECT_FLOAT_EQ(rc.rowCoef, 11 * 155.0f);

  RateControlState sh;
  sh.requestedBitRate = 64000;
  sh.requestedFrameRate = 15.0f;
  sh.mbCount = 99;
  sh.vbvLevelIndex = 1;
  sh.shortHeaderBuffer = 1;
  InitRateControl(sh);
  EXPECT_EQ(sh.bufferSize, 64000 / 30 * 4 + 65536);
}

TEST(RateControlTest, ZeroActivityCountsAsOnePerMacroblock) {
  RateControlState rc = QcifState();
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.activity = 0;
  SetFrameActivity(rc, mbs.data());
  EXPECT_EQ(rc.frameActivity, 99);
}

TEST(RateControlTest, IntraFrameQpStaysInRangeAndTargetsFourFrames) {
  for (int32_t activity : {1, 256, 1280, 20000, 65000}) {
    RateControlState rc = QcifState();
    StartRatePeriod(rc);
    std::vector<MacroblockInfo> mbs(99);
    for (MacroblockInfo& m : mbs) m.activity = static_cast<uint32_t>(activity);
    SetFrameActivity(rc, mbs.data());
    const int qp = ComputeIntraFrameQp(rc);
    EXPECT_GE(qp, 2) << activity;
    EXPECT_LE(qp, 20) << activity;
    EXPECT_GE(rc.frameTarget, 4 * rc.bitsPerFrame) << "the intra floor";
    EXPECT_EQ(rc.rowBitsLeft, rc.frameTarget);
  }
}

// A period of one frame (intra-only streams) cannot repay a floor of four
// frames: its intra frames aim at their own share, at any fullness the
// buffer tests leave alone.
TEST(RateControlTest, IntraOnlyPeriodTargetsOneFrame) {
  for (const int32_t lowDelay : {0, 1}) {
    RateControlState rc = QcifFields(384000);
    rc.periodLength = 1;
    rc.vbvLevelIndex = 3;
    rc.lowDelay = lowDelay;
    InitRateControl(rc);
    StartRatePeriod(rc);
    std::vector<MacroblockInfo> mbs(99);
    for (MacroblockInfo& m : mbs) m.activity = 2000;
    SetFrameActivity(rc, mbs.data());
    ComputeIntraFrameQp(rc);
    EXPECT_LE(rc.frameTarget, rc.bitsPerFrame) << "lowDelay " << lowDelay;
    EXPECT_GT(rc.frameTarget, rc.bitsPerFrame / 2) << "lowDelay " << lowDelay;
  }
}

TEST(RateControlTest, H263VariantUsesTheH263BufferAndLowDelayCaps) {
  RateControlState rc = QcifFields();
  rc.h263Variant = 1;
  InitRateControl(rc);
  EXPECT_EQ(rc.bufferSize, 64000 / 30 * 4 + 65536);
  // With lowDelay the intra target is capped at (bitRate + 2 x bitsPerFrame) / 3
  // in h263enc and / 5 in mpeg4enc.
  for (int variant : {0, 1}) {
    rc.h263Variant = variant;
    rc.lowDelay = 1;
    InitRateControl(rc);
    StartRatePeriod(rc);
    std::vector<MacroblockInfo> mbs(99);
    for (MacroblockInfo& m : mbs) m.activity = 20000;
    SetFrameActivity(rc, mbs.data());
    ComputeIntraFrameQp(rc);
    EXPECT_LE(rc.frameTarget, (64000 + 2 * 4266) / (variant ? 3 : 5)) << variant;
  }
}

TEST(RateControlTest, LowRateIntraFrameGetsHalfASecond) {
  RateControlState rc = QcifState(24000, 15.0f);
  StartRatePeriod(rc);
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.activity = 1000;
  SetFrameActivity(rc, mbs.data());
  ComputeIntraFrameQp(rc);
  EXPECT_GE(rc.frameTarget, 12000);
}

TEST(RateControlTest, FitLeavesTheModelForOneQpAndSolvesTwoPoints) {
  int32_t x1 = 7, x2 = 9;
  const int32_t same[3] = {10, 10, 10};
  const float y[3] = {100.0f, 200.0f, 300.0f};
  FitRateModel(same, y, 3, &x1, &x2);
  EXPECT_EQ(x1, 7);
  EXPECT_EQ(x2, 9);
  // The fit leaves the point count out: through (2, 300) and (4, 200),
  // a = 0.75, c = 0.3125, s = 500, t = 200 give X1 = -25 and X2 = 700.
  const int32_t qp[2] = {2, 4};
  const float yy[2] = {300.0f, 200.0f};
  FitRateModel(qp, yy, 2, &x1, &x2);
  EXPECT_EQ(x1, -25);
  EXPECT_EQ(x2, 700);

  // The macroblock model's fixed-point fit follows the same rules. Its y
  // carry 8 fractional bits: (2, 4800) and (4, 3200) give a' = 0.75,
  // c' = 0.3125, s' = 31.25, t' = 12.5, so X1 = -1.5625 and X2 = 43.75.
  int32_t m1 = 7, m2 = 9;
  const int32_t mbSame[3] = {12, 12, 12};
  const int32_t mbY[3] = {4800, 3200, 2000};
  FitMbRateModel(mbSame, mbY, 3, &m1, &m2);
  EXPECT_EQ(m1, 7);
  EXPECT_EQ(m2, 9);
  FitMbRateModel(qp, mbY, 2, &m1, &m2);
  EXPECT_EQ(m1, -1);
  EXPECT_EQ(m2, 43);
}

TEST(RateControlTest, OutlierRejectionKeepsPointZero) {
  int32_t qp[5] = {4, 4, 8, 8, 16};
  float y[5] = {1000.0f, 150.0f, 150.0f, 150.0f, 150.0f};
  const int kept = RejectModelOutliers(qp, y, 100, 200, 1.0f, 5);
  EXPECT_GE(kept, 1);
  EXPECT_EQ(qp[0], 4);
  EXPECT_EQ(y[0], 1000.0f);
  EXPECT_EQ(RejectModelOutliers(qp, y, 100, 200, 1.0f, 1), 1);
}

TEST(RateControlTest, EndOfIntraFrameUpdatesBufferAndModel) {
  RateControlState rc = QcifState();
  StartRatePeriod(rc);
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.activity = 2560;
  SetFrameActivity(rc, mbs.data());
  ComputeIntraFrameQp(rc);
  const int32_t fullness = rc.bufferFullness, left = rc.bitsLeft;
  RateControlEndIntraFrame(rc, 30000, 8);
  EXPECT_EQ(rc.framesLeft, 44);
  EXPECT_EQ(rc.bitsLeft, left - 30000);
  EXPECT_EQ(rc.bufferFullness, fullness + 30000 - rc.bitsPerFrame);
  EXPECT_EQ(rc.iPos, 1);
  // One point: iX2 = Q (Q (mbCount x 256 x b / activity) - iX1) = 8 x 8 x 3000.
  EXPECT_EQ(rc.iX2, 8 * (8 * (99 * 256 * 30000 / (99 * 2560))));
  EXPECT_EQ(rc.avgIBits, static_cast<int32_t>((6 * int64_t{5 * rc.bitsPerFrame} + 4 * 30000 + 5) / 10));
}

TEST(RateControlTest, LargeIntraPicturesDoNotOverflowTheSinglePointModel) {
  // CIF at a high rate: mbCount x 256 x b exceeds 32 bits.
  RateControlState rc;
  rc.requestedBitRate = 4000000;
  rc.requestedFrameRate = 15.0f;
  rc.mbCount = 396;
  rc.mbsPerRow = 22;
  rc.periodLength = 45;
  rc.vbvLevelIndex = 4;
  InitRateControl(rc);
  StartRatePeriod(rc);
  std::vector<MacroblockInfo> mbs(396);
  for (MacroblockInfo& m : mbs) m.activity = 5000;
  SetFrameActivity(rc, mbs.data());
  ComputeIntraFrameQp(rc);
  RateControlEndIntraFrame(rc, 600000, 3);
  EXPECT_EQ(rc.iX2, 3 * 3 * static_cast<int32_t>(int64_t{396} * 256 * 600000 / (396 * 5000)));
}

TEST(RateControlTest, SkippedFramesCountFullyButBookAtMostFive) {
  RateControlState rc = QcifState();
  StartRatePeriod(rc);
  int32_t frames = 10;
  bool intra = false;
  const int32_t fullness = rc.bufferFullness;
  AccountSkippedFrames(rc, 8, &frames, &intra);
  EXPECT_EQ(frames, 18);
  EXPECT_EQ(rc.framesLeft, 40);
  EXPECT_EQ(rc.bufferFullness, fullness - 5 * 4266);
  EXPECT_FALSE(intra);
  rc.framesLeft = 3;
  AccountSkippedFrames(rc, 4, &frames, &intra);
  EXPECT_TRUE(intra);
  EXPECT_EQ(rc.framesLeft, 3 + 45 - 4);
}

TEST(MbActivityTest, FlatBlocksAndRounding) {
  std::vector<uint8_t> plane(32 * 16, 77);
  EXPECT_EQ(MbActivity(plane.data(), 32), 1u) << "a flat macroblock has activity 1";
  // Sum 128 mod 256 rounds the mean up: 128 pixels of 1, 128 of 0 -> mean 1.
  for (int i = 0; i < 16 * 32; ++i) plane[i] = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) plane[y * 32 + x] = 1;
  EXPECT_EQ(MbActivity(plane.data(), 32), 128u);
}

TEST(RowModelTest, RowQpMovesAtMostTwo) {
  RateControlState rc = QcifState();
  std::vector<MacroblockInfo> row(11);
  for (MacroblockInfo& m : row) m.activity = 0;
  rc.rowBitsLeft = 1000;
  rc.activityLeft = 1000;
  EXPECT_EQ(ComputeRowQp(rc, row.data(), 10), 10) << "no activity keeps the running QP";
  for (MacroblockInfo& m : row) m.activity = 3000;
  rc.rowBitsLeft = 0;
  EXPECT_EQ(ComputeRowQp(rc, row.data(), 10), 12) << "no bits left moves 2 towards 31";
  rc.rowBitsLeft = 100000000;
  rc.activityLeft = 33000;
  EXPECT_EQ(ComputeRowQp(rc, row.data(), 4), 3) << "never below 3";
}

TEST(RowModelTest, UpdateTracksTheRowCoefficient) {
  RateControlState rc = QcifState();
  rc.rowBitsLeft = 5000;
  rc.mbsLeft = 99;
  rc.activityLeft = 99 * 2816;
  rc.rowActivity = 11 * 2816;  // 11 activity per pixel
  UpdateRowModel(rc, 8, 2000);
  EXPECT_EQ(rc.rowBitsLeft, 3000);
  EXPECT_EQ(rc.mbsLeft, 88);
  EXPECT_EQ(rc.rowsDone, 1);
  const float h = 8.0f * 2000.0f / 11.0f;
  EXPECT_FLOAT_EQ(rc.rowCoefAvg, h);
  EXPECT_FLOAT_EQ(rc.rowCoef, (88.0f * rc.prevRowCoef + 11.0f * h) / 99.0f);
  UpdateRowModel(rc, 8, 10000);
  EXPECT_EQ(rc.rowBitsLeft, 0) << "never below 0";
}

RateControlState PredictedState() {
  RateControlState rc = QcifState();
  StartRatePeriod(rc);
  rc.framesLeft = 44;
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.activity = 1280;
  SetFrameActivity(rc, mbs.data());
  return rc;
}

TEST(PredictedRateControlTest, TargetBelowHeaderBitsStepsFromThePreviousQp) {
  RateControlState rc = PredictedState();
  rc.avgHeaderBits = 1000000;  // no texture bits left: wanted QP 31
  EXPECT_EQ(ComputePredictedFrameQp(rc), 18) << "5/4 of the previous P QP 15";
  rc.pQp[kModelWindow - 1] = 8;
  rc.pPos = 0;
  EXPECT_EQ(ComputePredictedFrameQp(rc), 10) << "5/4 of 8";
  EXPECT_EQ(rc.mbsLeft, 99);
  EXPECT_EQ(rc.textureBits, 0);
}

TEST(PredictedRateControlTest, QpNeverBelowThreeOrFiveWithLowDelay) {
  RateControlState rc = PredictedState();
  rc.bitsLeft = 100000000;  // plenty of bits: the model wants a tiny QP
  rc.pQp[kModelWindow - 1] = 3;
  EXPECT_EQ(ComputePredictedFrameQp(rc), 3);
  rc.lowDelay = 1;
  rc.windowFrames = 10;
  rc.windowBits = 100000000;
  rc.bufferFullness = 0;
  EXPECT_EQ(ComputePredictedFrameQp(rc), 5);
}

TEST(PredictedRateControlTest, EndOfFrameFeedsTheModelAndActivity) {
  RateControlState rc = PredictedState();
  ComputePredictedFrameQp(rc);
  rc.textureBits = 3000;
  rc.headerBits = 500;
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.quant = 12;
  const int32_t avgActivity = rc.avgActivity;
  RateControlEndPredictedFrame(rc, mbs.data(), 4000);
  EXPECT_EQ(rc.pQp[0], 12);
  EXPECT_EQ(rc.pPos, 1);
  EXPECT_EQ(rc.textureBits, 4000);
  EXPECT_EQ(rc.avgHeaderBits, (6 * 500 + 4 * 990) / 10);
  EXPECT_EQ(rc.avgActivity, (6 * avgActivity + 4 * rc.frameActivity + 5) / 10);
  EXPECT_EQ(rc.prevFrameIntra, 0);
}

// A predicted frame goes no finer than the coarsest quantiser measured
// (within the model window) to cost more than its target; between that one
// and the next coarser, measured below, the geometric mean of the two costs
// decides. Costs are bits less header bits per unit of mean activity.
TEST(PredictedRateControlTest, MeasuredCostsHoldTheQuantiserAboveACliff) {
  RateControlState plain = PredictedState();
  plain.pFrameCount = 5;
  RateControlState probe = plain;
  const int q = ComputePredictedFrameQp(probe);
  ASSERT_LT(q, 25);
  const float mad = static_cast<float>(plain.frameActivity) / (99 * 256.0f);
  const float target = static_cast<float>(probe.frameTarget - probe.avgHeaderBits) / mad;
  struct Measured {
    int qp;
    float cost;  // times the target
    int32_t frame;
  };
  struct CostCase {
    const char* what;
    std::vector<Measured> measured;
    int h263Variant;
    int want;
  } cases[] = {
      {"nothing measured", {}, 0, q},
      {"the model's choice measured far over", {{q, 4.0f, 5}}, 0, q + 1},
      {"a coarser one measured over", {{q + 3, 1.2f, 4}}, 0, q + 4},
      {"over, and the next coarser under: above their mean", {{q, 4.0f, 5}, {q + 1, 0.5f, 5}}, 0, q + 1},
      {"over, and the next coarser under: below their mean", {{q, 1.5f, 5}, {q + 1, 0.5f, 5}}, 0, q},
      {"measured under the target", {{q, 0.8f, 5}}, 0, q},
      {"measured a model window ago", {{q, 4.0f, 5 - kModelWindow}}, 0, q},
      {"h263enc", {{q, 4.0f, 5}}, 1, q},
  };
  for (const CostCase& c : cases) {
    SCOPED_TRACE(c.what);
    RateControlState rc = plain;
    rc.h263Variant = c.h263Variant;
    for (const Measured& m : c.measured) {
      rc.pCost[m.qp] = m.cost * target;
      rc.pCostFrame[m.qp] = m.frame;
    }
    EXPECT_EQ(ComputePredictedFrameQp(rc), c.want);
  }

  // The end of a predicted frame records its cost at its mean quantiser, and
  // a reset of the models forgets it.
  RateControlState rc = PredictedState();
  ComputePredictedFrameQp(rc);
  rc.textureBits = 3000;
  rc.headerBits = 500;
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.quant = 12;
  RateControlEndPredictedFrame(rc, mbs.data(), 4000);
  EXPECT_FLOAT_EQ(rc.pCost[12], 3500.0f / mad);
  EXPECT_EQ(rc.pCostFrame[12], rc.pFrameCount);
  InitRateControl(rc);
  EXPECT_EQ(rc.pCostFrame[12], 0);
}

// mpeg4enc pays bits spent beyond the frames' shares back within about a
// second (frame rate frames), down to the floor of half a share; bits left
// over are shared out over the period as h263enc does.
TEST(PredictedRateControlTest, BitsOwedArePaidBackWithinASecond) {
  struct OweCase {
    const char* what;
    int32_t owedFrames;  // shares spent beyond the frames coded
    bool paidFaster;
  } cases[] = {{"nothing owed", 0, false}, {"bits over", -10, false}, {"two shares owed", 2, true},
               {"ten shares owed", 10, true}};
  for (const OweCase& c : cases) {
    SCOPED_TRACE(c.what);
    RateControlState mpeg4 = PredictedState();
    mpeg4.bitsLeft = mpeg4.bitsPerFrame * (mpeg4.framesLeft - c.owedFrames);
    RateControlState h263 = mpeg4;
    h263.h263Variant = 1;
    ComputePredictedFrameQp(mpeg4);
    ComputePredictedFrameQp(h263);
    if (!c.paidFaster) {
      EXPECT_EQ(mpeg4.frameTarget, h263.frameTarget);
      continue;
    }
    // The buffer term as the period's share gets it.
    const float buffer = static_cast<float>(2 * mpeg4.bufferSize - mpeg4.bufferFullness) /
                         static_cast<float>(mpeg4.bufferFullness + mpeg4.bufferSize);
    const int32_t share = std::max(mpeg4.bitsPerFrame - c.owedFrames * mpeg4.bitsPerFrame / 15,
                                   mpeg4.bitsPerFrame / 2);
    EXPECT_NEAR(mpeg4.frameTarget, share * buffer, 2.0);
    EXPECT_LT(mpeg4.frameTarget, h263.frameTarget);
  }
}

TEST(FrameSkipTest, DropsOnlyOverHalfFullAndAboveQp25) {
  RateControlState rc = QcifState();
  StartRatePeriod(rc);
  rc.frameTarget = -4266;  // one frame over
  rc.bufferFullness = rc.bufferSize / 2;
  UpdateSkipState(rc, 30.0f);
  EXPECT_EQ(rc.skipCount, 0) << "half full is not over half full";
  rc.bufferFullness = rc.bufferSize / 2 + 1;
  UpdateSkipState(rc, 25.0f);
  EXPECT_EQ(rc.skipCount, 0);
  // An overshoot of exactly one frame: k = (f / 2 + f) / f = 1, six units.
  UpdateSkipState(rc, 26.0f);
  EXPECT_EQ(rc.skipCount, 6);
  EXPECT_EQ(rc.skipBoostPending, 1);
  EXPECT_FLOAT_EQ(rc.skipBoost, 0.6f);
  EXPECT_TRUE(DecideFrameSkip(rc));
  EXPECT_FALSE(DecideFrameSkip(rc));
  rc.skipCount = 12;
  rc.framesLeft = 0;
  EXPECT_FALSE(DecideFrameSkip(rc)) << "a new period clears the counter";
  EXPECT_EQ(rc.skipCount, 0);
}

TEST(SceneChangeTest, ManyIntraMacroblocksStartANewPeriodUnlessTheBufferIsFull) {
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) {
    m.inter = 0;
    m.activity = 1280;
  }
  RateControlState rc = PredictedState();
  rc.bufferFullness = rc.bufferSize * 70 / 100;
  EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2));
  rc.bufferFullness = rc.bufferSize / 4;
  rc.framesLeft = 20;
  rc.pX2 = 1;
  EXPECT_TRUE(DetectSceneChange(rc, mbs.data(), 2));
  EXPECT_EQ(rc.framesLeft, 45);
  EXPECT_EQ(rc.pX2, 99 * 1500 / 3) << "models reset";
  EXPECT_EQ(rc.prevIntraMbs, 99 / 12);
  for (MacroblockInfo& m : mbs) m.inter = 1;
  EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "no intra macroblocks, ordinary activity";
}

// Frames of one shot with few intra macroblocks are new scenes only when their
// activity jumps far above the shot's measured mean: not against the models'
// starting guess (the first frame, or the one after a detected change), and
// not because the buffer ran nearly empty.
TEST(SceneChangeTest, AContinuousShotStaysPredictedAndAnActivityJumpIsANewScene) {
  std::vector<MacroblockInfo> mbs(99);
  auto frame = [&](uint32_t activity, int intraMbs) {
    for (size_t i = 0; i < mbs.size(); ++i) {
      mbs[i].inter = i < static_cast<size_t>(intraMbs) ? 0 : 1;
      mbs[i].activity = activity;
    }
  };
  RateControlState rc = PredictedState();
  rc.bufferFullness = rc.bufferSize / 4;
  frame(6000, 3);  // a noisy texture: 4.7 times the starting guess of 1280
  for (int n = 0; n < 20; ++n) EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "frame " << n;
  rc.bufferFullness = rc.bufferSize / 40;  // drained
  EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "a drained buffer is no new scene";
  rc.bufferFullness = rc.bufferSize / 4;
  for (int n = 0; n < 20; ++n) {
    frame(6000, n % 5 == 4 ? 8 : 9);  // intra macroblocks wobbling across one in ten
    EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "wobble, frame " << n;
  }
  frame(6000 * 4, 3);
  EXPECT_TRUE(DetectSceneChange(rc, mbs.data(), 2)) << "four times the shot's activity";
  EXPECT_EQ(rc.avgActivity, 99 * 1280) << "models reset";
  frame(6000 * 3, 3);
  for (int n = 0; n < 20; ++n) EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "new shot, frame " << n;
  for (int n = 0; n < 5; ++n) {
    frame(6000 * 3, 25);  // a transition: a quarter of the macroblocks intra
    EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "transition, frame " << n;
  }
  frame(6000 * 3, 2);
  EXPECT_TRUE(DetectSceneChange(rc, mbs.data(), 2)) << "the transition ends";
  EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2));
  frame(6000 * 3 * 4, 3);
  rc.bufferFullness = rc.bufferSize * 70 / 100;
  EXPECT_FALSE(DetectSceneChange(rc, mbs.data(), 2)) << "buffer too full for an intra frame";
}

}  // namespace
}  // namespace venc

namespace venc {
namespace {

RateControlState ModeState(int32_t mode, int32_t bitRate) {
  RateControlState rc = QcifFields(bitRate);
  rc.rcMode = mode;
  InitRateControl(rc);
  StartRatePeriod(rc);
  return rc;
}

TEST(RangedRateControlTest, RangeFromBitsPerPixelAndNeverBelowQpMin) {
  struct Case {
    int32_t bitRate, index, qpMin, qpMax;
  } cases[] = {{64000, 9, 11, 18}, {128000, 5, 7, 12}, {300000, 1, 4, 4}, {20000, 10, 12, 26}};
  for (const Case& c : cases) {
    RateControlState rc = ModeState(1, c.bitRate);
    EXPECT_EQ(rc.rangeIndex, c.index) << c.bitRate;
    EXPECT_EQ(rc.qpMin, c.qpMin);
    EXPECT_EQ(rc.qpMax, c.qpMax);
    EXPECT_EQ(rc.drainPerSecond, 2 * c.bitRate);
  }
  std::mt19937 rng(20261209);
  RateControlState rc = ModeState(1, 64000);
  std::vector<MacroblockInfo> mbs(99);
  for (int frame = 0; frame < 400; ++frame) {
    const bool intra = frame % 45 == 0;
    if (intra) StartRatePeriod(rc);
    for (MacroblockInfo& m : mbs) {
      m.activity = rng() % 9000;
      m.quant = 12;
    }
    const int qp = ComputeFrameQpRanged(rc, mbs.data(), intra);
    if (!intra) {
      EXPECT_GE(qp, rc.qpMin) << "frame " << frame;
    }
    EXPECT_LE(qp, 31);
    const int before = rc.rangeIndex;
    RateControlEndFrameRanged(rc, mbs.data(), static_cast<int32_t>(rng() % 30000), intra, qp);
    EXPECT_LE(std::abs(rc.rangeIndex - before), 1);
    EXPECT_GE(rc.rangeIndex, rc.rangeIndexMin);
    EXPECT_LE(rc.rangeIndex, rc.rangeIndexMax);
    EXPECT_GE(rc.bufferFullness, 0);
  }
}

TEST(ActivityRateControlTest, QuantisersFollowTheMeanActivity) {
  RateControlState rc = ModeState(2, 64000);
  EXPECT_EQ(rc.bufferSize, 0);
  std::vector<MacroblockInfo> mbs(99);
  // Mean activity per pixel a -> P quantiser, the average moving halfway.
  for (const uint32_t perMb : {0u, 600u, 1500u, 3000u, 5000u, 40000u}) {
    for (MacroblockInfo& m : mbs) m.activity = perMb;
    const int p = ComputeFrameQpByActivity(rc, mbs.data(), false);
    EXPECT_GE(p, 5);
    EXPECT_LE(p, 9);
    const int i = ComputeFrameQpByActivity(rc, mbs.data(), true);
    EXPECT_GE(i, 4);
    EXPECT_LE(i, 6);
  }
  rc.avgActivity = 99 * 256 * 8;
  for (MacroblockInfo& m : mbs) m.activity = 256 * 8;
  EXPECT_EQ(ComputeFrameQpByActivity(rc, mbs.data(), false), 9);
  EXPECT_EQ(ComputeFrameQpByActivity(rc, mbs.data(), true), 6);
  for (MacroblockInfo& m : mbs) m.activity = 0;  // counted as 1
  rc.avgActivity = 0;
  EXPECT_EQ(ComputeFrameQpByActivity(rc, mbs.data(), false), 5);
  EXPECT_EQ(mbs[0].activity, 1u);
}

}  // namespace
}  // namespace venc

namespace venc {
namespace {

TEST(MbQpAdaptationTest, StepsAndModelPoints) {
  RateControlState rc;
  rc.requestedBitRate = 64000;
  rc.requestedFrameRate = 15.0f;
  rc.mbCount = 99;
  rc.mbsPerRow = 11;
  rc.periodLength = 45;
  InitRateControl(rc);
  std::vector<MacroblockInfo> mbs(99);
  for (MacroblockInfo& m : mbs) m.activity = 2000;
  rc.frameTarget = 4000;
  rc.activityLeft = 99 * 2000;
  rc.mbsLeft = 99;
  // Four vectors or no activity left: the running quantiser.
  mbs[0].fourVectors = 1;
  EXPECT_EQ(UpdateMbQp(rc, mbs[0], 12, 12), 12);
  EXPECT_EQ(UpdateMbQpRanged(rc, mbs[0], 12), 12);
  mbs[0].fourVectors = 0;
  // Every step at most 2, inside [2, 31].
  for (const int32_t target : {-5000, 0, 100, 4000, 400000}) {
    for (const int16_t model : {int16_t{1}, int16_t{2}}) {
      rc.frameTarget = target;
      rc.mbModel = model;
      for (const int q : {2, 12, 31}) {
        const int n = UpdateMbQp(rc, mbs[0], q, q);
        EXPECT_LE(std::abs(n - q), 2) << target << " " << model << " " << q;
        EXPECT_GE(n, 2);
        EXPECT_LE(n, 31);
      }
    }
  }
  // No bits left for the texture: towards 31 by 2.
  rc.frameTarget = 0;
  EXPECT_EQ(UpdateMbQp(rc, mbs[0], 10, 10), 12);
  // A model that cannot be solved (X2 negative): activity x mbAvg, +2.
  rc.frameTarget = 4000;
  rc.mbModel = 2;
  rc.mbX2 = -750;
  rc.mbX1 = 0;
  EXPECT_EQ(UpdateMbQp(rc, mbs[0], 10, 10), 12);
  // Macroblocks of activity 50 or less, or without texture, add no point.
  const int16_t points = rc.mbPoints;
  mbs[1].activity = 50;
  mbs[1].quant = 10;
  UpdateMbModel(rc, mbs[1], 300, 200);
  EXPECT_EQ(rc.mbPoints, points);
  mbs[1].activity = 2000;
  UpdateMbModel(rc, mbs[1], 30, 0);
  EXPECT_EQ(rc.mbPoints, points);
  UpdateMbModel(rc, mbs[1], 300, 200);
  EXPECT_EQ(rc.mbPoints, points + 1);
  EXPECT_EQ(rc.mbsLeft, 96);
}

}  // namespace
}  // namespace venc
