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
  rc.sceneJumpScore = 0;
  rc.sceneChangePending = 0;
  rc.prevIntraMbs = rc.mbCount / 12;
  rc.rowCoef = rc.prevRowCoef = static_cast<float>(rc.mbsPerRow * 155);
  rc.rowCoefAvg = 0.0f;
}

}  // namespace

void InitRateControl(RateControlState& rc) {
  rc.bitRate = rc.requestedBitRate;
  rc.frameRate = rc.requestedFrameRate;
  rc.bitsPerFrame = TruncateToInt((1.0f / rc.frameRate) * static_cast<float>(rc.bitRate));
  rc.windowFrames = 0;
  // rcMode 1 and 2 keep their own buffers (ranged and activity controllers);
  // until they stand they run on the rcMode 0 buffer model.
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
  ResetModels(rc);
}

void StartRatePeriod(RateControlState& rc) {
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
  const int64_t floorBits = rc.lowDelay ? (int64_t{rc.bitRate} + 7 * int64_t{rc.bitsPerFrame}) / 14
                                        : 4 * int64_t{rc.bitsPerFrame};
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
    const int64_t s = frames > 0 ? (rc.lowDelay ? rc.windowBits : rc.bitsLeft) / frames : 0;
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
  const int qp = q > 31 ? 31 : static_cast<int>(Max<int64_t>(q, rc.lowDelay ? 5 : 3));
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
    if (rc.sceneJumpScore > 3) rc.sceneChangePending = 1;
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
  const int64_t b = rc.bufferSize, f = rc.bufferFullness;
  if (k <= limit && rc.sceneChangePending != 1) {
    const bool drained = rc.rcMode == 0 && !rc.lowDelay && f < b / 20;
    if (!drained && 7 * int64_t{rc.avgActivity} >= 2 * activity) return false;
  }
  if (!rc.lowDelay) {
    if (f >= b * 70 / 100) return false;
  } else if (f >= b * 60 / 100 || rc.windowIntraCount >= rc.windowIntraLimit || rc.windowFrames <= 3 ||
             rc.prevFrameIntra) {
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
  if (rc.bandwidthAdaptation) {
    if (rc.skipBoostPending > 0) rc.skipBoostPending -= 1;
    UpdateSkipState(rc, static_cast<float>(sumQp) / static_cast<float>(rc.mbCount));
  }
  const int64_t lo = Min(rc.frameActivity, rc.avgActivity), hi = Max(rc.frameActivity, rc.avgActivity);
  const int n = hi > 0 ? static_cast<int>(lo * Min(rc.pFrameCount, kModelWindow) / hi) : 0;
  if (n > 1) {
    int32_t qp[kModelWindow];
    float y[kModelWindow];
    for (int i = 0; i < n; ++i) {
      const int pos = (rc.pPos - i + kModelWindow) % kModelWindow;
      qp[i] = rc.pQp[pos];
      y[i] = rc.pRq[pos];
    }
    FitRateModel(qp, y, n, &rc.pX1, &rc.pX2);
    int kept = n;
    if (n > 2) {
      kept = RejectModelOutliers(qp, y, rc.pX1, rc.pX2, mad, n);
      FitRateModel(qp, y, kept, &rc.pX1, &rc.pX2);
    }
    float sum = 0.0f;
    for (int i = 0; i < kept; ++i) sum += y[i];
    rc.pAvg = (TruncateToInt(sum) + kept / 2) / kept;
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
    int32_t qp[kModelWindow];
    float y[kModelWindow];
    for (int i = 0; i < n; ++i) {
      const int pos = (rc.iPos - i + kModelWindow) % kModelWindow;
      qp[i] = rc.iQp[pos];
      y[i] = rc.iRq[pos];
    }
    FitRateModel(qp, y, n, &rc.iX1, &rc.iX2);
    int kept = n;
    if (n > 2) {
      kept = RejectModelOutliers(qp, y, rc.iX1, rc.iX2, mad, n);
      FitRateModel(qp, y, kept, &rc.iX1, &rc.iX2);
    }
    float sum = 0.0f;
    for (int i = 0; i < kept; ++i) sum += y[i];
    rc.iAvg = (static_cast<int32_t>(sum) + kept / 2) / kept;
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
