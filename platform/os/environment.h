#pragma once
// Environment variables of the process (the folders read OVMIX_CARDS,
// OVMIX_DOCUMENTS, XDG_DATA_HOME, HOME, TMPDIR and USER).
//
// Thread: set and unset are not safe while other threads read the
// environment; tests and start-up use them before threads run.

#include <optional>
#include <string>

namespace ov {

// The variable's value, or nothing when it is not set.
std::optional<std::string> GetEnvironmentValue(const std::string& name);
// Sets (replaces) or removes a variable.
void SetEnvironmentValue(const std::string& name, const std::string& value);
void UnsetEnvironmentValue(const std::string& name);

}  // namespace ov
