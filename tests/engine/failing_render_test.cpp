// A render whose encoder object or writer fails, at the first sample or in
// mid-stream, ends as failed for every graph output (MP4, 3GP, AAC, AMR,
// WMV): the result on the render queue is a failure, the file is gone and
// the reason (the line the render process prints) names it. The graph
// jobs take their plug-ins from the build's folder; each encoder object the
// format uses is created through a stand-in registered in this process that
// hands every call to the real object and fails from its Nth input buffer;
// the writer fails at the file-size limit. The tests wait for the render's
// end however long it takes (a hang fails through the ctest time-out).
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "engine/action_processor.h"
#include "engine/engine_command.h"
#include "engine/export_job.h"
#include "engine/mix_engine.h"
#include "engine/render_queue.h"
#include "media/wav_file.h"
#include "filters/codecdmo/codecdmo.h"
#include "platform/com/class_table.h"
#include "platform/dshow/encoder_ids.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/outside_filters.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_paths.h"

namespace {

using com::GUID;
using com::HRESULT;
using dshow::IMediaObject;
using dshow::REFERENCE_TIME;

// Which input buffer of the object fails (1 the first; 0 never), shared by
// the stand-ins of one render.
std::atomic<int> g_fail_at{0};

// An encoder object that is the real one until its g_fail_at-th input
// buffer, from which ProcessInput fails with E_FAIL.
class FailingObject final : public IMediaObject {
 public:
  explicit FailingObject(IMediaObject* real) : real_(real) {}
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (!object) return com::E_POINTER;
    if (iid == dshow::IID_IMediaObject || iid == com::IID_IUnknown) {
      *object = static_cast<IMediaObject*>(this);
      AddRef();
      return com::S_OK;
    }
    return real_->QueryInterface(iid, object);  // the property bag, the settings
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) {
      real_->Release();
      delete this;
    }
    return left;
  }
  HRESULT GetStreamCount(uint32_t* i, uint32_t* o) override { return real_->GetStreamCount(i, o); }
  HRESULT GetInputStreamInfo(uint32_t s, uint32_t* f) override { return real_->GetInputStreamInfo(s, f); }
  HRESULT GetOutputStreamInfo(uint32_t s, uint32_t* f) override { return real_->GetOutputStreamInfo(s, f); }
  HRESULT GetInputType(uint32_t s, uint32_t p, dshow::DMO_MEDIA_TYPE* t) override {
    return real_->GetInputType(s, p, t);
  }
  HRESULT GetOutputType(uint32_t s, uint32_t p, dshow::DMO_MEDIA_TYPE* t) override {
    return real_->GetOutputType(s, p, t);
  }
  HRESULT SetInputType(uint32_t s, const dshow::DMO_MEDIA_TYPE* t, uint32_t f) override {
    return real_->SetInputType(s, t, f);
  }
  HRESULT SetOutputType(uint32_t s, const dshow::DMO_MEDIA_TYPE* t, uint32_t f) override {
    return real_->SetOutputType(s, t, f);
  }
  HRESULT GetInputCurrentType(uint32_t s, dshow::DMO_MEDIA_TYPE* t) override { return real_->GetInputCurrentType(s, t); }
  HRESULT GetOutputCurrentType(uint32_t s, dshow::DMO_MEDIA_TYPE* t) override {
    return real_->GetOutputCurrentType(s, t);
  }
  HRESULT GetInputSizeInfo(uint32_t s, uint32_t* size, uint32_t* look, uint32_t* align) override {
    return real_->GetInputSizeInfo(s, size, look, align);
  }
  HRESULT GetOutputSizeInfo(uint32_t s, uint32_t* size, uint32_t* align) override {
    return real_->GetOutputSizeInfo(s, size, align);
  }
  HRESULT GetInputMaxLatency(uint32_t s, REFERENCE_TIME* l) override { return real_->GetInputMaxLatency(s, l); }
  HRESULT SetInputMaxLatency(uint32_t s, REFERENCE_TIME l) override { return real_->SetInputMaxLatency(s, l); }
  HRESULT Flush() override { return real_->Flush(); }
  HRESULT Discontinuity(uint32_t s) override { return real_->Discontinuity(s); }
  HRESULT AllocateStreamingResources() override { return real_->AllocateStreamingResources(); }
  HRESULT FreeStreamingResources() override { return real_->FreeStreamingResources(); }
  HRESULT GetInputStatus(uint32_t s, uint32_t* f) override { return real_->GetInputStatus(s, f); }
  HRESULT ProcessInput(uint32_t s, dshow::IMediaBuffer* b, uint32_t f, REFERENCE_TIME t, REFERENCE_TIME l) override {
    const int at = g_fail_at.load();
    if (at > 0 && ++inputs_ >= at) return com::E_FAIL;
    return real_->ProcessInput(s, b, f, t, l);
  }
  HRESULT ProcessOutput(uint32_t f, uint32_t n, dshow::DMO_OUTPUT_DATA_BUFFER* b, uint32_t* st) override {
    return real_->ProcessOutput(f, n, b, st);
  }
  HRESULT Lock(int32_t lock) override { return real_->Lock(lock); }

 private:
  ~FailingObject() = default;
  IMediaObject* real_;
  com::RefCount refs_;
  int inputs_ = 0;
};

// The stand-in's creation over a real creation function.
template <HRESULT (*Real)(const GUID&, void**)>
HRESULT CreateFailing(const GUID& iid, void** object) {
  IMediaObject* real = nullptr;
  const HRESULT hr = Real(dshow::IID_IMediaObject, reinterpret_cast<void**>(&real));
  if (com::Failed(hr)) return hr;
  auto* failing = new FailingObject(real);
  const HRESULT got = failing->QueryInterface(iid, object);
  failing->Release();
  return got;
}

struct Object {
  const char* name;
  GUID clsid;
  com::CreateInstanceFunction failing;
};
const Object kH263{"H.263", dshow::CLSID_CH263EncDmo, CreateFailing<codecdmo::CreateH263EncDmo>};
const Object kMpeg4{"MPEG-4", dshow::CLSID_CMpeg4EncDmo, CreateFailing<codecdmo::CreateMpeg4EncDmo>};
const Object kAac{"AAC", dshow::CLSID_CAacEncDmo, CreateFailing<codecdmo::CreateAacEncDmo>};
const Object kAmr{"AMR-NB", dshow::CLSID_CAmrNbEncDmo, CreateFailing<codecdmo::CreateAmrNbEncDmo>};
const Object kWmv{"WMV", dshow::CLSID_WmvEncoderDmo, CreateFailing<dshow::CreateWmvEncoderDmo>};

struct Output {
  const char* name;
  engine::ExportSettings settings;
  std::vector<const Object*> encoders;  // every encoder object the format uses
};

// 176x144 at 10 frames a second.
const Output kOutputs[] = {
    {"f.mp4", {96000, 22050, 16, 2, 0, 4, 2, 128000, 10, 144, 176}, {&kMpeg4, &kAac}},
    {"f.3gp", {12200, 8000, 16, 1, 0, 2, 3, 128000, 10, 144, 176}, {&kH263, &kAmr}},
    {"f.aac", {96000, 22050, 16, 2, 0, 255, 2, 128000, 10, 144, 176}, {&kAac}},
    {"f.amr", {12200, 8000, 16, 1, 0, 255, 3, 128000, 10, 144, 176}, {&kAmr}},
    {"f.wmv", {96000, 22050, 16, 2, 0, 1, 1, 100, 10, 144, 176}, {&kWmv}},
};

class FailingRender : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    // Named objects of this process, and a class table of its own.
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "fr" + std::to_string(ov::GetCurrentProcessId()));
    ov::SetEnvironmentValue("XDG_DATA_HOME", dir_ + "/data");
    ov::SetEnvironmentValue("OVMIX_DEBUG_OUTPUT", "0");
    dshow::RegisterGraphClasses();
    dshow::RegisterOutsideFilters();
    engine::SetPluginFolderForTesting(ov::String::FromUtf8Lossy(OV_PLUGIN_DIR));
    // The render queue and the steering events held open, as the editing
    // process holds them: made before any file-size limit, so that under one
    // only the output is refused.
    reader_ = std::make_unique<engine::RenderQueue>(true);
    ASSERT_TRUE(reader_->IsOpen());
    const std::pair<const char16_t*, bool> events[] = {{u"Frame Filter Encoding Done", false},
                                                       {engine::kEncodingFailedEvent, false},
                                                       {engine::kCancelEncodingEvent, true},
                                                       {engine::kPauseEncodingEvent, true},
                                                       {engine::kRestartEncodingEvent, true}};
    for (size_t i = 0; i < std::size(events); ++i) ASSERT_TRUE(events_[i].Create(events[i].second, false, events[i].first));
    LoadMix(3000);  // 30 frames
  }
  // A mix of ms of black pictures, silent or with noise on channel 0 (which
  // the sound encoders cannot code small).
  void LoadMix(uint32_t ms, bool noise = false) {
    engine::ActionProcessor list;
    auto add = [&](uint32_t t, uint32_t type, uint32_t channel, const ov::String& path = ov::String()) {
      auto c = std::make_unique<engine::EngineCommand>();
      c->timeMs = t;
      c->type = type;
      c->channel = channel;
      c->path = path;
      c->param1 = 65535;
      list.Append(std::move(c));
    };
    add(0, engine::CMD_MASTER_VOLUME, 0);
    if (noise) {
      const std::string wav = dir_ + "/noise.wav";
      media::WavFormat f;
      f.formatTag = 1;
      f.channels = 2;
      f.samplesPerSecond = 22050;
      f.averageBytesPerSecond = 22050 * 4;
      f.blockAlign = 4;
      f.bitsPerSample = 16;
      media::WavFile file(ov::String::FromUtf8Lossy(wav), ov::kGenericRead | ov::kGenericWrite,
                          ov::CreateMode::kCreateAlways, f);
      std::vector<uint8_t> block(22050 * 4);
      uint32_t seed = 1;
      for (uint32_t second = 0; second * 1000 < ms; ++second) {
        for (uint8_t& b : block) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        uint32_t written = 0;
        ASSERT_TRUE(file.Append(block.data(), static_cast<uint32_t>(block.size()), &written));
      }
      ASSERT_TRUE(file.Close());
      add(0, engine::CMD_LOAD, 0, ov::String::FromUtf8Lossy(wav));
      add(0, engine::CMD_PLAY, 0);
    }
    add(ms, engine::CMD_MASTER_VOLUME, 0);
    std::vector<uint8_t> record;
    list.Serialize(&record);
    engine_ = std::make_unique<engine::MixEngine>(nullptr, nullptr);
    size_t consumed = 0;
    ASSERT_TRUE(engine_->LoadActions(record, &consumed));
    engine_->SetExportResultDelay(0);
  }
  void TearDown() override {
    g_fail_at = 0;
    for (const Object* o : {&kH263, &kMpeg4, &kAac, &kAmr}) com::RevokeClassObject(o->clsid);
    dshow::RegisterOutsideFilters();
    engine::SetPluginFolderForTesting(ov::String());
  }

  // Renders out; the result the queue carried (-1 for none) and the reason.
  int Render(const Output& o, ov::String* why) {
    const bool ok = engine_->Export(Out(o), o.settings, why);
    int result = -1;
    for (engine::RenderMessage m = reader_->Receive(0); m.kind != engine::kRenderNothing; m = reader_->Receive(0)) {
      if (m.kind == engine::kRenderResult) result = m.value;
    }
    EXPECT_EQ(result, ok ? 1 : 0);
    return result;
  }
  ov::String Out(const Output& o) const { return ov::String::FromUtf8Lossy(dir_ + "/" + o.name); }

  std::string dir_;
  std::unique_ptr<engine::MixEngine> engine_;
  std::unique_ptr<engine::RenderQueue> reader_;
  ov::Event events_[5];
};

// Each encoder object the format uses, failing on its first input buffer
// and on its tenth: the render fails with the encoding's reason.
TEST_P(FailingRender, AnEncoderObjectThatFailsFailsTheRender) {
  const Output& o = kOutputs[GetParam()];
  {
    for (const Object* encoder : o.encoders) {
      com::RegisterClassObject(encoder->clsid, encoder->failing);
      for (const int at : {1, 10}) {
        SCOPED_TRACE(testing::Message() << o.name << ", the " << encoder->name << " object failing from buffer " << at);
        g_fail_at = at;
        ov::String why;
        EXPECT_EQ(Render(o, &why), 0);
        EXPECT_EQ(why.ToUtf8Lossy(), "encoding " + dir_ + "/" + o.name + " failed");
        EXPECT_FALSE(ov::FileExists(Out(o)));
      }
      g_fail_at = 0;
      // The same stand-in that does not fail renders the file whole.
      ov::String why;
      EXPECT_EQ(Render(o, &why), 1) << why.ToUtf8Lossy();
      EXPECT_TRUE(ov::FileExists(Out(o)));
      ov::DeleteFile(Out(o));
      if (encoder->clsid == dshow::CLSID_WmvEncoderDmo) {
        dshow::RegisterOutsideFilters();
      } else {
        com::RevokeClassObject(encoder->clsid);
      }
    }
  }
}

// The writer refused at the file-size limit, near its start (its first
// write past the class table's file, which the plug-ins rewrite) and at half
// the file: the render fails, says the limit, and leaves no file.
TEST_P(FailingRender, AWriterThatFailsFailsTheRender) {
  const Output& o = kOutputs[GetParam()];
  LoadMix(20000, true);
  {
    ov::String why;
    ASSERT_EQ(Render(o, &why), 1) << o.name << ": " << why.ToUtf8Lossy();
    ov::FindData info;
    ASSERT_TRUE(ov::GetFileInfo(Out(o), &info));
    const uint64_t whole = info.size;
    ov::DeleteFile(Out(o));
    ASSERT_TRUE(ov::GetFileInfo(ov::String::FromUtf8Lossy(dir_ + "/data/ovmix/registry.dat"), &info));
    const uint64_t near_start = info.size + 512;
    ASSERT_GT(whole / 2, near_start);
    for (const uint64_t limit : {near_start, whole / 2}) {
      SCOPED_TRACE(testing::Message() << o.name << ", " << limit << " bytes of a " << whole << "-byte file");
      {
        ovtest::ScopedFileSizeLimit scoped(limit);
        ASSERT_TRUE(scoped.ok());
        EXPECT_EQ(Render(o, &why), 0);
      }
      EXPECT_EQ(why.ToUtf8Lossy(), "writing " + dir_ + "/" + o.name + " failed: the file-size limit is reached");
      EXPECT_FALSE(ov::FileExists(Out(o)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Outputs, FailingRender, ::testing::Range<size_t>(0, std::size(kOutputs)),
                         [](const ::testing::TestParamInfo<size_t>& p) {
                           std::string name = kOutputs[p.param].name;
                           return name.substr(name.find('.') + 1);
                         });

}  // namespace
