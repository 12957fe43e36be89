// The video editor on a preview engine with a virtual device and virtual
// timing: the commands of its preview read back word by word, the position
// shown, the cut from the play position and from the sliders, the skips at
// both ends, the seek, and the channel opened again after a turn.
#include "screens/editors/text_editor.h"
#include "screens/editors/video_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_timing.h"
#include "engine/mix_engine.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/archive.h"
#include "screens/editors/audio_editor.h"
#include "screens/project/channel_selection.h"
#include "screens/browsers/effect_browser.h"
#include "screens/editors/file_title.h"
#include "screens/editors/preview_engine.h"
#include "screens/project/text_clip.h"
#include "shell/packages.h"
#include "platform/gfx/dc.h"
#include "platform/os/thread.h"
#include "platform/ui/window.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"
#include "ui/menu.h"

namespace {

// Every editor shows a clip without a title of its own by this one rule.
TEST(FileTitle, CutsBetweenTheLastSeparatorAndTheLastDotElseKeepsThePath) {
  const struct {
    const char16_t* path;
    const char16_t* title;
  } cases[] = {
      {u"/home/u/Videos/holiday.3gp", u"holiday"},
      {u"/home/u/my.clips/take.two.mp4", u"take.two"},
      {u"\\My Documents\\song.mp3", u"song"},
      {u"/home/u/Videos/noextension", u"/home/u/Videos/noextension"},
      {u"clip.3gp", u"clip.3gp"},
      {u"/home/u/my.clips/noextension", u"/home/u/my.clips/noextension"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::u16string(screens::FileTitle(c.path).View()), c.title);
  }
}

using engine::EngineCommand;
using screens::VideoEditor;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::string Utf8(const ov::String& s) { return s.ToUtf8Lossy(); }

// The clip: 25 s, so that ten-second skips fit inside it.
constexpr uint32_t kClipMs = 25000;
constexpr int kChannel = 1;  // the editor edits "channel_sel1"

// One command as the test compares it.
std::string Describe(const EngineCommand& c) {
  return "type " + std::to_string(c.type) + " ch " + std::to_string(c.channel) + " p " + std::to_string(c.param1) +
         "," + std::to_string(c.param2) + "," + std::to_string(c.param3) + " path '" + Utf8(c.path) + "' alt '" +
         Utf8(c.altPath) + "'";
}

EngineCommand Command(uint32_t type, uint32_t channel, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0,
                      const ov::String& path = ov::String(), const ov::String& alt = ov::String()) {
  EngineCommand c = engine::MakeCommand(type, channel, p1, p2, p3);
  c.path = path;
  c.altPath = alt;
  return c;
}

std::vector<std::string> Describe(const std::vector<EngineCommand>& list) {
  std::vector<std::string> out;
  for (const EngineCommand& c : list) out.push_back(Describe(c));
  return out;
}

// The skin folder is "/skin", where the effect and overlay files lie.
class EditorHost : public ovtest::ScreensHost {
 public:
  using ScreensHost::ScreensHost;
  ov::String SkinFolder() override { return u"/skin"; }
};

class VideoEditorTest : public ::testing::Test {
 protected:
  VideoEditorTest() : dir_(ovtest::ScratchDir()), host_(dir_) {
    const char* old = std::getenv("TMPDIR");
    old_tmp_ = old ? old : "";
    setenv("TMPDIR", dir_.c_str(), 1);
    // Preview engines on a virtual device, their clock the device's.
    screens::SetPreviewEngineMaker([](int32_t width, int32_t height, uint32_t fps) {
      auto timing = std::make_unique<engine::VirtualTiming>();
      engine::VirtualTiming* clock = timing.get();
      auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                                     std::make_unique<engine::VideoMixer>(width, height, fps, 0),
                                                     std::move(timing));
      mix->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
      engine::MixEngine* e = mix.get();
      clock->SetClock([e] { return e->GetPlayPosition(); });
      return mix;
    });
    screen_ = std::make_unique<ovtest::MixerScreen>(&host_);
    for (const char* name : {"DECOMPRESSION_PROGRESS", "DECOMPRESSION_FAILURE"}) {
      auto popup = std::make_unique<ui::Control>();
      popup->LoadAttribute(u"title", U(name));
      screen_->menu.AddChild(std::move(popup));
    }
    auto editor = std::make_unique<VideoEditor>();
    for (const auto& [name, value] : {std::pair{u"title", u"video_edit"}, {u"xP", u"8"}, {u"yP", u"40"},
                                      {u"xS", u"132"}, {u"yS", u"100"}, {u"borderX", u"2"}, {u"borderY", u"2"},
                                      {u"imageTextMenu", u"text_menu"}, {u"imageEffectMenu", u"videoEffectMenu"},
                                      {u"imageOverlayMenu", u"videoOverlayMenu"}}) {
      editor->LoadAttribute(name, value);
    }
    editor_ = static_cast<VideoEditor*>(screen_->menu.AddChild(std::move(editor)));
    editor_->OnAction(ui::kActionInitialise, ov::String(), 0);
  }
  ~VideoEditorTest() override {
    screen_.reset();
    screens::SetPreviewEngineMaker(nullptr);
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  screens::ChannelSelection& channel() { return *screen_->channel[kChannel]; }
  void AddClip(int32_t cut_start = 0, int32_t cut_end = 0) {
    channel().AddClip(screens::kKindVideo, screens::kFileTypeNone, U(ovtest::FixturePath("screens_video_25s.mp4")),
                      ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0,
                      cut_start, cut_end, screens::kWholePicture, 0, nullptr);
  }
  // Opens the channel as the channel element does and waits for its caches.
  void Open() {
    Act(ui::kActionSetChannel, u"channel_sel1");
    editor_->decompression().Join();
    host_.Drain(editor_);
  }
  void Act(int32_t code, const ov::String& argument = ov::String()) { editor_->OnAction(code, argument, 1); }
  std::vector<EngineCommand> Commands() {
    engine::MixEngine* e = editor_->preview_engine();
    return e ? e->Actions() : std::vector<EngineCommand>();
  }
  // The position slider let go at `percent`.
  void SeekSlider(uint32_t percent) {
    host_.numeric[2] = percent;
    Act(ui::kActionOptionChanged, u"VideoTrackPlayPercentage");
  }
  // Plays the clip afresh and seeks to `ms` (a whole second), waiting until
  // the video channel stands there.
  void PlayAt(uint32_t ms) {
    Act(ui::kActionEditorStop);
    Act(ui::kActionEditorPlay);
    SeekSlider(ms * 100 / kClipMs);
    for (int i = 0; i < 60000 && editor_->Position() != ms; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(editor_->Position(), ms);
  }
  // The last seek posted on the video channel (-1: none).
  int32_t LastSeek() {
    int32_t to = -1;
    for (const EngineCommand& c : Commands()) {
      if (c.type == engine::CMD_SEEK && c.channel == engine::kFirstVideoChannel) to = c.param1;
    }
    return to;
  }
  std::pair<int32_t, int32_t> StoredCut() {
    int32_t s = -1, e = -1;
    channel().GetClipCutPoints(0, &s, &e);
    return {s, e};
  }

  std::string dir_, old_tmp_;
  EditorHost host_;
  std::unique_ptr<ovtest::MixerScreen> screen_;
  VideoEditor* editor_ = nullptr;
};

TEST_F(VideoEditorTest, OpeningReadsTheClipAndDecodesItsPreviewCache) {
  AddClip(3000, 9000);
  Open();
  EXPECT_EQ(editor_->duration(), kClipMs);
  EXPECT_EQ(Utf8(editor_->clip_title()), "screens_video_25s");
  EXPECT_EQ(Utf8(host_.strings[6]), "screens_video_25s");
  EXPECT_EQ(Utf8(host_.strings[7]), "0:25");
  EXPECT_EQ(editor_->cut_start(), 3000u);
  EXPECT_EQ(editor_->cut_end(), 9000u);
  EXPECT_EQ(host_.numeric[38], 12u);
  EXPECT_EQ(host_.numeric[39], 36u);
  // The preview cache, named for channel 1 (the preview's sound plays
  // from the clip itself).
  EXPECT_EQ(Utf8(channel().GetClipCache2(0, screens::kKindVideo)), dir_ + "/Quelvarin/video1-1.raw");
  EXPECT_FALSE(editor_->decompression().started());
}

// StartPreview's commands, word by word: the master volume, the sound on
// channel 0, the decoded video on channel 16 (with the cut when playing the
// selection), then each optional layer only when the clip has it.
TEST_F(VideoEditorTest, PreviewPostsTheClipOnChannels16And0WordByWord) {
  AddClip(2000, 6000);
  Open();
  const ov::String source = channel().GetClipFile(0);
  const ov::String cache = channel().GetClipCache2(0, screens::kKindVideo);
  ASSERT_FALSE(cache.IsEmpty());
  using engine::kFirstVideoChannel;
  // Without text, overlay, effects: the bare preview.
  Act(ui::kActionEditorPlay);
  EXPECT_TRUE(editor_->playing());
  EXPECT_EQ(Describe(Commands()), Describe({Command(engine::CMD_MASTER_VOLUME, 0, 65500),
                                            Command(engine::CMD_LOAD, 0, 0, 0, 0, source),
                                            Command(engine::CMD_LOAD, kFirstVideoChannel, 0, 0, 0, cache),
                                            Command(engine::CMD_PLAY, kFirstVideoChannel, 0, 1, 0),
                                            Command(engine::CMD_VOLUME, 0, 0xFFFF)}));
  Act(ui::kActionEditorStop);
  EXPECT_FALSE(editor_->playing());

  // Every optional layer on, the selection played.
  screens::TextClip caption;
  caption.textString = u"Hello";
  *channel().GetClipText(0) = caption;
  channel().SetClipOverlayFile(0, u"/skin/star.gif");
  channel().SetEffectFile(u"/skin/mask.bmp");
  channel().SetClipPhotoEffect(0, 2);
  channel().channel_effect() = engine::MakeCommand(engine::CMD_FADE, 0, 2000, 4);
  Act(ui::kActionEditorPlaySelection);
  EXPECT_TRUE(editor_->playing_selection());
  const ov::String descriptor = screens::FormatTextClip(caption);
  EXPECT_EQ(Describe(Commands()),
            Describe({Command(engine::CMD_MASTER_VOLUME, 0, 65500), Command(engine::CMD_LOAD, 0, 0, 0, 0, source),
                      Command(engine::CMD_LOAD, kFirstVideoChannel, 0, 2000, 6000, cache),
                      Command(engine::CMD_LOAD_IMAGE, kFirstVideoChannel, 0, 0, 0, descriptor),
                      Command(engine::CMD_LOAD_IMAGE, kFirstVideoChannel, 0x00FF00FF, 0, 0, u"/skin/star.gif",
                              u"/skin/star.gif"),
                      Command(engine::CMD_FILE_EFFECT, kFirstVideoChannel, 0, 0, 0, u"/skin/mask.bmp"),
                      Command(engine::CMD_COLOUR_FILTER, kFirstVideoChannel, 1),
                      Command(engine::CMD_FADE, kFirstVideoChannel, 2000, 4),
                      Command(engine::CMD_PLAY, kFirstVideoChannel, 0, 1, 0), Command(engine::CMD_VOLUME, 0, 0xFFFF)}));

  // The position slider while stopped starts the whole clip from there; while
  // playing it seeks.
  Act(ui::kActionEditorStop);
  channel().Clear();
  AddClip();
  Open();
  SeekSlider(40);
  EXPECT_TRUE(editor_->playing());
  EXPECT_FALSE(editor_->playing_selection());
  const std::vector<EngineCommand> started = Commands();
  ASSERT_GE(started.size(), 4u);
  EXPECT_EQ(Describe(started[3]), Describe(Command(engine::CMD_SEEK, kFirstVideoChannel, 10000)));
  SeekSlider(80);
  EXPECT_EQ(Describe(Commands().back()), Describe(Command(engine::CMD_SEEK, kFirstVideoChannel, 20000)));
  // Another option changing does not seek.
  const size_t count = Commands().size();
  Act(ui::kActionOptionChanged, u"CutFlagStart");
  EXPECT_EQ(Commands().size(), count);
}

TEST_F(VideoEditorTest, TheShownPositionFollowsTheVideoChannel) {
  AddClip();
  Open();
  Act(234);
  EXPECT_EQ(Utf8(host_.strings[8]), "0:00");
  PlayAt(12000);
  Act(234);
  EXPECT_EQ(Utf8(host_.strings[8]), "0:12");
  EXPECT_EQ(host_.numeric[2], 48u);
  PlayAt(24000);
  Act(234);
  EXPECT_EQ(Utf8(host_.strings[8]), "0:24");
  EXPECT_EQ(host_.numeric[2], 96u);
}

// ED_CUTSTART and ED_CUTEND at the play position: a cut start at or after
// the cut end clears the end, a cut end at or before the start clears the
// start; the sliders show percentages of the clip.
TEST_F(VideoEditorTest, CutsFromThePlayPosition) {
  AddClip();
  Open();
  struct Step {
    uint32_t at;
    int32_t code;
    uint32_t start, end;     // the cut after the step
    uint32_t flag_start, flag_end;  // the sliders after it
  };
  const Step steps[] = {
      {5000, ui::kActionEditorCutStart, 5000, 0, 20, 100},     // the start alone
      {15000, ui::kActionEditorCutEnd, 5000, 15000, 20, 60},   // then the end after it
      {15000, ui::kActionEditorCutStart, 15000, 0, 60, 100},   // a start at the end clears it
      {20000, ui::kActionEditorCutEnd, 15000, 20000, 60, 80},
      {10000, ui::kActionEditorCutEnd, 0, 10000, 0, 40},       // an end before the start clears it
      {10000, ui::kActionEditorCutStart, 10000, 0, 40, 100},   // a start on the end clears it
      {0, ui::kActionEditorCutEnd, 0, 0, 0, 100},              // an end at 0: no cut
  };
  for (const Step& s : steps) {
    PlayAt(s.at);
    Act(s.code);
    SCOPED_TRACE(s.at);
    EXPECT_EQ(editor_->cut_start(), s.start);
    EXPECT_EQ(editor_->cut_end(), s.end);
    EXPECT_EQ(StoredCut(), (std::pair<int32_t, int32_t>(int32_t(s.start), int32_t(s.end))));
    EXPECT_EQ(host_.numeric[38], s.flag_start);
    EXPECT_EQ(host_.numeric[39], s.flag_end);
  }
  Act(ui::kActionEditorCutStart);
  Act(ui::kActionEditorCutClear);
  EXPECT_EQ(StoredCut(), (std::pair<int32_t, int32_t>(0, 0)));
}

// The cut sliders (248): percent of the clip + 1 ms; the one whose value
// changed moves; an end not after the start clears the other point; while
// a preview runs the cut stays.
TEST_F(VideoEditorTest, CutsFromTheSliders) {
  AddClip();
  Open();
  // One slider moved at a time; the other shows what the editor last set.
  struct Step {
    int slider;  // 38 start, 39 end
    uint32_t percent;
    int32_t start, end;
  };
  const Step steps[] = {
      {38, 0, 1, 0},          // 0 % gives 1 ms
      {39, 60, 1, 15001},     // the end
      {38, 80, 20001, 0},     // a start past the end clears the end
      {39, 40, 0, 10001},     // an end before the start clears the start
      {38, 20, 5001, 10001},  // the start moved: the end stays
      {39, 100, 5001, 25001}, // the end at 100 %: past the clip's end
      {39, 20, 0, 5001},      // an end on the start clears the start
  };
  for (const Step& s : steps) {
    host_.numeric[s.slider] = s.percent;
    Act(ui::kActionOptionCut);
    SCOPED_TRACE(std::to_string(s.slider) + " " + std::to_string(s.percent));
    EXPECT_EQ(StoredCut(), (std::pair<int32_t, int32_t>(s.start, s.end)));
    EXPECT_EQ(editor_->cut_start(), uint32_t(s.start));
    EXPECT_EQ(editor_->cut_end(), uint32_t(s.end));
  }
  EXPECT_EQ(host_.numeric[38], 0u);
  EXPECT_EQ(host_.numeric[39], 20u);
  // While playing the sliders go back to the cut.
  Act(ui::kActionEditorPlay);
  host_.numeric[38] = 50;
  Act(ui::kActionOptionCut);
  EXPECT_EQ(StoredCut(), (std::pair<int32_t, int32_t>(0, 5001)));
  EXPECT_EQ(host_.numeric[38], 0u);
}

// Ten seconds either way: a skip that would leave the clip does nothing,
// a skip back from exactly ten seconds seeks to 0, and at 0 no skip happens.
TEST_F(VideoEditorTest, SkipsTenSecondsInsideTheClip) {
  AddClip();
  Open();
  struct Case {
    uint32_t at;
    int32_t code;
    int32_t seek;  // the seek posted, -1 none
  };
  const Case cases[] = {
      {5000, ui::kActionEditorSkipForward, 15000}, {15000, ui::kActionEditorSkipBack, 5000},
      {10000, ui::kActionEditorSkipBack, 0},       {5000, ui::kActionEditorSkipBack, -1},
      {15000, ui::kActionEditorSkipForward, 25000}, {20000, ui::kActionEditorSkipForward, -1},
      {0, ui::kActionEditorSkipForward, -1},       {0, ui::kActionEditorSkipBack, -1},
  };
  for (const Case& c : cases) {
    PlayAt(c.at);
    SCOPED_TRACE(std::to_string(c.at) + " " + std::to_string(c.code));
    const size_t before = Commands().size();
    Act(c.code);
    if (c.seek < 0) {
      EXPECT_EQ(Commands().size(), before);
    } else {
      EXPECT_EQ(LastSeek(), c.seek);
      EXPECT_EQ(Commands().size(), before + 1);
    }
    EXPECT_FALSE(editor_->preview_engine()->IsPaused());
  }
}

// The effect and overlay sub-menus: their options loaded from the channel
// (files relative to the skin folder) and stored back when accepted.
TEST_F(VideoEditorTest, TheSubMenusLoadAndStoreTheChannelsEffectAndOverlay) {
  AddClip();
  Open();
  screen_->mixer->SetChannelEffect(kChannel, engine::CMD_FILE_EFFECT, 700, 0, u"/skin/masks/m.bmp");
  Act(237);  // ED_ADDEFFECT
  EXPECT_EQ(host_.jumps.back(), u"videoEffectMenu");
  EXPECT_EQ(host_.numeric[10], uint32_t(engine::CMD_FILE_EFFECT));
  EXPECT_EQ(host_.numeric[11], 700u);
  EXPECT_EQ(host_.numeric[12], 0u);  // a direction of 0 stays 0
  EXPECT_EQ(Utf8(host_.strings[19]), "masks/m.bmp");
  // Accepted as a fade (the file goes) with a new photo time for every clip.
  host_.numeric[10] = engine::CMD_FADE;
  host_.numeric[14] = 3000;
  Act(241);  // ED_ACCEPTEFFECT
  int32_t type = 0, speed = 0, direction = 0;
  ov::String file;
  screen_->mixer->GetChannelEffect(kChannel, &type, &speed, &direction, &file);
  EXPECT_EQ(type, int32_t(engine::CMD_FADE));
  EXPECT_EQ(speed, 700);
  EXPECT_TRUE(file.IsEmpty());
  EXPECT_EQ(channel().effect_on(), 1);
  EXPECT_EQ(channel().GetClipDisplayTime(0), 3000);
  // A file effect keeps its file, whole again.
  host_.numeric[10] = engine::CMD_FILE_EFFECT;
  Act(241);
  screen_->mixer->GetChannelEffect(kChannel, &type, &speed, &direction, &file);
  EXPECT_EQ(Utf8(file), "/skin/masks/m.bmp");

  channel().SetClipOverlayFile(0, u"/skin/ovl/star.gif");
  channel().SetClipPhotoEffect(0, 2);
  host_.numeric[7] = host_.numeric[8] = 1;
  Act(238);  // ED_ADDOVERLAY
  EXPECT_EQ(host_.jumps.back(), u"videoOverlayMenu");
  EXPECT_EQ(Utf8(host_.strings[18]), "ovl/star.gif");
  EXPECT_EQ(host_.numeric[9], 2u);
  EXPECT_EQ(host_.numeric[7], 0u);
  EXPECT_EQ(host_.numeric[8], 0u);
  host_.strings[18] = u"ovl/moon.gif";
  host_.numeric[9] = 3;
  Act(240);  // ED_ACCEPTCHANGES
  EXPECT_EQ(Utf8(channel().GetClipOverlayFile(0)), "/skin/ovl/moon.gif");
  EXPECT_EQ(channel().GetClipPhotoEffect(0), 3);
  // No overlay chosen: none.
  host_.strings[18] = ov::String();
  Act(240);
  EXPECT_TRUE(channel().GetClipOverlayFile(0).IsEmpty());
}

// Without a channel (code 90 naming none) nothing reaches a clip: no
// preview, no cut, no decoding.
TEST_F(VideoEditorTest, WithoutAChannelNothingHappens) {
  Act(ui::kActionSetChannel, u"no_such_channel");
  EXPECT_EQ(editor_->channel(), nullptr);
  const int32_t codes[] = {ui::kActionEditorPlay, ui::kActionEditorPlaySelection, ui::kActionEditorCutStart,
                           ui::kActionEditorCutEnd, ui::kActionEditorSkipForward, ui::kActionOptionCut,
                           ui::kActionEditorToggleLoop, 237, 238, 240, 241, 243, 261};
  for (int32_t code : codes) {
    Act(code);
  }
  SeekSlider(50);
  EXPECT_FALSE(editor_->playing());
  EXPECT_TRUE(Commands().empty());
  EXPECT_FALSE(editor_->decompression().started());
  // An empty channel likewise.
  Act(ui::kActionSetChannel, u"channel_sel1");
  Act(ui::kActionEditorPlay);
  EXPECT_FALSE(editor_->playing());
}

// A turn: the state goes through the archive, the new editor has no
// channel until code 9 opens it again by name, with its clip and cut.
TEST_F(VideoEditorTest, ATurnOpensTheChannelAgain) {
  AddClip(4000, 8000);
  Open();
  Act(ui::kActionEditorPlay);
  ov::Archive saved;
  editor_->SaveState(&saved);

  auto fresh = std::make_unique<VideoEditor>();
  fresh->LoadAttribute(u"xS", u"132");
  fresh->LoadAttribute(u"yS", u"100");
  auto* turned = static_cast<VideoEditor*>(screen_->menu.AddChild(std::move(fresh)));
  turned->OnAction(ui::kActionInitialise, ov::String(), 0);
  ov::Archive loading(saved.Bytes());
  turned->LoadState(&loading);
  EXPECT_EQ(turned->channel(), nullptr);
  EXPECT_FALSE(turned->playing());
  EXPECT_EQ(Utf8(turned->channel_name()), "channel_sel1");
  // Code 9 reopens only while the editor's menu is shown.
  turned->OnAction(ui::kActionAfterRotation, ov::String(), 1);
  EXPECT_EQ(turned->channel(), nullptr);
  host_.history.push_back(&screen_->menu);
  turned->OnAction(ui::kActionAfterRotation, ov::String(), 1);
  EXPECT_EQ(turned->channel(), &channel());
  EXPECT_EQ(turned->duration(), kClipMs);
  EXPECT_EQ(turned->cut_start(), 4000u);
  EXPECT_EQ(turned->cut_end(), 8000u);
  turned->decompression().Join();
  turned->OnAction(ui::kActionEditorPlay, ov::String(), 1);
  EXPECT_TRUE(turned->playing());
}

// The pixels of the editor's picture box on the window.
std::vector<uint16_t> BoxPixels(ovtest::HeadlessDriver& d, const VideoEditor& editor) {
  const gfx::HBitmap& surface = d.window().surface();
  const gfx::Rect box = editor.box();
  std::vector<uint16_t> out;
  for (int32_t y = box.top; y < box.bottom; ++y) {
    const uint16_t* row = surface->bits() + size_t(y) * size_t(surface->stride());
    out.insert(out.end(), row + box.left, row + box.right);
  }
  return out;
}

// Headless on the default skin, `channel_sel0` holding the 25 s clip: the
// mixer screen entered and its decoding finished, then the channel's video
// icon tapped, which opens the editor on it.
class VideoEditorScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    env_.Set("TMPDIR", dir_);
    env_.Set("OVMIX_IPC_SCOPE", "vid" + std::to_string(ov::GetCurrentProcessId()));
    env_.Set("XDG_DATA_HOME", dir_ + "/xdg");
    env_.Set("OVMIX_DOCUMENTS", dir_);
    env_.Set("OVMIX_CARDS", "");
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_);
  }
  void TearDown() override {
    driver_.reset();
    env_.Restore();
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  VideoEditor* Editor() { return dynamic_cast<VideoEditor*>(d().sm().FindElementByType(nullptr, ui::kTypeVideoEditor, 1)); }
  void OpenEditor() {
    ASSERT_TRUE(d().ok());
    channel_ = dynamic_cast<screens::ChannelSelection*>(
        d().sm().FindElementByName(d().sm().menu_container(), u"channel_sel0", true));
    ASSERT_NE(channel_, nullptr);
    channel_->AddClip(screens::kKindVideo, screens::kFileTypeNone, clip_, ov::String(), ov::String(),
                      screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, screens::kWholePicture, 0,
                      nullptr);
    ASSERT_TRUE(d().TapElement(u"main_0"));
    ASSERT_EQ(d().Menu(), u"mixing_menu");
    channel_->Refresh();
    // The mixer decodes the clip for the mix first, behind its popup.
    auto* mixer = dynamic_cast<screens::Mixer*>(d().sm().FindElementByType(nullptr, ui::kTypeMixer, 1));
    ASSERT_NE(mixer, nullptr);
    ASSERT_TRUE(d().SettleUntil([&] { return !mixer->decoding(); }));
    d().Settle();
    ASSERT_TRUE(d().TapElement(u"vid0"));
    ASSERT_EQ(d().Menu(), u"video_editor");
    VideoEditor* editor = Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->channel(), channel_);
    ASSERT_TRUE(d().SettleUntil([&] { return !editor->decompression().started(); }));
    ASSERT_FALSE(channel_->GetClipCache2(0, screens::kKindVideo).IsEmpty());
    d().Settle();
  }

  std::string dir_;
  ovtest::ScopedEnv env_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
  screens::ChannelSelection* channel_ = nullptr;
  const ov::String clip_ = U(ovtest::FixturePath("screens_video_25s.mp4"));
};

// "Text" opens the text screen on the video's caption.
TEST_F(VideoEditorScreen, TextOpensTheCaptionOfTheVideo) {
  OpenEditor();
  channel_->GetClipText(0)->textString = u"Under the video";
  d().sm().DoAction(ui::kActionAddText, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"imageTextMenu");
  auto* text = dynamic_cast<screens::TextEditor*>(d().sm().FindElementByType(nullptr, ui::kTypeTextEditor, 1));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->channel(), channel_);
  EXPECT_EQ(text->clip(), channel_->GetClipText(0));
  EXPECT_EQ(text->text(), u"Under the video");
}

// A playing preview changes the picture box as the device plays.
TEST_F(VideoEditorScreen, APlayingPreviewChangesThePictureBox) {
  ASSERT_TRUE(d().UseVirtualWaveOut());
  OpenEditor();
  VideoEditor* editor = Editor();
  const std::vector<uint16_t> idle = BoxPixels(d(), *editor);
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  ASSERT_TRUE(editor->playing());
  // Plays until the picture has moved on twice.
  std::vector<uint16_t> first, later;
  for (int i = 0; i < 2000 && editor->playing() && (first.empty() || later.empty()); ++i) {
    d().AdvanceDevice(2205);  // 100 ms
    d().Settle();
    ov::Sleep(1);
    const std::vector<uint16_t> now = BoxPixels(d(), *editor);
    if (first.empty() && now != idle && editor->Position() >= 1000) first = now;
    else if (!first.empty() && editor->Position() >= 3000 && now != first) later = now;
  }
  ASSERT_FALSE(first.empty()) << "the box never showed the video";
  ASSERT_FALSE(later.empty()) << "the box stood still at " << editor->Position();
  d().SavePng(dir_ + "/video_editor.png");  // for review
}

// On a device that plays in real time and the system's clock, with every
// processor kept busy: the sound and the picture keep time with the wall
// clock, and the box follows.
TEST_F(VideoEditorScreen, ThePreviewKeepsRealTimeOnALoadedMachine) {
  screens::SetPreviewEngineMaker([](int32_t width, int32_t height, uint32_t fps) {
    auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                                   std::make_unique<engine::VideoMixer>(width, height, fps, 0));
    mix->SetDeviceFactory([] { return std::make_unique<ov::RealTimeWaveOutDevice>(); });
    return mix;
  });
  OpenEditor();
  VideoEditor* editor = Editor();
  const std::vector<uint16_t> idle = BoxPixels(d(), *editor);
  std::atomic<bool> busy{true};
  std::vector<std::thread> load;
  for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i) {
    load.emplace_back([&busy] {
      volatile uint64_t x = 0;
      while (busy.load(std::memory_order_relaxed)) x = x + 1;
    });
  }
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  ASSERT_TRUE(editor->playing());
  engine::MixEngine* mix = editor->preview_engine();
  ASSERT_NE(mix, nullptr);
  // Three seconds of wall time from the first picture past the start. The
  // picture and the sound follow the engine's clock, read with them; that
  // clock follows the wall clock read around it: never ahead (one device
  // period aside), and moving on however loaded the machine is.
  ASSERT_TRUE(d().SettleUntil([&] { return editor->Position() > 0; }));
  d().Settle();
  const auto start = std::chrono::steady_clock::now();
  const uint32_t clock_from = mix->GetPlayPosition();
  const uint32_t from = editor->Position();
  const int64_t sound_from = mix->audioMixer()->GetVoicePosition(0);
  bool moved = false;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
    d().Settle();
    ov::Sleep(10);
    if (!moved && BoxPixels(d(), *editor) != idle) moved = true;
  }
  d().Settle();
  const uint32_t pictures = editor->Position() - from;
  const int64_t sound = mix->audioMixer()->GetVoicePosition(0) - sound_from;
  const uint32_t clock = mix->GetPlayPosition() - clock_from;
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  busy = false;
  for (std::thread& t : load) t.join();
  EXPECT_TRUE(moved) << "the box never showed the video";
  // The clip's pictures are 200 ms apart, the sound is read in blocks.
  EXPECT_NEAR(double(pictures), double(clock), 400.0) << "pictures from " << from;
  EXPECT_NEAR(double(sound), double(clock), 400.0) << "sound from " << sound_from;
  EXPECT_LE(double(clock), double(wall.count()) + 50.0);
  EXPECT_GE(double(clock), double(wall.count()) / 2) << "the clock fell behind the time";
  d().sm().DoAction(ui::kActionEditorStop, ov::String(), 1);
  d().Settle();
  EXPECT_FALSE(editor->playing());
}

// Overlay: a row tapped and OK lays it over the clip; Overlay again opens
// the list on that row, and OK without a tap keeps the clip's overlay.
TEST_F(VideoEditorScreen, TheOverlayListReopensOnTheChosenRow) {
  // The overlay pictures come from the media package.
  ASSERT_TRUE(shell::MediaPackage().Open(U(OVMIX_BIN_DIR "media.pak")));
  struct Closer {
    ~Closer() { shell::MediaPackage().Close(); }
  } closer;
  OpenEditor();
  auto open_overlay = [&]() -> screens::EffectBrowser* {
    d().sm().DoAction(ui::kActionEditorAddOverlay, ov::String(), 1);
    d().Settle();
    EXPECT_EQ(d().Menu(), u"video_overlay_menu");
    return dynamic_cast<screens::EffectBrowser*>(
        d().sm().FindElementByName(d().sm().menu_container(), u"video_overlay_menu_list", true));
  };
  auto accept = [&] {
    d().sm().DoAction(ui::kActionEditorAcceptChanges, ov::String(), 1);
    d().Settle();
    EXPECT_EQ(d().Menu(), u"video_editor");
  };
  screens::EffectBrowser* list = open_overlay();
  ASSERT_NE(list, nullptr);
  list->Rebuild();  // the package opened after the screens were built
  d().Settle();
  int row = 0;
  for (auto p = list->items().begin(); p != list->items().end() && p->name != ov::String(u"frame.bmp"); ++p) ++row;
  ASSERT_LT(row, int(list->items().size()));
  d().Tap(list->x() + 20, list->y() + row * list->row_height() + 5);
  d().Settle();
  ASSERT_NE(list->selected(), list->None());
  ASSERT_EQ(list->selected()->name, ov::String(u"frame.bmp"));
  accept();
  const ov::String chosen = channel_->GetClipOverlayFile(0);
  ASSERT_GT(chosen.Length(), 9);
  EXPECT_EQ(Utf8(chosen.Mid(chosen.Length() - 9)), "frame.bmp");

  list = open_overlay();
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list->selected(), list->None());
  EXPECT_EQ(Utf8(list->selected()->name), "frame.bmp");
  accept();
  EXPECT_EQ(Utf8(channel_->GetClipOverlayFile(0)), Utf8(chosen));
}

// A turn brings the editor back on the same channel (code 9).
TEST_F(VideoEditorScreen, ATurnReopensTheChannel) {
  OpenEditor();
  d().Key(wnd::Key::kRotate);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"video_editor");
  VideoEditor* editor = Editor();
  ASSERT_NE(editor, nullptr);
  ASSERT_NE(editor->channel(), nullptr);
  EXPECT_EQ(std::u16string(editor->channel()->GetClipFile(0).View()), std::u16string(clip_.View()));
  EXPECT_EQ(editor->duration(), kClipMs);
  EXPECT_FALSE(editor->playing());
  ASSERT_TRUE(d().SettleUntil([&] { return !editor->decompression().started(); }));
  d().SavePng(dir_ + "/video_editor_turned.png");  // for review
}

}  // namespace
