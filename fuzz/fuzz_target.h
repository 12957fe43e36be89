#pragma once
// The libFuzzer entry points that every fuzz/<name>_fuzzer.cpp defines, and
// that fuzz/replay_main.cpp calls when the corpus is replayed without libFuzzer.

#include <cstddef>
#include <cstdint>

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
