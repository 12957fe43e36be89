// Drives the AAC decoder as the AAC source does: the first bytes select the
// stream kind (an AudioSpecificConfig or an ADTS/ADIF stream), then frames are
// decoded one call at a time, each copied into its own exact-size buffer, and
// the decoder is destroyed on every path.
//
// The work per input is bounded, as decoder fuzzers bound it, so that the
// fuzzer runs thousands of inputs a second: the bytes past kMaxInputBytes are
// ignored and at most kMaxDecodeCalls calls are made, rejected ones included.
// A few frames reach every state that one frame hands to the next (overlap,
// window shapes, LTP history, noise generator); more only repeat them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/heaac/heaac_decoder.h"
#include "fuzz/fuzz_cpu.h"
#include "fuzz/fuzz_target.h"

namespace {
constexpr size_t kMaxInputBytes = 2048;
constexpr int kMaxDecodeCalls = 8;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ovfuzz::ApplyCpuMaskFlag(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  if (size > kMaxInputBytes) size = kMaxInputBytes;
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
    // Exactly one frame of room, so a stray write shows.
    std::vector<int16_t> out(info.outputBytesPerFrame / 2);
    int calls = 0;
    while (pos < size && calls < kMaxDecodeCalls) {
      // ADTS streams go frame by frame as the ADTS reader cuts them; other
      // input is fed whole, advancing by the consumed length.
      size_t n = size - pos;
      if (!asc && n >= 7 && data[pos] == 0xFF && (data[pos + 1] & 0xF0) == 0xF0) {
        const size_t len = ((data[pos + 3] & 3u) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5);
        if (len >= 7 && len < n) n = len;
      }
      auto* frame = new uint8_t[n];
      std::memcpy(frame, data + pos, n);
      size_t used = 0;
      while (used < n && calls++ < kMaxDecodeCalls) {
        int32_t in = static_cast<int32_t>(n - used);
        int32_t outBytes = static_cast<int32_t>(info.outputBytesPerFrame);
        const int32_t r = heaac::gDecodeHeAacFrame(decoder, frame + used, &in, out.data(), &outBytes);
        if (r != 0 || in <= 0) {
          used += 1;  // skip the rejected byte, as the raw-stream driver does
        } else {
          used += static_cast<size_t>(in);
        }
      }
      delete[] frame;
      pos += n;
    }
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return 0;
}
