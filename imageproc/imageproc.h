#pragma once
// libimageproc: stateless conversions, scalers, rotations and mirrors over
// pictures held in caller-owned memory, exported with C linkage.
//
// Conventions shared by every export:
// - Nothing is allocated, freed or kept; a call touches only the memory its
//   arguments describe, so every function is reentrant and may run on any
//   thread at once on different pictures.
// - Planes of a YuvFrame are tightly packed: luma rows are `width` bytes; 4:2:0
//   chroma planes are width/2 x height/2, planar 4:2:2 chroma width/2 x height,
//   4:4:4 chroma width x height.
// - An I420 buffer is one block: Y (w x h), then U (w x h / 4), then V.
// - 16-bit output words have red in bits 15-11, green 10-5, blue 4-0.
// - Rotation types: 0 none, 1 quarter turn clockwise, 2 half turn, 3 quarter
//   turn anticlockwise.
// - Exports that check their arguments return kImageprocOk, kImageprocBadSize,
//   kImageprocNoRoom or kImageprocBadFlag; the others trust their caller for the
//   layout but still refuse null pointers and sizes that would take them
//   outside the pictures they are given (they then write nothing).

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IMAGEPROC_API __attribute__((visibility("default")))

// A planar YUV frame (4:2:0, 4:2:2 or 4:4:4; each function says which). The
// record and its planes belong to the caller.
typedef struct YuvFrame {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  uint16_t width;   // luma width in pixels
  uint16_t height;  // luma height in rows
} YuvFrame;

// The record of gMirrorImageYUV: a YuvFrame followed by one 32-bit word that
// the mirror only copies.
typedef struct YuvFrameExt {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  uint16_t width;
  uint16_t height;
  uint32_t extra;
} YuvFrameExt;

enum {
  kImageprocOk = 0,
  kImageprocBadSize = -1,   // bad size, stride or rotation type
  kImageprocNoRoom = -2,    // null pointer, or no room for the output
  kImageprocBadFlag = -12,  // flag out of range
};

// ---- Encoder inputs to YUV 4:2:0 --------------------------------------------

// Bottom-up RGB565 (rows of srcWidth pixels) into the 4:2:0 frame dst, whose own
// even width and height are the output size (>= the source, height rounded up
// to even); BT.709 studio-range tables; each 2x2 block takes the chroma of its
// lower-left pixel; the right and top margins repeat the last converted
// column and row.
IMAGEPROC_API void gOvRGB565toYUV420(const uint16_t* rgb565, YuvFrame* dst, uint32_t srcWidth,
                                     uint32_t srcHeight);
// Top-down UYVY (rows of 2 x width bytes) into dst after writing width and
// height into it; chroma from the upper row of each pair. 0, -2 for a null
// pointer, -1 for odd sizes (nothing written).
IMAGEPROC_API int gUY1VY2ToYUV420(const uint8_t* uyvy, YuvFrame* dst, uint32_t width, uint32_t height);
// Top-down YUY2 into an I420 buffer of width x height; chroma from the upper
// row of each pair; an odd last row or column is not converted.
IMAGEPROC_API void gOvYUY2toYUV420(const uint8_t* yuy2, uint8_t* i420, int width, int height);
// Planar 4:2:2 to 4:2:0 of the same size, keeping the even chroma rows. 0, -1
// when the sizes differ, -2 for a null pointer; nothing is written on error.
IMAGEPROC_API int gYUV422toYUV420Ex(const YuvFrame* src422, YuvFrame* dst420);
// Copies (type 0) or turns (1-3) a 4:2:0 frame into dst's planes, laid out for
// the output size; any other type does nothing. dst's size fields are unused.
IMAGEPROC_API void gRotateFrame(const YuvFrame* src, YuvFrame* dst, int type);

// ---- RGB to I420 -------------------------------------------------------------

// Top-down RGB565 (even width and height) to I420 with the tables of
// gOvRGB565toYUV420; chroma of each 2x2 block from its top-left pixel.
IMAGEPROC_API void gOvzRGB565toYUV420_TopDown(const uint16_t* rgb565, uint8_t* i420, int width,
                                              int height);
// Top-down B,G,R bytes, rows srcStride bytes apart (negative: upwards), to I420;
// BT.601 full-range luma, chroma averaged over each 2x2 block.
IMAGEPROC_API void gBGR24INTtoYUV420Planar(const uint8_t* bgr, uint8_t* i420, uint32_t width,
                                           uint32_t height, int srcStride);

// ---- YUV 4:2:0 to RGB --------------------------------------------------------

// The video decoders' conversion (BT.601 full range, ordered dither): width x
// height of src into RGB565 rows of ((width + 1) & ~1) pixels, top-down when
// topDown is non-zero, else bottom-up.
IMAGEPROC_API void gOvYUV420toRGB565TopDown(const YuvFrame* src, int16_t* dst, int width, int height,
                                            int topDown);
// width x height of src (BT.601 full range, no dither) to R,G,B bytes, rows of
// 3 x width bytes, top-down when topDown is non-zero, else bottom-up.
IMAGEPROC_API void gOvYUV420toRGB888TopDown(const YuvFrame* src, uint8_t* dst, int width, int height,
                                            int topDown);
// The whole frame (BT.709 full range) to B,G,R bytes, rows dstStride bytes
// apart. 0; -1 when dstStride < 3 x width; -2 for a null pointer.
IMAGEPROC_API int gYUV420toBGR24(const YuvFrame* src, uint8_t* dst, int dstStride);

// ---- YUV to 16-bit RGB with crop, placement and rotation -------------------

// A window of a 4:2:0 frame (BT.709, ordered dither) placed at (dstX, dstY) of
// a top-down picture dstStride x dstHeight, turned by type. 0; -1 for a null
// pointer, a negative argument or a type outside 0-3.
IMAGEPROC_API int gYUV420toRGB16Rotate(const YuvFrame* src, int16_t* dst, int dstStride, int dstHeight,
                                       int dstX, int dstY, int srcX, int srcY, int width, int height,
                                       int type);
// The same for a bottom-up destination with the shift-only colour arithmetic;
// positions and sizes are 16-bit, the low 8 bits of type select the turn.
IMAGEPROC_API int gYUV420toBGR565TopDown_Rotate(const YuvFrame* src, int16_t* dst, int srcX, int srcY,
                                                int width, int height, int dstX, int dstY,
                                                int dstStride, int dstHeight, uint32_t type);
// Planar 4:2:2 counterparts of the two above (BT.709 and BT.601 respectively).
IMAGEPROC_API int gYUV422toRGB16Rotate(const YuvFrame* src422, int16_t* dst, int dstStride,
                                       int dstHeight, int dstX, int dstY, int srcX, int srcY,
                                       int width, int height, int type);
IMAGEPROC_API int gYUV422HPlanartoBGR565TopDown_Rotate(const YuvFrame* src422, int16_t* dst, int srcX,
                                                       int srcY, int width, int height, int dstX,
                                                       int dstY, int dstStride, int dstHeight,
                                                       uint32_t type);
// Planar 4:2:2 (BT.601, ordered dither) to B,G,R bytes; both names are one
// function.
IMAGEPROC_API void gYUV422HPlanartoRGB888TopDown(const YuvFrame* src422, uint8_t* dst, int width,
                                                 int height, int topDown);
IMAGEPROC_API void gYUV422HPlanartoBGR888TopDown(const YuvFrame* src422, uint8_t* dst, int width,
                                                 int height, int topDown);
// Planar 4:4:4 (BT.601, rounded) to 16-bit words at *dst, rows of width pixels.
IMAGEPROC_API void gYUV444toRGB16(const YuvFrame* src444, int16_t** dst, int width, int height);
// Packed VYUY at packed->y (rows of (width / 2) x 4 bytes) to RGB565 with crop
// and placement; flag 0 bottom-up, 1 top-down. 0, -2 null, -12 bad flag, -1
// negative argument.
IMAGEPROC_API int gVYUYtoRGB565(const YuvFrame* packed, int16_t* dst, int srcX, int srcY, int width,
                                int height, int dstX, int dstY, int dstStride, int dstHeight,
                                uint32_t flag);

// ---- Repacking ---------------------------------------------------------------

// 4:2:0 window to packed U,Y0,V,Y1 at (dstX, dstY) of a picture dstStride
// pixels wide. 0, -2 null, -1 negative argument.
IMAGEPROC_API int gYUV420toUYVY(const YuvFrame* src, uint8_t* dst, int dstStride, int dstHeight,
                                uint32_t srcX, uint32_t srcY, int dstX, int dstY, int width, int height);
// 4:2:0 to packed Y41P (12 bytes per 8 pixels), whole groups of eight columns.
IMAGEPROC_API int gYUV420toY41P(const YuvFrame* src, uint8_t* dst, int dstWidth);
// 4:2:0 to packed Y0,U,Y1,V rows of 2 x (width & ~1) bytes.
IMAGEPROC_API int gYUVPlanartoYUYV(const YuvFrame* src, uint8_t* dst, int width, int height);
// Packed Y0,U,Y1,V to 4:2:0 (U through dst->v, V through dst->u) and to YV12
// (U through dst->u, V through dst->v); width and height are written to dst.
IMAGEPROC_API int gY1UY2VToYUV420(const uint8_t* yuy2, YuvFrame* dst, uint32_t width, uint32_t height);
IMAGEPROC_API int gY1UY2VToYV12(const uint8_t* yuy2, YuvFrame* dst, uint32_t width, uint32_t height);
// Planar 4:2:2 to 4:2:0 of the even size, chroma rows averaged (truncating).
IMAGEPROC_API int gYUV422htoYUV420(const YuvFrame* src422, YuvFrame* dst420);

// ---- Planar scaling ----------------------------------------------------------

IMAGEPROC_API void gScaleFrame(const YuvFrame* src, YuvFrame* dst);
IMAGEPROC_API void gScaleCroppedFrame(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY,
                                      uint32_t width, uint32_t height);
IMAGEPROC_API void gScaleCroppedFrameYUV422(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                            uint32_t srcY, uint32_t width, uint32_t height);
IMAGEPROC_API int gYUV422toYUV420(const YuvFrame* src422, YuvFrame* dst420, int srcX, int srcY,
                                  uint32_t width, uint32_t height);
IMAGEPROC_API void gScaleCroppedFrame_downby2(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                              uint32_t srcY, uint32_t width, uint32_t height);
IMAGEPROC_API void gScaleCroppedFrame_upby2(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                            uint32_t srcY);
IMAGEPROC_API void gScaleCroppedFrame_upby4(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                            uint32_t srcY);
IMAGEPROC_API void gScaleCroppedFrame_downto3by3(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                                 uint32_t srcY, uint32_t width, uint32_t height);

// ---- RGB565 and packed YUV scaling ------------------------------------------

IMAGEPROC_API void gScaleRGB565Frame(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight,
                                     int dstWidth, int dstHeight);
IMAGEPROC_API void gScaleRGB565CroppedFrame(const uint16_t* src, uint16_t* dst, int srcWidth,
                                            int srcHeight, int dstWidth, int dstHeight, int srcX,
                                            int srcY, int width, int height);
IMAGEPROC_API void gOvY1UY2VtoY1UY2V_Scale(const uint8_t* src, uint8_t* dst, uint32_t srcWidth,
                                           uint32_t srcHeight, uint32_t dstWidth, int dstHeight,
                                           uint32_t srcX, uint32_t srcY, uint32_t width,
                                           uint32_t height);
// Packed Y0,U,Y1,V scaled into planar 4:2:2 / 4:2:0 strips of 8 / 16 rows.
// *strip is the first strip to make; on return *strip holds the number of
// strips made and *bufferBytes the bytes used. 0, or -2 for a null pointer or
// a buffer that holds no strip.
IMAGEPROC_API int gOvScaleFrameYUYVtoYUV422P(const uint8_t* src, uint8_t* dst, uint32_t srcWidth,
                                             int srcHeight, uint32_t dstWidth, uint32_t dstHeight,
                                             uint32_t* bufferBytes, uint32_t* strip);
IMAGEPROC_API int gOvScaleFrameYUYVtoYUV420P(const uint8_t* src, uint8_t* dst, uint32_t srcWidth,
                                             int srcHeight, uint32_t dstWidth, uint32_t dstHeight,
                                             uint32_t* bufferBytes, uint32_t* strip);

// ---- Rotation and mirroring -------------------------------------------------

IMAGEPROC_API void gRotate422Frame(const YuvFrame* src422, YuvFrame* dst422, int type);
IMAGEPROC_API void gRotateMonochromeFrame(const YuvFrame* src, uint8_t** dst, int type);
IMAGEPROC_API int gRotateRGB16(const int16_t* src, int16_t* dst, int srcStride, int srcHeight, int srcX,
                               int srcY, int width, int height, int dstX, int dstY, int dstStride,
                               int dstHeight, int type);
IMAGEPROC_API int gRotateRGB16toBGR24(const uint16_t* src, uint8_t* dst, int srcStride, int srcHeight,
                                      int srcX, int srcY, int width, int height, int dstX, int dstY,
                                      int dstHeight, int dstStrideBytes, int type);
// type 1 upside down, 2 half turn, anything else left to right. src and dst
// may be the same buffer. 0, -1 negative size, -2 null.
IMAGEPROC_API int gMirrorImageRGB565(const int16_t* src, int16_t* dst, int width, int height, int type);
// chromaMode 0: 4:2:0, 1: planar 4:2:2. The low 8 bits of toDestination equal
// to 1 write into dst (and copy width, height and extra), else src is mirrored
// in place. 0, -1 bad chroma mode, -2 null.
IMAGEPROC_API int gMirrorImageYUV(YuvFrameExt* src, YuvFrameExt* dst, uint32_t chromaMode, int type,
                                  int toDestination);

#ifdef __cplusplus
}  // extern "C"
#endif
