#include "codecs/videodec/h263/h263_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "codecs/videodec/common/idct.h"
#include "codecs/videodec/common/transform_tables.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "codecs/videodec/h263/h263_tables.h"
#include "platform/cpu/cpu.h"
#include "tests/support/test_paths.h"

namespace videodec {
namespace {

// Our inverse transform is not the reference decoder's, so frames differ by
// transform drift only; motion compensation, Annex J and prediction are
// normative. Every frame must stay this close to ffmpeg's decode.
constexpr double kMinLumaPsnr = 45.0;
// Chroma is held to the same bound: its blocks go through the same transform
// and its drift stays as small (lowest chroma frame measured: 53.8 dB, in
// h263p_dijt and h263p_k, against 57.4 dB luma), so no lower bound is needed.
constexpr double kMinChromaPsnr = 45.0;

struct Frame {
  int width, height;
  std::vector<uint8_t> yuv;  // cropped planar 4:2:0
};

// Splits a stream into samples at picture start codes, as an MP4 track's
// samples hold one picture each.
std::vector<std::vector<uint8_t>> SplitPictures(const std::vector<uint8_t>& s) {
  std::vector<std::vector<uint8_t>> out;
  size_t start = 0;
  for (size_t i = 1; i + 3 <= s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) {
      out.emplace_back(s.begin() + static_cast<ptrdiff_t>(start), s.begin() + static_cast<ptrdiff_t>(i));
      start = i;
    }
  }
  out.emplace_back(s.begin() + static_cast<ptrdiff_t>(start), s.end());
  return out;
}

void AppendCropped(const DecodedPicture& pic, int w, int h, std::vector<Frame>* frames) {
  Frame f{w, h, {}};
  for (int r = 0; r < h; ++r) f.yuv.insert(f.yuv.end(), pic.y + r * pic.width, pic.y + r * pic.width + w);
  for (const uint8_t* plane : {pic.u, pic.v})
    for (int r = 0; r < (h + 1) / 2; ++r)
      f.yuv.insert(f.yuv.end(), plane + r * (pic.width / 2), plane + r * (pic.width / 2) + (w + 1) / 2);
  frames->push_back(std::move(f));
}

// Decodes samples through the calling contract of the video-track sources.
std::vector<Frame> DecodeSamples(const std::vector<std::vector<uint8_t>>& samples, int w, int h,
                                 std::vector<int>* damaged = nullptr) {
  VideoDecoder* dec = nullptr;
  EXPECT_EQ(gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), VDEC_OK);
  EXPECT_EQ(dec->SetDecoderParam(dec, VDEC_PARAM_DECODE_VARIANT, 1), VDEC_OK);
  std::vector<Frame> frames;
  auto fetch = [&] {
    DecodedPicture* pic = nullptr;
    if (dec->GetDecoderParam(dec, VDEC_PARAM_FINISH_PICTURE, &pic) == VDEC_OK && pic) {
      AppendCropped(*pic, w, h, &frames);
      int32_t percent = -1;
      if (damaged && dec->GetDecoderParam(dec, VDEC_PARAM_DAMAGED_PERCENT, &percent) == VDEC_OK)
        damaged->push_back(percent);
    }
  };
  for (const auto& sample : samples) {
    std::vector<uint8_t> copy(sample);  // exact size: AddressSanitizer sees over-reads
    uint32_t offset = 0;
    int guard = 0;
    while (offset < copy.size() && ++guard < 10000) {
      uint32_t length = static_cast<uint32_t>(copy.size() - offset);
      const int32_t r = dec->DecodeFrame(dec, copy.data() + offset, &length);
      offset += length;
      if (r == VDEC_PICTURE_OPEN || r == VDEC_NEXT_PICTURE) fetch();
      else if (r != VDEC_OK && length == 0) ++offset;
    }
    if (offset >= copy.size()) fetch();  // the sample held the rest of the picture
  }
  dec->DestroyDecoder(dec);
  return frames;
}

std::vector<Frame> ReadReference(const std::string& path, int w, int h) {
  const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(path);
  const size_t size = static_cast<size_t>(w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2));
  std::vector<Frame> frames;
  for (size_t off = 0; off + size <= bytes.size(); off += size)
    frames.push_back(Frame{w, h, std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(off),
                                                      bytes.begin() + static_cast<ptrdiff_t>(off + size))});
  return frames;
}

// PSNR of one plane of two cropped frames: 0 luma, 1 Cb, 2 Cr.
double PlanePsnr(const Frame& a, const Frame& b, int plane) {
  const size_t luma = static_cast<size_t>(a.width * a.height);
  const size_t chroma = static_cast<size_t>(((a.width + 1) / 2) * ((a.height + 1) / 2));
  const size_t begin = plane == 0 ? 0 : luma + static_cast<size_t>(plane - 1) * chroma;
  const size_t n = plane == 0 ? luma : chroma;
  double sq = 0;
  for (size_t i = begin; i < begin + n; ++i) {
    const double d = static_cast<double>(a.yuv[i]) - b.yuv[i];
    sq += d * d;
  }
  if (sq == 0) return 100;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sq);
}

// Every plane of every frame within its bound of the reference decoder's.
void ExpectPlanesMatch(const Frame& ours, const Frame& ref, const std::string& what) {
  EXPECT_GE(PlanePsnr(ours, ref, 0), kMinLumaPsnr) << what << " luma";
  EXPECT_GE(PlanePsnr(ours, ref, 1), kMinChromaPsnr) << what << " Cb";
  EXPECT_GE(PlanePsnr(ours, ref, 2), kMinChromaPsnr) << what << " Cr";
}

struct FixtureCase {
  const char* name;
  int width, height;
};

class H263FixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(H263FixtureTest, MatchesTheReferenceDecoder) {
  const FixtureCase& c = GetParam();
  const std::string path = ovtest::FixturePath(c.name);
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<Frame> ref = ReadReference(path + ".ref.yuv", c.width, c.height);
  ASSERT_FALSE(ref.empty());
  const std::vector<uint8_t> stream = ovtest::ReadFileBytes(path);
  // Reference kernels and the machine's best, one picture per sample.
  for (uint32_t mask : {0u, ~0u}) {
    ov::SetCpuFlagsMask(mask);
    std::vector<int> damaged;
    const std::vector<Frame> ours = DecodeSamples(SplitPictures(stream), c.width, c.height, &damaged);
    ASSERT_EQ(ours.size(), ref.size()) << "cpu mask " << mask;
    for (size_t i = 0; i < ours.size(); ++i) {
      ExpectPlanesMatch(ours[i], ref[i], "frame " + std::to_string(i) + " cpu mask " + std::to_string(mask));
      EXPECT_EQ(damaged[i], 0) << "frame " << i;
    }
  }
  ov::SetCpuFlagsMask(~0u);
  // The whole stream as one sample decodes to the same pictures.
  const std::vector<Frame> whole = DecodeSamples({stream}, c.width, c.height);
  const std::vector<Frame> split = DecodeSamples(SplitPictures(stream), c.width, c.height);
  ASSERT_EQ(whole.size(), split.size());
  for (size_t i = 0; i < whole.size(); ++i) EXPECT_EQ(whole[i].yuv, split[i].yuv) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, H263FixtureTest,
                         ::testing::Values(FixtureCase{"h263_sqcif.263", 128, 96},
                                           FixtureCase{"h263_qcif.263", 176, 144},
                                           FixtureCase{"h263_cif.263", 352, 288},
                                           FixtureCase{"h263_qcif_gob.263", 176, 144},
                                           FixtureCase{"h263_cif_gob.263", 352, 288},
                                           FixtureCase{"h263_qcif_q1.263", 176, 144},
                                           FixtureCase{"h263p_custom.263", 180, 148},
                                           FixtureCase{"h263p_dijt.263", 176, 144},
                                           FixtureCase{"h263p_dijt_q1.263", 176, 144},
                                           FixtureCase{"h263p_k.263", 176, 144},
                                           FixtureCase{"h263p_t_q12.263", 176, 144},
                                           FixtureCase{"h263p_umv_pan.263", 352, 288}),
                         [](const ::testing::TestParamInfo<FixtureCase>& param_info) {
                           std::string n = param_info.param.name;
                           return n.substr(0, n.find('.'));
                         });

TEST(H263DecoderTest, DecodeFrameOutGivesTheSamePictures) {
  const std::string path = ovtest::FixturePath("h263p_dijt.263");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> stream = ovtest::ReadFileBytes(path);
  const std::vector<Frame> expected = DecodeSamples(SplitPictures(stream), 176, 144);
  VideoDecoder* dec = nullptr;
  ASSERT_EQ(gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), VDEC_OK);
  std::vector<uint8_t> planes(176 * 144 * 3 / 2);
  std::vector<Frame> frames;
  uint32_t offset = 0;
  while (offset < stream.size()) {
    DecodedPicture out{planes.data(), planes.data() + 176 * 144, planes.data() + 176 * 144 * 5 / 4, 0, 0, 0};
    uint32_t length = static_cast<uint32_t>(stream.size() - offset);
    ASSERT_EQ(dec->DecodeFrameOut(dec, stream.data() + offset, &length, &out), VDEC_OK);
    ASSERT_GT(length, 0u);
    offset += length;
    EXPECT_EQ(out.width, 176);
    EXPECT_EQ(out.height, 144);
    AppendCropped(out, 176, 144, &frames);
    // Time stamps in ms from the temporal references, which count 1001/30000 s
    // and here step by one per picture.
    EXPECT_EQ(out.time, (frames.size() - 1) * 1001 / 30) << frames.size();
  }
  dec->DestroyDecoder(dec);
  ASSERT_EQ(frames.size(), expected.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].yuv, expected[i].yuv) << i;
}

// ---------------------------------------------------------------------------
// Hand-made streams.

class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
  }
  void Put(const char* code) {
    for (const char* p = code; *p; ++p) PutBit(*p == '1');
  }
  void Align() {
    while (count_ % 8) PutBit(0);
  }
  std::vector<uint8_t> Bytes() {
    Align();
    return bytes_;
  }

 private:
  void PutBit(uint32_t b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (count_ % 8));
    ++count_;
  }
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;
};

// Baseline picture header: PSC, TR, PTYPE (format, coding type, option bits),
// PQUANT, CPM 0, PEI 0.
void BaselineHeader(BitWriter& w, int tr, int format, int inter, int quant, uint32_t options = 0) {
  w.Put(0x20, 22);
  w.Put(static_cast<uint32_t>(tr), 8);
  w.Put(0x80 | static_cast<uint32_t>(format), 8);  // 1, 0, split, camera, freeze, format
  w.Put(static_cast<uint32_t>(inter), 1);
  w.Put(options, 4);  // Annexes D, E, F, G
  w.Put(static_cast<uint32_t>(quant), 5);
  w.Put(0, 1);  // CPM
  w.Put(0, 1);  // PEI
}

// A sub-QCIF intra picture (48 macroblocks, no GOB headers) whose blocks are
// flat at INTRADC `dc` (255 stands for 128); `bad_mb` gets DC 128 in block 0.
std::vector<uint8_t> FlatIntraPicture(int dc, int bad_mb = -1, int tr = 0) {
  BitWriter w;
  BaselineHeader(w, tr, 1, 0, 10);
  for (int mb = 0; mb < 48; ++mb) {
    w.Put("1");     // MCBPC: INTRA, CBPC 00
    w.Put("0011");  // CBPY 0000
    for (int b = 0; b < 6; ++b) w.Put(static_cast<uint32_t>(mb == bad_mb && b == 0 ? 128 : dc), 8);
  }
  return w.Bytes();
}

// A sub-QCIF P picture of not-coded macroblocks.
std::vector<uint8_t> SkippedInterPicture(int tr) {
  BitWriter w;
  BaselineHeader(w, tr, 1, 1, 10);
  for (int mb = 0; mb < 48; ++mb) w.Put("1");  // COD
  return w.Bytes();
}

struct Decoder {
  Decoder() { EXPECT_EQ(gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), VDEC_OK); }
  ~Decoder() {
    if (dec) dec->DestroyDecoder(dec);
  }
  int32_t Decode(const std::vector<uint8_t>& bytes, uint32_t* consumed = nullptr) {
    std::vector<uint8_t> copy(bytes);
    uint32_t length = static_cast<uint32_t>(copy.size());
    const int32_t r = dec->DecodeFrame(dec, copy.data(), &length);
    if (consumed) *consumed = length;
    return r;
  }
  DecodedPicture* Finish() {
    DecodedPicture* pic = nullptr;
    EXPECT_EQ(dec->GetDecoderParam(dec, VDEC_PARAM_FINISH_PICTURE, &pic), VDEC_OK);
    return pic;
  }
  int32_t Get(uint32_t id) {
    int32_t v = -99;
    const int32_t r = dec->GetDecoderParam(dec, id, &v);
    return r == VDEC_OK ? v : r;
  }
  VideoDecoder* dec = nullptr;
};

TEST(H263DecoderTest, CallsWithBadArgumentsAndParameters) {
  Decoder d;
  uint8_t byte = 0;
  uint32_t length = 0;
  EXPECT_EQ(d.dec->DecodeFrame(d.dec, &byte, &length), VDEC_EMPTY_INPUT);
  EXPECT_EQ(length, 0u);
  length = 1;
  EXPECT_EQ(d.dec->DecodeFrame(d.dec, nullptr, &length), VDEC_ERR_ARGUMENT);
  EXPECT_EQ(d.dec->DecodeFrame(d.dec, &byte, nullptr), VDEC_ERR_ARGUMENT);
  EXPECT_EQ(d.dec->DecodeFrame(nullptr, &byte, &length), VDEC_ERR_ARGUMENT);
  length = 0;
  EXPECT_EQ(d.dec->DecodeFrameOut(d.dec, &byte, &length, nullptr), VDEC_EMPTY_INPUT);
  EXPECT_EQ(d.dec->SetDecoderParam(d.dec, VDEC_PARAM_DECODE_VARIANT, 1), VDEC_OK);
  EXPECT_EQ(d.dec->SetDecoderParam(d.dec, 7, 1), VDEC_ERR_STREAM);
  EXPECT_EQ(d.dec->SetDecoderParam(d.dec, VDEC_PARAM_POSTFILTER_LEVEL, 2), VDEC_OK);
  EXPECT_EQ(d.Get(VDEC_PARAM_POSTFILTER_LEVEL), 2);
  EXPECT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_POSTFILTER_LEVEL, nullptr), VDEC_ERR_ARGUMENT);
  EXPECT_EQ(d.Get(4), VDEC_ERR_STREAM);
  EXPECT_EQ(d.Get(10), VDEC_ERR_STREAM);
  EXPECT_EQ(d.dec->ResetDecoder, nullptr);
  EXPECT_EQ(d.dec->DestroyDecoder(nullptr), VDEC_ERR_ARGUMENT);
}

TEST(H263DecoderTest, NoPictureYetHandsOutNothing) {
  // Before any picture: the picture queries fail and give no pointer, and the
  // queries about the last picture's size fail rather than divide by zero.
  Decoder d;
  DecodedPicture* pic = reinterpret_cast<DecodedPicture*>(0x1);
  EXPECT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_FINISH_PICTURE, &pic), VDEC_ERR_STREAM);
  EXPECT_EQ(pic, nullptr);
  std::vector<uint8_t> planes(128 * 96 * 3 / 2);
  DecodedPicture copy{planes.data(), planes.data() + 128 * 96, planes.data() + 128 * 96 * 5 / 4, 0, 0, 0};
  EXPECT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_FINISH_PICTURE_COPY, &copy), VDEC_ERR_STREAM);
  EXPECT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_COPY_PICTURE, &copy), VDEC_ERR_STREAM);
  EXPECT_EQ(d.Get(VDEC_PARAM_DAMAGED_PERCENT), VDEC_ERR_STREAM);
  EXPECT_EQ(d.Get(VDEC_PARAM_FRAME_ACTIVITY), VDEC_ERR_STREAM);
  uint8_t map[16];
  EXPECT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_DAMAGED_MAP, map), VDEC_ERR_STREAM);
  // Likewise for a decoder that knows its size from the factory.
  VideoDecoder* sized = nullptr;
  ASSERT_EQ(gCreateH263VideoDecoder(&sized, nullptr, 0, 0, 176, 144), VDEC_OK);
  pic = reinterpret_cast<DecodedPicture*>(0x1);
  EXPECT_EQ(sized->GetDecoderParam(sized, VDEC_PARAM_FINISH_PICTURE, &pic), VDEC_ERR_STREAM);
  EXPECT_EQ(pic, nullptr);
  sized->DestroyDecoder(sized);
}

TEST(H263DecoderTest, IntraDcReconstructionAndDamage) {
  {
    // INTRADC 255 reconstructs to 1024: every sample 128.
    Decoder d;
    EXPECT_EQ(d.Decode(FlatIntraPicture(255)), VDEC_OK);
    const DecodedPicture* pic = d.Finish();
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(pic->width, 128);
    EXPECT_EQ(pic->height, 96);
    for (int i = 0; i < 128 * 96; ++i) ASSERT_EQ(pic->y[i], 128);
    EXPECT_EQ(d.Get(VDEC_PARAM_DAMAGED_PERCENT), 0);
    EXPECT_EQ(d.Get(VDEC_PARAM_PICTURE_TYPE), 0);
    EXPECT_EQ(d.Get(VDEC_PARAM_FRAME_ACTIVITY), 0);
  }
  {
    // INTRADC 128 is not a code: macroblock 40 and the rest of the picture
    // (no GOB headers to resynchronise at) are damaged and concealed.
    Decoder d;
    EXPECT_EQ(d.Decode(FlatIntraPicture(100, 40)), VDEC_OK);
    const DecodedPicture* pic = d.Finish();
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(d.Get(VDEC_PARAM_DAMAGED_PERCENT), 8 * 100 / 48);
    uint8_t map[7];
    std::fill(map, map + 7, 0x55);
    ASSERT_EQ(d.dec->GetDecoderParam(d.dec, VDEC_PARAM_DAMAGED_MAP, map), VDEC_OK);
    const uint8_t expected[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF};  // 48 = 6 x 8, then 0xFF
    for (int i = 0; i < 7; ++i) EXPECT_EQ(map[i], expected[i]) << i;
    // Concealed spatially from the decoded rows above: flat 100 x 8 / 8.
    EXPECT_EQ(pic->y[95 * 128 + 127], 100);
  }
}

TEST(H263DecoderTest, FirstPictureInterIsRefusedUntilAnIntraPicture) {
  Decoder d;
  EXPECT_EQ(d.Decode(SkippedInterPicture(1)), VDEC_ERR_STREAM);
  EXPECT_EQ(d.Decode(SkippedInterPicture(2)), VDEC_ERR_STREAM);
  EXPECT_EQ(d.Decode(FlatIntraPicture(60, -1, 3)), VDEC_OK);
  ASSERT_NE(d.Finish(), nullptr);
  EXPECT_EQ(d.Decode(SkippedInterPicture(4)), VDEC_OK);
  const DecodedPicture* pic = d.Finish();
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->y[0], 60);  // copied from the reference
  EXPECT_EQ(d.Get(VDEC_PARAM_PICTURE_TYPE), 1);
  EXPECT_EQ(pic->time, 4u * 1001 / 30);
}

TEST(H263DecoderTest, TwoPicturesInOneSample) {
  Decoder d;
  std::vector<uint8_t> sample = FlatIntraPicture(40, -1, 0);
  const size_t first = sample.size();
  const std::vector<uint8_t> second = FlatIntraPicture(200, -1, 1);
  sample.insert(sample.end(), second.begin(), second.end());
  uint32_t consumed = 0;
  EXPECT_EQ(d.Decode(sample, &consumed), VDEC_NEXT_PICTURE);
  EXPECT_EQ(consumed, first);
  // Calling again at the start code before fetching: nothing consumed.
  const std::vector<uint8_t> rest(sample.begin() + static_cast<ptrdiff_t>(first), sample.end());
  EXPECT_EQ(d.Decode(rest, &consumed), VDEC_PICTURE_OPEN);
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(d.Finish()->y[0], 40);
  EXPECT_EQ(d.Decode(rest, &consumed), VDEC_OK);
  EXPECT_EQ(consumed, rest.size());
  EXPECT_EQ(d.Finish()->y[0], 200);
}

TEST(H263DecoderTest, RefusedHeaders) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  {
    BitWriter w;
    BaselineHeader(w, 0, 6, 0, 10);  // source format 6 in PTYPE
    cases.push_back({"baseline format 6", w.Bytes()});
  }
  for (uint32_t option : {4u, 2u, 1u}) {  // Annexes E (arithmetic coding), F, G (PB-frames)
    BitWriter w;
    BaselineHeader(w, 0, 2, 0, 10, option);
    cases.push_back({"baseline option", w.Bytes()});
  }
  {
    BitWriter w;
    BaselineHeader(w, 0, 2, 0, 0);  // PQUANT 0
    cases.push_back({"pquant 0", w.Bytes()});
  }
  // PLUSPTYPE: OPPTYPE with a wrong tail, and with Annexes E, F, N, R, S set;
  // MPPTYPE with Annexes P, Q or a B picture type.
  auto plus = [](uint32_t opptype, uint32_t mpptype) {
    BitWriter w;
    w.Put(0x20, 22);
    w.Put(0, 8);
    w.Put(0x87, 8);  // format 7: extended
    w.Put(1, 3);     // UFEP
    w.Put(opptype, 18);
    w.Put(mpptype, 9);
    w.Put(0, 1);  // CPM
    w.Put(10, 5);
    w.Put(0, 1);
    return w.Bytes();
  };
  const uint32_t qcif = 2u << 15;
  cases.push_back({"opptype tail", plus(qcif | 0x9, 0x001)});
  for (int bit : {12, 11, 7, 6, 5}) cases.push_back({"opptype annex", plus(qcif | (1u << bit) | 0x8, 0x001)});
  cases.push_back({"mpptype rpr", plus(qcif | 0x8, 0x021)});
  cases.push_back({"mpptype rru", plus(qcif | 0x8, 0x011)});
  cases.push_back({"mpptype B", plus(qcif | 0x8, 0x081)});
  cases.push_back({"mpptype tail", plus(qcif | 0x8, 0x000)});
  for (const Case& c : cases) {
    Decoder d;
    EXPECT_EQ(d.Decode(c.bytes), VDEC_ERR_STREAM) << c.what;
    VideoDecoder* created = reinterpret_cast<VideoDecoder*>(0x1);
    EXPECT_EQ(gCreateH263VideoDecoder(&created, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), 0, 0, 0),
              VDEC_ERR_STREAM)
        << c.what;
    EXPECT_EQ(created, nullptr);
  }
  // The same extended header without a forbidden option is accepted.
  Decoder d;
  EXPECT_EQ(d.Decode(plus(qcif | 0x8, 0x001)), VDEC_OK);
}

TEST(H263DecoderTest, SizeChangeAndCustomFormat) {
  Decoder d;
  EXPECT_EQ(d.Decode(FlatIntraPicture(90)), VDEC_OK);
  d.Finish();
  BitWriter w;
  BaselineHeader(w, 1, 2, 0, 10);  // QCIF after sub-QCIF
  EXPECT_EQ(d.Decode(w.Bytes()), VDEC_SIZE_CHANGED);

  // Custom format 180 x 148: coded 192 x 160.
  BitWriter c;
  c.Put(0x20, 22);
  c.Put(0, 8);
  c.Put(0x87, 8);
  c.Put(1, 3);
  c.Put((6u << 15) | 0x8, 18);  // custom format
  c.Put(0x001, 9);              // I picture
  c.Put(0, 1);                  // CPM
  c.Put(2, 4);                  // pixel aspect ratio 12:11
  c.Put(180 / 4 - 1, 9);
  c.Put(1, 1);
  c.Put(148 / 4, 9);
  c.Put(10, 5);
  c.Put(0, 1);
  const std::vector<uint8_t> header = c.Bytes();
  VideoDecoder* dec = nullptr;
  ASSERT_EQ(gCreateH263VideoDecoder(&dec, header.data(), static_cast<uint32_t>(header.size()), 0, 0, 0), VDEC_OK);
  const H263Decoder* h = static_cast<const H263Decoder*>(dec);
  EXPECT_EQ(h->display_width, 180);
  EXPECT_EQ(h->display_height, 148);
  EXPECT_EQ(h->cur.width, 192);
  EXPECT_EQ(h->cur.height, 160);
  dec->DestroyDecoder(dec);
  // A truncated header: the object is kept for the caller to destroy.
  dec = nullptr;
  EXPECT_EQ(gCreateH263VideoDecoder(&dec, header.data(), 5, 0, 0, 0), VDEC_INPUT_EXHAUSTED);
  ASSERT_NE(dec, nullptr);
  dec->DestroyDecoder(dec);
  // Sizes beyond the limit are refused before anything is allocated.
  dec = reinterpret_cast<VideoDecoder*>(0x1);
  EXPECT_EQ(gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 4096, 4096), VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec, nullptr);
  EXPECT_EQ(gCreateH263VideoDecoder(nullptr, nullptr, 0, 0, 0, 0), VDEC_ERR_ARGUMENT);
}

TEST(H263DecoderTest, LargeLevelsAreClippedBeforePrescaling) {
  // An intra macroblock at QUANT 31 whose block 0 carries the escaped level
  // 127 at (0, 1): |REC| = 31 x 255 = 7905 must be clipped to 2047, not wrap
  // in the 16-bit prescaled coefficient.
  BitWriter w;
  BaselineHeader(w, 0, 1, 0, 31);
  for (int mb = 0; mb < 48; ++mb) {
    w.Put("1");
    w.Put(mb == 0 ? "00010" : "0011");  // CBPY 1000: block 0 coded
    for (int b = 0; b < 6; ++b) {
      w.Put(64, 8);  // INTRADC: REC 512
      if (mb == 0 && b == 0) {
        w.Put("0000011");  // escape
        w.Put(1, 1);       // LAST
        w.Put(0, 6);       // RUN
        w.Put(127, 8);     // LEVEL
      }
    }
  }
  Decoder d;
  EXPECT_EQ(d.Decode(w.Bytes()), VDEC_OK);
  const DecodedPicture* pic = d.Finish();
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(d.Get(VDEC_PARAM_DAMAGED_PERCENT), 0);
  IdctDsp dsp;
  init_idct_dsp(dsp, 0);
  int16_t block[64] = {};
  block[0] = 512 * 8;
  block[1] = static_cast<int16_t>((2047 * kIdctScale[1]) >> 12);
  uint8_t expected[64];
  dsp.idct_put(expected, 8, block);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) EXPECT_EQ(pic->y[r * 128 + c], expected[r * 8 + c]) << r << "," << c;
}

// Removes GOBs first..last of a QCIF stream with GOB headers (each GOB begins
// at a byte-aligned group start code).
std::vector<uint8_t> DropGobs(const std::vector<uint8_t>& picture, int first, int last) {
  auto gob_start = [&](int gn) -> size_t {
    for (size_t i = 0; i + 3 <= picture.size(); ++i)
      if (picture[i] == 0 && picture[i + 1] == 0 && (picture[i + 2] >> 7) == 1 && ((picture[i + 2] >> 2) & 31) == gn)
        return i;
    return std::string::npos;
  };
  const size_t a = gob_start(first);
  const size_t b = gob_start(last + 1);
  if (a == std::string::npos || b == std::string::npos) return {};
  std::vector<uint8_t> out(picture.begin(), picture.begin() + static_cast<ptrdiff_t>(a));
  out.insert(out.end(), picture.begin() + static_cast<ptrdiff_t>(b), picture.end());
  return out;
}

TEST(H263DecoderTest, MissingGobsAreConcealedAndCounted) {
  const std::string path = ovtest::FixturePath("h263_qcif_gob.263");
  OV_SKIP_WITHOUT_FIXTURE(path);
  std::vector<std::vector<uint8_t>> samples = SplitPictures(ovtest::ReadFileBytes(path));
  ASSERT_GE(samples.size(), 6u);
  const std::vector<Frame> clean = DecodeSamples(samples, 176, 144);
  // Every GOB of this stream carries a header; drop GOBs 4 and 5 of pictures
  // 0 (intra: spatial concealment) and 5 (inter: temporal).
  for (size_t p : {size_t{0}, size_t{5}}) {
    samples[p] = DropGobs(samples[p], 4, 5);
    ASSERT_FALSE(samples[p].empty()) << "no GOB headers in picture " << p;
  }
  std::vector<int> damaged;
  const std::vector<Frame> ours = DecodeSamples(samples, 176, 144, &damaged);
  ASSERT_EQ(ours.size(), clean.size());
  EXPECT_EQ(damaged[0], 22);  // 2 x 11 of 99 macroblocks
  EXPECT_EQ(damaged[5], 22);
  EXPECT_EQ(damaged[1], 0);
  // Concealed, not garbage: still close to the clean decode in every plane
  // (measured: luma 25.0 and 26.2 dB, Cb 23.1 and 24.5, Cr 17.5 and 18.4).
  EXPECT_GT(PlanePsnr(ours[0], clean[0], 0), 15.0);
  EXPECT_GT(PlanePsnr(ours[5], clean[5], 0), 20.0);
  for (int plane : {1, 2}) {
    EXPECT_GT(PlanePsnr(ours[0], clean[0], plane), 15.0) << "plane " << plane;
    EXPECT_GT(PlanePsnr(ours[5], clean[5], plane), 15.0) << "plane " << plane;
  }
}

TEST(H263DecoderTest, TruncatedAndCorruptedStreamsDecodeWithoutFaults) {
  const std::string path = ovtest::FixturePath("h263p_dijt.263");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> stream = ovtest::ReadFileBytes(path);
  const unsigned seed = 263;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  for (int round = 0; round < 12; ++round) {
    std::vector<std::vector<uint8_t>> samples = SplitPictures(stream);
    for (auto& s : samples) {
      if (s.size() < 8) continue;
      if (round % 2) {
        s.resize(4 + rng() % (s.size() - 4));  // truncated sample
      } else {
        for (int k = 0; k < 3; ++k) s[rng() % s.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
    }
    std::vector<int> damaged;
    const std::vector<Frame> frames = DecodeSamples(samples, 176, 144, &damaged);
    EXPECT_FALSE(frames.empty());
    for (int v : damaged) EXPECT_TRUE(v >= 0 && v <= 100);
  }
}

// Concealment of an inter picture after an intra one: the vector comes from
// the available neighbours alone. Macroblock (2, 2) of a 96 x 80 picture is
// damaged; `available` lists which of its six neighbours were decoded, each
// carrying a distinct vector in every block slot, so the result names the
// neighbour and block it came from. The current picture is flat 100, the
// reference flat 50.
enum Neighbour { kAbove, kBelow, kAboveLeft, kAboveRight, kBelowLeft, kBelowRight };

MotionVector NeighbourVector(int n, int block) {
  return MotionVector{static_cast<int16_t>(5 * block + n - 8), static_cast<int16_t>(n - 3)};
}

struct Concealed {
  MotionVector mv;  // as recorded for the damaged macroblock; (99, 99) when none was used
  uint8_t sample;   // inside its block 0
};

// `adjust` may change a neighbour's record after its vectors are set.
Concealed ConcealFromNeighbours(std::initializer_list<Neighbour> available,
                                const std::function<void(Neighbour, H263Macroblock&)>& adjust = nullptr) {
  VideoDecoder* vd = nullptr;
  EXPECT_EQ(gCreateH263VideoDecoder(&vd, nullptr, 0, 0, 96, 80), VDEC_OK);
  H263Decoder* d = static_cast<H263Decoder*>(vd);
  std::fill(d->cur.y, d->cur.y + 96 * 80, uint8_t{100});
  std::fill(d->ref.y, d->ref.y + 96 * 80, uint8_t{50});
  d->ps.picture_type = 1;
  d->have_reference = true;
  d->last_finished_inter = false;
  for (int i = 0; i < d->mb_count; ++i) {
    d->cur_mbs[i].status = kMbDamaged;
    d->ref_mbs[i].status = kMbDecoded;
    d->ref_mbs[i].type = kMbInter;
  }
  const int cols = d->mb_cols;
  const int offsets[6][2] = {{0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  for (Neighbour n : available) {
    H263Macroblock& m = d->cur_mbs[(2 + offsets[n][1]) * cols + 2 + offsets[n][0]];
    m.status = kMbDecoded;
    for (int b = 0; b < 4; ++b) m.mv[b] = NeighbourVector(n, b);
    if (adjust) adjust(n, m);
  }
  H263Macroblock& target = d->cur_mbs[2 * cols + 2];
  for (auto& v : target.mv) v = MotionVector{99, 99};
  ConcealH263Macroblocks(d);
  const Concealed out{target.mv[0], d->cur.y[(2 * 16 + 4) * 96 + 2 * 16 + 4]};
  vd->DestroyDecoder(vd);
  return out;
}

MotionVector Median3Of(MotionVector a, MotionVector b, MotionVector c) {
  return MotionVector{static_cast<int16_t>(Median3(a.x, b.x, c.x)), static_cast<int16_t>(Median3(a.y, b.y, c.y))};
}

TEST(H263DecoderTest, ConcealmentAfterAnIntraPictureTakesNeighbourVectors) {
  auto expect_vector = [](const Concealed& c, MotionVector v, const char* what) {
    EXPECT_EQ(c.mv.x, v.x) << what;
    EXPECT_EQ(c.mv.y, v.y) << what;
    EXPECT_EQ(c.sample, 50) << what;  // predicted from the flat reference
  };
  // Above only: its lower-left block; with both upper diagonals the median of
  // it, the upper-left's lower-right and the upper-right's lower-left blocks.
  expect_vector(ConcealFromNeighbours({kAbove, kAboveLeft}), NeighbourVector(kAbove, 2), "above");
  expect_vector(ConcealFromNeighbours({kAbove, kAboveLeft, kAboveRight}),
                Median3Of(NeighbourVector(kAbove, 2), NeighbourVector(kAboveLeft, 3),
                          NeighbourVector(kAboveRight, 2)),
                "above with both diagonals");
  // Above and below: the mean of above's lower-left and below's upper-right
  // blocks, each component shifted right by one.
  const MotionVector a = NeighbourVector(kAbove, 2), b = NeighbourVector(kBelow, 1);
  expect_vector(ConcealFromNeighbours({kAbove, kBelow}),
                MotionVector{static_cast<int16_t>((a.x + b.x) >> 1), static_cast<int16_t>((a.y + b.y) >> 1)},
                "above and below");
  // Below only: its upper-right block, or the median with the lower-left's
  // upper-right and the lower-right's upper-left blocks.
  expect_vector(ConcealFromNeighbours({kBelow, kBelowRight}), NeighbourVector(kBelow, 1), "below");
  expect_vector(ConcealFromNeighbours({kBelow, kBelowLeft, kBelowRight}),
                Median3Of(NeighbourVector(kBelow, 1), NeighbourVector(kBelowLeft, 1),
                          NeighbourVector(kBelowRight, 0)),
                "below with both diagonals");
  // Neither: the first available of upper-left, lower-right, upper-right,
  // lower-left.
  expect_vector(ConcealFromNeighbours({kAboveRight, kBelowLeft}), NeighbourVector(kAboveRight, 2), "diagonals");
  expect_vector(ConcealFromNeighbours({kBelowLeft, kBelowRight}), NeighbourVector(kBelowRight, 0), "lower diagonals");
  // None at all: a copy of the co-located reference macroblock.
  const Concealed none = ConcealFromNeighbours({});
  EXPECT_EQ(none.mv.x, 99);
  EXPECT_EQ(none.sample, 50);
  // Below only, its lower-left block beyond 20 half samples: spatial, from the
  // picture around it.
  const Concealed untrusted =
      ConcealFromNeighbours({kBelow}, [](Neighbour, H263Macroblock& m) { m.mv[2].x = 24; });
  EXPECT_EQ(untrusted.mv.x, 99);
  EXPECT_EQ(untrusted.sample, 100);
}

// A damaged macroblock whose only available neighbour is the one above, with
// the given vector in every block: concealed temporally or spatially.
uint8_t ConcealWithAboveVector(int16_t mvx) {
  return ConcealFromNeighbours({kAbove}, [mvx](Neighbour, H263Macroblock& m) {
           for (auto& v : m.mv) v = MotionVector{mvx, 0};
         }).sample;
}

TEST(H263DecoderTest, UntrustedVectorsConcealSpatially) {
  // A vector of 24 half samples is not trusted: the macroblock is rebuilt
  // from the picture around it (100), not from the reference (50).
  EXPECT_EQ(ConcealWithAboveVector(24), 100);
  // A vector of 10 is used: motion-compensated from the flat reference.
  EXPECT_EQ(ConcealWithAboveVector(10), 50);
}

// Annex J: the edge between two macroblock rows is filtered with the QUANT of
// the macroblock below when that one is coded, else with the upper one's. The
// upper row is flat 100 with QUANT 2 (STRENGTH 1), the lower flat 116 with
// QUANT 31 (STRENGTH 12): d = (100 - 400 + 464 - 116) / 8 = 6.
TEST(H263DecoderTest, DeblockingTakesTheQuantOfTheCodedMacroblockBelow) {
  for (const bool below_coded : {true, false}) {
    constexpr int kW = 32, kH = 32;
    std::vector<uint8_t> planes(kW * kH * 3 / 2, 0);
    DecodedPicture pic{planes.data(), planes.data() + kW * kH, planes.data() + kW * kH * 5 / 4, kW, kH, 0};
    for (int r = 0; r < kH; ++r) std::fill(pic.y + r * kW, pic.y + (r + 1) * kW, uint8_t(r < 16 ? 100 : 116));
    H263Macroblock mbs[4] = {};
    for (int i = 0; i < 4; ++i) {
      mbs[i].status = i < 2 || below_coded ? kMbDecoded : kMbNotCoded;
      mbs[i].quant = i < 2 ? 2 : 31;
    }
    DeblockDsp dsp;
    init_deblock_dsp(dsp, 0);
    DeblockH263Picture(dsp, pic, mbs, 2, 2, false);
    // STRENGTH 12: d1 = 6, B' = 106, C' = 110, d2 = -4 limited to -3. STRENGTH
    // 1: |d| >= 2, nothing changes.
    const uint8_t expected[4] = {static_cast<uint8_t>(below_coded ? 103 : 100),
                                 static_cast<uint8_t>(below_coded ? 106 : 100),
                                 static_cast<uint8_t>(below_coded ? 110 : 116),
                                 static_cast<uint8_t>(below_coded ? 113 : 116)};
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < kW; ++c)
        ASSERT_EQ(pic.y[(14 + k) * kW + c], expected[k]) << "below coded " << below_coded << " row " << 14 + k;
  }
}

// Annex D in a baseline picture header: a vector reaches -63..63 half samples
// around its predictor instead of wrapping into -32..31. Sub-QCIF: macroblock
// 0 moves by 30 half samples, macroblock 1 by 20 more from that predictor.
TEST(H263DecoderTest, UnrestrictedVectorsReachBeyondTheBaselineRange) {
  auto mvd = [](int value) {
    for (int i = 0; i < kH263MvdCount; ++i)
      if (kH263Mvd[i].value == value) return std::string(kH263Mvd[i].bits) + (value ? "0" : "");
    return std::string();
  };
  for (const bool annex_d : {true, false}) {
    Decoder d;
    ASSERT_EQ(d.Decode(FlatIntraPicture(100)), VDEC_OK);
    ASSERT_NE(d.Finish(), nullptr);
    BitWriter w;
    BaselineHeader(w, 1, 1, 1, 10, annex_d ? 0x8 : 0);
    for (const int dx : {30, 20}) {
      w.Put("0");   // COD
      w.Put("1");   // MCBPC: INTER, CBPC 00
      w.Put("11");  // CBPY: no coded block
      w.Put(mvd(dx).c_str());
      w.Put(mvd(0).c_str());
    }
    for (int mb = 2; mb < 48; ++mb) w.Put("1");  // COD
    ASSERT_EQ(d.Decode(w.Bytes()), VDEC_OK);
    ASSERT_NE(d.Finish(), nullptr);
    const H263Decoder* h = static_cast<const H263Decoder*>(d.dec);
    EXPECT_EQ(h->ref_mbs[0].mv[0].x, 30);
    EXPECT_EQ(h->ref_mbs[1].mv[0].x, annex_d ? 50 : -14) << "Annex D " << annex_d;
  }
}

TEST(H263DecoderTest, ModifiedQuantisationDquant) {
  // Annex T.2: a sub-QCIF extended-header intra picture whose first macroblock
  // is INTRA+Q with the given DQUANT bits; the rest plain INTRA.
  struct Case {
    int pquant;
    const char* dquant;
    int expected;  // 0: refused, the macroblock is damaged
  };
  const Case cases[] = {{31, "11", 26}, {31, "10", 28}, {1, "10", 3}, {10, "11", 11},
                        {20, "10", 18}, {29, "11", 31}, {5, "001100", 12}, {5, "000000", 0}};
  for (const Case& c : cases) {
    BitWriter w;
    w.Put(0x20, 22);
    w.Put(0, 8);
    w.Put(0x87, 8);                   // extended PTYPE
    w.Put(1, 3);                      // UFEP
    w.Put((1u << 15) | (1u << 4) | 0x8, 18);  // sub-QCIF, Annex T
    w.Put(0x001, 9);                  // I picture
    w.Put(0, 1);                      // CPM
    w.Put(static_cast<uint32_t>(c.pquant), 5);
    w.Put(0, 1);                      // PEI
    for (int mb = 0; mb < 48; ++mb) {
      w.Put(mb == 0 ? "0001" : "1");  // INTRA+Q or INTRA, CBPC 00
      w.Put("0011");                   // CBPY 0000
      if (mb == 0) w.Put(c.dquant);
      for (int b = 0; b < 6; ++b) w.Put(100, 8);
    }
    Decoder d;
    EXPECT_EQ(d.Decode(w.Bytes()), VDEC_OK);
    ASSERT_NE(d.Finish(), nullptr);
    const H263Decoder* h = static_cast<const H263Decoder*>(d.dec);
    if (c.expected) {
      EXPECT_EQ(h->ref_mbs[0].status, kMbDecoded) << c.pquant << " " << c.dquant;
      EXPECT_EQ(h->ref_mbs[0].quant, c.expected) << c.pquant << " " << c.dquant;
      EXPECT_EQ(h->ref_mbs[47].quant, c.expected);  // it stays in force
    } else {
      EXPECT_EQ(h->ref_mbs[0].status, kMbDamaged) << c.dquant;
    }
  }
}

TEST(H263DecoderTest, DeblockingFilterLine) {
  // QUANT 10, STRENGTH 5: d = 6, d1 = 4, d2 = -4 limited to -2.
  uint8_t line[4] = {100, 100, 116, 116};
  DeblockH263Line(line + 2, 1, 5);
  EXPECT_EQ(line[0], 102);
  EXPECT_EQ(line[1], 104);
  EXPECT_EQ(line[2], 112);
  EXPECT_EQ(line[3], 114);
  // |d| >= 2 x STRENGTH: unchanged.
  uint8_t sharp[4] = {0, 0, 200, 200};
  DeblockH263Line(sharp + 2, 1, 5);
  EXPECT_EQ(sharp[1], 0);
  EXPECT_EQ(sharp[2], 200);
  EXPECT_EQ(sharp[0], 0);
}

TEST(H263DecoderTest, DeblockingFiltersEdgesWithACodedSide) {
  // Two macroblocks side by side with a step of 6 at their shared edge
  // (QUANT 10, STRENGTH 5): filtered when either side is coded (status 0).
  struct Case {
    uint8_t left, right;
    bool filtered;
  };
  const Case cases[] = {{kMbDecoded, kMbDecoded, true},
                        {kMbNotCoded, kMbDecoded, true},
                        {kMbDecoded, kMbDamaged, true},
                        {kMbNotCoded, kMbNotCoded, false},
                        {kMbNotCoded, kMbDamaged, false}};
  for (const Case& c : cases) {
    std::vector<uint8_t> planes(32 * 16 * 3 / 2, 128);
    const DecodedPicture pic{planes.data(), planes.data() + 32 * 16, planes.data() + 32 * 16 + 128, 32, 16, 0};
    for (int r = 0; r < 16; ++r)
      for (int x = 16; x < 32; ++x) pic.y[r * 32 + x] = 134;
    H263Macroblock mbs[2] = {};
    mbs[0].status = c.left;
    mbs[1].status = c.right;
    mbs[0].quant = mbs[1].quant = 10;
    DeblockDsp dsp;
    init_deblock_dsp(dsp, 0);
    DeblockH263Picture(dsp, pic, mbs, 2, 1, false);
    EXPECT_EQ(pic.y[5 * 32 + 15] != 128, c.filtered) << int(c.left) << "|" << int(c.right);
  }
}

}  // namespace
}  // namespace videodec
