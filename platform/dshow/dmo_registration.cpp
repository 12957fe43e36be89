#include "platform/dshow/dmo_registration.h"

#include "platform/os/registry.h"

namespace dshow {
namespace {

constexpr auto kRoot = ov::RegistryRoot::kClassesRoot;
constexpr char16_t kObjects[] = u"MediaObjects\\";

ov::String ObjectKey(const GUID& clsid) { return ov::String(kObjects) + com::GuidToString(clsid); }
ov::String CategoryKey(const GUID& category) {
  return ov::String(kObjects) + u"Categories\\" + com::GuidToString(category);
}

void PutGuid(std::vector<uint8_t>* out, const GUID& g) {
  auto put = [out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(g.Data1, 4);
  put(g.Data2, 2);
  put(g.Data3, 2);
  for (uint8_t b : g.Data4) out->push_back(b);
}

GUID GetGuid(const uint8_t* p) {
  GUID g{};
  g.Data1 = static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24);
  g.Data2 = static_cast<uint16_t>(p[4] | (p[5] << 8));
  g.Data3 = static_cast<uint16_t>(p[6] | (p[7] << 8));
  for (int i = 0; i < 8; ++i) g.Data4[i] = p[8 + i];
  return g;
}

std::vector<uint8_t> PackTypes(std::span<const DMO_PARTIAL_MEDIATYPE> types) {
  std::vector<uint8_t> out;
  for (const DMO_PARTIAL_MEDIATYPE& t : types) {
    PutGuid(&out, t.type);
    PutGuid(&out, t.subtype);
  }
  return out;
}

std::vector<DMO_PARTIAL_MEDIATYPE> UnpackTypes(const std::vector<uint8_t>& data) {
  std::vector<DMO_PARTIAL_MEDIATYPE> out;
  for (size_t i = 0; i + 32 <= data.size(); i += 32) out.push_back({GetGuid(&data[i]), GetGuid(&data[i + 16])});
  return out;
}

}  // namespace

HRESULT DMORegister(const char16_t* name, const GUID& clsid, const GUID& category, uint32_t flags,
                    std::span<const DMO_PARTIAL_MEDIATYPE> input_types,
                    std::span<const DMO_PARTIAL_MEDIATYPE> output_types) {
  if (!name) return com::E_POINTER;
  const ov::String key = ObjectKey(clsid);
  const bool ok = ov::RegistrySetString(kRoot, key, u"", name) && ov::RegistrySetDword(kRoot, key, u"Flags", flags) &&
                  ov::RegistrySetBinary(kRoot, key, u"InputTypes", PackTypes(input_types)) &&
                  ov::RegistrySetBinary(kRoot, key, u"OutputTypes", PackTypes(output_types)) &&
                  ov::RegistryCreateKey(kRoot, CategoryKey(category) + u"\\" + com::GuidToString(clsid));
  return ok ? com::S_OK : com::E_FAIL;
}

HRESULT DMOUnregister(const GUID& clsid, const GUID& category) {
  const ov::String listed = CategoryKey(category) + u"\\" + com::GuidToString(clsid);
  if (ov::RegistryKeyExists(kRoot, listed)) ov::RegistryDeleteKey(kRoot, listed);
  std::vector<ov::String> categories;
  bool still_listed = false;
  if (ov::RegistryListSubKeys(kRoot, ov::String(kObjects) + u"Categories", &categories)) {
    for (const ov::String& c : categories) {
      if (ov::RegistryKeyExists(kRoot, ov::String(kObjects) + u"Categories\\" + c + u"\\" + com::GuidToString(clsid))) {
        still_listed = true;
      }
    }
  }
  if (!still_listed && ov::RegistryKeyExists(kRoot, ObjectKey(clsid))) ov::RegistryDeleteKey(kRoot, ObjectKey(clsid));
  return com::S_OK;
}

std::vector<DmoEntry> DMOEnumCategory(const GUID& category) {
  std::vector<DmoEntry> out;
  std::vector<ov::String> ids;
  if (!ov::RegistryListSubKeys(kRoot, CategoryKey(category), &ids)) return out;
  for (const ov::String& id : ids) {
    DmoEntry e{};
    if (!com::GuidFromString(id.View(), &e.clsid)) continue;
    const ov::String key = ObjectKey(e.clsid);
    ov::RegistryQueryString(kRoot, key, u"", &e.name);
    std::vector<uint8_t> data;
    if (ov::RegistryQueryBinary(kRoot, key, u"InputTypes", &data)) e.input_types = UnpackTypes(data);
    if (ov::RegistryQueryBinary(kRoot, key, u"OutputTypes", &data)) e.output_types = UnpackTypes(data);
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace dshow
