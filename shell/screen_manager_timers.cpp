// ScreenManager: timers 101 (options), 102 (idle count, keep-awake, help
// hints) and 104 (element ticks).
#include "shell/screen_manager.h"

#include "platform/os/thread.h"

namespace shell {
namespace {

using ui::Element;
using ui::Menu;

}  // namespace

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
      if (keep_awake_ && window_) window_->KeepAwake(true);
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

void ScreenManager::TriggerSequences(int32_t code) {
  if (!current_) return;
  const uint32_t now = ov::GetTickCount();
  for (const auto& s : current_->sequences()) s->OnTrigger(code, now);
}

void ScreenManager::StepSequences() {
  if (!current_) return;
  const uint32_t now = ov::GetTickCount();
  // Index loop: a step only moves and repaints items, but the menu may be
  // left by a handler it reaches.
  Menu* menu = current_;
  for (size_t i = 0; i < menu->sequences().size(); ++i) {
    ui::Sequence* s = menu->sequences()[i].get();
    if (s->IsRunning() && s->IsDue(now)) s->Step(menu->children(), now);
  }
}

}  // namespace shell
