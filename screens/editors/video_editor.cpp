#include "screens/editors/video_editor.h"

#include <algorithm>

#include "engine/engine_command.h"
#include "engine/mix_engine.h"
#include "engine/picture565.h"
#include "media/media_info.h"
#include "platform/os/archive.h"
#include "platform/os/thread.h"
#include "screens/clip_commands.h"
#include "screens/editors/audio_editor.h"
#include "screens/editors/editor_options.h"
#include "screens/editors/file_title.h"
#include "screens/editors/preview_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "screens/project/text_clip.h"
#include "ui/menu.h"
#include "ui/slider_control.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// Options the editor reads and writes (UiHost slots).
constexpr int kOptionPlayPercentage = 2;  // VideoTrackPlayPercentage
constexpr int kOptionAssignOverlayToAll = 7;
constexpr int kOptionAssignPhotoEffectToAll = 8;
constexpr int kOptionPhotoEffect = 9;
constexpr int kOptionEffectType = 10;
constexpr int kOptionEffectSpeed = 11;
constexpr int kOptionEffectDir = 12;
constexpr int kOptionImageInterval = 14;
constexpr int kOptionCutFlagStart = 38;
constexpr int kOptionCutFlagEnd = 39;
constexpr int kStringTrackTitle = 6;  // VideoTrackTitle
constexpr int kStringTrackLength = 7;
constexpr int kStringTrackPosition = 8;
constexpr int kStringOverlayEffect = 18;
constexpr int kStringEffectFilename = 19;

constexpr int kHelpTipVideoEditor = 6;
constexpr uint32_t kVideoChannel = engine::kFirstVideoChannel;  // the preview's video: engine channel 16
constexpr uint32_t kSoundChannel = 0;
constexpr char16_t kPlayPercentageKey[] = u"VideoTrackPlayPercentage";

// "m:ss" of `ms`.
ov::String MinutesSeconds(uint32_t ms) { return ov::String::Format(u"%d:%.2d", ms / 60000, (ms % 60000) / 1000); }

// duration · percent / 100 without overflow.
uint32_t PercentOf(uint32_t duration, uint32_t percent) {
  return static_cast<uint32_t>(uint64_t{duration} * percent / 100);
}

}  // namespace

VideoEditor::VideoEditor() {
  type_ = ui::kTypeVideoEditor;
  transparent_colour_ = engine::kKeyColour;
}

VideoEditor::~VideoEditor() {
  // The worker first: it must not outlive what it reads, and the channels
  // may be gone already, so it hands them nothing.
  decompression_.Cancel(false);
  if (engine_) engine_->Stop();
}

void VideoEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String VideoEditor::*field;
  };
  static const Text kTexts[] = {{u"startMarker", &VideoEditor::start_marker_name_},
                                {u"endMarker", &VideoEditor::end_marker_name_},
                                {u"loopingTick", &VideoEditor::looping_tick_name_},
                                {u"imageEffectMenu", &VideoEditor::image_effect_menu_},
                                {u"imageOverlayMenu", &VideoEditor::image_overlay_menu_},
                                {u"imageTextMenu", &VideoEditor::image_text_menu_}};
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  struct Number {
    const char16_t* name;
    int32_t VideoEditor::*field;
  };
  static const Number kNumbers[] = {{u"markerOffset", &VideoEditor::marker_offset_},
                                    {u"borderX", &VideoEditor::border_x_},
                                    {u"borderY", &VideoEditor::border_y_},
                                    {u"mixSizeX", &VideoEditor::mix_size_x_},
                                    {u"mixSizeY", &VideoEditor::mix_size_y_}};
  for (const Number& n : kNumbers) {
    if (ui::NameIs(name, n.name)) {
      this->*n.field = ui::ParseCoordinate(value);
      return;
    }
  }
  Control::LoadAttribute(name, value);
}

bool VideoEditor::HasClip() const { return channel_ && channel_->ClipCount() > 0; }

// The host while the editor's menu is current or in the history.
ui::UiHost* VideoEditor::HostIfShown() const {
  ui::UiHost* host = ui::Host();
  auto* menu = dynamic_cast<ui::Menu*>(parent_);
  return host && menu && host->IsMenuInHistory(menu) ? host : nullptr;
}

uint32_t VideoEditor::Position() const {
  engine::VideoMixer* video = engine_ ? engine_->videoMixer() : nullptr;
  if (!video) return 0;
  return std::min(video->GetChannelPosition(kVideoChannel - engine::kFirstVideoChannel), duration_);
}

void VideoEditor::Open(const ov::String& name) {
  ui::UiHost* host = ui::Host();
  channel_name_ = name;
  channel_ = nullptr;
  channel_index_ = -1;
  clip_file_ = clip_title_ = ov::String();
  duration_ = 0;
  interval_snapshot_ = GetNumeric(host, kOptionImageInterval);
  ui::Element* found = host ? host->FindElementByName(host->RootMenu(), name, true) : nullptr;
  if (found && found->GetType() == ui::kTypeChannelSelection) {
    channel_ = dynamic_cast<ChannelSelection*>(found);
    if (channel_) {
      channel_->DeleteClipCaches(0);
      channel_index_ = mixer_ ? mixer_->FindChannelIndex(channel_) : -1;
    }
  }
  if (HasClip()) {
    clip_file_ = channel_->GetClipFile(0);
    media::MediaInfo info;
    info.ReadMediaInfo(clip_file_, 0);
    duration_ = info.durationMs;
    clip_title_ = info.title.IsEmpty() ? FileTitle(clip_file_) : info.title;
    StartDecompression();
  }
  SetString(host, kStringTrackTitle, clip_title_);
  SetString(host, kStringTrackLength, MinutesSeconds(duration_));
  RefreshBoundTexts(host);
  int32_t start = 0, end = 0;
  if (HasClip()) channel_->GetClipCutPoints(0, &start, &end);
  cut_.start = std::max(0, start);
  cut_.end = std::max(0, end);
  ShowCuts();
  FormatTime();
}

void VideoEditor::StartDecompression() {
  ui::UiHost* host = ui::Host();
  if (!host || !HasClip()) return;
  int work = channel_->NeedsEffectCache() ? 1 : 0;
  for (int c = 0; c < channel_->ClipCount(); ++c) {
    work += channel_->ClipNeedsPictureCache(c, true) + channel_->ClipNeedsAudioCache(c);
  }
  if (work == 0) {
    decompression_.Cancel();
    return;
  }
  DecompressionJob job;
  job.channels = {channel_};
  // The caches are the live picture's size, as the mix plays the effect
  // cache this run also writes.
  engine::MixEngine* shared = host->GetMixEngine();
  job.video = shared ? shared->videoMixer() : nullptr;
  job.preview = true;
  job.index_base = std::max(0, channel_index_);
  decompression_.Start(host, std::move(job));
}

void VideoEditor::Post(const engine::EngineCommand& command) {
  if (engine_) engine_->PostAction(command);
}

// The preview engine is made when the editor is first shown or plays, not
// with the skin, so that it is made by the preview maker then in place.
void VideoEditor::MakeEngine() {
  if (engine_) return;
  engine_ = MakePreviewEngine(ui::Host(), mix_size_x_, mix_size_y_, uint32_t(kFrameRate));
  if (engine_) engine_->SetDisplayRect(x_ + border_x_, y_ + border_y_, BoxWidth(), BoxHeight());
}

// Not the mixer's sequence: the sound on its own stream, the decoded video, the overlay from its file, no pan and zoom.
bool VideoEditor::StartPreview(bool selection, uint32_t start_ms) {
  const ChannelClip* clip = HasClip() ? channel_->clip(0) : nullptr;
  if (!clip) return false;
  MakeEngine();
  if (!engine_) return false;
  // The list of a preview is never replayed: each preview starts it afresh.
  engine_->ClearActions();
  engine_->Play();
  Post(engine::MakeCommand(engine::CMD_MASTER_VOLUME, kSoundChannel, preview_volume_ * 655));
  engine::EngineCommand sound = engine::MakeCommand(engine::CMD_LOAD, kSoundChannel);
  sound.path = clip->sourceFile;
  Post(sound);
  engine::EngineCommand video =
      engine::MakeCommand(engine::CMD_LOAD, kVideoChannel, 0, selection ? cut_.start : 0,
                          selection ? cut_.end : 0);
  video.path = channel_->GetClipCache2(0, kKindVideo);
  Post(video);
  if (start_ms != 0) Post(engine::MakeCommand(engine::CMD_SEEK, kVideoChannel, int32_t(start_ms)));
  if (!clip->clipText.textString.IsEmpty()) {
    engine::EngineCommand text = engine::MakeCommand(engine::CMD_LOAD_IMAGE, kVideoChannel);
    text.path = FormatTextClip(clip->clipText);
    text.altPath = clip->textCache;
    Post(text);
  }
  if (!clip->overlayFile.IsEmpty()) {
    engine::EngineCommand overlay =
        engine::MakeCommand(engine::CMD_LOAD_IMAGE, kVideoChannel, int32_t(engine::kKeyColour));
    overlay.path = overlay.altPath = clip->overlayFile;
    Post(overlay);
  }
  if (!clip->effectFile.IsEmpty()) {
    engine::EngineCommand effect = engine::MakeCommand(engine::CMD_FILE_EFFECT, kVideoChannel);
    effect.path = clip->effectFile;
    effect.altPath = clip->effectCache;
    Post(effect);
  }
  if (clip->photoEffect != 0) {
    Post(engine::MakeCommand(engine::CMD_COLOUR_FILTER, kVideoChannel, clip->photoEffect - 1));
  }
  if (std::unique_ptr<engine::EngineCommand> effect = PreviewTransition(mixer_, channel_index_, kVideoChannel)) {
    Post(*effect);
  }
  Post(engine::MakeCommand(engine::CMD_PLAY, kVideoChannel, 0, 1, 0));
  Post(engine::MakeCommand(engine::CMD_VOLUME, kSoundChannel, 0xFFFF));
  return true;
}

void VideoEditor::StopPreview() {
  if (playing_ && engine_) engine_->StopAllChannels();
  playing_ = paused_ = playing_selection_ = false;
}

void VideoEditor::Seeking() {
  ui::UiHost* host = ui::Host();
  const uint32_t p = GetNumeric(host, kOptionPlayPercentage);
  const uint32_t to = p ? PercentOf(duration_, p) : 0;
  if (!playing_) {
    if (!StartPreview(false, to)) return;
    playing_ = true;
    playing_selection_ = false;
    UpdateControls();
    FocusAction(ui::kActionEditorPause);
  } else {
    Post(engine::MakeCommand(engine::CMD_SEEK, kVideoChannel, int32_t(to)));
  }
}

void VideoEditor::Skip(int32_t delta) {
  if (!engine_ || !engine_->videoMixer()) return;
  const uint32_t q = Position();
  if (q == 0) return;
  // Unsigned: a skip back past the start wraps above the length.
  const uint32_t to = q + static_cast<uint32_t>(delta);
  if (to != 0 && to > duration_) return;
  engine_->Pause();
  Post(engine::MakeCommand(engine::CMD_SEEK, kVideoChannel, int32_t(to)));
  engine_->StartReplay();
  FormatTime();
  UpdateLayout();
  Invalidate();
}

void VideoEditor::FormatTime() {
  ui::UiHost* host = ui::Host();
  uint32_t pos = 0;
  if (engine_) {
    pos = Position();
    SetNumeric(host, kOptionPlayPercentage,
               duration_ ? std::min<uint32_t>(100, uint32_t(uint64_t{pos} * 100 / duration_)) : 0);
  }
  SetString(host, kStringTrackPosition, MinutesSeconds(pos));
  RefreshBoundTexts(host);
}

void VideoEditor::ShowCuts() {
  ui::UiHost* host = ui::Host();
  const uint32_t s = duration_ ? uint32_t(uint64_t(cut_.start) * 100 / duration_) : 0;
  const uint32_t e = duration_ && cut_.start < cut_.end ? uint32_t(uint64_t(cut_.end) * 100 / duration_) : 100;
  SetNumeric(host, kOptionCutFlagStart, s);
  SetNumeric(host, kOptionCutFlagEnd, e);
  RefreshBoundTexts(host);
  if (!host || !start_marker_ || !end_marker_) return;
  auto* slider = dynamic_cast<ui::SliderControl*>(host->FindElementByType(nullptr, ui::kTypeSliderControl, 1));
  if (!slider) return;
  auto place = [&](ui::Element* marker, uint32_t flag) {
    const int32_t x = marker_offset_ + slider->SliderKnobPosition(int32_t(std::min<uint32_t>(flag, 100)));
    marker->MoveX(x - marker->x());
    marker->UpdateLayout();
  };
  place(start_marker_, s);
  place(end_marker_, e);
}

void VideoEditor::StoreCuts() {
  if (HasClip()) channel_->SetClipCutPoints(0, cut_.start, cut_.end);
  ShowCuts();
}

// A cut slider moved: the start when its value changed, else the end; a
// cut end not after the cut start is cleared.
void VideoEditor::SliderCut() {
  ui::UiHost* host = ui::Host();
  if (!playing_ && !paused_) {
    MoveCutToSliders(&cut_, duration_, GetNumeric(host, kOptionCutFlagStart), GetNumeric(host, kOptionCutFlagEnd));
    if (HasClip()) channel_->SetClipCutPoints(0, cut_.start, cut_.end);
  }
  ShowCuts();
  if (host) host->InvalidateAll();
}

void VideoEditor::UpdateControls() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  const bool stopped = !playing_ && !paused_;
  engine::VideoMixer* video = engine_ ? engine_->videoMixer() : nullptr;
  const bool can_seek = video && video->CanSeekChannel(kVideoChannel - engine::kFirstVideoChannel);
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionEditorPlay, 1);
  host->EnableActionItems(true, nullptr, ui::kActionEditorPlaySelection, 1);
  host->EnableActionItems(stopped, nullptr, ui::kActionEditorAddEffect, 1);
  host->EnableActionItems(stopped, nullptr, ui::kActionEditorAddOverlay, 1);
  host->EnableActionItems(stopped, nullptr, ui::kActionAddText, 1);
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionPlaylistDelete, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorStop, 1);
  host->EnableActionItems(playing_ && !paused_, nullptr, ui::kActionEditorPause, 1);
  host->EnableActionItems(playing_ && !paused_ && can_seek, nullptr, ui::kActionEditorSkipForward, 1);
  host->EnableActionItems(playing_ && !paused_ && can_seek, nullptr, ui::kActionEditorSkipBack, 1);
  host->EnableActionItems(cut_.end != 0 || (cut_.start != 0 && !playing_selection_), nullptr, ui::kActionEditorCutClear,
                          1);
  const bool loop = channel_ && channel_->loop_on() != 0;
  host->CheckActionItems(loop, nullptr, ui::kActionEditorToggleLoop, 1);
  if (looping_tick_) looping_tick_->SetVisible(loop);
  host->SetKeepAwake(playing_);
}

void VideoEditor::FocusAction(int32_t code) {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  if (ui::Element* e = host->FindElementByAction(nullptr, code)) host->SetFocus(e);
}

// The effect and overlay files are kept in full; the sub-menus name them
// relative to the skin folder.
ov::String VideoEditor::WithoutSkinFolder(const ov::String& path) const {
  ui::UiHost* host = ui::Host();
  const ov::String folder = host ? host->SkinFolder() : ov::String();
  if (folder.IsEmpty() || path.Length() <= folder.Length() || !path.Left(folder.Length()).EqualsNoCase(folder.View())) {
    return path;
  }
  ov::String rest = path.Mid(folder.Length());
  while (!rest.IsEmpty() && (rest[0] == u'/' || rest[0] == u'\\')) rest = rest.Mid(1);
  return rest;
}

namespace {

// `name` relative to the skin folder made whole; empty stays empty.
ov::String InSkinFolder(ui::UiHost* host, const ov::String& name) {
  if (name.IsEmpty()) return name;
  ov::String folder = host ? host->SkinFolder() : ov::String();
  if (folder.IsEmpty()) return name;
  const char16_t last = folder[folder.Length() - 1];
  if (last != u'/' && last != u'\\') folder += u"/";
  return folder + name;
}

}  // namespace

void VideoEditor::LoadEffectOptions() {
  ui::UiHost* host = ui::Host();
  int32_t type = 0, speed = 0, direction = 0;
  ov::String file;
  if (mixer_) mixer_->GetChannelEffect(channel_index_, &type, &speed, &direction, &file);
  SetNumeric(host, kOptionEffectSpeed, uint32_t(speed));
  SetNumeric(host, kOptionEffectDir, uint32_t(direction));
  SetNumeric(host, kOptionEffectType, uint32_t(type));
  SetString(host, kStringEffectFilename, WithoutSkinFolder(file));
  SetNumeric(host, kOptionImageInterval, uint32_t(HasClip() ? channel_->GetClipDisplayTime(0) : 0));
}

void VideoEditor::AcceptChannelEffect() {
  ui::UiHost* host = ui::Host();
  if (!HasClip()) return;
  const uint32_t type = GetNumeric(host, kOptionEffectType);
  const ov::String file =
      type == engine::CMD_FILE_EFFECT ? InSkinFolder(host, GetString(host, kStringEffectFilename)) : ov::String();
  if (mixer_ && channel_index_ >= 0) {
    mixer_->SetChannelEffect(channel_index_, int32_t(type), int32_t(GetNumeric(host, kOptionEffectSpeed)),
                             int32_t(GetNumeric(host, kOptionEffectDir)), file);
    mixer_->OnAction(ui::kActionEffectOn0 + channel_index_, ov::String(), -1);
  }
  const uint32_t interval = GetNumeric(host, kOptionImageInterval);
  if (interval != interval_snapshot_) {
    interval_snapshot_ = interval;
    channel_->SetDisplayTimeAll(int32_t(interval));
  }
  FormatTime();
}

void VideoEditor::LoadOverlayOptions() {
  ui::UiHost* host = ui::Host();
  const ChannelClip* clip = HasClip() ? channel_->clip(0) : nullptr;
  SetNumeric(host, kOptionAssignOverlayToAll, 0);
  SetNumeric(host, kOptionPhotoEffect, clip ? uint32_t(clip->photoEffect) : 0);
  SetString(host, kStringOverlayEffect, clip ? WithoutSkinFolder(clip->overlayFile) : ov::String());
  SetNumeric(host, kOptionAssignPhotoEffectToAll, 0);
}

void VideoEditor::ApplyOverlayAndPhotoEffect() {
  ui::UiHost* host = ui::Host();
  if (!HasClip()) return;
  const ov::String overlay = InSkinFolder(host, GetString(host, kStringOverlayEffect));
  const bool overlay_all = GetNumeric(host, kOptionAssignOverlayToAll) == 1;
  const bool effect_all = GetNumeric(host, kOptionAssignPhotoEffectToAll) == 1;
  const int32_t effect = int32_t(GetNumeric(host, kOptionPhotoEffect));
  for (int c = 0; c < channel_->ClipCount(); ++c) {
    if (overlay_all || c == 0) channel_->SetClipOverlayFile(c, overlay);
    if (effect_all || c == 0) channel_->SetClipPhotoEffect(c, effect);
  }
}

void VideoEditor::JumpToSubMenu(const ov::String& menu) {
  ui::UiHost* host = ui::Host();
  if (host && !menu.IsEmpty()) host->JumpToMenu(menu);
}

void VideoEditor::Draw(gfx::HDC dc, int state) {
  (void)state;
  // While a preview plays or is paused the box shows the engine's frame;
  // otherwise the editor draws nothing of its own.
  const int32_t w = BoxWidth(), h = BoxHeight();
  if (engine_ && (playing_ || paused_) && w > 0 && h > 0) {
    gfx::HBitmap frame = gfx::CreateBitmap565(w, h);
    if (frame) {
      const engine::Picture565 pic{frame->bits(), frame->width(), frame->height(), frame->stride()};
      engine_->DrawFrame(pic, 0, 0);
      auto mem = gfx::CreateCompatibleDC(dc);
      mem->SelectBitmap(frame);
      gfx::BitBlt(dc, x_ + border_x_, y_ + border_y_, w, h, mem.get(), 0, 0, gfx::kSrcCopy);
    }
  }
  ResetRect();
}

void VideoEditor::OnTick(gfx::Rect* area, uint32_t now) {
  ui::UiHost* host = ui::Host();
  decompression_.Tick(host);
  if (engine_ && (playing_ || paused_) && engine_->FrameChanged() && host) host->InvalidateArea(box());
  if (playing_ && (!checked_ || now - last_check_ >= kCheckPeriodMs)) {
    checked_ = true;
    last_check_ = now;
    if (engine_ && !engine_->IsChannelPlaying(kVideoChannel)) {
      StopPreview();
      UpdateControls();
    }
    FormatTime();
  }
  Control::OnTick(area, now);
}

bool VideoEditor::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  return true;
}

bool VideoEditor::OnStylusMove(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  return true;
}

int VideoEditor::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  bool update = true;
  switch (code) {
    case ui::kActionMenuShown: {
      if (host) host->RequestHelpTip(kHelpTipVideoEditor);
      ui::Element* text_menu =
          host && !image_text_menu_.IsEmpty() ? host->FindElementByName(host->RootMenu(), image_text_menu_, true)
                                              : nullptr;
      if (ui::Element* editor = text_menu ? text_menu->FindByType(ui::kTypeTextEditor, true) : nullptr) {
        editor->OnAction(ui::kActionForgetTextClip, ov::String(), 0);
      }
      int32_t start = 0, end = 0;
      if (HasClip()) channel_->GetClipCutPoints(0, &start, &end);
      cut_.start = std::max(0, start);
      cut_.end = std::max(0, end);
      ShowCuts();
      playing_ = paused_ = playing_selection_ = false;
      MakeEngine();
      // Best effort: the preview's frames come to the UI thread.
      ov::SetCurrentThreadPriority(ov::kThreadPriorityAboveNormal);
      break;
    }
    case ui::kActionAfterRotation:
      if (!channel_name_.IsEmpty() && HostIfShown()) Open(channel_name_);
      break;
    case ui::kActionBeforeRotation:
      if (channel_ && HostIfShown()) channel_->DeleteClipCaches(0);
      break;
    case ui::kActionLeavingMenu:
      if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
      playing_ = paused_ = playing_selection_ = false;
      if (host) host->SetKeepAwake(false);
      ov::SetCurrentThreadPriority(ov::kThreadPriorityNormal);
      break;
    case ui::kActionInitialise: {
      update = false;
      auto* menu = dynamic_cast<ui::Menu*>(parent_);
      auto find = [&](const ov::String& name) -> ui::Element* {
        return menu && !name.IsEmpty() ? menu->FindDescendant(name, false) : nullptr;
      };
      mixer_ = host ? dynamic_cast<Mixer*>(host->FindElementByType(host->RootMenu(), ui::kTypeMixer, 1)) : nullptr;
      start_marker_ = find(start_marker_name_);
      end_marker_ = find(end_marker_name_);
      looping_tick_ = find(looping_tick_name_);
      if (mix_size_x_ == 0 || mix_size_y_ == 0) {
        mix_size_x_ = BoxWidth();
        mix_size_y_ = BoxHeight();
      }
      break;
    }
    case ui::kActionDeactivated:
      if (playing_ && !paused_) OnAction(ui::kActionEditorPause, ov::String(), 0);
      break;
    case ui::kActionOptionChanged:
      if (argument.EqualsNoCase(kPlayPercentageKey)) Seeking();
      break;
    case ui::kActionSetChannel:
      Open(argument);
      break;
    case ui::kActionEditorPlay:
      if (playing_ && paused_) {
        if (engine_) engine_->StartReplay();
        paused_ = false;
      } else if (!playing_ && StartPreview(false, 0)) {
        playing_ = true;
        playing_selection_ = false;
      }
      FocusAction(ui::kActionEditorPause);
      break;
    case ui::kActionEditorPlaySelection:
      if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
      if (StartPreview(true, 0)) {
        playing_ = true;
        playing_selection_ = true;
      }
      FocusAction(ui::kActionEditorPause);
      break;
    case ui::kActionEditorPause:
      if (!paused_ && engine_) {
        engine_->Pause();
        paused_ = true;
      }
      FocusAction(ui::kActionEditorPlay);
      break;
    case ui::kActionEditorStop:
      if (playing_) StopPreview();
      FormatTime();
      break;
    case ui::kActionEditorSkipForward:
      Skip(kSkipMs);
      break;
    case ui::kActionEditorSkipBack:
      Skip(-kSkipMs);
      break;
    case ui::kActionEditorTick:
      FormatTime();
      break;
    case ui::kActionEditorToggleLoop:
      if (channel_) channel_->set_loop_on(channel_->loop_on() ? 0 : 1);
      break;
    case ui::kActionEditorAddEffect:
      if (!HasClip()) break;
      LoadEffectOptions();
      JumpToSubMenu(image_effect_menu_);
      if (host) {
        host->EnableAttributeItems(false, nullptr, u"ImageInterval", 1);
        RefreshBoundTexts(host);
        host->UpdateEffectControls();
      }
      break;
    case ui::kActionEditorAddOverlay:
      if (!HasClip()) break;
      LoadOverlayOptions();
      JumpToSubMenu(image_overlay_menu_);
      if (host) {
        RefreshBoundTexts(host);
        host->UpdateEffectControls();
      }
      break;
    case ui::kActionEditorAcceptChanges:
      ApplyOverlayAndPhotoEffect();
      break;
    case ui::kActionEditorAcceptEffect:
      AcceptChannelEffect();
      StartDecompression();
      break;
    case ui::kActionAddText:
      if (!HasClip()) break;
      JumpToSubMenu(image_text_menu_);
      if (host) host->DoAction(ui::kActionSelectFirstTextClip, channel_name_, 1);
      break;
    case ui::kActionEditorCutStart: {
      if (!HasClip()) break;
      MoveCutStart(&cut_, int32_t(Position()));
      StoreCuts();
      if (host) host->InvalidateAll();
      break;
    }
    case ui::kActionEditorCutEnd: {
      if (!HasClip()) break;
      MoveCutEnd(&cut_, int32_t(Position()));
      StoreCuts();
      if (host) host->InvalidateAll();
      break;
    }
    case ui::kActionEditorCutClear:
      cut_.start = cut_.end = 0;
      StoreCuts();
      break;
    case ui::kActionOptionCut:
      SliderCut();
      break;
    case ui::kActionEditorCropPhoto:
      if (HasClip()) {
        const int32_t on = channel_->GetClipCropOn(0) ? 0 : 1;
        channel_->SetClipCropOn(0, on);
        if (host) host->CheckActionItems(on != 0, nullptr, ui::kActionEditorCropPhoto, 1);
      }
      break;
    case ui::kActionCancelDecompress:
    case ui::kActionDecompressDone:
    case ui::kActionDecompressFailed:
    case ui::kActionDecompressFailureOk:
      decompression_.OnAction(host, code, argument);
      break;
    default:
      update = false;
      break;
  }
  if (update) UpdateControls();
  return Control::OnAction(code, argument, flag);
}

void VideoEditor::SaveState(ov::Archive* archive) {
  archive->WriteString(clip_file_.View());
  archive->WriteU32(duration_);
  archive->WriteString(clip_title_.View());
  archive->WriteI32(playing_ ? 1 : 0);
  archive->WriteString(channel_name_.View());
  archive->WriteI32(frame_rate_);
  archive->WriteI32(paused_ ? 1 : 0);
  archive->WriteI32(preview_volume_);
  archive->WriteString(image_text_menu_.View());
  archive->WriteI32(playing_selection_ ? 1 : 0);
  archive->WriteU32(interval_snapshot_);
  Control::SaveState(archive);
}

void VideoEditor::LoadState(ov::Archive* archive) {
  int32_t playing = 0, paused = 0, selection = 0;
  archive->ReadString(&clip_file_);
  archive->ReadU32(&duration_);
  archive->ReadString(&clip_title_);
  archive->ReadI32(&playing);
  archive->ReadString(&channel_name_);
  archive->ReadI32(&frame_rate_);
  archive->ReadI32(&paused);
  archive->ReadI32(&preview_volume_);
  archive->ReadString(&image_text_menu_);
  archive->ReadI32(&selection);
  archive->ReadU32(&interval_snapshot_);
  preview_volume_ = std::clamp(preview_volume_, 0, kPreviewVolume);
  // The preview of the old screen is gone: the new one starts stopped, and
  // without a channel until code 9 opens it again.
  playing_ = paused_ = playing_selection_ = false;
  channel_ = nullptr;
  Control::LoadState(archive);
}

}  // namespace screens
