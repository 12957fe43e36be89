#pragma once
// MemAllocator: a fixed set of heap buffers handed out as samples.
//
// SetProperties grants what is asked (at least one buffer of at least one
// byte); Commit allocates the buffers; GetBuffer hands out a free one;
// a sample released by its last holder returns to the free list. Decommit
// wakes every waiter; the buffers are freed when the allocator goes.
//
// Thread: any thread.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/interfaces.h"

namespace dshow {

class MemAllocator;

class MediaSample final : public IMediaSample {
 public:
  MediaSample(MemAllocator* owner, uint8_t* buffer, int32_t size);

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT GetPointer(uint8_t** buffer) override;
  int32_t GetSize() override { return size_; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) override;
  HRESULT GetMediaTime(int64_t* start, int64_t* stop) override;
  HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) override;
  int32_t GetActualDataLength() override { return length_; }
  HRESULT SetActualDataLength(int32_t length) override;
  HRESULT IsSyncPoint() override { return sync_ ? com::S_OK : com::S_FALSE; }
  HRESULT SetSyncPoint(bool sync) override {
    sync_ = sync;
    return com::S_OK;
  }

  // Back to the state of a fresh buffer (allocator only).
  void Clear();

 private:
  MemAllocator* owner_;
  std::atomic<uint32_t> refs_{0};
  uint8_t* buffer_;
  int32_t size_;
  int32_t length_ = 0;
  bool has_time_ = false;
  bool has_stop_ = false;
  bool has_media_time_ = false;
  bool sync_ = false;
  REFERENCE_TIME start_ = 0, stop_ = 0;
  int64_t media_start_ = 0, media_stop_ = 0;
};

class MemAllocator final : public IMemAllocator {
 public:
  // A new allocator with one reference.
  static MemAllocator* Create();

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;
  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, uint32_t flags) override;

  // A sample whose last reference went (MediaSample only).
  void ReturnSample(MediaSample* sample);

 private:
  MemAllocator() = default;
  ~MemAllocator();

  com::RefCount refs_;
  std::mutex lock_;
  std::condition_variable freed_;
  ALLOCATOR_PROPERTIES props_{};
  bool props_set_ = false;
  bool committed_ = false;
  int32_t outstanding_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> memory_;
  std::vector<std::unique_ptr<MediaSample>> samples_;
  std::vector<MediaSample*> free_;
};

}  // namespace dshow
