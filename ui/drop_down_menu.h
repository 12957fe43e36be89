#pragma once
// DropDownMenu: a container inside a screen that opens over it as a popup
// and holds its own list of items, moved through with the direction keys and
// the stylus. Use it for a list of choices that opens on demand; ItemGroup
// and PopupMessageBox specialise it.
//
// Thread: UI thread only.

#include "ui/menu.h"

namespace ui {

class DropDownMenu : public Menu {
 public:
  DropDownMenu();
  ~DropDownMenu() override;

  SkinItem* CreateChild(const ov::String& keyword) override;
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void ResetChildren(int32_t group) override;
  void NotifyParent(int32_t a, int32_t b) override {
    if (parent_) parent_->NotifyParent(a, b);
  }
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  Element* GetSelectedChild() override;
  bool IsEnabled() const override;
  bool SetVisible(bool visible) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  int EnableAction(bool on, int32_t code, int32_t depth) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  int ShowIfTitle(bool on, const ov::String& name, int32_t depth) override;
  Element* FindByAttribute(const ov::String& name) override;
  Element* FindByType(int32_t type, bool recurse) override;
  Element* FindByAction(int32_t code) override;
  Element* FindByTitle(const ov::String& name) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;
  void MoveX(int32_t delta) override;
  void MoveY(int32_t delta) override;

  int CountSelectableItems() const;
  int CountVisibleItems() const;
  bool SelectNext(bool no_wrap);
  bool SelectPrevious(bool no_wrap);

  Element* AddItem(std::unique_ptr<Element> item);
  const std::vector<std::unique_ptr<Element>>& items() const { return items_; }
  int current() const { return current_; }
  bool persistent() const { return persistent_; }

 protected:
  static bool Qualifies(const Element* e) { return e->IsFocusable() && e->IsVisible() && e->IsEnabled(); }
  bool Select(bool forward, bool no_wrap);

  std::vector<std::unique_ptr<Element>> items_;
  int current_ = -1;
  bool persistent_ = false;
  int32_t second_state_ = 0;
  bool enabling_ = false;  // inside EnableAction
};

}  // namespace ui
