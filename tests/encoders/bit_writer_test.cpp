#include "encoders/common/bit_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace venc {
namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

TEST(BitWriterTest, PacksMostSignificantBitFirstIntoBigEndianWords) {
  uint8_t buf[8] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  PutBits(w, 3, 0b101);
  PutBits(w, 29, 0);
  EXPECT_EQ(Bytes(buf, 4), (std::vector<uint8_t>{0xA0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(w.offset, 4u);
  EXPECT_EQ(w.pendingCount, 0u);

  BitWriter v;
  uint8_t out[8];
  std::fill(std::begin(out), std::end(out), 0x55);
  AttachBuffer(v, out, sizeof(out));
  PutBits(v, 12, 0xABC);
  uint32_t bits = 0;
  EXPECT_EQ(FlushWriter(v, &bits), out);
  EXPECT_EQ(bits, 12u);
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xC0);
  EXPECT_EQ(FlushWriter(v, &bits), nullptr) << "a flushed writer has no buffer";
}

TEST(BitWriterTest, ThirtyTwoBitFieldsAcrossWordBoundaries) {
  uint8_t buf[12] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  PutBits(w, 4, 0xF);
  PutBits(w, 32, 0x12345678);
  PutBits(w, 28, 0x9ABCDEF);
  EXPECT_EQ(Bytes(buf, 8), (std::vector<uint8_t>{0xF1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(w.segmentBits, 64u);
}

struct StuffingCase {
  uint32_t pendingBits;
  uint32_t addedBits;
  uint32_t lastByte;  // the byte that ends the stuffing
};

class Mpeg4StuffingTest : public ::testing::TestWithParam<StuffingCase> {};

TEST_P(Mpeg4StuffingTest, AddsAZeroThenOnesToTheByteBoundary) {
  const StuffingCase c = GetParam();
  uint8_t buf[8] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  if (c.pendingBits) PutBits(w, c.pendingBits, 0);
  PutMpeg4Stuffing(w);
  EXPECT_EQ(BitsWritten(w), c.pendingBits + c.addedBits);
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  EXPECT_EQ(buf[(bits - 1) / 8], c.lastByte);
}

INSTANTIATE_TEST_SUITE_P(Cases, Mpeg4StuffingTest,
                         ::testing::Values(StuffingCase{0, 8, 0x7F}, StuffingCase{5, 3, 0x03},
                                           StuffingCase{7, 1, 0x00}, StuffingCase{1, 7, 0x3F}));

TEST(BitWriterTest, ZeroAlignmentOnlyWhenUnaligned) {
  uint8_t buf[8] = {};
  BitWriter w;
  AttachBuffer(w, buf, sizeof(buf));
  AlignWithZeros(w);
  EXPECT_EQ(BitsWritten(w), 0u);
  PutBits(w, 3, 7);
  AlignWithZeros(w);
  EXPECT_EQ(BitsWritten(w), 8u);
}

TEST(BitWriterTest, BoundedWriterStopsAtCapacityAndFlagsOverflow) {
  // Canary bytes after an 8-byte capacity must survive 100 bits of writing.
  uint8_t buf[16];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  BitWriter w;
  AttachBuffer(w, buf, 8);
  for (int i = 0; i < 10; ++i) PutBits(w, 10, 0x3FF);
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  EXPECT_TRUE(w.overflow);
  EXPECT_EQ(bits, 100u);
  for (int i = 8; i < 16; ++i) EXPECT_EQ(buf[i], 0xEE) << "byte " << i;
  EXPECT_EQ(buf[0], 0xFF);
}

TEST(BitWriterTest, PartialLastWordStoresOnlyTheBytesThatFit) {
  uint8_t buf[8];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  BitWriter w;
  AttachBuffer(w, buf, 6);
  PutBits(w, 32, 0xFFFFFFFF);
  PutBits(w, 12, 0xABC);
  uint32_t bits = 0;
  FlushWriter(w, &bits);
  EXPECT_FALSE(w.overflow);
  EXPECT_EQ(buf[4], 0xAB);
  EXPECT_EQ(buf[5], 0xC0);
  EXPECT_EQ(buf[6], 0xEE);
}

TEST(PartitionWriterTest, AppendsBothPartitionsInOrderAndLeavesThemAttached) {
  uint8_t out[32] = {}, p1[64] = {}, p2[64] = {};
  StreamWriter s;
  s.InitPartitioned(p1, p2, sizeof(p1));
  s.Attach(out, sizeof(out));
  PutBits(s.main(), 4, 0xA);
  // 40 bits in the first partition, 7 in the second.
  PutBits(s.first(), 32, 0x12345678);
  PutBits(s.first(), 8, 0x9A);
  PutBits(s.second(), 7, 0b1011001);
  uint32_t total = 0;
  ASSERT_EQ(s.Query(kQueryTotalBits, &total), 0);
  EXPECT_EQ(total, 51u);
  ASSERT_EQ(s.Control(kControlCloseSegment), 0);
  EXPECT_EQ(BitsWritten(s.main()), 51u);
  EXPECT_EQ(BitsWritten(s.first()), 0u);
  EXPECT_EQ(BitsWritten(s.second()), 0u);
  EXPECT_EQ(s.first().buffer, p1);
  EXPECT_EQ(s.second().buffer, p2);
  uint32_t bits = 0;
  s.Flush(&bits);
  EXPECT_EQ(bits, 51u);
  // A 1234 5678 9A, then 1011001: A1 23 45 67 89 AB 20 (51 bits).
  EXPECT_EQ(Bytes(out, 7), (std::vector<uint8_t>{0xA1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0x20}));
  EXPECT_EQ(s.Control(7), -1);
  EXPECT_EQ(s.Query(9, &bits), -1);
}

TEST(PartitionWriterTest, PacketStuffingAlignsTheMergedPacket) {
  uint8_t out[32] = {}, p1[16] = {}, p2[16] = {};
  StreamWriter s;
  s.InitPartitioned(p1, p2, sizeof(p1));
  s.Attach(out, sizeof(out));
  PutBits(s.main(), 5, 0);
  PutBits(s.first(), 9, 0);
  PutBits(s.second(), 1, 0);
  s.PutPacketStuffing();
  EXPECT_EQ(s.FrameBits() % 8, 0u);
  EXPECT_EQ(s.FrameBits(), 16u);
}

}  // namespace
}  // namespace venc
