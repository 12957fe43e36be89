#pragma once
// The low-power (real-valued) SBR tool of ISO/IEC 14496-3 4.6.18: per-channel
// state, frame data, frequency band tables, payload parsing, the QMF banks,
// HF generation and envelope adjustment. Fixed point only.
//
// Scales: the QMF matrix holds the standard's real-valued subband samples
// (16-bit PCM input) times 2^kSbrQmfScaleBits; envelope energies are 1/4 of
// the standard's E_orig as unsigned integers; noise floors are Q25.

#include <cstddef>
#include <cstdint>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/sbr_qmf_dsp.h"

namespace heaac {

inline constexpr int kSbrQmfScaleBits = 5;
inline constexpr int kSbrMatrixRows = 66;     // subbands 0..63, row 64 spare, row 65 leakage into k_x - 1
inline constexpr int kSbrMatrixColumns = 40;  // 8 slots of the previous frame, then 32
inline constexpr int kSbrMatrixValues = kSbrMatrixRows * kSbrMatrixColumns;
inline constexpr int kSbrLeakageRow = 65;
inline constexpr int kSbrMaxEnvelopes = 5;
inline constexpr int kSbrMaxBands = 48;
inline constexpr int kSbrMaxNoiseBands = 5;
inline constexpr int kSbrMaxPatches = 5;
inline constexpr int kSbrMasterRoom = 49;
inline constexpr int kSbrHistoryWords = 64 * 8 + 16;

// Results of the payload parse besides 0.
inline constexpr int kSbrNoHeaderYet = 12;
inline constexpr int kSbrBadGrid = -1;
inline constexpr int kSbrBadTables = -3;

enum SbrFrameClass : uint8_t { kFixFix = 0, kFixVar = 1, kVarFix = 2, kVarVar = 3 };

struct SbrChannel {
  uint32_t sbrRate;
  uint8_t waitingForHeader;
  uint8_t rateIndex;   // into the twelve-rate table, of the SBR rate
  uint8_t rateFactor;  // 2: 64-band synthesis, 1: 32-band synthesis
  uint8_t crcFlag;
  uint8_t tableFlag;
  uint8_t masterFlag;
  uint8_t limiterFlag;
  // Header values.
  uint8_t ampRes;
  uint8_t startFreq;
  uint8_t stopFreq;
  uint8_t xoverBand;
  uint8_t freqScale;
  uint8_t alterScale;
  uint8_t noiseBands;
  uint8_t limiterBands;
  uint8_t limiterGains;
  uint8_t interpolFreq;
  uint8_t smoothingMode;
  // Table sizes.
  uint8_t nMaster;
  uint8_t nHigh;
  uint8_t k2;
  uint8_t nLow;
  uint8_t nQ;
  uint8_t numPatches;
  uint8_t nL;
  // State carried from the previous frame.
  uint8_t prevFreqRes;
  uint8_t prevAddHarmonicFlag;
  int8_t prevTransient;  // 0: envelope 0 of this frame is transient; -1 none
  int8_t phaseSign;
  uint8_t prevKx;
  int8_t prevHighMinusKx;  // f_high[N_high] - k_x of the previous frame
  uint8_t prevLastBorder;
  uint8_t fMaster[kSbrMasterRoom];
  uint8_t fLow[kSbrMaxBands / 2 + 2];
  uint8_t fNoise[kSbrMaxNoiseBands + 1];
  uint8_t patchStart[kSbrMaxPatches];
  uint8_t patchWidth[kSbrMaxPatches];
  uint8_t limiter[kSbrMaxBands + kSbrMaxPatches + 2];
  uint8_t* prevAddHarmonic;  // [48]
  uint8_t* prevInvfMode;     // [5]
  uint8_t analysisPos;
  uint8_t synthesisPos;
  uint8_t noiseBandOf[64];
  uint16_t noiseIndex;
  int16_t* prevChirp;         // [5], Q15
  int16_t* analysisBuffer;    // [320]
  const uint8_t* fHigh;       // into fMaster at xoverBand
  int32_t* synthesisBuffer;   // [640]
  int32_t* prevEnvelope;      // [48], quantised
  int32_t* prevNoise;         // [5], quantised
  int32_t* history;           // [kSbrHistoryWords]
  SbrQmfDsp qmfDsp;           // window kernels, chosen at reset
};

// Bytes of one channel's working buffers (each set 4-byte aligned).
size_t SbrChannelBufferBytes();
// Points the channel's buffers into `buffers` (SbrChannelBufferBytes bytes).
void AttachSbrChannelBuffers(SbrChannel* ch, uint8_t* buffers);
// Reset defaults; clears every buffer.
void ResetSbrChannel(SbrChannel* ch, int rateFactor, uint32_t sbrRate, int rateIndex);

struct SbrFrameData {
  int32_t envelope[kSbrMaxEnvelopes][kSbrMaxBands];
  int32_t noise[2][kSbrMaxNoiseBands];
  uint8_t channel;
  uint8_t elementKind;  // 0 SCE, 1 CPE
  uint8_t valid;
  uint8_t coupling;
  uint8_t ampRes;
  int8_t transient;  // l_A, -1 none
  uint8_t frameClass;
  uint8_t numEnvelopes;
  uint8_t numNoise;
  uint8_t tE[kSbrMaxEnvelopes + 1];
  uint8_t tQ[3];
  uint8_t freqRes[kSbrMaxEnvelopes];
  uint8_t invfMode[kSbrMaxNoiseBands];
  uint8_t dfEnv[kSbrMaxEnvelopes];
  uint8_t dfNoise[2];
  uint8_t addHarmonicFlag;
  uint8_t addHarmonic[kSbrMaxBands];
};

// Frequency band tables.
// log2(n) in Q29 for n = 1..64.
int64_t SbrLog2(int n);
int BuildSbrMasterTable(SbrChannel* ch);
int BuildSbrDerivedTables(SbrChannel* ch);
void BuildSbrPatches(SbrChannel* ch);
void BuildSbrLimiterTable(SbrChannel* ch);
int RebuildSbrTables(SbrChannel* ch);
// k_x and k2 of the channel's current tables.
inline int SbrKx(const SbrChannel& ch) { return ch.fHigh[0]; }

// Payload parse: `channels` points at the element's first channel pointer
// (a pair's second follows it), `fd` at its frame data (likewise).
int ParseSbrExtension(SbrChannel** channels, SbrFrameData* fd, AacBitReader* r, int crc);
int ParseSbrGrid(AacBitReader* r, SbrFrameData* fd);
int DecodeSbrHuffman(AacBitReader* r, int table);
void DequantiseSbrSingle(SbrFrameData* fd, const SbrChannel& ch);
void DequantiseSbrCoupled(SbrFrameData* left, SbrFrameData* right, const SbrChannel& ch);

// QMF banks. The matrix is row-major: row k, column t at [k * 40 + t].
void SbrQmfAnalysis(SbrChannel* ch, const int16_t* pcm, int32_t* matrix, int stride);
void SbrQmfSynthesis64(SbrChannel* ch, const int32_t* matrix, int16_t* out, int stride);
void SbrQmfSynthesis32(SbrChannel* ch, const int32_t* matrix, int16_t* out, int stride);

// HF generation.
void UpdateSbrChirp(SbrChannel* ch, const uint8_t* invfMode, int16_t* chirp);
void GenerateSbrHighBand(SbrChannel* ch, const SbrFrameData& fd, int32_t* matrix, int32_t* work,
                         int32_t* degreeOut);
// Work values that GenerateSbrHighBand needs.
inline constexpr int kSbrHfWorkValues = 3 * 64;

// Envelope adjustment of rows k_x .. k2 - 1 (leakage into row 65 and k2).
void AdjustSbrEnvelopes(SbrChannel* ch, const SbrFrameData& fd, int32_t* matrix, const int32_t* degree);

// Runs SBR for one channel over the core's 1024 samples at `out` (stride
// `stride`); returns the samples written (2048 or 1024).
int ApplySbr(const SbrFrameData& fd, SbrChannel* const* channels, int16_t* out, int stride, int32_t* work);

}  // namespace heaac
