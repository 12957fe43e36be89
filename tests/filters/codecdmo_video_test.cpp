// The H.263 and MPEG-4 encoder objects driven through IMediaObject: types,
// level and profile choice, properties, samples and their stamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "filters/codecdmo/codecdmo.h"
#include "filters/codecdmo/video_encoder_dmo.h"
#include "tests/filters/codecdmo_test_util.h"
#include "filters/codecdmo/video_frame_buffer.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/media_type.h"

namespace codecdmo {
namespace {

using com::ComPtr;
using com::E_INVALIDARG;
using com::S_FALSE;
using com::S_OK;
using dshow::DMO_E_NOTACCEPTING;
using dshow::DMO_E_TYPE_NOT_ACCEPTED;


dshow::MediaType VideoType(int width, int height, int64_t per_frame = 666666, const GUID& subtype = MEDIASUBTYPE_I420,
                           uint32_t compression = 0) {
  dshow::MediaType t;
  dshow::MoInitMediaType(t.get(), dshow::kVideoInfoHeaderSize);
  t->majortype = dshow::MEDIATYPE_PrivateVideo;
  t->subtype = subtype;
  t->formattype = dshow::FORMAT_VideoInfo;
  t->lSampleSize = static_cast<uint32_t>(width * height * 3 / 2);
  dshow::VideoInfoHeader info;
  info.AvgTimePerFrame = per_frame;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biCompression = compression;
  dshow::WriteVideoInfoHeader(info, t->pbFormat);
  return t;
}


com::VARIANT Read(dshow::IMediaObject* object, const char16_t* name) {
  ComPtr<com::IPropertyBag> bag;
  EXPECT_EQ(object->QueryInterface(com::IID_IPropertyBag, bag.ReceiveVoid()), S_OK);
  com::VARIANT v;
  com::VariantInit(&v);
  EXPECT_EQ(bag->Read(name, &v, nullptr), S_OK) << ov::String(name).ToUtf8Lossy();
  return v;
}

// Sets the input type and the offered output type.
void Connect(dshow::IMediaObject* object, const dshow::MediaType& input, dshow::MediaType* output) {
  ASSERT_EQ(object->SetInputType(0, input.get(), 0), S_OK);
  ASSERT_EQ(object->GetOutputType(0, 0, output->get()), S_OK);
  ASSERT_EQ(object->SetOutputType(0, output->get(), 0), S_OK);
}

// A grey frame with a moving bright square: frame k of w x h I420.
std::vector<uint8_t> Frame(int w, int h, int k) {
  std::vector<uint8_t> f(static_cast<size_t>(w * h * 3 / 2), 128);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) f[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>((x * 3 + y * 5 + k * 7) & 255);
  }
  return f;
}

struct Sample {
  std::vector<uint8_t> data;
  HRESULT hr = S_OK;
  uint32_t status = 0;
  int64_t time = 0;
};

Sample Encode(dshow::IMediaObject* object, const std::vector<uint8_t>& frame, int64_t time, uint32_t out_bytes = 0) {
  Sample s;
  ComPtr<dshow::IMediaBuffer> in = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(
      static_cast<uint32_t>(frame.size())));
  uint8_t* p = nullptr;
  in->GetBufferAndLength(&p, nullptr);
  std::memcpy(p, frame.data(), frame.size());
  in->SetLength(static_cast<uint32_t>(frame.size()));
  EXPECT_EQ(object->ProcessInput(0, in.Get(), dshow::DMO_INPUT_DATA_BUFFERF_TIME, time, 0), S_OK);
  if (out_bytes == 0) {
    uint32_t alignment = 0;
    EXPECT_EQ(object->GetOutputSizeInfo(0, &out_bytes, &alignment), S_OK);
  }
  ComPtr<dshow::IMediaBuffer> out = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(out_bytes));
  dshow::DMO_OUTPUT_DATA_BUFFER buffer{out.Get(), 0, 0, 0};
  uint32_t status = 0;
  s.hr = object->ProcessOutput(0, 1, &buffer, &status);
  s.status = buffer.dwStatus;
  s.time = buffer.rtTimestamp;
  uint32_t length = 0;
  out->GetBufferAndLength(&p, &length);
  s.data.assign(p, p + length);
  return s;
}

bool HasStartCode(const std::vector<uint8_t>& d, uint8_t code) {
  for (size_t i = 0; i + 3 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == code) return true;
  }
  return false;
}

TEST(VideoFrameBuffer, AllocatesPlanesByCode) {
  VideoFrameBuffer f;
  ASSERT_EQ(AllocateVideoFrameBuffer(&f, 175, 144, 2), 0);
  EXPECT_EQ(f.width, 176);
  EXPECT_EQ(f.size, 38016u);
  EXPECT_EQ(f.u - f.y, 25344);
  EXPECT_EQ(f.v - f.y, 31680);
  EXPECT_EQ(FreeVideoFrameBuffer(&f), 0);
  EXPECT_EQ(f.y, nullptr);
  ASSERT_EQ(AllocateVideoFrameBuffer(&f, 16, 16, 1024), 0);
  EXPECT_EQ(f.u - f.v, 64);
  FreeVideoFrameBuffer(&f);
  EXPECT_EQ(AllocateVideoFrameBuffer(&f, 16, 16, 3), -3);
  EXPECT_EQ(f.y, nullptr);
  EXPECT_EQ(f.size, 0u);
  EXPECT_EQ(FreeVideoFrameBuffer(nullptr), -1);
}

// Level and profile of the H.263 output type (bytes 88-99 with the marker).
struct H263Case {
  int width, height;
  int64_t per_frame;
  int32_t kbps;
  uint32_t level, profile;
};

class H263Levels : public ::testing::TestWithParam<H263Case> {};

TEST_P(H263Levels, OutputTypeCarriesLevelProfileAndMarker) {
  const H263Case& c = GetParam();
  auto object = Make(CreateH263EncDmo);
  ASSERT_EQ(Write(object.Get(), u"BitRate", com::VT_UI4, c.kbps * 1000), S_OK);
  dshow::MediaType output;
  Connect(object.Get(), VideoType(c.width, c.height, c.per_frame), &output);
  ASSERT_EQ(output->cbFormat, 100u);
  EXPECT_TRUE(output->subtype == MEDIASUBTYPE_H263Stream);
  const uint8_t* f = output->pbFormat;
  EXPECT_EQ(Le32(f + 48), 52u);  // bitmap header size
  EXPECT_EQ(Le32(f + 52), static_cast<uint32_t>(c.width));
  EXPECT_EQ(Le32(f + 56), static_cast<uint32_t>(c.height));
  EXPECT_EQ(Le32(f + 64), kFourccM4S2);
  EXPECT_EQ(Le32(f + 88), c.level);
  EXPECT_EQ(Le32(f + 92), c.profile);
  EXPECT_EQ(Le32(f + 96), 0x55AAu);
  EXPECT_EQ(Read(object.Get(), u"SetEncoderLevel").intVal, static_cast<int32_t>(c.level));
}

INSTANTIATE_TEST_SUITE_P(Sizes, H263Levels,
                         ::testing::Values(H263Case{176, 144, 666666, 115, 20, 0}, H263Case{176, 144, 666666, 64, 10, 0},
                                           H263Case{144, 176, 666666, 115, 50, 3}, H263Case{320, 240, 666666, 256, 70, 3},
                                           H263Case{352, 288, 333333, 384, 30, 0}, H263Case{352, 288, 666666, 128, 20, 0}));

TEST(Mpeg4Level, FollowsSizeRateBitRateAndPacket) {
  EXPECT_EQ(ChooseMpeg4Level(144, 176, 15, 64000, 1024), 0);
  EXPECT_EQ(ChooseMpeg4Level(144, 176, 15, 115000, 1024), 10);
  EXPECT_EQ(ChooseMpeg4Level(144, 176, 30, 115000, 1024), 3);
  EXPECT_EQ(ChooseMpeg4Level(240, 320, 15, 256000, 1024), 3);
  EXPECT_EQ(ChooseMpeg4Level(480, 640, 30, 2000000, 1024), 4);
  EXPECT_EQ(ChooseMpeg4Level(144, 176, 15, 64000, 4096), 2);
  // A bit rate of 0 is estimated from the picture: 176 x 144 x 15 x 0.342.
  EXPECT_EQ(ChooseMpeg4Level(144, 176, 15, 0, 1024), 3);
}

TEST(VideoTypes, RefusedSizesRatesAndFormats) {
  struct Case {
    CreateFn create;
    int width, height;
    int64_t per_frame;
    HRESULT expected;
  };
  const Case cases[] = {
      {CreateH263EncDmo, 98, 96, 666666, DMO_E_TYPE_NOT_ACCEPTED},  // not a multiple of 4
      {CreateH263EncDmo, 724, 576, 666666, DMO_E_TYPE_NOT_ACCEPTED},
      {CreateH263EncDmo, 92, 96, 666666, DMO_E_TYPE_NOT_ACCEPTED},  // below 96
      {CreateH263EncDmo, 176, 144, 300000, E_INVALIDARG},           // 33.33 frames/s
      {CreateH263EncDmo, 176, 144, 333333, S_OK},                   // 30.00
      {CreateMpeg4EncDmo, 40, 40, 666666, S_OK},
      {CreateMpeg4EncDmo, 36, 40, 666666, DMO_E_TYPE_NOT_ACCEPTED},
      {CreateMpeg4EncDmo, 176, 144, 200000, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    auto object = Make(c.create);
    EXPECT_EQ(object->SetInputType(0, VideoType(c.width, c.height, c.per_frame).get(), 0), c.expected)
        << c.width << "x" << c.height << " " << c.per_frame;
  }
  auto object = Make(CreateH263EncDmo);
  dshow::MediaType no_block = VideoType(176, 144);
  dshow::MoFreeMediaType(no_block.get());
  no_block->formattype = dshow::FORMAT_VideoInfo;
  EXPECT_EQ(object->SetInputType(0, no_block.get(), 0), E_INVALIDARG);
  dshow::MediaType public_video = VideoType(176, 144);
  public_video->majortype = dshow::MEDIATYPE_Video;
  EXPECT_EQ(object->SetInputType(0, public_video.get(), 0), DMO_E_TYPE_NOT_ACCEPTED);
  // "SetDiscardBuffering" switches the object to the public major type.
  ASSERT_EQ(Write(object.Get(), u"SetDiscardBuffering", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
  EXPECT_EQ(object->SetInputType(0, public_video.get(), 0), S_OK);
  EXPECT_EQ(object->SetInputType(0, VideoType(352, 288).get(), 0), DMO_E_TYPE_NOT_ACCEPTED);
  dshow::MediaType out;
  EXPECT_EQ(Make(CreateMpeg4EncDmo)->GetOutputType(0, 0, out.get()), dshow::DMO_E_TYPE_NOT_SET);
}

TEST(VideoProperties, TypesAndRangesAreChecked) {
  auto h263 = Make(CreateH263EncDmo);
  EXPECT_EQ(Write(h263.Get(), u"BitRate", com::VT_UI4, 23999), E_INVALIDARG);
  EXPECT_EQ(Write(h263.Get(), u"BitRate", com::VT_UI4, 2048001), E_INVALIDARG);
  EXPECT_EQ(Write(h263.Get(), u"BitRate", com::VT_BOOL, -1), E_INVALIDARG);
  EXPECT_EQ(Write(h263.Get(), u"SearchRange", com::VT_INT, 16), E_INVALIDARG);
  EXPECT_EQ(Write(h263.Get(), u"NoSuchProperty", com::VT_INT, 1), E_INVALIDARG);
  EXPECT_EQ(Write(h263.Get(), nullptr, com::VT_INT, 1), E_INVALIDARG);
  {
    ComPtr<com::IPropertyBag> bag;
    ASSERT_EQ(h263.As(com::IID_IPropertyBag, &bag), S_OK);
    EXPECT_EQ(bag->Write(u"BitRate", nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->Read(u"BitRate", nullptr, nullptr), E_INVALIDARG);
    com::VARIANT v;
    com::VariantInit(&v);
    EXPECT_EQ(bag->Read(u"VOPRate", &v, nullptr), E_INVALIDARG);  // write-only
    EXPECT_EQ(bag->Read(u"GetMaxFrameSize", &v, nullptr), com::E_FAIL);  // no encoder yet
  }
  EXPECT_EQ(Write(h263.Get(), u"bitrate", com::VT_UI4, 64000), S_OK);  // names ignore case
  EXPECT_EQ(Read(h263.Get(), u"BitRate").intVal, 64000);
  EXPECT_EQ(Read(h263.Get(), u"SearchRange").intVal, 15);

  auto mpeg4 = Make(CreateMpeg4EncDmo);
  // The graph writes the complexity as VT_INT and the rate-control switch as
  // VARIANT_TRUE; an unsigned complexity or a true of 1 change nothing.
  EXPECT_EQ(Write(mpeg4.Get(), u"EncodingComplexity", com::VT_UINT, 2), E_INVALIDARG);
  EXPECT_EQ(Read(mpeg4.Get(), u"EncodingComplexity").intVal, 1);
  EXPECT_EQ(Write(mpeg4.Get(), u"EncodingComplexity", com::VT_INT, 2), S_OK);
  EXPECT_EQ(Read(mpeg4.Get(), u"EncodingComplexity").intVal, 2);
  EXPECT_EQ(Write(mpeg4.Get(), u"SetRCMode", com::VT_BOOL, 1), S_OK);
  EXPECT_EQ(Read(mpeg4.Get(), u"SetRCMode").boolVal, com::VARIANT_FALSE);
  EXPECT_EQ(Write(mpeg4.Get(), u"SetRCMode", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
  EXPECT_EQ(Read(mpeg4.Get(), u"SetRCMode").boolVal, com::VARIANT_TRUE);
  EXPECT_EQ(Write(mpeg4.Get(), u"SearchRange", com::VT_INT, 63), S_OK);
  EXPECT_EQ(Write(mpeg4.Get(), u"SearchRange", com::VT_INT, 64), E_INVALIDARG);
  EXPECT_EQ(Write(mpeg4.Get(), u"BitRate", com::VT_UI4, 6000001), E_INVALIDARG);

  ComPtr<IMpeg4EncSettings> settings;
  ASSERT_EQ(mpeg4.As(IID_IMpeg4EncSettings, &settings), S_OK);
  Mpeg4EncSettings record{};
  record.size = 100;
  EXPECT_EQ(settings->GetSettings(&record), E_INVALIDARG);
  EXPECT_EQ(record.size, 128u);
  ASSERT_EQ(settings->GetSettings(&record), S_OK);
  EXPECT_EQ(record.rateControl, 1);
  EXPECT_EQ(record.complexity, 2u);
  EXPECT_EQ(record.packetSize, 1024u);
  ComPtr<IH263EncSettings> h263_settings;
  ASSERT_EQ(h263.As(IID_IH263EncSettings, &h263_settings), S_OK);
  DmoInputFormat format{};
  EXPECT_EQ(h263_settings->GetInputFormat(&format), com::E_FAIL);  // no input type yet
}

// Once streaming, a property that re-creates the encoder is refused: the
// output type is set.
TEST(VideoProperties, StoredPropertiesRefusedOnceConnected) {
  auto object = Make(CreateMpeg4EncDmo);
  dshow::MediaType output;
  Connect(object.Get(), VideoType(176, 144), &output);
  EXPECT_EQ(Write(object.Get(), u"SetRCMode", com::VT_BOOL, com::VARIANT_TRUE), com::E_FAIL);
  EXPECT_EQ(Read(object.Get(), u"SetRCMode").boolVal, com::VARIANT_FALSE);
  EXPECT_EQ(Write(object.Get(), u"BitRate", com::VT_UI4, 64000), S_OK);  // live
  EXPECT_EQ(Read(object.Get(), u"BitRate").ulVal, 64000u);
}

// A frame rate written while the encoder runs stays the object's rate: a
// later stored property re-creates the encoder from the kept settings at the
// new rate, and the output type offered then says so.
TEST(VideoProperties, TheVopRateOutlivesARebuild) {
  auto object = Make(CreateH263EncDmo);
  ComPtr<IH263EncSettings> settings;
  ASSERT_EQ(object.As(IID_IH263EncSettings, &settings), S_OK);
  ASSERT_EQ(object->SetInputType(0, VideoType(176, 144, 666666).get(), 0), S_OK);  // 15 frames/s
  EXPECT_EQ(Write(object.Get(), u"VOPRate", com::VT_UI4, 10), S_OK);
  EXPECT_EQ(Write(object.Get(), u"SetModQuant", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
  venc::EncoderCreateParams params{};
  ASSERT_EQ(settings->GetCreateParams(&params), S_OK);
  EXPECT_EQ(params.frameRate, 10.0f);
  dshow::MediaType output;
  ASSERT_EQ(object->GetOutputType(0, 0, output.get()), S_OK);
  dshow::VideoInfoHeader info;
  ASSERT_TRUE(dshow::ReadVideoInfoHeader(output->pbFormat, output->cbFormat, &info));
  EXPECT_EQ(info.AvgTimePerFrame, 1000000);
}

// The MPEG-4 output type carries the stream header after the bitmap header;
// with an output buffer of exactly the size the object asks for, the first
// sample is a whole intra frame without it, and the first two are sync points.
TEST(Mpeg4Samples, HeaderInTypeNotInFirstSample) {
  auto object = Make(CreateMpeg4EncDmo);
  dshow::MediaType output;
  Connect(object.Get(), VideoType(176, 144), &output);
  ASSERT_GT(output->cbFormat, 88u);
  const uint32_t header = output->cbFormat - 88;
  EXPECT_EQ(Le32(output->pbFormat + 48), 40 + header);
  const std::vector<uint8_t> stream_header(output->pbFormat + 88, output->pbFormat + output->cbFormat);
  EXPECT_TRUE(HasStartCode(stream_header, 0xB0));  // VOS
  EXPECT_TRUE(HasStartCode(stream_header, 0x20));  // VOL
  for (int k = 0; k < 4; ++k) {
    const Sample s = Encode(object.Get(), Frame(176, 144, k), k * 666666);
    ASSERT_EQ(s.hr, S_OK) << k;
    ASSERT_FALSE(s.data.empty()) << k;
    EXPECT_EQ(s.time, k * 666666);
    EXPECT_EQ((s.status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT) != 0, k < 2) << k;
    EXPECT_FALSE(HasStartCode(s.data, 0xB0)) << k;
    EXPECT_FALSE(HasStartCode(s.data, 0x20)) << k;
    // A GOV header (B3) before an intra VOP, else the VOP (B6) opens the sample.
    EXPECT_EQ(s.data[0] | s.data[1] | (s.data[2] ^ 1), 0) << k;
    EXPECT_EQ(s.data[3], k < 2 ? 0xB3 : 0xB6) << k;
  }
  // A new streaming run starts the stream again; its header stays out too.
  ASSERT_EQ(object->FreeStreamingResources(), S_OK);
  const Sample again = Encode(object.Get(), Frame(176, 144, 0), 0);
  ASSERT_EQ(again.hr, S_OK);
  EXPECT_FALSE(HasStartCode(again.data, 0xB0));
  EXPECT_NE(again.status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT, 0u);
}

TEST(H263Samples, RefusesSmallOutputAndShortInput) {
  auto object = Make(CreateH263EncDmo);
  dshow::MediaType output;
  Connect(object.Get(), VideoType(176, 144), &output);
  uint32_t size = 0, alignment = 0;
  ASSERT_EQ(object->GetOutputSizeInfo(0, &size, &alignment), S_OK);
  EXPECT_EQ(Encode(object.Get(), Frame(176, 144, 0), 0, size - 1).hr, com::E_FAIL);
  // The held frame is coded by the next call with room.
  ComPtr<dshow::IMediaBuffer> out = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(size));
  dshow::DMO_OUTPUT_DATA_BUFFER buffer{out.Get(), 0, 0, 0};
  uint32_t status = 0;
  ASSERT_EQ(object->ProcessOutput(0, 1, &buffer, &status), S_OK);
  EXPECT_NE(buffer.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT, 0u);
  // Half a frame is dropped, not read past its end (by the encoder, or by
  // the conversion of a layout that needs one).
  std::vector<uint8_t> half = Frame(176, 144, 1);
  half.resize(half.size() / 2);
  EXPECT_EQ(Encode(object.Get(), half, 666666).hr, S_FALSE);
  auto rgb = Make(CreateH263EncDmo);
  dshow::MediaType rgb_output;
  Connect(rgb.Get(), VideoType(176, 144, 666666, dshow::MEDIASUBTYPE_RGB565), &rgb_output);
  EXPECT_EQ(Encode(rgb.Get(), std::vector<uint8_t>(176 * 144, 0x40), 0).hr, S_FALSE);
  EXPECT_EQ(Encode(rgb.Get(), std::vector<uint8_t>(176 * 144 * 2, 0x40), 0).hr, S_OK);
  // A buffer is held until ProcessOutput takes it.
  ComPtr<dshow::IMediaBuffer> in = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(38016));
  in->SetLength(38016);
  ASSERT_EQ(object->ProcessInput(0, in.Get(), 0, 0, 0), S_OK);
  EXPECT_EQ(object->ProcessInput(0, in.Get(), 0, 0, 0), DMO_E_NOTACCEPTING);
  EXPECT_EQ(object->Discontinuity(0), DMO_E_NOTACCEPTING);
}

// The codec behind a video object, reached for the test through the
// object's own field.
struct CodecOf : VideoEncoderDmo {
  static venc::VideoEncoder* Get(dshow::IMediaObject* object) {
    return static_cast<VideoEncoderDmo*>(object)->*(&CodecOf::encoder_);
  }
};

// The codec's own EncodeFrame until its g_fail_at-th frame, then a refusal.
venc::EncodeFrameFn g_real_encode = nullptr;
int g_encoded = 0, g_fail_at = 0;
venc::VideoEncoderResult FailingEncode(venc::VideoEncoder* enc, const uint8_t* input, uint32_t input_bytes, int32_t time,
                                       int32_t force_intra, uint8_t* output, uint32_t* io_bytes, int32_t* frame_type) {
  if (++g_encoded >= g_fail_at) return venc::VENC_ERR_REJECTED;
  return g_real_encode(enc, input, input_bytes, time, force_intra, output, io_bytes, frame_type);
}

// A frame the codec fails on fails ProcessOutput (the stream would go on
// without its picture), the first frame and a later one alike, for both
// objects; the frame is dropped, so the object takes the next one.
TEST(VideoEncoderErrors, AFailingCodecFailsProcessOutput) {
  for (CreateFn create : {CreateH263EncDmo, CreateMpeg4EncDmo}) {
    for (int fail_at : {1, 3}) {
      SCOPED_TRACE(testing::Message() << (create == CreateH263EncDmo ? "H.263" : "MPEG-4") << ", frame " << fail_at);
      auto object = Make(create);
      dshow::MediaType output;
      Connect(object.Get(), VideoType(176, 144), &output);
      venc::VideoEncoder* codec = CodecOf::Get(object.Get());
      ASSERT_NE(codec, nullptr);
      g_real_encode = codec->EncodeFrame;
      codec->EncodeFrame = FailingEncode;
      g_encoded = 0;
      g_fail_at = fail_at;
      for (int k = 1; k < fail_at; ++k) EXPECT_EQ(Encode(object.Get(), Frame(176, 144, k), k * 666666).hr, S_OK);
      EXPECT_EQ(Encode(object.Get(), Frame(176, 144, fail_at), fail_at * 666666).hr, com::E_FAIL);
      g_fail_at = INT32_MAX;
      EXPECT_EQ(Encode(object.Get(), Frame(176, 144, fail_at + 1), (fail_at + 1) * 666666).hr, S_OK);
      codec->EncodeFrame = g_real_encode;
    }
  }
}

// Property writes from another thread while frames are coded: the object's
// lock keeps the encoder to one caller at a time.
TEST(VideoProperties, WritesWhileStreaming) {
  auto object = Make(CreateH263EncDmo);
  dshow::MediaType output;
  Connect(object.Get(), VideoType(176, 144), &output);
  std::thread writer([&] {
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(Write(object.Get(), u"BitRate", com::VT_UI4, 64000 + 1000 * (i % 8)), S_OK);
      Write(object.Get(), u"KeyFrameIndicator", com::VT_BOOL, com::VARIANT_TRUE);
    }
  });
  for (int k = 0; k < 20; ++k) EXPECT_EQ(Encode(object.Get(), Frame(176, 144, k), k * 666666).hr, S_OK);
  writer.join();
}

// The properties the two video objects keep in the object's own state (the
// discard switch, cyclic refresh, level, frame rate, key-frame request, the
// largest frame and the intra refresh bound) behave the same on both.
class SharedVideoProperties : public ::testing::TestWithParam<CreateFn> {};

TEST_P(SharedVideoProperties, KeptSentAndReadAlike) {
  auto object = Make(GetParam());
  dshow::IMediaObject* o = object.Get();
  EXPECT_EQ(Read(o, u"SetDiscardBuffering").boolVal, com::VARIANT_FALSE);
  EXPECT_EQ(Write(o, u"SetDiscardBuffering", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
  EXPECT_EQ(Read(o, u"setdiscardbuffering").boolVal, com::VARIANT_TRUE);
  EXPECT_EQ(Read(o, u"SetCyclicIntraRefresh").boolVal, com::VARIANT_FALSE);
  EXPECT_EQ(Write(o, u"SetCyclicIntraRefresh", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
  EXPECT_EQ(Read(o, u"SetCyclicIntraRefresh").boolVal, com::VARIANT_TRUE);
  EXPECT_EQ(Write(o, u"SetCyclicIntraRefresh", com::VT_INT, 1), E_INVALIDARG);
  EXPECT_EQ(Write(o, u"VOPRate", com::VT_UI4, 31), E_INVALIDARG);
  EXPECT_EQ(Write(o, u"VOPRate", com::VT_INT, 10), E_INVALIDARG);
  EXPECT_EQ(Write(o, u"VOPRate", com::VT_UI4, 30), S_OK);
  EXPECT_EQ(Write(o, u"SetEncoderLevel", com::VT_INT, 30), S_OK);
  EXPECT_EQ(Read(o, u"SetEncoderLevel").intVal, 30);
  EXPECT_EQ(Write(o, u"SetEncoderLevel", com::VT_INT, 0), S_OK);  // back to the chosen level

  // The discard switch takes the public major type.
  dshow::MediaType input = VideoType(176, 144, 666666, dshow::MEDIASUBTYPE_RGB565);
  input->majortype = dshow::MEDIATYPE_Video;
  dshow::MediaType output;
  Connect(o, input, &output);
  ComPtr<com::IPropertyBag> bag;
  ASSERT_EQ(object.As(com::IID_IPropertyBag, &bag), S_OK);
  com::VARIANT largest;
  com::VariantInit(&largest);
  ASSERT_EQ(bag->Read(u"GetMaxFrameSize", &largest, nullptr), S_OK);
  EXPECT_EQ(largest.vt, com::VT_UINT);
  EXPECT_GE(largest.uintVal, 176u * 144u / 8);
  // QCIF holds 99 macroblocks: at most 98 refreshed a frame.
  EXPECT_EQ(Write(o, u"IntraRefreshMBs", com::VT_INT, 99), E_INVALIDARG);
  EXPECT_EQ(Write(o, u"IntraRefreshMBs", com::VT_INT, 98), S_OK);
  EXPECT_EQ(Write(o, u"VOPRate", com::VT_UI4, 15), S_OK);  // live
  // A stored property is refused once connected; the key-frame request
  // still codes the next frame intra.
  EXPECT_EQ(Write(o, u"SetEncoderLevel", com::VT_INT, 30), com::E_FAIL);
  const std::vector<uint8_t> rgb(176 * 144 * 2, 0x40);
  for (int k = 0; k < 4; ++k) {
    if (k == 3) Write(o, u"KeyFrameIndicator", com::VT_BOOL, com::VARIANT_TRUE);
    const Sample s = Encode(o, rgb, k * 666666);
    ASSERT_EQ(s.hr, S_OK) << k;
    EXPECT_EQ((s.status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT) != 0, k != 2) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Objects, SharedVideoProperties, ::testing::Values(CreateH263EncDmo, CreateMpeg4EncDmo),
                         [](const ::testing::TestParamInfo<CreateFn>& object) {
                           return object.param == CreateH263EncDmo ? std::string("H263") : std::string("Mpeg4");
                         });

// A display on its side turns the frames: the coded picture is 144 x 176.
TEST(VideoRotation, TurnsToTheDisplay) {
  for (int orientation : {1, 4}) {
    SetDisplayOrientationForTest(orientation);
    auto object = Make(CreateH263EncDmo);
    dshow::MediaType output;
    ASSERT_EQ(object->SetInputType(0, VideoType(176, 144, 666666, MEDIASUBTYPE_I420, 0x8000).get(), 0), S_OK);
    // A property that makes the encoder again does not turn the size back.
    ASSERT_EQ(Write(object.Get(), u"SearchRange", com::VT_INT, 10), S_OK);
    ASSERT_EQ(object->GetOutputType(0, 0, output.get()), S_OK);
    ASSERT_EQ(object->SetOutputType(0, output.get(), 0), S_OK);
    EXPECT_EQ(Le32(output->pbFormat + 52), 144u);
    EXPECT_EQ(Le32(output->pbFormat + 56), 176u);
    const Sample s = Encode(object.Get(), Frame(176, 144, 0), 0);
    EXPECT_EQ(s.hr, S_OK);
    EXPECT_FALSE(s.data.empty());
    // An output type of a smaller size: the turned frame does not fit the
    // coded picture and is dropped, not written past the buffer.
    auto small = Make(CreateH263EncDmo);
    ASSERT_EQ(small->SetInputType(0, VideoType(176, 144, 666666, MEDIASUBTYPE_I420, 0x8000).get(), 0), S_OK);
    dshow::MediaType small_output;
    ASSERT_EQ(small->GetOutputType(0, 0, small_output.get()), S_OK);
    small_output->pbFormat[52] = 96;
    small_output->pbFormat[56] = 96;
    ASSERT_EQ(small->SetOutputType(0, small_output.get(), 0), S_OK);
    EXPECT_EQ(Encode(small.Get(), Frame(176, 144, 0), 0).hr, S_FALSE);
    SetDisplayOrientationForTest(0);
  }
}

// Every input layout converts to a frame the encoder takes.
TEST(VideoConversion, EveryLayoutEncodes) {
  const GUID layouts[] = {dshow::MEDIASUBTYPE_RGB565, MEDIASUBTYPE_UYVY, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YV12,
                          MEDIASUBTYPE_IYUV, MEDIASUBTYPE_YV16};
  for (const GUID& subtype : layouts) {
    auto object = Make(CreateMpeg4EncDmo);
    dshow::MediaType output;
    Connect(object.Get(), VideoType(176, 144, 666666, subtype), &output);
    std::vector<uint8_t> frame(176 * 144 * 2, 0x5A);
    const Sample s = Encode(object.Get(), frame, 0);
    EXPECT_EQ(s.hr, S_OK) << com::GuidToString(subtype).ToUtf8Lossy();
    EXPECT_FALSE(s.data.empty()) << com::GuidToString(subtype).ToUtf8Lossy();
  }
}

// A planar frame of flat grey with Cb 64 and Cr 192 keeps both colours
// through the object and a decoder, whichever order the planes come in and
// whether or not the frame is turned for the display (which only the H.263
// object does): a chroma plane read from the wrong place shows as the wrong
// colour.
TEST(VideoConversion, PlanarChromaKeepsBothPlanes) {
  constexpr int kW = 176, kH = 144, kCb = 64, kCr = 192;
  struct Case {
    const char* name;
    CreateFn create;
    bool mpeg4;
    GUID subtype;
    int orientation;
  };
  const Case cases[] = {
      {"MPEG-4 I420", CreateMpeg4EncDmo, true, MEDIASUBTYPE_I420, 0},
      {"MPEG-4 YV12", CreateMpeg4EncDmo, true, MEDIASUBTYPE_YV12, 0},
      {"H.263 I420", CreateH263EncDmo, false, MEDIASUBTYPE_I420, 0},
      {"H.263 YV12", CreateH263EncDmo, false, MEDIASUBTYPE_YV12, 0},
      {"H.263 I420 turned", CreateH263EncDmo, false, MEDIASUBTYPE_I420, 1},
      {"H.263 YV12 turned", CreateH263EncDmo, false, MEDIASUBTYPE_YV12, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetDisplayOrientationForTest(c.orientation);
    auto object = Make(c.create);
    dshow::MediaType output;
    ASSERT_NO_FATAL_FAILURE(
        Connect(object.Get(), VideoType(kW, kH, 666666, c.subtype, c.orientation != 0 ? 0x8000 : 0), &output));
    const int cw = static_cast<int>(Le32(output->pbFormat + 52));
    const int ch = static_cast<int>(Le32(output->pbFormat + 56));
    ASSERT_EQ(cw * ch, kW * kH);
    std::vector<uint8_t> frame(kW * kH * 3 / 2, 128);
    const bool yv12 = c.subtype == MEDIASUBTYPE_YV12;
    std::memset(frame.data() + kW * kH, yv12 ? kCr : kCb, kW * kH / 4);
    std::memset(frame.data() + kW * kH * 5 / 4, yv12 ? kCb : kCr, kW * kH / 4);
    const Sample s = Encode(object.Get(), frame, 0);
    SetDisplayOrientationForTest(0);
    ASSERT_EQ(s.hr, S_OK);
    ASSERT_FALSE(s.data.empty());

    videodec::VideoDecoder* dec = nullptr;
    if (c.mpeg4) {
      uint32_t config_length = output->cbFormat - 88;
      ASSERT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec, output->pbFormat + 88, &config_length, 0), videodec::VDEC_OK);
    } else {
      ASSERT_EQ(videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), videodec::VDEC_OK);
    }
    std::vector<uint8_t> planes(static_cast<size_t>(cw * ch * 3 / 2));
    videodec::DecodedPicture pic{planes.data(), planes.data() + cw * ch, planes.data() + cw * ch * 5 / 4, 0, 0, 0};
    uint32_t length = static_cast<uint32_t>(s.data.size());
    const int32_t decoded = dec->DecodeFrameOut(dec, s.data.data(), &length, &pic);
    dec->DestroyDecoder(dec);
    ASSERT_EQ(decoded, videodec::VDEC_OK);
    ASSERT_EQ(pic.width, cw);
    ASSERT_EQ(pic.height, ch);
    // Every sample of each plane, not an average: a plane half right fails.
    int worst_y = 0, worst_u = 0, worst_v = 0;
    for (int i = 0; i < cw * ch; ++i) worst_y = std::max(worst_y, std::abs(pic.y[i] - 128));
    for (int i = 0; i < cw * ch / 4; ++i) {
      worst_u = std::max(worst_u, std::abs(pic.u[i] - kCb));
      worst_v = std::max(worst_v, std::abs(pic.v[i] - kCr));
    }
    EXPECT_LE(worst_y, 2);
    EXPECT_LE(worst_u, 2);
    EXPECT_LE(worst_v, 2);
  }
}

}  // namespace
}  // namespace codecdmo
