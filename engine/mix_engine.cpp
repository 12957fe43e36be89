#include "engine/mix_engine.h"

#include <algorithm>
#include <cstring>

#include "engine/export_job.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"
#include "platform/os/thread.h"

namespace engine {
namespace {

std::atomic<ExportJob*> g_runningJob{nullptr};

}  // namespace

MixEngine::MixEngine(std::unique_ptr<AudioMixer> audio, std::unique_ptr<VideoMixer> video,
                     std::unique_ptr<EngineTiming> timing)
    : audio_(std::move(audio)),
      video_(std::move(video)),
      timing_(timing ? std::move(timing) : std::make_unique<SystemTiming>()),
      audioGate_(false, false),
      videoGate_(false, false),
      audioReady_(false, false),
      videoReady_(false, false),
      replayWake_(false, false),
      replayPauseGate_(false, false),
      videoPauseGate_(false, false),
      replayWaiting_(false, false),
      replayEnded_(false, false) {
  if (video_) {
    video_->SetEngine(this);
    if (audio_) video_->SetAudioMixer(audio_.get());
    presented_.assign(size_t(video_->width()) * size_t(video_->height()), 0);
  }
}

MixEngine::~MixEngine() {
  StopReplay();
  Stop();
  if (video_) video_->SetEngine(nullptr);
  // The video mixer drives the audio mixer's channels: it goes first.
  video_.reset();
  audio_.reset();
}

void MixEngine::QueueAppAction(uint32_t action, const ov::String& argument) {
  if (actionQueue_) actionQueue_(action, argument);
}

bool MixEngine::WithDevice(const std::function<void(ov::WaveOutDevice&)>& fn) {
  std::lock_guard<std::mutex> lock(playerMutex_);
  if (!player_ || !player_->device()) return false;
  fn(*player_->device());
  return true;
}

uint32_t MixEngine::GetPlayPosition() {
  if (!audioRunning_.load(std::memory_order_acquire) && !videoRunning_.load(std::memory_order_acquire)) return 0;
  std::lock_guard<std::mutex> lock(playerMutex_);
  return player_ ? player_->GetPosition() : 0;
}

int MixEngine::StartThreads() {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  if (audioThread_.joinable() || videoThread_.joinable()) return 1;
  stop_.store(false, std::memory_order_release);
  audioGate_.Reset();
  videoGate_.Reset();
  audioRunning_.store(true, std::memory_order_release);
  videoRunning_.store(true, std::memory_order_release);
  audioThread_ = std::thread([this] { AudioFeedMain(); });
  videoThread_ = std::thread([this] { VideoPresentMain(); });
  audioReady_.Wait(ov::kInfinite);
  videoReady_.Wait(ov::kInfinite);
  return 1;
}

int MixEngine::Play() {
  StartThreads();
  audioGate_.Set();
  videoGate_.Set();
  playing_.store(true, std::memory_order_release);
  return 1;
}

void MixEngine::AudioFeedMain() {
  ov::SetCurrentThreadPriority(0);
  auto player = deviceFactory_ ? std::make_unique<WaveOutPlayer>(deviceFactory_()) : std::make_unique<WaveOutPlayer>();
  const uint32_t bits = audio_ ? audio_->bits() : 16;
  const uint32_t rate = audio_ ? audio_->rate() : 11025;
  const uint32_t channels = audio_ ? audio_->channels() : 2;
  uint32_t blockBytes = audio_ ? audio_->BytesForDuration(100) : rate / 10 * channels * bits / 8;
  blockBytes = std::max<uint32_t>(blockBytes, 4);
  player->Open(bits, rate, channels);
  {
    std::lock_guard<std::mutex> lock(playerMutex_);
    player_ = std::move(player);
  }
  WaveOutPlayer* p = player_.get();  // only this thread drops it
  std::vector<uint8_t> block(blockBytes), silence(blockBytes, bits == 8 ? 0x80 : 0);
  // Whole sample frames of 25 ms of silence.
  const uint32_t frameBytes = std::max<uint32_t>(1, channels * bits / 8);
  const uint32_t quarter = std::max<uint32_t>(frameBytes, blockBytes / 4 / frameBytes * frameBytes);
  fedFrames_.store(0, std::memory_order_release);
  fedRate_.store(rate, std::memory_order_release);
  bool first = true;
  while (!stop_.load(std::memory_order_acquire)) {
    if (first) {
      first = false;
      audioReady_.Set();
      audioGate_.Wait(ov::kInfinite);
      continue;
    }
    uint32_t pulled = 0;
    if (audio_) {
      // A linked picture reads its sound's position and this count together.
      std::lock_guard<std::recursive_mutex> lock(audio_->mutex());
      audio_->Pull(block.data(), blockBytes, &pulled);
      // A device that ran dry played silence meanwhile (its clock counts it):
      // this block is played from where it stands.
      const uint64_t played = uint64_t(p->GetPosition()) * rate / 1000;
      const uint64_t fed = std::max(fedFrames_.load(std::memory_order_acquire), played);
      fedFrames_.store(fed + (pulled != 0 ? pulled : quarter) / frameBytes, std::memory_order_release);
    }
    if (pulled != 0) {
      p->Write(block.data(), pulled);
    } else {
      p->Write(silence.data(), quarter);
    }
  }
  {
    std::lock_guard<std::mutex> lock(playerMutex_);
    player_->Close();
    player_.reset();
  }
  fedRate_.store(0, std::memory_order_release);
  audioRunning_.store(false, std::memory_order_release);
}

int64_t MixEngine::UnplayedOutputMs(uint32_t clockMs) {
  const uint32_t rate = fedRate_.load(std::memory_order_acquire);
  if (rate == 0) return 0;
  const auto fedMs = int64_t(fedFrames_.load(std::memory_order_acquire) * 1000 / rate);
  return std::max<int64_t>(fedMs - int64_t(clockMs), 0);
}

void MixEngine::Present() {
  if (!video_) return;
  std::lock_guard<std::recursive_mutex> videoLock(video_->mutex());
  std::lock_guard<std::mutex> lock(presentMutex_);
  const Picture565 f = video_->frame();
  std::copy(f.bits, f.bits + size_t(f.width) * size_t(f.height), presented_.begin());
}

void MixEngine::VideoPresentMain() {
  bool first = true;
  while (!stop_.load(std::memory_order_acquire)) {
    const uint32_t start = timing_->Ticks();
    const uint32_t clock = GetPlayPosition();
    if (paused_.load(std::memory_order_acquire)) videoPauseGate_.Wait(ov::kInfinite);
    if (!paused_.load(std::memory_order_acquire) && video_ && video_->ComposeFrame(clock)) {
      if (first) {
        first = false;
        videoReady_.Set();
        videoGate_.Wait(ov::kInfinite);
      }
      Present();
      frameChanged_.store(true, std::memory_order_release);
    }
    if (first) {
      first = false;
      videoReady_.Set();
      videoGate_.Wait(ov::kInfinite);
    }
    const uint32_t period = 1000 / (video_ ? std::max<uint32_t>(video_->fps(), 1) : 10);
    const uint32_t elapsed = timing_->Ticks() - start;
    if (stop_.load(std::memory_order_acquire)) break;
    timing_->Sleep(elapsed >= period ? 0 : period - elapsed);
  }
  if (video_) {
    std::lock_guard<std::recursive_mutex> videoLock(video_->mutex());
    const Picture565 f = video_->frame();
    std::fill(f.bits, f.bits + size_t(f.width) * size_t(f.height), uint16_t(0));
  }
  Present();
  frameChanged_.store(true, std::memory_order_release);
  videoRunning_.store(false, std::memory_order_release);
}

void MixEngine::StopPlaybackThreads() {
  audioGate_.Set();
  videoGate_.Set();
  {
    std::lock_guard<std::mutex> lock(playerMutex_);
    if (player_) player_->SetVolume(0);
  }
  if (paused_.exchange(false)) {
    replayPauseGate_.Set();
    videoPauseGate_.Set();
    std::lock_guard<std::mutex> lock(playerMutex_);
    if (player_) player_->SetPaused(false);
  }
  stop_.store(true, std::memory_order_release);
  // A writer waiting for the device is released; sleepers look again.
  {
    std::lock_guard<std::mutex> lock(playerMutex_);
    if (player_) player_->Close();
  }
  timing_->Interrupt();
  videoPauseGate_.Set();
  std::lock_guard<std::mutex> lock(threadsMutex_);
  if (audioThread_.joinable()) audioThread_.join();
  if (videoThread_.joinable()) videoThread_.join();
}

int MixEngine::Stop() {
  StopPlaybackThreads();
  return 1;
}

int MixEngine::Pause() {
  if (paused_.load(std::memory_order_acquire)) return 1;
  {
    std::lock_guard<std::mutex> lock(playerMutex_);
    if (player_) player_->SetPaused(true);
  }
  paused_.store(true, std::memory_order_release);
  replayWake_.Set();
  timing_->Interrupt();
  return 1;
}

int MixEngine::StartReplay() {
  if (paused_.exchange(false)) {
    {
      std::lock_guard<std::mutex> lock(playerMutex_);
      if (player_) player_->SetPaused(false);
    }
    replayPauseGate_.Set();
    videoPauseGate_.Set();
    timing_->Interrupt();
    return 1;
  }
  if (replayRunning_.load(std::memory_order_acquire)) return 1;
  if (replayThread_.joinable()) replayThread_.join();  // a replay that ended by itself
  replayWaiting_.Reset();
  replayed_.store(0, std::memory_order_release);
  replayRunning_.store(true, std::memory_order_release);
  replayThread_ = std::thread([this] { ReplayMain(); });
  replayWaiting_.Wait(1000);
  return 1;
}

void MixEngine::ApplyReplaying(const EngineCommand& command) {
  if (command.channel >= kFirstVideoChannel) {
    if (video_) video_->ApplyAction(command, 1);
  } else if (audio_) {
    audio_->ApplyAction(command, 1);
  }
}

void MixEngine::ReplayMain() {
  ov::SetCurrentThreadPriority(1);
  ActionProcessor::Position position;
  replayStop_.store(false, std::memory_order_release);
  replayWake_.Reset();
  replayPauseGate_.Reset();
  videoPauseGate_.Reset();
  StartThreads();
  audioGate_.Set();
  videoGate_.Set();
  bool ended = false;
  while (!ended) {
    EngineCommand command;
    bool found = false;
    bool atEnd = false;
    {
      std::lock_guard<std::mutex> lock(actionsMutex_);
      const EngineCommand* next = actions_.GetNextAction(0, &position);
      if (next) {
        command = *next;  // applied as a copy; the record stays as it is
        found = true;
      }
      atEnd = !position.atStart && position.index >= actions_.Count();
      if (actions_.Count() == 0) atEnd = true;
    }
    if (!found) {
      if (atEnd) break;
      continue;
    }
    int64_t wait = int64_t(command.timeMs) - int64_t(GetPlayPosition());
    while (wait > 0) {
      const uint32_t t1 = GetPlayPosition();
      replayWaiting_.Set();
      const bool woke = timing_->WaitEvent(replayWake_, uint32_t(wait));
      if (woke && replayStop_.load(std::memory_order_acquire)) {
        ended = true;
        break;
      }
      if (!paused_.load(std::memory_order_acquire)) {
        if (!woke) break;  // the time has come
        wait = int64_t(command.timeMs) - int64_t(GetPlayPosition());
        continue;
      }
      replayPauseGate_.Wait(ov::kInfinite);
      if (replayStop_.load(std::memory_order_acquire)) {
        ended = true;
        break;
      }
      const int64_t passed = int64_t(GetPlayPosition()) - int64_t(t1);
      if (passed >= wait) break;
      wait -= passed;
    }
    if (ended) break;
    ApplyReplaying(command);
    replayed_.fetch_add(1, std::memory_order_acq_rel);
    if (atEnd) break;
  }
  // Everything still loaded stops, unrecorded.
  for (uint32_t i = 0; i < 16; ++i) {
    EngineCommand stop;
    stop.type = CMD_STOP;
    if (audio_ && audio_->IsChannelLoaded(i)) {
      stop.channel = i;
      ApplyReplaying(stop);
    }
    if (video_ && video_->IsChannelLoaded(i)) {
      stop.channel = kFirstVideoChannel + i;
      ApplyReplaying(stop);
    }
  }
  StopPlaybackThreads();
  QueueAppAction(kActionReplayEnded, ov::String());
  replayRunning_.store(false, std::memory_order_release);
  replayEnded_.Set();
  // A replay that ends before its first wait (an empty recording) releases
  // StartReplay too, which would otherwise hold the UI thread a whole second.
  replayWaiting_.Set();
}

int MixEngine::StopReplay() {
  replayEnded_.Reset();
  while (replayRunning_.load(std::memory_order_acquire)) {
    if (paused_.exchange(false)) {
      {
        std::lock_guard<std::mutex> lock(playerMutex_);
        if (player_) player_->SetPaused(false);
      }
      replayPauseGate_.Set();
      videoPauseGate_.Set();
    }
    replayStop_.store(true, std::memory_order_release);
    replayWake_.Set();
    replayPauseGate_.Set();
    timing_->Interrupt();
    replayEnded_.Wait(1000);
  }
  if (replayThread_.joinable()) replayThread_.join();
  return 1;
}

int MixEngine::StopAllChannels() {
  for (uint32_t i = 0; i < 16; ++i) {
    EngineCommand stop;
    stop.type = CMD_STOP;
    if (audio_ && audio_->IsChannelLoaded(i)) {
      stop.channel = i;
      PostAction(stop);
    }
    if (video_ && video_->IsChannelLoaded(i)) {
      stop.channel = kFirstVideoChannel + i;
      PostAction(stop);
    }
  }
  Stop();
  playing_.store(false, std::memory_order_release);
  return 1;
}

void MixEngine::PostAction(const EngineCommand& command) { PostAction(std::make_unique<EngineCommand>(command)); }

void MixEngine::PostAction(std::unique_ptr<EngineCommand> recorded) {
  if (!recorded) return;
  recorded->timeMs = GetPlayPosition();
  const EngineCommand applied = *recorded;
  {
    std::lock_guard<std::mutex> lock(actionsMutex_);
    actions_.Append(std::move(recorded));
  }
  ApplyReplaying(applied);
}

void MixEngine::DispatchCommand(const EngineCommand& command) { ApplyReplaying(command); }

void MixEngine::SetDisplayRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  std::lock_guard<std::mutex> lock(presentMutex_);
  displayX_ = x;
  displayY_ = y;
  displayW_ = width;
  displayH_ = height;
}

int MixEngine::DrawFrame(const Picture565& dst, int32_t x, int32_t y) {
  std::lock_guard<std::mutex> lock(presentMutex_);
  frameChanged_.store(false, std::memory_order_release);
  if (!videoRunning_.load(std::memory_order_acquire) || !video_) {
    FillRect565(dst, x, y, displayW_, displayH_, 0);
    return 1;
  }
  const Picture565 src{presented_.data(), video_->width(), video_->height(), video_->width()};
  if (displayW_ == src.width && displayH_ == src.height) {
    Copy565(dst, x, y, src);
  } else {
    Stretch565(dst, x, y, displayW_, displayH_, src, 0, 0, src.width, src.height);
  }
  return 1;
}

bool MixEngine::IsChannelLoaded(uint32_t channel) {
  if (channel < kFirstVideoChannel) return audio_ && audio_->IsChannelLoaded(channel);
  return video_ && video_->IsChannelLoaded(channel - kFirstVideoChannel);
}

bool MixEngine::IsChannelPlaying(uint32_t channel) {
  if (channel < kFirstVideoChannel) return audio_ && audio_->IsChannelPlaying(channel);
  return video_ && video_->IsChannelPlaying(channel - kFirstVideoChannel);
}

uint32_t MixEngine::TempoWord(int entry) {
  if (!audio_ || entry < 0 || size_t(entry) >= AudioMixer::kTempoEntries) return 0;
  return audio_->tempoWords[size_t(entry)];
}

void MixEngine::SetTempoWord(int entry, uint32_t bpm) {
  if (!audio_ || entry < 0 || size_t(entry) >= AudioMixer::kTempoEntries) return;
  audio_->tempoWords[size_t(entry)] = bpm;
}

uint32_t MixEngine::AverageTempo() { return audio_ ? audio_->averageTempo : 0; }

void MixEngine::SetBeatMatch(const void* table, uint32_t average) {
  if (!audio_) return;
  audio_->channelTable = table;
  audio_->averageTempo = average;
}

bool MixEngine::HasActions() {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  return actions_.Count() != 0;
}

bool MixEngine::IsAudioOnly() {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  ActionProcessor::Position position;
  while (const EngineCommand* c = actions_.GetNextAction(0, &position)) {
    if (c->channel >= kFirstVideoChannel) return false;
  }
  return true;
}

uint32_t MixEngine::GetMixDuration() {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  return actions_.GetDuration();
}

void MixEngine::ClearActions() {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  actions_.Clear();
}

bool MixEngine::SaveActions(ov::File& file) {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  return actions_.Save(file);
}

bool MixEngine::LoadActions(ov::File& file) {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  actions_.Clear();
  return actions_.Load(file);
}

void MixEngine::SaveActions(std::vector<uint8_t>* out) {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  actions_.Serialize(out);
}

bool MixEngine::LoadActions(std::span<const uint8_t> data, size_t* consumed) {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  actions_.Clear();
  return actions_.Parse(data, consumed);
}

void MixEngine::ReplaceActions(ActionProcessor actions) {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  actions_ = std::move(actions);
}

ExportSettings MixEngine::GetExportSettings(const OutputOptions& options, int renderTarget, bool keepVideo) {
  return MakeExportSettings(options, renderTarget, keepVideo, keepVideo || !IsAudioOnly());
}

ExportJob* MixEngine::RunningExportJob() { return g_runningJob.load(std::memory_order_acquire); }

bool MixEngine::Export(const ov::String& outputPath, const ExportSettings& settings, ov::String* why) {
  ov::String reason;
  const bool ok = RunExport(outputPath, settings, &reason);
  if (!ok && why) *why = reason.IsEmpty() ? u"the export to " + outputPath + u" failed" : reason;
  return ok;
}

bool MixEngine::RunExport(const ov::String& outputPath, const ExportSettings& settings, ov::String* why) {
  if (g_runningJob.load(std::memory_order_acquire)) {
    *why = u"another export runs in this process";
    return false;
  }
  std::unique_ptr<ExportJob> job = CreateExportJob(this, outputPath);
  if (!job) {
    *why = u"no export job writes " + outputPath +
           u": the name must end in \".wav\", \".wmv\", \".3gp\", \".mp4\", \".aac\" or \".amr\"";
    return false;
  }
  // Without its queue the render could report neither progress nor result:
  // it fails before any file is made (below about 34 KiB of file-size limit
  // the queue's shared memory cannot be sized).
  if (!job->queue().IsOpen()) {
    *why = u"cannot render " + outputPath + u": the render queue cannot be made: " +
           ov::String::FromUtf8Lossy(ov::ErrorText(job->queue().error()));
    job->queue().SendResult(false);
    return false;
  }
  job->SetExportParams(settings);
  ExportJob* expected = nullptr;
  if (!g_runningJob.compare_exchange_strong(expected, job.get())) {
    *why = u"another export runs in this process";
    return false;
  }
  int result = job->Encode();
  // The file is complete only now. A reader that cannot be told so would
  // count the render as failed: the file goes as a failed render's does.
  if (result != 0 && !job->cancelled() && !job->queue().SendProgress(100)) {
    ov::DeleteFile(outputPath);
    *why = job->QueueFailure();
    result = 0;
  }
  if (!job->queue().SendResult(result != 0) && result != 0) {
    ov::DeleteFile(outputPath);
    *why = job->QueueFailure();
    result = 0;
  }
  timing_->Sleep(exportResultDelayMs_);
  g_runningJob.store(nullptr, std::memory_order_release);
  if (why->IsEmpty()) *why = job->failureReason();
  return result != 0;
}

void MixEngine::CancelEncoding() {
  if (ExportJob* job = RunningExportJob()) {
    job->Cancel();
    return;
  }
  SetEncodingEvent(kCancelEncodingEvent);
}

void MixEngine::PauseEncoding() { SetEncodingEvent(kPauseEncodingEvent); }

void MixEngine::RestartEncoding() { SetEncodingEvent(kRestartEncodingEvent); }

std::vector<EngineCommand> MixEngine::Actions() {
  std::lock_guard<std::mutex> lock(actionsMutex_);
  std::vector<EngineCommand> out;
  for (size_t i = 0; i < actions_.Count(); ++i) out.push_back(actions_.At(i));
  return out;
}

}  // namespace engine
