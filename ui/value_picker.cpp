#include "ui/value_picker.h"

#include "ui/ui_host.h"

namespace ui {

ItemComboBox::ItemComboBox() {
  type_ = kTypeItemComboBox;
  centred_ = true;
}

void ItemComboBox::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (name.Length() >= 4 && name.Left(4).EqualsNoCase(u"item")) {
    items_.push_back(value);
  } else if (name.Length() >= 4 && name.Left(4).EqualsNoCase(u"valu")) {
    values_.push_back(value);
  } else if (NameIs(name, u"skip")) {
    skip_ = value;
  } else if (NameIs(name, u"leftJust")) {
    if (IsTrueValue(value)) centred_ = false;
  } else if (NameIs(name, u"selection")) {
    if (value.EqualsNoCase(u"v")) selection_ = 1;
    else if (value.EqualsNoCase(u"h")) selection_ = 0;
    else if (value.EqualsNoCase(u"hv") || value.EqualsNoCase(u"vh")) selection_ = 2;
  } else if (NameIs(name, u"noneStr")) {
    none_text_ = value;
  } else if (NameIs(name, u"incrementAreaX")) {
    increment_area_x_ = ParseCoordinate(value);
  } else if (NameIs(name, u"decrementAreaX")) {
    decrement_area_x_ = ParseCoordinate(value);
  } else if (NameIs(name, u"confirmationPopup")) {
    confirmation_popup_ = value;
  } else if (NameIs(name, u"noConfirm", u"nc")) {
    no_confirm_ = IsTrueValue(value);
  } else {
    Control::LoadAttribute(name, value);
  }
}

ov::String ItemComboBox::ShownText() const {
  if (current_ >= 0 && current_ < static_cast<int32_t>(items_.size())) return items_[current_];
  return none_text_;
}

void ItemComboBox::Draw(gfx::HDC dc, int state) {
  const ov::String shown = ShownText();
  if (!(text_ == shown)) SetText(shown);
  Control::Draw(dc, state);
}

bool ItemComboBox::IsFocusedSelection() const { return Host() && Host()->GetFocusedSelection() == this; }

int ItemComboBox::SelectValue(const ov::String& value) {
  // Values pair with items by position; a value without an item is never shown.
  const size_t n = std::min(items_.size(), values_.size());
  for (size_t i = 0; i < n; ++i) {
    if (values_[i] == value) {
      current_ = static_cast<int32_t>(i);
      return 1;
    }
  }
  if (items_.empty()) return 1;
  current_ = 0;
  committed_ = ov::String();
  OnAction(kActionSaveSettings, ov::String(), 0);
  return 1;
}

void ItemComboBox::Step(int32_t direction) {
  const int32_t n = static_cast<int32_t>(items_.size());
  if (n == 0) return;
  int32_t position = current_ < 0 ? 0 : current_;
  // Stops after one full round when every entry is skipped.
  for (int32_t tries = 0; tries < n; ++tries) {
    position = (position + direction + n) % n;
    if (skip_.IsEmpty() || !(items_[position] == skip_)) break;
  }
  current_ = position;
  if (no_confirm_) Commit();
}

int ItemComboBox::StepBack() {
  Step(-1);
  return 1;
}

int ItemComboBox::StepForward() {
  Step(1);
  return 1;
}

void ItemComboBox::Commit() {
  if (current_ < 0 || current_ >= static_cast<int32_t>(values_.size()) || !Host()) return;
  if (Host()->StoreOption(attribute_, values_[current_]) == 1) Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
}

bool ItemComboBox::OnDirectionKey(int32_t code) {
  if (!IsFocusedSelection() || current_ < 0 || code > 3) return false;
  const bool horizontal = selection_ == 0 || selection_ == 2;
  const bool vertical = selection_ == 1 || selection_ == 2;
  bool stepped = false;
  if ((code == 0 && horizontal) || (code == 3 && vertical)) {
    StepBack();
    stepped = true;
  } else if ((code == 1 && horizontal) || (code == 2 && vertical)) {
    StepForward();
    stepped = true;
  }
  if (stepped && Host()) Host()->InvalidateAll();
  return stepped;
}

bool ItemComboBox::OnStylusDown(int32_t x, int32_t y) {
  if (!Host() || Host()->ElementAtPoint(x, y) != this) return false;
  const int32_t r = x - x_;
  // Both edges belong to neither area.
  if (decrement_area_x_ < r && r < increment_area_x_) {
    StepBack();
  } else if (increment_area_x_ < r && r < x_size_) {
    StepForward();
  }
  UpdateLayout();
  Invalidate();
  return true;
}

void ItemComboBox::LoadFromOption() {
  if (attribute_.IsEmpty() || items_.empty() || !Host()) return;
  const ov::String shown = current_ >= 0 && current_ < static_cast<int32_t>(values_.size()) ? values_[current_]
                                                                                              : ov::String();
  ov::String text;
  bool numeric = false;
  if (Host()->ReadOption(attribute_, &text, &numeric) && !(text == shown)) {
    SelectValue(text);
    UpdateLayout();
    Invalidate();
  } else if (attribute_ == ov::String(u"EmailConnectionStatus")) {
    UpdateLayout();
    Invalidate();
  }
  if (current_ >= 0 && current_ < static_cast<int32_t>(values_.size())) {
    committed_ = values_[current_];
    committed_position_ = current_;
  }
}

void ItemComboBox::ConfirmOrCommit(int32_t code) {
  if (current_ < 0 || current_ >= static_cast<int32_t>(values_.size())) return;
  if (values_[current_] == committed_) {
    if (code == kActionMenuOk && awaiting_) awaiting_ = false;
    return;
  }
  if (!awaiting_) {
    if ((code == kActionFocusLost || code == kActionActivate) && !confirmation_popup_.IsEmpty()) {
      if (Host()) Host()->QueueAction(nullptr, kActionShowPopup, confirmation_popup_, 1);
      awaiting_ = true;
      return;
    }
  } else if (code != kActionMenuOk) {
    return;  // the popup's answer decides
  }
  committed_ = values_[current_];
  committed_position_ = current_;
  Commit();
  awaiting_ = false;
}

int ItemComboBox::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)argument;
  (void)flag;
  switch (code) {
    case kActionMenuShown:
    case kActionInitialise:
      LoadFromOption();
      return 0;
    case kActionOptionsChanged:
      if (!IsFocusedSelection() && !attribute_.IsEmpty()) {
        LoadFromOption();
        return 0;
      }
      return 1;
    case kActionLeavingMenu:
      ReleaseImages();
      awaiting_ = false;
      return 1;
    case kActionActivate:
    case kActionSaveSettings:
    case kActionFocusLost:
    case kActionMenuOk:
      ConfirmOrCommit(code);
      return 0;
    case kActionRevert:
      if (current_ >= 0 && current_ < static_cast<int32_t>(values_.size()) && !(values_[current_] == committed_)) {
        if (Host()) Host()->StoreOption(attribute_, committed_);
        SelectValue(committed_);
      }
      return 1;
    case kActionMenuCancel:
      if (awaiting_) {
        awaiting_ = false;
        OnAction(kActionRevert, ov::String(), 1);
      }
      return 1;
    default:
      return 0;
  }
}

void ItemComboBox::SaveState(ov::Archive* archive) {
  archive->WriteString(confirmation_popup_.View());
  archive->WriteU32(awaiting_ ? 1u : 0u);
  Control::SaveState(archive);
}

void ItemComboBox::LoadState(ov::Archive* archive) {
  uint32_t awaiting = 0;
  if (!archive->ReadString(&confirmation_popup_) || !archive->ReadU32(&awaiting)) return;
  awaiting_ = awaiting != 0;
  Control::LoadState(archive);
}

}  // namespace ui
