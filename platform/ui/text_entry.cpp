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

 private:
  // The box across the screen's middle: title, edit line, soft-key labels.
  void Draw() {
    const int32_t w = owner_->screen_width(), h = owner_->screen_height();
    const int32_t box_h = std::min<int32_t>(h, 72), top = (h - box_h) / 2;
    const gfx::Rect box{0, top, w, top + box_h};
    auto dc = gfx::CreateWindowDC(owner_->surface());
    if (!dc) return;
    gfx::FillRect(dc.get(), box, gfx::CreateSolidBrush(gfx::Rgb(0, 0, 96)));
    const gfx::Rect line{4, top + 24, w - 4, top + 44};
    gfx::FillRect(dc.get(), line, gfx::CreateSolidBrush(gfx::Rgb(255, 255, 255)));
    dc->SelectFont(gfx::GetStockFont());
    dc->SetBkMode(gfx::kTransparent);
    dc->SetTextColor(gfx::Rgb(255, 255, 255));
    gfx::ExtTextOut(dc.get(), 4, top + 4, 0, nullptr, Stored().title.View());
    gfx::ExtTextOut(dc.get(), 4, top + box_h - 20, 0, nullptr, Stored().left.View());
    gfx::Size right{};
    gfx::GetTextExtentPoint(dc.get(), Stored().right.View(), &right);
    gfx::ExtTextOut(dc.get(), w - 4 - right.cx, top + box_h - 20, 0, nullptr, Stored().right.View());
    dc->SetTextColor(gfx::Rgb(0, 0, 0));
    const std::u16string shown = edit_ + u"|";
    gfx::ExtTextOut(dc.get(), 6, top + 26, gfx::kEtoClipped, &line, shown);
    owner_->Present(box);
  }

  Window* owner_;
  uint32_t rotation_message_;
  std::u16string edit_;
  State state_ = State::kOpen;
  bool rotate_after_ = false;
};

}  // namespace

void SetupTextEntry(const ov::String& text, const ov::String& title, const ov::String& left_label,
                    const ov::String& right_label) {
  Window::RegisterMessage("Rotation is starting");
  Stored() = {text, title, left_label, right_label};
}

const ov::String& TextEntryText() { return Stored().text; }

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
