#pragma once
// Row kernels of the bilinear scalers (scale_planar.cpp, scale_packed.cpp).
// A scaler filters each source row it needs horizontally once, into 16-bit
// sums, and blends two such rows per output row:
//
//   h[j]   = (8 - fx) src[left] + fx src[right]       (at most 8 x 255)
//   out[j] = ((8 - fy) h_top[j] + fy h_bottom[j]) >> 6
//
// which is the whole bilinear sum in 64ths, truncated once, whatever the
// order of the two passes. The references are in scale_dsp.cpp; the SSE2,
// AVX2 and AVX-512 variants give the same values.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imageproc {

// Taps of up to kTapGroups x 8 output columns, in groups of eight. For output
// column 8g + k: left tap base[g] + pick[g][2k], right tap base[g] +
// pick[g][2k + 1] (offsets from the row's first sample), weights weight[g][2k]
// and weight[g][2k + 1] (8 - fx and fx). `fits[g]` is 1 when the group's taps
// lie in the 16 samples from base[g] and those 16 may be read, so one
// unaligned load and a byte shuffle fetch them; base[g] is then the group's
// first left tap, or the row's last 16 samples where those would pass the
// end. Columns past the last of a partial group repeat its last column. An odd
// group whose taps lie in the 16 samples from 8 past the group before's base
// takes that as its base.
inline constexpr int kTapGroups = 96;
// Quads of four groups (32 output columns) for byte permutes over 64 samples.
inline constexpr int kTapQuads = kTapGroups / 4;
struct TapPlan {
  alignas(32) uint8_t pick[kTapGroups][16];
  alignas(32) uint8_t weight[kTapGroups][16];
  int32_t base[kTapGroups];
  uint8_t fits[kTapGroups];
  uint8_t adjacent[kTapGroups];  // 1 when every right tap of the group is its left tap + 1
  // 1 for an even group g when base[g + 1] is base[g] + 8 and the 32 samples
  // from base[g] may be read, so one load fetches both groups.
  uint8_t wide[kTapGroups];
  int groups;
  int fitting;      // groups from the first that all fit
  int wideFitting;  // groups from the first in wide pairs
};

// A plan's groups four at a time (32 output columns), for byte permutes over
// 64 samples: the taps of quad q (groups 4q to 4q + 3) as offsets from
// base[q], pick[q][16k + i] being the plan's pick[4q + k][i] + base[4q + k] -
// base[q]. A quad fits when its taps lie in the 64 samples from base[q] and
// those 64 may be read; base[q] is then its first left tap, or the row's last
// 64 samples where those would pass the end. In a partial last quad the
// missing groups repeat the last column.
struct TapQuads {
  alignas(64) uint8_t pick[kTapQuads][64];
  int32_t base[kTapQuads];
  int fitting;  // quads from the first that all fit (the last may be partial)
};

// Fills `plan` for n <= 8 x kTapGroups output columns with left and right taps
// (non-decreasing left taps, right >= left) and fractions 0-7. `readable` is
// how many samples from the row's first may be read. False when a group's taps
// lie more than 255 samples apart (the plan cannot hold them).
bool MakeTapPlan(TapPlan& plan, const int32_t* left, const int32_t* right, const uint8_t* frac, int n,
                 int64_t readable);

// The quads of a plan MakeTapPlan made from the same taps; the weights of the
// plan's groups past its last, to the end of its last quad, are set to 0.
void MakeTapQuads(TapQuads& quads, TapPlan& plan, const int32_t* left, const int32_t* right, int n,
                  int64_t readable);

// Source rows blended in one call: they share the plan's reads. Two (an
// output row's pair) measured faster than four, whose blends and sources
// crowd the first-level cache.
inline constexpr int kMaxRows = 2;

// h[8g + k] for every group of the plan (8 x plan.groups values) of each of
// `rows` (1 to kMaxRows) source rows: dst[i] from src[i].
using ScaleHorizontalFn = void (*)(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan);
// out[j] = ((8 - fy) * top[j] + fy * bottom[j]) >> 6 for j < n; fy 0-7, sums
// at most 8 x 255. With fy 0 `bottom` is not read.
using ScaleVerticalFn = void (*)(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n);

// One output row of a scale, for a kernel that holds the two blended rows of
// the output row before: the source rows it blends (from the plane's first;
// `bottom` is `top` where fy is 0) and where it takes each blended row from.
struct RowPair {
  enum From : uint8_t { kKeep, kShift, kBlend };
  int32_t top, bottom;
  uint8_t fy;
  // kKeep: the top before; kShift: the bottom before; kBlend: row `top`.
  uint8_t topFrom;
  // kKeep: the bottom before; kShift: this top; kBlend: row `bottom`.
  uint8_t bottomFrom;
};

// The row pair of an output row that blends source rows top and bottom
// (bottom taken as top where fy is 0) after the output row `before` (for the
// first, rows -1).
RowPair NextRowPair(const RowPair& before, int32_t top, int32_t bottom, int fy);

// The whole scale of a run of n output columns of one plane, every one of
// `quads` (of `plan`) fitting: output row i (rows dstStride bytes apart) from
// the source rows (srcStride bytes apart) rows[i] names, each source row
// blended horizontally once, both passes in registers.
using ScaleColumnsFn = void (*)(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                                const TapPlan& plan, const TapQuads& quads, const RowPair* rows, int64_t count,
                                ptrdiff_t n);

// Consecutive output rows made in one pass from the few source rows they
// share: the taps of each source row of the band are fetched once, into
// registers, for a block of output columns, and every output row of the band
// is weighted from two of them before the next block. At 3:4 a band is three
// output rows from four source rows.
inline constexpr int kBandRows = 4;
inline constexpr int kBandOutputs = 16;
struct Band {
  int32_t first;             // the band's first output row
  int32_t rows[kBandRows];   // its source rows (from the plane's first), ascending
  uint8_t rowCount, outputs;
  // Output row first + k blends band rows top[k] and top[k] + below[k]
  // (below 0 or 1) with weight fy[k] on the lower.
  uint8_t top[kBandOutputs], below[kBandOutputs], fy[kBandOutputs];
  // The same as a kernel takes it: output row first + k weights band rows
  // pair[k] and pair[k] + 1 by upper[k] and lower[k] (which add up to 8): a
  // row taken alone (fy 0, or the last row repeated) is weighted 8 beside a
  // neighbour weighted 0. `stair` when output row k takes rows k and k + 1
  // and there is one output row fewer than rows (three from four at 3:4).
  uint8_t pair[kBandOutputs], upper[kBandOutputs], lower[kBandOutputs];
  bool stair;
};

// A plan's groups in blocks of 32 output columns for the band kernel, two
// pairs to a block: pair 2b holds the block's groups 0 and 2, pair 2b + 1 its
// groups 1 and 3 (groups past the plan's last repeat it), each group fetched
// from its own 16 samples, so that packing the two pairs' outputs lane by
// lane gives the block's 32 in order. Where the run's last group is whole but
// the groups do not fill the last block, that block is the last four groups
// instead, over columns made already, so that every block is stored whole.
// The weights come times every vertical weight 0-8, so that one pmaddubsw
// weights a source row's taps for one output row at once:
// (8 - fy) ((8 - fx) left + fx right) is ((8 - fy) (8 - fx)) left +
// ((8 - fy) fx) right, each weight at most 64.
inline constexpr int kTapPairs = kTapGroups / 2;
struct BandTaps {
  alignas(32) uint8_t pick[kTapPairs][32];
  alignas(32) uint8_t weight[9][kTapPairs][32];
  int32_t base[kTapPairs][2];
  int32_t column[kTapPairs / 2];  // each block's first output column
  int blocks;
  int wholeBlocks;  // blocks from the first whose 32 columns are all in the run
};
// For a plan of n output columns whose groups all fit.
void MakeBandTaps(BandTaps& taps, const TapPlan& plan, int n);

// Adds output row `row`, which blends source rows top and bottom (bottom >=
// top, read only where fy > 0), to the last band of `bands` or to a new one.
// Rows are added in order.
void AddBandRow(std::vector<Band>& bands, int32_t row, int32_t top, int32_t bottom, int fy);

// The whole scale of a run of n output columns of one plane by bands, every
// group of `plan` fitting: band by band, output rows dstStride bytes apart
// from the band's source rows (srcStride bytes apart).
using ScaleBandsFn = void (*)(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                              const BandTaps& taps, const Band* bands, int64_t count, ptrdiff_t n);

// RGB565 pictures are scaled as three planes of their 5-, 6- and 5-bit
// fields: unpack splits n words into the fields, pack joins them again.
using Rgb565UnpackFn = void (*)(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n);
using Rgb565PackFn = void (*)(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n);

struct ScaleDsp {
  ScaleHorizontalFn horizontal;
  ScaleVerticalFn vertical;
  // Null where the variant has none; the planar scaler then blends rows
  // through a ring in memory with the two above.
  ScaleColumnsFn columns;
  // Null where the variant has none; takes a run whose groups all fit.
  ScaleBandsFn bands;
  // True while the horizontal blend is the reference: in plain C++ the
  // planar scaler then blends columns first (scale_planar.cpp), faster there
  // than fetching each tap through the plan.
  bool columnsFirst;
  Rgb565UnpackFn unpack565;
  Rgb565PackFn pack565;
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_scale_dsp(ScaleDsp& dsp, uint32_t cpuFlags);

void scale_horizontal_c(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan);
void scale_vertical_c(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n);
void rgb565_unpack_c(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n);
void rgb565_pack_c(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n);
void rgb565_unpack_sse2(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n);
void rgb565_pack_sse2(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n);
void scale_horizontal_sse2(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan);
void scale_vertical_sse2(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n);
void rgb565_unpack_avx2(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n);
void rgb565_pack_avx2(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n);
void scale_horizontal_avx2(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan);
void scale_vertical_avx2(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n);
void scale_bands_avx2(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                      const BandTaps& taps, const Band* bands, int64_t count, ptrdiff_t n);
void scale_vertical_avx512(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n);
void scale_columns_avx512(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                          const TapPlan& plan, const TapQuads& quads, const RowPair* rows, int64_t count,
                          ptrdiff_t n);

}  // namespace imageproc
