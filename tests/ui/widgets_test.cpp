// The value picker, the ticker and the animated bitmap, the animation
// sequences and the colour picker.
#include <gtest/gtest.h>

#include "tests/support/test_paths.h"
#include "tests/ui/fake_host.h"
#include "tests/ui/widget_test_util.h"
#include "ui/animated_elements.h"
#include "ui/colour_picker.h"
#include "ui/menu.h"
#include "ui/sequences.h"
#include "ui/value_picker.h"

namespace ui {
namespace {

using ovtest::Place;

constexpr char16_t kKey[] = u"VideoQuality";

// A picker bound to kKey with entries A/B/C valued 1/2/3, placed at 10,10
// size 100x20, in host.menu.
ItemComboBox* AddPicker(ovtest::FakeHost* host, Menu* menu) {
  auto* p = static_cast<ItemComboBox*>(menu->AddChild(std::make_unique<ItemComboBox>()));
  Place(p, 10, 10, 100, 20);
  p->LoadAttribute(u"attribute", kKey);
  for (const char16_t* item : {u"A", u"B", u"C"}) p->LoadAttribute(u"item", item);
  for (const char16_t* value : {u"1", u"2", u"3"}) p->LoadAttribute(u"value", value);
  host->menu = menu;
  host->values[kKey] = u"2";
  host->numeric[kKey] = true;
  return p;
}

TEST(ValuePicker, AnOptionMatchingNoEntryShowsTheFirstAndStoresIt) {
  ovtest::FakeHost host;
  Menu menu;
  ItemComboBox* p = AddPicker(&host, &menu);
  host.values[kKey] = u"7";
  p->OnAction(kActionInitialise, u"", 0);
  EXPECT_EQ(p->ShownText(), ov::String(u"A"));
  EXPECT_EQ(host.values[kKey], u"1");
  EXPECT_EQ(host.Count(kActionOptionsChanged), 1);
  EXPECT_EQ(p->committed(), ov::String(u"1"));
}

TEST(ValuePicker, StepsSkipAndCommitWhenTheControlIsLeft) {
  struct Case {
    const char* name;
    const char16_t* skip;
    bool no_confirm;
    int32_t key;               // direction code
    const char16_t* shown;     // after one step from B
    const char16_t* stored;    // option value right after the step
    const char16_t* after;     // option value after focus lost
  };
  const Case cases[] = {
      {"right steps forward", u"", false, 1, u"C", u"2", u"3"},
      {"left steps back", u"", false, 0, u"A", u"2", u"1"},
      {"skip passes over C, wrapping", u"C", false, 1, u"A", u"2", u"1"},
      {"noConfirm stores at once", u"", true, 1, u"C", u"3", u"3"},
      {"up is not a horizontal picker's key", u"", false, 2, u"B", u"2", u"2"},
  };
  for (const Case& k : cases) {
    ovtest::FakeHost host;
    Menu menu;
    ItemComboBox* p = AddPicker(&host, &menu);
    p->LoadAttribute(u"skip", k.skip);
    if (k.no_confirm) p->LoadAttribute(u"nc", u"y");
    p->OnAction(kActionInitialise, u"", 0);
    host.focused = p;
    const int changes = host.Count(kActionOptionsChanged);
    p->OnDirectionKey(k.key);
    EXPECT_EQ(p->ShownText(), ov::String(k.shown)) << k.name;
    EXPECT_EQ(host.values[kKey], k.stored) << k.name;
    EXPECT_EQ(host.Count(kActionOptionsChanged) - changes, k.no_confirm ? 1 : 0) << k.name;
    p->OnAction(kActionFocusLost, u"", 0);
    EXPECT_EQ(host.values[kKey], k.after) << k.name;
  }
}

TEST(ValuePicker, StepsOnlyOnTheFocusedPickerAndStopWhenEveryEntryIsSkipped) {
  ovtest::FakeHost host;
  Menu menu;
  ItemComboBox* p = AddPicker(&host, &menu);
  p->OnAction(kActionInitialise, u"", 0);
  EXPECT_FALSE(p->OnDirectionKey(1));  // not focused
  host.focused = p;
  ItemComboBox same;
  for (int i = 0; i < 3; ++i) same.LoadAttribute(u"item", u"X");
  same.LoadAttribute(u"skip", u"X");
  EXPECT_EQ(same.StepForward(), 1);  // returns instead of looping
  ItemComboBox empty;
  EXPECT_FALSE(empty.IsFocusable());
  EXPECT_TRUE(p->IsFocusable());
}

TEST(ValuePicker, ConfirmationPopupCommitsOnOkAndRevertsOnCancel) {
  for (const bool ok : {true, false}) {
    ovtest::FakeHost host;
    Menu menu;
    ItemComboBox* p = AddPicker(&host, &menu);
    p->LoadAttribute(u"confirmationPopup", u"confirm_quality");
    p->OnAction(kActionInitialise, u"", 0);
    host.focused = p;
    p->OnDirectionKey(1);  // B -> C, not stored yet
    p->OnAction(kActionFocusLost, u"", 0);
    ASSERT_EQ(host.queued.size(), 1u);
    EXPECT_EQ(host.queued[0].code, kActionShowPopup);
    EXPECT_EQ(host.queued[0].parameter, u"confirm_quality");
    EXPECT_TRUE(p->awaiting_confirmation());
    EXPECT_EQ(host.values[kKey], u"2");
    p->OnAction(kActionSaveSettings, u"", 0);  // waits for the popup's answer
    EXPECT_EQ(host.values[kKey], u"2");
    p->OnAction(ok ? kActionMenuOk : kActionMenuCancel, u"", 0);
    EXPECT_FALSE(p->awaiting_confirmation());
    EXPECT_EQ(host.values[kKey], ok ? u"3" : u"2") << ok;
    EXPECT_EQ(p->ShownText(), ov::String(ok ? u"C" : u"B")) << ok;
  }
}

TEST(ValuePicker, TapsOnTheAreaEdgesDoNothing) {
  struct Case {
    int32_t r;  // x - xPos
    const char16_t* shown;
  };
  // decrementAreaX 10, incrementAreaX 50, xSize 100; both ends open.
  const Case cases[] = {{5, u"B"}, {10, u"B"}, {11, u"A"}, {49, u"A"}, {50, u"B"}, {51, u"C"}, {99, u"C"}};
  for (const Case& k : cases) {
    ovtest::FakeHost host;
    Menu menu;
    ItemComboBox* p = AddPicker(&host, &menu);
    p->LoadAttribute(u"decrementAreaX", u"10");
    p->LoadAttribute(u"incrementAreaX", u"50");
    p->OnAction(kActionInitialise, u"", 0);
    p->OnStylusDown(10 + k.r, 20);
    EXPECT_EQ(p->ShownText(), ov::String(k.shown)) << k.r;
  }
}

TEST(ValuePicker, StateKeepsThePopupAndTheWait) {
  ovtest::FakeHost host;
  Menu menu;
  ItemComboBox* p = AddPicker(&host, &menu);
  p->LoadAttribute(u"confirmationPopup", u"confirm");
  p->OnAction(kActionInitialise, u"", 0);
  host.focused = p;
  p->OnDirectionKey(1);
  p->OnAction(kActionFocusLost, u"", 0);
  ov::Archive archive;
  p->SaveState(&archive);
  ItemComboBox q;
  ov::Archive reader(std::vector<uint8_t>(archive.Bytes().begin(), archive.Bytes().end()));
  q.LoadState(&reader);
  EXPECT_TRUE(q.awaiting_confirmation());
}

TEST(AnimatedBitmap, StripOf100InFramesOf25LoopsThroughFourFrames) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const gfx::COLORREF band[] = {gfx::Rgb(255, 0, 0), gfx::Rgb(0, 255, 0), gfx::Rgb(0, 0, 255),
                                gfx::Rgb(255, 255, 0)};
  const ov::String strip = ovtest::WriteBands(dir, "strip.png", 25, 10, {band[0], band[1], band[2], band[3]});
  AnimatedBitmap a;
  a.LoadAttribute(u"xPos", u"0");
  a.LoadAttribute(u"yPos", u"0");
  a.LoadAttribute(u"bitmap", strip);
  a.LoadAttribute(u"frameX", u"25");
  a.LoadAttribute(u"frameY", u"10");
  a.LoadAttribute(u"delay", u"100");
  ovtest::Canvas canvas = ovtest::MakeCanvas(25, 10, 0);
  a.Draw(canvas.get(), 0);
  const int expected[] = {0, 1, 2, 3, 0};
  uint32_t now = 1000;
  for (int i = 0; i < 5; ++i) {
    if (i > 0) {
      gfx::Rect area;
      a.OnTick(&area, now);
      EXPECT_EQ(area, (gfx::Rect{0, 0, 25, 10})) << i;
      a.OnTick(&area, now + 50);  // within the delay: no frame change, nothing to repaint
      EXPECT_TRUE(area.IsEmpty()) << i;
    }
    EXPECT_EQ(a.frame(), expected[i]);
    a.Draw(canvas.get(), 0);
    EXPECT_EQ(ovtest::PixelAt(canvas, 12, 5), gfx::ColorRefTo565(band[expected[i]])) << i;
    now += 200;
  }
}

TEST(AnimatedBitmap, NumberedFilesPlayInOrderAndNoFilesIsStill) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const gfx::COLORREF colours[] = {gfx::Rgb(255, 0, 0), gfx::Rgb(0, 255, 0), gfx::Rgb(0, 0, 255)};
  for (int i = 0; i < 3; ++i) ovtest::WriteBands(dir, "frame" + std::to_string(i + 1) + ".bmp", 6, 6, {colours[i]});
  struct Case {
    const char16_t* files;
    bool animated;
  };
  for (const Case k : {Case{u"3", true}, Case{u"0", false}, Case{u"1", false}}) {
    AnimatedBitmap a;
    a.LoadAttribute(u"xPos", u"0");
    a.LoadAttribute(u"yPos", u"0");
    a.LoadAttribute(u"bitmap", ov::String::FromUtf8Lossy(dir + "/frame"));
    a.LoadAttribute(u"multifile", u"");
    a.LoadAttribute(u"numberOfFiles", k.files);
    ovtest::Canvas canvas = ovtest::MakeCanvas(6, 6, 0);
    a.Draw(canvas.get(), 0);
    uint32_t now = 100;
    for (int i = 0; i < 4; ++i) {
      gfx::Rect area;
      a.OnTick(&area, now);  // delay 0: every tick after 1 ms moves on
      now += 31;
      EXPECT_EQ(area.IsEmpty(), !k.animated) << i;
      a.Draw(canvas.get(), 0);
      if (k.animated) EXPECT_EQ(ovtest::PixelAt(canvas, 3, 3), gfx::ColorRefTo565(colours[(i + 1) % 3])) << i;
      else EXPECT_EQ(a.frame(), 0);
    }
  }
  AnimatedBitmap capped;
  capped.LoadAttribute(u"numberOfFiles", u"80");
  EXPECT_EQ(capped.number_of_files(), AnimatedBitmap::kMaxFiles);
}

TEST(ScrollingText, ShortTextLeavesOnTheLeftBeforeStartingAgain) {
  ovtest::FakeHost host;
  ScrollingText t;
  t.LoadAttribute(u"xPos", u"20");
  t.LoadAttribute(u"yPos", u"0");
  t.LoadAttribute(u"text", u"Hi");
  t.LoadAttribute(u"width", u"40");
  t.LoadAttribute(u"height", u"12");
  t.LoadAttribute(u"textIdColor", u"FFFFFF");
  ovtest::Canvas canvas = ovtest::MakeCanvas(80, 12, 0);
  gfx::HFont font;
  t.Draw(canvas.get(), 0);  // drawn at the box's right edge: nothing shows yet
  EXPECT_TRUE(ovtest::InkBox(*canvas.bitmap, 0).IsEmpty());
  EXPECT_EQ(t.scroll_x(), 38);
  t.Draw(canvas.get(), 0);  // enters at the right edge, wherever the box stands
  const gfx::Rect first = ovtest::InkBox(*canvas.bitmap, 0);
  EXPECT_GE(first.left, 58);
  EXPECT_LE(first.right, 60);
  gfx::Rect area;
  t.OnTick(&area, 0);
  EXPECT_EQ(area, (gfx::Rect{20, 0, 60, 12}));
  int32_t lowest = 1000, draws = 0;
  while (t.scroll_x() != 40 && draws < 100) {
    ovtest::Canvas c = ovtest::MakeCanvas(80, 12, 0);
    t.Draw(c.get(), 0);
    const gfx::Rect ink = ovtest::InkBox(*c.bitmap, 0);
    if (!ink.IsEmpty()) {
      EXPECT_GE(ink.left, 20);
      EXPECT_LE(ink.right, 60);
    }
    lowest = std::min(lowest, t.scroll_x());
    ++draws;
  }
  EXPECT_EQ(t.scroll_x(), 40);  // back at boxWidth
  EXPECT_LT(lowest, -4);        // after the text had left on the left
}

// Two focusable items and one passive one.
struct SlideMenu {
  Menu menu;
  Control* a;
  Control* b;
  Control* passive;
  SlideMenu() {
    a = static_cast<Control*>(menu.AddChild(std::make_unique<Control>()));
    b = static_cast<Control*>(menu.AddChild(std::make_unique<Control>()));
    passive = static_cast<Control*>(menu.AddChild(std::make_unique<Control>()));
    Place(a, 10, 0, 20, 10);
    Place(b, 37, 20, 20, 10);
    Place(passive, 5, 40, 20, 10);
    passive->SetEnableBit(false, 3);
  }
};

TEST(MovementSequence, SlidesBackToTheStartingXAndIgnoresOtherTriggers) {
  ovtest::FakeHost host;
  SlideMenu m;
  auto* s = static_cast<Sequence*>(m.menu.CreateChild(u"MQ"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetType(), kTypeMovementSequence);
  s->LoadAttribute(u"trigger", u"SelectionL");
  s->LoadAttribute(u"delay", u"40");
  ASSERT_EQ(m.menu.sequences().size(), 1u);
  s->OnTrigger(kTriggerInit, 0);
  s->OnTrigger(kTriggerSelection, 0);
  EXPECT_FALSE(s->IsRunning());
  s->OnTrigger(kTriggerSelectionLeft, 0);
  EXPECT_TRUE(s->IsRunning());
  uint32_t now = 1000;
  EXPECT_TRUE(s->IsDue(now));
  s->Step(m.menu.children(), now);
  EXPECT_EQ(m.a->x(), 10 - 320);
  EXPECT_EQ(m.passive->x(), 5);
  EXPECT_FALSE(s->IsDue(now + 40));
  int steps = 0;
  while (s->IsRunning() && steps < 100) {
    now += 41;
    ASSERT_TRUE(s->IsDue(now));
    s->Step(m.menu.children(), now);
    ++steps;
    if (steps == 5) {
      s->OnTrigger(kTriggerSelectionLeft, now);  // running: not restarted
      EXPECT_EQ(m.a->x(), 10 - 320 + 50);
    }
  }
  EXPECT_EQ(steps, 32);
  EXPECT_EQ(m.a->x(), 10);
  EXPECT_EQ(m.b->x(), 37);
  // It can run again afterwards.
  s->OnTrigger(kTriggerSelectionLeft, now);
  EXPECT_TRUE(s->IsRunning());
}

TEST(MovementSequence, NoTriggerAttributeNeverStartsAndItemsAffectedStopAt64) {
  MovementSequence s;
  for (int32_t code = -2; code < 8; ++code) s.OnTrigger(code, 0);
  EXPECT_FALSE(s.IsRunning());
  for (int i = 0; i < 70; ++i) s.LoadAttribute(u"itemsAffected", i % 2 ? u"MENUITEM" : u"TEXTBOX");
  EXPECT_EQ(s.items_affected().size(), Sequence::kMaxItemsAffected);
  EXPECT_TRUE(s.items_affected()[1]);
  EXPECT_FALSE(s.items_affected()[0]);
}

TEST(FileClipSequence, PlaysOnceOrRepeatsAndDiesWithItsMenu) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  // A strip of three 8x8 frames stacked downwards.
  ovtest::Canvas strip = ovtest::MakeCanvas(8, 24, gfx::Rgb(255, 0, 0));
  gfx::FillRect(strip.get(), {0, 8, 8, 16}, gfx::CreateSolidBrush(gfx::Rgb(0, 255, 0)));
  gfx::FillRect(strip.get(), {0, 16, 8, 24}, gfx::CreateSolidBrush(gfx::Rgb(0, 0, 255)));
  imaging::WritePng(dir + "/clip.png", *strip.bitmap);
  for (const bool repeat : {false, true}) {
    auto menu = std::make_unique<Menu>();
    auto* s = static_cast<Sequence*>(menu->CreateChild(u"FILECLIPSEQUENCE"));
    ASSERT_NE(s, nullptr);
    s->LoadAttribute(u"trigger", u"init");
    s->LoadAttribute(u"image", ov::String::FromUtf8Lossy(dir + "/clip.png"));
    s->LoadAttribute(u"xPos", u"0");
    s->LoadAttribute(u"yPos", u"0");
    s->LoadAttribute(u"xSize", u"8");
    s->LoadAttribute(u"ySize", u"8");
    s->LoadAttribute(u"delay", u"10");
    if (repeat) s->LoadAttribute(u"repeat", u"yes");
    Element* part = s->ControlPart();
    ASSERT_EQ(menu->children().size(), 1u);
    EXPECT_EQ(menu->children()[0].get(), part);
    EXPECT_EQ(part->GetType(), kTypeFileClipSequence);
    EXPECT_FALSE(part->IsVisible());
    s->OnTrigger(kTriggerInit, 100);
    EXPECT_TRUE(part->IsVisible());
    ovtest::Canvas canvas = ovtest::MakeCanvas(8, 8, 0);
    uint32_t now = 100;
    for (int tick = 0; tick < 8; ++tick) {
      if (part->IsVisible()) part->Draw(canvas.get(), 0);
      gfx::Rect area;
      now += 11;
      part->OnTick(&area, now);
    }
    EXPECT_EQ(part->IsVisible(), repeat) << repeat;
    EXPECT_EQ(s->IsRunning(), repeat) << repeat;
    // Freed once with its menu (AddressSanitizer checks the ownership).
    menu.reset();
  }
}

// A picker picture: red on the left half, blue on the right.
TEST(ColourPicker, TapStoresTheColourAsDecimalBgr) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const ov::String picture =
      ovtest::WriteBands(dir, "colours.png", 10, 10, {gfx::Rgb(255, 0, 0), gfx::Rgb(0, 0, 255)});
  struct Case {
    const char* name;
    int32_t x, y;
    const char16_t* stored;
  };
  const Case cases[] = {
      {"red", 5, 5, u"255"},
      {"blue", 15, 5, u"16711680"},
      {"outside the picture", 25, 5, u"-1"},  // the pixel read answers 0xFFFFFFFF
  };
  for (const Case& k : cases) {
    Menu menu;
    host.menu = &menu;
    host.values[u"TextColour"] = u"0";
    host.numeric[u"TextColour"] = true;
    auto* p = static_cast<ColourPicker*>(menu.AddChild(std::make_unique<ColourPicker>()));
    Place(p, 0, 0, 30, 10);
    p->LoadAttribute(u"il", picture);
    p->LoadAttribute(u"attribute", u"TextColour");
    const int changes = host.Count(kActionOptionsChanged);
    EXPECT_FALSE(p->OnStylusDown(k.x, k.y));
    EXPECT_EQ(host.values[u"TextColour"], k.stored) << k.name;
    EXPECT_EQ(host.Count(kActionOptionsChanged) - changes, 1) << k.name;
  }
}

TEST(ColourPicker, WithoutAttributeStoresNothingAndFocusBlocksTheRefresh) {
  ovtest::FakeHost host;
  host.strict_options = true;
  const std::string dir = ovtest::ScratchDir();
  const ov::String picture = ovtest::WriteBands(dir, "red.png", 10, 10, {gfx::Rgb(255, 0, 0)});
  Menu menu;
  host.menu = &menu;
  auto* p = static_cast<ColourPicker*>(menu.AddChild(std::make_unique<ColourPicker>()));
  Place(p, 0, 0, 10, 10);
  p->LoadAttribute(u"il", picture);
  p->OnStylusDown(5, 5);
  EXPECT_EQ(host.Count(kActionOptionsChanged), 0);
  EXPECT_EQ(p->colour(), 255u);
  p->LoadAttribute(u"attribute", u"TextColour");
  host.values[u"TextColour"] = u"16711680";
  host.numeric[u"TextColour"] = true;
  host.focused = p;
  EXPECT_EQ(p->OnAction(kActionOptionsChanged, u"", 1), 1);
  EXPECT_EQ(p->colour(), 255u);
  host.focused = nullptr;
  EXPECT_EQ(p->OnAction(kActionOptionsChanged, u"", 1), 0);
  EXPECT_EQ(p->colour(), 16711680u);
}

}  // namespace
}  // namespace ui
