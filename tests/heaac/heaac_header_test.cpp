// Stream headers and the entry functions' checks.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_headers.h"
#include "codecs/heaac/heaac_decoder.h"
#include "tests/heaac/aac_test_util.h"

namespace heaac {
namespace {

using aactest::BitWriter;

int32_t StreamInfo(const std::vector<uint8_t>& bytes, AacStreamInfo* info, int mode) {
  *info = AacStreamInfo{};
  int32_t length = static_cast<int32_t>(bytes.size());
  return gGetAacStreamInfo(bytes.data(), &length, info, mode, nullptr, 0);
}

TEST(HeaacHeaders, AudioSpecificConfigLcStereo) {
  AacStreamInfo info;
  ASSERT_EQ(StreamInfo({0x12, 0x10}, &info, 0), 0);
  EXPECT_EQ(info.outputBytesPerFrame, 4096u);
  EXPECT_EQ(info.outputSampleRate, 44100u);
  EXPECT_EQ(info.coreSampleRate, 44100u);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.profile, 1u);
  EXPECT_EQ(info.extensionObjectType, 0u);
  EXPECT_EQ(info.sbrRateFlag, 0u);
}

TEST(HeaacHeaders, BackwardCompatibleSbrSignalling) {
  BitWriter w;
  w.Put(2, 5);       // LC
  w.Put(6, 4);       // 24000 Hz
  w.Put(1, 4);       // mono
  w.Put(0, 3);       // GASpecificConfig
  w.Put(0x2B7, 11);  // sync extension
  w.Put(5, 5);       // SBR
  w.Put(1, 1);       // sbrPresentFlag
  w.Put(3, 4);       // 48000 Hz
  AacStreamInfo info;
  ASSERT_EQ(StreamInfo(w.bytes, &info, 0), 0);
  EXPECT_EQ(info.outputSampleRate, 48000u);
  EXPECT_EQ(info.outputBytesPerFrame, 4096u);
  EXPECT_EQ(info.extensionObjectType, 5u);
  // With the SBR tool the output runs at twice the core rate; a decoder made
  // without it stays at the core rate.
  for (int32_t sbr : {1, 0}) {
    AacStreamInfo copy = info;
    HeAacDecoder* d = nullptr;
    ASSERT_EQ(gCreateHeAacDecoderEx(&d, sbr), 0);
    ASSERT_EQ(gConfigureHeAacDecoder(d, &copy), 0);
    EXPECT_EQ(copy.outputSampleRate, sbr ? 48000u : 24000u);
    EXPECT_EQ(copy.outputBytesPerFrame, sbr ? 4096u : 2048u);
    EXPECT_EQ(copy.sbrRateFlag, sbr ? 0u : 1u);
    gDestroyHeAacDecoder(d);
  }
  // sbrPresentFlag 0: no SBR, the core rate.
  BitWriter absent;
  absent.Put(2, 5);
  absent.Put(6, 4);
  absent.Put(1, 4);
  absent.Put(0, 3);
  absent.Put(0x2B7, 11);
  absent.Put(5, 5);
  absent.Put(0, 1);
  ASSERT_EQ(StreamInfo(absent.bytes, &info, 0), 0);
  EXPECT_EQ(info.extensionObjectType, 0u);
  EXPECT_EQ(info.outputSampleRate, 24000u);
}

struct AscCase {
  const char* name;
  uint32_t type, rateIndex, explicitRate, channels, frameLengthFlag;
  int32_t result;
};

TEST(HeaacHeaders, AudioSpecificConfigRefusals) {
  const AscCase cases[] = {
      {"explicit 44100", 2, 15, 44100, 2, 0, 0},
      {"explicit 44000", 2, 15, 44000, 2, 0, -1},
      {"960-sample frames", 2, 4, 0, 2, 1, -1},
      {"main profile", 1, 4, 0, 2, 0, -1},
      {"rate index 13", 2, 13, 0, 2, 0, -1},
      {"ltp", 4, 3, 0, 1, 0, 0},
  };
  for (const AscCase& c : cases) {
    BitWriter w;
    w.Put(c.type, 5);
    w.Put(c.rateIndex, 4);
    if (c.rateIndex == 15) w.Put(c.explicitRate, 24);
    w.Put(c.channels, 4);
    w.Put(c.frameLengthFlag, 1);
    w.Put(0, 2);
    AacStreamInfo info;
    EXPECT_EQ(StreamInfo(w.bytes, &info, 0), c.result) << c.name;
  }
}

// program_config_element after an AudioSpecificConfig with channel
// configuration 0.
std::vector<uint8_t> AscWithPce(int front, int frontCpe, int lfe, int cc) {
  BitWriter w;
  w.Put(2, 5);
  w.Put(4, 4);
  w.Put(0, 4);  // channel configuration 0
  w.Put(0, 3);
  w.Put(0, 4);  // tag
  w.Put(1, 2);  // LC
  w.Put(4, 4);
  w.Put(front, 4);
  w.Put(0, 4);
  w.Put(0, 4);
  w.Put(lfe, 2);
  w.Put(0, 3);
  w.Put(cc, 4);
  w.Put(0, 3);  // no mixdowns
  for (int i = 0; i < front; ++i) {
    w.Put(frontCpe, 1);
    w.Put(i, 4);
  }
  for (int i = 0; i < lfe; ++i) w.Put(0, 4);
  for (int i = 0; i < cc; ++i) w.Put(0, 5);
  w.Align();
  w.Put(0, 8);  // no comment
  return w.bytes;
}

TEST(HeaacHeaders, ProgramConfigElement) {
  AacStreamInfo info;
  ASSERT_EQ(StreamInfo(AscWithPce(1, 1, 0, 0), &info, 0), 0);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(StreamInfo(AscWithPce(2, 1, 0, 0), &info, 0), -1);  // four channels
  EXPECT_EQ(StreamInfo(AscWithPce(1, 0, 1, 0), &info, 0), -1);  // LFE
  EXPECT_EQ(StreamInfo(AscWithPce(1, 0, 0, 1), &info, 0), -1);  // coupling channel
}

TEST(HeaacHeaders, AdifWithTwoProgramsIsRefused) {
  BitWriter w;
  w.Put(0x41444946, 32);
  w.Put(0, 1);
  w.Put(0, 2);
  w.Put(1, 1);
  w.Put(128000, 23);
  w.Put(1, 4);  // num_program_config_elements: two programs
  for (int i = 0; i < 8; ++i) w.Put(0, 8);
  AacStreamInfo info;
  EXPECT_EQ(StreamInfo(w.bytes, &info, 2), -1);
}

std::vector<uint8_t> AdtsHeader(int rateIndex, int channels, int profile = 1) {
  BitWriter w;
  w.Put(0xFFF, 12);
  w.Put(0, 1);
  w.Put(0, 2);
  w.Put(0, 1);  // protection_absent 0: a CRC word follows, 9 bytes in all
  w.Put(profile, 2);
  w.Put(rateIndex, 4);
  w.Put(0, 1);
  w.Put(channels, 3);
  w.Put(0, 4);
  w.Put(7, 13);
  w.Put(0x7FF, 11);
  w.Put(0, 2);
  w.Put(0, 16);  // crc_check
  return w.bytes;
}

TEST(HeaacHeaders, AdtsHeaderChecks) {
  AacStreamInfo info;
  ASSERT_EQ(StreamInfo(AdtsHeader(4, 2), &info, 2), 0);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.outputBytesPerFrame, 4096u);
  for (int index : {12, 13, 14, 15}) EXPECT_EQ(StreamInfo(AdtsHeader(index, 2), &info, 2), -1) << index;
  EXPECT_EQ(StreamInfo(AdtsHeader(4, 2, 0), &info, 2), -1);  // AAC Main
  std::vector<uint8_t> junk(16, 0x11);
  EXPECT_EQ(StreamInfo(junk, &info, 2), -1);
  EXPECT_EQ(StreamInfo({0xFF, 0xF1}, &info, 2), -1);  // shorter than 8 bytes
}

TEST(HeaacDecoderApi, CallsOutOfOrderAndBadArguments) {
  EXPECT_EQ(gCreateHeAacDecoder(nullptr), kAacNoMemory);
  EXPECT_EQ(gDestroyHeAacDecoder(nullptr), -1);
  HeAacDecoder* d = nullptr;
  ASSERT_EQ(gCreateHeAacDecoder(&d), 0);
  EXPECT_EQ(d->slot1, nullptr);
  EXPECT_EQ(d->slot2, nullptr);
  EXPECT_EQ(d->slot5, nullptr);
  uint8_t frame[16] = {};
  int16_t out[4096];
  int32_t in = 16, outBytes = sizeof(out);
  EXPECT_EQ(gDecodeHeAacFrame(d, frame, &in, out, &outBytes), -1);  // before configure
  EXPECT_EQ(gDecodeHeAacFrame(d, nullptr, &in, out, &outBytes), -1);
  EXPECT_EQ(gConfigureHeAacDecoder(d, nullptr), -1);
  AacStreamInfo info{};
  info.samplesPerFrame = 1024;
  info.coreSampleRate = 44100;
  info.channels = 3;
  info.profile = 1;
  EXPECT_EQ(gConfigureHeAacDecoder(d, &info), -1);
  info.channels = 2;
  info.coreSampleRate = 44000;
  EXPECT_EQ(gConfigureHeAacDecoder(d, &info), -1);
  info.coreSampleRate = 44100;
  ASSERT_EQ(gConfigureHeAacDecoder(d, &info), 0);
  EXPECT_EQ(info.outputBytesPerFrame, 4096u);
  outBytes = 4095;
  in = 16;
  EXPECT_EQ(gDecodeHeAacFrame(d, frame, &in, out, &outBytes), kAacOutputTooSmall);
  EXPECT_EQ(in, 16);
  EXPECT_EQ(outBytes, 4095);
  EXPECT_EQ(gDestroyHeAacDecoder(d), 0);
}

}  // namespace
}  // namespace heaac

namespace heaac {
namespace {

// Raw data blocks written bit by bit, decoded without ADTS framing by a
// decoder configured for two channels at 44.1 kHz (profile 1 LC, 3 LTP).
int32_t DecodeRawBlock(const std::vector<uint8_t>& block, uint32_t profile = 1) {
  HeAacDecoder* d = nullptr;
  if (gCreateHeAacDecoder(&d) != 0) return -100;
  AacStreamInfo info{};
  info.samplesPerFrame = 1024;
  info.coreSampleRate = 44100;
  info.channels = 2;
  info.profile = profile;
  gConfigureHeAacDecoder(d, &info);
  std::vector<int16_t> out(2048);
  int32_t in = static_cast<int32_t>(block.size());
  int32_t outBytes = 4096;
  const int32_t r = gDecodeHeAacFrame(d, block.data(), &in, out.data(), &outBytes);
  gDestroyHeAacDecoder(d);
  return r;
}

void PutLongIcsInfo(BitWriter* w, int maxSfb) {
  w->Put(0, 1);  // ics_reserved_bit
  w->Put(0, 2);  // ONLY_LONG
  w->Put(0, 1);  // sine
  w->Put(static_cast<uint32_t>(maxSfb), 6);
  w->Put(0, 1);  // predictor_data_present
}

// A silent channel stream with one band of codebook `book` (0 or a reserved
// value) ahead of it.
void PutChannelStream(BitWriter* w, uint32_t book) {
  w->Put(100, 8);  // global_gain
  PutLongIcsInfo(w, 1);
  w->Put(book, 4);
  w->Put(1, 5);  // section of one band
  w->Put(0, 1);  // pulse_data_present
  w->Put(0, 1);  // tns_data_present
  w->Put(0, 1);  // gain_control_data_present
}

std::vector<uint8_t> CpeBlock(uint32_t msMaskPresent) {
  BitWriter w;
  w.Put(1, 3);  // CPE
  w.Put(0, 4);
  w.Put(1, 1);  // common_window
  PutLongIcsInfo(&w, 1);
  w.Put(msMaskPresent, 2);
  if (msMaskPresent == 1) w.Put(1, 1);
  for (int ch = 0; ch < 2; ++ch) {
    w.Put(100, 8);
    w.Put(0, 4);  // codebook 0
    w.Put(1, 5);
    w.Put(0, 3);
  }
  w.Put(7, 3);  // END
  w.Align();
  return w.bytes;
}

std::vector<uint8_t> SceBlock(uint32_t book) {
  BitWriter w;
  w.Put(0, 3);  // SCE
  w.Put(0, 4);
  PutChannelStream(&w, book);
  w.Put(7, 3);
  w.Align();
  return w.bytes;
}

// Values the syntax reserves are refused rather than followed.
TEST(HeaacRawBlock, ReservedValuesAreRefused) {
  EXPECT_EQ(DecodeRawBlock(CpeBlock(0)), 0);
  EXPECT_EQ(DecodeRawBlock(CpeBlock(1)), 0);
  EXPECT_EQ(DecodeRawBlock(CpeBlock(2)), 0);
  EXPECT_EQ(DecodeRawBlock(CpeBlock(3)), -1);  // ms_mask_present 3
  EXPECT_EQ(DecodeRawBlock(SceBlock(0)), 0);
  EXPECT_EQ(DecodeRawBlock(SceBlock(12)), -1);  // reserved codebook
}

// A single channel element whose every group is covered by sections of the
// given lengths, each length written in 5-bit (long) or 3-bit (short)
// pieces, the escape piece (31 or 7) adding the next.
struct IcsCase {
  const char* name;
  int32_t result;
  bool isShort = false;
  int maxSfb = 1;
  std::vector<int> sections = {1};  // per group
  int groups = 1;                   // short windows: 1 or 8 (grouping 1111111 or 0000000)
  uint32_t book = 0;                // of every section: 0, or the reserved 12 with a scale factor a band
  int predictor = 0;                // long windows: predictor_data_present
  uint32_t profile = 1;             // 1 LC, 3 LTP
  std::vector<int> pulses = {};     // pulse_start_sfb, then the pulses' offsets
  int gainControl = 0;
};

std::vector<uint8_t> IcsBlock(const IcsCase& c) {
  BitWriter w;
  w.Put(0, 3);  // SCE
  w.Put(0, 4);
  w.Put(100, 8);  // global_gain
  w.Put(0, 1);
  w.Put(c.isShort ? 2 : 0, 2);
  w.Put(0, 1);
  if (c.isShort) {
    w.Put(static_cast<uint32_t>(c.maxSfb), 4);
    w.Put(c.groups == 8 ? 0x00 : 0x7F, 7);
  } else {
    w.Put(static_cast<uint32_t>(c.maxSfb), 6);
    w.Put(static_cast<uint32_t>(c.predictor), 1);
    if (c.predictor) w.Put(0, 1);  // ltp_data_present
  }
  const int bits = c.isShort ? 3 : 5;
  const int escape = (1 << bits) - 1;
  int bands = 0;
  for (int g = 0; g < (c.isShort ? c.groups : 1); ++g) {
    for (int len : c.sections) {
      bands += len;
      w.Put(c.book, 4);
      for (; len >= escape; len -= escape) w.Put(static_cast<uint32_t>(escape), bits);
      w.Put(static_cast<uint32_t>(len), bits);
    }
  }
  if (c.book != 0) {
    for (int b = 0; b < bands; ++b) w.Put(0, 1);  // scale factor delta 0
  }
  w.Put(c.pulses.empty() ? 0 : 1, 1);
  if (!c.pulses.empty()) {
    w.Put(static_cast<uint32_t>(c.pulses.size() - 2), 2);  // number_pulse
    w.Put(static_cast<uint32_t>(c.pulses[0]), 6);
    for (size_t i = 1; i < c.pulses.size(); ++i) {
      w.Put(static_cast<uint32_t>(c.pulses[i]), 5);
      w.Put(1, 4);  // amplitude
    }
  }
  w.Put(0, 1);  // tns_data_present
  w.Put(static_cast<uint32_t>(c.gainControl), 1);
  w.Put(7, 3);
  w.Align();
  return w.bytes;
}

// The bounds that a damaged stream can break are refused; the same blocks
// within them decode. At 44.1 kHz long windows have 49 bands, short 14, and
// long band 48 starts at coefficient 928.
TEST(HeaacRawBlock, SectionAndBandBoundsAreRefused) {
  const IcsCase cases[] = {
      {.name = "one band", .result = 0},
      {.name = "section past max_sfb", .result = -1, .sections = {3}},
      {.name = "second section past max_sfb", .result = -1, .maxSfb = 2, .sections = {1, 2}},
      {.name = "max_sfb at the band count, escaped length", .result = 0, .maxSfb = 49, .sections = {31, 18}},
      {.name = "max_sfb above the band count", .result = -1, .maxSfb = 50, .sections = {31, 19}},
      {.name = "short max_sfb at the band count", .result = 0, .isShort = true, .maxSfb = 14, .sections = {14},
       .groups = 8},
      {.name = "short max_sfb above the band count", .result = -1, .isShort = true, .maxSfb = 15, .sections = {15}},
      // Without the bound the last group's codebooks would run past the
      // 8 x 16 band slots.
      {.name = "short section past max_sfb", .result = -1, .isShort = true, .maxSfb = 14, .sections = {35},
       .groups = 8},
      {.name = "reserved codebook 12", .result = -1, .book = 12},
      {.name = "predictor data in LC", .result = -1, .predictor = 1},
      {.name = "predictor data in LTP", .result = 0, .predictor = 1, .profile = 3},
      {.name = "gain control data", .result = -1, .gainControl = 1},
      {.name = "pulses up to coefficient 1023", .result = 0, .maxSfb = 49, .sections = {31, 18},
       .pulses = {48, 31, 31, 31, 2}},
      {.name = "a pulse at coefficient 1024", .result = -1, .maxSfb = 49, .sections = {31, 18},
       .pulses = {48, 31, 31, 31, 3}},
      {.name = "pulse_start_sfb above the band count", .result = -1, .maxSfb = 49, .sections = {31, 18},
       .pulses = {63, 0}},
  };
  for (const IcsCase& c : cases) EXPECT_EQ(DecodeRawBlock(IcsBlock(c), c.profile), c.result) << c.name;
}

TEST(HeaacRawBlock, ElementOrderAndKinds) {
  auto block = [](std::initializer_list<int> ids) {
    BitWriter w;
    for (int id : ids) {
      w.Put(static_cast<uint32_t>(id), 3);
      if (id == 0) {
        w.Put(0, 4);
        PutChannelStream(&w, 0);
      } else if (id == 6) {
        w.Put(0, 4);  // empty fill element
      } else {
        w.Put(0, 4);  // tag of a coupling or LFE element
      }
    }
    w.Put(7, 3);
    w.Align();
    return w.bytes;
  };
  EXPECT_EQ(DecodeRawBlock(block({0})), 0);
  EXPECT_EQ(DecodeRawBlock(block({6})), -1);     // no channel element
  EXPECT_EQ(DecodeRawBlock(block({0, 2})), -1);  // coupling channel element
  EXPECT_EQ(DecodeRawBlock(block({0, 3})), -1);  // LFE
  EXPECT_EQ(DecodeRawBlock(block({0, 0})), -1);  // the same tag twice
}

}  // namespace
}  // namespace heaac

namespace heaac {
namespace {

// scale_factor_grouping 1011011 gives groups of 2, 3 and 3 windows; 0000000
// eight groups of one; 1111111 one group of eight.
TEST(HeaacRawBlock, ShortWindowGrouping) {
  struct Case {
    uint32_t grouping;
    std::vector<int> lengths;
  } cases[] = {{0x5B, {2, 3, 3}}, {0x00, {1, 1, 1, 1, 1, 1, 1, 1}}, {0x7F, {8}}};
  for (const Case& c : cases) {
    BitWriter w;
    w.Put(0, 3);  // SCE
    w.Put(0, 4);
    w.Put(100, 8);
    w.Put(0, 1);
    w.Put(2, 2);  // EIGHT_SHORT
    w.Put(0, 1);
    w.Put(0, 4);  // max_sfb 0
    w.Put(c.grouping, 7);
    w.Put(0, 3);  // pulse, tns, gain control
    w.Put(7, 3);
    w.Align();
    HeAacDecoder* d = nullptr;
    ASSERT_EQ(gCreateHeAacDecoder(&d), 0);
    AacStreamInfo info{};
    info.samplesPerFrame = 1024;
    info.coreSampleRate = 44100;
    info.channels = 1;
    info.profile = 1;
    ASSERT_EQ(gConfigureHeAacDecoder(d, &info), 0);
    std::vector<int16_t> out(1024);
    int32_t in = static_cast<int32_t>(w.bytes.size()), outBytes = 2048;
    ASSERT_EQ(gDecodeHeAacFrame(d, w.bytes.data(), &in, out.data(), &outBytes), 0);
    const IcsInfo& ics = reinterpret_cast<AacDecoderState*>(d)->element.ics[0];
    ASSERT_EQ(ics.numGroups, c.lengths.size());
    for (size_t g = 0; g < c.lengths.size(); ++g) EXPECT_EQ(ics.groupLen[g], c.lengths[g]);
    gDestroyHeAacDecoder(d);
  }
}

// A data stream element of 300 bytes (count 255 plus an escape of 45) is
// skipped whole.
TEST(HeaacRawBlock, DataStreamElementIsSkipped) {
  BitWriter w;
  w.Put(4, 3);  // DSE
  w.Put(0, 4);
  w.Put(1, 1);  // data_byte_align_flag
  w.Put(255, 8);
  w.Put(45, 8);
  w.Align();
  for (int i = 0; i < 300; ++i) w.Put(0xE0, 8);  // would read as END elements
  w.Put(0, 3);
  w.Put(0, 4);
  PutChannelStream(&w, 0);
  w.Put(7, 3);
  w.Align();
  EXPECT_EQ(DecodeRawBlock(w.bytes), 0);
  // Cut inside the data: refused, not read past the end.
  std::vector<uint8_t> cut(w.bytes.begin(), w.bytes.begin() + 100);
  EXPECT_EQ(DecodeRawBlock(cut), -1);
}

}  // namespace
}  // namespace heaac
