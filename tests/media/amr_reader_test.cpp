#include "media/amr_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using mediatest::TestPackage;

std::vector<uint8_t> AmrFile(const std::vector<uint8_t>& frame_types, const char* magic = "#!AMR\n") {
  std::vector<uint8_t> file(magic, magic + std::strlen(magic));
  for (uint8_t type : frame_types) {
    file.push_back(static_cast<uint8_t>((type << 3) | 4));
    uint32_t payload = media::AmrPayloadBytes(type, false);
    file.insert(file.end(), payload, 0x33);
  }
  return file;
}

TEST(AmrReader, PayloadSizesOfTheStorageFormat) {
  // RFC 4867 / TS 26.101: 12, 13, 15, 17, 19, 20, 26, 31 bytes for the eight
  // speech modes, 5 for comfort noise, none for "no data".
  const uint32_t expected[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, 0, 0, 0, 0};
  for (uint32_t t = 0; t < 16; ++t) EXPECT_EQ(media::AmrPayloadBytes(t, false), expected[t]) << t;
  EXPECT_EQ(media::AmrPayloadBytes(8, true), 60u);
  EXPECT_EQ(media::AmrPayloadBytes(2, true), 32u);
}

TEST(AmrReader, MatchesFfprobePackets) {
  for (const char* name : {"media_122.amr", "media_475.amr"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto packets = mediatest::ProbePackets(path, 0);
    ASSERT_FALSE(packets.empty());
    TestPackage pak;
    media::AmrReader reader(pak.Add(name, ovtest::ReadFileBytes(path)));
    ASSERT_TRUE(reader.Open());
    auto cursor = reader.OpenTrack(0);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t bytes = 0, time = 0;
    size_t n = 0;
    while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
      ASSERT_LT(n, packets.size());
      EXPECT_EQ(bytes, packets[n].size) << name << " " << n;
      EXPECT_EQ(time, n * 20);
      ++n;
    }
    EXPECT_EQ(n, packets.size()) << name;
    EXPECT_EQ(reader.GetDuration(0), static_cast<int64_t>(n * 20));
  }
}

TEST(AmrReader, Headers) {
  struct Case {
    const char* magic;
    bool opens;
    uint32_t samples;
    uint32_t rate;
  };
  const Case cases[] = {
      {"#!AMR\n", true, 160, 8000},
      {"#!AMR-WB\n", false, 320, 16000},
      {"#!AMR-MC1.0\n\0\0\0\1", false, 160, 8000},
      {"#!AMR-WB_MC1.0\n", false, 320, 16000},
      {"#!AMX\n", false, 0, 0},
  };
  for (const Case& c : cases) {
    TestPackage pak;
    media::AmrReader reader(pak.Add("h.amr", AmrFile({7, 7}, c.magic)));
    EXPECT_EQ(reader.Open(), c.opens) << c.magic;
    EXPECT_EQ(reader.samples_per_frame(), c.samples) << c.magic;
    EXPECT_EQ(reader.sample_rate(), c.rate) << c.magic;
  }
}

TEST(AmrReader, LastFrameCompleteIsDeliveredTruncatedIsNot) {
  auto file = AmrFile({7, 0, 8, 15, 7});
  for (bool truncate : {false, true}) {
    auto in = file;
    if (truncate) in.pop_back();
    TestPackage pak;
    media::AmrReader reader(pak.Add("t.amr", in));
    ASSERT_TRUE(reader.Open());
    auto cursor = reader.OpenTrack(0);
    std::unique_ptr<uint8_t[]> sample;
    uint32_t bytes = 0, time = 0;
    std::vector<uint32_t> sizes;
    while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) sizes.push_back(bytes);
    std::vector<uint32_t> expected = {32, 13, 6, 1};
    if (!truncate) expected.push_back(32);
    EXPECT_EQ(sizes, expected);
    EXPECT_EQ(reader.GetDuration(0), static_cast<int64_t>(expected.size() * 20));
  }
}

TEST(AmrReader, SeekInMilliseconds) {
  TestPackage pak;
  media::AmrReader reader(pak.Add("s.amr", AmrFile(std::vector<uint8_t>(50, 7))));
  ASSERT_TRUE(reader.Open());
  auto cursor = reader.OpenTrack(0);
  auto* c = static_cast<media::FrameCursor*>(cursor.get());
  ASSERT_TRUE(reader.Seek(cursor.get(), 505));
  EXPECT_EQ(c->time, 500u);
  EXPECT_EQ(c->position, 6u + 25 * 32);
  ASSERT_TRUE(reader.Seek(cursor.get(), 205));
  EXPECT_EQ(c->time, 180u);
  ASSERT_TRUE(reader.Seek(cursor.get(), 0));
  EXPECT_EQ(c->position, 6u);
}

}  // namespace

namespace {

// Millions of one-byte "no data" frames must not grow the seek index with the
// file: it stays within its bound, and seeks from the thinned index land
// where seeks from a full one would (one frame of lead-in).
TEST(AmrReader, SeekIndexStaysBoundedForTinyFrames) {
  constexpr uint32_t kFrames = 200000;
  TestPackage pak;
  media::AmrReader reader(pak.Add("tiny.amr", AmrFile(std::vector<uint8_t>(kFrames, 15))));
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.GetDuration(0), int64_t{kFrames} * 20);
  EXPECT_LE(reader.index().size(), media::FrameReader::kMaxIndexEntries);
  auto cursor = reader.OpenTrack(0);
  auto* c = static_cast<media::FrameCursor*>(cursor.get());
  for (uint32_t target : {0u, 10u, 20u, 25u, 1000005u, 2000000u, 3999990u}) {
    ASSERT_TRUE(reader.Seek(cursor.get(), target)) << target;
    const uint32_t holding = target / 20 * 20;
    const uint32_t expected = target != 0 && holding > 0 ? holding - 20 : holding;
    EXPECT_EQ(c->time, expected) << target;
    EXPECT_EQ(c->position, 6 + expected / 20) << target;
  }
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  uint32_t n = 0;
  ASSERT_TRUE(reader.Seek(cursor.get(), 0));
  while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) ++n;
  EXPECT_EQ(n, kFrames);
  EXPECT_LE(reader.index().size(), media::FrameReader::kMaxIndexEntries);
}

}  // namespace
