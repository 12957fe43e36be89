#pragma once
// MediaFileRecord and FileType: one listed media file as the media browser
// holds it, and the table that classifies files by extension into a file
// type number (stored in the clips and the project file), a channel kind and
// the type name the browser shows. MediaSelection is what a channel asks of
// the browser when the user assigns its selection.

#include <cstdint>

#include "platform/gfx/bitmap.h"
#include "platform/os/file.h"
#include "platform/os/ov_string.h"
#include "platform/os/system_time.h"

namespace screens {

// What a channel holds (ChannelKind).
enum ChannelKind : int32_t {
  kKindEmpty = 0,
  kKindAudio = 1,
  kKindImage = 2,
  kKindVideo = 3,
  kKindProject = 4,  // a ".mix" file in the browser; never a channel's kind
  kKindText = 5,
};

// FileType numbers.
enum FileType : int32_t {
  kFileTypeNone = 0,
  kFileTypeJpeg = 1,
  kFileTypeGif = 2,
  kFileTypeBmp = 3,
  kFileTypeWmv = 4,
  kFileTypeMp4 = 5,
  kFileType3gp = 6,
  kFileTypeMov = 7,
  kFileTypeMp3 = 8,
  kFileTypeWma = 9,
  kFileTypeWav = 10,
  kFileTypeAac = 11,
  kFileTypeAmr = 12,
  kFileTypeMpa = 13,
  kFileTypeM4a = 14,
  kFileTypeProject = 15,
};

// The file type of a path by its extension (any case), with its kind; 0
// and kind 0 for a file that is not listed.
int32_t FileTypeOfPath(const ov::String& path, int32_t* kind);
// The kind of a file type number; 0 for an unknown number.
int32_t KindOfFileType(int32_t file_type);
// "JPEG", "MPEG-4", ...; "Unknown" for any other number.
const char16_t* FileTypeName(int32_t file_type);

struct MediaFileRecord {
  ov::String folder;  // with its trailing separator
  ov::String name;    // with its extension
  int32_t broken = 0;  // 1: no thumbnail can be made
  gfx::HBitmap thumbnail;
  ov::SystemTime localTime{};
  ov::FileTime lastWrite = 0;
  int32_t kind = 0;
  int32_t fileType = 0;
  // localTime in seconds since 1970 (daylight saving left to the time zone);
  // 0 for a year below 1900. The catalogue's sorting and date filters use it.
  int64_t localSeconds = 0;

  ov::String Path() const { return folder + name; }
};

// The selection queries of the media browser.
class MediaSelection {
 public:
  virtual ~MediaSelection() = default;
  // The selected record's kind, 0 without a selection.
  virtual int32_t GetSelectedKind() = 0;
  virtual int32_t GetSelectedFileType() = 0;
  // Folder and name joined; "" without a selection.
  virtual ov::String GetSelectedPath() = 0;
  // 1 when a record is selected and not broken.
  virtual int IsSelectionUsable() = 0;
};

// MediaSelection over one optional record (the browser's selected one).
class RecordSelection : public MediaSelection {
 public:
  void Select(const MediaFileRecord* record) { record_ = record; }
  int32_t GetSelectedKind() override { return record_ ? record_->kind : 0; }
  int32_t GetSelectedFileType() override { return record_ ? record_->fileType : 0; }
  ov::String GetSelectedPath() override { return record_ ? record_->Path() : ov::String(); }
  int IsSelectionUsable() override { return record_ && !record_->broken ? 1 : 0; }

 private:
  const MediaFileRecord* record_ = nullptr;
};

}  // namespace screens
