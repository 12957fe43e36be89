// mpeg4enc: creation and validation, the parameter operations, reset, destroy
// and the per-frame driver EncodeFrame.
#include "encoders/mpeg4enc/mpeg4_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "encoders/common/encoder_tables.h"
#include "encoders/mpeg4enc/mpeg4enc.h"
#include "encoders/mpeg4enc/mpeg4enc_tables.h"

namespace venc {
namespace {

// Largest picture side that video_object_layer_width/height (13 bits) hold,
// and the largest vop_time_increment_resolution (16 bits).
constexpr int kMaxPictureSide = 8191;
constexpr uint32_t kMaxTimeResolution = 65535;

Mpeg4Encoder* Self(VideoEncoder* enc) { return static_cast<Mpeg4Encoder*>(enc); }

void FreeAll(Mpeg4Encoder* enc) {
  FreeTracked(*enc);
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
  enc.prevPacketCount = enc.packetCount;
  BeginFrame(enc, input, time, output, *ioBytes);
  SetComplexityConstants(enc);
  PrepareFrame(enc, time);
  if (SkipFrame(enc, time, ioBytes)) return VENC_OK;

  BitWriter& hw = enc.writer.main();
  if (enc.frameCount == 0 && !enc.shortHeader) WriteStoredHeader(enc, hw);
  enc.timeBase.gobFrameId.toggle = 1;
  const bool firstFrame = enc.frameCount == 0;
  if (!ChooseCodingType(enc, forceIntra)) {
    if (!firstFrame && enc.videoTelephony && !enc.shortHeader) WriteStoredHeader(enc, hw);
    if (!enc.shortHeader) WriteGovHeader(enc.timeBase, hw);
  }

  const VideoEncoderResult result = EncodeVop(enc);
  *frameType = enc.codingType;
  SwapReference(enc);
  if (enc.padding) ExtendToMbGrid(*enc.reference, enc.width, enc.height);
  PadFrame(*enc.reference);
  FlushFrame(enc, time, ioBytes);
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
  VideoEncoderResult common = VENC_OK;
  if (SetCommonParam(enc, id, value, &common)) return common;
  switch (id) {
    case VENC_PARAM_BITRATE: {
      if (v < 1 || v > LevelBitRate(enc)) return VENC_ERR_REJECTED;
      SetBitRate(enc, v);
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
      SetFrameRate(enc, value);
      return VENC_OK;
    }
    case VENC_PARAM_COMPLEXITY:
      if (value > 3) return VENC_ERR_REJECTED;
      enc.complexity = v;
      return VENC_OK;
    case VENC_PARAM_GOP_LENGTH:
      // 0 and, as values that no period can have, negative lengths are refused.
      if (v < 1) return VENC_ERR_REJECTED;
      SetGopLength(enc, v);
      return VENC_OK;
    case VENC_PARAM_VIDEO_TELEPHONY:
      if (value > 1) return VENC_ERR_REJECTED;
      if (v != enc.videoTelephony) {
        enc.videoTelephony = v;
        rc.lowDelay = v;
        if (v && enc.resyncMarkerDisable == 0) enc.headerExtension = 1;
        InitRateControl(rc);
      }
      return VENC_OK;
    case VENC_PARAM_INTRA_GOBS:
      if (!enc.shortHeader || value > 1) return VENC_ERR_REJECTED;
      enc.intraGobsOn = value == 1;
      return VENC_OK;
    case VENC_PARAM_GOB_HEADER_INTERVAL:
      enc.gobHeaderInterval = enc.shortHeader ? RoundGobInterval(v, enc.sourceFormat) : (v < 0 ? 0 : v);
      return VENC_OK;
    default:
      return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpGetEncoderParam(VideoEncoder* base, uint32_t id, uint32_t* out) {
  if (!base || !out) return VENC_ERR_REJECTED;
  Mpeg4Encoder& enc = *Self(base);
  VideoEncoderResult common = VENC_OK;
  if (GetCommonParam(enc, id, out, &common)) return common;
  switch (id) {
    case VENC_PARAM_MAX_FRAME_BYTES: *out = MaxFrameBytes(enc); return VENC_OK;
    case VENC_PARAM_HEADER_LENGTH: *out = enc.streamHeaderBits / 8; return VENC_OK;
    case VENC_PARAM_HEADER: std::memcpy(out, enc.streamHeader, enc.streamHeaderBits / 8); return VENC_OK;
    case VENC_PARAM_IDENT_B: *out = 0xB1010000u; return VENC_OK;
    default: return VENC_ERR_REJECTED;
  }
}

VideoEncoderResult OpResetEncoder(VideoEncoder* base) {
  if (!base) return VENC_ERR_BAD_ARGUMENT;
  Mpeg4Encoder& enc = *Self(base);
  enc.timeBase = TimeBase{};
  enc.timeBase.incrementBits = TimeIncrementBits(enc.timeResolution);
  ResetCore(enc);
  return VENC_OK;
}

VideoEncoderResult OpDestroyEncoder(VideoEncoder* base) {
  if (!base) return VENC_OK;
  FreeAll(Self(base));
  return VENC_OK;
}

VideoEncoderResult Allocate(Mpeg4Encoder& enc) {
  const VideoEncoderResult r = AllocateCore(enc);
  if (r != VENC_OK) return r;
  enc.streamHeader = static_cast<uint8_t*>(TrackedAlloc(enc, kStreamHeaderBytes));
  int16_t* dc = static_cast<int16_t*>(TrackedAlloc(enc, sizeof(int16_t) * 12 * static_cast<size_t>(enc.mbsPerRow)));
  if (!enc.streamHeader || !dc) return VENC_ERR_NO_MEMORY;
  enc.dcRows[0] = dc;
  enc.dcRows[1] = dc + 6 * enc.mbsPerRow;
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
