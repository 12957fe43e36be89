// The MPEG-4 decoder against ffmpeg's decode of the same streams, in each
// decode mode, and its refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "tests/support/test_paths.h"
#include "tests/videodec_mpeg4/mpeg4_test_util.h"

namespace {

using mpeg4test::Decoder;
using mpeg4test::Frame;
using mpeg4test::Stream;

// Our inverse transform is not the reference decoder's, so pictures are
// compared by PSNR; 45 dB is far above visible difference and far below what
// a wrong table, scan or prediction gives (under 30 dB).
constexpr double kMinLumaPsnr = 45.0;

struct FixtureCase {
  const char* name;
  const char* stream;
  const char* reference;
  int width, height;  // layer size
};

const FixtureCase kFixtures[] = {
    {"plain", "mpeg4_plain.m4v", "mpeg4_plain.yuv", 176, 144},
    {"aic_mv4", "mpeg4_aic_mv4.m4v", "mpeg4_aic_mv4.yuv", 176, 144},
    {"packets", "mpeg4_packets.m4v", "mpeg4_packets.yuv", 176, 144},
    {"partitioned", "mpeg4_partitioned.m4v", "mpeg4_partitioned.yuv", 176, 144},
    {"qchange", "mpeg4_qchange.m4v", "mpeg4_qchange.yuv", 176, 144},
    {"size170x130", "mpeg4_170x130.m4v", "mpeg4_170x130.yuv", 170, 130},
    {"short_header", "mpeg4_short_header.h263", "mpeg4_short_header.yuv", 176, 144},
};

Stream Load(const std::string& name) {
  const auto bytes = ovtest::ReadFileBytes(ovtest::FixturePath(name));
  if (name.size() > 5 && name.substr(name.size() - 5) == ".h263") return mpeg4test::SplitH263(bytes);
  return mpeg4test::SplitM4v(bytes);
}

void ExpectMatches(const std::vector<Frame>& ours, const std::vector<Frame>& ref, const char* what) {
  ASSERT_EQ(ours.size(), ref.size()) << what;
  for (size_t i = 0; i < ours.size(); ++i) {
    ASSERT_EQ(ours[i].width, ref[i].width) << what << " frame " << i;
    ASSERT_EQ(ours[i].height, ref[i].height) << what << " frame " << i;
    const double psnr = mpeg4test::LumaPsnr(ours[i], ref[i]);
    EXPECT_GE(psnr, kMinLumaPsnr) << what << " frame " << i;
  }
}

class Mpeg4Fixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(Mpeg4Fixture, MatchesReferenceInEveryMode) {
  const FixtureCase& c = GetParam();
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(c.stream));
  const Stream s = Load(c.stream);
  const auto ref_bytes = ovtest::ReadFileBytes(ovtest::FixturePath(c.reference));
  const auto ref = mpeg4test::ReadYuv(ref_bytes, c.width, c.height, c.width & ~1, c.height & ~1);
  ASSERT_FALSE(ref.empty());

  Decoder whole;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&whole.d, config.data(), &len, 0), 0);
  EXPECT_EQ(len, config.size());
  const auto ours = mpeg4test::DecodeWhole(whole.d, s, c.width, c.height);
  ExpectMatches(ours, ref, "whole-picture mode");
  for (size_t i = 0; i < ours.size() && i < ref.size(); ++i) {
    std::printf("%s frame %zu: %.2f dB\n", c.name, i, mpeg4test::LumaPsnr(ours[i], ref[i]));
  }

  // Packet mode gives the very same pictures.
  Decoder packets;
  len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&packets.d, config.data(), &len, 0), 0);
  const auto by_packet = mpeg4test::DecodePackets(packets.d, s, c.width, c.height);
  ASSERT_EQ(by_packet.size(), ours.size());
  for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(by_packet[i].y, ours[i].y) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg4Fixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
