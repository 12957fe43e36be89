#pragma once
// MixerSelection: the MixerSelection element, the control panel of one
// channel of the mixer screen ("channelNumber" 1-6; 0 for the whole mix). It
// turns the panel's actions and keys into the mixer's channel actions
// (channel and effect on and off, the effect menus, accepting an effect for
// this channel or every channel of its kind) and steers the channel's
// sliders. It holds no document data: the channel's state is read from the
// MIXER and the channel element.
//
// Thread: UI thread.

#include <cstdint>

#include "ui/action_codes.h"
#include "ui/control.h"

namespace screens {

class Mixer;

class MixerSelection : public ui::Control {
 public:
  MixerSelection();

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  void UpdateActions();
  void LoadEffectOptions();
  void OpenEffectMenu();
  void ApplyEffectOptions();

  int32_t channel_number() const { return channel_number_; }
  Mixer* mixer() const { return mixer_; }

 private:
  bool HasFocus() const;
  // Entry of the mixer's table this panel serves (channelNumber - 1).
  int Entry() const { return channel_number_ - 1; }
  void SendToMixer(int32_t code);
  void ToggleEffect();
  bool StepSlider(int32_t key);

  int32_t channel_number_ = 0;
  ov::String volume_control_, tempo_control_, audio_effect_menu_, video_effect_menu_;
  ui::Element* volume_slider_ = nullptr;
  ui::Element* tempo_slider_ = nullptr;
  Mixer* mixer_ = nullptr;
};

}  // namespace screens
