#pragma once
// The program's one window over SDL2: a device-sized RGB565 screen drawn
// scaled up, its message loop with timers and messages posted from any
// thread, the stylus (mouse), keys and message boxes. The shell turns these
// messages into calls on its screen manager.
//
// Headless runs (tests) use SDL's offscreen driver: set OVMIX_HEADLESS=1 or
// call Window::UseHeadlessDriver() before Create.
//
// Thread: UI thread only, except PostMessage, which any thread may call (it
// is SDL_PushEvent underneath, the one SDL call other threads make).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/gfx_types.h"
#include "platform/os/ov_string.h"

namespace wnd {

// Messages delivered to the handler.
enum class Message {
  kCreate,
  kDestroy,
  kActivate,        // wparam 1 active, 0 inactive
  kPaint,           // rect: the dirty area
  kCommand,         // wparam: command identifier
  kTimer,           // wparam: timer id
  kStylusDown,      // x, y in screen pixels
  kStylusMove,
  kStylusUp,
  kDoubleTap,
  kBackKey,
  kKey,             // wparam: a Key
  kPosted,          // wparam: the posted message's identifier
  kRaise,           // another instance asked for the window
  kSize,            // x, y: the device's new screen width and height
  kSettingChange,   // a system setting changed (the screen size may not have)
};

// Window style bit that goes with a shown OK button.
enum : uint32_t { kStyleOkButton = 0x10000 };
// The command a click on the OK button sends: the dialog OK identifier (1)
// in the low word with the button's notification word 0x1000 above it.
enum : uint32_t { kCommandOk = 0x10000001 };

// Keys routed to the shell (the soft keys and Back come as commands and
// kBackKey).
enum class Key { kLeft, kRight, kUp, kDown, kEnter, kDigit0, kRotate = 100 };

struct Event {
  Event(Message m, uint32_t w = 0, int32_t px = 0, int32_t py = 0) : message(m), wparam(w), x(px), y(py) {}
  Message message;
  uint32_t wparam = 0;
  int32_t x = 0, y = 0;
  gfx::Rect rect;
};

class Window {
 public:
  using Handler = std::function<void(const Event&)>;

  // The screen size: OVMIX_SCREEN=WxH, else the given default.
  static gfx::Size ScreenSizeFromEnvironment(gfx::Size fallback);
  static void UseHeadlessDriver();

  // A window showing a width x height screen plus a bar of bar_height pixels
  // below it, scaled by an integer factor (0: chosen for the desktop). Null
  // when SDL or the window cannot be set up.
  static std::unique_ptr<Window> Create(const ov::String& title, int32_t width, int32_t height, int32_t bar_height,
                                        int32_t scale, Handler handler);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // The surface of screen and bar (RGB565); what Present copies.
  const gfx::HBitmap& surface() const { return surface_; }
  int32_t screen_width() const { return width_; }
  int32_t screen_height() const { return height_; }
  // Turns the device between portrait and landscape: swaps the screen's
  // width and height, rebuilds the surface (black) and the window at the new
  // size and, when deliver, sends kSize. F5 comes to the shell as
  // Key::kRotate, which calls this; tests call it with deliver false to put
  // other messages between the turn and its kSize. While a modal dialog is
  // open (a message box turned with F5) the kSize waits until the loop runs
  // without one: the code that waits for the dialog's answer runs on the
  // screens the turn replaces.
  void Rotate(bool deliver = true);

  void SetTitle(const ov::String& title);
  const ov::String& title() const { return title_; }
  // Style bits (kStyleOkButton); kept for the shell, they change nothing drawn.
  uint32_t style() const { return style_; }
  void SetStyle(uint32_t style) { style_ = style; }
  // The OK button: a small "ok" button at the right end of the bar, drawn
  // over whatever the shell painted there each time that area is presented.
  // A click on it sends kCommand with kCommandOk instead of stylus messages.
  void ShowOkButton(bool shown);
  bool ok_button_shown() const { return ok_shown_; }
  // Where the button sits (screen pixels); empty without a bar.
  gfx::Rect ok_button_rect() const;
  // Marks an area dirty; one kPaint per pass of the loop covers the union.
  void Invalidate(const gfx::Rect& area);
  void InvalidateAll();
  // Keep-awake: on keeps the display from blanking and the screen saver from
  // starting (the idle timer is reset); off lets them run again.
  void KeepAwake(bool on);
  bool keeping_awake() const;
  // The wait cursor over the window while the program is busy (on), the
  // arrow again when off.
  void ShowWaitCursor(bool on);
  bool wait_cursor_shown() const { return wait_cursor_; }
  // Copies rect of the surface to the screen (scaled).
  void Present(const gfx::Rect& rect);
  // Rectangles presented since the last call (for tests of partial repaint).
  std::vector<gfx::Rect> TakePresented();

  void SetTimer(uint32_t id, uint32_t period_ms);
  void KillTimer(uint32_t id);
  bool HasTimer(uint32_t id) const;

  // Registers a message identifier (from 0x C000 up) for PostMessage.
  static uint32_t RegisterMessage(const char* name);
  // Any thread: queues kPosted with the identifier.
  static bool PostMessage(uint32_t id);
  // Any thread: asks the window to come to the front.
  static bool PostRaise();
  // Sends a registered message at once to every top-level window of the
  // program: this window's handler gets kPosted with id, then each listener
  // (dialogs that live beside the main window).
  void Broadcast(uint32_t id);
  static int AddBroadcastListener(std::function<void(uint32_t)> listener);
  static void RemoveBroadcastListener(int token);

  // The most recently created window still alive (the main window); null
  // when there is none. Dialogs run over it.
  static Window* Main();

  // Keys a modal dialog takes: the soft keys (F1, F2; Enter and keypad
  // Enter as F1, but not their key repeats), Back (Escape, Backspace) and the
  // turn (F5).
  enum class ModalKey { kLeftSoftKey, kRightSoftKey, kBack, kRotate };
  class ModalInput {
   public:
    virtual ~ModalInput() = default;
    virtual void OnModalKey(ModalKey key) = 0;
    virtual void OnModalText(const std::string& utf8) = 0;
    // The left button pressed (down) or released (!down) at x, y in screen
    // pixels; a dialog with soft keys to tap takes it.
    virtual void OnModalStylus(bool down, int32_t x, int32_t y) {
      (void)down;
      (void)x;
      (void)y;
    }
    // Called by Present before it copies an area to the screen: a dialog
    // that draws itself here into surface() stays on top of every paint
    // beneath it.
    virtual void OnModalPaint() {}
  };
  // While set, keys, typed text and the stylus go to `input` instead of the
  // handler (SDL text input is on); timers, posted messages and paints run
  // on. Null ends it.
  void SetModalInput(ModalInput* input);
  ModalInput* modal_input() const { return modal_; }

  // Runs the loop until Quit; returns the code.
  int Run();
  // One pass: waits up to timeout_ms for events and timers, handles them and
  // paints; false once Quit was called.
  bool Pump(uint32_t timeout_ms);
  void Quit(int code);
  // Sends events as if the user had made them (tests); stylus events meet
  // the OK button as real ones do.
  void Inject(const Event& event);

  static void ShowMessageBox(const ov::String& caption, const ov::String& text);
  // How often another instance asked for this window.
  int raise_count() const { return raise_count_; }

 private:
  Window() = default;
  void Dispatch(const Event& event);
  void HandleSdlEvent(const void* sdl_event);
  bool HandleModalEvent(const void* sdl_event);
  // Stylus events pass here: a press on the shown OK button is kept from the
  // handler and becomes kCommandOk when released over the button.
  void Stylus(const Event& event);
  void DrawOkButton();
  void FireTimers();
  void PaintPending();
  bool ToScreen(int32_t wx, int32_t wy, int32_t* x, int32_t* y) const;

  Handler handler_;
  void* window_ = nullptr;  // SDL_Window
  gfx::HBitmap surface_;
  int32_t width_ = 0, height_ = 0, bar_height_ = 0, scale_ = 1;
  ov::String title_;
  bool dirty_ = false;
  gfx::Rect dirty_rect_;
  std::vector<gfx::Rect> presented_;
  struct Timer {
    uint32_t id;
    uint32_t period;
    uint32_t due;
  };
  std::vector<Timer> timers_;
  bool quit_ = false;
  int exit_code_ = 0;
  bool mouse_down_ = false;
  int raise_count_ = 0;
  uint32_t style_ = 0;
  bool ok_shown_ = false;
  bool ok_pressed_ = false;
  bool wait_cursor_ = false;
  void* wait_cursor_handle_ = nullptr;  // SDL_Cursor, made at its first use
  ModalInput* modal_ = nullptr;
  bool modal_painting_ = false;
  bool turn_pending_ = false;  // a kSize held back while a dialog was open
};

// One interactive instance per user: a lock in the data folder. A second
// start signals the first, which comes to the front.
class InstanceLock {
 public:
  InstanceLock();
  ~InstanceLock();
  // True when this process holds the lock.
  bool Acquire(const ov::String& lock_path);
  // Starts a thread that waits for signals from later instances and posts
  // kRaise to the window.
  void ListenForOthers();
  // Signals the running instance.
  static bool SignalRunning(const ov::String& lock_path);

 private:
  int fd_ = -1;
  int fifo_fd_ = -1;  // the fifo's read end until the listener takes it
  ov::String fifo_path_;
  struct Listener;
  std::unique_ptr<Listener> listener_;
};

}  // namespace wnd
