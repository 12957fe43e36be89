// ovtool info FILE [--packets]: the media information of a file, and with
// --packets the reader's samples (time and size) of every track, to set
// beside ffprobe -show_packets.
#include <cstdio>
#include <cstring>
#include <memory>

#include "media/adts_reader.h"
#include "media/amr_reader.h"
#include "media/media_info.h"
#include "media/mp4_reader.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"

namespace {

void PrintPackets(media::MediaReader& reader, int track) {
  auto cursor = reader.OpenTrack(track);
  if (!cursor) return;
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
    std::printf("packet track=%d time=%u size=%u\n", track, time, bytes);
  }
}

int RunInfo(int argc, char** argv) {
  bool packets = argc == 3 && std::strcmp(argv[2], "--packets") == 0;
  if (argc != 2 && !packets) {
    std::fprintf(stderr, "usage: ovtool info FILE [--packets]\n");
    return 2;
  }
  ov::String path = ov::String::FromUtf8Lossy(argv[1]);
  media::MediaInfo info;
  info.ReadMediaInfo(path, 0);
  std::printf("title=%s\nartist=%s\nalbum=%s\nyear=%s\ngenre=%s\nduration_ms=%u\nbitrate=%u\n",
              info.title.ToUtf8Lossy().c_str(), info.artist.ToUtf8Lossy().c_str(), info.album.ToUtf8Lossy().c_str(),
              info.year.ToUtf8Lossy().c_str(), info.genre.ToUtf8Lossy().c_str(), info.durationMs, info.bitRate);
  if (!packets) return 0;
  // Times as the readers give them: ADTS in samples, AMR and MP4 in ms.
  if (path.EndsWithNoCase(u".aac")) {
    media::AdtsReader reader(path);
    if (reader.Open()) PrintPackets(reader, 0);
  } else if (path.EndsWithNoCase(u".amr")) {
    media::AmrReader reader(path);
    if (reader.Open()) PrintPackets(reader, 0);
  } else {
    media::Mp4Reader reader(path);
    for (int t = 0; t < reader.track_count(); ++t) PrintPackets(reader, t);
  }
  return 0;
}

}  // namespace

OVTOOL_COMMAND(info, "info FILE [--packets]  media information; with --packets the reader's samples", RunInfo);
