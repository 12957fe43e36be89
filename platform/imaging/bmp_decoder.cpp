// BMP: our own reader. File header (14 bytes), then an info header of 12
// (core), 40, 52, 56, 108 or 124 bytes; 1, 4, 8, 16, 24 and 32 bits per
// pixel; uncompressed, bit fields, RLE8 and RLE4. Rows are bottom-up unless
// the height is negative. Every offset and length is checked against the
// data before it is read.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/imaging/decoders.h"

namespace imaging {

namespace {

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

struct Header {
  int64_t width = 0;
  int64_t height = 0;  // positive
  bool top_down = false;
  uint32_t bpp = 0;
  uint32_t compression = kBiRgb;
  uint32_t masks[4] = {0, 0, 0, 0};  // r, g, b, a
  uint32_t pixel_offset = 0;
  size_t palette_offset = 0;
  uint32_t palette_entry = 4;  // bytes per palette entry
  uint32_t palette_count = 0;
};

Status ParseHeader(const uint8_t* data, size_t size, Header* h) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') return Status::kUnknownFormat;
  if (size < 18) return Status::kTruncated;
  h->pixel_offset = Le32(data + 10);
  const uint32_t info_size = Le32(data + 14);
  if (info_size != 12 && info_size != 40 && info_size != 52 && info_size != 56 && info_size != 64 &&
      info_size != 108 && info_size != 124) {
    return Status::kCorrupt;
  }
  if (size < 14 + static_cast<size_t>(info_size)) return Status::kTruncated;
  const uint8_t* p = data + 14;
  uint32_t colors_used = 0;
  if (info_size == 12) {
    h->width = Le16(p + 4);
    h->height = Le16(p + 6);
    h->bpp = Le16(p + 10);
    h->palette_entry = 3;
  } else {
    h->width = static_cast<int32_t>(Le32(p + 4));
    const int32_t height = static_cast<int32_t>(Le32(p + 8));
    h->top_down = height < 0;
    h->height = height < 0 ? -static_cast<int64_t>(height) : height;
    h->bpp = Le16(p + 14);
    h->compression = Le32(p + 16);
    colors_used = Le32(p + 32);
    if (info_size >= 52) {
      for (int i = 0; i < 3; ++i) h->masks[i] = Le32(p + 40 + 4 * i);
    }
    if (info_size >= 56) h->masks[3] = Le32(p + 52);
  }
  size_t after = 14 + static_cast<size_t>(info_size);
  if (info_size == 40 && (h->compression == kBiBitfields || h->compression == kBiAlphaBitfields)) {
    const size_t n = h->compression == kBiAlphaBitfields ? 4 : 3;
    if (size < after + 4 * n) return Status::kTruncated;
    for (size_t i = 0; i < n; ++i) h->masks[i] = Le32(data + after + 4 * i);
    after += 4 * n;
  }
  if (h->compression == kBiAlphaBitfields) h->compression = kBiBitfields;
  if (h->width <= 0 || h->height <= 0) return Status::kCorrupt;
  switch (h->bpp) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return Status::kCorrupt;
  }
  if ((h->compression == kBiRle8 && h->bpp != 8) || (h->compression == kBiRle4 && h->bpp != 4) ||
      (h->compression == kBiBitfields && h->bpp != 16 && h->bpp != 32) ||
      (h->compression > kBiBitfields) || ((h->compression == kBiRle8 || h->compression == kBiRle4) && h->top_down)) {
    return Status::kCorrupt;
  }
  if (h->bpp <= 8) {
    const uint32_t max = 1u << h->bpp;
    h->palette_count = colors_used == 0 || colors_used > max ? max : colors_used;
    h->palette_offset = after;
    // A palette cut short by the pixel data keeps only the entries before it.
    const size_t end = std::min<size_t>(size, h->pixel_offset > after ? h->pixel_offset : size);
    const size_t room = end > after ? (end - after) / h->palette_entry : 0;
    h->palette_count = static_cast<uint32_t>(std::min<size_t>(h->palette_count, room));
    if (h->palette_count == 0) return Status::kCorrupt;
  }
  if (h->compression == kBiRgb && h->bpp == 16) {
    h->masks[0] = 0x7C00;
    h->masks[1] = 0x03E0;
    h->masks[2] = 0x001F;
    h->masks[3] = 0;
  }
  if (h->pixel_offset >= size) return Status::kTruncated;
  return CheckDimensions(h->width, h->height);
}

// Channel extraction for bit-field pixels: shift down, then widen to 8 bits
// by repeating the top bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    while (bits < 32 - shift && ((m >> (shift + bits)) & 1)) ++bits;
  }
  uint8_t Get(uint32_t pixel) const {
    if (!mask) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    uint32_t out = 0;
    for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | v;
    const int total = ((8 + bits - 1) / bits) * bits;
    return static_cast<uint8_t>(out >> (total - 8));
  }
};

void PutPalette(const uint8_t* data, const Header& h, uint32_t index, uint8_t* dst) {
  if (index >= h.palette_count) index = 0;
  const uint8_t* e = data + h.palette_offset + static_cast<size_t>(index) * h.palette_entry;
  dst[0] = e[2];
  dst[1] = e[1];
  dst[2] = e[0];
  dst[3] = 255;
}

Status DecodeRle(const uint8_t* data, size_t size, const Header& h, Picture* out) {
  const size_t w = static_cast<size_t>(h.width), height = static_cast<size_t>(h.height);
  size_t pos = h.pixel_offset;
  size_t x = 0, y = 0;  // y counts rows from the bottom
  const bool rle4 = h.compression == kBiRle4;
  auto put = [&](uint32_t index) {
    if (x < w && y < height) PutPalette(data, h, index, out->rgba.data() + ((height - 1 - y) * w + x) * 4);
    ++x;
  };
  while (y < height) {
    if (pos + 2 > size) return Status::kTruncated;
    const uint8_t count = data[pos], value = data[pos + 1];
    pos += 2;
    if (count) {
      for (uint32_t i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return Status::kOk;
    } else if (value == 2) {  // delta
      if (pos + 2 > size) return Status::kTruncated;
      x += data[pos];
      y += data[pos + 1];
      pos += 2;
    } else {  // literal run of value pixels, padded to 16 bits
      const size_t bytes = rle4 ? (value + 1u) / 2 : value;
      if (pos + bytes > size) return Status::kTruncated;
      for (uint32_t i = 0; i < value; ++i) {
        put(rle4 ? ((i & 1) ? data[pos + i / 2] & 15 : data[pos + i / 2] >> 4) : data[pos + i]);
      }
      pos += (bytes + 1) & ~size_t(1);
    }
  }
  return Status::kOk;
}

}  // namespace

Status BmpInfo(const uint8_t* data, size_t size, ImageInfo* info) {
  if (!data) return Status::kInvalidArgument;
  Header h;
  const Status s = ParseHeader(data, size, &h);
  if (s != Status::kOk) return s;
  info->width = static_cast<int32_t>(h.width);
  info->height = static_cast<int32_t>(h.height);
  info->format = Format::kBmp;
  return Status::kOk;
}

Status DecodeBmp(const uint8_t* data, size_t size, Picture* out) {
  if (!data || !out) return Status::kInvalidArgument;
  Header h;
  if (Status s = ParseHeader(data, size, &h); s != Status::kOk) return s;
  const size_t w = static_cast<size_t>(h.width), height = static_cast<size_t>(h.height);
  const size_t stride = ((w * h.bpp + 31) / 32) * 4;
  const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  if (!rle && (size - h.pixel_offset) / stride < height) return Status::kTruncated;
  try {
    out->width = static_cast<int32_t>(w);
    out->height = static_cast<int32_t>(height);
    out->rgba.assign(w * height * 4, 0);
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  if (rle) {
    // Pixels the runs skip stay the first palette colour.
    for (size_t i = 0; i < w * height; ++i) PutPalette(data, h, 0, out->rgba.data() + i * 4);
    return DecodeRle(data, size, h, out);
  }
  const Channel r(h.masks[0]), g(h.masks[1]), b(h.masks[2]), a(h.masks[3]);
  const bool bitfields = h.bpp == 16 || (h.bpp == 32 && h.compression == kBiBitfields);
  bool any_alpha = false;
  for (size_t row = 0; row < height; ++row) {
    const uint8_t* src = data + h.pixel_offset + row * stride;
    uint8_t* dst = out->rgba.data() + (h.top_down ? row : height - 1 - row) * w * 4;
    for (size_t x = 0; x < w; ++x, dst += 4) {
      if (h.bpp <= 8) {
        const size_t bit = x * h.bpp;
        const uint32_t index = (src[bit / 8] >> (8 - h.bpp - bit % 8)) & ((1u << h.bpp) - 1);
        PutPalette(data, h, index, dst);
      } else if (bitfields) {
        const uint32_t p = h.bpp == 16 ? Le16(src + 2 * x) : Le32(src + 4 * x);
        dst[0] = r.Get(p);
        dst[1] = g.Get(p);
        dst[2] = b.Get(p);
        dst[3] = a.mask ? a.Get(p) : 255;
        any_alpha = any_alpha || (a.mask && dst[3] != 0);
      } else {
        const uint8_t* s = src + x * (h.bpp / 8);
        dst[0] = s[2];
        dst[1] = s[1];
        dst[2] = s[0];
        dst[3] = 255;
      }
    }
  }
  // An alpha mask whose every value is 0 is an unused channel, not a
  // transparent picture.
  if (a.mask && !any_alpha) {
    for (size_t i = 3; i < out->rgba.size(); i += 4) out->rgba[i] = 255;
  }
  return Status::kOk;
}

}  // namespace imaging
