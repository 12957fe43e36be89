#include "platform/com/property_bag.h"

#include <string_view>

#include "platform/os/ov_string.h"

namespace com {

const PropertyDef* PropertyTable::Find(const char16_t* name) const {
  if (!name) return nullptr;
  const ov::String wanted(name);
  for (const PropertyDef& def : defs_) {
    if (wanted.EqualsNoCase(def.name)) return &def;
  }
  return nullptr;
}

HRESULT PropertyTable::CheckWrite(const char16_t* name, const VARIANT* value, const PropertyDef** def,
                                  int64_t* number) const {
  if (!name || !value) return E_INVALIDARG;
  const PropertyDef* found = Find(name);
  if (!found || value->vt != found->type) return E_INVALIDARG;
  int64_t v = 0;
  switch (found->type) {
    case VT_BOOL:
      *def = found;
      *number = value->boolVal == VARIANT_TRUE ? 1 : 0;
      return S_OK;
    case VT_I4:
      v = value->lVal;
      break;
    case VT_INT:
      v = value->intVal;
      break;
    case VT_UI4:
      v = value->ulVal;
      break;
    case VT_UINT:
      v = value->uintVal;
      break;
    default:
      return E_INVALIDARG;
  }
  if (v < found->min || v > found->max) return E_INVALIDARG;
  *def = found;
  *number = v;
  return S_OK;
}

HRESULT PropertyTable::CheckRead(const char16_t* name, const VARIANT* value, const PropertyDef** def) const {
  if (!name || !value) return E_INVALIDARG;
  const PropertyDef* found = Find(name);
  if (!found) return E_INVALIDARG;
  *def = found;
  return S_OK;
}

void PropertyTable::FillRead(const PropertyDef& def, int64_t number, VARIANT* value) {
  value->vt = def.type;
  switch (def.type) {
    case VT_BOOL:
      value->boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I4:
      value->lVal = static_cast<int32_t>(number);
      break;
    case VT_INT:
      value->intVal = static_cast<int32_t>(number);
      break;
    case VT_UI4:
      value->ulVal = static_cast<uint32_t>(number);
      break;
    default:
      value->uintVal = static_cast<uint32_t>(number);
      break;
  }
}

}  // namespace com
