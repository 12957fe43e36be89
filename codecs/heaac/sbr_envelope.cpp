// SBR envelope adjustment, low-power variant (ISO/IEC 14496-3 4.6.18.7):
// energy estimation, gains with limiter and boost, aliasing reduction, and
// the assembly of the high band with noise and sinusoids.
//
// Gains and energies span many octaves, so they are held as a normalised
// 32-bit mantissa with a binary exponent (SbrFloat below), all in integer
// arithmetic. Energies are in the standard's units: the matrix holds
// subband samples x 2^kSbrQmfScaleBits, the envelope values are 1/4 of
// E_orig and the noise floors Q25.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs/heaac/fx_math.h"
#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_tables.h"

namespace heaac {
namespace {

// m x 2^e, m in [2^31, 2^32) or 0.
struct SbrFloat {
  uint32_t m;
  int32_t e;
};

SbrFloat Norm(uint64_t v, int e) {
  if (v == 0) return {0, 0};
  const int lz = __builtin_clzll(v);
  v <<= lz;
  return {static_cast<uint32_t>(v >> 32), e - lz + 32};
}
SbrFloat Make(uint64_t v, int e = 0) { return Norm(v, e); }
SbrFloat Mul(SbrFloat a, SbrFloat b) {
  if (a.m == 0 || b.m == 0) return {0, 0};
  return Norm(static_cast<uint64_t>(a.m) * b.m, a.e + b.e);
}
// a / b; a zero divisor gives a value far beyond any gain.
SbrFloat Div(SbrFloat a, SbrFloat b) {
  if (a.m == 0) return {0, 0};
  if (b.m == 0) return {0xFFFFFFFFu, 64};
  return Norm((static_cast<uint64_t>(a.m) << 31) / b.m, a.e - b.e - 31);
}
SbrFloat Add(SbrFloat a, SbrFloat b) {
  if (a.m == 0) return b;
  if (b.m == 0) return a;
  if (a.e < b.e) std::swap(a, b);
  const int d = a.e - b.e;
  const uint64_t sum = (static_cast<uint64_t>(a.m) << 31) + (d > 62 ? 0 : (static_cast<uint64_t>(b.m) << 31) >> d);
  return Norm(sum, a.e - 31);
}
bool Less(SbrFloat a, SbrFloat b) {
  if (a.m == 0) return b.m != 0;
  if (b.m == 0) return false;
  return a.e != b.e ? a.e < b.e : a.m < b.m;
}
// floor(sqrt(v)): the double's estimate, corrected to the exact root.
uint64_t Isqrt(uint64_t v) {
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
  if (r > 0xFFFFFFFFu) r = 0xFFFFFFFFu;
  while (r * r > v) --r;
  while (r < 0xFFFFFFFFu && (r + 1) * (r + 1) <= v) ++r;
  return r;
}
SbrFloat Sqrt(SbrFloat a) {
  if (a.m == 0) return a;
  const bool odd = (a.e & 1) != 0;
  const uint64_t v = static_cast<uint64_t>(a.m) << (odd ? 31 : 32);
  const int e = a.e - (odd ? 31 : 32);
  return Norm(Isqrt(v), e / 2);
}
// x x a, saturated to 32 bits.
int32_t Apply(int32_t x, SbrFloat a) {
  if (a.m == 0 || x == 0) return 0;
  const int64_t p = static_cast<int64_t>(x) * static_cast<int64_t>(a.m >> 1);
  const int shift = -(a.e + 1);
  if (shift >= 63) return 0;
  if (shift > 0) return FxSat32((p + (int64_t{1} << (shift - 1))) >> shift);
  if (shift < -31) return x > 0 ? INT32_MAX : INT32_MIN;
  return FxSat32(static_cast<int64_t>(FxSat32(p)) * (int64_t{1} << -shift));
}
// The value rounded to an integer, saturated.
int32_t ToInt(SbrFloat a) { return Apply(1, a); }

// Squared limiter gains 0.50119, 1.0, 1.99527 in Q31 (limiter_gains 3: none).
constexpr uint32_t kLimiterGain[3] = {0x4027194E, 0x80000000, 0xFF64FB42};
// Largest squared gain boost, 1.584893^2 in Q30.
constexpr uint32_t kMaxBoost = 0xA0C2BF4D;
// Largest squared gain, the standard's 10^5 amplitude.
constexpr uint64_t kMaxGainSquared = 10000000000ull;
// Leakage of a sinusoid into the neighbouring subbands, 0.00815 in Q15.
constexpr int32_t kLeakage = 267;
constexpr int kMaxLeakingSinusoids = 16;
// Real-valued subband samples carry part of the energy that the complex
// ones of the transmitted envelopes do; the measured energies are scaled up
// by 2^kEnergyExtraBits.
constexpr int kEnergyExtraBits = 1;

struct EnvelopeWork {
  SbrFloat eOrig[kSbrMaxBands];
  SbrFloat qOrig[kSbrMaxBands];
  SbrFloat eCurr[kSbrMaxBands];
  SbrFloat gain[kSbrMaxBands];   // squared, then amplitude
  SbrFloat noise[kSbrMaxBands];  // squared, then amplitude
  SbrFloat sine[kSbrMaxBands];   // squared, then amplitude
  uint8_t sIndex[kSbrMaxBands];
  uint8_t sMapped[kSbrMaxBands];
};

const uint8_t* BandTable(const SbrChannel& ch, int res, int* count) {
  *count = res ? ch.nHigh : ch.nLow;
  return res ? ch.fHigh : ch.fLow;
}

void MapSinusoids(const SbrChannel& ch, const SbrFrameData& fd, int l, EnvelopeWork* w) {
  std::memset(w->sIndex, 0, sizeof(w->sIndex));
  std::memset(w->sMapped, 0, sizeof(w->sMapped));
  if (!fd.addHarmonicFlag) return;
  const int kx = SbrKx(ch);
  for (int i = 0; i < ch.nHigh; ++i) {
    const int m = (ch.fHigh[i] + ch.fHigh[i + 1]) / 2 - kx;
    if (l >= fd.transient || (ch.prevAddHarmonicFlag && ch.prevAddHarmonic[i])) {
      w->sIndex[m] = fd.addHarmonic[i];
    }
  }
  int n = 0;
  const uint8_t* f = BandTable(ch, fd.freqRes[l], &n);
  for (int i = 0; i < n; ++i) {
    uint8_t any = 0;
    for (int k = f[i]; k < f[i + 1]; ++k) any |= w->sIndex[k - kx];
    for (int k = f[i]; k < f[i + 1]; ++k) w->sMapped[k - kx] = any;
  }
}

void EstimateEnergies(const SbrChannel& ch, const int32_t* matrix, int l, const SbrFrameData& fd, EnvelopeWork* w) {
  const int kx = SbrKx(ch);
  const int M = ch.k2 - kx;
  const int first = 2 * fd.tE[l] + 2;
  const int end = 2 * fd.tE[l + 1] + 2;
  // Matrix units squared are 2^(2 x scale bits) of the standard's.
  const SbrFloat perSlot = Make(1, kEnergyExtraBits - 2 * kSbrQmfScaleBits);
  const SbrFloat span = Make(static_cast<uint64_t>(end - first));
  for (int m = 0; m < M; ++m) {
    const int32_t* x = matrix + (kx + m) * kSbrMatrixColumns;
    uint64_t sum = 0;
    for (int c = first; c < end; ++c) sum += static_cast<uint64_t>(static_cast<int64_t>(x[c]) * x[c]) >> 6;
    w->eCurr[m] = Div(Mul(Make(sum, 6), perSlot), span);
  }
  if (ch.interpolFreq) return;
  int n = 0;
  const uint8_t* f = BandTable(ch, fd.freqRes[l], &n);
  for (int i = 0; i < n; ++i) {
    SbrFloat total{0, 0};
    for (int k = f[i]; k < f[i + 1]; ++k) total = Add(total, w->eCurr[k - kx]);
    const SbrFloat mean = Div(total, Make(static_cast<uint64_t>(f[i + 1] - f[i])));
    for (int k = f[i]; k < f[i + 1]; ++k) w->eCurr[k - kx] = mean;
  }
}

void ComputeGains(const SbrChannel& ch, bool transient, int M, EnvelopeWork* w) {
  const SbrFloat one = Make(1);
  for (int m = 0; m < M; ++m) {
    const SbrFloat onePlusQ = Add(one, w->qOrig[m]);
    const SbrFloat onePlusE = Add(one, w->eCurr[m]);
    const SbrFloat noise = Div(Mul(w->eOrig[m], w->qOrig[m]), onePlusQ);
    w->sine[m] = w->sIndex[m] ? Div(w->eOrig[m], onePlusQ) : SbrFloat{0, 0};
    w->noise[m] = noise;
    if (w->sMapped[m]) {
      w->gain[m] = Div(noise, onePlusE);
    } else if (transient) {
      w->gain[m] = Div(w->eOrig[m], onePlusE);
    } else {
      w->gain[m] = Div(Div(w->eOrig[m], onePlusQ), onePlusE);
    }
  }
  const SbrFloat epsilon = Make(1, -40);
  const SbrFloat maxGain = Make(kMaxGainSquared);
  const SbrFloat maxBoost = Make(kMaxBoost, -30);
  for (int j = 0; j < ch.nL; ++j) {
    const int lo = std::min<int>(ch.limiter[j], M);
    const int hi = std::min<int>(ch.limiter[j + 1], M);
    SbrFloat sumOrig{0, 0};
    SbrFloat sumCurr{0, 0};
    for (int m = lo; m < hi; ++m) {
      sumOrig = Add(sumOrig, w->eOrig[m]);
      sumCurr = Add(sumCurr, w->eCurr[m]);
    }
    if (ch.limiterGains < 3) {
      SbrFloat gMax = Mul(Div(Add(sumOrig, epsilon), Add(sumCurr, epsilon)), Make(kLimiterGain[ch.limiterGains], -31));
      if (Less(maxGain, gMax)) gMax = maxGain;
      for (int m = lo; m < hi; ++m) {
        if (Less(gMax, w->gain[m])) {
          w->noise[m] = Div(Mul(w->noise[m], gMax), w->gain[m]);
          w->gain[m] = gMax;
        }
      }
    }
    SbrFloat denominator{0, 0};
    for (int m = lo; m < hi; ++m) {
      denominator = Add(denominator, Mul(w->eCurr[m], w->gain[m]));
      denominator = Add(denominator, w->sine[m]);
      if (w->sine[m].m == 0 && !transient) denominator = Add(denominator, w->noise[m]);
    }
    SbrFloat boost = Div(Add(sumOrig, epsilon), Add(denominator, epsilon));
    if (Less(maxBoost, boost)) boost = maxBoost;
    for (int m = lo; m < hi; ++m) {
      w->gain[m] = Mul(w->gain[m], boost);
      w->noise[m] = Mul(w->noise[m], boost);
      w->sine[m] = Mul(w->sine[m], boost);
    }
  }
}

// Low-power aliasing reduction over groups of subbands whose neighbours
// alias, on the squared gains.
void ReduceAliasing(int M, const int32_t* degree, EnvelopeWork* w) {
  auto reduce = [&](int start, int end) {
    SbrFloat total{0, 0};
    SbrFloat energy{0, 0};
    for (int m = start; m < end; ++m) {
      total = Add(total, Mul(w->gain[m], w->eCurr[m]));
      energy = Add(energy, w->eCurr[m]);
    }
    if (energy.m == 0) return;
    const SbrFloat target = Div(total, energy);
    SbrFloat fresh{0, 0};
    for (int m = start; m < end; ++m) {
      const int32_t a = m + 1 < M ? std::max(degree[m], degree[m + 1]) : degree[m];
      const SbrFloat alias = Make(static_cast<uint64_t>(a), -30);
      const SbrFloat keep = Make(static_cast<uint64_t>((1 << 30) - a), -30);
      w->gain[m] = Add(Mul(keep, w->gain[m]), Mul(alias, target));
      fresh = Add(fresh, Mul(w->gain[m], w->eCurr[m]));
    }
    if (fresh.m == 0) return;
    const SbrFloat scale = Div(total, fresh);
    for (int m = start; m < end; ++m) w->gain[m] = Mul(w->gain[m], scale);
  };
  bool open = false;
  int start = 0;
  for (int m = 0; m + 1 < M; ++m) {
    const bool joins = degree[m + 1] != 0 && w->sMapped[m] == 0;
    if (joins && !open) {
      open = true;
      start = m;
    } else if (!joins && open) {
      reduce(start, w->sMapped[m] ? m : m + 1);
      open = false;
    }
  }
  if (open) reduce(start, M);
}

void Assemble(SbrChannel* ch, int32_t* matrix, int first, int end, bool transient, int M, EnvelopeWork* w) {
  const int kx = SbrKx(*ch);
  const int k2 = ch->k2;
  int32_t noise[kSbrMaxBands];
  int32_t sine[kSbrMaxBands];
  const SbrFloat matrixScale = Make(1, kSbrQmfScaleBits);
  // Noise in neighbouring real-valued subbands is independent, so the
  // images that the real-valued bank cancels between coherent neighbours
  // add up instead: half its energy per subband gives the level of the
  // complex tool (measured against both references: 3.6 dB too loud without).
  const SbrFloat noiseEnergy = Make(1, -1);
  for (int m = 0; m < M; ++m) {
    noise[m] = ToInt(Mul(Sqrt(Mul(w->noise[m], noiseEnergy)), matrixScale));
    sine[m] = ToInt(Mul(Sqrt(w->sine[m]), matrixScale));
  }
  // Subbands with a sinusoid; beyond the 16th none leaks into its neighbours.
  int leakLimit = M;
  for (int m = 0, count = 0; m < M; ++m) {
    if (sine[m] != 0 && ++count == kMaxLeakingSinusoids) {
      leakLimit = m + 1;
      break;
    }
  }
  const int slots = end - first;
  bool anySine = false;
  for (int m = 0; m < M; ++m) anySine |= sine[m] != 0;
  for (int m = 0; m < M; ++m) {
    const SbrFloat g = Sqrt(w->gain[m]);
    int32_t* row = matrix + (kx + m) * kSbrMatrixColumns;
    const int32_t n = sine[m] != 0 || transient ? 0 : noise[m];
    int idx = (ch->noiseIndex + 1 + m) & 511;
    // The gain as a multiplier and a right shift (the common case), else
    // through Apply.
    const int64_t multiplier = g.m >> 1;
    const int shift = -(g.e + 1);
    if (shift >= 1 && shift <= 62) {
      const int64_t half = int64_t{1} << (shift - 1);
      for (int c = first; c < end; ++c, idx = (idx + M) & 511) {
        const int64_t y = ((row[c] * multiplier + half) >> shift) + ((static_cast<int64_t>(n) * kSbrNoiseTable[idx]) >> 15);
        row[c] = FxSat32(y);
      }
    } else {
      for (int c = first; c < end; ++c, idx = (idx + M) & 511) {
        row[c] = FxSat32(static_cast<int64_t>(Apply(row[c], g)) + ((static_cast<int64_t>(n) * kSbrNoiseTable[idx]) >> 15));
      }
    }
    if (!anySine) continue;
    // Sinusoids on the first slot of each pair, the neighbours' leakage on
    // the second.
    const int k = kx + m;
    const int32_t aboveSine = m + 1 < M ? sine[m + 1] : 0;
    const int32_t belowSine = m > 0 ? sine[m - 1] : 0;
    const int32_t f = (k & 1) ? -kLeakage : kLeakage;
    for (int c = first; c < end; ++c) {
      const int i = c - first;
      const int pairSign = ((i >> 1) & 1) ? -ch->phaseSign : ch->phaseSign;
      int64_t y = row[c];
      if ((i & 1) == 0) {
        y += pairSign * static_cast<int64_t>(sine[m]);
      } else if (m < leakLimit) {
        y += (pairSign * static_cast<int64_t>(aboveSine - belowSine) * f) >> 15;
      }
      row[c] = FxSat32(y);
    }
  }
  const int noiseIndex = (ch->noiseIndex + M * slots) & 511;
  // Leakage into the subbands just outside the high band.
  int32_t* below = matrix + kSbrLeakageRow * kSbrMatrixColumns;
  int32_t* above = k2 < 64 ? matrix + k2 * kSbrMatrixColumns : nullptr;
  for (int c = first; c < end; ++c) {
    const int i = c - first;
    below[c] = 0;
    if ((i & 1) == 0) continue;
    const int pairSign = ((i >> 1) & 1) ? -ch->phaseSign : ch->phaseSign;
    const int kBelow = kx - 1;
    const int32_t fBelow = (kBelow & 1) ? -kLeakage : kLeakage;
    below[c] = FxSat32((pairSign * static_cast<int64_t>(sine[0]) * fBelow) >> 15);
    if (above && leakLimit == M) {
      const int32_t fAbove = (k2 & 1) ? -kLeakage : kLeakage;
      above[c] = FxSat32(above[c] + ((pairSign * static_cast<int64_t>(-sine[M - 1]) * fAbove) >> 15));
    }
  }
  ch->noiseIndex = static_cast<uint16_t>(noiseIndex);
  if (slots % 4 != 0) ch->phaseSign = static_cast<int8_t>(-ch->phaseSign);
}

}  // namespace

void AdjustSbrEnvelopes(SbrChannel* ch, const SbrFrameData& fd, int32_t* matrix, const int32_t* degree) {
  EnvelopeWork w;
  const int kx = SbrKx(*ch);
  const int M = ch->k2 - kx;
  for (int l = 0; l < fd.numEnvelopes; ++l) {
    const bool transient = l == fd.transient || l == ch->prevTransient;
    int n = 0;
    const uint8_t* f = BandTable(*ch, fd.freqRes[l], &n);
    for (int i = 0; i < n; ++i) {
      const SbrFloat e = Mul(Make(static_cast<uint32_t>(fd.envelope[l][i])), Make(4));
      for (int k = f[i]; k < f[i + 1]; ++k) w.eOrig[k - kx] = e;
    }
    int q = 0;
    while (q + 1 < fd.numNoise && fd.tQ[q + 1] <= fd.tE[l]) ++q;
    for (int m = 0; m < M; ++m) w.qOrig[m] = Make(static_cast<uint32_t>(fd.noise[q][ch->noiseBandOf[m]]), -25);
    MapSinusoids(*ch, fd, l, &w);
    EstimateEnergies(*ch, matrix, l, fd, &w);
    ComputeGains(*ch, transient, M, &w);
    ReduceAliasing(M, degree, &w);
    Assemble(ch, matrix, 2 * fd.tE[l] + 2, 2 * fd.tE[l + 1] + 2, transient, M, &w);
  }
  ch->prevAddHarmonicFlag = fd.addHarmonicFlag;
  if (fd.addHarmonicFlag) std::memcpy(ch->prevAddHarmonic, fd.addHarmonic, kSbrMaxBands);
  ch->prevTransient = static_cast<int8_t>(fd.transient == fd.numEnvelopes ? 0 : -1);
}

}  // namespace heaac
