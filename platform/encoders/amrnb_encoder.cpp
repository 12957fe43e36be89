#include "platform/encoders/amrnb_encoder.h"

#include <cstring>
#include <new>

#include <opencore-amrnb/interf_enc.h>

namespace {

constexpr uint32_t kFramePcmBytes = 320;
// The longest storage-format frame: 12.2 kbit/s, header and 244 bits.
constexpr uint32_t kMaxFrameBytes = 32;

}  // namespace

struct AmrNbEncoder {
  void* state = nullptr;
  Mode mode = MR122;
};

extern "C" {

int32_t AMRNBENC_CreateEncoder(AmrNbEncoder** handle) {
  if (!handle) return AMRNBENC_ERR_ARGUMENT;
  *handle = new (std::nothrow) AmrNbEncoder;
  return *handle ? AMRNBENC_OK : AMRNBENC_ERR_NO_MEMORY;
}

int32_t AMRNBENC_ResetEncoder(AmrNbEncoder* handle, const AmrNbEncConfig* config) {
  if (!handle || !config) return AMRNBENC_ERR_ARGUMENT;
  if (config->mode < 0 || config->mode > 7 || config->mediaType < 0 || config->mediaType > 1) {
    return AMRNBENC_ERR_CONFIG;
  }
  if (handle->state) Encoder_Interface_exit(handle->state);
  handle->state = Encoder_Interface_init(config->dtx ? 1 : 0);
  if (!handle->state) return AMRNBENC_ERR_NO_MEMORY;
  handle->mode = static_cast<Mode>(config->mode);
  return AMRNBENC_OK;
}

int32_t AMRNBENC_EncodeFrame(AmrNbEncoder* handle, const uint8_t* pcm, uint32_t pcmBytes, uint8_t* out,
                             uint32_t* ioBytes) {
  if (!ioBytes) return AMRNBENC_ERR_ARGUMENT;
  const uint32_t capacity = *ioBytes;
  *ioBytes = 0;
  if (!handle || !pcm || !out || pcmBytes != kFramePcmBytes) return AMRNBENC_ERR_ARGUMENT;
  if (!handle->state) return AMRNBENC_ERR_NOT_READY;
  int16_t speech[kFramePcmBytes / 2];
  for (uint32_t i = 0; i < kFramePcmBytes / 2; ++i) {
    speech[i] = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
  }
  // The coder writes up to a whole 12.2 kbit/s frame whatever the mode: code
  // into a frame of our own and copy what fits.
  uint8_t frame[kMaxFrameBytes + 8];
  const int bytes = Encoder_Interface_Encode(handle->state, handle->mode, speech, frame, 0);
  if (bytes <= 0 || static_cast<uint32_t>(bytes) > kMaxFrameBytes) return AMRNBENC_ERR_ARGUMENT;
  if (static_cast<uint32_t>(bytes) > capacity) return AMRNBENC_ERR_OUTPUT_SPACE;
  std::memcpy(out, frame, static_cast<size_t>(bytes));
  *ioBytes = static_cast<uint32_t>(bytes);
  return AMRNBENC_OK;
}

int32_t AMRNBENC_DeleteEncoder(AmrNbEncoder* handle) {
  if (!handle) return AMRNBENC_OK;
  if (handle->state) Encoder_Interface_exit(handle->state);
  delete handle;
  return AMRNBENC_OK;
}

}  // extern "C"
