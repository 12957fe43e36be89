// Spectral reconstruction, ISO/IEC 14496-3 4.6.1 to 4.6.3 and 4.6.13: pulses,
// inverse quantisation, short-window regrouping, perceptual noise
// substitution and dynamic range control, in integer arithmetic.
//
// Coefficient format: the real AAC coefficient x 8 x 2^extraBits in a signed
// 32-bit value. Loud channels keep extraBits at 0; quiet ones carry more
// fractional bits so that the rounding of the reconstruction and of the
// transform stays far below an output LSB (see SpectrumExtraBits).
#include <cstring>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_fixed.h"
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

// |q|^(4/3) x 2^38 for 256 <= a <= 8191, from i = a >> e (128 <= i < 256)
// and r = a - (i << e): the power table interpolated at i + r / 2^e through
// i - 1, i and i + 1, times (2^e)^(4/3). The curve bends enough between table
// entries that a straight line through two of them is off by up to
// 3 x 10^-6, audible as rounding flips on loud tones; the parabola is off
// by less than 10^-8.
static int64_t LargePower(const AacComputedTables& t, int32_t a) {
  const int e = kLargeValueBits[(a >> 8) & 31];
  const int i = a >> e;
  const int64_t r = a & ((1 << e) - 1);
  const int64_t prev = t.power43[i - 1], mid = t.power43[i], next = t.power43[i + 1];
  // mid + r / 2^e x (next - prev) / 2 + (r / 2^e)^2 x (next - 2 mid + prev) / 2
  const int64_t num = ((next - prev) * r << e) + (next - 2 * mid + prev) * r * r;
  const int64_t base = mid + ((num + (int64_t{1} << (2 * e))) >> (2 * e + 1));
  // base x 2^19 times the octave x 2^26 fits in 63 bits (2^29.7 x 2^32.7).
  return (base * t.octavePower43[e] + 64) >> 7;
}

namespace {

// Per-band factors of the inverse quantisation: 2^(s / 4) as whole-octave
// shifts and a Q31 quarter step, with the channel's extra fractional bits
// folded into the shifts.
struct BandScale {
  int32_t m;
  int smallShift;  // table entry x 2^19 shifted by this (left when positive)
  int largeDown;   // large values carry 2^38 and come down by this
  bool silent;
  bool round;  // the plain format keeps the truncated product
};

BandScale BandScaleOf(int scaleFactor, int extraBits) {
  const int s = scaleFactor - 164;
  const int whole = s > 0 ? (s + 3) / 4 : -((-s) / 4);
  BandScale b;
  b.m = kQuarterStepQ31[4 - (s & 3)];
  b.smallShift = whole + extraBits;
  b.largeDown = 19 - b.smallShift;
  b.silent = whole >= 32 || whole <= -32;
  b.round = extraBits > 0;
  return b;
}

// |q|^(4/3) x 2^(s / 4) x 8 x 2^extraBits for a = |q| > 0. With extra bits
// the product is rounded: truncation would shrink every coefficient by half
// a unit on average, an error that follows the signal into the output.
int32_t DequantMagnitude(const AacComputedTables& t, const BandScale& b, int32_t a) {
  int32_t v;
  if (a < 256) {
    // Rounded: small values at low scale factors keep only a few bits in
    // the coefficient format, and truncation would shrink every one of them.
    v = SmallDequant(t.power43[a], b.smallShift);
  } else {
    const int64_t p = LargePower(t, a > 8191 ? 8191 : a);
    if (b.largeDown >= 63) {
      v = 0;
    } else if (b.largeDown <= 0) {
      v = b.largeDown == 0 ? FxSat32(p) : INT32_MAX;
    } else {
      v = FxSat32((p + (int64_t{1} << (b.largeDown - 1))) >> b.largeDown);
    }
  }
  return static_cast<int32_t>((static_cast<int64_t>(b.m) * v + (b.round ? int64_t{1} << 30 : 0)) >> 31);
}

int BitLength(uint32_t v) { return 32 - FxCountLeadingZeros(v); }

// DequantMagnitude over the n values of one band, signs kept. A zero value
// goes through the same steps and stays zero (power43[0] is 0, and the
// rounding term is below 2^31). Bands without large values go to the kernel.
void DequantizeBand(const AacDsp& dsp, const AacComputedTables& t, const BandScale& b, int32_t* v, int n) {
  const int64_t round = b.round ? int64_t{1} << 30 : 0;
  if (dsp.dequantSmall(v, n, t.power43, b.m, b.smallShift, round)) return;
  for (int k = 0; k < n; ++k) {
    const int32_t q = v[k];
    const int32_t r = DequantMagnitude(t, b, q < 0 ? -q : q);
    v[k] = q < 0 ? -r : r;
  }
}

}  // namespace

int SpectrumPeakBits(const IcsInfo& ics, const int32_t* spec) {
  const AacComputedTables& t = GetAacTables();
  const uint16_t* off = ics.swbOffset;
  int peak = 0;
  int groupStart = 0;
  for (int g = 0; g < ics.numGroups; ++g) {
    const int glen = ics.groupLen[g];
    for (int b = 0; b < ics.maxSfb; ++b) {
      const int i = g * ics.numSwb + b;
      const int book = ics.codebook[i];
      int bits = 0;
      if (book >= 1 && book <= 11) {
        // The band's peak as decoded; pulses may have raised values since.
        int32_t a = ics.bandPeak[i];
        if (ics.pulsePresent) {
          for (int k = groupStart + glen * off[b]; k < groupStart + glen * off[b + 1]; ++k) {
            const int32_t q = spec[k] < 0 ? -spec[k] : spec[k];
            if (q > a) a = q;
          }
        }
        const BandScale scale = BandScaleOf(ics.scaleFactor[i], 0);
        if (a > 0 && !scale.silent) bits = BitLength(static_cast<uint32_t>(DequantMagnitude(t, scale, a)));
      } else if (book == kNoiseHcb) {
        // Noise of energy 2^(e / 2) has no value above 2^(e / 4).
        bits = (ics.scaleFactor[i] >> 2) + 4;
      }
      if (bits > peak) peak = bits;
    }
    groupStart += glen * 128;
  }
  return peak;
}

int IntensityGainBits(const IcsInfo& ics) {
  int bits = 0;
  for (int g = 0; g < ics.numGroups; ++g) {
    for (int b = 0; b < ics.maxSfb; ++b) {
      const int i = g * ics.numSwb + b;
      if (ics.codebook[i] != kIntensityHcb && ics.codebook[i] != kIntensityHcb2) continue;
      // Gain 2^(-p / 4): one bit for the quarter steps above the octaves.
      const int p = ics.scaleFactor[i];
      const int gain = p < 0 ? (-p + 3) / 4 + 1 : 0;
      if (gain > bits) bits = gain;
    }
  }
  return bits;
}

int SpectrumExtraBits(int peakBits, int headroomBits) {
  const int bits = kSpectrumPeakBits - headroomBits - peakBits;
  return bits < 0 ? 0 : (bits > kMaxSpectrumExtraBits ? kMaxSpectrumExtraBits : bits);
}

void InverseQuantize(const AacDsp& dsp, const IcsInfo& ics, int32_t* spec) {
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
      const BandScale scale = BandScaleOf(ics.scaleFactor[g * ics.numSwb + b], ics.extraBits);
      if (scale.silent) {
        for (int k = start; k < end; ++k) spec[k] = 0;
      } else {
        DequantizeBand(dsp, t, scale, spec + start, end - start);
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
void GenerateNoiseBand(int32_t* v, int n, int energy, int extraBits, uint32_t* seed) {
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
  const int shift = whole - 27 + extraBits;
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
        GenerateNoiseBand(p, off[b + 1] - off[b], ics->scaleFactor[i], ics->extraBits, &w);
        if (correlated) c = w;
      }
    }
    window += ics->groupLen[g];
  }
  *state = w;
}

// Band gain of dynamic range control: coefficients become (c x G) >> 25.
static int32_t DrcBandGain(const AacComputedTables& t, const DrcRecord& drc, int32_t base, int i) {
  int index = drc.sign[i] ? (168 - drc.magnitude[i]) / 4 : (168 + drc.magnitude[i]) / 4;
  if (index > 73) index = 73;
  return static_cast<int32_t>(((static_cast<int64_t>(t.drcGain[index]) * (static_cast<int64_t>(base) << 6)) >> 31) & ~int64_t{1});
}

void ApplyDynamicRange(const DrcRecord& drc, int32_t* spec, uint8_t* extraBits) {
  const AacComputedTables& t = GetAacTables();
  int level = drc.progRefLevel / 4;
  if (level > 73) level = 73;
  const int32_t base = t.drcGain[level];
  // A boost by 2^n takes n of the extra fractional bits first, so that it
  // lifts the coefficients no higher than it would in the plain format.
  if (*extraBits > 0) {
    int32_t largest = 0;
    for (int i = 0; i < drc.bandCount; ++i) {
      const int32_t g = DrcBandGain(t, drc, base, i);
      if (g > largest) largest = g;
    }
    int down = 32 - FxCountLeadingZeros(static_cast<uint32_t>(largest)) - 25;
    if (down > *extraBits) down = *extraBits;
    if (down > 0) {
      for (int k = 0; k < kFrameLength; ++k) spec[k] = FxShrRound(spec[k], down);
      *extraBits = static_cast<uint8_t>(*extraBits - down);
    }
  }
  int start = 0;
  for (int i = 0; i < drc.bandCount; ++i) {
    int end = (drc.bandTop[i] + 1) * 4;
    if (end > kFrameLength) end = kFrameLength;
    const int32_t G = DrcBandGain(t, drc, base, i);
    // (c x (G << 6)) >> 31 taken as (c x G) >> 25: G stays below 2^29, so
    // the product fits in 64 bits for any coefficient.
    for (int k = start; k < end; ++k) {
      spec[k] = FxSat32(((static_cast<int64_t>(spec[k]) * G) >> 25) & ~int64_t{1});
    }
    if (end > start) start = end;
  }
}

}  // namespace heaac
