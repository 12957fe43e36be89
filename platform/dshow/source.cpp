#include "platform/dshow/source.h"

namespace dshow {

CSource::CSource(const char16_t* object_name, const GUID& clsid) : BaseFilter(object_name, clsid) {}

CSource::~CSource() { DeletePins(); }

BasePin* CSource::GetPin(int n) {
  return n >= 0 && n < static_cast<int>(pins_.size()) ? pins_[static_cast<size_t>(n)] : nullptr;
}

void CSource::AddPin(CSourceStream* pin) {
  if (pin) pins_.push_back(pin);
}

void CSource::DeletePins() {
  for (CSourceStream* pin : pins_) delete pin;
  pins_.clear();
}

CSourceStream::CSourceStream(const char16_t*, HRESULT*, CSource* filter, const char16_t* pin_name)
    : BaseOutputPin(filter, pin_name) {}

CSourceStream::~CSourceStream() {
  stop_.store(true, std::memory_order_release);
  stop_event_.Set();
  thread_.Join();
}

HRESULT CSourceStream::Active() {
  HRESULT hr = BaseOutputPin::Active();
  if (com::Failed(hr)) return hr;
  if (thread_.IsRunning()) return com::S_OK;
  thread_.Join();
  stop_.store(false, std::memory_order_release);
  stop_event_.Reset();
  if (!thread_.Start([this] { return ThreadProc(); })) return com::E_FAIL;
  return com::S_OK;
}

HRESULT CSourceStream::Inactive() {
  stop_.store(true, std::memory_order_release);
  stop_event_.Set();
  BaseOutputPin::Inactive();  // wakes a wait for a buffer
  thread_.Join();
  return com::S_OK;
}

bool CSourceStream::SleepUnlessStopped(uint32_t ms) {
  if (StopRequested()) return false;
  return stop_event_.Wait(ms) == ov::kWaitTimeout;
}

uint32_t CSourceStream::ThreadProc() {
  if (com::Failed(OnThreadCreate())) {
    DeliverEndOfStream();
    OnThreadDestroy();
    return 1;
  }
  OnThreadStartPlay();
  while (!StopRequested()) {
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, AM_GBF_NOWAIT);
    if (hr == VFW_E_TIMEOUT) {
      SleepUnlessStopped(1);
      continue;
    }
    if (com::Failed(hr)) break;
    hr = FillBuffer(sample);
    if (hr == com::S_OK) {
      hr = Deliver(sample);
      sample->Release();
      if (hr == com::S_OK) continue;
      if (!StopRequested()) {
        // A downstream filter that fails ends the graph with the abort;
        // one that wants no more (S_FALSE) ends the stream as the source's
        // own end does.
        if (com::Failed(hr)) {
          Filter()->NotifyEvent(EC_ERRORABORT, hr, 0);
        } else {
          DeliverEndOfStream();
        }
      }
      break;
    }
    sample->Release();
    if (!StopRequested()) {
      // The abort goes first, so that the graph completes with it rather
      // than with the EC_COMPLETE that the end of stream brings.
      if (com::Failed(hr)) Filter()->NotifyEvent(EC_ERRORABORT, hr, 0);
      DeliverEndOfStream();
    }
    break;
  }
  OnThreadDestroy();
  return 0;
}

}  // namespace dshow
