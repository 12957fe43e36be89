// The bilinear scalers' row kernels (horizontal and vertical blends, RGB565
// field split and join): every variant the machine runs gives the
// reference's values for tap plans of every shape (adjacent taps at ratios
// up to 3, taps 2^k apart, clamped right taps, groups that end at the last
// readable sample, partial last groups), for random and saturated samples,
// into canary-padded outputs at odd addresses; the reference matches the
// bilinear formula; and the scaling exports give the same pictures with the
// CPU mask cleared.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <vector>

#include "imageproc/imageproc.h"
#include "imageproc/scale_dsp.h"
#include "platform/cpu/cpu.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

// The vertical blend has an AVX-512 variant besides the family's two.
inline constexpr SimdVariant kVerticalVariants[] = {
    kSimdVariants[0], kSimdVariants[1], {"avx512", ov::kCpuSse2 | ov::kCpuAvx2 | ov::kCpuAvx512}};

// Taps of n output columns over a row of `width` samples: left taps advance by
// `step` (Q8) samples, right taps `gap` further, clamped to the last sample.
struct Taps {
  std::vector<int32_t> left, right;
  std::vector<uint8_t> frac;
};
Taps MakeTaps(int n, int width, int step, int gap) {
  Taps t;
  for (int j = 0; j < n; ++j) {
    const int l = std::min((j * step) >> 8, width - 1);
    t.left.push_back(l);
    t.right.push_back(std::min(l + gap, width - 1));
    t.frac.push_back(static_cast<uint8_t>(Rng()() & 7));
  }
  return t;
}

TEST(ScaleDsp, HorizontalMatchesReference) {
  std::printf("seed %u\n", kSeed);
  imageproc::ScaleDsp ref{};
  imageproc::init_scale_dsp(ref, 0);
  constexpr int kRows = imageproc::kMaxRows;
  // Steps in 256ths of a sample: upscales, 3/4, about 1.5 (a pair of groups
  // just within and just past the reach of one load), just under 2 and 3, and
  // a large reduction with taps 16 apart.
  for (auto [step, gap] : {std::pair{77, 1}, std::pair{256, 1}, std::pair{341, 1}, std::pair{384, 1},
                           std::pair{400, 1}, std::pair{420, 1}, std::pair{500, 1},
                           std::pair{760, 1}, std::pair{1024, 2}, std::pair{4000, 16}}) {
    for (int n : {1, 7, 8, 9, 16, 23, 40, 8 * imageproc::kTapGroups - 1, 8 * imageproc::kTapGroups}) {
      for (bool saturated : {false, true}) {
        const int width = std::max(2, ((n - 1) * step >> 8) + gap + 1);
        // Each row is an exact-size block: a read past its end shows under
        // ASan. The first is saturated or random, the others random.
        std::vector<std::vector<uint8_t>> rows(kRows, std::vector<uint8_t>(size_t(width) + 1));
        const uint8_t* src[kRows];
        for (int i = 0; i < kRows; ++i) {
          if (saturated && i == 0) {
            std::fill(rows[0].begin(), rows[0].end(), 255);
          } else {
            FillRandom(rows[size_t(i)]);
          }
          src[i] = rows[size_t(i)].data() + 1;  // odd address
        }
        const Taps t = MakeTaps(n, width, step, gap);
        imageproc::TapPlan plan;
        ASSERT_TRUE(imageproc::MakeTapPlan(plan, t.left.data(), t.right.data(), t.frac.data(), n, width));
        const size_t out = 8 * size_t(plan.groups);
        std::vector<Padded<uint16_t>> a(kRows, Padded<uint16_t>(out, 0xA5A5));
        uint16_t* aRows[kRows];
        for (int i = 0; i < kRows; ++i) aRows[i] = a[size_t(i)].Data();
        ref.horizontal(aRows, src, kRows, plan);
        // The reference itself: (8 - fx) left + fx right; the last column
        // repeated to the end of the group.
        for (int i = 0; i < kRows; ++i) {
          const Padded<uint16_t>& row = a[size_t(i)];
          ASSERT_TRUE(row.PaddingIntact());
          for (int j = 0; j < n; ++j)
            ASSERT_EQ(row[size_t(j)], (8 - t.frac[j]) * src[i][t.left[j]] + t.frac[j] * src[i][t.right[j]]) << j;
          for (size_t j = size_t(n); j < out; ++j) ASSERT_EQ(row[j], row[size_t(n) - 1]);
        }
        for (const SimdVariant& variant : kSimdVariants) {
          if ((ov::GetCpuFlags() & variant.flags) != variant.flags) continue;
          imageproc::ScaleDsp simd{};
          imageproc::init_scale_dsp(simd, variant.flags);
          ASSERT_NE(simd.horizontal, ref.horizontal) << variant.name;
          // Every number of rows a call takes; the rows start at the second.
          for (int count = 1; count <= kRows - 1; ++count) {
            std::vector<Padded<uint16_t>> b(size_t(count), Padded<uint16_t>(out + 1, 0x5A5A));
            uint16_t* bRows[kRows];
            for (int i = 0; i < count; ++i) bRows[i] = b[size_t(i)].Data() + 1;
            simd.horizontal(bRows, src + 1, count, plan);
            for (int i = 0; i < count; ++i) {
              ASSERT_TRUE(b[size_t(i)].PaddingIntact());
              ASSERT_EQ(b[size_t(i)][0], 0x5A5A);
              for (size_t j = 0; j < out; ++j)
                ASSERT_EQ(b[size_t(i)][j + 1], a[size_t(i) + 1][j])
                    << variant.name << " step " << step << " n " << n << " rows " << count << " column " << j;
            }
          }
          std::vector<Padded<uint16_t>> b(kRows, Padded<uint16_t>(out, 0x5A5A));
          uint16_t* bRows[kRows];
          for (int i = 0; i < kRows; ++i) bRows[i] = b[size_t(i)].Data();
          simd.horizontal(bRows, src, kRows, plan);
          for (int i = 0; i < kRows; ++i) {
            ASSERT_TRUE(b[size_t(i)].PaddingIntact());
            ASSERT_EQ(b[size_t(i)].Inner(), a[size_t(i)].Inner()) << variant.name << " step " << step << " n " << n;
          }
        }
      }
    }
  }
  for (const SimdVariant& variant : kSimdVariants) {
    if ((ov::GetCpuFlags() & variant.flags) != variant.flags) GTEST_SKIP() << variant.name << " is not supported";
  }
}

// A plan holds taps up to 255 samples from its group's first; a group is
// fetched whole when its taps lie in 16 samples that may all be read, at the
// end of a row from the row's last 16.
TEST(ScaleDsp, PlanLimits) {
  const int32_t left[3] = {0, 40, 300}, right[3] = {1, 41, 301};
  const uint8_t frac[3] = {3, 0, 0};
  imageproc::TapPlan plan;
  imageproc::TapQuads quads;
  EXPECT_FALSE(imageproc::MakeTapPlan(plan, left, right, frac, 3, 400));
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, left, right, frac, 2, 400));
  EXPECT_FALSE(plan.fits[0]);  // taps 0 to 41
  EXPECT_EQ(plan.fitting, 0);
  const int32_t near[2] = {384, 390}, nearRight[2] = {385, 391};
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, near, nearRight, frac, 2, 400));
  EXPECT_TRUE(plan.fits[0]);
  EXPECT_EQ(plan.base[0], 384);
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, near, nearRight, frac, 2, 399));
  EXPECT_TRUE(plan.fits[0]);
  EXPECT_EQ(plan.base[0], 383);  // the last 16 samples
  EXPECT_EQ(plan.pick[0][0], 1);
  EXPECT_EQ(plan.pick[0][3], 8);
  EXPECT_EQ(plan.weight[0][0], 5);
  EXPECT_EQ(plan.weight[0][1], 3);
  // Two groups at 3:4: the second is fetched with the first, from 8 past its
  // base, where the 32 samples from the first's base may be read.
  int32_t l34[16], r34[16];
  uint8_t f34[16] = {};
  for (int j = 0; j < 16; ++j) l34[j] = j * 4 / 3, r34[j] = l34[j] + 1;
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l34, r34, f34, 16, 32));
  EXPECT_EQ(plan.base[1], 8);
  EXPECT_EQ(plan.pick[1][0], l34[8] - 8);
  EXPECT_TRUE(plan.wide[0]);
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l34, r34, f34, 16, 31));
  EXPECT_FALSE(plan.wide[0]);
  const int32_t shortRow[1] = {3}, shortRight[1] = {4};
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, shortRow, shortRight, frac, 1, 15));
  EXPECT_FALSE(plan.fits[0]);  // fewer than 16 samples to read
  imageproc::MakeTapQuads(quads, plan, shortRow, shortRight, 1, 15);
  EXPECT_EQ(quads.fitting, 0);
  // Quads of 32 columns at 3:4, 100 columns (a partial last quad of four)
  // over 134 samples: each quad from its first left tap, the last two from
  // the row's last 64 samples, the last quad's missing columns repeating its
  // last and its missing groups weighted 0.
  std::vector<int32_t> l(100), r(100);
  const std::vector<uint8_t> f(100, 3);
  for (int j = 0; j < 100; ++j) l[size_t(j)] = j * 4 / 3, r[size_t(j)] = l[size_t(j)] + 1;
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l.data(), r.data(), f.data(), 100, 134));
  imageproc::MakeTapQuads(quads, plan, l.data(), r.data(), 100, 134);
  EXPECT_EQ(quads.fitting, 4);
  EXPECT_EQ(quads.base[1], l[32]);
  EXPECT_EQ(quads.pick[1][63], r[63] - l[32]);
  EXPECT_EQ(quads.base[2], 70);
  EXPECT_EQ(quads.pick[2][0], l[64] - 70);
  EXPECT_EQ(quads.base[3], 70);
  EXPECT_EQ(quads.pick[3][0], l[96] - 70);
  EXPECT_EQ(quads.pick[3][63], r[99] - 70);
  EXPECT_EQ(plan.weight[12][0], 5);
  EXPECT_EQ(plan.weight[13][1], 0);
  EXPECT_EQ(plan.weight[15][0], 0);
  // Taps 30 further on from column 40: quad 1's span more than 64 samples,
  // so that only quad 0 fits.
  for (int j = 40; j < 100; ++j) l[size_t(j)] += 30, r[size_t(j)] += 30;
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l.data(), r.data(), f.data(), 100, 164));
  imageproc::MakeTapQuads(quads, plan, l.data(), r.data(), 100, 164);
  EXPECT_EQ(quads.fitting, 1);
  // Taps two apart: 32 columns span 64 samples and fit, 65 do not.
  for (int j = 0; j < 32; ++j) l[size_t(j)] = 2 * j, r[size_t(j)] = 2 * j + 1;
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l.data(), r.data(), f.data(), 32, 200));
  imageproc::MakeTapQuads(quads, plan, l.data(), r.data(), 32, 200);
  EXPECT_EQ(quads.fitting, 1);
  r[31] = 64;
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l.data(), r.data(), f.data(), 32, 200));
  imageproc::MakeTapQuads(quads, plan, l.data(), r.data(), 32, 200);
  EXPECT_EQ(quads.fitting, 0);
  // Fewer than 64 samples to read.
  ASSERT_TRUE(imageproc::MakeTapPlan(plan, l34, r34, f34, 16, 63));
  imageproc::MakeTapQuads(quads, plan, l34, r34, 16, 63);
  EXPECT_EQ(quads.fitting, 0);
}

// A plane of `rows` source rows of `width` samples (random, or 0 and 255 at
// random where `extreme`) in an exact-size block read from an odd address,
// and the reference's output rows of `pairs` (n columns, each source row
// blended, then two per output row) in rows n + 3 apart at an odd address.
struct ColumnsCase {
  std::vector<uint8_t> plane;
  const uint8_t* src;
  ptrdiff_t stride;
  Padded<uint8_t> expected;
};
ColumnsCase ReferenceRows(const imageproc::ScaleDsp& ref, const imageproc::TapPlan& plan, int rows, int width,
                          bool extreme, const std::vector<imageproc::RowPair>& pairs, int n) {
  const ptrdiff_t stride = n + 3;
  ColumnsCase c{std::vector<uint8_t>(size_t(rows) * size_t(width) + 1), nullptr, stride,
                Padded<uint8_t>(pairs.size() * size_t(stride) + 1, 0xA5)};
  FillRandom(c.plane);
  if (extreme) {
    for (uint8_t& v : c.plane) v = v & 1 ? 255 : 0;
  }
  c.src = c.plane.data() + 1;
  std::vector<std::vector<uint16_t>> h(size_t(rows), std::vector<uint16_t>(8 * size_t(plan.groups)));
  for (int y = 0; y < rows; ++y) {
    uint16_t* hRow[1] = {h[size_t(y)].data()};
    const uint8_t* sRow[1] = {c.src + y * width};
    ref.horizontal(hRow, sRow, 1, plan);
  }
  for (size_t i = 0; i < pairs.size(); ++i) {
    const imageproc::RowPair& p = pairs[i];
    ref.vertical(c.expected.Data() + 1 + ptrdiff_t(i) * stride, h[size_t(p.top)].data(), h[size_t(p.bottom)].data(),
                 p.fy, n);
  }
  return c;
}

// The row pairs of `count` output rows at vertical step stepY (in 256ths) over
// `rows` source rows, the last repeated past the end.
std::vector<imageproc::RowPair> RowPairs(int count, int stepY, int rows) {
  std::vector<imageproc::RowPair> pairs;
  imageproc::RowPair pair{-1, -1, 0, imageproc::RowPair::kBlend, imageproc::RowPair::kBlend};
  for (int i = 0; i < count; ++i) {
    const int top = std::min((i * stepY) >> 8, rows - 1);
    pair = imageproc::NextRowPair(pair, top, std::min(top + 1, rows - 1), (i * stepY >> 5) & 7);
    pairs.push_back(pair);
  }
  return pairs;
}

// The AVX-512 kernel that scales strips of columns down every output row
// holding two blended rows in registers: the reference's horizontal and
// vertical blends for horizontal steps (in 256ths: up, 1:1, 3:4, about 7:10,
// just under 2) and vertical ones (up, where rows are kept; 1:1, fy 0, where
// the bottom row is the top; 3:4; 2:1 and 4:1, where both rows are blended
// anew; the last source row repeated), widths across the strips of 192
// columns and the quads of 32, random and extreme (0 or 255) samples in an
// exact-size block read from an odd address, into rows with gaps between them
// at an odd address.
TEST(ScaleDsp, ColumnsMatchReference) {
  if (!(ov::GetCpuFlags() & ov::kCpuAvx512)) GTEST_SKIP() << "avx512 is not supported";
  imageproc::ScaleDsp ref{}, simd{};
  imageproc::init_scale_dsp(ref, 0);
  imageproc::init_scale_dsp(simd, ov::kCpuSse2 | ov::kCpuAvx2 | ov::kCpuAvx512);
  ASSERT_NE(simd.columns, nullptr);
  constexpr int kCount = 37;  // output rows
  for (int step : {77, 256, 341, 366, 500}) {
    for (int n : {1, 31, 33, 100, 128, 129, 192, 193, 264, 384, 480, 8 * imageproc::kTapGroups}) {
      const int width = std::max(64, ((n - 1) * step >> 8) + 2);
      const Taps t = MakeTaps(n, width, step, 1);
      imageproc::TapPlan plan;
      imageproc::TapQuads quads;
      ASSERT_TRUE(imageproc::MakeTapPlan(plan, t.left.data(), t.right.data(), t.frac.data(), n, width));
      imageproc::MakeTapQuads(quads, plan, t.left.data(), t.right.data(), n, width);
      ASSERT_EQ(quads.fitting, (plan.groups + 3) / 4) << "step " << step << " n " << n;
      for (int stepY : {64, 85, 256, 320, 341, 512, 1024}) {
        // Output rows from the 33rd on lie past the last source row and
        // repeat it: at 320 a row taken with weight 0 is then blended again
        // with itself held as the bottom row.
        const int rows = ((32 * stepY) >> 8) + 1;
        const std::vector<imageproc::RowPair> pairs = RowPairs(kCount, stepY, rows);
        for (bool extreme : {false, true}) {
          ColumnsCase c = ReferenceRows(ref, plan, rows, width, extreme, pairs, n);
          Padded<uint8_t> b(c.expected.size(), 0xA5);
          simd.columns(b.Data() + 1, c.stride, c.src, width, plan, quads, pairs.data(), kCount, n);
          ASSERT_TRUE(b.PaddingIntact());
          ASSERT_EQ(b.Inner(), c.expected.Inner()) << "step " << step << " n " << n << " stepY " << stepY;
        }
      }
    }
  }
}

// The AVX2 kernel that makes output rows by bands, weighting the taps of the
// few source rows a band shares for each output row at once: the reference's
// horizontal and vertical blends for horizontal steps (in 256ths: up, 1:1,
// 3:4, about 7:10, just under 2) and vertical ones (up, where many output rows
// share two source rows; 1:1, fy 0; 3:4, where most bands are three output
// rows from four source rows; 7:10; 2:1 and 4:1, where rows are skipped; the
// last source row repeated, where an output row takes one row alone with fy
// above 0), widths of whole and partial blocks of 32 columns, random and
// extreme (0 or 255) samples in an exact-size block read from an odd address,
// into rows with gaps between them at an odd address.
TEST(ScaleDsp, BandsMatchReference) {
  if (!(ov::GetCpuFlags() & ov::kCpuAvx2)) GTEST_SKIP() << "avx2 is not supported";
  imageproc::ScaleDsp ref{}, simd{};
  imageproc::init_scale_dsp(ref, 0);
  imageproc::init_scale_dsp(simd, ov::kCpuSse2 | ov::kCpuAvx2);
  ASSERT_NE(simd.bands, nullptr);
  constexpr int kCount = 37;  // output rows
  for (int step : {77, 256, 341, 366, 500}) {
    for (int n : {1, 31, 32, 33, 100, 128, 129, 264, 480, 8 * imageproc::kTapGroups}) {
      const int width = std::max(16, ((n - 1) * step >> 8) + 2);
      const Taps t = MakeTaps(n, width, step, 1);
      imageproc::TapPlan plan;
      ASSERT_TRUE(imageproc::MakeTapPlan(plan, t.left.data(), t.right.data(), t.frac.data(), n, width));
      ASSERT_EQ(plan.fitting, plan.groups) << "step " << step << " n " << n;
      auto taps = std::make_unique<imageproc::BandTaps>();
      imageproc::MakeBandTaps(*taps, plan, n);
      for (int stepY : {64, 85, 256, 320, 341, 366, 512, 1024}) {
        // Output rows from the 33rd on lie past the last source row and
        // repeat it.
        const int rows = ((32 * stepY) >> 8) + 1;
        const std::vector<imageproc::RowPair> pairs = RowPairs(kCount, stepY, rows);
        std::vector<imageproc::Band> bands;
        for (int i = 0; i < kCount; ++i) {
          const imageproc::RowPair& p = pairs[size_t(i)];
          imageproc::AddBandRow(bands, i, p.top, p.bottom, p.fy);
        }
        for (bool extreme : {false, true}) {
          ColumnsCase c = ReferenceRows(ref, plan, rows, width, extreme, pairs, n);
          Padded<uint8_t> b(c.expected.size(), 0xA5);
          simd.bands(b.Data() + 1, c.stride, c.src, width, *taps, bands.data(), static_cast<int64_t>(bands.size()), n);
          ASSERT_TRUE(b.PaddingIntact());
          ASSERT_EQ(b.Inner(), c.expected.Inner()) << "step " << step << " n " << n << " stepY " << stepY;
        }
      }
    }
  }
}

TEST(ScaleDsp, VerticalMatchesReference) {
  imageproc::ScaleDsp ref{};
  imageproc::init_scale_dsp(ref, 0);
  for (ptrdiff_t n = 0; n <= 100; ++n) {
    for (int fy = 0; fy < 8; ++fy) {
      std::vector<uint16_t> top(size_t(n) + 1), bottom(size_t(n) + 1);
      for (size_t j = 0; j <= size_t(n); ++j) {
        // Random sums, and the largest (8 x 255) every fifth column.
        top[j] = j % 5 == 0 ? 2040 : static_cast<uint16_t>(Rng()() % 2041);
        bottom[j] = j % 5 == 1 ? 2040 : static_cast<uint16_t>(Rng()() % 2041);
      }
      Padded<uint8_t> a(size_t(n), 0xA5);
      ref.vertical(a.Data(), top.data() + 1, bottom.data() + 1, fy, n);
      ASSERT_TRUE(a.PaddingIntact());
      for (size_t j = 0; j < size_t(n); ++j) ASSERT_EQ(a[j], ((8 - fy) * top[j + 1] + fy * bottom[j + 1]) >> 6);
      for (const SimdVariant& variant : kVerticalVariants) {
        if ((ov::GetCpuFlags() & variant.flags) != variant.flags) continue;
        imageproc::ScaleDsp simd{};
        imageproc::init_scale_dsp(simd, variant.flags);
        ASSERT_NE(simd.vertical, ref.vertical) << variant.name;
        Padded<uint8_t> b(size_t(n) + 1, 0x5A);
        simd.vertical(b.Data() + 1, top.data() + 1, bottom.data() + 1, fy, n);
        ASSERT_TRUE(b.PaddingIntact() && b[0] == 0x5A) << variant.name << " n " << n;
        for (size_t j = 0; j < size_t(n); ++j)
          ASSERT_EQ(b[j + 1], a[j]) << variant.name << " n " << n << " fy " << fy << " column " << j;
      }
    }
  }
  for (const SimdVariant& variant : kVerticalVariants) {
    if ((ov::GetCpuFlags() & variant.flags) != variant.flags) GTEST_SKIP() << variant.name << " is not supported";
  }
}

// Splitting RGB565 words into their fields and joining them again, for every
// length across the vector widths, at odd addresses, into padded outputs.
TEST(ScaleDsp, Rgb565FieldsMatchReference) {
  imageproc::ScaleDsp ref{};
  imageproc::init_scale_dsp(ref, 0);
  for (ptrdiff_t n = 0; n <= 50; ++n) {
    std::vector<uint16_t> words(size_t(n) + 1);
    FillRandom(words);
    if (n > 2) words[1] = 0xFFFF, words[2] = 0;
    Padded<uint8_t> r(size_t(n), 0xA5), g(size_t(n), 0xA5), b(size_t(n), 0xA5);
    ref.unpack565(r.Data(), g.Data(), b.Data(), words.data() + 1, n);
    Padded<uint16_t> joined(size_t(n), 0xA5A5);
    ref.pack565(joined.Data(), r.Data(), g.Data(), b.Data(), n);
    ASSERT_TRUE(r.PaddingIntact() && g.PaddingIntact() && b.PaddingIntact() && joined.PaddingIntact());
    ASSERT_EQ(joined.Inner(), std::vector<uint16_t>(words.begin() + 1, words.end()));
    for (size_t j = 0; j < size_t(n); ++j) ASSERT_TRUE(r[j] < 32 && g[j] < 64 && b[j] < 32);
    for (const SimdVariant& variant : kSimdVariants) {
      if ((ov::GetCpuFlags() & variant.flags) != variant.flags) continue;
      imageproc::ScaleDsp simd{};
      imageproc::init_scale_dsp(simd, variant.flags);
      ASSERT_NE(simd.unpack565, ref.unpack565) << variant.name;
      Padded<uint8_t> r2(size_t(n) + 1, 0x5A), g2(size_t(n) + 1, 0x5A), b2(size_t(n) + 1, 0x5A);
      simd.unpack565(r2.Data() + 1, g2.Data() + 1, b2.Data() + 1, words.data() + 1, n);
      ASSERT_TRUE(r2.PaddingIntact() && g2.PaddingIntact() && b2.PaddingIntact() && r2[0] == 0x5A);
      for (size_t j = 0; j < size_t(n); ++j) ASSERT_TRUE(r2[j + 1] == r[j] && g2[j + 1] == g[j] && b2[j + 1] == b[j]);
      // Joining any bytes, not only fields, gives the reference's words.
      std::vector<uint8_t> any(3 * size_t(n) + 1);
      FillRandom(any);
      Padded<uint16_t> x(size_t(n), 0xA5A5), y(size_t(n) + 1, 0x5A5A);
      ref.pack565(x.Data(), any.data() + 1, any.data() + 1 + n, any.data() + 1 + 2 * n, n);
      simd.pack565(y.Data() + 1, any.data() + 1, any.data() + 1 + n, any.data() + 1 + 2 * n, n);
      ASSERT_TRUE(y.PaddingIntact() && y[0] == 0x5A5A);
      for (size_t j = 0; j < size_t(n); ++j) ASSERT_EQ(y[j + 1], x[j]) << variant.name << " n " << n;
    }
  }
}

// The scaler keeps the tap plans and row schedules of recent geometries per
// thread: windows that differ in one thing only (the width of the source
// rows, where the window starts and so how far a row may be read, its first
// and last rows, the output height), scaled in turn and again, each give the
// reference's picture without reading past the planes.
TEST(ScaleDsp, KeptPlansFollowTheGeometry) {
  struct Window {
    int sw, sh, dw, dh, x, y, w, h;
  };
  // Each window right after one it differs from in one thing; the first two
  // differ in the width of the source rows only (a plan made for the wider
  // would read past the narrower's last row, which their taller outputs blend).
  const Window windows[] = {{360, 144, 264, 216, 0, 0, 352, 144},  {352, 144, 264, 216, 0, 0, 352, 144},
                            {352, 288, 264, 216, 80, 0, 272, 288}, {352, 288, 264, 216, 88, 0, 264, 288},
                            {352, 288, 264, 216, 0, 40, 352, 248}, {352, 288, 264, 200, 0, 0, 352, 288},
                            {352, 288, 264, 216, 0, 0, 352, 200},
                            // Rows two apart (4:1): one row lower and one shorter ends on the same last
                            // row with the same step, so only the window's top tells the two apart.
                            {352, 288, 88, 72, 0, 0, 352, 288},    {352, 288, 88, 72, 0, 1, 352, 287}};
  Frame src(360, 288);
  src.Randomize();
  for (int pass = 0; pass < 2; ++pass) {
    for (const Window& c : windows) {
      Frame from(c.sw, c.sh);
      for (int r = 0; r < c.sh; ++r) std::copy_n(src.y.begin() + r * 360, c.sw, from.y.begin() + r * c.sw);
      for (int r = 0; r < c.sh / 2; ++r) {
        std::copy_n(src.u.begin() + r * 180, c.sw / 2, from.u.begin() + r * (c.sw / 2));
        std::copy_n(src.v.begin() + r * 180, c.sw / 2, from.v.begin() + r * (c.sw / 2));
      }
      Frame all(c.dw, c.dh), ref(c.dw, c.dh);
      gScaleCroppedFrame(&from.f, &all.f, c.x, c.y, c.w, c.h);
      ov::SetCpuFlagsMask(0);
      gScaleCroppedFrame(&from.f, &ref.f, c.x, c.y, c.w, c.h);
      ov::SetCpuFlagsMask(~0u);
      EXPECT_EQ(all.y, ref.y) << "pass " << pass << " window at " << c.x << "," << c.y << " of " << c.sw;
      EXPECT_EQ(all.u, ref.u);
      EXPECT_EQ(all.v, ref.v);
    }
  }
}

// Scaling cases for both scalers: downscales at and off 3/4, upscales, ratios
// near 2 and 3, reductions large enough for spread taps and for the plan to be
// refused, windows, odd sizes, one-pixel outputs.
struct ScaleCase {
  int sw, sh, dw, dh, x, y, w, h;
};
const ScaleCase kScaleCases[] = {
    {176, 144, 132, 108, 0, 0, 176, 144}, {640, 480, 480, 360, 0, 0, 640, 480}, {352, 288, 704, 576, 0, 0, 352, 288},
    {176, 144, 352, 288, 0, 0, 176, 144}, {176, 144, 120, 90, 0, 0, 176, 144},  {352, 288, 190, 150, 0, 0, 352, 288},
    {352, 288, 120, 97, 0, 0, 352, 288},  {1280, 72, 60, 10, 0, 0, 1280, 72},    {2400, 16, 8, 4, 0, 0, 2400, 16},
    {3000, 9, 7, 5, 0, 0, 3000, 9},       {99, 37, 47, 101, 3, 5, 90, 30},      {38, 22, 36, 20, 2, 2, 36, 20},
    {640, 480, 34, 30, 0, 0, 640, 480},   {176, 144, 2, 2, 0, 0, 176, 144},     {40, 30, 1, 1, 0, 0, 40, 30},
    {7, 5, 9, 4, 2, 1, 3, 3},             {2, 2, 5, 3, 0, 0, 2, 2}};

TEST(ScaleDsp, ExportsMatchWithTheMaskCleared) {
  for (const ScaleCase& c : kScaleCases) {
    Frame src(c.sw, c.sh);
    src.Randomize();
    Frame all(c.dw, c.dh), ref(c.dw, c.dh);
    gScaleCroppedFrame(&src.f, &all.f, c.x, c.y, c.w, c.h);
    ov::SetCpuFlagsMask(0);
    gScaleCroppedFrame(&src.f, &ref.f, c.x, c.y, c.w, c.h);
    ov::SetCpuFlagsMask(~0u);
    EXPECT_EQ(all.y, ref.y) << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh;
    EXPECT_EQ(all.u, ref.u);
    EXPECT_EQ(all.v, ref.v);
  }
}

// The RGB565 scaler written out per output pixel: Q18 positions from 1, steps
// from the window's size, the lower row pulled back at the window's last row,
// right and lower taps clamped, each field blended in 64ths and truncated,
// the last row and column repeating their neighbours.
std::vector<uint16_t> ModelScaleRgb565(const std::vector<uint16_t>& s, int sw, int sh, int dw, int dh, int x, int y,
                                       int w, int h) {
  const int64_t W = std::min(w, sw - x), H = std::min(h, sh - y);
  const int64_t stepX = (W << 18) / dw, stepY = (H << 18) / dh;
  std::vector<uint16_t> out(size_t(dw) * dh);
  for (int i = 0; i < dh; ++i) {
    const int64_t p = 1 + int64_t{std::min(i, std::max(dh - 2, 0))} * stepY;
    int64_t r = p >> 18;
    if (r == H - 1 && r > 0) --r;
    const int64_t r1 = std::min(r + 1, H - 1);
    const int fy = static_cast<int>((p >> 15) & 7);
    for (int j = 0; j < dw; ++j) {
      const int64_t q = 1 + int64_t{std::min(j, std::max(dw - 2, 0))} * stepX;
      const int64_t c0 = q >> 18, c1 = std::min(c0 + 1, W - 1);
      const int fx = static_cast<int>((q >> 15) & 7);
      const uint16_t a = s[size_t((y + r) * sw + x + c0)], b = s[size_t((y + r) * sw + x + c1)];
      const uint16_t c = s[size_t((y + r1) * sw + x + c0)], d = s[size_t((y + r1) * sw + x + c1)];
      auto blend = [&](int shift, int mask) {
        const int v = (8 - fx) * (8 - fy) * ((a >> shift) & mask) + fx * (8 - fy) * ((b >> shift) & mask) +
                      (8 - fx) * fy * ((c >> shift) & mask) + fx * fy * ((d >> shift) & mask);
        return v >> 6;
      };
      out[size_t(i) * dw + j] = static_cast<uint16_t>((blend(11, 31) << 11) | (blend(5, 63) << 5) | blend(0, 31));
    }
  }
  return out;
}

// Both ways of the CPU mask against the model.
TEST(ScaleDsp, Rgb565ScalerMatchesTheModel) {
  for (const ScaleCase& c : kScaleCases) {
    std::vector<uint16_t> src(size_t(c.sw) * c.sh);
    FillRandom(src);
    const std::vector<uint16_t> model = ModelScaleRgb565(src, c.sw, c.sh, c.dw, c.dh, c.x, c.y, c.w, c.h);
    for (uint32_t mask : {~0u, 0u}) {
      ov::SetCpuFlagsMask(mask);
      std::vector<uint16_t> out(model.size());
      gScaleRGB565CroppedFrame(src.data(), out.data(), c.sw, c.sh, c.dw, c.dh, c.x, c.y, c.w, c.h);
      ov::SetCpuFlagsMask(~0u);
      EXPECT_EQ(out, model) << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " mask " << mask;
    }
  }
}

// The RGB565 scaler keeps the tap plans of recent runs per thread: geometries
// scaled in turn and again, among them one whose two runs of columns are
// equally long and one whose taps no plan holds, each give the model's
// picture.
TEST(ScaleDsp, Rgb565KeptPlansFollowTheGeometry) {
  const ScaleCase cases[] = {{700, 20, 513, 9, 0, 0, 700, 20}, {2400, 16, 8, 4, 0, 0, 2400, 16},
                             {176, 144, 132, 108, 0, 0, 176, 144}};
  for (int pass = 0; pass < 3; ++pass) {
    for (const ScaleCase& c : cases) {
      std::vector<uint16_t> src(size_t(c.sw) * c.sh);
      FillRandom(src);
      std::vector<uint16_t> out(size_t(c.dw) * c.dh);
      gScaleRGB565CroppedFrame(src.data(), out.data(), c.sw, c.sh, c.dw, c.dh, c.x, c.y, c.w, c.h);
      EXPECT_EQ(out, ModelScaleRgb565(src, c.sw, c.sh, c.dw, c.dh, c.x, c.y, c.w, c.h))
          << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " pass " << pass;
    }
  }
}

}  // namespace
}  // namespace iptest
