// ovtool vdec: decodes a video stream with our decoders, writing planar
// YUV 4:2:0 and/or RGB565 frames at the display size.
//
//   ovtool vdec [--frames N] [--postfilter L] IN [OUT.yuv] [--rgb565 OUT.rgb]
//
// IN is an elementary stream, or the H.263, MPEG-4 Part 2 or H.264 video
// track of an MP4/3GP file, chosen by its extension from kFormats below.
// Pictures are handed out at the size rounded up to 16 and cropped here to the
// display size: the track's size for MP4/3GP, else what the tool reads from
// the stream's own headers.
//
// The decoding loops are the video-track sources' own (media/video_frame_feeder.h);
// MP4/3GP tracks go through the sources themselves (media/video_track_source.h).
// Adding a format: write a StreamDecodeFn that feeds the stream through a
// feeder, and add one line to kFormats.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "media/byte_view.h"
#include "media/mp4_reader.h"
#include "media/video_frame_feeder.h"
#include "media/video_track_source.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

struct VdecOptions {
  std::string input;  // the path of IN
  uint32_t postfilter_level = 0;
  long max_frames = -1;
};

// Receives each decoded picture with the display size to crop it to.
// Returns false to stop decoding.
using PictureSink = std::function<bool(const videodec::DecodedPicture&, int display_w, int display_h)>;
// Decodes a whole elementary stream; 0 on success, else prints and returns 1.
// A decoder that finds the stream's kind itself names it in *name.
using StreamDecodeFn = int (*)(const std::vector<uint8_t>& stream, const VdecOptions& options,
                               const PictureSink& sink, const char** name);

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

// Runs a feeder to its end, handing each picture to `sink` cropped to the
// display size; a failed frame is reported and skipped (where the
// video-track sources end their clip).
int RunFeeder(media::VideoFrameFeeder& feeder, int display_w, int display_h, const PictureSink& sink,
              const std::function<void(int32_t)>& report) {
  media::FedPicture fed;
  for (;;) {
    const media::FeedStatus status = feeder.Next(&fed);
    if (status == media::FeedStatus::kEnd) return 0;
    if (status == media::FeedStatus::kFailed) {
      report(feeder.last_result());
      continue;
    }
    if (!sink(fed.picture, display_w, display_h)) return 0;
  }
}

// A provider over samples held in memory.
media::SampleProvider ProvideSamples(const std::vector<std::vector<uint8_t>>& samples, size_t* index) {
  return [&samples, index](media::CodedSample* out) {
    if (*index >= samples.size()) return false;
    const std::vector<uint8_t>& s = samples[(*index)++];
    out->data.reset(new uint8_t[s.size() + 1]);
    std::copy(s.begin(), s.end(), out->data.get());
    out->bytes = static_cast<uint32_t>(s.size());
    out->timeMs = 0;
    return true;
  };
}

// An H.263 elementary stream, as one sample.
int DecodeH263Stream(const std::vector<uint8_t>& stream, const VdecOptions& options, const PictureSink& sink,
                     const char**) {
  int display_w = 0, display_h = 0;
  if (!H263DisplaySize(stream, &display_w, &display_h)) {
    std::fprintf(stderr, "vdec: no H.263 picture header\n");
    return 1;
  }
  const std::vector<std::vector<uint8_t>> samples{stream};
  size_t index = 0;
  media::H263FrameFeeder feeder(ProvideSamples(samples, &index));
  if (!feeder.Create(options.postfilter_level)) {
    std::fprintf(stderr, "vdec: cannot create the H.263 decoder\n");
    return 1;
  }
  return RunFeeder(feeder, display_w, display_h, sink,
                   [](int32_t r) { std::fprintf(stderr, "vdec: frame failed (%d)\n", r); });
}

// MPEG-4 Part 2 samples: the decoder is created from the configuration bytes.
int DecodeMpeg4Samples(const std::vector<uint8_t>& config, const std::vector<std::vector<uint8_t>>& samples,
                       const VdecOptions& options, const PictureSink& sink) {
  uint16_t w = 0, h = 0;
  if (!videodec::Mpeg4ParseLayerSize(config.data(), static_cast<uint32_t>(config.size()), &w, &h)) {
    std::fprintf(stderr, "vdec: no MPEG-4 video object layer header\n");
    return 1;
  }
  size_t index = 0;
  media::Mpeg4FrameFeeder feeder(ProvideSamples(samples, &index));
  const int32_t created =
      feeder.Create(config.data(), static_cast<uint32_t>(config.size()), options.postfilter_level);
  if (created != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: the MPEG-4 decoder refuses the stream headers (%d)\n", created);
    return 1;
  }
  return RunFeeder(feeder, w & ~1, h & ~1, sink,
                   [&](int32_t) { std::fprintf(stderr, "vdec: sample %zu not decoded\n", index - 1); });
}

// An MPEG-4 elementary stream (.m4v, .cmp): the headers in front of the first
// group of VOPs or VOP are the configuration; a sample per VOP.
int DecodeMpeg4Stream(const std::vector<uint8_t>& stream, const VdecOptions& options, const PictureSink& sink,
                     const char**) {
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

// H.264 Annex B: the decoder starts at the first sequence parameter set, then
// one access unit per sample, cropped by the stream's cropping words.
int DecodeH264Stream(const std::vector<uint8_t>& stream, const VdecOptions&, const PictureSink& sink,
                     const char**) {
  size_t pos = 0, b = 0, e = 0, start = stream.size();
  while (videodec::h264::NextAnnexBNal(stream.data(), stream.size(), pos, &b, &e)) {
    if (e > b && (stream[b] & 31) == 7) {
      start = b - 3;
      break;
    }
    pos = e > pos ? e : pos + 1;
  }
  if (start >= stream.size()) {
    std::fprintf(stderr, "vdec: no H.264 sequence parameter set\n");
    return 1;
  }
  pos = start;
  size_t unit_start = start;
  media::H264FrameFeeder feeder([&](media::CodedSample* out) {
    if (!videodec::h264::NextAnnexBAccessUnit(stream.data(), stream.size(), pos, &b, &e)) return false;
    pos = e;
    unit_start = b;
    out->data.reset(new uint8_t[e - b + 1]);
    std::copy(stream.begin() + static_cast<long>(b), stream.begin() + static_cast<long>(e), out->data.get());
    out->bytes = static_cast<uint32_t>(e - b);
    out->timeMs = 0;
    return true;
  });
  const int32_t created = feeder.Create(stream.data() + start, static_cast<uint32_t>(stream.size() - start), 0, 0,
                                        videodec::H264_FRAMING_ANNEX_B);
  if (created != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: the H.264 decoder refused the stream (%d)\n", created);
    return 1;
  }
  return RunFeeder(feeder, feeder.info().display_width, feeder.info().display_height, sink, [&](int32_t r) {
    std::fprintf(stderr, "vdec: decode error %d at byte %zu\n", r, unit_start);
  });
}

// The video track of an MP4/3GP file through the media layer's video-track
// source (H.263, H.264 or MPEG-4 Part 2, by what the reader finds), its
// pictures cropped to the source's frame size.
int DecodeMp4VideoTrack(const std::vector<uint8_t>&, const VdecOptions& options, const PictureSink& sink,
                        const char** name) {
  const ov::String path = ov::String::FromUtf8Lossy(options.input);
  std::unique_ptr<media::VideoTrackSource> source =
      media::MakeVideoTrackSource(std::make_unique<media::Mp4Reader>(path));
  if (!source) {
    std::fprintf(stderr, "vdec: no video track\n");
    return 1;
  }
  *name = dynamic_cast<media::H263DecoderSource*>(source.get())   ? "H.263 track"
          : dynamic_cast<media::H264DecoderSource*>(source.get()) ? "H.264 track"
                                                                  : "MPEG-4 Part 2 track";
  source->SetPostfilterLevel(options.postfilter_level);
  if (!source->Open(path, 1)) {
    std::fprintf(stderr, "vdec: the %s cannot be decoded\n", *name);
    return 1;
  }
  const int display_w = static_cast<int>(source->width()), display_h = static_cast<int>(source->height());
  media::FedPicture fed;
  size_t sample = 0;
  for (;; ++sample) {
    int32_t result = 0;
    const media::FeedStatus status = source->NextPicture(&fed, &result);
    if (status == media::FeedStatus::kEnd) return 0;
    if (status == media::FeedStatus::kFailed) {
      std::fprintf(stderr, "vdec: frame %zu failed (%d)\n", sample, result);
      continue;
    }
    if (!sink(fed.picture, display_w, display_h)) return 0;
  }
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
    {".264", "H.264", DecodeH264Stream},
    {".h264", "H.264", DecodeH264Stream},
    {".jsv", "H.264", DecodeH264Stream},
    {".26l", "H.264", DecodeH264Stream},
    {".mp4", "MP4/3GP video track", DecodeMp4VideoTrack},
    {".3gp", "MP4/3GP video track", DecodeMp4VideoTrack},
    {".3g2", "MP4/3GP video track", DecodeMp4VideoTrack},
    {".mov", "MP4/3GP video track", DecodeMp4VideoTrack},
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
  options.input = in;
  const std::string ext = LowerExtension(in);
  const Format* format = nullptr;
  for (const Format& f : kFormats) {
    if (ext == f.extension) format = &f;
  }
  if (!format) {
    std::fprintf(stderr, "vdec: unknown stream type '%s'\n", ext.c_str());
    return 1;
  }
  std::vector<uint8_t> stream;
  if (!ovtool::ReadInputFile("vdec", in, &stream)) return 1;

  FILE* yuv = out_yuv.empty() ? nullptr : std::fopen(out_yuv.c_str(), "wb");
  FILE* rgb = out_rgb.empty() ? nullptr : std::fopen(out_rgb.c_str(), "wb");
  if ((!out_yuv.empty() && !yuv) || (!out_rgb.empty() && !rgb)) {
    std::fprintf(stderr, "vdec: cannot write %s\n", (!out_yuv.empty() && !yuv ? out_yuv : out_rgb).c_str());
    if (yuv && std::fclose(yuv) == 0) std::remove(out_yuv.c_str());
    if (rgb && std::fclose(rgb) == 0) std::remove(out_rgb.c_str());
    return 1;
  }
  long frames = 0;
  bool write_failed = false;
  std::vector<uint16_t> pixels;
  const PictureSink sink = [&](const videodec::DecodedPicture& pic, int w, int h) {
    w = std::min<int>(w, pic.width);
    h = std::min<int>(h, pic.height);
    if (yuv) {
      // A plane as wide as the rows written goes out in one call, which
      // stdio hands straight to the file; cropped planes row by row.
      const auto write_plane = [&](const uint8_t* plane, int stride, int pw, int ph) {
        if (pw == stride) {
          const size_t n = static_cast<size_t>(pw) * static_cast<size_t>(ph);
          write_failed |= std::fwrite(plane, 1, n, yuv) != n;
          return;
        }
        for (int r = 0; r < ph; ++r)
          write_failed |= std::fwrite(plane + r * stride, 1, pw, yuv) != static_cast<size_t>(pw);
      };
      write_plane(pic.y, pic.width, w, h);
      const int cw = (w + 1) / 2, ch = (h + 1) / 2;
      for (const uint8_t* plane : {pic.u, pic.v}) write_plane(plane, pic.width / 2, cw, ch);
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
  const char* name = format->name;
  const int status = format->decode(stream, options, sink, &name);
  if (yuv && std::fclose(yuv) != 0) write_failed = true;
  if (rgb && std::fclose(rgb) != 0) write_failed = true;
  // A failed decode leaves no output behind: a partial or empty file would
  // pass for a result.
  if (status != 0 || write_failed || frames == 0) {
    for (const std::string& out : {out_yuv, out_rgb}) {
      if (!out.empty()) std::remove(out.c_str());
    }
  }
  // A refusal ends with its reason as the last line.
  if (status != 0) return status;
  if (write_failed) {
    std::fprintf(stderr, "vdec: writing the output failed\n");
    return 1;
  }
  if (frames == 0) {
    std::fprintf(stderr, "vdec: %s: no frame decoded (%s)\n", in.c_str(), name);
    return 1;
  }
  std::fprintf(stderr, "vdec: %s, %ld frames\n", name, frames);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(vdec, "vdec [--frames N] [--postfilter L] IN [OUT.yuv] [--rgb565 OUT.rgb]  decode a video stream", RunVdec);
