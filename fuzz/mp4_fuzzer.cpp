// Drives Mp4Reader as the sources and the media information do: parse, the
// track queries and configurations, every sample of every track, seeks; then
// the video-track source of the file for a few frames of at most QCIF.
#include <cstddef>
#include <cstdint>

#include "media/media_package.h"
#include "media/mp4_reader.h"
#include "media/video_track_source.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  package.Add(u"fuzz.mp4", data, size);
  media::ScopedMediaPackage installed(&package);
  media::Mp4Reader reader(u"fuzz.mp4");
  if (!reader.Open()) return 0;
  uint32_t bytes = 0, width = 0, height = 0;
  int track = 0;
  reader.GetVideoSize(&width, &height, &track);
  reader.HasDecoderConfig(true);
  reader.GetDecoderConfig(false, &bytes);
  reader.GetDecoderConfig(true, &bytes);
  reader.GetAvcConfig(&bytes);
  for (int t = 0; t < reader.track_count(); ++t) {
    reader.GetDuration(t);
    reader.GetTimescale(t);
    auto cursor = reader.OpenTrack(t);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t time = 0;
    for (int i = 0; i < 4096 && reader.ReadSample(cursor.get(), &sample, &bytes, &time); ++i) {
    }
    reader.Seek(cursor.get(), 1000);
    reader.ReadSample(cursor.get(), &sample, &bytes, &time);
  }
  // Frames are converted at the sample entry's size: larger ones cost time
  // and reach nothing new.
  if (uint64_t(width) * height > kFuzzMaxPictureArea) return 0;
  auto source = media::MakeVideoTrackSource(std::make_unique<media::Mp4Reader>(u"fuzz.mp4"));
  if (source && source->Open(u"fuzz.mp4", 1)) {
    std::unique_ptr<uint8_t[]> frame;
    uint32_t time = 0;
    for (int i = 0; i < 4 && source->ReadVideoFrame(&frame, &bytes, &time, 0); ++i) {
    }
    source->Seek(100);
    source->ReadVideoFrame(&frame, &bytes, &time, 0);
  }
  return 0;
}
