#pragma once
// ExportJob: one export of the recorded mix to a file, run by the render
// process. The job makes its own audio mixer (and video mixer when the file
// has a picture size and rate), walks the engine's recorded commands frame
// by frame (RenderNextFrame) and reports progress and its result through its
// RenderQueue writer. WavExportJob writes ".wav" itself; AsfExportJob
// (".wmv") and DmoExportJob (".3gp", ".aac", ".mp4", ".amr") encode through
// an encoding graph whose source pulls the frames through
// ExportFrameCallback.
//
// Frame step (RenderNextFrame): frame k starts at round(k x 1000 / fps) ms
// and carries the samples from round(k x rate / fps) to round((k + 1) x
// rate / fps), so a second holds exactly fps frames and rate samples, and
// the sound never drifts from the picture. The commands due within the frame
// are applied as copies (channels below 16 to the audio mixer, the others to
// the video mixer), each at its own sample (round(time x rate / 1000)), the
// sound between them is pulled piece by piece, the picture is composed at
// the frame's start. The stream ends when no command is left.
//
// Progress follows what has been written: the WAV job reports each frame
// once it is in the file, the graph jobs what the frame source has delivered
// to the encoders and the writer (WrittenClock); 100 comes only from
// MixEngine::Export once the file is complete.
// Only an unknown command code or a clip that cannot be opened fails the
// export; a command meeting an empty channel changes nothing, as it does
// live.
//
// Thread: RenderNextFrame runs on one thread at a time (an encoding graph's
// pin threads, one call at a time, or the WAV job's own loop); Cancel, Pause
// and Restart may come from another thread (the flags are atomics).

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/engine_command.h"
#include "engine/export_settings.h"
#include "engine/render_queue.h"
#include "engine/video_mixer.h"
#include "platform/os/ov_string.h"

namespace engine {

class MixEngine;

// The named events that steer a running render from the editing process,
// and the one the frame step sets when it fails.
inline constexpr char16_t kCancelEncodingEvent[] = u"Cancel Encoding";
inline constexpr char16_t kPauseEncodingEvent[] = u"Pause Encoding";
inline constexpr char16_t kRestartEncodingEvent[] = u"Restart Encoding";
inline constexpr char16_t kEncodingFailedEvent[] = u"Frame Filter Encoding Failed";

// Sets the named manual-reset event (created when no process holds it; it
// lives only while one does).
void SetEncodingEvent(const char16_t* name);

class ExportJob {
 public:
  ExportJob(MixEngine* engine, const ov::String& outputPath);
  virtual ~ExportJob();
  ExportJob(const ExportJob&) = delete;
  ExportJob& operator=(const ExportJob&) = delete;

  virtual void SetExportParams(const ExportSettings& settings) { settings_ = settings; }
  // Runs the whole export; 1 on success (a cancelled export counts as one).
  virtual int Encode() = 0;

  // One frame step. *videoBuffer: null for no picture, else a buffer of
  // width x height x 2 bytes that gets the composed RGB565 frame (a null
  // *videoBuffer fails the export). *audioBuffer gets a new block allocated
  // with ::operator new that the caller frees, *audioBytes its size, *timeMs
  // the frame's start. 1 for a frame, 0 at the end of the mix, on cancel or
  // on failure (the outputs cleared).
  int RenderNextFrame(uint8_t** videoBuffer, uint8_t** audioBuffer, uint32_t* audioBytes, uint32_t* timeMs);

  void Cancel() { cancelled_.store(true, std::memory_order_release); }
  void SetPaused(bool paused) { paused_.store(paused, std::memory_order_release); }
  bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  bool paused() const { return paused_.load(std::memory_order_acquire); }
  // Why the export failed, for the render process's one line on stderr;
  // empty when it did not fail or no reason was recorded. Read once Encode
  // has returned.
  const ov::String& failureReason() const { return failureReason_; }
  const ExportSettings& settings() const { return settings_; }
  const ov::String& outputPath() const { return outputPath_; }
  RenderQueue& queue() { return queue_; }
  // Why the render queue took no message (its error), for the reason line.
  ov::String QueueFailure() const;

  // Reads how far the output has been written, in ms of the mix (negative
  // when unknown).
  using WrittenClock = int (*)();
  void SetWrittenClock(WrittenClock clock) { writtenClock_ = clock; }
  // Sends the share of the mix written up to ms as progress: at most 99 (the
  // file is not complete yet) and never less than before. A queue that takes
  // no more fails the export.
  void ReportWritten(uint64_t ms);

  // The frame grid: the start of frame k in ms and in samples at rate.
  static uint64_t FrameStartMs(uint64_t k, uint32_t fps);
  static uint64_t FrameStartSample(uint64_t k, uint32_t rate, uint32_t fps);

 protected:
  // Makes the mixers and the frame arithmetic; false when an existing output
  // file cannot be deleted or the settings give no sound rate.
  bool Prepare();
  void DeleteMixers();
  // Frees the audio mixer before the output is closed, and the video mixer
  // with it, first: a video mixer going stops the sound of its linked clips,
  // which must find the audio mixer still there.
  void DeleteAudioMixer() { DeleteMixers(); }
  // The end of the frames rendered so far, in ms of the mix.
  uint64_t RenderedMs() const { return FrameStartMs(frame_, gridFps_); }
  void Fail() { failed_.store(true, std::memory_order_release); }
  // Fails with a reason; the first reason recorded is kept.
  void Fail(const ov::String& why);

 private:
  // Applies the commands due at the current time; false when one fails the
  // export.
  bool ApplyDueCommands();
  int EndStream(uint8_t** videoBuffer, uint8_t** audioBuffer, uint32_t* audioBytes);

  RenderQueue queue_;
  MixEngine* engine_;
  ov::String outputPath_;
  ExportSettings settings_;
  std::unique_ptr<AudioMixer> audio_;
  std::unique_ptr<VideoMixer> video_;
  std::vector<EngineCommand> commands_;
  size_t next_ = 0;  // the current command; commands_.size() when none is left
  uint64_t frame_ = 0;      // the next frame's index
  uint64_t position_ = 0;   // samples rendered so far
  uint32_t gridFps_ = 10;   // frames per second of the grid (10 without a picture rate)
  uint32_t totalMs_ = 0;
  uint32_t sampleFrameBytes_ = 4;  // one stereo sample frame of the mix
  uint32_t videoFrameBytes_ = 0;
  WrittenClock writtenClock_ = nullptr;
  int lastPercent_ = -1;
  std::atomic<bool> cancelled_{false}, failed_{false}, paused_{false};
  ov::String failureReason_;  // written by the thread that fails the export
};

// ".wav": the mix's sound written directly.
class WavExportJob : public ExportJob {
 public:
  using ExportJob::ExportJob;
  int Encode() override;
};

// ".wmv": the WMV encoder object and the ASF writer behind the frame source.
// ".3gp", ".aac", ".mp4", ".amr": the codecdmo encoder objects and the
// MP4/3GP multiplexer. Both load the frame source plug-in (and the DMO job
// registers codecdmo) from the plug-in folder, run the graph and wait for it
// (engine/encoding_graph.h); a render that fails or is cancelled leaves no
// file. Sound is rendered 16-bit; the DMO job renders AMR-NB at 8000 Hz
// mono and keeps the AAC bit rate within what its object accepts.
// Each graph job says why it cannot take a set of settings (empty when it
// can): codecs its graph has no encoder for, or no picture frames to pace
// the render by (the frame source hands sound over frame by frame, so 0
// frames per second or a picture side of 0 leaves it nothing to send).
class AsfExportJob : public ExportJob {
 public:
  using ExportJob::ExportJob;
  int Encode() override;
  static ov::String SettingsRefused(const ExportSettings& s);
  static constexpr bool kRenders = true;
};

class DmoExportJob : public ExportJob {
 public:
  using ExportJob::ExportJob;
  int Encode() override;
  static ov::String SettingsRefused(const ExportSettings& s);
  static constexpr bool kRenders = true;
};

// Test hook: the folder the graph jobs load their plug-ins from (empty: the
// folder found beside the program).
void SetPluginFolderForTesting(const ov::String& folder);

// The job for the output's extension (the last four characters, any case),
// or null for a path shorter than five characters or another extension.
std::unique_ptr<ExportJob> CreateExportJob(MixEngine* engine, const ov::String& outputPath);

// Whether the job for this output's extension exists and renders it: the
// one check of a choice of output settings, so that it follows the jobs.
bool ExportJobRenders(const ov::String& outputPath);
// The same for the settings the render will get: false also when that job
// refuses them (a ".mp4" of MPEG-4 pictures with WAV sound, say).
bool ExportJobRenders(const ov::String& outputPath, const ExportSettings& settings);

// The frame callback handed to the encoding graph's source: the running
// job's RenderNextFrame, 0 when no job runs.
extern "C" int ExportFrameCallback(unsigned char** videoBuffer, unsigned char** audioBuffer, int* audioBytes,
                                   int* timeMs);

}  // namespace engine
