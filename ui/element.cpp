#include "ui/element.h"

#include "ui/ui_host.h"

namespace ui {

const char* TypeName(int32_t type) {
  static const char* const kNames[] = {
      "UNKNOWN",           "TYPEMENUITEM",        "TYPEMENU",            "DROPDOWNMENU",
      "ITEMGROUP",         "SCROLLINGTEXT_ANIM",  "MOVEMENTSEQUENCE",    "FILMCLIPSEQUENCE",
      "ANIMATEDBITMAP_ANIM", "COMBOBOX",          "MEDIABROWSER_ITEM",   "TEXTBOX_ITEM",
      "POPUPMESSAGEBOX_ITEM", "SLIDERCONTROL",    "CHANNELSELECTION_ITEM", "SCROLLBAR_ITEM",
      "MIXER_ITEM",        "PREVIEWMIXER_ITEM",   "AUDIOEDITOR_ITEM",    "VIDEOEDITOR_ITEM",
      "IMAGEEDITOR_ITEM",  "SOFTKEYMENU_ITEM",    "MIXERSELECTION_ITEM", "DRAGICON_ITEM",
      "PLAYLISTORDER_ITEM", "TEXTEDITOR_ITEM"};
  if (type < 0 || type > 25) return "";
  return kNames[type];
}

void Element::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"xPos", u"xP")) {
    x_ = ParseCoordinate(value);
  } else if (NameIs(name, u"backup")) {
    if (value.EqualsNoCase(u"n") || value.EqualsNoCase(u"no") || value.EqualsNoCase(u"0")) backup_ = false;
  } else if (NameIs(name, u"yPos", u"yP")) {
    y_ = ParseCoordinate(value);
  } else if (NameIs(name, u"xPos2", u"xP2")) {
    x2_ = ParseCoordinate(value);
  } else if (NameIs(name, u"yPos2", u"yP2")) {
    y2_ = ParseCoordinate(value);
  } else if (NameIs(name, u"xSize", u"xS")) {
    x_size_ = ParseCoordinate(value);
  } else if (NameIs(name, u"ySize", u"yS")) {
    y_size_ = ParseCoordinate(value);
  } else if (NameIs(name, u"xSize2", u"xS2")) {
    x_size2_ = ParseCoordinate(value);
  } else if (NameIs(name, u"ySize2", u"yS2")) {
    y_size2_ = ParseCoordinate(value);
  } else if (NameIs(name, u"hidden", u"hd")) {
    if (value.EqualsNoCase(u"y")) visible_ = false;
  } else if (NameIs(name, u"disabled", u"ds")) {
    if (value.EqualsNoCase(u"y")) {
      enable_mask_ = 0xFFFFFFFEu;
      enabled_flag_ = false;
    }
  } else if (NameIs(name, u"title", u"ti")) {
    title_ = value;
  } else if (NameIs(name, u"attribute", u"att")) {
    attribute_ = value;
    if (title_.IsEmpty()) title_ = value;
  }
}

gfx::Rect Element::ResetRect() {
  bounds_ = gfx::Rect();
  return bounds_;
}

void Element::Invalidate() {
  if (Host()) Host()->InvalidateArea(bounds_);
}

void Element::SetEnableBit(bool on, int bit) {
  if (bit < 0 || bit >= 32) return;
  if (on) enable_mask_ |= (1u << bit);
  else enable_mask_ &= ~(1u << bit);
}

bool Element::SetVisible(bool visible) {
  const bool old = visible_;
  visible_ = visible;
  return old;
}

int32_t Element::SetState(int32_t state) {
  const int32_t old = state_;
  if (state != state_) {
    state_ = state;
    if (Host()) Host()->InvalidateArea(bounds_);
  }
  return old;
}

bool Element::ContainsPoint(int32_t x, int32_t y) const {
  return x > x_ && x < x_ + GetXSize() && y > y_ && y < y_ + GetYSize();
}

}  // namespace ui
