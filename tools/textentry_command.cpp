// ovtool textentry: opens a window and the text-entry dialog over it, for
// checks on a real display (tests/shell/text-entry-under-x).
//
//   ovtool textentry TEXT
//
// Prints "accepted: TYPED" or "cancelled: TEXT" once the dialog closes, then
// "turned" when a turn (F5 in the dialog) reached the window after it, and
// ends.

#include <cstdio>
#include <string>

#include "platform/os/ov_string.h"
#include "platform/ui/text_entry.h"
#include "platform/ui/window.h"
#include "tools/tool_command.h"

namespace {

int RunTextEntry(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ovtool textentry TEXT\n");
    return 2;
  }
  bool turned = false;
  auto window = wnd::Window::Create(u"ovtool textentry", 176, 208, 26, 2, [&](const wnd::Event& e) {
    if (e.message == wnd::Message::kKey && e.wparam == static_cast<uint32_t>(wnd::Key::kRotate)) turned = true;
  });
  if (!window) return 1;
  ov::String text = ov::String::FromUtf8Lossy(argv[1]);
  const bool accepted = wnd::EditText(u"Enter Text", &text);
  std::printf("%s: %s\n", accepted ? "accepted" : "cancelled", text.ToUtf8Lossy().c_str());
  // What was queued behind the dialog (a turn) is handled now.
  for (int i = 0; i < 5; ++i) window->Pump(20);
  if (turned) std::printf("turned\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(textentry, "textentry TEXT  run the text-entry dialog and print what it returned", RunTextEntry);
