#pragma once
// ZoomWindow: a crop window that moves from a start rectangle towards an end
// rectangle in equal steps, its edges held as 16.16 fixed-point values of
// 0-255 (1/256 of the picture). Shared by the zoom transition and pan and zoom.

#include <cstdint>

#include "engine/picture565.h"

namespace engine {

struct ZoomWindow {
  int64_t edge[4] = {};  // left, right, top, bottom (16.16)
  int64_t step[4] = {};  // per frame
  uint32_t frames = 0;   // steps of one pass

  // Edges at `start`, steps towards `end` over `framesOfPass`. A pass too
  // short for one frame (0) has no steps: the edges stand at `end` at once.
  void Set(uint32_t start, uint32_t end, uint32_t framesOfPass);
  void Forward() { for (int i = 0; i < 4; ++i) edge[i] += step[i]; }
  void Back() { for (int i = 0; i < 4; ++i) edge[i] -= step[i]; }
  void DrawInto(const Picture565& dst, const Picture565& src, bool bottomUp) const {
    DrawThroughWindow(dst, src, edge[0], edge[1], edge[2], edge[3], bottomUp);
  }
};

}  // namespace engine
