// Drives AmrReader and the AMR decoder source over it: open, duration, decode
// every frame, seek.
#include <cstddef>
#include <cstdint>

#include "media/amr_decoder_source.h"
#include "media/amr_reader.h"
#include "media/media_package.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.amr", data, size);
  media::ScopedMediaPackage installed(&package);
  auto reader = std::make_unique<media::AmrReader>(u"fuzz.amr");
  if (!reader->Open()) return 0;
  reader->GetDuration(0);
  media::AmrDecoderSource source(std::move(reader));
  if (!source.Open(u"fuzz.amr", 1)) return 0;
  uint32_t bytes = 0, time = 0;
  for (int i = 0; i < 2048 && source.ReadAudio(320, &bytes, &time); ++i) {
  }
  source.Seek(1005);
  source.ReadAudio(320, &bytes, &time);
  return 0;
}
