#include "platform/os/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/os/os_error.h"
#include "platform/os/shared_block.h"

namespace ov {

namespace {

// One WaitForAny call, registered with the unnamed events it waits on.
struct MultiWaiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

struct SharedEventPayload {
  uint32_t manual;
  uint32_t signalled;
};

struct SharedEventInit {
  bool manual;
  bool initially_set;
};

void InitSharedEvent(void* payload, void* arg) {
  auto* p = static_cast<SharedEventPayload*>(payload);
  auto* init = static_cast<SharedEventInit*>(arg);
  // Without values (never from Create) the event starts auto-reset and unset.
  p->manual = init ? init->manual : 0;
  p->signalled = init ? init->initially_set : 0;
}

std::chrono::steady_clock::time_point SteadyDeadline(uint32_t timeout_ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

struct Event::Impl {
  bool named = false;
  // Unnamed events.
  std::mutex mutex;
  std::condition_variable cv;
  bool manual = false;
  bool signalled = false;
  std::vector<MultiWaiter*> waiters;
  // Named events.
  SharedBlock block;

  SharedEventPayload* shared() const { return static_cast<SharedEventPayload*>(block.payload()); }

  // Takes the event when it is set (clearing an auto-reset one).
  bool TryTake() {
    if (named) {
      block.Lock();
      bool set = shared()->signalled != 0;
      if (set && !shared()->manual) shared()->signalled = 0;
      block.Unlock();
      return set;
    }
    std::lock_guard<std::mutex> lock(mutex);
    bool set = signalled;
    if (set && !manual) signalled = false;
    return set;
  }
};

Event::Event() = default;

Event::Event(bool manual_reset, bool initially_set) { Create(manual_reset, initially_set); }

Event::~Event() { Close(); }

Event::Event(Event&& other) noexcept = default;

Event& Event::operator=(Event&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

bool Event::Create(bool manual_reset, bool initially_set, const String& name) {
  Close();
  auto impl = std::make_unique<Impl>();
  if (name.IsEmpty()) {
    impl->manual = manual_reset;
    impl->signalled = initially_set;
    impl_ = std::move(impl);
    SetLastError(kErrorSuccess);
    return true;
  }
  impl->named = true;
  SharedEventInit init{manual_reset, initially_set};
  bool existed = false;
  if (!impl->block.Open(name, SharedBlock::Kind::kEvent, sizeof(SharedEventPayload), true, InitSharedEvent, &init,
                        &existed)) {
    return false;
  }
  impl_ = std::move(impl);
  SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
  return true;
}

bool Event::Open(const String& name) {
  Close();
  if (name.IsEmpty()) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  auto impl = std::make_unique<Impl>();
  impl->named = true;
  if (!impl->block.Open(name, SharedBlock::Kind::kEvent, sizeof(SharedEventPayload), false, InitSharedEvent, nullptr,
                        nullptr)) {
    return false;
  }
  impl_ = std::move(impl);
  SetLastError(kErrorSuccess);
  return true;
}

void Event::Close() { impl_.reset(); }

bool Event::Set() {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (impl_->named) {
    impl_->block.Lock();
    impl_->shared()->signalled = 1;
    impl_->block.Broadcast();
    impl_->block.Unlock();
    return true;
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = true;
  if (impl_->manual) impl_->cv.notify_all();
  else impl_->cv.notify_one();
  for (MultiWaiter* w : impl_->waiters) {
    std::lock_guard<std::mutex> wl(w->mutex);
    w->woken = true;
    w->cv.notify_one();
  }
  return true;
}

bool Event::Reset() {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (impl_->named) {
    impl_->block.Lock();
    impl_->shared()->signalled = 0;
    impl_->block.Unlock();
    return true;
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = false;
  return true;
}

uint32_t Event::Wait(uint32_t timeout_ms) {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  Impl& e = *impl_;
  if (e.named) {
    int64_t deadline = DeadlineAfter(timeout_ms);
    e.block.Lock();
    bool set = e.shared()->signalled != 0;
    while (!set && timeout_ms != 0) {
      bool in_time = e.block.WaitUntil(deadline);
      set = e.shared()->signalled != 0;
      if (!in_time) break;
    }
    if (set && !e.shared()->manual) e.shared()->signalled = 0;
    e.block.Unlock();
    return set ? kWaitObject0 : kWaitTimeout;
  }
  std::unique_lock<std::mutex> lock(e.mutex);
  auto ready = [&] { return e.signalled; };
  bool set;
  if (timeout_ms == kInfinite) {
    e.cv.wait(lock, ready);
    set = true;
  } else {
    set = e.cv.wait_until(lock, SteadyDeadline(timeout_ms), ready);
  }
  if (set && !e.manual) e.signalled = false;
  return set ? kWaitObject0 : kWaitTimeout;
}

uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeout_ms) {
  if (events.empty() || events.size() > kMaximumWaitObjects) {
    SetLastError(kErrorInvalidParameter);
    return kWaitFailed;
  }
  for (Event* e : events) {
    if (!e || !e->IsValid()) {
      SetLastError(kErrorInvalidParameter);
      return kWaitFailed;
    }
  }
  if (events.size() == 1) return events[0]->Wait(timeout_ms);

  MultiWaiter waiter;
  bool any_named = false;
  for (Event* e : events) {
    Event::Impl* impl = e->impl();
    if (impl->named) {
      any_named = true;
      continue;
    }
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->waiters.push_back(&waiter);
  }
  const bool infinite = timeout_ms == kInfinite;
  const auto deadline = SteadyDeadline(infinite ? 0 : timeout_ms);
  uint32_t result = kWaitTimeout;
  for (;;) {
    bool found = false;
    for (size_t i = 0; i < events.size() && !found; ++i) {
      if (events[i]->impl()->TryTake()) {
        result = kWaitObject0 + static_cast<uint32_t>(i);
        found = true;
      }
    }
    if (found) break;
    auto now = std::chrono::steady_clock::now();
    if (!infinite && now >= deadline) break;
    std::unique_lock<std::mutex> lock(waiter.mutex);
    if (!waiter.woken) {
      // Named events are set from other processes and cannot wake this
      // waiter: look at them again every 2 ms.
      auto until = infinite ? now + std::chrono::hours(24) : deadline;
      if (any_named) until = std::min(until, now + std::chrono::milliseconds(2));
      waiter.cv.wait_until(lock, until, [&] { return waiter.woken; });
    }
    waiter.woken = false;
  }
  for (Event* e : events) {
    Event::Impl* impl = e->impl();
    if (impl->named) continue;
    std::lock_guard<std::mutex> lock(impl->mutex);
    auto& list = impl->waiters;
    list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
  }
  return result;
}

uint32_t WaitForAny(std::initializer_list<Event*> events, uint32_t timeout_ms) {
  return WaitForAny(std::span<Event* const>(events.begin(), events.size()), timeout_ms);
}

}  // namespace ov
