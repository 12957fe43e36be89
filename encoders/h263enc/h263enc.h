#pragma once
// libh263enc: ITU-T H.263 video encoder, baseline (profile 0) and profile 3
// with Annexes D, J, K and T, behind the common encoder interface
// (encoders/common/video_encoder.h; words 14-24 of the creation record as
// `H263Words`).

#include "encoders/common/video_encoder.h"

extern "C" {

// Validates *params (which must not be null) and builds one encoder. On
// success *out holds the object (freed with its DestroyEncoder operation) and
// the result is VENC_OK. Otherwise *out is null and the result is
// VENC_ERR_REJECTED (profile not 0 or 3, frame rate not above 0 or above the
// time resolution), VENC_ERR_BAD_SIZE, VENC_ERR_BAD_PARAMS or
// VENC_ERR_NO_MEMORY. Any thread; the object is then used by one thread at a
// time.
VENC_EXPORT venc::VideoEncoderResult gCreateH263VideoEncoder(venc::VideoEncoder** out,
                                                             const venc::EncoderCreateParams* params);
}
