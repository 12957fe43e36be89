#pragma once
// SoftkeyMenu: binds one of the two soft keys of the menu bar to a screen.
// It draws nothing itself: it writes its title on the soft key's button and,
// for the right soft key, fills the button's popup menu with the skin's items
// (sub-menus and separators), greys and checks them, and runs the action of
// the key or the chosen item.
//
// Thread: UI thread only.

#include <array>
#include <vector>

#include "ui/control.h"
#include "ui/softkey_bar.h"

namespace ui {

class SoftkeyMenu : public Control {
 public:
  static constexpr int kItems = 12;
  static constexpr int kSubItems = 10;   // 0 the item itself, 1-9 sub-items
  static constexpr int kActionItems = 30;

  SoftkeyMenu();
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void SetEnableBit(bool on, int bit) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  int EnableAction(bool on, int32_t code, int32_t depth) override;
  int CheckAction(bool on, int32_t code, int32_t depth) override;
  void Draw(gfx::HDC dc, int state) override {
    (void)dc;
    (void)state;
  }
  bool IsFocusable() const override { return false; }

  void BuildMenuBar();
  void SetGreyed(bool on);
  void RunItem(uint32_t command);

  bool is_left() const { return left_; }
  const ov::String& menu_title() const { return menu_title_; }

  struct Entry {
    uint32_t command;
    int item;
    int sub;
  };
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  MenuBarButton* Button();

  bool left_ = true;
  ov::String menu_title_;
  int32_t own_code_ = kActionEmpty;
  ov::String own_argument_;
  ov::String titles_[kItems][kSubItems];
  int32_t item_codes_[kSubItems][kActionItems];
  ov::String item_arguments_[kSubItems][kActionItems];
  std::vector<Entry> entries_;
};

}  // namespace ui
