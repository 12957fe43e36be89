#include "engine/file_video_effect.h"

#include <algorithm>
#include <utility>

#include "engine/media_decompressor.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"

namespace engine {

namespace {

// Decodes the effect file `source` into a mask cache at `fps`; empty when it
// cannot.
ov::String DecodeMask(const ov::String& source, uint32_t fps) {
  CacheClipChannel channel(kCacheKindImage, {});
  channel.effectFile = source;
  channel.needsEffect = true;
  CacheChannel* table[] = {&channel};
  MediaDecompressor decompressor(nullptr, table, false);
  decompressor.SetIndexBase(static_cast<int>(ov::GetTickCount() & 0x7FFFFFFF));
  decompressor.SetFrameRate(fps);
  return decompressor.DecompressEffect(0, &channel, 0) ? channel.effectCache : ov::String();
}

}  // namespace

FileVideoEffect::DecodedCache::~DecodedCache() {
  if (!path.IsEmpty()) ov::DeleteFile(path);
}

FileVideoEffect::FileVideoEffect(uint32_t fps, const ov::String& path, uint32_t startMark, uint32_t endMark,
                                 const ov::String& source, bool decodeAllowed)
    : VideoEffect(208, fps, 0, 0) {
  ov::String mask = path;
  if (decodeAllowed && !source.IsEmpty() && (path.IsEmpty() || !ov::FileExists(path))) {
    mask = DecodeMask(source, fps);
    decoded_.path = mask;
  }
  mask_.path = mask;
  if (mask.IsEmpty() || !mask_.Open(mask, 1) || !mask_.GetFormat(&format_)) {
    MarkFinished();
    return;
  }
  mask_.startMark = startMark;
  mask_.endMark = endMark;
  mask_.Seek(startMark);
}

bool FileVideoEffect::ReadMask(MaskFrame* into) {
  return mask_.ReadVideoFrame(&into->pixels, &into->bytes, &into->timeMs, 0);
}

bool FileVideoEffect::StepMask() {
  if (!current_.pixels) {
    if (!ReadMask(&current_)) return false;
    firstTime_ = current_.timeMs;
    haveNext_ = ReadMask(&next_);
  }
  // Composed time t = frames drawn x 1000 / fps; "t reaches a frame's time
  // T" is compared as frames drawn x 1000 >= T x fps, free of rounding.
  const uint64_t composed = uint64_t(framesDrawn()) * 1000;
  const uint64_t fps = fps_ == 0 ? 1 : fps_;
  const auto reached = [&](uint64_t ms) { return composed >= ms * fps; };
  while (haveNext_ && reached(uint64_t(next_.timeMs) - firstTime_)) {
    std::swap(current_, next_);
    haveNext_ = ReadMask(&next_);
  }
  if (haveNext_) return true;
  // The last frame lasts one frame duration; a still mask one composed frame.
  const uint64_t duration = format_.frameDurationMs == kRawStillDuration ? 0 : format_.frameDurationMs;
  const uint64_t end = uint64_t(current_.timeMs) - firstTime_ + duration;
  return duration == 0 ? composed < end * fps + 1000 : !reached(end);
}

int FileVideoEffect::Draw(const Picture565& frame) {
  const Picture565& p = NewPicture();
  if (IsFinished() || !StepMask()) {
    MarkFinished();
    Stretch565(frame, 0, 0, frame.width, frame.height, p, 0, 0, p.width, p.height);
    return VideoEffect::Draw(frame);
  }
  const uint8_t* mask = current_.pixels.get();
  const uint32_t bytes = current_.bytes;
  const int32_t rowPixels = int32_t((format_.width + 1) & ~1u);
  const int32_t w = std::min<int32_t>(int32_t(format_.width), frame.width);
  // Rows the frame read really holds: a short frame uncovers no more.
  const uint64_t rowBytes = uint64_t(rowPixels) * 2;
  const int32_t rows = rowBytes == 0 ? 0 : int32_t(std::min<uint64_t>(bytes / rowBytes, format_.height));
  const int32_t h = std::min<int32_t>(rows, frame.height);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* m = mask + size_t(y) * size_t(rowPixels) * 2;
    uint16_t* d = frame.Row(y);
    const uint16_t* n = y < p.height ? p.Row(y) : nullptr;
    for (int32_t x = 0; x < w; ++x) {
      // The whole word: a mask cache holds 0x0000 and 0xFFFF only, but a
      // picture cache named as an effect may hold any colour.
      if ((m[2 * x] | m[2 * x + 1] << 8) != 0xFFFF) continue;
      d[x] = (n && x < p.width) ? n[x] : 0;
    }
  }
  return VideoEffect::Draw(frame);
}

}  // namespace engine
