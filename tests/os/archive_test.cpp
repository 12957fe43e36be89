#include "platform/os/archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using ov::Archive;
using ov::String;

TEST(Archive, LayoutMatchesHandWrittenBytes) {
  Archive out;
  out.WriteU32(0x12345678);
  out.WriteI32(-2);
  out.WriteString(u"Ab");
  out.WriteString(u"");
  const std::vector<uint8_t> want = {
      0x78, 0x56, 0x34, 0x12,              // word
      0xFE, 0xFF, 0xFF, 0xFF,              // -2
      0xFF, 0xFE, 0xFF, 0x02, 'A', 0, 'b', 0,  // marker, length 2, units
      0xFF, 0xFE, 0xFF, 0x00,              // empty string
  };
  EXPECT_EQ(out.Bytes(), want);
  EXPECT_TRUE(out.ok());
}

TEST(Archive, StringLengthForms) {
  struct Case {
    int length;
    std::vector<uint8_t> prefix;  // after 0xFF 0xFE 0xFF
  };
  const Case cases[] = {
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {0xFFFD, {0xFF, 0xFD, 0xFF}},
      {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    String text(u'\u20AC', c.length);
    Archive out;
    out.WriteString(text);
    const std::vector<uint8_t>& bytes = out.Bytes();
    ASSERT_EQ(bytes.size(), 3 + c.prefix.size() + 2u * c.length);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 3, bytes.begin() + 3 + c.prefix.size()), c.prefix) << c.length;
    EXPECT_EQ(bytes[3 + c.prefix.size()], 0xAC);
    EXPECT_EQ(bytes[4 + c.prefix.size()], 0x20);

    Archive in(bytes);
    String back;
    ASSERT_TRUE(in.ReadString(&back)) << in.error();
    EXPECT_EQ(back, text);
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST(Archive, RoundTripMixedFields) {
  Archive out;
  out.WriteU8(7);
  out.WriteU16(0xBEEF);
  out.WriteString(u"R\u00F6tation \U0001F3AC");
  const uint8_t raw[3] = {1, 2, 3};
  out.WriteBytes(raw, 3);
  out.WriteU32(0xFFFFFFFF);

  Archive in(out.Bytes());
  uint8_t b;
  uint16_t h;
  String s;
  uint8_t got[3];
  uint32_t w;
  EXPECT_TRUE(in.ReadU8(&b) && in.ReadU16(&h) && in.ReadString(&s) && in.ReadBytes(got, 3) && in.ReadU32(&w));
  EXPECT_EQ(b, 7);
  EXPECT_EQ(h, 0xBEEF);
  EXPECT_EQ(s, u"R\u00F6tation \U0001F3AC");
  EXPECT_EQ(got[2], 3);
  EXPECT_EQ(w, 0xFFFFFFFFu);
  EXPECT_TRUE(in.ok());
}

TEST(Archive, BadInputGivesClearErrors) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* error_part;
  };
  const Case cases[] = {
      {{}, "past the end"},
      {{0x41, 0xFE, 0xFF, 0x01, 0x41, 0x00}, "marker"},            // no 0xFF lead byte
      {{0xFF, 0xFE, 0xFF, 0x05, 'a', 0}, "claims 5 units"},        // short length, too few units
      {{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, "claims 2147483647"},  // absurd
      {{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF}, "reserved"},
      {{0xFF, 0xFE, 0xFF, 0xFF, 0x10}, "past the end"},             // 16-bit length cut off
      {{0xFF, 0xFE, 0xFF, 0x01, 'a'}, "claims 1 units"},            // odd byte of a unit
  };
  for (const Case& c : cases) {
    Archive in(c.bytes);
    String s(u"old");
    EXPECT_FALSE(in.ReadString(&s));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(in.ok());
    EXPECT_NE(in.error().find(c.error_part), std::string::npos) << in.error();
  }
}

TEST(Archive, ErrorIsStickyAndReadsPastEndGiveZero) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  Archive in(bytes);
  uint32_t w = 99;
  EXPECT_FALSE(in.ReadU32(&w));
  EXPECT_EQ(w, 0u);
  uint8_t b = 99;
  EXPECT_FALSE(in.ReadU8(&b));  // bytes are left, but the archive has failed
  EXPECT_EQ(b, 0);
  EXPECT_NE(in.error().find("offset 0"), std::string::npos) << in.error();

  Archive out;
  EXPECT_FALSE(out.ReadU8(&b));
  EXPECT_FALSE(out.ok());
}
