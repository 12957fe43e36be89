// The encoding graphs' wait loop and settings: how each steering event, the
// graph's completion and the job's flags end the wait; the MPEG-4 level and
// the AMR-NB rate a job writes.
#include "engine/encoding_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "engine/export_job.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace {

using engine::WaitOutcome;

// The graph's completion as a test sets it.
struct FakeGraph final : engine::GraphCompletion {
  std::atomic<int32_t> code{0};
  int32_t Poll(int32_t) override { return code.load(); }
};

void SetEvent(const char16_t* name) {
  ov::Event e;
  ASSERT_TRUE(e.Create(true, false, name));
  e.Set();
}

// Runs one wait; a wait that has not ended within 5 s fails the test and is
// released (Restart, then the failure event).
WaitOutcome Bounded(engine::EncodingEvents& events, engine::ExportJob* job, engine::GraphCompletion* graph) {
  auto wait = std::async(std::launch::async, [&] { return events.Wait(job, graph, true, 20); });
  if (wait.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "the wait did not end";
    SetEvent(engine::kRestartEncodingEvent);
    ov::Event failed;
    failed.Create(false, false, engine::kEncodingFailedEvent);
    failed.Set();
  }
  return wait.get();
}

class WaitLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "wl" + std::to_string(ov::GetCurrentProcessId()));
    job_ = std::make_unique<engine::WavExportJob>(nullptr, ov::String::FromUtf8Lossy(ovtest::ScratchDir() + "/o.3gp"));
  }
  std::unique_ptr<engine::ExportJob> job_;
  FakeGraph graph_;
};

// Done asks the graph: EC_COMPLETE succeeds, anything else fails; the
// failure event fails; a cancel cancels and clears its event.
TEST_F(WaitLoop, DoneFailedAndCancel) {
  struct Case {
    const char16_t* event;
    int32_t graph_code;
    WaitOutcome want;
  } cases[] = {{u"Frame Filter Encoding Done", 1, WaitOutcome::kDone},
               {u"Frame Filter Encoding Done", 3, WaitOutcome::kFailed},
               {engine::kEncodingFailedEvent, 0, WaitOutcome::kFailed},
               {engine::kCancelEncodingEvent, 0, WaitOutcome::kCancelled}};
  for (const Case& c : cases) {
    engine::EncodingEvents events;
    graph_.code = c.graph_code;
    ov::Event e;
    // The two frame-filter events are auto-reset, the steering ones manual.
    const bool manual = c.event == engine::kCancelEncodingEvent;
    ASSERT_TRUE(e.Create(manual, false, c.event));
    e.Set();
    EXPECT_EQ(Bounded(events, job_.get(), &graph_), c.want);
  }
  EXPECT_TRUE(job_->cancelled());
  ov::Event cancel;
  ASSERT_TRUE(cancel.Create(true, false, engine::kCancelEncodingEvent));
  EXPECT_EQ(cancel.Wait(0), ov::kWaitTimeout);  // reset by the loop
}

// At each time-out: an aborted graph fails the render, and so does the job's
// own failure.
TEST_F(WaitLoop, TimeOutsReadTheGraphAndTheJob) {
  {
    engine::EncodingEvents events;
    graph_.code = 3;  // EC_ERRORABORT
    EXPECT_EQ(Bounded(events, job_.get(), &graph_), WaitOutcome::kFailed);
  }
  graph_.code = 0;
  struct FailingJob : engine::WavExportJob {
    using WavExportJob::WavExportJob;
    void MakeFail() { Fail(); }
  } failing(nullptr, ov::String::FromUtf8Lossy(ovtest::ScratchDir() + "/f.3gp"));
  failing.MakeFail();
  engine::EncodingEvents events;
  EXPECT_EQ(Bounded(events, &failing, &graph_), WaitOutcome::kFailed);
}

// After the done event a graph that has not completed is asked one time-out
// at a time, never without bound: a cancel or the failure event still ends
// the wait, and a completion that comes later is seen.
TEST_F(WaitLoop, AfterDoneTheGraphIsAskedWithABound) {
  // Completes with `code` once released; a wait without bound blocks until then.
  struct SlowGraph final : engine::GraphCompletion {
    std::atomic<bool> released{false};
    std::atomic<int32_t> code{0};
    int32_t Poll(int32_t timeout_ms) override {
      if (timeout_ms < 0) {
        while (!released) ov::Sleep(1);
      }
      return released ? code.load() : 0;
    }
  };
  struct Case {
    const char16_t* then;  // set after done; null: the graph completes
    WaitOutcome want;
  } cases[] = {{engine::kCancelEncodingEvent, WaitOutcome::kCancelled},
               {engine::kEncodingFailedEvent, WaitOutcome::kFailed},
               {nullptr, WaitOutcome::kDone}};
  for (const Case& c : cases) {
    engine::EncodingEvents events;
    SlowGraph graph;
    graph.code = 1;
    SetEvent(u"Frame Filter Encoding Done");
    auto wait = std::async(std::launch::async, [&] { return events.Wait(job_.get(), &graph, true, 20); });
    if (c.then) {
      ov::Event e;
      ASSERT_TRUE(e.Create(c.then == engine::kCancelEncodingEvent, false, c.then));
      e.Set();
    } else {
      graph.released = true;
    }
    // (A wait that blocks in the graph fails through the test's time-out.)
    EXPECT_EQ(wait.get(), c.want);
  }
}

// A pause holds the job until Restart, then the wait goes on; a cancel
// during a pause ends it as a cancel.
TEST_F(WaitLoop, PauseWaitsForRestartOrCancel) {
  engine::EncodingEvents events;
  std::atomic<int> step{0};
  std::thread steer([&] {
    SetEvent(engine::kPauseEncodingEvent);
    while (!job_->paused()) ov::Sleep(5);
    ov::Sleep(100);
    step = 1;  // still paused after a while
    SetEvent(engine::kRestartEncodingEvent);
    while (job_->paused()) ov::Sleep(5);
    step = 2;
    SetEvent(engine::kPauseEncodingEvent);
    while (!job_->paused()) ov::Sleep(5);
    SetEvent(engine::kCancelEncodingEvent);
  });
  EXPECT_EQ(Bounded(events, job_.get(), &graph_), WaitOutcome::kCancelled);
  steer.join();
  EXPECT_EQ(step.load(), 2);
  EXPECT_TRUE(job_->cancelled());
  EXPECT_FALSE(job_->paused());
}

// The lowest level whose picture size, macroblock rate and bit rate hold the
// stream (10 is level 0b), or 0 (the object chooses) when none does.
TEST(EncodingSettings, Mpeg4LevelAndAmrRate) {
  struct Case {
    uint32_t w, h, fps, rate;
    int32_t level;
  } cases[] = {
      {176, 144, 15, 64000, 0},    {176, 144, 15, 64001, 10},   {176, 144, 10, 128000, 10},  {176, 144, 15, 128001, 3},
      {144, 176, 15, 64000, 1},    {176, 144, 25, 128000, 2},   {176, 144, 30, 384000, 3},   {128, 96, 30, 64000, 1},
      {320, 240, 15, 128000, 2},   {320, 240, 25, 128000, 3},   {320, 240, 15, 256000, 3},   {352, 288, 15, 128000, 2},
      {352, 288, 25, 384000, 3},   {352, 288, 30, 384000, 3},   {352, 288, 25, 384001, 4},   {640, 480, 30, 1000000, 4},
      {720, 576, 25, 4000000, 5},  {720, 576, 30, 1000000, 0},  {800, 600, 30, 1000000, 0},  {352, 288, 30, 9000000, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(engine::Mpeg4LevelFor(c.w, c.h, c.fps, c.rate), c.level) << c.w << "x" << c.h << "@" << c.fps << " " << c.rate;
  }
  const std::pair<uint32_t, int32_t> amr[] = {{0, 4750},     {5149, 4750},   {5150, 5150}, {6699, 5900},
                                              {7949, 7400},  {10199, 7950},  {12199, 10200}, {12200, 12200},
                                              {96000, 12200}};
  for (auto [rate, want] : amr) EXPECT_EQ(engine::AmrRateFor(rate), want) << rate;
}

}  // namespace
