#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "media/decoder_source.h"
#include "media/wav_file.h"
#include "media/wma_dmo_source.h"
#include "media/wmv_dmo_source.h"
#include "tests/media/asf_builder.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;

// WMA output is compared with ffmpeg's decoding: the same decoder, so any
// difference beyond the float-to-16-bit rounding is a fault.
constexpr int kMaxLsbDifference = 1;
// WMV pictures against ffmpeg's RGB565: our conversion (video range, no
// dither) beside swscale's dithered one.
constexpr double kMinWmvPsnr = 35.0;

std::vector<int16_t> Samples(const uint8_t* bytes, size_t n) {
  std::vector<int16_t> s(n / 2);
  for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return s;
}

struct Block {
  uint32_t time;
  uint32_t bytes;
};

// Every block of a source: the PCM and each block's time and length.
Bytes ReadSound(media::DecoderSource& source, std::vector<Block>* blocks = nullptr) {
  Bytes pcm;
  uint32_t bytes = 0, time = 0;
  while (auto block = source.ReadAudio(4096, &bytes, &time)) {
    if (blocks) blocks->push_back({time, bytes});
    pcm.insert(pcm.end(), block.get(), block.get() + bytes);
  }
  return pcm;
}

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from = 0) {
  int worst = 0;
  for (size_t i = from; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

std::vector<int16_t> FfmpegPcm(const std::string& path) {
  const std::string raw = mediatest::RunCommand("ffmpeg -v error -i '" + path + "' -vn -f s16le -");
  return Samples(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
}

const char* const kSoundFixtures[] = {"media_wmav1.wma", "media_wmav2.wma", "media_wmv1.wmv", "media_wmv2.wmv"};

TEST(WmaDmoSource, AdecEqualsFfmpeg) {
  for (const char* name : kSoundFixtures) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    const std::string out = ovtest::ScratchDir() + "/" + name + ".wav";
    ASSERT_EQ(std::system(("'" OVMIX_BIN_DIR "ovtool' adec '" + path + "' '" + out + "' >/dev/null").c_str()), 0)
        << name;
    const Bytes wav = ovtest::ReadFileBytes(out);
    ASSERT_GT(wav.size(), 44u);
    const auto ours = Samples(wav.data() + 44, wav.size() - 44);
    const auto theirs = FfmpegPcm(path);
    EXPECT_EQ(ours.size(), theirs.size()) << name;
    EXPECT_LE(MaxDifference(ours, theirs), kMaxLsbDifference) << name;
  }
}

// A block's time is that of its first sample: the samples delivered before
// it; no block is empty.
TEST(WmaDmoSource, BlockTimesCountTheSamplesBefore) {
  for (const char* name : kSoundFixtures) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto source = media::OpenAudioSource(mediatest::U16(path));
    ASSERT_TRUE(source) << name;
    media::MediaFormat f;
    ASSERT_TRUE(source->GetFormat(&f));
    std::vector<Block> blocks;
    ReadSound(*source, &blocks);
    ASSERT_GT(blocks.size(), 10u);
    uint64_t before = 0;
    for (const Block& b : blocks) {
      EXPECT_GT(b.bytes, 0u);
      EXPECT_EQ(b.time, before * 1000 / f.sampleRate) << name;
      before += b.bytes / (2 * f.channels);
    }
  }
}

// A seek lands on the target: the first block starts at it, and after the
// decoder has settled its sound is the whole decode's from that time on
// (within a millisecond: ASF times are whole milliseconds).
TEST(WmaDmoSource, SeekLandsOnTheTarget) {
  const std::string path = ovtest::FixturePath("media_wmav2.wma");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = media::OpenAudioSource(mediatest::U16(path));
  ASSERT_TRUE(source);
  media::MediaFormat f;
  ASSERT_TRUE(source->GetFormat(&f));
  const Bytes whole = ReadSound(*source);
  const auto all = Samples(whole.data(), whole.size());
  const int64_t ms = f.sampleRate / 1000;
  for (uint32_t target : {700u, 30u, 0u, 1200u}) {
    ASSERT_TRUE(source->Seek(target)) << target;
    std::vector<Block> blocks;
    const Bytes pcm = ReadSound(*source, &blocks);
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks[0].time, target);
    const auto got = Samples(pcm.data(), pcm.size());
    const int64_t start = int64_t(target) * f.sampleRate / 1000;
    int best = INT32_MAX;
    int64_t bestShift = 0;
    for (int64_t shift = -ms; shift <= ms; ++shift) {
      if (start + shift < 0) continue;
      std::vector<int16_t> expected(all.begin() + (start + shift) * f.channels, all.end());
      // 100 ms for the decoder to settle after the seek.
      const int d = MaxDifference(got, expected, f.sampleRate / 10 * f.channels);
      if (d < best) {
        best = d;
        bestShift = shift;
      }
    }
    EXPECT_LE(best, kMaxLsbDifference) << target;
    EXPECT_NEAR(double(got.size()), double(all.size() - size_t(start + bestShift) * f.channels), 0.0) << target;
  }
  EXPECT_FALSE(source->Seek(60000));
  EXPECT_TRUE(source->Rewind());
  EXPECT_EQ(ReadSound(*source), whole);
  // An end mark cuts the last block to end at it.
  source->endMark = 500;
  EXPECT_TRUE(source->Rewind());
  const Bytes cut = ReadSound(*source);
  EXPECT_EQ(cut.size(), size_t(500) * f.sampleRate / 1000 * 2 * f.channels);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

// Hand-made ASF sound: a PCM stream passes through as stored; a codec the
// decoder objects do not know gives no source.
TEST(WmaDmoSource, PcmPassesThroughAndUnknownCodecsFail) {
  mediatest::AsfFileSpec spec;
  spec.playDuration = 10'000'000;
  for (uint16_t tag : {uint16_t(1), uint16_t(0x55)}) {
    spec.streams = {mediatest::StreamProperties(true, 1, mediatest::WaveFormat(tag, 1, 8000, 16000, 2, 16, 0, {}))};
    spec.packets.clear();
    for (uint32_t i = 0; i < 3; ++i) {
      mediatest::AsfPayloadSpec p;
      p.data = Bytes(160, uint8_t(i + 1));
      p.replicated = mediatest::Replicated(160, i * 10);
      mediatest::AsfPacketSpec packet;
      packet.payloads = {p};
      spec.packets.push_back(packet);
    }
    mediatest::TestPackage pak;
    auto source = media::OpenAudioSource(pak.Add(tag == 1 ? "pcm.wma" : "mp3.wma", mediatest::BuildAsf(spec)));
    if (tag != 1) {
      EXPECT_FALSE(source);
      continue;
    }
    ASSERT_TRUE(source);
    std::vector<Block> blocks;
    const Bytes pcm = ReadSound(*source, &blocks);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2].time, 20u);  // 80 samples of 8 kHz per block
    EXPECT_EQ(pcm[0], 1);
    EXPECT_EQ(pcm[479], 3);
  }
}

struct Picture {
  uint32_t time;
  Bytes rgb;
};

std::vector<Picture> ReadPictures(media::DecoderSource& source) {
  std::vector<Picture> out;
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0, time = 0;
  while (source.ReadVideoFrame(&frame, &bytes, &time, 0)) out.push_back({time, Bytes(frame.get(), frame.get() + bytes)});
  return out;
}

// PSNR of one RGB565 field (shift, bits) over two whole buffers.
double FieldPsnr(const Bytes& a, const Bytes& b, int shift, int bits) {
  double sum = 0;
  const size_t n = std::min(a.size(), b.size()) / 2;
  const int max = (1 << bits) - 1;
  for (size_t i = 0; i < n; ++i) {
    const int pa = ((a[2 * i] | a[2 * i + 1] << 8) >> shift) & max;
    const int pb = ((b[2 * i] | b[2 * i + 1] << 8) >> shift) & max;
    const double d = double(pa - pb) * 255.0 / max;
    sum += d * d;
  }
  return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

TEST(WmvDmoSource, FramesAndPicturesMatchFfmpeg) {
  for (const char* name : {"media_wmv1.wmv", "media_wmv2.wmv"}) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    media::WmvDmoSource source;
    source.path = mediatest::U16(path);
    ASSERT_TRUE(source.Open(source.path, 1)) << name;
    media::MediaFormat f;
    ASSERT_TRUE(source.GetFormat(&f));
    EXPECT_EQ(f.width, 176u);
    EXPECT_EQ(f.height, 144u);
    EXPECT_TRUE(source.IsBottomUp());
    const auto pictures = ReadPictures(source);
    const auto packets = mediatest::ProbePackets(path, 0);
    ASSERT_EQ(pictures.size(), packets.size()) << name;
    const std::string raw = mediatest::RunCommand("ffmpeg -v error -i '" + path +
                                                  "' -an -vf vflip -pix_fmt rgb565le -f rawvideo -");
    const size_t frameBytes = size_t(f.width) * f.height * 2;
    ASSERT_EQ(raw.size(), frameBytes * pictures.size()) << name;
    Bytes ours, theirs(raw.begin(), raw.end());
    for (size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_EQ(int64_t(pictures[i].time), packets[i].dts) << name << " " << i;
      ASSERT_EQ(pictures[i].rgb.size(), frameBytes);
      ours.insert(ours.end(), pictures[i].rgb.begin(), pictures[i].rgb.end());
    }
    EXPECT_GE(FieldPsnr(ours, theirs, 11, 5), kMinWmvPsnr) << name << " red";
    EXPECT_GE(FieldPsnr(ours, theirs, 5, 6), kMinWmvPsnr) << name << " green";
    EXPECT_GE(FieldPsnr(ours, theirs, 0, 5), kMinWmvPsnr) << name << " blue";
  }
}

// A seek gives the frame one before the one shown at the target, decoded
// from the key frame before it (the same picture as a straight decode), and
// the frames after it in turn; an
// end mark ends the clip; Rewind starts again.
TEST(WmvDmoSource, SeekEndMarkAndRewind) {
  const std::string path = ovtest::FixturePath("media_wmv2.wmv");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = media::OpenAudioSource(mediatest::U16(path));  // the sound opens too
  ASSERT_TRUE(source);
  media::WmvDmoSource video;
  ASSERT_TRUE(video.Open(mediatest::U16(path), 1));
  const auto all = ReadPictures(video);
  ASSERT_EQ(all.size(), 20u);
  for (uint32_t target : {1250u, 560u, 1046u}) {
    ASSERT_TRUE(video.Seek(target)) << target;
    size_t k = 0;
    while (k + 1 < all.size() && all[k + 1].time <= target) ++k;
    ASSERT_GT(k, 0u);
    // The reads after the first go on frame by frame: the skip is spent.
    ASSERT_LT(k + 1, all.size());
    for (size_t i = k - 1; i <= k + 1; ++i) {
      std::unique_ptr<uint8_t[]> frame;
      uint32_t bytes = 0, time = 0;
      ASSERT_TRUE(video.ReadVideoFrame(&frame, &bytes, &time, 0)) << target << " " << i;
      EXPECT_EQ(time, all[i].time) << target << " " << i;
      EXPECT_EQ(Bytes(frame.get(), frame.get() + bytes), all[i].rgb) << target << " " << i;
    }
  }
  EXPECT_FALSE(video.Seek(5000));
  video.endMark = 500;
  ASSERT_TRUE(video.Rewind());
  const auto cut = ReadPictures(video);
  ASSERT_EQ(cut.size(), 5u);
  EXPECT_EQ(cut[4].rgb, all[4].rgb);
}

// A WMV clip at 10 fps decoded to its cache file as the mixer screen does
// (ovtool cache, 10 fps, 176 x 144): every frame is cached.
TEST(WmvDmoSource, CacheHoldsEveryFrame) {
  const std::string path = ovtest::FixturePath("media_wmv1.wmv");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::string dir = ovtest::ScratchDir();
  const std::string tool = "'" OVMIX_BIN_DIR "ovtool'";
  ASSERT_EQ(std::system((tool + " project '" + dir + "/p.mix' '0=" + path + "' >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((tool + " cache '" + dir + "/p.mix' '" + dir + "' >/dev/null").c_str()), 0);
  const Bytes cache = ovtest::ReadFileBytes(dir + "/video0-0.raw");
  const size_t frameBytes = 176 * 144 * 2;
  ASSERT_GT(cache.size(), 32u);
  EXPECT_EQ((cache.size() - 32) % frameBytes, 0u);
  EXPECT_EQ((cache.size() - 32) / frameBytes, mediatest::ProbePackets(path, 0).size());
}

// Cut copies end their clips early and cleanly.
TEST(AsfSources, TruncatedFilesEndClips) {
  for (const char* name : {"media_trunc_wmv2.wmv", "media_trunc_wmav2.wma"}) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto sound = media::OpenAudioSource(mediatest::U16(path));
    ASSERT_TRUE(sound) << name;
    EXPECT_GT(ReadSound(*sound).size(), 0u) << name;
    // Past the cut: the seek stands on the last object there is, and the
    // clip ends.
    sound->Seek(1900);
    ReadSound(*sound);
  }
  media::WmvDmoSource video;
  ASSERT_TRUE(video.Open(mediatest::U16(ovtest::FixturePath("media_trunc_wmv2.wmv")), 1));
  const auto pictures = ReadPictures(video);
  EXPECT_GT(pictures.size(), 2u);
  EXPECT_LT(pictures.size(), 20u);
}

}  // namespace
