#pragma once
// RenderQueue: the one-way channel from the render process back to the
// editing process ("VEX_MESSAGE_QUEUE"): progress percentages and the final
// result, one 4-byte RenderMessage each. The render process writes (every
// export job owns a writer); the mixer's render thread reads.
//
// A write that cannot complete within 5000 ms (a full or broken queue) ends
// the render process at once with exit code 0: the reader then finds the
// process ended without a result and reports the render as failed.
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
  // Called when a write fails; the default ends the process with 0. Tests
  // replace it.
  using WriteFailure = void (*)();

  explicit RenderQueue(bool readAccess);
  ~RenderQueue();
  RenderQueue(const RenderQueue&) = delete;
  RenderQueue& operator=(const RenderQueue&) = delete;

  bool IsOpen() const { return queue_.IsValid(); }
  void Close();
  // Writes {1, percent} unless percent is the last one sent.
  void SendProgress(int percent);
  void SendResult(bool ok);
  // The next message, waiting at most `timeoutMs`; kind 0 when none came.
  RenderMessage Receive(uint32_t timeoutMs = kReadTimeoutMs);

  static void SetWriteFailure(WriteFailure handler);

 private:
  void Write(const RenderMessage& message);

  ov::MessageQueue queue_;
  int lastPercent_ = -1;
};

}  // namespace engine
