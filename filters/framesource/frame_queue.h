#pragma once
// CFrameQueue: the locked first-in first-out list of FrameRecords between
// GetFrame (which pushes, under the "GetFrame mutex") and a pin (which pops).
// The count may be read without the lock, as a hint.
//
// Thread: any thread.

#include <atomic>
#include <cstdint>

#include "platform/os/mutex.h"

namespace framesource {

struct FrameRecord {
  unsigned char* buffer;  // video: a ring buffer of the video pin; audio: the chunk (owned by the record)
  int32_t time;           // ms
  int32_t bytes;
};

class CFrameQueue {
 public:
  CFrameQueue() = default;
  ~CFrameQueue();  // frees the nodes, not the records
  CFrameQueue(const CFrameQueue&) = delete;
  CFrameQueue& operator=(const CFrameQueue&) = delete;

  // Appends record; false (nothing queued) for null or when memory is short.
  bool Push(FrameRecord* record);
  // The oldest record, or null when the queue is empty.
  FrameRecord* Pop();
  int32_t Count() const { return count_.load(std::memory_order_acquire); }

 private:
  struct Node {
    Node* next;
    FrameRecord* record;
  };
  std::atomic<int32_t> count_{0};
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  ov::CriticalSection lock_;
};

}  // namespace framesource
