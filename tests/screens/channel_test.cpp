// The channel element on a mixer screen: assignment from the media browser's
// selection, the clear codes, and the mixer's entry reset when a channel
// changes its kind.
#include <gtest/gtest.h>

#include "screens/channel_selection.h"
#include "screens/media_file_record.h"
#include "screens/mixer.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

// A media browser standing in for the real one: an element of its type that
// answers the selection queries from one record.
class FakeBrowser : public ui::Control, public screens::RecordSelection {
 public:
  FakeBrowser() { type_ = ui::kTypeMediaBrowser; }
};

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
  ch->OnAction(screens::kActionChannelAssign, ov::String(), 0);
  ASSERT_EQ(ch->GetKind(), screens::kKindVideo);
  EXPECT_EQ(ch->GetClipFileType(0), screens::kFileTypeMp4);
  EXPECT_EQ(ch->loop_on(), 1);
  EXPECT_EQ(host_.actions.back().code, screens::kActionMixChanged);
  // A broken record is not assigned; a project is loaded instead.
  Select("broken.jpg", 1);
  ch->OnAction(screens::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindVideo);
  Select("old.mix");
  ch->OnAction(screens::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(host_.actions.back().code, screens::kActionMixLoad);
  EXPECT_EQ(std::u16string(host_.actions.back().parameter), std::u16string((U(dir_ + "/old.mix")).View()));
  // Without the focus the code does nothing.
  host_.focused = nullptr;
  Select("song.wav");
  ch->OnAction(screens::kActionChannelAssign, ov::String(), 0);
  EXPECT_EQ(ch->GetKind(), screens::kKindVideo);
}

TEST_F(ChannelOnScreen, ClearCodesReachOnlyTheirChannel) {
  Select("a.jpg");
  for (int i = 2; i <= 3; ++i) {
    host_.focused = screen_.channel[i];
    screen_.channel[i]->OnAction(screens::kActionChannelAssign, ov::String(), 0);
  }
  for (ChannelSelection* ch : {screen_.channel[2], screen_.channel[3]}) {
    ch->OnAction(screens::kActionChannelClear0 + 3, ov::String(), 0);  // CH_CLEAR3
  }
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindImage);
  EXPECT_EQ(screen_.channel[3]->GetKind(), screens::kKindEmpty);
  // CH_CLEAR with a name clears that channel only.
  screen_.channel[2]->OnAction(screens::kActionChannelClear, u"channel_sel3", 0);
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindImage);
  screen_.channel[2]->OnAction(screens::kActionChannelClear, u"channel_sel2", 0);
  EXPECT_EQ(screen_.channel[2]->GetKind(), screens::kKindEmpty);
  // The credits channels' clear keeps one empty text clip.
  screen_.channel[6]->GetClipText(0)->textString = u"Opening";
  screen_.channel[6]->OnAction(screens::kActionCreditsStartClear, ov::String(), 0);
  ASSERT_EQ(screen_.channel[6]->ClipCount(), 1);
  EXPECT_TRUE(screen_.channel[6]->GetClipText(0)->textString.IsEmpty());
}

}  // namespace
