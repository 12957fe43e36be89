#pragma once
// Picture helpers: the free functions through which every part of the
// program turns a picture file or a picture in memory into a bitmap, and
// makes the RGB565 bitmaps that widgets, media browsers, the picture source
// and the video mixer draw into.
//
// Where a picture file is looked for (DecodeImageFile and LoadImageFile
// only): the skin package, then the common package "vex_common.pak", then
// the file system. The packages are reached through PictureArchive, set once
// by the shell when it opens them.
//
// Sizes: the fit functions never enlarge (FitDecodeSize); the thumbnail
// functions reduce to FitRect's fit of the box; DrawImageFileCentered always
// fits with FitRect.
//
// Thread: any thread; the functions keep no state beside the two archive
// pointers, which are set on the UI thread before any worker starts.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/os/ov_string.h"

namespace picture {

// The entry reader of a picture package. ReadEntry cuts the path to a name
// relative to the skin or application folder and matches it
// case-insensitively; false when there is no such entry.
class PictureArchive {
 public:
  virtual ~PictureArchive() = default;
  virtual bool ReadEntry(const ov::String& path, std::vector<uint8_t>* bytes) = 0;
};

// The skin package and the common package (either may be null). Not owned.
void SetPictureArchives(PictureArchive* skin, PictureArchive* common);

// A new top-down RGB565 bitmap; *bits (when given) its pixels. Null on failure.
gfx::HBitmap CreateDib565(gfx::HDC dc, int32_t width, int32_t height, uint16_t** bits);

// When source is not null: *out = a new width x height bitmap holding the whole
// source stretched into it (null when that size cannot be made). Returns
// whether source was not null.
bool StretchBitmap(const gfx::HBitmap& source, gfx::HDC dc, gfx::HBitmap* out, int32_t width, int32_t height);

// A shaded RGB565 copy of source (selected in dc): each component shifted
// right by shift bits (darker; 32 or more gives 0) or, for a negative shift,
// left by -shift bits and saturated at its field's maximum (brighter). Pixels
// equal to the transparent colour (when given) are kept. Null on failure.
gfx::HBitmap ShadeBitmap(gfx::HDC dc, const gfx::HBitmap& source, const gfx::COLORREF* transparent, int shift);

// Decodes a picture in memory at its own size into a new bitmap, selected
// into target, filled with background first; *out is set only when the
// picture could be opened. Always 1.
int DecodeImageBuffer(gfx::HBitmap* out, gfx::HDC reference, gfx::HDC target, const uint8_t* buffer, size_t size,
                      gfx::COLORREF background);
// Decodes into a new RGB565 bitmap (selected into dc, cleared to black) no
// larger than max_width x max_height; 1 on success, 0 otherwise.
int DecodeImageBufferThumbnail(const uint8_t* buffer, size_t size, int32_t max_width, int32_t max_height, gfx::HDC dc,
                               uint16_t** bits);
// Decodes into a new RGB565 bitmap (selected into dc, filled with background)
// of the picture's size fitted to (box * factor) by FitDecodeSize; 1 on
// success, 0 otherwise.
int DecodeImageBufferFit(const uint8_t* buffer, size_t size, int32_t box_width, int32_t box_height, gfx::HDC dc,
                         gfx::COLORREF background, uint16_t** bits, int32_t factor);

// The picture's size, (0, 0) when the file cannot be opened as a picture.
gfx::Size GetImageFileSize(const ov::String& path);
// Finds the bytes (packages, then file) and decodes them with
// DecodeImageBuffer; 0 when no bytes were found (also for an empty file).
int DecodeImageFile(const ov::String& path, gfx::HBitmap* out, gfx::HDC reference, gfx::HDC target,
                    gfx::COLORREF background);
// Decodes the file into a new memory DC (*out_dc, always made) holding a
// copy of the picture in *out_bitmap; when both size pointers are given they
// are zeroed, then receive the picture's size. Whether a picture was decoded.
bool LoadImageFile(ov::String path, gfx::HDC reference, std::unique_ptr<gfx::DeviceContext>* out_dc,
                   gfx::HBitmap* out_bitmap, int32_t* width, int32_t* height, gfx::COLORREF background);
// The picture of an icon (LoadImageFile's look-up) copied into a new RGB565
// bitmap of its own size. When it cannot be loaded: null with no_fallback,
// else a black 20 x 15 bitmap.
gfx::HBitmap LoadIconPicture(const ov::String& path, bool no_fallback);
// Draws the file's picture fitted into the box (FitRect) and centred; 1 when drawn.
int DrawImageFileCentered(ov::String path, int32_t box_width, int32_t box_height, gfx::HDC dc);
int DecodeImageFileThumbnail(ov::String path, int32_t max_width, int32_t max_height, gfx::HDC dc, uint16_t** bits);
int DecodeImageFileFit(ov::String path, int32_t box_width, int32_t box_height, gfx::HDC dc, gfx::COLORREF background,
                       uint16_t** bits, int32_t factor);

// The size of a width x height picture fitted to box * factor, never
// enlarged: the proportions kept in hundredths (integer arithmetic as the
// fit functions have always used). Pictures more than 100 times wider than
// high (or the reverse) are sized by exact cross-multiplication, and no side
// drops below 1 pixel.
void FitDecodeSize(int32_t width, int32_t height, int32_t box_width, int32_t box_height, int32_t factor,
                   int32_t* out_width, int32_t* out_height);

}  // namespace picture
