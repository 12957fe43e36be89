// Skin loader: the input as the skin XML, walked into an element tree the
// way the shell loads it, then the searches the screen manager runs. Then
// the first screens of the skin are shown one after another and driven
// (painted, stepped by the direction keys, tapped and dragged at points
// spread over the screen, their sequences and animations ticked), so the
// widgets meet the sizes and counts the skin gave them. The loader's
// process-ending paths (a refused version, a missing checked picture) are
// hooked so that they end the input, not the fuzzer.
#include <cstdint>
#include <stdexcept>

#include "fuzz/fuzz_target.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"
#include "shell/xml_manager.h"

namespace {

struct ProcessEnd {};

// Screens driven per input: the work stays bounded however many a skin has.
// Painting (text through the font engine) is most of the time, so each
// screen is painted once, after its input.
constexpr size_t kMaxScreens = 6;

void DriveScreen(shell::ScreenManager* manager, ui::Menu* menu) {
  manager->ShowMenu(menu, 0, false, false);
  for (int32_t key : {1, 2, 3, 4}) manager->OnKey(key);
  // Taps at the corners, the middle and points near the screen's edges,
  // some outside it, then a drag across.
  static const int32_t kPoints[][2] = {{0, 0}, {120, 160}, {239, 319}, {5, 300}, {230, 20}, {-4, 400}};
  for (const auto& p : kPoints) {
    manager->RouteStylusDown(p[0], p[1]);
    manager->RouteStylusMove(p[0] + 7, p[1] + 13);
    manager->RouteStylusUp(p[0] + 7, p[1] + 13);
  }
  manager->RouteDoubleTap(120, 160);
  for (int i = 0; i < 3; ++i) manager->OnTimer(shell::kTimerTick);
  manager->Paint({0, 0, 240, 320});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  shell::SetEndProcessHook([](int) { throw ProcessEnd(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> copy(data, data + size);
  shell::ScreenManager manager(240, 320, u"/nonexistent/ovmix-fuzz/user.opt", nullptr);
  shell::SetImageCheckForTesting(false);
  try {
    shell::XmlManager loader(&manager, u"/nonexistent/ovmix-fuzz/", u"none.pak");
    if (loader.ParseSkinText(copy.data(), copy.size()) && manager.menu_container()) {
      ui::Menu* root = manager.menu_container();
      root->FindMenu(u"main_menu");
      root->FindDescendant(u"help12", true);
      root->FindByType(ui::kTypeMixer, true);
      root->FindByAction(ui::kActionJumpTo);
      root->EnableAction(false, ui::kActionDisabled, -1);
      manager.ShowSplash(false);
      manager.DoAction(ui::kActionJumpTo, u"settings", 1);
      manager.OnKey(3);
      manager.OnKey(4);
      manager.GoBack(true);
      manager.Paint({0, 0, 240, 320});
      // Copied first: a screen's actions may change the container's lists.
      std::vector<ui::Menu*> screens;
      for (const auto& m : root->sub_menus()) {
        if (screens.size() == kMaxScreens) break;
        screens.push_back(m.get());
      }
      for (ui::Menu* m : screens) DriveScreen(&manager, m);
    }
  } catch (const ProcessEnd&) {
  }
  shell::SetImageCheckForTesting(false);
  return 0;
}
