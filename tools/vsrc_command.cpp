// ovtool vsrc FILE OUT: reads a video clip through engine::OpenVideoSource, as
// the video mixer does, and writes every frame's bytes to OUT as the source
// delivers them (RGB565, rows of ((width + 1) & ~1) pixels, in the order
// IsBottomUp names). Standard output gets the size and row order, then one
// line per frame: its index, time (ms) and byte count. A still picture is
// written once.
#include <cstdio>
#include <memory>

#include "engine/video_source_factory.h"
#include "media/decoder_source.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

constexpr uint32_t kStillTime = 0xFFFFFFFFu;  // the time a picture source reports

int RunVsrc(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ovtool vsrc FILE OUT\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("vsrc", argv[1])) return 1;
  std::unique_ptr<media::DecoderSource> source =
      engine::OpenVideoSource(ov::String::FromUtf8Lossy(argv[1]), nullptr, -1, 1);
  if (!source) {
    std::fprintf(stderr, "vsrc: %s has no video source\n", argv[1]);
    return 1;
  }
  media::MediaFormat format;
  if (!source->GetFormat(&format) || format.width == 0 || format.height == 0) {
    std::fprintf(stderr, "vsrc: %s: no picture size\n", argv[1]);
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "vsrc: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%ux%u %s\n", format.width, format.height, source->IsBottomUp() ? "bottom-up" : "top-down");
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0, time = 0;
  bool failed = false;
  unsigned count = 0;
  while (source->ReadVideoFrame(&frame, &bytes, &time, 0)) {
    if (!frame || bytes == 0) continue;
    failed |= std::fwrite(frame.get(), 1, bytes, out) != bytes;
    std::printf("frame %u %u ms %u bytes\n", count++, time, bytes);
    if (time == kStillTime) break;  // a still picture gives the same frame forever
  }
  failed |= std::fclose(out) != 0;
  if (failed) {
    std::fprintf(stderr, "vsrc: writing %s failed\n", argv[2]);
    return 1;
  }
  if (count == 0) {
    std::fprintf(stderr, "vsrc: %s: no frame\n", argv[1]);
    return 1;
  }
  return 0;
}

}  // namespace

OVTOOL_COMMAND(vsrc, "vsrc FILE OUT  write the frames of a video clip's source (OpenVideoSource) with their times",
               RunVsrc);
