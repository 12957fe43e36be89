// The one-input, one-output media object frame (through the pass-through
// object), media buffers and media-object registration.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/dshow/dmo_registration.h"
#include "platform/dshow/encoder_ids.h"
#include "platform/dshow/harness_filters.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"
#include "platform/os/environment.h"
#include "tests/support/test_paths.h"

namespace dshow {
namespace {

using com::ComPtr;
using com::E_INVALIDARG;
using com::E_POINTER;
using com::S_OK;

MediaType AudioType(uint32_t sample_size) {
  MediaType t;
  t->majortype = MEDIATYPE_Audio;
  t->subtype = MEDIASUBTYPE_PCM;
  t->lSampleSize = sample_size;
  return t;
}

ComPtr<IMediaBuffer> BufferWith(const char* text) {
  const uint32_t n = static_cast<uint32_t>(std::strlen(text));
  ComPtr<IMediaBuffer> b = ComPtr<IMediaBuffer>::Adopt(MediaBuffer::Create(n));
  uint8_t* data = nullptr;
  b->GetBufferAndLength(&data, nullptr);
  std::memcpy(data, text, n);
  b->SetLength(n);
  return b;
}

ComPtr<IMediaObject> NewObject() {
  ComPtr<IMediaObject> o;
  EXPECT_EQ(CreatePassThroughDmo(IID_IMediaObject, o.ReceiveVoid()), S_OK);
  return o;
}

TEST(MediaObjectFrame, ChecksStreamsPointersAndTypeState) {
  ComPtr<IMediaObject> o = NewObject();
  uint32_t in = 0, out = 0, size = 0, align = 0, flags = 0;
  EXPECT_EQ(o->GetStreamCount(&in, &out), S_OK);
  EXPECT_EQ(in, 1u);
  EXPECT_EQ(out, 1u);
  EXPECT_EQ(o->GetInputStreamInfo(1, &flags), DMO_E_INVALIDSTREAMINDEX);
  EXPECT_EQ(o->GetInputStreamInfo(0, nullptr), E_POINTER);
  EXPECT_EQ(o->GetInputType(0, 0, nullptr), DMO_E_NO_MORE_ITEMS);
  EXPECT_EQ(o->GetOutputType(0, 0, nullptr), DMO_E_TYPE_NOT_SET);  // before the input type
  EXPECT_EQ(o->GetOutputSizeInfo(0, &size, &align), DMO_E_TYPE_NOT_SET);
  EXPECT_EQ(o->GetInputMaxLatency(0, nullptr), com::E_NOTIMPL);
  const MediaType audio = AudioType(4);
  EXPECT_EQ(o->SetInputType(0, audio.get(), 4), E_INVALIDARG);  // flags above 3
  EXPECT_EQ(o->SetInputType(1, audio.get(), 0), DMO_E_INVALIDSTREAMINDEX);
  EXPECT_EQ(o->SetInputType(0, nullptr, 0), E_POINTER);
  ComPtr<IMediaBuffer> data = BufferWith("abcdefghij");
  EXPECT_EQ(o->ProcessInput(0, data.Get(), 0, 0, 0), DMO_E_TYPE_NOT_SET);

  // A test-only set checks and keeps nothing.
  ASSERT_EQ(o->SetInputType(0, audio.get(), DMO_SET_TYPEF_TEST_ONLY), S_OK);
  MediaType current;
  EXPECT_EQ(o->GetInputCurrentType(0, current.get()), DMO_E_TYPE_NOT_SET);
  ASSERT_EQ(o->SetInputType(0, audio.get(), 0), S_OK);
  MediaType offered;
  ASSERT_EQ(o->GetOutputType(0, 0, offered.get()), S_OK);
  EXPECT_EQ(o->GetOutputType(0, 1, nullptr), DMO_E_NO_MORE_ITEMS);
  EXPECT_EQ(o->ProcessInput(0, data.Get(), 0, 0, 0), DMO_E_TYPE_NOT_SET);  // output type still missing
  ASSERT_EQ(o->SetOutputType(0, offered.get(), 0), S_OK);
  ASSERT_EQ(o->GetOutputSizeInfo(0, &size, &align), S_OK);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(o->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, DMO_INPUT_STATUSF_ACCEPT_DATA);

  ASSERT_EQ(o->ProcessInput(0, data.Get(), DMO_INPUT_DATA_BUFFERF_TIME | DMO_INPUT_DATA_BUFFERF_TIMELENGTH, 500, 100),
            S_OK);
  EXPECT_EQ(o->ProcessInput(0, data.Get(), 0, 0, 0), DMO_E_NOTACCEPTING);  // one buffer held at a time
  EXPECT_EQ(o->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, 0u);

  // Output in pieces of 4 bytes, incomplete until the last.
  ComPtr<IMediaBuffer> piece = ComPtr<IMediaBuffer>::Adopt(MediaBuffer::Create(4));
  DMO_OUTPUT_DATA_BUFFER two[2] = {{piece.Get(), 0, 0, 0}, {piece.Get(), 0, 0, 0}};
  uint32_t status = 0;
  EXPECT_EQ(o->ProcessOutput(0, 2, two, &status), E_INVALIDARG);
  EXPECT_EQ(o->ProcessOutput(2, 1, two, &status), E_INVALIDARG);
  EXPECT_EQ(o->ProcessOutput(0, 1, nullptr, &status), E_POINTER);
  std::string joined;
  int calls = 0;
  for (;; ++calls) {
    piece->SetLength(0);
    DMO_OUTPUT_DATA_BUFFER b{piece.Get(), 0xFFFFFFFF, 0, 0};
    ASSERT_EQ(o->ProcessOutput(0, 1, &b, &status), S_OK);
    if (calls == 0) {
      EXPECT_EQ(b.dwStatus & (DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH),
                DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH);
      EXPECT_EQ(b.rtTimestamp, 500);
      EXPECT_EQ(b.rtTimelength, 100);
    }
    uint8_t* p = nullptr;
    uint32_t n = 0;
    piece->GetBufferAndLength(&p, &n);
    joined.append(reinterpret_cast<char*>(p), n);
    if (!(b.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
  }
  EXPECT_EQ(joined, "abcdefghij");
  EXPECT_EQ(calls, 2);

  // Flush drops a held buffer; clearing a type clears the types-set state.
  ASSERT_EQ(o->ProcessInput(0, data.Get(), 0, 0, 0), S_OK);
  EXPECT_EQ(o->Flush(), S_OK);
  EXPECT_EQ(o->ProcessInput(0, data.Get(), 0, 0, 0), S_OK);
  EXPECT_EQ(o->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
  EXPECT_EQ(o->GetOutputCurrentType(0, current.get()), DMO_E_TYPE_NOT_SET);
  EXPECT_EQ(o->GetOutputSizeInfo(0, &size, &align), DMO_E_TYPE_NOT_SET);
  EXPECT_EQ(o->Lock(1), S_OK);
  EXPECT_EQ(o->Lock(0), S_OK);
}

TEST(MediaBuffers, LengthsAreBounded) {
  ComPtr<IMediaBuffer> b = ComPtr<IMediaBuffer>::Adopt(MediaBuffer::Create(16));
  uint32_t max = 0;
  EXPECT_EQ(b->GetMaxLength(&max), S_OK);
  EXPECT_EQ(max, 16u);
  EXPECT_EQ(b->SetLength(17), E_INVALIDARG);
  EXPECT_EQ(b->SetLength(16), S_OK);
  uint32_t length = 0;
  EXPECT_EQ(b->GetBufferAndLength(nullptr, &length), S_OK);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(b->GetBufferAndLength(nullptr, nullptr), E_POINTER);
  void* other = nullptr;
  EXPECT_EQ(b->QueryInterface(IID_IMediaObject, &other), com::E_NOINTERFACE);
}

TEST(DmoRegistration, ListsObjectsByCategoryWithTheirTypes) {
  ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir());
  const GUID object = CLSID_CH263EncDmo;
  const DMO_PARTIAL_MEDIATYPE in[] = {{MEDIATYPE_PrivateVideo, MEDIASUBTYPE_RGB565}};
  const DMO_PARTIAL_MEDIATYPE out[] = {{MEDIATYPE_Video, com::FourccGuid(0x3253344D)}};
  ASSERT_EQ(DMORegister(u"Encoder", object, DMOCATEGORY_VIDEO_ENCODER, 0, in, out), S_OK);
  std::vector<DmoEntry> listed = DMOEnumCategory(DMOCATEGORY_VIDEO_ENCODER);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_TRUE(listed[0].clsid == object);
  EXPECT_EQ(listed[0].name, ov::String(u"Encoder"));
  ASSERT_EQ(listed[0].input_types.size(), 1u);
  EXPECT_TRUE(listed[0].input_types[0].subtype == MEDIASUBTYPE_RGB565);
  ASSERT_EQ(listed[0].output_types.size(), 1u);
  EXPECT_TRUE(listed[0].output_types[0].subtype == com::FourccGuid(0x3253344D));
  EXPECT_TRUE(DMOEnumCategory(DMOCATEGORY_AUDIO_ENCODER).empty());
  EXPECT_EQ(DMOUnregister(object, DMOCATEGORY_VIDEO_ENCODER), S_OK);
  EXPECT_TRUE(DMOEnumCategory(DMOCATEGORY_VIDEO_ENCODER).empty());
}

}  // namespace
}  // namespace dshow
