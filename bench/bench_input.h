#pragma once
// Input files of the benchmarks: read whole only when the path names a
// regular file, so that a folder or a missing file is a message, not an
// exception from the stream that tried to read it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace ovbench {

// The whole file at `path`; false for a missing file, a folder, a device or a
// failed read.
inline bool ReadRegularFile(const std::string& path, std::vector<uint8_t>* bytes) {
  bytes->clear();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  try {
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
    bytes->clear();
    return false;
  }
  return true;
}

}  // namespace ovbench
