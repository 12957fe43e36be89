#include "platform/os/debug_output.h"

#include <cstdarg>
#include <cstdio>

namespace ov {

void DebugOutput(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  // One fputs per line keeps lines from different threads whole.
  std::fputs(line, stderr);
}

}  // namespace ov
