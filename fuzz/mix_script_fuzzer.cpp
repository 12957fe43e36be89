// Drives the mix script reader of "ovtool mix" and "ovtool project": the
// input as the script's text, each accepted command appended to an engine
// record as the project command does, the record walked as the replay walks
// it and stored; the stored record must read back as the same commands.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "fuzz/engine_record_check.h"
#include "fuzz/fuzz_target.h"
#include "tools/mix_script.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Scripts are a few lines; longer inputs only repeat the same lines.
  if (size > 4096) return 0;
  std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<engine::EngineCommand> commands;
  std::string error;
  if (!tools::ParseMixScript(script, &commands, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  engine::ActionProcessor record;
  for (const engine::EngineCommand& c : commands) record.Append(std::make_unique<engine::EngineCommand>(c));
  ovfuzz::CheckEngineRecord(record);
  return 0;
}
