// The mixer's decoding to cache: on entering the screen the clips whose
// caches are missing are decoded on a worker behind a progress popup; the
// result comes back as action 339 or 340 through the shell's queue.
#include <chrono>
#include <mutex>
#include <vector>

#include "engine/media_decompressor.h"
#include "engine/mix_engine.h"
#include "screens/channel_selection.h"
#include "screens/mixer.h"
#include "ui/action_keywords.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int kOptionRenderPercentage = 4;
constexpr int kOptionDecompressionPercentage = 13;
constexpr int kStringTrackProgress = 12;
constexpr auto kCancelPoll = std::chrono::milliseconds(100);

}  // namespace

// Written by the worker, read by the UI thread's tick.
class Mixer::DecodeSink : public engine::DecodeProgress {
 public:
  void Item(int n, int total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = ov::String::Format(u"%d / %d", n, total);
    percent_ = 0;
    dirty_ = true;
  }
  void Percent(int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    percent_ = percent;
    dirty_ = true;
  }
  // The latest progress when it changed since the last call.
  bool Take(ov::String* text, int* percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dirty_) return false;
    dirty_ = false;
    *text = text_;
    *percent = percent_;
    return true;
  }

 private:
  std::mutex mutex_;
  ov::String text_;
  int percent_ = 0;
  bool dirty_ = false;
};

int Mixer::CountPendingCacheItems() const {
  int n = 0;
  for (int i = 0; i < channel_count_; ++i) {
    const ChannelSelection* ch = table_[size_t(i)].channel;
    if (!ch) continue;
    for (int c = 0; c < ch->ClipCount(); ++c) {
      n += ch->ClipNeedsPictureCache(c, false) + ch->ClipNeedsAudioCache(c) + ch->ClipNeedsOverlayCache(c);
    }
    n += ch->NeedsEffectCache();
  }
  return n;
}

void Mixer::StartDecompression() {
  ui::UiHost* host = ui::Host();
  if (host && !decoding() && CountPendingCacheItems() > 0) {
    if (uint32_t* percent = host->NumericOption(kOptionRenderPercentage)) *percent = 0;
    if (ov::String* progress = host->StringOption(kStringTrackProgress)) *progress = ov::String();
    host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
    if (ui::Element* popup = host->FindElementByName(nullptr, u"DECOMPRESSION_PROGRESS", false)) {
      host->OpenPopup(popup);
    }
    JoinDecompression();
    decode_copies_.clear();
    for (int i = 0; i < channel_count_; ++i) {
      const ChannelSelection* ch = table_[size_t(i)].channel;
      decode_copies_.push_back(ch ? engine::CacheClipChannel::CopyOf(*ch) : engine::CacheClipChannel());
    }
    if (!decode_sink_) decode_sink_ = std::make_shared<DecodeSink>();
    decoding_.store(true, std::memory_order_release);
    engine::VideoMixer* video = engine_ ? engine_->videoMixer() : nullptr;
    decompression_thread_ = std::thread([this, host, video] {
      DecompressAll(host, video);
      decoding_.store(false, std::memory_order_release);
    });
  }
  PrepareBeatMatching();
  if (host) host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  for (int i = 0; i < channel_count_; ++i) ShowClipName(i);
}

// On the worker: decodes the copies of the table and queues the result for
// the UI thread.
void Mixer::DecompressAll(ui::UiHost* host, const engine::VideoMixer* video) {
  std::vector<engine::CacheChannel*> channels;
  for (engine::CacheClipChannel& copy : decode_copies_) channels.push_back(&copy);
  int ok = 0;
  ov::String failed;  // the clip that could not be decoded, which the failure popup names
  {
    engine::MediaDecompressor decompressor(video, channels, false, decode_sink_.get());
    ok = decompressor.DecompressAll();
    if (!ok) failed = decompressor.failedFile();
  }
  if (host) host->QueueAction(nullptr, ok ? kActionDecompressDone : kActionDecompressFailed, failed, 1);
}

void Mixer::PublishDecodeProgress() {
  ui::UiHost* host = ui::Host();
  ov::String text;
  int percent = 0;
  if (!host || !decode_sink_ || !decode_sink_->Take(&text, &percent)) return;
  if (ov::String* progress = host->StringOption(kStringTrackProgress)) *progress = text;
  if (uint32_t* p = host->NumericOption(kOptionDecompressionPercentage)) *p = static_cast<uint32_t>(percent);
  host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
}

void Mixer::CancelDecompression(bool keep) {
  if (!decompression_thread_.joinable()) return;
  ov::Event cancel;
  cancel.Create(true, false, ov::String(engine::kCancelDecompressionEvent));
  // The decompressor resets the event when it starts, so it is set again
  // until the worker has ended.
  while (decoding()) {
    cancel.Set();
    std::this_thread::sleep_for(kCancelPoll);
  }
  cancel.Close();
  if (keep) JoinDecompression();
  else decompression_thread_.join();
}

void Mixer::JoinDecompression() {
  if (!decompression_thread_.joinable()) return;
  decompression_thread_.join();
  for (size_t i = 0; i < decode_copies_.size() && i < size_t(channel_count_); ++i) {
    if (ChannelSelection* ch = table_[i].channel) decode_copies_[i].CopyNamesTo(ch);
  }
  decode_copies_.clear();
}

}  // namespace screens
