#pragma once
// Font and text helpers of the UI toolkit: adding the skin folder's font
// files, finding a face by name, and drawing one line of text cut with "..."
// when it does not fit (list-like elements).
//
// Thread: UI thread.

#include <cstdint>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/os/ov_string.h"

namespace ui {

// The drawing state of an element that draws text with DrawTextEllipsis:
// font face name, font height, antialias flag, line size in pixels and the
// font handle, made on first use and kept for the element's life.
class TextFontState {
 public:
  virtual ~TextFontState() = default;
  virtual ov::String FontFaceName() const = 0;
  virtual int32_t FontHeight() const = 0;
  virtual bool FontAntialiased() const = 0;
  virtual int32_t LineSize() const = 0;
  virtual gfx::HFont& CachedFont() = 0;
};

// What FindFont's enumeration looks for and fills.
struct FontSearch {
  bool found = false;
  ov::String wanted;
  gfx::LogFont* description = nullptr;
};

// Enumeration callback: copies a font whose face name equals the wanted name
// (case-insensitively) into the description. Always 1, so the enumeration
// runs to its end and the last matching font wins.
int FindFontCallback(const gfx::LogFont& font, const gfx::TextMetrics& metrics, uint32_t font_type,
                     FontSearch* search);

// Fills *description for the face name: the enumerated font of that name,
// else the system font's face; width, escapement, orientation, weight,
// italic, underline and strike-out are then cleared. Returns 1.
int FindFont(gfx::HDC dc, gfx::LogFont* description, ov::String face_name);

// Adds (remove == 0) or removes every file of folder matching pattern
// ("*.ttf") as a font; the number of files handled, 0 when none matches.
int LoadFontFolder(ov::String folder, ov::String pattern, int remove);

// Draws text at (x, *y) in the element's font and colour on a transparent
// background, clipped to *clip. Text wider than the clip is cut at the pixel,
// clip->right moves left by the width of "..." and "..." is drawn there.
// *y advances by the element's line size. Nothing happens when the text
// cannot be measured.
void DrawTextEllipsis(TextFontState* element, gfx::HDC dc, ov::String text, gfx::Rect* clip, int32_t x, int32_t* y,
                      gfx::COLORREF colour);

}  // namespace ui
