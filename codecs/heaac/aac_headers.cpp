#include "codecs/heaac/aac_headers.h"

#include "codecs/heaac/aac_tables.h"

namespace heaac {

int RateIndexOf(uint32_t rate) {
  for (int i = 0; i < 12; ++i) {
    if (kAacSampleRates[i] == rate) return i;
  }
  return -1;
}

// 4-bit index, or the 24-bit explicit rate after index 15; -1 when not one of
// the twelve table rates.
static int32_t ReadRate(AacBitReader* r) {
  uint32_t index = AacGetBits(r, 4);
  if (index == 15) {
    uint32_t rate = AacGetBits(r, 24);
    return RateIndexOf(rate) < 0 ? -1 : static_cast<int32_t>(rate);
  }
  if (index > 11) return -1;
  return static_cast<int32_t>(kAacSampleRates[index]);
}

int32_t ParseAudioSpecificConfig(AacBitReader* r, AacStreamInfo* info) {
  const uint32_t type = AacGetBits(r, 5);
  uint32_t extensionType = 0;
  int sbrPresent = 0;
  if (type == 2) {
    info->profile = 1;
  } else if (type == 4) {
    info->profile = 3;
  } else if (type == 5) {
    info->profile = 1;
    extensionType = 5;
    sbrPresent = 1;
  } else {
    return -1;
  }
  int32_t rate = ReadRate(r);
  if (rate < 0) return -1;
  info->coreSampleRate = static_cast<uint32_t>(rate);
  info->channels = AacGetBits(r, 4);
  int32_t extensionRate = rate;
  if (type == 5) {
    extensionRate = ReadRate(r);
    if (extensionRate < 0) return -1;
    if (AacGetBits(r, 5) != 2) return -1;
  }
  // GASpecificConfig.
  if (AacGetBits(r, 1) != 0) return -1;  // 960-sample frames
  info->samplesPerFrame = 1024;
  if (AacGetBits(r, 1)) AacSkipBits(r, 14);  // coreCoderDelay
  const uint32_t extensionFlag = AacGetBits(r, 1);
  if (type != 5 && extensionFlag) return -1;
  if (type == 5 && extensionFlag) AacSkipBits(r, 1);
  if (info->channels == 0) {
    AacProgramConfig pce{};
    int32_t ch = ParseProgramConfigElement(r, 127, &pce);
    if (ch != 1 && ch != 2) return -1;
    info->channels = static_cast<uint32_t>(ch);
  }
  // Backward-compatible SBR signalling after the GASpecificConfig.
  if (type != 5) {
    const int32_t left = static_cast<int32_t>(r->length * 8) - static_cast<int32_t>(r->bitsConsumed);
    if (left >= 16 && AacShowBits(r, 11) == 0x2B7) {
      AacSkipBits(r, 11);
      if (AacGetBits(r, 5) != 5 || left < 21) return -1;
      sbrPresent = static_cast<int>(AacGetBits(r, 1));
      // sbrPresentFlag 0 says that the stream carries no SBR: the decoder
      // then keeps the core rate and adds no filter delay.
      extensionType = sbrPresent ? 5 : 0;
      if (sbrPresent) {
        uint32_t index = AacGetBits(r, 4);
        if (index == 15) {
          if (left < 45) return -1;
          uint32_t er = AacGetBits(r, 24);
          if (RateIndexOf(er) < 0) return -1;
          extensionRate = static_cast<int32_t>(er);
        } else if (index > 11) {
          return -1;
        } else {
          extensionRate = static_cast<int32_t>(kAacSampleRates[index]);
        }
      }
    }
  }
  info->extensionObjectType = extensionType;
  info->sbrRateFlag = 0;
  info->outputBytesPerFrame = info->channels * 1024 * 2;
  if (sbrPresent) {
    if (extensionRate != rate && extensionRate != 2 * rate) return -1;
    if (extensionRate != rate) {
      info->outputBytesPerFrame = info->channels * 1024 * 4;
    } else {
      info->sbrRateFlag = 1;
    }
  } else {
    extensionRate = rate;
  }
  info->outputSampleRate = static_cast<uint32_t>(extensionRate);
  return 0;
}

int32_t ParseAdtsHeader(AacBitReader* r, AdtsHeader* h) {
  h->id = AacGetBits(r, 1);
  h->layer = AacGetBits(r, 2);
  h->protectionAbsent = AacGetBits(r, 1);
  h->profile = AacGetBits(r, 2);
  h->samplingIndex = AacGetBits(r, 4);
  h->privateBit = AacGetBits(r, 1);
  h->channelConfig = AacGetBits(r, 3);
  h->originalCopy = AacGetBits(r, 1);
  h->home = AacGetBits(r, 1);
  h->copyrightBit = AacGetBits(r, 1);
  h->copyrightStart = AacGetBits(r, 1);
  h->frameLength = AacGetBits(r, 13);
  h->bufferFullness = AacGetBits(r, 11);
  h->rawBlocks = AacGetBits(r, 2);
  if (h->protectionAbsent == 0) AacSkipBits(r, 16);  // crc_check, not verified
  return 0;
}

int32_t ReadAdtsStreamInfo(AacBitReader* r, AacStreamInfo* info) {
  AacSkipBits(r, 12);
  AdtsHeader h{};
  ParseAdtsHeader(r, &h);
  info->profile = h.profile;
  if (h.samplingIndex > 11) return -1;
  info->coreSampleRate = kAacSampleRates[h.samplingIndex];
  info->outputSampleRate = info->coreSampleRate;
  info->channels = h.channelConfig;
  info->outputBytesPerFrame = 2048;
  info->samplesPerFrame = 1024;
  if (h.layer != 0 || (h.profile != 1 && h.profile != 3)) return -1;
  return 0;
}

int32_t ParseAdifHeader(AacBitReader* r, AdifHeader* h, AacProgramConfig* pce) {
  AacSkipBits(r, 32);  // "ADIF"
  h->copyrightIdPresent = AacGetBits(r, 1);
  if (h->copyrightIdPresent) AacSkipBits(r, 72);
  h->originalCopy = AacGetBits(r, 1);
  h->home = AacGetBits(r, 1);
  h->bitstreamType = AacGetBits(r, 1);
  h->bitrate = AacGetBits(r, 23);
  h->numPce = AacGetBits(r, 4);
  if (h->numPce != 0) return 0;  // more than one program
  if (h->bitstreamType == 0) h->bufferFullness = AacGetBits(r, 20);
  int32_t ch = ParseProgramConfigElement(r, 127, pce);
  return ch < 0 ? 0 : ch;
}

int32_t ReadAdifStreamInfo(AacBitReader* r, AacStreamInfo* info, AacProgramConfig* pce) {
  AdifHeader h{};
  int32_t ch = ParseAdifHeader(r, &h, pce);
  if (pce->samplingIndex >= 12) return -1;
  info->channels = static_cast<uint32_t>(ch);
  info->outputBytesPerFrame = static_cast<uint32_t>(ch) * 2048;
  info->samplesPerFrame = 1024;
  info->coreSampleRate = kAacSampleRates[pce->samplingIndex];
  info->outputSampleRate = info->coreSampleRate;
  info->profile = pce->objectType;
  if (ch != 1 && ch != 2) return -1;
  return 0;
}

int32_t ParseProgramConfigElement(AacBitReader* r, uint32_t expectedIndex, AacProgramConfig* pce) {
  pce->elementInstanceTag = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->objectType = static_cast<uint8_t>(AacGetBits(r, 2));
  if (pce->objectType != 1 && pce->objectType != 3) return -1;
  pce->samplingIndex = static_cast<uint8_t>(AacGetBits(r, 4));
  if (expectedIndex < 13 && pce->samplingIndex != expectedIndex) return -1;
  if (pce->samplingIndex > 11) return -1;
  pce->numFront = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->numSide = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->numBack = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->numLfe = static_cast<uint8_t>(AacGetBits(r, 2));
  pce->numAssocData = static_cast<uint8_t>(AacGetBits(r, 3));
  pce->numValidCc = static_cast<uint8_t>(AacGetBits(r, 4));
  if (pce->numFront > 2 || pce->numSide > 2 || pce->numBack > 1 || pce->numLfe != 0 || pce->numValidCc != 0) {
    return -1;
  }
  pce->monoMixdownPresent = static_cast<uint8_t>(AacGetBits(r, 1));
  if (pce->monoMixdownPresent) pce->monoMixdownElement = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->stereoMixdownPresent = static_cast<uint8_t>(AacGetBits(r, 1));
  if (pce->stereoMixdownPresent) pce->stereoMixdownElement = static_cast<uint8_t>(AacGetBits(r, 4));
  pce->matrixMixdownPresent = static_cast<uint8_t>(AacGetBits(r, 1));
  if (pce->matrixMixdownPresent) {
    pce->matrixMixdownIndex = static_cast<uint8_t>(AacGetBits(r, 2));
    pce->pseudoSurround = static_cast<uint8_t>(AacGetBits(r, 1));
  }
  int channels = 0;
  for (int i = 0; i < pce->numFront; ++i) {
    pce->frontIsCpe[i] = static_cast<uint8_t>(AacGetBits(r, 1));
    pce->frontTag[i] = static_cast<uint8_t>(AacGetBits(r, 4));
    channels += pce->frontIsCpe[i] + 1;
  }
  for (int i = 0; i < pce->numSide; ++i) {
    pce->sideIsCpe[i] = static_cast<uint8_t>(AacGetBits(r, 1));
    pce->sideTag[i] = static_cast<uint8_t>(AacGetBits(r, 4));
    channels += pce->sideIsCpe[i] + 1;
  }
  for (int i = 0; i < pce->numBack; ++i) {
    pce->backIsCpe[i] = static_cast<uint8_t>(AacGetBits(r, 1));
    pce->backTag[i] = static_cast<uint8_t>(AacGetBits(r, 4));
    channels += pce->backIsCpe[i] + 1;
  }
  for (int i = 0; i < pce->numAssocData; ++i) pce->assocDataTag[i] = static_cast<uint8_t>(AacGetBits(r, 4));
  if (channels != 1 && channels != 2) return -1;
  AacByteAlign(r);
  uint32_t commentBytes = AacGetBits(r, 8);
  AacSkipBits(r, commentBytes * 8);
  return channels;
}

}  // namespace heaac
