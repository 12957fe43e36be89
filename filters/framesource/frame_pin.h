#pragma once
// CFramePin: what the two pins of the frame source filter share: the copy of
// the configuration, the "Frame Filter Encoding Done" event, the end of the
// pin's stream (the filter sets the event once every connected pin has
// ended) and a one-buffer allocator request.
//
// Thread: EndStream and OnThreadDestroy on the pin's thread.

#include <atomic>
#include <cstdint>

#include "filters/framesource/framesource.h"
#include "platform/dshow/source.h"
#include "platform/os/event.h"

namespace framesource {

using com::HRESULT;

class CFrameFilter;

class CFramePin : public dshow::CSourceStream {
 public:
  // Copies the configuration that Initialize stored and opens the event
  // (creating it, auto-reset and not set, when absent).
  CFramePin(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name);
  ~CFramePin() override;

  HRESULT OnThreadDestroy() override;

  // Whether the pin's stream has ended in this run.
  bool Ended() const { return ended_.load(std::memory_order_acquire); }
  // A new run starts (the filter leaves the stopped state).
  void ResetEnded() {
    ended_.store(false, std::memory_order_release);
    pending_stop_ = 0;
    delivered_stop_.store(0, std::memory_order_release);
  }
  // The stop time (100-ns units) of the last sample that the pin's
  // downstream has taken: the encoder and the writer behind it take each
  // sample before the delivery returns.
  int64_t DeliveredStop() const { return delivered_stop_.load(std::memory_order_acquire); }

 protected:
  // The stream ends: called before the end of stream goes down, so that
  // whoever sees the graph complete finds the event set.
  void EndStream();
  // At the start of each fill: the sample filled before has been delivered
  // (the pin's thread delivers it before it asks for the next).
  void MarkDelivered() { delivered_stop_.store(pending_stop_, std::memory_order_release); }
  // The sample being filled ends at stop once delivered.
  void SetPendingStop(int64_t stop) { pending_stop_ = stop; }
  // One buffer of bytes: E_FAIL without a connection format block or when
  // the allocator grants less; the allocator's own failure as it is.
  HRESULT DecideSingleBuffer(dshow::IMemAllocator* allocator, dshow::ALLOCATOR_PROPERTIES* request, uint32_t bytes);

  const FrameFilterConfig config_;
  CFrameFilter* const owner_;

 private:
  ov::Event done_event_;
  std::atomic<bool> ended_{false};
  int64_t pending_stop_ = 0;  // the pin's thread only
  std::atomic<int64_t> delivered_stop_{0};
};

}  // namespace framesource
