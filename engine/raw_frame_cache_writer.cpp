#include "engine/raw_frame_cache_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/video_mixer.h"

namespace engine {

namespace {

class MixerComposer final : public CacheFrameComposer {
 public:
  MixerComposer(uint32_t width, uint32_t height, uint32_t fps, uint32_t background)
      : mixer_(int32_t(width), int32_t(height), fps, background),
        rowPixels_((width + 1) & ~1u),
        frame_(size_t(rowPixels_) * height, ColourRefTo565(background)) {}

  bool Load(const ov::String& path, uint32_t start, uint32_t end, uint32_t crop) {
    if (mixer_.LoadClip(0, path, -1, start, end, crop, 1) != 1) return false;
    mixer_.ApplyAction(MakeCommand(CMD_PLAY, kFirstVideoChannel), 0);
    return true;
  }
  int ComposeFrame(uint32_t timeMs) override { return mixer_.ComposeFrame(timeMs) ? 1 : 0; }
  uint16_t* Frame() override {
    // The mixer's rows are the frame width; cache rows are padded to even.
    std::lock_guard<std::recursive_mutex> lock(mixer_.mutex());
    const Picture565 f = mixer_.frame();
    for (int32_t y = 0; y < f.height; ++y) std::copy_n(f.Row(y), f.width, frame_.data() + size_t(y) * rowPixels_);
    return frame_.data();
  }
  bool IsItemLoaded() override { return mixer_.IsChannelLoaded(0); }

 private:
  VideoMixer mixer_;
  uint32_t rowPixels_;
  std::vector<uint16_t> frame_;
};

}  // namespace

std::unique_ptr<CacheFrameComposer> MakeMixerComposer(const ov::String& sourcePath, uint32_t width, uint32_t height,
                                                      uint32_t framesPerSecond, uint32_t background, uint32_t startMs,
                                                      uint32_t endMs, uint32_t crop) {
  if (width == 0 || height == 0 || width > kRawMaxSide || height > kRawMaxSide) return nullptr;
  auto composer = std::make_unique<MixerComposer>(width, height, framesPerSecond == 0 ? 1 : framesPerSecond, background);
  if (!composer->Load(sourcePath, startMs, endMs, crop)) return nullptr;
  return composer;
}

RawFrameCacheWriter::RawFrameCacheWriter(const ov::String& sourcePath, const ov::String& outputPath, uint32_t width,
                                         uint32_t height, uint32_t framesPerSecond, uint32_t frameDurationMs,
                                         uint32_t startMs, uint32_t endMs, uint32_t hasColourKey, uint32_t colourKey,
                                         uint32_t isMask, uint32_t crop)
    : RawFrameCacheWriter(MakeMixerComposer(sourcePath, width, height, framesPerSecond, colourKey, startMs, endMs, crop),
                          outputPath, width, height, framesPerSecond, frameDurationMs, startMs, endMs, hasColourKey,
                          colourKey, isMask) {}

RawFrameCacheWriter::RawFrameCacheWriter(std::unique_ptr<CacheFrameComposer> composer, const ov::String& outputPath,
                                         uint32_t width, uint32_t height, uint32_t framesPerSecond,
                                         uint32_t frameDurationMs, uint32_t startMs, uint32_t endMs,
                                         uint32_t hasColourKey, uint32_t colourKey, uint32_t isMask) {
  if (frameDurationMs == 0 && framesPerSecond != 0) frameDurationMs = 1000 / framesPerSecond;
  if (!composer || frameDurationMs == 0 || width == 0 || height == 0 || width > kRawMaxSide ||
      height > kRawMaxSide) {
    return;
  }
  header_.width = width;
  header_.height = height;
  header_.frameDuration = frameDurationMs;
  header_.hasColourKey = hasColourKey;
  header_.colourKey = colourKey;
  header_.isMask = isMask ? 1 : 0;
  start_ = startMs;
  end_ = endMs;
  current_ = startMs;
  // A still writes its one frame and is then complete.
  duration_ = frameDurationMs == kRawStillDuration ? (end_ - start_ + 1) : int64_t(frameDurationMs);
  if (duration_ <= 0) duration_ = 1;
  if (!file_.Open(outputPath, ov::kGenericRead | ov::kGenericWrite, ov::kShareNone, ov::CreateMode::kCreateAlways)) {
    return;
  }
  uint8_t raw[kRawHeaderBytes];
  header_.Serialize(raw);
  if (!Append(raw, kRawHeaderBytes)) {
    file_.Close();
    return;
  }
  composer_ = std::move(composer);
}

RawFrameCacheWriter::~RawFrameCacheWriter() { Close(); }

bool RawFrameCacheWriter::Flush() {
  if (buffered_ == 0) return true;
  uint32_t written = 0;
  const bool ok = file_.IsOpen() && file_.Write(buffer_.get(), buffered_, &written) && written == buffered_;
  buffered_ = 0;
  return ok;
}

bool RawFrameCacheWriter::Append(const void* data, uint32_t bytes) {
  if (!buffer_) buffer_.reset(new uint8_t[kWriteBufferBytes]);
  if (bytes > kWriteBufferBytes - buffered_) {
    if (!Flush()) return false;
    if (bytes > kWriteBufferBytes) {
      uint32_t written = 0;
      return file_.IsOpen() && file_.Write(data, bytes, &written) && written == bytes;
    }
  }
  std::memcpy(buffer_.get() + buffered_, data, bytes);
  buffered_ += bytes;
  return true;
}

int RawFrameCacheWriter::WriteFrame() {
  if (!composer_) return -1;
  bool failed = false;
  const int64_t itemTime = current_ - start_;
  if (composer_->ComposeFrame(uint32_t(itemTime)) != 0 && current_ <= end_ && composer_->IsItemLoaded() &&
      file_.IsOpen()) {
    uint16_t* pixels = composer_->Frame();
    const uint32_t count = header_.RowPixels() * header_.height;
    if (header_.isMask) {
      ReduceToMask(pixels, count);
      if (!runs_) runs_.reset(new uint8_t[count]);
      const size_t n = EncodeMaskRuns(pixels, count, runs_.get());
      failed = !Append(runs_.get(), uint32_t(n));
    } else {
      // Stored little-endian, word by word, whatever the host order.
      uint8_t* bytes = reinterpret_cast<uint8_t*>(pixels);
      for (uint32_t i = 0; i < count; ++i) {
        const uint16_t v = pixels[i];
        bytes[2 * i] = uint8_t(v);
        bytes[2 * i + 1] = uint8_t(v >> 8);
      }
      failed = !Append(pixels, header_.FrameBytes());
    }
  }
  if (current_ == end_ || (header_.frameDuration == kRawStillDuration && file_.IsOpen())) {
    if (!Flush()) failed = true;
    file_.Close();
  }
  current_ += duration_;
  if (failed) return -1;
  if (end_ - start_ <= 0) return 100;
  return int((current_ - start_) * 100 / (end_ - start_ + duration_));
}

bool RawFrameCacheWriter::Close() {
  bool ok = true;
  if (file_.IsOpen()) {
    ok = Flush();
    file_.Close();
  }
  composer_.reset();
  buffer_.reset();
  runs_.reset();
  buffered_ = 0;
  return ok;
}

}  // namespace engine
