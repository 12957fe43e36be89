#include "ui/control.h"

#include <algorithm>

#include "platform/os/thread.h"
#include "platform/picture/picture.h"
#include "ui/drop_down_menu.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace ui {

void SkinImage::Release() {
  dc.reset();
  bitmap.reset();
  loaded = false;
  width = height = 0;
}

Control::Control() {
  type_ = kTypeMenuItem;
  codes_.fill(kActionEmpty);
}

Control::Control(OffScreen) : TextBox(OffScreen{}) {
  type_ = kTypeMenuItem;
  codes_.fill(kActionEmpty);
}

Control::~Control() { ReleaseImages(); }

void Control::SetBinding(const ov::String& name, const ov::String& value) {
  int slot = 0;
  if (name.Length() > 6) {
    const char16_t c = name[name.Length() - 1];
    if (c >= u'0' && c <= u'9') slot = c - u'0';
    else if (c >= u'a' && c <= u'z') slot = 10 + (c - u'a');
    else if (c >= u'A' && c <= u'Z') slot = 10 + (c - u'A');
    else return;
  }
  if (slot >= kSlots) return;
  ov::String argument;
  const int32_t code = ParseAction(value.View(), &argument);
  if (code == kActionUnknown) return;
  codes_[slot] = code;
  if (!argument.IsEmpty()) arguments_[slot] = argument;
  last_action_ = std::max(last_action_, slot);
}

void Control::LoadAttribute(const ov::String& name, const ov::String& value) {
  auto second = [&](int index) {
    second_images_[index].name = value;
    second_height_ = 320;
    second_width_ = 240;
  };
  if (NameIs(name, u"text", u"tx")) {
    SetText(value);
  } else if (NameIs(name, u"stretchToFit")) {
    if (IsTrueValue(value)) stretch_ = true;
  } else if (NameIs(name, u"noRepeat", u"nr")) {
    if (IsTrueValue(value)) no_repeat_ = true;
  } else if (NameIs(name, u"delay", u"d")) {
    delay_ = ParseDecimal(value);
  } else if (NameIs(name, u"xSize", u"xS") || NameIs(name, u"ySize", u"yS")) {
    TextBox::LoadAttribute(name, value);
  } else if (NameIs(name, u"idleImage", u"il")) {
    images_[0].name = value;
  } else if (NameIs(name, u"focusImage", u"fi")) {
    images_[2].name = value;
  } else if (NameIs(name, u"disabledImage", u"di")) {
    images_[1].name = value;
  } else if (NameIs(name, u"idleImage2", u"il2")) {
    second(0);
  } else if (NameIs(name, u"focusImage2", u"fi2")) {
    second(2);
  } else if (NameIs(name, u"groupEnabling")) {
    if (IsTrueValue(value)) group_enabling_ = true;
  } else if (NameIs(name, u"disabledImage2", u"di2")) {
    second(1);
  } else if (NameIs(name, u"idleimagebackwards", u"iib")) {
    if (IsTrueValue(value)) images_[0].backwards = true;
  } else if (NameIs(name, u"focusimagebackwards", u"fib")) {
    if (IsTrueValue(value)) images_[2].backwards = true;
  } else if (NameIs(name, u"disabledimagebackwards", u"dib")) {
    if (IsTrueValue(value)) images_[1].backwards = true;
  } else if (NameIs(name, u"animatedLBackwards", u"alb")) {
    if (IsTrueValue(value)) strips_[0].image.backwards = true;
  } else if (NameIs(name, u"animatedRBackwards", u"arb")) {
    if (IsTrueValue(value)) strips_[2].image.backwards = true;
  } else if (NameIs(name, u"animatedL", u"al")) {
    strips_[0].image.name = value;
  } else if (NameIs(name, u"animatedR", u"ar")) {
    strips_[2].image.name = value;
  } else if (NameIs(name, u"animatedL2Backwards", u"al2b")) {
    if (IsTrueValue(value)) strips_[1].image.backwards = true;
  } else if (NameIs(name, u"animatedR2Backwards", u"ar2b")) {
    if (IsTrueValue(value)) strips_[3].image.backwards = true;
  } else if (NameIs(name, u"animatedL2", u"al2")) {
    strips_[1].image.name = value;
  } else if (NameIs(name, u"animatedR2", u"ar2")) {
    strips_[3].image.name = value;
  } else if (NameIs(name, u"noAutoShade", u"nas")) {
    no_auto_shade_ = IsTrueValue(value);
  } else if (name.Length() >= 2 && (name.Left(2).EqualsNoCase(u"ac"))) {
    // Every name beginning with "ac" (so also "action...") is a binding.
    SetBinding(name, value);
  } else if (NameIs(name, u"transparentColour", u"tc")) {
    transparent_colour_ = ParseHex(value);
    transparent_ = true;
  } else {
    TextBox::LoadAttribute(name, value);
  }
}

bool Control::HasAction(int32_t code) const {
  for (int i = 0; i <= last_action_; ++i) {
    if (codes_[i] == code) return true;
  }
  return false;
}

bool Control::IsActionable() const {
  for (int i = 0; i <= last_action_; ++i) {
    if (codes_[i] == kActionIgnore) return false;
  }
  return true;
}

void Control::ReleaseImages() {
  bool any_second = false;
  for (SkinImage& i : images_) i.Release();
  for (SkinImage& i : second_images_) {
    i.Release();
    any_second = any_second || !i.name.IsEmpty();
  }
  for (AnimationStrip& s : strips_) {
    s.image.Release();
    s.frames = 0;
    s.frame = 0;
  }
  frame_ = frame2_ = 0;
  strip_ = strip2_ = false;
  last_step_ = 0;
  animation_running_ = previous_running_ = false;
  start_at_last_frame_ = false;
  second_width_ = any_second ? 240 : 0;
  second_height_ = any_second ? 320 : 0;
  current_width_ = current_height_ = 0;
  ReleaseFont();
}

void Control::Activate() {
  for (int i = 0; i <= last_action_; ++i) {
    const int32_t code = codes_[i];
    if (code == kActionEmpty) continue;
    // Copied: the handler may change the menu, even destroy bindings' owners'
    // siblings, but never this control while it runs.
    const ov::String argument = arguments_[i];
    if (!OnAction(code, argument, 0) && Host()) Host()->DoAction(code, argument, 1);
  }
}

int Control::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  switch (code) {
    case kActionPreviousMenu:
      if (Host()) Host()->GoBack(true);
      return 1;
    case kActionJumpTo:
      if (Host()) Host()->JumpToMenu(argument);
      return 1;
    // These four stop here: the text box's editing (begun only by its own
    // activation, which a control replaces with its bindings) never runs on
    // a control, and its focus-gained activation would run the bindings.
    case kActionLeavingMenu:
      ReleaseImages();
      return 1;
    case kActionActivate:
      Activate();
      return 1;
    case kActionInitialise:
      return 1;
    case kActionFocusGained:
    case kActionFocusLost:
      frame_ = frame2_ = 0;
      animation_running_ = previous_running_ = false;
      return 1;
    case kActionStartAtLastFrame:
      start_at_last_frame_ = !(argument == ov::String(u"0"));
      return 1;
    case kActionShowImage:
      ReleaseImages();
      images_[0].name = images_[1].name = images_[2].name = argument;
      return 1;
    default:
      return TextBox::OnAction(code, argument, flag);
  }
}

int Control::EnableAction(bool on, int32_t code, int32_t depth) {
  (void)depth;
  for (int i = 0; i <= last_action_; ++i) {
    if (codes_[i] == code) {
      if (IsEnabled() != on) {
        SetEnableBit(on, i);
        UpdateLayout();
        return 1;
      }
      continue;
    }
    if (codes_[i] == kActionShowPopup && Host()) {
      // The popup is looked for in the menu holding the control: its parent,
      // or the parent's parent when the control sits in a drop-down or popup.
      // Any kind of menu holds it (screens built on menus too).
      SkinItem* holder = parent_;
      if (holder && holder->IsElement()) {
        const int32_t t = holder->GetType();
        if ((t == kTypeDropDownMenu || t == kTypePopupMessageBox) && holder->parent()) holder = holder->parent();
      }
      Menu* menu = holder ? holder->AsMenu() : nullptr;
      Element* popup = menu ? Host()->FindElementByName(menu, arguments_[i], false) : nullptr;
      if (popup && popup->GetType() == kTypePopupMessageBox) {
        popup->EnableAction(on, code, depth);
        auto* box = static_cast<DropDownMenu*>(popup);
        const int n = box->CountSelectableItems();
        const int m = box->CountVisibleItems();
        if (!group_enabling_) SetEnableBit(n != 0, i);
        else SetEnableBit(n == m, i);
        UpdateLayout();
      }
    }
  }
  return 0;
}

int Control::EnableIfAttribute(bool on, const ov::String& name, int32_t depth) {
  (void)depth;
  if (name == attribute_ && IsEnabled() != on) {
    SetEnableBit(on, 31);
    return 1;
  }
  return 0;
}

int Control::ShowIfTitle(bool on, const ov::String& name, int32_t depth) {
  (void)depth;
  if (name == title_) return SetVisible(on) != on ? 1 : 0;
  return 0;
}

bool Control::SetVisible(bool visible) {
  const bool old = visible_;
  visible_ = visible;
  if (!visible) frame_ = frame2_ = 0;
  if (old != visible) {
    UpdateLayout();
    if (Host()) Host()->InvalidateArea(bounds_);
  }
  return old;
}

bool Control::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  OnAction(kActionActivate, ov::String(), 0);
  if (Host()) Host()->SetPressedElement(this);
  return true;
}

bool Control::LoadSkinImage(gfx::HDC dc, SkinImage* image, const ov::String& name, bool relative_only) {
  image->loaded = true;
  ov::String path;
  if (!relative_only && (name.StartsWith(u"\\") || name.StartsWith(u"/"))) {
    path = name;
  } else {
    const ov::String folder = OnScreenHost() ? OnScreenHost()->SkinFolder() : ov::String();
    path = folder.IsEmpty() ? name : folder + u"/" + name;
  }
  path.Replace(u'\\', u'/');
  int32_t w = 0, h = 0;
  const bool ok = picture::LoadImageFile(path, dc, &image->dc, &image->bitmap, &w, &h, transparent_colour_);
  image->width = w;
  image->height = h;
  if (!ok) ReportUnreadablePicture(path);
  return ok;
}

gfx::Size Control::DrawStateImage(gfx::HDC dc, int32_t x, int32_t y, int s, bool centre) {
  int index = 0;
  int shade = 0;
  if (s == kDrawFocused) {
    if (!images_[2].name.IsEmpty()) index = 2;
    else if (!no_auto_shade_ && !images_[0].name.IsEmpty()) index = 2, shade = -1;
    else return {};
  } else if (s == kDrawDisabled) {
    if (!images_[1].name.IsEmpty()) index = 1;
    else if (!no_auto_shade_ && !images_[0].name.IsEmpty()) index = 1, shade = 1;
    else return {};
  }
  SkinImage& img = images_[index];
  const ov::String& name = shade ? images_[0].name : img.name;
  if (!img.loaded) {
    if (name.IsEmpty()) {
      img.loaded = true;
      return {};
    }
    if (LoadSkinImage(dc, &img, name, false) && shade && img.dc) {
      const gfx::COLORREF key = transparent_colour_;
      gfx::HBitmap shaded = picture::ShadeBitmap(img.dc.get(), img.bitmap, transparent_ ? &key : nullptr, shade);
      if (shaded) {
        img.dc->SelectBitmap(shaded);
        img.bitmap = shaded;
      }
    }
  }
  if (!img.bitmap || !img.dc) {
    if (!name.IsEmpty()) picture_missing_ = true;
    return {};
  }
  const bool backwards = shade ? images_[0].backwards : img.backwards;
  current_width_ = img.width;
  current_height_ = img.height;
  const int32_t bitmap_height = img.bitmap->height();
  int32_t source_row = 0;
  if (img.height > 0 && img.height < bitmap_height) {
    strip_ = true;
    frame_count_ = bitmap_height / img.height;
    if (start_at_last_frame_) {
      frame_ = frame_count_ - 1;
      start_at_last_frame_ = false;
    }
    if (no_repeat_ && frame_ == frame_count_) {
      --frame_;
      strip_ = false;
    }
    frame_ %= frame_count_;
    source_row = (backwards ? frame_count_ - frame_ - 1 : frame_) * img.height;
  } else {
    strip_ = false;
  }
  if (centre) {
    x -= img.width / 2;
    y -= img.height / 2;
  }
  const int32_t w = std::min(x_size_, img.width);
  const int32_t h = std::min(y_size_, img.height);
  if (transparent_) {
    gfx::TransparentImage(dc, x, y, w, h, img.dc.get(), 0, source_row, w, h, transparent_colour_);
  } else if (stretch_) {
    gfx::StretchBlt(dc, x, y, x_size_, y_size_, img.dc.get(), 0, source_row, img.width, img.height, gfx::kSrcCopy);
  } else {
    gfx::BitBlt(dc, x, y, w, h, img.dc.get(), 0, source_row, gfx::kSrcCopy);
  }
  return {img.width, img.height};
}

void Control::DrawSecondImage(gfx::HDC dc, int32_t x, int32_t y, int s) {
  const int index = (s == kDrawFocused) ? 2 : (s == kDrawDisabled ? 1 : 0);
  SkinImage& img = second_images_[index];
  if (img.name.IsEmpty()) {
    if (!second_images_[0].name.IsEmpty() || !second_images_[1].name.IsEmpty() || !second_images_[2].name.IsEmpty()) {
      second_width_ = second_height_ = 0;
    }
    return;
  }
  if (!img.loaded) LoadSkinImage(dc, &img, img.name, true);
  if (!img.bitmap || !img.dc) {
    second_width_ = second_height_ = 0;
    picture_missing_ = true;
    return;
  }
  int32_t source_row = 0;
  const int32_t bitmap_height = img.bitmap->height();
  if (img.height > 0 && img.height < bitmap_height) {
    strip2_ = true;
    frame_count2_ = bitmap_height / img.height;
    frame2_ %= frame_count2_;
    source_row = frame2_ * img.height;
  } else {
    strip2_ = false;
  }
  second_width_ = img.width;
  second_height_ = img.height;
  if (transparent_) {
    gfx::TransparentImage(dc, x, y, img.width, img.height, img.dc.get(), 0, source_row, img.width, img.height,
                          transparent_colour_);
  } else {
    gfx::BitBlt(dc, x, y, img.width, img.height, img.dc.get(), 0, source_row, gfx::kSrcCopy);
  }
}

void Control::DrawImageStrip(gfx::HDC dc, AnimationStrip* strip, int32_t x, int32_t y) {
  if (strip->image.name.IsEmpty()) return;
  if (!strip->image.loaded) {
    if (LoadSkinImage(dc, &strip->image, strip->image.name, true)) {
      strip->frame_width = strip->image.width;
      strip->frame_height = strip->image.height;
      // A picture no taller than one frame is a strip of one frame, so the
      // animation ends once it has been shown. Counting it as no frames would
      // keep the animation running (and repainting) until the focus moves,
      // and the control would never show its focus image.
      strip->frames = 1;
      if (strip->image.bitmap && strip->frame_height > 0 && strip->image.bitmap->height() > strip->frame_height) {
        strip->frames = strip->image.bitmap->height() / strip->frame_height;
      }
    }
  }
  if (!strip->image.bitmap || !strip->image.dc) {
    picture_missing_ = true;
    return;
  }
  strip->frame = strip->frames > 0 ? frame_ % strip->frames : 0;
  const int32_t shown = strip->image.backwards ? strip->frames - strip->frame - 1 : strip->frame;
  const int32_t row = shown * strip->frame_height;
  if (transparent_) {
    gfx::TransparentImage(dc, x, y, strip->frame_width, strip->frame_height, strip->image.dc.get(), 0, row,
                          strip->frame_width, strip->frame_height, transparent_colour_);
  } else {
    gfx::BitBlt(dc, x, y, strip->frame_width, strip->frame_height, strip->image.dc.get(), 0, row, gfx::kSrcCopy);
  }
  if (strip->frame == strip->frames - 1) animation_running_ = false;
}

void Control::Draw(gfx::HDC dc, int state) {
  picture_missing_ = false;
  if (animation_running_) {
    const int first = pair_left_ ? 0 : 2;
    DrawImageStrip(dc, &strips_[first], x_, y_);
    DrawImageStrip(dc, &strips_[first + 1], x2_, y2_);
  } else {
    DrawStateImage(dc, x_, y_, state, false);
    DrawSecondImage(dc, x2_, y2_, state);
  }
  if (picture_missing_) DrawPlainFallback(dc, state);
  DrawTextBlock(dc, state, x_, y_, false);
  ResetRect();
}

void Control::DrawPlainFallback(gfx::HDC dc, int state) {
  const gfx::Rect box{x_, y_, x_ + x_size_, y_ + y_size_};
  if (box.IsEmpty()) return;
  uint32_t ink = idle_colour_;
  if (state == kDrawFocused) {
    gfx::FillRect(dc, box, gfx::CreateSolidBrush(focused_background_));
    ink = focused_colour_;
  } else if (state == kDrawDisabled) {
    ink = disabled_colour_;
  }
  gfx::HPen pen = gfx::CreatePen(gfx::kPsSolid, 1, ink);
  gfx::HPen old_pen = dc->SelectPen(pen);
  const gfx::Point pts[5] = {{box.left, box.top},
                             {box.right - 1, box.top},
                             {box.right - 1, box.bottom - 1},
                             {box.left, box.bottom - 1},
                             {box.left, box.top}};
  gfx::Polyline(dc, pts, 5);
  dc->SelectPen(old_pen);
}

void Control::OnTick(gfx::Rect* area, uint32_t now) {
  if ((strip_ || strip2_ || animation_running_ || previous_running_) &&
      static_cast<int32_t>(now - last_step_) > delay_) {
    ++frame_;
    ++frame2_;
    last_step_ = now;
    UpdateLayout();
    previous_running_ = animation_running_;
  }
  *area = bounds_;
}

void Control::UpdateLayout() {
  bounds_ = {x_, y_, x_, y_};
  auto cover = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    bounds_.left = std::min(bounds_.left, x);
    bounds_.top = std::min(bounds_.top, y);
    bounds_.right = std::max(bounds_.right, x + w);
    bounds_.bottom = std::max(bounds_.bottom, y + h);
  };
  if (animation_running_) {
    const int first = pair_left_ ? 0 : 2;
    const AnimationStrip& a = strips_[first];
    if (!a.image.name.IsEmpty() && a.image.bitmap) {
      bounds_.right = x_ + a.frame_width;
      bounds_.bottom = y_ + a.frame_height;
    }
    const AnimationStrip& b = strips_[first + 1];
    if (!b.image.name.IsEmpty() && b.image.bitmap) cover(x2_, y2_, b.frame_width, b.frame_height);
    return;
  }
  if (current_width_ > 0 && current_height_ > 0) {
    bounds_.right = x_ + current_width_;
    bounds_.bottom = y_ + current_height_;
  } else {
    bounds_.right = x_ + x_size_;
    bounds_.bottom = y_ + y_size_;
  }
  if (second_width_ > 0 && second_height_ > 0 && (second_images_[0].loaded || second_images_[1].loaded ||
                                                  second_images_[2].loaded)) {
    cover(x2_, y2_, second_width_, second_height_);
  } else if (!second_images_[0].name.IsEmpty() || !second_images_[1].name.IsEmpty() ||
             !second_images_[2].name.IsEmpty()) {
    bounds_ = {0, 0, 240, 320};
  }
}

bool Control::StartAnimationRight() {
  if (strips_[0].image.name.IsEmpty() && strips_[1].image.name.IsEmpty()) return false;
  animation_running_ = true;
  pair_left_ = true;
  strips_[0].frame = strips_[1].frame = 0;
  frame_ = frame2_ = 0;
  last_step_ = ov::GetTickCount();
  return true;
}

bool Control::StartAnimationLeft() {
  if (strips_[2].image.name.IsEmpty() && strips_[3].image.name.IsEmpty()) return false;
  animation_running_ = true;
  pair_left_ = false;
  strips_[2].frame = strips_[3].frame = 0;
  frame_ = frame2_ = 0;
  last_step_ = ov::GetTickCount();
  return true;
}

bool Control::StopAnimation() {
  const bool old = animation_running_;
  previous_running_ = animation_running_;
  animation_running_ = false;
  return old;
}

bool Control::HasAnimationRight() const {
  return !strips_[0].image.name.IsEmpty() || !strips_[1].image.name.IsEmpty();
}

bool Control::HasAnimationLeft() const {
  return !strips_[2].image.name.IsEmpty() || !strips_[3].image.name.IsEmpty();
}

void Control::SaveState(ov::Archive* archive) { SaveStrings(archive); }
void Control::LoadState(ov::Archive* archive) { LoadStrings(archive); }

}  // namespace ui
