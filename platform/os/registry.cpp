#include "platform/os/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>

#include "platform/os/archive.h"
#include "platform/os/debug_output.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"

namespace ov {

namespace {

constexpr uint32_t kFileMagic = 0x4752564F;  // "OVRG"
constexpr uint32_t kFileVersion = 1;
constexpr uint64_t kMaxFileBytes = 16u << 20;

struct Value {
  String name;
  uint32_t type;
  std::vector<uint8_t> data;
};

struct Key {
  uint32_t root;
  String path;  // parts joined by '\', as first created
  std::vector<Value> values;
};

struct Store {
  std::mutex mutex;
  String file;  // the registry file these keys came from
  uint64_t size = 0;
  FileTime written = 0;
  bool loaded = false;
  std::vector<Key> keys;
};

Store& TheStore() {
  static auto* store = new Store();
  return *store;
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

// "Software/A\\\\B\\" -> "Software\\A\\B"; false for an empty part inside.
bool NormalisePath(const String& path, String* out) {
  String result;
  String part;
  std::u16string_view v = path.View();
  bool pending_separator = false;
  for (size_t i = 0; i <= v.size(); ++i) {
    bool end = i == v.size();
    char16_t c = end ? 0 : v[i];
    if (end || c == u'\\' || c == u'/') {
      if (!part.IsEmpty()) {
        if (pending_separator) result += u'\\';
        result += part;
        pending_separator = true;
        part.Empty();
      }
      continue;
    }
    part += c;
  }
  *out = result;
  return true;
}

String Parent(const String& path) {
  int slash = path.ReverseFind(u'\\');
  return slash < 0 ? String() : path.Left(slash);
}

Key* FindKey(Store& s, uint32_t root, const String& path) {
  for (Key& k : s.keys) {
    if (k.root == root && k.path.CompareNoCase(path) == 0) return &k;
  }
  return nullptr;
}

Value* FindValue(Key& key, const String& name) {
  for (Value& v : key.values) {
    if (v.name.CompareNoCase(name) == 0) return &v;
  }
  return nullptr;
}

bool Parse(const std::vector<uint8_t>& bytes, std::vector<Key>* keys, std::string* why) {
  Archive in(bytes);
  uint32_t magic = 0, version = 0, count = 0;
  in.ReadU32(&magic);
  in.ReadU32(&version);
  if (!in.ok() || magic != kFileMagic || version != kFileVersion) {
    *why = "not a registry file of this version";
    return false;
  }
  in.ReadU32(&count);
  std::vector<Key> result;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    Key key;
    uint32_t values = 0;
    in.ReadU32(&key.root);
    in.ReadString(&key.path);
    in.ReadU32(&values);
    // Each value takes at least 16 bytes: a count beyond what is left is damage.
    if (in.ok() && values > in.Remaining() / 16) {
      *why = "value count " + std::to_string(values) + " exceeds the file";
      return false;
    }
    for (uint32_t j = 0; j < values && in.ok(); ++j) {
      Value v;
      uint32_t size = 0;
      in.ReadString(&v.name);
      in.ReadU32(&v.type);
      in.ReadU32(&size);
      if (in.ok() && size > in.Remaining()) {
        *why = "value size " + std::to_string(size) + " exceeds the file";
        return false;
      }
      v.data.resize(size);
      in.ReadBytes(v.data.data(), size);
      key.values.push_back(std::move(v));
    }
    result.push_back(std::move(key));
  }
  if (!in.ok()) {
    *why = in.error();
    return false;
  }
  *keys = std::move(result);
  return true;
}

std::vector<uint8_t> Serialise(const std::vector<Key>& keys) {
  Archive out;
  out.WriteU32(kFileMagic);
  out.WriteU32(kFileVersion);
  out.WriteU32(static_cast<uint32_t>(keys.size()));
  for (const Key& k : keys) {
    out.WriteU32(k.root);
    out.WriteString(k.path);
    out.WriteU32(static_cast<uint32_t>(k.values.size()));
    for (const Value& v : k.values) {
      out.WriteString(v.name);
      out.WriteU32(v.type);
      out.WriteU32(static_cast<uint32_t>(v.data.size()));
      out.WriteBytes(v.data.data(), v.data.size());
    }
  }
  return out.Bytes();
}

// Brings the store up to date with the file (lock held).
void Refresh(Store& s) {
  String file = DataFolder() + u"registry.dat";
  FindData info;
  bool exists = GetFileInfo(file, &info);
  if (s.loaded && file == s.file && ((!exists && s.size == 0 && s.written == 0) ||
                                     (exists && info.size == s.size && info.last_write == s.written))) {
    return;
  }
  s.file = file;
  s.loaded = true;
  s.keys.clear();
  s.size = exists ? info.size : 0;
  s.written = exists ? info.last_write : 0;
  if (!exists) return;
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadWholeFile(file, &bytes, kMaxFileBytes)) {
    DebugOutput("registry: cannot read %s (error %u); starting empty\n", file.ToUtf8Lossy().c_str(), GetLastError());
  } else if (!Parse(bytes, &s.keys, &why)) {
    DebugOutput("registry: %s is damaged (%s); starting empty\n", file.ToUtf8Lossy().c_str(), why.c_str());
    s.keys.clear();
  }
}

// Holds the cross-process lock file of the registry while it lives.
class FileLock {
 public:
  explicit FileLock(const String& folder) {
    std::string path = (folder + u"registry.lock").ToUtf8Lossy();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) {
      ::flock(fd_, LOCK_UN);
      ::close(fd_);
    }
  }

 private:
  int fd_ = -1;
};

// Runs change on the up-to-date keys and writes them back. change returns
// false (with the last error set) to leave everything as it was.
bool Modify(const std::function<bool(std::vector<Key>&)>& change) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  FileLock file_lock(DataFolder());
  Refresh(s);
  std::vector<Key> keys = s.keys;
  if (!change(keys)) return false;
  std::vector<uint8_t> bytes = Serialise(keys);
  if (!WriteFileAtomically(s.file, bytes.data(), bytes.size())) return false;
  s.keys = std::move(keys);
  FindData info;
  if (GetFileInfo(s.file, &info)) {
    s.size = info.size;
    s.written = info.last_write;
  }
  SetLastError(kErrorSuccess);
  return true;
}

// Makes sure the key and the keys above it exist in keys; returns it.
Key* EnsureKey(std::vector<Key>& keys, uint32_t root, const String& path, bool* created) {
  for (Key& k : keys) {
    if (k.root == root && k.path.CompareNoCase(path) == 0) return &k;
  }
  if (!path.IsEmpty()) {
    String parent = Parent(path);
    if (!parent.IsEmpty()) EnsureKey(keys, root, parent, nullptr);
  }
  keys.push_back(Key{root, path, {}});
  if (created) *created = true;
  return &keys.back();
}

bool Read(RegistryRoot root, const String& path, const std::function<bool(const Key&)>& reader) {
  String normal;
  NormalisePath(path, &normal);
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  Refresh(s);
  const Key* key = FindKey(s, static_cast<uint32_t>(root), normal);
  if (!key) {
    if (!normal.IsEmpty()) return Fail(kErrorFileNotFound);
    static const Key kEmptyRoot{0, String(), {}};
    return reader(kEmptyRoot);
  }
  return reader(*key);
}

bool SetValue(RegistryRoot root, const String& path, const String& name, uint32_t type, std::vector<uint8_t> data) {
  String normal;
  NormalisePath(path, &normal);
  return Modify([&](std::vector<Key>& keys) {
    Key* key = EnsureKey(keys, static_cast<uint32_t>(root), normal, nullptr);
    Value* v = FindValue(*key, name);
    if (v) {
      v->type = type;
      v->data = std::move(data);
    } else {
      key->values.push_back(Value{name, type, std::move(data)});
    }
    return true;
  });
}

bool QueryValue(RegistryRoot root, const String& path, const String& name, uint32_t type, std::vector<uint8_t>* data) {
  return Read(root, path, [&](const Key& key) {
    for (const Value& v : key.values) {
      if (v.name.CompareNoCase(name) != 0) continue;
      if (v.type != type) return Fail(kErrorInvalidData);
      *data = v.data;
      return true;
    }
    return Fail(kErrorFileNotFound);
  });
}

}  // namespace

bool RegistryCreateKey(RegistryRoot root, const String& path, bool* created) {
  if (created) *created = false;
  String normal;
  NormalisePath(path, &normal);
  if (normal.IsEmpty()) return Fail(kErrorInvalidParameter);
  bool made = false;
  bool exists = false;
  {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    exists = FindKey(s, static_cast<uint32_t>(root), normal) != nullptr;
  }
  if (!exists && !Modify([&](std::vector<Key>& keys) {
        EnsureKey(keys, static_cast<uint32_t>(root), normal, &made);
        return true;
      })) {
    return false;
  }
  if (created) *created = made;
  SetLastError(kErrorSuccess);
  return true;
}

bool RegistryKeyExists(RegistryRoot root, const String& path) {
  return Read(root, path, [](const Key&) { return true; });
}

bool RegistryDeleteKey(RegistryRoot root, const String& path) {
  String normal;
  NormalisePath(path, &normal);
  if (normal.IsEmpty()) return Fail(kErrorInvalidParameter);
  return Modify([&](std::vector<Key>& keys) {
    String prefix = normal + u"\\";
    size_t before = keys.size();
    std::erase_if(keys, [&](const Key& k) {
      return k.root == static_cast<uint32_t>(root) &&
             (k.path.CompareNoCase(normal) == 0 || (k.path.Length() > prefix.Length() &&
                                                    k.path.Left(prefix.Length()).CompareNoCase(prefix) == 0));
    });
    if (keys.size() == before) return Fail(kErrorFileNotFound);
    return true;
  });
}

bool RegistrySetDword(RegistryRoot root, const String& path, const String& name, uint32_t value) {
  std::vector<uint8_t> data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                               static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return SetValue(root, path, name, kRegistryDword, std::move(data));
}

bool RegistrySetString(RegistryRoot root, const String& path, const String& name, const String& value) {
  std::vector<uint8_t> data;
  for (char16_t u : value.View()) {
    data.push_back(static_cast<uint8_t>(u));
    data.push_back(static_cast<uint8_t>(u >> 8));
  }
  return SetValue(root, path, name, kRegistryString, std::move(data));
}

bool RegistrySetBinary(RegistryRoot root, const String& path, const String& name, const std::vector<uint8_t>& value) {
  return SetValue(root, path, name, kRegistryBinary, value);
}

bool RegistryQueryDword(RegistryRoot root, const String& path, const String& name, uint32_t* value) {
  std::vector<uint8_t> data;
  if (!QueryValue(root, path, name, kRegistryDword, &data)) return false;
  if (data.size() != 4) return Fail(kErrorInvalidData);
  *value = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  return true;
}

bool RegistryQueryString(RegistryRoot root, const String& path, const String& name, String* value) {
  std::vector<uint8_t> data;
  if (!QueryValue(root, path, name, kRegistryString, &data)) return false;
  if (data.size() % 2) return Fail(kErrorInvalidData);
  std::u16string units;
  for (size_t i = 0; i < data.size(); i += 2) units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  *value = String(std::u16string_view(units));
  return true;
}

bool RegistryQueryBinary(RegistryRoot root, const String& path, const String& name, std::vector<uint8_t>* value) {
  return QueryValue(root, path, name, kRegistryBinary, value);
}

bool RegistryDeleteValue(RegistryRoot root, const String& path, const String& name) {
  String normal;
  NormalisePath(path, &normal);
  return Modify([&](std::vector<Key>& keys) {
    for (Key& k : keys) {
      if (k.root != static_cast<uint32_t>(root) || k.path.CompareNoCase(normal) != 0) continue;
      size_t before = k.values.size();
      std::erase_if(k.values, [&](const Value& v) { return v.name.CompareNoCase(name) == 0; });
      if (k.values.size() == before) return Fail(kErrorFileNotFound);
      return true;
    }
    return Fail(kErrorFileNotFound);
  });
}

bool RegistryListSubKeys(RegistryRoot root, const String& path, std::vector<String>* names) {
  names->clear();
  String normal;
  NormalisePath(path, &normal);
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  Refresh(s);
  if (!normal.IsEmpty() && !FindKey(s, static_cast<uint32_t>(root), normal)) return Fail(kErrorFileNotFound);
  for (const Key& k : s.keys) {
    if (k.root != static_cast<uint32_t>(root) || k.path.IsEmpty()) continue;
    if (Parent(k.path).CompareNoCase(normal) == 0) names->push_back(k.path.Mid(k.path.ReverseFind(u'\\') + 1));
  }
  return true;
}

bool RegistryListValues(RegistryRoot root, const String& path, std::vector<String>* names) {
  names->clear();
  return Read(root, path, [&](const Key& key) {
    for (const Value& v : key.values) names->push_back(v.name);
    return true;
  });
}

bool RegistryFlush(RegistryRoot) { return true; }

}  // namespace ov
