#pragma once
// PreviewMixer: the PREVIEWMIXER element, a Mixer that plays back the
// recorded mix instead of turning gestures into commands: the engine replays
// its recorded list at its recorded times and the element shows the replay
// position (numeric option 5 "PreviewPlayPercentage", string option 9
// "PreviewPos") and keeps "Preview" and "StopPreview" in step.
//
// Thread: UI thread.

#include <cstdint>

#include "screens/mixer/mixer.h"
#include "ui/action_codes.h"

namespace screens {

class PreviewMixer : public Mixer {
 public:
  PreviewMixer();

  void OnTick(gfx::Rect* area, uint32_t now) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  void UpdateControls() override;

  // The shown position of `position_ms` in a mix of `duration_ms`: "%.2d:%.2d"
  // and the percentage (at most 100; 0 for an empty mix).
  static ov::String FormatPosition(uint32_t position_ms);
  static uint32_t Percentage(uint32_t position_ms, uint32_t duration_ms);

 private:
  void ShowPosition(uint32_t position_ms, uint32_t percent);

  uint32_t last_tick_ = 0;
  bool ticked_ = false;
};

}  // namespace screens
