// AVX2 row kernels of the bilinear scalers: the same values as the
// references. Horizontally, a group whose taps lie in 16 readable samples is
// fetched with one unaligned load and a byte shuffle, two groups to a 256-bit
// register, and weighted with pmaddubsw (samples unsigned, weights 0-8);
// other groups are gathered byte by byte. Vertically, 32 columns a step.
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

}  // namespace

void scale_horizontal_avx2(uint16_t* dst, const uint8_t* src, const TapPlan& plan) {
  auto pairOfGroups = [&](int g) {
    // Both bases in one load.
    uint64_t bases;
    std::memcpy(&bases, plan.base + g, sizeof bases);
    const uint8_t* s0 = src + static_cast<int32_t>(bases);
    const uint8_t* s1 = src + static_cast<int32_t>(bases >> 32);
    const __m256i rows =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s0))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1)), 1);
    const __m256i taps = _mm256_shuffle_epi8(rows, _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.pick[g])));
    const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.weight[g]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * g), _mm256_maddubs_epi16(taps, w));
  };
  int g = 0;
  for (; g + 4 <= plan.fitting; g += 4) {
    pairOfGroups(g);
    pairOfGroups(g + 2);
  }
  for (; g + 2 <= plan.groups; g += 2) {
    if (plan.fits[g] & plan.fits[g + 1]) {
      pairOfGroups(g);
      continue;
    }
    const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.weight[g]));
    const __m256i taps =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Taps(src, plan, g)), Taps(src, plan, g + 1), 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * g), _mm256_maddubs_epi16(taps, w));
  }
  if (g < plan.groups) {
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(plan.weight[g]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8 * g), _mm_maddubs_epi16(Taps(src, plan, g), w));
  }
}

void scale_vertical_avx2(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n) {
  const __m256i wt = _mm256_set1_epi16(static_cast<short>(8 - fy)), wb = _mm256_set1_epi16(static_cast<short>(fy));
  auto blend = [&](ptrdiff_t j) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + j));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + j));
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(t, wt), _mm256_mullo_epi16(b, wb)), 6);
  };
  ptrdiff_t j = 0;
  for (; j + 32 <= n; j += 32) {
    // packus works within 128-bit halves: columns 0-7, 16-23, 8-15, 24-31.
    const __m256i packed = _mm256_packus_epi16(blend(j), blend(j + 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), _mm256_permute4x64_epi64(packed, 0xD8));
  }
  scale_vertical_sse2(dst + j, top + j, bottom + j, fy, n - j);
}

}  // namespace imageproc
