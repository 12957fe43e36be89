#include "codecs/videodec/common/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace videodec {
namespace {

// An input placed at a chosen address modulo 4, in a buffer of exactly the
// bytes before it plus the input, so AddressSanitizer sees reads past the end.
struct PlacedInput {
  PlacedInput(const std::vector<uint8_t>& bytes, size_t misalign) {
    // operator new[] returns 16-byte aligned memory.
    storage = new uint8_t[misalign + bytes.size()];
    data = storage + misalign;
    std::copy(bytes.begin(), bytes.end(), data);
  }
  ~PlacedInput() { delete[] storage; }
  uint8_t* storage;
  uint8_t* data;
};

TEST(BitReaderTest, PictureStartCodeLeavesTenBitsOfTheWord) {
  PlacedInput in({0x00, 0x00, 0x80, 0x02}, 0);
  BitReader br;
  br.Initialise();
  br.Attach(in.data, 4);
  EXPECT_EQ(br.ShowBits(22), 32u);
  EXPECT_EQ(br.ReadBits(22), 32u);
  EXPECT_EQ(br.bit_count, 10);
  EXPECT_EQ(br.ReadBits(10), 2u);
  EXPECT_EQ(br.overrun, 0u);
}

TEST(BitReaderTest, UnalignedFiveBytesEndInZerosAndCountTheOverrun) {
  PlacedInput in({0xA1, 0xB2, 0xC3, 0xD4, 0xE5}, 1);
  BitReader br;
  br.Initialise();
  br.Attach(in.data, 5);
  EXPECT_EQ(br.bit_count, 24);  // three bytes up to the aligned address
  EXPECT_EQ(br.word_count, 0);
  EXPECT_EQ(br.trailing, 2u);
  EXPECT_EQ(br.BytesLeft(), 5u);
  EXPECT_EQ(br.ReadBits(24), 0xA1B2C3u);
  EXPECT_EQ(br.ReadBits(24), 0xD4E500u);  // 16 input bits, then 8 zero bits
  EXPECT_EQ(br.overrun, 8u);
  EXPECT_EQ(br.BytesLeft(), 0u);
  EXPECT_TRUE(br.Overrun());
}

TEST(BitReaderTest, TrailingBytesAreReadWithoutTouchingPastTheEnd) {
  // Every misalignment and every length up to 11: the bits come back in order
  // and nothing past the input is read (AddressSanitizer checks the latter).
  std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F, 0x1E, 0x2D};
  for (size_t misalign = 0; misalign < 4; ++misalign) {
    for (size_t len = 1; len <= bytes.size(); ++len) {
      std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len));
      PlacedInput in(part, misalign);
      BitReader br;
      br.Initialise();
      br.Attach(in.data, len);
      EXPECT_EQ(br.BytesLeft(), len);
      for (size_t i = 0; i < len; ++i) {
        ASSERT_EQ(br.ShowBits(8), part[i]) << "misalign " << misalign << " len " << len << " byte " << i;
        ASSERT_EQ(br.ReadBits(8), part[i]);
      }
      EXPECT_EQ(br.overrun, 0u);
      EXPECT_EQ(br.ReadBits(32), 0u);
      EXPECT_GT(br.overrun, 0u);
    }
  }
}

TEST(BitReaderTest, BytesLeftCountsOnlyUntouchedBytes) {
  std::vector<uint8_t> bytes(16, 0x55);
  PlacedInput in(bytes, 0);
  BitReader br;
  br.Initialise();
  br.Attach(in.data, 16);
  br.SkipBits(9);
  EXPECT_EQ(br.BytesLeft(), 14u);
  br.SkipBits(32);
  EXPECT_EQ(br.BytesLeft(), 10u);
}

TEST(BitReaderTest, ShowDoesNotConsumeAcrossWords) {
  std::vector<uint8_t> bytes = {0xFF, 0x00, 0xFF, 0x00, 0xAA, 0x55, 0xAA};
  PlacedInput in(bytes, 0);
  BitReader br;
  br.Initialise();
  br.Attach(in.data, bytes.size());
  br.SkipBits(20);
  EXPECT_EQ(br.ShowBits(32), 0xF00AA55Au);
  EXPECT_EQ(br.ShowBits(32), 0xF00AA55Au);
  EXPECT_EQ(br.ReadBits(32), 0xF00AA55Au);
  EXPECT_EQ(br.ShowBits(4), 0xAu);
  EXPECT_EQ(br.ShowBits(16), 0xA000u);  // zeros past the end, without counting
  EXPECT_EQ(br.overrun, 0u);
}

TEST(BitReaderTest, BackwardReadsReturnPrecedingBitsInForwardOrder) {
  std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
  PlacedInput in(bytes, 0);
  BitReader br;
  br.Initialise();
  br.Attach(in.data, bytes.size());
  br.SkipBits(36);  // up to the high nibble of 0x9A
  br.StartBackward();
  EXPECT_EQ(br.BackwardShowBits(4), 0x9u);
  EXPECT_EQ(br.BackwardReadBits(12), 0x789u);
  EXPECT_EQ(br.BackwardReadBits(24), 0x123456u);
  EXPECT_EQ(br.BackwardReadBits(8), 0u);  // before the start
}

}  // namespace
}  // namespace videodec
