// SBR payload parsing: sbr_extension_data and below (ISO/IEC 14496-3
// 4.4.2.8, 4.5.2.8), delta decoding and dequantisation (4.6.18.3.5).
#include <algorithm>
#include <cstring>
#include <mutex>

#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_tables.h"

namespace heaac {
namespace {

// Decoding trees built once from the code tables: node [i][bit] >= 0 is the
// next node, < 0 a leaf holding value - 1000.
constexpr int kLeafBase = -1000;
struct HuffTree {
  int16_t node[2 * 60 + 1][2];
};
HuffTree gTrees[kSbrHuffTableCount];

void BuildTrees() {
  for (int t = 0; t < kSbrHuffTableCount; ++t) {
    const SbrHuffTable& table = kSbrHuffTables[t];
    HuffTree& tree = gTrees[t];
    for (auto& n : tree.node) n[0] = n[1] = 0;
    int used = 1;
    for (int i = 0; i <= 2 * table.lav; ++i) {
      const SbrHuffCode& c = table.codes[i];
      int node = 0;
      for (int b = c.length - 1; b >= 0; --b) {
        const int bit = (c.code >> b) & 1;
        if (b == 0) {
          tree.node[node][bit] = static_cast<int16_t>(kLeafBase + i - table.lav);
        } else {
          if (tree.node[node][bit] == 0) tree.node[node][bit] = static_cast<int16_t>(used++);
          node = tree.node[node][bit];
        }
      }
    }
  }
}

const HuffTree& Tree(int table) {
  static std::once_flag once;
  std::call_once(once, BuildTrees);
  return gTrees[table];
}

// Frequency-resolution bands of an envelope.
int BandCount(const SbrChannel& ch, int freqRes) { return freqRes ? ch.nHigh : ch.nLow; }

int ReadGridBorders(AacBitReader* r, int count, uint8_t* rel) {
  for (int i = 0; i < count; ++i) rel[i] = static_cast<uint8_t>(2 * (AacGetBits(r, 2) + 1));
  return 0;
}

int PointerBits(int envelopes) {
  int bits = 0;
  while ((1 << bits) < envelopes + 1) ++bits;
  return bits;
}

void ParseDtdf(AacBitReader* r, SbrFrameData* fd) {
  for (int l = 0; l < fd->numEnvelopes; ++l) fd->dfEnv[l] = static_cast<uint8_t>(AacGetBits(r, 1));
  for (int l = 0; l < fd->numNoise; ++l) fd->dfNoise[l] = static_cast<uint8_t>(AacGetBits(r, 1));
}

void ParseInvf(AacBitReader* r, SbrFrameData* fd, int nQ) {
  for (int i = 0; i < nQ; ++i) fd->invfMode[i] = static_cast<uint8_t>(AacGetBits(r, 2));
}

void ParseEnvelope(const SbrChannel& ch, SbrFrameData* fd, AacBitReader* r, bool balance) {
  fd->ampRes = fd->frameClass == kFixFix && fd->numEnvelopes == 1 ? 0 : ch.ampRes;
  const bool coarse = fd->ampRes != 0;
  int tTable;
  int fTable;
  if (balance) {
    tTable = coarse ? kSbrHuffTEnvBal30 : kSbrHuffTEnvBal15;
    fTable = coarse ? kSbrHuffFEnvBal30 : kSbrHuffFEnvBal15;
  } else {
    tTable = coarse ? kSbrHuffTEnv30 : kSbrHuffTEnv15;
    fTable = coarse ? kSbrHuffFEnv30 : kSbrHuffFEnv15;
  }
  const int shift = balance ? 1 : 0;
  const int startBits = (coarse ? 6 : 7) - shift;
  for (int l = 0; l < fd->numEnvelopes; ++l) {
    const int n = BandCount(ch, fd->freqRes[l]);
    int32_t* v = fd->envelope[l];
    if (fd->dfEnv[l]) {
      for (int k = 0; k < n; ++k) v[k] = DecodeSbrHuffman(r, tTable) * (1 << shift);
    } else {
      v[0] = static_cast<int32_t>(AacGetBits(r, startBits)) << shift;
      for (int k = 1; k < n; ++k) v[k] = DecodeSbrHuffman(r, fTable) * (1 << shift);
    }
  }
}

void ParseNoise(SbrFrameData* fd, int nQ, AacBitReader* r, bool balance) {
  const int tTable = balance ? kSbrHuffTNoiseBal30 : kSbrHuffTNoise30;
  const int fTable = balance ? kSbrHuffFEnvBal30 : kSbrHuffFEnv30;
  const int shift = balance ? 1 : 0;
  for (int l = 0; l < fd->numNoise; ++l) {
    int32_t* v = fd->noise[l];
    if (fd->dfNoise[l]) {
      for (int k = 0; k < nQ; ++k) v[k] = DecodeSbrHuffman(r, tTable) * (1 << shift);
    } else {
      v[0] = static_cast<int32_t>(AacGetBits(r, 5)) << shift;
      for (int k = 1; k < nQ; ++k) v[k] = DecodeSbrHuffman(r, fTable) * (1 << shift);
    }
  }
}

void DecodeEnvelopeDeltas(SbrChannel* ch, SbrFrameData* fd) {
  for (int l = 0; l < fd->numEnvelopes; ++l) {
    const int res = fd->freqRes[l];
    const int n = BandCount(*ch, res);
    int32_t* v = fd->envelope[l];
    if (!fd->dfEnv[l]) {
      for (int k = 1; k < n; ++k) v[k] += v[k - 1];
      continue;
    }
    const int32_t* prev = l == 0 ? ch->prevEnvelope : fd->envelope[l - 1];
    const int prevRes = l == 0 ? ch->prevFreqRes : fd->freqRes[l - 1];
    if (res == prevRes) {
      for (int k = 0; k < n; ++k) v[k] += prev[k];
    } else if (res == 0) {
      // Low resolution from high: the high band that starts where this one does.
      for (int k = 0; k < n; ++k) {
        int i = 0;
        while (i < ch->nHigh && ch->fHigh[i] != ch->fLow[k]) ++i;
        v[k] += prev[std::min(i, ch->nHigh - 1)];
      }
    } else {
      for (int k = 0; k < n; ++k) {
        int i = 0;
        while (i + 1 < ch->nLow && ch->fLow[i + 1] <= ch->fHigh[k]) ++i;
        v[k] += prev[i];
      }
    }
  }
  const int last = fd->numEnvelopes - 1;
  std::memcpy(ch->prevEnvelope, fd->envelope[last], sizeof(int32_t) * kSbrMaxBands);
  ch->prevFreqRes = fd->freqRes[last];
}

void DecodeNoiseDeltas(SbrChannel* ch, SbrFrameData* fd) {
  for (int l = 0; l < fd->numNoise; ++l) {
    int32_t* v = fd->noise[l];
    if (fd->dfNoise[l]) {
      const int32_t* prev = l == 0 ? ch->prevNoise : fd->noise[l - 1];
      for (int k = 0; k < ch->nQ; ++k) v[k] += prev[k];
    } else {
      for (int k = 1; k < ch->nQ; ++k) v[k] += v[k - 1];
    }
  }
  std::memcpy(ch->prevNoise, fd->noise[fd->numNoise - 1], sizeof(int32_t) * kSbrMaxNoiseBands);
}

// Envelope and noise floors of one channel, each parsed and delta decoded.
void ReadEnvelope(SbrChannel* ch, SbrFrameData* fd, AacBitReader* r, bool balance) {
  ParseEnvelope(*ch, fd, r, balance);
  DecodeEnvelopeDeltas(ch, fd);
}
void ReadNoise(SbrChannel* ch, SbrFrameData* fd, AacBitReader* r, bool balance) {
  ParseNoise(fd, ch->nQ, r, balance);
  DecodeNoiseDeltas(ch, fd);
}

void ParseAddHarmonics(AacBitReader* r, SbrFrameData* fd, int nHigh) {
  fd->addHarmonicFlag = static_cast<uint8_t>(AacGetBits(r, 1));
  std::memset(fd->addHarmonic, 0, sizeof(fd->addHarmonic));
  if (fd->addHarmonicFlag) {
    for (int i = 0; i < nHigh; ++i) fd->addHarmonic[i] = static_cast<uint8_t>(AacGetBits(r, 1));
  }
}

void SkipExtendedData(AacBitReader* r) {
  if (!AacGetBits(r, 1)) return;
  uint32_t size = AacGetBits(r, 4);
  if (size == 15) size += AacGetBits(r, 8);
  AacSkipBits(r, 8 * size);
}

// A new header's tables start a new noise and sinusoid sequence.
void TakeNewTables(SbrChannel* ch) {
  if (!ch->tableFlag) return;
  ch->tableFlag = 0;
  ch->noiseIndex = 0;
  ch->phaseSign = 1;
}

void ParseSbrHeader(SbrChannel* ch, AacBitReader* r) {
  ch->ampRes = static_cast<uint8_t>(AacGetBits(r, 1));
  const uint8_t start = static_cast<uint8_t>(AacGetBits(r, 4));
  const uint8_t stop = static_cast<uint8_t>(AacGetBits(r, 4));
  const uint8_t xover = static_cast<uint8_t>(AacGetBits(r, 3));
  AacSkipBits(r, 2);
  const uint32_t extra1 = AacGetBits(r, 1);
  const uint32_t extra2 = AacGetBits(r, 1);
  uint8_t freqScale = ch->freqScale;
  uint8_t alterScale = ch->alterScale;
  uint8_t noiseBands = ch->noiseBands;
  uint8_t limiterBands = ch->limiterBands;
  if (extra1) {
    freqScale = static_cast<uint8_t>(AacGetBits(r, 2));
    alterScale = static_cast<uint8_t>(AacGetBits(r, 1));
    noiseBands = static_cast<uint8_t>(AacGetBits(r, 2));
  }
  if (extra2) {
    limiterBands = static_cast<uint8_t>(AacGetBits(r, 2));
    ch->limiterGains = static_cast<uint8_t>(AacGetBits(r, 2));
    ch->interpolFreq = static_cast<uint8_t>(AacGetBits(r, 1));
    ch->smoothingMode = static_cast<uint8_t>(AacGetBits(r, 1));
  }
  const bool master =
      start != ch->startFreq || stop != ch->stopFreq || freqScale != ch->freqScale || alterScale != ch->alterScale;
  const bool table = master || xover != ch->xoverBand || noiseBands != ch->noiseBands;
  const bool limiter = table || limiterBands != ch->limiterBands;
  ch->masterFlag |= master;
  ch->tableFlag |= table;
  ch->limiterFlag |= limiter;
  ch->startFreq = start;
  ch->stopFreq = stop;
  ch->xoverBand = xover;
  ch->freqScale = freqScale;
  ch->alterScale = alterScale;
  ch->noiseBands = noiseBands;
  ch->limiterBands = limiterBands;
}

int ParseSingleChannel(SbrChannel* ch, SbrFrameData* fd, AacBitReader* r) {
  if (AacGetBits(r, 1)) AacSkipBits(r, 4);
  TakeNewTables(ch);
  fd->coupling = 0;
  if (ParseSbrGrid(r, fd) < 0) return kSbrBadGrid;
  ParseDtdf(r, fd);
  ParseInvf(r, fd, ch->nQ);
  ReadEnvelope(ch, fd, r, false);
  ReadNoise(ch, fd, r, false);
  DequantiseSbrSingle(fd, *ch);
  ParseAddHarmonics(r, fd, ch->nHigh);
  SkipExtendedData(r);
  fd->valid = 1;
  return 0;
}

void CopyGrid(SbrFrameData* dst, const SbrFrameData& src) {
  dst->frameClass = src.frameClass;
  dst->numEnvelopes = src.numEnvelopes;
  dst->numNoise = src.numNoise;
  dst->transient = src.transient;
  std::memcpy(dst->freqRes, src.freqRes, sizeof(src.freqRes));
  std::memcpy(dst->tE, src.tE, sizeof(src.tE));
  std::memcpy(dst->tQ, src.tQ, sizeof(src.tQ));
}

// The second channel of a pair follows the first one's tables: new ones,
// and also whenever it holds none or others. A pair may follow a single
// channel element that took the first channel's header (a damaged or hostile
// stream), and then no header of its own reaches the second channel: left
// without tables it would run with an empty high band.
void ShareTables(SbrChannel* a, SbrChannel* b) {
  b->ampRes = a->ampRes;
  b->limiterGains = a->limiterGains;
  b->interpolFreq = a->interpolFreq;
  b->smoothingMode = a->smoothingMode;
  const bool sameTables = !b->waitingForHeader && b->nMaster == a->nMaster && b->xoverBand == a->xoverBand &&
                          b->nQ == a->nQ && std::memcmp(b->fMaster, a->fMaster, a->nMaster + 1u) == 0;
  const bool sameLimiter =
      sameTables && b->nL == a->nL && std::memcmp(b->limiter, a->limiter, a->nL + 1u) == 0;
  if (a->tableFlag || !sameTables) {
    TakeNewTables(a);
    b->noiseIndex = 0;
    b->phaseSign = 1;
    b->tableFlag = 0;
    std::memcpy(b->fMaster, a->fMaster, sizeof(a->fMaster));
    b->nMaster = a->nMaster;
    b->xoverBand = a->xoverBand;
    b->fHigh = b->fMaster + a->xoverBand;
    b->nHigh = a->nHigh;
    b->nLow = a->nLow;
    b->nQ = a->nQ;
    b->k2 = a->k2;
    b->numPatches = a->numPatches;
    std::memcpy(b->fLow, a->fLow, sizeof(a->fLow));
    std::memcpy(b->fNoise, a->fNoise, sizeof(a->fNoise));
    std::memcpy(b->patchStart, a->patchStart, sizeof(a->patchStart));
    std::memcpy(b->patchWidth, a->patchWidth, sizeof(a->patchWidth));
    std::memcpy(b->noiseBandOf, a->noiseBandOf, sizeof(a->noiseBandOf));
  }
  if (a->limiterFlag || !sameLimiter) {
    a->limiterFlag = 0;
    std::memcpy(b->limiter, a->limiter, sizeof(a->limiter));
    b->nL = a->nL;
  }
  b->waitingForHeader = 0;
}

int ParseChannelPair(SbrChannel* a, SbrChannel* b, SbrFrameData* fa, SbrFrameData* fb, AacBitReader* r) {
  if (AacGetBits(r, 1)) AacSkipBits(r, 8);
  const uint8_t coupling = static_cast<uint8_t>(AacGetBits(r, 1));
  fa->coupling = fb->coupling = coupling;
  ShareTables(a, b);
  if (coupling) {
    if (ParseSbrGrid(r, fa) < 0) return kSbrBadGrid;
    CopyGrid(fb, *fa);
    ParseDtdf(r, fa);
    ParseDtdf(r, fb);
    ParseInvf(r, fa, a->nQ);
    std::memcpy(fb->invfMode, fa->invfMode, sizeof(fa->invfMode));
    ReadEnvelope(a, fa, r, false);
    ReadNoise(a, fa, r, false);
    ReadEnvelope(b, fb, r, true);
    ReadNoise(b, fb, r, true);
    DequantiseSbrCoupled(fa, fb, *a);
  } else {
    if (ParseSbrGrid(r, fa) < 0 || ParseSbrGrid(r, fb) < 0) return kSbrBadGrid;
    ParseDtdf(r, fa);
    ParseDtdf(r, fb);
    ParseInvf(r, fa, a->nQ);
    ParseInvf(r, fb, b->nQ);
    ReadEnvelope(a, fa, r, false);
    ReadEnvelope(b, fb, r, false);
    ReadNoise(a, fa, r, false);
    ReadNoise(b, fb, r, false);
    DequantiseSbrSingle(fa, *a);
    DequantiseSbrSingle(fb, *b);
  }
  ParseAddHarmonics(r, fa, a->nHigh);
  ParseAddHarmonics(r, fb, b->nHigh);
  SkipExtendedData(r);
  fa->valid = fb->valid = 1;
  return 0;
}

// 2^(a + 4) as unsigned, with a half step (x sqrt 2) when `half`. Below the
// range the energy is 0; above it, louder than any 16-bit output can carry,
// it is held at the largest value rather than falling silent.
uint32_t EnvelopeEnergy(int32_t a, bool half) {
  if (a < 0) return 0;
  if (a > 27) return 0xFFFFFFFFu;
  if (half) return static_cast<uint32_t>(0xB504F333u >> (27 - a));
  return 1u << (a + 4);
}

// 2^(31 - value), Q25 noise floor 2^(6 - value); quieter than 2^-25 is 0,
// and louder than 2^5 is held there (a hostile delta could ask for more).
int32_t NoiseFloor(int32_t value) {
  if (value >= 31) return 0;
  return static_cast<int32_t>(1u << (31 - std::max(value, 1)));
}

// x / (1 + 2^-d) in Q31 for x in Q31 (0 <= d), by one 64-bit division.
uint32_t DivOnePlusPow2(uint32_t x, int d) {
  const uint64_t denom = (uint64_t{1} << 32) + (d >= 32 ? 0 : (uint64_t{1} << (32 - d)));
  return static_cast<uint32_t>((static_cast<uint64_t>(x) << 32) / denom);
}

// x x 2^shift, saturated to 32 unsigned bits.
uint32_t ShiftSat(uint64_t x, int shift) {
  if (x == 0) return 0;
  if (shift <= -64) return 0;
  if (shift < 0) return static_cast<uint32_t>(x >> -shift);
  if (shift >= 32 || (x << shift) >> shift != x || (x << shift) > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(x << shift);
}

}  // namespace

int DecodeSbrHuffman(AacBitReader* r, int table) {
  const HuffTree& tree = Tree(table);
  int node = 0;
  for (int bits = 0; bits < 24; ++bits) {
    const int next = tree.node[node][AacGetBits(r, 1)];
    if (next < 0) return next - kLeafBase;
    if (next == 0) break;
    node = next;
  }
  return 0;
}

int ParseSbrGrid(AacBitReader* r, SbrFrameData* fd) {
  const int frameClass = static_cast<int>(AacGetBits(r, 2));
  fd->frameClass = static_cast<uint8_t>(frameClass);
  uint8_t rel0[4] = {};
  uint8_t rel1[4] = {};
  int envelopes = 0;
  int pointer = 0;
  int middle = 0;
  int transient = -1;
  uint8_t* tE = fd->tE;
  switch (frameClass) {
    case kFixFix: {
      const int tmp = static_cast<int>(AacGetBits(r, 2));
      envelopes = 1 << tmp;
      if (envelopes > kSbrMaxEnvelopes) return kSbrBadTables;
      const uint8_t res = static_cast<uint8_t>(AacGetBits(r, 1));
      for (int l = 0; l < envelopes; ++l) fd->freqRes[l] = res;
      for (int l = 0; l <= envelopes; ++l) tE[l] = static_cast<uint8_t>(16 * l / envelopes);
      middle = envelopes / 2;
      break;
    }
    case kFixVar: {
      const int varBord1 = static_cast<int>(AacGetBits(r, 2));
      const int numRel1 = static_cast<int>(AacGetBits(r, 2));
      envelopes = numRel1 + 1;
      ReadGridBorders(r, numRel1, rel1);
      pointer = static_cast<int>(AacGetBits(r, PointerBits(envelopes)));
      for (int l = envelopes - 1; l >= 0; --l) fd->freqRes[l] = static_cast<uint8_t>(AacGetBits(r, 1));
      tE[0] = 0;
      tE[envelopes] = static_cast<uint8_t>(16 + varBord1);
      for (int l = envelopes - 1; l >= 1; --l) {
        tE[l] = static_cast<uint8_t>(tE[l + 1] - rel1[envelopes - 1 - l]);
      }
      middle = pointer > 1 ? envelopes - pointer + 1 : envelopes - 1;
      transient = pointer > 0 ? envelopes + 1 - pointer : -1;
      break;
    }
    case kVarFix: {
      const int varBord0 = static_cast<int>(AacGetBits(r, 2));
      const int numRel0 = static_cast<int>(AacGetBits(r, 2));
      envelopes = numRel0 + 1;
      ReadGridBorders(r, numRel0, rel0);
      pointer = static_cast<int>(AacGetBits(r, PointerBits(envelopes)));
      for (int l = 0; l < envelopes; ++l) fd->freqRes[l] = static_cast<uint8_t>(AacGetBits(r, 1));
      tE[0] = static_cast<uint8_t>(varBord0);
      tE[envelopes] = 16;
      for (int l = 1; l < envelopes; ++l) tE[l] = static_cast<uint8_t>(tE[l - 1] + rel0[l - 1]);
      middle = pointer == 0 ? 1 : pointer == 1 ? envelopes - 1 : pointer - 1;
      transient = pointer > 1 ? pointer - 1 : -1;
      break;
    }
    default: {
      const int varBord0 = static_cast<int>(AacGetBits(r, 2));
      const int varBord1 = static_cast<int>(AacGetBits(r, 2));
      const int numRel0 = static_cast<int>(AacGetBits(r, 2));
      const int numRel1 = static_cast<int>(AacGetBits(r, 2));
      envelopes = numRel0 + numRel1 + 1;
      if (envelopes > kSbrMaxEnvelopes) return kSbrBadTables;
      ReadGridBorders(r, numRel0, rel0);
      ReadGridBorders(r, numRel1, rel1);
      pointer = static_cast<int>(AacGetBits(r, PointerBits(envelopes)));
      for (int l = 0; l < envelopes; ++l) fd->freqRes[l] = static_cast<uint8_t>(AacGetBits(r, 1));
      tE[0] = static_cast<uint8_t>(varBord0);
      tE[envelopes] = static_cast<uint8_t>(16 + varBord1);
      // Borders are computed in int and checked below, so none can wrap.
      int t[kSbrMaxEnvelopes + 1];
      t[0] = varBord0;
      t[envelopes] = 16 + varBord1;
      for (int l = 1; l <= numRel0; ++l) t[l] = t[l - 1] + rel0[l - 1];
      for (int l = envelopes - 1; l > numRel0; --l) t[l] = t[l + 1] - rel1[envelopes - 1 - l];
      for (int l = 0; l <= envelopes; ++l) {
        if (t[l] < 0 || t[l] > 19) return kSbrBadTables;
        tE[l] = static_cast<uint8_t>(t[l]);
      }
      middle = pointer > 1 ? envelopes - pointer + 1 : envelopes - 1;
      transient = pointer > 0 ? envelopes + 1 - pointer : -1;
      break;
    }
  }
  // Borders must rise strictly within the 20 border positions, and the
  // pointer must name an envelope border, or envelopes would address QMF
  // columns outside the matrix.
  if (pointer > envelopes + 1) return kSbrBadTables;
  for (int l = 0; l < envelopes; ++l) {
    if (tE[l] >= tE[l + 1] || tE[l + 1] > 19) return kSbrBadTables;
  }
  if (middle < 0 || middle > envelopes) return kSbrBadTables;
  fd->numEnvelopes = static_cast<uint8_t>(envelopes);
  fd->transient = static_cast<int8_t>(transient);
  if (envelopes == 1) {
    fd->numNoise = 1;
    fd->tQ[0] = tE[0];
    fd->tQ[1] = tE[1];
  } else {
    fd->numNoise = 2;
    fd->tQ[0] = tE[0];
    fd->tQ[1] = tE[middle];
    fd->tQ[2] = tE[envelopes];
  }
  return 0;
}

void DequantiseSbrSingle(SbrFrameData* fd, const SbrChannel& ch) {
  const bool fine = fd->ampRes == 0;
  for (int l = 0; l < fd->numEnvelopes; ++l) {
    const int n = BandCount(ch, fd->freqRes[l]);
    for (int k = 0; k < n; ++k) {
      const int32_t v = fd->envelope[l][k];
      const int32_t a = fine ? v >> 1 : v;
      fd->envelope[l][k] = static_cast<int32_t>(EnvelopeEnergy(a, fine && (v & 1)));
    }
  }
  for (int l = 0; l < fd->numNoise; ++l) {
    for (int k = 0; k < ch.nQ; ++k) fd->noise[l][k] = NoiseFloor(fd->noise[l][k]);
  }
}

void DequantiseSbrCoupled(SbrFrameData* left, SbrFrameData* right, const SbrChannel& ch) {
  const bool fine = left->ampRes == 0;
  const int shift = fine ? 1 : 0;
  right->ampRes = left->ampRes;
  for (int l = 0; l < left->numEnvelopes; ++l) {
    const int n = BandCount(ch, left->freqRes[l]);
    for (int k = 0; k < n; ++k) {
      const int32_t level = left->envelope[l][k];
      const int32_t a = level >> shift;
      const int32_t b = right->envelope[l][k] >> shift;
      // 2^(a + 7) / (1 + 2^(12 - b)) and / (1 + 2^(b - 12)): one side divides
      // by 1 + 2^-|d|, the other is 2^-|d| of it. A hostile balance may hold
      // any 32-bit value; past 64 steps the quiet side is 0 and the loud one
      // whole, as at 64, so d is taken in 64 bits and held there.
      const int d = static_cast<int>(std::clamp<int64_t>(int64_t{12} - b, -64, 64));
      const int ad = d < 0 ? -d : d;
      const uint32_t numerator = fine && (level & 1) ? 0x5A827999u : 0x40000000u;  // Q31: sqrt 0.5, 0.5
      const uint32_t q = DivOnePlusPow2(numerator, ad);                        // Q31
      // E = q x 2^(a + 7 + 1 - 31) x 1/4 (the stored scale): shift a - 25.
      const uint32_t loud = a < 0 || a > 40 ? 0 : ShiftSat(q, a - 25);
      const uint32_t quiet = a < 0 || a > 40 ? 0 : ShiftSat(q, a - 25 - ad);
      // d > 0: the right channel is the louder.
      left->envelope[l][k] = static_cast<int32_t>(d > 0 ? quiet : loud);
      right->envelope[l][k] = static_cast<int32_t>(d > 0 ? loud : quiet);
    }
  }
  for (int l = 0; l < left->numNoise; ++l) {
    for (int k = 0; k < ch.nQ; ++k) {
      const int32_t q0 = left->noise[l][k];
      const int32_t q1 = right->noise[l][k];
      if (q0 >= 31 || q0 < 0 || q1 >= 25 || q1 < 0) {
        left->noise[l][k] = right->noise[l][k] = 0;
        continue;
      }
      // 2^(7 - q0) / (1 + 2^(12 - q1)) in Q25: Q31 1.0 / (1 + 2^-|d|) x 2^(7 - q0 - 6).
      const int d = 12 - q1;
      const int ad = d < 0 ? -d : d;
      const uint32_t q = DivOnePlusPow2(0x80000000u, ad);  // Q31
      const uint32_t loud = ShiftSat(q, 1 - q0);
      const uint32_t quiet = ShiftSat(q, 1 - q0 - ad);
      left->noise[l][k] = static_cast<int32_t>(std::min<uint32_t>(d > 0 ? quiet : loud, INT32_MAX));
      right->noise[l][k] = static_cast<int32_t>(std::min<uint32_t>(d > 0 ? loud : quiet, INT32_MAX));
    }
  }
}

int ParseSbrExtension(SbrChannel** channels, SbrFrameData* fd, AacBitReader* r, int crc) {
  SbrChannel* ch = channels[0];
  if (crc) {
    ch->crcFlag = 1;
    AacSkipBits(r, 10);
  }
  const uint32_t headerFlag = AacGetBits(r, 1);
  if (!headerFlag && ch->waitingForHeader) return kSbrNoHeaderYet;
  if (headerFlag) {
    ParseSbrHeader(ch, r);
    if (ch->tableFlag) {
      const int result = RebuildSbrTables(ch);
      if (result != 0) {
        // Unusable tables: wait for a header that gives good ones.
        ch->waitingForHeader = 1;
        ch->masterFlag = ch->tableFlag = ch->limiterFlag = 1;
        return result;
      }
    }
    if (ch->limiterFlag) BuildSbrLimiterTable(ch);
  }
  ch->waitingForHeader = 0;
  int result = 0;
  if (fd->elementKind == 0) {
    result = ParseSingleChannel(ch, fd, r);
    ch->limiterFlag = 0;
  } else if (fd->elementKind == 1) {
    result = ParseChannelPair(ch, channels[1], fd, fd + 1, r);
  }
  return result;
}

}  // namespace heaac
