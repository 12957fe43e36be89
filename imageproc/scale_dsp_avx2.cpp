// AVX2 row kernels of the bilinear scalers: the same values as the
// references. Horizontally, a group whose taps lie in 16 readable samples is
// fetched with one unaligned load and a byte shuffle, two groups to a 256-bit
// register (a wide pair with one 32-byte load and a lane permute), and
// weighted with pmaddubsw (samples unsigned, weights 0-8); other groups are
// gathered byte by byte. The plan's reads serve every row of a call.
// Vertically, 32 columns a step, the last step ending at the row's end. The
// band kernel below makes both passes at once for the planar scaler, and the
// RGB565 fields are split and joined 32 and 16 words a step.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "imageproc/scale_dsp.h"

namespace imageproc {
namespace {

// Byte by byte, kept out of line so that the common path stays lean.
[[gnu::noinline]] __m128i GatherTaps(const uint8_t* s, const uint8_t* pick) {
  alignas(16) uint8_t taps[16];
  for (int k = 0; k < 16; ++k) taps[k] = s[pick[k]];
  return _mm_load_si128(reinterpret_cast<const __m128i*>(taps));
}

inline __m128i Taps(const uint8_t* src, const TapPlan& plan, int g) {
  const uint8_t* s = src + plan.base[g];
  const __m128i pick = _mm_load_si128(reinterpret_cast<const __m128i*>(plan.pick[g]));
  if (plan.fits[g]) return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), pick);
  return GatherTaps(s, plan.pick[g]);
}

// Groups g and g + 1 of R rows when the pair is wide: one load per row, the
// plan's reads serving every row.
template <int R>
inline void WidePair(uint16_t* const* dst, const uint8_t* const* src, const TapPlan& plan, int g) {
  const ptrdiff_t b0 = plan.base[g];
  const __m256i pick = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.pick[g]));
  const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.weight[g]));
  for (int i = 0; i < R; ++i) {
    // Samples 0-15 from b0 to the low half, 8-23 to the high.
    const __m256i rows =
        _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src[i] + b0)), 0x94);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst[i] + 8 * g), _mm256_maddubs_epi16(_mm256_shuffle_epi8(rows, pick), w));
  }
}

// Groups g and g + 1 of R rows, both groups fetched whole.
template <int R>
inline void PairOfGroups(uint16_t* const* dst, const uint8_t* const* src, const TapPlan& plan, int g) {
  if (plan.wide[g]) return WidePair<R>(dst, src, plan, g);
  // Both bases in one load.
  uint64_t bases;
  std::memcpy(&bases, plan.base + g, sizeof bases);
  const ptrdiff_t b0 = static_cast<int32_t>(bases), b1 = static_cast<int32_t>(bases >> 32);
  const __m256i pick = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.pick[g]));
  const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.weight[g]));
  for (int i = 0; i < R; ++i) {
    const __m256i rows =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src[i] + b0))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[i] + b1)), 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst[i] + 8 * g), _mm256_maddubs_epi16(_mm256_shuffle_epi8(rows, pick), w));
  }
}

template <int R>
void HorizontalRows(uint16_t* const* dstRows, const uint8_t* const* srcRows, const TapPlan& plan) {
  // Local copies, kept in registers: the stores could otherwise alias the
  // callers' arrays.
  uint16_t* dst[R];
  const uint8_t* src[R];
  for (int i = 0; i < R; ++i) {
    dst[i] = dstRows[i];
    src[i] = srcRows[i];
  }
  int g = 0;
  for (; g + 4 <= plan.wideFitting; g += 4) {
    WidePair<R>(dst, src, plan, g);
    WidePair<R>(dst, src, plan, g + 2);
  }
  for (; g + 2 <= plan.fitting; g += 2) PairOfGroups<R>(dst, src, plan, g);
  for (; g + 2 <= plan.groups; g += 2) {
    if (plan.fits[g] & plan.fits[g + 1]) {
      PairOfGroups<R>(dst, src, plan, g);
      continue;
    }
    const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.weight[g]));
    for (int i = 0; i < R; ++i) {
      const __m256i taps =
          _mm256_inserti128_si256(_mm256_castsi128_si256(Taps(src[i], plan, g)), Taps(src[i], plan, g + 1), 1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst[i] + 8 * g), _mm256_maddubs_epi16(taps, w));
    }
  }
  if (g < plan.groups) {
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(plan.weight[g]));
    for (int i = 0; i < R; ++i)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[i] + 8 * g), _mm_maddubs_epi16(Taps(src[i], plan, g), w));
  }
}

// The bands: for each block of 32 output columns, the taps of each of the
// band's source rows are fetched once into registers, and every output row of
// the band is weighted from two of them at once (the weights of BandTaps hold
// both passes) and stored. No blended row goes to memory; the blocks go along
// the rows, so the source rows are read in order. Each group's 16-sample
// window is broadcast into its lane and the two blended: loads, not lane
// permutes, which compete with the byte shuffles.

// Two 16-sample windows, one to a lane.
inline __m256i Windows(const uint8_t* low, const uint8_t* high) {
  return _mm256_blend_epi32(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high))),
                            0xF0);
}

// A source row's taps of pair p, in the order its weights take them.
inline __m256i TapsOf(const uint8_t* row, const BandTaps& t, int p) {
  return _mm256_shuffle_epi8(Windows(row + t.base[p][0], row + t.base[p][1]),
                             _mm256_load_si256(reinterpret_cast<const __m256i*>(t.pick[p])));
}

// The 32 outputs of a block from the taps of its two pairs in the upper and
// the lower row, and the block's weights for each row.
inline __m256i Out32(__m256i top0, __m256i top1, __m256i bottom0, __m256i bottom1, const uint8_t* wUpper,
                     const uint8_t* wLower) {
  auto w = [](const uint8_t* at) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(at)); };
  const __m256i a = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_maddubs_epi16(top0, w(wUpper)), _mm256_maddubs_epi16(bottom0, w(wLower))), 6);
  const __m256i b = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_maddubs_epi16(top1, w(wUpper + 32)), _mm256_maddubs_epi16(bottom1, w(wLower + 32))), 6);
  return _mm256_packus_epi16(a, b);
}

// The same for an output row that takes its upper row alone (fy 0).
inline __m256i Out32Alone(__m256i top0, __m256i top1, const uint8_t* wUpper) {
  auto w = [](const uint8_t* at) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(at)); };
  return _mm256_packus_epi16(_mm256_srli_epi16(_mm256_maddubs_epi16(top0, w(wUpper)), 6),
                             _mm256_srli_epi16(_mm256_maddubs_epi16(top1, w(wUpper + 32)), 6));
}

// The first `count` (1 to 31) bytes of v at dst.
inline void StorePart(uint8_t* dst, __m256i v, ptrdiff_t count) {
  __m128i part = _mm256_castsi256_si128(v);
  if (count & 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), part);
    part = _mm256_extracti128_si256(v, 1);
    dst += 16;
  }
  if (count & 8) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), part);
    part = _mm_srli_si128(part, 8);
    dst += 8;
  }
  auto rest = static_cast<uint64_t>(_mm_cvtsi128_si64(part));
  if (count & 4) {
    const auto word = static_cast<uint32_t>(rest);
    std::memcpy(dst, &word, sizeof word);
    rest >>= 32;
    dst += 4;
  }
  if (count & 2) {
    const auto half = static_cast<uint16_t>(rest);
    std::memcpy(dst, &half, sizeof half);
    rest >>= 16;
    dst += 2;
  }
  if (count & 1) *dst = static_cast<uint8_t>(rest);
}

// The whole blocks of the commonest band at 3:4: four source rows, output row
// k from rows k and k + 1 (the first, in about two bands of five, from row 0
// alone). Kept lean, every pointer in a register.
template <bool FirstAlone>
void StairOfFour(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* const* rows, const BandTaps& taps,
                 const uint8_t* const* upper, const uint8_t* const* lower, int blocks) {
  const uint8_t* r0 = rows[0];
  const uint8_t* r1 = rows[1];
  const uint8_t* r2 = rows[2];
  const uint8_t* r3 = rows[3];
  const uint8_t* u0 = upper[0];
  const uint8_t* u1 = upper[1];
  const uint8_t* u2 = upper[2];
  const uint8_t* l0 = lower[0];
  const uint8_t* l1 = lower[1];
  const uint8_t* l2 = lower[2];
  for (int b = 0; b < blocks; ++b) {
    uint8_t* out = dst + taps.column[b];
    const int32_t* base = taps.base[2 * b];  // pair 2b's two windows, then pair 2b + 1's
    const ptrdiff_t a0 = base[0], a1 = base[1], c0 = base[2], c1 = base[3];
    const __m256i pick0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(taps.pick[2 * b]));
    const __m256i pick1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(taps.pick[2 * b + 1]));
    auto tap = [](const uint8_t* row, ptrdiff_t low, ptrdiff_t high, __m256i pick) {
      return _mm256_shuffle_epi8(Windows(row + low, row + high), pick);
    };
    const __m256i h00 = tap(r0, a0, a1, pick0), h01 = tap(r0, c0, c1, pick1);
    const __m256i h10 = tap(r1, a0, a1, pick0), h11 = tap(r1, c0, c1, pick1);
    const __m256i h20 = tap(r2, a0, a1, pick0), h21 = tap(r2, c0, c1, pick1);
    const __m256i h30 = tap(r3, a0, a1, pick0), h31 = tap(r3, c0, c1, pick1);
    const ptrdiff_t w = 64 * b;  // the block's weights
    const __m256i first = FirstAlone ? Out32Alone(h00, h01, u0 + w) : Out32(h00, h01, h10, h11, u0 + w, l0 + w);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + dstStride), Out32(h10, h11, h20, h21, u1 + w, l1 + w));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * dstStride), Out32(h20, h21, h30, h31, u2 + w, l2 + w));
  }
}

// One band of R source rows. The taps are named, not indexed, so that they
// stay in registers. A stair band of four rows is made without a branch per
// output row; the others pick their rows through a switch.
template <int R>
void BandOf(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, const BandTaps& taps,
            const Band& band, ptrdiff_t n) {
  const uint8_t* rows[4];
  for (int k = 0; k < 4; ++k) rows[k] = src + band.rows[k < R ? k : 0] * srcStride;
  // Each output row's weights for its two rows.
  const uint8_t* upper[kBandOutputs];
  const uint8_t* lower[kBandOutputs];
  for (int k = 0; k < band.outputs; ++k) {
    upper[k] = taps.weight[band.upper[k]][0];
    lower[k] = taps.weight[band.lower[k]][0];
  }
  dst += band.first * dstStride;
  int b = 0;
  if constexpr (R == 4) {
    if (band.stair) {
      if (band.lower[0] == 0) {
        StairOfFour<true>(dst, dstStride, rows, taps, upper, lower, taps.wholeBlocks);
      } else {
        StairOfFour<false>(dst, dstStride, rows, taps, upper, lower, taps.wholeBlocks);
      }
      b = taps.wholeBlocks;
    }
  }
  for (; b < taps.blocks; ++b) {
    const int p = 2 * b;
    const __m256i h00 = TapsOf(rows[0], taps, p), h01 = TapsOf(rows[0], taps, p + 1);
    __m256i h10 = h00, h11 = h01, h20 = h00, h21 = h01, h30 = h00, h31 = h01;
    if constexpr (R > 1) h10 = TapsOf(rows[1], taps, p), h11 = TapsOf(rows[1], taps, p + 1);
    if constexpr (R > 2) h20 = TapsOf(rows[2], taps, p), h21 = TapsOf(rows[2], taps, p + 1);
    if constexpr (R > 3) h30 = TapsOf(rows[3], taps, p), h31 = TapsOf(rows[3], taps, p + 1);
    uint8_t* out = dst + taps.column[b];
    const bool whole = b < taps.wholeBlocks;
    const ptrdiff_t w = 32 * p;  // the block's weights
    for (int k = 0; k < band.outputs; ++k, out += dstStride) {
      __m256i v;
      switch (band.pair[k]) {
        case 0:
          v = Out32(h00, h01, h10, h11, upper[k] + w, lower[k] + w);
          break;
        case 1:
          v = Out32(h10, h11, h20, h21, upper[k] + w, lower[k] + w);
          break;
        default:
          v = Out32(h20, h21, h30, h31, upper[k] + w, lower[k] + w);
          break;
      }
      if (whole) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
      } else {
        StorePart(out, v, n - taps.column[b]);
      }
    }
  }
}

}  // namespace

void scale_horizontal_avx2(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan) {
  static_assert(kMaxRows == 2, "a variant per number of rows");
  if (rows == 1) return HorizontalRows<1>(dst, src, plan);
  HorizontalRows<2>(dst, src, plan);
}

void scale_vertical_avx2(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n) {
  // packus works within 128-bit halves: columns 0-7, 16-23, 8-15, 24-31.
  auto store = [&](ptrdiff_t j, __m256i a, __m256i b) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
  };
  ptrdiff_t j = 0;
  if (fy == 0) {
    // (8 top) >> 6.
    auto load = [&](ptrdiff_t at) {
      return _mm256_srli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + at)), 3);
    };
    if (n < 32) return scale_vertical_sse2(dst, top, bottom, 0, n);
    for (; j + 32 <= n; j += 32) store(j, load(j), load(j + 16));
    // The last columns as one more step ending at n, over columns made already.
    if (j < n) store(n - 32, load(n - 32), load(n - 16));
    return;
  }
  const __m256i wt = _mm256_set1_epi16(static_cast<short>(8 - fy)), wb = _mm256_set1_epi16(static_cast<short>(fy));
  auto blend = [&](ptrdiff_t at) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + at));
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(t, wt), _mm256_mullo_epi16(b, wb)), 6);
  };
  if (n < 32) return scale_vertical_sse2(dst, top, bottom, fy, n);
  for (; j + 32 <= n; j += 32) store(j, blend(j), blend(j + 16));
  if (j < n) store(n - 32, blend(n - 32), blend(n - 16));
}

void scale_bands_avx2(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                      const BandTaps& taps, const Band* bands, int64_t count, ptrdiff_t n) {
  for (int64_t b = 0; b < count; ++b) {
    const Band& band = bands[b];
    switch (band.rowCount) {
      case 1:
        BandOf<1>(dst, dstStride, src, srcStride, taps, band, n);
        break;
      case 2:
        BandOf<2>(dst, dstStride, src, srcStride, taps, band, n);
        break;
      case 3:
        BandOf<3>(dst, dstStride, src, srcStride, taps, band, n);
        break;
      default:
        BandOf<4>(dst, dstStride, src, srcStride, taps, band, n);
        break;
    }
  }
}

void rgb565_unpack_avx2(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n) {
  if (n < 32) return rgb565_unpack_sse2(r, g, b, src, n);
  const __m256i six = _mm256_set1_epi16(63), five = _mm256_set1_epi16(31);
  // packus works within 128-bit halves: the permute puts the columns in order.
  auto store = [](uint8_t* dst, __m256i lo, __m256i hi) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8));
  };
  auto step = [&](ptrdiff_t j) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j + 16));
    store(r + j, _mm256_srli_epi16(a, 11), _mm256_srli_epi16(c, 11));
    store(g + j, _mm256_and_si256(_mm256_srli_epi16(a, 5), six), _mm256_and_si256(_mm256_srli_epi16(c, 5), six));
    store(b + j, _mm256_and_si256(a, five), _mm256_and_si256(c, five));
  };
  ptrdiff_t j = 0;
  for (; j + 32 <= n; j += 32) step(j);
  // The last words as one more step ending at n, over fields made already.
  if (j < n) step(n - 32);
}

void rgb565_pack_avx2(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n) {
  if (n < 16) return rgb565_pack_sse2(dst, r, g, b, n);
  auto step = [&](ptrdiff_t j) {
    auto widen = [j](const uint8_t* p) {
      return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j)));
    };
    const __m256i word =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(widen(r), 11), _mm256_slli_epi16(widen(g), 5)), widen(b));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), word);
  };
  ptrdiff_t j = 0;
  for (; j + 16 <= n; j += 16) step(j);
  if (j < n) step(n - 16);
}

}  // namespace imageproc
