#pragma once
// What the codecdmo object tests share: making an object, writing a property
// through its bag, reading little-endian words of a format block.

#include <gtest/gtest.h>

#include <cstdint>

#include "filters/codecdmo/codecdmo.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_object.h"

namespace codecdmo {

using CreateFn = HRESULT (*)(const GUID&, void**);

inline com::ComPtr<dshow::IMediaObject> Make(CreateFn create) {
  com::ComPtr<dshow::IMediaObject> object;
  EXPECT_EQ(create(dshow::IID_IMediaObject, object.ReceiveVoid()), com::S_OK);
  return object;
}

// Writes value as a VARIANT of type vt (a VT_BOOL takes value as it is: -1 true).
inline HRESULT Write(dshow::IMediaObject* object, const char16_t* name, com::VARTYPE vt, int32_t value) {
  com::ComPtr<com::IPropertyBag> bag;
  EXPECT_EQ(object->QueryInterface(com::IID_IPropertyBag, bag.ReceiveVoid()), com::S_OK);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = vt;
  v.lVal = value;
  if (vt == com::VT_BOOL) v.boolVal = static_cast<com::VARIANT_BOOL>(value);
  return bag->Write(name, &v);
}

inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace codecdmo
