// Named events, the named mutex, the message queue and processes, across two
// processes: the other one is os_test_helper.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/message_queue.h"
#include "platform/os/mutex.h"
#include "platform/os/os_error.h"
#include "platform/os/process.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

using namespace ov;

namespace {

const String kHelper = String::FromUtf8Lossy(OV_OS_TEST_HELPER);

// A name of this test run, so that parallel runs never meet.
String UniqueName(const char16_t* base) { return String::Format(u"%s %u", base, GetCurrentProcessId()); }

// Runs the helper with arguments and waits for its exit code.
uint32_t RunHelper(const String& arguments, uint32_t timeout_ms = 10000) {
  Process p;
  if (!p.Create(kHelper, arguments)) return 0xDEAD;
  if (p.Wait(timeout_ms) != kWaitObject0) {
    p.Terminate(0xDEAD);
    return 0xDEAD;
  }
  uint32_t code = 0;
  p.GetExitCode(&code);
  return code;
}

String Quoted(const String& s) { return u"\"" + s + u"\""; }

// Whether the task whose /proc "syscall" file is `path` sleeps in a futex
// wait (where a blocked queue read or event wait sleeps).
bool AsleepInFutex(const std::string& path) {
  const std::string futex = std::to_string(SYS_futex) + " ";
  std::ifstream in(path);
  std::string line;
  return in && std::getline(in, line) && line.rfind(futex, 0) == 0;
}

// Waits until process pid sleeps in a futex wait, as /proc tells; false when
// it ended first.
bool WaitUntilAsleepInFutex(const Process& p) {
  const std::string path = "/proc/" + std::to_string(p.Id()) + "/syscall";
  while (p.IsRunning()) {
    if (AsleepInFutex(path)) return true;
    Sleep(1);
  }
  return false;
}

}  // namespace

TEST(NamedEvent, SetInOneProcessIsSeenInAnother) {
  const String name = UniqueName(u"Cancel Encoding");
  Event cancel;
  ASSERT_TRUE(cancel.Create(true, false, name));
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_EQ(cancel.Wait(0), kWaitTimeout);
  EXPECT_EQ(RunHelper(u"set-event " + Quoted(name)), 0u);
  EXPECT_EQ(cancel.Wait(0), kWaitObject0);  // manual reset: stays set
  EXPECT_EQ(cancel.Wait(0), kWaitObject0);

  // The other direction, while the other process waits.
  const String pause_name = UniqueName(u"Pause Encoding");
  Event pause;
  ASSERT_TRUE(pause.Create(true, false, pause_name));
  Process waiter;
  ASSERT_TRUE(waiter.Create(kHelper, u"wait-event " + Quoted(pause_name) + u" 5000"));
  Sleep(50);
  pause.Set();
  ASSERT_EQ(waiter.Wait(10000), kWaitObject0);
  uint32_t code = 99;
  EXPECT_TRUE(waiter.GetExitCode(&code));
  EXPECT_EQ(code, 0u);
}

TEST(NamedEvent, SharedWithinTheProcessAndGoneWhenClosed) {
  const String name = UniqueName(u"Frame Filter Encoding Done");
  {
    Event a, b;
    ASSERT_TRUE(a.Create(false, false, name));
    ASSERT_TRUE(b.Create(true, true, name));  // exists: keeps auto reset, unset
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(b.Wait(0), kWaitTimeout);
    a.Set();
    EXPECT_EQ(b.Wait(0), kWaitObject0);
    EXPECT_EQ(a.Wait(0), kWaitTimeout);  // taken through b
    Event c;
    EXPECT_TRUE(c.Open(name));
    Mutex clash;
    EXPECT_FALSE(clash.Create(false, name));  // the name belongs to an event
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  }
  Event gone;
  EXPECT_FALSE(gone.Open(name));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(RunHelper(u"set-event " + Quoted(name)) == 0u);  // nothing to open there either
}

TEST(NamedEvent, LeftByAnEndedProcessStartsAfresh) {
  // A render process that ends without closing "Cancel Encoding" must not
  // leave it set for the next one.
  const String name = UniqueName(u"Cancel Encoding left");
  EXPECT_EQ(RunHelper(u"leave-event " + Quoted(name)), 0u);
  Event e;
  EXPECT_FALSE(e.Open(name));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  ASSERT_TRUE(e.Create(true, false, name));
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
}

// A Set of a manual-reset event wakes every waiter, not only one: two
// threads asleep in their waits on the name (each through its own handle)
// both return. A waiter left asleep is reported, then woken by a second Set
// so that the test ends instead of hanging.
TEST(NamedEvent, SetWakesEveryWaiter) {
  const String name = UniqueName(u"Frame Filter Encoding Failed");
  Event set;
  ASSERT_TRUE(set.Create(true, false, name));
  Event handles[2];
  ASSERT_TRUE(handles[0].Open(name));
  ASSERT_TRUE(handles[1].Open(name));
  std::atomic<long> tids[2] = {0, 0};
  std::atomic<uint32_t> results[2] = {0xDEAD, 0xDEAD};
  std::atomic<int> returned{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&, i] {
      tids[i] = ::syscall(SYS_gettid);
      // No time-out: a waiter that returned at its time-out would still find
      // the event set.
      results[i] = handles[i].Wait(kInfinite);
      returned.fetch_add(1);
    });
  }
  for (int i = 0; i < 2; ++i) {
    while (tids[i] == 0 || !AsleepInFutex("/proc/self/task/" + std::to_string(tids[i]) + "/syscall")) Sleep(1);
  }
  set.Set();
  // Both wake at once; the bound only guards a waiter that never wakes.
  for (int spins = 0; spins < 3000 && returned.load() < 2; ++spins) Sleep(10);
  EXPECT_EQ(returned.load(), 2) << "one Set left a waiter asleep";
  while (returned.load() < 2) {
    set.Set();
    Sleep(10);
  }
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(results[0], kWaitObject0);
  EXPECT_EQ(results[1], kWaitObject0);
}

TEST(NamedEvent, WaitForAnyMixesNamedAndUnnamed) {
  Event done, failed, local(false, false);
  ASSERT_TRUE(done.Create(false, false, UniqueName(u"Done")));
  ASSERT_TRUE(failed.Create(false, false, UniqueName(u"Failed")));
  EXPECT_EQ(WaitForAny({&done, &failed, &local}, 30), kWaitTimeout);
  EXPECT_EQ(RunHelper(u"set-event " + Quoted(UniqueName(u"Failed"))), 0u);
  EXPECT_EQ(WaitForAny({&done, &failed, &local}, 1000), kWaitObject0 + 1);
  EXPECT_EQ(failed.Wait(0), kWaitTimeout);  // auto reset
  const String named_wait = UniqueName(u"Slow");
  Event slow;
  ASSERT_TRUE(slow.Create(false, false, named_wait));
  Thread setter;
  setter.Start([&] {
    Sleep(20);
    local.Set();
    return 0u;
  });
  EXPECT_EQ(WaitForAny({&slow, &local}, 5000), kWaitObject0 + 1);
  setter.Join();
  EXPECT_EQ(slow.Wait(25), kWaitTimeout);
}

TEST(NamedMutex, SharedAndAbandoned) {
  const String name = UniqueName(u"GetFrame mutex");
  Mutex m;
  ASSERT_TRUE(m.Create(false, name));
  EXPECT_EQ(m.Wait(0), kWaitObject0);
  EXPECT_EQ(m.Wait(0), kWaitObject0);  // recursive
  uint32_t other = 0;
  Thread t;
  t.Start([&] {
    other = m.Wait(30);
    return 0u;
  });
  t.Join();
  EXPECT_EQ(other, kWaitTimeout);
  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(GetLastError(), kErrorNotOwner);

  // Another process takes it and ends holding it: the next wait gets it as abandoned.
  EXPECT_EQ(RunHelper(u"hold-mutex " + Quoted(name)), 0u);
  EXPECT_EQ(m.Wait(1000), kWaitAbandoned0);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(m.Wait(0), kWaitObject0);
  EXPECT_TRUE(m.Release());
}

TEST(MessageQueue, MessageCrossesProcessesWithinItsTimeOut) {
  const String name = UniqueName(u"VEX_MESSAGE_QUEUE");
  MessageQueueOptions options;
  options.read_access = true;
  MessageQueue reader;
  ASSERT_TRUE(reader.Create(name, options));
  EXPECT_EQ(RunHelper(u"send " + Quoted(name) + u" 1 57"), 0u);
  EXPECT_EQ(RunHelper(u"send " + Quoted(name) + u" 2 1"), 0u);
  uint8_t record[4] = {};
  uint32_t got = 0;
  ASSERT_TRUE(reader.Read(record, 4, &got, 250));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[1], 57);
  ASSERT_TRUE(reader.Read(record, 4, &got, 250));
  EXPECT_EQ(record[0], 2);
  EXPECT_EQ(record[1], 1);

  // The other way: this process writes, the other reads.
  MessageQueueOptions writer_options;
  MessageQueue writer;
  ASSERT_TRUE(writer.Create(name, writer_options));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  Process receiver;
  ASSERT_TRUE(receiver.Create(kHelper, u"receive " + Quoted(name) + u" 5000"));
  Sleep(30);
  const uint8_t progress[4] = {1, 88, 0, 0};
  ASSERT_TRUE(writer.Write(progress, 4, 5000));
  ASSERT_EQ(receiver.Wait(10000), kWaitObject0);
  uint32_t code = 0;
  receiver.GetExitCode(&code);
  // Both readers may take it; when this one did, the helper timed out.
  if (code == 200) {
    ASSERT_TRUE(reader.Read(record, 4, &got, 0));
    EXPECT_EQ(record[1], 88);
  } else {
    EXPECT_EQ(code, 88u);
  }
}

TEST(MessageQueue, ReceiveWithNothingQueuedReturnsAfterItsTimeOut) {
  MessageQueueOptions options;
  options.read_access = true;
  MessageQueue reader;
  ASSERT_TRUE(reader.Create(UniqueName(u"VEX_MESSAGE_QUEUE empty"), options));
  uint8_t record[4] = {9, 9, 9, 9};
  uint32_t got = 7;
  const uint32_t start = GetTickCount();
  EXPECT_FALSE(reader.Read(record, 4, &got, 50));
  const uint32_t waited = TicksSince(start, GetTickCount());
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(waited, 50u);
  EXPECT_LT(waited, 20000u);  // kept, however slow the machine is to wake the reader
  EXPECT_FALSE(reader.Read(record, 4, &got, 0));
  EXPECT_EQ(RunHelper(u"receive " + Quoted(UniqueName(u"VEX_MESSAGE_QUEUE empty")) + u" 40"), 200u);
}

// A reader killed while it waits in Read, twice in a row, must not wedge the
// queue: after each kill a writer's Write (5000 ms time-out) and a new
// reader's Read (250 ms) return within their time-outs, in other processes,
// and a Read with nothing queued returns at its time-out.
TEST(MessageQueue, ReadersKilledInsideTheirWaitLeaveTheQueueWorking) {
  const String name = UniqueName(u"VEX_MESSAGE_QUEUE killed");
  MessageQueue writer;  // keeps the queue alive between the readers
  ASSERT_TRUE(writer.Create(name, MessageQueueOptions{}));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Process reader;
    ASSERT_TRUE(reader.Create(kHelper, u"receive " + Quoted(name) + u" 4294967295"));
    ASSERT_TRUE(WaitUntilAsleepInFutex(reader));
    ASSERT_EQ(::kill(static_cast<pid_t>(reader.Id()), SIGKILL), 0);
    ASSERT_EQ(reader.Wait(kInfinite), kWaitObject0);
    // The helpers' own time-outs bound each call; the generous wait here
    // only keeps a wedged helper from hanging the test.
    const String value = String::Format(u"%d", 50 + round);
    EXPECT_EQ(RunHelper(u"send " + Quoted(name) + u" 1 " + value, 60000), 0u);
    EXPECT_EQ(RunHelper(u"receive " + Quoted(name) + u" 250", 60000), 50u + round);
  }
  EXPECT_EQ(RunHelper(u"receive " + Quoted(name) + u" 250", 60000), 200u);
}

TEST(MessageQueue, BoundsAndRoles) {
  const String name = UniqueName(u"bounded queue");
  MessageQueueOptions write_options;
  write_options.max_messages = 2;
  write_options.allow_broken = false;
  MessageQueue writer;
  ASSERT_TRUE(writer.Create(name, write_options));
  const uint8_t m[4] = {1, 2, 3, 4};
  EXPECT_FALSE(writer.Write(m, 4, 0));
  EXPECT_EQ(GetLastError(), kErrorPipeNotConnected);  // no reader, not allowed broken

  MessageQueueOptions read_options = write_options;
  read_options.read_access = true;
  MessageQueue reader;
  ASSERT_TRUE(reader.Create(name, read_options));
  EXPECT_TRUE(writer.Write(m, 4, 0));
  EXPECT_TRUE(writer.Write(m, 3, 0));
  const uint32_t start = GetTickCount();
  EXPECT_FALSE(writer.Write(m, 4, 30));  // full
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  EXPECT_GE(TicksSince(start, GetTickCount()), 30u);
  EXPECT_FALSE(writer.Write(m, 5, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(reader.Write(m, 4, 0));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  uint8_t small[2];
  uint32_t got = 0;
  EXPECT_FALSE(reader.Read(small, 2, &got, 0));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  uint8_t buffer[4];
  EXPECT_TRUE(reader.Read(buffer, 4, &got, 0));  // still queued after the refusal
  EXPECT_EQ(got, 4u);
  EXPECT_TRUE(reader.Read(buffer, 4, &got, 0));
  EXPECT_EQ(got, 3u);

  MessageQueueOptions other_shape = write_options;
  other_shape.max_message_bytes = 8;
  MessageQueue mismatched;
  EXPECT_FALSE(mismatched.Create(name, other_shape));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST(Process, ExitCodeStillRunningAndTerminate) {
  Process p;
  ASSERT_TRUE(p.Create(kHelper, u"sleep 5000"));
  EXPECT_NE(p.Id(), 0u);
  uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeOfProcess(p.Id(), &code));
  EXPECT_EQ(code, kErrorStillActive);
  EXPECT_TRUE(p.IsRunning());
  EXPECT_EQ(p.Wait(20), kWaitTimeout);
  EXPECT_TRUE(p.Terminate(7));
  EXPECT_EQ(p.Wait(60000), kWaitObject0);  // ends at once; the bound only guards a hang
  EXPECT_FALSE(p.IsRunning());
  ASSERT_TRUE(p.GetExitCode(&code));
  EXPECT_EQ(code, 7u);

  EXPECT_EQ(RunHelper(u"exit 3"), 3u);
  EXPECT_FALSE(GetExitCodeOfProcess(1, &code));  // not a child
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);

  Process missing;
  EXPECT_FALSE(missing.Create(u"/nonexistent/ovmix-render", u""));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(missing.Create(u"", u""));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

// A child handed to the background reaper is reaped: its process entry goes
// (kill(pid, 0) succeeds on a zombie), and so does this process's record of
// it. So is a second one handed over after the first has gone, which
// normally finds the reaper ended and starts another; nothing waits for a
// reaper at exit.
TEST(Process, ReleasedChildrenAreReaped) {
  for (int round = 0; round < 2; ++round) {
    const size_t tracked = TrackedChildCount();
    Process p;
    ASSERT_TRUE(p.Create(kHelper, u"exit 0"));
    EXPECT_EQ(TrackedChildCount(), tracked + 1);
    const pid_t pid = static_cast<pid_t>(p.Id());
    p.ReapInBackground();
    EXPECT_EQ(p.Id(), 0u);
    bool gone = false;
    for (int spins = 0; spins < 6000 && !gone; ++spins) {  // the bound only guards a hang
      gone = ::kill(pid, 0) != 0 && errno == ESRCH;
      if (!gone) Sleep(10);
    }
    EXPECT_TRUE(gone) << "round " << round;
    // The reaper drops the record under the lock it collects the child in.
    EXPECT_EQ(TrackedChildCount(), tracked) << "round " << round;
  }
}

TEST(Process, CommandLineArguments) {
  const String dir = String::FromUtf8Lossy(ovtest::ScratchDir());
  const String out = JoinPath(dir, u"args.txt");
  // The render command line of the mixer, split: each -x"..." stays one argument.
  const String line = u"args " + out + u" -p\"/tmp/Quelvarin/temp.mix\" -o\"/home/u/My Movie.3gp\" -e\"1,2,3\" \"a \\\"q\\\"\" x\\\\y";
  ASSERT_EQ(RunHelper(line), 0u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(out, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "-p/tmp/Quelvarin/temp.mix\n-o/home/u/My Movie.3gp\n-e1,2,3\na \"q\"\nx\\\\y\n");

  const std::vector<std::string> split = SplitCommandLine(u"  one \"two three\" fo\"u\"r \"\" ");
  EXPECT_EQ(split, (std::vector<std::string>{"one", "two three", "four", ""}));

  // The whole line reaches the program with its quotes.
  const String whole_out = JoinPath(dir, u"whole.txt");
  const String whole = u"whole " + whole_out + u" -p\"/x y/temp.mix\" -o\"out.3gp\"";
  Process p;
  ASSERT_TRUE(p.Create(kHelper, whole, ArgumentStyle::kWhole));
  ASSERT_EQ(p.Wait(10000), kWaitObject0);
  uint32_t code = 1;
  p.GetExitCode(&code);
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(ReadWholeFile(whole_out, &bytes));
  EXPECT_EQ(String::FromUtf8Lossy(std::string(bytes.begin(), bytes.end())), whole);
}
