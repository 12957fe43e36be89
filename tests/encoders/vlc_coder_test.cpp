// Code tables and event coding of ISO/IEC 14496-2 Annex B / ITU-T H.263.
#include "encoders/common/vlc_coder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoders/common/vlc_tables.h"

namespace venc {
namespace {

// Bits a routine wrote, as a string of '0' and '1'.
template <typename Fn>
std::string Written(Fn fn, int* returned = nullptr) {
  uint8_t buf[16] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  const int r = fn(w);
  if (returned) *returned = r;
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  std::string s;
  for (uint32_t i = 0; i < bits; ++i) s += ((buf[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

std::string CodeString(const VlcCode& c) {
  std::string s;
  for (int i = c.length - 1; i >= 0; --i) s += ((c.code >> i) & 1) ? '1' : '0';
  return s;
}

// A table is decodable only when no code is a prefix of another.
void ExpectPrefixFree(const std::vector<std::string>& codes, const char* name) {
  for (size_t i = 0; i < codes.size(); ++i)
    for (size_t j = 0; j < codes.size(); ++j) {
      if (i == j) continue;
      EXPECT_NE(codes[j].compare(0, codes[i].size(), codes[i]), 0)
          << name << ": " << codes[i] << " is a prefix of " << codes[j];
    }
}

template <typename Table>
std::vector<std::string> EventCodes(const Table& t, int* count) {
  std::vector<std::string> out;
  for (int last = 0; last < 2; ++last)
    for (const auto& row : t.code[last])
      for (const VlcCode& c : row)
        if (c.length) out.push_back(CodeString(c));
  *count = static_cast<int>(out.size());
  return out;
}

TEST(VlcTablesTest, EventTablesHaveTheirSizeAndArePrefixFree) {
  struct TableCase {
    const char* name;
    std::vector<std::string> codes;
    int count;
    int expected;
    std::string escape;
  };
  int n1 = 0, n2 = 0, n3 = 0, n4 = 0;
  TableCase cases[] = {
      {"B-17", EventCodes(kInterTcoef, &n1), 0, 102, "0000011"},
      {"B-16", EventCodes(kIntraTcoef, &n2), 0, 102, "0000011"},
      {"B-23 inter", EventCodes(kInterRvlc, &n3), 0, 169, "0000"},
      {"B-23 intra", EventCodes(kIntraRvlc, &n4), 0, 169, "0000"},
  };
  cases[0].count = n1;
  cases[1].count = n2;
  cases[2].count = n3;
  cases[3].count = n4;
  for (TableCase& c : cases) {
    EXPECT_EQ(c.count, c.expected) << c.name;
    c.codes.push_back(c.escape);
    ExpectPrefixFree(c.codes, c.name);
  }
}

TEST(VlcTablesTest, HeaderTablesArePrefixFree) {
  std::vector<std::string> mcbpcI, mcbpcP, cbpy, dcY, dcC;
  for (const auto& row : kMcbpcIntraTable)
    for (const VlcCode& c : row) mcbpcI.push_back(CodeString(c));
  mcbpcI.push_back("000000001");  // stuffing
  for (const auto& row : kMcbpcInterTable)
    for (const VlcCode& c : row) mcbpcP.push_back(CodeString(c));
  mcbpcP.push_back("000000001");
  for (const VlcCode& c : kCbpyTable) cbpy.push_back(CodeString(c));
  for (const VlcCode& c : kDcSizeLumaTable) dcY.push_back(CodeString(c));
  for (const VlcCode& c : kDcSizeChromaTable) dcC.push_back(CodeString(c));
  std::vector<std::string> mvd = {CodeString(kMvdTable[0])};
  for (int i = 1; i <= 32; ++i) {
    mvd.push_back(CodeString(kMvdTable[i]) + "0");
    mvd.push_back(CodeString(kMvdTable[i]) + "1");
  }
  ExpectPrefixFree(mvd, "B-12");
  ExpectPrefixFree(mcbpcI, "B-6");
  ExpectPrefixFree(mcbpcP, "B-7");
  ExpectPrefixFree(cbpy, "B-8");
  ExpectPrefixFree(dcY, "B-13");
  ExpectPrefixFree(dcC, "B-14");
}

TEST(VlcTablesTest, LmaxAndRmaxMatchAnnexB) {
  // Tables B-18 to B-21 at a few entries.
  EXPECT_EQ(kInterTcoef.maxLevel[0][0], 12);
  EXPECT_EQ(kInterTcoef.maxLevel[1][1], 2);
  EXPECT_EQ(kInterTcoef.maxRun[0][1], 26);
  EXPECT_EQ(kInterTcoef.maxRun[1][1], 40);
  EXPECT_EQ(kIntraTcoef.maxLevel[0][0], 27);
  EXPECT_EQ(kIntraTcoef.maxLevel[1][0], 8);
  EXPECT_EQ(kIntraTcoef.maxRun[0][1], 14);
  EXPECT_EQ(kIntraTcoef.maxRun[1][1], 20);
}

struct DcCase {
  int value;
  int block;
  const char* bits;
};

class IntraDcTest : public ::testing::TestWithParam<DcCase> {};

TEST_P(IntraDcTest, WritesSizeCodeDifferentialAndMarker) {
  const DcCase c = GetParam();
  int returned = 0;
  const std::string s = Written([&](BitWriter& w) { return PutIntraDc(w, c.value, c.block); }, &returned);
  EXPECT_EQ(s, c.bits);
  EXPECT_EQ(returned, static_cast<int>(s.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntraDcTest,
    ::testing::Values(DcCase{-5, 0, "010010"}, DcCase{0, 0, "011"}, DcCase{0, 4, "11"}, DcCase{1, 5, "101"},
                      DcCase{300, 0, "00000001" "100101100" "1"}, DcCase{-1, 0, "110"}));

TEST(ShortHeaderDcTest, Value128IsWrittenAs255) {
  EXPECT_EQ(Written([](BitWriter& w) { return PutShortHeaderIntraDc(w, 128); }), "11111111");
  EXPECT_EQ(Written([](BitWriter& w) { return PutShortHeaderIntraDc(w, 1); }), "00000001");
}

struct EventCase {
  const char* name;
  int last, run, level;
  bool shortHeader;
  const char* bits;
};

class InterEventTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(InterEventTest, CodesTableEntriesAndEscapes) {
  const EventCase c = GetParam();
  int returned = 0;
  const std::string s =
      Written([&](BitWriter& w) { return PutInterEvent(w, c.last, c.run, c.level, c.shortHeader); }, &returned);
  EXPECT_EQ(s, c.bits);
  EXPECT_EQ(returned, static_cast<int>(s.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterEventTest,
    ::testing::Values(
        EventCase{"table", 0, 0, 1, false, "100"}, EventCase{"tableNegative", 0, 0, -1, false, "101"},
        // (0, 0, 13): LMAX 12, escape mode 1 codes level 1.
        EventCase{"mode1", 0, 0, 13, false, "0000011" "0" "100"},
        EventCase{"h263Escape", 0, 0, 13, true, "0000011" "0" "000000" "00001101"},
        // (0, 30, 1): RMAX 26, escape mode 2 codes run 30 - 27 = 3.
        EventCase{"mode2", 0, 30, 1, false, "0000011" "10" "01101" "0"},
        // (1, 2, 3): no code, LMAX 1 leaves level 2 (no code), RMAX(1, 3) = 0 leaves run 1 (no code).
        EventCase{"mode3", 1, 2, 3, false, "0000011" "11" "1" "000010" "1" "000000000011" "1"},
        EventCase{"mode3Negative", 0, 0, -2047, false, "0000011" "11" "0" "000000" "1" "100000000001" "1"}),
    [](const ::testing::TestParamInfo<EventCase>& param) { return std::string(param.param.name); });

TEST(RvlcEventTest, EscapeIsThirtyBitsWithSignLast) {
  int returned = 0;
  const std::string s = Written([](BitWriter& w) { return PutInterEventRvlc(w, 1, 5, -300); }, &returned);
  EXPECT_EQ(s, "00001" "1" "000101" "1" "00100101100" "1" "0000" "1");
  EXPECT_EQ(returned, 30);
  // A table event: (0, 0, 1) intra is 110 and the sign.
  EXPECT_EQ(Written([](BitWriter& w) { return PutIntraEventRvlc(w, 0, 0, 1); }), "1100");
}

struct MvdCase {
  int dx, dy, fcode;
  const char* bits;
};

class MvdTest : public ::testing::TestWithParam<MvdCase> {};

TEST_P(MvdTest, WrapsAndCodesBothComponents) {
  const MvdCase c = GetParam();
  int returned = 0;
  const std::string s = Written([&](BitWriter& w) { return PutMvd(w, c.dx, c.dy, c.fcode); }, &returned);
  EXPECT_EQ(s, c.bits);
  EXPECT_EQ(returned, static_cast<int>(s.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MvdTest,
    ::testing::Values(
        // 40 half-pels at f_code 1 wraps to -24: 0000 0001 00, sign 1; dy 0 is 1.
        MvdCase{40, 0, 1, "0000000100" "1" "1"},
        // f_code 2: h = 2 + 40 - 1 = 41, motion_code 20, residual 1.
        MvdCase{40, 0, 2, "00000010000" "1" "1"},
        MvdCase{1, -1, 1, "010" "011"},
        MvdCase{0, -32, 1, "1" "0000000000101"},
        // f_code 2 spans -64..63: motion_code 32 for both, residuals 1 and 0.
        MvdCase{-64, 63, 2, "000000000010" "1" "1" "000000000010" "0" "0"}));

TEST(BlockCoderTest, LastEventCarriesTheLastFlag) {
  int16_t coef[64] = {};
  coef[0] = 1;   // zigzag position 0
  coef[8] = -1;  // zigzag position 2
  int returned = 0;
  const std::string s =
      Written([&](BitWriter& w) { return PutInterBlock(w, coef, 0, false, 2); }, &returned);
  // (0, 0, 1) then (1, 1, -1): 10 0 then 001111 1.
  EXPECT_EQ(s, "100" "0011111");
  EXPECT_EQ(returned, 10);
  const std::string r = Written([&](BitWriter& w) { return PutInterBlockRvlc(w, coef, 2); });
  EXPECT_EQ(r.substr(0, 4), "1100");
}

}  // namespace
}  // namespace venc
