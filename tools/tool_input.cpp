#include "tools/tool_input.h"

#include <cstdio>

#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace ovtool {

std::string InputFileProblem(const std::string& path) {
  const ov::String p = ov::String::FromUtf8Lossy(path);
  if (ov::FolderExists(p)) return "a folder, not a file";
  if (!ov::FileExists(p)) return "no such file";
  // Asked before opening: opening a FIFO without a writer would block, and a
  // device such as /dev/zero never ends.
  if (!ov::IsRegularFile(p)) return "not a regular file (a FIFO, socket or device)";
  ov::File file;
  if (!file.Open(p, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) return "cannot be read";
  return {};
}

bool CheckInputFile(const char* command, const std::string& path) {
  const std::string problem = InputFileProblem(path);
  if (problem.empty()) return true;
  std::fprintf(stderr, "%s: %s: %s\n", command, path.c_str(), problem.c_str());
  return false;
}

bool ReadInputFile(const char* command, const std::string& path, std::vector<uint8_t>* bytes, uint64_t max_bytes) {
  if (!CheckInputFile(command, path)) return false;
  if (!ov::ReadWholeFile(ov::String::FromUtf8Lossy(path), bytes, max_bytes)) {
    std::fprintf(stderr, "%s: %s: cannot be read whole (larger than %llu bytes, or a read failed)\n", command,
                 path.c_str(), static_cast<unsigned long long>(max_bytes));
    return false;
  }
  return true;
}

}  // namespace ovtool
