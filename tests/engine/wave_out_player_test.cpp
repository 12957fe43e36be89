#include "engine/wave_out_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace engine {
namespace {

// Waits (yielding, no sleep) until `done` holds; the device's state only
// changes through the writer thread, which is never timed.
template <typename F>
void SpinUntil(F done) {
  while (!done()) std::this_thread::yield();
}

struct Rig {
  ov::VirtualWaveOutDevice* device;
  std::unique_ptr<WaveOutPlayer> player;
  Rig() {
    auto d = std::make_unique<ov::VirtualWaveOutDevice>();
    device = d.get();
    player = std::make_unique<WaveOutPlayer>(std::move(d));
  }
};

TEST(WaveOutPlayerTest, AtMostTwoBlocksInFlight) {
  Rig rig;
  ASSERT_EQ(rig.player->Open(16, 22050, 2), 1);
  std::vector<uint8_t> block(400, 7);  // 100 frames
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; i < 3; ++i) {
      rig.player->Write(block.data(), static_cast<uint32_t>(block.size()));
      written.fetch_add(1);
    }
  });
  // The first write returns at once; the second is queued and waits.
  SpinUntil([&] { return rig.device->BlocksQueued() == 2; });
  EXPECT_EQ(written.load(), 1);
  EXPECT_LE(rig.player->InFlight(), 2u);
  // One block played: the second write returns, the third is queued and waits.
  rig.device->Advance(100);
  SpinUntil([&] { return written.load() == 2 && rig.device->BlocksQueued() == 2; });
  EXPECT_EQ(written.load(), 2);
  rig.device->Advance(100);
  writer.join();
  EXPECT_EQ(written.load(), 3);
  EXPECT_EQ(rig.device->BlocksQueued(), 1u);
  rig.device->Advance(1000);
  EXPECT_EQ(rig.player->InFlight(), 0u);
  // The played bytes are the written ones, in order.
  EXPECT_EQ(rig.device->Played().size(), 3 * block.size());
}

TEST(WaveOutPlayerTest, PositionCountsPlayedSamples) {
  Rig rig;
  EXPECT_EQ(rig.player->GetPosition(), 0u);  // before Open
  ASSERT_EQ(rig.player->Open(16, 8000, 1), 1);
  std::vector<uint8_t> block(1600);  // 800 samples = 100 ms
  rig.player->Write(block.data(), 1600);
  rig.device->Advance(400);
  EXPECT_EQ(rig.player->GetPosition(), 50u);  // samples / 8
  rig.player->SetPaused(true);
  EXPECT_EQ(rig.device->Advance(400), 0u);
  EXPECT_EQ(rig.player->GetPosition(), 50u);
  rig.player->SetPaused(false);
  rig.device->Advance(400);
  EXPECT_EQ(rig.player->GetPosition(), 100u);
  rig.player->SetVolume(0);
  EXPECT_EQ(rig.device->Volume(), 0u);

  Rig slow;
  ASSERT_EQ(slow.player->Open(8, 800, 1), 1);
  slow.player->Write(block.data(), 800);
  slow.device->Advance(800);
  EXPECT_EQ(slow.player->GetPosition(), 0u);  // rate under 1000

  // At 22050 Hz a 3-minute take reads 180000 ms, not 180000 x 22.05 / 22
  // (0.4 s fast): the clock is samples x 1000 / rate, also once samples x
  // 1000 passes 2^32 (4 minutes at 22050 Hz).
  struct ClockCase {
    uint32_t rate;
    uint64_t samples;
    uint32_t ms;
  } clocks[] = {{22050, 22050 * 180, 180000}, {44100, 44100 * 180 + 44, 180000}, {22050, 22050 * 240, 240000},
                {8000, 8000 * 60 + 7, 60000}};
  for (const ClockCase& c : clocks) {
    Rig r;
    ASSERT_EQ(r.player->Open(8, c.rate, 1), 1);
    std::vector<uint8_t> pcm(size_t(c.samples), 0x80);
    r.player->Write(pcm.data(), uint32_t(pcm.size()));
    r.device->Advance(c.samples);
    EXPECT_EQ(r.player->GetPosition(), c.ms) << c.rate << " Hz, " << c.samples << " samples";
  }
}

TEST(WaveOutPlayerTest, CloseReleasesAWaitingWriter) {
  Rig rig;
  ASSERT_EQ(rig.player->Open(16, 22050, 2), 1);
  std::vector<uint8_t> block(400);
  rig.player->Write(block.data(), 400);
  std::atomic<bool> returned{false};
  std::thread writer([&] {
    rig.player->Write(block.data(), 400);
    returned.store(true);
  });
  SpinUntil([&] { return rig.device->BlocksQueued() == 2; });
  EXPECT_FALSE(returned.load());
  rig.player->Close();
  writer.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(rig.player->InFlight(), 0u);
  EXPECT_FALSE(rig.device->IsOpen());
}

TEST(WaveOutPlayerTest, PacingEventsArePerPlayer) {
  Rig a, b;
  ASSERT_EQ(a.player->Open(16, 22050, 2), 1);
  ASSERT_EQ(b.player->Open(16, 22050, 2), 1);
  std::vector<uint8_t> block(400);
  a.player->Write(block.data(), 400);
  b.player->Write(block.data(), 400);
  std::atomic<bool> aReturned{false};
  std::thread writer([&] {
    a.player->Write(block.data(), 400);
    aReturned.store(true);
  });
  SpinUntil([&] { return a.device->BlocksQueued() == 2; });
  // The other player's completions do not release this one's writer.
  b.device->Advance(1000);
  EXPECT_FALSE(aReturned.load());
  a.device->Advance(100);
  writer.join();
  EXPECT_TRUE(aReturned.load());
}

}  // namespace
}  // namespace engine

#include <cstdlib>

namespace engine {
namespace {

// The system device over SDL's dummy driver: blocks go through and every
// one comes back. Not a timing test: it only waits for the device.
TEST(WaveOutPlayerTest, SystemDeviceOnTheDummyDriver) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  WaveOutPlayer player;
  if (!player.Open(16, 22050, 2)) GTEST_SKIP() << "SDL has no audio driver here";
  std::vector<uint8_t> block(220 * 4, 0);  // 10 ms
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(player.Write(block.data(), static_cast<uint32_t>(block.size())));
  EXPECT_LE(player.InFlight(), 1u);
  player.SetPaused(true);
  player.SetPaused(false);
  player.Close();
  EXPECT_EQ(player.InFlight(), 0u);
  EXPECT_FALSE(player.Write(block.data(), 4));
}

}  // namespace
}  // namespace engine

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace engine {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

constexpr uint32_t kRate = 22050;
// How far ahead of the time measured beside it a real-time clock may read:
// the period of 1024 frames (46 ms) it counts when it starts the period,
// and one more that SDL may take ahead. Never a bound the other way: how
// far behind a clock is depends on how loaded the machine is.
constexpr double kClockAheadMs = 2 * 1024 * 1000.0 / kRate;

std::vector<uint8_t> Tone(uint32_t ms, int16_t value) {
  std::vector<uint8_t> b(size_t(kRate) * ms / 1000 * 4);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    b[i] = uint8_t(value);
    b[i + 1] = uint8_t(uint16_t(value) >> 8);
  }
  return b;
}

double MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// Waits until the player's clock reads `ms` (a minute at most: a clock that
// stops never gets there); its reading then.
uint32_t WaitForPosition(const WaveOutPlayer& player, uint32_t ms) {
  const auto from = std::chrono::steady_clock::now();
  while (player.GetPosition() < ms && MsSince(from) < 60000.0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return player.GetPosition();
}

// A device that plays in real time and runs dry when its writer stops, as
// SDL asking 1024 frames a callback does: the silence it plays is counted,
// so the position keeps the time; Drain lets every written block be heard
// before Close, in order and whole; a paused device drains nothing.
TEST(WaveOutPlayerTest, RealTimeDeviceKeepsTimeThroughUnderrunsAndDrains) {
  auto owned = std::make_unique<ov::RealTimeWaveOutDevice>(1024, true);
  ov::RealTimeWaveOutDevice* device = owned.get();
  WaveOutPlayer player(std::move(owned));
  const auto opened = std::chrono::steady_clock::now();
  ASSERT_EQ(player.Open(16, kRate, 2), 1);
  const std::vector<uint8_t> silence(size_t(kRate) / 40 * 4, 0);  // 25 ms, as the engine writes
  ASSERT_TRUE(player.Write(silence.data(), uint32_t(silence.size())));
  ASSERT_TRUE(player.Write(silence.data(), uint32_t(silence.size())));
  // The writer is held up: the clock goes on past the 50 ms written, with
  // the time and never ahead of it.
  const uint32_t held = WaitForPosition(player, 400);
  EXPECT_GE(held, 400u);
  EXPECT_LE(double(held), MsSince(opened) + kClockAheadMs);
  EXPECT_GT(device->UnderrunFrames(), uint64_t(kRate) / 4);

  const std::vector<uint8_t> a = Tone(100, 1000), b = Tone(100, -2000), c = Tone(100, 3000);
  for (const auto* block : {&a, &b, &c}) ASSERT_TRUE(player.Write(block->data(), uint32_t(block->size())));
  ASSERT_TRUE(player.Drain(60000));
  ASSERT_EQ(player.InFlight(), 0u);
  // Whole and in order, with whatever silence a writer held up by the load
  // left between them: the frames played less the silent ones.
  std::vector<uint8_t> heard;
  const std::vector<uint8_t> played = device->Played();
  for (size_t i = 0; i + 4 <= played.size(); i += 4) {
    if (played[i] | played[i + 1] | played[i + 2] | played[i + 3]) heard.insert(heard.end(), &played[i], &played[i + 4]);
  }
  std::vector<uint8_t> all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  EXPECT_EQ(heard, all) << "the three blocks were not played whole and in order";
  // Drained: the 300 ms written after `held` have been played.
  const uint32_t drained = player.GetPosition();
  EXPECT_LE(double(drained), MsSince(opened) + kClockAheadMs);
  EXPECT_GE(double(drained), double(held) + 300.0 - kClockAheadMs);

  player.SetPaused(true);
  ASSERT_TRUE(player.Write(a.data(), uint32_t(a.size())));
  EXPECT_FALSE(player.Drain(200));
  player.Close();
  EXPECT_EQ(player.InFlight(), 0u);
}

// The system device on SDL's disk driver, which writes what it plays to a
// file: with the writer held up after two 25 ms blocks, the clock still
// follows the time (the silence played is counted), the file holds that
// silence, and the tone written afterwards ends the file, heard to its end.
// The two blocks are a quiet lead tone: SDL's thread writes silence to the
// file while the device is still paused after opening, as fast as the disk
// takes it, and on a loaded machine that can be a second before the device
// plays; no time is played then, and the lead marks where the played time
// begins in the file.
TEST(WaveOutPlayerTest, SystemDeviceOnTheDiskDriverCountsTheSilenceItPlays) {
  const std::string out = ovtest::ScratchDir() + "/disk.raw";
  ScopedEnv driver("SDL_AUDIODRIVER", "disk");
  ScopedEnv file("SDL_DISKAUDIOFILE", out);
  WaveOutPlayer player;
  const auto opened = std::chrono::steady_clock::now();
  ASSERT_EQ(player.Open(16, kRate, 2), 1);
  const std::vector<uint8_t> lead = Tone(25, 77);
  ASSERT_TRUE(player.Write(lead.data(), uint32_t(lead.size())));
  ASSERT_TRUE(player.Write(lead.data(), uint32_t(lead.size())));
  const uint32_t held = WaitForPosition(player, 500);
  EXPECT_GE(held, 500u);
  EXPECT_LE(double(held), MsSince(opened) + kClockAheadMs);
  const std::vector<uint8_t> tone = Tone(100, 1234);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(player.Write(tone.data(), uint32_t(tone.size())));
  ASSERT_TRUE(player.Drain(60000));
  const uint32_t position = player.GetPosition();
  const auto read = std::chrono::steady_clock::now();
  EXPECT_LE(double(position), MsSince(opened) + kClockAheadMs);
  EXPECT_GE(double(position), double(held) + 500.0 - kClockAheadMs);
  player.Close();
  const double closing = MsSince(read);  // the device plays on until it is closed
  const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(out);
  // Where the frames whose left sample is that of `of` lie in the file.
  struct Run {
    size_t first = 0, last = 0, count = 0;
  };
  const auto find = [&bytes](const std::vector<uint8_t>& of) {
    Run r;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
      if (bytes[i] != of[0] || bytes[i + 1] != of[1]) continue;
      if (r.count++ == 0) r.first = i / 4;
      r.last = i / 4;
    }
    return r;
  };
  const Run led = find(lead), toned = find(tone);
  ASSERT_EQ(led.count, lead.size() / 4 * 2);
  // The file is the device's time, what the clock counted to a callback:
  // never less than it counted, and from the lead on (the silence counted
  // before the lead came is at most that callback) never more.
  const double file_ms = double(bytes.size() / 4) * 1000 / kRate;
  const double played_ms = double(bytes.size() / 4 - led.first) * 1000 / kRate;
  EXPECT_GE(file_ms, double(position) - 30.0);
  EXPECT_LE(played_ms, double(position) + closing + kClockAheadMs);
  // The tone is all there, whole, after the lead and the silence; a writer
  // held up by the load may leave silence between its blocks, nothing else.
  EXPECT_EQ(toned.count, tone.size() / 4 * 5);
  size_t other = 0;
  for (size_t f = toned.first; f <= toned.last; ++f) {
    const uint8_t* p = &bytes[4 * f];
    const bool silent = (p[0] | p[1] | p[2] | p[3]) == 0;
    if (!silent && std::memcmp(p, tone.data(), 4) != 0) ++other;
  }
  EXPECT_EQ(other, 0u);
  // The silence the clock counted before the tone was written is in the
  // file: the tone starts no earlier than the clock then read. (Not counted
  // from the lead: a test thread held up between the open and its first
  // write lets the device play silence before the lead too.)
  EXPECT_GE(double(toned.first) * 1000 / kRate, double(held) - kClockAheadMs);
  EXPECT_GT(toned.first, led.last);
}

// A pause is not played: after Restart the real-time device counts from
// the restart, never the time it stood paused. Read against this test's own
// clock, around each reading, so that only the bound that holds however
// slow the machine is decides: what was played before the pause, plus the
// time since just before the restart, plus one period.
TEST(WaveOutPlayerTest, RealTimeDeviceRestartsItsClockAfterAPause) {
  constexpr uint32_t kPeriod = 441;  // 20 ms
  const double period_ms = 1000.0 * kPeriod / kRate;
  ov::RealTimeWaveOutDevice device(kPeriod);
  const auto opening = std::chrono::steady_clock::now();
  ASSERT_TRUE(device.Open(ov::WaveOutFormat{kRate, 2, 16}, nullptr, nullptr));
  const auto played_ms = [&] { return 1000.0 * double(device.SamplesPlayed()) / kRate; };
  SpinUntil([&] { return played_ms() >= 100.0; });
  device.Pause();
  const double before_pause = played_ms();
  EXPECT_LE(before_pause, MsSince(opening) + period_ms);
  // Paused for at least half a second by this clock; nothing is played.
  const auto paused = std::chrono::steady_clock::now();
  while (MsSince(paused) < 500.0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(played_ms(), before_pause);
  const auto restarting = std::chrono::steady_clock::now();
  device.Restart();
  // Five periods played after the restart, whenever they come.
  SpinUntil([&] { return played_ms() >= before_pause + 5 * period_ms; });
  const double after = played_ms();
  EXPECT_LE(after, before_pause + MsSince(restarting) + period_ms);
  device.Close();
}

// No sound output can be opened (the disk driver told to write where no
// folder is): the player opens a silent device that keeps time, and says so
// in one line on stderr.
TEST(WaveOutPlayerTest, NoSoundOutputFallsBackToSilenceThatKeepsTime) {
  ScopedEnv driver("SDL_AUDIODRIVER", "disk");
  ScopedEnv file("SDL_DISKAUDIOFILE", "/nonexistent-ovmix-folder/out.raw");
  WaveOutPlayer player;
  testing::internal::CaptureStderr();
  const auto opened = std::chrono::steady_clock::now();
  const int result = player.Open(16, kRate, 2);
  const std::string said = testing::internal::GetCapturedStderr();
  ASSERT_EQ(result, 1);
  // (Debug lines may go there too.)
  size_t lines = 0;
  for (size_t at = said.find("sound: "); at != std::string::npos; at = said.find("sound: ", at + 1)) ++lines;
  EXPECT_EQ(lines, 1u) << said;
  EXPECT_NE(said.find("sound: cannot open the sound output ("), std::string::npos) << said;
  EXPECT_NE(said.find("); playing silently in real time\n"), std::string::npos) << said;
  const std::vector<uint8_t> silence(size_t(kRate) / 40 * 4, 0);
  ASSERT_TRUE(player.Write(silence.data(), uint32_t(silence.size())));
  const uint32_t held = WaitForPosition(player, 300);
  EXPECT_GE(held, 300u);
  EXPECT_LE(double(held), MsSince(opened) + kClockAheadMs);
  player.Close();
  // A format no device takes is still refused, silently.
  WaveOutPlayer bad;
  testing::internal::CaptureStderr();
  EXPECT_EQ(bad.Open(12, kRate, 2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("sound: "), std::string::npos);
}

}  // namespace
}  // namespace engine
