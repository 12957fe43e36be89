// The picture loop of h263enc: motion stage and scene change of predicted
// pictures, picture quantiser, picture header, the macroblock rows with GOB
// headers or slices, the overflow guard and the end of the picture.
#include "encoders/common/motion_comp.h"
#include "encoders/common/motion_search.h"
#include "encoders/h263enc/h263_encoder.h"
#include "encoders/h263enc/h263enc_tables.h"

namespace venc {
namespace {

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

}  // namespace

VideoEncoderResult EncodePicture(H263Encoder& enc) {
  RateControlState& rc = enc.rc;
  BitWriter& hw = enc.writer.main();
  const int64_t capacityBits = int64_t{hw.capacity} * 8;
  const uint32_t frameStart = enc.writer.FrameBits();

  if (enc.codingType == 1) {
    // Only Annex D lets vectors point outside the picture.
    EstimateMotion(enc, enc.unrestrictedMv != 0);
    if (enc.sceneChangeDetection && DetectSceneChange(rc, enc.mbs, enc.complexity)) enc.codingType = 0;
  }
  const bool intra = enc.codingType == 0;
  const int pictureQp = StartPictureRate(enc, intra);

  const uint32_t headerStart = enc.writer.FrameBits();
  WriteH263PictureHeader(enc, hw, pictureQp);
  rc.frameTarget -= static_cast<int32_t>(enc.writer.FrameBits() - headerStart);
  if (enc.rcMode == 1) rc.rangeFrameTarget = rc.frameTarget;
  if (hw.overflow) return OverflowResult(enc);

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
        if (hw.overflow) return OverflowResult(enc);
      }
    }
    MacroblockInfo* rowMbs = enc.mbs + row * enc.mbsPerRow;
    // Intra rows take their quantiser from the row model, except under the
    // activity controller (rcMode 2), which gives an intra picture no budget
    // to share among its rows: they keep the picture quantiser, and the row
    // model is left as it is.
    const bool rowModel = intra && enc.rcMode != 2;
    const int rowQp = rowModel ? ComputeRowQp(rc, rowMbs, runningQp) : pictureQp;
    int32_t rowBits = 0;
    for (int col = 0; col < enc.mbsPerRow; ++col) {
      const int index = row * enc.mbsPerRow + col;
      MacroblockInfo& mb = enc.mbs[index];
      bool adaptMb = false;
      if (!StartMacroblock(enc, mb, intra, ForcedIntra(enc, true, gobNumber, index), capacityBits, runningQp, rowQp,
                           pictureQp, packet, &adaptMb))
        return OverflowResult(enc);
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
      BookMacroblockBits(enc, mb, bits.header, bits.texture, bits.header + bits.texture + bits.restart, intra, adaptMb,
                         &rowBits);
    }
    if (enc.writer.overflow()) return OverflowResult(enc);
    if (rowModel) UpdateRowModel(rc, rowQp, rowBits);
  }

  AlignWithZeros(hw);
  if (enc.writer.overflow()) return OverflowResult(enc);
  EndPictureRate(enc, static_cast<int32_t>(enc.writer.FrameBits() - frameStart), intra);
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
