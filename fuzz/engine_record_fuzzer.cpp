// Drives the engine record reader as a project load does: parse the record
// (and its flag trailer), walk the list as the replay does, and write it
// back; what was accepted must store again as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/action_processor.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  engine::ActionProcessor list;
  size_t consumed = 0;
  if (!list.Parse(std::span<const uint8_t>(copy.data(), copy.size()), &consumed)) return 0;
  if (consumed > size) std::abort();
  engine::ActionProcessor::Position pos;
  while (list.GetNextAction(0, &pos)) {
  }
  list.GetDuration();
  std::vector<uint8_t> again;
  list.Serialize(&again);
  engine::ActionProcessor reread;
  size_t used = 0;
  if (!reread.Parse(again, &used) || used != again.size() || reread.Count() != list.Count()) std::abort();
  return 0;
}
