#pragma once
// The text-entry dialog: a small modal box over the main window with a title,
// an edit line and two soft keys. The left soft key (F1) accepts, as Enter
// and keypad Enter do (but not their key repeats: the held Enter that opened
// the box does not accept it), the right one (F2) cancels, Back (Escape,
// Backspace) deletes the last character.
// On a stylus device the soft keys are tapped: a press and release inside
// the drawn key.
// Typed text comes from SDL text input. While the box is open the window's
// timers, posted messages and paints run on; only input goes to the box.
//
// A screen turn closes the box as a cancel: the "Rotation is starting"
// broadcast does, and F5 pressed in the box does too, the turn itself being
// queued so that it runs once the caller has its answer.
//
// A test hook answers the dialog in place of the user.
//
// Thread: UI thread.

#include <functional>

#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

namespace wnd {

// Stores the process-wide texts: the text offered (and, after an accept,
// the text typed), the title and the two soft-key labels.
void SetupTextEntry(const ov::String& text, const ov::String& title, const ov::String& left_label,
                    const ov::String& right_label);
// The stored text.
const ov::String& TextEntryText();

// Where the dialog draws its left (accept) or right (cancel) soft key over
// Window::Main() with the stored labels, in screen pixels; empty without a
// window.
gfx::Rect TextEntrySoftKeyRect(bool left);

// Runs the dialog over Window::Main(). True when the user accepted (the
// stored text then holds what was typed, possibly empty); false on cancel,
// a turn, a closed program or no window, the stored text unchanged. A
// headless run (OVMIX_HEADLESS) without a hook accepts the offered text.
bool RunTextEntryDialog();

// Offers `*text` under `title` with the soft keys "OK" and "Cancel"; on
// accept `*text` is what was typed. The result of RunTextEntryDialog.
bool EditText(const ov::String& title, ov::String* text);

// hook(title, text in/out) -> accepted; it answers in place of the user.
// An empty function removes it.
using TextEntryHook = std::function<bool(const ov::String& title, ov::String* text)>;
void SetTextEntryHook(TextEntryHook hook);

}  // namespace wnd
