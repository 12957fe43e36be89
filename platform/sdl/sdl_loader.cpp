// The SDL2 functions that platform/ calls, defined here with the library's
// own prototypes. Each loads the library with dlopen on its first call and
// forwards to the library's function, so that SDL2 is loaded only by a
// process that opens a window or a sound device. Thread-safe: the handle and
// each function's pointer are function-local statics.
//
// The definitions are hidden (DECLSPEC, which would export them, is emptied
// here): they bind only the calls of the program that links them. When the
// library cannot be loaded, every function returns SDL's own failure value
// (null, -1, 0 or SDL_FALSE) and SDL_GetError says why, so the callers fail
// as they do when SDL cannot start. The calls that only release what SDL
// holds (SDL_TLSCleanup, SDL_QuitSubSystem) do not load the library.
#include <dlfcn.h>

#define DECLSPEC
#pragma GCC visibility push(hidden)
#include <SDL.h>

namespace {

void* Handle(bool load) {
  if (!load) {
    // Already loaded by an earlier call, or linked by the program itself.
    return dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  }
  static void* const handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  return handle;
}

void* Symbol(const char* name, bool load = true) {
  void* handle = Handle(load);
  return handle ? dlsym(handle, name) : nullptr;
}

}  // namespace

#define OV_SDL(R, name, params, args, failed)                                  \
  R name params {                                                              \
    static const auto fn = reinterpret_cast<decltype(&name)>(Symbol(#name));   \
    if (!fn) return failed;                                                    \
    return fn args;                                                            \
  }

extern "C" {
// clang-format off
OV_SDL(int, SDL_InitSubSystem, (Uint32 flags), (flags), -1)
OV_SDL(SDL_bool, SDL_SetHint, (const char* name, const char* value), (name, value), SDL_FALSE)
OV_SDL(const char*, SDL_GetHint, (const char* name), (name), nullptr)
OV_SDL(char*, SDL_getenv, (const char* name), (name), nullptr)
OV_SDL(int, SDL_setenv, (const char* name, const char* value, int overwrite), (name, value, overwrite), -1)
OV_SDL(Uint32, SDL_GetTicks, (void), (), 0)

OV_SDL(SDL_Window*, SDL_CreateWindow, (const char* title, int x, int y, int w, int h, Uint32 flags), (title, x, y, w, h, flags), nullptr)
OV_SDL(void, SDL_DestroyWindow, (SDL_Window* window), (window), void())
OV_SDL(void, SDL_SetWindowSize, (SDL_Window* window, int w, int h), (window, w, h), void())
OV_SDL(void, SDL_SetWindowTitle, (SDL_Window* window, const char* title), (window, title), void())
OV_SDL(void, SDL_RaiseWindow, (SDL_Window* window), (window), void())
OV_SDL(SDL_Surface*, SDL_GetWindowSurface, (SDL_Window* window), (window), nullptr)
OV_SDL(int, SDL_UpdateWindowSurfaceRects, (SDL_Window* window, const SDL_Rect* rects, int numrects), (window, rects, numrects), -1)
OV_SDL(int, SDL_GetDisplayUsableBounds, (int displayIndex, SDL_Rect* rect), (displayIndex, rect), -1)
OV_SDL(SDL_Surface*, SDL_CreateRGBSurfaceWithFormatFrom, (void* pixels, int width, int height, int depth, int pitch, Uint32 format), (pixels, width, height, depth, pitch, format), nullptr)
OV_SDL(void, SDL_FreeSurface, (SDL_Surface* surface), (surface), void())
OV_SDL(int, SDL_UpperBlitScaled, (SDL_Surface* src, const SDL_Rect* srcrect, SDL_Surface* dst, SDL_Rect* dstrect), (src, srcrect, dst, dstrect), -1)
OV_SDL(SDL_Cursor*, SDL_CreateSystemCursor, (SDL_SystemCursor id), (id), nullptr)
OV_SDL(SDL_Cursor*, SDL_GetDefaultCursor, (void), (), nullptr)
OV_SDL(void, SDL_SetCursor, (SDL_Cursor* cursor), (cursor), void())
OV_SDL(void, SDL_FreeCursor, (SDL_Cursor* cursor), (cursor), void())
OV_SDL(void, SDL_EnableScreenSaver, (void), (), void())
OV_SDL(void, SDL_DisableScreenSaver, (void), (), void())
OV_SDL(SDL_bool, SDL_IsScreenSaverEnabled, (void), (), SDL_FALSE)
OV_SDL(int, SDL_PollEvent, (SDL_Event* event), (event), 0)
OV_SDL(int, SDL_WaitEventTimeout, (SDL_Event* event, int timeout), (event, timeout), 0)
OV_SDL(int, SDL_PushEvent, (SDL_Event* event), (event), -1)
OV_SDL(Uint32, SDL_RegisterEvents, (int numevents), (numevents), static_cast<Uint32>(-1))
OV_SDL(void, SDL_StartTextInput, (void), (), void())
OV_SDL(void, SDL_StopTextInput, (void), (), void())
OV_SDL(int, SDL_ShowMessageBox, (const SDL_MessageBoxData* messageboxdata, int* buttonid), (messageboxdata, buttonid), -1)
OV_SDL(int, SDL_ShowSimpleMessageBox, (Uint32 flags, const char* title, const char* message, SDL_Window* window), (flags, title, message, window), -1)

OV_SDL(SDL_AudioDeviceID, SDL_OpenAudioDevice, (const char* device, int iscapture, const SDL_AudioSpec* desired, SDL_AudioSpec* obtained, int allowed_changes), (device, iscapture, desired, obtained, allowed_changes), 0)
OV_SDL(void, SDL_PauseAudioDevice, (SDL_AudioDeviceID dev, int pause_on), (dev, pause_on), void())
OV_SDL(void, SDL_CloseAudioDevice, (SDL_AudioDeviceID dev), (dev), void())
OV_SDL(const char*, SDL_GetCurrentAudioDriver, (void), (), nullptr)
OV_SDL(const char*, SDL_GetCurrentVideoDriver, (void), (), nullptr)
// clang-format on

const char* SDL_GetError(void) {
  static const auto fn = reinterpret_cast<decltype(&SDL_GetError)>(Symbol("SDL_GetError"));
  if (!fn) return "the SDL2 library (libSDL2-2.0.so.0) could not be loaded";
  return fn();
}

// Releasing needs nothing loaded: without the library there is nothing to
// release.
void SDL_QuitSubSystem(Uint32 flags) {
  if (auto fn = reinterpret_cast<decltype(&SDL_QuitSubSystem)>(Symbol("SDL_QuitSubSystem", false))) fn(flags);
}

void SDL_TLSCleanup(void) {
  if (auto fn = reinterpret_cast<decltype(&SDL_TLSCleanup)>(Symbol("SDL_TLSCleanup", false))) fn();
}
}

#pragma GCC visibility pop
