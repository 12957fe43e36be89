#pragma once
// AsfReader: the ASF file of a ".wma" or ".wmv" clip as whole media objects
// (compressed frames) of one stream, with a seek index that grows while the
// file is read or scanned. It owns an AsfParser and the BufferedFileReader
// the parser reads. The WMA and WMV decoder sources own one each.
//
// Thread: one owner thread.

#include <cstdint>
#include <vector>

#include "media/asf_parser.h"
#include "media/buffered_file_reader.h"
#include "platform/dshow/media_type.h"
#include "platform/os/ov_string.h"

namespace media {

class AsfReader {
 public:
  // Opens the file and walks its header; IsOpen() tells whether that worked.
  explicit AsfReader(const ov::String& path);
  AsfReader(const AsfReader&) = delete;
  AsfReader& operator=(const AsfReader&) = delete;

  bool IsOpen() const { return open_; }
  const AsfParser& parser() const { return parser_; }

  // The stream at table position `position`: its WAVEFORMATEX (cbSize = the
  // codec bytes) for an audio stream, which also puts the reader in audio
  // mode (every payload of the stream is a place to seek to); false for
  // another kind.
  bool GetWaveFormat(uint32_t position, dshow::WaveFormatEx* out);
  // Its BITMAPINFOHEADER (width, height, planes 1, bit count, compression)
  // for a video stream; the reader seeks to key frames only.
  bool GetVideoInfo(uint32_t position, dshow::BitmapInfoHeader* out);
  // Its codec-specific bytes (empty for none or an unknown position).
  std::vector<uint8_t> GetCodecData(uint32_t position) const;
  // The streams of one kind in table order, each the stream number in the
  // low byte and the table position in the high byte; at most kMaxListed.
  static constexpr size_t kMaxListed = 128;
  std::vector<uint16_t> ListAudioStreams() const { return ListStreams(AsfStream::kAudio); }
  std::vector<uint16_t> ListVideoStreams() const { return ListStreams(AsfStream::kVideo); }

  // The next whole media object of stream `number`: its bytes, size and
  // time (presentation time less the preroll, ms). False at the end of the
  // data. Objects whose payloads do not join up are dropped.
  bool ReadMediaObject(std::vector<uint8_t>* object, uint8_t number, uint32_t* size, uint32_t* timeMs);

  struct SeekEntry {
    uint32_t deltaFrames = 0;  // frames after the key frame the reader now stands on
    uint32_t timeMs = 0;       // the entry's time
    bool steppedBack = false;  // the entry is one older than the one at or before the target
  };
  // Positions the reader for stream `number` so that the next read gives
  // the object of the index entry found for `timeMs` (scanning the file to
  // extend the index when needed): the entry one older than the newest at
  // or before the target (target 0: that newest entry), read from the key
  // frame before it. A target before the first object rewinds (entry time
  // 0). False for a target past the end of the clip or a file that cannot
  // be scanned.
  bool Seek(uint32_t timeMs, uint8_t number, SeekEntry* entry);

  // Index entries, oldest first (for tests).
  struct IndexEntry {
    uint32_t deltaFrames;
    uint32_t timeMs;
    uint32_t packetOffset;  // key-frame position: packet and payloads to drop in it
    uint32_t payloadIndex;
    uint8_t stream;
  };
  const std::vector<IndexEntry>& index() const { return index_; }

 private:
  std::vector<uint16_t> ListStreams(uint8_t kind) const;
  uint32_t TimeOf(const AsfPayload& p) const;
  // Keeps the key-frame position, delta-frame count and index up to date
  // with a payload of the wanted stream.
  void Observe(const AsfPayload& p);
  void ResetObject();

  BufferedFileReader file_;
  AsfParser parser_;
  bool open_ = false;
  bool audio_mode_ = false;
  uint8_t wanted_ = 0;
  std::vector<IndexEntry> index_;
  uint32_t key_packet_ = 0;
  uint32_t key_index_ = 0;
  uint32_t delta_frames_ = 0;
  // The media object being assembled.
  bool assembling_ = false;
  uint32_t object_size_ = 0;
  uint32_t object_time_ = 0;
};

}  // namespace media
