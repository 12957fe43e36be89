// The user's projects and takes on the mixer: a load that fails says what
// failed and leaves the file as it was, the mixer shows why it is empty and
// a save of the empty mix asks before it replaces a project; a take that was
// not saved is lost only after a yes (quit, window close, Start, Clear,
// Load), and nothing asks when nothing would be lost.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/mix_engine.h"
#include "platform/os/file.h"
#include "platform/ui/dialogs.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"
#include "ui/action_keywords.h"

namespace {

namespace fs = std::filesystem;
using screens::ChannelSelection;
using screens::Mixer;

std::string Utf8(const std::u16string& s) { return ov::String(std::u16string_view(s)).ToUtf8Lossy(); }
ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

struct Box {
  std::string caption, text;
  uint32_t buttons;
};

// Records every message box and answers a yes/no box with `answer`.
class BoxHook {
 public:
  BoxHook() {
    wnd::SetMessageBoxHook([this](const ov::String& caption, const ov::String& text, uint32_t buttons) {
      boxes.push_back({caption.ToUtf8Lossy(), text.ToUtf8Lossy(), buttons});
      return buttons == wnd::kBoxYesNo ? answer : wnd::kAnswerOk;
    });
  }
  ~BoxHook() { wnd::SetMessageBoxHook(nullptr); }
  std::vector<Box> boxes;
  int answer = wnd::kAnswerNo;
};

void AddPhoto(ChannelSelection* ch, const std::string& path) {
  ch->AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(path), ov::String(), ov::String(), screens::kWholePicture,
              screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
}

// A project of one photo on channel 0 and a recorded command, its clip at
// `clip` (which need not exist).
bool WritePhotoProject(const std::string& path, const std::string& clip) {
  ChannelSelection ch[8];
  AddPhoto(&ch[0], clip);
  ch[6].AddEmptyTextClip();
  ch[7].AddEmptyTextClip();
  return ovtest::WriteProjectFile(path, ch, screens::DefaultOutputSettings(),
                                  {ovtest::MixCommand(0, engine::CMD_PLAY, 16)});
}

class FailedLoad : public ::testing::Test {
 protected:
  FailedLoad() : dir_(ovtest::ScratchDir()), host_(dir_), screen_(&host_) {
    env_.Set("OVMIX_DOCUMENTS", dir_);
    fs::create_directories(dir_ + "/Zentyr");
  }
  Mixer& mixer() { return *screen_.mixer; }

  std::string dir_;
  ovtest::ScopedEnv env_;
  ovtest::ScreensHost host_;
  ovtest::MixerScreen screen_;
};

// Each damaged or incomplete project, loaded over a mix, gives one message
// that says what failed and keeps that mix as it was. Loaded over an empty
// mix, the mixer notes the reason; a save of that empty mix over the
// project (the save dialog's "Default.mix") asks first, and the answer No
// keeps the file byte for byte.
TEST_F(FailedLoad, DamagedProjectsReportAndStayOnDisk) {
  const std::string good = dir_ + "/good.mix";
  ASSERT_TRUE(WritePhotoProject(good, ovtest::TouchFile(dir_, "present.jpg")));
  const std::vector<uint8_t> good_bytes = ovtest::ReadFileBytes(good);
  const std::string target = dir_ + "/Zentyr/Default.mix";
  struct Case {
    const char* what;
    // Writes the project to `target`; the text its message names.
    std::function<std::string()> make;
    const char* note;  // part of the note on the empty mixer
  };
  const Case cases[] = {
      {"missing clip",
       [&] {
         const std::string clip = ovtest::TouchFile(dir_, "deleted.jpg");
         WritePhotoProject(target, clip);
         std::remove(clip.c_str());
         return clip;
       },
       "the clip deleted.jpg is missing"},
      {"moved clip",
       [&] {
         fs::create_directories(dir_ + "/before");
         fs::create_directories(dir_ + "/after");
         const std::string clip = ovtest::TouchFile(dir_ + "/before", "beach.jpg");
         WritePhotoProject(target, clip);
         fs::rename(clip, dir_ + "/after/beach.jpg");
         return clip;
       },
       "the clip beach.jpg is missing"},
      // Made in another folder: the name does not lead to the clip from here.
      {"relative name",
       [&] {
         WritePhotoProject(target, "holiday-clips/beach.jpg");
         return std::string("holiday-clips/beach.jpg");
       },
       "the clip beach.jpg is missing"},
      {"truncated",
       [&] {
         ov::WriteWholeFile(U(target), good_bytes.data(), good_bytes.size() / 2);
         return std::string("cannot be read");
       },
       "Default.mix cannot be read"},
      {"empty",
       [&] {
         ov::WriteWholeFile(U(target), good_bytes.data(), 0);
         return std::string("cannot be read");
       },
       "Default.mix cannot be read"},
      {"another version",
       [&] {
         std::vector<uint8_t> other = good_bytes;
         other[0] = 111;
         ov::WriteWholeFile(U(target), other.data(), other.size());
         return std::string("cannot be read");
       },
       "Default.mix cannot be read"},
  };
  BoxHook hook;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hook.boxes.clear();
    mixer().OnAction(ui::kActionMixLoad, U(good), 0);
    ASSERT_EQ(screen_.channel[0]->ClipCount(), 1);
    ASSERT_TRUE(hook.boxes.empty());
    const std::string named = c.make();
    const std::vector<uint8_t> before = ovtest::ReadFileBytes(target);

    mixer().OnAction(ui::kActionMixLoad, U(target), 0);
    ASSERT_EQ(hook.boxes.size(), 1u);
    EXPECT_EQ(hook.boxes[0].buttons, uint32_t(wnd::kBoxOk));
    EXPECT_EQ(hook.boxes[0].caption, "Open mix");
    EXPECT_NE(hook.boxes[0].text.find(named), std::string::npos) << hook.boxes[0].text;
    EXPECT_NE(hook.boxes[0].text.find("Default.mix"), std::string::npos) << hook.boxes[0].text;
    // The mix that was open stays, with nothing noted.
    EXPECT_EQ(screen_.channel[0]->ClipCount(), 1);
    EXPECT_TRUE(host_.engine->HasActions());
    EXPECT_TRUE(mixer().empty_note().IsEmpty());
    // Over an empty mix: empty, and saying why.
    mixer().OnAction(ui::kActionMixClear, ov::String(), 0);
    mixer().OnAction(ui::kActionMixLoad, U(target), 0);
    ASSERT_EQ(hook.boxes.size(), 2u);
    EXPECT_EQ(hook.boxes[1].text, hook.boxes[0].text);
    EXPECT_TRUE(mixer().MixIsEmpty());
    EXPECT_EQ(screen_.channel[0]->ClipCount(), 0);
    EXPECT_FALSE(host_.engine->HasActions());
    const std::string note = mixer().empty_note().ToUtf8Lossy();
    EXPECT_EQ(note.rfind("Empty mix: ", 0), 0u) << note;
    EXPECT_NE(note.find(c.note), std::string::npos) << note;

    mixer().OnAction(ui::kActionMixSave, ov::String(), 0);  // declined
    ASSERT_EQ(hook.boxes.size(), 3u);
    EXPECT_EQ(hook.boxes[2].buttons, uint32_t(wnd::kBoxYesNo));
    EXPECT_NE(hook.boxes[2].text.find("empty"), std::string::npos) << hook.boxes[2].text;
    EXPECT_NE(hook.boxes[2].text.find(note), std::string::npos) << hook.boxes[2].text;
    EXPECT_EQ(ovtest::ReadFileBytes(target), before);
  }
  // A yes replaces the project with the empty mix, which loads back.
  hook.answer = wnd::kAnswerYes;
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);
  EXPECT_TRUE(mixer().LoadMix(U(target)));
  EXPECT_TRUE(mixer().MixIsEmpty());
  // A good load drops the note; a missing project file names its path.
  hook.boxes.clear();
  mixer().OnAction(ui::kActionMixLoad, U(good), 0);
  EXPECT_TRUE(mixer().empty_note().IsEmpty());
  mixer().OnAction(ui::kActionMixLoad, U(dir_ + "/absent.mix"), 0);
  ASSERT_EQ(hook.boxes.size(), 1u);
  EXPECT_NE(hook.boxes[0].text.find(dir_ + "/absent.mix\" cannot be found"), std::string::npos)
      << hook.boxes[0].text;
}

// A mix that is not empty saves over a project with the plain overwrite
// question, as before; an empty one over no file asks nothing.
TEST_F(FailedLoad, OnlyAnEmptyMixOverAProjectAsksAboutEmptiness) {
  BoxHook hook;
  hook.answer = wnd::kAnswerYes;
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);
  EXPECT_TRUE(hook.boxes.empty());
  AddPhoto(screen_.channel[0], ovtest::TouchFile(dir_, "p.jpg"));
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);
  ASSERT_EQ(hook.boxes.size(), 1u);
  EXPECT_EQ(hook.boxes[0].text.find("empty"), std::string::npos) << hook.boxes[0].text;
  EXPECT_NE(hook.boxes[0].text.find("already exists"), std::string::npos) << hook.boxes[0].text;
}

// ---- takes that were not saved, on the default skin ----

class UnsavedTake : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    // Window close sets the render's cancel event: this process's own.
    env_.Set("OVMIX_IPC_SCOPE", "take" + std::to_string(::getpid()));
    env_.Set("OVMIX_DOCUMENTS", dir_);
    env_.Set("TMPDIR", dir_);
    env_.Set("OVMIX_CARDS", "");
    d_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    ASSERT_TRUE(d_->ok());
    ASSERT_TRUE(d_->UseVirtualWaveOut());
    ASSERT_TRUE(d_->TapElement(u"main_0"));
    ASSERT_EQ(d_->Menu(), u"mixing_menu");
    mixer_ = dynamic_cast<Mixer*>(d_->sm().menu_container()->FindByType(ui::kTypeMixer, true));
    ASSERT_NE(mixer_, nullptr);
  }
  void TearDown() override {
    d_.reset();
    env_.Restore();
  }
  engine::MixEngine* engine() { return d_->sm().GetMixEngine(); }
  // The recorded list as (time, type) pairs.
  std::vector<std::pair<uint32_t, uint32_t>> Recorded() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const engine::EngineCommand& c : engine()->Actions()) out.emplace_back(c.timeMs, c.type);
    return out;
  }
  // A live take: Start, 0.2 s of sound, a volume, Stop. An earlier take is
  // let go.
  void RecordTake() {
    d_->AnswerBoxes(wnd::kAnswerYes);
    mixer_->OnAction(ui::kActionMixStart, ov::String(), 0);
    ASSERT_TRUE(mixer_->mixing());
    d_->AdvanceDevice(22050 / 5);
    mixer_->OnAction(ui::kActionMasterVolume, u"40", 0);
    mixer_->OnAction(ui::kActionMixStop, ov::String(), 0);
    ASSERT_FALSE(mixer_->mixing());
    ASSERT_TRUE(mixer_->HasUnsavedTake());
    ASSERT_GE(engine()->Actions().size(), 3u);
  }
  // Runs `act`; true when it ended the process (the driver's end hook throws).
  static bool Ends(const std::function<void()>& act) {
    try {
      act();
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "process end 0");
      return true;
    }
    return false;
  }

  struct Path {
    const char* what;
    // Acts; true when it went on (the take replaced or the process ended).
    std::function<bool()> act;
    // Going on leaves no take behind that is not saved.
    bool leaves_none = false;
  };
  std::vector<Path> Paths(const std::string& other_project) {
    return {
        {"ACTION_QUIT", [&] { return Ends([&] { d_->sm().DoAction(ui::kActionQuit, ov::String(), 1); }); }},
        {"window closed",
         [&] { return Ends([&] { d_->app().MainWndProc(wnd::Event(wnd::Message::kDestroy)); }); }},
        {"close command", [&] { return Ends([&] { d_->app().MainWndProc(wnd::Event(wnd::Message::kCommand, 40002)); }); }},
        {"Start",
         [&] {
           mixer_->OnAction(ui::kActionMixStart, ov::String(), 0);
           const bool started = mixer_->mixing();
           if (started) {
             // Start cleared the list: only the new take's first commands.
             EXPECT_LT(engine()->Actions().size(), 3u);
             mixer_->OnAction(ui::kActionMixStop, ov::String(), 0);
           }
           return started;
         }},
        {"Clear",
         [&] {
           d_->sm().DoAction(ui::kActionMixClear, ov::String(), 1);
           return !engine()->HasActions();
         },
         true},
        {"Load",
         [&] {
           d_->sm().DoAction(ui::kActionMixLoad, U(other_project), 1);
           return engine()->Actions().size() == 1;
         },
         true},
    };
  }

  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> d_;
  Mixer* mixer_ = nullptr;
  ovtest::ScopedEnv env_;
};

// Every path that would lose the take asks once; No keeps the take as it
// was recorded, Yes goes on as without the question.
TEST_F(UnsavedTake, EachPathAsksAndNoKeepsTheTake) {
  const std::string other = dir_ + "/other.mix";
  ASSERT_TRUE(WritePhotoProject(other, ovtest::TouchFile(dir_, "other.jpg")));
  for (const Path& path : Paths(other)) {
    for (const int answer : {wnd::kAnswerNo, wnd::kAnswerYes}) {
      SCOPED_TRACE(std::string(path.what) + (answer == wnd::kAnswerYes ? ", yes" : ", no"));
      RecordTake();
      const auto take = Recorded();
      const size_t seen = d_->boxes().size();
      d_->AnswerBoxes(answer);
      const bool went_on = path.act();
      ASSERT_EQ(d_->boxes().size(), seen + 1);
      const ovtest::HeadlessDriver::Box& box = d_->boxes().back();
      EXPECT_EQ(box.buttons, uint32_t(wnd::kBoxYesNo));
      EXPECT_NE(Utf8(box.text).find("has not been saved"), std::string::npos) << Utf8(box.text);
      EXPECT_NE(Utf8(box.text).find("and lose it?"), std::string::npos) << Utf8(box.text);
      EXPECT_EQ(went_on, answer == wnd::kAnswerYes);
      if (answer == wnd::kAnswerNo) {
        EXPECT_EQ(Recorded(), take);
        EXPECT_TRUE(mixer_->HasUnsavedTake());
      } else if (path.leaves_none) {
        EXPECT_FALSE(mixer_->HasUnsavedTake());
      }
    }
  }
}

// Nothing asks when nothing would be lost: no take yet, a take saved (the
// program's own copies for a turn or a render do not save it), a loaded
// project, a cleared mix.
TEST_F(UnsavedTake, NothingAsksWhenNothingWouldBeLost) {
  const std::string other = dir_ + "/other.mix";
  ASSERT_TRUE(WritePhotoProject(other, ovtest::TouchFile(dir_, "other.jpg")));
  EXPECT_TRUE(d_->sm().MayQuit());
  d_->AnswerBoxes(wnd::kAnswerNo);
  mixer_->OnAction(ui::kActionMixStart, ov::String(), 0);
  EXPECT_TRUE(mixer_->mixing());
  mixer_->OnAction(ui::kActionMixStop, ov::String(), 0);
  EXPECT_TRUE(d_->boxes().empty());
  for (const Path& path : Paths(other)) {
    SCOPED_TRACE(path.what);
    RecordTake();
    ASSERT_TRUE(mixer_->SaveMix(U(dir_ + "/copy.mix"), Mixer::SaveKind::kCopy));
    EXPECT_TRUE(mixer_->HasUnsavedTake());
    mixer_->OnAction(ui::kActionProjectSave, U(dir_ + "/take.mix"), 0);
    EXPECT_FALSE(mixer_->HasUnsavedTake());
    d_->AnswerBoxes(wnd::kAnswerNo);
    const size_t seen = d_->boxes().size();
    EXPECT_TRUE(path.act());
    EXPECT_EQ(d_->boxes().size(), seen);
  }
  mixer_->OnAction(ui::kActionMixClear, ov::String(), 0);
  EXPECT_TRUE(d_->sm().MayQuit());
  mixer_->OnAction(ui::kActionMixLoad, U(other), 0);
  EXPECT_TRUE(d_->sm().MayQuit());
  // A take goes on being recorded after a save made while it runs.
  d_->AnswerBoxes(wnd::kAnswerYes);
  mixer_->OnAction(ui::kActionMixStart, ov::String(), 0);
  mixer_->OnAction(ui::kActionProjectSave, U(dir_ + "/early.mix"), 0);
  EXPECT_TRUE(mixer_->HasUnsavedTake());
  mixer_->OnAction(ui::kActionMixStop, ov::String(), 0);
  EXPECT_TRUE(mixer_->HasUnsavedTake());
}

// A project that cannot be read, opened over an edited mix with a take
// (from "Open mix" and dropped on a channel cell, both through the screen
// manager's MX_LOAD), leaves that mix whole: the channels, the settings,
// options 27-35 and the recorded take, still unsaved. The box says why.
TEST_F(UnsavedTake, AFailedOpenKeepsTheEditedMixAndItsTake) {
  const std::string photo = ovtest::TouchFile(dir_, "kept.jpg");
  ChannelSelection* ch0 = mixer_->entry(0).channel;
  ChannelSelection* end = mixer_->entry(screens::kEndCreditsEntry).channel;
  ASSERT_NE(ch0, nullptr);
  ASSERT_NE(end, nullptr);
  AddPhoto(ch0, photo);
  end->GetClipText(0)->textString = u"The end";
  d_->sm().StoreOption(u"WizardMediaLength", u"42");
  mixer_->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  RecordTake();
  const auto take = Recorded();
  const screens::OutputSettings settings = mixer_->output_settings();
  ASSERT_EQ(settings[screens::kWizardMediaLength], 42);
  auto options = [&] {
    std::vector<std::u16string> out;
    for (const char16_t* key : screens::kOutputSettingKeys) {
      ov::String text;
      bool numeric = false;
      d_->sm().ReadOption(key, &text, &numeric);
      out.emplace_back(text.View());
    }
    return out;
  };
  const auto options_before = options();

  // Damaged in its last block (the end credits), behind good channels and
  // other settings, so that nothing may be taken before the failure.
  ChannelSelection other[8];
  AddPhoto(&other[0], ovtest::TouchFile(dir_, "other.jpg"));
  other[6].AddEmptyTextClip();
  other[7].AddEmptyTextClip();
  screens::OutputSettings other_settings = screens::DefaultOutputSettings();
  other_settings[screens::kWizardMediaLength] = 7;
  const std::string damaged = dir_ + "/damaged.mix";
  ASSERT_TRUE(ovtest::WriteProjectFile(damaged, other, other_settings, {ovtest::MixCommand(0, engine::CMD_PLAY, 16)}));
  std::vector<uint8_t> bytes = ovtest::ReadFileBytes(damaged);
  bytes.resize(bytes.size() - 20);  // into the engine record
  ASSERT_TRUE(ov::WriteWholeFile(U(damaged), bytes.data(), bytes.size()));
  const std::string pipe = dir_ + "/pipe.mix";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

  struct Case {
    const char* what;
    std::string path;
    bool drop;
  } cases[] = {{"damaged, opened", damaged, false}, {"damaged, dropped", damaged, true},
               {"named pipe, opened", pipe, false}, {"named pipe, dropped", pipe, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t seen = d_->boxes().size();
    d_->AnswerBoxes(wnd::kAnswerYes);  // lose the take for the new mix
    if (c.drop) {
      ovtest::FakeBrowser browser;
      screens::MediaFileRecord record;
      record.folder = U(dir_ + "/");
      record.name = U(fs::path(c.path).filename().string());
      record.kind = screens::kKindProject;
      browser.Select(&record);
      mixer_->entry(2).channel->AssignFromBrowser(&browser);
    } else {
      d_->sm().DoAction(ui::kActionMixLoad, U(c.path), 1);
    }
    // The take-loss question, then the reason.
    ASSERT_EQ(d_->boxes().size(), seen + 2);
    EXPECT_NE(Utf8(d_->boxes().back().text).find("cannot be read"), std::string::npos)
        << Utf8(d_->boxes().back().text);
    ASSERT_EQ(ch0->ClipCount(), 1);
    EXPECT_EQ(ch0->GetClipFile(0).ToUtf8Lossy(), photo);
    EXPECT_EQ(Utf8(std::u16string(end->GetClipText(0)->textString.View())), "The end");
    EXPECT_EQ(mixer_->output_settings(), settings);
    EXPECT_EQ(options(), options_before);
    EXPECT_EQ(Recorded(), take);
    EXPECT_TRUE(mixer_->HasUnsavedTake());
    EXPECT_TRUE(mixer_->empty_note().IsEmpty());
  }
  // The same project whole then replaces the mix.
  d_->AnswerBoxes(wnd::kAnswerYes);
  const std::string whole = dir_ + "/whole.mix";
  ASSERT_TRUE(ovtest::WriteProjectFile(whole, other, other_settings, {ovtest::MixCommand(0, engine::CMD_PLAY, 16)}));
  d_->sm().DoAction(ui::kActionMixLoad, U(whole), 1);
  EXPECT_EQ(ch0->GetClipFile(0).ToUtf8Lossy(), dir_ + "/other.jpg");
  EXPECT_EQ(mixer_->output_settings()[screens::kWizardMediaLength], 7);
  EXPECT_EQ(engine()->Actions().size(), 1u);
  EXPECT_FALSE(mixer_->HasUnsavedTake());
}

// After a failed load the mixer's picture carries the note; a clear takes
// it away.
TEST_F(UnsavedTake, TheEmptyMixerShowsWhy) {
  const std::string broken = dir_ + "/broken.mix";
  ASSERT_TRUE(WritePhotoProject(broken, dir_ + "/nowhere.jpg"));
  const gfx::Rect all{0, 0, d_->window().screen_width(),
                      d_->window().screen_height() + shell::ScreenManager::kBarHeight};
  d_->sm().Paint(all);
  const std::string plain = d_->SurfaceHash();
  d_->sm().DoAction(ui::kActionMixLoad, U(broken), 1);
  ASSERT_EQ(d_->boxes().size(), 1u);
  EXPECT_NE(Utf8(d_->boxes()[0].text).find(dir_ + "/nowhere.jpg"), std::string::npos);
  ASSERT_FALSE(mixer_->empty_note().IsEmpty());
  d_->sm().Paint(all);
  const std::string noted = d_->SurfaceHash();
  d_->SavePng(dir_ + "/empty_note.png");  // for review
  EXPECT_NE(noted, plain);
  d_->sm().DoAction(ui::kActionMixClear, ov::String(), 1);
  d_->sm().Paint(all);
  EXPECT_EQ(d_->SurfaceHash(), plain);
}

}  // namespace
