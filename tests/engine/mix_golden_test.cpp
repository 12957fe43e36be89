// A small scripted mix against a stored golden: two channels, echo, reverb,
// volumes and the master volume through the whole audio mixer. The golden
// was made by this mixer and checked by ear; a change of the mix shows here.
// On a mismatch the new output is written beside the golden as ".actual"
// for review; goldens are never rewritten by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "engine/audio_mixer.h"
#include "tests/support/test_paths.h"

namespace engine {
namespace {

// Largest difference allowed per sample: sox versions may round the
// fixture's sine a unit differently, and effects carry that through.
constexpr int kTolerance = 16;

TEST(MixGoldenTest, TwoChannelsWithEchoAndReverb) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("engine_22k_stereo.wav"));
  AudioMixer m(16, 22050, 2);
  EngineCommand load0 = MakeCommand(CMD_LOAD, 0, -1, 250, 0);
  load0.path = ov::String::FromUtf8Lossy(ovtest::FixturePath("engine_22k_stereo.wav"));
  EngineCommand load1 = MakeCommand(CMD_LOAD, 1);
  load1.path = ov::String::FromUtf8Lossy(ovtest::FixturePath("engine_22k_mono.wav"));
  ASSERT_EQ(m.ApplyAction(load0, 0), 1);
  ASSERT_EQ(m.ApplyAction(load1, 0), 1);
  m.ApplyAction(MakeCommand(CMD_VOLUME, 0, 50000), 0);
  m.ApplyAction(MakeCommand(CMD_ECHO, 0, 120), 0);
  m.ApplyAction(MakeCommand(CMD_REVERB, 1, 60, 4, 76, 35), 0);
  m.ApplyAction(MakeCommand(CMD_MASTER_VOLUME, 0, 60000), 0);
  m.ApplyAction(MakeCommand(CMD_PLAY, 0), 0);
  m.ApplyAction(MakeCommand(CMD_PLAY, 1), 0);
  std::vector<uint8_t> mix;
  std::vector<uint8_t> block(m.BytesForDuration(100));
  for (int i = 0; i < 3; ++i) {
    uint32_t got = 0;
    m.Pull(block.data(), static_cast<uint32_t>(block.size()), &got);
    mix.insert(mix.end(), block.begin(), block.begin() + got);
  }
  ASSERT_EQ(mix.size(), 3 * block.size());

  const std::string golden = ovtest::TestDataPath("engine/mix_echo_reverb.raw");
  std::ifstream in(golden, std::ios::binary);
  std::vector<uint8_t> want((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int worst = want.size() == mix.size() ? 0 : 65536;
  for (size_t i = 0; worst <= kTolerance && i + 1 < want.size() && i + 1 < mix.size(); i += 2) {
    int a = static_cast<int16_t>(mix[i] | mix[i + 1] << 8);
    int b = static_cast<int16_t>(want[i] | want[i + 1] << 8);
    worst = std::max(worst, std::abs(a - b));
  }
  if (worst > kTolerance) {
    std::ofstream(golden + ".actual", std::ios::binary)
        .write(reinterpret_cast<const char*>(mix.data()), static_cast<std::streamsize>(mix.size()));
    FAIL() << "mix differs from " << golden << " by " << worst << "; output written to " << golden << ".actual";
  }
}

}  // namespace
}  // namespace engine
