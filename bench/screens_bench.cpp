// The project file: SaveMix and LoadMix of a mix holding 10 000 recorded
// commands and a few clips (times in ms). No peer: the format is our own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/mix_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"

namespace {

constexpr int kCommands = 10000;

struct Rig {
  std::string dir = (std::filesystem::temp_directory_path() / "ovmix-screens-bench").string();
  ovtest::ScreensHost host{dir};
  std::unique_ptr<ovtest::MixerScreen> screen;
  std::string path = dir + "/bench.mix";

  Rig() {
    std::filesystem::create_directories(dir);
    screen = std::make_unique<ovtest::MixerScreen>(&host);
    for (int i = 0; i < 3; ++i) {
      const std::string photo = ovtest::TouchFile(dir, "photo" + std::to_string(i) + ".jpg");
      screen->channel[0]->AddClip(screens::kKindImage, screens::kFileTypeJpeg, ov::String::FromUtf8Lossy(photo),
                                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0,
                                  0, 0, 0, 0, 0, nullptr);
    }
    for (int i = 0; i < kCommands; ++i) {
      engine::EngineCommand c = engine::MakeCommand(i % 3 == 0 ? engine::CMD_LOAD : engine::CMD_VOLUME,
                                                    uint32_t(i % 32), i, i * 3);
      if (c.type == engine::CMD_LOAD) c.path = u"/media/photos/holiday-2026-0001.jpg";
      host.engine->PostAction(std::make_unique<engine::EngineCommand>(c));
    }
  }
  ~Rig() { std::filesystem::remove_all(dir); }
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

void BM_SaveMix(benchmark::State& state) {
  Rig& r = TheRig();
  for (auto _ : state) {
    if (!r.screen->mixer->SaveMix(ov::String::FromUtf8Lossy(r.path))) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveMix)->Unit(benchmark::kMillisecond);

void BM_LoadMix(benchmark::State& state) {
  Rig& r = TheRig();
  r.screen->mixer->SaveMix(ov::String::FromUtf8Lossy(r.path));
  for (auto _ : state) {
    if (!r.screen->mixer->LoadMix(ov::String::FromUtf8Lossy(r.path))) state.SkipWithError("load failed");
  }
}
BENCHMARK(BM_LoadMix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
