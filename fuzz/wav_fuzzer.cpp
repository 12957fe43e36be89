// Drives the WAV header parser and the WAV source (PCM and GSM 6.10) as the
// audio mixer does: open, format, read every block, seek, end mark. WavSource
// reads files, so each input is written to a scratch file first.
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/decoder_source.h"
#include "media/wav_file.h"
#include "platform/os/file.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ov::String path = ov::String::FromUtf8Lossy(ovfuzz::ScratchFile("input.wav"));
  if (!ov::WriteWholeFile(path, data, size)) return 0;
  {
    media::WavFile wav;
    std::vector<uint8_t> chunk;
    wav.Open(path, ov::kGenericRead, ov::CreateMode::kOpenExisting, media::WavFormat(), &chunk);
  }
  auto source = media::OpenAudioSource(path);
  if (source) {
    media::MediaFormat format;
    source->GetFormat(&format);
    uint32_t bytes = 0, time = 0;
    for (int i = 0; i < 256 && source->ReadAudio(4096, &bytes, &time); ++i) {
    }
    source->Seek(1234);
    source->ReadAudio(1 << 20, &bytes, &time);
    source->Rewind();
    source->endMark = 70;
    for (int i = 0; i < 16 && source->ReadAudio(333, &bytes, &time); ++i) {
    }
  }
  ov::DeleteFile(path);
  return 0;
}
