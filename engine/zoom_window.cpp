#include "engine/zoom_window.h"

namespace engine {

void ZoomWindow::Set(uint32_t start, uint32_t end, uint32_t framesOfPass) {
  frames = framesOfPass;
  const uint32_t s[4] = {RectLeft(start), RectRight(start), RectTop(start), RectBottom(start)};
  const uint32_t e[4] = {RectLeft(end), RectRight(end), RectTop(end), RectBottom(end)};
  for (int i = 0; i < 4; ++i) {
    if (frames == 0) {
      edge[i] = int64_t(e[i]) * 65536;
      step[i] = 0;
      continue;
    }
    edge[i] = int64_t(s[i]) * 65536;
    step[i] = (int64_t(e[i]) - int64_t(s[i])) * 65536 / int64_t(frames);
  }
}

}  // namespace engine
