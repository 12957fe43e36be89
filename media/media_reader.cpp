#include "media/media_reader.h"

namespace media {

MediaReader::~MediaReader() = default;
bool MediaReader::Open() { return false; }
bool MediaReader::Seek(TrackCursor*, uint32_t) { return false; }
std::unique_ptr<TrackCursor> MediaReader::OpenTrack(int) { return nullptr; }
bool MediaReader::ReadSample(TrackCursor*, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t*) {
  if (buffer) buffer->reset();
  if (bytes) *bytes = 0;
  return false;
}
int64_t MediaReader::GetDuration(int) { return -1; }
bool MediaReader::GetVideoSize(uint32_t*, uint32_t*, int*) { return false; }
int MediaReader::GetVideoTrack() { return -1; }
int MediaReader::GetAudioTrack() { return -1; }
uint32_t MediaReader::GetTimescale(int) { return 1000; }

}  // namespace media
