// The shared decoding-to-cache worker of the mixer and the editors: the
// popup, the result actions, the names handed back on the UI thread only,
// a cancel and destruction while it decodes.
#include "screens/editors/editor_decompression.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/file.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;
using screens::EditorDecompression;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }
bool Exists(const std::string& path) { return ov::GetFileAttributes(U(path)) != ov::kInvalidAttributes; }

class EditorDecompressionTest : public ::testing::Test {
 protected:
  EditorDecompressionTest() : dir_(ovtest::ScratchDir()), host_(dir_) {
    const char* old = std::getenv("TMPDIR");
    old_tmp_ = old ? old : "";
    setenv("TMPDIR", dir_.c_str(), 1);
    host_.menu = &menu_;
    for (const char* name : {"DECOMPRESSION_PROGRESS", "DECOMPRESSION_FAILURE"}) {
      auto popup = std::make_unique<ui::Control>();
      popup->LoadAttribute(u"title", U(name));
      popups_.push_back(menu_.AddChild(std::move(popup)));
    }
    owned_channel_->LoadAttribute(u"title", u"channel_sel3");
  }
  ~EditorDecompressionTest() override {
    worker_.reset();
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  void Add(int32_t kind, const std::string& source, int32_t cut_start = 0) {
    channel_->AddClip(kind, screens::kFileTypeNone, U(source), ov::String(), ov::String(), screens::kWholePicture,
                      screens::kWholePicture, 500, 0, 0, cut_start, 0, screens::kWholePicture, 0, nullptr);
  }
  // The video editor's run: its one channel, at its table index 3, the
  // preview caches.
  void StartEditorRun() {
    screens::DecompressionJob job;
    job.channels = {channel_};
    job.preview = true;
    job.index_base = 3;
    worker_->Start(&host_, std::move(job));
  }
  void WaitUntilEnded() {
    for (int i = 0; i < 20000 && worker_->running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(worker_->running());
  }
  // Starts decoding a long sound and returns once its cache is being written.
  void StartLongRun() {
    const std::string song = dir_ + "/long.wav";
    ovtest::WriteLongWav(song, 120);
    Add(screens::kKindAudio, song, 100);
    StartEditorRun();
    for (int i = 0; i < 60000 && !Exists(Cache("audio3.qvs")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(Exists(Cache("audio3.qvs")));
    ASSERT_TRUE(worker_->running());
  }
  std::string Cache(const char* name) const { return dir_ + "/Quelvarin/" + name; }

  std::string dir_, old_tmp_;
  ovtest::ScreensHost host_;
  ui::Menu menu_;
  std::vector<ui::Element*> popups_;
  std::unique_ptr<ChannelSelection> owned_channel_ = std::make_unique<ChannelSelection>();
  ChannelSelection* channel_ = owned_channel_.get();
  std::unique_ptr<EditorDecompression> worker_ = std::make_unique<EditorDecompression>();
};

TEST_F(EditorDecompressionTest, NamesReachTheChannelOnlyOnTheUiThreadAfterTheWorkerEnded) {
  Add(screens::kKindVideo, ovtest::FixturePath("media_h263_amr.3gp"));
  ASSERT_TRUE(channel_->ClipNeedsPictureCache(0, true));
  host_.numeric[4] = 77;
  host_.strings[12] = u"old";
  StartEditorRun();
  // The progress is reset and the popup opened before the worker runs.
  EXPECT_EQ(host_.numeric[4], 0u);
  EXPECT_TRUE(host_.strings[12].IsEmpty());
  ASSERT_EQ(host_.opened.size(), 1u);
  EXPECT_EQ(host_.opened[0], popups_[0]);
  WaitUntilEnded();
  // The worker wrote its copies only: the channel still needs its caches.
  EXPECT_TRUE(channel_->GetClipCache2(0, screens::kKindVideo).IsEmpty());
  EXPECT_TRUE(channel_->ClipNeedsPictureCache(0, true));
  EXPECT_TRUE(Exists(Cache("video3-1.raw")));
  // A tick joins the ended worker, hands the names back and shows the progress.
  worker_->Tick(&host_);
  EXPECT_FALSE(worker_->started());
  EXPECT_EQ(Str(channel_->GetClipCache2(0, screens::kKindVideo)), Str(U(Cache("video3-1.raw"))));
  EXPECT_FALSE(channel_->ClipNeedsPictureCache(0, true));
  EXPECT_FALSE(host_.strings[12].IsEmpty());
  // The result action closes the popup.
  EXPECT_EQ(host_.Drain(nullptr), std::vector<int32_t>{ui::kActionDecompressDone});
  EXPECT_TRUE(worker_->OnAction(&host_, ui::kActionDecompressDone, ov::String()));
  ASSERT_FALSE(host_.closed.empty());
  EXPECT_EQ(host_.closed.back(), popups_[0]);
}

TEST_F(EditorDecompressionTest, AFailureQueues340AndItsPopupComesAndGoes) {
  const std::string bad = dir_ + "/bad.3gp";
  std::FILE* f = std::fopen(bad.c_str(), "wb");
  std::fputs("no video", f);
  std::fclose(f);
  Add(screens::kKindVideo, bad);
  StartEditorRun();
  WaitUntilEnded();
  EXPECT_EQ(host_.Drain(nullptr), std::vector<int32_t>{ui::kActionDecompressFailed});
  EXPECT_TRUE(worker_->OnAction(&host_, ui::kActionDecompressFailed, U(bad)));
  EXPECT_EQ(host_.opened.back(), popups_[1]);
  EXPECT_TRUE(channel_->GetClipCache2(0, screens::kKindVideo).IsEmpty());
  EXPECT_TRUE(worker_->OnAction(&host_, ui::kActionDecompressFailureOk, ov::String()));
  EXPECT_EQ(host_.closed.back(), popups_[1]);
  EXPECT_FALSE(worker_->OnAction(&host_, ui::kActionDecompressFailureOk + 1, ov::String()));
}

TEST_F(EditorDecompressionTest, CancelWhileDecodingEndsTheWorkerAndKeepsNoHalfCache) {
  StartLongRun();
  EXPECT_TRUE(worker_->OnAction(&host_, ui::kActionCancelDecompress, ov::String()));
  EXPECT_FALSE(worker_->running());
  EXPECT_FALSE(worker_->started());
  EXPECT_EQ(host_.closed.back(), popups_[0]);
  EXPECT_EQ(host_.Drain(nullptr), std::vector<int32_t>{ui::kActionDecompressFailed});
  EXPECT_TRUE(channel_->GetClipCache(0, screens::kKindAudio).IsEmpty());
  EXPECT_FALSE(Exists(Cache("audio3.qvs")));
  // A new run after the cancel decodes the clip whole.
  StartEditorRun();
  WaitUntilEnded();
  worker_->Join();
  EXPECT_EQ(Str(channel_->GetClipCache(0, screens::kKindAudio)), Str(U(Cache("audio3.qvs"))));
}

TEST_F(EditorDecompressionTest, StartingAgainWhileDecodingCancelsTheRunningWorkerFirst) {
  StartLongRun();
  StartEditorRun();
  // The first run was cancelled (340), the second ran to its end.
  WaitUntilEnded();
  worker_->Join();
  EXPECT_EQ(host_.Drain(nullptr),
            (std::vector<int32_t>{ui::kActionDecompressFailed, ui::kActionDecompressDone}));
  EXPECT_FALSE(channel_->GetClipCache(0, screens::kKindAudio).IsEmpty());
}

TEST_F(EditorDecompressionTest, DestructionWhileDecodingJoinsTheWorkerAndTouchesNoChannel) {
  StartLongRun();
  // The channel goes first, as it may at a turn: the worker must not hand
  // it anything.
  owned_channel_.reset();
  channel_ = nullptr;
  worker_.reset();
  EXPECT_EQ(host_.Drain(nullptr), std::vector<int32_t>{ui::kActionDecompressFailed});
  EXPECT_FALSE(Exists(Cache("audio3.qvs")));
}

}  // namespace
