#include "media/mpa_audio_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using media::CMPAException;
using mediatest::TestPackage;

media::CMPAFrameHeader Header(uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint8_t b[4] = {0xFF, b1, b2, b3};
  media::CMPAFrameHeader h;
  h.Parse(b);
  return h;
}

CMPAException::Id HeaderError(uint8_t b1, uint8_t b2, uint8_t b3) {
  try {
    Header(b1, b2, b3);
  } catch (const CMPAException& e) {
    return e.id();
  }
  return static_cast<CMPAException::Id>(99);
}

// MPEG-1 Layer III frames at 44100 Hz, stereo, of the given bit-rate index.
void AppendFrames(Bytes& file, int count, uint8_t rate_index) {
  for (int i = 0; i < count; ++i) {
    uint8_t b[4] = {0xFF, 0xFB, static_cast<uint8_t>(rate_index << 4), 0x04};
    uint32_t length = Header(b[1], b[2], b[3]).FrameLength();
    size_t at = file.size();
    file.resize(at + length, 0);
    std::memcpy(file.data() + at, b, 4);
  }
}

CMPAException::Id OpenError(const Bytes& bytes) {
  TestPackage pak;
  auto path = pak.Add("x.mp3", bytes);
  try {
    media::CMPAAudioFile file(path);
  } catch (const CMPAException& e) {
    return e.id();
  }
  return static_cast<CMPAException::Id>(99);
}

TEST(MpaFrameHeader, FrameLengths) {
  EXPECT_EQ(Header(0xFB, 0x90, 0x44).FrameLength(), 417u);  // 128k, 44.1k, no padding
  EXPECT_EQ(Header(0xFB, 0x92, 0x44).FrameLength(), 418u);  // with padding
  auto mpeg2 = Header(0xF3, 0x80, 0x44);                     // MPEG-2 Layer III, 64k, 22.05k
  EXPECT_EQ(mpeg2.FrameLength(), 208u);
  EXPECT_EQ(mpeg2.samples_per_frame, 576u);
  EXPECT_TRUE(mpeg2.lsf);
  auto mpeg25 = Header(0xE3, 0x48, 0xC4);  // MPEG 2.5, 32k, 8000 Hz, mono
  EXPECT_EQ(mpeg25.sample_rate, 8000u);
  EXPECT_EQ(mpeg25.bit_rate, 32000u);
  EXPECT_EQ(Header(0xFF, 0x90, 0x44).FrameLength(), 312u);  // Layer I, 288k: (12 × 288000 ÷ 44100) × 4
}

TEST(MpaFrameHeader, ReservedValues) {
  EXPECT_EQ(HeaderError(0xEB, 0x90, 0x44), CMPAException::kHeaderCorrupt);  // version 1
  EXPECT_EQ(HeaderError(0xF9, 0x90, 0x44), CMPAException::kHeaderCorrupt);  // layer 0
  EXPECT_EQ(HeaderError(0xFB, 0xF0, 0x44), CMPAException::kHeaderCorrupt);  // bit-rate index 15
  EXPECT_EQ(HeaderError(0xFB, 0x00, 0x44), CMPAException::kFreeBitrate);
  EXPECT_EQ(HeaderError(0xFB, 0x9C, 0x44), CMPAException::kHeaderCorrupt);  // rate index 3
  EXPECT_EQ(HeaderError(0xFB, 0x90, 0x46), CMPAException::kHeaderCorrupt);  // emphasis 2
  EXPECT_EQ(HeaderError(0xFD, 0x10, 0x04), CMPAException::kHeaderCorrupt);  // Layer II 32k stereo
  EXPECT_EQ(HeaderError(0xFD, 0xB0, 0xC4), CMPAException::kHeaderCorrupt);  // Layer II 224k mono
  EXPECT_EQ(Header(0xFD, 0x10, 0xC4).allocation_table, 2u);                 // 32k mono, 44.1k
  EXPECT_EQ(Header(0xF5, 0x10, 0xC4).allocation_table, 4u);                 // MPEG-2
}

TEST(MpaAudioFile, SearchFailures) {
  EXPECT_EQ(OpenError(Bytes(70000, 0)), CMPAException::kNoFrame);
  Bytes garbage(70000, 0x11);
  garbage[100] = 0xFF;
  garbage[101] = 0xFB;
  garbage[102] = 0x90;
  garbage[103] = 0x44;
  EXPECT_EQ(OpenError(garbage), CMPAException::kNoFrame);
  EXPECT_EQ(OpenError(Bytes(3, 0xFF)), CMPAException::kEndReached);
  TestPackage pak;
  try {
    media::CMPAAudioFile missing(u"no such file.mp3");
    FAIL();
  } catch (const CMPAException& e) {
    EXPECT_EQ(e.id(), CMPAException::kOpenFile);
    EXPECT_EQ(e.call(), "CreateFile");
  }
}

TEST(MpaAudioFile, QuietStartTakesTheLaterRate) {
  Bytes file;
  AppendFrames(file, 3, 1);   // 32 kbit/s
  AppendFrames(file, 10, 9);  // 128 kbit/s
  TestPackage pak;
  media::CMPAAudioFile mpa(pak.Add("q.mp3", file));
  EXPECT_EQ(mpa.average_bytes_per_second(), 16000u);
}

TEST(MpaAudioFile, XingHeaderBelowOneSecondAndWithoutFrames) {
  for (uint32_t frames : {0u, 10u}) {
    Bytes file;
    AppendFrames(file, 10, 9);
    // Xing header of the first frame: after 4 header bytes and 32 bytes of
    // side information; flags frames | bytes.
    uint8_t* x = file.data() + 36;
    std::memcpy(x, "Xing", 4);
    x[7] = 3;
    x[11] = static_cast<uint8_t>(frames);
    x[14] = static_cast<uint8_t>(file.size() >> 8);
    x[15] = static_cast<uint8_t>(file.size());
    TestPackage pak;
    media::CMPAAudioFile mpa(pak.Add("x.mp3", file));
    if (frames == 0) {
      EXPECT_EQ(mpa.vbr(), nullptr);
      EXPECT_EQ(mpa.average_bytes_per_second(), 16000u);
    } else {
      ASSERT_NE(mpa.vbr(), nullptr);
      // 4170 bytes in 10 × 1152 samples at 44100 Hz.
      EXPECT_EQ(mpa.average_bytes_per_second(), 4170u * 44100 / 11520);
      EXPECT_NEAR(mpa.DurationMs(), 261, 1);
    }
  }
}

TEST(MpaAudioFile, DurationsAgreeWithFfprobe) {
  for (const char* name : {"media_cbr.mp3", "media_vbr.mp3", "media_mpeg2.mp3", "media_mpeg25.mp3"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    double reference = std::atof(
        mediatest::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'").c_str());
    ASSERT_GT(reference, 0) << name;
    TestPackage pak;
    media::CMPAAudioFile mpa(pak.Add(name, ovtest::ReadFileBytes(path)));
    const auto& h = mpa.first_frame().header;
    double frame_ms = 1000.0 * h.samples_per_frame / h.sample_rate;
    EXPECT_NEAR(mpa.DurationMs(), reference * 1000, frame_ms) << name;
  }
}

// Seek tables from a damaged header can point past 32 bits: the offset stops
// at the largest one.
TEST(MpaAudioFile, SeekPointsPastFourGigabytesStopAtTheLargestOffset) {
  media::CMPAXingInfo xing;
  xing.bytes = 0xFFFFFFFFu;
  xing.toc.assign(100, 255);
  EXPECT_EQ(xing.SeekPoint(100.0f), UINT32_MAX);
  media::CMPAVbriInfo vbri;
  vbri.frames_per_entry = 1;
  vbri.duration_seconds = 10;
  vbri.toc.assign(10, 0xFFFFFFFFu);
  EXPECT_EQ(vbri.SeekPoint(100.0f), UINT32_MAX);
  EXPECT_EQ(vbri.SeekPoint(0.0f), 0u);
}

TEST(MpaAudioFile, DamagedCopiesNeverCrash) {
  std::string path = ovtest::FixturePath("media_vbr.mp3");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto original = ovtest::ReadFileBytes(path);
  for (uint32_t seed = 0; seed < 30; ++seed) {
    Bytes bytes = seed < 10 ? Bytes(original.begin(), original.begin() + original.size() * seed / 10)
                            : mediatest::Corrupt(original, seed, 20, 0);
    TestPackage pak;
    auto p = pak.Add("d.mp3", bytes);
    try {
      media::CMPAAudioFile mpa(p);
      mpa.DurationMs();
      if (mpa.vbr()) mpa.vbr()->SeekPoint(50.5f);
    } catch (const CMPAException&) {
    }
  }
}

}  // namespace
