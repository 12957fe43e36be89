// Drives the MP3 source as the audio mixer does: the parser finds the first
// frame behind an ID3v2 tag, the decoder object decodes blocks, seeks walk
// and reuse the frame index; and the parser alone walks every frame.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_target.h"
#include "media/decoder_source.h"
#include "media/media_package.h"
#include "media/mp3_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.mp3", data, size);
  media::ScopedMediaPackage installed(&package);
  {
    media::Mp3Parser parser(u"fuzz.mp3");
    std::unique_ptr<uint8_t[]> frame;
    uint32_t length = 0;
    for (int i = 0; i < 256 && parser.NextFrame(&frame, &length, nullptr); ++i) {
    }
    parser.SeekTo(500);
    parser.SeekTo(100);
    parser.SeekTo(60000);
    parser.Rewind();
  }
  if (auto source = media::OpenAudioSource(u"fuzz.mp3")) {
    uint32_t bytes = 0, time = 0;
    for (int i = 0; i < 8 && source->ReadAudio(4608, &bytes, &time); ++i) {
    }
    source->Seek(200);
    source->ReadAudio(4608, &bytes, &time);
    source->endMark = 100;
    source->Rewind();
    while (source->ReadAudio(4608, &bytes, &time)) {
    }
  }
  return 0;
}
