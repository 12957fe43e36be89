// h263enc: creation and validation, the parameter operations, reset, destroy
// and the per-frame driver EncodeFrame.
#include "encoders/h263enc/h263_encoder.h"

#include <cstdint>
#include <new>

#include "encoders/common/encoder_tables.h"
#include "encoders/h263enc/h263enc.h"

namespace venc {
namespace {

// Custom picture formats: PLUSPTYPE's CPFMT holds up to 2048 x 1152 here.
constexpr int kMaxCustomWidth = 2048;
constexpr int kMaxCustomHeight = 1152;
// Without Annex D a vector difference must fit -16..15.5 pixels.
constexpr int kRestrictedSearchRange = 15;
// Custom sizes above this many lines group 2 or 4 macroblock rows per GOB.
constexpr int kSingleRowGobMaxHeight = 400;
constexpr int kDoubleRowGobMaxHeight = 800;

H263Encoder* Self(VideoEncoder* enc) { return static_cast<H263Encoder*>(enc); }

void FreeAll(H263Encoder* enc) {
  FreeTracked(*enc);
  delete enc;
}

// Rounds a GOB header interval to whole GOBs: 4CIF raises 1 to 2, 16CIF 1-3
// to 4; custom sizes above 400 lines group 2 (up to 800) or 4 rows.
int RoundGobInterval(const H263Encoder& enc, int interval) {
  if (interval <= 0) return 0;
  if (enc.sourceFormat == 4 && interval == 1) return 2;
  if (enc.sourceFormat == 5 && interval <= 3) return 4;
  if (enc.sourceFormat == kSourceFormatCustom && enc.rowsPerGob > 1) {
    if (interval < enc.rowsPerGob) interval = enc.rowsPerGob;
    return interval - interval % enc.rowsPerGob;
  }
  if (enc.sourceFormat == 4 || enc.sourceFormat == 5) return interval - interval % enc.rowsPerGob;
  return interval;
}

VideoEncoderResult Validate(H263Encoder& enc, const EncoderCreateParams& p) {
  const H263Words h = GetH263Words(p);
  const int32_t level = h.level, profile = h.profile;
  const uint32_t timeResolution = h.timeResolution;

  if ((p.height & 3) || (p.width & 3) || p.height < 4 || p.width < 4) return VENC_ERR_BAD_SIZE;
  const int codedW = (p.width + 15) & ~15, codedH = (p.height + 15) & ~15;
  enc.gopLength = p.gopLength < 1 ? 45 : p.gopLength;
  enc.searchRange = p.searchRange < 1 ? 15 : p.searchRange;
  enc.sceneChangeDetection = p.sceneChangeDetection;
  enc.preprocessingLevel = p.preprocessingLevel;
  enc.complexity = p.encodingComplexity;
  enc.rcMode = (p.rcMode == 1 || p.rcMode == 2) ? p.rcMode : 0;
  enc.rc.bandwidthAdaptation = enc.rcMode == 0 ? p.bandwidthAdaptation : 0;
  // A rate of 0 or below would make the frame period infinite (and a NaN
  // passes no comparison).
  if (!(p.frameRate > 0.0f) || static_cast<float>(timeResolution) < p.frameRate) return VENC_ERR_REJECTED;
  if (profile != 0 && profile != 3) return VENC_ERR_REJECTED;
  if (p.bitRate < 1) return VENC_ERR_BAD_PARAMS;

  enc.intraRefreshMbs = p.intraRefreshMbs < -1 ? 0 : p.intraRefreshMbs;
  enc.intraRefresh = enc.intraRefreshMbs > 0 || enc.intraRefreshMbs == -1;
  enc.packetSize = h.packetSize < 1024 ? 1024 : h.packetSize;
  enc.profile = profile;
  if (profile == 0) {
    enc.unrestrictedMv = enc.modifiedQuant = enc.slices = enc.deblocking = 0;
    enc.packetSize = 0;
    enc.searchRange = kRestrictedSearchRange;
  } else {
    enc.unrestrictedMv = h.unrestrictedMv ? 1 : 0;
    enc.modifiedQuant = h.modifiedQuant ? 1 : 0;
    enc.slices = h.videoTelephony ? 1 : 0;
    enc.deblocking = h.deblocking ? 1 : 0;
    if (!enc.unrestrictedMv && enc.searchRange > kRestrictedSearchRange) enc.searchRange = kRestrictedSearchRange;
  }

  enc.width = p.width;
  enc.height = p.height;
  enc.codedWidth = codedW;
  enc.codedHeight = codedH;
  enc.mbsPerRow = codedW / 16;
  enc.mbRows = codedH / 16;
  enc.mbCount = enc.mbsPerRow * enc.mbRows;
  enc.padding = codedW != p.width || codedH != p.height;
  const int interval = p.gobHeaderInterval < 0 ? 0 : p.gobHeaderInterval;
  if (const ShortHeaderFormat* sf = FindShortHeaderFormat(p.width, p.height)) {
    enc.sourceFormat = sf->format;
    enc.vbvLevelIndex = sf->vbvIndex;
    enc.rowsPerGob = sf->rowsPerGob;
  } else {
    if (p.height > kMaxCustomHeight || p.width > kMaxCustomWidth) return VENC_ERR_BAD_SIZE;
    enc.sourceFormat = kSourceFormatCustom;
    enc.rowsPerGob = 1;
    // GOBs of tall custom pictures span 2 or 4 rows (ITU-T H.263 5.2, GN), so
    // that GN's 5 bits reach the last one; this holds with or without GOB
    // headers at creation, as the interval may be set later.
    if (p.height > kSingleRowGobMaxHeight) enc.rowsPerGob = p.height <= kDoubleRowGobMaxHeight ? 2 : 4;
    const int area = codedW * codedH;
    enc.vbvLevelIndex = area < 25345 ? 1 : (area < 101377 ? 2 : (area < 405505 ? 3 : 4));
  }
  enc.gobHeaderInterval = enc.slices ? 0 : RoundGobInterval(enc, interval);
  enc.plusPtype = profile == 3 || enc.sourceFormat == kSourceFormatCustom;

  const H263LevelLimits* l = FindH263Level(level);
  if (!l || !WithinH263Level(*l, enc.sourceFormat, p.width, p.height, p.frameRate, p.bitRate))
    return VENC_ERR_BAD_PARAMS;
  enc.level = level;
  enc.frameRate = p.frameRate;
  enc.timeResolution = timeResolution;
  enc.createBitRate = p.bitRate;
  enc.auxValue1 = static_cast<float>(h.auxValue1 / 100000000);
  enc.auxValue2 = static_cast<float>(h.auxValue2 / 100000000);
  return VENC_OK;
}

void SetupRateControl(H263Encoder& enc) {
  RateControlState& rc = enc.rc;
  rc.requestedBitRate = enc.createBitRate;
  rc.requestedFrameRate = enc.frameRate;
  rc.mbCount = enc.mbCount;
  rc.mbsPerRow = enc.mbsPerRow;
  rc.periodLength = enc.gopLength;
  rc.vbvLevelIndex = enc.vbvLevelIndex;
  rc.rcMode = enc.rcMode;
  rc.h263Variant = 1;
  rc.modifiedQuant = enc.modifiedQuant;
  const uint32_t window = static_cast<uint32_t>(enc.frameRate / 7.0f);
  rc.windowIntraLimit = window < 1 ? 1 : static_cast<int32_t>(window);
  InitRateControl(rc);
}

uint32_t MaxFrameBytes(const H263Encoder& enc) {
  const uint32_t area = static_cast<uint32_t>(enc.codedWidth) * static_cast<uint32_t>(enc.codedHeight);
  const uint32_t b = static_cast<uint32_t>(kH263BufferAddend[enc.vbvLevelIndex > 4 ? 4 : enc.vbvLevelIndex]);
  const uint32_t perFrame = static_cast<uint32_t>(enc.createBitRate / 30);
  if (enc.rcMode == 0) return b / 8 + perFrame * 4;
  if (enc.rcMode == 1) return b / 8 + perFrame * 8;
  return (area + area / 2) / 2;
}

VideoEncoderResult OpEncodeFrame(VideoEncoder* base, const uint8_t* input, uint32_t inputBytes, int32_t time,
                                 int32_t forceIntra, uint8_t* output, uint32_t* ioBytes, int32_t* frameType) {
  if (!base || !ioBytes) return VENC_ERR_BAD_ARGUMENT;
  H263Encoder& enc = *Self(base);
  if (*ioBytes < MaxFrameBytes(enc)) return VENC_ERR_BAD_ARGUMENT;
  const uint64_t needed = static_cast<uint64_t>(enc.width) * static_cast<uint64_t>(enc.height) * 3 / 2;
  if (inputBytes < needed || !input || !output || !frameType) return VENC_ERR_BAD_ARGUMENT;
  if (forceIntra != 0 && forceIntra != 1) return VENC_ERR_BAD_ARGUMENT;
  BeginFrame(enc, input, time, output, *ioBytes);
  // The complexity is stored as given and checked here.
  if (enc.complexity < 0 || enc.complexity > 3) return VENC_ERR_BAD_ARGUMENT;
  SetComplexityConstants(enc);
  PrepareFrame(enc, time);
  if (SkipFrame(enc, time, ioBytes)) return VENC_OK;
  enc.gobFrameId.toggle = 1;
  ChooseCodingType(enc, forceIntra);

  const VideoEncoderResult result = EncodePicture(enc);
  *frameType = enc.codingType;
  if (enc.deblocking) DeblockFrame(enc);
  SwapReference(enc);
  // The reference keeps the reconstructed macroblocks beyond the delivered
  // size: a decoder predicts from them, not from replicated edge samples.
  if (enc.profile == 3 && enc.unrestrictedMv) PadFrame(*enc.reference);
  FlushFrame(enc, time, ioBytes);
  return result;
}

VideoEncoderResult OpSetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t value) {
  if (!base) return VENC_ERR_REJECTED;
  H263Encoder& enc = *Self(base);
  const int32_t v = static_cast<int32_t>(value);
  VideoEncoderResult common = VENC_OK;
  if (SetCommonParam(enc, id, value, &common)) return common;
  switch (id) {
    case VENC_PARAM_BITRATE:
      if (v < 1) return VENC_ERR_REJECTED;
      SetBitRate(enc, v);
      return VENC_OK;
    case VENC_PARAM_PACKET_SIZE:
      enc.packetSize = value < 1024 ? 1024 : value;
      return VENC_OK;
    case VENC_PARAM_FRAME_RATE:
      // A rate of 0, or above the time resolution, leaves a frame period of
      // no ticks.
      if (value == 0 || value > enc.timeResolution) return VENC_ERR_REJECTED;
      SetFrameRate(enc, value);
      return VENC_OK;
    case VENC_PARAM_COMPLEXITY:
      enc.complexity = v;
      return VENC_OK;
    case VENC_PARAM_GOP_LENGTH:
      SetGopLength(enc, v);
      return VENC_OK;
    case VENC_PARAM_VIDEO_TELEPHONY:
      enc.videoTelephony = v;
      enc.rc.lowDelay = v != 0 ? 1 : 0;
      InitRateControl(enc.rc);
      return VENC_OK;
    case VENC_PARAM_INTRA_GOBS:
      if (value > 1) return VENC_ERR_REJECTED;
      enc.intraGobsOn = value == 1;
      return VENC_OK;
    case VENC_PARAM_GOB_HEADER_INTERVAL:
      enc.gobHeaderInterval = RoundGobInterval(enc, v);
      return VENC_OK;
    default:
      return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpGetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t* out) {
  if (!base || !out) return VENC_ERR_REJECTED;
  H263Encoder& enc = *Self(base);
  VideoEncoderResult common = VENC_OK;
  if (GetCommonParam(enc, id, out, &common)) return common;
  switch (id) {
    case VENC_PARAM_MAX_FRAME_BYTES: *out = MaxFrameBytes(enc); return VENC_OK;
    case VENC_PARAM_HEADER_LENGTH: *out = 0; return VENC_OK;
    case VENC_PARAM_HEADER: return VENC_OK;  // H.263 streams have no stream header
    case VENC_PARAM_IDENT_B: *out = 0x00FC0000u; return VENC_OK;
    case VENC_PARAM_SOURCE_FORMAT: *out = static_cast<uint32_t>(enc.sourceFormat); return VENC_OK;
    default: return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpResetEncoder(VideoEncoder* base) {
  if (!base) return VENC_ERR_BAD_ARGUMENT;
  H263Encoder& enc = *Self(base);
  enc.gobFrameId = GobFrameId{};
  ResetCore(enc);
  return VENC_OK;
}

VideoEncoderResult OpDestroyEncoder(VideoEncoder* base) {
  if (!base) return VENC_OK;
  FreeAll(Self(base));
  return VENC_OK;
}

VideoEncoderResult Allocate(H263Encoder& enc) {
  const VideoEncoderResult r = AllocateCore(enc);
  if (r != VENC_OK) return r;
  enc.decoderQuant = static_cast<uint8_t*>(TrackedAlloc(enc, static_cast<size_t>(enc.mbCount)));
  return enc.decoderQuant ? VENC_OK : VENC_ERR_NO_MEMORY;
}

}  // namespace
}  // namespace venc

extern "C" venc::VideoEncoderResult gCreateH263VideoEncoder(venc::VideoEncoder** out,
                                                            const venc::EncoderCreateParams* params) {
  using namespace venc;
  if (!out || !params) return VENC_ERR_BAD_ARGUMENT;
  *out = nullptr;
  H263Encoder* enc = new (std::nothrow) H263Encoder();
  if (!enc) return VENC_ERR_NO_MEMORY;
  enc->EncodeFrame = OpEncodeFrame;
  enc->SetEncoderParam = OpSetEncoderParam;
  enc->GetEncoderParam = OpGetEncoderParam;
  enc->ResetEncoder = OpResetEncoder;
  enc->DestroyEncoder = OpDestroyEncoder;
  VideoEncoderResult r = Validate(*enc, *params);
  if (r == VENC_OK) {
    enc->writer.InitPlain();
    r = Allocate(*enc);
  }
  if (r != VENC_OK) {
    FreeAll(enc);
    return r;
  }
  SetupRateControl(*enc);
  enc->temporalReferenceFactor = static_cast<float>(29.97 / enc->frameRate);
  *out = enc;
  return VENC_OK;
}
