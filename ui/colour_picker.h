#pragma once
// ColourPicker ("COLOURPICKER"): a picture of colours from the skin (the
// idle image) on which the user taps a colour. The colour under the stylus,
// as 0x00BBGGRR, becomes the value of the option named by the element's
// attribute; elements bound to that option follow through action 36.
//
// Thread: UI thread only.

#include "ui/control.h"

namespace ui {

class ColourPicker : public Control {
 public:
  ColourPicker() { type_ = kTypeColourPicker; }

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool OnDirectionKey(int32_t code) override {
    (void)code;
    return false;
  }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  uint32_t colour() const { return colour_; }

 private:
  void ReadOptionColour();

  uint32_t colour_ = 0;
  bool no_confirm_ = false;
  ov::String confirmation_popup_;
  bool pending_ = false;
};

}  // namespace ui
