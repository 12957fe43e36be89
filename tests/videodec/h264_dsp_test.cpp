// The H.264 pixel kernels against the standard's formulas written out sample
// by sample: quarter-sample luma interpolation by the sample names of ITU-T
// H.264 8.4.2.2.1 and Table 8-12, eighth-sample chroma interpolation
// (8.4.2.2.2) and the 4x4 inverse transform (8.5.12). Every variant the CPU
// supports is checked, into padded buffers whose canaries must survive; the
// variants are then held equal to the C++ references on random and extreme
// blocks, the loop-filter edges included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/videodec/h264/h264_dsp.h"
#include "platform/cpu/cpu.h"

namespace {



constexpr uint32_t kSeed = 20264;

int Clip1(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// A reference picture area with margins, read at integer sample positions.
struct Area {
  int stride;
  std::vector<uint8_t> px;
  int At(int x, int y) const { return px[size_t((y + 3) * stride + x + 3)]; }
};

int Tap(int e, int f, int g, int h, int i, int j) { return e - 5 * f + 20 * g + 20 * h - 5 * i + j; }
int B1(const Area& a, int x, int y) {
  return Tap(a.At(x - 2, y), a.At(x - 1, y), a.At(x, y), a.At(x + 1, y), a.At(x + 2, y), a.At(x + 3, y));
}
int H1(const Area& a, int x, int y) {
  return Tap(a.At(x, y - 2), a.At(x, y - 1), a.At(x, y), a.At(x, y + 1), a.At(x, y + 2), a.At(x, y + 3));
}

// Table 8-12: the sample at quarter position (fx, fy) of integer sample (x, y).
int LumaSample(const Area& a, int x, int y, int fx, int fy) {
  const int G = a.At(x, y), H = a.At(x + 1, y), M = a.At(x, y + 1);
  const int b = Clip1((B1(a, x, y) + 16) >> 5);
  const int h = Clip1((H1(a, x, y) + 16) >> 5);
  const int m = Clip1((H1(a, x + 1, y) + 16) >> 5);
  const int s = Clip1((B1(a, x, y + 1) + 16) >> 5);
  const int j1 = Tap(H1(a, x - 2, y), H1(a, x - 1, y), H1(a, x, y), H1(a, x + 1, y), H1(a, x + 2, y), H1(a, x + 3, y));
  const int j = Clip1((j1 + 512) >> 10);
  auto avg = [](int p, int q) { return (p + q + 1) >> 1; };
  switch (fy * 4 + fx) {
    case 0: return G;
    case 1: return avg(G, b);   // a
    case 2: return b;
    case 3: return avg(H, b);   // c
    case 4: return avg(G, h);   // d
    case 5: return avg(b, h);   // e
    case 6: return avg(b, j);   // f
    case 7: return avg(b, m);   // g
    case 8: return h;
    case 9: return avg(h, j);   // i
    case 10: return j;
    case 11: return avg(j, m);  // k
    case 12: return avg(M, h);  // n
    case 13: return avg(h, s);  // p
    case 14: return avg(j, s);  // q
    default: return avg(m, s);  // r
  }
}

struct Variant {
  const char* name;
  uint32_t mask;
};

class H264DspKernels : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    ov::SetCpuFlagsMask(GetParam().mask);
    videodec::h264::init_h264_dsp(dsp_, ov::GetCpuFlags());
  }
  void TearDown() override { ov::SetCpuFlagsMask(~0u); }
  videodec::h264::H264Dsp dsp_{};
};

TEST_P(H264DspKernels, LumaInterpolationFollowsTable8_12) {
  std::printf("seed %u\n", kSeed);
  std::mt19937 rng(kSeed);
  const int sizes[][2] = {{16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}};
  for (int pattern = 0; pattern < 3; ++pattern) {
    Area a{16 + 8, std::vector<uint8_t>(size_t(24 * 24))};
    for (uint8_t& p : a.px) {
      if (pattern == 0) p = uint8_t(rng());
      else if (pattern == 1) p = (rng() & 1) ? 255 : 0;  // extremes: clipping of every stage
      else p = uint8_t(200 + (rng() & 55));
    }
    for (const auto& sz : sizes)
      for (int fy = 0; fy < 4; ++fy)
        for (int fx = 0; fx < 4; ++fx) {
          const int w = sz[0], h = sz[1];
          std::vector<uint8_t> dst(size_t(20 * 18), 0xA5);
          uint8_t* d = dst.data() + 20 + 2;  // a canary row above and columns left
          dsp_.luma_mc(d, 20, a.px.data() + 3 * a.stride + 3, a.stride, w, h, fx, fy);
          for (int y = -1; y < 17; ++y)
            for (int x = -2; x < 18; ++x) {
              const uint8_t got = d[y * 20 + x];
              if (x >= 0 && y >= 0 && x < w && y < h)
                ASSERT_EQ(got, LumaSample(a, x, y, fx, fy))
                    << w << "x" << h << " phase " << fx << "," << fy << " at " << x << "," << y;
              else
                ASSERT_EQ(got, 0xA5) << "write outside the block at " << x << "," << y;
            }
        }
  }
}

TEST_P(H264DspKernels, ChromaInterpolationFollows8_4_2_2_2) {
  std::mt19937 rng(kSeed + 1);
  std::vector<uint8_t> src(size_t(12 * 12));
  for (uint8_t& p : src) p = uint8_t(rng());
  for (int size : {2, 4, 8})
    for (int fy = 0; fy < 8; ++fy)
      for (int fx = 0; fx < 8; ++fx) {
        std::vector<uint8_t> dst(size_t(10 * 10), 0x5A);
        dsp_.chroma_mc(dst.data(), 10, src.data(), 12, size, size, fx, fy);
        for (int y = 0; y < 10; ++y)
          for (int x = 0; x < 10; ++x) {
            if (x >= size || y >= size) {
              ASSERT_EQ(dst[size_t(y * 10 + x)], 0x5A);
              continue;
            }
            const int A = src[size_t(y * 12 + x)], B = src[size_t(y * 12 + x + 1)];
            const int C = src[size_t((y + 1) * 12 + x)], D = src[size_t((y + 1) * 12 + x + 1)];
            const int want = ((8 - fx) * (8 - fy) * A + fx * (8 - fy) * B + (8 - fx) * fy * C + fx * fy * D + 32) >> 6;
            ASSERT_EQ(dst[size_t(y * 10 + x)], want) << size << " phase " << fx << "," << fy;
          }
      }
}

// 8.5.12.2: f = rows of the coefficients through the core transform, then
// columns, r = (h + 32) >> 6 added to the prediction and clipped.
TEST_P(H264DspKernels, InverseTransformFollows8_5_12) {
  std::mt19937 rng(kSeed + 2);
  for (int trial = 0; trial < 500; ++trial) {
    int16_t c[16];
    const int range = trial < 250 ? 64 : 4096;
    for (int16_t& v : c) v = int16_t(int(rng() % uint32_t(2 * range + 1)) - range);
    if (trial % 5 == 0)
      for (int i = 3; i < 16; ++i) c[i] = 0;  // sparse blocks
    uint8_t pred[16];
    for (uint8_t& p : pred) p = uint8_t(rng());
    int e[16], f[16], g[16], h[16];
    for (int i = 0; i < 4; ++i) {
      e[i * 4 + 0] = c[i * 4 + 0] + c[i * 4 + 2];
      e[i * 4 + 1] = c[i * 4 + 0] - c[i * 4 + 2];
      e[i * 4 + 2] = (c[i * 4 + 1] >> 1) - c[i * 4 + 3];
      e[i * 4 + 3] = c[i * 4 + 1] + (c[i * 4 + 3] >> 1);
      f[i * 4 + 0] = e[i * 4 + 0] + e[i * 4 + 3];
      f[i * 4 + 1] = e[i * 4 + 1] + e[i * 4 + 2];
      f[i * 4 + 2] = e[i * 4 + 1] - e[i * 4 + 2];
      f[i * 4 + 3] = e[i * 4 + 0] - e[i * 4 + 3];
    }
    for (int j = 0; j < 4; ++j) {
      g[0 + j] = f[0 + j] + f[8 + j];
      g[4 + j] = f[0 + j] - f[8 + j];
      g[8 + j] = (f[4 + j] >> 1) - f[12 + j];
      g[12 + j] = f[4 + j] + (f[12 + j] >> 1);
      h[0 + j] = g[0 + j] + g[12 + j];
      h[4 + j] = g[4 + j] + g[8 + j];
      h[8 + j] = g[4 + j] - g[8 + j];
      h[12 + j] = g[0 + j] - g[12 + j];
    }
    std::vector<uint8_t> dst(size_t(8 * 6), 0x33);
    uint8_t* d = dst.data() + 8 + 2;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) d[y * 8 + x] = pred[y * 4 + x];
    dsp_.idct4x4_add(d, 8, c);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(c[i], 0) << "coefficients are cleared";
    for (int y = -1; y < 5; ++y)
      for (int x = -2; x < 6; ++x) {
        if (x >= 0 && y >= 0 && x < 4 && y < 4)
          ASSERT_EQ(d[y * 8 + x], Clip1(pred[y * 4 + x] + ((h[y * 4 + x] + 32) >> 6))) << "trial " << trial;
        else
          ASSERT_EQ(d[y * 8 + x], 0x33);
      }
  }
}

// The variants against the C++ references, block by block.
class H264DspEquality : public H264DspKernels {
 protected:
  void SetUp() override {
    H264DspKernels::SetUp();
    videodec::h264::init_h264_dsp(ref_, 0);
  }
  videodec::h264::H264Dsp ref_{};
};

// Interpolation from a source buffer exactly as large as the block and the
// margins it may read (odd strides: each row ends where the next begins), so
// that the address sanitizer catches any load beyond them; the destination
// sits at an odd offset among canaries.
TEST_P(H264DspEquality, InterpolationReadsOnlyItsMarginsAndMatches) {
  std::mt19937 rng(kSeed + 3);
  const int sizes[][2] = {{16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}};
  for (int pattern = 0; pattern < 3; ++pattern)
    for (const auto& sz : sizes) {
      const int w = sz[0], h = sz[1];
      const int ls = w + 5;  // luma: 2 samples left and above, 3 right and below
      std::vector<uint8_t> luma(size_t(ls * (h + 5)));
      for (uint8_t& v : luma)
        v = pattern == 0 ? uint8_t(rng()) : pattern == 1 ? ((rng() & 1) ? 255 : 0) : uint8_t(250 + rng() % 6);
      for (int fy = 0; fy < 4; ++fy)
        for (int fx = 0; fx < 4; ++fx) {
          std::vector<uint8_t> got(size_t(21 * 19), 0xA5), want(got);
          dsp_.luma_mc(got.data() + 21 + 3, 21, luma.data() + 2 * ls + 2, ls, w, h, fx, fy);
          ref_.luma_mc(want.data() + 21 + 3, 21, luma.data() + 2 * ls + 2, ls, w, h, fx, fy);
          ASSERT_EQ(got, want) << "luma " << w << "x" << h << " phase " << fx << "," << fy;
        }
      const int cw = w / 2, ch = h / 2, cs = cw + 1;  // chroma: one sample right and below
      std::vector<uint8_t> chroma(size_t(cs * (ch + 1)));
      for (uint8_t& v : chroma) v = pattern == 1 ? ((rng() & 1) ? 255 : 0) : uint8_t(rng());
      for (int fy = 0; fy < 8; ++fy)
        for (int fx = 0; fx < 8; ++fx) {
          std::vector<uint8_t> got(size_t(11 * 11), 0x5A), want(got);
          dsp_.chroma_mc(got.data() + 11 + 1, 11, chroma.data(), cs, cw, ch, fx, fy);
          ref_.chroma_mc(want.data() + 11 + 1, 11, chroma.data(), cs, cw, ch, fx, fy);
          ASSERT_EQ(got, want) << "chroma " << cw << "x" << ch << " phase " << fx << "," << fy;
          // Both planes at once: the second plane is the first read backwards
          // (a buffer of its own, as large as the reads), into the other half
          // of the destination.
          std::vector<uint8_t> cr(chroma.rbegin(), chroma.rend()), got2(size_t(11 * 22), 0x5A), want2(got2);
          dsp_.chroma_mc2(got2.data() + 11 + 1, got2.data() + 11 * 12 + 1, 11, chroma.data(), cr.data(), cs, cw, ch,
                          fx, fy);
          ref_.chroma_mc(want2.data() + 11 + 1, 11, chroma.data(), cs, cw, ch, fx, fy);
          ref_.chroma_mc(want2.data() + 11 * 12 + 1, 11, cr.data(), cs, cw, ch, fx, fy);
          ASSERT_EQ(got2, want2) << "chroma pair " << cw << "x" << ch << " phase " << fx << "," << fy;
        }
    }
}

// Coefficients over the whole 16-bit range, DC-only blocks among them.
TEST_P(H264DspEquality, InverseTransformMatchesOnExtremeBlocks) {
  std::mt19937 rng(kSeed + 4);
  for (int trial = 0; trial < 2000; ++trial) {
    int16_t c[16], c_ref[16];
    for (int16_t& v : c) {
      switch (trial % 4) {
        case 0: v = int16_t(rng()); break;
        case 1: v = (rng() & 1) ? 32767 : -32768; break;
        case 2: v = int16_t(int(rng() % 129) - 64); break;
        default: v = 0; break;
      }
    }
    if (trial % 4 == 3) c[0] = int16_t(rng());  // DC only
    std::memcpy(c_ref, c, sizeof(c));
    std::vector<uint8_t> got(size_t(7 * 6)), want;
    for (uint8_t& v : got) v = (rng() & 3) == 0 ? 255 : uint8_t(rng());
    want = got;
    dsp_.idct4x4_add(got.data() + 7 + 1, 7, c);
    ref_.idct4x4_add(want.data() + 7 + 1, 7, c_ref);
    ASSERT_EQ(got, want) << "trial " << trial;
    for (int i = 0; i < 16; ++i) ASSERT_EQ(c[i], 0) << "coefficients are cleared";
  }
}

// Two blocks side by side in one call, each against the reference's single
// block, every mix of sparse, dense, DC-only and empty blocks.
TEST_P(H264DspEquality, InverseTransformOfTwoBlocksMatches) {
  std::mt19937 rng(kSeed + 7);
  for (int trial = 0; trial < 2000; ++trial) {
    int16_t c[32], c_ref[32];
    for (int b = 0; b < 2; ++b) {
      const int kind = (trial >> (2 * b)) % 4;
      for (int i = 0; i < 16; ++i) {
        int16_t& v = c[b * 16 + i];
        switch (kind) {
          case 0: v = int16_t(rng()); break;
          case 1: v = (rng() & 1) ? 32767 : -32768; break;
          case 2: v = i == 0 ? int16_t(rng()) : 0; break;  // DC only
          default: v = int16_t(int(rng() % 129) - 64); break;
        }
      }
    }
    std::memcpy(c_ref, c, sizeof(c));
    std::vector<uint8_t> got(size_t(11 * 6)), want;
    for (uint8_t& v : got) v = (rng() & 3) == 0 ? 255 : uint8_t(rng());
    want = got;
    dsp_.idct4x4_add2(got.data() + 11 + 1, 11, c);
    ref_.idct4x4_add(want.data() + 11 + 1, 11, c_ref);
    ref_.idct4x4_add(want.data() + 11 + 5, 11, c_ref + 16);
    ASSERT_EQ(got, want) << "trial " << trial;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(c[i], 0) << "coefficients are cleared";
  }
}

// Strengths of every edge segment of a macroblock against its left and
// upper neighbours: vectors equal, a quarter sample under or at the
// threshold of 4, or at the extremes of 16 bits (whose differences
// leave 16 bits); reference pictures equal or not; coefficients here and
// there; and macroblocks or quadrants with one vector throughout.
TEST_P(H264DspEquality, InterStrengthsMatchTheReference) {
  std::mt19937 rng(kSeed + 8);
  struct Mb {
    uint8_t nnz[16];
    int16_t mv[16][2];
    int8_t ref[4];
    videodec::h264::BlockMotion View() const { return {nnz, mv, ref}; }
  };
  const int16_t kSteps[] = {0, 0, 0, 1, -1, 3, -3, 4, -4, 5, -7};
  for (int trial = 0; trial < 5000; ++trial) {
    Mb mbs[3];
    const int16_t bx = int16_t(int(rng() % 64) - 32), by = int16_t(int(rng() % 64) - 32);
    for (Mb& m : mbs) {
      const int shape = int(rng() % 4);  // 0: one vector, 1: per quadrant, else per block
      for (int b = 0; b < 16; ++b) {
        m.nnz[b] = (rng() % 4) == 0 ? uint8_t(rng() % 17) : 0;
        const int k = shape == 0 ? 0 : shape == 1 ? b / 4 : b;
        const uint32_t h = uint32_t(trial * 64 + k) * 2654435761u;  // the same for blocks sharing k
        m.mv[b][0] = int16_t(bx + kSteps[(h >> 8) % 11]);
        m.mv[b][1] = int16_t(by + kSteps[(h >> 16) % 11]);
        if (trial % 50 == 0) m.mv[b][(h >> 24) & 1] = (h >> 25) & 1 ? 32767 : -32768;
      }
      for (int8_t& r : m.ref) r = int8_t(int(rng() % 8 == 0 ? rng() % 3 : 0) - ((rng() % 16) == 0));
    }
    uint32_t got[2][4], want[2][4];
    dsp_.inter_strengths(mbs[0].View(), mbs[1].View(), mbs[2].View(), got);
    ref_.inter_strengths(mbs[0].View(), mbs[1].View(), mbs[2].View(), want);
    for (int dir = 0; dir < 2; ++dir)
      for (int e = 0; e < 4; ++e)
        ASSERT_EQ(got[dir][e], want[dir][e]) << "trial " << trial << " direction " << dir << " edge " << e;
  }
}

// Loop-filter edges on content that passes the sample tests often (smooth
// with a step at the edge and little noise), on random and on 0/255
// content, every bS mix, thresholds over the whole table range; both
// orientations, luma and chroma. The picture area around the edge is a
// canary: nothing beyond the filtered samples may change.
TEST_P(H264DspEquality, EdgeFiltersMatchTheReference) {
  std::mt19937 rng(kSeed + 5);
  constexpr int kSize = 24, kStride = 27;
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<uint8_t> area(size_t(kStride * kSize));
    const int kind = trial % 4;
    const int base = int(rng() % 256), step_size = int(rng() % 40) - 20, noise = 1 + int(rng() % 8);
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kStride; ++x) {
        int v;
        if (kind == 0 || kind == 1) {  // a step across the edge (vertical or horizontal)
          const bool far_side = (trial & 4) ? y >= 12 : x >= 12;
          v = base + (far_side ? step_size : 0) + int(rng() % uint32_t(noise)) - noise / 2;
        } else if (kind == 2) {
          v = int(rng() & 255);
        } else {
          v = (rng() & 1) ? 255 : 0;
        }
        area[size_t(y * kStride + x)] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    uint8_t bs[4];
    int8_t tc0[4];
    const int mix = int(rng() % 3);
    for (int i = 0; i < 4; ++i) {
      bs[i] = mix == 0 ? 4 : mix == 1 ? uint8_t(rng() % 4) : uint8_t(rng() % 5);
      tc0[i] = int8_t(rng() % 26);
    }
    const int alpha = (rng() % 8) == 0 ? 0 : int(rng() % 256), beta = (rng() % 8) == 0 ? 0 : 2 + int(rng() % 17);
    const bool vertical_edge = (trial & 4) == 0;
    const bool chroma = (trial & 8) != 0;
    const ptrdiff_t step = vertical_edge ? 1 : kStride, along = vertical_edge ? kStride : 1;
    std::vector<uint8_t> want = area;
    const size_t at = size_t(4 * kStride + 12);  // first q0 sample: column 12 or row 12
    const size_t at_h = size_t(12 * kStride + 4);
    const size_t origin = vertical_edge ? at : at_h;
    if (chroma && (trial & 16)) {
      // Both planes in one call: the second plane is the area's other half.
      const size_t cr = size_t(kStride * kSize / 2) + (vertical_edge ? 0 : 4);
      const size_t o = vertical_edge ? at - 2 * kStride : size_t(4 * kStride + 4);
      dsp_.chroma_edges(area.data() + o, area.data() + o + cr, step, along, alpha, beta, bs, tc0);
      ref_.chroma_edges(want.data() + o, want.data() + o + cr, step, along, alpha, beta, bs, tc0);
    } else if (chroma) {
      dsp_.chroma_edge(area.data() + origin, step, along, 8, alpha, beta, bs, tc0);
      ref_.chroma_edge(want.data() + origin, step, along, 8, alpha, beta, bs, tc0);
    } else {
      dsp_.luma_edge(area.data() + origin, step, along, 16, alpha, beta, bs, tc0);
      ref_.luma_edge(want.data() + origin, step, along, 16, alpha, beta, bs, tc0);
    }
    ASSERT_EQ(area, want) << "trial " << trial << (chroma ? " chroma" : " luma")
                          << (vertical_edge ? " vertical" : " horizontal") << " alpha " << alpha << " beta " << beta;
  }
}

// The four vertical luma edges of a macroblock in one call, each edge on or
// off, with its own thresholds and bS, on smooth content with steps at the
// edges (so that consecutive edges filter samples the one before changed),
// random and 0/255 content. Nothing outside columns -3 .. 14 may change, and
// nothing left of the block when edge 0 is off.
TEST_P(H264DspEquality, ColumnEdgesOfAMacroblockMatchTheReference) {
  std::mt19937 rng(kSeed + 6);
  constexpr int kRows = 20, kStride = 35, kLeft = 10;  // the block at row 2, column kLeft
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<uint8_t> area(size_t(kStride * kRows));
    const int kind = trial % 3;
    const int base = int(rng() % 256), noise = 1 + int(rng() % 6);
    for (int y = 0; y < kRows; ++y)
      for (int x = 0; x < kStride; ++x) {
        int v;
        if (kind == 0) v = base + ((x - kLeft + 16) / 4) * (int(trial % 7) - 3) * 3 + int(rng() % uint32_t(noise));
        else if (kind == 1) v = int(rng() & 255);
        else v = (rng() & 1) ? 255 : 0;
        area[size_t(y * kStride + x)] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    videodec::h264::LumaColumnEdges edges{};
    edges.on = uint32_t(rng() % 16);
    for (int e = 0; e < 4; ++e) {
      const bool intra = (rng() % 3) == 0;
      for (int i = 0; i < 4; ++i) {
        edges.bs[e][i] = intra ? (e == 0 ? 4 : 3) : uint8_t(rng() % 3);
        edges.tc0[e][i] = int8_t(rng() % 14);
      }
      edges.alpha[e] = 1 + int(rng() % 255);
      edges.beta[e] = 1 + int(rng() % 18);
    }
    std::vector<uint8_t> want = area;
    const size_t origin = size_t(2 * kStride + kLeft);
    dsp_.luma_column_edges(area.data() + origin, kStride, edges);
    ref_.luma_column_edges(want.data() + origin, kStride, edges);
    ASSERT_EQ(area, want) << "trial " << trial << " edges " << edges.on;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, H264DspEquality,
                         ::testing::Values(Variant{"Sse2", ov::kCpuSse2}, Variant{"Simd", ~0u}),
                         [](const ::testing::TestParamInfo<Variant>& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(Variants, H264DspKernels,
                         ::testing::Values(Variant{"Reference", 0u}, Variant{"Sse2", ov::kCpuSse2}, Variant{"Simd", ~0u}),
                         [](const ::testing::TestParamInfo<Variant>& p) { return std::string(p.param.name); });

}  // namespace
