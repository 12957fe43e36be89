#include "platform/com/guid.h"

#include <cstdio>

namespace com {
namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[*pos].
bool ReadHex(std::u16string_view text, size_t* pos, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    if (*pos >= text.size()) return false;
    const int h = HexValue(text[(*pos)++]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(h);
  }
  *value = v;
  return true;
}

bool Expect(std::u16string_view text, size_t* pos, char16_t c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

}  // namespace

ov::String GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return ov::String::FromAscii(text);
}

bool GuidFromString(std::u16string_view text, GUID* guid) {
  if (text.size() != 38) return false;
  size_t pos = 0;
  GUID g{};
  uint32_t v = 0;
  if (!Expect(text, &pos, u'{') || !ReadHex(text, &pos, 8, &g.Data1) || !Expect(text, &pos, u'-')) return false;
  if (!ReadHex(text, &pos, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  if (!Expect(text, &pos, u'-')) return false;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &pos, u'-')) return false;
    if (!ReadHex(text, &pos, 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  if (!Expect(text, &pos, u'}')) return false;
  *guid = g;
  return true;
}

}  // namespace com
