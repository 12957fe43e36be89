// ScreenManager: menus, focus and the history; popups, the splash, help
// hints and the menu state that options drive.
#include "shell/screen_manager.h"

#include <algorithm>

namespace shell {
namespace {

using ui::Element;
using ui::Menu;

}  // namespace

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
    // An open item group belongs to the menu left behind: it closes, as a
    // touch outside it would, so that it takes no touch on this one.
    if (Element* group = open_item_group_) {
      group->OnAction(ui::kActionItemGroupClose, ov::String(), 0);
      group->SetVisible(false);
    }
    capture_ = nullptr;
    open_item_group_ = nullptr;
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
    TriggerSequences(ui::kTriggerInit);
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
  // Under whatever the first paint draws.
  if (!after_rotation) DrawSplash(texts_.start_splash);
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
  TriggerSequences(ui::kTriggerInit);
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
  for (uint32_t i = 0; i <= 8; ++i) {
    current_->EnableAction(i == v, ui::kActionWizardSetting0 + static_cast<int32_t>(i), -1);
  }
  current_->CheckAction(*options_.GetOption(45) != 0, ui::kActionHelpOn, -1);
  if (current_->title() == ov::String(u"save_menu") && focused_) {
    static const int32_t kCodes[] = {ui::kActionMixSave, ui::kActionRenderMms, ui::kActionRenderEmail,
                                     ui::kActionRenderDevice, ui::kActionRenderBlog};
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

}  // namespace shell
