#include "ui/text_box.h"

#include <algorithm>
#include <vector>

#include "platform/os/thread.h"
#include "ui/action_keywords.h"
#include "ui/text_drawing.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

// Virtual-key codes of TextKey.
enum : int32_t {
  kKeyEnd = 0x23,
  kKeyHome = 0x24,
  kKeyLeft = 0x25,
  kKeyUp = 0x26,
  kKeyRight = 0x27,
  kKeyDown = 0x28,
  kKeyDelete = 0x2E,
};

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// The length of the line break at `at`: 2 for CR LF, 1 for a lone CR or
// LF, 0 for none (also at the end).
int32_t BreakLength(const std::u16string& text, int32_t at) {
  const size_t i = static_cast<size_t>(at);
  if (i >= text.size() || !IsBreak(text[i])) return 0;
  return text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? 2 : 1;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

// Characters past the fitted part of a line in its first measured prefix:
// a usual word fits in it, so it is measured once, whole.
constexpr int32_t kFirstProbe = 16;

}  // namespace

TextBox::TextBox() {
  type_ = kTypeTextBox;
  x_ = 0;
  y_ = 0;
  x_size_ = 100;
  y_size_ = 10;
  if (Host()) {
    const TextStyle style = Host()->GetTextStyle();
    focused_colour_ = style.focused_text;
    idle_colour_ = style.idle_text;
    disabled_colour_ = style.disabled_text;
    focused_background_ = style.focused_background;
    font_face_ = style.font;
    antialias_ = style.antialias;
  } else {
    idle_colour_ = 0xFFFFFF;
    font_face_ = u"Tahoma";
  }
}

TextBox::TextBox(OffScreen) : off_screen_(true) {
  type_ = kTypeTextBox;
  x_size_ = 100;
  y_size_ = 10;
  idle_colour_ = 0xFFFFFF;
  font_face_ = u"Tahoma";
}

TextBox::~TextBox() = default;

UiHost* TextBox::OnScreenHost() const { return off_screen_ ? nullptr : Host(); }

void TextBox::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"text", u"tx")) {
    SetText(value);
  } else if (NameIs(name, u"bold")) {
    bold_ = IsTrueValue(value);
  } else if (NameIs(name, u"dots")) {
    dots_ = value;
  } else if (NameIs(name, u"textAngle")) {
    angle_ = ParseCoordinate(value) * 10;
  } else if (NameIs(name, u"noTextBgFcColor", u"nbgc")) {
    no_focus_background_ = IsTrueValue(value);
  } else if (NameIs(name, u"centered", u"ctr")) {
    centred_ = IsTrueValue(value);
  } else if (NameIs(name, u"rightJust")) {
    right_ = IsTrueValue(value);
  } else if (NameIs(name, u"Justify")) {
    justified_ = IsTrueValue(value);
  } else if (NameIs(name, u"Formatting")) {
    format_ = value;
  } else if (NameIs(name, u"texttype")) {
    if (value.EqualsNoCase(u"uppercase")) text_type_ = 0;
    else if (value.EqualsNoCase(u"lowercase")) text_type_ = 1;
    else if (value.EqualsNoCase(u"numerical")) text_type_ = 2;
  } else if (NameIs(name, u"caret")) {
    caret_mode_ = ParseDecimal(value);
  } else if (NameIs(name, u"maxchars")) {
    max_chars_ = static_cast<uint32_t>(ParseDecimal(value));
  } else if (NameIs(name, u"password")) {
    password_ = IsTrueValue(value);
    layout_pending_ = true;
  } else if (NameIs(name, u"font", u"ft")) {
    font_face_ = value;
  } else if (NameIs(name, u"antialias", u"aa")) {
    antialias_ = IsTrueValue(value);
  } else if (NameIs(name, u"xSize", u"xS")) {
    x_size_ = ParseCoordinate(value);
    layout_pending_ = true;
  } else if (NameIs(name, u"selectedColor", u"sc")) {
    frame_colour_ = ParseColour(value);
  } else if (NameIs(name, u"selectedWidth", u"sw")) {
    frame_width_ = ParseCoordinate(value);
  } else if (NameIs(name, u"writable", u"wr")) {
    writable_ = IsTrueValue(value);
  } else if (NameIs(name, u"initiallyActivated")) {
    initially_activated_ = IsTrueValue(value);
  } else if (NameIs(name, u"ySize", u"yS")) {
    y_size_ = ParseCoordinate(value);
  } else if (NameIs(name, u"textHeight", u"th")) {
    text_height_ = ParseCoordinate(value);
  } else if (NameIs(name, u"textFcColor", u"tfc")) {
    focused_colour_ = ParseColour(value);
  } else if (NameIs(name, u"textIdColor", u"tic")) {
    idle_colour_ = ParseColour(value);
  } else if (NameIs(name, u"textDisabledColor", u"tdc")) {
    disabled_colour_ = ParseColour(value);
  } else if (NameIs(name, u"textBgFcColor", u"tbfc")) {
    focused_background_ = ParseColour(value);
  } else if (NameIs(name, u"scrollUp")) {
    scroll_up_name_ = value;
  } else if (NameIs(name, u"scrollDown")) {
    scroll_down_name_ = value;
  } else if (NameIs(name, u"blankOnEdit")) {
    blank_on_edit_ = IsTrueValue(value);
  } else if (NameIs(name, u"noConfirm", u"nc")) {
    no_confirm_ = IsTrueValue(value);
  } else {
    Element::LoadAttribute(name, value);
  }
}

void TextBox::SetText(const ov::String& text) {
  text_ = text;
  caret_ = text_.Length();
  layout_pending_ = true;
}

std::u16string TextBox::LaidOutText() const {
  if (password_) return std::u16string(static_cast<size_t>(text_.Length()), u'*');
  return std::u16string(text_.View());
}

gfx::HFont TextBox::SelectOwnFont(gfx::HDC dc) {
  if (!font_) {
    gfx::LogFont lf;
    FindFont(dc, &lf, font_face_);
    lf.height = text_height_;
    lf.escapement = angle_;
    lf.orientation = angle_;
    lf.weight = bold_ ? gfx::kFwBold : gfx::kFwNormal;
    lf.italic = italic_ ? 1 : 0;
    lf.underline = underline_ ? 1 : 0;
    lf.quality = antialias_ ? gfx::kAntialiasedQuality : gfx::kNonAntialiasedQuality;
    font_ = gfx::CreateFontIndirect(lf);
  }
  return dc->SelectFont(font_);
}

int32_t TextBox::Measure(gfx::HDC dc, std::u16string_view text, int32_t* height) {
  gfx::Size size;
  if (!gfx::GetTextExtentExPoint(dc, text, -1, nullptr, nullptr, &size)) {
    if (height) *height = 0;
    return -1;
  }
  int32_t width = size.cx;
  if (italic_) {
    gfx::Size space;
    if (gfx::GetTextExtentPoint(dc, u" ", &space)) width += space.cx;
  }
  if (height) *height = size.cy;
  return width;
}

int32_t TextBox::FitWords(gfx::HDC dc, const std::u16string& text, int32_t start, TextLine* line) {
  const int32_t n = static_cast<int32_t>(text.size());
  int32_t pos = start;
  int32_t fitted = 0;  // characters accepted, line breaks excluded
  int32_t tokens = 0;
  line->start = start;
  line->width = 0;
  line->height = 0;
  for (;;) {
    if (pos >= n) {
      line->length = fitted;
      line->break_kind = fitted;
      return pos - start;
    }
    // A token: non-spaces, then spaces, up to a line break or the next word.
    // It is scanned and measured only as far as needed: the line so far plus
    // a prefix of the token is measured, the prefix doubling its part past
    // the fitted text while it fits. Advances are never negative, so a
    // prefix that reaches the box width decides for the whole token, and a
    // word of any length costs about what fits on a line, not its whole
    // rest.
    int32_t end = pos;
    bool in_spaces = false, complete = false;
    auto scan_to = [&](int32_t limit) {
      while (!complete && end < limit && end < n) {
        const char16_t c = text[static_cast<size_t>(end)];
        if (c == u' ') in_spaces = true;
        else if (IsBreak(c) || in_spaces) break;
        ++end;
      }
      if (end >= n || (end < limit && !complete)) complete = true;
    };
    int32_t probe = fitted + kFirstProbe;  // characters from the line start
    int32_t height = 0;
    int32_t width = -1;
    for (;;) {
      scan_to(start + probe);
      // A prefix never ends between the two halves of a surrogate pair.
      if (!complete && IsHighSurrogate(text[static_cast<size_t>(end - 1)])) scan_to(end + 1);
      if (complete && end == pos && BreakLength(text, end) == 0) ++end;  // never stall
      width = Measure(dc, std::u16string_view(text.data() + start, static_cast<size_t>(end - start)), &height);
      if (complete || width < 0 || width >= x_size_) break;
      probe = fitted + 2 * (probe - fitted);
    }
    if (width < 0) {
      // Unmeasured: skip the token and go on.
      scan_to(n);
      const int32_t break_chars = BreakLength(text, end);
      pos = end + break_chars;
      if (break_chars) {
        line->length = fitted;
        line->break_kind = fitted;
        return pos - start;
      }
      continue;
    }
    const int32_t measured = end - start;  // the whole token when complete
    if (width >= x_size_ && end > pos) {
      if (tokens > 0) {
        line->length = fitted;
        line->break_kind = -1;
        return pos - start;
      }
      // One word wider than the box: cut by characters, at least one. The
      // measured prefix holds the first character that does not fit, and
      // its partial extents are the widths of all shorter prefixes (one
      // that ends inside a surrogate pair is measured alone, as drawn).
      int32_t count = 0;
      int32_t cut_width = 0;
      int32_t cut_height = 0;
      std::vector<int32_t> extents(static_cast<size_t>(measured));
      gfx::Size size;
      int32_t slant = 0;
      if (italic_) {
        gfx::Size space;
        if (gfx::GetTextExtentPoint(dc, u" ", &space)) slant = space.cx;
      }
      const bool partial = gfx::GetTextExtentExPoint(
          dc, std::u16string_view(text.data() + start, static_cast<size_t>(measured)), -1, nullptr, extents.data(),
          &size);
      for (int32_t k = 1; partial && k <= measured; ++k) {
        int32_t h = size.cy;
        const int32_t w = k < measured && IsHighSurrogate(text[static_cast<size_t>(start + k - 1)])
                              ? Measure(dc, std::u16string_view(text.data() + start, static_cast<size_t>(k)), &h)
                              : extents[static_cast<size_t>(k - 1)] + slant;
        if (w < 0 || w >= x_size_) break;
        count = k;
        cut_width = w;
        cut_height = h;
      }
      if (count == 0) {
        count = 1;
        Measure(dc, std::u16string_view(text.data() + start, 1), &cut_height);
      }
      line->width = cut_width;
      line->height = cut_height;
      line->length = count;
      line->break_kind = -1;
      return count;
    }
    ++tokens;
    fitted = end - start;
    line->width = width;
    line->height = height;
    pos = end;
    if (const int32_t break_chars = BreakLength(text, end)) {
      line->length = fitted;
      line->break_kind = fitted;
      return pos + break_chars - start;
    }
  }
}

void TextBox::LayoutLines(gfx::HDC dc) {
  lines_.clear();
  const std::u16string text = LaidOutText();
  if (text.empty()) return;
  int32_t pos = 0;
  const int32_t n = static_cast<int32_t>(text.size());
  while (pos < n) {
    TextLine line;
    line.index = static_cast<int32_t>(lines_.size());
    line.continuation = line.index > 0 ? 1 : 0;
    const int32_t used = FitWords(dc, text, pos, &line);
    if (line.height == 0) {
      int32_t h = 0;
      Measure(dc, u" ", &h);
      line.height = h > 0 ? h : text_height_;
    }
    lines_.push_back(line);
    pos += used > 0 ? used : 1;
  }
}

int32_t TextBox::GetTextHeight(gfx::HDC dc) {
  gfx::HFont previous = SelectOwnFont(dc);
  if (layout_pending_) {
    LayoutLines(dc);
    layout_pending_ = false;
  }
  dc->SelectFont(previous);
  return lines_.empty() ? 0 : lines_[0].height * static_cast<int32_t>(lines_.size());
}

void TextBox::Draw(gfx::HDC dc, int state) { DrawTextBlock(dc, state, x_, y_, !dots_.IsEmpty()); }

void TextBox::DrawTextBlock(gfx::HDC dc, int state, int32_t x, int32_t y, bool ellipsis) {
  gfx::HFont previous = SelectOwnFont(dc);
  if (layout_pending_) LayoutLines(dc);
  // Colours.
  dc->SetBkMode(gfx::kOpaque);
  if (state == kDrawFocused) {
    if (no_focus_background_) dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(focused_colour_);
    dc->SetBkColor(focused_background_);
  } else if (state == kDrawDisabled) {
    dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(disabled_colour_);
  } else {
    dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(idle_colour_);
  }
  const std::u16string text = LaidOutText();
  const int32_t count = static_cast<int32_t>(lines_.size());
  if (count > 0 && first_line_ > count) first_line_ = count - 1;
  if (editing_ && count > 0) {
    int32_t caret_line = count - 1;
    for (const TextLine& l : lines_) {
      if (l.start + l.length - 1 >= caret_) {
        caret_line = l.index;
        break;
      }
    }
    const int32_t lh = lines_[caret_line].height > 0 ? lines_[caret_line].height : 1;
    const int32_t visible_lines = y_size_ / lh;
    if (caret_line >= first_line_ + visible_lines) first_line_ = caret_line - visible_lines + 1;
    if (caret_line < first_line_) first_line_ = caret_line;
    if (first_line_ < 0) first_line_ = 0;
  }
  more_below_ = false;
  int32_t dots_width = 0;
  if (ellipsis && !dots_.IsEmpty()) {
    gfx::Size s;
    if (gfx::GetTextExtentPoint(dc, dots_.View(), &s)) dots_width = s.cx;
  }
  const bool vertical = angle_ == 900;
  int32_t line_y = y;
  for (int32_t i = std::max<int32_t>(first_line_, 0); i < count; ++i) {
    const TextLine& l = lines_[i];
    if (line_y + l.height > y + y_size_) {
      more_below_ = true;
      break;
    }
    const std::u16string_view line_text(text.data() + l.start, static_cast<size_t>(l.length));
    const bool draw_dots = dots_width > 0 && i + 1 < count && line_y + 2 * l.height > y + y_size_;
    const int32_t d = draw_dots ? dots_width : 0;
    int32_t tx = x;
    int32_t ty = line_y;
    if (right_ && l.width != 0) {
      if (vertical) ty = y + l.width - x_size_ + d;
      else tx = x + x_size_ - l.width - d;
    } else if (centred_ && l.width != 0) {
      if (vertical) ty = y + (l.width + d) / 2 - x_size_ / 2;
      else tx = x + x_size_ / 2 - (l.width + d) / 2;
    }
    int words = 0;
    for (int32_t k = 0; k < l.length; ++k) {
      if (line_text[k] != u' ' && (k == 0 || line_text[k - 1] == u' ')) ++words;
    }
    if (justified_ && l.break_kind == -1 && words > 1 && l.width != x_size_) {
      const uint32_t extra = static_cast<uint32_t>(x_size_ - l.width) / static_cast<uint32_t>(words - 1);
      int32_t offset = 0;
      int32_t k = 0;
      while (k < l.length) {
        int32_t e = k;
        while (e < l.length && line_text[e] == u' ') ++e;
        while (e < l.length && line_text[e] != u' ') ++e;
        const std::u16string_view chunk = line_text.substr(static_cast<size_t>(k), static_cast<size_t>(e - k));
        if (vertical) gfx::ExtTextOut(dc, tx, ty - offset, 0, nullptr, chunk);
        else gfx::ExtTextOut(dc, tx + offset, ty, 0, nullptr, chunk);
        gfx::Size s;
        gfx::GetTextExtentPoint(dc, chunk, &s);
        offset += s.cx + static_cast<int32_t>(extra);
        k = e;
      }
    } else {
      gfx::ExtTextOut(dc, tx, ty, 0, nullptr, line_text);
      if (draw_dots) {
        if (right_) gfx::ExtTextOut(dc, x + x_size_ - d, line_y, 0, nullptr, dots_.View());
        else gfx::ExtTextOut(dc, tx + l.width, ty, 0, nullptr, dots_.View());
      }
    }
    // Caret.
    if (caret_mode_ != 0 && editing_ && caret_ >= l.start && caret_ <= l.start + l.length) {
      int32_t cx = 0;
      gfx::Size s;
      if (gfx::GetTextExtentPoint(dc, line_text.substr(0, static_cast<size_t>(caret_ - l.start)), &s)) cx = s.cx;
      if (right_) cx = x_size_;
      else if (centred_) cx = cx / 2 + x_size_ / 2;
      const int32_t caret_x = x + cx;
      if (caret_phase_) gfx::BitBlt(dc, caret_x, line_y, 1, text_height_, nullptr, 0, 0, gfx::kDstInvert);
      caret_rect_ = {caret_x, line_y, caret_x + 1, line_y + text_height_};
    }
    line_y += l.height;
  }
  // Focus frame.
  if (state == kDrawFocused && frame_width_ != 0) {
    const int32_t w = frame_width_;
    gfx::HPen pen = gfx::CreatePen(gfx::kPsSolid, w, frame_colour_);
    gfx::HPen old_pen = dc->SelectPen(pen);
    const gfx::Point pts[5] = {{x_ - w, y_ + y_size_ + w},
                               {x_ - w + x_size_, y_ + y_size_ + w},
                               {x_ - w + x_size_, y_ - w},
                               {x_ - w, y_ - w},
                               {x_ - w, y_ + y_size_ + w}};
    gfx::Polyline(dc, pts, 5);
    dc->SelectPen(old_pen);
  }
  // Scroll indicators.
  if (UiHost* host = OnScreenHost()) {
    if (!scroll_up_name_.IsEmpty()) {
      if (Element* e = host->FindElementByName(nullptr, scroll_up_name_, false)) {
        if (e->SetVisible(first_line_ > 0) != (first_line_ > 0)) e->UpdateLayout();
      }
    }
    if (!scroll_down_name_.IsEmpty()) {
      if (Element* e = host->FindElementByName(nullptr, scroll_down_name_, false)) {
        if (e->SetVisible(more_below_) != more_below_) e->UpdateLayout();
      }
    }
  }
  ResetRect();
  layout_pending_ = false;
  dc->SelectFont(previous);
}

void TextBox::UpdateLayout() {
  if (angle_ == 900) bounds_ = {x_, y_, x_ + y_size_, y_ - x_size_};
  else bounds_ = {x_, y_, x_ + x_size_, y_ + y_size_};
}

void TextBox::OnTick(gfx::Rect* area, uint32_t now) {
  if (layout_pending_) {
    UpdateLayout();
    *area = bounds_;
    return;
  }
  if (editing_ && caret_mode_ == 2 && now - last_blink_ > static_cast<uint32_t>(blink_period_)) {
    if (bounds_.left == 0 && bounds_.top == 0 && bounds_.right == 0 && bounds_.bottom == 0) {
      bounds_ = caret_rect_;
      *area = gfx::Rect();
      return;
    }
    bounds_.left = std::min(bounds_.left, caret_rect_.left);
    bounds_.top = std::min(bounds_.top, caret_rect_.top);
    bounds_.right = std::max(bounds_.right, caret_rect_.right);
    bounds_.bottom = std::max(bounds_.bottom, caret_rect_.bottom);
    caret_phase_ = !caret_phase_;
    last_blink_ = now;
    *area = bounds_;
    return;
  }
  *area = bounds_;
}

void TextBox::TextInsertChar(char16_t c) {
  if (!(c == u'.' || static_cast<uint32_t>(text_.Length()) < max_chars_)) return;
  if (IsLetter(c)) typed_word_ += c;
  else typed_word_.Empty();
  const char16_t s[2] = {c, 0};
  text_.Insert(caret_, std::u16string_view(s, 1));
  ++caret_;
  layout_pending_ = true;
  caret_phase_ = true;
}

void TextBox::TextKey(int32_t key) {
  if (key == kKeyDelete) {
    if (!typed_word_.IsEmpty()) typed_word_.Delete(typed_word_.Length() - 1);
    if (caret_ > 0) {
      text_.Delete(caret_ - 1);
      --caret_;
    }
    layout_pending_ = true;
    caret_phase_ = true;
    return;
  }
  if (key == kKeyLeft) {
    if (caret_ > 0) --caret_;
    typed_word_.Empty();
    caret_phase_ = true;
    return;
  }
  if (key == kKeyRight) {
    if (caret_ < text_.Length()) ++caret_;
    typed_word_.Empty();
    caret_phase_ = true;
    return;
  }
  if (static_cast<uint32_t>(text_.Length()) >= max_chars_) return;
  typed_word_.Empty();
  if (layout_pending_) return;
  const int32_t count = static_cast<int32_t>(lines_.size());
  auto line_of_caret = [&]() {
    for (const TextLine& l : lines_) {
      if (caret_ >= l.start && caret_ <= l.start + l.length) return l.index;
    }
    return count - 1;
  };
  switch (key) {
    case kKeyDown:
      if (count == 0) break;
      if (!editing_) {
        const int32_t lh = lines_[count - 1].height > 0 ? lines_[count - 1].height : 1;
        const int32_t v = y_size_ / lh;
        if (first_line_ < count - 1 - v + 1) ++first_line_;
      } else {
        const int32_t li = line_of_caret();
        if (li + 1 < count) {
          const int32_t offset = caret_ - lines_[li].start;
          const TextLine& next = lines_[li + 1];
          const int32_t limit = li + 2 < count ? next.length - 1 : next.length;
          caret_ = next.start + std::max(0, std::min(offset, limit));
        }
      }
      break;
    case kKeyUp:
      if (!editing_) {
        if (first_line_ > 0) --first_line_;
      } else if (count > 0) {
        const int32_t li = line_of_caret();
        if (li > 0) {
          const int32_t offset = caret_ - lines_[li].start;
          const TextLine& prev = lines_[li - 1];
          caret_ = prev.start + std::max(0, std::min(offset, prev.length - 1));
        }
      }
      break;
    case kKeyHome:
      first_line_ = 0;
      caret_ = 0;
      layout_pending_ = true;
      break;
    case kKeyEnd:
      if (count > 0) {
        const int32_t lh = lines_[0].height > 0 ? lines_[0].height : 1;
        const int32_t v = y_size_ / lh;
        first_line_ = v < count ? count - v : 0;
      }
      caret_ = text_.Length();
      layout_pending_ = true;
      break;
    default:
      return;
  }
  caret_phase_ = true;
}

bool TextBox::OnDirectionKey(int32_t code) {
  if (writable_ || (scroll_up_name_.IsEmpty() && scroll_down_name_.IsEmpty())) return false;
  const int32_t count = static_cast<int32_t>(lines_.size());
  if (code == 2) {
    if (first_line_ > 0) --first_line_;
  } else if (code == 3) {
    if (!more_below_) return false;
    const int32_t lh = count > 0 && lines_[0].height > 0 ? lines_[0].height : 1;
    const int32_t v = y_size_ / lh;
    const int32_t limit = v >= count ? count : count - v;
    if (first_line_ < limit) ++first_line_;
  } else {
    return false;
  }
  UpdateLayout();
  if (Host()) Host()->InvalidateArea(bounds_);
  return true;
}

int TextBox::StoreTextToOption() {
  if (attribute_.IsEmpty()) return 0;
  option_stored_ = true;
  return Host() ? Host()->StoreOption(attribute_, text_) : 0;
}

void TextBox::Repaint() {
  UpdateLayout();
  if (UiHost* host = OnScreenHost()) host->InvalidateArea(bounds_);
}

void TextBox::RefreshFromOption() {
  if (!attribute_.IsEmpty() && Host()) {
    ov::String value;
    bool numeric = false;
    if (Host()->ReadOption(attribute_, &value, &numeric)) {
      const ov::String formatted = ov::String::Format(format_.IsEmpty() ? u"%s" : format_.View(), value);
      if (formatted != text_ && !editing_) OnAction(kActionSetText, formatted, 0);
    }
  }
  if (initially_activated_ && Host() && Host()->GetFocusedSelection() == this && !editing_) {
    OnAction(kActionActivate, ov::String(), 0);
  }
}

int TextBox::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)flag;
  switch (code) {
    case kActionMenuShown:
      if (password_) OnAction(kActionSetText, ov::String(), 0);
      typed_word_.Empty();
      RefreshFromOption();
      return 0;
    case kActionLeavingMenu:
    case kActionFocusLost:
      if (editing_) {
        OnAction(kActionFinishEditing, ov::String(), 0);
        editing_ = false;
        if (no_confirm_) OnAction(kActionSaveSettings, ov::String(), 0);
      }
      typed_word_.Empty();
      if (code == kActionLeavingMenu) font_.reset();
      if (option_stored_) {
        if (Host()) Host()->SaveOptionsLater();
        option_stored_ = false;
      }
      return 0;
    case kActionActivate:
      backup_text_ = text_;
      editing_ = true;
      if (blank_on_edit_) SetText(ov::String());
      last_blink_ = 0;
      caret_phase_ = false;
      return 0;
    case kActionSaveSettings:
      if (StoreTextToOption() && Host()) Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
      return 0;
    case kActionInitialise:
      if (format_.IsEmpty()) format_ = u"%s";
      return 0;
    case kActionFocusGained:
      if (initially_activated_ && Host() && Host()->GetFocusedSelection() == this && !editing_) {
        OnAction(kActionActivate, ov::String(), 0);
      }
      return 0;
    case kActionTypeChars:
      for (int i = 0; i < argument.Length(); ++i) TextInsertChar(argument[i]);
      Repaint();
      return 1;
    case kActionTypeKeys:
      for (int i = 0; i < argument.Length(); ++i) TextKey(argument[i]);
      Repaint();
      return 1;
    case kActionOptionsChanged:
      RefreshFromOption();
      return 0;
    case kActionFinishEditing:
      if (editing_ && !initially_activated_) {
        if (no_confirm_) OnAction(kActionSaveSettings, ov::String(), 0);
        editing_ = false;
        Repaint();
      }
      return 0;
    case kActionCancelEditing:
      if (editing_) {
        editing_ = false;
        OnAction(kActionSetText, backup_text_, 0);
      }
      return 0;
    case kActionPasswordOff:
      password_ = false;
      layout_pending_ = true;
      return 0;
    case kActionPasswordOn:
      password_ = true;
      layout_pending_ = true;
      return 0;
    case kActionSetText:
      if (argument != text_) {
        text_ = argument;
        layout_pending_ = true;
        if (writable_) caret_ = text_.Length();
        else first_line_ = 0;
        Repaint();
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

int TextBox::EnableIfAttribute(bool on, const ov::String& name, int32_t depth) {
  (void)depth;
  if (name == attribute_ && IsEnabled() != on) {
    SetEnableBit(on, 31);
    UpdateLayout();
    return 1;
  }
  return 0;
}

void TextBox::SaveStrings(ov::Archive* archive) {
  archive->WriteString(backup_text_.View());
  archive->WriteString(text_.View());
}

void TextBox::LoadStrings(ov::Archive* archive) {
  archive->ReadString(&backup_text_);
  ov::String text;
  if (archive->ReadString(&text)) SetText(text);
}

void TextBox::SaveState(ov::Archive* archive) { SaveStrings(archive); }
void TextBox::LoadState(ov::Archive* archive) { LoadStrings(archive); }

}  // namespace ui
