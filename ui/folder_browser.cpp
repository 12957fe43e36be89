#include "ui/folder_browser.h"

#include <algorithm>

#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "ui/menu.h"
#include "ui/screen_links.h"
#include "ui/scroll_bar.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

constexpr char16_t kLocationOption[] = u"SetLocationDir";

bool IsFolder(const ov::String& device_path) {
  const uint32_t a = ov::GetFileAttributes(DevicePathToLocal(device_path));
  return a != ov::kInvalidAttributes && (a & ov::kAttributeDirectory) != 0;
}

}  // namespace

ov::String DevicePathToLocal(const ov::String& device_path) {
  ov::String path = device_path;
  path.Replace(u'\\', u'/');
  while (path.StartsWith(u"/")) path = path.Mid(1);
  ov::String local = ov::DocumentsFolder() + u"/" + path;
  if (!local.EndsWithNoCase(u"/")) local += u"/";
  return local;
}

FileBrowser::FileBrowser() { type_ = kTypePlaylistOrder; }

void FileBrowser::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"folderIcon")) images_[0].name = value;
  else ListControl::LoadAttribute(name, value);
}

void FileBrowser::ListFolders() {
  if (!(current_folder_ == ov::String(u"\\"))) folders_.push_back(u"..");
  const size_t first = folders_.size();
  for (const ov::FindData& f : ov::ListFolder(DevicePathToLocal(current_folder_), u"*")) {
    if (f.attributes & ov::kAttributeDirectory) folders_.push_back(f.name);
  }
  // Folders here come back in no useful order (hashed directories), so the
  // list is sorted by name, ignoring case.
  std::sort(folders_.begin() + static_cast<std::ptrdiff_t>(first), folders_.end(),
            [](const ov::String& a, const ov::String& b) { return a.CompareNoCase(b) < 0; });
}

int32_t FileBrowser::Page() const { return row_height_ > 0 ? (row_height_ + y_size_ - 1) / row_height_ : 0; }

Menu* FileBrowser::OwningMenu() const { return parent_ ? parent_->AsMenu() : nullptr; }

Element* FileBrowser::MediaBrowser() const {
  SkinItem* root = parent_;
  while (root && root->parent()) root = root->parent();
  Menu* container = root ? root->AsMenu() : nullptr;
  return container ? container->FindByType(kTypeMediaBrowser, true) : nullptr;
}

void FileBrowser::Draw(gfx::HDC dc, int state) {
  font_.Set(font_face_, text_height_, antialias_);
  font_.line_size = row_height_;
  const int32_t n = static_cast<int32_t>(folders_.size());
  int32_t y = y_;
  int32_t index = top_;
  last_visible_ = top_;
  while (row_height_ > 0 && y < y_ + y_size_ && index < n) {
    const int32_t row_y = y;
    ov::String shown = folders_[index];
    if (shown.Find(u'\\') >= 0 && shown.Find(u'.') >= 0) shown = ShownFileName(shown);
    uint32_t colour = idle_colour_;
    if (index == selected_) {
      DrawSelectedIcon(dc, state, row_y, row_height_);
      colour = focus_colour_ ? focused_colour_ : idle_colour_;
    }
    const gfx::Size icon = DrawStateImage(dc, x_, row_y, kDrawNormal, false);
    gfx::Rect clip{x_ + text_indent_ + icon.cx, row_y, x_ + x_size_ - text_indent_, row_y + row_height_};
    int32_t text_y = row_y;
    DrawTextEllipsis(&font_, dc, shown, &clip, x_ + text_indent_ + icon.cx, &text_y, colour);
    last_visible_ = index;
    y += row_height_;
    ++index;
  }
  ResetRect();
}

void FileBrowser::UpdateScrollBar() {
  if (scroll_bar_) scroll_bar_->SetScrollRange(this, static_cast<int32_t>(folders_.size()), top_, Page());
}

void FileBrowser::ResetList() {
  folders_.clear();
  selected_ = top_ = last_visible_ = 0;
  ListFolders();
}

void FileBrowser::OpenSelected() {
  if (selected_ < 0 || selected_ >= static_cast<int32_t>(folders_.size())) return;
  const ov::String entry = folders_[selected_];
  if (entry == ov::String(u"..")) {
    // "\a\b\" -> "\a\": cut at the last "\" twice, then end with "\" again.
    ov::String folder = current_folder_.Left(std::max(current_folder_.ReverseFind(u'\\'), 0));
    folder = folder.Left(std::max(folder.ReverseFind(u'\\'), 0));
    current_folder_ = folder + u"\\";
  } else {
    current_folder_ += entry + u"\\";
  }
  ResetList();
  if (Host()) {
    Host()->StoreOption(kLocationOption, current_folder_);
    Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
  }
}

bool FileBrowser::OnDirectionKey(int32_t code) {
  if (code == 2) {
    if (selected_ > 0) {
      if (selected_ == top_ && top_ > 0) --top_;
      --selected_;
    }
  } else if (code == 3) {
    if (selected_ < static_cast<int32_t>(folders_.size()) - 1) {
      if (selected_ == last_visible_ && top_ < last_visible_) ++top_;
      ++selected_;
    }
  } else if (code == 4) {
    OpenSelected();
  } else {
    return false;
  }
  if (Host()) Host()->InvalidateAll();
  UpdateScrollBar();
  return code == 4;
}

bool FileBrowser::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  if (row_height_ > 0 && y >= y_) {
    const int32_t index = top_ + (y - y_) / row_height_;
    if (index <= last_visible_ && index < static_cast<int32_t>(folders_.size())) {
      if (index == selected_) OpenSelected();
      else selected_ = index;
      UpdateLayout();
      Invalidate();
    }
  }
  UpdateOkItem();
  return true;
}

void FileBrowser::UpdateOkItem() {
  if (!Host()) return;
  Host()->EnableActionItems(Host()->GetFocusedSelection() == this, nullptr, kActionSelectOk, 0);
}

void FileBrowser::Tail() {
  UpdateOkItem();
  InvalidateScreen();
  UpdateScrollBar();
}

int FileBrowser::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)flag;
  int result = 1;
  switch (code) {
    case kActionMenuShown:
      chosen_ = true;
      if (Host()) {
        Host()->StoreOption(kLocationOption, current_folder_);
        Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
      }
      focus_colour_ = false;
      ResetList();
      result = 0;
      break;
    case kActionLeavingMenu:
      if (chosen_) {
        if (Element* browser = MediaBrowser()) browser->OnAction(kActionSelectOk, current_folder_, 1);
      }
      break;
    case kActionInitialise: {
      ov::String stored;
      bool numeric = false;
      if (!Host() || !Host()->ReadOption(kLocationOption, &stored, &numeric) || stored.IsEmpty() ||
          !IsFolder(stored)) {
        stored = u"\\";
      }
      if (!stored.EndsWithNoCase(u"\\")) stored += u"\\";
      current_folder_ = stored;
      // The screen's media browser learns the folder; the browser itself,
      // which the broadcast reaches too, must not take it as SL_OK (that
      // would leave its screen when the state is restored on it).
      if (parent_ && parent_->IsElement()) {
        announcing_ = true;
        static_cast<Element*>(parent_)->OnAction(kActionSelectOk, current_folder_, 1);
        announcing_ = false;
      }
      if (Host()) {
        mixer_ = Host()->FindElementByType(nullptr, kTypeMixer, 1);
        FindScrollBar();
        Host()->StoreOption(kLocationOption, current_folder_);
        Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
      }
      break;
    }
    case kActionFocusGained:
    case kActionFocusLost:
      focus_colour_ = false;
      break;
    case kActionScrollUp:
      if (top_ > 0) --top_;
      last_visible_ = 0;
      break;
    case kActionScrollDown:
      if (last_visible_ - top_ == Page() - 1) ++top_;
      break;
    case kActionSetChannel: {
      Element* e = Host() ? Host()->FindElementByName(nullptr, argument, true) : nullptr;
      if (e && e->GetType() == kTypeChannelSelection) {
        channel_ = e;
        MixerLink* mixer = mixer_ ? mixer_->AsMixer() : nullptr;
        channel_index_ = mixer ? mixer->FindChannelIndex(e) : -1;
      }
      selected_ = top_ = last_visible_ = 0;
      break;
    }
    case kActionSelectOk: {
      if (announcing_) return 0;
      Menu* menu = OwningMenu();
      if (Host() && menu && Host()->IsMenuInHistory(menu)) {
        Host()->GoBack(false);
      } else if (Element* browser = MediaBrowser()) {
        browser->OnAction(kActionSelectOk, current_folder_, 1);
      }
      break;
    }
    case kActionSelectCancel:
      chosen_ = false;
      if (Host()) Host()->GoBack(false);
      break;
    default:
      return 0;
  }
  Tail();
  return result;
}

void DragIcon::Draw(gfx::HDC dc, int state) {
  (void)state;
  // Drag state 1 shows the focused picture, 2 the disabled one.
  static constexpr int kImageState[] = {kDrawNormal, kDrawFocused, kDrawDisabled};
  Control::Draw(dc, kImageState[std::clamp(drag_state_, 0, 2)]);
}

int DragIcon::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  if (code == kActionMenuShown) SetVisible(false);
  return Control::OnAction(code, argument, flag);
}

}  // namespace ui
