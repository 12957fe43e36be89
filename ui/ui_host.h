#pragma once
// UiHost: the services that elements ask of the shell (navigation, the
// action dispatcher, repainting, the skin's palette and text style, the
// options store). The screen manager implements it and installs itself with
// SetHost; element tests install a small fake. Elements reach the shell only
// through here, so ui/ does not depend on shell/.
//
// Thread: UI thread only.

#include <cstdint>

#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

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

  // Enables or disables the items bound to code under element (the current
  // menu when null) down to depth; 0 when there is no target.
  virtual int EnableActionItems(bool on, Element* element, int32_t code, int32_t depth) {
    (void)on;
    (void)element;
    (void)code;
    (void)depth;
    return 0;
  }
  // The child of the current menu under the point that can take the focus
  // (never a drag icon); null when none.
  virtual Element* ElementAtPoint(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return nullptr;
  }
  // The first element of type under element (the menu container when null).
  virtual Element* FindElementByType(Element* element, int32_t type, int32_t depth) {
    (void)element;
    (void)type;
    (void)depth;
    return nullptr;
  }
  // Appends an action to the queue the UI thread drains.
  virtual int QueueAction(Element* target, int32_t code, const ov::String& parameter, int32_t depth) {
    (void)target;
    (void)code;
    (void)parameter;
    (void)depth;
    return 0;
  }
  // Asks for help hint n to be shown when help is on.
  virtual void RequestHelpTip(int n) { (void)n; }
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
