#include "platform/ui/message_box.h"

#include <algorithm>

#include "platform/gfx/font.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window.h"

namespace wnd {
namespace {

// Pixels between the screen's edge and the box, and inside the box around
// its rows.
constexpr int32_t kMargin = 4;
constexpr int32_t kPadding = 6;
// Buttons: the narrowest a stylus still hits, their height and the gap
// between two of them.
constexpr int32_t kMinButtonWidth = 44;
constexpr int32_t kButtonHeight = 20;
constexpr int32_t kButtonGap = 12;
constexpr char16_t kEllipsis[] = u"...";

MessageBoxShownHook& ShownHook() {
  static MessageBoxShownHook hook;
  return hook;
}

int32_t Width(gfx::HDC dc, std::u16string_view s) {
  gfx::Size size{};
  gfx::GetTextExtentPoint(dc, s, &size);
  return size.cx;
}

// `s` cut in its middle with "..." to at most `width` pixels: as many units
// of its start and end as fit (a surrogate pair is never split).
std::u16string CutMiddle(gfx::HDC dc, const std::u16string& s, int32_t width) {
  if (Width(dc, s) <= width) return s;
  auto cut = [&](size_t keep) {
    size_t head = (keep + 1) / 2, tail = keep / 2;
    if (head > 0 && s[head - 1] >= 0xD800 && s[head - 1] < 0xDC00) --head;
    if (tail > 0 && s[s.size() - tail] >= 0xDC00 && s[s.size() - tail] < 0xE000) --tail;
    return s.substr(0, head) + kEllipsis + s.substr(s.size() - tail);
  };
  // The longest cut that fits: widths grow with the units kept.
  size_t lo = 0, hi = s.size() - 1;
  while (lo < hi) {
    const size_t mid = (lo + hi + 1) / 2;
    if (Width(dc, cut(mid)) <= width) lo = mid;
    else hi = mid - 1;
  }
  return cut(lo);
}

// One paragraph wrapped at blanks to `width` pixels; a word wider than a
// line gets a line of its own, cut in its middle.
void Wrap(gfx::HDC dc, const std::u16string& paragraph, int32_t width, std::vector<std::u16string>* lines) {
  std::u16string line;
  size_t start = 0;
  bool any = false;
  while (start <= paragraph.size()) {
    size_t end = paragraph.find(u' ', start);
    if (end == std::u16string::npos) end = paragraph.size();
    const std::u16string word = paragraph.substr(start, end - start);
    start = end + 1;
    if (word.empty() && end < paragraph.size()) continue;  // runs of blanks
    const std::u16string joined = line.empty() ? word : line + u' ' + word;
    if (Width(dc, joined) <= width) {
      line = joined;
      continue;
    }
    if (!line.empty()) {
      lines->push_back(line);
      any = true;
    }
    line = CutMiddle(dc, word, width);
  }
  if (!line.empty() || !any) lines->push_back(line);
}

}  // namespace

MessageBoxLayout LayOutMessageBox(gfx::HDC dc, int32_t width, int32_t height, const ov::String& caption,
                                  const ov::String& text, uint32_t buttons) {
  MessageBoxLayout l;
  gfx::TextMetrics tm;
  gfx::GetTextMetrics(dc, &tm);
  const int32_t line_h = std::max<int32_t>(tm.height, 1);
  const int32_t max_box_w = std::max<int32_t>(width - 2 * kMargin, 1);
  const int32_t text_w = std::max<int32_t>(max_box_w - 2 * kPadding, 1);

  l.labels = buttons == kBoxYesNo ? std::vector<std::u16string>{u"Yes", u"No"} : std::vector<std::u16string>{u"OK"};
  std::vector<int32_t> button_w;
  int32_t buttons_w = 0;
  for (const std::u16string& label : l.labels) {
    button_w.push_back(std::min(text_w, std::max(kMinButtonWidth, Width(dc, label) + 12)));
    buttons_w += button_w.back();
  }
  buttons_w += kButtonGap * static_cast<int32_t>(l.labels.size() - 1);

  l.caption = CutMiddle(dc, std::u16string(caption.View()), text_w);
  std::u16string all(text.View());
  // Line ends of any platform; a tab reads as a blank.
  for (char16_t& c : all) {
    if (c == u'\r') c = u'\n';
    else if (c == u'\t') c = u' ';
  }
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(u'\n', start);
    if (end == std::u16string::npos) end = all.size();
    Wrap(dc, all.substr(start, end - start), text_w, &l.lines);
    start = end + 1;
  }

  // As many lines as the screen holds beside the caption and the buttons;
  // of more, the first and the last ones with "..." between them, since the
  // end of a text often holds its question.
  const int32_t fixed_h = 2 * kMargin + 2 * kPadding + line_h + kPadding + kPadding + kButtonHeight;
  const size_t fit = static_cast<size_t>(std::max<int32_t>((height - fixed_h) / line_h, 1));
  if (l.lines.size() > fit) {
    const size_t tail = fit / 2, head = fit - 1 - tail;
    std::vector<std::u16string> kept(l.lines.begin(), l.lines.begin() + static_cast<std::ptrdiff_t>(head));
    kept.push_back(kEllipsis);
    kept.insert(kept.end(), l.lines.end() - static_cast<std::ptrdiff_t>(tail), l.lines.end());
    l.lines = std::move(kept);
  }

  int32_t content_w = std::max(buttons_w, Width(dc, l.caption));
  for (const std::u16string& line : l.lines) content_w = std::max(content_w, Width(dc, line));
  const int32_t box_w = std::min(max_box_w, content_w + 2 * kPadding);
  const int32_t lines_h = static_cast<int32_t>(l.lines.size()) * line_h;
  const int32_t box_h = std::min(height - 2 * kMargin,
                                 kPadding + line_h + kPadding + lines_h + kPadding + kButtonHeight + kPadding);
  const int32_t left = (width - box_w) / 2, top = std::max<int32_t>(0, (height - box_h) / 2);
  l.box = {left, top, left + box_w, top + box_h};
  l.caption_rect = {left + kPadding, top + kPadding, left + box_w - kPadding, top + kPadding + line_h};
  int32_t y = l.caption_rect.bottom + kPadding;
  for (size_t i = 0; i < l.lines.size(); ++i, y += line_h) {
    l.line_rects.push_back({left + kPadding, y, left + box_w - kPadding, y + line_h});
  }
  const int32_t button_top = l.box.bottom - kPadding - kButtonHeight;
  int32_t x = left + (box_w - buttons_w) / 2;
  for (int32_t w : button_w) {
    l.buttons.push_back({x, button_top, x + w, button_top + kButtonHeight});
    x += w + kButtonGap;
  }
  return l;
}

void SetMessageBoxShownHook(MessageBoxShownHook hook) { ShownHook() = std::move(hook); }

namespace {

class MessageBoxDialog : public Window::ModalInput {
 public:
  MessageBoxDialog(Window* owner, const ov::String& caption, const ov::String& text, uint32_t buttons)
      : owner_(owner), caption_(caption), text_(text), buttons_(buttons) {}

  int Run() {
    Window::ModalInput* outer = owner_->modal_input();
    owner_->SetModalInput(this);
    LayOut();
    owner_->Present(layout_.box);
    while (answer_ == 0) {
      if (!owner_->Pump(50)) answer_ = EscapeAnswer();
    }
    owner_->SetModalInput(outer);
    owner_->InvalidateAll();
    return answer_;
  }

  void OnModalKey(Window::ModalKey key) override {
    if (answer_ != 0) return;
    switch (key) {
      case Window::ModalKey::kLeftSoftKey: answer_ = ButtonAnswer(0); break;
      case Window::ModalKey::kRightSoftKey: answer_ = ButtonAnswer(layout_.buttons.size() - 1); break;
      case Window::ModalKey::kBack: answer_ = EscapeAnswer(); break;
      case Window::ModalKey::kRotate:
        // The screen turns now; the box is laid out for it and stays open.
        owner_->Rotate();
        LayOut();
        owner_->InvalidateAll();
        break;
    }
  }

  void OnModalText(const std::string& utf8) override { (void)utf8; }

  // A tap on a button presses it: down and up both inside the same button.
  void OnModalStylus(bool down, int32_t x, int32_t y) override {
    if (answer_ != 0) return;
    int hit = -1;
    for (size_t i = 0; i < layout_.buttons.size(); ++i) {
      const gfx::Rect& r = layout_.buttons[i];
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) hit = static_cast<int>(i);
    }
    if (down) {
      pressed_ = hit;
      owner_->Present(layout_.box);
      return;
    }
    const int pressed = pressed_;
    pressed_ = -1;
    owner_->Present(layout_.box);
    if (hit >= 0 && hit == pressed) answer_ = ButtonAnswer(static_cast<size_t>(hit));
  }

  void OnModalPaint() override {
    if (owner_->screen_width() != laid_out_.cx || owner_->screen_height() != laid_out_.cy) LayOut();
    Draw();
    if (announce_ && answer_ == 0) {
      announce_ = false;
      if (ShownHook()) ShownHook()(layout_);
    }
  }

 private:
  void Draw() {
    auto dc = gfx::CreateWindowDC(owner_->surface());
    if (!dc) return;
    const MessageBoxLayout& l = layout_;
    gfx::FillRect(dc.get(), l.box, gfx::CreateSolidBrush(gfx::Rgb(255, 255, 255)));
    const gfx::Rect inner{l.box.left + 1, l.box.top + 1, l.box.right - 1, l.box.bottom - 1};
    gfx::FillRect(dc.get(), inner, gfx::CreateSolidBrush(gfx::Rgb(0, 0, 96)));
    dc->SelectFont(gfx::GetStockFont());
    dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(gfx::Rgb(255, 255, 160));
    gfx::ExtTextOut(dc.get(), l.caption_rect.left, l.caption_rect.top, gfx::kEtoClipped, &l.caption_rect, l.caption);
    dc->SetTextColor(gfx::Rgb(255, 255, 255));
    for (size_t i = 0; i < l.lines.size(); ++i) {
      gfx::ExtTextOut(dc.get(), l.line_rects[i].left, l.line_rects[i].top, gfx::kEtoClipped, &l.line_rects[i],
                      l.lines[i]);
    }
    for (size_t i = 0; i < l.buttons.size(); ++i) {
      const gfx::Rect& key = l.buttons[i];
      const bool pressed = pressed_ == static_cast<int>(i);
      gfx::FillRect(dc.get(), key, gfx::CreateSolidBrush(pressed ? gfx::Rgb(64, 64, 224) : gfx::Rgb(0, 0, 176)));
      gfx::Size size{};
      gfx::GetTextExtentPoint(dc.get(), l.labels[i], &size);
      gfx::ExtTextOut(dc.get(), key.left + (key.Width() - size.cx) / 2, key.top + (key.Height() - size.cy) / 2,
                      gfx::kEtoClipped, &key, l.labels[i]);
    }
  }

  void LayOut() {
    auto dc = gfx::CreateWindowDC(owner_->surface());
    if (!dc) return;
    dc->SelectFont(gfx::GetStockFont());
    laid_out_ = {owner_->screen_width(), owner_->screen_height()};
    layout_ = LayOutMessageBox(dc.get(), laid_out_.cx, laid_out_.cy, caption_, text_, buttons_);
    announce_ = true;
  }
  int ButtonAnswer(size_t i) const {
    if (buttons_ != kBoxYesNo) return kAnswerOk;
    return i == 0 ? kAnswerYes : kAnswerNo;
  }
  int EscapeAnswer() const { return buttons_ == kBoxYesNo ? kAnswerNo : kAnswerOk; }

  Window* owner_;
  ov::String caption_, text_;
  uint32_t buttons_;
  MessageBoxLayout layout_;
  gfx::Size laid_out_{};
  int answer_ = 0;
  int pressed_ = -1;      // the button a press began on
  bool announce_ = false;  // laid out anew, not yet told to the shown hook
};

}  // namespace

int RunMessageBox(Window* owner, const ov::String& caption, const ov::String& text, uint32_t buttons) {
  MessageBoxDialog box(owner, caption, text, buttons);
  return box.Run();
}

}  // namespace wnd
