// The export jobs that encode through a filter graph: DmoExportJob (the
// codecdmo encoder objects into the MP4/3GP multiplexer) and AsfExportJob
// (the WMV encoder object and the ASF writer).
#include <algorithm>
#include <vector>

#include "engine/encoding_graph.h"
#include "engine/export_job.h"
#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/encoded_types.h"
#include "platform/dshow/encoder_ids.h"
#include "platform/dshow/interfaces.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"
#include "platform/os/thread.h"

namespace engine {
namespace {

using com::ComPtr;
using com::HRESULT;
using dshow::IBaseFilter;

constexpr uint32_t kSettleMs = 1000;
constexpr uint32_t kAmrRate = 8000;
constexpr uint32_t kAacFrameSamples = 1024;
constexpr uint32_t kAmrFrameSamples = 160;
constexpr char16_t kAudioOutputPin[] = u"FrameFilter Audio Output";
constexpr char16_t kMuxAudioInputPin[] = u"Mux Audio Input Pin";

// Test hook: the folder the jobs take their plug-ins from.
ov::String& PluginFolderOverride() {
  static ov::String folder;
  return folder;
}

ov::String PluginFolder() {
  if (!PluginFolderOverride().IsEmpty()) return PluginFolderOverride();
  return FindPluginFolder(ov::ApplicationFolder());
}

class EventCompletion final : public GraphCompletion {
 public:
  explicit EventCompletion(dshow::IMediaEvent* events) : events_(events) {}
  int32_t Poll(int32_t timeout_ms) override {
    int32_t code = 0;
    if (events_->WaitForCompletion(timeout_ms, &code) != com::S_OK) return 0;
    return code;
  }

 private:
  dshow::IMediaEvent* events_;
};

HRESULT WriteProperty(com::IPropertyBag* bag, const char16_t* name, com::VARTYPE type, int64_t value) {
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = type;
  switch (type) {
    case com::VT_BOOL: v.boolVal = value ? com::VARIANT_TRUE : com::VARIANT_FALSE; break;
    case com::VT_I4: v.lVal = static_cast<int32_t>(value); break;
    case com::VT_INT: v.intVal = static_cast<int32_t>(value); break;
    case com::VT_UINT: v.uintVal = static_cast<uint32_t>(value); break;
    default: v.ulVal = static_cast<uint32_t>(value); break;
  }
  return bag->Write(name, &v);
}

// A wrapper filter holding the object clsid of category, null on failure.
ComPtr<IBaseFilter> MakeEncoder(const com::GUID& clsid, const com::GUID& category) {
  ComPtr<dshow::IDMOWrapperFilter> wrapper;
  HRESULT hr = com::CoCreateInstance(dshow::CLSID_DMOWrapperFilter, nullptr, com::CLSCTX_INPROC_SERVER,
                                     dshow::IID_IDMOWrapperFilter, wrapper.ReceiveVoid());
  if (com::Succeeded(hr)) hr = wrapper->Init(clsid, category);
  ComPtr<IBaseFilter> filter;
  if (com::Succeeded(hr)) hr = wrapper.As(dshow::IID_IBaseFilter, &filter);
  return com::Succeeded(hr) ? filter : nullptr;
}

ComPtr<com::IPropertyBag> BagOf(IBaseFilter* filter) {
  ComPtr<com::IPropertyBag> bag;
  if (filter) filter->QueryInterface(com::IID_IPropertyBag, bag.ReceiveVoid());
  return bag;
}

// Each pin of filter, with a reference.
std::vector<ComPtr<dshow::IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<dshow::IPin>> pins;
  ComPtr<dshow::IEnumPins> e;
  if (com::Failed(filter->EnumPins(e.Receive()))) return pins;
  dshow::IPin* pin = nullptr;
  uint32_t got = 0;
  while (e->Next(1, &pin, &got) == com::S_OK && got == 1) pins.push_back(ComPtr<dshow::IPin>::Adopt(pin));
  return pins;
}

ov::String PinName(dshow::IPin* pin) {
  dshow::PIN_INFO info{};
  if (com::Failed(pin->QueryPinInfo(&info))) return ov::String();
  if (info.pFilter) info.pFilter->Release();
  return ov::String(info.achName);
}

dshow::PinDirection DirectionOf(dshow::IPin* pin) {
  dshow::PinDirection d = dshow::PinDirection::kInput;
  pin->QueryDirection(&d);
  return d;
}

// The graph of one render: filter graph, control and events; stopped and
// released when it goes.
struct RenderGraph {
  ComPtr<dshow::IGraphBuilder> graph;
  ComPtr<dshow::IMediaControl> control;
  ComPtr<dshow::IMediaEvent> events;
  ComPtr<IBaseFilter> source;

  HRESULT Create() {
    HRESULT hr = com::CoCreateInstance(dshow::CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER,
                                       dshow::IID_IGraphBuilder, graph.ReceiveVoid());
    if (com::Succeeded(hr)) hr = graph.As(dshow::IID_IMediaControl, &control);
    if (com::Succeeded(hr)) hr = graph.As(dshow::IID_IMediaEvent, &events);
    if (com::Succeeded(hr)) {
      hr = com::CoCreateInstance(dshow::CLSID_FrameFilter, nullptr, com::CLSCTX_INPROC_SERVER, dshow::IID_IBaseFilter,
                                 source.ReceiveVoid());
    }
    if (com::Succeeded(hr)) hr = graph->AddFilter(source.Get(), u"Source Filter");
    return hr;
  }
  ~RenderGraph() {
    if (control) control->Stop();
  }
};

// The wait, the pause before stopping and the clean-up both jobs end with.
// The output is deleted unless the render succeeded.
int FinishRender(ExportJob* job, RenderGraph* graph, WaitOutcome outcome) {
  if (outcome == WaitOutcome::kFailed) job->SetPaused(false);
  ov::Sleep(kSettleMs);
  const HRESULT stopped = graph->control->Stop();
  const bool ok = outcome == WaitOutcome::kDone || outcome == WaitOutcome::kCancelled;
  const bool failed = job->failed() || outcome == WaitOutcome::kFailed || outcome == WaitOutcome::kDiskFull;
  if (failed || outcome == WaitOutcome::kCancelled || com::Failed(stopped)) ov::DeleteFile(job->outputPath());
  return ok && !failed && com::Succeeded(stopped) ? 1 : 0;
}

// COM for the encoding thread while a graph job builds and runs its graph.
struct ComApartment {
  ComApartment() { com::CoInitializeEx(nullptr, 0); }
  ~ComApartment() { com::CoUninitialize(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

constexpr char16_t kNoGraph[] = u"the encoding graph cannot be built";

// Runs a graph built with `built`, waits for its end and finishes it: the
// tail both jobs share. Gives 1 on success; on failure 0 with the reason in
// `why` (the output is deleted).
int RunGraph(ExportJob* job, RenderGraph* g, EncodingEvents* events, HRESULT built, ov::String* why) {
  if (com::Succeeded(built)) built = g->control->Run();
  if (com::Failed(built)) {
    g->control->Stop();
    ov::DeleteFile(job->outputPath());
    *why = u"the encoding graph for " + job->outputPath() + u" cannot be built or started";
    return 0;
  }
  EventCompletion completion(g->events.Get());
  WaitOutcome outcome = events->Wait(job, &completion, true);
  // A writer that failed on a full disk or at the file-size limit says which.
  uint32_t full = ov::kErrorDiskFull;
  if ((outcome == WaitOutcome::kFailed || outcome == WaitOutcome::kDiskFull) && DiskFull(job->outputPath(), &full)) {
    outcome = WaitOutcome::kDiskFull;
  }
  const int result = FinishRender(job, g, outcome);
  if (outcome == WaitOutcome::kDiskFull) {
    *why = u"writing " + job->outputPath() + u" failed: " + ov::String::FromUtf8Lossy(ov::ErrorText(full));
  } else if (result == 0) {
    *why = u"encoding " + job->outputPath() + u" failed";
  }
  return result;
}

ov::String CodecsRefused(const ExportSettings& s) {
  return ov::String::Format(u"no encoding graph takes video codec %u with sound codec %u", s.videoCodec, s.audioCodec);
}

// A place that takes no file is said before a graph is built, as the WAV
// job says it: a file is made there and deleted again.
ov::String OutputRefused(const ov::String& path) {
  ov::File probe;
  if (probe.Open(path, ov::kGenericWrite, ov::kShareNone, ov::CreateMode::kCreateAlways)) {
    probe.Close();
    ov::DeleteFile(path);
    return ov::String();
  }
  return u"cannot create " + path + u": " + ov::String::FromUtf8Lossy(ov::ErrorText(ov::GetLastError()));
}

// The frame source sends the sound with each picture frame: without a frame
// rate and a picture size it has nothing to send.
ov::String PacingRefused(const ExportSettings& s) {
  if (s.fps != 0 && s.width != 0 && s.height != 0) return ov::String();
  return ov::String::Format(u"the encoding graph sends its sound frame by frame: frames per second, height and width "
                            u"must not be 0 (they are %u, %u, %u)",
                            s.fps, s.height, s.width);
}

ov::String EventsRefused(const ov::String& path, uint32_t error) {
  return u"cannot render " + path + u": its steering events cannot be made: " +
         ov::String::FromUtf8Lossy(ov::ErrorText(error));
}

ov::String PluginPlace(const ov::String& folder) {
  return folder.IsEmpty() ? ov::String(u": framesource is neither in ../lib nor beside the program")
                          : u" from " + folder;
}

}  // namespace

void SetPluginFolderForTesting(const ov::String& folder) { PluginFolderOverride() = folder; }

ov::String DmoExportJob::SettingsRefused(const ExportSettings& s) {
  const uint32_t audio = SameEncoderId(s.audioCodec), video = s.videoCodec;
  if (audio != kAudioCodecAac && audio != kAudioCodecAmr && audio != kCodecNone) return CodecsRefused(s);
  if (video != kVideoCodecH263 && video != kVideoCodecOutside && video != kVideoCodecMpeg4 && video != kCodecNone) {
    return CodecsRefused(s);
  }
  return PacingRefused(s);
}

ov::String AsfExportJob::SettingsRefused(const ExportSettings& s) {
  if (s.audioCodec != kAudioCodecWma && s.audioCodec != kCodecNone && s.videoCodec != kVideoCodecWmv) {
    return CodecsRefused(s);
  }
  return PacingRefused(s);
}

int DmoExportJob::Encode() {
  auto Refuse = [this](const ov::String& why) {
    Fail(why);
    DeleteMixers();
    return 0;
  };
  ExportSettings s = settings();
  s.audioCodec = SameEncoderId(s.audioCodec);
  const uint32_t audio = s.audioCodec, video = s.videoCodec;
  if (const ov::String refused = SettingsRefused(s); !refused.IsEmpty()) return Refuse(refused);
  // The encoder objects take 16-bit sound; AMR-NB only 8000 Hz mono, AAC
  // only the bit rates its object accepts.
  s.bitsPerSample = 16;
  if (audio == kAudioCodecAmr) {
    s.sampleRate = kAmrRate;
    s.channels = 1;
  } else if (audio == kAudioCodecAac) {
    s.audioBitrate = AacBitrateFor(s.audioBitrate, s.channels);
  }
  SetExportParams(s);
  if (!Prepare()) return 0;
  s.samplesPerFrame = audio == kAudioCodecAac ? kAacFrameSamples : audio == kAudioCodecAmr ? kAmrFrameSamples : 0;
  SetExportParams(s);
  if (const ov::String refused = OutputRefused(outputPath()); !refused.IsEmpty()) return Refuse(refused);

  // The events first: the plug-in's own named mutex fails the same way, but
  // its loader cannot tell why.
  EncodingEvents events;
  if (events.error() != 0) return Refuse(EventsRefused(outputPath(), events.error()));
  const ov::String folder = PluginFolder();
  int (*delivered)() = nullptr;
  if (!LoadFramesource(folder, s, false, &delivered) || !RegisterCodecdmo(folder)) return Refuse(u"cannot load the encoding plug-ins" + PluginPlace(folder));
  SetWrittenClock(delivered);
  const ComApartment apartment;

  int result = 0;
  {
    RenderGraph g;
    ComPtr<dshow::ICaptureGraphBuilder2> builder;
    HRESULT hr = com::CoCreateInstance(dshow::CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER,
                                       dshow::IID_ICaptureGraphBuilder2, builder.ReceiveVoid());
    if (com::Succeeded(hr)) hr = g.Create();
    if (com::Succeeded(hr)) hr = builder->SetFiltergraph(g.graph.Get());
    if (com::Failed(hr)) return Refuse(kNoGraph);
    const bool discard = video != kVideoCodecWmv;

    ComPtr<IBaseFilter> video_encoder, audio_encoder;
    if (video != kCodecNone) {
      const com::GUID& clsid = video == kVideoCodecH263      ? dshow::CLSID_CH263EncDmo
                               : video == kVideoCodecOutside ? dshow::CLSID_OutsideVideoEncDmo
                                                             : dshow::CLSID_CMpeg4EncDmo;
      video_encoder = MakeEncoder(clsid, dshow::DMOCATEGORY_VIDEO_ENCODER);
      ComPtr<com::IPropertyBag> bag = BagOf(video_encoder.Get());
      if (!bag) return Refuse(ov::String::Format(u"no encoder object for video codec %u is installed", video));
      if (video == kVideoCodecH263) {
        WriteProperty(bag.Get(), u"BitRate", com::VT_UI4, s.videoBitrate);
        WriteProperty(bag.Get(), u"EncodingComplexity", com::VT_INT, 2);
      } else if (video == kVideoCodecOutside) {
        WriteProperty(bag.Get(), u"BitRate", com::VT_UINT, s.videoBitrate);
      } else {
        com::VARIANT level;
        com::VariantInit(&level);
        bag->Read(u"SetEncoderLevel", &level, nullptr);
        WriteProperty(bag.Get(), u"SetEncoderLevel", com::VT_INT, Mpeg4LevelFor(s.width, s.height, s.fps, s.videoBitrate));
        // The plain rate control: the ranged one keeps predicted pictures'
        // quantisers under a cap and overshoots the asked rate on detailed
        // pictures.
        WriteProperty(bag.Get(), u"SetRCMode", com::VT_BOOL, 0);
        WriteProperty(bag.Get(), u"BitRate", com::VT_UI4, s.videoBitrate);
        WriteProperty(bag.Get(), u"EncodingComplexity", com::VT_INT, 2);
      }
      WriteProperty(bag.Get(), u"VOPRate", com::VT_UI4, s.fps);
      WriteProperty(bag.Get(), u"SetBandwidthAdaptation", com::VT_BOOL, 0);
      WriteProperty(bag.Get(), u"VideoTelephony", com::VT_INT, 0);
      if (discard) WriteProperty(bag.Get(), u"SetDiscardBuffering", com::VT_BOOL, 1);
      if (com::Failed(g.graph->AddFilter(video_encoder.Get(), u"Video Encoder"))) return Refuse(kNoGraph);
    }
    if (audio != kCodecNone) {
      audio_encoder = MakeEncoder(audio == kAudioCodecAac ? dshow::CLSID_CAacEncDmo : dshow::CLSID_CAmrNbEncDmo,
                                  dshow::DMOCATEGORY_AUDIO_ENCODER);
      ComPtr<com::IPropertyBag> bag = BagOf(audio_encoder.Get());
      if (!bag) return Refuse(ov::String::Format(u"no encoder object for sound codec %u is installed", audio));
      if (audio == kAudioCodecAac) {
        com::VARIANT rate;
        com::VariantInit(&rate);
        bag->Read(u"BitRate", &rate, nullptr);
        WriteProperty(bag.Get(), u"BitRate", com::VT_I4, s.audioBitrate);
      } else {
        WriteProperty(bag.Get(), u"BitRate", com::VT_I4, AmrRateFor(s.audioBitrate));
        // Speech frames throughout: comfort-noise frames in the pauses are
        // beyond common players' decoders.
        WriteProperty(bag.Get(), u"DTXMode", com::VT_INT, 0);
      }
      if (discard) WriteProperty(bag.Get(), u"SetDiscardBuffering", com::VT_BOOL, 1);
      if (com::Failed(g.graph->AddFilter(audio_encoder.Get(), u"Audio Encoder"))) return Refuse(kNoGraph);
    }
    ComPtr<IBaseFilter> mux;
    ComPtr<dshow::IFileSinkFilter> sink;
    hr = builder->SetOutputFileName(&dshow::MEDIASUBTYPE_Mp4Mux, outputPath().c_str(), mux.Receive(), sink.Receive());
    if (com::Succeeded(hr) && audio_encoder) {
      hr = builder->RenderStream(nullptr, &dshow::MEDIATYPE_Audio, g.source.Get(), audio_encoder.Get(), mux.Get());
    }
    if (com::Succeeded(hr) && video_encoder) {
      hr = builder->RenderStream(nullptr, &dshow::MEDIATYPE_Video, g.source.Get(), video_encoder.Get(), mux.Get());
    }
    if (com::Succeeded(hr)) hr = sink->SetFileName(outputPath().c_str(), nullptr);
    ov::String why;
    result = RunGraph(this, &g, &events, hr, &why);
    if (!why.IsEmpty()) Fail(why);
  }
  DeleteMixers();
  return result;
}

int AsfExportJob::Encode() {
  auto Refuse = [this](const ov::String& why) {
    Fail(why);
    DeleteMixers();
    return 0;
  };
  ExportSettings s = settings();
  if (const ov::String refused = SettingsRefused(s); !refused.IsEmpty()) return Refuse(refused);
  s.bitsPerSample = 16;
  SetExportParams(s);
  if (!Prepare()) return 0;
  if (const ov::String refused = OutputRefused(outputPath()); !refused.IsEmpty()) return Refuse(refused);
  EncodingEvents events;
  if (events.error() != 0) return Refuse(EventsRefused(outputPath(), events.error()));
  const ov::String folder = PluginFolder();
  int (*delivered)() = nullptr;
  if (!LoadFramesource(folder, s, true, &delivered)) return Refuse(u"cannot load the encoding plug-ins" + PluginPlace(folder));
  SetWrittenClock(delivered);
  const ComApartment apartment;

  int result = 0;
  {
    RenderGraph g;
    if (com::Failed(g.Create())) return Refuse(kNoGraph);
    ComPtr<IBaseFilter> encoder;
    if (s.videoCodec != kCodecNone) {
      encoder = MakeEncoder(dshow::CLSID_WmvEncoderDmo, dshow::DMOCATEGORY_VIDEO_ENCODER);
      ComPtr<com::IPropertyBag> bag = BagOf(encoder.Get());
      if (!bag || com::Failed(g.graph->AddFilter(encoder.Get(), u"WMV9 DMO Encoder"))) return Refuse(kNoGraph);
      com::VARIANT quality;
      com::VariantInit(&quality);
      if (com::Failed(bag->Read(u"_VBRQUALITY", &quality, nullptr))) return Refuse(kNoGraph);
      quality.intVal = static_cast<int32_t>(s.videoBitrate);
      if (com::Failed(bag->Write(u"_VBRQUALITY", &quality))) return Refuse(kNoGraph);
      // The source's first output pin feeds the encoder.
      ComPtr<dshow::IPin> out, in;
      for (auto& pin : PinsOf(g.source.Get())) {
        if (DirectionOf(pin.Get()) == dshow::PinDirection::kOutput) {
          out = pin;
          break;
        }
      }
      for (auto& pin : PinsOf(encoder.Get())) {
        if (DirectionOf(pin.Get()) == dshow::PinDirection::kInput) {
          in = pin;
          break;
        }
      }
      if (!out || !in || com::Failed(g.graph->Connect(out.Get(), in.Get()))) return Refuse(kNoGraph);
    }
    ComPtr<IBaseFilter> writer;
    HRESULT hr = com::CoCreateInstance(dshow::CLSID_AsfWriter, nullptr, com::CLSCTX_INPROC_SERVER,
                                       dshow::IID_IBaseFilter, writer.ReceiveVoid());
    ComPtr<dshow::IFileSinkFilter> sink;
    if (com::Succeeded(hr)) hr = writer.As(dshow::IID_IFileSinkFilter, &sink);
    if (com::Succeeded(hr)) hr = sink->SetFileName(outputPath().c_str(), nullptr);
    if (com::Succeeded(hr)) hr = g.graph->AddFilter(writer.Get(), u"Asfwriter");
    if (com::Failed(hr)) return Refuse(kNoGraph);
    // The writer's pins: the sound pin takes the source's sound; the last
    // pin takes the encoder's frames.
    std::vector<ComPtr<dshow::IPin>> writer_pins = PinsOf(writer.Get());
    for (auto& pin : writer_pins) {
      if (s.audioCodec == kCodecNone || PinName(pin.Get()).Compare(kMuxAudioInputPin) != 0) continue;
      for (auto& source_pin : PinsOf(g.source.Get())) {
        if (PinName(source_pin.Get()).Compare(kAudioOutputPin) == 0 &&
            com::Failed(g.graph->Connect(source_pin.Get(), pin.Get()))) {
          return Refuse(kNoGraph);
        }
      }
    }
    if (encoder && !writer_pins.empty()) {
      ComPtr<dshow::IPin> out;
      for (auto& pin : PinsOf(encoder.Get())) {
        if (DirectionOf(pin.Get()) == dshow::PinDirection::kOutput) {
          out = pin;
          break;
        }
      }
      if (!out || com::Failed(g.graph->Connect(out.Get(), writer_pins.back().Get()))) return Refuse(kNoGraph);
    }
    ov::String why;
    result = RunGraph(this, &g, &events, com::S_OK, &why);
    if (!why.IsEmpty()) Fail(why);
  }
  DeleteMixers();
  return result;
}

}  // namespace engine
