// PNG through libpng: reading with every transform to 8-bit RGBA, and a small
// writer for RGB565 bitmaps. libpng reports errors by longjmp to the frame
// that called it; those frames hold no object with a destructor.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <png.h>

#include "platform/imaging/decoders.h"

namespace imaging {

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool ran_out;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (count > r->size - r->pos) {
    r->ran_out = true;
    png_error(png, "truncated");
  }
  std::memcpy(out, r->data + r->pos, count);
  r->pos += count;
}

void IgnoreWarning(png_structp, png_const_charp) {}

// libpng sizes the buffer of a text, palette-suggestion or Exif chunk from the
// chunk's declared length, and its own length limit only warns. No buffer it
// needs for a picture within kMaxPictureSide comes near this, so a larger
// request is refused: libpng then skips that chunk or fails cleanly.
constexpr png_alloc_size_t kMaxLibpngAllocation = png_alloc_size_t(16) << 20;

png_voidp LimitedMalloc(png_structp, png_alloc_size_t size) {
  return size <= kMaxLibpngAllocation ? std::malloc(size) : nullptr;
}

void LimitedFree(png_structp, png_voidp p) { std::free(p); }

// rows: filled by the caller's vector; kept outside this frame.
Status Run(const uint8_t* data, size_t size, ImageInfo* info, Picture* out, std::vector<png_bytep>* rows) {
  Reader reader{data, size, 0, false};
  png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnoreWarning, nullptr,
                                             LimitedMalloc, LimitedFree);
  if (!png) return Status::kOutOfMemory;
  png_infop pinfo = png_create_info_struct(png);
  if (!pinfo) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return Status::kOutOfMemory;
  }
  volatile Status failure = Status::kCorrupt;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return reader.ran_out ? Status::kTruncated : failure;
  }
  png_set_read_fn(png, &reader, ReadBytes);
  png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
  png_set_chunk_malloc_max(png, 8u << 20);  // text and profile chunks
  png_read_info(png, pinfo);
  png_uint_32 width = 0, height = 0;
  int depth = 0, color = 0, interlace = 0;
  png_get_IHDR(png, pinfo, &width, &height, &depth, &color, &interlace, nullptr, nullptr);
  const Status dims = CheckDimensions(width, height);
  if (info) {
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->format = Format::kPng;
  }
  if (dims != Status::kOk || !out) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return dims;
  }
  png_set_expand(png);
  png_set_scale_16(png);
  if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, pinfo);
  if (png_get_rowbytes(png, pinfo) != static_cast<size_t>(width) * 4) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return Status::kCorrupt;
  }
  failure = Status::kOutOfMemory;
  try {
    out->width = static_cast<int32_t>(width);
    out->height = static_cast<int32_t>(height);
    out->rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    rows->resize(height);
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return Status::kOutOfMemory;
  }
  failure = Status::kCorrupt;
  for (png_uint_32 y = 0; y < height; ++y) (*rows)[y] = out->rgba.data() + static_cast<size_t>(y) * width * 4;
  png_read_image(png, rows->data());
  png_destroy_read_struct(&png, &pinfo, nullptr);
  return Status::kOk;
}

bool IsPng(const uint8_t* data, size_t size) { return size >= 8 && png_sig_cmp(data, 0, 8) == 0; }

}  // namespace

Status PngInfo(const uint8_t* data, size_t size, ImageInfo* info) {
  if (!data || !IsPng(data, size)) return Status::kUnknownFormat;
  std::vector<png_bytep> rows;
  return Run(data, size, info, nullptr, &rows);
}

Status DecodePng(const uint8_t* data, size_t size, Picture* out) {
  if (!data || !out) return Status::kInvalidArgument;
  if (!IsPng(data, size)) return Status::kUnknownFormat;
  std::vector<png_bytep> rows;
  return Run(data, size, nullptr, out, &rows);
}

namespace {

bool WriteRows(FILE* file, int32_t width, int32_t height, std::vector<png_bytep>* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnoreWarning);
  if (!png) return false;
  png_infop pinfo = png_create_info_struct(png);
  if (!pinfo || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &pinfo);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, pinfo, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, pinfo);
  png_write_image(png, rows->data());
  png_write_end(png, pinfo);
  png_destroy_write_struct(&png, &pinfo);
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const gfx::Bitmap& bitmap) {
  std::vector<uint8_t> rgb(static_cast<size_t>(bitmap.width()) * bitmap.height() * 3);
  std::vector<png_bytep> rows(static_cast<size_t>(bitmap.height()));
  for (int32_t y = 0; y < bitmap.height(); ++y) {
    uint8_t* d = rgb.data() + static_cast<size_t>(y) * bitmap.width() * 3;
    rows[static_cast<size_t>(y)] = d;
    const uint16_t* s = bitmap.row(y);
    for (int32_t x = 0; x < bitmap.width(); ++x) {
      *d++ = gfx::Red565(s[x]);
      *d++ = gfx::Green565(s[x]);
      *d++ = gfx::Blue565(s[x]);
    }
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = WriteRows(file, bitmap.width(), bitmap.height(), &rows);
  return std::fclose(file) == 0 && ok;
}

}  // namespace imaging
