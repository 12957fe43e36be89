#pragma once
// ItemComboBox (ITEMCOMBOBOX, "IB"): the value picker of settings screens.
// It shows one entry of a fixed list, steps through the list with the
// direction keys or taps on its left and right areas, and is bound to the
// user option named by its attribute: the option selects the shown entry,
// and the chosen entry's value is written back at once ("noConfirm"), when
// the control is activated or loses the focus, or after the user confirms a
// named confirmation popup.
//
// Thread: UI thread only.

#include <vector>

#include "ui/control.h"

namespace ui {

class ItemComboBox : public Control {
 public:
  ItemComboBox();

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool IsFocusable() const override { return !items_.empty(); }
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  int SelectValue(const ov::String& value);
  int StepBack();
  int StepForward();
  void Commit();

  int32_t current() const { return current_; }
  const ov::String& committed() const { return committed_; }
  bool awaiting_confirmation() const { return awaiting_; }
  // The shown text: the current entry's, else the none text.
  ov::String ShownText() const;

 private:
  void Step(int32_t direction);
  void LoadFromOption();
  void ConfirmOrCommit(int32_t code);
  bool IsFocusedSelection() const;

  std::vector<ov::String> items_;
  std::vector<ov::String> values_;
  int32_t current_ = -1;
  ov::String committed_;
  int32_t committed_position_ = -1;
  ov::String confirmation_popup_;
  bool awaiting_ = false;
  bool no_confirm_ = false;
  ov::String skip_;
  ov::String none_text_ = u"None";
  int32_t selection_ = 0;
  int32_t decrement_area_x_ = 0, increment_area_x_ = 0;
};

}  // namespace ui
