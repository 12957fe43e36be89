// The frame loop of mpeg4enc: motion stage and scene change of predicted
// frames, frame quantiser, VOP or short-header picture header, the
// macroblock rows with GOB headers and video packets, the overflow guard and
// the end of the frame.
#include "encoders/common/intra_refresh.h"
#include "encoders/common/motion_comp.h"
#include "encoders/common/motion_search.h"
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {
namespace {

// Free output bits a macroblock needs before it starts.
constexpr int64_t kIntraGuardBits = 2048;
constexpr int64_t kInterGuardBits = 1024;


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

bool ForcedIntra(const Mpeg4Encoder& enc, int gobNumber, int mbIndex) {
  if (enc.shortHeader && enc.intraGobsOn && gobNumber >= enc.intraGobsFirst &&
      gobNumber < enc.intraGobsFirst + enc.intraGobsCount)
    return true;
  return enc.intraMbsOn && mbIndex >= enc.intraMbsFirst && mbIndex < enc.intraMbsFirst + enc.intraMbsCount;
}

VideoEncoderResult Overflow(Mpeg4Encoder& enc) {
  enc.rc.framesLeft = 0;
  return VENC_ERR_OVERFLOW;
}

// Frame quantiser of the controller that rcMode selects.
int FrameQp(Mpeg4Encoder& enc, bool intra) {
  switch (enc.rcMode) {
    case 1: return ComputeFrameQpRanged(enc.rc, enc.mbs, intra);
    case 2: return ComputeFrameQpByActivity(enc.rc, enc.mbs, intra);
    default: return intra ? ComputeIntraFrameQp(enc.rc) : ComputePredictedFrameQp(enc.rc);
  }
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
    // Vectors of MPEG-4 may point outside the picture; short-header ones may not.
    layout.unrestricted = enc.shortHeader == 0;
    layout.halfPelDiagonal = k.halfPelDiagonal;
    EstimatePictureMotion(ctx, layout, enc.mbs);
    enc.fcode = enc.fcodeCreate;
    if (enc.fcode > 1) enc.fcode = ReduceFCode(enc.mbs, enc.mbCount, enc.fcode);
    if (enc.sceneChangeDetection && DetectSceneChange(rc, enc.mbs, enc.complexity)) enc.codingType = 0;
  }
  const bool intra = enc.codingType == 0;
  const uint32_t packetLimit = FramePacketSize(enc);

  ApplyRateChange(rc);
  int frameQp;
  if (intra) {
    if (enc.videoTelephony) rc.windowIntraCount += 1;
    ComputeMbActivities(enc.current->lumaOrigin(), enc.current->lumaStride(), enc.mbsPerRow, enc.mbRows, enc.mbs);
    // An intra picture refreshes every macroblock.
    if (enc.intraRefresh || enc.cyclicRefresh)
      for (int i = 0; i < enc.mbCount; ++i) enc.mbs[i].refreshAge = 0;
    SetFrameActivity(rc, enc.mbs);
    frameQp = FrameQp(enc, true);
  } else {
    if (enc.intraRefresh || enc.cyclicRefresh) {
      IntraRefreshSetup setup;
      setup.mbsPerRow = enc.mbsPerRow;
      setup.mbRows = enc.mbRows;
      setup.refreshMbs = enc.intraRefreshMbs;
      setup.cyclic = enc.cyclicRefresh;
      setup.ageWeight = enc.cyclicPeriod;
      setup.scores = enc.refreshScores;
      setup.indices = enc.refreshIndices;
      // The picture's nominal share of the rate: its own target is set by
      // the quantiser decision that follows.
      AdaptiveIntraRefresh(enc.mbs, rc.bitsPerFrame, setup, enc.current->lumaOrigin(), enc.current->lumaStride());
    }
    SetFrameActivity(rc, enc.mbs);
    frameQp = FrameQp(enc, false);
  }

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
    // The activity controller keeps its intra quantiser for the whole frame.
    const int rowQp = intra && enc.rcMode != 2 ? ComputeRowQp(rc, rowMbs, runningQp) : frameQp;
    int32_t rowBits = 0;
    for (int col = 0; col < enc.mbsPerRow; ++col) {
      const int index = row * enc.mbsPerRow + col;
      MacroblockInfo& mb = enc.mbs[index];
      if (intra || ForcedIntra(enc, gobNumber, index)) {
        mb.inter = 0;
        mb.fourVectors = 0;
        for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
      }
      const int64_t freeBits = capacityBits - static_cast<int64_t>(enc.writer.FrameBits());
      if (freeBits < (mb.inter ? kInterGuardBits : kIntraGuardBits) || enc.writer.overflow()) return Overflow(enc);
      const bool adaptMb = !intra && rc.mbQpAdaptation == 1 && enc.rcMode != 2;
      int mbQp = rowQp;
      if (adaptMb) mbQp = enc.rcMode == 1 ? UpdateMbQpRanged(rc, mb, runningQp) : UpdateMbQp(rc, mb, runningQp, frameQp);
      mb.quant = static_cast<uint16_t>(mbQp);
      mb.packet = static_cast<int16_t>(packet);
      MbBits bits;
      if (mb.inter) {
        int32_t sad[6];
        CompensateMacroblock(enc.motion.dsp, *enc.reference, *enc.current, 16 * col, 16 * row, mb, enc.blocks, sad);
        bits = EncodeInterMb(enc, index, sad, &runningQp, &packet, packetLimit);
      } else {
        LoadIntraMacroblock(*enc.current, col, row, enc.blocks);
        bits = EncodeIntraMb(enc, index, &runningQp, &packet, packetLimit);
      }
      const int32_t total = bits.header + bits.texture + bits.restart;
      if (adaptMb) {
        UpdateMbModel(rc, mb, total, bits.texture);
        continue;
      }
      rc.frameTarget -= total;
      if (intra) {
        rowBits += total;
      } else {
        rc.headerBits += bits.header;
        rc.textureBits += bits.texture;
      }
    }
    if (enc.writer.overflow()) return Overflow(enc);
    if (intra) UpdateRowModel(rc, rowQp, rowBits);
  }

  if (enc.shortHeader) {
    AlignWithZeros(hw);
  } else {
    enc.writer.PutPacketStuffing();
  }
  if (enc.writer.overflow()) return Overflow(enc);
  const int32_t frameBits = static_cast<int32_t>(enc.writer.FrameBits() - frameStart);
  if (enc.rcMode == 1) {
    RateControlEndFrameRanged(rc, enc.mbs, frameBits, intra, enc.mbs[0].quant);
  } else if (enc.rcMode == 2) {
    EndFrameByActivity(rc);
  } else if (intra) {
    RateControlEndIntraFrame(rc, frameBits, enc.mbs[0].quant);
  } else {
    RateControlEndPredictedFrame(rc, enc.mbs, frameBits);
  }
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
