#pragma once
// The check every target that ends in an engine record makes: the record is
// walked as the replay walks it and stored, and the stored bytes must read
// back whole as the same number of commands.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/action_processor.h"

namespace ovfuzz {

inline void CheckEngineRecord(const engine::ActionProcessor& record) {
  engine::ActionProcessor::Position pos;
  while (record.GetNextAction(0, &pos)) {
  }
  record.GetDuration();
  std::vector<uint8_t> stored;
  record.Serialize(&stored);
  engine::ActionProcessor reread;
  size_t used = 0;
  if (!reread.Parse(stored, &used) || used != stored.size() || reread.Count() != record.Count()) std::abort();
}

}  // namespace ovfuzz
