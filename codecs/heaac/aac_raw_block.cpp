// raw_data_block and individual channel stream parsing, ISO/IEC 14496-3
// 4.4.2 and 4.5.2, limited to one- and two-channel LC and LTP streams.
#include <algorithm>
#include <cstring>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_huffman.h"
#include "codecs/heaac/aac_tables.h"

namespace heaac {
namespace {

enum ElementId { kSce = 0, kCpe = 1, kCce = 2, kLfe = 3, kDse = 4, kPce = 5, kFil = 6, kEnd = 7 };
enum ExtensionType { kExtDynamicRange = 11, kExtSbrData = 13, kExtSbrDataCrc = 14 };

int ReadLtpData(AacBitReader* r, IcsInfo* ics, const IcsInfo& window) {
  LtpData& ltp = ics->ltp;
  ltp.lag = static_cast<uint16_t>(AacGetBits(r, 11));
  ltp.coefIndex = static_cast<uint8_t>(AacGetBits(r, 3));
  std::memset(ltp.longUsed, 0, sizeof(ltp.longUsed));
  if (window.windowSequence == kEightShort) {
    for (int w = 0; w < 8; ++w) {
      ltp.shortUsed[w] = static_cast<uint8_t>(AacGetBits(r, 1));
      ltp.shortLagPresent[w] = 0;
      ltp.shortLag[w] = 0;
      if (ltp.shortUsed[w]) {
        ltp.shortLagPresent[w] = static_cast<uint8_t>(AacGetBits(r, 1));
        if (ltp.shortLagPresent[w]) ltp.shortLag[w] = static_cast<uint8_t>(AacGetBits(r, 4));
      }
    }
  } else {
    const int n = window.maxSfb < 40 ? window.maxSfb : 40;
    for (int b = 0; b < n; ++b) ltp.longUsed[b] = static_cast<uint8_t>(AacGetBits(r, 1));
  }
  return 0;
}

// ics_info (4.4.2.1). `second` receives the second channel's LTP data of a
// common window.
int ReadIcsInfo(AacDecoderState* d, IcsInfo* ics, IcsInfo* second) {
  AacBitReader* r = d->reader;
  ics->reservedBit = static_cast<uint8_t>(AacGetBits(r, 1));
  ics->windowSequence = static_cast<uint8_t>(AacGetBits(r, 2));
  ics->windowShape = static_cast<uint8_t>(AacGetBits(r, 1));
  // A stale LTP flag must never survive into a frame that carries none.
  ics->ltp.present = 0;
  if (second) second->ltp.present = 0;
  const int rate = d->rateIndex;
  if (ics->windowSequence == kEightShort) {
    ics->maxSfb = static_cast<uint8_t>(AacGetBits(r, 4));
    ics->grouping = static_cast<uint8_t>(AacGetBits(r, 7));
    ics->numSwb = kNumSwbShort[rate];
    ics->swbOffset = kSwbOffsetShort[rate];
    if (ics->maxSfb > ics->numSwb) return -1;
    ics->numGroups = 1;
    ics->groupLen[0] = 1;
    for (int bit = 6; bit >= 0; --bit) {
      if ((ics->grouping >> bit) & 1) {
        ics->groupLen[ics->numGroups - 1]++;
      } else {
        ics->groupLen[ics->numGroups++] = 1;
      }
    }
  } else {
    ics->maxSfb = static_cast<uint8_t>(AacGetBits(r, 6));
    const int predictor = static_cast<int>(AacGetBits(r, 1));
    ics->numSwb = kNumSwbLong[rate];
    ics->swbOffset = kSwbOffsetLong[rate];
    if (ics->maxSfb > ics->numSwb) return -1;
    ics->numGroups = 1;
    ics->groupLen[0] = 1;
    if (predictor) {
      if (d->pce->objectType != 3) return -1;
      ics->ltp.present = static_cast<uint8_t>(AacGetBits(r, 1));
      if (ics->ltp.present) ReadLtpData(r, ics, *ics);
      if (second) {
        second->ltp.present = static_cast<uint8_t>(AacGetBits(r, 1));
        if (second->ltp.present) ReadLtpData(r, second, *ics);
      }
    }
  }
  return 0;
}

void CopyWindow(IcsInfo* dst, const IcsInfo& src) {
  dst->windowSequence = src.windowSequence;
  dst->windowShape = src.windowShape;
  dst->maxSfb = src.maxSfb;
  dst->grouping = src.grouping;
  dst->numGroups = src.numGroups;
  std::memcpy(dst->groupLen, src.groupLen, sizeof(src.groupLen));
  dst->numSwb = src.numSwb;
  dst->swbOffset = src.swbOffset;
}

int ReadSectionData(AacBitReader* r, IcsInfo* ics) {
  const bool isShort = ics->windowSequence == kEightShort;
  const int lenBits = isShort ? 3 : 5;
  const uint32_t escape = isShort ? 7 : 31;
  for (int g = 0; g < ics->numGroups; ++g) {
    uint8_t* cb = ics->codebook + g * ics->numSwb;
    int band = 0;
    while (band < ics->maxSfb) {
      if (AacReaderOverrun(r)) return -1;
      const uint32_t book = AacGetBits(r, 4);
      if (book == 12) return -1;  // reserved
      int len = 0;
      uint32_t piece;
      do {
        piece = AacGetBits(r, lenBits);
        len += static_cast<int>(piece);
        if (AacReaderOverrun(r)) return -1;
      } while (piece == escape);
      if (band + len > ics->maxSfb) return -1;
      for (int k = 0; k < len; ++k) cb[band++] = static_cast<uint8_t>(book);
    }
    for (; band < ics->numSwb; ++band) cb[band] = kZeroHcb;
  }
  return 0;
}

int ReadScaleFactors(AacBitReader* reader, IcsInfo* ics) {
  // The reader's state held locally over the loop (the stores to ics could
  // alias its fields), and the code table fetched once.
  AacBitReader local = *reader;
  AacBitReader* r = &local;
  const uint32_t* table = AacScaleFactorTable();
  int sf = ics->globalGain;
  int intensity = 0;
  int noise = ics->globalGain - 346;
  bool firstNoise = true;
  for (int g = 0; g < ics->numGroups; ++g) {
    for (int b = 0; b < ics->numSwb; ++b) {
      const int i = g * ics->numSwb + b;
      const int book = ics->codebook[i];
      if (book == kZeroHcb) {
        ics->scaleFactor[i] = 0;
        continue;
      }
      if (AacReaderOverrun(r)) {
        *reader = local;
        return -1;
      }
      if (book == kNoiseHcb) {
        if (firstNoise) {
          noise += static_cast<int>(AacGetBits(r, 9));
          firstNoise = false;
        } else {
          noise += AacDecodeCode(r, table) - 60;
        }
        ics->scaleFactor[i] = static_cast<int16_t>(noise);
      } else if (book == kIntensityHcb || book == kIntensityHcb2) {
        intensity += AacDecodeCode(r, table) - 60;
        ics->scaleFactor[i] = static_cast<int16_t>(intensity);
      } else {
        sf += AacDecodeCode(r, table) - 60;
        ics->scaleFactor[i] = static_cast<int16_t>(sf);
      }
    }
  }
  *reader = local;
  return 0;
}

int ReadTnsData(AacBitReader* r, IcsInfo* ics) {
  TnsData& t = ics->tns;
  const bool isShort = ics->windowSequence == kEightShort;
  const int windows = isShort ? 8 : 1;
  for (int w = 0; w < windows; ++w) {
    t.nFilt[w] = static_cast<uint8_t>(AacGetBits(r, isShort ? 1 : 2));
    if (t.nFilt[w] == 0) continue;
    t.coefRes[w] = static_cast<uint8_t>(AacGetBits(r, 1));
    for (int f = 0; f < t.nFilt[w]; ++f) {
      t.length[w][f] = static_cast<uint8_t>(AacGetBits(r, isShort ? 4 : 6));
      t.order[w][f] = static_cast<uint8_t>(AacGetBits(r, isShort ? 3 : 5));
      if (t.order[w][f] == 0) continue;
      t.direction[w][f] = static_cast<uint8_t>(AacGetBits(r, 1));
      t.compress[w][f] = static_cast<uint8_t>(AacGetBits(r, 1));
      const int bits = t.coefRes[w] + 3 - t.compress[w][f];
      for (int i = 0; i < t.order[w][f]; ++i) t.coef[w][f][i] = static_cast<uint8_t>(AacGetBits(r, bits));
    }
  }
  return 0;
}

int ReadSpectralData(AacBitReader* r, IcsInfo* ics, int32_t* spec) {
  std::memset(spec, 0, sizeof(int32_t) * kFrameLength);
  const uint16_t* off = ics->swbOffset;
  int groupStart = 0;
  for (int g = 0; g < ics->numGroups; ++g) {
    const int glen = ics->groupLen[g];
    for (int b = 0; b < ics->maxSfb; ++b) {
      const int book = ics->codebook[g * ics->numSwb + b];
      const int start = groupStart + glen * off[b];
      const int width = glen * (off[b + 1] - off[b]);
      if (book == kNoiseHcb) ics->noise = 1;
      if (book < 1 || book > 11) continue;
      uint32_t peak = 0;
      if (!AacDecodeSpectralBand(r, AacSpectralDecoder(book), spec + start, width, &peak)) return -1;
      ics->bandPeak[g * ics->numSwb + b] = static_cast<uint16_t>(peak);
    }
    groupStart += glen * 128;
  }
  return AacReaderOverrun(r) ? -1 : 0;
}

// individual_channel_stream (4.4.2.7) after global_gain and ics_info.
int DecodeIndividualChannelStream(AacDecoderState* d, IcsInfo* ics, int32_t* spec) {
  AacBitReader* r = d->reader;
  ics->noise = 0;
  if (ReadSectionData(r, ics) < 0) return -1;
  if (ReadScaleFactors(r, ics) < 0) return -1;
  ics->pulsePresent = static_cast<uint8_t>(AacGetBits(r, 1));
  if (ics->pulsePresent) {
    ics->numPulse = static_cast<uint8_t>(AacGetBits(r, 2) + 1);
    ics->pulseStartSfb = static_cast<uint8_t>(AacGetBits(r, 6));
    if (ics->pulseStartSfb >= ics->numSwb) return -1;
    int k = ics->swbOffset[ics->pulseStartSfb];
    for (int i = 0; i < ics->numPulse; ++i) {
      ics->pulseOffset[i] = static_cast<uint8_t>(AacGetBits(r, 5));
      ics->pulseAmp[i] = static_cast<uint8_t>(AacGetBits(r, 4));
      k += ics->pulseOffset[i];
    }
    if (k >= kFrameLength) return -1;
  }
  ics->tns.present = static_cast<uint8_t>(AacGetBits(r, 1));
  if (ics->tns.present) ReadTnsData(r, ics);
  if (AacGetBits(r, 1)) return -1;  // gain_control_data (SSR only)
  if (ReadSpectralData(r, ics, spec) < 0) return -1;
  if (d->probe) return 0;
  if (ics->pulsePresent) ApplyPulses(*ics, spec);
  return 0;
}

// Inverse quantisation and window order of a parsed channel, with the extra
// fractional bits chosen for its element. A channel with long-term
// prediction keeps the plain format: the prediction it adds can be far
// louder than the residual that the bands carry.
void ReconstructChannel(AacDecoderState* d, IcsInfo* ics, int32_t* spec, int extraBits) {
  ics->extraBits = static_cast<uint8_t>(extraBits);
  InverseQuantize(d->dsp, *ics, spec);
  if (ics->windowSequence == kEightShort) RegroupShortWindows(*ics, spec, d->spectral + kRowOffset);
}

void RecordChannel(AacDecoderState* d, int c, const IcsInfo& ics, int kind) {
  ChannelFrame& f = d->frame[c];
  f.windowSequence = ics.windowSequence;
  f.windowShape = ics.windowShape;
  f.prevWindowShape = d->prevWindowShape[c];
  f.extraBits = ics.extraBits;
  SbrFrameData& sbr = d->sbrFrame[c];
  sbr.channel = static_cast<uint8_t>(c);
  sbr.elementKind = static_cast<uint8_t>(kind);
  sbr.valid = 0;
}

// LTP then TNS for one channel, in the order of ISO/IEC 14496-3 4.6.
void FinishChannel(AacDecoderState* d, IcsInfo* ics, int32_t* spec, int c) {
  d->stats.shortWindowChannels += ics->windowSequence == kEightShort;
  d->stats.ltpChannels += ics->ltp.present && ics->windowSequence != kEightShort;
  d->stats.tnsChannels += ics->tns.present;
  for (int g = 0; g < ics->numGroups; ++g) {
    for (int b = 0; b < ics->maxSfb; ++b) d->stats.noiseBands += ics->codebook[g * ics->numSwb + b] == kNoiseHcb;
  }
  if (ics->ltp.present && ics->windowSequence != kEightShort && d->ltpHistory) {
    LtpPredict(d, *ics, spec, c, d->rateIndex);
  }
  if (ics->tns.present) TnsFilter(d->rateIndex, *ics, spec, false);
}

int DecodeSce(AacDecoderState* d, int32_t* spectral, int elementsSoFar, int* channelsSoFar) {
  AacBitReader* r = d->reader;
  if (*channelsSoFar >= 2) return -1;
  const uint8_t tag = static_cast<uint8_t>(AacGetBits(r, 4));
  if (d->sceTag[0] == 255) {
    d->sceTag[0] = tag;
  } else if (d->sceTag[1] == 255 && tag != d->sceTag[0]) {
    d->sceTag[1] = tag;
  }
  int c;
  if (tag == d->sceTag[0]) {
    if (elementsSoFar != 0) return -1;
    c = 0;
  } else if (tag == d->sceTag[1]) {
    c = 1;
  } else {
    return -1;
  }
  ElementRecord& el = d->element;
  el.kind = 1;
  el.commonWindow = 0;
  el.msMaskPresent = 0;
  IcsInfo* ics = &el.ics[c];
  ics->globalGain = static_cast<uint8_t>(AacGetBits(r, 8));
  if (ReadIcsInfo(d, ics, nullptr) < 0) return -1;
  int32_t* spec = spectral + (d->probe ? 0 : c * kFrameLength);
  if (DecodeIndividualChannelStream(d, ics, spec) < 0) return -1;
  if (!d->probe) {
    const int extraBits = SpectrumExtraBits(SpectrumPeakBits(*ics, spec), ics->tns.present ? kTnsHeadroomBits : 0);
    ReconstructChannel(d, ics, spec, ics->ltp.present ? 0 : extraBits);
    if (ics->noise) NoiseSubstitution(el, 0, ics, spec, &d->pnsState[c]);
    FinishChannel(d, ics, spec, c);
  }
  RecordChannel(d, c, *ics, 0);
  d->fillChannel = c;
  *channelsSoFar += 1;
  return c;
}

int DecodeCpe(AacDecoderState* d, int32_t* spectral, int* channelsSoFar) {
  AacBitReader* r = d->reader;
  AacGetBits(r, 4);  // element_instance_tag
  if (*channelsSoFar != 0) return -1;
  ElementRecord& el = d->element;
  el.kind = 2;
  el.commonWindow = static_cast<uint8_t>(AacGetBits(r, 1));
  el.msMaskPresent = 0;
  IcsInfo* left = &el.ics[0];
  IcsInfo* right = &el.ics[1];
  if (el.commonWindow) {
    if (ReadIcsInfo(d, left, right) < 0) return -1;
    CopyWindow(right, *left);
    el.msMaskPresent = static_cast<uint8_t>(AacGetBits(r, 2));
    if (el.msMaskPresent == 3) return -1;  // reserved
    if (el.msMaskPresent == 1) {
      for (int g = 0; g < left->numGroups; ++g) {
        for (int b = 0; b < left->numSwb; ++b) {
          el.msUsed[g * left->numSwb + b] = b < left->maxSfb ? static_cast<uint8_t>(AacGetBits(r, 1)) : 0;
        }
      }
    }
  }
  left->globalGain = static_cast<uint8_t>(AacGetBits(r, 8));
  if (!el.commonWindow && ReadIcsInfo(d, left, nullptr) < 0) return -1;
  int32_t* spec0 = spectral;
  int32_t* spec1 = spectral + (d->probe ? 0 : kFrameLength);
  if (DecodeIndividualChannelStream(d, left, spec0) < 0) return -1;
  right->globalGain = static_cast<uint8_t>(AacGetBits(r, 8));
  if (!el.commonWindow && ReadIcsInfo(d, right, nullptr) < 0) return -1;
  if (DecodeIndividualChannelStream(d, right, spec1) < 0) return -1;
  if (!d->probe) {
    // One format for both channels, so that M/S and intensity combine them
    // as they stand; intensity bands scale the left channel's values.
    const int leftBits = SpectrumPeakBits(*left, spec0);
    const int peakBits = std::max({leftBits, SpectrumPeakBits(*right, spec1), leftBits + IntensityGainBits(*right)});
    const int headroomBits = left->tns.present || right->tns.present ? kTnsHeadroomBits : 0;
    const int extraBits = left->ltp.present || right->ltp.present ? 0 : SpectrumExtraBits(peakBits, headroomBits);
    ReconstructChannel(d, left, spec0, extraBits);
    ReconstructChannel(d, right, spec1, extraBits);
    // Stereo tools need matching windows; a pair without a common window
    // carries neither M/S nor intensity of another window shape.
    if (left->noise) NoiseSubstitution(el, 0, left, spec0, &d->pnsState[0]);
    if (right->noise) NoiseSubstitution(el, 1, right, spec1, &d->pnsState[1]);
    for (int g = 0; g < right->numGroups; ++g) {
      for (int b = 0; b < right->maxSfb; ++b) {
        const int i = g * right->numSwb + b;
        d->stats.intensityBands += right->codebook[i] == kIntensityHcb || right->codebook[i] == kIntensityHcb2;
        d->stats.msBands += el.msMaskPresent == 2 || (el.msMaskPresent == 1 && el.msUsed[i]);
      }
    }
    if (left->windowSequence == right->windowSequence) {
      int limit = left->maxSfb > right->maxSfb ? left->maxSfb : right->maxSfb;
      if (right->windowSequence == kEightShort) limit = right->numSwb;
      StereoProcess(limit, el, spec0, spec1);
    }
    FinishChannel(d, left, spec0, 0);
    FinishChannel(d, right, spec1, 1);
  }
  RecordChannel(d, 0, *left, 1);
  RecordChannel(d, 1, *right, 1);
  d->fillChannel = 0;
  *channelsSoFar = 2;
  return 0;
}

int ParseDynamicRange(AacBitReader* r, DrcRecord* drc, int* lastLevel) {
  int bits = 0;
  if (AacGetBits(r, 1)) {  // pce_tag_present
    AacSkipBits(r, 8);
    bits += 8;
  }
  bits += 1;
  if (AacGetBits(r, 1)) {  // excluded_chns_present
    do {
      AacSkipBits(r, 7);
      bits += 8;
    } while (AacGetBits(r, 1));
  }
  bits += 1;
  int bands = 1;
  uint8_t tops[17];
  tops[0] = kFrameLength / 4 - 1;
  if (AacGetBits(r, 1)) {  // drc_bands_present
    const int incr = static_cast<int>(AacGetBits(r, 4));
    AacSkipBits(r, 4);  // interpolation scheme
    bands += incr;
    for (int i = 0; i < bands; ++i) tops[i] = static_cast<uint8_t>(AacGetBits(r, 8));
    bits += 8 + 8 * bands;
  }
  bits += 1;
  if (AacGetBits(r, 1)) {  // prog_ref_level_present
    *lastLevel = static_cast<int>(AacGetBits(r, 7));
    AacSkipBits(r, 1);
    bits += 8;
  }
  bits += 1;
  drc->bandCount = bands;
  drc->progRefLevel = *lastLevel;
  for (int i = 0; i < bands; ++i) {
    uint32_t v = AacGetBits(r, 8);
    drc->sign[i] = static_cast<uint8_t>(v >> 7);
    drc->magnitude[i] = static_cast<uint8_t>(v & 0x7F);
    drc->bandTop[i] = tops[i];
  }
  bits += 8 * bands;
  return bits;
}

// SBR data for the channel of the last channel element: 1 when parsed (or
// ignored before the first header), 0 when the payload is to be skipped
// whole, -1 on error. The probe parses into its own channel.
int SbrPayload(AacDecoderState* d, bool crc) {
  const int c = d->fillChannel;
  SbrFrameData* fd = &d->sbrFrame[c];
  if (!d->sbrActive || !d->sbrChannel[c]) return 0;
  if (d->probe && fd->elementKind == 1 && !d->sbrChannel[1]) return 0;
  const int result = ParseSbrExtension(&d->sbrChannel[c], fd, d->reader, crc ? 1 : 0);
  if (result != 0 && result != kSbrNoHeaderYet) return -1;
  if (d->probe) d->sbrFound = 1;
  return 1;
}

// extension_payload (ISO/IEC 14496-3 4.4.2.7, table 4.57) of `count` bytes.
// A dynamic range payload may end before the count does: what follows it is
// read as further extension payloads, as the fill element defines them, so
// padding is never taken for elements.
int ExtensionPayload(AacDecoderState* d, int count) {
  AacBitReader* r = d->reader;
  while (count > 0) {
    const uint32_t before = r->bitsConsumed;
    const uint32_t type = AacGetBits(r, 4);
    if (type == kExtDynamicRange) {
      if (ParseDynamicRange(r, &d->drc, &d->lastProgRefLevel) > count * 8 - 4) return -1;
      d->stats.dynamicRangePayloads++;
      const uint32_t used = r->bitsConsumed - before;
      if (used % 8 != 0) AacSkipBits(r, 8 - used % 8);
      count -= static_cast<int>((r->bitsConsumed - before) / 8);
      continue;
    }
    if ((type == kExtSbrData || type == kExtSbrDataCrc) && d->fillChannel >= 0) {
      const int result = SbrPayload(d, type == kExtSbrDataCrc);
      if (result < 0) return result;
      if (result > 0) {
        const int budget = count * 8 - 4 - static_cast<int>(r->bitsConsumed - before - 4);
        if (budget < 0) return -1;
        AacSkipBits(r, static_cast<uint32_t>(budget));
        return 0;
      }
    }
    // Fill data, other types, and SBR data while SBR is off.
    AacSkipBits(r, static_cast<uint32_t>(count * 8 - 4));
    count = 0;
  }
  return 0;
}

}  // namespace

int DecodeRawDataBlock(AacDecoderState* d, int32_t* spectral) {
  AacBitReader* r = d->reader;
  int elements = 0;
  int channels = 0;
  d->drc.bandCount = 0;
  d->fillChannel = -1;
  for (;;) {
    if (AacReaderOverrun(r)) return -1;
    const uint32_t id = AacGetBits(r, 3);
    switch (id) {
      case kSce: {
        if (DecodeSce(d, spectral, elements, &channels) < 0) return -1;
        ++elements;
        break;
      }
      case kCpe:
        if (DecodeCpe(d, spectral, &channels) < 0) return -1;
        ++elements;
        break;
      case kCce:
      case kLfe:
        AacGetBits(r, 4);
        return -1;
      case kDse: {
        AacSkipBits(r, 4);
        const uint32_t align = AacGetBits(r, 1);
        uint32_t count = AacGetBits(r, 8);
        if (count == 255) count += AacGetBits(r, 8);
        if (align) AacByteAlign(r);
        AacSkipBits(r, count * 8);
        break;
      }
      case kPce: {
        AacProgramConfig pce{};
        if (ParseProgramConfigElement(r, d->rateIndex, &pce) < 0) return -1;
        break;
      }
      case kFil: {
        int count = static_cast<int>(AacGetBits(r, 4));
        if (count == 15) count += static_cast<int>(AacGetBits(r, 8)) - 1;
        if (count > 0 && ExtensionPayload(d, count) < 0) return -1;
        break;
      }
      default:  // kEnd
        if (AacReaderOverrun(r)) return -1;
        return channels == 0 ? -1 : channels;
    }
  }
}

}  // namespace heaac
