#pragma once
// RawFrameCacheWriter: renders one mix item (clip, picture, overlay, effect,
// text) frame by frame and appends the frames to a ".raw" frame cache, so that
// playback only copies ready RGB565 frames. The decode-to-cache job creates
// one writer per item and calls WriteFrame until it reports 100.
//
// Thread rule: one thread (the decode-to-cache job's) owns a writer.

#include <cstdint>
#include <memory>

#include "engine/raw_frame_cache_format.h"
#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace engine {

// What the writer renders an item through: a private video mixer playing the
// item in its channel 0.
class CacheFrameComposer {
 public:
  virtual ~CacheFrameComposer() = default;
  // Composes the item's frame at `timeMs` of item time; nonzero when a frame
  // was drawn.
  virtual int ComposeFrame(uint32_t timeMs) = 0;
  // The composed frame: RowPixels() x height RGB565 words, top-down.
  virtual uint16_t* Frame() = 0;
  // Whether channel 0 still holds the item (false once it has ended).
  virtual bool IsItemLoaded() = 0;
};

// A CacheFrameComposer over a private VideoMixer playing one item in its
// channel 0 (null when the mixer cannot load the item).
std::unique_ptr<CacheFrameComposer> MakeMixerComposer(const ov::String& sourcePath, uint32_t width, uint32_t height,
                                                      uint32_t framesPerSecond, uint32_t background, uint32_t startMs,
                                                      uint32_t endMs, uint32_t crop);

class RawFrameCacheWriter {
 public:
  // Bytes gathered before they go to the file.
  static constexpr uint32_t kWriteBufferBytes = 300000;

  // Writes the header of a width x height cache to `outputPath` (created or
  // truncated) and starts at `startMs`. `frameDurationMs` 0 means
  // 1000 / framesPerSecond; kRawStillDuration writes one frame of a still.
  // Without a composer, with a size outside 1..kRawMaxSide, with no frame
  // duration (0 and 0 frames per second) or when the file cannot be created,
  // no file is made and WriteFrame answers -1.
  RawFrameCacheWriter(std::unique_ptr<CacheFrameComposer> composer, const ov::String& outputPath, uint32_t width,
                      uint32_t height, uint32_t framesPerSecond, uint32_t frameDurationMs, uint32_t startMs,
                      uint32_t endMs, uint32_t hasColourKey, uint32_t colourKey, uint32_t isMask);
  // Renders `sourcePath` (from `startMs` to `endMs`, cropped by the `crop`
  // word) through a private video mixer of width x height at
  // framesPerSecond, its background the colour key. When the item cannot be
  // loaded no file is made and WriteFrame answers -1.
  RawFrameCacheWriter(const ov::String& sourcePath, const ov::String& outputPath, uint32_t width, uint32_t height,
                      uint32_t framesPerSecond, uint32_t frameDurationMs, uint32_t startMs, uint32_t endMs,
                      uint32_t hasColourKey, uint32_t colourKey, uint32_t isMask, uint32_t crop);
  ~RawFrameCacheWriter();
  RawFrameCacheWriter(const RawFrameCacheWriter&) = delete;
  RawFrameCacheWriter& operator=(const RawFrameCacheWriter&) = delete;

  // Renders and appends the frame of the current time, then advances by one
  // frame duration. Returns the progress in percent ((current - start) * 100
  // / (end - start + duration) after the step), 100 when the item is empty,
  // -1 on failure (no composer or file, a failed write). The file is flushed
  // and closed at the step whose time is exactly the end time.
  int WriteFrame();
  // Writes out what is buffered, drops the composer and closes the file.
  // False when the last write failed.
  bool Close();

  bool usable() const { return composer_ != nullptr; }
  const RawFrameHeader& header() const { return header_; }

 private:
  bool Append(const void* data, uint32_t bytes);
  bool Flush();

  std::unique_ptr<CacheFrameComposer> composer_;
  ov::File file_;
  RawFrameHeader header_;
  std::unique_ptr<uint8_t[]> buffer_;  // kWriteBufferBytes, made at the first append
  uint32_t buffered_ = 0;
  std::unique_ptr<uint8_t[]> runs_;    // mask run bytes of one frame
  int64_t current_ = 0;  // ms
  int64_t start_ = 0;
  int64_t end_ = 0;
  int64_t duration_ = 0;  // ms per step
};

}  // namespace engine
