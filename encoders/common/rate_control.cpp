#include "encoders/common/rate_control.h"

#include <cmath>
#include <cstdint>
#include <cstddef>

#include "encoders/common/encoder_tables.h"

namespace venc {
namespace {

template <typename T>
constexpr T Max(T a, T b) { return a > b ? a : b; }
template <typename T>
constexpr T Min(T a, T b) { return a < b ? a : b; }

// Saturating narrowing of 64-bit intermediates back to the state's 32 bits.
int32_t Narrow(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Truncating conversion that saturates where the value does not fit (a frame
// rate far below one frame a second gives more bits a frame than 32 bits hold).
int32_t TruncateToInt(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

// Refits a rate model (x1, x2) to the newest n of its window's (quantiser,
// rate) points, which end at `pos`, dropping outliers once when there are more
// than two. Returns the rounded mean rate of the points kept.
int32_t RefitModel(const int32_t* qps, const float* rqs, int pos, int n, float mad, int32_t* x1, int32_t* x2) {
  int32_t qp[kModelWindow] = {};
  float y[kModelWindow] = {};
  for (int i = 0; i < n; ++i) {
    const int at = (pos - i + kModelWindow) % kModelWindow;
    qp[i] = qps[at];
    y[i] = rqs[at];
  }
  FitRateModel(qp, y, n, x1, x2);
  int kept = n;
  if (n > 2) {
    kept = RejectModelOutliers(qp, y, *x1, *x2, mad, n);
    FitRateModel(qp, y, kept, x1, x2);
  }
  float sum = 0.0f;
  for (int i = 0; i < kept; ++i) sum += y[i];
  return (TruncateToInt(sum) + kept / 2) / kept;
}

void ResetModels(RateControlState& rc) {
  rc.mbBitsCoef = rc.prevMbBitsCoef = 100;
  rc.mbX2 = 750;
  rc.mbX1 = 0;
  rc.mbAvg = 50;
  rc.avgHeaderBits = rc.mbCount * 10;
  rc.textureBits = rc.bitsPerFrame;
  rc.avgActivity = rc.mbCount * 1280;
  rc.pFrameCount = 0;
  rc.skipCount = 0;
  rc.skipBoostPending = 0;
  rc.iX1 = 0;
  rc.iX2 = rc.mbCount * 750;
  rc.iAvg = rc.mbCount * 750 / 8;
  rc.avgIBits = Narrow(5 * int64_t{rc.bitsPerFrame});
  rc.iPos = rc.iCount = 0;
  rc.iQp[kModelWindow - 1] = 10;  // the previous I quantiser
  rc.pX1 = 0;
  rc.pX2 = rc.mbCount * 1500 / 3;
  rc.pAvg = rc.mbCount * 100 / 3;
  rc.pPos = 0;
  rc.pQp[kModelWindow - 1] = 15;  // the previous P quantiser
  for (int q = 0; q < 32; ++q) {
    rc.pCost[q] = 0.0f;
    rc.pCostFrame[q] = 0;
  }
  rc.sceneJumpScore = 0;
  rc.sceneChangePending = 0;
  rc.prevIntraMbs = rc.mbCount / 12;
  rc.rowCoef = rc.prevRowCoef = static_cast<float>(rc.mbsPerRow * 155);
  rc.rowCoefAvg = 0.0f;
}

// Quantiser range of the ranged controller, by range index 1..10.
constexpr int32_t kRangeQpMin[11] = {0, 4, 5, 5, 6, 7, 8, 9, 10, 11, 12};
constexpr int32_t kRangeQpMax[11] = {0, 4, 6, 10, 11, 12, 13, 14, 16, 18, 26};

void ReadQpRange(RateControlState& rc) {
  rc.rangeIndex = Max(1, Min(rc.rangeIndex, 10));
  rc.qpMin = kRangeQpMin[rc.rangeIndex];
  rc.qpMax = kRangeQpMax[rc.rangeIndex];
}

// rcMode 1 buffer: twice the rcMode 0 size, drained at twice the bit rate;
// the first range from the bits per pixel.
void InitRangedBuffer(RateControlState& rc) {
  if (rc.shortHeaderBuffer || rc.h263Variant) {
    rc.bufferSize = Narrow(2 * (int64_t{rc.bitRate} / 30 * 4 + kH263BufferAddend[Min(rc.vbvLevelIndex, 4)]));
  } else {
    rc.bufferSize = Narrow(2 * int64_t{kMpeg4VbvBufferBits[Min(rc.vbvLevelIndex, 10)]});
  }
  rc.drainPerSecond = TruncateToInt(2.0 * rc.bitRate);
  rc.bufferFullness =
      Narrow(rc.bufferSize / 2 - int64_t{TruncateToInt(static_cast<float>(3 * int64_t{rc.bitRate}) * (1.0f / rc.frameRate))});
  if (rc.bufferFullness < 0) rc.bufferFullness = rc.bufferSize / 5;
  rc.pixelRate = static_cast<float>(rc.mbCount) * rc.frameRate * 256.0f;
  const double b = static_cast<double>(static_cast<float>(rc.bitRate) / rc.pixelRate);
  if (b > 0.75) {
    rc.rangeIndex = 1;
  } else if (b >= 0.566) {
    rc.rangeIndex = 2;
  } else if (b >= 0.452) {
    rc.rangeIndex = 3;
  } else if (b >= 0.377) {
    rc.rangeIndex = 4;
  } else if (b >= 0.301) {
    rc.rangeIndex = 5;
  } else if (b >= 0.226) {
    rc.rangeIndex = 7;
  } else if (b >= 0.1) {
    rc.rangeIndex = 9;
  } else {
    rc.rangeIndex = 10;
  }
  ReadQpRange(rc);
  rc.rangeIndexMax = Min(rc.rangeIndex + 2, 9);
  rc.rangeIndexMin = Max(rc.rangeIndex - 2, 1);
  rc.rangeIndexStart = rc.rangeIndex;
  rc.bitsSpent = 0.0f;
  rc.rangeFrames = rc.rangeBits = rc.rangeTarget = rc.rangeCounter = 0;
}

// Frame activity with every zero macroblock activity counted as 1.
int32_t RaiseZeroActivities(RateControlState& rc, MacroblockInfo* mbs) {
  int64_t sum = 0;
  for (int i = 0; i < rc.mbCount; ++i) {
    if (mbs[i].activity == 0) mbs[i].activity = 1;
    sum += mbs[i].activity;
  }
  return sum == 0 ? rc.mbCount : Narrow(sum);
}

// (int)(Q + 0.5) of the quadratic model at `mad` for `bits`, clamped to
// [lo, hi]; a model that cannot be solved lands on the clamp.
int SolveModel(int32_t x1, int32_t x2, int32_t avg, float mad, int64_t bits, int lo, int hi) {
  const float x1mad = static_cast<float>(x1) * mad;
  const float d = static_cast<float>(static_cast<double>(bits) * static_cast<double>(mad) * static_cast<double>(x2) * 4.0) +
                  x1mad * x1mad;
  float q;
  if (static_cast<double>(d) >= 0.0 && x2 != 0) {
    q = static_cast<float>(static_cast<double>(mad) * static_cast<double>(x2) * 2.0 /
                           (std::sqrt(static_cast<double>(d)) - static_cast<double>(x1mad)));
  } else {
    q = static_cast<float>(avg) * mad / static_cast<float>(bits);
  }
  const double rounded = static_cast<double>(q) + 0.5;
  if (!(rounded >= lo)) return lo;
  if (rounded >= hi) return hi;
  return static_cast<int>(rounded);
}

// A measured cost at quantiser q, taken within the last model window of
// predicted frames.
bool CostKnown(const RateControlState& rc, int q) {
  return rc.pCostFrame[q] > 0 && rc.pFrameCount - rc.pCostFrame[q] < kModelWindow;
}

// The quadratic model cannot follow a rate that falls off a cliff from one
// quantiser to the next, as fine noise does once the quantiser's dead zone
// swallows it: it keeps choosing a quantiser that was just measured to cost
// several times the target. Where such a measurement exists the frame goes
// no finer than the coarsest quantiser measured above `perMad` (the target
// per unit of mean activity), and between that one and the next coarser,
// measured below, it takes the finer only when the target reaches their
// geometric mean; the period's bits left then dither the two around the
// target.
int HoldMeasuredCost(const RateControlState& rc, int qp, float perMad) {
  int over = 0;
  for (int q = qp; q <= 31; ++q)
    if (CostKnown(rc, q) && rc.pCost[q] > perMad) over = q;
  if (over == 0 || over == 31) return Max(qp, over);
  if (CostKnown(rc, over + 1) && perMad * perMad >= rc.pCost[over] * rc.pCost[over + 1]) return over;
  return over + 1;
}

}  // namespace

void InitRateControl(RateControlState& rc) {
  rc.bitRate = rc.requestedBitRate;
  rc.frameRate = rc.requestedFrameRate;
  rc.bitsPerFrame = TruncateToInt((1.0f / rc.frameRate) * static_cast<float>(rc.bitRate));
  rc.windowFrames = 0;
  // The buffer of rcMode 0. The ranged controller (rcMode 1) replaces it with
  // twice the size this gives without lowDelay, and the activity controller
  // (rcMode 2) keeps no buffer at all.
  if (rc.lowDelay) {
    rc.bufferSize = rc.bitRate;
  } else if (rc.shortHeaderBuffer || rc.h263Variant) {
    rc.bufferSize = rc.bitRate / 30 * 4 + kH263BufferAddend[Min(rc.vbvLevelIndex, 4)];
  } else {
    rc.bufferSize = kMpeg4VbvBufferBits[Min(rc.vbvLevelIndex, 10)];
  }
  rc.bufferFullness = Narrow(rc.lowDelay ? rc.bufferSize / 2 : rc.bufferSize / 2 - 3 * int64_t{rc.bitsPerFrame});
  if (rc.bufferFullness < 0) rc.bufferFullness = rc.bufferSize / 5;
  rc.windowBits = 0;
  rc.sceneActivity = 0;
  if (rc.rcMode == 1) InitRangedBuffer(rc);
  if (rc.rcMode == 2) {
    rc.pixelRate = static_cast<float>(rc.mbCount) * rc.frameRate * 256.0f;
    rc.drainPerSecond = TruncateToInt(static_cast<double>(rc.pixelRate) * 0.3333333333333333);
    rc.bufferSize = 0;
    rc.bufferFullness = 0;
    rc.frameTarget = 0;
    rc.headerBits = 0;
  }
  ResetModels(rc);
}

void StartRatePeriod(RateControlState& rc) {
  if (rc.rcMode != 0) {
    if (rc.rcMode == 1) rc.bitsLeft = Narrow(int64_t{rc.bitsPerFrame} * rc.periodLength);
    rc.framesLeft = rc.periodLength;
    return;
  }
  const int64_t periodBits = int64_t{rc.bitsPerFrame} * rc.periodLength;
  int64_t left = int64_t{rc.bitsLeft} + periodBits;
  if (rc.lowDelay) {
    if (static_cast<double>(left) > 1.1 * static_cast<double>(periodBits)) left = periodBits;
    if (rc.windowFrames == 0) {
      rc.windowFrames = static_cast<int32_t>(rc.frameRate);
      rc.windowBits = Narrow(Min<int64_t>(int64_t{rc.windowFrames} * left / Max(rc.periodLength, 1), rc.bitRate));
    }
  }
  rc.bitsLeft = Narrow(left);
  rc.framesLeft = rc.periodLength;
}

void ApplyRateChange(RateControlState& rc) {
  // rcMode 1 takes a new bit rate over in its frame quantiser; rcMode 2 has
  // no rate to follow.
  if (rc.rcMode != 0) return;
  const bool rateChanged = static_cast<int32_t>(rc.requestedFrameRate - rc.frameRate) != 0;
  if (rc.requestedBitRate == rc.bitRate && !rateChanged) return;
  rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} - int64_t{rc.bitsPerFrame} * rc.framesLeft);
  rc.bitRate = rc.requestedBitRate;
  rc.frameRate = rc.requestedFrameRate;
  rc.bitsPerFrame = TruncateToInt(static_cast<float>(rc.bitRate) / rc.frameRate);
  rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} + int64_t{rc.framesLeft} * rc.bitsPerFrame);
  if (rc.lowDelay) {
    if (rateChanged) rc.windowFrames = static_cast<int32_t>(rc.frameRate);
    if (rc.framesLeft > 0) rc.windowBits = Narrow(int64_t{rc.bitsLeft} * rc.windowFrames / rc.framesLeft);
  }
}

void SetFrameActivity(RateControlState& rc, const MacroblockInfo* mbs) {
  int64_t sum = 0;
  for (int i = 0; i < rc.mbCount; ++i) sum += mbs[i].activity;
  rc.frameActivity = sum == 0 ? rc.mbCount : Narrow(sum);
  rc.activityLeft = rc.frameActivity;
  rc.rowsDone = 0;
}

int ComputeIntraFrameQp(RateControlState& rc) {
  const float m = static_cast<float>(rc.avgActivity) / static_cast<float>(rc.mbCount * 256);
  const bool h263 = rc.h263Variant != 0;
  const double k = rc.lowDelay ? (h263 ? 0.2247191011235955 : 0.17286084701815038) : 0.4;
  float w;
  if (m < 6.0f) {
    w = static_cast<float>((6.75 - 0.5 * m) * k);
  } else {
    w = rc.lowDelay ? (h263 ? 0.95f : 0.75f) : 1.5f;
  }
  const float spread = static_cast<float>(int64_t{rc.avgActivity} * (rc.framesLeft - 1));
  int64_t t = static_cast<int64_t>(static_cast<float>(rc.bitsLeft) /
                                   (spread / (static_cast<float>(rc.frameActivity) * w) + 1.0));
  int64_t floorBits = rc.lowDelay ? (int64_t{rc.bitRate} + 7 * int64_t{rc.bitsPerFrame}) / 14
                                  : 4 * int64_t{rc.bitsPerFrame};
  // The floor lends an intra frame the share of later frames of its period;
  // a period too short to repay it (intra-only streams) lends nothing, or
  // every frame would take several frames' share.
  floorBits = Min(floorBits, int64_t{rc.bitsPerFrame} * Max(rc.framesLeft, 1));
  // In mpeg4enc an intra frame straight after another (the two that start a
  // stream) is lent only what the first has not already borrowed, at least
  // one share: two full loans cost eight frames' shares in the first two
  // frames, more than a short file repays, and the file outgrows its rate.
  if (rc.h263Variant == 0 && !rc.lowDelay && rc.prevFrameIntra) {
    const int64_t owed = int64_t{rc.bitsPerFrame} * rc.framesLeft - rc.bitsLeft;
    if (owed > 0) floorBits = Max<int64_t>(floorBits - owed, rc.bitsPerFrame);
  }
  t = Max(t, floorBits);
  const int64_t b = rc.bufferSize, f = rc.bufferFullness;
  const int64_t b90 = b * 9 / 10;
  if (f + t > b90) t = Max(b90 - f, floorBits);
  if (f + t - rc.bitsPerFrame < b / 10) t = b / 10 + rc.bitsPerFrame - f;
  t = Min(t, b * 5 / 10);
  if (rc.bitRate < 32000 && t < rc.bitRate / 2) t = rc.bitRate / 2;
  if (rc.lowDelay) t = Min(t, (int64_t{rc.bitRate} + 2 * int64_t{rc.bitsPerFrame}) / (h263 ? 3 : 5));
  rc.frameTarget = Narrow(t);
  rc.rowBitsLeft = rc.frameTarget;

  const float mad = static_cast<float>(rc.frameActivity) / static_cast<float>(rc.mbCount * 256);
  const float x1mad = static_cast<float>(rc.iX1) * mad;
  const float d = static_cast<float>(4 * int64_t{rc.iX2} * rc.frameTarget) * mad + x1mad * x1mad;
  double q;
  if (d >= 0.0f && rc.iX2 != 0) {
    q = static_cast<float>(2.0 * rc.iX2 * mad / (std::sqrt(static_cast<double>(d)) - static_cast<double>(x1mad)));
  } else {
    q = static_cast<float>(rc.iAvg) * mad / static_cast<float>(rc.frameTarget);
  }
  // (int)(Q + 0.5) clamped to [2, 20]; a model that cannot be solved (NaN,
  // infinities) lands on the clamp instead of an undefined conversion.
  const double rounded = q + 0.5;
  int qp = 2;
  if (rounded >= 20.0) {
    qp = 20;
  } else if (rounded >= 2.0) {
    qp = static_cast<int>(rounded);
  }
  rc.headerBits = 0;
  rc.mbsLeft = rc.mbCount;
  return qp;
}

int ComputePredictedFrameQp(RateControlState& rc) {
  const bool mpeg4 = rc.h263Variant == 0;
  int64_t r = rc.avgActivity > 0 ? int64_t{rc.frameActivity} * 256 / rc.avgActivity : 256;
  r = rc.lowDelay ? Max<int64_t>(216, Min<int64_t>(r, 256)) : Max<int64_t>(205, Min<int64_t>(r, 307));
  int64_t h;
  if (rc.skipBoostPending > 0 && rc.bandwidthAdaptation) {
    const int64_t s = rc.lowDelay ? rc.windowBits / (rc.windowFrames + 1) : rc.bitsLeft / (rc.framesLeft + 1);
    h = (TruncateToInt((1.0f / rc.skipBoost) * static_cast<float>(r * s)) + 128) >> 8;
  } else {
    const int32_t frames = rc.lowDelay ? rc.windowFrames : rc.framesLeft;
    int64_t s = frames > 0 ? (rc.lowDelay ? rc.windowBits : rc.bitsLeft) / frames : 0;
    // In mpeg4enc bits spent beyond the frames' shares (an intra picture's,
    // two at the start of a stream) are paid back within about a second,
    // not over the whole period: a short file, or any few seconds of a long
    // one, then keeps to the rate. The floor below keeps half a share.
    const int32_t second = Max(static_cast<int32_t>(rc.frameRate), 1);
    if (mpeg4 && !rc.lowDelay && frames > second) {
      const int64_t owed = int64_t{rc.bitsPerFrame} * frames - rc.bitsLeft;
      if (owed > 0) s = Min(s, rc.bitsPerFrame - owed / second);
    }
    h = (r * s) >> 8;
    if (mpeg4 && rc.lowDelay && rc.prevFrameIntra) h = TruncateToInt(static_cast<double>(h) * 1.3);
  }
  int64_t t = Max<int64_t>(h, rc.bitsPerFrame / 2);
  const int64_t b = rc.bufferSize, f = rc.bufferFullness;
  if (f > 0 || !rc.lowDelay) {
    if (!rc.lowDelay || f > b / 2)
      t = TruncateToInt(static_cast<float>(2 * b - f) * static_cast<float>(t) / static_cast<float>(f + b));
    const int64_t b90 = b * 9 / 10;
    if (f + t > b90) t = Max<int64_t>(b90 - f, rc.bitsPerFrame / 2);
    if (!rc.lowDelay && f + t - rc.bitsPerFrame < b / 10) t = b / 10 + rc.bitsPerFrame - f;
    t = Min(t, b * 4 / 10);
  }
  if (mpeg4 && rc.lowDelay) {
    t = rc.prevFrameIntra ? Min<int64_t>(t, 5 * int64_t{rc.bitsPerFrame} / 2) : Min<int64_t>(t, 2 * int64_t{rc.bitsPerFrame});
  } else if (rc.lowDelay) {
    t = Min<int64_t>(t, 2 * int64_t{rc.bitsPerFrame});
  }
  rc.frameTarget = Narrow(t);
  rc.mbModel = static_cast<int16_t>(t - rc.avgHeaderBits < int64_t{rc.mbCount} * 22 ? 2 : 1);

  const float mad = static_cast<float>(rc.frameActivity) / static_cast<float>(rc.mbCount * 256);
  const int64_t rest = t - rc.avgHeaderBits;
  int64_t q;
  if (rest < 1) {
    q = 31;
  } else {
    const float x1mad = static_cast<float>(rc.pX1) * mad;
    const float d = static_cast<float>(4 * int64_t{rc.pX2} * rest) * mad + x1mad * x1mad;
    if (d >= 0.0f && rc.pX2 != 0) {
      const float quotient = static_cast<float>(static_cast<double>(2.0f * static_cast<float>(rc.pX2) * mad) /
                                                (std::sqrt(static_cast<double>(d)) - static_cast<double>(x1mad)));
      q = TruncateToInt(static_cast<double>(quotient) + 0.5);
    } else {
      q = TruncateToInt(static_cast<double>(static_cast<float>(rc.pAvg) * mad / static_cast<float>(rest)) + 0.5);
    }
  }
  const int64_t p = rc.pQp[(rc.pPos + kModelWindow - 1) % kModelWindow];
  if (q > 14) {
    const int64_t lowered = Min(q, p * 5 / 4);
    q = lowered < q ? lowered : Max(q, p * 3 / 4);
  } else if (q - p > 3) {
    q = p + 3;
  } else if (q - p <= -4) {
    q = p - 3;
  }
  int qp = q > 31 ? 31 : static_cast<int>(Max<int64_t>(q, rc.lowDelay ? 5 : 3));
  if (mpeg4 && rest >= 1) qp = HoldMeasuredCost(rc, qp, static_cast<float>(rest) / mad);
  rc.mbRunAvg = 0;
  rc.mbPos = 0;
  rc.mbPoints = 0;
  rc.textureBits = 0;
  rc.mbsLeft = rc.mbCount;
  rc.headerBits = 0;
  return qp;
}

void UpdateSkipState(RateControlState& rc, float meanQp) {
  const int64_t f = rc.bufferFullness, b = rc.bufferSize;
  if (b * 50 / 100 >= f) return;
  if (!(meanQp > 25.0f)) {
    rc.skipCount = 0;
    return;
  }
  const int64_t frame = TruncateToInt(static_cast<float>(rc.bitRate) / rc.frameRate);
  const int64_t overshoot = -int64_t{rc.frameTarget};
  if (overshoot < frame / 4) {
    rc.skipCount = overshoot < frame / 8 ? 0 : rc.skipCount + 2;
  } else {
    const int64_t k = frame > 0 ? Max<int64_t>((frame / 2 - rc.frameTarget) / frame, 1) : 1;
    rc.skipCount = Narrow(rc.skipCount + 6 * k);
  }
  if (rc.lowDelay && rc.windowBits < 0 && rc.windowFrames > 1)
    rc.skipCount = Max(rc.skipCount, 6 * rc.windowFrames - 6);
  if (rc.skipCount >= 6) {
    rc.skipBoostPending = 1;
    rc.skipBoost = rc.skipCount < 12 ? 0.6f : (rc.skipCount < 18 ? 0.4f : 0.3f);
  }
}

bool DecideFrameSkip(RateControlState& rc) {
  if (rc.framesLeft == 0) {
    rc.skipCount = 0;
    rc.skipBoostPending = 0;
    return false;
  }
  if (rc.skipCount > 5) {
    rc.skipCount -= 6;
    return true;
  }
  return false;
}

bool DetectSceneChange(RateControlState& rc, const MacroblockInfo* mbs, int complexity) {
  int32_t k = 0;
  int64_t activity = 0;
  for (int i = 0; i < rc.mbCount; ++i) {
    if (mbs[i].inter == 0) ++k;
    activity += mbs[i].activity;
  }
  const int32_t limit = complexity == 0 ? rc.mbCount / 2 : (complexity == 1 ? rc.mbCount * 4 / 10 : rc.mbCount / 3);
  if (k < rc.mbCount / 10) {
    // A run of frames rich in intra macroblocks (a transition) that ends in a
    // fall to half its count or less. A count that only wobbles across the
    // one-in-ten line, as noise on a texture makes it, ends no transition.
    if (rc.sceneJumpScore > 3 && 2 * k <= rc.prevIntraMbs) rc.sceneChangePending = 1;
    rc.sceneJumpScore = 0;
  } else {
    const int32_t g = rc.prevIntraMbs;
    if (k < 3 * g && g < 3 * k) {
      if (static_cast<double>(k) >= 0.8 * static_cast<double>(g)) rc.sceneJumpScore += 1;
    } else {
      rc.sceneJumpScore += 2;
    }
    rc.prevIntraMbs = k;
  }
  // A frame with few intra macroblocks and no jump pending is a new scene only
  // when its activity stands far above that of the shot's predicted frames.
  // The yardstick is measured, never the models' starting guess: a detected
  // change resets the models, and against that guess every frame of a noisy
  // texture would look like a new scene and be coded intra again. Nor does a
  // nearly empty buffer make a frame a new scene.
  bool change = true;
  if (k <= limit && rc.sceneChangePending != 1) {
    change = rc.sceneActivity > 0 && 2 * activity > 7 * int64_t{rc.sceneActivity};
  }
  const int64_t b = rc.bufferSize, f = rc.bufferFullness;
  if (change) {
    if (!rc.lowDelay) {
      change = f < b * 70 / 100;
    } else {
      change = !(f >= b * 60 / 100 || rc.windowIntraCount >= rc.windowIntraLimit || rc.windowFrames <= 3 ||
                 rc.prevFrameIntra);
    }
  }
  if (!change) {
    rc.sceneActivity =
        Narrow(rc.sceneActivity == 0 ? activity : (6 * int64_t{rc.sceneActivity} + 4 * activity + 5) / 10);
    return false;
  }
  rc.sceneJumpScore = 0;
  rc.sceneChangePending = 0;
  rc.prevIntraMbs = rc.mbCount / 12;
  const float added = static_cast<float>((int64_t{rc.periodLength} - rc.framesLeft) * rc.bitRate) / rc.frameRate;
  int64_t left = int64_t{rc.bitsLeft} + TruncateToInt(added);
  rc.framesLeft = rc.periodLength;
  const int64_t periodBits = int64_t{rc.bitsPerFrame} * rc.periodLength;
  if (rc.lowDelay && static_cast<double>(left) > 1.1 * static_cast<double>(periodBits)) left = periodBits;
  rc.bitsLeft = Narrow(left);
  ResetModels(rc);
  rc.sceneActivity = Narrow(activity);  // the new shot's first measure
  return true;
}

void RateControlEndPredictedFrame(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits) {
  rc.framesLeft -= 1;
  rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} - bits);
  rc.bufferFullness = Narrow(int64_t{rc.bufferFullness} + bits - rc.bitsPerFrame);
  if (rc.lowDelay) {
    if (rc.bufferFullness < 0) rc.bufferFullness += rc.bufferSize * 50 / 100;
    rc.windowFrames -= 1;
    rc.windowBits -= bits;
  }
  rc.prevRowCoef = rc.rowCoef;
  rc.prevFrameIntra = 0;
  UpdatePredictedModel(rc, mbs, bits);
}

void UpdatePredictedModel(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits) {
  if (rc.textureBits == 0) return;

  const float mad = static_cast<float>(rc.frameActivity) / static_cast<float>(rc.mbCount * 256);
  rc.prevMbBitsCoef = rc.mbBitsCoef;
  const int32_t h = rc.headerBits;
  rc.avgHeaderBits = Narrow((6 * int64_t{h} + 4 * int64_t{rc.avgHeaderBits}) / 10);
  rc.textureBits = bits;
  rc.pFrameCount += 1;
  int64_t sumQp = 0;
  for (int i = 0; i < rc.mbCount; ++i) sumQp += mbs[i].quant;
  rc.pQp[rc.pPos] = static_cast<int32_t>((sumQp + rc.mbCount / 2) / rc.mbCount);
  rc.pRq[rc.pPos] = static_cast<float>(sumQp * (int64_t{bits} - h)) / (static_cast<float>(rc.mbCount) * mad);
  const int costQp = Max(1, Min(rc.pQp[rc.pPos], 31));
  rc.pCost[costQp] = static_cast<float>(int64_t{bits} - h) / mad;
  rc.pCostFrame[costQp] = rc.pFrameCount;
  if (rc.bandwidthAdaptation) {
    if (rc.skipBoostPending > 0) rc.skipBoostPending -= 1;
    UpdateSkipState(rc, static_cast<float>(sumQp) / static_cast<float>(rc.mbCount));
  }
  const int64_t lo = Min(rc.frameActivity, rc.avgActivity), hi = Max(rc.frameActivity, rc.avgActivity);
  const int n = hi > 0 ? static_cast<int>(lo * Min(rc.pFrameCount, kModelWindow) / hi) : 0;
  if (n > 1) {
    rc.pAvg = RefitModel(rc.pQp, rc.pRq, rc.pPos, n, mad, &rc.pX1, &rc.pX2);
  }
  rc.pPos = static_cast<int32_t>((rc.pPos + 1) % kModelWindow);
  rc.avgActivity = Narrow((6 * int64_t{rc.avgActivity} + 4 * int64_t{rc.frameActivity} + 5) / 10);
}

void FitRateModel(const int32_t* qp, const float* y, int n, int32_t* x1, int32_t* x2) {
  if (n < 1) return;
  bool same = true;
  for (int i = 1; i < n; ++i) same = same && qp[i] == qp[0];
  if (same) return;
  float a = 0.0f, c = 0.0f, s = 0.0f, t = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float r = static_cast<float>(kRecipQ[qp[i]]);
    a += r;
    c += static_cast<float>(kRecipQ2[qp[i]]);
    s += y[i];
    t += y[i] * r;
  }
  const float den = c - a * a;
  *x1 = static_cast<int32_t>((c * s - t * a) / den);
  *x2 = static_cast<int32_t>((t - s * a) / den);
}

int RejectModelOutliers(int32_t* qp, float* y, int32_t x1, int32_t x2, float mad, int n) {
  if (n < 2) return 1;
  float e[kModelWindow];
  float sum = 0.0f;
  for (int i = 0; i < n; ++i) {
    e[i] = (static_cast<float>(x1) * static_cast<float>(kRecipQ[qp[i]]) +
            static_cast<float>(x2) * static_cast<float>(kRecipQ2[qp[i]]) - y[i]) * mad;
    sum += e[i] * e[i];
  }
  const float sd = static_cast<float>(std::sqrt(static_cast<double>(sum / static_cast<float>(n))));
  int kept = 1;
  for (int i = 1; i < n; ++i) {
    if (-sd <= e[i] && e[i] < sd) {
      qp[kept] = qp[i];
      y[kept] = y[i];
      ++kept;
    }
  }
  return kept;
}

void RateControlEndIntraFrame(RateControlState& rc, int32_t bits, int firstQp) {
  rc.framesLeft -= 1;
  rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} - bits);
  rc.bufferFullness = Narrow(int64_t{rc.bufferFullness} + bits - rc.bitsPerFrame);
  if (rc.lowDelay) {
    if (rc.bufferFullness < 0) rc.bufferFullness += rc.bufferSize * 50 / 100;
    rc.windowFrames -= 1;
    rc.windowBits -= bits;
  }
  rc.prevRowCoef = rc.rowCoef;
  rc.prevFrameIntra = 1;
  UpdateIntraModel(rc, bits, firstQp);
}

void UpdateIntraModel(RateControlState& rc, int32_t bits, int firstQp) {
  if (rc.textureBits == 0) return;

  const float mad = static_cast<float>(rc.frameActivity) / static_cast<float>(rc.mbCount * 256);
  rc.iCount += 1;
  rc.iQp[rc.iPos] = firstQp;
  rc.iRq[rc.iPos] = static_cast<float>(int64_t{bits} * firstQp) / mad;
  const int64_t b = bits > 0 ? bits : 0;
  const int64_t avg = rc.avgIBits;
  const int64_t lo = Min(b, avg), hi = Max(b, avg);
  const int n = hi > 0 ? static_cast<int>(lo * Min(rc.iCount, 10) / hi) : 0;
  if (n < 2) {
    // mbCount x 256 x b needs 64 bits on large intra pictures.
    const int64_t perActivity = int64_t{rc.mbCount} * 256 * bits / rc.frameActivity;
    rc.iX2 = Narrow(int64_t{firstQp} * (firstQp * perActivity - rc.iX1));
  } else {
    rc.iAvg = RefitModel(rc.iQp, rc.iRq, rc.iPos, n, mad, &rc.iX1, &rc.iX2);
  }
  rc.iPos = (rc.iPos + 1) % kModelWindow;
  rc.avgIBits = static_cast<int32_t>((6 * int64_t{rc.avgIBits} + 4 * b + 5) / 10);
}

void AccountSkippedFrames(RateControlState& rc, uint32_t n, int32_t* frameCount, bool* nextIntra) {
  *frameCount = Narrow(int64_t{*frameCount} + n);
  if (n > 5) n = 5;
  const int32_t skipped = static_cast<int32_t>(n);
  if (skipped < rc.framesLeft) {
    rc.framesLeft -= skipped;
  } else {
    const int64_t periodBits = int64_t{rc.bitsPerFrame} * rc.periodLength;
    int64_t left = int64_t{rc.bitsLeft} + periodBits;
    if (rc.lowDelay && static_cast<double>(left) > 1.1 * static_cast<double>(periodBits)) left = periodBits;
    rc.bitsLeft = Narrow(left);
    rc.framesLeft = rc.framesLeft + rc.periodLength - skipped;
    *nextIntra = true;
  }
  if (rc.lowDelay) {
    if (skipped >= rc.windowFrames) {
      const int32_t w = static_cast<int32_t>(rc.frameRate);
      if (rc.framesLeft > 0)
        rc.windowBits = Narrow(Min<int64_t>(int64_t{w} * rc.bitsLeft / rc.framesLeft, rc.bitRate));
      rc.windowFrames = rc.windowFrames - skipped + w;
    } else {
      rc.windowFrames -= skipped;
    }
  }
  rc.bufferFullness = Narrow(int64_t{rc.bufferFullness} -
                             int64_t{skipped} * TruncateToInt(static_cast<float>(rc.bitRate) / rc.frameRate));
}

uint32_t MbActivity(const uint8_t* origin, ptrdiff_t stride) {
  uint32_t sum = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) sum += origin[y * stride + x];
  const int32_t mean = static_cast<int32_t>((sum + 128) >> 8);
  uint32_t activity = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int32_t d = origin[y * stride + x] - mean;
      activity += static_cast<uint32_t>(d < 0 ? -d : d);
    }
  }
  return activity == 0 ? 1 : activity;
}

void ComputeMbActivities(const uint8_t* lumaOrigin, ptrdiff_t stride, int mbsPerRow, int mbRows,
                         MacroblockInfo* mbs) {
  for (int row = 0; row < mbRows; ++row)
    for (int col = 0; col < mbsPerRow; ++col)
      mbs[row * mbsPerRow + col].activity = MbActivity(lumaOrigin + row * 16 * stride + col * 16, stride);
}

int ComputeRowQp(RateControlState& rc, const MacroblockInfo* rowMbs, int runningQp) {
  int64_t sum = 0;
  for (int i = 0; i < rc.mbsPerRow; ++i) sum += rowMbs[i].activity;
  rc.rowActivity = Narrow(sum);
  const float q = static_cast<float>(runningQp);
  float w;
  if (rc.rowBitsLeft < 1) {
    w = 31.0f;
  } else if (rc.rowActivity < 1) {
    w = q;
  } else {
    const float act = static_cast<float>(rc.rowActivity);
    w = (act / static_cast<float>(rc.mbsPerRow * 256) * rc.rowCoef) /
        (static_cast<float>(rc.rowBitsLeft) * act / static_cast<float>(rc.activityLeft));
  }
  if (q - w > 2.0f) {
    w = q - 2.0f;
  } else if (q - w < -2.0f) {
    w = q + 2.0f;
  }
  if (!(w >= 3.0f)) w = 3.0f;
  if (w > 31.0f) w = 31.0f;
  return static_cast<int>(w);
}

void UpdateRowModel(RateControlState& rc, int rowQp, int32_t rowBits) {
  rc.rowBitsLeft -= rowBits;
  if (rc.rowBitsLeft < 0) rc.rowBitsLeft = 0;
  rc.activityLeft -= rc.rowActivity;
  rc.mbsLeft -= rc.mbsPerRow;
  const int k = rc.rowsDone;
  rc.rowsDone += 1;
  if (rc.rowActivity == 0 || rowBits == 0) return;
  const float perPixel = static_cast<float>(rc.rowActivity) / static_cast<float>(rc.mbsPerRow * 256);
  const float h = static_cast<float>(int64_t{rowQp} * rowBits) / perPixel;
  rc.rowCoefAvg = (h + static_cast<float>(k) * rc.rowCoefAvg) / static_cast<float>(k + 1);
  rc.rowCoef = (static_cast<float>(rc.mbsLeft) * rc.prevRowCoef +
                static_cast<float>(rc.mbCount - rc.mbsLeft) * rc.rowCoefAvg) /
               static_cast<float>(rc.mbCount);
}

}  // namespace venc

namespace venc {

int ComputeFrameQpRanged(RateControlState& rc, MacroblockInfo* mbs, bool intra) {
  rc.constantBitsFlag = 0;
  rc.noQpCap = 0;
  const int64_t b = rc.bufferSize, f = rc.bufferFullness;
  if ((rc.rangeFrames & 0xFF) == 0 && static_cast<int64_t>(rc.frameRate * 60.0f) < rc.rangeFrames) {
    const float r = rc.bitsSpent / ((static_cast<float>(rc.rangeFrames) / rc.frameRate) * static_cast<float>(rc.bitRate));
    if (static_cast<double>(r) < 0.85) rc.rangeIndexStart = Max(rc.rangeIndexStart - 1, 1);
    if (static_cast<double>(f) > 0.9 * static_cast<double>(b) || static_cast<double>(r) > 1.15)
      rc.rangeIndexStart = Min(rc.rangeIndexStart + 1, 9);
    rc.rangeIndexMax = Min(rc.rangeIndexStart + 2, 9);
    rc.rangeIndexMin = Max(rc.rangeIndexStart - 2, 1);
    rc.rangeIndex = Max(rc.rangeIndexMin, Min(rc.rangeIndex, rc.rangeIndexMax));
    ReadQpRange(rc);
  }
  if (rc.requestedBitRate != rc.bitRate) {
    const int32_t fps = Max(static_cast<int32_t>(rc.frameRate), 1);
    rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} + int64_t{rc.framesLeft} * (int64_t{rc.requestedBitRate} - rc.bitRate) / fps);
    rc.bitRate = rc.requestedBitRate;
  }
  const int32_t a = RaiseZeroActivities(rc, mbs);
  rc.frameActivity = rc.activityLeft = a;
  rc.rowsDone = 0;
  const float mad = static_cast<float>(a) / (static_cast<float>(rc.mbCount) * 256.0f);

  if (intra) {
    const float m = static_cast<float>(rc.avgActivity) / (static_cast<float>(rc.mbCount) * 256.0f);
    const float w = m < 6.0f ? static_cast<float>((6.75 - 0.5 * m) * 0.4) : 1.5f;
    const float spread = static_cast<float>(int64_t{rc.framesLeft - 1} * rc.avgActivity);
    const int64_t t0 = TruncateToInt(static_cast<float>(rc.bitsLeft) / (spread / (static_cast<float>(a) * w) + 1.0f));
    int64_t t = t0;
    const double meanActivity = static_cast<double>(static_cast<float>(a) / static_cast<float>(rc.mbCount));
    const float e = static_cast<float>(rc.bitRate) * (1.0f / rc.frameRate);
    if (static_cast<float>(t0) > 12.0f * e) {
      if (meanActivity > 5000 && meanActivity < 6000) {
        t = t * 7 / 8;
      } else if (meanActivity > 6000) {
        t = t * 4 / 5;
      }
    } else if (static_cast<float>(t0) < 8.0f * e) {
      if (meanActivity > 6000) {
        t = t * 5 / 4;
      } else if (meanActivity > 5000) {
        t = t * 8 / 7;
      }
    }
    const float floorBits =
        static_cast<float>(static_cast<uint32_t>(rc.bitRate / 10) * static_cast<uint32_t>(Max(rc.periodLength, 0))) *
        (1.0f / rc.frameRate);
    if (static_cast<float>(t) < floorBits) t = TruncateToInt(floorBits);
    if (f + t > b * 9 / 10) {
      t = b * 9 / 10 - f;
      if (floorBits / 2 > static_cast<float>(t)) t = TruncateToInt(floorBits / 2);
    }
    t = Min(t, b * 4 / 10);
    rc.frameTarget = rc.rangeFrameTarget = rc.rowBitsLeft = Narrow(t);
    int qp = SolveModel(rc.iX1, rc.iX2, rc.iAvg, mad, Max<int64_t>(t, 1), 2, 20);
    if (rc.rangeFrames != 0) {
      if (static_cast<double>(f) > 0.85 * static_cast<double>(b)) qp = Min(qp + 2, 31);
      if (qp < rc.qpMin - 1) {
        qp = rc.qpMin - 1;
        rc.constantBitsFlag = 1;
      }
    }
    rc.headerBits = 0;
    rc.mbsLeft = rc.mbCount;
    return qp;
  }

  float k = rc.avgActivity > 0 ? static_cast<float>(a) / static_cast<float>(rc.avgActivity) : 1.0f;
  if (static_cast<double>(k) > 1.2) k = 1.2f;
  if (static_cast<double>(k) < 0.8) k = 0.8f;
  int64_t t = TruncateToInt(static_cast<float>(rc.bitsLeft) * k) / Max(rc.framesLeft, 1);
  const float half = static_cast<float>(rc.bitRate / 2) / rc.frameRate;
  if (half > static_cast<float>(t)) t = TruncateToInt(half);
  bool drainLimited = false;
  if (static_cast<double>(f + t) > static_cast<double>(b) * 9.0 * 0.1) {
    rc.noQpCap = 1;
    const int64_t perTenth = Max(static_cast<int64_t>(rc.frameRate * 10.0f), int64_t{1});
    const int64_t drain = int64_t{rc.drainPerSecond} * 7 / perTenth;
    if (drain < t) {
      t = drain;
      drainLimited = true;
    }
    if (f + t > b * 9 / 10 && static_cast<float>(t) > static_cast<float>(rc.bitRate) / (rc.frameRate * 10.0f)) {
      t = static_cast<int64_t>(static_cast<uint32_t>(rc.bitRate) / static_cast<uint32_t>(perTenth));
      drainLimited = true;
    }
  }
  t = Min(t, b * 4 / 10);
  rc.frameTarget = rc.rangeFrameTarget = Narrow(t);
  const int64_t rest = t - rc.avgHeaderBits;
  rc.mbModel = static_cast<int16_t>(rest > int64_t{rc.mbCount} * 2173 / 100 ? 1 : 2);
  int q = rest < 1 ? 31 : SolveModel(rc.pX1, rc.pX2, rc.pAvg, mad, rest, 0, 1000);
  if (q > rc.qpMin && rc.mbQpAdaptation == 1) {
    const int p = rc.pQp[(rc.pPos + kModelWindow - 1) % kModelWindow];
    if (q < 15) {
      q = Max(p - 3, Min(q, p + 3));
    } else {
      const int lowered = Min(q, p * 5 / 4);
      q = lowered < q ? lowered : Max(q, p * 3 / 4);
    }
  }
  q = Max(3, Min(q, 31));
  int fq = q;
  if (q > rc.qpMax && rc.noQpCap == 0) {
    fq = rc.qpMax;
    rc.constantBitsFlag = 1;
  }
  if (drainLimited && rc.mbQpAdaptation == 0) fq = Min(fq + (fq > rc.qpMax ? 5 : 3), 31);
  if (fq < rc.qpMin) {
    fq = rc.qpMin;
    rc.constantBitsFlag = 1;
  }
  if (rc.noQpCap == 0 && rc.mbQpAdaptation == 1 && fq != q && q > rc.qpMin) {
    const int g = fq + 1;
    int64_t target = TruncateToInt(static_cast<float>(rc.pX2) * mad / static_cast<float>(g * g) +
                                   static_cast<float>(rc.pX1) * mad / static_cast<float>(g)) +
                     int64_t{rc.avgHeaderBits};
    const int64_t ceiling = b * 85 / 100;
    if (f + target > ceiling) {
      rc.noQpCap = 1;
      if (f < ceiling) target = ceiling - f;
    } else if (rc.drainPerSecond / Max(static_cast<int32_t>(rc.frameRate), 1) < target) {
      target = TruncateToInt(static_cast<float>(rc.drainPerSecond) / rc.frameRate);
    }
    rc.frameTarget = Narrow(target);
  }
  rc.mbRunAvg = 0;
  rc.mbPos = 0;
  rc.mbPoints = 0;
  rc.textureBits = 0;
  rc.mbsLeft = rc.mbCount;
  rc.headerBits = 0;
  return fq;
}

void RateControlEndFrameRanged(RateControlState& rc, const MacroblockInfo* mbs, int32_t bits, bool intra,
                               int firstQp) {
  rc.rangeCounter += 1;
  rc.bitsLeft = Narrow(int64_t{rc.bitsLeft} - (rc.constantBitsFlag ? rc.rangeFrameTarget : bits));
  rc.rangeBits = Narrow(int64_t{rc.rangeBits} + bits);
  rc.rangeTarget = Narrow(int64_t{rc.rangeTarget} + rc.rangeFrameTarget);
  if (static_cast<uint32_t>(rc.rangeCounter) >= static_cast<uint32_t>(rc.frameRate) / 2) {
    rc.rangeCounter = 0;
    const int64_t m = rc.rangeTarget > 0 ? 10 * int64_t{rc.rangeBits} / rc.rangeTarget : 10;
    if (static_cast<double>(rc.bufferFullness) < 0.6 * static_cast<double>(rc.bufferSize)) {
      if (m < 4) rc.rangeIndex = Max(rc.rangeIndex - 1, rc.rangeIndexMin);
      if (rc.rangeIndex < rc.rangeIndexStart && m >= 7) rc.rangeIndex = Min(rc.rangeIndex + 1, rc.rangeIndexMax);
    }
    if (m > 15) {
      rc.rangeIndex = Min(rc.rangeIndex + 1, rc.rangeIndexMax);
    } else if (m < 15 && rc.rangeIndex > rc.rangeIndexStart) {
      rc.rangeIndex -= 1;
    }
    rc.rangeIndex = Max(rc.rangeIndex, rc.rangeIndexMin);
    ReadQpRange(rc);
    rc.rangeBits = 0;
    rc.rangeTarget = 0;
  }
  rc.bitsSpent += static_cast<float>(bits);
  rc.rangeFrames += 1;
  if (rc.bitsLeft < 0) rc.bitsLeft = 0;
  rc.framesLeft -= 1;
  rc.bufferFullness = Narrow(int64_t{rc.bufferFullness} + bits -
                             TruncateToInt(static_cast<float>(rc.drainPerSecond) / rc.frameRate));
  if (rc.bufferFullness < 0) rc.bufferFullness = 0;
  rc.prevRowCoef = rc.rowCoef;
  rc.prevFrameIntra = intra ? 1 : 0;
  if (intra) {
    UpdateIntraModel(rc, bits, firstQp);
  } else if (int64_t{rc.mbCount} * 50 < rc.frameActivity) {
    UpdatePredictedModel(rc, mbs, bits);
  }
}

int ComputeFrameQpByActivity(RateControlState& rc, MacroblockInfo* mbs, bool intra) {
  if (!intra) {
    const int32_t sum = RaiseZeroActivities(rc, mbs);
    rc.avgActivity = TruncateToInt((static_cast<double>(rc.avgActivity) + static_cast<double>(sum)) * 0.5);
  }
  const int a = TruncateToInt(static_cast<float>(rc.avgActivity) / (static_cast<float>(rc.mbCount) * 256.0f));
  if (intra) return a < 3 ? 4 : (a <= 5 ? 5 : 6);
  if (a < 2) return 5;
  if (a <= 4) return 6;
  if (a <= 6) return 7;
  if (a == 7) return 8;
  return 9;
}

void EndFrameByActivity(RateControlState& rc) { rc.framesLeft -= 1; }

}  // namespace venc

namespace venc {
namespace {

// 65536 / Q and 2^24 / Q^2 (0 at Q = 0), the macroblock model's 1/Q terms.
struct InverseQpTables {
  int32_t inv[32];
  int32_t inv2[32];
  constexpr InverseQpTables() : inv(), inv2() {
    for (int q = 1; q < 32; ++q) {
      inv[q] = 65536 / q;
      inv2[q] = (1 << 24) / (q * q);
    }
  }
};
constexpr InverseQpTables kInverseQp;

int ClampQp(int q) { return q < 2 ? 2 : (q > 31 ? 31 : q); }

int StepLimit(const RateControlState& rc, int q, int w) {
  if (rc.modifiedQuant && w != q) {
    if (w > AnnexTStepUp(q)) return ClampQp(AnnexTStepUp(q));
    if (w < AnnexTStepDown(q)) return ClampQp(AnnexTStepDown(q));
    return ClampQp(q);
  }
  if (w - q > 2) return ClampQp(q + 2);
  if (q - w > 2) return ClampQp(q - 2);
  return ClampQp(w);
}

// Next macroblock's activity blended into this one's when more follow.
uint32_t NextActivity(const RateControlState& rc, const MacroblockInfo& mb) {
  return rc.mbsLeft > 1 ? (&mb)[1].activity : 0;
}

}  // namespace

void FitMbRateModel(const int32_t* qp, const int32_t* y, int n, int32_t* x1, int32_t* x2) {
  // As in the frame fit, points that all share one QP leave the model as it
  // stands: they say nothing of how the bits change with the QP.
  if (n < 1) return;
  bool same = true;
  for (int i = 1; i < n; ++i) same = same && qp[i] == qp[0];
  if (same) return;
  uint32_t a = 0, c = 0, s = 0, t = 0;
  for (int i = 0; i < n; ++i) {
    const int q = qp[i] < 0 ? 0 : (qp[i] > 31 ? 31 : qp[i]);
    a += static_cast<uint32_t>(kInverseQp.inv[q]);
    c += static_cast<uint32_t>(kInverseQp.inv2[q]);
    s += static_cast<uint32_t>(y[i]);
    t += static_cast<uint32_t>(y[i]) * static_cast<uint32_t>(kInverseQp.inv[q]);
  }
  const float af = static_cast<float>(static_cast<int32_t>(a)) * (1.0f / 65536.0f);
  const float sf = static_cast<float>(static_cast<int32_t>(s)) * (1.0f / 256.0f);
  const float tf = static_cast<float>(static_cast<int32_t>(t)) * (1.0f / 16777216.0f);
  const float cf = static_cast<float>(static_cast<int32_t>(c)) * (1.0f / 16777216.0f);
  const float det = cf - af * af;
  if (!(det != 0.0f)) return;  // a singular system: no solution
  *x1 = TruncateToInt(static_cast<double>((cf * sf - tf * af) / det));
  *x2 = TruncateToInt(static_cast<double>((tf - sf * af) / det));
}

int AnnexTStepUp(int q) {
  if (q <= 1) return 3;
  if (q <= 10) return q + 1;
  if (q <= 20) return q + 2;
  if (q <= 28) return q + 3;
  return q == 31 ? 28 : 31;
}

int AnnexTStepDown(int q) {
  if (q <= 1) return 1;
  if (q <= 10) return q - 1;
  if (q <= 20) return q - 2;
  if (q <= 28) return q - 3;
  return q == 30 ? 27 : 26;
}

int UpdateMbQp(RateControlState& rc, const MacroblockInfo& mb, int runningQp, int frameQp) {
  const int q = runningQp;
  if (mb.fourVectors == 1 || rc.activityLeft <= 0) return q;
  int64_t e = mb.activity;
  const int64_t hdr = static_cast<int64_t>(static_cast<uint32_t>(rc.avgHeaderBits) * static_cast<uint32_t>(rc.mbsLeft) /
                                           static_cast<uint32_t>(Max(rc.mbCount, 1)));
  const int64_t d = ((int64_t{rc.frameTarget} - hdr) * e + rc.activityLeft / 2) / rc.activityLeft;
  int64_t w;
  if (d < 1) {
    w = 31;
  } else {
    if (rc.mbsLeft > 1) e = (int64_t{NextActivity(rc, mb)} + 4 * e) / 5;
    if (rc.mbModel == 1) {
      const double root = std::sqrt(static_cast<double>(static_cast<float>(rc.mbBitsCoef) / static_cast<float>(d)));
      w = (e * TruncateToInt(root + 0.5)) >> 8;
    } else {
      const int64_t o = ((e * rc.mbX2 * d) >> 6) + (((e * rc.mbX1) * (e * rc.mbX1)) >> 16);
      if (o > 0) {
        w = TruncateToInt(static_cast<double>((e * rc.mbX2) >> 7) /
                              (std::sqrt(static_cast<double>(o)) - static_cast<double>((e * rc.mbX1) >> 8)) +
                          0.5);
      } else {
        w = e * rc.mbAvg;
      }
    }
  }
  int qn = StepLimit(rc, q, static_cast<int>(Max<int64_t>(-1000, Min<int64_t>(w, 1000))));
  if (rc.lowDelay && rc.h263Variant == 0) qn = Max(4, Max(frameQp - 4, Min(qn, frameQp + 4)));
  return qn;
}

int UpdateMbQpRanged(RateControlState& rc, const MacroblockInfo& mb, int runningQp) {
  const int q = runningQp;
  if (mb.fourVectors == 1 || rc.activityLeft <= 0) return q;
  const float g = static_cast<float>(mb.activity);
  const float h = (static_cast<float>(rc.frameTarget) -
                   static_cast<float>(int64_t{rc.mbsLeft} * rc.avgHeaderBits) / static_cast<float>(rc.mbCount)) *
                  (g / static_cast<float>(rc.activityLeft));
  int w;
  if (h <= 0.0f) {
    w = 31;
  } else {
    const float o = rc.mbsLeft < 2 ? g / 256.0f : (static_cast<float>(NextActivity(rc, mb)) + 4.0f * g) / 1280.0f;
    if (rc.mbModel == 1) {
      w = TruncateToInt(static_cast<double>(o) * std::sqrt(static_cast<double>(static_cast<float>(rc.mbBitsCoef) / h)));
    } else {
      const float t = static_cast<float>(rc.mbX1) * o;
      const float u = 4.0f * static_cast<float>(rc.mbX2) * o * h + t * t;
      if (u < 0.0f) {
        w = TruncateToInt(static_cast<double>(static_cast<float>(rc.mbAvg) / h * o));
      } else {
        w = TruncateToInt(static_cast<double>(rc.mbX2) * static_cast<double>(o) * 2.0 /
                          (std::sqrt(static_cast<double>(u)) - static_cast<double>(t)));
      }
    }
  }
  if (w - q == 1 || q - w == 1) w = q;
  w = Max(w, rc.qpMin);
  if (!rc.noQpCap && static_cast<double>(w) > 1.2 * static_cast<double>(rc.qpMax))
    w = static_cast<int>(1.2 * rc.qpMax);
  return StepLimit(rc, q, Max(-1000, Min(w, 1000)));
}

void UpdateMbModel(RateControlState& rc, const MacroblockInfo& mb, int32_t bits, int32_t textureBits) {
  const int64_t e = mb.activity;
  const int64_t t = textureBits;
  const int64_t q = mb.quant;
  rc.frameTarget = Narrow(int64_t{rc.frameTarget} - bits);
  rc.activityLeft = Narrow(int64_t{rc.activityLeft} - e);
  rc.headerBits = Narrow(int64_t{rc.headerBits} + bits - textureBits);
  rc.mbsLeft -= 1;
  rc.textureBits = Narrow(int64_t{rc.textureBits} + textureBits);
  if (t == 0 || e <= 50) return;
  rc.mbPoints = static_cast<int16_t>(rc.mbPoints < INT16_MAX ? rc.mbPoints + 1 : rc.mbPoints);
  rc.mbQp[rc.mbPos] = static_cast<int32_t>(q);
  rc.mbRq[rc.mbPos] = TruncateToInt(static_cast<double>(static_cast<float>((t * q) << 16) / static_cast<float>(e)));
  if (rc.mbModel == 1) {
    const int64_t e2 = e * e;
    const int64_t tq2 = t * q * q;
    const int64_t c = tq2 < 32769 ? (tq2 * 65536 + e2 / 2) / e2 : tq2 * ((e2 / 2 + 65536) / e2);
    const int64_t n = rc.mbPoints;
    rc.mbRunAvg = Narrow((int64_t{rc.mbRunAvg} * (n - 1) + n / 2 + c) / n);
    rc.mbBitsCoef = Narrow((int64_t{rc.mbsLeft} * rc.prevMbBitsCoef + int64_t{rc.mbRunAvg} * (rc.mbCount - rc.mbsLeft) +
                            rc.mbCount / 2) /
                           Max(rc.mbCount, 1));
  } else if (rc.mbPoints >= 2) {
    const int n = Min<int>(rc.mbPoints, kModelWindow);
    FitMbRateModel(rc.mbQp, rc.mbRq, n, &rc.mbX1, &rc.mbX2);
    int64_t sum = 0;
    for (int i = 0; i < n; ++i) sum += rc.mbRq[i];
    rc.mbAvg = Narrow((sum + n / 2) / n);
  }
  rc.mbPos = static_cast<int16_t>(rc.mbPos + 1 >= kModelWindow ? 0 : rc.mbPos + 1);
}

}  // namespace venc
