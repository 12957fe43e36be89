// Planar YUV scaling and cropping: a bilinear scaler for any ratio applied
// plane by plane, a scaler that also turns planar 4:2:2 into 4:2:0, and four
// fixed-ratio scalers built from additions and shifts.
#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "imageproc/imageproc.h"
#include "imageproc/imageproc_tables.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scale_dsp.h"
#include "platform/cpu/cpu.h"

namespace imageproc {
namespace {

constexpr int kPosBits = 18;   // positions are Q18
constexpr int kFracShift = 15;  // the three bits below the integer part

inline int Bilinear(int a, int b, int c, int d, int frac) {
  return (kBilinearWeights[0][frac] * a + kBilinearWeights[1][frac] * b + kBilinearWeights[2][frac] * c +
          kBilinearWeights[3][frac] * d) >>
         6;
}

// One plane of a scale: source and destination.
struct Plane {
  const uint8_t* src;
  uint8_t* dst;
};

// The column taps of one run of output columns: what a tap plan is made from.
struct ColumnRun {
  int64_t stepX, lastCol, readable, j0, n;
  int sx;
  bool operator==(const ColumnRun&) const = default;

  void Taps(int32_t* left, int32_t* right, uint8_t* frac) const {
    const int64_t tapX = int64_t{1} << sx;
    int64_t q = j0 * stepX;
    for (int64_t j = 0; j < n; ++j, q += stepX) {
      const int64_t c0 = (q >> kPosBits) << sx;
      left[j] = static_cast<int32_t>(c0);
      right[j] = static_cast<int32_t>(Min(c0 + tapX, lastCol));
      frac[j] = static_cast<uint8_t>((q >> kFracShift) & 7);
    }
  }
};

// The tap plans of the last few runs scaled on this thread: a clip scales
// every frame alike, so its plans are made once.
struct PlanCache {
  struct Entry {
    ColumnRun run{};
    bool valid = false, planned = false;
    TapPlan plan;
    TapQuads quads;  // for a kernel that fetches 32 columns' taps at once
    BandTaps bandTaps;  // for a kernel that makes output rows by bands
  };
  static constexpr int kEntries = 4;
  Entry entries[kEntries];
  int next = 0;

  // The plan of `run` and its quads, or null when its taps lie too far apart
  // for a plan.
  const Entry* For(const ColumnRun& run, int32_t* left, int32_t* right, uint8_t* frac) {
    for (Entry& e : entries) {
      if (e.valid && e.run == run) return e.planned ? &e : nullptr;
    }
    return Make(run, left, right, frac);
  }

  // Out of line: made once per geometry, it would only crowd the scaler's
  // frame loop.
  [[gnu::noinline]] const Entry* Make(const ColumnRun& run, int32_t* left, int32_t* right, uint8_t* frac) {
    Entry& e = entries[next];
    next = (next + 1) % kEntries;
    run.Taps(left, right, frac);
    e.run = run;
    e.valid = true;
    e.planned = MakeTapPlan(e.plan, left, right, frac, static_cast<int>(run.n), run.readable);
    if (e.planned) MakeTapQuads(e.quads, e.plan, left, right, static_cast<int>(run.n), run.readable);
    if (e.planned) MakeBandTaps(e.bandTaps, e.plan, static_cast<int>(run.n));
    return e.planned ? &e : nullptr;
  }
};

// The two source rows of each output row and the lower one's weight fy; the
// lower row is clamped to the window's last.
struct RowTaps {
  int64_t stepY, y0, lastRow;
  int sy;
  struct Rows {
    int64_t top, bottom;
    int fy;
  };
  Rows Of(int64_t i) const {
    const int64_t p = i * stepY;
    const int64_t r = y0 + ((p >> kPosBits) << sy);
    return {r, Min(r + (int64_t{1} << sy), lastRow), static_cast<int>((p >> kFracShift) & 7)};
  }
};

// The source rows that output rows 0 to dstHeight - 1 blend, each once, in
// order (a lower row with weight 0 is left out). Rows only grow: an output
// row's upper row is at or past the rows before it, except the previous
// output row's own upper row.
struct RowWalk {
  const RowTaps& taps;
  int64_t dstHeight, i = 0, last = -1;
  bool lower = false;

  bool Next(int64_t* row) {
    while (i < dstHeight) {
      const RowTaps::Rows t = taps.Of(i);
      const int64_t candidate = lower ? t.bottom : t.top;
      if (!lower && t.fy) {
        lower = true;
      } else {
        lower = false;
        ++i;
      }
      if (candidate > last) {
        last = candidate;
        *row = candidate;
        return true;
      }
    }
    return false;
  }
};

// The same scale of one plane, columns first, for the references (and where
// no row schedule can be had): for each
// output row the vertical blends of the source columns a run of output columns
// spans, ((8 - fy) top + fy bottom), then per output column ((8 - fx) A +
// fx B) >> 6. In plain C++ this is faster than blending rows first, whose
// horizontal pass fetches every tap on its own: the vertical pass is
// contiguous (the compiler vectorises it) and each output column takes both
// its blends in one load. Where the taps are spread (2^shift apart) or a run
// spans too many columns, each output sample is blended on its own.
void ScalePlaneColumnsFirst(const uint8_t* src, uint8_t* dst, int64_t srcStride, int64_t dstWidth,
                            int64_t dstHeight, int64_t x0, int64_t W, int sx, int64_t stepX, const RowTaps& rowTaps) {
  static_assert(std::endian::native == std::endian::little, "the column look-up reads two blends as one word");
  const int64_t lastCol = W - 1, tapX = int64_t{1} << sx;
  constexpr int64_t kChunk = 256;        // output columns per shared run
  constexpr int64_t kSpan = 4 * kChunk;  // source columns a run may cover (ratio below 3: 3 x kChunk + 2)
  uint16_t vert[kSpan + 1];  // vertical blends of a run of source columns, 0-2040
  uint16_t tap[kChunk];  // left tap of each output column of the run, relative to the run's first column
  uint8_t frac[kChunk];
  src += x0;
  // Column runs outermost: the taps and fractions of a run serve every row.
  for (int64_t j0 = 0; j0 < dstWidth; j0 += kChunk) {
    const int64_t j1 = Min(j0 + kChunk, dstWidth), n = j1 - j0;
    const int64_t first = ((j0 * stepX) >> kPosBits) << sx;
    const int64_t last = Min((((j1 - 1) * stepX) >> kPosBits << sx) + tapX, lastCol);
    const bool shared = sx == 0 && last - first + 1 < kSpan;
    if (shared) {
      for (int64_t j = 0; j < n; ++j) {
        const int64_t q = (j0 + j) * stepX;
        tap[j] = static_cast<uint16_t>((q >> kPosBits) - first);
        frac[j] = static_cast<uint8_t>((q >> kFracShift) & 7);
      }
    }
    for (int64_t i = 0; i < dstHeight; ++i) {
      const RowTaps::Rows t = rowTaps.Of(i);
      const int fy = t.fy, wTop = 8 - fy;
      const uint8_t* s0 = src + t.top * srcStride;
      const uint8_t* s1 = src + t.bottom * srcStride;
      uint8_t* out = dst + i * dstWidth + j0;
      if (shared) {
        const int64_t span = last - first + 1;
        if (fy == 0) {
          for (int64_t k = 0; k < span; ++k) vert[k] = static_cast<uint16_t>(8 * s0[first + k]);
        } else {
          for (int64_t k = 0; k < span; ++k) vert[k] = static_cast<uint16_t>(wTop * s0[first + k] + fy * s1[first + k]);
        }
        // The right tap of the window's last column is that column again.
        vert[span] = vert[span - 1];
        for (int64_t j = 0; j < n; ++j) {
          // One load fetches the blends of both tap columns (little-endian).
          uint32_t v;
          std::memcpy(&v, vert + tap[j], sizeof v);
          const uint32_t fx = frac[j];
          out[j] = static_cast<uint8_t>(((8 - fx) * (v & 0xFFFF) + fx * (v >> 16)) >> 6);
        }
        continue;
      }
      int64_t q = j0 * stepX;
      for (int64_t j = 0; j < n; ++j, q += stepX) {
        const int64_t c0 = (q >> kPosBits) << sx, c1 = Min(c0 + tapX, lastCol);
        const int fx = static_cast<int>((q >> kFracShift) & 7);
        const int a = wTop * s0[c0] + fy * s1[c0], b = wTop * s0[c1] + fy * s1[c1];
        out[j] = static_cast<uint8_t>(((8 - fx) * a + fx * b) >> 6);
      }
    }
  }
}

// The blended rows are kept in a ring of kRing slots; a batch of up to
// kMaxRows rows starts at a multiple of kMaxRows, and the rows an output row
// needs are at most one batch behind the latest.
inline constexpr int kRing = 2 * kMaxRows;
static_assert(kMaxRows >= 2, "one batch brings both rows of an output row");

// What each output row of a geometry does: blend `batch` more source rows
// (the next of `rows`) into the ring, then blend ring slots top and bottom
// with weight fy. Made once per geometry, so that scaling a frame spends no
// search or branch per row on it.
struct RowSchedule {
  struct Step {
    uint8_t batch, top, bottom, fy;
  };
  RowTaps taps{};
  int64_t dstHeight = -1;
  std::vector<Step> steps;
  std::vector<int64_t> rows;
  std::vector<RowPair> pairs;  // the same for a kernel that holds two blended rows
  std::vector<Band> bands;     // the same for a kernel that makes output rows by bands
  // True when the bands fetch at least one source row per output row (the
  // picture is not made taller): upscales, many output rows to a band, went
  // faster through the ring.
  bool bandsPay = false;

  bool Complete() const { return static_cast<int64_t>(steps.size()) == dstHeight; }

  // Leaves the schedule incomplete if it cannot be made.
  void Make(const RowTaps& geometry, int64_t height) {
    taps = geometry;
    dstHeight = height;
    steps.clear();
    rows.clear();
    pairs.clear();
    bands.clear();
    steps.reserve(static_cast<size_t>(height));
    pairs.reserve(static_cast<size_t>(height));
    RowWalk walk{taps, dstHeight};
    int64_t held[kRing];
    std::fill(held, held + kRing, -1);
    auto slot = [&](int64_t r) {
      for (int k = 0; k < kRing; ++k) {
        if (held[k] == r) return k;
      }
      return -1;
    };
    RowPair pair{-1, -1, 0, RowPair::kBlend, RowPair::kBlend};
    for (int64_t i = 0; i < dstHeight; ++i) {
      const RowTaps::Rows t = taps.Of(i);
      pair = NextRowPair(pair, static_cast<int32_t>(t.top), static_cast<int32_t>(t.bottom), t.fy);
      pairs.push_back(pair);
      AddBandRow(bands, static_cast<int32_t>(i), static_cast<int32_t>(t.top), static_cast<int32_t>(t.bottom), t.fy);
      Step step{0, 0, 0, static_cast<uint8_t>(t.fy)};
      // The missing rows are the walk's next; one batch brings both.
      if (slot(t.top) < 0 || (t.fy && slot(t.bottom) < 0)) {
        for (int64_t r; step.batch < kMaxRows && walk.Next(&r); ++step.batch) {
          held[rows.size() % kRing] = r;
          rows.push_back(r);
        }
      }
      const int top = slot(t.top), bottom = t.fy ? slot(t.bottom) : top;
      if (top < 0 || bottom < 0) return;  // cannot happen: the walk holds every row an output row needs
      step.top = static_cast<uint8_t>(top);
      step.bottom = static_cast<uint8_t>(bottom);
      steps.push_back(step);
    }
    int64_t bandRows = 0;
    for (const Band& band : bands) bandRows += band.rowCount;
    bandsPay = bandRows >= dstHeight;
  }
};

// The tap plans and row schedules of the last geometries scaled on this thread.
struct ScaleCache {
  PlanCache plans;
  RowSchedule schedules[2];
  int nextSchedule = 0;

  // Null when there is no memory for it.
  const RowSchedule* ScheduleFor(const RowTaps& t, int64_t dstHeight) {
    for (const RowSchedule& s : schedules) {
      if (s.dstHeight == dstHeight && s.taps.stepY == t.stepY && s.taps.y0 == t.y0 && s.taps.lastRow == t.lastRow &&
          s.taps.sy == t.sy)
        return s.Complete() ? &s : nullptr;
    }
    RowSchedule& s = schedules[nextSchedule];
    nextSchedule = (nextSchedule + 1) % 2;
    try {
      s.Make(t, dstHeight);
    } catch (const std::bad_alloc&) {
      s.steps.clear();
    }
    return s.Complete() ? &s : nullptr;
  }
};

// Null when there is no memory for it.
ScaleCache* ThreadCache() {
  thread_local std::unique_ptr<ScaleCache> cache;
  if (!cache) cache.reset(new (std::nothrow) ScaleCache);
  return cache.get();
}

// A run of n output columns from j0 for a kernel that holds its blended rows
// in registers.
struct ColumnsRun {
  ScaleColumnsFn columns;
  const PlanCache::Entry* planned;
  const RowSchedule* schedule;
  int64_t srcStride, dstWidth, x0, j0, n;
};

// The run of each plane. Out of line and with its arguments in one place, so
// that the row loop of the kernels without one keeps its frame as it was.
[[gnu::noinline]] void ScaleColumns(const ColumnsRun& run, std::initializer_list<Plane> planes) {
  for (const Plane& plane : planes) {
    if (plane.src && plane.dst)
      run.columns(plane.dst + run.j0, run.dstWidth, plane.src + run.x0, run.srcStride, run.planned->plan,
                  run.planned->quads, run.schedule->pairs.data(), run.schedule->dstHeight, run.n);
  }
}

// Bilinear scaling of the window (x0, y0, w, h) of one plane (rows srcStride
// bytes, srcHeight rows) to dstWidth x dstHeight. Large reductions sample taps
// 2^shift apart. The step is based on w - 1, so the taps stay inside the
// window; a window one sample wide or high repeats its only sample.
//
// Each output sample is (w00 a + w01 b + w10 c + w11 d) >> 6. It is made as a
// horizontal blend of each of its two tap rows, (8 - fx) left + fx right, then
// a vertical one, ((8 - fy) upper + fy lower) >> 6: the same sum, regrouped.
// Output columns go in runs of up to 8 x kTapGroups; within a run each source
// row is blended horizontally once, kMaxRows rows to a call in the order the
// output rows need them, into a ring of blended rows, as the geometry's row
// schedule says. Planes of the same geometry (the two chroma planes) share the
// taps and the schedule; a plane whose source or destination is missing is
// left out. The references take ScalePlaneColumnsFirst instead; a kernel that
// keeps the blended rows in registers (AVX-512) takes a run whose plan's quads
// all fit whole, strip by strip, with the schedule's row pairs; a kernel that
// makes output rows by bands (AVX2) takes a run whose groups all fit, where
// the schedule's bands fetch at least a source row per output row.
void ScalePlanarFrame(std::initializer_list<Plane> planes, int64_t srcStride, int64_t srcHeight,
                      int64_t dstWidth, int64_t dstHeight, int64_t x0, int64_t y0, int64_t w, int64_t h) {
  if (dstWidth <= 0 || dstHeight <= 0 || x0 < 0 || y0 < 0) return;
  const int64_t W = Min(w, srcStride - x0), H = Min(h, srcHeight - y0);
  if (W <= 0 || H <= 0) return;
  const int sx = SubsampleShift(W / dstWidth), sy = SubsampleShift(H / dstHeight);
  const int64_t stepX = (((W - 1) >> sx) << kPosBits) / dstWidth;
  const int64_t stepY = ((((H - 1) >> sy) & 0xFFFF) << kPosBits) / dstHeight;
  const RowTaps rowTaps{stepY, y0, y0 + H - 1, sy};
  ScaleDsp dsp;
  init_scale_dsp(dsp, ov::GetCpuFlags());
  ScaleCache* cache = dsp.columnsFirst ? nullptr : ThreadCache();
  const RowSchedule* schedule = cache ? cache->ScheduleFor(rowTaps, dstHeight) : nullptr;
  if (!schedule) {
    for (const Plane& plane : planes) {
      if (plane.src && plane.dst)
        ScalePlaneColumnsFirst(plane.src, plane.dst, srcStride, dstWidth, dstHeight, x0, W, sx, stepX, rowTaps);
    }
    return;
  }
  constexpr int64_t kChunk = 8 * kTapGroups;  // output columns per run
  int32_t left[kChunk], right[kChunk];
  uint8_t frac[kChunk];
  alignas(64) uint16_t blended[kRing][kChunk];  // whole cache lines: no blend store or load is split
  for (int64_t j0 = 0; j0 < dstWidth; j0 += kChunk) {
    const ColumnRun run{stepX, W - 1, srcStride - x0, j0, Min(kChunk, dstWidth - j0), sx};
    const int64_t n = run.n;
    const PlanCache::Entry* planned = cache->plans.For(run, left, right, frac);
    const TapPlan* plan = planned ? &planned->plan : nullptr;
    if (plan && dsp.columns && planned->quads.fitting == (plan->groups + 3) / 4) {
      ScaleColumns({dsp.columns, planned, schedule, srcStride, dstWidth, x0, j0, n}, planes);
      continue;
    }
    if (plan && dsp.bands && schedule->bandsPay && plan->fitting == plan->groups) {
      for (const Plane& plane : planes) {
        if (plane.src && plane.dst)
          dsp.bands(plane.dst + j0, dstWidth, plane.src + x0, srcStride, planned->bandTaps, schedule->bands.data(),
                    static_cast<int64_t>(schedule->bands.size()), n);
      }
      continue;
    }
    if (!plan) run.Taps(left, right, frac);
    for (const Plane& plane : planes) {
      if (!plane.src || !plane.dst) continue;
      const uint8_t* src = plane.src + x0;
      uint8_t* out = plane.dst + j0;
      if (!plan) {
        // Taps too far apart for a plan (reductions beyond about 30:1).
        for (int64_t i = 0; i < dstHeight; ++i, out += dstWidth) {
          const RowTaps::Rows t = rowTaps.Of(i);
          const uint8_t* s0 = src + t.top * srcStride;
          const uint8_t* s1 = src + t.bottom * srcStride;
          for (int64_t j = 0; j < n; ++j) {
            const int a = (8 - frac[j]) * s0[left[j]] + frac[j] * s0[right[j]];
            const int b = (8 - frac[j]) * s1[left[j]] + frac[j] * s1[right[j]];
            out[j] = static_cast<uint8_t>(((8 - t.fy) * a + t.fy * b) >> 6);
          }
        }
        continue;
      }
      const int64_t* nextRow = schedule->rows.data();
      for (int64_t i = 0, made = 0; i < dstHeight; ++i, out += dstWidth) {
        const RowSchedule::Step step = schedule->steps[static_cast<size_t>(i)];
        if (step.batch) {
          uint16_t* dstRows[kMaxRows];
          const uint8_t* srcRows[kMaxRows];
          for (int k = 0; k < step.batch; ++k) {
            dstRows[k] = blended[(made + k) % kRing];
            srcRows[k] = src + nextRow[k] * srcStride;
          }
          dsp.horizontal(dstRows, srcRows, step.batch, *plan);
          made += step.batch;
          nextRow += step.batch;
        }
        dsp.vertical(out, blended[step.top], blended[step.bottom], step.fy, n);
      }
    }
  }
}

struct PlaneArgs {
  int64_t srcW, srcH, dstW, dstH, x, y;
};

// 2:1 in both directions, (9a + 3b + 3c + d) / 16 of each 2x2 block. Each
// output row moves the source on by 2 x dstW + srcW bytes (two rows when the
// source is twice as wide); a walk that would leave the plane is refused.
void DownBy2Plane(const uint8_t* src, uint8_t* dst, const PlaneArgs& a) {
  if (!src || !dst || a.dstW <= 0 || a.dstH <= 0) return;
  const int64_t start = a.y * a.srcW + a.x, advance = 2 * a.dstW + a.srcW;
  if (start + (a.dstH - 1) * advance + a.srcW + 2 * a.dstW > a.srcW * a.srcH) return;
  for (int64_t i = 0; i < a.dstH; ++i) {
    const uint8_t* p = src + start + i * advance;
    const uint8_t* q = p + a.srcW;
    uint8_t* o = dst + i * a.dstW;
    for (int64_t j = 0; j < a.dstW; ++j)
      o[j] = static_cast<uint8_t>((9 * p[2 * j] + 3 * p[2 * j + 1] + 3 * q[2 * j] + q[2 * j + 1]) >> 4);
  }
}

// 1:2 of the window from (x, y) to the plane's end, output rows 2 x srcW
// bytes apart: even samples copied, odd ones the truncated mean of their
// neighbours, the last column and row repeating the ones before.
void UpBy2Plane(const uint8_t* src, uint8_t* dst, const PlaneArgs& a) {
  if (!src || !dst) return;
  const int64_t m = a.srcW - a.x, n = a.srcH - a.y, stride = 2 * a.srcW;
  if (m <= 0 || n <= 0 || (2 * n - 1) * stride + 2 * m > a.dstW * a.dstH) return;
  for (int64_t i = 0; i < n; ++i) {
    const uint8_t* s = src + (a.y + i) * a.srcW + a.x;
    uint8_t* o = dst + 2 * i * stride;
    for (int64_t j = 0; j + 1 < m; ++j) {
      o[2 * j] = s[j];
      o[2 * j + 1] = static_cast<uint8_t>((s[j] + s[j + 1]) >> 1);
    }
    o[2 * m - 2] = s[m - 1];
    o[2 * m - 1] = s[m - 1];
  }
  for (int64_t i = 0; i + 1 < n; ++i) {
    const uint8_t* above = dst + 2 * i * stride;
    const uint8_t* below = above + 2 * stride;
    uint8_t* o = dst + (2 * i + 1) * stride;
    for (int64_t x = 0; x < 2 * m; ++x) o[x] = static_cast<uint8_t>((above[x] + below[x]) >> 1);
  }
  std::memcpy(dst + (2 * n - 1) * stride, dst + (2 * n - 2) * stride, static_cast<size_t>(2 * m));
}

// 1:4: each 2x2 source neighbourhood f d / c e gives a 4x4 block of repeated
// truncated halvings; the last four columns and rows repeat the four before.
void UpBy4Plane(const uint8_t* src, uint8_t* dst, const PlaneArgs& a) {
  if (!src || !dst || a.dstW < 8 || a.dstH < 8) return;
  const int64_t blocksX = (a.dstW - 1) / 4;  // blocks for output columns below dstW - 4
  const int64_t blocksY = ((a.dstH - 5) >> 2) + 1;
  if (a.x + blocksX >= a.srcW || a.y + blocksY >= a.srcH) return;
  const int64_t dw = a.dstW;
  for (int64_t i = 0; i < blocksY; ++i) {
    const uint8_t* s0 = src + (a.y + i) * a.srcW + a.x;
    const uint8_t* s1 = s0 + a.srcW;
    uint8_t* o = dst + 4 * i * dw;
    for (int64_t j = 0; j < blocksX; ++j) {
      const int f = s0[j], d = s0[j + 1], c = s1[j], e = s1[j + 1];
      const int g = (f + d) >> 1, m = (f + c) >> 1, h = (c + d) >> 1, l = (d + e) >> 1;
      const int g2 = (g + h) >> 1, h2 = (h + ((c + e) >> 1)) >> 1;
      const int fm = (f + m) >> 1, cm = (c + m) >> 1;
      const int block[4][4] = {{f, (f + g) >> 1, g, (d + g) >> 1},
                               {fm, (fm + g2) >> 1, g2, (g2 + ((d + l) >> 1)) >> 1},
                               {m, (m + h) >> 1, (m + l) >> 1, (h + l) >> 1},
                               {cm, (cm + h2) >> 1, h2, (h2 + ((e + l) >> 1)) >> 1}};
      for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) o[r * dw + 4 * j + k] = static_cast<uint8_t>(block[r][k]);
      }
    }
  }
  for (int64_t r = 0; r < 4 * blocksY; ++r) std::memmove(dst + r * dw + dw - 4, dst + r * dw + dw - 8, 4);
  for (int64_t r = a.dstH - 4; r < a.dstH; ++r)
    std::memmove(dst + r * dw, dst + (r - 4) * dw, static_cast<size_t>(dw));
}

// 4:3: each 4x4 source block gives a 3x3 block. Each block row moves the
// source on by four columns per block and then three rows (four rows when the
// source is 4/3 as wide); a walk that would leave the plane is refused.
void DownTo3By3Plane(const uint8_t* src, uint8_t* dst, const PlaneArgs& a) {
  if (!src || !dst || a.dstW <= 0 || a.dstH <= 0) return;
  const int64_t blocksX = a.dstW / 3, blocksY = a.dstH / 3;
  if (blocksX == 0 || blocksY == 0) return;
  const int64_t start = a.y * a.srcW + a.x, advance = 4 * blocksX + 3 * a.srcW;
  if (start + (blocksY - 1) * advance + 3 * a.srcW + 4 * blocksX > a.srcW * a.srcH) return;
  const int64_t sw = a.srcW;
  for (int64_t b = 0; b < blocksY; ++b) {
    const uint8_t* p = src + start + b * advance;
    uint8_t* o = dst + 3 * b * a.dstW;
    for (int64_t g = 0; g < blocksX; ++g, p += 4) {
      auto s = [&](int r, int c) { return int{p[r * sw + c]}; };
      const int out[3][3] = {
          {(9 * s(0, 0) + 3 * s(0, 1) + 3 * s(1, 0) + s(1, 1)) >> 4,
           (3 * s(0, 1) + 3 * s(0, 2) + s(1, 1) + s(1, 2)) >> 3,
           (3 * s(0, 2) + 9 * s(0, 3) + s(1, 2) + 3 * s(1, 3)) >> 4},
          {(3 * s(1, 0) + s(1, 1) + 3 * s(2, 0) + s(2, 1)) >> 3, (s(1, 1) + s(1, 2) + s(2, 1) + s(2, 2)) >> 2,
           (s(1, 2) + 3 * s(1, 3) + s(2, 2) + 3 * s(2, 3)) >> 3},
          {(3 * s(2, 0) + s(2, 1) + 9 * s(3, 0) + 3 * s(3, 1)) >> 4,
           (s(2, 1) + s(2, 2) + 3 * s(3, 1) + 3 * s(3, 2)) >> 3,
           (s(2, 2) + 3 * s(2, 3) + 3 * s(3, 2) + 9 * s(3, 3)) >> 4}};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) o[r * a.dstW + 3 * g + c] = static_cast<uint8_t>(out[r][c]);
      }
    }
  }
}

using PlaneWorker = void (*)(const uint8_t*, uint8_t*, const PlaneArgs&);

// Luma with the frames' own sizes, chroma with every size and position halved.
void ForEach420Plane(const YuvFrame* src, YuvFrame* dst, int64_t x, int64_t y, PlaneWorker worker) {
  if (!src || !dst) return;
  const int64_t sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  worker(src->y, dst->y, {sw, sh, dw, dh, x, y});
  const PlaneArgs c{sw / 2, sh / 2, dw / 2, dh / 2, x / 2, y / 2};
  worker(src->u, dst->u, c);
  worker(src->v, dst->v, c);
}

}  // namespace
}  // namespace imageproc

using namespace imageproc;

extern "C" void gScaleFrame(const YuvFrame* src, YuvFrame* dst) {
  if (!src || !dst) return;
  const int64_t sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  ScalePlanarFrame({{src->y, dst->y}}, sw, sh, dw, dh, 0, 0, sw, sh);
  ScalePlanarFrame({{src->u, dst->u}, {src->v, dst->v}}, sw / 2, sh / 2, dw / 2, dh / 2, 0, 0, sw / 2, sh / 2);
}

extern "C" void gScaleCroppedFrame(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY,
                                   uint32_t width, uint32_t height) {
  if (!src || !dst) return;
  const int64_t sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  const int64_t x = srcX, y = srcY, w = width & 0xFFFF, h = height & 0xFFFF;
  ScalePlanarFrame({{src->y, dst->y}}, sw, sh, dw, dh, x, y, w, h);
  ScalePlanarFrame({{src->u, dst->u}, {src->v, dst->v}}, sw / 2, sh / 2, dw / 2, dh / 2, x / 2, y / 2, w / 2,
                   h / 2);
}

extern "C" void gScaleCroppedFrameYUV422(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY,
                                         uint32_t width, uint32_t height) {
  if (!src || !dst) return;
  const int64_t sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  const int64_t x = srcX, y = srcY, w = width & 0xFFFF, h = height & 0xFFFF;
  ScalePlanarFrame({{src->y, dst->y}}, sw, sh, dw, dh, x, y, w, h);
  // Planar 4:2:2 chroma is halved horizontally only.
  ScalePlanarFrame({{src->u, dst->u}, {src->v, dst->v}}, sw / 2, sh, dw / 2, dh, x / 2, y, w / 2, h);
}

extern "C" int gYUV422toYUV420(const YuvFrame* src422, YuvFrame* dst420, int srcX, int srcY, uint32_t width,
                               uint32_t height) {
  if (!HasPlanes(src422) || !HasPlanes(dst420)) return kImageprocNoRoom;
  if (srcX < 0 || srcY < 0) return kImageprocBadSize;
  const int64_t sw = src422->width, sh = src422->height, dw = dst420->width, dh = dst420->height;
  const int64_t W = Min<int64_t>(width & 0xFFFF, sw - srcX), H = Min<int64_t>(height & 0xFFFF, sh - srcY);
  // The last two columns and rows repeat an earlier one: without one to
  // repeat (outputs under 4 x 4) or a 2 x 2 window there is nothing to make.
  if (W < 2 || H < 2 || dw < 4 || dh < 4) return kImageprocOk;
  const int64_t stepX = (W << kPosBits) / dw, stepY = (H << kPosBits) / dh;
  const int64_t lastRow = sh - srcY - 1;                      // relative to srcY
  const int64_t lastCol = srcX + W - 1;                       // window's last luma column
  const int64_t cw = sw / 2, lastCCol = Min((srcX + W - 1) / 2, cw - 1);
  const int64_t dcw = dw / 2;
  auto sourceRow = [&](int64_t p, int* fy) {
    int64_t r = p >> kPosBits;
    if (r == lastRow) --r;  // so that the row below exists
    *fy = static_cast<int>((p >> kFracShift) & 7);
    return srcY + r;
  };
  for (int64_t k = 0; k <= (dh - 3) / 2; ++k) {
    const int64_t pUpper = 1 + 2 * k * stepY;
    for (int half = 0; half < 2; ++half) {
      int fy = 0;
      const int64_t r = sourceRow(pUpper + half * stepY, &fy);
      const uint8_t* s0 = src422->y + r * sw;
      const uint8_t* s1 = s0 + sw;
      uint8_t* o = dst420->y + (2 * k + half) * dw;
      for (int64_t c = 0; c < dw - 2; ++c) {
        const int64_t q = 1 + c * stepX;
        const int64_t x0 = srcX + (q >> kPosBits), x1 = Min(x0 + 1, lastCol);
        const int frac = (fy << 3) + static_cast<int>((q >> kFracShift) & 7);
        o[c] = static_cast<uint8_t>(Bilinear(s0[x0], s0[x1], s1[x0], s1[x1], frac));
      }
      o[dw - 2] = o[dw - 3];
      o[dw - 1] = o[dw - 3];
      if (half) continue;
      // One chroma row per pair, from the 4:2:2 chroma rows at the upper
      // luma row's position.
      const uint8_t* planes[2] = {src422->u, src422->v};
      uint8_t* outs[2] = {dst420->u + k * dcw, dst420->v + k * dcw};
      for (int p = 0; p < 2; ++p) {
        const uint8_t* c0 = planes[p] + r * cw;
        const uint8_t* c1 = c0 + cw;
        uint8_t* co = outs[p];
        for (int64_t c = 0; c + 1 < dcw; ++c) {
          const int64_t pos = (c * stepX + 1) >> kFracShift;  // eighths of a chroma column
          const int64_t x0 = Min(srcX / 2 + (pos >> 3), lastCCol), x1 = Min(x0 + 1, lastCCol);
          const int frac = (fy << 3) + static_cast<int>(pos & 7);
          co[c] = static_cast<uint8_t>(Bilinear(c0[x0], c0[x1], c1[x0], c1[x1], frac));
        }
        co[dcw - 1] = co[dcw - 2];
      }
    }
  }
  std::memcpy(dst420->y + (dh - 2) * dw, dst420->y + (dh - 3) * dw, static_cast<size_t>(dw));
  std::memcpy(dst420->y + (dh - 1) * dw, dst420->y + (dh - 3) * dw, static_cast<size_t>(dw));
  const int64_t dch = dh / 2;
  std::memcpy(dst420->u + (dch - 1) * dcw, dst420->u + (dch - 2) * dcw, static_cast<size_t>(dcw));
  std::memcpy(dst420->v + (dch - 1) * dcw, dst420->v + (dch - 2) * dcw, static_cast<size_t>(dcw));
  return kImageprocOk;
}

extern "C" void gScaleCroppedFrame_downby2(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY,
                                           uint32_t, uint32_t) {
  ForEach420Plane(src, dst, srcX, srcY, DownBy2Plane);
}

extern "C" void gScaleCroppedFrame_upby2(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY) {
  ForEach420Plane(src, dst, srcX, srcY, UpBy2Plane);
}

extern "C" void gScaleCroppedFrame_upby4(const YuvFrame* src, YuvFrame* dst, uint32_t srcX, uint32_t srcY) {
  ForEach420Plane(src, dst, srcX, srcY, UpBy4Plane);
}

extern "C" void gScaleCroppedFrame_downto3by3(const YuvFrame* src, YuvFrame* dst, uint32_t srcX,
                                              uint32_t srcY, uint32_t, uint32_t) {
  ForEach420Plane(src, dst, srcX, srcY, DownTo3By3Plane);
}
