#pragma once
// PanZoomEditor: the pan-and-zoom editor (skin keyword "PANZOOMEDITOR",
// type 29) in the photo editor's pan-and-zoom menu. The user draws, with the
// stylus, the start and the end rectangle of a view moving over one photo
// and previews the movement on the editor's private engine. It edits the
// options "KenStart", "KenEnd" and "EffectSpeed" ("KenBurnsPosition" 0: the
// start, else the end), not the clip: the photo editor copies them into the
// clip when the user accepts. Opening a clip switches its crop off (the
// movement works on the whole photo).
//
// The photo editor opens it with code 39 (the clip index) then 40 (the
// channel element's name). A turn reopens the same channel and clip.
//
// The skin may name a text element ("positionText") that says which
// rectangle the stylus draws: it gets "startRectangleText" while
// "KenBurnsPosition" is 0, else "endRectangleText".
//
// Thread: every slot on the UI thread (see PictureEditor for the worker).

#include <cstdint>

#include "screens/editors/picture_editor.h"

namespace screens {

class PanZoomEditor : public PictureEditor {
 public:
  PanZoomEditor();
  ~PanZoomEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  int32_t clip_index() const { return clip_index_; }
  const ov::String& clip_file() const { return clip_file_; }
  uint32_t preview_end_time() const { return preview_end_time_; }

 protected:
  int32_t ShownClip() const override { return channel_ ? clip_index_ : -1; }

 private:
  void Open(const ov::String& name);
  void PlayClip() override;
  void StopPreview();
  void FormatTime();
  void UpdateControls();
  // Stores the ordered rectangle in the option being edited and lets every
  // option-bound element (and this editor's rectangle) follow.
  void StoreRect(uint32_t rect);

  ov::String clip_file_;
  int32_t clip_index_ = 0;
  uint32_t preview_end_time_ = 0;
  ov::String position_text_name_, start_rectangle_text_, end_rectangle_text_;
};

}  // namespace screens
