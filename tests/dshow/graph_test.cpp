// The filter graph with a counting source: connection, allocators, the
// source-filter thread, the wrapper with the pass-through object, completion
// and stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/harness_graph.h"
#include "platform/dshow/source.h"
#include "platform/os/thread.h"

namespace dshow {
namespace {

using com::ComPtr;
using com::S_OK;

constexpr GUID kTestSourceClass{0x7A1E0001, 0, 0, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr GUID kSecondSubtype{0x7A1E0002, 0, 0, {2, 2, 2, 2, 2, 2, 2, 2}};

struct SourceSettings {
  int samples = 10;           // -1: never ends
  int fail_at = -1;           // FillBuffer returns E_FAIL at this sample
  int32_t buffer_bytes = 64;  // asked of the allocator
  int32_t grant_limit = 0;    // > 0: the pin checks against a larger need
  bool only_second_type = false;  // CheckMediaType takes only position 1
  uint32_t type_sample_size = 0;  // the type's sample size (0: buffer_bytes)
};

class CountingPin final : public CSourceStream {
 public:
  CountingPin(CSource* filter, const SourceSettings& s) : CSourceStream(u"pin", nullptr, filter, u"Out"), s_(s) {}

  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override {
    if (position > 1) return VFW_S_NO_MORE_ITEMS;
    type->majortype = MEDIATYPE_Audio;
    type->subtype = position == 0 ? MEDIASUBTYPE_PCM : kSecondSubtype;
    type->lSampleSize = s_.type_sample_size ? s_.type_sample_size : static_cast<uint32_t>(s_.buffer_bytes);
    return S_OK;
  }
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
    if (s_.only_second_type) return type->subtype == kSecondSubtype ? S_OK : com::S_FALSE;
    return type->majortype == MEDIATYPE_Audio ? S_OK : com::S_FALSE;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 2;
    request->cbBuffer = s_.buffer_bytes;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (com::Failed(hr)) return hr;
    const int32_t need = s_.grant_limit > 0 ? s_.buffer_bytes + 1 : s_.buffer_bytes;
    return actual.cbBuffer < need ? com::E_FAIL : S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (next_ == s_.fail_at) return com::E_FAIL;
    if (s_.samples >= 0 && next_ >= s_.samples) return com::S_FALSE;
    uint8_t* data = nullptr;
    sample->GetPointer(&data);
    std::memset(data, next_ & 0xFF, static_cast<size_t>(sample->GetSize()));
    sample->SetActualDataLength(sample->GetSize());
    REFERENCE_TIME start = next_ * 1000, stop = start + 1000;
    sample->SetTime(&start, &stop);
    ++next_;
    filled.fetch_add(1);
    return S_OK;
  }
  HRESULT OnThreadDestroy() override {
    thread_ended.store(true);
    return S_OK;
  }

  std::atomic<int> filled{0};
  std::atomic<bool> thread_ended{false};

 private:
  SourceSettings s_;
  int next_ = 0;
};

class CountingSource final : public CSource {
 public:
  explicit CountingSource(const SourceSettings& s) : CSource(u"counting", kTestSourceClass) {
    pin = new CountingPin(this, s);
    AddPin(pin);
  }
  CountingPin* pin;

 private:
  ~CountingSource() override {
    Stop();
    DeletePins();
  }
};

struct CountingRun {
  ComPtr<IBaseFilter> source;
  CountingPin* pin = nullptr;
  HarnessGraph graph;

  explicit CountingRun(const SourceSettings& s, bool pass_through = true) {
    auto* filter = new CountingSource(s);
    pin = filter->pin;
    source = ComPtr<IBaseFilter>::Adopt(filter);
    built = graph.Build(source.Get(), nullptr, &MEDIATYPE_Audio, pass_through);
  }
  HRESULT built;
};

TEST(Graph, SourcePassThroughAndSinkDeliverStampedSamplesThenComplete) {
  for (bool pass_through : {true, false}) {
    CountingRun run(SourceSettings{}, pass_through);
    ASSERT_EQ(run.built, S_OK);
    ASSERT_EQ(run.graph.Run(), S_OK);
    int32_t code = 0;
    ASSERT_EQ(run.graph.WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(run.graph.Stop(), S_OK);
    const std::vector<SinkSample> got = run.graph.Sink()->Samples(run.graph.AudioPin());
    ASSERT_EQ(got.size(), 10u) << "pass-through " << pass_through;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(got[i].has_time);
      EXPECT_EQ(got[i].start, static_cast<REFERENCE_TIME>(i) * 1000);
      EXPECT_EQ(got[i].stop, static_cast<REFERENCE_TIME>(i + 1) * 1000);
      ASSERT_EQ(got[i].data.size(), 64u);
      EXPECT_EQ(got[i].data[63], i);
    }
    EXPECT_TRUE(run.graph.Sink()->Ended(run.graph.AudioPin()));
    EXPECT_EQ(run.graph.Sink()->CompleteCount(), 1);
    EXPECT_EQ(run.graph.Sink()->FileName(), ov::String(u"harness.out"));
  }
}

// The pass-through object's output buffers hold 16 bytes: each 64-byte input
// comes out in four pieces, ProcessOutput repeated while incomplete.
TEST(Graph, TheWrapperRepeatsProcessOutputWhileIncomplete) {
  SourceSettings small_output;
  small_output.samples = 3;
  small_output.type_sample_size = 16;
  CountingRun run(small_output);
  ASSERT_EQ(run.built, S_OK);
  ASSERT_EQ(run.graph.Run(), S_OK);
  int32_t code = 0;
  ASSERT_EQ(run.graph.WaitForCompletion(10000, &code), S_OK);
  run.graph.Stop();
  const std::vector<SinkSample> got = run.graph.Sink()->Samples(run.graph.AudioPin());
  ASSERT_EQ(got.size(), 12u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].length, 16);
    EXPECT_EQ(got[i].data[0], i / 4);
    EXPECT_EQ(got[i].has_time, i % 4 == 0) << i;  // the input's time goes with its first piece
    if (got[i].has_time) {
      EXPECT_EQ(got[i].start, static_cast<REFERENCE_TIME>(i / 4) * 1000);
    }
  }
}

TEST(Graph, TheWrapperHandsOutTheObjectsPropertyBag) {
  RegisterGraphClasses();
  RegisterHarnessClasses();
  ComPtr<IDMOWrapperFilter> wrapper;
  ASSERT_EQ(com::CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, com::CLSCTX_INPROC_SERVER, IID_IDMOWrapperFilter,
                                  wrapper.ReceiveVoid()),
            S_OK);
  ComPtr<com::IPropertyBag> bag;
  EXPECT_EQ(wrapper.As(com::IID_IPropertyBag, &bag), com::E_NOINTERFACE);  // no object yet
  const GUID unknown{0x0BADF00D, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(wrapper->Init(unknown, DMOCATEGORY_AUDIO_ENCODER), com::REGDB_E_CLASSNOTREG);
  ASSERT_EQ(wrapper->Init(CLSID_PassThroughDmo, DMOCATEGORY_AUDIO_ENCODER), S_OK);
  ASSERT_EQ(wrapper.As(com::IID_IPropertyBag, &bag), S_OK);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_UI4;
  v.ulVal = 12200;
  ASSERT_EQ(bag->Write(u"label", &v), S_OK);
  com::VariantInit(&v);
  ASSERT_EQ(bag->Read(u"Label", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, com::VT_UI4);
  EXPECT_EQ(v.ulVal, 12200u);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(wrapper.As(IID_IBaseFilter, &filter), S_OK);
  ComPtr<IPin> in, out;
  EXPECT_EQ(filter->FindPin(u"in0", in.Receive()), S_OK);
  EXPECT_EQ(filter->FindPin(u"out0", out.Receive()), S_OK);
}

TEST(Graph, StopsCleanlyInMidStream) {
  SourceSettings endless;
  endless.samples = -1;
  CountingRun run(endless);
  ASSERT_EQ(run.built, S_OK);
  ASSERT_EQ(run.graph.Run(), S_OK);
  while (run.pin->filled.load() < 20) ov::Sleep(1);
  ASSERT_EQ(run.graph.Stop(), S_OK);
  EXPECT_TRUE(run.pin->thread_ended.load());
  const uint64_t count = run.graph.Sink()->SampleCount(run.graph.AudioPin());
  EXPECT_GE(count, 19u);
  ov::Sleep(5);
  EXPECT_EQ(run.graph.Sink()->SampleCount(run.graph.AudioPin()), count);  // nothing after Stop
  int32_t code = 0;
  EXPECT_EQ(run.graph.WaitForCompletion(0, &code), com::E_ABORT);
  // And it runs again from the start of its state.
  ASSERT_EQ(run.graph.Run(), S_OK);
  while (static_cast<uint64_t>(run.pin->filled.load()) < count + 5) ov::Sleep(1);
  EXPECT_EQ(run.graph.Stop(), S_OK);
}

TEST(Graph, AnErrorEndsTheStreamAndAbortsTheGraph) {
  SourceSettings failing;
  failing.fail_at = 3;
  CountingRun run(failing);
  ASSERT_EQ(run.built, S_OK);
  ASSERT_EQ(run.graph.Run(), S_OK);
  int32_t code = 0;
  ASSERT_EQ(run.graph.WaitForCompletion(10000, &code), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  run.graph.Stop();
  EXPECT_EQ(run.graph.Sink()->SampleCount(run.graph.AudioPin()), 3u);
  EXPECT_TRUE(run.graph.Sink()->Ended(run.graph.AudioPin()));  // end of stream went down too
}

TEST(Connection, TypesByPositionAndTheGrantedBufferSize) {
  SourceSettings second;
  second.only_second_type = true;
  {
    CountingRun run(second, false);
    ASSERT_EQ(run.built, S_OK);
    const MediaType type = run.graph.Sink()->ConnectionTypeOf(run.graph.AudioPin());
    EXPECT_TRUE(type->subtype == kSecondSubtype);
  }
  SourceSettings greedy;
  greedy.grant_limit = 1;  // the allocator grants what is asked, the pin wants one byte more
  CountingRun run(greedy, false);
  EXPECT_TRUE(com::Failed(run.built));
  PIN_INFO info{};
  ComPtr<IPin> connected;
  EXPECT_EQ(run.pin->ConnectedTo(connected.Receive()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(run.pin->QueryPinInfo(&info), S_OK);
  info.pFilter->Release();
  EXPECT_EQ(std::u16string_view(info.achName), u"Out");
}

constexpr GUID kThirdSubtype{0x7A1E0003, 0, 0, {3, 3, 3, 3, 3, 3, 3, 3}};

// A sink whose one input pin takes only kThirdSubtype and, when offering,
// offers it among its own types.
class PickySink final : public BaseFilter {
 public:
  explicit PickySink(bool offers) : BaseFilter(u"picky", kTestSourceClass), pin_(this, offers) {}
  int GetPinCount() override { return 1; }
  BasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  BaseInputPin* Pin() { return &pin_; }

 private:
  class InPin final : public BaseInputPin {
   public:
    InPin(BaseFilter* filter, bool offers) : BaseInputPin(filter, u"In"), offers_(offers) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
      return type->subtype == kThirdSubtype ? S_OK : com::S_FALSE;
    }
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override {
      if (!offers_ || position > 0) return VFW_S_NO_MORE_ITEMS;
      type->majortype = MEDIATYPE_Audio;
      type->subtype = kThirdSubtype;
      return S_OK;
    }

   private:
    bool offers_;
  };
  ~PickySink() override = default;
  InPin pin_;
};

// The output pin offers PCM and kSecondSubtype and takes any sound type: the
// receiving pin refuses both, so the connection takes the receiving pin's
// own type; a receiving pin that offers none stays unconnected, and so does
// the source pin.
TEST(Connection, TheReceivingPinsTypesAndItsRefusal) {
  RegisterGraphClasses();
  for (const bool offers : {true, false}) {
    SCOPED_TRACE(offers ? "offering" : "not offering");
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph.ReceiveVoid()),
              S_OK);
    auto* source = new CountingSource(SourceSettings{});
    ComPtr<IBaseFilter> source_filter = ComPtr<IBaseFilter>::Adopt(source);
    auto* sink = new PickySink(offers);
    ComPtr<IBaseFilter> sink_filter = ComPtr<IBaseFilter>::Adopt(sink);
    ASSERT_EQ(graph->AddFilter(source_filter.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink_filter.Get(), u"Sink"), S_OK);
    const HRESULT hr = graph->Connect(source->pin, sink->Pin());
    ComPtr<IPin> other;
    if (offers) {
      ASSERT_EQ(hr, S_OK);
      EXPECT_TRUE(sink->Pin()->ConnectionType().subtype == kThirdSubtype);
      EXPECT_TRUE(source->pin->ConnectionType().subtype == kThirdSubtype);
    } else {
      EXPECT_EQ(hr, VFW_E_CANNOT_CONNECT);
      EXPECT_EQ(sink->Pin()->ConnectedTo(other.Receive()), VFW_E_NOT_CONNECTED);
      EXPECT_EQ(source->pin->ConnectedTo(other.Receive()), VFW_E_NOT_CONNECTED);
    }
  }
}

TEST(Graph, NamesFiltersAndFindsPins) {
  RegisterGraphClasses();
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph.ReceiveVoid()),
            S_OK);
  ComPtr<IBaseFilter> a = ComPtr<IBaseFilter>::Adopt(new CountingSource(SourceSettings{}));
  ComPtr<IBaseFilter> b = ComPtr<IBaseFilter>::Adopt(new CountingSource(SourceSettings{}));
  EXPECT_EQ(graph->AddFilter(a.Get(), u"Source Filter"), S_OK);
  EXPECT_EQ(graph->AddFilter(b.Get(), u"Source Filter"), VFW_S_DUPLICATE_NAME);  // renamed
  ComPtr<IBaseFilter> found;
  ASSERT_EQ(graph->FindFilterByName(u"Source Filter", found.Receive()), S_OK);
  EXPECT_EQ(found.Get(), a.Get());
  ComPtr<IPin> pin;
  EXPECT_EQ(a->FindPin(u"Out", pin.Receive()), S_OK);
  EXPECT_EQ(a->FindPin(u"In", pin.Receive()), VFW_E_NOT_FOUND);
  FILTER_INFO info{};
  ASSERT_EQ(a->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string_view(info.achName), u"Source Filter");
  EXPECT_NE(info.pGraph, nullptr);
  info.pGraph->Release();
  EXPECT_EQ(graph->RemoveFilter(b.Get()), S_OK);
  EXPECT_EQ(graph->RemoveFilter(b.Get()), VFW_E_NOT_FOUND);
}

}  // namespace
}  // namespace dshow
