#include "platform/os/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/event.h"
#include "platform/os/os_error.h"
#include "platform/os/thread.h"

extern char** environ;

namespace ov {

namespace {

struct Child {
  bool ended = false;
  uint32_t exit_code = kErrorStillActive;
  bool terminated = false;
  uint32_t terminate_code = 0;
};

std::mutex g_children_mutex;
std::map<uint32_t, Child>& Children() {
  static auto* children = new std::map<uint32_t, Child>();
  return *children;
}

// Reaps the child when it has ended (lock held). False for unknown ids.
bool Poll(uint32_t pid, Child** out) {
  auto it = Children().find(pid);
  if (it == Children().end()) return false;
  Child& c = it->second;
  if (!c.ended) {
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (r == static_cast<pid_t>(pid)) {
      c.ended = true;
      if (c.terminated) c.exit_code = c.terminate_code;
      else if (WIFEXITED(status)) c.exit_code = static_cast<uint32_t>(WEXITSTATUS(status));
      else if (WIFSIGNALED(status)) c.exit_code = 128u + static_cast<uint32_t>(WTERMSIG(status));
      else c.exit_code = 0;
    } else if (r < 0 && errno == ECHILD) {
      // Reaped elsewhere: it has ended, its code is unknown.
      c.ended = true;
      c.exit_code = c.terminated ? c.terminate_code : 0;
    }
  }
  *out = &c;
  return true;
}

// Children handed to the reaper (ids), and whether the reaper thread runs: it
// runs while any of them has not ended. Both under g_children_mutex. The
// thread is detached: nothing waits for it, and one still polling when the
// program exits ends with it.
struct ReleasedChild {
  uint32_t pid;
  std::function<void()> on_ended;
};
std::vector<ReleasedChild>& Released() {
  static auto* released = new std::vector<ReleasedChild>();
  return *released;
}
bool g_reaper_running = false;

void ReapReleased() {
  for (;;) {
    // The ended children's callbacks run outside the lock: they may start
    // or ask about processes themselves.
    std::vector<std::function<void()>> ended;
    bool done = false;
    {
      std::lock_guard<std::mutex> lock(g_children_mutex);
      std::vector<ReleasedChild>& released = Released();
      for (size_t i = 0; i < released.size();) {
        Child* c = nullptr;
        if (!Poll(released[i].pid, &c) || c->ended) {
          Children().erase(released[i].pid);  // nobody asks for its exit code
          if (released[i].on_ended) ended.push_back(std::move(released[i].on_ended));
          released.erase(released.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          ++i;
        }
      }
      if (released.empty()) {
        g_reaper_running = false;
        done = true;
      }
    }
    for (auto& f : ended) f();
    if (done) return;
    Sleep(20);
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const String& command_line) {
  std::vector<std::string> args;
  std::u16string_view s = command_line.View();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    if (i >= s.size()) break;
    std::u16string arg;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != u' ' && s[i] != u'\t'))) {
      if (s[i] == u'\\') {
        size_t n = 0;
        while (i < s.size() && s[i] == u'\\') {
          ++n;
          ++i;
        }
        if (i < s.size() && s[i] == u'"') {
          arg.append(n / 2, u'\\');
          if (n % 2) {
            arg.push_back(u'"');
            ++i;
          }
        } else {
          arg.append(n, u'\\');
        }
      } else if (s[i] == u'"') {
        // "" inside a quoted group is a literal quote.
        if (quoted && i + 1 < s.size() && s[i + 1] == u'"') {
          arg.push_back(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(s[i++]);
      }
    }
    args.push_back(String(std::u16string_view(arg)).ToUtf8Lossy());
  }
  return args;
}

String CommandLineFromArguments(int argc, const char* const* argv) {
  String line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    line += String::FromUtf8Lossy(argv[i] ? argv[i] : "");
  }
  return line;
}

bool Process::Create(const String& application, const String& command_line, ArgumentStyle style) {
  pid_ = 0;
  std::vector<std::string> args;
  if (style == ArgumentStyle::kSplit) {
    args = SplitCommandLine(command_line);
  } else if (!command_line.IsEmpty()) {
    args.push_back(command_line.ToUtf8Lossy());
  }
  std::string program;
  if (!application.IsEmpty()) {
    if (!application.ToUtf8(&program)) {
      SetLastError(kErrorInvalidName);
      return false;
    }
    args.insert(args.begin(), program);
  } else if (!args.empty() && style == ArgumentStyle::kSplit) {
    program = args[0];
  }
  if (program.empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::lock_guard<std::mutex> lock(g_children_mutex);
  pid_t pid = 0;
  int r = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (r != 0) {
    SetLastError(r == ENOENT ? kErrorFileNotFound : r == ENOEXEC ? kErrorBadExeFormat : ErrorFromErrno(r));
    return false;
  }
  pid_ = static_cast<uint32_t>(pid);
  Children()[pid_] = Child{};
  SetLastError(kErrorSuccess);
  return true;
}

size_t TrackedChildCount() {
  std::lock_guard<std::mutex> lock(g_children_mutex);
  return Children().size();
}

bool GetExitCodeOfProcess(uint32_t process_id, uint32_t* code) {
  std::lock_guard<std::mutex> lock(g_children_mutex);
  Child* c;
  if (!Poll(process_id, &c)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *code = c->ended ? c->exit_code : kErrorStillActive;
  return true;
}

bool Process::GetExitCode(uint32_t* code) const { return GetExitCodeOfProcess(pid_, code); }

bool Process::IsRunning() const {
  std::lock_guard<std::mutex> lock(g_children_mutex);
  Child* c;
  if (!Poll(pid_, &c)) return false;
  return !c->ended;
}

uint32_t Process::Wait(uint32_t timeout_ms) const {
  const uint32_t start = GetTickCount();
  uint32_t pause = 1;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(g_children_mutex);
      Child* c;
      if (!Poll(pid_, &c)) {
        SetLastError(kErrorInvalidHandle);
        return kWaitFailed;
      }
      if (c->ended) return kWaitObject0;
    }
    uint32_t elapsed = TicksSince(start, GetTickCount());
    if (timeout_ms != kInfinite && elapsed >= timeout_ms) return kWaitTimeout;
    uint32_t left = timeout_ms == kInfinite ? pause : timeout_ms - elapsed;
    Sleep(left < pause ? left : pause);
    if (pause < 10) ++pause;
  }
}

bool Process::Terminate(uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(g_children_mutex);
  Child* c;
  if (!Poll(pid_, &c)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (c->ended) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  c->terminated = true;
  c->terminate_code = exit_code;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  return true;
}

void Process::ReapInBackground(std::function<void()> on_ended) {
  if (pid_ == 0) return;
  std::lock_guard<std::mutex> lock(g_children_mutex);
  Released().push_back({pid_, std::move(on_ended)});
  pid_ = 0;
  if (g_reaper_running) return;
  g_reaper_running = true;
  std::thread(ReapReleased).detach();
}

void FailWritesPastFileSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

uint64_t FileSizeLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace ov
