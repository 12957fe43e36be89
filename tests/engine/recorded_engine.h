#pragma once
// An engine without mixers holding a recorded list, through the stored form,
// as the render process gets it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/action_processor.h"
#include "engine/engine_command.h"
#include "engine/export_job.h"
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

// A graph render's job whose frames the test pulls, as the source filter's
// pins do, without a graph.
struct PulledDmoJob : engine::DmoExportJob {
  using DmoExportJob::DmoExportJob;
  bool Start() { return Prepare(); }
  // Pulls every frame, its picture into `frame`, and calls `each` after each
  // (the frame's sound already freed); `each` returning false stops.
  template <typename Each>
  void PullFrames(std::vector<uint8_t>& frame, Each each) {
    for (;;) {
      uint8_t* video = frame.data();
      uint8_t* audio = nullptr;
      uint32_t bytes = 0, time = 0;
      if (RenderNextFrame(&video, &audio, &bytes, &time) == 0) return;
      ::operator delete(audio);
      if (!each()) return;
    }
  }
};

}  // namespace ovtest
