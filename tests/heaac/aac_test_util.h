#pragma once
// Helpers of the AAC decoder tests: decoding ADTS/ADIF byte streams with the
// decoder's public API, reading reference WAV files, and comparing PCM.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codecs/heaac/heaac_decoder.h"
#include "media/byte_view.h"
#include "media/mp4_reader.h"
#include "platform/os/ov_string.h"
#include "tests/support/test_paths.h"

namespace aactest {

// Writes bits MSB first, for hand-made headers and raw data blocks.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (pos % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (pos % 8));
      ++pos;
    }
  }
  // Zero bits up to the next byte boundary.
  void Align() {
    while (pos % 8) Put(0, 1);
  }
  std::vector<uint8_t> bytes;
  size_t pos = 0;
};

struct Pcm {
  int channels = 0;
  int rate = 0;
  std::vector<int16_t> samples;  // interleaved
  int errors = 0;                // frames the decoder refused
  size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

// Reads a 16-bit PCM WAV file; channels 0 when it is not one.
inline Pcm ReadWav(const std::string& path) {
  Pcm pcm;
  std::vector<uint8_t> d = ovtest::ReadFileBytes(path);
  size_t i = 12;
  while (i + 8 <= d.size()) {
    const uint32_t size = d[i + 4] | (d[i + 5] << 8) | (d[i + 6] << 16) | (static_cast<uint32_t>(d[i + 7]) << 24);
    if (std::memcmp(&d[i], "fmt ", 4) == 0 && i + 16 <= d.size()) {
      pcm.channels = d[i + 10] | (d[i + 11] << 8);
      pcm.rate = static_cast<int>(d[i + 12] | (d[i + 13] << 8) | (d[i + 14] << 16) | (static_cast<uint32_t>(d[i + 15]) << 24));
    }
    if (std::memcmp(&d[i], "data", 4) == 0) {
      const size_t n = std::min<size_t>(size, d.size() - i - 8) / 2;
      pcm.samples.resize(n);
      for (size_t k = 0; k < n; ++k) {
        pcm.samples[k] = static_cast<int16_t>(d[i + 8 + 2 * k] | (d[i + 9 + 2 * k] << 8));
      }
      break;
    }
    i += 8 + size + (size & 1);
  }
  return pcm;
}

// Length of the ADTS frame at `p`, or 0 when no frame starts there.
inline size_t AdtsFrameLength(const uint8_t* p, size_t left) {
  if (left < 7 || p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) return 0;
  return ((p[3] & 3u) << 11) | (p[4] << 3) | (p[5] >> 5);
}

// Decodes a whole stream the way the AAC source feeds it: stream information
// from the first frame, then one call per raw data block. With `whole` set
// the decoder is driven over the whole buffer (ADIF, raw), advancing by each
// call's consumed length; otherwise ADTS frames are handed over one by one.
inline Pcm DecodeStream(const std::vector<uint8_t>& data, bool whole = false, heaac::AacStreamInfo* infoOut = nullptr,
                        int32_t sbr = 1) {
  Pcm pcm;
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoderEx(&decoder, sbr) != 0) return pcm;
  heaac::AacStreamInfo info{};
  int32_t header = static_cast<int32_t>(data.size());
  if (data.size() < 8 || heaac::gGetAacStreamInfo(data.data(), &header, &info, 2, nullptr, 0) != 0 ||
      heaac::gConfigureHeAacDecoder(decoder, &info) != 0) {
    heaac::gDestroyHeAacDecoder(decoder);
    return pcm;
  }
  if (infoOut) *infoOut = info;
  pcm.channels = static_cast<int>(info.channels);
  pcm.rate = static_cast<int>(info.outputSampleRate);
  const bool adif = std::memcmp(data.data(), "ADIF", 4) == 0;
  std::vector<int16_t> out(info.outputBytesPerFrame / 2);
  size_t pos = adif ? static_cast<size_t>(header) : 0;
  while (pos < data.size()) {
    size_t frame = data.size() - pos;
    if (!whole && !adif) {
      frame = AdtsFrameLength(&data[pos], data.size() - pos);
      if (frame < 7 || frame > data.size() - pos) break;
    }
    std::vector<uint8_t> copy(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + frame));
    size_t used = 0;
    while (used < frame) {
      int32_t in = static_cast<int32_t>(frame - used);
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      if (heaac::gDecodeHeAacFrame(decoder, copy.data() + used, &in, out.data(), &outBytes) != 0 || in <= 0) {
        ++pcm.errors;
        if (whole || adif) {
          used += 1;
          continue;
        }
        break;
      }
      used += static_cast<size_t>(in);
      pcm.samples.insert(pcm.samples.end(), out.begin(), out.begin() + outBytes / 2);
      if (!whole && !adif && frame - used < 2) break;
    }
    pos += frame;
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return pcm;
}

// Configures `decoder` from an AudioSpecificConfig and sets the PCM format.
inline bool ConfigureFromAsc(heaac::HeAacDecoder* decoder, std::vector<uint8_t> asc, heaac::AacStreamInfo* info,
                             Pcm* pcm) {
  int32_t length = static_cast<int32_t>(asc.size());
  if (heaac::gGetAacStreamInfo(asc.data(), &length, info, 0, nullptr, 0) != 0 ||
      heaac::gConfigureHeAacDecoder(decoder, info) != 0) {
    return false;
  }
  pcm->channels = static_cast<int>(info->channels);
  pcm->rate = static_cast<int>(info->outputSampleRate);
  return true;
}

// Decodes the AAC sound track of an MP4/M4A file read with media::Mp4Reader,
// one call per sample, edit lists ignored.
inline Pcm DecodeMp4(const std::string& path) {
  Pcm pcm;
  media::Mp4Reader reader(ov::String::FromUtf8Lossy(path));
  const media::Mp4SampleEntry* entry = nullptr;
  const int track = reader.FindConfiguredTrack(media::FourCC("soun"), media::FourCC("mp4a"), &entry);
  if (track < 0) return pcm;
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoder(&decoder) != 0) return pcm;
  heaac::AacStreamInfo info{};
  if (ConfigureFromAsc(decoder, entry->decoder_config, &info, &pcm)) {
    std::vector<int16_t> out(info.outputBytesPerFrame / 2);
    const std::unique_ptr<media::TrackCursor> cursor = reader.OpenTrack(track);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t bytes = 0, time = 0;
    while (cursor && reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
      int32_t in = static_cast<int32_t>(bytes);
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      if (heaac::gDecodeHeAacFrame(decoder, sample.get(), &in, out.data(), &outBytes) != 0) {
        ++pcm.errors;
        continue;
      }
      pcm.samples.insert(pcm.samples.end(), out.begin(), out.begin() + outBytes / 2);
    }
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return pcm;
}

// The raw data blocks of an ADTS stream (one per frame, no CRC).
inline std::vector<std::vector<uint8_t>> AdtsRawBlocks(const std::vector<uint8_t>& data) {
  std::vector<std::vector<uint8_t>> blocks;
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t frame = AdtsFrameLength(&data[pos], data.size() - pos);
    if (frame < 7 || frame > data.size() - pos) break;
    blocks.emplace_back(data.begin() + static_cast<long>(pos + 7), data.begin() + static_cast<long>(pos + frame));
    pos += frame;
  }
  return blocks;
}

// Decodes raw data blocks configured from an AudioSpecificConfig, with or
// without the decoder's SBR areas.
inline Pcm DecodeRawBlocks(const std::vector<uint8_t>& asc, const std::vector<std::vector<uint8_t>>& blocks,
                           int32_t sbr = 1) {
  Pcm pcm;
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoderEx(&decoder, sbr) != 0) return pcm;
  heaac::AacStreamInfo info{};
  if (ConfigureFromAsc(decoder, asc, &info, &pcm)) {
    std::vector<int16_t> out(info.outputBytesPerFrame / 2);
    for (const std::vector<uint8_t>& block : blocks) {
      std::vector<uint8_t> copy = block;
      int32_t in = static_cast<int32_t>(copy.size());
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      if (heaac::gDecodeHeAacFrame(decoder, copy.data(), &in, out.data(), &outBytes) != 0) {
        ++pcm.errors;
        continue;
      }
      pcm.samples.insert(pcm.samples.end(), out.begin(), out.begin() + outBytes / 2);
    }
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return pcm;
}

struct Comparison {
  double snrDb = 0;
  int maxDiff = 0;
  size_t compared = 0;
};

// SNR of `test` against `ref` over channel `channel` (or every channel when
// -1, which needs equal channel counts), `ref` shifted by `refOffset` frames.
inline Comparison Compare(const Pcm& test, const Pcm& ref, int channel = -1, size_t refOffset = 0) {
  Comparison c;
  const size_t frames = std::min(test.Frames(), ref.Frames() > refOffset ? ref.Frames() - refOffset : 0);
  double signal = 0, noise = 0;
  for (size_t f = 0; f < frames; ++f) {
    for (int ch = 0; ch < test.channels; ++ch) {
      if (channel >= 0 && ch != channel) continue;
      const int refCh = channel >= 0 ? 0 + (ch % ref.channels) : ch;
      const int a = test.samples[f * test.channels + ch];
      const int b = ref.samples[(f + refOffset) * ref.channels + refCh];
      signal += static_cast<double>(b) * b;
      noise += static_cast<double>(a - b) * (a - b);
      c.maxDiff = std::max(c.maxDiff, std::abs(a - b));
      ++c.compared;
    }
  }
  c.snrDb = noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
  return c;
}

}  // namespace aactest
