// The decoder against two reference decoders (ffmpeg and faad) on fixtures
// made by ffmpeg's AAC encoder and on the AAC-LC samples beside the project,
// plus hand-repacked streams (ADIF, CRC, several raw blocks, dynamic range)
// and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_tables.h"
#include "tests/heaac/aac_test_util.h"

namespace {

using aactest::Compare;
using aactest::DecodeStream;
using aactest::Pcm;
using aactest::ReadWav;

// ffmpeg decodes in floating point and rounds once; our fixed-point path
// rounds inside the reconstruction and transform as well, far below an
// output LSB, so the two differ by rounding flips of 1 LSB (measured 97 to
// 108 dB on these fixtures).
constexpr double kMinSnrVsFfmpegDb = 80.0;
constexpr int kMaxDiffVsFfmpegLsb = 4;
// faad is the second, independent reference (measured 103 to 108 dB against
// ours on these fixtures).
constexpr double kMinSnrVsFaadDb = 70.0;
std::vector<uint8_t> Fixture(const std::string& name) {
  return ovtest::ReadFileBytes(ovtest::FixturePath(name));
}

struct FixtureCase {
  std::string name;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.name; }

std::vector<FixtureCase> AllFixtures() {
  std::vector<FixtureCase> v;
  for (const char* rate : {"96000", "88200", "64000", "48000", "44100", "32000", "24000", "22050", "16000", "12000",
                           "11025", "8000"}) {
    v.push_back({std::string("aac_lc_") + rate + "_mono.aac"});
    v.push_back({std::string("aac_lc_") + rate + "_stereo.aac"});
  }
  for (const char* n : {"aac_ms_on.aac", "aac_ms_off.aac", "aac_is_on.aac", "aac_is_off.aac", "aac_tns_on.aac",
                        "aac_tns_off.aac", "aac_ltp.aac", "aac_ltp_mono.aac", "aac_pce.aac", "aac_stereo.m4a",
                        "aac_quiet.aac"}) {
    v.push_back({n});
  }
  return v;
}

// faad drops the first frame of some streams: aligned by the better of 0 and
// 1024 samples, on channel 0 (faad writes mono twice).
aactest::Comparison CompareWithFaad(const Pcm& ours, const Pcm& faad) {
  const aactest::Comparison a = Compare(ours, faad, 0, 0);
  Pcm shifted = ours;
  shifted.samples.erase(shifted.samples.begin(),
                        shifted.samples.begin() + std::min<size_t>(shifted.samples.size(), 1024 * ours.channels));
  const aactest::Comparison b = Compare(shifted, faad, 0, 0);
  return a.snrDb > b.snrDb ? a : b;
}

class HeaacFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(HeaacFixture, MatchesFfmpegAndFaad) {
  const std::string name = GetParam().name;
  const std::string path = ovtest::FixturePath(name);
  OV_SKIP_WITHOUT_FIXTURE(path);
  const bool mp4 = name.ends_with(".m4a");
  const Pcm ours = mp4 ? aactest::DecodeMp4(path) : DecodeStream(Fixture(name));
  ASSERT_GT(ours.channels, 0);
  EXPECT_EQ(ours.errors, 0);
  // For M4A the reference was made with the edit list ignored, as here.
  const Pcm ffmpeg = ReadWav(path + ".ffmpeg.wav");
  ASSERT_EQ(ours.channels, ffmpeg.channels);
  ASSERT_EQ(ours.rate, ffmpeg.rate);
  EXPECT_EQ(ours.Frames(), ffmpeg.Frames());
  const aactest::Comparison c = Compare(ours, ffmpeg);
  std::printf("%s: vs ffmpeg %.1f dB, max %d LSB", name.c_str(), c.snrDb, c.maxDiff);
  EXPECT_GE(c.snrDb, kMinSnrVsFfmpegDb);
  EXPECT_LE(c.maxDiff, kMaxDiffVsFfmpegLsb);
  if (ours.rate >= 32000) {
    const Pcm faad = ReadWav(path + ".faad.wav");
    if (faad.channels > 0) {
      const aactest::Comparison best = CompareWithFaad(ours, faad);
      std::printf(", vs faad %.1f dB", best.snrDb);
      EXPECT_GE(best.snrDb, kMinSnrVsFaadDb);
    }
  }
  std::printf("\n");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HeaacFixture, ::testing::ValuesIn(AllFixtures()),
                         [](const ::testing::TestParamInfo<FixtureCase>& p) {
                           std::string n = p.param.name;
                           for (char& ch : n) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

// Decodes with the internal state visible, to read the tool counters.
heaac::AacToolStats ToolStats(const std::vector<uint8_t>& data) {
  heaac::HeAacDecoder* decoder = nullptr;
  heaac::AacToolStats stats{};
  if (heaac::gCreateHeAacDecoder(&decoder) != 0) return stats;
  heaac::AacStreamInfo info{};
  int32_t n = static_cast<int32_t>(data.size());
  if (heaac::gGetAacStreamInfo(data.data(), &n, &info, 2, nullptr, 0) == 0 &&
      heaac::gConfigureHeAacDecoder(decoder, &info) == 0) {
    std::vector<int16_t> out(info.outputBytesPerFrame / 2);
    size_t pos = 0;
    while (pos < data.size()) {
      const size_t frame = aactest::AdtsFrameLength(&data[pos], data.size() - pos);
      if (frame < 7 || frame > data.size() - pos) break;
      int32_t in = static_cast<int32_t>(frame);
      int32_t outBytes = static_cast<int32_t>(out.size() * 2);
      heaac::gDecodeHeAacFrame(decoder, &data[pos], &in, out.data(), &outBytes);
      pos += frame;
    }
    stats = reinterpret_cast<heaac::AacDecoderState*>(decoder)->stats;
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return stats;
}

// ffmpeg's encoder applies a tool only where its model chooses: check that
// each "on" fixture really carries its tool and each "off" fixture does not.
TEST(HeaacFixtureTools, OnFixturesUseTheirTools) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("aac_ms_on.aac"));
  const heaac::AacToolStats ms = ToolStats(Fixture("aac_ms_on.aac"));
  const heaac::AacToolStats msOff = ToolStats(Fixture("aac_ms_off.aac"));
  EXPECT_GT(ms.msBands, 0u);
  EXPECT_EQ(msOff.msBands, 0u);
  EXPECT_GT(ToolStats(Fixture("aac_is_on.aac")).intensityBands, 0u);
  EXPECT_EQ(ToolStats(Fixture("aac_is_off.aac")).intensityBands, 0u);
  const heaac::AacToolStats tns = ToolStats(Fixture("aac_tns_on.aac"));
  EXPECT_GT(tns.tnsChannels, 0u);
  EXPECT_GT(tns.shortWindowChannels, 0u);
  EXPECT_EQ(ToolStats(Fixture("aac_tns_off.aac")).tnsChannels, 0u);
  EXPECT_GT(ToolStats(Fixture("aac_pns.aac")).noiseBands, 0u);
  // ffmpeg's -aac_pce 1 writes channel configuration 0 and a program config
  // element: the probe of the first block finds the two channels.
  const std::vector<uint8_t> pce = Fixture("aac_pce.aac");
  ASSERT_EQ(((pce[2] & 1) << 2) | (pce[3] >> 6), 0);
  heaac::AacStreamInfo info{};
  int32_t length = static_cast<int32_t>(aactest::AdtsFrameLength(pce.data(), pce.size()));
  ASSERT_EQ(heaac::gGetAacStreamInfo(pce.data(), &length, &info, 2, nullptr, 0), 0);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.outputBytesPerFrame, 4096u);
  EXPECT_EQ(length, 7);
  EXPECT_EQ(ToolStats(Fixture("aac_lc_44100_stereo.aac")).noiseBands, 0u);
}

// Energy of each 44.1 kHz scale-factor band, averaged over the clip: Hann
// windowed 1024-sample frames, hop 512, by a radix-2 FFT. Bin b of 512 covers
// MDCT coefficients 2b and 2b + 1, so band edges are the offsets halved.
std::vector<double> BandEnergies(const Pcm& p, int ch) {
  constexpr int kN = 1024;
  const int bands = heaac::kNumSwbLong[4];
  const uint16_t* edge = heaac::kSwbOffsetLong[4];
  std::vector<double> energy(bands, 0.0);
  std::vector<std::complex<double>> x(kN);
  for (size_t start = 0; start + kN <= p.Frames(); start += kN / 2) {
    for (int i = 0; i < kN; ++i) {
      const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / kN);
      x[i] = w * p.samples[(start + i) * p.channels + ch];
    }
    for (int i = 1, j = 0; i < kN; ++i) {
      int bit = kN >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(x[i], x[j]);
    }
    for (int len = 2; len <= kN; len <<= 1) {
      const std::complex<double> step = std::polar(1.0, -2 * M_PI / len);
      for (int i = 0; i < kN; i += len) {
        std::complex<double> tw = 1;
        for (int k = 0; k < len / 2; ++k, tw *= step) {
          const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * tw;
          x[i + k] = u + v;
          x[i + k + len / 2] = u - v;
        }
      }
    }
    for (int b = 0; b < bands; ++b) {
      for (int k = edge[b] / 2; k < edge[b + 1] / 2; ++k) energy[b] += std::norm(x[k]);
    }
  }
  return energy;
}

// Noise substitution draws its own noise, so compare energies: those of the
// scale-factor bands averaged over the clip, per channel. Bands more than
// 40 dB below the strongest (above the encoder's cut-off) hold only rounding
// noise and are left out.
TEST(HeaacFixtureTools, NoiseSubstitutionBandEnergiesAgreeWithFfmpeg) {
  constexpr double kMaxEnergyDifferenceDb = 1.0;
  constexpr double kQuietBandDb = 40.0;
  const std::string path = ovtest::FixturePath("aac_pns.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const Pcm ours = DecodeStream(Fixture("aac_pns.aac"));
  const Pcm ref = ReadWav(path + ".ffmpeg.wav");
  ASSERT_EQ(ours.channels, ref.channels);
  for (int ch = 0; ch < ours.channels; ++ch) {
    const std::vector<double> a = BandEnergies(ours, ch);
    const std::vector<double> b = BandEnergies(ref, ch);
    const double strongest = *std::max_element(b.begin(), b.end());
    int compared = 0;
    double worst = 0;
    for (size_t i = 0; i < b.size(); ++i) {
      if (10 * std::log10(strongest / b[i]) > kQuietBandDb) continue;
      const double db = 10 * std::log10(a[i] / b[i]);
      EXPECT_NEAR(db, 0, kMaxEnergyDifferenceDb) << "channel " << ch << " band " << i;
      worst = std::max(worst, std::abs(db));
      ++compared;
    }
    std::printf("channel %d: %d bands compared, largest difference %.2f dB\n", ch, compared, worst);
    EXPECT_GT(compared, 10);
  }
}

// Streams whose bound comes from how closely the two references agree with
// each other on them: the AAC-LC samples beside the project and a quiet
// fixture. `skip*` is how many of our samples come before each reference's
// first: both references drop the first frame of sample.adts, faad that of
// sine.aac, the MP4 and the fixture, and ffmpeg applies the MP4's edit list
// (media time 26342 samples), which our track decode ignores. The bounded
// range starts at our sample `from`.
//
// sample.adts, the MP4 and the fixture are quiet (RMS of a few tens to a few
// hundred LSB), so a handful of 1-LSB rounding flips decides the SNR. Before
// rounding our samples are as close to each reference as the two are to
// each other (RMS differences measured on the MP4: ours-ffmpeg 6.5e-5 LSB,
// ours-faad 8.0e-5, ffmpeg-faad 7.3e-5), but which samples flip is chance:
// we allow four times the references' flips (6 dB) and their largest
// difference, at least 1 LSB.
//
// sine.aac opens with a LONG_START then EIGHT_SHORT frame that every decoder
// treats its own way (ffmpeg and faad differ by up to 11 LSB there, 75.6 dB),
// so its bound applies from the third frame, and its first two frames only
// have to stay within 14 LSB and 71 dB of each reference.
struct AgreementCase {
  std::string path;
  size_t skipFfmpeg, skipFaad, from;
};

constexpr double kFlipMarginDb = 6.0;

Pcm Tail(const Pcm& p, size_t frames) {
  Pcm t = p;
  t.samples.erase(t.samples.begin(), t.samples.begin() + static_cast<long>(std::min(frames * p.channels, p.samples.size())));
  return t;
}

void ExpectWithinReferenceAgreement(const AgreementCase& c) {
  const Pcm ours = c.path.ends_with(".mp4") ? aactest::DecodeMp4(c.path) : DecodeStream(ovtest::ReadFileBytes(c.path));
  ASSERT_GT(ours.channels, 0) << c.path;
  EXPECT_EQ(ours.errors, 0) << c.path;
  const Pcm ffmpeg = ReadWav(c.path + ".ffmpeg.wav");
  const Pcm faad = ReadWav(c.path + ".faad.wav");
  ASSERT_GT(ffmpeg.channels, 0) << c.path;
  if (faad.channels == 0) GTEST_SKIP() << "no faad reference for " << c.path;
  // Every channel, or channel 0 of a mono stream (faad writes it twice).
  const int ch = ffmpeg.channels == ours.channels && faad.channels == ours.channels ? -1 : 0;
  const Pcm o = Tail(ours, c.from);
  const Pcm f = Tail(ffmpeg, c.from - c.skipFfmpeg);
  const Pcm a = Tail(faad, c.from - c.skipFaad);
  const aactest::Comparison refs = Compare(f, a, ch);
  const aactest::Comparison vsFfmpeg = Compare(o, f, ch);
  const aactest::Comparison vsFaad = Compare(o, a, ch);
  std::printf("%s from sample %zu: ffmpeg-faad %.1f dB max %d; ours vs ffmpeg %.1f dB max %d, vs faad %.1f dB max %d\n",
              c.path.c_str(), c.from, refs.snrDb, refs.maxDiff, vsFfmpeg.snrDb, vsFfmpeg.maxDiff, vsFaad.snrDb,
              vsFaad.maxDiff);
  const int maxDiff = std::max(1, refs.maxDiff);
  for (const aactest::Comparison& v : {vsFfmpeg, vsFaad}) {
    EXPECT_GT(v.compared, 0u) << c.path;
    EXPECT_GE(v.snrDb, refs.snrDb - kFlipMarginDb) << c.path;
    EXPECT_LE(v.maxDiff, maxDiff) << c.path;
  }
  if (c.from > std::max(c.skipFfmpeg, c.skipFaad)) {
    // The opening frames before the bounded range.
    constexpr double kStartMinSnrDb = 71.0;
    constexpr int kStartMaxDiffLsb = 14;
    const aactest::Comparison s1 = Compare(Tail(ours, c.skipFfmpeg), ffmpeg, ch);
    const aactest::Comparison s2 = Compare(Tail(ours, c.skipFaad), faad, ch);
    std::printf("%s whole: vs ffmpeg %.1f dB max %d, vs faad %.1f dB max %d\n", c.path.c_str(), s1.snrDb, s1.maxDiff,
                s2.snrDb, s2.maxDiff);
    for (const aactest::Comparison& v : {s1, s2}) {
      EXPECT_GE(v.snrDb, kStartMinSnrDb) << c.path;
      EXPECT_LE(v.maxDiff, kStartMaxDiffLsb) << c.path;
    }
  }
}

TEST(HeaacShared, AndroidxSamplesMatchAsCloselyAsTheReferencesAgree) {
  OV_SKIP_WITHOUT_SHARED_TESTDATA();
  const AgreementCase cases[] = {{"aac/androidx_sample.adts", 1024, 1024, 1024},
                                 {"aac/androidx_sine.aac", 0, 1024, 2048},
                                 {"aac/androidx_long_edit_list_audioonly.mp4", 26342, 1024, 26342}};
  for (AgreementCase c : cases) {
    c.path = ovtest::SharedTestdataPath(c.path);
    ExpectWithinReferenceAgreement(c);
  }
}

TEST(HeaacFixtureTools, QuietStreamMatchesAsCloselyAsTheReferencesAgree) {
  const std::string path = ovtest::FixturePath("aac_quiet.aac");
  OV_SKIP_WITHOUT_FIXTURE(path);
  ExpectWithinReferenceAgreement({path, 0, 1024, 1024});
}

using aactest::BitWriter;

// The raw data blocks of an ADTS stream (one per frame in ffmpeg's output).
std::vector<std::vector<uint8_t>> RawBlocks(const std::vector<uint8_t>& adts) {
  std::vector<std::vector<uint8_t>> blocks;
  size_t pos = 0;
  while (pos < adts.size()) {
    const size_t len = aactest::AdtsFrameLength(&adts[pos], adts.size() - pos);
    if (len < 7 || len > adts.size() - pos) break;
    const size_t header = (adts[pos + 1] & 1) ? 7 : 9;
    blocks.emplace_back(adts.begin() + static_cast<long>(pos + header), adts.begin() + static_cast<long>(pos + len));
    pos += len;
  }
  return blocks;
}

std::vector<uint8_t> AdtsFrame(const std::vector<uint8_t>& payload, int rateIndex, int channels, int blocks,
                               bool crc) {
  BitWriter w;
  const size_t length = payload.size() + (crc ? 9 : 7);
  w.Put(0xFFF, 12);
  w.Put(0, 1);
  w.Put(0, 2);
  w.Put(crc ? 0 : 1, 1);
  w.Put(1, 2);
  w.Put(rateIndex, 4);
  w.Put(0, 1);
  w.Put(channels, 3);
  w.Put(0, 4);
  w.Put(static_cast<uint32_t>(length), 13);
  w.Put(0x7FF, 11);
  w.Put(blocks - 1, 2);
  if (crc) w.Put(0xBEEF, 16);  // not checked
  w.bytes.insert(w.bytes.end(), payload.begin(), payload.end());
  return w.bytes;
}

TEST(HeaacRepacked, AdifCrcAndSeveralBlocksDecodeAsTheOriginal) {
  const std::string name = "aac_lc_44100_stereo.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  const Pcm original = DecodeStream(adts);
  const auto blocks = RawBlocks(adts);
  ASSERT_GT(blocks.size(), 8u);

  // CRC-protected ADTS: the same samples.
  std::vector<uint8_t> crc;
  for (const auto& b : blocks) {
    auto f = AdtsFrame(b, 4, 2, 1, true);
    crc.insert(crc.end(), f.begin(), f.end());
  }
  const Pcm fromCrc = DecodeStream(crc);
  EXPECT_EQ(fromCrc.samples, original.samples);

  // Four raw blocks per ADTS frame: one call per block, the same samples.
  std::vector<uint8_t> multi;
  for (size_t i = 0; i + 4 <= blocks.size(); i += 4) {
    std::vector<uint8_t> payload;
    for (size_t k = 0; k < 4; ++k) payload.insert(payload.end(), blocks[i + k].begin(), blocks[i + k].end());
    auto f = AdtsFrame(payload, 4, 2, 4, false);
    multi.insert(multi.end(), f.begin(), f.end());
  }
  const Pcm fromMulti = DecodeStream(multi);
  ASSERT_EQ(fromMulti.errors, 0);
  ASSERT_EQ(fromMulti.samples.size(), blocks.size() / 4 * 4 * 2048);
  EXPECT_TRUE(std::equal(fromMulti.samples.begin(), fromMulti.samples.end(), original.samples.begin()));
  // Driven over the whole buffer, advancing by each call's consumed length.
  EXPECT_EQ(DecodeStream(multi, true).samples, fromMulti.samples);

  // ADIF: header and program config element, then the raw blocks.
  BitWriter w;
  w.Put(0x41444946, 32);
  w.Put(0, 1);       // copyright_id_present
  w.Put(0, 2);       // original_copy, home
  w.Put(1, 1);       // variable rate: no buffer fullness
  w.Put(128000, 23);
  w.Put(0, 4);       // one program
  w.Put(0, 4);       // PCE tag
  w.Put(1, 2);       // LC
  w.Put(4, 4);       // 44100 Hz
  w.Put(1, 4);       // one front element
  w.Put(0, 4 + 4 + 2 + 3 + 4 + 3);
  w.Put(1, 1);       // a CPE
  w.Put(0, 4);
  w.Align();
  w.Put(0, 8);       // no comment
  for (const auto& b : blocks) w.bytes.insert(w.bytes.end(), b.begin(), b.end());
  heaac::AacStreamInfo info{};
  const Pcm fromAdif = DecodeStream(w.bytes, true, &info);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.coreSampleRate, 44100u);
  EXPECT_EQ(fromAdif.errors, 0);
  EXPECT_EQ(fromAdif.samples, original.samples);
  // faad reads the ADIF stream too: the second reference.
  const std::string dir = ovtest::ScratchDir();
  const std::string adifPath = dir + "/repacked.adif", faadPath = dir + "/repacked.adif.wav";
  FILE* f = std::fopen(adifPath.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(w.bytes.data(), 1, w.bytes.size(), f);
  std::fclose(f);
  const std::string cmd = "faad -q -o '" + faadPath + "' '" + adifPath + "' >/dev/null 2>&1";
  if (std::system("command -v faad >/dev/null 2>&1") != 0) GTEST_SKIP() << "faad is not available";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const aactest::Comparison c = CompareWithFaad(fromAdif, ReadWav(faadPath));
  std::printf("ADIF: vs faad %.1f dB max %d\n", c.snrDb, c.maxDiff);
  EXPECT_GT(c.compared, 40000u);
  EXPECT_GE(c.snrDb, kMinSnrVsFaadDb);
}

// A dynamic range payload (one band, magnitude 20 boosting, reference level
// 124) before each block scales every coefficient by
// gain[47] x gain[31] x 2^-50 = 2^((47 + 31) / 6 - 14) = 1/2. The fill
// element carries a fill payload after it, which must be skipped.
TEST(HeaacRepacked, DynamicRangeScalesByTheTableGain) {
  const std::string name = "aac_lc_44100_mono.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  const Pcm plain = DecodeStream(adts);
  std::vector<uint8_t> drc;
  for (const auto& b : RawBlocks(adts)) {
    BitWriter w;
    w.Put(6, 3);   // FIL
    w.Put(5, 4);   // five bytes: the dynamic range payload, then fill data
    w.Put(11, 4);  // EXT_DYNAMIC_RANGE
    w.Put(0, 1);   // pce_tag_present
    w.Put(0, 1);   // excluded_chns_present
    w.Put(0, 1);   // drc_bands_present
    w.Put(1, 1);   // prog_ref_level_present
    w.Put(124, 7);
    w.Put(0, 1);
    w.Put(0, 1);   // dyn_rng_sgn
    w.Put(20, 7);  // dyn_rng_ctl
    // The rest of the element: a fill payload whose bytes would read as a
    // pair element and garbage if taken for the next elements.
    w.Put(1, 4);   // EXT_FILL
    w.Put(0, 4);   // fill_nibble
    w.Put(0x25, 8);
    for (int i = 0; i < 7; ++i) w.Put(6 << 4, 7);  // empty FIL elements: whole bytes in all
    ASSERT_EQ(w.pos % 8, 0u);
    w.bytes.insert(w.bytes.end(), b.begin(), b.end());
    auto f = AdtsFrame(w.bytes, 4, 1, 1, false);
    drc.insert(drc.end(), f.begin(), f.end());
  }
  const Pcm scaled = DecodeStream(drc);
  ASSERT_EQ(scaled.errors, 0);
  ASSERT_EQ(scaled.samples.size(), plain.samples.size());
  const heaac::AacComputedTables& t = heaac::GetAacTables();
  const double factor = static_cast<double>(t.drcGain[47]) * t.drcGain[31] / std::ldexp(1.0, 50);
  EXPECT_NEAR(factor, 0.5, 0.001);
  int maxDiff = 0;
  for (size_t i = 0; i < plain.samples.size(); ++i) {
    maxDiff = std::max(maxDiff, static_cast<int>(std::lround(std::abs(scaled.samples[i] - plain.samples[i] * factor))));
  }
  EXPECT_LE(maxDiff, 2);
}

// ffmpeg's encoder accepts the LTP profile but never sends prediction data,
// so LTP is checked on a stream rewritten to carry it: every long-window
// frame of a mono LTP-profile stream gets ltp_data (lag, coefficient, every
// band used) inserted after max_sfb, and ffmpeg decodes the result as the
// reference.
std::vector<uint8_t> InsertLtpData(const std::vector<uint8_t>& adts, int lag, int coef, int* framesWithLtp) {
  std::vector<uint8_t> out;
  *framesWithLtp = 0;
  size_t pos = 0;
  int frame = 0;
  while (pos < adts.size()) {
    const size_t len = aactest::AdtsFrameLength(&adts[pos], adts.size() - pos);
    if (len < 7 || len > adts.size() - pos) break;
    const uint8_t* raw = &adts[pos + 7];
    const size_t rawBytes = len - 7;
    auto bit = [&](size_t i) { return (raw[i / 8] >> (7 - i % 8)) & 1; };
    auto bits = [&](size_t at, int n) {
      uint32_t v = 0;
      for (int k = 0; k < n; ++k) v = (v << 1) | bit(at + k);
      return v;
    };
    // SCE: id 3, tag 4, global_gain 8, ics_reserved_bit 1, window_sequence 2,
    // window_shape 1, max_sfb 6, predictor_data_present 1.
    const bool sce = bits(0, 3) == 0;
    const uint32_t sequence = bits(16, 2);
    const uint32_t maxSfb = bits(19, 6);
    BitWriter w;
    // Frames 0 and 1 keep their output free of prediction (the history is
    // still empty), the rest carry it.
    if (sce && sequence != 2 && bits(25, 1) == 0 && frame >= 2) {
      for (size_t i = 0; i < 25; ++i) w.Put(bit(i), 1);
      w.Put(1, 1);  // predictor_data_present
      w.Put(1, 1);  // ltp_data_present
      w.Put(static_cast<uint32_t>(lag), 11);
      w.Put(static_cast<uint32_t>(coef), 3);
      for (uint32_t b = 0; b < std::min<uint32_t>(maxSfb, 40); ++b) w.Put(1, 1);
      for (size_t i = 26; i < rawBytes * 8; ++i) w.Put(bit(i), 1);
      ++*framesWithLtp;
    } else {
      for (size_t i = 0; i < rawBytes * 8; ++i) w.Put(bit(i), 1);
    }
    std::vector<uint8_t> f(adts.begin() + static_cast<long>(pos), adts.begin() + static_cast<long>(pos + 7));
    const size_t newLen = 7 + w.bytes.size();
    f[3] = static_cast<uint8_t>((f[3] & 0xFC) | ((newLen >> 11) & 3));
    f[4] = static_cast<uint8_t>(newLen >> 3);
    f[5] = static_cast<uint8_t>((f[5] & 0x1F) | ((newLen & 7) << 5));
    out.insert(out.end(), f.begin(), f.end());
    out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    pos += len;
    ++frame;
  }
  return out;
}

TEST(HeaacLtp, InsertedPredictionMatchesFfmpeg) {
  // ffmpeg keeps its prediction history in floating point, ours holds 16-bit
  // output as the standard's decoder does: the rounding feeds back through
  // the prediction (measured 77-86 dB, at most 4 LSB).
  constexpr double kMinLtpSnrDb = 75.0;
  const std::string name = "aac_ltp_mono.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::string dir = ovtest::ScratchDir();
  struct Case {
    int lag, coef;
  } cases[] = {{2047, 2}, {1024, 1}, {600, 0}, {1536, 2}, {1800, 3}};
  for (const Case& c : cases) {
    int framesWithLtp = 0;
    const std::vector<uint8_t> ltp = InsertLtpData(Fixture(name), c.lag, c.coef, &framesWithLtp);
    ASSERT_GT(framesWithLtp, 10);
    const std::string in = dir + "/ltp.aac", ref = dir + "/ltp.wav";
    FILE* f = std::fopen(in.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(ltp.data(), 1, ltp.size(), f);
    std::fclose(f);
    const std::string cmd = "ffmpeg -v error -y -i '" + in + "' -f wav '" + ref + "'";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "ffmpeg is not available";
    const Pcm ours = DecodeStream(ltp);
    EXPECT_EQ(ours.errors, 0);
    const Pcm plain = DecodeStream(Fixture(name));
    const aactest::Comparison changed = Compare(ours, plain);
    const aactest::Comparison c2 = Compare(ours, ReadWav(ref));
    std::printf("lag %d coef %d: vs ffmpeg %.1f dB max %d (prediction moved the output by %d LSB)\n", c.lag, c.coef,
                c2.snrDb, c2.maxDiff, changed.maxDiff);
    EXPECT_GT(changed.maxDiff, 100);  // the prediction really changed the output
    EXPECT_GE(c2.snrDb, kMinLtpSnrDb);
    EXPECT_LE(c2.maxDiff, kMaxDiffVsFfmpegLsb);
  }
}

// A decoder configured for AAC-LC at 44.1 kHz with `channels`; null when
// creation or configuration fails.
heaac::HeAacDecoder* LcDecoder44100(uint32_t channels, heaac::AacStreamInfo* info) {
  heaac::HeAacDecoder* d = nullptr;
  if (heaac::gCreateHeAacDecoder(&d) != 0) return nullptr;
  info->samplesPerFrame = 1024;
  info->coreSampleRate = 44100;
  info->channels = channels;
  info->profile = 1;
  if (heaac::gConfigureHeAacDecoder(d, info) != 0) {
    heaac::gDestroyHeAacDecoder(d);
    return nullptr;
  }
  return d;
}

// A pair element in a stream configured for one channel must be refused
// before it writes a second channel past the mono output.
TEST(HeaacRobustness, PairElementInMonoConfigurationIsRefused) {
  const std::string name = "aac_lc_44100_stereo.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  heaac::AacStreamInfo info{};
  heaac::HeAacDecoder* d = LcDecoder44100(1, &info);
  ASSERT_TRUE(d);
  const size_t len = aactest::AdtsFrameLength(adts.data(), adts.size());
  std::vector<int16_t> out(info.outputBytesPerFrame / 2);  // exact size: ASan sees a stray write
  int32_t in = static_cast<int32_t>(len);
  int32_t outBytes = static_cast<int32_t>(info.outputBytesPerFrame);
  EXPECT_EQ(heaac::gDecodeHeAacFrame(d, adts.data(), &in, out.data(), &outBytes), -1);
  EXPECT_EQ(outBytes, static_cast<int32_t>(info.outputBytesPerFrame));
  heaac::gDestroyHeAacDecoder(d);
}

TEST(HeaacRobustness, MonoStreamConfiguredForStereoDuplicatesTheChannel) {
  const std::string name = "aac_lc_44100_mono.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  heaac::AacStreamInfo info{};
  heaac::HeAacDecoder* d = LcDecoder44100(2, &info);
  ASSERT_TRUE(d);
  std::vector<int16_t> out(2048);
  size_t pos = 0;
  for (int frame = 0; frame < 5; ++frame) {
    const size_t len = aactest::AdtsFrameLength(&adts[pos], adts.size() - pos);
    int32_t in = static_cast<int32_t>(len);
    int32_t outBytes = 4096;
    ASSERT_EQ(heaac::gDecodeHeAacFrame(d, &adts[pos], &in, out.data(), &outBytes), 0);
    EXPECT_EQ(outBytes, 4096);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(out[2 * i], out[2 * i + 1]);
    pos += len;
  }
  heaac::gDestroyHeAacDecoder(d);
}

// In ADTS mode a call that does not start with the sync word skips to the
// next one and counts the skipped bytes as consumed; a later frame at another
// sampling rate is refused.
TEST(HeaacRobustness, AdtsResyncAndRateChange) {
  const std::string name = "aac_lc_44100_mono.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  heaac::HeAacDecoder* d = nullptr;
  ASSERT_EQ(heaac::gCreateHeAacDecoder(&d), 0);
  heaac::AacStreamInfo info{};
  int32_t n = static_cast<int32_t>(adts.size());
  ASSERT_EQ(heaac::gGetAacStreamInfo(adts.data(), &n, &info, 2, nullptr, 0), 0);
  ASSERT_EQ(heaac::gConfigureHeAacDecoder(d, &info), 0);
  std::vector<int16_t> out(1024);
  const size_t first = aactest::AdtsFrameLength(adts.data(), adts.size());
  int32_t in = static_cast<int32_t>(first), outBytes = 2048;
  ASSERT_EQ(heaac::gDecodeHeAacFrame(d, adts.data(), &in, out.data(), &outBytes), 0);
  const size_t second = aactest::AdtsFrameLength(&adts[first], adts.size() - first);
  std::vector<uint8_t> junk = {0x12, 0x34, 0xFF, 0x00, 0x56};
  junk.insert(junk.end(), adts.begin() + static_cast<long>(first), adts.begin() + static_cast<long>(first + second));
  in = static_cast<int32_t>(junk.size());
  outBytes = 2048;
  ASSERT_EQ(heaac::gDecodeHeAacFrame(d, junk.data(), &in, out.data(), &outBytes), 0);
  EXPECT_EQ(in, static_cast<int32_t>(junk.size()));
  // Too little room: refused before the header is taken in, so the same
  // input decodes once the buffer is large enough.
  const size_t at = first + second;
  in = static_cast<int32_t>(aactest::AdtsFrameLength(&adts[at], adts.size() - at));
  outBytes = 2046;
  EXPECT_EQ(heaac::gDecodeHeAacFrame(d, &adts[at], &in, out.data(), &outBytes), heaac::kAacOutputTooSmall);
  outBytes = 2048;
  EXPECT_EQ(heaac::gDecodeHeAacFrame(d, &adts[at], &in, out.data(), &outBytes), 0);
  // The next frame with its rate index changed from 44.1 to 48 kHz.
  const size_t third_at = at + static_cast<size_t>(in);
  std::vector<uint8_t> third(adts.begin() + static_cast<long>(third_at), adts.end());
  third[2] = static_cast<uint8_t>((third[2] & ~0x3C) | (3 << 2));
  in = static_cast<int32_t>(aactest::AdtsFrameLength(third.data(), third.size()));
  outBytes = 2048;
  EXPECT_EQ(heaac::gDecodeHeAacFrame(d, third.data(), &in, out.data(), &outBytes), -1);
  EXPECT_EQ(outBytes, 2048);
  heaac::gDestroyHeAacDecoder(d);
}

// Truncated and bit-flipped streams give frame errors or end early, never a
// crash or a read outside the buffer (the sanitizers watch).
TEST(HeaacRobustness, TruncatedAndBitFlippedStreams) {
  const std::string name = "aac_tns_on.aac";
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath(name));
  const std::vector<uint8_t> adts = Fixture(name);
  for (size_t cut : {size_t{9}, size_t{100}, adts.size() / 3, adts.size() - 5}) {
    std::vector<uint8_t> part(adts.begin(), adts.begin() + static_cast<long>(cut));
    DecodeStream(part);
    DecodeStream(part, true);
  }
  const unsigned seed = 20261209;
  std::printf("bit flips: seed %u\n", seed);
  std::mt19937 rng(seed);
  int errors = 0;
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> damaged = adts;
    for (int k = 0; k < 40; ++k) {
      const size_t i = rng() % damaged.size();
      damaged[i] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    errors += DecodeStream(damaged).errors + DecodeStream(damaged, true).errors;
  }
  EXPECT_GT(errors, 0);
}

}  // namespace
