#include "engine/engine_timing.h"

#include "platform/os/thread.h"

namespace engine {

uint32_t SystemTiming::Ticks() { return ov::GetTickCount(); }

bool SystemTiming::WaitEvent(ov::Event& event, uint32_t ms) { return event.Wait(ms) == ov::kWaitObject0; }

void SystemTiming::Sleep(uint32_t ms) { ov::Sleep(ms); }

uint32_t VirtualTiming::Ticks() {
  std::lock_guard<std::mutex> lock(mutex_);
  return Now();
}

void VirtualTiming::SetClock(std::function<uint32_t()> clock) {
  std::lock_guard<std::mutex> lock(mutex_);
  clock_ = std::move(clock);
}

void VirtualTiming::Poke() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pokes_;
  }
  changed_.notify_all();
}

void VirtualTiming::Set(uint32_t nowMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = nowMs;
  }
  changed_.notify_all();
}

void VirtualTiming::Interrupt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++interrupts_;
  }
  changed_.notify_all();
}

bool VirtualTiming::WaitEvent(ov::Event& event, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = uint64_t(Now()) + ms;
  for (;;) {
    if (event.Wait(0) == ov::kWaitObject0) return true;
    if (Now() >= target) return false;
    const uint64_t seen = interrupts_, poked = pokes_;
    const uint32_t at = now_;
    changed_.wait(lock, [&] { return interrupts_ != seen || pokes_ != poked || now_ != at; });
  }
}

void VirtualTiming::Sleep(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = uint64_t(Now()) + ms;
  const uint64_t seen = interrupts_;
  changed_.wait(lock, [&] { return Now() >= target || interrupts_ != seen; });
}

}  // namespace engine
