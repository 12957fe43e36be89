#pragma once
// Registration of media objects by category, kept in the registry under the
// classes root: "MediaObjects\{clsid}" holds the friendly name
// (value ""), the flags and the partial input and output types (binary
// values "InputTypes" and "OutputTypes": per type the major type's and the
// subtype's 16 bytes), and "MediaObjects\Categories\{category}\{clsid}"
// lists the object in its category.
//
// Thread: any thread.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/dshow/dshow_types.h"
#include "platform/os/ov_string.h"

namespace dshow {

struct DMO_PARTIAL_MEDIATYPE {
  GUID type;
  GUID subtype;
};

HRESULT DMORegister(const char16_t* name, const GUID& clsid, const GUID& category, uint32_t flags,
                    std::span<const DMO_PARTIAL_MEDIATYPE> input_types,
                    std::span<const DMO_PARTIAL_MEDIATYPE> output_types);
// Removes the object from the category, and its entry when no category lists it.
HRESULT DMOUnregister(const GUID& clsid, const GUID& category);

struct DmoEntry {
  GUID clsid;
  ov::String name;
  std::vector<DMO_PARTIAL_MEDIATYPE> input_types;
  std::vector<DMO_PARTIAL_MEDIATYPE> output_types;
};
// The objects registered in category.
std::vector<DmoEntry> DMOEnumCategory(const GUID& category);

}  // namespace dshow
