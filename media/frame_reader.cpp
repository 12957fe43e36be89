#include "media/frame_reader.h"

namespace media {

FrameReader::FrameReader(Kind k, const ov::String& path) : MediaReader(k) {
  // The result is not checked here: Open() fails on an unreadable file
  // because no valid header is found.
  file_.Open(path);
}

FrameReader::~FrameReader() = default;

FrameCursor* FrameReader::AsFrameCursor(TrackCursor* cursor) {
  if (!cursor || cursor->kind != TrackCursor::kFrame) return nullptr;
  return static_cast<FrameCursor*>(cursor);
}

std::unique_ptr<TrackCursor> FrameReader::OpenTrack(int) {
  auto cursor = std::make_unique<FrameCursor>();
  cursor->position = start_.position;
  cursor->time = start_.time;
  cursor->requested = start_.requested;
  return cursor;
}

void FrameReader::ResetIndex(uint32_t position) {
  index_.clear();
  index_.push_back({position, 0});
  last_indexed_time_ = 0;
}

void FrameReader::UpdateIndex(const FrameCursor& cursor) {
  if (last_indexed_time_ < 0 || int64_t{cursor.time} > last_indexed_time_) {
    last_indexed_time_ = cursor.time;
    index_.push_back({cursor.position, cursor.time});
  }
}

bool FrameReader::Seek(TrackCursor* track_cursor, uint32_t target) {
  FrameCursor* cursor = AsFrameCursor(track_cursor);
  if (!cursor) return false;
  bool placed = false;
  if (last_indexed_time_ >= 0 && int64_t{target} <= last_indexed_time_) {
    // Newest entry first: the first one at or before the target, then one
    // frame older for lead-in. When there is no older entry the found one
    // (at or before the target) is used, so a target inside the first frame
    // still lands on it.
    for (size_t i = index_.size(); i-- > 0;) {
      if (index_[i].time <= target) {
        size_t pick = (target != 0 && i > 0) ? i - 1 : i;
        cursor->position = index_[pick].position;
        cursor->time = index_[pick].time;
        placed = true;
        break;
      }
    }
  }
  if (!placed) {
    // Beyond the index: step forward from where the cursor stands.
    FrameCursor remembered = *cursor;
    bool passed = false;
    while (cursor->time < target) {
      remembered = *cursor;
      if (!NextFrame(cursor)) break;
      if (cursor->time > target) {
        passed = true;
        break;
      }
    }
    if (passed) *cursor = remembered;
    if (cursor->time > target) return false;
  }
  cursor->requested = target;
  return true;
}

}  // namespace media
