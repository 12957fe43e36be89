// Block-matching and compensation kernels ("motion" family) against direct
// formulas and worked values, motion compensation's chroma vector rounding,
// the vector predictors, and the motion search on shifted pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoders/common/encoder_frame.h"
#include "encoders/common/motion_comp.h"
#include "encoders/common/motion_dsp.h"
#include "encoders/common/motion_search.h"
#include "encoders/common/mv_prediction.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

constexpr uint32_t kSeed = 20261209;

// Direct formula: 2 x the checkerboard sum of |pred - cur|, pred by the half bits.
uint32_t DirectCost(const uint8_t* cur, const uint8_t* ref, ptrdiff_t s, int hx, int hy) {
  uint32_t sum = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) {
      if ((i + j) & 1) continue;
      const uint8_t* p = ref + j * s + i;
      int pred = p[0];
      if (hx && hy) {
        pred = (p[0] + p[1] + p[s] + p[s + 1] + 2) >> 2;
      } else if (hx) {
        pred = (p[0] + p[1] + 1) >> 1;
      } else if (hy) {
        pred = (p[0] + p[s] + 1) >> 1;
      }
      sum += static_cast<uint32_t>(std::abs(pred - cur[j * s + i]));
    }
  return 2 * sum;
}

class MotionDspTest : public ::testing::Test {
 protected:
  void SetUp() override { init_motion_dsp(dsp_, 0); }
  MotionDsp dsp_{};
};

TEST_F(MotionDspTest, CostsMatchTheDirectFormulaAtOddOffsets) {
  std::mt19937 rng(kSeed);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);
  const ptrdiff_t s = 67;  // odd stride: every row starts at another alignment
  std::vector<uint8_t> cur(s * 40), ref(s * 40);
  for (int trial = 0; trial < 50; ++trial) {
    for (auto& v : cur) v = static_cast<uint8_t>(rng());
    for (auto& v : ref) v = static_cast<uint8_t>(trial % 5 == 0 ? (rng() & 1) * 255 : rng());
    const uint8_t* c = cur.data() + 1 + rng() % 17 + (rng() % 7) * s;
    const uint8_t* refs[4];
    uint32_t expect[4];
    for (int k = 0; k < 4; ++k) {
      refs[k] = ref.data() + 1 + rng() % 33 + (rng() % 9) * s;
      expect[k] = DirectCost(c, refs[k], s, 0, 0);
    }
    EXPECT_EQ(dsp_.sad16(c, refs[0], s), expect[0]);
    for (int n = 1; n <= 4; ++n) {
      uint32_t got[4] = {};
      dsp_.sad16xn(c, refs, n, s, got);
      for (int k = 0; k < n; ++k) EXPECT_EQ(got[k], expect[k]) << "n " << n << " k " << k;
    }
    EXPECT_EQ(dsp_.sadHalfH(c, refs[1], s), DirectCost(c, refs[1], s, 1, 0));
    EXPECT_EQ(dsp_.sadHalfV(c, refs[2], s), DirectCost(c, refs[2], s, 0, 1));
    EXPECT_EQ(dsp_.sadHalfHV(c, refs[3], s), DirectCost(c, refs[3], s, 1, 1));
  }
}

TEST_F(MotionDspTest, WorkedCosts) {
  const ptrdiff_t s = 16;
  uint8_t cur[256], ref[256];
  // Equal on the checkerboard, different elsewhere: cost 0.
  for (int i = 0; i < 256; ++i) {
    cur[i] = static_cast<uint8_t>(i);
    ref[i] = ((i / 16 + i % 16) & 1) ? 0 : cur[i];
  }
  EXPECT_EQ(dsp_.sad16(cur, ref, s), 0u);
  ref[0] = static_cast<uint8_t>(cur[0] + 1);
  EXPECT_EQ(dsp_.sad16(cur, ref, s), 2u);
  // Flat block: intra cost 0; half 0 and half 255 on the checkerboard: mean
  // 127, cost 2 x (64 x 127 + 64 x 128).
  std::memset(cur, 90, sizeof cur);
  EXPECT_EQ(dsp_.intraDeviation16(cur, s), 0u);
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) cur[16 * j + i] = j < 8 ? 0 : 255;
  EXPECT_EQ(dsp_.intraDeviation16(cur, s), 32640u);
}

TEST_F(MotionDspTest, PredictionKernelsWriteThePredictionAndTheResidual) {
  std::mt19937 rng(kSeed + 1);
  const ptrdiff_t s = 29;
  std::vector<uint8_t> ref(s * 12), cur(s * 12);
  for (int mode = 0; mode < 4; ++mode) {
    for (auto& v : ref) v = static_cast<uint8_t>(rng());
    for (auto& v : cur) v = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> src = cur;
    int16_t residual[64];
    const int32_t sad = dsp_.predict[mode](ref.data() + 3, cur.data() + 5, residual, s);
    int32_t expectSad = 0;
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) {
        const uint8_t* p = ref.data() + 3 + j * s + i;
        const int a = p[0], b = p[1], c = p[s], d = p[s + 1];
        const int pred = mode == 0 ? a : mode == 1 ? (a + b + 1) >> 1 : mode == 2 ? (a + c + 1) >> 1
                                                                       : (a + b + c + d + 2) >> 2;
        const int at = 5 + j * s + i;
        EXPECT_EQ(cur[at], pred);
        EXPECT_EQ(residual[8 * j + i], src[at] - pred);
        expectSad += std::abs(src[at] - pred);
      }
    EXPECT_EQ(sad, expectSad) << "mode " << mode;
    // Nothing outside the 8x8 block changes.
    for (size_t k = 0; k < cur.size(); ++k) {
      const int dx = static_cast<int>((k - 5) % s), dy = static_cast<int>((k - 5) / s);
      if (k < 5 || dx >= 8 || dy >= 8) {
        EXPECT_EQ(cur[k], src[k]);
      }
    }
  }
}

// Each instruction-set level of the variants, lowest first.
struct Level {
  const char* name;
  uint32_t flags;
};
const Level kLevels[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};

class MotionDspVariantTest : public ::testing::TestWithParam<Level> {
 protected:
  void SetUp() override {
    const uint32_t flags = GetParam().flags;
    if ((ov::GetCpuFlags() & flags) != flags) GTEST_SKIP() << GetParam().name << " is not supported here";
    init_motion_dsp(ref, 0);
    init_motion_dsp(simd, flags);
  }
  MotionDsp ref{}, simd{};
};

INSTANTIATE_TEST_SUITE_P(Levels, MotionDspVariantTest, ::testing::ValuesIn(kLevels),
                         [](const ::testing::TestParamInfo<Level>& p) { return std::string(p.param.name); });

// Every variant against the reference, on random and extreme blocks at odd
// offsets and strides.
TEST_P(MotionDspVariantTest, VariantsEqualTheReference) {
  std::mt19937 rng(kSeed + 2);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed + 2);
  for (const ptrdiff_t s : {ptrdiff_t{37}, ptrdiff_t{53}, ptrdiff_t{200}}) {
    std::vector<uint8_t> cur(static_cast<size_t>(s * 40)), refPlane(static_cast<size_t>(s * 40));
    for (int trial = 0; trial < 60; ++trial) {
      const int pattern = trial % 3;
      for (auto& v : cur) v = static_cast<uint8_t>(pattern == 0 ? rng() : (rng() & 1) * 255);
      for (auto& v : refPlane) v = static_cast<uint8_t>(pattern == 2 ? 255 - (rng() & 1) * 255 : rng());
      const uint8_t* c = cur.data() + 1 + rng() % 19 + (rng() % 5) * s;
      const uint8_t* refs[4];
      for (auto& r : refs) r = refPlane.data() + 1 + rng() % 19 + (rng() % 9) * s;
      EXPECT_EQ(simd.sad16(c, refs[0], s), ref.sad16(c, refs[0], s));
      EXPECT_EQ(simd.sadHalfH(c, refs[1], s), ref.sadHalfH(c, refs[1], s));
      EXPECT_EQ(simd.sadHalfV(c, refs[2], s), ref.sadHalfV(c, refs[2], s));
      EXPECT_EQ(simd.sadHalfHV(c, refs[3], s), ref.sadHalfHV(c, refs[3], s));
      EXPECT_EQ(simd.intraDeviation16(c, s), ref.intraDeviation16(c, s));
      for (int n = 1; n <= 4; ++n) {
        uint32_t a[4] = {1, 1, 1, 1}, b[4] = {2, 2, 2, 2};
        simd.sad16xn(c, refs, n, s, a);
        ref.sad16xn(c, refs, n, s, b);
        for (int k = 0; k < n; ++k) EXPECT_EQ(a[k], b[k]);
        for (int k = n; k < 4; ++k) EXPECT_EQ(a[k], 1u);  // untouched
      }
    }
  }
}

// The four prediction kernels of every variant against the reference: the
// prediction written over the block and nowhere else, the residual in its 64
// entries of a canaried buffer, and the sum of magnitudes.
TEST_P(MotionDspVariantTest, PredictionVariantsEqualTheReference) {
  std::mt19937 rng(kSeed + 3);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed + 3);
  constexpr int16_t kCanaryRef = 0x5a5a, kCanaryVariant = -0x2525;
  for (const ptrdiff_t s : {ptrdiff_t{9}, ptrdiff_t{37}, ptrdiff_t{176}}) {
    std::vector<uint8_t> refPlane(static_cast<size_t>(s * 12)), cur(static_cast<size_t>(s * 12));
    for (int trial = 0; trial < 80; ++trial) {
      const int pattern = trial % 4;
      for (auto& v : refPlane) v = static_cast<uint8_t>(pattern == 1 ? (rng() & 1) * 255 : rng());
      for (auto& v : cur) v = static_cast<uint8_t>(pattern == 2 ? 255 - (rng() & 1) * 255 : rng());
      if (pattern == 3) std::fill(cur.begin(), cur.end(), uint8_t{255});
      const int mode = trial % 4;
      const size_t at = static_cast<size_t>(rng() % 2 + (rng() % 2) * s);
      const uint8_t* r = refPlane.data() + rng() % 2 + (rng() % 2) * s;
      std::vector<uint8_t> a = cur, b = cur;
      std::vector<int16_t> resA(64 + 16, kCanaryRef), resB(64 + 16, kCanaryVariant);
      const int32_t sadA = ref.predict[mode](r, a.data() + at, resA.data() + 8, s);
      const int32_t sadB = simd.predict[mode](r, b.data() + at, resB.data() + 9, s);
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " stride " << s << " trial " << trial);
      EXPECT_EQ(sadB, sadA);
      EXPECT_EQ(a, b);
      for (int i = 0; i < 64; ++i) ASSERT_EQ(resB[9 + i], resA[8 + i]) << i;
      for (int i = 0; i < 8; ++i) EXPECT_EQ(resB[i], kCanaryVariant);
      for (int i = 73; i < 80; ++i) EXPECT_EQ(resB[i], kCanaryVariant);
      for (size_t k = 0; k < cur.size(); ++k) {
        const size_t dx = (k - at) % static_cast<size_t>(s), dy = (k - at) / static_cast<size_t>(s);
        if (k < at || dx >= 8 || dy >= 8) {
          ASSERT_EQ(b[k], cur[k]) << "written outside the block at " << k;
        }
      }
    }
  }
}

TEST(MotionCompTest, ChromaVectorRounding) {
  struct Case {
    int luma, chroma;
  } cases[] = {{1, 1}, {-3, -1}, {2, 1}, {4, 2}, {0, 0}, {-1, -1}, {3, 1}, {-4, -2}, {5, 3}, {6, 3}, {7, 3}};
  for (const Case& c : cases) EXPECT_EQ(ChromaVectorComponent(4 * c.luma), c.chroma) << "luma " << c.luma;
}

TEST(MotionCompTest, ExactPredictionLeavesTheFrameAndZeroResidual) {
  MotionDsp dsp{};
  init_motion_dsp(dsp, 0);
  const int w = 32, h = 32;
  std::vector<uint8_t> a(FrameBlockBytes(w, h)), b(FrameBlockBytes(w, h));
  EncoderFrame ref{}, cur{};
  BindFrame(ref, a.data(), w, h);
  BindFrame(cur, b.data(), w, h);
  std::mt19937 rng(kSeed);
  for (auto& v : a) v = static_cast<uint8_t>(rng());
  PadFrame(ref);
  // The current picture is the reference moved by (+2, -1) full pixels.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) cur.lumaOrigin()[y * cur.lumaStride() + x] =
        ref.lumaOrigin()[(y - 1) * ref.lumaStride() + x + 2];
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      cur.uOrigin()[y * cur.chromaStride() + x] = ref.uOrigin()[y * ref.chromaStride() + x + 1];
      cur.vOrigin()[y * cur.chromaStride() + x] = ref.vOrigin()[y * ref.chromaStride() + x + 1];
    }
  MacroblockInfo mb{};
  mb.inter = 1;
  for (auto& v : mb.vectors) v = MotionVector{4, 0};
  // Chroma moved by one pixel: luma vector (4, 0) gives chroma (2, 0).
  std::vector<uint8_t> before = b;
  int16_t blocks[6 * 64];
  int32_t sad[6];
  CompensateMacroblock(dsp, ref, cur, 16, 16, mb, blocks, sad);
  EXPECT_EQ(sad[4], 0);
  EXPECT_EQ(sad[5], 0);
  for (auto& v : mb.vectors) v = MotionVector{4, -2};
  CompensateMacroblock(dsp, ref, cur, 0, 16, mb, blocks, sad);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(sad[k], 0) << "block " << k;
  for (int i = 0; i < 4 * 64; ++i) ASSERT_EQ(blocks[i], 0);
  // Luma of the compensated macroblocks is unchanged.
  for (int y = 16; y < 32; ++y)
    for (int x = 0; x < 16; ++x) {
      const ptrdiff_t at = (y + 8) * cur.lumaStride() + x + 8;
      EXPECT_EQ(b[static_cast<size_t>(at)], before[static_cast<size_t>(at)]);
    }
}

TEST(MvPredictionTest, Candidates) {
  const int perRow = 3;
  MacroblockInfo mbs[6] = {};
  auto set = [&](int i, int x, int y) {
    for (auto& v : mbs[i].vectors) v = MotionVector{static_cast<int16_t>(x), static_cast<int16_t>(y)};
  };
  // Row 0: (2, 4), (6, -2), (4, 8); row 1 asks.
  set(0, 2, 4);
  set(1, 6, -2);
  set(2, 4, 8);
  set(3, 2, 4);
  auto pred = [&](int i) { return PredictVector(mbs, kWholeMacroblock, i, perRow); };
  EXPECT_EQ(pred(0).x, 0);  // first of its packet
  EXPECT_EQ(pred(1).x, 2);  // top row: the left vector
  EXPECT_EQ(pred(1).y, 4);
  // Macroblock 4: left (2, 4), above (6, -2), above-right (4, 8): (4, 4).
  EXPECT_EQ(pred(4).x, 4);
  EXPECT_EQ(pred(4).y, 4);
  // Last column: median of left, above and zero. Left = mbs[4] (0, 0).
  set(4, 10, 10);
  EXPECT_EQ(pred(5).x, 4);  // median(10, 4, 0)
  EXPECT_EQ(pred(5).y, 8);  // median(10, 8, 0)
  // A new packet at macroblock 4 hides row 0 and the left neighbour.
  mbs[4].packet = 1;
  mbs[5].packet = 1;
  EXPECT_EQ(pred(4).x, 0);
  EXPECT_EQ(pred(5).x, 10);  // only the left neighbour is in the packet
  // Four-vector macroblock: block 3 takes the median of its blocks 0, 1, 2.
  mbs[5].fourVectors = 1;
  mbs[5].vectors[0] = MotionVector{1, 9};
  mbs[5].vectors[1] = MotionVector{5, 3};
  mbs[5].vectors[2] = MotionVector{3, 7};
  const MotionVector b3 = PredictVector(mbs, 3, 5, perRow);
  EXPECT_EQ(b3.x, 3);
  EXPECT_EQ(b3.y, 7);
}

struct SearchFixture {
  static constexpr int kW = 64, kH = 48;
  std::vector<uint8_t> refBlock = std::vector<uint8_t>(FrameBlockBytes(kW, kH));
  std::vector<uint8_t> curBlock = std::vector<uint8_t>(FrameBlockBytes(kW, kH));
  EncoderFrame ref{}, cur{};
  std::vector<VectorFieldEntry> field = std::vector<VectorFieldEntry>(12), prev = std::vector<VectorFieldEntry>(12);
  MotionSearchContext ctx;
  MotionLayout layout;
  MacroblockInfo mbs[12] = {};

  explicit SearchFixture(bool unrestricted) {
    BindFrame(ref, refBlock.data(), kW, kH);
    BindFrame(cur, curBlock.data(), kW, kH);
    init_motion_dsp(ctx.dsp, 0);
    ctx.vectorField = field.data();
    ctx.previousVectorField = prev.data();
    ctx.reference = ref.lumaOrigin();
    ctx.current = cur.lumaOrigin();
    layout.width = kW;
    layout.height = kH;
    layout.mbsPerRow = 4;
    layout.mbRows = 3;
    layout.unrestricted = unrestricted;
  }
  // A smooth texture, the current picture moved by (dx, dy) full pixels.
  void Shift(int dx, int dy) {
    auto tex = [](int x, int y) {
      return static_cast<uint8_t>(128 + 60 * std::sin(x * 0.35) * std::cos(y * 0.27) + ((x * 7 + y * 13) % 9));
    };
    const ptrdiff_t s = ref.lumaStride();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        ref.lumaOrigin()[y * s + x] = tex(x, y);
        cur.lumaOrigin()[y * s + x] = tex(x + dx, y + dy);
      }
    PadPlane(ref.y, kLumaBorder, kW, kH);
  }
};

TEST(MotionSearchTest, FindsAGlobalShiftAndStaysInsideTheWindow) {
  for (const bool unrestricted : {false, true}) {
    SCOPED_TRACE(unrestricted ? "unrestricted" : "restricted");
    SearchFixture f(unrestricted);
    f.Shift(3, -2);
    EstimatePictureMotion(f.ctx, f.layout, f.mbs);
    int found = 0;
    for (int i = 0; i < 12; ++i) {
      const MacroblockInfo& mb = f.mbs[i];
      const int x = 16 * (i % 4), y = 16 * (i / 4);
      if (mb.inter && mb.vectors[0].x == 6 && mb.vectors[0].y == -4) ++found;
      // Every reference block lies inside the picture (restricted) or its
      // 8-pixel border (unrestricted), interpolation included.
      const int edge = unrestricted ? 8 : 0;
      const int left = x + (mb.vectors[0].x >> 1), top = y + (mb.vectors[0].y >> 1);
      EXPECT_GE(left, -edge);
      EXPECT_GE(top, -edge);
      EXPECT_LE(left + 16 + (mb.vectors[0].x & 1), SearchFixture::kW + edge);
      EXPECT_LE(top + 16 + (mb.vectors[0].y & 1), SearchFixture::kH + edge);
      for (int k = 1; k < 4; ++k) EXPECT_EQ(mb.vectors[k].x, mb.vectors[0].x);
    }
    // Interior macroblocks (whose match lies inside the picture) find the shift.
    EXPECT_GE(found, 6);
    EXPECT_EQ(ReduceFCode(f.mbs, 12, 3), 1);
  }
}

TEST(MotionSearchTest, UnchangedPictureKeepsZeroVectors) {
  SearchFixture f(true);
  f.Shift(0, 0);
  EstimatePictureMotion(f.ctx, f.layout, f.mbs);
  for (const MacroblockInfo& mb : f.mbs) {
    EXPECT_EQ(mb.inter, 1);
    EXPECT_EQ(mb.vectors[0].x, 0);
    EXPECT_EQ(mb.vectors[0].y, 0);
    EXPECT_EQ(mb.zeroVectorSad, 0u);
  }
}

// The mode decisions at their edges: the zero vector replaces a best SAD of
// 300 at SAD 311 (below 312) but not at 312 (25 x 12 = 300 is not below 300);
// against a best SAD of 100 the 4 % rule never holds, so the SAD below 312
// decides alone (305 and 311 replace, 312 does not); a best SAD of 1024
// keeps its vector however close the zero vector is; and a deviation plus
// 512 equal to the best SAD stays inter.
TEST(MotionSearchTest, ZeroPreferenceAndIntraDecisionEdges) {
  struct ZeroCase {
    uint32_t best, zero;
    int32_t present;
    bool takesZero;
  } zeroCases[] = {{300, 311, 1, true},   {300, 312, 1, false}, {1023, 1024, 1, true}, {1024, 1025, 1, false},
                   {1024, 1024, 1, false}, {300, 300, 0, false}, {800, 831, 1, true},   {800, 832, 1, false},
                   {100, 305, 1, true},    {100, 311, 1, true},   {100, 312, 1, false}};
  for (const ZeroCase& c : zeroCases) {
    const MotionCandidate best{3, -2, c.best};
    const MotionCandidate got = PreferZeroVector(best, ZeroVectorInfo{c.present, 0, c.zero});
    if (c.takesZero) {
      EXPECT_EQ(got.x, 0) << c.best << " " << c.zero;
      EXPECT_EQ(got.y, 0) << c.best << " " << c.zero;
      EXPECT_EQ(got.sad, c.zero);
    } else {
      EXPECT_EQ(got.x, 3) << c.best << " " << c.zero;
      EXPECT_EQ(got.sad, c.best);
    }
  }
  EXPECT_FALSE(PrefersIntra(100, 612));
  EXPECT_TRUE(PrefersIntra(100, 613));
  EXPECT_FALSE(PrefersIntra(0, 512));
}

TEST(MotionSearchTest, WindowsAndFCode) {
  MotionLayout layout;
  layout.width = 64;
  layout.height = 48;
  SearchWindow w{0, 32, 0, 0, 0, 0};
  SetFullPelWindow(w, layout, 15);
  EXPECT_EQ(w.xMin, 0);
  EXPECT_EQ(w.xMax, 31);
  EXPECT_EQ(w.yMin, 17);
  EXPECT_EQ(w.yMax, 48);
  layout.unrestricted = true;
  SetFullPelWindow(w, layout, 15);
  EXPECT_EQ(w.xMin, -8);
  EXPECT_EQ(w.yMax, 56);
  SetHalfPelWindow(w, layout);
  EXPECT_EQ(w.xMin, -16);
  EXPECT_EQ(w.xMax, 144);
  MacroblockInfo mbs[2] = {};
  mbs[0].inter = 1;
  mbs[0].vectors[0] = MotionVector{31, -32};
  EXPECT_EQ(ReduceFCode(mbs, 2, 2), 1);
  mbs[1].inter = 0;
  mbs[1].vectors[0] = MotionVector{40, 0};  // intra: ignored
  EXPECT_EQ(ReduceFCode(mbs, 2, 2), 1);
  mbs[1].inter = 1;
  EXPECT_EQ(ReduceFCode(mbs, 2, 2), 2);
}

}  // namespace
}  // namespace venc
