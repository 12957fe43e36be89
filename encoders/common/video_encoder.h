#pragma once
// The video encoder interface shared word for word by mpeg4enc and h263enc: the
// creation record, the five-operation object, the parameter ids and the result
// codes. An encoder object is used by one thread at a time; the libraries
// create no threads and take no locks.

#include <cstdint>
#include <cstring>

// The libraries' factories are their only exports.
#if defined(__GNUC__)
#define VENC_EXPORT __attribute__((visibility("default")))
#else
#define VENC_EXPORT
#endif

namespace venc {

// Every operation returns one of these codes.
using VideoEncoderResult = int32_t;
inline constexpr VideoEncoderResult VENC_OK = 0;
// Bad call: a parameter value outside its range or the level's limits, or an
// unknown parameter id.
inline constexpr VideoEncoderResult VENC_ERR_REJECTED = -1;
// Out of memory.
inline constexpr VideoEncoderResult VENC_ERR_NO_MEMORY = -2;
// Bad call: an EncodeFrame argument missing or too small.
inline constexpr VideoEncoderResult VENC_ERR_BAD_ARGUMENT = -3;
// Creation: the frame size is not accepted.
inline constexpr VideoEncoderResult VENC_ERR_BAD_SIZE = -4001;
// Creation: record missing, a value outside its range, or the level's limits broken.
inline constexpr VideoEncoderResult VENC_ERR_BAD_PARAMS = -4002;
// EncodeFrame: the output buffer ran short; the caller drops the output and the
// next frame is coded intra.
inline constexpr VideoEncoderResult VENC_ERR_OVERFLOW = -4003;

// The creation record: 24 consecutive 32-bit words (96 bytes). Words 1-13 mean
// the same in both libraries; from word 14 on each library has its own layout:
// mpeg4enc's is named in the record, h263enc's is `H263Words` (read and
// written with GetH263Words and SetH263Words).
struct EncoderCreateParams {
  int32_t height;               // 1: lines, as delivered to EncodeFrame
  int32_t width;                // 2: pixels
  float frameRate;              // 3: frames per second
  int32_t bitRate;              // 4: bits per second
  int32_t gopLength;            // 5: frames from one intra frame to the next
  int32_t intraRefreshMbs;      // 6
  int32_t gobHeaderInterval;    // 7
  int32_t sceneChangeDetection; // 8: 0/1
  int32_t bandwidthAdaptation;  // 9: 0/1, rate control may skip frames
  int32_t preprocessingLevel;   // 10: 0-2
  int32_t rcMode;               // 11: 0, 1, 2
  int32_t encodingComplexity;   // 12: 0-3
  int32_t searchRange;          // 13: pixels
  // mpeg4enc words 14-24.
  int32_t resyncMarkers;        // 14: 0/1
  uint32_t packetSize;          // 15: bits
  int32_t reversibleVlc;        // 16: 0/1
  int32_t dataPartitioning;     // 17: 0/1
  int32_t level;                // 18: MPEG-4 level 0-5 or 10 (0b); H.263 level in stream mode 2
  int32_t adaptivePacketSize;   // 19: 0/1
  int32_t streamMode;           // 20: 0 MPEG-4, 1 short header, 2 short header at an H.263 level
  uint32_t timeResolution;      // 21: ticks per second of the time stamps
  int32_t auxValue1;            // 22
  int32_t auxValue2;            // 23
  int32_t unused24;             // 24: not read by mpeg4enc
};
static_assert(sizeof(EncoderCreateParams) == 96, "the creation record is 24 words");

// h263enc's words 14-24.
struct H263Words {
  int32_t level;            // 14: H.263 level 10, 20, 30, 40, 45, 50, 60, 70
  uint32_t timeResolution;  // 15: ticks per second of the time stamps
  int32_t auxValue1;        // 16
  int32_t auxValue2;        // 17
  uint32_t packetSize;      // 18: bits, slice length in slice-structured mode
  int32_t unrestrictedMv;   // 19: ITU-T H.263 Annex D (profile 3)
  int32_t profile;          // 20: 0 baseline, 3
  int32_t modifiedQuant;    // 21: Annex T (profile 3)
  int32_t unused22;         // 22: not read
  int32_t videoTelephony;   // 23: Annex K slice-structured coding (profile 3)
  int32_t deblocking;       // 24: Annex J deblocking filter (profile 3)
};
static_assert(sizeof(H263Words) == 44, "words 14-24");

inline H263Words GetH263Words(const EncoderCreateParams& p) {
  H263Words w;
  std::memcpy(&w, &p.resyncMarkers, sizeof w);
  return w;
}
inline void SetH263Words(EncoderCreateParams& p, const H263Words& w) { std::memcpy(&p.resyncMarkers, &w, sizeof w); }

struct VideoEncoder;

// EncodeFrame(enc, input, inputBytes, time, forceIntra, output, ioBytes, frameType):
// codes one YUV 4:2:0 frame (luma rows, then the two chroma planes) stamped
// `time` (ticks of timeResolution) into `output`, whose capacity *ioBytes must
// be at least GetEncoderParam(VENC_PARAM_MAX_FRAME_BYTES). On return *ioBytes
// holds the bytes written (0 for a skipped frame) and *frameType 0 (intra) or
// 1 (predicted). The caller keeps ownership of both buffers.
using EncodeFrameFn = VideoEncoderResult (*)(VideoEncoder* enc, const uint8_t* input, uint32_t inputBytes,
                                             int32_t time, int32_t forceIntra, uint8_t* output,
                                             uint32_t* ioBytes, int32_t* frameType);
// SetEncoderParam(enc, id, value): changes one parameter (ids below); a rejected
// value changes nothing.
using SetEncoderParamFn = VideoEncoderResult (*)(VideoEncoder* enc, uint32_t id, uint32_t value);
// GetEncoderParam(enc, id, out): writes one value to *out, or copies bytes to
// `out` for the ids that return a block (105, 116).
using GetEncoderParamFn = VideoEncoderResult (*)(VideoEncoder* enc, uint32_t id, uint32_t* out);
// ResetEncoder(enc): back to the state before the first frame; frees nothing.
using ResetEncoderFn = VideoEncoderResult (*)(VideoEncoder* enc);
// DestroyEncoder(enc): frees the object and everything it allocated; null is accepted.
using DestroyEncoderFn = VideoEncoderResult (*)(VideoEncoder* enc);

// The head of every encoder object: its five operations. Nothing else of the
// object is read from outside its library.
struct VideoEncoder {
  EncodeFrameFn EncodeFrame;
  SetEncoderParamFn SetEncoderParam;
  GetEncoderParamFn GetEncoderParam;
  ResetEncoderFn ResetEncoder;
  DestroyEncoderFn DestroyEncoder;
};

// SetEncoderParam ids.
enum : uint32_t {
  VENC_PARAM_BITRATE = 0,
  VENC_PARAM_PACKET_SIZE = 1,
  VENC_PARAM_FRAME_RATE = 2,
  VENC_PARAM_COMPLEXITY = 3,
  VENC_PARAM_INTRA_REFRESH_MBS = 4,
  VENC_PARAM_AUX_VALUE_1 = 5,
  VENC_PARAM_AUX_VALUE_2 = 6,
  VENC_PARAM_GOP_LENGTH = 7,
  VENC_PARAM_VIDEO_TELEPHONY = 9,
  VENC_PARAM_CYCLIC_INTRA_REFRESH = 10,
  VENC_PARAM_INTRA_GOBS = 11,
  VENC_PARAM_INTRA_GOBS_FIRST = 12,
  VENC_PARAM_INTRA_GOBS_COUNT = 13,
  VENC_PARAM_INTRA_MBS = 14,
  VENC_PARAM_INTRA_MBS_FIRST = 15,
  VENC_PARAM_INTRA_MBS_COUNT = 16,
  VENC_PARAM_CHROMA_ORDER = 17,
  VENC_PARAM_GOB_HEADER_INTERVAL = 18,
  VENC_PARAM_SCENE_CHANGE = 24,
};

// GetEncoderParam ids.
enum : uint32_t {
  VENC_PARAM_CREATE_BITRATE = 100,
  VENC_PARAM_GET_PACKET_SIZE = 101,
  VENC_PARAM_MAX_FRAME_BYTES = 102,
  VENC_PARAM_FRAME_BYTES = 103,
  VENC_PARAM_HEADER_LENGTH = 104,
  VENC_PARAM_HEADER = 105,
  VENC_PARAM_GET_AUX_VALUE_1 = 106,
  VENC_PARAM_GET_AUX_VALUE_2 = 107,
  VENC_PARAM_PACKET_LIMIT = 110,
  VENC_PARAM_PACKET_COUNT = 115,
  VENC_PARAM_PACKET_SIZES = 116,
  VENC_PARAM_IDENT_A = 117,
  VENC_PARAM_IDENT_B = 118,
  VENC_PARAM_SOURCE_FORMAT = 120,
};

}  // namespace venc
