// ScreenManager: the element services of the mix screens (finding, enabling
// and checking items by action or attribute, the shared playback set, the
// pending file, the rotation flag, the window surface for the live video).
#include "platform/os/file.h"
#include "platform/os/pending_delete.h"
#include "shell/screen_manager.h"

namespace shell {
namespace {

ui::Element* Scope(ScreenManager* sm, ui::Element* element) {
  if (element) return element;
  if (sm->current_menu()) return sm->current_menu();
  return sm->menu_container();
}

}  // namespace

ui::Element* ScreenManager::FindElementByAction(ui::Element* element, int32_t code) {
  ui::Element* scope = Scope(this, element);
  return scope ? scope->FindByAction(code) : nullptr;
}

// The soft-key menus of the scope are its elements too: they carry the change
// to the menu bar's items.
void ScreenManager::EnableActionItems(bool on, ui::Element* element, int32_t code, int32_t depth) {
  if (ui::Element* scope = Scope(this, element)) scope->EnableAction(on, code, depth);
}

void ScreenManager::CheckActionItems(bool on, ui::Element* element, int32_t code, int32_t depth) {
  if (ui::Element* scope = Scope(this, element)) scope->CheckAction(on, code, depth);
}

void ScreenManager::EnableAttributeItems(bool on, ui::Element* element, const ov::String& value, int32_t depth) {
  if (ui::Element* scope = Scope(this, element)) scope->EnableIfAttribute(on, value, depth);
}

void ScreenManager::SetMixEngine(std::shared_ptr<engine::MixEngine> engine) { mix_engine_ = std::move(engine); }

ov::String ScreenManager::DataFolder() { return ov::FolderOf(options_.file_path()); }

gfx::HBitmap ScreenManager::WindowSurface() { return window_ ? window_->surface() : nullptr; }

void ScreenManager::PresentArea(const gfx::Rect& area) {
  if (window_) window_->Present(gfx::IntersectRects(area, {0, 0, width_, height_}));
}

uint64_t ScreenManager::SetPendingDeleteFile(const ov::String& path) {
  return path.IsEmpty() ? 0 : ov::AddPendingDelete(path);
}

ov::String ScreenManager::GetPendingTempFile() {
  const std::vector<ov::String> kept = ov::PendingDeletes();
  return kept.empty() ? ov::String() : kept.back();
}

}  // namespace shell
