// ovtool h264dec IN.264 OUT.yuv: decodes an Annex B H.264 stream through the
// decoder's function table and writes every picture, cropped, planar Y, U, V.
// The factory starts at the first sequence parameter set; DecodeFrame then
// takes the stream one NAL unit per call.
#include <cstdio>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_decoder.h"
#include "tools/tool_command.h"

namespace {

void WritePicture(videodec::VideoDecoder* d, const videodec::H264StreamInfo& info, FILE* out, int* count) {
  videodec::DecodedPicture* pic = nullptr;
  if (d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) != videodec::VDEC_OK) return;
  const int w = info.display_width, h = info.display_height;
  for (int y = 0; y < h; ++y) std::fwrite(pic->y + (y + info.crop_top) * pic->width + info.crop_left, 1, size_t(w), out);
  for (const uint8_t* plane : {pic->u, pic->v})
    for (int y = 0; y < h / 2; ++y)
      std::fwrite(plane + (y + info.crop_top / 2) * (pic->width / 2) + info.crop_left / 2, 1, size_t(w / 2), out);
  ++*count;
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
  // The first sequence parameter set, with its start code.
  size_t pos = 0, b = 0, e = 0, start = data.size();
  while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
    if (e > b && (data[b] & 31) == 7) {
      start = b - 3;
      break;
    }
    pos = e > pos ? e : pos + 1;
  }
  if (start >= data.size()) {
    std::fprintf(stderr, "h264dec: no sequence parameter set in %s\n", argv[1]);
    return 1;
  }
  videodec::VideoDecoder* d = nullptr;
  videodec::H264StreamInfo info{};
  uint32_t length = uint32_t(data.size() - start);
  const int32_t r = videodec::gCreateH264VideoDecoder(&d, data.data() + start, &length, &info, 0, 0,
                                                      videodec::H264_FRAMING_ANNEX_B);
  if (r != videodec::VDEC_OK) {
    std::fprintf(stderr, "h264dec: the stream cannot be decoded (%d)\n", r);
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "h264dec: cannot create %s\n", argv[2]);
    d->DestroyDecoder(d);
    return 1;
  }
  int count = 0;
  pos = start;
  while (pos < data.size()) {
    uint32_t used = uint32_t(data.size() - pos);
    d->DecodeFrame(d, data.data() + pos, &used);
    if (used == 0) WritePicture(d, info, out, &count);  // a new picture begins: fetch the finished one
    pos += used;
  }
  uint32_t zero = 0;
  d->DecodeFrame(d, data.data(), &zero);
  WritePicture(d, info, out, &count);
  d->DestroyDecoder(d);
  std::fclose(out);
  std::fprintf(stderr, "h264dec: %d pictures, %dx%d\n", count, info.display_width, info.display_height);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(h264dec, "h264dec IN.264 OUT.yuv  decode an H.264 Annex B stream (cropped YUV 4:2:0)", RunH264Dec);
