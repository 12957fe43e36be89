#pragma once
// TextEditor: the element on which the user types and styles a text clip (a
// caption of a channel's clip, or the start or end credits), and the drawer
// of text clips for the video mixer. On its screen it shows the clip in its
// style, asks for the text in the text-entry dialog, turns the screen's
// style actions (through the Text* options) into the clip's style, sets up
// the channel's overlay and photo effect, and previews the clip with its
// text on a preview engine of its own (channel 16). Off-screen
// (made with OffScreen, prepared with InitTextEditor) it reaches no UI host,
// so the render process, the decode-to-cache workers and the replay thread
// may draw with it; each off-screen editor is used by one thread at a time.
//
// Style: text colour, background (-1: none, the box stays see-through),
// size (0: a font of an eighth of the width, else a quarter), justification
// (0 left, 1 centred, 2 right, 3 justified), vertical alignment (0 top,
// 1 middle, 2 bottom), bold, italic, underline.

#include <cstdint>
#include <memory>

#include "engine/text_clip_renderer.h"
#include "screens/project/text_clip.h"
#include "ui/action_codes.h"
#include "ui/control.h"

namespace engine {
class MixEngine;
}  // namespace engine

namespace screens {

class ChannelSelection;
class Mixer;

class TextEditor : public ui::Control {
 public:
  TextEditor();
  explicit TextEditor(OffScreen);
  ~TextEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  // Nothing for an empty text; else the background box (when the clip has
  // one) and the text block, placed by the vertical alignment. While a
  // preview plays or is paused, the preview's picture inside the borders.
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t, int32_t) override { return true; }
  bool OnStylusMove(int32_t, int32_t) override { return true; }
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  // Off-screen use: antialiased text, the clip (borrowed) laid out in a
  // width x height box at 0,0. Answers 1.
  int InitTextEditor(int32_t width, int32_t height, TextClip* clip);
  // Takes the style of `style` into the clip first when given (the style
  // chosen on the screen); a clip without background then gets its key
  // colour derived from the text colour. Then the box takes the clip's
  // style. 0 without clip; else whether anything changed.
  int ApplyTextStyle(const TextClip* style);
  // ApplyTextStyle with the style held in the options (TextBackGndColour,
  // TextColour, TextSize, TextBold, TextItalic, TextUnderline, TextJust,
  // TextVAlign).
  int ApplyOptionsStyle();
  // Copies the clip's style into those options.
  void SaveTextStyle();
  // Asks for the clip's text in the text-entry dialog; on accept the clip
  // takes the typed text. Nothing without a clip. Answers 1.
  int EditText();
  // Takes the text clip of the channel named `name`: 274 the clip selected
  // in the screen's clip order list, 275 the first clip (both only for a
  // channel of the mixer), 276 and 277 the credits' clip.
  void SelectTextClip(const ov::String& name, int32_t code);

  TextClip* clip() const { return clip_; }
  ChannelSelection* channel() const { return channel_; }
  int clip_index() const { return clip_index_; }
  int32_t text_height() const { return text_height_; }
  bool playing() const { return playing_; }
  bool paused() const { return paused_; }
  bool credits() const { return credits_; }
  bool start_credits() const { return start_credits_; }
  int32_t selection_code() const { return selection_code_; }
  const ov::String& selection_name() const { return selection_name_; }
  engine::MixEngine* preview_engine() const { return engine_.get(); }

 private:
  Mixer* FindMixer() const;
  void ShowClipText();
  void UpdateMenuItems();
  void StartPreview();
  // Posts the edited clip with its text on the preview's picture channel.
  void PlayClip();
  void StopPreview();
  void SetUpOverlay();
  void ApplyOverlay();
  void ToggleOption(int option);
  void SetStyleOption(int option, uint32_t value);

  TextClip* clip_ = nullptr;
  ChannelSelection* channel_ = nullptr;  // not owned
  int clip_index_ = 0;
  bool playing_ = false;
  int32_t border_y_ = 0, border_x_ = 0;
  std::shared_ptr<engine::MixEngine> engine_;
  uint32_t frame_rate_ = 15;
  bool paused_ = false;
  int32_t volume_ = 50;
  int32_t preview_word_ = 0;
  ov::String placeholder_, dialog_title_, dialog_ok_, dialog_cancel_;
  bool credits_ = false, start_credits_ = false;
  ov::String overlay_menu_;
  ov::String selection_name_;
  int32_t selection_code_ = 2;
};

// The key colour of a clip without background: each of the red, green and
// blue bytes of the text colour moved 0x20 away from it (up below 0xE0,
// else down), so that no glyph pixel takes the key.
uint32_t DeriveKeyColour(uint32_t textColour);

// The renderer the engine draws text clips with (an off-screen TextEditor).
std::unique_ptr<engine::TextClipRenderer> MakeTextClipRenderer();

}  // namespace screens
