#include "screens/mixer/mixer.h"

#include <algorithm>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "platform/gfx/dc.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window.h"
#include "screens/project/channel_selection.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr uint32_t kTickPeriodMs = 250;
// How far short of the longest mix a take without a set length stops: room
// for a tick that comes late.
constexpr uint32_t kLongestMixMarginMs = 10000;
constexpr int kOptionMixDurationLeft = 36;
constexpr int kStringPreviewPos = 9;
constexpr int kStringPreviewLen = 10;
constexpr int kStringLastProject = 22;
constexpr int kHelpMixerScreen = 9;
constexpr int kHelpMixStopped = 10;
constexpr int32_t kMaxFps = 60;
constexpr int32_t kMaxMixSide = 1024;
// Inset of the empty-mix note from the mixer's edges, in pixels.
constexpr int32_t kNoteInset = 4;
constexpr uint32_t kNoteInk = 0xFFFFFF;

constexpr char16_t kOpenMixCaption[] = u"Open mix";

constexpr std::array<const char16_t*, 7> kEntryPrefixes = {u"iconAud",     u"filename",    u"tempoIcon", u"speakerIcon",
                                                           u"invalidIcon", u"iconVid", u"iconPic"};

ui::UiHost* HostOrNull() { return ui::Host(); }

}  // namespace

Mixer::Mixer() { type_ = ui::kTypeMixer; }

Mixer::~Mixer() {
  CancelDecompression(false);
  SuspendRender();
}

void Mixer::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String Mixer::*field;
  };
  static const Text kTexts[] = {
      {u"channels", &Mixer::channels_attr_},          {u"startCredits", &Mixer::start_credits_name_},
      {u"timerIcon", &Mixer::timer_icon_name_},        {u"endCredits", &Mixer::end_credits_name_},
      {u"audioEffectMenu", &Mixer::audio_effect_menu_name_}, {u"videoEffectMenu", &Mixer::video_effect_menu_name_},
      {u"wizardMenu", &Mixer::wizard_menu_name_},
  };
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  if (ui::NameIs(name, u"fps")) {
    // A rate no picture stream has keeps the default.
    const int32_t fps = ui::ParseDecimal(value);
    if (fps >= 1 && fps <= kMaxFps) fps_ = fps;
    return;
  }
  if (ui::NameIs(name, u"EffectOffsetX")) {
    effect_offset_x_ = ui::ParseCoordinate(value);
    if (video_effect_menu_) video_effect_menu_->SetAuxValue(effect_offset_x_);
    return;
  }
  if (ui::NameIs(name, u"mixSizeX")) {
    mix_size_x_ = ui::ParseCoordinate(value);
    return;
  }
  if (ui::NameIs(name, u"mixSizeY")) {
    mix_size_y_ = ui::ParseCoordinate(value);
    return;
  }
  for (size_t f = 0; f < kEntryPrefixes.size(); ++f) {
    const std::u16string_view prefix = kEntryPrefixes[f];
    const int n = static_cast<int>(prefix.size());
    if (name.Length() < n || !name.Left(n).EqualsNoCase(prefix)) continue;
    // The rest is the entry number: none is entry 0; anything but 0-7 is ignored.
    const ov::String rest = name.Mid(n);
    int entry = 0;
    if (!rest.IsEmpty()) {
      if (rest.Length() > 1 || rest[0] < u'0' || rest[0] > u'7') return;
      entry = rest[0] - u'0';
    }
    SetEntryName(entry, static_cast<int>(f), value);
    return;
  }
  Control::LoadAttribute(name, value);
}

void Mixer::SetEntryName(int entry, int field, const ov::String& value) {
  MixChannelEntry& e = table_[static_cast<size_t>(entry)];
  ov::String* const names[] = {&e.iconAudName,      &e.fileNameName,  &e.tempoIconName, &e.speakerIconName,
                               &e.invalidIconName, &e.iconVidName,    &e.iconPicName};
  *names[field] = value;
}

// ---- the channel table ----

void Mixer::SetChannels() {
  channel_count_ = 0;
  for (MixChannelEntry& e : table_) e.channel = nullptr;
  ui::UiHost* host = HostOrNull();
  if (channels_attr_.IsEmpty() || !host) return;
  auto find = [&](const ov::String& name) -> ChannelSelection* {
    if (name.IsEmpty()) return nullptr;
    ui::Element* e = host->FindElementByName(host->RootMenu(), name, true);
    return e && e->GetType() == ui::kTypeChannelSelection ? dynamic_cast<ChannelSelection*>(e) : nullptr;
  };
  int start = 0;
  const int length = channels_attr_.Length();
  while (start <= length && channel_count_ < kClipChannels) {
    int end = channels_attr_.Find(u' ', start);
    if (end < 0) end = length;
    if (ChannelSelection* ch = find(channels_attr_.Mid(start, end - start))) {
      table_[static_cast<size_t>(channel_count_++)].channel = ch;
    }
    start = end + 1;
  }
  const std::pair<const ov::String*, int> credits[] = {{&start_credits_name_, kStartCreditsEntry},
                                                       {&end_credits_name_, kEndCreditsEntry}};
  for (const auto& [name, entry] : credits) {
    if (ChannelSelection* ch = find(*name)) {
      table_[static_cast<size_t>(entry)].channel = ch;
      ++channel_count_;
      ch->AddEmptyTextClip();
    }
  }
}

bool Mixer::Link::MayQuit() {
  return owner_->ConfirmTakeLoss(u"Quit", u"Quit");
}

int32_t Mixer::Link::FindChannelIndex(ui::Element* channel) {
  // Another element may answer the channel type (a stand-in); only a channel
  // of ours is in the table.
  const auto* ours = dynamic_cast<const ChannelSelection*>(channel);
  return ours ? owner_->FindChannelIndex(ours) : -1;
}

int Mixer::FindChannelIndex(const ChannelSelection* channel) const {
  if (!channel) return -1;
  for (int i = 0; i < kMaxEntries; ++i) {
    if (table_[static_cast<size_t>(i)].channel == channel) return i;
  }
  return -1;
}

int32_t Mixer::GetChannelKind(int i) const {
  if (i < 0 || i >= kMaxEntries || !table_[static_cast<size_t>(i)].channel) return kKindEmpty;
  return table_[static_cast<size_t>(i)].channel->GetKind();
}

int Mixer::CountUsedChannels() const {
  int n = 0;
  for (int i = 0; i < kMaxEntries; ++i) n += GetChannelKind(i) != kKindEmpty;
  return n;
}

bool Mixer::HasEndCreditsText() const {
  ChannelSelection* ch = table_[kEndCreditsEntry].channel;
  if (!ch) return false;
  const ChannelClip* c = ch->clip(0);
  return c && !c->clipText.textString.IsEmpty();
}

void Mixer::ShowClipName(int i) {
  if (i < 0 || i >= kMaxEntries) return;
  MixChannelEntry& e = table_[static_cast<size_t>(i)];
  if (!e.fileNameText) return;
  ov::String text;
  if (e.channel && e.channel->GetKind() != kKindEmpty) {
    ov::String name = e.channel->GetClipFile(e.playIndex);
    const int slash = name.ReverseFind(u'/');
    const int dot = name.ReverseFind(u'.');
    if (slash >= 0 && dot > slash) name = name.Mid(slash + 1, dot - slash - 1);
    text = e.channel->ClipCount() > 1 ? ov::String::Format(u"(%d/%d) %s", e.playIndex + 1, e.channel->ClipCount(), name)
                                      : name;
  }
  e.fileNameText->OnAction(ui::kActionSetText, text, 0);
}

void Mixer::UpdateEndTime() {
  if (settings_[kWizardMediaLength] != 0) {
    end_time_ = static_cast<uint32_t>(settings_[kWizardMediaLength]) * 1000u;
    return;
  }
  if (settings_[kWizardMediaSize] == 0 || !engine_) {
    end_time_ = 0;
    return;
  }
  const engine::OutputOptions o = ToOutputOptions(settings_);
  const uint32_t rate = engine::ExportByteRate(engine_->GetExportSettings(o, render_target_, true));
  // Neither sound nor picture: no rate to turn the size into a length.
  end_time_ = rate == 0 ? 0 : static_cast<uint32_t>(uint64_t(o.size) * 900u / rate);
}

void Mixer::PublishTimeLeft() {
  ui::UiHost* host = HostOrNull();
  if (!host || !engine_) return;
  const uint32_t p = engine_->GetPlayPosition();
  // Past the end no time is left (the tick stops the mix).
  const uint32_t left = p <= end_time_ ? end_time_ - p : 0;
  const uint32_t seconds = left / 1000;
  uint32_t* option = host->NumericOption(kOptionMixDurationLeft);
  if (option && *option != seconds) {
    *option = seconds;
    host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  }
}

void Mixer::ResolveNames() {
  ui::UiHost* host = HostOrNull();
  if (!host) return;
  auto find = [&](const ov::String& name) -> ui::Element* {
    return name.IsEmpty() ? nullptr : host->FindElementByName(nullptr, name, false);
  };
  for (int i = 0; i < kMaxEntries; ++i) {
    MixChannelEntry& e = table_[static_cast<size_t>(i)];
    e.iconPic = find(e.iconPicName);
    e.iconVid = find(e.iconVidName);
    e.iconAud = find(e.iconAudName);
    e.fileNameText = find(e.fileNameName);
    e.invalidIcon = find(e.invalidIconName);
    e.tempoIcon = find(e.tempoIconName);
    e.speakerIcon = find(e.speakerIconName);
  }
  audio_effect_menu_ = find(audio_effect_menu_name_);
  video_effect_menu_ = find(video_effect_menu_name_);
  if (!timer_icon_name_.IsEmpty()) timer_icon_ = find(timer_icon_name_);
  save_button_ = find(u"save_button");
  const uint32_t duration = engine_ ? engine_->GetMixDuration() : 0;
  if (ov::String* len = host->StringOption(kStringPreviewLen)) {
    *len = duration == 0 ? ov::String(u"00:00")
                         : ov::String::Format(u"%.2d:%.2d", duration / 60000, (duration / 1000) % 60);
  }
  if (ov::String* pos = host->StringOption(kStringPreviewPos)) *pos = u"00:00";
  host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  for (int i = 0; i < kMaxEntries; ++i) ShowClipName(i);
}

// ---- controls ----

void Mixer::UpdateControls() {
  ui::UiHost* host = HostOrNull();
  if (!host) return;
  auto enable = [&](int32_t code, bool on) { host->EnableActionItems(on, nullptr, code, 1); };
  auto show = [](ui::Element* e, bool on) {
    if (e) e->SetVisible(on);
  };
  const int32_t type = settings_[kWizardMediaType] & 3;
  // An entry without a channel element is walked too: its clip channel's
  // codes are disabled.
  for (int i = 0; i < kMaxEntries; ++i) {
    MixChannelEntry& e = table_[static_cast<size_t>(i)];
    const int32_t kind = e.channel ? e.channel->GetKind() : kKindEmpty;
    bool invalid = false;
    if (type == 1) invalid = kind == kKindAudio || kind == kKindText;
    if (type == 2) {
      invalid = kind == kKindImage || kind == kKindText || (kind == kKindVideo && !e.channel->ClipHasAudio(e.playIndex));
    }
    if (type == 3) invalid = kind != kKindEmpty;
    show(e.invalidIcon, invalid);
    const bool effect_on = e.channel && e.channel->effect_on();
    const bool other = kind != kKindAudio && kind != kKindImage && kind != kKindVideo;
    const bool usable = !(other && i < kClipChannels);
    enable(143 + i, usable && effect_on);
    enable(135 + i, usable && !effect_on);
    enable(127 + i, usable && e.active);
    enable(119 + i, usable && !e.active);
    if (e.tempoIcon) e.tempoIcon->SetEnableBit(e.speakerMode != 0, 31);
    if (e.speakerIcon) e.speakerIcon->SetEnableBit(e.speakerMode == 0, 31);
    if (i >= kClipChannels) continue;  // the per-kind codes exist for the clip channels only
    const bool set = e.channel && e.channel->channel_effect().type != engine::CMD_NOP;
    const bool picture = kind == kKindImage || kind == kKindVideo;
    const bool sound = kind == kKindAudio || kind == kKindVideo;
    show(e.iconAud, kind == kKindAudio);
    show(e.iconPic, kind == kKindImage);
    show(e.iconVid, kind == kKindVideo);
    enable(282 + i, picture && set);
    enable(294 + i, picture && !set);
    enable(288 + i, kind == kKindAudio && set);
    enable(300 + i, kind == kKindAudio && !set);
    enable(175 + i, sound && e.speakerMode == 0);
    enable(152 + i, sound && e.speakerMode != 0);
    show(e.tempoIcon, sound);
    show(e.speakerIcon, sound);
  }
  const bool decoding = decompression_.running();
  const bool stop_ok = mixing_ && !start_credits_playing_ && (end_credits_playing_ || !end_credits_have_text_);
  auto enable_named = [&](const char16_t* name, bool on) {
    if (ui::Element* el = host->FindElementByName(nullptr, name, false)) el->SetEnableBit(on, 31);
  };
  enable_named(u"StartMix", !mixing_);
  enable_named(u"StopMix", stop_ok);
  enable_named(u"StartCredits", mixing_ && start_credits_playing_);
  enable_named(u"StopCredits",
               mixing_ && !start_credits_playing_ && !end_credits_playing_ && end_credits_have_text_);
  enable(ui::kActionMixerWizard, !mixing_);
  enable(225, !mixing_);
  // The time left means something only under a length or size limit.
  show(timer_icon_, mixing_ && end_time_ != 0);
  enable(96, !mixing_ && !decoding);
  enable(ui::kActionMixStop, !decoding && stop_ok);
  enable(97, mixing_ && !decoding && start_credits_playing_);
  enable(98, mixing_ && !decoding && !start_credits_playing_ && !end_credits_playing_ && end_credits_have_text_);
  enable(94, !muted_);
  enable(95, muted_);
  const bool replaying = engine_ && engine_->IsReplaying();
  const bool paused = engine_ && engine_->IsPaused();
  host->SetKeepAwake(mixing_ || replaying || decoding || (engine_ && engine_->IsRenderRunning()));
  const bool has_actions = engine_ && engine_->HasActions();
  show(save_button_, has_actions && !mixing_);
  enable(ui::kActionMixerSaveMenu, has_actions && !mixing_);
  const bool r = !replaying || paused;
  enable(113, r);
  enable(114, !r);
  enable(115, replaying && !paused);
  if (r && !mixing_) host->SetLiveVideoArea(0, 0, 0, 0);
  else host->SetLiveVideoArea(x_, y_, x_size_, y_size_);
}

bool Mixer::LiveVideoShown() const {
  const bool replaying = engine_ && engine_->IsReplaying() && !engine_->IsPaused();
  return mixing_ || replaying;
}

// The live picture goes to the window on this (the UI) thread: the engine's
// present thread only marks a new frame.
void Mixer::DrawLiveVideo() {
  ui::UiHost* host = HostOrNull();
  if (!host || !engine_ || !engine_->FrameChanged()) return;
  gfx::HBitmap surface = host->WindowSurface();
  if (!surface) return;
  const engine::Picture565 window{surface->bits(), surface->width(), surface->height(), surface->stride()};
  engine_->DrawFrame(window, x_, y_);
  host->PresentArea({x_, y_, x_ + x_size_, y_ + y_size_});
}

void Mixer::Draw(gfx::HDC dc, int state) {
  (void)state;
  if (!LiveVideoShown() && engine_ && x_size_ > 0 && y_size_ > 0) {
    // Through a bitmap of the element's size, so that the clip of `dc` holds.
    gfx::HBitmap frame = gfx::CreateBitmap565(x_size_, y_size_);
    if (frame) {
      const engine::Picture565 pic{frame->bits(), frame->width(), frame->height(), frame->stride()};
      engine_->DrawFrame(pic, 0, 0);
      auto mem = gfx::CreateCompatibleDC(dc);
      mem->SelectBitmap(frame);
      gfx::BitBlt(dc, x_, y_, x_size_, y_size_, mem.get(), 0, 0, gfx::kSrcCopy);
    }
  }
  // After a failed load the empty picture says why it is empty, until the
  // mix holds something again.
  if (!LiveVideoShown() && !empty_note_.IsEmpty() && MixIsEmpty()) {
    if (text_ != empty_note_) SetText(empty_note_);
    // In light ink on the black picture, whatever the skin's text colour,
    // inside a margin.
    const int32_t width = x_size_;
    const uint32_t ink = idle_colour_;
    x_size_ = std::max(width - 2 * kNoteInset, 1);
    idle_colour_ = kNoteInk;
    DrawTextBlock(dc, ui::kDrawNormal, x_ + kNoteInset, y_ + kNoteInset, false);
    idle_colour_ = ink;
    x_size_ = width;
  }
  ResetRect();
}

void Mixer::OnTick(gfx::Rect* area, uint32_t now) {
  decompression_.Tick(ui::Host());
  if (LiveVideoShown()) DrawLiveVideo();
  if (!ticked_ || now - last_tick_ > kTickPeriodMs) {
    ticked_ = true;
    last_tick_ = now;
    AdvanceChannelsOnTick();
    // A take ends at its set length, and short of the longest mix a record
    // holds (a saved take past it could not be loaded again).
    const uint32_t longest = engine::ActionProcessor::kMaxMixMs - kLongestMixMarginMs;
    const uint32_t end = end_time_ != 0 ? std::min(end_time_, longest) : longest;
    if (mixing_ && engine_) {
      const uint32_t p = engine_->GetPlayPosition();
      const uint32_t left = p <= end ? end - p : 0;
      if (left < kTickPeriodMs) {
        OnAction(ui::kActionMixStop, ov::String(), 0);
        // Stopped by itself, not by a tap: nothing else repaints the
        // buttons it enabled and disabled, or the live area it left.
        if (ui::UiHost* host = HostOrNull()) host->InvalidateAll();
      } else {
        PublishTimeLeft();
      }
    } else {
      PublishTimeLeft();
    }
  }
  Control::OnTick(area, now);
}

// ---- options ----

void Mixer::CopySettingsToOptions() {
  ui::UiHost* host = HostOrNull();
  if (!host) return;
  for (int i = 0; i < kOutputSettingCount; ++i) {
    host->StoreOption(kOutputSettingKeys[static_cast<size_t>(i)],
                      ov::String::Format(u"%d", settings_[static_cast<size_t>(i)]));
  }
}

void Mixer::CopyOptionsToSettings() {
  ui::UiHost* host = HostOrNull();
  if (!host) return;
  for (int i = 0; i < kOutputSettingCount; ++i) {
    ov::String text;
    bool numeric = false;
    if (host->ReadOption(kOutputSettingKeys[static_cast<size_t>(i)], &text, &numeric)) {
      settings_[static_cast<size_t>(i)] = static_cast<int32_t>(static_cast<uint32_t>(text.ToInt()));
    }
  }
}

// ---- actions ----

void Mixer::Initialise() {
  ui::UiHost* host = HostOrNull();
  render_process_ = 0;
  // The live picture is at most a screen's size: a larger (or unset) size
  // from the skin takes the element's.
  if (mix_size_x_ <= 0 || mix_size_y_ <= 0 || mix_size_x_ > kMaxMixSide || mix_size_y_ > kMaxMixSide) {
    mix_size_x_ = x_size_;
    mix_size_y_ = y_size_;
  }
  if (host && !host->GetMixEngine() && mix_size_x_ > 0 && mix_size_y_ > 0) {
    auto audio = std::make_unique<engine::AudioMixer>(16, 22050, 2);
    auto video = std::make_unique<engine::VideoMixer>(mix_size_x_, mix_size_y_, static_cast<uint32_t>(fps_), 0);
    auto mix = std::make_shared<engine::MixEngine>(std::move(audio), std::move(video));
    // The engine's end-of-clip (227) and end-of-replay (5) actions reach the
    // UI thread through the shell's queue.
    mix->SetActionQueue([host](uint32_t action, const ov::String& argument) {
      host->QueueAction(nullptr, static_cast<int32_t>(action), argument, 1);
    });
    host->SetMixEngine(std::move(mix));
  }
  settings_ = DefaultOutputSettings();
  CopySettingsToOptions();
  engine_ = host ? host->GetMixEngine() : nullptr;
  SetChannels();
}

void Mixer::ResetEntryFor(const ov::String& identity) {
  uint64_t id = 0;
  for (int i = 0; i < identity.Length(); ++i) {
    if (identity[i] < u'0' || identity[i] > u'9') return;
    id = id * 10 + static_cast<uint64_t>(identity[i] - u'0');
  }
  for (MixChannelEntry& e : table_) {
    if (e.channel && reinterpret_cast<uintptr_t>(e.channel) == id) e.Reset();
  }
}

int Mixer::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = HostOrNull();
  bool handled = true, update = true;
  switch (code) {
    case ui::kActionInitialise:
      Initialise();
      return Control::OnAction(code, argument, flag);
    case engine::kActionReplayEnded:
      break;
    case ui::kActionMenuShown:
      if (host) {
        host->RequestHelpTip(kHelpMixerScreen);
        engine_ = host->GetMixEngine();  // the host owns the set; it may have replaced it
      }
      ResolveNames();
      StartDecompression();
      if (engine_) engine_->SetDisplayRect(x_, y_, x_size_, y_size_);
      end_credits_have_text_ = HasEndCreditsText();
      if (host) {
        if (uint32_t* left = host->NumericOption(kOptionMixDurationLeft)) *left = 0;
      }
      break;
    case ui::kActionAfterRotation:
      // The preview's mixer keeps no channel settings: its zeros would reach
      // the same sliders.
      if (type_ != ui::kTypeMixer) break;
      ResumeRender();
      ShowVolumes();
      break;
    case ui::kActionLeavingMenu:
    case ui::kActionDeactivated:
      if (mixing_) OnAction(ui::kActionMixStop, ov::String(), 0);
      start_credits_playing_ = end_credits_playing_ = false;
      if (host) host->SetKeepAwake(false);
      break;
    case ui::kActionMixStop:
      if (live() && live()->IsPlaying()) {
        mixing_ = false;
        // The stop ends the take with one more command: a save made while
        // it ran no longer holds all of it.
        take_unsaved_ = true;
        PostNew(engine::CMD_ACK, 0);
        live()->StopAllChannels();
        end_credits_playing_ = false;
        for (int i = 0; i < kMaxEntries; ++i) {
          table_[size_t(i)].playIndex = 0;
          ShowClipName(i);
        }
        if (host) host->RequestHelpTip(kHelpMixStopped);
      }
      break;
    case ui::kActionMixerWizard:
      CopySettingsToOptions();
      if (host) {
        host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
        if (!wizard_menu_name_.IsEmpty()) {
          host->JumpToMenu(wizard_menu_name_);
          // Once more on the settings' own screen, whose elements show the
          // options they are bound to.
          host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
        }
      }
      break;
    case ui::kActionMixerAcceptWizard: {
      // A choice no job renders is refused, not kept: the settings before it
      // stay, and the options show them again.
      const OutputSettings before = settings_;
      CopyOptionsToSettings();
      if (!CheckOutputChoice() && engine_) {
        settings_ = before;
        CopySettingsToOptions();
        if (host) host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
      }
      break;
    }
    case ui::kActionMixerSaveMenu:
      if (host) host->JumpToMenu(u"save_menu");
      break;
    case ui::kActionProjectLoad:
      if (ConfirmTakeLoss(kOpenMixCaption, u"Open another mix")) {
        if (LoadMix(argument)) {
          ShowVolumes();
        } else {
          ReportLoadFailure(argument);
        }
      }
      break;
    case ui::kActionProjectSave:
      SaveMix(argument.IsEmpty() && host ? host->DataFolder() + project_name_ : argument);
      break;
    case ui::kActionMixClear:
      if (ConfirmTakeLoss(u"Clear mix", u"Clear the mix")) ClearMix();
      break;
    case ui::kActionChannelKindChanged:
      ResetEntryFor(argument);
      break;
    case ui::kActionMixChanged:
      if (engine_) engine_->ClearActions();
      break;
    case ui::kActionMixLoad:
      if (OpenProject(argument)) ShowVolumes();
      break;
    case ui::kActionMixSave:
      SaveMixAs();
      break;
    case ui::kActionRenderMms:
    case ui::kActionRenderEmail:
    case ui::kActionRenderDevice:
    case ui::kActionCancelRender:
    case ui::kActionRenderDone:
    case ui::kActionRenderFailed:
      OnRenderAction(code);
      break;
    default:
      handled = OnLiveAction(code, argument, &update);
      break;
  }
  if (handled && update) UpdateControls();
  return Control::OnAction(code, argument, flag);
}

// ---- the project file ----

bool Mixer::SaveMix(const ov::String& path, SaveKind kind) {
  if (path.IsEmpty()) return false;
  const uint32_t attributes = ov::GetFileAttributes(path);
  if (attributes != ov::kInvalidAttributes && (attributes & ov::kAttributeReadOnly)) {
    ov::SetFileAttributes(path, attributes & ~ov::kAttributeReadOnly);
  }
  // All eight entries, an entry without a channel element as an empty block.
  std::vector<ChannelSelection*> channels;
  for (const MixChannelEntry& e : table_) channels.push_back(e.channel);
  std::vector<uint8_t> record;
  if (engine_) engine_->SaveActions(&record);
  else engine::ActionProcessor().Serialize(&record);
  std::vector<uint8_t> bytes;
  WriteProject(settings_, channels, record, &bytes);
  if (!ov::WriteFileAtomically(path, bytes.data(), bytes.size())) return false;
  // The program's own copies are replaced by the next turn or deleted at the
  // next start: they never become the last project, nor hold the take.
  if (kind == SaveKind::kCopy) return true;
  take_unsaved_ = false;
  if (ui::UiHost* host = HostOrNull()) {
    if (ov::String* last = host->StringOption(kStringLastProject)) *last = path;
    host->SaveOptionsLater();
  }
  return true;
}

void Mixer::ShowVolumes() {
  ui::UiHost* host = HostOrNull();
  if (!host || type_ != ui::kTypeMixer) return;
  for (int i = 0; i < kMaxEntries; ++i) {
    if (!table_[size_t(i)].channel) continue;
    host->DoAction(ui::kActionVolumeValue0 + i, ov::String::Format(u"%d", table_[size_t(i)].volume), 1);
  }
  if (auto* parent_menu = dynamic_cast<ui::Menu*>(parent_)) {
    if (ui::Element* vol = parent_menu->FindDescendant(u"mas_vol", false)) {
      vol->OnAction(ui::kActionSliderSet, ov::String::Format(u"%d", master_volume_), 0);
    }
  }
}

bool Mixer::LoadMix(const ov::String& given) {
  ui::UiHost* host = HostOrNull();
  ov::String path = given;
  if (path.IsEmpty() && host) {
    if (ov::String* last = host->StringOption(kStringLastProject)) path = *last;
  }
  missing_clip_ = ov::String();
  load_failure_ = LoadFailure::kNoProject;
  if (path.IsEmpty() || !ov::FileExists(path)) return false;
  load_failure_ = LoadFailure::kUnreadable;
  std::vector<uint8_t> bytes;
  if (!ov::ReadWholeFile(path, &bytes, kMaxProjectBytes)) return false;
  // The whole project is read and checked apart from the mix; only a
  // project that reads to its end replaces what is open.
  auto project = std::make_unique<MixProject>();
  ProjectReadError error;
  if (!ReadProject(bytes, host && host->RotationInProgress(), project.get(), &error)) {
    if (error.kind == ProjectReadError::Kind::kMissingClip) {
      missing_clip_ = error.missing;
      load_failure_ = LoadFailure::kMissingClip;
    }
    return false;
  }
  settings_ = project->settings;
  CopySettingsToOptions();
  // The block of an entry without a channel element has nowhere to go.
  for (int i = 0; i < kMaxEntries; ++i) {
    if (ChannelSelection* ch = table_[static_cast<size_t>(i)].channel) {
      ch->TakeDocument(&project->channels[static_cast<size_t>(i)]);
    }
  }
  if (engine_) engine_->ReplaceActions(std::move(project->actions));
  load_failure_ = LoadFailure::kNone;
  take_unsaved_ = false;
  return true;
}

bool Mixer::OpenProject(const ov::String& path) {
  if (!ConfirmTakeLoss(kOpenMixCaption, u"Open another mix")) return false;
  // No 328 before the load: a project that cannot be read leaves the open
  // mix and its take as they were, and one that reads replaces the
  // recorded actions with its own.
  if (LoadMix(path)) {
    empty_note_ = ov::String();
    return true;
  }
  ReportLoadFailure(path);
  return false;
}

void Mixer::ReportLoadFailure(const ov::String& given) {
  ov::String path = given;
  if (path.IsEmpty()) {
    ui::UiHost* host = HostOrNull();
    if (ov::String* last = host ? host->StringOption(kStringLastProject) : nullptr) path = *last;
  }
  const ov::String name = ov::FileNameOf(path);
  ov::String text;
  switch (load_failure_) {
    case LoadFailure::kNone:
      return;
    case LoadFailure::kNoProject:
      text = path.IsEmpty() ? ov::String(u"No mix has been saved yet.")
                            : u"The mix \"" + path + u"\" cannot be found.";
      empty_note_ = u"Empty mix: " + (path.IsEmpty() ? ov::String(u"no mix to open") : name + u" not found");
      break;
    case LoadFailure::kUnreadable:
      text = u"The mix \"" + name +
             u"\" cannot be read: the file is damaged, cut short, empty or of another version.";
      empty_note_ = u"Empty mix: " + name + u" cannot be read";
      break;
    case LoadFailure::kMissingClip:
      text = u"The mix \"" + name + u"\" cannot be opened: the file of one of its clips is missing " +
             u"(moved, renamed or deleted):\n" + missing_clip_;
      empty_note_ = u"Empty mix: the clip " + ov::FileNameOf(missing_clip_) + u" is missing";
      break;
  }
  // The note is for a mix left empty; a mix that is kept says nothing.
  if (!MixIsEmpty()) empty_note_ = ov::String();
  wnd::MessageBox(kOpenMixCaption, text, wnd::kBoxOk);
  if (ui::UiHost* host = HostOrNull()) host->InvalidateArea({x_, y_, x_ + x_size_, y_ + y_size_});
}

bool Mixer::MixIsEmpty() const {
  for (int i = 0; i < kMaxEntries; ++i) {
    const ChannelSelection* ch = table_[static_cast<size_t>(i)].channel;
    if (!ch) continue;
    if (i < kClipChannels) {
      if (ch->GetKind() != kKindEmpty) return false;
    } else if (const ChannelClip* c = ch->clip(0); c && !c->clipText.textString.IsEmpty()) {
      return false;
    }
  }
  return !(engine_ && engine_->HasActions());
}

// A take still running is never saved whole: what follows a save is not in
// the file.
bool Mixer::HasUnsavedTake() const { return mixing_ || (take_unsaved_ && engine_ && engine_->HasActions()); }

bool Mixer::ConfirmTakeLoss(const ov::String& caption, const ov::String& doing) {
  if (!HasUnsavedTake()) return true;
  // Phrased so that No, the answer of a run without a user, keeps the take.
  const ov::String question = u"The take you recorded has not been saved.\n" + doing + u" and lose it?";
  return wnd::MessageBox(caption, question, wnd::kBoxYesNo) == wnd::kAnswerYes;
}

bool Mixer::ClearMix() {
  settings_ = DefaultOutputSettings();
  for (int i = 0; i < kMaxEntries; ++i) {
    MixChannelEntry& e = table_[static_cast<size_t>(i)];
    if (!e.channel) continue;
    // Each channel element empties itself on its own clear code (82 + i;
    // the credits channels keep their empty text clip), wherever the mixer
    // screen stands.
    e.channel->OnAction(ui::kActionChannelClear0 + i, ov::String(), 1);
    e.Reset();
  }
  if (engine_) engine_->ClearActions();
  take_unsaved_ = false;
  empty_note_ = ov::String();
  return true;
}

bool Mixer::SaveMixAs() {
  ov::String folder = ov::DocumentsFolder();
  if (!folder.IsEmpty()) {
    folder = ov::JoinPath(folder, u"Zentyr");
    if (!ov::FolderExists(folder)) ov::CreateFolderTree(folder);
  }
  wnd::SaveFileRequest request;
  request.folder = folder;
  request.default_name = u"Default";
  request.default_extension = u"mix";
  request.filter = u"Mix (.mix)||";
  // An empty mix (a load that failed leaves one) asks its own question
  // before it replaces a project, in place of the plain overwrite prompt.
  const bool empty = MixIsEmpty();
  request.overwrite_prompt = !empty;
  ov::String path;
  if (!wnd::GetSaveFileName(request, &path)) return false;
  if (empty && ov::FileExists(path)) {
    ov::String text = ov::FileNameOf(path) + u" already exists, and this mix is empty";
    if (!empty_note_.IsEmpty()) text += u" (" + empty_note_ + u")";
    text += u".\nReplace the saved mix with an empty one?";
    if (wnd::MessageBox(u"Save As", text, wnd::kBoxYesNo) != wnd::kAnswerYes) return false;
  }
  if (SaveMix(path)) return true;
  // The write failed (the previous file, if any, is as it was and the take
  // stays unsaved): say so, with the cause the write left. An error: it
  // goes to stderr as well, as the window's error boxes do.
  const uint32_t error = ov::GetLastError();
  wnd::Window::ShowMessageBox(u"Save As", u"The mix was not saved to \"" + path + u"\": " +
                                              ov::String::FromUtf8Lossy(ov::ErrorText(error)) + u".");
  return false;
}

// ---- rotation ----

void Mixer::SaveState(ov::Archive* a) {
  // A preview keeps no project copy: only the control's state.
  if (type_ != ui::kTypeMixer) {
    Control::SaveState(a);
    return;
  }
  SuspendRender();
  ui::UiHost* host = HostOrNull();
  const ov::String rotate = (host ? host->DataFolder() : ov::String()) + u"rotate.mix";
  a->WriteI32(channel_count_);
  if (channel_count_ > 0) SaveMix(rotate, SaveKind::kCopy);
  a->WriteI32(end_credits_have_text_);
  for (int32_t v : settings_) a->WriteI32(v);
  a->WriteI32(render_active_);
  a->WriteI32(render_process_);
  a->WriteString(output_file_.View());
  a->WriteI32(render_target_);
  a->WriteI32(send_by_mms_);
  a->WriteI32(send_by_email_);
  a->WriteI32(master_volume_);
  a->WriteI32(selected_channel_);
  for (const MixChannelEntry& e : table_) e.Save(a);
  for (const ov::String* s : {&channels_attr_, &end_credits_name_, &start_credits_name_, &project_name_}) {
    a->WriteString(s->View());
  }
  for (bool b : {mixing_, muted_, start_credits_playing_, end_credits_playing_}) a->WriteI32(b);
  a->WriteI32(fps_);
  for (const ov::String* s :
       {&video_effect_menu_name_, &audio_effect_menu_name_, &wizard_menu_name_, &timer_icon_name_}) {
    a->WriteString(s->View());
  }
  a->WriteU32(end_time_);
  a->WriteI32(take_unsaved_);
  a->WriteString(empty_note_.View());
  Control::SaveState(a);
}

void Mixer::LoadState(ov::Archive* a) {
  if (type_ != ui::kTypeMixer) {
    Control::LoadState(a);
    return;
  }
  ui::UiHost* host = HostOrNull();
  const ov::String rotate = (host ? host->DataFolder() : ov::String()) + u"rotate.mix";
  int32_t count = 0;
  a->ReadI32(&count);
  if (count > 0) LoadMix(rotate);
  auto read_bool = [&](bool* b) {
    int32_t v = 0;
    a->ReadI32(&v);
    *b = v != 0;
  };
  read_bool(&end_credits_have_text_);
  for (int32_t& v : settings_) a->ReadI32(&v);
  read_bool(&render_active_);
  a->ReadI32(&render_process_);
  a->ReadString(&output_file_);
  a->ReadI32(&render_target_);
  read_bool(&send_by_mms_);
  read_bool(&send_by_email_);
  a->ReadI32(&master_volume_);
  a->ReadI32(&selected_channel_);
  for (MixChannelEntry& e : table_) e.Load(a);
  for (ov::String* s : {&channels_attr_, &end_credits_name_, &start_credits_name_, &project_name_}) a->ReadString(s);
  for (bool* b : {&mixing_, &muted_, &start_credits_playing_, &end_credits_playing_}) read_bool(b);
  a->ReadI32(&fps_);
  for (ov::String* s : {&video_effect_menu_name_, &audio_effect_menu_name_, &wizard_menu_name_, &timer_icon_name_}) {
    a->ReadString(s);
  }
  a->ReadU32(&end_time_);
  read_bool(&take_unsaved_);
  a->ReadString(&empty_note_);
  Control::LoadState(a);
}

}  // namespace screens
