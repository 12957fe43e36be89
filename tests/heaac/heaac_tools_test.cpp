// Stereo processing, TNS, LTP and short-window grouping on hand-built
// element records, against the values ISO/IEC 14496-3 gives for them; the
// filterbank on a silent frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_dsp.h"
#include "codecs/heaac/aac_tables.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

constexpr int kRate = 4;  // 44100 Hz

void LongWindow(IcsInfo* ics, int maxSfb) {
  ics->windowSequence = kOnlyLong;
  ics->numSwb = kNumSwbLong[kRate];
  ics->swbOffset = kSwbOffsetLong[kRate];
  ics->maxSfb = static_cast<uint8_t>(maxSfb);
  ics->numGroups = 1;
  ics->groupLen[0] = 1;
}

TEST(HeaacStereo, IntensityPositionsScaleTheLeftBand) {
  struct Case {
    int position;
    int book;
    double factor;
  } cases[] = {{0, kIntensityHcb, 1.0}, {4, kIntensityHcb, 0.5}, {-4, kIntensityHcb, 2.0}, {2, kIntensityHcb2, -0.7071}};
  for (const Case& c : cases) {
    ElementRecord el{};
    el.kind = 2;
    LongWindow(&el.ics[0], 1);
    LongWindow(&el.ics[1], 1);
    el.ics[1].codebook[0] = static_cast<uint8_t>(c.book);
    el.ics[1].scaleFactor[0] = static_cast<int16_t>(c.position);
    std::vector<int32_t> left(1024, 0), right(1024, 0);
    for (int k = 0; k < 4; ++k) left[k] = 100000 * (k + 1);
    StereoProcess(1, el, left.data(), right.data());
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(right[k], left[k] * c.factor, 2 + left[k] * 1e-4) << c.position;
  }
}

TEST(HeaacStereo, MidSideOnEveryBandButIntensityAndNoise) {
  ElementRecord el{};
  el.kind = 2;
  el.msMaskPresent = 2;
  LongWindow(&el.ics[0], 3);
  LongWindow(&el.ics[1], 3);
  el.ics[1].codebook[0] = 1;
  el.ics[1].codebook[1] = kNoiseHcb;
  el.ics[1].codebook[2] = kIntensityHcb;
  el.ics[1].scaleFactor[2] = 0;
  std::vector<int32_t> left(1024, 0), right(1024, 0);
  for (int k = 0; k < 12; ++k) {
    left[k] = 1000;
    right[k] = 10;
  }
  StereoProcess(3, el, left.data(), right.data());
  EXPECT_EQ(left[0], 1010);  // band 0: mid/side
  EXPECT_EQ(right[0], 990);
  EXPECT_EQ(left[4], 1000);  // band 1: noise, untouched
  EXPECT_EQ(right[4], 10);
  EXPECT_EQ(left[8], 1000);  // band 2: intensity copies the left band
  EXPECT_NEAR(right[8], 1000, 1);
}

// One long-window TNS filter over the top 30 bands with 4-bit indices.
IcsInfo OneTnsFilter(std::initializer_list<uint8_t> indices) {
  IcsInfo ics{};
  LongWindow(&ics, 40);
  ics.tns.present = 1;
  ics.tns.nFilt[0] = 1;
  ics.tns.coefRes[0] = 1;
  ics.tns.length[0][0] = 30;
  ics.tns.order[0][0] = static_cast<uint8_t>(indices.size());
  std::copy(indices.begin(), indices.end(), ics.tns.coef[0][0]);
  return ics;
}

// A TNS filter on a unit impulse: the all-pole decoder filter and the
// moving-average analysis filter undo each other.
TEST(HeaacTns, AnalysisUndoesSynthesisAndOrdersAreCut) {
  IcsInfo ics = OneTnsFilter({5, 13, 2, 9});
  std::vector<int32_t> spec(1024, 0);
  const int start = kSwbOffsetLong[kRate][ics.numSwb - 30];
  spec[start + 3] = 1 << 20;
  std::vector<int32_t> filtered = spec;
  TnsFilter(kRate, ics, filtered.data(), false);
  EXPECT_NE(filtered, spec);
  std::vector<int32_t> back = filtered;
  TnsFilter(kRate, ics, back.data(), true);
  for (int k = 0; k < 1024; ++k) EXPECT_NEAR(back[k], spec[k], 64) << k;

  // An order of 20 is cut to 12: indices past the twelfth change nothing.
  IcsInfo a = ics, b = ics;
  a.tns.order[0][0] = b.tns.order[0][0] = 20;
  for (int i = 0; i < 20; ++i) a.tns.coef[0][0][i] = b.tns.coef[0][0][i] = static_cast<uint8_t>(i % 7);
  b.tns.coef[0][0][15] = 3;
  IcsInfo twelve = a;
  twelve.tns.order[0][0] = 12;
  std::vector<int32_t> x = filtered, y = filtered, z = filtered;
  TnsFilter(kRate, a, x.data(), false);
  TnsFilter(kRate, b, y.data(), false);
  TnsFilter(kRate, twelve, z.data(), false);
  EXPECT_EQ(x, y);
  EXPECT_EQ(x, z);

  // A length reaching below band 0 is clamped; a filter above max_sfb does
  // nothing.
  IcsInfo longer = ics;
  longer.tns.length[0][0] = 63;
  std::vector<int32_t> l = spec;
  TnsFilter(kRate, longer, l.data(), false);
  EXPECT_EQ(l[0], 0);
  IcsInfo above = ics;
  above.maxSfb = 2;
  above.tns.length[0][0] = 5;
  std::vector<int32_t> u = spec;
  TnsFilter(kRate, above, u.data(), false);
  EXPECT_EQ(u, spec);
}

// The direct form of a second-order filter, worked from the reflection
// coefficients in Q24: a_0 = 0xFFFFFF, and step m sets a_m = (a_0 x k_m) >> 24
// and a_i += (a_(m-i) x k_m) >> 24. An impulse of 2^24 through the all-pole
// filter shows a_1 and a_2 in its next two outputs.
TEST(HeaacTns, ReflectionToDirectFormWorkedValues) {
  const AacComputedTables& t = GetAacTables();
  struct Case {
    uint8_t index[2];
  } cases[] = {{{3, 5}}, {{12, 2}}, {{7, 9}}};  // positive, negative and mixed (4-bit indices)
  for (const Case& c : cases) {
    const int64_t k1 = t.tnsCoef[1][c.index[0]], k2 = t.tnsCoef[1][c.index[1]];
    const int64_t a0 = 0xFFFFFF;
    int64_t a1 = (a0 * k1) >> 24;
    a1 += (a1 * k2) >> 24;
    const int64_t a2 = (a0 * k2) >> 24;
    const IcsInfo ics = OneTnsFilter({c.index[0], c.index[1]});
    std::vector<int32_t> spec(1024, 0);
    const int start = kSwbOffsetLong[kRate][ics.numSwb - 30];
    spec[start] = 1 << 24;
    TnsFilter(kRate, ics, spec.data(), false);
    const int64_t y1 = -a1;
    const int64_t y2 = -((a1 * y1 + a2 * (int64_t{1} << 24)) >> 24);
    EXPECT_EQ(spec[start], 1 << 24);
    EXPECT_EQ(spec[start + 1], y1) << int(c.index[0]) << " " << int(c.index[1]);
    EXPECT_EQ(spec[start + 2], y2) << int(c.index[0]) << " " << int(c.index[1]);
  }
}

class HeaacDecoderState : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(gCreateHeAacDecoder(&decoder_), 0);
    AacStreamInfo info{};
    info.samplesPerFrame = 1024;
    info.coreSampleRate = 44100;
    info.channels = 1;
    info.profile = 3;
    ASSERT_EQ(gConfigureHeAacDecoder(decoder_, &info), 0);
    state_ = reinterpret_cast<AacDecoderState*>(decoder_);
  }
  void TearDown() override { gDestroyHeAacDecoder(decoder_); }
  HeAacDecoder* decoder_ = nullptr;
  AacDecoderState* state_ = nullptr;
};

// With every used flag 0 the prediction adds nothing; with the flags set it
// does. The history holds a 1 kHz tone.
TEST_F(HeaacDecoderState, LtpUsedFlagsSelectTheBands) {
  for (int i = 0; i < 2048; ++i) state_->ltpHistory[i] = static_cast<int16_t>(8000 * ((i / 22) % 2 ? 1 : -1));
  IcsInfo ics{};
  LongWindow(&ics, 40);
  ics.ltp.present = 1;
  ics.ltp.lag = 2047;
  ics.ltp.coefIndex = 3;
  std::vector<int32_t> spec(1024, 7), original = spec;
  LtpPredict(state_, ics, spec.data(), 0, kRate);
  EXPECT_EQ(spec, original);
  for (int b = 0; b < 40; ++b) ics.ltp.longUsed[b] = 1;
  LtpPredict(state_, ics, spec.data(), 0, kRate);
  EXPECT_NE(spec, original);
  // Bands at and above 40 are never predicted.
  for (int k = kSwbOffsetLong[kRate][40]; k < 1024; ++k) ASSERT_EQ(spec[k], 7) << k;
}

TEST(HeaacLtp, HistoryKeepsTheLastTwoFrames) {
  std::vector<int16_t> history(2048, 0), output(2048);
  for (int i = 0; i < 2048; ++i) output[i] = static_cast<int16_t>(i);
  LtpUpdateHistory(history.data(), output.data(), 2);  // channel 0 of two
  LtpUpdateHistory(history.data(), output.data() + 1, 2);  // then channel 1's samples
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(history[i], 2 * i);
    ASSERT_EQ(history[1024 + i], 2 * i + 1);
  }
}

// A frame whose coefficients are all zero adds nothing to the overlap: the
// output is the previous frame's overlap rounded to PCM, and nothing is left
// to overlap the next frame, whatever the work buffers held before, for
// every window sequence, with the references and with every variant.
TEST(HeaacFilterbank, SilentFrameGivesTheOverlapAlone) {
  std::mt19937 rng(20261210);
  for (const uint32_t mask : {0u, ~0u}) {
    AacDsp dsp{};
    init_aac_dsp(dsp, ov::GetCpuFlags() & mask);
    for (const int sequence : {kOnlyLong, kLongStart, kEightShort, kLongStop}) {
      for (const int extraBits : {0, 5}) {
        std::vector<int32_t> spec(kFrameLength, 0), row(2048), scratch(1024);
        for (int32_t& v : row) v = static_cast<int32_t>(rng());
        for (int32_t& v : scratch) v = static_cast<int32_t>(rng());
        std::vector<int64_t> overlap(1024);
        // Up to about 2^16 in PCM, so that both clamps are met.
        for (int64_t& v : overlap) v = static_cast<int64_t>(static_cast<int32_t>(rng())) << 9;
        const std::vector<int64_t> before = overlap;
        std::vector<int16_t> pcm(1024);
        ImdctFilterbank(dsp, 1, sequence, 0, spec.data(), extraBits, row.data(), scratch.data(), overlap.data(),
                        pcm.data(), 1);
        for (int n = 0; n < 1024; ++n) {
          const int64_t rounded = (before[n] + (int64_t{1} << (kOverlapFracBits - 1))) >> kOverlapFracBits;
          const int64_t expect = std::clamp<int64_t>(rounded, -32767, 32767);
          ASSERT_EQ(pcm[n], expect) << "mask " << mask << " sequence " << sequence << " sample " << n;
          ASSERT_EQ(overlap[n], 0) << "mask " << mask << " sequence " << sequence << " sample " << n;
        }
      }
    }
  }
}

}  // namespace
}  // namespace heaac
