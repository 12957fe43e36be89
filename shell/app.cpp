#include "shell/app.h"

#include <cstdio>
#include <cstdlib>

#include "engine/encoding_graph.h"
#include "engine/render_queue.h"
#include "platform/gfx/dc.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/library.h"
#include "platform/os/pending_delete.h"
#include "platform/os/process.h"
#include "screens/screens.h"
#include "shell/packages.h"
#include "shell/pak_archive.h"
#include "shell/render_mode.h"
#include "shell/xml_manager.h"
#include "ui/action_codes.h"
#include "ui/text_drawing.h"

namespace shell {
namespace {

constexpr char16_t kWindowClass[] = u"Zentyr Movie Mixer";

ov::String WithSlash(ov::String folder) {
  if (!folder.IsEmpty() && folder[folder.Length() - 1] != u'/') folder += u'/';
  return folder;
}

}  // namespace

bool CheckFramesource(const ov::String& application_folder) {
  return !engine::FindPluginFolder(application_folder).IsEmpty();
}

App::App(StartOptions options) : options_(std::move(options)) {
  app_folder_ = WithSlash(options_.application_folder.IsEmpty() ? ov::ApplicationFolder() : options_.application_folder);
}

App::~App() {
  manager_.reset();
  window_.reset();
}

bool App::InitInstance() {
  // WinMain has done so; an App started by another host (the tests' driver)
  // behaves the same.
  ov::FailWritesPastFileSizeLimit();
  screens::RegisterElements();
  const gfx::Size screen = wnd::Window::ScreenSizeFromEnvironment({240, 320});
  window_ = wnd::Window::Create(kWindowClass, screen.cx, screen.cy, ScreenManager::kBarHeight, 0,
                                [this](const wnd::Event& e) { MainWndProc(e); });
  if (!window_) return false;
  // No menu is shown yet: the OK button starts hidden, its style bit clear.
  window_->SetStyle(window_->style() & ~wnd::kStyleOkButton);
  window_->ShowOkButton(false);
  action_message_ = wnd::Window::RegisterMessage("CHECKFORACTION");
  const ov::String data = WithSlash(options_.data_folder.IsEmpty() ? ov::DataFolder() : options_.data_folder);
  manager_ = std::make_unique<ScreenManager>(screen.cx, screen.cy, data + u"user.opt", window_.get());
  manager_->set_application_folder(app_folder_);
  rotation_message_ = wnd::Window::RegisterMessage("Rotation is starting");
  paint_size_ = rotation_size_ = screen;
  CommonPackage().Open(app_folder_ + u"vex_common.pak");
  InstallPackages();
  ov::String reason;
  if (!LoadSkin(screen, &reason)) {
    // The parser's line and reason go beside the message: without them a
    // damaged skin cannot be told from a missing one.
    wnd::Window::ShowMessageBox(u"Error", u"The screen size of this device is not supported on this version\n" + reason);
    EndProcess(kExitStartFailed);
  }
  static const char16_t* const kFontPatterns[] = {u"*.ttf", u"*.ttc", u"*.fon", u"*.fnt"};
  for (const char16_t* pattern : kFontPatterns) ui::LoadFontFolder(manager_->skin_folder(), pattern, 0);
  if (!manager_->texts().title.IsEmpty()) window_->SetTitle(manager_->texts().title);
  if (options_.show_splash) manager_->ShowSplash(false);
  else manager_->ShowSplash(true);
  if (!options_.start_menu.IsEmpty()) manager_->JumpToMenu(options_.start_menu);
  window_->InvalidateAll();
  // A project named in OVMIX_LOAD opens once the first screen is up.
  if (std::optional<std::string> project = ov::GetEnvironmentValue("OVMIX_LOAD"); project && !project->empty()) {
    manager_->QueueAction(nullptr, ui::kActionMixLoad, ov::String::FromUtf8Lossy(*project), 1);
  }
  return true;
}

bool App::LoadSkin(gfx::Size size, ov::String* reason) {
  const ov::String package = ov::String::Format(u"Vex_%d_%d.pak", size.cx, size.cy);
  XmlManager loader(manager_.get(), app_folder_, package);
  if (loader.LoadShell() || loader.LoadShell()) return true;
  *reason = loader.last_error();
  reason->Replace(u"\r\n", u"\n");
  reason->Trim();
  return false;
}

void App::OnPaint(const gfx::Rect& rect) {
  const gfx::Size now{window_->screen_width(), window_->screen_height()};
  if (now.cx != paint_size_.cx || now.cy != paint_size_.cy ||
      (!rotating_ && (now.cx != rotation_size_.cx || now.cy != rotation_size_.cy))) {
    // The screen turned: the old picture does not fit the new size. Black
    // until the rotation has built the screens for it (which waits while a
    // message box turned with the screen is open).
    const gfx::Rect all = window_->surface()->bounds();
    auto dc = gfx::CreateWindowDC(window_->surface());
    gfx::FillRect(dc.get(), all, gfx::CreateSolidBrush(gfx::Rgb(0, 0, 0)));
    paint_size_ = now;
    window_->Present(all);
    return;
  }
  if (manager_) manager_->Paint(rect);
}

void App::MainWndProc(const wnd::Event& e) {
  ScreenManager* sm = manager_.get();
  switch (e.message) {
    case wnd::Message::kCreate:
      break;
    case wnd::Message::kDestroy: {
      // A take that was not saved keeps the program running when the user
      // says so.
      if (sm && !sm->MayQuit()) break;
      ov::Event cancel;
      if (cancel.Open(u"Cancel Encoding")) cancel.Set();
      if (sm) sm->options().SaveOptionsLater(true);
      EndProcess(0);
    }
    case wnd::Message::kActivate:
      if (!sm) break;
      if (e.wparam == 0) {
        sm->StopTimers();
        sm->DoAction(ui::kActionDeactivated, ov::String(), 1);
        if (sm->keep_awake()) {
          sm->SetKeepAwake(false);
          keep_awake_restore_ = true;
        }
      } else {
        if (keep_awake_restore_) {
          sm->SetKeepAwake(true);
          keep_awake_restore_ = false;
        }
        // Every file handed to the messaging program; one that cannot be
        // deleted yet stays for the next activation or the end.
        ov::DeleteAllPending();
        sm->InvalidateAll();
        sm->StartTimers(32);
      }
      break;
    case wnd::Message::kPaint:
      OnPaint(e.rect);
      break;
    case wnd::Message::kCommand:
      if (!sm) break;
      if (e.wparam == wnd::kCommandOk) {
        // The OK button (exactly this word; other commands with low word 1
        // are not it) steps back like the Back key.
        sm->GoBack(false);
      } else if (e.wparam == 40002) {
        MainWndProc(wnd::Event(wnd::Message::kDestroy));
      } else if (e.wparam == ui::kCommandLeftSoftkey || e.wparam == ui::kCommandRightSoftkey) {
        sm->OnSoftkeyButton(e.wparam);
      } else if (e.wparam >= 40006 && e.wparam <= 40025) {
        sm->OnSoftkey(static_cast<int32_t>(e.wparam) - 39960);
      }
      break;
    case wnd::Message::kTimer:
      if (sm) sm->OnTimer(e.wparam);
      break;
    case wnd::Message::kStylusDown:
      if (sm) sm->RouteStylusDown(e.x, e.y);
      break;
    case wnd::Message::kStylusMove:
      if (sm && e.wparam) sm->RouteStylusMove(e.x, e.y);
      break;
    case wnd::Message::kStylusUp:
      if (sm) sm->RouteStylusUp(e.x, e.y);
      break;
    case wnd::Message::kDoubleTap:
      if (sm) sm->RouteDoubleTap(e.x, e.y);
      break;
    case wnd::Message::kBackKey:
      if (!sm) break;
      if (sm->popup_menu_open()) sm->OnSoftkeyButton(ui::kCommandRightSoftkey);
      else sm->GoBack(false);
      break;
    case wnd::Message::kKey: {
      if (!sm) break;
      const auto key = static_cast<wnd::Key>(e.wparam);
      if (key == wnd::Key::kRotate) {
        // The turn replaces the screen manager: sm is not used after it.
        window_->Rotate();
        break;
      }
      int32_t code = 0;
      switch (key) {
        case wnd::Key::kLeft: code = 0; break;
        case wnd::Key::kRight: code = 1; break;
        case wnd::Key::kUp: code = 2; break;
        case wnd::Key::kDown: code = 3; break;
        case wnd::Key::kEnter: code = 4; break;
        default: code = 5 + static_cast<int32_t>(e.wparam) - static_cast<int32_t>(wnd::Key::kDigit0); break;
      }
      sm->OnKey(code);
      break;
    }
    case wnd::Message::kPosted:
      if (sm && e.wparam == action_message_) sm->ProcessQueuedActions();
      break;
    case wnd::Message::kRaise:
      break;
    case wnd::Message::kSize:
    case wnd::Message::kSettingChange:
      OnRotation();
      break;
  }
}

int WinMain(int argc, char** argv) {
  // A write past the file-size limit fails as on a full disk, in both
  // modes: a render deletes its file and prints the reason, a save keeps
  // the old project and says why, a cache that cannot be written refuses
  // its clip. The signal would end the program without a word.
  ov::FailWritesPastFileSizeLimit();
  const ov::String app_folder = ov::ApplicationFolder();
  MediaPackage().Open(app_folder + u"media.pak");
  if (argc > 1) {
    // Render mode: a second instance started with -p, -o and -e, no window.
    // Its outcome goes through the render queue; the process ends with 0
    // whatever happens, unless the outcome could not be written there (1).
    // Each failure prints one line on stderr for whoever started it by hand.
    screens::RegisterElements();
    // The recorded paths of overlays, overlay videos and effect masks name
    // entries of the media package under the application folder, as they do
    // when the mix plays: without the package they would be sought as files.
    InstallPackages();
    SetPackageFolders(ov::String(), app_folder);
    ov::String why;
    RunCommandLineRender(ov::CommandLineFromArguments(argc, argv), &why);
    if (!why.IsEmpty()) std::fprintf(stderr, "%s\n", why.ToUtf8Lossy().c_str());
    return engine::RenderQueue::ResultLost() ? 1 : 0;
  }
  ov::Event portrait, landscape;
  portrait.Create(false, false, u"SCREEN ROTATE TO PORTRAIT");
  landscape.Create(false, false, u"SCREEN ROTATE TO LANDSCAPE");

  wnd::InstanceLock lock;
  const ov::String lock_path = WithSlash(ov::DataFolder()) + u"ovmix.lock";
  if (!lock.Acquire(lock_path)) {
    wnd::InstanceLock::SignalRunning(lock_path);
    return 0;
  }
  ov::CleanTempFolder();
  if (!CheckFramesource(app_folder)) {
    wnd::Window::ShowMessageBox(u"Error", u"Error cannot load framesource!");
    return kExitStartFailed;
  }
  StartOptions options;
  if (const char* menu = std::getenv("OVMIX_START_MENU")) options.start_menu = ov::String::FromUtf8Lossy(menu);
  App app(options);
  if (!app.InitInstance()) return kExitStartFailed;
  lock.ListenForOthers();
  return app.window()->Run();
}

}  // namespace shell
