// ScreenManager: painting the current menu through the back buffer, the
// soft-key bar and its popup menu.
#include "shell/screen_manager.h"

#include <functional>

#include "platform/gfx/font.h"
#include "platform/gfx/region.h"
#include "platform/picture/picture.h"
#include "ui/control.h"
#include "ui/drop_down_menu.h"

namespace shell {
namespace {

using ui::Element;
using ui::Menu;

bool Overlaps(int32_t pos, int32_t size, int32_t lo, int32_t hi) {
  const int32_t end = pos + size;
  return (pos >= lo && pos < hi) || (end > lo && end <= hi) || (pos <= lo && end >= hi);
}

// The bar's colours.
constexpr gfx::COLORREF kBarBackground = gfx::Rgb(0x1E, 0x23, 0x2B);
constexpr gfx::COLORREF kBarText = gfx::Rgb(0xF2, 0xF4, 0xF7);
constexpr gfx::COLORREF kBarGreyed = gfx::Rgb(0x70, 0x78, 0x84);
constexpr gfx::COLORREF kMenuBackground = gfx::Rgb(0xFA, 0xFB, 0xFC);
constexpr gfx::COLORREF kMenuText = gfx::Rgb(0x1E, 0x23, 0x2B);
constexpr gfx::COLORREF kMenuSelected = gfx::Rgb(0x2F, 0x80, 0xED);

// The plain fill of a background that cannot be read: light under dark
// default text, black under light text, so that the labels stay readable.
gfx::COLORREF PlainBackground(uint32_t text) {
  const uint32_t luma = ((text & 0xFF) * 299 + ((text >> 8) & 0xFF) * 587 + ((text >> 16) & 0xFF) * 114) / 1000;
  return luma < 128 ? gfx::Rgb(0xF0, 0xF0, 0xF0) : gfx::Rgb(0, 0, 0);
}

}  // namespace

void ScreenManager::PaintBackground(const gfx::Rect& rect, gfx::HDC dc) {
  if (!current_ || current_->background_image().IsEmpty()) return;
  if (background_menu_ != current_) {
    background_dc_.reset();
    background_bitmap_.reset();
    const ov::String path = SkinPath(current_->background_image());
    int32_t w = 0, h = 0;
    if (!picture::LoadImageFile(path, dc, &background_dc_, &background_bitmap_, &w, &h, 0) || !background_bitmap_) {
      background_dc_.reset();
      background_bitmap_.reset();
      ui::ReportUnreadablePicture(path);
    }
    background_menu_ = current_;
    ++background_loads_;
  }
  if (background_dc_) {
    gfx::BitBlt(dc, rect.left, rect.top, rect.Width(), rect.Height(), background_dc_.get(), rect.left, rect.top,
                gfx::kSrcCopy);
  } else {
    // A background that cannot be read is filled plain, so that the last
    // screen's pixels never show through.
    gfx::FillRect(dc, rect, gfx::CreateSolidBrush(PlainBackground(style_.idle_text)));
  }
}

void ScreenManager::DrawElementsInRect(const gfx::Rect& rect, gfx::HDC dc) {
  if (!current_) return;
  std::function<bool(const Element*)> overlaps = [&](const Element* e) {
    if (Overlaps(e->x(), e->GetXSize(), rect.left, rect.right) && Overlaps(e->y(), e->GetYSize(), rect.top, rect.bottom)) {
      return true;
    }
    if (Overlaps(e->x2(), e->GetXSize2(), rect.left, rect.right) &&
        Overlaps(e->y2(), e->GetYSize2(), rect.top, rect.bottom)) {
      return true;
    }
    // A second picture (a button's face, a popup's panel) reaches past the
    // sizes the skin gives, and a popup draws its items over it: an area
    // inside them (the render popup's percentage) draws them again, above
    // what lies beneath, or a button under the popup would cover it.
    const auto* c = dynamic_cast<const ui::Control*>(e);
    if (c && c->second_width() > 0 && c->second_height() > 0 &&
        Overlaps(e->x2(), c->second_width(), rect.left, rect.right) &&
        Overlaps(e->y2(), c->second_height(), rect.top, rect.bottom)) {
      return true;
    }
    const auto* popup = dynamic_cast<const ui::DropDownMenu*>(e);
    if (!popup || !e->IsVisible()) return false;
    for (const auto& item : popup->items()) {
      if (item->IsVisible() && overlaps(item.get())) return true;
    }
    return false;
  };
  const auto& children = current_->children();
  for (size_t i = 0; i < children.size(); ++i) {
    Element* e = children[i].get();
    const bool over = overlaps(e);
    if (e == focused_) {
      if (over) e->Draw(dc, ui::kDrawFocused);
    } else if (e->IsFocusable()) {
      if (e->IsVisible() && over) e->Draw(dc, e->IsEnabled() ? ui::kDrawNormal : ui::kDrawDisabled);
      else e->ResetRect();
    } else if (e->IsVisible() && over) {
      e->Draw(dc, e->IsEnabled() ? ui::kDrawNormal : ui::kDrawDisabled);
    }
    // Elements draw with their own clip; the rectangle is restored for the next.
    gfx::Region clip(rect);
    dc->SelectClipRegion(&clip);
  }
}

void ScreenManager::PaintBar(gfx::HDC dc) {
  const gfx::Rect bar{0, height_, width_, height_ + kBarHeight};
  gfx::FillRect(dc, bar, gfx::CreateSolidBrush(kBarBackground));
  gfx::LogFont lf;
  lf.height = 15;
  lf.weight = gfx::kFwBold;
  lf.quality = gfx::kAntialiasedQuality;
  lf.SetFaceName(u"Tahoma");
  gfx::HFont font = gfx::CreateFontIndirect(lf);
  gfx::HFont old = dc->SelectFont(font);
  dc->SetBkMode(gfx::kTransparent);
  auto label = [&](const ui::MenuBarButton& b, bool left) {
    if (b.text.IsEmpty()) return;
    gfx::Size s;
    gfx::GetTextExtentPoint(dc, b.text.View(), &s);
    dc->SetTextColor((b.state & ui::kButtonEnabled) ? kBarText : kBarGreyed);
    // A shown OK button takes the bar's right end; the right label moves left of it.
    const int32_t right = window_ && window_->ok_button_shown() ? window_->ok_button_rect().left - 6 : width_ - 10;
    const int32_t x = left ? 10 : right - s.cx;
    gfx::ExtTextOut(dc, x, height_ + (kBarHeight - s.cy) / 2, 0, nullptr, b.text.View());
  };
  label(menu_bar_.left, true);
  label(menu_bar_.right, false);
  dc->SelectFont(old);
}

void ScreenManager::PaintPopupMenu(gfx::HDC dc) {
  const std::vector<ui::MenuBarItem*> rows = PopupRows();
  if (rows.empty()) return;
  const int32_t menu_w = width_ * 2 / 3;
  const int32_t h = static_cast<int32_t>(rows.size()) * kPopupRow + 2;
  const gfx::Rect box{width_ - menu_w, height_ - h, width_, height_};
  gfx::FillRect(dc, box, gfx::CreateSolidBrush(gfx::Rgb(0xC8, 0xCE, 0xD6)));
  gfx::FillRect(dc, {box.left + 1, box.top + 1, box.right - 1, box.bottom - 1}, gfx::CreateSolidBrush(kMenuBackground));
  gfx::LogFont lf;
  lf.height = 15;
  lf.quality = gfx::kAntialiasedQuality;
  lf.SetFaceName(u"Tahoma");
  gfx::HFont old = dc->SelectFont(gfx::CreateFontIndirect(lf));
  dc->SetBkMode(gfx::kTransparent);
  for (size_t i = 0; i < rows.size(); ++i) {
    const ui::MenuBarItem* item = rows[i];
    const int32_t top = box.top + 1 + static_cast<int32_t>(i) * kPopupRow;
    if (item->separator) {
      gfx::FillRect(dc, {box.left + 8, top + kPopupRow / 2, box.right - 8, top + kPopupRow / 2 + 1},
                    gfx::CreateSolidBrush(gfx::Rgb(0xC8, 0xCE, 0xD6)));
      continue;
    }
    const bool selected = static_cast<int>(i) == popup_row_;
    if (selected) gfx::FillRect(dc, {box.left + 1, top, box.right - 1, top + kPopupRow}, gfx::CreateSolidBrush(kMenuSelected));
    dc->SetTextColor(!item->enabled ? kBarGreyed : (selected ? kBarText : kMenuText));
    ov::String text = item->text;
    if (item->checked) text = u"\u2713 " + text;
    if (!item->sub.empty()) text += u"  \u25B8";
    gfx::ExtTextOut(dc, box.left + 10, top + 3, 0, nullptr, text.View());
  }
  dc->SelectFont(old);
}

void ScreenManager::Paint(const gfx::Rect& rect) {
  gfx::Rect screen_part = gfx::IntersectRects(rect, {0, 0, width_, height_});
  gfx::HDC back = back_dc_.get();
  if (!screen_part.IsEmpty()) {
    gfx::Region clip(screen_part);
    if (!live_video_.IsEmpty()) {
      // The engine draws the live video itself; the copy leaves it alone.
      gfx::Region without;
      without.Combine(clip, gfx::Region(live_video_), gfx::kRgnDiff);
      clip = without;
    }
    back->SelectClipRegion(&clip);
    PaintBackground(screen_part, back);
    DrawElementsInRect(screen_part, back);
    back->SelectClipRegion(nullptr);
  }
  if (!window_) return;
  auto wdc = gfx::CreateWindowDC(window_->surface());
  if (!screen_part.IsEmpty()) {
    // The live video stays as the mixer drew it on the window.
    gfx::Region shown_part(screen_part);
    if (!live_video_.IsEmpty()) shown_part.Combine(gfx::Region(screen_part), gfx::Region(live_video_), gfx::kRgnDiff);
    wdc->SelectClipRegion(&shown_part);
    gfx::BitBlt(wdc.get(), screen_part.left, screen_part.top, screen_part.Width(), screen_part.Height(), back,
                screen_part.left, screen_part.top, gfx::kSrcCopy);
    wdc->SelectClipRegion(nullptr);
  }
  if (rect.bottom > height_) PaintBar(wdc.get());
  gfx::Rect shown = rect;
  if (popup_open_) {
    PaintPopupMenu(wdc.get());
    shown = {0, 0, width_, height_ + kBarHeight};
  }
  window_->Present(shown);
}

}  // namespace shell
