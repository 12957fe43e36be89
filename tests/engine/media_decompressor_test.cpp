// Decoding to cache: which caches a mix needs, writing them whole, the
// progress, failures and a cancel in the middle of an item.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/media_decompressor.h"
#include "engine/raw_frame_cache_format.h"
#include "engine/raw_frame_cache_source.h"
#include "media/wav_source.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "tests/support/test_paths.h"

namespace {

using engine::MediaDecompressor;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
bool Exists(const ov::String& path) { return ov::GetFileAttributes(path) != ov::kInvalidAttributes; }

struct TestClip {
  ov::String source, overlay;
  int32_t cutStart = 0, cutEnd = 0;
  ov::String picture, picture2, audio, overlayCache, text, textCache;
};

TestClip Clip(const ov::String& source, int32_t cut_start = 0, int32_t cut_end = 0) {
  TestClip c;
  c.source = source;
  c.cutStart = cut_start;
  c.cutEnd = cut_end;
  return c;
}

// One channel of a mix as the channel element answers: a cache is needed
// while its name is empty (sound only for a clip cut at its start).
class TestChannel : public engine::CacheChannel {
 public:
  TestChannel(int32_t kind, std::vector<TestClip> clips) : kind_(kind), clips_(std::move(clips)) {}
  int32_t GetKind() const override { return kind_; }
  int ClipCount() const override { return static_cast<int>(clips_.size()); }
  ov::String GetClipFile(int i) const override { return clips_[size_t(i)].source; }
  ov::String GetClipOverlayFile(int i) const override { return clips_[size_t(i)].overlay; }
  ov::String GetEffectFile() const override { return ov::String(); }
  ov::String GetClipTextDescriptor(int i) const override { return clips_[size_t(i)].text; }
  int32_t GetClipDisplayTime(int) const override { return 0; }
  int GetClipCutPoints(int i, int32_t* start, int32_t* end) const override {
    *start = clips_[size_t(i)].cutStart;
    *end = clips_[size_t(i)].cutEnd;
    return 1;
  }
  uint32_t GetClipCropRect(int) const override { return 0x00FF00FF; }
  bool ClipNeedsAudioCache(int i) const override {
    const TestClip& c = clips_[size_t(i)];
    return (kind_ == engine::kCacheKindAudio || kind_ == engine::kCacheKindVideo) && c.cutStart != 0 &&
           c.audio.IsEmpty();
  }
  bool ClipNeedsPictureCache(int i, bool second) const override {
    const TestClip& c = clips_[size_t(i)];
    return (kind_ == engine::kCacheKindImage || kind_ == engine::kCacheKindVideo) &&
           (second ? c.picture2 : c.picture).IsEmpty();
  }
  bool ClipNeedsOverlayCache(int i) const override {
    const TestClip& c = clips_[size_t(i)];
    return !c.overlay.IsEmpty() && c.overlayCache.IsEmpty();
  }
  bool NeedsEffectCache() const override { return false; }
  int SetClipCache(int i, const ov::String& name, int32_t kind) override {
    TestClip& c = clips_[size_t(i)];
    (kind == engine::kCacheKindAudio ? c.audio : kind == engine::kCacheKindText ? c.textCache : c.picture) = name;
    return 1;
  }
  int SetClipCache2(int i, const ov::String& name, int32_t) override {
    clips_[size_t(i)].picture2 = name;
    return 1;
  }
  int SetClipOverlayCache(int i, const ov::String& name, int32_t) override {
    clips_[size_t(i)].overlayCache = name;
    return 1;
  }
  int SetEffectCache(const ov::String&, int32_t) override { return 1; }
  TestClip& clip(int i) { return clips_[size_t(i)]; }

 private:
  int32_t kind_;
  std::vector<TestClip> clips_;
};

struct Progress : engine::DecodeProgress {
  void Item(int n, int total) override { items.push_back({n, total}); }
  void Percent(int p) override {
    percents.push_back(p);
    if (cancel_at_item != 0 && int(items.size()) >= cancel_at_item && p > 0) {
      ov::Event e;
      e.Create(true, false, ov::String(engine::kCancelDecompressionEvent));
      e.Set();
    }
  }
  std::vector<std::pair<int, int>> items;
  std::vector<int> percents;
  int cancel_at_item = 0;
};

// A ".raw" cache of `frames` 176 x 144 frames of 100 ms, frame k filled
// with the value k * 997 + 5.
void WriteRawClip(const std::string& path, int frames) {
  engine::RawFrameHeader h;
  h.width = 176;
  h.height = 144;
  h.frameDuration = 100;
  std::vector<uint8_t> bytes(engine::kRawHeaderBytes);
  h.Serialize(bytes.data());
  for (int k = 0; k < frames; ++k) {
    const uint16_t v = static_cast<uint16_t>(k * 997 + 5);
    for (uint32_t p = 0; p < h.RowPixels() * h.height; ++p) {
      bytes.push_back(uint8_t(v & 0xFF));
      bytes.push_back(uint8_t(v >> 8));
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// The frames of a ".raw" cache, each as its first pixel and whether every
// pixel of the frame equals it.
std::vector<std::pair<uint16_t, bool>> RawFrames(const ov::String& path) {
  std::vector<std::pair<uint16_t, bool>> out;
  engine::RawFrameCacheSource source;
  if (!source.Open(path, 1)) return out;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0, time = 0;
  while (source.ReadVideoFrame(&buffer, &bytes, &time, 0)) {
    std::vector<uint16_t> px(bytes / 2);
    std::memcpy(px.data(), buffer.get(), px.size() * 2);
    bool same = true;
    for (uint16_t v : px) same &= v == px[0];
    out.push_back({px.empty() ? uint16_t(0) : px[0], same});
  }
  return out;
}

class Decompressor : public ::testing::Test {
 protected:
  Decompressor() : dir_(ovtest::ScratchDir()) {}
  // A decompressor over `channels` writing into the scratch folder.
  std::unique_ptr<MediaDecompressor> Make(std::vector<engine::CacheChannel*>* channels, Progress* progress = nullptr) {
    auto d = std::make_unique<MediaDecompressor>(nullptr, *channels, false, progress);
    d->SetFolder(U(dir_ + "/"));
    return d;
  }
  std::string dir_;
};

TEST_F(Decompressor, NothingToDoWritesNothing) {
  // An uncut sound plays from its file; a picture whose cache exists.
  TestChannel sound(engine::kCacheKindAudio, {Clip(U(ovtest::FixturePath("engine_22k_stereo.wav")))});
  TestChannel photo(engine::kCacheKindImage, {Clip(U(ovtest::FixturePath("gfx_photo.jpg")))});
  photo.clip(0).picture = U(dir_ + "/already.raw");
  std::vector<engine::CacheChannel*> channels = {&sound, nullptr, &photo};
  auto d = Make(&channels);
  EXPECT_EQ(d->CountWork(), 0);
  EXPECT_EQ(d->DecompressAll(), 1);
  EXPECT_FALSE(Exists(U(dir_ + "/audio0.qvs")));
}

TEST_F(Decompressor, AWavCutAtItsStartCachesToItsEnd) {
  const ov::String source = U(ovtest::FixturePath("engine_22k_stereo.wav"));
  media::WavSource in;
  ASSERT_TRUE(in.Open(source, 0));
  const uint32_t length = in.GetDuration();  // 2000 ms
  TestChannel empty(engine::kCacheKindEmpty, {});
  TestChannel sound(engine::kCacheKindAudio, {Clip(source, 500, 0)});
  std::vector<engine::CacheChannel*> channels = {&empty, &sound};
  Progress progress;
  auto d = Make(&channels, &progress);
  d->SetIndexBase(3);
  EXPECT_EQ(d->CountWork(), 1);
  ASSERT_EQ(d->DecompressAll(), 1);
  const ov::String cache = U(dir_ + "/audio4.qvs");
  EXPECT_EQ(std::u16string(sound.clip(0).audio.View()), std::u16string(cache.View()));
  media::WavSource out;
  ASSERT_TRUE(out.Open(cache, 0));
  EXPECT_EQ(out.sampleRate, 11025u);
  EXPECT_NEAR(double(out.GetDuration()), double(length - 500), 10.0);
  EXPECT_EQ(progress.items, (std::vector<std::pair<int, int>>{{1, 1}}));
  ASSERT_FALSE(progress.percents.empty());
  for (size_t i = 1; i < progress.percents.size(); ++i) EXPECT_GE(progress.percents[i], progress.percents[i - 1]);
  EXPECT_EQ(progress.percents.back(), 100);
}

TEST_F(Decompressor, AnUncutRawClipCachesEveryFrame) {
  const std::string clip = dir_ + "/clip.raw";
  WriteRawClip(clip, 7);
  // Uncut: every frame. Cut between frame times (650 is not a whole number
  // of frame periods, so the writer's percentage passes 100 without landing
  // on it and the run still ends): every frame that starts before the cut,
  // the last one included. Each source frame is cached once, in order.
  struct Case {
    int32_t cutEnd;
    size_t frames;
  } cases[] = {{0, 7}, {650, 7}, {600, 6}, {550, 6}};
  for (const Case& c : cases) {
    TestChannel video(engine::kCacheKindVideo, {Clip(U(clip), 0, c.cutEnd)});
    std::vector<engine::CacheChannel*> channels = {&video};
    auto d = Make(&channels);
    ASSERT_EQ(d->DecompressAll(), 1) << c.cutEnd;
    std::vector<std::pair<uint16_t, bool>> want;
    for (size_t k = 0; k < c.frames; ++k) want.push_back({uint16_t(k * 997 + 5), true});
    EXPECT_EQ(RawFrames(video.clip(0).picture), want) << c.cutEnd;
  }
}

TEST_F(Decompressor, ABrokenClipFailsAndLeavesNoCache) {
  const std::string bad = dir_ + "/bad.jpg";
  std::ofstream(bad) << "not a picture";
  TestChannel photo(engine::kCacheKindImage, {Clip(U(ovtest::FixturePath("gfx_photo.jpg"))), Clip(U(bad))});
  std::vector<engine::CacheChannel*> channels = {&photo};
  auto d = Make(&channels);
  EXPECT_EQ(d->DecompressAll(), 0);
  EXPECT_FALSE(photo.clip(0).picture.IsEmpty());
  EXPECT_TRUE(photo.clip(1).picture.IsEmpty());
  EXPECT_FALSE(Exists(U(dir_ + "/image0-1-0.raw")));
  // Two pictures of one channel get their own names.
  EXPECT_EQ(std::u16string(photo.clip(0).picture.View()), std::u16string(U(dir_ + "/image0-0-0.raw").View()));
  // The failure names the clip at fault, also a sound of zero bytes cut at
  // its start.
  EXPECT_EQ(std::u16string(d->failedFile().View()), std::u16string(U(bad).View()));
  const std::string empty = dir_ + "/empty.wav";
  std::ofstream(empty).flush();
  TestChannel sound(engine::kCacheKindAudio, {Clip(U(empty), 10, 0)});
  std::vector<engine::CacheChannel*> one = {&sound};
  auto e = Make(&one);
  EXPECT_EQ(e->DecompressAll(), 0);
  EXPECT_EQ(std::u16string(e->failedFile().View()), std::u16string(U(empty).View()));
}

TEST_F(Decompressor, ACancelStopsTheItemKeepsEarlierOnesAndTheNextRunStartsAfresh) {
  TestChannel photo(engine::kCacheKindImage, {Clip(U(ovtest::FixturePath("gfx_photo.jpg")))});
  TestChannel sound(engine::kCacheKindAudio, {Clip(U(ovtest::FixturePath("engine_22k_stereo.wav")), 10, 0)});
  std::vector<engine::CacheChannel*> channels = {&photo, &sound};
  Progress progress;
  progress.cancel_at_item = 2;  // the sound's progress
  auto d = Make(&channels, &progress);
  EXPECT_EQ(d->DecompressAll(), 0);
  EXPECT_TRUE(d->cancelled());
  EXPECT_TRUE(d->failedFile().IsEmpty());  // a cancel names no clip
  EXPECT_FALSE(photo.clip(0).picture.IsEmpty());
  EXPECT_TRUE(sound.clip(0).audio.IsEmpty());
  EXPECT_FALSE(Exists(U(dir_ + "/audio1.qvs")));
  d.reset();
  // The cancel was taken: the next run writes the sound whole.
  auto again = Make(&channels);
  EXPECT_EQ(again->CountWork(), 1);
  EXPECT_EQ(again->DecompressAll(), 1);
  EXPECT_FALSE(sound.clip(0).audio.IsEmpty());
}

TEST(ClipDuration, FromTheSourceOfEachKind) {
  EXPECT_EQ(engine::ClipDurationMs(U(ovtest::FixturePath("engine_22k_stereo.wav"))), 2000u);
  const std::string raw = ovtest::ScratchDir() + "/d.raw";
  WriteRawClip(raw, 5);
  EXPECT_EQ(engine::ClipDurationMs(U(raw)), 500u);
  EXPECT_EQ(engine::ClipDurationMs(U("/nonexistent.wav")), 0u);
}

}  // namespace

namespace {

TEST(CacheClipChannel, NamesGoBackOnlyToTheClipsTheyWereMadeFrom) {
  TestChannel screen(engine::kCacheKindImage, {Clip(U("/a.jpg")), Clip(U("/b.jpg"))});
  engine::CacheClipChannel copy = engine::CacheClipChannel::CopyOf(screen);
  EXPECT_TRUE(copy.ClipNeedsPictureCache(1, false));
  copy.SetClipCache(0, U("/t/image0-0-0.raw"), engine::kCacheKindImage);
  copy.SetClipCache(1, U("/t/image0-1-0.raw"), engine::kCacheKindImage);
  EXPECT_FALSE(copy.ClipNeedsPictureCache(1, false));
  screen.clip(1).source = U("/other.jpg");  // changed while decoding
  EXPECT_EQ(copy.CopyNamesTo(&screen), 1);
  EXPECT_EQ(std::u16string(screen.clip(0).picture.View()), u"/t/image0-0-0.raw");
  EXPECT_TRUE(screen.clip(1).picture.IsEmpty());
}

}  // namespace
