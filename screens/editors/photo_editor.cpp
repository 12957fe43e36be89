#include "screens/editors/photo_editor.h"

#include <algorithm>

#include "engine/engine_command.h"
#include "engine/picture565.h"
#include "engine/mix_engine.h"
#include "platform/os/thread.h"
#include "screens/project/channel_selection.h"
#include "screens/clip_commands.h"
#include "screens/editors/editor_options.h"
#include "screens/editors/file_title.h"
#include "screens/mixer/mixer.h"
#include "ui/clip_order_list.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

using namespace picture_options;

constexpr int kHelpTipPhotoEditor = 7;
constexpr uint32_t kCheckPeriodMs = 250;
constexpr uint32_t kNextClipPauseMs = 25;
constexpr int32_t kPanSpeedDefault = 1500;
constexpr int32_t kDefaultDirection = 4;
constexpr int32_t kMixerChannels = 6;

}  // namespace

ImageEditor::ImageEditor() : PictureEditor(ui::kTypeImageEditor) {}

ImageEditor::~ImageEditor() = default;

void ImageEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String ImageEditor::*field;
  };
  static const Text kTexts[] = {{u"imageEffectMenu", &ImageEditor::effect_menu_},
                                {u"imageOverlayMenu", &ImageEditor::overlay_menu_},
                                {u"panzoomMenu", &ImageEditor::panzoom_menu_},
                                {u"imageTextMenu", &ImageEditor::text_menu_}};
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  PictureEditor::LoadAttribute(name, value);
}

int32_t ImageEditor::Selected() const { return clip_list_ ? clip_list_->selected() : -1; }

bool ImageEditor::CropOn() const { return channel_ && channel_->GetClipCropOn(Selected()) != 0; }

// ---------------------------------------------------------------------------
// Actions

int ImageEditor::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  auto* menu = dynamic_cast<ui::Menu*>(parent_);
  const bool in_history = host && menu && host->IsMenuInHistory(menu);
  bool handled = true;
  switch (code) {
    case ui::kActionMenuShown:
      if (host) host->RequestHelpTip(kHelpTipPhotoEditor);
      ShowTextMenu();
      ReleaseHeldMutex();
      SelectionChanged();
      break;
    case ui::kActionAfterRotation:
      // The turn rebuilt the screens: the channel is reopened by its name.
      if (!channel_name_.IsEmpty() && in_history) {
        menu->OnAction(ui::kActionSetChannel, channel_name_, 1);
        host->DoAction(ui::kActionSelectTextClip, channel_name_, 1);
        host->UpdateEffectControls();
      }
      break;
    case ui::kActionLeavingMenu:
      LeaveMenu();
      break;
    case ui::kActionInitialise:
      handled = false;
      if (menu) {
        crop_filter_ = menu->FindDescendant(u"filter_cropphoto", false);
        clip_list_ = dynamic_cast<ui::PlaylistOrder*>(menu->FindByType(ui::kTypePlaylistOrder, false));
      }
      // The worker needs the clip order list, found just now.
      InitialisePreview();
      break;
    case ui::kActionOptionsChanged:
      break;
    case ui::kActionSetChannel:
      Open(argument);
      break;
    case engine::kActionNextClip:
      // The held photo ended and the next is due. The 250 ms check may have
      // moved on already (channel 16 idle): then channel 16 plays again and
      // this notice is late.
      if (playing_ && engine_ && !engine_->IsChannelPlaying(engine::kFirstVideoChannel)) NextClip();
      break;
    case ui::kActionEditorPlay:
      PlayOrResume();
      break;
    case ui::kActionEditorStop:
      StopPreview();
      FormatTime();
      RequestRefresh();
      break;
    case ui::kActionClipDeleted:  // from the channel's clip order list
      FormatTime();
      Repaint();
      break;
    case ui::kActionEditorAddEffect:
      if (!channel_) break;
      LoadEffectOptions();
      if (JumpTo(effect_menu_)) {
        host->EnableAttributeItems(true, nullptr, u"ImageInterval", 1);
        host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
        host->UpdateEffectControls();
      }
      break;
    case ui::kActionEditorAddOverlay:
      if (!channel_) break;
      LoadOverlayOptions();
      if (JumpTo(overlay_menu_)) {
        host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
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
    case ui::kActionEditorAcceptKenBurns:
      ApplyPanZoom();
      break;
    case ui::kActionAddText:
      if (!channel_ || !JumpTo(text_menu_)) break;
      host->DoAction(ui::kActionSelectTextClip, channel_name_, 1);
      break;
    case ui::kActionEditorCropPhoto:
      if (channel_) {
        channel_->SetClipCropOn(Selected(), CropOn() ? 0 : 1);
        Repaint();
      }
      break;
    case ui::kActionEditorPanZoomEdit:
      if (!channel_ || panzoom_menu_.IsEmpty()) break;
      LoadPanZoomOptions();
      if (!JumpTo(panzoom_menu_)) break;
      host->DoAction(ui::kActionPanZoomClip, ov::String::Format(u"%d", Selected()), 1);
      host->DoAction(ui::kActionPanZoomChannel, channel_name_, 1);
      break;
    case ui::kActionCancelDecompress:
    case ui::kActionDecompressDone:
    case ui::kActionDecompressFailed:
    case ui::kActionDecompressFailureOk:
      decompression_.OnAction(host, code, argument);
      break;
    case ui::kActionSelectionChanged:
      SelectionChanged();
      break;
    default:
      handled = OnSharedAction(code);
      break;
  }
  if (handled && code != ui::kActionInitialise) UpdateControls();
  return Control::OnAction(code, argument, flag);
}

bool ImageEditor::JumpTo(const ov::String& menu) {
  ui::UiHost* host = ui::Host();
  if (!host || menu.IsEmpty()) return false;
  host->JumpToMenu(menu);
  return true;
}

void ImageEditor::ShowTextMenu() {
  ui::UiHost* host = ui::Host();
  ui::Menu* root = host ? host->RootMenu() : nullptr;
  ui::Menu* text = root && !text_menu_.IsEmpty() ? root->FindMenu(text_menu_) : nullptr;
  if (ui::Element* editor = text ? text->FindByType(ui::kTypeTextEditor, true) : nullptr) {
    editor->OnAction(ui::kActionForgetTextClip, ov::String(), 1);
  }
}

void ImageEditor::Open(const ov::String& name) {
  channel_name_ = name;
  playing_ = paused_ = false;
  play_index_ = 0;
  interval_snapshot_ = GetNumeric(ui::Host(), kImageInterval);
  if (OpenChannel(name)) {
    first_clip_file_ = channel_->GetClipFile(0);
    const uint32_t crop = channel_->GetClipCropRect(Selected());
    edit_rect_ = crop != 0 ? crop : kWholePicture;
    ReadPictureSize(channel_->GetClipFile(Selected()));
    StartDecompression();
  }
  RequestRefresh();
  FormatTime();
}

void ImageEditor::LeaveMenu() {
  if (playing_) StopPreview();
  HoldMutex();
  playing_ = paused_ = false;
  play_index_ = 0;
  DeleteCaches();
  if (ui::UiHost* host = ui::Host()) host->SetKeepAwake(false);
}

void ImageEditor::SelectionChanged() {
  RequestRefresh();
  const uint32_t crop = channel_ ? channel_->GetClipCropRect(Selected()) : kWholePicture;
  edit_rect_ = crop != 0 ? crop : kWholePicture;
  if (channel_) ReadPictureSize(channel_->GetClipFile(Selected()));
  Repaint();
}

// ---------------------------------------------------------------------------
// The preview

void ImageEditor::PlayClip() {
  const int32_t i = play_index_;
  const ChannelClip* clip = LoadClip(i, true);
  if (!clip) return;
  PostClipLayers(*channel_, i, engine::kFirstVideoChannel,
                 [this](std::unique_ptr<engine::EngineCommand> command) { PostCommand(std::move(command)); });
  // The transition plays whether or not the mixer has the channel's effect
  // switched on: the preview shows the effect being chosen.
  PostCommand(PreviewTransition(mixer_, channel_index_, engine::kFirstVideoChannel));
  if (i + 1 < channel_->ClipCount()) Post(engine::CMD_SET_HOLD);
  Post(engine::CMD_PLAY);
}

bool ImageEditor::NextClip() {
  ++play_index_;
  if (channel_ && play_index_ < channel_->ClipCount()) {
    PlayClip();
    ov::Sleep(kNextClipPauseMs);
    return true;
  }
  play_index_ = 0;
  return false;
}

void ImageEditor::StopPreview() {
  if (playing_ && engine_) engine_->StopAllChannels();
  playing_ = paused_ = false;
  play_index_ = 0;
}

void ImageEditor::OnTick(gfx::Rect* area, uint32_t now) {
  decompression_.Tick(ui::Host());
  CheckNewFrame();
  if (playing_ && !paused_ && engine_ && (!checked_ || now - last_check_ >= kCheckPeriodMs)) {
    checked_ = true;
    last_check_ = now;
    if (!engine_->IsChannelPlaying(engine::kFirstVideoChannel)) {
      if (!NextClip()) {
        StopPreview();
        RequestRefresh();
        Repaint();
      }
      UpdateControls();
    }
    FormatTime();
  }
  Control::OnTick(area, now);
}

void ImageEditor::FormatTime() {
  const int32_t count = channel_ ? channel_->ClipCount() : 0;
  uint64_t total_ms = 0, end = 0;
  for (int32_t c = 0; c < count; ++c) {
    const auto shown = static_cast<uint32_t>(std::max(channel_->GetClipDisplayTime(c), 0));
    total_ms += shown;
    if (c <= play_index_) end += shown;
  }
  total_seconds_ = static_cast<uint32_t>(std::min<uint64_t>(total_ms / 1000, UINT32_MAX));
  clip_title_ = channel_ ? FileTitle(channel_->GetClipFile(play_index_)) : ov::String();
  uint32_t pos = 0;
  if (engine_ && (playing_ || paused_)) {
    pos = PlayPosition();
    // The shown position never passes the end of the photo being played.
    if (end < pos) {
      time_offset_ += pos - static_cast<uint32_t>(end);
      pos = PlayPosition();
    }
  }
  PublishTime(pos);
}

void ImageEditor::UpdateControls() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  host->DoAction(ui::kActionEffectBrowserReset, ov::String(), 1);
  if (crop_filter_) crop_filter_->SetVisible(CropOn());
  UpdatePreviewControls({ui::kActionEditorAddEffect, ui::kActionEditorAddOverlay, ui::kActionEditorPanZoomEdit,
                         ui::kActionAddText},
                        clip_list_);
}

// ---------------------------------------------------------------------------
// Drawing and the crop

uint32_t ImageEditor::CropFrame() const {
  if (!CropOn()) return kWholePicture;
  if (edit_rect_ != 0 && edit_rect_ != kWholePicture) return edit_rect_;
  const uint32_t crop = channel_->GetClipCropRect(Selected());
  return crop != 0 ? crop : kWholePicture;
}

void ImageEditor::Draw(gfx::HDC dc, int state) {
  (void)state;
  DrawBox(dc, CropFrame(), CropOn(), true);
  ResetRect();
}

bool ImageEditor::OnStylusDown(int32_t x, int32_t y) {
  int32_t gx = 0, gy = 0;
  if (!CropOn() || !GridPoint(x, y, &gx, &gy)) return false;
  edit_rect_ = TapRect(gx, gy);
  if (ui::UiHost* host = ui::Host()) host->SetPressedElement(this);
  Repaint();
  return true;
}

bool ImageEditor::OnStylusMove(int32_t x, int32_t y) {
  int32_t gx = 0, gy = 0;
  if (!CropOn() || !GridPoint(x, y, &gx, &gy)) return false;
  edit_rect_ = DragRect(edit_rect_, gx, gy);
  Repaint();
  return true;
}

bool ImageEditor::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  if (channel_ && clip_list_ && CropOn()) {
    const int32_t c = Selected();
    channel_->SetClipCropRect(c, edit_rect_);
    channel_->SetClipPanZoom(c, kWholePicture, kWholePicture, kDefaultPanSpeed);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The sub-menus' options

void ImageEditor::LoadEffectOptions() {
  int32_t type = 0, speed = 0, direction = 0;
  ov::String file;
  if (mixer_) mixer_->GetChannelEffect(channel_index_, &type, &speed, &direction, &file);
  if (direction == 0) direction = kDefaultDirection;
  SetNumeric(ui::Host(), kEffectSpeed, static_cast<uint32_t>(speed));
  SetNumeric(ui::Host(), kEffectDir, static_cast<uint32_t>(direction));
  SetNumeric(ui::Host(), kEffectType, static_cast<uint32_t>(type));
  // The effect browser lists the files relative to the skin folder.
  const ov::String folder = ui::Host() ? ui::Host()->SkinFolder() : ov::String();
  if (!file.IsEmpty() && !folder.IsEmpty() && file.Length() > folder.Length() &&
      file.Left(folder.Length()) == folder) {
    file = file.Mid(folder.Length() + 1);
  }
  SetString(ui::Host(), kEffectFilename, file);
  SetNumeric(ui::Host(), kImageInterval, static_cast<uint32_t>(std::max(channel_->GetClipDisplayTime(0), 0)));
}

void ImageEditor::AcceptChannelEffect() {
  if (!channel_) return;
  const auto type = static_cast<int32_t>(GetNumeric(ui::Host(), kEffectType));
  ov::String file = type == engine::CMD_FILE_EFFECT ? GetString(ui::Host(), kEffectFilename) : ov::String();
  if (!file.IsEmpty() && ui::Host()) file = ui::Host()->SkinFolder() + u"/" + file;
  if (mixer_) {
    mixer_->SetChannelEffect(channel_index_, type, static_cast<int32_t>(GetNumeric(ui::Host(), kEffectSpeed)),
                             static_cast<int32_t>(GetNumeric(ui::Host(), kEffectDir)), file);
    if (channel_index_ >= 0 && channel_index_ < kMixerChannels) {
      mixer_->OnAction(ui::kActionEffectOn0 + channel_index_, ov::String(), -1);
    }
  }
  const uint32_t interval = GetNumeric(ui::Host(), kImageInterval);
  if (interval != interval_snapshot_) {
    interval_snapshot_ = interval;
    channel_->SetDisplayTimeAll(static_cast<int32_t>(std::min<uint32_t>(interval, INT32_MAX)));
    FormatTime();
  }
}

void ImageEditor::LoadOverlayOptions() {
  const ChannelClip* clip = channel_ ? channel_->clip(Selected()) : nullptr;
  SetNumeric(ui::Host(), kAssignOverlayToAll, 0);
  SetNumeric(ui::Host(), kPhotoEffect, clip ? static_cast<uint32_t>(clip->photoEffect) : 0);
  SetString(ui::Host(), kOverlayEffect, clip ? clip->overlayFile : ov::String());
  SetNumeric(ui::Host(), kAssignPhotoEffectToAll, 0);
}

void ImageEditor::ApplyOverlayAndPhotoEffect() {
  if (!channel_) return;
  const ov::String name = GetString(ui::Host(), kOverlayEffect);
  const ov::String overlay = name.IsEmpty() || !ui::Host() ? ov::String() : ui::Host()->SkinFolder() + u"/" + name;
  const int32_t count = channel_->ClipCount();
  const int32_t selected = Selected();
  for (int32_t c = 0; c < count; ++c) {
    if (GetNumeric(ui::Host(), kAssignOverlayToAll) == 1 || c == selected) channel_->SetClipOverlayFile(c, overlay);
    if (GetNumeric(ui::Host(), kAssignPhotoEffectToAll) == 1 || c == selected) {
      channel_->SetClipPhotoEffect(c, static_cast<int32_t>(GetNumeric(ui::Host(), kPhotoEffect)));
    }
  }
}

void ImageEditor::LoadPanZoomOptions() {
  uint32_t start = kWholePicture, end = kWholePicture;
  int32_t speed = 0;
  channel_->GetClipPanZoom(Selected(), &start, &end, &speed);
  if (speed == 0 || speed == kDefaultPanSpeed || !mixer_) speed = kPanSpeedDefault;
  SetNumeric(ui::Host(), kEffectSpeed, static_cast<uint32_t>(speed));
  SetNumeric(ui::Host(), kKenStart, start);
  SetNumeric(ui::Host(), kKenEnd, end);
  SetNumeric(ui::Host(), kKenBurnsPosition, 0);
  SetNumeric(ui::Host(), kAssignKenBurnsToAll, 0);
  SetNumeric(ui::Host(), kImageInterval, static_cast<uint32_t>(std::max(channel_->GetClipDisplayTime(0), 0)));
}

void ImageEditor::ApplyPanZoom() {
  const uint32_t start = GetNumeric(ui::Host(), kKenStart), end = GetNumeric(ui::Host(), kKenEnd);
  if (!channel_ || !mixer_ || start == end) return;
  const auto speed = static_cast<int32_t>(GetNumeric(ui::Host(), kEffectSpeed));
  const bool all = GetNumeric(ui::Host(), kAssignKenBurnsToAll) == 1;
  for (int32_t c = 0; c < channel_->ClipCount(); ++c) {
    if (!all && c != Selected()) continue;
    channel_->SetClipPanZoom(c, start, end, speed);
    channel_->SetClipCropOn(c, 0);
  }
}

// The channel's effect cache (a file effect's mask), decoded behind the
// progress popup; nothing to do for a channel without one.
void ImageEditor::StartDecompression() {
  ui::UiHost* host = ui::Host();
  if (!host || !channel_ || !channel_->NeedsEffectCache()) return;
  DecompressionJob job;
  job.channels.push_back(channel_);
  engine::MixEngine* shared = host->GetMixEngine();
  job.video = shared ? shared->videoMixer() : nullptr;
  job.preview = true;
  job.mode = engine::MediaDecompressor::kEffects;
  job.index_base = channel_index_;
  decompression_.Start(host, std::move(job));
}

// ---------------------------------------------------------------------------
// Rotation

void ImageEditor::SaveState(ov::Archive* archive) {
  SavePictureState(archive, first_clip_file_, play_index_);
  Control::SaveState(archive);
}

void ImageEditor::LoadState(ov::Archive* archive) {
  LoadPictureState(archive, &first_clip_file_, &play_index_);
  play_index_ = 0;
  Control::LoadState(archive);
}

}  // namespace screens
