#pragma once
// The HE-AAC decoder: MPEG-4 AAC LC and LTP with low-power SBR, one or two
// channels, from ADTS, ADIF or an AudioSpecificConfig, to interleaved 16-bit
// PCM. Fixed point only.
//
// Reached through the entry functions below and the function-slot object
// HeAacDecoder. One object is used by one thread at a time; distinct objects
// share only constant tables. Every result is a signed 32-bit code (below).
//
// Calling order: gCreateHeAacDecoder; gGetAacStreamInfo (mode 0 with an MP4
// track's AudioSpecificConfig, mode 2 with the first ADTS frame or an ADIF
// header); gConfigureHeAacDecoder; gDecodeHeAacFrame once per frame into a
// buffer of AacStreamInfo::outputBytesPerFrame bytes; gConfigureHeAacDecoder
// again after a seek (it clears the filter memories); gDestroyHeAacDecoder.

#include <cstddef>
#include <cstdint>

namespace heaac {

// Result codes.
inline constexpr int32_t kAacOk = 0;
// Bad stream (header, raw data block, sync lost), unsupported configuration,
// null argument, or a decode before configure.
inline constexpr int32_t kAacError = -1;
// Creation failed: no memory or a null out-pointer.
inline constexpr int32_t kAacNoMemory = -2;
// The output buffer is smaller than one decoded frame.
inline constexpr int32_t kAacOutputTooSmall = -2002;

// Stream information: eight 32-bit words, owned by the caller (zeroed before
// the first gGetAacStreamInfo).
struct AacStreamInfo {
  uint32_t outputBytesPerFrame;  // 0: output bytes per decoded frame; rewritten by configure
  uint32_t samplesPerFrame;      // 1: samples per channel per core frame, 1024
  uint32_t coreSampleRate;       // 2: core sampling rate in Hz (one of the twelve)
  uint32_t channels;             // 3: 1 or 2 (0 until probed when the configuration is 0)
  uint32_t profile;              // 4: 1 AAC LC, 3 AAC LTP (ADTS numbering)
  uint32_t outputSampleRate;     // 5: output rate in Hz; rewritten by configure
  uint32_t extensionObjectType;  // 6: 5 SBR signalled or detected, else 0
  uint32_t sbrRateFlag;          // 7: non-zero: SBR (if any) runs at the core rate
};
static_assert(sizeof(AacStreamInfo) == 32);

// Nine words handed to the configure slot (built by gConfigureHeAacDecoder).
struct AacDecoderConfig {
  uint32_t unused;
  uint32_t frameLength;
  uint32_t coreSampleRate;
  uint32_t channels;
  uint32_t profile;
  uint32_t reserved;
  uint32_t outputSampleRate;     // written back
  uint32_t extensionObjectType;
  uint32_t sbrRateFlag;          // written back
};

struct HeAacDecoder;
using AacDecodeFn = int32_t (*)(HeAacDecoder* decoder, const uint8_t* input, int32_t* inputLength,
                                int16_t* output, int32_t* outputLength);
using AacDestroyFn = int32_t (*)(HeAacDecoder* decoder);
using AacConfigureFn = int32_t (*)(HeAacDecoder* decoder, AacDecoderConfig* config);

// The decoder object: six function slots (decode, -, -, destroy, configure, -)
// followed by the decoder state, all in one heap block.
struct HeAacDecoder {
  AacDecodeFn decode;      // slot 0
  void* slot1;             // empty
  void* slot2;             // empty
  AacDestroyFn destroy;    // slot 3
  AacConfigureFn configure;  // slot 4
  void* slot5;             // empty
};

// Creates a decoder; gCreateHeAacDecoder and a non-zero `sbr` give it the
// areas of the SBR tool, which then runs whenever the configuration signals
// SBR (explicitly or found by the first-frame probe). 0, or kAacNoMemory when
// `out` is null or the allocation fails. The caller owns the object and
// frees it with gDestroyHeAacDecoder.
int32_t gCreateHeAacDecoder(HeAacDecoder** out);
int32_t gCreateHeAacDecoderEx(HeAacDecoder** out, int32_t sbr);

// Frees the decoder. -1 for null, else 0.
int32_t gDestroyHeAacDecoder(HeAacDecoder* decoder);

// Fills `info` from the start of a stream. mode 0: `data` is an
// AudioSpecificConfig; any other mode: an ADIF or ADTS header followed by the
// first raw data block, which is probed for the channel count. On return
// *length holds the header bytes consumed. 0 ok, -1 bad or unsupported header.
// `firstFrame` (mode 0 only, may be null) is probed the same way.
int32_t gGetAacStreamInfo(const uint8_t* data, int32_t* length, AacStreamInfo* info, int32_t mode,
                          const uint8_t* firstFrame, int32_t firstFrameLength);

// Configures (or reconfigures, clearing the filter memories) from `info` and
// writes back outputSampleRate, sbrRateFlag and outputBytesPerFrame.
// 0 ok, -1 null argument or unsupported configuration.
int32_t gConfigureHeAacDecoder(HeAacDecoder* decoder, AacStreamInfo* info);

// Decodes one raw data block (after an ADTS header when the stream is ADTS).
// In: *inputLength bytes available, *outputLength bytes of room.
// Out: *inputLength bytes consumed, *outputLength bytes of PCM written
// (interleaved when two channels are configured). On failure both lengths are
// left as passed and the filter memories are unchanged; the caller skips the
// input. 0 ok, -1 stream error, call before configure or null argument,
// kAacOutputTooSmall.
int32_t gDecodeHeAacFrame(HeAacDecoder* decoder, const uint8_t* input, int32_t* inputLength,
                          int16_t* output, int32_t* outputLength);

// Size of the decoder block for either SBR flag.
size_t GetHeAacDecoderSize(int32_t sbr);

}  // namespace heaac
