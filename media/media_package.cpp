#include "media/media_package.h"

#include <atomic>
#include <cstring>

namespace media {

namespace {
std::atomic<MediaPackage*> g_package{nullptr};
}  // namespace

void SetMediaPackage(MediaPackage* package) { g_package.store(package, std::memory_order_release); }

MediaPackage* GetMediaPackage() { return g_package.load(std::memory_order_acquire); }

void MemoryPackage::Add(const ov::String& name, std::vector<uint8_t> data) {
  const std::u16string key(name.View());
  if (entries_.find(key) == entries_.end()) order_.push_back(key);
  entries_[key] = std::move(data);
}

void MemoryPackage::Add(const ov::String& name, const uint8_t* data, size_t size) {
  Add(name, std::vector<uint8_t>(data, data + size));
}

void MemoryPackage::Clear() {
  entries_.clear();
  order_.clear();
}

bool MemoryPackage::NextEntryName(PackageIterator* it) const {
  if (it->position >= order_.size()) return false;
  it->name = ov::String(order_[it->position]);
  ++it->position;
  return true;
}

bool MemoryPackage::FindEntry(const ov::String& path, uint32_t* offset, uint32_t* size) {
  auto it = entries_.find(std::u16string(path.View()));
  if (it == entries_.end()) return false;
  *offset = 0;
  *size = static_cast<uint32_t>(it->second.size());
  return true;
}

std::unique_ptr<uint8_t[]> MemoryPackage::ReadEntry(const ov::String& path, uint32_t* size) {
  auto it = entries_.find(std::u16string(path.View()));
  if (it == entries_.end() || it->second.size() > UINT32_MAX - 1) return nullptr;
  // Like a package entry: the data followed by one 0 byte.
  auto copy = std::make_unique<uint8_t[]>(it->second.size() + 1);
  if (!it->second.empty()) std::memcpy(copy.get(), it->second.data(), it->second.size());
  copy[it->second.size()] = 0;
  *size = static_cast<uint32_t>(it->second.size());
  return copy;
}

}  // namespace media
