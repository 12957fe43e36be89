#pragma once
// The editors' preview engines. Each editor screen plays its clip on a
// MixEngine of its own, apart from the mixer's shared one, so that a preview
// never disturbs the take. One maker builds them all: sixteen sound channels
// at 22050 Hz stereo and a video mixer of the preview box's size, with the
// engine's end-of-clip (227) and end-of-replay (5) actions sent to the UI
// thread through the host's queue, as the shared engine's are.
//
// Tests replace how the engine itself is made (a virtual wave-out device and
// virtual timing) and keep weak references to drive it; the action queue is
// set on whatever the maker returns.
//
// Thread: UI thread.

#include <cstdint>
#include <functional>
#include <memory>

namespace engine {
class MixEngine;
}  // namespace engine
namespace ui {
class UiHost;
}  // namespace ui

namespace screens {

// Builds an engine for a preview of width x height at fps frames a second.
using PreviewEngineMaker = std::function<std::shared_ptr<engine::MixEngine>(int32_t width, int32_t height, uint32_t fps)>;

// A preview engine whose actions reach `host` (none when host is null); null
// when the size is not positive.
std::shared_ptr<engine::MixEngine> MakePreviewEngine(ui::UiHost* host, int32_t width, int32_t height, uint32_t fps);

// Replaces how preview engines are built from now on (an empty maker: the
// default, on the system's sound output and timing).
void SetPreviewEngineMaker(PreviewEngineMaker maker);

}  // namespace screens
