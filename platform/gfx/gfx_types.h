#pragma once
// Basic drawing types and constants: colour references, rectangles and the
// platform's numeric codes (raster operations, stretch modes, background
// modes, stock objects, pen styles, region combination) that callers pass and
// compare.
//
// Colours: a COLORREF is 0x00BBGGRR. Surfaces hold RGB565; ColorRefTo565 is
// the one conversion from a colour reference to a surface pixel, used by every
// fill, key comparison and text colour, so a key colour given as a COLORREF
// always matches the pixels drawn with it.

#include <cstdint>

namespace gfx {

using COLORREF = uint32_t;

constexpr COLORREF Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t RedOf(COLORREF c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GreenOf(COLORREF c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t BlueOf(COLORREF c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

// Red in bits 11-15, green 5-10, blue 0-4: the top bits of each byte.
constexpr uint16_t Rgb888To565(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}
constexpr uint16_t ColorRefTo565(COLORREF c) { return Rgb888To565(RedOf(c), GreenOf(c), BlueOf(c)); }

// Components of a 565 pixel widened to 8 bits by repeating their top bits, so
// that full-intensity components read back as 255 (white is 0x00FFFFFF).
constexpr uint8_t Red565(uint16_t p) {
  return static_cast<uint8_t>(((p >> 11) << 3) | (p >> 13));
}
constexpr uint8_t Green565(uint16_t p) {
  return static_cast<uint8_t>((((p >> 5) & 0x3F) << 2) | ((p >> 9) & 0x3));
}
constexpr uint8_t Blue565(uint16_t p) {
  return static_cast<uint8_t>(((p & 0x1F) << 3) | ((p >> 2) & 0x7));
}
constexpr COLORREF Rgb565ToColorRef(uint16_t p) { return Rgb(Red565(p), Green565(p), Blue565(p)); }

// GetPixel's answer outside the surface or the clip.
constexpr COLORREF kClrInvalid = 0xFFFFFFFFu;

struct Point {
  int32_t x = 0;
  int32_t y = 0;
};

struct Size {
  int32_t cx = 0;
  int32_t cy = 0;
};

// left/top inclusive, right/bottom exclusive.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Intersection of a and b; empty (all zero) when they do not overlap.
Rect IntersectRects(const Rect& a, const Rect& b);
bool PointInRect(const Rect& r, int32_t x, int32_t y);

// Raster operations of BitBlt and StretchBlt.
enum : uint32_t {
  kSrcCopy = 0x00CC0020u,
  kBlackness = 0x00000042u,
  kWhiteness = 0x00FF0062u,
  kDstInvert = 0x00550009u,
};

// Stretch modes. kBlackOnWhite to kColorOnColor pick the nearest source pixel
// (on colour surfaces the first two behave as the third); kHalftone and
// kBilinear smooth by bilinear interpolation.
enum : int {
  kBlackOnWhite = 1,
  kWhiteOnBlack = 2,
  kColorOnColor = 3,
  kHalftone = 4,
  kBilinear = 5,
};

// Background modes.
enum : int { kTransparent = 1, kOpaque = 2 };

// Stock objects (GetStockObject numbers).
enum : int {
  kWhiteBrush = 0,
  kLtGrayBrush = 1,
  kGrayBrush = 2,
  kDkGrayBrush = 3,
  kBlackBrush = 4,
  kNullBrush = 5,
  kWhitePen = 6,
  kBlackPen = 7,
  kNullPen = 8,
  kSystemFont = 13,
};

// Pen styles.
enum : int { kPsSolid = 0, kPsDash = 1, kPsNull = 5 };

// Region combination and region kinds.
enum : int { kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5 };
enum : int { kRegionError = 0, kNullRegion = 1, kSimpleRegion = 2, kComplexRegion = 3 };

// ExtTextOut options.
enum : uint32_t { kEtoOpaque = 0x2, kEtoClipped = 0x4 };

// Font weights and qualities.
enum : int { kFwNormal = 400, kFwBold = 700 };
enum : uint8_t {
  kDefaultQuality = 0,
  kDraftQuality = 1,
  kProofQuality = 2,
  kNonAntialiasedQuality = 3,
  kAntialiasedQuality = 4,
  kClearTypeQuality = 5,
};

}  // namespace gfx
