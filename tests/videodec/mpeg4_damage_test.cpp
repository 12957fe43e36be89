// Damaged and hostile input: concealment and its report, truncated and
// bit-flipped streams in every mode, reset and not-coded VOPs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_tables.h"
#include "tests/support/test_paths.h"
#include "tests/videodec/mpeg4_test_util.h"

namespace {

using mpeg4test::Decoder;
using mpeg4test::Frame;
using mpeg4test::Stream;

Decoder Create(const Stream& s) {
  Decoder dec;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, 0), 0);
  return dec;
}

// Byte offsets of the resync markers (16 zero bits and a one, byte-aligned)
// in a P-VOP with forward code 1.
std::vector<size_t> ResyncMarkers(const std::vector<uint8_t>& v) {
  std::vector<size_t> at;
  for (size_t i = 4; i + 3 < v.size(); ++i) {
    if (v[i] == 0 && v[i + 1] == 0 && (v[i + 2] & 0x80) && !(v[i + 2] == 1)) at.push_back(i);
  }
  return at;
}

TEST(Mpeg4Damage, DamagedPacketIsConcealedAndCounted) {
  const std::string path = ovtest::FixturePath("mpeg4_packets.m4v");
  OV_SKIP_WITHOUT_FIXTURE(path);
  Stream s = mpeg4test::SplitM4v(ovtest::ReadFileBytes(path));
  const auto ref = mpeg4test::ReadYuv(ovtest::ReadFileBytes(ovtest::FixturePath("mpeg4_packets.yuv")), 176, 144,
                                      176, 144);
  // The second packet of the fourth VOP (a P-VOP) is overwritten with a
  // pattern that is no valid macroblock data.
  auto& vop = s.samples[3];
  const auto markers = ResyncMarkers(vop);
  ASSERT_GE(markers.size(), 2u);
  for (size_t i = markers[0] + 8; i < markers[1] - 2; ++i) vop[i] = 0x00;
  Decoder dec = Create(s);
  std::vector<uint8_t> y(176 * 144), u(y.size() / 4), v(y.size() / 4);
  for (size_t i = 0; i < s.samples.size(); ++i) {
    std::vector<uint8_t> copy(s.samples[i]);
    uint32_t len = static_cast<uint32_t>(copy.size());
    videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
    ASSERT_EQ(dec.d->DecodeFrameOut(dec.d, copy.data(), &len, &pic), 0) << "VOP " << i;
    int32_t percent = -1;
    ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent), 0);
    uint8_t map[99 / 8 + 1];
    ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_MAP, map), 0);
    int cleared = 0;
    for (int mb = 0; mb < 99; ++mb) cleared += !(map[mb / 8] & (0x80 >> (mb % 8)));
    EXPECT_EQ(map[12] & 0x1F, 0x1F) << "unused low bits of the last byte are set";
    const Frame ours = mpeg4test::FromPicture(pic, 176, 144);
    if (i == 3) {
      EXPECT_GT(percent, 0);
      EXPECT_EQ(cleared * 100 / 99, percent);
      // Concealed from the previous picture: far from garbage.
      EXPECT_GT(mpeg4test::LumaPsnr(ours, ref[i]), 20.0);
      EXPECT_GT(mpeg4test::ChromaPsnr(ours, ref[i]), 20.0);
    } else if (i < 3) {
      EXPECT_EQ(percent, 0) << "VOP " << i;
      EXPECT_EQ(cleared, 0);
    }
  }
}

// Decodes `s` in the given mode, ignoring results; the sanitizers judge.
void DecodeAnyhow(const Stream& s, int mode) {
  Decoder dec;
  std::vector<uint8_t> config(s.config);
  uint32_t len = static_cast<uint32_t>(config.size());
  if (videodec::gCreateMPEG4VideoDecoder(&dec.d, config.data(), &len, 0) != 0) return;
  if (mode == 2) dec.d->SetDecoderParam(dec.d, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  std::vector<uint8_t> y(352 * 288), u(y.size() / 4), v(y.size() / 4);
  for (const auto& sample : s.samples) {
    if (sample.empty()) continue;
    // Exact-size heap copies, so over-reads are caught.
    std::vector<uint8_t> copy(sample);
    if (mode == 0) {
      uint32_t n = static_cast<uint32_t>(copy.size());
      videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
      dec.d->DecodeFrameOut(dec.d, copy.data(), &n, &pic);
      continue;
    }
    size_t off = 0;
    for (int guard = 0; off < copy.size() && guard < 1000; ++guard) {
      uint32_t n = static_cast<uint32_t>(copy.size() - off);
      const int32_t r = dec.d->DecodeFrame(dec.d, copy.data() + off, &n);
      ASSERT_LE(n, copy.size() - off);
      off += n;
      if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) {
        const videodec::DecodedPicture* pic = nullptr;
        dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
      }
      if (n == 0 && r != videodec::VDEC_PICTURE_OPEN) break;
    }
    const videodec::DecodedPicture* pic = nullptr;
    dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
    int32_t percent = -1;
    dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent);
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);
  }
}

class Mpeg4Hostile : public ::testing::TestWithParam<const char*> {};

TEST_P(Mpeg4Hostile, TruncatedAndBitFlippedStreamsDecodeWithoutHarm) {
  const std::string path = ovtest::FixturePath(GetParam());
  OV_SKIP_WITHOUT_FIXTURE(path);
  const auto bytes = ovtest::ReadFileBytes(path);
  const bool h263 = std::string(GetParam()).find(".h263") != std::string::npos;
  const Stream clean = h263 ? mpeg4test::SplitH263(bytes) : mpeg4test::SplitM4v(bytes);
  const uint32_t seed = 424242u;
  std::printf("seed %u\n", seed);
  uint32_t state = seed;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  Stream truncated = clean, flipped = clean;
  for (auto& v : truncated.samples) v.resize(v.size() * (1 + next() % 9) / 10);
  for (auto& v : flipped.samples) {
    for (int k = 0; k < 6 && !v.empty(); ++k) {
      const size_t bit = next() % (v.size() * 8);
      v[bit / 8] = static_cast<uint8_t>(v[bit / 8] ^ (0x80 >> (bit % 8)));
    }
  }
  for (int mode = 0; mode < 3; ++mode) {
    DecodeAnyhow(truncated, mode);
    DecodeAnyhow(flipped, mode);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg4Hostile,
                         ::testing::Values("mpeg4_plain.m4v", "mpeg4_aic_mv4.m4v", "mpeg4_packets.m4v",
                                           "mpeg4_partitioned.m4v", "mpeg4_170x130.m4v",
                                           "mpeg4_short_header.h263"));

TEST(Mpeg4Damage, ResetWaitsForAnIntraVop) {
  const std::string path = ovtest::FixturePath("mpeg4_plain.m4v");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const Stream s = mpeg4test::SplitM4v(ovtest::ReadFileBytes(path));
  Decoder dec = Create(s);
  std::vector<uint8_t> p(s.samples[1]);  // a P-VOP
  uint32_t len = static_cast<uint32_t>(p.size());
  EXPECT_EQ(dec.d->DecodeFrame(dec.d, p.data(), &len), videodec::VDEC_WAITING_FOR_INTRA);
  std::vector<uint8_t> i(s.samples[0]);
  len = static_cast<uint32_t>(i.size());
  EXPECT_EQ(dec.d->DecodeFrame(dec.d, i.data(), &len), 0);
  const videodec::DecodedPicture* pic = nullptr;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic), 0);
  len = static_cast<uint32_t>(p.size());
  EXPECT_EQ(dec.d->DecodeFrame(dec.d, p.data(), &len), 0);
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_FINISH_PICTURE, &pic), 0);
  EXPECT_EQ(dec.d->ResetDecoder(dec.d), 0);
  len = static_cast<uint32_t>(p.size());
  EXPECT_EQ(dec.d->DecodeFrame(dec.d, p.data(), &len), videodec::VDEC_WAITING_FOR_INTRA);
}

TEST(Mpeg4Damage, NotCodedVopRepeatsTheReference) {
  const std::string path = ovtest::FixturePath("mpeg4_plain.m4v");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const Stream s = mpeg4test::SplitM4v(ovtest::ReadFileBytes(path));
  Decoder dec = Create(s);
  std::vector<uint8_t> y(176 * 144), u(y.size() / 4), v(y.size() / 4);
  videodec::DecodedPicture first{y.data(), u.data(), v.data(), 0, 0, 0};
  std::vector<uint8_t> i(s.samples[0]);
  uint32_t len = static_cast<uint32_t>(i.size());
  ASSERT_EQ(dec.d->DecodeFrameOut(dec.d, i.data(), &len, &first), 0);
  const std::vector<uint8_t> shown(y);
  // A P-VOP with vop_coded 0 for this layer (vop_time_increment_resolution
  // 15: 4-bit increments): start code; 01 (P), modulo_time_base 0, marker 1,
  // increment 0001; marker 1, vop_coded 0, stuffing 011111.
  const uint8_t not_coded[] = {0x00, 0x00, 0x01, 0xB6, 0x51, 0x9F};
  std::vector<uint8_t> nc(not_coded, not_coded + sizeof(not_coded));
  len = static_cast<uint32_t>(nc.size());
  std::vector<uint8_t> y2(y.size(), 7), u2(u.size(), 7), v2(v.size(), 7);
  videodec::DecodedPicture repeat{y2.data(), u2.data(), v2.data(), 0, 0, 0};
  ASSERT_EQ(dec.d->DecodeFrameOut(dec.d, nc.data(), &len, &repeat), 0);
  EXPECT_EQ(y2, shown);
  int32_t percent = -1;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent), 0);
  EXPECT_EQ(percent, 0);
  uint8_t map[13] = {};
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_MAP, map), 0);
  for (uint8_t b : map) EXPECT_EQ(b, 0xFF);
}

}  // namespace

namespace {

// The first I-VOP, cut short: what is lost is repaired spatially from what
// was decoded above it, and reported.
TEST(Mpeg4Damage, TruncatedIntraVopIsConcealedSpatially) {
  const std::string path = ovtest::FixturePath("mpeg4_plain.m4v");
  OV_SKIP_WITHOUT_FIXTURE(path);
  Stream s = mpeg4test::SplitM4v(ovtest::ReadFileBytes(path));
  const auto ref = mpeg4test::ReadYuv(ovtest::ReadFileBytes(ovtest::FixturePath("mpeg4_plain.yuv")), 176, 144,
                                      176, 144);
  s.samples[0].resize(s.samples[0].size() * 6 / 10);
  Decoder dec = Create(s);
  std::vector<uint8_t> y(176 * 144), u(y.size() / 4), v(y.size() / 4);
  videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
  uint32_t len = static_cast<uint32_t>(s.samples[0].size());
  ASSERT_EQ(dec.d->DecodeFrameOut(dec.d, s.samples[0].data(), &len, &pic), 0);
  int32_t percent = -1;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent), 0);
  EXPECT_GT(percent, 10);
  EXPECT_LT(percent, 90);
  const Frame ours = mpeg4test::FromPicture(pic, 176, 144);
  const double psnr = mpeg4test::LumaPsnr(ours, ref[0]);
  const double chroma = mpeg4test::ChromaPsnr(ours, ref[0]);
  std::printf("truncated I-VOP: %d%% damaged, luma %.2f dB, chroma %.2f dB\n", percent, psnr, chroma);
  EXPECT_GT(psnr, 12.0);
  EXPECT_GT(chroma, 12.0);
}

}  // namespace

namespace {

// A layer header of another size in front of a VOP is refused with
// VDEC_SIZE_CHANGED and changes nothing: the set-up layer decodes on.
TEST(Mpeg4Damage, LayerOfAnotherSizeIsRefused) {
  const std::string path = ovtest::FixturePath("mpeg4_plain.m4v");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const Stream s = mpeg4test::SplitM4v(ovtest::ReadFileBytes(path));
  Decoder dec = Create(s);
  mpeg4test::LayerFields cif;
  cif.width = 352;
  cif.height = 288;
  std::vector<uint8_t> changed = mpeg4test::MakeLayer(cif);
  changed.insert(changed.end(), s.samples[0].begin(), s.samples[0].end());
  std::vector<uint8_t> y(176 * 144), u(y.size() / 4), v(y.size() / 4);
  videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
  uint32_t len = static_cast<uint32_t>(changed.size());
  EXPECT_EQ(dec.d->DecodeFrameOut(dec.d, changed.data(), &len, &pic), videodec::VDEC_SIZE_CHANGED);
  EXPECT_EQ(len, 0u);
  std::vector<uint8_t> again(s.samples[0]);
  len = static_cast<uint32_t>(again.size());
  EXPECT_EQ(dec.d->DecodeFrameOut(dec.d, again.data(), &len, &pic), 0);
  EXPECT_EQ(pic.width, 176);
  EXPECT_EQ(pic.height, 144);
  const auto ref = mpeg4test::ReadYuv(ovtest::ReadFileBytes(ovtest::FixturePath("mpeg4_plain.yuv")), 176, 144, 176, 144);
  const Frame ours = mpeg4test::FromPicture(pic, 176, 144);
  EXPECT_GT(mpeg4test::LumaPsnr(ours, ref[0]), 45.0);
  EXPECT_GT(mpeg4test::ChromaPsnr(ours, ref[0]), 45.0);
}

}  // namespace

namespace {

// A layer of one row of ten macroblocks (160 x 16), the header of an I-VOP
// for it, and a flat intra macroblock (every DC differential 0).
// Sets `dec` up for the row layer (or another size) and decodes `vop` whole
// into `y` (luma).
void DecodeRowVop(std::vector<uint8_t>& vop, Decoder* dec, std::vector<uint8_t>* y, int width = 160,
                  int height = 16) {
  mpeg4test::LayerFields f;
  f.width = width;
  f.height = height;
  std::vector<uint8_t> config = mpeg4test::MakeLayer(f);
  uint32_t len = static_cast<uint32_t>(config.size());
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec->d, config.data(), &len, 0), 0);
  y->assign(static_cast<size_t>(width * height), 0);
  std::vector<uint8_t> u(y->size() / 4), v(y->size() / 4);
  videodec::DecodedPicture pic{y->data(), u.data(), v.data(), 0, 0, 0};
  len = static_cast<uint32_t>(vop.size());
  ASSERT_EQ(dec->d->DecodeFrameOut(dec->d, vop.data(), &len, &pic), 0);
}

void PutIntraVopHeader(mpeg4test::BitWriter& w, int quant) {
  w.Put(0x000001B6, 32);
  w.Put(0, 2);  // I-VOP
  w.Put(0, 1);  // modulo_time_base
  w.Put(1, 1);
  w.Put(3, 5);  // vop_time_increment (resolution 30: 5 bits)
  w.Put(1, 1);
  w.Put(1, 1);  // vop_coded
  w.Put(0, 3);  // intra_dc_vlc_thr
  w.Put(static_cast<uint32_t>(quant), 5);
}

void PutFlatIntraMacroblock(mpeg4test::BitWriter& w) {
  w.Code(videodec::kMpeg4McbpcIntra[0]);
  w.Put(0, 1);  // ac_pred_flag
  w.Code(videodec::kMpeg4Cbpy[0]);
  for (int b = 0; b < 6; ++b) w.Code(b < 4 ? videodec::kMpeg4DcSizeLuma[0] : videodec::kMpeg4DcSizeChroma[0]);
}

// An I-VOP of one row of ten flat macroblocks in two video packets, the
// second with a header extension; the VOP header itself is broken (vop_quant
// 0). The second packet's extension stands in for it.
TEST(Mpeg4Damage, HeaderExtensionReplacesALostVopHeader) {
  mpeg4test::BitWriter w;
  PutIntraVopHeader(w, 0);  // vop_quant 0: the header is refused
  for (int mb = 0; mb < 5; ++mb) PutFlatIntraMacroblock(w);
  w.Stuff();
  w.Put(1, 17);  // resync marker of an I-VOP
  w.Put(5, 4);   // macroblock_number (10 macroblocks: 4 bits)
  w.Put(8, 5);   // quant_scale
  w.Put(1, 1);   // header_extension_code
  w.Put(0, 1);   // modulo_time_base
  w.Put(1, 1);
  w.Put(3, 5);
  w.Put(1, 1);
  w.Put(0, 2);   // I
  w.Put(0, 3);   // intra_dc_vlc_thr
  for (int mb = 5; mb < 10; ++mb) PutFlatIntraMacroblock(w);
  w.Stuff();
  std::vector<uint8_t>& vop = w.bytes();

  Decoder dec;
  std::vector<uint8_t> y;
  ASSERT_NO_FATAL_FAILURE(DecodeRowVop(vop, &dec, &y));
  int32_t percent = -1;
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent), 0);
  EXPECT_EQ(percent, 50);
  for (int x = 80; x < 160; ++x) EXPECT_EQ(y[static_cast<size_t>(8 * 160 + x)], 128) << x;
}

}  // namespace

namespace {

// AC prediction saturates the predicted first row and column to -2048..2047
// before they predict the next macroblock. Two I macroblocks side by side
// (prediction from the left: nothing above) or one above the other (from
// above: a DC differential of +1 in block 0 turns the DC prediction upwards).
// Macroblock 0 (quantiser 1) codes level 2000 at (1, 0), or (0, 1), in block
// 0 and in the block predicted from it (1, or 2), which then holds 2000 + 2000,
// saturated to 2047. Macroblock 1 (quantiser 2) predicts its block 0 from
// that one, 2047 x 1 / 2 = 1024, and codes -1000 there: 24, a gentle ramp.
// Without the saturation 4000 / 2 - 1000 = 1000 would swing the block from 0
// to 255.
TEST(Mpeg4Damage, AcPredictionIsSaturatedBeforeItIsPassedOn) {
  for (const bool from_above : {false, true}) {
    mpeg4test::BitWriter w;
    PutIntraVopHeader(w, 1);
    auto escape_level = [&w](int level, int run) {  // escape mode 3, last
      w.Code(videodec::kMpeg4IntraTcoef[102]);
      w.Put(3, 2);
      w.Put(1, 1);
      w.Put(static_cast<uint32_t>(run), 6);
      w.Put(1, 1);
      w.Put(static_cast<uint32_t>(level) & 0xFFF, 12);
      w.Put(1, 1);
    };
    const int second = from_above ? 2 : 1;  // the block of macroblock 0 that predicts macroblock 1
    for (int mb = 0; mb < 2; ++mb) {
      w.Code(videodec::kMpeg4McbpcIntra[mb == 0 ? 0 : 4]);  // INTRA, INTRA+Q
      w.Put(1, 1);                                          // ac_pred_flag
      w.Code(videodec::kMpeg4Cbpy[mb == 0 ? 8 | (8 >> second) : 8]);
      if (mb == 1) w.Put(2, 2);  // DQUANT +1
      for (int b = 0; b < 6; ++b) {
        const bool up = from_above && mb == 0 && b == 0;
        w.Code(b < 4 ? videodec::kMpeg4DcSizeLuma[up ? 1 : 0] : videodec::kMpeg4DcSizeChroma[0]);
        if (up) w.Put(1, 1);  // DC differential +1
        // Block 0 of macroblock 0 is predicted from the left either way: its
        // alternate-vertical scan reaches (0, 1) at index 4.
        if (b == 0) escape_level(mb == 0 ? 2000 : -1000, mb == 0 && from_above ? 3 : 0);
        if (b == second && mb == 0) escape_level(2000, 0);
      }
    }
    if (!from_above)
      for (int mb = 2; mb < 10; ++mb) PutFlatIntraMacroblock(w);
    w.Stuff();
    Decoder dec;
    std::vector<uint8_t> y;
    const int width = from_above ? 16 : 160;
    ASSERT_NO_FATAL_FAILURE(DecodeRowVop(w.bytes(), &dec, &y, width, from_above ? 32 : 16));
    const int x0 = from_above ? 0 : 16, y0 = from_above ? 16 : 0;
    int lo = 255, hi = 0;
    for (int r = y0; r < y0 + 8; ++r)
      for (int c = x0; c < x0 + 8; ++c) {
        lo = std::min<int>(lo, y[static_cast<size_t>(r * width + c)]);
        hi = std::max<int>(hi, y[static_cast<size_t>(r * width + c)]);
      }
    EXPECT_GT(hi - lo, 8) << "from above " << from_above;
    EXPECT_LT(hi - lo, 64) << "from above " << from_above;
  }
}

// A failed macroblock takes the one or two before it in its video packet
// with it. An I-VOP of one row of ten flat macroblocks in two packets, the
// second from macroblock `second`; macroblock `bad` is an invalid mcbpc code.
// The rest of the failing packet is lost as well.
struct FailureCase {
  const char* name;
  int second, bad;
  std::vector<int> damaged;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Mpeg4Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Mpeg4Failure, MarksTheMacroblocksBeforeInItsPacket) {
  const FailureCase& c = GetParam();
  mpeg4test::BitWriter w;
  PutIntraVopHeader(w, 8);
  for (int mb = 0; mb < 10; ++mb) {
    if (mb == c.second) {
      w.Stuff();
      w.Put(1, 17);                               // resync marker of an I-VOP
      w.Put(static_cast<uint32_t>(c.second), 4);  // macroblock_number
      w.Put(8, 5);                                // quant_scale
      w.Put(0, 1);                                // no header extension
    }
    if (mb == c.bad) w.Put(0, 9);  // no intra mcbpc
    else PutFlatIntraMacroblock(w);
  }
  w.Stuff();
  std::vector<uint8_t>& vop = w.bytes();
  Decoder dec;
  std::vector<uint8_t> y;
  ASSERT_NO_FATAL_FAILURE(DecodeRowVop(vop, &dec, &y));
  uint8_t map[2] = {};
  ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_MAP, map), 0);
  std::vector<int> damaged;
  for (int mb = 0; mb < 10; ++mb)
    if (!(map[mb / 8] & (0x80 >> (mb % 8)))) damaged.push_back(mb);
  EXPECT_EQ(damaged, c.damaged);
}

INSTANTIATE_TEST_SUITE_P(Cases, Mpeg4Failure,
                         ::testing::Values(FailureCase{"TwoBefore", 6, 3, {1, 2, 3, 4, 5}},
                                           FailureCase{"OneBeforeInThePacket", 5, 6, {5, 6, 7, 8, 9}},
                                           FailureCase{"FirstOfThePacket", 5, 5, {5, 6, 7, 8, 9}}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace

namespace {

// Short video header: INTRADC 0 and 128 are unused codes (ITU-T H.263 Table
// 15); either fails its macroblock, 1 and 254 decode. A sub-QCIF intra
// picture of flat macroblocks, the value in block 0 of macroblock 20.
TEST(Mpeg4Damage, ShortHeaderIntraDcRefusesTheUnusedCodes) {
  for (const int dc : {0, 1, 128, 254}) {
    mpeg4test::BitWriter w;
    w.Put(0x20, 22);  // picture start code
    w.Put(0, 8);      // temporal reference
    w.Put(0x81, 8);   // PTYPE: 1, 0, split, camera, freeze, sub-QCIF
    w.Put(0, 5);      // I picture, no options
    w.Put(8, 5);      // PQUANT
    w.Put(0, 2);      // CPM, PEI
    for (int mb = 0; mb < 48; ++mb) {
      w.Put(1, 1);    // MCBPC: INTRA, CBPC 00
      w.Put(3, 4);    // CBPY 0000
      for (int b = 0; b < 6; ++b) w.Put(static_cast<uint32_t>(mb == 20 && b == 0 ? dc : 100), 8);
    }
    w.Put(0, 7);
    w.Put(0x20, 22);  // the next picture's start code ends this one
    w.Put(0, 10);
    std::vector<uint8_t>& bytes = w.bytes();
    Decoder dec;
    uint32_t len = 0;
    ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, nullptr, &len, 0), 0);
    std::vector<uint8_t> y(128 * 96), u(y.size() / 4), v(y.size() / 4);
    videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
    len = static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(dec.d->DecodeFrameOut(dec.d, bytes.data(), &len, &pic), 0) << dc;
    int32_t percent = -1;
    ASSERT_EQ(dec.d->GetDecoderParam(dec.d, videodec::VDEC_PARAM_DAMAGED_PERCENT, &percent), 0);
    if (dc == 0 || dc == 128) {
      EXPECT_GT(percent, 0) << dc;
    } else {
      EXPECT_EQ(percent, 0) << dc;
    }
  }
}

}  // namespace
