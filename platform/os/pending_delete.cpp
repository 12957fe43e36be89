#include "platform/os/pending_delete.h"

#include <cstdlib>
#include <mutex>

#include "platform/os/file.h"
#include "platform/os/os_error.h"

namespace ov {
namespace {

struct Entry {
  uint64_t ticket;
  String path;
};

struct Pending {
  std::mutex mutex;
  std::vector<Entry> entries;
  uint64_t next_ticket = 1;
  bool exit_hook = false;
};

// Never destroyed: the exit hook and a reaper thread still running at exit
// may use it after static destructors have begun.
Pending& Kept() {
  static auto* pending = new Pending();
  return *pending;
}

// A file that is already gone counts as deleted.
bool Delete(const String& path) {
  if (DeleteFile(path)) return true;
  const uint32_t error = GetLastError();
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

void DeleteAtExit() { DeleteAllPending(); }

}  // namespace

uint64_t AddPendingDelete(const String& path) {
  Pending& p = Kept();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (!p.exit_hook) {
    p.exit_hook = true;
    std::atexit(DeleteAtExit);
  }
  const uint64_t ticket = p.next_ticket++;
  p.entries.push_back({ticket, path});
  return ticket;
}

void DeletePending(uint64_t ticket) {
  Pending& p = Kept();
  std::lock_guard<std::mutex> lock(p.mutex);
  for (auto it = p.entries.begin(); it != p.entries.end(); ++it) {
    if (it->ticket != ticket) continue;
    if (Delete(it->path)) p.entries.erase(it);
    return;
  }
}

bool DeleteAllPending() {
  Pending& p = Kept();
  std::lock_guard<std::mutex> lock(p.mutex);
  std::vector<Entry> kept;
  for (Entry& e : p.entries) {
    if (!Delete(e.path)) kept.push_back(std::move(e));
  }
  p.entries = std::move(kept);
  return p.entries.empty();
}

std::vector<String> PendingDeletes() {
  Pending& p = Kept();
  std::lock_guard<std::mutex> lock(p.mutex);
  std::vector<String> paths;
  for (const Entry& e : p.entries) paths.push_back(e.path);
  return paths;
}

}  // namespace ov
