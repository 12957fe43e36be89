// ovtool vdec: decodes a video stream with our decoders, writing planar
// YUV 4:2:0 and/or RGB565 frames at the display size.
//
//   ovtool vdec [--frames N] [--postfilter L] IN [OUT.yuv] [--rgb565 OUT.rgb]
//
// IN is an elementary stream or the MPEG-4 video track of an MP4/3GP file,
// chosen by its extension from kFormats below.
// Pictures are handed out at the size rounded up to 16 and cropped here to the
// display size that the tool reads from the stream's own headers.
//
// Adding a format: write a StreamDecodeFn that feeds the stream through the
// codec's factory and slots as the video-track sources do, and add one line to
// kFormats.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "tools/mp4_video_track.h"
#include "tools/tool_command.h"

namespace {

struct VdecOptions {
  uint32_t postfilter_level = 0;
  long max_frames = -1;
};

// Receives each decoded picture with the display size to crop it to.
// Returns false to stop decoding.
using PictureSink = std::function<bool(const videodec::DecodedPicture&, int display_w, int display_h)>;
// Decodes a whole elementary stream; 0 on success, else prints and returns 1.
using StreamDecodeFn = int (*)(const std::vector<uint8_t>& stream, const VdecOptions& options,
                               const PictureSink& sink);

// Display size from the first H.263 picture header (ITU-T H.263 5.1.3 and
// 5.1.4): a source format of the baseline PTYPE, or of PLUSPTYPE with its
// custom picture format. False when the stream does not start with one.
bool H263DisplaySize(const std::vector<uint8_t>& s, int* w, int* h) {
  size_t bit = 0;
  auto read = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      const size_t byte = bit >> 3;
      v = (v << 1) | (byte < s.size() ? (s[byte] >> (7 - (bit & 7))) & 1u : 0u);
    }
    return v;
  };
  size_t start = 0;
  while (start + 3 <= s.size() && !(s[start] == 0 && s[start + 1] == 0 && (s[start + 2] & 0xFC) == 0x80)) ++start;
  if (start + 3 > s.size()) return false;
  bit = start * 8 + 22 + 8;
  const uint32_t ptype = read(8);
  static const int kFormats[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  uint32_t format = ptype & 7;
  if (format >= 1 && format <= 5) {
    *w = kFormats[format][0];
    *h = kFormats[format][1];
    return true;
  }
  if (format != 7 || read(3) != 1) return false;  // UFEP must be 1 on the first picture
  const uint32_t opptype = read(18);
  format = opptype >> 15;
  read(9);                   // MPPTYPE
  if (read(1)) read(2);      // CPM, PSBI
  if (format >= 1 && format <= 5) {
    *w = kFormats[format][0];
    *h = kFormats[format][1];
    return true;
  }
  if (format != 6) return false;
  read(4);  // pixel aspect ratio
  *w = static_cast<int>((read(9) + 1) * 4);
  read(1);
  *h = static_cast<int>(read(9) * 4);
  return *w > 0 && *h > 0;
}

// H.263 through the calling contract of the video-track sources, with the
// whole stream as one sample.
int DecodeH263Stream(const std::vector<uint8_t>& stream, const VdecOptions& options, const PictureSink& sink) {
  int display_w = 0, display_h = 0;
  if (!H263DisplaySize(stream, &display_w, &display_h)) {
    std::fprintf(stderr, "vdec: no H.263 picture header\n");
    return 1;
  }
  videodec::VideoDecoder* dec = nullptr;
  if (videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0) != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: cannot create the H.263 decoder\n");
    return 1;
  }
  dec->SetDecoderParam(dec, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  dec->SetDecoderParam(dec, videodec::VDEC_PARAM_POSTFILTER_LEVEL, options.postfilter_level);
  uint32_t offset = 0;
  const uint32_t size = static_cast<uint32_t>(stream.size());
  bool open = false;  // a picture has been (partly) decoded and not handed out
  bool stop = false;
  while (offset < size && !stop) {
    uint32_t length = size - offset;
    const int32_t r = dec->DecodeFrame(dec, stream.data() + offset, &length);
    offset += length;
    if (r == videodec::VDEC_OK) {
      open = true;
      continue;  // more segments of the picture may follow
    }
    if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) {
      videodec::DecodedPicture* pic = nullptr;
      if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) == videodec::VDEC_OK && pic)
        stop = !sink(*pic, display_w, display_h);
      open = false;
      continue;
    }
    std::fprintf(stderr, "vdec: decode error %d at byte %u\n", r, offset);
    if (length == 0) ++offset;  // make progress past what the decoder refused
  }
  if (open && !stop) {
    videodec::DecodedPicture* pic = nullptr;
    if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) == videodec::VDEC_OK && pic)
      sink(*pic, display_w, display_h);
  }
  dec->DestroyDecoder(dec);
  return 0;
}

// MPEG-4 Part 2 through the calling contract of the video-track sources:
// the decoder is created from the configuration bytes, each sample is fed to
// DecodeFrame until used up and VDEC_PARAM_FINISH_PICTURE gives its picture.
int DecodeMpeg4Samples(const std::vector<uint8_t>& config, const std::vector<std::vector<uint8_t>>& samples,
                       const VdecOptions& options, const PictureSink& sink) {
  uint16_t w = 0, h = 0;
  if (!videodec::Mpeg4ParseLayerSize(config.data(), static_cast<uint32_t>(config.size()), &w, &h)) {
    std::fprintf(stderr, "vdec: no MPEG-4 video object layer header\n");
    return 1;
  }
  std::vector<uint8_t> cfg(config);
  uint32_t cfg_len = static_cast<uint32_t>(cfg.size());
  videodec::VideoDecoder* dec = nullptr;
  const int32_t created = videodec::gCreateMPEG4VideoDecoder(&dec, cfg.data(), &cfg_len, 0);
  if (created != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: the MPEG-4 decoder refuses the stream headers (%d)\n", created);
    return 1;
  }
  dec->SetDecoderParam(dec, videodec::VDEC_PARAM_POSTFILTER_LEVEL, options.postfilter_level);
  const int display_w = w & ~1, display_h = h & ~1;
  bool stop = false;
  for (size_t i = 0; i < samples.size() && !stop; ++i) {
    const auto& sample = samples[i];
    uint32_t offset = 0;
    const uint32_t size = static_cast<uint32_t>(sample.size());
    bool failed = false;
    while (offset < size) {
      uint32_t length = size - offset;
      const int32_t r = dec->DecodeFrame(dec, sample.data() + offset, &length);
      offset += length;
      if (r == videodec::VDEC_ERR_STREAM) {
        failed = true;
        break;
      }
      if (length == 0 && r != videodec::VDEC_PICTURE_OPEN) {
        dec->ResetDecoder(dec);
        failed = true;
        break;
      }
      if (r != videodec::VDEC_OK && r != videodec::VDEC_PICTURE_OPEN && r != videodec::VDEC_NEXT_PICTURE) {
        failed = true;
        break;
      }
      if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) break;
    }
    if (failed) {
      std::fprintf(stderr, "vdec: sample %zu not decoded\n", i);
      continue;
    }
    videodec::DecodedPicture* pic = nullptr;
    if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) == videodec::VDEC_OK && pic)
      stop = !sink(*pic, display_w, display_h);
  }
  dec->DestroyDecoder(dec);
  return 0;
}

// An MPEG-4 elementary stream (.m4v, .cmp): the headers in front of the first
// group of VOPs or VOP are the configuration; a sample per VOP.
int DecodeMpeg4Stream(const std::vector<uint8_t>& stream, const VdecOptions& options, const PictureSink& sink) {
  auto start_code = [&](size_t i, uint8_t code) {
    return i + 4 <= stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == code;
  };
  size_t first = 0;
  while (first + 4 <= stream.size() && !start_code(first, 0xB3) && !start_code(first, 0xB6)) ++first;
  if (first + 4 > stream.size()) first = stream.size();
  const std::vector<uint8_t> config(stream.begin(), stream.begin() + static_cast<long>(first));
  std::vector<std::vector<uint8_t>> samples;
  size_t cur = first;
  bool seen_vop = false;
  for (size_t i = first; i + 4 <= stream.size(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
    const uint8_t code = stream[i + 3];
    if (code == 0xB6) {
      if (seen_vop) {
        samples.emplace_back(stream.begin() + static_cast<long>(cur), stream.begin() + static_cast<long>(i));
        cur = i;
      }
      seen_vop = true;
    } else if ((code == 0xB3 || code == 0xB0 || (code & 0xF0) == 0x20) && seen_vop) {
      // Headers in front of the next VOP begin its sample.
      samples.emplace_back(stream.begin() + static_cast<long>(cur), stream.begin() + static_cast<long>(i));
      cur = i;
      seen_vop = false;
    }
  }
  if (cur < stream.size()) samples.emplace_back(stream.begin() + static_cast<long>(cur), stream.end());
  return DecodeMpeg4Samples(config, samples, options, sink);
}

// The MPEG-4 video track of an MP4/3GP file.
int DecodeMpeg4Track(const std::vector<uint8_t>& file, const VdecOptions& options, const PictureSink& sink) {
  const ovtool::Mp4VideoTrack track = ovtool::ReadMp4VideoTrack(file);
  if (!track.Valid()) {
    std::fprintf(stderr, "vdec: no MPEG-4 video track\n");
    return 1;
  }
  std::vector<std::vector<uint8_t>> samples;
  for (size_t i = 0; i < track.sizes.size(); ++i) {
    const auto begin = file.begin() + static_cast<long>(track.offsets[i]);
    samples.emplace_back(begin, begin + track.sizes[i]);
  }
  return DecodeMpeg4Samples(track.config, samples, options, sink);
}

struct Format {
  const char* extension;  // lower case, with the dot
  const char* name;
  StreamDecodeFn decode;
};

// Elementary-stream formats by file extension.
const Format kFormats[] = {
    {".263", "H.263", DecodeH263Stream},
    {".h263", "H.263", DecodeH263Stream},
    {".m4v", "MPEG-4 Part 2", DecodeMpeg4Stream},
    {".cmp", "MPEG-4 Part 2", DecodeMpeg4Stream},
    {".mp4", "MPEG-4 Part 2 track", DecodeMpeg4Track},
    {".3gp", "MPEG-4 Part 2 track", DecodeMpeg4Track},
    {".3g2", "MPEG-4 Part 2 track", DecodeMpeg4Track},
    {".mov", "MPEG-4 Part 2 track", DecodeMpeg4Track},
};

std::string LowerExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int RunVdec(int argc, char** argv) {
  VdecOptions options;
  std::string in, out_yuv, out_rgb;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rgb565" && i + 1 < argc) {
      out_rgb = argv[++i];
    } else if (a == "--frames" && i + 1 < argc) {
      options.max_frames = std::strtol(argv[++i], nullptr, 0);
    } else if (a == "--postfilter" && i + 1 < argc) {
      options.postfilter_level = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    } else if (in.empty()) {
      in = a;
    } else if (out_yuv.empty()) {
      out_yuv = a;
    } else {
      std::fprintf(stderr, "vdec: unexpected argument '%s'\n", a.c_str());
      return 2;
    }
  }
  if (in.empty() || (out_yuv.empty() && out_rgb.empty())) {
    std::fprintf(stderr, "usage: ovtool vdec [--frames N] [--postfilter L] IN [OUT.yuv] [--rgb565 OUT.rgb]\n");
    return 2;
  }
  const std::string ext = LowerExtension(in);
  const Format* format = nullptr;
  for (const Format& f : kFormats) {
    if (ext == f.extension) format = &f;
  }
  if (!format) {
    std::fprintf(stderr, "vdec: unknown stream type '%s'\n", ext.c_str());
    return 1;
  }
  std::ifstream file(in, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "vdec: cannot read %s\n", in.c_str());
    return 1;
  }
  const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  FILE* yuv = out_yuv.empty() ? nullptr : std::fopen(out_yuv.c_str(), "wb");
  FILE* rgb = out_rgb.empty() ? nullptr : std::fopen(out_rgb.c_str(), "wb");
  if ((!out_yuv.empty() && !yuv) || (!out_rgb.empty() && !rgb)) {
    std::fprintf(stderr, "vdec: cannot write the output\n");
    if (yuv) std::fclose(yuv);
    if (rgb) std::fclose(rgb);
    return 1;
  }
  long frames = 0;
  bool write_failed = false;
  std::vector<uint16_t> pixels;
  const PictureSink sink = [&](const videodec::DecodedPicture& pic, int w, int h) {
    w = std::min<int>(w, pic.width);
    h = std::min<int>(h, pic.height);
    if (yuv) {
      for (int r = 0; r < h; ++r) write_failed |= std::fwrite(pic.y + r * pic.width, 1, w, yuv) != static_cast<size_t>(w);
      const int cw = (w + 1) / 2, ch = (h + 1) / 2;
      for (const uint8_t* plane : {pic.u, pic.v})
        for (int r = 0; r < ch; ++r)
          write_failed |= std::fwrite(plane + r * (pic.width / 2), 1, cw, yuv) != static_cast<size_t>(cw);
    }
    if (rgb) {
      // Top-down rows of ((w + 1) & ~1) pixels, the padding pixel included.
      const size_t pitch = static_cast<size_t>((w + 1) & ~1);
      pixels.assign(pitch * h, 0);
      const videodec::YuvFrame frame = videodec::AsYuvFrame(pic);
      videodec::ConvertYUV420toRGB565TopDown(&frame, pixels.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h), 1);
      write_failed |= std::fwrite(pixels.data(), 2, pixels.size(), rgb) != pixels.size();
    }
    ++frames;
    return options.max_frames < 0 || frames < options.max_frames;
  };
  int status = format->decode(stream, options, sink);
  if (yuv && std::fclose(yuv) != 0) write_failed = true;
  if (rgb && std::fclose(rgb) != 0) write_failed = true;
  if (write_failed) {
    std::fprintf(stderr, "vdec: writing the output failed\n");
    status = 1;
  }
  std::fprintf(stderr, "vdec: %s, %ld frames\n", format->name, frames);
  return status;
}

}  // namespace

OVTOOL_COMMAND(vdec, "vdec [--frames N] [--postfilter L] IN [OUT.yuv] [--rgb565 OUT.rgb]  decode a video stream", RunVdec);
