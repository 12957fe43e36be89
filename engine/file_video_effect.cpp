#include "engine/file_video_effect.h"

#include <algorithm>

#include "engine/media_decompressor.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"

namespace engine {

namespace {

// Decodes the effect file `source` into a mask cache; empty when it cannot.
ov::String DecodeMask(const ov::String& source) {
  CacheClipChannel channel(kCacheKindImage, {});
  channel.effectFile = source;
  channel.needsEffect = true;
  CacheChannel* table[] = {&channel};
  MediaDecompressor decompressor(nullptr, table, false);
  decompressor.SetIndexBase(static_cast<int>(ov::GetTickCount() & 0x7FFFFFFF));
  return decompressor.DecompressEffect(0, &channel, 0) ? channel.effectCache : ov::String();
}

}  // namespace

FileVideoEffect::FileVideoEffect(uint32_t fps, const ov::String& path, uint32_t startMark, uint32_t endMark,
                                 const ov::String& source, bool decodeAllowed)
    : VideoEffect(208, fps, 0, 0) {
  ov::String mask = path;
  if (decodeAllowed && !source.IsEmpty() && (path.IsEmpty() || !ov::FileExists(path))) mask = DecodeMask(source);
  mask_.path = mask;
  if (mask.IsEmpty() || !mask_.Open(mask, 1) || !mask_.GetFormat(&format_)) {
    MarkFinished();
    return;
  }
  mask_.startMark = startMark;
  mask_.endMark = endMark;
  mask_.Seek(startMark);
}

int FileVideoEffect::Draw(const Picture565& frame) {
  uint32_t bytes = 0, time = 0;
  const Picture565& p = NewPicture();
  if (IsFinished() || !mask_.ReadVideoFrame(&maskFrame_, &bytes, &time, 0)) {
    MarkFinished();
    Stretch565(frame, 0, 0, frame.width, frame.height, p, 0, 0, p.width, p.height);
    return VideoEffect::Draw(frame);
  }
  const int32_t rowPixels = int32_t((format_.width + 1) & ~1u);
  const int32_t w = std::min<int32_t>(int32_t(format_.width), frame.width);
  // Rows the frame read really holds: a short frame uncovers no more.
  const uint64_t rowBytes = uint64_t(rowPixels) * 2;
  const int32_t rows = rowBytes == 0 ? 0 : int32_t(std::min<uint64_t>(bytes / rowBytes, format_.height));
  const int32_t h = std::min<int32_t>(rows, frame.height);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* m = maskFrame_.get() + size_t(y) * size_t(rowPixels) * 2;
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
