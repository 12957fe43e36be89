// The encoder objects in the wrapper filter behind the frame source, as the
// export graph holds them: framesource -> wrapper (H.263 or MPEG-4, AAC or
// AMR-NB) -> sample sink. Every frame comes out coded, the first two as sync
// points, with the source's times; the sound comes out as packed frames whose
// tables account for every whole frame of the PCM handed over.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "filters/codecdmo/codecdmo.h"
#include "filters/framesource/frame_filter.h"
#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/harness_graph.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace codecdmo {
namespace {

using com::ComPtr;
using com::S_OK;

constexpr int kFrames = 20;

struct Feed {
  FrameFilterConfig config{};
  int next = 0;
  uint64_t pcm_bytes = 0;
};
Feed* g_feed = nullptr;

// A grey picture with a moving bar, and a 440 Hz tone.
int FeedCallback(unsigned char** video, unsigned char** audio, int* audio_bytes, int* time_ms) {
  Feed& f = *g_feed;
  if (f.next >= kFrames) return 0;
  const int k = f.next++;
  *time_ms = k * 1000 / static_cast<int>(f.config.FramesPerSecond);
  const uint32_t w = f.config.Width, h = f.config.Height;
  if (*video) {
    auto* pixels = reinterpret_cast<uint16_t*>(*video);
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) pixels[y * w + x] = (x / 8 + static_cast<uint32_t>(k)) % 4 == 0 ? 0xF800 : 0x8410;
    }
  }
  // The callback's sound is 16-bit stereo whatever the output; a mono output
  // takes the left channel.
  const uint32_t samples = f.config.SampleRate / f.config.FramesPerSecond;
  const uint32_t bytes = samples * 4;
  auto* chunk = static_cast<int16_t*>(::operator new(bytes));
  for (uint32_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(k * samples + i) / f.config.SampleRate;
    chunk[2 * i] = chunk[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
  }
  *audio = reinterpret_cast<unsigned char*>(chunk);
  *audio_bytes = static_cast<int>(bytes);
  f.pcm_bytes += samples * 2 * f.config.Channels;
  return 1;
}

void TakePublicTypes(dshow::IBaseFilter* wrapper) {
  ComPtr<com::IPropertyBag> bag;
  ASSERT_EQ(wrapper->QueryInterface(com::IID_IPropertyBag, bag.ReceiveVoid()), S_OK);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_BOOL;
  v.boolVal = com::VARIANT_TRUE;
  EXPECT_EQ(bag->Write(u"SetDiscardBuffering", &v), S_OK);
}

struct GraphCase {
  const char* name;
  GUID video, audio;
  FrameFilterConfig config;
  uint32_t audio_frame_bytes;
  size_t source_buffer_frames;  // the source pads its last buffer with silence
};

class CodecdmoGraph : public ::testing::TestWithParam<GraphCase> {
 protected:
  void SetUp() override {
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "cg" + std::to_string(ov::GetCurrentProcessId()));
    ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir());
    com::RegisterClassObject(CLSID_CH263EncDmo, CreateH263EncDmo);
    com::RegisterClassObject(CLSID_CMpeg4EncDmo, CreateMpeg4EncDmo);
    com::RegisterClassObject(CLSID_CAacEncDmo, CreateAacEncDmo);
    com::RegisterClassObject(CLSID_CAmrNbEncDmo, CreateAmrNbEncDmo);
    framesource::SetFirstFillDelaysForTesting(0, 0);
  }
  void TearDown() override { g_feed = nullptr; }
};

TEST_P(CodecdmoGraph, EveryFrameAndEverySoundFrameComesOut) {
  const GraphCase& c = GetParam();
  ov::Event done;
  ASSERT_TRUE(done.Create(false, false, u"Frame Filter Encoding Done"));
  Feed feed;
  feed.config = c.config;
  g_feed = &feed;
  ASSERT_EQ(framesource::InitializeModule(FeedCallback, c.config), 1);
  HRESULT hr = S_OK;
  ComPtr<com::IUnknown> source = ComPtr<com::IUnknown>::Adopt(framesource::CFrameFilter::CreateInstance(nullptr, &hr));
  ASSERT_TRUE(source);
  dshow::HarnessGraph graph;
  dshow::HarnessGraph::Encoders encoders;
  encoders.video = c.video;
  encoders.audio = c.audio;
  encoders.configure = TakePublicTypes;
  graph.SetEncoders(encoders);
  ASSERT_EQ(graph.Build(static_cast<dshow::IBaseFilter*>(source.Get()), &dshow::MEDIATYPE_Video,
                        &dshow::MEDIATYPE_Audio),
            S_OK);
  graph.Sink()->SetKeepTail(true);
  ASSERT_EQ(graph.Run(), S_OK);
  EXPECT_EQ(done.Wait(60000), ov::kWaitObject0);
  int32_t code = 0;
  ASSERT_EQ(graph.WaitForCompletion(60000, &code), S_OK);
  EXPECT_EQ(code, dshow::EC_COMPLETE);
  ASSERT_EQ(graph.Stop(), S_OK);

  const auto video = graph.Sink()->Samples(graph.VideoPin());
  ASSERT_EQ(video.size(), static_cast<size_t>(kFrames));
  const int64_t period = 10000000 / c.config.FramesPerSecond;
  for (size_t k = 0; k < video.size(); ++k) {
    EXPECT_GT(video[k].length, 0) << k;
    EXPECT_NEAR(static_cast<double>(video[k].start), static_cast<double>(k * period), 10000.0) << k;
  }
  const auto audio = graph.Sink()->Samples(graph.AudioPin());
  ASSERT_FALSE(audio.empty());
  size_t frames = 0;
  int64_t last = -1;
  for (const dshow::SinkSample& s : audio) {
    // The count and sizes follow the frames inside the sample's buffer.
    ASSERT_GE(s.tail.size(), 4u);
    const uint8_t* table = s.tail.data();
    const uint32_t count = table[0] | (table[1] << 8) | (table[2] << 16) | (static_cast<uint32_t>(table[3]) << 24);
    ASSERT_GE(s.tail.size(), 4 + 2 * count);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum += table[4 + 2 * i] | (table[5 + 2 * i] << 8);
    EXPECT_EQ(sum, static_cast<uint32_t>(s.length));
    EXPECT_GT(s.start, last);
    last = s.start;
    frames += count;
  }
  // Every whole frame of the sound handed over, and at most the silence of
  // the source's last buffer beyond it.
  const size_t whole = static_cast<size_t>(feed.pcm_bytes / c.audio_frame_bytes);
  EXPECT_GE(frames, whole);
  EXPECT_LE(frames, whole + c.source_buffer_frames);
}

INSTANTIATE_TEST_SUITE_P(
    Graphs, CodecdmoGraph,
    ::testing::Values(GraphCase{"H263_AMR", CLSID_CH263EncDmo, CLSID_CAmrNbEncDmo,
                                FrameFilterConfig{12200, 8000, 16, 1, 160, 2, 3, 128000, 15, 144, 176}, 320, 3},
                      GraphCase{"MPEG4_AAC", CLSID_CMpeg4EncDmo, CLSID_CAacEncDmo,
                                FrameFilterConfig{96000, 22050, 16, 2, 1024, 4, 2, 128000, 15, 144, 176}, 4096, 2}),
    [](const ::testing::TestParamInfo<GraphCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace codecdmo
