#pragma once
// AudioEditor: the AudioEditor element, the screen on which the user trims
// the sound clip of a channel and tries it out. It draws a scrolling
// waveform of the clip a few seconds wide (the part inside the cut in one
// colour, outside in another) with a play line, plays the clip or only its
// cut on a preview thread of its own, and sets the cut from the play
// position, two percentage sliders (options "CutFlagStart", "CutFlagEnd") or
// a drag across the waveform. It writes the cut, loop, beat matching and
// sound effect straight into the channel it edits (clip 0 of a
// ChannelSelection). Use it for sound clips; the mixer's own playback goes
// through the shared MixEngine, which this element never touches.
//
// Two private AudioMixers: the analysis mixer runs at 32 sample frames per
// pixel column of the view and feeds the waveform; the preview mixer (16
// bits, 22050 Hz, stereo) feeds the wave-out device.
//
// Units: the play position is in tenths of a millisecond; every other time
// (cut points, view, duration) in milliseconds.
//
// Thread: every slot on the UI thread. The preview thread pulls from the
// preview mixer and writes 50 ms blocks to its WaveOutPlayer; it reaches the
// UI only through UiHost::QueueAction (ED_STOP at the end, 234 per block).
// Shared with it: play_pos_, stop_requested_, thread_running_ (atomics) and
// player_ (under player_mutex_); the preview mixer serialises itself.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/wave_out_player.h"
#include "screens/editors/clip_cut.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/event.h"
#include "ui/action_codes.h"
#include "ui/control.h"

namespace ui {
class UiHost;
}

namespace screens {

class ChannelSelection;

class AudioEditor : public ui::Control {
 public:
  // Makes the wave-out device the preview plays on; null or empty: the
  // system's sound output.
  using DeviceFactory = std::function<std::unique_ptr<ov::WaveOutDevice>()>;

  // Milliseconds the UI waits for the preview thread's first block before
  // it gives the preview up.
  static constexpr uint32_t kStartWaitMs = 5000;
  // Milliseconds the preview thread waits at the end of the clip for the
  // device to play its queued blocks (two blocks of 50 ms, with room for a
  // loaded machine).
  static constexpr uint32_t kDrainWaitMs = 2000;
  // The analysis mixer's rate is columns per second × 32 and an AudioMixer
  // takes at most 48000 Hz: at most 1500 columns a second.
  static constexpr int32_t kMaxColumnsPerSecond = 1500;

  AudioEditor();
  ~AudioEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  // Process-wide, UI thread: the device every editor's next preview opens
  // (tests pass a VirtualWaveOutDevice).
  static void SetDeviceFactory(DeviceFactory factory);
  // Runs `fn` on the open preview device under the player lock; false while
  // no preview player exists. Any thread.
  bool WithDevice(const std::function<void(ov::WaveOutDevice&)>& fn);

  // Plays the file at `path` whole from its start on the preview, with no
  // channel and no waveform: the media browser's audio preview. The preview
  // thread queues ED_STOP at the end as for a clip; StopFile ends it at once.
  void PlayFile(const ov::String& path);
  void StopFile() { Reset(); }

  // State read by tests and the media browser.
  bool playing() const { return playing_; }
  bool paused() const { return paused_; }
  bool selection_mode() const { return selection_mode_; }
  bool preview_running() const { return thread_running_.load(std::memory_order_acquire); }
  int32_t play_pos() const { return play_pos_.load(std::memory_order_acquire); }
  int32_t cut_start_ms() const { return cut_.start; }
  int32_t cut_end_ms() const { return cut_.end; }
  uint32_t duration_ms() const { return duration_ms_; }
  int32_t window_start_ms() const { return window_start_ms_; }
  int32_t window_ms() const { return window_ms_; }
  int32_t units_per_column() const { return units_per_column_; }
  int32_t columns_done() const { return columns_done_; }
  const std::vector<int32_t>& column_peaks() const { return column_peaks_; }
  const ov::String& title_text() const { return clip_title_; }
  const ov::String& source_file() const { return source_file_; }
  ChannelSelection* channel() const { return channel_; }
  engine::AudioMixer* analysis_mixer() const { return analysis_mixer_.get(); }
  engine::AudioMixer* preview_mixer() const { return preview_mixer_.get(); }

  // "%d:%.2d.%.1d" of minutes, seconds and tenths of `ms`.
  static ov::String FormatTime(uint32_t ms);

 private:
  // Pixel columns of the view: width less the two side borders.
  int32_t Columns() const { return x_size_ - 2 * border_x_; }
  int32_t ViewHeight() const { return y_size_ - 2 * border_y_; }
  void CreateMixers();
  void LoadClip(const ov::String& name);
  // Opens the clip (between the cut points with `selection`) in channel 0
  // of `mixer` at full volume and starts it; the channel's effect too with
  // `with_effect`.
  void LoadMixer(engine::AudioMixer* mixer, bool selection, bool with_effect);
  void LoadMixers(bool selection);
  void StopMixers();
  void StartPlay(bool selection);
  bool StartPreview();
  // Ends the preview and makes the mixers ready to play the whole clip.
  void StopPreview();
  // Tells the preview thread to stop, releases it from the device and joins
  // it; nothing when none runs.
  void EndPreviewThread();
  // The preview thread: plays from the preview mixer on a device made by
  // `factory`; the play position starts at `start_pos` (0.1 ms).
  void PreviewMain(const DeviceFactory& factory, int32_t start_pos, ui::UiHost* host);
  bool Skip(int32_t delta_ms);
  void TimeText();
  void WriteCut();
  void UpdateMarkers();
  void SliderCut();
  void ToggleEffect(uint32_t type, int32_t action);
  bool AnalyseStep();
  void DrawColumns();
  bool PageCheck();
  void EnableActions();
  void Reset();
  void FocusAction(int32_t code);
  bool ClipIsWav() const;

  uint32_t duration_ms_ = 0;
  ov::String clip_title_;
  ov::String source_file_;
  ChannelSelection* channel_ = nullptr;  // not owned
  bool playing_ = false;
  int32_t window_start_ms_ = 0;
  int32_t analysis_pos_ = 0;  // 0.1 ms
  int32_t analysis_start_ms_ = 0;
  int32_t window_end_ms_ = 0;
  // 0.1 ms; the preview thread advances it per block, the UI sets it at a
  // skip and in the clamp of TimeText.
  std::atomic<int32_t> play_pos_{0};
  int32_t columns_done_ = 0;
  int32_t columns_drawn_ = 0;
  uint32_t play_line_colour_ = 0, inc_colour_ = 0, exc_colour_ = 0;
  gfx::HPen play_line_pen_, inc_pen_, exc_pen_;
  ov::String start_marker_name_, end_marker_name_;
  ui::Element* start_marker_ = nullptr;
  ui::Element* end_marker_ = nullptr;
  ov::String loop_tick_name_, chorus_tick_name_, echo_tick_name_;
  ui::Element* loop_tick_ = nullptr;
  ui::Element* chorus_tick_ = nullptr;
  ui::Element* echo_tick_ = nullptr;
  ClipCut cut_;
  int32_t border_y_ = 0, border_x_ = 0;
  std::vector<int32_t> column_peaks_;
  std::unique_ptr<gfx::DeviceContext> offscreen_dc_;
  gfx::HBitmap offscreen_;
  std::unique_ptr<engine::AudioMixer> analysis_mixer_;
  std::unique_ptr<engine::AudioMixer> preview_mixer_;
  bool paused_ = false;
  bool more_to_analyse_ = false;
  bool analysis_ended_ = false;  // the clip ended inside the current view
  int32_t sample_bits_ = 0;
  bool has_tempo_ = false;  // the channel's clip has a tempo side file
  int32_t marker_offset_ = 0;
  bool full_redraw_ = true;
  bool selection_mode_ = false;
  ov::String channel_name_;
  bool reload_pending_ = false;
  int32_t seconds_to_show_ = 5;
  int32_t window_ms_ = 5000;
  int32_t anchor_ms_ = -1;
  int32_t drag_ms_ = 0;
  int32_t units_per_column_ = 1;

  // The preview thread and what it shares with the UI.
  std::thread preview_thread_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> thread_running_{false};  // cleared by the thread as it ends
  ov::Event go_event_, started_event_;       // auto-reset start handshake
  std::mutex player_mutex_;                  // guards player_
  std::unique_ptr<engine::WaveOutPlayer> player_;  // made and dropped by the thread
};

}  // namespace screens
