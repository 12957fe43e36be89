#pragma once
// The source-filter base: CSource holds output pins of type CSourceStream,
// each run by a worker thread of its own while the filter is active.
//
// The worker repeatedly takes an empty sample from the agreed allocator
// (retrying after 1 ms while none is free) and calls FillBuffer: S_OK
// delivers the sample downstream; S_FALSE releases it, delivers end of
// stream and ends the thread; an error does the same and also reports
// EC_ERRORABORT to the graph. A delivery that fails reports EC_ERRORABORT
// and ends the thread; one that the downstream pin answers with S_FALSE (it
// takes no more) delivers end of stream and ends the thread. Nothing is
// reported while the filter is being stopped.
// OnThreadCreate runs first on the thread, OnThreadDestroy last (also when
// the filter stops it).
//
// Thread: FillBuffer and the hooks on the pin's worker thread; the rest on
// the graph's thread.

#include <atomic>
#include <vector>

#include "platform/dshow/base_filter.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"

namespace dshow {

class CSourceStream;

class CSource : public BaseFilter {
 public:
  CSource(const char16_t* object_name, const GUID& clsid);
  ~CSource() override;

  int GetPinCount() override { return static_cast<int>(pins_.size()); }
  BasePin* GetPin(int n) override;
  // Takes ownership of pin (null is ignored).
  void AddPin(CSourceStream* pin);

 protected:
  // Deletes the pins in the order they were added (the destructor does it
  // when the derived class has not).
  void DeletePins();

 private:
  std::vector<CSourceStream*> pins_;
};

class CSourceStream : public BaseOutputPin {
 public:
  // *hr is left as it is (the base cannot fail).
  CSourceStream(const char16_t* object_name, HRESULT* hr, CSource* filter, const char16_t* pin_name);
  ~CSourceStream() override;

  HRESULT Active() override;
  HRESULT Inactive() override;

  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return com::S_OK; }
  virtual HRESULT OnThreadDestroy() { return com::S_OK; }
  virtual HRESULT OnThreadStartPlay() { return com::S_OK; }

  bool ThreadRunning() const { return thread_.IsRunning(); }

 protected:
  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }
  // Sleeps ms unless the pin is stopped first; false when it was.
  bool SleepUnlessStopped(uint32_t ms);

 private:
  uint32_t ThreadProc();

  ov::Thread thread_;
  std::atomic<bool> stop_{false};
  ov::Event stop_event_{true, false};
};

}  // namespace dshow
