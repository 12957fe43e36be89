#include "screens/editors/preview_engine.h"

#include <utility>

#include "engine/audio_mixer.h"
#include "engine/mix_engine.h"
#include "engine/video_mixer.h"
#include "ui/ui_host.h"

namespace screens {

namespace {

PreviewEngineMaker& Maker() {
  static PreviewEngineMaker maker;
  return maker;
}

}  // namespace

std::shared_ptr<engine::MixEngine> MakePreviewEngine(ui::UiHost* host, int32_t width, int32_t height, uint32_t fps) {
  if (width <= 0 || height <= 0) return nullptr;
  std::shared_ptr<engine::MixEngine> mix;
  if (Maker()) {
    mix = Maker()(width, height, fps);
  } else {
    mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                              std::make_unique<engine::VideoMixer>(width, height, fps, 0));
  }
  if (mix && host) {
    mix->SetActionQueue([host](uint32_t action, const ov::String& argument) {
      host->QueueAction(nullptr, static_cast<int32_t>(action), argument, 1);
    });
  }
  return mix;
}

void SetPreviewEngineMaker(PreviewEngineMaker maker) { Maker() = std::move(maker); }

}  // namespace screens
