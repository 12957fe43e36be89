#include "platform/os/library.h"

#include <dlfcn.h>

#include <utility>

#include "platform/os/os_error.h"

namespace ov {

Library::~Library() { Free(); }

Library::Library(Library&& other) noexcept { *this = std::move(other); }

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool Library::Load(const String& path) {
  Free();
  std::string native;
  if (path.IsEmpty() || !path.ToUtf8(&native)) {
    error_ = "invalid library name";
    SetLastError(kErrorModuleNotFound);
    return false;
  }
  handle_ = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    error_ = why ? why : "cannot load " + native;
    SetLastError(kErrorModuleNotFound);
    return false;
  }
  error_.clear();
  return true;
}

void* Library::Symbol(const char* name) const {
  if (!handle_ || !name) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  if (!address) {
    const char* why = ::dlerror();
    error_ = why ? why : std::string("no export ") + name;
    SetLastError(kErrorProcedureNotFound);
  }
  return address;
}

void Library::Free() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

String ModulePathOf(const void* address) {
  Dl_info info{};
  if (!address || ::dladdr(address, &info) == 0 || !info.dli_fname) return String();
  return String::FromUtf8Lossy(info.dli_fname);
}

}  // namespace ov
