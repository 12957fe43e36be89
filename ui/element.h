#pragma once
// SkinItem and Element: the base of everything the skin XML creates. Use
// SkinItem for invisible timed objects (sequences), Element for anything
// drawn; interactive elements derive from Control (control.h).
//
// Element holds what every screen, item and widget shares (type, parent,
// title, positions and sizes, state, bounds, visibility, the enable mask) and
// the virtual operations through which the screen manager, the skin loader
// and the containers drive any element without knowing its class.
//
// Thread: UI thread only.

#include <cstdint>

#include "platform/gfx/dc.h"
#include "platform/os/archive.h"
#include "platform/os/ov_string.h"

namespace ui {

// ElementType values (GetType).
enum ElementType : int32_t {
  kTypeNone = 0,
  kTypeMenuItem = 1,
  kTypeMenu = 2,
  kTypeDropDownMenu = 3,
  kTypeItemGroup = 4,
  kTypeScrollingText = 5,
  kTypeMovementSequence = 6,
  kTypeFileClipSequence = 7,
  kTypeAnimatedBitmap = 8,
  kTypeItemComboBox = 9,
  kTypeMediaBrowser = 10,
  kTypeTextBox = 11,
  kTypePopupMessageBox = 12,
  kTypeSliderControl = 13,
  kTypeChannelSelection = 14,
  kTypeScrollBar = 15,
  kTypeMixer = 16,
  kTypePreviewMixer = 17,
  kTypeAudioEditor = 18,
  kTypeVideoEditor = 19,
  kTypeImageEditor = 20,
  kTypeSoftkeyMenu = 21,
  kTypeMixerSelection = 22,
  kTypeDragIcon = 23,
  kTypePlaylistOrder = 24,
  kTypeTextEditor = 25,
  kTypeColourPicker = 26,
  kTypeCalendar = 27,
  kTypeEffectBrowser = 28,
  kTypePanZoomEditor = 29,
};

// Draw states.
enum : int { kDrawNormal = 0, kDrawDisabled = 1, kDrawFocused = 2 };

// The state trace's name of a type; "" above 25.
const char* TypeName(int32_t type);

class Menu;
class MediaBrowserLink;
class ChannelLink;
class MixerLink;

class SkinItem {
 public:
  virtual ~SkinItem() = default;
  virtual int32_t GetType() const { return type_; }
  virtual Menu* CreateSubMenu() { return nullptr; }
  virtual SkinItem* CreateChild(const ov::String& keyword) {
    (void)keyword;
    return nullptr;
  }
  virtual void LoadAttribute(const ov::String& name, const ov::String& value) {
    (void)name;
    (void)value;
  }
  virtual void ResetChildren(int32_t group) { (void)group; }
  virtual void NotifyParent(int32_t a, int32_t b) {
    if (parent_) parent_->NotifyParent(a, b);
  }

  SkinItem* parent() const { return parent_; }
  void set_parent(SkinItem* parent) { parent_ = parent; }
  // Whether this item is an Element (sequences are not).
  virtual bool IsElement() const { return false; }
  // This item as a Menu (menus, drop-down menus, item groups, popups and the
  // screens built on them); null for every other item.
  virtual Menu* AsMenu() { return nullptr; }

 protected:
  int32_t type_ = kTypeNone;
  SkinItem* parent_ = nullptr;
};

class Element : public SkinItem {
 public:
  Element() = default;
  ~Element() override = default;
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  bool IsElement() const override { return true; }
  // The screens' elements that widgets talk to (screen_links.h); null for
  // every other element.
  virtual MediaBrowserLink* AsMediaBrowser() { return nullptr; }
  virtual ChannelLink* AsChannel() { return nullptr; }
  virtual MixerLink* AsMixer() { return nullptr; }

  void LoadAttribute(const ov::String& name, const ov::String& value) override;

  virtual void Draw(gfx::HDC dc, int state) = 0;
  // Animation step; *area receives the rectangle to repaint.
  virtual void OnTick(gfx::Rect* area, uint32_t now) = 0;
  virtual gfx::Rect ResetRect();
  virtual Element* GetSelectedChild() { return this; }
  virtual void UpdateLayout() {}
  virtual void Invalidate();
  virtual bool StartAnimationRight() { return false; }
  virtual bool StartAnimationLeft() { return false; }
  virtual bool StopAnimation() { return false; }
  virtual bool HasAnimationRight() const { return false; }
  virtual bool HasAnimationLeft() const { return false; }
  virtual void MoveX(int32_t delta) { x_ += delta; }
  virtual void MoveY(int32_t delta) { y_ += delta; }
  virtual bool IsFocusable() const { return false; }
  virtual int32_t GetState() const { return state_; }
  virtual bool IsVisible() const { return visible_; }
  virtual bool IsEnabled() const { return enable_mask_ == 0xFFFFFFFFu; }
  virtual bool GetEnabledFlag() const { return enabled_flag_; }
  virtual void SetEnableBit(bool on, int bit);
  virtual bool SetVisible(bool visible);
  virtual int32_t SetState(int32_t state);
  virtual bool OnDirectionKey(int32_t code) {
    (void)code;
    return false;
  }
  virtual int OnAction(int32_t code, const ov::String& argument, int32_t flag) {
    (void)code;
    (void)argument;
    (void)flag;
    return 0;
  }
  virtual int EnableIfAttribute(bool on, const ov::String& name, int32_t depth) {
    (void)on;
    (void)name;
    (void)depth;
    return 0;
  }
  virtual int EnableAction(bool on, int32_t code, int32_t depth) {
    (void)on;
    (void)code;
    (void)depth;
    return 0;
  }
  virtual int CheckAction(bool on, int32_t code, int32_t depth) {
    (void)on;
    (void)code;
    (void)depth;
    return 0;
  }
  virtual bool OnStylusDoubleTap(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return false;
  }
  virtual bool OnStylusDown(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return false;
  }
  virtual bool OnStylusUp(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return false;
  }
  virtual bool OnStylusMove(int32_t x, int32_t y) {
    (void)x;
    (void)y;
    return false;
  }
  virtual int ShowIfTitle(bool on, const ov::String& name, int32_t depth) {
    (void)on;
    (void)name;
    (void)depth;
    return 0;
  }
  virtual Element* FindByAttribute(const ov::String& name) {
    (void)name;
    return nullptr;
  }
  virtual Element* FindByAction(int32_t code) {
    (void)code;
    return nullptr;
  }
  virtual Element* FindByType(int32_t type, bool recurse) {
    (void)type;
    (void)recurse;
    return nullptr;
  }
  virtual Element* FindByTitle(const ov::String& name) {
    (void)name;
    return nullptr;
  }
  virtual int32_t GetXSize() const { return x_size_; }
  virtual int32_t GetYSize() const { return y_size_; }
  virtual int32_t GetXSize2() const { return x_size2_; }
  virtual int32_t GetYSize2() const { return y_size2_; }
  virtual void SaveState(ov::Archive* archive) { (void)archive; }
  virtual void LoadState(ov::Archive* archive) { (void)archive; }

  // x > xPos and x < xPos + width, and the same for y: edges are outside.
  bool ContainsPoint(int32_t x, int32_t y) const;
  bool CanTakeFocus() const { return IsFocusable() && IsVisible() && IsEnabled(); }
  void SetAuxValue(int32_t value) { aux_value_ = value; }
  int32_t aux_value() const { return aux_value_; }

  const ov::String& title() const { return title_; }
  void set_title(const ov::String& title) { title_ = title; }
  const ov::String& text() const { return text_; }
  const ov::String& attribute() const { return attribute_; }
  bool backup() const { return backup_; }
  int32_t x() const { return x_; }
  int32_t y() const { return y_; }
  int32_t x2() const { return x2_; }
  int32_t y2() const { return y2_; }
  int32_t group() const { return group_; }
  uint32_t enable_mask() const { return enable_mask_; }
  const gfx::Rect& bounds() const { return bounds_; }

 protected:
  ov::String title_;
  bool backup_ = true;
  ov::String text_;
  ov::String attribute_;
  int32_t aux_value_ = 0;
  int32_t x_ = -1, y_ = -1;
  int32_t x2_ = -1, y2_ = -1;
  int32_t x_size_ = 0, y_size_ = 0;
  int32_t x_size2_ = 0, y_size2_ = 0;
  int32_t group_ = 0;
  int32_t state_ = 0;
  gfx::Rect bounds_;
  bool visible_ = true;
  uint32_t enable_mask_ = 0xFFFFFFFFu;
  bool enabled_flag_ = true;
};

// Attribute names compare case-insensitively with the whole name.
inline bool NameIs(const ov::String& name, std::u16string_view a) { return name.EqualsNoCase(a); }
inline bool NameIs(const ov::String& name, std::u16string_view a, std::u16string_view b) {
  return name.EqualsNoCase(a) || name.EqualsNoCase(b);
}

}  // namespace ui
