#include "ui/animated_elements.h"

#include <algorithm>

#include "platform/picture/picture.h"
#include "ui/text_drawing.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

ov::String SkinFile(const ov::String& name) {
  const ov::String folder = Host() ? Host()->SkinFolder() : ov::String();
  ov::String path = folder.IsEmpty() ? name : folder + u"/" + name;
  path.Replace(u'\\', u'/');
  return path;
}

}  // namespace

ScrollingText::ScrollingText() {
  type_ = kTypeScrollingText;
  x_ = y_ = 0;
  if (Host()) {
    const TextStyle style = Host()->GetTextStyle();
    text_colour_ = style.idle_text;
    font_name_ = style.font;
  }
}

void ScrollingText::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"text")) {
    text_ = value;
  } else if (NameIs(name, u"font")) {
    font_name_ = value;
  } else if (NameIs(name, u"width")) {
    box_width_ = ParseCoordinate(value);
  } else if (NameIs(name, u"height")) {
    font_height_ = ParseCoordinate(value);
  } else if (NameIs(name, u"antialias")) {
    antialias_ = value.EqualsNoCase(u"true") || value.EqualsNoCase(u"yes") || value.EqualsNoCase(u"y");
  } else if (NameIs(name, u"textIdColor")) {
    text_colour_ = ParseColour(value);
  } else if (NameIs(name, u"textBgColor")) {
    background_colour_ = ParseColour(value);
  } else {
    Element::LoadAttribute(name, value);
  }
}

void ScrollingText::Draw(gfx::HDC dc, int state) {
  (void)state;
  if (!font_made_) {
    gfx::LogFont lf;
    FindFont(dc, &lf, font_name_);
    lf.height = font_height_;
    if (antialias_) lf.quality = gfx::kAntialiasedQuality;
    font_ = gfx::CreateFontIndirect(lf);
    font_made_ = true;
    scroll_x_ = box_width_;
  }
  gfx::HFont previous = dc->SelectFont(font_);
  gfx::Size extent;
  const bool measured = gfx::GetTextExtentPoint(dc, text_.View(), &extent);
  if (measured) {
    const gfx::Rect clip{x_, y_, x_ + box_width_, y_ + font_height_};
    const gfx::COLORREF old_background = dc->SetBkColor(background_colour_);
    const gfx::COLORREF old_text = dc->SetTextColor(text_colour_);
    // The text's cells are filled with the background colour, as a device
    // context does by default.
    const int old_mode = dc->SetBkMode(gfx::kOpaque);
    // scrollX counts from the box's left edge, so the text enters at the
    // box's right edge wherever the box stands.
    gfx::ExtTextOut(dc, x_ + scroll_x_, y_, gfx::kEtoClipped, &clip, text_.View());
    dc->SetBkMode(old_mode);
    dc->SetBkColor(old_background);
    dc->SetTextColor(old_text);
    scroll_x_ -= kStep;
    bounds_ = clip;
  }
  dc->SelectFont(previous);
  if (measured && -scroll_x_ > extent.cx) scroll_x_ = box_width_;
}

void ScrollingText::OnTick(gfx::Rect* area, uint32_t now) {
  (void)now;
  *area = bounds_;
}

AnimatedBitmap::AnimatedBitmap() { type_ = kTypeAnimatedBitmap; }

void AnimatedBitmap::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"bitmap")) {
    bitmap_ = value;
  } else if (NameIs(name, u"frameX")) {
    frame_x_ = ParseCoordinate(value);
  } else if (NameIs(name, u"frameY")) {
    frame_y_ = ParseCoordinate(value);
  } else if (NameIs(name, u"delay")) {
    delay_ = ParseDecimal(value);
  } else if (NameIs(name, u"numberOfFiles")) {
    number_of_files_ = std::clamp(ParseDecimal(value), 0, kMaxFiles);
  } else if (NameIs(name, u"multifile")) {
    multifile_ = true;
  } else if (NameIs(name, u"transparentColour", u"transparentColor")) {
    transparent_colour_ = ParseColour(value);
    transparent_ = true;
  } else {
    Element::LoadAttribute(name, value);
  }
}

// A multi-file animation of no files, and a strip without a frame width,
// have nothing to step through: they stay on their first frame.
bool AnimatedBitmap::Animated() const { return multifile_ ? number_of_files_ > 0 : frame_x_ > 0; }

void AnimatedBitmap::OnTick(gfx::Rect* area, uint32_t now) {
  bool changed = false;
  if (Animated() && now - last_tick_ > static_cast<uint32_t>(delay_)) {
    ++frame_;
    last_tick_ = now;
    changed = true;
    if (multifile_) frame_ %= number_of_files_;
    else if (frame_ * frame_x_ >= strip_width_) frame_ = 0;
  }
  if ((multifile_ && number_of_files_ == 1) || (!multifile_ && strip_width_ == frame_x_)) changed = false;
  *area = running_ && changed ? bounds_ : gfx::Rect{};
}

void AnimatedBitmap::LoadFrames(gfx::HDC dc) {
  loaded_ = true;
  if (multifile_) {
    for (int32_t i = 0; i < number_of_files_; ++i) {
      SkinImage& f = frames_[i];
      const ov::String path = SkinFile(bitmap_ + ov::String::Format(u"%d", i + 1) + u".bmp");
      f.loaded = true;
      if (!picture::LoadImageFile(path, dc, &f.dc, &f.bitmap, &f.width, &f.height, transparent_colour_)) {
        ReportUnreadablePicture(path);
      }
    }
    return;
  }
  SkinImage& strip = frames_[0];
  const ov::String path = SkinFile(bitmap_);
  strip.loaded = true;
  if (!picture::LoadImageFile(path, dc, &strip.dc, &strip.bitmap, &strip.width, &strip.height,
                              transparent_colour_)) {
    ReportUnreadablePicture(path);
  }
  strip_width_ = strip.width;
  strip_height_ = strip.height;
}

void AnimatedBitmap::Draw(gfx::HDC dc, int state) {
  (void)state;
  if (!loaded_) LoadFrames(dc);
  const SkinImage& image = multifile_ ? frames_[std::clamp(frame_, 0, kMaxFiles - 1)] : frames_[0];
  if (!image.dc) return;
  const int32_t sx = multifile_ ? 0 : frame_ * frame_x_;
  const int32_t w = multifile_ ? image.width : frame_x_;
  const int32_t h = multifile_ ? image.height : frame_y_;
  if (transparent_) {
    gfx::TransparentImage(dc, x_, y_, w, h, image.dc.get(), sx, 0, w, h, transparent_colour_);
  } else {
    gfx::BitBlt(dc, x_, y_, w, h, image.dc.get(), sx, 0, gfx::kSrcCopy);
  }
  bounds_ = {x_, y_, x_ + w, y_ + h};
}

}  // namespace ui
