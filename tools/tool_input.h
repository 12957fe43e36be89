#pragma once
// Input files of ovtool commands: each command refuses an input it cannot
// use with one line on stderr naming the command, the path and the reason,
// and a non-zero exit.

#include <cstdint>
#include <string>
#include <vector>

namespace ovtool {

// Why `path` cannot be read as an input file ("no such file", "a folder, not
// a file", "not a regular file (a FIFO, socket or device)", "cannot be
// read"); empty when it can. Nothing is opened before the file is known to
// be a regular one, so the check never blocks.
std::string InputFileProblem(const std::string& path);

// True when `path` is a readable file; else prints "COMMAND: PATH: reason".
bool CheckInputFile(const char* command, const std::string& path);

// The whole file, at most `max_bytes`; false (and the line above) when it
// cannot be read.
bool ReadInputFile(const char* command, const std::string& path, std::vector<uint8_t>* bytes,
                   uint64_t max_bytes = uint64_t{1} << 30);

}  // namespace ovtool
