#include "platform/com/variant.h"

namespace com {

void VariantInit(VARIANT* value) {
  if (!value) return;
  value->vt = VT_EMPTY;
  value->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  VariantInit(value);
  return S_OK;
}

}  // namespace com
