#pragma once
// Two passive elements that move by themselves on the screen manager's
// animation tick: ScrollingText (SCROLLINGTEXT, "ST"), a one-line ticker
// moving its text 2 pixels left at every paint, and AnimatedBitmap
// (ANIMATEDBITMAP, "AB"), which plays frames cut from one picture strip or
// read from up to 50 numbered picture files. Neither takes the focus or
// actions.
//
// Thread: UI thread only.

#include <array>

#include "ui/control.h"

namespace ui {

class ScrollingText : public Element {
 public:
  static constexpr int32_t kStep = 2;

  ScrollingText();
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  // Reports the bounds at every tick, so the text moves at every tick.
  void OnTick(gfx::Rect* area, uint32_t now) override;

  int32_t scroll_x() const { return scroll_x_; }

 private:
  ov::String text_;
  ov::String font_name_;
  int32_t font_height_ = 0;
  int32_t box_width_ = 0;
  bool antialias_ = false;
  uint32_t text_colour_ = 0;
  uint32_t background_colour_ = 0;
  int32_t scroll_x_ = 0;
  gfx::HFont font_;
  bool font_made_ = false;
};

class AnimatedBitmap : public Element {
 public:
  static constexpr int32_t kMaxFiles = 50;

  AnimatedBitmap();
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;

  int32_t frame() const { return frame_; }
  int32_t number_of_files() const { return number_of_files_; }

 private:
  void LoadFrames(gfx::HDC dc);
  bool Animated() const;

  ov::String bitmap_;
  int32_t frame_ = 0;
  int32_t strip_width_ = 0, strip_height_ = 0;
  int32_t frame_x_ = 0, frame_y_ = 0;
  int32_t delay_ = 0;
  uint32_t last_tick_ = 0;
  uint32_t transparent_colour_ = 0;
  bool transparent_ = false;
  bool multifile_ = false;
  int32_t number_of_files_ = 0;
  bool running_ = true;
  bool loaded_ = false;
  std::array<SkinImage, kMaxFiles> frames_;
};

}  // namespace ui
