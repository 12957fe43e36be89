#pragma once
// ScreenManager: the one application-shell object. It holds the menu tree
// built from the skin, the current menu, the focus and the history, routes
// stylus, soft-key and keyboard input, drives the element ticks from the
// window timers, paints the current menu through the back buffer, runs the
// action dispatcher and the action queue, and owns the options store and the
// help hints. Elements reach it through ui::UiHost.
//
// Thread: UI thread, except QueueAction (any thread).

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/mix_engine.h"
#include "platform/gfx/dc.h"
#include "platform/ui/window.h"
#include "shell/user_options.h"
#include "ui/help_tips.h"
#include "ui/menu.h"
#include "ui/softkey_bar.h"
#include "ui/ui_host.h"

namespace shell {

// An action handed from any thread to the UI thread.
struct QueuedAction {
  ui::Element* target = nullptr;  // must stay alive until drained
  int32_t code = 0;
  ov::String parameter;
  int32_t depth = 0;
};

struct HistoryEntry {
  ui::Menu* menu = nullptr;
  int focus = -1;  // position in the menu's child list, -1 none
};

// Timer identifiers.
enum : uint32_t { kTimerOptions = 101, kTimerIdle = 102, kTimerTick = 104 };

class ScreenManager : public ui::UiHost {
 public:
  // Height of the soft-key bar drawn below the screen.
  static constexpr int32_t kBarHeight = 26;

  // options_path: where "user.opt" is kept. window may be null (no screen).
  ScreenManager(int32_t width, int32_t height, const ov::String& options_path, wnd::Window* window);
  ~ScreenManager() override;
  ScreenManager(const ScreenManager&) = delete;
  ScreenManager& operator=(const ScreenManager&) = delete;

  UserOptions& options() { return options_; }
  ui::HelpTips& help() { return help_; }

  // Skin state written by the skin loader.
  void SetMenuContainer(std::unique_ptr<ui::Menu> container);
  ui::Menu* menu_container() const { return container_.get(); }
  void set_skin_folder(const ov::String& folder) { skin_folder_ = folder; }
  const ov::String& skin_folder() const { return skin_folder_; }
  void SetPaletteColour(const ov::String& name, const ov::String& value);
  uint32_t palette(int i) const { return palette_[i]; }
  ui::TextStyle& text_style() { return style_; }
  struct ShellTexts {
    ov::String author, startup, copyright, title, version = u"0.0", start_splash, shutdown_splash, date_format;
    int32_t verbose_level = 0;
    uint32_t language_id = 0;
  };
  ShellTexts& texts() { return texts_; }

  // Navigation.
  void ShowMenu(ui::Menu* menu, int focus, bool no_history, bool overlay);
  bool JumpToMenu(const ov::String& name) override;
  bool GoBack(bool force) override;
  void OpenPopup(ui::Element* element) override;
  void ClosePopup(ui::Element* element) override;
  void ShowSubMenu(ui::Element* element);
  void SetFocus(ui::Element* element) override;
  bool IsMenuInHistory(ui::Menu* menu) const override;
  void ShowSplash(bool after_rotation);
  void ShowNextHelpTip();
  void RefreshMenuState();
  void OnOptionChanged(bool is_string, int index);
  void UpdateEffectControls() override;

  // Dispatcher and queue.
  int DoAction(int32_t code, const ov::String& parameter, int32_t depth) override;
  int QueueAction(ui::Element* target, int32_t code, const ov::String& parameter, int32_t depth) override;
  int ProcessQueuedActions();
  int SendAction(ui::Element* element, int32_t code, const ov::String& parameter);
  uint32_t action_message() const { return action_message_; }
  // Before the program ends (ACTION_QUIT, the window closed): asks the
  // mixer, which asks the user when a take that was not saved would be
  // lost; false when the user keeps it and the program goes on.
  bool MayQuit();

  // Element services.
  ui::Element* FindElementByName(ui::Menu* menu, const ov::String& name, bool recurse) override;
  ui::Element* FindElementByType(ui::Element* element, int32_t type, int32_t depth) override;
  ui::Element* GetFocusedSelection() override;
  ui::Element* ElementAtPoint(int32_t x, int32_t y) override;
  void SetPressedElement(ui::Element* element) override { pressed_ = element; }
  ui::Element* GetPressedElement() override { return pressed_; }
  void SetOpenItemGroup(ui::Element* group) override { open_item_group_ = group; }
  void SetStylusCapture(ui::Element* element) override { capture_ = element; }
  void InvalidateArea(const gfx::Rect& area) override;
  void InvalidateAll() override;
  bool LookupPaletteColour(const ov::String& text, uint32_t* colour) override;
  ui::TextStyle GetTextStyle() override { return style_; }
  ov::String SkinFolder() override { return skin_folder_; }
  gfx::Size ScreenSize() override { return {width_, height_}; }
  int StoreOption(const ov::String& key, const ov::String& text) override;
  bool ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) override;
  void SaveOptionsLater() override { options_.SaveOptionsLater(false); }
  ui::MenuBar* GetMenuBar() override { return &menu_bar_; }
  // Keep-awake: while on, timer 102 keeps the display from blanking; off
  // lets it blank again at once.
  void SetKeepAwake(bool on) override;
  bool keep_awake() const { return keep_awake_; }
  void SetLiveVideoArea(int32_t x, int32_t y, int32_t w, int32_t h) override;
  const gfx::Rect& live_video_area() const { return live_video_; }
  // The mix screens' services (screen_manager_services.cpp).
  ui::Menu* RootMenu() override { return container_.get(); }
  ui::Menu* CurrentMenu() override { return current_; }
  ui::Element* FocusedElement() override { return focused_; }
  ui::Element* FindElementByAction(ui::Element* element, int32_t code) override;
  void EnableActionItems(bool on, ui::Element* element, int32_t code, int32_t depth) override;
  void CheckActionItems(bool on, ui::Element* element, int32_t code, int32_t depth) override;
  void EnableAttributeItems(bool on, ui::Element* element, const ov::String& value, int32_t depth) override;
  void SetMixEngine(std::shared_ptr<engine::MixEngine> engine) override;
  engine::MixEngine* GetMixEngine() override { return mix_engine_.get(); }
  // The files handed to the messaging program: kept process-wide
  // (ov::AddPendingDelete), since a turn replaces this object while the
  // messaging program may still read them; deleted on the next activation
  // (App), when that program has ended (Mixer) and when the process ends.
  uint64_t SetPendingDeleteFile(const ov::String& path) override;
  ov::String ApplicationFolder() override { return application_folder_; }
  void set_application_folder(const ov::String& folder) { application_folder_ = folder; }
  ov::String GetPendingTempFile() override;
  bool RotationInProgress() override { return rotation_in_progress_; }
  void SetRotationInProgress(bool on) { rotation_in_progress_ = on; }
  void RequestHelpTip(int n) override { help_.RequestTip(n); }
  uint32_t* NumericOption(int n) override { return options_.GetOption(n); }
  ov::String* StringOption(int n) override { return options_.GetStringOption(n); }
  ov::String DataFolder() override;
  gfx::HBitmap WindowSurface() override;
  void PresentArea(const gfx::Rect& area) override;

  // Screen rotation (screen_manager_rotation.cpp). StopForRotation stops
  // live mixing, previews and a decompression before the state is written.
  void StopForRotation();
  // What the user sees: every element's state, the current menu, an open
  // popup message box and the history.
  void SaveScreenState(ov::Archive* archive);
  void LoadScreenState(ov::Archive* archive);
  // The history, newest first: the count, then per entry the menu's name and
  // the focused element's name ("---" without focus).
  void SaveHistory(ov::Archive* archive);
  void LoadHistory(ov::Archive* archive);

  // Timers and input.
  void StartTimers(int rate);
  void StopTimers();
  void OnTimer(uint32_t id);
  void RouteStylusDown(int32_t x, int32_t y);
  void RouteStylusUp(int32_t x, int32_t y);
  void RouteStylusMove(int32_t x, int32_t y);
  void RouteDoubleTap(int32_t x, int32_t y);
  void OnSoftkey(int32_t code);
  // Keyboard: direction codes 0-3, 4 (Enter), 5-14 (digits).
  void OnKey(int32_t code);
  // The soft-key bar: a tap or F1/F2 on a button (40004, 40005).
  void OnSoftkeyButton(uint32_t command);
  bool popup_menu_open() const { return popup_open_; }

  // Painting.
  void Paint(const gfx::Rect& rect);
  void PaintBackground(const gfx::Rect& rect, gfx::HDC dc);
  void DrawElementsInRect(const gfx::Rect& rect, gfx::HDC dc);
  gfx::DeviceContext* back_buffer() { return back_dc_.get(); }
  // Counts full repaints of the back buffer's background (tests).
  int background_loads() const { return background_loads_; }

  ui::Menu* current_menu() const { return current_; }
  ui::Element* focused() const { return focused_; }
  ui::Element* stylus_capture() const { return capture_; }
  const std::deque<HistoryEntry>& history() const { return history_; }
  uint32_t idle_counter() const { return idle_counter_; }
  wnd::Window* window() const { return window_; }

 private:
  // Height of a row of the soft-key bar's popup menu.
  static constexpr int32_t kPopupRow = 22;

  static bool IsOverlay(ui::Menu* m) { return m && m->background_image().IsEmpty(); }
  // Popup message boxes and drop-down menus, which OpenPopup and ClosePopup
  // handle and which take the stylus while focused.
  static bool IsPopupType(const ui::Element* e);
  // A skin picture's path: the skin folder joined with the name.
  ov::String SkinPath(const ov::String& name) const;
  // Draws a skin picture fitted over the whole screen straight into the
  // window (the start and shutdown splashes); nothing for an empty name.
  void DrawSplash(const ov::String& name);
  void PushHistory();
  bool PopHistory(HistoryEntry* entry);
  void DisableDisabledItems();
  // Passes a trigger code to every sequence of the current menu. Codes 0
  // (menu shown), 1, 4 and 5 (focus moves by key) have senders; 2 (idle) and
  // 3 (exit) have none yet.
  void TriggerSequences(int32_t code);
  // Steps every running, due sequence of the current menu, in list order.
  void StepSequences();
  void TickElements();
  void PaintBar(gfx::HDC dc);
  void PaintPopupMenu(gfx::HDC dc);
  void MoveFocus(int32_t code);
  std::vector<ui::MenuBarItem*> PopupRows();

  int32_t width_, height_;
  wnd::Window* window_;
  UserOptions options_;
  ui::HelpTips help_;
  std::unique_ptr<ui::Menu> container_;
  std::vector<std::unique_ptr<ui::Menu>> retired_containers_;
  uint32_t palette_[10] = {};
  ui::TextStyle style_;
  ShellTexts texts_;
  ov::String skin_folder_;
  bool keep_awake_ = false;
  ui::Menu* current_ = nullptr;
  ui::Element* focused_ = nullptr;
  int focus_position_ = -1;
  ui::Menu* background_menu_ = nullptr;
  std::unique_ptr<gfx::DeviceContext> background_dc_;
  gfx::HBitmap background_bitmap_;
  int background_loads_ = 0;
  ui::Element* capture_ = nullptr;
  ui::Element* pressed_ = nullptr;
  ui::Element* open_item_group_ = nullptr;
  bool stylus_down_ = false;
  uint32_t action_message_ = 0;
  ov::String application_folder_;
  uint32_t idle_counter_ = 0;
  bool idle_armed_ = true;
  bool inhibit_back_ = false;
  std::deque<HistoryEntry> history_;  // front is the newest
  std::mutex queue_mutex_;
  std::deque<QueuedAction> queue_;
  gfx::Rect live_video_;
  ov::String pending_popup_;
  std::unique_ptr<gfx::DeviceContext> back_dc_;
  gfx::HBitmap back_bitmap_;
  ui::MenuBar menu_bar_;
  bool popup_open_ = false;
  int popup_row_ = -1;
  std::vector<int> popup_path_;  // open sub-menu index, when any
  bool rotation_in_progress_ = false;
  // Last member: the engine's threads stop before anything else goes.
  std::shared_ptr<engine::MixEngine> mix_engine_;
};

// The one screen manager; null when none stands.
ScreenManager* TheScreenManager();
void SetTheScreenManager(ScreenManager* manager);

}  // namespace shell
