#pragma once
// IPropertyBag: properties read and written by name as VARIANTs, and the
// rules that the encoder objects share for them:
// - a null name or value: E_INVALIDARG; names match without regard to case;
// - a written value must have the property's own type and lie in its range,
//   else E_INVALIDARG and nothing changes; an unknown name: E_INVALIDARG;
// - VT_BOOL: -1 is true, any other value false; a true flag reads back as -1,
//   anything else as 0.
// An object lists its properties in a table of PropertyDef and keeps the
// values itself; PropertyTable checks a call against the table.

#include <cstdint>
#include <span>

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace com {

constexpr GUID IID_IPropertyBag{0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

// Never used by this system: the error log of a Read is always null.
class IErrorLog;

class IPropertyBag : public IUnknown {
 public:
  // Fills *value with the property's type and value (what *value held before
  // is overwritten, not freed).
  virtual HRESULT Read(const char16_t* name, VARIANT* value, IErrorLog* log) = 0;
  virtual HRESULT Write(const char16_t* name, VARIANT* value) = 0;

 protected:
  ~IPropertyBag() = default;
};

// One property: its name, VARIANT type and the inclusive range of its values
// (ignored for VT_BOOL).
struct PropertyDef {
  const char16_t* name;
  VARTYPE type;
  int64_t min;
  int64_t max;
};

class PropertyTable {
 public:
  explicit PropertyTable(std::span<const PropertyDef> defs) : defs_(defs) {}

  // The property called name, or null (also for a null name).
  const PropertyDef* Find(const char16_t* name) const;

  // A Write: checks name and value; on S_OK *def is the property and *number
  // its value (a flag: 1 true, 0 false).
  HRESULT CheckWrite(const char16_t* name, const VARIANT* value, const PropertyDef** def, int64_t* number) const;
  // A Read: *def is the property (E_INVALIDARG for a null or unknown name or
  // a null value); then FillRead stores its value.
  HRESULT CheckRead(const char16_t* name, const VARIANT* value, const PropertyDef** def) const;
  static void FillRead(const PropertyDef& def, int64_t number, VARIANT* value);

 private:
  std::span<const PropertyDef> defs_;
};

}  // namespace com
