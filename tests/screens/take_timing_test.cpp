// A take on the mixer screen in real time, with the machine loaded: long
// stretches of silence between the gestures, on a device that plays in real
// time and runs dry when starved (as SDL asking 1024 frames a callback does)
// and on SDL's disk driver through the system device. The recorded times
// follow the gestures, the render is as long as the take, and the preview
// shows the position of the sound it plays.
//
// The take is 60 s scaled down to OVMIX_TAKE_SECONDS (6 by default), with
// OVMIX_TAKE_LOAD busy processes beside it (4 by default); the figures of
// each run are printed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "platform/audio/wave_out_device.h"
#include "screens/mixer/mixer.h"
#include "screens/project/render_project.h"
#include "shell/screen_manager.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRate = 22050;
// The ThreadSanitizer build runs the whole program several times slower and
// no user runs it: its start-up latencies (the device opening, the first
// tap) say nothing of the program's. There the test holds what the slowdown
// does not move (the intervals between commands, the render against the
// recorded times, where the sound is heard) and only prints the rest.
#if defined(__SANITIZE_THREAD__)
constexpr bool kHoldLatencies = false;
#else
constexpr bool kHoldLatencies = true;
#endif
// What a take must hold: each command recorded at the engine's clock as it
// read around its gesture; that clock following the time between gestures
// within 500 ms (through the silence too: a clock that stopped while the
// device ran dry would lose the whole stretch; a loaded machine delays the
// device's thread, and so its clock, by a tenth of a second and more); the
// first command within 300 ms of its gesture (counted from the Start press);
// the preview's shown position within a second of the sound.
constexpr double kIntervalSlackMs = 500, kFirstSlackMs = 300, kShownSlackS = 1.0;
// The render ends at the frame (100 ms at 10 fps) that holds the take's
// last command.
constexpr double kRenderFrameMs = 100;
// The sound of a command is heard after the blocks already queued: two
// blocks of 100 ms, and a device period.
constexpr double kHeardLateMs = 300;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// Busy processes beside the test, ended with it.
class BusyLoad {
 public:
  explicit BusyLoad(int n) {
    for (int i = 0; i < n; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        std::atomic<unsigned long> spin{0};
        for (;;) spin.fetch_add(1, std::memory_order_relaxed);
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoad() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> pids_;
};

// The engine owns its device; the test keeps the device alive past it to
// read what it played, and notes when it opened: the moment its sound
// begins.
class SharedDevice final : public ov::WaveOutDevice {
 public:
  SharedDevice(std::shared_ptr<ov::WaveOutDevice> d, std::shared_ptr<std::atomic<Clock::rep>> opened)
      : d_(std::move(d)), opened_(std::move(opened)) {}
  bool Open(const ov::WaveOutFormat& f, DoneFn done, void* context) override {
    opened_->store(Clock::now().time_since_epoch().count());
    return d_->Open(f, done, context);
  }
  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override { return d_->Write(data, bytes, tag); }
  void Pause() override { d_->Pause(); }
  void Restart() override { d_->Restart(); }
  void SetVolume(uint32_t word) override { d_->SetVolume(word); }
  uint32_t Volume() const override { return d_->Volume(); }
  uint64_t SamplesPlayed() const override { return d_->SamplesPlayed(); }
  void Close() override { d_->Close(); }

 private:
  std::shared_ptr<ov::WaveOutDevice> d_;
  std::shared_ptr<std::atomic<Clock::rep>> opened_;
};

// Milliseconds from the start of `pcm` (16-bit stereo) to its first sound.
double FirstSoundMs(const std::vector<uint8_t>& pcm) {
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    int16_t s;
    std::memcpy(&s, pcm.data() + i, 2);
    if (std::abs(int32_t(s)) > 64) return double(i / 4) * 1000 / kRate;
  }
  return -1;
}

enum class Output { kRealTimeDevice, kDiskDriver };

struct Gesture {
  uint32_t at;  // ms of the 60 s take
  int32_t code;
  const char16_t* argument;
};

class TakeTiming : public ::testing::TestWithParam<Output> {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    const char* old_tmp = std::getenv("TMPDIR");
    old_tmp_ = old_tmp ? old_tmp : "";
    setenv("TMPDIR", dir_.c_str(), 1);  // the caches, apart from other tests'
    // The render's queue and events, apart from other tests' renders.
    setenv("OVMIX_IPC_SCOPE", ("take" + std::to_string(getpid())).c_str(), 1);
    ChannelSelection ch[8];
    ch[2].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::FixturePath("engine_22k_sweep.wav")),
                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0,
                  screens::kWholePicture, 0, nullptr);
    ch[3].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::FixturePath("engine_22k_stereo.wav")),
                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0,
                  screens::kWholePicture, 0, nullptr);
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    const std::string path = dir_ + "/start.mix";
    ASSERT_TRUE(ovtest::WriteProjectFile(path, ch));
    setenv("OVMIX_LOAD", path.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
    if (GetParam() == Output::kDiskDriver) {
      setenv("SDL_AUDIODRIVER", "disk", 1);
      setenv("SDL_DISKAUDIOFILE", (dir_ + "/disk.raw").c_str(), 1);
      ASSERT_TRUE(d().UseWaveOut([this] {
        return std::make_unique<SharedDevice>(std::shared_ptr<ov::WaveOutDevice>(ov::CreateSystemWaveOutDevice()),
                                              opened_);
      }));
    } else {
      ASSERT_TRUE(d().UseWaveOut([this] {
        auto device = std::make_shared<ov::RealTimeWaveOutDevice>(1024, true);
        std::lock_guard<std::mutex> lock(mutex_);
        device_ = device;
        return std::make_unique<SharedDevice>(device, opened_);
      }));
    }
  }
  void TearDown() override {
    driver_.reset();
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("OVMIX_IPC_SCOPE");
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  void Act(int32_t code, const ov::String& argument = ov::String()) { d().sm().DoAction(code, argument, 1); }

  bool FinishDecoding(Mixer* m) {
    m->JoinDecompression();
    d().Settle();
    return !m->decoding() && m->CountPendingCacheItems() == 0;
  }
  // Keeps the screens going until `ms` after `from`.
  void RunUntil(Clock::time_point from, double ms) {
    while (std::chrono::duration<double, std::milli>(Clock::now() - from).count() < ms) {
      d().Settle();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  // What the last device opened played: the kept bytes, or the disk file.
  std::vector<uint8_t> Played() {
    if (GetParam() == Output::kDiskDriver) return ovtest::ReadFileBytes(dir_ + "/disk.raw");
    std::lock_guard<std::mutex> lock(mutex_);
    return device_ ? device_->Played() : std::vector<uint8_t>();
  }

  std::string dir_, old_tmp_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
  std::mutex mutex_;
  std::shared_ptr<ov::RealTimeWaveOutDevice> device_;
  std::shared_ptr<std::atomic<Clock::rep>> opened_ = std::make_shared<std::atomic<Clock::rep>>(0);
};

TEST_P(TakeTiming, RecordedTimesFollowTheGesturesThroughSilence) {
  ASSERT_TRUE(d().ok());
  const double scale = EnvInt("OVMIX_TAKE_SECONDS", 6) / 60.0;
  // 20 s of silence, a sweep on, softer, off; 20 s of silence; a second
  // sound, the sweep again; Stop.
  const Gesture script[] = {
      {20000, ui::kActionChannelOn0 + 2, u""},    {25000, ui::kActionVolume0 + 2, u"50"},
      {30000, ui::kActionChannelOff0 + 2, u""},   {50000, ui::kActionChannelOn0 + 3, u""},
      {55000, ui::kActionChannelOn0 + 2, u""},    {60000, ui::kActionMixStop, u""},
  };
  ASSERT_TRUE(d().TapElement(u"main_0"));
  Mixer* m = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true));
  ASSERT_NE(m, nullptr);
  ASSERT_TRUE(FinishDecoding(m));
  engine::MixEngine* e = d().sm().GetMixEngine();
  Act(ui::kActionVolume0 + 2, u"100");

  std::vector<double> wall;     // each gesture, ms after the Start press
  std::vector<uint32_t> stamp;  // the time of the first command it recorded
  {
    BusyLoad load(EnvInt("OVMIX_TAKE_LOAD", 4));
    const Clock::time_point start = Clock::now();
    Act(ui::kActionMixStart);
    ASSERT_TRUE(m->mixing());
    for (const Gesture& g : script) {
      RunUntil(start, g.at * scale);
      const size_t before = e->Actions().size();
      wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      const uint32_t clock_before = e->GetPlayPosition();
      Act(g.code, ov::String(g.argument));
      const uint32_t clock_after = e->GetPlayPosition();
      const std::vector<engine::EngineCommand> after = e->Actions();
      ASSERT_GT(after.size(), before) << "the gesture at " << g.at << " recorded nothing";
      stamp.push_back(after[before].timeMs);
      EXPECT_GE(stamp.back(), clock_before) << "the gesture at " << g.at;
      // Stop ends the clock (it reads 0 after).
      if (g.code != ui::kActionMixStop) {
        EXPECT_LE(stamp.back(), clock_after) << "the gesture at " << g.at;
      }
    }
    ASSERT_FALSE(m->mixing());
  }
  // Stop records its own command and then each channel's stop, which can
  // read the clock a period later: the take ends at the last of them.
  const uint32_t take_end = e->Actions().back().timeMs;
  double worst = 0;
  for (size_t i = 1; i < wall.size(); ++i) {
    const double error = double(stamp[i]) - double(stamp[i - 1]) - (wall[i] - wall[i - 1]);
    if (std::abs(error) > std::abs(worst)) worst = error;
    EXPECT_NEAR(double(stamp[i]) - double(stamp[i - 1]), wall[i] - wall[i - 1], kIntervalSlackMs)
        << "between the gestures at " << script[i - 1].at << " and " << script[i].at;
  }
  const double first = double(stamp[0]) - wall[0];
  if (kHoldLatencies) {
    EXPECT_NEAR(double(stamp[0]), wall[0], kFirstSlackMs);
  }

  // The render of the saved take is as long as the take.
  const std::string project = dir_ + "/take.mix";
  Act(ui::kActionProjectSave, U(project));
  double render_ms = -1;
  {
    engine::MixEngine render(nullptr, nullptr);
    render.SetExportResultDelay(0);
    ASSERT_TRUE(screens::OpenMixForRender(&render, U(project)));
    const std::string wav = dir_ + "/take.wav";
    ASSERT_TRUE(render.Export(U(wav), engine::ExportSettings{96000, kRate, 16, 2, 0, engine::kCodecNone, 1, 128000,
                                                               10, 144, 176}));
    render_ms = double(ovtest::ReadFileBytes(wav).size() - 44) / 4 * 1000 / kRate;
  }
  EXPECT_LE(render_ms, double(take_end));
  EXPECT_GT(render_ms, double(take_end) - kRenderFrameMs);
  if (kHoldLatencies) {
    EXPECT_NEAR(render_ms, wall.back(), kFirstSlackMs);
  }

  // The preview replays the take: its shown position keeps up with the
  // sound, and the sweep is heard at its recorded time.
  ASSERT_TRUE(d().sm().JumpToMenu(u"preview_menu"));
  d().Settle();
  auto* preview = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypePreviewMixer, true));
  ASSERT_NE(preview, nullptr);
  ASSERT_TRUE(FinishDecoding(preview));
  double shown_worst = 0;
  {
    BusyLoad load(EnvInt("OVMIX_TAKE_LOAD", 4));
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(d().TapElement(u"Preview"));
    ASSERT_TRUE(e->IsReplaying());
    for (int k = 0; double(k + 1) * 1000 < double(stamp.back()); ++k) {
      RunUntil(start, k * 1000.0 + 500);
      d().sm().OnTimer(shell::kTimerTick);
      d().Settle();
      const std::u16string text(d().sm().FindElementByName(nullptr, u"preview_pos", true)->text().View());
      ASSERT_EQ(text.size(), 5u);
      const int shown = (text[0] - u'0') * 600 + (text[1] - u'0') * 60 + (text[3] - u'0') * 10 + (text[4] - u'0');
      // The sound heard so far: since the device opened, as the tap itself
      // can take a while on a loaded machine.
      const Clock::time_point began(Clock::duration(opened_->load()));
      const double heard = std::chrono::duration<double>(Clock::now() - std::max(start, began)).count();
      if (std::abs(shown - heard) > std::abs(shown_worst)) shown_worst = shown - heard;
      if (kHoldLatencies) {
        EXPECT_NEAR(shown, heard, kShownSlackS) << "at " << k << ".5 s";
      }
    }
    ASSERT_TRUE(d().SettleUntil([&] { return !e->IsReplaying(); }));
  }
  const double heard_ms = FirstSoundMs(Played());
  EXPECT_GE(heard_ms, double(stamp[0]) - 50);
  EXPECT_LE(heard_ms, double(stamp[0]) + kHeardLateMs);
  std::printf("take of %.1f s on the %s: first command %+.0f ms, worst interval error %+.0f ms, render %.0f ms for "
              "a take of %u ms (Stop pressed at %.0f ms), preview position worst %+.2f s, sweep heard at %.0f ms "
              "for a command at %u ms\n",
              60 * scale, GetParam() == Output::kDiskDriver ? "disk driver" : "real-time device", first, worst,
              render_ms, take_end, wall.back(), shown_worst, heard_ms, stamp[0]);
}

INSTANTIATE_TEST_SUITE_P(Outputs, TakeTiming, testing::Values(Output::kRealTimeDevice, Output::kDiskDriver),
                         [](const testing::TestParamInfo<Output>& p) {
                           return std::string(p.param == Output::kDiskDriver ? "DiskDriver" : "RealTimeDevice");
                         });

// A device whose clock the test sets: it takes every block at once (after a
// short wait, so the feed does not spin) and reports the position given.
class SetClockDevice final : public ov::WaveOutDevice {
 public:
  explicit SetClockDevice(std::shared_ptr<std::atomic<uint64_t>> frames) : frames_(std::move(frames)) {}
  bool Open(const ov::WaveOutFormat&, DoneFn done, void* context) override {
    done_ = done;
    context_ = context;
    return true;
  }
  bool Write(const uint8_t*, uint32_t, void* tag) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    done_(context_, tag);
    return true;
  }
  void Pause() override {}
  void Restart() override {}
  void SetVolume(uint32_t) override {}
  uint32_t Volume() const override { return 0xFFFFFFFF; }
  uint64_t SamplesPlayed() const override { return frames_->load(); }
  void Close() override {}

 private:
  std::shared_ptr<std::atomic<uint64_t>> frames_;
  DoneFn done_ = nullptr;
  void* context_ = nullptr;
};

// A take without a set length ends short of the longest mix a record holds,
// so that what it recorded loads again.
TEST(LongestTake, StopsShortOfTheLongestMix) {
  const std::string dir = ovtest::ScratchDir();
  ovtest::HeadlessDriver d(dir + "/data");
  ASSERT_TRUE(d.ok());
  auto frames = std::make_shared<std::atomic<uint64_t>>(0);
  ASSERT_TRUE(d.UseWaveOut([frames] { return std::make_unique<SetClockDevice>(frames); }));
  ASSERT_TRUE(d.TapElement(u"main_0"));
  Mixer* m = dynamic_cast<Mixer*>(d.sm().menu_container()->FindByType(ui::kTypeMixer, true));
  ASSERT_NE(m, nullptr);
  engine::MixEngine* e = d.sm().GetMixEngine();
  d.sm().DoAction(ui::kActionMixStart, ov::String(), 1);
  ASSERT_TRUE(m->mixing());
  const uint32_t longest = engine::ActionProcessor::kMaxMixMs;
  // The clock reads samples x 1000 / 22050.
  auto tick_at = [&](uint32_t ms) {
    frames->store(uint64_t{ms} * kRate / 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the tick looks every 250 ms
    d.sm().OnTimer(shell::kTimerTick);
    d.Settle();
  };
  tick_at(longest - 20000);
  EXPECT_TRUE(m->mixing());
  tick_at(longest - 9000);
  EXPECT_FALSE(m->mixing());
  const std::vector<engine::EngineCommand> recorded = e->Actions();
  ASSERT_FALSE(recorded.empty());
  EXPECT_LE(recorded.back().timeMs, longest);
  const std::string project = dir + "/longest.mix";
  d.sm().DoAction(ui::kActionProjectSave, U(project), 1);
  d.sm().DoAction(ui::kActionMixClear, ov::String(), 1);
  ASSERT_FALSE(e->HasActions());
  d.sm().DoAction(ui::kActionProjectLoad, U(project), 1);
  EXPECT_TRUE(e->HasActions());
}

}  // namespace
