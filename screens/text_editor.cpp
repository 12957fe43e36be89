#include "screens/text_editor.h"

#include "ui/element.h"
#include "ui/ui_host.h"

namespace screens {

TextEditor::TextEditor() { type_ = ui::kTypeTextEditor; }

TextEditor::TextEditor(OffScreen) : ui::Control(OffScreen{}) { type_ = ui::kTypeTextEditor; }

TextEditor::~TextEditor() = default;

uint32_t DeriveKeyColour(uint32_t textColour) {
  uint32_t key = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t byte = (textColour >> shift) & 0xFF;
    key |= (byte < 0xE0 ? byte + 0x20 : byte - 0x20) << shift;
  }
  return key;
}

int TextEditor::InitTextEditor(int32_t width, int32_t height, TextClip* clip) {
  antialias_ = true;
  clip_ = clip;
  x_ = 0;
  y_ = 0;
  x_size_ = width;
  y_size_ = height;
  UpdateLayout();
  ApplyTextStyle(nullptr);
  TextBox::OnAction(ui::kActionSetText, clip ? clip->textString : ov::String(), 0);
  return 1;
}

int TextEditor::ApplyTextStyle(const TextClip* style) {
  if (!clip_) return 0;
  if (style) {
    clip_->backgroundColour = style->backgroundColour;
    clip_->textColour = style->textColour;
    clip_->textSize = style->textSize;
    clip_->bold = style->bold;
    clip_->italic = style->italic;
    clip_->underline = style->underline;
    clip_->justification = style->justification;
    clip_->verticalAlign = style->verticalAlign;
    if (clip_->backgroundColour == -1) clip_->keyColour = DeriveKeyColour(clip_->textColour);
  }
  const int32_t height = clip_->textSize == 0 ? x_size_ / 8 : x_size_ / 4;
  const bool centred = clip_->justification == 1;
  const bool right = clip_->justification == 2;
  const bool justified = clip_->justification == 3;
  const bool changed = idle_colour_ != clip_->textColour || text_height_ != height || centred_ != centred ||
                       right_ != right || justified_ != justified || italic_ != (clip_->italic != 0) ||
                       bold_ != (clip_->bold != 0) || underline_ != (clip_->underline != 0);
  idle_colour_ = clip_->textColour;
  text_height_ = height;
  centred_ = centred;
  right_ = right;
  justified_ = justified;
  italic_ = clip_->italic != 0;
  bold_ = clip_->bold != 0;
  underline_ = clip_->underline != 0;
  if (changed) {
    layout_pending_ = true;
    ReleaseFont();
  }
  if (ui::UiHost* host = OnScreenHost()) host->InvalidateAll();
  return changed ? 1 : 0;
}

void TextEditor::Draw(gfx::HDC dc, int state) {
  if (!dc || text_.IsEmpty()) return;
  const int32_t h = GetTextHeight(dc);
  const int32_t box = y_size_;
  int32_t offset = 0;
  const int32_t align = clip_ ? clip_->verticalAlign : 0;
  if (h > 0 && h < box && box > 0) {
    if (align == 1) offset = box / 2 - h / 2;
    else if (align == 2) offset = box - h;
  }
  if (!off_screen()) DrawStateImage(dc, x_, y_, state, false);
  if (clip_ && clip_->backgroundColour != -1) {
    gfx::FillRect(dc, gfx::Rect{x_, y_, x_ + x_size_, y_ + y_size_},
                  gfx::CreateSolidBrush(uint32_t(clip_->backgroundColour)));
  }
  DrawTextBlock(dc, state, x_, y_ + offset, false);
  ResetRect();
}

namespace {

class EditorTextRenderer : public engine::TextClipRenderer {
 public:
  bool Prepare(const ov::String& descriptor, int32_t width, int32_t height) override {
    if (width <= 0 || height <= 0) return false;
    clip_ = TextClip{};
    if (!IsTextClip(descriptor) || ParseTextClip(&clip_, descriptor) != 1) return false;
    editor_ = std::make_unique<TextEditor>(ui::TextBox::OffScreen{});
    return editor_->InitTextEditor(width, height, &clip_) == 1;
  }
  bool HasBackground() const override { return clip_.backgroundColour != -1; }
  bool Draw(uint32_t, gfx::HDC dc) override {
    if (!editor_ || !dc) return false;
    editor_->Draw(dc, ui::kDrawNormal);
    return true;
  }

 private:
  TextClip clip_;
  std::unique_ptr<TextEditor> editor_;
};

}  // namespace

std::unique_ptr<engine::TextClipRenderer> MakeTextClipRenderer() { return std::make_unique<EditorTextRenderer>(); }

}  // namespace screens
