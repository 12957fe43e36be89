// The mixer screen of the default skin, headless: reached from the main
// menu, a project named by OVMIX_LOAD shown on it, output settings taken into
// the saved file, and the controls kept in step with each channel's kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "platform/ui/dialogs.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "screens/project/channel_selection.h"
#include "screens/mixer/mixer.h"
#include "screens/mixer/preview_mixer.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "ui/drop_down_menu.h"
#include "ui/softkey_bar.h"
#include "tests/support/test_paths.h"
#include "ui/slider_control.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;

std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }
ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

Mixer* FindMixer(ovtest::HeadlessDriver& d) {
  return dynamic_cast<Mixer*>(d.sm().menu_container()->FindByType(ui::kTypeMixer, true));
}

ui::Element* Find(ovtest::HeadlessDriver& d, const char16_t* name) {
  return d.sm().FindElementByName(d.sm().menu_container(), name, true);
}

// Taps `button` into the mixer screen and lets the decoding to cache that
// entering starts run out. The clips here are stand-in files that do not
// decode, so the failure popup is acknowledged.
bool EnterMixer(ovtest::HeadlessDriver& d, const char16_t* button) {
  if (!d.TapElement(button)) return false;
  if (Mixer* m = FindMixer(d)) {
    m->JoinDecompression();
    d.Settle();
    m->OnAction(ui::kActionDecompressFailureOk, ov::String(), 0);
    d.Settle();
  }
  return true;
}

TEST(MixerScreen, OpensFromTheMainMenuWithItsChannelsAndEngine) {
  const std::string dir = ovtest::ScratchDir();
  ovtest::HeadlessDriver d(dir);
  ASSERT_TRUE(d.ok());
  Mixer* mixer = FindMixer(d);
  ASSERT_NE(mixer, nullptr);
  EXPECT_EQ(mixer->channel_count(), 8);
  ASSERT_NE(d.sm().GetMixEngine(), nullptr);
  EXPECT_EQ(mixer->mix_engine(), d.sm().GetMixEngine());
  ASSERT_TRUE(d.TapElement(u"main_0"));
  EXPECT_EQ(d.Menu(), u"mixing_menu");
  // An empty mix: nothing to save, the mix can start.
  EXPECT_FALSE(Find(d, u"save_button")->IsVisible());
  EXPECT_TRUE(Find(d, u"StartMix")->IsEnabled());
  EXPECT_FALSE(Find(d, u"StopMix")->IsEnabled());
  d.SavePng(dir + "/mixing_menu.png");  // for review

  // The element services over the current menu, soft-key items included.
  ui::Element* start = Find(d, u"StartMix");
  EXPECT_EQ(d.sm().FindElementByAction(nullptr, 96), start);  // MX_START
  d.sm().EnableActionItems(false, nullptr, 96, 1);
  EXPECT_FALSE(start->IsEnabled());
  d.sm().EnableActionItems(true, nullptr, 96, 1);
  EXPECT_TRUE(start->IsEnabled());
  ui::MenuBarItem* clear = nullptr;
  for (ui::MenuBarItem& item : d.sm().GetMenuBar()->right.popup) {
    if (item.text.View() == u"Clear mix") clear = &item;
  }
  ASSERT_NE(clear, nullptr);
  d.sm().CheckActionItems(true, nullptr, ui::kActionMixClear, 1);
  EXPECT_TRUE(clear->checked);
  d.sm().EnableActionItems(false, nullptr, ui::kActionMixClear, 1);
  EXPECT_FALSE(clear->enabled);
  d.sm().SetPendingDeleteFile(u"/tmp/rendered.3gp");
  EXPECT_EQ(Str(d.sm().GetPendingTempFile()), u"/tmp/rendered.3gp");
}

class LoadedProject : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ChannelSelection ch[8];
    for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
      ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::TouchFile(dir_, name)), ov::String(),
                    ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    }
    ch[1].AddClip(screens::kKindVideo, screens::kFileTypeMp4, U(ovtest::TouchFile(dir_, "holiday.mp4")),
                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0,
                  nullptr);
    ch[2].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::TouchFile(dir_, "song.wav")), ov::String(),
                  ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    path_ = dir_ + "/loaded.mix";
    ASSERT_TRUE(ovtest::WriteProjectFile(path_, ch));
    setenv("OVMIX_LOAD", path_.c_str(), 1);
    setenv("OVMIX_DOCUMENTS", dir_.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
  }
  void TearDown() override {
    driver_.reset();
    unsetenv("OVMIX_DOCUMENTS");
  }
  ovtest::HeadlessDriver& d() { return *driver_; }

  std::string dir_, path_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(LoadedProject, ShowsKindIconsAndClipNames) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  struct Case {
    const char16_t* icon;
    bool shown;
  } cases[] = {{u"pic0", true}, {u"vid0", false}, {u"aud0", false}, {u"vid1", true}, {u"pic1", false},
               {u"aud2", true}, {u"vid2", false}, {u"aud3", false}, {u"clear0", true}, {u"clear3", false}};
  for (const Case& c : cases) EXPECT_EQ(Find(d(), c.icon)->IsVisible(), c.shown) << ov::String(c.icon).ToUtf8Lossy();
  EXPECT_EQ(Str(Find(d(), u"name0")->text()), u"(1/3) one");
  EXPECT_EQ(Str(Find(d(), u"name1")->text()), u"holiday");
  EXPECT_EQ(Str(Find(d(), u"name2")->text()), u"song");
  EXPECT_EQ(Str(Find(d(), u"name3")->text()), u"");
  EXPECT_EQ(Str(Find(d(), u"count0")->text()), u"3");
  d().SavePng(dir_ + "/mixing_menu.png");  // for review
}

// A thumbnail dragged from the media browser and dropped on a channel cell
// is assigned to that channel.
TEST_F(LoadedProject, DropFromTheBrowserAssignsTheChannel) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  auto browser = std::make_unique<ovtest::FakeBrowser>();
  for (auto [name, value] : {std::pair{u"xP", u"150"}, {u"yP", u"270"}, {u"xS", u"80"}, {u"yS", u"30"}}) {
    browser->LoadAttribute(name, value);
  }
  auto* b = static_cast<ovtest::FakeBrowser*>(d().sm().current_menu()->AddChild(std::move(browser)));
  screens::MediaFileRecord record{U(dir_ + "/"), u"beach.jpg", 0, nullptr, {}, 0, screens::kKindImage,
                                  screens::kFileTypeJpeg};
  ovtest::TouchFile(dir_, "beach.jpg");
  b->Select(&record);
  ui::Element* cell = Find(d(), u"channel_sel4");
  const int32_t tx = cell->x() + cell->GetXSize() / 2, ty = cell->y() + cell->GetYSize() / 2;
  d().Drag({190, 285}, {{170, 260}, {tx, ty}});
  auto* ch = dynamic_cast<ChannelSelection*>(cell);
  ASSERT_EQ(ch->GetKind(), screens::kKindImage);
  EXPECT_EQ(Str(ch->GetClipFile(0)), Str(U(dir_ + "/beach.jpg")));
  EXPECT_TRUE(Find(d(), u"pic4")->IsVisible());
  EXPECT_TRUE(Find(d(), u"clear4")->IsVisible());
  // The drop elsewhere assigns nothing.
  d().Drag({190, 285}, {{100, 20}});
  EXPECT_EQ(dynamic_cast<ChannelSelection*>(Find(d(), u"channel_sel5"))->GetKind(), screens::kKindEmpty);
}

TEST_F(LoadedProject, ASliderDragReachesTheMixer) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  Mixer* m = FindMixer(d());
  ASSERT_NE(m, nullptr);
  // Entering the screen, every slider reported its level.
  EXPECT_EQ(m->entry(2).volume, 100);
  EXPECT_EQ(m->master_volume(), 100);
  ui::Element* vol = Find(d(), u"MX_VOL_2");
  ASSERT_NE(vol, nullptr);
  ASSERT_TRUE(vol->IsEnabled());  // channel 2 holds a sound
  // The knob of a full volume stands at the right end; dragged left, the
  // volume falls.
  const int32_t y = vol->y() + vol->GetYSize() / 2, x = vol->x() + vol->GetXSize() - 4;
  d().Drag({x, y}, {{x - 6, y}, {x - 13, y}});
  const int32_t level = dynamic_cast<ui::SliderControl*>(vol)->value();
  EXPECT_GT(level, 0);
  EXPECT_EQ(m->entry(2).volume, 100 - level);
}

TEST_F(LoadedProject, ThePreviewScreenReplaysWithItsControls) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  d().sm().JumpToMenu(u"preview_menu");
  d().Settle();
  ASSERT_EQ(d().Menu(), u"preview_menu");
  ui::Element* preview = d().sm().menu_container()->FindByType(ui::kTypePreviewMixer, true);
  ASSERT_NE(preview, nullptr);
  if (auto* m = dynamic_cast<Mixer*>(preview)) {
    m->JoinDecompression();
  }
  d().Settle();
  preview->OnAction(ui::kActionDecompressFailureOk, ov::String(), 0);
  gfx::Rect area;
  preview->OnTick(&area, 1);
  EXPECT_TRUE(Find(d(), u"Preview")->IsEnabled());
  EXPECT_FALSE(Find(d(), u"StopPreview")->IsEnabled());
}

// The take's timer ("mix_timer") shows only while a take runs under a
// length limit; a take without one has no time left to count down.
TEST(MixerScreen, TheTimerShowsOnlyDuringATakeWithALimit) {
  const std::string dir = ovtest::ScratchDir();
  ovtest::ScopedEnv env;
  env.Set("OVMIX_DOCUMENTS", dir);
  ovtest::HeadlessDriver d(dir + "/data");
  ASSERT_TRUE(d.ok());
  ASSERT_TRUE(EnterMixer(d, u"main_0"));
  Mixer* mixer = FindMixer(d);
  ui::Element* timer = Find(d, u"mix_timer");
  ASSERT_TRUE(mixer && timer);
  EXPECT_FALSE(timer->IsVisible());
  d.AnswerBoxes(wnd::kAnswerYes);  // a second take may replace the first
  for (const int length : {0, 30, 0}) {
    d.sm().StoreOption(u"WizardMediaLength", ov::String::Format(u"%d", length));
    mixer->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
    d.sm().DoAction(ui::kActionMixStart, ov::String(), 1);
    d.Settle();
    ASSERT_TRUE(mixer->mixing()) << length;
    EXPECT_EQ(timer->IsVisible(), length != 0) << length;
    d.sm().DoAction(ui::kActionMixStop, ov::String(), 1);
    d.Settle();
    ASSERT_FALSE(mixer->mixing()) << length;
    EXPECT_FALSE(timer->IsVisible()) << length;
  }
}

// Output settings chosen on their screen and accepted with MX_ACCEPTWIZARD
// reach the file that MX_SAVE writes.
TEST_F(LoadedProject, AcceptedOutputSettingsReachTheSavedFile) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  d().sm().DoAction(ui::kActionMixerWizard, ov::String(), 1);
  ASSERT_EQ(d().Menu(), u"output_settings");
  d().Settle();
  d().SavePng(dir_ + "/output_settings.png");  // for review
  d().sm().DoAction(ui::kActionSetAttribute, u"WizardMediaLength=30", 1);
  d().sm().DoAction(ui::kActionSetAttribute, u"WizardMediaType=2", 1);
  d().sm().DoAction(ui::kActionMixerAcceptWizard, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  d().sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  const std::vector<uint8_t> saved = ovtest::ReadFileBytes(dir_ + "/Zentyr/Default.mix");
  ASSERT_GE(saved.size(), 40u);
  EXPECT_EQ(saved[8], 2);    // WizardMediaType
  EXPECT_EQ(saved[16], 30);  // WizardMediaLength
  EXPECT_EQ(FindMixer(d())->end_time(), 0u);  // computed when the mix starts
  // A second save asks before replacing the file; the driver answers no.
  d().sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  ASSERT_EQ(d().boxes().size(), 1u);
  EXPECT_EQ(d().boxes()[0].buttons, uint32_t(wnd::kBoxYesNo));
}

// The enable table of the mixer's controls, per kind of channel.
TEST(MixerControls, FollowTheChannelKind) {
  ovtest::ScreensHost host(ovtest::ScratchDir());
  ovtest::MixerScreen screen(&host);
  const std::string dir = ovtest::ScratchDir();
  auto bound = [&](const char* keyword, int i) {
    auto c = std::make_unique<ui::Control>();
    c->LoadAttribute(u"action", ov::String::Format(u"%s%d", keyword, i));
    return screen.menu.AddChild(std::move(c));
  };
  struct Row {
    int32_t kind;
    const char* file;
    bool vid_effect, vid_grey, aud_effect, aud_grey, tempo, volume, channel_on;
  } rows[] = {
      // kind,    file,     282   294    288    300    175    152    119
      {screens::kKindAudio, "a.wav", false, false, false, true, false, true, true},
      {screens::kKindImage, "a.jpg", false, true, false, false, false, false, true},
      {screens::kKindVideo, "a.mp4", false, true, false, false, false, true, true},
      {screens::kKindEmpty, nullptr, false, false, false, false, false, false, false},
  };
  for (int i = 0; i < 4; ++i) {
    const Row& r = rows[i];
    if (r.file) {
      int32_t kind = 0;
      const ov::String path = U(ovtest::TouchFile(dir, std::to_string(i) + r.file));
      screen.channel[i]->AddClip(r.kind, screens::FileTypeOfPath(path, &kind), path, ov::String(), ov::String(),
                                 screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    }
    ui::Element* items[] = {bound("MX_SHOW_VID_EFFECT_", i), bound("MX_SHOW_VID_EFFECT_GREY_", i),
                            bound("MX_SHOW_AUD_EFFECT_", i), bound("MX_SHOW_AUD_EFFECT_GREY_", i),
                            bound("MX_TEMPOLEVEL_", i),      bound("MX_VOL_", i),
                            bound("MX_CHANNEL_ON_", i)};
    screen.mixer->UpdateControls();
    const bool expected[] = {r.vid_effect, r.vid_grey, r.aud_effect, r.aud_grey, r.tempo, r.volume, r.channel_on};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(items[k]->IsEnabled(), expected[k]) << "kind " << r.kind << " item " << k;
    // With the channel's effect set, the effect items change over.
    screen.channel[i]->SetAudioEffectFromAction(221);
    screen.mixer->UpdateControls();
    if (r.kind == screens::kKindAudio) {
      EXPECT_TRUE(items[2]->IsEnabled());
      EXPECT_FALSE(items[3]->IsEnabled());
    }
    if (r.kind == screens::kKindImage || r.kind == screens::kKindVideo) {
      EXPECT_TRUE(items[0]->IsEnabled());
      EXPECT_FALSE(items[1]->IsEnabled());
    }
  }
}

}  // namespace

namespace {

constexpr uint32_t kLiveRate = 22050;
constexpr uint16_t kFrameColour = 0x07E0;  // green, RGB565

// Green 8 x 8 frames every 100 ms.
struct GreenFrames : media::DecoderSource {
  uint32_t next = 0;
  bool Seek(uint32_t t) override {
    next = t / 100;
    return true;
  }
  bool Rewind() override { return Seek(0); }
  bool GetFormat(media::MediaFormat* f) override {
    *f = media::MediaFormat{};
    f->width = f->height = 8;
    f->frameDurationMs = 100;
    return true;
  }
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* b, uint32_t* bytes, uint32_t* t, uint32_t) override {
    b->reset(new uint8_t[128]);
    for (int i = 0; i < 64; ++i) {
      b->get()[2 * i] = uint8_t(kFrameColour & 0xFF);
      b->get()[2 * i + 1] = uint8_t(kFrameColour >> 8);
    }
    *bytes = 128;
    *t = next++ * 100;
    return true;
  }
  bool Open(const ov::String&, uint32_t) override { return true; }
};

// While the mix is live, the mixer's tick puts the engine's frame into its
// area of the window, and a full repaint of the screen leaves that area as
// the tick drew it. Past the mix's end time the tick stops the mix.
TEST(MixerScreen, LiveFrameSurvivesARepaintAndTheMixStopsAtItsEnd) {
  ovtest::HeadlessDriver d(ovtest::ScratchDir());
  ASSERT_TRUE(d.ok());
  Mixer* mixer = FindMixer(d);
  ASSERT_NE(mixer, nullptr);
  // The shared set on a virtual clock and device.
  auto timing = std::make_unique<engine::VirtualTiming>();
  engine::VirtualTiming* clock = timing.get();
  auto video = std::make_unique<engine::VideoMixer>(mixer->GetXSize(), mixer->GetYSize(), 10, 0);
  video->SetSourceOpener(
      [](const ov::String&, uint32_t) -> std::unique_ptr<media::DecoderSource> { return std::make_unique<GreenFrames>(); });
  auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, kLiveRate, 2),
                                                 std::move(video), std::move(timing));
  mix->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
  engine::MixEngine* e = mix.get();
  clock->SetClock([e] { return e->GetPlayPosition(); });
  d.sm().SetMixEngine(mix);
  ASSERT_TRUE(d.TapElement(u"main_0"));
  ASSERT_EQ(mixer->mix_engine(), e);

  engine::EngineCommand load = engine::MakeCommand(engine::CMD_LOAD, 16, -1, 0, 0, int32_t(engine::kWholePicture));
  load.path = u"green";
  e->PostAction(load);
  e->PostAction(engine::MakeCommand(engine::CMD_PLAY, 16));
  e->Play();
  mixer->set_mixing(true);
  mixer->UpdateControls();
  EXPECT_FALSE(d.sm().live_video_area().IsEmpty());
  // Play the device until the present thread has composed a frame.
  for (int spins = 0; spins < 100000 && !e->FrameChanged(); ++spins) {
    e->WithDevice([](ov::WaveOutDevice& dev) { static_cast<ov::VirtualWaveOutDevice&>(dev).Advance(kLiveRate / 100); });
    clock->Poke();
    std::this_thread::yield();
  }
  ASSERT_TRUE(e->FrameChanged());
  d.sm().OnTimer(shell::kTimerTick);
  const gfx::Bitmap& surface = *d.window().surface();
  const int32_t cx = mixer->x() + mixer->GetXSize() / 2, cy = mixer->y() + mixer->GetYSize() / 2;
  EXPECT_EQ(surface.row(cy)[cx], kFrameColour);
  d.sm().InvalidateAll();
  d.Settle();
  EXPECT_EQ(surface.row(cy)[cx], kFrameColour);
  EXPECT_EQ(surface.row(mixer->y() + mixer->GetYSize() / 4)[cx], kFrameColour);

  // A one-second mix: past its end no time is left and the mix stops.
  d.sm().StoreOption(u"WizardMediaLength", u"1");
  mixer->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  mixer->UpdateEndTime();
  ASSERT_EQ(mixer->end_time(), 1000u);
  for (int spins = 0; spins < 100000 && e->GetPlayPosition() < 1100; ++spins) {
    e->WithDevice([](ov::WaveOutDevice& dev) { static_cast<ov::VirtualWaveOutDevice&>(dev).Advance(kLiveRate / 100); });
    clock->Poke();
    std::this_thread::yield();
  }
  ASSERT_GE(e->GetPlayPosition(), 1100u);
  // The tick as the shell's timer gives it: what it marks is repainted.
  gfx::Rect area;
  mixer->OnTick(&area, ov::GetTickCount() + 1000);
  if (!area.IsEmpty()) d.sm().InvalidateArea(area);
  d.Settle();
  EXPECT_FALSE(mixer->mixing());
  EXPECT_FALSE(e->IsPlaying());
  // The screen shows the stopped mix at once ("Start" lit, "Stop" grey, no
  // frozen frame): a full repaint changes nothing.
  EXPECT_TRUE(d.sm().FindElementByAction(nullptr, ui::kActionMixStart)->IsEnabled());
  EXPECT_FALSE(d.sm().FindElementByAction(nullptr, ui::kActionMixStop)->IsEnabled());
  const std::string shown = d.SurfaceHash();
  d.sm().InvalidateAll();
  d.Settle();
  EXPECT_EQ(d.SurfaceHash(), shown);
  const auto actions = e->Actions();
  EXPECT_TRUE(std::any_of(actions.begin(), actions.end(),
                          [](const engine::EngineCommand& c) { return c.type == engine::CMD_ACK; }));
}

}  // namespace

namespace {

// One 10 ms step of the screens' engine on the virtual device. The device
// plays first and the engine's feed thread queues its next block; only then
// does the clock move for the replay and present threads. When `due` (the
// recorded times) says commands fall due by the new time, the step waits
// until the replay has applied them, however slow the machine. So a command
// applied at a clock time lands in the same 100 ms block live and replayed.
void Step(ovtest::HeadlessDriver& d, const std::vector<uint32_t>* due = nullptr) {
  engine::MixEngine* e = d.sm().GetMixEngine();
  const uint32_t before = e->GetPlayPosition();
  size_t queued = 0;
  e->WithDevice([&](ov::WaveOutDevice& dev) {
    auto& device = static_cast<ov::VirtualWaveOutDevice&>(dev);
    device.Advance(kLiveRate / 100);
    queued = device.BlocksQueued();
  });
  for (int spins = 0; spins < 500 && queued < 2; ++spins) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    const bool open = e->WithDevice(
        [&](ov::WaveOutDevice& dev) { queued = static_cast<ov::VirtualWaveOutDevice&>(dev).BlocksQueued(); });
    if (!open) break;
  }
  if (auto* clock = dynamic_cast<engine::VirtualTiming*>(&e->timing())) clock->Poke();
  const uint32_t after = e->GetPlayPosition();
  const bool falls_due =
      due && std::any_of(due->begin(), due->end(), [&](uint32_t t) { return t > before && t <= after; });
  if (falls_due) {
    const auto applied = uint32_t(std::count_if(due->begin(), due->end(), [&](uint32_t t) { return t <= after; }));
    for (int spins = 0; spins < 100000 && e->IsReplaying() && e->ReplayedCommands() < applied; ++spins) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Plays the screens' engine until its clock reaches `until_ms`, a step at a
// time; false when it stalls.
bool PlayUntil(ovtest::HeadlessDriver& d, uint32_t until_ms) {
  engine::MixEngine* e = d.sm().GetMixEngine();
  for (int spins = 0; spins < 20000 && e->GetPlayPosition() < until_ms; ++spins) Step(d);
  return e->GetPlayPosition() >= until_ms;
}

std::vector<int16_t> PlayedSamples(ovtest::HeadlessDriver& d) {
  std::vector<uint8_t> bytes;
  d.sm().GetMixEngine()->WithDevice(
      [&](ov::WaveOutDevice& dev) { bytes = static_cast<ov::VirtualWaveOutDevice&>(dev).Played(); });
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// First and last stereo frame that is not silent; {-1, -1} for none.
std::pair<long, long> SoundSpan(const std::vector<int16_t>& s) {
  long first = -1, last = -1;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == 0) continue;
    if (first < 0) first = long(i / 2);
    last = long(i / 2);
  }
  return {first, last};
}

// A mix played live through the screen, saved, cleared and loaded again,
// then replayed: the clip starts and stops within one 100 ms block of its
// live times, with the same sound between.
TEST_F(LoadedProject, ALiveMixReplaysAfterSaveClearAndLoad) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(d().UseVirtualWaveOut());
  ASSERT_TRUE(EnterMixer(d(), u"main_0"));
  Mixer* m = FindMixer(d());
  ASSERT_NE(m, nullptr);
  // Channel 2: a real sound, uncut (played from its file).
  ChannelSelection* ch = m->entry(2).channel;
  ch->Clear();
  ch->AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::FixturePath("engine_22k_stereo.wav")),
              ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0,
              nullptr);
  engine::MixEngine* e = d().sm().GetMixEngine();
  ASSERT_EQ(m->mix_engine(), e);
  m->OnAction(ui::kActionMixStart, ov::String(), 0);
  ASSERT_TRUE(m->mixing());
  ASSERT_TRUE(PlayUntil(d(), 300));
  m->OnAction(ui::kActionChannelOn0 + 2, ov::String(), 0);
  ASSERT_TRUE(PlayUntil(d(), 1100));
  m->OnAction(ui::kActionMuteOn, ov::String(), 0);
  m->OnAction(ui::kActionMuteOff, ov::String(), 0);
  m->OnAction(ui::kActionVolume0 + 2, u"80", 0);
  ASSERT_TRUE(PlayUntil(d(), 1600));
  m->OnAction(ui::kActionChannelOff0 + 2, ov::String(), 0);
  ASSERT_TRUE(PlayUntil(d(), 2000));
  const std::vector<int16_t> live = PlayedSamples(d());
  m->OnAction(ui::kActionMixStop, ov::String(), 0);
  ASSERT_FALSE(m->mixing());
  const std::string project = dir_ + "/live.mix";
  m->OnAction(ui::kActionProjectSave, U(project), 0);
  m->OnAction(ui::kActionMixClear, ov::String(), 0);
  EXPECT_FALSE(e->HasActions());
  m->OnAction(ui::kActionProjectLoad, U(project), 0);
  ASSERT_TRUE(e->HasActions());
  e->StartReplay();
  // Short of the stop command at the end, which ends the replay.
  ASSERT_TRUE(PlayUntil(d(), 1900));
  const std::vector<int16_t> replay = PlayedSamples(d());
  e->StopReplay();
  const auto [live_start, live_end] = SoundSpan(live);
  const auto [replay_start, replay_end] = SoundSpan(replay);
  ASSERT_GE(live_start, 0);
  ASSERT_GE(replay_start, 0);
  const long block = kLiveRate / 10;
  EXPECT_NEAR(double(replay_start), double(live_start), double(block));
  EXPECT_NEAR(double(replay_end), double(live_end), double(block));
  // The same sound between, once aligned at the start.
  const long span = std::min(live_end - live_start, replay_end - replay_start);
  long differing = 0;
  for (long i = 0; i < span * 2; ++i) {
    differing += live[size_t(live_start * 2 + i)] != replay[size_t(replay_start * 2 + i)];
  }
  EXPECT_EQ(differing, 0);
}

// The picture an element shows in the window: its area, row by row.
std::vector<uint16_t> AreaPixels(ovtest::HeadlessDriver& d, const ui::Element* e) {
  const gfx::Bitmap& surface = *d.window().surface();
  std::vector<uint16_t> px;
  for (int32_t y = e->y(); y < e->y() + e->GetYSize(); ++y) {
    const uint16_t* row = surface.row(y);
    px.insert(px.end(), row + e->x(), row + e->x() + e->GetXSize());
  }
  return px;
}

bool IsBlack(const std::vector<uint16_t>& px) {
  return std::all_of(px.begin(), px.end(), [](uint16_t p) { return p == 0; });
}

int32_t Peak(const std::vector<int16_t>& s, uint32_t from_ms, uint32_t to_ms) {
  int32_t peak = 0;
  const size_t to = std::min(s.size(), size_t(to_ms) * kLiveRate / 1000 * 2);
  for (size_t i = size_t(from_ms) * kLiveRate / 1000 * 2; i < to; ++i) peak = std::max(peak, std::abs(int32_t(s[i])));
  return peak;
}

// What a run played and showed: the PCM and, once a step, the clock and the
// picture of the element that shows the mix.
struct Take {
  std::vector<int16_t> pcm;
  std::vector<std::pair<uint32_t, std::vector<uint16_t>>> shots;
  // Clock of the first and last shot showing a picture; {0, 0} for none.
  std::pair<uint32_t, uint32_t> PictureSpan() const {
    std::pair<uint32_t, uint32_t> span{0, 0};
    bool seen = false;
    for (const auto& [ms, px] : shots) {
      if (IsBlack(px)) continue;
      if (!seen) span.first = ms;
      seen = true;
      span.second = ms;
    }
    return span;
  }
  // The first shot at `ms` or later (none: an empty picture).
  const std::vector<uint16_t>& ShotAt(uint32_t ms) const {
    static const std::vector<uint16_t> none;
    for (const auto& [t, px] : shots) {
      if (t >= ms) return px;
    }
    return none;
  }
};

// Both screens that decode a mix on entering show the decoding behind its
// popup and a clip that cannot be read in the failure popup, which OK closes.
TEST(DecodingOnEntering, ShowsItsProgressAndItsFailureOnTheMixerAndThePreview) {
  const std::string dir = ovtest::ScratchDir();
  const char* old_tmp = std::getenv("TMPDIR");
  const std::string kept_tmp = old_tmp ? old_tmp : "";
  setenv("TMPDIR", dir.c_str(), 1);  // the caches, apart from other tests'
  const std::string bad = dir + "/bad.jpg";
  std::ofstream(bad) << "no picture";
  ChannelSelection ch[8];
  ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(bad), ov::String(), ov::String(),
                screens::kWholePicture, screens::kWholePicture, 500, 1000, 0, 0, 0, screens::kWholePicture, 0,
                nullptr);
  ch[6].AddEmptyTextClip();
  ch[7].AddEmptyTextClip();
  const std::string path = dir + "/bad.mix";
  ASSERT_TRUE(ovtest::WriteProjectFile(path, ch));
  setenv("OVMIX_LOAD", path.c_str(), 1);
  {
    ovtest::HeadlessDriver d(dir + "/data");
    unsetenv("OVMIX_LOAD");
    ASSERT_TRUE(d.ok());
    for (auto [menu, type] : {std::pair{u"mixing_menu", ui::kTypeMixer}, {u"preview_menu", ui::kTypePreviewMixer}}) {
      SCOPED_TRACE(ov::String(menu).ToUtf8Lossy());
      ASSERT_TRUE(d.sm().JumpToMenu(menu));
      // This screen's own popups (each screen has its copy).
      ui::Element* progress = d.sm().FindElementByName(nullptr, u"DECOMPRESSION_PROGRESS", true);
      ui::Element* failure = d.sm().FindElementByName(nullptr, u"DECOMPRESSION_FAILURE", true);
      ASSERT_NE(progress, nullptr);
      ASSERT_NE(failure, nullptr);
      EXPECT_TRUE(progress->IsVisible());
      auto* m = dynamic_cast<Mixer*>(d.sm().menu_container()->FindByType(type, true));
      ASSERT_NE(m, nullptr);
      ASSERT_TRUE(d.SettleUntil([&] { return !m->decoding() && failure->IsVisible(); }));
      EXPECT_FALSE(progress->IsVisible());
      // Its text names the clip under the skin's line.
      std::u16string text;
      for (const auto& child : dynamic_cast<ui::DropDownMenu*>(failure)->items()) {
        if (child->GetType() == ui::kTypeTextBox) text = std::u16string(child->text().View());
      }
      EXPECT_EQ(text, u"A clip of this mix cannot be read.\nbad.jpg");
      d.sm().DoAction(ui::kActionDecompressFailureOk, ov::String(), 1);
      d.Settle();
      EXPECT_FALSE(failure->IsVisible());
      ASSERT_TRUE(d.sm().JumpToMenu(u"main_menu"));
    }
  }
  if (kept_tmp.empty()) unsetenv("TMPDIR");
  else setenv("TMPDIR", kept_tmp.c_str(), 1);
}

// A project of two photos and a sound cut at its start (so that entering
// the screen decodes them all into the cache), played live on the mixer
// screen with every kind of gesture, saved, cleared, loaded and replayed on
// the preview screen. Everything goes through the screen manager and the
// skin's own controls, on the virtual wave-out device.
class LiveMixEndToEnd : public ::testing::Test {
 protected:
  static constexpr int32_t kPhotoMs = 1000;  // each photo's display time
  static constexpr uint32_t kPhotosOnMs = 500, kPhotosOffMs = 2300, kEndMs = 2800;
  static constexpr uint32_t kEchoOnMs = 900, kMuteOnMs = 1700, kMuteOffMs = 1900;

  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    const char* old_tmp = std::getenv("TMPDIR");
    old_tmp_ = old_tmp ? old_tmp : "";
    setenv("TMPDIR", dir_.c_str(), 1);  // the caches, apart from other tests'
    ChannelSelection ch[8];
    for (const char* photo : {"gfx_photo.jpg", "gfx_gray.jpg"}) {
      ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::FixturePath(photo)), ov::String(),
                    ov::String(), screens::kWholePicture, screens::kWholePicture, 500, kPhotoMs, 0, 0, 0,
                    screens::kWholePicture, 0, nullptr);
    }
    ch[0].channel_effect() = engine::MakeCommand(engine::CMD_FADE, 16, 500, 4);
    ch[2].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::FixturePath("engine_22k_sweep.wav")),
                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 300, 0,
                  screens::kWholePicture, 0, nullptr);
    ch[2].SetAudioEffectFromAction(ui::kActionEchoShort);  // short echo
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    const std::string path = dir_ + "/start.mix";
    ASSERT_TRUE(ovtest::WriteProjectFile(path, ch));
    setenv("OVMIX_LOAD", path.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
  }
  void TearDown() override {
    driver_.reset();
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  void Act(int32_t code, const ov::String& argument = ov::String()) { d().sm().DoAction(code, argument, 1); }
  std::string Cache(const char* name) const { return dir_ + "/Quelvarin/" + name; }

  // Waits for the decoding that entering a screen started; true when it
  // ended with every cache written (339: no failure popup, nothing pending).
  bool FinishDecoding(Mixer* m) {
    m->JoinDecompression();
    d().Settle();
    ui::Element* failure = Find(d(), u"DECOMPRESSION_FAILURE");
    ui::Element* progress = Find(d(), u"DECOMPRESSION_PROGRESS");
    return !m->decoding() && !(failure && failure->IsVisible()) && !(progress && progress->IsVisible()) &&
           m->CountPendingCacheItems() == 0;
  }

  // Steps until the clock reaches `until_ms`, keeping after each step what
  // `area` shows once the UI thread has handled its queue and ticked; false
  // when the clock stalls.
  bool ShootUntil(uint32_t until_ms, const ui::Element* area, Take* take, const std::vector<uint32_t>* due = nullptr) {
    engine::MixEngine* e = d().sm().GetMixEngine();
    for (int spins = 0; spins < 2000 && e->GetPlayPosition() < until_ms; ++spins) {
      Step(d(), due);
      d().Settle();
      d().sm().OnTimer(shell::kTimerTick);
      take->shots.emplace_back(e->GetPlayPosition(), AreaPixels(d(), area));
    }
    return e->GetPlayPosition() >= until_ms;
  }

  // The gestures of the mix, each at its clock time; the echo and the fade
  // only with `effects` (the dry run leaves them out).
  Take PlayLive(Mixer* m, bool effects) {
    struct Gesture {
      uint32_t at;
      int32_t code;
      const char16_t* argument;
      bool effect;
    };
    const Gesture script[] = {
        {200, ui::kActionChannelOn0 + 2, u"", false},
        {kPhotosOnMs, ui::kActionEffectOn0 + 0, u"", true},  // the photos fade in
        {kPhotosOnMs, ui::kActionChannelOn0 + 0, u"", false},
        {700, ui::kActionVolume0 + 2, u"50", false},
        {kEchoOnMs, ui::kActionEffectOn0 + 2, u"", true},
        {kMuteOnMs, ui::kActionMuteOn, u"", false},
        {kMuteOffMs, ui::kActionMuteOff, u"", false},
        {2200, ui::kActionEffectOff0 + 2, u"", true},
        {kPhotosOffMs, ui::kActionChannelOff0 + 0, u"", false},
        {2500, ui::kActionChannelOff0 + 2, u"", false},
    };
    Take take;
    Act(ui::kActionVolume0 + 2, u"100");  // as the slider stood before the last run
    Act(ui::kActionMixStart);
    EXPECT_TRUE(m->mixing());
    for (const Gesture& g : script) {
      if (!ShootUntil(g.at, m, &take)) {
        ADD_FAILURE() << "the clock stalled at " << d().sm().GetMixEngine()->GetPlayPosition() << " ms";
        return take;
      }
      if (g.effect && !effects) continue;
      Act(g.code, ov::String(g.argument));
    }
    EXPECT_TRUE(ShootUntil(kEndMs, m, &take));
    take.pcm = PlayedSamples(d());
    Act(ui::kActionMixStop);
    EXPECT_FALSE(m->mixing());
    return take;
  }

  std::string dir_, old_tmp_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(LiveMixEndToEnd, APlayedMixReplaysInThePreviewAfterSaveClearAndLoad) {
  ASSERT_TRUE(d().ok());
  ASSERT_TRUE(d().UseVirtualWaveOut());
  // Entering the mixer screen decodes the loaded project's clips.
  ASSERT_TRUE(d().TapElement(u"main_0"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  Mixer* m = FindMixer(d());
  ASSERT_NE(m, nullptr);
  ASSERT_TRUE(FinishDecoding(m));
  for (const char* name : {"image0-0-0.raw", "image0-1-0.raw", "audio2.qvs"}) {
    ASSERT_TRUE(ov::FileExists(U(Cache(name)))) << name;
  }
  EXPECT_EQ(m->entry(2).volume, 100);  // the sliders reported on entering
  engine::MixEngine* e = d().sm().GetMixEngine();
  ASSERT_EQ(m->mix_engine(), e);
  ASSERT_EQ(e->videoMixer()->width(), m->GetXSize());  // the live picture unscaled
  ASSERT_EQ(e->videoMixer()->height(), m->GetYSize());

  const Take dry = PlayLive(m, false);
  d().AnswerBoxes(wnd::kAnswerYes);  // the second Start lets the dry take go
  const Take live = PlayLive(m, true);

  const ov::String project = U(dir_ + "/live.mix");
  Act(ui::kActionProjectSave, project);
  Act(ui::kActionMixClear);
  EXPECT_FALSE(e->HasActions());
  EXPECT_FALSE(ov::FileExists(U(Cache("audio2.qvs"))));  // the clear dropped the caches
  Act(ui::kActionProjectLoad, project);
  ASSERT_TRUE(e->HasActions());
  std::vector<uint32_t> due;
  for (const engine::EngineCommand& c : e->Actions()) due.push_back(c.timeMs);

  // The preview screen decodes the caches again, then replays.
  ASSERT_TRUE(d().sm().JumpToMenu(u"preview_menu"));
  d().Settle();
  ASSERT_EQ(d().Menu(), u"preview_menu");
  auto* preview = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypePreviewMixer, true));
  ASSERT_NE(preview, nullptr);
  ASSERT_TRUE(FinishDecoding(preview));
  ASSERT_TRUE(ov::FileExists(U(Cache("audio2.qvs"))));
  ASSERT_TRUE(d().TapElement(u"Preview"));
  ASSERT_TRUE(e->IsReplaying());
  EXPECT_EQ(d().sm().FocusedElement(), Find(d(), u"StopPreview"));  // the skin has no pause control
  Take replay;
  // Short of the stop command that ends the recording (and the replay).
  ASSERT_TRUE(ShootUntil(kEndMs - 50, preview, &replay, &due));
  replay.pcm = PlayedSamples(d());
  // The screen shows the replay's position and share of the mix (its tick
  // looks every 250 ms).
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  d().sm().OnTimer(shell::kTimerTick);
  d().Settle();
  EXPECT_EQ(Str(Find(d(), u"preview_pos")->text()), u"00:02");
  EXPECT_EQ(Str(Find(d(), u"preview_len")->text()), u"of 00:02");
  const uint32_t share = screens::PreviewMixer::Percentage(e->GetPlayPosition(), e->GetMixDuration());
  EXPECT_GE(share, 97u);
  EXPECT_EQ(Str(Find(d(), u"preview_percent")->text()), Str(ov::String::Format(u"played: %u %%", share)));
  ASSERT_TRUE(d().TapElement(u"StopPreview"));
  EXPECT_FALSE(e->IsReplaying());

  // Sound: the clip starts and stops within one block of its live times,
  // with the same samples, both channels, between.
  const long block = kLiveRate / 10;
  const auto [live_start, live_end] = SoundSpan(live.pcm);
  const auto [replay_start, replay_end] = SoundSpan(replay.pcm);
  ASSERT_GE(live_start, 0);
  ASSERT_GE(replay_start, 0);
  EXPECT_NEAR(double(replay_start), double(live_start), double(block));
  EXPECT_NEAR(double(replay_end), double(live_end), double(block));
  const long span = std::min(live_end - live_start, replay_end - replay_start);
  long differing = 0;
  for (long i = 0; i < span * 2; ++i) {
    differing += live.pcm[size_t(live_start * 2 + i)] != replay.pcm[size_t(replay_start * 2 + i)];
  }
  EXPECT_EQ(differing, 0);
  // The volume lowered the sound; the mute silenced it for a while.
  EXPECT_GT(Peak(live.pcm, 400, 700), Peak(live.pcm, 1000, 1300) * 3 / 2);
  for (const Take* t : {&live, static_cast<const Take*>(&replay)}) {
    EXPECT_EQ(Peak(t->pcm, kMuteOnMs + 200, kMuteOffMs + 100), 0);
    EXPECT_GT(Peak(t->pcm, kMuteOffMs + 250, kMuteOffMs + 350), 0);
  }
  // The echo is heard: the same mix without it plays the same samples until
  // it comes on, and others once its delay has passed.
  const size_t echo_on = size_t(kEchoOnMs) * kLiveRate / 1000 * 2;
  ASSERT_GE(dry.pcm.size(), size_t(kMuteOnMs) * kLiveRate / 1000 * 2);
  EXPECT_TRUE(std::equal(dry.pcm.begin(), dry.pcm.begin() + long(echo_on), live.pcm.begin()));
  auto echoed = [&](const std::vector<int16_t>& s, long start) {
    long n = 0;
    const long from = long(kEchoOnMs + 600) * kLiveRate / 1000, to = long(kMuteOnMs) * kLiveRate / 1000;
    for (long i = from * 2; i < to * 2; ++i) n += s[size_t(i + start * 2)] != dry.pcm[size_t(i)];
    return n > (to - from);
  };
  EXPECT_TRUE(echoed(live.pcm, 0));
  EXPECT_TRUE(echoed(replay.pcm, replay_start - live_start));

  // Picture: the photos show, follow one another and go within one block of
  // their live times; the preview shows the live picture scaled to its own
  // size, every pixel.
  const int32_t pw = preview->GetXSize(), ph = preview->GetYSize();
  auto scaled = [&](const std::vector<uint16_t>& px) {
    std::vector<uint16_t> out(size_t(pw) * size_t(ph));
    const engine::Picture565 src{const_cast<uint16_t*>(px.data()), m->GetXSize(), m->GetYSize(), m->GetXSize()};
    engine::Stretch565({out.data(), pw, ph, pw}, 0, 0, pw, ph, src, 0, 0, src.width, src.height);
    return out;
  };
  const auto [live_shown, live_gone] = live.PictureSpan();
  const auto [replay_shown, replay_gone] = replay.PictureSpan();
  ASSERT_GT(live_shown, 0u);
  ASSERT_GT(replay_shown, 0u);
  EXPECT_NEAR(double(live_shown), double(kPhotosOnMs), 250.0);
  EXPECT_NEAR(double(live_gone), double(kPhotosOffMs), 250.0);
  EXPECT_NEAR(double(replay_shown), double(live_shown), 100.0);
  EXPECT_NEAR(double(replay_gone), double(live_gone), 100.0);
  const std::vector<uint16_t> first = live.ShotAt(live_shown + uint32_t(kPhotoMs) - 200);
  const std::vector<uint16_t> second = live.ShotAt(live_gone - 100);
  EXPECT_FALSE(first == second);
  EXPECT_TRUE(replay.ShotAt(replay_shown + uint32_t(kPhotoMs) - 200) == scaled(first));
  EXPECT_TRUE(replay.ShotAt(replay_gone - 100) == scaled(second));
  // The second photo comes when the first one's time is up.
  auto next_photo = [](const Take& t, uint32_t from, const std::vector<uint16_t>& before) {
    for (const auto& [ms, px] : t.shots) {
      if (ms > from && px != before) return ms;
    }
    return 0u;
  };
  const uint32_t live_next = next_photo(live, live_shown + uint32_t(kPhotoMs) - 200, first);
  EXPECT_NEAR(double(live_next), double(live_shown + uint32_t(kPhotoMs)), 150.0);
  EXPECT_NEAR(double(next_photo(replay, replay_shown + uint32_t(kPhotoMs) - 200, scaled(first))), double(live_next),
              100.0);
  // No black frame between the photos.
  for (const Take* t : {&live, static_cast<const Take*>(&replay)}) {
    const auto [shown, gone] = t->PictureSpan();
    for (const auto& [ms, px] : t->shots) {
      if (ms > shown && ms < gone) {
        EXPECT_FALSE(IsBlack(px)) << ms << " ms";
      }
    }
  }
  // The fade: live and replayed, the first photo came up dimmed, where the
  // dry run showed it whole at once.
  const auto [dry_shown, dry_gone] = dry.PictureSpan();
  EXPECT_TRUE(dry.ShotAt(dry_shown) == first);
  EXPECT_FALSE(live.ShotAt(live_shown) == first);
  EXPECT_FALSE(replay.ShotAt(replay_shown) == scaled(first));
}

}  // namespace
