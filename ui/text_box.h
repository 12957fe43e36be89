#pragma once
// TextBox: a rectangle of word-wrapped text in a skin font, read-only (a
// label) or writable (an edit field with a caret). Use it for text alone; it
// is also the text engine under every Control, so every menu item carries a
// text laid out here.
//
// Thread: UI thread only.

#include <cstdint>
#include <vector>

#include "platform/gfx/font.h"
#include "ui/element.h"

namespace ui {

// One laid-out line.
struct TextLine {
  int32_t index = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t break_kind = 0;  // -1: broken because the next word did not fit; else the character count
  int32_t continuation = 0;
  int32_t start = 0;
  int32_t length = 0;  // characters drawn, without the line-break characters
};

class UiHost;

class TextBox : public Element {
 public:
  // Marks an off-screen box: it reads no skin style and reaches no UI host,
  // so it may lay out and draw on any thread (the text-clip renderer).
  struct OffScreen {};

  TextBox();
  explicit TextBox(OffScreen);
  ~TextBox() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  void UpdateLayout() override;
  bool IsFocusable() const override { return writable_; }
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  int EnableIfAttribute(bool on, const ov::String& name, int32_t depth) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;
  virtual void TextInsertChar(char16_t c);
  virtual void TextKey(int32_t key);

  // Draws the text block at (x, y); ellipsis: whether "dots" may be drawn.
  void DrawTextBlock(gfx::HDC dc, int state, int32_t x, int32_t y, bool ellipsis);
  int32_t GetTextHeight(gfx::HDC dc);
  // 1 when the text was stored into the option named by the attribute.
  int StoreTextToOption();
  void SaveStrings(ov::Archive* archive);
  void LoadStrings(ov::Archive* archive);

  const std::vector<TextLine>& lines() const { return lines_; }
  int32_t caret() const { return caret_; }
  bool editing() const { return editing_; }
  int32_t first_visible_line() const { return first_line_; }
  bool more_below() const { return more_below_; }
  bool caret_phase() const { return caret_phase_; }
  void set_caret_phase(bool on) { caret_phase_ = on; }
  // Releases the created font (leaving the menu).
  void ReleaseFont() { font_.reset(); }

 protected:
  // Creates the font on first use and selects it; returns the previous font.
  gfx::HFont SelectOwnFont(gfx::HDC dc);
  void LayoutLines(gfx::HDC dc);
  int32_t FitWords(gfx::HDC dc, const std::u16string& text, int32_t start, TextLine* line);
  int32_t Measure(gfx::HDC dc, std::u16string_view text, int32_t* height);
  std::u16string LaidOutText() const;
  void SetText(const ov::String& text);
  void RefreshFromOption();
  void Repaint();
  // The UI host, or null for an off-screen box.
  UiHost* OnScreenHost() const;
  bool off_screen() const { return off_screen_; }

  int32_t caret_ = 0;
  int32_t first_line_ = 0;
  bool password_ = false;
  int32_t caret_mode_ = 2;
  int32_t blink_period_ = 500;
  uint32_t last_blink_ = 0;
  gfx::Rect caret_rect_;
  bool centred_ = false, right_ = false, justified_ = false;
  bool writable_ = false;
  int32_t frame_width_ = 1;
  uint32_t frame_colour_ = 0xFFFFFF;
  bool initially_activated_ = false;
  ov::String backup_text_;
  bool layout_pending_ = true;
  int32_t text_type_ = 3;
  int32_t text_height_ = 14;
  uint32_t disabled_colour_ = 0, focused_colour_ = 0, focused_background_ = 0, idle_colour_ = 0;
  ov::String font_face_;
  bool antialias_ = false;
  ov::String format_;
  ov::String typed_word_;
  uint32_t max_chars_ = 0xFFFFFFFFu;
  bool caret_phase_ = false;
  bool no_confirm_ = false, blank_on_edit_ = false;
  ov::String scroll_down_name_, scroll_up_name_;
  bool no_focus_background_ = false;
  bool more_below_ = false;
  bool option_stored_ = false;
  bool editing_ = false;
  std::vector<TextLine> lines_;
  int32_t angle_ = 0;
  ov::String dots_;
  gfx::HFont font_;
  bool italic_ = false, underline_ = false, bold_ = false;
  bool off_screen_ = false;
};

}  // namespace ui
