// h263enc: creation and validation, the parameter operations, reset, destroy
// and the per-frame driver EncodeFrame.
#include "encoders/h263enc/h263_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/intra_refresh.h"
#include "encoders/common/prefilter.h"
#include "encoders/h263enc/h263enc.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

constexpr int kMaxGop = 130;
// Custom picture formats: PLUSPTYPE's CPFMT holds up to 2048 x 1152 here.
constexpr int kMaxCustomWidth = 2048;
constexpr int kMaxCustomHeight = 1152;
// Without Annex D a vector difference must fit -16..15.5 pixels.
constexpr int kRestrictedSearchRange = 15;
// Custom sizes above this many lines group 2 or 4 macroblock rows per GOB.
constexpr int kSingleRowGobMaxHeight = 400;
constexpr int kDoubleRowGobMaxHeight = 800;

H263Encoder* Self(VideoEncoder* enc) { return static_cast<H263Encoder*>(enc); }

void* TrackedAlloc(H263Encoder& enc, size_t bytes) {
  if (enc.allocationCount >= kH263MaxTrackedBlocks) return nullptr;
  void* raw = std::calloc(1, bytes + 8);
  if (!raw) return nullptr;
  enc.allocations[enc.allocationCount++] = raw;
  const uintptr_t p = reinterpret_cast<uintptr_t>(raw);
  return reinterpret_cast<void*>((p + 7) & ~uintptr_t{7});
}

void FreeAll(H263Encoder* enc) {
  for (int i = 0; i < enc->allocationCount; ++i) std::free(enc->allocations[i]);
  enc->allocationCount = 0;
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
    if (p.height > kSingleRowGobMaxHeight && interval != 0) enc.rowsPerGob = p.height <= kDoubleRowGobMaxHeight ? 2 : 4;
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

void SetComplexityConstants(H263Encoder& enc) {
  static const int kThresholds[4][4] = {{18, 24, 46, 64}, {16, 20, 38, 56}, {12, 16, 32, 48}, {12, 16, 32, 48}};
  const int c = enc.complexity;
  for (int i = 0; i < 4; ++i) enc.textureThresholds[i] = kThresholds[c][i];
  enc.rc.mbQpAdaptation = (c == 3 || enc.videoTelephony) ? 1 : 0;
}

VideoEncoderResult OpEncodeFrame(VideoEncoder* base, const uint8_t* input, uint32_t inputBytes, int32_t time,
                                 int32_t forceIntra, uint8_t* output, uint32_t* ioBytes, int32_t* frameType) {
  if (!base || !ioBytes) return VENC_ERR_BAD_ARGUMENT;
  H263Encoder& enc = *Self(base);
  if (*ioBytes < MaxFrameBytes(enc)) return VENC_ERR_BAD_ARGUMENT;
  const uint64_t needed = static_cast<uint64_t>(enc.width) * static_cast<uint64_t>(enc.height) * 3 / 2;
  if (inputBytes < needed || !input || !output || !frameType) return VENC_ERR_BAD_ARGUMENT;
  if (forceIntra != 0 && forceIntra != 1) return VENC_ERR_BAD_ARGUMENT;
  RateControlState& rc = enc.rc;

  if (!enc.videoTelephony && enc.gopLength > kMaxGop) {
    enc.gopLength = kMaxGop;
    rc.periodLength = kMaxGop;
  }
  enc.current->time = time;
  enc.packetCount = 0;
  enc.lastPacketStart = 0;
  CopyInputToFrame(*enc.current, input, enc.width, enc.height, enc.chromaOrder == 1);
  enc.writer.Attach(output, *ioBytes);
  if (enc.complexity < 0 || enc.complexity > 3) return VENC_ERR_BAD_ARGUMENT;
  SetComplexityConstants(enc);

  // A frame period of less than one tick counts no skipped frames.
  const uint32_t ticksPerFrame = static_cast<uint32_t>(static_cast<float>(enc.timeResolution) / enc.frameRate);
  if (ticksPerFrame > 0 && enc.frameCount > 0) {
    const uint32_t n = (static_cast<uint32_t>(time) - static_cast<uint32_t>(enc.prevTime)) / ticksPerFrame;
    if (n > 1) AccountSkippedFrames(rc, n - 1, &enc.frameCount, &enc.forceIntraNext);
  }
  if (enc.padding) ExtendToMbGrid(*enc.current, enc.width, enc.height);
  PrefilterLuma(enc.preprocessingLevel, enc.current->lumaOrigin(), enc.current->lumaStride(), enc.codedWidth,
                enc.codedHeight);

  if (rc.bandwidthAdaptation && DecideFrameSkip(rc)) {
    uint32_t bits = 0;
    enc.writer.Flush(&bits);
    *ioBytes = 0;
    AccountSkippedFrames(rc, 1, &enc.frameCount, &enc.forceIntraNext);
    enc.prevTime = time;
    return VENC_OK;
  }

  enc.gobFrameId.toggle = 1;
  // The first frame of a stream is intra whatever the period says.
  if (rc.framesLeft != 0 && forceIntra == 0 && !enc.forceIntraNext && enc.frameCount != 0) {
    enc.codingType = 1;
    if (rc.lowDelay && rc.rcMode == 0 && rc.windowFrames == 0 && rc.framesLeft > 0) {
      rc.windowIntraCount = 0;
      rc.windowFrames = static_cast<int32_t>(rc.frameRate);
      const int64_t bits = int64_t{rc.bitsLeft} * rc.windowFrames / rc.framesLeft;
      rc.windowBits = static_cast<int32_t>(bits < rc.bitRate ? bits : rc.bitRate);
    }
  } else {
    if (forceIntra == 1) {
      const int64_t left = int64_t{rc.bitsLeft} - int64_t{rc.framesLeft} * rc.bitsPerFrame;
      rc.bitsLeft = static_cast<int32_t>(left < INT32_MIN ? INT32_MIN : (left > INT32_MAX ? INT32_MAX : left));
    }
    if (!enc.forceIntraNext) StartRatePeriod(rc);
    enc.codingType = 0;
    enc.forceIntraNext = false;
  }

  const VideoEncoderResult result = EncodePicture(enc);
  *frameType = enc.codingType;
  enc.prevCodingType = enc.codingType;

  if (enc.deblocking) DeblockFrame(enc);
  EncoderFrame* done = enc.current;
  enc.current = enc.reference;
  enc.reference = done;
  // Skipped-frame bookings may have run the count up to its limit.
  if (enc.frameCount < INT32_MAX) enc.frameCount += 1;
  // The reference keeps the reconstructed macroblocks beyond the delivered
  // size: a decoder predicts from them, not from replicated edge samples.
  if (enc.profile == 3 && enc.unrestrictedMv) PadFrame(*enc.reference);

  uint32_t bits = 0;
  enc.writer.Flush(&bits);
  uint32_t bytes = bits / 8;
  if (bytes > *ioBytes) bytes = *ioBytes;
  *ioBytes = bytes;
  enc.prevTime = time;
  return result;
}

VideoEncoderResult OpSetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t value) {
  if (!base) return VENC_ERR_REJECTED;
  H263Encoder& enc = *Self(base);
  RateControlState& rc = enc.rc;
  const int32_t v = static_cast<int32_t>(value);
  switch (id) {
    case VENC_PARAM_BITRATE:
      if (v < 1) return VENC_ERR_REJECTED;
      rc.requestedBitRate = v;
      if (enc.frameCount == 0) InitRateControl(rc);
      return VENC_OK;
    case VENC_PARAM_PACKET_SIZE:
      enc.packetSize = value < 1024 ? 1024 : value;
      return VENC_OK;
    case VENC_PARAM_FRAME_RATE: {
      // A rate of 0, or above the time resolution, leaves a frame period of
      // no ticks.
      if (value == 0 || value > enc.timeResolution) return VENC_ERR_REJECTED;
      const float rate = static_cast<float>(value);
      enc.frameRate = rate;
      rc.requestedFrameRate = rate;
      // The temporal reference follows the frame rate in force.
      enc.temporalReferenceFactor = static_cast<float>(29.97 / rate);
      if (enc.frameCount == 0) InitRateControl(rc);
      rc.windowIntraLimit = value / 7 < 1 ? 1 : static_cast<int32_t>(value / 7);
      return VENC_OK;
    }
    case VENC_PARAM_COMPLEXITY:
      enc.complexity = v;
      return VENC_OK;
    case VENC_PARAM_INTRA_REFRESH_MBS:
      if (v > enc.mbCount) return VENC_ERR_REJECTED;
      if (v < -1) {
        enc.intraRefreshMbs = 0;
        enc.intraRefresh = false;
      } else {
        enc.intraRefreshMbs = v;
        enc.intraRefresh = v != 0;
      }
      return VENC_OK;
    case VENC_PARAM_AUX_VALUE_1:
      enc.auxValue1 = static_cast<float>(v / 100000000);
      return VENC_OK;
    case VENC_PARAM_AUX_VALUE_2:
      enc.auxValue2 = static_cast<float>(v / 100000000);
      return VENC_OK;
    case VENC_PARAM_GOP_LENGTH: {
      const int64_t delta = int64_t{v} - enc.gopLength;
      enc.gopLength = v;
      rc.periodLength = v;
      const int64_t frames = rc.framesLeft + delta;
      const int64_t bits = rc.bitsLeft + delta * rc.bitsPerFrame;
      rc.framesLeft = static_cast<int32_t>(frames > INT32_MAX ? INT32_MAX : (frames < 0 ? 0 : frames));
      rc.bitsLeft = static_cast<int32_t>(bits > INT32_MAX ? INT32_MAX : (bits < INT32_MIN ? INT32_MIN : bits));
      if (frames < 1 || bits < 1) rc.framesLeft = 0;
      return VENC_OK;
    }
    case VENC_PARAM_VIDEO_TELEPHONY:
      enc.videoTelephony = v;
      rc.lowDelay = v != 0 ? 1 : 0;
      InitRateControl(rc);
      return VENC_OK;
    case VENC_PARAM_CYCLIC_INTRA_REFRESH:
      if (value == 1) {
        if (enc.intraRefreshMbs == -1 || !enc.intraRefresh)
          enc.intraRefreshMbs = static_cast<int>(enc.mbCount / (2 * enc.frameRate) + 1.0);
        enc.cyclicPeriod = static_cast<int>(9500.0 / enc.frameRate);
        enc.cyclicRefresh = true;
      } else if (value == 0) {
        enc.cyclicPeriod = 20;
        enc.cyclicRefresh = false;
      } else {
        return VENC_ERR_REJECTED;
      }
      return VENC_OK;
    case VENC_PARAM_INTRA_GOBS:
      if (value > 1) return VENC_ERR_REJECTED;
      enc.intraGobsOn = value == 1;
      return VENC_OK;
    case VENC_PARAM_INTRA_GOBS_FIRST:
      if (!enc.intraGobsOn || v < 0) return VENC_ERR_REJECTED;
      enc.intraGobsFirst = v;
      return VENC_OK;
    case VENC_PARAM_INTRA_GOBS_COUNT:
      if (enc.intraGobsOn && v >= 0) enc.intraGobsCount = v;
      return VENC_OK;
    case VENC_PARAM_INTRA_MBS:
      if (value > 1) return VENC_ERR_REJECTED;
      enc.intraMbsOn = value == 1;
      return VENC_OK;
    case VENC_PARAM_INTRA_MBS_FIRST:
      if (!enc.intraMbsOn || v < 0) return VENC_ERR_REJECTED;
      enc.intraMbsFirst = v;
      return VENC_OK;
    case VENC_PARAM_INTRA_MBS_COUNT:
      if (enc.intraMbsOn && v >= 0) enc.intraMbsCount = v;
      return VENC_OK;
    case VENC_PARAM_CHROMA_ORDER:
      if (value > 1) return VENC_ERR_REJECTED;
      enc.chromaOrder = v;
      return VENC_OK;
    case VENC_PARAM_GOB_HEADER_INTERVAL:
      enc.gobHeaderInterval = RoundGobInterval(enc, v);
      return VENC_OK;
    case VENC_PARAM_SCENE_CHANGE:
      if (value > 1) return VENC_ERR_REJECTED;
      enc.sceneChangeDetection = v;
      return VENC_OK;
    default:
      return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpGetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t* out) {
  if (!base || !out) return VENC_ERR_REJECTED;
  H263Encoder& enc = *Self(base);
  const uint32_t area = static_cast<uint32_t>(enc.codedWidth) * static_cast<uint32_t>(enc.codedHeight);
  switch (id) {
    case VENC_PARAM_CREATE_BITRATE: *out = static_cast<uint32_t>(enc.createBitRate); return VENC_OK;
    case VENC_PARAM_GET_PACKET_SIZE: *out = enc.packetSize; return VENC_OK;
    case VENC_PARAM_MAX_FRAME_BYTES: *out = MaxFrameBytes(enc); return VENC_OK;
    case VENC_PARAM_FRAME_BYTES: *out = (area / 2) * 3; return VENC_OK;
    case VENC_PARAM_HEADER_LENGTH: *out = 0; return VENC_OK;
    case VENC_PARAM_HEADER: return VENC_OK;  // H.263 streams have no stream header
    case VENC_PARAM_GET_AUX_VALUE_1: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue1 * 100000000.0)); return VENC_OK;
    case VENC_PARAM_GET_AUX_VALUE_2: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue2 * 100000000.0)); return VENC_OK;
    case VENC_PARAM_PACKET_LIMIT: *out = static_cast<uint32_t>(enc.mbCount + 5); return VENC_OK;
    case VENC_PARAM_PACKET_COUNT: *out = enc.packetCount; return VENC_OK;
    case VENC_PARAM_PACKET_SIZES: std::memcpy(out, enc.packetSizes, 4 * enc.packetCount); return VENC_OK;
    case VENC_PARAM_IDENT_A: *out = 4; return VENC_OK;
    case VENC_PARAM_IDENT_B: *out = 0x00FC0000u; return VENC_OK;
    case VENC_PARAM_SOURCE_FORMAT: *out = static_cast<uint32_t>(enc.sourceFormat); return VENC_OK;
    default: return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpResetEncoder(VideoEncoder* base) {
  if (!base) return VENC_ERR_BAD_ARGUMENT;
  H263Encoder& enc = *Self(base);
  enc.frameCount = 0;
  enc.codingType = enc.prevCodingType = 0;
  enc.current->time = enc.reference->time = 0;
  enc.prevTime = 0;
  enc.gobFrameId = GobFrameId{};
  // A restarted stream begins with an intra frame.
  enc.rc.framesLeft = 0;
  InitRateControl(enc.rc);
  return VENC_OK;
}

VideoEncoderResult OpDestroyEncoder(VideoEncoder* base) {
  if (!base) return VENC_OK;
  FreeAll(Self(base));
  return VENC_OK;
}

VideoEncoderResult Allocate(H263Encoder& enc) {
  const size_t frameBytes = FrameBlockBytes(enc.codedWidth, enc.codedHeight);
  const size_t mbs = static_cast<size_t>(enc.mbCount);
  enc.blocks = static_cast<int16_t*>(TrackedAlloc(enc, 12 * 64 * sizeof(int16_t)));
  uint8_t* f0 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  uint8_t* f1 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  enc.mbs = static_cast<MacroblockInfo*>(TrackedAlloc(enc, sizeof(MacroblockInfo) * mbs));
  enc.decoderQuant = static_cast<uint8_t*>(TrackedAlloc(enc, mbs));
  enc.packetSizes = static_cast<uint32_t*>(TrackedAlloc(enc, sizeof(uint32_t) * (mbs + 5)));
  const size_t fieldBytes = sizeof(VectorFieldEntry) * mbs;
  enc.motion.vectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  enc.motion.previousVectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  enc.refreshScores = static_cast<int32_t*>(TrackedAlloc(enc, 2 * sizeof(int32_t) * mbs));
  if (!enc.blocks || !f0 || !f1 || !enc.mbs || !enc.decoderQuant || !enc.packetSizes || !enc.motion.vectorField ||
      !enc.motion.previousVectorField || !enc.refreshScores)
    return VENC_ERR_NO_MEMORY;
  enc.refreshIndices = enc.refreshScores + enc.mbCount;
  BindFrame(enc.frames[0], f0, enc.codedWidth, enc.codedHeight);
  BindFrame(enc.frames[1], f1, enc.codedWidth, enc.codedHeight);
  enc.current = &enc.frames[0];
  enc.reference = &enc.frames[1];
  for (int i = 0; i < enc.mbCount; ++i) enc.mbs[i].quant = 10;
  ResetRefreshCounters(enc.mbs, enc.mbCount);
  return VENC_OK;
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
  init_fdct_dsp(enc->fdct, ov::GetCpuFlags());
  init_idct_dsp(enc->idct, ov::GetCpuFlags());
  init_motion_dsp(enc->motion.dsp, ov::GetCpuFlags());
  SetupRateControl(*enc);
  enc->temporalReferenceFactor = static_cast<float>(29.97 / enc->frameRate);
  *out = enc;
  return VENC_OK;
}
