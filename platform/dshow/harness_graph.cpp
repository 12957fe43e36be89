#include "platform/dshow/harness_graph.h"

#include "platform/com/class_table.h"
#include "platform/dshow/filter_graph.h"

namespace dshow {

using com::ComPtr;

HarnessGraph::HarnessGraph() {
  RegisterGraphClasses();
  RegisterHarnessClasses();
}

HarnessGraph::~HarnessGraph() {
  Stop();
  if (sink_) sink_->Release();
}

HRESULT HarnessGraph::Build(IBaseFilter* source, const GUID* video_major, const GUID* audio_major, bool pass_through) {
  if (!source) return com::E_POINTER;
  HRESULT hr = com::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER,
                                     IID_ICaptureGraphBuilder2, builder_.ReceiveVoid());
  if (com::Succeeded(hr)) {
    hr = com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph_.ReceiveVoid());
  }
  if (com::Succeeded(hr)) hr = builder_->SetFiltergraph(graph_.Get());
  if (com::Succeeded(hr)) hr = graph_.As(IID_IMediaControl, &control_);
  if (com::Succeeded(hr)) hr = graph_->AddFilter(source, u"Source Filter");
  if (com::Failed(hr)) return hr;

  ComPtr<IBaseFilter> video_encoder, audio_encoder;
  auto make_encoder = [&](const GUID& category, const GUID& clsid, const char16_t* name, ComPtr<IBaseFilter>* out) {
    ComPtr<IDMOWrapperFilter> wrapper;
    HRESULT r = com::CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, com::CLSCTX_INPROC_SERVER, IID_IDMOWrapperFilter,
                                      wrapper.ReceiveVoid());
    if (com::Succeeded(r)) r = wrapper->Init(clsid, category);
    if (com::Succeeded(r)) r = wrapper.As(IID_IBaseFilter, out);
    if (com::Succeeded(r) && encoders_.configure) encoders_.configure(out->Get());
    if (com::Succeeded(r)) r = graph_->AddFilter(out->Get(), name);
    return r;
  };
  if (pass_through && video_major) {
    hr = make_encoder(DMOCATEGORY_VIDEO_ENCODER, encoders_.video, u"Video Encoder", &video_encoder);
  }
  if (com::Succeeded(hr) && pass_through && audio_major) {
    hr = make_encoder(DMOCATEGORY_AUDIO_ENCODER, encoders_.audio, u"Audio Encoder", &audio_encoder);
  }
  if (com::Failed(hr)) return hr;

  const char16_t kOutput[] = u"harness.out";
  ComPtr<IBaseFilter> mux;
  ComPtr<IFileSinkFilter> file_sink;
  hr = builder_->SetOutputFileName(&CLSID_SampleSink, kOutput, mux.Receive(), file_sink.Receive());
  if (com::Failed(hr)) return hr;
  hr = mux->QueryInterface(IID_SampleSinkFilter, reinterpret_cast<void**>(&sink_));
  if (com::Failed(hr)) return hr;
  int next_pin = 0;
  if (audio_major) {
    hr = builder_->RenderStream(nullptr, audio_major, source, audio_encoder.Get(), mux.Get());
    if (com::Failed(hr)) return hr;
    audio_pin_ = next_pin++;
  }
  if (video_major) {
    hr = builder_->RenderStream(nullptr, video_major, source, video_encoder.Get(), mux.Get());
    if (com::Failed(hr)) return hr;
    video_pin_ = next_pin++;
  }
  hr = file_sink->SetFileName(kOutput, nullptr);
  if (com::Failed(hr)) return hr;
  return graph_.As(IID_IMediaEvent, &events_);
}

HRESULT HarnessGraph::Run() { return control_ ? control_->Run() : com::E_UNEXPECTED; }

HRESULT HarnessGraph::Stop() { return control_ ? control_->Stop() : com::S_OK; }

HRESULT HarnessGraph::WaitForCompletion(int32_t timeout_ms, int32_t* code) {
  return events_ ? events_->WaitForCompletion(timeout_ms, code) : com::E_UNEXPECTED;
}

}  // namespace dshow
