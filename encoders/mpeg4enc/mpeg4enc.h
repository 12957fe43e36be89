#pragma once
// libmpeg4enc: MPEG-4 Visual Simple Profile (ISO/IEC 14496-2) and short-header
// (H.263 baseline syntax) video encoder behind the common encoder interface
// (encoders/common/video_encoder.h).

#include "encoders/common/video_encoder.h"

extern "C" {

// Validates *params and builds one encoder. On success *out holds the object
// (freed with its DestroyEncoder operation) and the result is VENC_OK. A null
// `params` returns VENC_ERR_BAD_PARAMS and leaves *out untouched; any other
// failure sets *out to null and returns VENC_ERR_NO_MEMORY, VENC_ERR_BAD_SIZE
// or VENC_ERR_BAD_PARAMS. Any thread; the object is then used by one thread
// at a time.
VENC_EXPORT venc::VideoEncoderResult gCreateMPEG4VideoEncoder(venc::VideoEncoder** out,
                                                              const venc::EncoderCreateParams* params);
}
