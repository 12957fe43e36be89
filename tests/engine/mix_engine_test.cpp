// The mix engine's three threads on a virtual clock: the wave-out device and
// the engine's timing advance only when the test says so.
#include "engine/mix_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"

namespace {

using engine::EngineCommand;
using engine::MixEngine;

constexpr uint32_t kRate = 11025;

// 8 x 8 frames every 100 ms, `count` of them.
struct Frames : media::DecoderSource {
  uint32_t count, next = 0;
  explicit Frames(uint32_t n) : count(n) {}
  bool Seek(uint32_t t) override {
    next = t / 100;
    return true;
  }
  bool Rewind() override { return Seek(0); }
  bool GetFormat(media::MediaFormat* f) override {
    *f = media::MediaFormat{};
    f->width = f->height = 8;
    f->frameDurationMs = 100;
    return true;
  }
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* b, uint32_t* bytes, uint32_t* t, uint32_t) override {
    b->reset();
    if (next >= count) return false;
    b->reset(new uint8_t[128]);
    std::fill(b->get(), b->get() + 128, uint8_t(0x10 + next));
    *bytes = 128;
    *t = next++ * 100;
    return true;
  }
  bool Open(const ov::String&, uint32_t) override { return true; }
};

struct Rig {
  engine::VirtualTiming* timing;
  std::unique_ptr<MixEngine> engine;
  std::mutex actionsMutex;
  std::vector<uint32_t> appActions;
  std::chrono::steady_clock::time_point lastActionAt;

  Rig() {
    auto t = std::make_unique<engine::VirtualTiming>();
    timing = t.get();
    auto video = std::make_unique<engine::VideoMixer>(16, 16, 10, 0);
    video->SetSourceOpener([](const ov::String& p, uint32_t) -> std::unique_ptr<media::DecoderSource> {
      return std::make_unique<Frames>(uint32_t(std::stoi(p.ToUtf8Lossy())));
    });
    engine = std::make_unique<MixEngine>(std::make_unique<engine::AudioMixer>(16, kRate, 2), std::move(video),
                                         std::move(t));
    engine->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
    // The engine's tick count is the device clock, so waits measured in ticks
    // and the replay's clock times agree exactly.
    // (The engine outlives its threads: they are joined in its destructor.)
    MixEngine* raw = engine.get();
    timing->SetClock([raw] { return raw->GetPlayPosition(); });
    engine->SetActionQueue([this](uint32_t a, const ov::String&) {
      std::lock_guard<std::mutex> lock(actionsMutex);
      appActions.push_back(a);
      lastActionAt = std::chrono::steady_clock::now();
    });
  }
  ~Rig() { engine.reset(); }

  // Plays the virtual device up to `ms` of clock and moves the timing along.
  void AdvanceTo(uint32_t ms) {
    for (int spins = 0; spins < 1000000; ++spins) {
      const uint32_t now = engine->GetPlayPosition();
      timing->Poke();
      if (now >= ms) return;
      uint64_t played = 0;
      const uint64_t frames = uint64_t(ms - now) * kRate / 1000 + 1;
      const bool device = engine->WithDevice(
          [&](ov::WaveOutDevice& d) { played = static_cast<ov::VirtualWaveOutDevice&>(d).Advance(frames); });
      // No device: playback has ended (a replay reached its end), unless a
      // replay is still starting its threads.
      if (!device && !engine->IsReplaying()) return;
      if (played == 0) std::this_thread::yield();  // the feed thread is queuing its next block
    }
    ADD_FAILURE() << "clock stuck before " << ms;
  }
  // Advances the device while paused: nothing plays.
  uint64_t TryAdvance(uint32_t ms) {
    uint64_t played = 0;
    engine->WithDevice([&](ov::WaveOutDevice& d) {
      played = static_cast<ov::VirtualWaveOutDevice&>(d).Advance(uint64_t(ms) * kRate / 1000);
    });
    return played;
  }
  void Post(uint32_t type, uint32_t channel, const char* path = "", int32_t p1 = -1) {
    EngineCommand c;
    c.type = type;
    c.channel = channel;
    c.path = ov::String::FromAscii(path);
    c.param1 = p1;
    c.param4 = int32_t(engine::kWholePicture);
    engine->PostAction(c);
  }
  std::vector<uint32_t> Actions() {
    std::lock_guard<std::mutex> lock(actionsMutex);
    return appActions;
  }
};

// A poke makes the waiters look at the clock again; a sleep still lasts until
// its time has passed (else the present thread composed a frame at every poke,
// whatever the frame rate).
TEST(VirtualTiming, APokeEndsNoSleepBeforeItsTime) {
  engine::VirtualTiming timing;
  std::atomic<uint32_t> clock{0};
  // How often the sleeper has looked at the clock, each time under the
  // timing's lock: once for its target and once before it waits, then once
  // after each wake.
  std::atomic<int> reads{0};
  timing.SetClock([&] {
    ++reads;
    return clock.load();
  });
  std::atomic<bool> woke{false};
  const auto wait_for_reads = [&](int n) {
    while (reads.load() < n && !woke.load()) std::this_thread::yield();
  };
  std::thread sleeper([&] {
    timing.Sleep(100);
    woke = true;
  });
  wait_for_reads(2);  // the sleeper waits, for 100
  clock = 50;
  timing.Poke();
  // It looks at the clock again, and waits on: a second poke finds it
  // waiting (a sleeper the first poke ended never reads the clock again).
  wait_for_reads(3);
  timing.Poke();
  wait_for_reads(4);
  EXPECT_FALSE(woke);
  clock = 1000;
  timing.Poke();
  sleeper.join();
  EXPECT_TRUE(woke);
}

TEST(MixEngine, IdleStampsZeroAndDrawsBlack) {
  Rig r;
  EXPECT_TRUE(r.engine->IsAudioOnly());  // empty list
  EXPECT_EQ(r.engine->GetPlayPosition(), 0u);
  r.Post(engine::CMD_LOAD, 16, "20");
  r.Post(engine::CMD_PLAY, 16, "", 0);
  const auto list = r.engine->Actions();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].timeMs, 0u);
  EXPECT_EQ(list[1].timeMs, 0u);
  EXPECT_FALSE(r.engine->IsAudioOnly());
  EXPECT_TRUE(r.engine->IsChannelPlaying(16));
  std::vector<uint16_t> screen(32 * 32, 0xFFFF);
  engine::Picture565 dst{screen.data(), 32, 32, 32};
  r.engine->SetDisplayRect(0, 0, 16, 16);
  r.engine->DrawFrame(dst, 4, 4);
  EXPECT_EQ(screen[4 * 32 + 4], 0);
  EXPECT_EQ(screen[19 * 32 + 19], 0);
  EXPECT_EQ(screen[20 * 32 + 20], 0xFFFF);
}

TEST(MixEngine, PlayPostPauseResumeStop) {
  Rig r;
  r.engine->Play();
  EXPECT_TRUE(r.engine->IsPlaying());
  r.AdvanceTo(300);  // nothing loaded: 25 ms blocks of silence move the clock
  const uint32_t stamp = r.engine->GetPlayPosition();
  EXPECT_GE(stamp, 300u);
  r.Post(engine::CMD_LOAD, 16, "50");
  r.Post(engine::CMD_PLAY, 16, "", 0);
  EXPECT_EQ(r.engine->Actions()[1].timeMs, stamp);
  r.AdvanceTo(700);
  EXPECT_TRUE(r.engine->IsChannelPlaying(16));
  // The channel follows the clock (composed here, as the present thread does).
  r.engine->videoMixer()->ComposeFrame(r.engine->GetPlayPosition());
  EXPECT_GE(r.engine->videoMixer()->GetChannelPosition(0), 300u);
  r.engine->Pause();
  EXPECT_TRUE(r.engine->IsPaused());
  const uint32_t pausedAt = r.engine->GetPlayPosition();
  EXPECT_EQ(r.TryAdvance(200), 0u);  // a paused device plays nothing
  EXPECT_EQ(r.engine->GetPlayPosition(), pausedAt);
  r.engine->StartReplay();  // resumes a paused engine
  EXPECT_FALSE(r.engine->IsPaused());
  r.AdvanceTo(pausedAt + 200);
  r.engine->StopAllChannels();
  EXPECT_FALSE(r.engine->IsPlaying());
  EXPECT_FALSE(r.engine->IsChannelLoaded(16));
  const auto list = r.engine->Actions();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2].type, engine::CMD_STOP);
  EXPECT_GE(list[2].timeMs, pausedAt + 200);
  EXPECT_EQ(r.engine->GetPlayPosition(), 0u);  // no thread, no clock
}

// A picture linked to its sound channel shows the frame of the sound the
// device is playing, not of the sound the feed has already mixed into the
// device's queue (up to three blocks ahead): composed at the clock, as the
// present thread does, the channel shows the frame of the clip time heard
// then, counted from where the clip's sound begins in what the device played.
TEST(MixEngine, LinkedPictureShowsTheFrameOfTheSoundPlayed) {
  const std::string wav = ovtest::FixturePath("engine_22k_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(wav);
  Rig r;
  r.engine->Play();
  r.AdvanceTo(300);
  EngineCommand load;  // a sound channel's load: no picture crop, no tempo change
  load.type = engine::CMD_LOAD;
  load.path = ov::String::FromUtf8Lossy(wav);
  r.engine->PostAction(load);
  r.Post(engine::CMD_LOAD, 16, "30", 0);
  r.Post(engine::CMD_PLAY, 16, "", 0);
  for (uint32_t at = 600; at <= 1800; at += 130) {
    r.AdvanceTo(at);
    const uint32_t clock = r.engine->GetPlayPosition();
    r.engine->videoMixer()->ComposeFrame(clock);
    std::vector<uint8_t> played;
    r.engine->WithDevice([&](ov::WaveOutDevice& d) { played = static_cast<ov::VirtualWaveOutDevice&>(d).Played(); });
    size_t first = 0;
    while (first + 1 < played.size() && played[first] == 0 && played[first + 1] == 0) first += 2;
    ASSERT_LT(first + 1, played.size()) << "no sound played by " << clock << " ms";
    const double heard = clock - double(first / 4) * 1000 / kRate;
    const double shown = r.engine->videoMixer()->GetChannelPosition(0);
    SCOPED_TRACE(testing::Message() << "clock " << clock << " ms, clip heard at " << heard << " ms");
    // The 100 ms frame that holds the time heard (a millisecond either side).
    EXPECT_LE(shown, heard + 1);
    EXPECT_GT(shown + 100, heard - 1);
  }
}

// The same on SDL's disk driver through the system device, in real time: a
// clip flashing and beeping at each whole second, linked to its sound,
// started before the device plays. Measured: the beep's onset in the
// driver's file (the device's time) minus the clock at which the first frame
// showing its flash was composed (+: the sound is late), printed for each
// second. Checked only that each second's flash and beep are found: the
// figures depend on the machine's load.
TEST(MixEngine, LinkedFlashAgainstItsBeepOnTheDiskDriver) {
  const std::string clip = ovtest::FixturePath("engine_flash_beep_25.mp4");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  constexpr uint32_t kDiskRate = 22050, kFps = 25, kW = 176, kH = 144;
  const std::string out = ovtest::ScratchDir() + "/linked-disk.raw";
  ovtest::ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", out);
  std::vector<std::pair<uint32_t, bool>> shown;  // clock at a new picture, flash or not
  {
    MixEngine e(std::make_unique<engine::AudioMixer>(16, kDiskRate, 2),
                std::make_unique<engine::VideoMixer>(int32_t(kW), int32_t(kH), kFps, 0));
    e.SetDeviceFactory([] { return ov::CreateSystemWaveOutDevice(); });
    e.SetDisplayRect(0, 0, int32_t(kW), int32_t(kH));
    EngineCommand c;
    c.type = engine::CMD_LOAD;
    c.channel = 0;
    c.path = ov::String::FromUtf8Lossy(clip);
    c.param1 = -1;
    e.PostAction(c);
    c.channel = 16;
    c.param1 = 0;
    c.param4 = int32_t(engine::kWholePicture);
    e.PostAction(c);
    c = EngineCommand{};
    c.type = engine::CMD_PLAY;
    c.channel = 16;
    e.PostAction(c);
    std::vector<uint16_t> bits(kW * kH);
    const engine::Picture565 dst{bits.data(), int32_t(kW), int32_t(kH), int32_t(kW)};
    e.Play();
    const auto started = std::chrono::steady_clock::now();
    for (uint32_t clock = 0; clock < 3500; clock = e.GetPlayPosition()) {
      if (std::chrono::steady_clock::now() - started > std::chrono::minutes(2)) {
        ADD_FAILURE() << "the clock stands at " << clock << " ms";
        break;
      }
      if (e.FrameChanged()) {
        const uint32_t at = e.GetPlayPosition();
        e.DrawFrame(dst, 0, 0);
        shown.emplace_back(at, bits[kW * kH / 2 + kW / 2] > 0x8000);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    e.Stop();
  }
  const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(out);
  std::vector<double> beeps;  // onsets in ms of the file
  size_t quiet = 0;
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    const auto s = int16_t(uint16_t(bytes[i] | bytes[i + 1] << 8));
    if (std::abs(int32_t(s)) > 3000) {
      if (quiet > kDiskRate / 2 || beeps.empty()) beeps.push_back(double(i / 4) * 1000 / kDiskRate);
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  std::vector<uint32_t> flashes;  // clocks of the first frames showing a flash
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i].second && (i == 0 || !shown[i - 1].second)) flashes.push_back(shown[i].first);
  }
  ASSERT_GE(beeps.size(), 3u);
  ASSERT_GE(flashes.size(), 3u);
  for (size_t k = 1; k < 3; ++k) {
    std::printf("second %zu: beep at %.1f ms of the file, flash composed at %u ms: offset %+.1f ms\n", k, beeps[k],
                flashes[k], beeps[k] - flashes[k]);
  }
}

// Records LOAD and PLAY at about 0 and STOP at about 500, then replays them.
void Record(Rig& r, uint32_t stopAt) {
  r.engine->Play();
  r.Post(engine::CMD_LOAD, 16, "100");
  r.Post(engine::CMD_PLAY, 16, "", 0);
  r.AdvanceTo(stopAt);
  r.Post(engine::CMD_STOP, 16);
  r.engine->Stop();
  EXPECT_EQ(r.engine->GetMixDuration(), r.engine->Actions()[2].timeMs);
}

TEST(MixEngine, ReplayAppliesCommandsAtTheirClockTimes) {
  Rig r;
  Record(r, 500);
  const uint32_t stopStamp = r.engine->Actions()[2].timeMs;
  r.engine->StartReplay();
  EXPECT_TRUE(r.engine->IsReplaying());
  r.AdvanceTo(stopStamp - 50);
  EXPECT_TRUE(r.engine->IsChannelPlaying(16));
  r.AdvanceTo(stopStamp + 50);
  r.engine->StopReplay();  // waits for the end of the list
  EXPECT_FALSE(r.engine->IsReplaying());
  EXPECT_FALSE(r.engine->IsChannelLoaded(16));
  EXPECT_EQ(r.Actions(), (std::vector<uint32_t>{engine::kActionReplayEnded}));
  EXPECT_EQ(r.engine->Actions().size(), 3u);  // replaying records nothing
}

TEST(MixEngine, PauseDuringReplayKeepsTheRemainingWait) {
  Rig r;
  Record(r, 1000);
  const uint32_t stopStamp = r.engine->Actions()[2].timeMs;
  r.engine->StartReplay();
  r.AdvanceTo(400);
  r.engine->Pause();
  EXPECT_EQ(r.TryAdvance(300), 0u);
  EXPECT_TRUE(r.engine->IsChannelLoaded(16));
  r.engine->StartReplay();
  r.AdvanceTo(stopStamp - 30);
  EXPECT_TRUE(r.engine->IsChannelLoaded(16));
  r.AdvanceTo(stopStamp + 30);
  r.engine->StopReplay();
  EXPECT_FALSE(r.engine->IsChannelLoaded(16));
}

// An empty recording ends its replay at once, and StartReplay returns with
// that end instead of waiting out its one-second guard for a first wait. The
// return is timed from the end's message, not from the call, so a slow start
// of the replay thread on a loaded machine does not count against it.
TEST(MixEngine, ReplayOfAnEmptyRecordingEndsAtOnce) {
  Rig r;
  r.engine->StartReplay();
  const auto returned = std::chrono::steady_clock::now();
  ASSERT_EQ(r.Actions(), (std::vector<uint32_t>{engine::kActionReplayEnded}));
  EXPECT_LT(returned - r.lastActionAt, std::chrono::milliseconds(500));
  r.engine->StopReplay();
  EXPECT_FALSE(r.engine->IsReplaying());
  EXPECT_EQ(r.Actions(), (std::vector<uint32_t>{engine::kActionReplayEnded}));
}

TEST(MixEngine, StopReplayDuringALongWait) {
  Rig r;
  Record(r, 3000);
  r.engine->StartReplay();
  r.AdvanceTo(200);
  EXPECT_TRUE(r.engine->IsChannelLoaded(16));
  r.engine->StopReplay();
  EXPECT_FALSE(r.engine->IsReplaying());
  EXPECT_FALSE(r.engine->IsChannelLoaded(16));  // the end still stops every channel
  EXPECT_EQ(r.Actions(), (std::vector<uint32_t>{engine::kActionReplayEnded}));
}

}  // namespace
