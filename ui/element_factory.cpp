// The element factory: skin keywords to element classes, in the order the
// keywords are compared.
#include <functional>
#include <iterator>
#include <vector>

#include "ui/animated_elements.h"
#include "ui/calendar.h"
#include "ui/clip_order_list.h"
#include "ui/colour_picker.h"
#include "ui/drop_down_menu.h"
#include "ui/folder_browser.h"
#include "ui/item_group.h"
#include "ui/menu.h"
#include "ui/placeholder_control.h"
#include "ui/popup_message_box.h"
#include "ui/scroll_bar.h"
#include "ui/slider_control.h"
#include "ui/softkey_menu.h"
#include "ui/value_picker.h"

namespace ui {
namespace {

struct FactoryEntry {
  const char16_t* keyword;
  ElementMaker make;
};

template <typename T>
std::unique_ptr<Element> Make() {
  return std::make_unique<T>();
}

// Classes that later work builds answer their type as a plain control.
template <int32_t kType>
std::unique_ptr<Element> Placeholder() {
  return std::make_unique<PlaceholderControl>(kType);
}

const FactoryEntry kBuiltIn[] = {
    {u"MI", Make<Control>},
    {u"MENUITEM", Make<Control>},
    {u"MN", Make<Menu>},
    {u"MENU", Make<Menu>},
    {u"IG", Make<ItemGroup>},
    {u"ITEMGROUP", Make<ItemGroup>},
    {u"DM", Make<DropDownMenu>},
    {u"DROPDOWNMENU", Make<DropDownMenu>},
    {u"PB", Placeholder<kTypeMediaBrowser>},
    {u"MEDIABROWSER", Placeholder<kTypeMediaBrowser>},
    {u"EffectBrowser", Placeholder<kTypeEffectBrowser>},
    {u"PM", Make<PopupMessageBox>},
    {u"POPUPMESSAGEBOX", Make<PopupMessageBox>},
    {u"ST", Make<ScrollingText>},
    {u"SCROLLINGTEXT", Make<ScrollingText>},
    {u"AB", Make<AnimatedBitmap>},
    {u"ANIMATEDBITMAP", Make<AnimatedBitmap>},
    {u"TB", Make<TextBox>},
    {u"TEXTBOX", Make<TextBox>},
    {u"IB", Make<ItemComboBox>},
    {u"ITEMCOMBOBOX", Make<ItemComboBox>},
    {u"SC", Make<SliderControl>},
    {u"SLIDERCONTROL", Make<SliderControl>},
    {u"CHANNELSELECTION", Placeholder<kTypeChannelSelection>},
    {u"SCROLLBAR", Make<ScrollBar>},
    {u"MIXER", Placeholder<kTypeMixer>},
    {u"PREVIEWMIXER", Placeholder<kTypePreviewMixer>},
    {u"AudioEditor", Placeholder<kTypeAudioEditor>},
    {u"VideoEditor", Placeholder<kTypeVideoEditor>},
    {u"SoftkeyMenu", Make<SoftkeyMenu>},
    {u"MixerSelection", Placeholder<kTypeMixerSelection>},
    {u"DragIcon", Make<DragIcon>},
    {u"ImageEditor", Placeholder<kTypeImageEditor>},
    {u"PlaylistOrder", Make<PlaylistOrder>},
    {u"FileBrowser", Make<FileBrowser>},
    {u"TextEditor", Placeholder<kTypeTextEditor>},
    {u"COLOURPICKER", Make<ColourPicker>},
    {u"CALENDAR", Make<Calendar>},
    {u"PANZOOMEDITOR", Placeholder<kTypePanZoomEditor>},
};

// The table in use: the built-in classes, with the types a higher library
// registered put in place of their placeholders.
std::vector<FactoryEntry>& Factory() {
  static std::vector<FactoryEntry> table(std::begin(kBuiltIn), std::end(kBuiltIn));
  return table;
}

}  // namespace

int RegisterElementType(const char16_t* keyword, ElementMaker make) {
  int replaced = 0;
  for (FactoryEntry& e : Factory()) {
    if (ov::String(e.keyword).EqualsNoCase(keyword)) {
      e.make = make;
      ++replaced;
    }
  }
  if (replaced == 0) Factory().push_back({keyword, make});
  return replaced;
}

std::unique_ptr<Element> CreateElement(const ov::String& keyword) {
  for (const FactoryEntry& e : Factory()) {
    if (keyword.EqualsNoCase(e.keyword)) return e.make();
  }
  return nullptr;
}

bool IsElementKeyword(const ov::String& keyword) {
  for (const FactoryEntry& e : Factory()) {
    if (keyword.EqualsNoCase(e.keyword)) return true;
  }
  return keyword.EqualsNoCase(u"MQ") || keyword.EqualsNoCase(u"MOVEMENTSEQUENCE") || keyword.EqualsNoCase(u"FS") ||
         keyword.EqualsNoCase(u"FILECLIPSEQUENCE");
}

}  // namespace ui
