#include "media/adts_reader.h"

#include <gtest/gtest.h>

#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using mediatest::TestPackage;

// One ADTS frame (ISO/IEC 14496-3 1.A.2.2) of `length` bytes, header included.
std::vector<uint8_t> AdtsFrame(uint32_t length, uint32_t rate_index = 7, uint32_t channels = 1,
                               uint32_t profile = 1, bool crc = false, uint8_t sync0 = 0xFF) {
  std::vector<uint8_t> f(length < 7 ? 7 : length, 0x5A);
  f[0] = sync0;
  f[1] = crc ? 0xF0 : 0xF1;
  f[2] = static_cast<uint8_t>((profile << 6) | (rate_index << 2) | (channels >> 2));
  f[3] = static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3));
  f[4] = static_cast<uint8_t>(length >> 3);
  f[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F);
  f[6] = 0xFC;
  return f;
}

std::vector<uint8_t> AdtsFile(int frames, uint32_t length = 100, uint32_t rate_index = 7) {
  std::vector<uint8_t> file;
  for (int i = 0; i < frames; ++i) {
    auto f = AdtsFrame(length, rate_index);
    file.insert(file.end(), f.begin(), f.end());
  }
  return file;
}

TEST(AdtsReader, MatchesFfprobePackets) {
  for (const char* name : {"media_22k_mono.aac", "media_44k_stereo.aac"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto packets = mediatest::ProbePackets(path, 0);
    ASSERT_FALSE(packets.empty()) << name;
    // ffprobe's ADTS times are in its stream time base ("1/28224000").
    std::string base = mediatest::RunCommand("ffprobe -v error -select_streams 0 -show_entries stream=time_base -of csv=p=0 '" +
                                             path + "'");
    int64_t den = std::atoll(base.substr(base.find('/') + 1).c_str());
    ASSERT_GT(den, 0);
    TestPackage pak;
    media::AdtsReader reader(pak.Add(name, ovtest::ReadFileBytes(path)));
    ASSERT_TRUE(reader.Open()) << name;
    auto cursor = reader.OpenTrack(0);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t bytes = 0, time = 0;
    size_t n = 0;
    while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
      ASSERT_LT(n, packets.size()) << name;
      EXPECT_EQ(bytes, packets[n].size) << name << " packet " << n;
      EXPECT_EQ(time, n * 1024) << name;
      EXPECT_EQ(int64_t{time}, packets[n].dts * reader.sample_rate() / den) << name << " packet " << n;
      ++n;
    }
    // Every frame, the one that ends at the end of the file included.
    EXPECT_EQ(n, packets.size()) << name;
    EXPECT_EQ(reader.ScanDuration(), n * 1024 * 1000 / reader.sample_rate()) << name;
  }
}

TEST(AdtsReader, DurationsOf43FramesAt22050) {
  TestPackage pak;
  media::AdtsReader reader(pak.Add("a.aac", AdtsFile(43)));
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.sample_rate(), 22050u);
  EXPECT_EQ(reader.GetDuration(0), 1);
  EXPECT_EQ(reader.ScanDuration(), 1996u);
}

TEST(AdtsReader, HeaderFields) {
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
    bool opens;
    uint32_t channels;
  };
  const Case cases[] = {
      {"first byte 0xF3 passes the sync test", AdtsFrame(50, 7, 2, 1, false, 0xF3), true, 2},
      {"channel configuration 6 counts as one channel", AdtsFrame(50, 4, 6), true, 1},
      {"CRC-protected frame", AdtsFrame(50, 4, 2, 1, true), true, 2},
      {"LTP profile", AdtsFrame(50, 4, 1, 3), true, 1},
      {"sampling index 13", AdtsFrame(50, 13), false, 0},
      {"main profile", AdtsFrame(50, 4, 1, 0), false, 0},
      {"bad sync", AdtsFrame(50, 4, 1, 1, false, 0xE0), false, 0},
      {"frame length 0", AdtsFrame(0), false, 0},
      {"frame length 6", AdtsFrame(6), false, 0},
  };
  for (const Case& c : cases) {
    TestPackage pak;
    media::AdtsReader reader(pak.Add("h.aac", c.frame));
    EXPECT_EQ(reader.Open(), c.opens) << c.what;
    if (c.opens) {
      EXPECT_EQ(reader.channels(), c.channels) << c.what;
    }
  }
}

TEST(AdtsReader, CrcFrameIsDeliveredWhole) {
  TestPackage pak;
  auto frame = AdtsFrame(64, 4, 2, 1, true);
  media::AdtsReader reader(pak.Add("crc.aac", frame));
  ASSERT_TRUE(reader.Open());
  auto cursor = reader.OpenTrack(0);
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  ASSERT_TRUE(reader.ReadSample(cursor.get(), &sample, &bytes, &time));
  EXPECT_EQ(bytes, 64u);
  EXPECT_EQ(std::vector<uint8_t>(sample.get(), sample.get() + bytes), frame);
}

TEST(AdtsReader, LastFrameCompleteIsDeliveredTruncatedIsNot) {
  auto file = AdtsFile(5);
  for (bool truncate : {false, true}) {
    auto bytes_in = file;
    if (truncate) bytes_in.resize(bytes_in.size() - 10);
    TestPackage pak;
    media::AdtsReader reader(pak.Add("t.aac", bytes_in));
    ASSERT_TRUE(reader.Open());
    auto cursor = reader.OpenTrack(0);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t bytes = 0, time = 0;
    int n = 0;
    while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) ++n;
    EXPECT_EQ(n, truncate ? 4 : 5);
    EXPECT_EQ(sample, nullptr);
    // The duration counts what ReadSample delivers.
    EXPECT_EQ(reader.ScanDuration(), static_cast<uint32_t>(n * 1024 * 1000 / 22050));
  }
}

TEST(AdtsReader, BadLengthInTheMiddleEndsTheStreamWithoutHanging) {
  auto file = AdtsFile(3);
  auto zero = AdtsFrame(0);
  file.insert(file.begin() + 200, zero.begin(), zero.end());
  TestPackage pak;
  media::AdtsReader reader(pak.Add("z.aac", file));
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.ScanDuration(), 2u * 1024 * 1000 / 22050);
  auto cursor = reader.OpenTrack(0);
  EXPECT_TRUE(reader.Seek(cursor.get(), 1000000));  // stops at the bad frame
}

TEST(AdtsReader, SeekUsesTheIndexWithOneFrameOfLeadIn) {
  TestPackage pak;
  media::AdtsReader reader(pak.Add("s.aac", AdtsFile(10)));
  ASSERT_TRUE(reader.Open());
  auto cursor = reader.OpenTrack(0);
  auto* c = static_cast<media::FrameCursor*>(cursor.get());
  // Beyond the index: steps forward to the frame that holds the target.
  ASSERT_TRUE(reader.Seek(cursor.get(), 5 * 1024 + 10));
  EXPECT_EQ(c->time, 5u * 1024);
  EXPECT_EQ(c->position, 500u);
  EXPECT_EQ(c->requested, 5u * 1024 + 10);
  // Inside the index: one frame before the frame that holds the target.
  ASSERT_TRUE(reader.Seek(cursor.get(), 3 * 1024 + 10));
  EXPECT_EQ(c->time, 2u * 1024);
  // A target inside the first frame lands on the first frame.
  ASSERT_TRUE(reader.Seek(cursor.get(), 10));
  EXPECT_EQ(c->time, 0u);
  ASSERT_TRUE(reader.Seek(cursor.get(), 0));
  EXPECT_EQ(c->position, 0u);
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 99;
  ASSERT_TRUE(reader.ReadSample(cursor.get(), &sample, &bytes, &time));
  EXPECT_EQ(time, 0u);
}

TEST(AdtsReader, DamagedCopiesOfFixturesNeverCrash) {
  std::string path = ovtest::FixturePath("media_44k_stereo.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto original = ovtest::ReadFileBytes(path);
  for (uint32_t seed = 0; seed < 20; ++seed) {
    std::vector<uint8_t> bytes = seed < 10 ? std::vector<uint8_t>(original.begin(), original.begin() + original.size() * seed / 10)
                                           : mediatest::Corrupt(original, seed, 40, 0);
    TestPackage pak;
    media::AdtsReader reader(pak.Add("d.aac", bytes));
    if (!reader.Open()) continue;
    reader.ScanDuration();
    auto cursor = reader.OpenTrack(0);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t n = 0, time = 0;
    while (reader.ReadSample(cursor.get(), &sample, &n, &time)) {
    }
    reader.Seek(cursor.get(), 20000);
  }
}

}  // namespace
