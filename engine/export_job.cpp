#include "engine/export_job.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/mix_engine.h"
#include "media/wav_file.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"
#include "platform/os/thread.h"

namespace engine {
namespace {

constexpr uint32_t kPauseSleepMs = 100;
// The picture mixer of a render without a picture.
constexpr int32_t kSoundOnlySide = 16;
constexpr uint32_t kSoundOnlyFps = 10;

// The codes the mixers know; any other code in a record fails the export.
bool IsKnownCode(uint32_t type) {
  switch (type) {
    case CMD_NOP: case CMD_ACK: case CMD_LOAD: case CMD_LOAD_IMAGE: case CMD_STOP: case CMD_SET_ZORDER:
    case CMD_SET_LOOP: case CMD_PLAY: case CMD_PAUSE: case CMD_RESTART: case CMD_SET_HOLD: case CMD_SEEK:
    case CMD_SET_MARKS: case CMD_VOLUME: case CMD_MASTER_VOLUME: case CMD_ECHO: case CMD_CHORUS: case CMD_REVERB:
    case CMD_SLIDE: case CMD_BLIND: case CMD_FADE: case CMD_SWEEP: case CMD_FILE_EFFECT: case CMD_COLOUR_FILTER:
    case CMD_PAN_ZOOM: case CMD_ZOOM: case CMD_SET_RATE:
      return true;
    default:
      return false;
  }
}

}  // namespace

void SetEncodingEvent(const char16_t* name) {
  ov::Event e;
  if (e.Create(true, false, name)) e.Set();
}

ExportJob::ExportJob(MixEngine* engine, const ov::String& outputPath)
    : queue_(false), engine_(engine), outputPath_(outputPath) {}

ExportJob::~ExportJob() { DeleteMixers(); }

void ExportJob::Fail(const ov::String& why) {
  if (failureReason_.IsEmpty()) failureReason_ = why;
  Fail();
}

void ExportJob::DeleteMixers() {
  // The video mixer drives the audio mixer's channels: it goes first.
  video_.reset();
  audio_.reset();
}

bool ExportJob::Prepare() {
  if (ov::FileExists(outputPath_) && !ov::DeleteFile(outputPath_)) {
    Fail(u"cannot replace " + outputPath_ + u": " + ov::String::FromUtf8Lossy(ov::ErrorText(ov::GetLastError())));
    return false;
  }
  const ExportSettings& s = settings_;
  if (s.sampleRate == 0 || s.sampleRate > AudioMixer::kMaxRate || (s.bitsPerSample != 8 && s.bitsPerSample != 16)) {
    Fail(ov::String::Format(u"no sound of %u Hz, %u bits can be mixed", s.sampleRate, s.bitsPerSample));
    return false;
  }
  audio_ = std::make_unique<AudioMixer>(s.bitsPerSample, s.sampleRate, 2);
  if (s.width != 0 && s.height != 0 && s.fps != 0) {
    video_ = std::make_unique<VideoMixer>(int32_t(s.width), int32_t(s.height), s.fps, 0);
    videoFrameBytes_ = s.width * s.height * 2;
  } else {
    // No picture is asked, but a video clip's sound is started, paused and
    // stopped through its picture channel: a small mixer whose pictures are
    // never composed keeps that sound.
    video_ = std::make_unique<VideoMixer>(kSoundOnlySide, kSoundOnlySide, kSoundOnlyFps, 0);
    videoFrameBytes_ = 0;
  }
  video_->SetEngine(engine_);
  video_->SetAudioMixer(audio_.get());
  frame_ = 0;
  position_ = 0;
  lastPercent_ = -1;
  // The mixer renders stereo in the output's own sample width (an 8-bit mix
  // has one byte per sample). Without a picture rate a frame lasts 100 ms.
  sampleFrameBytes_ = s.bitsPerSample / 4;
  gridFps_ = s.fps == 0 ? 10 : s.fps;
  commands_ = engine_ ? engine_->Actions() : std::vector<EngineCommand>();
  // The walk starts at the earliest command (the first of equal times) and
  // goes on in list order, as the recorded list is replayed.
  next_ = 0;
  for (size_t i = 1; i < commands_.size(); ++i) {
    if (commands_[i].timeMs < commands_[next_].timeMs) next_ = i;
  }
  totalMs_ = engine_ ? engine_->GetMixDuration() : 0;
  return true;
}

uint64_t ExportJob::FrameStartMs(uint64_t k, uint32_t fps) { return (2 * k * 1000 + fps) / (2 * uint64_t{fps}); }

uint64_t ExportJob::FrameStartSample(uint64_t k, uint32_t rate, uint32_t fps) {
  return (2 * k * rate + fps) / (2 * uint64_t{fps});
}

namespace {

// The sample at which a command of time ms takes effect.
uint64_t CommandSample(uint32_t ms, uint32_t rate) { return (2 * uint64_t{ms} * rate + 1000) / 2000; }

}  // namespace

void ExportJob::ReportWritten(uint64_t ms) {
  if (totalMs_ == 0) return;
  const int percent = int(std::min<uint64_t>(99, ms * 100 / totalMs_));
  if (percent <= lastPercent_) return;
  lastPercent_ = percent;
  if (!queue_.SendProgress(percent)) {
    // No reader learns how this render goes: it ends as a failed one, its
    // file deleted.
    Fail(QueueFailure());
    SetEncodingEvent(kEncodingFailedEvent);
    Cancel();
  }
}

ov::String ExportJob::QueueFailure() const {
  return u"the render of " + outputPath_ + u" cannot report to the render queue: " +
         ov::String::FromUtf8Lossy(ov::ErrorText(queue_.error()));
}

bool ExportJob::ApplyDueCommands() {
  while (next_ < commands_.size() && CommandSample(commands_[next_].timeMs, settings_.sampleRate) <= position_) {
    const EngineCommand& c = commands_[next_++];
    int result = 1;
    if (c.channel >= kFirstVideoChannel) {
      if (video_) result = video_->ApplyAction(c, 0);
      // Without a picture asked, a picture that cannot be read takes nothing
      // from the render: only a video's sound is kept.
      if (videoFrameBytes_ == 0) result = 1;
    } else {
      result = audio_->ApplyAction(c, 0);
    }
    if (result == 0 && (!IsKnownCode(c.type) || c.type == CMD_LOAD || c.type == CMD_LOAD_IMAGE)) {
      if (IsKnownCode(c.type)) Fail(u"a clip of the mix cannot be read: " + c.path);
      else Fail(ov::String::Format(u"the mix holds a command of unknown type %u", c.type));
      return false;
    }
  }
  return true;
}

int ExportJob::EndStream(uint8_t** videoBuffer, uint8_t** audioBuffer, uint32_t* audioBytes) {
  DeleteMixers();
  if (videoBuffer) *videoBuffer = nullptr;
  if (audioBuffer) *audioBuffer = nullptr;
  if (audioBytes) *audioBytes = 0;
  return 0;
}

int ExportJob::RenderNextFrame(uint8_t** videoBuffer, uint8_t** audioBuffer, uint32_t* audioBytes, uint32_t* timeMs) {
  while (paused_.load(std::memory_order_acquire) && !cancelled()) ov::Sleep(kPauseSleepMs);
  if (!audio_ || cancelled()) return EndStream(videoBuffer, audioBuffer, audioBytes);
  const bool eightBit = settings_.bitsPerSample == 8;
  const uint32_t rate = settings_.sampleRate;
  const uint64_t frameStartMs = FrameStartMs(frame_, gridFps_);
  const uint64_t frameEndSample = FrameStartSample(frame_ + 1, rate, gridFps_);
  position_ = FrameStartSample(frame_, rate, gridFps_);
  const size_t capacity = size_t(frameEndSample - position_) * sampleFrameBytes_;
  auto* block = static_cast<uint8_t*>(::operator new(std::max<size_t>(capacity, 1), std::nothrow));
  if (!block) {
    Fail();
    return EndStream(videoBuffer, audioBuffer, audioBytes);
  }
  // The commands due at the frame's start, then its picture, then its sound:
  // the picture of a channel linked to a sound channel follows what of that
  // sound has been mixed, which must be the sound up to the frame's start
  // (pulled before, it would be the frame's end, and the picture a frame
  // early). A command due inside the frame is heard from its own sample and
  // seen from the next frame, as the frame samples the mix at its start.
  // A failed frame sets the failure event too, so that the wait loop ends at
  // once.
  const auto failFrame = [&] {
    SetEncodingEvent(kEncodingFailedEvent);
    Fail();
    ::operator delete(block);
    return EndStream(videoBuffer, audioBuffer, audioBytes);
  };
  if (next_ < commands_.size() && !ApplyDueCommands()) return failFrame();
  if (videoBuffer && settings_.videoCodec != kCodecNone) {
    if (!*videoBuffer) return failFrame();
    if (video_) {
      std::lock_guard<std::recursive_mutex> lock(video_->mutex());
      video_->ComposeFrame(uint32_t(frameStartMs));
      std::memcpy(*videoBuffer, video_->frame().bits, videoFrameBytes_);
    }
  }
  uint32_t filled = 0;
  while (position_ < frameEndSample && next_ < commands_.size()) {
    if (!ApplyDueCommands()) return failFrame();
    // The sound up to the frame's end, cut at the next command's sample.
    uint64_t stepEnd = frameEndSample;
    if (next_ < commands_.size()) stepEnd = std::min(stepEnd, CommandSample(commands_[next_].timeMs, rate));
    if (stepEnd <= position_) continue;
    const uint32_t bytes = uint32_t(stepEnd - position_) * sampleFrameBytes_;
    uint32_t got = 0;
    audio_->Pull(block + filled, bytes, &got);
    if (got < bytes) std::memset(block + filled + got, eightBit ? 0x80 : 0, bytes - got);
    filled += bytes;
    position_ = stepEnd;
  }
  if (filled == 0) {
    filled = uint32_t(capacity);
    std::memset(block, eightBit ? 0x80 : 0, filled);
  }
  ++frame_;
  if (timeMs) *timeMs = uint32_t(frameStartMs);
  if (writtenClock_) {
    const int written = writtenClock_();
    if (written >= 0) ReportWritten(uint64_t(written));
  }
  if (next_ >= commands_.size()) {
    ::operator delete(block);
    return EndStream(videoBuffer, audioBuffer, audioBytes);
  }
  if (audioBuffer) *audioBuffer = block;
  else ::operator delete(block);
  if (audioBytes) *audioBytes = filled;
  return 1;
}

int WavExportJob::Encode() {
  if (!Prepare()) return 0;
  const ExportSettings& s = settings();
  media::WavFormat format;
  format.formatTag = 1;
  format.channels = uint16_t(s.channels);
  format.samplesPerSecond = s.sampleRate;
  format.averageBytesPerSecond = s.sampleRate * s.channels * s.bitsPerSample / 8;
  format.blockAlign = uint16_t(s.bitsPerSample / 8 * s.channels);
  format.bitsPerSample = uint16_t(s.bitsPerSample);
  media::WavFile file(outputPath(), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, format);
  if (file.status != 0) {
    Fail(u"cannot create " + outputPath() + u": " + ov::String::FromUtf8Lossy(ov::ErrorText(file.status)));
    DeleteMixers();
    return 0;
  }
  ov::Event cancel;
  if (!cancel.Create(true, false, kCancelEncodingEvent)) {
    // A render that could not be cancelled is not started.
    Fail(u"cannot render " + outputPath() + u": its cancel event cannot be made: " +
         ov::String::FromUtf8Lossy(ov::ErrorText(ov::GetLastError())));
    file.Close();
    ov::DeleteFile(outputPath());
    DeleteMixers();
    return 0;
  }
  cancel.Reset();
  const bool mono = s.channels == 1;
  const uint32_t sampleBytes = s.bitsPerSample / 8;
  while (!cancelled()) {
    uint8_t* block = nullptr;
    uint32_t bytes = 0, time = 0;
    if (RenderNextFrame(nullptr, &block, &bytes, &time) == 0) break;
    if (cancel.Wait(0) == ov::kWaitObject0) Cancel();  // the block in hand is still written
    if (mono) {
      // The left sample of each stereo frame; 16-bit samples with their
      // lowest bit cleared.
      const uint32_t frames = bytes / (2 * sampleBytes);
      for (uint32_t i = 0; i < frames; ++i) {
        if (sampleBytes == 2) {
          uint16_t v = 0;
          std::memcpy(&v, block + 4 * i, 2);
          v &= 0xFFFE;
          std::memcpy(block + 2 * i, &v, 2);
        } else {
          block[i] = block[2 * i];
        }
      }
      bytes = frames * sampleBytes;
    }
    uint32_t written = 0;
    if (!file.Append(block, bytes, &written) || written < bytes) {
      Cancel();
      Fail(u"writing " + outputPath() + u" failed: " + ov::String::FromUtf8Lossy(ov::ErrorText(file.status)));
    }
    ::operator delete(block);
    // The frame is in the file: it counts as written.
    if (!cancelled()) ReportWritten(RenderedMs());
  }
  DeleteAudioMixer();
  // The pad byte of an odd length is the last write: refused (a full disk,
  // the file-size limit), it fails the render as a refused block does.
  if (!file.Close() && !cancelled()) {
    Fail(u"writing " + outputPath() + u" failed: " + ov::String::FromUtf8Lossy(ov::ErrorText(file.status)));
  }
  if (cancelled() || failed()) ov::DeleteFile(outputPath());
  DeleteMixers();
  return failed() ? 0 : 1;
}

namespace {

enum class JobKind { kNone, kAsf, kDmo, kWav };

// By the last four characters, any case; none for a path shorter than five.
JobKind KindOf(const ov::String& outputPath) {
  if (outputPath.Length() < 5) return JobKind::kNone;
  const ov::String ext = outputPath.Right(4);
  if (ext.EqualsNoCase(u".wmv")) return JobKind::kAsf;
  for (const char16_t* e : {u".3gp", u".aac", u".mp4", u".amr"}) {
    if (ext.EqualsNoCase(e)) return JobKind::kDmo;
  }
  if (ext.EqualsNoCase(u".wav")) return JobKind::kWav;
  return JobKind::kNone;
}

}  // namespace

std::unique_ptr<ExportJob> CreateExportJob(MixEngine* engine, const ov::String& outputPath) {
  switch (KindOf(outputPath)) {
    case JobKind::kAsf:
      return std::make_unique<AsfExportJob>(engine, outputPath);
    case JobKind::kDmo:
      return std::make_unique<DmoExportJob>(engine, outputPath);
    case JobKind::kWav:
      return std::make_unique<WavExportJob>(engine, outputPath);
    case JobKind::kNone:
      break;
  }
  return nullptr;
}

bool ExportJobRenders(const ov::String& outputPath) {
  switch (KindOf(outputPath)) {
    case JobKind::kAsf:
      return AsfExportJob::kRenders;
    case JobKind::kDmo:
      return DmoExportJob::kRenders;
    case JobKind::kWav:
      return true;
    case JobKind::kNone:
      break;
  }
  return false;
}

bool ExportJobRenders(const ov::String& outputPath, const ExportSettings& settings) {
  if (!ExportJobRenders(outputPath)) return false;
  switch (KindOf(outputPath)) {
    case JobKind::kAsf:
      return AsfExportJob::SettingsRefused(settings).IsEmpty();
    case JobKind::kDmo:
      return DmoExportJob::SettingsRefused(settings).IsEmpty();
    default:
      return true;
  }
}

extern "C" int ExportFrameCallback(unsigned char** videoBuffer, unsigned char** audioBuffer, int* audioBytes,
                                   int* timeMs) {
  ExportJob* job = MixEngine::RunningExportJob();
  if (!job) return 0;
  uint32_t bytes = 0, time = 0;
  const int result = job->RenderNextFrame(videoBuffer, audioBuffer, &bytes, &time);
  if (audioBytes) *audioBytes = int(bytes);
  if (timeMs) *timeMs = int(time);
  return result;
}

}  // namespace engine
