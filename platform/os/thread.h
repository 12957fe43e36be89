#pragma once
// Threads, priorities, sleep and the tick count.
//
// Priorities use the platform's numbers: 0 (time critical) to 7 (idle), 3
// normal. They are applied best effort as the thread's nice value (0: -10,
// 1: -5, 2: -2, 3: 0, 4: 2, 5: 5, 6: 10, 7: 19); raising a priority above
// normal needs privileges and is otherwise recorded but not applied. The
// value set is what the get calls answer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace ov {

enum : int {
  kThreadPriorityTimeCritical = 0,
  kThreadPriorityHighest = 1,
  kThreadPriorityAboveNormal = 2,
  kThreadPriorityNormal = 3,
  kThreadPriorityBelowNormal = 4,
  kThreadPriorityLowest = 5,
  kThreadPriorityAboveIdle = 6,
  kThreadPriorityIdle = 7,
};

// The infinite time-out of every wait.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A thread running one entry function that returns its exit code. The owner
// starts it and joins it: the destructor waits for the thread to end (it
// never detaches), so the entry must be told to stop first (an event or an
// atomic flag).
// Thread: Start, Join and the destructor on the owning thread; IsRunning,
// ExitCode and the priority calls from any thread.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts entry on a new thread. stack_bytes (0: the default) is a
  // reservation, as on the platform. False when the thread cannot be made
  // (last error 8) or this object's previous thread still runs (87); a
  // previous thread that has ended is joined first.
  bool Start(std::function<uint32_t()> entry, size_t stack_bytes = 0);
  // Waits at most timeout_ms for the thread to end; true when it has ended
  // (and is joined). True at once when no thread was started.
  bool Join(uint32_t timeout_ms = kInfinite);
  bool IsRunning() const;
  // The entry's result once it has returned; kErrorStillActive (259) before.
  uint32_t ExitCode() const;
  // Priority of this thread (applied when it runs; remembered before).
  bool SetPriority(int priority);
  int GetPriority() const;

  // Shared between the owner and the running thread (defined in thread.cpp).
  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Priority of the calling thread.
bool SetCurrentThreadPriority(int priority);
int GetCurrentThreadPriority();

// Suspends the calling thread for ms milliseconds (0 yields).
void Sleep(uint32_t ms);

// Milliseconds since an arbitrary start, in 32 bits: wraps after 49.7 days.
// Compare tick counts only by unsigned difference (TicksSince).
uint32_t GetTickCount();
// now - since in unsigned 32-bit arithmetic, right across a wrap.
inline uint32_t TicksSince(uint32_t since, uint32_t now) { return now - since; }
// Test hook: from now on GetTickCount continues from value (lets tests run
// across the wrap without waiting 49 days). Any thread.
void SetTickCountForTesting(uint32_t value);

// The calling thread's system-wide id.
uint32_t GetCurrentThreadId();
uint32_t GetCurrentProcessId();

}  // namespace ov
