#include "screens/editors/picture_editor.h"

#include <algorithm>
#include <utility>

#include "engine/engine_command.h"
#include "engine/mix_engine.h"
#include "engine/picture565.h"
#include "engine/raw_frame_cache_source.h"
#include "engine/video_mixer.h"
#include "platform/gfx/bitmap.h"
#include "platform/os/thread.h"
#include "platform/picture/fit_rect.h"
#include "platform/picture/picture.h"
#include "screens/editors/editor_options.h"
#include "screens/editors/preview_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// Leaving the menu waits this long for the refresh worker to let go.
constexpr uint32_t kLeaveWaitMs = 5000;
// The still is shown dimmed; the edited rectangle at full brightness.
constexpr uint8_t kDimAlpha = 128;
// Master volume per percent of the preview's volume.
constexpr int32_t kVolumePerPercent = 655;

// The far side of a rectangle: `v` clamped to the grid, one unit from its
// anchor when it would meet it.
uint32_t Apart(uint32_t anchor, int32_t v) {
  auto far = static_cast<uint32_t>(std::clamp(v, 0, 255));
  if (far == anchor) far = anchor < 255 ? anchor + 1 : anchor - 1;
  return far;
}

gfx::HBitmap MakeBox(int32_t w, int32_t h) { return w > 0 && h > 0 ? gfx::CreateBitmap565(w, h) : nullptr; }

engine::Picture565 PictureOf(const gfx::HBitmap& b) { return {b->bits(), b->width(), b->height(), b->stride()}; }

}  // namespace

uint32_t OrderRect(uint32_t r) {
  uint32_t left = RectLeft(r), right = RectRight(r), top = RectTop(r), bottom = RectBottom(r);
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  return PackRect(left, right, top, bottom);
}

uint32_t TapRect(int32_t gx, int32_t gy) {
  const auto x = static_cast<uint32_t>(std::clamp(gx, 0, 254));
  const auto y = static_cast<uint32_t>(std::clamp(gy, 0, 254));
  return PackRect(x, x + 1, y, y + 1);
}

uint32_t DragRect(uint32_t r, int32_t gx, int32_t gy) {
  return PackRect(RectLeft(r), Apart(RectLeft(r), gx), RectTop(r), Apart(RectTop(r), gy));
}

ov::String FormatMinutes(uint32_t minutes, uint32_t seconds) {
  return ov::String::Format(u"%d:%.2d", minutes, seconds);
}

PictureEditor::PictureEditor(int32_t type) : refresh_event_(false, false) {
  type_ = type;
  transparent_colour_ = engine::kKeyColour;
  preview_mutex_.Create(false);
}

PictureEditor::~PictureEditor() {
  StopRefreshWorker();
  engine_.reset();
}

void PictureEditor::StopRefreshWorker() {
  // The worker may be waiting for the mutex this thread holds (since the
  // menu was left, or around a cache deletion): let go of it first.
  for (; cache_locks_ > 0; --cache_locks_) preview_mutex_.Release();
  if (mutex_held_) {
    preview_mutex_.Release();
    mutex_held_ = false;
  }
  stop_refresh_.store(true, std::memory_order_release);
  refresh_event_.Set();
  if (refresh_thread_.joinable()) refresh_thread_.join();
}

void PictureEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Number {
    const char16_t* name;
    int32_t PictureEditor::*field;
  };
  static const Number kNumbers[] = {{u"borderX", &PictureEditor::border_x_},
                                    {u"borderY", &PictureEditor::border_y_},
                                    {u"mixSizeX", &PictureEditor::mix_x_},
                                    {u"mixSizeY", &PictureEditor::mix_y_}};
  for (const Number& n : kNumbers) {
    if (ui::NameIs(name, n.name)) {
      this->*n.field = ui::ParseCoordinate(value);
      return;
    }
  }
  if (ui::NameIs(name, u"croppedPenColour")) {
    pen_colour_ = static_cast<uint32_t>(ui::ParseDecimal(value));
  } else {
    Control::LoadAttribute(name, value);
  }
}

// ---------------------------------------------------------------------------
// Geometry

std::optional<PictureEditor::Geometry> PictureEditor::PictureGeometry() const {
  if (mix_x_ <= 0 || mix_y_ <= 0 || box_w_ <= 0 || box_h_ <= 0) return std::nullopt;
  int32_t fw = 0, fh = 0;
  picture::FitRect(&fw, &fh, picture_w_, picture_h_, mix_x_, mix_y_);
  Geometry g;
  g.off_x = std::max(0, mix_x_ - fw) / 2;
  g.off_y = std::max(0, mix_y_ - fh) / 2;
  g.sx = static_cast<int32_t>(int64_t(box_w_) * 1000 / mix_x_);
  g.sy = static_cast<int32_t>(int64_t(box_h_) * 1000 / mix_y_);
  g.ax = static_cast<int32_t>(int64_t(g.sx) * g.off_x / 1000);
  g.ay = static_cast<int32_t>(int64_t(g.sy) * g.off_y / 1000);
  g.w = mix_x_ - 2 * g.off_x;
  g.h = mix_y_ - 2 * g.off_y;
  if (int64_t(g.sx) * g.w / 1000 <= 0 || int64_t(g.sy) * g.h / 1000 <= 0) return std::nullopt;
  return g;
}

int32_t PictureEditor::EdgeX(const Geometry& g, uint32_t e) {
  return g.ax + static_cast<int32_t>(int64_t(g.sx) * ((int64_t(e) * g.w) >> 8) / 1000);
}

int32_t PictureEditor::EdgeY(const Geometry& g, uint32_t e) {
  return g.ay + static_cast<int32_t>(int64_t(g.sy) * ((int64_t(e) * g.h) >> 8) / 1000);
}

bool PictureEditor::GridPoint(int32_t x, int32_t y, int32_t* gx, int32_t* gy) const {
  const std::optional<Geometry> g = PictureGeometry();
  if (!g) return false;
  // The picture's span in the box, as the rectangle is drawn.
  const int64_t span_x = int64_t(g->sx) * g->w / 1000, span_y = int64_t(g->sy) * g->h / 1000;
  const int64_t dx = int64_t(x) - (int64_t(x_) + border_x_ + g->ax);
  const int64_t dy = int64_t(y) - (int64_t(y_) + border_y_ + g->ay);
  *gx = dx < 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(dx * 255 / span_x, 255));
  *gy = dy < 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(dy * 255 / span_y, 255));
  return true;
}

void PictureEditor::ReadPictureSize(const ov::String& file) {
  const gfx::Size size = file.IsEmpty() ? gfx::Size{} : picture::GetImageFileSize(file);
  picture_w_ = std::max(size.cx, 1);
  picture_h_ = std::max(size.cy, 1);
}

// ---------------------------------------------------------------------------
// Set-up, channel and the preview mutex

void PictureEditor::InitialisePreview() {
  host_ = ui::Host();
  if (host_ && host_->RootMenu()) {
    mixer_ = dynamic_cast<Mixer*>(host_->FindElementByType(host_->RootMenu(), ui::kTypeMixer, 1));
  }
  box_w_ = x_size_ - 2 * border_x_;
  box_h_ = y_size_ - 2 * border_y_;
  if (mix_x_ <= 0 || mix_y_ <= 0) {
    mix_x_ = box_w_;
    mix_y_ = box_h_;
  }
  if (!engine_) engine_ = MakePreviewEngine(host_, mix_x_, mix_y_, static_cast<uint32_t>(frame_rate_));
  if (engine_ && box_w_ > 0 && box_h_ > 0) engine_->SetDisplayRect(x_ + border_x_, y_ + border_y_, box_w_, box_h_);
  // Without what it needs (the photo editor's clip order list) the worker
  // would end at once: none is started.
  if (!refresh_thread_.joinable() && CanRefresh()) {
    refresh_running_.store(true, std::memory_order_release);
    refresh_thread_ = std::thread([this] { RefreshMain(); });
  }
}

bool PictureEditor::OpenChannel(const ov::String& name) {
  ui::UiHost* host = ui::Host();
  channel_ = nullptr;
  channel_index_ = -1;
  ui::Element* found = host && host->RootMenu() ? host->FindElementByName(host->RootMenu(), name, true) : nullptr;
  if (!found || found->GetType() != ui::kTypeChannelSelection) return false;
  channel_ = dynamic_cast<ChannelSelection*>(found);
  if (!channel_) return false;
  channel_index_ = mixer_ ? mixer_->FindChannelIndex(channel_) : -1;
  channel_->DeleteClipCaches(0);
  return true;
}

bool PictureEditor::OnSharedAction(int32_t code) {
  ui::UiHost* host = ui::Host();
  switch (code) {
    case ui::kActionBeforeRotation: {
      auto* menu = dynamic_cast<ui::Menu*>(parent_);
      if (channel_ && host && menu && host->IsMenuInHistory(menu)) DeleteCaches();
      return true;
    }
    case ui::kActionDeactivated:
    case ui::kActionEditorPause:
      if (playing_ && !paused_ && engine_) {
        engine_->Pause();
        paused_ = true;
      }
      return true;
    case ui::kActionCacheLock:
      LockCaches();
      return true;
    case ui::kActionCacheUnlock:
      UnlockCaches();
      return true;
    case ui::kActionPictureReady:
      TakeRefreshedPicture();
      return true;
    default:
      return false;
  }
}

void PictureEditor::DeleteCaches() {
  if (channel_) channel_->DeleteClipCaches(0);
}

void PictureEditor::HoldMutex() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    state_.shown = false;
    state_.copy.reset();
  }
  if (!mutex_held_ && preview_mutex_.Wait(kLeaveWaitMs) == ov::kWaitObject0) mutex_held_ = true;
  // A still the worker made since the last hand-over goes to the channel
  // now, so that the caches deleted with the menu include it.
  std::optional<engine::CacheClipChannel> done;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    done = std::move(done_);
    done_.reset();
  }
  if (done && channel_) done->CopyNamesTo(channel_);
}

void PictureEditor::ReleaseHeldMutex() {
  if (!mutex_held_) return;
  mutex_held_ = false;
  preview_mutex_.Release();
}

void PictureEditor::LockCaches() {
  if (preview_mutex_.Wait(ov::kInfinite) == ov::kWaitObject0) ++cache_locks_;
}

void PictureEditor::UnlockCaches() {
  if (cache_locks_ == 0) return;
  --cache_locks_;
  preview_mutex_.Release();
}

// ---------------------------------------------------------------------------
// The refresh worker

void PictureEditor::RequestRefresh() {
  ui::UiHost* host = ui::Host();
  RefreshState s;
  s.shown = host && parent_ && host->CurrentMenu() == parent_;
  s.clip = ShownClip();
  s.channel_index = channel_index_;
  if (channel_ && s.clip >= 0) s.copy = engine::CacheClipChannel::CopyOf(*channel_);
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    state_ = std::move(s);
  }
  refresh_event_.Set();
}

void PictureEditor::RefreshMain() {
  const engine::VideoMixer* video = engine_ ? engine_->videoMixer() : nullptr;
  for (;;) {
    if (stop_refresh_.load(std::memory_order_acquire)) break;
    refresh_event_.Wait(ov::kInfinite);
    if (stop_refresh_.load(std::memory_order_acquire)) break;
    reload_.store(true, std::memory_order_release);
    if (preview_mutex_.Wait(ov::kInfinite) == ov::kWaitFailed) break;
    if (stop_refresh_.load(std::memory_order_acquire)) {
      preview_mutex_.Release();
      break;
    }
    RefreshState s;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      s.shown = state_.shown;
      s.clip = state_.clip;
      s.channel_index = state_.channel_index;
      s.copy = std::move(state_.copy);
      state_.copy.reset();
    }
    bool ready = false;
    if (s.shown && s.copy) {
      if (s.copy->ClipNeedsPictureCache(s.clip, true)) {
        engine::MediaDecompressor decompressor(video, {}, true);
        if (decompressor.DecompressImage(s.clip, &*s.copy, s.channel_index)) {
          std::lock_guard<std::mutex> lock(state_mutex_);
          done_ = std::move(s.copy);
        }
      }
      ready = true;
    }
    reload_.store(true, std::memory_order_release);
    preview_mutex_.Release();
    if (ready && host_) host_->QueueAction(nullptr, ui::kActionPictureReady, ov::String(), 1);
  }
  refresh_running_.store(false, std::memory_order_release);
}

void PictureEditor::TakeRefreshedPicture() {
  std::optional<engine::CacheClipChannel> done;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    done = std::move(done_);
    done_.reset();
  }
  if (done && channel_) done->CopyNamesTo(channel_);
  reload_.store(true, std::memory_order_release);
  Repaint();
}

void PictureEditor::Repaint() {
  UpdateLayout();
  if (ui::UiHost* host = ui::Host()) host->InvalidateArea(bounds_);
}

// ---------------------------------------------------------------------------
// The preview

void PictureEditor::PlayOrResume() {
  if (!engine_) return;
  if (!playing_) {
    if (!channel_) return;
    playing_ = true;
    time_offset_ = 0;
    engine_->Play();
    PostCommand(std::make_unique<engine::EngineCommand>(
        engine::MakeCommand(engine::CMD_MASTER_VOLUME, 0, preview_volume_ * kVolumePerPercent)));
    PlayClip();
  } else if (paused_) {
    engine_->StartReplay();
    paused_ = false;
  }
}

void PictureEditor::Post(uint32_t type, int32_t p1, int32_t p2, int32_t p3) {
  PostCommand(std::make_unique<engine::EngineCommand>(engine::MakeCommand(type, engine::kFirstVideoChannel, p1, p2, p3)));
}

void PictureEditor::PostCommand(std::unique_ptr<engine::EngineCommand> command) {
  if (engine_ && command) engine_->PostAction(std::move(command));
}

const ChannelClip* PictureEditor::LoadClip(int32_t clip, bool overlay) {
  const ChannelClip* c = channel_ ? channel_->clip(clip) : nullptr;
  if (!c) return nullptr;
  const uint32_t t0 = ov::GetTickCount();
  {
    engine::MediaDecompressor decompressor(engine_ ? engine_->videoMixer() : nullptr, {}, false);
    decompressor.DecompressImage(clip, channel_, channel_index_);
    if (overlay && !c->overlayFile.IsEmpty()) decompressor.DecompressOverlay(clip, channel_, channel_index_);
  }
  time_offset_ += ov::GetTickCount() - t0;
  // Not the mixer's open: the photo whole and without marks; the preview engine decides how long it shows.
  auto load = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_LOAD, engine::kFirstVideoChannel, -1));
  load->path = c->sourceFile;
  load->altPath = c->pictureCache;
  PostCommand(std::move(load));
  if (!c->clipText.textString.IsEmpty()) {
    auto text = std::make_unique<engine::EngineCommand>(
        engine::MakeCommand(engine::CMD_LOAD_IMAGE, engine::kFirstVideoChannel));
    text->path = text->altPath = FormatTextClip(c->clipText);
    PostCommand(std::move(text));
  }
  return c;
}

void PictureEditor::CheckNewFrame() {
  ui::UiHost* host = ui::Host();
  if (host && engine_ && (playing_ || paused_) && engine_->FrameChanged()) host->InvalidateArea(BoxRect());
}

uint32_t PictureEditor::PlayPosition() {
  const uint32_t clock = engine_ ? engine_->GetPlayPosition() : 0;
  return clock > time_offset_ ? clock - time_offset_ : 0;
}

void PictureEditor::PublishTime(uint32_t pos) {
  if (pos != 0 && total_seconds_ < pos / 1000) pos = total_seconds_ * 1000;
  const uint32_t percent = total_seconds_ ? std::min<uint32_t>(100, (pos / 10) / total_seconds_) : 0;
  SetNumeric(ui::Host(), picture_options::kPlayPercentage, percent);
  SetString(ui::Host(), picture_options::kTrackPos, FormatMinutes(pos / 60000, pos / 1000 - 60 * (pos / 60000)));
  SetString(ui::Host(), picture_options::kTrackTitle, clip_title_);
  SetString(ui::Host(), picture_options::kTrackLen, FormatMinutes(total_seconds_ / 60, total_seconds_ % 60));
  RefreshBoundTexts(ui::Host());
}

void PictureEditor::UpdatePreviewControls(std::initializer_list<int32_t> stopped_items, ui::Element* list) {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  const bool stopped = !playing_ && !paused_;
  for (int32_t code : stopped_items) host->EnableActionItems(stopped, nullptr, code, 1);
  if (list) list->SetEnableBit(stopped, 31);
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionEditorPlay, 1);
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionPlaylistDelete, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorStop, 1);
  host->EnableActionItems(playing_ && !paused_, nullptr, ui::kActionEditorPause, 1);
  host->SetKeepAwake(playing_);
}

// ---------------------------------------------------------------------------
// Drawing

void PictureEditor::LoadStill() {
  const ov::String cache = channel_ ? channel_->GetClipCache2(ShownClip(), kKindImage) : ov::String();
  // No still yet: the box stays black until the worker has made it.
  if (cache.IsEmpty()) return;
  engine::RawFrameCacheSource source;
  if (!source.Open(cache, 1)) return;
  if (!picture_) {
    picture_ = MakeBox(box_w_, box_h_);
    if (!picture_) return;
    picture_dc_ = gfx::CreateCompatibleDC(nullptr);
    picture_dc_->SelectBitmap(picture_);
  }
  const engine::Picture565 box = PictureOf(picture_);
  engine::FillRect565(box, 0, 0, box_w_, box_h_, 0);
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0;
  if (source.ReadFrame(&frame, &bytes)) source.DrawFrame(box, 0, 0, box_w_, box_h_, frame.get(), bytes);
  reload_.store(false, std::memory_order_release);
}

void PictureEditor::DrawBox(gfx::HDC dc, uint32_t rect, bool outline, bool highlight) {
  const int32_t bx = x_ + border_x_, by = y_ + border_y_;
  if (box_w_ <= 0 || box_h_ <= 0) return;
  if (engine_ && (playing_ || paused_)) {
    // The preview's frame, copied from the engine on this thread.
    gfx::HBitmap frame = MakeBox(box_w_, box_h_);
    if (!frame) return;
    engine_->DrawFrame(PictureOf(frame), 0, 0);
    auto mem = gfx::CreateCompatibleDC(dc);
    mem->SelectBitmap(frame);
    gfx::BitBlt(dc, bx, by, box_w_, box_h_, mem.get(), 0, 0, gfx::kSrcCopy);
    return;
  }
  const bool locked = preview_mutex_.Wait(0) == ov::kWaitObject0;
  if (locked && channel_ && reload_.load(std::memory_order_acquire)) LoadStill();
  if (picture_dc_ && !reload_.load(std::memory_order_acquire)) {
    gfx::AlphaBlend(dc, bx, by, box_w_, box_h_, picture_dc_.get(), 0, 0, box_w_, box_h_, kDimAlpha);
    const std::optional<Geometry> g = highlight ? PictureGeometry() : std::nullopt;
    if (g) {
      const uint32_t r = OrderRect(rect);
      const int32_t left = EdgeX(*g, RectLeft(r)), right = EdgeX(*g, RectRight(r));
      const int32_t top = EdgeY(*g, RectTop(r)), bottom = EdgeY(*g, RectBottom(r));
      gfx::BitBlt(dc, bx + left, by + top, right - left, bottom - top, picture_dc_.get(), left, top, gfx::kSrcCopy);
      if (outline && right > left && bottom > top) {
        if (!crop_pen_) crop_pen_ = gfx::CreatePen(gfx::kPsDash, 1, pen_colour_);
        const gfx::HPen old = dc->SelectPen(crop_pen_);
        const gfx::Point corners[5] = {{bx + left, by + top},
                                       {bx + right - 1, by + top},
                                       {bx + right - 1, by + bottom - 1},
                                       {bx + left, by + bottom - 1},
                                       {bx + left, by + top}};
        gfx::Polyline(dc, corners, 5);
        dc->SelectPen(old);
      }
    }
  } else {
    gfx::BitBlt(dc, bx, by, box_w_, box_h_, nullptr, 0, 0, gfx::kBlackness);
  }
  if (locked) preview_mutex_.Release();
}

// ---------------------------------------------------------------------------
// Rotation

void PictureEditor::SavePictureState(ov::Archive* archive, const ov::String& file, int32_t index) {
  archive->WriteI32(stop_refresh_.load(std::memory_order_acquire) ? 1 : 0);
  archive->WriteU32(0);  // reserved
  archive->WriteI32(reload_.load(std::memory_order_acquire) ? 1 : 0);
  archive->WriteString(file.View());
  archive->WriteU32(total_seconds_);
  archive->WriteString(clip_title_.View());
  archive->WriteI32(index);
  archive->WriteI32(channel_index_);
  archive->WriteI32(frame_rate_);
  archive->WriteI32(paused_ ? 1 : 0);
  archive->WriteI32(preview_volume_);
  archive->WriteU32(time_offset_);
  archive->WriteU32(interval_snapshot_);
  archive->WriteI32(mutex_held_ ? 1 : 0);
  archive->WriteString(channel_name_.View());
}

void PictureEditor::LoadPictureState(ov::Archive* archive, ov::String* file, int32_t* index) {
  int32_t word = 0;
  uint32_t reserved = 0;
  // The stop flag, the reload flag, the pause and the mutex's hold belong to
  // the element that saved them: this one's worker runs, its still is
  // reloaded, no preview survives the turn and the new mutex is not held.
  archive->ReadI32(&word);
  archive->ReadU32(&reserved);
  archive->ReadI32(&word);
  archive->ReadString(file);
  archive->ReadU32(&total_seconds_);
  archive->ReadString(&clip_title_);
  archive->ReadI32(index);
  archive->ReadI32(&channel_index_);
  archive->ReadI32(&word);
  if (word > 0) frame_rate_ = word;
  archive->ReadI32(&word);
  archive->ReadI32(&preview_volume_);
  archive->ReadU32(&time_offset_);
  archive->ReadU32(&interval_snapshot_);
  archive->ReadI32(&word);
  archive->ReadString(&channel_name_);
  reload_.store(true, std::memory_order_release);
  playing_ = paused_ = false;
  mutex_held_ = false;
}

}  // namespace screens
