#pragma once
// Mutexes and critical sections.
//
// Mutex: recursive, owned by a thread, with timed waits; unnamed within the
// process or named and shared between processes ("GetFrame mutex"). A named
// mutex whose owner process ended without releasing it is handed to the next
// waiter with kWaitAbandoned0.
// CriticalSection: a recursive lock within the process, without time-outs.
//
// Thread: Wait, Release, Enter and Leave from any thread; Create, Open and
// Close by the owner while no other thread uses the object.

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/os/event.h"
#include "platform/os/os_error.h"
#include "platform/os/ov_string.h"

namespace ov {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Creates a mutex, owned by the calling thread when initially_owned; with a
  // name, creates or opens the named mutex (last error 183 when it existed, in
  // which case initially_owned is ignored, as on the platform).
  bool Create(bool initially_owned, const String& name = String());
  // Opens an existing named mutex; false with last error 2 when there is none.
  bool Open(const String& name);
  bool IsValid() const { return impl_ != nullptr; }
  void Close();

  // Takes the mutex (again, when the calling thread owns it): kWaitObject0,
  // kWaitAbandoned0 (taken from an owner that ended), kWaitTimeout, or
  // kWaitFailed (last error 6) on an invalid mutex.
  uint32_t Wait(uint32_t timeout_ms);
  // Gives up one level of ownership; false with kErrorNotOwner when the
  // calling thread does not own it.
  bool Release();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionLock() { section_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace ov
