// Drives the engine record reader as a project load does: parse the record
// (and its flag trailer), walk the list as the replay does, and write it
// back; what was accepted must store again as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/action_processor.h"
#include "fuzz/engine_record_check.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  engine::ActionProcessor list;
  size_t consumed = 0;
  if (!list.Parse(std::span<const uint8_t>(copy.data(), copy.size()), &consumed)) return 0;
  if (consumed > size) std::abort();
  ovfuzz::CheckEngineRecord(list);
  return 0;
}
