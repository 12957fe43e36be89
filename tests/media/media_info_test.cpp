#include "media/media_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mediatest::TestPackage;

media::MediaInfo Read(const std::string& fixture, const std::string& as) {
  TestPackage pak;
  auto p = pak.Add(as, ovtest::ReadFileBytes(ovtest::FixturePath(fixture)));
  media::MediaInfo info;
  info.ReadMediaInfo(p, 0);
  return info;
}

double ProbeDurationMs(const std::string& fixture) {
  return 1000 * std::atof(mediatest::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                                ovtest::FixturePath(fixture) + "'")
                              .c_str());
}

TEST(MediaInfo, Id3Tags) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("media_cbr.mp3"));
  auto both = Read("media_cbr.mp3", "both.MP3");
  EXPECT_EQ(both.title, u"V2Title");
  EXPECT_EQ(both.artist, u"");
  EXPECT_EQ(both.album, u"");
  EXPECT_EQ(both.year, u"");
  EXPECT_NEAR(both.durationMs, ProbeDurationMs("media_cbr.mp3"), 27);

  // An ID3v1 tag alone, at the end of a tagless MPEG-2 file.
  Bytes file = ovtest::ReadFileBytes(ovtest::FixturePath("media_mpeg2.mp3"));
  Bytes tag(128, 0);
  std::memcpy(tag.data(), "TAGV1Title", 10);
  std::memcpy(tag.data() + 33, "V1Artist", 8);
  std::memcpy(tag.data() + 63, "V1Album", 7);
  std::memcpy(tag.data() + 93, "2006", 4);
  file.insert(file.end(), tag.begin(), tag.end());
  TestPackage pak;
  media::MediaInfo v1;
  v1.ReadMediaInfo(pak.Add("v1.mp3", file), 0);
  EXPECT_EQ(v1.title, u"V1Title");
  EXPECT_EQ(v1.artist, u"V1Artist");
  EXPECT_EQ(v1.album, u"V1Album");
  EXPECT_EQ(v1.year, u"2006");
  EXPECT_EQ(v1.genre, u"UNKNOWN");
}

TEST(MediaInfo, DurationsByExtension) {
  struct Case {
    const char* fixture;
    const char* as;
    double tolerance_ms;
  };
  const Case cases[] = {
      {"media_22k_mono.aac", "a.aac", 47},
      {"media_h264_aac.mp4", "a.mp4", 1},      {"media_h263_amr.3gp", "a.3gpp", 70},
      {"media_mpeg4_aac.3g2", "a.3g2", 101},   {"media_aac.m4a", "a.m4a", 64},
      {"media_vbr.mp3", "a.mp3", 27},
  };
  for (const Case& c : cases) {
    OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(c.fixture));
    auto info = Read(c.fixture, c.as);
    EXPECT_GT(info.durationMs, 0u) << c.as;
    EXPECT_NEAR(info.durationMs, ProbeDurationMs(c.fixture), c.tolerance_ms) << c.as;
  }
  // AMR: ffprobe estimates the format duration from the bit rate; its packets
  // are the reference, 20 ms each.
  auto amr = Read("media_122.amr", "a.AMR");
  EXPECT_EQ(amr.durationMs, mediatest::ProbePackets(ovtest::FixturePath("media_122.amr"), 0).size() * 20);
  auto other = Read("media_122.amr", "a.xyz");
  EXPECT_EQ(other.durationMs, 0u);
}

void PutGuid(Bytes& b, size_t at, const char* guid) {
  // "75B22633-668E-11CF-A6D9-00AA0062CE6C" in stored byte order.
  unsigned v[16];
  std::sscanf(guid, "%2x%2x%2x%2x-%2x%2x-%2x%2x-%2x%2x-%2x%2x%2x%2x%2x%2x", &v[3], &v[2], &v[1], &v[0], &v[5],
              &v[4], &v[7], &v[6], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15]);
  for (int i = 0; i < 16; ++i) b[at + i] = static_cast<uint8_t>(v[i]);
}

TEST(MediaInfo, AsfHeaderProperties) {
  Bytes asf(5000, 0);
  PutGuid(asf, 100, "7BF875CE-468D-11D1-8D82-006097C9A2B2");
  asf[128] = 0x00;
  asf[129] = 0xFA;  // 64000 bit/s
  PutGuid(asf, 300, "8CABDCA1-A947-11CF-8EE4-00C00C205365");
  uint64_t play = 50000000;  // 5 s in 100 ns
  for (int i = 0; i < 8; ++i) asf[364 + i] = static_cast<uint8_t>(play >> (8 * i));
  asf[380] = 200;  // preroll 200 ms
  // A title that runs to the end of the 4096 bytes without a terminator.
  PutGuid(asf, 4000, "75B22633-668E-11CF-A6D9-00AA0062CE6C");
  for (size_t i = 4034; i < asf.size(); i += 2) asf[i] = 'A';
  TestPackage pak;
  media::MediaInfo info;
  info.ReadMediaInfo(pak.Add("clip.wma", asf), 0);
  EXPECT_EQ(info.bitRate, 64000u);
  EXPECT_EQ(info.durationMs, 4800u);
  EXPECT_EQ(info.title, ov::String(u'A', 31));

  media::MediaInfo small;
  small.ReadMediaInfo(pak.Add("short.WMV", Bytes(asf.begin(), asf.begin() + 4000)), 0);
  EXPECT_EQ(small.bitRate, 0u);
  EXPECT_EQ(small.durationMs, 0u);
}

TEST(MediaInfo, Id3v2SizesAreBounded) {
  Bytes tag = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  // A TIT2 frame claiming more bytes than the file holds, then nothing.
  Bytes frame = {'T', 'I', 'T', '2', 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'x'};
  tag.insert(tag.end(), frame.begin(), frame.end());
  TestPackage pak;
  media::MediaInfo info;
  info.ReadMediaInfo(pak.Add("t.mp3", tag), 0);
  EXPECT_EQ(info.title, u"");
  EXPECT_EQ(info.durationMs, 0u);
}

}  // namespace
