#include "screens/clip_commands.h"

#include "engine/picture565.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"

namespace screens {

std::unique_ptr<engine::EngineCommand> MakeClipOpen(const ChannelSelection& ch, int c, uint32_t stream,
                                                    int32_t linked) {
  if (!ch.clip(c)) return nullptr;
  auto open = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_LOAD, stream, linked));
  open->path = ch.GetClipFile(c);
  open->altPath = ch.GetClipCache(c, kKindImage);
  if (ch.GetKind() == kKindImage) {
    open->param2 = 0;
    open->param3 = ch.GetClipDisplayTime(c);
  } else {
    ch.GetClipCutPoints(c, &open->param2, &open->param3);
  }
  open->param4 = static_cast<int32_t>(ch.GetClipCropRect(c));
  return open;
}

void PostClipLayers(const ChannelSelection& ch, int c, uint32_t stream, const CommandPoster& post) {
  if (const ov::String overlay = ch.GetClipOverlayFile(c); !overlay.IsEmpty()) {
    auto o = std::make_unique<engine::EngineCommand>(
        engine::MakeCommand(engine::CMD_LOAD_IMAGE, stream, static_cast<int32_t>(engine::kKeyColour)));
    o->path = overlay;
    o->altPath = ch.GetClipOverlayCache(c);
    post(std::move(o));
  }
  if (const ov::String effect = ch.GetEffectFile(); !effect.IsEmpty()) {
    auto f = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_FILE_EFFECT, stream));
    f->path = effect;
    f->altPath = ch.GetEffectCache();
    post(std::move(f));
  }
  uint32_t pan_start = kWholePicture, pan_end = kWholePicture;
  int32_t pan_speed = kDefaultPanSpeed;
  ch.GetClipPanZoom(c, &pan_start, &pan_end, &pan_speed);
  if (pan_start != pan_end) {
    post(std::make_unique<engine::EngineCommand>(engine::MakeCommand(
        engine::CMD_PAN_ZOOM, stream, pan_speed, static_cast<int32_t>(pan_start), static_cast<int32_t>(pan_end))));
  }
  if (const int32_t photo = ch.GetClipPhotoEffect(c); photo != 0) {
    post(std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_COLOUR_FILTER, stream, photo - 1)));
  }
}

std::unique_ptr<engine::EngineCommand> PreviewTransition(Mixer* mixer, int index, uint32_t stream) {
  std::unique_ptr<engine::EngineCommand> effect = mixer ? mixer->MakeEffectCommand(index) : nullptr;
  if (!effect || effect->type == engine::CMD_NOP) return nullptr;
  effect->channel = stream;
  return effect;
}

}  // namespace screens
