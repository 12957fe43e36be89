#include "media/amr_decoder_source.h"

#include <gtest/gtest.h>
#include <opencore-amrnb/interf_dec.h>

#include <algorithm>
#include <cstring>

#include "media/amr_reader.h"
#include "media/mp4_reader.h"
#include "tests/media/media_test_util.h"
#include "tests/media/mp4_builder.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mediatest::TestPackage;

// The reference: every frame of an AMR storage-format file decoded directly.
Bytes DirectDecode(const Bytes& file) {
  Bytes pcm;
  void* state = Decoder_Interface_init();
  size_t at = 6;
  while (at < file.size()) {
    uint32_t bytes = 1 + media::AmrPayloadBytes((file[at] >> 3) & 15, false);
    if (at + bytes > file.size()) break;
    short out[160];
    Decoder_Interface_Decode(state, file.data() + at, out, 0);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(out);
    pcm.insert(pcm.end(), p, p + sizeof(out));
    at += bytes;
  }
  Decoder_Interface_exit(state);
  return pcm;
}

struct Block {
  uint32_t bytes;
  uint32_t time;
};

Bytes ReadAllPcm(media::DecoderSource& source, std::vector<Block>* blocks = nullptr) {
  Bytes pcm;
  uint32_t bytes = 0, time = 0;
  while (auto block = source.ReadAudio(4096, &bytes, &time)) {
    pcm.insert(pcm.end(), block.get(), block.get() + bytes);
    if (blocks) blocks->push_back({bytes, time});
  }
  return pcm;
}

TEST(AmrDecoderSource, AmrFileMatchesDirectDecode) {
  std::string path = ovtest::FixturePath("media_122.amr");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto file = ovtest::ReadFileBytes(path);
  TestPackage pak;
  auto p = pak.Add("a.amr", file);
  auto reader = std::make_unique<media::AmrReader>(p);
  ASSERT_TRUE(reader->Open());
  media::AmrDecoderSource source(std::move(reader));
  ASSERT_TRUE(source.Open(p, 1));
  media::MediaFormat format;
  ASSERT_TRUE(source.GetFormat(&format));
  EXPECT_EQ(format.sampleRate, 8000u);
  EXPECT_EQ(format.bitsPerSample, 16u);
  EXPECT_EQ(format.channels, 1u);
  std::vector<Block> blocks;
  Bytes pcm = ReadAllPcm(source, &blocks);
  EXPECT_EQ(pcm, DirectDecode(file));
  ASSERT_FALSE(blocks.empty());
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].time, i * 20);
  // Rewind starts again from the first frame.
  ASSERT_TRUE(source.Rewind());
  EXPECT_EQ(ReadAllPcm(source).size(), pcm.size());
}

TEST(AmrDecoderSource, ThreeGpTrackMatchesTheAmrFileItCameFrom) {
  std::string amr = ovtest::FixturePath("media_122.amr");
  std::string gp = ovtest::FixturePath("media_h263_amr.3gp");
  OV_SKIP_WITHOUT_FIXTURE(amr);
  OV_SKIP_WITHOUT_FIXTURE(gp);
  TestPackage pak;
  auto p = pak.Add("a.3gp", ovtest::ReadFileBytes(gp));
  auto reader = std::make_unique<media::Mp4Reader>(p);
  ASSERT_TRUE(reader->amr());
  media::AmrDecoderSource source(std::move(reader));
  ASSERT_TRUE(source.Open(p, 1));
  Bytes pcm = ReadAllPcm(source);
  Bytes reference = DirectDecode(ovtest::ReadFileBytes(amr));
  // The 3GP holds the AMR file's frames up to the shorter video's end.
  ASSERT_GT(pcm.size(), 0u);
  ASSERT_LE(pcm.size(), reference.size());
  EXPECT_EQ(0, std::memcmp(pcm.data(), reference.data(), pcm.size()));
}

Bytes AmrFile(const std::vector<uint8_t>& types) {
  Bytes file = {'#', '!', 'A', 'M', 'R', '\n'};
  for (uint8_t t : types) {
    file.push_back(static_cast<uint8_t>((t << 3) | 4));
    file.insert(file.end(), media::AmrPayloadBytes(t, false), 0x5A);
  }
  return file;
}

TEST(AmrDecoderSource, SeekTrimsTheFirstBlockAndMarksCutTheLast) {
  TestPackage pak;
  auto p = pak.Add("s.amr", AmrFile(std::vector<uint8_t>(100, 7)));
  media::AmrDecoderSource source(std::make_unique<media::AmrReader>(p));
  ASSERT_TRUE(source.Open(p, 1));
  ASSERT_TRUE(source.Seek(1005));
  uint32_t bytes = 0, time = 0;
  auto block = source.ReadAudio(320, &bytes, &time);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(bytes, 240u);
  EXPECT_EQ(time, 1005u);
  block = source.ReadAudio(320, &bytes, &time);
  EXPECT_EQ(bytes, 320u);
  EXPECT_EQ(time, 1020u);

  source.endMark = 1050;
  block = source.ReadAudio(320, &bytes, &time);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(time, 1040u);
  EXPECT_EQ(bytes, 10u * 16);
  EXPECT_EQ(source.ReadAudio(320, &bytes, &time), nullptr);
}

TEST(AmrDecoderSource, NoDataFrameAndTruncatedFrame) {
  TestPackage pak;
  auto p = pak.Add("n.amr", AmrFile({7, 15, 7}));
  media::AmrDecoderSource source(std::make_unique<media::AmrReader>(p));
  ASSERT_TRUE(source.Open(p, 1));
  std::vector<Block> blocks;
  ReadAllPcm(source, &blocks);
  ASSERT_EQ(blocks.size(), 3u);
  for (const Block& b : blocks) EXPECT_EQ(b.bytes, 320u);
  EXPECT_EQ(blocks[2].time, 40u);
}

TEST(AmrDecoderSource, WithoutReaderOpenFails) {
  media::AmrDecoderSource source(nullptr);
  EXPECT_FALSE(source.Open(u"x.amr", 1));
  uint32_t bytes = 1, time = 0;
  EXPECT_EQ(source.ReadAudio(320, &bytes, &time), nullptr);
  EXPECT_FALSE(source.Seek(0));
}

}  // namespace

namespace {

TEST(AmrDecoderSource, Mp4SampleOfTenFramesGivesTenBlocks) {
  // Two samples of ten 12.2 kbit/s frames (32 bytes each) in a "samr" track.
  mediatest::TrackSpec t;
  t.timescale = 8000;
  t.stts = {{2, 1600}};  // 200 ms each
  t.stsc = {{1, 2, 1}};
  t.sizes = {320, 320};
  t.chunks = {24};
  t.entry_children = mediatest::Box("damr", Bytes(9, 0));
  Bytes file = mediatest::Movie({t}, 640);
  for (int f = 0; f < 20; ++f) file[24 + 32 * f] = static_cast<uint8_t>((7 << 3) | 4);
  TestPackage pak;
  auto p = pak.Add("ten.3gp", file);
  auto reader = std::make_unique<media::Mp4Reader>(p);
  ASSERT_TRUE(reader->amr());
  media::AmrDecoderSource source(std::move(reader));
  ASSERT_TRUE(source.Open(p, 1));
  std::vector<Block> blocks;
  ReadAllPcm(source, &blocks);
  ASSERT_EQ(blocks.size(), 20u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].bytes, 320u);
    EXPECT_EQ(blocks[i].time, i * 20) << i;
  }
  // A seek lands on the sample that holds the target (200 to 400 ms): its
  // frames wholly before the target come with their own times, the one that
  // holds it is trimmed to start there.
  ASSERT_TRUE(source.Seek(250));
  std::vector<Block> after;
  ReadAllPcm(source, &after);
  ASSERT_EQ(after.size(), 10u);
  EXPECT_EQ(after[0].time, 200u);
  EXPECT_EQ(after[1].time, 220u);
  EXPECT_EQ(after[2].time, 250u);
  EXPECT_EQ(after[2].bytes, 320u - 10 * 16);
  EXPECT_EQ(after[3].time, 260u);
}

}  // namespace

namespace {

// A "samr" track of two samples of ten 12.2 kbit/s frames (400 ms) under
// its edits: one edit 100 ms into the media lasting 250 ms gives the frames
// from there, the last cut at the edit's end; an empty edit before it adds
// its 100 ms of silence first. The first pass, a rewind and a seek to 0 give
// the same blocks, times and samples.
TEST(AmrDecoderSource, Mp4TrackPlaysItsEditsAlikeOnEveryPass) {
  struct Case {
    std::vector<std::pair<uint32_t, int32_t>> edits;
    uint32_t silent_ms, sound_ms;
  } cases[] = {
      {{}, 0, 400},
      {{{250, 800}}, 0, 250},
      {{{100, -1}, {250, 800}}, 100, 250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edits.size());
    mediatest::TrackSpec t;
    t.timescale = 8000;
    t.stts = {{2, 1600}};
    t.stsc = {{1, 2, 1}};
    t.sizes = {320, 320};
    t.chunks = {24};
    t.entry_children = mediatest::Box("damr", Bytes(9, 0));
    t.edits = c.edits;
    Bytes file = mediatest::Movie({t}, 640);
    for (int f = 0; f < 20; ++f) file[24 + 32 * f] = static_cast<uint8_t>((7 << 3) | 4);
    TestPackage pak;
    auto p = pak.Add("edit.3gp", file);
    media::AmrDecoderSource source(std::make_unique<media::Mp4Reader>(p));
    ASSERT_TRUE(source.Open(p, 1));
    std::vector<Block> first;
    const Bytes pcm = ReadAllPcm(source, &first);
    EXPECT_EQ(pcm.size(), (c.silent_ms + c.sound_ms) * 16u);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].time, 0u);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + c.silent_ms * 16, [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::any_of(pcm.begin() + c.silent_ms * 16, pcm.end(), [](uint8_t v) { return v != 0; }));
    uint32_t expected = 0;
    for (const Block& b : first) {
      EXPECT_EQ(b.time, expected);
      expected += b.bytes / 16;
    }
    for (int pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(pass ? "seek to 0" : "rewind");
      ASSERT_TRUE(pass ? source.Seek(0) : source.Rewind());
      std::vector<Block> again;
      EXPECT_EQ(ReadAllPcm(source, &again), pcm);
      ASSERT_EQ(again.size(), first.size());
      for (size_t i = 0; i < again.size(); ++i) {
        EXPECT_EQ(again[i].time, first[i].time) << i;
        EXPECT_EQ(again[i].bytes, first[i].bytes) << i;
      }
    }
  }
}

}  // namespace
