#pragma once
// A small UiHost for element tests: records what elements ask of the shell.

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
    return 1;
  }
  bool ReadOption(const ov::String&, ov::String*, bool*) override { return false; }
  void SaveOptionsLater() override {}
  ui::MenuBar* GetMenuBar() override { return &bar; }
};

}  // namespace ovtest
