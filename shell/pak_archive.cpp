#include "shell/pak_archive.h"

#include <cstring>

namespace shell {
namespace {

std::mutex g_folders_mutex;
ov::String g_skin_folder;
ov::String g_application_folder;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Compares names ignoring case and treating '/' and '\' alike.
bool SameEntryName(const ov::String& a, const ov::String& b) {
  if (a.Length() != b.Length()) return false;
  for (int i = 0; i < a.Length(); ++i) {
    const char16_t x = a[i];
    const char16_t y = b[i];
    if (IsSeparator(x) && IsSeparator(y)) continue;
    if (ov::FoldCase(x) != ov::FoldCase(y)) return false;
  }
  return true;
}

// Whether path begins with folder (compared as entry names are).
bool HasFolderPrefix(const ov::String& path, const ov::String& folder) {
  if (folder.IsEmpty() || path.Length() < folder.Length()) return false;
  return SameEntryName(path.Left(folder.Length()), folder);
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

void SetPackageFolders(const ov::String& skin_folder, const ov::String& application_folder) {
  std::lock_guard<std::mutex> lock(g_folders_mutex);
  g_skin_folder = skin_folder;
  g_application_folder = application_folder;
}

ov::String PackageEntryName(const ov::String& path) {
  ov::String skin;
  ov::String app;
  {
    std::lock_guard<std::mutex> lock(g_folders_mutex);
    skin = g_skin_folder;
    app = g_application_folder;
  }
  // Only a prefix that is really there is dropped: the skin folder with its
  // separator, else the application folder.
  if (!skin.IsEmpty() && path.Length() > skin.Length() && HasFolderPrefix(path, skin) &&
      IsSeparator(path[skin.Length()])) {
    return path.Mid(skin.Length() + 1);
  }
  if (!app.IsEmpty() && HasFolderPrefix(path, app)) {
    ov::String rest = path.Mid(app.Length());
    while (!rest.IsEmpty() && IsSeparator(rest[0])) rest = rest.Mid(1);
    return rest;
  }
  return path;
}

PakArchive::~PakArchive() { Close(); }

void PakArchive::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.Close();
  entries_.clear();
  directory_size_ = 0;
  file_size_ = 0;
}

bool PakArchive::Open(const ov::String& path) {
  Close();
  std::lock_guard<std::mutex> lock(mutex_);
  // Existing packages only: creating a missing one would leave an empty
  // package in the application folder and hide the fall-back packages.
  if (!file_.Open(path, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) return false;
  if (!file_.GetSize(&file_size_)) file_size_ = 0;

  uint8_t word[4];
  uint32_t got = 0;
  if (!file_.Read(word, 4, &got) || got != 4) return true;  // empty file: no entries
  directory_size_ = Le32(word);
  // The directory cannot extend past the file.
  const uint64_t directory_end = directory_size_ < file_size_ ? directory_size_ : file_size_;
  uint64_t consumed = 4;
  std::vector<uint8_t> name_bytes;
  while (consumed < directory_end) {
    if (consumed + 4 > directory_end) break;
    if (!file_.Read(word, 4, &got) || got != 4) break;
    const uint32_t name_length = Le32(word);
    consumed += 4;
    // A name holds at least its terminator, whole 16-bit units, below the cap.
    if (name_length < 2 || name_length >= kMaxNameBytes || (name_length & 1) != 0) break;
    if (consumed + name_length + 8 > directory_end) break;
    name_bytes.resize(name_length);
    if (!file_.Read(name_bytes.data(), name_length, &got) || got != name_length) break;
    consumed += name_length;
    uint8_t fields[8];
    if (!file_.Read(fields, 8, &got) || got != 8) break;
    consumed += 8;
    PakEntry entry;
    entry.offset = Le32(fields);
    entry.size = Le32(fields + 4);
    std::u16string name;
    for (uint32_t i = 0; i + 1 < name_length; i += 2) {
      const char16_t c = static_cast<char16_t>(name_bytes[i] | name_bytes[i + 1] << 8);
      if (c == 0) break;
      name.push_back(c);
    }
    entry.name = ov::String(name);
    entries_.push_back(std::move(entry));
  }
  return true;
}

const PakEntry* PakArchive::Find(const ov::String& name) const {
  for (const PakEntry& e : entries_) {
    if (SameEntryName(e.name, name)) return &e;
  }
  return nullptr;
}

bool PakArchive::FindEntry(const ov::String& path, uint32_t* offset, uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.IsOpen()) return false;
  const PakEntry* e = Find(PackageEntryName(path));
  if (!e) return false;
  const uint64_t start = static_cast<uint64_t>(directory_size_) + e->offset;
  if (start + e->size > file_size_ || start > 0xFFFFFFFFull) return false;
  if (offset) *offset = static_cast<uint32_t>(start);
  if (size) *size = e->size;
  return true;
}

std::unique_ptr<uint8_t[]> PakArchive::ReadEntry(const ov::String& path, uint32_t* size) {
  return ReadEntryByName(PackageEntryName(path), size);
}

std::unique_ptr<uint8_t[]> PakArchive::ReadEntryByName(const ov::String& name, uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (size) *size = 0;
  if (!file_.IsOpen()) return nullptr;
  const PakEntry* e = Find(name);
  if (!e) return nullptr;
  // Bounds in 64 bits, checked against the file before anything is allocated.
  const uint64_t start = static_cast<uint64_t>(directory_size_) + e->offset;
  if (start > file_size_ || e->size > file_size_ - start) return nullptr;
  if (!file_.Seek(static_cast<int64_t>(start), ov::SeekFrom::kBegin)) return nullptr;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(e->size) + 1]);
  uint32_t got = 0;
  if (e->size > 0 && (!file_.Read(buffer.get(), e->size, &got) || got != e->size)) return nullptr;
  buffer[e->size] = 0;
  if (size) *size = e->size;
  return buffer;
}

bool PakArchive::NextEntryName(PakIterator* it) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.IsOpen() || it->position >= entries_.size()) return false;
  it->name = entries_[it->position].name;
  ++it->position;
  return true;
}

bool BuildPak(const std::vector<PakSource>& entries, std::vector<uint8_t>* out) {
  uint64_t directory = 4;
  for (const PakSource& e : entries) {
    const uint64_t name_bytes = (static_cast<uint64_t>(e.name.Length()) + 1) * 2;
    if (name_bytes >= PakArchive::kMaxNameBytes) return false;
    directory += 4 + name_bytes + 8;
  }
  uint64_t data_size = 0;
  for (const PakSource& e : entries) data_size += e.data.size();
  if (directory + data_size > 0xFFFFFFFFull) return false;
  out->clear();
  PutLe32(out, static_cast<uint32_t>(directory));
  uint64_t offset = 0;
  for (const PakSource& e : entries) {
    PutLe32(out, static_cast<uint32_t>((e.name.Length() + 1) * 2));
    for (int i = 0; i < e.name.Length(); ++i) {
      out->push_back(static_cast<uint8_t>(e.name[i] & 0xFF));
      out->push_back(static_cast<uint8_t>(e.name[i] >> 8));
    }
    out->push_back(0);
    out->push_back(0);
    PutLe32(out, static_cast<uint32_t>(offset));
    PutLe32(out, static_cast<uint32_t>(e.data.size()));
    offset += e.data.size();
  }
  for (const PakSource& e : entries) out->insert(out->end(), e.data.begin(), e.data.end());
  return true;
}

bool WritePak(const ov::String& path, const std::vector<PakSource>& entries) {
  std::vector<uint8_t> bytes;
  if (!BuildPak(entries, &bytes)) return false;
  return ov::WriteFileAtomically(path, bytes.data(), bytes.size());
}

}  // namespace shell
