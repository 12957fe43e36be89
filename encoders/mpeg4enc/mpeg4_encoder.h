#pragma once
// Internal state of one mpeg4enc encoder object.

#include <cstdint>

#include "encoders/common/bit_writer.h"
#include "encoders/common/encoder_core.h"
#include "encoders/common/h263_syntax.h"
#include "encoders/common/video_encoder.h"

namespace venc {

inline constexpr uint32_t kStreamHeaderBytes = 128;

// Time base of the VOP headers (ISO/IEC 14496-2 6.3.5).
struct TimeBase {
  uint32_t incrementBits = 1;
  uint32_t lastSecond = 0;   // ticks at the last counted second
  uint32_t seconds = 0;      // seconds counted by modulo_time_base
  uint32_t moduloMask = 0;   // one bit per second boundary of the current VOP
  uint32_t increment = 0;    // ticks since the last second boundary
  GobFrameId gobFrameId;
};

struct Mpeg4Encoder : EncoderCore {
  int fcode = 1, fcodeCreate = 1;
  int roundingType = 0;
  int headerExtension = 0;
  int shortHeader = 0;
  int streamMode = 0;
  int resyncMarkerDisable = 1;
  int reversibleVlc = 0;
  int dataPartitioning = 0;
  int intraDcVlcThr = 0;
  int level = 0;       // MPEG-4 level (1 or 3 in short-header mode)
  int h263Level = 0;   // stream mode 2
  int adaptivePacketSize = 0;

  TimeBase timeBase;
  uint8_t* partitionBuffers[2] = {nullptr, nullptr};
  uint32_t partitionCapacity = 0;
  uint32_t streamHeaderBits = 0;
  uint8_t* streamHeader = nullptr;

  // The two DC rows of intra prediction (six values a macroblock column).
  int16_t* dcRows[2] = {nullptr, nullptr};
  uint32_t prevPacketCount = 0;  // packets of the previous frame
};

// Stream headers (mpeg4_headers.cpp).
void WriteVosHeader(BitWriter& w, int level);
void WriteVoHeader(BitWriter& w);
void WriteVolHeader(Mpeg4Encoder& enc, BitWriter& w);
void WriteGovHeader(TimeBase& tb, BitWriter& w);
void WriteVopHeader(Mpeg4Encoder& enc, BitWriter& w, int quant);
void WriteVideoPacketHeader(Mpeg4Encoder& enc, BitWriter& w, int mbNumber, int quant);
void WriteShortHeaderPicture(Mpeg4Encoder& enc, BitWriter& w, int quant);
// GOB header (nothing for GOB 0), which ends the packet before it.
void WriteShortHeaderGob(Mpeg4Encoder& enc, BitWriter& w, int gobNumber, int quant);
uint32_t TimeIncrementBits(uint32_t timeResolution);
int FcodeFromSearchRange(int range, bool shortHeader);

// Bits that one macroblock spent.
struct MbBits {
  int header = 0;
  int texture = 0;
  int restart = 0;  // stuffing, packet header and marker of a new packet
};

// Intra macroblock coding (intra_mb_coder.cpp). `runningQp` is the quantiser
// last written into the stream; `packet` the packet counter.
MbBits EncodeIntraMb(Mpeg4Encoder& enc, int mbIndex, int* runningQp, int* packet, uint32_t packetLimit);

// Inter macroblock coding (inter_mb_coder.cpp): the residual blocks are in
// the work area, their sums of absolute values in `sad`, the prediction in
// the frame being coded.
MbBits EncodeInterMb(Mpeg4Encoder& enc, int mbIndex, const int32_t sad[6], int* runningQp, int* packet,
                     uint32_t packetLimit);

// Packet size of the current frame in bits: `packetSize`, or with adaptive
// packets half of it for intra frames and 2/5 to all of it for predicted
// frames by the macroblocks per packet of the previous frame.
uint32_t FramePacketSize(const Mpeg4Encoder& enc);

// One frame (vop_encoder.cpp): 0 or VENC_ERR_OVERFLOW.
VideoEncoderResult EncodeVop(Mpeg4Encoder& enc);

}  // namespace venc
