// The mixer element: its channel table, output settings, end time, and the
// ".mix" project file (save, load, clear, failures and damaged files).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "platform/os/archive.h"
#include "platform/os/file.h"
#include "platform/os/process.h"
#include "platform/ui/dialogs.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "screens/project/project_file.h"
#include "screens/project/render_project.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"

namespace {

using ovtest::MixerScreen;
using ovtest::ScreensHost;
using screens::ChannelSelection;
using screens::Mixer;

std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }
ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

class MixerTest : public ::testing::Test {
 protected:
  MixerTest() : dir_(ovtest::ScratchDir()), host_(dir_), screen_(&host_) {}

  // Fills channels 0 (three photos), 1 (a video, effect on) and the start
  // credits' text, and records two engine commands.
  void FillMix() {
    for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
      screen_.channel[0]->AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::TouchFile(dir_, name)),
                                  ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0,
                                  0, 0, 0, 0, 0, nullptr);
    }
    screen_.channel[1]->AddClip(screens::kKindVideo, screens::kFileTypeMp4, U(ovtest::TouchFile(dir_, "v.mp4")),
                                ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0,
                                100, 900, 0, 0, nullptr);
    screen_.channel[1]->set_effect_on(1);
    screen_.channel[1]->SetAudioEffectFromAction(222);
    screen_.channel[6]->GetClipText(0)->textString = u"Opening";
    auto c = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_VOLUME, 2, 26200));
    c->flag = 1;
    host_.engine->PostAction(std::move(c));
    host_.engine->PostAction(std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_PLAY, 16, 1)));
  }

  std::string Path(const char* name) const { return dir_ + "/" + name; }
  std::string Touch(const char* name) const { return ovtest::TouchFile(dir_, name); }
  bool Save(const std::string& path) { return mixer().SaveMix(U(path)); }
  Mixer& mixer() { return *screen_.mixer; }

  std::string dir_;
  ScreensHost host_;
  MixerScreen screen_;
};

TEST_F(MixerTest, InitialiseBuildsTheTableAndTheEngine) {
  ASSERT_NE(host_.engine, nullptr);
  EXPECT_EQ(mixer().mix_engine(), host_.engine.get());
  EXPECT_EQ(mixer().channel_count(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(mixer().entry(i).channel, screen_.channel[i]) << i;
  // The credits start with one empty text clip.
  EXPECT_EQ(screen_.channel[6]->GetKind(), screens::kKindText);
  EXPECT_EQ(screen_.channel[7]->ClipCount(), 1);
  EXPECT_EQ(host_.option_values[u"WizardMediaCodec"], u"65535");
  EXPECT_EQ(mixer().FindChannelIndex(nullptr), -1);
  EXPECT_EQ(mixer().FindChannelIndex(screen_.channel[3]), 3);
  // The engine's own actions (a picture clip ended, a replay ended) reach
  // the shell's queue without a target.
  host_.engine->QueueAppAction(227, u"3");
  EXPECT_EQ(host_.Drain(nullptr), std::vector<int32_t>{227});
}

TEST(MixerTable, ChannelsAttributeTakesSixChannelElementsAtMost) {
  ScreensHost host(ovtest::ScratchDir());
  ui::Menu menu;
  host.menu = &menu;
  std::u16string names;
  for (int i = 0; i < 8; ++i) {
    const std::u16string name{u'c', char16_t(u'0' + i)};
    std::unique_ptr<ui::Element> e;
    if (i == 1) e = std::make_unique<ui::Control>();  // not a channel: skipped
    else e = std::make_unique<ChannelSelection>();
    e->LoadAttribute(u"title", ov::String(std::u16string_view(name)));
    menu.AddChild(std::move(e));
    names += name + u" ";
  }
  auto m = std::make_unique<Mixer>();
  m->LoadAttribute(u"channels", ov::String(std::u16string_view(names)));
  m->LoadAttribute(u"iconVid", u"vid0");
  m->LoadAttribute(u"iconVid9", u"never");
  Mixer* mixer = static_cast<Mixer*>(menu.AddChild(std::move(m)));
  mixer->SetChannels();
  ASSERT_EQ(mixer->channel_count(), 6);
  EXPECT_EQ(Str(mixer->entry(1).channel->title()), u"c2");  // the next channel takes the skipped slot
  EXPECT_EQ(Str(mixer->entry(5).channel->title()), u"c6");
  EXPECT_EQ(Str(mixer->entry(0).iconVidName), u"vid0");
  for (int i = 1; i < 8; ++i) EXPECT_TRUE(mixer->entry(i).iconVidName.IsEmpty());
  host.menu = nullptr;
}

TEST_F(MixerTest, EndTimeFromLengthOrSize) {
  struct Case {
    const char* what;
    int32_t length, size, codec, type, bps;
    uint32_t expected;
  } cases[] = {
      {"length wins", 30, 1000000, 65535, 0, 0, 30000},
      {"no limit", 0, 0, 65535, 0, 0, 0},
      // AAC 96 kbit/s + MPEG-4 128 kbit/s = 28000 bytes/s.
      {"size over both rates", 0, 280000, 65535, 0, 0, 9000},
      // No picture: the AAC rate alone, 12000 bytes/s.
      {"sound only", 0, 120000, 65535, 2, 0, 9000},
      // The low rates: stereo AAC asked for 12 kbit/s is written at the 32
      // kbit/s its object takes at least, with MPEG-4 at 64: 12000 bytes/s.
      {"AAC below its least rate", 0, 120000, 65535, 0, 12 << 16 | 64, 9000},
  };
  for (const Case& c : cases) {
    host_.StoreOption(u"WizardMediaLength", ov::String::Format(u"%d", c.length));
    host_.StoreOption(u"WizardMediaSize", ov::String::Format(u"%d", c.size));
    host_.StoreOption(u"WizardMediaCodec", ov::String::Format(u"%d", c.codec));
    host_.StoreOption(u"WizardMediaType", ov::String::Format(u"%d", c.type));
    host_.StoreOption(u"WizardMediaBps", ov::String::Format(u"%d", c.bps));
    mixer().OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
    mixer().UpdateEndTime();
    EXPECT_EQ(mixer().end_time(), c.expected) << c.what;
  }
  // Neither sound nor picture makes no file: accepting it keeps the settings
  // before it. A mix saved with it still opens, and its zero byte rate is no
  // limit.
  const screens::OutputSettings before = mixer().output_settings();
  host_.StoreOption(u"WizardMediaType", u"3");
  mixer().OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  EXPECT_EQ(mixer().output_settings(), before);
  screens::OutputSettings nothing = before;
  nothing[screens::kWizardMediaType] = 3;
  std::vector<uint8_t> record, bytes;
  engine::ActionProcessor().Serialize(&record);
  screens::WriteProject(nothing, std::vector<ChannelSelection*>(8, nullptr), record, &bytes);
  ASSERT_TRUE(ov::WriteFileAtomically(U(Path("nothing.mix")), bytes.data(), bytes.size()));
  mixer().OnAction(ui::kActionMixLoad, U(Path("nothing.mix")), 0);
  ASSERT_EQ(mixer().output_settings(), nothing);
  mixer().UpdateEndTime();
  EXPECT_EQ(mixer().end_time(), 0u) << "zero byte rate";
}

// Settings accepted with 101 reach the saved file in the file's own order;
// 100 copies them back to the options. Each word differs, and together they
// make a file (AAC sound alone).
TEST_F(MixerTest, AcceptedSettingsReachTheFileInFileOrder) {
  // Memory order: Setting, Type, Size, Length, Codec, Fps, AudioRate,
  // Dimension, Bps.
  const int32_t accepted[] = {100, 2, 102, 103, 767, 105, 106, 107, 108};
  for (int i = 0; i < screens::kOutputSettingCount; ++i) {
    host_.StoreOption(screens::kOutputSettingKeys[size_t(i)], ov::String::Format(u"%d", accepted[i]));
  }
  mixer().OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  ASSERT_TRUE(Save(Path("s.mix")));
  const std::vector<uint8_t> b = ovtest::ReadFileBytes(Path("s.mix"));
  ASSERT_GE(b.size(), 40u);
  auto word = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; };
  EXPECT_EQ(word(0), 110);
  // File order: Setting, Type, Size, Length, Codec, Fps, Dimension, Bps, AudioRate.
  const int memory_index[] = {0, 1, 2, 3, 4, 5, 7, 8, 6};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(word(4 + 4 * size_t(i)), accepted[memory_index[i]]) << i;
  host_.option_values.clear();
  mixer().OnAction(ui::kActionMixerWizard, ov::String(), 0);
  EXPECT_EQ(host_.option_values[u"WizardMediaAudioRate"], u"106");
}

TEST_F(MixerTest, SaveClearLoadAndSaveAgainGiveTheSameBytes) {
  FillMix();
  ASSERT_TRUE(Save(Path("first.mix")));
  EXPECT_EQ(Str(host_.strings[22]), Str(U(Path("first.mix"))));
  const std::vector<uint8_t> first = ovtest::ReadFileBytes(Path("first.mix"));

  mixer().OnAction(ui::kActionMixClear, ov::String(), 0);
  ASSERT_TRUE(Save(Path("cleared.mix")));
  // Six empty clip channels (60 bytes each: no clips; a switched-on effect
  // stays switched on, its type cleared), the credits' empty text clips,
  // an empty record.
  const std::vector<uint8_t> cleared = ovtest::ReadFileBytes(Path("cleared.mix"));
  for (int i = 0; i < 6; ++i) {
    const size_t at = 40 + 60 * size_t(i);
    EXPECT_EQ(std::vector<uint8_t>(cleared.begin() + long(at), cleared.begin() + long(at) + 4),
              (std::vector<uint8_t>{0, 0, 0, 0})) << i;
    EXPECT_EQ(screen_.channel[i]->channel_effect().type, 0u);
  }
  EXPECT_EQ(screen_.channel[6]->GetKind(), screens::kKindText);
  EXPECT_TRUE(screen_.channel[6]->GetClipText(0)->textString.IsEmpty());
  const size_t tail = cleared.size() - 12;  // count 0, then the empty flag trailer
  EXPECT_EQ(std::vector<uint8_t>(cleared.begin() + long(tail), cleared.begin() + long(tail) + 4),
            (std::vector<uint8_t>{0, 0, 0, 0}));

  mixer().OnAction(ui::kActionMixLoad, U(Path("first.mix")), 0);
  EXPECT_EQ(screen_.channel[0]->ClipCount(), 3);
  EXPECT_EQ(Str(screen_.channel[6]->GetClipText(0)->textString), u"Opening");
  ASSERT_EQ(host_.engine->Actions().size(), 2u);
  EXPECT_EQ(host_.engine->Actions()[0].flag, 1u);
  ASSERT_TRUE(Save(Path("again.mix")));
  EXPECT_EQ(ovtest::ReadFileBytes(Path("again.mix")), first);
  // Options 27-35 follow the loaded settings.
  EXPECT_EQ(host_.option_values[u"WizardMediaCodec"], u"65535");
}

// tools/mixdump reads the format on its own: every field of the saved file,
// the flag trailer included, comes out as the mix holds it.
TEST_F(MixerTest, MixdumpDecodesTheSavedProject) {
  FillMix();
  screen_.channel[0]->SetClipCropRect(1, 0x10204080);
  screen_.channel[0]->SetClipCropOn(1, 1);
  ASSERT_TRUE(Save(Path("dump.mix")));
  std::string tools = ovtest::TestDataPath("");
  tools = tools.substr(0, tools.rfind("/tests/")) + "/tools/mixdump";
  const std::string command = "python3 " + tools + " " + Path("dump.mix");
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << out;
  for (const char* expected : {
           "version 110", "WizardMediaCodec=65535", "channel 0: 3 clips",
           "kind=2 fileType=1 displayTime=4000 photoEffect=0 cutStart=0 cutEnd=0 cropRect=0x10204080 cropOn=1",
           "channel 1: 1 clip", "kind=3 fileType=5 displayTime=0 photoEffect=0 cutStart=100 cutEnd=900",
           "loopOn=0 beatMatch=0 effectOn=1", "effect command: type=100 channel=0 timeMs=0 param1=1000",
           "caption: text='Opening'", "engine record: 2 commands",
           "command 0: type=13 channel=2 timeMs=0 param1=26200", "flags: 1 0"}) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  }
}

// tools/mixdump on what it cannot read: a damaged caption gives "damaged:"
// and a missing file "cannot open", each one line on stderr and exit code
// 1, never a traceback.
TEST_F(MixerTest, MixdumpRefusesADamagedCaptionAndAMissingFile) {
  FillMix();
  ASSERT_TRUE(Save(Path("caption.mix")));
  std::vector<uint8_t> bytes = ovtest::ReadFileBytes(Path("caption.mix"));
  // The first hexadecimal digit after the descriptor's "**TEXT**" (UTF-16).
  const std::string marker = std::string("*\0*\0T\0E\0X\0T\0*\0*\0", 16);
  const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  at[16] = 'Z';
  ASSERT_TRUE(ov::WriteWholeFile(U(Path("caption.mix")), bytes.data(), bytes.size()));
  std::string tools = ovtest::TestDataPath("");
  tools = tools.substr(0, tools.rfind("/tests/")) + "/tools/mixdump";
  struct Case {
    std::string file, last_line;
  } cases[] = {
      {Path("caption.mix"), "damaged: caption: 'Zx00000000' at character 8 is no ten-digit hexadecimal field"},
      {Path("absent.mix"), "cannot open " + Path("absent.mix") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    std::FILE* pipe = popen(("python3 " + tools + " " + c.file + " 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string err;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) err.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << err;
    EXPECT_EQ(err, c.last_line + "\n");
  }
}

// "ovtool project" writes a project the mixer loads: clips per channel, the
// credits' texts and a mix script as the engine record.
TEST_F(MixerTest, OvtoolProjectWritesALoadableProject) {
  const std::string script = Path("mix.txt");
  std::ofstream(script) << "0 load 16 " << Path("a.jpg") << "\n0 play 16\n1500 noloop 16\n";
  const std::string command = std::string(OVMIX_BIN_DIR) + "ovtool project " + Path("tool.mix") + " 0=" +
                              Touch("a.jpg") + " 0=" + Touch("b.jpg") + " 3=" + Touch("c.m4a") +
                              " 'start=Our holiday' script=" + script + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_TRUE(mixer().LoadMix(U(Path("tool.mix"))));
  EXPECT_EQ(screen_.channel[0]->ClipCount(), 2);
  EXPECT_EQ(screen_.channel[3]->GetKind(), screens::kKindAudio);
  EXPECT_EQ(screen_.channel[3]->GetClipFileType(0), screens::kFileTypeM4a);
  EXPECT_EQ(Str(screen_.channel[6]->GetClipText(0)->textString), u"Our holiday");
  const auto actions = host_.engine->Actions();
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[2].timeMs, 1500u);
  EXPECT_EQ(actions[2].flag, 1u);
  // A file that is no clip is refused with a reason.
  const std::string refused = std::string(OVMIX_BIN_DIR) + "ovtool project " + Path("bad.mix") + " 0=" +
                              Touch("x.png") + " 2> /dev/null";
  EXPECT_NE(std::system(refused.c_str()), 0);
}

// Every ovtool command answers "--help" and "-h", wherever they stand, with
// its usage and exit 0, and writes nothing (a project named "--help" was
// written before). The commands are those "ovtool --help" lists.
TEST_F(MixerTest, EveryOvtoolCommandPrintsItsUsageForHelp) {
  const std::string folder = dir_ + "/help";
  std::filesystem::create_directories(folder);
  auto run = [&](const std::string& args, std::string* out) {
    const std::string command = "cd '" + folder + "' && " + OVMIX_BIN_DIR + "ovtool " + args + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    out->clear();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string listing;
  ASSERT_EQ(run("--help", &listing), 0);
  std::vector<std::string> names;
  for (size_t at = listing.find("\n  "); at != std::string::npos; at = listing.find("\n  ", at + 1)) {
    names.push_back(listing.substr(at + 3, listing.find(' ', at + 3) - (at + 3)));
  }
  ASSERT_GE(names.size(), 20u) << listing;
  for (const std::string& name : names) {
    for (const std::string& args : {name + " --help", name + " out.mix -h"}) {
      SCOPED_TRACE(args);
      std::string out;
      EXPECT_EQ(run(args, &out), 0);
      EXPECT_EQ(out.rfind("usage: ovtool " + name + " ", 0), 0u) << out;
    }
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path().filename());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(MixerTest, LoadFailuresAndTheirEffectOnTheMix) {
  FillMix();
  ASSERT_TRUE(Save(Path("good.mix")));
  std::vector<uint8_t> wrong = ovtest::ReadFileBytes(Path("good.mix"));
  wrong[0] = 111;
  ASSERT_TRUE(ov::WriteWholeFile(U(Path("v111.mix")), wrong.data(), wrong.size()));
  EXPECT_FALSE(mixer().LoadMix(U(Path("v111.mix"))));
  EXPECT_FALSE(mixer().LoadMix(U(Path("absent.mix"))));
  // MX_LOAD of a file of another version keeps the mix that is open.
  mixer().OnAction(ui::kActionMixLoad, U(Path("v111.mix")), 0);
  EXPECT_EQ(screen_.channel[0]->ClipCount(), 3);
  EXPECT_EQ(host_.engine->Actions().size(), 2u);
  // An empty path loads the last project.
  mixer().OnAction(ui::kActionMixClear, ov::String(), 0);
  EXPECT_TRUE(mixer().LoadMix(ov::String()));
  EXPECT_EQ(screen_.channel[0]->ClipCount(), 3);
  // A project whose second channel names a deleted file loads nothing, not
  // even the first channel.
  mixer().OnAction(ui::kActionMixClear, ov::String(), 0);
  std::remove(Path("v.mp4").c_str());
  EXPECT_FALSE(mixer().LoadMix(U(Path("good.mix"))));
  EXPECT_EQ(mixer().last_load_failure(), Mixer::LoadFailure::kMissingClip);
  EXPECT_EQ(screen_.channel[0]->ClipCount(), 0);
  EXPECT_EQ(screen_.channel[1]->ClipCount(), 0);
  EXPECT_EQ(host_.option_values[u"WizardMediaCodec"], u"65535");
}

// Saving replaces the file whole: over a read-only file it succeeds; when
// the write fails (the file-size limit stands in for a full disk) the old
// project stays and the save reports false.
TEST_F(MixerTest, SaveOverReadOnlyAndFailedWrite) {
  FillMix();
  ASSERT_TRUE(Save(Path("p.mix")));
  const std::vector<uint8_t> before = ovtest::ReadFileBytes(Path("p.mix"));
  ASSERT_TRUE(ov::SetFileAttributes(U(Path("p.mix")), ov::kAttributeReadOnly));
  EXPECT_TRUE(Save(Path("p.mix")));

  screen_.channel[2]->AddClip(screens::kKindAudio, screens::kFileTypeWav, U(ovtest::TouchFile(dir_, "s.wav")),
                              ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0,
                              0, 0, 0, 0, nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // As every run of the program does at its start (shell::WinMain).
    ov::FailWritesPastFileSizeLimit();
    rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(Save(Path("p.mix")) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write reported success";
  EXPECT_EQ(ovtest::ReadFileBytes(Path("p.mix")), before);
}

TEST_F(MixerTest, ProjectCodesSaveToTheDataFolderAndSaveAsAsksBeforeOverwriting) {
  FillMix();
  mixer().OnAction(ui::kActionProjectSave, ov::String(), 0);
  EXPECT_TRUE(ov::FileExists(U(Path("default.vex"))));
  EXPECT_EQ(Str(mixer().project_name()), u"default.vex");

  setenv("OVMIX_DOCUMENTS", dir_.c_str(), 1);
  std::vector<std::u16string> boxes;
  int answer = wnd::kAnswerNo;
  wnd::SetMessageBoxHook([&](const ov::String&, const ov::String& text, uint32_t buttons) {
    boxes.push_back(Str(text));
    EXPECT_EQ(buttons, uint32_t(wnd::kBoxYesNo));
    return answer;
  });
  const std::string target = dir_ + "/Zentyr/Default.mix";
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);
  EXPECT_TRUE(boxes.empty());
  const std::vector<uint8_t> saved = ovtest::ReadFileBytes(target);
  ASSERT_FALSE(saved.empty());
  screen_.channel[0]->RemoveClip(0);
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);  // declined
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(ovtest::ReadFileBytes(target), saved);
  answer = wnd::kAnswerYes;
  mixer().OnAction(ui::kActionMixSave, ov::String(), 0);
  EXPECT_NE(ovtest::ReadFileBytes(target), saved);
  wnd::SetMessageBoxHook(nullptr);
  unsetenv("OVMIX_DOCUMENTS");
}

// Damaged files: every truncation is refused; a flipped count is refused; any
// other flipped byte gives false or a mix that saves and reads back.
TEST_F(MixerTest, DamagedProjects) {
  FillMix();
  ASSERT_TRUE(Save(Path("good.mix")));
  const std::vector<uint8_t> good = ovtest::ReadFileBytes(Path("good.mix"));
  const ov::String bad = U(Path("bad.mix"));
  // Two commands: the flag trailer is its tag, its count and two bytes. A
  // file cut right before it is a file written without one.
  const size_t record_end = good.size() - 10;
  for (size_t n = 0; n < good.size(); n += 3) {
    ASSERT_TRUE(ov::WriteWholeFile(bad, good.data(), n));
    EXPECT_EQ(mixer().LoadMix(bad), n == record_end) << "cut at " << n;
  }
  // The first channel's clip count sits behind the nine settings.
  std::vector<uint8_t> flipped = good;
  flipped[40 + 3] ^= 0x80;
  ASSERT_TRUE(ov::WriteWholeFile(bad, flipped.data(), flipped.size()));
  EXPECT_FALSE(mixer().LoadMix(bad));
  for (size_t at = 40; at < good.size(); at += 5) {
    flipped = good;
    flipped[at] ^= 0xA5;
    ASSERT_TRUE(ov::WriteWholeFile(bad, flipped.data(), flipped.size()));
    if (!mixer().LoadMix(bad)) continue;
    ASSERT_TRUE(Save(Path("resaved.mix")));
    const std::vector<uint8_t> resaved = ovtest::ReadFileBytes(Path("resaved.mix"));
    ASSERT_TRUE(mixer().LoadMix(U(Path("resaved.mix")))) << at;
    ASSERT_TRUE(Save(Path("resaved2.mix")));
    EXPECT_EQ(ovtest::ReadFileBytes(Path("resaved2.mix")), resaved) << at;
  }
}

// A screen rotation carries the mix through "rotate.mix" in the data folder
// and the rest of the mixer's state through the element archive.
TEST_F(MixerTest, RotationStateRoundTrips) {
  FillMix();
  host_.StoreOption(u"WizardMediaLength", u"45");
  mixer().OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  screen_.channel[0]->SetClipCache(0, U(ovtest::TouchFile(dir_, "image0-0-0.raw")), screens::kKindImage);
  ov::Archive saved;
  host_.rotation = true;
  mixer().SaveState(&saved);
  EXPECT_TRUE(ov::FileExists(U(Path("rotate.mix"))));
  for (int i = 0; i < 8; ++i) screen_.channel[i]->SaveState(&saved);

  // The screens are rebuilt: a new mixer screen reads the state back.
  ovtest::MixerScreen rebuilt(&host_);
  ov::Archive loading(saved.Bytes());
  rebuilt.mixer->LoadState(&loading);
  for (int i = 0; i < 8; ++i) rebuilt.channel[i]->LoadState(&loading);
  EXPECT_TRUE(loading.ok()) << loading.error();
  EXPECT_EQ(loading.Remaining(), 0u);
  EXPECT_EQ(rebuilt.channel[0]->ClipCount(), 3);
  EXPECT_EQ(rebuilt.channel[1]->GetKind(), screens::kKindVideo);
  EXPECT_EQ(rebuilt.mixer->output_settings()[screens::kWizardMediaLength], 45);
  // Read back during a rotation, the cache names stay with their clips.
  EXPECT_EQ(Str(rebuilt.channel[0]->GetClipCache(0, screens::kKindImage)), Str(U(Path("image0-0-0.raw"))));
  host_.rotation = false;
}

// A skin naming five clip channels: entry 5 stays empty and the credits
// stand at entries 6 and 7. The save, the turn's copy and the render each
// carry all eight blocks, so the end credits come back; the clear and the
// table's lookups reach them too.
TEST(FiveChannelSkin, SaveTurnAndRenderKeepTheEndCredits) {
  const std::string dir = ovtest::ScratchDir();
  ScreensHost host(dir);
  auto screen = std::make_unique<MixerScreen>(&host, 5);
  Mixer& mixer = *screen->mixer;
  ASSERT_EQ(screen->channel[5], nullptr);
  ASSERT_EQ(mixer.entry(screens::kEndCreditsEntry).channel, screen->channel[7]);
  EXPECT_EQ(mixer.FindChannelIndex(screen->channel[7]), 7);
  screen->channel[0]->AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::TouchFile(dir, "a.jpg")),
                              ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0,
                              0, 0, 0, 0, nullptr);
  screen->channel[6]->GetClipText(0)->textString = u"Opening";
  screen->channel[7]->GetClipText(0)->textString = u"The end";
  mixer.mutable_entry(7).volume = 33;
  host.engine->PostAction(std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_PLAY, 23, 1)));
  auto end_text = [](ChannelSelection* ch) { return Str(ch->GetClipText(0)->textString); };

  // Saved, cleared (the end credits too), loaded back.
  const std::string path = dir + "/five.mix";
  ASSERT_TRUE(mixer.SaveMix(U(path)));
  mixer.OnAction(ui::kActionMixClear, ov::String(), 0);
  EXPECT_EQ(end_text(screen->channel[7]), u"");
  ASSERT_TRUE(mixer.LoadMix(U(path)));
  EXPECT_EQ(end_text(screen->channel[7]), u"The end");
  EXPECT_EQ(end_text(screen->channel[6]), u"Opening");
  EXPECT_EQ(screen->channel[0]->ClipCount(), 1);

  // The render reads the same file whole.
  {
    engine::MixEngine render(nullptr, nullptr);
    ov::String why;
    EXPECT_TRUE(screens::OpenMixForRender(&render, U(path), &why)) << why.ToUtf8Lossy();
    EXPECT_EQ(render.Actions().size(), 1u);
  }

  // A turn: the state and "rotate.mix" go to a new five-channel screen.
  ov::Archive saved;
  host.rotation = true;
  mixer.SaveState(&saved);
  for (int i : {0, 1, 2, 3, 4, 6, 7}) screen->channel[i]->SaveState(&saved);
  screen.reset();
  MixerScreen rebuilt(&host, 5);
  ov::Archive loading(saved.Bytes());
  rebuilt.mixer->LoadState(&loading);
  for (int i : {0, 1, 2, 3, 4, 6, 7}) rebuilt.channel[i]->LoadState(&loading);
  host.rotation = false;
  EXPECT_TRUE(loading.ok()) << loading.error();
  EXPECT_EQ(loading.Remaining(), 0u);
  EXPECT_EQ(end_text(rebuilt.channel[7]), u"The end");
  EXPECT_EQ(rebuilt.mixer->entry(7).volume, 33);
  EXPECT_EQ(rebuilt.channel[0]->ClipCount(), 1);
}

TEST_F(MixerTest, ClipNameShowsPositionAmongPhotos) {
  FillMix();
  auto label = std::make_unique<ui::TextBox>();
  label->LoadAttribute(u"title", u"name0");
  ui::Element* shown = screen_.menu.AddChild(std::move(label));
  mixer().ResolveNames();
  EXPECT_EQ(Str(shown->text()), u"(1/3) one");
}

}  // namespace
