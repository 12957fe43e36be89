#include "engine/audio_cache_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/test_paths.h"

namespace {

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(AudioCacheWriter, WritesTheItemAsPcmWave) {
  const std::string clip = ovtest::FixturePath("engine_22k_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  const std::string out = ovtest::ScratchDir() + "/audio0.qvs";
  engine::AudioCacheWriter w(U(clip), U(out), 2, 11025, 16, 0, 2000);
  // 2000 ms x (44100 / 1000) bytes.
  EXPECT_EQ(w.bytesExpected(), 88000u);
  EXPECT_EQ(w.Step(), 11);  // 10240 x 100 / 88000
  int result = 0;
  int steps = 1;
  for (int i = 0; i < 100 && result != 100; ++i, ++steps) {
    result = w.Step();
    ASSERT_NE(result, -1);
  }
  // 88000 bytes are about nine blocks: progress never claims the end early.
  EXPECT_GE(steps, 10);
  ASSERT_EQ(result, 100);
  EXPECT_EQ(w.Step(), -1);  // closed: nothing further
  w.Close();

  const auto bytes = ovtest::ReadFileBytes(out);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(bytes[20] | bytes[21] << 8, 1);   // PCM
  EXPECT_EQ(bytes[22] | bytes[23] << 8, 2);   // channels
  EXPECT_EQ(Le32(bytes, 24), 11025u);
  EXPECT_EQ(Le32(bytes, 28), 44100u);
  EXPECT_EQ(bytes[32] | bytes[33] << 8, 4);   // block align
  EXPECT_EQ(bytes[34] | bytes[35] << 8, 16);
  const uint32_t data = Le32(bytes, 40);
  EXPECT_NEAR(double(data), 88200.0, 44100.0 * 0.1);  // about two seconds
  if (std::system("command -v soxi >/dev/null 2>&1") == 0) {
    const std::string cmd = "soxi -V1 " + out + " >/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
}

TEST(AudioCacheWriter, UnusableWithoutSourceOrFile) {
  const std::string dir = ovtest::ScratchDir();
  engine::AudioCacheWriter missing(U(dir + "/missing.wav"), U(dir + "/audio1.qvs"), 2, 11025, 16, 0, 1000);
  EXPECT_EQ(missing.Step(), -1);
  const std::string clip = ovtest::FixturePath("engine_22k_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  engine::AudioCacheWriter noFolder(U(clip), U(dir + "/no/such/audio2.qvs"), 2, 11025, 16, 0, 1000);
  EXPECT_EQ(noFolder.Step(), -1);
  noFolder.Close();
  noFolder.Close();
}

}  // namespace
