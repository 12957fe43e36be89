#pragma once
// Helpers of the objects' property bags: the table of readable properties
// (a read may answer with another type than the write takes), little-endian
// stores into format blocks, and the lock a video object's write holds.

#include <cstdint>
#include <span>

#include "platform/com/property_bag.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_object.h"
#include "platform/os/ov_string.h"

namespace codecdmo {

using com::HRESULT;

struct PropertyRead {
  const char16_t* name;
  com::VARTYPE type;
  int id;
};

// The readable property called name; null for a null or unknown name or a
// null value.
inline const PropertyRead* FindRead(std::span<const PropertyRead> reads, const char16_t* name,
                                    const com::VARIANT* value) {
  if (!name || !value) return nullptr;
  const ov::String wanted(name);
  for (const PropertyRead& r : reads) {
    if (wanted.EqualsNoCase(r.name)) return &r;
  }
  return nullptr;
}

inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// QueryInterface of an encoder object: IUnknown and IMediaObject, its
// property bag, or its settings interface (null when iid names another).
inline HRESULT QueryEncoderObject(dshow::IMediaObject* media_object, com::IPropertyBag* bag, com::IUnknown* settings,
                                  const com::GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == com::IID_IUnknown || iid == dshow::IID_IMediaObject) {
    *object = media_object;
  } else if (iid == com::IID_IPropertyBag) {
    *object = bag;
  } else if (settings) {
    *object = settings;
  } else {
    *object = nullptr;
    return com::E_NOINTERFACE;
  }
  media_object->AddRef();
  return com::S_OK;
}

// Releases the object's lock, taken with Lock(1), when the write ends.
class PropertyWriteGuard {
 public:
  explicit PropertyWriteGuard(dshow::IMediaObject* object) : object_(object) {}
  ~PropertyWriteGuard() { object_->Lock(0); }
  PropertyWriteGuard(const PropertyWriteGuard&) = delete;
  PropertyWriteGuard& operator=(const PropertyWriteGuard&) = delete;

 private:
  dshow::IMediaObject* object_;
};

}  // namespace codecdmo
