#pragma once
// Region: a set of pixels made of rectangles, combined with the platform's
// operations (and, or, xor, diff, copy) and selected into a device context as
// its clip. Kept as disjoint rectangles in rows (y, then x), merged where
// neighbours line up.

#include <memory>
#include <vector>

#include "platform/gfx/gfx_types.h"

namespace gfx {

class Region {
 public:
  Region() = default;
  explicit Region(const Rect& r);

  // The disjoint rectangles, sorted by top then left.
  const std::vector<Rect>& rects() const { return rects_; }
  bool IsEmpty() const { return rects_.empty(); }
  // kNullRegion, kSimpleRegion or kComplexRegion.
  int Kind() const;
  // Smallest rectangle holding the region (empty rect for an empty region).
  Rect Box() const;
  bool Contains(int32_t x, int32_t y) const;
  void Offset(int32_t dx, int32_t dy);
  // This = a op b (kRgnCopy: this = a). Returns the kind, kRegionError for
  // an unknown operation (this unchanged).
  int Combine(const Region& a, const Region& b, int op);

  void SetRects(std::vector<Rect> rects) { rects_ = std::move(rects); }

 private:
  std::vector<Rect> rects_;
};

using HRgn = std::shared_ptr<Region>;

HRgn CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom);
// dst = a op b; the platform's result kind.
int CombineRgn(const HRgn& dst, const HRgn& a, const HRgn& b, int op);

}  // namespace gfx
