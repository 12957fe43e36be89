#pragma once
// SegmentMarkList: the cut positions of the tempo processor, as a growable
// array of mark records (position in samples and five value fields).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

struct SegmentMark {
  int32_t position = 0;
  float f1 = 0, f2 = 0, f3 = 0, f4 = 0;
  int32_t value = 0;
};

class SegmentMarkList {
 public:
  static constexpr int kErrorAlreadyInitialised = 5000002;
  static constexpr int kErrorCapacityMismatch = 5000003;
  static constexpr int kErrorNoMemory = 1000001;

  void Clear() { marks_.clear(); }
  // Keeps the last n records at the front.
  void KeepLast(int n);
  // 0 or an error code above.
  int Init(int capacity);
  const SegmentMark* GetArray(int* count) const;
  int Count() const { return static_cast<int>(marks_.size()); }
  int SetAll(const SegmentMark* records, int n);
  void Add(int32_t position, float f1, float f2, float f3, float f4, int32_t value = 0);
  void PopLast() {
    if (!marks_.empty()) marks_.pop_back();
  }
  int32_t LastPosition() const { return marks_.empty() ? -1 : marks_.back().position; }
  int32_t Position(int i) const { return InRange(i) ? marks_[static_cast<size_t>(i)].position : -1; }
  // Distance to the next mark; -1 unless i < Count() - 1.
  int32_t Length(int i) const;
  int32_t IntField(int i) const { return InRange(i) ? marks_[static_cast<size_t>(i)].value : -1; }
  float Field(int i, int which) const;
  // From record `from`, walks on while |position - target| keeps shrinking
  // and returns the last record that was closer; -1 when `from` is not below
  // Count() - 1 or fewer than two records exist.
  int FindNearest(int from, int64_t target) const;
  // From `*index`, the first record beyond position(index) + distance: its
  // index goes to *index and the gap is returned; -1 when none.
  int32_t NextBeyond(int* index, int32_t distance) const;

 private:
  bool InRange(int i) const { return i >= 0 && i < Count(); }
  std::vector<SegmentMark> marks_;
  int capacity_ = 0;
  bool initialised_ = false;
};

}  // namespace engine
