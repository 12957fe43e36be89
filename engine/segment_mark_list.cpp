#include "engine/segment_mark_list.h"

#include <cstdlib>

namespace engine {

void SegmentMarkList::KeepLast(int n) {
  if (n < 0) n = 0;
  if (n >= Count()) return;
  marks_.erase(marks_.begin(), marks_.end() - n);
}

int SegmentMarkList::Init(int capacity) {
  if (initialised_) return kErrorAlreadyInitialised;
  if (capacity < 0) return kErrorNoMemory;
  marks_.reserve(static_cast<size_t>(capacity));
  capacity_ = capacity;
  initialised_ = true;
  return 0;
}

const SegmentMark* SegmentMarkList::GetArray(int* count) const {
  if (count) *count = Count();
  return marks_.data();
}

int SegmentMarkList::SetAll(const SegmentMark* records, int n) {
  if (initialised_ && n != capacity_) return kErrorCapacityMismatch;
  if (n < 0 || (n > 0 && !records)) return kErrorCapacityMismatch;
  marks_.assign(records, records + n);
  return 0;
}

void SegmentMarkList::Add(int32_t position, float f1, float f2, float f3, float f4, int32_t value) {
  marks_.push_back(SegmentMark{position, f1, f2, f3, f4, value});
}

int32_t SegmentMarkList::Length(int i) const {
  if (i < 0 || i >= Count() - 1) return -1;
  return marks_[static_cast<size_t>(i) + 1].position - marks_[static_cast<size_t>(i)].position;
}

float SegmentMarkList::Field(int i, int which) const {
  if (!InRange(i)) return -1.0f;
  const SegmentMark& m = marks_[static_cast<size_t>(i)];
  switch (which) {
    case 0: return m.f1;
    case 1: return m.f2;
    case 2: return m.f3;
    default: return m.f4;
  }
}

int SegmentMarkList::FindNearest(int from, int64_t target) const {
  if (Count() < 2 || from < 0 || from >= Count() - 1) return -1;
  int best = from;
  int64_t dist = std::llabs(marks_[static_cast<size_t>(from)].position - target);
  for (int i = from + 1; i < Count(); ++i) {
    int64_t d = std::llabs(marks_[static_cast<size_t>(i)].position - target);
    if (d >= dist) break;
    best = i;
    dist = d;
  }
  return best;
}

int32_t SegmentMarkList::NextBeyond(int* index, int32_t distance) const {
  if (!index || !InRange(*index)) return -1;
  int32_t from = marks_[static_cast<size_t>(*index)].position;
  for (int i = *index + 1; i < Count(); ++i) {
    if (marks_[static_cast<size_t>(i)].position > from + distance) {
      *index = i;
      return marks_[static_cast<size_t>(i)].position - from;
    }
  }
  return -1;
}

}  // namespace engine
