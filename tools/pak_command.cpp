// ovtool pak: writes, lists and unpacks skin packages (".pak").
//   pak create OUT.pak DIR [NAME=FILE...]   every file under DIR, named by its
//                                           path below DIR with '\' separators;
//                                           NAME=FILE adds FILE under NAME
//   pak list PAK                            name, size and offset of each entry
//   pak extract PAK DIR                     every entry into DIR
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os/file.h"
#include "shell/pak_archive.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

ov::String Utf8(const char* s) { return ov::String::FromUtf8Lossy(s); }

// Collects the files under folder (recursively) with names relative to it.
bool CollectFiles(const ov::String& folder, const ov::String& prefix, std::vector<shell::PakSource>* out) {
  std::vector<ov::FindData> found = ov::ListFolder(folder, u"*");
  std::sort(found.begin(), found.end(), [](const ov::FindData& a, const ov::FindData& b) { return a.name < b.name; });
  for (const ov::FindData& f : found) {
    const ov::String path = ov::JoinPath(folder, f.name);
    const ov::String name = prefix.IsEmpty() ? f.name : prefix + u"\\" + f.name;
    if (f.attributes & ov::kAttributeDirectory) {
      if (!CollectFiles(path, name, out)) return false;
      continue;
    }
    shell::PakSource source;
    source.name = name;
    if (!ovtool::ReadInputFile("pak", path.ToUtf8Lossy(), &source.data)) return false;
    out->push_back(std::move(source));
  }
  return true;
}

int Create(int argc, char** argv) {
  if (argc < 4) return 2;
  std::vector<shell::PakSource> entries;
  if (!CollectFiles(Utf8(argv[3]), ov::String(), &entries)) return 1;
  for (int i = 4; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (!eq) {
      std::fprintf(stderr, "pak: expected NAME=FILE, got %s\n", argv[i]);
      return 2;
    }
    shell::PakSource source;
    source.name = ov::String::FromUtf8Lossy(std::string(argv[i], static_cast<size_t>(eq - argv[i])));
    if (!ovtool::ReadInputFile("pak", eq + 1, &source.data)) return 1;
    entries.push_back(std::move(source));
  }
  if (!shell::WritePak(Utf8(argv[2]), entries)) {
    std::fprintf(stderr, "pak: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

// Opens the package at `path` and checks that its directory and every entry's
// data lie inside the file: the reader keeps what it can of a cut package,
// which the tool refuses. False (and one line on stderr) otherwise.
bool OpenWhole(const char* path, shell::PakArchive* pak) {
  if (!ovtool::CheckInputFile("pak", path)) return false;
  ov::FindData info;
  if (!ov::GetFileInfo(Utf8(path), &info) || !pak->Open(Utf8(path))) {
    std::fprintf(stderr, "pak: %s: cannot be opened\n", path);
    return false;
  }
  const uint64_t size = info.size;
  if (size < 4 || pak->directory_size() > size) {
    std::fprintf(stderr, "pak: %s: cut package: its directory runs past the end of the file\n", path);
    return false;
  }
  for (const shell::PakEntry& e : pak->entries()) {
    if (uint64_t{pak->directory_size()} + e.offset + e.size > size) {
      std::fprintf(stderr, "pak: %s: cut package: entry %s runs past the end of the file\n", path,
                   e.name.ToUtf8Lossy().c_str());
      return false;
    }
  }
  return true;
}

int List(int argc, char** argv) {
  if (argc < 3) return 2;
  shell::PakArchive pak;
  if (!OpenWhole(argv[2], &pak)) return 1;
  for (const shell::PakEntry& e : pak.entries()) {
    std::printf("%-40s %10u %10u\n", e.name.ToUtf8Lossy().c_str(), e.size, e.offset);
  }
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc < 4) return 2;
  shell::PakArchive pak;
  if (!OpenWhole(argv[2], &pak)) return 1;
  const ov::String out_folder = Utf8(argv[3]);
  int failures = 0;
  for (const shell::PakEntry& e : pak.entries()) {
    ov::String relative = e.name;
    relative.Replace(u'\\', u'/');
    // Entry names are relative; anything that would climb out is refused.
    if (relative.StartsWith(u"/") || relative.Find(u"..") >= 0) {
      std::fprintf(stderr, "pak: skipping unsafe name %s\n", relative.ToUtf8Lossy().c_str());
      ++failures;
      continue;
    }
    const ov::String path = ov::JoinPath(out_folder, relative);
    ov::CreateFolderTree(ov::FolderOf(path));
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> data = pak.ReadEntryByName(e.name, &size);
    if (!data || !ov::WriteWholeFile(path, data.get(), size)) {
      std::fprintf(stderr, "pak: cannot extract %s\n", relative.ToUtf8Lossy().c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}

int RunPak(int argc, char** argv) {
  int rc = 2;
  if (argc >= 2 && std::strcmp(argv[1], "create") == 0) rc = Create(argc, argv);
  else if (argc >= 2 && std::strcmp(argv[1], "list") == 0) rc = List(argc, argv);
  else if (argc >= 2 && std::strcmp(argv[1], "extract") == 0) rc = Extract(argc, argv);
  if (rc == 2) std::fprintf(stderr, "usage: pak create OUT.pak DIR [NAME=FILE...] | list PAK | extract PAK DIR\n");
  return rc;
}

}  // namespace

OVTOOL_COMMAND(pak, "pak create|list|extract ...  write, list or unpack a skin package", RunPak);
