#pragma once
// PakArchive: a skin package (".pak"), a directory of named entries followed
// by their data, without compression. The directory stays in memory and the
// file open; an entry's bytes are handed out by name.
//
// Package file (little-endian u32): D, the directory size in bytes counting
// this word; entries back to back until D bytes are consumed, each the name
// length L in bytes (counting the name's 16-bit terminator), the UTF-16LE
// name, the data offset counted from D and the data size; the data from D on.
//
// Stored names keep '\' separators; a lookup matches either separator and
// ignores case. A full path is reduced to an entry name by dropping the skin
// folder or the application folder in front of it (see SetPackageFolders).
//
// Thread: one package is read by one thread at a time; the media package is
// read by the file readers under the package's own lock.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/media_package.h"
#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace shell {

// The two folders a full path is cut against: the skin folder (without a
// trailing separator; may be empty) and the application folder (with its
// trailing '/'). Set by the shell when they become known. Any thread reads
// them; the UI thread sets them before workers start.
void SetPackageFolders(const ov::String& skin_folder, const ov::String& application_folder);

// The entry name for a full path: the path less a leading skin folder and
// its separator, else less a leading application folder; a path with
// neither prefix is taken as an entry name already.
ov::String PackageEntryName(const ov::String& path);

struct PakEntry {
  ov::String name;
  uint32_t size = 0;
  uint32_t offset = 0;
};

// Iterator of FirstEntryName / NextEntryName.
using PakIterator = media::PackageIterator;

class PakArchive : public media::MediaPackage {
 public:
  // Longest name length field accepted, in bytes (terminator included).
  static constexpr uint32_t kMaxNameBytes = 520;

  PakArchive() = default;
  ~PakArchive() override;
  PakArchive(const PakArchive&) = delete;
  PakArchive& operator=(const PakArchive&) = delete;

  // Closes what is open, then opens an existing package and reads its
  // directory. False when the file cannot be opened (a missing package is
  // never created). A directory that runs past the file or holds an invalid
  // name length ends at the last sound entry.
  bool Open(const ov::String& path);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  // The entry's data followed by one 0 byte, and its size; null when the
  // package is not open, the name is absent, the entry lies outside the file
  // or cannot be read in full. The path is reduced with PackageEntryName.
  std::unique_ptr<uint8_t[]> ReadEntry(const ov::String& path, uint32_t* size) override;
  // The same for an entry name given as stored (no folder reduction).
  std::unique_ptr<uint8_t[]> ReadEntryByName(const ov::String& name, uint32_t* size);
  bool FindEntry(const ov::String& path, uint32_t* offset, uint32_t* size) override;

  bool NextEntryName(PakIterator* it) const override;

  const std::vector<PakEntry>& entries() const { return entries_; }
  uint32_t directory_size() const { return directory_size_; }

 private:
  const PakEntry* Find(const ov::String& name) const;

  mutable std::mutex mutex_;
  ov::File file_;
  uint64_t file_size_ = 0;
  uint32_t directory_size_ = 0;
  std::vector<PakEntry> entries_;
};

// One entry to write: its stored name and its bytes.
struct PakSource {
  ov::String name;
  std::vector<uint8_t> data;
};

// Writes a package holding the entries in order. False when a name is too
// long or the file cannot be written.
bool WritePak(const ov::String& path, const std::vector<PakSource>& entries);

// The package bytes for the entries (what WritePak writes).
bool BuildPak(const std::vector<PakSource>& entries, std::vector<uint8_t>* out);

}  // namespace shell
