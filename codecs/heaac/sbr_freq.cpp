// SBR channel state and frequency band tables (ISO/IEC 14496-3 4.6.18.3).
#include <algorithm>
#include <cstring>

#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_tables.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

constexpr size_t Align4(size_t v) { return (v + 3) & ~size_t{3}; }
constexpr size_t kAddHarmonicBytes = Align4(kSbrMaxBands);
constexpr size_t kInvfBytes = Align4(kSbrMaxNoiseBands);
constexpr size_t kChirpBytes = Align4(sizeof(int16_t) * kSbrMaxNoiseBands);
constexpr size_t kAnalysisBytes = sizeof(int16_t) * 320;
constexpr size_t kSynthesisBytes = sizeof(int32_t) * 640;
constexpr size_t kPrevEnvelopeBytes = sizeof(int32_t) * kSbrMaxBands;
constexpr size_t kPrevNoiseBytes = sizeof(int32_t) * kSbrMaxNoiseBands;
constexpr size_t kHistoryBytes = sizeof(int32_t) * kSbrHistoryWords;

constexpr int64_t kOneOctave = int64_t{1} << 29;
// log2(k2 / k0) above which the master table has two regions (2.2449).
constexpr int64_t kTwoRegionLog2 = 626341085;
// 1 / 1.3, the warp of region 2 with alter_scale, Q15.
constexpr int32_t kInverseWarp = 25191;
// 0.49 octaves per limiter band, Q29.
constexpr int64_t kLimiterMinLog2 = 263066747;

// 2^x for x in Q29 (0 <= x < 7 octaves), rounded to an integer.
int Pow2Round(int64_t x) {
  const int e = static_cast<int>(x >> 29);
  const uint32_t frac = static_cast<uint32_t>(x) & (kOneOctave - 1);
  const int j = static_cast<int>(frac >> 23);
  const uint32_t r = frac & ((1u << 23) - 1);
  const int32_t p = kSbrPow2Frac[j] + static_cast<int32_t>((static_cast<int64_t>(kSbrPow2Frac[j + 1] - kSbrPow2Frac[j]) * r) >> 23);
  return static_cast<int>(((static_cast<int64_t>(p) << e) + (1 << 14)) >> 15);
}

// Band count 2 x round(bands x octaves / 2) from octaves in Q29 and bands
// per octave in Q12.
int EvenBandCount(int64_t octaves, int32_t bandsQ12) {
  const int64_t x = (octaves * bandsQ12) >> 16;  // Q25
  return static_cast<int>(((x + (1 << 25)) >> 25) & ~int64_t{1});
}

// Widths of `bands` bands from a to b on a logarithmic scale, sorted.
// False when a width is not positive.
bool LogWidths(int a, int b, int bands, uint8_t* widths) {
  const int64_t start = SbrLog2(a);
  const int64_t step = (SbrLog2(b) - start) / bands;
  int prev = a;
  for (int i = 1; i <= bands; ++i) {
    const int next = i == bands ? b : Pow2Round(start + i * step);
    if (next - prev <= 0) return false;
    widths[i - 1] = static_cast<uint8_t>(next - prev);
    prev = next;
  }
  std::sort(widths, widths + bands);
  return true;
}

int StartOffsetRow(int rateIndex) {
  if (rateIndex <= 1) return 5;
  if (rateIndex <= 4) return 4;
  return 3 - (rateIndex - 5);  // 32 kHz 3, 24 kHz 2, 22.05 kHz 1, 16 kHz 0
}

}  // namespace

int64_t SbrLog2(int n) {
  const int zeros = __builtin_ctz(static_cast<unsigned>(n));
  return zeros * kOneOctave + kSbrLog2Odd[((n >> zeros) - 1) >> 1];
}

size_t SbrChannelBufferBytes() {
  return kAddHarmonicBytes + kInvfBytes + kChirpBytes + kAnalysisBytes + kSynthesisBytes + kPrevEnvelopeBytes +
         kPrevNoiseBytes + kHistoryBytes;
}

void AttachSbrChannelBuffers(SbrChannel* ch, uint8_t* p) {
  ch->prevAddHarmonic = p;
  p += kAddHarmonicBytes;
  ch->prevInvfMode = p;
  p += kInvfBytes;
  ch->prevChirp = reinterpret_cast<int16_t*>(p);
  p += kChirpBytes;
  ch->analysisBuffer = reinterpret_cast<int16_t*>(p);
  p += kAnalysisBytes;
  ch->synthesisBuffer = reinterpret_cast<int32_t*>(p);
  p += kSynthesisBytes;
  ch->prevEnvelope = reinterpret_cast<int32_t*>(p);
  p += kPrevEnvelopeBytes;
  ch->prevNoise = reinterpret_cast<int32_t*>(p);
  p += kPrevNoiseBytes;
  ch->history = reinterpret_cast<int32_t*>(p);
}

void ResetSbrChannel(SbrChannel* ch, int rateFactor, uint32_t sbrRate, int rateIndex) {
  // The buffers are one contiguous run that starts at prevAddHarmonic.
  std::memset(ch->prevAddHarmonic, 0, SbrChannelBufferBytes());
  uint8_t* buffers = ch->prevAddHarmonic;
  std::memset(ch, 0, sizeof(*ch));
  AttachSbrChannelBuffers(ch, buffers);
  ch->sbrRate = sbrRate;
  ch->rateIndex = static_cast<uint8_t>(rateIndex);
  ch->rateFactor = static_cast<uint8_t>(rateFactor);
  ch->waitingForHeader = 1;
  ch->tableFlag = ch->masterFlag = ch->limiterFlag = 1;
  ch->ampRes = 1;
  ch->startFreq = 5;
  ch->freqScale = 2;
  ch->alterScale = 1;
  ch->noiseBands = 2;
  ch->limiterBands = 2;
  ch->limiterGains = 2;
  ch->interpolFreq = 1;
  ch->smoothingMode = 1;
  ch->prevFreqRes = 1;
  ch->prevTransient = -1;
  ch->phaseSign = 1;
  ch->prevKx = 32;
  ch->prevHighMinusKx = -2;
  ch->prevLastBorder = 16;
  ch->fHigh = ch->fMaster;
  init_sbr_qmf_dsp(ch->qmfDsp, ov::GetCpuFlags());
}

int BuildSbrMasterTable(SbrChannel* ch) {
  const int ri = ch->rateIndex;
  if (ri > 8) return kSbrBadTables;
  const int k0 = kSbrStartMin[ri] + kSbrStartOffset[StartOffsetRow(ri)][ch->startFreq & 15];
  int k2;
  if (ch->stopFreq == 14) {
    k2 = std::min(64, 2 * k0);
  } else if (ch->stopFreq == 15) {
    k2 = std::min(64, 3 * k0);
  } else {
    k2 = kSbrStopTable[ri][ch->stopFreq];
  }
  const int limit = ch->sbrRate >= 48000 ? 32 : ch->sbrRate > 32000 ? 35 : 48;
  if (k2 - k0 > limit) return kSbrBadTables;
  ch->nMaster = 0;
  ch->fMaster[0] = static_cast<uint8_t>(k0);
  if (k2 <= k0) return 0;
  uint8_t widths[kSbrMasterRoom];
  int n = 0;
  if (ch->freqScale == 0) {
    const int dk = ch->alterScale ? 2 : 1;
    n = dk == 2 ? 2 * ((k2 - k0 + 2) / 4) : (k2 - k0) & ~1;
    if (n <= 0) return kSbrBadTables;
    for (int i = 0; i < n; ++i) widths[i] = static_cast<uint8_t>(dk);
    // Spread the remainder so that the bands end at k2.
    int diff = k2 - (k0 + n * dk);
    int k = diff < 0 ? 0 : n - 1;
    const int incr = diff < 0 ? 1 : -1;
    while (diff != 0) {
      widths[k] = static_cast<uint8_t>(widths[k] - incr);
      k += incr;
      diff += incr;
    }
  } else {
    const int32_t bandsQ12 = (ch->freqScale == 1 ? 12 : ch->freqScale == 2 ? 10 : 8) << 12;
    const bool twoRegions = SbrLog2(k2) - SbrLog2(k0) >= kTwoRegionLog2;
    const int k1 = twoRegions ? 2 * k0 : k2;
    const int n0 = EvenBandCount(SbrLog2(k1) - SbrLog2(k0), bandsQ12);
    if (n0 <= 0 || !LogWidths(k0, k1, n0, widths)) return kSbrBadTables;
    n = n0;
    if (twoRegions) {
      const int32_t warpedQ12 = ch->alterScale ? (bandsQ12 * kInverseWarp) >> 15 : bandsQ12;
      const int n1 = EvenBandCount(SbrLog2(k2) - SbrLog2(k1), warpedQ12);
      if (n1 <= 0 || n0 + n1 >= kSbrMasterRoom || !LogWidths(k1, k2, n1, widths + n0)) return kSbrBadTables;
      uint8_t* w1 = widths + n0;
      if (w1[0] < widths[n0 - 1]) {
        const int change = std::min(widths[n0 - 1] - w1[0], (w1[n1 - 1] - w1[0]) >> 1);
        w1[0] = static_cast<uint8_t>(w1[0] + change);
        w1[n1 - 1] = static_cast<uint8_t>(w1[n1 - 1] - change);
        std::sort(w1, w1 + n1);
      }
      n += n1;
    }
  }
  if (n >= kSbrMasterRoom) return kSbrBadTables;
  for (int i = 0; i < n; ++i) ch->fMaster[i + 1] = static_cast<uint8_t>(ch->fMaster[i] + widths[i]);
  ch->nMaster = static_cast<uint8_t>(n);
  return 0;
}

int BuildSbrDerivedTables(SbrChannel* ch) {
  if (ch->nMaster <= ch->xoverBand) return kSbrBadTables;
  const int nHigh = ch->nMaster - ch->xoverBand;
  const uint8_t* fHigh = ch->fMaster + ch->xoverBand;
  const int kx = fHigh[0];
  const int k2 = fHigh[nHigh];
  // Rows 32 and up receive no analysis samples: a k_x above 32 would patch
  // from and leave a hole in subbands that hold nothing.
  if (kx > 32 || k2 - kx > kSbrMaxBands) return kSbrBadTables;
  const int nLow = nHigh - nHigh / 2;
  ch->nHigh = static_cast<uint8_t>(nHigh);
  ch->nLow = static_cast<uint8_t>(nLow);
  ch->fHigh = fHigh;
  ch->k2 = static_cast<uint8_t>(k2);
  ch->fLow[0] = fHigh[0];
  for (int i = 1; i <= nLow; ++i) ch->fLow[i] = fHigh[2 * i - (nHigh & 1)];
  int nQ = 1;
  if (ch->noiseBands != 0) {
    nQ = static_cast<int>(((SbrLog2(k2) - SbrLog2(kx)) * ch->noiseBands + (1 << 28)) >> 29);
    nQ = std::clamp(nQ, 1, kSbrMaxNoiseBands);
  }
  ch->nQ = static_cast<uint8_t>(nQ);
  int index = 0;
  ch->fNoise[0] = 0;
  for (int k = 1; k <= nQ; ++k) {
    index += (nLow - index) / (nQ + 1 - k);
    ch->fNoise[k] = static_cast<uint8_t>(ch->fLow[index] - ch->fLow[0]);
  }
  int band = 0;
  for (int j = 0; j < k2 - kx; ++j) {
    while (band + 1 < nQ && j >= ch->fNoise[band + 1]) ++band;
    ch->noiseBandOf[j] = static_cast<uint8_t>(band);
  }
  return 0;
}

void BuildSbrPatches(SbrChannel* ch) {
  const int k0 = ch->fMaster[0];
  const int kx = ch->fHigh[0];
  const int k2 = ch->k2;
  const int goal = kSbrGoalSb[ch->rateIndex];
  int k = 0;
  if (goal < k2) {
    while (k < ch->nMaster && ch->fMaster[k] < goal) ++k;
  } else {
    k = ch->nMaster;
  }
  int msb = k0;
  int usb = kx;
  int patches = 0;
  int sb = 0;
  // Each pass either adds a patch or lowers msb to k_x; a bounded number of
  // passes covers every table, so a hostile header cannot loop.
  for (int pass = 0; pass < 2 * kSbrMaxPatches + 2 && patches < kSbrMaxPatches; ++pass) {
    int j = k + 1;
    int odd;
    do {
      --j;
      sb = ch->fMaster[j];
      odd = (sb + k0) & 1;
    } while (j > 0 && sb > k0 - 1 + msb - odd);
    const int width = std::max(sb - usb, 0);
    if (width > 0) {
      ch->patchWidth[patches] = static_cast<uint8_t>(width);
      ch->patchStart[patches] = static_cast<uint8_t>(std::max(k0 - odd - width, 1));
      ++patches;
      usb = msb = sb;
    } else {
      msb = kx;
    }
    if (sb == ch->fMaster[k]) k = ch->nMaster;
    if (sb == k2) break;
  }
  if (patches > 1 && ch->patchWidth[patches - 1] < 3) --patches;
  ch->numPatches = static_cast<uint8_t>(patches);
}

void BuildSbrLimiterTable(SbrChannel* ch) {
  const int kx = ch->fHigh[0];
  if (ch->limiterBands == 0) {
    ch->limiter[0] = 0;
    ch->limiter[1] = static_cast<uint8_t>(ch->fLow[ch->nLow] - kx);
    ch->nL = 1;
    return;
  }
  const int bandsQ6 = 64 * ch->limiterBands;
  uint8_t patchBorder[kSbrMaxPatches + 1];
  patchBorder[0] = static_cast<uint8_t>(kx);
  for (int i = 0; i < ch->numPatches; ++i) patchBorder[i + 1] = static_cast<uint8_t>(patchBorder[i] + ch->patchWidth[i]);
  uint8_t list[kSbrMaxBands + kSbrMaxPatches + 2];
  int n = 0;
  for (int i = 0; i <= ch->nLow; ++i) list[n++] = ch->fLow[i];
  for (int i = 1; i < ch->numPatches; ++i) list[n++] = patchBorder[i];
  std::sort(list, list + n);
  auto isPatchBorder = [&](int v) {
    for (int i = 0; i <= ch->numPatches; ++i) {
      if (patchBorder[i] == v) return true;
    }
    return false;
  };
  auto remove = [&](int at) {
    for (int i = at; i + 1 < n; ++i) list[i] = list[i + 1];
    --n;
  };
  int k = 1;
  while (k < n) {
    const int64_t octaves = SbrLog2(list[k]) - SbrLog2(list[k - 1]);
    if (((octaves * bandsQ6) >> 6) < kLimiterMinLog2) {
      if (list[k] == list[k - 1]) {
        remove(k);
      } else if (isPatchBorder(list[k])) {
        if (isPatchBorder(list[k - 1])) {
          ++k;
        } else {
          remove(k - 1);
        }
      } else {
        remove(k);
      }
    } else {
      ++k;
    }
  }
  ch->nL = static_cast<uint8_t>(n - 1);
  for (int i = 0; i < n; ++i) ch->limiter[i] = static_cast<uint8_t>(list[i] - kx);
}

int RebuildSbrTables(SbrChannel* ch) {
  if (ch->masterFlag) {
    const int result = BuildSbrMasterTable(ch);
    if (result != 0) return result;
    ch->masterFlag = 0;
  }
  const int result = BuildSbrDerivedTables(ch);
  if (result != 0) return result;
  BuildSbrPatches(ch);
  return 0;
}

}  // namespace heaac
