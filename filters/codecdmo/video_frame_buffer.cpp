#include "filters/codecdmo/video_frame_buffer.h"

#include <cstdlib>

namespace codecdmo {

int AllocateVideoFrameBuffer(VideoFrameBuffer* frame, uint16_t width, uint16_t height, uint32_t format) {
  if (!frame) return -1;
  *frame = VideoFrameBuffer{};
  uint32_t w = width, h = height;
  if (format == 2) {
    w = (w + 1) & ~1u;
    h = (h + 1) & ~1u;
  }
  const uint32_t pixels = w * h;
  uint32_t size = 0;
  switch (format) {
    case 1:
    case 32:
      size = pixels;
      break;
    case 2:
    case 1024:
      size = pixels + pixels / 2;
      break;
    case 4:
    case 128:
    case 512:
    case 2048:
      size = 2 * pixels;
      break;
    case 8:
    case 16:
    case 64:
    case 256:
      size = 3 * pixels;
      break;
    default:
      return -3;
  }
  auto* data = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
  if (!data) return -2;
  frame->y = data;
  switch (format) {
    case 2:
      frame->u = data + pixels;
      frame->v = frame->u + pixels / 4;
      break;
    case 1024:
      frame->v = data + pixels;
      frame->u = frame->v + pixels / 4;
      break;
    case 4:
      frame->u = data + pixels;
      frame->v = frame->u + pixels / 2;
      break;
    case 8:
    case 16:
    case 64:
      frame->u = data + pixels;
      frame->v = frame->u + pixels;
      break;
    default:
      break;
  }
  frame->width = static_cast<uint16_t>(w);
  frame->height = static_cast<uint16_t>(h);
  frame->format = format;
  frame->size = size;
  frame->owned = true;
  return 0;
}

int FreeVideoFrameBuffer(VideoFrameBuffer* frame) {
  if (!frame) return -1;
  if (frame->owned) std::free(frame->y);
  *frame = VideoFrameBuffer{};
  return 0;
}

}  // namespace codecdmo
