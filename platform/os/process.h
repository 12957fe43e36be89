#pragma once
// Processes: start a program from a command-line string, ask whether it still
// runs and for its exit code, wait for it, end it.
//
// Only children of this process can be asked about (the system reaps them
// here). A child that ended by a signal reports 128 + the signal number, or
// the code given to Terminate.
//
// Thread: any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/os/event.h"
#include "platform/os/ov_string.h"

namespace ov {

// How a command line reaches the new program.
enum class ArgumentStyle {
  // Split into arguments at white space outside double quotes; a quote pair
  // groups and is removed, backslashes before a quote follow the platform's
  // rules (2n backslashes + quote: n and a group edge; 2n+1: n and a quote).
  kSplit,
  // The whole command line as one argument, verbatim (quotes kept): the
  // program's own render mode reads its options with the quotes in place.
  kWhole,
};

class Process {
 public:
  Process() = default;

  // Starts application (searched in PATH when it holds no '/'; empty: the
  // first argument of the command line) with the arguments of command_line.
  // Errors: program missing 2, not executable 5, bad format 193, an empty
  // program 87.
  bool Create(const String& application, const String& command_line, ArgumentStyle style = ArgumentStyle::kSplit);

  uint32_t Id() const { return pid_; }
  // The exit code, or kErrorStillActive (259) while it runs. False with last
  // error 6 when this object holds no child.
  bool GetExitCode(uint32_t* code) const;
  bool IsRunning() const;
  // Waits up to timeout_ms for the end: kWaitObject0 or kWaitTimeout.
  uint32_t Wait(uint32_t timeout_ms) const;
  // Ends the process at once; its exit code becomes exit_code.
  bool Terminate(uint32_t exit_code);
  // For a child nobody waits for: a background thread collects it when it
  // ends, so that it never stays behind as a zombie. This object then holds
  // no child. on_ended, when given, runs on that thread once the child has
  // ended (not at all when this process ends first).
  void ReapInBackground(std::function<void()> on_ended = nullptr);

 private:
  uint32_t pid_ = 0;
};

// The exit code of a child of this process by its id (259 while it runs);
// false with last error 6 for an id that is not such a child.
bool GetExitCodeOfProcess(uint32_t process_id, uint32_t* code);

// How many children this process keeps a record of: those it started and
// has not handed to the reaper, and those the reaper has not yet collected.
size_t TrackedChildCount();

// The arguments of a command line by the kSplit rules, as UTF-8.
std::vector<std::string> SplitCommandLine(const String& command_line);

// The command line a program was started with: its arguments after the
// program name joined by single spaces (for kWhole, the line itself).
String CommandLineFromArguments(int argc, const char* const* argv);

// A write past the process's file-size limit then fails (kErrorFileTooLarge,
// "the file-size limit is reached") instead of ending the process without a
// word.
void FailWritesPastFileSizeLimit();
// The process's file-size limit in bytes; UINT64_MAX when there is none.
uint64_t FileSizeLimit();

}  // namespace ov
