#include "media/mp4_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "media/byte_view.h"
#include "tests/media/media_test_util.h"
#include "tests/media/mp4_builder.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mediatest::Movie;
using mediatest::TestPackage;
using mediatest::TrackSpec;

struct Sample {
  uint32_t bytes;
  uint32_t time;
  uint8_t first;
};

std::vector<Sample> ReadAll(media::Mp4Reader& reader, int track, media::TrackCursor* cursor = nullptr) {
  std::unique_ptr<media::TrackCursor> own;
  if (!cursor) {
    own = reader.OpenTrack(track);
    cursor = own.get();
  }
  std::vector<Sample> out;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0, time = 0;
  while (reader.ReadSample(cursor, &buffer, &bytes, &time)) out.push_back({bytes, time, bytes ? buffer[0] : uint8_t{0}});
  return out;
}

// Sizes and times as ffprobe reads them, the times with the edit lists
// applied: the AAC tracks of these ffmpeg-made files start at their edit
// (the encoder's 1024 priming samples read as time 0 and are what the
// source trims), AMR and video tracks at 0.
TEST(Mp4Reader, MatchesFfprobePackets) {
  for (const char* name : {"media_h263_amr.3gp", "media_mpeg4_aac.mp4", "media_h264_aac.mp4", "media_aac.m4a",
                           "media_mpeg4_aac.3g2", "media_aac.mov"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    TestPackage pak;
    media::Mp4Reader reader(pak.Add(name, ovtest::ReadFileBytes(path)));
    ASSERT_TRUE(reader.Open()) << name;
    for (int track = 0; track < reader.track_count(); ++track) {
      auto packets = mediatest::ProbePackets(path, track, true);
      auto samples = ReadAll(reader, track);
      ASSERT_EQ(samples.size(), packets.size()) << name << " track " << track;
      uint32_t timescale = reader.GetTimescale(track);
      const bool aac = reader.track(track)->handler_type == media::FourCC("soun") && !reader.amr();
      EXPECT_EQ(reader.track(track)->lead_in, aac ? 1024u : 0u) << name << " track " << track;
      for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].bytes, packets[i].size) << name << " " << track << " " << i;
        const int64_t dts = std::max<int64_t>(packets[i].dts, 0);
        EXPECT_EQ(samples[i].time, static_cast<uint32_t>(dts * 1000 / timescale)) << name << " " << track << " " << i;
      }
    }
  }
}

// The edits applied: one edit into the media, or an empty edit then one.
// The empty edit delays the track (sound or picture: times and seeks count
// from the movie's start); a sound track starts at the media edit's media
// time and ends at the edit's end (no sample starting there or later is
// read). Several edits otherwise, an empty edit alone and a video track's
// media time leave the times as stored; an edit past the last sample gives
// every sample the track's first time.
TEST(Mp4Reader, TracksArePresentedAsTheirEditsLayThemOut) {
  constexpr uint64_t kNone = UINT64_MAX;
  struct Case {
    const char* handler;
    std::vector<std::pair<uint32_t, int32_t>> edits;
    uint64_t lead_in, delay, end;
  } cases[] = {
      {"soun", {{1000, 250}}, 250, 0, 1250},
      {"soun", {{500, 250}}, 250, 0, 750},
      {"soun", {}, 0, 0, kNone},
      {"soun", {{100, -1}, {900, 0}}, 0, 100, 900},
      {"soun", {{200, -1}, {0, 100}}, 100, 200, kNone},
      {"soun", {{500, 0}, {500, 500}}, 0, 0, kNone},
      {"soun", {{500, 250}, {500, 600}}, 0, 0, kNone},
      {"soun", {{100, -1}, {100, -1}, {900, 0}}, 0, 0, kNone},
      {"vide", {{1000, 250}}, 0, 0, kNone},
      {"vide", {{300, -1}, {1000, 0}}, 0, 300, kNone},
      {"soun", {{1000, 0x7FFFFFFF}}, 0x7FFFFFFF, 0, 0x7FFFFFFFull + 1000},
      {"soun", {{1000, -1}}, 0, 0, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.handler << " " << c.edits.size() << " edits, lead-in " << c.lead_in
                                    << ", delay " << c.delay);
    TrackSpec t;
    t.handler = c.handler;
    t.stts = {{10, 100}};
    t.stsc = {{1, 10, 1}};
    t.sizes = std::vector<uint32_t>(10, 4);
    t.chunks = {24};
    t.edits = c.edits;
    TestPackage pak;
    media::Mp4Reader reader(pak.Add("edit.mp4", Movie({t}, 40)));
    ASSERT_TRUE(reader.Open());
    const media::Mp4Track& track = *reader.track(0);
    ASSERT_EQ(track.edits.size(), c.edits.size());
    EXPECT_EQ(track.lead_in, c.lead_in);
    EXPECT_EQ(track.delay, c.delay);
    EXPECT_EQ(track.edit_end, c.end);
    auto samples = ReadAll(reader, 0);
    const uint64_t count = std::min<uint64_t>(10, (std::min<uint64_t>(c.end, 1000) + 99) / 100);
    ASSERT_EQ(samples.size(), count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t decode = i * 100;
      EXPECT_EQ(samples[i].time, c.delay + (decode > c.lead_in ? decode - c.lead_in : 0)) << i;
    }
    // A seek lands on the sample whose span holds the target; a target
    // inside the delay on the track's start; with a preroll, that many
    // samples earlier.
    for (uint32_t preroll : {0u, 1u, 3u}) {
      SCOPED_TRACE(preroll);
      auto cursor = reader.OpenTrack(0);
      const uint64_t target = 420 <= c.delay ? c.lead_in : c.lead_in + 420 - c.delay;
      if (target < std::min<uint64_t>(c.end, 1000)) {
        ASSERT_TRUE(reader.SeekWithPreroll(cursor.get(), 420, preroll));
        std::unique_ptr<uint8_t[]> buffer;
        uint32_t bytes = 0, time = 0;
        ASSERT_TRUE(reader.ReadSample(cursor.get(), &buffer, &bytes, &time));
        const uint32_t holding = static_cast<uint32_t>(target / 100);
        const uint32_t sample = holding - std::min(holding, preroll);
        EXPECT_EQ(buffer[0], 4 * sample);
        EXPECT_EQ(time, c.delay + std::max<int64_t>(0, int64_t{sample} * 100 - int64_t(c.lead_in)));
      } else {
        EXPECT_FALSE(reader.SeekWithPreroll(cursor.get(), 420, preroll));
      }
    }
  }
}

// Decoded sound inside a track's presentation: the part of a span before
// the start (the lead-in or a seek's target) is dropped, the part past the
// edit's end cut, at the output rate (here twice the media timescale).
TEST(Mp4Reader, PresentedSamplesKeepTheEditsSpan) {
  media::Mp4Track t;
  t.timescale = 1000;
  t.lead_in = 250;
  t.edit_end = 750;
  struct Case {
    uint64_t from, at;
    uint32_t samples, drop, keep;
  } cases[] = {
      {250, 0, 200, 200, 0},    // wholly before the start
      {250, 200, 200, 100, 100}, {250, 250, 200, 0, 200},  {250, 700, 200, 0, 100},
      {250, 600, 200, 0, 200},   {400, 300, 400, 200, 200}, {250, 749, 200, 0, 2},
  };
  for (const Case& c : cases) {
    uint32_t drop = 0;
    EXPECT_EQ(media::Mp4Reader::PresentedSamples(t, c.from, c.at, c.samples, 2000, &drop), c.keep) << c.at;
    if (c.keep) {
      EXPECT_EQ(drop, c.drop) << c.at;
    }
  }
}

TEST(Mp4Reader, TracksFlagsAndConfigurations) {
  struct Case {
    const char* name;
    int video;
    int audio;
    bool amr, h263, avc, audio_config, video_config;
    int mp4v;  // FindConfiguredTrack("vide", "mp4v"), -1 for none
    int mp4a;  // FindConfiguredTrack("soun", "mp4a")
  };
  const Case cases[] = {
      {"media_h263_amr.3gp", 0, 1, true, true, false, false, false, -1, -1},
      {"media_mpeg4_aac.mp4", 0, 1, false, false, false, true, true, 0, 1},
      {"media_h264_aac.mp4", 0, 1, false, false, true, true, false, -1, 1},
      {"media_aac.m4a", -1, 0, false, false, false, true, false, -1, 0},
      {"media_aac.mov", -1, 0, false, false, false, true, false, -1, 0},
  };
  for (const Case& c : cases) {
    std::string path = ovtest::FixturePath(c.name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    TestPackage pak;
    media::Mp4Reader reader(pak.Add(c.name, ovtest::ReadFileBytes(path)));
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.GetVideoTrack(), c.video) << c.name;
    EXPECT_EQ(reader.GetAudioTrack(), c.audio) << c.name;
    EXPECT_EQ(reader.amr(), c.amr) << c.name;
    EXPECT_EQ(reader.h263(), c.h263) << c.name;
    EXPECT_EQ(reader.avc(), c.avc) << c.name;
    EXPECT_EQ(reader.HasDecoderConfig(false), c.audio_config) << c.name;
    EXPECT_EQ(reader.HasDecoderConfig(true), c.video_config) << c.name;
    uint32_t w = 0, h = 0;
    int t = -1;
    EXPECT_EQ(reader.GetVideoSize(&w, &h, &t), c.video >= 0) << c.name;
    if (c.video >= 0) {
      EXPECT_EQ(w, 176u);
      EXPECT_EQ(h, 144u);
      EXPECT_EQ(t, c.video);
    }
    uint32_t bytes = 0;
    auto config = reader.GetAvcConfig(&bytes);
    EXPECT_EQ(config != nullptr, c.avc) << c.name;
    if (config) {
      // 4-byte big-endian length, SPS (NAL type 7), then PPS (type 8).
      uint32_t sps = (config[0] << 24) | (config[1] << 16) | (config[2] << 8) | config[3];
      ASSERT_LT(sps + 8, bytes);
      EXPECT_EQ(config[4] & 31, 7);
      EXPECT_EQ(config[8 + sps] & 31, 8);
    }
    if (c.audio_config) {
      auto asc = reader.GetDecoderConfig(false, &bytes);
      ASSERT_NE(asc, nullptr);
      EXPECT_GE(bytes, 2u);
      EXPECT_EQ(asc[0] >> 3, 2) << c.name;  // AudioSpecificConfig: AAC LC
    }
    const media::Mp4SampleEntry* video = nullptr;
    const media::Mp4SampleEntry* audio = nullptr;
    EXPECT_EQ(reader.FindConfiguredTrack(media::FourCC("vide"), media::FourCC("mp4v"), &video), c.mp4v) << c.name;
    EXPECT_EQ(reader.FindConfiguredTrack(media::FourCC("soun"), media::FourCC("mp4a"), &audio), c.mp4a) << c.name;
    EXPECT_EQ(video != nullptr, c.mp4v >= 0) << c.name;
    EXPECT_EQ(audio != nullptr, c.mp4a >= 0) << c.name;
    if (video) {
      EXPECT_EQ(video->format, media::FourCC("mp4v"));
    }
    if (audio) {
      EXPECT_EQ(audio->format, media::FourCC("mp4a"));
    }
    // The entry's configuration is the one GetDecoderConfig copies out.
    if (audio && c.audio_config) {
      auto asc = reader.GetDecoderConfig(false, &bytes);
      ASSERT_NE(asc, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(asc.get(), asc.get() + bytes), audio->decoder_config) << c.name;
    }
    if (video && c.video_config) {
      auto vol = reader.GetDecoderConfig(true, &bytes);
      ASSERT_NE(vol, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(vol.get(), vol.get() + bytes), video->decoder_config) << c.name;
    }
  }
}

TEST(Mp4Reader, SampleToChunkRuns) {
  TrackSpec t;
  t.stts = {{12, 100}};
  t.stsc = {{1, 4, 1}, {3, 2, 1}};
  t.sizes = std::vector<uint32_t>(12, 10);
  // Chunks 1 and 2 hold 4 samples each, chunks 3 and 4 two each.
  t.chunks = {24, 100, 200, 300};
  TestPackage pak;
  media::Mp4Reader reader(pak.Add("stsc.3gp", Movie({t}, 400)));
  ASSERT_TRUE(reader.Open());
  auto samples = ReadAll(reader, 0);
  ASSERT_EQ(samples.size(), 12u);
  const uint32_t offsets[12] = {24, 34, 44, 54, 100, 110, 120, 130, 200, 210, 300, 310};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(samples[i].first, static_cast<uint8_t>(offsets[i] - 24)) << i;
    EXPECT_EQ(samples[i].time, static_cast<uint32_t>(i * 100)) << i;
  }
}

TEST(Mp4Reader, SeekAndTimescale) {
  TrackSpec t;
  t.timescale = 8000;
  t.stts = {{10, 160}};  // 20 ms each
  t.stsc = {{1, 5, 1}};
  t.sizes = std::vector<uint32_t>(10, 4);
  t.chunks = {24, 64};
  TestPackage pak;
  media::Mp4Reader reader(pak.Add("seek.3gp", Movie({t}, 100)));
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.GetTimescale(0), 8000u);
  EXPECT_EQ(reader.GetDuration(0), 1000);
  auto cursor = reader.OpenTrack(0);
  ASSERT_TRUE(reader.Seek(cursor.get(), 0));
  auto all = ReadAll(reader, 0, cursor.get());
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[0].time, 0u);
  EXPECT_EQ(all[9].time, 180u);
  ASSERT_TRUE(reader.Seek(cursor.get(), 130));
  auto rest = ReadAll(reader, 0, cursor.get());
  ASSERT_EQ(rest.size(), 4u);
  EXPECT_EQ(rest[0].time, 120u);
  EXPECT_EQ(rest[0].first, 64 - 24 + 4);
  EXPECT_FALSE(reader.Seek(cursor.get(), 200));
  EXPECT_EQ(reader.OpenTrack(1), nullptr);
  EXPECT_EQ(reader.GetDuration(1), -1);
  EXPECT_EQ(reader.GetTimescale(1), 0u);
}

TEST(Mp4Reader, Co64OffsetsAreUsedWhenThereIsNoStco) {
  TrackSpec t;
  t.stts = {{3, 10}};
  t.stsc = {{1, 1, 1}};
  t.sizes = {5, 5, 5};
  t.chunks = {30, 40, 50};
  t.co64 = true;
  TestPackage pak;
  media::Mp4Reader reader(pak.Add("co64.mp4", Movie({t}, 60)));
  ASSERT_TRUE(reader.Open());
  auto samples = ReadAll(reader, 0);
  ASSERT_EQ(samples.size(), 3u);
  EXPECT_EQ(samples[2].first, 50 - 24);
}

TEST(Mp4Reader, AtMostEightTracksAndHandlerOrder) {
  std::vector<TrackSpec> tracks(10);
  for (auto& t : tracks) {
    t.stts = {{1, 10}};
    t.stsc = {{1, 1, 1}};
    t.sizes = {4};
    t.chunks = {24};
  }
  tracks[0].handler = "vide";
  tracks[2].handler = "hint";
  TestPackage pak;
  media::Mp4Reader reader(pak.Add("many.mp4", Movie(tracks, 8)));
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.track_count(), 8);
  EXPECT_EQ(reader.GetVideoTrack(), 0);
  EXPECT_EQ(reader.GetAudioTrack(), 1);
  EXPECT_EQ(ReadAll(reader, 7).size(), 1u);
}

TEST(Mp4Reader, HostileTablesAreBounded) {
  struct Case {
    const char* what;
    TrackSpec t;
    size_t samples;
  };
  TrackSpec base;
  base.stts = {{4, 10}};
  base.stsc = {{1, 4, 1}};
  base.sizes = {4, 4, 4, 4};
  base.chunks = {24};
  std::vector<Case> cases;
  cases.push_back({"plain", base, 4});
  TrackSpec zero_scale = base;
  zero_scale.timescale = 0;
  cases.push_back({"timescale 0", zero_scale, 0});
  TrackSpec huge = base;
  huge.sizes = {4, 0x7FFFFFF0, 4, 4};
  cases.push_back({"sample size past the file", huge, 1});
  TrackSpec past = base;
  past.chunks = {0xFFFFFFF0};
  cases.push_back({"chunk offset past the file", past, 0});
  TrackSpec zero_per_chunk = base;
  zero_per_chunk.stsc = {{1, 0, 1}};
  cases.push_back({"no samples per chunk", zero_per_chunk, 0});
  for (const Case& c : cases) {
    TestPackage pak;
    media::Mp4Reader reader(pak.Add("h.mp4", Movie({c.t}, 16)));
    ASSERT_TRUE(reader.Open()) << c.what;
    EXPECT_EQ(ReadAll(reader, 0).size(), c.samples) << c.what;
  }
}

TEST(Mp4Reader, CountsLargerThanTheirBoxes) {
  TrackSpec t;
  t.stts = {{4, 10}};
  t.stsc = {{1, 4, 1}};
  t.sizes = {4, 4, 4, 4};
  t.chunks = {24};
  Bytes file = Movie({t}, 16);
  // Raise every table's entry count to 0x7FFFFFFF (the stsz sample count too).
  for (const char* type : {"stts", "stsc", "stsz", "stco", "stsd"}) {
    auto it = std::search(file.begin(), file.end(), type, type + 4);
    ASSERT_NE(it, file.end());
    size_t count_at = (it - file.begin()) + 8 + (std::strcmp(type, "stsz") == 0 ? 4 : 0);
    file[count_at] = 0x7F;
    file[count_at + 1] = file[count_at + 2] = file[count_at + 3] = 0xFF;
  }
  TestPackage pak;
  media::Mp4Reader reader(pak.Add("counts.mp4", file));
  ASSERT_TRUE(reader.Open());
  EXPECT_LE(ReadAll(reader, 0).size(), 4u);
}

TEST(Mp4Reader, DamagedCopiesOfFixturesNeverCrash) {
  for (const char* name : {"media_h264_aac.mp4", "media_h263_amr.3gp"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto original = ovtest::ReadFileBytes(path);
    for (uint32_t seed = 0; seed < 24; ++seed) {
      Bytes bytes = seed < 12 ? Bytes(original.begin(), original.begin() + original.size() * seed / 12)
                              : mediatest::Corrupt(original, seed, 30, 0);
      TestPackage pak;
      media::Mp4Reader reader(pak.Add("d.mp4", bytes));
      for (int track = 0; track < reader.track_count(); ++track) {
        ReadAll(reader, track);
        auto cursor = reader.OpenTrack(track);
        reader.Seek(cursor.get(), 500);
        uint32_t n = 0;
        reader.GetDecoderConfig(false, &n);
        reader.GetAvcConfig(&n);
      }
    }
  }
}

}  // namespace
