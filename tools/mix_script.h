#pragma once
// The mix script of "ovtool mix" and "ovtool project": one timed engine
// command per line (the verbs are listed in mix_command.cpp), "#" starts a
// comment.

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "engine/engine_command.h"

namespace tools {

// A script is at most kMaxScriptBytes long and each of its lines at most
// kMaxScriptLineBytes: anything longer is no script of ours, and reading it
// whole (a device, a file without line ends) would only fill the memory.
inline constexpr size_t kMaxScriptBytes = size_t{16} << 20;
inline constexpr size_t kMaxScriptLineBytes = 8192;

// The script's commands in file order; false and the reason (the line at
// fault) in `error` when the path is no regular file, the file cannot be
// read or is too long, or a line is too long or not understood.
bool ReadMixScript(const std::string& path, std::vector<engine::EngineCommand>* commands, std::string* error);

// The same from an open stream (the script's text).
bool ParseMixScript(std::istream& script, std::vector<engine::EngineCommand>* commands, std::string* error);

}  // namespace tools
