#include "shell/user_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace shell {
namespace {

// A bit-by-bit CRC-16/CCITT-FALSE written from the definition, independent of
// the one under test.
uint16_t ReferenceCrc(const std::vector<uint8_t>& bytes) {
  uint32_t reg = 0xFFFF;
  for (uint8_t byte : bytes) {
    for (int bit = 7; bit >= 0; --bit) {
      const uint32_t in = (byte >> bit) & 1;
      const uint32_t top = (reg >> 15) & 1;
      reg = (reg << 1) & 0xFFFF;
      if (top ^ in) reg ^= 0x1021;
    }
  }
  return static_cast<uint16_t>(reg);
}

TEST(UserOptionsCrc, CheckValueAndEmptyRange) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16CcittFalse(reinterpret_cast<const uint8_t*>(check), 9), 0x29B1);
  EXPECT_EQ(Crc16CcittFalse(nullptr, 0), 0xFFFF);
  std::vector<uint8_t> noise(777);
  uint32_t seed = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  EXPECT_EQ(Crc16CcittFalse(noise.data(), noise.size()), ReferenceCrc(noise));
}

class UserOptionsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    path_ = ov::String::FromUtf8Lossy(dir_ + "/user.opt");
    ov::SetTickCountForTesting(100000);
  }
  std::vector<uint8_t> ValidImage() {
    UserOptions o(path_);
    *o.GetOption(3) = 77;
    *o.GetStringOption(0) = u"skin.xml";
    *o.GetStringOption(5) = u"pos";
    std::vector<uint8_t> bytes;
    o.SerializeTo(&bytes);
    return bytes;
  }
  std::string dir_;
  ov::String path_;
};

TEST_F(UserOptionsFile, RoundTripAndLayout) {
  const std::vector<uint8_t> bytes = ValidImage();
  ASSERT_GE(bytes.size(), 192u + 23 * 2);
  EXPECT_EQ(bytes[0], 7);
  const std::vector<uint8_t> body(bytes.begin() + 8, bytes.end());
  const uint32_t stored = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
  EXPECT_EQ(stored, ReferenceCrc(body));
  EXPECT_EQ(bytes[8 + 3 * 4], 77);
  ASSERT_TRUE(ov::WriteWholeFile(path_, bytes.data(), bytes.size()));
  UserOptions o(path_);
  EXPECT_TRUE(o.LoadOptions());
  EXPECT_EQ(*o.GetOption(3), 77u);
  EXPECT_EQ(*o.GetStringOption(0), ov::String(u"skin.xml"));
  EXPECT_EQ(*o.GetStringOption(11), ov::String(u"1.62"));
  EXPECT_EQ(o.save_deadline(), 0u);
}

// Every refused file gives numeric slots 0, help on, Version "1.62" and a
// save due in a second; strings read before the refusal stay.
TEST_F(UserOptionsFile, RefusedFilesGiveDefaults) {
  std::vector<uint8_t> good = ValidImage();
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool keeps_first_strings;
  };
  std::vector<Case> cases;
  cases.push_back({"format word only", {7, 0, 0, 0}, false});
  std::vector<uint8_t> bad_crc = good;
  bad_crc[4] ^= 1;
  cases.push_back({"bad checksum", bad_crc, false});
  std::vector<uint8_t> high_bits = good;
  high_bits[6] = 1;
  cases.push_back({"checksum high bits", high_bits, false});
  std::vector<uint8_t> bad_format = good;
  bad_format[0] = 6;
  cases.push_back({"format 6", bad_format, false});
  // Short numeric block with a correct checksum.
  std::vector<uint8_t> short_numeric(good.begin(), good.begin() + 100);
  cases.push_back({"short numeric", short_numeric, false});
  // Cut inside the strings, checksum recomputed: strings 0 to 2 survive.
  std::vector<uint8_t> cut(good.begin(), good.begin() + 192 + 20);
  cases.push_back({"truncated strings", cut, true});
  for (Case& c : cases) {
    if (c.bytes.size() > 8 && (std::strcmp(c.what, "short numeric") == 0 || std::strcmp(c.what, "truncated strings") == 0)) {
      const std::vector<uint8_t> body(c.bytes.begin() + 8, c.bytes.end());
      const uint16_t crc = ReferenceCrc(body);
      c.bytes[4] = crc & 0xFF;
      c.bytes[5] = crc >> 8;
      c.bytes[6] = c.bytes[7] = 0;
    }
    ASSERT_TRUE(ov::WriteWholeFile(path_, c.bytes.data(), c.bytes.size()));
    UserOptions o(path_);
    for (int i = 0; i < UserOptions::kNumericCount; ++i) *o.GetOption(i) = 9;
    EXPECT_FALSE(o.LoadOptions()) << c.what;
    for (int i = 0; i < 45; ++i) EXPECT_EQ(*o.GetOption(i), 0u) << c.what << " slot " << i;
    EXPECT_EQ(*o.GetOption(45), 1u) << c.what;
    EXPECT_EQ(*o.GetStringOption(11), ov::String(u"1.62")) << c.what;
    EXPECT_GE(o.save_deadline(), 101000u) << c.what;
    EXPECT_LT(o.save_deadline(), 102000u) << c.what;
    if (c.keeps_first_strings) {
      EXPECT_EQ(*o.GetStringOption(0), ov::String(u"skin.xml"));
    }
  }
}

TEST_F(UserOptionsFile, RefusedFileIsReplacedAtNextDueCheck) {
  const uint8_t word[4] = {7, 0, 0, 0};
  ASSERT_TRUE(ov::WriteWholeFile(path_, word, 4));
  UserOptions o(path_);
  EXPECT_FALSE(o.LoadOptions());
  o.SaveIfDue();  // not yet due
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ov::ReadWholeFile(path_, &bytes));
  EXPECT_EQ(bytes.size(), 4u);
  ov::SetTickCountForTesting(103000);
  o.SaveIfDue();
  EXPECT_EQ(o.save_deadline(), 0u);
  UserOptions again(path_);
  EXPECT_TRUE(again.LoadOptions());
  EXPECT_EQ(*again.GetOption(45), 1u);
}

// A change still waiting for its deadline is written when the owner goes.
TEST_F(UserOptionsFile, APendingChangeIsWrittenBeforeItIsDue) {
  UserOptions o(path_);
  o.LoadOptions();
  o.SaveIfPending();
  ASSERT_TRUE(o.SetOptionByName(u"TEXTCOLOUR", u"7"));
  o.SaveIfDue();  // not yet due
  {
    UserOptions before(path_);
    before.LoadOptions();
    EXPECT_NE(*before.GetOption(19), 7u);
  }
  o.SaveIfPending();
  EXPECT_EQ(o.save_deadline(), 0u);
  UserOptions after(path_);
  EXPECT_TRUE(after.LoadOptions());
  EXPECT_EQ(*after.GetOption(19), 7u);
}

// A save that cannot be written (its folder not there yet) keeps the change
// waiting, and the next due check writes it once it can; a due check that
// failed does not forget it.
TEST_F(UserOptionsFile, AFailedSaveStaysWaitingUntilItIsWritten) {
  const ov::String path = ov::String::FromUtf8Lossy(dir_ + "/later/user.opt");
  UserOptions o(path);
  EXPECT_FALSE(o.LoadOptions());
  ASSERT_TRUE(o.SetOptionByName(u"TextColour", u"7"));
  *o.GetStringOption(22) = u"/saved.mix";
  ov::SetTickCountForTesting(102000);
  o.SaveIfDue();
  EXPECT_FALSE(ov::FileExists(path));
  EXPECT_NE(o.save_deadline(), 0u);
  ASSERT_TRUE(ov::CreateFolderTree(ov::String::FromUtf8Lossy(dir_ + "/later")));
  o.SaveIfDue();  // tried again a second later, not at once
  EXPECT_FALSE(ov::FileExists(path));
  ov::SetTickCountForTesting(104000);
  o.SaveIfDue();
  EXPECT_EQ(o.save_deadline(), 0u);
  UserOptions again(path);
  ASSERT_TRUE(again.LoadOptions());
  EXPECT_EQ(*again.GetOption(19), 7u);
  EXPECT_EQ(*again.GetStringOption(22), ov::String(u"/saved.mix"));
}

TEST_F(UserOptionsFile, SetByNameRules) {
  UserOptions o(path_);
  std::vector<std::pair<bool, int>> changes;
  o.SetChangeListener([&](bool s, int i) { changes.emplace_back(s, i); });
  // Decimal reading: "0x10" is 0, which equals the stored 0: no change.
  EXPECT_FALSE(o.SetOptionByName(u"textcolour", u"0x10"));
  EXPECT_TRUE(o.SetOptionByName(u"TEXTCOLOUR", u" -5"));
  EXPECT_EQ(*o.GetOption(19), static_cast<uint32_t>(-5));
  const uint32_t deadline = o.save_deadline();
  ov::SetTickCountForTesting(200000);
  EXPECT_FALSE(o.SetOptionByName(u"TextColour", u"-5"));
  EXPECT_EQ(o.save_deadline(), deadline);
  EXPECT_TRUE(o.SetOptionByName(u"loadedskin", u"a"));
  EXPECT_FALSE(o.SetOptionByName(u"NoSuchKey", u"1"));
  EXPECT_FALSE(o.SetNumericOption(41, 1));
  EXPECT_TRUE(o.SetNumericOption(40, 1));
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0], std::make_pair(false, 19));
  EXPECT_EQ(changes[1], std::make_pair(true, 0));
  EXPECT_EQ(changes[2], std::make_pair(false, 40));
  EXPECT_EQ(o.GetOption(46), nullptr);
  EXPECT_EQ(o.GetStringOption(23), nullptr);
  EXPECT_EQ(o.FindNumericIndex(u"CutFlagEnd"), 39);
  EXPECT_EQ(o.FindStringIndex(u"effectfilename"), 19);
}

}  // namespace
}  // namespace shell
