#pragma once
// The video-track sources: the video track of an MP4/3GP file (Mp4Reader)
// decoded by our H.263, MPEG-4 Part 2 or H.264 decoder through the feeding
// loops of video_frame_feeder.h, each picture converted to RGB565 in a new
// frame of ((width + 1) & ~1) x height pixels, rows bottom-up (IsBottomUp:
// the video mixer flips them).
//
// Times: a frame is reported at the time of its own sample; the first frame
// after a seek at the target. Seek goes back to the start of the track and
// decodes forward, dropping the pictures whose sample time is before the
// target.
//
// A decode failure ends the clip (ReadVideoFrame answers false), and so does
// a picture smaller than the size the frames are converted at, which would
// leave part of the frame unwritten.

#include <cstdint>
#include <memory>

#include "media/decoder_source.h"
#include "media/mp4_reader.h"
#include "media/video_frame_feeder.h"

namespace media {

class VideoTrackSource : public DecoderSource {
 public:
  ~VideoTrackSource() override;

  bool Seek(uint32_t timeMs) override;
  bool Rewind() override { return Seek(0); }
  // Zeroes sampleRate, bitsPerSample, channels and frameDurationMs, sets
  // height and width; the other fields stay as the caller set them.
  bool GetFormat(MediaFormat* out) override;
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                      uint32_t single) override;
  bool Open(const ov::String& path, uint32_t scale) override;

  // Post-filter level of the H.263 and MPEG-4 decoders (0, off, unless set
  // before Open).
  void SetPostfilterLevel(uint32_t level) { postfilter_level_ = level; }
  // The next decoded picture itself, without conversion, seek or end mark,
  // for tools that write the decoder's planes. After kFailed another call
  // goes on with the next sample.
  FeedStatus NextPicture(FedPicture* out, int32_t* result);

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

 protected:
  // Takes ownership of `reader` (may be null: Open then fails).
  explicit VideoTrackSource(std::unique_ptr<Mp4Reader> reader);
  // Finds the track, sets track_, width_ and height_ and creates feeder_
  // over Provider(). False when the track cannot be decoded.
  virtual bool OpenTrack() = 0;
  // Hands out the samples of track_ through cursor_.
  SampleProvider Provider();

  std::unique_ptr<Mp4Reader> reader_;
  std::unique_ptr<VideoFrameFeeder> feeder_;
  int track_ = -1;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t postfilter_level_ = 0;

 private:
  // Time of the track's first frame: the delay of a leading empty edit.
  uint32_t StartMs() const;

  ov::String own_path_;
  std::unique_ptr<TrackCursor> cursor_;
  uint32_t time_ms_ = 0;  // no frame is reported before it (0, or the seek target)
  static constexpr uint32_t kNoTarget = UINT32_MAX;
  uint32_t seek_target_ms_ = kNoTarget;
};

// H.263 ("s263", "h263"): frames at the first sample entry's size. The
// decoder takes its size from the first picture header. CanSeek is false
// (Seek still works by decoding from the start).
class H263DecoderSource final : public VideoTrackSource {
 public:
  explicit H263DecoderSource(std::unique_ptr<Mp4Reader> reader) : VideoTrackSource(std::move(reader)) {}
  bool CanSeek() override { return false; }

 private:
  bool OpenTrack() override;
};

// H.264 ("avc1"): the decoder is created from the track's first SPS and PPS
// with the "avcC"'s NAL length size; frames at the first sample entry's size.
class H264DecoderSource final : public VideoTrackSource {
 public:
  explicit H264DecoderSource(std::unique_ptr<Mp4Reader> reader) : VideoTrackSource(std::move(reader)) {}

 private:
  bool OpenTrack() override;
};

// MPEG-4 Part 2 ("mp4v"): the decoder is created from the track's
// decoder-specific configuration; frames at the size of its video object
// layer header.
class Mpeg4DecoderSource final : public VideoTrackSource {
 public:
  explicit Mpeg4DecoderSource(std::unique_ptr<Mp4Reader> reader) : VideoTrackSource(std::move(reader)) {}

 private:
  bool OpenTrack() override;
};

// The source for the video track `reader` found: an H.263 track (a "d263"
// box), else an H.264 track ("avcC"), else a track whose first video entry
// carries an "esds" configuration (MPEG-4 Part 2). Null when there is none;
// the source is not opened yet.
std::unique_ptr<VideoTrackSource> MakeVideoTrackSource(std::unique_ptr<Mp4Reader> reader);

}  // namespace media
