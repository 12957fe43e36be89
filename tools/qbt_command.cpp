// ovtool qbt: writes ".qbt" animation clips for tests, fixtures and the media
// package.
//
//   ovtool qbt encode FRAMES.rgb565 WxH MS OUT.qbt
//
// FRAMES.rgb565 holds whole frames of W x H little-endian RGB565 pixels, row
// after row; MS is the frame duration in milliseconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/qbt_decoder.h"
#include "tools/qbt_encoder.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

int RunQbt(int argc, char** argv) {
  if (argc != 6 || std::strcmp(argv[1], "encode") != 0) {
    std::fprintf(stderr, "usage: ovtool qbt encode FRAMES.rgb565 WxH MS OUT.qbt\n");
    return 2;
  }
  unsigned w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(argv[3], "%ux%u%c", &w, &h, &tail) != 2 || !media::QbtPictureSizeOk(w, h)) {
    std::fprintf(stderr, "ovtool qbt: %s: the size must be WxH, more than 4 x 4 and at most %u a side\n", argv[3],
                 unsigned(media::kQbtMaxSide));
    return 2;
  }
  char* end = nullptr;
  const unsigned long ms = std::strtoul(argv[4], &end, 10);
  if (!*argv[4] || *end || ms > 0xFFFFFFFFul) {
    std::fprintf(stderr, "ovtool qbt: %s: the frame duration must be a number of milliseconds\n", argv[4]);
    return 2;
  }
  std::vector<uint8_t> input;
  if (!ovtool::ReadInputFile("ovtool qbt", argv[2], &input)) return 1;
  const size_t frameBytes = size_t(w) * h * 2;
  if (input.empty() || input.size() % frameBytes != 0) {
    std::fprintf(stderr, "ovtool qbt: %s: %zu bytes are not whole %ux%u RGB565 frames\n", argv[2], input.size(), w,
                 h);
    return 1;
  }
  std::vector<std::vector<uint16_t>> frames(input.size() / frameBytes);
  for (size_t f = 0; f < frames.size(); ++f) {
    frames[f].resize(size_t(w) * h);
    for (size_t i = 0; i < frames[f].size(); ++i) {
      const uint8_t* p = &input[f * frameBytes + 2 * i];
      frames[f][i] = uint16_t(p[0] | p[1] << 8);
    }
  }
  const std::vector<uint8_t> file = ovtool::QbtEncodeFile(frames, w, h, uint32_t(ms));
  FILE* out = std::fopen(argv[5], "wb");
  const bool ok = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (!out || std::fclose(out) != 0 || !ok) {
    std::fprintf(stderr, "ovtool qbt: %s: cannot be written\n", argv[5]);
    return 1;
  }
  return 0;
}

}  // namespace

OVTOOL_COMMAND(qbt, "qbt encode FRAMES.rgb565 WxH MS OUT.qbt  write a .qbt animation clip", RunQbt);
