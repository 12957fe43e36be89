// The frame loop of mpeg4enc: frame quantiser, VOP or short-header picture
// header, the macroblock rows with GOB headers and video packets, the
// overflow guard and the end of the frame.
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {
namespace {

// Intra macroblocks need this many free output bits before they start.
constexpr int64_t kIntraGuardBits = 2048;

uint32_t FramePacketSize(const Mpeg4Encoder& enc) {
  // Intra frames: half the packet size when it adapts.
  return enc.adaptivePacketSize ? enc.packetSize / 2 : enc.packetSize;
}

void RecordLastPacket(Mpeg4Encoder& enc) {
  uint32_t bits = 0;
  if (enc.shortHeader) {
    enc.writer.Query(kQueryTotalBits, &bits);
    bits = (bits - enc.lastPacketStart);
    uint32_t total = 0;
    enc.writer.Query(kQueryTotalBits, &total);
    enc.lastPacketStart = total;
  } else {
    enc.writer.Query(kQuerySegmentBits, &bits);
  }
  if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5)) enc.packetSizes[enc.packetCount++] = bits / 8;
}

}  // namespace

VideoEncoderResult EncodeVop(Mpeg4Encoder& enc) {
  RateControlState& rc = enc.rc;
  const uint32_t packetLimit = FramePacketSize(enc);
  BitWriter& hw = enc.writer.main();
  const int64_t capacityBits = int64_t{hw.capacity} * 8;
  const uint32_t frameStart = enc.writer.FrameBits();

  // Predicted pictures are coded as intra pictures within the current rate
  // period until motion estimation and the inter macroblock coder exist.
  enc.codingType = 0;

  if (enc.videoTelephony) rc.windowIntraCount += 1;
  ComputeMbActivities(enc.current->lumaOrigin(), enc.current->lumaStride(), enc.mbsPerRow, enc.mbRows, enc.mbs);
  ApplyRateChange(rc);
  SetFrameActivity(rc, enc.mbs);
  const int frameQp = ComputeIntraFrameQp(rc);

  const uint32_t headerStart = enc.writer.FrameBits();
  if (enc.shortHeader) {
    WriteShortHeaderPicture(enc, hw, frameQp);
  } else {
    WriteVopHeader(enc, hw, frameQp);
  }
  if (enc.dataPartitioning) PutDcMarker(enc.writer.first());
  rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - headerStart);

  int runningQp = frameQp;
  int packet = 0;
  int gobNumber = 0;
  for (int row = 0; row < enc.mbRows; ++row) {
    // Dc rows: the finished row becomes the row above.
    int16_t* tmp = enc.dcRows[0];
    enc.dcRows[0] = enc.dcRows[1];
    enc.dcRows[1] = tmp;
    if (enc.shortHeader && row > 0) {
      if (row % enc.rowsPerGob == 0) ++gobNumber;
      if (enc.gobHeaderInterval > 0 && row % enc.gobHeaderInterval == 0) {
        ++packet;
        const uint32_t before = enc.writer.FrameBits();
        WriteShortHeaderGob(enc, hw, gobNumber, frameQp);
        // A decoder takes GQUANT as its quantiser: the next DQUANT is coded
        // against it.
        runningQp = frameQp;
        rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - before);
      }
    }
    MacroblockInfo* rowMbs = enc.mbs + row * enc.mbsPerRow;
    const int rowQp = ComputeRowQp(rc, rowMbs, runningQp);
    int32_t rowBits = 0;
    for (int col = 0; col < enc.mbsPerRow; ++col) {
      const int index = row * enc.mbsPerRow + col;
      MacroblockInfo& mb = enc.mbs[index];
      const int64_t freeBits = capacityBits - static_cast<int64_t>(enc.writer.FrameBits());
      if (freeBits < kIntraGuardBits || enc.writer.overflow()) {
        rc.framesLeft = 0;
        return VENC_ERR_OVERFLOW;
      }
      mb.inter = 0;
      mb.fourVectors = 0;
      for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
      mb.quant = static_cast<uint16_t>(rowQp);
      mb.packet = static_cast<int16_t>(packet);
      LoadIntraBlocks(enc, col, row);
      const MbBits bits = EncodeIntraMb(enc, index, &runningQp, &packet, packetLimit);
      const int32_t total = bits.header + bits.texture + bits.restart;
      rc.frameTarget -= total;
      rowBits += total;
    }
    if (enc.writer.overflow()) {
      rc.framesLeft = 0;
      return VENC_ERR_OVERFLOW;
    }
    UpdateRowModel(rc, rowQp, rowBits);
  }

  if (enc.shortHeader) {
    AlignWithZeros(hw);
  } else {
    enc.writer.PutPacketStuffing();
  }
  if (enc.writer.overflow()) {
    rc.framesLeft = 0;
    return VENC_ERR_OVERFLOW;
  }
  const int32_t frameBits = static_cast<int32_t>(enc.writer.FrameBits() - frameStart);
  RateControlEndIntraFrame(rc, frameBits, enc.mbs[0].quant);
  RecordLastPacket(enc);
  enc.writer.Control(kControlResetCounts);
  if (enc.shortHeader) enc.lastPacketStart = 0;
  if (enc.codingType == 1) {
    enc.intraGobsOn = false;
    enc.intraMbsOn = false;
  }
  return VENC_OK;
}

}  // namespace venc
