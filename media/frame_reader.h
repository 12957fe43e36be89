#pragma once
// FrameReader: what the ADTS and AMR readers share: a file of self-delimiting
// frames, a frame cursor, and a seek index of frame starts that grows while
// the file is read or scanned. The index is bounded: past kMaxIndexEntries it
// keeps every other entry and records frames further apart, so a file of
// millions of tiny frames costs no more memory than a short one; a seek steps
// forward from the nearest entry.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/buffered_file_reader.h"
#include "media/media_reader.h"
#include "platform/os/ov_string.h"

namespace media {

class FrameReader : public MediaReader {
 public:
  FrameReader(Kind k, const ov::String& path);
  ~FrameReader() override;

  // Entries the seek index holds at most.
  static constexpr size_t kMaxIndexEntries = 4096;

  // Seek in the reader's time unit: from the index when the target is inside
  // it (one frame of lead-in before the frame that holds the target), else by
  // stepping frames forward.
  bool Seek(TrackCursor* cursor, uint32_t time) override;
  // A copy of the start cursor; the track argument is ignored.
  std::unique_ptr<TrackCursor> OpenTrack(int track) override;

  // Steps over one frame without keeping it; false on a bad or incomplete
  // frame and at the end of the file.
  virtual bool NextFrame(FrameCursor* cursor) = 0;

  // Entries of the seek index, oldest first (for tests and ovtool).
  struct IndexEntry {
    uint32_t position;
    uint32_t time;
  };
  const std::vector<IndexEntry>& index() const { return index_; }

 protected:
  // Records where the frame at `cursor` starts when it lies beyond the index.
  void UpdateIndex(const FrameCursor& cursor);
  void ResetIndex(uint32_t position);
  static FrameCursor* AsFrameCursor(TrackCursor* cursor);

  BufferedFileReader file_;
  FrameCursor start_;

 private:
  std::vector<IndexEntry> index_;
  int64_t last_indexed_time_ = -1;  // time of the furthest frame start reached
  uint32_t index_spacing_ = 0;      // least time between two entries
};

}  // namespace media
