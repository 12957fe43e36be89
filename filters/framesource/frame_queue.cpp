#include "filters/framesource/frame_queue.h"

#include <new>

namespace framesource {

CFrameQueue::~CFrameQueue() {
  while (head_) {
    Node* next = head_->next;
    delete head_;
    head_ = next;
  }
}

bool CFrameQueue::Push(FrameRecord* record) {
  if (!record) return false;
  Node* node = new (std::nothrow) Node{nullptr, record};
  if (!node) return false;
  ov::CriticalSectionLock hold(lock_);
  if (tail_) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  count_.fetch_add(1, std::memory_order_release);
  return true;
}

FrameRecord* CFrameQueue::Pop() {
  ov::CriticalSectionLock hold(lock_);
  Node* node = head_;
  if (!node) return nullptr;
  head_ = node->next;
  if (!head_) tail_ = nullptr;
  count_.fetch_sub(1, std::memory_order_release);
  FrameRecord* record = node->record;
  delete node;
  return record;
}

}  // namespace framesource
