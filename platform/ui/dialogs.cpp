#include "platform/ui/dialogs.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/file.h"
#include "platform/ui/message_box.h"
#include "platform/ui/text_entry.h"
#include "platform/ui/window.h"

namespace wnd {
namespace {

bool g_fail_system_box = false;

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

}  // namespace

bool HeadlessRun() {
  const char* headless = std::getenv("OVMIX_HEADLESS");
  return headless && *headless && std::strcmp(headless, "0") != 0;
}

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

bool RunMessageBoxHook(const ov::String& caption, const ov::String& text, uint32_t buttons, int* answer) {
  if (!Hook()) return false;
  *answer = Hook()(caption, text, buttons);
  return true;
}

int MessageBox(const ov::String& caption, const ov::String& text, uint32_t buttons, bool traced) {
  int answer = 0;
  if (RunMessageBoxHook(caption, text, buttons, &answer)) return answer;
  const int fallback = buttons == kBoxYesNo ? kAnswerNo : kAnswerOk;
  const std::string c = caption.ToUtf8Lossy();
  const std::string t = text.ToUtf8Lossy();
  // Nobody sees or answers the box: its default answer, on the record.
  auto untold = [&] {
    if (!traced) std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
    if (buttons == kBoxYesNo) std::fprintf(stderr, "%s: answered No\n", c.c_str());
    return fallback;
  };
  if (HeadlessRun()) return untold();
  // In the window the box is fitted to the screen and survives a turn,
  // which the system's box, a window of its own as wide as its longest
  // line, does neither; and it needs no fonts of the display.
  if (Window* owner = Window::Main()) return RunMessageBox(owner, caption, text, buttons);
  const SDL_MessageBoxButtonData yes_no[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kAnswerYes, "Yes"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kAnswerNo, "No"},
  };
  const SDL_MessageBoxButtonData ok[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kAnswerOk, "OK"},
  };
  SDL_MessageBoxData data{};
  data.flags = SDL_MESSAGEBOX_INFORMATION;
  data.title = c.c_str();
  data.message = t.c_str();
  data.numbuttons = buttons == kBoxYesNo ? 2 : 1;
  data.buttons = buttons == kBoxYesNo ? yes_no : ok;
  int pressed = 0;
  if (g_fail_system_box || SDL_ShowMessageBox(&data, &pressed) != 0) return untold();
  return pressed;
}

void FailSystemMessageBoxForTests(bool fail) { g_fail_system_box = fail; }

bool GetSaveFileName(const SaveFileRequest& request, ov::String* path) {
  // The name is asked for with the default offered; the extension is added
  // when the typed name lacks it.
  ov::String name = request.default_name;
  if (!EditText(u"Save As", &name)) return false;
  if (name.IsEmpty()) return false;
  const ov::String dotted = u"." + request.default_extension;
  if (!request.default_extension.IsEmpty() && !name.EndsWithNoCase(dotted.View())) name += dotted;
  const ov::String chosen = request.folder.IsEmpty() ? name : ov::JoinPath(request.folder, name);
  if (request.overwrite_prompt && ov::FileExists(chosen)) {
    const ov::String text = ov::FileNameOf(chosen) + u" already exists.\nDo you want to replace it?";
    if (MessageBox(u"Save As", text, kBoxYesNo) != kAnswerYes) return false;
  }
  *path = chosen;
  return true;
}

}  // namespace wnd
