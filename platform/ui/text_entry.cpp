#include "platform/ui/text_entry.h"

#include <SDL.h>

#include <algorithm>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window.h"

namespace wnd {
namespace {

struct Texts {
  ov::String text, title, left, right;
};

Texts& Stored() {
  static Texts texts;
  return texts;
}

TextEntryHook& Hook() {
  static TextEntryHook hook;
  return hook;
}

// Removes the last character (a surrogate pair as one).
void DeleteLast(std::u16string* s) {
  if (s->empty()) return;
  s->pop_back();
  if (!s->empty() && s->back() >= 0xD800 && s->back() < 0xDC00) s->pop_back();
}

// Where the dialog sits on a width x height screen: a box across the
// middle with the title, the edit line and the two soft keys along its
// bottom, each key a button wide enough to tap with the stylus.
struct Layout {
  gfx::Rect box, line, left_key, right_key;
};

// Narrowest soft key, in screen pixels: a short label still makes a target
// a stylus can hit.
constexpr int32_t kMinKeyWidth = 44;

Layout LayOut(gfx::HDC dc, int32_t w, int32_t h) {
  Layout l;
  const int32_t box_h = std::min<int32_t>(h, 72), top = (h - box_h) / 2;
  l.box = {0, top, w, top + box_h};
  l.line = {4, top + 24, w - 4, top + 44};
  gfx::Size left{}, right{};
  dc->SelectFont(gfx::GetStockFont());
  gfx::GetTextExtentPoint(dc, Stored().left.View(), &left);
  gfx::GetTextExtentPoint(dc, Stored().right.View(), &right);
  const int32_t key_top = top + box_h - 22, key_bottom = top + box_h - 2;
  const int32_t left_w = std::max(kMinKeyWidth, left.cx + 8), right_w = std::max(kMinKeyWidth, right.cx + 8);
  l.left_key = {2, key_top, 2 + left_w, key_bottom};
  l.right_key = {w - 2 - right_w, key_top, w - 2, key_bottom};
  return l;
}

bool Inside(const gfx::Rect& r, int32_t x, int32_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

class TextEntryDialog : public Window::ModalInput {
 public:
  enum class State { kOpen, kAccepted, kCancelled };

  TextEntryDialog(Window* owner, uint32_t rotation_message)
      : owner_(owner), rotation_message_(rotation_message), edit_(Stored().text.View()) {}

  bool Run() {
    const int token = Window::AddBroadcastListener([this](uint32_t id) {
      if (id == rotation_message_ && state_ == State::kOpen) state_ = State::kCancelled;
    });
    owner_->SetModalInput(this);
    while (state_ == State::kOpen) {
      Draw();
      if (!owner_->Pump(50)) state_ = State::kCancelled;
    }
    owner_->SetModalInput(nullptr);
    Window::RemoveBroadcastListener(token);
    owner_->InvalidateAll();
    if (rotate_after_) {
      // The turn runs after the caller has its answer: F5 again, queued.
      SDL_Event e{};
      e.type = SDL_KEYDOWN;
      e.key.keysym.sym = SDLK_F5;
      SDL_PushEvent(&e);
    }
    if (state_ != State::kAccepted) return false;
    Stored().text = ov::String(edit_);
    return true;
  }

  void OnModalKey(Window::ModalKey key) override {
    if (state_ != State::kOpen) return;
    switch (key) {
      case Window::ModalKey::kLeftSoftKey: state_ = State::kAccepted; break;
      case Window::ModalKey::kRightSoftKey: state_ = State::kCancelled; break;
      case Window::ModalKey::kBack: DeleteLast(&edit_); break;
      case Window::ModalKey::kRotate:
        rotate_after_ = true;
        state_ = State::kCancelled;
        break;
    }
  }

  void OnModalText(const std::string& utf8) override {
    if (state_ == State::kOpen) edit_ += ov::String::FromUtf8Lossy(utf8).View();
  }

  // A tap on a soft key presses it: down and up both inside the same key.
  // A press elsewhere, or one released off its key, changes nothing.
  void OnModalStylus(bool down, int32_t x, int32_t y) override {
    if (state_ != State::kOpen) return;
    auto dc = gfx::CreateWindowDC(owner_->surface());
    if (!dc) return;
    const Layout l = LayOut(dc.get(), owner_->screen_width(), owner_->screen_height());
    const int key = Inside(l.left_key, x, y) ? 1 : Inside(l.right_key, x, y) ? 2 : 0;
    if (down) {
      pressed_key_ = key;
      return;
    }
    const int pressed = pressed_key_;
    pressed_key_ = 0;
    if (key == 0 || key != pressed) return;
    OnModalKey(key == 1 ? Window::ModalKey::kLeftSoftKey : Window::ModalKey::kRightSoftKey);
  }

 private:
  // The box across the screen's middle: title, edit line, soft keys.
  void Draw() {
    auto dc = gfx::CreateWindowDC(owner_->surface());
    if (!dc) return;
    const Layout l = LayOut(dc.get(), owner_->screen_width(), owner_->screen_height());
    gfx::FillRect(dc.get(), l.box, gfx::CreateSolidBrush(gfx::Rgb(0, 0, 96)));
    gfx::FillRect(dc.get(), l.line, gfx::CreateSolidBrush(gfx::Rgb(255, 255, 255)));
    dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(gfx::Rgb(255, 255, 255));
    gfx::ExtTextOut(dc.get(), 4, l.box.top + 4, 0, nullptr, Stored().title.View());
    DrawKey(dc.get(), l.left_key, Stored().left.View(), pressed_key_ == 1);
    DrawKey(dc.get(), l.right_key, Stored().right.View(), pressed_key_ == 2);
    dc->SetTextColor(gfx::Rgb(0, 0, 0));
    const std::u16string shown = edit_ + u"|";
    gfx::ExtTextOut(dc.get(), 6, l.line.top + 2, gfx::kEtoClipped, &l.line, shown);
    owner_->Present(l.box);
  }

  // A soft key: its label centred on a lighter button, lighter still while
  // the stylus holds it.
  static void DrawKey(gfx::HDC dc, const gfx::Rect& key, std::u16string_view label, bool pressed) {
    gfx::FillRect(dc, key, gfx::CreateSolidBrush(pressed ? gfx::Rgb(64, 64, 224) : gfx::Rgb(0, 0, 160)));
    gfx::Size size{};
    gfx::GetTextExtentPoint(dc, label, &size);
    gfx::ExtTextOut(dc, key.left + (key.Width() - size.cx) / 2, key.top + (key.Height() - size.cy) / 2,
                    gfx::kEtoClipped, &key, label);
  }

  Window* owner_;
  uint32_t rotation_message_;
  std::u16string edit_;
  State state_ = State::kOpen;
  bool rotate_after_ = false;
  int pressed_key_ = 0;  // 0 none, 1 left, 2 right: the key a press began on
};

}  // namespace

void SetupTextEntry(const ov::String& text, const ov::String& title, const ov::String& left_label,
                    const ov::String& right_label) {
  Window::RegisterMessage("Rotation is starting");
  Stored() = {text, title, left_label, right_label};
}

const ov::String& TextEntryText() { return Stored().text; }

gfx::Rect TextEntrySoftKeyRect(bool left) {
  Window* owner = Window::Main();
  if (!owner) return {};
  auto dc = gfx::CreateWindowDC(owner->surface());
  if (!dc) return {};
  const Layout l = LayOut(dc.get(), owner->screen_width(), owner->screen_height());
  return left ? l.left_key : l.right_key;
}

void SetTextEntryHook(TextEntryHook hook) { Hook() = std::move(hook); }

bool RunTextEntryDialog() {
  if (Hook()) {
    ov::String text = Stored().text;
    if (!Hook()(Stored().title, &text)) return false;
    Stored().text = text;
    return true;
  }
  // Nobody can type in a headless run: the offered text is taken as it is.
  if (HeadlessRun()) return true;
  Window* owner = Window::Main();
  if (!owner) return false;
  TextEntryDialog dialog(owner, Window::RegisterMessage("Rotation is starting"));
  return dialog.Run();
}

bool EditText(const ov::String& title, ov::String* text) {
  SetupTextEntry(*text, title, u"OK", u"Cancel");
  if (!RunTextEntryDialog()) return false;
  *text = TextEntryText();
  return true;
}

}  // namespace wnd
