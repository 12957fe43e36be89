#include "platform/ui/window.h"

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/ui/dialogs.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace wnd {
namespace {

// The SDL user event that carries posted messages; registered once.
uint32_t g_user_event = 0;
std::once_flag g_user_event_once;
std::mutex g_names_mutex;
std::map<std::string, uint32_t> g_message_names;
constexpr uint32_t kRaiseCode = 0xFFFFFFFFu;
std::mutex g_listeners_mutex;
std::map<int, std::function<void(uint32_t)>> g_listeners;
int g_next_listener = 1;
Window* g_main_window = nullptr;

void EnsureUserEvent() {
  std::call_once(g_user_event_once, [] { g_user_event = SDL_RegisterEvents(1); });
}

gfx::Rect Union(const gfx::Rect& a, const gfx::Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace

gfx::Size Window::ScreenSizeFromEnvironment(gfx::Size fallback) {
  const char* env = std::getenv("OVMIX_SCREEN");
  if (!env) return fallback;
  int w = 0, h = 0;
  if (std::sscanf(env, "%dx%d", &w, &h) == 2 && w >= 64 && h >= 64 && w <= 4096 && h <= 4096) return {w, h};
  return fallback;
}

void Window::UseHeadlessDriver() { SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen"); }

std::unique_ptr<Window> Window::Create(const ov::String& title, int32_t width, int32_t height, int32_t bar_height,
                                       int32_t scale, Handler handler) {
  const char* headless = std::getenv("OVMIX_HEADLESS");
  if (headless && *headless && std::strcmp(headless, "0") != 0) UseHeadlessDriver();
  // The screen is copied in software; no GL context is made for it.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // The display may blank as usual unless the program keeps it awake.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "ovmix: cannot start the display: %s\n", SDL_GetError());
    return nullptr;
  }
  // When no display can be opened SDL falls back to a driver that draws
  // into memory. Unasked, the program would then run unseen, holding the
  // single-instance lock so that every later start only raises it: without
  // a display of its own the start fails.
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool unseen = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
  if (unseen && !SDL_GetHint(SDL_HINT_VIDEODRIVER)) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "ovmix: cannot start the display: no display could be opened (DISPLAY=%s)\n",
                 display ? display : "");
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return nullptr;
  }
  EnsureUserEvent();
  std::unique_ptr<Window> w(new Window());
  w->handler_ = std::move(handler);
  w->width_ = width;
  w->height_ = height;
  w->bar_height_ = bar_height;
  if (scale <= 0) {
    scale = 2;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0) {
      while (scale > 1 && (height + bar_height) * scale > usable.h - 40) --scale;
    }
  }
  w->scale_ = scale;
  w->title_ = title;
  w->surface_ = gfx::CreateBitmap565(width, height + bar_height);
  if (!w->surface_) return nullptr;
  SDL_Window* sdl = SDL_CreateWindow(title.ToUtf8Lossy().c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                     width * scale, (height + bar_height) * scale, SDL_WINDOW_SHOWN);
  if (!sdl) {
    std::fprintf(stderr, "ovmix: cannot open the window: %s\n", SDL_GetError());
    return nullptr;
  }
  w->window_ = sdl;
  g_main_window = w.get();
  w->Dispatch({Message::kCreate});
  w->InvalidateAll();
  return w;
}

Window::~Window() {
  if (g_main_window == this) g_main_window = nullptr;
  if (modal_) SDL_StopTextInput();
  if (wait_cursor_handle_) {
    SDL_SetCursor(SDL_GetDefaultCursor());
    SDL_FreeCursor(static_cast<SDL_Cursor*>(wait_cursor_handle_));
  }
  if (window_) SDL_DestroyWindow(static_cast<SDL_Window*>(window_));
}

void Window::KeepAwake(bool on) {
  if (on) SDL_DisableScreenSaver();
  else SDL_EnableScreenSaver();
}

void Window::ShowWaitCursor(bool on) {
  wait_cursor_ = on;
  if (on && !wait_cursor_handle_) wait_cursor_handle_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
  // Without a mouse (the offscreen driver) there is no cursor to change.
  if (on && wait_cursor_handle_) SDL_SetCursor(static_cast<SDL_Cursor*>(wait_cursor_handle_));
  else if (!on && wait_cursor_handle_) SDL_SetCursor(SDL_GetDefaultCursor());
}

bool Window::keeping_awake() const { return SDL_IsScreenSaverEnabled() == SDL_FALSE; }

void Window::SetTitle(const ov::String& title) {
  title_ = title;
  if (window_) SDL_SetWindowTitle(static_cast<SDL_Window*>(window_), title.ToUtf8Lossy().c_str());
}

gfx::Rect Window::ok_button_rect() const {
  if (bar_height_ < 12) return {};
  // 36 x (bar - 8) pixels, 4 pixels in from the bar's right and top edges.
  return {width_ - 40, height_ + 4, width_ - 4, height_ + bar_height_ - 4};
}

void Window::ShowOkButton(bool shown) {
  if (shown == ok_shown_) return;
  ok_shown_ = shown;
  ok_pressed_ = false;
  // The whole bar: the shell lays its labels out around the button, and its
  // repaint covers a hidden one.
  Invalidate({0, height_, width_, height_ + bar_height_});
}

void Window::DrawOkButton() {
  const gfx::Rect r = ok_button_rect();
  if (r.IsEmpty()) return;
  auto dc = gfx::CreateWindowDC(surface_);
  gfx::FillRect(dc.get(), r, gfx::CreateSolidBrush(gfx::Rgb(0x2F, 0x80, 0xED)));
  gfx::LogFont lf;
  lf.height = 13;
  lf.weight = gfx::kFwBold;
  lf.quality = gfx::kAntialiasedQuality;
  lf.SetFaceName(u"Tahoma");
  gfx::HFont old = dc->SelectFont(gfx::CreateFontIndirect(lf));
  dc->SetBkMode(gfx::kTransparent);
  dc->SetTextColor(gfx::Rgb(0xFF, 0xFF, 0xFF));
  gfx::Size s;
  gfx::GetTextExtentPoint(dc.get(), u"ok", &s);
  gfx::ExtTextOut(dc.get(), r.left + (r.Width() - s.cx) / 2, r.top + (r.Height() - s.cy) / 2, 0, nullptr, u"ok");
  dc->SelectFont(old);
}

void Window::Invalidate(const gfx::Rect& area) {
  const gfx::Rect clipped = gfx::IntersectRects(area, surface_->bounds());
  if (clipped.IsEmpty()) return;
  dirty_rect_ = dirty_ ? Union(dirty_rect_, clipped) : clipped;
  dirty_ = true;
}

void Window::InvalidateAll() { Invalidate(surface_->bounds()); }

void Window::Present(const gfx::Rect& rect) {
  const gfx::Rect r = gfx::IntersectRects(rect, surface_->bounds());
  if (r.IsEmpty()) return;
  presented_.push_back(r);
  if (ok_shown_ && !gfx::IntersectRects(r, ok_button_rect()).IsEmpty()) DrawOkButton();
  if (modal_ && !modal_painting_) {
    modal_painting_ = true;
    modal_->OnModalPaint();
    modal_painting_ = false;
  }
  SDL_Window* sdl = static_cast<SDL_Window*>(window_);
  SDL_Surface* target = sdl ? SDL_GetWindowSurface(sdl) : nullptr;
  if (!target) return;
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(surface_->bits(), surface_->width(), surface_->height(), 16,
                                                           surface_->row_bytes(), SDL_PIXELFORMAT_RGB565);
  if (!source) return;
  SDL_Rect from{r.left, r.top, r.Width(), r.Height()};
  SDL_Rect to{r.left * scale_, r.top * scale_, r.Width() * scale_, r.Height() * scale_};
  SDL_BlitScaled(source, &from, target, &to);
  SDL_FreeSurface(source);
  SDL_UpdateWindowSurfaceRects(sdl, &to, 1);
}

std::vector<gfx::Rect> Window::TakePresented() {
  std::vector<gfx::Rect> out;
  out.swap(presented_);
  return out;
}

void Window::SetTimer(uint32_t id, uint32_t period_ms) {
  KillTimer(id);
  if (period_ms == 0) period_ms = 1;
  timers_.push_back({id, period_ms, SDL_GetTicks() + period_ms});
}

void Window::KillTimer(uint32_t id) {
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; }),
                timers_.end());
}

bool Window::HasTimer(uint32_t id) const {
  return std::any_of(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
}

uint32_t Window::RegisterMessage(const char* name) {
  std::lock_guard<std::mutex> lock(g_names_mutex);
  auto it = g_message_names.find(name);
  if (it != g_message_names.end()) return it->second;
  const uint32_t id = 0xC000u + static_cast<uint32_t>(g_message_names.size());
  g_message_names[name] = id;
  return id;
}

bool Window::PostMessage(uint32_t id) {
  EnsureUserEvent();
  if (g_user_event == static_cast<uint32_t>(-1)) return false;
  SDL_Event e;
  std::memset(&e, 0, sizeof(e));
  e.type = g_user_event;
  e.user.code = static_cast<int32_t>(id);
  return SDL_PushEvent(&e) == 1;
}

bool Window::PostRaise() { return PostMessage(kRaiseCode); }

int Window::AddBroadcastListener(std::function<void(uint32_t)> listener) {
  std::lock_guard<std::mutex> lock(g_listeners_mutex);
  const int token = g_next_listener++;
  g_listeners[token] = std::move(listener);
  return token;
}

void Window::RemoveBroadcastListener(int token) {
  std::lock_guard<std::mutex> lock(g_listeners_mutex);
  g_listeners.erase(token);
}

void Window::Broadcast(uint32_t id) {
  Dispatch({Message::kPosted, id});
  std::vector<std::function<void(uint32_t)>> listeners;
  {
    std::lock_guard<std::mutex> lock(g_listeners_mutex);
    for (auto& [token, listener] : g_listeners) listeners.push_back(listener);
  }
  for (auto& listener : listeners) listener(id);
}

void Window::Rotate(bool deliver) {
  std::swap(width_, height_);
  surface_ = gfx::CreateBitmap565(width_, height_ + bar_height_);
  if (window_) SDL_SetWindowSize(static_cast<SDL_Window*>(window_), width_ * scale_, (height_ + bar_height_) * scale_);
  ok_pressed_ = false;
  mouse_down_ = false;
  dirty_ = false;
  InvalidateAll();
  if (deliver && modal_) turn_pending_ = true;
  else if (deliver) Dispatch({Message::kSize, 0, width_, height_});
}

void Window::Dispatch(const Event& event) {
  if (handler_) handler_(event);
}

void Window::Inject(const Event& event) {
  switch (event.message) {
    case Message::kStylusDown:
    case Message::kStylusMove:
    case Message::kStylusUp:
    case Message::kDoubleTap:
      Stylus(event);
      break;
    default:
      Dispatch(event);
      break;
  }
}

void Window::Stylus(const Event& event) {
  const gfx::Rect ok = ok_button_rect();
  const bool on_ok = ok_shown_ && event.x >= ok.left && event.x < ok.right && event.y >= ok.top && event.y < ok.bottom;
  switch (event.message) {
    case Message::kStylusDown:
    case Message::kDoubleTap:
      if (on_ok) {
        ok_pressed_ = true;
        return;
      }
      break;
    case Message::kStylusMove:
      if (ok_pressed_) return;
      break;
    case Message::kStylusUp:
      if (ok_pressed_) {
        ok_pressed_ = false;
        if (on_ok) Dispatch({Message::kCommand, kCommandOk});
        return;
      }
      break;
    default:
      break;
  }
  Dispatch(event);
}

bool Window::ToScreen(int32_t wx, int32_t wy, int32_t* x, int32_t* y) const {
  *x = wx / scale_;
  *y = wy / scale_;
  return true;
}

Window* Window::Main() { return g_main_window; }

void Window::SetModalInput(ModalInput* input) {
  if (input && !modal_) SDL_StartTextInput();
  if (!input && modal_) SDL_StopTextInput();
  modal_ = input;
  mouse_down_ = false;
  ok_pressed_ = false;
}

// A modal dialog's share of the events; false for those that go on as usual.
bool Window::HandleModalEvent(const void* raw) {
  const SDL_Event& e = *static_cast<const SDL_Event*>(raw);
  switch (e.type) {
    case SDL_TEXTINPUT:
      modal_->OnModalText(e.text.text);
      return true;
    case SDL_KEYDOWN:
      switch (e.key.keysym.sym) {
        case SDLK_F1: modal_->OnModalKey(ModalKey::kLeftSoftKey); break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
          // Enter accepts as the left soft key does, but a held Enter's
          // repeats do not: the press that opened the dialog may still be
          // held down when it appears.
          if (!e.key.repeat) modal_->OnModalKey(ModalKey::kLeftSoftKey);
          break;
        case SDLK_F2: modal_->OnModalKey(ModalKey::kRightSoftKey); break;
        case SDLK_ESCAPE:
        case SDLK_AC_BACK:
        case SDLK_BACKSPACE: modal_->OnModalKey(ModalKey::kBack); break;
        case SDLK_F5: modal_->OnModalKey(ModalKey::kRotate); break;
        default: break;
      }
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (e.button.button == SDL_BUTTON_LEFT) {
        int32_t x = 0, y = 0;
        ToScreen(e.button.x, e.button.y, &x, &y);
        modal_->OnModalStylus(e.type == SDL_MOUSEBUTTONDOWN, x, y);
      }
      return true;
    case SDL_KEYUP:
    case SDL_TEXTEDITING:
    case SDL_MOUSEMOTION:
      return true;
    default:
      return false;
  }
}

void Window::HandleSdlEvent(const void* raw) {
  const SDL_Event& e = *static_cast<const SDL_Event*>(raw);
  if (modal_ && HandleModalEvent(raw)) return;
  if (e.type == g_user_event) {
    const uint32_t code = static_cast<uint32_t>(e.user.code);
    if (code == kRaiseCode) {
      ++raise_count_;
      if (window_) SDL_RaiseWindow(static_cast<SDL_Window*>(window_));
      Dispatch({Message::kRaise});
    } else {
      Dispatch({Message::kPosted, code});
    }
    return;
  }
  int32_t x = 0, y = 0;
  switch (e.type) {
    case SDL_QUIT:
      Dispatch({Message::kDestroy});
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) Dispatch({Message::kActivate, 1});
      else if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) Dispatch({Message::kActivate, 0});
      else if (e.window.event == SDL_WINDOWEVENT_EXPOSED) InvalidateAll();
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (e.button.button != SDL_BUTTON_LEFT) break;
      ToScreen(e.button.x, e.button.y, &x, &y);
      mouse_down_ = true;
      Stylus({e.button.clicks >= 2 ? Message::kDoubleTap : Message::kStylusDown, 0, x, y});
      break;
    case SDL_MOUSEBUTTONUP:
      if (e.button.button != SDL_BUTTON_LEFT) break;
      ToScreen(e.button.x, e.button.y, &x, &y);
      mouse_down_ = false;
      Stylus({Message::kStylusUp, 0, x, y});
      break;
    case SDL_MOUSEMOTION:
      ToScreen(e.motion.x, e.motion.y, &x, &y);
      Stylus({Message::kStylusMove, mouse_down_ ? 1u : 0u, x, y});
      break;
    case SDL_KEYDOWN: {
      const SDL_Keycode k = e.key.keysym.sym;
      switch (k) {
        case SDLK_F1: Dispatch({Message::kCommand, 40004}); break;
        case SDLK_F2: Dispatch({Message::kCommand, 40005}); break;
        case SDLK_ESCAPE:
        case SDLK_AC_BACK: Dispatch({Message::kBackKey}); break;
        case SDLK_F5: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kRotate)}); break;
        case SDLK_LEFT: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kLeft)}); break;
        case SDLK_RIGHT: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kRight)}); break;
        case SDLK_UP: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kUp)}); break;
        case SDLK_DOWN: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kDown)}); break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: Dispatch({Message::kKey, static_cast<uint32_t>(Key::kEnter)}); break;
        default:
          if (k >= SDLK_0 && k <= SDLK_9) {
            Dispatch({Message::kKey, static_cast<uint32_t>(Key::kDigit0) + static_cast<uint32_t>(k - SDLK_0)});
          }
          break;
      }
      break;
    }
    default:
      break;
  }
}

void Window::FireTimers() {
  const uint32_t now = SDL_GetTicks();
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (static_cast<int32_t>(now - timers_[i].due) < 0) continue;
    const uint32_t id = timers_[i].id;
    // Rescheduled from now: a late tick is not repeated to catch up.
    timers_[i].due = now + timers_[i].period;
    Dispatch({Message::kTimer, id});
  }
}

void Window::PaintPending() {
  if (!dirty_) return;
  dirty_ = false;
  Event e{Message::kPaint};
  e.rect = dirty_rect_;
  Dispatch(e);
}

bool Window::Pump(uint32_t timeout_ms) {
  if (quit_) return false;
  uint32_t wait = timeout_ms;
  const uint32_t now = SDL_GetTicks();
  for (const Timer& t : timers_) {
    const int32_t left = static_cast<int32_t>(t.due - now);
    wait = std::min<uint32_t>(wait, left > 0 ? static_cast<uint32_t>(left) : 0);
  }
  if (dirty_) wait = 0;
  SDL_Event e;
  if (SDL_WaitEventTimeout(&e, static_cast<int>(wait))) {
    HandleSdlEvent(&e);
    while (!quit_ && SDL_PollEvent(&e)) HandleSdlEvent(&e);
  }
  if (!quit_ && !modal_ && turn_pending_) {
    turn_pending_ = false;
    Dispatch({Message::kSize, 0, width_, height_});
  }
  if (!quit_) FireTimers();
  if (!quit_) PaintPending();
  return !quit_;
}

int Window::Run() {
  while (Pump(1000)) {
  }
  return exit_code_;
}

void Window::Quit(int code) {
  quit_ = true;
  exit_code_ = code;
}

void Window::ShowMessageBox(const ov::String& caption, const ov::String& text) {
  // An error also goes to stderr, where a start that fails leaves its trace.
  std::fprintf(stderr, "%s: %s\n", caption.ToUtf8Lossy().c_str(), text.ToUtf8Lossy().c_str());
  MessageBox(caption, text, kBoxOk, /*traced=*/true);
}

struct InstanceLock::Listener {
  std::atomic<bool> stop{false};
  std::thread thread;
};

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() {
  if (listener_) {
    listener_->stop.store(true, std::memory_order_release);
    if (listener_->thread.joinable()) listener_->thread.join();
  }
  if (fifo_fd_ >= 0) close(fifo_fd_);
  if (fd_ >= 0) {
    if (!fifo_path_.IsEmpty()) unlink(fifo_path_.ToUtf8Lossy().c_str());
    close(fd_);
  }
}

bool InstanceLock::Acquire(const ov::String& lock_path) {
  const std::string path = lock_path.ToUtf8Lossy();
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return true;  // no lock possible: run anyway
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  fifo_path_ = lock_path + u".fifo";
  const std::string fifo = fifo_path_.ToUtf8Lossy();
  unlink(fifo.c_str());
  mkfifo(fifo.c_str(), 0600);
  // The fifo is held open from here, not from ListenForOthers' thread: a
  // later instance that signals before the listener runs (while this one
  // starts up, or before the thread is scheduled) finds a reader, and its
  // signal waits in the fifo (a write to a fifo nobody has open fails).
  // Read-write: the open never blocks and the reader never sees end-of-file.
  fifo_fd_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return true;
}

void InstanceLock::ListenForOthers() {
  if (fd_ < 0 || listener_) return;
  if (fifo_fd_ < 0) return;
  const int in = fifo_fd_;
  fifo_fd_ = -1;  // the thread's from now on
  listener_ = std::make_unique<Listener>();
  Listener* l = listener_.get();
  l->thread = std::thread([l, in] {
    while (!l->stop.load(std::memory_order_acquire)) {
      pollfd p{in, POLLIN, 0};
      if (poll(&p, 1, 200) > 0 && (p.revents & POLLIN)) {
        char buf[16];
        while (read(in, buf, sizeof(buf)) > 0) {
        }
        Window::PostRaise();
      }
    }
    close(in);
  });
}

bool InstanceLock::SignalRunning(const ov::String& lock_path) {
  const std::string fifo = (lock_path + u".fifo").ToUtf8Lossy();
  const int out = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) return false;
  const char c = 'r';
  const bool ok = write(out, &c, 1) == 1;
  close(out);
  return ok;
}

}  // namespace wnd
