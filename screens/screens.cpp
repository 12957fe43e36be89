#include "screens/screens.h"

#include "screens/browsers/effect_browser.h"
#include "screens/browsers/media_browser.h"
#include "screens/editors/audio_editor.h"
#include "screens/editors/pan_zoom_editor.h"
#include "screens/editors/photo_editor.h"
#include "screens/editors/text_editor.h"
#include "screens/editors/video_editor.h"
#include "screens/mixer/mixer.h"
#include "screens/mixer/mixer_selection.h"
#include "screens/mixer/preview_mixer.h"
#include "screens/project/channel_selection.h"
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
  ui::RegisterElementType(u"MixerSelection", Make<MixerSelection>);
  ui::RegisterElementType(u"PREVIEWMIXER", Make<PreviewMixer>);
  ui::RegisterElementType(u"AudioEditor", Make<AudioEditor>);
  ui::RegisterElementType(u"VideoEditor", Make<VideoEditor>);
  ui::RegisterElementType(u"PB", Make<MediaBrowser>);
  ui::RegisterElementType(u"MEDIABROWSER", Make<MediaBrowser>);
  ui::RegisterElementType(u"TextEditor", Make<TextEditor>);
  ui::RegisterElementType(u"EffectBrowser", Make<EffectBrowser>);
  ui::RegisterElementType(u"ImageEditor", Make<ImageEditor>);
  ui::RegisterElementType(u"PANZOOMEDITOR", Make<PanZoomEditor>);
  engine::RegisterTextClipRenderer(MakeTextClipRenderer);
}

}  // namespace screens
