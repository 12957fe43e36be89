// Rendering from the mixer, headless with the default skin: the render
// actions pressed in "save_menu" start the program's render mode, the
// render thread follows the queue, and 336 or 337 ends the render.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "media/wav_file.h"
#include "platform/os/file.h"
#include "platform/os/process.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"
#include "platform/ui/dialogs.h"
#include "screens/mixer/mixer.h"
#include "screens/project/text_clip.h"
#include "shell/packages.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using ovtest::MixCommand;
using screens::Mixer;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

// The ids of this process's children that have ended and were not reaped.
std::vector<int> ZombieChildren() {
  std::vector<int> zombies;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    // "pid (name) state ppid ...": the name may hold spaces and brackets.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    int parent = 0;
    rest >> state >> parent;
    if (state == 'Z' && parent == static_cast<int>(::getpid())) zombies.push_back(std::stoi(name));
  }
  return zombies;
}

class MixerRender : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    for (const char* sub : {"tmp", "docs", "xdg", "data"}) fs::create_directories(dir_ + "/" + sub);
    old_tmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("OVMIX_IPC_SCOPE", ("mr" + std::to_string(ov::GetCurrentProcessId())).c_str(), 1);
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    setenv("OVMIX_DOCUMENTS", (dir_ + "/docs").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_ + "/xdg").c_str(), 1);
    setenv("OVMIX_CARDS", "", 1);
    // The messaging program: a stub that records its last argument.
    const std::string stub = dir_ + "/send.sh";
    std::ofstream(stub) << "#!/bin/sh\nfor a; do last=$a; done\necho \"$last\" >> '" << dir_ << "/sent.txt'\n";
    fs::permissions(stub, fs::perms::owner_all);
    setenv("OVMIX_MESSAGING", stub.c_str(), 1);
    clip_ = ovtest::FixturePath("engine_22k_stereo.wav");
  }
  void TearDown() override {
    // A messaging program that waits for it ends.
    std::ofstream(dir_ + "/release");
    driver_.reset();
    for (const char* v : {"OVMIX_DOCUMENTS", "OVMIX_MESSAGING", "OVMIX_CARDS"}) unsetenv(v);
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }

  // The mixer screen with `commands` as the recorded mix and sound-only WAV
  // output (`rate` with bit 0 for mono), then "save_menu".
  Mixer* Start(const std::vector<engine::EngineCommand>& commands, const char* rate = "22050",
               const std::string& app_folder = "") {
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data", false, app_folder);
    if (!d().ok() || !d().TapElement(u"main_0")) return nullptr;
    d().AnswerBoxes(wnd::kAnswerYes);  // an earlier file is replaced
    auto* mixer = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true));
    if (!mixer || !mixer->mix_engine()) return nullptr;
    engine::ActionProcessor list;
    for (const engine::EngineCommand& c : commands) list.Append(std::make_unique<engine::EngineCommand>(c));
    std::vector<uint8_t> record;
    list.Serialize(&record);
    size_t consumed = 0;
    if (!mixer->mix_engine()->LoadActions(record, &consumed)) return nullptr;
    d().sm().StoreOption(u"WizardMediaType", u"2");
    d().sm().StoreOption(u"WizardMediaCodec", u"511");
    d().sm().StoreOption(u"WizardMediaAudioRate", U(rate));
    mixer->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
    d().sm().JumpToMenu(u"save_menu");
    d().Settle();
    return mixer;
  }
  std::vector<engine::EngineCommand> HalfSecondOfClip() const {
    return {MixCommand(0, engine::CMD_LOAD, 0, clip_), MixCommand(0, engine::CMD_PLAY, 0),
            MixCommand(500, engine::CMD_STOP, 0)};
  }
  bool PopupShown(const char16_t* name) {
    ui::Element* e = d().sm().FindElementByName(nullptr, name, true);
    return e && d().sm().FocusedElement() == e && e->IsVisible();
  }
  size_t PcmBytes(const ov::String& path) {
    media::WavFile f(path, ov::kGenericRead, ov::CreateMode::kOpenExisting, {});
    return f.status == 0 ? f.dataSize : 0;
  }
  ovtest::HeadlessDriver& d() { return *driver_; }

  std::string dir_, old_tmp_, clip_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

// Keep on device: the save dialog's file ("Default.wav" in the documents'
// "Zentyr" folder) is rendered; 336 closes the progress popup.
TEST_F(MixerRender, KeepOnDeviceRendersTheChosenFile) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  Mixer* mixer = Start(HalfSecondOfClip());
  ASSERT_NE(mixer, nullptr);
  d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
  EXPECT_TRUE(mixer->render_active());
  EXPECT_TRUE(PopupShown(u"RENDER_PROGRESS"));
  ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
  const ov::String out = U(dir_ + "/docs/Zentyr/Default.wav");
  EXPECT_EQ(mixer->output_file(), out);
  EXPECT_EQ(PcmBytes(out), 44100u);
  EXPECT_FALSE(PopupShown(u"RENDER_PROGRESS"));
  EXPECT_FALSE(PopupShown(u"RENDER_ERROR"));
  EXPECT_EQ(*d().sm().NumericOption(4), 100u);
  EXPECT_FALSE(mixer->mix_engine()->IsRenderRunning());
  EXPECT_EQ(d().Menu(), u"save_menu");
}

// A mix with credits: their text clip on the picture channel of the start
// credits, the mixer's picture size and rate passed to the render process
// even for sound alone. The sound renders whole.
TEST_F(MixerRender, CreditsRenderToWav) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  screens::TextClip credits;
  credits.textString = u"The end";
  const std::string descriptor = screens::FormatTextClip(credits).ToUtf8Lossy();
  std::vector<engine::EngineCommand> commands = HalfSecondOfClip();
  const uint32_t picture = engine::kFirstVideoChannel + screens::kStartCreditsEntry;
  engine::EngineCommand load = MixCommand(0, engine::CMD_LOAD, picture, descriptor);
  load.altPath = load.path;
  commands.insert(commands.begin(), {load, MixCommand(0, engine::CMD_PLAY, picture)});
  commands.push_back(MixCommand(400, engine::CMD_STOP, picture));
  Mixer* mixer = Start(commands);
  ASSERT_NE(mixer, nullptr);
  d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
  ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
  EXPECT_FALSE(PopupShown(u"RENDER_ERROR"));
  EXPECT_EQ(PcmBytes(mixer->output_file()), 44100u);
}

// MMS: numbered names in the temporary folder, each handed to the
// messaging program and deleted once that program has ended.
TEST_F(MixerRender, MmsNumbersItsFilesAndSendsThem) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  Mixer* mixer = Start(HalfSecondOfClip());
  ASSERT_NE(mixer, nullptr);
  for (int n = 1; n <= 2; ++n) {
    d().sm().DoAction(ui::kActionRenderMms, ov::String(), 1);
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
    EXPECT_EQ(mixer->output_file(), U(dir_ + "/tmp/Zentyr" + std::to_string(n) + ".wav"));
  }
  ASSERT_TRUE(d().SettleUntil([&] {
    std::ifstream in(dir_ + "/sent.txt");
    std::stringstream s;
    s << in.rdbuf();
    return s.str() == dir_ + "/tmp/Zentyr1.wav\n" + dir_ + "/tmp/Zentyr2.wav\n";
  }, 120000));
  // The messaging programs have ended; none stays behind as a zombie.
  EXPECT_TRUE(d().SettleUntil([] { return ZombieChildren().empty(); }))
      << ::testing::PrintToString(ZombieChildren());
  const ov::String first = U(dir_ + "/tmp/Zentyr1.wav"), second = U(dir_ + "/tmp/Zentyr2.wav");
  EXPECT_TRUE(d().SettleUntil([&] { return !ov::FileExists(first) && !ov::FileExists(second); }));
  EXPECT_TRUE(d().sm().GetPendingTempFile().IsEmpty());
}

// A messaging program that keeps running: every file handed to it stays
// while it runs, across a turn of the screen, until the next activation
// deletes them all; a file sent after that is deleted when the program is
// quit (which ends through std::exit).
TEST_F(MixerRender, SentFilesGoAtActivationAndAtQuit) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  const std::string stub = dir_ + "/send-and-wait.sh";
  std::ofstream(stub) << "#!/bin/sh\nfor a; do last=$a; done\necho \"$last\" >> '" << dir_
                      << "/sent.txt'\nwhile [ ! -e '" << dir_ << "/release' ]; do sleep 0.05; done\n";
  fs::permissions(stub, fs::perms::owner_all);
  setenv("OVMIX_MESSAGING", stub.c_str(), 1);
  Mixer* mixer = Start(HalfSecondOfClip());
  ASSERT_NE(mixer, nullptr);
  auto render_and_send = [&](int n) {
    d().sm().DoAction(ui::kActionRenderMms, ov::String(), 1);
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
    ASSERT_TRUE(d().SettleUntil([&] {
      std::ifstream in(dir_ + "/sent.txt");
      int lines = 0;
      for (std::string line; std::getline(in, line);) ++lines;
      return lines == n;
    }, 120000));
  };
  render_and_send(1);
  render_and_send(2);
  const ov::String first = U(dir_ + "/tmp/Zentyr1.wav"), second = U(dir_ + "/tmp/Zentyr2.wav");
  EXPECT_TRUE(ov::FileExists(first));
  EXPECT_TRUE(ov::FileExists(second));
  EXPECT_EQ(d().sm().GetPendingTempFile(), second);
  // A turn replaces the screen manager; the files stay for the program
  // that reads them.
  d().window().Rotate();
  d().Settle();
  EXPECT_TRUE(ov::FileExists(first));
  EXPECT_TRUE(ov::FileExists(second));
  d().app().MainWndProc(wnd::Event(wnd::Message::kActivate, 1));
  EXPECT_FALSE(ov::FileExists(first));
  EXPECT_FALSE(ov::FileExists(second));
  EXPECT_TRUE(d().sm().GetPendingTempFile().IsEmpty());

  // The mixer of the turned screen renders again (the first free name).
  mixer = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true));
  ASSERT_NE(mixer, nullptr);
  d().sm().JumpToMenu(u"save_menu");
  render_and_send(3);
  ASSERT_TRUE(ov::FileExists(first));
  EXPECT_EXIT(
      {
        shell::SetEndProcessHook(nullptr);
        d().sm().DoAction(ui::kActionQuit, ov::String(), 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(ov::FileExists(first));
  std::ofstream(dir_ + "/release");
}

// A killed render process: 337, "RENDER_ERROR", and no file.
TEST_F(MixerRender, KilledRenderFailsAndLeavesNoFile) {
  Mixer* mixer =
      Start({MixCommand(0, engine::CMD_MASTER_VOLUME, 0), MixCommand(engine::ActionProcessor::kMaxMixMs, engine::CMD_MASTER_VOLUME, 0)},
            "8001");
  ASSERT_NE(mixer, nullptr);
  d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
  ASSERT_TRUE(mixer->render_active());
  const ov::String out = mixer->output_file();
  // Killed once it has begun writing.
  ASSERT_TRUE(d().SettleUntil([&] { return ov::FileExists(out); }, 120000));
  ASSERT_EQ(::kill(static_cast<pid_t>(mixer->render_process()), SIGKILL), 0);
  ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
  EXPECT_TRUE(PopupShown(u"RENDER_ERROR"));
  EXPECT_FALSE(ov::FileExists(out));
}

// No program to start, or a path the command line cannot quote: 337 at once.
TEST_F(MixerRender, FailedSpawnFails) {
  for (const char* name : {"no_program", "quote\"d"}) {
    SCOPED_TRACE(name);
    const std::string app = dir_ + "/" + name + "/";
    fs::create_directories(app);
    for (const auto& entry : fs::directory_iterator(OVMIX_BIN_DIR)) {
      const std::string file = entry.path().filename().string();
      if (file == "ovmix" && std::string(name) == "no_program") continue;
      fs::create_symlink(entry.path(), app + file);
    }
    Mixer* mixer = Start(HalfSecondOfClip(), "22050", app);
    ASSERT_NE(mixer, nullptr);
    d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
    EXPECT_TRUE(PopupShown(u"RENDER_ERROR"));
    EXPECT_EQ(mixer->render_process(), 0);
    driver_.reset();
  }
}

// Action 9 after a rotation runs ResumeRender: a render still running is
// followed again (and restarted); one that ended meanwhile, before the
// mixer read its result, still succeeds.
TEST_F(MixerRender, ResumeAfterRotationFollowsOrReports) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  for (const bool wait_for_end : {false, true}) {
    SCOPED_TRACE(wait_for_end);
    Mixer* mixer = Start(HalfSecondOfClip());
    ASSERT_NE(mixer, nullptr);
    d().sm().DoAction(ui::kActionRenderDevice, ov::String(), 1);
    ASSERT_TRUE(mixer->render_active());
    mixer->SuspendRender();
    const uint32_t process = static_cast<uint32_t>(mixer->render_process());
    auto running = [process] {
      uint32_t code = 0;
      return ov::GetExitCodeOfProcess(process, &code) && code == 259;
    };
    if (wait_for_end) {
      ASSERT_TRUE(d().SettleUntil([&] { return !running(); }));
    } else {
      ASSERT_TRUE(running());
    }
    mixer->OnAction(ui::kActionAfterRotation, ov::String(), 0);
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->render_active(); }));
    EXPECT_FALSE(PopupShown(u"RENDER_ERROR"));
    EXPECT_EQ(PcmBytes(mixer->output_file()), 44100u);
    driver_.reset();
  }
}

// The extension follows the codecs of the settings (a mix with a picture
// command keeps its video); sound-only AAC kept on a device without the
// ".aac" key is WAV.
TEST_F(MixerRender, OutputExtensionByCodecsAndTheAacKey) {
  Mixer* mixer = Start({MixCommand(0, engine::CMD_NOP, 16)});
  ASSERT_NE(mixer, nullptr);
  const ov::String key = u"Software\\Microsoft\\Shell\\Extensions\\EventSounds\\aac";
  ov::RegistryDeleteKey(ov::RegistryRoot::kLocalMachine, key);
  // The save screen, where the render is asked for, says why a choice is
  // refused.
  ui::Element* choice = d().sm().FindElementByName(nullptr, u"RENDER_CHOICE", true);
  ASSERT_TRUE(choice);
  // A refused choice ("" names no kind of file) opens the popup and keeps the
  // choice before it.
  struct Case {
    const char16_t* type;
    const char16_t* codec;
    bool device, key;
    const char16_t* ext;
    bool refused;
  } cases[] = {
      {u"0", u"514", false, false, u".3gp", false},
      {u"0", u"516", false, false, u".mp4", false},
      {u"0", u"515", false, false, u".mp4", false},  // the outside video encoder object
      {u"0", u"513", false, false, u".wmv", false},
      {u"0", u"517", false, false, u"", true},
      {u"2", u"511", false, false, u".wav", false},
      {u"2", u"1023", false, false, u".amr", false},
      {u"2", u"1279", false, false, u".amr", false},  // AMR-NB's second id
      {u"2", u"767", false, false, u".aac", false},
      {u"2", u"767", true, false, u".wav", false},
      {u"2", u"767", true, true, u".aac", false},
      {u"2", u"1535", false, false, u"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ov::String(c.codec).ToUtf8Lossy() + (c.device ? " device" : "") + (c.key ? " key" : ""));
    if (c.key) {
      ASSERT_TRUE(ov::RegistryCreateKey(ov::RegistryRoot::kLocalMachine, key));
    }
    const ov::String kept = mixer->OutputExtension(c.device);
    d().sm().StoreOption(u"WizardMediaType", c.type);
    d().sm().StoreOption(u"WizardMediaCodec", c.codec);
    mixer->OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
    EXPECT_EQ(choice->IsVisible(), c.refused);
    EXPECT_EQ(mixer->OutputExtension(c.device).ToUtf8Lossy(), (c.refused ? kept : ov::String(c.ext)).ToUtf8Lossy());
    if (c.refused) d().sm().ClosePopup(choice);
  }
}

}  // namespace
