// Drives AdtsReader as the AAC source and the media information do: open,
// scan the duration, read every frame, seek inside and beyond the index.
#include <cstddef>
#include <cstdint>

#include "media/adts_reader.h"
#include "media/media_package.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.aac", data, size);
  media::ScopedMediaPackage installed(&package);
  media::AdtsReader reader(u"fuzz.aac");
  if (!reader.Open()) return 0;
  reader.GetDuration(0);
  reader.ScanDuration();
  uint32_t bytes = 0;
  reader.GetDecoderConfig(&bytes);
  auto cursor = reader.OpenTrack(0);
  std::unique_ptr<uint8_t[]> sample;
  uint32_t time = 0;
  for (int i = 0; i < 4096 && reader.ReadSample(cursor.get(), &sample, &bytes, &time); ++i) {
  }
  reader.Seek(cursor.get(), 3000);
  reader.Seek(cursor.get(), 0);
  reader.ReadSample(cursor.get(), &sample, &bytes, &time);
  return 0;
}
