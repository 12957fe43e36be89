#include "platform/os/environment.h"

#include <cstdlib>

namespace ov {

std::optional<std::string> GetEnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironmentValue(const std::string& name) { ::unsetenv(name.c_str()); }

}  // namespace ov
