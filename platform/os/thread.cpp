#include "platform/os/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "platform/os/os_error.h"

namespace ov {

namespace {

int NiceOf(int priority) {
  static const int kNice[8] = {-10, -5, -2, 0, 2, 5, 10, 19};
  if (priority < 0) priority = 0;
  if (priority > 7) priority = 7;
  return kNice[priority];
}

thread_local int t_priority = kThreadPriorityNormal;

bool ApplyPriority(pid_t tid, int priority) {
  // Best effort: a raise without privileges fails and is ignored.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(priority));
  return true;
}

std::atomic<int64_t> g_tick_offset{0};

int64_t MonotonicMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

struct Thread::State {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool started = false;
  bool ended = false;
  uint32_t exit_code = kErrorStillActive;
  int priority = kThreadPriorityNormal;
  pid_t tid = 0;
  pthread_t handle{};
  bool joined = true;
  std::function<uint32_t()> entry;
};

Thread::Thread() : state_(std::make_shared<State>()) {}

Thread::~Thread() { Join(kInfinite); }

static void* ThreadMain(void* arg) {
  auto* holder = static_cast<std::shared_ptr<Thread::State>*>(arg);
  std::shared_ptr<Thread::State> state = *holder;
  delete holder;
  int priority;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->tid = static_cast<pid_t>(::syscall(SYS_gettid));
    priority = state->priority;
  }
  SetCurrentThreadPriority(priority);
  uint32_t code = state->entry ? state->entry() : 0;
  std::lock_guard<std::mutex> lock(state->mutex);
  state->exit_code = code;
  state->ended = true;
  state->entry = nullptr;
  state->ended_cv.notify_all();
  return nullptr;
}

bool Thread::Start(std::function<uint32_t()> entry, size_t stack_bytes) {
  if (!state_->joined) {
    if (IsRunning()) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
    Join(kInfinite);  // ended but not yet joined
  }
  int priority = state_->priority;
  state_ = std::make_shared<State>();
  state_->priority = priority;
  state_->entry = std::move(entry);
  pthread_attr_t attr;
  ::pthread_attr_init(&attr);
  if (stack_bytes) {
    // A reservation: never below what the C++ runtime and sanitizers need.
    size_t size = stack_bytes < (1u << 20) ? (1u << 20) : stack_bytes;
    ::pthread_attr_setstacksize(&attr, size);
  }
  auto* holder = new std::shared_ptr<State>(state_);
  int r = ::pthread_create(&state_->handle, &attr, ThreadMain, holder);
  ::pthread_attr_destroy(&attr);
  if (r != 0) {
    delete holder;
    state_->entry = nullptr;
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  state_->started = true;
  state_->joined = false;
  return true;
}

bool Thread::Join(uint32_t timeout_ms) {
  if (state_->joined) return true;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (timeout_ms == kInfinite) {
      state_->ended_cv.wait(lock, [&] { return state_->ended; });
    } else if (!state_->ended_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return state_->ended; })) {
      return false;
    }
  }
  ::pthread_join(state_->handle, nullptr);
  state_->joined = true;
  return true;
}

bool Thread::IsRunning() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->started && !state_->ended;
}

uint32_t Thread::ExitCode() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->ended ? state_->exit_code : kErrorStillActive;
}

bool Thread::SetPriority(int priority) {
  if (priority < 0 || priority > 7) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->priority = priority;
  if (state_->tid != 0 && !state_->ended) ApplyPriority(state_->tid, priority);
  return true;
}

int Thread::GetPriority() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->priority;
}

bool SetCurrentThreadPriority(int priority) {
  if (priority < 0 || priority > 7) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  t_priority = priority;
  return ApplyPriority(static_cast<pid_t>(::syscall(SYS_gettid)), priority);
}

int GetCurrentThreadPriority() { return t_priority; }

void Sleep(uint32_t ms) {
  if (ms == 0) {
    ::sched_yield();
    return;
  }
  struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint32_t GetTickCount() {
  return static_cast<uint32_t>(static_cast<uint64_t>(MonotonicMs() + g_tick_offset.load(std::memory_order_relaxed)));
}

void SetTickCountForTesting(uint32_t value) {
  g_tick_offset.store(static_cast<int64_t>(value) - MonotonicMs(), std::memory_order_relaxed);
}

uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }
uint32_t GetCurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace ov
