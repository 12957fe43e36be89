#include "ui/drop_down_menu.h"

#include <algorithm>

#include "ui/ui_host.h"

namespace ui {

DropDownMenu::DropDownMenu() {
  type_ = kTypeDropDownMenu;
  visible_ = false;
}

DropDownMenu::~DropDownMenu() { items_.clear(); }

Element* DropDownMenu::AddItem(std::unique_ptr<Element> item) {
  item->set_parent(this);
  items_.push_back(std::move(item));
  return items_.back().get();
}

SkinItem* DropDownMenu::CreateChild(const ov::String& keyword) {
  std::unique_ptr<Element> e = CreateElement(keyword);
  if (!e) return nullptr;
  return AddItem(std::move(e));
}

void DropDownMenu::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"persistant")) {
    if (IsTrueValue(value)) persistent_ = true;
  } else {
    Menu::LoadAttribute(name, value);
  }
}

void DropDownMenu::ResetChildren(int32_t group) {
  (void)group;
  for (auto& i : items_) i->SetState(0);
}

Element* DropDownMenu::GetSelectedChild() {
  return (current_ >= 0 && current_ < static_cast<int>(items_.size())) ? items_[current_].get() : nullptr;
}

bool DropDownMenu::IsEnabled() const {
  return (current_ >= 0 && current_ < static_cast<int>(items_.size())) ? items_[current_]->IsEnabled() : false;
}

bool DropDownMenu::SetVisible(bool visible) {
  const bool changed = visible_ != visible;
  visible_ = visible;
  return changed;
}

int DropDownMenu::EnableAction(bool on, int32_t code, int32_t depth) {
  (void)depth;
  // An item whose show-popup action names this popup again, directly or
  // through other popups (a damaged skin), would recurse without end: a
  // popup already being walked is left as it stands.
  if (enabling_) return 0;
  enabling_ = true;
  int sum = 0;
  for (auto& i : items_) sum += i->EnableAction(on, code, -1);
  enabling_ = false;
  return sum;
}

int DropDownMenu::ShowIfTitle(bool on, const ov::String& name, int32_t depth) {
  int sum = 0;
  for (auto& i : items_) sum += i->ShowIfTitle(on, name, depth);
  return sum;
}

Element* DropDownMenu::FindByAttribute(const ov::String& name) {
  for (auto& i : items_) {
    if (i->attribute() == name) return i.get();
  }
  return nullptr;
}

Element* DropDownMenu::FindByTitle(const ov::String& name) {
  for (auto& i : items_) {
    if (i->title() == name) return i.get();
  }
  return nullptr;
}

Element* DropDownMenu::FindByType(int32_t type, bool recurse) {
  (void)recurse;
  for (auto& i : items_) {
    if (i->GetType() == type) return i.get();
  }
  return nullptr;
}

// The items are this container's child list for the action search.
Element* DropDownMenu::FindByAction(int32_t code) {
  for (auto& i : items_) {
    const int32_t t = i->GetType();
    if ((t == kTypeMenuItem || t == kTypeSliderControl) && static_cast<Control*>(i.get())->HasAction(code)) {
      return i.get();
    }
  }
  return nullptr;
}

int DropDownMenu::CountSelectableItems() const {
  int n = 0;
  for (auto& i : items_) {
    if (!i->IsFocusable() || !i->IsEnabled()) continue;
    if (i->GetType() == kTypeMenuItem && !static_cast<const Control*>(i.get())->IsActionable()) continue;
    ++n;
  }
  return n;
}

int DropDownMenu::CountVisibleItems() const {
  int n = 0;
  for (auto& i : items_) {
    if (i->GetEnabledFlag() && i->IsFocusable() && i->IsVisible()) ++n;
  }
  return n;
}

bool DropDownMenu::Select(bool forward, bool no_wrap) {
  const int count = static_cast<int>(items_.size());
  const int before = current_;
  auto scan = [&](int from) {
    // Items after (or before) `from`, not wrapping.
    if (forward) {
      for (int i = from + 1; i < count; ++i) {
        if (Qualifies(items_[i].get())) return i;
      }
    } else {
      for (int i = (from < 0 ? count : from) - 1; i >= 0; --i) {
        if (Qualifies(items_[i].get())) return i;
      }
    }
    return -1;
  };
  if (current_ >= 0) {
    const int found = scan(current_);
    if (found >= 0) {
      current_ = found;
      return true;
    }
  }
  if (!no_wrap && count > 0) {
    const int head = forward ? 0 : count - 1;
    current_ = head;
    if (Qualifies(items_[head].get())) return true;
    const int found = scan(head);
    if (found >= 0) {
      current_ = found;
      return true;
    }
  }
  current_ = before;
  return false;
}

bool DropDownMenu::SelectNext(bool no_wrap) { return Select(true, no_wrap); }
bool DropDownMenu::SelectPrevious(bool no_wrap) { return Select(false, no_wrap); }

bool DropDownMenu::OnDirectionKey(int32_t code) {
  if (!visible_) return false;
  if (Element* cur = GetSelectedChild()) {
    if (cur->OnDirectionKey(code)) return true;
  }
  for (auto& i : items_) {
    if (i->OnDirectionKey(code)) return true;
  }
  if (code == 0 || code == 2) {
    SelectPrevious(false);
  } else if (code == 1 || code == 3) {
    SelectNext(false);
  } else if (code == 4) {
    if (Element* cur = GetSelectedChild()) cur->OnAction(kActionActivate, ov::String(), 0);
  } else {
    return false;
  }
  if (Host()) Host()->InvalidateAll();
  return true;
}

int DropDownMenu::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  switch (code) {
    case kActionActivate: {
      if (visible_ && !persistent_ && Host()) Host()->ClosePopup(this);
      Element* cur = GetSelectedChild();
      if (!cur) return 0;
      cur->OnAction(kActionActivate, ov::String(), 0);
      if (Host()) Host()->InvalidateAll();
      return 1;
    }
    case 17:
    case 19:
      if (!persistent_ && Host()) Host()->ClosePopup(this);
      if (Host()) Host()->InvalidateAll();
      return 1;
    case kActionFocusGained:
      current_ = -1;
      SetVisible(true);
      if (Host()) {
        Host()->DoAction(kActionDropDownOpened, ov::String(), 1);
        Host()->InvalidateAll();
      }
      return 1;
    case kActionFocusLost:
      SetVisible(false);
      if (Host()) {
        Host()->DoAction(kActionDropDownClosed, ov::String(), 1);
        Host()->InvalidateAll();
      }
      return 1;
    default:
      for (size_t i = 0; i < items_.size(); ++i) items_[i]->OnAction(code, argument, flag);
      return 0;
  }
}

void DropDownMenu::Draw(gfx::HDC dc, int state) {
  Control::Draw(dc, state);
  if (state != kDrawFocused) return;
  for (size_t i = 0; i < items_.size(); ++i) {
    Element* e = items_[i].get();
    if (!e->IsVisible()) continue;
    const int s = !e->IsEnabled() ? kDrawDisabled : (static_cast<int>(i) == current_ ? kDrawFocused : kDrawNormal);
    e->Draw(dc, s);
  }
}

void DropDownMenu::OnTick(gfx::Rect* area, uint32_t now) {
  bool any = false;
  gfx::Rect total;
  for (auto& i : items_) {
    if (!i->IsVisible()) continue;
    gfx::Rect r;
    i->OnTick(&r, now);
    if (!any) {
      total = r;
      any = true;
    } else {
      total.left = std::min(total.left, r.left);
      total.top = std::min(total.top, r.top);
      total.right = std::max(total.right, r.right);
      total.bottom = std::max(total.bottom, r.bottom);
    }
  }
  *area = total;
}

bool DropDownMenu::OnStylusDown(int32_t x, int32_t y) {
  for (size_t i = items_.size(); i-- > 0;) {
    Element* e = items_[i].get();
    if (e->CanTakeFocus() && e->ContainsPoint(x, y)) {
      e->OnStylusDown(x, y);
      if (Host()) Host()->InvalidateAll();
      break;
    }
  }
  return true;
}

void DropDownMenu::MoveX(int32_t delta) { x_ += delta; }
void DropDownMenu::MoveY(int32_t delta) { y_ += delta; }

// The current item is kept as its position in the item list (-1 none), which
// survives the rebuild of the elements.
void DropDownMenu::SaveState(ov::Archive* archive) {
  archive->WriteI32(current_);
  archive->WriteI32(second_state_);
  Menu::SaveState(archive);
}

void DropDownMenu::LoadState(ov::Archive* archive) {
  int32_t current = -1;
  archive->ReadI32(&current);
  archive->ReadI32(&second_state_);
  current_ = (current >= 0 && current < static_cast<int32_t>(items_.size())) ? current : -1;
  Menu::LoadState(archive);
}

}  // namespace ui
