#include "ui/colour_picker.h"

#include "ui/ui_host.h"

namespace ui {

void ColourPicker::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"confirmationPopup")) {
    confirmation_popup_ = value;
  } else if (NameIs(name, u"noConfirm", u"nc")) {
    no_confirm_ = IsTrueValue(value);
  } else {
    Control::LoadAttribute(name, value);
  }
}

void ColourPicker::Draw(gfx::HDC dc, int state) {
  DrawStateImage(dc, x_, y_, state, false);
  ResetRect();
}

bool ColourPicker::OnStylusDown(int32_t x, int32_t y) {
  if (!Host() || Host()->ElementAtPoint(x, y) != this) return false;
  SkinImage& idle = images_[0];
  if (!idle.loaded && !idle.name.IsEmpty()) {
    gfx::DeviceContext screen;
    LoadSkinImage(&screen, &idle, idle.name, false);
  }
  // Outside the picture (or without one) the pixel read answers kClrInvalid.
  colour_ = idle.dc ? gfx::GetPixel(idle.dc.get(), x - x_, y - y_) : gfx::kClrInvalid;
  if (Host()->StoreOption(attribute_, ov::String::Format(u"%d", static_cast<int32_t>(colour_))) == 1) {
    Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
  }
  return false;
}

void ColourPicker::ReadOptionColour() {
  ov::String text;
  bool numeric = false;
  if (Host() && Host()->ReadOption(attribute_, &text, &numeric) && numeric) colour_ = static_cast<uint32_t>(text.ToInt());
}

int ColourPicker::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)argument;
  (void)flag;
  switch (code) {
    case kActionMenuShown:
    case kActionInitialise:
      ReadOptionColour();
      return 0;
    case kActionOptionsChanged:
      // A colour this picker has just stored is not read back while it has
      // the focus.
      if ((Host() && Host()->GetFocusedSelection() == this) || attribute_.IsEmpty()) return 1;
      ReadOptionColour();
      return 0;
    case kActionLeavingMenu:
      ReleaseImages();
      pending_ = false;
      return 1;
    case kActionMenuCancel:
      if (pending_) {
        pending_ = false;
        OnAction(kActionRevert, ov::String(), 1);
      }
      return 1;
    default:
      return 0;
  }
}

void ColourPicker::SaveState(ov::Archive* archive) {
  archive->WriteString(confirmation_popup_.View());
  archive->WriteU32(pending_ ? 1u : 0u);
}

void ColourPicker::LoadState(ov::Archive* archive) {
  uint32_t pending = 0;
  if (!archive->ReadString(&confirmation_popup_) || !archive->ReadU32(&pending)) return;
  pending_ = pending != 0;
}

}  // namespace ui
