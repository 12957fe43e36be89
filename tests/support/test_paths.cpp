#include "tests/support/test_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace ovtest {
namespace {

// Each test process gets a name space of its own for the named events,
// mutexes and queues, so that tests run side by side by ctest never meet
// (a "CANCEL_DECOMPRESSION" set by one test would stop another's decoding).
// Child processes inherit it, so tests of objects shared between processes
// still meet; a scope set beforehand is kept.
const bool kOwnIpcScope = [] {
  if (!std::getenv("OVMIX_IPC_SCOPE")) setenv("OVMIX_IPC_SCOPE", ("test" + std::to_string(getpid())).c_str(), 1);
  return true;
}();

}  // namespace

std::string TestDataPath(const std::string& name) {
  return std::string(OVMIX_SOURCE_DIR) + "/tests/data/" + name;
}

std::string FixturePath(const std::string& name) {
  return std::string(OVMIX_FIXTURES_DIR) + "/" + name;
}

std::string SharedTestdataPath(const std::string& name) {
  return std::string(OVMIX_SHARED_TESTDATA) + "/" + name;
}

bool HaveSharedTestdata() { return std::filesystem::is_directory(OVMIX_SHARED_TESTDATA); }

std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // One folder per build tree (its fixtures folder names it), so that two
  // checkouts testing side by side never share a test's files.
  static const std::string tree =
      "ovmix-tests-" + std::to_string(std::hash<std::string>{}(OVMIX_FIXTURES_DIR) % 1000000007u);
  std::filesystem::path dir = std::filesystem::temp_directory_path() / tree;
  if (info) dir /= std::string(info->test_suite_name()) + "." + info->name();
  std::string name = dir.string();
  for (char& c : name) {
    if (c == '<' || c == '>' || c == ' ') c = '_';
  }
  dir = name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace ovtest
