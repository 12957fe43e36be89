#include "encoders/common/encoder_core.h"

#include <cstdlib>
#include <cstring>

#include "encoders/common/intra_refresh.h"
#include "encoders/common/prefilter.h"
#include "platform/cpu/cpu.h"

namespace venc {

void* TrackedAlloc(EncoderCore& enc, size_t bytes) {
  if (enc.allocationCount >= kMaxTrackedBlocks) return nullptr;
  void* raw = std::calloc(1, bytes + 8);
  if (!raw) return nullptr;
  enc.allocations[enc.allocationCount++] = raw;
  const uintptr_t p = reinterpret_cast<uintptr_t>(raw);
  return reinterpret_cast<void*>((p + 7) & ~uintptr_t{7});
}

void FreeTracked(EncoderCore& enc) {
  for (int i = 0; i < enc.allocationCount; ++i) std::free(enc.allocations[i]);
  enc.allocationCount = 0;
}

VideoEncoderResult AllocateCore(EncoderCore& enc) {
  const size_t frameBytes = FrameBlockBytes(enc.codedWidth, enc.codedHeight);
  const size_t mbs = static_cast<size_t>(enc.mbCount);
  enc.blocks = static_cast<int16_t*>(TrackedAlloc(enc, 12 * 64 * sizeof(int16_t)));
  uint8_t* f0 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  uint8_t* f1 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  enc.mbs = static_cast<MacroblockInfo*>(TrackedAlloc(enc, sizeof(MacroblockInfo) * mbs));
  enc.packetSizes = static_cast<uint32_t*>(TrackedAlloc(enc, sizeof(uint32_t) * (mbs + 5)));
  const size_t fieldBytes = sizeof(VectorFieldEntry) * mbs;
  enc.motion.vectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  enc.motion.previousVectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  enc.refreshScores = static_cast<int32_t*>(TrackedAlloc(enc, 2 * sizeof(int32_t) * mbs));
  if (!enc.blocks || !f0 || !f1 || !enc.mbs || !enc.packetSizes || !enc.motion.vectorField ||
      !enc.motion.previousVectorField || !enc.refreshScores)
    return VENC_ERR_NO_MEMORY;
  enc.refreshIndices = enc.refreshScores + enc.mbCount;
  BindFrame(enc.frames[0], f0, enc.codedWidth, enc.codedHeight);
  BindFrame(enc.frames[1], f1, enc.codedWidth, enc.codedHeight);
  enc.current = &enc.frames[0];
  enc.reference = &enc.frames[1];
  for (int i = 0; i < enc.mbCount; ++i) enc.mbs[i].quant = 10;
  ResetRefreshCounters(enc.mbs, enc.mbCount);
  init_fdct_dsp(enc.fdct, ov::GetCpuFlags());
  init_idct_dsp(enc.idct, ov::GetCpuFlags());
  init_motion_dsp(enc.motion.dsp, ov::GetCpuFlags());
  return VENC_OK;
}

bool SetCommonParam(EncoderCore& enc, uint32_t id, uint32_t value, VideoEncoderResult* result) {
  const int32_t v = static_cast<int32_t>(value);
  VideoEncoderResult r = VENC_OK;
  switch (id) {
    case VENC_PARAM_INTRA_REFRESH_MBS:
      if (v > enc.mbCount) {
        r = VENC_ERR_REJECTED;
      } else if (v < -1) {
        enc.intraRefreshMbs = 0;
        enc.intraRefresh = false;
      } else {
        enc.intraRefreshMbs = v;
        enc.intraRefresh = v != 0;
      }
      break;
    case VENC_PARAM_AUX_VALUE_1:
      enc.auxValue1 = static_cast<float>(v / 100000000);
      break;
    case VENC_PARAM_AUX_VALUE_2:
      enc.auxValue2 = static_cast<float>(v / 100000000);
      break;
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
        r = VENC_ERR_REJECTED;
      }
      break;
    case VENC_PARAM_INTRA_GOBS_FIRST:
      if (!enc.intraGobsOn || v < 0) {
        r = VENC_ERR_REJECTED;
      } else {
        enc.intraGobsFirst = v;
      }
      break;
    case VENC_PARAM_INTRA_GOBS_COUNT:
      if (enc.intraGobsOn && v >= 0) enc.intraGobsCount = v;
      break;
    case VENC_PARAM_INTRA_MBS:
      if (value > 1) {
        r = VENC_ERR_REJECTED;
      } else {
        enc.intraMbsOn = value == 1;
      }
      break;
    case VENC_PARAM_INTRA_MBS_FIRST:
      if (!enc.intraMbsOn || v < 0) {
        r = VENC_ERR_REJECTED;
      } else {
        enc.intraMbsFirst = v;
      }
      break;
    case VENC_PARAM_INTRA_MBS_COUNT:
      if (enc.intraMbsOn && v >= 0) enc.intraMbsCount = v;
      break;
    case VENC_PARAM_CHROMA_ORDER:
      if (value > 1) {
        r = VENC_ERR_REJECTED;
      } else {
        enc.chromaOrder = v;
      }
      break;
    case VENC_PARAM_SCENE_CHANGE:
      if (value > 1) {
        r = VENC_ERR_REJECTED;
      } else {
        enc.sceneChangeDetection = v;
      }
      break;
    default:
      return false;
  }
  *result = r;
  return true;
}

void SetBitRate(EncoderCore& enc, int32_t bitRate) {
  enc.rc.requestedBitRate = bitRate;
  if (enc.frameCount == 0) InitRateControl(enc.rc);
}

void SetFrameRate(EncoderCore& enc, uint32_t frameRate) {
  const float rate = static_cast<float>(frameRate);
  enc.frameRate = rate;
  enc.rc.requestedFrameRate = rate;
  // The H.263 temporal reference follows the frame rate in force.
  enc.temporalReferenceFactor = static_cast<float>(29.97 / rate);
  if (enc.frameCount == 0) InitRateControl(enc.rc);
  enc.rc.windowIntraLimit = frameRate / 7 < 1 ? 1 : static_cast<int32_t>(frameRate / 7);
}

void SetGopLength(EncoderCore& enc, int32_t gopLength) {
  RateControlState& rc = enc.rc;
  const int64_t delta = int64_t{gopLength} - enc.gopLength;
  enc.gopLength = gopLength;
  rc.periodLength = gopLength;
  const int64_t frames = rc.framesLeft + delta;
  const int64_t bits = rc.bitsLeft + delta * rc.bitsPerFrame;
  rc.framesLeft = static_cast<int32_t>(frames > INT32_MAX ? INT32_MAX : (frames < 0 ? 0 : frames));
  rc.bitsLeft = static_cast<int32_t>(bits > INT32_MAX ? INT32_MAX : (bits < INT32_MIN ? INT32_MIN : bits));
  if (frames < 1 || bits < 1) rc.framesLeft = 0;
}

bool GetCommonParam(const EncoderCore& enc, uint32_t id, uint32_t* out, VideoEncoderResult* result) {
  const uint32_t area = static_cast<uint32_t>(enc.codedWidth) * static_cast<uint32_t>(enc.codedHeight);
  switch (id) {
    case VENC_PARAM_CREATE_BITRATE: *out = static_cast<uint32_t>(enc.createBitRate); break;
    case VENC_PARAM_GET_PACKET_SIZE: *out = enc.packetSize; break;
    case VENC_PARAM_FRAME_BYTES: *out = (area / 2) * 3; break;
    case VENC_PARAM_GET_AUX_VALUE_1: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue1 * 100000000.0)); break;
    case VENC_PARAM_GET_AUX_VALUE_2: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue2 * 100000000.0)); break;
    case VENC_PARAM_PACKET_LIMIT: *out = static_cast<uint32_t>(enc.mbCount + 5); break;
    case VENC_PARAM_PACKET_COUNT: *out = enc.packetCount; break;
    case VENC_PARAM_PACKET_SIZES: std::memcpy(out, enc.packetSizes, 4 * enc.packetCount); break;
    case VENC_PARAM_IDENT_A: *out = 4; break;
    default: return false;
  }
  *result = VENC_OK;
  return true;
}

void BeginFrame(EncoderCore& enc, const uint8_t* input, int32_t time, uint8_t* output, uint32_t capacity) {
  if (!enc.videoTelephony && enc.gopLength > kMaxGop) {
    enc.gopLength = kMaxGop;
    enc.rc.periodLength = kMaxGop;
  }
  enc.current->time = time;
  enc.packetCount = 0;
  enc.lastPacketStart = 0;
  CopyInputToFrame(*enc.current, input, enc.width, enc.height, enc.chromaOrder == 1);
  enc.writer.Attach(output, capacity);
}

void SetComplexityConstants(EncoderCore& enc) {
  static const int kThresholds[4][4] = {{18, 24, 46, 64}, {16, 20, 38, 56}, {12, 16, 32, 48}, {12, 16, 32, 48}};
  const int c = enc.complexity;
  for (int i = 0; i < 4; ++i) enc.textureThresholds[i] = kThresholds[c][i];
  enc.rc.mbQpAdaptation = (c == 3 || enc.videoTelephony) ? 1 : 0;
}

void PrepareFrame(EncoderCore& enc, int32_t time) {
  const uint32_t ticksPerFrame = static_cast<uint32_t>(static_cast<float>(enc.timeResolution) / enc.frameRate);
  if (ticksPerFrame > 0 && enc.frameCount > 0) {
    const uint32_t n = (static_cast<uint32_t>(time) - static_cast<uint32_t>(enc.prevTime)) / ticksPerFrame;
    if (n > 1) AccountSkippedFrames(enc.rc, n - 1, &enc.frameCount, &enc.forceIntraNext);
  }
  if (enc.padding) ExtendToMbGrid(*enc.current, enc.width, enc.height);
  PrefilterLuma(enc.preprocessingLevel, enc.current->lumaOrigin(), enc.current->lumaStride(), enc.codedWidth,
                enc.codedHeight);
}

bool SkipFrame(EncoderCore& enc, int32_t time, uint32_t* ioBytes) {
  if (!enc.rc.bandwidthAdaptation || !DecideFrameSkip(enc.rc)) return false;
  uint32_t bits = 0;
  enc.writer.Flush(&bits);
  *ioBytes = 0;
  AccountSkippedFrames(enc.rc, 1, &enc.frameCount, &enc.forceIntraNext);
  enc.prevTime = time;
  return true;
}

bool ChooseCodingType(EncoderCore& enc, int32_t forceIntra) {
  RateControlState& rc = enc.rc;
  // The first frame of a stream is intra whatever the period says: a GOP
  // length raised before it leaves frames in the period, and a predicted
  // first frame would refer to no picture.
  if (rc.framesLeft != 0 && forceIntra == 0 && !enc.forceIntraNext && enc.frameCount != 0) {
    enc.codingType = 1;
    if (rc.lowDelay && rc.rcMode == 0 && rc.windowFrames == 0 && rc.framesLeft > 0) {
      rc.windowIntraCount = 0;
      rc.windowFrames = static_cast<int32_t>(rc.frameRate);
      const int64_t bits = int64_t{rc.bitsLeft} * rc.windowFrames / rc.framesLeft;
      rc.windowBits = static_cast<int32_t>(bits < rc.bitRate ? bits : rc.bitRate);
    }
    return true;
  }
  if (forceIntra == 1) {
    const int64_t left = int64_t{rc.bitsLeft} - int64_t{rc.framesLeft} * rc.bitsPerFrame;
    rc.bitsLeft = static_cast<int32_t>(left < INT32_MIN ? INT32_MIN : (left > INT32_MAX ? INT32_MAX : left));
  }
  if (!enc.forceIntraNext) StartRatePeriod(rc);
  enc.codingType = 0;
  enc.forceIntraNext = false;
  return false;
}

void SwapReference(EncoderCore& enc) {
  enc.prevCodingType = enc.codingType;
  EncoderFrame* done = enc.current;
  enc.current = enc.reference;
  enc.reference = done;
  // Skipped-frame bookings may have run the count up to its limit.
  if (enc.frameCount < INT32_MAX) enc.frameCount += 1;
}

void FlushFrame(EncoderCore& enc, int32_t time, uint32_t* ioBytes) {
  uint32_t bits = 0;
  enc.writer.Flush(&bits);
  uint32_t bytes = bits / 8;
  if (bytes > *ioBytes) bytes = *ioBytes;
  *ioBytes = bytes;
  enc.prevTime = time;
}

void EstimateMotion(EncoderCore& enc, bool unrestricted) {
  const SearchConstants k = SearchConstantsFor(enc.complexity, enc.searchRange);
  MotionSearchContext& ctx = enc.motion;
  ctx.range = k.range;
  ctx.spreadThreshold = k.spreadThreshold;
  ctx.earlyExitSad = k.earlyExitSad;
  ctx.reference = enc.reference->lumaOrigin();
  ctx.current = enc.current->lumaOrigin();
  MotionLayout layout;
  layout.width = enc.codedWidth;
  layout.height = enc.codedHeight;
  layout.mbsPerRow = enc.mbsPerRow;
  layout.mbRows = enc.mbRows;
  layout.previousPredicted = enc.prevCodingType == 1;
  layout.unrestricted = unrestricted;
  layout.halfPelDiagonal = k.halfPelDiagonal;
  EstimatePictureMotion(ctx, layout, enc.mbs);
}

int StartPictureRate(EncoderCore& enc, bool intra) {
  RateControlState& rc = enc.rc;
  ApplyRateChange(rc);
  if (intra) {
    if (enc.videoTelephony) rc.windowIntraCount += 1;
    ComputeMbActivities(enc.current->lumaOrigin(), enc.current->lumaStride(), enc.mbsPerRow, enc.mbRows, enc.mbs);
    // An intra picture refreshes every macroblock.
    if (enc.intraRefresh || enc.cyclicRefresh)
      for (int i = 0; i < enc.mbCount; ++i) enc.mbs[i].refreshAge = 0;
  } else if (enc.intraRefresh || enc.cyclicRefresh) {
    IntraRefreshSetup setup;
    setup.mbsPerRow = enc.mbsPerRow;
    setup.mbRows = enc.mbRows;
    setup.refreshMbs = enc.intraRefreshMbs;
    setup.cyclic = enc.cyclicRefresh;
    setup.ageWeight = enc.cyclicPeriod;
    setup.scores = enc.refreshScores;
    setup.indices = enc.refreshIndices;
    // The picture's nominal share of the rate: its own target is set by the
    // quantiser decision that follows.
    AdaptiveIntraRefresh(enc.mbs, rc.bitsPerFrame, setup, enc.current->lumaOrigin(), enc.current->lumaStride());
  }
  SetFrameActivity(rc, enc.mbs);
  switch (enc.rcMode) {
    case 1: return ComputeFrameQpRanged(rc, enc.mbs, intra);
    case 2: return ComputeFrameQpByActivity(rc, enc.mbs, intra);
    default: return intra ? ComputeIntraFrameQp(rc) : ComputePredictedFrameQp(rc);
  }
}

bool StartMacroblock(EncoderCore& enc, MacroblockInfo& mb, bool intra, bool forcedIntra, int64_t capacityBits,
                     int runningQp, int rowQp, int pictureQp, int packet, bool* adapted) {
  if (intra || forcedIntra) {
    mb.inter = 0;
    mb.fourVectors = 0;
    for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
  }
  const int64_t freeBits = capacityBits - static_cast<int64_t>(enc.writer.FrameBits());
  if (freeBits < (mb.inter ? kInterGuardBits : kIntraGuardBits) || enc.writer.overflow()) return false;
  RateControlState& rc = enc.rc;
  *adapted = !intra && rc.mbQpAdaptation == 1 && enc.rcMode != 2;
  int quant = rowQp;
  if (*adapted) quant = enc.rcMode == 1 ? UpdateMbQpRanged(rc, mb, runningQp) : UpdateMbQp(rc, mb, runningQp, pictureQp);
  mb.quant = static_cast<uint16_t>(quant);
  mb.packet = static_cast<int16_t>(packet);
  return true;
}

void BookMacroblockBits(EncoderCore& enc, const MacroblockInfo& mb, int32_t header, int32_t texture, int32_t total,
                        bool intra, bool adapted, int32_t* rowBits) {
  RateControlState& rc = enc.rc;
  if (adapted) {
    UpdateMbModel(rc, mb, total, texture);
    return;
  }
  rc.frameTarget -= total;
  if (intra) {
    *rowBits += total;
  } else {
    rc.headerBits += header;
    rc.textureBits += texture;
  }
}

bool ForcedIntra(const EncoderCore& enc, bool gobRun, int gobNumber, int mbIndex) {
  if (gobRun && enc.intraGobsOn && gobNumber >= enc.intraGobsFirst && gobNumber < enc.intraGobsFirst + enc.intraGobsCount)
    return true;
  return enc.intraMbsOn && mbIndex >= enc.intraMbsFirst && mbIndex < enc.intraMbsFirst + enc.intraMbsCount;
}

VideoEncoderResult OverflowResult(EncoderCore& enc) {
  enc.rc.framesLeft = 0;
  return VENC_ERR_OVERFLOW;
}

void EndPictureRate(EncoderCore& enc, int32_t bits, bool intra) {
  RateControlState& rc = enc.rc;
  if (enc.rcMode == 1) {
    RateControlEndFrameRanged(rc, enc.mbs, bits, intra, enc.mbs[0].quant);
  } else if (enc.rcMode == 2) {
    EndFrameByActivity(rc);
  } else if (intra) {
    RateControlEndIntraFrame(rc, bits, enc.mbs[0].quant);
  } else {
    RateControlEndPredictedFrame(rc, enc.mbs, bits);
  }
}

void ResetCore(EncoderCore& enc) {
  enc.frameCount = 0;
  enc.codingType = enc.prevCodingType = 0;
  enc.current->time = enc.reference->time = 0;
  enc.prevTime = 0;
  // A restarted stream begins with an intra frame.
  enc.rc.framesLeft = 0;
  InitRateControl(enc.rc);
}

}  // namespace venc
