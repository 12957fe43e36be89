#pragma once
// The mix screens' entry: registers their element classes with the ui
// element factory, in place of the placeholders ui keeps for them. Called
// once at start-up, before the skin is loaded. Also gives the engine its
// text-clip renderer, so the render mode and ovtool call it too.

namespace screens {

void RegisterElements();

}  // namespace screens
