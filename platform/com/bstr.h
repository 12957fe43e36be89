#pragma once
// BSTR: a UTF-16 string allocated by the component layer, preceded by its
// length in bytes (32 bits) and followed by a 0 unit. A null BSTR is the
// empty string. Whoever receives a BSTR frees it with SysFreeString.
//
// Thread: any thread.

#include <cstdint>

namespace com {

using BSTR = char16_t*;

// A copy of the 0-terminated text; null for a null text or when memory is short.
BSTR SysAllocString(const char16_t* text);
// length units of text (text may be null: the units are left 0).
BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
void SysFreeString(BSTR text);
// Length in UTF-16 units (0 for null).
uint32_t SysStringLen(BSTR text);
uint32_t SysStringByteLen(BSTR text);

}  // namespace com
