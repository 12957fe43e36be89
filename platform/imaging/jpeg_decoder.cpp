// JPEG through libjpeg-turbo. Errors inside the library come back through
// longjmp to the one frame that called it; that frame holds no object with a
// destructor, and the output buffer lives in the caller.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/imaging/decoders.h"

namespace imaging {

namespace {

// Progressive pictures can hold any number of scans, each a full pass of
// work; real encoders write about a dozen.
constexpr int kMaxScans = 256;

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  bool hit_end;  // the data ran out and the library padded it
  bool too_many_scans;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && err->pub.msg_code == JWRN_JPEG_EOF) err->hit_end = true;
}

void OnProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->too_many_scans = true;
    ERREXIT(cinfo, JERR_NOT_COMPILED);
  }
}

// Runs the whole decode. Only plain data lives in this frame (longjmp target).
Status Run(const uint8_t* data, size_t size, int scale_denom, ImageInfo* info, Picture* out) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.hit_end = false;
  err.too_many_scans = false;
  progress.progress_monitor = OnProgress;
  volatile Status status = Status::kCorrupt;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return err.too_many_scans ? Status::kCorrupt : (err.hit_end ? Status::kTruncated : status);
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  cinfo.mem->max_memory_to_use = 512L << 20;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return Status::kCorrupt;
  }
  if (err.hit_end) {
    jpeg_destroy_decompress(&cinfo);
    return Status::kTruncated;
  }
  const Status dims = CheckDimensions(cinfo.image_width, cinfo.image_height);
  if (info) {
    info->width = static_cast<int32_t>(cinfo.image_width);
    info->height = static_cast<int32_t>(cinfo.image_height);
    info->format = Format::kJpeg;
  }
  if (dims != Status::kOk || !out) {
    jpeg_destroy_decompress(&cinfo);
    return dims;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(scale_denom);
  jpeg_calc_output_dimensions(&cinfo);
  status = Status::kOutOfMemory;
  try {
    out->width = static_cast<int32_t>(cinfo.output_width);
    out->height = static_cast<int32_t>(cinfo.output_height);
    out->rgba.assign(static_cast<size_t>(out->width) * out->height * 4, 0);
  } catch (const std::bad_alloc&) {
    jpeg_destroy_decompress(&cinfo);
    return Status::kOutOfMemory;
  }
  status = Status::kCorrupt;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4 || static_cast<int32_t>(cinfo.output_width) != out->width ||
      static_cast<int32_t>(cinfo.output_height) != out->height) {
    jpeg_destroy_decompress(&cinfo);
    return Status::kCorrupt;
  }
  const size_t stride = static_cast<size_t>(out->width) * 4;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->rgba.data() + stride * cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
  }
  const bool complete = cinfo.output_scanline == cinfo.output_height;
  if (complete) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (!complete) return Status::kCorrupt;
  if (err.hit_end) return Status::kTruncated;
  if (cmyk) {
    // Inverted CMYK as Adobe writes it: each channel times K.
    uint8_t* p = out->rgba.data();
    for (size_t i = 0, n = out->rgba.size() / 4; i < n; ++i, p += 4) {
      const unsigned k = p[3];
      p[0] = static_cast<uint8_t>(p[0] * k / 255);
      p[1] = static_cast<uint8_t>(p[1] * k / 255);
      p[2] = static_cast<uint8_t>(p[2] * k / 255);
      p[3] = 255;
    }
  }
  return Status::kOk;
}

}  // namespace

Status JpegInfo(const uint8_t* data, size_t size, ImageInfo* info) {
  if (!data || size < 4) return Status::kTruncated;
  return Run(data, size, 1, info, nullptr);
}

Status DecodeJpeg(const uint8_t* data, size_t size, int scale_denom, Picture* out) {
  if (!data || size < 4 || !out) return Status::kInvalidArgument;
  if (scale_denom != 1 && scale_denom != 2 && scale_denom != 4 && scale_denom != 8) scale_denom = 1;
  return Run(data, size, scale_denom, nullptr, out);
}

}  // namespace imaging
