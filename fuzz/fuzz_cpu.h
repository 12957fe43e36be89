#pragma once
// "--cpumask=N" on the command line of a target whose code runs through
// kernel families keeps only the kernels of the processor features in N
// (0: the C++ references only, 1: SSE2), so that each variant is fuzzed.
// libFuzzer and the corpus replay leave arguments that start with "--" to
// the target.

#include <cstdlib>
#include <cstring>

#include "platform/cpu/cpu.h"

namespace ovfuzz {

inline void ApplyCpuMaskFlag(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--cpumask=", 10) == 0) {
      ov::SetCpuFlagsMask(static_cast<uint32_t>(std::strtoul(argv[i] + 10, nullptr, 0)));
    }
  }
}

}  // namespace ovfuzz
