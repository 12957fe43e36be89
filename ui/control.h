#pragma once
// Control: the MENUITEM element and the base of every interactive element.
// Use it for anything the user activates; it adds to the text box up to 30
// action bindings run on activation, state images (idle, focused, disabled)
// with an optional second set, and two pairs of animation strips.
//
// Thread: UI thread only.

#include <array>
#include <cstdint>
#include <memory>

#include "ui/action_keywords.h"
#include "ui/text_box.h"

namespace ui {

// A picture loaded on first draw.
struct SkinImage {
  ov::String name;
  std::unique_ptr<gfx::DeviceContext> dc;
  gfx::HBitmap bitmap;
  bool backwards = false;
  bool loaded = false;  // a load was tried
  int32_t width = 0, height = 0;
  void Release();
};

struct AnimationStrip {
  SkinImage image;
  int32_t frames = 0;
  int32_t frame_width = 0, frame_height = 0;
  int32_t frame = 0;
};

class Control : public TextBox {
 public:
  static constexpr int kSlots = 30;

  Control();
  // An off-screen control (see TextBox::OffScreen): no skin images are loaded.
  explicit Control(OffScreen);
  ~Control() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  void UpdateLayout() override;
  bool StartAnimationRight() override;
  bool StartAnimationLeft() override;
  bool StopAnimation() override;
  bool HasAnimationRight() const override;
  bool HasAnimationLeft() const override;
  bool IsFocusable() const override { return true; }
  bool SetVisible(bool visible) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  int EnableIfAttribute(bool on, const ov::String& name, int32_t depth) override;
  int EnableAction(bool on, int32_t code, int32_t depth) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  int ShowIfTitle(bool on, const ov::String& name, int32_t depth) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  bool HasAction(int32_t code) const;
  // None of the bindings is ACTION_IGNORE.
  bool IsActionable() const;
  void ReleaseImages();
  // Runs the bindings (code 14).
  void Activate();

  int32_t action_code(int slot) const { return codes_[slot]; }
  const ov::String& action_argument(int slot) const { return arguments_[slot]; }
  int last_action_index() const { return last_action_; }
  int32_t second_width() const { return second_width_; }
  int32_t second_height() const { return second_height_; }
  bool transparent() const { return transparent_; }
  bool animation_running() const { return animation_running_; }
  const SkinImage& state_image(int index) const { return images_[index]; }

 protected:
  // Draws the image for state s at (x, y); returns the drawn size.
  gfx::Size DrawStateImage(gfx::HDC dc, int32_t x, int32_t y, int s, bool centre);
  void DrawSecondImage(gfx::HDC dc, int32_t x, int32_t y, int s);
  // Drawn in place of a named picture that cannot be read: the element's box
  // framed in the state's text colour, filled with the focused background
  // when focused, so that the focus still shows.
  void DrawPlainFallback(gfx::HDC dc, int state);
  void DrawImageStrip(gfx::HDC dc, AnimationStrip* strip, int32_t x, int32_t y);
  bool LoadSkinImage(gfx::HDC dc, SkinImage* image, const ov::String& name, bool relative_only);
  void SetBinding(const ov::String& name, const ov::String& value);

  std::array<int32_t, kSlots> codes_;
  std::array<ov::String, kSlots> arguments_;
  bool no_auto_shade_ = false;
  uint32_t transparent_colour_ = 0;
  bool transparent_ = false;
  // Index 0 idle, 1 disabled, 2 focused (draw-state order).
  std::array<SkinImage, 3> images_;
  std::array<AnimationStrip, 4> strips_;  // animatedL, animatedL2, animatedR, animatedR2
  bool animation_running_ = false;
  bool pair_left_ = false;
  bool previous_running_ = false;
  bool group_enabling_ = false;
  int32_t frame_ = 0, frame_count_ = 0;
  uint32_t last_step_ = 0;
  bool strip_ = false;
  int32_t current_width_ = 0, current_height_ = 0;
  int32_t delay_ = 100;
  bool no_repeat_ = false;
  std::array<SkinImage, 3> second_images_;
  bool start_at_last_frame_ = false;
  int32_t frame2_ = 0, frame_count2_ = 0;
  bool strip2_ = false;
  bool stretch_ = false;
  // Set by the draw of a named picture that could not be read.
  bool picture_missing_ = false;
  int32_t second_height_ = 0, second_width_ = 0;
  int last_action_ = 0;
};

}  // namespace ui
