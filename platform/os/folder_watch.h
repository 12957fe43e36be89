#pragma once
// FolderWatch: change notification on a folder, or on a folder tree, that
// the UI thread polls with a zero time-out (the media browser notices new
// and removed files this way).
//
// Like the platform's notification object: the watch becomes signalled when
// a change of a watched kind happens and stays signalled until Next() re-arms
// it. With a subtree, folders created later inside the tree are watched too.
// A tree is watched up to kMaxWatchedFolders folders; deeper folders beyond
// that are not watched.
//
// Thread: one thread at a time (the owner's).

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/os/event.h"
#include "platform/os/ov_string.h"

namespace ov {

// Kinds of change (the platform's filter bits). 0x80000000 is accepted and
// carries no meaning here.
enum : uint32_t {
  kNotifyFileName = 0x01,   // files created, deleted, renamed
  kNotifyDirName = 0x02,    // folders created, deleted, renamed
  kNotifyAttributes = 0x04,
  kNotifySize = 0x08,
  kNotifyLastWrite = 0x10,
};

constexpr int kMaxWatchedFolders = 8192;

class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching folder (and its sub-folders with watch_subtree) for the
  // kinds in filter. Errors: missing folder 3, a file 267 is reported as 3,
  // the system's limit on watches 4.
  bool Start(const String& folder, bool watch_subtree, uint32_t filter);
  bool IsValid() const { return fd_ >= 0; }
  void Close();

  // kWaitObject0 when a change happened since Start or the last Next,
  // kWaitTimeout when none came within timeout_ms (0: a poll that never
  // blocks), kWaitFailed on a closed watch.
  uint32_t Wait(uint32_t timeout_ms);
  // Re-arms the watch: clears the signalled state. Changes that came after
  // the last Wait are kept and signal the next Wait.
  bool Next();

 private:
  void Drain();
  void AddTree(const std::string& folder, int depth);

  int fd_ = -1;
  bool subtree_ = false;
  uint32_t filter_ = 0;
  uint32_t mask_ = 0;
  bool signalled_ = false;
  std::map<int, std::string> folders_;  // watch descriptor -> folder
};

// A watch on folder for file-name and folder-name changes (the filter
// 0x80000003), with its sub-folders when watch_subtree is set; null (and the
// last error of Start) when it cannot be made.
std::unique_ptr<FolderWatch> WatchFolder(const String& folder, bool watch_subtree);

}  // namespace ov
