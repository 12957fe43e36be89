// The SBR frame driver: QMF analysis of the core output, HF generation and
// envelope adjustment of the high band, QMF synthesis at the output rate.
#include <algorithm>
#include <cstring>

#include "codecs/heaac/fx_math.h"
#include "codecs/heaac/sbr.h"

namespace heaac {
namespace {

// The last 6 words of the history hold the leakage into subband k_x - 1 for
// the 6 slots that run past the frame.
constexpr int kLeakageTail = 64 * 8 + 10;

int32_t* Row(int32_t* matrix, int k) { return matrix + k * kSbrMatrixColumns; }

void AddSat(int32_t* to, int32_t v) { *to = FxSat32(int64_t{*to} + v); }

}  // namespace

int ApplySbr(const SbrFrameData& fd, SbrChannel* const* channels, int16_t* out, int stride, int32_t* work) {
  SbrChannel* ch = channels[fd.channel & 1];
  int32_t* matrix = work;
  const bool valid = fd.valid != 0;
  const int kx = valid ? SbrKx(*ch) : 32;
  const int prevKx = valid ? ch->prevKx : 32;
  int32_t* history = ch->history;
  for (int k = 0; k < prevKx; ++k) std::memcpy(Row(matrix, k), history + 8 * k, 8 * sizeof(int32_t));
  SbrQmfAnalysis(ch, out, matrix, stride);
  if (valid) {
    for (int k = prevKx; k < kx; ++k) std::memset(Row(matrix, k), 0, 8 * sizeof(int32_t));
    for (int k = std::max(kx, prevKx); k < kSbrMatrixRows; ++k) {
      std::memset(Row(matrix, k), 0, kSbrMatrixColumns * sizeof(int32_t));
    }
    // Slots still covered by the previous frame's last envelope keep its
    // adjusted high band and its leakage into the subband below it.
    const int carried = 2 * fd.tE[0];
    const int prevTop = std::min(prevKx + ch->prevHighMinusKx, 63);
    for (int s = 0; s < carried; ++s) {
      if (prevKx > 0) AddSat(&Row(matrix, prevKx - 1)[s + 2], history[kLeakageTail + s]);
      for (int k = prevKx; k <= prevTop; ++k) Row(matrix, k)[s + 2] = history[8 * k + s + 2];
    }
    int32_t degree[kSbrMaxBands];
    GenerateSbrHighBand(ch, fd, matrix, matrix + kSbrMatrixValues, degree);
    AdjustSbrEnvelopes(ch, fd, matrix, degree);
    const int32_t* leakage = Row(matrix, kSbrLeakageRow);
    if (kx > 0) {
      for (int s = carried; s < 32; ++s) AddSat(&Row(matrix, kx - 1)[s + 2], leakage[s + 2]);
    }
  } else {
    for (int k = 32; k < 64; ++k) std::memset(Row(matrix, k) + 2, 0, 32 * sizeof(int32_t));
  }
  if (ch->rateFactor == 2) {
    SbrQmfSynthesis64(ch, matrix, out, stride);
  } else {
    SbrQmfSynthesis32(ch, matrix, out, stride);
  }
  for (int k = 0; k < kx; ++k) std::memcpy(history + 8 * k, Row(matrix, k) + 32, 8 * sizeof(int32_t));
  if (valid) {
    const int top = std::min<int>(ch->k2 + 1, 63);
    for (int k = kx; k <= top; ++k) std::memcpy(history + 8 * k + 2, Row(matrix, k) + 34, 6 * sizeof(int32_t));
    std::memcpy(history + kLeakageTail, Row(matrix, kSbrLeakageRow) + 34, 6 * sizeof(int32_t));
    ch->prevKx = static_cast<uint8_t>(kx);
    ch->prevHighMinusKx = static_cast<int8_t>(ch->k2 - kx);
    ch->prevLastBorder = fd.tE[fd.numEnvelopes];
  }
  return ch->rateFactor == 2 ? 2048 : 1024;
}

}  // namespace heaac
