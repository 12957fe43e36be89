#pragma once
// TimeScaleProcessor: changes the playing speed of 16-bit PCM without
// changing its pitch. The input is cut at the marks of a SegmentMarkList;
// segments are taken from the input at a read position that advances by
// `speed` times the output length, and laid end to end, each joined to the
// one before by a linear cross-fade over the previous segment's length. At
// speed 1.0 the output is the input, sample for sample.
//
// The factor is a speed: 1.25 plays in 0.8 of the time, 0.896 in 1.116 of it.
//
// Planar: one plane per channel. Thread: the owner's (the audio mixer).

#include <cstdint>
#include <vector>

#include "engine/segment_mark_list.h"

namespace engine {

class TimeScaleProcessor {
 public:
  static constexpr uint32_t kDefaultBlock = 128;
  static constexpr int32_t kMarkSpacing = 1024;
  static constexpr int32_t kMarkRange = 1048576;
  static constexpr int kMarkCapacity = 8192;

  // `channels` planes (1 or 2); marks every kMarkSpacing samples.
  explicit TimeScaleProcessor(uint32_t channels);

  // Starts again at input sample `startPosition` (marks kept).
  void Reset(int64_t startPosition = 0);
  // Empties the buffers and the marks.
  void Clear();
  // Fills the mark list with the regular marks again.
  void AddRegularMarks();
  SegmentMarkList& marks() { return marks_; }

  // Appends n frames of input (planes may be null when n is 0); when a block
  // can then be handed out, writes kBlock frames to `out` and returns the
  // block size; 0 when more input is needed; -1 when no segment can be cut
  // (fewer than two marks).
  int32_t Process(const int16_t* const* in, uint32_t n, int16_t* const* out);
  void SetBlock(uint32_t n) { block_ = n ? n : kDefaultBlock; }
  uint32_t Block() const { return block_; }
  // Input frames still needed before the next block can be handed out: 0
  // when one is ready, -1 when no segment can be cut.
  int32_t Available();
  // false for a factor <= 0 or above 8 (the factor is kept).
  bool SetFactor(float speed);
  uint32_t FactorQ15() const { return factorQ15_; }
  uint32_t OutputLength() const { return static_cast<uint32_t>(output_[0].size()); }
  // Input frames taken in so far.
  int64_t InputPosition() const { return inputEnd_; }

 private:
  // Cuts the next segment onto the output; 1 done, 0 input short, -1 no mark.
  int NextSegment();
  bool BlockReady() const { return output_[0].size() >= static_cast<size_t>(block_) + prevLen_; }
  void DropConsumedInput();

  SegmentMarkList marks_;
  uint32_t channels_;
  uint32_t block_ = kDefaultBlock;
  uint32_t factorQ15_ = 32768;
  uint32_t stepBounded_ = 32768;  // max(speed, 1.0) in Q15: input needed ahead
  int64_t targetQ15_ = 0;         // read position in input samples, Q15
  int64_t inputStart_ = 0;        // absolute index of input_[c][0]
  int64_t inputEnd_ = 0;          // absolute index behind the last input sample
  int64_t epoch_ = 0;             // absolute position of mark position 0
  uint32_t prevLen_ = 0;
  int prevIndex_ = 0;
  std::vector<int16_t> input_[2];
  std::vector<int16_t> output_[2];
};

}  // namespace engine
