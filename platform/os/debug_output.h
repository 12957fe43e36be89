#pragma once
// Diagnostics: the platform's debug output, mirrored to standard error.

namespace ov {

// Writes one line of diagnostics (printf format), unless the environment
// variable OVMIX_DEBUG_OUTPUT is "0" (the render process sets it, so that
// its standard error holds only its own messages). Thread-safe.
void DebugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ov
