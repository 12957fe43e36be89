#include "engine/soft_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "engine/soft_mixer_tables.h"

namespace engine {
namespace {

std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> b;
  for (int16_t s : samples) {
    b.push_back(static_cast<uint8_t>(s & 0xFF));
    b.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  return b;
}

std::vector<int16_t> RenderFrames(SoftMixer& m, uint32_t frames, uint32_t* bytesOut = nullptr) {
  std::vector<int16_t> out(frames * 2, 0);
  uint32_t bytes = m.Render(reinterpret_cast<uint8_t*>(out.data()), frames * 4);
  if (bytesOut) *bytesOut = bytes;
  out.resize(bytes / 2);
  return out;
}

TEST(SoftMixerTest, GainTableSteps) {
  EXPECT_EQ(kSoftMixerGain[0], 65536u);
  EXPECT_EQ(kSoftMixerGain[1], 60535u);
  EXPECT_EQ(kSoftMixerGain[2], 55917u);
  EXPECT_EQ(kSoftMixerGain[8], 34732u);
  EXPECT_EQ(kSoftMixerGain[32], 5170u);
  EXPECT_EQ(kSoftMixerGain[62], 478u);
  EXPECT_EQ(kSoftMixerGain[63], 0u);
}

TEST(SoftMixerTest, SameRateStreamIsReproducedExactly) {
  SoftMixer m(16, 22050, 2);
  uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, 22050, 2));
  ASSERT_NE(v, 0u);
  std::vector<int16_t> in;
  for (int i = 0; i < 400; ++i) in.push_back(static_cast<int16_t>(i * 97 - 20000));
  auto bytes = Pcm16(in);
  // Split over two buffers: the join must not show.
  ASSERT_EQ(m.WriteVoice(v, bytes.data(), 300), MMSYSERR_NOERROR);
  ASSERT_EQ(m.WriteVoice(v, bytes.data() + 300, static_cast<uint32_t>(bytes.size() - 300)), MMSYSERR_NOERROR);
  auto out = RenderFrames(m, 150);
  ASSERT_EQ(out.size(), 300u);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[i]) << i;
}

TEST(SoftMixerTest, RenderWithoutStreamsIsEmpty) {
  SoftMixer m(16, 22050, 2);
  uint32_t bytes = 1;
  RenderFrames(m, 64, &bytes);
  EXPECT_EQ(bytes, 0u);
}

TEST(SoftMixerTest, FullScaleStreamsSaturate) {
  SoftMixer m(16, 8000, 2);
  std::vector<int16_t> hi(64, 32767), lo(64, -32768);
  for (auto* samples : {&hi, &lo}) {
    SoftMixer mm(16, 8000, 2);
    uintptr_t a = mm.OpenVoice(WaveFormatEx::Pcm(16, 8000, 1));
    uintptr_t b = mm.OpenVoice(WaveFormatEx::Pcm(16, 8000, 1));
    auto bytes = Pcm16(*samples);
    mm.WriteVoice(a, bytes.data(), static_cast<uint32_t>(bytes.size()));
    mm.WriteVoice(b, bytes.data(), static_cast<uint32_t>(bytes.size()));
    auto out = RenderFrames(mm, 32);
    ASSERT_FALSE(out.empty());
    for (int16_t s : out) ASSERT_EQ(s, (*samples)[0]);
  }
}

TEST(SoftMixerTest, UnpreparedBufferIsRefused) {
  SoftMixer m(16, 22050, 2);
  uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, 22050, 2));
  WaveHeader h;
  h.data = std::make_unique<uint8_t[]>(16);
  h.bufferLength = 16;
  uintptr_t r = 0;
  m.Message({0, WODM_WRITE, v, reinterpret_cast<uintptr_t>(&h), sizeof(h)}, &r);
  EXPECT_EQ(r, WAVERR_UNPREPARED);
  EXPECT_EQ(m.QueuedBytes(v), 0u);
}

TEST(SoftMixerTest, HalfRateStreamAdvancesHalfASamplePerFrame) {
  SoftMixer m(16, 22050, 2);
  uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, 11025, 1));
  std::vector<int16_t> in;
  for (int i = 0; i < 64; ++i) in.push_back(static_cast<int16_t>(i * 1000));
  auto bytes = Pcm16(in);
  m.WriteVoice(v, bytes.data(), static_cast<uint32_t>(bytes.size()));
  auto out = RenderFrames(m, 40);
  ASSERT_GE(out.size(), 80u);
  // Frames alternate between source samples and their midpoints.
  for (int f = 0; f < 40; ++f) {
    int expect = f / 2 * 1000 + (f % 2 ? 500 : 0);
    EXPECT_NEAR(out[2 * f], expect, 1) << f;
    EXPECT_EQ(out[2 * f], out[2 * f + 1]);
  }
}

TEST(WaveStreamTest, AnHourReadsTheSourceAtItsRate) {
  // After an hour of output a voice has read the source's rate times an
  // hour, give or take the sample the interpolation holds: a step rounded to
  // 16.16 reads 8000 Hz into 48000 Hz 61 ppm slow, 1757 samples short.
  // Rendered in blocks of a prime length and fed in buffers of another, so
  // runs end everywhere.
  const uint32_t sources[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  const uint32_t outputs[] = {8000, 22050, 44100, 48000};
  constexpr uint32_t kBlock = 9973, kBuffer = 7919;
  const std::vector<uint8_t> silence(2 * kBuffer, 0);
  std::vector<uint8_t> out(4 * kBlock);
  for (uint32_t output : outputs)
    for (uint32_t source : sources) {
      SoftMixer m(16, output, 2);
      uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, source, 1));
      ASSERT_NE(v, 0u);
      auto consumed = [&] {
        MmTime t;
        t.type = TIME_SAMPLES;
        uintptr_t r = 0;
        m.Message({0, WODM_GETPOS, v, reinterpret_cast<uintptr_t>(&t), sizeof(t)}, &r);
        return uint64_t{t.value};
      };
      // Renders `frames` output frames, keeping the queue ahead of them.
      auto render = [&](uint64_t frames) {
        while (frames) {
          uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, kBlock));
          while (m.QueuedBytes(v) < 2 * (uint64_t{n} * source / output + 4))
            ASSERT_EQ(m.WriteVoice(v, silence.data(), static_cast<uint32_t>(silence.size())), MMSYSERR_NOERROR);
          ASSERT_EQ(m.Render(out.data(), 4 * n), 4 * n);
          frames -= n;
        }
      };
      render(output);  // a second in, past the two samples the first frame loads
      uint64_t from = consumed();
      const uint64_t n = uint64_t{3600} * output + 12345;
      render(n);
      int64_t want = static_cast<int64_t>((n * source + output / 2) / output);
      EXPECT_LE(std::llabs(static_cast<int64_t>(consumed() - from) - want), 1) << source << " into " << output;
    }
}

TEST(SoftMixerTest, VolumeAndMasterVolumeUseTheGainTable) {
  struct Case {
    uint32_t volume, master;
  } cases[] = {{65535, 65535}, {32768, 65535}, {65535, 32768}, {6553, 45000}, {0, 65535}, {0x12345678, 0xFFFFFFFF}};
  for (const Case& c : cases) {
    SoftMixer m(16, 8000, 2);
    uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, 8000, 1));
    m.SetVolume(v, c.volume);
    m.SetVolume(0, c.master);
    std::vector<int16_t> in(32, 20000);
    auto bytes = Pcm16(in);
    m.WriteVoice(v, bytes.data(), static_cast<uint32_t>(bytes.size()));
    auto out = RenderFrames(m, 8);
    ASSERT_FALSE(out.empty());
    // Only the low 16 bits of a volume word count.
    uint32_t vol = c.volume & 0xFFFF, mv = c.master & 0xFFFF;
    uint32_t g = 65535u * vol;
    int64_t streamGain = g == 0 ? 0 : kSoftMixerGain[63 - ((g + 65535u) >> 26)];
    int64_t expect = ((20000 * streamGain) >> 16) * kSoftMixerGain[63 - (mv >> 10)] >> 16;
    EXPECT_EQ(out[0], expect) << c.volume << " " << c.master;
  }
}

TEST(SoftMixerTest, EightBitOutputAndZeroRateRefused) {
  SoftMixer m(8, 8000, 2);
  uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(8, 8000, 1));
  std::vector<uint8_t> in(32, 200);
  m.WriteVoice(v, in.data(), 32);
  std::vector<uint8_t> out(64, 0);
  uint32_t bytes = m.Render(out.data(), 64);
  EXPECT_EQ(bytes, 32u);  // 16 frames of 8-bit stereo
  EXPECT_EQ(out[0], 200);
  EXPECT_EQ(m.SetSampleRate(v, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(m.OpenVoice(WaveFormatEx::Pcm(16, 0, 2)), 0u);
  EXPECT_EQ(m.OpenVoice(WaveFormatEx::Pcm(24, 8000, 2)), 0u);
}

}  // namespace
}  // namespace engine

#include "engine/chorus_effect.h"
#include "engine/reverb_effect.h"

namespace engine {
namespace {

TEST(SoftMixerTest, Capabilities) {
  SoftMixer m(16, 22050, 2);
  WaveOutCaps caps;
  m.GetCaps(&caps);
  EXPECT_EQ(caps.manufacturerId, 1);
  EXPECT_EQ(caps.productId, 24);
  EXPECT_EQ(std::u16string_view(caps.name), u"Audio Output");
  EXPECT_EQ(caps.formats, 0xFFFu);
  EXPECT_EQ(caps.support, 6u);
}

TEST(EffectVoicesTest, ChorusDetuningAndReverbChunks) {
  ChorusEffect chorus;
  ASSERT_TRUE(chorus.Build(WaveFormatEx::Pcm(16, 22050, 1), 5));
  // d = ((i + 2) / 2) x rate / 400: 55, 55, 110, 110, 165; up for even i.
  const uint32_t expect[] = {22105, 21995, 22160, 21940, 22215};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(chorus.Rate(i), expect[i]) << i;
  // One block in, the same span out as 16-bit stereo.
  std::vector<uint8_t> in(2205 * 2, 0), out;
  chorus.Feed(in.data(), static_cast<uint32_t>(in.size()), &out);
  EXPECT_EQ(out.size(), 2205u * 4);

  ReverbEffect reverb;
  ASSERT_TRUE(reverb.Build(WaveFormatEx::Pcm(16, 22050, 1), 100, 4, 76, 35));
  EXPECT_EQ(reverb.ChunkBytes(), 4400u);  // 100 ms of 44 bytes per ms
  reverb.Feed(in.data(), static_cast<uint32_t>(in.size()), &out);
  EXPECT_EQ(out.size(), 2205u * 4);
  EXPECT_FALSE(reverb.Build(WaveFormatEx::Pcm(16, 22050, 1), 0, 4, 76, 35));
  EXPECT_FALSE(reverb.Build(WaveFormatEx::Pcm(16, 22050, 1), 100, 4000, 76, 35));
}

}  // namespace
}  // namespace engine

namespace engine {
namespace {

struct Notices {
  int open = 0, done = 0, close = 0;
};

void CountNotice(uintptr_t, uint32_t message, uintptr_t instance, uintptr_t, uintptr_t) {
  auto* n = reinterpret_cast<Notices*>(instance);
  if (message == WOM_OPEN) ++n->open;
  if (message == WOM_DONE) ++n->done;
  if (message == WOM_CLOSE) ++n->close;
}

TEST(SoftMixerTest, ClientNoticesAndPositions) {
  SoftMixer m(16, 8000, 2);
  Notices notices;
  WaveFormatEx format = WaveFormatEx::Pcm(16, 8000, 1);
  WaveOpenDesc desc;
  desc.format = &format;
  desc.callback = &CountNotice;
  desc.instance = reinterpret_cast<uintptr_t>(&notices);
  uintptr_t voice = 0, r = 0;
  m.Message({0, WODM_OPEN, reinterpret_cast<uintptr_t>(&voice), reinterpret_cast<uintptr_t>(&desc), 0}, &r);
  ASSERT_EQ(r, MMSYSERR_NOERROR);
  EXPECT_EQ(notices.open, 1);
  // A format query opens nothing.
  uintptr_t none = 0;
  m.Message({0, WODM_OPEN, reinterpret_cast<uintptr_t>(&none), reinterpret_cast<uintptr_t>(&desc),
             WAVE_FORMAT_QUERY}, &r);
  EXPECT_EQ(r, MMSYSERR_NOERROR);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(m.StreamCount(), 1u);

  std::vector<uint8_t> pcm(160, 0);  // 80 samples = 10 ms
  for (int i = 0; i < 3; ++i) m.WriteVoice(voice, pcm.data(), 160);
  EXPECT_EQ(m.QueuedMs(voice), 30u);
  std::vector<uint8_t> out(4 * 100);
  m.Render(out.data(), static_cast<uint32_t>(out.size()));  // 100 frames: the first buffer and a part
  EXPECT_EQ(notices.done, 1);
  MmTime t;
  t.type = TIME_SAMPLES;
  m.Message({0, WODM_GETPOS, voice, reinterpret_cast<uintptr_t>(&t), sizeof(t)}, &r);
  EXPECT_EQ(t.value, 101u);  // two samples for the first frame, then one a frame
  t.type = 12345;  // unknown types answer in bytes
  m.Message({0, WODM_GETPOS, voice, reinterpret_cast<uintptr_t>(&t), sizeof(t)}, &r);
  EXPECT_EQ(t.type, TIME_BYTES);
  EXPECT_EQ(t.value, 202u);
  m.Message({0, 999, voice, 0, 0}, &r);
  EXPECT_EQ(r, MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(m.CloseVoice(voice), MMSYSERR_NOERROR);
  EXPECT_EQ(notices.done, 3);  // the rest returned on close
  EXPECT_EQ(notices.close, 1);
  EXPECT_EQ(m.StreamCount(), 0u);
  EXPECT_EQ(m.CloseVoice(voice), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace engine
