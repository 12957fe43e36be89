#include "shell/screen_manager.h"

#include <algorithm>

#include "platform/gfx/font.h"
#include "platform/gfx/region.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "shell/packages.h"
#include "ui/action_keywords.h"
#include "ui/drop_down_menu.h"
#include "ui/item_group.h"
#include "ui/picture.h"
#include "ui/softkey_menu.h"

namespace shell {
namespace {

ScreenManager* g_manager = nullptr;

using ui::Element;
using ui::Menu;

bool IsPopupType(const Element* e) {
  return e && (e->GetType() == ui::kTypePopupMessageBox || e->GetType() == ui::kTypeDropDownMenu);
}

bool Overlaps(int32_t pos, int32_t size, int32_t lo, int32_t hi) {
  const int32_t end = pos + size;
  return (pos >= lo && pos < hi) || (end > lo && end <= hi) || (pos <= lo && end >= hi);
}

// The bar's colours.
constexpr gfx::COLORREF kBarBackground = gfx::Rgb(0x1E, 0x23, 0x2B);
constexpr gfx::COLORREF kBarText = gfx::Rgb(0xF2, 0xF4, 0xF7);
constexpr gfx::COLORREF kBarGreyed = gfx::Rgb(0x70, 0x78, 0x84);
constexpr gfx::COLORREF kMenuBackground = gfx::Rgb(0xFA, 0xFB, 0xFC);
constexpr gfx::COLORREF kMenuText = gfx::Rgb(0x1E, 0x23, 0x2B);
constexpr gfx::COLORREF kMenuSelected = gfx::Rgb(0x2F, 0x80, 0xED);
constexpr int32_t kPopupRow = 22;

}  // namespace

ScreenManager* TheScreenManager() { return g_manager; }
void SetTheScreenManager(ScreenManager* manager) { g_manager = manager; }

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
  options_.SaveIfDue();
  StopTimers();
  background_dc_.reset();
  container_.reset();
  retired_containers_.clear();
  if (!pending_temp_file_.IsEmpty()) ov::DeleteFile(pending_temp_file_);
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

// ---- navigation ----

void ScreenManager::PushHistory() { history_.push_front({current_, focus_position_}); }

bool ScreenManager::PopHistory(HistoryEntry* entry) {
  if (history_.empty()) return false;
  *entry = history_.front();
  history_.pop_front();
  return true;
}

bool ScreenManager::IsMenuInHistory(Menu* menu) const {
  if (menu == current_) return true;
  return std::any_of(history_.begin(), history_.end(), [menu](const HistoryEntry& e) { return e.menu == menu; });
}

void ScreenManager::DisableDisabledItems() {
  if (current_) current_->EnableAction(false, ui::kActionDisabled, 1);
}

void ScreenManager::ShowMenu(Menu* menu, int focus, bool no_history, bool overlay) {
  if (focused_) focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
  const bool changed = menu && menu != current_;
  if (changed) {
    if (!overlay) {
      DoAction(ui::kActionLeavingMenu, ov::String(), 1);
      if (!IsOverlay(menu) && IsPopupType(focused_) && focused_->IsVisible()) OpenPopup(focused_);
    }
    if (!no_history && current_) PushHistory();
    current_ = menu;
  }
  if (menu && menu == container_.get()) history_.clear();
  focus_position_ = -1;
  focused_ = nullptr;
  if (current_ && focus >= 0 && focus < static_cast<int>(current_->children().size())) {
    focus_position_ = focus;
    focused_ = current_->children()[focus].get();
  }
  if (changed) {
    DoAction(ui::kActionMenuShown, ov::String(), 1);
    if (window_ && !current_->window_title().IsEmpty()) window_->SetTitle(current_->window_title());
    if (window_) {
      // The menu's "showOk" decides the OK button and its style bit.
      const uint32_t style = window_->style();
      window_->SetStyle(current_->show_ok() ? style | wnd::kStyleOkButton : style & ~wnd::kStyleOkButton);
      window_->ShowOkButton(current_->show_ok());
    }
    DisableDisabledItems();
    inhibit_back_ = current_->inhibit_back();
    TriggerSequences();
    StepSequences();
    RefreshMenuState();
  }
  if (focused_) focused_->OnAction(ui::kActionFocusGained, ov::String(), 0);
}

bool ScreenManager::JumpToMenu(const ov::String& name) {
  if (!container_) return false;
  Menu* target = container_->FindMenu(name);
  if (target && target == current_) return true;
  if (!target) return false;
  bool overlay = false;
  if (IsOverlay(current_) && current_ != container_.get()) {
    GoBack(false);
    overlay = IsOverlay(target);
    if (current_ == target) return true;
  }
  if (!IsOverlay(target) && IsPopupType(focused_) && focused_->IsVisible()) OpenPopup(focused_);
  ShowMenu(target, -1, false, overlay);
  InvalidateAll();
  return true;
}

bool ScreenManager::GoBack(bool force) {
  if (!force && focused_ &&
      (focused_->GetType() == ui::kTypeDropDownMenu || focused_->GetType() == ui::kTypePopupMessageBox)) {
    return false;
  }
  if (history_.empty()) return false;
  DoAction(ui::kActionLeavingMenu, ov::String(), 1);
  HistoryEntry e;
  PopHistory(&e);
  ShowMenu(e.menu, e.focus, true, false);
  InvalidateAll();
  return true;
}

void ScreenManager::OpenPopup(Element* element) {
  if (!IsPopupType(element) || !current_) return;
  Menu* parent = element->parent() && element->parent()->IsElement() ? static_cast<Menu*>(element->parent()) : nullptr;
  if (parent && parent != current_) ShowMenu(parent, -1, false, false);
  if (element->IsVisible() && focused_ == element) {
    if (history_.empty()) return;
    HistoryEntry e;
    PopHistory(&e);
    element->OnAction(ui::kActionPopupClosed, ov::String(), 0);
    ShowMenu(e.menu, e.focus, true, false);
    InvalidateAll();
    return;
  }
  if (focused_) focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
  if (!(focused_ && focused_->GetType() == ui::kTypePopupMessageBox)) PushHistory();
  focused_ = element;
  focus_position_ = current_->IndexOf(element);
  element->OnAction(ui::kActionFocusGained, ov::String(), 0);
  element->OnAction(ui::kActionPopupOpened, ov::String(), 0);
  RefreshMenuState();
  InvalidateAll();
}

void ScreenManager::ClosePopup(Element* element) {
  if (!IsPopupType(element) || !current_) return;
  Menu* parent = element->parent() && element->parent()->IsElement() ? static_cast<Menu*>(element->parent()) : nullptr;
  if (parent && parent != current_) ShowMenu(parent, -1, false, false);
  if (focused_ != element || history_.empty()) return;
  HistoryEntry e;
  PopHistory(&e);
  element->OnAction(ui::kActionPopupClosed, ov::String(), 0);
  ShowMenu(e.menu, e.focus, true, false);
  InvalidateAll();
}

void ScreenManager::ShowSubMenu(Element* element) {
  if (!element || element->GetType() != ui::kTypeMenu) return;
  ShowMenu(static_cast<Menu*>(element), -1, false, false);
  InvalidateAll();
}

void ScreenManager::SetFocus(Element* element) {
  focused_ = element;
  focus_position_ = (current_ && element) ? current_->IndexOf(element) : -1;
}

void ScreenManager::ShowSplash(bool after_rotation) {
  ui::HelpOptions h;
  for (int i = 0; i < 4; ++i) h.shown[i] = options_.GetOption(41 + i);
  h.help_on = options_.GetOption(45);
  h.context = this;
  h.save_later = [](void* self) { static_cast<ScreenManager*>(self)->options_.SaveOptionsLater(false); };
  help_.Attach(h);
  if (!after_rotation && !texts_.start_splash.IsEmpty() && window_) {
    // Drawn straight to the window, under whatever the first paint draws.
    auto dc = gfx::CreateWindowDC(window_->surface());
    ov::String path = skin_folder_.IsEmpty() ? texts_.start_splash : skin_folder_ + u"/" + texts_.start_splash;
    ui::DrawImageFileCentered(path, width_, height_, dc.get());
  }
  current_ = container_.get();
  focused_ = nullptr;
  focus_position_ = -1;
  DoAction(ui::kActionInitialise, ov::String(), -1);
  if (window_) {
    window_->KillTimer(kTimerTick);
    window_->SetTimer(kTimerTick, 31);
    window_->SetTimer(kTimerOptions, 5000);
    window_->SetTimer(kTimerIdle, 1000);
  }
  RefreshMenuState();
  DisableDisabledItems();
  if (current_) current_->OnAction(ui::kActionMenuShown, ov::String(), 1);
  TriggerSequences();
  StepSequences();
  if (!after_rotation) JumpToMenu(u"splash_screen");
  InvalidateAll();
}

void ScreenManager::ShowNextHelpTip() {
  if (focused_ && focused_->GetType() == ui::kTypePopupMessageBox) return;
  const ov::String name = help_.NextTip();
  if (name.IsEmpty() || !current_) return;
  if (Element* e = current_->FindDescendant(name, false)) {
    OpenPopup(e);
    pending_popup_ = name;
  }
}

void ScreenManager::RefreshMenuState() {
  if (!current_) return;
  const uint32_t v = *options_.GetOption(27);
  for (uint32_t i = 0; i <= 8; ++i) current_->EnableAction(i == v, static_cast<int32_t>(102 + i), -1);
  current_->CheckAction(*options_.GetOption(45) != 0, ui::kActionHelpOn, -1);
  if (current_->title() == ov::String(u"save_menu") && focused_) {
    static const int32_t kCodes[] = {330, 331, 332, 334, 333};
    for (int32_t code : kCodes) {
      if (current_->FindByAction(code) == focused_) {
        help_.RequestTip(12);
        break;
      }
    }
  }
}

void ScreenManager::OnOptionChanged(bool is_string, int index) {
  if (is_string) return;
  if (index == 10) UpdateEffectControls();
  if (index == 38 || index == 39) DoAction(ui::kActionOptionCut, ov::String(), 1);
}

void ScreenManager::UpdateEffectControls() {
  if (!current_) return;
  const uint32_t t = *options_.GetOption(10);
  bool speed = false, dir = false;
  if (t == 100 || t == 203 || t == 205 || t == 208) speed = true;
  else if (t == 201 || t == 204) speed = dir = true;
  current_->EnableIfAttribute(speed, u"EffectSpeed", -1);
  current_->EnableIfAttribute(dir, u"EffectDir", -1);
}

// ---- dispatcher and queue ----

int ScreenManager::DoAction(int32_t code, const ov::String& parameter, int32_t depth) {
  switch (code) {
    case ui::kActionPreviousMenu: {
      Element* sel = GetFocusedSelection();
      if (sel && sel->GetType() == ui::kTypePopupMessageBox) {
        OpenPopup(sel);
        return 1;
      }
      GoBack(false);
      return 1;
    }
    case ui::kActionJumpTo:
      JumpToMenu(parameter);
      DoAction(ui::kActionOptionsChanged, ov::String(), 1);
      return 1;
    case ui::kActionQuit:
      options_.SaveOptionsLater(true);
      EndProcess(0);
    case ui::kActionMenuShown:
      idle_counter_ = 0;
      if (current_) current_->OnAction(code, parameter, depth);
      return 0;
    case ui::kActionSaveAndExit:
      DoAction(ui::kActionSaveSettings, ov::String(), 1);
      GoBack(false);
      return 0;
    case ui::kActionHelpDismiss:
      if (!pending_popup_.IsEmpty()) {
        if (focused_ && focused_->GetType() == ui::kTypePopupMessageBox) ClosePopup(focused_);
        pending_popup_ = ov::String();
      }
      return 0;
    case ui::kActionHelpOn: {
      uint32_t* on = options_.GetOption(45);
      *on = (*on == 0) ? 1 : 0;
      options_.SaveOptionsLater(false);
      return 0;
    }
    case ui::kActionHelpReset:
      help_.Reset();
      return 0;
    case ui::kActionHelpOnReset:
      DoAction(ui::kActionHelpReset, ov::String(), 1);
      DoAction(ui::kActionHelpOn, ov::String(), 1);
      help_.RequestTip(2);
      return 0;
    case ui::kActionShowPopup: {
      if (!current_) return 0;
      Element* e = current_->FindDescendant(parameter, false);
      if (e) {
        if (e->GetType() != ui::kTypePopupMessageBox) return 0;
        OpenPopup(e);
        return 1;
      }
      Element* sel = GetFocusedSelection();
      if (sel && sel->GetType() == ui::kTypePopupMessageBox) OpenPopup(sel);
      return 0;
    }
    case ui::kActionSetAttribute: {
      const int eq = parameter.Find(u'=');
      if (eq <= 0) return 0;
      ov::String key = parameter.Left(eq);
      key.TrimLeft();
      const ov::String value = parameter.Mid(eq + 1);
      if (options_.SetOptionByName(key.View(), value)) DoAction(ui::kActionOptionsChanged, ov::String(), 1);
      RefreshMenuState();
      return 0;
    }
    case 101:
    case 240:
    case 241:
    case 242:
      GoBack(false);
      if (current_) current_->OnAction(code, ov::String(), 1);
      return 0;
    case 307:
    case 308:
      GoBack(false);
      if (focused_) focused_->OnAction(code, ov::String(), 0);
      return 0;
    case 326:
    case 328:
    case 329:
    case 330:
    case 331:
    case 332:
    case 333:
    case 334:
    case 335:
    case 336: {
      if (code >= 330 && code <= 334) DoAction(ui::kActionPlayStop, ov::String(), 1);
      Menu* root = container_ ? container_.get() : current_;
      if (root) {
        if (Element* mixer = root->FindByType(ui::kTypeMixer, true)) mixer->OnAction(code, parameter, 0);
      }
      DoAction(ui::kActionAfterMixerCode, ov::String(), 1);
      return 0;
    }
    default:
      if (current_) current_->OnAction(code, parameter, depth);
      return 0;
  }
}

int ScreenManager::QueueAction(Element* target, int32_t code, const ov::String& parameter, int32_t depth) {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back({target, code, parameter, depth});
  }
  wnd::Window::PostMessage(action_message_);
  return 1;
}

// Records are taken out under the lock and dispatched outside it, so that a
// worker queuing while it holds its own lock never waits on a dispatch that
// needs that lock. What the dispatched code queues meanwhile is drained in
// the same pass, in order.
int ScreenManager::ProcessQueuedActions() {
  std::deque<QueuedAction> batch;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (queue_.empty()) return 0;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      if (queue_.empty()) break;
      batch.swap(queue_);
    }
    for (QueuedAction& a : batch) {
      if (a.target) a.target->OnAction(a.code, a.parameter, a.depth);
      else DoAction(a.code, a.parameter, a.depth);
    }
    batch.clear();
  }
  return 1;
}

int ScreenManager::SendAction(Element* element, int32_t code, const ov::String& parameter) {
  Element* target = element ? element : container_.get();
  return target ? target->OnAction(code, parameter, -1) : 0;
}

// ---- element services ----

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

void ScreenManager::SetLiveVideoArea(int32_t x, int32_t y, int32_t w, int32_t h) {
  live_video_ = {x, y, x + w, y + h};
}

// ---- timers and input ----

void ScreenManager::StartTimers(int rate) {
  if (!window_) return;
  window_->KillTimer(kTimerTick);
  if (rate != 0) window_->SetTimer(kTimerTick, static_cast<uint32_t>(1000 / rate));
  window_->SetTimer(kTimerOptions, 5000);
  window_->SetTimer(kTimerIdle, 1000);
}

void ScreenManager::StopTimers() {
  if (!window_) return;
  window_->KillTimer(kTimerTick);
  window_->KillTimer(kTimerOptions);
  window_->KillTimer(kTimerIdle);
}

void ScreenManager::TickElements() {
  if (!current_) return;
  const uint32_t now = ov::GetTickCount();
  const auto& children = current_->children();
  for (size_t i = 0; i < children.size(); ++i) {
    Element* e = children[i].get();
    if (!e->IsVisible()) continue;
    gfx::Rect r;
    e->OnTick(&r, now);
    if (!r.IsEmpty()) InvalidateArea(r);
  }
}

void ScreenManager::OnTimer(uint32_t id) {
  switch (id) {
    case kTimerOptions:
      options_.SaveIfDue();
      RefreshMenuState();
      break;
    case kTimerIdle: {
      if (!idle_armed_) idle_armed_ = true;
      else ++idle_counter_;
      if (current_ && current_->timeout() != -1 && static_cast<uint32_t>(current_->timeout()) < idle_counter_) {
        GoBack(false);
      }
      Element* sel = GetFocusedSelection();
      if (sel && sel->parent() && sel->parent()->IsElement()) {
        auto* owner = static_cast<Element*>(sel->parent());
        if (owner->GetType() == ui::kTypePopupMessageBox) {
          auto* box = static_cast<Menu*>(owner);
          if (box->timeout() != -1 && static_cast<uint32_t>(box->timeout()) < idle_counter_) ClosePopup(box);
        }
      }
      ShowNextHelpTip();
      break;
    }
    case kTimerTick:
      StepSequences();
      TickElements();
      break;
    default:
      break;
  }
}

void ScreenManager::RouteStylusDown(int32_t x, int32_t y) {
  if (y >= height_) {
    OnSoftkeyButton(x < width_ / 2 ? ui::kCommandLeftSoftkey : ui::kCommandRightSoftkey);
    return;
  }
  if (popup_open_) {
    // A tap on the open soft-key menu chooses a row; anywhere else closes it.
    const std::vector<ui::MenuBarItem*> rows = PopupRows();
    const int32_t menu_w = width_ * 2 / 3;
    const int32_t top = height_ - static_cast<int32_t>(rows.size()) * kPopupRow - 2;
    if (x >= width_ - menu_w && y >= top) {
      popup_row_ = (y - top) / kPopupRow;
      OnKey(4);
    } else {
      popup_open_ = false;
      popup_path_.clear();
      InvalidateAll();
    }
    return;
  }
  if (capture_) {
    capture_->OnStylusDown(x, y);
    return;
  }
  stylus_down_ = false;
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusDown(x, y);
    InvalidateAll();
    return;
  }
  if (open_item_group_ && open_item_group_->IsVisible()) {
    open_item_group_->OnStylusDown(x, y);
    InvalidateAll();
    return;
  }
  if (focused_) focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
  if (Element* hit = ElementAtPoint(x, y)) {
    hit->OnStylusDown(x, y);
    stylus_down_ = true;
  }
  InvalidateAll();
}

void ScreenManager::RouteStylusMove(int32_t x, int32_t y) {
  if (capture_) capture_->OnStylusMove(x, y);
  if (pressed_ && pressed_->OnStylusMove(x, y)) return;
  if (!current_) return;
  const auto& children = current_->children();
  for (size_t i = children.size(); i-- > 0;) {
    Element* e = children[i].get();
    if (e->CanTakeFocus() && e->ContainsPoint(x, y)) {
      stylus_down_ = false;
      if (e->OnStylusMove(x, y)) break;
    }
  }
}

void ScreenManager::RouteStylusUp(int32_t x, int32_t y) {
  if (y >= height_ || popup_open_) return;
  if (pressed_) pressed_->OnStylusUp(x, y);
  if (capture_) {
    capture_->OnStylusUp(x, y);
    RefreshMenuState();
    return;
  }
  stylus_down_ = false;
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusUp(x, y);
    pressed_ = nullptr;
    return;
  }
  Element* hit = ElementAtPoint(x, y);
  if (!hit) {
    pressed_ = nullptr;
    return;
  }
  focused_ = nullptr;
  focus_position_ = -1;
  hit->OnStylusUp(x, y);
  pressed_ = nullptr;
  RefreshMenuState();
  InvalidateAll();
}

void ScreenManager::RouteDoubleTap(int32_t x, int32_t y) {
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusDoubleTap(x, y);
    return;
  }
  if (Element* hit = ElementAtPoint(x, y)) {
    hit->OnStylusDoubleTap(x, y);
    InvalidateAll();
  }
}

void ScreenManager::OnSoftkey(int32_t code) {
  idle_armed_ = false;
  bool taken = false;
  if (focused_ && focused_->IsFocusable()) taken = focused_->OnDirectionKey(code);
  if (!taken && current_) {
    const auto& children = current_->children();
    for (size_t i = 0; i < children.size() && !taken; ++i) taken = children[i]->OnDirectionKey(code);
  }
  TickElements();
}

std::vector<ui::MenuBarItem*> ScreenManager::PopupRows() {
  std::vector<ui::MenuBarItem*> rows;
  std::vector<ui::MenuBarItem>* list = &menu_bar_.right.popup;
  if (!popup_path_.empty() && popup_path_[0] < static_cast<int>(list->size())) list = &(*list)[popup_path_[0]].sub;
  for (ui::MenuBarItem& i : *list) rows.push_back(&i);
  return rows;
}

void ScreenManager::OnSoftkeyButton(uint32_t command) {
  if (command == ui::kCommandLeftSoftkey) {
    popup_open_ = false;
    popup_path_.clear();
    if (menu_bar_.left.state & ui::kButtonEnabled) OnSoftkey(44);
  } else if (command == ui::kCommandRightSoftkey) {
    if (popup_open_) {
      popup_open_ = false;
      popup_path_.clear();
    } else if (!menu_bar_.right.popup.empty()) {
      if (menu_bar_.right.state & ui::kButtonEnabled) {
        popup_open_ = true;
        popup_path_.clear();
        popup_row_ = static_cast<int>(menu_bar_.right.popup.size()) - 1;
      }
    } else if (menu_bar_.right.state & ui::kButtonEnabled) {
      OnSoftkey(45);
    }
  }
  InvalidateAll();
}

void ScreenManager::MoveFocus(int32_t code) {
  if (!current_) return;
  const int32_t nav = current_->manual_nav();
  const bool vertical = code == 2 || code == 3;
  // manualNav 2 allows only up and down, 4 only left and right; other values
  // (the default 1, and 6) allow both.
  if ((nav == 2 && !vertical) || (nav == 4 && vertical)) return;
  const auto& children = current_->children();
  const int n = static_cast<int>(children.size());
  if (n == 0) return;
  const bool forward = code == 1 || code == 3;
  int start = focus_position_;
  for (int step = 1; step <= n; ++step) {
    int i;
    if (start < 0) i = forward ? step - 1 : n - step;
    else i = ((forward ? start + step : start - step) % n + n) % n;
    Element* e = children[i].get();
    if (!e->CanTakeFocus() || IsPopupType(e) || e->GetType() == ui::kTypeItemGroup) continue;
    if (focused_) {
      focused_->StopAnimation();
      focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
    }
    focused_ = e;
    focus_position_ = i;
    if (code == 0 || code == 2) e->StartAnimationLeft();
    else e->StartAnimationRight();
    e->OnAction(ui::kActionFocusGained, ov::String(), 0);
    RefreshMenuState();
    InvalidateAll();
    return;
  }
}

void ScreenManager::OnKey(int32_t code) {
  idle_armed_ = false;
  if (popup_open_) {
    std::vector<ui::MenuBarItem*> rows = PopupRows();
    const int n = static_cast<int>(rows.size());
    if (n == 0) {
      popup_open_ = false;
      InvalidateAll();
      return;
    }
    if (code == 2 || code == 3) {
      for (int step = 1; step <= n; ++step) {
        const int i = ((popup_row_ + (code == 3 ? step : -step)) % n + n) % n;
        if (!rows[i]->separator && rows[i]->enabled) {
          popup_row_ = i;
          break;
        }
      }
    } else if (code == 0 && !popup_path_.empty()) {
      popup_path_.clear();
      popup_row_ = 0;
    } else if (code == 4 || code == 1) {
      if (popup_row_ >= 0 && popup_row_ < n) {
        ui::MenuBarItem* item = rows[popup_row_];
        if (!item->sub.empty() && popup_path_.empty()) {
          popup_path_.push_back(popup_row_);
          popup_row_ = 0;
        } else if (code == 4 && !item->separator && item->enabled && item->id != 0) {
          popup_open_ = false;
          popup_path_.clear();
          OnSoftkey(static_cast<int32_t>(item->id) - 39960);
        }
      }
    }
    InvalidateAll();
    return;
  }
  // Enter on an open drop-down chooses its current item the way a tap
  // does (closing it first unless it is persistent).
  if (code == 4 && focused_ && focused_->GetType() == ui::kTypeDropDownMenu && focused_->IsVisible() &&
      focused_->GetSelectedChild()) {
    focused_->OnAction(ui::kActionActivate, ov::String(), 0);
    InvalidateAll();
    return;
  }
  if (focused_ && focused_->OnDirectionKey(code)) {
    InvalidateAll();
    return;
  }
  if (code == 4) {
    if (focused_ && focused_->CanTakeFocus()) {
      focused_->OnAction(ui::kActionActivate, ov::String(), 0);
      InvalidateAll();
    }
    return;
  }
  if (code <= 3) MoveFocus(code);
}

// ---- painting ----

void ScreenManager::PaintBackground(const gfx::Rect& rect, gfx::HDC dc) {
  if (!current_ || current_->background_image().IsEmpty()) return;
  if (background_menu_ != current_) {
    background_dc_.reset();
    background_bitmap_.reset();
    const ov::String path =
        skin_folder_.IsEmpty() ? current_->background_image() : skin_folder_ + u"/" + current_->background_image();
    int32_t w = 0, h = 0;
    ui::LoadImageFile(path, dc, &background_dc_, &background_bitmap_, &w, &h, 0);
    background_menu_ = current_;
    ++background_loads_;
  }
  if (background_dc_) {
    gfx::BitBlt(dc, rect.left, rect.top, rect.Width(), rect.Height(), background_dc_.get(), rect.left, rect.top,
                gfx::kSrcCopy);
  }
}

void ScreenManager::DrawElementsInRect(const gfx::Rect& rect, gfx::HDC dc) {
  if (!current_) return;
  auto overlaps = [&](Element* e) {
    if (Overlaps(e->x(), e->GetXSize(), rect.left, rect.right) && Overlaps(e->y(), e->GetYSize(), rect.top, rect.bottom)) {
      return true;
    }
    return Overlaps(e->x2(), e->GetXSize2(), rect.left, rect.right) &&
           Overlaps(e->y2(), e->GetYSize2(), rect.top, rect.bottom);
  };
  const auto& children = current_->children();
  for (size_t i = 0; i < children.size(); ++i) {
    Element* e = children[i].get();
    const bool over = overlaps(e);
    if (e == focused_) {
      if (over && e->IsVisible()) e->Draw(dc, ui::kDrawFocused);
    } else if (e->IsFocusable()) {
      if (e->IsVisible() && over) e->Draw(dc, e->IsEnabled() ? ui::kDrawNormal : ui::kDrawDisabled);
      else e->ResetRect();
    } else if (e->IsVisible() && over) {
      e->Draw(dc, e->IsEnabled() ? ui::kDrawNormal : ui::kDrawDisabled);
    }
    // Elements draw with their own clip; the rectangle is restored for the next.
    gfx::Region clip(rect);
    dc->SelectClipRegion(&clip);
  }
}

void ScreenManager::PaintBar(gfx::HDC dc) {
  const gfx::Rect bar{0, height_, width_, height_ + kBarHeight};
  gfx::FillRect(dc, bar, gfx::CreateSolidBrush(kBarBackground));
  gfx::LogFont lf;
  lf.height = 15;
  lf.weight = gfx::kFwBold;
  lf.quality = gfx::kAntialiasedQuality;
  lf.SetFaceName(u"Tahoma");
  gfx::HFont font = gfx::CreateFontIndirect(lf);
  gfx::HFont old = dc->SelectFont(font);
  dc->SetBkMode(gfx::kTransparent);
  auto label = [&](const ui::MenuBarButton& b, bool left) {
    if (b.text.IsEmpty()) return;
    gfx::Size s;
    gfx::GetTextExtentPoint(dc, b.text.View(), &s);
    dc->SetTextColor((b.state & ui::kButtonEnabled) ? kBarText : kBarGreyed);
    // A shown OK button takes the bar's right end; the right label moves left of it.
    const int32_t right = window_ && window_->ok_button_shown() ? window_->ok_button_rect().left - 6 : width_ - 10;
    const int32_t x = left ? 10 : right - s.cx;
    gfx::ExtTextOut(dc, x, height_ + (kBarHeight - s.cy) / 2, 0, nullptr, b.text.View());
  };
  label(menu_bar_.left, true);
  label(menu_bar_.right, false);
  dc->SelectFont(old);
}

void ScreenManager::PaintPopupMenu(gfx::HDC dc) {
  const std::vector<ui::MenuBarItem*> rows = PopupRows();
  if (rows.empty()) return;
  const int32_t menu_w = width_ * 2 / 3;
  const int32_t h = static_cast<int32_t>(rows.size()) * kPopupRow + 2;
  const gfx::Rect box{width_ - menu_w, height_ - h, width_, height_};
  gfx::FillRect(dc, box, gfx::CreateSolidBrush(gfx::Rgb(0xC8, 0xCE, 0xD6)));
  gfx::FillRect(dc, {box.left + 1, box.top + 1, box.right - 1, box.bottom - 1}, gfx::CreateSolidBrush(kMenuBackground));
  gfx::LogFont lf;
  lf.height = 15;
  lf.quality = gfx::kAntialiasedQuality;
  lf.SetFaceName(u"Tahoma");
  gfx::HFont old = dc->SelectFont(gfx::CreateFontIndirect(lf));
  dc->SetBkMode(gfx::kTransparent);
  for (size_t i = 0; i < rows.size(); ++i) {
    const ui::MenuBarItem* item = rows[i];
    const int32_t top = box.top + 1 + static_cast<int32_t>(i) * kPopupRow;
    if (item->separator) {
      gfx::FillRect(dc, {box.left + 8, top + kPopupRow / 2, box.right - 8, top + kPopupRow / 2 + 1},
                    gfx::CreateSolidBrush(gfx::Rgb(0xC8, 0xCE, 0xD6)));
      continue;
    }
    const bool selected = static_cast<int>(i) == popup_row_;
    if (selected) gfx::FillRect(dc, {box.left + 1, top, box.right - 1, top + kPopupRow}, gfx::CreateSolidBrush(kMenuSelected));
    dc->SetTextColor(!item->enabled ? kBarGreyed : (selected ? kBarText : kMenuText));
    ov::String text = item->text;
    if (item->checked) text = u"\u2713 " + text;
    if (!item->sub.empty()) text += u"  \u25B8";
    gfx::ExtTextOut(dc, box.left + 10, top + 3, 0, nullptr, text.View());
  }
  dc->SelectFont(old);
}

void ScreenManager::Paint(const gfx::Rect& rect) {
  gfx::Rect screen_part = gfx::IntersectRects(rect, {0, 0, width_, height_});
  gfx::HDC back = back_dc_.get();
  if (!screen_part.IsEmpty()) {
    gfx::Region clip(screen_part);
    if (!live_video_.IsEmpty()) {
      // The engine draws the live video itself; the copy leaves it alone.
      gfx::Region without;
      without.Combine(clip, gfx::Region(live_video_), gfx::kRgnDiff);
      clip = without;
    }
    back->SelectClipRegion(&clip);
    PaintBackground(screen_part, back);
    DrawElementsInRect(screen_part, back);
    back->SelectClipRegion(nullptr);
  }
  if (!window_) return;
  auto wdc = gfx::CreateWindowDC(window_->surface());
  if (!screen_part.IsEmpty()) {
    // The live video stays as the mixer drew it on the window.
    gfx::Region shown_part(screen_part);
    if (!live_video_.IsEmpty()) shown_part.Combine(gfx::Region(screen_part), gfx::Region(live_video_), gfx::kRgnDiff);
    wdc->SelectClipRegion(&shown_part);
    gfx::BitBlt(wdc.get(), screen_part.left, screen_part.top, screen_part.Width(), screen_part.Height(), back,
                screen_part.left, screen_part.top, gfx::kSrcCopy);
    wdc->SelectClipRegion(nullptr);
  }
  if (rect.bottom > height_) PaintBar(wdc.get());
  gfx::Rect shown = rect;
  if (popup_open_) {
    PaintPopupMenu(wdc.get());
    shown = {0, 0, width_, height_ + kBarHeight};
  }
  window_->Present(shown);
}

}  // namespace shell
