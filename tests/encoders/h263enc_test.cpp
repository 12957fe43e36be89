// h263enc: creation checks, picture and slice headers, the macroblock layer
// with Annexes D and T, the Annex J filter, agreement of its code tables with
// the H.263 decoder's, streams through our decoder, and bad calls.
#include "encoders/h263enc/h263_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "codecs/videodec/h263/h263_tables.h"
#include "encoders/common/vlc_coder.h"
#include "encoders/common/vlc_tables.h"
#include "encoders/h263enc/h263enc.h"
#include "encoders/h263enc/h263enc_tables.h"

namespace venc {
namespace {

// Our decoder's inverse transform is not the encoder's: pictures differ by
// transform rounding only, which stays far above this; a syntax or
// prediction mismatch drops a plane to 20-30 dB at once.
constexpr double kMinDecodePsnr = 45.0;

struct Config {
  int width = 176, height = 144;
  int profile = 0, level = 10, kbps = 64;
  bool umv = false, mq = false, loop = false;
  uint32_t slices = 0;
  int gob = 1, complexity = 2, gop = 45;
  bool sceneChange = false;
  float fps = 15.0f;
  uint32_t timeResolution = 1000;
};

Config Sized(int width, int height, int profile, int level, int kbps) {
  Config s;
  s.width = width;
  s.height = height;
  s.profile = profile;
  s.level = level;
  s.kbps = kbps;
  return s;
}

EncoderCreateParams Params(const Config& s) {
  EncoderCreateParams p{};
  p.height = s.height;
  p.width = s.width;
  p.frameRate = s.fps;
  p.bitRate = s.kbps * 1000;
  p.gopLength = s.gop;
  p.gobHeaderInterval = s.gob;
  p.encodingComplexity = s.complexity;
  p.sceneChangeDetection = s.sceneChange ? 1 : 0;
  p.searchRange = 15;
  H263Words h{};
  h.level = s.level;
  h.timeResolution = s.timeResolution;
  h.packetSize = s.slices;
  h.unrestrictedMv = s.umv;
  h.profile = s.profile;
  h.modifiedQuant = s.mq;
  h.videoTelephony = s.slices != 0;
  h.deblocking = s.loop;
  SetH263Words(p, h);
  return p;
}

struct EncoderPtr {
  VideoEncoder* enc = nullptr;
  ~EncoderPtr() {
    if (enc) enc->DestroyEncoder(enc);
  }
  H263Encoder& state() { return *static_cast<H263Encoder*>(enc); }
};

VideoEncoderResult Create(const Config& s, EncoderPtr& e) {
  const EncoderCreateParams p = Params(s);
  return gCreateH263VideoEncoder(&e.enc, &p);
}

std::string BitString(const uint8_t* data, size_t bits) {
  std::string s;
  for (size_t i = 0; i < bits; ++i) s += ((data[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

std::string Binary(uint32_t v, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((v >> i) & 1) ? '1' : '0';
  return s;
}

// Bits a routine wrote through a plain writer.
template <typename Fn>
std::string Written(Fn fn) {
  uint8_t buf[64] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  fn(w);
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  return BitString(buf, bits);
}

// A moving picture: a smooth gradient with a drifting bright square and a
// little seeded noise, so that pictures have motion, texture and flat parts.
std::vector<uint8_t> SyntheticFrame(int w, int h, int n, uint32_t seed) {
  std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3 / 2);
  std::mt19937 rng(seed + static_cast<uint32_t>(n));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v = (x * 3 + y * 2 + n * 4) & 255;
      if (x >= 10 + 3 * n && x < 40 + 3 * n && y >= 8 + 2 * n && y < 36 + 2 * n) v = 230 - (x & 7) * 9;
      f[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v + static_cast<int>(rng() % 5));
    }
  uint8_t* c = f.data() + static_cast<size_t>(w) * h;
  for (int i = 0; i < w * h / 2; ++i) c[i] = static_cast<uint8_t>(96 + ((i + 5 * n) % 64));
  return f;
}

// The encoder's reconstruction (its reference after a frame), cropped.
std::vector<uint8_t> Reconstruction(H263Encoder& e) {
  const EncoderFrame& f = *e.reference;
  std::vector<uint8_t> out;
  for (int y = 0; y < e.height; ++y) out.insert(out.end(), f.lumaOrigin() + y * f.lumaStride(), f.lumaOrigin() + y * f.lumaStride() + e.width);
  for (const uint8_t* p : {f.uOrigin(), f.vOrigin()})
    for (int y = 0; y < e.height / 2; ++y) out.insert(out.end(), p + y * f.chromaStride(), p + y * f.chromaStride() + e.width / 2);
  return out;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double sse = 0;
  for (size_t i = 0; i < n; ++i) sse += (a[i] - b[i]) * (a[i] - b[i]);
  return sse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sse);
}

// ---------------------------------------------------------------------------
// Creation.

struct CreateCase {
  const char* name;
  int width, height, profile, level;
  float fps;
  int kbps;
  VideoEncoderResult result;
  int sourceFormat;
};

class H263CreateTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(H263CreateTest, ChecksSizeProfileLevelAndRates) {
  const CreateCase& c = GetParam();
  Config s = Sized(c.width, c.height, c.profile, c.level, c.kbps);
  s.fps = c.fps;
  EncoderPtr e;
  ASSERT_EQ(Create(s, e), c.result);
  if (c.result != VENC_OK) {
    EXPECT_EQ(e.enc, nullptr);
    return;
  }
  uint32_t format = 0;
  ASSERT_EQ(e.enc->GetEncoderParam(e.enc, VENC_PARAM_SOURCE_FORMAT, &format), VENC_OK);
  EXPECT_EQ(format, static_cast<uint32_t>(c.sourceFormat));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, H263CreateTest,
    ::testing::Values(CreateCase{"sqcif", 128, 96, 0, 10, 15, 64, VENC_OK, 1},
                      CreateCase{"qcif_profile3", 176, 144, 3, 10, 15, 64, VENC_OK, 2},
                      CreateCase{"cif_level30", 352, 288, 0, 30, 30, 384, VENC_OK, 3},
                      CreateCase{"fourcif_level70", 704, 576, 3, 70, 25, 2000, VENC_OK, 4},
                      CreateCase{"qvga_level50", 320, 240, 0, 50, 15, 256, VENC_OK, 6},
                      CreateCase{"square100_level50", 100, 100, 3, 50, 15, 256, VENC_OK, 6},
                      CreateCase{"wide_level60", 720, 288, 3, 60, 25, 2000, VENC_OK, 6},
                      CreateCase{"width_not_multiple_of_4", 130, 96, 0, 10, 15, 64, VENC_ERR_BAD_SIZE, 0},
                      CreateCase{"custom_height_1156", 1408, 1156, 3, 70, 15, 64, VENC_ERR_BAD_SIZE, 0},
                      CreateCase{"sixteen_cif_above_every_level", 1408, 1152, 3, 70, 15, 64, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"profile_2", 176, 144, 2, 10, 15, 64, VENC_ERR_REJECTED, 0},
                      CreateCase{"rate_zero", 176, 144, 0, 10, 0, 64, VENC_ERR_REJECTED, 0},
                      CreateCase{"rate_negative", 176, 144, 0, 10, -5, 64, VENC_ERR_REJECTED, 0},
                      CreateCase{"rate_above_time_resolution", 176, 144, 0, 10, 1500, 64, VENC_ERR_REJECTED, 0},
                      CreateCase{"bit_rate_zero", 176, 144, 0, 10, 15, 0, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"level_55", 176, 144, 0, 55, 15, 64, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"cif_at_level10", 352, 288, 0, 10, 15, 64, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"qcif_level10_30fps", 176, 144, 0, 10, 30, 64, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"cif_level20_30fps", 352, 288, 0, 20, 30, 128, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"qvga_level30", 320, 240, 0, 30, 15, 256, VENC_ERR_BAD_PARAMS, 0},
                      CreateCase{"wide_level50", 720, 288, 3, 50, 15, 256, VENC_ERR_BAD_PARAMS, 0}),
    [](const ::testing::TestParamInfo<CreateCase>& i) { return std::string(i.param.name); });

TEST(H263CreateTest, DerivedSwitchesBufferAndGobRounding) {
  Config s;
  EncoderPtr e;
  ASSERT_EQ(Create(s, e), VENC_OK);
  uint32_t bytes = 0;
  ASSERT_EQ(e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &bytes), VENC_OK);
  EXPECT_EQ(bytes, 16724u);  // 65536 / 8 + (64000 / 30) x 4
  EXPECT_EQ(e.state().searchRange, 15);

  // Profile 3 without Annex D keeps vectors codable: the range stops at 15.
  EncoderPtr capped;
  EncoderCreateParams params = Params(Sized(176, 144, 3, 50, 64));
  params.searchRange = 40;
  ASSERT_EQ(gCreateH263VideoEncoder(&capped.enc, &params), VENC_OK);
  EXPECT_EQ(capped.state().searchRange, 15);
  EncoderPtr wide;
  H263Words h = GetH263Words(params);
  h.unrestrictedMv = 1;
  SetH263Words(params, h);
  ASSERT_EQ(gCreateH263VideoEncoder(&wide.enc, &params), VENC_OK);
  EXPECT_EQ(wide.state().searchRange, 40);

  // Custom sizes above 400 lines group two rows a GOB; slices drop GOB headers.
  Config tall = Sized(640, 480, 3, 70, 1000);
  EncoderPtr t;
  ASSERT_EQ(Create(tall, t), VENC_OK);
  EXPECT_EQ(t.state().rowsPerGob, 2);
  EXPECT_EQ(t.state().gobHeaderInterval, 2);
  // Without GOB headers at creation the grouping holds for an interval set later.
  EncoderPtr later;
  EncoderCreateParams noGob = Params(tall);
  noGob.gobHeaderInterval = 0;
  ASSERT_EQ(gCreateH263VideoEncoder(&later.enc, &noGob), VENC_OK);
  EXPECT_EQ(later.enc->SetEncoderParam(later.enc, VENC_PARAM_GOB_HEADER_INTERVAL, 1), VENC_OK);
  EXPECT_EQ(later.state().gobHeaderInterval, 2);
  tall.slices = 2000;
  EncoderPtr sl;
  ASSERT_EQ(Create(tall, sl), VENC_OK);
  EXPECT_EQ(sl.state().gobHeaderInterval, 0);
}

// ---------------------------------------------------------------------------
// Headers, read from the first picture of a stream.

std::string FirstPictureBits(const Config& s, size_t bits, int32_t time = 0, int frameRateChange = 0) {
  EncoderPtr e;
  EXPECT_EQ(Create(s, e), VENC_OK);
  if (!e.enc) return {};
  if (frameRateChange) {
    EXPECT_EQ(e.enc->SetEncoderParam(e.enc, VENC_PARAM_FRAME_RATE, frameRateChange), VENC_OK);
  }
  uint32_t capacity = 0;
  e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  std::vector<uint8_t> out(capacity);
  const std::vector<uint8_t> frame = SyntheticFrame(s.width, s.height, 0, 1);
  uint32_t bytes = capacity;
  int32_t type = -1;
  EXPECT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), time, 0, out.data(), &bytes, &type),
            VENC_OK);
  EXPECT_GE(bytes * 8, bits);
  return BitString(out.data(), bits);
}

TEST(H263HeaderTest, BaselinePictureTypeHasThirteenBits) {
  const std::string b = FirstPictureBits(Config{}, 52);
  EXPECT_EQ(b.substr(0, 22), "0000000000000000100000");
  // Marker, H.261 distinction, split screen, camera, freeze; QCIF; intra;
  // no UMV, SAC, AP, PB.
  EXPECT_EQ(b.substr(30, 13), "1000001000000");
  EXPECT_EQ(b.substr(48, 2), "00");  // CPM, PEI after PQUANT
}

TEST(H263HeaderTest, CustomSizeTakesPlusPtypeWithPixelAspectAndSize) {
  const std::string b = FirstPictureBits(Sized(320, 240, 0, 50, 256), 100);
  size_t i = 30;
  auto take = [&](size_t n) {
    const std::string r = b.substr(i, n);
    i += n;
    return r;
  };
  EXPECT_EQ(take(5), "10000");
  EXPECT_EQ(take(3), "111");  // extended PTYPE
  EXPECT_EQ(take(3), "001");  // UFEP
  EXPECT_EQ(take(18), "110" "0" "0000000000" "1000");
  EXPECT_EQ(take(9), "000" "000" "001");  // MPPTYPE: I, rounding 0
  EXPECT_EQ(take(1), "0");                // CPM
  EXPECT_EQ(take(4), "0010");             // 12:11
  EXPECT_EQ(take(9), Binary(79, 9));
  EXPECT_EQ(take(1), "1");
  EXPECT_EQ(take(9), Binary(60, 9));
  take(5);                                // PQUANT
  EXPECT_EQ(take(1), "0");                // PEI
}

TEST(H263HeaderTest, AllFourAnnexesAnnouncedWithUuiSssAndFirstSlice) {
  Config s = Sized(352, 288, 3, 50, 384);
  s.umv = s.mq = s.loop = true;
  s.slices = 2000;
  const std::string b = FirstPictureBits(s, 100);
  EXPECT_EQ(b.substr(30 + 5 + 3 + 3, 18), "011" "0" "1" "000" "1" "1" "000" "1" "1000");
  size_t i = 30 + 5 + 3 + 3 + 18 + 9 + 1;  // MPPTYPE and CPM: CIF has no CPFMT
  EXPECT_EQ(b.substr(i, 3), "100");        // UUI 1, SSS 00
  i += 3 + 5 + 1;                          // PQUANT, PEI
  EXPECT_EQ(b.substr(i, 11), "1" "000000000" "1");
}

TEST(H263HeaderTest, TemporalReferenceFollowsTheFrameRateInForce) {
  // One second at 30 frames per second is 30 periods of the 29.97 Hz clock.
  EXPECT_EQ(FirstPictureBits(Config{}, 30, 1000, 30).substr(22, 8), Binary(30, 8));
  EXPECT_EQ(FirstPictureBits(Config{}, 30, 1000).substr(22, 8), Binary(30, 8));
}

struct SliceCase {
  int width, height, level;
  std::string expected;  // after SSC
};

class H263SliceHeaderTest : public ::testing::TestWithParam<SliceCase> {};

TEST_P(H263SliceHeaderTest, MbaWidthAndSepb2FollowTheCodedMacroblockCount) {
  const SliceCase& c = GetParam();
  Config s = Sized(c.width, c.height, 3, c.level, 1000);
  s.slices = 4000;
  EncoderPtr e;
  ASSERT_EQ(Create(s, e), VENC_OK);
  H263Encoder& enc = e.state();
  const std::string b = Written([&](BitWriter& w) { WriteH263SliceHeader(enc, w, 1, 7, 37); });
  EXPECT_EQ(b.substr(0, 17), "00000000000000001");
  EXPECT_EQ(b.substr(17), c.expected);
  EXPECT_EQ(Written([&](BitWriter& w) { WriteH263SliceHeader(enc, w, 0, 7, 37); }), "");
}

// SEPB1, MBA 37, [SEPB2], SQUANT 7, SEPB3, GFID.
// (Built with append: GCC 12 at -O3 warns (-Wrestrict) on "1" + string.)
std::string SliceBits(int mbaBits, const char* rest) { return std::string("1").append(Binary(37, mbaBits)).append(rest); }

INSTANTIATE_TEST_SUITE_P(Sizes, H263SliceHeaderTest,
                         ::testing::Values(SliceCase{704, 576, 70, SliceBits(11, "1" "00111" "1" "00")},
                                           SliceCase{352, 288, 50, SliceBits(9, "00111" "1" "00")},
                                           // 112 x 112 coded: 49 macroblocks take 7 bits.
                                           SliceCase{100, 100, 50, SliceBits(7, "00111" "1" "00")}));

TEST(H263HeaderTest, MbaWidthAgreesWithTheDecoder) {
  for (int mbs = 1; mbs <= 9300; ++mbs) ASSERT_EQ(MbaBits(mbs), videodec::H263MbaBits(mbs)) << mbs;
}

// ---------------------------------------------------------------------------
// Macroblock layer.

TEST(H263MacroblockTest, AnnexDVectorCodes) {
  const struct {
    int v;
    const char* bits;
  } cases[] = {{0, "1"}, {1, "000"}, {-1, "010"}, {2, "00100"}, {-2, "00110"}, {3, "01100"}, {-3, "01110"},
               {4, "0010100"}, {-5, "0011110"}, {63, "0111111111100"}};
  for (const auto& c : cases) EXPECT_EQ(Written([&](BitWriter& w) { PutAnnexDComponent(w, c.v); }), c.bits) << c.v;
}

TEST(H263MacroblockTest, TcoefEscapesAndTheExtendedLevel) {
  // Table 16 entry (0, 0, 1) and its sign.
  EXPECT_EQ(Written([](BitWriter& w) { PutH263Event(w, 0, 0, -1, false); }), "101");
  // 22-bit escape: LAST, RUN in 6 bits, LEVEL in 8 bits.
  EXPECT_EQ(Written([](BitWriter& w) { PutH263Event(w, 1, 5, -100, false); }),
            "0000011" "1" "000101" + Binary(static_cast<uint32_t>(-100) & 0xFF, 8));
  // Annex T: |LEVEL| above 127 is marked by 10000000, then the 11-bit level,
  // its 5 low bits first.
  EXPECT_EQ(Written([](BitWriter& w) { PutH263Event(w, 0, 1, 300, true); }),
            "0000011" "0" "000001" "10000000" "01100" "001001");
  EXPECT_EQ(Written([](BitWriter& w) { PutH263Event(w, 0, 1, -300, true); }),
            "0000011" "0" "000001" "10000000" "10100" "110110");
}

TEST(H263MacroblockTest, DquantWithAndWithoutAnnexT) {
  auto dq = [](int from, int to, bool mq) { return Written([&](BitWriter& w) { PutDquant(w, from, to, mq); }); };
  EXPECT_EQ(dq(10, 8, false), "01");
  EXPECT_EQ(dq(10, 11, false), "10");
  EXPECT_EQ(dq(10, 9, true), "10");
  EXPECT_EQ(dq(10, 11, true), "11");
  EXPECT_EQ(dq(31, 26, true), "11");
  // Steps the two small codes do not reach: 0, then QUANT in 5 bits.
  EXPECT_EQ(dq(3, 5, true), "000101");
  EXPECT_EQ(dq(21, 23, true), "010111");
}

// An encoder with one predicted macroblock 0 of quantiser `quant`, whose
// residual is in `blocks`; returns the bits of that macroblock.
std::string CodeInterMb(const Config& s, int quant, MotionVector v, const std::vector<int16_t>& residual) {
  EncoderPtr e;
  EXPECT_EQ(Create(s, e), VENC_OK);
  H263Encoder& enc = e.state();
  std::vector<uint8_t> out(4096);
  enc.writer.Attach(out.data(), static_cast<uint32_t>(out.size()));
  enc.codingType = 1;
  MacroblockInfo& mb = enc.mbs[0];
  mb.inter = 1;
  mb.quant = static_cast<uint16_t>(quant);
  mb.vectors[0] = v;
  std::memcpy(enc.blocks, residual.data(), 6 * 64 * sizeof(int16_t));
  int32_t sad[6] = {};
  for (int b = 0; b < 6; ++b)
    for (int i = 0; i < 64; ++i) sad[b] += std::abs(residual[64 * b + i]);
  int running = quant, packet = 0;
  EncodeH263InterMb(enc, 0, sad, &running, &packet);
  uint32_t bits = 0;
  enc.writer.Flush(&bits);
  return BitString(out.data(), bits);
}

TEST(H263MacroblockTest, HalfPelPairUnderAnnexDIsFollowedByAOne) {
  Config s = Sized(176, 144, 3, 50, 64);
  s.umv = true;
  const std::vector<int16_t> none(6 * 64, 0);
  // COD 0, MCBPC "1", CBPY of no blocks "11", two "000" codes and the 1.
  EXPECT_EQ(CodeInterMb(s, 10, MotionVector{1, 1}, none).substr(0, 11), "0111000000" "1");
  EXPECT_EQ(CodeInterMb(s, 10, MotionVector{1, 2}, none).substr(0, 12), "0111000" "00100");
}

// A luma residual of +-255 by column halves: a first horizontal coefficient
// of about 1850, a level near 230 at QUANT 4.
std::vector<int16_t> StrongEdgeResidual() {
  std::vector<int16_t> r(6 * 64, 0);
  for (int i = 0; i < 64; ++i) r[i] = (i % 8) < 4 ? 255 : -255;
  return r;
}

TEST(H263MacroblockTest, AnnexTKeepsLevelsAbove127BelowQuant8) {
  Config mq = Sized(176, 144, 3, 50, 64);
  mq.mq = true;
  Config plain = mq;
  plain.mq = false;
  // First event of block 0: RUN 1 (the DC is zero), LAST 0.
  const std::string escape = "0000011" "0" "000001";
  const std::string kept = CodeInterMb(mq, 4, MotionVector{0, 0}, StrongEdgeResidual());
  EXPECT_NE(kept.find(escape + "10000000"), std::string::npos) << kept;
  const std::string clipped = CodeInterMb(plain, 4, MotionVector{0, 0}, StrongEdgeResidual());
  EXPECT_NE(clipped.find(escape + "01111111"), std::string::npos) << clipped;
}

TEST(H263MacroblockTest, AnnexTQuantisesChromaWithQuantC) {
  Config mq = Sized(176, 144, 3, 50, 64);
  mq.mq = true;
  Config plain = mq;
  plain.mq = false;
  std::vector<int16_t> r(6 * 64, 0);
  for (int i = 0; i < 64; ++i) r[4 * 64 + i] = 100;  // Cb: DC 800 alone
  // One event (LAST 1, RUN 0) after COD, MCBPC (Cb coded), CBPY and MVD: the
  // level is (800 - Q / 2) / (2 Q) with Q = QUANT_C[20] = 13, else 20.
  const std::string head = "0" "0010" "11" "11";  // COD, MCBPC, CBPY, zero MVD
  EXPECT_EQ(CodeInterMb(mq, 20, MotionVector{0, 0}, r).substr(0, 9 + 22), head + "0000011" "1" "000000" + Binary(30, 8));
  EXPECT_EQ(CodeInterMb(plain, 20, MotionVector{0, 0}, r).substr(0, 9 + 22), head + "0000011" "1" "000000" + Binary(19, 8));
}

TEST(H263MacroblockTest, ResidualsLeftUntransformedQuantiseToZero) {
  // Worst cases for the bound: the residual's whole sum in the pattern of one
  // basis function, at the largest sum the test lets through, every QUANT.
  FdctDsp fdct{};
  init_fdct_dsp(fdct, 0);
  std::mt19937 rng(263);
  for (int q = 1; q < 32; ++q) {
    for (int trial = 0; trial < 200; ++trial) {
      int16_t block[64];
      const int u = static_cast<int>(rng() % 8), v = static_cast<int>(rng() % 8);
      int32_t sad = 0;
      for (int i = 0; i < 64; ++i) {
        const double c = std::cos((2 * (i / 8) + 1) * u * M_PI / 16) * std::cos((2 * (i % 8) + 1) * v * M_PI / 16);
        block[i] = static_cast<int16_t>(c >= 0 ? 1 + static_cast<int>(rng() % 40) : -1 - static_cast<int>(rng() % 40));
        sad += std::abs(block[i]);
      }
      while (!ResidualQuantisesToZero(sad, q) && sad > 0) {
        const int i = static_cast<int>(rng() % 64);
        if (block[i] == 0) continue;
        block[i] = static_cast<int16_t>(block[i] > 0 ? block[i] - 1 : block[i] + 1);
        --sad;
      }
      // Both inter kernels: short header and H.263 (levels clipped), MPEG-4.
      for (int sh = 0; sh < 2; ++sh) {
        int16_t copy[64];
        std::copy(block, block + 64, copy);
        int32_t last = 0, count = 0;
        fdct.inter[sh](copy, q, &last, &count);
        ASSERT_EQ(count, 0) << "QUANT " << q << ", sum " << sad << ", kernel " << sh << ", seed 263";
      }
    }
  }
}

TEST(H263RateTest, AnnexTStepsFromTheDquantTable) {
  for (int q = 1; q < 32; ++q) {
    const int a = videodec::kH263ModifiedQuant[0][q], b = videodec::kH263ModifiedQuant[1][q];
    const int hi = a > b ? a : b, lo = a < b ? a : b;
    EXPECT_EQ(AnnexTStepUp(q), hi) << q;
    EXPECT_EQ(AnnexTStepDown(q), lo < q ? lo : q) << q;
  }
  // A macroblock that wants QUANT 31 from 22 moves by the Annex T step (+3)
  // instead of +2.
  RateControlState rc;
  rc.activityLeft = 1000;
  rc.frameTarget = -1000;
  rc.mbCount = rc.mbsLeft = 99;
  MacroblockInfo mb{};
  mb.activity = 100;
  EXPECT_EQ(UpdateMbQp(rc, mb, 22, 22), 24);
  rc.modifiedQuant = 1;
  EXPECT_EQ(UpdateMbQp(rc, mb, 22, 22), 25);
}

// ---------------------------------------------------------------------------
// Code tables: one set for the encoder, another for the decoder; they agree.

std::string CodeOf(const VlcCode& c) { return Binary(c.code, c.length); }

TEST(H263TablesTest, EncoderAndDecoderTablesAgree) {
  for (int i = 0; i < videodec::kH263IntraMcbpcCount; ++i) {
    const int type = videodec::kH263IntraMcbpc[i].value >> 4, cbpc = videodec::kH263IntraMcbpc[i].value & 3;
    if (type == 3 || type == 4) {
      EXPECT_EQ(CodeOf(kMcbpcIntraTable[type - 3][cbpc]), videodec::kH263IntraMcbpc[i].bits);
    }
  }
  for (int i = 0; i < videodec::kH263InterMcbpcCount; ++i) {
    const int type = videodec::kH263InterMcbpc[i].value >> 4, cbpc = videodec::kH263InterMcbpc[i].value & 3;
    if (type <= 4) {
      EXPECT_EQ(CodeOf(kMcbpcInterTable[type][cbpc]), videodec::kH263InterMcbpc[i].bits);
    }
  }
  ASSERT_EQ(videodec::kH263CbpyCount, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(CodeOf(kCbpyTable[videodec::kH263Cbpy[i].value]), videodec::kH263Cbpy[i].bits);
  ASSERT_EQ(videodec::kH263MvdCount, 33);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(CodeOf(kMvdTable[videodec::kH263Mvd[i].value]), videodec::kH263Mvd[i].bits);
  int events = 0;
  for (int i = 0; i < videodec::kH263TcoefCount; ++i) {
    const videodec::H263TcoefCode& t = videodec::kH263Tcoef[i];
    const VlcCode* c = kInterTcoef.Find(t.last, t.run, t.level);
    ASSERT_NE(c, nullptr) << t.bits;
    EXPECT_EQ(CodeOf(*c), t.bits);
    ++events;
  }
  EXPECT_EQ(events, 102);
  for (int q = 0; q < 32; ++q) {
    EXPECT_EQ(kChromaQuant[q], videodec::kH263ChromaQuant[q]) << q;
    EXPECT_EQ(kDeblockStrength[q], videodec::kH263DeblockStrength[q]) << q;
    EXPECT_EQ(kModifiedDquant[0][q], videodec::kH263ModifiedQuant[0][q]) << q;
    EXPECT_EQ(kModifiedDquant[1][q], videodec::kH263ModifiedQuant[1][q]) << q;
  }
}

// ---------------------------------------------------------------------------
// Annex J.

std::vector<uint8_t> FilterVertical(std::vector<uint8_t> line, int quant) {
  DeblockAcrossVerticalEdge(line.data(), 4, quant, 1);
  return line;
}

TEST(H263DeblockTest, KernelValues) {
  // d = (A - 4B + 4C - D) / 8 = 1 at QUANT 1 (STRENGTH 1): B and C move by one.
  EXPECT_EQ(FilterVertical({100, 100, 104, 104}, 1), (std::vector<uint8_t>{100, 101, 103, 104}));
  // |d| = 2 >= 2 x STRENGTH: nothing moves.
  EXPECT_EQ(FilterVertical({100, 100, 106, 106}, 1), (std::vector<uint8_t>{100, 100, 106, 106}));
  // QUANT 31 (STRENGTH 12): d = 23 is ramped down to 1, d = 24 to 0.
  EXPECT_EQ(FilterVertical({0, 0, 62, 62}, 31), (std::vector<uint8_t>{0, 1, 61, 62}));
  EXPECT_EQ(FilterVertical({0, 0, 64, 64}, 31), (std::vector<uint8_t>{0, 0, 64, 64}));
  // d = 7 at STRENGTH 12 moves B and C by 7; d2 = (A - D) / 4 = -4, limited
  // to |d1| / 2 = 3, moves A and D.
  EXPECT_EQ(FilterVertical({100, 100, 118, 116}, 31), (std::vector<uint8_t>{103, 107, 111, 113}));
}

TEST(H263DeblockTest, KernelAgreesWithTheDecoder) {
  std::mt19937 rng(22);
  for (int i = 0; i < 20000; ++i) {
    uint8_t a[4], b[4];
    const int base = static_cast<int>(rng() % 256), spread = 1 + static_cast<int>(rng() % 64);
    for (int k = 0; k < 4; ++k) a[k] = b[k] = static_cast<uint8_t>(std::clamp(base + static_cast<int>(rng() % spread) - spread / 2, 0, 255));
    const int quant = 1 + static_cast<int>(rng() % 31);
    DeblockAcrossHorizontalEdge(a, 1, quant, 1);
    videodec::DeblockH263Line(b + 2, 1, kDeblockStrength[quant]);
    ASSERT_EQ(std::memcmp(a, b, 4), 0) << "seed 22, case " << i;
  }
}

// A QCIF reconstruction with a step of 6 at every 8-sample boundary (d = 2),
// which STRENGTH 1 (QUANT 1, 2) leaves and larger strengths filter.
struct DeblockFixture {
  EncoderPtr e;
  DeblockFixture() {
    Config s;
    s.profile = 3;
    s.level = 50;
    s.loop = true;
    EXPECT_EQ(Create(s, e), VENC_OK);
    H263Encoder& enc = e.state();
    EncoderFrame& f = *enc.current;
    for (int y = 0; y < 144; ++y)
      for (int x = 0; x < 176; ++x) f.lumaOrigin()[y * f.lumaStride() + x] = static_cast<uint8_t>(100 + 6 * (((x / 8) + (y / 8)) & 1));
    for (uint8_t* p : {f.uOrigin(), f.vOrigin()})
      for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 88; ++x) p[y * f.chromaStride() + x] = static_cast<uint8_t>(100 + 6 * (((x / 8) + (y / 8)) & 1));
    for (int i = 0; i < enc.mbCount; ++i) {
      enc.mbs[i].inter = 1;
      enc.mbs[i].notCoded = 1;
      enc.mbs[i].quant = 1;
    }
  }
  uint8_t Luma(int x, int y) {
    const EncoderFrame& f = *e.state().current;
    return f.lumaOrigin()[y * f.lumaStride() + x];
  }
};

TEST(H263DeblockTest, SkippedNeighboursAndTheQuantOfAnEdge) {
  DeblockFixture all;
  const std::vector<uint8_t> before(all.e.state().frames[0].y, all.e.state().frames[0].y + FrameBlockBytes(176, 144));
  DeblockFrame(all.e.state());
  EXPECT_EQ(std::memcmp(before.data(), all.e.state().frames[0].y, before.size()), 0) << "skipped macroblocks filtered";

  // Macroblock (0, 0) coded at QUANT 10, the one below skipped at QUANT 1:
  // their edge takes QUANT 10 (the skipped side's 1 would leave it).
  DeblockFixture one;
  H263Encoder& enc = one.e.state();
  enc.mbs[0].notCoded = 0;
  enc.mbs[0].quant = 10;
  enc.mbs[2 * 11 + 2].quant = 10;  // skipped, with a QUANT that would filter
  const uint8_t aboveEdge = one.Luma(4, 15);
  DeblockFrame(enc);
  EXPECT_NE(one.Luma(4, 15), aboveEdge);  // edge at row 16
  EXPECT_NE(one.Luma(7, 4), 100);         // inner vertical edge of (0, 0)
  // Inner edges of skipped macroblock (2, 2) at x = 40 and y = 40.
  EXPECT_EQ(one.Luma(39, 36), 100);
  EXPECT_EQ(one.Luma(36, 39), 100);
  EXPECT_EQ(one.Luma(0, 0), 100);  // picture border
}

// ---------------------------------------------------------------------------
// Streams through our decoder.

struct StreamCase {
  const char* name;
  Config setup;
};

class H263StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(H263StreamTest, OurDecoderReconstructsWhatTheEncoderHolds) {
  const Config& s = GetParam().setup;
  EncoderPtr e;
  ASSERT_EQ(Create(s, e), VENC_OK);
  H263Encoder& enc = e.state();
  videodec::VideoDecoder* dec = nullptr;
  ASSERT_EQ(videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), videodec::VDEC_OK);
  uint32_t capacity = 0;
  e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  std::vector<uint8_t> out(capacity);
  const int cw = enc.codedWidth, ch = enc.codedHeight;
  std::vector<uint8_t> planes(static_cast<size_t>(cw) * ch * 3 / 2);
  for (int n = 0; n < 8; ++n) {
    const std::vector<uint8_t> frame = SyntheticFrame(s.width, s.height, n, 7);
    uint32_t bytes = capacity;
    int32_t type = -1;
    ASSERT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), n * 67, 0, out.data(), &bytes,
                                 &type),
              VENC_OK);
    std::vector<uint8_t> packet(out.begin(), out.begin() + bytes);  // exact size for the sanitizer
    videodec::DecodedPicture pic{planes.data(), planes.data() + cw * ch, planes.data() + cw * ch * 5 / 4, 0, 0, 0};
    uint32_t length = bytes;
    ASSERT_EQ(dec->DecodeFrameOut(dec, packet.data(), &length, &pic), videodec::VDEC_OK) << "frame " << n;
    ASSERT_EQ(pic.width, cw);
    const std::vector<uint8_t> rec = Reconstruction(enc);
    const size_t w = static_cast<size_t>(s.width), h = static_cast<size_t>(s.height);
    std::vector<uint8_t> decoded;
    for (size_t y = 0; y < h; ++y) decoded.insert(decoded.end(), pic.y + y * cw, pic.y + y * cw + w);
    for (const uint8_t* p : {pic.u, pic.v})
      for (size_t y = 0; y < h / 2; ++y) decoded.insert(decoded.end(), p + y * cw / 2, p + y * cw / 2 + w / 2);
    EXPECT_GE(Psnr(rec.data(), decoded.data(), w * h), kMinDecodePsnr) << "Y, frame " << n;
    EXPECT_GE(Psnr(rec.data() + w * h, decoded.data() + w * h, w * h / 4), kMinDecodePsnr) << "U, frame " << n;
    EXPECT_GE(Psnr(rec.data() + w * h * 5 / 4, decoded.data() + w * h * 5 / 4, w * h / 4), kMinDecodePsnr)
        << "V, frame " << n;
  }
  dec->DestroyDecoder(dec);
}

Config StreamConfig(int w, int h, int profile, bool umv, bool mq, uint32_t slices, bool loop, int complexity = 2) {
  Config s = Sized(w, h, profile, profile == 0 && w == 176 ? 10 : 50, 64);
  s.umv = umv;
  s.mq = mq;
  s.slices = slices;
  s.loop = loop;
  s.complexity = complexity;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, H263StreamTest,
    ::testing::Values(StreamCase{"qcif_baseline", StreamConfig(176, 144, 0, false, false, 0, false)},
                      StreamCase{"qcif_umv", StreamConfig(176, 144, 3, true, false, 0, false)},
                      StreamCase{"qcif_mq_mb_quant", StreamConfig(176, 144, 3, false, true, 0, false, 3)},
                      StreamCase{"qcif_slices", StreamConfig(176, 144, 3, false, false, 1024, false)},
                      StreamCase{"qcif_deblock", StreamConfig(176, 144, 3, false, false, 0, true)},
                      StreamCase{"square100_all", StreamConfig(100, 100, 3, true, true, 1024, true, 3)}),
    [](const ::testing::TestParamInfo<StreamCase>& i) { return std::string(i.param.name); });

// A continuous shot of a noisy texture: a fixed random texture panning one
// sample a picture, with fresh noise of +-10 on every picture.
std::vector<uint8_t> NoisyTextureFrame(int w, int h, int n) {
  static const std::vector<uint8_t> texture = [] {
    std::vector<uint8_t> t(512 * 256);
    std::mt19937 rng(42);
    for (uint8_t& v : t) v = static_cast<uint8_t>(68 + rng() % 120);
    return t;
  }();
  std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3 / 2, 128);
  std::mt19937 rng(1000u + static_cast<uint32_t>(n));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = texture[static_cast<size_t>(y) * 512 + static_cast<size_t>(x + n)] + static_cast<int>(rng() % 21) - 10;
      f[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v);
    }
  return f;
}

// With scene-change detection on, a continuous noisy shot keeps to its
// periodic intra pictures at a high and a common rate, and a cut to another
// picture still gives an intra picture.
TEST(H263SceneChangeTest, ANoisyShotStaysPredictedAndACutIsIntra) {
  for (int kbps : {128, 384}) {
    Config s = Sized(176, 144, 0, 30, kbps);
    s.fps = 10.0f;
    s.sceneChange = true;
    s.gop = 45;
    EncoderPtr e;
    ASSERT_EQ(Create(s, e), VENC_OK);
    uint32_t capacity = 0;
    e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &capacity);
    std::vector<uint8_t> out(capacity);
    std::vector<int> intra;
    for (int n = 0; n < 120; ++n) {
      // Pictures 0-69 the noisy shot, then a cut to the moving gradient
      // (the periodic intra pictures are 0, 45 and 90).
      const std::vector<uint8_t> frame = n < 70 ? NoisyTextureFrame(176, 144, n) : SyntheticFrame(176, 144, n - 70, 3);
      uint32_t bytes = capacity;
      int32_t type = -1;
      ASSERT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), n * 100, 0, out.data(),
                                   &bytes, &type),
                VENC_OK);
      if (type == 0) intra.push_back(n);
    }
    std::vector<int> shot, after_cut;
    for (int n : intra) (n < 70 ? shot : after_cut).push_back(n);
    EXPECT_EQ(shot, (std::vector<int>{0, 45})) << kbps << " kbit/s: only the periodic intra pictures in the shot";
    ASSERT_FALSE(after_cut.empty()) << kbps << " kbit/s: no intra picture at the cut";
    EXPECT_LE(after_cut.front(), 71) << kbps << " kbit/s";
  }
}

// ---------------------------------------------------------------------------
// Bad calls and input.

TEST(H263BadInputTest, NoiseOverflowsAnExactBufferWithoutWritingPastIt) {
  Config s;  // QCIF, level 10, 64 kbit/s, GOP 45
  EncoderPtr e;
  ASSERT_EQ(Create(s, e), VENC_OK);
  uint32_t capacity = 0;
  e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  std::vector<uint8_t> frame(176 * 144 * 3 / 2);
  std::mt19937 rng(4003);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> out(capacity);  // exactly id 102's bytes: a write past it is a sanitizer error
  uint32_t bytes = capacity;
  int32_t type = -1;
  EXPECT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), 0, 0, out.data(), &bytes, &type),
            VENC_ERR_OVERFLOW);
  EXPECT_LE(bytes, capacity);
  // The buffer one byte short is refused before anything is coded.
  bytes = capacity - 1;
  EXPECT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), 67, 0, out.data(), &bytes, &type),
            VENC_ERR_BAD_ARGUMENT);
}

TEST(H263BadInputTest, FrameRateParameterRefusesZeroAndRatesAboveTheResolution) {
  EncoderPtr e;
  ASSERT_EQ(Create(Config{}, e), VENC_OK);
  EXPECT_EQ(e.enc->SetEncoderParam(e.enc, VENC_PARAM_FRAME_RATE, 0), VENC_ERR_REJECTED);
  EXPECT_EQ(e.enc->SetEncoderParam(e.enc, VENC_PARAM_FRAME_RATE, 1001), VENC_ERR_REJECTED);
  EXPECT_EQ(e.enc->SetEncoderParam(e.enc, VENC_PARAM_FRAME_RATE, 1000), VENC_OK);
  EXPECT_EQ(e.enc->SetEncoderParam(e.enc, VENC_PARAM_COMPLEXITY, 7), VENC_OK);  // stored as given
  uint32_t capacity = 0, header = 1;
  e.enc->GetEncoderParam(e.enc, VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  EXPECT_EQ(e.enc->GetEncoderParam(e.enc, VENC_PARAM_HEADER_LENGTH, &header), VENC_OK);
  EXPECT_EQ(header, 0u);
  std::vector<uint8_t> frame(176 * 144 * 3 / 2, 128), out(capacity);
  uint32_t bytes = capacity;
  int32_t type = -1;
  EXPECT_EQ(e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), 0, 0, out.data(), &bytes, &type),
            VENC_ERR_BAD_ARGUMENT);  // the complexity is checked when coding
}

TEST(H263BadInputTest, RandomParameterSequencesNeverCrash) {
  const uint32_t seed = 2226;
  std::mt19937 rng(seed);
  const uint32_t extremes[] = {0, 1, 2, 3, 31, 130, 1024, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
  for (int round = 0; round < 6; ++round) {
    Config s = StreamConfig(round % 2 ? 128 : 100, 96 + 4 * (round % 2), round % 3 ? 3 : 0, round & 1, round & 2,
                          round & 4 ? 1024 : 0, round & 1);
    s.level = 50;
    EncoderPtr e;
    ASSERT_EQ(Create(s, e), VENC_OK) << "seed " << seed << " round " << round;
    std::vector<uint8_t> out(1 << 18);
    for (int step = 0; step < 60; ++step) {
      const uint32_t id = rng() % 26;
      const uint32_t value = rng() % 3 == 0 ? extremes[rng() % 10] : rng() % 200;
      e.enc->SetEncoderParam(e.enc, id, value);
      uint32_t got[64];
      e.enc->GetEncoderParam(e.enc, 100 + rng() % 21, got);
      const std::vector<uint8_t> frame = SyntheticFrame(s.width, s.height, step, seed);
      uint32_t bytes = static_cast<uint32_t>(out.size());
      int32_t type = -1;
      e.enc->EncodeFrame(e.enc, frame.data(), static_cast<uint32_t>(frame.size()), step * 67 + static_cast<int32_t>(rng() % 500),
                         static_cast<int32_t>(rng() % 2), out.data(), &bytes, &type);
      ASSERT_LE(bytes, out.size());
      if (rng() % 20 == 0) e.enc->ResetEncoder(e.enc);
    }
  }
}

}  // namespace
}  // namespace venc
