// Intra macroblock coding: transform, quantisation, DC prediction
// (ISO/IEC 14496-2 7.4.3), reconstruction in place and the macroblock syntax
// of MPEG-4 (plain or data-partitioned, 6.2.6) and short-header mode.
#include <cstring>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/vlc_coder.h"
#include "encoders/common/vlc_tables.h"
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {
namespace {

constexpr int kNeutralDc = 1024;

struct IntraBlockState {
  int16_t dcLevel[6];   // quantised DC before prediction
  int16_t dcCoded[6];   // coded DC (after prediction)
  int32_t acCount[6];
};

inline int DcScaler(int block, int qp) { return block < 4 ? kDcScalerLuma[qp] : kDcScalerChroma[qp]; }

// Rounded F / s as the quantiser computes it.
inline int DivideByScaler(int f, int s) { return ((f + (s >> 1) + 1) * (65535 / s)) >> 16; }

bool NeighbourUsable(const Mpeg4Encoder& enc, int mbIndex, int neighbour, bool inside) {
  if (!inside) return false;
  const MacroblockInfo& a = enc.mbs[neighbour];
  return a.inter == 0 && a.packet == enc.mbs[mbIndex].packet;
}

// DC prediction of the six blocks; fills the coded DC values and the current
// DC row. `levels` are the quantised DC levels.
void PredictIntraDc(Mpeg4Encoder& enc, int mbIndex, int qp, IntraBlockState& st) {
  const int mbx = mbIndex % enc.mbsPerRow;
  const int mby = mbIndex / enc.mbsPerRow;
  int16_t* cur = enc.dcRows[0] + 6 * mbx;
  const int16_t* left = mbx > 0 ? enc.dcRows[0] + 6 * (mbx - 1) : nullptr;
  const int16_t* above = enc.dcRows[1] + 6 * mbx;
  const int16_t* aboveLeft = mbx > 0 ? enc.dcRows[1] + 6 * (mbx - 1) : nullptr;
  const bool hasLeft = NeighbourUsable(enc, mbIndex, mbIndex - 1, mbx > 0);
  const bool hasAbove = NeighbourUsable(enc, mbIndex, mbIndex - enc.mbsPerRow, mby > 0);
  const bool hasAboveLeft = NeighbourUsable(enc, mbIndex, mbIndex - enc.mbsPerRow - 1, mbx > 0 && mby > 0);
  for (int b = 0; b < 6; ++b) cur[b] = static_cast<int16_t>(st.dcLevel[b] * DcScaler(b, qp));
  auto L = [&](int b) { return hasLeft ? left[b] : kNeutralDc; };
  auto A = [&](int b) { return hasAbove ? above[b] : kNeutralDc; };
  auto AL = [&](int b) { return hasAboveLeft ? aboveLeft[b] : kNeutralDc; };
  for (int b = 0; b < 6; ++b) {
    int fa, fb, fc;
    switch (b) {
      case 0: fa = L(1); fb = AL(3); fc = A(2); break;
      case 1: fa = cur[0]; fb = A(2); fc = A(3); break;
      case 2: fa = L(3); fb = L(1); fc = cur[0]; break;
      case 3: fa = cur[2]; fb = cur[0]; fc = cur[1]; break;
      default: fa = L(b); fb = AL(b); fc = A(b); break;
    }
    const int da = fa - fb < 0 ? fb - fa : fa - fb;
    const int dc = fb - fc < 0 ? fc - fb : fb - fc;
    const int fp = da < dc ? fc : fa;
    st.dcCoded[b] = static_cast<int16_t>(st.dcLevel[b] - DivideByScaler(fp, DcScaler(b, qp)));
  }
}

// Events of an intra block as coded: with the DC among the AC coefficients
// its coded value sits at position 0 and counts.
int CodedCount(const int16_t* blk, const IntraBlockState& st, int b, int firstCoef) {
  return st.acCount[b] + ((firstCoef == 0 && blk[0] != 0) ? 1 : 0);
}

void PutMcbpc(Mpeg4Encoder& enc, BitWriter& w, int mbType, int cbpc, MbBits& bits) {
  if (enc.codingType == 1) {
    PutBits(w, 1, 0);  // COD
    bits.header += 1;
    const VlcCode& c = kMcbpcInterTable[mbType][cbpc];
    PutBits(w, c.length, c.code);
    bits.header += c.length;
  } else {
    const VlcCode& c = kMcbpcIntraTable[mbType - 3][cbpc];
    PutBits(w, c.length, c.code);
    bits.header += c.length;
  }
}

void WriteIntraMbPlain(Mpeg4Encoder& enc, const MacroblockInfo& mb, const IntraBlockState& st, int dquant,
                       MbBits& bits) {
  BitWriter& w = enc.writer.main();
  const int16_t* blocks = enc.blocks;
  PutMcbpc(enc, w, dquant != 0 ? 4 : 3, mb.cbp & 3, bits);
  if (!enc.shortHeader) {
    PutBits(w, 1, mb.acPred);
    bits.header += 1;
  }
  const VlcCode& cbpy = kCbpyTable[mb.cbp >> 2];
  PutBits(w, cbpy.length, cbpy.code);
  bits.header += cbpy.length;
  if (dquant != 0) {
    PutBits(w, 2, DquantCode(dquant));
    bits.header += 2;
  }
  for (int b = 0; b < 6; ++b) {
    const int16_t* blk = blocks + 64 * b;
    const bool coded = (mb.cbp >> (5 - b)) & 1;
    if (enc.shortHeader) {
      bits.texture += PutShortHeaderIntraDc(w, st.dcLevel[b]);
      if (coded) bits.texture += PutInterBlock(w, blk, 1, true, st.acCount[b]);
      continue;
    }
    if (mb.firstCoef) bits.texture += PutIntraDc(w, st.dcCoded[b], b);
    if (coded) bits.texture += PutIntraBlock(w, blk, mb.firstCoef, kZigzagScan, CodedCount(blk, st, b, mb.firstCoef));
  }
}

void WriteIntraMbPartitioned(Mpeg4Encoder& enc, const MacroblockInfo& mb, const IntraBlockState& st, int dquant,
                             MbBits& bits) {
  BitWriter& first = enc.writer.main();
  BitWriter& second = enc.writer.first();
  BitWriter& texture = enc.writer.second();
  const int16_t* blocks = enc.blocks;
  PutMcbpc(enc, first, dquant != 0 ? 4 : 3, mb.cbp & 3, bits);
  // I-VOP: DQUANT and the DC values precede the dc_marker; P-VOP: they follow
  // the motion_marker with ac_pred_flag and CBPY.
  BitWriter& dcWriter = enc.codingType == 0 ? first : second;
  if (enc.codingType == 0 && dquant != 0) {
    PutBits(first, 2, DquantCode(dquant));
    bits.header += 2;
  }
  if (enc.codingType == 0) {
    for (int b = 0; b < 6 && mb.firstCoef; ++b) bits.texture += PutIntraDc(dcWriter, st.dcCoded[b], b);
  }
  PutBits(second, 1, mb.acPred);
  const VlcCode& cbpy = kCbpyTable[mb.cbp >> 2];
  PutBits(second, cbpy.length, cbpy.code);
  bits.header += 1 + cbpy.length;
  if (enc.codingType == 1) {
    if (dquant != 0) {
      PutBits(second, 2, DquantCode(dquant));
      bits.header += 2;
    }
    for (int b = 0; b < 6 && mb.firstCoef; ++b) bits.texture += PutIntraDc(dcWriter, st.dcCoded[b], b);
  }
  for (int b = 0; b < 6; ++b) {
    if (!((mb.cbp >> (5 - b)) & 1)) continue;
    const int16_t* blk = blocks + 64 * b;
    if (enc.reversibleVlc) {
      bits.texture += PutIntraBlockRvlc(texture, blk, mb.firstCoef, kZigzagScan);
    } else {
      bits.texture += PutIntraBlock(texture, blk, mb.firstCoef, kZigzagScan, CodedCount(blk, st, b, mb.firstCoef));
    }
  }
}

// Prediction, first-coefficient choice and pattern, then the syntax.
MbBits WriteIntraMb(Mpeg4Encoder& enc, int mbIndex, IntraBlockState& st, int* runningQp) {
  MacroblockInfo& mb = enc.mbs[mbIndex];
  MbBits bits;
  const int qp = mb.quant;
  if (!enc.shortHeader) {
    PredictIntraDc(enc, mbIndex, qp, st);
    mb.firstCoef = *runningQp < kIntraDcVlcThreshold[enc.intraDcVlcThr] ? 1 : 0;
    for (int b = 0; b < 6; ++b) enc.blocks[64 * b] = mb.firstCoef ? 0 : st.dcCoded[b];
  } else {
    mb.firstCoef = 1;
    for (int b = 0; b < 6; ++b) enc.blocks[64 * b] = 0;
  }
  mb.cbp = static_cast<int16_t>(CodedBlockPattern(enc.blocks, mb.firstCoef));
  const int dquant = qp - *runningQp;
  if (enc.dataPartitioning) {
    WriteIntraMbPartitioned(enc, mb, st, dquant, bits);
  } else {
    WriteIntraMbPlain(enc, mb, st, dquant, bits);
  }
  *runningQp = qp;
  return bits;
}

}  // namespace

MbBits EncodeIntraMb(Mpeg4Encoder& enc, int mbIndex, int* runningQp, int* packet, uint32_t packetLimit) {
  MacroblockInfo& mb = enc.mbs[mbIndex];
  const int qp = mb.quant;
  mb.notCoded = 0;
  mb.acPred = 0;
  IntraBlockState st{};
  const int mbx = mbIndex % enc.mbsPerRow, mby = mbIndex / enc.mbsPerRow;
  EncoderFrame& f = *enc.current;
  const ptrdiff_t ls = f.lumaStride(), cs = f.chromaStride();
  uint8_t* y = f.lumaOrigin() + mby * 16 * ls + mbx * 16;
  uint8_t* dst[6] = {y, y + 8, y + 8 * ls, y + 8 * ls + 8, f.uOrigin() + mby * 8 * cs + mbx * 8,
                     f.vOrigin() + mby * 8 * cs + mbx * 8};
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = enc.blocks + 64 * b;
    int32_t last = -1, count = 0;
    int16_t* recon = enc.blocks + 64 * (6 + b);
    if (enc.shortHeader) {
      enc.fdct.intraShort(blk, qp, &last, &count);
      const int dc = blk[0];
      const int intraDc = dc < 8 ? 1 : (dc < 2040 ? dc >> 3 : 254);
      st.dcLevel[b] = static_cast<int16_t>(intraDc);
      DequantiseIntraAc(blk, qp, count, recon);
      recon[0] = static_cast<int16_t>(64 * intraDc);
    } else {
      enc.fdct.intra(blk, qp, &last, &count);
      const int s = DcScaler(b, qp);
      const int level = DivideByScaler(blk[0], s);
      st.dcLevel[b] = static_cast<int16_t>(level);
      DequantiseIntraAc(blk, qp, count, recon);
      recon[0] = static_cast<int16_t>(8 * level * s);
    }
    st.acCount[b] = count;
    if (last < 0) last = 0;
    enc.idct.put(recon, last, dst[b], b < 4 ? ls : cs);
  }

  const bool canRestart = !enc.shortHeader && enc.resyncMarkerDisable == 0 && mbIndex != 0;
  const StreamWriter::Position saved = enc.writer.Save();
  const IntraBlockState savedState = st;
  mb.packet = static_cast<int16_t>(*packet);
  const int savedRunningQp = *runningQp;
  MbBits bits = WriteIntraMb(enc, mbIndex, st, runningQp);
  if (!canRestart) return bits;
  uint32_t segment = 0;
  enc.writer.Query(kQuerySegmentBits, &segment);
  if (segment + 8 <= packetLimit) return bits;

  // Take the macroblock back and start a new video packet with it.
  enc.writer.Restore(saved);
  *runningQp = savedRunningQp;
  const uint32_t before = enc.writer.FrameBits();
  enc.writer.PutPacketStuffing();
  enc.writer.Query(kQuerySegmentBits, &segment);
  if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5)) enc.packetSizes[enc.packetCount++] = segment / 8;
  enc.writer.Control(kControlCloseSegment);
  *runningQp = qp;
  WriteVideoPacketHeader(enc, enc.writer.main(), mbIndex, qp);
  if (enc.dataPartitioning) {
    if (enc.codingType == 0) {
      PutDcMarker(enc.writer.first());
    } else {
      PutMotionMarker(enc.writer.first());
    }
  }
  // Stuffing, packet header and marker; the merge of the partitions moves
  // bits between writers without changing the total.
  const int restart = static_cast<int>(enc.writer.FrameBits() - before);
  *packet += 1;
  mb.packet = static_cast<int16_t>(*packet);
  st = savedState;
  bits = WriteIntraMb(enc, mbIndex, st, runningQp);
  bits.restart = restart;
  return bits;
}

}  // namespace venc
