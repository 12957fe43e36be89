#pragma once
// Registration of ovtool commands. A command file defines
//   static int RunVdec(int argc, char** argv);
//   OVTOOL_COMMAND(vdec, "vdec IN OUT.yuv  decode a video stream", RunVdec);
// and is added to tools/CMakeLists.txt; ovtool.cpp finds it by name.

namespace ovtool {

using CommandFn = int (*)(int argc, char** argv);

struct Command {
  const char* name;
  const char* usage;
  CommandFn run;
  Command* next;
};

// Adds `command` to the list that main() searches; called from static
// initialisers only.
void RegisterCommand(Command* command);

struct CommandRegistrar {
  explicit CommandRegistrar(Command* command) { RegisterCommand(command); }
};

}  // namespace ovtool

#define OVTOOL_COMMAND(name, usage, fn)                                \
  namespace {                                                          \
  ovtool::Command g_command_##name{#name, usage, fn, nullptr};         \
  ovtool::CommandRegistrar g_registrar_##name(&g_command_##name);      \
  }
