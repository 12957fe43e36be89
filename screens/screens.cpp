#include "screens/screens.h"

#include "screens/channel_selection.h"
#include "screens/mixer.h"
#include "ui/menu.h"

namespace screens {
namespace {

template <typename T>
std::unique_ptr<ui::Element> Make() {
  return std::make_unique<T>();
}

}  // namespace

void RegisterElements() {
  ui::RegisterElementType(u"MIXER", Make<Mixer>);
  ui::RegisterElementType(u"CHANNELSELECTION", Make<ChannelSelection>);
}

}  // namespace screens
