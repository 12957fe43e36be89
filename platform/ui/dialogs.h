#pragma once
// Dialogs: the message box with buttons and the save-file dialog. SDL has no
// file dialog, so the save dialog is a stand-in: it asks for the name with
// the text-entry dialog (text_entry.h), the default name offered, saves in
// the starting folder and, when that file exists and the request asks for
// it, confirms the overwrite with a yes/no message box.
//
// The message box is drawn in the program's own window (message_box.h),
// fitted to its screen; only without a window (a start that fails before
// it opens) is the system's box shown. A test hook answers (and records)
// every message box in place of the user; without one, a headless run
// (OVMIX_HEADLESS) answers OK and No and writes caption and text to
// stderr, as does a run whose system box cannot be shown: no box is ever
// answered without a trace.
//
// Thread: UI thread.

#include <cstdint>
#include <functional>

#include "platform/os/ov_string.h"

namespace wnd {

// Buttons of a message box, and its answers (the platform's numbers).
enum : uint32_t { kBoxOk = 0, kBoxYesNo = 4 };
enum : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

// True when OVMIX_HEADLESS is set (and not "0"): nobody answers dialogs.
bool HeadlessRun();

// Shows a box and returns the answer. traced: the caller has written caption
// and text to stderr already (an error), so that nothing is written twice.
int MessageBox(const ov::String& caption, const ov::String& text, uint32_t buttons, bool traced = false);

// Makes the system's box fail, as it does on an X server with only its
// built-in fonts (tests of the start before the window opens).
void FailSystemMessageBoxForTests(bool fail);

// hook(caption, text, buttons) -> answer; an empty function removes it.
using MessageBoxHook = std::function<int(const ov::String& caption, const ov::String& text, uint32_t buttons)>;
void SetMessageBoxHook(MessageBoxHook hook);
// True (and the hook's answer) when a hook is installed.
bool RunMessageBoxHook(const ov::String& caption, const ov::String& text, uint32_t buttons, int* answer);

struct SaveFileRequest {
  ov::String folder;             // starting folder; empty: the current folder
  ov::String default_name;       // without extension
  ov::String default_extension;  // without the dot
  ov::String filter;
  bool overwrite_prompt = true;
};

// The chosen path: false when the user cancelled, typed no name or declined
// the overwrite. A headless run without a text-entry hook cannot ask and
// takes the default name.
bool GetSaveFileName(const SaveFileRequest& request, ov::String* path);

}  // namespace wnd
