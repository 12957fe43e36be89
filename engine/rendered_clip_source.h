#pragma once
// RenderedClipSource: the DecoderSource for text clips. Its "path" is the
// clip's descriptor string; its frames are not read but drawn on request:
// the format says `rendered` and the video mixer calls RenderFrame with the
// surface to draw on, at the mix's frame size.
//
// Thread rule: as every DecoderSource, its owner serialises the calls.

#include <cstdint>
#include <memory>

#include "engine/text_clip_renderer.h"
#include "media/decoder_source.h"

namespace engine {

class RenderedClipSource : public media::DecoderSource {
 public:
  // Frames of frameWidth x frameHeight (the video mixer's frame size).
  RenderedClipSource(int32_t frameWidth, int32_t frameHeight);
  ~RenderedClipSource() override;

  bool Seek(uint32_t) override { return false; }
  bool Rewind() override { return true; }
  // Frame duration -1, the frame size, rendered 1; a colour key (black)
  // only when the clip has a background colour. False before Open.
  bool GetFormat(media::MediaFormat* out) override;
  // Delivers nothing: the buffer and byte count stay as they are.
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>*, uint32_t*, uint32_t*, uint32_t) override { return true; }
  bool RenderFrame(uint32_t timeMs, gfx::DeviceContext* surface) override;
  bool IsBottomUp() override { return false; }
  bool CanSeek() override { return true; }
  // False without a registered renderer, for an empty frame size or a
  // damaged descriptor.
  bool Open(const ov::String& descriptor, uint32_t scale) override;

 private:
  int32_t frameWidth_, frameHeight_;
  std::unique_ptr<TextClipRenderer> renderer_;
  uint32_t hasColourKey_ = 0;
};

}  // namespace engine
