#pragma once
// Object creation by class id.
//
// The class table lives in the registry (platform/os/registry.h) under the
// classes root: "CLSID\{clsid}" holds the class's description and
// "CLSID\{clsid}\InprocServer32" the library path (value "") and the
// "ThreadingModel". A plug-in's DllRegisterServer writes its entries;
// creation reads them, loads the library (kept loaded until the process
// ends) and asks its exported DllGetClassObject for the class factory.
//
// Classes that the program itself provides (the filter graph, the capture
// graph builder, the media-object wrapper filter, test objects) are
// registered within the process with RegisterClassObject; creation looks
// there first.
//
// Thread: any thread.

#include <cstdint>

#include "platform/com/unknown.h"
#include "platform/os/ov_string.h"

namespace com {

// The signature of a plug-in's exports.
using DllGetClassObjectFunction = HRESULT (*)(const GUID& clsid, const GUID& iid, void** object);
using DllRegisterServerFunction = HRESULT (*)();
using DllCanUnloadNowFunction = HRESULT (*)();

// Creation contexts (only in-process servers exist here).
enum : uint32_t { CLSCTX_INPROC_SERVER = 1 };

// Threading initialisation of the calling thread: a count only (objects are
// free-threaded here). S_OK the first time on a thread, S_FALSE after.
HRESULT CoInitializeEx(void* reserved, uint32_t flags);
void CoUninitialize();

// Writes the class table entry of an in-process server. SELFREG_E_CLASS when
// the registry cannot be written.
HRESULT RegisterInprocServer(const GUID& clsid, const ov::String& description, const ov::String& library_path,
                             const ov::String& threading_model);
// Removes the entry (S_OK also when there was none).
HRESULT UnregisterInprocServer(const GUID& clsid);
// The library registered for clsid; false when the class is not in the table.
bool FindInprocServer(const GUID& clsid, ov::String* library_path, ov::String* threading_model = nullptr);

// A class of this process; replaces an earlier one with the same id.
void RegisterClassObject(const GUID& clsid, CreateInstanceFunction create);
void RevokeClassObject(const GUID& clsid);

// The class factory (or another interface of the class object) of clsid:
// REGDB_E_CLASSNOTREG for an unknown class, CO_E_DLLNOTFOUND when its
// library does not load, CO_E_ERRORINDLL when it lacks DllGetClassObject,
// else the library's result.
HRESULT CoGetClassObject(const GUID& clsid, uint32_t context, const GUID& iid, void** object);
// Creates an object of clsid and returns its interface iid.
HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, uint32_t context, const GUID& iid, void** object);

}  // namespace com
