// The mixer screen's channel panels and effect marks on the default skin,
// headless: the number keys hand the focus to a channel's panel, which then
// switches and steers its channel; an effect menu offers the controls its
// effect type takes; each channel's effect mark opens the effect group of its
// kind beside it; and the preview's play key hands the focus on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/mix_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/mixer/mixer_selection.h"
#include "screens/mixer/preview_mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/item_group.h"
#include "ui/menu.h"
#include "ui/slider_control.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;
using screens::MixerSelection;

wnd::Key Digit(int n) { return static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0) + n); }

// A photo (channel 1), a video (2) and a sound (3) whose caches are all
// present, so that entering the mixer decodes nothing; on the screen size of
// the parameter.
class MixerPanels : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    setenv("OVMIX_SCREEN", GetParam(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_SCREEN");
    ASSERT_TRUE(d().ok());
    ASSERT_TRUE(d().UseVirtualWaveOut());
    ASSERT_TRUE(ovtest::AddCachedClips(dir_, {channel(0), channel(1), channel(2)}, {"one.jpg", "holiday.mp4", "song.wav"}));
    ASSERT_TRUE(d().TapElement(u"main_0"));
    ASSERT_EQ(d().Menu(), u"mixing_menu");
    ASSERT_FALSE(mixer()->decoding());
  }
  void TearDown() override { driver_.reset(); }

  ovtest::HeadlessDriver& d() { return *driver_; }
  ui::Element* Find(const std::u16string& name) {
    return d().sm().FindElementByName(d().sm().menu_container(), ov::String(std::u16string_view(name)), true);
  }
  Mixer* mixer() { return dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true)); }
  ChannelSelection* channel(int i) {
    return dynamic_cast<ChannelSelection*>(Find(u"channel_sel" + std::u16string(1, char16_t(u'0' + i))));
  }
  // The channel number of the focused panel; -1 when the focus is elsewhere.
  int FocusedPanel() {
    auto* panel = dynamic_cast<MixerSelection*>(d().sm().focused());
    return panel ? panel->channel_number() : -1;
  }
  MixerSelection* Panel(int n) {
    for (const auto& c : d().sm().current_menu()->children()) {
      auto* p = dynamic_cast<MixerSelection*>(c.get());
      if (p && p->channel_number() == n) return p;
    }
    return nullptr;
  }

  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

// A digit focuses the panel of that channel from anywhere on the screen; a
// digit whose channel is empty, or that names no panel, leaves the focus.
TEST_P(MixerPanels, NumberKeysHandTheFocusToTheirChannelsPanel) {
  d().sm().SetFocus(Find(u"StartMix"));
  const struct {
    int digit, focused;
  } cases[] = {{2, 2}, {1, 1}, {0, 0}, {5, 0}, {3, 3}, {9, 3}, {6, 3}, {2, 2}};
  for (const auto& c : cases) {
    d().Key(Digit(c.digit));
    EXPECT_EQ(FocusedPanel(), c.focused) << "digit " << c.digit;
  }
  // The focused panel shows its ring; the video cell drawn over it leaves
  // only the edge.
  d().SavePng(dir_ + "/panel_focus.png");  // for review
  EXPECT_EQ(d().sm().focused(), Panel(2));
  // An open popup keeps the digits from the panels.
  ui::Element* popup = Find(u"DECOMPRESSION_FAILURE");
  d().sm().OpenPopup(popup);
  d().Key(Digit(1));
  EXPECT_EQ(d().sm().focused(), popup);
}

// Enter switches the focused panel's channel (the whole mix's panel mutes),
// and the arrows along the volume slider steer it.
TEST_P(MixerPanels, TheFocusedPanelSwitchesAndSteersItsChannel) {
  Mixer* m = mixer();
  d().Key(Digit(3));  // the sound
  ASSERT_EQ(FocusedPanel(), 3);
  d().Key(wnd::Key::kEnter);
  EXPECT_EQ(m->entry(2).active, 1);
  d().Key(wnd::Key::kEnter);
  EXPECT_EQ(m->entry(2).active, 0);
  const auto* vol = dynamic_cast<ui::SliderControl*>(Find(u"MX_VOL_2"));
  ASSERT_NE(vol, nullptr);
  const int32_t level = vol->value();
  d().Key(wnd::Key::kLeft);
  EXPECT_EQ(vol->value(), level + 10);
  EXPECT_EQ(m->entry(2).volume, 100 - vol->value());
  d().Key(wnd::Key::kRight);
  EXPECT_EQ(vol->value(), level);
  EXPECT_EQ(m->entry(2).volume, 100 - level);
  d().Key(Digit(0));
  d().Key(wnd::Key::kEnter);
  EXPECT_TRUE(m->muted());
  d().Key(wnd::Key::kEnter);
  EXPECT_FALSE(m->muted());
  EXPECT_EQ(FocusedPanel(), 0);
}

// MX_ADDEFFECT on a panel opens its kind's effect menu on the channel's
// effect, whose speed and direction controls follow the effect type.
TEST_P(MixerPanels, TheEffectMenuOffersTheControlsOfTheChannelsEffect) {
  auto menu = std::make_unique<ui::Menu>();
  menu->LoadAttribute(u"title", u"effect_choice");
  menu->LoadAttribute(u"bi", u"bg.png");
  ui::Element* control[2];
  for (int k = 0; k < 2; ++k) {
    auto item = std::make_unique<ui::Control>();
    item->LoadAttribute(u"att", k ? u"EffectDir" : u"EffectSpeed");
    control[k] = menu->AddChild(std::move(item));
  }
  d().sm().menu_container()->AddChild(std::move(menu));
  for (int n : {1, 3}) {
    Panel(n)->LoadAttribute(u"videoEffectMenu", u"effect_choice");
    Panel(n)->LoadAttribute(u"audioEffectMenu", u"effect_choice");
  }
  const struct {
    int panel;
    int32_t type;
    bool speed, direction;
  } cases[] = {{1, 0, false, false}, {1, 201, true, true}, {1, 203, true, false},
               {3, 100, true, false}, {1, 204, true, true}, {1, 210, false, false}};
  for (const auto& c : cases) {
    mixer()->SetChannelEffect(c.panel - 1, c.type, 500, 2, ov::String());
    d().Key(Digit(c.panel));
    ASSERT_EQ(FocusedPanel(), c.panel);
    d().sm().DoAction(ui::kActionAddEffect, ov::String(), 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), u"effect_choice") << c.type;
    EXPECT_EQ(control[0]->IsEnabled(), c.speed) << c.type;
    EXPECT_EQ(control[1]->IsEnabled(), c.direction) << c.type;
    d().Back();
    ASSERT_EQ(d().Menu(), u"mixing_menu");
  }
}

// Each channel's effect mark: the one of its kind is enabled, grey until an
// effect is chosen. Pressing it opens the effect group of that kind beside
// it, items and all; choosing an effect closes the group and lights the mark.
TEST_P(MixerPanels, TheEffectMarkOpensItsKindsGroupBesideIt) {
  const struct {
    int channel;
    const char16_t* enabled;  // of fx_vid, fx_vid_grey, fx_aud, fx_aud_grey; null: none
  } marks[] = {{0, u"fx_vid_grey"}, {1, u"fx_vid_grey"}, {2, u"fx_aud_grey"}, {3, nullptr}};
  for (const auto& m : marks) {
    for (const std::u16string kind : {u"fx_vid", u"fx_vid_grey", u"fx_aud", u"fx_aud_grey"}) {
      ui::Element* mark = Find(kind + std::u16string(1, char16_t(u'0' + m.channel)));
      ASSERT_NE(mark, nullptr);
      EXPECT_EQ(mark->IsEnabled(), m.enabled && kind == m.enabled)
          << ov::String(std::u16string_view(kind)).ToUtf8Lossy() << m.channel;
    }
  }
  const struct {
    int channel;
    const char16_t *mark, *group, *lit;
    uint32_t type;
  } opens[] = {{1, u"fx_vid_grey1", u"video_effects", u"fx_vid1", 203},
               {2, u"fx_aud_grey2", u"audio_effects", u"fx_aud2", 100}};
  for (const auto& o : opens) {
    ui::Element* mark = Find(o.mark);
    auto* group = dynamic_cast<ui::ItemGroup*>(Find(o.group));
    ASSERT_NE(group, nullptr);
    ASSERT_FALSE(group->IsVisible());
    d().TapElement(o.mark);
    ASSERT_TRUE(group->IsVisible()) << o.channel;
    // Beside the mark, inside the screen, with its items.
    const gfx::Size screen = d().sm().ScreenSize();
    EXPECT_EQ(group->y(), mark->y() + 4);
    EXPECT_GE(group->x(), 0);
    EXPECT_LE(group->x() + group->GetXSize(), screen.cx);
    EXPECT_LE(group->x(), mark->x() + 4);
    EXPECT_GE(group->x() + group->GetXSize(), mark->x() + mark->GetXSize());
    ui::Element* first = group->items().front().get();
    EXPECT_EQ(first->x() - group->x(), 3);
    EXPECT_EQ(first->y() - group->y(), 3);
    d().Tap(first->x() + first->GetXSize() / 2, first->y() + first->GetYSize() / 2);
    EXPECT_FALSE(group->IsVisible());
    EXPECT_EQ(channel(o.channel)->channel_effect().type, o.type);
    EXPECT_EQ(channel(o.channel)->effect_on(), 1);
    EXPECT_TRUE(Find(o.lit)->IsEnabled());
    EXPECT_FALSE(mark->IsEnabled());
  }
  d().SavePng(dir_ + "/effect_marks.png");  // for review
}

// MX_PLAYBACK hands the focus to the pause key, or without one to the stop key.
TEST_P(MixerPanels, PlayingThePreviewFocusesPauseElseStop) {
  d().sm().JumpToMenu(u"preview_menu");
  d().Settle();
  ASSERT_EQ(d().Menu(), u"preview_menu");
  ui::Element* play = Find(u"Preview");
  ui::Element* stop = Find(u"StopPreview");
  ASSERT_NE(play, nullptr);
  // A recording of one command far ahead keeps the replay waiting.
  auto command = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_ACK, 0));
  engine::EngineCommand* kept = command.get();
  d().sm().GetMixEngine()->PostAction(std::move(command));
  kept->timeMs = 60000;
  d().sm().SetFocus(play);
  d().Key(wnd::Key::kEnter);
  ASSERT_TRUE(d().sm().GetMixEngine()->IsReplaying());
  EXPECT_EQ(d().sm().focused(), stop);
  EXPECT_TRUE(stop->IsEnabled());
  auto pause = std::make_unique<ui::Control>();
  pause->LoadAttribute(u"action", u"MX_PLAYPAUSE");
  ui::Element* pause_item = d().sm().current_menu()->AddChild(std::move(pause));
  // Paused, then played again (the play key is greyed while it plays).
  d().sm().DoAction(ui::kActionPlayPause, ov::String(), 1);
  ASSERT_TRUE(d().sm().GetMixEngine()->IsPaused());
  d().sm().DoAction(ui::kActionPlayback, ov::String(), 1);
  EXPECT_FALSE(d().sm().GetMixEngine()->IsPaused());
  EXPECT_EQ(d().sm().focused(), pause_item);
}

INSTANTIATE_TEST_SUITE_P(BothOrientations, MixerPanels, ::testing::Values("240x320", "320x240"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

}  // namespace
