#include "platform/os/shared_block.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/os_error.h"

namespace ov {

namespace {

constexpr uint32_t kMagic = 0x4F564D58;  // "OVMX"
constexpr int kMaxOpeners = 64;

struct Opener {
  int32_t pid;
  int32_t count;  // handles this process holds
  int32_t word;   // per-process extra (message-queue read handles)
  int32_t unused;
};

struct Header {
  uint32_t magic;
  uint32_t kind;
  uint64_t payload_size;
  std::atomic<uint32_t> ready;  // set by the creator once everything below is built
  uint32_t unlinked;            // set under the lock when the name is removed
  pthread_mutex_t mutex;
  // Wake-ups go through this futex word, not a process-shared condition
  // variable: a process killed while it waits on a condition variable can
  // leave its internal state so that the next broadcast blocks for good,
  // whereas a futex word holds no record of its waiters. Every broadcast
  // adds one; a waiter sleeps while the word still has the value it read
  // under the lock.
  std::atomic<uint32_t> wake_count;
  Opener openers[kMaxOpeners];
};
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is a plain 32-bit word");

constexpr size_t kPayloadOffset = (sizeof(Header) + 63) & ~size_t{63};

Header* HeaderOf(void* base) { return static_cast<Header*>(base); }

bool Alive(int32_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Drops the records of processes that have ended; true when any is left.
bool PruneOpeners(Header* h) {
  bool any = false;
  for (Opener& o : h->openers) {
    if (o.pid == 0) continue;
    if (o.count <= 0 || !Alive(o.pid)) {
      o = Opener{};
      continue;
    }
    any = true;
  }
  return any;
}

void LockRobust(pthread_mutex_t* m) {
  if (::pthread_mutex_lock(m) == EOWNERDEAD) ::pthread_mutex_consistent(m);
}

// Wakes every process and thread waiting in WaitUntil.
void WakeAll(Header* h) {
  h->wake_count.fetch_add(1, std::memory_order_release);
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&h->wake_count), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void SleepMs(int ms) {
  struct timespec ts = {0, ms * 1000000L};
  ::nanosleep(&ts, nullptr);
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

}  // namespace

int64_t MonotonicNanoseconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int64_t DeadlineAfter(uint32_t timeout_ms) {
  if (timeout_ms == 0xFFFFFFFFu) return -1;
  return MonotonicNanoseconds() + static_cast<int64_t>(timeout_ms) * 1000000LL;
}

std::string SharedBlock::SystemName(const String& name, Kind) {
  // Object names are one name space, as on the platform; the kind is checked
  // when a block is opened. Readable part plus a hash of the whole name.
  std::string utf8 = name.ToUtf8Lossy();
  std::string readable;
  for (char c : utf8) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    readable.push_back(plain ? c : '_');
    if (readable.size() >= 64) break;
  }
  uint64_t hash = 1469598103934665603ULL;
  for (char16_t u : name.View()) {
    hash ^= u;
    hash *= 1099511628211ULL;
  }
  char suffix[40];
  std::snprintf(suffix, sizeof(suffix), "-%016llx", static_cast<unsigned long long>(hash));
  // OVMIX_IPC_SCOPE (when set) gives a process tree a name space of its own,
  // so that tests running side by side do not share "Frame Filter Encoding
  // Done" and the like.
  std::string scope;
  if (const char* value = std::getenv("OVMIX_IPC_SCOPE")) {
    for (const char* c = value; *c && scope.size() < 24; ++c) {
      const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
      scope.push_back(plain ? *c : '_');
    }
    if (!scope.empty()) scope += "-";
  }
  return "/ovmix-" + std::to_string(::getuid()) + "-" + scope + readable + suffix;
}

SharedBlock::~SharedBlock() { Close(); }

bool SharedBlock::Open(const String& name, Kind kind, size_t payload_size, bool create, InitFn init, void* arg,
                       bool* existed) {
  Close();
  if (existed) *existed = false;
  if (name.IsEmpty() || name.Length() > 260) return Fail(kErrorInvalidName);
  std::string sys = SystemName(name, kind);
  const size_t total = kPayloadOffset + payload_size;
  for (int attempt = 0; attempt < 200; ++attempt) {
    bool created = false;
    int fd = -1;
    if (create) {
      fd = ::shm_open(sys.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        created = true;
        if (::ftruncate(fd, static_cast<off_t>(total)) != 0) {
          int e = errno;
          ::close(fd);
          ::shm_unlink(sys.c_str());
          return Fail(ErrorFromErrno(e));
        }
      } else if (errno != EEXIST) {
        return Fail(ErrorFromErrno(errno));
      }
    }
    if (fd < 0) {
      fd = ::shm_open(sys.c_str(), O_RDWR | O_CLOEXEC, 0600);
      if (fd < 0) {
        if (errno == ENOENT) {
          if (!create) return Fail(kErrorFileNotFound);
          continue;  // removed meanwhile: create it again
        }
        return Fail(ErrorFromErrno(errno));
      }
      // The creator may still be sizing the block.
      struct stat st;
      int waited = 0;
      while (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) < sizeof(Header) && waited < 1000) {
        SleepMs(1);
        ++waited;
      }
      if (static_cast<size_t>(st.st_size) < sizeof(Header)) {
        // A creator that died before sizing it: remove and start again.
        ::close(fd);
        ::shm_unlink(sys.c_str());
        continue;
      }
      if (static_cast<size_t>(st.st_size) != total) {
        ::close(fd);
        return Fail(kErrorInvalidHandle);
      }
    }
    void* base = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) return Fail(ErrorFromErrno(errno));
    Header* h = HeaderOf(base);
    void* payload_at = static_cast<char*>(base) + kPayloadOffset;
    if (created) {
      h->magic = kMagic;
      h->kind = static_cast<uint32_t>(kind);
      h->payload_size = payload_size;
      pthread_mutexattr_t ma;
      ::pthread_mutexattr_init(&ma);
      ::pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED);
      ::pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST);
      ::pthread_mutex_init(&h->mutex, &ma);
      ::pthread_mutexattr_destroy(&ma);
      h->wake_count.store(0, std::memory_order_relaxed);
      std::memset(payload_at, 0, payload_size);
      if (init) init(payload_at, arg);
      h->ready.store(1, std::memory_order_release);
    } else {
      int waited = 0;
      while (h->ready.load(std::memory_order_acquire) != 1 && waited < 1000) {
        SleepMs(1);
        ++waited;
      }
      if (h->ready.load(std::memory_order_acquire) != 1) {
        ::munmap(base, total);
        ::shm_unlink(sys.c_str());
        continue;
      }
      if (h->magic != kMagic || h->kind != static_cast<uint32_t>(kind) || h->payload_size != payload_size) {
        ::munmap(base, total);
        return Fail(kErrorInvalidHandle);
      }
    }
    LockRobust(&h->mutex);
    if (h->unlinked) {
      ::pthread_mutex_unlock(&h->mutex);
      ::munmap(base, total);
      continue;  // the last user removed it while we opened it
    }
    bool alive = PruneOpeners(h);
    if (!created && !alive) {
      if (!create) {
        // Nobody holds it any more: on the platform it would be gone.
        h->unlinked = 1;
        ::shm_unlink(sys.c_str());
        ::pthread_mutex_unlock(&h->mutex);
        ::munmap(base, total);
        return Fail(kErrorFileNotFound);
      }
      // Left behind by processes that ended: start afresh.
      std::memset(payload_at, 0, payload_size);
      if (init) init(payload_at, arg);
    }
    const int32_t me = static_cast<int32_t>(::getpid());
    Opener* slot = nullptr;
    for (Opener& o : h->openers) {
      if (o.pid == me) slot = &o;
    }
    if (!slot) {
      for (Opener& o : h->openers) {
        if (o.pid == 0) {
          slot = &o;
          break;
        }
      }
    }
    if (!slot) {
      ::pthread_mutex_unlock(&h->mutex);
      ::munmap(base, total);
      return Fail(kErrorTooManyOpenFiles);
    }
    slot->pid = me;
    slot->count += 1;
    ::pthread_mutex_unlock(&h->mutex);
    if (existed) *existed = !created && alive;
    base_ = base;
    size_ = total;
    system_name_ = sys;
    return true;
  }
  return Fail(kErrorGenFailure);
}

void SharedBlock::Close() {
  if (!base_) return;
  Header* h = HeaderOf(base_);
  LockRobust(&h->mutex);
  const int32_t me = static_cast<int32_t>(::getpid());
  for (Opener& o : h->openers) {
    if (o.pid == me && --o.count <= 0) o = Opener{};
  }
  if (!PruneOpeners(h)) {
    h->unlinked = 1;
    ::shm_unlink(system_name_.c_str());
  }
  WakeAll(h);
  ::pthread_mutex_unlock(&h->mutex);
  ::munmap(base_, size_);
  base_ = nullptr;
  size_ = 0;
}

void* SharedBlock::payload() const { return base_ ? static_cast<char*>(base_) + kPayloadOffset : nullptr; }

void SharedBlock::Lock() { LockRobust(&HeaderOf(base_)->mutex); }

void SharedBlock::Unlock() { ::pthread_mutex_unlock(&HeaderOf(base_)->mutex); }

bool SharedBlock::WaitUntil(int64_t deadline_ns) {
  Header* h = HeaderOf(base_);
  // Read under the lock: a broadcast made after it changes the word, so the
  // sleep below returns at once instead of missing it.
  const uint32_t seen = h->wake_count.load(std::memory_order_acquire);
  ::pthread_mutex_unlock(&h->mutex);
  bool in_time = true;
  if (deadline_ns >= 0 && MonotonicNanoseconds() >= deadline_ns) {
    in_time = false;
  } else {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1000000000LL);
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline. Not
    // private: the word is shared between processes.
    const long r = ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&h->wake_count), FUTEX_WAIT_BITSET, seen,
                             deadline_ns < 0 ? nullptr : &ts, nullptr, FUTEX_BITSET_MATCH_ANY);
    if (r != 0 && errno == ETIMEDOUT) in_time = false;
  }
  LockRobust(&h->mutex);
  return in_time;
}

void SharedBlock::Broadcast() { WakeAll(HeaderOf(base_)); }

void SharedBlock::AddToOpenerWord(int32_t delta) {
  Header* h = HeaderOf(base_);
  const int32_t me = static_cast<int32_t>(::getpid());
  for (Opener& o : h->openers) {
    if (o.pid == me) o.word += delta;
  }
}

int32_t SharedBlock::SumOfOpenerWords() {
  Header* h = HeaderOf(base_);
  PruneOpeners(h);
  int32_t sum = 0;
  for (const Opener& o : h->openers) sum += o.pid ? o.word : 0;
  return sum;
}

}  // namespace ov
