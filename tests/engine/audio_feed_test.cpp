// The audio mixer feeding a wave-out player from its own thread, as the
// engine's audio feed does, on the virtual device: the test plays the device
// by hand and posts commands from its own thread meanwhile. The played
// sound and the clock follow the device, never the wall.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/wave_out_player.h"
#include "tests/support/test_paths.h"

namespace engine {
namespace {

TEST(AudioFeedTest, DevicePacesTheFeedAndIsTheClock) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("engine_22k_stereo.wav"));
  AudioMixer mixer(16, 22050, 2);
  EngineCommand load;
  load.type = CMD_LOAD;
  load.path = ov::String::FromUtf8Lossy(ovtest::FixturePath("engine_22k_stereo.wav"));
  ASSERT_EQ(mixer.ApplyAction(load, 1), 1);
  EngineCommand play;
  play.type = CMD_PLAY;
  mixer.ApplyAction(play, 1);

  auto owned = std::make_unique<ov::VirtualWaveOutDevice>();
  ov::VirtualWaveOutDevice* device = owned.get();
  WaveOutPlayer player(std::move(owned));
  ASSERT_EQ(player.Open(16, 22050, 2), 1);

  std::atomic<bool> stop{false};
  std::thread feed([&] {
    const uint32_t blockBytes = mixer.BytesForDuration(100);
    std::vector<uint8_t> block(blockBytes);
    std::vector<uint8_t> silence(blockBytes / 4, 0);
    while (!stop.load(std::memory_order_acquire)) {
      uint32_t got = 0;
      mixer.Pull(block.data(), blockBytes, &got);
      bool ok = got ? player.Write(block.data(), got) : player.Write(silence.data(), static_cast<uint32_t>(silence.size()));
      if (!ok) break;
    }
  });

  uint64_t frames = 0;
  // 3 s: past the 2 s clip, so the feed also writes its 25 ms silences.
  for (uint64_t target = 2200; target <= 30u * 2200u; target += 2200) {
    while (frames < target) {
      while (device->BlocksQueued() == 0) std::this_thread::yield();
      frames += device->Advance(target - frames);
    }
    EngineCommand volume;
    volume.type = CMD_VOLUME;
    volume.param1 = 65535;
    mixer.ApplyAction(volume, 1);  // from this thread while the feed pulls
    EXPECT_LE(player.InFlight(), 2u);
  }
  EXPECT_EQ(frames, 30u * 2200u);
  EXPECT_EQ(player.GetPosition(), frames * 1000 / 22050);
  stop.store(true, std::memory_order_release);
  player.Close();
  feed.join();

  // What the device played is the clip from its start.
  auto source = media::OpenAudioSource(load.path);
  uint32_t bytes = 0, t = 0;
  auto first = source->ReadAudio(4096, &bytes, &t);
  auto played = device->Played();
  ASSERT_GE(played.size(), bytes);
  for (uint32_t i = 0; i < bytes; ++i) ASSERT_EQ(played[i], first[i]) << i;
}

}  // namespace
}  // namespace engine
