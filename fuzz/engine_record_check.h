#pragma once
// The check every target that ends in an engine record makes: the record is
// walked as the replay walks it and stored, and the stored bytes must read
// back whole as the same number of commands, unless a command lies past the
// longest mix, which the reader refuses whole.

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
  bool beyond = false;
  for (size_t i = 0; i < record.Count(); ++i) beyond = beyond || record.At(i).timeMs > engine::ActionProcessor::kMaxMixMs;
  engine::ActionProcessor reread;
  size_t used = 0;
  const bool read = reread.Parse(stored, &used);
  if (beyond) {
    if (read) std::abort();
    return;
  }
  if (!read || used != stored.size() || reread.Count() != record.Count()) std::abort();
}

}  // namespace ovfuzz
