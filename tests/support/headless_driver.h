#pragma once
// The headless test driver: starts the shell in this process on SDL's
// offscreen driver with the packed default skin, posts stylus, soft-key,
// key and Back events, lets the loop run until nothing is left to do, and
// saves or hashes what the window shows. Message boxes are answered by the
// driver and recorded.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "shell/app.h"

namespace engine {
class EngineTiming;
class MixEngine;
class VirtualTiming;
}  // namespace engine
namespace ov {
class WaveOutDevice;
}  // namespace ov

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
  // Settles every 10 ms until `done` holds; false when it did not within
  // `ms` milliseconds.
  bool SettleUntil(const std::function<bool()>& done, int ms = 60000);
  void Tap(int32_t x, int32_t y);
  // Stylus down at `from`, moves with the button held to each point of
  // `path`, up at the last point.
  void Drag(std::pair<int32_t, int32_t> from, const std::vector<std::pair<int32_t, int32_t>>& path);
  // Taps the middle of the element named name in the current menu.
  bool TapElement(const char16_t* name);
  void Key(wnd::Key key);
  void Command(uint32_t id);
  void Back();
  // Gives the screens a shared engine that plays on a virtual wave-out device
  // and keeps its time by that device's clock, so that sound and the replay
  // advance only as the test plays them (false without an engine to
  // replace); the audio editors' previews open virtual devices as well, and
  // the editors' preview engines are built on them.
  // Call it before entering the screen that uses the engine. AdvanceDevice
  // plays `frames` frames of the open devices (the engine's, the current
  // screen's audio editor's or media browser's and the live preview
  // engines'; false while none is open); `played`, when
  // given, gets every byte the last of them has played since it opened.
  bool UseVirtualWaveOut();
  bool AdvanceDevice(uint64_t frames, std::vector<uint8_t>* played = nullptr);
  // The same engine on devices `factory` makes, keeping the system's time:
  // sound plays as the device plays it, in real time.
  bool UseWaveOut(std::function<std::unique_ptr<ov::WaveOutDevice>()> factory);
  // Current menu's title.
  std::u16string Menu() const;

  // MD5 of the window surface (screen and bar).
  std::string SurfaceHash() const;
  std::string BackBufferHash() const;
  bool SavePng(const std::string& path) const;
  // The number of pixels of the surface that differ from the committed
  // picture tests/data/golden/<file> (-1 when it cannot be read or its size
  // differs); the surface is also saved in scratch_dir for a look. With
  // OVMIX_WRITE_GOLDEN set it writes the picture instead and answers 0.
  int DifferFromGolden(const std::string& file, const std::string& scratch_dir) const;

  // Message boxes shown so far (caption, text, buttons), and the answer the
  // next yes/no box gets (an OK box is answered OK).
  struct Box {
    std::u16string caption, text;
    uint32_t buttons;
  };
  const std::vector<Box>& boxes() const { return boxes_; }
  void AnswerBoxes(int answer) { answer_ = answer; }

 private:
  bool ReplaceEngine(std::function<std::unique_ptr<ov::WaveOutDevice>()> factory,
                     std::unique_ptr<engine::EngineTiming> timing);

  std::vector<Box> boxes_;
  std::vector<const char*> unset_;  // variables this driver set
  int answer_ = 0;
  bool ok_ = false;
  std::unique_ptr<shell::App> app_;
  engine::VirtualTiming* clock_ = nullptr;  // owned by the engine
  // Preview engines made on virtual devices; a clock is used only while its
  // engine is alive.
  struct Preview {
    std::weak_ptr<engine::MixEngine> engine;
    engine::VirtualTiming* clock;
  };
  std::vector<Preview> previews_;
};

}  // namespace ovtest
