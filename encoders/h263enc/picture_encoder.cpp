// The picture loop of h263enc: motion stage and scene change of predicted
// pictures, picture quantiser, picture header, the macroblock rows with GOB
// headers or slices, the overflow guard and the end of the picture.
#include "encoders/common/intra_refresh.h"
#include "encoders/common/motion_comp.h"
#include "encoders/common/motion_search.h"
#include "encoders/h263enc/h263_encoder.h"
#include "encoders/h263enc/h263enc_tables.h"

namespace venc {
namespace {

// Free output bits a macroblock needs before it starts.
constexpr int64_t kIntraGuardBits = 2048;
constexpr int64_t kInterGuardBits = 1024;

bool ForcedIntra(const H263Encoder& enc, int gobNumber, int mbIndex) {
  if (enc.intraGobsOn && gobNumber >= enc.intraGobsFirst && gobNumber < enc.intraGobsFirst + enc.intraGobsCount)
    return true;
  return enc.intraMbsOn && mbIndex >= enc.intraMbsFirst && mbIndex < enc.intraMbsFirst + enc.intraMbsCount;
}

VideoEncoderResult Overflow(H263Encoder& enc) {
  enc.rc.framesLeft = 0;
  return VENC_ERR_OVERFLOW;
}

int PictureQp(H263Encoder& enc, bool intra) {
  switch (enc.rcMode) {
    case 1: return ComputeFrameQpRanged(enc.rc, enc.mbs, intra);
    case 2: return ComputeFrameQpByActivity(enc.rc, enc.mbs, intra);
    default: return intra ? ComputeIntraFrameQp(enc.rc) : ComputePredictedFrameQp(enc.rc);
  }
}

void EstimateMotion(H263Encoder& enc) {
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
  // Only Annex D lets vectors point outside the picture.
  layout.unrestricted = enc.unrestrictedMv != 0;
  layout.halfPelDiagonal = k.halfPelDiagonal;
  EstimatePictureMotion(ctx, layout, enc.mbs);
}

// Counts the annexes' traces of one coded macroblock; `before` is the
// quantiser a decoder held before it.
void CountAnnexUse(H263Encoder& enc, const MacroblockInfo& mb, int col, int row, int before, int after,
                   bool restarted) {
  H263Counts& n = enc.counts;
  if (mb.notCoded) return;
  if (mb.inter) {
    const int x = 32 * col + mb.vectors[0].x, y = 32 * row + mb.vectors[0].y;  // half pels
    if (x < 0 || y < 0 || x + 32 > 2 * enc.codedWidth || y + 32 > 2 * enc.codedHeight) ++n.outsideVectors;
  }
  if (enc.modifiedQuant) {
    if (kChromaQuant[mb.quant] != mb.quant) ++n.chromaQuant;
    if (!restarted && after != before && after != kModifiedDquant[0][before] && after != kModifiedDquant[1][before])
      ++n.sixBitDquant;
  }
}

void SelectRefresh(H263Encoder& enc) {
  IntraRefreshSetup setup;
  setup.mbsPerRow = enc.mbsPerRow;
  setup.mbRows = enc.mbRows;
  setup.refreshMbs = enc.intraRefreshMbs;
  setup.cyclic = enc.cyclicRefresh;
  setup.ageWeight = enc.cyclicPeriod;
  setup.scores = enc.refreshScores;
  setup.indices = enc.refreshIndices;
  AdaptiveIntraRefresh(enc.mbs, enc.rc.bitsPerFrame, setup, enc.current->lumaOrigin(), enc.current->lumaStride());
}

}  // namespace

VideoEncoderResult EncodePicture(H263Encoder& enc) {
  RateControlState& rc = enc.rc;
  BitWriter& hw = enc.writer.main();
  const int64_t capacityBits = int64_t{hw.capacity} * 8;
  const uint32_t frameStart = enc.writer.FrameBits();

  if (enc.codingType == 1) {
    EstimateMotion(enc);
    if (enc.sceneChangeDetection && DetectSceneChange(rc, enc.mbs, enc.complexity)) enc.codingType = 0;
  }
  const bool intra = enc.codingType == 0;

  ApplyRateChange(rc);
  if (intra) {
    if (enc.videoTelephony) rc.windowIntraCount += 1;
    ComputeMbActivities(enc.current->lumaOrigin(), enc.current->lumaStride(), enc.mbsPerRow, enc.mbRows, enc.mbs);
    if (enc.intraRefresh || enc.cyclicRefresh)
      for (int i = 0; i < enc.mbCount; ++i) enc.mbs[i].refreshAge = 0;
  } else if (enc.intraRefresh || enc.cyclicRefresh) {
    SelectRefresh(enc);
  }
  SetFrameActivity(rc, enc.mbs);
  const int pictureQp = PictureQp(enc, intra);

  const uint32_t headerStart = enc.writer.FrameBits();
  WriteH263PictureHeader(enc, hw, pictureQp);
  rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - headerStart);
  if (enc.rcMode == 1) rc.rangeFrameTarget = rc.frameTarget;
  if (hw.overflow) return Overflow(enc);

  int runningQp = pictureQp;
  int packet = 0;
  int gobNumber = 0;
  for (int row = 0; row < enc.mbRows; ++row) {
    if (row > 0) {
      if (row % enc.rowsPerGob == 0) ++gobNumber;
      // Slice-structured pictures carry no GOB headers: a decoder would take
      // them for slice headers.
      if (!enc.slices && enc.gobHeaderInterval > 0 && row % enc.gobHeaderInterval == 0) {
        ++packet;
        const uint32_t before = enc.writer.FrameBits();
        WriteH263GobHeader(enc, hw, gobNumber, pictureQp);
        // A decoder takes GQUANT as its quantiser.
        runningQp = pictureQp;
        rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - before);
        if (hw.overflow) return Overflow(enc);
      }
    }
    MacroblockInfo* rowMbs = enc.mbs + row * enc.mbsPerRow;
    const int rowQp = intra && enc.rcMode != 2 ? ComputeRowQp(rc, rowMbs, runningQp) : pictureQp;
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
      if (adaptMb) mbQp = enc.rcMode == 1 ? UpdateMbQpRanged(rc, mb, runningQp) : UpdateMbQp(rc, mb, runningQp, pictureQp);
      mb.quant = static_cast<uint16_t>(mbQp);
      mb.packet = static_cast<int16_t>(packet);
      H263MbBits bits;
      const int before = runningQp;
      if (mb.inter) {
        int32_t sad[6];
        CompensateMacroblock(enc.motion.dsp, *enc.reference, *enc.current, 16 * col, 16 * row, mb, enc.blocks, sad);
        bits = EncodeH263InterMb(enc, index, sad, &runningQp, &packet);
      } else {
        LoadIntraMacroblock(*enc.current, col, row, enc.blocks);
        bits = EncodeH263IntraMb(enc, index, &runningQp, &packet);
      }
      enc.decoderQuant[index] = static_cast<uint8_t>(runningQp);
      CountAnnexUse(enc, mb, col, row, before, runningQp, bits.restart > 0);
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

  AlignWithZeros(hw);
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
  RecordPacket(enc);
  if (enc.packetCount > enc.counts.maxPackets) enc.counts.maxPackets = enc.packetCount;
  enc.writer.Control(kControlResetCounts);
  enc.lastPacketStart = 0;
  if (!intra) {
    enc.intraGobsOn = false;
    enc.intraMbsOn = false;
  }
  return VENC_OK;
}

}  // namespace venc
