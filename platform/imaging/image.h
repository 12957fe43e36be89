#pragma once
// The imaging library: picture information, decoding from memory or a file,
// drawing into a rectangle of a device context, and reduced copies
// (thumbnails). JPEG (libjpeg-turbo, with scaled decoding for reduced
// sizes), PNG (libpng), GIF (giflib, first frame) and BMP (our own reader).
//
// Every decoder checks what it reads: a truncated, corrupt or over-large
// picture gives a Status other than kOk, never a crash. Pictures above
// MaxDecodePixels() (64 Mpixel unless lowered) or with a side above
// kMaxPictureSide are refused with kTooLarge before anything is allocated.
//
// Thread: any thread; Image objects are used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/os/ov_string.h"

namespace imaging {

enum class Format { kUnknown, kJpeg, kPng, kGif, kBmp };

enum class Status {
  kOk = 0,
  kUnknownFormat,  // not a picture format this library reads
  kCorrupt,        // inconsistent or invalid data
  kTruncated,      // the data ends before the picture does
  kTooLarge,       // dimensions beyond the limits
  kOutOfMemory,
  kNotFound,       // file missing or unreadable
  kInvalidArgument,
};
const char* StatusText(Status s);

struct ImageInfo {
  int32_t width = 0;
  int32_t height = 0;
  Format format = Format::kUnknown;
};

// A decoded picture: 8-bit RGBA, straight alpha, rows of width * 4 bytes.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;
};

constexpr int32_t kMaxPictureSide = 32768;
int64_t MaxDecodePixels();
// Lowers (or restores) the pixel limit; the fuzzers use a small one.
void SetMaxDecodePixels(int64_t pixels);

// Size and format from the header alone.
Status ProbeImage(const uint8_t* data, size_t size, ImageInfo* info);

class Image {
 public:
  // Keeps a copy of the bytes; reads the header. Null (and *status) when the
  // header is not a readable picture.
  static std::unique_ptr<Image> FromBuffer(const uint8_t* data, size_t size, Status* status = nullptr);
  static std::unique_ptr<Image> FromFile(const ov::String& path, Status* status = nullptr);

  const ImageInfo& info() const { return info_; }

  // The whole picture at its own size.
  Status Decode(Picture* out) const;
  // The picture at its own size or reduced, but at least min_width x
  // min_height when it is that large (JPEG decodes at 1/2, 1/4 or 1/8 when
  // that is enough; the other formats decode whole).
  Status DecodeAtLeast(int32_t min_width, int32_t min_height, Picture* out) const;
  // Draws the whole picture scaled into dst (areas averaged when reducing,
  // bilinear when enlarging), laid over what is there by its alpha.
  Status Draw(gfx::HDC dc, const gfx::Rect& dst) const;
  // A new image holding the picture reduced (or enlarged) to exactly
  // width x height.
  std::unique_ptr<Image> GetThumbnail(int32_t width, int32_t height, Status* status = nullptr) const;

 private:
  Image() = default;
  std::vector<uint8_t> bytes_;
  ImageInfo info_;
  std::shared_ptr<const Picture> decoded_;  // set for thumbnails
};

// Scales a picture to width x height (area average when reducing, bilinear
// when enlarging; alpha-weighted so transparent pixels do not bleed).
Status Resample(const Picture& src, int32_t width, int32_t height, Picture* out);

// Writes a bitmap as an 8-bit RGB PNG (for tests and tools).
bool WritePng(const std::string& path, const gfx::Bitmap& bitmap);

}  // namespace imaging
