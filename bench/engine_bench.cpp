// Mix engine benchmarks:
// - SixteenVoices: sixteen channels with echo, chorus and reverb mixed at
//   22050 Hz stereo; reports how many times faster than real time.
// - Tempo125: 60 s of input played at speed 1.25 through the audio mixer
//   (compare with bench/engine-tempo-vs-sox, which runs sox beside ovtool).
// - WaveOutClock: the wave-out position against wall time over 10 s on the
//   system output (SDL's dummy driver headless), 2205-frame blocks.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/wave_out_player.h"

namespace {

std::string Fixture(const char* name) { return std::string(OVMIX_FIXTURES_DIR) + "/" + name; }

void SixteenVoices(benchmark::State& state) {
  double audioSeconds = 0;
  for (auto _ : state) {
    engine::AudioMixer m(16, 22050, 2);
    for (uint32_t ch = 0; ch < 16; ++ch) {
      engine::EngineCommand load = engine::MakeCommand(engine::CMD_LOAD, ch);
      load.path = ov::String::FromUtf8Lossy(Fixture(ch % 2 ? "engine_22k_mono.wav" : "engine_22k_sweep.wav"));
      if (!m.ApplyAction(load, 0)) {
        state.SkipWithError("fixture missing: run scripts/make-fixtures");
        return;
      }
      m.ApplyAction(engine::MakeCommand(engine::CMD_SET_LOOP, ch), 0);
      if (ch % 3 == 0) m.ApplyAction(engine::MakeCommand(engine::CMD_ECHO, ch, 500), 0);
      if (ch % 3 == 1) m.ApplyAction(engine::MakeCommand(engine::CMD_CHORUS, ch, 5, 15), 0);
      if (ch % 3 == 2) m.ApplyAction(engine::MakeCommand(engine::CMD_REVERB, ch, 100, 4, 76, 35), 0);
      m.ApplyAction(engine::MakeCommand(engine::CMD_PLAY, ch), 0);
    }
    std::vector<uint8_t> block(m.BytesForDuration(100));
    for (int i = 0; i < 100; ++i) {  // 10 s
      uint32_t got = 0;
      m.Pull(block.data(), static_cast<uint32_t>(block.size()), &got);
      benchmark::DoNotOptimize(block.data());
    }
    audioSeconds += 10;
  }
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(SixteenVoices)->Unit(benchmark::kMillisecond)->UseRealTime();

void Tempo125(benchmark::State& state) {
  double audioSeconds = 0;
  for (auto _ : state) {
    engine::AudioMixer m(16, 22050, 2);
    // The 10 s sweep looped six times: 60 s of input, 48 s of output.
    engine::EngineCommand load = engine::MakeCommand(engine::CMD_LOAD, 0, -1, 0, 0, 1250);
    load.path = ov::String::FromUtf8Lossy(Fixture("engine_22k_sweep.wav"));
    if (!m.ApplyAction(load, 0)) {
      state.SkipWithError("fixture missing: run scripts/make-fixtures");
      return;
    }
    m.ApplyAction(engine::MakeCommand(engine::CMD_SET_LOOP, 0), 0);
    m.ApplyAction(engine::MakeCommand(engine::CMD_PLAY, 0), 0);
    std::vector<uint8_t> block(m.BytesForDuration(100));
    for (int i = 0; i < 480; ++i) {
      uint32_t got = 0;
      m.Pull(block.data(), static_cast<uint32_t>(block.size()), &got);
      benchmark::DoNotOptimize(block.data());
    }
    audioSeconds += 60;
  }
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(Tempo125)->Unit(benchmark::kMillisecond)->UseRealTime();

void WaveOutClock(benchmark::State& state) {
  for (auto _ : state) {
    engine::WaveOutPlayer player;
    if (!player.Open(16, 22050, 2)) {
      state.SkipWithError("no sound output");
      return;
    }
    std::vector<uint8_t> block(2205 * 4, 0);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) player.Write(block.data(), static_cast<uint32_t>(block.size()));
    double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    double clock = player.GetPosition();
    player.Close();
    state.counters["clock_ms"] = clock;
    state.counters["wall_ms"] = wall;
    state.counters["clock_over_wall"] = clock / wall;
  }
}
BENCHMARK(WaveOutClock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
