#pragma once
// Fonts and text through FreeType.
//
// Font files (.ttf, .ttc, .fon, .fnt) are added to and removed from one
// process-wide table (AddFontResource). A free font family is bundled with the
// program and always present; the platform's default face names ("Tahoma",
// the system font, and a few common ones) map to it, and a face that no file
// provides falls back to it. Faces are looked up by family name,
// case-insensitively; among several styles of a family the one nearest to the
// asked weight and slant is taken, and bold or italic is synthesised when the
// family has no such style.
//
// Bundled font folder: $OVMIX_FONT_DIR, else the "fonts" folder beside the
// executable (the build copies the font there), else the system's copy.
//
// Thread: any thread. The table and FreeType are guarded by one lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/gfx/dc.h"
#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

namespace gfx {

// The platform's font description (92 bytes in its stored form).
struct LogFont {
  int32_t height = 0;       // < 0: character height in pixels; > 0: cell height; 0: default (12)
  int32_t width = 0;        // ignored: widths follow the height
  int32_t escapement = 0;   // tenths of a degree; 900 runs text upwards, 2700 downwards
  int32_t orientation = 0;
  int32_t weight = 0;       // 0 and below 550 normal, else bold
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strike_out = 0;
  uint8_t char_set = 0;
  uint8_t out_precision = 0;
  uint8_t clip_precision = 0;
  uint8_t quality = 0;      // kAntialiasedQuality and kClearTypeQuality smooth; others are one-bit
  uint8_t pitch_and_family = 0;
  char16_t face_name[32] = {};

  void SetFaceName(std::u16string_view name);
  std::u16string_view FaceName() const;
};

struct TextMetrics {
  int32_t height = 0;  // ascent + descent
  int32_t ascent = 0;
  int32_t descent = 0;
  int32_t internal_leading = 0;
  int32_t external_leading = 0;
  int32_t ave_char_width = 0;
  int32_t max_char_width = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underlined = 0;
  uint8_t struck_out = 0;
};

// One rendered glyph: coverage 0-255, rows top-down.
struct Glyph {
  int32_t advance = 0;
  int32_t left = 0;  // from the pen position to the first column
  int32_t top = 0;   // from the baseline up to the first row
  int32_t width = 0;
  int32_t rows = 0;
  std::unique_ptr<uint8_t[]> coverage;
};

class Font {
 public:
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  const LogFont& logfont() const { return logfont_; }
  // False when no face could be opened (no font file at all): such a font
  // measures and draws nothing.
  bool usable() const { return face_ != nullptr; }
  const TextMetrics& metrics() const { return metrics_; }
  // Family actually used (the bundled one for a missing face).
  const ov::String& resolved_family() const { return family_; }
  int32_t underline_offset() const { return underline_offset_; }  // below the baseline
  int32_t underline_thickness() const { return underline_thickness_; }

  // The glyph of a code point, rendered on first use. Call with the font lock
  // held (WithGlyphs).
  const Glyph& GlyphOf(char32_t c);
  // Runs fn with the lock that guards FreeType and the glyph cache.
  void WithGlyphs(const std::function<void()>& fn);

 private:
  friend HFont CreateFontIndirect(const LogFont& lf);
  Font() = default;

  LogFont logfont_;
  ov::String family_;
  void* face_ = nullptr;  // FT_Face
  bool antialias_ = false;
  bool embolden_ = false;
  TextMetrics metrics_;
  int32_t underline_offset_ = 0;
  int32_t underline_thickness_ = 1;
  std::unordered_map<char32_t, Glyph> glyphs_;
};

// Adds every face of a font file; the number of faces added (0: not a font).
int AddFontResource(const ov::String& path);
// Removes the faces added from that file; whether any was removed.
bool RemoveFontResource(const ov::String& path);

// Calls fn once per family (bundled families and their default-name aliases
// first, then added files in the order added) with a description of its
// regular style, its metrics at that size and the font type (4: TrueType, 1:
// raster). Enumeration stops when fn returns 0.
void EnumFontFamilies(HDC dc, const std::function<int(const LogFont&, const TextMetrics&, uint32_t)>& fn);

// A font for the description; never null (an unusable font when no font file exists).
HFont CreateFontIndirect(const LogFont& lf);
// The stock system font (face "Tahoma", 13 pixels, mapped to the bundled font).
HFont GetStockFont();

// Face name of the DC's selected font.
ov::String GetTextFace(HDC dc);
bool GetTextMetrics(HDC dc, TextMetrics* tm);

// Width of text in the selected font. max_extent >= 0: *fit (when given) is
// the number of UTF-16 units whose cumulative width stays within it; dx (when
// given, text.size() entries) receives the cumulative width after each unit.
// *size is (width, cell height). False when the DC has no usable font.
bool GetTextExtentExPoint(HDC dc, std::u16string_view text, int32_t max_extent, int32_t* fit, int32_t* dx,
                          Size* size);
bool GetTextExtentPoint(HDC dc, std::u16string_view text, Size* size);

// Draws text with its cell's top-left at (x, y) (rotated with the font's
// escapement) in the text colour; with the opaque background mode the text
// cell is filled with the background colour first. kEtoOpaque fills *rect
// with the background colour; kEtoClipped clips to *rect. dx (optional) gives
// each unit's advance. False when the DC has no surface or usable font.
bool ExtTextOut(HDC dc, int32_t x, int32_t y, uint32_t options, const Rect* rect, std::u16string_view text,
                const int32_t* dx = nullptr);

}  // namespace gfx
