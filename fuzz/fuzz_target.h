#pragma once
// The libFuzzer entry points that every fuzz/<name>_fuzzer.cpp defines, and
// that fuzz/replay_main.cpp calls when the corpus is replayed without libFuzzer.

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
