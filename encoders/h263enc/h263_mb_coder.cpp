// The macroblock layer of h263enc (ITU-T H.263 5.3 and 5.4): transform and
// quantisation with the Annex T chroma quantiser and coefficient range,
// reconstruction in place, COD, MCBPC, CBPY, DQUANT, the vector code of
// Table 14 or Annex D, TCOEF events, and the restart of Annex K slices.
#include "encoders/common/encoder_tables.h"
#include "encoders/common/mv_prediction.h"
#include "encoders/common/vlc_coder.h"
#include "encoders/common/vlc_tables.h"
#include "encoders/h263enc/h263_encoder.h"
#include "encoders/h263enc/h263enc_tables.h"

namespace venc {
namespace {

// Annex T: below this quantiser coefficients are not clipped to +-127.
constexpr int kUnclippedBelowQuant = 8;

struct BlockState {
  int32_t last[6];
  int32_t count[6];
};

int BlockQuant(const H263Encoder& enc, int block, int quant) {
  return enc.modifiedQuant && block >= 4 ? kChromaQuant[quant] : quant;
}

// Index of the fdct kernel pair: 0 keeps levels unclipped, 1 clips to +-127.
int ClipIndex(const H263Encoder& enc, int blockQuant) {
  return enc.modifiedQuant && blockQuant < kUnclippedBelowQuant ? 0 : 1;
}

void BlockPointers(H263Encoder& enc, int mbIndex, uint8_t* dst[6], ptrdiff_t* ls, ptrdiff_t* cs) {
  const int mbx = mbIndex % enc.mbsPerRow, mby = mbIndex / enc.mbsPerRow;
  EncoderFrame& f = *enc.current;
  *ls = f.lumaStride();
  *cs = f.chromaStride();
  uint8_t* y = f.lumaOrigin() + mby * 16 * *ls + mbx * 16;
  dst[0] = y;
  dst[1] = y + 8;
  dst[2] = y + 8 * *ls;
  dst[3] = y + 8 * *ls + 8;
  dst[4] = f.uOrigin() + mby * 8 * *cs + mbx * 8;
  dst[5] = f.vOrigin() + mby * 8 * *cs + mbx * 8;
}

// Takes the macroblock back when it would bring the slice within 8 bits of
// the slice length, and starts a new slice at it: alignment, packet record,
// slice header. Returns the restart bits, or -1 when the macroblock stays.
int RestartSliceIfFull(H263Encoder& enc, int mbIndex, const StreamWriter::Position& saved, int* runningQp,
                       int savedRunningQp, int* packet, int quant) {
  if (!enc.slices || mbIndex == 0) return -1;
  uint32_t segment = 0;
  enc.writer.Query(kQuerySegmentBits, &segment);
  if (segment + 8 <= enc.packetSize) return -1;
  enc.writer.Restore(saved);
  *runningQp = savedRunningQp;
  const uint32_t before = enc.writer.FrameBits();
  AlignWithZeros(enc.writer.main());
  RecordPacket(enc);
  enc.writer.Control(kControlCloseSegment);
  *packet += 1;
  enc.mbs[mbIndex].packet = static_cast<int16_t>(*packet);
  WriteH263SliceHeader(enc, enc.writer.main(), *packet, quant, mbIndex);
  *runningQp = quant;
  return static_cast<int>(enc.writer.FrameBits() - before);
}

void WriteIntraMb(H263Encoder& enc, const MacroblockInfo& mb, const int16_t intraDc[6], const int32_t count[6],
                  int* runningQp, H263MbBits& bits) {
  BitWriter& w = enc.writer.main();
  const int quant = mb.quant;
  const bool changed = quant != *runningQp;
  const int cbpc = mb.cbp & 3;
  const VlcCode& mcbpc = enc.codingType == 1 ? kMcbpcInterTable[changed ? 4 : 3][cbpc]
                                             : kMcbpcIntraTable[changed ? 1 : 0][cbpc];
  const VlcCode& cbpy = kCbpyTable[mb.cbp >> 2];
  const uint32_t cod = enc.codingType == 1 ? 1 : 0;
  PutBits(w, cod + mcbpc.length + cbpy.length,
          (uint32_t{mcbpc.code} << cbpy.length) | cbpy.code);  // COD 0, MCBPC, CBPY
  bits.header += static_cast<int>(cod) + mcbpc.length + cbpy.length;
  if (changed) bits.header += PutDquant(w, *runningQp, quant, enc.modifiedQuant != 0);
  *runningQp = quant;
  for (int b = 0; b < 6; ++b) {
    bits.texture += PutShortHeaderIntraDc(w, intraDc[b]);
    if ((mb.cbp >> (5 - b)) & 1)
      bits.texture += PutH263Block(w, enc.blocks + 64 * b, 1, count[b], enc.modifiedQuant != 0);
  }
}

void WriteInterMb(H263Encoder& enc, int mbIndex, const BlockState& st, int* runningQp, H263MbBits& bits) {
  BitWriter& w = enc.writer.main();
  const MacroblockInfo& mb = enc.mbs[mbIndex];
  PutBits(w, 1, mb.notCoded ? 1u : 0u);  // COD
  bits.header += 1;
  if (mb.notCoded) return;
  const bool changed = mb.quant != *runningQp;
  const VlcCode& mcbpc = kMcbpcInterTable[changed ? 1 : 0][mb.cbp & 3];
  const VlcCode& cbpy = kCbpyTable[15 - (mb.cbp >> 2)];
  PutBits(w, mcbpc.length + cbpy.length, (uint32_t{mcbpc.code} << cbpy.length) | cbpy.code);
  bits.header += mcbpc.length + cbpy.length;
  if (changed) bits.header += PutDquant(w, *runningQp, mb.quant, enc.modifiedQuant != 0);
  *runningQp = mb.quant;
  const MotionVector p = PredictH263Vector(enc.mbs, mbIndex, enc.mbsPerRow);
  const int dx = mb.vectors[0].x - p.x, dy = mb.vectors[0].y - p.y;
  if (enc.unrestrictedMv) {
    bits.header += PutAnnexDComponent(w, dx) + PutAnnexDComponent(w, dy);
    // Annex D.2: a difference of (0.5, 0.5) is followed by a 1 so that the
    // two codes cannot start a start code.
    if (dx == 1 && dy == 1) {
      PutBits(w, 1, 1);
      bits.header += 1;
    }
  } else {
    bits.header += PutMvd(w, dx, dy, 1);
  }
  for (int b = 0; b < 6; ++b) {
    if ((mb.cbp >> (5 - b)) & 1)
      bits.texture += PutH263Block(w, enc.blocks + 64 * b, 0, st.count[b], enc.modifiedQuant != 0);
  }
}

}  // namespace

int PutAnnexDComponent(BitWriter& w, int v) {
  if (v == 0) {
    PutBits(w, 1, 1);
    return 1;
  }
  const uint32_t mag = static_cast<uint32_t>(v < 0 ? -v : v);
  int top = 31;
  while (!((mag >> top) & 1)) --top;
  // 0, then (bit, 1) for each bit below the leading one, then the sign, then 0.
  uint32_t code = 0;
  int length = 1;
  for (int i = top - 1; i >= 0; --i) {
    code = (code << 2) | (((mag >> i) & 1) << 1) | 1;
    length += 2;
  }
  code = (code << 2) | (v < 0 ? 0b10u : 0b00u);
  length += 2;
  PutBits(w, static_cast<uint32_t>(length), code);
  return length;
}

int PutDquant(BitWriter& w, int previous, int quant, bool modifiedQuant) {
  if (!modifiedQuant) {
    PutBits(w, 2, DquantCode(quant - previous));
    return 2;
  }
  // Annex T.2: "10" and "11" for the two small steps of the table, any other
  // QUANT as 0 and its 5 bits.
  if (quant == kModifiedDquant[0][previous]) {
    PutBits(w, 2, 0b10);
    return 2;
  }
  if (quant == kModifiedDquant[1][previous]) {
    PutBits(w, 2, 0b11);
    return 2;
  }
  PutBits(w, 6, static_cast<uint32_t>(quant));
  return 6;
}

H263MbBits EncodeH263IntraMb(H263Encoder& enc, int mbIndex, int* runningQp, int* packet) {
  MacroblockInfo& mb = enc.mbs[mbIndex];
  const int quant = mb.quant;
  mb.notCoded = 0;
  mb.acPred = 0;
  mb.firstCoef = 1;
  uint8_t* dst[6];
  ptrdiff_t ls, cs;
  BlockPointers(enc, mbIndex, dst, &ls, &cs);
  int16_t intraDc[6];
  int32_t count[6];
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = enc.blocks + 64 * b;
    int16_t* recon = enc.blocks + 64 * (6 + b);
    const int q = BlockQuant(enc, b, quant);
    int32_t last = -1;
    count[b] = 0;
    (ClipIndex(enc, q) ? enc.fdct.intraShort : enc.fdct.intra)(blk, q, &last, &count[b]);
    // INTRADC (5.4.1): DC / 8, 1 to 254.
    const int dc = blk[0];
    intraDc[b] = static_cast<int16_t>(dc < 8 ? 1 : (dc < 2040 ? dc >> 3 : 254));
    blk[0] = 0;
    DequantiseIntraAc(blk, q, count[b], recon);
    recon[0] = static_cast<int16_t>(64 * intraDc[b]);
    enc.idct.put(recon, last < 0 ? 0 : last, dst[b], b < 4 ? ls : cs);
  }
  mb.cbp = static_cast<int16_t>(CodedBlockPattern(enc.blocks, 1));
  const StreamWriter::Position saved = enc.writer.Save();
  const int savedRunningQp = *runningQp;
  mb.packet = static_cast<int16_t>(*packet);
  H263MbBits bits;
  WriteIntraMb(enc, mb, intraDc, count, runningQp, bits);
  const int restart = RestartSliceIfFull(enc, mbIndex, saved, runningQp, savedRunningQp, packet, quant);
  if (restart < 0) return bits;
  bits = H263MbBits{};
  WriteIntraMb(enc, mb, intraDc, count, runningQp, bits);
  bits.restart = restart;
  return bits;
}

H263MbBits EncodeH263InterMb(H263Encoder& enc, int mbIndex, const int32_t sad[6], int* runningQp, int* packet) {
  MacroblockInfo& mb = enc.mbs[mbIndex];
  mb.notCoded = 0;
  mb.firstCoef = 0;
  const int quant = mb.quant;
  const int* thr = enc.textureThresholds;
  const int32_t skip = quant <= 10 ? 128 : quant * thr[0];
  BlockState st{};
  int cbp = 0;
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = enc.blocks + 64 * b;
    cbp <<= 1;
    st.last[b] = -1;
    if ((b < 4 && sad[b] <= skip) || (b >= 4 && ResidualQuantisesToZero(sad[b], BlockQuant(enc, b, quant)))) {
      for (int i = 0; i < 64; ++i) blk[i] = 0;
      continue;
    }
    const int q = BlockQuant(enc, b, quant);
    const int clip = ClipIndex(enc, q);
    FdctQuantFn kernel = enc.fdct.inter[clip];
    if (b < 4) {
      if (sad[b] < quant * thr[1]) {
        kernel = enc.fdct.interDc[clip];
      } else if (sad[b] < quant * thr[2]) {
        kernel = enc.fdct.inter2x2[clip];
      } else if (sad[b] < quant * thr[3]) {
        kernel = enc.fdct.inter4x4[clip];
      }
    }
    kernel(blk, q, &st.last[b], &st.count[b]);
    if (st.last[b] != -1) cbp |= 1;
  }
  mb.cbp = static_cast<int16_t>(cbp);
  if (cbp == 0) {
    const MotionVector v = mb.vectors[0];
    if (v.x == 0 && v.y == 0) {
      mb.notCoded = 1;
    } else {
      mb.quant = static_cast<uint16_t>(*runningQp);
    }
  }

  const StreamWriter::Position saved = enc.writer.Save();
  const int savedRunningQp = *runningQp;
  mb.packet = static_cast<int16_t>(*packet);
  H263MbBits bits;
  WriteInterMb(enc, mbIndex, st, runningQp, bits);
  const int sliceQuant = mb.notCoded ? savedRunningQp : mb.quant;
  const int restart = RestartSliceIfFull(enc, mbIndex, saved, runningQp, savedRunningQp, packet, sliceQuant);
  if (restart >= 0) {
    bits = H263MbBits{};
    WriteInterMb(enc, mbIndex, st, runningQp, bits);
    bits.restart = restart;
  }

  // Reconstruction over the prediction already in the frame.
  if (mb.cbp != 0) {
    uint8_t* dst[6];
    ptrdiff_t ls, cs;
    BlockPointers(enc, mbIndex, dst, &ls, &cs);
    for (int b = 0; b < 6; ++b) {
      if (!((mb.cbp >> (5 - b)) & 1)) continue;
      int16_t* blk = enc.blocks + 64 * b;
      enc.idct.dequantiseInter(blk, BlockQuant(enc, b, quant), st.count[b]);
      enc.idct.add(blk, st.last[b], dst[b], b < 4 ? ls : cs);
    }
  }
  return bits;
}

}  // namespace venc
