#include "platform/os/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/os/os_error.h"

namespace ov {

namespace {

// Sharing is enforced among the files this process has open, as the
// platform enforces it among all handles. Key: (device, inode).
struct OpenEntry {
  const File* file;
  uint32_t access;
  uint32_t share;
};

std::mutex g_open_mutex;
std::map<std::pair<uint64_t, uint64_t>, std::vector<OpenEntry>>& OpenFiles() {
  static auto* files = new std::map<std::pair<uint64_t, uint64_t>, std::vector<OpenEntry>>();
  return *files;
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

// UTF-8 form of a path, or false with kErrorInvalidName (unpaired surrogate)
// or kErrorPathNotFound (empty path).
bool NativePath(const String& path, std::string* native) {
  if (path.IsEmpty()) return Fail(kErrorPathNotFound);
  if (!path.ToUtf8(native)) return Fail(kErrorInvalidName);
  if (native->find('\0') != std::string::npos) return Fail(kErrorInvalidName);
  return true;
}

bool IsFolder(const std::string& native) {
  struct stat st;
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& native) {
  std::string p = native;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

// The error for a path that is not there: 2 when its folder exists, else 3.
uint32_t MissingError(const std::string& native) {
  return IsFolder(ParentOf(native)) ? kErrorFileNotFound : kErrorPathNotFound;
}

// Error for a failed call on path with errno e.
uint32_t PathError(const std::string& native, int e) {
  if (e == ENOENT) return MissingError(native);
  if (e == ENOTDIR) return kErrorPathNotFound;
  return ErrorFromErrno(e);
}

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

FileTime ToFileTime(int64_t seconds, int64_t nanoseconds) {
  // 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
  int64_t ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
  return ticks < 0 ? 0 : static_cast<FileTime>(ticks);
}

void TimesOf(int dirfd, const char* name, int flags, const struct stat& st, FileTime* creation, FileTime* last_write) {
  *last_write = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  *creation = ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  struct statx sx;
  if (::statx(dirfd, name, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
    *creation = ToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  }
}

uint32_t AttributesOf(const struct stat& st, const std::string& name) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttributeDirectory;
  if (IsReadOnly(st)) a |= kAttributeReadOnly;
  size_t slash = name.rfind('/');
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (!base.empty() && base[0] == '.' && base != "." && base != "..") a |= kAttributeHidden;
  return a == 0 ? kAttributeNormal : a;
}

// True when a file of this (device, inode) is open here without kShareDelete.
bool OpenWithoutDeleteSharing(const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_open_mutex);
  auto it = OpenFiles().find({st.st_dev, st.st_ino});
  if (it == OpenFiles().end()) return false;
  for (const OpenEntry& e : it->second) {
    if ((e.share & kShareDelete) == 0) return true;
  }
  return false;
}

}  // namespace

// ---- File ----

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    std::lock_guard<std::mutex> lock(g_open_mutex);
    fd_ = other.fd_;
    access_ = other.access_;
    share_ = other.share_;
    device_ = other.device_;
    inode_ = other.inode_;
    other.fd_ = -1;
    if (fd_ >= 0) {
      for (OpenEntry& e : OpenFiles()[{device_, inode_}]) {
        if (e.file == &other) e.file = this;
      }
    }
  }
  return *this;
}

void File::Close() {
  if (fd_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(g_open_mutex);
    auto it = OpenFiles().find({device_, inode_});
    if (it != OpenFiles().end()) {
      auto& list = it->second;
      for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].file == this) {
          list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      }
      if (list.empty()) OpenFiles().erase(it);
    }
  }
  ::close(fd_);
  fd_ = -1;
}

bool File::Open(const String& path, uint32_t access, uint32_t share, CreateMode mode) {
  Close();
  std::string native;
  if (!NativePath(path, &native)) return false;
  bool want_write = (access & kGenericWrite) != 0;
  bool want_read = (access & kGenericRead) != 0;
  if (mode == CreateMode::kTruncateExisting && !want_write) return Fail(kErrorInvalidParameter);

  // The whole check-and-open runs under the table's lock so that two threads
  // opening the same file see each other's sharing.
  std::lock_guard<std::mutex> lock(g_open_mutex);
  struct stat st;
  bool exists = ::stat(native.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(PathError(native, errno));
  if (exists && S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  switch (mode) {
    case CreateMode::kCreateNew:
      if (exists) return Fail(kErrorFileExists);
      break;
    case CreateMode::kOpenExisting:
    case CreateMode::kTruncateExisting:
      if (!exists) return Fail(MissingError(native));
      break;
    case CreateMode::kCreateAlways:
    case CreateMode::kOpenAlways:
      break;
    default:
      return Fail(kErrorInvalidParameter);
  }
  if (exists && IsReadOnly(st) &&
      (want_write || mode == CreateMode::kCreateAlways || mode == CreateMode::kTruncateExisting)) {
    return Fail(kErrorAccessDenied);
  }
  if (exists) {
    auto it = OpenFiles().find({st.st_dev, st.st_ino});
    if (it != OpenFiles().end()) {
      for (const OpenEntry& e : it->second) {
        bool refused = (want_read && !(e.share & kShareRead)) || (want_write && !(e.share & kShareWrite)) ||
                       ((e.access & kGenericRead) && !(share & kShareRead)) ||
                       ((e.access & kGenericWrite) && !(share & kShareWrite));
        if (refused) return Fail(kErrorSharingViolation);
      }
    }
  }

  int flags = O_CLOEXEC;
  if (want_read && want_write) flags |= O_RDWR;
  else if (want_write) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  switch (mode) {
    case CreateMode::kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case CreateMode::kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case CreateMode::kOpenAlways: flags |= O_CREAT; break;
    case CreateMode::kTruncateExisting: flags |= O_TRUNC; break;
    case CreateMode::kOpenExisting: break;
  }
  // O_TRUNC needs write access; a read-only create-always still empties the file.
  if ((flags & O_TRUNC) && !want_write) flags = (flags & ~(O_RDONLY | O_WRONLY | O_RDWR)) | O_RDWR;
  // An existing file is opened without blocking and must be a regular file:
  // open() of a FIFO without a writer (or reader) waits for its peer, and it
  // would wait here with the table's lock held, stopping every open and close
  // of the process. A device or socket would feed the readers endless or
  // unseekable data. Creating an output file is unchanged.
  bool existing_only = mode == CreateMode::kOpenExisting || mode == CreateMode::kTruncateExisting ||
                       (mode == CreateMode::kOpenAlways && exists);
  if (existing_only) flags |= O_NONBLOCK;
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return Fail(kErrorFileExists);
    // A FIFO opened for writing without a reader.
    if (existing_only && errno == ENXIO) return Fail(kErrorBadFileType);
    return Fail(PathError(native, errno));
  }
  struct stat opened;
  if (::fstat(fd, &opened) != 0) {
    int e = errno;
    ::close(fd);
    return Fail(ErrorFromErrno(e));
  }
  if (existing_only) {
    if (!S_ISREG(opened.st_mode)) {
      ::close(fd);
      return Fail(S_ISDIR(opened.st_mode) ? kErrorAccessDenied : kErrorBadFileType);
    }
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      int e = errno;
      ::close(fd);
      return Fail(ErrorFromErrno(e));
    }
  }
  fd_ = fd;
  access_ = access;
  share_ = share;
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  OpenFiles()[{device_, inode_}].push_back({this, access, share});
  bool reported_existing = exists && (mode == CreateMode::kCreateAlways || mode == CreateMode::kOpenAlways);
  SetLastError(reported_existing ? kErrorAlreadyExists : kErrorSuccess);
  return true;
}

bool File::Read(void* buffer, uint32_t count, uint32_t* got) {
  if (got) *got = 0;
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  if (!(access_ & kGenericRead)) return Fail(kErrorAccessDenied);
  uint32_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (got) *got = done;
      return Fail(ErrorFromErrno(errno));
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (got) *got = done;
  return true;
}

bool File::Write(const void* data, uint32_t count, uint32_t* written) {
  if (written) *written = 0;
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  if (!(access_ & kGenericWrite)) return Fail(kErrorAccessDenied);
  uint32_t done = 0;
  const auto* p = static_cast<const uint8_t*>(data);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = done;
      return Fail(ErrorFromErrno(errno));
    }
    done += static_cast<uint32_t>(n);
  }
  if (written) *written = done;
  return true;
}

bool File::Seek(int64_t offset, SeekFrom from, uint64_t* new_position) {
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  int64_t base = 0;
  if (from == SeekFrom::kCurrent) {
    base = ::lseek(fd_, 0, SEEK_CUR);
  } else if (from == SeekFrom::kEnd) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Fail(ErrorFromErrno(errno));
    base = st.st_size;
  }
  if (base < 0) return Fail(ErrorFromErrno(errno));
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset)) return Fail(kErrorNegativeSeek);
  off_t result = ::lseek(fd_, static_cast<off_t>(base + offset), SEEK_SET);
  if (result < 0) return Fail(ErrorFromErrno(errno));
  if (new_position) *new_position = static_cast<uint64_t>(result);
  return true;
}

uint64_t File::Position() const {
  if (fd_ < 0) return 0;
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  return p < 0 ? 0 : static_cast<uint64_t>(p);
}

bool File::GetSize(uint64_t* size) const {
  *size = 0;
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Fail(ErrorFromErrno(errno));
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::SetEndOfFile() {
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  if (!(access_ & kGenericWrite)) return Fail(kErrorAccessDenied);
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  if (p < 0 || ::ftruncate(fd_, p) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

bool File::Flush() {
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  if (::fsync(fd_) != 0 && errno != EINVAL) return Fail(ErrorFromErrno(errno));
  return true;
}

bool File::GetTimes(FileTime* creation, FileTime* last_write) const {
  if (fd_ < 0) return Fail(kErrorInvalidHandle);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Fail(ErrorFromErrno(errno));
  FileTime c, w;
  TimesOf(fd_, "", AT_EMPTY_PATH, st, &c, &w);
  if (creation) *creation = c;
  if (last_write) *last_write = w;
  return true;
}

// ---- Enumeration ----

FileFinder::~FileFinder() { Close(); }

void FileFinder::Close() {
  if (dir_) ::closedir(static_cast<DIR*>(dir_));
  dir_ = nullptr;
}

bool FileFinder::First(const String& path_pattern, FindData* found) {
  Close();
  int slash = path_pattern.ReverseFind(u'/');
  folder_ = slash < 0 ? String(u".") : (slash == 0 ? String(u"/") : path_pattern.Left(slash));
  pattern_ = path_pattern.Mid(slash + 1);
  std::string native;
  if (!NativePath(folder_, &native)) return false;
  DIR* dir = ::opendir(native.c_str());
  if (!dir) {
    int e = errno;
    return Fail(e == ENOENT || e == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(e));
  }
  dir_ = dir;
  if (Next(found)) return true;
  // Nothing matched: the platform reports a missing file here, not the end.
  if (GetLastError() == kErrorNoMoreFiles) SetLastError(kErrorFileNotFound);
  Close();
  return false;
}

bool FileFinder::Next(FindData* found) {
  if (!dir_) return Fail(kErrorNoMoreFiles);
  DIR* dir = static_cast<DIR*>(dir_);
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (!entry) return Fail(errno ? ErrorFromErrno(errno) : kErrorNoMoreFiles);
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    String wide = String::FromUtf8Lossy(name);
    if (!WildcardMatch(pattern_.View(), wide.View())) continue;
    // One statx gives what the entry points at, birth time included (a
    // tree walk makes this call for every file). An entry removed since it
    // was listed is skipped.
    struct statx sx;
    if (::statx(::dirfd(dir), entry->d_name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) continue;
    struct stat st = {};
    st.st_mode = sx.stx_mode;
    st.st_size = static_cast<off_t>(sx.stx_size);
    found->name = wide;
    found->attributes = AttributesOf(st, name);
    // The entry itself is a link: the folder's own type when it gives one,
    // else fstatat without following.
    bool link = entry->d_type == DT_LNK;
    struct stat own;
    if (entry->d_type == DT_UNKNOWN) {
      link = ::fstatat(::dirfd(dir), entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    }
    if (link) found->attributes |= kAttributeLink;
    found->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    found->last_write = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    found->creation = (sx.stx_mask & STATX_BTIME) ? ToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                                   : ToFileTime(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
    return true;
  }
}

std::vector<FindData> ListFolder(const String& folder, const String& pattern) {
  std::vector<FindData> result;
  FileFinder finder;
  FindData data;
  if (!finder.First(JoinPath(folder, pattern), &data)) return result;
  do {
    result.push_back(data);
  } while (finder.Next(&data));
  return result;
}

// ---- Paths ----

namespace {

// stat() of path; false (and the last error) when it fails.
bool StatPath(const String& path, std::string* native, struct stat* st) {
  if (!NativePath(path, native)) return false;
  if (::stat(native->c_str(), st) != 0) {
    SetLastError(PathError(*native, errno));
    return false;
  }
  return true;
}

}  // namespace

uint32_t GetFileAttributes(const String& path) {
  std::string native;
  struct stat st;
  if (!StatPath(path, &native, &st)) return kInvalidAttributes;
  return AttributesOf(st, native);
}

bool SetFileAttributes(const String& path, uint32_t attributes) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Fail(PathError(native, errno));
  if (S_ISDIR(st.st_mode)) return true;  // folders carry no read-only bit here
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttributeReadOnly) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else mode |= S_IWUSR;
  if (::chmod(native.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

bool GetFileInfo(const String& path, FindData* info) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Fail(PathError(native, errno));
  info->name = FileNameOf(path);
  info->attributes = AttributesOf(st, native);
  info->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  TimesOf(AT_FDCWD, native.c_str(), 0, st, &info->creation, &info->last_write);
  return true;
}

bool DeleteFile(const String& path) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return Fail(PathError(native, errno));
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) return Fail(kErrorAccessDenied);
  if (OpenWithoutDeleteSharing(st)) return Fail(kErrorSharingViolation);
  if (::unlink(native.c_str()) != 0) return Fail(PathError(native, errno));
  return true;
}

bool CopyFile(const String& from, const String& to, bool fail_if_exists) {
  File in;
  if (!in.Open(from, kGenericRead, kShareRead, CreateMode::kOpenExisting)) return false;
  uint32_t attributes = GetFileAttributes(from);
  File out;
  if (!out.Open(to, kGenericWrite, kShareNone, fail_if_exists ? CreateMode::kCreateNew : CreateMode::kCreateAlways)) {
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0;
    if (!in.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) return false;
    if (got == 0) break;
    if (!out.Write(buffer.data(), got, nullptr)) return false;
  }
  out.Close();
  if (attributes != kInvalidAttributes && (attributes & kAttributeReadOnly)) SetFileAttributes(to, attributes);
  SetLastError(kErrorSuccess);
  return true;
}

bool MoveFile(const String& from, const String& to) {
  std::string a, b;
  if (!NativePath(from, &a) || !NativePath(to, &b)) return false;
  struct stat st;
  if (::lstat(a.c_str(), &st) != 0) return Fail(PathError(a, errno));
  if (OpenWithoutDeleteSharing(st)) return Fail(kErrorSharingViolation);
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
  int e = errno;
  if (e == EEXIST) return Fail(kErrorAlreadyExists);
  if (e == EINVAL || e == ENOSYS) {
    // File systems without the no-replace rename: check, then rename.
    struct stat dst;
    if (::lstat(b.c_str(), &dst) == 0) return Fail(kErrorAlreadyExists);
    if (::rename(a.c_str(), b.c_str()) == 0) return true;
    e = errno;
  }
  if (e == EXDEV && S_ISREG(st.st_mode)) {
    // Another volume: copy, then delete the source (as the platform does).
    if (!CopyFile(from, to, true)) return false;
    if (!SetFileAttributes(from, 0) || !DeleteFile(from)) return false;
    return true;
  }
  if (e == ENOENT) return Fail(MissingError(b));
  return Fail(ErrorFromErrno(e));
}

bool ReplaceFile(const String& from, const String& to) {
  std::string a, b;
  if (!NativePath(from, &a) || !NativePath(to, &b)) return false;
  struct stat dst;
  if (::stat(b.c_str(), &dst) == 0) {
    if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(kErrorAccessDenied);
    if (OpenWithoutDeleteSharing(dst)) return Fail(kErrorSharingViolation);
  }
  if (::rename(a.c_str(), b.c_str()) != 0) return Fail(PathError(errno == ENOENT ? a : b, errno));
  return true;
}

bool CreateFolder(const String& path) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  if (::mkdir(native.c_str(), 0777) == 0) return true;
  int e = errno;
  if (e == EEXIST) return Fail(kErrorAlreadyExists);
  if (e == ENOENT || e == ENOTDIR) return Fail(kErrorPathNotFound);
  return Fail(ErrorFromErrno(e));
}

bool CreateFolderTree(const String& path) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = native.find('/', pos + 1);
    std::string part = native.substr(0, pos);
    if (part.empty() || IsFolder(part)) continue;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return Fail(PathError(part, errno));
  }
  if (!IsFolder(native)) return Fail(kErrorAlreadyExists);  // a file stands in the way
  return true;
}

bool RemoveFolder(const String& path) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  if (::rmdir(native.c_str()) == 0) return true;
  int e = errno;
  if (e == ENOTEMPTY || e == EEXIST) return Fail(kErrorDirNotEmpty);
  return Fail(PathError(native, e));
}

// ---- Helpers ----

String JoinPath(const String& a, const String& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  String head = a;
  while (head.Length() > 1 && head.At(head.Length() - 1) == u'/') head = head.Left(head.Length() - 1);
  int skip = 0;
  while (skip < b.Length() && b.At(skip) == u'/') ++skip;
  if (head == u"/") return head + b.Mid(skip);
  return head + u"/" + b.Mid(skip);
}

String FolderOf(const String& path) {
  int slash = path.ReverseFind(u'/');
  return slash < 0 ? String() : path.Left(slash + 1);
}

String FileNameOf(const String& path) { return path.Mid(path.ReverseFind(u'/') + 1); }

bool FileExists(const String& path) {
  uint32_t a = GetFileAttributes(path);
  return a != kInvalidAttributes && !(a & kAttributeDirectory);
}

bool IsRegularFile(const String& path) {
  std::string native;
  struct stat st;
  return StatPath(path, &native, &st) && S_ISREG(st.st_mode);
}

bool FolderExists(const String& path) {
  uint32_t a = GetFileAttributes(path);
  return a != kInvalidAttributes && (a & kAttributeDirectory);
}

bool ReadWholeFile(const String& path, std::vector<uint8_t>* bytes, uint64_t max_bytes) {
  bytes->clear();
  File file;
  if (!file.Open(path, kGenericRead, kShareRead, CreateMode::kOpenExisting)) return false;
  uint64_t size;
  if (!file.GetSize(&size)) return false;
  if (size > max_bytes) return Fail(kErrorNotEnoughMemory);
  bytes->resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes->size()) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(bytes->size() - done, 1u << 30));
    uint32_t got = 0;
    if (!file.Read(bytes->data() + done, chunk, &got)) return false;
    if (got == 0) break;  // the file shrank meanwhile
    done += got;
  }
  bytes->resize(done);
  SetLastError(kErrorSuccess);
  return true;
}

static bool WriteAll(File& file, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(size, 1u << 30));
    uint32_t written = 0;
    if (!file.Write(p, chunk, &written)) return false;
    if (written != chunk) return Fail(kErrorWriteFault);
    p += chunk;
    size -= chunk;
  }
  return true;
}

bool WriteWholeFile(const String& path, const void* data, size_t size) {
  File file;
  if (!file.Open(path, kGenericWrite, kShareNone, CreateMode::kCreateAlways)) return false;
  if (!WriteAll(file, data, size)) return false;
  SetLastError(kErrorSuccess);
  return true;
}

bool WriteFileAtomically(const String& path, const void* data, size_t size) {
  uint32_t attributes = GetFileAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & (kAttributeReadOnly | kAttributeDirectory))) {
    return Fail(kErrorAccessDenied);
  }
  static std::atomic<unsigned> counter{0};
  String temp = path + String::Format(u".~%d-%u", static_cast<int>(::getpid()), counter.fetch_add(1));
  bool ok;
  {
    File file;
    ok = file.Open(temp, kGenericWrite, kShareNone, CreateMode::kCreateNew) && WriteAll(file, data, size) &&
         file.Flush();
  }
  if (ok) ok = ReplaceFile(temp, path);
  if (!ok) {
    uint32_t error = GetLastError();
    DeleteFile(temp);
    return Fail(error);
  }
  SetLastError(kErrorSuccess);
  return true;
}

FileTime CurrentFileTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return ToFileTime(now.tv_sec, now.tv_nsec);
}

}  // namespace ov
