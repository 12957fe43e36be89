// GIF through giflib: the first frame, drawn at its offset on the logical
// screen, with the transparent index of its graphics control block.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include <gif_lib.h>

#include "platform/imaging/decoders.h"

namespace imaging {

namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool ran_out;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int count) {
  auto* s = static_cast<Source*>(gif->UserData);
  if (count <= 0) return 0;
  size_t n = std::min(static_cast<size_t>(count), s->size - s->pos);
  if (n < static_cast<size_t>(count)) s->ran_out = true;
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
  return static_cast<int>(n);
}

// Closes the file on every path.
struct GifHandle {
  GifFileType* gif = nullptr;
  ~GifHandle() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

Status Open(Source* source, GifHandle* handle) {
  int error = 0;
  handle->gif = DGifOpen(source, ReadBytes, &error);
  if (!handle->gif) return source->ran_out ? Status::kTruncated : Status::kUnknownFormat;
  return Status::kOk;
}

bool IsGif(const uint8_t* data, size_t size) {
  return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

Status Failure(const Source& s) { return s.ran_out ? Status::kTruncated : Status::kCorrupt; }

}  // namespace

Status GifInfo(const uint8_t* data, size_t size, ImageInfo* info) {
  if (!data || !IsGif(data, size)) return Status::kUnknownFormat;
  Source source{data, size, 0, false};
  GifHandle h;
  if (Status s = Open(&source, &h); s != Status::kOk) return s;
  info->width = h.gif->SWidth;
  info->height = h.gif->SHeight;
  info->format = Format::kGif;
  return CheckDimensions(info->width, info->height);
}

Status DecodeGif(const uint8_t* data, size_t size, Picture* out) {
  if (!data || !out) return Status::kInvalidArgument;
  if (!IsGif(data, size)) return Status::kUnknownFormat;
  Source source{data, size, 0, false};
  GifHandle h;
  if (Status s = Open(&source, &h); s != Status::kOk) return s;
  GifFileType* gif = h.gif;
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return Failure(source);
    if (type == TERMINATE_RECORD_TYPE) return Status::kCorrupt;  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return Failure(source);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return Failure(source);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return Failure(source);
    const GifImageDesc& d = gif->Image;
    if (d.Width <= 0 || d.Height <= 0) return Status::kCorrupt;
    // A frame larger than the screen (or a screen of 0) widens the canvas.
    const int64_t canvas_w = std::max<int64_t>(gif->SWidth, int64_t(d.Left) + d.Width);
    const int64_t canvas_h = std::max<int64_t>(gif->SHeight, int64_t(d.Top) + d.Height);
    if (Status s = CheckDimensions(canvas_w, canvas_h); s != Status::kOk) return s;
    if (Status s = CheckDimensions(d.Width, d.Height); s != Status::kOk) return s;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return Status::kCorrupt;
    std::vector<GifPixelType> line;
    try {
      out->width = static_cast<int32_t>(canvas_w);
      out->height = static_cast<int32_t>(canvas_h);
      out->rgba.assign(static_cast<size_t>(canvas_w) * canvas_h * 4, 0);
      line.resize(static_cast<size_t>(d.Width));
    } catch (const std::bad_alloc&) {
      return Status::kOutOfMemory;
    }
    // Interlaced rows come in four passes.
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (int y = start; y < d.Height; y += step) {
        if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return Failure(source);
        uint8_t* dst = out->rgba.data() + ((static_cast<size_t>(d.Top) + y) * canvas_w + d.Left) * 4;
        for (int x = 0; x < d.Width; ++x, dst += 4) {
          const int index = line[static_cast<size_t>(x)];
          if (index == transparent) continue;
          if (index >= map->ColorCount) {
            dst[3] = 255;  // an index past the table shows black
            continue;
          }
          dst[0] = map->Colors[index].Red;
          dst[1] = map->Colors[index].Green;
          dst[2] = map->Colors[index].Blue;
          dst[3] = 255;
        }
      }
    }
    return Status::kOk;
  }
}

}  // namespace imaging
