#pragma once
// VARIANT: the tagged value that property bags pass. The subset the system
// uses: VT_BOOL (VARIANT_TRUE is -1), VT_I4, VT_UI4, VT_INT, VT_UINT, and
// VT_BSTR, whose string the VARIANT owns (VariantClear frees it).

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

namespace com {

using VARTYPE = uint16_t;
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
};

using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct VARIANT {
  VARTYPE vt;
  union {
    int32_t lVal;     // VT_I4
    uint32_t ulVal;   // VT_UI4
    int32_t intVal;   // VT_INT
    uint32_t uintVal; // VT_UINT
    VARIANT_BOOL boolVal;  // VT_BOOL
    BSTR bstrVal;     // VT_BSTR
  };
};

// VT_EMPTY with a zero value.
void VariantInit(VARIANT* value);
// Frees an owned string and makes the value VT_EMPTY; E_INVALIDARG for null.
HRESULT VariantClear(VARIANT* value);

}  // namespace com
