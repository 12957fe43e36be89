// The MPEG-4 decoder against ffmpeg's decode of the same streams, in each
// decode mode, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "tests/support/test_paths.h"
#include "tests/videodec/mpeg4_test_util.h"

namespace {

using mpeg4test::Decoder;
using mpeg4test::Frame;
using mpeg4test::Stream;

// Our inverse transform is not the reference decoder's, so pictures are
// compared by PSNR; 45 dB is far above visible difference and far below what
// a wrong table, scan or prediction gives (under 30 dB).
constexpr double kMinLumaPsnr = 45.0;
// Chroma under the same bound (lowest chroma frame measured: 49.5 dB, in the
// 170 x 130 stream, whose chroma planes are 85 x 65 with a padded edge); a
// wrong chroma DC scaler falls to about 20 dB.
constexpr double kMinChromaPsnr = 45.0;

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
    {"qrange", "mpeg4_qrange.m4v", "mpeg4_qrange.yuv", 176, 144},
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
    EXPECT_GE(mpeg4test::LumaPsnr(ours[i], ref[i]), kMinLumaPsnr) << what << " frame " << i;
    EXPECT_GE(mpeg4test::ChromaPsnr(ours[i], ref[i]), kMinChromaPsnr) << what << " frame " << i << " chroma";
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
    std::printf("%s frame %zu: luma %.2f dB, chroma %.2f dB\n", c.name, i, mpeg4test::LumaPsnr(ours[i], ref[i]),
                mpeg4test::ChromaPsnr(ours[i], ref[i]));
  }

  // Packet mode gives the very same pictures.
  Decoder packets;
  len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&packets.d, config.data(), &len, 0), 0);
  const auto by_packet = mpeg4test::DecodePackets(packets.d, s, c.width, c.height);
  ASSERT_EQ(by_packet.size(), ours.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(by_packet[i].y, ours[i].y) << "frame " << i;
    EXPECT_EQ(by_packet[i].u, ours[i].u) << "frame " << i;
    EXPECT_EQ(by_packet[i].v, ours[i].v) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg4Fixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace

namespace {

// Layers with tools that Simple Profile lacks are refused when the decoder is
// set up, whether from configuration bytes or from the first decode call.
struct RefusalCase {
  const char* name;
  const char* stream;
};

const RefusalCase kRefusals[] = {
    {"quarter_pel", "mpeg4_qpel.m4v"},
    {"mpeg_quantisation", "mpeg4_mpeg_quant.m4v"},
    {"interlaced", "mpeg4_interlaced.m4v"},
    {"gmc_sprites", "mpeg4_gmc.m4v"},
};

class Mpeg4Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Mpeg4Refusal, FailsSetUpWithBadStreamHeader) {
  const std::string path = ovtest::FixturePath(GetParam().stream);
  OV_SKIP_WITHOUT_FIXTURE(path);
  const Stream s = Load(GetParam().stream);
  ASSERT_FALSE(s.config.empty());
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  videodec::VideoDecoder* dec = reinterpret_cast<videodec::VideoDecoder*>(&len);  // must be cleared
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, config.data(), &len, 0), videodec::VDEC_BAD_STREAM_HEADER);
  EXPECT_EQ(dec, nullptr);
  EXPECT_EQ(len, 0u);

  // Without configuration the first decode call sets up and refuses the same.
  Decoder late;
  len = 0;
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&late.d, nullptr, &len, 0), 0);
  std::vector<uint8_t> first(s.config);
  first.insert(first.end(), s.samples[0].begin(), s.samples[0].end());
  uint32_t n = static_cast<uint32_t>(first.size());
  EXPECT_EQ(late.d->DecodeFrame(late.d, first.data(), &n), videodec::VDEC_BAD_STREAM_HEADER);
}

INSTANTIATE_TEST_SUITE_P(Refusals, Mpeg4Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// A B-VOP is refused on its own; the I- and P-VOPs around it decode as ffmpeg
// decodes them.
TEST(Mpeg4Decoder, RefusesBVopsOneByOne) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("mpeg4_bvop.m4v"));
  const Stream s = Load("mpeg4_bvop.m4v");
  const auto ref = mpeg4test::ReadYuv(ovtest::ReadFileBytes(ovtest::FixturePath("mpeg4_bvop.yuv")), 176, 144, 176, 144);
  Decoder dec;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, 0), 0);
  std::vector<int32_t> results;
  const auto ours = mpeg4test::DecodeWhole(dec.d, s, 176, 144, &results);
  int refused = 0;
  for (size_t i = 0; i < s.samples.size(); ++i) {
    // vop_coding_type: the two bits after the VOP start code.
    const auto& v = s.samples[i];
    size_t at = 0;
    while (at + 4 < v.size() && !(v[at] == 0 && v[at + 1] == 0 && v[at + 2] == 1 && v[at + 3] == 0xB6)) ++at;
    const int type = v[at + 4] >> 6;
    EXPECT_EQ(results[i], type == 2 ? videodec::VDEC_ERR_STREAM : videodec::VDEC_OK) << "VOP " << i;
    refused += type == 2;
  }
  EXPECT_GT(refused, 0);
  ASSERT_EQ(ours.size() + static_cast<size_t>(refused), s.samples.size());
  // Each decoded I- or P-VOP is one of the reference's pictures.
  for (size_t i = 0; i < ours.size(); ++i) {
    double best = 0;
    for (const auto& r : ref)
      best = std::max(best, std::min(mpeg4test::LumaPsnr(ours[i], r), mpeg4test::ChromaPsnr(ours[i], r)));
    EXPECT_GE(best, kMinLumaPsnr) << "decoded VOP " << i;
  }
}

// Patches video_object_layer_width and _height of the layer header at `at`
// (ffmpeg's layout: no vbv parameters).
bool PatchLayerSizeAt(std::vector<uint8_t>& config, size_t at, int width, int height) {
  size_t pos = (at + 4) * 8;
  auto bit = [&](size_t p) { return (config[p / 8] >> (7 - p % 8)) & 1; };
  auto read = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit(pos++);
    return v;
  };
  auto write = [&](size_t p, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      const size_t q = p + static_cast<size_t>(i);
      const int b = (v >> (n - 1 - i)) & 1;
      config[q / 8] = static_cast<uint8_t>((config[q / 8] & ~(0x80 >> (q % 8))) | (b << (7 - q % 8)));
    }
  };
  read(1);
  read(8);
  int verid = 1;
  if (read(1)) {
    verid = static_cast<int>(read(4));
    read(3);
  }
  (void)verid;
  if (read(4) == 15) read(16);
  if (read(1)) {
    read(2);
    read(1);
    if (read(1)) return false;
  }
  if (read(2) != 0) return false;
  read(1);
  const uint32_t resolution = read(16);
  read(1);
  int bits = 1;
  while ((1u << bits) < resolution) ++bits;
  if (read(1)) read(bits);
  read(1);
  write(pos, static_cast<uint32_t>(width), 13);
  pos += 14;
  write(pos, static_cast<uint32_t>(height), 13);
  return true;
}

// Patches every layer header of a stream (ffmpeg repeats them at key frames).
int PatchLayerSize(std::vector<uint8_t>& stream, int width, int height) {
  int patched = 0;
  for (size_t at = 0; at + 4 < stream.size(); ++at) {
    if (stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 && (stream[at + 3] & 0xF0) == 0x20) {
      if (!PatchLayerSizeAt(stream, at, width, height)) return -1;
      ++patched;
    }
  }
  return patched;
}

// A 171 x 131 layer is decoded into 176 x 144 planes and handed out as its
// even crop, 170 x 130; ffmpeg's 171 x 131 pictures are compared on that crop.
TEST(Mpeg4Decoder, OddLayerSizeIsCroppedToEven) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("mpeg4_170x130.m4v"));
  auto bytes = ovtest::ReadFileBytes(ovtest::FixturePath("mpeg4_170x130.m4v"));
  ASSERT_GT(PatchLayerSize(bytes, 171, 131), 0);
  Stream s = mpeg4test::SplitM4v(bytes);
  const std::string dir = ovtest::ScratchDir();
  const std::string m4v = dir + "/odd.m4v", yuv = dir + "/odd.yuv";
  {
    FILE* f = std::fopen(m4v.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  const std::string cmd = "ffmpeg -v error -y -threads 1 -i '" + m4v + "' -f rawvideo -pix_fmt yuv420p '" + yuv + "'";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "ffmpeg is not available";
  const auto ref = mpeg4test::ReadYuv(ovtest::ReadFileBytes(yuv), 171, 131, 170, 130);
  Decoder dec;
  uint32_t len = static_cast<uint32_t>(s.config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, s.config.data(), &len, 0), 0);
  const auto ours = mpeg4test::DecodeWhole(dec.d, s, 171, 131);
  ASSERT_FALSE(ours.empty());
  EXPECT_EQ(ours[0].width, 170);
  EXPECT_EQ(ours[0].height, 130);
  ExpectMatches(ours, ref, "171 x 131");
}

}  // namespace

namespace {

// Resumable mode fed the stream in random chunks: each call consumes up to the
// start of the unit it could not finish, the caller passes the rest again
// with the next chunk, and the pictures are those of whole VOPs.
class Mpeg4Resumable : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(Mpeg4Resumable, RandomChunksGiveTheSamePictures) {
  const FixtureCase& c = GetParam();
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(c.stream));
  const Stream s = Load(c.stream);
  Decoder whole;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&whole.d, config.data(), &len, 0), 0);
  const auto expected = mpeg4test::DecodePackets(whole.d, s, c.width, c.height);

  std::vector<uint8_t> body;
  for (const auto& v : s.samples) body.insert(body.end(), v.begin(), v.end());
  const uint32_t seed = 20261209u;
  std::printf("seed %u\n", seed);
  uint32_t state = seed;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  Decoder dec;
  len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, 0), 0);
  ASSERT_EQ(dec.d->SetDecoderParam(dec.d, videodec::VDEC_PARAM_DECODE_VARIANT, 1), 0);
  std::vector<Frame> got;
  auto finish = [&]() {
    const videodec::DecodedPicture* pic = nullptr;
    ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic), 0);
    got.push_back(mpeg4test::FromPicture(*pic, c.width & ~1, c.height & ~1));
  };
  std::vector<uint8_t> pending;
  size_t fed = 0;
  bool need_more = true;
  for (int guard = 0; guard < 200000; ++guard) {
    if (need_more) {
      if (fed == body.size()) break;
      const size_t n = std::min<size_t>(1 + next() % 1500, body.size() - fed);
      pending.insert(pending.end(), body.begin() + static_cast<ptrdiff_t>(fed),
                     body.begin() + static_cast<ptrdiff_t>(fed + n));
      fed += n;
      need_more = false;
    }
    std::vector<uint8_t> copy(pending);
    uint32_t n = static_cast<uint32_t>(copy.size());
    const int32_t r = dec.d->DecodeFrame(dec.d, copy.data(), &n);
    ASSERT_LE(n, copy.size());
    pending.erase(pending.begin(), pending.begin() + n);
    if (r == videodec::VDEC_NEXT_PICTURE || r == videodec::VDEC_PICTURE_OPEN) {
      finish();
    } else if (r == videodec::VDEC_INPUT_EXHAUSTED) {
      need_more = true;
    } else {
      ASSERT_TRUE(r == 0 || r == videodec::VDEC_ERR_STREAM) << r;
      if (pending.empty()) need_more = true;
    }
  }
  finish();
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].y, expected[i].y) << "picture " << i;
}

const FixtureCase kResumableCases[] = {
    {"packets", "mpeg4_packets.m4v", "", 176, 144},
    {"partitioned", "mpeg4_partitioned.m4v", "", 176, 144},
    {"short_header", "mpeg4_short_header.h263", "", 176, 144},
    {"size170x130", "mpeg4_170x130.m4v", "", 170, 130},
};

INSTANTIATE_TEST_SUITE_P(Chunks, Mpeg4Resumable, ::testing::ValuesIn(kResumableCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace

namespace {

// The post filter smooths the pictures handed out, never the references:
// with it on, the pictures differ, and the reference read back unfiltered at
// the end is the very picture of a decoder without the filter.
TEST(Mpeg4Decoder, PostFilterLeavesReferencesAlone) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("mpeg4_qchange.m4v"));
  const Stream s = Load("mpeg4_qchange.m4v");
  std::vector<Frame> shown[2];
  std::vector<uint8_t> last_reference[2];
  for (int level : {0, 2}) {
    Decoder dec;
    std::vector<uint8_t> config(s.config);
    uint32_t len = static_cast<uint32_t>(config.size());
    ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, static_cast<uint32_t>(level)), 0);
    shown[level / 2] = mpeg4test::DecodePackets(dec.d, s, 176, 144);
    ASSERT_EQ(dec.d->SetDecoderParam(dec.d, videodec::VDEC_PARAM_POSTFILTER_LEVEL, 0), 0);
    std::vector<uint8_t> y(176 * 144), u(y.size() / 4), v(y.size() / 4);
    videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
    ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_COPY_PICTURE, &pic), 0);
    last_reference[level / 2] = y;
  }
  ASSERT_EQ(shown[0].size(), shown[1].size());
  int differing = 0;
  for (size_t i = 0; i < shown[0].size(); ++i) differing += shown[0][i].y != shown[1][i].y;
  EXPECT_GT(differing, 0);
  EXPECT_EQ(last_reference[0], last_reference[1]);
  EXPECT_EQ(last_reference[0], shown[0].back().y);
}

}  // namespace

namespace {

// Packet mode: one video packet per call, 0 while more packets follow, -3109
// in front of the next VOP's start code; a call at a start code before the
// picture was finished consumes nothing and returns -3108.
TEST(Mpeg4Decoder, PacketModeResults) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("mpeg4_packets.m4v"));
  const Stream s = Load("mpeg4_packets.m4v");
  Decoder dec;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, 0), 0);
  std::vector<uint8_t> data(s.samples[0]);
  const size_t first_size = data.size();
  data.insert(data.end(), s.samples[1].begin(), s.samples[1].begin() + 8);
  size_t off = 0;
  std::vector<int32_t> results;
  for (int guard = 0; guard < 200 && off < data.size(); ++guard) {
    uint32_t n = static_cast<uint32_t>(data.size() - off);
    const int32_t r = dec.d->DecodeFrame(dec.d, data.data() + off, &n);
    results.push_back(r);
    off += n;
    if (r != 0) break;
  }
  ASSERT_GE(results.size(), 3u) << "the I-VOP has several packets";
  for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i], 0) << "call " << i;
  EXPECT_EQ(results.back(), videodec::VDEC_NEXT_PICTURE);
  EXPECT_EQ(off, first_size);
  uint32_t n = static_cast<uint32_t>(data.size() - off);
  EXPECT_EQ(dec.d->DecodeFrame(dec.d, data.data() + off, &n), videodec::VDEC_PICTURE_OPEN);
  EXPECT_EQ(n, 0u);
  const videodec::DecodedPicture* pic = nullptr;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic), 0);
  int32_t type = -1;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_PICTURE_TYPE, &type), 0);
  EXPECT_EQ(type, 0);
  int32_t activity = -1;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FRAME_ACTIVITY, &activity), 0);
  EXPECT_GE(activity, 0);
  EXPECT_LE(activity, 10);
}

}  // namespace
