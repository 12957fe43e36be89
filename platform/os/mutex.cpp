#include "platform/os/mutex.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <string>
#include <thread>

#include "platform/os/os_error.h"
#include "platform/os/shared_block.h"

namespace ov {

namespace {

struct SharedMutexPayload {
  pthread_mutex_t mutex;
};

void InitSharedMutex(void* payload, void*) {
  auto* p = static_cast<SharedMutexPayload*>(payload);
  pthread_mutexattr_t attr;
  ::pthread_mutexattr_init(&attr);
  ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  ::pthread_mutex_init(&p->mutex, &attr);
  ::pthread_mutexattr_destroy(&attr);
}

// Ownership of the named mutexes within this process, by system name: a
// release by a thread that does not own one is refused here, without asking
// the system to unlock a mutex it does not hold (and through any handle of
// the same name, as on the platform).
struct NamedOwner {
  std::thread::id owner;
  uint32_t depth = 0;
};

std::mutex g_owners_mutex;
std::map<std::string, NamedOwner>& Owners() {
  static auto* owners = new std::map<std::string, NamedOwner>();
  return *owners;
}

void NoteTaken(const std::string& name, bool abandoned) {
  std::lock_guard<std::mutex> lock(g_owners_mutex);
  NamedOwner& o = Owners()[name];
  if (abandoned || o.depth == 0) {
    // Abandoned by a thread of this process, the stale count goes too.
    o.owner = std::this_thread::get_id();
    o.depth = 0;
  }
  ++o.depth;
}

// True (and one level released) when the calling thread owns it.
bool NoteReleased(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_owners_mutex);
  auto it = Owners().find(name);
  if (it == Owners().end() || it->second.depth == 0 || it->second.owner != std::this_thread::get_id()) return false;
  if (--it->second.depth == 0) Owners().erase(it);
  return true;
}

}  // namespace

struct Mutex::Impl {
  bool named = false;
  // Unnamed.
  std::mutex mutex;
  std::condition_variable cv;
  std::thread::id owner;
  uint32_t depth = 0;
  // Named.
  SharedBlock block;

  pthread_mutex_t* shared() const { return &static_cast<SharedMutexPayload*>(block.payload())->mutex; }
};

Mutex::Mutex() = default;
Mutex::~Mutex() { Close(); }

bool Mutex::Create(bool initially_owned, const String& name) {
  Close();
  auto impl = std::make_unique<Impl>();
  if (name.IsEmpty()) {
    if (initially_owned) {
      impl->owner = std::this_thread::get_id();
      impl->depth = 1;
    }
    impl_ = std::move(impl);
    SetLastError(kErrorSuccess);
    return true;
  }
  impl->named = true;
  bool existed = false;
  if (!impl->block.Open(name, SharedBlock::Kind::kMutex, sizeof(SharedMutexPayload), true, InitSharedMutex, nullptr,
                        &existed)) {
    return false;
  }
  impl_ = std::move(impl);
  if (initially_owned && !existed) Wait(0);
  SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
  return true;
}

bool Mutex::Open(const String& name) {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->named = true;
  if (!impl->block.Open(name, SharedBlock::Kind::kMutex, sizeof(SharedMutexPayload), false, InitSharedMutex, nullptr,
                        nullptr)) {
    return false;
  }
  impl_ = std::move(impl);
  SetLastError(kErrorSuccess);
  return true;
}

void Mutex::Close() { impl_.reset(); }

uint32_t Mutex::Wait(uint32_t timeout_ms) {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  Impl& m = *impl_;
  if (m.named) {
    // A free (or abandoned) mutex is taken at once; only a held one waits.
    int r = ::pthread_mutex_trylock(m.shared());
    if (r == EBUSY && timeout_ms == 0) {
      r = ETIMEDOUT;
    } else if (r == EBUSY && timeout_ms == kInfinite) {
      r = ::pthread_mutex_lock(m.shared());
    } else if (r == EBUSY) {
      // pthread_mutex_timedlock takes a wall-clock deadline; the sanitizers
      // know it (not the monotonic clocklock), and a clock step during one
      // short wait is acceptable.
      struct timespec ts;
      ::clock_gettime(CLOCK_REALTIME, &ts);
      int64_t ns = static_cast<int64_t>(ts.tv_nsec) + static_cast<int64_t>(timeout_ms % 1000) * 1000000LL;
      ts.tv_sec += static_cast<time_t>(timeout_ms / 1000 + ns / 1000000000LL);
      ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
      r = ::pthread_mutex_timedlock(m.shared(), &ts);
    }
    if (r == 0) {
      NoteTaken(m.block.system_name(), false);
      return kWaitObject0;
    }
    if (r == EOWNERDEAD) {
      ::pthread_mutex_consistent(m.shared());
      NoteTaken(m.block.system_name(), true);
      return kWaitAbandoned0;
    }
    if (r == ETIMEDOUT) return kWaitTimeout;
    SetLastError(ErrorFromErrno(r));
    return kWaitFailed;
  }
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(m.mutex);
  if (m.depth > 0 && m.owner == me) {
    ++m.depth;
    return kWaitObject0;
  }
  auto free = [&] { return m.depth == 0; };
  if (timeout_ms == kInfinite) {
    m.cv.wait(lock, free);
  } else if (!m.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), free)) {
    return kWaitTimeout;
  }
  m.owner = me;
  m.depth = 1;
  return kWaitObject0;
}

bool Mutex::Release() {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  Impl& m = *impl_;
  if (m.named) {
    if (!NoteReleased(m.block.system_name()) || ::pthread_mutex_unlock(m.shared()) != 0) {
      SetLastError(kErrorNotOwner);
      return false;
    }
    return true;
  }
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.depth == 0 || m.owner != std::this_thread::get_id()) {
    SetLastError(kErrorNotOwner);
    return false;
  }
  if (--m.depth == 0) {
    m.owner = std::thread::id();
    m.cv.notify_one();
  }
  return true;
}

}  // namespace ov
