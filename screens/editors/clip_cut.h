#pragma once
// The cut an editor keeps for the clip it shows, and the one rule by which its
// ends move, from the cut keys or from the cut sliders.
//
// Thread: UI thread.

#include <cstdint>

namespace screens {

// Start and end in ms from the clip's start, as the clip stores them; 0 for
// none (without an end the clip plays to its end).
struct ClipCut {
  int32_t start = 0;
  int32_t end = 0;
};

// A start at or past the end drops the end.
inline void MoveCutStart(ClipCut* cut, int32_t at) {
  if (cut->end != 0 && cut->end <= at) cut->end = 0;
  cut->start = at;
}

// An end at or before the start drops the start.
inline void MoveCutEnd(ClipCut* cut, int32_t at) {
  if (at <= cut->start) cut->start = 0;
  cut->end = at;
}

// The cut sliders, in percent of the clip's duration: the end whose slider
// moved goes to its percentage of the duration plus 1 ms (0 without a
// duration); the start wins when both moved.
inline void MoveCutToSliders(ClipCut* cut, uint32_t duration_ms, uint32_t start_percent, uint32_t end_percent) {
  const uint64_t d = duration_ms;
  const auto at = [d](uint32_t percent) { return d ? int32_t(d * percent / 100 + 1) : 0; };
  const int32_t start = at(start_percent), end = at(end_percent);
  if (start != cut->start) {
    MoveCutStart(cut, start);
  } else if (end != cut->end) {
    MoveCutEnd(cut, end);
  }
}

}  // namespace screens
