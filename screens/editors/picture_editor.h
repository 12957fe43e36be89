#pragma once
// PictureEditor: what the photo editor (ImageEditor) and the pan-and-zoom
// editor (PanZoomEditor) share: the picture box with its border and its
// virtual mix frame, the private preview engine, the dimmed still of the
// edited photo with one rectangle of it at full brightness, the stylus grid
// (0-255 on each side of the picture) and the refresh worker that decodes
// the still's cache with its preview mutex.
//
// Packed rectangles (a clip's cropRect, panStart, panEnd): four 8-bit values
// on a 0-255 scale of the picture, left, right, top, bottom from the high
// byte down; 0x00FF00FF is the whole picture.
//
// Geometry: the picture is fitted into the mix frame (mixSizeX x mixSizeY,
// the box's size when 0) at (offX, offY) of it, and the mix frame is scaled
// to the box by sx = boxWidth * 1000 / mixSizeX per mille (sy likewise); the
// stylus grid is the inverse of that drawing, so a mix size unlike the box
// maps the stylus as the rectangle is drawn.
//
// Threads: every slot on the UI thread. The refresh worker waits for the
// refresh event, then takes the preview mutex (ov::Mutex, recursive) and,
// under it, the state the UI published (whether the editor's menu is shown,
// the clip, a copy of the channel's clips); it decodes the copy's still cache
// and asks the UI thread, through UiHost::QueueAction without a target, to
// take the cache's name into the channel and repaint. The UI takes the mutex
// around cache deletions (280 / 281) and from leaving the menu (11) until it
// is shown again (8), so the worker is held off meanwhile; Draw only tries
// it. The worker tests its stop flag after each wait; the destructor gives
// up the UI's hold, sets the flag, signals the event and joins the worker.

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/engine_command.h"
#include "engine/media_decompressor.h"
#include "engine/picture565.h"
#include "platform/gfx/dc.h"
#include "platform/os/event.h"
#include "platform/os/mutex.h"
#include "ui/action_codes.h"
#include "ui/control.h"

namespace engine {
class MixEngine;
}  // namespace engine
namespace ui {
class UiHost;
}  // namespace ui

namespace screens {

class ChannelSelection;
class Mixer;
struct ChannelClip;

inline constexpr uint32_t PackRect(uint32_t left, uint32_t right, uint32_t top, uint32_t bottom) {
  return (left & 0xFF) << 24 | (right & 0xFF) << 16 | (top & 0xFF) << 8 | (bottom & 0xFF);
}
inline constexpr uint32_t RectLeft(uint32_t r) { return r >> 24; }
inline constexpr uint32_t RectRight(uint32_t r) { return (r >> 16) & 0xFF; }
inline constexpr uint32_t RectTop(uint32_t r) { return (r >> 8) & 0xFF; }
inline constexpr uint32_t RectBottom(uint32_t r) { return r & 0xFF; }
// Each pair put in order (left and top the smaller values).
uint32_t OrderRect(uint32_t r);
// The rectangle a stylus-down at grid (gx, gy) starts: one unit wide and
// high, inside 0-255 (a tap at 255 gives 254-255).
uint32_t TapRect(int32_t gx, int32_t gy);
// `r` with its far corner moved to grid (gx, gy); a far value equal to its
// anchor keeps one unit from it, so a drag never stores an empty side.
uint32_t DragRect(uint32_t r, int32_t gx, int32_t gy);
// The option slots the picture editors read and write (UiHost numeric and
// string slots; ImageInterval is in ms, the clips' display time).
namespace picture_options {
inline constexpr int kPlayPercentage = 3;  // ImageTrackPlayPercentage
inline constexpr int kAssignKenBurnsToAll = 6;
inline constexpr int kAssignOverlayToAll = 7;
inline constexpr int kAssignPhotoEffectToAll = 8;
inline constexpr int kPhotoEffect = 9;
inline constexpr int kEffectType = 10;
inline constexpr int kEffectSpeed = 11;
inline constexpr int kEffectDir = 12;
inline constexpr int kImageInterval = 14;
inline constexpr int kKenBurnsPosition = 15;
inline constexpr int kKenStart = 16;
inline constexpr int kKenEnd = 17;
inline constexpr int kTrackPos = 13;  // string slots from here
inline constexpr int kTrackLen = 14;
inline constexpr int kTrackTitle = 15;
inline constexpr int kOverlayEffect = 18;
inline constexpr int kEffectFilename = 19;
}  // namespace picture_options
// "%d:%.2d" of minutes and seconds.
ov::String FormatMinutes(uint32_t minutes, uint32_t seconds);
class PictureEditor : public ui::Control {
 public:
  ~PictureEditor() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;

  // The box less its borders, the mix frame, the picture in both.
  struct Geometry {
    int32_t off_x = 0, off_y = 0;  // the picture in the mix frame (mix pixels)
    int32_t sx = 0, sy = 0;        // box pixels per 1000 mix pixels
    int32_t ax = 0, ay = 0;        // the picture's corner in the box
    int32_t w = 0, h = 0;          // the picture's size in the mix frame
  };
  // Null when a divisor (mix size, picture span) is 0: no gesture, no frame.
  std::optional<Geometry> PictureGeometry() const;
  // Box x of edge e (0-255) of the picture, from the box's left.
  static int32_t EdgeX(const Geometry& g, uint32_t e);
  static int32_t EdgeY(const Geometry& g, uint32_t e);
  // The grid values of a screen point (0 before the picture, 255 beyond it);
  // false when there is no geometry.
  bool GridPoint(int32_t x, int32_t y, int32_t* gx, int32_t* gy) const;

  // State read by tests.
  engine::MixEngine* preview_engine() const { return engine_.get(); }
  ChannelSelection* channel() const { return channel_; }
  int32_t channel_index() const { return channel_index_; }
  uint32_t edit_rect() const { return edit_rect_; }
  bool playing() const { return playing_; }
  bool paused() const { return paused_; }
  bool mutex_held() const { return mutex_held_; }
  bool reload_pending() const { return reload_.load(std::memory_order_acquire); }
  bool refresh_running() const { return refresh_running_.load(std::memory_order_acquire); }
  int32_t box_width() const { return box_w_; }
  int32_t box_height() const { return box_h_; }
  int32_t mix_width() const { return mix_x_; }
  int32_t mix_height() const { return mix_y_; }
  uint32_t time_offset() const { return time_offset_; }

 protected:
  explicit PictureEditor(int32_t type);

  // The clip whose still the box shows; -1 when none.
  virtual int32_t ShownClip() const = 0;
  // Whether the refresh worker has what it needs (the photo editor: its
  // clip order list).
  virtual bool CanRefresh() const { return true; }

  // INITIALISE: the mixer, the box and mix size, the preview engine, the
  // refresh worker.
  void InitialisePreview();
  // The channel element named `name` (type 14 under the root, searched
  // recursively), its index in the mixer, its caches deleted; false and no
  // channel when there is none.
  bool OpenChannel(const ov::String& name);
  // The codes both editors handle alike (pause, deactivation, cache
  // cleanup and locks, the worker's still); false for others.
  bool OnSharedAction(int32_t code);
  // Publishes the UI's state to the refresh worker and wakes it.
  void RequestRefresh();
  // The worker's still is ready: its name goes to the channel, the box
  // reloads and repaints.
  void TakeRefreshedPicture();
  // Menu left: waits up to 5 s for the preview mutex and keeps it.
  void HoldMutex();
  // Menu shown: gives up the hold of HoldMutex.
  void ReleaseHeldMutex();
  // 280 / 281 around the channel's cache deletions.
  void LockCaches();
  void UnlockCaches();
  // Deletes the channel's caches (mode 0) when a channel is set.
  void DeleteCaches();
  // The picture's size, from its file (1 x 1 when unreadable, as FitRect
  // takes a zero side).
  void ReadPictureSize(const ov::String& file);

  // Posts the commands that play the clip being previewed on channel 16.
  virtual void PlayClip() = 0;
  // ED_PLAY: a stopped preview starts (the engine silent, then PlayClip), a
  // paused one resumes; nothing without a channel or an engine.
  void PlayOrResume();
  // Posts one command on channel 16.
  void Post(uint32_t type, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0);
  void PostCommand(std::unique_ptr<engine::EngineCommand> command);
  // Decodes clip `clip`'s playback cache (and its overlay's with
  // `overlay`) on the UI thread, the time it took going to the time
  // offset, and posts its load on channel 16 with its text as a layer. The
  // clip, or null (nothing posted) when the channel has none at `clip`.
  const ChannelClip* LoadClip(int32_t clip, bool overlay);
  // Repaints the box when the engine has a new frame.
  void CheckNewFrame();
  // The shown position: the engine clock less the time offset.
  uint32_t PlayPosition();
  // Publishes the shown position `pos` (ms; clamped to the total length)
  // with the percentage, the title and the length, and refreshes the
  // option-bound texts.
  void PublishTime(uint32_t pos);
  // The preview's items: `stopped_items` and the clip order list `list`
  // (when given) enabled only while stopped, play and delete while not
  // playing or paused, stop while playing, pause while playing and not
  // paused; the device kept awake while playing.
  void UpdatePreviewControls(std::initializer_list<int32_t> stopped_items, ui::Element* list);

  // Draws the box: the engine's frame while a preview plays or is paused;
  // else the still dimmed, with `rect` (packed, ordered here) at full
  // brightness and outlined when `outline`; black while the still is
  // missing or reloading.
  void DrawBox(gfx::HDC dc, uint32_t rect, bool outline, bool highlight);
  gfx::Rect BoxRect() const { return {x_ + border_x_, y_ + border_y_, x_ + border_x_ + box_w_, y_ + border_y_ + box_h_}; }
  void Repaint();

  // The words both editors save at a turn, in their order: `file` and
  // `index` are the photo editor's first clip and play index, the
  // pan-and-zoom editor's clip file and clip index.
  void SavePictureState(ov::Archive* archive, const ov::String& file, int32_t index);
  void LoadPictureState(ov::Archive* archive, ov::String* file, int32_t* index);

  ui::UiHost* host_ = nullptr;  // the host at INITIALISE
  Mixer* mixer_ = nullptr;
  ChannelSelection* channel_ = nullptr;  // not owned
  ov::String channel_name_;
  int32_t channel_index_ = -1;
  int32_t border_x_ = 0, border_y_ = 0;
  int32_t mix_x_ = 0, mix_y_ = 0;
  int32_t box_w_ = 0, box_h_ = 0;
  uint32_t pen_colour_ = 0xFFFFFF;
  gfx::HPen crop_pen_;
  uint32_t edit_rect_ = engine::kWholePicture;
  int32_t picture_w_ = 0, picture_h_ = 0;
  std::shared_ptr<engine::MixEngine> engine_;
  int32_t frame_rate_ = 15;
  int32_t preview_volume_ = 0;  // percent: the picture previews are silent
  bool playing_ = false, paused_ = false;
  uint32_t time_offset_ = 0;
  uint32_t interval_snapshot_ = 0;
  uint32_t last_check_ = 0;
  bool checked_ = false;
  uint32_t total_seconds_ = 0;
  ov::String clip_title_;
  bool mutex_held_ = false;  // held since the menu was left
  int32_t cache_locks_ = 0;  // 280s without their 281

 private:
  void RefreshMain();
  void StopRefreshWorker();
  void LoadStill();

  // The picture of the still: box-sized, made once.
  std::unique_ptr<gfx::DeviceContext> picture_dc_;
  gfx::HBitmap picture_;
  std::atomic<bool> reload_{false};

  // The refresh worker and what it shares with the UI.
  ov::Mutex preview_mutex_;
  ov::Event refresh_event_;
  std::thread refresh_thread_;
  std::atomic<bool> stop_refresh_{false};
  std::atomic<bool> refresh_running_{false};
  struct RefreshState {
    bool shown = false;
    int32_t clip = -1;
    int32_t channel_index = -1;
    std::optional<engine::CacheClipChannel> copy;
  };
  std::mutex state_mutex_;  // guards state_ and done_; never held across a decode
  RefreshState state_;
  std::optional<engine::CacheClipChannel> done_;
};

}  // namespace screens
