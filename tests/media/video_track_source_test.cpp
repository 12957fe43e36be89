// The video-track sources (H.263, MPEG-4 Part 2, H.264 tracks of MP4/3GP
// files) against ffmpeg's decoding of the same files: every frame, its time
// and all three colour fields; seeks, end marks, the mends (a first sample of
// 64 KB or more, a sample entry larger than the pictures), and through ovtool
// the source factory (vsrc) and the decode-to-cache job (project, cache).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "media/mp4_reader.h"
#include "media/video_track_source.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using mediatest::RunCommand;
using mediatest::U16;

struct Frame {
  std::vector<uint8_t> bytes;
  uint32_t time = 0;
};

std::unique_ptr<media::VideoTrackSource> OpenTrack(const ov::String& path) {
  auto source = media::MakeVideoTrackSource(std::make_unique<media::Mp4Reader>(path));
  if (!source) return nullptr;
  source->path = path;
  if (!source->Open(path, 1)) return nullptr;
  return source;
}

std::vector<Frame> ReadAll(media::DecoderSource* source, size_t limit = 1000) {
  std::vector<Frame> frames;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0, time = 0;
  while (frames.size() < limit && source->ReadVideoFrame(&buffer, &bytes, &time, 0)) {
    frames.push_back({std::vector<uint8_t>(buffer.get(), buffer.get() + bytes), time});
  }
  return frames;
}

// ffmpeg's pictures (planar 4:2:0) converted as the sources convert theirs
// (studio range, as these fixtures are): bottom-up RGB565 rows of
// ((w + 1) & ~1) pixels.
std::vector<std::vector<uint8_t>> ReferenceFrames(const std::string& file, uint32_t w, uint32_t h) {
  const std::string yuv = ovtest::ScratchDir() + "/ref.yuv";
  std::filesystem::remove(yuv);
  RunCommand("ffmpeg -v error -y -threads 1 -i '" + file + "' -f rawvideo -pix_fmt yuv420p '" + yuv + "'");
  const std::vector<uint8_t> all = ovtest::ReadFileBytes(yuv);
  const size_t picture = size_t(w) * h * 3 / 2;
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; picture && at + picture <= all.size(); at += picture) {
    std::vector<uint8_t> planes(all.begin() + long(at), all.begin() + long(at + picture));
    const videodec::YuvFrame yuvFrame{planes.data(), planes.data() + size_t(w) * h,
                                      planes.data() + size_t(w) * h * 5 / 4, uint16_t(w), uint16_t(h)};
    std::vector<uint8_t> rgb(size_t((w + 1) & ~1u) * h * 2);
    videodec::ConvertStudioYUV420toRGB565TopDown(&yuvFrame, reinterpret_cast<uint16_t*>(rgb.data()), uint16_t(w),
                                                 uint16_t(h), 0);
    frames.push_back(std::move(rgb));
  }
  return frames;
}

std::vector<uint32_t> ProbeFrameTimesMs(const std::string& file) {
  std::vector<uint32_t> times;
  const std::string text = RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" +
                                      file + "'");
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty()) times.push_back(uint32_t(std::lround(std::stod(line) * 1000)));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return times;
}

// Lowest PSNR over the red, green and blue fields of two RGB565 frames.
double WorstFieldPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double worst = 1e9;
  struct Field {
    int shift, bits;
  };
  for (const Field f : {Field{11, 5}, Field{5, 6}, Field{0, 5}}) {
    double sum = 0;
    const int max = (1 << f.bits) - 1;
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
      const int va = ((a[i] | a[i + 1] << 8) >> f.shift) & max;
      const int vb = ((b[i] | b[i + 1] << 8) >> f.shift) & max;
      sum += double(va - vb) * (va - vb);
    }
    const double mse = sum / double(a.size() / 2);
    worst = std::min(worst, mse == 0 ? 100.0 : 10 * std::log10(double(max) * max / mse));
  }
  return worst;
}

// H.263 and MPEG-4 Part 2 leave the inverse transform's rounding to the
// decoder (ITU-T H.263 Annex A, ISO/IEC 14496-2 Annex A): ours and ffmpeg's
// drift apart a little over a group of pictures (45.6 dB at worst on these
// fixtures), above this.
constexpr double kMinFieldPsnrDb = 42.0;

struct TrackCase {
  const char* fixture;
  bool exact;  // H.264 is bit-exact; H.263 and MPEG-4 differ in the inverse transform
};

class VideoTrackSources : public testing::TestWithParam<TrackCase> {};

// Every frame of the track: count and times as ffprobe's, pixels as ffmpeg's
// (all three colour fields), frames of the track's size, bottom-up.
TEST_P(VideoTrackSources, DeliverEveryFrameAtItsTime) {
  const std::string file = ovtest::FixturePath(GetParam().fixture);
  OV_SKIP_WITHOUT_FIXTURE(file);
  auto source = OpenTrack(U16(file));
  ASSERT_TRUE(source);
  media::MediaFormat format;
  format.rendered = 7;  // left as the caller set it
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.width, 176u);
  EXPECT_EQ(format.height, 144u);
  EXPECT_EQ(format.frameDurationMs, 0u);
  EXPECT_EQ(format.rendered, 7u);
  EXPECT_TRUE(source->IsBottomUp());

  const std::vector<Frame> frames = ReadAll(source.get());
  const std::vector<uint32_t> times = ProbeFrameTimesMs(file);
  const auto reference = ReferenceFrames(file, 176, 144);
  ASSERT_EQ(frames.size(), times.size());
  ASSERT_EQ(frames.size(), reference.size());
  for (size_t k = 0; k < frames.size(); ++k) {
    ASSERT_EQ(frames[k].bytes.size(), 176u * 144 * 2) << k;
    EXPECT_NEAR(double(frames[k].time), double(times[k]), 1.0) << "frame " << k;
    if (GetParam().exact) {
      EXPECT_TRUE(frames[k].bytes == reference[k]) << "frame " << k;
    } else {
      EXPECT_GE(WorstFieldPsnr(frames[k].bytes, reference[k]), kMinFieldPsnrDb) << "frame " << k;
    }
  }

  // A seek lands on the first frame at or after the target, reported at the
  // target; H.263 cannot seek at random but gets there by decoding.
  EXPECT_EQ(source->CanSeek(), std::string(GetParam().fixture).find("h263") == std::string::npos);
  ASSERT_TRUE(source->Seek(450));
  const std::vector<Frame> after = ReadAll(source.get(), 2);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].time, 450u);
  EXPECT_TRUE(after[0].bytes == frames[5].bytes);
  EXPECT_EQ(after[1].time, frames[6].time);
  EXPECT_TRUE(after[1].bytes == frames[6].bytes);

  // An end mark ends the clip after the last frame at or before it.
  ASSERT_TRUE(source->Rewind());
  source->endMark = 500;
  const std::vector<Frame> marked = ReadAll(source.get());
  ASSERT_EQ(marked.size(), 6u);
  EXPECT_EQ(marked.back().time, 500u);
}

INSTANTIATE_TEST_SUITE_P(Tracks, VideoTrackSources,
                         testing::Values(TrackCase{"media_h263_10fps.3gp", false},
                                         TrackCase{"media_mpeg4_10fps.3gp", false},
                                         TrackCase{"media_h264_10fps.3gp", true}),
                         [](const testing::TestParamInfo<TrackCase>& param) {
                           std::string name = param.param.fixture;
                           return name.substr(6, name.find('_', 6) - 6);
                         });

// Black, white, red and light-grey patches come out as those colours, all
// three fields: studio-range tracks (every track that does not say
// otherwise) through the studio-range conversion, the H.264 track whose VUI
// says full range through the full-range one. Converted the other way, black
// would be 16 and grey 188 or 214.
TEST(VideoTrackSource, PatchesKeepTheirColoursInEitherRange) {
  // Expected 8-bit red, green, blue of each quadrant and how far a field may
  // be off: RGB565 keeps 5 or 6 bits and the conversion dithers.
  struct Patch {
    int x, y, r, g, b;
  };
  const Patch kPatches[] = {{44, 36, 0, 0, 0}, {132, 36, 255, 255, 255}, {44, 108, 255, 0, 0}, {132, 108, 200, 200, 200}};
  constexpr int kTolerance = 10;
  for (const char* name : {"media_patches_h263.3gp", "media_patches_mpeg4.mp4", "media_patches_h264.mp4",
                           "media_patches_h264_full.mp4"}) {
    const std::string file = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(file);
    auto source = OpenTrack(U16(file));
    ASSERT_TRUE(source) << name;
    const std::vector<Frame> frames = ReadAll(source.get(), 3);
    ASSERT_EQ(frames.size(), 3u) << name;
    for (const Frame& f : frames) {
      for (const Patch& p : kPatches) {
        // Bottom-up rows of 176 pixels; a 2x2 block covers every dither offset.
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) {
            const size_t at = (size_t(143 - p.y - dy) * 176 + size_t(p.x + dx)) * 2;
            const int word = f.bytes[at] | f.bytes[at + 1] << 8;
            const int r = (word >> 11) * 255 / 31, g = ((word >> 5) & 63) * 255 / 63, b = (word & 31) * 255 / 31;
            EXPECT_NEAR(r, p.r, kTolerance) << name << " patch at " << p.x << "," << p.y;
            EXPECT_NEAR(g, p.g, kTolerance) << name << " patch at " << p.x << "," << p.y;
            EXPECT_NEAR(b, p.b, kTolerance) << name << " patch at " << p.x << "," << p.y;
          }
      }
    }
  }
}

// The factory's parameter sets carry 4-byte lengths: a first sample of more
// than 64 KB opens, and its picture is the first frame (not consumed at Open).
TEST(VideoTrackSource, FirstSampleOf64KbOrMoreIsTheFirstFrame) {
  const std::string file = ovtest::FixturePath("media_h264_big_idr.mp4");
  OV_SKIP_WITHOUT_FIXTURE(file);
  media::Mp4Reader reader(U16(file));
  auto cursor = reader.OpenTrack(reader.avc_track());
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0;
  ASSERT_TRUE(reader.ReadSample(cursor.get(), &sample, &bytes, &time));
  ASSERT_GE(bytes, 65536u);
  auto source = OpenTrack(U16(file));
  ASSERT_TRUE(source);
  const std::vector<Frame> frames = ReadAll(source.get());
  const auto reference = ReferenceFrames(file, 352, 288);
  ASSERT_EQ(frames.size(), reference.size());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].time, 0u);
  for (size_t k = 0; k < frames.size(); ++k) EXPECT_TRUE(frames[k].bytes == reference[k]) << "frame " << k;
}

// A sample entry that announces more pixels than the pictures hold: the
// frames would be partly unwritten, so the clip ends instead.
TEST(VideoTrackSource, PictureSmallerThanTheSampleEntryEndsTheClip) {
  for (const char* name : {"media_h263_10fps.3gp", "media_h264_10fps.3gp"}) {
    const std::string file = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(file);
    std::vector<uint8_t> bytes = ovtest::ReadFileBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    size_t type = text.find("s263");
    if (type == std::string::npos) type = text.find("avc1", text.find("stsd"));
    ASSERT_NE(type, std::string::npos) << name;
    // VisualSampleEntry: 6 reserved, data reference index, 16 bytes, then
    // width and height (big-endian).
    const size_t at = type + 4 + 6 + 2 + 16;
    ASSERT_EQ(bytes[at] << 8 | bytes[at + 1], 176) << name;
    bytes[at] = 0x01;  // 352 x 288
    bytes[at + 1] = 0x60;
    bytes[at + 2] = 0x01;
    bytes[at + 3] = 0x20;
    mediatest::TestPackage package;
    const ov::String path = package.Add(std::string("big_") + name, bytes);
    auto source = OpenTrack(path);
    ASSERT_TRUE(source) << name;
    media::MediaFormat format;
    ASSERT_TRUE(source->GetFormat(&format));
    EXPECT_EQ(format.width, 352u);
    EXPECT_TRUE(ReadAll(source.get()).empty()) << name;
  }
}

// A cut file ends its clip after the frames it holds; nothing is read past it.
TEST(VideoTrackSource, CutFileEndsTheClip) {
  const std::string file = ovtest::FixturePath("media_trunc_h264_aac.mp4");
  OV_SKIP_WITHOUT_FIXTURE(file);
  if (auto source = OpenTrack(U16(file))) {
    const std::vector<Frame> frames = ReadAll(source.get());
    EXPECT_LT(frames.size(), 15u);
  }
}

std::string Ovtool() { return std::string(OVMIX_BIN_DIR) + "ovtool "; }

// `ovtool vsrc` reads through the video source factory: the first frame of a
// Baseline H.264 clip equals ffmpeg's first picture converted by
// `ovtool imgconv i420 rgb565bu`, bit for bit.
TEST(OvtoolVsrc, FirstH264FrameEqualsTheReferencePicture) {
  const std::string file = ovtest::FixturePath("media_h264_aac.mp4");
  OV_SKIP_WITHOUT_FIXTURE(file);
  const std::string dir = ovtest::ScratchDir();
  const auto pictures = ReferenceFrames(file, 176, 144);
  ASSERT_FALSE(pictures.empty());
  const std::vector<uint8_t>& reference = pictures[0];
  const std::string listing = RunCommand(Ovtool() + "vsrc '" + file + "' '" + dir + "/frames.rgb' 2>/dev/null");
  EXPECT_EQ(listing.substr(0, listing.find('\n')), "176x144 bottom-up");
  EXPECT_NE(listing.find("frame 14 933 ms 50688 bytes"), std::string::npos) << listing;
  const std::vector<uint8_t> frames = ovtest::ReadFileBytes(dir + "/frames.rgb");
  ASSERT_EQ(reference.size(), 176u * 144 * 2);
  ASSERT_EQ(frames.size(), reference.size() * 15);
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), frames.begin()));
  // Extensions of the MP4 family in any case; a file without a video track
  // has no video source.
  std::filesystem::copy_file(file, dir + "/clip.MOV");
  EXPECT_EQ(std::system((Ovtool() + "vsrc '" + dir + "/clip.MOV' '" + dir + "/o.rgb' >/dev/null 2>&1").c_str()), 0);
  EXPECT_NE(std::system((Ovtool() + "vsrc '" + ovtest::FixturePath("media_aac.m4a") + "' '" + dir +
                         "/o.rgb' >/dev/null 2>&1").c_str()),
            0);
  std::filesystem::copy_file(ovtest::FixturePath("media_aac.mov"), dir + "/sound.mov");
  EXPECT_NE(std::system((Ovtool() + "vsrc '" + dir + "/sound.mov' '" + dir + "/o.rgb' >/dev/null 2>&1").c_str()), 0);
}

// The decode-to-cache job (`ovtool cache`, 10 frames a second at 176 x 144)
// caches every frame of uncut 10 fps clips of each codec.
TEST(OvtoolCache, CachesEveryFrameOfAVideoTrack) {
  for (const char* name : {"media_h263_10fps.3gp", "media_mpeg4_10fps.3gp", "media_h264_10fps.3gp"}) {
    const std::string file = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(file);
    const std::string dir = ovtest::ScratchDir() + "/" + name;
    std::filesystem::create_directories(dir);
    ASSERT_EQ(std::system((Ovtool() + "project '" + dir + "/p.mix' '0=" + file + "' >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((Ovtool() + "cache '" + dir + "/p.mix' '" + dir + "' >/dev/null 2>&1").c_str()), 0);
    const size_t frames = ProbeFrameTimesMs(file).size();
    ASSERT_EQ(frames, 15u) << name;
    const auto cache = ovtest::ReadFileBytes(dir + "/video0-0.raw");
    ASSERT_GT(cache.size(), 32u) << name;
    EXPECT_EQ((cache.size() - 32) % (176 * 144 * 2), 0u) << name;
    EXPECT_EQ((cache.size() - 32) / (176 * 144 * 2), frames) << name;
  }
}

}  // namespace

namespace {

// A sample the decoder refuses (a NAL length running past the sample): the
// source ends the clip there, `ovtool vdec` reports the frame and goes on.
TEST(VideoTrackSource, DecodeFailureEndsTheClipWhereVdecSkips) {
  const std::string file = ovtest::FixturePath("media_h264_10fps.3gp");
  OV_SKIP_WITHOUT_FIXTURE(file);
  std::vector<uint8_t> bytes = ovtest::ReadFileBytes(file);
  {
    media::Mp4Reader reader(U16(file));
    media::Mp4Cursor cursor;
    cursor.track = reader.avc_track();
    uint64_t offset = 0, decodeTime = 0;
    uint32_t size = 0;
    for (int i = 0; i <= 5; ++i) ASSERT_TRUE(reader.StepSample(&cursor, &offset, &size, &decodeTime));
    ASSERT_LT(offset + 4, bytes.size());
    bytes[offset] = 0x7F;  // sample 5's first NAL length
  }
  const std::string dir = ovtest::ScratchDir();
  const std::string damaged = dir + "/damaged.3gp";
  std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  auto source = OpenTrack(U16(damaged));
  ASSERT_TRUE(source);
  EXPECT_EQ(ReadAll(source.get()).size(), 5u);
  const std::string log = RunCommand(Ovtool() + "vdec '" + damaged + "' '" + dir + "/o.yuv' 2>&1");
  EXPECT_NE(log.find("frame 5 failed"), std::string::npos) << log;
  EXPECT_NE(log.find("14 frames"), std::string::npos) << log;
}

}  // namespace
