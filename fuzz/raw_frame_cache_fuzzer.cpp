// Drives the ".raw" frame cache reader as the video mixer does: open, format,
// read frames, seek, rewind, end mark. The source reads files, so each input
// is written to a scratch file first.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/raw_frame_cache_source.h"
#include "fuzz/fuzz_target.h"
#include "platform/os/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ov::String path = ov::String::FromUtf8Lossy(ovfuzz::ScratchFile("input.raw"));
  if (!ov::WriteWholeFile(path, data, size)) return 0;
  {
    engine::RawFrameCacheSource source;
    if (source.Open(path, 1)) {
      media::MediaFormat format;
      source.GetFormat(&format);
      std::unique_ptr<uint8_t[]> buffer;
      uint32_t bytes = 0, time = 0;
      for (int i = 0; i < 64 && source.ReadVideoFrame(&buffer, &bytes, &time, 0); ++i) {
      }
      source.Seek(format.frameDurationMs * 2 + 1);
      source.ReadVideoFrame(&buffer, &bytes, &time, 0);
      source.Rewind();
      source.endMark = 70;
      for (int i = 0; i < 8 && source.ReadVideoFrame(&buffer, &bytes, &time, 0); ++i) {
      }
    }
  }
  ov::DeleteFile(path);
  return 0;
}
