#include "engine/mix_dsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine/soft_mixer.h"
#include "engine/soft_mixer_tables.h"
#include "platform/cpu/cpu.h"

namespace engine {
namespace {

struct Variant {
  const char* name;
  MixResampleFn fn;
  uint32_t needs;
};

std::vector<Variant> Variants() {
  std::vector<Variant> v;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  v.push_back({"sse2", MixResample_sse2, ov::kCpuSse2});
  v.push_back({"avx2", MixResample_avx2, ov::kCpuAvx2});
#endif
  return v;
}

// Source frames: random, or full-scale swings that drive the interpolation
// difference and the saturating add to their limits.
std::vector<int16_t> Source(size_t frames, int pattern, std::mt19937& rng) {
  std::vector<int16_t> s(2 * frames);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = pattern == 0 ? static_cast<int16_t>(any(rng)) : static_cast<int16_t>((i / 2 + i) % 2 ? 32767 : -32768);
  return s;
}

TEST(MixDspTest, ReferenceMatchesWorkedValues) {
  // prev, cur, fraction, gain, master -> sample.
  struct Case {
    int16_t prev, cur;
    uint32_t frac, gain, master;
    int16_t want;
  } cases[] = {
      {0, 1000, 0x8000, 65536, 65536, 500},
      {0, -1, 1, 65536, 65536, -1},                  // rounds towards minus infinity
      {-32768, 32767, 0xFFFF, 65536, 65536, 32766},  // the widest difference
      {1000, 1000, 0, 32768, 65536, 500},
      {-1001, -1001, 0, 32768, 32768, -251},  // floor(floor(-1001 / 2) / 2)
      {12345, 12345, 0, 0, 65536, 0},
  };
  for (const Case& c : cases) {
    int16_t src[4] = {c.prev, c.prev, c.cur, c.cur};
    int16_t dst[2] = {};
    MixResample_c(dst, src, 1, c.frac, 0, nullptr, c.gain, c.master, false);
    EXPECT_EQ(dst[0], c.want) << c.prev << " " << c.cur << " " << c.frac;
    EXPECT_EQ(dst[1], c.want);
    // Added to a full-scale sample it saturates.
    int16_t full[2] = {32767, -32768};
    MixResample_c(full, src, 1, c.frac, 0, nullptr, c.gain, c.master, true);
    EXPECT_EQ(full[0], std::min(32767, 32767 + c.want));
    EXPECT_EQ(full[1], std::max(-32768, -32768 + c.want));
  }
}

TEST(MixDspTest, VariantsMatchReference) {
  // 16.16 steps: equal rates, up and down by common and odd ratios, a frozen
  // position and the largest step the mixer hands the kernel.
  const uint32_t steps[] = {0x10000,
                            0x8000,
                            0x20000,
                            11025u * 65536 / 44100,
                            44100u * 65536 / 8000 + 1,
                            8000u * 65536 / 22050 + 1,
                            0x10001,
                            0xFFFF,
                            1,
                            0,
                            1u << 24};
  const uint32_t gains[] = {65536, 60535, 34732, 478, 0};
  const uint32_t lengths[] = {1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 33, 257};
  std::mt19937 rng(37);
  for (const Variant& v : Variants()) {
    if (!(ov::GetCpuFlags() & v.needs)) continue;
    for (uint32_t step : steps)
      for (uint32_t len : lengths)
        for (int pattern = 0; pattern < 2; ++pattern)
          for (size_t g = 0; g < std::size(gains); ++g) {
            uint32_t gain = gains[g], master = gains[(g + pattern + 1) % std::size(gains)];
            uint32_t phase = static_cast<uint32_t>(rng() & 0xFFFF);
            // Carries of a step's rest: each frame's one more than the one
            // before or the same, as the voice makes them.
            std::vector<uint32_t> carries(len);
            for (uint32_t j = 1; j < len; ++j) carries[j] = carries[j - 1] + (rng() & 1);
            size_t need = ((uint64_t{phase} + uint64_t{len} * step + len) >> 16) + 2;
            auto src = Source(need, pattern, rng);
            for (int mode = 0; mode < 4; ++mode) {
              bool add = mode & 1;
              const uint32_t* carry = mode & 2 ? carries.data() : nullptr;
              // One sample of offset leaves the output unaligned; canaries
              // around it catch stray writes.
              std::vector<int16_t> ref(2 * len + 6), got(2 * len + 6);
              for (size_t i = 0; i < ref.size(); ++i) {
                ref[i] = got[i] = static_cast<int16_t>(rng());
                if (i == 0 || i >= 2 * len + 1) got[i] = static_cast<int16_t>(ref[i] ^ 0x5A5A);
              }
              MixResample_c(ref.data() + 1, src.data(), len, phase, step, carry, gain, master, add);
              v.fn(got.data() + 1, src.data(), len, phase, step, carry, gain, master, add);
              for (size_t i = 0; i < ref.size(); ++i) {
                int16_t want = (i == 0 || i >= 2 * len + 1) ? static_cast<int16_t>(ref[i] ^ 0x5A5A) : ref[i];
                ASSERT_EQ(got[i], want) << v.name << " step " << step << " len " << len << " gain " << gain
                                        << " master " << master << " add " << add << " carry " << !!carry
                                        << " at " << i;
              }
            }
          }
  }
}

// The voice's loop frame by frame, as the mixer defines it: output frame f
// sits at f x rate / mixRate source frames, in 16.16 units rounded down;
// load source frames while that position is past the current one,
// interpolate, scale by the voice's and the master gain.
std::vector<int16_t> Model(const std::vector<int16_t>& stereo, uint32_t rate, uint32_t mixRate, uint32_t gain,
                           uint32_t master, uint32_t frames) {
  std::vector<int16_t> out;
  size_t next = 0;
  int32_t prev[2] = {0, 0}, cur[2] = {0, 0};
  for (uint32_t f = 0; f < frames; ++f) {
    uint64_t phase = 0x20000 + (uint64_t{f} * (uint64_t{rate} << 16)) / mixRate - (uint64_t{next} << 16);
    bool starved = false;
    while (phase > 0xFFFF) {
      if (next * 2 >= stereo.size()) {
        starved = true;
        break;
      }
      for (int s = 0; s < 2; ++s) {
        prev[s] = cur[s];
        cur[s] = stereo[2 * next + s];
      }
      ++next;
      phase -= 0x10000;
    }
    if (starved) break;
    for (int s = 0; s < 2; ++s) {
      int64_t v = prev[s] + ((static_cast<int64_t>(cur[s] - prev[s]) * static_cast<int64_t>(phase)) >> 16);
      v = ((v * gain) >> 16) * master >> 16;
      out.push_back(static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)));
    }
  }
  return out;
}

TEST(MixDspTest, VoicesRenderAsTheFrameByFrameLoop) {
  struct Case {
    uint32_t bits, channels, rate, mixRate, volume;
  } cases[] = {
      {16, 2, 22050, 22050, 0xFFFF}, {16, 1, 11025, 44100, 0x8000}, {8, 2, 44100, 8000, 0xFFFF},
      {8, 1, 8000, 22050, 0x3000},   {16, 2, 48000, 44100, 0x0400}, {16, 2, 22050, 11025, 0},
      {16, 1, 8000, 48000, 0xFFFF},  {16, 2, 44100, 48000, 0xFFFF},
  };
  std::mt19937 rng(7);
  for (uint32_t mask : {0u, ~0u}) {
    ov::SetCpuFlagsMask(mask);
    for (const Case& c : cases) {
      SoftMixer m(16, c.mixRate, 2);
      uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(c.bits, c.rate, c.channels));
      ASSERT_NE(v, 0u);
      m.SetVolume(v, c.volume);
      // Buffers of odd lengths, some shorter than a frame's step, so runs end
      // on every kind of boundary.
      std::vector<int16_t> stereo;
      for (uint32_t bytesLen : {1u, 6u, 11u, 4099u, 64u, 30001u, 2u, 777u}) {
        uint32_t frameBytes = c.bits / 8 * c.channels;
        std::vector<uint8_t> data(bytesLen);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        for (uint32_t i = 0; i + frameBytes <= bytesLen; i += frameBytes) {
          int16_t l, r;
          if (c.bits == 8) {
            l = static_cast<int16_t>((data[i] - 128) * 256);
            r = c.channels == 2 ? static_cast<int16_t>((data[i + 1] - 128) * 256) : l;
          } else {
            l = static_cast<int16_t>(data[i] | data[i + 1] << 8);
            r = c.channels == 2 ? static_cast<int16_t>(data[i + 2] | data[i + 3] << 8) : l;
          }
          stereo.push_back(l);
          stereo.push_back(r);
        }
        ASSERT_EQ(m.WriteVoice(v, data.data(), bytesLen), MMSYSERR_NOERROR);
      }
      uint32_t g = m.gainSelect(0) * c.volume;
      uint32_t gain = g == 0 ? 0 : kSoftMixerGain[63 - ((g + 65535u) >> 26)];
      uint32_t total = static_cast<uint32_t>(stereo.size() / 2 * uint64_t{c.mixRate} / c.rate + 8);
      auto want = Model(stereo, c.rate, c.mixRate, gain, m.masterGain(), total);
      // Rendered in blocks of odd sizes, over a second voice's sound so the
      // first blocks add and the rest store.
      std::vector<int16_t> got;
      for (uint32_t block : {1u, 13u, 1000u, 4097u, 333u, 100000u}) {
        std::vector<int16_t> buf(2 * block);
        uint32_t bytes = m.Render(reinterpret_cast<uint8_t*>(buf.data()), block * 4);
        got.insert(got.end(), buf.begin(), buf.begin() + bytes / 2);
      }
      ASSERT_EQ(got.size(), want.size()) << c.bits << "/" << c.channels << " " << c.rate << " mask " << mask;
      for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << c.bits << "/" << c.channels << " " << c.rate << " at " << i;
    }
  }
  ov::SetCpuFlagsMask(~0u);
}

TEST(MixDspTest, RunsOfAVerySlowVoiceEndInsideTheirBuffers) {
  // 7 Hz into 48000 Hz: the step's rest is most of a 16.16 unit, so a run's
  // last frame often sits within the carried rest of a buffer's end. One-
  // to three-frame buffers end runs everywhere; a read past a buffer's end
  // shows to the address checker or as a frame unlike the model's.
  std::mt19937 rng(11);
  for (uint32_t mask : {0u, ~0u}) {
    ov::SetCpuFlagsMask(mask);
    SoftMixer m(16, 48000, 2);
    uintptr_t v = m.OpenVoice(WaveFormatEx::Pcm(16, 7, 1));
    ASSERT_NE(v, 0u);
    std::vector<int16_t> stereo;
    for (int b = 0; b < 60; ++b) {
      std::vector<uint8_t> data(2 * (1 + rng() % 3));
      for (size_t i = 0; i < data.size(); i += 2) {
        data[i] = static_cast<uint8_t>(rng());
        data[i + 1] = static_cast<uint8_t>(rng());
        stereo.insert(stereo.end(), 2, static_cast<int16_t>(data[i] | data[i + 1] << 8));
      }
      ASSERT_EQ(m.WriteVoice(v, data.data(), static_cast<uint32_t>(data.size())), MMSYSERR_NOERROR);
    }
    auto want = Model(stereo, 7, 48000, 65536, m.masterGain(), static_cast<uint32_t>(stereo.size() / 2 * 48000 / 7 + 8));
    std::vector<int16_t> got(want.size() + 16);
    uint32_t bytes = m.Render(reinterpret_cast<uint8_t*>(got.data()), static_cast<uint32_t>(2 * got.size()));
    got.resize(bytes / 2);
    ASSERT_EQ(got.size(), want.size()) << "mask " << mask;
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "mask " << mask << " at " << i;
  }
  ov::SetCpuFlagsMask(~0u);
}

TEST(MixDspTest, TwoVoicesAddWithSaturation) {
  // The second voice adds to the first over the first's length and stores
  // beyond it; at full scale the sum saturates on both channels.
  std::vector<uint8_t> a(4 * 100), b(4 * 300);
  for (size_t i = 0; i < a.size(); i += 2) a[i] = 0xFF, a[i + 1] = 0x7F;                 // 32767
  for (size_t i = 0; i < b.size(); i += 2) b[i] = 0x00, b[i + 1] = i % 4 ? 0x40 : 0xC0;  // -16384 | 16384
  for (uint32_t mask : {0u, ~0u}) {
    ov::SetCpuFlagsMask(mask);
    SoftMixer m(16, 22050, 2);
    uintptr_t va = m.OpenVoice(WaveFormatEx::Pcm(16, 22050, 2));
    uintptr_t vb = m.OpenVoice(WaveFormatEx::Pcm(16, 22050, 2));
    m.WriteVoice(va, a.data(), static_cast<uint32_t>(a.size()));
    m.WriteVoice(vb, b.data(), static_cast<uint32_t>(b.size()));
    std::vector<int16_t> out(2 * 300);
    ASSERT_EQ(m.Render(reinterpret_cast<uint8_t*>(out.data()), 300 * 4), 299u * 4);
    // Each voice stops one frame short of its length (the last frame has no
    // successor to interpolate towards).
    for (size_t f = 0; f < 299; ++f) {
      ASSERT_EQ(out[2 * f], f < 99 ? 16383 : -16384) << f;
      ASSERT_EQ(out[2 * f + 1], f < 99 ? 32767 : 16384) << f;
    }
  }
  ov::SetCpuFlagsMask(~0u);
}

}  // namespace
}  // namespace engine
