#include "platform/os/folder_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/os/event.h"
#include "platform/os/os_error.h"
#include "platform/os/shared_block.h"

namespace ov {

namespace {

std::string ChildPath(const std::string& folder, const char* name) {
  std::string child = folder;
  if (child != "/") child += '/';
  child += name;
  return child;
}

}  // namespace

FolderWatch::~FolderWatch() { Close(); }

void FolderWatch::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  folders_.clear();
  signalled_ = false;
}

void FolderWatch::AddTree(const std::string& folder, int depth) {
  if (static_cast<int>(folders_.size()) >= kMaxWatchedFolders) return;
  int wd = ::inotify_add_watch(fd_, folder.c_str(), mask_);
  if (wd < 0) return;
  folders_[wd] = folder;
  if (!subtree_ || depth > 64) return;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string child = ChildPath(folder, entry->d_name);
    struct stat st;
    // Symbolic links are not followed, so a link loop cannot recurse.
    if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) AddTree(child, depth + 1);
  }
  ::closedir(dir);
}

bool FolderWatch::Start(const String& folder, bool watch_subtree, uint32_t filter) {
  Close();
  std::string native;
  if (folder.IsEmpty() || !folder.ToUtf8(&native)) {
    SetLastError(folder.IsEmpty() ? kErrorPathNotFound : kErrorInvalidName);
    return false;
  }
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st;
  if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    SetLastError(errno == EMFILE ? kErrorTooManyOpenFiles : ErrorFromErrno(errno));
    return false;
  }
  subtree_ = watch_subtree;
  filter_ = filter & 0x1F;
  mask_ = IN_DELETE_SELF | IN_MOVE_SELF;
  if (filter_ & (kNotifyFileName | kNotifyDirName)) mask_ |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (filter_ & kNotifyAttributes) mask_ |= IN_ATTRIB;
  if (filter_ & (kNotifySize | kNotifyLastWrite)) mask_ |= IN_MODIFY | IN_CLOSE_WRITE;
  // Folder creation must be seen to extend a tree, whatever the filter.
  if (subtree_) mask_ |= IN_CREATE | IN_MOVED_TO;
  AddTree(native, 0);
  if (folders_.empty()) {
    int e = errno;
    Close();
    SetLastError(e == ENOSPC ? kErrorTooManyOpenFiles : ErrorFromErrno(e));
    return false;
  }
  return true;
}

void FolderWatch::Drain() {
  alignas(struct inotify_event) char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof(buffer));
    if (n <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
      const bool is_dir = (ev->mask & IN_ISDIR) != 0;
      const uint32_t naming = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
      if (ev->mask & IN_Q_OVERFLOW) signalled_ = true;  // changes were lost: report one
      if (ev->mask & naming) {
        if ((filter_ & kNotifyDirName) && is_dir) signalled_ = true;
        if ((filter_ & kNotifyFileName) && !is_dir) signalled_ = true;
        if (subtree_ && is_dir && (ev->mask & (IN_CREATE | IN_MOVED_TO)) && ev->len > 0) {
          auto it = folders_.find(ev->wd);
          if (it != folders_.end()) {
            AddTree(ChildPath(it->second, ev->name), 0);
          }
        }
      }
      if ((ev->mask & IN_ATTRIB) && (filter_ & kNotifyAttributes)) signalled_ = true;
      if ((ev->mask & (IN_MODIFY | IN_CLOSE_WRITE)) && (filter_ & (kNotifySize | kNotifyLastWrite))) signalled_ = true;
      if ((ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) && (filter_ & kNotifyDirName)) signalled_ = true;
      if (ev->mask & IN_IGNORED) folders_.erase(ev->wd);
    }
  }
}

uint32_t FolderWatch::Wait(uint32_t timeout_ms) {
  if (fd_ < 0) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  const int64_t deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    Drain();
    if (signalled_) return kWaitObject0;
    int wait_ms;
    if (deadline < 0) {
      wait_ms = -1;
    } else {
      // Rounded up: a wait never ends before its time-out.
      int64_t left = (deadline - MonotonicNanoseconds() + 999999) / 1000000;
      if (left <= 0) return kWaitTimeout;
      wait_ms = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    struct pollfd p = {fd_, POLLIN, 0};
    ::poll(&p, 1, wait_ms);
  }
}

bool FolderWatch::Next() {
  if (fd_ < 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  // Changes not yet seen by a Wait stay queued and signal the next one.
  signalled_ = false;
  return true;
}

std::unique_ptr<FolderWatch> WatchFolder(const String& folder, bool watch_subtree) {
  auto watch = std::make_unique<FolderWatch>();
  if (!watch->Start(folder, watch_subtree, kNotifyFileName | kNotifyDirName | 0x80000000u)) return nullptr;
  return watch;
}

}  // namespace ov
