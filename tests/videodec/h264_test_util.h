#pragma once
// Helpers of the H.264 decoder tests: decoding a whole Annex B stream through
// the decoder core and hashing each cropped output picture.

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_core.h"
#include "tests/support/md5.h"

namespace ovtest {

struct DecodedStream {
  std::vector<std::string> md5;   // per output picture, cropped planar Y, U, V
  std::vector<uint8_t> last;      // the last picture's cropped bytes
  std::vector<int> nal_results;   // result of each NAL unit
  int width = 0, height = 0;      // cropped size
  int damaged = 0;                // macroblocks concealed over the stream
};

inline void CollectPicture(void* user, const videodec::h264::Picture& pic, int width, int height);

struct StreamCollector {
  DecodedStream* out;
  videodec::h264::Core* core;
};

inline void CollectPicture(void* user, const videodec::h264::Picture& pic, int width, int height) {
  auto* c = static_cast<StreamCollector*>(user);
  const videodec::h264::Sps* sps = c->core->ActiveSps();
  int l = 0, r = 0, t = 0, b = 0;
  if (sps && sps->frame_cropping) {
    l = 2 * sps->crop_left, r = 2 * sps->crop_right, t = 2 * sps->crop_top, b = 2 * sps->crop_bottom;
  }
  const int w = width - l - r, h = height - t - b;
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t(w * h * 3 / 2));
  for (int y = 0; y < h; ++y)
    bytes.insert(bytes.end(), pic.plane[0] + (y + t) * width + l, pic.plane[0] + (y + t) * width + l + w);
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < h / 2; ++y) {
      const uint8_t* row = pic.plane[p] + (y + t / 2) * (width / 2) + l / 2;
      bytes.insert(bytes.end(), row, row + w / 2);
    }
  c->out->md5.push_back(Md5Hex(bytes.data(), bytes.size()));
  c->out->last = std::move(bytes);
  c->out->width = w;
  c->out->height = h;
  c->out->damaged += c->core->damaged_in_last_picture();
}

inline DecodedStream DecodeAnnexB(const std::vector<uint8_t>& data) {
  DecodedStream out;
  videodec::h264::Core core;
  StreamCollector c{&out, &core};
  core.SetPictureCallback(CollectPicture, &c);
  size_t pos = 0, b = 0, e = 0;
  while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
    // Each unit in its own exact-size buffer, so over-reads show under ASan.
    std::vector<uint8_t> nal(data.begin() + long(b), data.begin() + long(e));
    out.nal_results.push_back(nal.empty() ? -1 : core.DecodeNal(nal.data(), nal.size()));
    pos = e > pos ? e : pos + 1;
  }
  core.FinishPicture();
  return out;
}

}  // namespace ovtest
