#include "platform/os/mutex.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
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
    int r;
    if (timeout_ms == kInfinite) {
      r = ::pthread_mutex_lock(m.shared());
    } else if (timeout_ms == 0) {
      r = ::pthread_mutex_trylock(m.shared());
      if (r == EBUSY) r = ETIMEDOUT;
    } else {
      int64_t deadline = DeadlineAfter(timeout_ms);
      struct timespec ts;
      ts.tv_sec = static_cast<time_t>(deadline / 1000000000LL);
      ts.tv_nsec = static_cast<long>(deadline % 1000000000LL);
      r = ::pthread_mutex_clocklock(m.shared(), CLOCK_MONOTONIC, &ts);
    }
    if (r == 0) return kWaitObject0;
    if (r == EOWNERDEAD) {
      ::pthread_mutex_consistent(m.shared());
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
    if (::pthread_mutex_unlock(m.shared()) != 0) {
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
