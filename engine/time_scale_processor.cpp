#include "engine/time_scale_processor.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {
// Input kept before the last segment used: the next cross-fade reads up to
// one segment before its start.
constexpr int64_t kKeepBefore = 4096;
}  // namespace

TimeScaleProcessor::TimeScaleProcessor(uint32_t channels) : channels_(channels == 2 ? 2 : 1) {
  marks_.Init(kMarkCapacity);
  AddRegularMarks();
}

void TimeScaleProcessor::AddRegularMarks() {
  marks_.Clear();
  for (int32_t p = 0; p < kMarkRange; p += kMarkSpacing) marks_.Add(p, 0, 0, 0, 0);
}

void TimeScaleProcessor::Reset(int64_t startPosition) {
  for (uint32_t c = 0; c < 2; ++c) {
    input_[c].clear();
    output_[c].clear();
  }
  inputStart_ = inputEnd_ = startPosition;
  epoch_ = startPosition;
  targetQ15_ = startPosition << 15;
  prevLen_ = 0;
  prevIndex_ = 0;
}

void TimeScaleProcessor::Clear() {
  Reset(0);
  marks_.Clear();
}

bool TimeScaleProcessor::SetFactor(float speed) {
  if (!(speed > 0.0f) || speed > 8.0f) return false;
  uint32_t q = static_cast<uint32_t>(std::floor(speed * 32768.0f));
  if (q == 0) return false;
  factorQ15_ = q;
  stepBounded_ = std::max<uint32_t>(q, 32768);
  return true;
}

int TimeScaleProcessor::NextSegment() {
  int64_t target = targetQ15_ >> 15;
  // Far into the marks: move the epoch on by whole mark spacings so the
  // regular grid keeps covering the input.
  if (prevIndex_ > 8 && prevIndex_ >= marks_.Count() - 8) {
    epoch_ += marks_.Position(prevIndex_) - marks_.Position(4);
    prevIndex_ = 4;
  }
  int i = marks_.FindNearest(prevIndex_, target - epoch_);
  if (i < 0) return -1;
  int32_t len = marks_.Length(i);
  int32_t rel = marks_.Position(i);
  if (len <= 0 || rel < 0) return -1;
  int64_t pos = epoch_ + rel;
  if (pos + len > inputEnd_) return 0;
  int64_t k = prevLen_;
  if (pos - k < inputStart_) k = std::max<int64_t>(0, pos - inputStart_);
  if (k > static_cast<int64_t>(output_[0].size())) k = static_cast<int64_t>(output_[0].size());
  for (uint32_t c = 0; c < channels_; ++c) {
    std::vector<int16_t>& out = output_[c];
    const int16_t* in = input_[c].data() + (pos - inputStart_);
    // Cross-fade the held-back tail of the output onto the input just before
    // this segment, so the join into the segment is continuous.
    if (k > 0) {
      int32_t w = k < 2 ? 32768 : static_cast<int32_t>(32768 / (k - 1));
      int32_t acc = 0;
      int16_t* o = out.data() + out.size() - k;
      const int16_t* before = in - k;
      for (int64_t j = 0; j < k; ++j) {
        int32_t a = std::min(acc, 32768);
        o[j] = static_cast<int16_t>(((32768 - a) * o[j] + a * before[j]) >> 15);
        acc += w;
      }
    }
    out.insert(out.end(), in, in + len);
  }
  prevLen_ = static_cast<uint32_t>(len);
  prevIndex_ = i;
  targetQ15_ += static_cast<int64_t>(len) * factorQ15_;
  DropConsumedInput();
  return 1;
}

void TimeScaleProcessor::DropConsumedInput() {
  int64_t keepFrom = epoch_ + marks_.Position(prevIndex_) - kKeepBefore;
  int64_t drop = keepFrom - inputStart_;
  if (drop <= 0) return;
  drop = std::min<int64_t>(drop, inputEnd_ - inputStart_);
  for (uint32_t c = 0; c < channels_; ++c) input_[c].erase(input_[c].begin(), input_[c].begin() + drop);
  inputStart_ += drop;
}

int32_t TimeScaleProcessor::Available() {
  while (!BlockReady()) {
    int r = NextSegment();
    if (r < 0) return -1;
    if (r == 0) {
      // The next segment starts at most half a spacing past the target and
      // is one spacing long; ask for input up to there.
      int64_t need = (targetQ15_ >> 15) + kMarkSpacing / 2 + kMarkSpacing + 1 - inputEnd_;
      int64_t ahead = static_cast<int64_t>(block_) * stepBounded_ >> 15;
      return static_cast<int32_t>(std::max<int64_t>({need, ahead, 1}));
    }
  }
  return 0;
}

int32_t TimeScaleProcessor::Process(const int16_t* const* in, uint32_t n, int16_t* const* out) {
  if (n && in) {
    for (uint32_t c = 0; c < channels_; ++c) input_[c].insert(input_[c].end(), in[c], in[c] + n);
    inputEnd_ += n;
  }
  int32_t a = Available();
  if (a != 0) return a < 0 ? -1 : 0;
  for (uint32_t c = 0; c < channels_; ++c) {
    std::copy(output_[c].begin(), output_[c].begin() + block_, out[c]);
    output_[c].erase(output_[c].begin(), output_[c].begin() + block_);
  }
  return static_cast<int32_t>(block_);
}

}  // namespace engine
