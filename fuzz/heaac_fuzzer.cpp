// Drives the AAC decoder as the AAC source does: the first bytes select the
// stream kind (an AudioSpecificConfig or an ADTS/ADIF stream), then frames are
// decoded one call at a time, each copied into its own exact-size buffer, and
// the decoder is destroyed on every path.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/heaac/heaac_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1 << 20)) return 0;
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoder(&decoder) != 0) return 0;
  heaac::AacStreamInfo info{};
  const bool asc = (data[0] & 0x80) != 0 && data[0] != 0xFF && data[0] != 'A';
  size_t pos = 0;
  if (asc) {
    // First byte: length of the AudioSpecificConfig that follows.
    const size_t n = data[0] & 0x0F;
    if (1 + n > size) {
      heaac::gDestroyHeAacDecoder(decoder);
      return 0;
    }
    std::vector<uint8_t> config(data + 1, data + 1 + n);
    int32_t length = static_cast<int32_t>(n);
    if (heaac::gGetAacStreamInfo(config.data(), &length, &info, 0, nullptr, 0) != 0) {
      heaac::gDestroyHeAacDecoder(decoder);
      return 0;
    }
    pos = 1 + n;
  } else {
    std::vector<uint8_t> head(data, data + size);
    int32_t length = static_cast<int32_t>(size);
    if (heaac::gGetAacStreamInfo(head.data(), &length, &info, 2, nullptr, 0) != 0) {
      // Still decode: a stream whose header does not parse is fed as mono.
      info = heaac::AacStreamInfo{};
      info.samplesPerFrame = 1024;
      info.coreSampleRate = 44100;
      info.channels = 1;
      info.profile = 1;
    }
  }
  if (heaac::gConfigureHeAacDecoder(decoder, &info) == 0) {
    std::vector<int16_t> out(info.outputBytesPerFrame / 2 + 1);
    int calls = 0;
    while (pos < size && calls++ < 2000) {
      const size_t n = size - pos;
      auto* frame = new uint8_t[n];
      std::memcpy(frame, data + pos, n);
      int32_t in = static_cast<int32_t>(n);
      int32_t outBytes = static_cast<int32_t>(info.outputBytesPerFrame);
      int32_t r = heaac::gDecodeHeAacFrame(decoder, frame, &in, out.data(), &outBytes);
      delete[] frame;
      if (r != 0 || in <= 0) {
        pos += 1;  // skip the rejected byte, as the raw-stream driver does
      } else {
        pos += static_cast<size_t>(in);
      }
    }
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return 0;
}
