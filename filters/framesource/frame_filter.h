#pragma once
// CFrameFilter: the source filter with the video pin "FrameFilter Video
// Output" (its first pin) and the audio pin "FrameFilter Audio Output", and
// GetFrame, through which both pins pull the application's frames.
//
// GetFrame calls the callback once, under the named mutex "GetFrame mutex",
// and queues what it returns: the frame on the video queue, the PCM chunk on
// the audio queue (or frees the chunk at once while the audio pin is not
// connected). A video ring slot stays busy from the call that fills it until
// the video pin has copied it; while the slot due next is busy, the audio
// pin waits in GetFrame (outside the mutex) and the video pin, whose queue
// then holds frames, returns at once. The end flag is set by the callback's
// 0 and cleared when a video pin is made.
//
// The audio queue is bounded too: while it holds kMaxQueuedChunks chunks
// for a running audio pin, the video pin waits in GetFrame (outside the
// mutex) until the audio pin takes one. The mix is thus rendered only a few
// frames ahead of what the encoders and the writer have taken, whichever of
// the two streams is slower to encode. Once the audio pin's stream has
// ended (the mix's end, a downstream that takes no more, or a failed
// delivery) no chunk is queued for it and the bound is lifted, so the video
// stream runs to its own end.
//
// Thread: GetFrame and the pins' stream calls on the pin threads; the rest
// on the graph's thread.

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "filters/framesource/frame_queue.h"
#include "filters/framesource/framesource.h"
#include "platform/dshow/filter_registration.h"
#include "platform/dshow/source.h"

namespace framesource {

using com::GUID;
using com::HRESULT;

class CFilterInterfaceStream;
class CFilterInterfaceStreamAudio;

// Module state: what Initialize stored.
int InitializeModule(FrameCallback callback, const FrameFilterConfig& config);
FrameFilterConfig ModuleConfig();
bool EndFlag();
void SetEndFlag(bool set);

// Test hook: the video pin's first-fill pauses (100 ms for RGB565, 3000 ms
// for RGB555) become these.
void SetFirstFillDelaysForTesting(uint32_t rgb565_ms, uint32_t rgb555_ms);
uint32_t FirstFillDelay(bool rgb555);

// The time, in ms, up to which every connected pin of the filter made last
// (and still alive) has delivered its samples downstream; -1 without a
// filter.
int DeliveredTimeMs();

// Chunks the audio queue holds at most while the video pin renders ahead.
inline constexpr int kMaxQueuedChunks = 8;

// The class factory template of the plug-in.
extern const dshow::CFactoryTemplate kFactoryTemplates[1];

class CFrameFilter final : public dshow::CSource {
 public:
  // Creation function of the factory template.
  static com::IUnknown* CreateInstance(com::IUnknown* outer, HRESULT* hr);

  HRESULT Stop() override;
  HRESULT Pause() override;

  // Pulls one frame step; see above. The result is 0 once the mix has ended.
  int GetFrame(const FrameFilterConfig& config, bool from_video_pin);

  CFrameQueue& AudioQueue() { return audio_queue_; }
  CFrameQueue& VideoQueue() { return video_queue_; }
  CFilterInterfaceStream* VideoPin() const { return video_pin_; }
  CFilterInterfaceStreamAudio* AudioPin() const { return audio_pin_; }
  bool Stopping() const { return stopping_.load(std::memory_order_acquire); }

  // A video slot was copied or a queue shrank: wakes GetFrame and the audio
  // pin's pacing.
  void NotifyQueueChange();
  // Waits at most ms for NotifyQueueChange or a stop.
  void WaitQueueChange(uint32_t ms);
  // A pin's thread ended: what is still queued for an ended pin is freed;
  // once every connected pin has ended with its queue empty, the done event
  // is set (once per run, never while stopping).
  void OnPinEnded(ov::Event& done_event);
  // See DeliveredTimeMs.
  int DeliveredMs() const;

 private:
  CFrameFilter();
  ~CFrameFilter() override;
  // The audio pin runs and its queue is full: the video pin waits.
  bool AudioBacklogFull() const;
  // Frees the records queued for a pin whose stream has ended.
  void DropQueuedForEndedPins();

  // Queues declared before the pins: the pins free their records on destruction.
  CFrameQueue audio_queue_;
  CFrameQueue video_queue_;
  CFilterInterfaceStream* video_pin_ = nullptr;
  CFilterInterfaceStreamAudio* audio_pin_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> done_signalled_{false};
  std::mutex change_lock_;
  std::condition_variable changed_;
  uint64_t change_count_ = 0;  // under change_lock_
};

}  // namespace framesource
