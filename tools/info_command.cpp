// ovtool info FILE [--packets]: the media information of a file, and with
// --packets the reader's samples (time and size) of every track, to set
// beside ffprobe -show_packets. A file that the reader of its kind (by
// extension, as the media information picks it) does not take is refused.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media/adts_reader.h"
#include "media/amr_reader.h"
#include "media/asf_reader.h"
#include "media/media_info.h"
#include "media/mp4_reader.h"
#include "media/mpa_audio_file.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

// Why the reader of the file's kind refuses it; empty when it takes it.
std::string ReaderRefusal(const ov::String& path) {
  if (path.EndsWithNoCase(u".wma") || path.EndsWithNoCase(u".wmv")) {
    return media::AsfReader(path).IsOpen() ? "" : "not an ASF file (no header or data object)";
  }
  if (path.EndsWithNoCase(u".mp3")) {
    try {
      media::CMPAAudioFile file(path);
    } catch (const media::CMPAException&) {
      return "no MPEG audio frame";
    }
    return {};
  }
  if (path.EndsWithNoCase(u".amr")) return media::AmrReader(path).Open() ? "" : "not a single-channel AMR-NB file";
  if (path.EndsWithNoCase(u".aac")) return media::AdtsReader(path).Open() ? "" : "not an ADTS AAC file";
  if (!media::HasMp4FamilyExtension(path)) return "no media information for this kind of file";
  return media::Mp4Reader(path).Open() ? "" : "no track in an MP4/3GP box tree";
}

void PrintPackets(media::MediaReader& reader, int track) {
  auto cursor = reader.OpenTrack(track);
  if (!cursor) return;
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
    std::printf("packet track=%d time=%u size=%u\n", track, time, bytes);
  }
}

// Every media object of every stream, a stream at a time: stream number,
// time (ms, preroll taken off) and size.
void PrintAsfObjects(const ov::String& path) {
  const size_t streams = media::AsfReader(path).parser().streams().size();
  for (size_t i = 0; i < streams; ++i) {
    media::AsfReader reader(path);
    const uint8_t number = reader.parser().streams()[i].number;
    if (reader.parser().FindStream(number) != &reader.parser().streams()[i]) continue;  // a repeated number
    std::vector<uint8_t> object;
    uint32_t size = 0, time = 0;
    while (reader.ReadMediaObject(&object, number, &size, &time)) {
      std::printf("packet stream=%u time=%u size=%u\n", number, time, size);
    }
  }
}

int RunInfo(int argc, char** argv) {
  bool packets = argc == 3 && std::strcmp(argv[2], "--packets") == 0;
  if (argc != 2 && !packets) {
    std::fprintf(stderr, "usage: ovtool info FILE [--packets]\n");
    return 2;
  }
  ov::String path = ov::String::FromUtf8Lossy(argv[1]);
  if (!ovtool::CheckInputFile("info", argv[1])) return 1;
  if (const std::string refusal = ReaderRefusal(path); !refusal.empty()) {
    std::fprintf(stderr, "info: %s: %s\n", argv[1], refusal.c_str());
    return 1;
  }
  media::MediaInfo info;
  info.ReadMediaInfo(path, 0);
  std::printf("title=%s\nartist=%s\nalbum=%s\nyear=%s\ngenre=%s\nduration_ms=%u\nbitrate=%u\n",
              info.title.ToUtf8Lossy().c_str(), info.artist.ToUtf8Lossy().c_str(), info.album.ToUtf8Lossy().c_str(),
              info.year.ToUtf8Lossy().c_str(), info.genre.ToUtf8Lossy().c_str(), info.durationMs, info.bitRate);
  if (!packets) return 0;
  // Times as the readers give them: ADTS in samples, AMR, MP4 and ASF in ms.
  if (path.EndsWithNoCase(u".wma") || path.EndsWithNoCase(u".wmv")) {
    PrintAsfObjects(path);
  } else if (path.EndsWithNoCase(u".aac")) {
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
