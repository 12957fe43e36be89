// The channel element on a mixer screen: assignment from the media browser's
// selection, the clear codes, and the mixer's entry reset when a channel
// changes its kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/os/file.h"
#include "platform/ui/dialogs.h"
#include "screens/project/channel_selection.h"
#include "screens/browsers/media_file_record.h"
#include "screens/mixer/mixer.h"
#include "screens/screens.h"
#include "ui/menu.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }

using ovtest::FakeBrowser;

class ChannelOnScreen : public ::testing::Test {
 protected:
  ChannelOnScreen() : dir_(ovtest::ScratchDir()), host_(dir_), screen_(&host_) {
    browser_ = static_cast<FakeBrowser*>(screen_.menu.AddChild(std::make_unique<FakeBrowser>()));
  }
  void Select(const std::string& name, int32_t broken = 0) {
    record_.folder = U(dir_ + "/");
    record_.name = U(name);
    record_.broken = broken;
    record_.fileType = screens::FileTypeOfPath(record_.name, &record_.kind);
    if (record_.kind != screens::kKindProject) ovtest::TouchFile(dir_, name);
    browser_->Select(&record_);
  }
  std::string dir_;
  ovtest::ScreensHost host_;
  ovtest::MixerScreen screen_;
  FakeBrowser* browser_ = nullptr;
  screens::MediaFileRecord record_;
};

TEST_F(ChannelOnScreen, AssignTakesTheBrowserSelection) {
  ChannelSelection* ch = screen_.channel[2];
  host_.focused = ch;
  Select("holiday.mp4");
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  ASSERT_EQ(ch->GetKind(), screens::kKindVideo);
  EXPECT_EQ(ch->GetClipFileType(0), screens::kFileTypeMp4);
  EXPECT_EQ(ch->loop_on(), 1);
  EXPECT_EQ(host_.actions.back().code, ui::kActionMixChanged);
  // A broken record is not assigned; a project is loaded instead.
  Select("broken.jpg", 1);
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindVideo);
  Select("old.mix");
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(host_.actions.back().code, ui::kActionMixLoad);
  EXPECT_EQ(std::u16string(host_.actions.back().parameter), std::u16string((U(dir_ + "/old.mix")).View()));
  // Without the focus the code does nothing.
  host_.focused = nullptr;
  Select("song.wav");
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindVideo);
}

// A sound the readers cannot decode is not taken into the channel: a box
// names the file and the reason. A 24-bit PCM file is taken.
TEST_F(ChannelOnScreen, AssignRefusesSoundItCannotDecode) {
  std::vector<std::u16string> boxes;
  wnd::SetMessageBoxHook([&](const ov::String& caption, const ov::String& text, uint32_t) {
    boxes.push_back(std::u16string((caption + u": " + text).View()));
    return wnd::kAnswerOk;
  });
  ChannelSelection* ch = screen_.channel[1];
  host_.focused = ch;
  Select("text.wav");
  std::ofstream(dir_ + "/text.wav") << "some words, no sound";
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindEmpty);
  // 24 bits at 96 kHz, stereo, as sox writes it: WAVE_FORMAT_EXTENSIBLE.
  Select("extensible.wav");
  {
    std::vector<uint8_t> wav = ovtest::ReadFileBytes(dir_ + "/extensible.wav");
    ASSERT_GE(wav.size(), 44u);
    const uint8_t format[16] = {0xFE, 0xFF, 2, 0, 0x00, 0x77, 0x01, 0, 0x00, 0xCA, 0x08, 0, 6, 0, 24, 0};
    std::copy(std::begin(format), std::end(format), wav.begin() + 20);
    ASSERT_TRUE(ov::WriteWholeFile(U(dir_ + "/extensible.wav"), wav.data(), wav.size()));
  }
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindEmpty);
  EXPECT_FALSE(host_.actions.size() && host_.actions.back().code == ui::kActionMixChanged);
  Select("pcm24.wav");  // the same bytes under format 1: 24-bit PCM plays
  {
    std::vector<uint8_t> wav = ovtest::ReadFileBytes(dir_ + "/pcm24.wav");
    const uint8_t format[16] = {1, 0, 2, 0, 0x00, 0x77, 0x01, 0, 0x00, 0xCA, 0x08, 0, 6, 0, 24, 0};
    std::copy(std::begin(format), std::end(format), wav.begin() + 20);
    ASSERT_TRUE(ov::WriteWholeFile(U(dir_ + "/pcm24.wav"), wav.data(), wav.size()));
  }
  ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindAudio);
  wnd::SetMessageBoxHook(nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], u"Clip not added: text.wav: not a RIFF WAVE file, or its header is damaged");
  EXPECT_EQ(boxes[1], u"Clip not added: extensible.wav: sound format 0xFFFE (extensible): only PCM (format 1) and "
                      u"GSM 6.10 (format 49) are read");
}

// The quick-assign key (and its alternates) assigns without the focus; the
// jump to the mix is offered once more than two channels are used (the two
// credits channels always are: one clip channel is enough).
TEST_F(ChannelOnScreen, QuickAssignKeysAndTheJumpToTheMix) {
  auto jump = std::make_unique<ui::Control>();
  jump->LoadAttribute(u"action", u"PB_JUMPTOMIX");
  ui::Element* jump_item = screen_.menu.AddChild(std::move(jump));
  for (int i = 0; i < 3; ++i) screen_.channel[i]->LoadAttribute(u"quickAssignKey", ov::String::Format(u"%d", i));
  const int32_t keys[3] = {30, 6, 37};  // 0's second alternate, the digit 1, 2's alternate
  Select("a.wav");
  screen_.channel[0]->UpdateMixerActions();
  EXPECT_FALSE(jump_item->IsEnabled());
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(screen_.channel[i]->OnDirectionKey(keys[k]), i == k) << i << " " << k;
    }
    EXPECT_EQ(screen_.channel[i]->GetKind(), screens::kKindAudio) << i;
    EXPECT_TRUE(jump_item->IsEnabled()) << i;
  }
  EXPECT_FALSE(screen_.channel[3]->OnDirectionKey(8));  // no quick-assign key of its own
}

TEST_F(ChannelOnScreen, ClearCodesReachOnlyTheirChannel) {
  Select("a.jpg");
  for (int i = 2; i <= 3; ++i) {
    host_.focused = screen_.channel[i];
    screen_.channel[i]->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  }
  for (ChannelSelection* ch : {screen_.channel[2], screen_.channel[3]}) {
    ch->OnAction(ui::kActionChannelClear0 + 3, ov::String(), 0);  // CH_CLEAR3
  }
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindImage);
  EXPECT_EQ(screen_.channel[3]->GetKind(), screens::kKindEmpty);
  // CH_CLEAR with a name clears that channel only.
  screen_.channel[2]->OnAction(ui::kActionChannelClear, u"channel_sel3", 0);
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindImage);
  screen_.channel[2]->OnAction(ui::kActionChannelClear, u"channel_sel2", 0);
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindEmpty);
  // The credits channels' clear keeps one empty text clip.
  screen_.channel[6]->GetClipText(0)->textString = u"Opening";
  screen_.channel[6]->OnAction(ui::kActionCreditsStartClear, ov::String(), 0);
  ASSERT_EQ(screen_.channel[6]->ClipCount(), 1);
  EXPECT_TRUE(screen_.channel[6]->GetClipText(0)->textString.IsEmpty());
}

// Clearing a channel deletes its cache files (never the clip's own file),
// except while a rotation rebuilds the screens.
TEST_F(ChannelOnScreen, CacheFilesGoWithTheClearUnlessRotating) {
  Select("a.jpg");
  host_.focused = screen_.channel[0];
  screen_.channel[0]->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  const ov::String cache = U(ovtest::TouchFile(dir_, "image0-0-0.raw"));
  const ov::String source = screen_.channel[0]->GetClipFile(0);
  screen_.channel[0]->SetClipCache(0, cache, screens::kKindImage);
  screen_.channel[0]->SetClipCache2(0, source, screens::kKindImage);  // a cache naming the source itself
  host_.rotation = true;
  screen_.channel[0]->DeleteClipCaches(0);
  EXPECT_TRUE(ov::FileExists(cache));
  EXPECT_TRUE(screen_.channel[0]->GetClipCache(0, screens::kKindImage).IsEmpty());
  screen_.channel[0]->SetClipCache(0, cache, screens::kKindImage);
  screen_.channel[0]->SetClipCache2(0, source, screens::kKindImage);
  host_.rotation = false;
  screen_.channel[0]->Clear();
  EXPECT_FALSE(ov::FileExists(cache));
  EXPECT_TRUE(ov::FileExists(source));
  EXPECT_FALSE(screens::DeleteFileRetry(cache));  // already gone
}

// A photo's cache lasts its display time and a channel's only photo is a
// still: a second photo added or all but one removed makes the remaining
// photo's cache stale, so it goes and the clip needs its cache again.
TEST_F(ChannelOnScreen, APhotoCacheGoesWhenItsTimeToShowChanges) {
  ChannelSelection& ch = *screen_.channel[0];
  auto add = [&](const char* name) {
    ch.AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(ovtest::TouchFile(dir_, name)), ov::String(),
               ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 4000, 0, 0, 0,
               screens::kWholePicture, 0, nullptr);
  };
  auto cache = [&](int clip) {
    const ov::String name = U(ovtest::TouchFile(dir_, "image0-" + std::to_string(clip) + "-0.raw"));
    ch.SetClipCache(clip, name, screens::kKindImage);
    return name;
  };
  add("one.jpg");
  ASSERT_EQ(ch.GetClipDisplayTime(0), 0);
  const ov::String still = cache(0);
  add("two.jpg");
  EXPECT_EQ(ch.GetClipDisplayTime(0), 4000);
  EXPECT_TRUE(ch.GetClipCache(0, screens::kKindImage).IsEmpty());
  EXPECT_FALSE(ov::FileExists(still));
  EXPECT_TRUE(ch.ClipNeedsPictureCache(0, false));
  const ov::String first = cache(0), second = cache(1);
  add("three.jpg");  // the others keep their time to show, and their caches
  EXPECT_EQ(Str(ch.GetClipCache(0, screens::kKindImage)), Str(first));
  ch.RemoveClip(2);
  ch.RemoveClip(0);
  EXPECT_EQ(ch.GetClipDisplayTime(0), 0);
  EXPECT_TRUE(ch.GetClipCache(0, screens::kKindImage).IsEmpty());
  EXPECT_FALSE(ov::FileExists(second));
}

// The clip order list reaches a real channel and the mixer's table through
// the links the widgets see: moves and removals change the channel's clips,
// a clear of one kind drops only that kind's caches, and the mixer finds the
// channel's entry.
TEST_F(ChannelOnScreen, WidgetLinksReachTheChannelAndTheMixer) {
  ChannelSelection* ch = screen_.channel[2];
  host_.focused = ch;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    Select(name);
    ch->OnAction(ui::kActionChannelAssign, ov::String(), 0);
  }
  ui::ChannelLink* link = ch->AsChannel();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(link->ClipCount(), 3);
  link->MoveClip(0, 2);
  EXPECT_EQ(link->GetClipFile(0), U(dir_ + "/b.jpg"));
  EXPECT_EQ(link->GetClipFile(2), U(dir_ + "/a.jpg"));
  link->RemoveClip(1);
  ASSERT_EQ(ch->ClipCount(), 2);
  EXPECT_EQ(ch->GetClipFile(1), U(dir_ + "/a.jpg"));

  const ov::String picture = U(ovtest::TouchFile(dir_, "image0-2-0.raw"));
  const ov::String sound = U(ovtest::TouchFile(dir_, "audio7.qvs"));
  ch->SetClipCache(0, picture, screens::kKindImage);
  ch->SetClipCache(0, sound, screens::kKindAudio);
  link->ClearChannel(screens::kKindImage);
  EXPECT_FALSE(ov::FileExists(picture));
  EXPECT_TRUE(ov::FileExists(sound));
  EXPECT_TRUE(ch->GetClipCache(0, screens::kKindImage).IsEmpty());
  EXPECT_EQ(ch->GetClipCache(0, screens::kKindAudio), sound);
  EXPECT_EQ(ch->ClipCount(), 2);

  ui::MixerLink* mixer = screen_.mixer->AsMixer();
  ASSERT_NE(mixer, nullptr);
  EXPECT_EQ(mixer->FindChannelIndex(ch), 2);
  EXPECT_EQ(mixer->FindChannelIndex(screen_.mixer), -1);
  EXPECT_EQ(mixer->FindChannelIndex(nullptr), -1);
}

}  // namespace

namespace {

// The screens' classes take the places of their placeholders in the element
// factory; the other keywords keep theirs.
TEST(ScreensRegistration, ReplacesThePlaceholdersInPlace) {
  screens::RegisterElements();
  EXPECT_NE(dynamic_cast<screens::Mixer*>(ui::CreateElement(u"mixer").get()), nullptr);
  EXPECT_NE(dynamic_cast<ChannelSelection*>(ui::CreateElement(u"CHANNELSELECTION").get()), nullptr);
  const std::unique_ptr<ui::Element> preview = ui::CreateElement(u"PREVIEWMIXER");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->GetType(), ui::kTypePreviewMixer);
  EXPECT_NE(dynamic_cast<screens::Mixer*>(preview.get()), nullptr);  // a Mixer that replays
  const std::unique_ptr<ui::Element> panel = ui::CreateElement(u"MixerSelection");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->GetType(), ui::kTypeMixerSelection);
  // A keyword of a class not built here keeps its placeholder.
  const std::unique_ptr<ui::Element> browser = ui::CreateElement(u"MEDIABROWSER");
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(dynamic_cast<screens::Mixer*>(browser.get()), nullptr);
  // Registering again replaces the one entry of that keyword.
  EXPECT_EQ(ui::RegisterElementType(u"MIXER", [] { return std::unique_ptr<ui::Element>(new screens::Mixer); }), 1);
}

}  // namespace
