#pragma once
// The per-format readers behind Image. Each checks every length and size it
// reads against the data and the limits of image.h.

#include <cstddef>
#include <cstdint>

#include "platform/imaging/image.h"

namespace imaging {

// Checks a size against kMaxPictureSide and MaxDecodePixels().
Status CheckDimensions(int64_t width, int64_t height);

Status JpegInfo(const uint8_t* data, size_t size, ImageInfo* info);
// scale_denom 1, 2, 4 or 8.
Status DecodeJpeg(const uint8_t* data, size_t size, int scale_denom, Picture* out);

Status PngInfo(const uint8_t* data, size_t size, ImageInfo* info);
Status DecodePng(const uint8_t* data, size_t size, Picture* out);

Status GifInfo(const uint8_t* data, size_t size, ImageInfo* info);
Status DecodeGif(const uint8_t* data, size_t size, Picture* out);

Status BmpInfo(const uint8_t* data, size_t size, ImageInfo* info);
Status DecodeBmp(const uint8_t* data, size_t size, Picture* out);

}  // namespace imaging
