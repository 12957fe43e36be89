// The frame source filter in a harness graph: source -> pass-through media
// object -> sample sink, driven by test callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filters/framesource/filter_interface_stream.h"
#include "filters/framesource/filter_interface_stream_audio.h"
#include "filters/framesource/frame_filter.h"
#include "platform/dshow/harness_graph.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace framesource {
namespace {

using com::ComPtr;
using com::S_OK;

FrameFilterConfig Config(uint32_t rate, uint32_t channels, uint32_t fps, uint32_t codec_samples, uint32_t width = 176,
                         uint32_t height = 144) {
  return FrameFilterConfig{96000, rate, 16, channels, codec_samples, 4, 2, 128000, fps, height, width};
}

// What a test callback does: frames (time, pixels) and chunks, recorded.
struct Plan {
  int frames = 10;              // frame steps before the end; -1 never ends
  int time_step_ms = 66;        // frame k has time k x step
  uint32_t chunk_bytes = 0;     // 0: no sound
  int no_video_at = -1;         // this frame hands back no video buffer
  std::function<void(int k, unsigned char* frame)> render;
  std::function<void(int k, unsigned char* chunk, uint32_t bytes)> sound;
  std::function<void(int k)> before;  // called first in each frame step

  FrameFilterConfig config{};
  int next = 0;
  int calls_after_end = 0;
  std::vector<std::vector<unsigned char>> rendered;
  std::vector<unsigned char> pcm;
  std::vector<unsigned char*> handed;
};

Plan* g_plan = nullptr;

int PlanCallback(unsigned char** video, unsigned char** audio, int* audio_bytes, int* time_ms) {
  Plan& p = *g_plan;
  if (p.frames >= 0 && p.next >= p.frames) {
    ++p.calls_after_end;
    return 0;
  }
  const int k = p.next++;
  if (p.before) p.before(k);
  *time_ms = k * p.time_step_ms;
  p.handed.push_back(*video);
  const size_t frame_bytes = static_cast<size_t>(p.config.Width) * p.config.Height * 2;
  if (*video) {
    if (k == p.no_video_at) {
      *video = nullptr;
    } else {
      if (p.render) {
        p.render(k, *video);
      } else {
        for (size_t i = 0; i < frame_bytes; ++i) (*video)[i] = static_cast<unsigned char>(k * 7 + i * 13 + i / 352);
      }
      if (p.frames >= 0) p.rendered.emplace_back(*video, *video + frame_bytes);
    }
  }
  if (p.chunk_bytes) {
    auto* chunk = static_cast<unsigned char*>(::operator new(p.chunk_bytes));
    if (p.sound) {
      p.sound(k, chunk, p.chunk_bytes);
    } else {
      for (uint32_t i = 0; i < p.chunk_bytes; ++i) chunk[i] = static_cast<unsigned char>(k * 31 + i * 5 + 1);
    }
    if (p.frames >= 0) p.pcm.insert(p.pcm.end(), chunk, chunk + p.chunk_bytes);
    *audio = chunk;
    *audio_bytes = static_cast<int>(p.chunk_bytes);
  }
  return 1;
}

int EndAtOnce(unsigned char**, unsigned char**, int*, int*) { return 0; }

class FrameSource : public ::testing::Test {
 protected:
  void SetUp() override {
    // Named objects of this test process only, and a registry of its own.
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "fs" + std::to_string(ov::GetCurrentProcessId()));
    ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir());
    SetFirstFillDelaysForTesting(0, 0);
    ASSERT_TRUE(done_.Create(false, false, u"Frame Filter Encoding Done"));
  }
  void TearDown() override { g_plan = nullptr; }

  // Runs the harness graph until completion; the streams given are rendered.
  void RunGraph(Plan* plan, bool video, bool audio, uint32_t video_delay_ms = 0, uint32_t audio_delay_ms = 0) {
    plan->config = ModuleConfig();
    g_plan = plan;
    ASSERT_EQ(InitializeModule(PlanCallback, plan->config), 1);
    Graph(video, audio, video_delay_ms, audio_delay_ms);
  }

  void Graph(bool video, bool audio, uint32_t video_delay_ms = 0, uint32_t audio_delay_ms = 0) {
    HRESULT hr = S_OK;
    filter_ = ComPtr<com::IUnknown>::Adopt(CFrameFilter::CreateInstance(nullptr, &hr));
    ASSERT_TRUE(filter_);
    auto* base = static_cast<dshow::IBaseFilter*>(filter_.Get());
    const GUID* video_major = ModuleConfig().VideoCodecId == 1 ? &dshow::MEDIATYPE_PrivateVideo
                                                                : &dshow::MEDIATYPE_Video;
    ASSERT_EQ(graph_.Build(base, video ? video_major : nullptr, audio ? &dshow::MEDIATYPE_Audio : nullptr), S_OK);
    if (video) graph_.Sink()->SetReceiveDelay(graph_.VideoPin(), video_delay_ms);
    if (audio) graph_.Sink()->SetReceiveDelay(graph_.AudioPin(), audio_delay_ms);
    ASSERT_EQ(graph_.Run(), S_OK);
    // As the export job waits: the filter's event first, then the graph.
    done_seen_ = done_.Wait(60000) == ov::kWaitObject0;
    int32_t code = 0;
    ASSERT_EQ(graph_.WaitForCompletion(60000, &code), S_OK);
    EXPECT_EQ(code, dshow::EC_COMPLETE);
    ASSERT_EQ(graph_.Stop(), S_OK);
    if (video) video_ = graph_.Sink()->Samples(graph_.VideoPin());
    if (audio) audio_ = graph_.Sink()->Samples(graph_.AudioPin());
  }

  // The done event was set while the graph ran, and not again after.
  void ExpectDoneOnce() {
    EXPECT_TRUE(done_seen_);
    EXPECT_EQ(done_.Wait(0), ov::kWaitTimeout);
  }

  static std::vector<unsigned char> Joined(const std::vector<dshow::SinkSample>& samples) {
    std::vector<unsigned char> out;
    for (const dshow::SinkSample& s : samples) out.insert(out.end(), s.data.begin(), s.data.end());
    return out;
  }

  void Initialize(const FrameFilterConfig& config) { ASSERT_EQ(InitializeModule(PlanCallback, config), 1); }

  ov::Event done_;
  bool done_seen_ = false;
  dshow::HarnessGraph graph_;
  ComPtr<com::IUnknown> filter_;
  std::vector<dshow::SinkSample> video_, audio_;
};

TEST_F(FrameSource, EveryFrameArrivesFlippedAndStamped) {
  Initialize(Config(22050, 2, 15, 1024));
  Plan plan;
  plan.frames = 12;
  plan.time_step_ms = 1000;
  plan.chunk_bytes = 5880;  // one frame of 22050 Hz stereo at 15 frames/s
  RunGraph(&plan, true, true);
  ASSERT_EQ(video_.size(), 12u);  // the last frame too
  for (size_t k = 0; k < video_.size(); ++k) {
    std::vector<unsigned char> expected;
    for (int row = 143; row >= 0; --row) {
      const auto first = plan.rendered[k].begin() + row * 352;
      expected.insert(expected.end(), first, first + 352);
    }
    EXPECT_EQ(video_[k].data, expected) << "frame " << k;
    // Frame k has time k x 1000 ms (frame 15k of the grid): it stops where
    // frame 15k + 1 starts, round((15k + 1) x 1000 / 15) = k x 1000 + 67 ms.
    EXPECT_EQ(video_[k].start, static_cast<int64_t>(k) * 10000000);
    EXPECT_EQ(video_[k].stop, static_cast<int64_t>(k) * 10000000 + 670000);
  }
  // The ring's three buffers are handed out in turn.
  ASSERT_GE(plan.handed.size(), 6u);
  for (size_t i = 0; i < plan.handed.size(); ++i) {
    EXPECT_NE(plan.handed[i], nullptr);
    EXPECT_EQ(plan.handed[i], plan.handed[i % 3]) << i;
  }
  EXPECT_NE(plan.handed[0], plan.handed[1]);
  EXPECT_NE(plan.handed[1], plan.handed[2]);
  // The sound: every byte the callback gave, then silence to the sample's end.
  const std::vector<unsigned char> sound = Joined(audio_);
  ASSERT_GE(sound.size(), plan.pcm.size());
  EXPECT_LT(sound.size(), plan.pcm.size() + 4096);
  EXPECT_TRUE(std::equal(plan.pcm.begin(), plan.pcm.end(), sound.begin()));
  EXPECT_TRUE(std::all_of(sound.begin() + static_cast<long>(plan.pcm.size()), sound.end(),
                          [](unsigned char b) { return b == 0; }));
  ExpectDoneOnce();
}

struct AudioCase {
  uint32_t rate, channels, fps, codec_samples;
  uint32_t buffer_bytes;
  int64_t duration;
};

TEST(AudioBufferSize, RoundsToEightThenToWholeEncoderFrames) {
  const AudioCase cases[] = {
      {22050, 2, 10, 1024, 8192, 0},
      {8000, 1, 10, 160, 1600, 0},
      {8000, 1, 15, 160, 960, 0},
      {22050, 2, 10, 0, 8824, 0},     // no rounding to encoder frames: 8820 up to 8824
      {8000, 1, 10, 1024, 2048, 0},   // less than one encoder frame: exactly one
      {8000, 1, 0, 160, 0, 0},        // no frame rate: no size (and no division)
  };
  for (const AudioCase& c : cases) {
    EXPECT_EQ(AudioBufferSize(Config(c.rate, c.channels, c.fps, c.codec_samples)), c.buffer_bytes)
        << c.rate << " " << c.fps << " " << c.codec_samples;
  }
}

class AudioSamples : public FrameSource, public ::testing::WithParamInterface<AudioCase> {};

TEST_P(AudioSamples, HaveTheRoundedSizeAndTheirDuration) {
  const AudioCase& c = GetParam();
  Initialize(Config(c.rate, c.channels, c.fps, c.codec_samples));
  Plan plan;
  plan.frames = 8;
  plan.time_step_ms = static_cast<int>(1000 / c.fps);
  plan.chunk_bytes = c.rate * 4 / c.fps;  // 16-bit stereo (or the output format) per frame step
  RunGraph(&plan, false, true);
  ASSERT_FALSE(audio_.empty());
  for (const dshow::SinkSample& s : audio_) {
    EXPECT_EQ(s.length, static_cast<int32_t>(c.buffer_bytes));
    EXPECT_EQ(s.stop - s.start, c.duration);
  }
  ExpectDoneOnce();
}

INSTANTIATE_TEST_SUITE_P(FrameSource, AudioSamples,
                         ::testing::Values(AudioCase{22050, 2, 10, 1024, 8192, 928798},
                                           AudioCase{8000, 1, 10, 160, 1600, 1000000},
                                           AudioCase{8000, 1, 15, 160, 960, 600000}),
                         [](const ::testing::TestParamInfo<AudioCase>& param) {
                           return std::to_string(param.param.rate) + "Hz_" + std::to_string(param.param.channels) +
                                  "ch_" + std::to_string(param.param.fps) + "fps";
                         });

TEST_F(FrameSource, MonoKeepsTheLeftSampleWithItsLowestBitCleared) {
  Initialize(Config(8000, 1, 10, 160));
  Plan plan;
  plan.frames = 5;
  plan.time_step_ms = 100;
  plan.chunk_bytes = 3200;  // 800 stereo frames
  plan.sound = [](int k, unsigned char* chunk, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; i += 4) {
      const uint16_t left = k == 0 && i == 0 ? 0x1235 : static_cast<uint16_t>(k * 1000 + i);
      chunk[i] = static_cast<unsigned char>(left);
      chunk[i + 1] = static_cast<unsigned char>(left >> 8);
      chunk[i + 2] = 0xFF;  // right: 0x7FFF
      chunk[i + 3] = 0x7F;
    }
  };
  RunGraph(&plan, false, true);
  const std::vector<unsigned char> sound = Joined(audio_);
  ASSERT_EQ(sound.size(), 5u * 1600);
  EXPECT_EQ(sound[0] | (sound[1] << 8), 0x1234);
  for (size_t i = 0, j = 0; i < plan.pcm.size(); i += 4, j += 2) {
    ASSERT_EQ(sound[j], plan.pcm[i] & 0xFE) << j;
    ASSERT_EQ(sound[j + 1], plan.pcm[i + 1]) << j;
  }
}

TEST_F(FrameSource, MonoDropsAPartialFrameAtAChunksEnd) {
  Initialize(Config(8000, 1, 10, 160));
  Plan plan;
  plan.frames = 4;
  plan.time_step_ms = 100;
  plan.chunk_bytes = 3202;  // 800 frames and two stray bytes
  RunGraph(&plan, false, true);
  const std::vector<unsigned char> sound = Joined(audio_);
  ASSERT_EQ(sound.size(), 4u * 1600);
  // Chunk 1 starts right after chunk 0's 800 samples: the stray bytes are gone.
  EXPECT_EQ(sound[1600], plan.pcm[3202] & 0xFE);
  EXPECT_EQ(sound[1601], plan.pcm[3203]);
}

TEST_F(FrameSource, VideoOnlyGraphEndsWithTheDoneEvent) {
  Initialize(Config(22050, 2, 10, 1024));
  Plan plan;
  plan.frames = 6;
  plan.time_step_ms = 100;
  plan.chunk_bytes = 8820;  // freed at once: the audio pin is not connected
  RunGraph(&plan, true, false);
  ASSERT_EQ(video_.size(), 6u);
  for (size_t k = 0; k < video_.size(); ++k) {
    EXPECT_EQ(video_[k].start, static_cast<int64_t>(k) * 1000000);
    EXPECT_EQ(video_[k].stop - video_[k].start, 1000000);  // 10 frames/s
  }
  ExpectDoneOnce();
}

TEST_F(FrameSource, AudioOnlyGraphEndsWithTheDoneEvent) {
  Initialize(Config(22050, 2, 15, 1024));
  Plan plan;
  plan.frames = 6;
  plan.chunk_bytes = 5880;
  RunGraph(&plan, false, true);
  EXPECT_EQ(Joined(audio_).size() >= 6u * 5880, true);
  for (unsigned char* handed : plan.handed) EXPECT_EQ(handed, nullptr);  // no ring without a video connection
  ExpectDoneOnce();
}

TEST_F(FrameSource, ACallbackThatEndsAtOnceEndsBothStreamsAndSetsTheEventOnce) {
  ASSERT_EQ(InitializeModule(EndAtOnce, Config(22050, 2, 15, 1024)), 1);
  Graph(true, true);
  EXPECT_EQ(DeliveredTimeMs(), 0);
  EXPECT_TRUE(video_.empty());
  EXPECT_TRUE(audio_.empty());
  EXPECT_TRUE(graph_.Sink()->Ended(graph_.VideoPin()));
  EXPECT_TRUE(graph_.Sink()->Ended(graph_.AudioPin()));
  ExpectDoneOnce();
}

TEST_F(FrameSource, AFrameWithoutVideoStillQueuesItsSound) {
  Initialize(Config(22050, 2, 15, 1024));
  Plan plan;
  plan.frames = 8;
  plan.chunk_bytes = 5880;
  plan.no_video_at = 3;
  RunGraph(&plan, true, true);
  ASSERT_EQ(video_.size(), 7u);
  EXPECT_EQ(video_[3].start, 4 * 660000);  // frame 3 is missing, the stream goes on
  const std::vector<unsigned char> sound = Joined(audio_);
  EXPECT_TRUE(std::equal(plan.pcm.begin(), plan.pcm.end(), sound.begin()));
  ExpectDoneOnce();
}

TEST_F(FrameSource, StopsInMidStreamAndFreesWhatIsQueued) {
  Initialize(Config(22050, 2, 15, 1024));
  Plan plan;
  plan.frames = -1;  // never ends
  plan.chunk_bytes = 5880;
  plan.config = ModuleConfig();
  g_plan = &plan;
  HRESULT hr = S_OK;
  filter_ = ComPtr<com::IUnknown>::Adopt(CFrameFilter::CreateInstance(nullptr, &hr));
  auto* base = static_cast<dshow::IBaseFilter*>(filter_.Get());
  ASSERT_EQ(graph_.Build(base, &dshow::MEDIATYPE_Video, &dshow::MEDIATYPE_Audio), S_OK);
  graph_.Sink()->SetKeepData(false);
  ASSERT_EQ(graph_.Run(), S_OK);
  while (graph_.Sink()->SampleCount(graph_.VideoPin()) < 20) ov::Sleep(1);
  ASSERT_EQ(graph_.Stop(), S_OK);
  EXPECT_EQ(done_.Wait(0), ov::kWaitTimeout);  // a stop is not the end of the mix
  filter_.Reset();  // what is still queued is freed (AddressSanitizer checks)
}

// A slow video consumer and mono 8 kHz sound in 1024-sample encoder frames:
// each audio sample spans two frame steps, so the audio pin pulls frames
// ahead of the video pin. Every video sample must hold the frame its time
// names.
TEST_F(FrameSource, AudioPullingAheadNeverOverwritesAQueuedFrame) {
  Initialize(Config(8000, 1, 15, 1024, 64, 48));
  Plan plan;
  plan.frames = 40;
  plan.chunk_bytes = 2132;  // 8000 x 4 / 15, rounded up to whole frames
  plan.render = [](int k, unsigned char* frame) {
    for (int i = 0; i < 64 * 48; ++i) {
      frame[2 * i] = static_cast<unsigned char>(k);
      frame[2 * i + 1] = static_cast<unsigned char>(k >> 8);
    }
  };
  RunGraph(&plan, true, true, 15);
  ASSERT_EQ(video_.size(), 40u);
  for (size_t n = 0; n < video_.size(); ++n) {
    const int64_t k = video_[n].start / 660000;
    ASSERT_EQ(video_[n].start, k * 660000);
    const std::vector<unsigned char>& d = video_[n].data;
    for (size_t i = 0; i < d.size(); i += 2) {
      ASSERT_EQ(d[i] | (d[i + 1] << 8), k) << "sample " << n << " byte " << i;
    }
    EXPECT_EQ(k, static_cast<int64_t>(n));
  }
  ExpectDoneOnce();
}

// A slow sound encoder (each audio sample takes the sink 10 ms) behind a
// fast video one: the video pin renders ahead of the audio pin only by the
// audio queue's bound, so the mix's sound is never held in memory, and what
// every pin has delivered follows the frames rendered within that bound.
TEST_F(FrameSource, ASlowSoundEncoderHoldsTheFramesBack) {
  Plan plan;
  plan.frames = 60;
  plan.time_step_ms = 100;
  plan.chunk_bytes = 8820;
  int most_queued = 0, worst_lag_ms = 0, ahead_ms = INT32_MIN;
  plan.before = [&](int k) {
    auto* filter = static_cast<CFrameFilter*>(static_cast<dshow::IBaseFilter*>(filter_.Get()));
    most_queued = std::max(most_queued, static_cast<int>(filter->AudioQueue().Count()));
    const int delivered = DeliveredTimeMs();
    worst_lag_ms = std::max(worst_lag_ms, k * 100 - delivered);
    ahead_ms = std::max(ahead_ms, delivered - k * 100);
  };
  Initialize(Config(22050, 2, 10, 1024));
  plan.config = ModuleConfig();
  g_plan = &plan;
  HRESULT hr = S_OK;
  filter_ = ComPtr<com::IUnknown>::Adopt(CFrameFilter::CreateInstance(nullptr, &hr));
  auto* base = static_cast<dshow::IBaseFilter*>(filter_.Get());
  ASSERT_EQ(graph_.Build(base, &dshow::MEDIATYPE_Video, &dshow::MEDIATYPE_Audio), S_OK);
  graph_.Sink()->SetReceiveDelay(graph_.AudioPin(), 10);
  EXPECT_EQ(DeliveredTimeMs(), 0);
  ASSERT_EQ(graph_.Run(), S_OK);
  ASSERT_EQ(done_.Wait(60000), ov::kWaitObject0);
  int32_t code = 0;
  ASSERT_EQ(graph_.WaitForCompletion(60000, &code), S_OK);
  // Everything delivered, the last frame's 100 ms included.
  EXPECT_GE(DeliveredTimeMs(), 6000);
  ASSERT_EQ(graph_.Stop(), S_OK);
  EXPECT_LE(most_queued, kMaxQueuedChunks);
  // Rendered at most the queue, the video ring and the sample in hand ahead.
  EXPECT_LE(worst_lag_ms, (kMaxQueuedChunks + 4) * 100);
  EXPECT_LE(ahead_ms, 0);  // never more than what has been rendered
  EXPECT_EQ(graph_.Sink()->SampleCount(graph_.VideoPin()), 60u);
  const std::vector<unsigned char> sound = Joined(graph_.Sink()->Samples(graph_.AudioPin()));
  ASSERT_GE(sound.size(), plan.pcm.size());
  EXPECT_TRUE(std::equal(plan.pcm.begin(), plan.pcm.end(), sound.begin()));
}

// A downstream filter that fails (an error from a sample on) ends the graph
// with EC_ERRORABORT; one that takes no more (S_FALSE) ends that stream
// normally while the other runs to the mix's end, and the done event comes.
// Either way the graph ends, and no sound is queued for an audio stream that
// has ended: the queue never holds more than its bound.
TEST_F(FrameSource, AFailingOrSatisfiedDownstreamEndsTheGraphWithTheQueueBounded) {
  struct Case {
    bool audio;  // which stream's sink refuses
    uint64_t from;
    HRESULT result;
  } cases[] = {{true, 0, com::E_FAIL},   {true, 20, com::E_FAIL},   {false, 0, com::E_FAIL},
               {false, 20, com::E_FAIL}, {true, 20, com::S_FALSE},  {false, 20, com::S_FALSE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.audio ? "audio" : "video") << " from sample " << c.from << ", "
                                    << (c.result == com::S_FALSE ? "S_FALSE" : "E_FAIL"));
    Plan plan;
    plan.frames = 60;
    plan.time_step_ms = 100;
    plan.chunk_bytes = 8820;
    int most_queued = 0;
    plan.before = [&](int) {
      auto* filter = static_cast<CFrameFilter*>(static_cast<dshow::IBaseFilter*>(filter_.Get()));
      most_queued = std::max(most_queued, static_cast<int>(filter->AudioQueue().Count()));
    };
    Initialize(Config(22050, 2, 10, 0));
    plan.config = ModuleConfig();
    g_plan = &plan;
    done_.Reset();
    HRESULT hr = S_OK;
    filter_ = ComPtr<com::IUnknown>::Adopt(CFrameFilter::CreateInstance(nullptr, &hr));
    dshow::HarnessGraph graph;
    // The pins connect straight to the sink: the source's own handling of a
    // refused delivery is what is seen.
    ASSERT_EQ(graph.Build(static_cast<dshow::IBaseFilter*>(filter_.Get()), &dshow::MEDIATYPE_Video,
                          &dshow::MEDIATYPE_Audio, false),
              S_OK);
    const int refusing = c.audio ? graph.AudioPin() : graph.VideoPin();
    const int other = c.audio ? graph.VideoPin() : graph.AudioPin();
    graph.Sink()->RefuseFrom(refusing, c.from, c.result);
    // A slow picture stream lets the sound run ahead into its queue.
    graph.Sink()->SetReceiveDelay(graph.VideoPin(), 5);
    ASSERT_EQ(graph.Run(), S_OK);
    int32_t code = 0;
    ASSERT_EQ(graph.WaitForCompletion(-1, &code), S_OK);
    if (c.result == com::S_FALSE) {
      EXPECT_EQ(code, dshow::EC_COMPLETE);
      EXPECT_EQ(done_.Wait(ov::kInfinite), ov::kWaitObject0);
      EXPECT_TRUE(graph.Sink()->Ended(refusing));
      EXPECT_EQ(graph.Sink()->SampleCount(refusing), c.from);
      // The other stream runs to the mix's end.
      if (c.audio) {
        EXPECT_EQ(graph.Sink()->SampleCount(other), 60u);
      } else {
        EXPECT_GE(graph.Sink()->ByteCount(other), plan.pcm.size());
      }
    } else {
      EXPECT_EQ(code, dshow::EC_ERRORABORT);
    }
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_LE(most_queued, kMaxQueuedChunks);
    filter_.Reset();
    g_plan = nullptr;
  }
}

TEST_F(FrameSource, Rgb555OutputUnderThePrivateVideoType) {
  FrameFilterConfig config = Config(22050, 2, 15, 1024, 8, 2);
  config.VideoCodecId = 1;
  Initialize(config);
  Plan plan;
  plan.frames = 2;
  plan.render = [](int, unsigned char* frame) {
    const uint16_t pixels[16] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0020, 0, 0, 0,
                                 0x1234, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) {
      frame[2 * i] = static_cast<unsigned char>(pixels[i]);
      frame[2 * i + 1] = static_cast<unsigned char>(pixels[i] >> 8);
    }
  };
  RunGraph(&plan, true, false);
  ASSERT_EQ(video_.size(), 2u);
  const dshow::MediaType type = graph_.Sink()->ConnectionTypeOf(graph_.VideoPin());
  EXPECT_TRUE(type->majortype == dshow::MEDIATYPE_PrivateVideo);
  EXPECT_TRUE(type->subtype == dshow::MEDIASUBTYPE_RGB555);
  const std::vector<unsigned char>& d = video_[0].data;
  auto px = [&](int i) { return d[2 * i] | (d[2 * i + 1] << 8); };
  // Row 0 of the picture is the sample's second row.
  EXPECT_EQ(px(8), 0x7FFF);
  EXPECT_EQ(px(9), 0x7C00);
  EXPECT_EQ(px(10), 0x03E0);
  EXPECT_EQ(px(11), 0x001F);
  EXPECT_EQ(px(12), 0x0000);  // the lowest green bit goes
  EXPECT_EQ(px(0), 0x0914);   // 0x1234 on the picture's second row
}

TEST_F(FrameSource, PinTypesAndTheirChecks) {
  Initialize(Config(22050, 2, 15, 1024));
  HRESULT hr = S_OK;
  filter_ = ComPtr<com::IUnknown>::Adopt(CFrameFilter::CreateInstance(nullptr, &hr));
  auto* filter = static_cast<CFrameFilter*>(static_cast<dshow::IBaseFilter*>(filter_.Get()));
  CFilterInterfaceStream* video = filter->VideoPin();
  CFilterInterfaceStreamAudio* audio = filter->AudioPin();
  dshow::MediaType type;
  ASSERT_EQ(video->GetMediaType(0, type.get()), S_OK);
  EXPECT_TRUE(type->majortype == dshow::MEDIATYPE_Video);
  EXPECT_TRUE(type->subtype == dshow::MEDIASUBTYPE_RGB565);
  EXPECT_FALSE(type->bFixedSizeSamples);
  dshow::VideoInfoHeader v;
  ASSERT_TRUE(dshow::VideoInfoOf(*type.get(), &v));
  EXPECT_EQ(type->cbFormat, dshow::kVideoInfoHeaderSize);
  EXPECT_EQ(v.bmiHeader.biSizeImage, 50688u);
  EXPECT_EQ(v.AvgTimePerFrame, 666666);  // 10000000 / 15, cut: read back as 15.00 frames/s
  EXPECT_EQ(v.rcSource.right, 176);
  EXPECT_EQ(v.rcTarget.bottom, 144);
  EXPECT_EQ(v.dwBitRate, 128000u);
  EXPECT_EQ(v.bmiHeader.biHeight, 144);  // bottom-up
  EXPECT_EQ(v.bmiHeader.biBitCount, 16);
  dshow::MediaType none;
  EXPECT_EQ(video->GetMediaType(1, none.get()), dshow::VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(video->GetMediaType(0, nullptr), com::E_POINTER);
  EXPECT_EQ(video->CheckMediaType(type.get()), S_OK);
  dshow::MediaType compressed(*type.get());
  v.bmiHeader.biCompression = dshow::BI_BITFIELDS;
  dshow::WriteVideoInfoHeader(v, compressed->pbFormat);
  EXPECT_EQ(video->CheckMediaType(compressed.get()), com::S_FALSE);
  dshow::MediaType short_block(*type.get());
  short_block->cbFormat = 40;
  EXPECT_EQ(video->CheckMediaType(short_block.get()), com::S_FALSE);
  short_block->cbFormat = dshow::kVideoInfoHeaderSize;
  dshow::MediaType other(*type.get());
  other->subtype = dshow::MEDIASUBTYPE_RGB555;
  EXPECT_EQ(video->CheckMediaType(other.get()), com::S_FALSE);

  dshow::MediaType sound;
  ASSERT_EQ(audio->GetMediaType(0, sound.get()), S_OK);
  EXPECT_TRUE(sound->majortype == dshow::MEDIATYPE_Audio);
  EXPECT_TRUE(sound->bFixedSizeSamples);
  EXPECT_EQ(sound->lSampleSize, 4096u);
  dshow::WaveFormatEx w;
  ASSERT_TRUE(dshow::WaveFormatOf(*sound.get(), &w));
  EXPECT_EQ(w.wFormatTag, 1);
  EXPECT_EQ(w.nChannels, 2);
  EXPECT_EQ(w.nSamplesPerSec, 22050u);
  EXPECT_EQ(w.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(w.nBlockAlign, 4);
  EXPECT_EQ(w.wBitsPerSample, 16);
  EXPECT_EQ(audio->CheckMediaType(sound.get()), S_OK);
  sound->majortype = dshow::MEDIATYPE_PrivateAudio;
  EXPECT_EQ(audio->CheckMediaType(sound.get()), com::S_FALSE);
}

// Each frame on the grid stops where the next one starts, at rates whose
// frames fall between milliseconds (15 frames/s: 0, 67, 133, 200 ms) and
// at rates that divide a second; a stop never equals its own start.
TEST(FrameTimes, EachFrameStopsWhereTheNextStarts) {
  for (uint32_t fps : {15u, 7u, 12u, 25u, 10u}) {
    for (uint64_t k = 0; k < 3 * uint64_t{fps}; ++k) {
      const uint32_t start = static_cast<uint32_t>(FrameGridMs(k, fps));
      EXPECT_EQ(FrameStop(start, fps), FrameGridMs(k + 1, fps) * 10000) << fps << " frames/s, frame " << k;
    }
  }
}

TEST(FrameConversions, Rgb555AndFlippedRows) {
  const uint16_t in[] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0020};
  const uint16_t out[] = {0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x0000};
  unsigned char bytes[10];
  for (int i = 0; i < 5; ++i) {
    bytes[2 * i] = static_cast<unsigned char>(in[i]);
    bytes[2 * i + 1] = static_cast<unsigned char>(in[i] >> 8);
  }
  ConvertRgb565ToRgb555(bytes, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(bytes[2 * i] | (bytes[2 * i + 1] << 8), out[i]) << i;
  // Height 1: the one row as it is.
  const unsigned char row[4] = {1, 2, 3, 4};
  unsigned char copy[4] = {};
  CopyRowsFlipped(copy, row, 4, 1);
  EXPECT_EQ(std::memcmp(copy, row, 4), 0);
}

}  // namespace
}  // namespace framesource
