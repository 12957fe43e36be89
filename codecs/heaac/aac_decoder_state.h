#pragma once
// Internal state of the AAC decoder object and the per-block records that the
// parse hands to the reconstruction stages.

#include <cstdint>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/aac_dsp.h"
#include "codecs/heaac/aac_headers.h"
#include "codecs/heaac/heaac_decoder.h"
#include "codecs/heaac/sbr.h"

namespace heaac {

enum WindowSequence : uint8_t { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };

inline constexpr int kFrameLength = 1024;
// Fixed-point formats of the filterbank: long transform values carry PCM x
// 2^(13 + extra bits), short ones PCM x 2^(10 + extra bits) (spectral
// coefficients x 8 x 2^extra bits, unnormalised transform); the 64-bit
// overlap buffer carries PCM x 2^kOverlapFracBits.
inline constexpr int kLongTransformBits = 13;
inline constexpr int kShortTransformBits = 10;
inline constexpr int kOverlapFracBits = 24;
// Quiet channels carry extra fractional bits in their coefficients, so that
// the rounding of the reconstruction and of the transform stays far below an
// output LSB. The extra bits stop where the largest coefficient that the
// element's bands can hold reaches 2^kSpectrumPeakBits, the level a
// full-scale tone reaches in the plain format; an element with TNS stops
// kTnsHeadroomBits lower, as its filter can raise single coefficients well
// above those of the bands. kMaxSpectrumExtraBits bounds them.
inline constexpr int kSpectrumPeakBits = 28;
inline constexpr int kTnsHeadroomBits = 4;
inline constexpr int kMaxSpectrumExtraBits = 12;
// Codebook numbers with a meaning of their own (ISO/IEC 14496-3 table 4.150).
inline constexpr int kZeroHcb = 0;
inline constexpr int kNoiseHcb = 13;
inline constexpr int kIntensityHcb2 = 14;  // out of phase
inline constexpr int kIntensityHcb = 15;   // in phase
inline constexpr int kMaxBandSlots = 8 * 16;  // groups x short bands; long frames use up to 51

struct TnsData {
  uint8_t present;
  uint8_t nFilt[8];
  uint8_t coefRes[8];
  uint8_t length[8][3];
  uint8_t order[8][3];
  uint8_t direction[8][3];
  uint8_t compress[8][3];
  uint8_t coef[8][3][32];
};

struct LtpData {
  uint8_t present;
  uint16_t lag;
  uint8_t coefIndex;
  uint8_t longUsed[64];
  uint8_t shortUsed[8];
  uint8_t shortLagPresent[8];
  uint8_t shortLag[8];
};

// One channel's individual channel stream side information.
struct IcsInfo {
  uint8_t globalGain;
  uint8_t reservedBit;
  uint8_t windowSequence;
  uint8_t windowShape;
  uint8_t maxSfb;
  uint8_t grouping;
  uint8_t numGroups;
  uint8_t groupLen[8];
  uint8_t numSwb;            // bands of the window type
  const uint16_t* swbOffset;  // offsets of the window type
  uint8_t codebook[kMaxBandSlots];
  int16_t scaleFactor[kMaxBandSlots];  // scale factor, intensity position or noise energy
  uint16_t bandPeak[kMaxBandSlots];    // largest |quantised value| of a spectral band, pulses aside
  uint8_t pulsePresent;
  uint8_t numPulse;
  uint8_t pulseStartSfb;
  uint8_t pulseOffset[4];
  uint8_t pulseAmp[4];
  uint8_t noise;  // the channel has PNS bands
  uint8_t extraBits;  // fractional bits of the coefficients beyond x 8
  TnsData tns;
  LtpData ltp;
};

struct ElementRecord {
  uint8_t kind;  // 1 SCE, 2 CPE
  uint8_t commonWindow;
  uint8_t msMaskPresent;
  uint8_t msUsed[kMaxBandSlots];
  IcsInfo ics[2];
};

struct DrcRecord {
  int bandCount;  // 0: no dynamic range control in this block
  uint8_t bandTop[17];
  int progRefLevel;
  uint8_t sign[17];
  uint8_t magnitude[17];
};

struct ChannelFrame {
  uint8_t windowSequence;
  uint8_t windowShape;
  uint8_t prevWindowShape;
  uint8_t extraBits;  // of the channel's coefficients
};

// Spectral work area: two channel spectra, a 2048-value row (LTP estimate,
// short-window regrouping, filterbank scratch) and a 1024-value transform
// scratch.
inline constexpr int kSpectralAreaValues = 5120;
inline constexpr int kRowOffset = 2048;
inline constexpr int kScratchOffset = 4096;

// Counts of the coding tools met since creation, for tests and diagnostics.
struct AacToolStats {
  uint32_t shortWindowChannels;
  uint32_t msBands;
  uint32_t intensityBands;
  uint32_t tnsChannels;
  uint32_t noiseBands;
  uint32_t ltpChannels;
  uint32_t dynamicRangePayloads;
};

struct AacDecoderState {
  HeAacDecoder slots;
  int16_t* output;
  AacBitReader* reader;
  int channels;
  int64_t* overlap;      // [2][1024], PCM x 2^kOverlapFracBits
  int16_t* ltpHistory;   // [2][2048]
  AacProgramConfig* pce;
  uint8_t prevWindowShape[2];
  uint8_t rateIndex;
  uint32_t coreRate;
  int frameLengthFlag;
  int samplesPerFrame;
  int adtsBlocksLeft;
  int32_t* spectral;
  uint32_t pnsState[2];
  uint8_t sceTag[2];
  int phase;  // 0 created, 1 configured, 2 decoding
  int probe;
  int outputSamplesPerChannel;
  int sbrActive;
  SbrChannel* sbrChannel[2];  // null without the SBR tool
  int adtsMode;
  // Per raw data block.
  ElementRecord element;
  ChannelFrame frame[2];
  DrcRecord drc;
  int lastProgRefLevel;
  int sbrFound;  // the probe met an SBR extension payload
  int fillChannel;  // channel whose SBR data a fill element carries, -1 none
  SbrFrameData sbrFrame[2];
  AacToolStats stats;
  AacDsp dsp;  // kernels, chosen from the CPU flags when the state is set up
};

// Decodes one raw_data_block into the spectral area: channels decoded (1 or
// 2) or -1.
int DecodeRawDataBlock(AacDecoderState* d, int32_t* spectral);

// Spectral reconstruction.
void ApplyPulses(const IcsInfo& ics, int32_t* spec);
// Bit length of the largest coefficient that the channel's coded and noise
// bands can hold in the plain x 8 format (pulses already added).
int SpectrumPeakBits(const IcsInfo& ics, const int32_t* spec);
// Octaves by which the intensity bands of a right channel can exceed the
// left channel's values.
int IntensityGainBits(const IcsInfo& ics);
// Extra fractional bits for coefficients whose largest has `peakBits` bits,
// with `headroomBits` more kept free above it.
int SpectrumExtraBits(int peakBits, int headroomBits);
// Coefficients in the format of ics.extraBits.
void InverseQuantize(const AacDsp& dsp, const IcsInfo& ics, int32_t* spec);
void RegroupShortWindows(const IcsInfo& ics, int32_t* spec, int32_t* scratch);
// Fills n values (a multiple of 4) with noise whose energy is 2^(energy / 2)
// in coefficient units (stored with `extraBits` fractional bits beyond x 8),
// drawing from the generator word `seed`.
void GenerateNoiseBand(int32_t* v, int n, int energy, int extraBits, uint32_t* seed);
void NoiseSubstitution(const ElementRecord& el, int channel, IcsInfo* ics, int32_t* spec, uint32_t* state);
// Gives back as many of the `*extraBits` as the frame's largest gain boosts,
// then applies the gains.
void ApplyDynamicRange(const DrcRecord& drc, int32_t* spec, uint8_t* extraBits);

// Stereo and TNS.
void StereoProcess(int bandLimit, const ElementRecord& el, int32_t* left, int32_t* right);
void TnsFilter(int rateIndex, const IcsInfo& ics, int32_t* spec, bool analysis);

// Long-term prediction.
void LtpPredict(AacDecoderState* d, const IcsInfo& ics, int32_t* spec, int channel, int rateIndex);
void ForwardMdct(const AacDsp& dsp, int32_t* time, int windowSequence, int32_t* scratch, int prevShape, int shape);
void LtpUpdateHistory(int16_t* history, const int16_t* output, int stride);

// Filterbank.
// `spec` carries `extraBits` fractional bits beyond x 8 (ChannelFrame).
void ImdctFilterbank(const AacDsp& dsp, int prevShape, int windowSequence, int shape, int32_t* spec, int extraBits,
                     int32_t* row2048, int32_t* scratch, int64_t* overlap, int16_t* output, int stride);
// N = 1024 or 128 coefficients, in place in `spec`; scratch holds N values.
void InverseTransformCore(const AacDsp& dsp, int32_t* spec, int32_t* scratch, int n);
// Complex FFT of 512 or 64 points, input in bit-reversed order.
void Fft(const AacDsp& dsp, int32_t* data, int points);

}  // namespace heaac
