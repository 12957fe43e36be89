// AVX2 row kernels of the bilinear scalers: the same values as the
// references. Horizontally, a group whose taps lie in 16 readable samples is
// fetched with one unaligned load and a byte shuffle, two groups to a 256-bit
// register (a wide pair with one 32-byte load and a lane permute), and
// weighted with pmaddubsw (samples unsigned, weights 0-8); other groups are
// gathered byte by byte. The plan's reads serve every row of a call.
// Vertically, 32 columns a step, the last step ending at the row's end.
#include <immintrin.h>

#include <cstring>

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
