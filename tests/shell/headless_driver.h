#pragma once
// The headless test driver: starts the shell in this process on SDL's
// offscreen driver with the packed default skin, posts stylus, soft-key,
// key and Back events, lets the loop run until nothing is left to do, and
// saves or hashes what the window shows.

#include <cstdint>
#include <memory>
#include <string>

#include "shell/app.h"

namespace ovtest {

class HeadlessDriver {
 public:
  // app_folder: where the packages are (the build's bin folder by default);
  // data_folder: a scratch folder for "user.opt".
  explicit HeadlessDriver(const std::string& data_folder, bool splash = false, const std::string& app_folder = "");
  ~HeadlessDriver();

  bool ok() const { return ok_; }
  shell::App& app() { return *app_; }
  shell::ScreenManager& sm() { return *app_->screen_manager(); }
  wnd::Window& window() { return *app_->window(); }

  // Runs the loop until no event, queued action or paint is pending.
  void Settle();
  void Tap(int32_t x, int32_t y);
  // Taps the middle of the element named name in the current menu.
  bool TapElement(const char16_t* name);
  void Key(wnd::Key key);
  void Command(uint32_t id);
  void Back();
  // Current menu's title.
  std::u16string Menu() const;

  // MD5 of the window surface (screen and bar).
  std::string SurfaceHash() const;
  std::string BackBufferHash() const;
  bool SavePng(const std::string& path) const;

 private:
  bool ok_ = false;
  std::unique_ptr<shell::App> app_;
};

}  // namespace ovtest
