#pragma once
// MPEG-4 Part 2 Simple Profile video decoder (ISO/IEC 14496-2): I- and P-VOPs,
// rectangular 8-bit video, H.263 inverse quantisation, half-pel motion with one
// or four vectors, AC/DC prediction, video packets, data partitioning,
// reversible VLC, and the short video header (H.263 baseline). Anything else
// that a video object layer announces is refused at set-up with
// VDEC_BAD_STREAM_HEADER; a B- or S-VOP returns VDEC_ERR_STREAM for that VOP.
//
// The object follows the VideoDecoder contract of video_decoder.h; its slots:
//  DecodeFrameOut  one whole VOP per call, damaged macroblocks concealed, the
//                  picture copied into the caller's planes (odd-sized layers
//                  cropped to their even size).
//  DecodeFrame     packet mode: the headers in front of a VOP and one video
//                  packet (a GOB with the short header) per call; the caller
//                  finishes the picture with VDEC_PARAM_FINISH_PICTURE.
//                  After SetDecoderParam(VDEC_PARAM_DECODE_VARIANT, 1):
//                  resumable mode, which returns VDEC_INPUT_EXHAUSTED when the
//                  input ends inside a unit and consumes only up to the start
//                  of that unit, so the caller passes it again with more data.
//  ResetDecoder    back to "no picture decoded yet", keeping size and buffers.
// Threads: one caller thread at a time; objects share nothing.

#include <cstdint>

#include "codecs/videodec/common/video_decoder.h"

namespace videodec {

// Creates an MPEG-4 decoder. `config` holds the track's decoder configuration
// (visual object sequence, visual object and video object layer headers); it
// may be null with *config_length 0, in which case the decoder sets itself up
// from the headers in front of the first VOP (or from a short video header).
// On success *decoder receives the object, *config_length the bytes of
// configuration consumed, and the result is VDEC_OK. On failure *decoder is
// null, *config_length 0, and the result is VDEC_ERR_ARGUMENT (null pointers,
// memory), VDEC_BAD_STREAM_HEADER (headers refused) or VDEC_INPUT_EXHAUSTED
// (configuration too short). `postfilter_level` is the initial
// VDEC_PARAM_POSTFILTER_LEVEL. The caller frees the object through its
// DestroyDecoder slot.
int32_t gCreateMPEG4VideoDecoder(VideoDecoder** decoder, const uint8_t* config, uint32_t* config_length,
                                 uint32_t postfilter_level);

// Width and height of the first video object layer header in `data` (the
// configuration bytes or the start of a stream), or of the first short video
// header when the data holds no layer header. False when there is neither or
// the header is refused. For callers that need the display size of a stream
// without a container; any thread.
bool Mpeg4ParseLayerSize(const uint8_t* data, uint32_t size, uint16_t* width, uint16_t* height);

// Largest picture the decoder accepts, in macroblocks: the 14-bit macroblock
// number of the video packet header addresses no more.
constexpr uint32_t kMpeg4MaxMacroblocks = 1u << 14;

}  // namespace videodec
