// Skin package reader: opens the input as a package and reads every entry
// by name and through the folder reduction, as the picture loader and the
// file readers do.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "shell/pak_archive.h"

namespace {

// The package is read from a file: one per process in the temporary path,
// removed when the run ends.
struct ScratchPackage {
  ov::String path = ov::TempPath() + ov::String::FromUtf8Lossy("ovmix-pak-fuzz-" +
                                                               std::to_string(static_cast<long>(getpid())) + ".pak");
  ~ScratchPackage() { ov::DeleteFile(path); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchPackage scratch;
  const ov::String& path = scratch.path;
  if (!ov::WriteWholeFile(path, data, size)) return 0;
  shell::SetPackageFolders(u"/skin", u"/app/");
  shell::PakArchive pak;
  if (pak.Open(path)) {
    for (const shell::PakEntry& e : pak.entries()) {
      uint32_t got = 0;
      pak.ReadEntryByName(e.name, &got);
      pak.ReadEntry(u"/skin/" + e.name, &got);
      uint32_t offset = 0;
      pak.FindEntry(u"/app/" + e.name, &offset, &got);
    }
    shell::PakIterator it;
    for (bool ok = pak.FirstEntryName(&it); ok; ok = pak.NextEntryName(&it)) {
    }
  }
  pak.Close();
  return 0;
}
