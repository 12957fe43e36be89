// Frames per second through the frame source filter, a pass-through media
// object per stream and a null sink, at 176x144 (15 frames/s settings, with
// and without 22050 Hz stereo sound). No peer: the whole render is compared
// with peers where the encoders join the graph.
#include <benchmark/benchmark.h>

#include <string>

#include "filters/framesource/frame_filter.h"
#include "platform/dshow/harness_graph.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"

namespace {

using com::ComPtr;

constexpr int kFrames = 300;
int g_next = 0;
bool g_sound = true;

int BenchCallback(unsigned char** video, unsigned char** audio, int* audio_bytes, int* time_ms) {
  if (g_next >= kFrames) return 0;
  const int k = g_next++;
  *time_ms = k * 66;
  if (*video) {
    // A frame the size of the mix's composed one, changed every time.
    auto* words = reinterpret_cast<uint16_t*>(*video);
    for (int i = 0; i < 176 * 144; ++i) words[i] = static_cast<uint16_t>(k + i);
  }
  if (g_sound) {
    constexpr uint32_t kChunk = 5880;
    auto* chunk = static_cast<unsigned char*>(::operator new(kChunk));
    for (uint32_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<unsigned char>(i + k);
    *audio = chunk;
    *audio_bytes = static_cast<int>(kChunk);
  }
  return 1;
}

void BM_FramesourceGraph(benchmark::State& state) {
  g_sound = state.range(0) != 0;
  ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "bench" + std::to_string(ov::GetCurrentProcessId()));
  framesource::SetFirstFillDelaysForTesting(0, 0);
  const FrameFilterConfig config{96000, 22050, 16, 2, 1024, 4, 2, 128000, 15, 144, 176};
  if (framesource::InitializeModule(BenchCallback, config) != 1) {
    state.SkipWithError("Initialize refused the settings");
    return;
  }
  ov::Event done;
  done.Create(false, false, u"Frame Filter Encoding Done");
  for (auto _ : state) {
    g_next = 0;
    com::HRESULT hr = com::S_OK;
    ComPtr<com::IUnknown> filter = ComPtr<com::IUnknown>::Adopt(framesource::CFrameFilter::CreateInstance(nullptr, &hr));
    dshow::HarnessGraph graph;
    if (com::Failed(graph.Build(static_cast<dshow::IBaseFilter*>(filter.Get()), &dshow::MEDIATYPE_Video,
                                g_sound ? &dshow::MEDIATYPE_Audio : nullptr))) {
      state.SkipWithError("graph");
      return;
    }
    graph.Sink()->SetKeepData(false);
    graph.Run();
    int32_t code = 0;
    graph.WaitForCompletion(-1, &code);
    graph.Stop();
    if (graph.Sink()->SampleCount(graph.VideoPin()) != kFrames) state.SkipWithError("frames lost");
    done.Wait(0);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FramesourceGraph)->Arg(1)->Arg(0)->ArgName("sound")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
