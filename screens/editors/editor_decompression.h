#pragma once
// EditorDecompression: the decoding-to-cache worker of the mixer and the
// clip editors. A screen that needs cache files before it can play hands it
// the channels to decode; it shows the "DECOMPRESSION_PROGRESS" popup, runs
// one engine::MediaDecompressor on a worker over copies of the channels
// (engine::CacheClipChannel::CopyOf), so that the screen keeps its own
// clips while the worker writes, and queues the result for the UI thread:
// 339 when every cache was written, 340 (naming the clip that failed) when
// one failed or the run was cancelled. The cache names reach the channel
// elements on the UI thread once the worker has ended (Join).
//
// A cancel sets the named event "CANCEL_DECOMPRESSION" every 100 ms until
// the worker has ended (the decompressor resets the event when it starts,
// so one setting could be lost), then joins it. Destruction cancels and
// joins a running worker and hands nothing back: the channels may already
// be gone.
//
// Thread: every method on the UI thread. Shared with the worker: the
// channel copies (written before it starts, read back after it is joined),
// the running flag (atomic) and the progress (under the sink's lock).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/media_decompressor.h"
#include "platform/os/ov_string.h"

namespace ui {
class Element;
class UiHost;
}  // namespace ui

namespace screens {

class ChannelSelection;

// What one run decodes.
struct DecompressionJob {
  // The channels in their table's order; a null entry stands for an empty
  // channel (its index still counts in the cache names).
  std::vector<ChannelSelection*> channels;
  // Frame size and rate of the picture caches (null: the live picture's).
  // Read by the worker: it must outlive the run.
  const engine::VideoMixer* video = nullptr;
  // Writes the second picture caches (uncut, uncropped) and no overlays.
  bool preview = false;
  uint32_t mode = engine::MediaDecompressor::kAll;
  // The table index of the first channel, which the cache names carry.
  int index_base = 0;
};

// Sets the failure popup's text to its first line and, below it, the name
// of `file` (nothing more when empty).
void NameFailedClip(ui::Element* popup, const ov::String& file);

class EditorDecompression {
 public:
  EditorDecompression();
  ~EditorDecompression();
  EditorDecompression(const EditorDecompression&) = delete;
  EditorDecompression& operator=(const EditorDecompression&) = delete;

  // Cancels a running worker (its names handed back), resets the progress
  // options, opens "DECOMPRESSION_PROGRESS" and starts the worker on `job`.
  // Nothing without a host.
  void Start(ui::UiHost* host, DecompressionJob job);
  // Ends a running worker as above and waits for it; `hand_back` gives the
  // caches it wrote to the channels (false: the channels are going away).
  void Cancel(bool hand_back = true);
  // Waits for the worker to end and hands its cache names to the channels;
  // nothing when none was started.
  void Join();
  // Tick: copies the worker's latest progress into the options, and joins
  // a worker that has ended (its result may reach another screen).
  void Tick(ui::UiHost* host);
  // The popup codes: 338 cancels, 339 and 340 end the run (340 shows
  // "DECOMPRESSION_FAILURE" naming the clip in `argument`), 341 closes the
  // failure popup. False for any other code.
  bool OnAction(ui::UiHost* host, int32_t code, const ov::String& argument);

  // The worker is decoding (any thread may ask).
  bool running() const { return running_.load(std::memory_order_acquire); }
  // A worker was started and not yet joined.
  bool started() const { return thread_.joinable(); }

  // Tests: called on the worker with each percent the decoder reports, so a
  // test can hold the worker at a known point of its work (e.g. until the
  // cancel event is set) instead of racing it. Set it before the worker
  // starts and clear it (null) after the worker has ended.
  static void SetWorkerProgressHook(std::function<void(int percent)> hook);

 private:
  class Sink;
  // On the worker: decodes the copies and queues 339 or 340.
  void Run(ui::UiHost* host, DecompressionJob job);

  std::thread thread_;
  std::atomic<bool> running_{false};
  // The channels the copies came from, to which the names go back.
  std::vector<ChannelSelection*> targets_;
  std::vector<engine::CacheClipChannel> copies_;
  std::unique_ptr<Sink> sink_;
};

}  // namespace screens
