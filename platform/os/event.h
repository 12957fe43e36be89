#pragma once
// Events: auto-reset (one waiter is released per Set and the event clears
// itself) and manual-reset (stays set until Reset), unnamed within the
// process or named and shared between processes ("Cancel Encoding", "Pause
// Encoding", "Restart Encoding", "Frame Filter Encoding Done", ...).
//
// A named event lives while some process holds it open; the first Create
// decides its type and initial state, later Creates and Opens share it.
// Long jobs poll an event with a zero time-out.
//
// Thread: Set, Reset and Wait from any thread; Create, Open and Close by the
// owner while no other thread uses the object.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

#include "platform/os/ov_string.h"
#include "platform/os/thread.h"

namespace ov {

// Results of the waits (the platform's numbers).
enum : uint32_t {
  kWaitObject0 = 0,        // + index of the object that ended the wait
  kWaitAbandoned0 = 0x80,  // a mutex whose owner ended without releasing it
  kWaitTimeout = 258,
  kWaitFailed = 0xFFFFFFFFu,
};

// Most objects one WaitForAny takes.
constexpr size_t kMaximumWaitObjects = 64;

class Event {
 public:
  Event();
  // An unnamed event, created at once.
  Event(bool manual_reset, bool initially_set);
  ~Event();
  Event(Event&& other) noexcept;
  Event& operator=(Event&& other) noexcept;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Creates an event; with a name, creates or opens the named event shared
  // between processes. Last error 183 when the named event existed (its type
  // and state are kept), else 0. Errors: a name used by a mutex or queue: 6.
  bool Create(bool manual_reset, bool initially_set, const String& name = String());
  // Opens an existing named event; false with last error 2 when there is none.
  bool Open(const String& name);
  bool IsValid() const { return impl_ != nullptr; }
  void Close();

  bool Set();
  bool Reset();
  // Waits until the event is set or timeout_ms passes (kInfinite: no limit;
  // 0: a poll). kWaitObject0 when set (an auto-reset event is cleared by the
  // wait that takes it), kWaitTimeout, or kWaitFailed (last error 6) on an
  // invalid event.
  uint32_t Wait(uint32_t timeout_ms);

  // Implementation (event.cpp).
  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

// Waits until one of events is set: kWaitObject0 + the index of the first set
// one in list order (an auto-reset event taken is cleared; the others are
// untouched), kWaitTimeout, or kWaitFailed with last error 87 (none, more
// than kMaximumWaitObjects, or an invalid event). Named events are checked
// at least every 2 ms; unnamed ones wake the wait at once.
uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeout_ms);
uint32_t WaitForAny(std::initializer_list<Event*> events, uint32_t timeout_ms);

}  // namespace ov
