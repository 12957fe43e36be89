#include "platform/imaging/image.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "platform/imaging/decoders.h"
#include "platform/os/file.h"

namespace imaging {

namespace {

constexpr int64_t kDefaultMaxPixels = int64_t(64) << 20;
std::atomic<int64_t> g_max_pixels{kDefaultMaxPixels};

// Largest picture file read whole into memory.
constexpr uint64_t kMaxFileBytes = uint64_t(256) << 20;

Format Sniff(const uint8_t* d, size_t n) {
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return Format::kJpeg;
  if (n >= 8 && d[0] == 0x89 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G') return Format::kPng;
  if (n >= 6 && d[0] == 'G' && d[1] == 'I' && d[2] == 'F') return Format::kGif;
  if (n >= 2 && d[0] == 'B' && d[1] == 'M') return Format::kBmp;
  return Format::kUnknown;
}

// One axis of a resampling: for each output pixel a run of source pixels and
// their weights (16.16, summing to 65536).
struct Taps {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<int32_t> weights;  // count[i] entries per output i, in order
  std::vector<size_t> offset;
};

Taps MakeTaps(int32_t src, int32_t dst) {
  Taps t;
  t.first.resize(static_cast<size_t>(dst));
  t.count.resize(static_cast<size_t>(dst));
  t.offset.resize(static_cast<size_t>(dst));
  const double scale = static_cast<double>(src) / dst;
  for (int32_t i = 0; i < dst; ++i) {
    std::vector<double> w;
    int32_t lo;
    if (scale > 1.0) {
      // Reduction: the average of the source span the output pixel covers.
      const double a = i * scale, b = (i + 1) * scale;
      lo = static_cast<int32_t>(std::floor(a));
      const int32_t hi = std::min(src, static_cast<int32_t>(std::ceil(b)));
      for (int32_t s = lo; s < hi; ++s) w.push_back(std::min<double>(b, s + 1) - std::max<double>(a, s));
    } else {
      // Enlargement (or same size): bilinear between the two nearest centres.
      const double c = (i + 0.5) * scale - 0.5;
      const double f = c - std::floor(c);
      lo = static_cast<int32_t>(std::floor(c));
      if (lo < 0) {
        lo = 0;
        w = {1.0};
      } else if (lo >= src - 1) {
        lo = src - 1;
        w = {1.0};
      } else {
        w = {1.0 - f, f};
      }
    }
    double sum = 0;
    for (double v : w) sum += v;
    t.first[static_cast<size_t>(i)] = lo;
    t.count[static_cast<size_t>(i)] = static_cast<int32_t>(w.size());
    t.offset[static_cast<size_t>(i)] = t.weights.size();
    int32_t given = 0;
    for (size_t k = 0; k < w.size(); ++k) {
      int32_t q = static_cast<int32_t>(std::lround(w[k] / sum * 65536.0));
      if (k + 1 == w.size()) q = 65536 - given;
      given += q;
      t.weights.push_back(q);
    }
  }
  return t;
}

}  // namespace

const char* StatusText(Status s) {
  switch (s) {
    case Status::kOk: return "ok";
    case Status::kUnknownFormat: return "not a JPEG, PNG, GIF or BMP picture";
    case Status::kCorrupt: return "corrupt picture data";
    case Status::kTruncated: return "picture data cut short";
    case Status::kTooLarge: return "picture dimensions beyond the limit";
    case Status::kOutOfMemory: return "out of memory";
    case Status::kNotFound: return "file not found or unreadable";
    case Status::kInvalidArgument: return "invalid argument";
  }
  return "unknown";
}

int64_t MaxDecodePixels() { return g_max_pixels.load(std::memory_order_relaxed); }

void SetMaxDecodePixels(int64_t pixels) {
  g_max_pixels.store(pixels > 0 ? pixels : kDefaultMaxPixels, std::memory_order_relaxed);
}

Status CheckDimensions(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return Status::kCorrupt;
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > MaxDecodePixels()) {
    return Status::kTooLarge;
  }
  return Status::kOk;
}

Status ProbeImage(const uint8_t* data, size_t size, ImageInfo* info) {
  if (!data || !info) return Status::kInvalidArgument;
  *info = ImageInfo();
  ImageInfo found;
  Status s = Status::kUnknownFormat;
  switch (Sniff(data, size)) {
    case Format::kJpeg: s = JpegInfo(data, size, &found); break;
    case Format::kPng: s = PngInfo(data, size, &found); break;
    case Format::kGif: s = GifInfo(data, size, &found); break;
    case Format::kBmp: s = BmpInfo(data, size, &found); break;
    case Format::kUnknown: break;
  }
  if (s == Status::kOk) *info = found;
  return s;
}

std::unique_ptr<Image> Image::FromBuffer(const uint8_t* data, size_t size, Status* status) {
  Status local;
  Status& s = status ? *status : local;
  try {
    std::unique_ptr<Image> image(new Image);
    s = ProbeImage(data, size, &image->info_);
    if (s != Status::kOk) return nullptr;
    image->bytes_.assign(data, data + size);
    return image;
  } catch (const std::bad_alloc&) {
    s = Status::kOutOfMemory;
    return nullptr;
  }
}

std::unique_ptr<Image> Image::FromFile(const ov::String& path, Status* status) {
  std::vector<uint8_t> bytes;
  if (!ov::ReadWholeFile(path, &bytes, kMaxFileBytes) || bytes.empty()) {
    if (status) *status = Status::kNotFound;
    return nullptr;
  }
  return FromBuffer(bytes.data(), bytes.size(), status);
}

Status Image::Decode(Picture* out) const { return DecodeAtLeast(0, 0, out); }

Status Image::DecodeAtLeast(int32_t min_width, int32_t min_height, Picture* out) const {
  if (!out) return Status::kInvalidArgument;
  try {
    if (decoded_) {
      *out = *decoded_;
      return Status::kOk;
    }
    const uint8_t* d = bytes_.data();
    const size_t n = bytes_.size();
    switch (info_.format) {
      case Format::kJpeg: {
        // The largest reduction that still gives at least the asked size.
        int denom = 1;
        for (int k : {8, 4, 2}) {
          const int64_t w = (int64_t(info_.width) + k - 1) / k, h = (int64_t(info_.height) + k - 1) / k;
          if (min_width > 0 && min_height > 0 && w >= min_width && h >= min_height) {
            denom = k;
            break;
          }
        }
        return DecodeJpeg(d, n, denom, out);
      }
      case Format::kPng: return DecodePng(d, n, out);
      case Format::kGif: return DecodeGif(d, n, out);
      case Format::kBmp: return DecodeBmp(d, n, out);
      case Format::kUnknown: break;
    }
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  return Status::kUnknownFormat;
}

Status Resample(const Picture& src, int32_t width, int32_t height, Picture* out) {
  if (!out || width <= 0 || height <= 0 || src.width <= 0 || src.height <= 0 ||
      src.rgba.size() != static_cast<size_t>(src.width) * src.height * 4) {
    return Status::kInvalidArgument;
  }
  if (Status s = CheckDimensions(width, height); s != Status::kOk) return s;
  try {
    if (width == src.width && height == src.height) {
      *out = src;
      return Status::kOk;
    }
    const Taps tx = MakeTaps(src.width, width), ty = MakeTaps(src.height, height);
    // Horizontal pass into premultiplied 16.16 sums, then vertical.
    std::vector<uint32_t> mid(static_cast<size_t>(width) * src.height * 4);
    for (int32_t y = 0; y < src.height; ++y) {
      const uint8_t* row = src.rgba.data() + static_cast<size_t>(y) * src.width * 4;
      uint32_t* m = mid.data() + static_cast<size_t>(y) * width * 4;
      for (int32_t x = 0; x < width; ++x, m += 4) {
        uint64_t acc[4] = {0, 0, 0, 0};
        const size_t o = tx.offset[static_cast<size_t>(x)];
        for (int32_t k = 0; k < tx.count[static_cast<size_t>(x)]; ++k) {
          const uint8_t* p = row + static_cast<size_t>(tx.first[static_cast<size_t>(x)] + k) * 4;
          const uint64_t w = static_cast<uint64_t>(tx.weights[o + static_cast<size_t>(k)]);
          const uint64_t wa = w * p[3];
          acc[0] += wa * p[0];
          acc[1] += wa * p[1];
          acc[2] += wa * p[2];
          acc[3] += wa;
        }
        // Colour kept as colour*alpha/255 in 8.8 fixed point; alpha in 8.8.
        m[0] = static_cast<uint32_t>(acc[0] / 255 >> 8);
        m[1] = static_cast<uint32_t>(acc[1] / 255 >> 8);
        m[2] = static_cast<uint32_t>(acc[2] / 255 >> 8);
        m[3] = static_cast<uint32_t>(acc[3] >> 8);
      }
    }
    out->width = width;
    out->height = height;
    out->rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* d = out->rgba.data() + static_cast<size_t>(y) * width * 4;
      const size_t o = ty.offset[static_cast<size_t>(y)];
      for (int32_t x = 0; x < width; ++x, d += 4) {
        uint64_t acc[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < ty.count[static_cast<size_t>(y)]; ++k) {
          const uint32_t* m = mid.data() + (static_cast<size_t>(ty.first[static_cast<size_t>(y)] + k) * width + x) * 4;
          const uint64_t w = static_cast<uint64_t>(ty.weights[o + static_cast<size_t>(k)]);
          for (int c = 0; c < 4; ++c) acc[c] += w * m[c];
        }
        // acc: 8.8 values times 16.16 weights.
        const uint64_t alpha = acc[3];
        if (alpha == 0) continue;
        for (int c = 0; c < 3; ++c) {
          d[c] = static_cast<uint8_t>(std::min<uint64_t>(255, (acc[c] * 255 + alpha / 2) / alpha));
        }
        d[3] = static_cast<uint8_t>(std::min<uint64_t>(255, (alpha + (uint64_t(1) << 23)) >> 24));
      }
    }
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  return Status::kOk;
}

Status Image::Draw(gfx::HDC dc, const gfx::Rect& dst) const {
  if (!dc || !dc->surface()) return Status::kInvalidArgument;
  const int64_t w = int64_t(dst.right) - dst.left, h = int64_t(dst.bottom) - dst.top;
  if (w <= 0 || h <= 0) return Status::kInvalidArgument;
  if (Status s = CheckDimensions(w, h); s != Status::kOk) return s;
  Picture whole, sized;
  if (Status s = DecodeAtLeast(static_cast<int32_t>(w), static_cast<int32_t>(h), &whole); s != Status::kOk) return s;
  if (Status s = Resample(whole, static_cast<int32_t>(w), static_cast<int32_t>(h), &sized); s != Status::kOk) {
    return s;
  }
  gfx::BlendRgba(dc, dst.left, dst.top, sized.width, sized.height, sized.rgba.data(),
                 static_cast<ptrdiff_t>(sized.width) * 4);
  return Status::kOk;
}

std::unique_ptr<Image> Image::GetThumbnail(int32_t width, int32_t height, Status* status) const {
  Status local;
  Status& s = status ? *status : local;
  s = CheckDimensions(width, height);
  if (s != Status::kOk) return nullptr;
  try {
    Picture whole;
    auto sized = std::make_shared<Picture>();
    s = DecodeAtLeast(width, height, &whole);
    if (s == Status::kOk) s = Resample(whole, width, height, sized.get());
    if (s != Status::kOk) return nullptr;
    std::unique_ptr<Image> thumb(new Image);
    thumb->info_ = {width, height, info_.format};
    thumb->decoded_ = std::move(sized);
    return thumb;
  } catch (const std::bad_alloc&) {
    s = Status::kOutOfMemory;
    return nullptr;
  }
}

}  // namespace imaging
