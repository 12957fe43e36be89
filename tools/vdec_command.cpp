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
// Adding a format: write a StreamDecodeFn that feeds the stream through the
// codec's factory and slots as the video-track sources do, and add one line to
// kFormats.
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

// H.263 through the calling contract of the video-track sources: per frame,
// DecodeFrame from the current offset of the current sample until the sample
// is used up or the decoder stops in front of the next picture
// (VDEC_PICTURE_OPEN, VDEC_NEXT_PICTURE); VDEC_INPUT_EXHAUSTED drops the rest
// of the sample; then VDEC_PARAM_FINISH_PICTURE gives the picture. The rest
// of a sample is kept for the next frame.
class H263FrameFeeder {
 public:
  // Returns the next sample, or false at the end of the stream.
  using NextSample = std::function<bool(std::vector<uint8_t>* sample)>;

  explicit H263FrameFeeder(NextSample next) : next_(std::move(next)) {}
  ~H263FrameFeeder() {
    if (dec_) dec_->DestroyDecoder(dec_);
  }

  bool Create(uint32_t postfilter_level) {
    if (videodec::gCreateH263VideoDecoder(&dec_, nullptr, 0, 0, 0, 0) != videodec::VDEC_OK) return false;
    dec_->SetDecoderParam(dec_, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
    dec_->SetDecoderParam(dec_, videodec::VDEC_PARAM_POSTFILTER_LEVEL, postfilter_level);
    return true;
  }

  // The next picture; null at the end of the stream. Frames that fail are
  // reported and skipped.
  const videodec::DecodedPicture* NextFrame() {
    for (;;) {
      if (offset_ >= sample_.size()) {
        if (!next_(&sample_)) return nullptr;
        offset_ = 0;
        continue;
      }
      int32_t r = videodec::VDEC_OK;
      // A hostile sample cannot keep the loop going: each call consumes bytes
      // or ends the frame.
      while (offset_ < sample_.size()) {
        uint32_t length = static_cast<uint32_t>(sample_.size() - offset_);
        r = dec_->DecodeFrame(dec_, sample_.data() + offset_, &length);
        offset_ += length;
        if (r == videodec::VDEC_INPUT_EXHAUSTED) {
          offset_ = sample_.size();
          break;
        }
        if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) break;
        if (r != videodec::VDEC_OK) {
          if (length == 0) offset_ = sample_.size();
          break;
        }
      }
      if (r != videodec::VDEC_OK && r != videodec::VDEC_PICTURE_OPEN && r != videodec::VDEC_NEXT_PICTURE) {
        std::fprintf(stderr, "vdec: frame failed (%d)\n", r);
        continue;
      }
      videodec::DecodedPicture* pic = nullptr;
      if (dec_->GetDecoderParam(dec_, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) == videodec::VDEC_OK && pic)
        return pic;
      std::fprintf(stderr, "vdec: no picture for the frame\n");
    }
  }

 private:
  NextSample next_;
  videodec::VideoDecoder* dec_ = nullptr;
  std::vector<uint8_t> sample_;
  size_t offset_ = 0;
};

int RunH263Feeder(H263FrameFeeder& feeder, const VdecOptions& options, int display_w, int display_h,
                  const PictureSink& sink) {
  if (!feeder.Create(options.postfilter_level)) {
    std::fprintf(stderr, "vdec: cannot create the H.263 decoder\n");
    return 1;
  }
  while (const videodec::DecodedPicture* pic = feeder.NextFrame()) {
    if (!sink(*pic, display_w, display_h)) break;
  }
  return 0;
}

// An H.263 elementary stream, as one sample.
int DecodeH263Stream(const std::vector<uint8_t>& stream, const VdecOptions& options, const PictureSink& sink) {
  int display_w = 0, display_h = 0;
  if (!H263DisplaySize(stream, &display_w, &display_h)) {
    std::fprintf(stderr, "vdec: no H.263 picture header\n");
    return 1;
  }
  bool given = false;
  H263FrameFeeder feeder([&](std::vector<uint8_t>* sample) {
    if (given) return false;
    *sample = stream;
    given = true;
    return true;
  });
  return RunH263Feeder(feeder, options, display_w, display_h, sink);
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

// The MPEG-4 video track of an MP4/3GP file: the first video track with an
// "mp4v" entry, configured from that entry's "esds".
int DecodeMpeg4Track(media::Mp4Reader* reader, const VdecOptions& options, const PictureSink& sink) {
  const media::Mp4SampleEntry* entry = nullptr;
  const int track = reader->FindConfiguredTrack(media::FourCC("vide"), media::FourCC("mp4v"), &entry);
  if (track < 0) {
    std::fprintf(stderr, "vdec: no MPEG-4 video track\n");
    return 1;
  }
  std::vector<std::vector<uint8_t>> samples;
  const std::unique_ptr<media::TrackCursor> cursor = reader->OpenTrack(track);
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0, time = 0;
  while (cursor && reader->ReadSample(cursor.get(), &buffer, &bytes, &time)) {
    samples.emplace_back(buffer.get(), buffer.get() + bytes);
  }
  return DecodeMpeg4Samples(entry->decoder_config, samples, options, sink);
}

// Hands the picture of the last decoded access unit to `sink`, cropped by the
// stream information's cropping words (planes moved to the crop origin,
// strides unchanged). False when the sink wants no more pictures.
bool HandOutH264Picture(videodec::VideoDecoder* dec, const videodec::H264StreamInfo& info, const PictureSink& sink) {
  videodec::DecodedPicture* pic = nullptr;
  if (dec->GetDecoderParam(dec, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) != videodec::VDEC_OK || !pic)
    return true;
  videodec::DecodedPicture cropped = *pic;
  cropped.y += info.crop_top * pic->width + info.crop_left;
  cropped.u += (info.crop_top / 2) * (pic->width / 2) + info.crop_left / 2;
  cropped.v += (info.crop_top / 2) * (pic->width / 2) + info.crop_left / 2;
  return sink(cropped, info.display_width, info.display_height);
}

// H.264 Annex B through the calling contract of the video-track sources: the
// factory starts at the first sequence parameter set, then one access unit
// per DecodeFrameOut and the picture through VDEC_H264_PARAM_OUTPUT_PICTURE,
// cropped by the stream information's cropping words.
int DecodeH264Stream(const std::vector<uint8_t>& stream, const VdecOptions&, const PictureSink& sink) {
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
  videodec::VideoDecoder* dec = nullptr;
  videodec::H264StreamInfo info{};
  uint32_t length = static_cast<uint32_t>(stream.size() - start);
  const int32_t created = videodec::gCreateH264VideoDecoder(&dec, stream.data() + start, &length, &info, 0, 0,
                                                            videodec::H264_FRAMING_ANNEX_B);
  if (created != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: the H.264 decoder refused the stream (%d)\n", created);
    return 1;
  }
  bool stop = false;
  pos = start;
  while (!stop && videodec::h264::NextAnnexBAccessUnit(stream.data(), stream.size(), pos, &b, &e)) {
    pos = e;
    uint32_t n = static_cast<uint32_t>(e - b);
    const int32_t r = dec->DecodeFrameOut(dec, stream.data() + b, &n, nullptr);
    if (r != videodec::VDEC_OK) {
      std::fprintf(stderr, "vdec: decode error %d at byte %zu\n", r, b);
      continue;  // the source drops the sample
    }
    stop = !HandOutH264Picture(dec, info, sink);
  }
  dec->DestroyDecoder(dec);
  return 0;
}

// An H.264 track of an MP4/3GP file as the video-track source feeds it: the
// factory gets the track's parameter sets only, every sample (the first one
// included) goes through DecodeFrameOut, and the picture comes from
// VDEC_H264_PARAM_OUTPUT_PICTURE. Returns -1 when the file has no H.264 track.
int DecodeH264Mp4(const std::string& path, const PictureSink& sink) {
  media::Mp4Reader reader(ov::String::FromUtf8Lossy(path));
  if (!reader.Open() || !reader.avc()) return -1;
  const int track = reader.avc_track();
  const media::Mp4Track* t = reader.track(track);
  const media::Mp4SampleEntry* entry = nullptr;
  if (t)
    for (const media::Mp4SampleEntry& e : t->entries)
      if (e.has_avc_config && !entry) entry = &e;
  if (!entry || entry->sps.empty()) {
    std::fprintf(stderr, "vdec: the H.264 track has no parameter sets\n");
    return 1;
  }
  // The configuration: every SPS and PPS behind a 2-byte length.
  std::vector<uint8_t> config;
  for (const auto* sets : {&entry->sps, &entry->pps})
    for (const std::vector<uint8_t>& ps : *sets) {
      config.push_back(static_cast<uint8_t>(ps.size() >> 8));
      config.push_back(static_cast<uint8_t>(ps.size()));
      config.insert(config.end(), ps.begin(), ps.end());
    }
  videodec::VideoDecoder* dec = nullptr;
  videodec::H264StreamInfo info{};
  uint32_t length = static_cast<uint32_t>(config.size());
  const uint32_t nal_length_size = entry->nal_length_size ? entry->nal_length_size : 4;
  const int32_t created = videodec::gCreateH264VideoDecoder(&dec, config.data(), &length, &info, nal_length_size, 2,
                                                            videodec::H264_FRAMING_LENGTH_PREFIXED);
  if (created != videodec::VDEC_OK) {
    std::fprintf(stderr, "vdec: the H.264 decoder refused the track (%d)\n", created);
    return 1;
  }
  auto cursor = reader.OpenTrack(track);
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  bool stop = false;
  while (!stop && cursor && reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
    uint32_t n = bytes;
    if (n == 0 || dec->DecodeFrameOut(dec, sample.get(), &n, nullptr) != videodec::VDEC_OK) continue;
    stop = !HandOutH264Picture(dec, info, sink);
  }
  dec->DestroyDecoder(dec);
  return 0;
}

// The video track of an MP4/3GP file, read with the media layer's MP4 reader:
// H.263 ("s263", "h263" sample entries) here, MPEG-4 Part 2 by its own path.
int DecodeMp4VideoTrack(const std::vector<uint8_t>&, const VdecOptions& options, const PictureSink& sink) {
  media::Mp4Reader reader(ov::String::FromUtf8Lossy(options.input));
  uint32_t width = 0, height = 0;
  int track = -1;
  if (!reader.Open() || !reader.GetVideoSize(&width, &height, &track) || track < 0) {
    std::fprintf(stderr, "vdec: no video track\n");
    return 1;
  }
  const media::Mp4Track* t = reader.track(track);
  const uint32_t format = t && !t->entries.empty() ? t->entries[0].format : 0;
  if (format != media::FourCC("s263") && format != media::FourCC("h263")) return DecodeMpeg4Track(&reader, options, sink);
  std::unique_ptr<media::TrackCursor> cursor = reader.OpenTrack(track);
  if (!cursor) {
    std::fprintf(stderr, "vdec: cannot open the video track\n");
    return 1;
  }
  H263FrameFeeder feeder([&](std::vector<uint8_t>* sample) {
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t bytes = 0, time = 0;
    if (!reader.ReadSample(cursor.get(), &buffer, &bytes, &time) || !buffer) return false;
    sample->assign(buffer.get(), buffer.get() + bytes);
    return true;
  });
  // Pictures are cropped to the track's own size.
  return RunH263Feeder(feeder, options, static_cast<int>(width), static_cast<int>(height), sink);
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
  // MP4/3GP: an H.264 track is read through the media library's MP4 reader;
  // other files go on to the format's own track reader.
  const char* name = format->name;
  int status = -1;
  if (format->decode == DecodeMp4VideoTrack) {
    status = DecodeH264Mp4(in, sink);
    if (status >= 0) name = "H.264 track";
  }
  if (status < 0) status = format->decode(stream, options, sink);
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
