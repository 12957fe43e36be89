#pragma once
// The H.264 Baseline decoder behind the VideoDecoder function table
// (codecs/videodec/common/video_decoder.h).
//
// Input framing: mode 1 takes NAL units each preceded by a big-endian length
// of `nal_length_size` bytes (MP4/3GP samples, configuration records with
// `ps_length_size`-byte lengths); mode 0 takes Annex B start-code delimited
// NAL units.
//
// Slots as this decoder fills them (a null decoder gives
// VDEC_ERR_H264_ARGUMENT in each):
//  DecodeFrameOut  decodes one access unit and finishes its picture; `picture`
//                  is unused. Null data or length, or a length below 1:
//                  VDEC_ERR_H264_ARGUMENT. A length prefix larger than the
//                  data that follows: VDEC_ERR_STREAM. A refused parameter
//                  set: VDEC_ERR_STREAM; a slice naming an unknown picture
//                  parameter set: VDEC_H264_NO_PPS. Damage inside slices is
//                  concealed and not reported. The whole input is consumed.
//  DecodeFrame     decodes one NAL unit per call. Length 0 ends the stream
//                  (the open picture is finished). A slice that starts a new
//                  picture is not consumed: the open picture is finished,
//                  *length is set to 0 and the caller calls again with the
//                  same data. Otherwise *length is the bytes of the unit.
//  SetDecoderParam always VDEC_ERR_STREAM.
//  GetDecoderParam VDEC_H264_PARAM_OUTPUT_PICTURE writes a DecodedPicture*
//                  (decoder-owned, coded size, valid until the next decode
//                  call) of the picture finished by the last decode call, or
//                  null with VDEC_ERR_STREAM; VDEC_H264_PARAM_PICTURE_KIND an
//                  int32: 1 P, 2 IDR, 0 other I. Null result:
//                  VDEC_ERR_H264_ARGUMENT; other ids VDEC_ERR_STREAM.
//  ResetDecoder    drops the open picture and the frame-number history;
//                  parameter sets, buffers and reference pictures stay.
//  DestroyDecoder  frees everything.
// One thread at a time per object.

#include <cstdint>

#include "codecs/videodec/common/video_decoder.h"

namespace videodec {

// Filled by gCreateH264VideoDecoder from the first sequence parameter set.
struct H264StreamInfo {
  int32_t coded_width;     // width in macroblocks x 16
  int32_t coded_height;
  int32_t display_width;   // coded width less the left and right crop
  int32_t display_height;
  int32_t crop_top;        // pixels
  int32_t crop_left;
  int32_t frame_cropping;  // frame_cropping_flag
  int32_t reserved;        // 0
  int32_t level_idc;
  int32_t num_ref_frames;
};

enum H264FramingMode : uint32_t {
  H264_FRAMING_ANNEX_B = 0,
  H264_FRAMING_LENGTH_PREFIXED = 1,
};

// Creates a decoder from a track's parameter sets (`data`, *length bytes):
// in mode 1 a sequence of length-prefixed parameter sets (access unit
// delimiters and filler units before the first sequence parameter set are
// passed over), in mode 0 an Annex B buffer that starts with a sequence
// parameter set. On success writes the decoder into *decoder, the bytes
// consumed into *length, fills *info and returns VDEC_OK. Failures:
// VDEC_ERR_H264_ARGUMENT (null pointer, length below 1, mode 1 without prefix
// sizes), VDEC_ERR_ARGUMENT (out of memory), VDEC_H264_NO_SPS (no sequence
// parameter set where one must be), VDEC_ERR_STREAM (a refused or truncated
// parameter set, or a picture larger than the decoder accepts); *decoder is
// null and *length 0 after a failure.
int32_t gCreateH264VideoDecoder(VideoDecoder** decoder, const uint8_t* data, uint32_t* length,
                                H264StreamInfo* info, uint32_t nal_length_size, uint32_t ps_length_size,
                                uint32_t framing_mode);

}  // namespace videodec
