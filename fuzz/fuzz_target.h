#pragma once
// The libFuzzer entry points that every fuzz/<name>_fuzzer.cpp defines, and
// that fuzz/replay_main.cpp calls when the corpus is replayed without libFuzzer.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

// Work limits of the video decoder targets, applied inside each entry as
// mature decoder fuzzers do. The first picture size a stream sets up fixes the
// decoder's size; a larger one costs up to 93 times a QCIF picture in every
// pass (decoding, concealment, the loop and post filters) and reaches no code
// that smaller ones do not beyond its headers, which are still parsed. An
// input therefore stops at a picture larger than QCIF's 176 x 144 samples,
// and after kFuzzMaxPictures pictures.
inline constexpr int kFuzzMaxPictureArea = 176 * 144;
inline constexpr int kFuzzMaxPictures = 16;

namespace ovfuzz {

// The path `name` in a folder of this process's own under the system
// temporary folder (ovmix-tests/fuzz-<pid>), for targets whose readers take
// files. The folder is made on first use and removed when the process ends,
// so runs leave nothing behind and parallel runs never share a file.
inline std::string ScratchFile(const std::string& name) {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      std::error_code ignored;
      path = std::filesystem::temp_directory_path(ignored) / "ovmix-tests" / ("fuzz-" + std::to_string(getpid()));
      std::filesystem::create_directories(path, ignored);
    }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return (folder.path / name).string();
}

}  // namespace ovfuzz
