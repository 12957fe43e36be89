// The quarter-turn transpose kernels: every variant the machine runs gives
// the reference's bytes for every band width, unaligned rows and negative
// strides on both sides, into canary-padded outputs; and gRotateFrame gives
// the same frames with the CPU mask cleared.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imageproc/imageproc.h"
#include "imageproc/rotate_dsp.h"
#include "platform/cpu/cpu.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

struct Variant {
  const char* name;
  uint32_t flag;
};
const Variant kVariants[] = {{"sse2", ov::kCpuSse2}};

TEST(RotateDsp, TransposeBand8MatchesReference) {
  std::printf("seed %u\n", kSeed);
  for (const Variant& variant : kVariants) {
    if (!(ov::GetCpuFlags() & variant.flag)) GTEST_SKIP() << variant.name << " is not supported here";
    imageproc::RotateDsp ref{}, simd{};
    imageproc::init_rotate_dsp(ref, 0);
    imageproc::init_rotate_dsp(simd, variant.flag);
    ASSERT_NE(ref.transpose_band8, simd.transpose_band8);
    for (ptrdiff_t width = 0; width <= 50; ++width) {
      for (size_t offset : {0, 1, 5}) {
        for (bool flipSrc : {false, true}) {
          for (bool flipDst : {false, true}) {
            const ptrdiff_t srcStride = width + 3;
            std::vector<uint8_t> src(size_t(srcStride) * 8 + offset);
            FillRandom(src);
            const uint8_t* s = src.data() + offset + (flipSrc ? 7 * srcStride : 0);
            const ptrdiff_t ss = flipSrc ? -srcStride : srcStride;
            const ptrdiff_t dstStride = 11;  // rows of 8 bytes, 3 spare
            const size_t n = size_t(std::max<ptrdiff_t>(width, 1)) * dstStride;
            Padded<uint8_t> a(n, 0xA5), b(n, 0xA5);
            const ptrdiff_t first = flipDst ? (std::max<ptrdiff_t>(width, 1) - 1) * dstStride : 0;
            const ptrdiff_t ds = flipDst ? -dstStride : dstStride;
            ref.transpose_band8(a.Data() + first, ds, s, ss, width);
            simd.transpose_band8(b.Data() + first, ds, s, ss, width);
            ASSERT_TRUE(b.PaddingIntact());
            ASSERT_EQ(a.Inner(), b.Inner()) << variant.name << " width " << width;
            // The reference itself: column x is row x of the output.
            for (ptrdiff_t x = 0; x < width; ++x) {
              for (int k = 0; k < 8; ++k) ASSERT_EQ(a[size_t(first + x * ds + k)], s[k * ss + x]);
            }
          }
        }
      }
    }
  }
}

TEST(RotateDsp, ExportsMatchWithTheMaskCleared) {
  for (auto [w, h] : {std::pair{176, 144}, std::pair{38, 22}, std::pair{17, 9}}) {
    Frame src(w, h);
    src.Randomize();
    for (int type = 1; type <= 3; type += 2) {
      Frame all(h, w), ref(h, w);
      gRotateFrame(&src.f, &all.f, type);
      ov::SetCpuFlagsMask(0);
      gRotateFrame(&src.f, &ref.f, type);
      ov::SetCpuFlagsMask(~0u);
      EXPECT_EQ(all.y, ref.y) << w << "x" << h << " type " << type;
      EXPECT_EQ(all.u, ref.u);
    }
  }
}

}  // namespace
}  // namespace iptest
