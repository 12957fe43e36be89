#pragma once
// MediaReader: a demultiplexer. It opens a container file, describes its
// tracks and hands out the coded samples of one track in order, with their
// times. Decoder sources own a reader and feed its samples to a decoder.
//
// Units of the times at this interface depend on the reader: AdtsReader counts
// samples (1024 per frame) and reports durations in whole seconds, AmrReader
// uses milliseconds, Mp4Reader reports sample times and seeks in milliseconds
// and durations in the track's media timescale.
//
// Failures are reported by results alone (false, null, -1); nothing throws.
// Thread rule: one owner thread at a time.

#include <cstdint>
#include <memory>

namespace media {

// A position in one track, made by OpenTrack and owned by the caller. Each
// reader defines its own; `kind` tells them apart (no RTTI).
struct TrackCursor {
  enum Kind : uint32_t { kFrame = 0, kMp4 = 1 };
  explicit TrackCursor(Kind k) : kind(k) {}
  virtual ~TrackCursor() = default;
  TrackCursor(const TrackCursor&) = default;
  TrackCursor& operator=(const TrackCursor&) = default;
  Kind kind;  // set by the constructor of each cursor type
};

// Cursor of the ADTS and AMR readers.
struct FrameCursor : TrackCursor {
  FrameCursor() : TrackCursor(kFrame) {}
  uint32_t position = 0;   // file position of the next frame
  uint32_t time = 0;       // time of the next frame (ADTS: samples, AMR: ms)
  uint32_t requested = 0;  // target of the last Seek; 0 after every frame step
};

class MediaReader {
 public:
  enum Kind : uint32_t { kAdts = 0, kMp4 = 1, kAmr = 2 };

  explicit MediaReader(Kind k) : kind(k) {}
  virtual ~MediaReader();
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // Parses the file header; false when the file is not of this format.
  virtual bool Open();
  // Moves `cursor` so that the next ReadSample delivers the sample that holds
  // `time` (or one frame before it, see each reader).
  virtual bool Seek(TrackCursor* cursor, uint32_t time);
  // A new cursor at the start of `track`; null for a bad track.
  virtual std::unique_ptr<TrackCursor> OpenTrack(int track);
  // The next sample of the cursor's track in a new buffer (owned by the
  // caller), its size and its time. False at the end or on a damaged sample;
  // `buffer` is then null.
  virtual bool ReadSample(TrackCursor* cursor, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes,
                          uint32_t* time);
  // Track duration in the reader's unit; -1 when unknown.
  virtual int64_t GetDuration(int track);
  // Picture size of the first video track and its index; false without video.
  virtual bool GetVideoSize(uint32_t* width, uint32_t* height, int* track);
  virtual int GetVideoTrack();  // -1: none
  virtual int GetAudioTrack();  // -1: none
  // Units per second of the track's times; 0 for a bad track.
  virtual uint32_t GetTimescale(int track);

  const Kind kind;
};

}  // namespace media
