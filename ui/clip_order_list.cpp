#include "ui/clip_order_list.h"

#include <algorithm>

#include "ui/folder_browser.h"
#include "ui/menu.h"
#include "ui/screen_links.h"
#include "ui/scroll_bar.h"
#include "ui/ui_host.h"

namespace ui {
namespace {
constexpr int32_t kClipOrderTip = 8;
}

PlaylistOrder::PlaylistOrder() {
  type_ = kTypePlaylistOrder;
  x_ = y_ = 0;
}

void PlaylistOrder::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"mouseDropLineColor")) drop_colour_ = ParseColour(value);
  else ListControl::LoadAttribute(name, value);
}

ChannelLink* PlaylistOrder::Channel() const { return channel_ ? channel_->AsChannel() : nullptr; }
int32_t PlaylistOrder::ClipCount() const { return Channel() ? Channel()->ClipCount() : 0; }
int32_t PlaylistOrder::VisibleRows() const { return row_height_ > 0 ? y_size_ / row_height_ : 0; }

void PlaylistOrder::MoveClip(int32_t from, int32_t to) {
  ChannelLink* channel = Channel();
  if (!channel || from == to) return;
  channel->MoveClip(from, to);
  channel->ClearChannel(0);
}

int PlaylistOrder::MoveSelectionUp() {
  if (!Channel() || selected_ <= 0) return 0;
  const int32_t old = selected_;
  if (selected_ == first_shown_ && first_shown_ > 0) --first_shown_;
  --selected_;
  if (moving_ || dragging_) MoveClip(old, selected_);
  return 1;
}

int PlaylistOrder::MoveSelectionDown() {
  if (!Channel() || selected_ >= ClipCount() - 1) return 0;
  const int32_t old = selected_;
  if (selected_ == last_shown_ && first_shown_ < selected_) ++first_shown_;
  if (selected_ < last_shown_) ++selected_;
  if (selected_ != old && (moving_ || dragging_)) MoveClip(old, selected_);
  return 1;
}

void PlaylistOrder::ScrollDownOne() {
  if (last_shown_ - first_shown_ == VisibleRows() - 1) ++first_shown_;
}

void PlaylistOrder::DeleteSelectedClip() {
  ChannelLink* channel = Channel();
  if (channel && channel->ClipCount() > 1) {
    const int32_t index = selected_;
    if (index > 0) {
      moving_ = dragging_ = false;
      MoveSelectionUp();
    }
    channel->ClearChannel(0);
    channel->RemoveClip(index);
  }
  if (Host()) Host()->DoAction(kActionClipDeleted, ov::String(), 1);
}

void PlaylistOrder::UpdateMenuItems() {
  if (!Host()) return;
  const int32_t count = ClipCount();
  Host()->EnableActionItems(count > 1, nullptr, kActionPlaylistDelete, 1);
  Host()->EnableActionItems(count > 0, nullptr, kActionAddText, 1);
}

void PlaylistOrder::UpdateScrollBar() {
  if (scroll_bar_) scroll_bar_->SetScrollRange(this, ClipCount(), first_shown_, VisibleRows());
}

void PlaylistOrder::SelectionChanged() {
  if (Host()) Host()->DoAction(kActionSelectionChanged, ov::String(), 1);
}

void PlaylistOrder::Draw(gfx::HDC dc, int state) {
  font_.Set(font_face_, text_height_, antialias_);
  ChannelLink* channel = Channel();
  const int32_t count = channel ? channel->ClipCount() : 0;
  int32_t y = y_;
  int32_t index = first_shown_;
  last_shown_ = first_shown_;
  while (row_height_ > 0 && y <= y_ + y_size_ - row_height_ && index < count) {
    uint32_t colour = idle_colour_;
    if (index == selected_) {
      DrawSelectedIcon(dc, state, y, row_height_);
      colour = moving_ ? disabled_colour_ : focused_colour_;
    }
    gfx::Rect clip{x_ + text_indent_, y, x_ - text_indent_ + x_size_, y_ + y_size_};
    const int32_t row_y = y;
    font_.line_size = text_height_;
    DrawTextEllipsis(&font_, dc, ShownFileName(channel->GetClipFile(index)), &clip, x_ + text_indent_, &y, colour);
    if (y == row_y) y += row_height_;  // text that cannot be measured still takes its row
    last_shown_ = index;
    ++index;
    if (text_height_ > 0 && text_height_ != row_height_) {
      row_height_ = text_height_;
      UpdateLayout();
      Invalidate();
      UpdateScrollBar();
    }
  }
  if (dragging_ && drop_row_ >= 0) {
    gfx::HPen pen = gfx::CreatePen(gfx::kPsSolid, 1, drop_colour_);
    gfx::HPen old = dc->SelectPen(pen);
    const int32_t line_y = y_ + drop_row_ * row_height_;
    const gfx::Point line[2] = {{x_, line_y}, {x_ + x_size_, line_y}};
    gfx::Polyline(dc, line, 2);
    dc->SelectPen(old);
  }
  ResetRect();
}

bool PlaylistOrder::OnDirectionKey(int32_t code) {
  if (!IsVisible() || !Host() || Host()->GetFocusedSelection() != this) return false;
  const int32_t before = selected_;
  if (code == 2) MoveSelectionUp();
  else if (code == 3) MoveSelectionDown();
  else if (code == 4) moving_ = !moving_;
  else return false;
  if (selected_ != before) SelectionChanged();
  InvalidateScreen();
  UpdateScrollBar();
  return true;
}

bool PlaylistOrder::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  moving_ = false;
  drop_row_ = -1;
  if (row_height_ <= 0 || y < y_) return true;
  const int32_t index = first_shown_ + (y - y_) / row_height_;
  if (index <= last_shown_ && index < ClipCount()) {
    if (index != selected_) {
      selected_ = index;
      SelectionChanged();
    }
    if (Host()) Host()->SetPressedElement(this);
    UpdateLayout();
    Invalidate();
  }
  return true;
}

bool PlaylistOrder::OnStylusMove(int32_t x, int32_t y) {
  dragging_ = true;
  if (!drag_icon_ || !Host() || Host()->GetPressedElement() != this || !Channel()) return true;
  if (ClipCount() > 1) drag_icon_->SetVisible(true);
  drag_icon_->Invalidate();
  if (Host()->ElementAtPoint(x, y) == this && row_height_ > 0) {
    drag_icon_->SetDragState(0);
    drop_row_ = std::min((y - y_) / row_height_, last_shown_ - first_shown_ + 1);
  } else {
    drag_icon_->SetDragState(1);
    drop_row_ = -1;
  }
  drag_icon_->MoveX(x + icon_offset_x_ - drag_icon_->x());
  drag_icon_->MoveY(y + icon_offset_y_ - drag_icon_->y());
  drag_icon_->UpdateLayout();
  drag_icon_->Invalidate();
  return true;
}

bool PlaylistOrder::OnStylusUp(int32_t x, int32_t y) {
  if (drag_icon_ && Channel()) drag_icon_->SetVisible(false);
  const bool on_list = Host() && Host()->ElementAtPoint(x, y) == this;
  if (dragging_ && on_list && drop_row_ >= 0) {
    int32_t d = selected_ - drop_row_ - first_shown_;
    if (d < 0) {
      // Moving down, the clip lands above the row under the stylus.
      ++d;
      for (; d < 0; ++d) MoveSelectionDown();
    } else {
      for (; d > 0; --d) MoveSelectionUp();
    }
  } else if (dragging_ && !on_list && ClipCount() > 1) {
    DeleteSelectedClip();
    if (Channel()) Channel()->ClearChannel(0);
    SelectionChanged();
    InvalidateScreen();
    UpdateScrollBar();
  }
  dragging_ = false;
  drop_row_ = -1;
  UpdateLayout();
  Invalidate();
  return false;
}

int PlaylistOrder::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)flag;
  int result = 1;
  switch (code) {
    case kActionInitialise: {
      if (!Host()) break;
      mixer_ = Host()->FindElementByType(nullptr, kTypeMixer, 1);
      FindScrollBar();
      Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
      Element* icon = menu ? menu->FindByType(kTypeDragIcon, false) : nullptr;
      drag_icon_ = icon ? static_cast<DragIcon*>(icon) : nullptr;
      if (drag_icon_) {
        icon_offset_x_ = drag_icon_->x();
        icon_offset_y_ = drag_icon_->y();
      }
      break;
    }
    case kActionMenuShown:
      moving_ = false;
      result = 0;
      break;
    case kActionLeavingMenu:
      break;
    case kActionFocusGained:
      if (Host()) Host()->RequestHelpTip(kClipOrderTip);
      moving_ = false;
      break;
    case kActionFocusLost:
      moving_ = false;
      break;
    case kActionScrollUp:
      if (!moving_) {
        if (first_shown_ > 0) {
          --first_shown_;
          --last_shown_;
        }
      } else {
        MoveSelectionUp();
      }
      break;
    case kActionScrollDown:
      if (!moving_) ScrollDownOne();
      else MoveSelectionDown();
      break;
    case kActionSetChannel: {
      channel_name_ = argument;
      Menu* root = nullptr;
      for (SkinItem* p = parent_; p; p = p->parent()) root = p->AsMenu() ? p->AsMenu() : root;
      Element* e = root ? root->FindDescendant(argument, true) : nullptr;
      if (e && e->GetType() == kTypeChannelSelection) {
        channel_ = e;
        MixerLink* mixer = mixer_ ? mixer_->AsMixer() : nullptr;
        channel_index_ = mixer ? mixer->FindChannelIndex(e) : -1;
      }
      selected_ = first_shown_ = last_shown_ = 0;
      break;
    }
    case kActionPlaylistDelete:
      DeleteSelectedClip();
      if (Channel()) Channel()->ClearChannel(0);
      SelectionChanged();
      break;
    default:
      return 0;
  }
  UpdateMenuItems();
  InvalidateScreen();
  UpdateScrollBar();
  return result;
}

void PlaylistOrder::SaveState(ov::Archive* archive) {
  archive->WriteI32(channel_index_);
  archive->WriteI32(selected_);
  archive->WriteString(channel_name_.View());
}

void PlaylistOrder::LoadState(ov::Archive* archive) {
  int32_t channel = 0, selected = 0;
  ov::String name;
  if (!archive->ReadI32(&channel) || !archive->ReadI32(&selected) || !archive->ReadString(&name)) return;
  channel_index_ = channel;
  selected_ = first_shown_ = std::max(selected, 0);
  channel_name_ = name;
}

}  // namespace ui
