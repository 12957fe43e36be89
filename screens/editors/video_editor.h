#pragma once
// VideoEditor: the VideoEditor element, the screen on which the user trims
// the video clip of a channel (clip 0 of a ChannelSelection) and tries it
// out. It previews the clip with its sound on a preview engine of its own
// (MakePreviewEngine: the decoded video on engine channel 16, the sound on
// channel 0), whole or between its cut points, with pause, stop, skips of
// ten seconds and a position slider; it sets the cut from the play position
// or from two percentage sliders (options "CutFlagStart", "CutFlagEnd") with
// a marker above each, switches the channel's loop, and leads to the
// sub-menus for the channel effect, the overlay and photo effect, and the
// clip text. Before it plays, the clip's caches are decoded on the shared
// decoding worker (EditorDecompression) behind its progress popup. Use the
// AudioEditor for sound clips and the photo editor for photo channels.
//
// Cut points are ms of the clip's own time; 0 means not set (a cut end of 0
// runs to the end of the clip).
//
// Without a channel or clip (code 90 naming none, or after a turn until
// code 9 has opened the channel again) every action that would reach the
// channel or its clips does nothing.
//
// Thread: every slot on the UI thread. The preview engine's threads only
// compose frames; the UI thread copies the engine's new frame into the
// picture box on its tick. The decoding worker reaches the UI only through
// the host's action queue.

#include <cstdint>
#include <memory>

#include "screens/editors/clip_cut.h"
#include "screens/editors/editor_decompression.h"
#include "ui/control.h"

namespace engine {
class MixEngine;
struct EngineCommand;
}  // namespace engine

namespace screens {

class ChannelSelection;
class Mixer;

class VideoEditor : public ui::Control {
 public:
  // Frames a second of the preview, and its volume in percent.
  static constexpr int32_t kFrameRate = 15;
  static constexpr int32_t kPreviewVolume = 100;
  // ms moved by ED_SKIPF and ED_SKIPB.
  static constexpr int32_t kSkipMs = 10000;
  // The end of the clip and the time shown are checked at most this often.
  static constexpr uint32_t kCheckPeriodMs = 250;

  VideoEditor();
  ~VideoEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  // State read by tests.
  bool playing() const { return playing_; }
  bool paused() const { return paused_; }
  bool playing_selection() const { return playing_selection_; }
  uint32_t cut_start() const { return uint32_t(cut_.start); }
  uint32_t cut_end() const { return uint32_t(cut_.end); }
  uint32_t duration() const { return duration_; }
  const ov::String& clip_title() const { return clip_title_; }
  const ov::String& channel_name() const { return channel_name_; }
  ChannelSelection* channel() const { return channel_; }
  engine::MixEngine* preview_engine() const { return engine_.get(); }
  EditorDecompression& decompression() { return decompression_; }
  // The picture box on the screen.
  gfx::Rect box() const { return {x_ + border_x_, y_ + border_y_, x_ + border_x_ + BoxWidth(), y_ + border_y_ + BoxHeight()}; }
  // The play position: the preview's video channel's, in ms, at most the
  // clip's length; 0 without a preview engine.
  uint32_t Position() const;

 private:
  bool HasClip() const;
  ui::UiHost* HostIfShown() const;
  void Open(const ov::String& name);
  void MakeEngine();
  void StartDecompression();
  // Starts the preview, between the cut points with `selection`, from
  // `start_ms`; false (nothing posted) without an engine or a clip.
  bool StartPreview(bool selection, uint32_t start_ms);
  void Post(const engine::EngineCommand& command);
  void StopPreview();
  void Seeking();
  void Skip(int32_t delta);
  void FormatTime();
  void ShowCuts();
  void StoreCuts();
  void SliderCut();
  void UpdateControls();
  void FocusAction(int32_t code);
  void LoadEffectOptions();
  void AcceptChannelEffect();
  void LoadOverlayOptions();
  void ApplyOverlayAndPhotoEffect();
  void JumpToSubMenu(const ov::String& menu);
  ov::String WithoutSkinFolder(const ov::String& path) const;
  int32_t BoxWidth() const { return x_size_ - 2 * border_x_; }
  int32_t BoxHeight() const { return y_size_ - 2 * border_y_; }

  ClipCut cut_;
  ov::String clip_file_;
  uint32_t duration_ = 0;
  ov::String clip_title_;
  ChannelSelection* channel_ = nullptr;  // not owned
  ov::String image_effect_menu_, image_overlay_menu_, image_text_menu_;
  bool playing_ = false, paused_ = false, playing_selection_ = false;
  ov::String start_marker_name_, end_marker_name_, looping_tick_name_;
  ui::Element* start_marker_ = nullptr;
  ui::Element* end_marker_ = nullptr;
  ui::Element* looping_tick_ = nullptr;
  int32_t channel_index_ = -1;
  int32_t border_x_ = 0, border_y_ = 0;
  int32_t mix_size_x_ = 0, mix_size_y_ = 0;
  uint32_t interval_snapshot_ = 0;
  int32_t frame_rate_ = kFrameRate;
  int32_t preview_volume_ = kPreviewVolume;
  Mixer* mixer_ = nullptr;  // not owned
  ov::String channel_name_;
  int32_t marker_offset_ = 0;
  uint32_t last_check_ = 0;
  bool checked_ = false;
  // Declared after the engine: the decoding worker is cancelled and joined
  // before the engine goes.
  std::shared_ptr<engine::MixEngine> engine_;
  EditorDecompression decompression_;
};

}  // namespace screens
