#include "platform/gfx/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/gfx/measure_count.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"

namespace gfx {

namespace {

// The bundled family, its files by style, and the default names mapped to it.
constexpr char16_t kBundledFamily[] = u"DejaVu Sans";
constexpr const char* kBundledFiles[] = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf",
                                         "DejaVuSans-BoldOblique.ttf", "DejaVuSansMono.ttf", "DejaVuSerif.ttf"};
constexpr const char* kSystemFontFolder = "/usr/share/fonts/truetype/dejavu/";
struct Alias {
  const char16_t* name;
  const char16_t* family;
};
constexpr Alias kAliases[] = {
    {u"Tahoma", u"DejaVu Sans"},
    {u"System", u"DejaVu Sans"},
    {u"Arial", u"DejaVu Sans"},
    {u"MS Sans Serif", u"DejaVu Sans"},
    {u"Courier New", u"DejaVu Sans Mono"},
    {u"Times New Roman", u"DejaVu Serif"},
};
constexpr char16_t kSystemFace[] = u"Tahoma";
constexpr int32_t kSystemFontHeight = -13;
constexpr int32_t kDefaultPixelHeight = 12;
// Largest accepted character size: larger requests are clamped (FreeType
// would render glyphs of any size).
constexpr int32_t kMaxPixelHeight = 1024;

struct FaceEntry {
  ov::String family;
  std::string path;  // UTF-8
  long index = 0;
  bool bold = false;
  bool italic = false;
  bool raster = false;
  bool bundled = false;
};

struct Registry {
  std::recursive_mutex lock;  // guards the table and every FreeType call
  FT_Library library = nullptr;
  bool bundled_loaded = false;
  std::vector<FaceEntry> faces;
  // Metrics EnumFontFamilies reports per listed name: measuring a family
  // opens its file, and text elements enumerate on every font lookup.
  // Emptied whenever the faces change.
  std::vector<std::pair<ov::String, TextMetrics>> enum_metrics;
};

Registry& TheRegistry() {
  static Registry* r = new Registry;  // never destroyed: fonts may outlive static destruction
  return *r;
}

bool EnsureLibrary(Registry& r) {
  if (!r.library && FT_Init_FreeType(&r.library) != 0) r.library = nullptr;
  return r.library != nullptr;
}

// Adds the faces of one file; the count added. Registry lock held.
int AddFacesLocked(Registry& r, const std::string& path, bool bundled) {
  if (!EnsureLibrary(r)) return 0;
  FT_Face probe = nullptr;
  if (FT_New_Face(r.library, path.c_str(), -1, &probe) != 0) return 0;
  const long count = std::min<long>(probe->num_faces, 64);
  FT_Done_Face(probe);
  int added = 0;
  for (long i = 0; i < count; ++i) {
    FT_Face face = nullptr;
    if (FT_New_Face(r.library, path.c_str(), i, &face) != 0) continue;
    FaceEntry e;
    e.family = ov::String::FromUtf8Lossy(face->family_name ? face->family_name : "");
    e.path = path;
    e.index = i;
    e.bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    e.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    e.raster = !FT_IS_SCALABLE(face);
    e.bundled = bundled;
    FT_Done_Face(face);
    if (e.family.IsEmpty()) continue;
    r.faces.push_back(std::move(e));
    r.enum_metrics.clear();
    ++added;
  }
  return added;
}

std::string BundledFolder() {
  if (const char* env = std::getenv("OVMIX_FONT_DIR"); env && *env) return std::string(env) + "/";
  std::string app = ov::ApplicationFolder().ToUtf8Lossy() + "fonts/";
  if (ov::FileExists(ov::String::FromUtf8Lossy(app + kBundledFiles[0]))) return app;
  return kSystemFontFolder;
}

void EnsureBundled(Registry& r) {
  if (r.bundled_loaded) return;
  r.bundled_loaded = true;
  const std::string folder = BundledFolder();
  for (const char* file : kBundledFiles) AddFacesLocked(r, folder + file, true);
}

// The family an asked name resolves to: a registered family of that name
// (the last one registered wins), else an alias, else the bundled family.
ov::String ResolveFamily(Registry& r, std::u16string_view name) {
  for (auto it = r.faces.rbegin(); it != r.faces.rend(); ++it) {
    if (it->family.EqualsNoCase(name)) return it->family;
  }
  for (const Alias& a : kAliases) {
    if (ov::String(a.name).EqualsNoCase(name)) return ov::String(a.family);
  }
  return ov::String(kBundledFamily);
}

const FaceEntry* PickFace(Registry& r, const ov::String& family, bool bold, bool italic) {
  const FaceEntry* best = nullptr;
  int best_score = -1;
  for (auto it = r.faces.rbegin(); it != r.faces.rend(); ++it) {
    if (!it->family.EqualsNoCase(family.View())) continue;
    const int score = (it->bold == bold ? 2 : 0) + (it->italic == italic ? 1 : 0);
    if (score > best_score) {
      best = &*it;
      best_score = score;
    }
  }
  return best;
}

int32_t Ceil26(FT_Pos v) { return static_cast<int32_t>((v + 63) >> 6); }

void FillMetricsLocked(FT_Face face, bool embolden, const LogFont& lf, TextMetrics* tm, int32_t* ul_offset,
                       int32_t* ul_thickness) {
  const FT_Size_Metrics& m = face->size->metrics;
  tm->ascent = Ceil26(m.ascender);
  tm->descent = Ceil26(-m.descender);
  if (tm->ascent <= 0) tm->ascent = Ceil26(m.y_ppem << 6);
  if (tm->descent < 0) tm->descent = 0;
  tm->height = tm->ascent + tm->descent;
  tm->internal_leading = std::max(0, tm->height - static_cast<int32_t>(m.y_ppem));
  tm->external_leading = 0;
  tm->max_char_width = Ceil26(m.max_advance);
  tm->weight = lf.weight > 0 ? lf.weight : kFwNormal;
  tm->italic = lf.italic;
  tm->underlined = lf.underline;
  tm->struck_out = lf.strike_out;
  if (FT_Load_Char(face, 'x', FT_LOAD_DEFAULT) == 0) {
    tm->ave_char_width = static_cast<int32_t>((face->glyph->advance.x + 32) >> 6) + (embolden ? 1 : 0);
  }
  if (FT_IS_SCALABLE(face)) {
    *ul_offset = std::max<int32_t>(1, static_cast<int32_t>(
                                          -FT_MulFix(face->underline_position, m.y_scale) / 64));
    *ul_thickness = std::max<int32_t>(1, static_cast<int32_t>(FT_MulFix(face->underline_thickness, m.y_scale) / 64));
  } else {
    *ul_offset = 1;
    *ul_thickness = 1;
  }
}

}  // namespace

void LogFont::SetFaceName(std::u16string_view name) {
  std::fill(std::begin(face_name), std::end(face_name), u'\0');
  const size_t n = std::min<size_t>(name.size(), 31);
  std::copy_n(name.begin(), n, face_name);
}

std::u16string_view LogFont::FaceName() const {
  size_t n = 0;
  while (n < 32 && face_name[n]) ++n;
  return std::u16string_view(face_name, n);
}

Font::~Font() {
  if (face_) {
    std::lock_guard<std::recursive_mutex> guard(TheRegistry().lock);
    FT_Done_Face(static_cast<FT_Face>(face_));
  }
}

void Font::WithGlyphs(const std::function<void()>& fn) {
  std::lock_guard<std::recursive_mutex> guard(TheRegistry().lock);
  fn();
}

const Glyph& Font::GlyphOf(char32_t c) {
  auto found = glyphs_.find(c);
  if (found != glyphs_.end()) return found->second;
  Glyph& g = glyphs_[c];
  FT_Face face = static_cast<FT_Face>(face_);
  if (!face) return g;
  const FT_Int32 target = antialias_ ? FT_LOAD_TARGET_NORMAL : (FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME);
  if (FT_Load_Char(face, c, FT_LOAD_DEFAULT | target) != 0) return g;
  FT_GlyphSlot slot = face->glyph;
  if (embolden_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Embolden(slot);
  g.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
  if (embolden_ && slot->format != FT_GLYPH_FORMAT_OUTLINE) g.advance += 1;
  if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
      FT_Render_Glyph(slot, antialias_ ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) {
    return g;
  }
  const FT_Bitmap& b = slot->bitmap;
  if (b.width == 0 || b.rows == 0 || b.width > 4096 || b.rows > 4096) return g;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = static_cast<int32_t>(b.width);
  g.rows = static_cast<int32_t>(b.rows);
  const bool bold_bitmap = embolden_ && slot->format == FT_GLYPH_FORMAT_BITMAP;
  if (bold_bitmap) g.width += 1;  // raster fonts are emboldened by doubling each column
  g.coverage.reset(new uint8_t[static_cast<size_t>(g.width) * g.rows]());
  for (int32_t y = 0; y < static_cast<int32_t>(b.rows); ++y) {
    const unsigned char* src = b.buffer + static_cast<ptrdiff_t>(y) * b.pitch;
    uint8_t* dst = g.coverage.get() + static_cast<size_t>(y) * g.width;
    for (int32_t x = 0; x < static_cast<int32_t>(b.width); ++x) {
      uint8_t v = 0;
      if (b.pixel_mode == FT_PIXEL_MODE_MONO) {
        v = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      } else if (b.pixel_mode == FT_PIXEL_MODE_GRAY) {
        v = b.num_grays == 256 ? src[x] : static_cast<uint8_t>(src[x] * 255 / std::max<unsigned>(1, b.num_grays - 1));
        if (!antialias_) v = v >= 128 ? 255 : 0;
      }
      dst[x] = std::max(dst[x], v);
      if (bold_bitmap) dst[x + 1] = std::max(dst[x + 1], v);
    }
  }
  return g;
}

int AddFontResource(const ov::String& path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  EnsureBundled(r);
  return AddFacesLocked(r, path.ToUtf8Lossy(), false);
}

bool RemoveFontResource(const ov::String& path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  const std::string p = path.ToUtf8Lossy();
  const auto before = r.faces.size();
  std::erase_if(r.faces, [&](const FaceEntry& e) { return !e.bundled && e.path == p; });
  if (r.faces.size() == before) return false;
  r.enum_metrics.clear();
  return true;
}

namespace {

// The metrics of a listed name at the enumeration's size, measured once.
TextMetrics EnumMetrics(const LogFont& lf) {
  Registry& r = TheRegistry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  const std::u16string_view name = lf.FaceName();
  for (const auto& [cached_name, metrics] : r.enum_metrics) {
    if (cached_name.View() == name) return metrics;
  }
  const TextMetrics metrics = CreateFontIndirect(lf)->metrics();
  r.enum_metrics.emplace_back(ov::String(name), metrics);
  return metrics;
}

}  // namespace

void EnumFontFamilies(HDC, const std::function<int(const LogFont&, const TextMetrics&, uint32_t)>& fn) {
  struct Item {
    ov::String name;
    bool raster;
  };
  std::vector<Item> items;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    EnsureBundled(r);
    auto add = [&](const ov::String& name, bool raster) {
      for (const Item& it : items) {
        if (it.name.EqualsNoCase(name.View())) return;
      }
      items.push_back({name, raster});
    };
    for (const FaceEntry& e : r.faces) {
      if (e.bundled) add(e.family, e.raster);
    }
    bool have_bundled = !items.empty();
    for (const Alias& a : kAliases) {
      if (have_bundled) add(ov::String(a.name), false);
    }
    for (const FaceEntry& e : r.faces) {
      if (!e.bundled) add(e.family, e.raster);
    }
  }
  for (const Item& it : items) {
    LogFont lf;
    lf.height = kSystemFontHeight;
    lf.weight = kFwNormal;
    lf.SetFaceName(it.name.View());
    if (!fn(lf, EnumMetrics(lf), it.raster ? 1u : 4u)) return;
  }
}

HFont CreateFontIndirect(const LogFont& lf) {
  HFont font(new Font);
  font->logfont_ = lf;
  Registry& r = TheRegistry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  EnsureBundled(r);
  const bool bold = lf.weight >= 550;
  const bool italic = lf.italic != 0;
  font->family_ = ResolveFamily(r, lf.FaceName());
  const FaceEntry* entry = PickFace(r, font->family_, bold, italic);
  if (!entry) entry = PickFace(r, ov::String(kBundledFamily), bold, italic);
  if (!entry && !r.faces.empty()) entry = &r.faces.front();
  if (!entry || !EnsureLibrary(r)) return font;
  FT_Face face = nullptr;
  if (FT_New_Face(r.library, entry->path.c_str(), entry->index, &face) != 0) return font;
  font->family_ = entry->family;
  font->antialias_ = lf.quality == kAntialiasedQuality || lf.quality == kClearTypeQuality;
  font->embolden_ = bold && !entry->bold;
  if (italic && !entry->italic && FT_IS_SCALABLE(face)) {
    FT_Matrix shear{0x10000, 0x3800, 0, 0x10000};  // about 12 degrees of slant
    FT_Set_Transform(face, &shear, nullptr);
  }
  int32_t h = lf.height == 0 ? -kDefaultPixelHeight : lf.height;
  h = std::clamp(h, -kMaxPixelHeight, kMaxPixelHeight);
  if (FT_IS_SCALABLE(face)) {
    FT_Size_RequestRec req{};
    req.type = h < 0 ? FT_SIZE_REQUEST_TYPE_NOMINAL : FT_SIZE_REQUEST_TYPE_CELL;
    req.height = static_cast<FT_Long>(std::abs(h)) << 6;
    if (FT_Request_Size(face, &req) != 0) {
      FT_Done_Face(face);
      return font;
    }
  } else if (face->num_fixed_sizes > 0) {
    // Raster fonts: the strike nearest to the asked height.
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i) {
      if (std::abs(face->available_sizes[i].height - std::abs(h)) <
          std::abs(face->available_sizes[best].height - std::abs(h))) {
        best = i;
      }
    }
    if (FT_Select_Size(face, best) != 0) {
      FT_Done_Face(face);
      return font;
    }
  }
  font->face_ = face;
  FillMetricsLocked(face, font->embolden_, lf, &font->metrics_, &font->underline_offset_,
                    &font->underline_thickness_);
  return font;
}

HFont GetStockFont() {
  static const HFont stock = [] {
    LogFont lf;
    lf.height = kSystemFontHeight;
    lf.weight = kFwNormal;
    lf.SetFaceName(kSystemFace);
    return CreateFontIndirect(lf);
  }();
  return stock;
}

ov::String GetTextFace(HDC dc) {
  if (!dc || !dc->font()) return ov::String();
  return ov::String(dc->font()->logfont().FaceName());
}

bool GetTextMetrics(HDC dc, TextMetrics* tm) {
  if (!dc || !dc->font() || !dc->font()->usable() || !tm) return false;
  *tm = dc->font()->metrics();
  return true;
}

namespace {

// Code point starting at text[i] and the units it takes.
char32_t DecodeAt(std::u16string_view text, size_t i, size_t* units) {
  const char16_t c = text[i];
  if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
    *units = 2;
    return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
  }
  *units = 1;
  return c;
}

// Advance of each unit (the second unit of a pair carries the width). Font lock held.
void Advances(Font& font, std::u16string_view text, std::vector<int32_t>* adv) {
  adv->assign(text.size(), 0);
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    const char32_t c = DecodeAt(text, i, &n);
    (*adv)[i + n - 1] = font.GlyphOf(c).advance;
    i += n;
  }
}

}  // namespace

namespace {
thread_local uint64_t g_measured_characters = 0;
}  // namespace

uint64_t MeasuredCharacters() { return g_measured_characters; }

bool GetTextExtentExPoint(HDC dc, std::u16string_view text, int32_t max_extent, int32_t* fit, int32_t* dx,
                          Size* size) {
  g_measured_characters += text.size();
  if (!dc || !dc->font() || !dc->font()->usable()) return false;
  Font& font = *dc->font();
  std::vector<int32_t> adv;
  font.WithGlyphs([&] { Advances(font, text, &adv); });
  int64_t total = 0;
  int32_t fitted = 0;
  bool still_fits = true;
  for (size_t i = 0; i < adv.size(); ++i) {
    total += adv[i];
    const int32_t clamped = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
    if (dx) dx[i] = clamped;
    if (still_fits && (max_extent < 0 || total <= max_extent)) {
      fitted = static_cast<int32_t>(i + 1);
    } else {
      still_fits = false;
    }
  }
  if (fit) *fit = fitted;
  if (size) *size = {static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)), font.metrics().height};
  return true;
}

bool GetTextExtentPoint(HDC dc, std::u16string_view text, Size* size) {
  return GetTextExtentExPoint(dc, text, -1, nullptr, nullptr, size);
}

bool ExtTextOut(HDC dc, int32_t x, int32_t y, uint32_t options, const Rect* rect, std::u16string_view text,
                const int32_t* dx) {
  if (!dc || !dc->surface() || !dc->font() || !dc->font()->usable()) return false;
  Font& font = *dc->font();
  Bitmap* out = dc->surface();
  const TextMetrics& tm = font.metrics();
  const uint16_t bk = ColorRefTo565(dc->bk_color());
  const COLORREF fg = dc->text_color();

  // The visible rectangles: surface, DC clip and (with kEtoClipped) the rectangle.
  const Rect limit = (options & kEtoClipped) && rect ? *rect : Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  std::vector<Rect> visible;
  dc->ForEachVisible(limit, [&](const Rect& part) { visible.push_back(part); });
  if ((options & kEtoOpaque) && rect) {
    for (const Rect& v : visible) {
      const Rect f = IntersectRects(v, *rect);
      for (int32_t py = f.top; py < f.bottom; ++py) std::fill(out->row(py) + f.left, out->row(py) + f.right, bk);
    }
  }
  if (text.empty()) return true;

  // Layout in text space (u along the line, v down from the cell's top),
  // mapped to the surface by the escapement.
  const int32_t turn = ((font.logfont().escapement % 3600) + 3600) % 3600 / 900 *
                       ((font.logfont().escapement % 900) == 0 ? 1 : 0);
  auto map = [&](int64_t u, int64_t v, int64_t* px, int64_t* py) {
    switch (turn) {
      case 1: *px = x + v; *py = y - u; break;   // 90 degrees: upwards
      case 2: *px = x - u; *py = y - v; break;
      case 3: *px = x - v; *py = y + u; break;   // 270 degrees: downwards
      default: *px = x + u; *py = y + v; break;
    }
  };
  // The visible pixels' bounding box in text space, [u0, u1) x [v0, v1): the
  // loops below walk only that, so the part of a large font's line that
  // lies outside the clip costs nothing.
  int64_t u0 = 0, u1 = 0, v0 = 0, v1 = 0;
  if (!visible.empty()) {
    Rect box = visible.front();
    for (const Rect& v : visible) {
      box = {std::min(box.left, v.left), std::min(box.top, v.top), std::max(box.right, v.right),
             std::max(box.bottom, v.bottom)};
    }
    auto unmap = [&](int64_t px, int64_t py, int64_t* u, int64_t* v) {
      switch (turn) {
        case 1: *u = y - py; *v = px - x; break;
        case 2: *u = x - px; *v = y - py; break;
        case 3: *u = py - y; *v = x - px; break;
        default: *u = px - x; *v = py - y; break;
      }
    };
    int64_t ua, va, ub, vb;
    unmap(box.left, box.top, &ua, &va);
    unmap(int64_t{box.right} - 1, int64_t{box.bottom} - 1, &ub, &vb);
    u0 = std::min(ua, ub);
    u1 = std::max(ua, ub) + 1;
    v0 = std::min(va, vb);
    v1 = std::max(va, vb) + 1;
  }
  // Pixel writer: coverage 255 sets, less blends toward the text colour.
  auto put = [&](int64_t px, int64_t py, uint32_t cov, bool solid_bk) {
    if (px < INT32_MIN || px > INT32_MAX || py < INT32_MIN || py > INT32_MAX) return;
    for (const Rect& v : visible) {
      if (!PointInRect(v, int32_t(px), int32_t(py))) continue;
      uint16_t& d = out->row(int32_t(py))[px];
      if (solid_bk) {
        d = bk;
      } else if (cov >= 255) {
        d = ColorRefTo565(fg);
      } else if (cov) {
        const uint32_t na = 255 - cov;
        d = Rgb888To565(uint8_t((RedOf(fg) * cov + Red565(d) * na + 127) / 255),
                        uint8_t((GreenOf(fg) * cov + Green565(d) * na + 127) / 255),
                        uint8_t((BlueOf(fg) * cov + Blue565(d) * na + 127) / 255));
      }
      return;
    }
  };

  bool drawn = true;
  font.WithGlyphs([&] {
    std::vector<int32_t> adv;
    Advances(font, text, &adv);
    if (dx) {
      for (size_t i = 0; i < adv.size(); ++i) adv[i] = dx[i];
    }
    int64_t width = 0;
    for (int32_t a : adv) width += a;
    if (width > (int64_t(1) << 24)) {
      drawn = false;
      return;
    }
    if (dc->bk_mode() == kOpaque) {
      for (int64_t v = std::max<int64_t>(0, v0); v < std::min<int64_t>(tm.height, v1); ++v) {
        for (int64_t u = std::max<int64_t>(0, u0); u < std::min(width, u1); ++u) {
          int64_t px, py;
          map(u, v, &px, &py);
          put(px, py, 0, true);
        }
      }
    }
    int64_t pen = 0;
    for (size_t i = 0; i < text.size();) {
      size_t n = 1;
      const char32_t c = DecodeAt(text, i, &n);
      const Glyph& g = font.GlyphOf(c);
      const int64_t left = pen + g.left, top = int64_t(tm.ascent) - g.top;
      const int64_t gy1 = std::min<int64_t>(g.rows, v1 - top), gx1 = std::min<int64_t>(g.width, u1 - left);
      for (int64_t gy = std::max<int64_t>(0, v0 - top); gy < gy1; ++gy) {
        const uint8_t* cov = g.coverage.get() + static_cast<size_t>(gy) * g.width;
        for (int64_t gx = std::max<int64_t>(0, u0 - left); gx < gx1; ++gx) {
          if (!cov[gx]) continue;
          int64_t px, py;
          map(left + gx, top + gy, &px, &py);
          put(px, py, cov[gx], false);
        }
      }
      for (size_t k = 0; k < n; ++k) pen += adv[i + k];
      i += n;
    }
    auto rule = [&](int64_t from, int32_t thickness) {
      for (int64_t v = std::max(from, v0); v < std::min(from + thickness, v1); ++v) {
        for (int64_t u = std::max<int64_t>(0, u0); u < std::min(width, u1); ++u) {
          int64_t px, py;
          map(u, v, &px, &py);
          put(px, py, 255, false);
        }
      }
    };
    if (font.logfont().underline) {
      rule(std::min<int64_t>(tm.ascent + font.underline_offset(), tm.height - font.underline_thickness()),
           font.underline_thickness());
    }
    if (font.logfont().strike_out) rule(tm.ascent - tm.ascent / 3, font.underline_thickness());
  });
  return drawn;
}

}  // namespace gfx
