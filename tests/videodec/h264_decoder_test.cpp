// The H.264 decoder through its VideoDecoder function table: the factory,
// both framings, the one-NAL-unit decode slot and the parameter queries.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_decoder.h"
#include "tests/support/md5.h"
#include "tests/support/test_paths.h"

namespace {

using videodec::DecodedPicture;
using videodec::H264StreamInfo;
using videodec::VideoDecoder;

using Nal = std::vector<uint8_t>;

std::vector<Nal> SplitNals(const std::vector<uint8_t>& data) {
  std::vector<Nal> out;
  size_t pos = 0, b = 0, e = 0;
  while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
    if (e > b) out.emplace_back(data.begin() + long(b), data.begin() + long(e));
    pos = e;
  }
  return out;
}

bool IsSlice(const Nal& n) { return (n[0] & 31) == 1 || (n[0] & 31) == 5; }

// Access units as NextAnnexBAccessUnit finds them, each split into its units.
std::vector<std::vector<Nal>> AccessUnits(const std::vector<uint8_t>& data) {
  std::vector<std::vector<Nal>> aus;
  size_t pos = 0, b = 0, e = 0;
  while (videodec::h264::NextAnnexBAccessUnit(data.data(), data.size(), pos, &b, &e)) {
    aus.push_back(SplitNals(std::vector<uint8_t>(data.begin() + long(b), data.begin() + long(e))));
    pos = e;
  }
  return aus;
}

std::vector<uint8_t> LengthPrefixed(const std::vector<Nal>& nals, int prefix) {
  std::vector<uint8_t> out;
  for (const Nal& n : nals) {
    for (int i = prefix - 1; i >= 0; --i) out.push_back(uint8_t(n.size() >> (8 * i)));
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

std::vector<uint8_t> AnnexB(const std::vector<Nal>& nals) {
  std::vector<uint8_t> out;
  for (const Nal& n : nals) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

std::vector<std::string> ReadFrameMd5(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string md5 = line.substr(line.rfind(',') + 1);
    md5.erase(0, md5.find_first_not_of(' '));
    out.push_back(md5);
  }
  return out;
}

std::string CroppedMd5(const DecodedPicture& p, const H264StreamInfo& info) {
  ovtest::Md5 md5;
  const int w = info.display_width, h = info.display_height;
  for (int y = 0; y < h; ++y) md5.Update(p.y + (y + info.crop_top) * p.width + info.crop_left, size_t(w));
  for (const uint8_t* plane : {p.u, p.v})
    for (int y = 0; y < h / 2; ++y)
      md5.Update(plane + (y + info.crop_top / 2) * (p.width / 2) + info.crop_left / 2, size_t(w / 2));
  return md5.HexDigest();
}

struct Framing {
  const char* name;
  uint32_t mode;
  int prefix;  // NAL length size of the samples
};

struct FixtureCase {
  const char* fixture;
  Framing framing;
};

class H264DecoderFixtures : public ::testing::TestWithParam<FixtureCase> {};

// The calling contract of the video-track source: the factory takes the
// parameter sets, then one access unit per DecodeFrameOut, then the picture.
TEST_P(H264DecoderFixtures, DecodeFrameOutPerAccessUnitMatchesTheReference) {
  const FixtureCase& c = GetParam();
  const std::string path = ovtest::FixturePath(c.fixture);
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<std::string> ref = ReadFrameMd5(path + ".framemd5");
  const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
  const std::vector<Nal> nals = SplitNals(data);
  std::vector<Nal> params;
  for (const Nal& n : nals)
    if ((n[0] & 31) == 7 || (n[0] & 31) == 8) params.push_back(n);
    else if (IsSlice(n)) break;
  const bool prefixed = c.framing.mode == videodec::H264_FRAMING_LENGTH_PREFIXED;
  std::vector<uint8_t> config = prefixed ? LengthPrefixed(params, 2) : AnnexB(params);
  uint32_t length = uint32_t(config.size());
  H264StreamInfo info{};
  VideoDecoder* d = nullptr;
  ASSERT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &length, &info, uint32_t(c.framing.prefix), 2,
                                              c.framing.mode),
            videodec::VDEC_OK);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(length, config.size());
  std::vector<std::string> got;
  const std::vector<std::vector<Nal>> aus = AccessUnits(data);
  // One access unit per coded picture, each holding its slices whole.
  ASSERT_EQ(aus.size(), ref.size());
  for (const std::vector<Nal>& au : aus) {
    std::vector<uint8_t> sample = prefixed ? LengthPrefixed(au, c.framing.prefix) : AnnexB(au);
    uint32_t n = uint32_t(sample.size());
    ASSERT_EQ(d->DecodeFrameOut(d, sample.data(), &n, nullptr), videodec::VDEC_OK);
    EXPECT_EQ(n, sample.size());
    DecodedPicture* pic = nullptr;
    if (d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) == videodec::VDEC_OK) {
      ASSERT_NE(pic, nullptr);
      EXPECT_EQ(pic->width, info.coded_width);
      got.push_back(CroppedMd5(*pic, info));
    }
  }
  EXPECT_EQ(got, ref);
  EXPECT_EQ(d->DestroyDecoder(d), videodec::VDEC_OK);
}

const Framing kMp4{"Mp4", videodec::H264_FRAMING_LENGTH_PREFIXED, 4};
const Framing kMp4Short{"Mp4Prefix2", videodec::H264_FRAMING_LENGTH_PREFIXED, 2};
const Framing kAnnexB{"AnnexB", videodec::H264_FRAMING_ANNEX_B, 0};

INSTANTIATE_TEST_SUITE_P(
    X264, H264DecoderFixtures,
    ::testing::Values(FixtureCase{"h264_base_1ref.264", kMp4}, FixtureCase{"h264_base_3ref.264", kMp4Short},
                      FixtureCase{"h264_base_16ref.264", kMp4}, FixtureCase{"h264_base_slices.264", kMp4},
                      FixtureCase{"h264_base_crop.264", kMp4}, FixtureCase{"h264_base_intra.264", kMp4},
                      FixtureCase{"h264_base_aud.264", kAnnexB}, FixtureCase{"h264_base_slices.264", kAnnexB},
                      FixtureCase{"h264_base_cif.264", kAnnexB}),
    [](const ::testing::TestParamInfo<FixtureCase>& p) {
      std::string n = std::string(p.param.fixture).substr(10);
      n = n.substr(0, n.find('.'));
      return n + "_" + p.param.framing.name;
    });

// DecodeFrame takes one NAL unit per call and hands back a unit that starts
// a new picture until the finished picture has been fetched.
TEST(H264Decoder, DecodeFrameOneNalUnitPerCall) {
  const std::string path = ovtest::FixturePath("h264_base_slices.264");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<std::string> ref = ReadFrameMd5(path + ".framemd5");
  const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
  uint32_t length = uint32_t(data.size());
  H264StreamInfo info{};
  VideoDecoder* d = nullptr;
  ASSERT_EQ(videodec::gCreateH264VideoDecoder(&d, data.data(), &length, &info, 0, 0, videodec::H264_FRAMING_ANNEX_B),
            videodec::VDEC_OK);
  std::vector<std::string> got;
  auto fetch = [&] {
    DecodedPicture* pic = nullptr;
    if (d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) == videodec::VDEC_OK)
      got.push_back(CroppedMd5(*pic, info));
  };
  size_t pos = 0;
  int guard = 0;
  while (pos < data.size() && ++guard < 10000) {
    uint32_t n = uint32_t(data.size() - pos);
    ASSERT_EQ(d->DecodeFrame(d, data.data() + pos, &n), videodec::VDEC_OK);
    if (n == 0) fetch();
    pos += n;
  }
  uint32_t zero = 0;
  EXPECT_EQ(d->DecodeFrame(d, data.data(), &zero), videodec::VDEC_OK);
  fetch();
  EXPECT_EQ(got, ref);
  d->DestroyDecoder(d);
}

Nal Bytes(std::initializer_list<uint8_t> b) { return Nal(b); }

// A 16x16 Baseline sequence parameter set and its picture parameter set.
const Nal kSps = Bytes({0x67, 0x42, 0x00, 0x1e, 0xda, 0x79});  // id 0, POC type 2, 1 ref, 1x1 MB
const Nal kPps = Bytes({0x68, 0xce, 0x3c, 0x80});
const Nal kAud = Bytes({0x09, 0xf0});

struct FactoryCase {
  const char* name;
  std::vector<Nal> config;
  int32_t expected;
};

class H264Factory : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(H264Factory, LengthPrefixedConfiguration) {
  std::vector<uint8_t> config = LengthPrefixed(GetParam().config, 2);
  uint32_t length = uint32_t(config.size());
  H264StreamInfo info{};
  VideoDecoder* d = reinterpret_cast<VideoDecoder*>(&info);  // must be cleared
  const int32_t r = videodec::gCreateH264VideoDecoder(&d, config.data(), &length, &info, 4, 2,
                                                      videodec::H264_FRAMING_LENGTH_PREFIXED);
  EXPECT_EQ(r, GetParam().expected);
  if (r == videodec::VDEC_OK) {
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(info.coded_width, 16);
    EXPECT_EQ(info.num_ref_frames, 1);
    d->DestroyDecoder(d);
  } else {
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(length, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Configs, H264Factory,
                         ::testing::Values(FactoryCase{"SpsPps", {kSps, kPps}, videodec::VDEC_OK},
                                           FactoryCase{"AudFirst", {kAud, kSps, kPps}, videodec::VDEC_OK},
                                           FactoryCase{"PpsFirst", {kPps, kSps}, videodec::VDEC_ERR_STREAM},
                                           FactoryCase{"AudOnly", {kAud}, videodec::VDEC_H264_NO_SPS}),
                         [](const ::testing::TestParamInfo<FactoryCase>& p) { return std::string(p.param.name); });

TEST(H264Decoder, FactoryArguments) {
  std::vector<uint8_t> config = LengthPrefixed({kSps, kPps}, 2);
  H264StreamInfo info{};
  VideoDecoder* d = nullptr;
  uint32_t length = uint32_t(config.size());
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(nullptr, config.data(), &length, &info, 4, 2, 1),
            videodec::VDEC_ERR_H264_ARGUMENT);
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, nullptr, &length, &info, 4, 2, 1), videodec::VDEC_ERR_H264_ARGUMENT);
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &length, nullptr, 4, 2, 1),
            videodec::VDEC_ERR_H264_ARGUMENT);
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &length, &info, 0, 2, 1),
            videodec::VDEC_ERR_H264_ARGUMENT);
  uint32_t zero = 0;
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &zero, &info, 4, 2, 1),
            videodec::VDEC_ERR_H264_ARGUMENT);
  // A configuration length with its upper 16 bits set counts by its low 16 bits.
  std::vector<uint8_t> wide = LengthPrefixed({kSps, kPps}, 4);
  wide[0] = 0x12;
  wide[1] = 0x34;
  length = uint32_t(wide.size());
  ASSERT_EQ(videodec::gCreateH264VideoDecoder(&d, wide.data(), &length, &info, 4, 4, 1), videodec::VDEC_OK);
  d->DestroyDecoder(d);
  // Truncated: the length runs past the data.
  std::vector<uint8_t> cut(config.begin(), config.end() - 1);
  length = uint32_t(cut.size());
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, cut.data(), &length, &info, 4, 2, 1), videodec::VDEC_ERR_STREAM);
}

TEST(H264Decoder, SlotsOnBadInput) {
  std::vector<uint8_t> config = LengthPrefixed({kSps, kPps}, 2);
  uint32_t length = uint32_t(config.size());
  H264StreamInfo info{};
  VideoDecoder* d = nullptr;
  ASSERT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &length, &info, 4, 2, 1), videodec::VDEC_OK);
  // Nothing decoded yet: no picture.
  DecodedPicture* pic = reinterpret_cast<DecodedPicture*>(&info);
  EXPECT_EQ(d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic), videodec::VDEC_ERR_STREAM);
  EXPECT_EQ(pic, nullptr);
  EXPECT_EQ(d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, nullptr), videodec::VDEC_ERR_H264_ARGUMENT);
  int32_t word = 5;
  EXPECT_EQ(d->GetDecoderParam(d, 7, &word), videodec::VDEC_ERR_STREAM);
  EXPECT_EQ(d->SetDecoderParam(d, 0, 1), videodec::VDEC_ERR_STREAM);
  // A length prefix larger than the sample.
  std::vector<uint8_t> sample = {0, 0, 0, 9, 0x65, 0x88};
  uint32_t n = uint32_t(sample.size());
  EXPECT_EQ(d->DecodeFrameOut(d, sample.data(), &n, nullptr), videodec::VDEC_ERR_STREAM);
  n = 0;
  EXPECT_EQ(d->DecodeFrameOut(d, sample.data(), &n, nullptr), videodec::VDEC_ERR_H264_ARGUMENT);
  EXPECT_EQ(d->DecodeFrameOut(d, nullptr, &n, nullptr), videodec::VDEC_ERR_H264_ARGUMENT);
  // A slice naming picture parameter set 3, which never arrived: ue(3) = 00100.
  std::vector<uint8_t> orphan = LengthPrefixed({Bytes({0x65, 0x88, 0x24})}, 4);
  n = uint32_t(orphan.size());
  EXPECT_EQ(d->DecodeFrameOut(d, orphan.data(), &n, nullptr), videodec::VDEC_H264_NO_PPS);
  EXPECT_EQ(d->ResetDecoder(d), videodec::VDEC_OK);
  EXPECT_EQ(d->DestroyDecoder(d), videodec::VDEC_OK);
}

TEST(H264Decoder, MainProfileIsRefused) {
  const std::string path = ovtest::FixturePath("h264_main.264");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
  uint32_t length = uint32_t(data.size());
  H264StreamInfo info{};
  VideoDecoder* d = nullptr;
  EXPECT_EQ(videodec::gCreateH264VideoDecoder(&d, data.data(), &length, &info, 0, 0, videodec::H264_FRAMING_ANNEX_B),
            videodec::VDEC_ERR_STREAM);
  EXPECT_EQ(d, nullptr);
}

}  // namespace
