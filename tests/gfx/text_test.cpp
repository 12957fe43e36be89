// Fonts and text: the bundled face and its default names, extents with
// per-character fits, and text drawn in each style. Glyph shapes depend on
// the FreeType build, so the checks measure ink (where, how much, which
// colours) rather than hashing pixels; every surface is saved as PNG.
#include <gtest/gtest.h>

#include <set>

#include "platform/gfx/font.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "tests/gfx/surface_util.h"

namespace {

constexpr gfx::COLORREF kWhite = gfx::Rgb(255, 255, 255), kBlack = 0;

gfx::HFont MakeFont(const char16_t* face, int32_t height, int weight = gfx::kFwNormal, bool italic = false,
                    bool underline = false, int escapement = 0, uint8_t quality = gfx::kAntialiasedQuality) {
  gfx::LogFont lf;
  lf.SetFaceName(face);
  lf.height = height;
  lf.weight = weight;
  lf.italic = italic;
  lf.underline = underline;
  lf.escapement = escapement;
  lf.quality = quality;
  return gfx::CreateFontIndirect(lf);
}

struct Drawn {
  gfx::Rect box;
  int ink = 0;
  std::set<uint16_t> colours;
};

Drawn Draw(const std::string& dir, const std::string& name, const gfx::HFont& font, int32_t x, int32_t y,
           int32_t w = 160, int32_t h = 160) {
  auto c = ovtest::MakeCanvas(w, h, kWhite);
  c.dc->SelectFont(font);
  c.dc->SetTextColor(kBlack);
  c.dc->SetBkMode(gfx::kTransparent);
  EXPECT_TRUE(gfx::ExtTextOut(c.get(), x, y, 0, nullptr, u"Mixer Ag"));
  Drawn d;
  d.box = ovtest::InkBox(*c.bitmap, kWhite, &d.ink);
  for (int32_t yy = 0; yy < h; ++yy) {
    for (int32_t xx = 0; xx < w; ++xx) d.colours.insert(c.bitmap->row(yy)[xx]);
  }
  ovtest::SaveSurface(dir, name, *c.bitmap);
  return d;
}

TEST(FontTest, BundledFaceAndDefaultNames) {
  auto font = MakeFont(u"tahoma", -14);
  ASSERT_TRUE(font->usable()) << "the bundled font was not found";
  EXPECT_EQ(font->resolved_family(), u"DejaVu Sans");
  EXPECT_EQ(MakeFont(u"No Such Face", -14)->resolved_family(), u"DejaVu Sans");
  EXPECT_EQ(MakeFont(u"dejavu sans mono", -14)->resolved_family(), u"DejaVu Sans Mono");
  bool saw_bundled = false, saw_alias = false;
  gfx::EnumFontFamilies(nullptr, [&](const gfx::LogFont& lf, const gfx::TextMetrics& tm, uint32_t type) {
    saw_bundled |= lf.FaceName() == u"DejaVu Sans";
    saw_alias |= lf.FaceName() == u"Tahoma";
    EXPECT_GT(tm.height, 0);
    EXPECT_EQ(type, 4u);
    return 1;
  });
  EXPECT_TRUE(saw_bundled);
  EXPECT_TRUE(saw_alias);
  // A second listing (measured once, then remembered) reports each name with
  // the metrics of a font made from the listed description.
  int listed = 0;
  gfx::EnumFontFamilies(nullptr, [&](const gfx::LogFont& lf, const gfx::TextMetrics& tm, uint32_t) {
    const gfx::TextMetrics made = gfx::CreateFontIndirect(lf)->metrics();
    EXPECT_EQ(tm.height, made.height) << ov::String(lf.FaceName()).ToUtf8Lossy();
    EXPECT_EQ(tm.ascent, made.ascent);
    EXPECT_EQ(tm.ave_char_width, made.ave_char_width);
    ++listed;
    return 1;
  });
  EXPECT_GT(listed, 1);
  // Adding a font file registers its family; removing takes it away again.
  const ov::String copy = ov::String::FromAscii(ovtest::ScratchDir() + "/Extra.ttf");
  ASSERT_TRUE(ov::CopyFile(ov::ApplicationFolder() + u"fonts/DejaVuSansMono.ttf", copy, false) ||
              ov::CopyFile(u"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", copy, false));
  EXPECT_EQ(gfx::AddFontResource(copy), 1);
  EXPECT_TRUE(gfx::RemoveFontResource(copy));
  EXPECT_FALSE(gfx::RemoveFontResource(copy));
  EXPECT_EQ(gfx::AddFontResource(u"/nonexistent.ttf"), 0);
}

TEST(FontTest, ExtentAndPerCharacterFits) {
  auto c = ovtest::MakeCanvas(10, 10, kWhite);
  c.dc->SelectFont(MakeFont(u"Tahoma", -16));
  gfx::Size size;
  ASSERT_TRUE(gfx::GetTextExtentPoint(c.get(), u"iiii", &size));
  gfx::TextMetrics tm;
  ASSERT_TRUE(gfx::GetTextMetrics(c.get(), &tm));
  EXPECT_EQ(size.cy, tm.height);
  EXPECT_EQ(tm.height, tm.ascent + tm.descent);
  const std::u16string text = u"WWii";
  int32_t dx[4] = {};
  int32_t fit = -1;
  ASSERT_TRUE(gfx::GetTextExtentExPoint(c.get(), text, 0, &fit, dx, &size));
  EXPECT_EQ(fit, 0);
  EXPECT_EQ(dx[3], size.cx);
  EXPECT_GT(dx[0], dx[3] - dx[2]);  // W wider than i
  EXPECT_EQ(dx[1], 2 * dx[0]);
  ASSERT_TRUE(gfx::GetTextExtentExPoint(c.get(), text, dx[1], &fit, nullptr, &size));
  EXPECT_EQ(fit, 2);
  ASSERT_TRUE(gfx::GetTextExtentExPoint(c.get(), text, dx[1] - 1, &fit, nullptr, &size));
  EXPECT_EQ(fit, 1);
  ASSERT_TRUE(gfx::GetTextExtentExPoint(c.get(), u"", -1, &fit, nullptr, &size));
  EXPECT_EQ(size.cx, 0);
}

TEST(TextTest, StylesDrawAsAsked) {
  const std::string dir = ovtest::ScratchDir();
  const Drawn regular = Draw(dir, "regular", MakeFont(u"Tahoma", -20), 10, 10);
  ASSERT_GT(regular.ink, 0);
  EXPECT_GE(regular.box.top, 10);
  EXPECT_GE(regular.box.left, 10);
  EXPECT_LE(regular.box.bottom, 10 + 26);
  EXPECT_GT(regular.colours.size(), 2u) << "antialiased text has intermediate shades";

  const Drawn mono = Draw(dir, "mono", MakeFont(u"Tahoma", -20, gfx::kFwNormal, false, false, 0, 0), 10, 10);
  EXPECT_EQ(mono.colours.size(), 2u) << "one-bit text has only text and background";

  const Drawn bold = Draw(dir, "bold", MakeFont(u"Tahoma", -20, gfx::kFwBold), 10, 10);
  EXPECT_GT(bold.ink, regular.ink * 5 / 4);
  EXPECT_GT(bold.box.right, regular.box.right);

  const Drawn italic = Draw(dir, "italic", MakeFont(u"Tahoma", -20, gfx::kFwNormal, true), 10, 10);
  EXPECT_NE(italic.box, regular.box);

  const Drawn underline = Draw(dir, "underline", MakeFont(u"Tahoma", -20, gfx::kFwNormal, false, true), 10, 10);
  EXPECT_GT(underline.box.right - underline.box.left, regular.box.right - regular.box.left - 2);
  EXPECT_GT(underline.ink, regular.ink + 60);

  // Escapement 900: the line runs upwards from (x, y), the cell to its right.
  const Drawn turned = Draw(dir, "escapement900", MakeFont(u"Tahoma", -20, gfx::kFwNormal, false, false, 900), 20, 140);
  EXPECT_GT(turned.box.bottom - turned.box.top, 2 * (turned.box.right - turned.box.left));
  EXPECT_LE(turned.box.bottom, 140 + 1);
  EXPECT_GE(turned.box.left, 20);
}

TEST(TextTest, ClippedAndOpaqueBackground) {
  auto c = ovtest::MakeCanvas(120, 40, kWhite);
  c.dc->SelectFont(MakeFont(u"Tahoma", -20));
  c.dc->SetTextColor(kBlack);
  c.dc->SetBkColor(gfx::Rgb(255, 0, 0));
  c.dc->SetBkMode(gfx::kTransparent);
  const gfx::Rect clip{5, 5, 30, 35};
  ASSERT_TRUE(gfx::ExtTextOut(c.get(), 5, 5, gfx::kEtoClipped, &clip, u"Wide text here"));
  gfx::Rect box = ovtest::InkBox(*c.bitmap, kWhite);
  EXPECT_GE(box.left, clip.left);
  EXPECT_LE(box.right, clip.right);
  // Unclipped opaque text fills its whole cell with the background colour.
  auto o = ovtest::MakeCanvas(120, 40, kWhite);
  o.dc->SelectFont(c.dc->font());
  o.dc->SetBkColor(gfx::Rgb(255, 0, 0));
  gfx::Size size;
  gfx::GetTextExtentPoint(o.get(), u"Wide", &size);
  ASSERT_TRUE(gfx::ExtTextOut(o.get(), 2, 3, 0, nullptr, u"Wide"));
  EXPECT_EQ(ovtest::InkBox(*o.bitmap, kWhite), (gfx::Rect{2, 3, 2 + size.cx, 3 + size.cy}));
  EXPECT_EQ(gfx::GetPixel(o.get(), 2, 3), gfx::Rgb(255, 0, 0));
  ovtest::SaveSurface(ovtest::ScratchDir(), "opaque", *o.bitmap);
}

// A clip rectangle over part of a line, in each of the four directions, with
// an opaque background and an underline: inside the rectangle exactly the
// pixels of the unclipped line, outside it nothing. (The drawing walks only
// the clipped part of the line's cell, so that a large font costs what its
// visible part does.)
TEST(TextTest, ClippedLineInEachDirectionMatchesTheUnclippedOne) {
  const gfx::Rect clip{20, 25, 60, 55};
  // Origins from which each direction's line runs across the rectangle,
  // whose edge nearest the origin cuts through the glyphs.
  const struct {
    int escapement;
    int32_t x, y;
  } lines[] = {{0, 20, 15}, {900, 10, 70}, {1800, 70, 65}, {2700, 70, 10}};
  for (const auto& [escapement, x, y] : lines) {
    SCOPED_TRACE(escapement);
    const gfx::HFont font = MakeFont(u"Tahoma", -40, gfx::kFwNormal, false, true, escapement);
    auto draw = [&](const gfx::Rect* rect) {
      auto c = ovtest::MakeCanvas(80, 80, kWhite);
      c.dc->SelectFont(font);
      c.dc->SetTextColor(kBlack);
      c.dc->SetBkColor(gfx::Rgb(255, 0, 0));
      c.dc->SetBkMode(gfx::kOpaque);
      EXPECT_TRUE(gfx::ExtTextOut(c.get(), x, y, rect ? uint32_t{gfx::kEtoClipped} : 0u, rect, u"Ag Wg"));
      return c;
    };
    const ovtest::Canvas whole = draw(nullptr), clipped = draw(&clip);
    int inside = 0;
    for (int32_t py = 0; py < 80; ++py) {
      for (int32_t px = 0; px < 80; ++px) {
        const bool in = gfx::PointInRect(clip, px, py);
        const uint16_t want = in ? whole.bitmap->row(py)[px] : gfx::ColorRefTo565(kWhite);
        inside += in && want != gfx::ColorRefTo565(kWhite);
        ASSERT_EQ(clipped.bitmap->row(py)[px], want) << px << "," << py;
      }
    }
    EXPECT_GT(inside, 200);  // the line crosses the rectangle
  }
}

}  // namespace
