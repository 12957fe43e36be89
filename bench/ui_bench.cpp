// The shell's painting: a full repaint of the main menu of the default skin
// into the back buffer and onto the (offscreen) window, and a small partial
// repaint; and one screen rotation on the mixer screen (state saved to
// "Rotation.ser" and "rotate.mix", screen manager and skin rebuilt for the
// new size, state restored, first paint). Runs headless on SDL's offscreen
// driver, each shell with a data folder of its own.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/folders.h"
#include "shell/app.h"

namespace {

// A fresh data folder: the rotation writes its state files there, and a
// folder shared with other runs would mix their files with ours.
std::string FreshDataFolder() {
  std::string pattern = ov::TempPath().ToUtf8Lossy() + "ovmix-ui-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) return std::string();
  static std::vector<std::string> made;
  if (made.empty()) std::atexit([] {
    std::error_code ignored;
    for (const std::string& folder : made) std::filesystem::remove_all(folder, ignored);
  });
  made.push_back(pattern);
  return pattern;
}

std::unique_ptr<shell::App> StartApp() {
  setenv("OVMIX_HEADLESS", "1", 1);
  const std::string data = FreshDataFolder();
  if (data.empty()) return nullptr;
  shell::StartOptions options;
  options.application_folder = ov::String::FromUtf8Lossy(OVMIX_BIN_DIR);
  options.data_folder = ov::String::FromUtf8Lossy(data);
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

void BM_Rotation(benchmark::State& state) {
  static std::unique_ptr<shell::App> app = StartApp();
  if (!app) {
    state.SkipWithError("the shell did not start");
    return;
  }
  app->screen_manager()->JumpToMenu(u"mixing_menu");
  for (int i = 0; i < 8; ++i) app->window()->Pump(0);
  for (auto _ : state) {
    const int32_t width = app->window()->screen_width();
    // F5 as the window delivers it; the pump paints the new screen.
    app->MainWndProc(wnd::Event(wnd::Message::kKey, static_cast<uint32_t>(wnd::Key::kRotate)));
    app->window()->Pump(0);
    if (app->screen_manager()->ScreenSize().cx == width) {
      state.SkipWithError("the screen did not turn");
      break;
    }
  }
  if (app->screen_manager()->current_menu() == nullptr ||
      app->screen_manager()->current_menu()->title() != ov::String(u"mixing_menu")) {
    state.SkipWithError("the rotation lost the mixer screen");
  }
}
// Wall time: most of a rotation's cost the user waits for is writing and
// syncing the state files, which the thread's CPU time leaves out.
BENCHMARK(BM_Rotation)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
