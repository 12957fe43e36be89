// The YUV 4:2:0 to RGB565 row kernels: every variant the machine runs gives
// the reference's words on random and extreme samples, at every pair count
// across the vector widths, from unaligned rows, into canary-padded outputs;
// and the export gives the same pictures, both ways up, with the CPU mask
// cleared.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"
#include "imageproc/imageproc.h"
#include "platform/cpu/cpu.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {


// Random, then the clipping extremes: black and white luma under saturated
// chroma, alternating so that neighbours clip in opposite directions.
uint8_t Sample(int pattern, size_t i, int plane) {
  switch (pattern) {
    case 0: return static_cast<uint8_t>(Rng()());
    case 1: return ((i + plane) & 1) ? 255 : 0;
    case 2: return plane == 0 ? static_cast<uint8_t>((i * 37) & 0xFF) : (((i >> 1) + plane) & 1 ? 255 : 0);
    default: return plane == 0 ? 255 : (plane == 1 ? 0 : 255);
  }
}

TEST(Yuv420ToRgb565Dsp, Row2MatchesReference) {
  std::printf("seed %u\n", kSeed);
  videodec::Yuv420ToRgb565Dsp ref{};
  videodec::init_yuv420_to_rgb565_dsp(ref, 0);
  for (const SimdVariant& variant : kSimdVariants) {
    if ((ov::GetCpuFlags() & variant.flags) != variant.flags) GTEST_SKIP() << variant.name << " is not supported here";
    videodec::Yuv420ToRgb565Dsp simd{};
    videodec::init_yuv420_to_rgb565_dsp(simd, variant.flags);
    // Full range, then studio range.
    for (auto slot : {&videodec::Yuv420ToRgb565Dsp::row2, &videodec::Yuv420ToRgb565Dsp::studio_row2}) {
      ASSERT_NE(simd.*slot, ref.*slot) << variant.name;
      for (int pattern = 0; pattern < 4; ++pattern) {
        for (ptrdiff_t pairs = 0; pairs <= 70; ++pairs) {
          for (size_t offset : {0, 1, 3}) {
            const size_t n = 2 * size_t(pairs);
            std::vector<uint8_t> y0(n + offset), y1(n + offset), u(size_t(pairs) + offset), v(u.size());
            for (size_t i = 0; i < n; ++i) {
              y0[offset + i] = Sample(pattern, i, 0);
              y1[offset + i] = Sample(pattern, i + 1, 0);
            }
            for (size_t i = 0; i < size_t(pairs); ++i) {
              u[offset + i] = Sample(pattern, i, 1);
              v[offset + i] = Sample(pattern, i, 2);
            }
            Padded<uint16_t> r0(n, 0xA5A5), r1(n, 0xA5A5), s0(n + offset, 0x5A5A), s1(n + offset, 0x5A5A);
            (ref.*slot)(y0.data() + offset, y1.data() + offset, u.data() + offset, v.data() + offset, r0.Data(),
                     r1.Data(), pairs);
            // Destination rows start `offset` words in, so odd addresses are tried too.
            (simd.*slot)(y0.data() + offset, y1.data() + offset, u.data() + offset, v.data() + offset,
                       s0.Data() + offset, s1.Data() + offset, pairs);
            ASSERT_TRUE(s0.PaddingIntact() && s1.PaddingIntact()) << variant.name << " pairs " << pairs;
            for (size_t i = 0; i < offset; ++i) ASSERT_EQ(s0[i], 0x5A5A) << variant.name << " wrote before its row";
            const std::vector<uint16_t> a0 = s0.Inner(), a1 = s1.Inner();
            ASSERT_EQ(std::vector<uint16_t>(a0.begin() + long(offset), a0.end()), r0.Inner())
                << variant.name << " pattern " << pattern << " pairs " << pairs << " offset " << offset;
            ASSERT_EQ(std::vector<uint16_t>(a1.begin() + long(offset), a1.end()), r1.Inner())
                << variant.name << " pattern " << pattern << " pairs " << pairs << " offset " << offset;
          }
        }
      }
    }
  }
}

TEST(Yuv420ToRgb565Dsp, ExportMatchesWithTheMaskCleared) {
  for (auto [w, h] : {std::pair{176, 144}, std::pair{98, 22}, std::pair{35, 7}, std::pair{2, 2}}) {
    Frame src(w, h);
    src.Randomize();
    for (int topDown : {0, 1}) {
      const size_t n = size_t((w + 1) & ~1) * h;
      std::vector<int16_t> all(n), ref(n);
      gOvYUV420toRGB565TopDown(&src.f, all.data(), w, h, topDown);
      ov::SetCpuFlagsMask(0);
      gOvYUV420toRGB565TopDown(&src.f, ref.data(), w, h, topDown);
      ov::SetCpuFlagsMask(~0u);
      EXPECT_EQ(all, ref) << w << "x" << h << " top-down " << topDown;
    }
  }
}

}  // namespace
}  // namespace iptest
