// ovtool adec: decodes a sound clip to a 16-bit WAV file: any file the audio
// source factory opens, or an AAC stream through the project's own decoder.
//
//   ovtool adec IN OUT.wav          through the clip's audio source, as the
//                                   program plays it (media::OpenAudioSource):
//                                   ".mp3" (the MP3 decoder object), ".aac"
//                                   (ADTS) and the AAC track of ".m4a",
//                                   ".mp4", ".3gp"..., ".amr", ".wav".
//                                   Other AAC files go to the decoder directly:
//                                   ADTS split frame by frame, ADIF, or the
//                                   AAC track of an MP4 read with
//                                   media::Mp4Reader (edit lists ignored).
//   ovtool adec --raw IN OUT.wav    drives the decoder directly over the whole
//                                   file, advancing by each call's consumed
//                                   length (ADIF, ADTS, several raw blocks)
//   ovtool adec --raw --asc HEX IN OUT.wav
//                                   configures from the AudioSpecificConfig
//                                   HEX (explicit SBR signalling, say) and
//                                   decodes IN as raw data blocks; an ADTS
//                                   file gives its frames' raw blocks
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/heaac/heaac_decoder.h"
#include "media/byte_view.h"
#include "media/decoder_source.h"
#include "media/mp4_reader.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

// A 16-bit PCM WAV file written as the samples come. The sizes in the header
// are filled in at Close; where the output cannot seek (a pipe) the samples
// are kept until then and written behind a header that has them.
class WavFile {
 public:
  bool Open(const char* path, uint32_t rate, uint32_t channels) {
    rate_ = rate;
    channels_ = channels;
    file_ = std::fopen(path, "wb");
    if (!file_) return false;
    seekable_ = std::fseek(file_, 0, SEEK_CUR) == 0;
    return !seekable_ || WriteHeader();
  }
  bool Append(const int16_t* pcm, size_t n) {
    if (!seekable_) {
      held_.insert(held_.end(), pcm, pcm + n);
      return true;
    }
    if constexpr (std::endian::native == std::endian::little) {
      ok_ = ok_ && std::fwrite(pcm, 2, n, file_) == n;
      samples_ += n;
      return ok_;
    }
    // Little-endian bytes a block at a time: one call per sample would cost
    // more than decoding them.
    uint8_t block[8192];
    for (size_t i = 0; ok_ && i < n;) {
      size_t bytes = 0;
      for (; bytes + 2 <= sizeof(block) && i < n; ++i, bytes += 2) {
        block[bytes] = static_cast<uint8_t>(pcm[i]);
        block[bytes + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
      }
      ok_ = std::fwrite(block, 1, bytes, file_) == bytes;
    }
    samples_ += n;
    return ok_;
  }
  bool Close() {
    if (!file_) return false;
    if (seekable_) {
      ok_ = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 && WriteHeader();
    } else {
      seekable_ = true;  // Append now writes
      ok_ = WriteHeader() && Append(held_.data(), held_.size());
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && ok_;
  }
  ~WavFile() {
    if (file_) std::fclose(file_);
  }

 private:
  static void Put32(std::vector<uint8_t>* v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
  }
  static void Put16(std::vector<uint8_t>* v, uint16_t x) {
    v->push_back(static_cast<uint8_t>(x));
    v->push_back(static_cast<uint8_t>(x >> 8));
  }
  bool WriteHeader() {
    std::vector<uint8_t> h;
    const uint32_t bytes = static_cast<uint32_t>((samples_ + held_.size()) * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    Put32(&h, 36 + bytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(&h, 16);
    Put16(&h, 1);
    Put16(&h, static_cast<uint16_t>(channels_));
    Put32(&h, rate_);
    Put32(&h, rate_ * channels_ * 2);
    Put16(&h, static_cast<uint16_t>(channels_ * 2));
    Put16(&h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    Put32(&h, bytes);
    ok_ = ok_ && std::fwrite(h.data(), 1, h.size(), file_) == h.size();
    return ok_;
  }

  FILE* file_ = nullptr;
  uint32_t rate_ = 0, channels_ = 0;
  bool seekable_ = false, ok_ = true;
  size_t samples_ = 0;
  std::vector<int16_t> held_;
};

bool WriteWav(const char* path, const std::vector<int16_t>& pcm, uint32_t rate, uint32_t channels) {
  WavFile wav;
  return wav.Open(path, rate, channels) && wav.Append(pcm.data(), pcm.size()) && wav.Close();
}

// Configures the decoder from an AudioSpecificConfig; on failure says so and
// destroys the decoder.
bool ConfigureFromAsc(heaac::HeAacDecoder* decoder, std::vector<uint8_t> config, heaac::AacStreamInfo* info) {
  int32_t length = static_cast<int32_t>(config.size());
  if (heaac::gGetAacStreamInfo(config.data(), &length, info, 0, nullptr, 0) == 0 &&
      heaac::gConfigureHeAacDecoder(decoder, info) == 0) {
    return true;
  }
  std::fprintf(stderr, "adec: unsupported AudioSpecificConfig\n");
  heaac::gDestroyHeAacDecoder(decoder);
  return false;
}

// Destroys the decoder, reports the frame errors and writes the WAV file.
int Finish(heaac::HeAacDecoder* decoder, int errors, const std::vector<int16_t>& pcm,
           const heaac::AacStreamInfo& info, const char* outPath) {
  heaac::gDestroyHeAacDecoder(decoder);
  if (errors) std::fprintf(stderr, "adec: %d frame errors\n", errors);
  if (!WriteWav(outPath, pcm, info.outputSampleRate, info.channels)) {
    std::fprintf(stderr, "adec: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}

// One call per sample of the MP4 track, configured from the AudioSpecificConfig
// of its sample entry.
int DecodeMp4(heaac::HeAacDecoder* decoder, media::Mp4Reader* reader, int track,
              const media::Mp4SampleEntry& entry, const char* outPath) {
  heaac::AacStreamInfo info{};
  if (!ConfigureFromAsc(decoder, entry.decoder_config, &info)) return 1;
  std::vector<int16_t> out(info.outputBytesPerFrame / 2);
  std::vector<int16_t> pcm;
  int errors = 0;
  const std::unique_ptr<media::TrackCursor> cursor = reader->OpenTrack(track);
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  while (cursor && reader->ReadSample(cursor.get(), &sample, &bytes, &time)) {
    int32_t in = static_cast<int32_t>(bytes);
    int32_t outBytes = static_cast<int32_t>(out.size() * 2);
    if (heaac::gDecodeHeAacFrame(decoder, sample.get(), &in, out.data(), &outBytes) != 0) {
      ++errors;
      continue;
    }
    pcm.insert(pcm.end(), out.begin(), out.begin() + outBytes / 2);
  }
  return Finish(decoder, errors, pcm, info, outPath);
}

// Every block the source hands out, as the mixers read it.
int DecodeThroughSource(media::DecoderSource* source, const char* outPath) {
  media::MediaFormat format;
  if (!source->GetFormat(&format)) return 1;
  WavFile wav;
  bool ok = wav.Open(outPath, format.sampleRate, format.channels);
  uint32_t bytes = 0, time = 0;
  while (auto block = source->ReadAudio(4096, &bytes, &time)) {
    ok = ok && wav.Append(reinterpret_cast<const int16_t*>(block.get()), bytes / 2);
  }
  if (!wav.Close() || !ok) {
    std::fprintf(stderr, "adec: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}

bool ParseHex(const char* text, std::vector<uint8_t>* out) {
  const size_t n = std::strlen(text);
  if (n == 0 || n % 2 != 0) return false;
  for (size_t k = 0; k < n; k += 2) {
    unsigned value = 0;
    if (std::sscanf(text + k, "%2x", &value) != 1) return false;
    out->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

// Raw data blocks configured from an AudioSpecificConfig: one call per ADTS
// frame's payload, or over the whole file advancing by each call's length.
int DecodeRawWithConfig(heaac::HeAacDecoder* decoder, const std::vector<uint8_t>& asc,
                        const std::vector<uint8_t>& data, const char* outPath) {
  heaac::AacStreamInfo info{};
  if (!ConfigureFromAsc(decoder, asc, &info)) return 1;
  std::vector<std::pair<size_t, size_t>> blocks;  // offset, length
  const bool adts = data.size() >= 2 && data[0] == 0xFF && (data[1] & 0xF0) == 0xF0;
  if (adts) {
    for (size_t pos = 0; pos + 7 <= data.size();) {
      const size_t frame = ((data[pos + 3] & 3u) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5);
      if (frame < 7 || pos + frame > data.size()) break;
      const size_t header = (data[pos + 1] & 1) ? 7 : 9;
      blocks.emplace_back(pos + header, frame - header);
      pos += frame;
    }
  } else {
    blocks.emplace_back(0, data.size());
  }
  std::vector<int16_t> out(info.outputBytesPerFrame / 2);
  std::vector<int16_t> pcm;
  int errors = 0;
  for (const auto& [offset, size] : blocks) {
    size_t used = 0;
    while (used < size) {
      std::vector<uint8_t> copy(data.begin() + static_cast<long>(offset + used),
                                data.begin() + static_cast<long>(offset + size));
      int32_t in = static_cast<int32_t>(copy.size());
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      if (heaac::gDecodeHeAacFrame(decoder, copy.data(), &in, out.data(), &outBytes) != 0 || in <= 0) {
        ++errors;
        used = adts ? size : used + 1;
        continue;
      }
      used += static_cast<size_t>(in);
      pcm.insert(pcm.end(), out.begin(), out.begin() + outBytes / 2);
      if (adts) break;
    }
  }
  return Finish(decoder, errors, pcm, info, outPath);
}

int RunAdec(int argc, char** argv) {
  bool raw = false;
  std::vector<uint8_t> asc;
  int i = 1;
  if (i < argc && std::strcmp(argv[i], "--raw") == 0) {
    raw = true;
    ++i;
  }
  if (raw && i + 1 < argc && std::strcmp(argv[i], "--asc") == 0) {
    if (!ParseHex(argv[i + 1], &asc)) {
      std::fprintf(stderr, "adec: --asc takes the AudioSpecificConfig in hexadecimal\n");
      return 2;
    }
    i += 2;
  }
  if (argc - i != 2) {
    std::fprintf(stderr, "usage: ovtool adec [--raw [--asc HEX]] IN OUT.wav\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("adec", argv[i])) return 1;
  if (!raw) {
    const ov::String in = ov::String::FromUtf8Lossy(argv[i]);
    if (auto source = media::OpenAudioSource(in)) return DecodeThroughSource(source.get(), argv[i + 1]);
    if (in.EndsWithNoCase(u".mp3")) {
      // No AAC stream hides behind this extension.
      if (!ovtool::CheckInputFile("adec", argv[i])) return 1;
      std::fprintf(stderr, "adec: %s: no MPEG audio frame the MP3 source can play\n", argv[i]);
      return 1;
    }
  }
  std::vector<uint8_t> data;
  if (!ovtool::ReadInputFile("adec", argv[i], &data)) return 1;
  if (data.size() < 8) {
    std::fprintf(stderr, "adec: %s: too short for an AAC stream\n", argv[i]);
    return 1;
  }
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoder(&decoder) != heaac::kAacOk) {
    std::fprintf(stderr, "adec: cannot create the decoder\n");
    return 1;
  }
  if (!asc.empty()) return DecodeRawWithConfig(decoder, asc, data, argv[i + 1]);
  media::Mp4Reader reader(ov::String::FromUtf8Lossy(argv[i]));
  const media::Mp4SampleEntry* entry = nullptr;
  const int track = reader.FindConfiguredTrack(media::FourCC("soun"), media::FourCC("mp4a"), &entry);
  if (track >= 0) return DecodeMp4(decoder, &reader, track, *entry, argv[i + 1]);
  heaac::AacStreamInfo info{};
  int32_t headerLength = static_cast<int32_t>(data.size());
  if (heaac::gGetAacStreamInfo(data.data(), &headerLength, &info, 2, nullptr, 0) != 0 ||
      heaac::gConfigureHeAacDecoder(decoder, &info) != 0) {
    std::fprintf(stderr, "adec: %s is not a supported AAC stream\n", argv[i]);
    heaac::gDestroyHeAacDecoder(decoder);
    return 1;
  }
  const bool adif = std::memcmp(data.data(), "ADIF", 4) == 0;
  std::vector<int16_t> out(info.outputBytesPerFrame / 2);
  std::vector<int16_t> pcm;
  size_t pos = adif ? static_cast<size_t>(headerLength) : 0;
  int errors = 0;
  while (pos < data.size()) {
    size_t frameBytes = data.size() - pos;
    if (!raw && !adif) {
      // One ADTS frame per sample, as the ADTS reader hands them out.
      if (frameBytes < 7 || data[pos] != 0xFF || (data[pos + 1] & 0xF0) != 0xF0) {
        ++pos;
        continue;
      }
      const size_t length = ((data[pos + 3] & 3u) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5);
      if (length < 7) {
        ++pos;
        continue;
      }
      frameBytes = length < frameBytes ? length : frameBytes;
    }
    // Feed the whole sample; a frame holding several raw blocks takes one call
    // per block.
    size_t used = 0;
    while (used < frameBytes) {
      int32_t in = static_cast<int32_t>(frameBytes - used);
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      const int32_t r = heaac::gDecodeHeAacFrame(decoder, data.data() + pos + used, &in, out.data(), &outBytes);
      if (r != 0 || in <= 0) {
        ++errors;
        if (raw || adif) used += 1;
        else used = frameBytes;
        continue;
      }
      used += static_cast<size_t>(in);
      pcm.insert(pcm.end(), out.begin(), out.begin() + outBytes / 2);
      if (!raw && !adif && frameBytes - used < 2) break;
    }
    pos += frameBytes;
  }
  return Finish(decoder, errors, pcm, info, argv[i + 1]);
}

}  // namespace

OVTOOL_COMMAND(adec,
               "adec [--raw [--asc HEX]] IN OUT.wav  decode a sound clip through its audio source (MP3, AAC, AMR, "
               "WAV), or an AAC stream (ADTS, ADIF, raw blocks), to WAV",
               RunAdec);
