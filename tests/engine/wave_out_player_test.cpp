#include "engine/wave_out_player.h"

#include <gtest/gtest.h>

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
