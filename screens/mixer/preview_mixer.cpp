#include "screens/mixer/preview_mixer.h"

#include <algorithm>

#include "engine/mix_engine.h"
#include "platform/os/thread.h"
#include "screens/project/channel_selection.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr uint32_t kTickPeriodMs = 250;
constexpr int kOptionPlayPercentage = 5;
constexpr int kStringPreviewPos = 9;
constexpr int kHelpPreview = 11;

}  // namespace

PreviewMixer::PreviewMixer() { type_ = ui::kTypePreviewMixer; }

ov::String PreviewMixer::FormatPosition(uint32_t p) {
  return ov::String::Format(u"%.2d:%.2d", p / 60000, (p / 1000) % 60);
}

uint32_t PreviewMixer::Percentage(uint32_t p, uint32_t d) {
  return d == 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(uint64_t(p) * 100 / d, 100));
}

void PreviewMixer::ShowPosition(uint32_t position_ms, uint32_t percent) {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  if (uint32_t* option = host->NumericOption(kOptionPlayPercentage)) *option = percent;
  if (ov::String* pos = host->StringOption(kStringPreviewPos)) *pos = FormatPosition(position_ms);
  host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
}

void PreviewMixer::UpdateControls() {
  ui::UiHost* host = ui::Host();
  engine::MixEngine* e = mix_engine();
  const bool rendering = e && e->IsRenderRunning();
  const bool r = (!e || !e->IsReplaying() || e->IsPaused()) && !rendering;
  if (host) {
    if (ui::Element* stop = host->FindElementByName(nullptr, u"StopPreview", false)) {
      stop->SetVisible(!rendering);
      stop->SetEnableBit(!r, 31);
    }
    if (ui::Element* play = host->FindElementByName(nullptr, u"Preview", false)) play->SetEnableBit(r, 31);
  }
  Mixer::UpdateControls();
}

void PreviewMixer::OnTick(gfx::Rect* area, uint32_t now) {
  (void)now;
  if (LiveVideoShown()) DrawLiveVideo();
  const uint32_t t = ov::GetTickCount();
  if (!ticked_ || t - last_tick_ > kTickPeriodMs) {
    ticked_ = true;
    last_tick_ = t;
    ui::UiHost* host = ui::Host();
    engine::MixEngine* e = mix_engine();
    uint32_t* shown = host ? host->NumericOption(kOptionPlayPercentage) : nullptr;
    if (e && e->IsReplaying()) {
      const uint32_t p = e->GetPlayPosition();
      if (p != 0) ShowPosition(p, Percentage(p, e->GetMixDuration()));
    } else if (shown && *shown != 0) {
      ShowPosition(0, 0);
    }
    UpdateControls();
  }
  Control::OnTick(area, now);
}

int PreviewMixer::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  engine::MixEngine* e = mix_engine();
  switch (code) {
    case ui::kActionMenuShown:
      if (host) host->RequestHelpTip(kHelpPreview);
      return Mixer::OnAction(code, argument, flag);
    case ui::kActionLeavingMenu:
      if (e && (e->IsReplaying() || e->IsPaused())) OnAction(ui::kActionPlayStop, ov::String(), 0);
      if (host) host->SetKeepAwake(false);
      return 1;
    case ui::kActionPlayback:
      ShowPosition(0, 0);
      if (e && !decoding()) e->StartReplay();
      UpdateControls();
      // The key that pauses (or, without one, stops) is next to hand.
      if (host) {
        ui::Element* next = host->FindElementByAction(nullptr, ui::kActionPlayPause);
        if (!next) next = host->FindElementByAction(nullptr, ui::kActionPlayStop);
        if (next) host->SetFocus(next);
      }
      return 1;
    case ui::kActionPlayStop:
      if (e) e->StopReplay();
      UpdateControls();
      return 1;
    case ui::kActionPlayPause:
      if (e) e->Pause();
      return 1;
    // A preview saves, clears and renders nothing.
    case ui::kActionMixChanged:
    case ui::kActionMixLoad:
    case ui::kActionMixSave:
    case ui::kActionRenderMms:
    case ui::kActionRenderEmail:
    case ui::kActionRenderDevice:
      return 1;
    default:
      return Mixer::OnAction(code, argument, flag);
  }
}

}  // namespace screens
