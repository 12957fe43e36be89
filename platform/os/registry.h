#pragma once
// The registry: keys under a root ("Software\\...") holding named 32-bit
// (DWORD) and string values, kept in the small file "registry.dat" of the
// data folder (folders.h).
//
// Key paths use '\' (or '/') between parts; keys and value names match
// case-insensitively and keep the spelling they were created with. Every
// change is written to the file at once (atomically), under a lock file, so
// that the program's processes share one registry; each call reads the file
// again when another process has changed it. A file that cannot be read
// (damaged, other format) counts as an empty registry and is replaced by the
// next change; the reason goes to the debug output.
//
// Thread: any thread (calls are serialised).

#include <cstdint>
#include <vector>

#include "platform/os/ov_string.h"

namespace ov {

enum class RegistryRoot : uint32_t {
  kClassesRoot = 0,
  kCurrentUser = 1,
  kLocalMachine = 2,
};

// Value types (the platform's numbers).
enum : uint32_t {
  kRegistryString = 1,
  kRegistryBinary = 3,
  kRegistryDword = 4,
};

// Creates the key (and the keys above it) when missing. *created (when
// given) tells whether it was made. Empty parts of a path are ignored
// ("A\\B\" is "A\B"). Errors: an empty path 87, a registry file that
// cannot be written (its error).
bool RegistryCreateKey(RegistryRoot root, const String& path, bool* created = nullptr);
// True when the key exists (last error 2 otherwise).
bool RegistryKeyExists(RegistryRoot root, const String& path);
// Removes the key with its values and every key below it; a missing key: 2,
// an empty path 87.
bool RegistryDeleteKey(RegistryRoot root, const String& path);

// Writes a value, creating the key when missing.
bool RegistrySetDword(RegistryRoot root, const String& path, const String& name, uint32_t value);
bool RegistrySetString(RegistryRoot root, const String& path, const String& name, const String& value);
bool RegistrySetBinary(RegistryRoot root, const String& path, const String& name, const std::vector<uint8_t>& value);

// Reads a value. Missing key or value: false, last error 2; a value of
// another type: false, last error 13.
bool RegistryQueryDword(RegistryRoot root, const String& path, const String& name, uint32_t* value);
bool RegistryQueryString(RegistryRoot root, const String& path, const String& name, String* value);
bool RegistryQueryBinary(RegistryRoot root, const String& path, const String& name, std::vector<uint8_t>* value);
bool RegistryDeleteValue(RegistryRoot root, const String& path, const String& name);

// Names of the keys directly below path, and of its values (in creation
// order); false with 2 when the key is missing.
bool RegistryListSubKeys(RegistryRoot root, const String& path, std::vector<String>* names);
bool RegistryListValues(RegistryRoot root, const String& path, std::vector<String>* names);

// Every change is already on disk; kept for the callers that flush.
bool RegistryFlush(RegistryRoot root);

}  // namespace ov
