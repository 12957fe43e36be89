#pragma once
// EngineTiming: how the engine's threads read the tick count and wait. The
// system timing uses the tick count and timed event waits; tests give a
// virtual timing that advances only when told to, so timed behaviour is
// tested without sleeping.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/os/event.h"

namespace engine {

class EngineTiming {
 public:
  virtual ~EngineTiming() = default;
  virtual uint32_t Ticks() = 0;
  // Waits until `event` is set or `ms` pass; true when the event was taken.
  virtual bool WaitEvent(ov::Event& event, uint32_t ms) = 0;
  virtual void Sleep(uint32_t ms) = 0;
  // Called after the engine sets an event a waiter may be waiting for, and
  // on stop: a virtual timing wakes its sleepers to look again.
  virtual void Interrupt() {}
};

class SystemTiming final : public EngineTiming {
 public:
  uint32_t Ticks() override;
  bool WaitEvent(ov::Event& event, uint32_t ms) override;
  void Sleep(uint32_t ms) override;
};

// Time moves only when the test says so: either Set, or a clock the test
// drives (SetClock, e.g. the virtual wave-out device's position) followed by
// Poke. Sleep and WaitEvent wait on a condition variable (no polling) until
// enough virtual time has passed, the event is set or Interrupt is called.
class VirtualTiming final : public EngineTiming {
 public:
  uint32_t Ticks() override;
  bool WaitEvent(ov::Event& event, uint32_t ms) override;
  void Sleep(uint32_t ms) override;
  void Interrupt() override;
  void Set(uint32_t nowMs);
  // Reads the time from `clock` from now on (called under the timing's lock).
  void SetClock(std::function<uint32_t()> clock);
  // The clock has moved: waiters look again.
  void Poke();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t Now() const { return clock_ ? clock_() : now_; }

  std::function<uint32_t()> clock_;
  uint32_t now_ = 0;
  uint64_t interrupts_ = 0;
  uint64_t pokes_ = 0;
};

}  // namespace engine
