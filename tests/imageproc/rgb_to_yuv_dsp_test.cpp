// The RGB565 to YUV row kernels: every variant the machine runs gives the
// table reference's bytes on random and worst-case pixels, at every pair
// count, from unaligned rows, into canary-padded outputs; and the exports give
// the same frames with the CPU mask cleared.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imageproc/imageproc.h"
#include "imageproc/rgb_to_yuv_dsp.h"
#include "platform/cpu/cpu.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

struct Variant {
  const char* name;
  uint32_t flag;
};
const Variant kVariants[] = {{"sse2", ov::kCpuSse2}};

// Worst cases: extremes of each field and of the sums.
uint16_t Pattern(int pattern, size_t i) {
  static const uint16_t kEdges[] = {0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0xF81F, 0x07FF, 0xFFE0, 0x8410, 0x7BEF};
  switch (pattern) {
    case 0: return static_cast<uint16_t>(Rng()());
    case 1: return kEdges[i % 10];
    default: return (i & 1) ? 0xFFFF : 0x0000;
  }
}

TEST(RgbToYuvDsp, Rgb565Row2MatchesReference) {
  std::printf("seed %u\n", kSeed);
  for (const Variant& variant : kVariants) {
    if (!(ov::GetCpuFlags() & variant.flag)) GTEST_SKIP() << variant.name << " is not supported here";
    imageproc::RgbToYuvDsp ref{}, simd{};
    imageproc::init_rgb_to_yuv_dsp(ref, 0);
    imageproc::init_rgb_to_yuv_dsp(simd, variant.flag);
    ASSERT_NE(ref.rgb565_row2, simd.rgb565_row2) << variant.name;
    for (int pattern = 0; pattern < 3; ++pattern) {
      for (ptrdiff_t pairs = 0; pairs <= 41; ++pairs) {
        for (size_t offset : {0, 1}) {
          const size_t n = 2 * size_t(pairs);
          std::vector<uint16_t> block0(n + offset), block1(n + offset);
          for (size_t i = 0; i < n; ++i) {
            block0[offset + i] = Pattern(pattern, i);
            block1[offset + i] = Pattern(pattern, i + 3);
          }
          Padded<uint8_t> ry0(n, 0xA5), ry1(n, 0xA5), ru(size_t(pairs), 0xA5), rv(size_t(pairs), 0xA5);
          Padded<uint8_t> sy0(n, 0x5A), sy1(n, 0x5A), su(size_t(pairs), 0x5A), sv(size_t(pairs), 0x5A);
          ref.rgb565_row2(ry0.Data(), ry1.Data(), ru.Data(), rv.Data(), block0.data() + offset,
                          block1.data() + offset, pairs);
          simd.rgb565_row2(sy0.Data(), sy1.Data(), su.Data(), sv.Data(), block0.data() + offset,
                           block1.data() + offset, pairs);
          for (auto* p : {&sy0, &sy1, &su, &sv}) ASSERT_TRUE(p->PaddingIntact()) << variant.name;
          ASSERT_EQ(sy0.Inner(), ry0.Inner()) << variant.name << " pattern " << pattern << " pairs " << pairs;
          ASSERT_EQ(sy1.Inner(), ry1.Inner()) << variant.name << " pattern " << pattern << " pairs " << pairs;
          ASSERT_EQ(su.Inner(), ru.Inner()) << variant.name << " pattern " << pattern << " pairs " << pairs;
          ASSERT_EQ(sv.Inner(), rv.Inner()) << variant.name << " pattern " << pattern << " pairs " << pairs;
        }
      }
    }
  }
}

// The exports pick their kernels from the process-wide mask.
TEST(RgbToYuvDsp, ExportsMatchWithTheMaskCleared) {
  for (auto [w, h] : {std::pair{176, 144}, std::pair{38, 22}, std::pair{34, 7}}) {
    std::vector<uint16_t> rgb(size_t(w) * h);
    FillRandom(rgb);
    const int fw = (w + 1) & ~1, fh = (h + 1) & ~1;
    Frame all(fw, fh), ref(fw, fh);
    std::vector<uint8_t> allTd(size_t(w) * h * 3 / 2), refTd(allTd.size());
    gOvRGB565toYUV420(rgb.data(), &all.f, w, h);
    if (w % 2 == 0 && h % 2 == 0) gOvzRGB565toYUV420_TopDown(rgb.data(), allTd.data(), w, h);
    ov::SetCpuFlagsMask(0);
    gOvRGB565toYUV420(rgb.data(), &ref.f, w, h);
    if (w % 2 == 0 && h % 2 == 0) gOvzRGB565toYUV420_TopDown(rgb.data(), refTd.data(), w, h);
    ov::SetCpuFlagsMask(~0u);
    EXPECT_EQ(all.y, ref.y) << w << "x" << h;
    EXPECT_EQ(all.u, ref.u);
    EXPECT_EQ(all.v, ref.v);
    EXPECT_EQ(allTd, refTd);
  }
}

}  // namespace
}  // namespace iptest
