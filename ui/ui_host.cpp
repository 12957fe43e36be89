#include "ui/ui_host.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

namespace ui {
namespace {
UiHost* g_host = nullptr;
}

UiHost* Host() { return g_host; }
void SetHost(UiHost* host) { g_host = host; }

void InvalidateScreen() {
  if (!g_host) return;
  const gfx::Size screen = g_host->ScreenSize();
  g_host->InvalidateArea({0, 0, screen.cx, screen.cy});
}

void ReportUnreadablePicture(const ov::String& path) {
  static std::set<std::u16string> reported;
  if (!reported.insert(std::u16string(path.View())).second) return;
  std::fprintf(stderr, "ovmix: cannot read the picture \"%s\"\n", path.ToUtf8Lossy().c_str());
}

uint32_t ParseHex(const ov::String& value) {
  int i = 0;
  while (i < value.Length() && (value[i] == u' ' || value[i] == u'\t')) ++i;
  if (i + 1 < value.Length() && value[i] == u'0' && (value[i + 1] == u'x' || value[i + 1] == u'X')) i += 2;
  uint32_t v = 0;
  for (; i < value.Length(); ++i) {
    const char16_t c = value[i];
    uint32_t d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else break;
    v = (v << 4) | d;
  }
  return v;
}

uint32_t ParseColour(const ov::String& value) {
  uint32_t colour = 0;
  if (g_host && g_host->LookupPaletteColour(value, &colour)) return colour;
  return ParseHex(value);
}

int32_t ParseDecimal(const ov::String& value) { return value.ToInt(); }

int32_t ParseCoordinate(const ov::String& value) {
  return std::clamp(ParseDecimal(value), -kMaxSkinCoordinate, kMaxSkinCoordinate);
}

bool IsTrueValue(const ov::String& value) {
  return value.EqualsNoCase(u"true") || value.EqualsNoCase(u"yes") || value.EqualsNoCase(u"y");
}

}  // namespace ui
