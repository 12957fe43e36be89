#include "screens/editors/pan_zoom_editor.h"

#include <algorithm>

#include "engine/engine_command.h"
#include "engine/mix_engine.h"
#include "engine/video_mixer.h"
#include "platform/os/thread.h"
#include "screens/editors/editor_options.h"
#include "screens/editors/file_title.h"
#include "screens/project/channel_selection.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

using namespace picture_options;

constexpr uint32_t kCheckPeriodMs = 250;
// The preview stops at the first check once the movement has been seen
// finished for this long.
constexpr uint32_t kEndHoldMs = 1000;

}  // namespace

PanZoomEditor::PanZoomEditor() : PictureEditor(ui::kTypePanZoomEditor) {}

PanZoomEditor::~PanZoomEditor() = default;

void PanZoomEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (ui::NameIs(name, u"positionText")) position_text_name_ = value;
  else if (ui::NameIs(name, u"startRectangleText")) start_rectangle_text_ = value;
  else if (ui::NameIs(name, u"endRectangleText")) end_rectangle_text_ = value;
  else PictureEditor::LoadAttribute(name, value);
}

int PanZoomEditor::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  auto* menu = dynamic_cast<ui::Menu*>(parent_);
  const bool in_history = host && menu && host->IsMenuInHistory(menu);
  bool handled = true;
  switch (code) {
    case ui::kActionMenuShown:
      preview_end_time_ = 0;
      ReleaseHeldMutex();
      RequestRefresh();
      Repaint();
      break;
    case ui::kActionAfterRotation:
      if (in_history) {
        // The turn rebuilt the screens: the same clip of the same channel.
        if (!channel_name_.IsEmpty()) Open(channel_name_);
        host->UpdateEffectControls();
      }
      break;
    case ui::kActionLeavingMenu:
      if (playing_) StopPreview();
      HoldMutex();
      playing_ = paused_ = false;
      clip_index_ = 0;
      DeleteCaches();
      if (host) host->SetKeepAwake(false);
      break;
    case ui::kActionInitialise:
      handled = false;
      InitialisePreview();
      break;
    case ui::kActionOptionsChanged: {
      const uint32_t r = GetNumeric(ui::Host(), GetNumeric(ui::Host(), kKenBurnsPosition) == 0 ? kKenStart : kKenEnd);
      if (r != edit_rect_) {
        edit_rect_ = r;
        Repaint();
      }
      break;
    }
    case ui::kActionPanZoomClip:
      clip_index_ = ui::ParseDecimal(argument);
      break;
    case ui::kActionPanZoomChannel:
      Open(argument);
      break;
    case ui::kActionEditorPlay:
      preview_end_time_ = 0;
      PlayOrResume();
      break;
    case ui::kActionEditorStop:
      StopPreview();
      FormatTime();
      break;
    case ui::kActionEditorTick:
      FormatTime();
      Repaint();
      break;
    case ui::kActionEditorCropPhoto:
      if (channel_) {
        const bool on = channel_->GetClipCropOn(clip_index_) == 0;
        channel_->SetClipCropOn(clip_index_, on ? 1 : 0);
        if (host) host->CheckActionItems(on, nullptr, ui::kActionEditorCropPhoto, 1);
      }
      break;
    case ui::kActionSelectionChanged:
      RequestRefresh();
      Repaint();
      break;
    default:
      handled = OnSharedAction(code);
      break;
  }
  if (handled) UpdateControls();
  return Control::OnAction(code, argument, flag);
}

void PanZoomEditor::Open(const ov::String& name) {
  channel_name_ = name;
  playing_ = paused_ = false;
  interval_snapshot_ = GetNumeric(ui::Host(), kImageInterval);
  clip_file_ = ov::String();
  if (OpenChannel(name)) {
    // The movement works on the whole photo.
    channel_->SetClipCropOn(clip_index_, 0);
    clip_file_ = channel_->GetClipFile(clip_index_);
  }
  ReadPictureSize(clip_file_);
  RequestRefresh();
  FormatTime();
}

// ---------------------------------------------------------------------------
// The stylus

void PanZoomEditor::StoreRect(uint32_t rect) {
  // The editor takes the stored value, as code 36 also makes it: the
  // smaller corner is the anchor of the next move.
  edit_rect_ = OrderRect(rect);
  SetNumeric(ui::Host(), GetNumeric(ui::Host(), kKenBurnsPosition) == 0 ? kKenStart : kKenEnd, edit_rect_);
  RefreshBoundTexts(ui::Host());
}

bool PanZoomEditor::OnStylusDown(int32_t x, int32_t y) {
  int32_t gx = 0, gy = 0;
  if (!channel_ || !GridPoint(x, y, &gx, &gy)) return false;
  edit_rect_ = TapRect(gx, gy);
  if (ui::UiHost* host = ui::Host()) host->SetPressedElement(this);
  StoreRect(edit_rect_);
  return true;
}

bool PanZoomEditor::OnStylusMove(int32_t x, int32_t y) {
  int32_t gx = 0, gy = 0;
  if (!channel_ || !GridPoint(x, y, &gx, &gy)) return false;
  StoreRect(DragRect(edit_rect_, gx, gy));
  Repaint();
  return true;
}

bool PanZoomEditor::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  return true;
}

// ---------------------------------------------------------------------------
// The preview

void PanZoomEditor::PlayClip() {
  const ChannelClip* clip = LoadClip(clip_index_, false);
  if (!clip) return;
  // The rectangles being edited, not the clip's stored movement.
  const uint32_t start = GetNumeric(ui::Host(), kKenStart), end = GetNumeric(ui::Host(), kKenEnd);
  if (start != end) {
    Post(engine::CMD_PAN_ZOOM, static_cast<int32_t>(GetNumeric(ui::Host(), kEffectSpeed)), static_cast<int32_t>(start),
         static_cast<int32_t>(end));
  }
  Post(engine::CMD_PLAY);
}

void PanZoomEditor::StopPreview() {
  if (playing_ && engine_) engine_->StopAllChannels();
  playing_ = paused_ = false;
}

void PanZoomEditor::OnTick(gfx::Rect* area, uint32_t now) {
  CheckNewFrame();
  if (playing_ && engine_ && (!checked_ || now - last_check_ >= kCheckPeriodMs)) {
    checked_ = true;
    last_check_ = now;
    const uint32_t tick = ov::GetTickCount();
    bool stop = false;
    if (!engine_->IsChannelPlaying(engine::kFirstVideoChannel)) {
      stop = true;
    } else if (preview_end_time_ != 0) {
      // The movement was seen finished at the last check.
      stop = true;
    } else if (engine_->videoMixer() && engine_->videoMixer()->AreOverlaysFinished(0)) {
      preview_end_time_ = tick + kEndHoldMs;
    }
    if (stop) {
      StopPreview();
      UpdateControls();
      Repaint();
    }
    FormatTime();
  }
  Control::OnTick(area, now);
}

void PanZoomEditor::FormatTime() {
  const ChannelClip* clip = channel_ ? channel_->clip(clip_index_) : nullptr;
  total_seconds_ = clip ? static_cast<uint32_t>(std::max(clip->displayTime, 0)) / 1000 : 0;
  clip_title_ = clip ? FileTitle(clip->sourceFile) : ov::String();
  PublishTime(engine_ && (playing_ || paused_) ? PlayPosition() : 0);
}

void PanZoomEditor::UpdateControls() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  UpdatePreviewControls({ui::kActionEditorAddEffect, ui::kActionEditorAddOverlay, ui::kActionAddText},
                        host->FindElementByType(nullptr, ui::kTypePlaylistOrder, 0));
  // Which rectangle the stylus draws, in words.
  ui::Element* label =
      position_text_name_.IsEmpty() ? nullptr : host->FindElementByName(nullptr, position_text_name_, false);
  if (label) {
    const ov::String& wanted = GetNumeric(host, kKenBurnsPosition) == 0 ? start_rectangle_text_ : end_rectangle_text_;
    if (label->text() != wanted) {
      label->OnAction(ui::kActionSetText, wanted, 0);
      host->InvalidateArea(label->bounds());
    }
  }
}

void PanZoomEditor::Draw(gfx::HDC dc, int state) {
  (void)state;
  DrawBox(dc, edit_rect_, true, edit_rect_ != 0);
  ResetRect();
}

// ---------------------------------------------------------------------------
// Rotation: the words of the photo editor's state, with the channel's name
// (saved so that the turn can reopen the channel).

void PanZoomEditor::SaveState(ov::Archive* archive) {
  SavePictureState(archive, clip_file_, clip_index_);
  Control::SaveState(archive);
}

void PanZoomEditor::LoadState(ov::Archive* archive) {
  LoadPictureState(archive, &clip_file_, &clip_index_);
  Control::LoadState(archive);
}

}  // namespace screens
