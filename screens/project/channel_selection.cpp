#include "screens/project/channel_selection.h"

#include <cmath>
#include <cstring>

#include "platform/os/file.h"
#include "media/decoder_source.h"
#include "platform/os/thread.h"
#include "platform/ui/dialogs.h"
#include "screens/mixer/mixer.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

constexpr int kDeleteRetries = 20;
constexpr uint32_t kDeleteRetryMs = 100;
// The side file of a music clip holds its tempo as a float at this offset.
constexpr int64_t kTempoOffset = 208;
// A tempo outside this range is no reading of a real piece of music.
constexpr float kMinTempo = 1.0f, kMaxTempo = 1000.0f;
constexpr int32_t kPhotoSpacingMs = 4000;

// Help hints of the channel screens.
constexpr int32_t kHelpTipOnChannel = 3;
constexpr int32_t kHelpTipAssign = 4;

// Key codes that stand for the digits 0-9 as quick-assign keys, and their
// alternates (two for 0, one for 1-6).
constexpr int32_t kDigitKeyBase = 5;
constexpr int32_t kAlternates[7][2] = {{41, 30}, {31, -1}, {37, -1}, {19, -1}, {32, -1}, {34, -1}, {39, -1}};

ui::UiHost* HostOrNull() { return ui::Host(); }

void DeleteAndEmpty(ov::String* name) {
  DeleteFileRetry(*name);
  name->Empty();
}

bool Missing(const ov::String& name) { return name.IsEmpty() || !ov::FileExists(name); }

// A photo's cache is one frame lasting the photo's display time, a still for
// a channel's only photo (GetClipDisplayTime), so a photo whose time to show
// changes loses its picture caches, to be made again.
void DropPictureCaches(ChannelClip& c) {
  ui::UiHost* host = HostOrNull();
  if (host) host->DoAction(ui::kActionCacheLock, ov::String(), 1);
  for (ov::String* name : {&c.pictureCache, &c.pictureCache2}) {
    if (!name->IsEmpty() && name->View() != c.sourceFile.View()) DeleteAndEmpty(name);
  }
  if (host) host->DoAction(ui::kActionCacheUnlock, ov::String(), 1);
}

// Whether the file's sound can be opened and delivers a format.
bool ProbeAudio(const ov::String& path) {
  std::unique_ptr<media::DecoderSource> source = media::OpenAudioSource(path);
  media::MediaFormat format;
  return source && source->GetFormat(&format);
}

}  // namespace

bool DeleteFileRetry(const ov::String& path) {
  if (ui::UiHost* host = HostOrNull(); host && host->RotationInProgress()) return true;
  if (ov::GetFileAttributes(path) == ov::kInvalidAttributes) return false;
  for (int attempt = 0; attempt <= kDeleteRetries; ++attempt) {
    if (ov::DeleteFile(path)) return true;
    if (attempt < kDeleteRetries) ov::Sleep(kDeleteRetryMs);
  }
  return false;
}

ChannelSelection::ChannelSelection() { type_ = ui::kTypeChannelSelection; }

// The screens are being torn down: the caches go without the lock actions,
// which would reach menus that no longer stand.
ChannelSelection::~ChannelSelection() { DeleteCaches(0); }

void ChannelSelection::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String ChannelSelection::*field;
  };
  static const Text kTexts[] = {
      {u"videoIcon", &ChannelSelection::video_icon_},         {u"imageCount", &ChannelSelection::image_count_},
      {u"assignedIcon", &ChannelSelection::assigned_icon_},   {u"clearIcon", &ChannelSelection::clear_icon_},
      {u"audioIcon", &ChannelSelection::audio_icon_},         {u"imageIcon", &ChannelSelection::image_icon_},
      {u"audioEditMenu", &ChannelSelection::audio_edit_menu_}, {u"videoEditMenu", &ChannelSelection::video_edit_menu_},
      {u"imageEditMenu", &ChannelSelection::image_edit_menu_}, {u"mixChannel", &ChannelSelection::mix_channel_},
  };
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  if (ui::NameIs(name, u"iconOffsetX")) {
    icon_offset_x_ = ui::ParseCoordinate(value);
  } else if (ui::NameIs(name, u"iconOffsetY")) {
    icon_offset_y_ = ui::ParseCoordinate(value);
  } else if (ui::NameIs(name, u"quickAssignKey")) {
    const int32_t n = ui::ParseDecimal(value);
    if (n >= 0 && n <= 9) {
      quick_key_ = n + kDigitKeyBase;
      alt_key1_ = alt_key2_ = -1;
      if (n <= 6) {
        alt_key1_ = kAlternates[n][0];
        alt_key2_ = kAlternates[n][1];
      }
    } else {
      quick_key_ = n;
    }
  } else {
    Control::LoadAttribute(name, value);
  }
}

void ChannelSelection::Draw(gfx::HDC dc, int state) {
  x_ += icon_offset_x_;
  y_ += icon_offset_y_;
  Control::Draw(dc, state);
  x_ -= icon_offset_x_;
  y_ -= icon_offset_y_;
}

// ---- clips ----

void ChannelSelection::SetAudioEffectFromAction(int32_t code) {
  engine::EngineCommand& e = channel_effect_;
  e.param1 = e.param2 = e.param3 = e.param4 = 0;
  switch (code) {
    case ui::kActionEchoShort:
      e.type = engine::CMD_ECHO;
      e.param1 = 500;
      break;
    case ui::kActionEchoLong:
      e.type = engine::CMD_ECHO;
      e.param1 = 1000;
      break;
    case ui::kActionChorus:
      e.type = engine::CMD_CHORUS;
      e.param1 = 5;
      e.param2 = 15;
      break;
    case ui::kActionReverb:
      e.type = engine::CMD_REVERB;
      e.param1 = 100;
      e.param2 = 4;
      e.param3 = 76;
      e.param4 = 35;
      break;
    default:
      e.type = engine::CMD_NOP;
      break;
  }
}

void ChannelSelection::AddClip(int32_t kind, int32_t file_type, const ov::String& source, const ov::String& overlay,
                               const ov::String& effect_file, uint32_t pan_start, uint32_t pan_end,
                               int32_t pan_speed, int32_t display_time, int32_t photo_effect, int32_t cut_start,
                               int32_t cut_end, uint32_t crop_rect, int32_t crop_on, const TextClip* caption) {
  if (kind != kKindImage || (kind_ != kKindEmpty && kind_ != kKindImage)) Clear();
  if (kind != kind_) NotifyMixer();
  auto c = std::make_unique<ChannelClip>();
  kind_ = kind;
  c->sourceFile = source;
  c->overlayFile = overlay;
  c->effectFile = effect_file;
  c->photoEffect = photo_effect;
  c->fileType = file_type;
  c->cutStart = cut_start;
  c->cutEnd = cut_end;
  c->panStart = pan_start;
  c->panEnd = pan_end;
  c->panSpeed = pan_speed;
  c->cropRect = crop_rect;
  c->cropOn = crop_on;
  if (caption) c->clipText = *caption;
  if (!clips_.empty()) {
    ChannelClip& last = *clips_.back();
    if (last.displayTime == 0) last.displayTime = kPhotoSpacingMs;
    if (clips_.size() == 1) DropPictureCaches(last);  // a still no longer
    c->displayTime = last.displayTime;
  } else {
    c->displayTime = display_time;
  }
  clips_.push_back(std::move(c));
  ShowClipCount();
}

void ChannelSelection::AddEmptyTextClip() {
  AddClip(kKindText, 0, ov::String(), ov::String(), ov::String(), kWholePicture, kWholePicture, kDefaultPanSpeed, 0, 0,
          0, 0, 0, 0, nullptr);
}

void ChannelSelection::Clear() {
  DeleteClipCaches(0);
  NotifyMixer();
  clips_.clear();
  loop_on_ = spare_ = kind_ = channel_tempo_ = beat_match_ = 0;
  channel_effect_.type = engine::CMD_NOP;
  channel_effect_.param1 = channel_effect_.param2 = 0;
  channel_effect_.path.Empty();
  channel_effect_.altPath.Empty();
  ShowClipCount();
}

void ChannelSelection::TakeDocument(ChannelSelection* from) {
  Clear();
  kind_ = from->kind_;
  clips_ = std::move(from->clips_);
  from->clips_.clear();
  from->kind_ = kKindEmpty;
  loop_on_ = from->loop_on_;
  beat_match_ = from->beat_match_;
  effect_on_ = from->effect_on_;
  channel_effect_ = from->channel_effect_;
  ShowClipCount();
  Refresh();
}

int ChannelSelection::RemoveClip(int i) {
  if (!Valid(i)) return 0;
  clips_.erase(clips_.begin() + i);
  if (clips_.size() == 1) {
    clips_[0]->displayTime = 0;
    if (kind_ == kKindImage) DropPictureCaches(*clips_[0]);  // a still now
  }
  return 1;
}

int ChannelSelection::MoveClip(int from, int to) {
  if (!Valid(from) || !Valid(to)) return 0;
  std::unique_ptr<ChannelClip> c = std::move(clips_[static_cast<size_t>(from)]);
  clips_.erase(clips_.begin() + from);
  // Before the clip that was at `to` when moving back, after it when moving on:
  // either way the clip ends up at index `to`.
  clips_.insert(clips_.begin() + to, std::move(c));
  return 1;
}

ov::String ChannelSelection::GetClipFile(int i) const { return Valid(i) ? At(i)->sourceFile : ov::String(); }
int32_t ChannelSelection::GetClipFileType(int i) const { return Valid(i) ? At(i)->fileType : 0; }
ov::String ChannelSelection::GetClipOverlayFile(int i) const { return Valid(i) ? At(i)->overlayFile : ov::String(); }

int ChannelSelection::SetClipOverlayFile(int i, const ov::String& name) {
  if (!Valid(i)) return 0;
  At(i)->overlayFile = name;
  return 1;
}

ov::String ChannelSelection::GetEffectFile() const { return clips_.empty() ? ov::String() : clips_[0]->effectFile; }

ov::String ChannelSelection::GetClipTextDescriptor(int i) const {
  const ChannelClip* c = At(i);
  return c && !c->clipText.textString.IsEmpty() ? FormatTextClip(c->clipText) : ov::String();
}

void ChannelSelection::SetEffectFile(const ov::String& name) {
  if (clips_.empty()) return;
  clips_[0]->effectFile = name;
  if (!clips_[0]->effectCache.IsEmpty()) DeleteAndEmpty(&clips_[0]->effectCache);
}

ov::String ChannelSelection::GetEffectCache() const { return clips_.empty() ? ov::String() : clips_[0]->effectCache; }

int ChannelSelection::SetEffectCache(const ov::String& name, int32_t kind) {
  if (clips_.empty() || (kind != kKindImage && kind != kKindVideo)) return 0;
  clips_[0]->effectCache = name;
  return 1;
}

ov::String ChannelSelection::GetClipCache(int i, int32_t kind) const {
  const ChannelClip* c = At(i);
  if (!c) return ov::String();
  if (kind == kKindAudio) return c->audioCache;
  if (kind == kKindImage || kind == kKindVideo) return c->pictureCache;
  if (kind == kKindText) return c->textCache;
  return ov::String();
}

ov::String ChannelSelection::GetClipCache2(int i, int32_t kind) const {
  const ChannelClip* c = At(i);
  if (c && (kind == kKindImage || kind == kKindVideo)) return c->pictureCache2;
  return GetClipCache(i, kind);
}

int ChannelSelection::SetClipCache(int i, const ov::String& name, int32_t kind) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  if (kind == kKindAudio) c->audioCache = name;
  else if (kind == kKindImage || kind == kKindVideo) c->pictureCache = name;
  else if (kind == kKindText) c->textCache = name;
  else return 0;
  return 1;
}

int ChannelSelection::SetClipCache2(int i, const ov::String& name, int32_t kind) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  if (kind == kKindImage || kind == kKindVideo) {
    c->pictureCache2 = name;
    return 1;
  }
  return SetClipCache(i, name, kind);
}

ov::String ChannelSelection::GetClipOverlayCache(int i) const {
  return Valid(i) ? At(i)->overlayCache : ov::String();
}

int ChannelSelection::SetClipOverlayCache(int i, const ov::String& name, int32_t kind) {
  if (!Valid(i) || (kind != kKindImage && kind != kKindVideo)) return 0;
  At(i)->overlayCache = name;
  return 1;
}

int32_t ChannelSelection::GetClipPhotoEffect(int i) const { return Valid(i) ? At(i)->photoEffect : 0; }

int ChannelSelection::SetClipPhotoEffect(int i, int32_t value) {
  if (!Valid(i)) return 0;
  At(i)->photoEffect = value;
  return 1;
}

int ChannelSelection::GetClipPanZoom(int i, uint32_t* start, uint32_t* end, int32_t* speed) const {
  const ChannelClip* c = At(i);
  if (!c) {
    *start = *end = 0;
    return 0;
  }
  *start = c->panStart;
  *end = c->panEnd;
  *speed = c->panSpeed;
  return 1;
}

int ChannelSelection::SetClipPanZoom(int i, uint32_t start, uint32_t end, int32_t speed) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  c->panStart = start;
  c->panEnd = end;
  c->panSpeed = speed;
  return 1;
}

uint32_t ChannelSelection::GetClipCropRect(int i) const {
  const ChannelClip* c = At(i);
  return c && c->cropOn ? c->cropRect : kWholePicture;
}

int ChannelSelection::SetClipCropRect(int i, uint32_t rect) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  uint32_t left = rect >> 24, right = (rect >> 16) & 0xFF, top = (rect >> 8) & 0xFF, bottom = rect & 0xFF;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  c->cropRect = left << 24 | right << 16 | top << 8 | bottom;
  return 1;
}

int32_t ChannelSelection::GetClipCropOn(int i) const { return Valid(i) ? At(i)->cropOn : 0; }

int ChannelSelection::SetClipCropOn(int i, int32_t on) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  c->cropOn = on;
  if (on) SetClipPanZoom(i, kWholePicture, kWholePicture, kDefaultPanSpeed);
  return 1;
}

int ChannelSelection::SetClipPictureSize(int i, int32_t width, int32_t height) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  c->pictureWidth = width;
  c->pictureHeight = height;
  return 1;
}

int32_t ChannelSelection::GetClipDisplayTime(int i) const {
  if (!Valid(i) || (kind_ == kKindImage && clips_.size() == 1)) return 0;
  return At(i)->displayTime;
}

void ChannelSelection::SetDisplayTimeAll(int32_t ms) {
  bool changed = false;
  for (auto& c : clips_) {
    changed |= c->displayTime != ms;
    c->displayTime = ms;
  }
  if (changed) DeleteClipCaches(0);
}

int ChannelSelection::GetClipCutPoints(int i, int32_t* start, int32_t* end) const {
  const ChannelClip* c = At(i);
  if (!c) return 0;
  *start = c->cutStart;
  *end = c->cutEnd;
  return 1;
}

int ChannelSelection::SetClipCutPoints(int i, int32_t start, int32_t end) {
  ChannelClip* c = At(i);
  if (!c) return 0;
  c->cutStart = start;
  c->cutEnd = end;
  return 1;
}

TextClip* ChannelSelection::GetClipText(int i) { return Valid(i) ? &At(i)->clipText : nullptr; }

bool ChannelSelection::ClipHasAudio(int i) {
  ChannelClip* c = At(i);
  if (!c || kind_ != kKindVideo) return false;
  if (c->audioProbe == 0) c->audioProbe = ProbeAudio(c->sourceFile) ? 2 : 1;
  return c->audioProbe == 2;
}

bool ChannelSelection::ClipNeedsAudioCache(int i) const {
  const ChannelClip* c = At(i);
  if (!c || (kind_ != kKindAudio && kind_ != kKindVideo) || c->cutStart == 0) return false;
  return Missing(c->audioCache);
}

bool ChannelSelection::ClipNeedsPictureCache(int i, bool second) const {
  const ChannelClip* c = At(i);
  if (!c || (kind_ != kKindImage && kind_ != kKindVideo)) return false;
  return Missing(second ? c->pictureCache2 : c->pictureCache);
}

bool ChannelSelection::ClipNeedsOverlayCache(int i) const {
  const ChannelClip* c = At(i);
  if (!c || kind_ == kKindAudio || c->overlayFile.IsEmpty()) return false;
  return Missing(c->overlayCache);
}

bool ChannelSelection::NeedsEffectCache() const {
  if ((kind_ != kKindImage && kind_ != kKindVideo) || clips_.empty()) return false;
  if (clips_[0]->effectFile.IsEmpty()) return false;
  return Missing(clips_[0]->effectCache);
}

void ChannelSelection::DeleteClipCaches(int mode) {
  ui::UiHost* host = HostOrNull();
  if (host) host->DoAction(ui::kActionCacheLock, ov::String(), 1);
  DeleteCaches(mode);
  if (host) host->DoAction(ui::kActionCacheUnlock, ov::String(), 1);
}

void ChannelSelection::DeleteCaches(int mode) {
  for (auto& c : clips_) {
    auto drop_unless_source = [&](ov::String* name) {
      if (!name->IsEmpty() && name->View() != c->sourceFile.View()) DeleteAndEmpty(name);
    };
    if (mode == 0 || mode == kKindAudio) drop_unless_source(&c->audioCache);
    // Photos and video share the picture caches.
    if (mode == 0 || mode == kKindImage || mode == kKindVideo) {
      drop_unless_source(&c->pictureCache);
      drop_unless_source(&c->pictureCache2);
    }
    if (!c->effectCache.IsEmpty()) DeleteAndEmpty(&c->effectCache);
    if (!c->overlayCache.IsEmpty()) DeleteAndEmpty(&c->overlayCache);
    if ((mode == 0 || mode == kKindText) && !c->textCache.IsEmpty()) DeleteAndEmpty(&c->textCache);
  }
}

ov::String TempoSideFilePath(const ov::String& clipPath) {
  const int name = clipPath.ReverseFind(u'/') + 1;
  if (name >= clipPath.Length()) return ov::String();
  const int dot = clipPath.Find(u'.', name + 1);
  return (dot < 0 ? clipPath : clipPath.Left(dot)) + u".bin";
}

int32_t ChannelSelection::ReadTempo() {
  if (clips_.empty()) return 0;
  const ov::String side = TempoSideFilePath(clips_[0]->sourceFile);
  if (side.IsEmpty()) return 0;
  ov::File f;
  if (!f.Open(side, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) return 0;
  uint8_t b[4] = {};
  uint32_t got = 0;
  if (!f.Seek(kTempoOffset, ov::SeekFrom::kBegin) || !f.Read(b, 4, &got)) return 0;
  // A file too short for the tempo gives 0. A value that is no tempo (NaN,
  // negative, huge) reads as 0 as well rather than as an undefined integer.
  if (got < 4) {
    channel_tempo_ = 0;
    return 0;
  }
  float tempo = 0;
  const uint32_t bits = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  static_assert(sizeof(float) == 4);
  std::memcpy(&tempo, &bits, 4);
  channel_tempo_ = (std::isfinite(tempo) && tempo >= kMinTempo && tempo <= kMaxTempo) ? static_cast<int32_t>(tempo) : 0;
  return channel_tempo_;
}

// ---- the screen ----

Mixer* ChannelSelection::FindMixer() const {
  ui::UiHost* host = HostOrNull();
  if (!host || !host->CurrentMenu()) return nullptr;
  return dynamic_cast<Mixer*>(host->FindElementByType(nullptr, ui::kTypeMixer, 0));
}

void ChannelSelection::NotifyMixer() {
  if (Mixer* mixer = FindMixer()) {
    mixer->OnAction(ui::kActionChannelKindChanged, ov::String::Format(u"%llu", reinterpret_cast<uintptr_t>(this)), 0);
  }
}

bool ChannelSelection::HasFocus() const {
  ui::UiHost* host = HostOrNull();
  return host && host->FocusedElement() == this;
}

void ChannelSelection::Refresh() {
  ui::UiHost* host = HostOrNull();
  if (!host || !host->CurrentMenu()) return;
  auto find = [&](const ov::String& name) -> ui::Element* {
    return name.IsEmpty() ? nullptr : host->FindElementByName(nullptr, name, false);
  };
  ui::Element* video = find(video_icon_);
  ui::Element* audio = find(audio_icon_);
  ui::Element* image = find(image_icon_);
  ui::Element* clear = find(clear_icon_);
  ui::Element* assigned = find(assigned_icon_);
  for (ui::Element* e : {audio, video, image, assigned}) {
    if (e) e->SetVisible(false);
  }
  ui::Element* shown = kind_ == kKindVideo ? video : kind_ == kKindAudio ? audio : kind_ == kKindImage ? image : nullptr;
  if (shown) shown->SetVisible(true);
  if (assigned && kind_ != kKindEmpty) assigned->SetVisible(true);
  if (clear) clear->SetVisible(kind_ != kKindEmpty);
  if (HasFocus()) {
    host->EnableActionItems(kind_ != kKindEmpty, nullptr, ui::kActionChannelAdvanced, 1);
    host->EnableActionItems(kind_ != kKindEmpty, nullptr, ui::kActionChannelClear, 1);
  }
}

void ChannelSelection::ShowClipCount() {
  ui::UiHost* host = HostOrNull();
  if (!host || !host->CurrentMenu() || image_count_.IsEmpty()) return;
  if (ui::Element* e = host->FindElementByName(nullptr, image_count_, false)) {
    const ov::String text = clips_.size() < 2 ? ov::String(u" ") : ov::String::Format(u"%d", ClipCount());
    e->OnAction(ui::kActionSetText, text, 0);
  }
}

void ChannelSelection::UpdateMixerActions() {
  ui::UiHost* host = HostOrNull();
  Mixer* mixer = FindMixer();
  if (!mixer) return;
  host->EnableActionItems(mixer->CountUsedChannels() > 2, nullptr, ui::kActionJumpToMix, 1);
}

void ChannelSelection::AssignFromBrowser(MediaSelection* browser) {
  ui::UiHost* host = HostOrNull();
  if (!mix_channel_.IsEmpty()) {
    // A cell of another screen (the media browser's drop cells) stands for
    // a channel of the mixer screen, which takes what is dropped here.
    ui::Element* e = host ? host->FindElementByName(host->RootMenu(), mix_channel_, true) : nullptr;
    auto* channel = e && e != this && e->GetType() == ui::kTypeChannelSelection ? dynamic_cast<ChannelSelection*>(e)
                                                                                 : nullptr;
    if (channel && channel->mix_channel_.IsEmpty()) channel->AssignFromBrowser(browser);
    return;
  }
  if (browser->GetSelectedKind() == kKindProject) {
    if (host) host->DoAction(ui::kActionMixLoad, browser->GetSelectedPath(), 1);
    return;
  }
  if (!browser->IsSelectionUsable()) return;
  // A sound the readers cannot decode would play as silence: it is refused
  // here, with the reason, instead of being found out in the mix.
  if (browser->GetSelectedKind() == kKindAudio) {
    const ov::String path = browser->GetSelectedPath();
    const ov::String problem = media::AudioClipProblem(path);
    if (!problem.IsEmpty()) {
      wnd::MessageBox(u"Clip not added", ov::FileNameOf(path) + u": " + problem, wnd::kBoxOk);
      return;
    }
  }
  AddClip(browser->GetSelectedKind(), browser->GetSelectedFileType(), browser->GetSelectedPath(), ov::String(),
          ov::String(), kWholePicture, kWholePicture, kDefaultPanSpeed, 0, 0, 0, 0, 0, 0, nullptr);
  loop_on_ = (kind_ == kKindAudio || kind_ == kKindVideo) ? 1 : 0;
  Refresh();
  if (host) host->DoAction(ui::kActionMixChanged, ov::String(), 1);
}

const ov::String& ChannelSelection::EditMenuOfKind() const {
  static const ov::String kNone;
  if (kind_ == kKindVideo) return video_edit_menu_;
  if (kind_ == kKindAudio) return audio_edit_menu_;
  if (kind_ == kKindImage) return image_edit_menu_;
  return kNone;
}

void ChannelSelection::OpenEditor() {
  ui::UiHost* host = HostOrNull();
  const ov::String& menu = EditMenuOfKind();
  if (!host || menu.IsEmpty()) return;
  host->JumpToMenu(menu);
  host->DoAction(ui::kActionSetChannel, title_, 1);
}

void ChannelSelection::ClearAndRefresh() {
  ui::UiHost* host = HostOrNull();
  Clear();
  Refresh();
  UpdateLayout();
  if (host) {
    host->InvalidateArea(bounds_);
    host->DoAction(ui::kActionMixChanged, ov::String(), 1);
  }
  UpdateMixerActions();
}

namespace {

MediaSelection* BrowserOf(ui::Element* e) {
  return e && e->GetType() == ui::kTypeMediaBrowser ? dynamic_cast<MediaSelection*>(e) : nullptr;
}

MediaSelection* FindBrowser() {
  ui::UiHost* host = ui::Host();
  if (!host) return nullptr;
  return BrowserOf(host->FindElementByType(host->RootMenu(), ui::kTypeMediaBrowser, 1));
}

}  // namespace

int ChannelSelection::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = HostOrNull();
  switch (code) {
    case ui::kActionMenuShown:
      Refresh();
      UpdateMixerActions();
      ShowClipCount();
      break;
    case ui::kActionFocusGained:
      if (host) {
        host->RequestHelpTip(kHelpTipOnChannel);
        if (title_.View() != u"channel_sel0") host->RequestHelpTip(kHelpTipAssign);
      }
      Refresh();
      UpdateMixerActions();
      ShowClipCount();
      break;
    case ui::kActionChannelClear:
      if (argument.View() == title_.View()) ClearAndRefresh();
      break;
    case ui::kActionCreditsStartClear:
    case ui::kActionCreditsEndClear:
      if (title_.Left(24).EqualsNoCase(u"channel_sel_start_credit") ||
          title_.Left(22).EqualsNoCase(u"channel_sel_end_credit")) {
        ClearAndRefresh();
        AddEmptyTextClip();
        UpdateMixerActions();
      }
      break;
    case ui::kActionChannelAssign:
      if (HasFocus()) {
        if (MediaSelection* browser = FindBrowser()) {
          AssignFromBrowser(browser);
          UpdateMixerActions();
        }
      }
      return 1;
    case ui::kActionChannelAdvanced:
      if (HasFocus()) OpenEditor();
      break;
    case ui::kActionAfterMixerCode:
      UpdateMixerActions();
      break;
    case ui::kActionMixChanged:
      Clear();
      break;
    default:
      if (code >= ui::kActionChannelClear0 && code <= ui::kActionChannelClear0 + 5) {
        const int n = code - ui::kActionChannelClear0;
        if (title_.Length() > 11 && title_.Left(11).EqualsNoCase(u"channel_sel") && title_[11] == u'0' + n) {
          ClearAndRefresh();
          if (Mixer* mixer = FindMixer()) {
            auto reset = [&](int32_t mixer_code, const char16_t* value) {
              mixer->OnAction(mixer_code, value, 0);
              if (ui::Element* bound = host->FindElementByAction(nullptr, mixer_code)) {
                bound->OnAction(ui::kActionSliderSet, value, 0);
              }
            };
            reset(ui::kActionTempoLevel0 + n, u"50");
            reset(ui::kActionVolume0 + n, u"100");
            mixer->OnAction(ui::kActionSpeaker0 + n, u"100", 0);
          }
        }
      }
      break;
  }
  return Control::OnAction(code, argument, flag);
}

bool ChannelSelection::OnDirectionKey(int32_t code) {
  if (!IsEnabled()) return false;
  ui::UiHost* host = HostOrNull();
  if (code == quick_key_ || (code == alt_key1_ && code != -1) || (code == alt_key2_ && code != -1)) {
    if (host) {
      if (Mixer* mixer = FindMixer(); mixer && mixer->CountUsedChannels() > 2) {
        host->RequestHelpTip(kHelpTipAssign);
      }
    }
    if (MediaSelection* browser = FindBrowser()) {
      AssignFromBrowser(browser);
      UpdateMixerActions();
    }
    if (host) host->InvalidateAll();
    return true;
  }
  if (code == 4 && HasFocus()) {
    OnAction(ui::kActionChannelAdvanced, ov::String(), 0);
    if (host) host->InvalidateAll();
    return true;
  }
  return false;
}

bool ChannelSelection::OnStylusDown(int32_t x, int32_t y) {
  ui::UiHost* host = HostOrNull();
  const ov::String& icon = kind_ == kKindVideo ? video_icon_ : kind_ == kKindAudio ? audio_icon_ : image_icon_;
  if (host && (kind_ == kKindVideo || kind_ == kKindAudio || kind_ == kKindImage) && !icon.IsEmpty()) {
    ui::Element* e = host->FindElementByName(nullptr, icon, false);
    if (e && e->ContainsPoint(x, y)) OpenEditor();
  }
  return true;
}

bool ChannelSelection::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  ui::UiHost* host = HostOrNull();
  if (!host) return false;
  if (MediaSelection* browser = BrowserOf(host->GetPressedElement())) {
    AssignFromBrowser(browser);
    UpdateMixerActions();
  }
  return false;
}

void ChannelSelection::SaveState(ov::Archive* a) {
  for (const ov::String* s : {&video_icon_, &audio_icon_, &image_icon_, &clear_icon_, &assigned_icon_}) {
    a->WriteString(s->View());
  }
  a->WriteI32(loop_on_);
  a->WriteI32(quick_key_);
  for (const ov::String* s : {&image_edit_menu_, &video_edit_menu_, &audio_edit_menu_, &image_count_}) {
    a->WriteString(s->View());
  }
  a->WriteI32(channel_tempo_);
  a->WriteI32(beat_match_);
  a->WriteI32(spare_);
  Control::SaveState(a);
}

void ChannelSelection::LoadState(ov::Archive* a) {
  for (ov::String* s : {&video_icon_, &audio_icon_, &image_icon_, &clear_icon_, &assigned_icon_}) a->ReadString(s);
  a->ReadI32(&loop_on_);
  a->ReadI32(&quick_key_);
  for (ov::String* s : {&image_edit_menu_, &video_edit_menu_, &audio_edit_menu_, &image_count_}) a->ReadString(s);
  a->ReadI32(&channel_tempo_);
  a->ReadI32(&beat_match_);
  a->ReadI32(&spare_);
  Control::LoadState(a);
}

}  // namespace screens
