// Replays a fuzz corpus without libFuzzer: every file named on the command line,
// or every file inside a named folder, goes once through LLVMFuzzerTestOneInput.
// Built with the ordinary compiler so the corpus runs under every test build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_target.h"

// A target without its own initialiser leaves this null.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exact-size heap copy, so AddressSanitizer sees any over-read.
  auto* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] == '-') continue;  // the target's own flags
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          ok = RunFile(entry.path()) && ok;
          ++files;
        }
      }
    } else {
      ok = RunFile(arg) && ok;
      ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return ok ? 0 : 1;
}
