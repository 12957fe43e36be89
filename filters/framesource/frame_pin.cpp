#include "filters/framesource/frame_pin.h"

#include "filters/framesource/frame_filter.h"

namespace framesource {

CFramePin::CFramePin(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name)
    : CSourceStream(pin_name, hr, filter, pin_name), config_(ModuleConfig()), owner_(filter) {
  done_event_.Create(false, false, u"Frame Filter Encoding Done");
}

CFramePin::~CFramePin() { done_event_.Close(); }

void CFramePin::EndStream() {
  ended_.store(true, std::memory_order_release);
  owner_->OnPinEnded(done_event_);
}

HRESULT CFramePin::OnThreadDestroy() {
  EndStream();  // also after an error or a failed delivery
  return com::S_OK;
}

HRESULT CFramePin::DecideSingleBuffer(dshow::IMemAllocator* allocator, dshow::ALLOCATOR_PROPERTIES* request,
                                      uint32_t bytes) {
  if (!allocator || !request) return com::E_POINTER;
  if (ConnectionType().cbFormat == 0 || bytes == 0 || bytes > 0x7FFFFFFFu) return com::E_FAIL;
  request->cBuffers = 1;
  request->cbBuffer = static_cast<int32_t>(bytes);
  dshow::ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (com::Failed(hr)) return hr;
  return actual.cbBuffer < static_cast<int32_t>(bytes) ? com::E_FAIL : com::S_OK;
}

}  // namespace framesource
