// libFuzzer target of the MPEG-4 Part 2 decoder. The first input byte picks
// the decode mode (whole VOPs, packets, resumable chunks) and whether the rest
// starts with configuration bytes; the stream is cut into samples at VOP and
// picture start codes, as a track reader would, and every sample is copied
// into an exact-size heap buffer so over-reads are caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "fuzz/fuzz_cpu.h"
#include "fuzz/fuzz_target.h"

namespace {

bool IsSampleStart(const uint8_t* p, size_t left) {
  if (left < 4) return false;
  if (p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] == 0xB6 || p[3] == 0xB0 || p[3] == 0xB3)) return true;
  return p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
}

std::vector<std::vector<uint8_t>> Split(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> samples;
  size_t start = 0;
  for (size_t i = 1; i + 4 <= size; ++i) {
    if (IsSampleStart(data + i, size - i) && !(data[start + 3] == 0xB0 && i - start < 64)) {
      samples.emplace_back(data + start, data + i);
      start = i;
    }
  }
  if (start < size) samples.emplace_back(data + start, data + size);
  return samples;
}

// Feeds one sample; `pictures` counts the pictures finished so far, and a
// sample stops once kFuzzMaxPictures are (a sample may hold many VOP headers).
void Feed(videodec::VideoDecoder* dec, const std::vector<uint8_t>& sample, int mode, int* pictures) {
  const size_t n = sample.size();
  if (n == 0) return;
  uint8_t* copy = new uint8_t[n];
  std::memcpy(copy, sample.data(), n);
  if (mode == 0) {
    uint32_t len = static_cast<uint32_t>(n);
    videodec::DecodedPicture pic{};
    dec->DecodeFrameOut(dec, copy, &len, &pic);  // no planes: nothing copied
  } else {
    size_t off = 0;
    for (int guard = 0; off < n && guard < 10000; ++guard) {
      uint32_t len = static_cast<uint32_t>(n - off);
      const int32_t r = dec->DecodeFrame(dec, copy + off, &len);
      off += len;
      if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) {
        const videodec::DecodedPicture* pic = nullptr;
        dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
        if (++*pictures >= kFuzzMaxPictures) break;
      }
      if (len == 0 && r != videodec::VDEC_PICTURE_OPEN) break;
      if (r == videodec::VDEC_INPUT_EXHAUSTED) break;
    }
    const videodec::DecodedPicture* pic = nullptr;
    dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
    int32_t damaged = 0;
    dec->GetDecoderParam(dec, videodec::VDEC_PARAM_DAMAGED_PERCENT, &damaged);
  }
  delete[] copy;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ovfuzz::ApplyCpuMaskFlag(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const int mode = data[0] % 3;
  const bool with_config = (data[0] & 4) != 0;
  const bool option = (data[0] & 8) != 0;
  ++data;
  --size;
  videodec::VideoDecoder* dec = nullptr;
  std::vector<uint8_t> config;
  size_t body = 0;
  if (with_config) {
    // Configuration: everything up to the first VOP start code.
    size_t i = 0;
    while (i + 4 <= size && !(data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)) ++i;
    if (i + 4 > size) i = size;
    config.assign(data, data + i);
    body = i;
  }
  uint8_t* cfg = nullptr;
  uint32_t cfg_len = static_cast<uint32_t>(config.size());
  if (cfg_len) {
    cfg = new uint8_t[cfg_len];
    std::memcpy(cfg, config.data(), cfg_len);
  }
  const int32_t r = videodec::gCreateMPEG4VideoDecoder(&dec, cfg, &cfg_len, 0);
  delete[] cfg;
  if (r != 0 || !dec) return 0;
  if (mode == 2) dec->SetDecoderParam(dec, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  if (option) dec->SetDecoderParam(dec, videodec::VDEC_PARAM_MPEG4_OPTION, 1);
  // The layer (or the first short video header) fixes the picture size: one
  // above the work limit ends the input.
  auto too_large = [dec] {
    return static_cast<const videodec::Mpeg4Decoder*>(dec)->mb_count * 256 > uint32_t(kFuzzMaxPictureArea);
  };
  int pictures = 0;
  for (const auto& sample : Split(data + body, size - body)) {
    if (too_large() || pictures++ >= kFuzzMaxPictures) break;
    Feed(dec, sample, mode, &pictures);
  }
  dec->ResetDecoder(dec);
  dec->DestroyDecoder(dec);
  return 0;
}
