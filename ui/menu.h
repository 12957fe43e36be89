#pragma once
// Menu: one screen of the skin (MENU), and the menu container at the root of
// the element tree. Use it for a screen; use a drop-down menu, item group or
// popup message box for something that opens over a screen.
//
// A menu owns its child elements, its timed sequences and its sub-menus,
// creates children from skin keywords through the element factory, answers
// the searches the screen manager uses, and passes actions and enable
// requests down the tree.
//
// Thread: UI thread only.

#include <memory>
#include <vector>

#include "ui/control.h"
#include "ui/sequences.h"

namespace ui {

// The element factory: a new element for a skin keyword (whole keyword,
// any case), or null for a keyword no class answers to.
std::unique_ptr<Element> CreateElement(const ov::String& keyword);
// Registration of element classes that libraries above ui build (the mix
// screens): each keyword's maker replaces the placeholder of that keyword in
// place, so the factory keeps its order and ui never links those libraries.
// Returns how many entries were replaced (0: the keyword was added).
// Call at start-up, before a skin is loaded.
using ElementMaker = std::unique_ptr<Element> (*)();
int RegisterElementType(const char16_t* keyword, ElementMaker make);
// Whether a skin node name creates something (elements and sequences).
bool IsElementKeyword(const ov::String& keyword);

class Menu : public Control {
 public:
  Menu();
  ~Menu() override;

  Menu* AsMenu() override { return this; }
  Menu* CreateSubMenu() override;
  SkinItem* CreateChild(const ov::String& keyword) override;
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void ResetChildren(int32_t group) override;
  void NotifyParent(int32_t a, int32_t b) override {
    (void)a;
    (void)b;
  }
  int OnAction(int32_t code, const ov::String& argument, int32_t depth) override;
  int EnableIfAttribute(bool on, const ov::String& name, int32_t depth) override;
  int EnableAction(bool on, int32_t code, int32_t depth) override;
  int CheckAction(bool on, int32_t code, int32_t depth) override;
  int ShowIfTitle(bool on, const ov::String& name, int32_t depth) override;
  Element* FindByAttribute(const ov::String& name) override;
  Element* FindByAction(int32_t code) override;
  Element* FindByType(int32_t type, bool recurse) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;
  virtual Element* FindDescendant(const ov::String& name, bool recurse);
  Menu* FindMenu(const ov::String& name);

  // Appends an element made elsewhere (tests and containers).
  Element* AddChild(std::unique_ptr<Element> child);

  const std::vector<std::unique_ptr<Element>>& children() const { return children_; }
  const std::vector<std::unique_ptr<Menu>>& sub_menus() const { return sub_menus_; }
  // The menu's sequences, in skin order (movement and file-clip).
  const std::vector<std::unique_ptr<Sequence>>& sequences() const { return sequences_; }
  int32_t timeout() const { return timeout_; }
  int32_t manual_nav() const { return manual_nav_; }
  bool inhibit_back() const { return inhibit_back_; }
  bool inhibit_home() const { return inhibit_home_; }
  bool show_ok() const { return show_ok_; }
  const ov::String& background_image() const { return background_; }
  const ov::String& window_title() const { return window_title_; }
  // Position of child in the child list, -1 when it is not a child.
  int IndexOf(const Element* child) const;

 protected:
  // Whether e is a container searched through (a child that is a menu of
  // another type than 2: drop-downs, item groups, popups).
  static bool IsContainer(const Element* e);

  int32_t timeout_ = -1;
  int32_t manual_nav_ = 1;
  bool inhibit_back_ = false;
  bool inhibit_home_ = false;
  ov::String background_;
  std::vector<std::unique_ptr<Element>> children_;
  // Each sequence is owned here once. A file-clip sequence's control part
  // also sits in children_ so that it is drawn and ticked like any element,
  // but it belongs to its sequence: the destructor takes it out of the child
  // list before the lists are freed.
  std::vector<std::unique_ptr<Sequence>> sequences_;
  std::vector<std::unique_ptr<Menu>> sub_menus_;
  bool show_ok_ = false;
  ov::String window_title_;
};

}  // namespace ui
