// Decoding to cache on entering the mixer screen: the worker, its popup, its
// result actions, a cancel, and the caches it leaves in the clips.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/media_decompressor.h"
#include "engine/raw_frame_cache_source.h"
#include "media/wav_source.h"
#include "platform/os/file.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"

namespace {

using screens::Mixer;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }
bool Exists(const std::string& path) { return ov::GetFileAttributes(U(path)) != ov::kInvalidAttributes; }

class MixerDecode : public ::testing::Test {
 protected:
  MixerDecode() : dir_(ovtest::ScratchDir()), host_(dir_) {
    // The caches go to this test's own temporary folder.
    const char* old = std::getenv("TMPDIR");
    old_tmp_ = old ? old : "";
    setenv("TMPDIR", dir_.c_str(), 1);
    screen_ = std::make_unique<ovtest::MixerScreen>(&host_);
    for (const char* name : {"DECOMPRESSION_PROGRESS", "DECOMPRESSION_FAILURE"}) {
      auto popup = std::make_unique<ui::Control>();
      popup->LoadAttribute(u"title", U(name));
      popups_.push_back(screen_->menu.AddChild(std::move(popup)));
    }
  }
  ~MixerDecode() override {
    screen_.reset();
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  Mixer& mixer() { return *screen_->mixer; }
  screens::ChannelSelection& ch(int i) { return *screen_->channel[i]; }
  void Add(int i, int32_t kind, const std::string& source, int32_t cut_start = 0) {
    ch(i).AddClip(kind, screens::kFileTypeNone, U(source), ov::String(), ov::String(), screens::kWholePicture,
                  screens::kWholePicture, 500, 0, 0, cut_start, 0, screens::kWholePicture, 0, nullptr);
  }
  void Enter() { mixer().OnAction(ui::kActionMenuShown, ov::String(), 0); }
  // Waits for the worker and hands its queued result to the mixer.
  std::vector<int32_t> Finish() {
    mixer().JoinDecompression();
    return host_.Drain(&mixer());
  }
  std::string Cache(const char* name) const { return dir_ + "/Quelvarin/" + name; }

  std::string dir_, old_tmp_;
  ovtest::ScreensHost host_;
  std::unique_ptr<ovtest::MixerScreen> screen_;
  std::vector<ui::Element*> popups_;
};

TEST_F(MixerDecode, EveryCachePresentStartsNoWorkerAndNoPopup) {
  Add(0, screens::kKindAudio, ovtest::FixturePath("engine_22k_stereo.wav"));  // uncut: played from its file
  host_.opened.clear();
  Enter();
  EXPECT_FALSE(mixer().decoding());
  EXPECT_TRUE(host_.opened.empty());
  EXPECT_TRUE(Finish().empty());
}

TEST_F(MixerDecode, EnteringWritesTheNamedCachesAndEndsWith339) {
  Add(0, screens::kKindImage, ovtest::FixturePath("gfx_photo.jpg"));
  Add(0, screens::kKindImage, ovtest::FixturePath("gfx_gray.jpg"));
  Add(2, screens::kKindAudio, ovtest::FixturePath("engine_22k_stereo.wav"), 500);
  EXPECT_EQ(mixer().CountPendingCacheItems(), 3);
  host_.opened.clear();
  Enter();
  ASSERT_EQ(host_.opened.size(), 1u);
  EXPECT_EQ(host_.opened[0], popups_[0]);
  // Controls that need the caches wait for them.
  EXPECT_EQ(Finish(), std::vector<int32_t>{ui::kActionDecompressDone});
  EXPECT_FALSE(mixer().decoding());
  EXPECT_EQ(Str(ch(0).GetClipCache(0, screens::kKindImage)), Str(U(Cache("image0-0-0.raw"))));
  EXPECT_EQ(Str(ch(0).GetClipCache(1, screens::kKindImage)), Str(U(Cache("image0-1-0.raw"))));
  EXPECT_EQ(Str(ch(2).GetClipCache(0, screens::kKindAudio)), Str(U(Cache("audio2.qvs"))));
  for (const char* name : {"image0-0-0.raw", "image0-1-0.raw", "audio2.qvs"}) EXPECT_TRUE(Exists(Cache(name))) << name;
  EXPECT_EQ(mixer().CountPendingCacheItems(), 0);
  // Each photo of the channel lasts its display time (4000 ms by default).
  for (const char* name : {"image0-0-0.raw", "image0-1-0.raw"}) {
    engine::RawFrameCacheSource photo;
    media::MediaFormat format;
    ASSERT_TRUE(photo.Open(U(Cache(name)), 1));
    ASSERT_TRUE(photo.GetFormat(&format));
    EXPECT_EQ(format.frameDurationMs, 4000u) << name;
  }
  ASSERT_FALSE(host_.closed.empty());
  EXPECT_EQ(host_.closed.back(), popups_[0]);
  // The progress reached the options on the UI thread.
  gfx::Rect area{};
  mixer().OnTick(&area, 1);
  EXPECT_EQ(Str(host_.strings[12]), u"3 / 3");
}

// A clip that cannot be read fails the decode, whether it holds junk or is a
// named pipe that no program writes to (which must not hold the worker).
TEST_F(MixerDecode, ABrokenClipGives340AndTheFailurePopup) {
  const std::string bad = dir_ + "/bad.jpg";
  std::ofstream(bad) << "no picture";
  const std::string pipe_picture = dir_ + "/pipe.jpg", pipe_video = dir_ + "/pipe.mp4",
                    pipe_sound = dir_ + "/pipe.wav";
  for (const std::string& p : {pipe_picture, pipe_video, pipe_sound}) ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0) << p;
  struct Case {
    int32_t kind;
    std::string clip;
    int32_t cut_start;
  } cases[] = {{screens::kKindImage, bad, 0},
               {screens::kKindImage, pipe_picture, 0},
               {screens::kKindVideo, pipe_video, 0},
               {screens::kKindAudio, pipe_sound, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    ch(1).Clear();
    Add(1, c.kind, c.clip, c.cut_start);
    host_.opened.clear();
    Enter();
    EXPECT_EQ(Finish(), std::vector<int32_t>{ui::kActionDecompressFailed});
    ASSERT_FALSE(host_.opened.empty());
    EXPECT_EQ(host_.opened.back(), popups_[1]);
    EXPECT_TRUE(ch(1).GetClipCache(0, c.kind).IsEmpty());
    mixer().OnAction(ui::kActionDecompressFailureOk, ov::String(), 0);
    EXPECT_EQ(host_.closed.back(), popups_[1]);
  }
}

TEST_F(MixerDecode, ACancelKeepsEarlierCachesAndTheNextEntryWritesTheRest) {
  const std::string song = dir_ + "/long.wav";
  ovtest::WriteLongWav(song, 120);
  Add(0, screens::kKindImage, ovtest::FixturePath("gfx_photo.jpg"));
  Add(1, screens::kKindAudio, song, 100);
  Enter();
  // Cancel while the long sound is being written (the photo's cache is
  // done by then).
  for (int i = 0; i < 60000 && !Exists(Cache("audio1.qvs")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(Exists(Cache("audio1.qvs")));
  mixer().OnAction(ui::kActionCancelDecompress, ov::String(), 0);
  EXPECT_FALSE(mixer().decoding());
  EXPECT_EQ(host_.closed.back(), popups_[0]);
  EXPECT_EQ(Finish(), std::vector<int32_t>{ui::kActionDecompressFailed});
  EXPECT_FALSE(ch(0).GetClipCache(0, screens::kKindImage).IsEmpty());
  EXPECT_TRUE(ch(1).GetClipCache(0, screens::kKindAudio).IsEmpty());
  EXPECT_FALSE(Exists(Cache("audio1.qvs")));
  // The next entry writes only what is missing, afresh.
  EXPECT_EQ(mixer().CountPendingCacheItems(), 1);
}

TEST_F(MixerDecode, LeavingTheScreenWhileDecodingEndsTheWorker) {
  const std::string song = dir_ + "/long.wav";
  ovtest::WriteLongWav(song, 60);
  Add(1, screens::kKindAudio, song, 100);
  Enter();
  EXPECT_TRUE(mixer().decoding());
  screen_.reset();  // the mixer cancels and joins its worker
  SUCCEED();
}

}  // namespace

namespace {

// ovtool cache decodes a project's clips as the screen does: a WAV cut at
// its start caches to its end, photos each get their own cache.
TEST(OvtoolCache, DecodesAProjectsClips) {
  const std::string dir = ovtest::ScratchDir();
  const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool ";
  const std::string project = dir + "/p.mix";
  const std::string make = tool + "project " + project + " 0=" + ovtest::FixturePath("gfx_photo.jpg") + " 0=" +
                           ovtest::FixturePath("gfx_gray.jpg") + " 2=" + ovtest::FixturePath("engine_22k_stereo.wav") +
                           " cut2=300,0 >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  const std::string cache = tool + "cache " + project + " " + dir + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cache.c_str()), 0) << cache;
  for (const char* name : {"/image0-0-0.raw", "/image0-1-0.raw", "/audio2.qvs"}) {
    EXPECT_TRUE(Exists(dir + name)) << name;
  }
  media::WavSource wav;
  ASSERT_TRUE(wav.Open(U(dir + "/audio2.qvs"), 0));
  EXPECT_NEAR(double(wav.GetDuration()), 1700.0, 10.0);
  // A project naming a clip that does not decode fails.
  const std::string bad = dir + "/bad.jpg";
  std::ofstream(bad) << "no picture";
  const std::string make_bad = tool + "project " + dir + "/bad.mix 1=" + bad + " >/dev/null";
  ASSERT_EQ(std::system(make_bad.c_str()), 0);
  EXPECT_NE(std::system((tool + "cache " + dir + "/bad.mix " + dir + " >/dev/null 2>&1").c_str()), 0);
  // A folder that is not there (or a file in its place) is refused before
  // any clip is decoded: its one line is all that is printed.
  std::ofstream(dir + "/file") << "x";
  for (const std::string& missing : {dir + "/absent", dir + "/file"}) {
    const std::string err = dir + "/err.txt";
    const int status = std::system((tool + "cache " + project + " " + missing + " >/dev/null 2>" + err).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(err);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(said, "cache: " + missing + ": no such folder\n");
  }
  EXPECT_FALSE(Exists(dir + "/absent"));
}

}  // namespace
