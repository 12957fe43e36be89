#pragma once
// The program's entry and its one window: WinMain chooses between the
// interactive start and the render mode, refuses a second interactive
// instance, prepares the folders and packages, builds the window and the
// screen manager (InitInstance) and runs the message loop; MainWndProc turns
// window messages into screen-manager calls.
//
// Thread: UI thread.

#include <memory>

#include "platform/os/file.h"
#include "platform/os/ov_string.h"
#include "platform/ui/window.h"
#include "shell/screen_manager.h"

namespace shell {

struct StartOptions {
  // Where the packages and plug-ins are looked for (ends with '/');
  // empty: the executable's folder.
  ov::String application_folder;
  // Where "user.opt" and the instance lock live (ends with '/'); empty: the
  // data folder.
  ov::String data_folder;
  bool check_framesource = true;
  bool show_splash = true;
  // A menu shown once the start is done (benchmarks and tests; the program
  // takes it from $OVMIX_START_MENU); empty: the main menu after the splash.
  ov::String start_menu;
};

// The interactive program, owned by WinMain (or by a test).
class App {
 public:
  explicit App(StartOptions options);
  ~App();

  // InitInstance: window, screen manager, skin, back buffer, splash.
  bool InitInstance();
  // MainWndProc.
  void MainWndProc(const wnd::Event& event);

  wnd::Window* window() const { return window_.get(); }
  ScreenManager* screen_manager() const { return manager_.get(); }
  const ov::String& application_folder() const { return app_folder_; }
  // Set while a rotation saves the screens and builds them again.
  bool rotating() const { return rotating_; }
  // The message broadcast when a rotation starts.
  uint32_t rotation_message() const { return rotation_message_; }

 private:
  void OnPaint(const gfx::Rect& rect);
  // Loads the skin package for the size into the screen manager, twice at
  // most; false when both attempts failed (*reason: the parser's words).
  bool LoadSkin(gfx::Size size, ov::String* reason);
  // Rotation (screen_manager_rotation.cpp): on kSize and kSettingChange.
  void OnRotation();
  // Opens "Rotation.ser" in the data folder and writes the screens' state.
  bool SaveRotationState(ov::File* file);
  // A new screen manager and skin for the new size, the state read back.
  void ReloadSkinAfterRotation(ov::File* file);
  void RestoreRotationState(ov::File* file);

  StartOptions options_;
  ov::String app_folder_;
  std::unique_ptr<wnd::Window> window_;
  std::unique_ptr<ScreenManager> manager_;
  uint32_t action_message_ = 0;
  uint32_t rotation_message_ = 0;
  bool keep_awake_restore_ = false;
  // The screen size the paint handler last saw; a change only blackens.
  gfx::Size paint_size_;
  // The rotation handler's own copy: a paint that came first and took the
  // new size into paint_size_ must not hide the turn from the handler.
  gfx::Size rotation_size_;
  bool rotating_ = false;
};

// The exit code of a start that failed (no plug-in, no window, no skin); the
// error has gone to stderr and, where the display allows, a message box.
inline constexpr int kExitStartFailed = 1;

// The whole start-up; returns the process's exit code.
int WinMain(int argc, char** argv);

// Whether the framesource plug-in loads from the application folder's
// ../lib or beside the executable.
bool CheckFramesource(const ov::String& application_folder);

}  // namespace shell
