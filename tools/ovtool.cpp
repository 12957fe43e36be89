// ovtool: decode streams to YUV/WAV, encode YUV, convert pictures, dump a file's
// structure, pack and list .pak files. A test instrument, not a user feature.
//
//   ovtool [--cpumask MASK] COMMAND ARGS...
//   ovtool [COMMAND ...] --help (or -h): the usage, on standard output; runs
//   nothing.
//
// --cpumask 0 forces the reference kernels (see platform/cpu/cpu.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cpu/cpu.h"
#include "tools/tool_command.h"

namespace ovtool {
namespace {

Command*& CommandList() {
  static Command* head = nullptr;
  return head;
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: ovtool [--cpumask MASK] COMMAND ARGS...\ncommands:\n");
  for (Command* c = CommandList(); c; c = c->next) std::fprintf(to, "  %s\n", c->usage);
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

bool AsksForHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

}  // namespace

void RegisterCommand(Command* command) {
  command->next = CommandList();
  CommandList() = command;
}

}  // namespace ovtool

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--cpumask") == 0) {
    ov::SetCpuFlagsMask(static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 0)));
    i += 2;
  }
  if (i >= argc) return ovtool::Usage();
  if (ovtool::AsksForHelp(argv[i])) {
    ovtool::PrintUsage(stdout);
    return 0;
  }
  for (ovtool::Command* c = ovtool::CommandList(); c; c = c->next) {
    if (std::strcmp(c->name, argv[i]) != 0) continue;
    // "--help" or "-h" anywhere after the command prints its usage and runs
    // nothing: taken as a file name it would be written to.
    for (int a = i + 1; a < argc; ++a) {
      if (!ovtool::AsksForHelp(argv[a])) continue;
      std::printf("usage: ovtool %s\n", c->usage);
      return 0;
    }
    return c->run(argc - i, argv + i);
  }
  std::fprintf(stderr, "ovtool: unknown command '%s'\n", argv[i]);
  return ovtool::Usage();
}
