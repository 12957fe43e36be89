#pragma once
// The file-type table: extension, type number, kind and shown name.

#include <cstdint>

namespace screens {

struct FileTypeEntry {
  const char16_t* extension;  // with its dot
  int32_t type;
  int32_t kind;
  const char16_t* name;
};

extern const FileTypeEntry kFileTypeTable[17];

}  // namespace screens
