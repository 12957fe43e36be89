// AVX2 row kernels of the bilinear scalers: the same values as the
// references. Horizontally, a group whose taps lie in 16 readable samples is
// fetched with one unaligned load and a byte shuffle, two groups to a 256-bit
// register (a wide pair with one 32-byte load and a lane permute), and
// weighted with pmaddubsw (samples unsigned, weights 0-8); other groups are
// gathered byte by byte. The plan's reads serve every row of a call.
// Vertically, 32 columns a step, the last step ending at the row's end.
#include <immintrin.h>

#include <algorithm>
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


// The column strips: a run of output columns whose groups all fit is walked
// down every output row a strip at a time, each source row it needs blended
// horizontally once and the two blended rows of an output row held in
// registers from one output row to the next, as the AVX-512 kernel does with
// quads. A block of 32 output columns is two registers, A with groups 4b and
// 4b + 2 in its two lanes and B with groups 4b + 1 and 4b + 3, so that one
// packus of their vertical blends (which packs lane by lane) gives the 32
// outputs in order. Each lane is fetched from its group's own 16-sample
// window: a load and an insert, no lane permute.
struct Block {
  alignas(32) uint8_t pickA[32], pickB[32], weightA[32], weightB[32];
  // Windows of A's low and high lanes, then B's.
  ptrdiff_t base[4];
};

// Source rows this far below the one blended are fetched into the cache
// meanwhile, as in the AVX-512 strips.
constexpr ptrdiff_t kRowsAhead = 4;

// Blocks per strip: two blocks' top and bottom rows take eight of the 16
// registers.
constexpr int kStripBlocks = 2;

struct Rows2 {
  __m256i a0, b0, a1, b1;
};

inline __m256i BlendLanes(const uint8_t* row, ptrdiff_t lowBase, ptrdiff_t highBase, const uint8_t* pick,
                          const uint8_t* weight) {
  const __m256i window =
      _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + lowBase))),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + highBase)), 1);
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(window, _mm256_load_si256(reinterpret_cast<const __m256i*>(pick))),
                              _mm256_load_si256(reinterpret_cast<const __m256i*>(weight)));
}

template <int K>
inline Rows2 BlendRow(const Block* blocks, const uint8_t* row, ptrdiff_t ahead) {
  const uintptr_t later = reinterpret_cast<uintptr_t>(row) + static_cast<uintptr_t>(ahead);
  _mm_prefetch(reinterpret_cast<const char*>(later + blocks[0].base[0]), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(later + blocks[K - 1].base[3] + 15), _MM_HINT_T0);
  Rows2 h{};
  h.a0 = BlendLanes(row, blocks[0].base[0], blocks[0].base[1], blocks[0].pickA, blocks[0].weightA);
  h.b0 = BlendLanes(row, blocks[0].base[2], blocks[0].base[3], blocks[0].pickB, blocks[0].weightB);
  if constexpr (K > 1) {
    h.a1 = BlendLanes(row, blocks[1].base[0], blocks[1].base[1], blocks[1].pickA, blocks[1].weightA);
    h.b1 = BlendLanes(row, blocks[1].base[2], blocks[1].base[3], blocks[1].pickB, blocks[1].weightB);
  }
  return h;
}

// The 32 outputs of a block: ((8 - fy) top + fy bottom) >> 6 of A and B.
inline __m256i VerticalBlock(__m256i topA, __m256i bottomA, __m256i topB, __m256i bottomB, __m256i wt, __m256i wb) {
  const __m256i a = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(topA, wt), _mm256_mullo_epi16(bottomA, wb)), 6);
  const __m256i b = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(topB, wt), _mm256_mullo_epi16(bottomB, wb)), 6);
  return _mm256_packus_epi16(a, b);
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
  uint64_t rest = static_cast<uint64_t>(_mm_cvtsi128_si64(part));
  if (count & 4) {
    const uint32_t v4 = static_cast<uint32_t>(rest);
    std::memcpy(dst, &v4, 4);
    rest >>= 32;
    dst += 4;
  }
  if (count & 2) {
    const uint16_t v2 = static_cast<uint16_t>(rest);
    std::memcpy(dst, &v2, 2);
    rest >>= 16;
    dst += 2;
  }
  if (count & 1) *dst = static_cast<uint8_t>(rest);
}

// Output columns 32 b0 on of every output row: K blocks, `columns` of them
// stored (the last block's may be partial).
template <int K>
void Strip(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, const Block* blocks,
           const RowPair* rows, int64_t count, ptrdiff_t columns) {
  const ptrdiff_t ahead = kRowsAhead * srcStride;
  const bool whole = columns == 32 * K;
  const ptrdiff_t lastColumns = columns - 32 * (K - 1);
  Rows2 top{}, bottom{};
  for (int64_t i = 0; i < count; ++i, dst += dstStride) {
    const RowPair r = rows[i];
    if (r.topFrom == RowPair::kShift) {
      top = bottom;
    } else if (r.topFrom == RowPair::kBlend) {
      top = BlendRow<K>(blocks, src + r.top * srcStride, ahead);
    }
    if (r.bottomFrom == RowPair::kShift) {
      bottom = top;
    } else if (r.bottomFrom == RowPair::kBlend) {
      bottom = BlendRow<K>(blocks, src + r.bottom * srcStride, ahead);
    }
    const __m256i wt = _mm256_set1_epi16(static_cast<short>(8 - r.fy));
    const __m256i wb = _mm256_set1_epi16(static_cast<short>(r.fy));
    const __m256i out0 = VerticalBlock(top.a0, bottom.a0, top.b0, bottom.b0, wt, wb);
    if constexpr (K > 1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out0);
      const __m256i out1 = VerticalBlock(top.a1, bottom.a1, top.b1, bottom.b1, wt, wb);
      if (whole) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), out1);
      } else {
        StorePart(dst + 32, out1, lastColumns);
      }
    } else if (whole) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out0);
    } else {
      StorePart(dst, out0, lastColumns);
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


void scale_columns_avx2(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                        const TapPlan& plan, const TapQuads&, const RowPair* rows, int64_t count, ptrdiff_t n) {
  constexpr int kBlocks = kTapGroups / 4;
  Block blocks[kBlocks];
  const int used = (plan.groups + 3) / 4;
  for (int b = 0; b < used; ++b) {
    // Groups past the plan's last repeat it.
    auto group = [&](int k) { return std::min(4 * b + k, plan.groups - 1); };
    Block& block = blocks[b];
    const int order[4] = {group(0), group(2), group(1), group(3)};
    for (int k = 0; k < 4; ++k) {
      const int g = order[k];
      uint8_t* pick = k < 2 ? block.pickA : block.pickB;
      uint8_t* weight = k < 2 ? block.weightA : block.weightB;
      std::memcpy(pick + 16 * (k & 1), plan.pick[g], 16);
      std::memcpy(weight + 16 * (k & 1), plan.weight[g], 16);
      block.base[k] = plan.base[g];
    }
  }
  int b = 0;
  for (; b + kStripBlocks < used; b += kStripBlocks)
    Strip<kStripBlocks>(dst + 32 * b, dstStride, src, srcStride, blocks + b, rows, count, 32 * kStripBlocks);
  const ptrdiff_t rest = n - 32 * b;
  if (used - b == 2) return Strip<2>(dst + 32 * b, dstStride, src, srcStride, blocks + b, rows, count, rest);
  Strip<1>(dst + 32 * b, dstStride, src, srcStride, blocks + b, rows, count, rest);
}

}  // namespace imageproc
