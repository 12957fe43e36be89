// Drives AsfReader as the WMA and WMV sources do: the stream lists, formats
// and codec bytes, every media object of every stream, seeks and reads after
// them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "media/asf_reader.h"
#include "media/media_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.wmv", data, size);
  media::ScopedMediaPackage installed(&package);
  media::AsfReader reader(u"fuzz.wmv");
  if (!reader.IsOpen()) return 0;
  std::vector<uint8_t> streams;
  for (uint16_t entry : reader.ListAudioStreams()) {
    dshow::WaveFormatEx w;
    if (reader.GetWaveFormat(entry >> 8, &w)) streams.push_back(uint8_t(entry));
    reader.GetCodecData(entry >> 8);
  }
  for (uint16_t entry : reader.ListVideoStreams()) {
    dshow::BitmapInfoHeader b;
    if (reader.GetVideoInfo(entry >> 8, &b)) streams.push_back(uint8_t(entry));
    reader.GetCodecData(entry >> 8);
  }
  std::vector<uint8_t> object;
  uint32_t bytes = 0, time = 0;
  for (uint8_t number : streams) {
    for (int i = 0; i < 2048 && reader.ReadMediaObject(&object, number, &bytes, &time); ++i) {
    }
    media::AsfReader::SeekEntry entry;
    for (uint32_t target : {0u, 500u, 1500u}) {
      if (!reader.Seek(target, number, &entry)) continue;
      for (int i = 0; i < 8 && reader.ReadMediaObject(&object, number, &bytes, &time); ++i) {
      }
    }
  }
  return 0;
}
