#include "ui/text_drawing.h"

#include "platform/os/file.h"

namespace ui {

int FindFontCallback(const gfx::LogFont& font, const gfx::TextMetrics&, uint32_t, FontSearch* search) {
  if (search && search->description && search->wanted.EqualsNoCase(font.FaceName())) {
    *search->description = font;
    search->found = true;
  }
  return 1;
}

int FindFont(gfx::HDC dc, gfx::LogFont* description, ov::String face_name) {
  if (!description) return 1;
  FontSearch search;
  search.wanted = face_name;
  search.description = description;
  gfx::EnumFontFamilies(dc, [&search](const gfx::LogFont& lf, const gfx::TextMetrics& tm, uint32_t type) {
    return FindFontCallback(lf, tm, type, &search);
  });
  description->width = 0;
  description->escapement = 0;
  description->orientation = 0;
  description->weight = 0;
  description->italic = 0;
  description->underline = 0;
  description->strike_out = 0;
  if (!search.found) {
    ov::String system_face;
    if (dc) {
      gfx::HFont previous = dc->SelectFont(gfx::GetStockFont());
      system_face = gfx::GetTextFace(dc);
      dc->SelectFont(previous);
    } else {
      system_face = ov::String(gfx::GetStockFont()->logfont().FaceName());
    }
    description->SetFaceName(system_face.View());
  }
  return 1;
}

int LoadFontFolder(ov::String folder, ov::String pattern, int remove) {
  int handled = 0;
  for (const ov::FindData& entry : ov::ListFolder(folder, pattern)) {
    if (entry.attributes & ov::kAttributeDirectory) continue;
    const ov::String path = ov::JoinPath(folder, entry.name);
    if (remove) {
      gfx::RemoveFontResource(path);
    } else {
      gfx::AddFontResource(path);
    }
    ++handled;
  }
  return handled;
}

void DrawTextEllipsis(TextFontState* element, gfx::HDC dc, ov::String text, gfx::Rect* clip, int32_t x, int32_t* y,
                      gfx::COLORREF colour) {
  if (!element || !dc || !clip || !y) return;
  gfx::HFont& font = element->CachedFont();
  if (!font) {
    gfx::LogFont lf;
    FindFont(dc, &lf, element->FontFaceName());
    lf.height = element->FontHeight();
    if (element->FontAntialiased()) lf.quality = gfx::kAntialiasedQuality;
    font = gfx::CreateFontIndirect(lf);
  }
  gfx::HFont previous = dc->SelectFont(font);
  gfx::Size extent;
  if (!gfx::GetTextExtentPoint(dc, text.View(), &extent)) {
    dc->SelectFont(previous);
    return;
  }
  dc->SetTextColor(colour);
  dc->SetBkMode(gfx::kTransparent);
  static constexpr char16_t kEllipsis[] = u"...";
  const bool cut = extent.cx > clip->right - clip->left;
  gfx::Size ellipsis;
  if (cut) {
    gfx::GetTextExtentPoint(dc, kEllipsis, &ellipsis);
    clip->right -= ellipsis.cx;
  }
  gfx::ExtTextOut(dc, x, *y, gfx::kEtoClipped, clip, text.View());
  if (cut) {
    const gfx::Rect dots{clip->right, clip->top, clip->right + ellipsis.cx, clip->bottom};
    gfx::ExtTextOut(dc, clip->right, clip->top, gfx::kEtoClipped, &dots, kEllipsis);
  }
  *y += element->LineSize();
  dc->SetBkMode(gfx::kOpaque);
  dc->SelectFont(previous);
}

}  // namespace ui
