#pragma once
// VideoFrameBuffer: one zero-filled frame allocation of the video objects
// with its plane pointers, by layout code:
//   1, 32            w x h              no planes
//   2 (4:2:0)        w x h x 3 / 2      U = Y + w h, V = U + w h / 4 (w, h rounded up to even)
//   1024             w x h x 3 / 2      V = Y + w h, U = V + w h / 4
//   4                2 w h              U = Y + w h, V = U + w h / 2
//   128, 512, 2048   2 w h              no planes
//   8, 16, 64        3 w h              U = Y + w h, V = U + w h
//   256              3 w h              no planes
//
// Thread: a record belongs to one object.

#include <cstdint>

namespace codecdmo {

struct VideoFrameBuffer {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t format = 0;
  uint32_t size = 0;
  // True when this record owns its memory (a record laid over an input
  // buffer does not).
  bool owned = false;
};

// 0; -3 for an unknown code and -2 when memory is short (record cleared either way).
int AllocateVideoFrameBuffer(VideoFrameBuffer* frame, uint16_t width, uint16_t height, uint32_t format);
// -1 for a null record; else frees owned memory, clears the record and returns 0.
int FreeVideoFrameBuffer(VideoFrameBuffer* frame);

}  // namespace codecdmo
