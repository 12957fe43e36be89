#include "screens/editors/text_editor.h"

#include "engine/engine_command.h"
#include "engine/media_decompressor.h"
#include "engine/mix_engine.h"
#include "engine/picture565.h"
#include "platform/os/archive.h"
#include "platform/os/file.h"
#include "platform/ui/text_entry.h"
#include "screens/clip_commands.h"
#include "screens/editors/photo_editor.h"
#include "screens/editors/preview_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/clip_order_list.h"
#include "ui/element.h"
#include "ui/menu.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// Options: how the overlay and photo effect are given to the channel's
// clips, and the style of the edited clip.
constexpr int kOptionOverlayToAll = 7;
constexpr int kOptionPhotoEffectToAll = 8;
constexpr int kOptionPhotoEffect = 9;
constexpr int kStringOptionOverlay = 18;
constexpr int kOptionBackground = 18;
constexpr int kOptionTextColour = 19;
constexpr int kOptionTextSize = 20;
constexpr int kOptionBold = 22;
constexpr int kOptionItalic = 23;
constexpr int kOptionUnderline = 24;
constexpr int kOptionJustification = 25;
constexpr int kOptionVerticalAlign = 26;

// The preview plays the clip on the first picture channel, a video's sound
// on the first sound channel.
constexpr uint32_t kPreviewPicture = engine::kFirstVideoChannel;
constexpr uint32_t kPreviewSound = 0;
constexpr uint32_t kTickPeriodMs = 250;

// The end of the preview is looked for at most every 250 ms, one clock for
// every text editor.
uint32_t g_last_check = 0;
bool g_checked = false;

std::unique_ptr<engine::EngineCommand> Command(uint32_t type, uint32_t channel, int32_t param1 = 0) {
  return std::make_unique<engine::EngineCommand>(engine::MakeCommand(type, channel, param1));
}

uint32_t* Numeric(ui::UiHost* host, int n) { return host ? host->NumericOption(n) : nullptr; }

uint32_t GetNumeric(ui::UiHost* host, int n, uint32_t fallback = 0) {
  const uint32_t* slot = Numeric(host, n);
  return slot ? *slot : fallback;
}

void SetNumeric(ui::UiHost* host, int n, uint32_t value) {
  if (uint32_t* slot = Numeric(host, n)) *slot = value;
}

}  // namespace

TextEditor::TextEditor() {
  type_ = ui::kTypeTextEditor;
  transparent_colour_ = engine::kKeyColour;
}

TextEditor::TextEditor(OffScreen) : ui::Control(OffScreen{}) { type_ = ui::kTypeTextEditor; }

TextEditor::~TextEditor() {
  // The engine stops its threads and frees its mixers as it goes.
  engine_.reset();
}

void TextEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String TextEditor::*field;
  };
  static const Text kTexts[] = {{u"enterText", &TextEditor::placeholder_},
                                {u"editorTitle", &TextEditor::dialog_title_},
                                {u"editorOKText", &TextEditor::dialog_ok_},
                                {u"editorCancelText", &TextEditor::dialog_cancel_},
                                {u"credits_overlay_menu", &TextEditor::overlay_menu_}};
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  if (ui::NameIs(name, u"borderX")) border_x_ = value.ToInt();
  else if (ui::NameIs(name, u"borderY")) border_y_ = value.ToInt();
  else ui::Control::LoadAttribute(name, value);
}

uint32_t DeriveKeyColour(uint32_t textColour) {
  uint32_t key = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t byte = (textColour >> shift) & 0xFF;
    key |= (byte < 0xE0 ? byte + 0x20 : byte - 0x20) << shift;
  }
  return key;
}

int TextEditor::InitTextEditor(int32_t width, int32_t height, TextClip* clip) {
  antialias_ = true;
  clip_ = clip;
  x_ = 0;
  y_ = 0;
  x_size_ = width;
  y_size_ = height;
  UpdateLayout();
  ApplyTextStyle(nullptr);
  TextBox::OnAction(ui::kActionSetText, clip ? clip->textString : ov::String(), 0);
  return 1;
}

int TextEditor::ApplyTextStyle(const TextClip* style) {
  if (!clip_) return 0;
  if (style) {
    clip_->backgroundColour = style->backgroundColour;
    clip_->textColour = style->textColour;
    clip_->textSize = style->textSize;
    clip_->bold = style->bold;
    clip_->italic = style->italic;
    clip_->underline = style->underline;
    clip_->justification = style->justification;
    clip_->verticalAlign = style->verticalAlign;
    if (clip_->backgroundColour == -1) clip_->keyColour = DeriveKeyColour(clip_->textColour);
  }
  const int32_t height = clip_->textSize == 0 ? x_size_ / 8 : x_size_ / 4;
  const bool centred = clip_->justification == 1;
  const bool right = clip_->justification == 2;
  const bool justified = clip_->justification == 3;
  const bool changed = idle_colour_ != clip_->textColour || text_height_ != height || centred_ != centred ||
                       right_ != right || justified_ != justified || italic_ != (clip_->italic != 0) ||
                       bold_ != (clip_->bold != 0) || underline_ != (clip_->underline != 0);
  idle_colour_ = clip_->textColour;
  text_height_ = height;
  centred_ = centred;
  right_ = right;
  justified_ = justified;
  italic_ = clip_->italic != 0;
  bold_ = clip_->bold != 0;
  underline_ = clip_->underline != 0;
  if (changed) {
    layout_pending_ = true;
    ReleaseFont();
  }
  if (ui::UiHost* host = OnScreenHost()) host->InvalidateAll();
  return changed ? 1 : 0;
}

void TextEditor::Draw(gfx::HDC dc, int state) {
  if (!dc) return;
  if (!off_screen() && engine_ && (playing_ || paused_)) {
    // The preview's picture inside the borders, through a bitmap of its size
    // so that the clip of `dc` holds.
    const int32_t w = x_size_ - 2 * border_x_, h = y_size_ - 2 * border_y_;
    gfx::HBitmap frame = w > 0 && h > 0 ? gfx::CreateBitmap565(w, h) : nullptr;
    if (frame) {
      engine_->DrawFrame(engine::Picture565{frame->bits(), frame->width(), frame->height(), frame->stride()}, 0, 0);
      auto mem = gfx::CreateCompatibleDC(dc);
      mem->SelectBitmap(frame);
      gfx::BitBlt(dc, x_ + border_x_, y_ + border_y_, w, h, mem.get(), 0, 0, gfx::kSrcCopy);
    }
    ResetRect();
    return;
  }
  if (text_.IsEmpty()) return;
  const int32_t h = GetTextHeight(dc);
  const int32_t box = y_size_;
  int32_t offset = 0;
  const int32_t align = clip_ ? clip_->verticalAlign : 0;
  if (h > 0 && h < box && box > 0) {
    if (align == 1) offset = box / 2 - h / 2;
    else if (align == 2) offset = box - h;
  }
  if (!off_screen()) DrawStateImage(dc, x_, y_, state, false);
  if (clip_ && clip_->backgroundColour != -1) {
    gfx::FillRect(dc, gfx::Rect{x_, y_, x_ + x_size_, y_ + y_size_},
                  gfx::CreateSolidBrush(uint32_t(clip_->backgroundColour)));
  }
  // The text in the clip's own colour whatever the focus: the box shows the
  // clip as it will play.
  DrawTextBlock(dc, ui::kDrawNormal, x_, y_ + offset, false);
  ResetRect();
}

void TextEditor::OnTick(gfx::Rect* area, uint32_t now) {
  if (playing_ && engine_ && (!g_checked || now - g_last_check >= kTickPeriodMs)) {
    g_checked = true;
    g_last_check = now;
    if (!engine_->IsChannelPlaying(kPreviewPicture)) {
      playing_ = paused_ = false;
      UpdateMenuItems();
      Invalidate();
    }
  }
  if (engine_ && engine_->FrameChanged()) {
    UpdateLayout();
    Invalidate();
  }
  ui::Control::OnTick(area, now);
}

bool TextEditor::OnDirectionKey(int32_t code) {
  ui::UiHost* host = ui::Host();
  if (!IsVisible() || !host || host->FocusedElement() != this || code != 4) return false;
  EditText();
  host->InvalidateAll();
  return true;
}

bool TextEditor::OnStylusDown(int32_t, int32_t) {
  EditText();
  return true;
}

Mixer* TextEditor::FindMixer() const {
  ui::UiHost* host = ui::Host();
  ui::Menu* root = host ? host->RootMenu() : nullptr;
  return root ? dynamic_cast<Mixer*>(root->FindByType(ui::kTypeMixer, true)) : nullptr;
}

void TextEditor::ShowClipText() {
  const ov::String text = clip_ ? clip_->textString : ov::String();
  TextBox::OnAction(ui::kActionSetText, text.IsEmpty() ? placeholder_ : text, 0);
}

int TextEditor::ApplyOptionsStyle() {
  if (!clip_) return 0;
  ui::UiHost* host = ui::Host();
  if (!host) return ApplyTextStyle(nullptr);
  TextClip style = *clip_;
  style.backgroundColour = int32_t(GetNumeric(host, kOptionBackground, uint32_t(clip_->backgroundColour)));
  style.textColour = GetNumeric(host, kOptionTextColour, clip_->textColour);
  style.textSize = int32_t(GetNumeric(host, kOptionTextSize, uint32_t(clip_->textSize)));
  style.bold = int32_t(GetNumeric(host, kOptionBold, uint32_t(clip_->bold)));
  style.italic = int32_t(GetNumeric(host, kOptionItalic, uint32_t(clip_->italic)));
  style.underline = int32_t(GetNumeric(host, kOptionUnderline, uint32_t(clip_->underline)));
  style.justification = int32_t(GetNumeric(host, kOptionJustification, uint32_t(clip_->justification)));
  style.verticalAlign = int32_t(GetNumeric(host, kOptionVerticalAlign, uint32_t(clip_->verticalAlign)));
  return ApplyTextStyle(&style);
}

void TextEditor::SaveTextStyle() {
  ui::UiHost* host = ui::Host();
  if (!clip_ || !host) return;
  SetNumeric(host, kOptionBackground, uint32_t(clip_->backgroundColour));
  SetNumeric(host, kOptionTextColour, clip_->textColour);
  SetNumeric(host, kOptionTextSize, uint32_t(clip_->textSize));
  SetNumeric(host, kOptionBold, uint32_t(clip_->bold));
  SetNumeric(host, kOptionItalic, uint32_t(clip_->italic));
  SetNumeric(host, kOptionUnderline, uint32_t(clip_->underline));
  SetNumeric(host, kOptionJustification, uint32_t(clip_->justification));
  SetNumeric(host, kOptionVerticalAlign, uint32_t(clip_->verticalAlign));
}

int TextEditor::EditText() {
  if (!clip_) return 1;
  wnd::SetupTextEntry(clip_->textString, dialog_title_, dialog_ok_, dialog_cancel_);
  // The dialog is modal while timers and queued actions run on: a turn
  // meanwhile cancels it, and it runs once this returns.
  if (wnd::RunTextEntryDialog() && clip_) {
    clip_->textString = wnd::TextEntryText();
    // The text cache shows the old text.
    if (channel_) channel_->DeleteClipCaches(kKindText);
    ShowClipText();
    UpdateMenuItems();
  }
  return 1;
}

void TextEditor::SelectTextClip(const ov::String& name, int32_t code) {
  StopPreview();
  clip_ = nullptr;
  channel_ = nullptr;
  clip_index_ = 0;
  playing_ = paused_ = false;
  ui::UiHost* host = ui::Host();
  if (host && !name.IsEmpty()) {
    ui::Element* e = host->FindElementByName(host->RootMenu(), name, true);
    if (e && e->GetType() == ui::kTypeChannelSelection) channel_ = dynamic_cast<ChannelSelection*>(e);
  }
  Mixer* mixer = FindMixer();
  const bool mixed = channel_ && mixer && mixer->FindChannelIndex(channel_) >= 0;
  int index = -1;
  if (channel_) {
    if (code == ui::kActionSelectTextClip && mixed) {
      auto* menu = dynamic_cast<ui::Menu*>(parent_);
      auto* list = menu ? dynamic_cast<ui::PlaylistOrder*>(menu->FindByType(ui::kTypePlaylistOrder, true)) : nullptr;
      if (list) {
        index = list->selected();
      } else if (auto* photos = host ? dynamic_cast<ImageEditor*>(
                                           host->FindElementByType(host->RootMenu(), ui::kTypeImageEditor, 1))
                                     : nullptr;
                 photos && photos->channel() == channel_) {
        // A screen without its own clip order list (the photo editor's
        // "Text") edits the caption of the photo selected in that editor.
        index = photos->Selected();
      }
    } else if (code == ui::kActionSelectFirstTextClip && mixed) {
      index = 0;
    } else if (code == ui::kActionStartCredits || code == ui::kActionEndCredits) {
      index = 0;
    }
  }
  if (index >= 0 && channel_->GetClipText(index)) {
    clip_ = channel_->GetClipText(index);
    clip_index_ = index;
  }
  ShowClipText();
  if (!clip_) return;
  SaveTextStyle();
  if (host) host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  ApplyOptionsStyle();
}

void TextEditor::UpdateMenuItems() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  const bool stopped = !playing_ && !paused_;
  host->EnableActionItems(stopped, nullptr, ui::kActionEditorAddOverlay, 1);
  host->CheckActionItems(credits_ && start_credits_, nullptr, ui::kActionStartCredits, 1);
  host->CheckActionItems(credits_ && !start_credits_, nullptr, ui::kActionEndCredits, 1);
  if (ui::Element* list = host->FindElementByType(nullptr, ui::kTypePlaylistOrder, 1)) list->SetEnableBit(stopped, 31);
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionEditorPlay, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorStop, 1);
  host->EnableActionItems(playing_ && !paused_, nullptr, ui::kActionEditorPause, 1);
  host->EnableActionItems(clip_ && !clip_->textString.IsEmpty(), nullptr, ui::kActionTextClear, 1);
  host->SetKeepAwake(playing_);
  host->CheckActionItems(clip_ && clip_->underline, nullptr, ui::kActionTextUnderline, 1);
  host->CheckActionItems(clip_ && clip_->italic, nullptr, ui::kActionTextItalic, 1);
  host->CheckActionItems(clip_ && clip_->bold, nullptr, ui::kActionTextBold, 1);
}

void TextEditor::StartPreview() {
  if (!engine_ || !channel_ || !clip_) return;
  playing_ = true;
  paused_ = false;
  preview_word_ = 0;
  engine_->Play();
  engine_->PostAction(Command(engine::CMD_MASTER_VOLUME, 0, volume_ * 655));
  PlayClip();
}

// The channel's clip as the mixer plays it (its open, text and layers, the
// transition while the channel's effect is on); a video's picture comes
// from the video editor's decoded cache when there is one, its caption from
// the text cache, and its sound plays on the first sound stream.
void TextEditor::PlayClip() {
  ChannelSelection* ch = channel_;
  const int c = clip_index_;
  Mixer* mixer = FindMixer();
  const int index = mixer ? mixer->FindChannelIndex(ch) : -1;
  const ov::String descriptor = FormatTextClip(*clip_);
  const bool text_only = credits_ || ch->GetKind() == kKindText;
  const bool video = !text_only && ch->GetKind() == kKindVideo;
  const bool has_text = !clip_->textString.IsEmpty();
  auto post = [this](std::unique_ptr<engine::EngineCommand> command) {
    if (command) engine_->PostAction(std::move(command));
  };
  if (video && has_text) {
    engine::MediaDecompressor decompressor(engine_->videoMixer(), {}, true);
    decompressor.DecompressText(c, ch, index >= 0 ? index : 0);
  }
  if (video) {
    auto sound = Command(engine::CMD_LOAD, kPreviewSound);
    sound->path = ch->GetClipFile(c);
    ch->GetClipCutPoints(c, &sound->param2, &sound->param3);
    post(std::move(sound));
  }
  if (text_only) {
    // Credits: the text alone is the clip.
    auto load = Command(engine::CMD_LOAD, kPreviewPicture, -1);
    load->path = load->altPath = descriptor;
    post(std::move(load));
  } else {
    std::unique_ptr<engine::EngineCommand> load =
        MakeClipOpen(*ch, c, kPreviewPicture, video ? int32_t(kPreviewSound) : -1);
    if (!load) return;
    if (const ov::String decoded = ch->GetClipCache2(c, kKindVideo); video && !decoded.IsEmpty()) {
      load->path = decoded;
      load->altPath = ov::String();
    }
    post(std::move(load));
    if (has_text) {
      auto text = Command(engine::CMD_LOAD_IMAGE, kPreviewPicture, -1);
      text->path = descriptor;
      text->altPath = video ? ch->GetClipCache(c, kKindText) : descriptor;
      if (text->altPath.IsEmpty()) text->altPath = descriptor;
      post(std::move(text));
    }
  }
  PostClipLayers(*ch, c, kPreviewPicture, post);
  if (ch->effect_on()) post(PreviewTransition(mixer, index, kPreviewPicture));
  auto play = Command(engine::CMD_PLAY, kPreviewPicture);
  if (video) play->param2 = 1;
  post(std::move(play));
  if (video) post(Command(engine::CMD_VOLUME, kPreviewSound, 0xFFFF));
}

void TextEditor::StopPreview() {
  if (playing_ && engine_) engine_->StopAllChannels();
  playing_ = paused_ = false;
}

void TextEditor::SetUpOverlay() {
  ui::UiHost* host = ui::Host();
  if (!host || !channel_ || channel_->ClipCount() == 0) return;
  SetNumeric(host, kOptionOverlayToAll, 0);
  SetNumeric(host, kOptionPhotoEffect, FindMixer() ? uint32_t(channel_->GetClipPhotoEffect(0)) : 0);
  // The option names the overlay inside the skin folder, as the effect
  // browser sets it; the clip holds the whole path.
  ov::String overlay = channel_->GetClipOverlayFile(0);
  const ov::String inside = ov::JoinPath(host->SkinFolder(), u"x");
  const ov::String folder = inside.Left(inside.Length() - 1);
  if (!folder.IsEmpty() && overlay.Left(folder.Length()) == folder) overlay = overlay.Mid(folder.Length());
  if (ov::String* slot = host->StringOption(kStringOptionOverlay)) *slot = overlay;
  SetNumeric(host, kOptionPhotoEffectToAll, 0);
  host->JumpToMenu(overlay_menu_);
  host->UpdateEffectControls();
}

void TextEditor::ApplyOverlay() {
  ui::UiHost* host = ui::Host();
  if (!host || !channel_) return;
  const ov::String* name = host->StringOption(kStringOptionOverlay);
  const ov::String path = name && !name->IsEmpty() ? ov::JoinPath(host->SkinFolder(), *name) : ov::String();
  if (FindMixer()) {
    const bool all_overlay = GetNumeric(host, kOptionOverlayToAll) == 1;
    const bool all_effect = GetNumeric(host, kOptionPhotoEffectToAll) == 1;
    const int32_t effect = int32_t(GetNumeric(host, kOptionPhotoEffect));
    for (int i = 0; i < channel_->ClipCount(); ++i) {
      if (i == 0 || all_overlay) channel_->SetClipOverlayFile(i, path);
      if (i == 0 || all_effect) channel_->SetClipPhotoEffect(i, effect);
    }
  }
}

void TextEditor::ToggleOption(int option) {
  ui::UiHost* host = ui::Host();
  SetNumeric(host, option, GetNumeric(host, option) == 0 ? 1 : 0);
}

void TextEditor::SetStyleOption(int option, uint32_t value) { SetNumeric(ui::Host(), option, value); }

int TextEditor::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  bool update = true;
  switch (code) {
    case ui::kActionMenuShown:
      // The clip is only borrowed: one that left its channel while another
      // screen was shown (removed, or the channel cleared) is forgotten.
      if (clip_ && (!channel_ || clip_index_ >= channel_->ClipCount() || channel_->GetClipText(clip_index_) != clip_)) {
        clip_ = nullptr;
        ShowClipText();
      }
      // Back from the colours, whose choices went into the options.
      ApplyOptionsStyle();
      break;
    case ui::kActionAfterRotation: {
      auto* menu = dynamic_cast<ui::Menu*>(parent_);
      if (!host || !menu || !host->IsMenuInHistory(menu)) break;
      // The turn rebuilt the screens: the clip is taken again as it was
      // chosen, the credits by their action, a channel's clip by the saved
      // selection.
      if (credits_) {
        OnAction(start_credits_ ? ui::kActionStartCredits : ui::kActionEndCredits, ov::String(), 0);
      } else if ((selection_code_ == ui::kActionSelectTextClip || selection_code_ == ui::kActionSelectFirstTextClip) &&
                 !selection_name_.IsEmpty()) {
        OnAction(selection_code_, selection_name_, 0);
      }
      break;
    }
    case ui::kActionLeavingMenu:
      if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
      playing_ = paused_ = false;
      // The preview's threads and sound device rest while the screen is not
      // shown; the next preview starts them again.
      if (engine_ && engine_->IsPlaying()) engine_->StopAllChannels();
      if (channel_) channel_->DeleteClipCaches(kKindText);
      if (host) host->SetKeepAwake(false);
      break;
    case ui::kActionInitialise:
      update = false;
      engine_ = MakePreviewEngine(host, x_size_ - 2 * border_x_, y_size_ - 2 * border_y_, frame_rate_);
      if (engine_) engine_->SetDisplayRect(0, 0, x_size_ - 2 * border_x_, y_size_ - 2 * border_y_);
      break;
    case ui::kActionOptionsChanged:
      update = ApplyOptionsStyle() != 0;
      break;
    case ui::kActionEditorPlay:
      if (!playing_) {
        StartPreview();
      } else if (paused_ && engine_) {
        engine_->StartReplay();
        paused_ = false;
      }
      break;
    case ui::kActionEditorPause:
      if (!paused_ && playing_ && engine_) {
        engine_->Pause();
        paused_ = true;
      }
      break;
    case ui::kActionEditorStop:
      StopPreview();
      Invalidate();
      break;
    case ui::kActionEditorAddOverlay:
    case ui::kActionEditorCreditAddOverlay:
      SetUpOverlay();
      break;
    case ui::kActionEditorAcceptChanges:
      ApplyOverlay();
      update = ApplyOptionsStyle() != 0;
      break;
    case ui::kActionJustifyRight:
    case ui::kActionJustifyLeft:
    case ui::kActionJustifyCentre:
    case ui::kActionJustifyFull: {
      static constexpr uint32_t kJustification[] = {2, 0, 1, 3};
      SetStyleOption(kOptionJustification, kJustification[code - ui::kActionJustifyRight]);
      ApplyOptionsStyle();
      break;
    }
    case ui::kActionAlignTop:
    case ui::kActionAlignMiddle:
    case ui::kActionAlignBottom:
      SetStyleOption(kOptionVerticalAlign, uint32_t(code - ui::kActionAlignTop));
      ApplyOptionsStyle();
      break;
    case ui::kActionTextItalic:
    case ui::kActionTextBold:
    case ui::kActionTextUnderline:
      ToggleOption(code == ui::kActionTextItalic ? kOptionItalic
                   : code == ui::kActionTextBold ? kOptionBold
                                                 : kOptionUnderline);
      ApplyOptionsStyle();
      break;
    case ui::kActionTextClear:
      if (clip_) {
        clip_->textString = ov::String();
        if (channel_) channel_->DeleteClipCaches(kKindText);
        ShowClipText();
        ApplyOptionsStyle();
      }
      break;
    case ui::kActionSelectTextClip:
    case ui::kActionSelectFirstTextClip:
      selection_code_ = code;
      selection_name_ = argument;
      credits_ = start_credits_ = false;
      SelectTextClip(argument, code);
      break;
    case ui::kActionStartCredits:
    case ui::kActionEndCredits: {
      Mixer* mixer = FindMixer();
      const bool start = code == ui::kActionStartCredits;
      if (channel_) channel_->DeleteClipCaches(kKindEmpty);
      SelectTextClip(mixer ? (start ? mixer->start_credits_name() : mixer->end_credits_name()) : ov::String(), code);
      credits_ = true;
      start_credits_ = start;
      break;
    }
    case ui::kActionForgetTextClip:
      clip_ = nullptr;
      break;
    default:
      update = false;
      break;
  }
  if (update) UpdateMenuItems();
  return ui::Control::OnAction(code, argument, flag);
}

void TextEditor::SaveState(ov::Archive* archive) {
  for (int32_t v : {int32_t(playing_), int32_t(frame_rate_), int32_t(paused_), volume_, preview_word_,
                    int32_t(credits_), int32_t(start_credits_)}) {
    archive->WriteU32(uint32_t(v));
  }
  archive->WriteString(selection_name_.View());
  archive->WriteU32(uint32_t(selection_code_));
  Control::SaveState(archive);
}

void TextEditor::LoadState(ov::Archive* archive) {
  uint32_t words[7] = {};
  for (uint32_t& w : words) archive->ReadU32(&w);
  // The preview engine is new after a turn: nothing plays.
  playing_ = paused_ = false;
  frame_rate_ = words[1] != 0 ? words[1] : 15;
  volume_ = int32_t(words[3]);
  preview_word_ = int32_t(words[4]);
  credits_ = words[5] != 0;
  start_credits_ = words[6] != 0;
  archive->ReadString(&selection_name_);
  uint32_t code = 2;
  archive->ReadU32(&code);
  selection_code_ = int32_t(code);
  // Until code 9 takes the clip again the editor edits nothing.
  clip_ = nullptr;
  channel_ = nullptr;
  Control::LoadState(archive);
}

namespace {

class EditorTextRenderer : public engine::TextClipRenderer {
 public:
  bool Prepare(const ov::String& descriptor, int32_t width, int32_t height) override {
    if (width <= 0 || height <= 0) return false;
    clip_ = TextClip{};
    if (!IsTextClip(descriptor) || ParseTextClip(&clip_, descriptor) != 1) return false;
    editor_ = std::make_unique<TextEditor>(ui::TextBox::OffScreen{});
    return editor_->InitTextEditor(width, height, &clip_) == 1;
  }
  bool HasBackground() const override { return clip_.backgroundColour != -1; }
  uint32_t KeyColour() const override { return clip_.keyColour; }
  bool Draw(uint32_t, gfx::HDC dc) override {
    if (!editor_ || !dc) return false;
    editor_->Draw(dc, ui::kDrawNormal);
    return true;
  }

 private:
  TextClip clip_;
  std::unique_ptr<TextEditor> editor_;
};

}  // namespace

std::unique_ptr<engine::TextClipRenderer> MakeTextClipRenderer() { return std::make_unique<EditorTextRenderer>(); }

}  // namespace screens
