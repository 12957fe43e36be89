#pragma once
// Animation sequences: skin objects without a place on the screen that
// animate their menu when something happens to it. The screen manager passes
// trigger codes to every sequence of the current menu and steps the running
// ones that are due on its animation timer.
//
// MovementSequence (MQ) slides the menu's focusable items in from the left;
// FileClipSequence (FS) plays an image animation once, or repeatedly, through
// a control part that sits in the menu's child list.
//
// Thread: UI thread only.

#include <memory>
#include <vector>

#include "ui/control.h"

namespace ui {

// Trigger codes.
enum SequenceTrigger : int32_t {
  kTriggerInit = 0,       // a menu is shown
  kTriggerSelection = 1,  // after every focus move by a direction key
  kTriggerIdle = 2,
  kTriggerExit = 3,
  kTriggerSelectionRight = 4,  // before 1, when the focus moved with direction 1 or 3
  kTriggerSelectionLeft = 5,   // before 1, when the focus moved with direction 0 or 2
};

class Sequence : public SkinItem {
 public:
  static constexpr size_t kMaxItemsAffected = 64;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  virtual void OnTrigger(int32_t code, uint32_t now);
  virtual bool IsRunning() const { return running_; }
  // More than delay ms since the last step (tick counts wrap).
  virtual bool IsDue(uint32_t now) const { return static_cast<int32_t>(now - last_step_) > delay_; }
  virtual void Step(const std::vector<std::unique_ptr<Element>>& items, uint32_t now) {
    (void)items;
    (void)now;
  }
  // The element this sequence owns inside the menu's child list, or null.
  virtual Element* ControlPart() { return nullptr; }

  int32_t trigger() const { return trigger_; }
  bool repeat() const { return repeat_; }
  const std::vector<bool>& items_affected() const { return items_affected_; }

 protected:
  ov::String kind_;
  std::vector<bool> items_affected_;
  uint32_t last_step_ = 0;
  int32_t delay_ = 0;
  int32_t trigger_ = 0;
  bool has_trigger_ = false;  // a sequence without a "trigger" never starts
  bool running_ = false;
  bool repeat_ = false;
};

class MovementSequence : public Sequence {
 public:
  static constexpr int32_t kJump = -320;
  static constexpr int32_t kStep = 10;
  static constexpr int32_t kSteps = 32;

  MovementSequence() { type_ = kTypeMovementSequence; }
  void OnTrigger(int32_t code, uint32_t now) override;
  void Step(const std::vector<std::unique_ptr<Element>>& items, uint32_t now) override;

 private:
  bool first_step_ = false;
  int32_t steps_left_ = 0;
};

class FileClipSequence;

// The drawn part of a file-clip sequence: a control that hides itself once
// its image animation has played (unless the sequence repeats).
class FileClipPart : public Control {
 public:
  explicit FileClipPart(FileClipSequence* owner);
  void Draw(gfx::HDC dc, int state) override;
  bool IsFocusable() const override { return false; }
  // Starts the image animation from its first frame.
  void Restart(uint32_t now);

 private:
  friend class FileClipSequence;
  FileClipSequence* owner_;
};

class FileClipSequence : public Sequence {
 public:
  FileClipSequence();
  ~FileClipSequence() override;
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void OnTrigger(int32_t code, uint32_t now) override;
  Element* ControlPart() override { return part_.get(); }
  void Stop() { running_ = false; }

 private:
  std::unique_ptr<FileClipPart> part_;
};

}  // namespace ui
