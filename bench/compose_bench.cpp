// Composing frames in the video mixer: 1000 frames of 320x240 from three
// channels (a full-frame clip, a letterboxed clip and a picture fading in
// over them), reported as frames per second. bench/compose-vs-ffmpeg runs the
// same composition through ovtool beside an ffmpeg overlay-and-fade graph.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine/video_mixer.h"

namespace {

// Frames of w x h every 40 ms, generated once and handed out again and again.
struct Clip : media::DecoderSource {
  int32_t w, h;
  uint32_t next = 0;
  std::unique_ptr<uint8_t[]> pattern;
  Clip(int32_t w_, int32_t h_) : w(w_), h(h_), pattern(new uint8_t[size_t(w_) * size_t(h_) * 2]) {
    for (int32_t i = 0; i < w * h; ++i) {
      const uint16_t v = uint16_t((i * 37) ^ (i >> 7));
      pattern[2 * size_t(i)] = uint8_t(v);
      pattern[2 * size_t(i) + 1] = uint8_t(v >> 8);
    }
  }
  bool Seek(uint32_t t) override {
    next = t / 40;
    return true;
  }
  bool Rewind() override { return Seek(0); }
  bool GetFormat(media::MediaFormat* f) override {
    *f = media::MediaFormat{};
    f->width = uint32_t(w);
    f->height = uint32_t(h);
    f->frameDurationMs = 40;
    return true;
  }
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* b, uint32_t* bytes, uint32_t* t, uint32_t) override {
    const size_t n = size_t(w) * size_t(h) * 2;
    b->reset(new uint8_t[n]);
    std::copy_n(pattern.get(), n, b->get());
    *bytes = uint32_t(n);
    *t = next++ * 40;
    return true;
  }
  bool Open(const ov::String&, uint32_t) override { return true; }
};

void ComposeThreeChannelsWithFade(benchmark::State& state) {
  constexpr int kFrames = 1000;
  for (auto _ : state) {
    engine::VideoMixer mixer(320, 240, 25, 0);
    mixer.SetSourceOpener([](const ov::String& p, uint32_t) -> std::unique_ptr<media::DecoderSource> {
      const std::string s = p.ToUtf8Lossy();
      if (s == "a") return std::make_unique<Clip>(320, 240);
      if (s == "b") return std::make_unique<Clip>(176, 144);
      return std::make_unique<Clip>(240, 240);
    });
    const char* names[3] = {"a", "b", "c"};
    for (uint32_t ch = 0; ch < 3; ++ch) {
      engine::EngineCommand load;
      load.type = engine::CMD_LOAD;
      load.channel = 16 + ch;
      load.param1 = -1;
      load.param4 = int32_t(engine::kWholePicture);
      load.path = ov::String::FromAscii(names[ch]);
      mixer.ApplyAction(load, 0);
      engine::EngineCommand play;
      play.channel = 16 + ch;
      if (ch == 2) {
        // The top channel fades in over the first ten seconds.
        play.type = engine::CMD_FADE;
        play.param1 = 10000;  // 250 frames: the fade spans 255 levels at most
        mixer.ApplyAction(play, 0);
      }
      play.type = engine::CMD_PLAY;
      play.param1 = 0;
      mixer.ApplyAction(play, 0);
    }
    for (int i = 0; i < kFrames; ++i) benchmark::DoNotOptimize(mixer.ComposeFrame(uint32_t(i) * 40));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(ComposeThreeChannelsWithFade)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
