#include "platform/picture/picture.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/imaging/image.h"
#include "platform/os/file.h"
#include "platform/picture/fit_rect.h"

namespace picture {

namespace {

std::atomic<PictureArchive*> g_skin_archive{nullptr};
std::atomic<PictureArchive*> g_common_archive{nullptr};

// Largest picture file read whole.
constexpr uint64_t kMaxPictureFileBytes = uint64_t(256) << 20;

// Draws the image's thumbnail of exactly w x h at (x, y); whether one came.
bool DrawThumbnail(const imaging::Image& image, int32_t x, int32_t y, int32_t w, int32_t h, gfx::HDC dc) {
  auto thumb = image.GetThumbnail(w, h);
  if (!thumb) return false;
  thumb->Draw(dc, {x, y, x + w, y + h});
  return true;
}

int Thumbnail(const imaging::Image* image, int32_t max_width, int32_t max_height, gfx::HDC dc, uint16_t** bits) {
  if (!image || !dc) return 0;
  int32_t w = image->info().width, h = image->info().height;
  if (h > max_height || w > max_width) FitRect(&w, &h, w, h, max_width, max_height);
  gfx::HBitmap dib = CreateDib565(dc, w, h, bits);
  if (!dib) return 0;
  dc->SelectBitmap(dib);
  gfx::BitBlt(dc, 0, 0, w, h, nullptr, 0, 0, gfx::kBlackness);
  return DrawThumbnail(*image, 0, 0, w, h, dc) ? 1 : 0;
}

int Fit(const imaging::Image* image, int32_t box_width, int32_t box_height, gfx::HDC dc, gfx::COLORREF background,
        uint16_t** bits, int32_t factor) {
  if (!image || !dc) return 0;
  int32_t w = 0, h = 0;
  FitDecodeSize(image->info().width, image->info().height, box_width, box_height, factor, &w, &h);
  gfx::HBitmap dib = CreateDib565(dc, w, h, bits);
  if (!dib) return 0;
  dc->SelectBitmap(dib);
  gfx::FillRect(dc, {0, 0, w, h}, gfx::CreateSolidBrush(background));
  image->Draw(dc, {0, 0, w, h});
  return 1;
}

}  // namespace

void SetPictureArchives(PictureArchive* skin, PictureArchive* common) {
  g_skin_archive.store(skin);
  g_common_archive.store(common);
}

gfx::HBitmap CreateDib565(gfx::HDC, int32_t width, int32_t height, uint16_t** bits) {
  gfx::HBitmap bitmap = gfx::CreateBitmap565(width, height);
  if (bits) *bits = bitmap ? bitmap->bits() : nullptr;
  return bitmap;
}

bool StretchBitmap(const gfx::HBitmap& source, gfx::HDC dc, gfx::HBitmap* out, int32_t width, int32_t height) {
  if (!source) return false;
  gfx::HBitmap result = gfx::CreateCompatibleBitmap(dc, width, height);
  if (result) {
    auto from = gfx::CreateCompatibleDC(dc);
    auto to = gfx::CreateCompatibleDC(dc);
    from->SelectBitmap(source);
    to->SelectBitmap(result);
    gfx::StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, source->width(), source->height(),
                    gfx::kSrcCopy);
  }
  if (out) *out = result;
  return true;
}

gfx::HBitmap ShadeBitmap(gfx::HDC dc, const gfx::HBitmap& source, const gfx::COLORREF* transparent, int shift) {
  if (!dc || !source) return nullptr;
  // The key goes through the same conversion as every drawn colour, so the
  // kept pixels are exactly those a keyed blit leaves out.
  const bool keyed = transparent != nullptr;
  const uint16_t key = keyed ? gfx::ColorRefTo565(*transparent) : 0;
  gfx::HBitmap copy = CreateDib565(dc, source->width(), source->height(), nullptr);
  if (!copy) return nullptr;
  auto scratch = gfx::CreateCompatibleDC(dc);
  scratch->SelectBitmap(copy);
  gfx::BitBlt(scratch.get(), 0, 0, source->width(), source->height(), dc, 0, 0, gfx::kSrcCopy);
  auto shade = [shift](uint32_t v, uint32_t max) -> uint32_t {
    if (shift >= 0) return shift >= 32 ? 0 : v >> shift;
    if (v == 0) return 0;
    if (-shift >= 32) return max;
    return std::min<uint64_t>(uint64_t(v) << -shift, max);
  };
  const size_t count = static_cast<size_t>(copy->row_bytes() / 2) * static_cast<size_t>(copy->height());
  uint16_t* p = copy->bits();
  for (size_t i = 0; i < count; ++i) {
    if (keyed && p[i] == key) continue;
    const uint32_t r = shade(p[i] >> 11, 31), g = shade((p[i] >> 5) & 63, 63), b = shade(p[i] & 31, 31);
    p[i] = static_cast<uint16_t>((r << 11) | (g << 5) | b);
  }
  return copy;
}

int DecodeImageBuffer(gfx::HBitmap* out, gfx::HDC reference, gfx::HDC target, const uint8_t* buffer, size_t size,
                      gfx::COLORREF background) {
  auto image = imaging::Image::FromBuffer(buffer, size);
  if (!image || !target) return 1;
  const int32_t w = image->info().width, h = image->info().height;
  gfx::HBitmap bitmap = gfx::CreateCompatibleBitmap(reference, w, h);
  if (!bitmap) return 1;
  if (out) *out = bitmap;
  target->SelectBitmap(bitmap);
  gfx::FillRect(target, {0, 0, w, h}, gfx::CreateSolidBrush(background));
  image->Draw(target, {0, 0, w, h});
  return 1;
}

int DecodeImageBufferThumbnail(const uint8_t* buffer, size_t size, int32_t max_width, int32_t max_height, gfx::HDC dc,
                               uint16_t** bits) {
  auto image = imaging::Image::FromBuffer(buffer, size);
  return Thumbnail(image.get(), max_width, max_height, dc, bits);
}

int DecodeImageBufferFit(const uint8_t* buffer, size_t size, int32_t box_width, int32_t box_height, gfx::HDC dc,
                         gfx::COLORREF background, uint16_t** bits, int32_t factor) {
  auto image = imaging::Image::FromBuffer(buffer, size);
  return Fit(image.get(), box_width, box_height, dc, background, bits, factor);
}

gfx::Size GetImageFileSize(const ov::String& path) {
  auto image = imaging::Image::FromFile(path);
  if (!image) return {0, 0};
  return {image->info().width, image->info().height};
}

int DecodeImageFile(const ov::String& path, gfx::HBitmap* out, gfx::HDC reference, gfx::HDC target,
                    gfx::COLORREF background) {
  std::vector<uint8_t> bytes;
  bool found = false;
  try {
    for (PictureArchive* archive : {g_skin_archive.load(), g_common_archive.load()}) {
      if (!found && archive && archive->ReadEntry(path, &bytes)) found = true;
    }
    // A short read or a file larger than the limit counts as no bytes.
    if (!found && !ov::ReadWholeFile(path, &bytes, kMaxPictureFileBytes)) bytes.clear();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (bytes.empty()) return 0;
  return DecodeImageBuffer(out, reference, target, bytes.data(), bytes.size(), background);
}

bool LoadImageFile(ov::String path, gfx::HDC reference, std::unique_ptr<gfx::DeviceContext>* out_dc,
                   gfx::HBitmap* out_bitmap, int32_t* width, int32_t* height, gfx::COLORREF background) {
  auto scratch = gfx::CreateCompatibleDC(reference);
  auto output = gfx::CreateCompatibleDC(reference);
  gfx::HDC output_dc = output.get();
  if (out_dc) *out_dc = std::move(output);
  const bool sizes = width && height;
  if (sizes) *width = *height = 0;
  gfx::HBitmap decoded;
  DecodeImageFile(path, &decoded, reference, scratch.get(), background);
  if (!decoded) return false;
  gfx::HBitmap copy = gfx::CreateCompatibleBitmap(reference, decoded->width(), decoded->height());
  if (out_bitmap) *out_bitmap = copy;
  if (copy) {
    output_dc->SelectBitmap(copy);
    gfx::BitBlt(output_dc, 0, 0, decoded->width(), decoded->height(), scratch.get(), 0, 0, gfx::kSrcCopy);
  }
  if (sizes && *width == 0 && *height == 0) {
    *width = decoded->width();
    *height = decoded->height();
  }
  return true;
}

gfx::HBitmap LoadIconPicture(const ov::String& path, bool no_fallback) {
  std::unique_ptr<gfx::DeviceContext> dc;
  gfx::HBitmap loaded;
  int32_t w = 0, h = 0;
  gfx::HBitmap icon;
  if (LoadImageFile(path, nullptr, &dc, &loaded, &w, &h, 0) && loaded) {
    icon = CreateDib565(nullptr, w, h, nullptr);
    if (icon) {
      auto target = gfx::CreateCompatibleDC(nullptr);
      target->SelectBitmap(icon);
      gfx::BitBlt(target.get(), 0, 0, w, h, dc.get(), 0, 0, gfx::kSrcCopy);
    }
    return icon;
  }
  if (no_fallback) return nullptr;
  constexpr int32_t kFallbackWidth = 20, kFallbackHeight = 15;
  uint16_t* bits = nullptr;
  icon = CreateDib565(nullptr, kFallbackWidth, kFallbackHeight, &bits);
  if (icon) std::fill(bits, bits + ptrdiff_t(icon->stride()) * kFallbackHeight, uint16_t{0});
  return icon;
}

int DrawImageFileCentered(ov::String path, int32_t box_width, int32_t box_height, gfx::HDC dc) {
  auto image = imaging::Image::FromFile(path);
  if (!image || !dc) return 0;
  int32_t w = 0, h = 0;
  FitRect(&w, &h, image->info().width, image->info().height, box_width, box_height);
  return DrawThumbnail(*image, (box_width - w) / 2, (box_height - h) / 2, w, h, dc) ? 1 : 0;
}

int DecodeImageFileThumbnail(ov::String path, int32_t max_width, int32_t max_height, gfx::HDC dc, uint16_t** bits) {
  auto image = imaging::Image::FromFile(path);
  return Thumbnail(image.get(), max_width, max_height, dc, bits);
}

int DecodeImageFileFit(ov::String path, int32_t box_width, int32_t box_height, gfx::HDC dc, gfx::COLORREF background,
                       uint16_t** bits, int32_t factor) {
  auto image = imaging::Image::FromFile(path);
  return Fit(image.get(), box_width, box_height, dc, background, bits, factor);
}

void FitDecodeSize(int32_t width, int32_t height, int32_t box_width, int32_t box_height, int32_t factor,
                   int32_t* out_width, int32_t* out_height) {
  const int64_t W = width, H = height, bw = int64_t(box_width) * factor, bh = int64_t(box_height) * factor;
  int64_t w = W, h = H;
  if (!(W <= box_width && H <= box_height) && W > 0 && H > 0) {
    // The proportions in hundredths, as the fit has always computed them.
    const uint64_t wide = static_cast<uint64_t>(W * 100) / static_cast<uint64_t>(H);
    const uint64_t tall = static_cast<uint64_t>(H * 100) / static_cast<uint64_t>(W);
    // A quotient of 0 (beyond 100:1) is replaced by the exact proportion.
    const int64_t h_fit = wide ? bw * 100 / static_cast<int64_t>(wide) : bw * H / W;
    const int64_t w_fit = tall ? bh * 100 / static_cast<int64_t>(tall) : bh * W / H;
    if (bw < w_fit || h_fit < bh) {
      w = bw;
      h = h_fit;
    } else {
      w = w_fit;
      h = bh;
    }
  }
  *out_width = static_cast<int32_t>(std::clamp<int64_t>(w, 1, INT32_MAX));
  *out_height = static_cast<int32_t>(std::clamp<int64_t>(h, 1, INT32_MAX));
}

}  // namespace picture
