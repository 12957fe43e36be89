// ScreenManager: the object's life, the skin state the loader writes, and
// the element services. Navigation, the dispatcher and queue, input, timers
// and painting are in screen_manager_*.cpp.
#include "shell/screen_manager.h"

#include "platform/os/file.h"
#include "platform/picture/picture.h"

namespace shell {
namespace {

ScreenManager* g_manager = nullptr;

using ui::Element;
using ui::Menu;

}  // namespace

ScreenManager* TheScreenManager() { return g_manager; }
void SetTheScreenManager(ScreenManager* manager) { g_manager = manager; }

ov::String ScreenManager::SkinPath(const ov::String& name) const {
  return skin_folder_.IsEmpty() ? name : skin_folder_ + u"/" + name;
}

void ScreenManager::DrawSplash(const ov::String& name) {
  if (name.IsEmpty() || !window_) return;
  auto dc = gfx::CreateWindowDC(window_->surface());
  picture::DrawImageFileCentered(SkinPath(name), width_, height_, dc.get());
  window_->Present({0, 0, width_, height_});
}

bool ScreenManager::IsPopupType(const Element* e) {
  return e && (e->GetType() == ui::kTypePopupMessageBox || e->GetType() == ui::kTypeDropDownMenu);
}

ScreenManager::ScreenManager(int32_t width, int32_t height, const ov::String& options_path, wnd::Window* window)
    : width_(width), height_(height), window_(window), options_(options_path) {
  options_.SetChangeListener([this](bool is_string, int index) { OnOptionChanged(is_string, index); });
  options_.LoadOptions();
  action_message_ = wnd::Window::RegisterMessage("CHECKFORACTION");
  back_dc_ = gfx::CreateCompatibleDC(nullptr);
  back_bitmap_ = gfx::CreateCompatibleBitmap(back_dc_.get(), width, height);
  back_dc_->SelectBitmap(back_bitmap_);
  ui::SetHost(this);
  SetTheScreenManager(this);
}

ScreenManager::~ScreenManager() {
  options_.SaveIfPending();
  StopTimers();
  DrawSplash(texts_.shutdown_splash);
  background_dc_.reset();
  container_.reset();
  retired_containers_.clear();
  if (ui::Host() == this) ui::SetHost(nullptr);
  if (g_manager == this) g_manager = nullptr;
}

void ScreenManager::SetMenuContainer(std::unique_ptr<Menu> container) {
  // A failed load leaves a container behind; it is kept until the manager
  // goes so that nothing still pointing into it dangles.
  if (container_) retired_containers_.push_back(std::move(container_));
  container_ = std::move(container);
  current_ = nullptr;
  focused_ = nullptr;
  focus_position_ = -1;
  history_.clear();
  // Nothing may keep pointing into the tree that was replaced.
  pressed_ = nullptr;
  capture_ = nullptr;
  open_item_group_ = nullptr;
  background_menu_ = nullptr;
  background_dc_.reset();
  background_bitmap_.reset();
}

void ScreenManager::SetPaletteColour(const ov::String& name, const ov::String& value) {
  if (name.Length() <= 5) return;
  const char16_t d = name[name.Length() - 1];
  if (d < u'0' || d > u'9') return;
  palette_[d - u'0'] = ui::ParseHex(value);
}

bool ScreenManager::LookupPaletteColour(const ov::String& text, uint32_t* colour) {
  if (text.Length() <= 5 || !text.Left(5).EqualsNoCase(u"color")) return false;
  const char16_t d = text[text.Length() - 1];
  if (d < u'0' || d > u'9') return false;
  *colour = palette_[d - u'0'];
  return true;
}


Element* ScreenManager::FindElementByName(Menu* menu, const ov::String& name, bool recurse) {
  Menu* m = menu ? menu : current_;
  return m ? m->FindDescendant(name, recurse) : nullptr;
}

Element* ScreenManager::FindElementByType(Element* element, int32_t type, int32_t depth) {
  Element* target = element ? element : (current_ ? static_cast<Element*>(current_) : container_.get());
  return target ? target->FindByType(type, depth != 0) : nullptr;
}

Element* ScreenManager::GetFocusedSelection() { return focused_ ? focused_->GetSelectedChild() : nullptr; }

Element* ScreenManager::ElementAtPoint(int32_t x, int32_t y) {
  if (!current_) return nullptr;
  const auto& children = current_->children();
  for (size_t i = children.size(); i-- > 0;) {
    Element* e = children[i].get();
    if (e->GetType() != ui::kTypeDragIcon && e->CanTakeFocus() && e->ContainsPoint(x, y)) return e;
  }
  return nullptr;
}

void ScreenManager::InvalidateArea(const gfx::Rect& area) {
  if (window_) window_->Invalidate(area);
}

void ScreenManager::InvalidateAll() {
  if (window_) window_->InvalidateAll();
}

int ScreenManager::StoreOption(const ov::String& key, const ov::String& text) {
  const int s = options_.FindStringIndex(key.View());
  if (s >= 0) {
    ov::String* slot = options_.GetStringOption(s);
    if (*slot == text) return 0;
    *slot = text;
    options_.SaveOptionsLater(false);
    OnOptionChanged(true, s);
    DoAction(ui::kActionOptionChanged, key, 1);
    return 1;
  }
  const int n = options_.FindNumericIndex(key.View());
  if (n < 0 || n >= UserOptions::kNumericKeyCount + 1) return 0;
  uint32_t* slot = options_.GetOption(n);
  const uint32_t value = static_cast<uint32_t>(text.ToInt());
  if (*slot == value) return 0;
  *slot = value;
  options_.SaveOptionsLater(false);
  OnOptionChanged(false, n);
  DoAction(ui::kActionOptionChanged, key, 1);
  return 1;
}

bool ScreenManager::ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) {
  const int s = options_.FindStringIndex(key.View());
  if (s >= 0) {
    *text = *options_.GetStringOption(s);
    *is_numeric = false;
    return true;
  }
  const int n = options_.FindNumericIndex(key.View());
  if (n < 0) return false;
  *text = ov::String::Format(u"%d", static_cast<int32_t>(*options_.GetOption(n)));
  *is_numeric = true;
  return true;
}

void ScreenManager::SetKeepAwake(bool on) {
  keep_awake_ = on;
  // The timers may be stopped (the window is inactive): letting the display
  // blank cannot wait for the next tick.
  if (!on && window_) window_->KeepAwake(false);
}

void ScreenManager::SetLiveVideoArea(int32_t x, int32_t y, int32_t w, int32_t h) {
  live_video_ = {x, y, x + w, y + h};
}

}  // namespace shell
