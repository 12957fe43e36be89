#include "engine/rendered_clip_source.h"

namespace engine {

RenderedClipSource::RenderedClipSource(int32_t frameWidth, int32_t frameHeight)
    : frameWidth_(frameWidth), frameHeight_(frameHeight) {}

RenderedClipSource::~RenderedClipSource() = default;

bool RenderedClipSource::Open(const ov::String& descriptor, uint32_t) {
  renderer_.reset();
  hasColourKey_ = 0;
  if (frameWidth_ <= 0 || frameHeight_ <= 0) return false;
  std::unique_ptr<TextClipRenderer> renderer = CreateTextClipRenderer();
  if (!renderer || !renderer->Prepare(descriptor, frameWidth_, frameHeight_)) return false;
  hasColourKey_ = renderer->HasBackground() ? 1 : 0;
  renderer_ = std::move(renderer);
  return true;
}

bool RenderedClipSource::GetFormat(media::MediaFormat* out) {
  if (!out || !renderer_) return false;
  *out = media::MediaFormat{};
  out->frameDurationMs = 0xFFFFFFFFu;
  out->width = uint32_t(frameWidth_);
  out->height = uint32_t(frameHeight_);
  out->rendered = 1;
  out->hasColourKey = hasColourKey_;
  out->colourKey = 0;
  return true;
}

bool RenderedClipSource::RenderFrame(uint32_t timeMs, gfx::DeviceContext* surface) {
  if (!renderer_ || !surface) return false;
  return renderer_->Draw(timeMs, surface);
}

}  // namespace engine
