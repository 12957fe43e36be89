#include "filters/framesource/frame_filter.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>

#include "filters/framesource/filter_interface_stream.h"
#include "filters/framesource/filter_interface_stream_audio.h"
#include "platform/dshow/media_type.h"
#include "platform/os/debug_output.h"
#include "platform/os/mutex.h"

namespace framesource {
namespace {

// What Initialize stored. The words are written before any filter exists
// (the pins copy them when made); the callback and the end flag are read by
// the pin threads.
struct ModuleState {
  std::atomic<FrameCallback> callback{nullptr};
  FrameFilterConfig config{};
  ov::Mutex mutex;  // "GetFrame mutex"
  std::atomic<bool> end_flag{false};
  std::atomic<uint32_t> first_fill_rgb565_ms{100};
  std::atomic<uint32_t> first_fill_rgb555_ms{3000};
  std::mutex live_lock;
  CFrameFilter* live = nullptr;  // the filter made last, under live_lock
};

ModuleState& Module() {
  static ModuleState state;
  return state;
}

constexpr dshow::AMOVIESETUP_MEDIATYPE kAudioPinTypes[] = {
    {&dshow::MEDIATYPE_PrivateAudio, &dshow::MEDIASUBTYPE_PCM}};
constexpr dshow::AMOVIESETUP_MEDIATYPE kVideoPinTypes[] = {{&dshow::MEDIATYPE_Video, &dshow::MEDIASUBTYPE_RGB565}};
constexpr dshow::AMOVIESETUP_PIN kSetupPins[] = {
    {u"Audio output", false, true, false, false, &com::GUID_NULL, nullptr, 1, kAudioPinTypes},
    {u"Output", false, true, false, false, &com::GUID_NULL, nullptr, 1, kVideoPinTypes},
};
constexpr dshow::AMOVIESETUP_FILTER kSetupFilter = {&CLSID_FrameFilter, u"Frame Filter Pin", dshow::MERIT_UNLIKELY, 2,
                                                    kSetupPins};

}  // namespace

const dshow::CFactoryTemplate kFactoryTemplates[1] = {
    {u"Frame Filter", &CLSID_FrameFilter, CFrameFilter::CreateInstance, nullptr, &kSetupFilter}};

int InitializeModule(FrameCallback callback, const FrameFilterConfig& config) {
  if (!callback) return 0;
  // A frame rate of 0 or an audio rate of 0 bytes per second would divide by
  // zero in the pins; a frame that does not fit a sample cannot be carried.
  if (config.FramesPerSecond == 0 || AudioBytesPerSecond(config) == 0 || FrameBytes(config) == 0) return 0;
  ModuleState& s = Module();
  s.config = config;
  s.callback.store(callback, std::memory_order_release);
  // A second Initialize keeps the handle: it names the same mutex.
  if (!s.mutex.IsValid() && !s.mutex.Create(false, u"GetFrame mutex")) return 0;
  return 1;
}

FrameFilterConfig ModuleConfig() { return Module().config; }
bool EndFlag() { return Module().end_flag.load(std::memory_order_acquire); }
void SetEndFlag(bool set) { Module().end_flag.store(set, std::memory_order_release); }

void SetFirstFillDelaysForTesting(uint32_t rgb565_ms, uint32_t rgb555_ms) {
  Module().first_fill_rgb565_ms = rgb565_ms;
  Module().first_fill_rgb555_ms = rgb555_ms;
}

int DeliveredTimeMs() {
  ModuleState& s = Module();
  std::lock_guard<std::mutex> hold(s.live_lock);
  return s.live ? s.live->DeliveredMs() : -1;
}

uint32_t FirstFillDelay(bool rgb555) {
  return rgb555 ? Module().first_fill_rgb555_ms.load() : Module().first_fill_rgb565_ms.load();
}

com::IUnknown* CFrameFilter::CreateInstance(com::IUnknown*, HRESULT* hr) {
  CFrameFilter* filter = new (std::nothrow) CFrameFilter;
  if (!filter) {
    if (hr) *hr = com::E_OUTOFMEMORY;
    return nullptr;
  }
  return static_cast<dshow::IBaseFilter*>(filter);
}

CFrameFilter::CFrameFilter() : CSource(u"Frame Filter CSource", CLSID_FrameFilter) {
  HRESULT hr = com::S_OK;
  // A pin that cannot be made stays null; the filter works without it.
  video_pin_ = new (std::nothrow) CFilterInterfaceStream(&hr, this, u"FrameFilter Video Output");
  audio_pin_ = new (std::nothrow) CFilterInterfaceStreamAudio(&hr, this, u"FrameFilter Audio Output");
  AddPin(video_pin_);
  AddPin(audio_pin_);
  std::lock_guard<std::mutex> hold(Module().live_lock);
  Module().live = this;
}

CFrameFilter::~CFrameFilter() {
  {
    std::lock_guard<std::mutex> hold(Module().live_lock);
    if (Module().live == this) Module().live = nullptr;
  }
  Stop();
  // Video pin first, then audio; each frees what is still queued for it.
  DeletePins();
  video_pin_ = nullptr;
  audio_pin_ = nullptr;
}

HRESULT CFrameFilter::Stop() {
  stopping_.store(true, std::memory_order_release);
  NotifyQueueChange();
  return CSource::Stop();
}

HRESULT CFrameFilter::Pause() {
  if (State() == dshow::FilterState::kStopped) {
    stopping_.store(false, std::memory_order_release);
    done_signalled_.store(false, std::memory_order_release);
    if (video_pin_) video_pin_->ResetEnded();
    if (audio_pin_) audio_pin_->ResetEnded();
  }
  return CSource::Pause();
}

void CFrameFilter::NotifyQueueChange() {
  {
    std::lock_guard<std::mutex> hold(change_lock_);
    ++change_count_;
  }
  changed_.notify_all();
}

void CFrameFilter::WaitQueueChange(uint32_t ms) {
  std::unique_lock<std::mutex> hold(change_lock_);
  const uint64_t seen = change_count_;
  changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return change_count_ != seen || Stopping(); });
}

void CFrameFilter::DropQueuedForEndedPins() {
  // An ended pin takes nothing more: what is queued for it would stay, and
  // hold the done event back, until the filter goes.
  if (audio_pin_ && audio_pin_->Ended()) {
    while (FrameRecord* record = audio_queue_.Pop()) {
      ::operator delete(record->buffer);
      delete record;
    }
  }
  if (video_pin_ && video_pin_->Ended()) {
    while (FrameRecord* record = video_queue_.Pop()) {
      video_pin_->ReleaseSlot(record->buffer);
      delete record;
    }
  }
  NotifyQueueChange();
}

void CFrameFilter::OnPinEnded(ov::Event& done_event) {
  if (Stopping()) return;
  DropQueuedForEndedPins();
  if (video_pin_ && video_pin_->IsConnected() && (!video_pin_->Ended() || video_queue_.Count() != 0)) return;
  if (audio_pin_ && audio_pin_->IsConnected() && (!audio_pin_->Ended() || audio_queue_.Count() != 0)) return;
  if (!done_signalled_.exchange(true, std::memory_order_acq_rel)) done_event.Set();
}

int CFrameFilter::DeliveredMs() const {
  int64_t slowest = INT64_MAX;
  for (const CFramePin* pin : {static_cast<const CFramePin*>(video_pin_), static_cast<const CFramePin*>(audio_pin_)}) {
    if (pin && pin->IsConnected()) slowest = std::min(slowest, pin->DeliveredStop());
  }
  if (slowest == INT64_MAX) return 0;
  return static_cast<int>(std::clamp<int64_t>(slowest / 10000, 0, INT32_MAX));
}

bool CFrameFilter::AudioBacklogFull() const {
  return audio_pin_ && audio_pin_->IsConnected() && !audio_pin_->Ended() &&
         audio_queue_.Count() >= kMaxQueuedChunks;
}

int CFrameFilter::GetFrame(const FrameFilterConfig& config, bool from_video_pin) {
  ModuleState& s = Module();
  for (;;) {
    if (EndFlag()) return 0;
    if (Stopping()) return 1;
    if (from_video_pin && AudioBacklogFull()) {
      // The sound of the frames already rendered waits for its encoder:
      // render no further ahead until the audio pin takes a chunk.
      WaitQueueChange(100);
      continue;
    }
    const uint32_t wait = s.mutex.Wait(ov::kInfinite);
    if (wait != ov::kWaitObject0 && wait != ov::kWaitAbandoned0) return EndFlag() ? 0 : 1;
    unsigned char* video = nullptr;
    int slot = -1;
    CFilterInterfaceStream* video_pin = video_pin_;
    // A video pin whose thread has ended takes no more frames: the callback
    // then gets no buffer, as without a ring.
    if (video_pin && video_pin->RingSize() != 0 && !video_pin->Ended()) {
      slot = video_pin->TakeSlot(&video);
      if (slot < 0) {
        s.mutex.Release();
        // The slot due next is still queued or being copied. The video pin
        // has frames to take; the audio pin waits for the copy.
        if (from_video_pin) return 1;
        WaitQueueChange(100);
        continue;
      }
    }
    unsigned char* const handed = video;
    unsigned char* audio = nullptr;
    int audio_bytes = 0;
    int time_ms = 0;
    FrameCallback callback = s.callback.load(std::memory_order_acquire);
    const int result = callback ? callback(&video, &audio, &audio_bytes, &time_ms) : 0;
    if (result == 0) {
      SetEndFlag(true);
      if (handed) video_pin->ReleaseSlot(handed);
    } else {
      if (audio_bytes != 0) {
        // The chunk is ours; it is queued only for a connected audio pin
        // whose stream goes on (an ended one would never take it).
        bool queued = false;
        if (audio_bytes > 0 && audio_pin_ && audio_pin_->IsConnected() && !audio_pin_->Ended()) {
          auto* record = new (std::nothrow) FrameRecord{audio, time_ms, audio_bytes};
          queued = audio_queue_.Push(record);
          if (!queued) delete record;
        }
        if (!queued) ::operator delete(audio);
      }
      if (handed && video != handed) video_pin->ReleaseSlot(handed);
      if (video) {
        auto* record = new (std::nothrow) FrameRecord{video, time_ms, static_cast<int32_t>(FrameBytes(config))};
        if (!video_queue_.Push(record)) {
          delete record;
          if (video == handed) video_pin->ReleaseSlot(handed);
        }
      }
    }
    s.mutex.Release();
    return EndFlag() ? 0 : 1;
  }
}

}  // namespace framesource
