#pragma once
// The one interface of the video decoders (H.263, MPEG-4 Part 2, H.264).
//
// A codec's factory (declared in the codec's own header, e.g.
// codecs/videodec/h263/h263_decoder.h) creates a VideoDecoder object. The object
// starts with six function slots; every slot takes the object itself first and
// returns a VideoDecoderStatus. A slot that a codec does not implement is null
// and must not be called. The codec's private state follows the slots; callers
// never read it. The object is freed only through its own DestroyDecoder slot.
//
// Threads: an object is used by one thread at a time and takes no locks; two
// objects share nothing and may run on two threads at once.
//
// Calling contract of the video-track sources, per codec:
//  H.263  create with no data, no size, post-filter level 0; SetDecoderParam(
//         VDEC_PARAM_DECODE_VARIANT, 1). Per frame: DecodeFrame on the sample
//         from the current offset, add the consumed count to the offset, repeat
//         while the sample is not used up and the result is neither
//         VDEC_PICTURE_OPEN nor VDEC_NEXT_PICTURE; on VDEC_INPUT_EXHAUSTED drop
//         the rest of the sample. Results VDEC_OK, VDEC_PICTURE_OPEN and
//         VDEC_NEXT_PICTURE are accepted and GetDecoderParam(
//         VDEC_PARAM_FINISH_PICTURE) then gives the picture; anything else
//         fails the frame. After VDEC_PICTURE_OPEN / VDEC_NEXT_PICTURE the rest
//         of the sample is kept for the next frame.
//  MPEG-4 create with the track's configuration bytes. Per frame: DecodeFrame
//         and add the consumed count; a used-up sample or VDEC_ERR_STREAM frees
//         the sample (after VDEC_ERR_STREAM the next sample is read); a call
//         that consumes nothing and returns anything but VDEC_PICTURE_OPEN
//         resets the decoder and fails the frame; VDEC_OK and VDEC_PICTURE_OPEN
//         are accepted and VDEC_PARAM_FINISH_PICTURE gives the picture.
//  H.264  create with the track's parameter sets. Per frame: DecodeFrameOut;
//         non-zero fails the frame; then GetDecoderParam(
//         VDEC_H264_PARAM_OUTPUT_PICTURE) until it returns VDEC_OK, decoding
//         further samples while it returns VDEC_ERR_STREAM.
// Each picture goes to ConvertYUV420toRGB565TopDown (yuv420_to_rgb565.h) with
// the track's own width and height before the next decode call.

#include <cstddef>
#include <cstdint>

#include "codecs/videodec/common/yuv420_to_rgb565.h"

namespace videodec {

// A planar YUV 4:2:0 picture. Its first five fields are a YuvFrame.
struct DecodedPicture {
  uint8_t* y;       // luma, width x height bytes, rows top to bottom, stride = width
  uint8_t* u;       // Cb, (width / 2) x (height / 2), stride = width / 2
  uint8_t* v;       // Cr, same size as u
  uint16_t width;   // H.263 and MPEG-4: the coded size rounded up to a multiple of 16
  uint16_t height;  // likewise
  uint32_t time;    // time stamp derived from the stream (H.263: milliseconds)
};

static_assert(offsetof(DecodedPicture, y) == offsetof(YuvFrame, y) &&
                  offsetof(DecodedPicture, u) == offsetof(YuvFrame, u) &&
                  offsetof(DecodedPicture, v) == offsetof(YuvFrame, v) &&
                  offsetof(DecodedPicture, width) == offsetof(YuvFrame, width) &&
                  offsetof(DecodedPicture, height) == offsetof(YuvFrame, height),
              "DecodedPicture must begin with the fields of YuvFrame");

// The YuvFrame view of a decoded picture.
inline YuvFrame AsYuvFrame(const DecodedPicture& picture) {
  return YuvFrame{picture.y, picture.u, picture.v, picture.width, picture.height};
}

// Result of every slot and factory (32-bit signed).
enum VideoDecoderStatus : int32_t {
  // Success; for a decode call: the input was used up (H.263: nothing more of
  // the picture was found in it) or the picture is complete.
  VDEC_OK = 0,
  // A header or syntax element the decoder cannot accept, or an unknown
  // parameter id.
  VDEC_ERR_STREAM = -1,
  // H.263, MPEG-4: a null decoder, data, length or result pointer, or an
  // allocation failed. H.264: an allocation failed.
  VDEC_ERR_ARGUMENT = -2,
  // H.264: a null pointer or a length below 1.
  VDEC_ERR_H264_ARGUMENT = -3,
  // H.264: no sequence parameter set where one must be.
  VDEC_H264_NO_SPS = -3002,
  // H.264: a slice names a picture parameter set that never arrived.
  VDEC_H264_NO_PPS = -3004,
  // MPEG-4: the stream headers cannot be accepted at set-up.
  VDEC_BAD_STREAM_HEADER = -3106,
  // A picture header gives another size than the decoder was set up for; the
  // picture is not decoded.
  VDEC_SIZE_CHANGED = -3107,
  // H.263: the call began at a picture start code while the previous picture
  // had not been finished; nothing was consumed. MPEG-4: see its decoder.
  VDEC_PICTURE_OPEN = -3108,
  // The call decoded what it could and stopped in front of the next picture
  // start code; the rest of the input belongs to the next picture.
  VDEC_NEXT_PICTURE = -3109,
  // The input ended in the middle of a unit; the caller drops what is left of
  // its input and supplies the next chunk.
  VDEC_INPUT_EXHAUSTED = -3110,
  // MPEG-4: visual object sequence end code met.
  VDEC_END_OF_SEQUENCE = -3111,
  // A decode call with a length of 0 (H.263, MPEG-4).
  VDEC_EMPTY_INPUT = -3112,
  // MPEG-4: an inter picture arrived while there is no reference picture.
  VDEC_WAITING_FOR_INTRA = -3114,
};

// Parameter ids of SetDecoderParam and GetDecoderParam. Unknown ids give
// VDEC_ERR_STREAM.
enum VideoDecoderParam : uint32_t {
  // Set and get (H.263, MPEG-4): post-filter level, 0 = off.
  VDEC_PARAM_POSTFILTER_LEVEL = 0,
  // Get (H.263, MPEG-4), result: DecodedPicture with caller planes. The last
  // finished (reference) picture is copied and post-filtered in the copy; the
  // decoding state does not change.
  VDEC_PARAM_COPY_PICTURE = 1,
  // Get (H.263, MPEG-4), result: DecodedPicture with caller planes. The picture
  // being decoded is finished (concealed, deblocked), copied out with its time,
  // post-filtered in the copy, and becomes the reference picture.
  VDEC_PARAM_FINISH_PICTURE_COPY = 2,
  // Get (H.263, MPEG-4), result: int32 activity class 0..10 of the reference
  // picture (FrameActivity below).
  VDEC_PARAM_FRAME_ACTIVITY = 3,
  // Set: H.263 accepts and ignores it; MPEG-4: value 1 selects the alternative
  // DecodeFrame function.
  VDEC_PARAM_DECODE_VARIANT = 4,
  // Set (MPEG-4): value 1 sets the decoder option flag.
  VDEC_PARAM_MPEG4_OPTION = 5,
  // Get (H.263, MPEG-4), result: a DecodedPicture* written into the caller's
  // pointer. The picture being decoded is finished as for
  // VDEC_PARAM_FINISH_PICTURE_COPY; the record and its planes belong to the
  // decoder and stay valid until the next decode call.
  VDEC_PARAM_FINISH_PICTURE = 6,
  // Get (H.263, MPEG-4), result: int32 coding type of the last picture header,
  // 0 intra, 1 inter.
  VDEC_PARAM_PICTURE_TYPE = 7,
  // Get (H.263, MPEG-4), result: int32 damaged macroblocks of the last
  // finished picture x 100 / all macroblocks.
  VDEC_PARAM_DAMAGED_PERCENT = 8,
  // Get (H.263, MPEG-4), result: bytes, one bit per macroblock of the last
  // finished picture in raster order, first macroblock in the most significant
  // bit, set = intact; then one byte with the remaining macroblocks in its top
  // bits and its unused low bits set. The caller provides macroblocks / 8 + 1
  // bytes (see DamagedMapBytes).
  VDEC_PARAM_DAMAGED_MAP = 9,
  // Get (MPEG-4), result: int32 1 when the visual object's video signal type
  // says full-range samples (video_range), else 0 (studio range, also when
  // the stream says nothing).
  VDEC_PARAM_FULL_RANGE = 10,
};

// GetDecoderParam ids of the H.264 decoder.
enum H264DecoderParam : uint32_t {
  // Result: DecodedPicture* of the picture ready for output (VDEC_OK), or null
  // and VDEC_ERR_STREAM when none is ready.
  VDEC_H264_PARAM_OUTPUT_PICTURE = 0,
  // Result: int32 picture kind 0, 1 or 2.
  VDEC_H264_PARAM_PICTURE_KIND = 1,
  // Result: int32 1 when the active sequence parameter set signals full-range
  // samples (VUI video_full_range_flag), else 0 (studio range).
  VDEC_H264_PARAM_FULL_RANGE = 2,
};

struct VideoDecoder;

// Slot 0. H.263 and MPEG-4: attaches `data`, decodes one whole picture,
// finishes it and copies it into the caller's planes of `picture` (as
// VDEC_PARAM_FINISH_PICTURE_COPY). H.264: decodes `data`; `picture` is unused
// (may be null). `length` is in-out: bytes available on entry, bytes consumed
// on return.
using DecodeFrameOutFn = int32_t (*)(VideoDecoder* decoder, const uint8_t* data, uint32_t* length,
                                     DecodedPicture* picture);
// Slot 1. Decodes as far as the input or the picture goes, handing nothing
// out; `length` in-out as above.
using DecodeFrameFn = int32_t (*)(VideoDecoder* decoder, const uint8_t* data, uint32_t* length);
// Slot 2. Sets a parameter (VideoDecoderParam).
using SetDecoderParamFn = int32_t (*)(VideoDecoder* decoder, uint32_t id, uint32_t value);
// Slot 3. Reads a parameter; `result` points to an int32, a DecodedPicture, a
// DecodedPicture* or a byte array, by id.
using GetDecoderParamFn = int32_t (*)(VideoDecoder* decoder, uint32_t id, void* result);
// Slot 4. Returns the decoder to a state the codec defines.
using ResetDecoderFn = int32_t (*)(VideoDecoder* decoder);
// Slot 5. Frees the object and everything it owns, in any state.
using DestroyDecoderFn = int32_t (*)(VideoDecoder* decoder);

// The six slots, in this order, at the start of every decoder object. A codec
// derives its private state from this struct.
struct VideoDecoder {
  DecodeFrameOutFn DecodeFrameOut;
  DecodeFrameFn DecodeFrame;
  SetDecoderParamFn SetDecoderParam;
  GetDecoderParamFn GetDecoderParam;
  ResetDecoderFn ResetDecoder;
  DestroyDecoderFn DestroyDecoder;
};

// Activity class 0..10 of a picture (VDEC_PARAM_FRAME_ACTIVITY): over the luma
// plane, m = sum / (w x h), d = sum |m - sample| / (w x h), integer divisions;
// d / 5 when d < 50, else 10. A picture without planes or size gives 0.
int32_t FrameActivity(const DecodedPicture& picture);

// Bytes that VDEC_PARAM_DAMAGED_MAP writes for `macroblocks` macroblocks.
constexpr uint32_t DamagedMapBytes(uint32_t macroblocks) { return macroblocks / 8 + 1; }

// Writes the VDEC_PARAM_DAMAGED_MAP layout for `count` macroblocks into
// DamagedMapBytes(count) bytes; is_intact(i) tells whether macroblock i (raster
// order) is intact.
template <typename IsIntact>
void WriteDamagedMap(uint32_t count, uint8_t* out, IsIntact is_intact) {
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint8_t byte = 0;
    for (uint32_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>((byte << 1) | (is_intact(i + b) ? 1 : 0));
    *out++ = byte;
  }
  // The last byte: the remaining macroblocks in its top bits, unused low bits set.
  uint8_t byte = 0xFF;
  for (uint32_t b = 0; i + b < count; ++b) {
    if (!is_intact(i + b)) byte = static_cast<uint8_t>(byte & ~(0x80u >> b));
  }
  *out = byte;
}

}  // namespace videodec
