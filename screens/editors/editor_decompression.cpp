#include "screens/editors/editor_decompression.h"

#include <chrono>
#include <mutex>
#include <utility>

#include "platform/os/event.h"
#include "platform/os/file.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/action_keywords.h"
#include "ui/drop_down_menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int kOptionRenderPercentage = 4;
constexpr int kOptionDecompressionPercentage = 13;
constexpr int kStringTrackProgress = 12;
constexpr auto kCancelPoll = std::chrono::milliseconds(100);
constexpr char16_t kProgressPopup[] = u"DECOMPRESSION_PROGRESS";
constexpr char16_t kFailurePopup[] = u"DECOMPRESSION_FAILURE";

std::function<void(int)>& WorkerProgressHook() {
  static std::function<void(int)> hook;
  return hook;
}

ui::Element* Popup(ui::UiHost* host, const char16_t* name) {
  return host ? host->FindElementByName(nullptr, name, true) : nullptr;
}

}  // namespace

void NameFailedClip(ui::Element* popup, const ov::String& file) {
  auto* box = dynamic_cast<ui::DropDownMenu*>(popup);
  if (!box) return;
  for (const auto& child : box->items()) {
    if (child->GetType() != ui::kTypeTextBox) continue;
    ov::String text = child->text();
    if (const int end = text.Find(u'\n'); end >= 0) text = text.Left(end);
    if (!file.IsEmpty()) text += u"\n" + ov::FileNameOf(file);
    child->OnAction(ui::kActionSetText, text, 0);
    return;
  }
}

// Written by the worker, read by the UI thread's tick.
class EditorDecompression::Sink : public engine::DecodeProgress {
 public:
  void Item(int n, int total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = ov::String::Format(u"%d / %d", n, total);
    percent_ = 0;
    dirty_ = true;
  }
  void Percent(int percent) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      percent_ = percent;
      dirty_ = true;
    }
    if (WorkerProgressHook()) WorkerProgressHook()(percent);
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

void EditorDecompression::SetWorkerProgressHook(std::function<void(int percent)> hook) {
  WorkerProgressHook() = std::move(hook);
}

EditorDecompression::EditorDecompression() : sink_(std::make_unique<Sink>()) {}

EditorDecompression::~EditorDecompression() { Cancel(false); }

void EditorDecompression::Start(ui::UiHost* host, DecompressionJob job) {
  if (!host) return;
  Cancel();
  if (uint32_t* percent = host->NumericOption(kOptionRenderPercentage)) *percent = 0;
  if (ov::String* progress = host->StringOption(kStringTrackProgress)) *progress = ov::String();
  host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  if (ui::Element* popup = host->FindElementByName(nullptr, kProgressPopup, false)) host->OpenPopup(popup);
  targets_ = job.channels;
  copies_.clear();
  for (const ChannelSelection* ch : targets_) {
    copies_.push_back(ch ? engine::CacheClipChannel::CopyOf(*ch) : engine::CacheClipChannel());
  }
  running_.store(true, std::memory_order_release);
  thread_ = std::thread([this, host, job = std::move(job)]() mutable {
    Run(host, std::move(job));
    running_.store(false, std::memory_order_release);
  });
}

void EditorDecompression::Run(ui::UiHost* host, DecompressionJob job) {
  std::vector<engine::CacheChannel*> channels;
  for (engine::CacheClipChannel& copy : copies_) channels.push_back(&copy);
  int ok = 0;
  ov::String failed;  // the clip that could not be decoded, which the failure popup names
  {
    engine::MediaDecompressor decompressor(job.video, channels, job.preview, sink_.get());
    decompressor.SetMode(job.mode);
    decompressor.SetIndexBase(job.index_base);
    ok = decompressor.DecompressAll();
    if (!ok) failed = decompressor.failedFile();
  }
  host->QueueAction(nullptr, ok ? ui::kActionDecompressDone : ui::kActionDecompressFailed, failed, 1);
}

void EditorDecompression::Cancel(bool hand_back) {
  if (!thread_.joinable()) return;
  ov::Event cancel;
  cancel.Create(true, false, ov::String(engine::kCancelDecompressionEvent));
  // The decompressor resets the event when it starts, so it is set again
  // until the worker has ended.
  while (running()) {
    cancel.Set();
    std::this_thread::sleep_for(kCancelPoll);
  }
  cancel.Close();
  if (hand_back) {
    Join();
  } else {
    thread_.join();
    targets_.clear();
    copies_.clear();
  }
}

void EditorDecompression::Join() {
  if (!thread_.joinable()) return;
  thread_.join();
  for (size_t i = 0; i < copies_.size() && i < targets_.size(); ++i) {
    if (targets_[i]) copies_[i].CopyNamesTo(targets_[i]);
  }
  targets_.clear();
  copies_.clear();
}

void EditorDecompression::Tick(ui::UiHost* host) {
  if (started() && !running()) Join();
  ov::String text;
  int percent = 0;
  if (!host || !sink_->Take(&text, &percent)) return;
  if (ov::String* progress = host->StringOption(kStringTrackProgress)) *progress = text;
  if (uint32_t* p = host->NumericOption(kOptionDecompressionPercentage)) *p = static_cast<uint32_t>(percent);
  host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
}

bool EditorDecompression::OnAction(ui::UiHost* host, int32_t code, const ov::String& argument) {
  switch (code) {
    case ui::kActionCancelDecompress:
    case ui::kActionDecompressDone:
    case ui::kActionDecompressFailed:
      if (host) host->SetKeepAwake(false);
      if (code == ui::kActionCancelDecompress) Cancel();
      else Join();
      if (ui::Element* p = Popup(host, kProgressPopup)) host->ClosePopup(p);
      if (code == ui::kActionDecompressFailed) {
        if (ui::Element* p = Popup(host, kFailurePopup)) {
          NameFailedClip(p, argument);
          host->OpenPopup(p);
        }
      }
      return true;
    case ui::kActionDecompressFailureOk:
      if (ui::Element* p = Popup(host, kFailurePopup)) host->ClosePopup(p);
      return true;
    default:
      return false;
  }
}

}  // namespace screens
