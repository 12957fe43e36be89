// The frame loop of mpeg4enc: motion stage and scene change of predicted
// frames, frame quantiser, VOP or short-header picture header, the
// macroblock rows with GOB headers and video packets, the overflow guard and
// the end of the frame.
#include "encoders/common/motion_comp.h"
#include "encoders/common/motion_search.h"
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {
namespace {

void RecordLastPacket(Mpeg4Encoder& enc) {
  uint32_t bits = 0;
  if (enc.shortHeader) {
    uint32_t total = 0;
    enc.writer.Query(kQueryTotalBits, &total);
    bits = total - enc.lastPacketStart;
    enc.lastPacketStart = total;
  } else {
    enc.writer.Query(kQuerySegmentBits, &bits);
  }
  if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5)) enc.packetSizes[enc.packetCount++] = bits / 8;
}

}  // namespace

uint32_t FramePacketSize(const Mpeg4Encoder& enc) {
  if (!enc.adaptivePacketSize) return enc.packetSize;
  if (enc.codingType == 0) return enc.packetSize / 2;
  // Predicted frames: shorter packets as more macroblocks share one (n is
  // the macroblocks per packet of the previous frame).
  const uint32_t divisor = enc.prevPacketCount > 0 ? enc.prevPacketCount : 1;
  const uint32_t n = static_cast<uint32_t>(enc.mbCount) / divisor;
  if (n <= 4) return enc.packetSize;
  if (n <= 7) return enc.packetSize * 4 / 5;
  if (n <= 12) return enc.packetSize * 3 / 5;
  return enc.packetSize * 2 / 5;
}

VideoEncoderResult EncodeVop(Mpeg4Encoder& enc) {
  RateControlState& rc = enc.rc;
  BitWriter& hw = enc.writer.main();
  const int64_t capacityBits = int64_t{hw.capacity} * 8;
  const uint32_t frameStart = enc.writer.FrameBits();

  if (enc.codingType == 1) {
    // Vectors of MPEG-4 may point outside the picture; short-header ones may not.
    EstimateMotion(enc, enc.shortHeader == 0);
    enc.fcode = enc.fcodeCreate;
    if (enc.fcode > 1) enc.fcode = ReduceFCode(enc.mbs, enc.mbCount, enc.fcode);
    if (enc.sceneChangeDetection && DetectSceneChange(rc, enc.mbs, enc.complexity)) enc.codingType = 0;
  }
  const bool intra = enc.codingType == 0;
  const uint32_t packetLimit = FramePacketSize(enc);
  const int frameQp = StartPictureRate(enc, intra);

  const uint32_t headerStart = enc.writer.FrameBits();
  if (enc.shortHeader) {
    WriteShortHeaderPicture(enc, hw, frameQp);
  } else {
    WriteVopHeader(enc, hw, frameQp);
  }
  if (enc.dataPartitioning) {
    if (intra) {
      PutDcMarker(enc.writer.first());
    } else {
      PutMotionMarker(enc.writer.first());
    }
  }
  rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - headerStart);
  if (enc.rcMode == 1) rc.rangeFrameTarget = rc.frameTarget;

  int runningQp = frameQp;
  int packet = 0;
  int gobNumber = 0;
  for (int row = 0; row < enc.mbRows; ++row) {
    // DC rows: the finished row becomes the row above.
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
    // Intra rows take their quantiser from the row model, except under the
    // activity controller (rcMode 2), which gives an intra frame no bit
    // budget to share among its rows: its rows keep the frame quantiser. That
    // is the quantiser the row model would give them with a budget of the
    // bits it expects at the frame quantiser, the one budget that keeps the
    // rows at the quantiser the activity chose; any other start (0 among
    // them) would walk the rows two steps at a time away from it.
    const bool rowModel = intra && enc.rcMode != 2;
    const int rowQp = rowModel ? ComputeRowQp(rc, rowMbs, runningQp) : frameQp;
    int32_t rowBits = 0;
    for (int col = 0; col < enc.mbsPerRow; ++col) {
      const int index = row * enc.mbsPerRow + col;
      MacroblockInfo& mb = enc.mbs[index];
      bool adaptMb = false;
      if (!StartMacroblock(enc, mb, intra, ForcedIntra(enc, enc.shortHeader != 0, gobNumber, index), capacityBits, runningQp, rowQp,
                           frameQp, packet, &adaptMb))
        return OverflowResult(enc);
      MbBits bits;
      if (mb.inter) {
        int32_t sad[6];
        CompensateMacroblock(enc.motion.dsp, *enc.reference, *enc.current, 16 * col, 16 * row, mb, enc.blocks, sad);
        bits = EncodeInterMb(enc, index, sad, &runningQp, &packet, packetLimit);
      } else {
        LoadIntraMacroblock(*enc.current, col, row, enc.blocks);
        bits = EncodeIntraMb(enc, index, &runningQp, &packet, packetLimit);
      }
      BookMacroblockBits(enc, mb, bits.header, bits.texture, bits.header + bits.texture + bits.restart, intra, adaptMb,
                         &rowBits);
    }
    if (enc.writer.overflow()) return OverflowResult(enc);
    if (rowModel) UpdateRowModel(rc, rowQp, rowBits);
  }

  if (enc.shortHeader) {
    AlignWithZeros(hw);
  } else {
    enc.writer.PutPacketStuffing();
  }
  if (enc.writer.overflow()) return OverflowResult(enc);
  EndPictureRate(enc, static_cast<int32_t>(enc.writer.FrameBits() - frameStart), intra);
  RecordLastPacket(enc);
  enc.writer.Control(kControlResetCounts);
  if (enc.shortHeader) enc.lastPacketStart = 0;
  if (!intra) {
    enc.intraGobsOn = false;
    enc.intraMbsOn = false;
  }
  return VENC_OK;
}

}  // namespace venc
