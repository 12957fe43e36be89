// mpeg4enc: creation and validation, the parameter operations, reset, destroy
// and the per-frame driver EncodeFrame.
#include "encoders/mpeg4enc/mpeg4_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/intra_refresh.h"
#include "encoders/common/prefilter.h"
#include "encoders/mpeg4enc/mpeg4enc.h"
#include "encoders/mpeg4enc/mpeg4enc_tables.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

// Largest picture side that video_object_layer_width/height (13 bits) hold,
// and the largest vop_time_increment_resolution (16 bits).
constexpr int kMaxPictureSide = 8191;
constexpr uint32_t kMaxTimeResolution = 65535;
constexpr int kMaxGop = 130;

Mpeg4Encoder* Self(VideoEncoder* enc) { return static_cast<Mpeg4Encoder*>(enc); }

void* TrackedAlloc(Mpeg4Encoder& enc, size_t bytes) {
  if (enc.allocationCount >= kMaxTrackedBlocks) return nullptr;
  void* raw = std::calloc(1, bytes + 8);
  if (!raw) return nullptr;
  enc.allocations[enc.allocationCount++] = raw;
  const uintptr_t p = reinterpret_cast<uintptr_t>(raw);
  return reinterpret_cast<void*>((p + 7) & ~uintptr_t{7});
}

void FreeAll(Mpeg4Encoder* enc) {
  for (int i = 0; i < enc->allocationCount; ++i) std::free(enc->allocations[i]);
  enc->allocationCount = 0;
  std::free(enc->partitionBuffers[0]);
  std::free(enc->partitionBuffers[1]);
  enc->partitionBuffers[0] = enc->partitionBuffers[1] = nullptr;
  delete enc;
}

// Rounds a GOB header interval for 4CIF (1 becomes 2) and 16CIF (1-3 become 4).
int RoundGobInterval(int interval, int sourceFormat) {
  if (interval < 0) return 0;
  if (sourceFormat == 4 && interval == 1) return 2;
  if (sourceFormat == 5 && interval >= 1 && interval <= 3) return 4;
  return interval;
}

int32_t LevelBitRate(const Mpeg4Encoder& enc) {
  if (enc.streamMode == 2) {
    const H263LevelLimits* l = FindH263Level(enc.h263Level);
    return l ? l->maxBitRate : 0;
  }
  const Mpeg4LevelLimits* l = FindMpeg4Level(enc.level);
  return l ? l->maxBitRate : 0;
}

VideoEncoderResult Validate(Mpeg4Encoder& enc, const EncoderCreateParams& p) {
  if (p.gobHeaderInterval > (p.height + 15) / 16) return VENC_ERR_BAD_PARAMS;
  if ((p.sceneChangeDetection & ~1) || (p.bandwidthAdaptation & ~1) || p.preprocessingLevel < 0 ||
      p.preprocessingLevel > 2 || (p.resyncMarkers & ~1) || p.streamMode < 0 || p.streamMode > 2)
    return VENC_ERR_BAD_PARAMS;
  enc.searchRange = p.searchRange < 1 ? 15 : (p.searchRange > 63 ? 63 : p.searchRange);
  if ((p.reversibleVlc & ~1) || (p.dataPartitioning & ~1)) return VENC_ERR_BAD_PARAMS;
  if (p.streamMode != 2 && !((p.level >= 0 && p.level <= 5) || p.level == 10)) return VENC_ERR_BAD_PARAMS;
  if (p.encodingComplexity < 0 || p.encodingComplexity > 3 || (p.adaptivePacketSize & ~1))
    return VENC_ERR_BAD_PARAMS;
  if (!(p.frameRate > 0.0f) || static_cast<float>(p.timeResolution) < p.frameRate || p.bitRate < 1)
    return VENC_ERR_BAD_PARAMS;
  // vop_time_increment_resolution has 16 bits.
  if (p.timeResolution > kMaxTimeResolution) return VENC_ERR_BAD_PARAMS;
  if (p.height < 1 || p.width < 1 || (p.height & 1) || (p.width & 1)) return VENC_ERR_BAD_SIZE;
  // video_object_layer_width and _height have 13 bits.
  if (p.height > kMaxPictureSide || p.width > kMaxPictureSide) return VENC_ERR_BAD_SIZE;
  const int codedW = (p.width + 15) & ~15, codedH = (p.height + 15) & ~15;
  const int mbCount = (codedW / 16) * (codedH / 16);
  if (p.intraRefreshMbs >= mbCount) return VENC_ERR_BAD_PARAMS;

  enc.width = p.width;
  enc.height = p.height;
  enc.codedWidth = codedW;
  enc.codedHeight = codedH;
  enc.mbsPerRow = codedW / 16;
  enc.mbRows = codedH / 16;
  enc.mbCount = mbCount;
  enc.padding = codedW != p.width || codedH != p.height;
  enc.intraRefreshMbs = p.intraRefreshMbs < -1 ? 0 : p.intraRefreshMbs;
  enc.intraRefresh = enc.intraRefreshMbs > 0 || enc.intraRefreshMbs == -1;
  enc.sceneChangeDetection = p.sceneChangeDetection;
  enc.rc.bandwidthAdaptation = p.bandwidthAdaptation;
  enc.preprocessingLevel = p.preprocessingLevel;
  enc.complexity = p.encodingComplexity;
  enc.adaptivePacketSize = p.adaptivePacketSize;
  enc.streamMode = p.streamMode;
  enc.level = p.level;
  enc.gobHeaderInterval = p.gobHeaderInterval < 0 ? 0 : p.gobHeaderInterval;
  enc.gopLength = p.gopLength < 1 ? 45 : p.gopLength;
  enc.frameRate = p.frameRate;
  enc.timeResolution = p.timeResolution;
  enc.createBitRate = p.bitRate;
  enc.auxValue1 = static_cast<float>(p.auxValue1 / 100000000);
  enc.auxValue2 = static_cast<float>(p.auxValue2 / 100000000);

  enc.dataPartitioning = p.dataPartitioning;
  enc.reversibleVlc = p.dataPartitioning ? p.reversibleVlc : 0;
  const int resync = p.dataPartitioning ? 1 : p.resyncMarkers;
  enc.resyncMarkerDisable = resync ? 0 : 1;
  enc.vbvLevelIndex = p.level;
  if (p.streamMode != 0) {
    enc.shortHeader = 1;
    enc.resyncMarkerDisable = 1;
    enc.reversibleVlc = 0;
    enc.dataPartitioning = 0;
    if (enc.searchRange > 15) enc.searchRange = 15;
    enc.intraDcVlcThr = 0;
    const ShortHeaderFormat* sf = FindShortHeaderFormat(p.width, p.height);
    if (!sf) return VENC_ERR_BAD_SIZE;
    enc.sourceFormat = sf->format;
    enc.level = sf->level;
    enc.vbvLevelIndex = sf->vbvIndex;
    enc.rowsPerGob = sf->rowsPerGob;
    enc.gobHeaderInterval = RoundGobInterval(enc.gobHeaderInterval, sf->format);
  }
  enc.packetSize = p.packetSize < 1024 ? 1024 : p.packetSize;

  if (p.streamMode == 2) {
    // Short-header streams carry the levels of the standard formats alone.
    const H263LevelLimits* l = FindH263Level(p.level);
    if (!l || l->maxSourceFormat == 0) return VENC_ERR_BAD_PARAMS;
    enc.h263Level = p.level;
    if (!WithinH263Level(*l, enc.sourceFormat, p.width, p.height, p.frameRate, p.bitRate)) return VENC_ERR_BAD_PARAMS;
  } else {
    const Mpeg4LevelLimits* l = FindMpeg4Level(enc.level);
    if (!l) return VENC_ERR_BAD_PARAMS;
    if (p.bitRate > l->maxBitRate) return VENC_ERR_BAD_PARAMS;
    if (l->maxMbs == 0) {
      if (codedH > 144 || codedW > 176 || p.frameRate > 15.0f) return VENC_ERR_BAD_PARAMS;
      enc.searchRange = 15;
      enc.intraDcVlcThr = 0;
    } else if (mbCount > l->maxMbs || static_cast<float>(mbCount) * p.frameRate > static_cast<float>(l->maxMbRate)) {
      return VENC_ERR_BAD_PARAMS;
    }
    if (enc.dataPartitioning && enc.packetSize > l->maxPacket) return VENC_ERR_BAD_PARAMS;
  }
  enc.fcodeCreate = enc.fcode = FcodeFromSearchRange(enc.searchRange, enc.shortHeader != 0);
  if (!enc.shortHeader) {
    if (p.bitRate > 4096000) {
      enc.vbvLevelIndex = 5;
    } else if (p.bitRate > 384000) {
      enc.vbvLevelIndex = 4;
    }
  }
  if (p.rcMode < 0 || p.rcMode > 2) return VENC_ERR_BAD_PARAMS;
  enc.rcMode = p.rcMode;
  if (p.rcMode != 0) enc.rc.bandwidthAdaptation = 0;
  return VENC_OK;
}

void SetupRateControl(Mpeg4Encoder& enc) {
  RateControlState& rc = enc.rc;
  rc.requestedBitRate = enc.createBitRate;
  rc.requestedFrameRate = enc.frameRate;
  rc.mbCount = enc.mbCount;
  rc.mbsPerRow = enc.mbsPerRow;
  rc.periodLength = enc.gopLength;
  rc.vbvLevelIndex = enc.vbvLevelIndex;
  rc.rcMode = enc.rcMode;
  rc.shortHeaderBuffer = enc.shortHeader;
  const uint32_t window = static_cast<uint32_t>(enc.frameRate / 7.0f);
  rc.windowIntraLimit = window < 1 ? 1 : static_cast<int32_t>(window);
  InitRateControl(rc);
}

uint32_t MaxFrameBytes(const Mpeg4Encoder& enc) {
  const uint32_t area = static_cast<uint32_t>(enc.codedWidth) * static_cast<uint32_t>(enc.codedHeight);
  const uint32_t b = static_cast<uint32_t>(kMpeg4VbvBufferBits[enc.vbvLevelIndex > 10 ? 10 : enc.vbvLevelIndex]);
  const uint32_t perFrame = static_cast<uint32_t>(enc.createBitRate / 30);
  if (enc.rcMode == 0) return b / 8 + (enc.shortHeader ? perFrame * 4 : 0);
  if (enc.rcMode == 1) return b / 4 + (enc.shortHeader ? perFrame * 8 : 0);
  return (area + area / 2) / 2;
}

void SetComplexityConstants(Mpeg4Encoder& enc) {
  static const int kThresholds[4][4] = {{18, 24, 46, 64}, {16, 20, 38, 56}, {12, 16, 32, 48}, {12, 16, 32, 48}};
  static const int kSpread[4] = {8, 6, 4, 4};
  static const int kEarlyExit[4] = {1536, 1024, 512, 512};
  const int c = enc.complexity;
  for (int i = 0; i < 4; ++i) enc.textureThresholds[i] = kThresholds[c][i];
  enc.spreadThreshold = kSpread[c];
  enc.earlyExitSad = kEarlyExit[c];
  enc.halfPelDiagonal = c >= 2 ? 1 : 0;
  enc.rc.mbQpAdaptation = (c == 3 || enc.videoTelephony) ? 1 : 0;
}

void WriteStoredHeader(Mpeg4Encoder& enc, BitWriter& w) {
  const uint32_t bytes = enc.streamHeaderBits / 8;
  for (uint32_t i = 0; i < bytes; ++i) PutBits(w, 8, enc.streamHeader[i]);
}

VideoEncoderResult BuildStreamHeader(Mpeg4Encoder& enc) {
  BitWriter w;
  AttachBuffer(w, enc.streamHeader, kStreamHeaderBytes);
  WriteVosHeader(w, enc.level);
  WriteVoHeader(w);
  if (!enc.shortHeader) WriteVolHeader(enc, w);
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  enc.streamHeaderBits = bits;
  return w.overflow ? VENC_ERR_NO_MEMORY : VENC_OK;
}

VideoEncoderResult OpEncodeFrame(VideoEncoder* base, const uint8_t* input, uint32_t inputBytes, int32_t time,
                                 int32_t forceIntra, uint8_t* output, uint32_t* ioBytes, int32_t* frameType) {
  if (!base || !ioBytes) return VENC_ERR_BAD_ARGUMENT;
  Mpeg4Encoder& enc = *Self(base);
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
  enc.prevPacketCount = enc.packetCount;
  enc.packetCount = 0;
  enc.lastPacketStart = 0;
  CopyInputToFrame(*enc.current, input, enc.width, enc.height, enc.chromaOrder == 1);
  enc.writer.Attach(output, *ioBytes);
  SetComplexityConstants(enc);

  const uint32_t ticksPerFrame = static_cast<uint32_t>(static_cast<float>(enc.timeResolution) / enc.frameRate);
  if (ticksPerFrame > 0 && enc.frameCount > 0) {
    const uint32_t n = (static_cast<uint32_t>(time) - static_cast<uint32_t>(enc.prevTime)) / ticksPerFrame;
    if (n > 1) AccountSkippedFrames(rc, n - 1, &enc.frameCount, &enc.forceIntraNext);
  }
  if (enc.padding) ExtendToMbGrid(*enc.current, enc.width, enc.height);
  PrefilterLuma(enc.preprocessingLevel, enc.current->lumaOrigin(), enc.current->lumaStride(), enc.codedWidth,
                enc.codedHeight);

  if (rc.bandwidthAdaptation) {
    if (DecideFrameSkip(rc)) {
      uint32_t bits = 0;
      enc.writer.Flush(&bits);
      *ioBytes = 0;
      AccountSkippedFrames(rc, 1, &enc.frameCount, &enc.forceIntraNext);
      enc.prevTime = time;
      return VENC_OK;
    }
  }

  BitWriter& hw = enc.writer.main();
  if (enc.frameCount == 0 && !enc.shortHeader) WriteStoredHeader(enc, hw);
  enc.timeBase.gobFrameId.toggle = 1;
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
  } else {
    if (forceIntra == 1) {
      const int64_t left = int64_t{rc.bitsLeft} - int64_t{rc.framesLeft} * rc.bitsPerFrame;
      rc.bitsLeft = static_cast<int32_t>(left < INT32_MIN ? INT32_MIN : (left > INT32_MAX ? INT32_MAX : left));
    }
    if (enc.frameCount > 0 && enc.videoTelephony && !enc.shortHeader) WriteStoredHeader(enc, hw);
    if (!enc.forceIntraNext) StartRatePeriod(rc);
    if (!enc.shortHeader) WriteGovHeader(enc.timeBase, hw);
    enc.codingType = 0;
    enc.forceIntraNext = false;
  }

  const VideoEncoderResult result = EncodeVop(enc);
  *frameType = enc.codingType;
  enc.prevCodingType = enc.codingType;

  EncoderFrame* done = enc.current;
  enc.current = enc.reference;
  enc.reference = done;
  // Skipped-frame bookings may have run the count up to its limit.
  if (enc.frameCount < INT32_MAX) enc.frameCount += 1;
  if (enc.padding) ExtendToMbGrid(*enc.reference, enc.width, enc.height);
  PadFrame(*enc.reference);

  uint32_t bits = 0;
  enc.writer.Flush(&bits);
  uint32_t bytes = bits / 8;
  if (bytes > *ioBytes) bytes = *ioBytes;
  *ioBytes = bytes;
  enc.prevTime = time;
  return result;
}

// The most one macroblock can put into a partition: six blocks of an intra DC
// (at most 24 bits) and 63 escaped events (30 bits each), with its header.
constexpr uint32_t kWorstMacroblockBytes = 1536;

VideoEncoderResult ReallocatePartitions(Mpeg4Encoder& enc, uint32_t packetSize) {
  // Four packets' worth, as the packet size asks, and room for the one
  // macroblock that may end a packet beyond its size: without it a single
  // detailed macroblock at a low quantiser fills a small partition and the
  // frame fails although the output has room.
  const uint32_t capacity = (packetSize / 8) * 4 + kWorstMacroblockBytes;
  // The new buffers come first: on failure the writer keeps the old ones.
  uint8_t* a = static_cast<uint8_t*>(std::calloc(1, capacity));
  uint8_t* b = static_cast<uint8_t*>(std::calloc(1, capacity));
  if (!a || !b) {
    std::free(a);
    std::free(b);
    return VENC_ERR_NO_MEMORY;
  }
  std::free(enc.partitionBuffers[0]);
  std::free(enc.partitionBuffers[1]);
  enc.partitionBuffers[0] = a;
  enc.partitionBuffers[1] = b;
  enc.partitionCapacity = capacity;
  enc.writer.InitPartitioned(a, b, capacity);
  return VENC_OK;
}

VideoEncoderResult OpSetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t value) {
  if (!base) return VENC_ERR_REJECTED;
  Mpeg4Encoder& enc = *Self(base);
  RateControlState& rc = enc.rc;
  const int32_t v = static_cast<int32_t>(value);
  switch (id) {
    case VENC_PARAM_BITRATE: {
      if (v < 1 || v > LevelBitRate(enc)) return VENC_ERR_REJECTED;
      rc.requestedBitRate = v;
      if (enc.frameCount == 0) InitRateControl(rc);
      return VENC_OK;
    }
    case VENC_PARAM_PACKET_SIZE: {
      const uint32_t size = value < 1024 ? 1024 : value;
      if (enc.dataPartitioning) {
        const Mpeg4LevelLimits* l = FindMpeg4Level(enc.level);
        if (l && size > l->maxPacket) return VENC_ERR_REJECTED;
        const VideoEncoderResult r = ReallocatePartitions(enc, size);
        if (r != VENC_OK) return r;
      }
      enc.packetSize = size;
      return VENC_OK;
    }
    case VENC_PARAM_FRAME_RATE: {
      if (value == 0 || value > enc.timeResolution) return VENC_ERR_REJECTED;
      const float rate = static_cast<float>(value);
      if (enc.streamMode == 2) {
        const H263LevelLimits* l = FindH263Level(enc.h263Level);
        if (!l || !WithinH263Level(*l, enc.sourceFormat, enc.width, enc.height, rate, 0)) return VENC_ERR_REJECTED;
      } else {
        const Mpeg4LevelLimits* l = FindMpeg4Level(enc.level);
        if (!l) return VENC_ERR_REJECTED;
        if (l->maxMbs == 0 && value > 15) return VENC_ERR_REJECTED;
        if (l->maxMbs != 0 && static_cast<uint64_t>(enc.mbCount) * value > static_cast<uint64_t>(l->maxMbRate))
          return VENC_ERR_REJECTED;
      }
      enc.frameRate = rate;
      rc.requestedFrameRate = rate;
      // The short-header temporal reference follows the frame rate in force.
      enc.temporalReferenceFactor = static_cast<float>(29.97 / rate);
      if (enc.frameCount == 0) InitRateControl(rc);
      rc.windowIntraLimit = value / 7 < 1 ? 1 : static_cast<int32_t>(value / 7);
      return VENC_OK;
    }
    case VENC_PARAM_COMPLEXITY:
      if (value > 3) return VENC_ERR_REJECTED;
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
      // 0 and, as values that no period can have, negative lengths are refused.
      if (v < 1) return VENC_ERR_REJECTED;
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
      if (value > 1) return VENC_ERR_REJECTED;
      if (v != enc.videoTelephony) {
        enc.videoTelephony = v;
        rc.lowDelay = v;
        if (v && enc.resyncMarkerDisable == 0) enc.headerExtension = 1;
        InitRateControl(rc);
      }
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
      if (!enc.shortHeader || value > 1) return VENC_ERR_REJECTED;
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
      enc.gobHeaderInterval = enc.shortHeader ? RoundGobInterval(v, enc.sourceFormat) : (v < 0 ? 0 : v);
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
  Mpeg4Encoder& enc = *Self(base);
  const uint32_t area = static_cast<uint32_t>(enc.codedWidth) * static_cast<uint32_t>(enc.codedHeight);
  switch (id) {
    case VENC_PARAM_CREATE_BITRATE: *out = static_cast<uint32_t>(enc.createBitRate); return VENC_OK;
    case VENC_PARAM_GET_PACKET_SIZE: *out = enc.packetSize; return VENC_OK;
    case VENC_PARAM_MAX_FRAME_BYTES: *out = MaxFrameBytes(enc); return VENC_OK;
    case VENC_PARAM_FRAME_BYTES: *out = (area / 2) * 3; return VENC_OK;
    case VENC_PARAM_HEADER_LENGTH: *out = enc.streamHeaderBits / 8; return VENC_OK;
    case VENC_PARAM_HEADER: std::memcpy(out, enc.streamHeader, enc.streamHeaderBits / 8); return VENC_OK;
    case VENC_PARAM_GET_AUX_VALUE_1: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue1 * 100000000.0)); return VENC_OK;
    case VENC_PARAM_GET_AUX_VALUE_2: *out = static_cast<uint32_t>(static_cast<int32_t>(enc.auxValue2 * 100000000.0)); return VENC_OK;
    case VENC_PARAM_PACKET_LIMIT: *out = static_cast<uint32_t>(enc.mbCount + 5); return VENC_OK;
    case VENC_PARAM_PACKET_COUNT: *out = enc.packetCount; return VENC_OK;
    case VENC_PARAM_PACKET_SIZES: std::memcpy(out, enc.packetSizes, 4 * enc.packetCount); return VENC_OK;
    case VENC_PARAM_IDENT_A: *out = 4; return VENC_OK;
    case VENC_PARAM_IDENT_B: *out = 0xB1010000u; return VENC_OK;
    default: return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpResetEncoder(VideoEncoder* base) {
  if (!base) return VENC_ERR_BAD_ARGUMENT;
  Mpeg4Encoder& enc = *Self(base);
  enc.frameCount = 0;
  enc.codingType = enc.prevCodingType = 0;
  enc.current->time = enc.reference->time = 0;
  enc.prevTime = 0;
  enc.timeBase = TimeBase{};
  enc.timeBase.incrementBits = TimeIncrementBits(enc.timeResolution);
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

VideoEncoderResult Allocate(Mpeg4Encoder& enc) {
  const size_t frameBytes = FrameBlockBytes(enc.codedWidth, enc.codedHeight);
  enc.blocks = static_cast<int16_t*>(TrackedAlloc(enc, 12 * 64 * sizeof(int16_t)));
  uint8_t* f0 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  uint8_t* f1 = static_cast<uint8_t*>(TrackedAlloc(enc, frameBytes));
  enc.mbs = static_cast<MacroblockInfo*>(TrackedAlloc(enc, sizeof(MacroblockInfo) * static_cast<size_t>(enc.mbCount)));
  enc.streamHeader = static_cast<uint8_t*>(TrackedAlloc(enc, kStreamHeaderBytes));
  enc.packetSizes = static_cast<uint32_t*>(TrackedAlloc(enc, sizeof(uint32_t) * static_cast<size_t>(enc.mbCount + 5)));
  int16_t* dc = static_cast<int16_t*>(TrackedAlloc(enc, sizeof(int16_t) * 12 * static_cast<size_t>(enc.mbsPerRow)));
  const size_t fieldBytes = sizeof(VectorFieldEntry) * static_cast<size_t>(enc.mbCount);
  enc.motion.vectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  enc.motion.previousVectorField = static_cast<VectorFieldEntry*>(TrackedAlloc(enc, fieldBytes));
  if (!enc.blocks || !f0 || !f1 || !enc.mbs || !enc.streamHeader || !enc.packetSizes || !dc ||
      !enc.motion.vectorField || !enc.motion.previousVectorField)
    return VENC_ERR_NO_MEMORY;
  enc.refreshScores = static_cast<int32_t*>(TrackedAlloc(enc, 2 * sizeof(int32_t) * static_cast<size_t>(enc.mbCount)));
  if (!enc.refreshScores) return VENC_ERR_NO_MEMORY;
  enc.refreshIndices = enc.refreshScores + enc.mbCount;
  std::memset(enc.motion.vectorField, 0, fieldBytes);
  std::memset(enc.motion.previousVectorField, 0, fieldBytes);
  enc.dcRows[0] = dc;
  enc.dcRows[1] = dc + 6 * enc.mbsPerRow;
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

extern "C" venc::VideoEncoderResult gCreateMPEG4VideoEncoder(venc::VideoEncoder** out,
                                                             const venc::EncoderCreateParams* params) {
  using namespace venc;
  if (!params) return VENC_ERR_BAD_PARAMS;
  if (!out) return VENC_ERR_BAD_ARGUMENT;
  *out = nullptr;
  Mpeg4Encoder* enc = new (std::nothrow) Mpeg4Encoder();
  if (!enc) return VENC_ERR_NO_MEMORY;
  enc->EncodeFrame = OpEncodeFrame;
  enc->SetEncoderParam = OpSetEncoderParam;
  enc->GetEncoderParam = OpGetEncoderParam;
  enc->ResetEncoder = OpResetEncoder;
  enc->DestroyEncoder = OpDestroyEncoder;
  VideoEncoderResult r = Validate(*enc, *params);
  if (r == VENC_OK) {
    enc->writer.InitPlain();
    if (enc->dataPartitioning) r = ReallocatePartitions(*enc, enc->packetSize);
  }
  if (r == VENC_OK) r = Allocate(*enc);
  if (r == VENC_OK) {
    init_fdct_dsp(enc->fdct, ov::GetCpuFlags());
    init_idct_dsp(enc->idct, ov::GetCpuFlags());
    init_motion_dsp(enc->motion.dsp, ov::GetCpuFlags());
    SetupRateControl(*enc);
    enc->temporalReferenceFactor = static_cast<float>(29.97 / enc->frameRate);
    enc->timeBase.incrementBits = TimeIncrementBits(enc->timeResolution);
    r = BuildStreamHeader(*enc);
  }
  if (r != VENC_OK) {
    FreeAll(enc);
    return r;
  }
  *out = enc;
  return VENC_OK;
}
