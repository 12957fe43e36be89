// ovtool asrc FILE OUT.wav: decodes a sound clip through OpenAudioSource into
// a 16-bit (or 8-bit, as delivered) PCM WAV file.
#include <cstdio>
#include <memory>

#include "media/decoder_source.h"
#include "media/wav_file.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

int RunAsrc(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ovtool asrc FILE OUT.wav\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("asrc", argv[1])) return 1;
  ov::String in = ov::String::FromUtf8Lossy(argv[1]);
  auto source = media::OpenAudioSource(in);
  if (!source) {
    std::fprintf(stderr, "asrc: %s has no audio source\n", argv[1]);
    return 1;
  }
  media::MediaFormat format;
  if (!source->GetFormat(&format) || format.sampleRate == 0 || format.channels == 0) {
    std::fprintf(stderr, "asrc: no audio format\n");
    return 1;
  }
  media::WavFormat out_format;
  out_format.formatTag = 1;
  out_format.channels = static_cast<uint16_t>(format.channels);
  out_format.samplesPerSecond = format.sampleRate;
  out_format.bitsPerSample = static_cast<uint16_t>(format.bitsPerSample);
  out_format.blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
  out_format.averageBytesPerSecond = format.sampleRate * out_format.blockAlign;
  media::WavFile wav(ov::String::FromUtf8Lossy(argv[2]), ov::kGenericRead | ov::kGenericWrite,
                     ov::CreateMode::kCreateAlways, out_format);
  if (wav.status != 0) {
    std::fprintf(stderr, "asrc: cannot write %s (error %u)\n", argv[2], wav.status);
    return 1;
  }
  uint32_t bytes = 0, time = 0;
  uint64_t total = 0;
  while (auto block = source->ReadAudio(4096, &bytes, &time)) {
    uint32_t written = 0;
    if (!wav.Append(block.get(), bytes, &written)) {
      std::fprintf(stderr, "asrc: write failed (error %u)\n", wav.status);
      return 1;
    }
    total += bytes;
  }
  std::printf("%llu bytes, %u Hz, %u channels, %u bits\n", static_cast<unsigned long long>(total), format.sampleRate,
              format.channels, format.bitsPerSample);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(asrc, "asrc FILE OUT.wav  decode a sound clip through the audio source factory to PCM WAV", RunAsrc);
