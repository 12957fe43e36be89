#pragma once
// UiHost: the services that elements ask of the shell (navigation, the
// action dispatcher, repainting, the skin's palette and text style, the
// options store). The screen manager implements it and installs itself with
// SetHost; element tests install a small fake. Elements reach the shell only
// through here, so ui/ does not depend on shell/.
//
// Thread: UI thread only.

#include <cstdint>
#include <memory>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

namespace engine {
class MixEngine;
}

namespace ui {

class Element;
class Menu;
struct MenuBar;

// The skin's default text style.
struct TextStyle {
  uint32_t focused_text = 0x000000;
  uint32_t idle_text = 0xFFFFFF;
  uint32_t disabled_text = 0x000000;
  uint32_t focused_background = 0x808080;
  ov::String font = u"Tahoma";
  bool antialias = false;
};

class UiHost {
 public:
  virtual ~UiHost() = default;

  // The dispatcher (code, parameter, depth); 1 when navigation handled it.
  virtual int DoAction(int32_t code, const ov::String& parameter, int32_t depth) = 0;
  virtual bool GoBack(bool force) = 0;
  virtual bool JumpToMenu(const ov::String& name) = 0;
  virtual void OpenPopup(Element* element) = 0;
  virtual void ClosePopup(Element* element) = 0;
  // The descendant search of menu (the current menu when null).
  virtual Element* FindElementByName(Menu* menu, const ov::String& name, bool recurse) = 0;
  // The focused element's selected child, or null.
  virtual Element* GetFocusedSelection() = 0;
  virtual void SetPressedElement(Element* element) = 0;
  virtual Element* GetPressedElement() = 0;
  // The open item group (309 records it, 310 clears it).
  virtual void SetOpenItemGroup(Element* group) = 0;
  // The element that receives all stylus input (an open item group); null
  // releases it.
  virtual void SetStylusCapture(Element* element) = 0;
  virtual void InvalidateArea(const gfx::Rect& area) = 0;
  virtual void InvalidateAll() = 0;

  // Palette reference "color" + digit: true and the colour.
  virtual bool LookupPaletteColour(const ov::String& text, uint32_t* colour) = 0;
  virtual TextStyle GetTextStyle() = 0;
  // Skin folder without a trailing separator.
  virtual ov::String SkinFolder() = 0;
  // Screen width and the usable height below which popups must end.
  virtual gfx::Size ScreenSize() = 0;

  // Option binding: stores text into the option named key (string keys,
  // then numeric keys as decimal); 1 when a value changed. Reads the option
  // as text (numeric as "%d"); false for an unknown key.
  virtual int StoreOption(const ov::String& key, const ov::String& text) = 0;
  virtual bool ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) = 0;
  virtual void SaveOptionsLater() = 0;

  // The window's menu bar model; null when there is no window.
  virtual MenuBar* GetMenuBar() = 0;

  // Services of the mix screens. The defaults stand for a host without a
  // shell (element tests): nothing found, nothing stored.
  //
  // From any thread: hands the action to the UI thread, to `target` or,
  // when null, to DoAction.
  virtual int QueueAction(Element* target, int32_t code, const ov::String& parameter, int32_t depth);
  virtual Menu* RootMenu() { return nullptr; }
  virtual Menu* CurrentMenu() { return nullptr; }
  virtual Element* FocusedElement() { return nullptr; }
  // Gives the element the focus (with its position in the current menu's
  // child list, none when it is not a child there). No focus-gained or
  // focus-lost action is sent.
  virtual void SetFocus(Element* element) { (void)element; }
  // Enables the current menu's items bound to the options "EffectSpeed" and
  // "EffectDir" as the effect type in option "EffectType" uses them.
  virtual void UpdateEffectControls() {}
  // The first element of that type under `element` (the current menu when
  // null), into sub-menus when depth is not 0.
  virtual Element* FindElementByType(Element* element, int32_t type, int32_t depth);
  // The first element under `element` (the current menu when null) bound to
  // the action code.
  virtual Element* FindElementByAction(Element* element, int32_t code);
  // Enables or greys (checks or unchecks) every item under `element` (the
  // current menu when null) bound to the code, the soft-key items included.
  virtual void EnableActionItems(bool on, Element* element, int32_t code, int32_t depth);
  virtual void CheckActionItems(bool on, Element* element, int32_t code, int32_t depth);
  // The same for the items whose attribute value is `value`.
  virtual void EnableAttributeItems(bool on, Element* element, const ov::String& value, int32_t depth);
  virtual void SetKeepAwake(bool on) { (void)on; }
  // The screen area left out of the back buffer's copy to the window (the
  // live video); all zero: none.
  virtual void SetLiveVideoArea(int32_t x, int32_t y, int32_t w, int32_t h);
  // The shared playback set: the host keeps the engine (and with it its
  // two mixers) from then on.
  virtual void SetMixEngine(std::shared_ptr<engine::MixEngine> engine) { (void)engine; }
  virtual engine::MixEngine* GetMixEngine() { return nullptr; }
  // A file handed to another program that the host deletes when the
  // application is next activated, and at the latest when the program ends;
  // every one handed over is kept, not only the last. The answer names the
  // hand-over for ov::DeletePending (0: nothing kept).
  virtual uint64_t SetPendingDeleteFile(const ov::String& path) {
    (void)path;
    return 0;
  }
  // The last file handed over and not yet deleted; empty when none.
  virtual ov::String GetPendingTempFile() { return ov::String(); }
  // Set while a screen rotation saves and rebuilds the screens.
  virtual bool RotationInProgress() { return false; }
  virtual void RequestHelpTip(int n) { (void)n; }
  // Addresses of numeric option slot n and string option slot n; null
  // outside the slots or without an options store.
  virtual uint32_t* NumericOption(int n) {
    (void)n;
    return nullptr;
  }
  virtual ov::String* StringOption(int n) {
    (void)n;
    return nullptr;
  }
  // Where the program keeps what it writes ("user.opt", "rotate.mix"),
  // ending with '/'; empty without a shell.
  virtual ov::String DataFolder() { return ov::String(); }
  // The folder of the program's own files (the packages and the program
  // that renders), ending with '/'; empty without a shell.
  virtual ov::String ApplicationFolder() { return ov::String(); }
  // The window's surface and the call that shows a part of it; null and
  // nothing without a window. The live video is drawn there on the UI thread.
  virtual gfx::HBitmap WindowSurface() { return nullptr; }
  virtual void PresentArea(const gfx::Rect& area) { (void)area; }
  // The child of the current menu under the point that can take the focus
  // (never a drag icon); null when none.
  virtual Element* ElementAtPoint(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return nullptr;
  }
  // Whether menu is the current menu or in the history.
  virtual bool IsMenuInHistory(Menu* menu) const {
    (void)menu;
    return false;
  }
};

// The installed host; null until one is set. Elements check for null where
// they can run without a shell (tests, ovtool skin dump).
UiHost* Host();
void SetHost(UiHost* host);

// Repaints the whole screen (0, 0, screen width, screen height); nothing
// without a host.
void InvalidateScreen();

// Colour attribute value: a palette reference through the host, else
// hexadecimal without prefix.
uint32_t ParseColour(const ov::String& value);
// Decimal with optional blanks and sign; 0 without digits.
int32_t ParseDecimal(const ov::String& value);
// Skin geometry (positions, sizes, widths, angles): a decimal limited to
// +-kMaxSkinCoordinate, so that sums and products of positions and sizes
// from a damaged skin stay inside 32 bits.
inline constexpr int32_t kMaxSkinCoordinate = 32767;
int32_t ParseCoordinate(const ov::String& value);
// Writes one line naming a skin picture that could not be read or decoded to
// stderr, once per path for the process, so that a damaged skin package is
// found without a debugger. The element draws its plain fallback instead.
void ReportUnreadablePicture(const ov::String& path);

// "true", "yes" or "y", any case.
bool IsTrueValue(const ov::String& value);
// Hexadecimal digits from the start (an optional "0x" is skipped); 0 when none.
uint32_t ParseHex(const ov::String& value);

}  // namespace ui
