#pragma once
// Stream headers of ISO/IEC 14496-3 that the decoder accepts: the
// AudioSpecificConfig of an MP4 track (1.6.2.1), the ADTS frame header and the
// ADIF header (1.A.2, 1.A.3), and the program_config_element (4.4.1.1),
// limited to one- and two-channel LC and LTP programs.

#include <cstdint>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/heaac_decoder.h"

namespace heaac {

// One program_config_element, one byte per field.
struct AacProgramConfig {
  uint8_t elementInstanceTag;
  uint8_t objectType;  // profile: 1 LC, 3 LTP
  uint8_t samplingIndex;
  uint8_t numFront, numSide, numBack, numLfe, numAssocData, numValidCc;
  uint8_t monoMixdownPresent, monoMixdownElement;
  uint8_t stereoMixdownPresent, stereoMixdownElement;
  uint8_t matrixMixdownPresent, matrixMixdownIndex, pseudoSurround;
  uint8_t frontIsCpe[2], frontTag[2];
  uint8_t sideIsCpe[2], sideTag[2];
  uint8_t backIsCpe[1], backTag[1];
  uint8_t lfeTag[1];
  uint8_t assocDataTag[7];
  uint8_t ccIsIndSw[2], ccTag[2];
};

struct AdtsHeader {
  uint32_t id, layer, protectionAbsent, profile, samplingIndex, privateBit, channelConfig;
  uint32_t originalCopy, home, copyrightBit, copyrightStart, frameLength, bufferFullness;
  uint32_t rawBlocks;  // number_of_raw_data_blocks_in_frame
};

struct AdifHeader {
  uint32_t copyrightIdPresent, originalCopy, home, bitstreamType, bitrate, numPce, bufferFullness;
};

// 0 / -1.
int32_t ParseAudioSpecificConfig(AacBitReader* r, AacStreamInfo* info);
// After the 12-bit sync word; always 0.
int32_t ParseAdtsHeader(AacBitReader* r, AdtsHeader* h);
int32_t ReadAdtsStreamInfo(AacBitReader* r, AacStreamInfo* info);
int32_t ReadAdifStreamInfo(AacBitReader* r, AacStreamInfo* info, AacProgramConfig* pce);
// Channels of the single program, or 0.
int32_t ParseAdifHeader(AacBitReader* r, AdifHeader* h, AacProgramConfig* pce);
// Channels (1 or 2) or -1. An expected index of 13 or more accepts any valid
// index.
int32_t ParseProgramConfigElement(AacBitReader* r, uint32_t expectedIndex, AacProgramConfig* pce);

// Index of `rate` in the sampling-rate table, or -1.
int RateIndexOf(uint32_t rate);

}  // namespace heaac
