// AVX2 window kernels of the SBR QMF banks: eight outputs at a time, the
// products of 32-bit samples and coefficients summed in 64-bit lanes (even
// and odd lanes apart), so every value equals the reference's.
#include <immintrin.h>

#include "codecs/heaac/sbr_qmf_dsp.h"
#include "codecs/heaac/sbr_tables.h"

namespace heaac {
namespace {

inline __m256i Reverse(__m256i v) { return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }

// Adds the eight products x[L] c[L] to the even (L = 0, 2, 4, 6) and odd
// 64-bit sums.
inline void MulAdd(__m256i x, __m256i c, __m256i* even, __m256i* odd) {
  *even = _mm256_add_epi64(*even, _mm256_mul_epi32(x, c));
  *odd = _mm256_add_epi64(*odd, _mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(c, 32)));
}

// Bits shift .. shift + 31 of each 64-bit sum, back in lane order. The sums
// fit in 51 bits, so the logical shift gives the arithmetic shift's low word.
template <int shift>
inline __m256i Narrow(__m256i even, __m256i odd) {
  return _mm256_blend_epi32(_mm256_srli_epi64(even, shift), _mm256_slli_epi64(_mm256_srli_epi64(odd, shift), 32), 0xAA);
}

inline __m256i Load(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// The synthesis window rearranged per output n: block i's even-aged value
// (at |n - N/2|) meets evenCoef[i][n], its odd-aged one oddCoef[i][n] (the
// sign of the reference's sum, 0 at n = N/2).
template <int N>
struct SynthesisCoefficients {
  int32_t evenCoef[5][N];
  int32_t oddCoef[5][N];
  SynthesisCoefficients() {
    constexpr int step = 64 / N;
    const int16_t* w = kSbrQmfWindowSynthesis;
    for (int i = 0; i < 5; ++i) {
      const int base = step * 2 * N * i;
      for (int n = 0; n < N; ++n) {
        evenCoef[i][n] = w[base + step * n];
        const int32_t o = w[base + step * (N + n)];
        oddCoef[i][n] = n < N / 2 ? o : n == N / 2 ? 0 : -o;
      }
    }
  }
};

template <int N>
void SynthesisWindow(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  static const SynthesisCoefficients<N> coef;
  const int32_t* even[5];
  const int32_t* odd[5];
  for (int i = 0; i < 5; ++i) {
    even[i] = delay + ((newest - 2 * i + 20) % 10) * N;
    odd[i] = delay + ((newest - 2 * i - 1 + 20) % 10) * N;
  }
  // Lane L of the first odd-aged vector of the second half reads index N - L,
  // which lane 0 (coefficient 0) would take past the block.
  const __m256i rotate = _mm256_setr_epi32(0, 7, 6, 5, 4, 3, 2, 1);
  alignas(32) int16_t result[N];
  for (int n = 0; n < N; n += 8) {
    __m256i accEven = _mm256_setzero_si256(), accOdd = _mm256_setzero_si256();
    for (int i = 0; i < 5; ++i) {
      __m256i e, o;
      if (n < N / 2) {
        e = Reverse(Load(even[i] + N / 2 - n - 7));  // |n - N/2| = N/2 - n falling
        o = Load(odd[i] + N / 2 + n);
      } else {
        e = Load(even[i] + n - N / 2);
        const int from = N - (n - N / 2);  // 3N/2 - n, falling
        o = from == N ? _mm256_permutevar8x32_epi32(Load(odd[i] + N - 8), rotate) : Reverse(Load(odd[i] + from - 7));
      }
      MulAdd(e, Load(coef.evenCoef[i] + n), &accEven, &accOdd);
      MulAdd(o, Load(coef.oddCoef[i] + n), &accEven, &accOdd);
    }
    const __m256i sums = Narrow<29>(accEven, accOdd);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(sums, sums), 0x08);
    _mm_store_si128(reinterpret_cast<__m128i*>(result + n), _mm256_castsi256_si128(packed));
  }
  if (stride == 1) {
    for (int n = 0; n < N; n += 8) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_load_si128(reinterpret_cast<const __m128i*>(result + n)));
    }
  } else {
    for (int n = 0; n < N; ++n) out[n * stride] = result[n];
  }
}

}  // namespace

void sbr_analysis_window_avx2(int32_t* u, const int16_t* delay, int newest) {
  for (int n = 0; n < 64; n += 8) {
    __m256i accEven = _mm256_setzero_si256(), accOdd = _mm256_setzero_si256();
    for (int j = 0; j < 5; ++j) {
      // x[n + 64 j + L] for L < 8: eight samples falling from newest + 31 -
      // n - 64 j, never across the end of the line (blocks of 32).
      const int at = (newest + 24 - n - 64 * j + 640) % 320;
      const __m256i x = Reverse(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(delay + at))));
      MulAdd(x, Load(kSbrQmfWindowAnalysis + n + 64 * j), &accEven, &accOdd);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(u + n), Narrow<20>(accEven, accOdd));
  }
}

void sbr_synthesis_window64_avx2(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  SynthesisWindow<64>(out, stride, delay, newest);
}

void sbr_synthesis_window32_avx2(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  SynthesisWindow<32>(out, stride, delay, newest);
}

}  // namespace heaac
