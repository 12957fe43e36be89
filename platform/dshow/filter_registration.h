#pragma once
// What a filter plug-in registers and how it serves its classes.
//
// A plug-in lists its classes in a table of CFactoryTemplate (name, class
// id, creation function, optional setup record). AMovieDllRegisterServer2
// writes, for each, the class table entry (the plug-in's own file,
// threading model "Both") and, with a setup record, the filter's
// registration under the classes root: "Filter\{clsid}" (values "" the name,
// "Merit") with one key per pin "Filter\{clsid}\Pins\<name>" (values
// "Output", "Rendered", "ZeroAllowed", "Many", and per media type "Type<n>"
// as "{major} {subtype}"). With false it removes both.
// AMovieDllGetClassObject and AMovieDllCanUnloadNow serve the table.
//
// Thread: any thread.

#include <cstdint>
#include <span>

#include "platform/com/unknown.h"
#include "platform/dshow/dshow_types.h"

namespace dshow {

struct AMOVIESETUP_MEDIATYPE {
  const GUID* clsMajorType;
  const GUID* clsMinorType;
};

struct AMOVIESETUP_PIN {
  const char16_t* strName;
  bool bRendered;
  bool bOutput;
  bool bZero;
  bool bMany;
  const GUID* clsConnectsToFilter;
  const char16_t* strConnectsToPin;
  uint32_t nMediaTypes;
  const AMOVIESETUP_MEDIATYPE* lpMediaType;
};

struct AMOVIESETUP_FILTER {
  const GUID* clsID;
  const char16_t* strName;
  uint32_t dwMerit;
  uint32_t nPins;
  const AMOVIESETUP_PIN* lpPin;
};

// Creates one object of the class (one reference); *hr receives a failure.
using CreateObjectFunction = com::IUnknown* (*)(com::IUnknown* outer, HRESULT* hr);

struct CFactoryTemplate {
  const char16_t* m_Name;
  const GUID* m_ClsID;
  CreateObjectFunction m_lpfnNew;
  void (*m_lpfnInit)(bool loading, const GUID* clsid);
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

// module_address: any function or object of the plug-in (its file is what
// the class table records).
HRESULT AMovieDllRegisterServer2(bool do_register, std::span<const CFactoryTemplate> templates,
                                 const void* module_address);
HRESULT AMovieDllGetClassObject(std::span<const CFactoryTemplate> templates, const GUID& clsid, const GUID& iid,
                                void** object);
HRESULT AMovieDllCanUnloadNow();

}  // namespace dshow
