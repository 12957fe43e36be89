#pragma once
// The engine commands that put one clip of a channel on a picture stream:
// its open and the layers over it. The mixer sends them live and the text
// editor's preview sends the same, so that a preview shows what the mix
// will show; the photo editor's preview shares the layers.

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/engine_command.h"

namespace screens {

class ChannelSelection;
class Mixer;

// Hands a command to an engine, which keeps it.
using CommandPoster = std::function<void(std::unique_ptr<engine::EngineCommand>)>;

// The open (CMD_LOAD) of clip `c` on `stream`: `path` the source file,
// `altPath` its picture cache; `param1` = `linked`, the sound stream that
// plays with the picture, or -1; a photo from 0 to its display time, any
// other clip between its cut points (`param2`, `param3`); `param4` its crop
// rectangle. Null for a clip outside the channel.
std::unique_ptr<engine::EngineCommand> MakeClipOpen(const ChannelSelection& ch, int c, uint32_t stream,
                                                    int32_t linked);

// The layers over clip `c` once it and its text are open, each only when
// set, in this order: the overlay picture (keyed on engine::kKeyColour; its
// cache is what a replay opens), the channel's file effect, the clip's pan
// and zoom, its colour filter.
void PostClipLayers(const ChannelSelection& ch, int c, uint32_t stream, const CommandPoster& post);

// The channel's transition as an editor's preview plays it: the mixer's
// effect command for entry `index`, moved to `stream`. Null without a mixer,
// a channel or an effect type.
std::unique_ptr<engine::EngineCommand> PreviewTransition(Mixer* mixer, int index, uint32_t stream);

}  // namespace screens
