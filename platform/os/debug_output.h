#pragma once
// Diagnostics: the platform's debug output, mirrored to standard error.

namespace ov {

// Writes one line of diagnostics (printf format). Thread-safe.
void DebugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ov
