#include "ui/slider_control.h"

#include <algorithm>
#include <cstdlib>

#include "platform/gfx/dc.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

constexpr int32_t kStep = 10;

// The index after `prefix` in `name` (none: 0); -1 when the name is not of
// that form or the index is outside 0-255.
int IndexAfter(const ov::String& name, std::u16string_view prefix) {
  const int n = static_cast<int>(prefix.size());
  if (name.Length() < n || !name.Left(n).EqualsNoCase(prefix)) return -1;
  const ov::String rest = name.Mid(n);
  if (rest.IsEmpty()) return 0;
  if (rest.Length() > 3) return -1;
  int index = 0;
  for (int i = 0; i < rest.Length(); ++i) {
    if (rest[i] < u'0' || rest[i] > u'9') return -1;
    index = index * 10 + (rest[i] - u'0');
  }
  return index < SliderControl::kValues ? index : -1;
}

bool IsNumber(const ov::String& s) {
  if (s.IsEmpty()) return false;
  for (int i = (s[0] == u'-' ? 1 : 0); i < s.Length(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
  }
  return s.Length() > (s[0] == u'-' ? 1 : 0);
}

}  // namespace

SliderControl::SliderControl() { type_ = kTypeSliderControl; }

void SliderControl::LoadAttribute(const ov::String& name, const ov::String& value) {
  // Table entries and value pictures first: their names carry an index.
  if (int i = IndexAfter(name, u"valueIdleBitmap"); i >= 0) {
    value_images_[i][0].name = value;
    image_mode_ = true;
    return;
  }
  if (int i = IndexAfter(name, u"valueFocusBitmap"); i >= 0) {
    value_images_[i][1].name = value;
    image_mode_ = true;
    return;
  }
  if (int i = IndexAfter(name, u"valueDisabledBitmap"); i >= 0) {
    value_images_[i][2].name = value;
    image_mode_ = true;
    return;
  }
  if (name.Length() > 5) {
    if (int i = IndexAfter(name, u"value"); i >= 0) {
      table_size_ = std::max(table_size_, i + 1);
      if (IsNumber(value)) {
        numbers_[size_t(i)] = value.ToInt();
      } else {
        texts_[i] = value;
        table_has_text_ = true;
      }
      return;
    }
  }
  for (int i = 0; i < 5; ++i) {
    if (NameIs(name, ov::String::Format(u"attribute%d", i).View().data())) {
      option_names_[size_t(i)] = value;
      if (i == 0) attribute_ = value;
      return;
    }
  }
  struct Word {
    const char16_t* name;
    int32_t SliderControl::*field;
  };
  static const Word kWords[] = {
      {u"sliderWidth", &SliderControl::knob_size_},          {u"sliderHeight", &SliderControl::knob_size_},
      {u"sliderOffsetX", &SliderControl::slider_offset_x_},  {u"sliderOffsetY", &SliderControl::slider_offset_y_},
      {u"highlightOffsetY", &SliderControl::highlight_offset_y_},
  };
  for (const Word& w : kWords) {
    if (NameIs(name, w.name)) {
      this->*w.field = ParseDecimal(value);
      return;
    }
  }
  struct Flag {
    const char16_t* name;
    bool SliderControl::*field;
  };
  static const Flag kFlags[] = {
      {u"horizontal", &SliderControl::horizontal_},       {u"reverse", &SliderControl::reverse_},
      {u"viewOnly", &SliderControl::view_only_},          {u"NearestMatch", &SliderControl::nearest_match_},
      {u"NearestColourMatch", &SliderControl::nearest_colour_match_}, {u"AllMatch", &SliderControl::all_match_},
  };
  for (const Flag& f : kFlags) {
    if (NameIs(name, f.name)) {
      this->*f.field = IsTrueValue(value);
      return;
    }
  }
  if (NameIs(name, u"leftHandHighlight")) {
    images_[0].name = value;
    return;
  }
  if (NameIs(name, u"rightHandHighlight")) {
    images_[1].name = value;
    return;
  }
  Control::LoadAttribute(name, value);
}

int32_t SliderControl::Track() const { return (horizontal_ ? x_size_ : y_size_) - knob_size_; }

int32_t SliderControl::SliderKnobPosition(int32_t p) const {
  // A knob as long as the slider (or one pixel shorter) has no travel.
  const int32_t travel = Track() - 1;
  if (travel <= 0) return 0;
  return static_cast<int32_t>(int64_t(travel) * p / 100);
}

void SliderControl::UpdateLayout() {
  if (!visible_) return;
  bounds_ = {x_ - knob_size_ + slider_offset_x_, y_ - knob_size_ + slider_offset_y_,
             x_ - slider_offset_x_ + knob_size_ + x_size_, y_ - slider_offset_y_ + knob_size_ + y_size_};
}

void SliderControl::Repaint() {
  if (!visible_) return;
  UpdateLayout();
  if (UiHost* host = Host()) host->InvalidateArea(bounds_);
}

void SliderControl::NotifyMixer() {
  if (mixer_) mixer_->OnAction(codes_[0], ov::String::Format(u"%d", 100 - value_), 0);
}

int SliderControl::FindValueIndex(int32_t number) {
  if (!image_mode_) return 0;
  if (all_match_) {
    UiHost* host = Host();
    for (size_t i = 0; i < option_names_.size() && !option_names_[i].IsEmpty(); ++i) {
      ov::String text;
      bool numeric = false;
      if (!host || !host->ReadOption(option_names_[i], &text, &numeric) || !numeric ||
          text.ToInt() != numbers_[i]) {
        matched_index_ = -1;
        return 0;
      }
    }
    matched_index_ = 0;
    return 1;
  }
  // Only the entries the skin gave take part: the rest of the table is no
  // value of this slider.
  for (int i = 0; i < table_size_; ++i) {
    if (numbers_[size_t(i)] == number) {
      matched_index_ = i;
      return 1;
    }
  }
  if ((!nearest_match_ && !nearest_colour_match_) || table_size_ == 0) {
    // A value of no entry shows no entry's picture, not the last one matched.
    matched_index_ = -1;
    return 0;
  }
  int best = 0;
  int64_t best_distance = -1;
  for (int i = 0; i < table_size_; ++i) {
    const int32_t n = numbers_[size_t(i)];
    int64_t d = 0;
    if (nearest_match_) {
      d = std::llabs(int64_t(n) - number);
    } else {
      for (int shift = 0; shift < 24; shift += 8) {
        d += std::llabs(int64_t((n >> shift) & 0xFF) - ((number >> shift) & 0xFF));
      }
    }
    if (best_distance < 0 || d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  matched_index_ = best;
  value_ = numbers_[size_t(best)];
  return 0;
}

bool SliderControl::OnStylusDown(int32_t x, int32_t y) {
  if (!IsEnabled() && !view_only_) return true;
  press_x_ = x;
  press_y_ = y;
  press_position_ = Shown();
  if (UiHost* host = Host()) host->SetPressedElement(this);
  return true;
}

bool SliderControl::OnStylusMove(int32_t x, int32_t y) {
  if (!IsEnabled() || view_only_) return false;
  UiHost* host = Host();
  if (!host || host->GetPressedElement() != this) return true;
  const int32_t travel = Track() - 1;
  if (travel <= 0) return true;  // no travel: no step
  const int32_t d = horizontal_ ? x - press_x_ : y - press_y_;
  const int32_t delta = static_cast<int32_t>(int64_t(d) * 100 / travel);
  if (delta == 0) return true;
  set_value(reverse_ ? 100 - press_position_ - delta : press_position_ + delta);
  NotifyMixer();
  Repaint();
  return true;
}

bool SliderControl::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  if (!IsEnabled() || view_only_) return false;
  if (UiHost* host = Host(); host && !attribute_.IsEmpty()) {
    host->StoreOption(attribute_, ov::String::Format(u"%d", value_));
  }
  return true;
}

int SliderControl::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)flag;
  UiHost* host = Host();
  switch (code) {
    case kActionMenuShown:
      NotifyMixer();
      return 1;
    case kActionLeavingMenu:
      for (auto& [index, images] : value_images_) {
        for (SkinImage& image : images) image.Release();
      }
      return 1;
    case kActionInitialise:
      if (auto* parent = dynamic_cast<Element*>(parent_)) mixer_ = parent->FindByType(kTypeMixer, false);
      return 1;
    case kActionOptionsChanged: {
      if (!host || attribute_.IsEmpty()) return 0;
      ov::String text;
      bool numeric = false;
      if (!host->ReadOption(attribute_, &text, &numeric)) return 0;
      if (numeric) {
        set_value(text.ToInt());
        if (image_mode_) FindValueIndex(text.ToInt());
      } else if (image_mode_) {
        matched_index_ = -1;
        for (const auto& [index, t] : texts_) {
          if (t == text) {
            matched_index_ = index;
            break;
          }
        }
      }
      const auto* parent = dynamic_cast<const Element*>(parent_);
      const bool in_popup = parent && parent->GetType() == kTypePopupMessageBox && parent->IsVisible();
      if (!visible_ && !in_popup) return 0;
      Repaint();
      return 1;
    }
    case kActionSliderStepDown:
      if (value_ >= kStep) value_ -= kStep;
      NotifyMixer();
      Repaint();
      return 1;
    case kActionSliderStepUp:
      if (value_ <= 100 - kStep) value_ += kStep;
      NotifyMixer();
      Repaint();
      return 1;
    case kActionSliderSet:
      set_value(100 - argument.ToInt());
      Repaint();
      return 1;
    default:
      return 0;
  }
}

void SliderControl::Draw(gfx::HDC dc, int state) {
  if (image_mode_) {
    if (matched_index_ >= 0) {
      auto it = value_images_.find(matched_index_);
      if (it != value_images_.end()) {
        // Image states: idle, focus, disabled.
        const int s = state == kDrawFocused ? 1 : (state == kDrawDisabled ? 2 : 0);
        SkinImage& image = it->second[size_t(s)];
        if (!image.loaded && !image.name.IsEmpty()) LoadSkinImage(dc, &image, image.name, false);
        image.loaded = true;
        if (image.dc && transparent_) {
          // With a transparent colour the picture marks only part of what lies under it.
          gfx::TransparentImage(dc, x_, y_, image.width, image.height, image.dc.get(), 0, 0, image.width, image.height,
                                transparent_colour_);
        } else if (image.dc) {
          gfx::BitBlt(dc, x_, y_, image.width, image.height, image.dc.get(), 0, 0, gfx::kSrcCopy);
        }
      }
    }
    ResetRect();
    return;
  }
  const int32_t track_x = x_ + slider_offset_x_, track_y = y_ + slider_offset_y_;
  const int32_t k = SliderKnobPosition(Shown());
  auto part = [&](SkinImage& image, int32_t from, int32_t to) {
    if (to <= from) return;
    if (!image.loaded && !image.name.IsEmpty()) LoadSkinImage(dc, &image, image.name, false);
    image.loaded = true;
    if (!image.dc) return;
    if (horizontal_) {
      gfx::BitBlt(dc, from, track_y + highlight_offset_y_, to - from, image.height, image.dc.get(),
                  from - track_x, 0, gfx::kSrcCopy);
    } else {
      gfx::BitBlt(dc, track_x, from, image.width, to - from, image.dc.get(), 0, from - track_y, gfx::kSrcCopy);
    }
  };
  const int32_t start = horizontal_ ? track_x : track_y;
  const int32_t end = start + Track() + knob_size_;
  part(images_[0], start, start + k);
  part(images_[1], start + k + knob_size_, end);
  if (state != kDrawDisabled) {
    if (horizontal_) DrawStateImage(dc, track_x + k, track_y, kDrawFocused, false);
    else DrawStateImage(dc, track_x, track_y + k, kDrawFocused, false);
  }
  ResetRect();
}

void SliderControl::SaveState(ov::Archive* archive) {
  archive->WriteI32(value_);
  Control::SaveState(archive);
}

void SliderControl::LoadState(ov::Archive* archive) {
  archive->ReadI32(&value_);
  set_value(value_);
  Control::LoadState(archive);
}

}  // namespace ui
