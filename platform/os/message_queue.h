#pragma once
// MessageQueue: the point-to-point message queue between processes
// ("VEX_MESSAGE_QUEUE"): fixed-size records written by one side and read by
// the other, with timed sends and receives.
//
// The queue lives while some process holds it open, like the other named
// objects (shared_block.h); messages written before the last handle closes
// are lost with it. "No limit" on the number of messages is a ring of
// kUnlimitedMessages records.
//
// Thread: Write and Read from any thread; Create and Close by the owner.

#include <cstdint>
#include <memory>

#include "platform/os/os_error.h"
#include "platform/os/ov_string.h"

namespace ov {

struct MessageQueueOptions {
  uint32_t max_messages = 0;       // 0: no limit (kUnlimitedMessages)
  uint32_t max_message_bytes = 4;  // largest message
  bool read_access = false;        // this handle reads (else it writes)
  bool allow_broken = true;        // writes succeed with no reader open
};

// The record count of a queue created without a limit.
constexpr uint32_t kUnlimitedMessages = 4096;

class MessageQueue {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Creates or opens the named queue. Every handle must give the same
  // max_messages and max_message_bytes (else last error 6). Last error 183
  // when the queue existed.
  bool Create(const String& name, const MessageQueueOptions& options);
  bool IsValid() const { return impl_ != nullptr; }
  void Close();

  // Appends one message, waiting up to timeout_ms for room. Errors: a read
  // handle or an invalid queue 5 / 6; size 0 or above the largest message 87;
  // no reader and allow_broken unset 233; still full at the time-out 1460.
  bool Write(const void* data, uint32_t size, uint32_t timeout_ms);
  // Takes the oldest message, waiting up to timeout_ms for one; *read its
  // size. Errors: a write handle 5; nothing within the time-out 1460; a
  // buffer smaller than the message 122 (the message stays queued).
  bool Read(void* buffer, uint32_t size, uint32_t* read, uint32_t timeout_ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ov
