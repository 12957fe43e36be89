// Frame copy, reference padding and extension to the macroblock grid.
#include "encoders/common/encoder_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace venc {
namespace {

TEST(PadPlaneTest, BorderEqualsTheClampedPictureSample) {
  const int w = 6, h = 4, b = 3;
  const int stride = w + 2 * b;
  std::vector<uint8_t> plane(static_cast<size_t>(stride) * (h + 2 * b), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) plane[(y + b) * stride + x + b] = static_cast<uint8_t>(10 * y + x + 1);
  PadPlane(plane.data(), b, w, h);
  for (int y = -b; y < h + b; ++y)
    for (int x = -b; x < w + b; ++x) {
      const int cx = std::clamp(x, 0, w - 1), cy = std::clamp(y, 0, h - 1);
      EXPECT_EQ(plane[(y + b) * stride + x + b], 10 * cy + cx + 1) << x << "," << y;
    }
}

TEST(ExtendToMbGridTest, ReplicatesEdgesOfA180x120Picture) {
  // Coded 192 x 128: 12 columns and 8 rows in luma, 6 and 4 in chroma.
  const int w = 180, h = 120, cw = 192, ch = 128;
  std::vector<uint8_t> block(FrameBlockBytes(cw, ch), 0);
  EncoderFrame f{};
  BindFrame(f, block.data(), cw, ch);
  std::vector<uint8_t> input(static_cast<size_t>(w) * h * 3 / 2);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 13 + 7);
  CopyInputToFrame(f, input.data(), w, h, false);
  ExtendToMbGrid(f, w, h);
  PadFrame(f);
  const uint8_t* y = f.lumaOrigin();
  for (int row = -8; row < ch + 8; ++row)
    for (int col = -8; col < cw + 8; ++col) {
      const int sx = std::clamp(col, 0, w - 1), sy = std::clamp(row, 0, h - 1);
      ASSERT_EQ(y[row * f.lumaStride() + col], input[static_cast<size_t>(sy) * w + sx]) << col << "," << row;
    }
  const uint8_t* u = f.uOrigin();
  const uint8_t* uIn = input.data() + w * h;
  for (int row = -4; row < ch / 2 + 4; ++row)
    for (int col = -4; col < cw / 2 + 4; ++col) {
      const int sx = std::clamp(col, 0, w / 2 - 1), sy = std::clamp(row, 0, h / 2 - 1);
      ASSERT_EQ(u[row * f.chromaStride() + col], uIn[sy * (w / 2) + sx]) << col << "," << row;
    }
}

TEST(CopyInputTest, ChromaOrderSwitchSwapsThePlanes) {
  const int w = 16, h = 16;
  std::vector<uint8_t> block(FrameBlockBytes(w, h), 0);
  EncoderFrame f{};
  BindFrame(f, block.data(), w, h);
  std::vector<uint8_t> input(w * h * 3 / 2, 1);
  std::fill(input.begin() + w * h, input.begin() + w * h + w * h / 4, 2);
  std::fill(input.begin() + w * h + w * h / 4, input.end(), 3);
  CopyInputToFrame(f, input.data(), w, h, true);
  EXPECT_EQ(f.uOrigin()[0], 3);
  EXPECT_EQ(f.vOrigin()[0], 2);
}

}  // namespace
}  // namespace venc
