#include "engine/raw_frame_cache_source.h"

#include <cstring>
#include <vector>

namespace engine {

RawFrameCacheSource::RawFrameCacheSource() = default;
RawFrameCacheSource::~RawFrameCacheSource() = default;

bool RawFrameCacheSource::Open(const ov::String& openPath, uint32_t /*scale*/) {
  open_ = false;
  if (!reader_.Open(openPath)) return false;
  uint8_t raw[kRawHeaderBytes];
  uint32_t got = 0;
  if (!reader_.Read(raw, kRawHeaderBytes, &got) || got != kRawHeaderBytes) return false;
  if (!header_.Parse(raw)) return false;
  firstFrame_ = kRawHeaderBytes;
  open_ = true;
  return Rewind();
}

bool RawFrameCacheSource::Rewind() {
  if (!open_) return false;
  reader_.Seek(firstFrame_);
  nextTime_ = 0;
  blankGiven_ = false;
  return true;
}

bool RawFrameCacheSource::Seek(uint32_t timeMs) {
  if (!open_) return false;
  if (timeMs == 0) return Rewind();
  const uint64_t frame = timeMs / header_.frameDuration;
  if (header_.isMask) {
    // Decode forward: the stored size of a mask frame is only known by reading it.
    Rewind();
    const uint32_t count = header_.RowPixels() * header_.height;
    std::unique_ptr<uint8_t[]> scratch(new uint8_t[header_.FrameBytes()]);
    for (uint64_t i = 0; i < frame; ++i) {
      if (!ReadMaskFrame(scratch.get(), count)) return false;
    }
  } else {
    const uint64_t offset = firstFrame_ + frame * header_.FrameBytes();
    if (offset > reader_.Size()) return false;
    reader_.Seek(uint32_t(offset));
  }
  nextTime_ = timeMs;
  blankGiven_ = false;
  return true;
}

bool RawFrameCacheSource::GetFormat(media::MediaFormat* out) {
  *out = media::MediaFormat{};
  if (!open_) return false;
  out->width = header_.width;
  out->height = header_.height;
  out->frameDurationMs = header_.frameDuration;
  out->hasColourKey = header_.hasColourKey;
  out->colourKey = header_.colourKey;
  return true;
}

bool RawFrameCacheSource::ReadMaskFrame(uint8_t* pixels, uint32_t count) {
  uint32_t filled = 0;
  while (filled < count) {
    uint8_t b = 0;
    uint32_t got = 0;
    if (!reader_.Read(&b, 1, &got) || got != 1) return false;
    uint32_t length = b & 0x7F;
    if (length == 0) continue;
    if (length > count - filled) length = count - filled;
    // 0xFFFF and 0x0000 have equal bytes, so the words are written bytewise.
    std::memset(pixels + 2 * size_t(filled), (b & 0x80) ? 0xFF : 0x00, 2 * size_t(length));
    filled += length;
  }
  return true;
}

bool RawFrameCacheSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                                         uint32_t /*single*/) {
  *bytes = 0;
  buffer->reset();
  if (!open_) return false;
  if (endMark != 0 && nextTime_ >= endMark) return false;
  const uint32_t frameBytes = header_.FrameBytes();
  std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes]);
  if (header_.isMask) {
    if (!ReadMaskFrame(frame.get(), frameBytes / 2)) return false;
  } else {
    uint32_t got = 0;
    if (!reader_.Read(frame.get(), frameBytes, &got) || got != frameBytes) {
      // The file ends after a whole frame: the item is over. Only data that
      // end inside a frame give the one black frame first.
      if (got == 0 || blankGiven_) return false;
      std::memset(frame.get(), 0, frameBytes);
      blankGiven_ = true;
    } else {
      blankGiven_ = false;
    }
  }
  *buffer = std::move(frame);
  *bytes = frameBytes;
  *timeMs = nextTime_;
  // A still item's duration (0xFFFFFFFF) saturates instead of wrapping.
  const uint64_t next = uint64_t(nextTime_) + header_.frameDuration;
  nextTime_ = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(next);
  return true;
}

bool RawFrameCacheSource::ReadFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes) {
  if (!Rewind()) return false;
  uint32_t time = 0;
  return ReadVideoFrame(buffer, bytes, &time, 0);
}

bool RawFrameCacheSource::DrawFrame(const Picture565& dst, int32_t x, int32_t y, int32_t boxWidth, int32_t boxHeight,
                                    const uint8_t* frame, uint32_t bytes) {
  if (!open_ || !frame || bytes < header_.FrameBytes()) return false;
  FillRect565(dst, x, y, boxWidth, boxHeight, 0);
  const int32_t w = int32_t(header_.width), h = int32_t(header_.height), row = int32_t(header_.RowPixels());
  std::vector<uint16_t> pixels(size_t(row) * size_t(h));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint16_t(frame[2 * i] | frame[2 * i + 1] << 8);
  const Picture565 src{pixels.data(), w, h, row};
  const FittedRect f = FitInFrame(w, h, boxWidth, boxHeight);
  Stretch565(dst, x + f.x, y + f.y, f.width, f.height, src, 0, 0, w, h);
  return true;
}

}  // namespace engine
