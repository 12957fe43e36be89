// Mid/side and intensity stereo (ISO/IEC 14496-3 4.6.8) and temporal noise
// shaping (4.6.9), on the spectral coefficients of the reconstruction.
#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"

namespace heaac {

void StereoProcess(int bandLimit, const ElementRecord& el, int32_t* left, int32_t* right) {
  const IcsInfo& ics = el.ics[1];
  const uint16_t* off = ics.swbOffset;
  const bool isShort = ics.windowSequence == kEightShort;
  if (bandLimit > ics.numSwb) bandLimit = ics.numSwb;
  int window = 0;
  for (int g = 0; g < ics.numGroups; ++g) {
    const int glen = ics.groupLen[g];
    for (int b = 0; b < bandLimit; ++b) {
      const int i = g * ics.numSwb + b;
      const int book = ics.codebook[i];
      const bool intensity = book == kIntensityHcb || book == kIntensityHcb2;
      const bool ms = el.msMaskPresent == 2 || (el.msMaskPresent == 1 && el.msUsed[i]);
      for (int w = 0; w < glen; ++w) {
        const int base = isShort ? (window + w) * 128 : 0;
        const int start = base + off[b];
        const int end = base + off[b + 1];
        if (ms && !intensity && book != kNoiseHcb) {
          for (int k = start; k < end; ++k) {
            const int32_t l = left[k];
            const int32_t r = right[k];
            left[k] = FxAddSat(l, r);
            right[k] = FxSubSat(l, r);
          }
        }
        if (intensity) {
          int sign = book == kIntensityHcb ? 1 : -1;
          if (el.msMaskPresent == 1 && el.msUsed[i]) sign = -sign;
          const int p = ics.scaleFactor[i];
          const int count = p >= 0 ? p / 4 : (-p + 3) / 4;
          if (count >= 32) {
            for (int k = start; k < end; ++k) right[k] = 0;
            continue;
          }
          // The whole steps are shifts; m carries the remaining quarter steps.
          int32_t m = kQuarterStepQ31[4 - ((-p) & 3)];
          if (sign < 0) m = -m;
          for (int k = start; k < end; ++k) {
            const int32_t l = p >= 0 ? left[k] >> count : FxShlSat(left[k], count);
            right[k] = static_cast<int32_t>((static_cast<int64_t>(l) * m) >> 31);
          }
        }
      }
    }
    window += glen;
  }
}

namespace {

// Reflection coefficients of one filter to direct form, Q24.
void TnsToLpc(const uint8_t* coef, int order, int coefRes, int compress, int64_t* a) {
  const AacComputedTables& t = GetAacTables();
  const int bits = coefRes + 3 - compress;
  int32_t k[32];
  for (int i = 0; i < order; ++i) {
    int v = coef[i];
    if (v & (1 << (bits - 1))) v -= 1 << bits;  // sign extend
    k[i] = t.tnsCoef[coefRes][v & 15];
  }
  // Levinson step m: a_i += (a_(m-i) x k_m) >> 24 for i = 1..m, from the
  // previous values, with a_m starting at 0. a_0 is 0xFFFFFF, one unit below
  // 1.0 in Q24, so a_m = (0xFFFFFF x k_m) >> 24: k_m less one unit when k_m is
  // positive, k_m itself otherwise.
  int64_t tmp[13];
  a[0] = 0xFFFFFF;
  for (int m = 1; m <= order; ++m) {
    a[m] = 0;
    for (int i = 1; i <= m; ++i) tmp[i] = a[i] + ((a[m - i] * k[m - 1]) >> 24);
    for (int i = 1; i <= m; ++i) a[i] = tmp[i];
    // Bound the direct-form coefficients; valid filters stay far inside.
    for (int i = 1; i <= m; ++i) {
      if (a[i] > INT32_MAX) a[i] = INT32_MAX;
      if (a[i] < INT32_MIN) a[i] = INT32_MIN;
    }
  }
}

// All-pole (decoder) or moving-average (analysis) filter over `count`
// coefficients from `x` in steps of `step`. Sums wrap as unsigned, so a
// malformed filter cannot overflow a signed value; valid streams never wrap.
void RunFilter(int32_t* x, int count, int step, const int64_t* a, int order, bool analysis) {
  int32_t state[12] = {};
  for (int n = 0; n < count; ++n) {
    uint64_t acc = 0;
    for (int i = 0; i < order; ++i) acc += static_cast<uint64_t>(a[i + 1] * state[i]);
    const int64_t p = static_cast<int64_t>(acc) >> 24;
    const int32_t in = *x;
    const int32_t y = analysis ? FxSat32(in + p) : FxSat32(in - p);
    *x = y;
    for (int i = order - 1; i > 0; --i) state[i] = state[i - 1];
    if (order > 0) state[0] = analysis ? in : y;
    x += step;
  }
}

}  // namespace

void TnsFilter(int rateIndex, const IcsInfo& ics, int32_t* spec, bool analysis) {
  const TnsData& t = ics.tns;
  const bool isShort = ics.windowSequence == kEightShort;
  if (analysis && isShort) return;
  const int windows = isShort ? 8 : 1;
  const int maxBands = isShort ? kTnsMaxBandsShort[rateIndex] : kTnsMaxBandsLong[rateIndex];
  const int maxOrder = isShort ? 7 : 12;
  const uint16_t* off = ics.swbOffset;
  for (int w = 0; w < windows; ++w) {
    int bottom = ics.numSwb;
    for (int f = 0; f < t.nFilt[w]; ++f) {
      const int top = bottom;
      bottom = top - t.length[w][f];
      if (bottom < 0) bottom = 0;
      int order = t.order[w][f];
      if (order > maxOrder) order = maxOrder;
      if (order == 0) continue;
      int64_t a[13];
      TnsToLpc(t.coef[w][f], order, t.coefRes[w], t.compress[w][f], a);
      int startBand = bottom < maxBands ? bottom : maxBands;
      if (startBand > ics.maxSfb) startBand = ics.maxSfb;
      int endBand = top < maxBands ? top : maxBands;
      if (endBand > ics.maxSfb) endBand = ics.maxSfb;
      const int start = off[startBand];
      const int end = off[endBand];
      if (end <= start) continue;
      int32_t* x = spec + w * 128;
      if (t.direction[w][f]) {
        RunFilter(x + end - 1, end - start, -1, a, order, analysis);
      } else {
        RunFilter(x + start, end - start, 1, a, order, analysis);
      }
    }
  }
}

}  // namespace heaac
