// Filterbank, ISO/IEC 14496-3 4.6.11: inverse MDCT through a complex FFT of a
// quarter of the window length, sine and KBD windows, overlap-add and 16-bit
// output. Integer only; additions inside the transform wrap as unsigned so a
// malformed stream cannot overflow a signed value. Valid streams never wrap:
// in the plain format long-window values stay below PCM x 2^13, i.e. 2^28,
// and extra fractional bits are given back where the coefficients could
// carry a value past 2^30 (FitTransformRange).
#include <cstring>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_fixed.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"

namespace heaac {
namespace {

// Flat part of a transition window: y in the overlap format.
inline int64_t Flat(int32_t y, int bits) {
  const int shift = kOverlapFracBits - bits;
  if (shift >= 0) return static_cast<int64_t>(y) * (int64_t{1} << shift);
  return (static_cast<int64_t>(y) + (int64_t{1} << (-shift - 1))) >> -shift;
}

// Gives back extra fractional bits until the coefficients' magnitudes sum
// to at most 2^30: every value inside the FFT, and every transform output,
// is bounded by that sum, so none can wrap. Returns the bits kept. Spectra in
// the plain format are left as they are.
int FitTransformRange(int32_t* spec, int n, int extraBits) {
  if (extraBits == 0) return 0;
  // The magnitudes (|INT32_MIN| is 2^31) summed as their high and low 16
  // bits apart: each sum stays within 32 bits for up to 2^16 values, and the
  // loop runs in 32-bit vector lanes.
  uint32_t high = 0, low = 0;
  for (int k = 0; k < n; ++k) {
    const uint32_t sign = static_cast<uint32_t>(spec[k] >> 31);
    const uint32_t magnitude = (static_cast<uint32_t>(spec[k]) ^ sign) - sign;
    high += magnitude >> 16;
    low += magnitude & 0xFFFF;
  }
  const uint64_t sum = (uint64_t{high} << 16) + low;
  int down = 0;
  while (down < extraBits && (sum >> down) > (uint64_t{1} << 30)) ++down;
  if (down > 0) {
    // FxShrRound(v, down) in 32 bits: t = v >> (down - 1) rounded by its
    // last bit, (t + 1) >> 1 taken as (t >> 1) + (t & 1) so it cannot wrap.
    for (int k = 0; k < n; ++k) {
      const int32_t t = spec[k] >> (down - 1);
      spec[k] = (t >> 1) + (t & 1);
    }
  }
  return extraBits - down;
}

// True when the n values are all zero: their transform is zero too (every
// product and sum of zeros, rounded, is zero), so it need not be run.
bool AllZero(const int32_t* v, int n) {
  int32_t any = 0;
  for (int k = 0; k < n; ++k) any |= v[k];
  return any == 0;
}

}  // namespace

void Fft(const AacDsp& dsp, int32_t* data, int points) {
  // Stages 1 and 2: radix-2 butterflies with twiddles 1 and -j.
  dsp.fftFirstPasses(data, points);
  const AacComputedTables& t = GetAacTables();
  for (int len = 8; len <= points; len <<= 1) dsp.fftPass(data, points, len, t.fftPassTwiddle[len / 2]);
}

void InverseTransformCore(const AacDsp& dsp, int32_t* spec, int32_t* scratch, int n) {
  const AacComputedTables& t = GetAacTables();
  const int q = n / 2;
  const int32_t(*tw)[2] = n == 1024 ? t.twiddleLong : t.twiddleShort;
  const uint16_t* rev = n == 1024 ? t.bitReverse9 : t.bitReverse6;
  dsp.preTwiddle(spec, tw[0], rev, scratch, n);
  Fft(dsp, scratch, q);
  dsp.postTwiddle(scratch, tw[0], spec, q);
}

void ImdctFilterbank(const AacDsp& dsp, int prevShape, int windowSequence, int shape, int32_t* spec, int extraBits,
                     int32_t* row2048, int32_t* scratch, int64_t* overlap, int16_t* output, int stride) {
  const AacComputedTables& t = GetAacTables();
  const int32_t* riseLongPrev = prevShape ? t.kbdLongQ31 : t.sineLongQ31;
  const int32_t* riseLongCur = shape ? t.kbdLongQ31 : t.sineLongQ31;
  const int32_t* riseShortPrev = prevShape ? t.kbdShortQ31 : t.sineShortQ31;
  const int32_t* riseShortCur = shape ? t.kbdShortQ31 : t.sineShortQ31;
  const int bits = FitTransformRange(spec, kFrameLength, extraBits);
  int32_t* y = row2048;
  if (windowSequence != kEightShort) {
    if (AllZero(spec, 1024)) {
      std::memset(y, 0, sizeof(int32_t) * 2048);
    } else {
      InverseTransformCore(dsp, spec, scratch, 1024);
      dsp.expandImdct(spec, y, 1024);
    }
    const int longBits = kLongTransformBits + bits;
    if (windowSequence == kOnlyLong) {
      dsp.windowLong(y, riseLongPrev, shape ? t.kbdLongFallQ31 : t.sineLongFallQ31, longBits, overlap, output, stride);
      return;
    }
    for (int n = 0; n < 1024; ++n) {
      int64_t v;
      if (windowSequence == kLongStop) {
        if (n < 448) {
          v = 0;
        } else if (n < 576) {
          v = Window(y[n], riseShortPrev[n - 448], longBits);
        } else {
          v = Flat(y[n], longBits);
        }
      } else {
        v = Window(y[n], riseLongPrev[n], longBits);
      }
      output[n * stride] = ToPcm(overlap[n] + v);
    }
    for (int n = 0; n < 1024; ++n) {
      const int32_t yv = y[1024 + n];
      int64_t v;
      if (windowSequence == kLongStart) {
        if (n < 448) {
          v = Flat(yv, longBits);
        } else if (n < 576) {
          v = Window(yv, riseShortCur[127 - (n - 448)], longBits);
        } else {
          v = 0;
        }
      } else {
        v = Window(yv, riseLongCur[1023 - n], longBits);
      }
      overlap[n] = v;
    }
    return;
  }
  // Eight short windows overlapped 128 apart from sample 448 (acc[0] is
  // sample 448); the last one ends at sample 1600.
  const int shortBits = kShortTransformBits + bits;
  int64_t acc[9 * 128] = {};
  int32_t w256[256];
  for (int w = 0; w < 8; ++w) {
    int32_t* block = spec + 128 * w;
    if (AllZero(block, 128)) {
      std::memset(w256, 0, sizeof(w256));
    } else {
      InverseTransformCore(dsp, block, scratch, 128);
      dsp.expandImdct(block, w256, 128);
    }
    const int32_t* rise = w == 0 ? riseShortPrev : riseShortCur;
    int64_t* dst = acc + 128 * w;
    for (int n = 0; n < 128; ++n) {
      dst[n] += Window(w256[n], rise[n], shortBits);
      dst[128 + n] += Window(w256[128 + n], riseShortCur[127 - n], shortBits);
    }
  }
  // Rounded like the long frames: a truncation here would lower every sample
  // of a short-window frame by half an LSB on average.
  for (int n = 0; n < 448; ++n) output[n * stride] = ToPcm(overlap[n]);
  for (int n = 448; n < 1024; ++n) output[n * stride] = ToPcm(overlap[n] + acc[n - 448]);
  for (int n = 0; n < 576; ++n) overlap[n] = acc[576 + n];
  for (int n = 576; n < 1024; ++n) overlap[n] = 0;
}

}  // namespace heaac
