#include "ui/scroll_bar.h"

#include <algorithm>

#include "ui/ui_host.h"

namespace ui {

ScrollBar::ScrollBar() { type_ = kTypeScrollBar; }

void ScrollBar::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"backgroundColour")) {
    background_colour_ = ParseColour(value);
  } else if (NameIs(name, u"lineColour")) {
    line_colour_ = ParseColour(value);
  } else if (NameIs(name, u"fillColour")) {
    fill_colour_ = ParseColour(value);
  } else if (NameIs(name, u"buttonSizeY")) {
    button_size_ = ParseCoordinate(value);
  } else if (NameIs(name, u"scrollUpBitmapStr")) {
    images_[2].name = value;
  } else if (NameIs(name, u"scrollDownBitmapStr")) {
    images_[0].name = value;
  } else {
    Control::LoadAttribute(name, value);
  }
}

void ScrollBar::SetScrollRange(Element* owner, int32_t last_index, int32_t position, int32_t page) {
  owner_ = owner;
  range_ = last_index + 1;
  position_ = position;
  page_ = page;
  UpdateLayout();
  if (Host()) Host()->InvalidateArea(bounds_);
}

void ScrollBar::UpdateLayout() { bounds_ = {x_, y_, x_ + x_size_, y_ + y_size_}; }

int ScrollBar::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)argument;
  (void)flag;
  switch (code) {
    case kActionMenuShown:
    case kActionLeavingMenu:
      return 1;
    case kActionSaveSettings:
      StoreTextToOption();
      return 0;
    case kActionInitialise:
      fill_ = gfx::CreateSolidBrush(fill_colour_);
      line_ = gfx::CreateSolidBrush(line_colour_);
      background_ = gfx::CreateSolidBrush(background_colour_);
      return 1;
    default:
      return 0;
  }
}

gfx::Rect ScrollBar::GetThumbRect() const {
  const int32_t b = button_size_;
  const double track = static_cast<double>(y_size_ - 2 * b);
  gfx::Rect r{x_, y_ + b, x_ + x_size_, y_ + b + static_cast<int32_t>(track)};
  if (range_ <= 0 || page_ <= 0 || range_ <= page_) return r;
  double length = track / std::max(range_, page_) * page_;
  if (length < b) length = b;
  const double per_line = (track - length) / (range_ - page_);
  const int32_t top = y_ + static_cast<int32_t>(per_line * position_ + b);
  int32_t height = static_cast<int32_t>(length);
  // On the last page the thumb ends exactly at the bottom of the track.
  if (position_ + page_ == range_) height = y_ + b + static_cast<int32_t>(track) - top;
  r.top = top;
  r.bottom = top + height;
  return r;
}

void ScrollBar::Draw(gfx::HDC dc, int state) {
  (void)state;
  if (!line_) OnAction(kActionInitialise, ov::String(), 0);
  const int32_t b = button_size_;
  auto frame = [&](const gfx::Rect& r, const gfx::HBrush& inside) {
    gfx::FillRect(dc, r, line_);
    gfx::FillRect(dc, {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, inside);
  };
  frame({x_, y_, x_ + x_size_, y_ + y_size_}, background_);
  frame({x_, y_, x_ + x_size_, y_ + b}, fill_);
  frame({x_, y_ + y_size_ - b, x_ + x_size_, y_ + y_size_}, fill_);
  if (!images_[2].name.IsEmpty()) DrawStateImage(dc, x_, y_, kDrawFocused, false);
  if (!images_[0].name.IsEmpty()) DrawStateImage(dc, x_, y_ + y_size_ - b, kDrawNormal, false);
  frame(GetThumbRect(), fill_);
  ResetRect();
}

void ScrollBar::Send(int32_t code, int32_t times) {
  if (!owner_) return;
  for (int32_t i = 0; i < times; ++i) owner_->OnAction(code, ov::String(), 0);
}

bool ScrollBar::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  const int32_t b = button_size_;
  if (y > y_ && y < y_ + b) {
    Send(kActionScrollUp, 1);
  } else if (y > y_ + y_size_ - b && y < y_ + y_size_) {
    Send(kActionScrollDown, 1);
  } else {
    const gfx::Rect thumb = GetThumbRect();
    if (y < thumb.top) {
      Send(kActionScrollUp, page_);
    } else if (y <= thumb.bottom) {
      drag_lines_ = 0;
      drag_start_y_ = y;
      if (Host()) Host()->SetPressedElement(this);
    } else {
      Send(kActionScrollDown, page_);
    }
  }
  return true;
}

bool ScrollBar::OnStylusMove(int32_t x, int32_t y) {
  (void)x;
  if (!Host() || Host()->GetPressedElement() != this) return true;
  const double track = static_cast<double>(y_size_ - 2 * button_size_);
  double per_line = 0;
  if (range_ > 0 && page_ > 0 && range_ != page_) per_line = (track - track / range_ * page_) / (range_ - page_);
  // Back at the starting row the lines already sent are taken back, so the
  // start row is not skipped here.
  if (per_line == 0) return true;
  const int32_t n = static_cast<int32_t>((drag_start_y_ - y) / per_line) - drag_lines_;
  if (n > 0) Send(kActionScrollUp, n);
  else if (n < 0) Send(kActionScrollDown, -n);
  drag_lines_ += n;
  return true;
}

}  // namespace ui
