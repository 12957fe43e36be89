// Set-up from the stream headers and the code tables of the MPEG-4 decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "codecs/videodec/mpeg4/mpeg4_vlc.h"
#include "tests/videodec/mpeg4_test_util.h"

namespace {

using mpeg4test::LayerFields;

TEST(Mpeg4Tables, EveryCodeListIsPrefixFree) { EXPECT_EQ(videodec::Mpeg4VlcSelfCheck(), 0); }

TEST(Mpeg4Tables, EscapeLimits) {
  // Tables B-19 to B-22 (LMAX and RMAX of the escape modes).
  EXPECT_EQ(videodec::Mpeg4MaxLevel(videodec::kMpeg4TableIntra, 0, 0), 27);
  EXPECT_EQ(videodec::Mpeg4MaxLevel(videodec::kMpeg4TableIntra, 1, 0), 8);
  EXPECT_EQ(videodec::Mpeg4MaxLevel(videodec::kMpeg4TableInter, 0, 0), 12);
  EXPECT_EQ(videodec::Mpeg4MaxLevel(videodec::kMpeg4TableInter, 1, 1), 2);
  EXPECT_EQ(videodec::Mpeg4MaxRun(videodec::kMpeg4TableIntra, 0, 1), 14);
  EXPECT_EQ(videodec::Mpeg4MaxRun(videodec::kMpeg4TableIntra, 1, 1), 20);
  EXPECT_EQ(videodec::Mpeg4MaxRun(videodec::kMpeg4TableInter, 0, 1), 26);
  EXPECT_EQ(videodec::Mpeg4MaxRun(videodec::kMpeg4TableInter, 1, 1), 40);
  EXPECT_EQ(videodec::Mpeg4MaxRun(videodec::kMpeg4TableInter, 0, 2), 10);
}

struct LayerCase {
  const char* name;
  LayerFields fields;
  int32_t result;
  int mb_number_bits;  // when accepted
};

LayerFields With(void (*change)(LayerFields&)) {
  LayerFields f;
  change(f);
  return f;
}

const LayerCase kLayers[] = {
    {"qcif", LayerFields{}, 0, 7},
    {"one_macroblock", With([](LayerFields& f) { f.width = 16; f.height = 16; }), 0, 1},
    {"cif", With([](LayerFields& f) { f.width = 352; f.height = 288; }), 0, 9},
    {"odd_size", With([](LayerFields& f) { f.width = 171; f.height = 131; }), 0, 7},
    // 16384 macroblocks: the most a 14-bit macroblock number addresses.
    {"largest", With([](LayerFields& f) { f.width = 2048; f.height = 2048; }), 0, 14},
    // 65536 macroblocks would wrap a 16-bit count to 0 and undersize every array.
    {"too_many_macroblocks", With([](LayerFields& f) { f.width = 4096; f.height = 4096; }),
     videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"zero_width", With([](LayerFields& f) { f.width = 0; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"interlaced", With([](LayerFields& f) { f.interlaced = 1; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"mpeg_quantisation", With([](LayerFields& f) { f.quant_type = 1; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"binary_shape", With([](LayerFields& f) { f.shape = 1; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"static_sprite", With([](LayerFields& f) { f.sprite = 1; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"gmc_sprite_verid2", With([](LayerFields& f) { f.verid = 2; f.sprite = 2; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"scalability", With([](LayerFields& f) { f.scalability = 1; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"zero_time_resolution", With([](LayerFields& f) { f.resolution = 0; }), videodec::VDEC_BAD_STREAM_HEADER, 0},
    {"partitioned_rvlc", With([](LayerFields& f) { f.data_partitioned = 1; f.reversible_vlc = 1; }), 0, 7},
};

class Mpeg4Layer : public ::testing::TestWithParam<LayerCase> {};

TEST_P(Mpeg4Layer, SetsUpOrRefuses) {
  const LayerCase& c = GetParam();
  std::vector<uint8_t> config = mpeg4test::MakeLayer(c.fields);
  uint32_t len = static_cast<uint32_t>(config.size());
  videodec::VideoDecoder* dec = nullptr;
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, config.data(), &len, 0), c.result);
  if (c.result != 0) {
    EXPECT_EQ(dec, nullptr);
    EXPECT_EQ(len, 0u);
    return;
  }
  ASSERT_NE(dec, nullptr);
  EXPECT_EQ(len, config.size());
  const auto* d = static_cast<const videodec::Mpeg4Decoder*>(dec);
  EXPECT_EQ(d->vop.mb_number_bits, c.mb_number_bits);
  EXPECT_EQ(d->mb_count, ((c.fields.width + 15) / 16u) * ((c.fields.height + 15) / 16u));
  EXPECT_EQ(d->pictures[0].width, (c.fields.width + 15) & ~15);
  EXPECT_EQ(d->layer.data_partitioned, c.fields.data_partitioned);
  EXPECT_EQ(d->layer.reversible_vlc, c.fields.reversible_vlc);
  // The buffers are cleared at creation: a picture asked for before any
  // decoding is black, not memory garbage.
  const videodec::DecodedPicture* pic = nullptr;
  ASSERT_EQ(dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic), 0);
  EXPECT_EQ(pic->y[0], 0);
  EXPECT_EQ(pic->y[pic->width * pic->height - 1], 0);
  EXPECT_EQ(pic->u[0], 128);
  EXPECT_EQ(dec->DestroyDecoder(dec), 0);
}

INSTANTIATE_TEST_SUITE_P(Layers, Mpeg4Layer, ::testing::ValuesIn(kLayers),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Mpeg4Setup, ConfigurationRules) {
  // Visual object sequence (Simple Profile level 3) and visual object in
  // front of the layer; user data after it is consumed with it.
  std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0xB0, 0x03, 0x00, 0x00, 0x01, 0xB5, 0x09};
  const auto layer = mpeg4test::MakeLayer(LayerFields{});
  const std::vector<uint8_t> vo_id = {0x00, 0x00, 0x01, 0x00};
  config.insert(config.end(), vo_id.begin(), vo_id.end());
  config.insert(config.end(), layer.begin(), layer.end());
  const std::vector<uint8_t> user = {0x00, 0x00, 0x01, 0xB2, 'o', 'v', 'm', 'x'};
  config.insert(config.end(), user.begin(), user.end());
  uint32_t len = static_cast<uint32_t>(config.size());
  videodec::VideoDecoder* dec = nullptr;
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, config.data(), &len, 0), 0);
  EXPECT_EQ(len, config.size());
  const auto* d = static_cast<const videodec::Mpeg4Decoder*>(dec);
  EXPECT_EQ(d->stream.profile_class, 0);
  EXPECT_EQ(d->stream.level, 3);
  EXPECT_EQ(d->mb_count, 99u);
  dec->DestroyDecoder(dec);

  // A short video header is no configuration.
  std::vector<uint8_t> short_header = {0x00, 0x00, 0x80, 0x02, 0x08, 0x00, 0x00, 0x00};
  len = static_cast<uint32_t>(short_header.size());
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, short_header.data(), &len, 0), videodec::VDEC_BAD_STREAM_HEADER);
  EXPECT_EQ(len, 0u);

  // Too short to hold a layer.
  std::vector<uint8_t> cut(layer.begin(), layer.begin() + 6);
  len = static_cast<uint32_t>(cut.size());
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, cut.data(), &len, 0), videodec::VDEC_INPUT_EXHAUSTED);
  std::vector<uint8_t> tiny = {0x00, 0x00};
  len = 2;
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, tiny.data(), &len, 0), videodec::VDEC_INPUT_EXHAUSTED);

  // Null pointers.
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(nullptr, config.data(), &len, 0), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, config.data(), nullptr, 0), videodec::VDEC_ERR_ARGUMENT);
}

// The visual object's video signal type says whether samples are full range
// (video_range); without it, or with video_range 0, they are studio range.
TEST(Mpeg4Setup, SampleRangeFromTheVisualObject) {
  struct RangeCase {
    std::vector<uint8_t> visual_object;  // after its start code
    int32_t full;
  };
  // is_visual_object_identifier 0, type 1 (video), then: no video_signal_type;
  // video_signal_type with video_format 5, video_range 1 or 0, no colour
  // description; each followed by next_start_code stuffing.
  const RangeCase cases[] = {{{0x09}, 0}, {{0x0E, 0xCF}, 1}, {{0x0E, 0x8F}, 0}};
  for (const RangeCase& c : cases) {
    std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0xB0, 0x03, 0x00, 0x00, 0x01, 0xB5};
    config.insert(config.end(), c.visual_object.begin(), c.visual_object.end());
    const std::vector<uint8_t> vo_id = {0x00, 0x00, 0x01, 0x00};
    config.insert(config.end(), vo_id.begin(), vo_id.end());
    const auto layer = mpeg4test::MakeLayer(LayerFields{});
    config.insert(config.end(), layer.begin(), layer.end());
    uint32_t len = static_cast<uint32_t>(config.size());
    videodec::VideoDecoder* dec = nullptr;
    ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, config.data(), &len, 0), 0);
    int32_t full = -1;
    EXPECT_EQ(dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FULL_RANGE, &full), videodec::VDEC_OK);
    EXPECT_EQ(full, c.full) << int(c.visual_object[0]);
    dec->DestroyDecoder(dec);
  }
}

TEST(Mpeg4Setup, SlotsCheckTheirArguments) {
  videodec::VideoDecoder* dec = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, nullptr, &len, 3), 0);
  int32_t level = -1;
  EXPECT_EQ(dec->GetDecoderParam(dec, videodec::VDEC_PARAM_POSTFILTER_LEVEL, &level), 0);
  EXPECT_EQ(level, 3);
  uint8_t byte = 0;
  len = 0;
  EXPECT_EQ(dec->DecodeFrame(dec, &byte, &len), videodec::VDEC_EMPTY_INPUT);
  EXPECT_EQ(dec->DecodeFrame(dec, nullptr, &len), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec->DecodeFrame(nullptr, &byte, &len), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec->SetDecoderParam(dec, 7, 0), videodec::VDEC_ERR_STREAM);
  EXPECT_EQ(dec->GetDecoderParam(dec, 4, &level), videodec::VDEC_ERR_STREAM);
  EXPECT_EQ(dec->GetDecoderParam(dec, 0, nullptr), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec->SetDecoderParam(dec, videodec::VDEC_PARAM_DECODE_VARIANT, 1), 0);
  const uint8_t end_code[] = {0x00, 0x00, 0x01, 0xB1};
  len = 4;
  EXPECT_EQ(dec->DecodeFrame(dec, end_code, &len), videodec::VDEC_END_OF_SEQUENCE);
  EXPECT_EQ(dec->DecodeFrame(dec, nullptr, &len), videodec::VDEC_EMPTY_INPUT);
  EXPECT_EQ(dec->ResetDecoder(nullptr), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec->DestroyDecoder(nullptr), videodec::VDEC_ERR_ARGUMENT);
  EXPECT_EQ(dec->DestroyDecoder(dec), 0);
}

}  // namespace
