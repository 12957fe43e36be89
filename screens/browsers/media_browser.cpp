#include "screens/browsers/media_browser.h"

#include <algorithm>

#include "platform/gfx/dc.h"
#include "platform/os/environment.h"
#include "platform/os/process.h"
#include "platform/os/thread.h"
#include "screens/browsers/browser_rows.h"
#include "screens/project/channel_selection.h"
#include "ui/folder_browser.h"
#include "ui/menu.h"
#include "ui/scroll_bar.h"
#include "ui/text_drawing.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// The numeric option "MediaBrowserSort": 1 by name, 0 by date.
constexpr int kOptionMediaBrowserSort = 0;
constexpr int32_t kHelpBrowser = 1, kHelpBrowserKeys = 2;
// The drag icon's states (ui::DragIcon): over the browser, over a channel,
// anywhere else.
constexpr int32_t kDragOverBrowser = 0, kDragOverChannel = 1, kDragElsewhere = 2;

// Indicator elements, in the order of indicators_: four kinds, then the
// date modes 0-6.
constexpr const char16_t* kIndicatorNames[11] = {
    u"filter_audio",     u"filter_image",     u"filter_video",    u"filter_project",
    u"filter_today",     u"filter_yesterday", u"filter_last7days", u"filter_lastmonth",
    u"filter_thismonth", u"filter_showall",   u"filter_showcalender"};
constexpr int32_t kKindCodes[4] = {ui::kActionFilterAudio, ui::kActionFilterImage, ui::kActionFilterVideo,
                                   ui::kActionFilterProject};
// The check item of each DateMode (0-6).
constexpr int32_t kDateCodes[7] = {ui::kActionShowToday,     ui::kActionShowYesterday, ui::kActionShowLast7Days,
                                   ui::kActionShowLastMonth, ui::kActionShowThisMonth, ui::kActionShowAll,
                                   ui::kActionShowCalendar};

}  // namespace

MediaBrowser::MediaBrowser() {
  type_ = ui::kTypeMediaBrowser;
  font_.height = 12;
}

MediaBrowser::~MediaBrowser() {
  preview_player_.reset();
  catalogue_.ClearList();
  catalogue_.CloseWatches();
}

void MediaBrowser::LoadAttribute(const ov::String& name, const ov::String& value) {
  using ui::NameIs;
  if (NameIs(name, u"scrollBar")) scroll_bar_name_ = value;
  else if (NameIs(name, u"imageTextMenu")) credits_menu_ = value;
  else if (NameIs(name, u"filenameStr")) filename_label_ = value;
  else if (NameIs(name, u"typeStr")) type_label_ = value;
  else if (NameIs(name, u"dimenstionsStr")) dimensions_label_ = value;
  else if (NameIs(name, u"preTextAdditionalSpacing")) pre_text_spacing_ = value.ToInt();
  else if (NameIs(name, u"textAdditionalSpacing")) text_spacing_ = value.ToInt();
  else if (NameIs(name, u"audioIcon")) audio_icon_ = value;
  else if (NameIs(name, u"beatmatchingIcon")) beat_icon_ = value;
  else if (NameIs(name, u"projectIcon")) project_icon_ = value;
  else if (NameIs(name, u"yThumbnailSize")) thumb_height_ = value.ToInt();
  else if (NameIs(name, u"xThumbnailSize")) thumb_width_ = value.ToInt();
  else if (NameIs(name, u"borderSize")) border_ = value.ToInt();
  else if (NameIs(name, u"focusSelectedIcon")) focus_frame_.name = value;
  else if (NameIs(name, u"idleSelectedIcon")) idle_frame_.name = value;
  else if (NameIs(name, u"selectedTransparentColour")) selected_transparent_colour_ = static_cast<uint32_t>(value.ToInt());
  else if (NameIs(name, u"tempoOffsetX")) tempo_x_ = value.ToInt();
  else if (NameIs(name, u"tempoOffsetY")) tempo_y_ = value.ToInt();
  else if (NameIs(name, u"tempoImage")) images_[0].name = value;
  else if (NameIs(name, u"reduceThumbnailInfo")) reduce_info_ = IsYesFlag(value) ? 1 : 0;
  else Control::LoadAttribute(name, value);
}

// ---- selection ----

const MediaFileRecord* MediaBrowser::Selected() {
  return catalogue_.selected == catalogue_.None() ? nullptr : &*catalogue_.selected;
}

int32_t MediaBrowser::GetSelectedKind() {
  const MediaFileRecord* r = Selected();
  return r ? r->kind : 0;
}

int32_t MediaBrowser::GetSelectedFileType() {
  const MediaFileRecord* r = Selected();
  return r ? r->fileType : 0;
}

ov::String MediaBrowser::GetSelectedPath() {
  const MediaFileRecord* r = Selected();
  return r ? r->Path() : ov::String();
}

int MediaBrowser::IsSelectionUsable() {
  const MediaFileRecord* r = Selected();
  return r && !r->broken ? 1 : 0;
}

bool MediaBrowser::IsFocused() {
  ui::UiHost* host = ui::Host();
  return host && host->GetFocusedSelection() == this;
}

void MediaBrowser::MakeFirstTopAndSelected() {
  catalogue_.top = catalogue_.records().begin();
  catalogue_.selected = catalogue_.FirstVisible(&catalogue_.top);
}

bool MediaBrowser::SelectPrevious() { return catalogue_.Rows().SelectPrevious(&catalogue_, std::max(columns_, 1)); }

bool MediaBrowser::SelectNext() {
  MediaCatalogue& c = catalogue_;
  bool scrolled = false;
  if (!c.Rows().SelectNext(&c, std::max(columns_, 1), &scrolled)) return false;
  if (scrolled) ++step_counter_;
  if (c.top == c.None()) c.top = c.selected;
  return true;
}

bool MediaBrowser::ScrollUp() { return catalogue_.Rows().ScrollUp(&catalogue_); }

bool MediaBrowser::ScrollDown() { return catalogue_.Rows().ScrollDown(&catalogue_, y_size_, row_pitch_); }

// ---- rebuilding and filters ----

void MediaBrowser::Rebuild(bool keep_selection) {
  MediaCatalogue& c = catalogue_;
  if (c.top != c.None() && c.selected != c.None()) {
    top_name_ = c.top->name;
    selected_name_ = c.selected->name;
  } else {
    top_name_ = selected_name_ = ov::String();
  }
  c.Rebuild();
  if (keep_selection && !selected_name_.IsEmpty() && !top_name_.IsEmpty()) {
    const MediaCatalogue::Position found = c.FindByName(nullptr, selected_name_);
    if (found != c.None()) {
      c.top = c.selected = found;
      const int32_t n = c.CountByKind(c.kind_filter());
      const int32_t r = row_pitch_ > 0 ? y_size_ / row_pitch_ : 0;
      const int32_t index = c.IndexOfVisible(found);
      if (n - r < index) c.top = c.StepVisible(c.top, -(index - std::max(n - r, 0)));
    }
  }
  UpdateScrollBar();
  UpdateMenuStates();
}

void MediaBrowser::SetSortByName(int32_t on) {
  catalogue_.set_sort_by_name(on);
  if (ui::UiHost* host = ui::Host()) {
    host->StoreOption(u"MediaBrowserSort", on ? u"1" : u"0");
    host->SaveOptionsLater();
  }
  Rebuild(false);
}

void MediaBrowser::ShowDateRange(int64_t start, int64_t end) {
  catalogue_.SetDateMode(kDateRange, start, end);
  DateFilterRefresh();
}

void MediaBrowser::UpdateKindChecks() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  for (int k = 0; k < 4; ++k) host->CheckActionItems(catalogue_.kind_filter() == k + 1, nullptr, kKindCodes[k], 1);
}

void MediaBrowser::UpdateDateChecks() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  for (int m = 0; m < 7; ++m) host->CheckActionItems(catalogue_.date_mode() == m, nullptr, kDateCodes[m], 1);
}

void MediaBrowser::SetKindFilter(int32_t kind, int32_t code) {
  (void)code;
  catalogue_.set_kind_filter(catalogue_.kind_filter() == kind ? 0 : kind);
  UpdateKindChecks();
  KindFilterRefresh();
}

void MediaBrowser::SetDateMode(int32_t mode, bool toggles) {
  catalogue_.SetDateMode(toggles && catalogue_.date_mode() == mode ? kDateAll : mode);
  DateFilterRefresh();
}

void MediaBrowser::KindFilterRefresh() {
  UpdateMenuStates();
  MakeFirstTopAndSelected();
  catalogue_.bottom = catalogue_.None();
  UpdateScrollBar();
  Refresh();
}

void MediaBrowser::DateFilterRefresh() {
  UpdateDateChecks();
  catalogue_.Recount();
  KindFilterRefresh();
}

void MediaBrowser::Refresh() {
  UpdateMenuStates();
  InvalidateScreen();
  UpdateScrollBar();
}

void MediaBrowser::InvalidateScreen() {
  if (ui::UiHost* host = ui::Host()) host->InvalidateAll();
}

void MediaBrowser::UpdateScrollBar() {
  if (!scroll_bar_ || row_pitch_ <= 0) return;
  scroll_bar_->SetScrollRange(this, catalogue_.CountByKind(catalogue_.kind_filter()),
                              catalogue_.IndexOfVisible(catalogue_.top), ScrollPage(y_size_, row_pitch_));
}

void MediaBrowser::UpdateMenuStates() {
  MediaCatalogue& c = catalogue_;
  ui::UiHost* host = ui::Host();
  // A filter that hides the selection moves it on, or back to the top.
  if (c.Rows().FollowFilter(&c, c.kind_filter() != 0)) InvalidateScreen();
  const bool any = !c.records().empty();
  if (host) {
    for (int32_t code :
         {ui::kActionBrowserPrev, ui::kActionBrowserNext, ui::kActionBrowserSortDate, ui::kActionBrowserSortName}) {
      host->EnableActionItems(any, nullptr, code, 1);
    }
  }
  for (int i = 0; i < 11; ++i) {
    if (!indicators_[i]) continue;
    const bool on = i < 4 ? c.kind_filter() == i + 1 : c.date_mode() == i - 4;
    if (indicators_[i]->IsVisible() != on) indicators_[i]->SetVisible(on);
  }
  if (!host) return;
  const bool focused = IsFocused();
  const bool has = c.selected != c.None();
  if (ui::Element* e = FindInOwnMenu(u"PreviewMenu")) e->SetEnableBit(focused && has, 31);
  if (ui::Element* e = FindInOwnMenu(u"AssignMenu")) e->SetEnableBit(!focused && has, 31);
  host->EnableActionItems(!focused, nullptr, ui::kActionChannelAdvanced, 1);
  host->EnableActionItems(!focused, nullptr, ui::kActionChannelClear, 1);
  host->EnableActionItems(focused && has && c.selected->kind == kKindAudio, nullptr, ui::kActionBrowserPreview, 1);
  host->EnableActionItems(!focused && has, nullptr, ui::kActionChannelAssign, 1);
}

ui::Element* MediaBrowser::FindInOwnMenu(const ov::String& name) {
  ui::Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  return menu ? menu->FindDescendant(name, true) : nullptr;
}

// ---- actions ----

void MediaBrowser::Initialise() {
  columns_ = 1;
  rows_ = 0;
  catalogue_.LookUpSpecialFolders();
  watch_due_ = true;
  row_pitch_ = thumb_height_ + 2 * border_;
  for (int i = 0; i < 11; ++i) indicators_[i] = FindInOwnMenu(kIndicatorNames[i]);
  ui::Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  ui::Element* icon = menu ? menu->FindByType(ui::kTypeDragIcon, true) : nullptr;
  drag_icon_ = icon ? static_cast<ui::DragIcon*>(icon) : nullptr;
  if (drag_icon_) {
    drag_x_ = drag_icon_->x();
    drag_y_ = drag_icon_->y();
  }
  if (ui::UiHost* host = ui::Host()) {
    for (int32_t code : kKindCodes) host->CheckActionItems(false, nullptr, code, 1);
    if (uint32_t* sort = host->NumericOption(kOptionMediaBrowserSort)) catalogue_.set_sort_by_name(*sort != 0 ? 1 : 0);
  }
}

void MediaBrowser::OnMenuShown() {
  // The sort order follows its option, which the settings screen sets too.
  bool resort = false;
  if (ui::UiHost* host = ui::Host()) {
    if (uint32_t* sort = host->NumericOption(kOptionMediaBrowserSort)) {
      const int32_t by_name = *sort != 0 ? 1 : 0;
      resort = by_name != catalogue_.sort_by_name();
      catalogue_.set_sort_by_name(by_name);
    }
  }
  if (resort || catalogue_.records().empty()) Rebuild(false);
  // The watches start with the first showing rather than at INITIALISE:
  // the documents folder here may be a large home folder, whose tree the
  // program need not walk until the browser is used.
  if (watch_due_) {
    watch_due_ = false;
    catalogue_.WatchFolders();
  }
  UpdateKindChecks();
}

void MediaBrowser::Preview() {
  const MediaFileRecord* r = Selected();
  ui::UiHost* host = ui::Host();
  if (!r || r->kind != kKindAudio) return;
  preview_file_ = r->Path();
  ui::Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  if (ui::Element* popup = menu ? menu->FindDescendant(u"AUDIO_PREVIEW", false) : nullptr) {
    if (host) host->OpenPopup(popup);
  }
  // An audio editor with no view and no channel plays the file; its end
  // comes back as ED_STOP through the queue.
  if (!preview_player_) preview_player_ = std::make_unique<AudioEditor>();
  preview_player_->PlayFile(preview_file_);
}

void MediaBrowser::StopPreview() {
  ui::UiHost* host = ui::Host();
  ui::Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  if (ui::Element* popup = menu ? menu->FindDescendant(u"AUDIO_PREVIEW", false) : nullptr) {
    if (host) host->ClosePopup(popup);
  }
  preview_file_ = ov::String();
  if (preview_player_) preview_player_->StopFile();
  if (host) host->DoAction(ui::kActionAfterMixerCode, ov::String(), 1);
}

int MediaBrowser::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  switch (code) {
    case ui::kActionMenuShown: {
      ui::Element* bar = FindInOwnMenu(scroll_bar_name_);
      scroll_bar_ = bar && bar->GetType() == ui::kTypeScrollBar ? static_cast<ui::ScrollBar*>(bar) : nullptr;
      OnMenuShown();
      Control::OnAction(code, argument, flag);
      if (host) {
        host->RequestHelpTip(kHelpBrowser);
        host->RequestHelpTip(kHelpBrowserKeys);
      }
      UpdateMenuStates();
      MakeFirstTopAndSelected();
      UpdateScrollBar();
      return 0;
    }
    case ui::kActionLeavingMenu:
      // A sound still playing does not follow the user out of the screen.
      if (preview_player_) preview_player_->StopFile();
      Control::OnAction(code, argument, flag);
      break;
    case ui::kActionDeactivated:
      Control::OnAction(code, argument, flag);
      break;
    case ui::kActionInitialise:
      Initialise();
      Control::OnAction(code, argument, flag);
      break;
    case ui::kActionFocusGained:
    case ui::kActionMenuCancel:
      break;
    case ui::kActionMenuOk:
      UpdateMenuStates();
      break;
    case ui::kActionBrowserPrev:
      SelectPrevious();
      break;
    case ui::kActionBrowserNext:
      SelectNext();
      break;
    case ui::kActionBrowserSortDate:
      SetSortByName(0);
      break;
    case ui::kActionBrowserSortName:
      SetSortByName(1);
      break;
    case ui::kActionBrowserPreview:
      Preview();
      break;
    case ui::kActionJumpToMix:
      if (host) host->JumpToMenu(u"mixing_menu");
      break;
    case ui::kActionBrowserOpenFileBox:
      if (host) host->JumpToMenu(u"set_location");
      break;
    case ui::kActionBrowserAddNote:
      // The notes program is the user's choice; none unless named.
      if (auto notes = ov::GetEnvironmentValue("OVMIX_NOTES"); notes && !notes->empty()) {
        ov::Process().Create(ov::String::FromUtf8Lossy(*notes), u"-v");
      }
      break;
    case ui::kActionBrowserAddCredits:
      if (host && !credits_menu_.IsEmpty()) {
        host->JumpToMenu(credits_menu_);
        host->DoAction(ui::kActionStartCredits, ov::String(), 1);
      }
      break;
    case ui::kActionScrollUp:
      ScrollUp();
      break;
    case ui::kActionScrollDown:
      ScrollDown();
      break;
    case ui::kActionEditorStop:
      StopPreview();
      break;
    case ui::kActionFilterNone:
      catalogue_.set_kind_filter(0);
      UpdateKindChecks();
      KindFilterRefresh();
      return 1;
    case ui::kActionFilterAudio:
    case ui::kActionFilterImage:
    case ui::kActionFilterVideo:
    case ui::kActionFilterProject:
      SetKindFilter(code - ui::kActionFilterAudio + 1, code);
      return 1;
    case ui::kActionShowToday:
      SetDateMode(kDateToday, true);
      return 1;
    case ui::kActionShowYesterday:
      SetDateMode(kDateYesterday, true);
      return 1;
    case ui::kActionShowDay:
      catalogue_.Recount();
      KindFilterRefresh();
      return 1;
    case ui::kActionShowLast7Days:
      SetDateMode(kDateLast7Days, true);
      return 1;
    case ui::kActionShowThisMonth:
      SetDateMode(kDateThisMonth, true);
      return 1;
    case ui::kActionShowLastMonth:
      SetDateMode(kDateLastMonth, true);
      return 1;
    case ui::kActionShowAll:
      SetDateMode(kDateAll, false);
      return 1;
    case ui::kActionSelectOk:
      // A device path from the folder browser ("\" the documents folder).
      catalogue_.set_root(ui::DevicePathToLocal(argument));
      Rebuild(false);
      break;
    default:
      return Control::OnAction(code, argument, flag);
  }
  Refresh();
  return 1;
}

bool MediaBrowser::OnDirectionKey(int32_t code) {
  return BrowserDirectionKey(
      this, code, [this] { SelectPrevious(); }, [this] { SelectNext(); }, [this] { UpdateScrollBar(); });
}

bool MediaBrowser::OnStylusDoubleTap(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  return true;
}

bool MediaBrowser::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  MediaCatalogue& c = catalogue_;
  // No rows before INITIALISE gave the row pitch.
  if (row_pitch_ <= 0 || y < y_) return true;
  const MediaCatalogue::Position hit = c.Rows().RowAt(c.top, (y - y_) / row_pitch_);
  if (hit == c.None()) return true;
  c.selected = hit;
  UpdateMenuStates();
  InvalidateScreen();
  if (hit->broken) return false;
  if (ui::UiHost* host = ui::Host()) host->SetPressedElement(this);
  return true;
}

bool MediaBrowser::OnStylusMove(int32_t x, int32_t y) {
  ui::UiHost* host = ui::Host();
  if (!drag_icon_ || !host || host->GetPressedElement() != this) return true;
  drag_icon_->SetVisible(true);
  drag_icon_->Invalidate();
  ui::Element* under = host->ElementAtPoint(x, y);
  const int32_t type = under ? under->GetType() : ui::kTypeNone;
  drag_icon_->SetDragState(type == ui::kTypeChannelSelection ? kDragOverChannel
                           : type == ui::kTypeMediaBrowser   ? kDragOverBrowser
                                                             : kDragElsewhere);
  drag_icon_->MoveX(drag_x_ + x - drag_icon_->x());
  drag_icon_->MoveY(drag_y_ + y - drag_icon_->y());
  drag_icon_->UpdateLayout();
  drag_icon_->Invalidate();
  return true;
}

bool MediaBrowser::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  if (drag_icon_) {
    drag_icon_->SetVisible(false);
    drag_icon_->Invalidate();
  }
  return false;
}

// ---- ticks and painting ----

void MediaBrowser::OnTick(gfx::Rect* area, uint32_t now) {
  (void)now;
  bool settled = false;
  if (catalogue_.PollWatch(ov::GetTickCount(), &settled)) Rebuild(true);
  if (settled) {
    UpdateLayout();
    Invalidate();
  }
  Control::OnTick(area, now);
}

void MediaBrowser::Draw(gfx::HDC dc, int state) {
  MediaCatalogue& c = catalogue_;
  complete_draw_ = 1;
  bool built = false;
  // The row that built a thumbnail is drawn; the walk stops after it.
  c.Rows().ForEachRowInView(&c, y_size_, row_pitch_, [&](MediaCatalogue::Position record, int32_t offset) {
    built = DrawRow(dc, state, &*record, offset, record == c.selected);
    if (record->kind == kKindAudio && HasTempoSideFile(record->Path())) {
      DrawStateImage(dc, x_ + tempo_x_, y_ + tempo_y_ + offset, 0, false);
    }
    return !built;
  });
  ui::UiHost* host = ui::Host();
  if (built) {
    if (host) host->InvalidateAll();
    complete_draw_ = 0;
  }
  UpdateMenuStates();
}

bool MediaBrowser::DrawRow(gfx::HDC dc, int state, MediaFileRecord* record, int32_t offset, bool selected) {
  const int32_t x = x_, y = y_ + offset;
  const int32_t right = x_ + x_size_, bottom = y_ + y_size_;
  for (ui::SkinImage* frame : {&idle_frame_, &focus_frame_}) {
    if (!frame->loaded && !frame->name.IsEmpty()) LoadSkinImage(dc, frame, frame->name, false);
  }
  bool built = false;
  if (!record->thumbnail) {
    ThumbnailSpec spec;
    spec.width = thumb_width_;
    spec.height = thumb_height_;
    if (ui::UiHost* host = ui::Host()) spec.skin_folder = host->SkinFolder();
    spec.audio_icon = audio_icon_;
    spec.project_icon = project_icon_;
    built = BuildThumbnail(record, spec);
  }
  if (selected) {
    DrawRowFrame(dc, state == ui::kDrawFocused ? focus_frame_ : idle_frame_, x, y, right - x,
                 std::min(thumb_height_ + 2 * border_, bottom - y), selected_transparent_colour_);
  }
  DrawRowThumbnail(dc, record->thumbnail, x + border_, y + border_, right, bottom);
  DrawInfoText(dc, *record, x, y);
  return built;
}

void MediaBrowser::DrawInfoText(gfx::HDC dc, const MediaFileRecord& record, int32_t x, int32_t y) {
  font_.Set(font_face_.IsEmpty() ? ov::String(u"Tahoma") : font_face_, text_height_ > 0 ? text_height_ : 12,
            antialias_);
  font_.line_size = font_.height + text_spacing_;
  gfx::Rect row{x, y, x_ + x_size_, std::min(y_ + y_size_, y + row_pitch_)};
  const int32_t text_x = x + thumb_width_ + 2 * border_;
  int32_t line_y = y + pre_text_spacing_;
  const ov::String type_name = FileTypeName(record.fileType);
  const ov::String lines_full[4] = {filename_label_, record.name, type_label_, type_name};
  const ov::String lines_short[2] = {record.name, type_name};
  const ov::String* lines = reduce_info_ ? lines_short : lines_full;
  const int count = reduce_info_ ? 2 : 4;
  for (int i = 0; i < count; ++i) {
    gfx::Rect clip = row;
    ui::DrawTextEllipsis(&font_, dc, lines[i], &clip, text_x, &line_y, idle_colour_);
  }
}

// ---- state ----

void MediaBrowser::SaveState(ov::Archive* a) {
  MediaCatalogue& c = catalogue_;
  a->WriteI32(complete_draw_);
  a->WriteI32(columns_);
  a->WriteI32(rows_);
  a->WriteI32(pre_text_spacing_);
  a->WriteString(c.root().View());
  a->WriteString(c.top != c.None() ? c.top->name.View() : std::u16string_view());
  a->WriteString(c.selected != c.None() ? c.selected->name.View() : std::u16string_view());
  a->WriteI32(reserved_);
  a->WriteI32(step_counter_);
  a->WriteI32(row_pitch_);
  a->WriteI32(c.date_mode());
  for (int k = 1; k <= 4; ++k) a->WriteI32(c.count(k));
  Control::SaveState(a);
}

void MediaBrowser::LoadState(ov::Archive* a) {
  MediaCatalogue& c = catalogue_;
  ov::String root;
  int32_t mode = kDateAll;
  int32_t counts[4] = {};
  a->ReadI32(&complete_draw_);
  a->ReadI32(&columns_);
  a->ReadI32(&rows_);
  a->ReadI32(&pre_text_spacing_);
  a->ReadString(&root);
  a->ReadString(&top_name_);
  a->ReadString(&selected_name_);
  a->ReadI32(&reserved_);
  a->ReadI32(&step_counter_);
  a->ReadI32(&row_pitch_);
  a->ReadI32(&mode);
  for (int32_t& n : counts) a->ReadI32(&n);
  if (!root.IsEmpty()) c.set_root(root);
  // A range needs its bounds, which the state does not keep: all instead.
  c.SetDateMode(mode >= kDateToday && mode < kDateRange ? mode : kDateAll);
  c.set_counts(counts);
  if (row_pitch_ < 0) row_pitch_ = 0;
  Control::LoadState(a);
}

}  // namespace screens
