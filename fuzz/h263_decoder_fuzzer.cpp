// libFuzzer target: the H.263 decoder driven as the video-track sources drive
// it. The input is split into samples at picture start codes (and, every few
// pictures, at an arbitrary byte), each copied into an exact-size heap buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "fuzz/fuzz_cpu.h"
#include "fuzz/fuzz_target.h"


namespace {

// Bounds the work per input.
constexpr size_t kMaxInput = 1 << 16;
constexpr int kMaxCallsPerSample = 4096;

bool IsPictureStart(const uint8_t* p, size_t left) {
  return left >= 3 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
}

// Pictures converted to RGB565 per input: the conversion has its own tests and
// would otherwise dominate the run time.
constexpr int kMaxConversions = 1;

// The size the first picture header set up is above the work limit.
bool TooLarge(videodec::VideoDecoder* dec) {
  const auto* d = static_cast<const videodec::H263Decoder*>(dec);
  return d->has_buffers && d->display_width * d->display_height > kFuzzMaxPictureArea;
}

// Decodes one sample; false when the input should stop here: a picture above
// the size limit, or kFuzzMaxPictures pictures finished (a sample may hold
// many picture headers, and each finishes a whole concealed picture).
bool DecodeSample(videodec::VideoDecoder* dec, const uint8_t* bytes, size_t size, std::vector<uint16_t>& rgb,
                  int* conversions, int* pictures) {
  std::vector<uint8_t> copy(bytes, bytes + size);  // exact-size heap buffer
  uint32_t offset = 0;
  for (int calls = 0; offset < size && calls < kMaxCallsPerSample; ++calls) {
    uint32_t length = static_cast<uint32_t>(size - offset);
    const int32_t r = dec->DecodeFrame(dec, copy.data() + offset, &length);
    offset += length;
    if (TooLarge(dec)) return false;
    if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE || r == videodec::VDEC_OK) {
      videodec::DecodedPicture* pic = nullptr;
      if (++*pictures > kFuzzMaxPictures) return false;
      if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) == videodec::VDEC_OK && pic &&
          (*conversions)++ < kMaxConversions) {
        rgb.resize(static_cast<size_t>(pic->width) * pic->height);
        const videodec::YuvFrame frame = videodec::AsYuvFrame(*pic);
        ConvertYUV420toRGB565TopDown(&frame, rgb.data(), pic->width, pic->height, 0);
      }
      if (r == videodec::VDEC_OK && length == 0) break;
    } else if (r == videodec::VDEC_INPUT_EXHAUSTED) {
      break;
    } else if (length == 0) {
      ++offset;  // a failed call that consumed nothing: move on
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ovfuzz::ApplyCpuMaskFlag(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > kMaxInput) return 0;
  videodec::VideoDecoder* dec = nullptr;
  // The first byte chooses the post-filter level (bit 3 on, level in bits 0-1:
  // the filter is slow, so most runs leave it off) and whether to set the size
  // up front, so those paths are fuzzed too.
  const uint32_t level = (data[0] & 8) ? (data[0] & 3) : 0;
  const bool sized = data[0] & 4;
  if (videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, level, sized ? 176 : 0, sized ? 144 : 0) != videodec::VDEC_OK)
    return 0;
  dec->SetDecoderParam(dec, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  ++data;
  --size;
  std::vector<uint16_t> rgb;
  size_t start = 0;
  int pictures = 0;
  int conversions = 0;
  int finished = 0;
  bool go_on = true;
  for (size_t i = 1; i <= size && go_on; ++i) {
    const bool end = i == size;
    if (end || (IsPictureStart(data + i, size - i) && ++pictures % 4 != 0)) {
      go_on = DecodeSample(dec, data + start, i - start, rgb, &conversions, &finished);
      start = i;
    }
  }
  if (TooLarge(dec)) {
    dec->DestroyDecoder(dec);
    return 0;
  }
  // Queries on whatever state the stream left.
  int32_t value;
  dec->GetDecoderParam(dec, videodec::VDEC_PARAM_DAMAGED_PERCENT, &value);
  dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FRAME_ACTIVITY, &value);
  static std::vector<uint8_t> map(2048 * 1152 / 256 / 8 + 1);
  dec->GetDecoderParam(dec, videodec::VDEC_PARAM_DAMAGED_MAP, map.data());
  // A whole-picture decode of the input as one buffer (DecodeFrameOut returns
  // after one picture).
  std::vector<uint8_t> copy(data, data + size);
  static std::vector<uint8_t> planes(static_cast<size_t>(2048) * 1152 * 3 / 2);  // once per process
  videodec::DecodedPicture out{planes.data(), planes.data() + 2048 * 1152, planes.data() + 2048 * 1152 * 5 / 4, 0, 0, 0};
  uint32_t length = static_cast<uint32_t>(size);
  if (size) dec->DecodeFrameOut(dec, copy.data(), &length, &out);
  dec->DestroyDecoder(dec);
  return 0;
}
