#pragma once
// The media package ("media.pak") as the buffered file reader and the effect
// browser see it: a lookup of a named entry and a walk over the entry names.
// The shell's package class implements it and installs the open package with
// SetMediaPackage; tests and fuzz targets install an in-memory package
// instead.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/ov_string.h"

namespace media {

// Where a walk over a package's entry names stands: the name found last and
// the position of the next one.
struct PackageIterator {
  ov::String name;
  size_t position = 0;
};

class MediaPackage {
 public:
  virtual ~MediaPackage() = default;

  // Finds the entry for `path` (a full path as the program forms it; the
  // package reduces it to an entry name). True with the entry's data offset
  // in the package file and its size; false when absent or the package is not
  // open.
  virtual bool FindEntry(const ov::String& path, uint32_t* offset, uint32_t* size) = 0;

  // A new heap copy of the entry's data and its size; null when the entry is
  // absent or cannot be read in full. The caller owns the buffer.
  virtual std::unique_ptr<uint8_t[]> ReadEntry(const ov::String& path, uint32_t* size) = 0;

  // The entry names as stored ('\' separators kept), in the package's
  // order: FirstEntryName starts the walk, NextEntryName goes on; each puts
  // the name into it->name and is false at the end or when the package is
  // not open.
  bool FirstEntryName(PackageIterator* it) const {
    it->name = ov::String();
    it->position = 0;
    return NextEntryName(it);
  }
  virtual bool NextEntryName(PackageIterator* it) const = 0;
};

// The process-wide media package that BufferedFileReader::Open asks first;
// null (the default) means no package. The caller keeps `package` alive while
// it is installed. Set it before readers are opened on other threads.
void SetMediaPackage(MediaPackage* package);
MediaPackage* GetMediaPackage();

// A package held in memory: entries added by name, looked up by exact name,
// walked in the order they were first added. Used by tests, fuzz targets and
// ovtool to serve bytes without a file.
class MemoryPackage : public MediaPackage {
 public:
  void Add(const ov::String& name, std::vector<uint8_t> data);
  void Add(const ov::String& name, const uint8_t* data, size_t size);
  void Clear();

  bool FindEntry(const ov::String& path, uint32_t* offset, uint32_t* size) override;
  std::unique_ptr<uint8_t[]> ReadEntry(const ov::String& path, uint32_t* size) override;
  bool NextEntryName(PackageIterator* it) const override;

 private:
  std::map<std::u16string, std::vector<uint8_t>> entries_;
  std::vector<std::u16string> order_;  // names in the order first added
};

// Installs a package for the lifetime of the object and restores the previous
// one afterwards.
class ScopedMediaPackage {
 public:
  explicit ScopedMediaPackage(MediaPackage* package) : previous_(GetMediaPackage()) {
    SetMediaPackage(package);
  }
  ~ScopedMediaPackage() { SetMediaPackage(previous_); }
  ScopedMediaPackage(const ScopedMediaPackage&) = delete;
  ScopedMediaPackage& operator=(const ScopedMediaPackage&) = delete;

 private:
  MediaPackage* previous_;
};

}  // namespace media
