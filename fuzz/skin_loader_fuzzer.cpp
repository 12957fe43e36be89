// Skin loader: the input as the skin XML, walked into an element tree the
// way the shell loads it, then the searches the screen manager runs. The
// loader's process-ending paths (a refused version, a missing checked
// picture) are hooked so that they end the input, not the fuzzer.
#include <cstdint>
#include <stdexcept>

#include "fuzz/fuzz_target.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"
#include "shell/xml_manager.h"

namespace {

struct ProcessEnd {};

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
    }
  } catch (const ProcessEnd&) {
  }
  shell::SetImageCheckForTesting(false);
  return 0;
}
