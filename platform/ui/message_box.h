#pragma once
// The message box drawn in the program's own window: a caption, the text and
// one (OK) or two (Yes, No) buttons, over the middle of the screen. The box
// is fitted to the screen, whatever the text: it is wrapped at blanks to the
// screen's width, a word wider than a line (a long path) is cut in its
// middle with "...", and a text of more lines than fit keeps its first and
// last lines with a "..." line between them, so that the buttons always
// stay in view.
//
// While it is open the window's timers, posted messages and paints run on;
// the box is drawn again over every area the window presents. Keys: the
// left soft key (F1), Enter and keypad Enter (not a key repeat) press the
// first button (OK, Yes); the right soft key (F2) the last one (OK, No);
// Back (Escape, Backspace) answers OK or No. A tap presses a button. A turn
// (F5) turns the screen at once and lays the box out again for it; the
// screens beneath are rebuilt once the box has answered (Window::Rotate).
//
// Thread: UI thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

namespace wnd {

class Window;

// Where a box sits on a width x height screen, in screen pixels.
struct MessageBoxLayout {
  gfx::Rect box;
  std::u16string caption;  // as shown (cut in its middle when too long)
  gfx::Rect caption_rect;
  std::vector<std::u16string> lines;  // the text as shown, one per line
  std::vector<gfx::Rect> line_rects;
  std::vector<gfx::Rect> buttons;  // OK; or Yes, then No
  std::vector<std::u16string> labels;
};

// Lays a box out with the DC's selected font; buttons is kBoxOk or kBoxYesNo.
MessageBoxLayout LayOutMessageBox(gfx::HDC dc, int32_t width, int32_t height, const ov::String& caption,
                                  const ov::String& text, uint32_t buttons);

// Shows the box over `owner` and returns the answer (kAnswerOk, kAnswerYes,
// kAnswerNo); when the program is closed meanwhile, the answer of Back.
int RunMessageBox(Window* owner, const ov::String& caption, const ov::String& text, uint32_t buttons);

// Tests: called with the box's layout each time it is drawn after being
// laid out (when it opens and after a turn), once it is on the surface; an
// empty function removes it.
using MessageBoxShownHook = std::function<void(const MessageBoxLayout& layout)>;
void SetMessageBoxShownHook(MessageBoxShownHook hook);

}  // namespace wnd
