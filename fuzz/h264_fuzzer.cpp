// libFuzzer target of the H.264 decoder, driven through its VideoDecoder
// function table as the video-track source drives it. The input is an Annex B
// byte stream; its first byte picks how it is fed:
//  bit 0 clear: the factory gets the leading parameter sets (Annex B framing),
//               then DecodeFrameOut one access unit at a time;
//  bit 0 set:   the same units re-framed with 4-byte length prefixes (MP4
//               samples), the factory gets the parameter sets with 2-byte
//               prefixes;
//  bit 1 set:   the picture units go one NAL unit per DecodeFrame call instead.
// Every sample is copied into its own exact-size heap buffer, every picture is
// read whole, and the decoder is reset once and destroyed on every path. After
// the reset the stream is fed again from its start, up to two pictures: what
// a reset leaves behind shows in the first pictures after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_decoder.h"
#include "fuzz/fuzz_cpu.h"
#include "fuzz/fuzz_target.h"


namespace {

using Nal = std::vector<uint8_t>;
uint32_t g_sink = 0;

void ReadPicture(videodec::VideoDecoder* d) {
  videodec::DecodedPicture* pic = nullptr;
  if (d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) != videodec::VDEC_OK || !pic) return;
  const size_t luma = size_t(pic->width) * pic->height;
  uint32_t sum = 0;
  for (size_t i = 0; i < luma; i += 97) sum += pic->y[i];
  for (size_t i = 0; i < luma / 4; i += 31) sum += pic->u[i] + pic->v[i];
  int32_t kind = 0;
  d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_PICTURE_KIND, &kind);
  g_sink += sum + uint32_t(kind);
}

std::vector<uint8_t> Frame(const std::vector<Nal>& nals, bool prefixed, int prefix) {
  std::vector<uint8_t> out;
  for (const Nal& n : nals) {
    if (prefixed) {
      for (int i = prefix - 1; i >= 0; --i) out.push_back(uint8_t(n.size() >> (8 * i)));
    } else {
      out.insert(out.end(), {0, 0, 0, 1});
    }
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

// Calls a slot on an exact-size heap copy of `bytes`.
template <typename Fn>
int32_t OnCopy(const std::vector<uint8_t>& bytes, Fn fn) {
  std::vector<uint8_t> copy(bytes);  // exact capacity: ASan sees over-reads
  copy.shrink_to_fit();
  return fn(copy.empty() ? nullptr : copy.data(), uint32_t(copy.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ovfuzz::ApplyCpuMaskFlag(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint8_t mode = data[0];
  const bool prefixed = mode & 1;
  const bool per_nal = mode & 2;
  std::vector<Nal> nals;
  size_t pos = 1, b = 0, e = 0;
  while (videodec::h264::NextAnnexBNal(data, size, pos, &b, &e) && nals.size() < 4096) {
    if (e > b) nals.emplace_back(data + b, data + e);
    pos = e > pos ? e : pos + 1;
  }
  // Leading parameter sets go to the factory.
  size_t first = 0;
  while (first < nals.size() && ((nals[first][0] & 31) == 7 || (nals[first][0] & 31) == 8 ||
                                 (nals[first][0] & 31) == 9))
    ++first;
  if (first == 0) return 0;
  const std::vector<Nal> params(nals.begin(), nals.begin() + long(first));
  videodec::H264StreamInfo info{};
  videodec::VideoDecoder* d = nullptr;
  const std::vector<uint8_t> config = Frame(params, prefixed, 2);
  const int32_t r = OnCopy(config, [&](const uint8_t* p, uint32_t n) {
    return videodec::gCreateH264VideoDecoder(&d, p, &n, &info, 4, 2, prefixed ? 1 : 0);
  });
  if (r != videodec::VDEC_OK || !d) return 0;
  // The decoder keeps the size of its first sequence: one above the work
  // limit ends the input here, after its parameter sets were parsed.
  if (info.coded_width * info.coded_height > kFuzzMaxPictureArea) {
    d->DestroyDecoder(d);
    return 0;
  }
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Nal> au;
    int pictures = 0;
    const int max_pictures = pass == 0 ? kFuzzMaxPictures : 2;
    auto flush = [&] {
      if (au.empty() || pictures++ >= max_pictures) {
        au.clear();
        return;
      }
      const std::vector<uint8_t> sample = Frame(au, prefixed, 4);
      if (per_nal) {
        std::vector<uint8_t> rest = sample;
        for (int guard = 0; !rest.empty() && guard < 64; ++guard) {
          uint32_t used = 0;
          OnCopy(rest, [&](const uint8_t* p, uint32_t n) {
            used = n;
            const int32_t res = d->DecodeFrame(d, p, &used);
            if (res != videodec::VDEC_OK && used == n) used = uint32_t(rest.size());
            return res;
          });
          if (used == 0) ReadPicture(d);
          else rest.erase(rest.begin(), rest.begin() + long(std::min<size_t>(used, rest.size())));
        }
      } else {
        OnCopy(sample, [&](const uint8_t* p, uint32_t n) { return d->DecodeFrameOut(d, p, &n, nullptr); });
        ReadPicture(d);
      }
      au.clear();
    };
    bool has_slice = false;
    for (size_t i = first; i < nals.size(); ++i) {
      const int type = nals[i][0] & 31;
      const bool slice = type == 1 || type == 5;
      const bool starts = slice && nals[i].size() > 1 && (nals[i][1] & 0x80);
      if ((starts || !slice) && has_slice) {
        flush();
        has_slice = false;
      }
      au.push_back(nals[i]);
      has_slice |= slice;
    }
    flush();
    if (per_nal) {
      uint32_t zero = 0;
      const uint8_t end = 0;
      d->DecodeFrame(d, &end, &zero);
      ReadPicture(d);
    }
    d->ResetDecoder(d);
  }
  d->DestroyDecoder(d);
  return 0;
}
