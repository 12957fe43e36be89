// Bilinear scalers for RGB565 pictures and packed Y0,U,Y1,V pictures, the
// latter also into planar 4:2:2 or 4:2:0 strips so that a large output can be
// made in a small buffer over several calls.
#include <cstring>
#include <memory>
#include <new>

#include "imageproc/imageproc.h"
#include "imageproc/imageproc_tables.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scale_dsp.h"
#include "platform/cpu/cpu.h"

namespace imageproc {
namespace {

constexpr int kPosBits = 18;
constexpr int kFracShift = 15;

inline int Weighted(int a, int b, int c, int d, int frac) {
  return kBilinearWeights[0][frac] * a + kBilinearWeights[1][frac] * b + kBilinearWeights[2][frac] * c +
         kBilinearWeights[3][frac] * d;
}

// RGB565: each channel widened to 8 bits, weighted in 64ths and narrowed
// straight back by truncation.
inline uint16_t Blend565(uint16_t a, uint16_t b, uint16_t c, uint16_t d, int frac) {
  const int red = Weighted((a >> 11) << 3, (b >> 11) << 3, (c >> 11) << 3, (d >> 11) << 3, frac) >> 9;
  const int green = Weighted(((a >> 5) & 63) << 2, ((b >> 5) & 63) << 2, ((c >> 5) & 63) << 2,
                             ((d >> 5) & 63) << 2, frac) >>
                    8;
  const int blue = Weighted((a & 31) << 3, (b & 31) << 3, (c & 31) << 3, (d & 31) << 3, frac) >> 9;
  return static_cast<uint16_t>((red << 11) | (green << 5) | blue);
}

// The geometry of a packed scaler: window in pixels and taps 2^shift apart.
// Right and lower taps are clamped to the window's last column and row, so
// upscales never read past a row.
struct PackedGeometry {
  const uint8_t* src;  // first byte of the window
  int64_t rowBytes, w, h;
  int sx, sy;
  int64_t stepX, stepY;

  struct Taps {
    const uint8_t* s0;
    const uint8_t* s1;
    int fy;
  };

  // The two source rows of output row r: the upper tap row is pulled back so
  // that the lower one (2^sy further) stays inside the window.
  Taps RowTaps(int64_t r) const {
    const int64_t p = 1 + r * stepY, tap = int64_t{1} << sy;
    int64_t row = (p >> kPosBits) << sy;
    if (row >= h - tap) row = h - 2 * tap;
    if (row < 0) row = 0;
    return {src + row * rowBytes, src + Min(row + tap, h - 1) * rowBytes, static_cast<int>((p >> kFracShift) & 7)};
  }

  void Luma(const Taps& t, int64_t dstW, uint8_t* y, ptrdiff_t yStep) const {
    const int64_t tap = int64_t{1} << sx;
    for (int64_t c = 0; c < dstW; ++c) {
      const int64_t q = 1 + c * stepX;
      const int64_t x0 = Min((q >> kPosBits) << sx, w - 1), x1 = Min(x0 + tap, w - 1);
      const int frac = (t.fy << 3) + static_cast<int>((q >> kFracShift) & 7);
      y[c * yStep] = static_cast<uint8_t>(Weighted(t.s0[2 * x0], t.s0[2 * x1], t.s1[2 * x0], t.s1[2 * x1], frac) >> 6);
    }
  }

  // Chroma of output pair j at byte `at` of a group (1 for U, 3 for V).
  int Chroma(const Taps& t, int64_t j, int at) const {
    const int64_t tap = int64_t{1} << sx, lastGroup = w / 2 - 1;
    const int64_t pos = (j * stepX + 1) >> kFracShift;  // eighths of a pixel pair
    const int64_t g0 = Min((pos >> 3) << sx, lastGroup), g1 = Min(g0 + tap, lastGroup);
    const int frac = (t.fy << 3) + static_cast<int>(pos & 7);
    return Weighted(t.s0[4 * g0 + at], t.s0[4 * g1 + at], t.s1[4 * g0 + at], t.s1[4 * g1 + at], frac) >> 6;
  }
};

// Window (x, y, w, h) of a packed picture of srcW x srcH pixels; false when it
// holds less than one pixel pair in either direction.
bool MakeGeometry(const uint8_t* src, int64_t srcW, int64_t srcH, int64_t dstW, int64_t dstH, int64_t x,
                  int64_t y, int64_t w, int64_t h, PackedGeometry* g) {
  if (dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0) return false;
  x &= ~int64_t{1};  // a window starts on a whole group
  const int64_t W = Min(w, (srcW & ~int64_t{1}) - x) & ~int64_t{1}, H = Min(h, srcH - y);
  if (W < 2 || H < 2) return false;
  g->rowBytes = 2 * srcW;
  g->src = src + y * g->rowBytes + 2 * x;
  g->w = W;
  g->h = H;
  g->sx = SubsampleShift(W / dstW);
  g->sy = SubsampleShift(H / dstH);
  g->stepX = ((W >> g->sx) << kPosBits) / dstW;
  g->stepY = ((H >> g->sy) << kPosBits) / dstH;
  return true;
}

// Output columns per run of the RGB565 scaler (a multiple of 8: its three
// fields side by side fill a tap plan) and the source columns a run may split.
constexpr int64_t kFieldRun = 8 * kTapGroups / 3;
constexpr int64_t kFieldSpan = 4 * kFieldRun;

// A run of n output columns from j0 of the RGB565 scaler, and its taps: the
// red field's, then the green and blue fields' one and two spans on, each
// field's columns padded to a whole group with the last column.
struct FieldRun {
  int64_t stepX, W, j0, n;
  bool operator==(const FieldRun&) const = default;

  int64_t First() const { return (1 + j0 * stepX) >> kPosBits; }
  int64_t Padded() const { return (n + 7) & ~int64_t{7}; }

  void Taps(int32_t* left, int32_t* right, uint8_t* frac) const {
    const int64_t first = First(), padded = Padded();
    for (int64_t j = 0; j < padded; ++j) {
      // Columns past n (to a whole group) repeat the last one.
      const int64_t q = 1 + (j0 + Min(j, n - 1)) * stepX;
      const int64_t c0 = q >> kPosBits;
      left[j] = static_cast<int32_t>(c0 - first);
      right[j] = static_cast<int32_t>(Min(c0 + 1, W - 1) - first);
      frac[j] = static_cast<uint8_t>((q >> kFracShift) & 7);
    }
    const int64_t span = right[n - 1] + 1;
    for (int c = 1; c < 3; ++c) {
      for (int64_t j = 0; j < padded; ++j) {
        left[c * padded + j] = static_cast<int32_t>(left[j] + c * span);
        right[c * padded + j] = static_cast<int32_t>(right[j] + c * span);
        frac[c * padded + j] = frac[j];
      }
    }
  }

  // False where the run's taps are too far apart for a plan.
  bool Plan(TapPlan& plan, const int32_t* left, const int32_t* right, const uint8_t* frac) const {
    const int64_t span = right[n - 1] + 1;
    return span <= kFieldSpan && MakeTapPlan(plan, left, right, frac, static_cast<int>(3 * Padded()), 3 * span);
  }
};

// The tap plans of the last runs scaled on this thread: every frame of a clip
// has the same geometry, and making the plan cost as much as a tenth of a
// small frame.
struct FieldPlans {
  struct Entry {
    FieldRun run{};
    bool valid = false, planned = false;
    int64_t span = 0;
    TapPlan plan;
  };
  static constexpr int kEntries = 4;
  Entry entries[kEntries];
  int next = 0;

  const Entry* Find(const FieldRun& run) const {
    for (const Entry& e : entries) {
      if (e.valid && e.run == run) return &e;
    }
    return nullptr;
  }

  const Entry* Add(const FieldRun& run, const int32_t* left, const int32_t* right, const uint8_t* frac) {
    Entry& e = entries[next];
    next = (next + 1) % kEntries;
    e.run = run;
    e.valid = true;
    e.span = right[run.n - 1] + 1;
    e.planned = run.Plan(e.plan, left, right, frac);
    return &e;
  }
};

// Null when there is no memory for it.
FieldPlans* ThreadFieldPlans() {
  thread_local std::unique_ptr<FieldPlans> plans;
  if (!plans) plans.reset(new (std::nothrow) FieldPlans);
  return plans.get();
}

int StripScale(const uint8_t* src, uint8_t* dst, uint32_t srcWidth, int srcHeight, uint32_t dstWidth,
               uint32_t dstHeight, uint32_t* bufferBytes, uint32_t* strip, bool to420) {
  if (!src || !dst || !bufferBytes || !strip) return kImageprocNoRoom;
  const int64_t dw = dstWidth, dh = dstHeight;
  const int64_t stripRows = to420 ? 16 : 8;
  if (*strip > (dstHeight >> (to420 ? 4 : 3))) return kImageprocOk;
  const int64_t firstRow = int64_t{*strip} * stripRows;
  if (firstRow >= dh) return kImageprocOk;  // no rows remain: nothing to make
  PackedGeometry g{};
  if (!MakeGeometry(src, srcWidth, srcHeight, dw, dh, 0, 0, srcWidth, srcHeight, &g)) return kImageprocBadSize;
  const int64_t remaining = dh - firstRow;
  auto chromaRows = [&](int64_t rows) { return to420 ? (rows + 1) / 2 : rows; };
  auto bytesFor = [&](int64_t rows) { return dw * rows + 2 * (dw / 2) * chromaRows(rows); };
  const int64_t stripBytes = dw * (to420 ? 24 : 16);
  int64_t rows = remaining;
  bool repeatLast = true;
  if (int64_t{*bufferBytes} < bytesFor(remaining)) {
    const int64_t strips = *bufferBytes / stripBytes;
    if (strips == 0) return kImageprocNoRoom;
    rows = strips * stripRows;
    repeatLast = false;
    *strip = static_cast<uint32_t>(strips);
    *bufferBytes = static_cast<uint32_t>(strips * stripBytes);
  } else {
    *strip = static_cast<uint32_t>((remaining + stripRows - 1) / stripRows);
  }
  // A single remaining row is interpolated; otherwise the final row (and the
  // final chroma row) repeats the one before it.
  if (rows < 2) repeatLast = false;
  const int64_t cw = dw / 2, crows = chromaRows(rows);
  uint8_t* yPlane = dst;
  uint8_t* uPlane = yPlane + dw * rows;
  uint8_t* vPlane = uPlane + cw * crows;
  const int64_t lumaMade = repeatLast ? rows - 1 : rows;
  const int64_t chromaMade = repeatLast && crows >= 2 ? crows - 1 : crows;
  for (int64_t k = 0; k < lumaMade; ++k) g.Luma(g.RowTaps(firstRow + k), dw, yPlane + k * dw, 1);
  for (int64_t k = 0; k < chromaMade; ++k) {
    uint8_t* u = uPlane + k * cw;
    uint8_t* v = vPlane + k * cw;
    if (!to420) {
      const PackedGeometry::Taps t = g.RowTaps(firstRow + k);
      for (int64_t j = 0; j < cw; ++j) {
        u[j] = static_cast<uint8_t>(g.Chroma(t, j, 1));
        v[j] = static_cast<uint8_t>(g.Chroma(t, j, 3));
      }
      continue;
    }
    // 4:2:0: the mean of the chroma interpolated at the pair's two rows.
    const PackedGeometry::Taps a = g.RowTaps(firstRow + 2 * k);
    const PackedGeometry::Taps b = g.RowTaps(firstRow + Min(2 * k + 1, rows - 1));
    for (int64_t j = 0; j < cw; ++j) {
      u[j] = static_cast<uint8_t>((g.Chroma(a, j, 1) + g.Chroma(b, j, 1)) >> 1);
      v[j] = static_cast<uint8_t>((g.Chroma(a, j, 3) + g.Chroma(b, j, 3)) >> 1);
    }
  }
  if (lumaMade < rows) std::memcpy(yPlane + (rows - 1) * dw, yPlane + (rows - 2) * dw, static_cast<size_t>(dw));
  if (chromaMade < crows) {
    std::memcpy(uPlane + (crows - 1) * cw, uPlane + (crows - 2) * cw, static_cast<size_t>(cw));
    std::memcpy(vPlane + (crows - 1) * cw, vPlane + (crows - 2) * cw, static_cast<size_t>(cw));
  }
  return kImageprocOk;
}

}  // namespace
}  // namespace imageproc

using namespace imageproc;

extern "C" void gScaleRGB565CroppedFrame(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight,
                                         int dstWidth, int dstHeight, int srcX, int srcY, int width,
                                         int height) {
  if (!src || !dst || srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
  if (srcX < 0 || srcY < 0 || width < 0 || height < 0) return;
  const int64_t W = Min<int64_t>(width, int64_t{srcWidth} - srcX);
  const int64_t H = Min<int64_t>(height, int64_t{srcHeight} - srcY);
  if (W <= 0 || H <= 0) return;
  const int64_t dw = dstWidth, dh = dstHeight, sw = srcWidth;
  const int64_t stepX = (W << kPosBits) / dw, stepY = (H << kPosBits) / dh;
  // All but the last row and column are interpolated; those repeat their
  // neighbour (a one-pixel output is interpolated).
  const int64_t rowsMade = dh > 1 ? dh - 1 : 1, colsMade = dw > 1 ? dw - 1 : 1;
  auto rowTaps = [&](int64_t i, int* fy) {
    const int64_t p = 1 + i * stepY;
    int64_t r = p >> kPosBits;
    if (r == H - 1 && r > 0) --r;  // so that the row below exists
    *fy = static_cast<int>((p >> kFracShift) & 7);
    return r;
  };
  // Each field is blended on its own as a plane of 5- or 6-bit samples (the
  // sum of the weights is 64, so a field's blend, >> 6, stays in its bits),
  // by the planar scalers' row kernels: each source row is split into its
  // fields, side by side in one buffer, and blended horizontally once under
  // one plan for all three; two such rows are blended per output row. Runs of
  // output columns whose taps a plan cannot hold (reductions beyond about
  // 30:1) are blended pixel by pixel.
  ScaleDsp dsp;
  init_scale_dsp(dsp, ov::GetCpuFlags());
  constexpr int64_t kRun = kFieldRun;
  int32_t left[3 * kRun], right[3 * kRun];
  uint8_t frac[3 * kRun];
  uint8_t fields[3 * kFieldSpan];
  uint16_t blended[2][3 * kRun];
  uint8_t out[3 * kRun];
  FieldPlans* plans = ThreadFieldPlans();
  for (int64_t j0 = 0; j0 < colsMade; j0 += kRun) {
    const int64_t n = Min(kRun, colsMade - j0);
    const FieldRun run{stepX, W, j0, n};
    const int64_t padded = run.Padded();
    const FieldPlans::Entry* cached = plans ? plans->Find(run) : nullptr;
    if (!cached || !cached->planned) run.Taps(left, right, frac);
    if (!cached && plans) cached = plans->Add(run, left, right, frac);
    const int64_t first = run.First(), span = cached ? cached->span : right[n - 1] + 1;
    TapPlan ownPlan;
    const bool planned = cached ? cached->planned : run.Plan(ownPlan, left, right, frac);
    const TapPlan& plan = cached ? cached->plan : ownPlan;
    int64_t held[2] = {-1, -1};
    auto rowBlend = [&](int64_t r, int64_t keep) -> const uint16_t* {
      for (int k = 0; k < 2; ++k) {
        if (held[k] == r) return blended[k];
      }
      const int k = held[0] == keep ? 1 : 0;
      dsp.unpack565(fields, fields + span, fields + 2 * span, src + (srcY + r) * sw + srcX + first, span);
      uint16_t* rows[1] = {blended[k]};
      const uint8_t* sources[1] = {fields};
      dsp.horizontal(rows, sources, 1, plan);
      held[k] = r;
      return blended[k];
    };
    for (int64_t i = 0; i < rowsMade; ++i) {
      int fy = 0;
      const int64_t r = rowTaps(i, &fy), r1 = Min(r + 1, H - 1);
      uint16_t* o = dst + i * dw + j0;
      if (!planned) {
        const uint16_t* s0 = src + (srcY + r) * sw + srcX + first;
        const uint16_t* s1 = src + (srcY + r1) * sw + srcX + first;
        for (int64_t j = 0; j < n; ++j)
          o[j] = Blend565(s0[left[j]], s0[right[j]], s1[left[j]], s1[right[j]], (fy << 3) + frac[j]);
        continue;
      }
      const uint16_t* top = rowBlend(r, fy ? r1 : -1);
      const uint16_t* bottom = fy ? rowBlend(r1, r) : top;
      dsp.vertical(out, top, bottom, fy, 3 * padded);
      dsp.pack565(o, out, out + padded, out + 2 * padded, n);
    }
  }
  for (int64_t i = 0; i < rowsMade && dw > 1; ++i) dst[i * dw + dw - 1] = dst[i * dw + dw - 2];
  if (dh > 1) std::memcpy(dst + (dh - 1) * dw, dst + (dh - 2) * dw, static_cast<size_t>(dw) * 2);
}

extern "C" void gScaleRGB565Frame(const uint16_t* src, uint16_t* dst, int srcWidth, int srcHeight, int dstWidth,
                                  int dstHeight) {
  gScaleRGB565CroppedFrame(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, 0, 0, srcWidth, srcHeight);
}

extern "C" void gOvY1UY2VtoY1UY2V_Scale(const uint8_t* src, uint8_t* dst, uint32_t srcWidth, uint32_t srcHeight,
                                        uint32_t dstWidth, int dstHeight, uint32_t srcX, uint32_t srcY,
                                        uint32_t width, uint32_t height) {
  if (!src || !dst) return;
  PackedGeometry g{};
  if (!MakeGeometry(src, srcWidth, srcHeight, dstWidth, dstHeight, srcX, srcY, width, height, &g)) return;
  const int64_t groups = dstWidth / 2, rowBytes = 4 * groups, dh = dstHeight;
  // All rows but the last are interpolated; the last repeats the one before.
  const int64_t made = dh > 1 ? dh - 1 : 1;
  for (int64_t r = 0; r < made; ++r) {
    const PackedGeometry::Taps t = g.RowTaps(r);
    uint8_t* o = dst + r * rowBytes;
    g.Luma(t, 2 * groups, o, 2);
    for (int64_t j = 0; j < groups; ++j) {
      o[4 * j + 1] = static_cast<uint8_t>(g.Chroma(t, j, 1));
      o[4 * j + 3] = static_cast<uint8_t>(g.Chroma(t, j, 3));
    }
  }
  if (dh > 1) std::memcpy(dst + (dh - 1) * rowBytes, dst + (dh - 2) * rowBytes, static_cast<size_t>(rowBytes));
}

extern "C" int gOvScaleFrameYUYVtoYUV422P(const uint8_t* src, uint8_t* dst, uint32_t srcWidth, int srcHeight,
                                          uint32_t dstWidth, uint32_t dstHeight, uint32_t* bufferBytes,
                                          uint32_t* strip) {
  return StripScale(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, bufferBytes, strip, false);
}

extern "C" int gOvScaleFrameYUYVtoYUV420P(const uint8_t* src, uint8_t* dst, uint32_t srcWidth, int srcHeight,
                                          uint32_t dstWidth, uint32_t dstHeight, uint32_t* bufferBytes,
                                          uint32_t* strip) {
  return StripScale(src, dst, srcWidth, srcHeight, dstWidth, dstHeight, bufferBytes, strip, true);
}
