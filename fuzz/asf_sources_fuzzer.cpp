// Drives the ASF sources as the mixers do, through the platform's WMA and
// WMV decoder objects: the sound of the file block by block, a seek and an
// end mark; the video frame by frame, a seek and a rewind.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_target.h"
#include "media/decoder_source.h"
#include "media/media_package.h"
#include "media/wmv_dmo_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.wmv", data, size);
  media::ScopedMediaPackage installed(&package);
  if (auto sound = media::OpenAudioSource(u"fuzz.wmv")) {
    uint32_t bytes = 0, time = 0;
    for (int i = 0; i < 256 && sound->ReadAudio(4096, &bytes, &time); ++i) {
    }
    if (sound->Seek(700)) {
      sound->endMark = 900;
      for (int i = 0; i < 64 && sound->ReadAudio(4096, &bytes, &time); ++i) {
      }
    }
  }
  media::WmvDmoSource video;
  if (!video.Open(u"fuzz.wmv", 1)) return 0;
  media::MediaFormat f;
  if (!video.GetFormat(&f) || int64_t(f.width) * f.height > kFuzzMaxPictureArea) return 0;
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0, time = 0;
  for (int i = 0; i < kFuzzMaxPictures && video.ReadVideoFrame(&frame, &bytes, &time, 0); ++i) {
  }
  if (video.Seek(600)) video.ReadVideoFrame(&frame, &bytes, &time, 0);
  if (video.Rewind()) video.ReadVideoFrame(&frame, &bytes, &time, 1);
  return 0;
}
