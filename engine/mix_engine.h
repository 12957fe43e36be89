#pragma once
// MixEngine: the live player of a mix. It owns the audio mixer (sixteen sound
// channels), the video mixer (sixteen picture channels) and the recorded
// command list; while it plays, a wave-out player whose position is the master
// clock. Every gesture reaches the mixers as an EngineCommand posted through
// PostAction, which stamps it with the clock, records it and applies it at
// once. Three threads do the timed work:
//   - audio feed: pulls 100 ms blocks from the audio mixer and writes them to
//     the player (the player's pacing makes it run as fast as the sound plays);
//   - video present: composes the video mixer's frame at the clock once per
//     frame period and hands it to the UI thread (never touching the window);
//   - action replay: applies the recorded commands at their clock times.
//
// Thread rule: public operations on the UI thread (PostAction, the queries and
// GetPlayPosition from any thread). The threads stop through the stop flags
// and events and are joined by Stop / StopReplay; flags are atomics.
// Lock order: video mixer, then audio mixer; the engine's own locks are taken
// after neither.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "engine/action_processor.h"
#include "engine/audio_mixer.h"
#include "engine/engine_timing.h"
#include "engine/export_settings.h"
#include "engine/mix_calls.h"
#include "engine/picture565.h"
#include "engine/video_mixer.h"
#include "engine/wave_out_player.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/event.h"

namespace engine {

class ExportJob;

// Application action queued when a replay has ended.
inline constexpr uint32_t kActionReplayEnded = 5;

class MixEngine : public VideoMixerEngineLink, public MixCalls {
 public:
  // Queues an application action for the UI thread (the shell's action queue).
  using ActionQueue = std::function<void(uint32_t action, const ov::String& argument)>;
  // Makes the wave-out device the audio feed thread plays on.
  using DeviceFactory = std::function<std::unique_ptr<ov::WaveOutDevice>()>;

  // Either mixer may be null (a render without live playback). `timing`
  // null: the system timing. The engine links itself to the video mixer.
  MixEngine(std::unique_ptr<AudioMixer> audio, std::unique_ptr<VideoMixer> video,
            std::unique_ptr<EngineTiming> timing = nullptr);
  ~MixEngine() override;
  MixEngine(const MixEngine&) = delete;
  MixEngine& operator=(const MixEngine&) = delete;

  void SetActionQueue(ActionQueue queue) { actionQueue_ = std::move(queue); }
  void SetDeviceFactory(DeviceFactory factory) { deviceFactory_ = std::move(factory); }

  int Play() override;
  int StartThreads();
  int Stop();
  int Pause();
  int StartReplay();
  int StopReplay();
  int StopAllChannels() override;
  // Stamps the command with the clock, records and applies it (replaying 1).
  void PostAction(const EngineCommand& command) override;
  // The same, keeping that very record in the list.
  void PostAction(std::unique_ptr<EngineCommand> command) override;
  // Applies at once with replaying 1, without stamping or recording.
  void DispatchCommand(const EngineCommand& command) override;
  bool IsPlaying() override { return playing_.load(std::memory_order_acquire); }
  void QueueAppAction(uint32_t action, const ov::String& argument) override;
  int64_t UnplayedOutputMs(uint32_t clockMs) override;

  // Copies the last presented frame into `dst` at (x, y) in the display
  // rectangle's size (black while the present thread is not running); clears
  // the frame-changed flag. UI thread.
  int DrawFrame(const Picture565& dst, int32_t x, int32_t y);
  void SetDisplayRect(int32_t x, int32_t y, int32_t width, int32_t height);
  bool FrameChanged() const { return frameChanged_.load(std::memory_order_acquire); }
  // Set by the mixer screen while a render runs (read by the editing screens).
  void SetRenderRunning(bool running) { renderRunning_.store(running, std::memory_order_release); }
  bool IsRenderRunning() const { return renderRunning_.load(std::memory_order_acquire); }

  // The clock: the player's position in ms while a playback thread runs, else 0.
  uint32_t GetPlayPosition();
  bool IsChannelLoaded(uint32_t channel) override;
  bool IsChannelPlaying(uint32_t channel) override;
  bool IsReplaying() const { return replayRunning_.load(std::memory_order_acquire); }
  // Recorded commands the running (or last) replay has applied so far.
  uint32_t ReplayedCommands() const { return replayed_.load(std::memory_order_acquire); }
  bool IsPaused() const { return paused_.load(std::memory_order_acquire); }
  bool HasActions();
  bool IsAudioOnly();
  uint32_t GetMixDuration();
  void ClearActions() override;
  // Beat matching: the audio mixer's tempo words (no audio mixer: none).
  uint32_t TempoWord(int entry) override;
  void SetTempoWord(int entry, uint32_t bpm) override;
  uint32_t AverageTempo() override;
  void SetBeatMatch(const void* table, uint32_t average) override;
  bool SaveActions(ov::File& file);
  bool LoadActions(ov::File& file);
  // The engine record in memory: SaveActions appends it to `out`;
  // LoadActions clears the list and reads one from the front of `data`
  // (`consumed` gets its bytes), false for a damaged record.
  void SaveActions(std::vector<uint8_t>* out);
  bool LoadActions(std::span<const uint8_t> data, size_t* consumed);
  // The recorded list becomes `actions` (a record already read whole, e.g.
  // with a project), the old list dropped.
  void ReplaceActions(ActionProcessor actions);
  // The export settings for the output options (MakeExportSettings), the
  // picture dropped when `keepVideo` is false and the list holds no picture
  // command.
  ExportSettings GetExportSettings(const OutputOptions& options, int renderTarget, bool keepVideo);
  // Runs the export of the recorded list to `outputPath` (the job chosen by
  // its extension) and sends its result through the render queue, then
  // waits a second so that the reader can take it before the process ends.
  // False at once while another export runs or when no job fits the name
  // (no result is sent then); otherwise the job's result. On failure `why`
  // (when given) gets the reason.
  bool Export(const ov::String& outputPath, const ExportSettings& settings, ov::String* why = nullptr);
  // With a running export in this process, CancelEncoding cancels it;
  // without one, the three set the named events the render process watches.
  void CancelEncoding();
  void PauseEncoding();
  void RestartEncoding();
  // The export running in this process, or null (the frame callback's way
  // to the job).
  static ExportJob* RunningExportJob();
  // Replaces the wait after the result (tests).
  void SetExportResultDelay(uint32_t ms) { exportResultDelayMs_ = ms; }

  // A copy of the recorded commands (tests, export).
  std::vector<EngineCommand> Actions();

  AudioMixer* audioMixer() { return audio_.get(); }
  VideoMixer* videoMixer() { return video_.get(); }
  EngineTiming& timing() { return *timing_; }
  // Runs `fn` on the live player's device under the player lock (tests that
  // drive a virtual device); false when no player exists.
  bool WithDevice(const std::function<void(ov::WaveOutDevice&)>& fn);

 private:
  bool RunExport(const ov::String& outputPath, const ExportSettings& settings, ov::String* why);
  void AudioFeedMain();
  void VideoPresentMain();
  void ReplayMain();
  void ApplyReplaying(const EngineCommand& command);
  void StopPlaybackThreads();
  void Present();

  std::unique_ptr<AudioMixer> audio_;
  std::unique_ptr<VideoMixer> video_;
  std::unique_ptr<EngineTiming> timing_;
  ActionQueue actionQueue_;
  DeviceFactory deviceFactory_;

  std::mutex threadsMutex_;  // starting and joining the playback threads
  std::thread audioThread_, videoThread_, replayThread_;
  std::atomic<bool> audioRunning_{false}, videoRunning_{false}, replayRunning_{false};
  std::atomic<uint32_t> replayed_{0};
  std::atomic<bool> stop_{false}, paused_{false}, replayStop_{false};
  std::atomic<bool> frameChanged_{false}, playing_{false}, renderRunning_{false};
  // Sample frames the audio feed has handed to its player since it opened
  // it, counted under the audio mixer's mutex with the pull that made them;
  // and the player's rate (0 while no feed runs).
  std::atomic<uint64_t> fedFrames_{0};
  std::atomic<uint32_t> fedRate_{0};
  ov::Event audioGate_, videoGate_, audioReady_, videoReady_;
  ov::Event replayWake_, replayPauseGate_, videoPauseGate_, replayWaiting_, replayEnded_;

  std::mutex playerMutex_;  // guards player_ (made and dropped by the audio feed thread)
  std::unique_ptr<WaveOutPlayer> player_;

  std::mutex actionsMutex_;  // guards actions_ (UI appends, replay reads)
  ActionProcessor actions_;

  uint32_t exportResultDelayMs_ = 1000;

  std::mutex presentMutex_;  // guards presented_ and the display rectangle
  std::vector<uint16_t> presented_;
  int32_t displayX_ = 0, displayY_ = 0, displayW_ = 0, displayH_ = 0;
};

}  // namespace engine
