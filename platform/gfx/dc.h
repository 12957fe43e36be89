#pragma once
// Device contexts and the drawing calls on them: our own software rasteriser
// over RGB565 bitmaps. A memory DC draws into the bitmap selected into it; a
// window DC draws into a surface given at creation (the window's back buffer
// or screen), which cannot be replaced by selection.
//
// Coordinates are device pixels; every call clips to the target surface and
// to the DC's clip region, so any arguments (negative, huge, reversed) are
// safe. Calls on a DC with no surface, or with null objects, do nothing and
// report failure.
//
// Thread: a DC and the objects selected into it are used by one thread at a
// time; different DCs may draw on different threads.

#include <cstdint>
#include <memory>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/gfx_types.h"
#include "platform/gfx/region.h"

namespace gfx {

class Font;
using HFont = std::shared_ptr<Font>;

// A solid brush; a null brush paints nothing.
struct Brush {
  COLORREF color = 0;
  bool null = false;
};
using HBrush = std::shared_ptr<const Brush>;

// A pen: solid or dashed lines of a width, or nothing (kPsNull).
struct Pen {
  int style = kPsSolid;
  int32_t width = 1;
  COLORREF color = 0;
};
using HPen = std::shared_ptr<const Pen>;

HBrush CreateSolidBrush(COLORREF color);
// width < 1 is taken as 1. Dashes (18 pixels on, 6 off) for kPsDash.
HPen CreatePen(int style, int32_t width, COLORREF color);
HBrush GetStockBrush(int stock);  // kWhiteBrush ... kNullBrush
HPen GetStockPen(int stock);      // kWhitePen, kBlackPen, kNullPen

class DeviceContext {
 public:
  DeviceContext();
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  // The surface drawn on (null only for a memory DC whose bitmap failed).
  Bitmap* surface() const { return surface_.get(); }
  const HBitmap& surface_handle() const { return surface_; }
  bool is_window() const { return window_; }

  // State (the platform's Get/Set pairs).
  HBitmap SelectBitmap(HBitmap bitmap);  // previous bitmap; null on a window DC
  HBrush SelectBrush(HBrush brush);
  HPen SelectPen(HPen pen);
  HFont SelectFont(HFont font);
  const HBrush& brush() const { return brush_; }
  const HPen& pen() const { return pen_; }
  const HFont& font() const { return font_; }
  COLORREF SetTextColor(COLORREF c);
  COLORREF text_color() const { return text_color_; }
  COLORREF SetBkColor(COLORREF c);
  COLORREF bk_color() const { return bk_color_; }
  int SetBkMode(int mode);  // previous mode; 0 for an unknown mode
  int bk_mode() const { return bk_mode_; }
  int SetStretchBltMode(int mode);  // previous mode; 0 for an unknown mode
  int stretch_mode() const { return stretch_mode_; }
  Point MoveTo(int32_t x, int32_t y);
  Point current_position() const { return position_; }

  // Clip: a copy of the region is kept (null region: no clip). Returns the
  // kind of the resulting clip.
  int SelectClipRegion(const Region* region);
  int IntersectClipRect(const Rect& r);
  // The clip region, null when none is set.
  const Region* clip() const { return clip_.get(); }
  // Smallest rectangle around what can be drawn; its kind.
  int GetClipBox(Rect* box) const;

  // The rectangles of dst that may be drawn, each call of fn(Rect) gets one
  // part inside the surface and the clip.
  template <typename Fn>
  void ForEachVisible(const Rect& dst, Fn&& fn) const;

 private:
  friend std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* reference);
  friend std::unique_ptr<DeviceContext> CreateWindowDC(HBitmap surface);

  HBitmap surface_;
  bool window_ = false;
  HBrush brush_;
  HPen pen_;
  HFont font_;
  COLORREF text_color_ = 0;
  COLORREF bk_color_ = 0x00FFFFFF;
  int bk_mode_ = kOpaque;
  int stretch_mode_ = kBlackOnWhite;
  Point position_;
  std::unique_ptr<Region> clip_;
};

using HDC = DeviceContext*;

// A memory DC with a 1x1 bitmap selected, ready for SelectBitmap.
// The reference DC is accepted for symmetry with the platform and may be null.
std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* reference);
// A DC drawing on a fixed surface (the window's).
std::unique_ptr<DeviceContext> CreateWindowDC(HBitmap surface);
// A bitmap for drawing through reference: every bitmap is RGB565.
HBitmap CreateCompatibleBitmap(const DeviceContext* reference, int32_t width, int32_t height);

// Pixels.
COLORREF GetPixel(HDC dc, int32_t x, int32_t y);  // kClrInvalid outside surface or clip
COLORREF SetPixel(HDC dc, int32_t x, int32_t y, COLORREF color);  // the colour set, or kClrInvalid

// Fills r with the brush (null brush: nothing). Returns false without surface.
bool FillRect(HDC dc, const Rect& r, const HBrush& brush);
// Lines in the selected pen from point to point; the last point is not drawn
// (so joined segments do not repeat a pixel). The current position is unused.
bool Polyline(HDC dc, const Point* points, int count);
// Line from the current position to (x, y), which becomes the current position.
bool LineTo(HDC dc, int32_t x, int32_t y);
// Outline in the selected pen, inside filled with the selected brush.
bool Rectangle(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom);

// Blits. src may be null for raster operations that do not read it.
// kSrcCopy, kBlackness, kWhiteness, kDstInvert; false for other codes.
bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, uint32_t rop);
// Copies the source rectangle into the destination rectangle, scaled with the
// destination DC's stretch mode. A negative width or height on one side
// mirrors the picture on that axis (a negative source height flips it).
// Source pixels outside the source surface are not drawn.
bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint32_t rop);
// As StretchBlt with kSrcCopy and nearest sampling, but source pixels equal
// (after ColorRefTo565) to key are left out.
bool TransparentImage(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy,
                      int32_t sw, int32_t sh, COLORREF key);
// Source over destination with one constant alpha (0 keeps the destination,
// 255 copies), nearest sampling when the sizes differ.
bool AlphaBlend(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint8_t constant_alpha);

// Lays a w x h picture of 8-bit RGBA (straight alpha, stride in bytes) over
// the DC at (x, y): alpha 255 copies, 0 leaves the destination. Used by the
// picture decoders.
bool BlendRgba(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* rgba, ptrdiff_t stride);

template <typename Fn>
void DeviceContext::ForEachVisible(const Rect& dst, Fn&& fn) const {
  if (!surface_) return;
  const Rect in_surface = IntersectRects(dst, surface_->bounds());
  if (in_surface.IsEmpty()) return;
  if (!clip_) {
    fn(in_surface);
    return;
  }
  for (const Rect& c : clip_->rects()) {
    const Rect part = IntersectRects(in_surface, c);
    if (!part.IsEmpty()) fn(part);
  }
}

}  // namespace gfx
