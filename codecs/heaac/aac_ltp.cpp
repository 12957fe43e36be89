// Long-term prediction, ISO/IEC 14496-3 4.6.7: a time-domain estimate from the
// channel's past output, taken to the spectral domain by the forward MDCT,
// shaped by the channel's TNS filters and added to the decoded spectrum.
#include <cstring>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"

namespace heaac {

namespace {
inline int32_t WinQ15(int32_t x, uint16_t w) { return static_cast<int32_t>((static_cast<int64_t>(x) * w) >> 15); }
}  // namespace

void ForwardMdct(const AacDsp& dsp, int32_t* time, int windowSequence, int32_t* scratch, int prevShape, int shape) {
  if (windowSequence == kEightShort) return;
  const AacComputedTables& t = GetAacTables();
  const uint16_t* riseLongPrev = prevShape ? t.kbdLong : t.sineLong;
  const uint16_t* riseLongCur = shape ? t.kbdLong : t.sineLong;
  const uint16_t* riseShortPrev = prevShape ? t.kbdShort : t.sineShort;
  const uint16_t* riseShortCur = shape ? t.kbdShort : t.sineShort;
  for (int n = 0; n < 1024; ++n) {
    if (windowSequence == kLongStop) {
      if (n < 448) {
        time[n] = 0;
      } else if (n < 576) {
        time[n] = WinQ15(time[n], riseShortPrev[n - 448]);
      }
    } else {
      time[n] = WinQ15(time[n], riseLongPrev[n]);
    }
    int32_t& x = time[1024 + n];
    if (windowSequence == kLongStart) {
      if (n >= 576) {
        x = 0;
      } else if (n >= 448) {
        x = WinQ15(x, riseShortCur[127 - (n - 448)]);
      }
    } else {
      x = WinQ15(x, riseLongCur[1023 - n]);
    }
  }
  // Fold the 2048 windowed values into the 1024-point DCT-IV input:
  // (-c_r - d, a - b_r) of the quarters a, b, c, d.
  int32_t* v = scratch;
  const int m = 1024, h = 512;
  for (int i = 0; i < h; ++i) {
    v[i] = static_cast<int32_t>(-static_cast<int64_t>(time[m + h - 1 - i]) - time[m + h + i]);
    v[h + i] = static_cast<int32_t>(static_cast<int64_t>(time[i]) - time[m - 1 - i]);
  }
  std::memcpy(time, v, sizeof(int32_t) * m);
  InverseTransformCore(dsp, time, scratch, m);
  std::memcpy(scratch, time, sizeof(int32_t) * m);
  for (int i = 0; i < m; i += 2) {
    time[i] = scratch[i + 1];
    time[i + 1] = static_cast<int32_t>(0u - static_cast<uint32_t>(scratch[m - 2 - i]));
  }
}

void LtpPredict(AacDecoderState* d, const IcsInfo& ics, int32_t* spec, int channel, int rateIndex) {
  const LtpData& ltp = ics.ltp;
  int32_t* est = d->spectral + kRowOffset;  // 2048 values
  int32_t* scratch = d->spectral + kScratchOffset;
  const int16_t* history = d->ltpHistory + channel * 2048;
  const int64_t* overlap = d->overlap + channel * 1024;
  const int64_t coef = kLtpCoefQ30[ltp.coefIndex];
  const int lag = ltp.lag;
  // Estimate in PCM x 16 (one eighth of the PCM x 128 of the standard's
  // scaling, which keeps full-scale sums inside 32 bits): the last two output
  // frames, then the aliased half of the current one still in the overlap.
  const int start = 2048 - lag;
  int n = 0;
  for (; n < lag && n < 2048; ++n) est[n] = static_cast<int32_t>((history[start + n] * coef) >> 26);
  // The overlap comes down to PCM x 2^11 first, so that its product with the
  // Q30 coefficient stays inside 64 bits.
  constexpr int kOverlapDown = kOverlapFracBits - 11;
  for (int i = 0; n < 2048 && i < 1024; ++n, ++i) {
    const int64_t v = (overlap[i] + (int64_t{1} << (kOverlapDown - 1))) >> kOverlapDown;
    est[n] = static_cast<int32_t>((v * coef) >> (26 + 11));
  }
  for (; n < 2048; ++n) est[n] = 0;
  ForwardMdct(d->dsp, est, ics.windowSequence, scratch, d->prevWindowShape[channel], ics.windowShape);
  if (ics.tns.present) TnsFilter(rateIndex, ics, est, true);
  const uint16_t* off = ics.swbOffset;
  for (int b = 0; b < ics.numSwb; ++b) {
    if (b < 40 && b < ics.maxSfb && ltp.longUsed[b]) continue;
    for (int k = off[b]; k < off[b + 1]; ++k) est[k] = 0;
  }
  for (int k = 0; k < kFrameLength; ++k) spec[k] = FxAddSat(spec[k], est[k]);
}

void LtpUpdateHistory(int16_t* history, const int16_t* output, int stride) {
  std::memmove(history, history + 1024, sizeof(int16_t) * 1024);
  for (int i = 0; i < 1024; ++i) history[1024 + i] = output[i * stride];
}

}  // namespace heaac
