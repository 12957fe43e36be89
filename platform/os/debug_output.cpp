#include "platform/os/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace ov {

void DebugOutput(const char* format, ...) {
  // Read at each call: a plug-in's copy of this function sees the same
  // environment as the program's.
  const char* enabled = std::getenv("OVMIX_DEBUG_OUTPUT");
  if (enabled && enabled[0] == '0' && enabled[1] == 0) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  // One fputs per line keeps lines from different threads whole.
  std::fputs(line, stderr);
}

}  // namespace ov
