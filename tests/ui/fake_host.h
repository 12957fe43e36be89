#pragma once
// A small UiHost for element tests: records what elements ask of the shell.

#include <map>
#include <string>
#include <vector>

#include "ui/menu.h"
#include "ui/softkey_bar.h"
#include "ui/ui_host.h"

namespace ovtest {

class FakeHost : public ui::UiHost {
 public:
  FakeHost() { ui::SetHost(this); }
  ~FakeHost() override { ui::SetHost(nullptr); }

  struct Call {
    int32_t code;
    std::u16string parameter;
    int32_t depth;
  };
  std::vector<Call> actions;
  std::vector<std::u16string> jumps;
  int go_backs = 0;
  ui::Menu* menu = nullptr;  // searched by FindElementByName
  ui::Element* pressed = nullptr;
  ui::Element* focused = nullptr;
  ui::Element* capture = nullptr;
  std::vector<ui::Element*> closed;  // ClosePopup calls
  ui::MenuBar bar;
  uint32_t palette[10] = {};
  std::vector<std::pair<std::u16string, std::u16string>> options;
  // Options that exist, by key, with numeric ones flagged; StoreOption on a
  // key not here answers 1 unless strict_options is set.
  std::map<std::u16string, std::u16string> values;
  std::map<std::u16string, bool> numeric;
  bool strict_options = false;
  struct Enable {
    bool on;
    int32_t code;
  };
  std::vector<Enable> enables;
  std::vector<Call> queued;
  std::vector<int> tips;
  std::vector<ui::Menu*> history;  // menus IsMenuInHistory answers for

  int DoAction(int32_t code, const ov::String& parameter, int32_t depth) override {
    actions.push_back({code, std::u16string(parameter.View()), depth});
    return 0;
  }
  bool GoBack(bool) override {
    ++go_backs;
    return true;
  }
  bool JumpToMenu(const ov::String& name) override {
    jumps.emplace_back(name.View());
    return true;
  }
  void OpenPopup(ui::Element*) override {}
  void ClosePopup(ui::Element* e) override { closed.push_back(e); }
  ui::Element* FindElementByName(ui::Menu* m, const ov::String& name, bool recurse) override {
    ui::Menu* target = m ? m : menu;
    return target ? target->FindDescendant(name, recurse) : nullptr;
  }
  ui::Element* GetFocusedSelection() override { return focused ? focused->GetSelectedChild() : nullptr; }
  void SetPressedElement(ui::Element* e) override { pressed = e; }
  ui::Element* GetPressedElement() override { return pressed; }
  void SetOpenItemGroup(ui::Element*) override {}
  void SetStylusCapture(ui::Element* e) override { capture = e; }
  void InvalidateArea(const gfx::Rect&) override {}
  void InvalidateAll() override {}
  bool LookupPaletteColour(const ov::String& text, uint32_t* colour) override {
    if (text.Length() <= 5 || !text.Left(5).EqualsNoCase(u"color")) return false;
    const char16_t d = text[text.Length() - 1];
    if (d < u'0' || d > u'9') return false;
    *colour = palette[d - u'0'];
    return true;
  }
  ui::TextStyle GetTextStyle() override { return ui::TextStyle(); }
  ov::String SkinFolder() override { return ov::String(); }
  gfx::Size ScreenSize() override { return {240, 320}; }
  int StoreOption(const ov::String& key, const ov::String& text) override {
    options.emplace_back(key.View(), text.View());
    auto it = values.find(std::u16string(key.View()));
    if (it == values.end()) return strict_options ? 0 : 1;
    if (it->second == std::u16string(text.View())) return 0;
    it->second = std::u16string(text.View());
    return 1;
  }
  bool ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) override {
    auto it = values.find(std::u16string(key.View()));
    if (it == values.end()) return false;
    *text = ov::String(it->second);
    *is_numeric = numeric[it->first];
    return true;
  }
  // Recorded, then done as a host without a shell does.
  void EnableActionItems(bool on, ui::Element* element, int32_t code, int32_t depth) override {
    enables.push_back({on, code});
    ui::UiHost::EnableActionItems(on, element, code, depth);
  }
  // The last enable request for code: 1 on, 0 off, -1 none.
  int LastEnable(int32_t code) const {
    for (auto it = enables.rbegin(); it != enables.rend(); ++it) {
      if (it->code == code) return it->on ? 1 : 0;
    }
    return -1;
  }
  int Count(int32_t code) const {
    int n = 0;
    for (const Call& c : actions) n += c.code == code;
    return n;
  }
  ui::Element* ElementAtPoint(int32_t x, int32_t y) override {
    if (!menu) return nullptr;
    const auto& children = menu->children();
    for (size_t i = children.size(); i-- > 0;) {
      ui::Element* e = children[i].get();
      if (e->GetType() != ui::kTypeDragIcon && e->CanTakeFocus() && e->ContainsPoint(x, y)) return e;
    }
    return nullptr;
  }
  ui::Element* FindElementByType(ui::Element* element, int32_t type, int32_t depth) override {
    ui::Element* target = element ? element : menu;
    return target ? target->FindByType(type, depth != 0) : nullptr;
  }
  int QueueAction(ui::Element*, int32_t code, const ov::String& parameter, int32_t depth) override {
    queued.push_back({code, std::u16string(parameter.View()), depth});
    return 1;
  }
  void RequestHelpTip(int n) override { tips.push_back(n); }
  bool IsMenuInHistory(ui::Menu* m) const override {
    for (ui::Menu* h : history) {
      if (h == m) return true;
    }
    return false;
  }
  void SaveOptionsLater() override {}
  ui::MenuBar* GetMenuBar() override { return &bar; }
};

}  // namespace ovtest
