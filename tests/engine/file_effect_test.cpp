// A mask animation (".qbt") as a file transition: it lasts its own time at
// any frame rate, live (from the cache the mixer screen decodes) and in a
// render (which decodes the cache itself); its cache holds one frame per
// coded frame, and a cache a render decoded goes when the render ends.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/engine/recorded_engine.h"
#include "engine/action_processor.h"
#include "engine/export_job.h"
#include "engine/media_decompressor.h"
#include "engine/mix_engine.h"
#include "engine/raw_frame_cache_writer.h"
#include "engine/video_mixer.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"
#include "tools/qbt_encoder.h"

namespace {

using ovtest::EngineWith;


using engine::EngineCommand;

// The live picture's size: the size a render decodes its masks at.
constexpr int32_t kW = 176, kH = 144;
constexpr uint16_t kRed = 0xF800;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

EngineCommand Cmd(uint32_t time, uint32_t type, uint32_t channel, const std::string& path = "") {
  EngineCommand c;
  c.timeMs = time;
  c.type = type;
  c.channel = channel;
  c.path = U(path);
  return c;
}

// A mask of `frames` coded frames of `durationMs` each, its left half on.
std::string WriteMask(const std::string& dir, const std::string& name, int frames, uint32_t durationMs) {
  std::vector<uint16_t> half(size_t(kW) * kH);
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) half[size_t(y) * kW + x] = x < kW / 2 ? 0xFFFF : 0x0000;
  const std::vector<uint8_t> file = ovtool::QbtEncodeFile(std::vector<std::vector<uint16_t>>(size_t(frames), half),
                                                          kW, kH, durationMs);
  const std::string path = dir + "/" + name;
  ov::File f;
  uint32_t written = 0;
  EXPECT_TRUE(f.Open(U(path), ov::kGenericWrite, ov::kShareNone, ov::CreateMode::kCreateAlways));
  EXPECT_TRUE(f.Write(file.data(), uint32_t(file.size()), &written));
  return path;
}

// A red still picture cache: the channel the transition brings in.
std::string WriteRedStill(const std::string& dir) {
  struct Solid : engine::CacheFrameComposer {
    std::vector<uint16_t> f = std::vector<uint16_t>(size_t(kW) * kH, kRed);
    int ComposeFrame(uint32_t) override { return 1; }
    uint16_t* Frame() override { return f.data(); }
    bool IsItemLoaded() override { return true; }
  };
  const std::string path = dir + "/red.raw";
  engine::RawFrameCacheWriter w(std::make_unique<Solid>(), U(path), kW, kH, 0, engine::kRawStillDuration, 0, 0, 0, 0,
                                0);
  EXPECT_GE(w.WriteFrame(), 0);
  EXPECT_TRUE(w.Close());
  return path;
}

// The effect caches in the program's temporary folder.
std::vector<ov::FindData> EffectCaches() { return ov::ListFolder(ov::TempFolder(), u"effect*.raw"); }

// A frame the transition is still drawing: its right half (the mask's off
// half) shows what lies below (black), its left half the red picture.
bool MaskShows(const uint16_t* frame) {
  const size_t mid = size_t(kH / 2) * kW;
  EXPECT_EQ(frame[mid + kW / 4], kRed);
  return frame[mid + 3 * kW / 4] == 0;
}

class FileEffect : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ov::SetEnvironmentValue("TMPDIR", dir_);
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "fe" + std::to_string(ov::GetCurrentProcessId()));
    ov::CreateFolderTree(ov::TempFolder());
    red_ = WriteRedStill(dir_);
    mask_ = WriteMask(dir_, "tenth.qbt", 10, 100);
  }
  void TearDown() override { ov::UnsetEnvironmentValue("TMPDIR"); }

  std::vector<EngineCommand> MaskOverRed(const std::string& mask, uint32_t endMs) const {
    return {Cmd(0, engine::CMD_LOAD, 16, red_), Cmd(0, engine::CMD_PLAY, 16),
            Cmd(0, engine::CMD_FILE_EFFECT, 16, mask), Cmd(endMs, engine::CMD_NOP, 0)};
  }
  // A picture render at `fps` (`codec` kCodecNone for a WAV render).
  static engine::ExportSettings Settings(uint32_t fps, uint32_t codec = engine::kVideoCodecMpeg4) {
    return engine::ExportSettings{96000, 22050, 16, 2, 0, codec, engine::kAudioCodecWma, 128000, fps, kH, kW};
  }

  std::string dir_, red_, mask_;
};

// A 1 s mask (ten frames of 100 ms) covers the frames of its first second,
// 10, 15 or 25 of them, whatever rate the render composes at; the cache the
// render decoded goes once the transition has ended.
TEST_F(FileEffect, AMaskLastsItsOwnTimeInARender) {
  for (uint32_t fps : {10u, 15u, 25u}) {
    SCOPED_TRACE(testing::Message() << fps << " fps");
    auto e = EngineWith(MaskOverRed(mask_, 2000));
    ovtest::PulledDmoJob job(e.get(), U(dir_ + "/mask.mp4"));
    job.SetExportParams(Settings(fps));
    ASSERT_TRUE(job.Start());
    std::vector<uint8_t> frame(size_t(kW) * kH * 2);
    uint32_t shown = 0, composed = 0;
    bool ended = false;
    job.PullFrames(frame, [&] {
      if (composed++ == 0) {
        EXPECT_EQ(EffectCaches().size(), 1u);
      }
      const bool masked = MaskShows(reinterpret_cast<const uint16_t*>(frame.data()));
      EXPECT_FALSE(masked && ended) << "frame " << composed - 1;
      if (masked && ended) return false;
      if (masked) ++shown;
      else if (shown > 0) ended = true;
      return true;
    });
    EXPECT_EQ(shown, fps);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(EffectCaches().empty());
  }
}

// Live, the mixer screen decodes the mask at the mixer's rate and the mixer
// plays that cache (a ".raw" it does not own): the same second at each rate.
TEST_F(FileEffect, AMaskLastsItsOwnTimeLive) {
  for (uint32_t fps : {10u, 15u, 25u}) {
    SCOPED_TRACE(testing::Message() << fps << " fps");
    engine::VideoMixer mixer(kW, kH, fps, 0);
    engine::CacheClipChannel channel(engine::kCacheKindImage, {});
    channel.effectFile = U(mask_);
    channel.needsEffect = true;
    engine::CacheChannel* table[] = {&channel};
    engine::MediaDecompressor decompressor(&mixer, table, false);
    ASSERT_EQ(decompressor.DecompressEffect(0, &channel, 0), 1);
    const std::string cache = channel.effectCache.ToUtf8Lossy();
    const std::vector<EngineCommand> list = MaskOverRed(cache, 2000);
    for (size_t i = 0; i < 3; ++i) ASSERT_EQ(mixer.ApplyAction(list[i], 0), 1);
    uint32_t shown = 0;
    for (uint32_t k = 0; k < 2 * fps; ++k) {
      mixer.ComposeFrame(k * 1000 / fps);
      if (MaskShows(mixer.frame().bits)) {
        ASSERT_EQ(shown, k) << "the mask came back at frame " << k;
        ++shown;
      }
    }
    EXPECT_EQ(shown, fps);
    // The screen's cache stays: it is the screen's to delete.
    EXPECT_TRUE(ov::FileExists(channel.effectCache));
    ov::DeleteFile(channel.effectCache);
  }
}

// A mask whose ten frames last an hour each writes ten frames, not ten hours
// of frames, and a 3 s render of it leaves nothing behind, whether it
// succeeds, fails or is cancelled.
TEST_F(FileEffect, ALongMaskCachesItsCodedFramesAndTheRenderDeletesIt) {
  const std::string hours = WriteMask(dir_, "hours.qbt", 10, 3600000);
  const uint64_t frameBytes = uint64_t(kW) * kH * 2;
  {
    engine::CacheClipChannel channel(engine::kCacheKindImage, {});
    channel.effectFile = U(hours);
    channel.needsEffect = true;
    engine::CacheChannel* table[] = {&channel};
    engine::MediaDecompressor decompressor(nullptr, table, false);
    ASSERT_EQ(decompressor.DecompressEffect(0, &channel, 0), 1);
    uint64_t size = 0;
    ov::File f;
    ASSERT_TRUE(f.Open(channel.effectCache, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting));
    ASSERT_TRUE(f.GetSize(&size));
    EXPECT_EQ(size, engine::kRawHeaderBytes + 10 * frameBytes);
    f.Close();
    ov::DeleteFile(channel.effectCache);
  }
  // Succeeded: the cache is at most the ten frames while the render runs.
  {
    auto e = EngineWith(MaskOverRed(hours, 3000));
    ovtest::PulledDmoJob job(e.get(), U(dir_ + "/hours.mp4"));
    job.SetExportParams(Settings(10));
    ASSERT_TRUE(job.Start());
    std::vector<uint8_t> frame(static_cast<size_t>(frameBytes));
    uint32_t composed = 0;
    job.PullFrames(frame, [&] {
      ++composed;
      const std::vector<ov::FindData> caches = EffectCaches();
      EXPECT_EQ(caches.size(), 1u);
      if (caches.size() != 1) return false;
      EXPECT_LE(caches[0].size, engine::kRawHeaderBytes + 10 * frameBytes);
      EXPECT_TRUE(MaskShows(reinterpret_cast<const uint16_t*>(frame.data())));
      return true;
    });
    EXPECT_EQ(composed, 30u);
  }
  EXPECT_TRUE(EffectCaches().empty());
  // Failed: an unknown code at 1 s.
  {
    std::vector<EngineCommand> list = MaskOverRed(hours, 3000);
    list.insert(list.end() - 1, Cmd(1000, 77, 0));
    auto e = EngineWith(list);
    auto job = engine::CreateExportJob(e.get(), U(dir_ + "/failed.wav"));
    ASSERT_TRUE(job);
    job->SetExportParams(Settings(10, engine::kCodecNone));
    EXPECT_EQ(job->Encode(), 0);
  }
  EXPECT_TRUE(EffectCaches().empty());
  // Cancelled: the longest mix, ended by a cancel once it reports progress.
  {
    engine::RenderQueue reader(true);
    auto e = EngineWith(MaskOverRed(hours, engine::ActionProcessor::kMaxMixMs));
    std::thread canceller([&] {
      while (reader.Receive(ov::kInfinite).kind != engine::kRenderProgress) {
      }
      EXPECT_EQ(EffectCaches().size(), 1u);
      engine::MixEngine editing(nullptr, nullptr);
      editing.CancelEncoding();
    });
    EXPECT_TRUE(e->Export(U(dir_ + "/cancelled.wav"), Settings(10, engine::kCodecNone)));
    canceller.join();
  }
  EXPECT_TRUE(EffectCaches().empty());
}

}  // namespace
