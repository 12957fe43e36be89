// Spectral reconstruction, ISO/IEC 14496-3 4.6.1 to 4.6.3 and 4.6.13: pulses,
// inverse quantisation, short-window regrouping, perceptual noise
// substitution and dynamic range control, in integer arithmetic.
//
// Coefficient format: the real AAC coefficient x 8 in a signed 32-bit value.
#include <cstring>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"

namespace heaac {

void ApplyPulses(const IcsInfo& ics, int32_t* spec) {
  int k = ics.swbOffset[ics.pulseStartSfb];
  for (int i = 0; i < ics.numPulse; ++i) {
    k += ics.pulseOffset[i];
    if (k >= kFrameLength) return;  // refused by the parse; kept as a guard
    if (spec[k] > 0) {
      spec[k] += ics.pulseAmp[i];
    } else {
      spec[k] -= ics.pulseAmp[i];
    }
  }
}

// |q|^(4/3) x 2^38 for 256 <= a <= 8191: linear interpolation in the power
// table between i = a >> e and i + 1 (128 <= i < 256), times (2^e)^(4/3).
// Kept in 64 bits, so large values lose no precision before their shift.
static int64_t LargePower(const AacComputedTables& t, int32_t a) {
  const int e = kLargeValueBits[(a >> 8) & 31];
  const int i = a >> e;
  const int32_t lo = t.power43[i];
  const int32_t hi = t.power43[i + 1];
  const int64_t base = lo + ((static_cast<int64_t>(hi - lo) * (a & ((1 << e) - 1))) >> e);
  return base * t.power43[1 << e];
}

void InverseQuantize(const IcsInfo& ics, int32_t* spec) {
  const AacComputedTables& t = GetAacTables();
  const uint16_t* off = ics.swbOffset;
  int groupStart = 0;
  for (int g = 0; g < ics.numGroups; ++g) {
    const int glen = ics.groupLen[g];
    for (int b = 0; b < ics.maxSfb; ++b) {
      const int book = ics.codebook[g * ics.numSwb + b];
      if (book < 1 || book > 11) continue;
      const int start = groupStart + glen * off[b];
      const int end = groupStart + glen * off[b + 1];
      const int s = ics.scaleFactor[g * ics.numSwb + b] - 164;
      const int32_t m = kQuarterStepQ31[4 - (s & 3)];
      // Small values: table entry x 2^19, shifted by the whole quarter steps.
      const int smallShift = s > 0 ? (s + 3) / 4 : -((-s) / 4);
      // Large values carry 2^38 in place of 2^19.
      const int largeDown = 19 - smallShift;
      const bool silent = smallShift >= 32 || smallShift <= -32;
      for (int k = start; k < end; ++k) {
        const int32_t q = spec[k];
        if (q == 0) continue;
        if (silent) {
          spec[k] = 0;
          continue;
        }
        const int32_t a = q < 0 ? -q : q;
        int32_t v;
        if (a < 256) {
          // Rounded: small values at low scale factors keep only a few bits
          // in the x 8 format, and truncation would shrink every one of them.
          v = smallShift >= 0 ? FxShlSat(t.power43[a], smallShift) : FxShrRound(t.power43[a], -smallShift);
        } else {
          const int64_t p = LargePower(t, a > 8191 ? 8191 : a);
          if (largeDown >= 63) {
            v = 0;
          } else if (largeDown <= 0) {
            v = largeDown == 0 ? FxSat32(p) : INT32_MAX;
          } else {
            v = FxSat32((p + (int64_t{1} << (largeDown - 1))) >> largeDown);
          }
        }
        const int32_t r = static_cast<int32_t>((static_cast<int64_t>(m) * v) >> 31);
        spec[k] = q < 0 ? -r : r;
      }
    }
    groupStart += glen * 128;
  }
}

void RegroupShortWindows(const IcsInfo& ics, int32_t* spec, int32_t* scratch) {
  const uint16_t* off = ics.swbOffset;
  int src = 0;
  int window = 0;
  for (int g = 0; g < ics.numGroups; ++g) {
    const int glen = ics.groupLen[g];
    for (int b = 0; b < ics.numSwb; ++b) {
      const int width = off[b + 1] - off[b];
      for (int w = 0; w < glen; ++w) {
        std::memcpy(scratch + (window + w) * 128 + off[b], spec + src, sizeof(int32_t) * width);
        src += width;
      }
    }
    window += glen;
  }
  std::memcpy(spec, scratch, sizeof(int32_t) * kFrameLength);
}

// Fills `n` values (n a multiple of 4) with uniform noise scaled so that the
// band's energy is 2^(energy / 2) in coefficient units (ISO/IEC 14496-3
// 4.6.13.3), drawing from the generator word `seed`.
void GenerateNoiseBand(int32_t* v, int n, int energy, uint32_t* seed) {
  const AacComputedTables& t = GetAacTables();
  int ampIndex = n / 4 - 1;
  if (ampIndex > 63) ampIndex = 63;
  const int32_t amp = t.noiseAmp[ampIndex];
  uint64_t e = 0;
  uint32_t s = *seed;
  for (int i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    const int32_t x = static_cast<int32_t>(((static_cast<int64_t>(static_cast<int32_t>(s)) * amp) >> 31) & ~int64_t{1});
    v[i] = x;
    e += static_cast<uint64_t>(static_cast<int64_t>(x) * x);
  }
  *seed = s;
  // Normalise to unit energy: root = sqrt(E) with E taken as its high word x 2.
  int32_t E = static_cast<int32_t>((e >> 32) * 2 > 0x7FFFFFFF ? 0x7FFFFFFF : (e >> 32) * 2);
  int32_t root = FxSqrt(E);
  if (root <= 0) {
    for (int i = 0; i < n; ++i) v[i] = 0;
    return;
  }
  // Unit band: x = root normalised, gain = 1/x in Q30; each value becomes
  // v / sqrt(E) x 2^30 (FxSqrt yields sqrt(E / 2^32) x 2^0, see fx_math.h).
  const int k = FxNormShift(root);
  const int32_t x = root << k;
  const int64_t gain = FxReciprocal(x);  // 2^61 / x
  // Band energy 2^(energy / 2) in coefficient units x 8: scale the unit band
  // (root energy 2^30) by 2^(energy / 4) x 2^3 / 2^30.
  const int whole = energy >> 2;
  const int64_t quarter = kQuarterStepQ30[energy & 3];
  const int shift = whole - 27;
  for (int i = 0; i < n; ++i) {
    const int64_t unit = (static_cast<int64_t>(v[i]) * gain) >> (47 - k);
    const int64_t y = (unit * quarter) >> 30;
    if (shift >= 0) {
      v[i] = shift > 31 ? (y > 0 ? INT32_MAX : (y < 0 ? INT32_MIN : 0)) : FxSat32(y * (int64_t{1} << shift));
    } else {
      v[i] = shift < -62 ? 0 : static_cast<int32_t>(y >> -shift);
    }
  }
}

void NoiseSubstitution(const ElementRecord& el, int channel, IcsInfo* ics, int32_t* spec, uint32_t* state) {
  const uint16_t* off = ics->swbOffset;
  uint32_t w = *state;
  uint32_t c = 1;
  int window = 0;
  for (int g = 0; g < ics->numGroups; ++g) {
    for (int b = 0; b < ics->maxSfb; ++b) {
      const int i = g * ics->numSwb + b;
      if (ics->codebook[i] != kNoiseHcb) continue;
      if (ics->ltp.present && b < 64) ics->ltp.longUsed[b] = 0;
      const bool correlated = channel == 1 && el.kind == 2 &&
                              (el.msMaskPresent == 2 || (el.msMaskPresent == 1 && el.msUsed[i]));
      for (int wi = 0; wi < ics->groupLen[g]; ++wi) {
        int32_t* p = spec + (window + wi) * 128 + off[b];
        if (ics->windowSequence != kEightShort) p = spec + off[b];
        if (correlated) w = c;
        GenerateNoiseBand(p, off[b + 1] - off[b], ics->scaleFactor[i], &w);
        if (correlated) c = w;
      }
    }
    window += ics->groupLen[g];
  }
  *state = w;
}

void ApplyDynamicRange(const DrcRecord& drc, int32_t* spec) {
  const AacComputedTables& t = GetAacTables();
  int level = drc.progRefLevel / 4;
  if (level > 73) level = 73;
  const int32_t base = t.drcGain[level];
  int start = 0;
  for (int i = 0; i < drc.bandCount; ++i) {
    int end = (drc.bandTop[i] + 1) * 4;
    if (end > kFrameLength) end = kFrameLength;
    int index = drc.sign[i] ? (168 - drc.magnitude[i]) / 4 : (168 + drc.magnitude[i]) / 4;
    if (index > 73) index = 73;
    const int32_t G = static_cast<int32_t>(((static_cast<int64_t>(t.drcGain[index]) * (static_cast<int64_t>(base) << 6)) >> 31) & ~int64_t{1});
    // (c x (G << 6)) >> 31 taken as (c x G) >> 25: G stays below 2^29, so
    // the product fits in 64 bits for any coefficient.
    for (int k = start; k < end; ++k) {
      spec[k] = FxSat32(((static_cast<int64_t>(spec[k]) * G) >> 25) & ~int64_t{1});
    }
    if (end > start) start = end;
  }
}

}  // namespace heaac
