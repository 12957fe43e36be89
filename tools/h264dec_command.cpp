// ovtool h264dec IN.264 OUT.yuv: decodes an Annex B H.264 stream and writes
// every picture in output order, cropped, planar Y, U, V.
#include <cstdio>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_core.h"
#include "tools/tool_command.h"

namespace {

struct Sink {
  FILE* out;
  const videodec::h264::Core* core;
  int frames;
};

void WritePicture(void* user, const videodec::h264::Picture& pic, int width, int height) {
  Sink* s = static_cast<Sink*>(user);
  const videodec::h264::Sps* sps = s->core->ActiveSps();
  int l = 0, r = 0, t = 0, b = 0;
  if (sps && sps->frame_cropping) {
    l = 2 * sps->crop_left, r = 2 * sps->crop_right, t = 2 * sps->crop_top, b = 2 * sps->crop_bottom;
  }
  const int w = width - l - r, h = height - t - b;
  for (int y = 0; y < h; ++y) std::fwrite(pic.plane[0] + (y + t) * width + l, 1, size_t(w), s->out);
  for (int c = 1; c < 3; ++c)
    for (int y = 0; y < h / 2; ++y)
      std::fwrite(pic.plane[c] + (y + t / 2) * (width / 2) + l / 2, 1, size_t(w / 2), s->out);
  ++s->frames;
}

int RunH264Dec(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ovtool h264dec IN.264 OUT.yuv\n");
    return 2;
  }
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::fprintf(stderr, "h264dec: cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), in)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(in);
  FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "h264dec: cannot create %s\n", argv[2]);
    return 1;
  }
  videodec::h264::Core core;
  Sink sink{out, &core, 0};
  core.SetPictureCallback(WritePicture, &sink);
  size_t pos = 0, b, e;
  while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
    core.DecodeNal(data.data() + b, e - b);
    pos = e;
  }
  core.FinishPicture();
  std::fclose(out);
  std::fprintf(stderr, "h264dec: %d pictures\n", sink.frames);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(h264dec, "h264dec IN.264 OUT.yuv  decode an H.264 Annex B stream (cropped YUV 4:2:0)", RunH264Dec);
