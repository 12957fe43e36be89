#include "screens/mixer/mixer_selection.h"

#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/menu.h"
#include "ui/slider_control.h"
#include "ui/ui_host.h"

namespace screens {
namespace {


// Number keys and their alternates: the panel they select.
int PanelOfKey(int32_t key) {
  if (key >= 5 && key <= 11) return key - 5;
  switch (key) {
    case 41:
    case 30: return 0;
    case 31: return 1;
    case 37: return 2;
    case 19: return 3;
    case 32: return 4;
    case 34: return 5;
    case 39: return 6;
    default: return -1;
  }
}

int32_t ReadNumber(ui::UiHost* host, const char16_t* key) {
  ov::String text;
  bool numeric = false;
  return host->ReadOption(key, &text, &numeric) ? text.ToInt() : 0;
}

}  // namespace

MixerSelection::MixerSelection() { type_ = ui::kTypeMixerSelection; }

void MixerSelection::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (ui::NameIs(name, u"channelNumber")) {
    channel_number_ = ui::ParseDecimal(value);
    return;
  }
  struct Text {
    const char16_t* name;
    ov::String MixerSelection::*field;
  };
  static const Text kTexts[] = {{u"audioEffectMenu", &MixerSelection::audio_effect_menu_},
                                {u"videoEffectMenu", &MixerSelection::video_effect_menu_},
                                {u"volumeControl", &MixerSelection::volume_control_},
                                {u"tempoControl", &MixerSelection::tempo_control_}};
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  Control::LoadAttribute(name, value);
}

bool MixerSelection::HasFocus() const {
  ui::UiHost* host = ui::Host();
  return host && host->FocusedElement() == this;
}

void MixerSelection::SendToMixer(int32_t code) {
  if (mixer_) mixer_->OnAction(code, ov::String(), 0);
}

void MixerSelection::ToggleEffect() {
  if (channel_number_ <= 0 || !mixer_ || Entry() >= kClipChannels) return;
  const ChannelSelection* ch = mixer_->entry(Entry()).channel;
  SendToMixer((ch && ch->effect_on() ? ui::kActionEffectOff0 : ui::kActionEffectOn0) + Entry());
}

void MixerSelection::UpdateActions() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  const bool focused = HasFocus();
  if (!mixer_ || channel_number_ < 1 || Entry() >= kMaxEntries) {
    if (focused) {
      host->CheckActionItems(false, nullptr, ui::kActionEffectToggle, 1);
      host->EnableActionItems(false, nullptr, ui::kActionEffectToggle, 1);
    }
    return;
  }
  SetEnableBit(mixer_->GetChannelKind(Entry()) != kKindEmpty, 31);
  if (!focused) return;
  const MixChannelEntry& e = mixer_->entry(Entry());
  const bool effect_on = e.channel && e.channel->effect_on();
  const bool has_effect = e.channel && e.channel->channel_effect().type != 0;
  host->CheckActionItems(effect_on, nullptr, ui::kActionEffectToggle, 1);
  host->EnableActionItems(has_effect, nullptr, ui::kActionEffectToggle, 1);
  host->EnableActionItems(e.active != 0, nullptr, ui::kActionSelChannelOff, 1);
  host->EnableActionItems(e.active == 0, nullptr, ui::kActionSelChannelOn, 1);
}

void MixerSelection::LoadEffectOptions() {
  ui::UiHost* host = ui::Host();
  if (!host || !mixer_ || channel_number_ == 0) return;
  int32_t type = 0, speed = 0, direction = 0;
  ov::String file;
  mixer_->GetChannelEffect(Entry(), &type, &speed, &direction, &file);
  host->StoreOption(u"EffectType", ov::String::Format(u"%d", type));
  host->StoreOption(u"EffectSpeed", ov::String::Format(u"%d", speed));
  host->StoreOption(u"EffectDir", ov::String::Format(u"%d", direction));
  host->StoreOption(u"EffectFilename", file);
}

void MixerSelection::OpenEffectMenu() {
  ui::UiHost* host = ui::Host();
  if (!host || channel_number_ <= 0 || !mixer_) return;
  LoadEffectOptions();
  const int32_t kind = mixer_->GetChannelKind(Entry());
  if (kind == kKindAudio) host->JumpToMenu(audio_effect_menu_);
  else if (kind == kKindImage || kind == kKindVideo) host->JumpToMenu(video_effect_menu_);
  // The menu now shown offers speed and direction as the channel's effect
  // type takes them.
  host->UpdateEffectControls();
}

void MixerSelection::ApplyEffectOptions() {
  ui::UiHost* host = ui::Host();
  if (!host || !mixer_ || channel_number_ <= 0) return;
  ov::String file;
  bool numeric = false;
  host->ReadOption(u"EffectFilename", &file, &numeric);
  mixer_->SetChannelEffect(Entry(), ReadNumber(host, u"EffectType"), ReadNumber(host, u"EffectSpeed"),
                           ReadNumber(host, u"EffectDir"), file);
}

int MixerSelection::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  const bool focused = HasFocus();
  const int n = Entry();
  bool handled = true;
  switch (code) {
    case ui::kActionMenuShown:
    case ui::kActionFocusGained:
    case ui::kActionFocusLost:
      if (host) {
        host->EnableActionItems(false, nullptr, ui::kActionSelChannelOff, 1);
        host->EnableActionItems(false, nullptr, ui::kActionSelChannelOn, 1);
      }
      break;
    case ui::kActionInitialise: {
      auto* menu = dynamic_cast<ui::Menu*>(parent_);
      if (menu) {
        volume_slider_ = volume_control_.IsEmpty() ? nullptr : menu->FindDescendant(volume_control_, false);
        tempo_slider_ = tempo_control_.IsEmpty() ? nullptr : menu->FindDescendant(tempo_control_, false);
        mixer_ = dynamic_cast<Mixer*>(menu->FindByType(ui::kTypeMixer, false));
      }
      if (tempo_slider_) tempo_slider_->OnAction(ui::kActionSliderSet, u"50", 0);
      return Control::OnAction(code, argument, flag);
    }
    case ui::kActionChannelStateChanged:
      handled = focused;
      break;
    case ui::kActionSelChannelOn:
    case ui::kActionSelChannelOff:
      if (!focused) return Control::OnAction(code, argument, flag);
      if (channel_number_ > 0 && n < kMaxEntries) {
        SendToMixer((code == ui::kActionSelChannelOn ? ui::kActionChannelOn0 : ui::kActionChannelOff0) + n);
      }
      break;
    case ui::kActionEffectToggle:
      if (!focused) return Control::OnAction(code, argument, flag);
      ToggleEffect();
      break;
    case ui::kActionAddEffect:
      if (!focused) return Control::OnAction(code, argument, flag);
      OpenEffectMenu();
      break;
    case ui::kActionAcceptEffectFor:
      if (argument.ToInt() != channel_number_ || channel_number_ <= 0) return Control::OnAction(code, argument, flag);
      ApplyEffectOptions();
      if (n < kClipChannels) SendToMixer(ui::kActionEffectOn0 + n);
      break;
    case ui::kActionAcceptEffect:
      if (!focused || channel_number_ <= 0) return Control::OnAction(code, argument, flag);
      ApplyEffectOptions();
      if (n < kClipChannels) SendToMixer(ui::kActionEffectOn0 + n);
      break;
    case ui::kActionAllChannelsAcceptEffect:
      // Every clip channel of this panel's kind, whichever entries are used
      // (with channels 1 and 4 used, channel 4 takes the effect too).
      if (focused && mixer_ && host && channel_number_ > 0) {
        const int32_t kind = mixer_->GetChannelKind(n);
        for (int i = 0; i < kClipChannels; ++i) {
          if (mixer_->GetChannelKind(i) == kind) {
            host->DoAction(ui::kActionAcceptEffectFor, ov::String::Format(u"%d", i + 1), 1);
          }
        }
      }
      return Control::OnAction(code, argument, flag);
    default:
      if (code >= ui::kActionTempoValue0 && code < ui::kActionTempoValue0 + kClipChannels) {
        if (code - ui::kActionTempoValue0 == n && tempo_slider_) {
          tempo_slider_->OnAction(ui::kActionSliderSet, argument, 0);
        }
        return Control::OnAction(code, argument, flag);
      }
      if (code >= ui::kActionVolumeValue0 && code < ui::kActionVolumeValue0 + kMaxEntries) {
        if (code - ui::kActionVolumeValue0 == n && volume_slider_) {
          volume_slider_->OnAction(ui::kActionSliderSet, argument, 0);
        }
        return Control::OnAction(code, argument, flag);
      }
      return Control::OnAction(code, argument, flag);
  }
  if (!handled) return Control::OnAction(code, argument, flag);
  UpdateActions();
  return 1;
}

bool MixerSelection::StepSlider(int32_t key) {
  auto horizontal = [](ui::Element* s) {
    auto* slider = dynamic_cast<ui::SliderControl*>(s);
    return slider && slider->GetXSize() >= slider->GetYSize();
  };
  int32_t action = 0;
  ui::Element* target = nullptr;
  if (volume_slider_ && volume_slider_->IsVisible()) {
    target = volume_slider_;
    const bool h = horizontal(target);
    if (key == 0 && h) action = ui::kActionSliderStepUp;
    if (key == 1 && h) action = ui::kActionSliderStepDown;
    if (key == 2 && !h) action = ui::kActionSliderStepDown;
    if (key == 3 && !h) action = ui::kActionSliderStepUp;
  } else if (tempo_slider_ && tempo_slider_->IsVisible()) {
    target = tempo_slider_;
    const bool h = horizontal(target);
    if (key == 1 && !h) action = ui::kActionSliderStepDown;
    if (key == 2) action = ui::kActionSliderStepDown;
    if (key == 3) action = ui::kActionSliderStepUp;
  }
  if (!action) return false;
  target->OnAction(action, ov::String(), 0);
  return true;
}

bool MixerSelection::OnDirectionKey(int32_t code) {
  static constexpr int32_t kAlwaysTaken[] = {19, 30, 31, 32, 34, 37, 39, 41};
  bool always = code >= 5 && code <= 11;
  for (int32_t k : kAlwaysTaken) always |= code == k;
  if (!always && (!IsVisible() || !HasFocus())) return false;
  if (!IsEnabled()) return false;
  ui::UiHost* host = ui::Host();
  bool done = false;
  if (const int panel = PanelOfKey(code); panel >= 0) {
    if (panel != channel_number_) return false;
    if (host && !HasFocus()) host->SetFocus(this);
    done = true;
  } else if (code == 4) {
    if (channel_number_ > 0 && mixer_ && Entry() < kMaxEntries) {
      SendToMixer((mixer_->entry(Entry()).active ? ui::kActionChannelOff0 : ui::kActionChannelOn0) + Entry());
    } else if (mixer_) {
      SendToMixer(mixer_->muted() ? ui::kActionMuteOff : ui::kActionMuteOn);
    }
    done = true;
  } else if (code == 42) {
    ToggleEffect();
    done = channel_number_ > 0;
  } else if (code >= 0 && code <= 3) {
    done = StepSlider(code);
  }
  if (!done) return false;
  UpdateActions();
  if (host) host->InvalidateAll();
  return true;
}

void MixerSelection::SaveState(ov::Archive* archive) {
  archive->WriteI32(channel_number_);
  Control::SaveState(archive);
}

void MixerSelection::LoadState(ov::Archive* archive) {
  archive->ReadI32(&channel_number_);
  Control::LoadState(archive);
}

}  // namespace screens
