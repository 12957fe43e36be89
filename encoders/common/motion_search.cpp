#include "encoders/common/motion_search.h"

#include <cstdlib>

namespace venc {
namespace {

// Large diamond: eight points around the centre; the small diamond uses the
// four axial points (+1, 0), (0, -1), (-1, 0), (0, +1).
constexpr int kLargeX[9] = {0, 2, 1, 0, -1, -2, -1, 0, 1};
constexpr int kLargeY[9] = {0, 0, -1, -2, -1, 0, 1, 2, 1};
constexpr int kSmallX[5] = {0, 1, 0, -1, 0};
constexpr int kSmallY[5] = {0, 0, -1, 0, 1};

// Points of the large diamond that are new after a move in the direction of
// the row (1..8); the others were measured around the previous centre.
constexpr uint8_t kDiamondNextPoints[9][9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 1, 1, 0, 0, 0, 1, 1}, {0, 1, 1, 1, 0, 0, 0, 0, 0},
    {0, 1, 1, 1, 1, 1, 0, 0, 0}, {0, 0, 0, 1, 1, 1, 0, 0, 0}, {0, 0, 0, 1, 1, 1, 1, 1, 0},
    {0, 0, 0, 0, 0, 1, 1, 1, 0}, {0, 1, 0, 0, 0, 1, 1, 1, 1}, {0, 1, 0, 0, 0, 0, 0, 1, 1},
};

constexpr int kOpposite[5] = {0, 3, 4, 1, 2};

bool Inside(const SearchWindow& w, int vx, int vy) {
  return w.xMin <= w.x + vx && w.x + vx + 16 <= w.xMax && w.yMin <= w.y + vy && w.y + vy + 16 <= w.yMax;
}

bool IsZero(const MotionCandidate& c) { return c.x == 0 && c.y == 0; }
bool SameVector(const MotionCandidate& a, const MotionCandidate& b) { return a.x == b.x && a.y == b.y; }

struct Planes {
  const uint8_t* cur;  // the macroblock in the current picture
  const uint8_t* ref;  // the co-located position in the reference
  ptrdiff_t stride;
  const MotionDsp* dsp;

  uint32_t Sad(int vx, int vy) const { return dsp->sad16(cur, ref + vy * stride + vx, stride); }
  // Measures candidates[0..n) in batches of up to four.
  void SadBatch(MotionCandidate* c, int n) const {
    while (n > 0) {
      const int k = n > 4 ? (n == 5 ? 3 : 4) : n;
      const uint8_t* refs[4];
      uint32_t costs[4];
      for (int i = 0; i < k; ++i) refs[i] = ref + c[i].y * stride + c[i].x;
      if (k == 1) {
        costs[0] = dsp->sad16(cur, refs[0], stride);
      } else {
        dsp->sad16xn(cur, refs, k, stride, costs);
      }
      for (int i = 0; i < k; ++i) c[i].sad = costs[i];
      c += k;
      n -= k;
    }
  }
};

Planes PlanesOf(const MotionSearchContext& ctx, const SearchWindow& w, const MotionLayout& layout) {
  const ptrdiff_t stride = layout.width + 16;
  const ptrdiff_t offset = w.y * stride + w.x;
  return Planes{ctx.current + offset, ctx.reference + offset, stride, &ctx.dsp};
}

int16_t Median3(int a, int b, int c) {
  const int lo = a < b ? a : b, hi = a < b ? b : a;
  return static_cast<int16_t>(c < lo ? lo : (c > hi ? hi : c));
}

int16_t Median5(int v0, int v1, int v2, int v3, int v4) {
  const int min01 = v0 < v1 ? v0 : v1, max01 = v0 < v1 ? v1 : v0;
  const int min23 = v2 < v3 ? v2 : v3, max23 = v2 < v3 ? v3 : v2;
  return Median3(v4, max01 < max23 ? max01 : max23, min01 > min23 ? min01 : min23);
}

void SmallDiamondStep(const Planes& p, const SearchWindow& w, MotionCandidate& best) {
  const int bx = best.x, by = best.y;
  for (int k = 1; k <= 4; ++k) {
    const int vx = bx + kSmallX[k], vy = by + kSmallY[k];
    bool inside = false;
    switch (k) {
      case 1: inside = w.x + vx + 16 <= w.xMax; break;
      case 2: inside = w.yMin <= w.y + vy; break;
      case 3: inside = w.xMin <= w.x + vx; break;
      default: inside = w.y + vy + 16 <= w.yMax; break;
    }
    if (!inside) continue;
    const uint32_t sad = p.Sad(vx, vy);
    if (sad < best.sad) best = MotionCandidate{static_cast<int16_t>(vx), static_cast<int16_t>(vy), sad};
  }
}

void SmallDiamondSearch(const Planes& p, const SearchWindow& w, MotionCandidate* work, MotionCandidate& best) {
  int firstMove = 0, lastMove = 0;
  for (int pass = 0; pass < 3; ++pass) {
    const uint32_t centreCost = best.sad;
    const int bx = best.x, by = best.y;
    int points[4];
    int n = 0;
    for (int k = 1; k <= 4; ++k) {
      const bool outside = (k == 1 && w.x + bx + 16 >= w.xMax) || (k == 2 && w.y + by <= w.yMin) ||
                           (k == 3 && w.x + bx <= w.xMin) || (k == 4 && w.y + by + 16 >= w.yMax);
      if (outside) continue;
      if (pass >= 1 && k == kOpposite[lastMove]) continue;
      if (pass == 2 && k == kOpposite[firstMove]) continue;
      work[n] = MotionCandidate{static_cast<int16_t>(bx + kSmallX[k]), static_cast<int16_t>(by + kSmallY[k]), 0};
      points[n++] = k;
    }
    if (n == 0) return;
    p.SadBatch(work, n);
    int move = 0;
    for (int i = 0; i < n; ++i) {
      if (work[i].sad < best.sad) {
        best = work[i];
        move = points[i];
      }
    }
    if (best.sad == centreCost) return;
    if (pass == 0) firstMove = move;
    lastMove = move;
  }
}

// One pass of the large diamond around `best`: the points of `mask` inside
// the window are measured together; returns the direction of the move (0
// when none was better) or -1 when no point was inside.
int LargeDiamondPass(const Planes& p, const SearchWindow& w, MotionCandidate* work, const uint8_t* mask,
                     MotionCandidate& best) {
  const int bx = best.x, by = best.y;
  int points[8];
  int n = 0;
  for (int k = 1; k <= 8; ++k) {
    if (mask && !mask[k]) continue;
    const int vx = bx + kLargeX[k], vy = by + kLargeY[k];
    if (!Inside(w, vx, vy)) continue;
    work[n] = MotionCandidate{static_cast<int16_t>(vx), static_cast<int16_t>(vy), 0};
    points[n++] = k;
  }
  if (n == 0) return -1;
  // Batches of four, then the rest.
  p.SadBatch(work, n > 4 ? 4 : n);
  if (n > 4) p.SadBatch(work + 4, n - 4);
  int direction = 0;
  for (int i = 0; i < n; ++i) {
    if (work[i].sad < best.sad) {
      best = work[i];
      direction = points[i];
    }
  }
  return direction;
}

void LargeDiamondSearch(const Planes& p, const SearchWindow& w, MotionCandidate* work, MotionCandidate& best) {
  uint32_t centreCost = best.sad;
  int direction = LargeDiamondPass(p, w, work, nullptr, best);
  while (direction > 0) {
    const uint32_t gain = centreCost - best.sad;
    if (uint64_t{40} * gain < centreCost) break;
    centreCost = best.sad;
    direction = LargeDiamondPass(p, w, work, kDiamondNextPoints[direction], best);
  }
  SmallDiamondStep(p, w, best);
}

void AddCandidate(MotionCandidate* list, int& n, ZeroVectorInfo& zero, const VectorFieldEntry& e) {
  if (e.x == 0 && e.y == 0) {
    if (zero.present) return;
    zero.present = 1;
    zero.index = n;
  }
  list[n++] = MotionCandidate{e.x, e.y, 0};
}

int GatherCandidates(const MotionSearchContext& ctx, const SearchWindow& w, int c, int r, const MotionLayout& layout,
                     MotionCandidate* list, ZeroVectorInfo& zero) {
  int n = 0;
  const int perRow = layout.mbsPerRow;
  const VectorFieldEntry* field = ctx.vectorField;
  if (c >= 1) {
    const VectorFieldEntry& e = field[r * perRow + c - 1];
    if (w.x + e.x + 16 <= w.xMax) AddCandidate(list, n, zero, e);
  }
  if (r >= 1) {
    const VectorFieldEntry& e = field[(r - 1) * perRow + c];
    if (w.y + e.y + 16 <= w.yMax) AddCandidate(list, n, zero, e);
    if (c + 1 < perRow) {
      const VectorFieldEntry& ar = field[(r - 1) * perRow + c + 1];
      if (w.xMin <= w.x + ar.x && w.y + ar.y + 16 <= w.yMax) AddCandidate(list, n, zero, ar);
    }
  }
  if (layout.previousPredicted) {
    const VectorFieldEntry* prev = ctx.previousVectorField;
    AddCandidate(list, n, zero, prev[r * perRow + c]);
    if (r + 1 < layout.mbRows) {
      const VectorFieldEntry& e = prev[(r + 1) * perRow + c];
      if (w.yMin <= w.y + e.y) AddCandidate(list, n, zero, e);
    }
  }
  return n;
}

// The predicted vector of the candidate list; lists of two or four gain the
// zero vector as a further median input.
MotionCandidate SearchPredictor(MotionCandidate* list, int& n, ZeroVectorInfo& zero) {
  auto addZero = [&](int at) {
    list[at] = MotionCandidate{0, 0, 0};
    if (!zero.present) {
      zero.present = 1;
      zero.index = at;
      n = at + 1;
    }
  };
  switch (n) {
    case 0:
      list[0] = MotionCandidate{0, 0, 0};
      n = 1;
      zero.present = 1;
      zero.index = 0;
      return list[0];
    case 1:
      return list[0];
    case 2:
      addZero(2);
      return MotionCandidate{Median3(list[0].x, list[1].x, list[2].x), Median3(list[0].y, list[1].y, list[2].y), 0};
    case 3:
      return MotionCandidate{Median3(list[0].x, list[1].x, list[2].x), Median3(list[0].y, list[1].y, list[2].y), 0};
    case 4:
      addZero(4);
      [[fallthrough]];
    default:
      return MotionCandidate{Median5(list[0].x, list[1].x, list[2].x, list[3].x, list[4].x),
                             Median5(list[0].y, list[1].y, list[2].y, list[3].y, list[4].y), 0};
  }
}

void RemoveDuplicateCandidates(MotionCandidate* list, int& n, ZeroVectorInfo& zero) {
  for (int i = 0; i < n; ++i) {
    int k = i + 1;
    for (int j = i + 1; j < n; ++j)
      if (!SameVector(list[j], list[i])) list[k++] = list[j];
    n = k;
  }
  if (zero.present) {
    for (int i = 0; i < n; ++i)
      if (IsZero(list[i])) {
        zero.index = i;
        break;
      }
  }
}

}  // namespace

SearchConstants SearchConstantsFor(int complexity, int searchRange) {
  switch (complexity) {
    case 0: return SearchConstants{8, 8, 1536, false};
    case 1: return SearchConstants{searchRange, 6, 1024, false};
    default: return SearchConstants{searchRange, 4, 512, true};
  }
}

void SetFullPelWindow(SearchWindow& w, const MotionLayout& layout, int32_t range) {
  w.xMin = w.x - range;
  w.xMax = w.x + range + 16;
  w.yMin = w.y - range;
  w.yMax = w.y + range + 16;
  const int edge = layout.unrestricted ? 8 : 0;
  if (w.xMin < 0) w.xMin = -edge;
  if (w.xMax > layout.width) w.xMax = layout.width + edge;
  if (w.yMin < 0) w.yMin = -edge;
  if (w.yMax > layout.height) w.yMax = layout.height + edge;
}

void SetHalfPelWindow(SearchWindow& w, const MotionLayout& layout) {
  const int edge = layout.unrestricted ? 8 : 0;
  w.xMin = -2 * edge;
  w.yMin = -2 * edge;
  w.xMax = 2 * (layout.width + edge);
  w.yMax = 2 * (layout.height + edge);
}

void PredictiveSearch(MotionSearchContext& ctx, const SearchWindow& w, int c, int r, const MotionLayout& layout,
                      MotionCandidate& best, ZeroVectorInfo& zero) {
  const Planes p = PlanesOf(ctx, w, layout);
  MotionCandidate* list = ctx.candidates;
  zero = ZeroVectorInfo{0, 0, 0};
  int n = GatherCandidates(ctx, w, c, r, layout, list, zero);

  if (n >= 4) {
    bool agree = true;
    for (int i = 1; i < n; ++i) agree = agree && SameVector(list[i], list[0]);
    if (agree) {
      best = list[0];
      best.sad = p.Sad(best.x, best.y);
      zero.sad = best.sad;  // meaningful only when the agreed vector is zero
      return;
    }
  }

  MotionCandidate pred = SearchPredictor(list, n, zero);
  RemoveDuplicateCandidates(list, n, zero);
  pred.sad = p.Sad(pred.x, pred.y);

  if (pred.sad < ctx.earlyExitSad) {
    best = pred;
    if (!IsZero(pred)) {
      const uint32_t z = p.Sad(0, 0);
      if (z > pred.sad) {
        zero = ZeroVectorInfo{1, zero.index, z};
      } else {
        best = MotionCandidate{0, 0, z};
        zero.present = 0;
      }
    } else {
      zero.present = 0;
    }
    return;
  }

  if (n > 1) {
    p.SadBatch(list, n);
    best = MotionCandidate{0, 0, kSadOutside};
    for (int i = 0; i < n; ++i)
      if (list[i].sad < best.sad) best = list[i];
  } else {
    best = pred;
  }

  uint32_t z;
  if (!zero.present) {
    z = p.Sad(0, 0);
  } else if (n > 1) {
    z = list[zero.index].sad;
  } else {
    z = pred.sad;
  }
  zero.present = 1;
  zero.sad = z;

  if (z < best.sad) best = MotionCandidate{0, 0, z};
  if (pred.sad < best.sad) best = pred;
  if (best.sad < ctx.earlyExitSad) return;

  int spread = 0;
  for (int i = 0; i < n; ++i) spread += std::abs(list[i].x) + std::abs(list[i].y);
  if (spread >= ctx.spreadThreshold * n) {
    LargeDiamondSearch(p, w, ctx.candidates, best);
  } else {
    SmallDiamondSearch(p, w, ctx.candidates, best);
  }
}

void FirstMacroblockSearch(MotionSearchContext& ctx, const SearchWindow& w, const MotionLayout& layout,
                           MotionCandidate& best, ZeroVectorInfo& zero) {
  const Planes p = PlanesOf(ctx, w, layout);
  best = MotionCandidate{0, 0, p.Sad(0, 0)};
  zero = ZeroVectorInfo{1, 0, best.sad};

  uint32_t centreCost = best.sad;
  int direction = 0;
  {
    const int cx = best.x, cy = best.y;
    for (int k = 1; k <= 8; ++k) {
      const int vx = cx + kLargeX[k], vy = cy + kLargeY[k];
      const uint32_t sad = Inside(w, vx, vy) ? p.Sad(vx, vy) : kSadOutside;
      if (sad < best.sad) {
        best = MotionCandidate{static_cast<int16_t>(vx), static_cast<int16_t>(vy), sad};
        direction = k;
      }
    }
  }
  if (best.sad == centreCost) {
    SmallDiamondSearch(p, w, ctx.candidates, best);
    return;
  }
  for (int pass = 0; pass < 15; ++pass) {
    centreCost = best.sad;
    const int cx = best.x, cy = best.y;
    int row = direction;
    for (int k = 1; k <= 8; ++k) {
      if (!kDiamondNextPoints[row][k]) continue;
      const int vx = cx + kLargeX[k], vy = cy + kLargeY[k];
      const uint32_t sad = Inside(w, vx, vy) ? p.Sad(vx, vy) : kSadOutside;
      if (sad < best.sad) {
        best = MotionCandidate{static_cast<int16_t>(vx), static_cast<int16_t>(vy), sad};
        direction = k;
        row = k;
      }
    }
    if (best.sad == centreCost) {
      SmallDiamondSearch(p, w, ctx.candidates, best);
      return;
    }
  }
}

void HalfPelRefine(MotionSearchContext& ctx, MotionCandidate& best, const SearchWindow& hw,
                   const MotionLayout& layout) {
  const ptrdiff_t stride = layout.width + 16;
  const uint8_t* cur = ctx.current + hw.y * stride + hw.x;
  auto halfSad = [&](int hx, int hy) -> uint32_t {
    if (!(hw.xMin <= 2 * hw.x + hx && 2 * hw.x + hx + 32 <= hw.xMax && hw.yMin <= 2 * hw.y + hy &&
          2 * hw.y + hy + 32 <= hw.yMax))
      return kSadOutside;
    const uint8_t* ref = ctx.reference + (hw.y + (hy >> 1)) * stride + hw.x + (hx >> 1);
    if ((hx & 1) && (hy & 1)) return ctx.dsp.sadHalfHV(cur, ref, stride);
    if (hx & 1) return ctx.dsp.sadHalfH(cur, ref, stride);
    return ctx.dsp.sadHalfV(cur, ref, stride);
  };
  const int bx = best.x, by = best.y;
  int moved = 0;
  for (int k = 1; k <= 4; ++k) {
    const int hx = bx + kSmallX[k], hy = by + kSmallY[k];
    const uint32_t sad = halfSad(hx, hy);
    if (sad < best.sad) {
      best = MotionCandidate{static_cast<int16_t>(hx), static_cast<int16_t>(hy), sad};
      moved = k;
    }
  }
  if (!layout.halfPelDiagonal || moved == 0) return;
  const int nx = best.x, ny = best.y;
  const bool horizontal = moved == 1 || moved == 3;
  const int points[2][2] = {{horizontal ? nx : nx - 1, horizontal ? ny - 1 : ny},
                            {horizontal ? nx : nx + 1, horizontal ? ny + 1 : ny}};
  for (const auto& pt : points) {
    const uint32_t sad = halfSad(pt[0], pt[1]);
    if (sad < best.sad) best = MotionCandidate{static_cast<int16_t>(pt[0]), static_cast<int16_t>(pt[1]), sad};
  }
}

MotionCandidate PreferZeroVector(const MotionCandidate& best, const ZeroVectorInfo& zero) {
  if (!zero.present || best.sad >= 1024) return best;
  const int64_t gain = int64_t{zero.sad} - int64_t{best.sad};
  if (25 * gain < int64_t{best.sad} || zero.sad < 312) return MotionCandidate{0, 0, zero.sad};
  return best;
}

bool PrefersIntra(uint32_t deviation, uint32_t bestSad) { return uint64_t{deviation} + 512 < bestSad; }

void EstimatePictureMotion(MotionSearchContext& ctx, const MotionLayout& layout, MacroblockInfo* mbs) {
  const ptrdiff_t stride = layout.width + 16;
  for (int r = 0; r < layout.mbRows; ++r) {
    for (int c = 0; c < layout.mbsPerRow; ++c) {
      MacroblockInfo& mb = mbs[r * layout.mbsPerRow + c];
      mb.packet = 0;
      SearchWindow w{16 * c, 16 * r, 0, 0, 0, 0};
      SetFullPelWindow(w, layout, ctx.range);
      MotionCandidate best{};
      ZeroVectorInfo zero{};
      if (r == 0 && c == 0 && !layout.previousPredicted) {
        FirstMacroblockSearch(ctx, w, layout, best, zero);
      } else {
        PredictiveSearch(ctx, w, c, r, layout, best, zero);
      }
      best = PreferZeroVector(best, zero);
      ctx.vectorField[r * layout.mbsPerRow + c] = VectorFieldEntry{best.x, best.y, best.sad};
      mb.zeroVectorSad = IsZero(best) ? best.sad : 65535;
      mb.fourVectors = 0;

      const uint32_t dev = ctx.dsp.intraDeviation16(ctx.current + w.y * stride + w.x, stride);
      if (PrefersIntra(dev, best.sad)) {
        mb.inter = 0;
        mb.activity = dev + 512;
        for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
        continue;
      }
      mb.inter = 1;
      MotionCandidate half{static_cast<int16_t>(2 * best.x), static_cast<int16_t>(2 * best.y), best.sad};
      SearchWindow hw = w;
      SetHalfPelWindow(hw, layout);
      HalfPelRefine(ctx, half, hw, layout);
      uint32_t activity = half.sad;
      if (std::abs(half.x) + std::abs(half.y) == 1 && half.sad < 1024) {
        if (uint64_t{25} * (mb.zeroVectorSad - half.sad) < half.sad || mb.zeroVectorSad < 256) {
          half = MotionCandidate{0, 0, mb.zeroVectorSad};
          activity = mb.zeroVectorSad;
        }
      }
      mb.activity = activity;
      for (MotionVector& v : mb.vectors) v = MotionVector{half.x, half.y};
    }
  }
  const size_t count = static_cast<size_t>(layout.mbsPerRow) * static_cast<size_t>(layout.mbRows);
  for (size_t i = 0; i < count; ++i) ctx.previousVectorField[i] = ctx.vectorField[i];
}

int ReduceFCode(const MacroblockInfo* mbs, int mbCount, int fcode) {
  if (fcode <= 1) return fcode;
  for (int i = 0; i < mbCount; ++i) {
    if (mbs[i].inter != 1) continue;
    const int k = mbs[i].fourVectors == 1 ? 4 : 1;
    for (int j = 0; j < k; ++j) {
      const MotionVector v = mbs[i].vectors[j];
      if (v.x < -32 || v.x > 31 || v.y < -32 || v.y > 31) return fcode;
    }
  }
  return 1;
}

}  // namespace venc
