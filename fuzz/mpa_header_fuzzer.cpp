// Drives the MPEG audio frame header reader as the media information does:
// open, first frame, VBR header, average rate; every failure is an exception.
#include <cstddef>
#include <cstdint>

#include "media/media_package.h"
#include "media/mpa_audio_file.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.mp3", data, size);
  media::ScopedMediaPackage installed(&package);
  try {
    media::CMPAAudioFile file(u"fuzz.mp3");
    file.DurationMs();
    if (file.vbr()) {
      file.vbr()->SeekPoint(0.0f);
      file.vbr()->SeekPoint(42.5f);
      file.vbr()->SeekPoint(100.0f);
    }
    media::CMPAFrame frame = file.first_frame();
    for (int i = 0; i < 64; ++i) frame = file.NextFrame(frame);
  } catch (const media::CMPAException&) {
  }
  return 0;
}
