#pragma once
// What the media browser and the effect browser do alike for their lists:
// the frame behind the selected row, the row's thumbnail, the direction keys
// that step the selection or preview, and their skin flags. The scrolling
// itself is ScrolledList's.
//
// Thread: UI thread only.

#include <cstdint>
#include <functional>

#include "platform/gfx/dc.h"
#include "ui/control.h"

namespace screens {

// A flag attribute of a browser's skin: set by "y" or "yes" in any case,
// cleared by anything else ("true" and "1" included).
bool IsYesFlag(const ov::String& value);

// The selected row's frame at (x, y), cut to max_width x max_height, its
// key colour transparent; nothing for a frame not loaded.
void DrawRowFrame(gfx::HDC dc, const ui::SkinImage& frame, int32_t x, int32_t y, int32_t max_width,
                  int32_t max_height, uint32_t key);

// A row's thumbnail copied to (x, y), cut to right and bottom; nothing
// without one.
void DrawRowThumbnail(gfx::HDC dc, const gfx::HBitmap& thumbnail, int32_t x, int32_t y, int32_t right,
                      int32_t bottom);

// The direction keys of a focused, visible browser: 2 steps back and 3 on
// (each asking for help hint 2), 4 previews (PB_PREVIEW to the browser);
// then the whole window is repainted and `after` runs. False, with nothing
// done, for any other key or a browser hidden or without the focus.
bool BrowserDirectionKey(ui::Element* browser, int32_t code, const std::function<void()>& previous,
                         const std::function<void()>& next, const std::function<void()>& after);

}  // namespace screens
