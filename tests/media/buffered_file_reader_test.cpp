#include "media/buffered_file_reader.h"

#include <gtest/gtest.h>

#include <cstring>

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
