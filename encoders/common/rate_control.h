#pragma once
// Frame-level rate control of both encoders (quadratic rate-quantiser models
// over a decoder-buffer model) and the intra-picture row model. Floats are
// IEEE single and doubles IEEE double, evaluated in the order written; the
// file is built without floating-point contraction so that every build
// computes the same quantisers.

#include <cstddef>
#include <cstdint>

#include "encoders/common/macroblock_info.h"

namespace venc {

inline constexpr int kModelWindow = 20;

struct RateControlState {
  int32_t bufferSize = 0;
  int32_t bufferFullness = 0;
  int32_t bitRate = 0;
  int32_t requestedBitRate = 0;
  float frameRate = 0.0f;
  int32_t mbCount = 0;
  int32_t periodLength = 0;
  int32_t framesLeft = 0;
  int32_t bitsLeft = 0;
  int32_t pFrameCount = 0;
  int32_t frameTarget = 0;
  int32_t textureBits = 0;
  int32_t mbsLeft = 0;
  int32_t headerBits = 0;
  int32_t avgHeaderBits = 0;
  int32_t frameActivity = 0;
  int32_t activityLeft = 0;
  int32_t avgActivity = 0;
  int32_t bitsPerFrame = 0;
  int32_t vbvLevelIndex = 0;
  int32_t sceneJumpScore = 0;
  int32_t prevIntraMbs = 0;
  int32_t sceneChangePending = 0;
  // Mean activity of the predicted frames of the current shot, the yardstick
  // of the scene-change test (0 until a predicted frame has been measured).
  // Unlike avgActivity it survives the models' reset at a scene change.
  int32_t sceneActivity = 0;
  int32_t skipCount = 0;
  float skipBoost = 0.0f;
  int32_t skipBoostPending = 0;
  int32_t iX1 = 0, iX2 = 0, iAvg = 0, avgIBits = 0;
  int32_t iQp[kModelWindow] = {};
  float iRq[kModelWindow] = {};
  int32_t iPos = 0, iCount = 0;
  int32_t pX1 = 0, pX2 = 0, pAvg = 0;
  int32_t pQp[kModelWindow] = {};
  float pRq[kModelWindow] = {};
  int32_t pPos = 0;
  // Newest measured cost of a predicted frame at each quantiser: its bits
  // less header bits per unit of mean activity, and the P-model frame count
  // when it was taken (0: none since the models' reset).
  float pCost[32] = {};
  int32_t pCostFrame[32] = {};
  int32_t mbBitsCoef = 0, mbX2 = 0, mbX1 = 0, mbAvg = 0, prevMbBitsCoef = 0, mbRunAvg = 0;
  int32_t mbQp[kModelWindow] = {};
  int32_t mbRq[kModelWindow] = {};
  int16_t mbPos = 0, mbModel = 1, mbPoints = 0;
  int32_t rcMode = 0;
  float requestedFrameRate = 0.0f;
  int32_t mbQpAdaptation = 0;
  float pixelRate = 0.0f;
  int32_t rowBitsLeft = 0;
  int32_t shortHeaderBuffer = 0;
  int32_t windowFrames = 0, windowBits = 0, lowDelay = 0, windowIntraCount = 0, windowIntraLimit = 1;
  int32_t rowActivity = 0;
  float rowCoef = 0.0f, prevRowCoef = 0.0f, rowCoefAvg = 0.0f;
  int32_t rowsDone = 0;
  int32_t mbsPerRow = 0;
  int32_t bandwidthAdaptation = 0;
  int32_t prevFrameIntra = 1;  // the frame before the current one was intra
  // 1 for h263enc's variant: the H.263 buffer in every mode and its own
  // low-delay constants; 0 for mpeg4enc.
  int32_t h263Variant = 0;
  // h263enc with ITU-T H.263 Annex T: macroblock quantiser steps are those the
  // two-bit DQUANT reaches (AnnexTStepUp/Down) instead of +-2.
  int32_t modifiedQuant = 0;
  // rcMode 1.
  float bitsSpent = 0.0f;
  int32_t qpMin = 1, qpMax = 31;
  int32_t rangeFrames = 0, rangeIndex = 1, rangeBits = 0, rangeTarget = 0, rangeCounter = 0;
  int32_t rangeIndexMin = 1, rangeIndexMax = 9, rangeIndexStart = 1, rangeFrameTarget = 0;
  int32_t drainPerSecond = 0;
  int32_t constantBitsFlag = 0, noQpCap = 0;
};

// Sets the buffer, the models and the counters from the requested rate.
void InitRateControl(RateControlState& rc);
// Opens a rate period before an intra frame that starts a GOP.
void StartRatePeriod(RateControlState& rc);
// Start of every frame: takes over a changed bit rate or frame rate.
void ApplyRateChange(RateControlState& rc);
// Sums the macroblock activities into the frame activity (mbCount when 0).
void SetFrameActivity(RateControlState& rc, const MacroblockInfo* mbs);
// rcMode 0 quantiser of an intra frame (2-20); sets the frame's target.
int ComputeIntraFrameQp(RateControlState& rc);
// rcMode 0 quantiser of a predicted frame (3-31, 5-31 with lowDelay), in
// mpeg4enc never finer than a quantiser measured within the model window to
// cost more than the target; sets the frame's target and clears the
// per-frame counters.
int ComputePredictedFrameQp(RateControlState& rc);
// End of a predicted frame that produced `bits`, coded with the quantisers
// in `mbs`.
void RateControlEndPredictedFrame(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits);
// Scene-change test of a predicted frame after motion estimation (`mbs`
// holds its intra decisions and activities). Returns true when the frame is
// to be coded intra; a new rate period is then open and the models reset.
bool DetectSceneChange(RateControlState& rc, const MacroblockInfo* mbs, int complexity);
// Frame skipping (rcMode 0 with bandwidth adaptation): the skip counter after
// a predicted frame of mean quantiser `meanQp`, and the decision before the
// next frame (true: drop it; one skipped frame must then be booked).
void UpdateSkipState(RateControlState& rc, float meanQp);
bool DecideFrameSkip(RateControlState& rc);
// End of an intra frame that produced `bits`; `firstQp` is the first
// macroblock's quantiser.
void RateControlEndIntraFrame(RateControlState& rc, int32_t bits, int firstQp);
// The model refits of the two ends of frame above, without their buffer
// accounting (shared with the ranged controller).
void UpdatePredictedModel(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits);
void UpdateIntraModel(RateControlState& rc, int32_t bits, int firstQp);

// rcMode 1, the ranged controller: frame quantisers of the rcMode 0 models
// held inside [qpMin, qpMax], a range that follows the bits spent against
// the bits targeted every half second.
int ComputeFrameQpRanged(RateControlState& rc, MacroblockInfo* mbs, bool intra);
void RateControlEndFrameRanged(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits, bool intra,
                               int firstQp);
// rcMode 2: no buffer; the quantiser follows the mean activity alone
// (predicted 5-9, intra 4-6).
int ComputeFrameQpByActivity(RateControlState& rc, MacroblockInfo* mbs, bool intra);
void EndFrameByActivity(RateControlState& rc);

// Macroblock quantiser adaptation of predicted frames (with mbQpAdaptation):
// the quantiser of the next macroblock from its share of the frame's
// remaining bits, at most 2 from the running quantiser (rcMode 0 and 1), and
// the macroblock rate model's update after the macroblock.
int UpdateMbQp(RateControlState& rc, const MacroblockInfo& mb, int runningQp, int frameQp);
// ITU-T H.263 Annex T (Table T.1): the larger and the smaller QUANT that the
// two-bit DQUANT reaches from q (q itself where no smaller one exists).
int AnnexTStepUp(int q);
int AnnexTStepDown(int q);
int UpdateMbQpRanged(RateControlState& rc, const MacroblockInfo& mb, int runningQp);
void UpdateMbModel(RateControlState& rc, const MacroblockInfo& mb, int32_t bits, int32_t textureBits);
// Fixed-point least-squares fit of the macroblock model over n points; leaves
// X1, X2 when all points share one Q.
void FitMbRateModel(const int32_t* qp, const int32_t* y, int n, int32_t* x1, int32_t* x2);

// Least-squares fit of y = X1 + X2 / Q over n points; leaves X1, X2 when all
// points share one Q.
void FitRateModel(const int32_t* qp, const float* y, int n, int32_t* x1, int32_t* x2);
// Keeps point 0 and the points within one standard deviation of the model;
// returns the number kept (moved down to close the gaps).
int RejectModelOutliers(int32_t* qp, float* y, int32_t x1, int32_t x2, float mad, int n);
// Books n frames that were not coded (skipped or never handed in): the frame
// counter grows by n, the period, window and buffer by at most 5 frames.
// Sets *nextIntra when the period ran out.
void AccountSkippedFrames(RateControlState& rc, uint32_t n, int32_t* frameCount, bool* nextIntra);

// Activity of the 16x16 luma block at `origin`: the sum of absolute
// differences from its rounded mean, at least 1.
uint32_t MbActivity(const uint8_t* origin, ptrdiff_t stride);
// Activity of every macroblock of a picture, in raster order.
void ComputeMbActivities(const uint8_t* lumaOrigin, ptrdiff_t stride, int mbsPerRow, int mbRows,
                         MacroblockInfo* mbs);
// Quantiser of an intra macroblock row, at most 2 away from `runningQp`.
int ComputeRowQp(RateControlState& rc, const MacroblockInfo* rowMbs, int runningQp);
// Row model update after a row of `rowBits` bits coded at `rowQp`.
void UpdateRowModel(RateControlState& rc, int rowQp, int32_t rowBits);

}  // namespace venc
