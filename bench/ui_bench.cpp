// The shell's painting: a full repaint of the main menu of the default skin
// into the back buffer and onto the (offscreen) window, and a small partial
// repaint. Runs headless on SDL's offscreen driver.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "platform/os/folders.h"
#include "shell/app.h"

namespace {

std::unique_ptr<shell::App> StartApp() {
  setenv("OVMIX_HEADLESS", "1", 1);
  shell::StartOptions options;
  options.application_folder = ov::String::FromUtf8Lossy(OVMIX_BIN_DIR);
  options.data_folder = ov::TempPath();
  options.check_framesource = false;
  options.show_splash = false;
  auto app = std::make_unique<shell::App>(options);
  if (!app->InitInstance()) return nullptr;
  for (int i = 0; i < 8; ++i) app->window()->Pump(0);
  return app;
}

void BM_FullRepaint(benchmark::State& state) {
  static std::unique_ptr<shell::App> app = StartApp();
  if (!app) {
    state.SkipWithError("the shell did not start");
    return;
  }
  const gfx::Rect all{0, 0, 240, 320 + shell::ScreenManager::kBarHeight};
  for (auto _ : state) app->screen_manager()->Paint(all);
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMicrosecond);

void BM_PartialRepaint(benchmark::State& state) {
  static std::unique_ptr<shell::App> app = StartApp();
  if (!app) {
    state.SkipWithError("the shell did not start");
    return;
  }
  const gfx::Rect button{20, 70, 220, 110};
  for (auto _ : state) app->screen_manager()->Paint(button);
}
BENCHMARK(BM_PartialRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
