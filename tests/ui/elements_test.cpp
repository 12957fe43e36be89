// Element attributes, control bindings, the factory, the searches and the
// broadcasts of menus, drop-down menus and item groups.
#include <gtest/gtest.h>

#include "platform/os/thread.h"
#include "tests/ui/fake_host.h"
#include "ui/drop_down_menu.h"
#include "ui/item_group.h"
#include "ui/menu.h"
#include "ui/popup_message_box.h"
#include "ui/scroll_bar.h"
#include "ui/softkey_menu.h"

namespace ui {
namespace {

TEST(ElementAttributes, LongShortNamesCaseAndTrueValues) {
  ovtest::FakeHost host;
  Control c;
  EXPECT_EQ(c.x(), 0);  // a text box starts at 0,0; a bare element at -1,-1
  c.LoadAttribute(u"XP", u" -12");
  c.LoadAttribute(u"yPos", u"7abc");
  c.LoadAttribute(u"xs", u"30");
  c.LoadAttribute(u"yS", u"");
  EXPECT_EQ(c.x(), -12);
  EXPECT_EQ(c.y(), 7);
  EXPECT_EQ(c.GetXSize(), 30);
  EXPECT_EQ(c.GetYSize(), 0);
  // Geometry from a damaged skin is limited, so that position + size fits.
  c.LoadAttribute(u"yPos", u"2147483647");
  c.LoadAttribute(u"xs", u"-99999999999");
  EXPECT_EQ(c.y(), ui::kMaxSkinCoordinate);
  EXPECT_EQ(c.GetXSize(), -ui::kMaxSkinCoordinate);
  c.LoadAttribute(u"yPos", u"7");
  c.LoadAttribute(u"xs", u"30");
  c.LoadAttribute(u"hidden", u"yes");
  EXPECT_TRUE(c.IsVisible());
  c.LoadAttribute(u"hd", u"Y");
  EXPECT_FALSE(c.IsVisible());
  c.LoadAttribute(u"backup", u"false");
  EXPECT_TRUE(c.backup());
  c.LoadAttribute(u"backup", u"No");
  EXPECT_FALSE(c.backup());
  c.LoadAttribute(u"attribute", u"EffectType");
  EXPECT_EQ(c.title(), ov::String(u"EffectType"));
  c.LoadAttribute(u"ti", u"a");
  c.LoadAttribute(u"att", u"b");
  EXPECT_EQ(c.title(), ov::String(u"a"));
  // disabled: mask bit 0 and the flag; the bit alone brings it back.
  c.LoadAttribute(u"disabled", u"y");
  EXPECT_FALSE(c.IsEnabled());
  EXPECT_FALSE(c.GetEnabledFlag());
  c.SetEnableBit(true, 0);
  EXPECT_TRUE(c.IsEnabled());
  EXPECT_FALSE(c.GetEnabledFlag());
  const uint32_t mask = c.enable_mask();
  c.SetEnableBit(false, 40);
  EXPECT_EQ(c.enable_mask(), mask);
}

TEST(ElementAttributes, ContainsPointExcludesEdgesAndColoursParse) {
  ovtest::FakeHost host;
  host.palette[3] = 0x123456;
  Control c;
  c.LoadAttribute(u"xP", u"10");
  c.LoadAttribute(u"yP", u"20");
  c.LoadAttribute(u"xS", u"5");
  c.LoadAttribute(u"yS", u"5");
  EXPECT_FALSE(c.ContainsPoint(10, 21));
  EXPECT_TRUE(c.ContainsPoint(11, 21));
  EXPECT_FALSE(c.ContainsPoint(15, 21));
  EXPECT_EQ(ParseColour(u"color3"), 0x123456u);
  EXPECT_EQ(ParseColour(u"COLOR3"), 0x123456u);
  EXPECT_EQ(ParseColour(u"ff00FF"), 0xFF00FFu);
  EXPECT_EQ(ParseColour(u"zz"), 0u);
}

TEST(ControlBindings, SlotsArgumentsAndActivation) {
  ovtest::FakeHost host;
  Control c;
  EXPECT_TRUE(c.HasAction(kActionEmpty));
  c.OnAction(kActionActivate, ov::String(), 0);
  EXPECT_TRUE(host.actions.empty());
  c.LoadAttribute(u"action", u"SAVE_SETTINGS");
  c.LoadAttribute(u"action0", u"PREVIOUS_MENU");  // same slot, later wins
  c.LoadAttribute(u"actionB", u"SHOW_POPUP first");
  c.LoadAttribute(u"actionb", u"SHOW_POPUP");  // empty argument keeps the old one
  c.LoadAttribute(u"action5", u"JUMP_TO   next_menu");
  c.LoadAttribute(u"action10", u"CH_CLEAR");  // last character 0: slot 0
  c.LoadAttribute(u"actionZ", u"SAVE_SETTINGS");  // slot 35: ignored
  c.LoadAttribute(u"action7", u"NO_SUCH_KEYWORD");
  EXPECT_EQ(c.action_code(0), 81);
  EXPECT_EQ(c.action_code(11), kActionShowPopup);
  EXPECT_EQ(c.action_argument(11), ov::String(u"first"));
  EXPECT_EQ(c.action_code(5), kActionJumpTo);
  EXPECT_EQ(c.action_argument(5), ov::String(u"next_menu"));
  EXPECT_EQ(c.action_code(7), kActionEmpty);
  EXPECT_EQ(c.last_action_index(), 11);
  c.OnAction(kActionActivate, ov::String(), 0);
  // JUMP_TO is taken by the control itself; the others reach the dispatcher.
  ASSERT_EQ(host.jumps.size(), 1u);
  EXPECT_EQ(host.jumps[0], u"next_menu");
  ASSERT_EQ(host.actions.size(), 2u);
  EXPECT_EQ(host.actions[0].code, 81);
  EXPECT_EQ(host.actions[0].depth, 1);
  EXPECT_EQ(host.actions[1].code, kActionShowPopup);
  EXPECT_EQ(host.actions[1].parameter, u"first");
}

TEST(ControlBindings, SecondImageSizeAndEnableAction) {
  ovtest::FakeHost host;
  Control c;
  c.LoadAttribute(u"il2", u"x.png");
  EXPECT_EQ(c.second_width(), 240);
  EXPECT_EQ(c.second_height(), 320);
  c.LoadAttribute(u"action", u"HW_HELPRESET");
  c.LoadAttribute(u"action1", u"SAVE_SETTINGS");
  EXPECT_EQ(c.EnableAction(false, 20, 1), 1);
  EXPECT_FALSE(c.IsEnabled());
  EXPECT_EQ(c.enable_mask(), ~(1u << 1));
  EXPECT_EQ(c.EnableAction(true, 20, 1), 1);
  EXPECT_TRUE(c.IsEnabled());
}

TEST(Factory, KeywordsAndTypes) {
  ovtest::FakeHost host;
  struct Case {
    const char16_t* keyword;
    int32_t type;
  };
  const Case cases[] = {{u"mi", 1},          {u"Mi", 1},          {u"MENUITEM", 1},     {u"mn", 2},
                        {u"DM", 3},          {u"itemgroup", 4},   {u"PM", 12},          {u"TB", 11},
                        {u"SCROLLBAR", 15},  {u"SoftkeyMenu", 21}, {u"FileBrowser", 24}, {u"PlaylistOrder", 24},
                        {u"MIXER", 16},      {u"sc", 13},         {u"CALENDAR", 27},    {u"PANZOOMEDITOR", 29}};
  for (const Case& c : cases) {
    std::unique_ptr<Element> e = CreateElement(c.keyword);
    ASSERT_TRUE(e) << std::string(c.keyword, c.keyword + std::u16string_view(c.keyword).size());
    EXPECT_EQ(e->GetType(), c.type);
  }
  EXPECT_FALSE(CreateElement(u"MENUITEMS"));
  EXPECT_FALSE(CreateElement(u""));
  Menu m;
  SkinItem* mq = m.CreateChild(u"MQ");
  ASSERT_NE(mq, nullptr);
  EXPECT_TRUE(m.children().empty());
  SkinItem* fs = m.CreateChild(u"fs");
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(m.children().size(), 1u);
  EXPECT_EQ(m.CreateChild(u"BOGUS"), nullptr);
}

TEST(MenuAttributes, ManualNavShowOkInhibitBack) {
  ovtest::FakeHost host;
  Menu m;
  m.LoadAttribute(u"manualNav", u"vh");
  EXPECT_EQ(m.manual_nav(), 6);
  m.LoadAttribute(u"mv", u"x");
  EXPECT_EQ(m.manual_nav(), 6);
  m.LoadAttribute(u"showOk", u"yes");
  m.LoadAttribute(u"showOk", u"no");
  EXPECT_FALSE(m.show_ok());
  m.LoadAttribute(u"inhibitBack", u"no");
  EXPECT_FALSE(m.inhibit_back());
  m.LoadAttribute(u"ib", u"1");
  EXPECT_TRUE(m.inhibit_back());
}

// A control that counts the actions it receives.
class Counter : public Control {
 public:
  int OnAction(int32_t code, const ov::String& a, int32_t f) override {
    if (code == 600) ++received;
    return Control::OnAction(code, a, f);
  }
  int received = 0;
};

TEST(MenuSearches, ContainersAreSearchedThroughSubMenusWhereStated) {
  ovtest::FakeHost host;
  Menu root;
  auto* dd = static_cast<DropDownMenu*>(root.CreateChild(u"DM"));
  auto* slider = static_cast<Control*>(dd->CreateChild(u"SC"));
  slider->LoadAttribute(u"action", u"MX_MUTE_ON");
  auto* child_menu = static_cast<Menu*>(root.CreateChild(u"MENU"));
  auto* inner = static_cast<Control*>(child_menu->CreateChild(u"MI"));
  inner->LoadAttribute(u"action", u"MX_MUTE_OFF");
  Menu* sub = root.CreateSubMenu();
  auto* sub_item = static_cast<Control*>(sub->CreateChild(u"MI"));
  sub_item->LoadAttribute(u"action", u"MX_START");
  sub->LoadAttribute(u"ti", u"sub");
  EXPECT_EQ(root.FindByAction(94), slider);
  EXPECT_EQ(root.FindByAction(96), nullptr);  // sub-menus are not searched
  EXPECT_EQ(root.FindMenu(u"sub"), sub);
  dd->LoadAttribute(u"ti", u"dd");
  slider->LoadAttribute(u"ti", u"Slider");
  EXPECT_EQ(root.FindDescendant(u"Slider", false), slider);
  EXPECT_EQ(dd->FindByTitle(u"slider"), nullptr);  // case-sensitive
  // A match inside a container comes before the container itself.
  EXPECT_EQ(root.FindByType(kTypeSliderControl, false), slider);
  EXPECT_EQ(root.FindByType(kTypeDropDownMenu, false), dd);
  // Sub-menus themselves match; their children only with recursion.
  Menu* other = root.CreateSubMenu();
  auto* deep = other->CreateChild(u"PM");
  EXPECT_EQ(root.FindByType(kTypePopupMessageBox, false), nullptr);
  EXPECT_EQ(root.FindByType(kTypePopupMessageBox, true), deep);
  EXPECT_EQ(root.FindByType(kTypeMenu, false), child_menu);
}

TEST(MenuBroadcasts, DepthLimitsTheLevelsReached) {
  ovtest::FakeHost host;
  Menu root;
  auto* direct = new Counter();
  root.AddChild(std::unique_ptr<Element>(direct));
  auto* child_menu = static_cast<Menu*>(root.CreateChild(u"MENU"));
  auto* grandchild = new Counter();
  child_menu->AddChild(std::unique_ptr<Element>(grandchild));
  root.OnAction(600, ov::String(), 1);
  EXPECT_EQ(direct->received, 1);
  EXPECT_EQ(grandchild->received, 0);
  root.OnAction(600, ov::String(), -1);
  EXPECT_EQ(grandchild->received, 1);
  // EnableAction with depth 1: an item in a drop-down child (same depth) is
  // reached, one inside a child menu (depth 0) is not.
  auto* dd = static_cast<DropDownMenu*>(root.CreateChild(u"DM"));
  auto* dd_item = static_cast<Control*>(dd->CreateChild(u"MI"));
  dd_item->LoadAttribute(u"action", u"CH_CLEAR");
  auto* deep = static_cast<Control*>(child_menu->CreateChild(u"MI"));
  deep->LoadAttribute(u"action", u"CH_CLEAR");
  root.EnableAction(false, 81, 1);
  EXPECT_FALSE(dd_item->IsEnabled());
  EXPECT_TRUE(deep->IsEnabled());
}

TEST(MenuState, RecordOfAMissingElementIsSkippedWhole) {
  ovtest::FakeHost host;
  Menu before;
  for (const char16_t* name : {u"a", u"gone", u"c"}) {
    auto* t = static_cast<TextBox*>(before.CreateChild(u"TB"));
    t->LoadAttribute(u"ti", name);
    t->OnAction(kActionSetText, ov::String(u"text of ") + name, 0);
  }
  ov::Archive out;
  before.SaveState(&out);
  Menu after;
  for (const char16_t* name : {u"a", u"c"}) static_cast<TextBox*>(after.CreateChild(u"TB"))->LoadAttribute(u"ti", name);
  ov::Archive in(out.Bytes());
  after.LoadState(&in);
  EXPECT_EQ(after.children()[0]->text(), ov::String(u"text of a"));
  EXPECT_EQ(after.children()[1]->text(), ov::String(u"text of c"));
}

TEST(DropDown, SelectionWrapsAndSkipsDisabled) {
  ovtest::FakeHost host;
  DropDownMenu dd;
  for (int i = 0; i < 4; ++i) dd.CreateChild(u"MI");
  dd.items()[1]->LoadAttribute(u"ds", u"y");
  dd.SetVisible(true);
  EXPECT_TRUE(dd.SelectNext(false));
  EXPECT_EQ(dd.current(), 0);
  EXPECT_TRUE(dd.SelectNext(false));
  EXPECT_EQ(dd.current(), 2);
  EXPECT_TRUE(dd.SelectNext(false));
  EXPECT_TRUE(dd.SelectNext(true) == false);
  EXPECT_EQ(dd.current(), 3);
  EXPECT_TRUE(dd.SelectNext(false));
  EXPECT_EQ(dd.current(), 0);
  EXPECT_EQ(dd.CountSelectableItems(), 3);
  EXPECT_EQ(dd.CountVisibleItems(), 3);
  // All items disabled: no current item, keys still answer 1.
  DropDownMenu empty;
  empty.CreateChild(u"MI")->LoadAttribute(u"ds", u"y");
  empty.SetVisible(true);
  EXPECT_TRUE(empty.OnDirectionKey(3));
  EXPECT_EQ(empty.current(), -1);
}

TEST(ItemGroupPlacement, StaysInsideTheScreen) {
  ovtest::FakeHost host;
  ItemGroup g;
  g.LoadAttribute(u"xP", u"0");
  g.LoadAttribute(u"yP", u"0");
  g.LoadAttribute(u"xS", u"100");
  g.LoadAttribute(u"yS", u"60");
  auto* item = static_cast<Control*>(g.CreateChild(u"MI"));
  item->LoadAttribute(u"xP", u"10");
  item->LoadAttribute(u"yP", u"10");
  g.ShowAtPoint(20, 30);  // left half: 4 right of and below the point
  EXPECT_EQ(g.x(), 24);
  EXPECT_EQ(g.y(), 34);
  EXPECT_EQ(item->x(), 34);
  g.ShowAtPoint(230, 300);  // near the right edge and the bottom
  EXPECT_EQ(g.x(), 240 - 100 - 4);
  EXPECT_EQ(g.y(), 320 - 60);
}

TEST(ItemGroupPlacement, TouchOutsideClosesOnlyAfter100Ms) {
  ovtest::FakeHost host;
  ItemGroup g;
  g.LoadAttribute(u"xP", u"0");
  g.LoadAttribute(u"yP", u"0");
  g.LoadAttribute(u"xS", u"50");
  g.LoadAttribute(u"yS", u"50");
  g.SetVisible(true);
  ov::SetTickCountForTesting(10000);
  g.OnAction(kActionItemGroupOpen, ov::String(), 0);
  g.OnStylusDown(200, 200);  // the touch that opened it
  EXPECT_TRUE(g.IsVisible());
  ov::SetTickCountForTesting(10200);
  g.OnStylusDown(200, 200);
  EXPECT_FALSE(g.IsVisible());
}

TEST(SoftkeyMenus, ItemsIndicesAndOrder) {
  ovtest::FakeHost host;
  SoftkeyMenu right;
  right.LoadAttribute(u"menuType", u"right");
  right.LoadAttribute(u"menuItemTitle0", u"A");
  right.LoadAttribute(u"menuItemTitle1", u"---");
  right.LoadAttribute(u"menuItemTitle2", u"B");
  right.LoadAttribute(u"menuItemTitle5", u"Sub");
  right.LoadAttribute(u"menuItemTitle5a", u"S1");
  right.LoadAttribute(u"menuItemTitle5b", u"S2");
  right.LoadAttribute(u"menuItemTitleC", u"ignored");
  right.LoadAttribute(u"menuItemAction5b", u"JUMP_TO there");
  right.OnAction(kActionMenuShown, ov::String(), 1);
  const auto& popup = host.bar.right.popup;
  ASSERT_EQ(popup.size(), 4u);
  EXPECT_EQ(popup[0].text, ov::String(u"Sub"));
  EXPECT_EQ(popup[1].text, ov::String(u"B"));
  EXPECT_TRUE(popup[2].separator);
  EXPECT_EQ(popup[3].text, ov::String(u"A"));
  EXPECT_EQ(popup[3].id, 40006u);
  EXPECT_EQ(popup[1].id, 40007u);
  ASSERT_EQ(popup[0].sub.size(), 2u);
  EXPECT_EQ(popup[0].sub[0].text, ov::String(u"S2"));
  EXPECT_EQ(popup[0].sub[0].id, 40009u);
  EXPECT_TRUE(right.OnDirectionKey(40009 - 39960));
  ASSERT_FALSE(host.actions.empty());
  EXPECT_EQ(host.actions.back().code, kActionJumpTo);
  EXPECT_EQ(host.actions.back().parameter, u"there");
  SoftkeyMenu left;
  left.LoadAttribute(u"menuTitle", u"Back");
  left.LoadAttribute(u"menuAction", u"PREVIOUS_MENU");
  left.OnAction(kActionMenuShown, ov::String(), 1);
  left.EnableAction(false, kActionPreviousMenu, 1);
  EXPECT_EQ(host.bar.left.state, kButtonGreyed);
  left.EnableAction(true, kActionPreviousMenu, 1);
  EXPECT_EQ(host.bar.left.state, kButtonEnabled);
}

TEST(ScrollBarThumb, RangePageAndDrag) {
  ovtest::FakeHost host;
  ScrollBar bar;
  bar.LoadAttribute(u"xP", u"0");
  bar.LoadAttribute(u"yP", u"0");
  bar.LoadAttribute(u"xS", u"10");
  bar.LoadAttribute(u"yS", u"252");  // track 200 between two 26-pixel buttons
  EXPECT_EQ(bar.GetThumbRect().top, 26);
  EXPECT_EQ(bar.GetThumbRect().bottom, 226);
  Counter owner;
  bar.SetScrollRange(&owner, 999, 0, 10);
  EXPECT_EQ(bar.GetThumbRect().Height(), 26);  // at least one button high
  bar.SetScrollRange(&owner, 29, 17, 13);  // last page ends at the track's end
  EXPECT_EQ(bar.GetThumbRect().bottom, 226);
  // Dragging the thumb up by 2.5 lines sends two "line up" codes; back to
  // the start sends two "line down".
  class Lines : public Control {
   public:
    int OnAction(int32_t code, const ov::String& a, int32_t f) override {
      if (code == kActionScrollUp) ++up;
      if (code == kActionScrollDown) ++down;
      return Control::OnAction(code, a, f);
    }
    int up = 0, down = 0;
  } list;
  bar.SetScrollRange(&list, 19, 10, 10);
  const gfx::Rect thumb = bar.GetThumbRect();
  const double per_line = (200.0 - 200.0 / 20 * 10) / 10;  // 10 pixels a line
  const int32_t start = thumb.top + 5;
  bar.OnStylusDown(5, start);
  EXPECT_EQ(host.pressed, &bar);
  bar.OnStylusMove(5, start - static_cast<int32_t>(2.5 * per_line));
  EXPECT_EQ(list.up, 2);
  bar.OnStylusMove(5, start);
  EXPECT_EQ(list.down, 2);
}

}  // namespace
}  // namespace ui
