#include "media/decoder_source.h"

namespace media {

DecoderSource::~DecoderSource() = default;

std::unique_ptr<uint8_t[]> DecoderSource::ReadAudio(uint32_t, uint32_t* bytes, uint32_t*) {
  if (bytes) *bytes = 0;
  return nullptr;
}

bool DecoderSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t*, uint32_t) {
  // The previous frame handed back is freed here as by every video source.
  if (buffer) buffer->reset();
  if (bytes) *bytes = 0;
  return false;
}

bool DecoderSource::RenderFrame(uint32_t, gfx::DeviceContext*) { return false; }
bool DecoderSource::IsBottomUp() { return true; }
bool DecoderSource::CanSeek() { return true; }

}  // namespace media
