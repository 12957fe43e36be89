// Screen rotation: when the device turns between portrait and landscape the
// whole skin is replaced by the package made for the new size. What the user
// sees (every element's state, the current menu, an open popup message box,
// the history) goes to "Rotation.ser" in the data folder, the mixer's project
// to "rotate.mix" beside it; the screen manager is destroyed, a new one is
// built from the new package and the state is read back.
//
// Thread: UI thread.
#include <vector>

#include "platform/os/archive.h"
#include "platform/os/file.h"
#include "platform/ui/dialogs.h"
#include "shell/app.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"

namespace shell {
namespace {

// The history entry of a menu shown without focus.
constexpr char16_t kNoFocus[] = u"---";

}  // namespace

// ---- the screen manager's state ----

void ScreenManager::StopForRotation() {
  // Live mixing, a preview and playback stop: their engines go with this
  // screen manager.
  if (container_) container_->OnAction(ui::kActionBeforeRotation, ov::String(), -1);
  DoAction(ui::kActionEditorStop, ov::String(), 1);
  if (container_) container_->OnAction(ui::kActionMixStop, ov::String(), -1);
  DoAction(ui::kActionPlayStop, ov::String(), 1);
  // A decompression in progress is cancelled and its progress screen left,
  // so that the state saved is the screen under it.
  if (current_) {
    ui::Element* progress = FindElementByName(current_, u"DECOMPRESSION_PROGRESS", false);
    if (progress && progress->IsVisible()) {
      DoAction(ui::kActionCancelDecompress, ov::String(), 1);
      DoAction(ui::kActionPreviousMenu, ov::String(), 1);
    }
  }
}

void ScreenManager::SaveScreenState(ov::Archive* archive) {
  if (container_) container_->SaveState(archive);
  archive->WriteString(current_ ? current_->title().View() : std::u16string_view());
  const bool popup = focused_ && focused_->GetType() == ui::kTypePopupMessageBox;
  archive->WriteU32(popup ? 1 : 0);
  if (popup) archive->WriteString(focused_->title().View());
  SaveHistory(archive);
}

void ScreenManager::LoadScreenState(ov::Archive* archive) {
  if (!container_) return;
  container_->LoadState(archive);
  ov::String name;
  archive->ReadString(&name);
  if (ui::Menu* menu = container_->FindMenu(name)) ShowMenu(menu, -1, true, false);
  focused_ = nullptr;
  focus_position_ = -1;
  uint32_t popup = 0;
  if (archive->ReadU32(&popup) && popup != 0) {
    ov::String popup_name;
    if (archive->ReadString(&popup_name)) DoAction(ui::kActionShowPopup, popup_name, 1);
  }
  LoadHistory(archive);
  InvalidateAll();
}

void ScreenManager::SaveHistory(ov::Archive* archive) {
  archive->WriteU32(static_cast<uint32_t>(history_.size()));
  for (const HistoryEntry& entry : history_) {
    archive->WriteString(entry.menu ? entry.menu->title().View() : std::u16string_view());
    const ui::Element* focus = nullptr;
    if (entry.menu && entry.focus >= 0 && entry.focus < static_cast<int>(entry.menu->children().size())) {
      focus = entry.menu->children()[static_cast<size_t>(entry.focus)].get();
    }
    // An unnamed element cannot be found again by its name: no focus.
    if (focus && !focus->title().IsEmpty()) archive->WriteString(focus->title().View());
    else archive->WriteString(kNoFocus);
  }
}

void ScreenManager::LoadHistory(ov::Archive* archive) {
  history_.clear();
  uint32_t count = 0;
  if (!container_ || !archive->ReadU32(&count)) return;
  // The count comes from a file: the entries end where the file does.
  for (uint32_t i = 0; i < count; ++i) {
    ov::String menu_name, focus_name;
    if (!archive->ReadString(&menu_name) || !archive->ReadString(&focus_name)) return;
    ui::Menu* menu = container_->FindMenu(menu_name);
    int focus = -1;
    if (focus_name != ov::String(kNoFocus)) {
      ui::Element* element = container_->FindDescendant(focus_name, true);
      if (!element) wnd::MessageBox(focus_name, u"Error in history!", wnd::kBoxOk);
      else if (menu) focus = menu->IndexOf(element);
    }
    // A menu the new skin lacks cannot be gone back to: the entry is dropped.
    if (menu) history_.push_back({menu, focus});
  }
}

// ---- the rotation handler ----

void App::OnRotation() {
  ov::File file;
  bool saved = false;
  bool tried = false;
  // The screen may turn again while the skin is rebuilt: each further change
  // rebuilds it from the same saved state.
  for (;;) {
    const gfx::Size now{window_->screen_width(), window_->screen_height()};
    if (now.cx == rotation_size_.cx && now.cy == rotation_size_.cy) break;
    rotation_size_ = now;
    window_->Broadcast(rotation_message_);
    if (!saved && !tried) {
      tried = true;
      window_->ShowWaitCursor(true);
      rotating_ = true;
      if (manager_) manager_->SetRotationInProgress(true);
      saved = SaveRotationState(&file);
    }
    if (saved) ReloadSkinAfterRotation(&file);
  }
  if (!saved) {
    // Nothing was saved: the old screens stay, and nothing may go on
    // believing a rotation runs (nor show the wait cursor).
    rotating_ = false;
    if (manager_) manager_->SetRotationInProgress(false);
    window_->ShowWaitCursor(false);
    if (tried) window_->InvalidateAll();
    return;
  }
  file.Close();
  ScreenManager* sm = manager_.get();
  if (ui::Menu* root = sm->menu_container()) root->OnAction(ui::kActionAfterRotation, ov::String(), -1);
  sm->DoAction(ui::kActionMenuShown, ov::String(), 1);
  sm->RefreshMenuState();
  rotating_ = false;
  sm->SetRotationInProgress(false);
  window_->ShowWaitCursor(false);
  sm->InvalidateAll();
}

bool App::SaveRotationState(ov::File* file) {
  if (!manager_) return false;
  const ov::String folder = manager_->DataFolder();
  // The data folder may not exist yet on a first run.
  if (!folder.IsEmpty() && !ov::FolderExists(folder)) ov::CreateFolderTree(folder);
  const ov::String path = folder + u"Rotation.ser";
  if (!file->Open(path, ov::kGenericRead | ov::kGenericWrite, ov::kShareNone, ov::CreateMode::kCreateAlways)) {
    return false;
  }
  manager_->StopForRotation();
  ov::Archive archive;
  manager_->SaveScreenState(&archive);
  const std::vector<uint8_t>& bytes = archive.Bytes();
  uint32_t written = 0;
  const bool ok = file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) &&
                  written == bytes.size() && file->Flush();
  manager_->options().SaveIfPending();
  if (!ok) file->Close();
  return ok;
}

void App::ReloadSkinAfterRotation(ov::File* file) {
  const ov::String options_path = manager_->options().file_path();
  // The old manager saves the options when due, stops its timers and frees
  // its back buffer; the new one reads the options again and makes a back
  // buffer of the new size.
  manager_.reset();
  manager_ = std::make_unique<ScreenManager>(rotation_size_.cx, rotation_size_.cy, options_path, window_.get());
  manager_->set_application_folder(app_folder_);
  manager_->SetRotationInProgress(true);
  ov::String reason;
  if (!LoadSkin(rotation_size_, &reason)) {
    wnd::Window::ShowMessageBox(u"XML Manager", u"Failed parsing XML");
    EndProcess(0);
  }
  if (!manager_->texts().title.IsEmpty()) window_->SetTitle(manager_->texts().title);
  manager_->ShowSplash(true);
  RestoreRotationState(file);
}

void App::RestoreRotationState(ov::File* file) {
  uint64_t size = 0;
  std::vector<uint8_t> bytes;
  if (file->Seek(0, ov::SeekFrom::kBegin) && file->GetSize(&size)) {
    bytes.resize(static_cast<size_t>(size));
    uint32_t got = 0;
    if (!file->Read(bytes.data(), static_cast<uint32_t>(size), &got)) got = 0;
    bytes.resize(got);
  }
  ov::Archive archive(std::move(bytes));
  manager_->LoadScreenState(&archive);
}

}  // namespace shell
