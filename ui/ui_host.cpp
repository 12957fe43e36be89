#include "ui/ui_host.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "ui/menu.h"

namespace ui {
namespace {
UiHost* g_host = nullptr;

Element* Scope(UiHost* host, Element* element) { return element ? element : host->CurrentMenu(); }
}  // namespace

int UiHost::QueueAction(Element* target, int32_t code, const ov::String& parameter, int32_t depth) {
  // Without a message loop the action runs at once.
  return target ? target->OnAction(code, parameter, depth) : DoAction(code, parameter, depth);
}

Element* UiHost::FindElementByType(Element* element, int32_t type, int32_t depth) {
  Element* scope = Scope(this, element);
  return scope ? scope->FindByType(type, depth != 0) : nullptr;
}

Element* UiHost::FindElementByAction(Element* element, int32_t code) {
  Element* scope = Scope(this, element);
  return scope ? scope->FindByAction(code) : nullptr;
}

void UiHost::EnableActionItems(bool on, Element* element, int32_t code, int32_t depth) {
  if (Element* scope = Scope(this, element)) scope->EnableAction(on, code, depth);
}

void UiHost::CheckActionItems(bool on, Element* element, int32_t code, int32_t depth) {
  if (Element* scope = Scope(this, element)) scope->CheckAction(on, code, depth);
}

void UiHost::EnableAttributeItems(bool on, Element* element, const ov::String& value, int32_t depth) {
  if (Element* scope = Scope(this, element)) scope->EnableIfAttribute(on, value, depth);
}

void UiHost::SetLiveVideoArea(int32_t x, int32_t y, int32_t w, int32_t h) {
  (void)x;
  (void)y;
  (void)w;
  (void)h;
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
