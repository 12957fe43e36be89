#pragma once
// ITU-T H.263 decoder (baseline and the H.263+ extended picture type with
// Annexes D, I, J, K and T) behind the VideoDecoder interface.
//
// Slots: DecodeFrameOut, DecodeFrame, SetDecoderParam, GetDecoderParam and
// DestroyDecoder; ResetDecoder is null. See video_decoder.h for the calling
// contract of the video-track sources.

#include <cstdint>

#include "codecs/videodec/common/video_decoder.h"

namespace videodec {

// Largest picture the decoder accepts (16CIF and custom formats up to
// 2048 x 1152): anything above is refused before allocating.
constexpr uint32_t kH263MaxPictureWidth = 2048;
constexpr uint32_t kH263MaxPictureHeight = 1152;

// Creates an H.263 decoder in *decoder.
//  data, length: optional first data; when both are non-zero it must begin
//    with a picture header, which gives the picture size. Otherwise width and
//    height (both non-zero) give it; with neither, the first picture header
//    decoded does.
//  postfilter_level: initial post-filter level (VDEC_PARAM_POSTFILTER_LEVEL).
// Results: VDEC_OK; VDEC_ERR_ARGUMENT for a null `decoder`, a failed
// allocation or a size above the limits (*decoder null); VDEC_ERR_STREAM when
// the first data has no valid picture header (*decoder null);
// VDEC_INPUT_EXHAUSTED when that header runs past the end of the data: the
// object is kept in *decoder, without picture buffers, and the caller destroys
// it. The caller owns the object and frees it with its DestroyDecoder slot.
// Any thread; the object is then used by one thread at a time.
int32_t gCreateH263VideoDecoder(VideoDecoder** decoder, const uint8_t* data, uint32_t length,
                                uint32_t postfilter_level, uint16_t width, uint16_t height);

}  // namespace videodec
