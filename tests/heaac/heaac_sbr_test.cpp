// The SBR tool's parts on their own: band tables, grids and headers, Huffman
// codes, dequantisation, chirp factors, aliasing reduction and the QMF
// banks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_tables.h"
#include "tests/heaac/aac_test_util.h"

namespace heaac {
namespace {

using aactest::BitWriter;

// A channel with its buffers, reset for an SBR rate.
struct Channel {
  explicit Channel(uint32_t sbrRate = 44100, int rateIndex = 4, int factor = 2)
      : buffers(SbrChannelBufferBytes() + 8) {
    AttachSbrChannelBuffers(&ch, buffers.data());
    ResetSbrChannel(&ch, factor, sbrRate, rateIndex);
  }
  SbrChannel ch{};
  std::vector<uint8_t> buffers;
};

// Tables for a header given by its band fields.
int Tables(SbrChannel* ch, int start, int stop, int freqScale, int alterScale, int xover = 0) {
  ch->startFreq = static_cast<uint8_t>(start);
  ch->stopFreq = static_cast<uint8_t>(stop);
  ch->freqScale = static_cast<uint8_t>(freqScale);
  ch->alterScale = static_cast<uint8_t>(alterScale);
  ch->xoverBand = static_cast<uint8_t>(xover);
  ch->masterFlag = 1;
  return RebuildSbrTables(ch);
}

int Sum(const uint8_t* f, int n) { return f[n] - f[0]; }

TEST(HeaacSbrTables, Log2InQ29) {
  EXPECT_EQ(SbrLog2(1), 0);
  EXPECT_EQ(SbrLog2(2), int64_t{1} << 29);
  EXPECT_EQ(SbrLog2(64), int64_t{6} << 29);
  for (int n : {3, 5, 12, 45, 63}) {
    EXPECT_NEAR(static_cast<double>(SbrLog2(n)), std::log2(n) * 536870912.0, 1.0) << n;
  }
}

// start_freq 5, stop_freq 14 at 44.1 kHz: k0 = 12 + 2, k2 = 2 k0. The stop
// rows come from the formula; the 96 kHz and 16 kHz rows are fixed points.
TEST(HeaacSbrTables, StartAndStopBands) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 14, 2, 1), 0);
  EXPECT_EQ(c.ch.fMaster[0], 14);
  EXPECT_EQ(c.ch.k2, 28);
  const uint8_t row96[14] = {13, 15, 17, 19, 21, 24, 27, 31, 35, 39, 44, 50, 57, 64};
  const uint8_t row16[14] = {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 60, 62, 64};
  EXPECT_EQ(std::memcmp(kSbrStopTable[0], row96, 14), 0);
  EXPECT_EQ(std::memcmp(kSbrStopTable[8], row16, 14), 0);
}

TEST(HeaacSbrTables, LinearAndLogarithmicMasterTables) {
  // Linear, alter_scale off, k2 - k0 odd (14 .. 47 is 33): 32 bands of one
  // subband, the last one takes the remainder.
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 0, 0), 0);
  ASSERT_EQ(c.ch.nMaster, 32);
  EXPECT_EQ(Sum(c.ch.fMaster, 32), 33);
  EXPECT_EQ(c.ch.fMaster[32] - c.ch.fMaster[31], 2);
  for (int i = 0; i < 31; ++i) EXPECT_EQ(c.ch.fMaster[i + 1] - c.ch.fMaster[i], 1) << i;
  // Two regions (14 .. 47 spans more than 2.2449): with alter_scale off the
  // second region keeps the first one's density (10 bands per octave).
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 0), 0);
  const int withoutWarp = c.ch.nMaster;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  const int withWarp = c.ch.nMaster;
  EXPECT_EQ(withoutWarp, 10 + 2 * static_cast<int>(std::floor(10 * std::log2(47.0 / 28.0) / 2 + 0.5)));
  EXPECT_LT(withWarp, withoutWarp);
  EXPECT_EQ(c.ch.fMaster[withWarp], 47);
  for (int i = 0; i < withWarp; ++i) EXPECT_GT(c.ch.fMaster[i + 1], c.ch.fMaster[i]) << i;
}

TEST(HeaacSbrTables, RefusedHeaders) {
  Channel c;
  // N_master <= xover_band.
  ASSERT_EQ(Tables(&c.ch, 5, 0, 3, 1), 0);
  EXPECT_EQ(Tables(&c.ch, 5, 0, 3, 1, c.ch.nMaster), kSbrBadTables);
  // k2 - k0 beyond 35 at 44.1 kHz: start 0 (k0 8), stop 13 (64).
  EXPECT_EQ(Tables(&c.ch, 0, 13, 2, 1), kSbrBadTables);
  // k_x above 32 at a 32 kHz SBR rate: start 15 gives k0 32, so any xover
  // band above 0 puts k_x beyond row 31, which receives no analysis samples.
  Channel low(32000, 5);
  ASSERT_EQ(Tables(&low.ch, 15, 13, 2, 1), 0);
  EXPECT_EQ(low.ch.fMaster[0], 32);
  EXPECT_EQ(Tables(&low.ch, 15, 13, 2, 1, 1), kSbrBadTables);
  // k2 <= k0: an empty table, no error.
  Channel high(96000, 0);
  high.ch.startFreq = 15;
  high.ch.stopFreq = 0;
  EXPECT_EQ(BuildSbrMasterTable(&high.ch), 0);
  EXPECT_EQ(high.ch.nMaster, 0);
}

TEST(HeaacSbrTables, NoiseBandsPatchesAndLimiter) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  const int kx = SbrKx(c.ch);
  // N_Q = round(2 x log2(47 / 14)) = 3.
  EXPECT_EQ(c.ch.nQ, 3);
  EXPECT_EQ(c.ch.fNoise[c.ch.nQ], c.ch.fLow[c.ch.nLow] - kx);
  // The patches cover k_x .. k2 from sources below k0.
  int covered = 0;
  for (int p = 0; p < c.ch.numPatches; ++p) {
    EXPECT_GE(c.ch.patchStart[p], 1);
    EXPECT_LE(c.ch.patchStart[p] + c.ch.patchWidth[p], c.ch.fMaster[0]);
    covered += c.ch.patchWidth[p];
  }
  EXPECT_EQ(covered, c.ch.k2 - kx);
  for (int bands : {0, 2, 3}) {
    c.ch.limiterBands = static_cast<uint8_t>(bands);
    BuildSbrLimiterTable(&c.ch);
    EXPECT_EQ(c.ch.limiter[0], 0);
    EXPECT_EQ(c.ch.limiter[c.ch.nL], c.ch.k2 - kx);
    for (int j = 0; j < c.ch.nL; ++j) EXPECT_LT(c.ch.limiter[j], c.ch.limiter[j + 1]);
    if (bands == 0) {
      EXPECT_EQ(c.ch.nL, 1);
    }
  }
}

// Limiter bands at 1, 2 and 3 bands per octave (limiter_bands 1 takes 1.0,
// not 1.2). Start 2, stop 2, freq_scale 2, no alter_scale at 44.1 kHz:
// f_low 11 13 15 17 19 22 27 and patch borders 11 20 27 merge into
// 11 13 15 17 19 20 22 27; a step under 0.49 bands drops its upper border,
// or its lower one below a patch border, and two patch borders stay. At 1.0:
// 13, 15 drop (log2(15/11) = 0.447), 19, then 17 below the patch border 20,
// 22; 20..27 (0.433) joins two patch borders. At 1.2, 15 would stay (0.537).
TEST(HeaacSbrTables, LimiterBandsPerOctave) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 2, 2, 2, 0), 0);
  ASSERT_EQ(SbrKx(c.ch), 11);
  ASSERT_EQ(c.ch.k2, 27);
  const std::vector<int> expected[4] = {{0, 16}, {0, 9, 16}, {0, 4, 9, 16}, {0, 2, 4, 6, 9, 16}};
  for (int bands = 0; bands < 4; ++bands) {
    c.ch.limiterBands = static_cast<uint8_t>(bands);
    BuildSbrLimiterTable(&c.ch);
    EXPECT_EQ(std::vector<int>(c.ch.limiter, c.ch.limiter + c.ch.nL + 1), expected[bands])
        << "limiter_bands " << bands;
  }
}

// Patches (ISO/IEC 14496-3 4.6.18.6.3): over every start, stop, scale and
// crossover of the SBR rates from 22.05 to 48 kHz, the patches take sources below k0
// and cover at most k_x .. k2; a last patch narrower than 3 subbands is
// dropped when there are others, so a table that reaches k2 with several
// patches ends on one of 3 or more, and some tables end short of k2.
TEST(HeaacSbrTables, PatchesOverEveryHeader) {
  int shortened = 0, tables = 0;
  const std::pair<int, uint32_t> rates[] = {{3, 48000}, {4, 44100}, {5, 32000}, {6, 24000}, {7, 22050}};
  for (auto [rate, hz] : rates) {
    for (int start = 0; start < 16; ++start) {
      for (int stop = 0; stop < 16; ++stop) {
        for (int scale = 0; scale < 4; ++scale) {
          for (int alter = 0; alter < 2; ++alter) {
            for (int xover = 0; xover < 3; ++xover) {
              Channel c(hz, rate);
              if (Tables(&c.ch, start, stop, scale, alter, xover) != 0 || c.ch.k2 <= c.ch.fMaster[0]) continue;
              ++tables;
              const SbrChannel& ch = c.ch;
              int covered = 0;
              for (int p = 0; p < ch.numPatches; ++p) {
                ASSERT_LE(ch.patchStart[p] + ch.patchWidth[p], ch.fMaster[0]);
                covered += ch.patchWidth[p];
              }
              ASSERT_LE(covered, ch.k2 - SbrKx(ch));
              if (ch.numPatches > 1 && covered == ch.k2 - SbrKx(ch)) {
                ASSERT_GE(ch.patchWidth[ch.numPatches - 1], 3)
                    << "rate " << rate << ", start " << start << ", stop " << stop << ", scale " << scale;
              }
              shortened += covered < ch.k2 - SbrKx(ch);
            }
          }
        }
      }
    }
  }
  EXPECT_GT(tables, 1000);
  EXPECT_GT(shortened, 0);
}

int Grid(const std::vector<std::pair<uint32_t, int>>& fields, SbrFrameData* fd) {
  BitWriter w;
  for (auto [v, n] : fields) w.Put(v, n);
  w.Put(0, 32);
  AacBitReader r{};
  AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
  *fd = SbrFrameData{};
  return ParseSbrGrid(&r, fd);
}

TEST(HeaacSbrGrid, FixedAndVariableBorders) {
  SbrFrameData fd;
  // FIXFIX, four envelopes.
  ASSERT_EQ(Grid({{0, 2}, {2, 2}, {1, 1}}, &fd), 0);
  ASSERT_EQ(fd.numEnvelopes, 4);
  const uint8_t four[5] = {0, 4, 8, 12, 16};
  EXPECT_EQ(std::memcmp(fd.tE, four, 5), 0);
  EXPECT_EQ(fd.numNoise, 2);
  EXPECT_EQ(fd.tQ[1], 8);
  // FIXVAR: two envelopes ending at 17, relative border 4, pointer 1; the
  // frequency resolutions are read last envelope first.
  ASSERT_EQ(Grid({{1, 2}, {1, 2}, {1, 2}, {1, 2}, {1, 2}, {1, 1}, {0, 1}}, &fd), 0);
  EXPECT_EQ(fd.tE[1], 13);
  EXPECT_EQ(fd.tE[2], 17);
  EXPECT_EQ(fd.freqRes[1], 1);
  EXPECT_EQ(fd.freqRes[0], 0);
  EXPECT_EQ(fd.transient, 2);  // L_E + 1 - pointer
  // VARVAR: start 1, end 18, one border from each side.
  ASSERT_EQ(Grid({{3, 2}, {1, 2}, {2, 2}, {1, 2}, {1, 2}, {0, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 1}, {0, 1}}, &fd), 0);
  const uint8_t varvar[4] = {1, 3, 14, 18};
  EXPECT_EQ(std::memcmp(fd.tE, varvar, 4), 0);
}

TEST(HeaacSbrGrid, RefusedGrids) {
  SbrFrameData fd;
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, int>> fields;
  };
  const Case cases[] = {
      {"FIXFIX with eight envelopes", {{0, 2}, {3, 2}, {0, 1}}},
      // Four relative borders of 8 from 19 wrap below 0.
      {"FIXVAR borders wrap", {{1, 2}, {3, 2}, {3, 2}, {3, 2}, {3, 2}, {3, 2}, {0, 3}, {0, 4}}},
      // Start 3, borders +8 from the start and -8 from 16: out of order.
      {"VARVAR borders cross", {{3, 2}, {3, 2}, {0, 2}, {1, 2}, {1, 2}, {3, 2}, {3, 2}, {0, 2}, {0, 3}}},
      {"VARVAR six envelopes", {{3, 2}, {0, 2}, {0, 2}, {3, 2}, {2, 2}}},
      // Four envelopes: a pointer of 7 names no border (at most L_E + 1).
      {"FIXVAR pointer beyond the borders", {{1, 2}, {0, 2}, {3, 2}, {0, 2}, {0, 2}, {0, 2}, {7, 3}, {0, 4}}},
  };
  for (const Case& c : cases) EXPECT_LT(Grid(c.fields, &fd), 0) << c.name;
}

// Every code of every table decodes to its value.
TEST(HeaacSbrHuffman, CodesDecodeToTheirValues) {
  for (int t = 0; t < kSbrHuffTableCount; ++t) {
    const SbrHuffTable& table = kSbrHuffTables[t];
    BitWriter w;
    for (int i = 0; i <= 2 * table.lav; ++i) w.Put(table.codes[i].code, table.codes[i].length);
    w.Put(0, 32);
    AacBitReader r{};
    AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
    for (int i = 0; i <= 2 * table.lav; ++i) ASSERT_EQ(DecodeSbrHuffman(&r, t), i - table.lav) << t << " " << i;
  }
}

TEST(HeaacSbrDequant, SingleChannel) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  SbrFrameData fd{};
  fd.numEnvelopes = 1;
  fd.freqRes[0] = 1;
  fd.numNoise = 1;
  fd.ampRes = 0;  // 1.5 dB: value 2a and 2a + 1
  fd.envelope[0][0] = 10;
  fd.envelope[0][1] = 11;
  fd.envelope[0][2] = -2;
  fd.envelope[0][3] = 60;  // 2^34: held at the largest value
  fd.noise[0][0] = 6;
  fd.noise[0][1] = 31;
  DequantiseSbrSingle(&fd, c.ch);
  EXPECT_EQ(static_cast<uint32_t>(fd.envelope[0][0]), 1u << 9);
  EXPECT_NEAR(static_cast<uint32_t>(fd.envelope[0][1]), 512 * std::sqrt(2.0), 1.0);
  EXPECT_EQ(fd.envelope[0][2], 0);
  EXPECT_EQ(static_cast<uint32_t>(fd.envelope[0][3]), 0xFFFFFFFFu);
  EXPECT_EQ(fd.noise[0][0], 1 << 25);  // 2^(6 - 6) = 1.0 in Q25
  EXPECT_EQ(fd.noise[0][1], 0);
}

TEST(HeaacSbrDequant, CoupledPairSplitsByTheBalance) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  SbrFrameData left{}, right{};
  left.numEnvelopes = right.numEnvelopes = 1;
  left.freqRes[0] = right.freqRes[0] = 1;
  left.numNoise = right.numNoise = 1;
  left.ampRes = 1;  // 3.0 dB
  const int balances[] = {12, 8, 16, 0, 24};
  for (int k = 0; k < 5; ++k) {
    left.envelope[0][k] = 20;
    right.envelope[0][k] = balances[k];
  }
  left.noise[0][0] = 4;
  right.noise[0][0] = 16;
  DequantiseSbrCoupled(&left, &right, c.ch);
  for (int k = 0; k < 5; ++k) {
    const double l = static_cast<uint32_t>(left.envelope[0][k]);
    const double r = static_cast<uint32_t>(right.envelope[0][k]);
    // E_L + E_R = 2^(a + 7) / 4; E_L / E_R = 2^(b - 12).
    EXPECT_NEAR((l + r) / std::pow(2.0, 25), 1.0, 1e-4) << k;
    EXPECT_NEAR(std::log2(l / r), balances[k] - 12, 1e-3) << k;
  }
  const double ql = left.noise[0][0], qr = right.noise[0][0];
  EXPECT_NEAR(std::log2(ql / qr), 16 - 12, 1e-3);
  EXPECT_NEAR((ql + qr) / (1 << 25), 8.0, 1e-4);  // 2^(7 - 4) = 8 between them
}

// bs_header_flag and a header: amp_res 1, start_freq 5, stop_freq `stop`,
// xover_band 0, no bs_header_extra_1; with extra2, limiter_bands 3,
// limiter_gains 2, interpol_freq 1, smoothing_mode 1.
void PutSbrHeader(BitWriter* w, bool extra2, int stop = 9) {
  w->Put(1, 1);
  w->Put(1, 1);
  w->Put(5, 4);
  w->Put(static_cast<uint32_t>(stop), 4);
  w->Put(0, 3);
  w->Put(0, 2);
  w->Put(0, 1);
  w->Put(extra2 ? 1 : 0, 1);
  if (extra2) {
    w->Put(3, 2);
    w->Put(2, 2);
    w->Put(1, 1);
    w->Put(1, 1);
  }
}

// A header without bs_header_extra_2 keeps the limiter bands of the last
// one that had it.
TEST(HeaacSbrHeader, DroppedExtraKeepsThePreviousValues) {
  Channel c;
  for (bool extra2 : {true, false}) {
    BitWriter w;
    PutSbrHeader(&w, extra2);
    w.Put(0, 1);  // bs_data_extra
    w.Put(0, 2);  // FIXFIX
    w.Put(0, 2);  // one envelope
    w.Put(0, 1);
    for (int i = 0; i < 4; ++i) w.Put(0, 32);
    AacBitReader r{};
    AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
    SbrChannel* channels[2] = {&c.ch, nullptr};
    SbrFrameData fd{};
    ASSERT_EQ(ParseSbrExtension(channels, &fd, &r, 0), 0);
    EXPECT_EQ(c.ch.limiterBands, 3);
  }
}

// Time-direction envelope deltas across a change of frequency resolution
// (ISO/IEC 14496-3 4.6.18.3.3): low from high adds the high band that starts
// where the low one does; high from low the low band that holds the high
// one's start. Three one-envelope frames: high resolution with values 20,
// 21, 22, ...; then low and high again, each all time deltas of 0.
TEST(HeaacSbrParse, TimeDeltasAcrossResolutions) {
  Channel tables;
  ASSERT_EQ(Tables(&tables.ch, 5, 9, 2, 1), 0);
  const SbrChannel& t = tables.ch;
  auto code = [](BitWriter* w, int table, int delta) {
    const SbrHuffTable& h = kSbrHuffTables[table];
    w->Put(h.codes[delta + h.lav].code, h.codes[delta + h.lav].length);
  };
  Channel c;
  for (int frame = 0; frame < 3; ++frame) {
    const int res = frame == 1 ? 0 : 1;
    const int bands = res ? t.nHigh : t.nLow;
    BitWriter w;
    PutSbrHeader(&w, false);
    w.Put(0, 1);  // bs_data_extra
    w.Put(0, 2);  // FIXFIX, one envelope
    w.Put(0, 2);
    w.Put(res, 1);
    w.Put(frame == 0 ? 0 : 1, 1);  // bs_df_env
    w.Put(0, 1);                   // bs_df_noise
    w.Put(0, 2 * t.nQ);
    if (frame == 0) {
      w.Put(20, 7);
      for (int k = 1; k < bands; ++k) code(&w, kSbrHuffFEnv15, 1);
    } else {
      for (int k = 0; k < bands; ++k) code(&w, kSbrHuffTEnv15, 0);
    }
    w.Put(10, 5);
    for (int k = 1; k < t.nQ; ++k) code(&w, kSbrHuffFEnv30, 0);
    w.Put(0, 1);  // bs_add_harmonic_flag
    w.Put(0, 1);  // bs_extended_data
    w.Put(0, 32);
    AacBitReader r{};
    AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
    SbrChannel* channels[2] = {&c.ch, nullptr};
    SbrFrameData fd{};
    ASSERT_EQ(ParseSbrExtension(channels, &fd, &r, 0), 0) << frame;
    for (int k = 0; k < bands; ++k) {
      int want = 20 + k;  // the high band's own value
      if (frame == 1) {
        want = 20;
        while (t.fHigh[want - 20] != t.fLow[k]) ++want;
      } else if (frame == 2) {
        int i = 0;  // the low band holding f_high[k]
        while (i + 1 < t.nLow && t.fLow[i + 1] <= t.fHigh[k]) ++i;
        want = 20;
        while (t.fHigh[want - 20] != t.fLow[i]) ++want;
      }
      EXPECT_EQ(c.ch.prevEnvelope[k], want) << "frame " << frame << ", band " << k;
    }
  }
}

// A channel pair takes the first channel's tables into the second one also
// when its header came with a single channel element before it (the pair's
// own payload has none): the second channel never runs with an empty high
// band, and after a newer header it drops the tables it held. Each step is
// one payload: a header or none, then one FIXFIX envelope per channel and
// zero bits.
TEST(HeaacSbrParse, PairTakesTablesHeadedByASingleChannelElement) {
  struct Step {
    bool pair;
    int stop;  // the header's stop_freq; 0: no header
  };
  const std::vector<std::vector<Step>> sequences = {
      {{false, 9}, {true, 0}},
      {{true, 9}, {false, 7}, {true, 0}},
  };
  for (size_t s = 0; s < sequences.size(); ++s) {
    Channel a, b;
    for (const Step& step : sequences[s]) {
      BitWriter w;
      if (step.stop != 0) {
        PutSbrHeader(&w, true, step.stop);
      } else {
        w.Put(0, 1);
      }
      w.Put(0, 1);  // bs_data_extra
      if (step.pair) w.Put(0, 1);  // bs_coupling
      for (int c = 0; c < (step.pair ? 2 : 1); ++c) w.Put(0, 5);  // FIXFIX, one envelope, low resolution
      for (int i = 0; i < 8; ++i) w.Put(0, 32);
      AacBitReader r{};
      AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
      SbrChannel* channels[2] = {&a.ch, &b.ch};
      SbrFrameData fd[2]{};
      fd[0].elementKind = fd[1].elementKind = step.pair ? 1 : 0;
      ASSERT_EQ(ParseSbrExtension(channels, fd, &r, 0), 0) << "sequence " << s;
    }
    SCOPED_TRACE(s);
    EXPECT_GT(a.ch.k2, SbrKx(a.ch));
    EXPECT_EQ(SbrKx(b.ch), SbrKx(a.ch));
    EXPECT_EQ(b.ch.k2, a.ch.k2);
    EXPECT_EQ(b.ch.nHigh, a.ch.nHigh);
    EXPECT_EQ(b.ch.nLow, a.ch.nLow);
    EXPECT_EQ(b.ch.nQ, a.ch.nQ);
    EXPECT_EQ(b.ch.numPatches, a.ch.numPatches);
    ASSERT_EQ(b.ch.nL, a.ch.nL);
    EXPECT_EQ(std::vector<uint8_t>(b.ch.limiter, b.ch.limiter + b.ch.nL + 1),
              std::vector<uint8_t>(a.ch.limiter, a.ch.limiter + a.ch.nL + 1));
  }
}

TEST(HeaacSbrHeader, PayloadsBeforeTheFirstHeaderAreIgnored) {
  Channel c;
  const uint8_t noHeader[4] = {0x00, 0, 0, 0};
  AacBitReader r{};
  AacStartBitReader(&r, noHeader, 4);
  SbrChannel* channels[2] = {&c.ch, nullptr};
  SbrFrameData fd{};
  EXPECT_EQ(ParseSbrExtension(channels, &fd, &r, 0), kSbrNoHeaderYet);
  EXPECT_EQ(fd.valid, 0);
}

// Chirp factors: mode 1 after 0 aims at 0.6; a falling target is reached
// with 0.75 new + 0.25 old (19660 -> 4915 -> 1228 -> 0 below 512), a rising
// one with 0.90625 new + 0.09375 old.
TEST(HeaacSbrHfGen, ChirpFactors) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  int16_t chirp[kSbrMaxNoiseBands];
  uint8_t modes[kSbrMaxNoiseBands] = {1, 1, 1, 1, 1};
  c.ch.prevChirp[0] = 0;
  UpdateSbrChirp(&c.ch, modes, chirp);
  EXPECT_EQ(chirp[0], (29696 * 19660) >> 15);
  c.ch.prevChirp[0] = 19660;
  c.ch.prevInvfMode[0] = 0;
  std::memset(modes, 0, sizeof(modes));
  const int expected[] = {4915, 1228, 0};
  for (int want : expected) {
    UpdateSbrChirp(&c.ch, modes, chirp);
    EXPECT_EQ(chirp[0], want);
  }
  modes[0] = 3;
  UpdateSbrChirp(&c.ch, modes, chirp);
  EXPECT_EQ(chirp[0], (29696 * 32112) >> 15);
}

// Degree of aliasing, the low-power rule of ISO/IEC 14496-3 4.6.18.6.2
// written out: with r the reflection coefficients, for k = 2 .. k0 - 1,
// even k with r[k] < 0 or odd k with r[k] > 0 alias: fully when r[k - 1]
// has r[k]'s sign (and then k - 1 by 1 - r[k - 1]^2 when r[k - 2] has the
// other sign), else by 1 - r[k - 1]^2 when r[k - 2] has the other sign.
std::vector<double> AliasingDegrees(const std::vector<double>& r) {
  std::vector<double> deg(r.size(), 0.0);
  for (size_t k = 2; k < r.size(); ++k) {
    const double s = (k % 2 == 0) ? -1 : 1;
    if (r[k] * s <= 0) continue;
    if (r[k - 1] * s > 0) {
      deg[k] = 1;
      if (r[k - 2] * s < 0) deg[k - 1] = 1 - r[k - 1] * r[k - 1];
    } else if (r[k - 2] * s < 0) {
      deg[k] = 1 - r[k - 1] * r[k - 1];
    }
  }
  return deg;
}

// Low subbands with chosen reflection coefficients (r = -cos of the row's
// frequency, 0 for a silent row): each target subband carries its source's
// degree, except the first subband of each patch, which carries none.
TEST(HeaacSbrHfGen, DegreeOfAliasingFollowsTheReflectionSigns) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  const int k0 = c.ch.fMaster[0], kx = SbrKx(c.ch);
  // Reflection coefficients visiting every branch of the rule.
  const double pattern[] = {0.9, -0.6, 0.5, 0.0, -0.8, -0.7, 0.6, 0.7, -0.5, 0.8, 0.4, -0.9, 0.3};
  std::vector<int32_t> matrix(kSbrMatrixValues + 4096, 0);
  std::vector<double> r(k0, 0.0);
  for (int k = 1; k < k0; ++k) {
    const double want = pattern[k % 13];
    if (want == 0) continue;
    int32_t* row = matrix.data() + k * kSbrMatrixColumns;
    for (int n = 0; n < kSbrMatrixColumns; ++n) row[n] = static_cast<int32_t>(std::lround(1e6 * std::cos(std::acos(-want) * n)));
    double phi01 = 0, phi11 = 0;
    for (int n = 2; n < kSbrMatrixColumns; ++n) {
      phi01 += double(row[n]) * row[n - 1];
      phi11 += double(row[n - 1]) * row[n - 1];
    }
    r[k] = -phi01 / phi11;
  }
  const std::vector<double> deg = AliasingDegrees(r);
  SbrFrameData fd{};
  fd.numEnvelopes = 1;
  fd.tE[1] = 16;
  int32_t out[kSbrMaxBands];
  GenerateSbrHighBand(&c.ch, fd, matrix.data(), matrix.data() + kSbrMatrixValues, out);
  int t = 0, aliased = 0;
  for (int p = 0; p < c.ch.numPatches; ++p) {
    for (int x = 0; x < c.ch.patchWidth[p]; ++x, ++t) {
      const double want = x == 0 ? 0.0 : deg[c.ch.patchStart[p] + x];
      aliased += want > 0;
      EXPECT_NEAR(out[t] / double(1 << 30), want, 1e-4) << "subband " << kx + t << ", source " << c.ch.patchStart[p] + x;
    }
  }
  EXPECT_GT(aliased, 4);
}

// HF generation (ISO/IEC 14496-3 4.6.18.6.3, low-power): each low subband
// holding a cosine is predicted exactly by alpha0 = -2 cos(w), alpha1 = 1,
// and its patch is X + bw alpha0 X[-1] + bw^2 alpha1 X[-2], with bw the
// chirp of the target's noise band (inverse filtering mode 3 from 0:
// 0.90625 x 0.98 = 29102 in Q15); a predictor of magnitude 4 or more is
// dropped.
TEST(HeaacSbrHfGen, PatchesAreWhitenedByTheChirpedPrediction) {
  Channel c;
  ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  const int k0 = c.ch.fMaster[0], kx = SbrKx(c.ch);
  std::vector<int32_t> matrix(kSbrMatrixValues + 4096, 0);
  std::vector<double> w(k0);
  for (int k = 1; k < k0; ++k) {
    w[k] = 0.3 + 0.17 * k;
    for (int n = 0; n < kSbrMatrixColumns; ++n) {
      matrix[k * kSbrMatrixColumns + n] = static_cast<int32_t>(std::lround(1e6 * std::cos(w[k] * n + 0.4)));
    }
  }
  // One source grows fivefold per slot: its predictor -5 reaches the bound
  // of 4, so its patches are plain copies.
  const int growing = c.ch.patchStart[0];
  for (int n = 0; n < kSbrMatrixColumns; ++n) {
    matrix[growing * kSbrMatrixColumns + n] = n < 27 ? 0 : static_cast<int32_t>(std::pow(5.0, n - 27));
  }
  SbrFrameData fd{};
  fd.numEnvelopes = 1;
  fd.tE[1] = 16;
  for (int b = 0; b < kSbrMaxNoiseBands; ++b) fd.invfMode[b] = 3;
  int32_t degree[kSbrMaxBands];
  GenerateSbrHighBand(&c.ch, fd, matrix.data(), matrix.data() + kSbrMatrixValues, degree);
  const double bw = 29102 / 32768.0;
  int t = kx;
  for (int p = 0; p < c.ch.numPatches; ++p) {
    for (int x = 0; x < c.ch.patchWidth[p]; ++x, ++t) {
      const int src = c.ch.patchStart[p] + x;
      const int32_t* in = matrix.data() + src * kSbrMatrixColumns;
      const int32_t* out = matrix.data() + t * kSbrMatrixColumns;
      for (int col = 2; col < 34; ++col) {
        const double want =
            src == growing ? in[col] : in[col] - bw * 2 * std::cos(w[src]) * in[col - 1] + bw * bw * in[col - 2];
        ASSERT_NEAR(out[col], want, 2000) << "subband " << t << " from " << src << ", column " << col;
      }
    }
  }
}

// Envelope adjustment of a high band whose subbands differ in level (input
// energy 4^(m mod 4) in subband m), one envelope over the whole frame, no
// noise floor, no sinusoids: the output energy of each row of the high band
// (columns 2..33), and the limiter band borders (limiter_bands 2 by default:
// 0 4 12 22 33; limiter_bands 1: 0 12 22 33).
struct Adjusted {
  std::vector<double> energy;
  std::vector<int> limiter;
};

Adjusted AdjustEnvelope(const std::vector<int32_t>& degree, int limiterGains = 3, int limiterBands = 2) {
  Channel c;
  EXPECT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  c.ch.limiterGains = static_cast<uint8_t>(limiterGains);
  c.ch.limiterBands = static_cast<uint8_t>(limiterBands);
  BuildSbrLimiterTable(&c.ch);
  const int kx = SbrKx(c.ch), M = c.ch.k2 - kx;
  SbrFrameData fd{};
  fd.numEnvelopes = 1;
  fd.numNoise = 1;
  fd.tE[1] = 16;
  fd.tQ[1] = 16;
  fd.freqRes[0] = 1;
  fd.transient = -1;
  for (int i = 0; i < c.ch.nHigh; ++i) fd.envelope[0][i] = 1 << 20;
  std::vector<int32_t> matrix(kSbrMatrixValues + 1024, 0);
  uint32_t seed = 12345;
  for (int m = 0; m < M; ++m) {
    const int amplitude = 2000 << (m % 4);
    for (int col = 0; col < kSbrMatrixColumns; ++col) {
      seed = seed * 1664525u + 1013904223u;
      matrix[(kx + m) * kSbrMatrixColumns + col] = (seed >> 31) ? amplitude : -amplitude;
    }
  }
  int32_t deg[kSbrMaxBands] = {};
  for (size_t m = 0; m < degree.size(); ++m) deg[m] = degree[m];
  AdjustSbrEnvelopes(&c.ch, fd, matrix.data(), deg);
  Adjusted out;
  out.energy.resize(M);
  for (int m = 0; m < M; ++m) {
    for (int col = 2; col < 34; ++col) out.energy[m] += std::pow(double(matrix[(kx + m) * kSbrMatrixColumns + col]), 2);
  }
  out.limiter.assign(c.ch.limiter, c.ch.limiter + c.ch.nL + 1);
  return out;
}

double InputEnergy(int m) { return std::pow(4.0, m % 4); }

// Limiter and boost (ISO/IEC 14496-3 4.6.18.7.5): per limiter band, no gain
// above the band's mean gain times the squared limiter gain (0.50119, 1,
// 1.99527); then the band's energy is restored by a boost of at most
// 2.51189. Worked from the unlimited output, where every row is alike, over
// the limiter tables of 2 and 1 bands per octave.
TEST(HeaacSbrEnvelope, LimiterAndBoostPerLimiterBand) {
  const Adjusted plain = AdjustEnvelope({});
  const double limiterGain[] = {0.50119, 1.0, 1.99527};
  for (int bands : {2, 1}) {
    for (int gains = 0; gains < 3; ++gains) {
      const Adjusted limited = AdjustEnvelope({}, gains, bands);
      ASSERT_GT(limited.limiter.size(), 2u);
      bool boundHit = false;
      for (size_t j = 0; j + 1 < limited.limiter.size(); ++j) {
        const int lo = limited.limiter[j], hi = limited.limiter[j + 1];
        double orig = 0, curr = 0;
        for (int m = lo; m < hi; ++m) {
          orig += plain.energy[m];
          curr += InputEnergy(m);
        }
        const double gMax = orig / curr * limiterGain[gains];
        std::vector<double> gain(hi - lo);
        double restored = 0;
        for (int m = lo; m < hi; ++m) {
          gain[m - lo] = std::min(plain.energy[m] / InputEnergy(m), gMax);
          restored += gain[m - lo] * InputEnergy(m);
        }
        const double boost = std::min(orig / restored, 2.51189);
        boundHit |= orig / restored > 2.6;
        for (int m = lo; m < hi; ++m) {
          const double want = gain[m - lo] * boost * InputEnergy(m);
          EXPECT_NEAR(10 * std::log10(limited.energy[m] / want), 0.0, 0.05)
              << "limiter_bands " << bands << ", limiter_gains " << gains << ", subband " << m;
        }
      }
      if (gains == 0) {
        EXPECT_TRUE(boundHit) << "limiter_bands " << bands;
      }
    }
  }
}

// Gains are held, not smoothed, in both smoothing modes: each envelope's
// gain applies unchanged from its first slot to its last, across envelope
// and frame borders. (The standard's bs_smoothing_mode 0 would blend the
// last four slots' gains into each slot with h_smooth = 0.0318, 0.1152,
// 0.2182, 0.3015, 0.3333, giving 2/3 of the old gain and 1/3 of the new on
// the first slot after a border.) Two frames over a high band of equal
// magnitudes: the first frame's envelopes cover slots 0..15 and 16..31, the
// second with 16 times the energy (4 times the gain); the second frame has
// one envelope, as quiet as the first.
TEST(HeaacSbrEnvelope, GainsHoldThroughEachEnvelopeInBothSmoothingModes) {
  constexpr int32_t kMagnitude = 1000;
  std::vector<std::vector<int32_t>> outputs[2];
  for (int mode = 0; mode < 2; ++mode) {
    Channel c;
    ASSERT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
    c.ch.smoothingMode = static_cast<uint8_t>(mode);
    c.ch.limiterGains = 3;
    const int kx = SbrKx(c.ch), M = c.ch.k2 - kx;
    for (int frame = 0; frame < 2; ++frame) {
      SbrFrameData fd{};
      fd.numEnvelopes = frame == 0 ? 2 : 1;
      fd.numNoise = 1;
      fd.tE[1] = frame == 0 ? 8 : 16;
      fd.tE[2] = 16;
      fd.tQ[1] = 16;
      fd.freqRes[0] = fd.freqRes[1] = 1;
      fd.transient = -1;
      for (int i = 0; i < c.ch.nHigh; ++i) {
        fd.envelope[0][i] = 1 << 16;
        fd.envelope[1][i] = 1 << 20;
      }
      std::vector<int32_t> matrix(kSbrMatrixValues + 1024, 0);
      for (int m = 0; m < M; ++m) {
        for (int col = 0; col < kSbrMatrixColumns; ++col) {
          matrix[(kx + m) * kSbrMatrixColumns + col] = ((col * 7 + m) % 3) ? kMagnitude : -kMagnitude;
        }
      }
      int32_t deg[kSbrMaxBands] = {};
      AdjustSbrEnvelopes(&c.ch, fd, matrix.data(), deg);
      // Output magnitude per subband and slot.
      std::vector<int32_t> out(M * 32);
      for (int m = 0; m < M; ++m) {
        for (int slot = 0; slot < 32; ++slot) out[m * 32 + slot] = std::abs(matrix[(kx + m) * kSbrMatrixColumns + slot + 2]);
      }
      outputs[mode].push_back(out);
    }
    for (int m = 0; m < M; ++m) {
      const double quiet = outputs[mode][0][m * 32];
      ASSERT_GT(quiet, 10) << "subband " << m;
      for (int frame = 0; frame < 2; ++frame) {
        for (int slot = 0; slot < 32; ++slot) {
          const double gain = frame == 0 && slot >= 16 ? 4.0 : 1.0;
          EXPECT_NEAR(outputs[mode][frame][m * 32 + slot] / quiet, gain, 0.02)
              << "smoothing mode " << mode << ", frame " << frame << ", subband " << m << ", slot " << slot;
        }
      }
    }
  }
  EXPECT_EQ(outputs[0], outputs[1]);
}

// Low-power aliasing reduction (ISO/IEC 14496-3 4.6.18.7.5): a group opens
// below a subband whose degree of aliasing is not 0; each member's squared
// gain moves by a = the larger degree of it and the subband above towards
// the group's mean, G^2 = (1 - a) G^2 + a E_total / sum E_curr, then the
// group is scaled back to E_total. Worked from the gains without reduction.
TEST(HeaacSbrEnvelope, AliasingReductionEvensGainsWithinGroups) {
  const std::vector<double> plain = AdjustEnvelope({}).energy;
  // Full degree on subbands 2..5 forms the group 1..5; half on 9, the group
  // 8..9.
  std::vector<int32_t> degree(12, 0);
  for (int m = 2; m <= 5; ++m) degree[m] = 1 << 30;
  degree[9] = 1 << 29;
  const std::vector<double> reduced = AdjustEnvelope(degree).energy;
  ASSERT_EQ(plain.size(), reduced.size());
  // Without reduction the gains flatten the band: every row alike.
  for (size_t m = 1; m < plain.size(); ++m) EXPECT_NEAR(10 * std::log10(plain[m] / plain[0]), 0.0, 0.1) << m;
  struct Group {
    int first, last;
    double a;
  };
  for (const Group& g : {Group{1, 5, 1.0}, Group{8, 9, 0.5}}) {
    double total = 0, curr = 0;
    for (int m = g.first; m <= g.last; ++m) {
      total += plain[m];
      curr += InputEnergy(m);
    }
    std::vector<double> expected;
    double fresh = 0;
    for (int m = g.first; m <= g.last; ++m) {
      const double gain2 = (1 - g.a) * plain[m] / InputEnergy(m) + g.a * total / curr;
      expected.push_back(gain2 * InputEnergy(m));
      fresh += gain2 * InputEnergy(m);
    }
    for (int m = g.first; m <= g.last; ++m) {
      const double want = expected[m - g.first] * total / fresh;
      EXPECT_NEAR(10 * std::log10(reduced[m] / want), 0.0, 0.05) << "subband " << m;
    }
  }
  // Outside the groups nothing changes.
  for (size_t m : {0, 6, 7, 10, 11, 20}) EXPECT_EQ(reduced[m], plain[m]) << m;
}

// A silent high band with a noise floor of 0 dB in two envelopes (slots 0..5
// and 6..31) and one added sinusoid in the widest high band.
struct SineAndNoise {
  int kx, M, sine;  // sine: the subband (from k_x) of the sinusoid
  std::vector<int32_t> matrix;
  int32_t At(int m, int slot) const { return matrix[(kx + m) * kSbrMatrixColumns + slot + 2]; }
};

SineAndNoise AdjustSilentBand(int transient, bool afterTransientEnd = false) {
  Channel c;
  EXPECT_EQ(Tables(&c.ch, 5, 9, 2, 1), 0);
  SineAndNoise out;
  out.kx = SbrKx(c.ch);
  out.M = c.ch.k2 - out.kx;
  SbrFrameData fd{};
  fd.numEnvelopes = 2;
  fd.numNoise = 2;
  fd.tE[1] = fd.tQ[1] = 3;
  fd.tE[2] = fd.tQ[2] = 16;
  fd.freqRes[0] = fd.freqRes[1] = 1;
  fd.transient = static_cast<int8_t>(transient);
  int widest = 0;
  for (int i = 0; i < c.ch.nHigh; ++i) {
    fd.envelope[0][i] = fd.envelope[1][i] = 1 << 20;
    if (c.ch.fHigh[i + 1] - c.ch.fHigh[i] >= c.ch.fHigh[widest + 1] - c.ch.fHigh[widest]) widest = i;
  }
  for (int b = 0; b < c.ch.nQ; ++b) fd.noise[0][b] = fd.noise[1][b] = 1 << 25;
  fd.addHarmonicFlag = 1;
  fd.addHarmonic[widest] = 1;
  out.sine = (c.ch.fHigh[widest] + c.ch.fHigh[widest + 1]) / 2 - out.kx;
  out.matrix.assign(kSbrMatrixValues + 1024, 0);
  int32_t deg[kSbrMaxBands] = {};
  if (afterTransientEnd) {
    // A frame whose transient lies at its end, l_A = L_E.
    SbrFrameData before = fd;
    before.transient = 2;
    AdjustSbrEnvelopes(&c.ch, before, out.matrix.data(), deg);
    std::fill(out.matrix.begin(), out.matrix.end(), 0);
  }
  AdjustSbrEnvelopes(&c.ch, fd, out.matrix.data(), deg);
  return out;
}

// Noise and sinusoids (ISO/IEC 14496-3 4.6.18.7.5, low-power): noise
// V[(index + 1 + m + M slot) mod 512] in every subband but a sinusoid's and
// never in a transient envelope; the sinusoid in the middle subband of its
// band from the transient envelope on, on the first slot of each pair, its
// sign alternating from pair to pair across envelopes; on the second slot
// the neighbours leak +-0.00815 of it. A transient at the end of a frame
// makes the next frame's first envelope transient.
TEST(HeaacSbrEnvelope, NoiseAndSinusoidPlacement) {
  const SineAndNoise t = AdjustSilentBand(1);
  const int s = t.sine;
  ASSERT_GT(s, 0);
  ASSERT_LT(s + 1, t.M);
  for (int m = 0; m < t.M; ++m) {
    int signs = 0;
    for (int slot = 0; slot < 6; ++slot) {
      const int v = kSbrNoiseTable[(1 + m + t.M * slot) & 511];
      if (std::abs(v) < 2000) continue;
      ++signs;
      EXPECT_EQ(t.At(m, slot) > 0, v > 0) << "noise, subband " << m << ", slot " << slot;
    }
    EXPECT_GT(signs, 0);
    // Before the transient envelope no sinusoid: noise on every slot.
    EXPECT_NE(t.At(m, 1) | t.At(m, 3) | t.At(m, 5), 0) << "subband " << m;
    for (int slot = 6; slot < 32; ++slot) {
      if (std::abs(m - s) > 1) {
        EXPECT_EQ(t.At(m, slot), 0) << "transient envelope, subband " << m << ", slot " << slot;
      }
    }
  }
  // The sign runs on from the first envelope's pairs: + on slot 0, - on
  // slot 2, ..., - on slot 6.
  const int32_t amplitude = std::abs(t.At(s, 6));
  ASSERT_GT(amplitude, 0);
  for (int slot = 6; slot < 32; ++slot) {
    const int sign = ((slot >> 1) & 1) ? -1 : 1;
    if (slot % 2 == 0) {
      EXPECT_EQ(t.At(s, slot), sign * amplitude) << "sinusoid, slot " << slot;
      EXPECT_EQ(t.At(s - 1, slot), 0);
      EXPECT_EQ(t.At(s + 1, slot), 0);
    } else {
      EXPECT_EQ(t.At(s, slot), 0) << "sinusoid, slot " << slot;
      const int k = t.kx + s - 1;
      const int32_t f = (k & 1) ? -267 : 267;
      EXPECT_EQ(t.At(s - 1, slot), (int64_t{sign} * amplitude * f) >> 15) << "leakage below, slot " << slot;
      EXPECT_EQ(t.At(s + 1, slot), (int64_t{sign} * -amplitude * f) >> 15) << "leakage above, slot " << slot;
    }
  }
  // Without a transient the sinusoid sounds in both envelopes, still with
  // no noise in its subband.
  const SineAndNoise n = AdjustSilentBand(-1);
  for (int slot = 0; slot < 32; ++slot) {
    EXPECT_EQ(n.At(s, slot) != 0, slot % 2 == 0) << "slot " << slot;
  }
  // After a frame whose transient lay at its end, the first envelope is
  // transient: no noise there, noise in the second.
  const SineAndNoise a = AdjustSilentBand(-1, true);
  for (int m = 0; m < s - 1; ++m) {
    for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(a.At(m, slot), 0) << "subband " << m << ", slot " << slot;
    EXPECT_NE(a.At(m, 6) | a.At(m, 7) | a.At(m, 8), 0) << "subband " << m;
  }
}

// Analysis then synthesis with an empty high band resamples the core
// signal: a tone keeps its level at twice the rate (64 bands) and at the
// core rate (32 bands); silence stays silent; full scale saturates.
double Rms(const std::vector<int16_t>& v, size_t from, int stride, int offset) {
  double s = 0;
  size_t n = 0;
  for (size_t i = from * stride + offset; i < v.size(); i += stride, ++n) s += static_cast<double>(v[i]) * v[i];
  return std::sqrt(s / static_cast<double>(n));
}

std::vector<int16_t> RunQmf(const std::vector<int16_t>& in, int factor, int frames, int stride = 1) {
  Channel c(44100, 4, factor);
  std::vector<int32_t> matrix(kSbrMatrixValues, 0);
  std::vector<int16_t> out;
  for (int f = 0; f < frames; ++f) {
    std::vector<int16_t> buf(2048 * stride, 0);
    for (int i = 0; i < 1024 * stride; ++i) buf[i] = in[(f * 1024 * stride + i) % in.size()];
    SbrQmfAnalysis(&c.ch, buf.data(), matrix.data(), stride);
    // Slots move 6 behind through the matrix columns; the history is the
    // previous frame's last 8.
    std::vector<int32_t> next(kSbrMatrixValues, 0);
    if (factor == 2) {
      SbrQmfSynthesis64(&c.ch, matrix.data(), buf.data(), stride);
    } else {
      SbrQmfSynthesis32(&c.ch, matrix.data(), buf.data(), stride);
    }
    for (int k = 0; k < 32; ++k) {
      for (int t = 0; t < 8; ++t) next[k * kSbrMatrixColumns + t] = matrix[k * kSbrMatrixColumns + 32 + t];
    }
    matrix = next;
    out.insert(out.end(), buf.begin(), buf.begin() + 1024 * factor * stride);
  }
  return out;
}

TEST(HeaacSbrQmf, ResamplesTheCoreSignal) {
  std::vector<int16_t> tone(1024 * 8);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1000 * i / 22050.0));
  const double rmsIn = 10000 / std::sqrt(2.0);
  EXPECT_NEAR(Rms(RunQmf(tone, 2, 8), 4096, 1, 0) / rmsIn, 1.0, 0.01);
  EXPECT_NEAR(Rms(RunQmf(tone, 1, 8), 2048, 1, 0) / rmsIn, 1.0, 0.01);
  const std::vector<int16_t> silence(2048, 0);
  for (int factor : {1, 2}) {
    for (int16_t s : RunQmf(silence, factor, 4)) ASSERT_EQ(s, 0);
  }
  // Full scale saturates, never wraps: a constant 32767 comes out at the top
  // of the range, with no sample turned negative.
  const std::vector<int16_t> full(1024, 32767);
  for (int factor : {1, 2}) {
    const std::vector<int16_t> loud = RunQmf(full, factor, 6);
    for (size_t i = 3 * 1024 * factor; i < loud.size(); ++i) ASSERT_GE(loud[i], 32000) << factor << " " << i;
  }
}

// With stride 2 each channel is read and written only at its own places.
TEST(HeaacSbrQmf, StrideKeepsTheOtherChannel) {
  std::vector<int16_t> stereo(2 * 1024 * 4);
  for (size_t i = 0; i < stereo.size(); i += 2) {
    stereo[i] = static_cast<int16_t>(8000 * std::sin(i * 0.01));
    stereo[i + 1] = 1234;
  }
  Channel c(44100, 4, 2);
  std::vector<int32_t> matrix(kSbrMatrixValues, 0);
  std::vector<int16_t> buf(2 * 2048, 1234);
  for (int i = 0; i < 2048; i += 2) buf[i] = stereo[i];
  SbrQmfAnalysis(&c.ch, buf.data(), matrix.data(), 2);
  SbrQmfSynthesis64(&c.ch, matrix.data(), buf.data(), 2);
  for (size_t i = 1; i < buf.size(); i += 2) ASSERT_EQ(buf[i], 1234) << i;
}

}  // namespace
}  // namespace heaac
