// ovtool imgconv: converts one raw picture between the layouts of libimageproc
// and writes raw bytes or a PNG, so that a person can look at the results.
//
//   ovtool imgconv [--rotate T] [--scale WxH] FROM TO WxH IN OUT
//
// FROM: i420 yv12 yuv422p uyvy yuy2 rgb565 rgb565bu bgr24
// TO:   i420 rgb565 rgb565bu rgb888 bgr24 uyvy yuyv y41p png
// The picture goes through planar 4:2:0 (turned by --rotate 1-3, then scaled
// by --scale) on the way. Even sizes only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

struct I420 {
  int w = 0, h = 0;
  std::vector<uint8_t> y, u, v;
  YuvFrame frame{};
  I420(int width, int height)
      : w(width), h(height), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {
    frame = {y.data(), u.data(), v.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  }
};

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// PNG: 8-bit RGB, one zlib stream of stored (uncompressed) deflate blocks.
uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  if (!table[1]) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBe32(png, Crc32(png.data() + start, png.size() - start));
}

std::vector<uint8_t> EncodePng(const uint8_t* rgb, int w, int h) {
  std::vector<uint8_t> raw;  // each row: filter byte 0, then R, G, B
  for (int r = 0; r < h; ++r) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb + size_t(r) * 3 * w, rgb + size_t(r + 1) * 3 * w);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    if (raw.empty()) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(z, (b << 16) | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, static_cast<uint32_t>(w));
  PutBe32(ihdr, static_cast<uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  return png;
}

// Reads IN (layout `from`, w x h) into planar 4:2:0.
bool ToI420(const std::string& from, const std::vector<uint8_t>& in, I420& out) {
  const size_t n = size_t(out.w) * out.h;
  auto need = [&](size_t bytes) {
    if (in.size() >= bytes) return true;
    std::fprintf(stderr, "imgconv: %s of %dx%d needs %zu bytes, the input has %zu\n", from.c_str(), out.w, out.h,
                 bytes, in.size());
    return false;
  };
  if (from == "i420" || from == "yv12") {
    if (!need(n + 2 * out.u.size())) return false;
    std::memcpy(out.y.data(), in.data(), n);
    std::memcpy((from == "i420" ? out.u : out.v).data(), in.data() + n, out.u.size());
    std::memcpy((from == "i420" ? out.v : out.u).data(), in.data() + n + out.u.size(), out.u.size());
    return true;
  }
  if (from == "yuv422p") {
    if (!need(2 * n)) return false;
    std::vector<uint8_t> copy(in.begin(), in.begin() + 2 * n);
    YuvFrame src{copy.data(), copy.data() + n, copy.data() + n + n / 2, static_cast<uint16_t>(out.w),
                 static_cast<uint16_t>(out.h)};
    return gYUV422htoYUV420(&src, &out.frame) == 0;
  }
  if (from == "uyvy") return need(2 * n) && gUY1VY2ToYUV420(in.data(), &out.frame, out.w, out.h) == 0;
  if (from == "yuy2") return need(2 * n) && gY1UY2VToYV12(in.data(), &out.frame, out.w, out.h) == 0;
  if (from == "rgb565" || from == "rgb565bu") {
    if (!need(2 * n)) return false;
    std::vector<uint16_t> rgb(n);
    std::memcpy(rgb.data(), in.data(), 2 * n);
    if (from == "rgb565bu") {
      gOvRGB565toYUV420(rgb.data(), &out.frame, out.w, out.h);
      return true;
    }
    std::vector<uint8_t> i420(n + 2 * (n / 4));
    gOvzRGB565toYUV420_TopDown(rgb.data(), i420.data(), out.w, out.h);
    std::memcpy(out.y.data(), i420.data(), n);
    std::memcpy(out.u.data(), i420.data() + n, n / 4);
    std::memcpy(out.v.data(), i420.data() + n + n / 4, n / 4);
    return true;
  }
  if (from == "bgr24") {
    if (!need(3 * n)) return false;
    std::vector<uint8_t> i420(n + 2 * (n / 4));
    gBGR24INTtoYUV420Planar(in.data(), i420.data(), out.w, out.h, 3 * out.w);
    std::memcpy(out.y.data(), i420.data(), n);
    std::memcpy(out.u.data(), i420.data() + n, n / 4);
    std::memcpy(out.v.data(), i420.data() + n + n / 4, n / 4);
    return true;
  }
  std::fprintf(stderr, "imgconv: unknown input layout '%s'\n", from.c_str());
  return false;
}

bool FromI420(const std::string& to, I420& pic, std::vector<uint8_t>* out) {
  const int w = pic.w, h = pic.h;
  const size_t n = size_t(w) * h;
  if (to == "i420") {
    out->insert(out->end(), pic.y.begin(), pic.y.end());
    out->insert(out->end(), pic.u.begin(), pic.u.end());
    out->insert(out->end(), pic.v.begin(), pic.v.end());
    return true;
  }
  if (to == "rgb565" || to == "rgb565bu") {
    std::vector<int16_t> rgb(n);
    gOvYUV420toRGB565TopDown(&pic.frame, rgb.data(), w, h, to == "rgb565" ? 1 : 0);
    out->resize(2 * n);
    std::memcpy(out->data(), rgb.data(), 2 * n);
    return true;
  }
  if (to == "rgb888" || to == "png") {
    out->resize(3 * n);
    gOvYUV420toRGB888TopDown(&pic.frame, out->data(), w, h, 1);
    if (to == "png") *out = EncodePng(out->data(), w, h);
    return true;
  }
  if (to == "bgr24") {
    out->resize(3 * n);
    return gYUV420toBGR24(&pic.frame, out->data(), 3 * w) == 0;
  }
  if (to == "uyvy") {
    out->resize(2 * n);
    return gYUV420toUYVY(&pic.frame, out->data(), w, h, 0, 0, 0, 0, w, h) == 0;
  }
  if (to == "yuyv") {
    out->resize(2 * n);
    return gYUVPlanartoYUYV(&pic.frame, out->data(), w, h) == 0;
  }
  if (to == "y41p") {
    out->resize(size_t(h / 2) * 2 * (12 * size_t(w / 8)));
    return gYUV420toY41P(&pic.frame, out->data(), w) == 0;
  }
  std::fprintf(stderr, "imgconv: unknown output layout '%s'\n", to.c_str());
  return false;
}

bool ParseSize(const char* s, int* w, int* h) {
  return std::sscanf(s, "%dx%d", w, h) == 2 && *w > 0 && *h > 0 && *w <= 65535 && *h <= 65535 &&
         (*w % 2 == 0) && (*h % 2 == 0);
}

int RunImgconv(int argc, char** argv) {
  int rotate = 0, scaleW = 0, scaleH = 0, i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--rotate") == 0) {
      rotate = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--scale") == 0) {
      if (!ParseSize(argv[i + 1], &scaleW, &scaleH)) {
        std::fprintf(stderr, "imgconv: bad --scale %s (even WxH)\n", argv[i + 1]);
        return 2;
      }
    } else {
      break;
    }
  }
  int w = 0, h = 0;
  if (argc - i != 5 || !ParseSize(argv[i + 2], &w, &h) || rotate < 0 || rotate > 3) {
    std::fprintf(stderr,
                 "usage: ovtool imgconv [--rotate 0-3] [--scale WxH] FROM TO WxH IN OUT\n"
                 "  FROM: i420 yv12 yuv422p uyvy yuy2 rgb565 rgb565bu bgr24\n"
                 "  TO:   i420 rgb565 rgb565bu rgb888 bgr24 uyvy yuyv y41p png\n"
                 "  even sizes only\n");
    return 2;
  }
  const std::string from = argv[i], to = argv[i + 1];
  std::vector<uint8_t> in;
  if (!ovtool::ReadInputFile("imgconv", argv[i + 3], &in)) return 1;
  I420 pic(w, h);
  if (!ToI420(from, in, pic)) return 1;
  if (rotate != 0) {
    I420 turned((rotate & 1) ? h : w, (rotate & 1) ? w : h);
    gRotateFrame(&pic.frame, &turned.frame, rotate);
    pic = std::move(turned);
  }
  if (scaleW) {
    I420 scaled(scaleW, scaleH);
    gScaleFrame(&pic.frame, &scaled.frame);
    pic = std::move(scaled);
  }
  std::vector<uint8_t> out;
  if (!FromI420(to, pic, &out)) return 1;
  if (!WriteFile(argv[i + 4], out)) {
    std::fprintf(stderr, "imgconv: cannot write %s\n", argv[i + 4]);
    return 1;
  }
  std::printf("%s %dx%d -> %s %dx%d, %zu bytes\n", from.c_str(), w, h, to.c_str(), pic.w, pic.h, out.size());
  return 0;
}

}  // namespace

OVTOOL_COMMAND(imgconv, "imgconv [--rotate T] [--scale WxH] FROM TO WxH IN OUT  convert a raw picture (or to PNG)",
               RunImgconv);
