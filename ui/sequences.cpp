#include "ui/sequences.h"

#include <algorithm>

#include "ui/ui_host.h"

namespace ui {

void Sequence::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"trigger")) {
    static const char16_t* const kTriggers[] = {u"init", u"selection", u"idle", u"exit", u"selectionr", u"selectionl"};
    for (int32_t i = 0; i < 6; ++i) {
      if (value.EqualsNoCase(kTriggers[i])) {
        trigger_ = i;
        has_trigger_ = true;
      }
    }
  } else if (NameIs(name, u"repeat")) {
    repeat_ = IsTrueValue(value);
  } else if (NameIs(name, u"delay")) {
    delay_ = ParseDecimal(value);
  } else if (NameIs(name, u"type")) {
    kind_ = value;
  } else if (NameIs(name, u"itemsAffected")) {
    // Kept as the skin gives it; the steps move every focusable item.
    if (items_affected_.size() < kMaxItemsAffected) items_affected_.push_back(value.EqualsNoCase(u"MENUITEM"));
  }
}

void Sequence::OnTrigger(int32_t code, uint32_t now) {
  (void)now;
  if (has_trigger_ && code == trigger_) running_ = true;
}

void MovementSequence::OnTrigger(int32_t code, uint32_t now) {
  if (running_) return;
  Sequence::OnTrigger(code, now);
  if (running_) first_step_ = true;
}

void MovementSequence::Step(const std::vector<std::unique_ptr<Element>>& items, uint32_t now) {
  last_step_ = now;
  for (const auto& item : items) {
    Element* e = item.get();
    if (!e->CanTakeFocus()) continue;
    e->UpdateLayout();
    e->Invalidate();
    if (first_step_) {
      e->MoveX(kJump);
    } else {
      e->MoveX(kStep);
      e->UpdateLayout();
      e->Invalidate();
    }
  }
  if (!items.empty()) {
    if (first_step_) steps_left_ = kSteps;
    else --steps_left_;
  }
  first_step_ = false;
  if (steps_left_ <= 0) running_ = false;
}

FileClipPart::FileClipPart(FileClipSequence* owner) : owner_(owner) {
  type_ = kTypeFileClipSequence;
  visible_ = false;
}

void FileClipPart::Restart(uint32_t now) {
  last_step_ = now;
  frame_ = 0;
}

// The clip picture is a strip of frames stacked downwards, each as high as
// the part (the whole picture when the part has no height); a picture of
// one frame shows for one delay.
void FileClipPart::Draw(gfx::HDC dc, int state) {
  (void)state;
  SkinImage& image = images_[0];
  if (!image.loaded && !image.name.IsEmpty()) LoadSkinImage(dc, &image, image.name, false);
  if (!image.dc || !image.bitmap) return;
  const int32_t frame_height = y_size_ > 0 && y_size_ < image.height ? y_size_ : image.height;
  frame_count_ = frame_height > 0 ? std::max(image.height / frame_height, 1) : 1;
  strip_ = true;  // so that the ticks step the frames
  if (frame_ >= frame_count_) {
    if (!owner_->repeat()) {
      SetVisible(false);
      owner_->Stop();
      return;
    }
    frame_ %= frame_count_;
  }
  const int32_t shown = image.backwards ? frame_count_ - frame_ - 1 : frame_;
  const int32_t width = x_size_ > 0 ? std::min(x_size_, image.width) : image.width;
  if (transparent_) {
    gfx::TransparentImage(dc, x_, y_, width, frame_height, image.dc.get(), 0, shown * frame_height, width,
                          frame_height, transparent_colour_);
  } else {
    gfx::BitBlt(dc, x_, y_, width, frame_height, image.dc.get(), 0, shown * frame_height, gfx::kSrcCopy);
  }
  bounds_ = {x_, y_, x_ + width, y_ + frame_height};
}

FileClipSequence::FileClipSequence() : part_(std::make_unique<FileClipPart>(this)) {
  type_ = kTypeFileClipSequence;
}

FileClipSequence::~FileClipSequence() = default;

void FileClipSequence::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"image")) {
    part_->LoadAttribute(u"idleImage", value);
    part_->LoadAttribute(u"focusImage", value);
    part_->LoadAttribute(u"disabledImage", value);
  } else if (NameIs(name, u"imageBackwards")) {
    if (value.EqualsNoCase(u"true") || value.EqualsNoCase(u"yes")) {
      part_->LoadAttribute(u"idleimagebackwards", u"yes");
      part_->LoadAttribute(u"focusimagebackwards", u"yes");
      part_->LoadAttribute(u"disabledimagebackwards", u"yes");
    }
  } else {
    Sequence::LoadAttribute(name, value);
    part_->LoadAttribute(name, value);
  }
}

void FileClipSequence::OnTrigger(int32_t code, uint32_t now) {
  if (!(running_ && code == trigger_)) Sequence::OnTrigger(code, now);
  if (running_) {
    part_->Restart(now);
    part_->SetVisible(true);
  }
}

}  // namespace ui
