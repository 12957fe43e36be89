#pragma once
// Library: a shared library or plug-in loaded at run time (dlopen), with its
// exported functions found by name.
//
// Thread: Load and Free by the owner; Symbol from any thread while loaded.

#include <string>

#include "platform/os/os_error.h"
#include "platform/os/ov_string.h"

namespace ov {

class Library {
 public:
  Library() = default;
  ~Library();  // frees the library
  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Loads the library at path (a path with '/' is used as it is; a bare name
  // goes through the system's search). False with last error 126 when it
  // cannot be loaded; Error() then tells why.
  bool Load(const String& path);
  bool IsLoaded() const { return handle_ != nullptr; }
  // The exported function or object of that name; null (last error 127)
  // when there is none.
  void* Symbol(const char* name) const;
  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }
  void Free();
  // The system's reason for the last failure of Load or Symbol.
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  mutable std::string error_;
};

// The path of the loaded library (or executable) that holds address; empty
// when it cannot be told. A plug-in passes one of its own functions to learn
// its file for registration.
String ModulePathOf(const void* address);

}  // namespace ov
