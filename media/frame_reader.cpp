#include "media/frame_reader.h"

#include <algorithm>
#include <cstdint>

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
  index_spacing_ = 0;
}

void FrameReader::UpdateIndex(const FrameCursor& cursor) {
  if (last_indexed_time_ >= 0 && int64_t{cursor.time} <= last_indexed_time_) return;
  last_indexed_time_ = cursor.time;
  if (!index_.empty() && uint64_t{cursor.time} < uint64_t{index_.back().time} + index_spacing_) return;
  if (index_.size() >= kMaxIndexEntries) {
    // Full: every other entry goes and entries are taken twice as far apart.
    size_t kept = 0;
    for (size_t i = 0; i < index_.size(); i += 2) index_[kept++] = index_[i];
    index_.resize(kept);
    const uint64_t span = index_.back().time - index_.front().time;
    index_spacing_ = static_cast<uint32_t>(std::min<uint64_t>(span / (kept > 1 ? kept - 1 : 1), UINT32_MAX));
    if (uint64_t{cursor.time} < uint64_t{index_.back().time} + index_spacing_) return;
  }
  index_.push_back({cursor.position, cursor.time});
}

bool FrameReader::Seek(TrackCursor* track_cursor, uint32_t target) {
  FrameCursor* cursor = AsFrameCursor(track_cursor);
  if (!cursor) return false;
  bool placed = false;
  if (last_indexed_time_ >= 0 && int64_t{target} <= last_indexed_time_) {
    // Newest entry first: the first one at or before the target. From the
    // entry before it (entries are at least a frame apart) step to the frame
    // that holds the target and take the frame before that for lead-in.
    // Without an earlier frame the one that holds the target is used, so a
    // target inside the first frame still lands on it.
    for (size_t i = index_.size(); i-- > 0;) {
      if (index_[i].time > target) continue;
      const size_t from = (target != 0 && i > 0) ? i - 1 : i;
      FrameCursor at;
      at.position = index_[from].position;
      at.time = index_[from].time;
      FrameCursor before = at;
      bool has_before = false;
      for (;;) {
        FrameCursor next = at;
        if (!NextFrame(&next) || next.time > target) break;
        before = at;
        has_before = true;
        at = next;
      }
      if (target != 0 && has_before) at = before;
      cursor->position = at.position;
      cursor->time = at.time;
      placed = true;
      break;
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
