// Drives the ".qbt" frame decoder on its own (the first two bytes pick a
// picture size up to 64 x 64, the third the mode) and the ".qbt" source on
// the whole input as a clip served from memory, as the video mixer reads it:
// open, format, every frame, seek, rewind.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "media/media_package.h"
#include "media/qbt_decoder.h"
#include "media/qbt_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t width = 1 + data[0] % 64, height = 1 + data[1] % 64, mode = data[2] % 3;
  std::vector<uint8_t> destination(size_t((width + 1) & ~1u) * height * 2);
  // An exact-size copy, so that reads past the coded frame are caught.
  std::unique_ptr<uint8_t[]> coded(new uint8_t[size - 3]);
  std::memcpy(coded.get(), data + 3, size - 3);
  media::QbtDecodeFrame(destination.data(), width, height, 16, mode, 0, coded.get(), uint32_t(size - 3));

  media::MemoryPackage package;
  media::ScopedMediaPackage scoped(&package);
  const ov::String path = ov::String::FromUtf8Lossy("fuzz.qbt");
  package.Add(path, data, size);
  media::QbtSource source;
  source.path = path;
  if (source.Open(path, 1)) {
    media::MediaFormat format;
    source.GetFormat(&format);
    std::unique_ptr<uint8_t[]> frame;
    uint32_t bytes = 0, time = 0;
    for (int i = 0; i < 64 && source.ReadVideoFrame(&frame, &bytes, &time, 0); ++i) {
    }
    source.Seek(1000);
    source.Rewind();
    source.ReadVideoFrame(&frame, &bytes, &time, 0);
  }
  return 0;
}
