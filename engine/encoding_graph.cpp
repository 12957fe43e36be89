#include "engine/encoding_graph.h"

#include <memory>
#include <mutex>
#include <vector>

#include "engine/export_job.h"
#include "platform/com/class_table.h"
#include "platform/dshow/encoder_ids.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/library.h"
#include "platform/os/os_error.h"
#include "platform/os/process.h"
#include "platform/os/thread.h"

namespace engine {
namespace {

constexpr char16_t kDoneEvent[] = u"Frame Filter Encoding Done";
constexpr uint64_t kDiskFullBytes = 100;

// The framesource exports the jobs call.
using InitializeFunction = int (*)(int (*)(unsigned char**, unsigned char**, int*, int*), ExportSettings);
using RegisterFunction = com::HRESULT (*)();
static_assert(sizeof(ExportSettings) == 44, "the eleven words go to Initialize by value");

// The classes codecdmo provides.
constexpr com::GUID kCodecdmoClasses[] = {dshow::CLSID_CH263EncDmo, dshow::CLSID_CMpeg4EncDmo, dshow::CLSID_CAacEncDmo,
                                          dshow::CLSID_CAmrNbEncDmo};

// Simple Profile levels, lowest first: the largest picture (0 for levels 0
// and 0b, which take QCIF at most 15 pictures a second), macroblocks a second
// and bit rate.
struct LevelLimit {
  int32_t level;
  uint32_t macroblocks;
  uint32_t macroblock_rate;
  uint32_t bit_rate;
};
constexpr LevelLimit kMpeg4Levels[] = {{0, 0, 1485, 64000},     {1, 99, 1485, 64000},     {10, 0, 1485, 128000},
                                       {2, 396, 5940, 128000},  {3, 396, 11880, 384000},  {4, 1200, 36000, 4000000},
                                       {5, 1620, 40500, 8000000}};

// A plug-in loaded for the rest of the process (null when it does not load).
ov::Library* KeepLoaded(const ov::String& path) {
  // Never freed or unloaded: the process keeps its plug-ins.
  static std::mutex lock;
  static auto* kept = new std::vector<ov::Library*>;
  auto library = std::make_unique<ov::Library>();
  if (!library->Load(path)) return nullptr;
  std::lock_guard<std::mutex> hold(lock);
  kept->push_back(library.release());
  return kept->back();
}

}  // namespace

ov::String FindPluginFolder(const ov::String& application_folder) {
  ov::String base = application_folder;
  if (!base.IsEmpty() && base[base.Length() - 1] != u'/') base += u'/';
  for (const ov::String& folder : {base + u"../lib/", base}) {
    ov::Library lib;
    if (lib.Load(folder + u"framesource.so")) return folder;  // freed again at once
  }
  return ov::String();
}

bool LoadFramesource(const ov::String& folder, const ExportSettings& settings, bool register_first,
                     int (**delivered)()) {
  if (folder.IsEmpty()) return false;
  ov::Library* library = KeepLoaded(folder + u"framesource.so");
  if (!library) return false;
  auto initialize = reinterpret_cast<InitializeFunction>(library->Symbol("Initialize"));
  auto register_server = reinterpret_cast<RegisterFunction>(library->Symbol("DllRegisterServer"));
  bool ok = initialize && register_server;
  if (ok && register_first) ok = com::Succeeded(register_server());
  if (ok) ok = initialize(ExportFrameCallback, settings) != 0;
  if (ok && !register_first) ok = com::Succeeded(register_server());
  if (ok && delivered) *delivered = reinterpret_cast<int (*)()>(library->Symbol("GetDeliveredTime"));
  return ok;
}

bool RegisterCodecdmo(const ov::String& folder) {
  const ov::String path = folder + u"codecdmo.so";
  bool current = true;
  for (const com::GUID& clsid : kCodecdmoClasses) {
    ov::String registered;
    if (!com::FindInprocServer(clsid, &registered) || registered.Compare(path.View()) != 0) current = false;
  }
  if (current) return true;
  ov::Library* library = KeepLoaded(path);
  if (!library) return false;
  auto register_server = reinterpret_cast<RegisterFunction>(library->Symbol("DllRegisterServer"));
  return register_server && com::Succeeded(register_server());
}

int32_t Mpeg4LevelFor(uint32_t width, uint32_t height, uint32_t fps, uint32_t bit_rate) {
  const uint64_t macroblocks = uint64_t{(width + 15) / 16} * ((height + 15) / 16);
  for (const LevelLimit& l : kMpeg4Levels) {
    const bool size_fits =
        l.macroblocks == 0 ? width <= 176 && height <= 144 && fps <= 15 : macroblocks <= l.macroblocks;
    if (size_fits && macroblocks * fps <= l.macroblock_rate && bit_rate <= l.bit_rate) return l.level;
  }
  return 0;
}

int32_t AmrRateFor(uint32_t bit_rate) {
  constexpr int32_t kRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
  int32_t rate = kRates[0];
  for (int32_t r : kRates) {
    if (bit_rate >= uint32_t(r)) rate = r;
  }
  return rate;
}

bool DiskFull(const ov::String& path, uint32_t* error) {
  // A file at the process's size limit takes no more, as on a full disk,
  // but the reason is the limit.
  if (const uint64_t limit = ov::FileSizeLimit(); limit != UINT64_MAX) {
    ov::FindData info;
    if (ov::GetFileInfo(path, &info) && info.size >= limit) {
      if (error) *error = ov::kErrorFileTooLarge;
      return true;
    }
  }
  uint64_t free_bytes = 0, total = 0, total_free = 0;
  if (!ov::GetDiskFreeSpace(ov::FolderOf(path), &free_bytes, &total, &total_free)) return false;
  if (free_bytes >= kDiskFullBytes) return false;
  if (error) *error = ov::kErrorDiskFull;
  return true;
}

struct EncodingEvents::Impl {
  ov::Event done, failed, cancel, pause, restart;
  uint32_t error = 0;
};

EncodingEvents::EncodingEvents() : impl_(new Impl) {
  auto make = [this](ov::Event& e, bool manual, const char16_t* name) {
    if (!e.Create(manual, false, name) && impl_->error == 0) impl_->error = ov::GetLastError();
  };
  make(impl_->done, false, kDoneEvent);
  make(impl_->failed, false, kEncodingFailedEvent);
  make(impl_->cancel, true, kCancelEncodingEvent);
  make(impl_->pause, true, kPauseEncodingEvent);
  make(impl_->restart, true, kRestartEncodingEvent);
  for (ov::Event* e : {&impl_->done, &impl_->failed, &impl_->cancel, &impl_->pause, &impl_->restart}) e->Reset();
}

uint32_t EncodingEvents::error() const { return impl_->error; }

EncodingEvents::~EncodingEvents() { delete impl_; }

WaitOutcome EncodingEvents::Wait(ExportJob* job, GraphCompletion* graph, bool check_failed, uint32_t timeout_ms) {
  Impl& e = *impl_;
  auto cancel = [&] {
    job->Cancel();
    job->SetPaused(false);
    e.cancel.Reset();
    return WaitOutcome::kCancelled;
  };
  // Set once the source has handed over everything: the graph then reports
  // how the writer ended, and the wait goes on, one time-out at a time, for
  // that report, still steered by the events, the disk and the job.
  bool source_done = false;
  for (;;) {
    if (source_done) {
      const int32_t code = graph->Poll(static_cast<int32_t>(timeout_ms));
      if (code == 1) return WaitOutcome::kDone;
      if (code != 0) return WaitOutcome::kFailed;
    }
    const uint32_t r = ov::WaitForAny({&e.done, &e.failed, &e.cancel, &e.pause}, source_done ? 0 : timeout_ms);
    if (r == ov::kWaitObject0) {
      source_done = true;
      continue;
    }
    if (r == ov::kWaitObject0 + 1) return WaitOutcome::kFailed;
    if (r == ov::kWaitObject0 + 2) return cancel();
    if (r == ov::kWaitObject0 + 3) {
      job->SetPaused(true);
      // A cancel (also the window's close) ends a pause as well as a restart.
      const uint32_t resumed = ov::WaitForAny({&e.restart, &e.cancel}, ov::kInfinite);
      e.pause.Reset();
      e.restart.Reset();
      job->SetPaused(false);
      if (resumed == ov::kWaitObject0 + 1) return cancel();
      if (job->cancelled()) return WaitOutcome::kCancelled;
      if (check_failed && job->failed()) return WaitOutcome::kFailed;
      continue;
    }
    if (r != ov::kWaitTimeout) return WaitOutcome::kFailed;
    if (DiskFull(job->outputPath())) return WaitOutcome::kDiskFull;
    const int32_t code = graph->Poll(0);
    if (code != 0 && code != 1) return WaitOutcome::kFailed;  // an abort
    if (job->cancelled()) return WaitOutcome::kCancelled;
    if (check_failed && job->failed()) return WaitOutcome::kFailed;
  }
}

}  // namespace engine
