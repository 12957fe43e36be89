// Inter macroblock coding: transform size chosen by the residual's SAD,
// quantisation, the not-coded decision, the macroblock syntax of MPEG-4
// (plain or data-partitioned, ISO/IEC 14496-2 6.2.6) and short-header mode,
// and reconstruction over the prediction in place.
#include "encoders/common/mv_prediction.h"
#include "encoders/common/vlc_coder.h"
#include "encoders/common/vlc_tables.h"
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {
namespace {

struct InterBlockState {
  int32_t last[6];
  int32_t count[6];
};

// Motion vector difference of the macroblock's vector k against its
// predictor (ISO/IEC 14496-2 7.6.5); the record's packet number is final.
MotionVector VectorDifference(const Mpeg4Encoder& enc, const MacroblockInfo& mb, int k) {
  const int number = static_cast<int>(&mb - enc.mbs);
  const MotionVector p = PredictVector(enc.mbs, mb.fourVectors == 1 ? k : kWholeMacroblock, number, enc.mbsPerRow);
  return MotionVector{static_cast<int16_t>(mb.vectors[k].x - p.x), static_cast<int16_t>(mb.vectors[k].y - p.y)};
}

void WriteInterMbPlain(Mpeg4Encoder& enc, const MacroblockInfo& mb, const InterBlockState& st, int dquant,
                       MbBits& bits) {
  BitWriter& w = enc.writer.main();
  PutBits(w, 1, mb.notCoded ? 1u : 0u);  // COD
  bits.header += 1;
  if (mb.notCoded) return;
  const int mbType = mb.fourVectors ? 2 : (dquant != 0 ? 1 : 0);
  const VlcCode& mcbpc = kMcbpcInterTable[mbType][mb.cbp & 3];
  const VlcCode& cbpy = kCbpyTable[15 - (mb.cbp >> 2)];
  PutBits(w, mcbpc.length, mcbpc.code);
  PutBits(w, cbpy.length, cbpy.code);
  bits.header += mcbpc.length + cbpy.length;
  if (mbType == 1) {
    PutBits(w, 2, DquantCode(dquant));
    bits.header += 2;
  }
  for (int k = 0; k < (mb.fourVectors ? 4 : 1); ++k) {
    const MotionVector d = VectorDifference(enc, mb, k);
    bits.header += PutMvd(w, d.x, d.y, enc.fcode);
  }
  for (int b = 0; b < 6; ++b) {
    if ((mb.cbp >> (5 - b)) & 1)
      bits.texture += PutInterBlock(w, enc.blocks + 64 * b, 0, enc.shortHeader != 0, st.count[b]);
  }
}

void WriteInterMbPartitioned(Mpeg4Encoder& enc, const MacroblockInfo& mb, const InterBlockState& st, int dquant,
                             MbBits& bits) {
  BitWriter& first = enc.writer.main();
  BitWriter& second = enc.writer.first();
  BitWriter& texture = enc.writer.second();
  PutBits(first, 1, mb.notCoded ? 1u : 0u);
  bits.header += 1;
  if (mb.notCoded) return;
  const int mbType = mb.fourVectors ? 2 : (dquant != 0 ? 1 : 0);
  const VlcCode& mcbpc = kMcbpcInterTable[mbType][mb.cbp & 3];
  PutBits(first, mcbpc.length, mcbpc.code);
  bits.header += mcbpc.length;
  for (int k = 0; k < (mb.fourVectors ? 4 : 1); ++k) {
    const MotionVector d = VectorDifference(enc, mb, k);
    bits.header += PutMvd(first, d.x, d.y, enc.fcode);
  }
  const VlcCode& cbpy = kCbpyTable[15 - (mb.cbp >> 2)];
  PutBits(second, cbpy.length, cbpy.code);
  bits.header += cbpy.length;
  if (mbType == 1) {
    PutBits(second, 2, DquantCode(dquant));
    bits.header += 2;
  }
  for (int b = 0; b < 6; ++b) {
    if (!((mb.cbp >> (5 - b)) & 1)) continue;
    const int16_t* blk = enc.blocks + 64 * b;
    bits.texture += enc.reversibleVlc ? PutInterBlockRvlc(texture, blk, st.count[b])
                                      : PutInterBlock(texture, blk, 0, false, st.count[b]);
  }
}

MbBits WriteInterMb(Mpeg4Encoder& enc, const MacroblockInfo& mb, const InterBlockState& st, int* runningQp) {
  MbBits bits;
  const int dquant = mb.notCoded ? 0 : mb.quant - *runningQp;
  if (enc.dataPartitioning) {
    WriteInterMbPartitioned(enc, mb, st, dquant, bits);
  } else {
    WriteInterMbPlain(enc, mb, st, dquant, bits);
  }
  if (!mb.notCoded) *runningQp = mb.quant;
  return bits;
}

}  // namespace

MbBits EncodeInterMb(Mpeg4Encoder& enc, int mbIndex, const int32_t sad[6], int* runningQp, int* packet,
                     uint32_t packetLimit) {
  MacroblockInfo& mb = enc.mbs[mbIndex];
  mb.notCoded = 0;
  mb.firstCoef = 0;
  mb.cbp = 0;
  const int qp = mb.quant;
  const int sh = enc.shortHeader ? 1 : 0;
  const int* thr = enc.textureThresholds;
  const int32_t skip = qp <= 10 ? 128 : qp * thr[0];
  InterBlockState st{};
  int cbp = 0;
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = enc.blocks + 64 * b;
    cbp <<= 1;
    st.last[b] = -1;
    st.count[b] = 0;
    // A chroma residual too small to leave a level gives the kernel's own
    // result, all zeros, without the transform.
    if ((b < 4 && sad[b] <= skip) || (b >= 4 && ResidualQuantisesToZero(sad[b], qp))) {
      for (int i = 0; i < 64; ++i) blk[i] = 0;
      continue;
    }
    FdctQuantFn kernel = enc.fdct.inter[sh];
    if (b < 4) {
      if (sad[b] < qp * thr[1]) {
        kernel = enc.fdct.interDc[sh];
      } else if (sad[b] < qp * thr[2]) {
        kernel = enc.fdct.inter2x2[sh];
      } else if (sad[b] < qp * thr[3]) {
        kernel = enc.fdct.inter4x4[sh];
      }
    }
    kernel(blk, qp, &st.last[b], &st.count[b]);
    if (st.last[b] != -1) cbp |= 1;
  }
  mb.cbp = static_cast<int16_t>(cbp);
  if (cbp == 0) {
    const MotionVector v = mb.vectors[0];
    if (mb.fourVectors == 0 && v.x == 0 && v.y == 0) {
      mb.notCoded = 1;
    } else {
      mb.quant = static_cast<uint16_t>(*runningQp);
    }
  }

  const bool canRestart = !enc.shortHeader && enc.resyncMarkerDisable == 0 && mbIndex != 0;
  const StreamWriter::Position saved = enc.writer.Save();
  const int savedRunningQp = *runningQp;
  mb.packet = static_cast<int16_t>(*packet);
  MbBits bits = WriteInterMb(enc, mb, st, runningQp);
  uint32_t segment = 0;
  if (canRestart) enc.writer.Query(kQuerySegmentBits, &segment);
  if (canRestart && segment + 8 > packetLimit) {
    enc.writer.Restore(saved);
    *runningQp = savedRunningQp;
    const uint32_t before = enc.writer.FrameBits();
    enc.writer.PutPacketStuffing();
    enc.writer.Query(kQuerySegmentBits, &segment);
    if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5)) enc.packetSizes[enc.packetCount++] = segment / 8;
    enc.writer.Control(kControlCloseSegment);
    const int quant = mb.notCoded ? *runningQp : mb.quant;
    *runningQp = quant;
    WriteVideoPacketHeader(enc, enc.writer.main(), mbIndex, quant);
    if (enc.dataPartitioning) PutMotionMarker(enc.writer.first());
    const int restart = static_cast<int>(enc.writer.FrameBits() - before);
    *packet += 1;
    mb.packet = static_cast<int16_t>(*packet);
    bits = WriteInterMb(enc, mb, st, runningQp);
    bits.restart = restart;
  }

  // Reconstruction over the prediction already in the frame.
  if (mb.cbp != 0) {
    const int mbx = mbIndex % enc.mbsPerRow, mby = mbIndex / enc.mbsPerRow;
    EncoderFrame& f = *enc.current;
    const ptrdiff_t ls = f.lumaStride(), cs = f.chromaStride();
    uint8_t* y = f.lumaOrigin() + mby * 16 * ls + mbx * 16;
    uint8_t* dst[6] = {y, y + 8, y + 8 * ls, y + 8 * ls + 8, f.uOrigin() + mby * 8 * cs + mbx * 8,
                       f.vOrigin() + mby * 8 * cs + mbx * 8};
    for (int b = 0; b < 6; ++b) {
      if (!((mb.cbp >> (5 - b)) & 1)) continue;
      int16_t* blk = enc.blocks + 64 * b;
      enc.idct.dequantiseInter(blk, qp, st.count[b]);
      enc.idct.add(blk, st.last[b], dst[b], b < 4 ? ls : cs);
    }
  }
  return bits;
}

}  // namespace venc
