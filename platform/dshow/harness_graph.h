#pragma once
// HarnessGraph: the encoding graph of the export jobs with test instruments
// in place of the encoders and the multiplexer: source -> pass-through media
// object (in a wrapper filter, per stream) -> sample sink, built with the
// same calls (capture graph builder, SetOutputFileName, RenderStream,
// IFileSinkFilter::SetFileName), then run until the graph completes.
//
// Thread: one thread.

#include "platform/com/unknown.h"
#include "platform/dshow/harness_filters.h"
#include "platform/dshow/interfaces.h"

namespace dshow {

class HarnessGraph {
 public:
  HarnessGraph();
  ~HarnessGraph();  // stops the graph
  HarnessGraph(const HarnessGraph&) = delete;
  HarnessGraph& operator=(const HarnessGraph&) = delete;

  // The media objects the wrappers hold (the pass-through object unless
  // set), and a hook that sets an object's properties through its wrapper
  // before the wrapper connects. Before Build.
  struct Encoders {
    GUID video = CLSID_PassThroughDmo;
    GUID audio = CLSID_PassThroughDmo;
    void (*configure)(IBaseFilter* wrapper) = nullptr;
  };
  void SetEncoders(const Encoders& encoders) { encoders_ = encoders; }

  // Builds the graph around source (added as "Source Filter"). A stream is
  // rendered when its major type is given (the source pin must offer it);
  // with pass_through false the pin connects straight to the sink.
  HRESULT Build(IBaseFilter* source, const GUID* video_major, const GUID* audio_major, bool pass_through = true);
  HRESULT Run();
  // Stops every filter (their threads are joined).
  HRESULT Stop();
  // WaitForCompletion: S_OK with the event code, E_ABORT on time-out.
  HRESULT WaitForCompletion(int32_t timeout_ms, int32_t* code);

  // The sink: pin 0 takes the first stream rendered (audio when both are),
  // pin 1 the second.
  SampleSinkFilter* Sink() const { return sink_; }
  IGraphBuilder* Graph() const { return graph_.Get(); }
  int VideoPin() const { return video_pin_; }
  int AudioPin() const { return audio_pin_; }

 private:
  com::ComPtr<IGraphBuilder> graph_;
  com::ComPtr<ICaptureGraphBuilder2> builder_;
  com::ComPtr<IMediaControl> control_;
  com::ComPtr<IMediaEvent> events_;
  SampleSinkFilter* sink_ = nullptr;  // holds a reference
  int video_pin_ = -1;
  int audio_pin_ = -1;
  Encoders encoders_;
};

}  // namespace dshow
