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
  void ResetEnded() { ended_.store(false, std::memory_order_release); }

 protected:
  // The stream ends: called before the end of stream goes down, so that
  // whoever sees the graph complete finds the event set.
  void EndStream();
  // One buffer of bytes: E_FAIL without a connection format block or when
  // the allocator grants less; the allocator's own failure as it is.
  HRESULT DecideSingleBuffer(dshow::IMemAllocator* allocator, dshow::ALLOCATOR_PROPERTIES* request, uint32_t bytes);

  const FrameFilterConfig config_;
  CFrameFilter* const owner_;

 private:
  ov::Event done_event_;
  std::atomic<bool> ended_{false};
};

}  // namespace framesource
