#include "screens/browsers/media_file_record.h"

#include "screens/browsers/media_file_tables.h"

namespace screens {

int32_t FileTypeOfPath(const ov::String& path, int32_t* kind) {
  *kind = kKindEmpty;
  for (const FileTypeEntry& e : kFileTypeTable) {
    if (path.EndsWithNoCase(e.extension)) {
      *kind = e.kind;
      return e.type;
    }
  }
  return kFileTypeNone;
}

int32_t KindOfFileType(int32_t file_type) {
  for (const FileTypeEntry& e : kFileTypeTable) {
    if (e.type == file_type) return e.kind;
  }
  return kKindEmpty;
}

const char16_t* FileTypeName(int32_t file_type) {
  for (const FileTypeEntry& e : kFileTypeTable) {
    if (e.type == file_type) return e.name;
  }
  return u"Unknown";
}

}  // namespace screens
