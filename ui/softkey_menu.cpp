#include "ui/softkey_menu.h"

#include "ui/ui_host.h"

namespace ui {
namespace {

// Item index from the character after a prefix: digits 0-9, letters 10-35.
int ItemIndex(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return 10 + (c - u'a');
  if (c >= u'A' && c <= u'Z') return 10 + (c - u'A');
  return -1;
}

int SubIndex(char16_t c) {
  if (c >= u'a' && c <= u'z') return 1 + (c - u'a');
  if (c >= u'A' && c <= u'Z') return 1 + (c - u'A');
  return -1;
}

// Splits "menuItemTitle5b" after its prefix into item and sub-item.
bool PrefixIndices(const ov::String& name, std::u16string_view prefix, int* item, int* sub) {
  const int n = static_cast<int>(prefix.size());
  if (name.Length() < n || !name.Left(n).EqualsNoCase(prefix)) return false;
  *item = 0;
  *sub = 0;
  if (name.Length() > n) {
    *item = ItemIndex(name[n]);
    if (*item < 0) return false;
  }
  if (name.Length() > n + 1) {
    *sub = SubIndex(name[n + 1]);
    if (*sub < 0) return false;
  }
  return true;
}

}  // namespace

MenuBarItem* MenuBar::FindCommand(uint32_t id) {
  for (MenuBarItem& i : right.popup) {
    if (i.id == id && !i.separator) return &i;
    for (MenuBarItem& s : i.sub) {
      if (s.id == id) return &s;
    }
  }
  return nullptr;
}

SoftkeyMenu::SoftkeyMenu() {
  type_ = kTypeSoftkeyMenu;
  for (auto& row : item_codes_) {
    for (int32_t& c : row) c = kActionEmpty;
  }
  visible_ = false;
}

void SoftkeyMenu::LoadAttribute(const ov::String& name, const ov::String& value) {
  int item = 0, sub = 0;
  // The longer prefixes are tested first: "menuItemTitle" before "menuTitle".
  if (PrefixIndices(name, u"menuItemTitle", &item, &sub)) {
    if (item < kItems && sub < kSubItems) titles_[item][sub] = value;
  } else if (PrefixIndices(name, u"menuItemAction", &item, &sub)) {
    ov::String argument;
    const int32_t code = ParseAction(value.View(), &argument);
    if (code != kActionUnknown && item < kActionItems && sub < kSubItems) {
      item_codes_[sub][item] = code;
      if (!argument.IsEmpty()) item_arguments_[sub][item] = argument;
    }
  } else if (NameIs(name, u"menuType")) {
    left_ = value.EqualsNoCase(u"left") || value.EqualsNoCase(u"l");
  } else if (NameIs(name, u"menuTitle")) {
    menu_title_ = value;
  } else if (NameIs(name, u"menuAction")) {
    ov::String argument;
    const int32_t code = ParseAction(value.View(), &argument);
    if (code != kActionUnknown) {
      own_code_ = code;
      if (!argument.IsEmpty()) own_argument_ = argument;
    }
  } else {
    Control::LoadAttribute(name, value);
  }
}

MenuBarButton* SoftkeyMenu::Button() {
  MenuBar* bar = Host() ? Host()->GetMenuBar() : nullptr;
  if (!bar) return nullptr;
  return left_ ? &bar->left : &bar->right;
}

void SoftkeyMenu::BuildMenuBar() {
  entries_.clear();
  MenuBarButton* button = Button();
  if (left_) {
    if (button) {
      button->text = menu_title_;
      if (!(button->state & kButtonEnabled)) button->state = kButtonEnabled;
    }
    entries_.push_back({kCommandLeftSoftkey, 0, 0});
    return;
  }
  if (button) {
    button->text = menu_title_;
    button->popup.clear();
  }
  uint32_t n = 0;
  // Every insertion goes to the top, so the menu lists the items in reverse.
  auto insert_top = [](std::vector<MenuBarItem>* list, MenuBarItem item) { list->insert(list->begin(), std::move(item)); };
  for (int i = 0; i < kItems; ++i) {
    const ov::String& t = titles_[i][0];
    if (t.StartsWith(u"---")) {
      MenuBarItem sep;
      sep.separator = true;
      if (button) insert_top(&button->popup, sep);
    } else if (t.IsEmpty()) {
      continue;
    } else if (!titles_[i][1].IsEmpty()) {
      MenuBarItem popup;
      popup.text = t;
      for (int j = 1; j < kSubItems && !titles_[i][j].IsEmpty(); ++j) {
        MenuBarItem s;
        s.text = titles_[i][j];
        s.id = kCommandFirstItem + n;
        insert_top(&popup.sub, s);
        entries_.push_back({kCommandFirstItem + n, i, j});
        ++n;
      }
      if (button) insert_top(&button->popup, popup);
    } else {
      MenuBarItem item;
      item.text = t;
      item.id = kCommandFirstItem + n;
      if (button) insert_top(&button->popup, item);
      entries_.push_back({kCommandFirstItem + n, i, 0});
      ++n;
    }
  }
}

void SoftkeyMenu::SetGreyed(bool on) {
  if (MenuBarButton* b = Button()) b->state = on ? kButtonGreyed : kButtonEnabled;
}

void SoftkeyMenu::SetEnableBit(bool on, int bit) {
  if (on) BuildMenuBar();
  Control::SetEnableBit(on, bit);
}

int SoftkeyMenu::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)argument;
  (void)flag;
  if (code == kActionMenuShown) {
    BuildMenuBar();
    return 1;
  }
  if (code == kActionDropDownOpened) SetGreyed(true);
  else if (code == kActionDropDownClosed) SetGreyed(false);
  return 0;
}

void SoftkeyMenu::RunItem(uint32_t command) {
  if (left_) return;
  for (const Entry& e : entries_) {
    if (e.command == command) {
      if (Host()) Host()->DoAction(item_codes_[e.sub][e.item], item_arguments_[e.sub][e.item], 1);
      return;
    }
  }
}

bool SoftkeyMenu::OnDirectionKey(int32_t code) {
  if (!IsEnabled()) return false;
  if ((code == 44 && left_) || (code == 45 && !left_)) {
    if (Host()) Host()->DoAction(own_code_, own_argument_, 1);
  } else if (code >= 46 && code <= 65 && !left_) {
    RunItem(static_cast<uint32_t>(code) + 39960);
  } else {
    return false;
  }
  if (Host()) Host()->InvalidateAll();
  return true;
}

int SoftkeyMenu::EnableAction(bool on, int32_t code, int32_t depth) {
  (void)depth;
  if (!IsEnabled()) return 0;
  MenuBarButton* button = Button();
  if (left_) {
    if (own_code_ == code && button) {
      const int wanted = on ? kButtonEnabled : kButtonGreyed;
      if (!(button->state & wanted)) button->state = wanted;
    }
    return 0;
  }
  MenuBar* bar = Host() ? Host()->GetMenuBar() : nullptr;
  for (const Entry& e : entries_) {
    if (item_codes_[e.sub][e.item] != code || !bar) continue;
    if (MenuBarItem* item = bar->FindCommand(e.command)) item->enabled = on;
  }
  return 0;
}

int SoftkeyMenu::CheckAction(bool on, int32_t code, int32_t depth) {
  (void)depth;
  MenuBar* bar = Host() ? Host()->GetMenuBar() : nullptr;
  for (const Entry& e : entries_) {
    if (item_codes_[e.sub][e.item] != code || !bar) continue;
    if (MenuBarItem* item = bar->FindCommand(e.command)) item->checked = on;
  }
  return 0;
}

}  // namespace ui
