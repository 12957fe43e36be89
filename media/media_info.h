#pragma once
// MediaInfo: what the user interface shows about a media file without decoding
// it: title, artist, album, year, duration and bit rate. ReadMediaInfo picks
// the method by the file's extension: the ASF header for ".wma" and ".wmv",
// the ID3 tags and the MPEG-audio frame scan for ".mp3", and the container
// readers for ".amr", ".aac" and the MP4 family.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/ov_string.h"

namespace media {

// The names read as MP4/3GP: ".3gp", ".3gpp", ".3g2", ".mp4", ".m4a", ".mov",
// ".mpa" (case-insensitive).
bool HasMp4FamilyExtension(const ov::String& path);

class MediaInfo {
 public:
  MediaInfo() = default;

  // Fills the record from the file at `path`. With `yield` non-zero the
  // readers leave the processor to other threads between steps.
  void ReadMediaInfo(const ov::String& path, uint32_t yield);

  ov::String path;
  uint32_t bitRate = 0;  // bit/s, ASF only
  ov::String genre;  // "UNKNOWN" from an ID3v1 tag
  ov::String year;
  ov::String album;
  ov::String artist;
  ov::String title;
  uint32_t durationMs = 0;  // 0 = unknown
  uint32_t yield = 0;
  // ID3v2 frames read: identifier and text.
  std::vector<std::pair<std::string, ov::String>> id3Frames;

 private:
  void ReadAsfProperties();
  bool ReadId3v2();
  void ReadId3v1();
  void ReadMpegDuration();
  void Pause(int ms) const;
};

}  // namespace media
