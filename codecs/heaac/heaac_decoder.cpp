#include "codecs/heaac/heaac_decoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

constexpr uint32_t kAdifId = 0x41444946;  // "ADIF"

// Block layout: the state, then the LTP history, the bit reader, the spectral
// work area, with SBR the two SbrChannel records, the overlap buffer, with
// SBR each channel's SBR working buffers, and the program configuration,
// each on an 8-byte boundary.
constexpr size_t Align8(size_t v) { return (v + 7) & ~size_t{7}; }
constexpr size_t kStateBytes = Align8(sizeof(AacDecoderState));
constexpr size_t kHistoryBytes = Align8(sizeof(int16_t) * 2 * 2048);
constexpr size_t kReaderBytes = Align8(sizeof(AacBitReader));
constexpr size_t kSpectralBytes = Align8(sizeof(int32_t) * kSpectralAreaValues);
constexpr size_t kSbrChannelBytes = Align8(sizeof(SbrChannel));
constexpr size_t kOverlapBytes = Align8(sizeof(int64_t) * 2 * 1024);
constexpr size_t kPceBytes = Align8(sizeof(AacProgramConfig));
static_assert(kSbrMatrixValues + kSbrHfWorkValues <= kSpectralAreaValues, "the QMF matrix lives in the spectral area");

size_t SbrBufferBytes() { return Align8(SbrChannelBufferBytes()); }

void InitHeAacDecoderState(void* block, int32_t sbr) {
  auto* base = static_cast<uint8_t*>(block);
  std::memset(base, 0, GetHeAacDecoderSize(sbr));
  auto* d = reinterpret_cast<AacDecoderState*>(base);
  size_t at = kStateBytes;
  d->ltpHistory = reinterpret_cast<int16_t*>(base + at);
  at += kHistoryBytes;
  d->reader = reinterpret_cast<AacBitReader*>(base + at);
  at += kReaderBytes;
  d->spectral = reinterpret_cast<int32_t*>(base + at);
  at += kSpectralBytes;
  if (sbr) {
    d->sbrChannel[0] = reinterpret_cast<SbrChannel*>(base + at);
    d->sbrChannel[1] = reinterpret_cast<SbrChannel*>(base + at + kSbrChannelBytes);
    at += 2 * kSbrChannelBytes;
  }
  d->overlap = reinterpret_cast<int64_t*>(base + at);
  at += kOverlapBytes;
  if (sbr) {
    for (SbrChannel* ch : d->sbrChannel) {
      AttachSbrChannelBuffers(ch, base + at);
      at += SbrBufferBytes();
    }
  }
  d->pce = reinterpret_cast<AacProgramConfig*>(base + at);
  init_aac_dsp(d->dsp, ov::GetCpuFlags());
  d->sceTag[0] = d->sceTag[1] = 255;
}

AacDecoderState* State(HeAacDecoder* decoder) { return reinterpret_cast<AacDecoderState*>(decoder); }

int32_t DestroyAacDecoder(HeAacDecoder* decoder) {
  if (!decoder) return -1;
  std::free(decoder);
  return 0;
}

int32_t ConfigureAacDecoder(HeAacDecoder* decoder, AacDecoderConfig* config) {
  AacDecoderState* d = State(decoder);
  if (!d || !config) return -1;
  if (config->channels != 1 && config->channels != 2) return -1;
  d->channels = static_cast<int>(config->channels);
  const int index = RateIndexOf(config->coreSampleRate);
  if (index < 0) return -1;
  d->rateIndex = static_cast<uint8_t>(index);
  d->coreRate = config->coreSampleRate;
  if (config->frameLength != 1024) return -1;
  d->frameLengthFlag = 0;
  d->samplesPerFrame = 1024;
  if (config->profile != 1 && config->profile != 3) return -1;
  d->pce->objectType = static_cast<uint8_t>(config->profile);
  d->probe = 0;
  d->adtsBlocksLeft = -1;
  if (config->extensionObjectType != 0 && config->extensionObjectType != 5) return -1;
  d->outputSamplesPerChannel = 1024;
  // SBR runs at twice the core rate, whose index is three below the core's;
  // cores of 64 kHz and above have no SBR rate in the table.
  if (config->extensionObjectType == 5 && d->sbrChannel[0] && index >= 3) {
    d->sbrActive = 1;
    const int factor =
        config->sbrRateFlag == 0 && config->coreSampleRate <= 24000 && config->outputSampleRate != config->coreSampleRate
            ? 2
            : 1;
    config->sbrRateFlag = factor == 1 ? 1 : 0;
    config->outputSampleRate = config->coreSampleRate * static_cast<uint32_t>(factor);
    d->outputSamplesPerChannel *= factor;
    for (SbrChannel* ch : d->sbrChannel) ResetSbrChannel(ch, factor, 2 * config->coreSampleRate, index - 3);
  } else {
    d->sbrActive = 0;
    config->outputSampleRate = config->coreSampleRate;
    config->sbrRateFlag = 1;
  }
  d->prevWindowShape[0] = d->prevWindowShape[1] = 0;
  std::memset(d->overlap, 0, sizeof(int64_t) * 2 * 1024);
  std::memset(d->ltpHistory, 0, sizeof(int16_t) * 2 * 2048);
  d->pnsState[0] = d->pnsState[1] = 0;
  d->sceTag[0] = d->sceTag[1] = 255;
  d->lastProgRefLevel = 0;
  d->phase = 1;
  return 0;
}

// Parses the block and runs the filterbank per decoded channel.
int32_t DecodeAacRawFrame(AacDecoderState* d, int16_t* output, int* samples) {
  const int channels = DecodeRawDataBlock(d, d->spectral);
  if (d->probe) return channels;
  if (channels < 0) return -1;
  // A block with more channels than configured would write past the output.
  if (channels > d->channels) return -1;
  for (int c = 0; c < channels; ++c) {
    int32_t* spec = d->spectral + c * kFrameLength;
    ChannelFrame& f = d->frame[c];
    if (d->drc.bandCount > 0) ApplyDynamicRange(d->drc, spec, &f.extraBits);
    ImdctFilterbank(d->dsp, d->prevWindowShape[c], f.windowSequence, f.windowShape, spec, f.extraBits, d->spectral + kRowOffset,
                    d->spectral + kScratchOffset, d->overlap + c * 1024, output + c, d->channels);
    if (d->pce->objectType == 3) LtpUpdateHistory(d->ltpHistory + c * 2048, output + c, d->channels);
    d->prevWindowShape[c] = f.windowShape;
    *samples += 1024;
  }
  if (d->sbrActive) {
    *samples = 0;
    for (int c = 0; c < channels; ++c) {
      *samples += ApplySbr(d->sbrFrame[c], d->sbrChannel, output + c, d->channels, d->spectral);
    }
  }
  if (d->channels == 2 && channels == 1) {
    for (int i = 0; i < *samples; ++i) output[2 * i + 1] = output[2 * i];
    *samples *= 2;
  }
  return 0;
}

int32_t DecodeAacFrame(HeAacDecoder* decoder, const uint8_t* input, int32_t* inputLength, int16_t* output,
                       int32_t* outputLength) {
  AacDecoderState* d = State(decoder);
  if (!d || d->phase == 0) return -1;
  if (!input || !inputLength || !outputLength || *inputLength < 0) return -1;
  d->output = output;
  // Checked before any header is taken in, so that the caller can retry the
  // same input with a larger buffer.
  if (*outputLength < d->outputSamplesPerChannel * d->channels * 2) return kAacOutputTooSmall;
  AacBitReader* r = d->reader;
  AacStartBitReader(r, input, static_cast<uint32_t>(*inputLength));
  const bool sync = r->length >= 2 && AacShowBits(r, 12) == 0xFFF;
  if (sync && d->phase == 1) d->adtsMode = 1;
  if (d->adtsMode && d->adtsBlocksLeft < 0) {
    if (!sync) {
      for (;;) {
        AacSkipBits(r, 8);
        if (r->byteIndex + 2 > r->length) return -1;
        if (AacShowBits(r, 12) == 0xFFF) break;
      }
    }
    AacSkipBits(r, 12);
    AdtsHeader h{};
    ParseAdtsHeader(r, &h);
    if (h.channelConfig == 1) {
      d->pce->numFront = 1;
      d->pce->frontIsCpe[0] = 0;
    } else if (h.channelConfig == 2) {
      d->pce->numFront = 1;
      d->pce->frontIsCpe[0] = 1;
    } else if (h.channelConfig != 0) {
      return -1;
    }
    d->pce->objectType = static_cast<uint8_t>(h.profile);
    d->rateIndex = static_cast<uint8_t>(h.samplingIndex);
    AacByteAlign(r);
    d->adtsBlocksLeft = static_cast<int>(h.rawBlocks);
    if ((h.profile != 1 && h.profile != 3) || h.samplingIndex > 11 || (d->channels != 1 && d->channels != 2)) {
      d->adtsBlocksLeft = -1;
      return -1;
    }
  }
  if (d->phase == 1) {
    if (d->frameLengthFlag) return -1;
    d->coreRate = kAacSampleRates[d->rateIndex];
  } else if (kAacSampleRates[d->rateIndex] != d->coreRate) {
    return -1;
  }
  int samples = 0;
  const int32_t result = DecodeAacRawFrame(d, output, &samples);
  if (d->adtsMode && d->adtsBlocksLeft >= 0) d->adtsBlocksLeft -= 1;
  if (result < 0) return -1;
  AacByteAlign(r);
  *outputLength = samples * 2;
  *inputLength = static_cast<int32_t>(r->bitsConsumed / 8);
  d->phase = 2;
  return 0;
}

bool IsTableRate(uint32_t rate) { return RateIndexOf(rate) >= 0; }

int32_t ProbeImplicitSbr(const uint8_t* data, int32_t* length, AacStreamInfo* info) {
  if (info->channels > 2 || !IsTableRate(info->coreSampleRate) || info->samplesPerFrame != 1024 ||
      (info->profile != 1 && info->profile != 3)) {
    return -1;
  }
  // The probe's scratch: its spectral area (one 1024-value row that both
  // channels share), then two complete SBR channels with their buffers,
  // in which the probe parses any SBR payload.
  const size_t sbrBytes = kSbrChannelBytes + SbrBufferBytes();
  auto* scratch = static_cast<uint8_t*>(std::malloc(4096 + 2 * sbrBytes));
  if (!scratch) return -1;
  AacDecoderState probe{};
  AacBitReader reader{};
  AacProgramConfig pce{};
  const int rateIndex = RateIndexOf(info->coreSampleRate);
  probe.channels = static_cast<int>(info->channels);
  probe.rateIndex = static_cast<uint8_t>(rateIndex);
  probe.coreRate = info->coreSampleRate;
  probe.samplesPerFrame = 1024;
  pce.objectType = static_cast<uint8_t>(info->profile);
  probe.pce = &pce;
  probe.reader = &reader;
  probe.spectral = reinterpret_cast<int32_t*>(scratch);
  probe.sceTag[0] = probe.sceTag[1] = 255;
  probe.phase = 1;
  probe.probe = 1;
  if (rateIndex >= 3) {
    for (int c = 0; c < 2; ++c) {
      uint8_t* at = scratch + 4096 + c * sbrBytes;
      probe.sbrChannel[c] = reinterpret_cast<SbrChannel*>(at);
      AttachSbrChannelBuffers(probe.sbrChannel[c], at + kSbrChannelBytes);
      ResetSbrChannel(probe.sbrChannel[c], 2, 2 * info->coreSampleRate, rateIndex - 3);
    }
    probe.sbrActive = 1;
  }
  AacStartBitReader(&reader, data, static_cast<uint32_t>(*length));
  int samples = 0;
  const int32_t found = DecodeAacRawFrame(&probe, nullptr, &samples);
  int32_t result = -1;
  if (found > 0) {
    if (info->channels == 0) {
      info->channels = static_cast<uint32_t>(found);
      info->outputBytesPerFrame *= static_cast<uint32_t>(found);
    }
    const uint32_t used = AacBytesUsed(&reader);
    if (static_cast<uint32_t>(*length) >= used) {
      *length = static_cast<int32_t>(used);
      result = 0;
      if (probe.sbrFound) {
        if (info->extensionObjectType == 0) {
          info->outputSampleRate = 2 * info->coreSampleRate;
          info->outputBytesPerFrame *= 2;
        }
        info->extensionObjectType = 5;
      } else {
        info->outputSampleRate = info->coreSampleRate;
      }
    }
  }
  std::free(scratch);
  return result;
}

}  // namespace

size_t GetHeAacDecoderSize(int32_t sbr) {
  const size_t sbrBytes = sbr ? 2 * (kSbrChannelBytes + SbrBufferBytes()) : 0;
  return kStateBytes + kHistoryBytes + kReaderBytes + kSpectralBytes + kOverlapBytes + kPceBytes + sbrBytes;
}

int32_t gCreateHeAacDecoderEx(HeAacDecoder** out, int32_t sbr) {
  if (!out) return kAacNoMemory;
  void* block = std::malloc(GetHeAacDecoderSize(sbr));
  if (!block) return kAacNoMemory;
  InitHeAacDecoderState(block, sbr);
  auto* d = static_cast<AacDecoderState*>(block);
  d->slots.decode = DecodeAacFrame;
  d->slots.slot1 = nullptr;
  d->slots.slot2 = nullptr;
  d->slots.destroy = DestroyAacDecoder;
  d->slots.configure = ConfigureAacDecoder;
  d->slots.slot5 = nullptr;
  d->phase = 0;
  GetAacTables();  // build the shared tables before the first frame
  *out = &d->slots;
  return kAacOk;
}

int32_t gCreateHeAacDecoder(HeAacDecoder** out) { return gCreateHeAacDecoderEx(out, 1); }

int32_t gDestroyHeAacDecoder(HeAacDecoder* decoder) {
  if (!decoder) return -1;
  return decoder->destroy(decoder);
}

static int32_t ReadAacStreamInfo(const uint8_t* data, int32_t* length, AacStreamInfo* info, int32_t mode,
                                 bool probe) {
  if (!data || !length || !info || *length < 0) return -1;
  AacBitReader r{};
  AacStartBitReader(&r, data, static_cast<uint32_t>(*length));
  if (mode == 0) {
    if (ParseAudioSpecificConfig(&r, info) < 0) return -1;
    if (AacReaderOverrun(&r)) return -1;
    *length = static_cast<int32_t>(AacBytesUsed(&r));
    return 0;
  }
  info->extensionObjectType = 0;
  info->sbrRateFlag = 0;
  if (*length < 8) return -1;
  const uint32_t word = AacShowBits(&r, 32);
  if (word == kAdifId) {
    AacProgramConfig pce{};
    if (ReadAdifStreamInfo(&r, info, &pce) < 0 || AacReaderOverrun(&r)) return -1;
  } else if ((word >> 20) == 0xFFF) {
    if (ReadAdtsStreamInfo(&r, info) < 0) return -1;
    if (info->channels == 1 || info->channels == 2) {
      info->outputBytesPerFrame = 2048 * info->channels;
    } else if (info->channels == 0) {
      const int32_t header = static_cast<int32_t>(AacBytesUsed(&r));
      if (header >= *length) {
        *length = header;
        return header;
      }
      int32_t rest = *length - header;
      const int32_t result = ProbeImplicitSbr(data + header, &rest, info);
      if (result == 0) *length = header;
      return result;
    } else {
      return -1;
    }
  } else {
    *length = 0;
    return -1;
  }
  const int32_t header = static_cast<int32_t>(AacBytesUsed(&r));
  const int32_t total = *length;
  *length = header;
  if (!probe || header >= total) return 0;
  int32_t rest = total - header;
  return ProbeImplicitSbr(data + header, &rest, info);
}

int32_t gGetAacStreamInfo(const uint8_t* data, int32_t* length, AacStreamInfo* info, int32_t mode,
                          const uint8_t* firstFrame, int32_t firstFrameLength) {
  if (mode == 0) {
    if (ReadAacStreamInfo(data, length, info, 0, false) < 0) return -1;
    if (firstFrame && firstFrameLength > 0) {
      int32_t n = firstFrameLength;
      return ProbeImplicitSbr(firstFrame, &n, info);
    }
    return 0;
  }
  return ReadAacStreamInfo(data, length, info, mode, true);
}

int32_t gConfigureHeAacDecoder(HeAacDecoder* decoder, AacStreamInfo* info) {
  if (!decoder || !info || (info->channels != 1 && info->channels != 2)) return -1;
  AacDecoderConfig config{};
  config.frameLength = info->samplesPerFrame;
  config.coreSampleRate = info->coreSampleRate;
  config.channels = info->channels;
  config.profile = info->profile;
  config.outputSampleRate = info->outputSampleRate;
  config.extensionObjectType = info->extensionObjectType;
  config.sbrRateFlag = info->sbrRateFlag != 0;
  const int32_t result = decoder->configure(decoder, &config);
  info->outputSampleRate = config.outputSampleRate;
  info->sbrRateFlag = config.sbrRateFlag;
  info->outputBytesPerFrame = info->samplesPerFrame * info->channels * (config.sbrRateFlag ? 2 : 4);
  return result;
}

int32_t gDecodeHeAacFrame(HeAacDecoder* decoder, const uint8_t* input, int32_t* inputLength, int16_t* output,
                          int32_t* outputLength) {
  if (!decoder || !input || !inputLength || !output || !outputLength) return -1;
  return decoder->decode(decoder, input, inputLength, output, outputLength);
}

}  // namespace heaac
