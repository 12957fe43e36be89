#include "codecs/videodec/common/mc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "codecs/videodec/common/motion.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

int Expected(const uint8_t* src, ptrdiff_t stride, int x, int y, int pos, int rc) {
  const uint8_t* s = src + y * stride + x;
  switch (pos) {
    case kMcFull: return s[0];
    case kMcHalfX: return (s[0] + s[1] + 1 - rc) >> 1;
    case kMcHalfY: return (s[0] + s[stride] + 1 - rc) >> 1;
    default: return (s[0] + s[1] + s[stride] + s[stride + 1] + 2 - rc) >> 2;
  }
}

TEST(McDspTest, HalfSampleRoundingControl) {
  McDsp dsp;
  init_mc_dsp(dsp, 0);
  const uint8_t src[2 * 5] = {1, 2, 0, 0, 0, 1, 2, 0, 0, 0};
  uint8_t out[4];
  dsp.put[kMcHalfX](out, 4, src, 5, 4, 1, 0);
  EXPECT_EQ(out[0], 2);
  dsp.put[kMcHalfX](out, 4, src, 5, 4, 1, 1);
  EXPECT_EQ(out[0], 1);
}

TEST(McDspTest, EveryKernelMatchesTheFormulaWithCanaries) {
  const unsigned seed = 4242;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  for (uint32_t flags : {0u, ov::GetCpuFlags()}) {
    McDsp dsp;
    init_mc_dsp(dsp, flags);
    for (int pos = 0; pos < 4; ++pos) {
      for (int w : {4, 8, 12, 16, 20}) {
        for (int h : {1, 8, 16}) {
          for (int rc = 0; rc < 2; ++rc) {
            const ptrdiff_t ss = 37, ds = 23;
            std::vector<uint8_t> src(static_cast<size_t>(ss * 18));
            for (auto& v : src) v = (rng() & 1) ? 255 : static_cast<uint8_t>(rng());
            std::vector<uint8_t> dst(static_cast<size_t>(ds * 17), 0xA5);
            dsp.put[pos](dst.data() + 1, ds, src.data() + 3, ss, w, h, rc);
            for (int y = 0; y < 17; ++y) {
              for (int x = 0; x < ds; ++x) {
                const uint8_t got = dst[static_cast<size_t>(y * ds + x)];
                if (y < h && x >= 1 && x <= w)
                  ASSERT_EQ(got, Expected(src.data() + 3, ss, x - 1, y, pos, rc))
                      << "pos " << pos << " w " << w << " h " << h << " rc " << rc;
                else
                  ASSERT_EQ(got, 0xA5) << "stray write";
              }
            }
          }
        }
      }
    }
  }
}

TEST(McDspTest, EdgePredictionClampsToTheBorder) {
  McDsp dsp;
  init_mc_dsp(dsp, 0);
  // A 16x16 plane whose samples are x + 16 y.
  uint8_t plane[256];
  for (int i = 0; i < 256; ++i) plane[i] = static_cast<uint8_t>(i);
  uint8_t out[64];
  // Block at (0, 0) pointed 20 samples up and left: every sample is plane[0].
  PredictBlock(dsp, out, 8, plane, 16, 16, 0, 0, 8, 8, -40, -40, 0);
  for (uint8_t v : out) EXPECT_EQ(v, 0);
  // Block at (8, 8) pointed right by 7.5: columns clamp to x = 15.
  PredictBlock(dsp, out, 8, plane, 16, 16, 8, 8, 8, 8, 15, 0, 0);
  for (int r = 0; r < 8; ++r) EXPECT_EQ(out[r * 8 + 7], 15 + 16 * (8 + r));
  EXPECT_EQ(out[0], (15 + 16 * 8 + 15 + 16 * 8 + 1) >> 1);
}

TEST(McDspTest, ChromaVectorsFollowTheRoundingTables) {
  // One vector: quarter positions go to the half position.
  const int one[][2] = {{0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 2}, {5, 3}, {-1, -1}, {-2, -1}, {-3, -1}, {-5, -3}};
  for (const auto& c : one) EXPECT_EQ(ChromaVectorOneMv(c[0]), c[1]) << c[0];
  // Four vectors, H.263 Table F.1: sixteenth-sample remainder 0..15.
  const int table[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
  for (int s = -64; s <= 64; ++s) {
    const int mag = s < 0 ? -s : s;
    const int expected = (mag / 16 * 2 + table[mag % 16]) * (s < 0 ? -1 : 1);
    EXPECT_EQ(ChromaVectorFourMv(s), expected) << s;
  }
}

TEST(McDspTest, MedianPredictorCandidates) {
  const MotionVector a{4, -2}, b{-6, 8}, c{2, 2};
  MotionVector p = MedianPredictor(&a, &b, &c);
  EXPECT_EQ(p.x, 2);
  EXPECT_EQ(p.y, 2);
  p = MedianPredictor(nullptr, nullptr, &c);  // two missing: the third
  EXPECT_EQ(p.x, 2);
  EXPECT_EQ(p.y, 2);
  p = MedianPredictor(&a, nullptr, &c);  // one missing counts as 0
  EXPECT_EQ(p.x, 2);
  EXPECT_EQ(p.y, 0);
  p = MedianPredictor(nullptr, nullptr, nullptr);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(WrapVector(30, 3, 64), -31);
  EXPECT_EQ(WrapVector(-30, -3, 64), 31);
}

}  // namespace
}  // namespace videodec
