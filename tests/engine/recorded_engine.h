#pragma once
// An engine without mixers holding a recorded list, through the stored form,
// as the render process gets it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/action_processor.h"
#include "engine/engine_command.h"
#include "engine/mix_engine.h"

namespace ovtest {

inline std::unique_ptr<engine::MixEngine> EngineWith(const std::vector<engine::EngineCommand>& commands) {
  engine::ActionProcessor list;
  for (const engine::EngineCommand& c : commands) list.Append(std::make_unique<engine::EngineCommand>(c));
  std::vector<uint8_t> record;
  list.Serialize(&record);
  auto e = std::make_unique<engine::MixEngine>(nullptr, nullptr);
  size_t consumed = 0;
  EXPECT_TRUE(e->LoadActions(record, &consumed));
  e->SetExportResultDelay(0);
  return e;
}

}  // namespace ovtest
