#include "platform/gfx/region.h"

#include <algorithm>

namespace gfx {

Region::Region(const Rect& r) {
  if (!r.IsEmpty()) rects_.push_back(r);
}

int Region::Kind() const {
  if (rects_.empty()) return kNullRegion;
  return rects_.size() == 1 ? kSimpleRegion : kComplexRegion;
}

Rect Region::Box() const {
  if (rects_.empty()) return {};
  Rect box = rects_[0];
  for (const Rect& r : rects_) {
    box.left = std::min(box.left, r.left);
    box.top = std::min(box.top, r.top);
    box.right = std::max(box.right, r.right);
    box.bottom = std::max(box.bottom, r.bottom);
  }
  return box;
}

bool Region::Contains(int32_t x, int32_t y) const {
  for (const Rect& r : rects_) {
    if (PointInRect(r, x, y)) return true;
  }
  return false;
}

void Region::Offset(int32_t dx, int32_t dy) {
  for (Rect& r : rects_) {
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
  }
}

static bool InAny(const std::vector<Rect>& rects, int32_t x, int32_t y) {
  for (const Rect& r : rects) {
    if (PointInRect(r, x, y)) return true;
  }
  return false;
}

static bool Apply(int op, bool a, bool b) {
  switch (op) {
    case kRgnAnd: return a && b;
    case kRgnOr: return a || b;
    case kRgnXor: return a != b;
    case kRgnDiff: return a && !b;
    default: return a;
  }
}

// The grid of every edge of both regions splits the plane into cells that lie
// wholly inside or outside each input; the cells kept by the operation are
// joined into runs per row band, and equal runs of neighbouring bands merge.
int Region::Combine(const Region& a, const Region& b, int op) {
  if (op < kRgnAnd || op > kRgnCopy) return kRegionError;
  if (op == kRgnCopy) {
    if (this != &a) rects_ = a.rects_;
    return Kind();
  }
  std::vector<int32_t> xs, ys;
  for (const auto* set : {&a.rects_, &b.rects_}) {
    for (const Rect& r : *set) {
      xs.push_back(r.left);
      xs.push_back(r.right);
      ys.push_back(r.top);
      ys.push_back(r.bottom);
    }
  }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  std::vector<Rect> out;
  std::vector<Rect> previous_band;
  for (size_t j = 0; j + 1 < ys.size(); ++j) {
    std::vector<Rect> band;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      const bool in = Apply(op, InAny(a.rects_, xs[i], ys[j]), InAny(b.rects_, xs[i], ys[j]));
      if (!in) continue;
      if (!band.empty() && band.back().right == xs[i]) {
        band.back().right = xs[i + 1];
      } else {
        band.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
      }
    }
    // A band with the same runs as the one above extends it downwards.
    bool same = !band.empty() && band.size() == previous_band.size() && previous_band[0].bottom == ys[j];
    for (size_t k = 0; same && k < band.size(); ++k) {
      same = band[k].left == previous_band[k].left && band[k].right == previous_band[k].right;
    }
    if (same) {
      for (size_t k = 0; k < band.size(); ++k) out[out.size() - band.size() + k].bottom = ys[j + 1];
      for (Rect& r : previous_band) r.bottom = ys[j + 1];
    } else {
      out.insert(out.end(), band.begin(), band.end());
      previous_band = band;
    }
  }
  rects_ = std::move(out);
  return Kind();
}

HRgn CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return std::make_shared<Region>(Rect{left, top, right, bottom});
}

int CombineRgn(const HRgn& dst, const HRgn& a, const HRgn& b, int op) {
  if (!dst || !a || (op != kRgnCopy && !b)) return kRegionError;
  static const Region empty;
  return dst->Combine(*a, b ? *b : empty, op);
}

}  // namespace gfx
