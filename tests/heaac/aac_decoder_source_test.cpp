// The AAC decoder source: ADTS files and MP4 sound tracks through
// OpenAudioSource, block times, seek and end trims, and ADTS frames that
// carry several raw data blocks.
#include "media/aac_decoder_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/decoder_source.h"
#include "media/mp4_reader.h"
#include "platform/os/ov_string.h"
#include "tests/heaac/aac_test_util.h"
#include "tests/support/test_paths.h"

namespace {

struct Block {
  uint32_t bytes;
  uint32_t time;
};

std::vector<int16_t> ReadAll(media::DecoderSource& source, std::vector<Block>* blocks = nullptr) {
  std::vector<int16_t> pcm;
  uint32_t bytes = 0, time = 0;
  while (auto block = source.ReadAudio(4096, &bytes, &time)) {
    const auto* p = reinterpret_cast<const int16_t*>(block.get());
    pcm.insert(pcm.end(), p, p + bytes / 2);
    if (blocks) blocks->push_back({bytes, time});
  }
  return pcm;
}

std::unique_ptr<media::DecoderSource> Open(const std::string& path) {
  return media::OpenAudioSource(ov::String::FromUtf8Lossy(path));
}

TEST(AacDecoderSource, AdtsFileDecodesLikeTheDecoder) {
  const std::string path = ovtest::FixturePath("aac_lc_44100_stereo.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = Open(path);
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.sampleRate, 44100u);
  EXPECT_EQ(format.channels, 2u);
  EXPECT_EQ(format.bitsPerSample, 16u);
  std::vector<Block> blocks;
  const std::vector<int16_t> pcm = ReadAll(*source, &blocks);
  EXPECT_EQ(pcm, aactest::DecodeStream(ovtest::ReadFileBytes(path)).samples);
  ASSERT_GT(blocks.size(), 10u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].bytes, 4096u);
    EXPECT_EQ(blocks[i].time, i * 1024 * 1000 / 44100) << i;
  }
}

// The track's edit skips the encoder's 1024 priming samples (ffmpeg writes
// them so): the clip starts after them, sample-exact, in every block and
// after a seek; the sound lasts the edit's 2000 ms, where ffmpeg decodes on
// through the encoder's padding to the end of the last block.
TEST(AacDecoderSource, Mp4SoundTrackDecodesLikeTheDecoderFromItsEdit) {
  const std::string path = ovtest::FixturePath("aac_stereo.m4a");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = Open(path);
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.sampleRate, 44100u);
  EXPECT_EQ(format.channels, 2u);
  std::vector<Block> blocks;
  const std::vector<int16_t> pcm = ReadAll(*source, &blocks);
  const std::vector<int16_t> all = aactest::DecodeMp4(path).samples;
  ASSERT_GT(all.size(), 2u * 1024 * 2);
  ASSERT_EQ(pcm.size(), 2u * 88200);
  EXPECT_EQ(pcm, std::vector<int16_t>(all.begin() + 2 * 1024, all.begin() + 2 * 1024 + 2 * 88200));
  ASSERT_GT(blocks.size(), 2u);
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].time, i * 1024 * 1000 / 44100) << i;
  // ffmpeg, applying the edit's start, decodes every block after it.
  FILE* f = ::popen(("ffmpeg -v error -i '" + path + "' -f s16le - 2>/dev/null | wc -c").c_str(), "r");
  ASSERT_TRUE(f);
  long peer_bytes = 0;
  EXPECT_EQ(std::fscanf(f, "%ld", &peer_bytes), 1);
  ::pclose(f);
  EXPECT_EQ(static_cast<size_t>(peer_bytes), (all.size() - 2 * 1024) * 2);
  // A seek to 40 ms counts from the edit too: it lands in the block of 23 ms
  // (the second after the priming), trimmed to start at 40 ms exactly (1764
  // samples after the edit's start), as the whole decode has it there: the
  // decoder starts afresh on the block before.
  ASSERT_TRUE(source->Seek(40));
  uint32_t bytes = 0, time = 0;
  auto block = source->ReadAudio(4096, &bytes, &time);
  ASSERT_TRUE(block);
  EXPECT_EQ(time, 40u);
  EXPECT_EQ(bytes, 4096u - (40 * 44100 / 1000 - 1024) * 4);
  const auto* p = reinterpret_cast<const int16_t*>(block.get());
  EXPECT_TRUE(std::equal(p, p + bytes / 2, pcm.begin() + 1764 * 2));
  // Every start and loop (the mixer seeks to 0 at its load and rewinds at
  // each loop) gives the same samples as the first pass, from the first.
  ASSERT_TRUE(source->Rewind());
  EXPECT_EQ(ReadAll(*source), pcm);
  ASSERT_TRUE(source->Seek(0));
  EXPECT_EQ(ReadAll(*source), pcm);
}

// ffmpeg-made clips of a 1 kHz tone from the first sample, 2.01 s long (the
// last block holds the encoder's padding after the edit's end), the sound
// alone and delayed 0.7 s behind a picture (-itsoffset: an empty edit, then
// the edit into the media). As the mixer plays it (a seek to 0, then a
// rewind at each loop), each pass gives silence as long as the empty edit,
// then exactly the samples ffmpeg decodes: as many, beginning with the
// clip's first sample (the first 5 ms at ffmpeg's level), ending at the
// edit's end.
TEST(AacDecoderSource, EachStartGivesTheEditsSamplesAfterItsDelay) {
  struct Case {
    const char* name;
    const char* inputs;
  } cases[] = {
      {"tone.m4a", "-f lavfi -i sine=f=1000:r=44100:d=2.01 -ac 2"},
      {"late.mp4", "-f lavfi -i color=c=black:s=64x64:r=25:d=3 -itsoffset 0.7 -f lavfi -i sine=f=1000:r=44100:d=2.01 "
                   "-ac 2 -c:v mpeg4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = ovtest::ScratchDir() + "/" + c.name;
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y " + std::string(c.inputs) + " -c:a aac -b:a 128k " + path +
                           " 2>/dev/null")
                              .c_str()),
              0);
    // ffmpeg's decode, and where it puts its start.
    std::vector<int16_t> peer;
    FILE* f = ::popen(("ffmpeg -v error -i " + path + " -map 0:a -f s16le - 2>/dev/null").c_str(), "r");
    ASSERT_TRUE(f);
    int16_t chunk[4096];
    for (size_t n; (n = std::fread(chunk, 2, 4096, f)) > 0;) peer.insert(peer.end(), chunk, chunk + n);
    ::pclose(f);
    f = ::popen(("ffprobe -v error -select_streams a:0 -show_entries stream=start_time -of csv=p=0 " + path).c_str(),
                "r");
    ASSERT_TRUE(f);
    double start = 0;
    EXPECT_EQ(std::fscanf(f, "%lf", &start), 1);
    ::pclose(f);
    ASSERT_GT(peer.size(), 44100u * 2 * 2);

    auto source = Open(path);
    ASSERT_TRUE(source);
    std::vector<std::vector<int16_t>> passes;
    ASSERT_TRUE(source->Seek(0));
    passes.push_back(ReadAll(*source));
    ASSERT_TRUE(source->Rewind());
    passes.push_back(ReadAll(*source));
    EXPECT_EQ(passes[0], passes[1]);
    const std::vector<int16_t>& pcm = passes[0];
    // The media edit's samples (ffmpeg decodes on to the end of the last
    // block) after the delay, which is silent and as long as ffmpeg's start
    // within a millisecond (the edits count in the movie's milliseconds).
    media::Mp4Reader reader(ov::String::FromUtf8Lossy(path));
    ASSERT_TRUE(reader.Open());
    const media::Mp4Track& track = *reader.track(reader.GetAudioTrack());
    const size_t edit = 2 * (track.edit_end - track.lead_in) * 44100 / track.timescale;
    EXPECT_EQ(edit, 2 * media::Mp4Reader::Rescale(track.edits.back().segment_duration, 44100, 1000));
    ASSERT_LT(edit, peer.size());
    ASSERT_GE(pcm.size(), edit);
    const size_t silent = pcm.size() - edit;
    EXPECT_NEAR(static_cast<double>(silent / 2) / 44100, start, 0.0011);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + static_cast<long>(silent), [](int16_t v) { return v == 0; }));
    // The start block by block (5 ms): at ffmpeg's level wherever ffmpeg
    // has sound (ffmpeg puts the encoder's priming of a delayed track, which
    // decodes near silent, before its first sample; so does its edit).
    auto peak = [](const int16_t* p, size_t n) {
      int m = 0;
      for (size_t i = 0; i < n; ++i) m = std::max(m, std::abs(int{p[i]}));
      return m;
    };
    int loud = 0;
    for (size_t b = 0; b < 20; ++b) {
      const int ours = peak(pcm.data() + silent + b * 440, 440), theirs = peak(peer.data() + b * 440, 440);
      if (theirs < 1000) {
        EXPECT_LT(ours, 1000) << "block " << b;
        continue;
      }
      ++loud;
      EXPECT_NEAR(20 * std::log10(std::max(ours, 1) / static_cast<double>(theirs)), 0.0, 1.0)
          << "block " << b << ": " << ours << " / " << theirs;
    }
    EXPECT_GT(loud, 10);
  }
}

// An ADTS frame with four raw data blocks gives four blocks of PCM, not one
// block and the end of the clip.
TEST(AacDecoderSource, SeveralRawBlocksPerAdtsFrame) {
  const std::string name = "aac_lc_44100_mono.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = ovtest::ReadFileBytes(ovtest::FixturePath(name));
  // Repack: four consecutive frames' blocks behind one header.
  std::vector<std::vector<uint8_t>> raw;
  for (size_t pos = 0; pos < adts.size();) {
    const size_t len = aactest::AdtsFrameLength(&adts[pos], adts.size() - pos);
    if (len < 7 || len > adts.size() - pos) break;
    raw.emplace_back(adts.begin() + static_cast<long>(pos + 7), adts.begin() + static_cast<long>(pos + len));
    pos += len;
  }
  std::vector<uint8_t> multi;
  for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
    std::vector<uint8_t> frame(adts.begin(), adts.begin() + 7);
    for (size_t k = 0; k < 4; ++k) frame.insert(frame.end(), raw[i + k].begin(), raw[i + k].end());
    const size_t len = frame.size();
    frame[3] = static_cast<uint8_t>((frame[3] & 0xFC) | ((len >> 11) & 3));
    frame[4] = static_cast<uint8_t>(len >> 3);
    frame[5] = static_cast<uint8_t>((frame[5] & 0x1F) | ((len & 7) << 5));
    frame[6] = static_cast<uint8_t>((frame[6] & 0xFC) | 3);
    multi.insert(multi.end(), frame.begin(), frame.end());
  }
  const std::string path = ovtest::ScratchDir() + "/multi.aac";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(multi.data(), 1, multi.size(), f);
  std::fclose(f);
  auto source = Open(path);
  ASSERT_TRUE(source);
  std::vector<Block> blocks;
  const std::vector<int16_t> pcm = ReadAll(*source, &blocks);
  const std::vector<int16_t> original = aactest::DecodeStream(adts).samples;
  ASSERT_EQ(pcm.size(), raw.size() / 4 * 4 * 1024);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), original.begin()));
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].time, i * 1024 * 1000 / 44100) << i;
}

// Seek to 10 ms in a 44.1 kHz stereo clip: the first block (time 0) loses
// 10 x 44100 x 4 / 8000 x 8 = 1760 bytes and reports 10 ms. An end mark cuts
// the last block so that the audio ends there.
TEST(AacDecoderSource, SeekAndEndTrims) {
  const std::string path = ovtest::FixturePath("aac_lc_44100_stereo.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = Open(path);
  ASSERT_TRUE(source);
  const std::vector<int16_t> whole = ReadAll(*source);
  ASSERT_TRUE(source->Seek(10));
  uint32_t bytes = 0, time = 0;
  auto block = source->ReadAudio(4096, &bytes, &time);
  ASSERT_TRUE(block);
  EXPECT_EQ(bytes, 4096u - 1760u);
  EXPECT_EQ(time, 10u);
  const auto* p = reinterpret_cast<const int16_t*>(block.get());
  EXPECT_TRUE(std::equal(p, p + bytes / 2, whole.begin() + 1760 / 2));

  ASSERT_TRUE(source->Rewind());
  source->endMark = 500;
  std::vector<Block> blocks;
  ReadAll(*source, &blocks);
  ASSERT_FALSE(blocks.empty());
  const Block& last = blocks.back();
  const uint32_t end = last.time + last.bytes * 1000 / (44100 * 4);
  EXPECT_LE(end, 500u);
  EXPECT_GE(end, 499u);
}

// An HE-AAC ADTS clip (22.05 kHz core, 44.1 kHz output): blocks of 2048
// samples whose times follow the core rate (the ADTS reader counts 1024 core
// samples a frame), and a seek lands within one frame of its target.
TEST(AacDecoderSource, HeAacClipTimesFollowTheCoreRate) {
  const std::string path = ovtest::FixturePath("aac_sbr_flat_22k_mono.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = Open(path);
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.sampleRate, 44100u);
  std::vector<Block> blocks;
  const std::vector<int16_t> pcm = ReadAll(*source, &blocks);
  EXPECT_EQ(pcm, aactest::DecodeStream(ovtest::ReadFileBytes(path)).samples);
  ASSERT_GT(blocks.size(), 40u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].bytes, 4096u) << i;
    EXPECT_EQ(blocks[i].time, i * 1024 * 1000 / 22050) << i;
  }
  // A seek to 1000 ms: the reader steps back one frame for lead-in before
  // the frame that holds the target (frame 21, 975 ms), and the block of
  // that frame is trimmed to start at the target.
  ASSERT_TRUE(source->Seek(1000));
  uint32_t bytes = 0, time = 0;
  auto lead = source->ReadAudio(4096, &bytes, &time);
  ASSERT_TRUE(lead);
  EXPECT_EQ(time, 20u * 1024 * 1000 / 22050);
  EXPECT_EQ(bytes, 4096u);
  auto block = source->ReadAudio(4096, &bytes, &time);
  ASSERT_TRUE(block);
  EXPECT_EQ(time, 1000u);
  // 24.8 ms of the frame at 975.2 ms: (1000 - 975) x 44100 x 2 / 8000 x 8.
  EXPECT_EQ(bytes, 4096u - (1000u - 975u) * 44100 * 2 / 8000 * 8);
}

// Damaged copies end the clip early or decode with errors, never crash.
TEST(AacDecoderSource, DamagedFilesNeverCrash) {
  const std::string path = ovtest::FixturePath("aac_tns_on.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(path);
  const std::string dir = ovtest::ScratchDir();
  uint32_t state = 12345;
  for (int round = 0; round < 8; ++round) {
    std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * (round + 2) / 10));
    for (int k = 0; k < 30; ++k) {
      state = state * 1664525u + 1013904223u;
      damaged[(state >> 8) % damaged.size()] ^= static_cast<uint8_t>(1u << (state & 7));
    }
    const std::string copy = dir + "/damaged" + std::to_string(round) + ".aac";
    FILE* f = std::fopen(copy.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(damaged.data(), 1, damaged.size(), f);
    std::fclose(f);
    if (auto source = Open(copy)) ReadAll(*source);
  }
}

TEST(AacDecoderSource, SharedSamplesOpenThroughTheFactory) {
  OV_SKIP_WITHOUT_SHARED_TESTDATA();
  for (const char* file : {"aac/androidx_sample.adts", "aac/androidx_long_edit_list_audioonly.mp4"}) {
    // ".adts" is not an extension the factory knows; the MP4 is.
    auto source = Open(ovtest::SharedTestdataPath(file));
    if (std::string(file).ends_with(".adts")) {
      EXPECT_FALSE(source);
      continue;
    }
    ASSERT_TRUE(source) << file;
    const std::vector<int16_t> pcm = ReadAll(*source);
    // Its one edit starts the sound 26342 samples into the track, where
    // ffmpeg starts it too, and ends it 68266 samples later (ffmpeg decodes
    // on to the end of the last block: 68890 samples).
    const std::vector<int16_t> all = aactest::DecodeMp4(ovtest::SharedTestdataPath(file)).samples;
    ASSERT_GT(all.size(), 26342u * 2);
    ASSERT_EQ(pcm.size(), 68266u * 2);
    EXPECT_EQ(pcm, std::vector<int16_t>(all.begin() + 26342 * 2, all.begin() + (26342 + 68266) * 2));
  }
}

}  // namespace
