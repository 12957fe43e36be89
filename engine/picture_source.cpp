#include "engine/picture_source.h"

#include <algorithm>
#include <memory>

#include "engine/picture565.h"
#include "media/media_package.h"
#include "platform/gfx/dc.h"
#include "platform/picture/picture.h"

namespace engine {

PictureSource::PictureSource(int32_t frameWidth, int32_t frameHeight, uint32_t backgroundColour)
    : frameWidth_(std::clamp(frameWidth, 1, 4096)),
      frameHeight_(std::clamp(frameHeight, 1, 4096)),
      background_(backgroundColour) {}

PictureSource::~PictureSource() = default;

bool PictureSource::Open(const ov::String& openPath, uint32_t scale) {
  pixels_.clear();
  width_ = height_ = rowPixels_ = 0;
  if (scale == 0) scale = 1;
  std::unique_ptr<gfx::DeviceContext> dc = gfx::CreateCompatibleDC(nullptr);
  if (!dc) return false;
  // The media package first, then the file system.
  std::unique_ptr<uint8_t[]> packed;
  uint32_t packedSize = 0;
  if (media::MediaPackage* package = media::GetMediaPackage()) packed = package->ReadEntry(openPath, &packedSize);
  uint16_t* bits = nullptr;
  int ok = 0;
  const bool fit = background_ != kNoBackground;
  if (fit) {
    ok = packed ? picture::DecodeImageBufferFit(packed.get(), packedSize, frameWidth_, frameHeight_, dc.get(), background_,
                                           &bits, 1)
                : picture::DecodeImageFileFit(openPath, frameWidth_, frameHeight_, dc.get(), background_, &bits, 1);
  } else {
    const int32_t mw = int32_t(std::min<int64_t>(int64_t(frameWidth_) * scale, 4096));
    const int32_t mh = int32_t(std::min<int64_t>(int64_t(frameHeight_) * scale, 4096));
    ok = packed ? picture::DecodeImageBufferThumbnail(packed.get(), packedSize, mw, mh, dc.get(), &bits)
                : picture::DecodeImageFileThumbnail(openPath, mw, mh, dc.get(), &bits);
  }
  const gfx::Bitmap* decoded = dc->surface();
  if (!ok || !decoded || decoded->width() <= 0 || decoded->height() <= 0) return false;
  const Picture565 src{const_cast<uint16_t*>(decoded->bits()), decoded->width(), decoded->height(), decoded->stride()};
  if (fit) {
    // The whole frame on the background colour, the picture fitted and
    // centred in it (black bars of that colour, proportions kept).
    width_ = uint32_t(frameWidth_);
    height_ = uint32_t(frameHeight_);
    rowPixels_ = (width_ + 1) & ~1u;
    pixels_.assign(size_t(rowPixels_) * height_, ColourRefTo565(background_));
    const Picture565 dst{pixels_.data(), frameWidth_, frameHeight_, int32_t(rowPixels_)};
    const FittedRect f = FitInFrame(src.width, src.height, frameWidth_, frameHeight_);
    Stretch565(dst, f.x, f.y, f.width, f.height, src, 0, 0, src.width, src.height);
  } else {
    width_ = uint32_t(src.width);
    height_ = uint32_t(src.height);
    rowPixels_ = (width_ + 1) & ~1u;
    pixels_.assign(size_t(rowPixels_) * height_, 0);
    const Picture565 dst{pixels_.data(), src.width, src.height, int32_t(rowPixels_)};
    Copy565(dst, 0, 0, src);
  }
  return true;
}

bool PictureSource::GetFormat(media::MediaFormat* out) {
  *out = media::MediaFormat{};
  if (pixels_.empty()) return true;
  out->frameDurationMs = endMark != 0 ? endMark : 0xFFFFFFFFu;
  if (background_ != kNoBackground) {
    out->hasColourKey = 1;
    out->colourKey = background_;
  }
  out->width = width_;
  out->height = height_;
  return true;
}

bool PictureSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                                   uint32_t /*single*/) {
  *bytes = 0;
  buffer->reset();
  if (pixels_.empty()) return false;
  const size_t size = pixels_.size() * 2;
  std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
  for (size_t i = 0; i < pixels_.size(); ++i) {
    out[2 * i] = uint8_t(pixels_[i]);
    out[2 * i + 1] = uint8_t(pixels_[i] >> 8);
  }
  *buffer = std::move(out);
  *bytes = uint32_t(size);
  *timeMs = 0xFFFFFFFFu;
  return true;
}

}  // namespace engine
