#include "platform/os/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os/event.h"
#include "platform/os/mutex.h"
#include "platform/os/os_error.h"

using namespace ov;

namespace {

// Milliseconds a call takes.
template <typename F>
int64_t TimeMs(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(Thread, RunsJoinsAndReportsExitCode) {
  Event go(true, false);
  Thread t;
  EXPECT_EQ(t.ExitCode(), kErrorStillActive);
  ASSERT_TRUE(t.SetPriority(kThreadPriorityLowest));
  std::atomic<int> seen_priority{-1};
  ASSERT_TRUE(t.Start(
      [&] {
        seen_priority = GetCurrentThreadPriority();
        go.Wait(kInfinite);
        return 42u;
      },
      65536));
  EXPECT_TRUE(t.IsRunning());
  EXPECT_FALSE(t.Join(20));  // still waiting for the event
  EXPECT_EQ(t.ExitCode(), kErrorStillActive);
  go.Set();
  EXPECT_TRUE(t.Join());
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(t.ExitCode(), 42u);
  EXPECT_EQ(seen_priority, kThreadPriorityLowest);
  EXPECT_EQ(t.GetPriority(), kThreadPriorityLowest);
  EXPECT_FALSE(t.SetPriority(8));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  // A Thread whose entry has ended can run again; a running one refuses.
  std::atomic<bool> ran{false};
  Event hold(true, false);
  ASSERT_TRUE(t.Start([&] {
    hold.Wait(kInfinite);
    ran = true;
    return 0u;
  }));
  EXPECT_FALSE(t.Start([] { return 1u; }));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  hold.Set();
  while (t.IsRunning()) Sleep(1);
  ASSERT_TRUE(t.Start([] { return 5u; }));  // joins the ended one first
  t.Join();
  EXPECT_TRUE(ran);
  EXPECT_EQ(t.ExitCode(), 5u);
  EXPECT_TRUE(SetCurrentThreadPriority(kThreadPriorityNormal));
  EXPECT_EQ(GetCurrentThreadPriority(), kThreadPriorityNormal);
}

TEST(Thread, TickCountWrapsAndDifferencesSurvive) {
  SetTickCountForTesting(0xFFFFFFF0u);
  const uint32_t before = GetTickCount();
  Sleep(30);
  const uint32_t after = GetTickCount();
  EXPECT_LT(after, before);  // wrapped
  EXPECT_GE(TicksSince(before, after), 30u);
  EXPECT_LT(TicksSince(before, after), 20000u);  // small across the wrap, however slow the machine
  EXPECT_EQ(TicksSince(0xFFFFFFFFu, 4u), 5u);
}

TEST(Event, AutoResetReleasesOneWaiterAndClears) {
  Event e(false, true);
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);  // cleared by the wait that took it
  e.Set();
  e.Set();
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);  // two Sets without a waiter release one

  std::atomic<int> released{0};
  Thread a, b;
  auto waiter = [&] {
    if (e.Wait(2000) == kWaitObject0) ++released;
    return 0u;
  };
  a.Start(waiter);
  b.Start(waiter);
  Sleep(20);
  e.Set();
  for (int i = 0; i < 12000 && released == 0; ++i) Sleep(5);
  Sleep(30);  // time for a wrong second release to show
  EXPECT_EQ(released, 1);
  e.Set();
  a.Join();
  b.Join();
  EXPECT_EQ(released, 2);
}

TEST(Event, ManualResetStaysSetUntilReset) {
  Event e(true, false);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
  e.Set();
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(10), kWaitObject0);
  e.Reset();
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
  Event invalid;
  EXPECT_EQ(invalid.Wait(0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  EXPECT_FALSE(invalid.Set());
}

TEST(Event, TimedWaitsHonourTheirTimeOuts) {
  Event e(false, false);
  // Never shorter than asked; the upper bound (far above, as a loaded
  // machine may be slow to wake a thread) only tells a time-out that is not
  // kept or is read in the wrong unit.
  const int64_t waited = TimeMs([&] { EXPECT_EQ(e.Wait(40), kWaitTimeout); });
  EXPECT_GE(waited, 40);
  EXPECT_LT(waited, 20000);

  Event other(true, false);
  const int64_t any_waited = TimeMs([&] { EXPECT_EQ(WaitForAny({&e, &other}, 30), kWaitTimeout); });
  EXPECT_GE(any_waited, 30);
  EXPECT_LT(any_waited, 20000);

  // A Set from another thread ends a wait without a time-out: only the Set
  // can end it.
  Thread setter;
  setter.Start([&] {
    Sleep(20);
    other.Set();
    return 0u;
  });
  EXPECT_EQ(WaitForAny({&e, &other}, kInfinite), kWaitObject0 + 1);
  setter.Join();
}

TEST(Event, WaitForAnyTakesTheFirstSetInOrder) {
  Event a(false, false), b(false, true), c(true, true);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitObject0 + 1);
  EXPECT_EQ(b.Wait(0), kWaitTimeout);  // the auto-reset event taken was cleared
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitObject0 + 2);
  EXPECT_EQ(c.Wait(0), kWaitObject0);  // manual reset stays set
  a.Set();
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitObject0);
  EXPECT_EQ(WaitForAny({&a, nullptr}, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(WaitForAny(std::span<Event* const>(), 0), kWaitFailed);
}

TEST(Mutex, RecursiveOwnershipAndTimedWait) {
  Mutex m;
  ASSERT_TRUE(m.Create(false));
  EXPECT_EQ(m.Wait(0), kWaitObject0);
  EXPECT_EQ(m.Wait(0), kWaitObject0);  // recursive

  std::atomic<uint32_t> other_result{0};
  std::atomic<bool> other_release{true};
  Thread t;
  t.Start([&] {
    other_release = m.Release();  // not the owner
    other_result = m.Wait(30);
    return 0u;
  });
  t.Join();
  EXPECT_FALSE(other_release);
  EXPECT_EQ(other_result, kWaitTimeout);

  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(GetLastError(), kErrorNotOwner);

  // Released, it goes to a waiter.
  t.Start([&] {
    other_result = m.Wait(2000);
    m.Release();
    return 0u;
  });
  t.Join();
  EXPECT_EQ(other_result, kWaitObject0);

  Mutex owned;
  ASSERT_TRUE(owned.Create(true));
  t.Start([&] {
    other_result = owned.Wait(0);
    return 0u;
  });
  t.Join();
  EXPECT_EQ(other_result, kWaitTimeout);
  EXPECT_TRUE(owned.Release());
}

TEST(Mutex, CriticalSectionGuardsACounter) {
  CriticalSection section;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      CriticalSectionLock lock(section);
      CriticalSectionLock again(section);  // recursive
      ++counter;
    }
    return 0u;
  };
  Thread a, b;
  a.Start(work);
  b.Start(work);
  a.Join();
  b.Join();
  EXPECT_EQ(counter, 20000);
  EXPECT_TRUE(section.TryEnter());
  section.Leave();
}
