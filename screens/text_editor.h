#pragma once
// TextEditor: the element that shows a text clip (a caption or the credits)
// in its style, and the drawer of text clips for the video mixer. Off-screen
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
#include "screens/text_clip.h"
#include "ui/control.h"

namespace screens {

class TextEditor : public ui::Control {
 public:
  TextEditor();
  explicit TextEditor(OffScreen);
  ~TextEditor() override;

  // Off-screen use: antialiased text, the clip (borrowed) laid out in a
  // width x height box at 0,0. Answers 1.
  int InitTextEditor(int32_t width, int32_t height, TextClip* clip);
  // Takes the style of `style` into the clip first when given (the style
  // chosen on the screen); a clip without background then gets its key
  // colour derived from the text colour. Then the box takes the clip's
  // style. 0 without clip; else whether anything changed.
  int ApplyTextStyle(const TextClip* style);
  // Nothing for an empty text; else the background box (when the clip has
  // one) and the text block, placed by the vertical alignment.
  void Draw(gfx::HDC dc, int state) override;

  TextClip* clip() const { return clip_; }
  int32_t text_height() const { return text_height_; }

 private:
  TextClip* clip_ = nullptr;
};

// The key colour of a clip without background: each of the red, green and
// blue bytes of the text colour moved 0x20 away from it (up below 0xE0,
// else down), so that no glyph pixel takes the key.
uint32_t DeriveKeyColour(uint32_t textColour);

// The renderer the engine draws text clips with (an off-screen TextEditor).
std::unique_ptr<engine::TextClipRenderer> MakeTextClipRenderer();

}  // namespace screens
