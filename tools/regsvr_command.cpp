// ovtool regsvr [-u] LIB: loads a plug-in and calls its DllRegisterServer
// (DllUnregisterServer with -u), which writes (or removes) its classes in the
// class table of the registry file in the data folder; prints the result.
#include <cstdio>
#include <cstring>

#include "platform/com/class_table.h"
#include "platform/os/library.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

int RunRegsvr(int argc, char** argv) {
  bool unregister = false;
  const char* path = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) {
      unregister = true;
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: ovtool regsvr [-u] LIB\n");
    return 2;
  }
  // The plug-in stays loaded until the process ends, as a loaded server
  // does: what it keeps for itself (its registry cache) stays reachable.
  // A path (not a bare library name the loader searches for) must be a
  // regular file: loading a FIFO would block.
  if (std::strchr(path, '/') && !ovtool::CheckInputFile("regsvr", path)) return 1;
  static ov::Library* const loaded = new ov::Library;
  ov::Library& lib = *loaded;
  if (!lib.Load(ov::String::FromUtf8Lossy(path))) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path, lib.Error().c_str());
    return 1;
  }
  const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = lib.Function<com::DllRegisterServerFunction>(name);
  if (!entry) {
    std::fprintf(stderr, "regsvr: %s has no %s\n", path, name);
    return 1;
  }
  const com::HRESULT hr = entry();
  std::printf("%s: 0x%08X\n", name, static_cast<unsigned>(hr));
  return com::Succeeded(hr) ? 0 : 1;
}

}  // namespace

OVTOOL_COMMAND(regsvr, "regsvr [-u] LIB  register (unregister) a plug-in's classes", RunRegsvr);
