// ScreenManager: the action dispatcher and the action queue.
#include "shell/screen_manager.h"

#include "shell/packages.h"
#include "ui/action_keywords.h"
#include "ui/screen_links.h"

namespace shell {
namespace {

using ui::Element;
using ui::Menu;

}  // namespace

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
      if (!MayQuit()) return 0;
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
    case ui::kActionMixerAcceptWizard:
    case ui::kActionEditorAcceptChanges:
    case ui::kActionEditorAcceptEffect:
    case ui::kActionEditorAcceptKenBurns:
      GoBack(false);
      if (current_) current_->OnAction(code, ov::String(), 1);
      return 0;
    case ui::kActionAcceptEffect:
    case ui::kActionAllChannelsAcceptEffect:
      GoBack(false);
      if (focused_) focused_->OnAction(code, ov::String(), 0);
      return 0;
    case ui::kActionMixClear:
    case ui::kActionMixChanged:
    case ui::kActionMixLoad:
    case ui::kActionMixSave:
    case ui::kActionRenderMms:
    case ui::kActionRenderEmail:
    case ui::kActionRenderBlog:
    case ui::kActionRenderDevice:
    case ui::kActionCancelRender:
    case ui::kActionRenderDone:
    // A failed render goes to the mixer as the finished one does: it
    // arrives while "save_menu" is current, which would keep it, and the
    // render would never end.
    case ui::kActionRenderFailed: {
      if (code >= ui::kActionMixSave && code <= ui::kActionRenderDevice) DoAction(ui::kActionPlayStop, ov::String(), 1);
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

bool ScreenManager::MayQuit() {
  Menu* root = container_ ? container_.get() : current_;
  Element* mixer = root ? root->FindByType(ui::kTypeMixer, true) : nullptr;
  ui::MixerLink* link = mixer ? mixer->AsMixer() : nullptr;
  return !link || link->MayQuit();
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

}  // namespace shell
