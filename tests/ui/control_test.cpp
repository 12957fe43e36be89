// Control drawing and state: focus and disabled shading of the idle picture,
// the plain fallback for a picture that cannot be read, the animation strips
// and their step delay, the binding slots, the codes a control keeps from its
// text box, popup group enabling, and item groups drawn in their state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/imaging/image.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "tests/gfx/surface_util.h"
#include "tests/ui/fake_host.h"
#include "ui/item_group.h"
#include "ui/menu.h"
#include "ui/popup_message_box.h"

namespace ui {
namespace {

constexpr gfx::COLORREF kBlack = gfx::Rgb(0, 0, 0);

// A w x h picture of one colour, written as PNG; its path.
ov::String WritePicture(const std::string& dir, const std::string& name, int32_t w, int32_t h, gfx::COLORREF c) {
  ovtest::Canvas canvas = ovtest::MakeCanvas(w, h, c);
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(imaging::WritePng(path, *canvas.bitmap));
  return ov::String::FromUtf8Lossy(path);
}

void Place(Control* c, int32_t x, int32_t y, int32_t w, int32_t h) {
  c->LoadAttribute(u"xP", ov::String::Format(u"%d", x));
  c->LoadAttribute(u"yP", ov::String::Format(u"%d", y));
  c->LoadAttribute(u"xS", ov::String::Format(u"%d", w));
  c->LoadAttribute(u"yS", ov::String::Format(u"%d", h));
}

uint16_t Pixel(const ovtest::Canvas& c, int32_t x, int32_t y) { return c.bitmap->row(y)[x]; }

// Each RGB565 field shifted left (brighter, saturated) or right (darker).
uint16_t Shaded(uint16_t p, int shift) {
  const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
  if (shift < 0) return uint16_t(std::min(r << 1, 31u) << 11 | std::min(g << 1, 63u) << 5 | std::min(b << 1, 31u));
  return uint16_t((r >> 1) << 11 | (g >> 1) << 5 | (b >> 1));
}

TEST(ControlShading, FocusedAndDisabledShadeTheIdlePictureUnlessNamedOrSwitchedOff) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const gfx::COLORREF grey = gfx::Rgb(100, 100, 100);
  const ov::String idle = WritePicture(dir, "idle.png", 8, 8, grey);
  const ov::String focus = WritePicture(dir, "focus.png", 8, 8, gfx::Rgb(0, 200, 0));
  const uint16_t grey565 = gfx::ColorRefTo565(grey);
  struct Case {
    const char* name;
    bool named_focus, no_auto_shade;
    int state;
    uint16_t expected;
  };
  const Case cases[] = {
      {"idle", false, false, kDrawNormal, grey565},
      {"focused brighter", false, false, kDrawFocused, Shaded(grey565, -1)},
      {"disabled darker", false, false, kDrawDisabled, Shaded(grey565, 1)},
      {"named focus picture", true, false, kDrawFocused, gfx::ColorRefTo565(gfx::Rgb(0, 200, 0))},
      {"no auto shade: nothing", false, true, kDrawFocused, gfx::ColorRefTo565(kBlack)},
      {"no auto shade, disabled: nothing", false, true, kDrawDisabled, gfx::ColorRefTo565(kBlack)},
  };
  for (const Case& k : cases) {
    Control c;
    Place(&c, 0, 0, 8, 8);
    c.LoadAttribute(u"sw", u"0");
    c.LoadAttribute(u"il", idle);
    if (k.named_focus) c.LoadAttribute(u"fi", focus);
    if (k.no_auto_shade) c.LoadAttribute(u"nas", u"yes");
    ovtest::Canvas canvas = ovtest::MakeCanvas(8, 8, kBlack);
    c.Draw(canvas.get(), k.state);
    EXPECT_EQ(Pixel(canvas, 4, 4), k.expected) << k.name;
  }
}

TEST(ControlFallback, UnreadablePictureDrawsAFramedBoxAndNamesThePicture) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const std::string junk_path = dir + "/broken.png";
  const char junk[] = "not a picture at all";
  ASSERT_TRUE(ov::WriteWholeFile(ov::String::FromUtf8Lossy(junk_path), junk, sizeof junk));
  Control c;
  Place(&c, 2, 2, 12, 8);
  c.LoadAttribute(u"sw", u"0");
  c.LoadAttribute(u"tfc", u"FFFFFF");
  c.LoadAttribute(u"tic", u"00FF00");
  c.LoadAttribute(u"tbfc", u"FF0000");  // 0x00BBGGRR: blue
  c.LoadAttribute(u"fi", ov::String::FromUtf8Lossy(junk_path));
  c.LoadAttribute(u"il", ov::String::FromUtf8Lossy(junk_path));
  ovtest::Canvas canvas = ovtest::MakeCanvas(16, 12, kBlack);
  ::testing::internal::CaptureStderr();
  c.Draw(canvas.get(), kDrawFocused);
  c.Draw(canvas.get(), kDrawFocused);
  const std::string err = ::testing::internal::GetCapturedStderr();
  // Focused: the box filled with the focused background, framed in the
  // focused text colour; nothing outside it.
  EXPECT_EQ(Pixel(canvas, 7, 5), gfx::ColorRefTo565(0xFF0000));
  EXPECT_EQ(Pixel(canvas, 2, 2), 0xFFFF);
  EXPECT_EQ(Pixel(canvas, 13, 9), 0xFFFF);
  EXPECT_EQ(ovtest::InkBox(*canvas.bitmap, kBlack), (gfx::Rect{2, 2, 14, 10}));
  // One line naming the picture, however often it is drawn.
  EXPECT_NE(err.find(junk_path), std::string::npos) << err;
  EXPECT_EQ(err.find(junk_path), err.rfind(junk_path)) << err;
  // Idle: only the frame, in the idle text colour.
  ovtest::Canvas idle = ovtest::MakeCanvas(16, 12, kBlack);
  c.Draw(idle.get(), kDrawNormal);
  EXPECT_EQ(Pixel(idle, 2, 5), gfx::ColorRefTo565(0x00FF00));
  EXPECT_EQ(Pixel(idle, 7, 5), gfx::ColorRefTo565(kBlack));
}

TEST(ControlAnimation, PairsByDirectionAndStepsOnlyAfterTheDelay) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const ov::String red = WritePicture(dir, "l.png", 8, 8, gfx::Rgb(255, 0, 0));
  const ov::String green = WritePicture(dir, "r.png", 8, 8, gfx::Rgb(0, 255, 0));
  const ov::String blue = WritePicture(dir, "idle.png", 8, 8, gfx::Rgb(0, 0, 255));
  Control c;
  Place(&c, 0, 0, 8, 8);
  c.LoadAttribute(u"sw", u"0");
  c.LoadAttribute(u"d", u"100");
  c.LoadAttribute(u"il", blue);
  EXPECT_FALSE(c.StartAnimationRight());  // nothing named yet
  c.LoadAttribute(u"al", red);
  c.LoadAttribute(u"ar", green);
  EXPECT_TRUE(c.HasAnimationRight());
  EXPECT_TRUE(c.HasAnimationLeft());

  // Right plays the L pair, left the R pair; a strip of one frame ends once
  // shown and the idle picture returns.
  struct Step {
    bool right;
    gfx::COLORREF shown;
  };
  for (const Step& s : {Step{true, gfx::Rgb(255, 0, 0)}, Step{false, gfx::Rgb(0, 255, 0)}}) {
    ASSERT_TRUE(s.right ? c.StartAnimationRight() : c.StartAnimationLeft());
    ovtest::Canvas canvas = ovtest::MakeCanvas(8, 8, kBlack);
    c.Draw(canvas.get(), kDrawNormal);
    EXPECT_EQ(Pixel(canvas, 4, 4), gfx::ColorRefTo565(s.shown));
    EXPECT_FALSE(c.animation_running());
    c.Draw(canvas.get(), kDrawNormal);
    EXPECT_EQ(Pixel(canvas, 4, 4), gfx::ColorRefTo565(gfx::Rgb(0, 0, 255)));
  }

  // Ticks step the animation only when more than "delay" ms have passed; a
  // step lays the element out again, which is what the tick reports.
  ov::SetTickCountForTesting(10000);
  ASSERT_TRUE(c.StartAnimationRight());
  gfx::Rect area;
  c.OnTick(&area, 10100);
  EXPECT_TRUE(area.IsEmpty());
  c.OnTick(&area, 10101);
  EXPECT_EQ(area, (gfx::Rect{0, 0, 8, 8}));
  // The focus message stops it.
  c.OnAction(kActionFocusGained, ov::String(), 0);
  EXPECT_FALSE(c.animation_running());
}

TEST(ControlBindings, ThirtySlotsAndNoMore) {
  ovtest::FakeHost host;
  Control c;
  c.LoadAttribute(u"actiont", u"SAVE_SETTINGS");  // slot 29, the last
  EXPECT_EQ(c.action_code(29), kActionSaveSettings);
  EXPECT_EQ(c.last_action_index(), 29);
  c.LoadAttribute(u"actionu", u"PREVIOUS_MENU");  // slot 30: refused
  c.LoadAttribute(u"actionU", u"PREVIOUS_MENU");
  EXPECT_EQ(c.last_action_index(), 29);
  c.OnAction(kActionActivate, ov::String(), 0);
  ASSERT_EQ(host.actions.size(), 1u);
  EXPECT_EQ(host.actions[0].code, kActionSaveSettings);
  EXPECT_EQ(host.go_backs, 0);
}

TEST(ControlCodes, FocusAndMenuCodesStayWithTheControl) {
  ovtest::FakeHost host;
  Control c;
  c.LoadAttribute(u"action", u"SAVE_SETTINGS");
  c.LoadAttribute(u"initiallyActivated", u"yes");
  host.focused = &c;
  // A text box starts editing when it gains the focus; a control must not run
  // its bindings for that.
  for (int32_t code : {kActionFocusGained, kActionFocusLost, kActionInitialise, kActionLeavingMenu}) {
    EXPECT_EQ(c.OnAction(code, ov::String(), 0), 1) << code;
  }
  EXPECT_TRUE(host.actions.empty());
}

// A screen built on a menu, of another type (as the mix screens are).
class Screen : public Menu {
 public:
  Screen() { type_ = kTypeMixer; }
};

TEST(ControlGroupEnabling, PopupFoundInAnyKindOfMenu) {
  ovtest::FakeHost host;
  Screen screen;
  auto* popup = static_cast<PopupMessageBox*>(screen.CreateChild(u"PM"));
  ASSERT_NE(popup, nullptr);
  popup->LoadAttribute(u"ti", u"choices");
  auto* opener = static_cast<Control*>(screen.CreateChild(u"MI"));
  opener->LoadAttribute(u"action", u"SHOW_POPUP choices");
  // Nothing to choose in the popup: the control that opens it is disabled.
  opener->EnableAction(true, kActionSaveSettings, 1);
  EXPECT_FALSE(opener->IsEnabled());
  popup->CreateChild(u"MI")->LoadAttribute(u"action", u"SAVE_SETTINGS");
  opener->EnableAction(true, kActionSaveSettings, 1);
  EXPECT_TRUE(opener->IsEnabled());
}

TEST(ItemGroupDraw, TheGroupDrawsInTheStateItIsGiven) {
  ovtest::FakeHost host;
  ItemGroup g;
  Place(&g, 10, 10, 20, 20);
  g.SetVisible(true);
  // The focus frame of the group's text block shows only in the focused state.
  for (int state : {kDrawNormal, kDrawFocused}) {
    ovtest::Canvas canvas = ovtest::MakeCanvas(40, 40, kBlack);
    g.Draw(canvas.get(), state);
    EXPECT_EQ(Pixel(canvas, 9, 20), state == kDrawFocused ? 0xFFFF : 0) << state;
  }
}

TEST(ItemGroupCapture, OpenGroupHoldsTheStylusUntilClosed) {
  ovtest::FakeHost host;
  ItemGroup g;
  g.OnAction(kActionItemGroupOpen, ov::String(), 0);
  EXPECT_EQ(host.capture, &g);
  g.OnAction(kActionItemGroupClose, ov::String(), 0);
  EXPECT_EQ(host.capture, nullptr);
}

TEST(Popups, MessageBoxesIgnore17And19WhichCloseADropDown) {
  ovtest::FakeHost host;
  PopupMessageBox box;
  box.SetVisible(true);
  for (int32_t code : {17, 19}) EXPECT_EQ(box.OnAction(code, ov::String(), 0), 1);
  EXPECT_TRUE(host.closed.empty());
  box.OnAction(kActionActivate, ov::String(), 0);  // 14 still closes it
  EXPECT_EQ(host.closed.size(), 1u);
  DropDownMenu dd;
  dd.SetVisible(true);
  dd.OnAction(17, ov::String(), 0);
  dd.OnAction(19, ov::String(), 0);
  EXPECT_EQ(host.closed.size(), 3u);
}

}  // namespace
}  // namespace ui
