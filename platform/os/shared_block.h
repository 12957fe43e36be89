#pragma once
// SharedBlock: a named block of shared memory that several processes open,
// guarded by a process-shared robust mutex, with a futex word to wait on
// (which a process killed while waiting cannot wedge). The building block of
// named events, the named mutex and the message queue.
//
// Lifetime follows the platform's named objects: the block lives while some
// living process has it open. Each opener is recorded by process id; an
// opener that finds no living process recorded (all closed, or crashed)
// starts the payload afresh, and the last one to close removes the name.
// Names are per user; the environment variable OVMIX_IPC_SCOPE, when set,
// narrows them to the processes that share its value (tests running side by
// side).
//
// Thread: Lock/Unlock/Wait/Broadcast from any thread; Open and Close by the
// owning object only.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os/ov_string.h"

namespace ov {

class SharedBlock {
 public:
  // What a block holds; opening a name with another kind fails with 6.
  enum class Kind : uint32_t { kEvent = 1, kMutex = 2, kQueue = 3 };
  // Fills a fresh payload (zeroed memory of payload_size bytes); runs under
  // the block's lock. arg is the caller's.
  using InitFn = void (*)(void* payload, void* arg);

  SharedBlock() = default;
  ~SharedBlock();
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Opens the block of this name, creating it when create is set. *existed
  // tells whether a living process had it open. Errors: name invalid 123,
  // missing (create unset) 2, another kind or size 6, system failure mapped
  // from errno. Sets the last error on failure.
  bool Open(const String& name, Kind kind, size_t payload_size, bool create, InitFn init, void* arg, bool* existed);
  void Close();
  bool IsOpen() const { return base_ != nullptr; }
  // The system name of the open block (empty when closed).
  const std::string& system_name() const { return system_name_; }

  void* payload() const;
  // The block's lock (robust: a lock left by a dead process is taken over).
  void Lock();
  void Unlock();
  // Waits on the block's condition (lock held) until woken or deadline_ns
  // (CLOCK_MONOTONIC nanoseconds, or -1 for none); false on time-out.
  bool WaitUntil(int64_t deadline_ns);
  void Broadcast();
  // Extra per-process word kept beside the opener record (message-queue
  // readers); adjusted under the lock.
  void AddToOpenerWord(int32_t delta);
  // Sum of the opener words of living processes (lock held).
  int32_t SumOfOpenerWords();

  // The system name used for an object name ("/ovmix-<uid>-<kind>-<hex>").
  static std::string SystemName(const String& name, Kind kind);

 private:
  void* base_ = nullptr;
  size_t size_ = 0;
  std::string system_name_;
};

// CLOCK_MONOTONIC now, in nanoseconds; and the deadline timeout_ms from now
// (-1 for the infinite time-out 0xFFFFFFFF).
int64_t MonotonicNanoseconds();
int64_t DeadlineAfter(uint32_t timeout_ms);

}  // namespace ov
