// The mixer's side of a render: the output name and extension, the project
// saved as "temp.mix", the render process started with -p, -o and -e, its
// progress and result followed through the render queue on a thread of its
// own, cancelling, a render that goes on across a rotation, and sending the
// file with the messaging program.
//
// The screen's data is touched on the UI thread only: the project is saved
// and the process started there; the render thread only reads the queue,
// queues the percentage for its option and 336 (done) or 337 (failed). A
// render counts as done only when a non-zero result was read once the
// process had ended; anything else deletes what is left of the output.
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/export_job.h"
#include "engine/mix_engine.h"
#include "engine/render_queue.h"
#include "platform/os/environment.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"
#include "platform/os/pending_delete.h"
#include "platform/os/process.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"
#include "platform/ui/dialogs.h"
#include "screens/mixer/mixer.h"
#include "screens/project/render_project.h"
#include "ui/action_keywords.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int kOptionRenderPercentage = 4;
constexpr uint32_t kIdleSleepMs = 5;
constexpr uint32_t kResumeDelayMs = 2000;
constexpr char16_t kAacKey[] = u"Software\\Microsoft\\Shell\\Extensions\\EventSounds\\aac";
constexpr char kMessagingVariable[] = "OVMIX_MESSAGING";
constexpr char kDefaultMessaging[] = "xdg-email --attach";

// The render queue's reader lives outside the screens: it is opened before
// the render process starts and kept across a rotation, so that nothing the
// process writes is lost while no screen reads (the queue exists only while
// some process holds it open).
std::mutex g_readerMutex;
std::unique_ptr<engine::RenderQueue> g_reader;

// The outcome of a render whose process has ended, kept until the next
// render starts: the result is queued for the screens, and a rotation that
// replaces them first drops it with their queue; the new screens' mixer
// then finds it here.
struct Outcome {
  uint32_t process;
  bool ok;
};
std::optional<Outcome> g_outcome;

void KeepOutcome(uint32_t process, bool ok) {
  std::lock_guard<std::mutex> lock(g_readerMutex);
  g_outcome = Outcome{process, ok};
}

std::optional<bool> KeptOutcome(uint32_t process) {
  std::lock_guard<std::mutex> lock(g_readerMutex);
  if (g_outcome && g_outcome->process == process) return g_outcome->ok;
  return std::nullopt;
}

engine::RenderQueue* OpenReader() {
  std::lock_guard<std::mutex> lock(g_readerMutex);
  g_outcome.reset();
  if (!g_reader) g_reader = std::make_unique<engine::RenderQueue>(true);
  // Whatever an earlier render left is not this render's.
  while (g_reader->Receive(0).kind != engine::kRenderNothing) {
  }
  return g_reader.get();
}

engine::RenderQueue* Reader() {
  std::lock_guard<std::mutex> lock(g_readerMutex);
  return g_reader.get();
}

void CloseReader() {
  std::lock_guard<std::mutex> lock(g_readerMutex);
  g_reader.reset();
}

bool ProcessRunning(uint32_t process) {
  uint32_t code = 0;
  return process != 0 && ov::GetExitCodeOfProcess(process, &code) && code == ov::kErrorStillActive;
}

void QueueResult(bool ok) {
  if (ui::UiHost* host = ui::Host()) {
    host->QueueAction(nullptr, ok ? ui::kActionRenderDone : ui::kActionRenderFailed, ov::String(), 1);
  }
}

// Takes one message: the percentage queued for its option, a result
// remembered in `result`.
void TakeMessage(const engine::RenderMessage& m, int* result) {
  if (m.kind == engine::kRenderResult) {
    *result = m.value;
  } else if (m.kind == engine::kRenderProgress) {
    // The option is set on the UI thread, which then refreshes what shows it.
    if (ui::UiHost* host = ui::Host()) {
      host->QueueAction(nullptr, ui::kActionSetAttribute,
                        ov::String::Format(u"RenderPercentage=%u", std::min<uint32_t>(m.value, 100)), 1);
    }
  }
}

// Everything left in the queue once the process has ended; true for a
// non-zero result among it (or one read before).
bool DrainForResult(int result) {
  if (engine::RenderQueue* reader = Reader()) {
    for (engine::RenderMessage m = reader->Receive(0); m.kind != engine::kRenderNothing; m = reader->Receive(0)) {
      TakeMessage(m, &result);
    }
  }
  return result > 0;
}

ui::Element* CurrentPopup(const char16_t* name) {
  ui::UiHost* host = ui::Host();
  return host ? host->FindElementByName(nullptr, name, true) : nullptr;
}

}  // namespace

engine::OutputOptions ToOutputOptions(const OutputSettings& s) {
  engine::OutputOptions o;
  o.type = static_cast<uint32_t>(s[kWizardMediaType]);
  o.size = static_cast<uint32_t>(s[kWizardMediaSize]);
  o.dimension = static_cast<uint32_t>(s[kWizardMediaDimension]);
  o.fps = static_cast<uint32_t>(s[kWizardMediaFps]);
  o.audioRate = static_cast<uint32_t>(s[kWizardMediaAudioRate]);
  o.bps = static_cast<uint32_t>(s[kWizardMediaBps]);
  o.length = static_cast<uint32_t>(s[kWizardMediaLength]);
  o.codec = static_cast<uint32_t>(s[kWizardMediaCodec]);
  return o;
}

ov::String Mixer::OutputExtension(bool for_device) const {
  if (!engine_) return ov::String();
  const engine::ExportSettings s = engine_->GetExportSettings(ToOutputOptions(settings_), render_target_, false);
  switch (s.videoCodec) {
    case engine::kVideoCodecH263:
      return u".3gp";
    case engine::kVideoCodecOutside:
    case engine::kVideoCodecMpeg4:
      return u".mp4";
    case engine::kVideoCodecWmv:
      return u".wmv";
    case engine::kCodecNone:
      break;
    default:
      return ov::String();
  }
  switch (s.audioCodec) {
    case engine::kAudioCodecWma:  // sound alone: PCM
      return u".wav";
    case engine::kAudioCodecAmr:
    case engine::kAudioCodecAmrToo:
      return u".amr";
    case engine::kAudioCodecAac:
      // A device that cannot play AAC sounds keeps WAV.
      if (for_device && !ov::RegistryKeyExists(ov::RegistryRoot::kLocalMachine, kAacKey)) return u".wav";
      return u".aac";
    default:
      return ov::String();
  }
}

namespace {

// What the settings ask for, named as the output screen names it:
// "MP4 with PCM sound".
ov::String DescribeOutput(const ov::String& ext, const engine::ExportSettings& s) {
  if (ext.IsEmpty()) return u"No kind of file";
  ov::String file = ext.Mid(1);
  file.MakeUpper();
  switch (s.audioCodec) {
    case engine::kCodecNone:
      return file + u" without sound";
    case engine::kAudioCodecWma:
      return file + (ext == u".wmv" ? u" with WMA sound" : u" with PCM sound");
    case engine::kAudioCodecAac:
      return file + u" with AAC sound";
    case engine::kAudioCodecAmr:
    case engine::kAudioCodecAmrToo:
      return file + u" with AMR sound";
    default:
      return file + ov::String::Format(u" with sound codec %u", s.audioCodec);
  }
}

}  // namespace

bool Mixer::CheckOutputChoice() {
  const ov::String ext = OutputExtension(render_target_ == 0);
  // The settings the render will get: a job may take the extension but not
  // the codecs chosen with it.
  const engine::ExportSettings s =
      engine_ ? engine_->GetExportSettings(ToOutputOptions(settings_), render_target_, false) : engine::ExportSettings();
  if (!ext.IsEmpty() && engine_ && engine::ExportJobRenders(u"Default" + ext, s)) return true;
  ui::UiHost* host = ui::Host();
  ui::Element* popup = CurrentPopup(u"RENDER_CHOICE");
  if (!host || !popup) return false;
  if (ui::Element* text = host->FindElementByName(nullptr, u"render_choice_text", true)) {
    text->OnAction(ui::kActionSetText,
                   DescribeOutput(ext, s) +
                       u" cannot be rendered yet. Sound only in WAV: Output \"Sound\", Codecs \"WAV\".",
                   0);
  }
  host->OpenPopup(popup);
  return false;
}

ov::String Mixer::MakeOutputName(const ov::String& extension) {
  const ov::String folder = ov::TempPath();
  for (int n = 1;; ++n) {
    const ov::String name = ov::String::Format(u"%s%s%d%s", folder, u"Zentyr", n, extension);
    if (!ov::FileExists(name)) return name;
  }
}

void Mixer::OnRenderAction(int32_t code) {
  switch (code) {
    case ui::kActionRenderMms:
    case ui::kActionRenderEmail:
      send_by_mms_ = code == ui::kActionRenderMms;
      send_by_email_ = code == ui::kActionRenderEmail;
      render_target_ = code == ui::kActionRenderMms ? 1 : 2;
      SaveRenderedFile(MakeOutputName(OutputExtension(false)));
      break;
    case ui::kActionRenderDevice:
      send_by_mms_ = send_by_email_ = false;
      render_target_ = 0;
      SaveRenderedFile(ov::String());
      break;
    case ui::kActionCancelRender:
      send_by_mms_ = send_by_email_ = false;
      if (engine_) engine_->CancelEncoding();
      break;
    case ui::kActionRenderDone:
      EndRender();
      render_active_ = false;
      render_process_ = 0;
      if (send_by_mms_ || send_by_email_) EmailMix();
      break;
    case ui::kActionRenderFailed:
      EndRender();
      if (ui::Element* error = CurrentPopup(u"RENDER_ERROR")) {
        if (ui::UiHost* host = ui::Host()) host->OpenPopup(error);
      }
      render_active_ = false;
      render_process_ = 0;
      // A killed or failed render leaves a partial file, or none.
      if (!output_file_.IsEmpty()) ov::DeleteFile(output_file_);
      break;
    default:
      break;
  }
}

bool Mixer::SaveRenderedFile(const ov::String& given) {
  ui::UiHost* host = ui::Host();
  if (render_active_) return false;
  // Settings no job renders (a mix saved with them) are refused with the
  // popup before a file is asked for.
  if (!CheckOutputChoice()) return false;
  ov::String path = given;
  if (path.IsEmpty()) {
    ov::String folder = ov::DocumentsFolder();
    if (!folder.IsEmpty()) {
      folder = ov::JoinPath(folder, u"Zentyr");
      if (!ov::FolderExists(folder)) ov::CreateFolderTree(folder);
    }
    const ov::String ext = OutputExtension(true);
    const ov::String bare = ext.IsEmpty() ? ext : ext.Mid(1);
    wnd::SaveFileRequest request;
    request.folder = folder;
    request.default_name = u"Default";
    request.default_extension = bare;
    request.filter = ov::String::Format(u"%s (%s)|%s||", bare, ext, ext);
    request.overwrite_prompt = true;
    if (!wnd::GetSaveFileName(request, &path)) return false;
  }
  output_file_ = path;
  if (host) {
    if (uint32_t* percent = host->NumericOption(kOptionRenderPercentage)) *percent = 0;
    host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  }
  // Without the progress popup no render starts.
  ui::Element* progress = CurrentPopup(u"RENDER_PROGRESS");
  if (!progress || !engine_) return false;
  if (host) host->OpenPopup(progress);
  engine_->SetRenderRunning(true);
  render_active_ = true;
  StartRender();
  return true;
}

void Mixer::StartRender() {
  ui::UiHost* host = ui::Host();
  const engine::ExportSettings s = engine_->GetExportSettings(ToOutputOptions(settings_), render_target_, false);
  // An old file of that name must not pass for the result.
  if (ov::FileExists(output_file_)) ov::DeleteFile(output_file_);
  const ov::String temp = ov::TempFolder();
  if (!ov::FolderExists(temp)) ov::CreateFolderTree(temp);
  const ov::String project = temp + u"temp.mix";
  const ov::String program = (host ? host->ApplicationFolder() : ov::String()) + u"ovmix";
  // The command line quotes each value: a quote inside one would end it
  // early.
  const bool quoted = program.Find(u'"') >= 0 || project.Find(u'"') >= 0 || output_file_.Find(u'"') >= 0;
  // A failed save would render an earlier "temp.mix".
  if (quoted || !SaveMix(project, SaveKind::kCopy)) {
    QueueResult(false);
    return;
  }
  const ov::String line = RenderCommandLine(project, output_file_, s);
  OpenReader();
  ov::Process process;
  if (!process.Create(program, line, ov::ArgumentStyle::kWhole)) {
    CloseReader();
    QueueResult(false);
    return;
  }
  render_process_ = static_cast<int32_t>(process.Id());
  render_stop_.store(false);
  render_thread_ = std::thread([this, id = process.Id()] { RenderLoop(id, false); });
}

void Mixer::RenderLoop(uint32_t process, bool resumed) {
  engine::MixEngine* engine = engine_;
  if (resumed) {
    // The paused render goes on once the new screen stands.
    for (uint32_t waited = 0; waited < kResumeDelayMs && !render_stop_.load(); waited += 50) ov::Sleep(50);
    if (engine) engine->RestartEncoding();
  }
  int result = -1;
  while (!render_stop_.load()) {
    if (!ProcessRunning(process)) {
      // Only what was sent before the end counts; the queue is read dry.
      const bool ok = DrainForResult(result);
      KeepOutcome(process, ok);
      QueueResult(ok);
      CloseReader();
      if (engine) engine->SetRenderRunning(false);
      return;
    }
    engine::RenderQueue* reader = Reader();
    const engine::RenderMessage m = reader ? reader->Receive() : engine::RenderMessage();
    TakeMessage(m, &result);
    if (m.kind != engine::kRenderResult) ov::Sleep(kIdleSleepMs);
  }
  // Left while the render runs (a rotation, the screen goes): it waits.
  if (ProcessRunning(process) && engine) engine->PauseEncoding();
}

void Mixer::SuspendRender() {
  render_stop_.store(true);
  if (render_thread_.joinable()) render_thread_.join();
}

void Mixer::ResumeRender() {
  if (!render_active_ || render_thread_.joinable()) return;
  const uint32_t process = static_cast<uint32_t>(render_process_);
  if (ProcessRunning(process)) {
    // The new screens' engine keeps the preview and keep-awake in step with
    // the render as the old one did.
    if (engine_) engine_->SetRenderRunning(true);
    render_stop_.store(false);
    render_thread_ = std::thread([this, process] { RenderLoop(process, true); });
    return;
  }
  // Ended meanwhile: the result read before the rotation, or what the
  // process left in the queue.
  std::optional<bool> ok = KeptOutcome(process);
  if (!ok) {
    ok = DrainForResult(-1);
    KeepOutcome(process, *ok);
  }
  QueueResult(*ok);
  CloseReader();
  if (engine_) engine_->SetRenderRunning(false);
}

void Mixer::EndRender() {
  if (render_thread_.joinable()) {
    render_stop_.store(true);
    render_thread_.join();
  }
  if (ui::Element* progress = CurrentPopup(u"RENDER_PROGRESS")) {
    if (ui::UiHost* host = ui::Host()) host->ClosePopup(progress);
  }
}

void Mixer::EmailMix() {
  // The messaging program gets the file as its last argument.
  const std::optional<std::string> configured = ov::GetEnvironmentValue(kMessagingVariable);
  const std::string command = configured && !configured->empty() ? *configured : kDefaultMessaging;
  // The file is kept for deletion before the program starts, so that its
  // end always finds it: it is deleted once the program has ended (or at the
  // next activation, or when this program ends, whichever comes first).
  ui::UiHost* host = ui::Host();
  const uint64_t ticket = host ? host->SetPendingDeleteFile(output_file_) : 0;
  ov::Process process;
  if (process.Create(ov::String(), ov::String::FromUtf8Lossy(command) + u" \"" + output_file_ + u"\"")) {
    // Nobody waits for it, and the UI thread must not.
    process.ReapInBackground([ticket] { ov::DeletePending(ticket); });
  }
}

}  // namespace screens
