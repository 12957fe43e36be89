// AVX-512 kernels of the planar scaler: the same values as the references.
//
// The column strips scale a run of output columns whose plan's quads all fit
// (upscales and reductions up to about 2:1) without the ring of blended rows: a
// strip of up to six quads (192 output columns) is walked down every output
// row, each source row it needs blended horizontally once, a quad with one
// 64-byte load, a byte permute (vpermb) and pmaddubsw (samples unsigned,
// weights 0-8), and the two blended rows an output row takes held in
// registers from one output row to the next. The ring's stores and loads of
// 16-bit sums were most of the time before: the first-level cache moves no
// more bytes a cycle for 512-bit registers than for 256-bit ones.
//
// Both passes make the vertical blend four times over, 4 (8 - fy) top +
// 4 fy bottom (at most 32 x 2040, within 16 bits), so that its high byte is
// the output and one two-source byte permute packs 64 of them. The vertical
// kernel of the ring takes 64 columns a step, the last step masked.
#include <immintrin.h>

#include <algorithm>

#include "imageproc/scale_dsp.h"

namespace imageproc {
namespace {

// Bytes 1, 3, ..., 127 of two registers: the high bytes of their 64 words.
inline __m512i HighBytes(__m512i a, __m512i b) {
  const __m512i odd = _mm512_set_epi8(127, 125, 123, 121, 119, 117, 115, 113, 111, 109, 107, 105, 103, 101, 99, 97, 95,
                                      93, 91, 89, 87, 85, 83, 81, 79, 77, 75, 73, 71, 69, 67, 65, 63, 61, 59, 57, 55,
                                      53, 51, 49, 47, 45, 43, 41, 39, 37, 35, 33, 31, 29, 27, 25, 23, 21, 19, 17, 15,
                                      13, 11, 9, 7, 5, 3, 1);
  return _mm512_permutex2var_epi8(a, odd, b);
}

// 4 ((8 - fy) top + fy bottom) of 32 columns, with wt = 4 (8 - fy) and
// wb = 4 fy: its high bytes are the outputs.
inline __m512i Blend4(__m512i top, __m512i bottom, __m512i wt, __m512i wb) {
  return _mm512_add_epi16(_mm512_mullo_epi16(top, wt), _mm512_mullo_epi16(bottom, wb));
}

// Output columns j to j + 63 from Blend(words at, mask), whose high bytes are
// the outputs; the last step stores only the columns below n.
template <typename Blend>
inline void VerticalSteps(uint8_t* dst, ptrdiff_t n, Blend blend) {
  ptrdiff_t j = 0;
  for (; j + 64 <= n; j += 64) {
    _mm512_storeu_si512(dst + j, HighBytes(blend(j, ~__mmask32{0}), blend(j + 32, ~__mmask32{0})));
  }
  const ptrdiff_t rest = n - j;  // 0 to 63
  if (rest == 0) return;
  const __mmask64 columns = (uint64_t{1} << rest) - 1;
  const __mmask32 low = static_cast<__mmask32>(columns), high = static_cast<__mmask32>(columns >> 32);
  _mm512_mask_storeu_epi8(dst + j, columns, HighBytes(blend(j, low), blend(j + 32, high)));
}

// The blended row of one quad of a source row, from its 64-sample window.
inline __m512i Blend(__m512i pick, __m512i w, const uint8_t* window) {
  // The zero-masked form with every lane kept: the plain one trips GCC's
  // uninitialised-value warning inside its own header.
  return _mm512_maddubs_epi16(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, pick, _mm512_loadu_si512(window)), w);
}

// One register per quad of a strip of up to six, named rather than indexed
// so that the compiler keeps them in registers across output rows (eight
// quads' rows, picks and weights no longer fit in the 32 registers: slower).
struct Quads6 {
  __m512i q0, q1, q2, q3, q4, q5;
};

// Source rows this far below the one blended are fetched into the cache
// meanwhile: walking a strip down the rows, the processor's own prefetch
// falls behind.
constexpr ptrdiff_t kRowsAhead = 4;

// The blended rows of a strip's K quads of one source row.
template <int K>
inline Quads6 BlendRow(const Quads6& pick, const Quads6& w, const uint8_t* row, const ptrdiff_t* base, ptrdiff_t ahead) {
  // The address is only a hint and may lie past the plane: made as an
  // integer, as the pointer may not be.
  const uintptr_t later = reinterpret_cast<uintptr_t>(row) + static_cast<uintptr_t>(ahead);
  for (int k = 0; k < K; ++k) _mm_prefetch(reinterpret_cast<const char*>(later + base[k]), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(later + base[K - 1] + 63), _MM_HINT_T0);
  Quads6 h{};
  h.q0 = Blend(pick.q0, w.q0, row + base[0]);
  if constexpr (K > 1) h.q1 = Blend(pick.q1, w.q1, row + base[1]);
  if constexpr (K > 2) h.q2 = Blend(pick.q2, w.q2, row + base[2]);
  if constexpr (K > 3) h.q3 = Blend(pick.q3, w.q3, row + base[3]);
  if constexpr (K > 4) h.q4 = Blend(pick.q4, w.q4, row + base[4]);
  if constexpr (K > 5) h.q5 = Blend(pick.q5, w.q5, row + base[5]);
  return h;
}

// The output columns of quads q0 to q0 + K - 1 (`columns` of them) of every
// output row. The blended rows of each quad stay in registers from one output
// row to the next, so that the only memory traffic is the source windows and
// the output.
template <int K>
void Strip(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, const TapPlan& plan,
           const TapQuads& quads, int q0, const RowPair* rows, int64_t count, ptrdiff_t columns) {
  Quads6 pick{}, w{};
  auto load = [](const uint8_t* p) { return _mm512_loadu_si512(p); };
  pick.q0 = load(quads.pick[q0]);
  w.q0 = load(plan.weight[4 * q0]);
  if constexpr (K > 1) pick.q1 = load(quads.pick[q0 + 1]), w.q1 = load(plan.weight[4 * q0 + 4]);
  if constexpr (K > 2) pick.q2 = load(quads.pick[q0 + 2]), w.q2 = load(plan.weight[4 * q0 + 8]);
  if constexpr (K > 3) pick.q3 = load(quads.pick[q0 + 3]), w.q3 = load(plan.weight[4 * q0 + 12]);
  if constexpr (K > 4) pick.q4 = load(quads.pick[q0 + 4]), w.q4 = load(plan.weight[4 * q0 + 16]);
  if constexpr (K > 5) pick.q5 = load(quads.pick[q0 + 5]), w.q5 = load(plan.weight[4 * q0 + 20]);
  ptrdiff_t base[K];
  for (int k = 0; k < K; ++k) base[k] = quads.base[q0 + k];
  // Masks of the columns stored: every one but in the run's last strip.
  auto mask = [](ptrdiff_t left) { return left >= 64 ? ~__mmask64{0} : left <= 0 ? 0 : (uint64_t{1} << left) - 1; };
  const __mmask64 low = mask(columns), high = mask(columns - 64), third = mask(columns - 128);
  const bool whole = columns == 32 * K;
  const ptrdiff_t ahead = kRowsAhead * srcStride;
  Quads6 top{}, bottom{};
  dst += 32 * q0;
  for (int64_t i = 0; i < count; ++i, dst += dstStride) {
    const RowPair r = rows[i];
    if (r.topFrom == RowPair::kShift) {
      top = bottom;
    } else if (r.topFrom == RowPair::kBlend) {
      top = BlendRow<K>(pick, w, src + r.top * srcStride, base, ahead);
    }
    if (r.bottomFrom == RowPair::kShift) {
      bottom = top;
    } else if (r.bottomFrom == RowPair::kBlend) {
      bottom = BlendRow<K>(pick, w, src + r.bottom * srcStride, base, ahead);
    }
    const __m512i wt = _mm512_set1_epi16(static_cast<short>(32 - 4 * r.fy));
    const __m512i wb = _mm512_set1_epi16(static_cast<short>(4 * r.fy));
    const __m512i s0 = Blend4(top.q0, bottom.q0, wt, wb);
    const __m512i a = HighBytes(s0, K > 1 ? Blend4(top.q1, bottom.q1, wt, wb) : s0);
    if constexpr (K > 2) {
      const __m512i s2 = Blend4(top.q2, bottom.q2, wt, wb);
      const __m512i b = HighBytes(s2, K > 3 ? Blend4(top.q3, bottom.q3, wt, wb) : s2);
      if (whole && K >= 4) {
        _mm512_storeu_si512(dst + 64, b);
      } else {
        _mm512_mask_storeu_epi8(dst + 64, high, b);
      }
    }
    if constexpr (K > 4) {
      const __m512i s4 = Blend4(top.q4, bottom.q4, wt, wb);
      const __m512i c = HighBytes(s4, K > 5 ? Blend4(top.q5, bottom.q5, wt, wb) : s4);
      if (whole && K == 6) {
        _mm512_storeu_si512(dst + 128, c);
      } else {
        _mm512_mask_storeu_epi8(dst + 128, third, c);
      }
    }
    if (whole && K >= 2) {
      _mm512_storeu_si512(dst, a);
    } else {
      _mm512_mask_storeu_epi8(dst, low, a);
    }
  }
}

}  // namespace

void scale_columns_avx512(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                          const TapPlan& plan, const TapQuads& quads, const RowPair* rows, int64_t count,
                          ptrdiff_t n) {
  int q = 0;
  for (; q + 6 <= quads.fitting; q += 6)
    Strip<6>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, std::min<ptrdiff_t>(192, n - 32 * q));
  const ptrdiff_t rest = n - 32 * q;
  switch (quads.fitting - q) {
    case 5:
      return Strip<5>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, rest);
    case 4:
      return Strip<4>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, rest);
    case 3:
      return Strip<3>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, rest);
    case 2:
      return Strip<2>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, rest);
    case 1:
      return Strip<1>(dst, dstStride, src, srcStride, plan, quads, q, rows, count, rest);
    default:
      return;
  }
}

void scale_vertical_avx512(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n) {
  if (fy == 0) {
    // top >> 3, the high byte of top << 5.
    return VerticalSteps(dst, n, [top](ptrdiff_t at, __mmask32 m) {
      return _mm512_slli_epi16(_mm512_maskz_loadu_epi16(m, top + at), 5);
    });
  }
  const __m512i wt = _mm512_set1_epi16(static_cast<short>(4 * (8 - fy)));
  const __m512i wb = _mm512_set1_epi16(static_cast<short>(4 * fy));
  VerticalSteps(dst, n, [=](ptrdiff_t at, __mmask32 m) {
    return Blend4(_mm512_maskz_loadu_epi16(m, top + at), _mm512_maskz_loadu_epi16(m, bottom + at), wt, wb);
  });
}

}  // namespace imageproc
