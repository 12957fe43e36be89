#pragma once
// The mix script of "ovtool mix" and "ovtool project": one timed engine
// command per line (the verbs are listed in mix_command.cpp), "#" starts a
// comment.

#include <istream>
#include <string>
#include <vector>

#include "engine/engine_command.h"

namespace tools {

// The script's commands in file order; false and the line at fault in
// `error` when the file cannot be read or a line is not understood.
bool ReadMixScript(const std::string& path, std::vector<engine::EngineCommand>* commands, std::string* error);

// The same from an open stream (the script's text).
bool ParseMixScript(std::istream& script, std::vector<engine::EngineCommand>* commands, std::string* error);

}  // namespace tools
