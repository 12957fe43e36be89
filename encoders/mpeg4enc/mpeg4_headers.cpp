// Stream, VOP, video packet and short-header headers (ISO/IEC 14496-2 6.2;
// ITU-T H.263 5.1 and 5.2).
#include "encoders/mpeg4enc/mpeg4_encoder.h"

namespace venc {

uint32_t TimeIncrementBits(uint32_t timeResolution) {
  if (timeResolution <= 2) return 1;
  uint32_t bits = 0;
  for (uint32_t v = timeResolution - 1; v != 0; v >>= 1) ++bits;
  return bits;
}

int FcodeFromSearchRange(int range, bool shortHeader) {
  if (shortHeader) return 1;
  int halvings = 0;
  for (int m = range; m > 3; m >>= 1) ++halvings;
  return halvings + 1 > 2 ? halvings - 1 : 1;
}

void WriteVosHeader(BitWriter& w, int level) {
  PutBits(w, 32, 0x000001B0);
  uint32_t indication = 5;
  if (level == 10) {
    indication = 9;
  } else if (level == 0) {
    indication = 8;
  } else if (level >= 1 && level <= 5) {
    indication = static_cast<uint32_t>(level);
  }
  PutBits(w, 8, indication);
}

void WriteVoHeader(BitWriter& w) {
  PutBits(w, 32, 0x000001B5);
  PutBits(w, 1, 0);  // is_visual_object_identifier
  PutBits(w, 4, 1);  // visual_object_type: video
  PutBits(w, 1, 0);  // video_signal_type
  PutMpeg4Stuffing(w);
  PutBits(w, 32, 0x00000100);  // video_object_start_code, object 0
}

void WriteVolHeader(Mpeg4Encoder& enc, BitWriter& w) {
  PutBits(w, 32, 0x00000120);
  PutBits(w, 1, 0);   // random_accessible_vol
  PutBits(w, 8, 1);   // video_object_type_indication: simple object
  PutBits(w, 1, 0);   // is_object_layer_identifier
  PutBits(w, 4, 1);   // aspect_ratio_info: square pixels
  PutBits(w, 1, 1);   // vol_control_parameters
  PutBits(w, 2, 1);   // chroma_format 4:2:0
  PutBits(w, 1, 1);   // low_delay
  PutBits(w, 1, 0);   // vbv_parameters
  PutBits(w, 2, 0);   // video_object_layer_shape: rectangular
  PutBits(w, 1, 1);
  PutBits(w, 16, enc.timeResolution);
  PutBits(w, 1, 1);
  PutBits(w, 1, 0);   // fixed_vop_rate
  PutBits(w, 1, 1);
  PutBits(w, 13, static_cast<uint32_t>(enc.width));
  PutBits(w, 1, 1);
  PutBits(w, 13, static_cast<uint32_t>(enc.height));
  PutBits(w, 1, 1);
  PutBits(w, 1, 0);   // interlaced
  PutBits(w, 1, 1);   // obmc_disable
  PutBits(w, 1, 0);   // sprite_enable
  PutBits(w, 1, 0);   // not_8_bit
  PutBits(w, 1, 0);   // quant_type: H.263 quantisation
  PutBits(w, 1, 1);   // complexity_estimation_disable
  PutBits(w, 1, static_cast<uint32_t>(enc.resyncMarkerDisable));
  PutBits(w, 1, static_cast<uint32_t>(enc.dataPartitioning));
  if (enc.dataPartitioning) PutBits(w, 1, static_cast<uint32_t>(enc.reversibleVlc));
  PutBits(w, 1, 0);   // scalability
  PutMpeg4Stuffing(w);
  enc.timeBase.incrementBits = TimeIncrementBits(enc.timeResolution);
}

void WriteGovHeader(TimeBase& tb, BitWriter& w) {
  const uint32_t s = tb.seconds;
  PutBits(w, 32, 0x000001B3);
  PutBits(w, 5, (s / 3600) % 24);
  PutBits(w, 6, (s / 60) % 60);
  PutBits(w, 1, 1);
  PutBits(w, 6, s % 60);
  PutBits(w, 1, 0);  // closed_gov
  PutBits(w, 1, 0);  // broken_link
  PutMpeg4Stuffing(w);
}

void WriteVopHeader(Mpeg4Encoder& enc, BitWriter& w, int quant) {
  TimeBase& tb = enc.timeBase;
  PutBits(w, 32, 0x000001B6);
  PutBits(w, 2, static_cast<uint32_t>(enc.codingType));
  const uint32_t now = static_cast<uint32_t>(enc.current->time);
  // A time stamp before the last counted second (the caller's clock went
  // back) restarts the count there instead of spanning four billion ticks.
  if (static_cast<int32_t>(now - tb.lastSecond) < 0) tb.lastSecond = now;
  uint32_t d = now - tb.lastSecond;
  tb.moduloMask = 0;
  // One bit a second; a jump longer than the output can hold stops at the
  // overflow, which the frame loop reports.
  while (d >= enc.timeResolution && !w.overflow) {
    tb.seconds += 1;
    PutBits(w, 1, 1);
    tb.lastSecond += enc.timeResolution;
    d = now - tb.lastSecond;
    tb.moduloMask = tb.moduloMask * 2 + 1;
  }
  PutBits(w, 1, 0);
  tb.increment = d;
  PutBits(w, 1, 1);
  PutBits(w, tb.incrementBits, d & ((tb.incrementBits >= 32) ? 0xFFFFFFFFu : ((1u << tb.incrementBits) - 1)));
  PutBits(w, 1, 1);
  PutBits(w, 1, 1);  // vop_coded
  if (enc.codingType == 1) PutBits(w, 1, static_cast<uint32_t>(enc.roundingType));
  PutBits(w, 3, static_cast<uint32_t>(enc.intraDcVlcThr));
  PutBits(w, 5, static_cast<uint32_t>(quant));
  if (enc.codingType == 1) PutBits(w, 3, static_cast<uint32_t>(enc.fcode));
}

void WriteVideoPacketHeader(Mpeg4Encoder& enc, BitWriter& w, int mbNumber, int quant) {
  const TimeBase& tb = enc.timeBase;
  if (enc.codingType == 0) {
    PutBits(w, 17, 1);
  } else {
    PutBits(w, 16 + static_cast<uint32_t>(enc.fcode), 1);
  }
  uint32_t mbBits = 0;
  for (uint32_t v = static_cast<uint32_t>(enc.mbCount - 1); v != 0; v >>= 1) ++mbBits;
  if (mbBits == 0) mbBits = 1;
  PutBits(w, mbBits, static_cast<uint32_t>(mbNumber));
  PutBits(w, 5, static_cast<uint32_t>(quant));
  PutBits(w, 1, static_cast<uint32_t>(enc.headerExtension));
  if (enc.headerExtension) {
    for (uint32_t m = tb.moduloMask; m != 0; m >>= 1) PutBits(w, 1, 1);
    PutBits(w, 1, 0);
    PutBits(w, 1, 1);
    PutBits(w, tb.incrementBits, tb.increment & ((1u << tb.incrementBits) - 1));
    PutBits(w, 1, 1);
    PutBits(w, 2, static_cast<uint32_t>(enc.codingType));
    PutBits(w, 3, static_cast<uint32_t>(enc.intraDcVlcThr));
    if (enc.codingType == 1) PutBits(w, 3, static_cast<uint32_t>(enc.fcode));
  }
}

void WriteShortHeaderPicture(Mpeg4Encoder& enc, BitWriter& w, int quant) {
  PutPictureStart(w, H263TemporalReference(enc.current->time, enc.timeResolution, enc.frameRate,
                                           enc.temporalReferenceFactor));
  PutBaselinePictureType(w, enc.sourceFormat, enc.codingType, 0, quant);
  enc.timeBase.lastSecond = static_cast<uint32_t>(enc.frameCount);
}

void WriteShortHeaderGob(Mpeg4Encoder& enc, BitWriter& w, int gobNumber, int quant) {
  if (gobNumber == 0) return;
  AlignWithZeros(w);
  uint32_t bits = 0;
  enc.writer.Query(kQueryTotalBits, &bits);
  if (enc.packetCount < static_cast<uint32_t>(enc.mbCount + 5)) {
    enc.packetSizes[enc.packetCount] = (bits - enc.lastPacketStart) / 8;
    enc.packetCount += 1;
  }
  enc.lastPacketStart = bits;
  PutGobHeader(w, gobNumber, enc.timeBase.gobFrameId.Next(enc.codingType, enc.prevCodingType), quant);
}

}  // namespace venc
