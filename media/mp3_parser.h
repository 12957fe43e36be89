#pragma once
// Mp3Parser: walks the frames of an MPEG audio file (".mp3") for the MP3
// source: skips a leading ID3v2 tag, finds the first valid frame header
// (CMPAFrameHeader) that the next header confirms, hands out whole frames one by one and steps to a time
// through an index of (file position, clock) pairs that grows as it walks.
//
// Clock: each frame counts its own samples (384, 1152 or 576) at its own
// rate, held in 64 bits in units of 1 / kClockRate s, a rate every MPEG audio
// sample rate divides, so that times stay exact over any length.
//
// Every length comes from a parsed header and is bounded by the file's size;
// a damaged frame is passed over byte by byte, never read past the end.
//
// Thread: one thread at a time.

#include <cstdint>
#include <memory>
#include <vector>

#include "media/buffered_file_reader.h"
#include "media/mpa_audio_file.h"
#include "platform/os/ov_string.h"

namespace media {

class Mp3Parser {
 public:
  // Ticks a second of the clock: every rate of ISO/IEC 11172-3, 13818-3 and
  // MPEG 2.5 divides it.
  static constexpr uint64_t kClockRate = 14112000;
  // Bytes searched for the first frame after the tag.
  static constexpr uint32_t kFirstFrameSearch = 5000;

  // Opens `path` (a media package entry or a file) and finds the first frame.
  explicit Mp3Parser(const ov::String& path);

  // False when the file did not open or holds no first frame.
  bool IsOpen() const { return open_; }
  // Channels (1 for single channel, else 2) and rate of the first frame.
  uint32_t channels() const { return first_.channel_mode == 3 ? 1u : 2u; }
  uint32_t sample_rate() const { return first_.sample_rate; }
  const CMPAFrameHeader& first_header() const { return first_; }
  uint32_t first_frame_offset() const { return first_offset_; }

  // The next valid frame from the current position, header included, in a
  // new buffer; `header` (may be null) gets its parsed header. The position
  // moves past it and the clock grows by its samples. False at the end of the
  // file (a frame cut by the end included).
  bool NextFrame(std::unique_ptr<uint8_t[]>* frame, uint32_t* length, CMPAFrameHeader* header);
  // Back to the first frame, clock 0.
  void Rewind();
  // Moves to the first frame boundary whose clock is at or after `timeMs`,
  // through the index where it reaches that far, else by walking frames from
  // its newest entry. False when the file ends first.
  bool SeekTo(uint32_t timeMs) { return SeekToClock(uint64_t(timeMs) * (kClockRate / 1000)); }
  // The same for a clock value.
  bool SeekToClock(uint64_t target);
  // The file position of the next frame search.
  uint32_t position() const { return position_; }
  // The clock at the current position.
  uint64_t clock() const { return clock_; }
  static uint32_t ClockToMs(uint64_t ticks) { return uint32_t(ticks / (kClockRate / 1000)); }

 private:
  // Parses a header at `offset`; false when there is no sync or the header
  // is refused.
  bool HeaderAt(uint32_t offset, CMPAFrameHeader* header, uint32_t* length);
  // Whether the frame of first_ at `at` is followed by a matching header (or
  // ends the file), so that a stray sync in other data is not taken for
  // the first frame.
  bool Confirmed(uint32_t at, uint32_t length);

  BufferedFileReader file_;
  bool open_ = false;
  CMPAFrameHeader first_;
  uint32_t first_offset_ = 0;
  uint32_t position_ = 0;
  uint64_t clock_ = 0;
  struct IndexEntry {
    uint32_t position;  // after a frame
    uint64_t clock;     // at that position
  };
  std::vector<IndexEntry> index_;  // oldest first, growing in file order
};

}  // namespace media
