// FindFont, LoadFontFolder and DrawTextEllipsis.
#include "ui/text_drawing.h"

#include <gtest/gtest.h>

#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "tests/gfx/surface_util.h"

namespace {

constexpr gfx::COLORREF kWhite = gfx::Rgb(255, 255, 255), kBlack = 0;

class TextElement : public ui::TextFontState {
 public:
  ov::String FontFaceName() const override { return face; }
  int32_t FontHeight() const override { return height; }
  bool FontAntialiased() const override { return true; }
  int32_t LineSize() const override { return line; }
  gfx::HFont& CachedFont() override { return font; }
  ov::String face = u"Tahoma";
  int32_t height = 16;
  int32_t line = 20;
  gfx::HFont font;
};

TEST(FindFontTest, CaseInsensitiveAndFallback) {
  auto dc = gfx::CreateCompatibleDC(nullptr);
  gfx::LogFont lf;
  lf.weight = 700;
  lf.italic = 1;
  lf.escapement = 900;
  EXPECT_EQ(ui::FindFont(dc.get(), &lf, u"dejavu SANS"), 1);
  EXPECT_EQ(lf.FaceName(), u"DejaVu Sans");  // the enumerated family's own spelling
  EXPECT_EQ(lf.weight, 0);
  EXPECT_EQ(lf.italic, 0);
  EXPECT_EQ(lf.escapement, 0);
  EXPECT_EQ(ui::FindFont(dc.get(), &lf, u"No Such Face"), 1);
  EXPECT_EQ(lf.FaceName(), u"Tahoma");  // the system font's face
  EXPECT_EQ(dc->font(), gfx::GetStockFont());
}

TEST(LoadFontFolderTest, AddsAndRemovesMatchingFiles) {
  const std::string dir = ovtest::ScratchDir();
  const ov::String folder = ov::String::FromAscii(dir);
  ov::String src = ov::ApplicationFolder() + u"fonts/DejaVuSerif.ttf";
  if (!ov::FileExists(src)) src = u"/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
  ASSERT_TRUE(ov::CopyFile(src, ov::JoinPath(folder, u"Skin.TTF"), false));
  ASSERT_TRUE(ov::CreateFolder(ov::JoinPath(folder, u"sub.ttf")));
  EXPECT_EQ(ui::LoadFontFolder(folder, u"*.fnt", 0), 0);
  EXPECT_EQ(ui::LoadFontFolder(folder, u"*.ttf", 0), 1);  // the folder is skipped
  EXPECT_EQ(ui::LoadFontFolder(folder, u"*.ttf", 1), 1);
  EXPECT_EQ(ui::LoadFontFolder(u"/nonexistent", u"*.ttf", 0), 0);
}

TEST(DrawTextEllipsisTest, CutsWithEllipsisAndAdvances) {
  auto canvas = ovtest::MakeCanvas(200, 60, kWhite);
  TextElement element;
  const std::string dir = ovtest::ScratchDir();
  gfx::Size size;
  auto measure = gfx::CreateCompatibleDC(nullptr);
  TextElement probe;
  int32_t y0 = 0;
  gfx::Rect wide{0, 0, 1000, 20};
  ui::DrawTextEllipsis(&probe, canvas.get(), u"Clip name", &wide, 0, &y0, kBlack);
  measure->SelectFont(probe.font);
  ASSERT_TRUE(gfx::GetTextExtentPoint(measure.get(), u"Clip name", &size));
  gfx::Size dots;
  gfx::GetTextExtentPoint(measure.get(), u"...", &dots);

  // Exactly as wide as the rectangle: drawn whole, rectangle unchanged.
  auto exact = ovtest::MakeCanvas(200, 60, kWhite);
  gfx::Rect rect{10, 5, 10 + size.cx, 25};
  int32_t y = 5;
  ui::DrawTextEllipsis(&element, exact.get(), u"Clip name", &rect, 10, &y, kBlack);
  EXPECT_EQ(rect.right, 10 + size.cx);
  EXPECT_EQ(y, 25);
  EXPECT_EQ(exact.dc->bk_mode(), gfx::kOpaque);

  // One pixel narrower: cut, rectangle narrowed by "...", dots drawn after.
  auto cut = ovtest::MakeCanvas(200, 60, kWhite);
  gfx::Rect narrow{10, 5, 10 + size.cx - 1, 25};
  y = 5;
  ui::DrawTextEllipsis(&element, cut.get(), u"Clip name", &narrow, 10, &y, gfx::Rgb(200, 0, 0));
  EXPECT_EQ(narrow.right, 10 + size.cx - 1 - dots.cx);
  EXPECT_EQ(y, 25);
  const gfx::Rect ink = ovtest::InkBox(*cut.bitmap, kWhite);
  EXPECT_LE(ink.right, narrow.right + dots.cx);
  EXPECT_GE(ink.left, 10);
  int dots_ink = 0;
  for (int32_t yy = 0; yy < 60; ++yy) {
    for (int32_t xx = narrow.right; xx < narrow.right + dots.cx; ++xx) dots_ink += cut.bitmap->row(yy)[xx] != 0xFFFF;
  }
  EXPECT_GT(dots_ink, 0);
  ovtest::SaveSurface(dir, "exact", *exact.bitmap);
  ovtest::SaveSurface(dir, "cut", *cut.bitmap);
}

}  // namespace
