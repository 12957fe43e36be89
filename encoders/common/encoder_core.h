#pragma once
// The state both encoder libraries keep behind the five operation words, and
// the parts of their operations that are the same in both: tracked
// allocation, the per-stream blocks, the parameters both treat alike, the
// booking of frames that were never handed in, the choice of a frame's coding
// type and the return to the state before the first frame.

#include <cstddef>
#include <cstdint>

#include "encoders/common/bit_writer.h"
#include "encoders/common/encoder_frame.h"
#include "encoders/common/fdct.h"
#include "encoders/common/idct.h"
#include "encoders/common/macroblock_info.h"
#include "encoders/common/motion_search.h"
#include "encoders/common/rate_control.h"
#include "encoders/common/video_encoder.h"

namespace venc {

inline constexpr int kMaxTrackedBlocks = 20;
// Unless video telephony is on, a GOP is at most this long.
inline constexpr int kMaxGop = 130;
// Free output bits an intra or inter macroblock needs before it starts; with
// less the frame stops with VENC_ERR_OVERFLOW.
inline constexpr int64_t kIntraGuardBits = 2048;
inline constexpr int64_t kInterGuardBits = 1024;

struct EncoderCore : VideoEncoder {
  // Allocation table: every block the object owns but the object itself (and
  // mpeg4enc's partition buffers).
  void* allocations[kMaxTrackedBlocks] = {};
  int allocationCount = 0;

  StreamWriter writer;

  // Coding layout.
  int width = 0, height = 0;  // as delivered
  int codedWidth = 0, codedHeight = 0;
  int mbsPerRow = 0, mbRows = 0, mbCount = 0;
  int codingType = 0, prevCodingType = 0;
  int sourceFormat = 0;  // H.263 source format 1-5, 6 custom (h263enc)
  int rowsPerGob = 1;
  bool padding = false;

  // Options.
  int intraRefreshMbs = 0;
  bool intraRefresh = false;
  int sceneChangeDetection = 0;
  int preprocessingLevel = 0;
  int complexity = 0;
  int gobHeaderInterval = 0;
  int textureThresholds[4] = {12, 15, 24, 40};
  int searchRange = 15;
  int cyclicPeriod = 20;
  bool cyclicRefresh = false;
  bool intraGobsOn = false;
  int intraGobsFirst = 0, intraGobsCount = 0;
  bool intraMbsOn = false;
  int intraMbsFirst = 0, intraMbsCount = 0;

  RateControlState rc;
  int rcMode = 0;
  int vbvLevelIndex = 0;

  MacroblockInfo* mbs = nullptr;
  EncoderFrame frames[2] = {};
  EncoderFrame* current = nullptr;
  EncoderFrame* reference = nullptr;
  int32_t frameCount = 0;
  int gopLength = 45;
  float frameRate = 15.0f;
  float temporalReferenceFactor = 1.0f;  // 29.97 / frameRate
  uint32_t packetSize = 1024;
  int32_t createBitRate = 0;
  uint32_t timeResolution = 1000;
  float auxValue1 = 0.0f, auxValue2 = 0.0f;

  // Macroblock layer work block: 12 blocks of 64 coefficients (six
  // quantised, six dequantised).
  int16_t* blocks = nullptr;

  uint32_t packetCount = 0;
  uint32_t* packetSizes = nullptr;  // mbCount + 5 entries
  uint32_t lastPacketStart = 0;
  int videoTelephony = 0;
  int chromaOrder = 0;
  bool forceIntraNext = false;
  int32_t prevTime = 0;

  MotionSearchContext motion;
  int32_t* refreshScores = nullptr;  // intra refresh work tables, mbCount each
  int32_t* refreshIndices = nullptr;
  FdctDsp fdct{};
  IdctDsp idct{};
};

// A zeroed block of `bytes` (8-byte aligned) recorded in the allocation
// table; null when the table is full or memory ran out.
void* TrackedAlloc(EncoderCore& enc, size_t bytes);
// Frees every block of the allocation table.
void FreeTracked(EncoderCore& enc);
// The blocks every encoder needs once its coded size is known: work area,
// two frames, macroblock records (quantiser 10), packet-size table, motion
// fields and intra refresh tables; then the kernels for this CPU.
VideoEncoderResult AllocateCore(EncoderCore& enc);

// SetEncoderParam for the ids both libraries treat alike (4-6, 10, 12-17,
// 24): true with *result set when `id` is one of them.
bool SetCommonParam(EncoderCore& enc, uint32_t id, uint32_t value, VideoEncoderResult* result);
// The checks done, ids 0, 2 and 7: the new rate, frame rate (whole frames a
// second) or GOP length.
void SetBitRate(EncoderCore& enc, int32_t bitRate);
void SetFrameRate(EncoderCore& enc, uint32_t frameRate);
void SetGopLength(EncoderCore& enc, int32_t gopLength);
// GetEncoderParam for the ids both answer alike (100, 101, 103, 106, 107,
// 110, 115-117): true with *result set when `id` is one of them.
bool GetCommonParam(const EncoderCore& enc, uint32_t id, uint32_t* out, VideoEncoderResult* result);

// Start of EncodeFrame after the argument checks: GOP cap, time stamp,
// packet table cleared, input copied, output attached.
void BeginFrame(EncoderCore& enc, const uint8_t* input, int32_t time, uint8_t* output, uint32_t capacity);
// The texture thresholds of the encoding complexity (0-3) and the
// macroblock quantiser adaptation it (or video telephony) switches on.
void SetComplexityConstants(EncoderCore& enc);
// Books the frames between the previous time stamp and `time` that were never
// handed in (none when the frame period is shorter than a tick), then extends
// the picture to the macroblock grid and runs the pre-filter.
void PrepareFrame(EncoderCore& enc, int32_t time);
// With bandwidth adaptation, whether the rate control drops this frame; when
// it does, the frame is booked as skipped and nothing is written.
bool SkipFrame(EncoderCore& enc, int32_t time, uint32_t* ioBytes);
// Whether the frame is predicted (sets up the low-delay window), else an
// intra frame that opens a rate period: the coding type is set either way.
bool ChooseCodingType(EncoderCore& enc, int32_t forceIntra);
// After coding: the reconstruction becomes the reference, the frame is counted.
void SwapReference(EncoderCore& enc);
// End of EncodeFrame: the writer flushed, *ioBytes the bytes written, `time`
// remembered.
void FlushFrame(EncoderCore& enc, int32_t time, uint32_t* ioBytes);
// The picture loops' shared steps (EncodeVop, EncodePicture).
// Motion search of a predicted picture into the macroblock records, vectors
// reaching into the border when `unrestricted`.
void EstimateMotion(EncoderCore& enc, bool unrestricted);
// Start of a picture's rate control: rate change, activities (and intra
// refresh selection of a predicted picture), then the picture quantiser of
// the controller that rcMode selects.
int StartPictureRate(EncoderCore& enc, bool intra);
// Before a macroblock: intra (vectors zeroed) in an intra picture or when
// `forcedIntra`; false when fewer free output bits than its guard remain.
// Otherwise its quantiser (with macroblock adaptation in a predicted picture,
// rcMode 0 and 1, the rate control's, *adapted set; else `rowQp`) and packet
// are set.
bool StartMacroblock(EncoderCore& enc, MacroblockInfo& mb, bool intra, bool forcedIntra, int64_t capacityBits,
                     int runningQp, int rowQp, int pictureQp, int packet, bool* adapted);
// Books a coded macroblock's bits with the rate control; intra pictures add
// them to *rowBits.
void BookMacroblockBits(EncoderCore& enc, const MacroblockInfo& mb, int32_t header, int32_t texture, int32_t total,
                        bool intra, bool adapted, int32_t* rowBits);
// Whether the forced-intra runs (GOBs when `gobRun`, macroblocks) cover it.
bool ForcedIntra(const EncoderCore& enc, bool gobRun, int gobNumber, int mbIndex);
// The output ran short: the next frame is intra; returns VENC_ERR_OVERFLOW.
VideoEncoderResult OverflowResult(EncoderCore& enc);
// End of a picture of `bits` bits: the rate control's end-of-frame update.
void EndPictureRate(EncoderCore& enc, int32_t bits, bool intra);

// ResetEncoder's common part: back to the state before the first frame, the
// next frame intra.
void ResetCore(EncoderCore& enc);

}  // namespace venc
