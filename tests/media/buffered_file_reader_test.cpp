#include "media/buffered_file_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return v;
}

TEST(BufferedFileReader, PackageEntryIsServedFromMemory) {
  mediatest::TestPackage pak;
  auto data = Pattern(1000);
  media::BufferedFileReader r;
  ASSERT_TRUE(r.Open(pak.Add("entry.bin", data)));
  EXPECT_EQ(r.Size(), 1000u);
  uint8_t buf[600];
  uint32_t got = 0;
  EXPECT_TRUE(r.Read(buf, 0, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(r.Read(buf, 600, &got));
  EXPECT_EQ(0, std::memcmp(buf, data.data(), 600));
  EXPECT_FALSE(r.Read(buf, 600, &got));
  EXPECT_EQ(got, 400u);
  EXPECT_TRUE(r.AtEnd());
  r.Seek(5000);  // past the end: nothing to read, the entry stays
  EXPECT_FALSE(r.Read(buf, 1, &got));
  r.Seek(10);
  EXPECT_FALSE(r.AtEnd());
  EXPECT_EQ(r.ReadU8(), data[10]);
  EXPECT_EQ(r.ReadU16(), data[11] | (data[12] << 8));
  r.Skip(-3);
  EXPECT_EQ(r.Tell(), 10u);
  r.Seek(998);
  EXPECT_EQ(r.ReadU32(), uint32_t{data[998]} | (uint32_t{data[999]} << 8));  // missing bytes read as 0
}

}  // namespace

namespace {

std::string WriteScratch(const std::string& name, const std::vector<uint8_t>& data) {
  std::string path = ovtest::ScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
  return path;
}

TEST(BufferedFileReader, FileReadsAcrossBuffersAndSeeks) {
  const size_t size = 3 * media::BufferedFileReader::kBufferSize + 1234;
  auto data = Pattern(size);
  std::string path = WriteScratch("pattern.bin", data);
  media::BufferedFileReader r;
  ASSERT_TRUE(r.Open(mediatest::U16(path)));
  EXPECT_EQ(r.Size(), size);
  // Sequential reads of odd sizes across every buffer boundary.
  std::vector<uint8_t> all(size);
  uint32_t got = 0;
  size_t at = 0;
  while (at < size) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(4099, size - at));
    ASSERT_TRUE(r.Read(all.data() + at, n, &got)) << at;
    at += n;
  }
  EXPECT_EQ(all, data);
  EXPECT_TRUE(r.AtEnd());
  uint8_t b[16];
  EXPECT_FALSE(r.Read(b, 16, &got));
  EXPECT_EQ(got, 0u);
  // Inside the current window, backwards; then far outside it.
  r.Seek(static_cast<uint32_t>(size - 100));
  EXPECT_EQ(r.ReadU8(), data[size - 100]);
  r.Seek(70000);
  EXPECT_EQ(r.Tell(), 70000u);
  ASSERT_TRUE(r.Read(b, 16, &got));
  EXPECT_EQ(0, std::memcmp(b, data.data() + 70000, 16));
  r.Skip(-16);
  EXPECT_EQ(r.ReadU32(), uint32_t{data[70000]} | (uint32_t{data[70001]} << 8) | (uint32_t{data[70002]} << 16) |
                             (uint32_t{data[70003]} << 24));
  // Past the end, then back.
  r.Seek(static_cast<uint32_t>(size + 10));
  EXPECT_FALSE(r.Read(b, 1, &got));
  r.Seek(5);
  EXPECT_EQ(r.ReadU8(), data[5]);
}

TEST(BufferedFileReader, ShortFileAndMissingFile) {
  auto data = Pattern(100);
  std::string path = WriteScratch("short.bin", data);
  media::BufferedFileReader r;
  ASSERT_TRUE(r.Open(mediatest::U16(path)));
  uint8_t b[200];
  uint32_t got = 0;
  EXPECT_FALSE(r.Read(b, 200, &got));
  EXPECT_EQ(got, 100u);
  EXPECT_EQ(0, std::memcmp(b, data.data(), 100));
  media::BufferedFileReader missing;
  EXPECT_FALSE(missing.Open(mediatest::U16(path + ".none")));
}

TEST(BufferedFileReader, PackageEntryWinsOverAFileOfTheSameName) {
  std::string path = WriteScratch("both.bin", Pattern(64));
  mediatest::TestPackage pak;
  pak.Add(path, std::vector<uint8_t>(10, 0xEE));
  media::BufferedFileReader r;
  ASSERT_TRUE(r.Open(mediatest::U16(path)));
  EXPECT_EQ(r.Size(), 10u);
  EXPECT_EQ(r.ReadU8(), 0xEE);
}

TEST(BufferedFileReader, ReadersOpenFixtureFiles) {
  std::string path = ovtest::FixturePath("media_pcm16_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto data = ovtest::ReadFileBytes(path);
  media::BufferedFileReader r;
  ASSERT_TRUE(r.Open(mediatest::U16(path)));
  std::vector<uint8_t> all(data.size());
  ASSERT_TRUE(r.ReadBytes(all.data(), static_cast<uint32_t>(all.size())));
  EXPECT_EQ(all, data);
}

}  // namespace
