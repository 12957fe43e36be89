// The mixer's live mixing: its action codes, the commands each gesture
// builds for the live player, clips following one another, the credits, the
// effect menus and beat matching.
#include "engine/engine_command.h"
#include "engine/mix_calls.h"
#include "engine/mix_engine.h"
#include "platform/os/file.h"
#include "screens/clip_commands.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/drop_down_menu.h"
#include "ui/item_group.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int32_t kVolumeScale = 655;  // 0-100 to the mixers' 0-65535
constexpr int32_t kRandomTransition = 205;
constexpr int32_t kRandomDirection = 5;
constexpr int32_t kDefaultTransitionMs = 500;
constexpr int kVideoStreamBase = 16;

uint32_t AudioStream(int i) { return static_cast<uint32_t>(i); }
uint32_t VideoStream(int i) { return static_cast<uint32_t>(i + kVideoStreamBase); }

// One row of the transition table: type, duration and direction.
struct Transition {
  int32_t type, duration, direction;
};

// The slide, fade and sweep codes; false for any other code.
bool TransitionOf(int32_t code, Transition* t) {
  static constexpr int32_t kDirections[4] = {4, 2, 1, 3};  // right, left, up, down
  if (code >= ui::kActionSlideSlowRight && code <= ui::kActionSlideFastDown) {
    *t = {engine::CMD_SLIDE, code < ui::kActionSlideFastRight ? 2000 : 500,
          kDirections[(code - ui::kActionSlideSlowRight) % 4]};
    return true;
  }
  if (code == ui::kActionFadeSlow || code == ui::kActionFadeFast) {
    *t = {engine::CMD_FADE, code == ui::kActionFadeSlow ? 2000 : 500, 4};
    return true;
  }
  if (code >= ui::kActionSweepSlowRight && code <= ui::kActionSweepFastDown) {
    *t = {engine::CMD_SWEEP, code < ui::kActionSweepFastRight ? 2000 : 500,
          kDirections[(code - ui::kActionSweepSlowRight) % 4]};
    return true;
  }
  return false;
}

}  // namespace

engine::MixCalls* Mixer::live() const {
  if (live_override_) return live_override_;
  return engine_;
}

void Mixer::Post(std::unique_ptr<engine::EngineCommand> command) {
  if (command && live()) live()->PostAction(std::move(command));
}

engine::EngineCommand* Mixer::PostNew(uint32_t type, uint32_t stream, int32_t param1) {
  if (!live()) return nullptr;
  auto c = std::make_unique<engine::EngineCommand>(engine::MakeCommand(type, stream, param1));
  engine::EngineCommand* kept = c.get();
  live()->PostAction(std::move(c));
  return kept;
}

// ---- builders ----

void Mixer::SendChannelTempo(int i) {
  if (!mixing_ || i < 0 || i >= kMaxEntries) return;
  const int32_t rate = (table_[size_t(i)].tempoLevel + 50) * 10;
  PostNew(engine::CMD_SET_RATE, AudioStream(i), rate);
  if (GetChannelKind(i) == kKindVideo) PostNew(engine::CMD_SET_RATE, VideoStream(i), rate);
}

void Mixer::SendChannelVolume(int i) {
  if (!mixing_ || i < 0 || i >= kMaxEntries) return;
  PostNew(engine::CMD_VOLUME, AudioStream(i), table_[size_t(i)].volume * kVolumeScale);
}

void Mixer::SendMasterVolume() {
  if (!mixing_) return;
  PostNew(engine::CMD_MASTER_VOLUME, 0, muted_ ? 0 : master_volume_ * kVolumeScale);
}

void Mixer::PlayVideoStream(int i, int32_t value) {
  if (mixing_) PostNew(engine::CMD_PLAY, VideoStream(i), value);
}

void Mixer::PlayAudioStream(int i, int32_t value) {
  if (mixing_) PostNew(engine::CMD_PLAY, AudioStream(i), value);
}

void Mixer::HaltVideoStream(int i, bool stop) {
  if (mixing_) PostNew(stop ? engine::CMD_STOP : engine::CMD_PAUSE, VideoStream(i));
}

void Mixer::HaltAudioStream(int i, bool stop) {
  if (mixing_) PostNew(stop ? engine::CMD_STOP : engine::CMD_PAUSE, AudioStream(i));
}

std::unique_ptr<engine::EngineCommand> Mixer::MakeEffectCommand(int i) {
  if (i < 0 || i >= kMaxEntries || !table_[size_t(i)].channel) return nullptr;
  auto c = std::make_unique<engine::EngineCommand>(table_[size_t(i)].channel->channel_effect());
  const bool audio = c->type >= engine::CMD_ECHO && c->type <= engine::CMD_REVERB;
  c->channel = audio ? AudioStream(i) : VideoStream(i);
  if (c->type == kRandomTransition) {
    static constexpr uint32_t kKinds[3] = {engine::CMD_SLIDE, engine::CMD_FADE, engine::CMD_SWEEP};
    c->type = kKinds[random_() % 3];
    if (c->param1 == 0) c->param1 = kDefaultTransitionMs;
    c->param2 = kRandomDirection;
  }
  if (c->param2 == kRandomDirection) c->param2 = 1 + static_cast<int32_t>(random_() % 4);
  return c;
}

void Mixer::EffectOn(int i) {
  ChannelSelection* ch = i >= 0 && i < kMaxEntries ? table_[size_t(i)].channel : nullptr;
  if (!ch) return;
  if (mixing_) {
    Post(MakeEffectCommand(i));
    SendChannelTempo(i);
  }
  ch->set_effect_on(1);
}

void Mixer::EffectOff(int i) {
  ChannelSelection* ch = i >= 0 && i < kMaxEntries ? table_[size_t(i)].channel : nullptr;
  if (!ch) return;
  if (mixing_) {
    auto c = MakeEffectCommand(i);
    c->flag = 1;
    Post(std::move(c));
  }
  ch->set_effect_on(0);
}

void Mixer::SetChannelEffect(int i, int32_t type, int32_t speed, int32_t direction, const ov::String& file) {
  ChannelSelection* ch = i >= 0 && i < kMaxEntries ? table_[size_t(i)].channel : nullptr;
  if (!ch) return;
  engine::EngineCommand& e = ch->channel_effect();
  e.type = static_cast<uint32_t>(type);
  e.channel = ch->GetKind() == kKindAudio ? AudioStream(i) : VideoStream(i);
  e.param1 = speed;
  e.param2 = direction;
  e.path = file;
  ch->SetEffectFile(file);
  if (ch->effect_on() && mixing_) {
    Post(MakeEffectCommand(i));
    SendChannelTempo(i);
  }
}

void Mixer::GetChannelEffect(int i, int32_t* type, int32_t* speed, int32_t* direction, ov::String* file) const {
  const ChannelSelection* ch = i >= 0 && i < kMaxEntries ? table_[size_t(i)].channel : nullptr;
  const engine::EngineCommand none;
  const engine::EngineCommand& e = ch ? ch->channel_effect() : none;
  *type = static_cast<int32_t>(e.type);
  *speed = e.param1;
  *direction = e.param2;
  *file = e.path;
}

void Mixer::QueueAudioClip(int i, bool linked) {
  if (!mixing_ || (settings_[kWizardMediaType] & 1) || i < 0 || i >= kMaxEntries || !live()) return;
  MixChannelEntry& e = table_[size_t(i)];
  ChannelSelection* ch = e.channel;
  if (!ch || live()->IsChannelLoaded(AudioStream(i))) return;
  const int c = e.playIndex;
  auto open = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_LOAD, AudioStream(i)));
  open->path = ch->GetClipFile(c);
  open->altPath = ch->GetClipCache(c, kKindAudio);
  ch->GetClipCutPoints(c, &open->param2, &open->param3);
  // The per-mille speed that brings this clip to the common tempo; the
  // entry's own tempo word is the divisor, so a cleared word means none.
  const uint32_t tempo = live()->TempoWord(i);
  open->param4 = tempo != 0 ? static_cast<int32_t>(uint64_t(live()->AverageTempo()) * 1000u / tempo) : 0;
  if (!open->path.IsEmpty() || !open->altPath.IsEmpty()) Post(std::move(open));
  if (ch->effect_on()) Post(MakeEffectCommand(i));
  if (!linked && ch->loop_on()) PostNew(engine::CMD_SET_LOOP, AudioStream(i));
  SendChannelVolume(i);
  SendChannelTempo(i);
}

void Mixer::QueueClip(int i, bool linked) {
  if (!mixing_ || (settings_[kWizardMediaType] & 2) || i < 0 || i >= kMaxEntries || !live()) return;
  MixChannelEntry& e = table_[size_t(i)];
  ChannelSelection* ch = e.channel;
  if (!ch) return;
  const int c = e.playIndex;
  const uint32_t stream = VideoStream(i);
  if (!live()->IsChannelLoaded(stream)) {
    // a: the clip itself.
    std::unique_ptr<engine::EngineCommand> open = MakeClipOpen(*ch, c, stream, linked ? i : -1);
    const bool has_source = open && !open->path.IsEmpty();
    engine::EngineCommand* marked = nullptr;
    if (open && (has_source || !open->altPath.IsEmpty())) {
      marked = open.get();
      Post(std::move(open));
    }
    // b: its text, over the clip or alone.
    if (TextClip* text = ch->GetClipText(c); text && !text->textString.IsEmpty()) {
      auto t = std::make_unique<engine::EngineCommand>(
          engine::MakeCommand(has_source ? engine::CMD_LOAD_IMAGE : engine::CMD_LOAD, stream, -1));
      t->path = t->altPath = FormatTextClip(*text);
      Post(std::move(t));
    }
    // c: loop.
    if (ch->loop_on()) marked = PostNew(engine::CMD_SET_LOOP, stream);
    // d: a clip that pans marks its loop (else its open) command; the
    // recorded record keeps the mark.
    uint32_t pan_start = 0, pan_end = 0;
    int32_t pan_speed = 0;
    ch->GetClipPanZoom(c, &pan_start, &pan_end, &pan_speed);
    if (pan_start != pan_end && marked) marked->param5 = 1;
    // e-h: overlay, effect file, pan and zoom, photo effect.
    PostClipLayers(*ch, c, stream,
                   [this](std::unique_ptr<engine::EngineCommand> command) { Post(std::move(command)); });
  }
  if (ch->effect_on()) Post(MakeEffectCommand(i));
  if (e.playIndex + 1 < ch->ClipCount()) PostNew(engine::CMD_SET_HOLD, stream);
  SendChannelTempo(i);
}

// ---- channels on and off, clips following one another ----

void Mixer::SetActiveVisualChannel(int i) {
  const int32_t kind = GetChannelKind(i);
  if (kind != kKindImage && kind != kKindVideo) return;
  for (int j = 0; j < kMaxEntries; ++j) {
    const int32_t k = GetChannelKind(j);
    if (j != i && (k == kKindImage || k == kKindVideo)) table_[size_t(j)].active = 0;
  }
}

void Mixer::ChannelOn(int i) {
  MixChannelEntry& e = table_[size_t(i)];
  ChannelSelection* ch = e.channel;
  // A play index that names no clip (clips were removed) starts over.
  if (ch && e.playIndex >= ch->ClipCount()) e.playIndex = 0;
  const int32_t kind = GetChannelKind(i);
  const bool credits = start_credits_playing_ || end_credits_playing_;
  if (!credits) {
    if (kind == kKindAudio) {
      QueueAudioClip(i, false);
      PlayAudioStream(i, 0);
    } else if (kind == kKindImage || kind == kKindVideo) {
      selected_visual_channel_ = i;
      const bool sound = kind == kKindVideo && ch->ClipHasAudio(e.playIndex);
      if (sound && settings_[kWizardMediaType] != 2) {
        QueueAudioClip(i, true);
        QueueClip(i, true);
        PlayVideoStream(i, 1);
      } else if (sound) {
        QueueAudioClip(i, false);
        PlayAudioStream(i, 0);
      } else {
        QueueClip(i, false);
        PlayVideoStream(i, 1);
      }
    }
  }
  if (kind == kKindText && i >= kStartCreditsEntry) {
    QueueClip(i, false);
    PlayVideoStream(i, 1);
  }
  if (!mixing_) SetActiveVisualChannel(i);
  e.active = 1;
}

void Mixer::ChannelOff(int i) {
  MixChannelEntry& e = table_[size_t(i)];
  if (i < kClipChannels && (start_credits_playing_ || end_credits_playing_)) return;
  const int32_t kind = GetChannelKind(i);
  if (kind == kKindImage && e.channel->ClipCount() > 1) {
    if (mixing_) e.playIndex = (e.playIndex + 1) % e.channel->ClipCount();
    e.active = 0;
    ShowClipName(i);
    HaltVideoStream(i, true);
  }
  if (kind == kKindAudio) HaltAudioStream(i, true);
  if (kind == kKindImage || kind == kKindVideo) HaltVideoStream(i, false);
  if (kind == kKindText && i >= kStartCreditsEntry) HaltVideoStream(i, false);
  e.active = 0;
}

bool Mixer::AdvanceChannel(int n) {
  if (n < 0 || n >= kMaxEntries) return false;
  MixChannelEntry& e = table_[size_t(n)];
  ChannelSelection* ch = e.channel;
  ++e.playIndex;
  bool stopped = false;
  if (!e.active || !ch || e.playIndex >= ch->ClipCount()) {
    e.playIndex = 0;
    if (mixing_) PostNew(engine::CMD_STOP, VideoStream(n));
    stopped = true;
  } else {
    switch (ch->GetKind()) {
      case kKindAudio:
        QueueAudioClip(n, false);
        PlayAudioStream(n, 0);
        break;
      case kKindImage:
        if (n == selected_visual_channel_) {
          QueueClip(n, false);
          PlayVideoStream(n, 0);
        } else {
          e.active = 0;
          stopped = true;
        }
        break;
      case kKindVideo:
        if (ch->ClipHasAudio(e.playIndex)) {
          QueueAudioClip(n, true);
          QueueClip(n, true);
        } else {
          QueueClip(n, false);
        }
        PlayVideoStream(n, 0);
        break;
      default:
        break;
    }
  }
  ShowClipName(n);
  return stopped;
}

void Mixer::AdvanceChannelsOnTick() {
  if (!mixing_ || start_credits_playing_ || !live()) return;
  bool advanced = false;
  // Entries without a channel have kind 0 and no stream.
  for (int i = 0; i < kMaxEntries; ++i) {
    MixChannelEntry& e = table_[size_t(i)];
    const int32_t kind = GetChannelKind(i);
    int64_t stream = -1;
    if (kind == kKindAudio) stream = AudioStream(i);
    if (kind == kKindImage || kind == kKindVideo) stream = VideoStream(i);
    if (stream < 0 || !e.active || live()->IsChannelPlaying(uint32_t(stream))) continue;
    const int count = e.channel->ClipCount();
    const bool loaded = live()->IsChannelLoaded(uint32_t(stream));
    // The next clip is on its way (action 227): look again later.
    if (e.playIndex + 1 < count && !loaded) continue;
    if (kind == kKindImage && e.playIndex == count - 1) {
      e.playIndex = 0;
      HaltVideoStream(i, true);
    } else if (count >= 2 && loaded) {
      e.playIndex = (e.playIndex + 1) % count;
      HaltVideoStream(i, true);
    }
    e.active = 0;
    ShowClipName(i);
    advanced = true;
  }
  if (!advanced) return;
  if (ui::UiHost* host = ui::Host()) host->DoAction(ui::kActionChannelStateChanged, ov::String(), 1);
  UpdateControls();
}

void Mixer::ResendActiveChannels() {
  for (int i = 0; i < kMaxEntries; ++i) {
    MixChannelEntry& e = table_[size_t(i)];
    if (!e.channel) continue;
    e.playIndex = 0;
    if (e.active) OnAction(ui::kActionChannelOn0 + i, ov::String(), 0);
  }
}

bool Mixer::PlayStartCredits() {
  ChannelSelection* ch = table_[kStartCreditsEntry].channel;
  const ChannelClip* c = ch ? ch->clip(0) : nullptr;
  if (!c || c->clipText.textString.IsEmpty()) return false;
  OnAction(ui::kActionChannelOn0 + kStartCreditsEntry, ov::String(), 0);
  start_credits_playing_ = true;
  end_credits_playing_ = false;
  return true;
}

bool Mixer::PlayEndCredits() {
  if (!HasEndCreditsText()) return false;
  OnAction(ui::kActionChannelOn0 + kEndCreditsEntry, ov::String(), 0);
  start_credits_playing_ = false;
  end_credits_playing_ = true;
  return true;
}

// ---- effect menus ----

void Mixer::OpenEffectMenu(int i, bool video) {
  ui::UiHost* host = ui::Host();
  ui::Element* menu = video ? video_effect_menu_ : audio_effect_menu_;
  const int32_t code = (video ? ui::kActionShowVideoEffect0 : ui::kActionShowAudioEffect0) + i;
  ui::Element* at = host ? host->FindElementByAction(host->CurrentMenu(), code) : nullptr;
  auto* group = dynamic_cast<ui::ItemGroup*>(menu);
  if (at && group) {
    // The group and its items open beside the channel's effect item, the
    // video group shifted left by the skin's offset, inside the screen.
    if (video) menu->SetAuxValue(effect_offset_x_);
    group->ShowAtPoint(at->x(), at->y());
    menu->OnAction(ui::kActionItemGroupOpen, ov::String(), 0);
    open_effect_menu_ = menu;
    selected_channel_ = i;
  }
  if (menu) menu->SetVisible(true);
}

void Mixer::CloseEffectMenu() {
  if (!open_effect_menu_) return;
  open_effect_menu_->OnAction(ui::kActionItemGroupClose, ov::String(), 0);
  open_effect_menu_->SetVisible(false);
  open_effect_menu_ = nullptr;
}

void Mixer::SetTransition(int32_t code) {
  Transition t{};
  TransitionOf(code, &t);
  const int i = selected_channel_;
  ChannelSelection* ch = i >= 0 && i < kMaxEntries ? table_[size_t(i)].channel : nullptr;
  if (ch) {
    engine::EngineCommand& e = ch->channel_effect();
    e.type = static_cast<uint32_t>(t.type);
    e.channel = VideoStream(i);
    e.param1 = t.duration;
    e.param2 = t.direction;
    // An effect already on is re-applied at once with its new settings.
    if (ch->effect_on() && mixing_) {
      Post(MakeEffectCommand(i));
      SendChannelTempo(i);
    }
    if (mixing_) {
      Post(MakeEffectCommand(i));
      SendChannelTempo(i);
    }
    ch->set_effect_on(1);
  }
  CloseEffectMenu();
}

// ---- the action table ----

bool Mixer::OnLiveAction(int32_t code, const ov::String& argument, bool* update) {
  ui::UiHost* host = ui::Host();
  const int32_t value = argument.ToInt();
  Transition transition{};
  if (code >= ui::kActionChannelOn0 && code < ui::kActionChannelOn0 + kMaxEntries) {
    ChannelOn(code - ui::kActionChannelOn0);
  } else if (code >= ui::kActionChannelOff0 && code < ui::kActionChannelOff0 + kMaxEntries) {
    ChannelOff(code - ui::kActionChannelOff0);
  } else if (code >= ui::kActionEffectOn0 && code < ui::kActionEffectOn0 + kClipChannels) {
    const int i = code - ui::kActionEffectOn0;
    if (table_[size_t(i)].channel && table_[size_t(i)].channel->channel_effect().type != engine::CMD_NOP) EffectOn(i);
  } else if (code >= ui::kActionEffectOff0 && code < ui::kActionEffectOff0 + kClipChannels) {
    EffectOff(code - ui::kActionEffectOff0);
  } else if (code >= ui::kActionVolume0 && code < ui::kActionVolume0 + kClipChannels) {
    table_[size_t(code - ui::kActionVolume0)].volume = value;
    SendChannelVolume(code - ui::kActionVolume0);
  } else if (code == ui::kActionMasterVolume) {
    master_volume_ = value;
    SendMasterVolume();
  } else if (code >= ui::kActionTempoLevel0 && code < ui::kActionTempoLevel0 + kClipChannels) {
    table_[size_t(code - ui::kActionTempoLevel0)].tempoLevel = value;
    SendChannelTempo(code - ui::kActionTempoLevel0);
  } else if (code >= ui::kActionTempo0 && code < ui::kActionTempo0 + kClipChannels) {
    const int n = code - ui::kActionTempo0;
    table_[size_t(n)].speakerMode = 0;
    if (host) {
      host->EnableActionItems(true, nullptr, ui::kActionTempoLevel0 + n, 1);
      host->EnableActionItems(false, nullptr, ui::kActionVolume0 + n, 1);
    }
  } else if (code >= ui::kActionSpeaker0 && code < ui::kActionSpeaker0 + kClipChannels) {
    const int n = code - ui::kActionSpeaker0;
    table_[size_t(n)].speakerMode = 1;
    if (host) {
      host->EnableActionItems(false, nullptr, ui::kActionTempoLevel0 + n, 1);
      host->EnableActionItems(true, nullptr, ui::kActionVolume0 + n, 1);
    }
  } else if (TransitionOf(code, &transition)) {
    SetTransition(code);
  } else if (code >= ui::kActionEchoShort && code <= ui::kActionReverb) {
    // The selected channel comes from the effect menu (or a rotation's
    // archive): one outside the table selects nothing.
    const bool valid = selected_channel_ >= 0 && selected_channel_ < kMaxEntries;
    if (ChannelSelection* ch = valid ? table_[size_t(selected_channel_)].channel : nullptr) {
      ch->SetAudioEffectFromAction(code);
      EffectOn(selected_channel_);
    }
    CloseEffectMenu();
  } else if (code >= ui::kActionShowVideoEffect0 && code < ui::kActionShowVideoEffect0 + kClipChannels) {
    OpenEffectMenu(code - ui::kActionShowVideoEffect0, true);
  } else if (code >= ui::kActionShowVideoEffectGrey0 && code < ui::kActionShowVideoEffectGrey0 + kClipChannels) {
    OpenEffectMenu(code - ui::kActionShowVideoEffectGrey0, true);
  } else if (code >= ui::kActionShowAudioEffect0 && code < ui::kActionShowAudioEffect0 + kClipChannels) {
    OpenEffectMenu(code - ui::kActionShowAudioEffect0, false);
  } else if (code >= ui::kActionShowAudioEffectGrey0 && code < ui::kActionShowAudioEffectGrey0 + kClipChannels) {
    OpenEffectMenu(code - ui::kActionShowAudioEffectGrey0, false);
  } else {
    switch (code) {
      case ui::kActionMuteOn:
      case ui::kActionMuteOff:
        muted_ = code == ui::kActionMuteOn;
        SendMasterVolume();
        break;
      case ui::kActionMixStart:
        // Clips without their caches cannot play: no start while decoding.
        if (decoding() || !live()) break;
        // A new take replaces the recorded list: one not saved goes only
        // after a yes.
        if (!ConfirmTakeLoss(u"Start", u"Start a new take")) break;
        mixing_ = true;
        take_unsaved_ = true;
        live()->ClearActions();
        UpdateEndTime();
        start_credits_playing_ = end_credits_playing_ = false;
        table_[kStartCreditsEntry].active = table_[kEndCreditsEntry].active = 0;
        SendMasterVolume();
        if (!PlayStartCredits()) ResendActiveChannels();
        live()->Play();
        break;
      case ui::kActionStartCreditsFinish:
        if (start_credits_playing_ && !end_credits_playing_) {
          OnAction(ui::kActionChannelOff0 + kStartCreditsEntry, ov::String(), 0);
          start_credits_playing_ = false;
          ResendActiveChannels();
        }
        break;
      case ui::kActionEndCreditsStart:
        PlayEndCredits();
        break;
      case ui::kActionAddEffect:
        break;
      case engine::kActionNextClip:
        if (mixing_) {
          if (AdvanceChannel(value)) {
            if (host) {
              host->DoAction(ui::kActionChannelStateChanged, ov::String(), 1);
              host->InvalidateAll();
            }
          } else {
            *update = false;
          }
        }
        break;
      case ui::kActionCancelDecompress:
      case ui::kActionDecompressDone:
      case ui::kActionDecompressFailed:
      case ui::kActionDecompressFailureOk:
        decompression_.OnAction(host, code, argument);
        break;
      default:
        return false;
    }
  }
  return true;
}

// ---- beat matching ----

void Mixer::PrepareBeatMatching() {
  engine::MixCalls* player = live();
  if (!player) return;
  // Every word is cleared first, so that a channel that no longer takes part
  // plays at its own speed.
  for (int i = 0; i < kMaxEntries; ++i) player->SetTempoWord(i, 0);
  uint32_t sum = 0, k = 0;
  for (int i = 0; i < kMaxEntries; ++i) {
    ChannelSelection* ch = table_[size_t(i)].channel;
    if (!ch || ch->GetKind() != kKindAudio || !ch->beat_match()) continue;
    const int32_t t = ch->ReadTempo();
    if (t <= 0) continue;
    player->SetTempoWord(i, uint32_t(t));
    sum += uint32_t(t);
    ++k;
  }
  player->SetBeatMatch(table_.data(), k > 0 ? sum / k : 0);
}

}  // namespace screens
