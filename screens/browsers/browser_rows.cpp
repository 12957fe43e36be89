#include "screens/browsers/browser_rows.h"

#include <algorithm>

#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int32_t kHelpBrowserKeys = 2;

}  // namespace

bool IsYesFlag(const ov::String& value) { return value.EqualsNoCase(u"y") || value.EqualsNoCase(u"yes"); }

void DrawRowFrame(gfx::HDC dc, const ui::SkinImage& frame, int32_t x, int32_t y, int32_t max_width,
                  int32_t max_height, uint32_t key) {
  if (!frame.bitmap || !frame.dc) return;
  const int32_t w = std::min(frame.width, max_width);
  const int32_t h = std::min(frame.height, max_height);
  if (w > 0 && h > 0) gfx::TransparentImage(dc, x, y, w, h, frame.dc.get(), 0, 0, w, h, key);
}

void DrawRowThumbnail(gfx::HDC dc, const gfx::HBitmap& thumbnail, int32_t x, int32_t y, int32_t right,
                      int32_t bottom) {
  if (!thumbnail) return;
  auto mem = gfx::CreateCompatibleDC(dc);
  mem->SelectBitmap(thumbnail);
  const int32_t w = std::min(thumbnail->width(), right - x);
  const int32_t h = std::min(thumbnail->height(), bottom - y);
  if (w > 0 && h > 0) gfx::BitBlt(dc, x, y, w, h, mem.get(), 0, 0, gfx::kSrcCopy);
}

bool BrowserDirectionKey(ui::Element* browser, int32_t code, const std::function<void()>& previous,
                         const std::function<void()>& next, const std::function<void()>& after) {
  ui::UiHost* host = ui::Host();
  if (!host || !browser->IsVisible() || host->GetFocusedSelection() != browser) return false;
  switch (code) {
    case 2:
      host->RequestHelpTip(kHelpBrowserKeys);
      previous();
      break;
    case 3:
      host->RequestHelpTip(kHelpBrowserKeys);
      next();
      break;
    case 4:
      browser->OnAction(ui::kActionBrowserPreview, ov::String(), 0);
      break;
    default:
      return false;
  }
  host->InvalidateAll();
  after();
  return true;
}

}  // namespace screens
