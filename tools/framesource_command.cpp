// ovtool framesource --config W0,..,W10 --frames N [--video-delay MS] OUTDIR:
// loads the framesource plug-in (from ../lib beside ovtool, as the program
// does), initialises it with a test callback and the eleven words, registers
// it, and runs the encoding graph with a pass-through media object per
// stream and a sample sink, until "Frame Filter Encoding Done" and the
// graph's completion. Video id 255 leaves the video pin unconnected, audio
// id 255 the audio pin.
//
// The callback renders N numbered frames (time round(k x 1000 / fps) ms, the frame grid): a
// background whose green follows k and whose blue grows down the rows, a
// red 8x8 marker top-left, and k's 32 bits as white or black pixels from
// column 8 of the top row; and per frame a chunk of a 440 Hz tone (left
// 8000, right 4000 peak; 16-bit stereo, or the output format when Channels
// is 2) of (bytes per second / fps) rounded up to 4 bytes.
//
// Writes to OUTDIR: callback_video.raw and callback_audio.raw (what the
// callback handed over), video.raw and audio.raw (every delivered sample,
// joined), video.txt and audio.txt (per sample: index, start, stop, bytes).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filters/framesource/framesource.h"
#include "platform/com/class_table.h"
#include "platform/dshow/harness_graph.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/library.h"
#include "tools/tool_command.h"

namespace {

struct ToolSource {
  FrameFilterConfig config{};
  int frames = 0;
  int next = 0;
  double phase = 0;
  std::vector<unsigned char> video;  // as rendered, top-down
  std::vector<unsigned char> audio;  // as handed over
};

ToolSource* g_source = nullptr;

void PutPixel(unsigned char* frame, uint32_t width, uint32_t x, uint32_t y, uint16_t v) {
  unsigned char* p = frame + (static_cast<size_t>(y) * width + x) * 2;
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void RenderFrame(int k, const FrameFilterConfig& c, unsigned char* frame) {
  for (uint32_t y = 0; y < c.Height; ++y) {
    const uint16_t blue = static_cast<uint16_t>(c.Height > 1 ? y * 31 / (c.Height - 1) : 0);
    const uint16_t bg = static_cast<uint16_t>(((static_cast<uint32_t>(k) * 5 % 64) << 5) | blue);
    for (uint32_t x = 0; x < c.Width; ++x) PutPixel(frame, c.Width, x, y, bg);
  }
  for (uint32_t y = 0; y < 8 && y < c.Height; ++y) {
    for (uint32_t x = 0; x < 8 && x < c.Width; ++x) PutPixel(frame, c.Width, x, y, 0xF800);
  }
  for (uint32_t bit = 0; bit < 32 && 8 + bit < c.Width; ++bit) {
    PutPixel(frame, c.Width, 8 + bit, 0, (static_cast<uint32_t>(k) >> bit) & 1 ? 0xFFFF : 0x0000);
  }
}

int ToolCallback(unsigned char** video, unsigned char** audio, int* audio_bytes, int* time_ms) {
  ToolSource& s = *g_source;
  const FrameFilterConfig& c = s.config;
  if (s.next >= s.frames) return 0;
  const int k = s.next++;
  *time_ms = static_cast<int>((2 * int64_t{k} * 1000 + c.FramesPerSecond) / (2 * int64_t{c.FramesPerSecond}));
  if (*video) {
    RenderFrame(k, c, *video);
    s.video.insert(s.video.end(), *video, *video + static_cast<size_t>(c.Width) * c.Height * 2);
  }
  const bool output_format = c.Channels == 2;
  const uint32_t bits = output_format ? c.BitsPerSample : 16;
  const uint32_t per_second = c.SampleRate * 2 * bits / 8;
  const uint32_t bytes = (per_second / c.FramesPerSecond + 3) & ~3u;
  auto* chunk = static_cast<unsigned char*>(::operator new(bytes));
  const uint32_t frame_bytes = 2 * bits / 8;
  for (uint32_t i = 0; i + frame_bytes <= bytes; i += frame_bytes) {
    const double v = std::sin(s.phase);
    s.phase += 2 * M_PI * 440.0 / c.SampleRate;
    const int left = static_cast<int>(std::lround(8000 * v));
    const int right = left / 2;
    if (bits == 8) {
      chunk[i] = static_cast<unsigned char>(128 + left / 256);
      chunk[i + 1] = static_cast<unsigned char>(128 + right / 256);
    } else {
      chunk[i] = static_cast<unsigned char>(left);
      chunk[i + 1] = static_cast<unsigned char>(left >> 8);
      chunk[i + 2] = static_cast<unsigned char>(right);
      chunk[i + 3] = static_cast<unsigned char>(right >> 8);
    }
  }
  s.audio.insert(s.audio.end(), chunk, chunk + bytes);
  *audio = chunk;
  *audio_bytes = static_cast<int>(bytes);
  return 1;
}

bool WriteAll(const std::string& path, const void* data, size_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
  return std::fclose(f) == 0 && ok;
}

bool WriteStream(const std::string& dir, const char* name, const std::vector<dshow::SinkSample>& samples) {
  std::vector<unsigned char> joined;
  std::string listing;
  for (size_t i = 0; i < samples.size(); ++i) {
    const dshow::SinkSample& s = samples[i];
    joined.insert(joined.end(), s.data.begin(), s.data.end());
    char line[96];
    std::snprintf(line, sizeof(line), "%zu %lld %lld %d\n", i, static_cast<long long>(s.start),
                  static_cast<long long>(s.stop), s.length);
    listing += line;
  }
  return WriteAll(dir + "/" + name + ".raw", joined.data(), joined.size()) &&
         WriteAll(dir + "/" + name + ".txt", listing.data(), listing.size());
}

bool ParseConfig(const char* text, FrameFilterConfig* c) {
  uint32_t words[11];
  int n = 0;
  const char* p = text;
  while (*p && n < 11) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(p, &end, 10);
    if (end == p) return false;
    words[n++] = static_cast<uint32_t>(v);
    p = *end == ',' ? end + 1 : end;
  }
  if (n != 11 || *p) return false;
  *c = FrameFilterConfig{words[0], words[1], words[2], words[3], words[4], words[5],
                         words[6], words[7], words[8], words[9], words[10]};
  return true;
}

int RunFramesource(int argc, char** argv) {
  ToolSource source;
  const char* out_dir = nullptr;
  uint32_t video_delay = 0;
  bool have_config = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
      have_config = ParseConfig(argv[++i], &source.config);
    } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      source.frames = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--video-delay") == 0 && i + 1 < argc) {
      video_delay = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else {
      out_dir = argv[i];
    }
  }
  if (!have_config || !out_dir || source.frames < 0) {
    std::fprintf(stderr, "usage: ovtool framesource --config W0,..,W10 --frames N [--video-delay MS] OUTDIR\n");
    return 2;
  }
  ov::CreateFolderTree(ov::String::FromUtf8Lossy(out_dir));
  g_source = &source;

  ov::Library lib;
  const ov::String app = ov::ApplicationFolder();
  if (!lib.Load(app + u"../lib/framesource.so") && !lib.Load(app + u"framesource.so")) {
    std::fprintf(stderr, "framesource: cannot load the plug-in: %s\n", lib.Error().c_str());
    return 1;
  }
  auto initialize = lib.Function<FramesourceInitializeFunction>("Initialize");
  auto register_server = lib.Function<com::DllRegisterServerFunction>("DllRegisterServer");
  if (!initialize || !register_server) {
    std::fprintf(stderr, "framesource: the plug-in lacks its exports\n");
    return 1;
  }
  if (initialize(ToolCallback, source.config) == 0) {
    std::fprintf(stderr, "framesource: Initialize refused the configuration\n");
    return 1;
  }
  if (com::Failed(register_server())) {
    std::fprintf(stderr, "framesource: DllRegisterServer failed\n");
    return 1;
  }
  ov::Event done;
  done.Create(false, false, u"Frame Filter Encoding Done");
  done.Reset();

  int result = 1;
  {
    com::ComPtr<dshow::IBaseFilter> filter;
    const com::HRESULT hr = com::CoCreateInstance(framesource::CLSID_FrameFilter, nullptr, com::CLSCTX_INPROC_SERVER,
                                                  dshow::IID_IBaseFilter, filter.ReceiveVoid());
    if (com::Failed(hr)) {
      std::fprintf(stderr, "framesource: cannot create the filter: 0x%08X\n", static_cast<unsigned>(hr));
      return 1;
    }
    const bool rgb555 = source.config.VideoCodecId == dshow::kVideoCodecWmv;
    const com::GUID* video = source.config.VideoCodecId == dshow::kCodecNone
                            ? nullptr
                            : rgb555 ? &dshow::MEDIATYPE_PrivateVideo : &dshow::MEDIATYPE_Video;
    const com::GUID* audio = source.config.AudioCodecId == dshow::kCodecNone ? nullptr : &dshow::MEDIATYPE_Audio;
    dshow::HarnessGraph graph;
    com::HRESULT built = graph.Build(filter.Get(), video, audio);
    if (com::Succeeded(built) && video) graph.Sink()->SetReceiveDelay(graph.VideoPin(), video_delay);
    if (com::Failed(built) || com::Failed(graph.Run())) {
      std::fprintf(stderr, "framesource: cannot build or run the graph: 0x%08X\n", static_cast<unsigned>(built));
      return 1;
    }
    // As the export job: wait for the filter's event, then for the graph.
    int waited = 0;
    while (done.Wait(1000) != ov::kWaitObject0 && ++waited < 600) {
    }
    int32_t code = 0;
    graph.WaitForCompletion(10000, &code);
    graph.Stop();
    std::printf("done event: %s\ncompletion: %d\n", waited < 600 ? "set" : "not set", code);
    std::vector<dshow::SinkSample> v, a;
    if (video) v = graph.Sink()->Samples(graph.VideoPin());
    if (audio) a = graph.Sink()->Samples(graph.AudioPin());
    std::printf("video samples: %zu\naudio samples: %zu\n", v.size(), a.size());
    const std::string dir = out_dir;
    const bool written = WriteStream(dir, "video", v) && WriteStream(dir, "audio", a) &&
                         WriteAll(dir + "/callback_video.raw", source.video.data(), source.video.size()) &&
                         WriteAll(dir + "/callback_audio.raw", source.audio.data(), source.audio.size());
    result = written && code == dshow::EC_COMPLETE && waited < 600 ? 0 : 1;
  }
  g_source = nullptr;
  return result;
}

}  // namespace

OVTOOL_COMMAND(framesource, "framesource --config W0,..,W10 --frames N [--video-delay MS] OUTDIR  run the source filter",
               RunFramesource);
