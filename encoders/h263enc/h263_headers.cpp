// Picture, GOB and slice headers of h263enc (ITU-T H.263 5.1, 5.2 and
// Annex K.2).
#include "encoders/h263enc/h263_encoder.h"

namespace venc {
namespace {

// Slice headers carry SEPB2 from the 4CIF macroblock count on, as decoders
// read it.
constexpr int kSepb2MinMbs = 1584;

void PutFirstSliceBits(H263Encoder& enc, BitWriter& w) {
  PutBits(w, 1, 1);  // SEPB1
  const int bits = MbaBits(enc.mbCount);
  if (bits == 0) return;
  PutBits(w, static_cast<uint32_t>(bits), 0);
  PutBits(w, 1, 1);  // SEPB2
}

}  // namespace

int MbaBits(int mbCount) {
  if (mbCount <= 48) return 6;
  if (mbCount <= 99) return 7;
  if (mbCount <= 396) return 9;
  if (mbCount <= 1584) return 11;
  if (mbCount <= 6336) return 13;
  if (mbCount <= 9216) return 14;
  return 0;
}

void WriteH263PictureHeader(H263Encoder& enc, BitWriter& w, int quant) {
  PutPictureStart(w, H263TemporalReference(enc.current->time, enc.timeResolution, enc.frameRate,
                                           enc.temporalReferenceFactor));
  if (!enc.plusPtype) {
    PutBaselinePictureType(w, enc.sourceFormat, enc.codingType, enc.unrestrictedMv, quant);
    return;
  }
  PutBits(w, 3, 7);  // extended PTYPE
  PutBits(w, 3, 1);  // UFEP: OPPTYPE follows
  // OPPTYPE (5.1.4.1): format, custom PCF, then the option bits.
  PutBits(w, 3, static_cast<uint32_t>(enc.sourceFormat));
  PutBits(w, 1, 0);
  PutBits(w, 1, static_cast<uint32_t>(enc.unrestrictedMv));
  PutBits(w, 3, 0);  // arithmetic coding, advanced prediction, advanced INTRA
  PutBits(w, 1, static_cast<uint32_t>(enc.deblocking));
  PutBits(w, 1, static_cast<uint32_t>(enc.slices));
  PutBits(w, 3, 0);  // reference picture selection, independent segments, alternative INTER VLC
  PutBits(w, 1, static_cast<uint32_t>(enc.modifiedQuant));
  PutBits(w, 4, 0b1000);
  // MPPTYPE (5.1.4.2): picture type, no resampling or reduced resolution,
  // rounding type 0, then 0 0 1.
  PutBits(w, 3, static_cast<uint32_t>(enc.codingType));
  PutBits(w, 3, 0);
  PutBits(w, 3, 0b001);
  PutBits(w, 1, 0);  // CPM
  if (enc.sourceFormat == kSourceFormatCustom) {
    // CPFMT (5.1.5): 12:11 pixels, width / 4 - 1, marker, height / 4.
    PutBits(w, 4, 2);
    PutBits(w, 9, static_cast<uint32_t>(enc.width / 4 - 1));
    PutBits(w, 1, 1);
    PutBits(w, 9, static_cast<uint32_t>(enc.height / 4));
  }
  if (enc.unrestrictedMv) PutBits(w, 1, 1);  // UUI: unlimited vectors
  if (enc.slices) PutBits(w, 2, 0);          // SSS: ordered, whole-row slices
  PutBits(w, 5, static_cast<uint32_t>(quant));
  PutBits(w, 1, 0);  // PEI
  if (enc.slices) PutFirstSliceBits(enc, w);
}

void RecordPacket(H263Encoder& enc) {
  uint32_t bits = 0;
  enc.writer.Query(kQueryTotalBits, &bits);
  if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5))
    enc.packetSizes[enc.packetCount++] = (bits - enc.lastPacketStart) / 8;
  enc.lastPacketStart = bits;
}

void WriteH263GobHeader(H263Encoder& enc, BitWriter& w, int gobNumber, int quant) {
  if (gobNumber == 0) return;
  AlignWithZeros(w);
  if (!enc.slices) RecordPacket(enc);
  PutGobHeader(w, gobNumber, enc.gobFrameId.Next(enc.codingType, enc.prevCodingType), quant);
}

void WriteH263SliceHeader(H263Encoder& enc, BitWriter& w, int packet, int quant, int mbIndex) {
  if (packet == 0) return;
  AlignWithZeros(w);
  PutBits(w, 17, 1);  // SSC
  PutBits(w, 1, 1);   // SEPB1
  const int bits = MbaBits(enc.mbCount);
  if (bits > 0) PutBits(w, static_cast<uint32_t>(bits), static_cast<uint32_t>(mbIndex));
  if (enc.mbCount >= kSepb2MinMbs) PutBits(w, 1, 1);  // SEPB2
  PutBits(w, 5, static_cast<uint32_t>(quant));        // SQUANT
  PutBits(w, 1, 1);                                   // SEPB3
  PutBits(w, 2, enc.gobFrameId.Next(enc.codingType, enc.prevCodingType));
}

}  // namespace venc
