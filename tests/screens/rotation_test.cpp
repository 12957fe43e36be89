// A mix across screen rotations, headless on the default skin: the project
// goes out through "rotate.mix" and comes back on the new mixer screen. What
// runs at the turn stops first (live mixing, a preview, decoding to cache);
// a render in its second process goes on and ends on the new screens.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/mix_engine.h"
#include "media/wav_file.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"
#include "platform/os/process.h"
#include "platform/os/thread.h"
#include "platform/ui/dialogs.h"
#include "screens/editors/editor_decompression.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using ovtest::MixCommand;
using screens::ChannelSelection;
using screens::Mixer;

constexpr int32_t kRate = 22050;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }

Mixer* FindMixer(ovtest::HeadlessDriver& d) {
  return dynamic_cast<Mixer*>(d.sm().menu_container()->FindByType(ui::kTypeMixer, true));
}

bool ProcessRunning(int32_t process) {
  uint32_t code = 0;
  return ov::GetExitCodeOfProcess(static_cast<uint32_t>(process), &code) && code == ov::kErrorStillActive;
}

// A virtual device that notes whether an engine holds it open, for the
// screens' own engine: the test plays it 10 ms at a time and sees it closed
// once the engine has stopped (or is gone with its screens).
class LoggedDevice final : public ov::WaveOutDevice {
 public:
  explicit LoggedDevice(std::shared_ptr<std::atomic<bool>> open) : open_(std::move(open)) {}
  ~LoggedDevice() override { Close(); }
  bool Open(const ov::WaveOutFormat& format, DoneFn done, void* context) override {
    const bool ok = inner_.Open(format, done, context);
    if (ok) open_->store(true);
    return ok;
  }
  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override { return inner_.Write(data, bytes, tag); }
  void Pause() override { inner_.Pause(); }
  void Restart() override { inner_.Restart(); }
  void SetVolume(uint32_t word) override { inner_.SetVolume(word); }
  uint32_t Volume() const override { return inner_.Volume(); }
  uint64_t SamplesPlayed() const override { return inner_.SamplesPlayed(); }
  void Close() override {
    inner_.Close();
    open_->store(false);
  }
  uint64_t Advance(uint64_t frames) { return inner_.Advance(frames); }

 private:
  ov::VirtualWaveOutDevice inner_;
  std::shared_ptr<std::atomic<bool>> open_;
};

// Puts the screens' engine on a logged device (before it plays); the flag
// tells whether the device is open.
std::shared_ptr<std::atomic<bool>> UseLoggedDevice(ovtest::HeadlessDriver& d) {
  auto open = std::make_shared<std::atomic<bool>>(false);
  d.sm().GetMixEngine()->SetDeviceFactory([open] { return std::make_unique<LoggedDevice>(open); });
  return open;
}

// Plays the engine's device 10 ms at a time until its clock reaches `ms`;
// false when it stalls.
bool PlayUntil(engine::MixEngine* e, uint32_t ms) {
  for (int spins = 0; spins < 20000 && e->GetPlayPosition() < ms; ++spins) {
    e->WithDevice([](ov::WaveOutDevice& dev) { static_cast<LoggedDevice&>(dev).Advance(kRate / 100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return e->GetPlayPosition() >= ms;
}

class RotatedMix : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    // The clips' caches and a render's project go to a temporary folder of
    // this test's own, and a render's queue is this process's own as well.
    ovtest::IsolateProgram(&env_, dir_, "rot");
  }
  void TearDown() override {
    driver_.reset();
    screens::EditorDecompression::SetWorkerProgressHook(nullptr);
    env_.Restore();
  }
  ovtest::HeadlessDriver& d() { return *driver_; }

  std::string Copy(const std::string& fixture, const char* name) {
    const std::string path = dir_ + "/" + name;
    fs::copy_file(ovtest::FixturePath(fixture), path, fs::copy_options::overwrite_existing);
    return path;
  }
  void AddClip(int i, int32_t kind, int32_t type, const std::string& path, int32_t cut_start = 0) {
    ch_[i].AddClip(kind, type, U(path), ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture,
                   700, 0, 0, cut_start, 0, 0, 0, nullptr);
  }
  // Two photos on channel 0 and a song on channel 2: clips that decode, so
  // that entering the screen ends in a finished cache and no failure popup
  // stands open at a rotation.
  void AddUsualClips() {
    AddClip(0, screens::kKindImage, screens::kFileTypeJpeg, Copy("gfx_photo.jpg", "one.jpg"));
    AddClip(0, screens::kKindImage, screens::kFileTypeJpeg, Copy("gfx_photo.jpg", "two.jpg"));
    AddClip(2, screens::kKindAudio, screens::kFileTypeWav, Copy("engine_22k_stereo.wav", "song.wav"));
  }
  // Starts the program on the project of ch_ with sound-only output and
  // `commands` as its recorded mix, runs `on_main_menu`, and enters the
  // mixer screen.
  void Open(const std::vector<engine::EngineCommand>& commands = {},
            const std::function<void()>& on_main_menu = {}) {
    ch_[6].AddEmptyTextClip();
    ch_[7].AddEmptyTextClip();
    screens::OutputSettings settings = screens::DefaultOutputSettings();
    settings[screens::kWizardMediaType] = 2;
    const std::string path = dir_ + "/loaded.mix";
    ASSERT_TRUE(ovtest::WriteProjectFile(path, ch_, settings, commands));
    setenv("OVMIX_LOAD", path.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
    ASSERT_TRUE(d().ok());
    if (on_main_menu) on_main_menu();
    ASSERT_TRUE(d().TapElement(u"main_0"));
    ASSERT_EQ(d().Menu(), u"mixing_menu");
  }
  // Entering the mixer screen decodes the clips on a worker; a rotation while
  // it runs cancels it and leaves its progress screen, so the tests that
  // keep the mixer screen wait for it first, as a user would.
  void FinishDecoding() {
    for (int tries = 0; tries < 500; ++tries) {
      d().Settle();
      Mixer* mixer = FindMixer(d());
      if (!mixer) return;
      mixer->JoinDecompression();
      d().Settle();
      if (!mixer->decoding() && !Shown(u"DECOMPRESSION_PROGRESS")) return;
      ov::Sleep(10);
    }
  }
  ui::Element* Find(const char16_t* name) { return d().sm().FindElementByName(d().sm().menu_container(), name, true); }
  bool Shown(const char16_t* name) {
    ui::Element* e = Find(name);
    return e && e->IsVisible();
  }
  // A popup message box open and focused.
  bool PopupOpen(const char16_t* name) {
    ui::Element* e = Find(name);
    return e && d().sm().FocusedElement() == e && e->IsVisible();
  }

  // Starts a render of the mix to a mono 8000 Hz WAV kept on the device
  // ("Default.wav" in the documents' "Zentyr", replaced when it exists),
  // from "save_menu".
  void RenderWav(Mixer* mixer) {
    d().AnswerBoxes(wnd::kAnswerYes);
    d().sm().StoreOption(u"WizardMediaCodec", u"511");
    d().sm().StoreOption(u"WizardMediaAudioRate", u"8001");
    mixer->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
    d().sm().JumpToMenu(u"save_menu");
    d().Settle();
    d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
  }

  std::vector<uint8_t> Saved(const std::string& name) {
    Mixer* mixer = FindMixer(d());
    if (!mixer || !mixer->SaveMix(U(dir_ + "/" + name))) return {};
    return ovtest::ReadFileBytes(dir_ + "/" + name);
  }

  std::string dir_;
  ChannelSelection ch_[8];
  ovtest::ScopedEnv env_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(RotatedMix, TheProjectSavedAfterARotationEqualsTheOneBefore) {
  AddUsualClips();
  Open();
  FinishDecoding();
  const std::vector<uint8_t> before = Saved("before.mix");
  ASSERT_GT(before.size(), 40u);
  d().Key(wnd::Key::kRotate);
  ASSERT_EQ(d().window().screen_width(), 320);
  ASSERT_EQ(d().sm().ScreenSize().cx, 320);
  EXPECT_NE(FindMixer(d()), nullptr);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_TRUE(ov::FileExists(U(dir_ + "/data/rotate.mix")));
  EXPECT_EQ(Saved("after.mix"), before);
  // The new screens show the clips again.
  ui::Element* name0 = Find(u"name0");
  ASSERT_NE(name0, nullptr);
  EXPECT_EQ(Str(name0->text()), u"(1/2) one");
}

// Ten turns in a row (AddressSanitizer watches the screen managers and
// mixers going and coming); the mix is unchanged at the end.
TEST_F(RotatedMix, TenRotationsInARowKeepTheMix) {
  AddUsualClips();
  Open();
  FinishDecoding();
  const std::vector<uint8_t> before = Saved("before.mix");
  ASSERT_GT(before.size(), 40u);
  for (int i = 0; i < 10; ++i) {
    d().Key(wnd::Key::kRotate);
    FinishDecoding();
    ASSERT_EQ(d().window().screen_width(), i % 2 == 0 ? 320 : 240);
    ASSERT_EQ(d().sm().ScreenSize().cx, d().window().screen_width());
    ASSERT_EQ(d().Menu(), u"mixing_menu");
  }
  EXPECT_EQ(Saved("after.mix"), before);
  EXPECT_TRUE(d().boxes().empty());
}

// Live mixing at the turn stops before the mix is saved: the engine no
// longer plays, the new mixer is not mixing, and the mix recorded live (its
// stop included) comes back through "rotate.mix".
TEST_F(RotatedMix, LiveMixingStopsAndTheRecordedMixComesBack) {
  AddUsualClips();
  std::shared_ptr<std::atomic<bool>> device_open;
  Open({}, [&] { device_open = UseLoggedDevice(d()); });
  FinishDecoding();
  Mixer* mixer = FindMixer(d());
  engine::MixEngine* old = d().sm().GetMixEngine();
  ASSERT_TRUE(d().TapElement(u"StartMix"));
  ASSERT_TRUE(mixer->mixing());
  ASSERT_TRUE(PlayUntil(old, 300));
  mixer->OnAction(ui::kActionChannelOn0 + 2, ov::String(), 0);
  ASSERT_TRUE(PlayUntil(old, 800));
  ASSERT_TRUE(old->IsPlaying());
  ASSERT_TRUE(device_open->load());

  d().Key(wnd::Key::kRotate);
  FinishDecoding();
  EXPECT_FALSE(device_open->load());
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  mixer = FindMixer(d());
  ASSERT_NE(mixer, nullptr);
  ASSERT_NE(mixer->mix_engine(), nullptr);
  EXPECT_FALSE(mixer->mixing());
  EXPECT_FALSE(mixer->mix_engine()->IsPlaying());
  EXPECT_TRUE(Find(u"StartMix")->IsEnabled());
  EXPECT_FALSE(Find(u"StopMix")->IsEnabled());
  EXPECT_TRUE(d().sm().live_video_area().IsEmpty());
  // The record as the stop left it: the gesture and the stop (command 1).
  const std::vector<engine::EngineCommand> actions = mixer->mix_engine()->Actions();
  auto has = [&](uint32_t type, uint32_t channel) {
    for (const engine::EngineCommand& c : actions) {
      if (c.type == type && c.channel == channel) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(engine::CMD_PLAY, 2));
  EXPECT_TRUE(has(engine::CMD_ACK, 0));
  // "rotate.mix" is the program's own copy: the take is still not saved.
  EXPECT_TRUE(d().boxes().empty());
  EXPECT_TRUE(mixer->HasUnsavedTake());
  EXPECT_FALSE(d().sm().MayQuit());  // asked, and the driver's answer No keeps it
  EXPECT_EQ(d().boxes().size(), 1u);
  EXPECT_EQ(Saved("after.mix"), ovtest::ReadFileBytes(dir_ + "/data/rotate.mix"));
}

// A preview replaying at the turn stops: the engine no longer plays, the
// preview screen stands with its play control ready, and the mix is the one
// from before.
TEST_F(RotatedMix, APreviewStopsAndTheMixComesBack) {
  AddUsualClips();
  const std::string song = dir_ + "/song.wav";
  std::shared_ptr<std::atomic<bool>> device_open;
  Open({MixCommand(0, engine::CMD_LOAD, 2, song), MixCommand(0, engine::CMD_PLAY, 2),
        MixCommand(3000, engine::CMD_STOP, 2)},
       [&] { device_open = UseLoggedDevice(d()); });
  FinishDecoding();
  const std::vector<uint8_t> before = Saved("before.mix");
  ASSERT_GT(before.size(), 40u);
  d().sm().JumpToMenu(u"preview_menu");
  d().Settle();
  ASSERT_EQ(d().Menu(), u"preview_menu");
  engine::MixEngine* old = d().sm().GetMixEngine();
  ASSERT_TRUE(d().TapElement(u"Preview"));
  ASSERT_TRUE(old->IsReplaying());
  ASSERT_TRUE(PlayUntil(old, 300));
  ASSERT_TRUE(device_open->load());
  ASSERT_TRUE(Find(u"StopPreview")->IsEnabled());

  d().Key(wnd::Key::kRotate);
  EXPECT_FALSE(device_open->load());
  ASSERT_EQ(d().Menu(), u"preview_menu");
  engine::MixEngine* now = d().sm().GetMixEngine();
  ASSERT_NE(now, nullptr);
  EXPECT_FALSE(now->IsReplaying());
  EXPECT_TRUE(Find(u"Preview")->IsEnabled());
  EXPECT_FALSE(Find(u"StopPreview")->IsEnabled());
  EXPECT_EQ(Saved("after.mix"), before);
  EXPECT_TRUE(d().boxes().empty());
}

// Decoding to cache at the turn is cancelled and its progress screen left
// before the state is saved: the new screens stand on the menu before the
// mixer with no popup, the cache that was complete is kept, and the one
// half-written is neither on disk nor named by its clip.
TEST_F(RotatedMix, DecodingInProgressIsCancelledAndItsScreenLeft) {
  AddClip(0, screens::kKindImage, screens::kFileTypeJpeg, Copy("gfx_photo.jpg", "one.jpg"));
  const std::string song = dir_ + "/long.wav";
  ovtest::WriteLongWav(song, 240);
  AddClip(1, screens::kKindAudio, screens::kFileTypeWav, song, 100);
  const std::string photo_cache = dir_ + "/Quelvarin/image0-0-0.raw";
  const std::string song_cache = dir_ + "/Quelvarin/audio1.qvs";
  // The turn comes while the long sound is being written: once its cache
  // exists the worker is held until the turn's cancel, so a worker that
  // runs ahead of a starved UI thread cannot end before the turn.
  std::atomic<bool> held{false};
  screens::EditorDecompression::SetWorkerProgressHook([&](int) {
    if (!ov::FileExists(U(song_cache))) return;
    held.store(true);
    ov::Event cancel;
    cancel.Create(true, false, ov::String(engine::kCancelDecompressionEvent));
    cancel.Wait(ov::kInfinite);
  });
  Open();
  ASSERT_TRUE(d().SettleUntil([&] { return held.load(); }));
  ASSERT_TRUE(PopupOpen(u"DECOMPRESSION_PROGRESS"));
  ASSERT_TRUE(FindMixer(d())->decoding());

  d().Key(wnd::Key::kRotate);
  d().Settle();
  EXPECT_EQ(d().Menu(), u"main_menu");
  EXPECT_FALSE(Shown(u"DECOMPRESSION_PROGRESS"));
  EXPECT_FALSE(Shown(u"DECOMPRESSION_FAILURE"));
  ui::Element* focus = d().sm().FocusedElement();
  EXPECT_TRUE(!focus || focus->GetType() != ui::kTypePopupMessageBox);
  EXPECT_TRUE(d().boxes().empty());
  Mixer* mixer = FindMixer(d());
  ASSERT_NE(mixer, nullptr);
  EXPECT_FALSE(mixer->decoding());
  ASSERT_GE(mixer->channel_count(), 2);
  ChannelSelection* photos = mixer->entry(0).channel;
  ChannelSelection* sounds = mixer->entry(1).channel;
  ASSERT_EQ(sounds->ClipCount(), 1);
  EXPECT_EQ(Str(photos->GetClipCache(0, screens::kKindImage)), Str(U(photo_cache)));
  EXPECT_TRUE(ov::FileExists(U(photo_cache)));
  EXPECT_EQ(Str(sounds->GetClipCache(0, screens::kKindAudio)), u"");
  EXPECT_FALSE(ov::FileExists(U(song_cache)));
  // Entering the mixer again decodes only what is missing.
  EXPECT_EQ(mixer->CountPendingCacheItems(), 1);
}

// A render in the second process at the turn: one still running goes on,
// its progress reaches the new screens, and it ends there with its file;
// one that ended just before, its result queued for the screens that went,
// still ends as done with its file.
TEST_F(RotatedMix, ARenderGoesOnAndItsResultReachesTheNewScreens) {
  // A minute of silence, mono at 8000 Hz: a render of half a second or so,
  // long enough to run across a turn that comes at its first progress.
  constexpr uint32_t kMixMs = 60000;
  for (const bool ended_before : {false, true}) {
    SCOPED_TRACE(ended_before ? "ended before the turn" : "running at the turn");
    for (ChannelSelection& c : ch_) c.Clear();
    AddUsualClips();
    Open({MixCommand(0, engine::CMD_MASTER_VOLUME, 0), MixCommand(kMixMs, engine::CMD_MASTER_VOLUME, 0)});
    FinishDecoding();
    Mixer* mixer = FindMixer(d());
    RenderWav(mixer);
    ASSERT_TRUE(mixer->render_active());
    ASSERT_TRUE(PopupOpen(u"RENDER_PROGRESS"));
    const int32_t process = mixer->render_process();
    const ov::String out = mixer->output_file();
    EXPECT_EQ(Str(out), Str(U(dir_ + "/docs/Zentyr/Default.wav")));
    if (ended_before) {
      // The screens are not run meanwhile: the render thread queues the
      // result for the screens that the turn replaces, and then tells the
      // engine the render has ended.
      engine::MixEngine* engine = d().sm().GetMixEngine();
      for (int t = 0; t < 120000 && engine->IsRenderRunning(); t += 10) ov::Sleep(10);
      ASSERT_FALSE(engine->IsRenderRunning());
      ASSERT_FALSE(ProcessRunning(process));
    } else {
      ASSERT_TRUE(d().SettleUntil([&] { return *d().sm().NumericOption(4) > 0; }));
      ASSERT_TRUE(ProcessRunning(process)) << "the render is too short to run across the turn";
      ASSERT_LT(*d().sm().NumericOption(4), 100u);
    }

    d().Key(wnd::Key::kRotate);
    ASSERT_EQ(d().Menu(), u"save_menu");
    mixer = FindMixer(d());
    ASSERT_NE(mixer, nullptr);
    if (!ended_before) {
      EXPECT_TRUE(mixer->render_active());
      EXPECT_EQ(mixer->render_process(), process);
      EXPECT_TRUE(PopupOpen(u"RENDER_PROGRESS"));
      EXPECT_TRUE(d().sm().GetMixEngine()->IsRenderRunning());
    }
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }, 120000));
    EXPECT_FALSE(PopupOpen(u"RENDER_ERROR"));
    EXPECT_FALSE(PopupOpen(u"RENDER_PROGRESS"));
    EXPECT_FALSE(d().sm().GetMixEngine()->IsRenderRunning());
    if (!ended_before) {
      EXPECT_EQ(*d().sm().NumericOption(4), 100u);
      EXPECT_EQ(Str(Find(u"render_percent")->text()), u"100 %");
    }
    media::WavFile f(out, ov::kGenericRead, ov::CreateMode::kOpenExisting, {});
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.dataSize, kMixMs * 8 * 2);
    driver_.reset();
  }
}

// The last project is the one the user saved: the render's "temp.mix" and
// the turn's "rotate.mix" (which hold the mix changed since) leave it, so
// that a load with an empty path afterwards opens the saved project.
TEST_F(RotatedMix, TheLastProjectIsTheOneSavedNotACopy) {
  AddUsualClips();
  Open({MixCommand(0, engine::CMD_MASTER_VOLUME, 0), MixCommand(2000, engine::CMD_MASTER_VOLUME, 0)});
  FinishDecoding();
  Mixer* mixer = FindMixer(d());
  const ov::String saved = U(dir_ + "/saved.mix");
  mixer->OnAction(ui::kActionProjectSave, saved, 0);
  ASSERT_TRUE(ov::FileExists(saved));
  ASSERT_EQ(Str(*d().sm().StringOption(22)), Str(saved));
  // The mix changes after the save: one photo less.
  FindMixer(d())->entry(0).channel->RemoveClip(1);

  RenderWav(mixer);
  ASSERT_TRUE(mixer->render_active());
  ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }, 120000));
  EXPECT_FALSE(PopupOpen(u"RENDER_ERROR"));
  EXPECT_TRUE(ov::FileExists(ov::TempFolder() + u"temp.mix"));
  // A slow render outlasts the options' save deadline: the save is tried
  // (here at once, as the due check does then) while the data folder is not
  // there yet, which the turn makes; what it could not write is written at
  // the turn.
  ASSERT_FALSE(ov::FolderExists(U(dir_ + "/data")));
  d().sm().options().SaveIfPending();
  d().sm().JumpToMenu(u"mixing_menu");
  d().Settle();
  d().Key(wnd::Key::kRotate);
  FinishDecoding();
  EXPECT_TRUE(ov::FileExists(U(dir_ + "/data/rotate.mix")));
  mixer = FindMixer(d());
  ASSERT_NE(mixer, nullptr);
  ASSERT_EQ(mixer->entry(0).channel->ClipCount(), 1);
  EXPECT_EQ(Str(*d().sm().StringOption(22)), Str(saved));

  mixer->OnAction(ui::kActionProjectLoad, ov::String(), 0);
  EXPECT_EQ(mixer->entry(0).channel->ClipCount(), 2);
  EXPECT_EQ(mixer->mix_engine()->Actions().size(), 2u);
}

}  // namespace
