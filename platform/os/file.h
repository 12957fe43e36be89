#pragma once
// Files and folders on the native file system, with the platform's open
// modes, attributes and error numbers (os_error.h).
//
// Paths are Strings with '/' separators, converted to UTF-8 for the system; a
// path holding an unpaired surrogate fails with kErrorInvalidName.
// Every call that fails returns false (or an invalid value) and sets the
// calling thread's last error; GetLastError() reads it. Missing file: 2,
// missing folder on the way: 3, existing folder on creation: 183, existing
// file for kCreateNew: 80, read-only file opened for writing or deleted: 5,
// a file opened by this process without the sharing a new open needs: 32.
//
// The read-only attribute is kept as the owner's write permission and is
// enforced by these calls even for a privileged user.
//
// Thread: every function may be called from any thread; one File object is
// used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/os/ov_string.h"

namespace ov {

// Access rights of File::Open.
enum : uint32_t {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
};

// Sharing granted to later opens of the same file in this process.
enum : uint32_t {
  kShareNone = 0,
  kShareRead = 1,
  kShareWrite = 2,
  kShareDelete = 4,
};

// What File::Open does when the file exists or not (the platform's numbers).
enum class CreateMode : uint32_t {
  kCreateNew = 1,         // fails with 80 when it exists
  kCreateAlways = 2,      // creates or truncates; last error 183 when it existed
  kOpenExisting = 3,      // fails with 2 when it is missing
  kOpenAlways = 4,        // opens or creates; last error 183 when it existed
  kTruncateExisting = 5,  // opens and truncates; needs write access
};

// File attributes (the platform's bits).
enum : uint32_t {
  kAttributeReadOnly = 0x01,
  kAttributeHidden = 0x02,
  kAttributeSystem = 0x04,  // never set on this file system
  kAttributeDirectory = 0x10,
  kAttributeArchive = 0x20,
  kAttributeNormal = 0x80,
  // FileFinder only: the entry is a symbolic link (the other bits describe
  // what it points at). Tree walks skip such entries so a link loop ends.
  kAttributeLink = 0x400,
  kInvalidAttributes = 0xFFFFFFFFu,
};

enum class SeekFrom { kBegin = 0, kCurrent = 1, kEnd = 2 };

// File times: 100-nanosecond units since 1601-01-01 UTC, as the platform keeps them.
using FileTime = uint64_t;

class File {
 public:
  File() = default;
  ~File();  // closes
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path with access (kGenericRead | kGenericWrite), share (kShare*)
  // and mode. On success the last error is 183 when kCreateAlways or
  // kOpenAlways found the file, else 0. An open File is closed first.
  bool Open(const String& path, uint32_t access, uint32_t share, CreateMode mode);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Reads up to count bytes; *got (when given) the bytes read, 0 at the end.
  // A short read at the end of the file is a success.
  bool Read(void* buffer, uint32_t count, uint32_t* got);
  // Writes count bytes; *written (when given) the bytes written.
  bool Write(const void* data, uint32_t count, uint32_t* written);
  // Moves the file position; a position before the start fails with 131.
  bool Seek(int64_t offset, SeekFrom from, uint64_t* new_position = nullptr);
  // Current position; 0 for a closed file.
  uint64_t Position() const;
  // Size in bytes; false for a closed file.
  bool GetSize(uint64_t* size) const;
  // Ends (truncates or extends) the file at the current position.
  bool SetEndOfFile();
  // Writes the file's data through to the storage.
  bool Flush();
  // The file's times; false for a closed file.
  bool GetTimes(FileTime* creation, FileTime* last_write) const;

 private:
  int fd_ = -1;
  uint32_t access_ = 0;
  uint32_t share_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

// One entry found by FileFinder.
struct FindData {
  String name;           // file or folder name, without the folder
  uint32_t attributes;   // kAttribute* bits
  uint64_t size;         // bytes (0 for folders)
  FileTime creation;     // creation (birth) time, else the last change time
  FileTime last_write;
};

// Enumerates the entries of one folder whose names match a wildcard pattern
// ('*', '?', case-insensitive), such as "/skins/fonts/*.ttf". "." and ".."
// are never returned; the order is the file system's.
class FileFinder {
 public:
  FileFinder() = default;
  ~FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  // Starts the enumeration of folder/pattern (a pattern without '/' looks in
  // the current folder) and returns the first match. Missing folder: false,
  // last error 3; no match: false, last error 2.
  bool First(const String& path_pattern, FindData* found);
  // Next match; false with last error 18 at the end.
  bool Next(FindData* found);
  void Close();

 private:
  void* dir_ = nullptr;  // the open folder stream
  String folder_;
  String pattern_;
};

// Entries of folder matching pattern, in file-system order (empty on any error).
std::vector<FindData> ListFolder(const String& folder, const String& pattern);

// Attributes of path, or kInvalidAttributes (last error 2 or 3) when it is missing.
uint32_t GetFileAttributes(const String& path);
// Sets the read-only bit from attributes; other bits are ignored.
bool SetFileAttributes(const String& path, uint32_t attributes);
// Size and times of a file or folder.
bool GetFileInfo(const String& path, FindData* info);

// Deletes a file. A folder or a read-only file: 5; opened here without
// kShareDelete: 32.
bool DeleteFile(const String& path);
// Renames or moves a file or folder; an existing destination fails with 183.
bool MoveFile(const String& from, const String& to);
// Renames from over to, replacing it in one step (the destination may exist
// unless it is read-only: 5).
bool ReplaceFile(const String& from, const String& to);
// Copies a file; with fail_if_exists an existing destination gives 80.
bool CopyFile(const String& from, const String& to, bool fail_if_exists);

// Creates one folder: it exists (file or folder of that name): 183; parent
// missing: 3.
bool CreateFolder(const String& path);
// Creates a folder and the missing folders above it; true when it exists.
bool CreateFolderTree(const String& path);
// Removes an empty folder: not empty: 145.
bool RemoveFolder(const String& path);

// Helpers.

// a + '/' + b with exactly one separator between them (b alone when a is empty).
String JoinPath(const String& a, const String& b);
// The folder part of a path up to and including its last '/' ("" when none).
String FolderOf(const String& path);
// The part after the last '/'.
String FileNameOf(const String& path);
bool FileExists(const String& path);    // a file, not a folder
bool FolderExists(const String& path);  // a folder
// A regular file (not a folder, FIFO, socket or device), asked without
// opening it, so a FIFO without a writer does not block the caller.
bool IsRegularFile(const String& path);
// Whole file into bytes. Files larger than max_bytes fail with 8 rather than
// exhaust memory.
bool ReadWholeFile(const String& path, std::vector<uint8_t>* bytes, uint64_t max_bytes = 1u << 30);
// Creates or replaces path with bytes, in place (not atomically).
bool WriteWholeFile(const String& path, const void* data, size_t size);
// Replaces path with bytes atomically: writes a temporary file beside it,
// flushes it and renames it over path. On any failure path is left as it
// was, the temporary file is removed and the last error tells why. A
// read-only path fails with 5.
bool WriteFileAtomically(const String& path, const void* data, size_t size);

// Current time as a FileTime.
FileTime CurrentFileTime();

}  // namespace ov
