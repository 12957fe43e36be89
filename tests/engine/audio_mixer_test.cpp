#include "engine/audio_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/soft_mixer_tables.h"
#include "tests/support/test_paths.h"

namespace engine {
namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kFramesPerMs = kRate / 1000;

ov::String Fixture(const char* name) { return ov::String::FromUtf8Lossy(ovtest::FixturePath(name)); }

// Every sample of a clip as the audio source delivers it.
std::vector<int16_t> SourceSamples(const char* name) {
  auto source = media::OpenAudioSource(Fixture(name));
  std::vector<int16_t> out;
  if (!source) return out;
  uint32_t bytes = 0, t = 0;
  while (auto block = source->ReadAudio(8192, &bytes, &t)) {
    for (uint32_t i = 0; i + 1 < bytes; i += 2) out.push_back(static_cast<int16_t>(block[i] | block[i + 1] << 8));
  }
  return out;
}

// Pulls 100 ms blocks until nothing comes or `maxMs` has been produced.
std::vector<int16_t> PullAll(AudioMixer& m, uint32_t maxMs = 60000) {
  std::vector<int16_t> out;
  std::vector<uint8_t> block(m.BytesForDuration(100));
  for (uint32_t ms = 0; ms < maxMs; ms += 100) {
    uint32_t got = 0;
    m.Pull(block.data(), static_cast<uint32_t>(block.size()), &got);
    if (got == 0) break;
    for (uint32_t i = 0; i + 1 < got; i += 2) out.push_back(static_cast<int16_t>(block[i] | block[i + 1] << 8));
  }
  return out;
}

int Load(AudioMixer& m, uint32_t channel, const char* name, int32_t start = 0, int32_t end = 0, int32_t tempo = 0) {
  EngineCommand c = MakeCommand(CMD_LOAD, channel, -1, start, end, tempo);
  c.path = Fixture(name);
  return m.ApplyAction(c, 0);
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to && i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(std::max<size_t>(1, to - from)));
}

class AudioMixerTest : public testing::Test {
 protected:
  void SetUp() override { OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("engine_22k_stereo.wav")); }
  AudioMixer mixer_{16, kRate, 2};
};

TEST_F(AudioMixerTest, StereoClipAloneIsReproducedExactly) {
  auto src = SourceSamples("engine_22k_stereo.wav");
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_stereo.wav"), 1);
  EXPECT_TRUE(mixer_.IsChannelLoaded(0));
  EXPECT_FALSE(mixer_.IsChannelPlaying(0));
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_);
  // The voice holds back its last source frame (it interpolates towards the next).
  ASSERT_GE(out.size() + 2, src.size());
  ASSERT_LE(out.size(), src.size());
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], src[i]) << "sample " << i;
  // Ended without keepWhenDone: closed.
  EXPECT_FALSE(mixer_.IsChannelLoaded(0));
}

TEST_F(AudioMixerTest, VolumesScaleByTheGainTable) {
  auto src = SourceSamples("engine_22k_stereo.wav");
  Load(mixer_, 3, "engine_22k_stereo.wav");
  mixer_.ApplyAction(MakeCommand(CMD_VOLUME, 3, 40000), 1);
  mixer_.ApplyAction(MakeCommand(CMD_MASTER_VOLUME, 0, 50000), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 3), 1);
  auto out = PullAll(mixer_, 500);
  int64_t stream = kSoftMixerGain[63 - ((65535u * 40000u + 65535u) >> 26)];
  int64_t master = kSoftMixerGain[63 - (50000u >> 10)];
  ASSERT_GT(out.size(), 1000u);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(out[i], ((src[i] * stream) >> 16) * master >> 16) << i;
}

TEST_F(AudioMixerTest, MarksSeekLoopAndKeepWhenDone) {
  auto src = SourceSamples("engine_22k_stereo.wav");
  // Marks: 500 ms to 1000 ms, kept loaded when done.
  ASSERT_EQ(Load(mixer_, 1, "engine_22k_stereo.wav", 500, 1000), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 1, 1), 1);
  auto out = PullAll(mixer_);
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, 500.0 * kFramesPerMs, 2 * kFramesPerMs);
  EXPECT_EQ(out[0], src[500 * kRate / 1000 * 2]);
  EXPECT_TRUE(mixer_.IsChannelLoaded(1));
  EXPECT_FALSE(mixer_.IsChannelPlaying(1));

  // Seek to 1500 ms of the whole clip.
  ASSERT_EQ(Load(mixer_, 1, "engine_22k_stereo.wav"), 1);
  mixer_.ApplyAction(MakeCommand(CMD_SEEK, 1, 1500), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 1), 1);
  out = PullAll(mixer_);
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, 500.0 * kFramesPerMs, 2 * kFramesPerMs);
  EXPECT_EQ(out[0], src[1500 * kRate / 1000 * 2]);

  // New marks on a loaded channel: 1000 ms to 1500 ms, from the start mark.
  ASSERT_EQ(Load(mixer_, 1, "engine_22k_stereo.wav"), 1);
  mixer_.ApplyAction(MakeCommand(CMD_SET_MARKS, 1, 0, 1000, 1500), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 1), 1);
  out = PullAll(mixer_);
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, 500.0 * kFramesPerMs, 2 * kFramesPerMs);
  EXPECT_EQ(out[0], src[1000 * kRate / 1000 * 2]);

  // Loop: still playing after three clip lengths, and the restart is the start.
  ASSERT_EQ(Load(mixer_, 1, "engine_22k_stereo.wav"), 1);
  mixer_.ApplyAction(MakeCommand(CMD_SET_LOOP, 1), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 1), 1);
  out = PullAll(mixer_, 6000);
  EXPECT_EQ(out.size(), 60u * mixer_.BytesForDuration(100) / 2);  // 60 full blocks of 100 ms
  EXPECT_TRUE(mixer_.IsChannelPlaying(1));
  EXPECT_GT(Rms(out, 2 * src.size() + 1000, 2 * src.size() + 5000), 1000.0);
}

TEST_F(AudioMixerTest, CommandsAndValuesRefused) {
  for (uint32_t code : {3u, 5u, 10u, 15u, 99u, 103u, 299u, 301u, 0x7FFFFFFFu})
    EXPECT_EQ(mixer_.ApplyAction(MakeCommand(code, 0), 1), 0) << code;
  // On an empty channel a volume or an effect changes nothing and is not
  // refused (a render fails on a refused command).
  for (uint32_t code : {CMD_VOLUME, CMD_ECHO, CMD_CHORUS, CMD_REVERB, CMD_SET_RATE})
    EXPECT_EQ(mixer_.ApplyAction(MakeCommand(code, 2, 100, 4, 76, 35), 1), 1) << code;
  EXPECT_FALSE(mixer_.IsChannelLoaded(2));
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_MASTER_VOLUME, 99, 1000), 1), 1);
  EXPECT_EQ(Load(mixer_, 16, "engine_22k_stereo.wav"), 0);
  EXPECT_EQ(mixer_.CloseChannel(16), 0);
  EXPECT_EQ(Load(mixer_, 0, "engine_22k_stereo.wav", 0, 0, -5), 0);      // negative tempo
  EXPECT_EQ(Load(mixer_, 0, "engine_22k_stereo.wav", 0, 0, 1000000), 0);  // absurd tempo
  EXPECT_EQ(Load(mixer_, 0, "missing.wav"), 0);
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_stereo.wav"), 1);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_SET_RATE, 0, 0), 1), 0);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_SET_RATE, 0, -1000), 1), 0);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_CHORUS, 0, 0), 1), 0);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_CHORUS, 0, 100000), 1), 0);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_REVERB, 0, 0, 4, 76, 35), 1), 0);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_ECHO, 0, -1), 1), 0);
  // A channel that can play still plays after the refusals.
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  EXPECT_GT(PullAll(mixer_).size(), 80000u);
}

TEST_F(AudioMixerTest, RateHalvesTheSpeed) {
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_mono.wav"), 1);
  EXPECT_EQ(mixer_.ApplyAction(MakeCommand(CMD_SET_RATE, 0, 500), 1), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_);
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, 2000.0 * kFramesPerMs, 10 * kFramesPerMs);
}

TEST_F(AudioMixerTest, EchoRepeatsTheClipLaterAtThreeQuartersVolume) {
  auto src = SourceSamples("engine_22k_mono.wav");
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_mono.wav"), 1);
  ASSERT_EQ(mixer_.ApplyAction(MakeCommand(CMD_ECHO, 0, 100), 1), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_);
  const size_t delay = 100 * kFramesPerMs;
  const int64_t echoGain = kSoftMixerGain[63 - ((65535u * (65535u * 3 / 4) + 65535u) >> 26)];
  ASSERT_GT(out.size() / 2, src.size());
  for (size_t f = 0; f + 1 < src.size(); ++f) {
    int64_t expect = src[f];
    if (f >= delay) expect += (src[f - delay] * echoGain) >> 16;
    expect = std::clamp<int64_t>(expect, -32768, 32767);
    ASSERT_EQ(out[2 * f], expect) << f;
    ASSERT_EQ(out[2 * f + 1], expect) << f;
  }
  // The echo outlasts the clip by its delay.
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, static_cast<double>(src.size() + delay), 2 * kFramesPerMs);
  // Replacing, removing and closing leave no voice behind.
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_mono.wav"), 1);
  ASSERT_EQ(mixer_.ApplyAction(MakeCommand(CMD_ECHO, 0, 100), 1), 1);
  ASSERT_EQ(mixer_.ApplyAction(MakeCommand(CMD_ECHO, 0, 300), 1), 1);
  EXPECT_EQ(mixer_.softMixer().StreamCount(), 2u);
  EngineCommand off = MakeCommand(CMD_ECHO, 0, 100);
  off.flag = 1;
  EXPECT_EQ(mixer_.ApplyAction(off, 1), 1);
  EXPECT_EQ(mixer_.softMixer().StreamCount(), 1u);
  ASSERT_EQ(mixer_.ApplyAction(MakeCommand(CMD_ECHO, 0, 100), 1), 1);
  mixer_.ApplyAction(MakeCommand(CMD_STOP, 0), 1);
  EXPECT_EQ(mixer_.softMixer().StreamCount(), 0u);
}

TEST_F(AudioMixerTest, ChorusAndReverbVoices) {
  auto src = SourceSamples("engine_22k_mono.wav");
  for (bool reverb : {false, true}) {
    AudioMixer m(16, kRate, 2);
    ASSERT_EQ(Load(m, 0, "engine_22k_mono.wav"), 1);
    EngineCommand fx = reverb ? MakeCommand(CMD_REVERB, 0, 100, 4, 76, 35) : MakeCommand(CMD_CHORUS, 0, 5, 15);
    ASSERT_EQ(m.ApplyAction(fx, 1), 1);
    m.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
    auto out = PullAll(m);
    // The effect keeps the clip's length and is neither silent nor the dry clip.
    EXPECT_NEAR(static_cast<double>(out.size()) / 2, static_cast<double>(src.size()), 60.0 * kFramesPerMs)
        << reverb;
    EXPECT_GT(Rms(out, 0, out.size()), 1000.0) << reverb;
    size_t differ = 0;
    for (size_t f = 200 * kFramesPerMs; f < src.size() && 2 * f < out.size(); ++f)
      differ += std::abs(out[2 * f] - src[f]) > 64;
    EXPECT_GT(differ, src.size() / 4) << reverb;
    if (reverb) {
      // Before the first delayed voice comes in, the dry clip (one frame late,
      // through the inner mixer's interpolation) is all there is.
      for (size_t f = 10; f < 90 * kFramesPerMs; ++f) ASSERT_NEAR(out[2 * f], src[f - 1], 1) << f;
    }
  }
}

struct TempoCase {
  const char* name;
  int32_t perMille;
  double lengthRatio;
  bool replaying;
};

class AudioMixerTempoTest : public AudioMixerTest, public testing::WithParamInterface<TempoCase> {};

TEST_P(AudioMixerTempoTest, LengthAndNoClicks) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("engine_22k_sweep.wav"));
  auto src = SourceSamples("engine_22k_sweep.wav");
  EngineCommand load = MakeCommand(CMD_LOAD, 0, -1, 0, 0, GetParam().perMille);
  if (GetParam().replaying)
    load.altPath = Fixture("engine_22k_sweep.wav");  // the cache path keeps the fraction too
  else
    load.path = Fixture("engine_22k_sweep.wav");
  ASSERT_EQ(mixer_.ApplyAction(load, GetParam().replaying ? 1 : 0), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_);
  double ratio = static_cast<double>(out.size()) / static_cast<double>(src.size());
  EXPECT_NEAR(ratio, GetParam().lengthRatio, 0.02);
  int maxIn = 0, maxOut = 0;
  for (size_t i = 2; i < src.size(); ++i) maxIn = std::max(maxIn, std::abs(src[i] - src[i - 2]));
  for (size_t i = 2; i < out.size(); ++i) maxOut = std::max(maxOut, std::abs(out[i] - out[i - 2]));
  // A cross-fade between two segments of the sweep can at most add the
  // slopes of both; a click is a jump far beyond that.
  EXPECT_LT(maxOut, 2 * maxIn + 64) << "largest step " << maxOut << " against " << maxIn;
}

INSTANTIATE_TEST_SUITE_P(Speeds, AudioMixerTempoTest,
                         testing::Values(TempoCase{"Faster1250", 1250, 0.8, false},
                                         TempoCase{"Slower896", 896, 1.0 / 0.896, false},
                                         TempoCase{"Slower896FromCache", 896, 1.0 / 0.896, true},
                                         TempoCase{"Unchanged1000", 1000, 1.0, false}),
                         [](const testing::TestParamInfo<TempoCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace engine

namespace engine {
namespace {

TEST_F(AudioMixerTest, VoicePositionIsWhatIsHeard) {
  ASSERT_EQ(Load(mixer_, 2, "engine_22k_stereo.wav"), 1);
  EXPECT_EQ(mixer_.GetVoicePosition(2), -1);  // nothing read yet
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 2), 1);
  PullAll(mixer_, 300);
  // Three blocks of 2200 frames were rendered: 299 ms of the clip heard,
  // while the reads have gone 50 ms and more ahead.
  EXPECT_NEAR(static_cast<double>(mixer_.GetVoicePosition(2)), 299.0, 3.0);
  EXPECT_EQ(mixer_.GetVoicePosition(16), -1);
}

TEST_F(AudioMixerTest, EightBitMonoSourceIsWidenedAndResampled) {
  auto src = SourceSamples("engine_11k_mono8.wav");  // bytes, two per int16 here
  auto raw = media::OpenAudioSource(Fixture("engine_11k_mono8.wav"));
  ASSERT_NE(raw, nullptr);
  uint32_t bytes = 0, t = 0;
  auto block = raw->ReadAudio(4096, &bytes, &t);
  ASSERT_TRUE(block);
  ASSERT_EQ(Load(mixer_, 0, "engine_11k_mono8.wav"), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_);
  EXPECT_NEAR(static_cast<double>(out.size()) / 2, 22050.0, 2 * kFramesPerMs);
  // 11025 Hz on a 22050 Hz mix: every other frame is a source sample, the
  // ones between are midpoints; both sides carry the mono signal.
  for (uint32_t f = 0; f < 200; f += 2) {
    ASSERT_EQ(out[2 * f], (block[f / 2] - 128) * 256) << f;
    ASSERT_EQ(out[2 * f + 1], out[2 * f]);
  }
}

TEST_F(AudioMixerTest, LoopedTempoChannelHasNoClickAtTheJoin) {
  auto src = SourceSamples("engine_22k_stereo.wav");
  ASSERT_EQ(Load(mixer_, 0, "engine_22k_stereo.wav", 0, 0, 1250), 1);
  mixer_.ApplyAction(MakeCommand(CMD_SET_LOOP, 0), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 0), 1);
  auto out = PullAll(mixer_, 4000);  // the 2 s clip, at 1.25, loops twice
  EXPECT_EQ(out.size(), 40u * mixer_.BytesForDuration(100) / 2);
  int maxIn = 0, maxOut = 0;
  for (size_t i = 2; i < src.size(); ++i) maxIn = std::max(maxIn, std::abs(src[i] - src[i - 2]));
  for (size_t i = 2; i < out.size(); ++i) maxOut = std::max(maxOut, std::abs(out[i] - out[i - 2]));
  EXPECT_LT(maxOut, 2 * maxIn + 64);
}

}  // namespace
}  // namespace engine

namespace engine {
namespace {

// A clip played to its end is heard to its end: the last block of an MP4
// sound track (136 samples of the edit's 2000 ms, at 1996.9 ms) reaches
// 2000 ms, which a linked picture's last frame ends at, so the picture ends
// and loops with its sound rather than a frame later.
TEST_F(AudioMixerTest, VoicePositionReachesTheClipsEnd) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("aac_stereo.m4a"));
  ASSERT_EQ(Load(mixer_, 3, "aac_stereo.m4a"), 1);
  mixer_.ApplyAction(MakeCommand(CMD_PLAY, 3, 1), 1);
  PullAll(mixer_, 2500);
  EXPECT_EQ(mixer_.GetVoicePosition(3), 2000);
}

}  // namespace
}  // namespace engine
