#include "platform/gfx/dc.h"

#include <algorithm>
#include <cstdlib>

#include "platform/gfx/font.h"

namespace gfx {

HBrush CreateSolidBrush(COLORREF color) { return std::make_shared<const Brush>(Brush{color, false}); }

HPen CreatePen(int style, int32_t width, COLORREF color) {
  return std::make_shared<const Pen>(Pen{style, width < 1 ? 1 : width, color});
}

HBrush GetStockBrush(int stock) {
  static const HBrush brushes[] = {
      CreateSolidBrush(Rgb(255, 255, 255)), CreateSolidBrush(Rgb(192, 192, 192)),
      CreateSolidBrush(Rgb(128, 128, 128)), CreateSolidBrush(Rgb(64, 64, 64)),
      CreateSolidBrush(Rgb(0, 0, 0)),       std::make_shared<const Brush>(Brush{0, true}),
  };
  if (stock < kWhiteBrush || stock > kNullBrush) return nullptr;
  return brushes[stock];
}

HPen GetStockPen(int stock) {
  static const HPen white = CreatePen(kPsSolid, 1, Rgb(255, 255, 255));
  static const HPen black = CreatePen(kPsSolid, 1, 0);
  static const HPen none = CreatePen(kPsNull, 1, 0);
  switch (stock) {
    case kWhitePen: return white;
    case kBlackPen: return black;
    case kNullPen: return none;
    default: return nullptr;
  }
}

DeviceContext::DeviceContext()
    : brush_(GetStockBrush(kWhiteBrush)), pen_(GetStockPen(kBlackPen)), font_(GetStockFont()) {}

DeviceContext::~DeviceContext() = default;

HBitmap DeviceContext::SelectBitmap(HBitmap bitmap) {
  if (window_ || !bitmap) return nullptr;
  HBitmap previous = std::move(surface_);
  surface_ = std::move(bitmap);
  clip_.reset();  // a new surface starts unclipped
  return previous;
}

HBrush DeviceContext::SelectBrush(HBrush brush) {
  if (!brush) return nullptr;
  std::swap(brush, brush_);
  return brush;
}

HPen DeviceContext::SelectPen(HPen pen) {
  if (!pen) return nullptr;
  std::swap(pen, pen_);
  return pen;
}

HFont DeviceContext::SelectFont(HFont font) {
  if (!font) return nullptr;
  std::swap(font, font_);
  return font;
}

COLORREF DeviceContext::SetTextColor(COLORREF c) {
  std::swap(c, text_color_);
  return c;
}

COLORREF DeviceContext::SetBkColor(COLORREF c) {
  std::swap(c, bk_color_);
  return c;
}

int DeviceContext::SetBkMode(int mode) {
  if (mode != kTransparent && mode != kOpaque) return 0;
  std::swap(mode, bk_mode_);
  return mode;
}

int DeviceContext::SetStretchBltMode(int mode) {
  if (mode < kBlackOnWhite || mode > kBilinear) return 0;
  std::swap(mode, stretch_mode_);
  return mode;
}

Point DeviceContext::MoveTo(int32_t x, int32_t y) {
  Point previous = position_;
  position_ = {x, y};
  return previous;
}

int DeviceContext::SelectClipRegion(const Region* region) {
  if (!region) {
    clip_.reset();
    return kSimpleRegion;
  }
  clip_ = std::make_unique<Region>(*region);
  return clip_->Kind();
}

int DeviceContext::IntersectClipRect(const Rect& r) {
  Region limit(r);
  if (!clip_) {
    clip_ = std::make_unique<Region>(surface_ ? Region(surface_->bounds()) : Region());
  }
  return clip_->Combine(*clip_, limit, kRgnAnd);
}

int DeviceContext::GetClipBox(Rect* box) const {
  Region visible(surface_ ? surface_->bounds() : Rect{});
  if (clip_) visible.Combine(visible, *clip_, kRgnAnd);
  if (box) *box = visible.Box();
  return visible.Kind();
}

std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext*) {
  auto dc = std::make_unique<DeviceContext>();
  dc->surface_ = CreateBitmap565(1, 1);
  return dc;
}

std::unique_ptr<DeviceContext> CreateWindowDC(HBitmap surface) {
  if (!surface) return nullptr;
  auto dc = std::make_unique<DeviceContext>();
  dc->surface_ = std::move(surface);
  dc->window_ = true;
  return dc;
}

HBitmap CreateCompatibleBitmap(const DeviceContext*, int32_t width, int32_t height) {
  return CreateBitmap565(width, height);
}

static bool Visible(const DeviceContext& dc, int32_t x, int32_t y) {
  const Bitmap* s = dc.surface();
  if (!s || x < 0 || y < 0 || x >= s->width() || y >= s->height()) return false;
  return !dc.clip() || dc.clip()->Contains(x, y);
}

COLORREF GetPixel(HDC dc, int32_t x, int32_t y) {
  if (!dc || !Visible(*dc, x, y)) return kClrInvalid;
  return Rgb565ToColorRef(dc->surface()->row(y)[x]);
}

COLORREF SetPixel(HDC dc, int32_t x, int32_t y, COLORREF color) {
  if (!dc || !Visible(*dc, x, y)) return kClrInvalid;
  const uint16_t p = ColorRefTo565(color);
  dc->surface()->row(y)[x] = p;
  return Rgb565ToColorRef(p);
}

static void FillSolid(HDC dc, const Rect& r, uint16_t p) {
  Bitmap* s = dc->surface();
  dc->ForEachVisible(r, [&](const Rect& part) {
    for (int32_t y = part.top; y < part.bottom; ++y) std::fill(s->row(y) + part.left, s->row(y) + part.right, p);
  });
}

bool FillRect(HDC dc, const Rect& r, const HBrush& brush) {
  if (!dc || !dc->surface() || !brush) return false;
  if (!brush->null) FillSolid(dc, r, ColorRefTo565(brush->color));
  return true;
}

// Products of two coordinates spanning the whole 32-bit range.
__extension__ typedef __int128 Int128;

// Dash pattern of kPsDash, in pixels along the line.
constexpr int kDashOn = 18;
constexpr int kDashPeriod = 24;

// The points of the line from a to b, b excluded: one per step along the
// major axis, the minor coordinate rounded to the nearest pixel. Only the
// steps whose major coordinate can reach the surface are walked, so lines
// far outside cost nothing. Each point is stamped with a square of the pen's
// width centred on it; dash_phase carries the dash pattern across joined
// segments.
static void DrawSegment(HDC dc, const Pen& pen, Point a, Point b, int64_t* dash_phase) {
  const uint16_t p = ColorRefTo565(pen.color);
  const int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
  const bool x_major = std::llabs(dx) >= std::llabs(dy);
  const int64_t steps = x_major ? std::llabs(dx) : std::llabs(dy);
  if (steps == 0) return;
  const int64_t major0 = x_major ? a.x : a.y, minor0 = x_major ? a.y : a.x;
  const int64_t dmajor = x_major ? dx : dy, dminor = x_major ? dy : dx;
  const int64_t sign = dmajor < 0 ? -1 : 1;
  const Bitmap* s = dc->surface();
  const int64_t margin = pen.width + 1;
  const int64_t limit = (x_major ? s->width() : s->height()) + margin;
  // Steps i with major0 + sign * i inside [-margin, limit).
  int64_t first = 0, last = steps - 1;
  if (sign > 0) {
    first = std::max<int64_t>(first, -margin - major0);
    last = std::min<int64_t>(last, limit - 1 - major0);
  } else {
    first = std::max<int64_t>(first, major0 - (limit - 1));
    last = std::min<int64_t>(last, major0 + margin);
  }
  const int32_t half = pen.width / 2;
  for (int64_t i = first; i <= last; ++i) {
    const bool on = pen.style != kPsDash || ((*dash_phase + i) % kDashPeriod) < kDashOn;
    if (!on) continue;
    // Rounded minor offset: floor((2 i dminor + steps) / (2 steps)).
    const Int128 num = static_cast<Int128>(2 * i) * dminor + steps;
    Int128 q = num / (2 * steps);
    if (num % (2 * steps) != 0 && num < 0) --q;
    const int64_t major = major0 + sign * i, minor = minor0 + static_cast<int64_t>(q);
    const int64_t x = x_major ? major : minor, y = x_major ? minor : major;
    if (x < -margin || y < -margin || x >= s->width() + margin || y >= s->height() + margin) continue;
    if (pen.width == 1) {
      if (Visible(*dc, int32_t(x), int32_t(y))) dc->surface()->row(int32_t(y))[x] = p;
    } else {
      const int32_t left = int32_t(x) - half, top = int32_t(y) - half;
      FillSolid(dc, {left, top, left + pen.width, top + pen.width}, p);
    }
  }
  *dash_phase += steps;
}

bool Polyline(HDC dc, const Point* points, int count) {
  if (!dc || !dc->surface() || !points || count < 2 || !dc->pen()) return false;
  const Pen& pen = *dc->pen();
  if (pen.style == kPsNull) return true;
  int64_t phase = 0;
  for (int i = 0; i + 1 < count; ++i) DrawSegment(dc, pen, points[i], points[i + 1], &phase);
  return true;
}

bool LineTo(HDC dc, int32_t x, int32_t y) {
  if (!dc) return false;
  const Point line[2] = {dc->current_position(), {x, y}};
  dc->MoveTo(x, y);
  return Polyline(dc, line, 2);
}

bool Rectangle(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!dc || !dc->surface()) return false;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (dc->brush() && !dc->brush()->null) {
    FillSolid(dc, {left + 1, top + 1, right - 1, bottom - 1}, ColorRefTo565(dc->brush()->color));
  }
  const Point outline[5] = {{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}, {left, top}};
  return Polyline(dc, outline, 5);
}

}  // namespace gfx
