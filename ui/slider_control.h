#pragma once
// SliderControl: the SLIDERCONTROL element, a horizontal or vertical slider
// whose value runs from 0 to 100 and which the user drags with the stylus.
// It is bound to a numeric option by its attribute and reports every change
// to the MIXER of its menu with its action code and the text of 100 - value.
// In its picture form it shows no knob but the picture whose table number
// matches the option's value.
//
// Thread: UI thread only.

#include <array>
#include <map>

#include "ui/control.h"

namespace ui {

class SliderControl : public Control {
 public:
  static constexpr int kValues = 256;

  SliderControl();
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void UpdateLayout() override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  // The knob's offset from the track start for the shown position p (0-100).
  int32_t SliderKnobPosition(int32_t p) const;
  // Sends the action code and "100 - value" to the mixer, when there is one.
  void NotifyMixer();
  // Picture form: the table index matching `number` (see the matching flags);
  // 1 when matched exactly (AllMatch: all options matched).
  int FindValueIndex(int32_t number);

  int32_t value() const { return value_; }
  void set_value(int32_t v) { value_ = v < 0 ? 0 : (v > 100 ? 100 : v); }
  int32_t matched_index() const { return matched_index_; }
  Element* mixer() const { return mixer_; }

 private:
  // Pixels the knob travels: the size along the axis less the knob.
  int32_t Track() const;
  int32_t Shown() const { return reverse_ ? 100 - value_ : value_; }
  void Repaint();

  int32_t value_ = 0;
  bool reverse_ = false, horizontal_ = false, view_only_ = false;
  int32_t knob_size_ = 0;
  int32_t slider_offset_x_ = 0, slider_offset_y_ = 0, highlight_offset_y_ = 0;
  int32_t press_x_ = 0, press_y_ = 0, press_position_ = 0;
  Element* mixer_ = nullptr;
  bool image_mode_ = false, table_has_text_ = false;
  // Value pictures by index: idle, focus, disabled.
  std::map<int, std::array<SkinImage, 3>> value_images_;
  std::array<int32_t, kValues> numbers_{};
  int table_size_ = 0;  // entries 0 to the highest one the skin named
  std::map<int, ov::String> texts_;
  int32_t matched_index_ = -1;
  bool nearest_match_ = false, nearest_colour_match_ = false, all_match_ = false;
  std::array<ov::String, 5> option_names_;
};

}  // namespace ui
