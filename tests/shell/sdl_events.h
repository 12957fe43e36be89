#pragma once
// The SDL events the window's tests feed it, as the keyboard and the
// stylus give them.
#include <SDL.h>

#include <cstdint>

namespace ovtest {

// A key pressed; `repeat` as the keyboard sends it while the key is held.
inline SDL_Event KeyEvent(SDL_Keycode key, bool repeat = false) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = key;
  e.key.repeat = repeat ? 1 : 0;
  return e;
}

// A single click's press or release at (x, y).
inline SDL_Event MouseEvent(bool down, int32_t x, int32_t y, uint8_t button = SDL_BUTTON_LEFT) {
  SDL_Event e{};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.button = button;
  e.button.clicks = 1;
  e.button.x = x;
  e.button.y = y;
  return e;
}

}  // namespace ovtest
