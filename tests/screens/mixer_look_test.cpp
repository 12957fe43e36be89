// What the mixer screen and its output settings show, headless on the
// default skin in both orientations: the volume sliders drawn as the
// volume, each channel's on or off state, the active output choice and
// whether it renders, and golden pictures of the screens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "engine/export_job.h"
#include "engine/mix_engine.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "platform/ui/text_entry.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/slider_control.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

// A photo (channel 1), a video (2) and a sound (3) whose caches are all
// present, so that entering the mixer decodes nothing; on the screen size of
// the parameter, with the clock held still.
class MixerLook : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ov::SetTickCountForTesting(500000);
    setenv("OVMIX_SCREEN", GetParam(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_SCREEN");
    ASSERT_TRUE(d().ok());
    d().sm().GetMixEngine()->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
    d().sm().StopTimers();
    ASSERT_TRUE(ovtest::AddCachedClips(dir_, {channel(0), channel(1), channel(2)}, {"beach.jpg", "holiday.mp4", "song.wav"}));
    ASSERT_TRUE(d().TapElement(u"main_0"));
    ASSERT_EQ(d().Menu(), u"mixing_menu");
    ASSERT_FALSE(mixer()->decoding());
  }
  void TearDown() override {
    driver_.reset();
    ov::SetTickCountForTesting(0);
  }

  ovtest::HeadlessDriver& d() { return *driver_; }
  std::string size() const { return GetParam(); }
  ui::Element* Find(const std::u16string& name) {
    return d().sm().FindElementByName(d().sm().menu_container(), ov::String(std::u16string_view(name)), true);
  }
  Mixer* mixer() { return dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true)); }
  ChannelSelection* channel(int i) {
    return dynamic_cast<ChannelSelection*>(Find(u"channel_sel" + std::u16string(1, char16_t(u'0' + i))));
  }
  void Paint() {
    d().Settle();
    const gfx::Size s = d().sm().ScreenSize();
    d().sm().Paint({0, 0, s.cx, s.cy + shell::ScreenManager::kBarHeight});
  }
  void ExpectGolden(const std::string& name) {
    Paint();
    const std::string file = name + "_" + size() + ".png";
    EXPECT_EQ(d().DifferFromGolden(file, dir_), 0) << file << " differs; see " << dir_;
  }

  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

// The level a slider draws, in percent: the filled track left of the knob
// over the track's length, read from the window surface. One pixel of a
// channel's short track is 4 %.
int DrawnLevel(ovtest::HeadlessDriver& d, ui::Element* e) {
  auto* slider = dynamic_cast<ui::SliderControl*>(e);
  if (!slider) return -1;
  const gfx::Bitmap& shown = *d.window().surface();
  const uint16_t fill = gfx::ColorRefTo565(gfx::Rgb(0x23, 0x6F, 0xE0));
  const int32_t track = slider->GetXSize() - 8;  // beside the 8-pixel knob
  int filled = 0;
  for (int32_t x = slider->x(); x < slider->x() + slider->GetXSize(); ++x) {
    filled += shown.row(slider->y() + 3)[x] == fill;
  }
  return filled * 100 / (track - 1);
}

// The volume sliders stand at the volume (full to the right), Left and
// Right step it, and a turn and a load keep it on the slider and in the
// channel; the master slider too.
TEST_P(MixerLook, VolumeSlidersDrawTheVolume) {
  auto expect_levels = [&](const char* when, const std::vector<int>& levels) {
    Paint();
    for (int i = 0; i < 6; ++i) {
      ui::Element* s = Find(u"MX_VOL_" + std::u16string(1, char16_t(u'0' + i)));
      EXPECT_EQ(mixer()->entry(i).volume, levels[size_t(i)]) << when << " channel " << i + 1;
      EXPECT_NEAR(DrawnLevel(d(), s), levels[size_t(i)], 4) << when << " channel " << i + 1;
    }
    EXPECT_NEAR(DrawnLevel(d(), Find(u"mas_vol")), mixer()->master_volume(), 2) << when;
  };
  expect_levels("at the start", {100, 100, 100, 100, 100, 100});
  d().Key(static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0) + 3));
  d().Key(wnd::Key::kLeft);
  d().Key(wnd::Key::kLeft);
  d().Key(wnd::Key::kLeft);
  d().Key(wnd::Key::kRight);
  expect_levels("after the arrows", {100, 100, 80, 100, 100, 100});
  mixer()->OnAction(ui::kActionMasterVolume, U("70"), 0);
  d().sm().FindElementByName(nullptr, u"mas_vol", false)->OnAction(78, U("70"), 0);
  ASSERT_TRUE(mixer()->SaveMix(U(dir_ + "/saved.mix")));
  d().Key(wnd::Key::kRotate);
  ASSERT_NE(mixer(), nullptr);
  expect_levels("after a turn", {100, 100, 80, 100, 100, 100});
  EXPECT_EQ(mixer()->master_volume(), 70);
  d().sm().DoAction(ui::kActionMixLoad, U(dir_ + "/saved.mix"), 1);
  expect_levels("after a load", {100, 100, 80, 100, 100, 100});
}

// The colour drawn at the middle of the named element.
uint16_t CentreColour(ovtest::HeadlessDriver& d, ui::Element* e) {
  return d.window().surface()->row(e->y() + e->GetYSize() / 2)[e->x() + e->GetXSize() / 2];
}

// Each channel's lamp shows whether it is switched on, and the mix's lamp
// whether it is muted; the lamps follow Enter on a panel and a tap on the
// lamp itself. Up and Down leave the panel and its volume alone.
TEST_P(MixerLook, LampsShowEachChannelsStateAndTheMute) {
  const uint16_t lit = gfx::ColorRefTo565(gfx::Rgb(0x3C, 0xC8, 0x50));
  const uint16_t dark = gfx::ColorRefTo565(gfx::Rgb(0xFF, 0xFF, 0xFF));
  const uint16_t red = gfx::ColorRefTo565(gfx::Rgb(0xE0, 0x3C, 0x3C));
  auto lamp = [&](int i) {
    Paint();
    const std::u16string n(1, char16_t(u'0' + i));
    ui::Element* on = Find(u"on" + n);
    ui::Element* off = Find(u"off" + n);
    EXPECT_NE(on->IsEnabled(), off->IsEnabled()) << "channel " << i + 1;
    return CentreColour(d(), on);
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lamp(i), dark) << "channel " << i + 1;
  d().Key(static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0) + 3));
  d().Key(wnd::Key::kEnter);
  EXPECT_EQ(mixer()->entry(2).active, 1);
  EXPECT_EQ(lamp(2), lit);
  EXPECT_EQ(lamp(1), dark);
  d().Key(wnd::Key::kDown);
  EXPECT_EQ(mixer()->entry(2).volume, 100);
  // A tap on the lit lamp switches the channel off; on the dark one, on.
  ASSERT_TRUE(d().TapElement(u"on2"));
  EXPECT_EQ(mixer()->entry(2).active, 0);
  EXPECT_EQ(lamp(2), dark);
  ASSERT_TRUE(d().TapElement(u"off0"));
  EXPECT_EQ(mixer()->entry(0).active, 1);
  EXPECT_EQ(lamp(0), lit);
  // The mix: lit, red once muted, lit again.
  Paint();
  EXPECT_EQ(CentreColour(d(), Find(u"sound_on")), lit);
  d().Key(static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0)));
  d().Key(wnd::Key::kEnter);
  ASSERT_TRUE(mixer()->muted());
  Paint();
  EXPECT_EQ(CentreColour(d(), Find(u"muted")), red);
  d().Key(wnd::Key::kEnter);
  Paint();
  EXPECT_EQ(CentreColour(d(), Find(u"sound_on")), lit);
}

// Output settings show the active choice of each group as a ring round its
// chip, and a choice that no job renders is said on the mixer screen when
// it is taken: WAV alone still names an ".mp4"; with Output "Sound" it
// renders.
TEST_P(MixerLook, OutputSettingsShowTheirChoiceAndWhatCannotRender) {
  const uint16_t ring = gfx::ColorRefTo565(gfx::Rgb(0x23, 0x6F, 0xE0));
  struct Row {
    const char16_t* key;
    int choices;
  };
  // The chip k of a row, and whether its ring is drawn.
  auto chip_centre = [&](const Row& r, int k) {
    ui::Element* sc = Find(std::u16string(u"choice_") + r.key);
    const int32_t step = sc->GetXSize() / r.choices;
    return std::make_pair(sc->x() + k * step + step / 2 - 2, sc->y() + sc->GetYSize() / 2);
  };
  auto ringed = [&](const Row& r) {
    Paint();
    ui::Element* sc = Find(std::u16string(u"choice_") + r.key);
    int which = -1, count = 0;
    for (int k = 0; k < r.choices; ++k) {
      if (d().window().surface()->row(sc->y() + 1)[chip_centre(r, k).first] == ring) {
        which = k;
        ++count;
      }
    }
    return count == 1 ? which : -1 - count;
  };
  auto tap = [&](const Row& r, int k) {
    const auto [x, y] = chip_centre(r, k);
    d().Tap(x, y);
  };
  const Row output{u"WizardMediaType", 3}, codecs{u"WizardMediaCodec", 5}, frames{u"WizardMediaFps", 3};
  // A take with the video on: a mix that holds a picture.
  d().Key(static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0) + 2));
  d().Key(wnd::Key::kEnter);
  ASSERT_TRUE(d().TapElement(u"StartMix"));
  ASSERT_TRUE(d().TapElement(u"StopMix"));
  ASSERT_TRUE(mixer()->SaveMix(U(dir_ + "/before.mix")));
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  EXPECT_EQ(ringed(output), 0);  // Both
  EXPECT_EQ(ringed(codecs), 0);  // Default
  EXPECT_EQ(ringed(frames), 0);  // 10
  const screens::OutputSettings before = mixer()->output_settings();
  tap(codecs, 3);
  tap(frames, 2);
  EXPECT_EQ(ringed(codecs), 3);
  EXPECT_EQ(ringed(frames), 2);
  EXPECT_EQ(ringed(output), 0);
  ov::String wav_codec;
  bool numeric = false;
  ASSERT_TRUE(d().sm().ReadOption(u"WizardMediaCodec", &wav_codec, &numeric));
  ASSERT_TRUE(d().TapElement(u"wizard_ok"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  // "WAV" alone with a picture in the mix names an MPEG-4 ".mp4" with PCM
  // sound, which no graph takes: the popup says so when it is taken, and
  // the choice is not kept.
  ui::Element* choice_text = Find(u"render_choice_text");
  EXPECT_TRUE(Find(u"RENDER_CHOICE")->IsVisible());
  EXPECT_EQ(choice_text->text().Left(33), u"MP4 with PCM sound cannot be rend");
  d().sm().ClosePopup(Find(u"RENDER_CHOICE"));
  EXPECT_EQ(mixer()->output_settings(), before);
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  EXPECT_EQ(ringed(codecs), 0);
  EXPECT_EQ(ringed(frames), 0);
  d().Back();
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  // A mix saved with such settings meets the popup on "Keep on device",
  // before any file is asked for or a render starts.
  screens::OutputSettings refused = before;
  refused[screens::kWizardMediaCodec] = int32_t(wav_codec.ToInt());
  const engine::ExportSettings both_wav =
      mixer()->mix_engine()->GetExportSettings(screens::ToOutputOptions(refused), 0, false);
  EXPECT_EQ(both_wav.videoCodec, engine::kVideoCodecMpeg4);
  EXPECT_EQ(both_wav.audioCodec, engine::kAudioCodecWma);
  EXPECT_TRUE(engine::ExportJobRenders(u"out.mp4"));
  EXPECT_FALSE(engine::ExportJobRenders(u"out.mp4", both_wav));
  EXPECT_FALSE(engine::ExportJobRenders(u"out.ogg"));
  // The take with its picture goes with it: without a picture "WAV" makes
  // a ".wav", which renders.
  std::vector<uint8_t> record, bytes;
  mixer()->mix_engine()->SaveActions(&record);
  std::vector<screens::ChannelSelection*> channels;
  for (int i = 0; i < 8; ++i) channels.push_back(mixer()->entry(i).channel);
  screens::WriteProject(refused, channels, record, &bytes);
  const std::string project = dir_ + "/refused.mix";
  ASSERT_TRUE(ov::WriteFileAtomically(U(project), bytes.data(), bytes.size()));
  d().sm().DoAction(ui::kActionMixLoad, U(project), 1);
  ASSERT_EQ(mixer()->output_settings(), refused);
  int asked = 0;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String*) {
    ++asked;
    return false;
  });
  // Pressed where the user presses it: the save screen shows the popup.
  ASSERT_TRUE(d().sm().JumpToMenu(u"save_menu"));
  d().Settle();
  ASSERT_TRUE(d().TapElement(u"save_device"));
  wnd::SetTextEntryHook({});
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(mixer()->render_active());
  auto here = [&](const char16_t* name) { return d().sm().FindElementByName(nullptr, name, true); };
  ui::Element* save_choice = here(u"RENDER_CHOICE");
  ASSERT_TRUE(save_choice);
  EXPECT_TRUE(save_choice->IsVisible());
  EXPECT_EQ(d().sm().FocusedElement(), save_choice);
  EXPECT_FALSE(here(u"RENDER_PROGRESS")->IsVisible());
  EXPECT_EQ(here(u"render_choice_text")->text().Left(33), u"MP4 with PCM sound cannot be rend");
  d().sm().ClosePopup(save_choice);
  d().Back();
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  d().sm().DoAction(ui::kActionMixLoad, U(dir_ + "/before.mix"), 1);
  // "WMV" names the ASF job's ".wmv", which renders.
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  tap(codecs, 4);
  EXPECT_EQ(ringed(codecs), 4);
  ASSERT_TRUE(d().TapElement(u"wizard_ok"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_EQ(mixer()->OutputExtension(true), ov::String(u".wmv"));
  EXPECT_FALSE(Find(u"RENDER_CHOICE")->IsVisible());
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  tap(codecs, 3);
  ASSERT_EQ(d().Menu(), u"output_settings");
  EXPECT_EQ(ringed(codecs), 3);  // kept
  tap(output, 1);
  EXPECT_EQ(ringed(output), 1);
  ASSERT_TRUE(d().TapElement(u"wizard_ok"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_FALSE(Find(u"RENDER_CHOICE")->IsVisible());
  EXPECT_EQ(mixer()->OutputExtension(true), ov::String(u".wav"));
}

// The mixer idle, live, after a take and with the sound effects open, and
// the output settings, compared pixel for pixel with their committed
// pictures (OVMIX_WRITE_GOLDEN=1 writes them; look at them before committing).
TEST_P(MixerLook, ScreensMatchTheirPictures) {
  ExpectGolden("mixer_idle");
  d().Key(static_cast<wnd::Key>(static_cast<int>(wnd::Key::kDigit0) + 3));
  d().Key(wnd::Key::kEnter);
  ASSERT_TRUE(d().TapElement(u"StartMix"));
  ASSERT_TRUE(mixer()->mixing());
  ExpectGolden("mixer_live");
  ASSERT_TRUE(d().TapElement(u"StopMix"));
  ASSERT_FALSE(mixer()->mixing());
  ExpectGolden("mixer_take");
  ASSERT_TRUE(d().TapElement(u"fx_aud_grey2"));
  ASSERT_TRUE(Find(u"audio_effects")->IsVisible());
  ExpectGolden("mixer_effects");
  d().Tap(2, 2);  // outside the group, which closes it
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  ExpectGolden("output_settings");
}

// While a render runs, its progress reaches the "Rendering" popup as the
// render's messages set the percentage: each refresh shows the popup whole
// over the buttons under it, as a full repaint would, with its percentage.
TEST_P(MixerLook, TheRenderPopupStaysOverTheButtonsAsItsPercentageMoves) {
  ASSERT_TRUE(d().sm().JumpToMenu(u"save_menu"));
  d().Settle();
  // The render is started from a button under the popup.
  ASSERT_TRUE(Find(u"save_mail"));
  d().sm().SetFocus(Find(u"save_mail"));
  d().sm().OpenPopup(Find(u"RENDER_PROGRESS"));
  d().Settle();
  ui::Element* percent = Find(u"render_percent");
  ASSERT_TRUE(percent);
  for (int p = 0; p <= 100; p += 3) {
    SCOPED_TRACE(p);
    d().sm().QueueAction(nullptr, ui::kActionSetAttribute, ov::String::Format(u"RenderPercentage=%d", p), 1);
    d().Settle();
    EXPECT_EQ(percent->text(), ov::String::Format(u"%d %%", p));
    const std::string shown = d().SurfaceHash();
    d().sm().InvalidateAll();
    d().Settle();
    ASSERT_EQ(d().SurfaceHash(), shown);
  }
  d().sm().ClosePopup(Find(u"RENDER_PROGRESS"));
}

INSTANTIATE_TEST_SUITE_P(BothOrientations, MixerLook, ::testing::Values("240x320", "320x240"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

}  // namespace
