#pragma once
// RenderQueue: the one-way channel from the render process back to the
// editing process ("VEX_MESSAGE_QUEUE"): progress percentages and the final
// result, one 4-byte RenderMessage each. The render process writes (every
// export job owns a writer); the mixer's render thread reads.
//
// A write that cannot complete within 5000 ms (a full or broken queue), or a
// queue that could not be made, fails the render: the reader would find the
// process ended without a result and report the render as failed, so the
// render winds down as a failed one (its file deleted, the reason printed)
// and the process's exit code says it (1; 0 whenever the result went out).
//
// Thread: one thread per object.

#include <cstdint>

#include "platform/os/message_queue.h"

namespace engine {

inline constexpr char16_t kRenderQueueName[] = u"VEX_MESSAGE_QUEUE";

enum : uint8_t {
  kRenderNothing = 0,
  kRenderProgress = 1,
  kRenderResult = 2,
};

// byte 0 kind, byte 1 value (percent 0-100, or 1 success / 0 failure).
struct RenderMessage {
  uint8_t kind = kRenderNothing;
  uint8_t value = 0;
  uint8_t zero[2] = {0, 0};
};
static_assert(sizeof(RenderMessage) == 4);

class RenderQueue {
 public:
  static constexpr uint32_t kWriteTimeoutMs = 5000;
  static constexpr uint32_t kReadTimeoutMs = 250;
  explicit RenderQueue(bool readAccess);
  ~RenderQueue();
  RenderQueue(const RenderQueue&) = delete;
  RenderQueue& operator=(const RenderQueue&) = delete;

  bool IsOpen() const { return queue_.IsValid(); }
  // Why the queue could not be made, or why the last write failed (0 when
  // neither happened).
  uint32_t error() const { return error_; }
  void Close();
  // Writes {1, percent} unless percent is the last one sent. False when the
  // write failed.
  bool SendProgress(int percent);
  // False when the result could not be written (ResultLost then holds).
  bool SendResult(bool ok);
  // The next message, waiting at most `timeoutMs`; kind 0 when none came.
  RenderMessage Receive(uint32_t timeoutMs = kReadTimeoutMs);

  // Whether a result of this process could not be written.
  static bool ResultLost();

 private:
  bool Write(const RenderMessage& message);

  ov::MessageQueue queue_;
  uint32_t error_ = 0;
  int lastPercent_ = -1;
};

}  // namespace engine
