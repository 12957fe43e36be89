#include "platform/os/message_queue.h"

#include <cstring>

#include "platform/os/os_error.h"
#include "platform/os/shared_block.h"

namespace ov {

namespace {

// Layout in the block: this header, then the record lengths (u32 each), then
// the records.
struct QueueHeader {
  uint32_t capacity;
  uint32_t record_bytes;
  uint32_t head;   // index of the oldest record
  uint32_t count;  // records queued
};

struct QueueInit {
  uint32_t capacity;
  uint32_t record_bytes;
};

void InitQueue(void* payload, void* arg) {
  auto* h = static_cast<QueueHeader*>(payload);
  auto* init = static_cast<QueueInit*>(arg);
  h->capacity = init ? init->capacity : 0;
  h->record_bytes = init ? init->record_bytes : 0;
}

}  // namespace

struct MessageQueue::Impl {
  SharedBlock block;
  bool reader = false;
  bool allow_broken = true;

  QueueHeader* header() const { return static_cast<QueueHeader*>(block.payload()); }
  uint32_t* lengths() const { return reinterpret_cast<uint32_t*>(header() + 1); }
  uint8_t* records() const { return reinterpret_cast<uint8_t*>(lengths() + header()->capacity); }
};

MessageQueue::MessageQueue() = default;
MessageQueue::~MessageQueue() { Close(); }

bool MessageQueue::Create(const String& name, const MessageQueueOptions& options) {
  Close();
  if (options.max_message_bytes == 0 || options.max_message_bytes > 65536 || options.max_messages > 65536) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  QueueInit init{options.max_messages ? options.max_messages : kUnlimitedMessages, options.max_message_bytes};
  size_t payload = sizeof(QueueHeader) + size_t{init.capacity} * (4 + size_t{init.record_bytes});
  auto impl = std::make_unique<Impl>();
  bool existed = false;
  if (!impl->block.Open(name, SharedBlock::Kind::kQueue, payload, true, InitQueue, &init, &existed)) return false;
  if (impl->header()->capacity != init.capacity || impl->header()->record_bytes != init.record_bytes) {
    SetLastError(kErrorInvalidHandle);  // same size, other shape
    return false;
  }
  impl->reader = options.read_access;
  impl->allow_broken = options.allow_broken;
  if (impl->reader) {
    impl->block.Lock();
    impl->block.AddToOpenerWord(1);
    impl->block.Unlock();
  }
  impl_ = std::move(impl);
  SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
  return true;
}

void MessageQueue::Close() {
  if (!impl_) return;
  if (impl_->reader) {
    impl_->block.Lock();
    impl_->block.AddToOpenerWord(-1);
    impl_->block.Broadcast();
    impl_->block.Unlock();
  }
  impl_.reset();
}

bool MessageQueue::Write(const void* data, uint32_t size, uint32_t timeout_ms) {
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  Impl& q = *impl_;
  if (q.reader) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  QueueHeader* h = q.header();
  if (size == 0 || size > h->record_bytes || !data) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  int64_t deadline = DeadlineAfter(timeout_ms);
  q.block.Lock();
  uint32_t error = kErrorSuccess;
  for (;;) {
    if (!q.allow_broken && q.block.SumOfOpenerWords() <= 0) {
      error = kErrorPipeNotConnected;
      break;
    }
    if (h->count < h->capacity) break;
    if (timeout_ms == 0 || !q.block.WaitUntil(deadline)) {
      if (h->count >= h->capacity) error = kErrorTimeout;
      break;
    }
  }
  if (error == kErrorSuccess) {
    uint32_t slot = (h->head + h->count) % h->capacity;
    q.lengths()[slot] = size;
    std::memcpy(q.records() + size_t{slot} * h->record_bytes, data, size);
    h->count += 1;
    q.block.Broadcast();
  }
  q.block.Unlock();
  if (error != kErrorSuccess) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool MessageQueue::Read(void* buffer, uint32_t size, uint32_t* read, uint32_t timeout_ms) {
  if (read) *read = 0;
  if (!impl_) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  Impl& q = *impl_;
  if (!q.reader) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  QueueHeader* h = q.header();
  int64_t deadline = DeadlineAfter(timeout_ms);
  q.block.Lock();
  uint32_t error = kErrorSuccess;
  while (h->count == 0) {
    if (timeout_ms == 0 || !q.block.WaitUntil(deadline)) {
      if (h->count == 0) error = kErrorTimeout;
      break;
    }
  }
  if (error == kErrorSuccess) {
    uint32_t slot = h->head;
    uint32_t length = q.lengths()[slot];
    if (length > h->record_bytes) length = h->record_bytes;  // never trust the shared word blindly
    if (!buffer || size < length) {
      error = kErrorInsufficientBuffer;
    } else {
      std::memcpy(buffer, q.records() + size_t{slot} * h->record_bytes, length);
      if (read) *read = length;
      h->head = (h->head + 1) % h->capacity;
      h->count -= 1;
      q.block.Broadcast();
    }
  }
  q.block.Unlock();
  if (error != kErrorSuccess) {
    SetLastError(error);
    return false;
  }
  return true;
}

}  // namespace ov
