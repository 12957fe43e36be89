#pragma once
// ImageEditor: the photo editor (skin keyword "ImageEditor", type 20), the
// editing screen of an image channel. It shows the photo selected in its
// screen's clip order list (ui::PlaylistOrder) dimmed, with the clip's crop
// at full brightness; lets the user draw the crop with the stylus while the
// clip's crop is on; plays the channel's photos one after another on its
// private preview engine (silent, channel 16); and leads to the sub-menus
// for the channel effect, the overlay and photo effect, the pan and zoom
// (PanZoomEditor) and the clip text. Every choice goes into the channel's
// clips through the ChannelSelection; the options are the sub-menus' model.
//
// The refresh worker and the preview mutex are PictureEditor's; without a
// clip order list no worker runs.
//
// Thread: every slot on the UI thread (see PictureEditor for the worker).

#include <cstdint>

#include "screens/editors/editor_decompression.h"
#include "screens/editors/picture_editor.h"
#include "ui/action_codes.h"

namespace ui {
class PlaylistOrder;
}  // namespace ui

namespace screens {

class ImageEditor : public PictureEditor {
 public:
  ImageEditor();
  ~ImageEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  // The selected clip of the clip order list; -1 without one.
  int32_t Selected() const;
  int32_t play_index() const { return play_index_; }
  bool decoding() const { return decompression_.running(); }
  // Waits for a decoding worker and hands its caches to the channel.
  void JoinDecompression() { decompression_.Join(); }
  uint32_t total_seconds() const { return total_seconds_; }
  const ov::String& clip_title() const { return clip_title_; }
  const ov::String& channel_name() const { return channel_name_; }

 protected:
  int32_t ShownClip() const override { return Selected(); }
  bool CanRefresh() const override { return clip_list_ != nullptr; }

 private:
  void Open(const ov::String& name);
  void LeaveMenu();
  void SelectionChanged();
  void PlayClip() override;
  // The next photo of the preview; false at the end (the index back at 0).
  bool NextClip();
  void StopPreview();
  void FormatTime();
  void UpdateControls();
  void LoadEffectOptions();
  void AcceptChannelEffect();
  void LoadOverlayOptions();
  void ApplyOverlayAndPhotoEffect();
  void LoadPanZoomOptions();
  void ApplyPanZoom();
  void StartDecompression();
  // The rectangle drawn at full brightness (the crop being drawn, else the
  // clip's, the whole picture while crop is off).
  uint32_t CropFrame() const;
  bool CropOn() const;
  void ShowTextMenu();
  // Shows the sub-menu; false (nothing shown) without a host or a name.
  bool JumpTo(const ov::String& menu);

  ui::PlaylistOrder* clip_list_ = nullptr;
  ui::Element* crop_filter_ = nullptr;
  ov::String first_clip_file_;
  int32_t play_index_ = 0;
  ov::String effect_menu_, overlay_menu_, panzoom_menu_, text_menu_;
  // The channel effect's cache, decoded behind the progress popup; its
  // destructor cancels and joins a running worker.
  EditorDecompression decompression_;
};

}  // namespace screens
