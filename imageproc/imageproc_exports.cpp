// The export shared with the video decoders: the YUV 4:2:0 to RGB565
// conversion lives with them (codecs/videodec/common) and is compiled into
// this library as well.
#include "imageproc/imageproc.h"

#include "codecs/videodec/common/yuv420_to_rgb565.h"

extern "C" void gOvYUV420toRGB565TopDown(const YuvFrame* src, int16_t* dst, int width, int height, int topDown) {
  // The conversion trusts its sizes; refuse what would take it outside the
  // frame or the 16-bit size range instead of passing it on.
  if (!src || !src->y || !src->u || !src->v || !dst) return;
  if (width <= 0 || height <= 0 || width > src->width || height > src->height) return;
  if (src->width < 2 || src->height < 2) return;  // no chroma sample to convert with
  const videodec::YuvFrame frame{src->y, src->u, src->v, src->width, src->height};
  videodec::ConvertYUV420toRGB565TopDown(&frame, reinterpret_cast<uint16_t*>(dst), static_cast<uint16_t>(width),
                                         static_cast<uint16_t>(height), topDown);
}
