#pragma once
// GUID: the 16-byte identifier of classes, interfaces, media types and
// categories, with its text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// Thread: any thread.

#include <cstdint>
#include <string_view>

#include "platform/os/ov_string.h"

namespace com {

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// The media subtype of a FOURCC code: {XXXXXXXX-0000-0010-8000-00AA00389B71}
// with the four characters, low byte first, in the first field.
constexpr GUID FourccGuid(uint32_t fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// The FOURCC code of four characters, the first in the low byte ("WMV2").
constexpr uint32_t FourccCode(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

// Upper-case text form with braces.
ov::String GuidToString(const GUID& guid);
// Parses the text form (braces required, hex digits of either case); false
// for anything else.
bool GuidFromString(std::u16string_view text, GUID* guid);

}  // namespace com
